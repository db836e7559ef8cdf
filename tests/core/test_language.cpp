#include "core/language.h"
#include "core/stringids.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// A text table as stored: byte-order mark, then UTF-16LE.
std::vector<BYTE> Utf16Table(const std::u16string& strText, bool bBom = true)
{
    std::vector<BYTE> data;
    if (bBom) {
        data.push_back(0xFF);
        data.push_back(0xFE);
    }
    for (char16_t ch : strText) {
        data.push_back(static_cast<BYTE>(ch & 0xFF));
        data.push_back(static_cast<BYTE>(ch >> 8));
    }
    return data;
}

std::map<DWORD, std::u16string> Parse(const std::u16string& strText, bool bBom = true)
{
    const std::vector<BYTE> data = Utf16Table(strText, bBom);
    std::map<DWORD, std::u16string> map;
    ParseLanguageTable(data, map);
    return map;
}

// Serves crafted tables by resource number and counts how often each is read.
struct FakeResources {
    std::map<int, std::vector<BYTE>> mapData;
    std::map<int, int> mapLoads;

    CLanguageManager::ResourceLoader Loader()
    {
        return [this](int nResourceID) -> std::span<const BYTE> {
            ++mapLoads[nResourceID];
            const auto it = mapData.find(nResourceID);
            if (it == mapData.end())
                return {};
            return it->second;
        };
    }
};

FakeResources ThreeTables()
{
    FakeResources res;
    res.mapData[LANGUAGE_RESOURCE_ENGLISH] =
        Utf16Table(u"IDS_BTN_SAVE Save\r\nIDS_BTN_STOP Stop\r\nIDS_EXCEPTION Error\r\n");
    res.mapData[LANGUAGE_RESOURCE_CHINESE_SIMPLIFIED] = Utf16Table(u"IDS_BTN_SAVE 保存\r\n");
    res.mapData[LANGUAGE_RESOURCE_CHINESE_TRADITIONAL] = Utf16Table(u"IDS_BTN_SAVE 儲存\r\n");
    return res;
}

// Number of lines of a built-in table that begin with a key.
std::size_t KeyLines(int nResourceID)
{
    const std::span<const BYTE> data = FindLanguageResource(nResourceID);
    std::size_t nLines = 0;
    bool bLineStart = true;
    const std::size_t nBegin = data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE ? 2 : 0;
    for (std::size_t i = nBegin; i + 7 < data.size(); i += 2) {
        if (bLineStart && data[i] == 'I' && data[i + 2] == 'D' && data[i + 4] == 'S' && data[i + 6] == '_')
            ++nLines;
        bLineStart = data[i] == '\n' && data[i + 1] == 0;
    }
    return nLines;
}

} // namespace

TEST(LanguageKeyTable, SizeRangeAndFixedIds)
{
    const std::span<const LanguageKey> keys = GetLanguageKeys();
    // The camera family's table has 1091 keys; the client's own texts come on top.
    ASSERT_GE(keys.size(), 1091u);

    std::map<std::string, DWORD> mapByName;
    std::map<DWORD, std::set<std::string>> mapNamesById;
    for (const LanguageKey& key : keys) {
        EXPECT_GE(key.dwStringID, 2107u) << key.pszName;
        EXPECT_LE(key.dwStringID, 7599u) << key.pszName;
        const auto [it, bNew] = mapByName.emplace(key.pszName, key.dwStringID);
        // A repeated name must repeat its id too.
        EXPECT_EQ(it->second, key.dwStringID) << key.pszName;
        mapNamesById[key.dwStringID].insert(key.pszName);
    }
    EXPECT_EQ(mapByName.size(), 1089u + (keys.size() - 1091u));

    // Only 6869 is shared by two names.
    for (const auto& [dwID, setNames] : mapNamesById) {
        if (dwID == 6869)
            EXPECT_EQ(setNames, (std::set<std::string>{"IDS_ERR_CANNOT_CHOOSE_PATH", "IDS_ST_IPCONTRAST"}));
        else
            EXPECT_EQ(setNames.size(), 1u) << dwID;
    }

    const std::map<std::string, DWORD> mapFixed = {{"IDS_EXCEPTION", 7465},
                                                   {"IDS_LANGUAGE_ENGLISH", 7520},
                                                   {"IDS_LANGUAGE_CHINESE_SIP", 7521},
                                                   {"IDS_LANGUAGE_CHINESE_TRA", 7522},
                                                   {"IDS_MSG_PORTINFO", 7004},
                                                   {"IDS_ST_IPCONTRAST", 6869},
                                                   {"IDS_ERR_CANNOT_CHOOSE_PATH", 6869},
                                                   {"IDS_BTN_PLAYBACK", 6884},
                                                   {"IDS_BTN_ENDPLAYBACK", 6941},
                                                   {"IDS_WAITFORPLAY", 2107},
                                                   {"IDS_CTL_CONNECTING", 2400}};
    for (const auto& [strName, dwID] : mapFixed)
        EXPECT_EQ(mapByName[strName], dwID) << strName;

    int nPlayback = 0;
    int nEndPlayback = 0;
    for (const LanguageKey& key : keys) {
        nPlayback += std::string(key.pszName) == "IDS_BTN_PLAYBACK";
        nEndPlayback += std::string(key.pszName) == "IDS_BTN_ENDPLAYBACK";
    }
    EXPECT_EQ(nPlayback, 2);
    EXPECT_EQ(nEndPlayback, 2);

    // The generated constants are the table's ids.
    static_assert(IDS_EXCEPTION == 7465 && IDS_ST_IPCONTRAST == 6869 && IDS_ERR_CANNOT_CHOOSE_PATH == 6869);
    EXPECT_EQ(mapByName["IDS_UDP_PORT_BIND_ERROR"], IDS_UDP_PORT_BIND_ERROR);
    EXPECT_EQ(mapByName["IDS_BLCMODE_0"], IDS_BLCMODE_0);
}

