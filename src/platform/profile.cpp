#include "platform/profile.h"

#include "platform/codepage.h"

#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kBlanks = " \t\r\v\f";
constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";

std::string Trim(const std::string& str)
{
    const std::size_t nBegin = str.find_first_not_of(kBlanks);
    if (nBegin == std::string::npos)
        return {};
    const std::size_t nEnd = str.find_last_not_of(kBlanks);
    return str.substr(nBegin, nEnd - nBegin + 1);
}

bool SameName(const std::string& strA, const std::string& strB)
{
    if (strA.size() == strB.size()) {
        bool bAscii = true;
        bool bEqual = true;
        for (std::size_t i = 0; i < strA.size() && bAscii; ++i) {
            const unsigned char a = strA[i];
            const unsigned char b = strB[i];
            bAscii = a < 0x80 && b < 0x80;
            if (bAscii && bEqual) {
                const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
                bEqual = lower(a) == lower(b);
            }
        }
        if (bAscii)
            return bEqual;
    }
    return QString::fromUtf8(strA.data(), qsizetype(strA.size()))
               .compare(QString::fromUtf8(strB.data(), qsizetype(strB.size())), Qt::CaseInsensitive) == 0;
}

// One line of a profile file as the readers see it.
struct ParsedLine {
    enum Kind { Other, Section, Entry } enKind = Other;
    std::string strName;              // section or key name, trimmed
    std::optional<std::string> value; // entries with '=': the trimmed value
};

ParsedLine ParseLine(const std::string& strRaw)
{
    ParsedLine line;
    const std::string strLine = Trim(strRaw);
    if (strLine.empty() || strLine[0] == ';')
        return line;
    if (strLine[0] == '[') {
        const std::size_t nClose = strLine.find(']');
        line.enKind = ParsedLine::Section;
        line.strName = Trim(strLine.substr(1, nClose == std::string::npos ? std::string::npos : nClose - 1));
        return line;
    }
    line.enKind = ParsedLine::Entry;
    const std::size_t nEqual = strLine.find('=');
    if (nEqual == std::string::npos) {
        line.strName = strLine;
        return line;
    }
    line.strName = Trim(strLine.substr(0, nEqual));
    line.value = Trim(strLine.substr(nEqual + 1));
    return line;
}

// The file's text split into lines, with what is needed to write it back unchanged.
struct ProfileText {
    bool bExists = false;
    bool bBom = false;
    bool bCrLf = false;
    std::vector<std::string> lines; // without line ends
};

ProfileText LoadProfile(const std::string& strFileName)
{
    ProfileText text;
    std::ifstream file(strFileName, std::ios::binary);
    if (!file)
        return text;
    text.bExists = true;
    std::string strData((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (strData.compare(0, 3, kUtf8Bom) == 0) {
        text.bBom = true;
        strData.erase(0, 3);
    }
    std::size_t nPos = 0;
    while (nPos < strData.size()) {
        std::size_t nEnd = strData.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strData.size();
        std::string strLine = strData.substr(nPos, nEnd - nPos);
        if (!strLine.empty() && strLine.back() == '\r') {
            strLine.pop_back();
            if (text.lines.empty())
                text.bCrLf = true;
        }
        text.lines.push_back(std::move(strLine));
        nPos = nEnd + 1;
    }
    return text;
}

// Index range [first, last) of the lines of the first section with this name: first is the
// header's index, last the next header's index (or the end).
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const ProfileText& text,
                                                               const std::string& strSection)
{
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        const ParsedLine line = ParseLine(text.lines[i]);
        if (line.enKind != ParsedLine::Section || !SameName(line.strName, strSection))
            continue;
        std::size_t nLast = i + 1;
        while (nLast < text.lines.size() && ParseLine(text.lines[nLast]).enKind != ParsedLine::Section)
            ++nLast;
        return std::make_pair(i, nLast);
    }
    return std::nullopt;
}

std::optional<std::string> ReadValue(const ProfileText& text, const std::string& strSection,
                                     const std::string& strKey)
{
    const auto range = FindSection(text, strSection);
    if (!range)
        return std::nullopt;
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        const ParsedLine line = ParseLine(text.lines[i]);
        if (line.enKind == ParsedLine::Entry && SameName(line.strName, strKey)) {
            std::string strValue = line.value.value_or(std::string());
            if (strValue.size() >= 2 && (strValue[0] == '"' || strValue[0] == '\'') &&
                strValue.back() == strValue[0])
                strValue = strValue.substr(1, strValue.size() - 2);
            return strValue;
        }
    }
    return std::nullopt;
}

// The list forms as one text of zero-ended strings (without the final extra zero).
std::string SectionList(const ProfileText& text, const std::string& strSection)
{
    std::string strList;
    const auto range = FindSection(text, strSection);
    if (!range)
        return strList;
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        const ParsedLine line = ParseLine(text.lines[i]);
        if (line.enKind != ParsedLine::Entry)
            continue;
        strList += line.strName;
        if (line.value)
            strList += '=' + *line.value;
        strList += '\0';
    }
    return strList;
}

