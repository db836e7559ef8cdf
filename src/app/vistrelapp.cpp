#include "app/vistrelapp.h"

#include "core/configfile.h"
#include "core/language.h"
#include "core/log.h"
#include "core/startup.h"
#include "core/stringids.h"
#include "platform/locale.h"
#include "ui/messagedialog.h"
#include "ui/placeholdermainwindow.h"

CVistrelApp::CVistrelApp()
{
    // The media graph and the decoder filter are in-process components; once they exist,
    // their component runtime is initialised here for the main thread.
}

CVistrelApp::~CVistrelApp() = default;

bool CVistrelApp::TakeInstanceLock()
{
    DWORD dwError = 0;
    m_hMutex = CreateNamedMutex(VISTREL_MUTEX_NAME, &dwError);
    // The handle stays open for the life of the process.
    return m_hMutex != nullptr && dwError != ERROR_ALREADY_EXISTS;
}

int CVistrelApp::InitInstance()
{
    // Step 2: settings; the log level is copied once.
    CConfigFileManager* pConfig = GetConfigFileManager();
    g_nDebugLevel = pConfig->GetDebugLevel();
    VLOG(3, "CVistrelApp::InitInstance: beg {");

    // Step 3: nothing to start for sockets on this platform.

    // Steps 4 and 5: language.
    CLanguageManager* pLanguage = GetLanguageManager();
    const int nLanguageID = ChooseStartupLanguage(*pConfig, *pLanguage, GetUserDefaultLangID());
    pLanguage->LoadLanguage(nLanguageID);

    try {
        // Step 6: the viewer command engine is created and started here (sockets and
        // multicast groups) once the viewer protocol exists.
        // Step 7: the LAN command engine is created and started here once the LAN
        // protocol exists.

        // Step 8: camera model table and D-server list.
        GetConfigCameraType();
        GetConfigFileDServer();

        // Step 9: the main window runs modally.
        {
            CPlaceholderMainWindow mainWindow;
            mainWindow.exec();
        }
    } catch (const CExceptionBase& e) {
        VLOG(1, "CVistrelApp::InitInstance: catch CExceptionBase");
        CMessageDialog dlg(e.GetText());
        dlg.exec();
    } catch (...) {
        VLOG(1, "CVistrelApp::InitInstance: catch(...)");
        CMessageDialog dlg(GetLanguageManager()->GetString(IDS_EXCEPTION));
        dlg.exec();
    }

    // Step 10: the language manager goes first, explicitly; the other singletons die at
    // process exit in reverse order of creation.
    VLOG(3, "CVistrelApp::InitInstance: end }");
    DeleteLanguageManager();
    return 0;
}
