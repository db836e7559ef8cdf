#include "platform/locale.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

constexpr LANGID LANGID_ENGLISH_US = 1033;

struct LangEntry {
    const char* pszLanguage;
    const char* pszTerritory; // "" = the language's main id
    LANGID id;
};

// Chinese regions map onto the two Chinese tables the program ships: simplified (2052)
// for the mainland and Singapore, traditional (1028) for Taiwan, Hong Kong and Macao.
constexpr LangEntry kLangTable[] = {
    {"zh", "", 2052},   {"zh", "cn", 2052},  {"zh", "sg", 2052},   {"zh", "hans", 2052}, {"zh", "tw", 1028},
    {"zh", "hk", 1028}, {"zh", "mo", 1028},  {"zh", "hant", 1028}, {"en", "", 1033},     {"en", "us", 1033},
    {"en", "gb", 2057}, {"en", "au", 3081},  {"en", "ca", 4105},   {"en", "nz", 5129},   {"en", "ie", 6153},
    {"en", "za", 7177}, {"en", "in", 16393}, {"en", "sg", 18441},  {"de", "", 1031},     {"de", "de", 1031},
    {"de", "ch", 2055}, {"de", "at", 3079},  {"fr", "", 1036},     {"fr", "fr", 1036},   {"fr", "be", 2060},
    {"fr", "ca", 3084}, {"fr", "ch", 4108},  {"ja", "", 1041},     {"ko", "", 1042},     {"it", "", 1040},
    {"es", "", 3082},   {"es", "mx", 2058},  {"pt", "", 2070},     {"pt", "br", 1046},   {"ru", "", 1049},
    {"nl", "", 1043},   {"pl", "", 1045},    {"sv", "", 1053},     {"tr", "", 1055},     {"ar", "", 1025},
    {"he", "", 1037},   {"th", "", 1054},    {"vi", "", 1066},     {"cs", "", 1029},     {"da", "", 1030},
    {"fi", "", 1035},   {"el", "", 1032},    {"hu", "", 1038},     {"nb", "", 1044},     {"uk", "", 1058},
    {"id", "", 1057},
};

std::string Lower(std::string str)
{
    std::transform(str.begin(), str.end(), str.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return str;
}

} // namespace

LANGID LangIdFromLocaleName(const std::string& strLocale)
{
    // language[_territory][.codeset][@modifier]; BCP 47 "zh-TW" and a script part
    // ("zh_Hant_TW") are accepted as well.
    std::string strName = Lower(strLocale.substr(0, strLocale.find_first_of(".@")));
    std::replace(strName.begin(), strName.end(), '-', '_');

    const std::size_t nSep = strName.find('_');
    const std::string strLanguage = strName.substr(0, nSep);
    std::string strTerritory;
    std::string strScript;
    if (nSep != std::string::npos) {
        std::string strRest = strName.substr(nSep + 1);
        const std::size_t nSep2 = strRest.find('_');
        std::string strFirst = strRest.substr(0, nSep2);
        if (strFirst.size() == 4) {
            strScript = strFirst;
            if (nSep2 != std::string::npos)
                strTerritory = strRest.substr(nSep2 + 1);
        } else {
            strTerritory = strFirst;
        }
    }

    const LangEntry* pMain = nullptr;
    const LangEntry* pScript = nullptr;
    for (const LangEntry& entry : kLangTable) {
        if (strLanguage != entry.pszLanguage)
            continue;
        if (!strTerritory.empty() && strTerritory == entry.pszTerritory)
            return entry.id;
        if (!strScript.empty() && strScript == entry.pszTerritory)
            pScript = &entry;
        if (*entry.pszTerritory == '\0')
            pMain = &entry;
    }
    if (pScript != nullptr)
        return pScript->id;
    if (pMain != nullptr)
        return pMain->id;
    // "C", "POSIX" and languages we have no id for.
    return LANGID_ENGLISH_US;
}

LANGID GetUserDefaultLangID()
{
    for (const char* pszVar : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* pszValue = std::getenv(pszVar);
        if (pszValue != nullptr && *pszValue != '\0')
            return LangIdFromLocaleName(pszValue);
    }
    return LANGID_ENGLISH_US;
}