std::string KeyList(const ProfileText& text, const std::string& strSection)
{
    std::string strList;
    const auto range = FindSection(text, strSection);
    if (!range)
        return strList;
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        const ParsedLine line = ParseLine(text.lines[i]);
        if (line.enKind == ParsedLine::Entry && line.value)
            strList += line.strName + '\0';
    }
    return strList;
}

std::string SectionNameList(const ProfileText& text)
{
    std::string strList;
    for (const std::string& strRaw : text.lines) {
        const ParsedLine line = ParseLine(strRaw);
        if (line.enKind == ParsedLine::Section)
            strList += line.strName + '\0';
    }
    return strList;
}

template <typename Ch> DWORD CopyValue(const std::basic_string<Ch>& strValue, Ch* pszBuffer, DWORD nSize)
{
    if (pszBuffer == nullptr || nSize == 0)
        return 0;
    const std::size_t nCopy = std::min<std::size_t>(strValue.size(), nSize - 1);
    strValue.copy(pszBuffer, nCopy);
    pszBuffer[nCopy] = 0;
    return static_cast<DWORD>(nCopy);
}

template <typename Ch> DWORD CopyList(const std::basic_string<Ch>& strList, Ch* pszBuffer, DWORD nSize)
{
    if (pszBuffer == nullptr || nSize == 0)
        return 0;
    if (nSize < 2) {
        pszBuffer[0] = 0;
        return 0;
    }
    if (strList.size() + 1 <= nSize) {
        strList.copy(pszBuffer, strList.size());
        pszBuffer[strList.size()] = 0;
        // An empty list still reads as an empty list: two zeros.
        if (strList.empty())
            pszBuffer[1] = 0;
        return static_cast<DWORD>(strList.size());
    }
    strList.copy(pszBuffer, nSize - 2);
    pszBuffer[nSize - 2] = 0;
    pszBuffer[nSize - 1] = 0;
    return nSize - 2;
}

std::string DefaultText(const char* pszDefault)
{
    std::string strDefault = pszDefault != nullptr ? pszDefault : "";
    const std::size_t nEnd = strDefault.find_last_not_of(' ');
    strDefault.erase(nEnd == std::string::npos ? 0 : nEnd + 1);
    return strDefault;
}

// The readers' common part, on UTF-8 text. A list request returns the list with its zeros.
std::string ReadProfileString(const char* pszSection, const char* pszKey, const char* pszDefault,
                              const char* pszFileName, bool* pbList)
{
    const ProfileText text = LoadProfile(pszFileName != nullptr ? pszFileName : "");
    *pbList = pszSection == nullptr || pszKey == nullptr;
    if (pszSection == nullptr)
        return SectionNameList(text);
    if (pszKey == nullptr)
        return KeyList(text, pszSection);
    const auto value = ReadValue(text, pszSection, pszKey);
    return value ? *value : DefaultText(pszDefault);
}

std::optional<std::string> Narrow(const char16_t* pszWide)
{
    if (pszWide == nullptr)
        return std::nullopt;
    return WideToUtf8(pszWide);
}

const char* Ptr(const std::optional<std::string>& str)
{
    return str ? str->c_str() : nullptr;
}

bool HasLineBreak(const std::string& str)
{
    return str.find_first_of("\r\n") != std::string::npos;
}

bool SaveProfile(const std::string& strFileName, const ProfileText& text)
{
    const std::string strEol = text.bCrLf ? "\r\n" : "\n";
    std::string strData = text.bBom ? kUtf8Bom : "";
    for (const std::string& strLine : text.lines)
        strData += strLine + strEol;
    QSaveFile file(QString::fromUtf8(strFileName.c_str()));
    // A file in a folder we may not create files in can still be rewritten in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(strData.data(), qint64(strData.size())) != qint64(strData.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

BOOL WriteProfileString(const char* pszSection, const char* pszKey, const char* pszValue,
                        const char* pszFileName)
{
    if (pszSection == nullptr || pszFileName == nullptr || *pszFileName == '\0')
        return FALSE;
    const std::string strSection = Trim(pszSection);
    if (strSection.empty() || HasLineBreak(strSection) || strSection.find(']') != std::string::npos)
        return FALSE;
    std::string strKey;
    if (pszKey != nullptr) {
        strKey = Trim(pszKey);
        if (strKey.empty() || HasLineBreak(strKey) || strKey.find('=') != std::string::npos ||
            strKey[0] == ';' || strKey[0] == '[')
            return FALSE;
    }
    if (pszValue != nullptr && HasLineBreak(pszValue))
        return FALSE;

    ProfileText text = LoadProfile(pszFileName);
    const auto range = FindSection(text, strSection);
    if (pszKey == nullptr) {
        if (!range)
            return TRUE;
        text.lines.erase(text.lines.begin() + std::ptrdiff_t(range->first),
                         text.lines.begin() + std::ptrdiff_t(range->second));
        return SaveProfile(pszFileName, text);
    }

    if (!range) {
        if (pszValue == nullptr)
            return TRUE;
        if (!text.lines.empty() && !Trim(text.lines.back()).empty())
            text.lines.emplace_back();
        text.lines.push_back('[' + strSection + ']');
        text.lines.push_back(strKey + '=' + pszValue);
        return SaveProfile(pszFileName, text);
    }

    std::size_t nInsert = range->first + 1;
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        const ParsedLine line = ParseLine(text.lines[i]);
        if (line.enKind == ParsedLine::Entry && SameName(line.strName, strKey)) {
            if (pszValue == nullptr)
                text.lines.erase(text.lines.begin() + std::ptrdiff_t(i));
            else
                text.lines[i] = line.strName + '=' + pszValue;
            return SaveProfile(pszFileName, text);
        }
        // New keys go after the section's last non-blank line, before the blank lines
        // that separate it from the next section.
        if (!Trim(text.lines[i]).empty())
            nInsert = i + 1;
    }
    if (pszValue == nullptr)
        return TRUE;
    text.lines.insert(text.lines.begin() + std::ptrdiff_t(nInsert), strKey + '=' + pszValue);
    return SaveProfile(pszFileName, text);
}

} // namespace

