#include "device/settingchecks.h"

#include "core/stringids.h"
#include "device/videoquality.h"

#include <algorithm>
#include <cctype>
#include <charconv>

CheckError MakeError(std::string strKey, DWORD dwStringID, std::vector<long> vecArgs)
{
    CheckError error;
    error.strKey = std::move(strKey);
    error.dwStringID = dwStringID;
    error.vecArgs = std::move(vecArgs);
    return error;
}

CheckError MakeTextError(std::string strKey, std::string strText)
{
    CheckError error;
    error.strKey = std::move(strKey);
    error.strText = std::move(strText);
    return error;
}

std::string FillNumbers(const std::string& strFormat, const std::vector<long>& vecArgs)
{
    std::string strOut;
    std::size_t nArg = 0;
    for (std::size_t i = 0; i < strFormat.size(); ++i) {
        if (strFormat[i] == '%' && i + 1 < strFormat.size() && strFormat[i + 1] == 'd') {
            strOut += nArg < vecArgs.size() ? std::to_string(vecArgs[nArg]) : std::string("?");
            ++nArg;
            ++i;
        } else {
            strOut += strFormat[i];
        }
    }
    return strOut;
}

CheckResult ParseAssignments(const std::vector<std::string>& vecArgs, KeyValues& kv)
{
    for (const std::string& strArg : vecArgs) {
        const std::size_t nEq = strArg.find('=');
        if (nEq == std::string::npos || nEq == 0)
            return MakeTextError(strArg, "expected key=value");
        std::string strKey = strArg.substr(0, nEq);
        std::transform(strKey.begin(), strKey.end(), strKey.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!kv.emplace(strKey, strArg.substr(nEq + 1)).second)
            return MakeTextError(strKey, "given more than once");
    }
    return std::nullopt;
}

CheckResult CheckKnownKeys(const KeyValues& kv, const std::vector<std::string>& vecAllowed)
{
    for (const auto& [strKey, strValue] : kv) {
        if (std::find(vecAllowed.begin(), vecAllowed.end(), strKey) == vecAllowed.end()) {
            std::string strList;
            for (const std::string& strAllowed : vecAllowed)
                strList += (strList.empty() ? "" : ", ") + strAllowed;
            return MakeTextError(strKey, "unknown key (this group takes: " + strList + ")");
        }
    }
    return std::nullopt;
}

bool ParseDecimal(std::string_view text, long& nValue)
{
    if (text.empty())
        return false;
    const char* pBegin = text.data();
    const char* pEnd = text.data() + text.size();
    // from_chars takes a leading minus but no plus; a plus is fine for a number given by hand.
    if (*pBegin == '+')
        ++pBegin;
    if (pBegin == pEnd || *pBegin == '+')
        return false;
    const auto [pStop, ec] = std::from_chars(pBegin, pEnd, nValue);
    return ec == std::errc() && pStop == pEnd;
}

bool ParseIPv4Strict(std::string_view text, DWORD& dwIP)
{
    DWORD dwValue = 0;
    int nParts = 0;
    std::size_t nPos = 0;
    while (nParts < 4) {
        const std::size_t nEnd = nParts < 3 ? text.find('.', nPos) : text.size();
        if (nEnd == std::string_view::npos)
            return false;
        const std::string_view part = text.substr(nPos, nEnd - nPos);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0'))
            return false;
        unsigned nOctet = 0;
        for (const char c : part) {
            if (c < '0' || c > '9')
                return false;
            nOctet = nOctet * 10 + static_cast<unsigned>(c - '0');
        }
        if (nOctet > 255)
            return false;
        dwValue = (dwValue << 8) | nOctet;
        ++nParts;
        nPos = nEnd + 1;
    }
    dwIP = dwValue;
    return true;
}

CheckResult CheckAddress(const std::string& strKey, const std::string& strText, bool bServer, DWORD& dwIP)
{
    DWORD dwValue = 0;
    if (!ParseIPv4Strict(strText, dwValue) || (bServer && (dwValue == 0 || dwValue == 0xFFFFFFFF)))
        return MakeError(strKey, IDS_HINT_INVALIDIP);
    dwIP = dwValue;
    return std::nullopt;
}

CheckError RangeError(const std::string& strKey, long nMin, long nMax)
{
    if (strKey.find("port") != std::string::npos)
        return MakeError(strKey, IDS_HINT_PORTRANGE, {nMin, nMax});
    return MakeError(strKey, IDS_HINT_NUMBER_RANGE, {nMin, nMax});
}

CheckResult CheckNumber(const std::string& strKey, const std::string& strText, long nMin, long nMax,
                        long& nValue)
{
    long n = 0;
    if (!ParseDecimal(strText, n) || n < nMin || n > nMax)
        return RangeError(strKey, nMin, nMax);
    nValue = n;
    return std::nullopt;
}

