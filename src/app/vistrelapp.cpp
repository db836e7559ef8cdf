#include "app/vistrelapp.h"

#include "app/startup_engines.h"
#include "core/configfile.h"
#include "core/language.h"
#include "core/log.h"
#include "core/stringids.h"
#include "device/idownloadmanager.h"
#include "download/downloadmanager.h"
#include "platform/msgwindow.h"
#include "ui/main/dlglanguage.h"
#include "ui/main/dlgmain.h"
#include "ui/messagedialog.h"

#include <QApplication>
#include <QWidget>

namespace {

// The first exception that escaped a timer or a posted message while the main window ran.
std::exception_ptr g_pendingException;

// A fatal check in a timer or a posted message cannot unwind through the event loop: keep it,
// close the windows so the modal run returns, and let start-up's handlers show it.
void OnWndProcException(std::exception_ptr pException)
{
    // Later ones (timers still run while the message is shown) change nothing.
    if (g_pendingException)
        return;
    g_pendingException = pException;
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (pWidget->isVisible())
            pWidget->close();
    }
}

} // namespace

CVistrelApp::CVistrelApp()
{
    // The media graph and the decoder filter are in-process components; once they exist,
    // their component runtime is initialised here for the main thread.
}

CVistrelApp::~CVistrelApp()
{
    // The lock goes with the process; closing it says so to the leak checker too.
    if (m_hMutex != nullptr)
        CloseNamedMutex(m_hMutex);
}

bool CVistrelApp::TakeInstanceLock()
{
    DWORD dwError = 0;
    m_hMutex = CreateNamedMutex(VISTREL_MUTEX_NAME, &dwError);
    // The handle stays open for the life of the process.
    return m_hMutex != nullptr && dwError != ERROR_ALREADY_EXISTS;
}

int CVistrelApp::InitInstance()
{
    // Steps 2, 4 and 5: settings and log level, then the language. Step 3 (sockets and
    // controls) has nothing to start on this platform.
    LoadSettingsAndLanguage();
    VLOG(3, "CVistrelApp::InitInstance: beg {");

    SetWndProcExceptionHandler(&OnWndProcException);
    try {
        // Steps 6 to 8: viewer, LAN and record-time engines, camera model table, D-servers.
        StartEngines();
        SetDownloadRecordManager(CDownloadRecordManager::GetInstance());

        // Unless the user asked not to see it, the language is offered before the window opens.
        if (GetConfigFileManager()->IsShowDialogue()) {
            CDlgLanguage dlgLanguage;
            dlgLanguage.exec();
        }
        // Step 9: the main window runs modally; it creates the device manager and starts
        // the search.
        {
            CDlgMain mainWindow;
            mainWindow.exec();
        }
        if (g_pendingException)
            std::rethrow_exception(g_pendingException);
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
