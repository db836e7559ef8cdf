#include "core/startup.h"

#include "core/configfile.h"
#include "core/language.h"
#include "core/log.h"

int ChooseStartupLanguage(CConfigFileManager& config, const CLanguageManager& language,
                          int nUserDefaultLanguageID)
{
    const int nConfigured = config.GetLanguageID();
    VLOG(3, "ChooseStartupLanguage: beg { nConfigured:%d, nUserDefault:%d", nConfigured,
         nUserDefaultLanguageID);
    if (language.IsLanguageSupported(nConfigured)) {
        VLOG(3, "ChooseStartupLanguage: end } configured %d", nConfigured);
        return nConfigured;
    }
    int nChosen = nUserDefaultLanguageID;
    if (!language.IsLanguageSupported(nChosen))
        nChosen = 9;
    config.SetLanguageID(nChosen);
    VLOG(3, "ChooseStartupLanguage: end } fallback %d", nChosen);
    return nChosen;
}