TEST(LanguageParse, LineFormat)
{
    const auto map = Parse(u"IDS_BTN_SAVE \t  Save it  \r\n"
                           u"\r\n"
                           u"IDS_BTN_STOP\r\n"
                           u"IDS_BTN_STOPALL \t \r\n"
                           u"IDS_NO_SUCH_KEY Ignored\r\n"
                           u"IDS_BTN_PLAY\tPlay\r\n"
                           u"IDS_BTN_PAUSE Pause");
    // Blanks before the text are skipped, trailing ones stay.
    EXPECT_EQ(map.at(IDS_BTN_SAVE), u"Save it  ");
    EXPECT_EQ(map.at(IDS_BTN_PLAY), u"Play");
    // The last line needs no line end.
    EXPECT_EQ(map.at(IDS_BTN_PAUSE), u"Pause");
    // A key alone or with blanks only has no text; unknown keys are ignored.
    EXPECT_EQ(map.count(IDS_BTN_STOP), 0u);
    EXPECT_EQ(map.count(IDS_BTN_STOPALL), 0u);
    EXPECT_EQ(map.size(), 3u);
}

TEST(LanguageParse, BackslashNBecomesLineBreak)
{
    const auto map = Parse(u"IDS_UDP_PORT_BIND_ERROR Port %d busy\\n\\n Close it\r\n"
                           u"IDS_BTN_SAVE a\\b\\\r\n");
    EXPECT_EQ(map.at(IDS_UDP_PORT_BIND_ERROR), u"Port %d busy\r\n\r\n Close it");
    // Any other backslash stays as it is, also at the end of a line.
    EXPECT_EQ(map.at(IDS_BTN_SAVE), u"a\\b\\");
}

TEST(LanguageParse, FirstLineForAnIdWins)
{
    const auto mapIp = Parse(u"IDS_ST_IPCONTRAST IP conflict\r\nIDS_ERR_CANNOT_CHOOSE_PATH Bad folder\r\n");
    EXPECT_EQ(mapIp.at(6869), u"IP conflict");
    const auto mapPath = Parse(u"IDS_ERR_CANNOT_CHOOSE_PATH Bad folder\r\nIDS_ST_IPCONTRAST IP conflict\r\n");
    EXPECT_EQ(mapPath.at(6869), u"Bad folder");
    // Also for one name given twice.
    const auto mapTwice = Parse(u"IDS_BTN_SAVE First\r\nIDS_BTN_SAVE Second\r\n");
    EXPECT_EQ(mapTwice.at(IDS_BTN_SAVE), u"First");
}

TEST(LanguageParse, ByteOrderMarkLineEndsAndBadInput)
{
    // Without a byte-order mark, and with LF-only line ends.
    auto map = Parse(u"IDS_BTN_SAVE Save\nIDS_BTN_STOP Stop\n", false);
    EXPECT_EQ(map.at(IDS_BTN_SAVE), u"Save");
    EXPECT_EQ(map.at(IDS_BTN_STOP), u"Stop");

    // A byte-order mark on a line of its own is skipped like any empty line.
    map = Parse(u"\r\nIDS_BTN_SAVE Save\r\n");
    EXPECT_EQ(map.at(IDS_BTN_SAVE), u"Save");

    // A key with non-ASCII characters matches nothing.
    map = Parse(u"IDS_BTN_SAVÉ Save\r\n");
    EXPECT_TRUE(map.empty());

    // A dangling odd byte is not read as half a character.
    std::vector<BYTE> data = Utf16Table(u"IDS_BTN_SAVE Save");
    data.push_back('x');
    map.clear();
    EXPECT_EQ(ParseLanguageTable(data, map), 1u);
    EXPECT_EQ(map.at(IDS_BTN_SAVE), u"Save");

    map.clear();
    EXPECT_EQ(ParseLanguageTable({}, map), 0u);
}

