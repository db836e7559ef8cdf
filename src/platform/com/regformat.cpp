#include "platform/com/regformat.h"

#include <unordered_map>

namespace {

constexpr const char* kHeader = "; Vistrel class registry: class ids, their modules and registered filters.";

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

namespace regformat {

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// strKey is below strParent (any depth).
bool IsBelow(const std::string& strKey, const std::string& strParent)
{
    return strKey.size() > strParent.size() + 1 && strKey[strParent.size()] == '\\' &&
           SameName(strKey.substr(0, strParent.size()), strParent);
}

// Key paths: non-empty parts separated by single '\', nothing that would break a line.
bool ValidKey(const std::string& strKey)
{
    if (strKey.empty() || strKey.front() == '\\' || strKey.back() == '\\')
        return false;
    for (std::size_t i = 0; i < strKey.size(); ++i) {
        const char c = strKey[i];
        if (c == '\n' || c == '\r' || c == ']' || c == '[' || c == '\0')
            return false;
        if (c == '\\' && strKey[i + 1] == '\\')
            return false;
    }
    return true;
}

} // namespace regformat

namespace {

using namespace regformat;

std::string Quote(const std::string& str)
{
    std::string strOut = "\"";
    for (const char c : str) {
        if (c == '\\' || c == '"')
            strOut += '\\', strOut += c;
        else if (c == '\n')
            strOut += "\\n";
        else if (c == '\r')
            strOut += "\\r";
        else
            strOut += c;
    }
    return strOut + '"';
}

// Reads a quoted string at str[*pPos]; on success *pPos is past the closing quote.
bool Unquote(const std::string& str, std::size_t* pPos, std::string* pOut)
{
    std::size_t i = *pPos;
    if (i >= str.size() || str[i] != '"')
        return false;
    std::string strOut;
    for (++i; i < str.size(); ++i) {
        const char c = str[i];
        if (c == '"') {
            *pPos = i + 1;
            *pOut = std::move(strOut);
            return true;
        }
        if (c == '\\') {
            if (++i >= str.size())
                return false;
            const char e = str[i];
            if (e == 'n')
                strOut += '\n';
            else if (e == 'r')
                strOut += '\r';
            else if (e == '\\' || e == '"')
                strOut += e;
            else
                return false;
        } else {
            strOut += c;
        }
    }
    return false;
}

} // namespace

RegistryHive ParseRegistryText(std::string_view strText)
{
    RegistryHive hive;
    RegistryKey* pKey = nullptr;
    std::unordered_map<std::string, std::size_t> mapIndex; // lower-case name -> key
    std::size_t nStart = 0;
    while (nStart < strText.size()) {
        std::size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strLine(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        if (strLine.empty() || strLine[0] == ';')
            continue;
        if (strLine[0] == '[') {
            const std::string strName = strLine.size() >= 2 && strLine.back() == ']'
                                            ? strLine.substr(1, strLine.size() - 2)
                                            : std::string();
            if (!ValidKey(strName)) {
                hive.bDamaged = true;
                pKey = nullptr;
                continue;
            }
            std::string strLower = strName;
            for (char& c : strLower)
                c = Lower(c);
            const auto [it, bNew] = mapIndex.try_emplace(std::move(strLower), hive.keys.size());
            if (bNew)
                hive.keys.push_back(RegistryKey{strName, {}});
            pKey = &hive.keys[it->second];
            continue;
        }
        std::string strName;
        std::size_t nPos = 0;
        if (strLine[0] == '@') {
            nPos = 1;
        } else if (!Unquote(strLine, &nPos, &strName) || strName.empty()) {
            hive.bDamaged = true;
            continue;
        }
        std::string strValue;
        if (pKey == nullptr || nPos >= strLine.size() || strLine[nPos] != '=' ||
            !Unquote(strLine, &++nPos, &strValue) || nPos != strLine.size()) {
            hive.bDamaged = true;
            continue;
        }
        pKey->values[strName] = std::move(strValue);
    }
    return hive;
}

std::string FormatRegistryText(const RegistryHive& hive)
{
    std::string strText = kHeader;
    strText += "\n";
    for (const RegistryKey& key : hive.keys) {
        strText += "\n[" + key.strName + "]\n";
        auto it = key.values.find("");
        if (it != key.values.end())
            strText += "@=" + Quote(it->second) + "\n";
        for (const auto& [strName, strValue] : key.values)
            if (!strName.empty())
                strText += Quote(strName) + "=" + Quote(strValue) + "\n";
    }
    return strText;
}
