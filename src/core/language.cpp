#include "core/language.h"

#include "core/log.h"
#include "platform/module.h"

#include <new>
#include <string_view>
#include <unordered_map>

namespace {

bool s_bLanguageManagerCreated = false;
CLanguageManager* s_pLanguageManager = nullptr;

const std::u16string s_strEmpty;

// Name -> id; the first entry with a name wins, as the table is searched in order.
const std::unordered_map<std::string_view, DWORD>& KeyIndex()
{
    static const std::unordered_map<std::string_view, DWORD> mapIndex = [] {
        std::unordered_map<std::string_view, DWORD> map;
        for (const LanguageKey& key : GetLanguageKeys())
            map.emplace(key.pszName, key.dwStringID);
        return map;
    }();
    return mapIndex;
}

bool FindKey(std::u16string_view strKey, DWORD& dwStringID)
{
    std::string strName;
    strName.reserve(strKey.size());
    for (char16_t ch : strKey) {
        if (ch > 0x7F)
            return false; // key names are ASCII
        strName.push_back(static_cast<char>(ch));
    }
    const auto& mapIndex = KeyIndex();
    const auto it = mapIndex.find(strName);
    if (it == mapIndex.end())
        return false;
    dwStringID = it->second;
    return true;
}

bool IsBlank(char16_t ch)
{
    return ch == u' ' || ch == u'\t';
}

// "\n" (backslash, n) stands for a line break in the tables.
std::u16string ExpandLineBreaks(std::u16string_view strText)
{
    std::u16string strOut;
    strOut.reserve(strText.size());
    for (std::size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == u'\\' && i + 1 < strText.size() && strText[i + 1] == u'n') {
            strOut += u"\r\n";
            ++i;
        } else {
            strOut.push_back(strText[i]);
        }
    }
    return strOut;
}

// Parent of the program folder + "lang/Setup".
std::string LanguageFolder()
{
    std::string strFolder = GetProgramFolder();
    while (!strFolder.empty() && strFolder.back() == '/')
        strFolder.pop_back();
    const std::size_t nSlash = strFolder.rfind('/');
    strFolder = nSlash == std::string::npos ? std::string() : strFolder.substr(0, nSlash + 1);
    return strFolder + "lang/Setup";
}

} // namespace

std::size_t ParseLanguageTable(std::span<const BYTE> data, std::map<DWORD, std::u16string>& mapTable)
{
    // A trailing odd byte cannot be a UTF-16 unit and is left out.
    std::u16string strAll(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < strAll.size(); ++i)
        strAll[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));

    std::u16string_view strText(strAll);
    if (!strText.empty() && strText.front() == 0xFEFF)
        strText.remove_prefix(1);

    std::size_t nAdded = 0;
    std::size_t nLine = 0;
    while (!strText.empty()) {
        ++nLine;
        const std::size_t nEnd = strText.find(u'\n');
        std::u16string_view strLine = strText.substr(0, nEnd);
        strText.remove_prefix(nEnd == std::u16string_view::npos ? strText.size() : nEnd + 1);
        if (!strLine.empty() && strLine.back() == u'\r')
            strLine.remove_suffix(1);

        // Overlong lines are dropped whole: half a message is worse than the English one.
        if (strLine.size() > MAX_LANGUAGE_LINE) {
            VLOG(2, "ParseLanguageTable: line %zu has %zu characters, dropped", nLine, strLine.size());
            continue;
        }

        std::size_t nKeyEnd = 0;
        while (nKeyEnd < strLine.size() && !IsBlank(strLine[nKeyEnd]))
            ++nKeyEnd;
        std::size_t nTextBegin = nKeyEnd;
        while (nTextBegin < strLine.size() && IsBlank(strLine[nTextBegin]))
            ++nTextBegin;
        if (nKeyEnd == 0 || nTextBegin >= strLine.size())
            continue;

        DWORD dwStringID = 0;
        if (!FindKey(strLine.substr(0, nKeyEnd), dwStringID))
            continue;
        if (mapTable.count(dwStringID) != 0)
            continue;
        mapTable.emplace(dwStringID, ExpandLineBreaks(strLine.substr(nTextBegin)));
        ++nAdded;
    }
    return nAdded;
}

CLanguageManager::CLanguageManager() : CLanguageManager(FindLanguageResource) {}

CLanguageManager::CLanguageManager(ResourceLoader loader)
    : m_strLanguageFolder(LanguageFolder()), m_fnLoader(std::move(loader))
{
}

CLanguageManager::~CLanguageManager() = default;

bool CLanguageManager::IsLanguageSupported(int nLanguageID) const
{
    return nLanguageID == 9 || nLanguageID == 1028 || nLanguageID == 2052;
}

void CLanguageManager::LoadLanguage(int nLanguageID)
{
    VLOG(3, "CLanguageManager::LoadLanguage: beg { nLanguageID:%d, m_nLanguageID:%d", nLanguageID,
         m_nLanguageID);
    if (nLanguageID == 9 || (nLanguageID & 0xFF) == 9) {
        // English texts come from the English table alone.
        m_nLanguageID = 9;
        m_mapCurrent.clear();
    } else if (nLanguageID != m_nLanguageID) {
        m_nLanguageID = nLanguageID;
        m_mapCurrent.clear();
        FillTable(nLanguageID == 2052 ? LANGUAGE_RESOURCE_CHINESE_SIMPLIFIED
                                      : LANGUAGE_RESOURCE_CHINESE_TRADITIONAL,
                  m_mapCurrent);
    }
    if (m_mapEnglish.empty())
        FillTable(LANGUAGE_RESOURCE_ENGLISH, m_mapEnglish);
    VLOG(3, "CLanguageManager::LoadLanguage: end } current:%zu, english:%zu", m_mapCurrent.size(),
         m_mapEnglish.size());
}

const std::u16string& CLanguageManager::GetString(DWORD dwStringID) const
{
    auto it = m_mapCurrent.find(dwStringID);
    if (it != m_mapCurrent.end())
        return it->second;
    it = m_mapEnglish.find(dwStringID);
    if (it != m_mapEnglish.end())
        return it->second;
    return s_strEmpty;
}

DWORD CLanguageManager::FindStringID(const std::u16string& strText) const
{
    for (const auto* pTable : {&m_mapCurrent, &m_mapEnglish}) {
        for (const auto& [dwID, strValue] : *pTable) {
            if (strValue == strText)
                return dwID;
        }
    }
    return 0;
}

void CLanguageManager::FillTable(int nResourceID, std::map<DWORD, std::u16string>& mapTable) const
{
    // A missing table leaves the map empty; the English fallback then supplies the texts.
    const std::span<const BYTE> data = m_fnLoader ? m_fnLoader(nResourceID) : std::span<const BYTE>();
    const std::size_t nAdded = ParseLanguageTable(data, mapTable);
    VLOG(3, "CLanguageManager::FillTable: resource:%d, bytes:%zu, texts:%zu", nResourceID, data.size(),
         nAdded);
}

CLanguageManager* GetLanguageManager()
{
    if (!s_bLanguageManagerCreated) {
        s_bLanguageManagerCreated = true;
        s_pLanguageManager = new (std::nothrow) CLanguageManager();
    }
    return s_pLanguageManager;
}

void DeleteLanguageManager()
{
    delete s_pLanguageManager;
    s_pLanguageManager = nullptr;
    s_bLanguageManagerCreated = false;
}