TEST(LanguageParse, OverlongLinesAreDropped)
{
    const std::u16string strKey = u"IDS_BTN_SAVE ";
    const std::u16string strFits(MAX_LANGUAGE_LINE - strKey.size(), u'a');
    const std::u16string strTooLong(MAX_LANGUAGE_LINE + 1 - strKey.size(), u'b');
    auto map = Parse(strKey + strFits + u"\r\n");
    EXPECT_EQ(map.at(IDS_BTN_SAVE), strFits);

    // The long line goes whole; the next line for the id is used instead.
    map = Parse(strKey + strTooLong + u"\r\nIDS_BTN_SAVE Short\r\nIDS_BTN_STOP Stop\r\n");
    EXPECT_EQ(map.at(IDS_BTN_SAVE), u"Short");
    EXPECT_EQ(map.at(IDS_BTN_STOP), u"Stop");
}

TEST(LanguageManager, LoadingAndFallback)
{
    FakeResources res = ThreeTables();
    CLanguageManager manager(res.Loader());
    EXPECT_EQ(manager.GetCurrentLanguage(), 9);

    manager.LoadLanguage(2052);
    EXPECT_EQ(manager.GetCurrentLanguage(), 2052);
    EXPECT_EQ(manager.GetString(IDS_BTN_SAVE), u"保存");
    // Missing in Chinese: the English text.
    EXPECT_EQ(manager.GetString(IDS_BTN_STOP), u"Stop");
    // Missing everywhere: an empty text.
    EXPECT_TRUE(manager.GetString(IDS_ST_SAVEPATH).empty());
    EXPECT_TRUE(manager.GetString(1).empty());
    EXPECT_EQ(res.mapLoads[LANGUAGE_RESOURCE_CHINESE_SIMPLIFIED], 1);
    EXPECT_EQ(res.mapLoads[LANGUAGE_RESOURCE_ENGLISH], 1);

    // The same language again reads nothing; English is read once only.
    manager.LoadLanguage(2052);
    EXPECT_EQ(res.mapLoads[LANGUAGE_RESOURCE_CHINESE_SIMPLIFIED], 1);
    EXPECT_EQ(res.mapLoads[LANGUAGE_RESOURCE_ENGLISH], 1);
    EXPECT_EQ(manager.GetString(IDS_BTN_SAVE), u"保存");

    // English empties the current table.
    manager.LoadLanguage(9);
    EXPECT_EQ(manager.GetCurrentLanguage(), 9);
    EXPECT_EQ(manager.GetString(IDS_BTN_SAVE), u"Save");

    manager.LoadLanguage(1028);
    EXPECT_EQ(manager.GetString(IDS_BTN_SAVE), u"儲存");
    EXPECT_EQ(res.mapLoads[LANGUAGE_RESOURCE_CHINESE_TRADITIONAL], 1);

    // A regional English id (low byte 9) is English.
    manager.LoadLanguage(1033);
    EXPECT_EQ(manager.GetCurrentLanguage(), 9);
    EXPECT_EQ(manager.GetString(IDS_BTN_SAVE), u"Save");
    EXPECT_EQ(res.mapLoads[LANGUAGE_RESOURCE_ENGLISH], 1);
}

TEST(LanguageManager, MissingTablesFallBack)
{
    FakeResources res = ThreeTables();
    res.mapData.erase(LANGUAGE_RESOURCE_CHINESE_TRADITIONAL);
    CLanguageManager manager(res.Loader());
    manager.LoadLanguage(1028);
    EXPECT_EQ(manager.GetCurrentLanguage(), 1028);
    EXPECT_EQ(manager.GetString(IDS_EXCEPTION), u"Error");

    // Without an English table every text is empty, and English is tried again next time.
    FakeResources none;
    CLanguageManager bare(none.Loader());
    bare.LoadLanguage(9);
    EXPECT_TRUE(bare.GetString(IDS_EXCEPTION).empty());
    bare.LoadLanguage(9);
    EXPECT_EQ(none.mapLoads[LANGUAGE_RESOURCE_ENGLISH], 2);
}

TEST(LanguageManager, SupportedLanguages)
{
    CLanguageManager manager;
    EXPECT_TRUE(manager.IsLanguageSupported(9));
    EXPECT_TRUE(manager.IsLanguageSupported(1028));
    EXPECT_TRUE(manager.IsLanguageSupported(2052));
    EXPECT_FALSE(manager.IsLanguageSupported(1033));
    EXPECT_FALSE(manager.IsLanguageSupported(4));
    EXPECT_FALSE(manager.IsLanguageSupported(0));
}