CheckResult CheckCameraPort(const std::string& strKey, const std::string& strText, WORD& usPort)
{
    long n = 0;
    if (!ParseDecimal(strText, n) || (n != 0 && (n < CAMERA_PORT_MIN || n > CAMERA_PORT_MAX)))
        return MakeError(strKey, IDS_HINT_PORTRANGE, {CAMERA_PORT_MIN, CAMERA_PORT_MAX});
    usPort = static_cast<WORD>(n);
    return std::nullopt;
}

CheckResult ParseSwitch(const std::string& strKey, const std::string& strText, bool& bValue)
{
    std::string strLower = strText;
    std::transform(strLower.begin(), strLower.end(), strLower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (strLower == "on" || strLower == "yes" || strLower == "true" || strLower == "1") {
        bValue = true;
        return std::nullopt;
    }
    if (strLower == "off" || strLower == "no" || strLower == "false" || strLower == "0") {
        bValue = false;
        return std::nullopt;
    }
    return MakeTextError(strKey, "expected on or off");
}

CheckResult CheckCameraName(const std::string& strKey, const std::string& strName, bool& bCut)
{
    // The page silently keeps the old name here; a command line says why nothing happens.
    if (strName.empty() || strName[0] == ' ')
        return MakeTextError(strKey, "a camera name must not be empty or begin with a space");
    bCut = strName.size() > CAMERA_NAME_BYTES;
    return std::nullopt;
}

CheckResult CheckPasswordText(const std::string& strKey, const std::string& strText)
{
    if (strText.size() > 16)
        return MakeError(strKey, IDS_HINT_PASSWORD_EMPTY);
    return std::nullopt;
}

CheckResult CheckPasswordsMatch(const std::string& strKey, const std::string& strNew,
                                const std::string& strConfirm)
{
    if (strNew != strConfirm)
        return MakeError(strKey, IDS_HINT_CONFIRMPASSERR);
    return std::nullopt;
}

CheckResult CheckStream(const std::string& strPrefix, long nFps, long nRes, long nBps, bool bPal)
{
    const CVideoQuality& quality = GetVideoQuality();
    if (nFps < 0 || quality.GetFpsIndex(static_cast<DWORD>(nFps)) < 0)
        return MakeError(strPrefix + "fps", IDS_HINT_VALUE_EMPTY_ERROR);
    if (nRes < 0 || quality.GetResIndex(static_cast<DWORD>(nRes)) < 0)
        return MakeError(strPrefix + "res", IDS_HINT_VALUE_EMPTY_ERROR);
    const long nMin = quality.GetBpsMinValue(bPal, static_cast<DWORD>(nFps), static_cast<DWORD>(nRes));
    if (nBps < nMin)
        return MakeError(strPrefix + "bps", IDS_HINT_MIN_BPS, {nMin});
    if (nBps > quality.GetBpsMaxValue())
        return MakeError(strPrefix + "bps", IDS_HINT_MAX_BPS);
    return std::nullopt;
}

CheckResult ParseTimeZone(const std::string& strKey, const std::string& strText, short& nMinutes)
{
    std::string_view text = strText;
    int nSign = 1;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        nSign = text[0] == '-' ? -1 : 1;
        text.remove_prefix(1);
    }
    const std::size_t nColon = text.find(':');
    long nHours = 0;
    long nMins = 0;
    if (nColon == std::string_view::npos || text.size() - nColon != 3 || nColon == 0 || nColon > 2 ||
        text[0] == '+' || text[0] == '-' || text[nColon + 1] == '+' || text[nColon + 1] == '-' ||
        !ParseDecimal(text.substr(0, nColon), nHours) || !ParseDecimal(text.substr(nColon + 1), nMins) ||
        nMins > 59)
        return MakeTextError(strKey, "expected a GMT offset such as +08:00 or -05:30");
    const long nTotal = nSign * (nHours * 60 + nMins);
    if (nTotal < -12 * 60 || nTotal > 14 * 60)
        return MakeTextError(strKey, "a GMT offset lies between -12:00 and +14:00");
    nMinutes = static_cast<short>(nTotal);
    return std::nullopt;
}

bool FitsField(const std::string& strText, std::size_t nField)
{
    return strText.size() < nField;
}

CheckResult CheckTourRange(const std::vector<TourRange>& vecRanges, const TourRange& range, std::size_t nMax)
{
    if (vecRanges.size() >= nMax)
        return MakeError("range", IDS_HINT_MAX_TIMERANGE, {static_cast<long>(nMax)});
    if (range.dwEnd <= range.dwStart)
        return MakeError("end", IDS_HINT_MT_TIME_ERROR);
    for (const TourRange& other : vecRanges) {
        if (range.dwStart < other.dwEnd && other.dwStart < range.dwEnd)
            return MakeError("start", IDS_HINT_OVERLAP_TIME);
    }
    return std::nullopt;
}
