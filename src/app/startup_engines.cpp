#include "app/startup_engines.h"

#include "app/healthreport.h"

#include "core/configfile.h"
#include "core/language.h"
#include "core/log.h"
#include "core/startup.h"
#include "device/mediacontext.h"
#include "platform/locale.h"
#include "protocol/engcmd.h"
#include "protocol/engoffcmd.h"
#include "protocol/mscmd.h"

int LoadSettingsAndLanguage()
{
    CConfigFileManager* pConfig = GetConfigFileManager();
    g_nDebugLevel = pConfig->GetDebugLevel();
    VLOG(3, "StartupEngines::LoadSettingsAndLanguage: beg {");

    CLanguageManager* pLanguage = GetLanguageManager();
    const int nLanguageID = ChooseStartupLanguage(*pConfig, *pLanguage, GetUserDefaultLangID());
    pLanguage->LoadLanguage(nLanguageID);
    VLOG(3, "StartupEngines::LoadSettingsAndLanguage: end } nLanguageID:%d", nLanguageID);
    return nLanguageID;
}

void StartEngines()
{
    VLOG(3, "StartupEngines::StartEngines: beg {");
    GetEngCmd()->Init();
    CEngOffCmd::GetInstance()->Init();
    // Rides on the viewer engine and becomes its record-time sink.
    CMSCmd::GetInstance();
    // The media engine exists from start-up; the video pane (or a command) gives it its sink.
    CEngMedia::GetInstance();
    RegisterDeviceMediaContext();
    GetConfigCameraType();
    GetConfigFileDServer();
    StartHealthReport();
    StartHeapReturn();
    VLOG(3, "StartupEngines::StartEngines: end }");
}