TEST(LanguageManager, SingletonAndFolder)
{
    setenv("VISTREL_HOME", "/opt/vistrel/bin/", 1);
    CLanguageManager* pManager = GetLanguageManager();
    ASSERT_NE(pManager, nullptr);
    EXPECT_EQ(GetLanguageManager(), pManager);
    EXPECT_EQ(pManager->GetLanguageFolder(), "/opt/vistrel/lang/Setup");
    pManager->LoadLanguage(2052);
    DeleteLanguageManager();

    // A new instance starts over in English.
    CLanguageManager* pAgain = GetLanguageManager();
    ASSERT_NE(pAgain, nullptr);
    EXPECT_EQ(pAgain->GetCurrentLanguage(), 9);
    DeleteLanguageManager();
    unsetenv("VISTREL_HOME");
}

TEST(LanguageBuiltIn, EnglishTable)
{
    CLanguageManager manager;
    manager.LoadLanguage(9);
    EXPECT_EQ(manager.GetString(IDS_EXCEPTION), u"Error, Please Contact Tech Support!");
    EXPECT_EQ(manager.GetString(IDS_UDP_PORT_BIND_ERROR),
              u"UDP Port %d Occupied by Other Software\r\n\r\n Please Close the Software first!");
    EXPECT_EQ(manager.GetString(IDS_LANGUAGE_ENGLISH), u"English");
    EXPECT_EQ(manager.GetString(IDS_LANGUAGE_CHINESE_SIP), u"Chinese Simplified");
    EXPECT_EQ(manager.GetString(IDS_LANGUAGE_CHINESE_TRA), u"Chinese Traditional");
    EXPECT_EQ(manager.GetString(IDS_MSG_PORTINFO), u"App port:");
    EXPECT_EQ(manager.GetString(IDS_ST_IPCONTRAST), u"IP conflict");
    EXPECT_EQ(manager.GetString(IDS_BTN_PLAYBACK), u"Start playback");
    EXPECT_EQ(manager.GetString(IDS_BTN_ENDPLAYBACK), u"Stop playback");
    EXPECT_EQ(manager.GetString(IDS_UPDATE_NORESPOND1), u"Decoder doesn't response");

    // Every key has an English text, except the one the table leaves out on purpose; and
    // every line names a known key (one id is named twice).
    for (const LanguageKey& key : GetLanguageKeys()) {
        if (key.dwStringID == IDS_ST_SAVEPATH)
            EXPECT_TRUE(manager.GetString(key.dwStringID).empty());
        else
            EXPECT_FALSE(manager.GetString(key.dwStringID).empty()) << key.pszName;
    }
    std::map<DWORD, std::u16string> map;
    EXPECT_EQ(ParseLanguageTable(FindLanguageResource(LANGUAGE_RESOURCE_ENGLISH), map) + 1,
              KeyLines(LANGUAGE_RESOURCE_ENGLISH));
}

TEST(LanguageBuiltIn, ChineseTables)
{
    CLanguageManager manager;
    manager.LoadLanguage(1028);
    const std::u16string strTraditional = manager.GetString(IDS_EXCEPTION);
    EXPECT_FALSE(strTraditional.empty());
    EXPECT_NE(strTraditional, u"Error, Please Contact Tech Support!");
    EXPECT_EQ(manager.GetString(IDS_LANGUAGE_CHINESE_TRA), u"繁體中文");
    EXPECT_TRUE(manager.GetString(IDS_ST_SAVEPATH).empty());

    manager.LoadLanguage(2052);
    EXPECT_NE(manager.GetString(IDS_EXCEPTION), strTraditional);
    EXPECT_EQ(manager.GetString(IDS_LANGUAGE_CHINESE_SIP), u"简体中文");
    EXPECT_TRUE(manager.GetString(IDS_ST_SAVEPATH).empty());

    // Every line of both tables names a known key, and each id once.
    for (int nResource : {LANGUAGE_RESOURCE_CHINESE_SIMPLIFIED, LANGUAGE_RESOURCE_CHINESE_TRADITIONAL}) {
        std::map<DWORD, std::u16string> map;
        EXPECT_EQ(ParseLanguageTable(FindLanguageResource(nResource), map), KeyLines(nResource)) << nResource;
        for (DWORD dwID :
             {IDS_EXCEPTION, IDS_LANGUAGE_ENGLISH, IDS_MSG_PORTINFO, IDS_ST_IPCONTRAST, IDS_BTN_PLAYBACK,
              IDS_BTN_ENDPLAYBACK, IDS_UDP_PORT_BIND_ERROR, IDS_CTLTIP_OK, IDS_CTLTIP_CANCEL, IDS_BTN_SAVE})
            EXPECT_EQ(map.count(dwID), 1u) << nResource << " " << dwID;
    }
}