DWORD GetPrivateProfileString(const char* pszSection, const char* pszKey, const char* pszDefault,
                              char* pszBuffer, DWORD nSize, const char* pszFileName)
{
    bool bList = false;
    const std::string strResult = ReadProfileString(pszSection, pszKey, pszDefault, pszFileName, &bList);
    return bList ? CopyList(strResult, pszBuffer, nSize) : CopyValue(strResult, pszBuffer, nSize);
}

DWORD GetPrivateProfileString(const char16_t* pszSection, const char16_t* pszKey, const char16_t* pszDefault,
                              char16_t* pszBuffer, DWORD nSize, const char16_t* pszFileName)
{
    bool bList = false;
    const auto section = Narrow(pszSection);
    const auto key = Narrow(pszKey);
    const auto def = Narrow(pszDefault);
    const auto file = Narrow(pszFileName);
    const std::u16string strResult =
        Utf8ToWide(ReadProfileString(Ptr(section), Ptr(key), Ptr(def), Ptr(file), &bList));
    return bList ? CopyList(strResult, pszBuffer, nSize) : CopyValue(strResult, pszBuffer, nSize);
}

UINT GetPrivateProfileInt(const char* pszSection, const char* pszKey, int nDefault, const char* pszFileName)
{
    if (pszSection == nullptr || pszKey == nullptr)
        return static_cast<UINT>(nDefault);
    const ProfileText text = LoadProfile(pszFileName != nullptr ? pszFileName : "");
    const auto value = ReadValue(text, pszSection, pszKey);
    if (!value || value->empty())
        return static_cast<UINT>(nDefault);
    std::size_t nPos = 0;
    bool bNegative = false;
    if (nPos < value->size() && ((*value)[nPos] == '-' || (*value)[nPos] == '+'))
        bNegative = (*value)[nPos++] == '-';
    UINT uResult = 0;
    for (; nPos < value->size() && (*value)[nPos] >= '0' && (*value)[nPos] <= '9'; ++nPos)
        uResult = uResult * 10 + UINT((*value)[nPos] - '0');
    return bNegative ? 0u - uResult : uResult;
}

UINT GetPrivateProfileInt(const char16_t* pszSection, const char16_t* pszKey, int nDefault,
                          const char16_t* pszFileName)
{
    const auto section = Narrow(pszSection);
    const auto key = Narrow(pszKey);
    const auto file = Narrow(pszFileName);
    return GetPrivateProfileInt(Ptr(section), Ptr(key), nDefault, Ptr(file));
}

DWORD GetPrivateProfileSection(const char* pszSection, char* pszBuffer, DWORD nSize, const char* pszFileName)
{
    if (pszSection == nullptr)
        return CopyList(std::string(), pszBuffer, nSize);
    const ProfileText text = LoadProfile(pszFileName != nullptr ? pszFileName : "");
    return CopyList(SectionList(text, pszSection), pszBuffer, nSize);
}

DWORD GetPrivateProfileSection(const char16_t* pszSection, char16_t* pszBuffer, DWORD nSize,
                               const char16_t* pszFileName)
{
    if (pszSection == nullptr)
        return CopyList(std::u16string(), pszBuffer, nSize);
    const ProfileText text = LoadProfile(WideToUtf8(pszFileName != nullptr ? pszFileName : u""));
    return CopyList(Utf8ToWide(SectionList(text, WideToUtf8(pszSection))), pszBuffer, nSize);
}

BOOL WritePrivateProfileString(const char* pszSection, const char* pszKey, const char* pszValue,
                               const char* pszFileName)
{
    return WriteProfileString(pszSection, pszKey, pszValue, pszFileName);
}

BOOL WritePrivateProfileString(const char16_t* pszSection, const char16_t* pszKey, const char16_t* pszValue,
                               const char16_t* pszFileName)
{
    const auto section = Narrow(pszSection);
    const auto key = Narrow(pszKey);
    const auto value = Narrow(pszValue);
    const auto file = Narrow(pszFileName);
    return WriteProfileString(Ptr(section), Ptr(key), Ptr(value), Ptr(file));
}
