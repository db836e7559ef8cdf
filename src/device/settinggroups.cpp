#include "device/settinggroups.h"

#include "core/stringids.h"
#include "device/recordlayout.h"
#include "device/videoquality.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <sstream>

namespace {

const std::string* Find(const KeyValues& kv, const char* pszKey)
{
    const auto it = kv.find(pszKey);
    return it == kv.end() ? nullptr : &it->second;
}

// Copies text into a fixed field, zero-padded.
template <std::size_t N> void CopyField(char (&szField)[N], const std::string& strText)
{
    std::memset(szField, 0, N);
    std::memcpy(szField, strText.data(), std::min(strText.size(), N - 1));
}

std::vector<std::string> SplitList(const std::string& strText, char cSep)
{
    std::vector<std::string> vecParts;
    std::stringstream stream(strText);
    std::string strPart;
    while (std::getline(stream, strPart, cSep))
        vecParts.push_back(strPart);
    return vecParts;
}

CheckResult ApplySwitch(const KeyValues& kv, const char* pszKey, BYTE& byValue)
{
    if (const std::string* pValue = Find(kv, pszKey)) {
        bool bValue = false;
        if (auto error = ParseSwitch(pszKey, *pValue, bValue))
            return error;
        byValue = bValue ? 1 : 0;
    }
    return std::nullopt;
}

CheckResult ApplyNumber(const KeyValues& kv, const char* pszKey, long nMin, long nMax, long& nValue)
{
    if (const std::string* pValue = Find(kv, pszKey))
        return CheckNumber(pszKey, *pValue, nMin, nMax, nValue);
    return std::nullopt;
}

CheckResult ApplyText(const KeyValues& kv, const char* pszKey, std::size_t nField, DWORD dwTooLongID,
                      std::string& strValue)
{
    if (const std::string* pValue = Find(kv, pszKey)) {
        if (!FitsField(*pValue, nField + 1))
            return dwTooLongID != 0 ? MakeError(pszKey, dwTooLongID)
                                    : MakeError(pszKey, IDS_HINT_TEXT_TOO_LONG, {static_cast<long>(nField)});
        strValue = *pValue;
        return std::nullopt;
    }
    return std::nullopt;
}

// Frame rate, resolution and bit rate under a prefix ("", "main_", "sub_"), starting from a
// session mode word; the standard decides the bit-rate floor.
CheckResult ApplyStream(const KeyValues& kv, const std::string& strPrefix, bool bPal, DWORD& dwMode)
{
    const std::string strFps = strPrefix + "fps";
    const std::string strRes = strPrefix + "res";
    const std::string strBps = strPrefix + "bps";
    if (!kv.contains(strFps) && !kv.contains(strRes) && !kv.contains(strBps))
        return std::nullopt;
    long nFps = SessionModeFrameRate(dwMode);
    long nRes = SessionModeResolution(dwMode);
    long nBps = SessionModeBitrate(dwMode);
    for (const auto& [strKey, pnValue] : {std::pair{strFps, &nFps}, {strRes, &nRes}, {strBps, &nBps}}) {
        if (const auto it = kv.find(strKey); it != kv.end() && !ParseDecimal(it->second, *pnValue))
            return MakeError(strKey, IDS_HINT_VALUE_EMPTY_ERROR);
    }
    if (auto error = CheckStream(strPrefix, nFps, nRes, nBps, bPal))
        return error;
    dwMode = MakeSessionMode(static_cast<DWORD>(nBps), static_cast<DWORD>(nFps), static_cast<DWORD>(nRes));
    return std::nullopt;
}

template <std::size_t N> std::string FieldText(const char (&szField)[N])
{
    return std::string(szField, strnlen(szField, N));
}

// Exactly 2 * N hex digits.
template <std::size_t N> bool ParseHexBytes(const std::string& strText, BYTE (&abBytes)[N])
{
    if (strText.size() != 2 * N)
        return false;
    for (std::size_t i = 0; i < 2 * N; ++i) {
        const char c = strText[i];
        const int nDigit = c >= '0' && c <= '9'   ? c - '0'
                           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
        if (nDigit < 0)
            return false;
        abBytes[i / 2] = static_cast<BYTE>((abBytes[i / 2] << 4) | nDigit);
    }
    return true;
}

CheckResult ParseStandard(const KeyValues& kv, bool& bPal)
{
    bPal = true;
    if (const std::string* pValue = Find(kv, "standard")) {
        if (*pValue == "pal")
            bPal = true;
        else if (*pValue == "ntsc")
            bPal = false;
        else
            return MakeTextError("standard", "expected pal or ntsc");
    }
    return std::nullopt;
}

// "M/D/H" (by date) or "M/ORD/WD/H" with ORD 1 to 3 or L1 to L3 counted from the month's end.
CheckResult ParseDstPoint(const std::string& strKey, const std::string& strText, BYTE byMode, DWORD& dwWord)
{
    const std::vector<std::string> vecParts = SplitList(strText, '/');
    long nMonth = 0;
    long nHour = 0;
    if (byMode == 1) {
        long nDay = 0;
        if (vecParts.size() != 3 || !ParseDecimal(vecParts[0], nMonth) || !ParseDecimal(vecParts[1], nDay) ||
            !ParseDecimal(vecParts[2], nHour) || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 ||
            nHour < 0 || nHour > 23)
            return MakeTextError(strKey, "expected month/day/hour, such as 3/31/2");
        dwWord = MakeDstDateWord(nMonth, nDay, nHour);
        return std::nullopt;
    }
    long nOrdinal = 0;
    long nWeekday = 0;
    bool bFromEnd = false;
    std::string strOrdinal = vecParts.size() == 4 ? vecParts[1] : std::string();
    if (!strOrdinal.empty() && (strOrdinal[0] == 'L' || strOrdinal[0] == 'l')) {
        bFromEnd = true;
        strOrdinal.erase(0, 1);
    }
    if (vecParts.size() != 4 || !ParseDecimal(vecParts[0], nMonth) || !ParseDecimal(strOrdinal, nOrdinal) ||
        !ParseDecimal(vecParts[2], nWeekday) || !ParseDecimal(vecParts[3], nHour) || nMonth < 1 ||
        nMonth > 12 || nOrdinal < 1 || nOrdinal > 3 || nWeekday < 1 || nWeekday > 7 || nHour < 0 ||
        nHour > 23)
        return MakeTextError(strKey,
                             "expected month/ordinal/weekday/hour, such as 3/L1/7/2 (last Sunday of March)");
    dwWord = MakeDstWeekdayWord(nMonth, bFromEnd, nOrdinal, nWeekday, nHour);
    return std::nullopt;
}

} // namespace

namespace {

// The recording options both recording groups take.
std::vector<std::string> WithRecordOptions(std::vector<std::string> vecKeys)
{
    for (const char* pszKey : {"record", "audio", "overwrite", "bootup", "manual", "event", "area1", "area2",
                               "area3", "di", "schedule_on", "schedule"})
        vecKeys.emplace_back(pszKey);
    return vecKeys;
}

} // namespace
#define RECORD_OPTION_HELP                                                                                   \
    "record= audio= overwrite= bootup= manual= event= area1..3= di= schedule_on= (on|off) "                  \
    "schedule=HEX (24 bytes, one per hour from 00:00, bit 0 Monday .. bit 6 Sunday)"

const std::vector<SettingGroup>& GetSettingGroups()
{
    static const std::vector<SettingGroup> s_groups = {
        {"name", {"name"}, "name=TEXT (not empty, no leading space; cut to 32 bytes)"},
        {"password", {"old", "new", "confirm"}, "old=P new=P [confirm=P] (at most 16 bytes)"},
        {"ntp",
         {"sync", "server", "zone", "dst", "dst_start", "dst_end"},
         "sync=on|off server=NAME zone=+HH:MM dst=off|date|weekday dst_start=M/D/H|M/ORD/WD/H dst_end=..."},
        {"network",
         {"mode", "ip", "mask", "gateway", "dns1", "dns2", "manual_dns", "pppoe_user", "pppoe_password",
          "pppoe_confirm"},
         "mode=static|dhcp|pppoe ip= mask= gateway= dns1= dns2= manual_dns=on|off pppoe_user= "
         "pppoe_password= "
         "pppoe_confirm="},
        {"wifi", {"ssid", "key", "type", "channel"}, "ssid=NAME key=KEY type=infra|adhoc channel=1..14"},
        {"3g",
         {"dial", "apn", "tel", "account", "password"},
         "dial=default|custom apn= tel= account= password="},
        {"port", {"camera"}, "camera=0|3479..7997"},
        {"upnp", {"enable"}, "enable=on|off"},
        {"dserver", {"connect"}, "connect=on|off"},
        {"motion",
         {"threshold", "area1", "area2", "area3", "area1_rect", "area2_rect", "area3_rect", "area1_sens",
          "area2_sens", "area3_sens"},
         "threshold=1..255 areaN=on|off areaN_rect=L,T,R,B (percent) areaN_sens=60..99"},
        {"do", {"area1", "area2", "area3", "di"}, "area1..3=on|off di=on|off"},
        {"sms", {"area1", "area2", "area3", "di"}, "area1..3=on|off di=on|off"},
        {"mail",
         {"server", "sender", "recipients", "message", "subject", "auth", "account", "password", "confirm",
          "enable", "area1", "area2", "area3", "di"},
         "server= sender= recipients=a@b,c@d (at most 5) subject= message= auth=on|off account= password= "
         "confirm= enable=on|off area1..3=on|off di=on|off"},
        {"sd", WithRecordOptions({"fps", "res", "bps", "standard"}),
         "fps= res= bps= standard=pal|ntsc " RECORD_OPTION_HELP},
        {"nas",
         WithRecordOptions(
             {"fps", "res", "bps", "standard", "ip", "path", "account", "password", "confirm", "size"}),
         "fps= res= bps= standard=pal|ntsc ip= path= account= password= confirm= "
         "size=MB " RECORD_OPTION_HELP},
        {"rtsp",
         {"auth", "main_fps", "main_res", "main_bps", "sub_fps", "sub_res", "sub_bps", "standard"},
         "auth=on|off main_fps= main_res= main_bps= sub_fps= sub_res= sub_bps= standard=pal|ntsc"},
        {"snapshot",
         {"enable", "count", "interval", "server", "port", "triggers", "res"},
         "enable=on|off count=1..127 interval=1..65535 server=IP port=1..65535 "
         "triggers=intime,485,motion1,motion2,motion3,di res=CODE"},
        {"timeformat", {"format"}, "format=0..255"},
        {"microphone", {"volume", "enable", "type"}, "volume=0..100 enable=on|off type=0..255"},
    };
    return s_groups;
}

const SettingGroup* FindSettingGroup(const std::string& strName)
{
    for (const SettingGroup& group : GetSettingGroups()) {
        if (strName == group.pszName)
            return &group;
    }
    return nullptr;
}

CheckResult BuildName(const KeyValues& kv, std::string& strName, bool& bCut)
{
    const std::string* pName = Find(kv, "name");
    if (pName == nullptr)
        return MakeTextError("name", "missing");
    if (auto error = CheckCameraName("name", *pName, bCut))
        return error;
    strName = *pName;
    return std::nullopt;
}

CheckResult BuildPasswordChange(const KeyValues& kv, const PasswordInfo& info, PasswordChange& change)
{
    const std::string* pNew = Find(kv, "new");
    if (pNew == nullptr)
        return MakeTextError("new", "missing");
    const std::string strOld =
        Find(kv, "old") != nullptr ? *Find(kv, "old") : PasswordToText(info.pszInputPassword);
    const std::string strConfirm = Find(kv, "confirm") != nullptr ? *Find(kv, "confirm") : *pNew;
    for (const auto& [pszKey, pText] : {std::pair{"old", &strOld}, {"new", pNew}, {"confirm", &strConfirm}}) {
        if (auto error = CheckPasswordText(pszKey, *pText))
            return error;
    }
    BYTE abOld[PASSWORD_LEN] = {};
    PasswordFromText(strOld, abOld);
    if (std::memcmp(abOld, info.pszInputPassword, PASSWORD_LEN) != 0)
        return MakeError("old", IDS_HINT_PASSERR);
    if (auto error = CheckPasswordsMatch("confirm", *pNew, strConfirm))
        return error;
    std::memcpy(change.abOld, abOld, PASSWORD_LEN);
    PasswordFromText(*pNew, change.abNew);
    return std::nullopt;
}

CheckResult BuildNtp(const KeyValues& kv, NtpInfo& info)
{
    BYTE bySync = info.usNtpSync != 0;
    if (auto error = ApplySwitch(kv, "sync", bySync))
        return error;
    info.usNtpSync = bySync;
    if (const std::string* pZone = Find(kv, "zone")) {
        if (auto error = ParseTimeZone("zone", *pZone, info.nTimeZone))
            return error;
    }
    std::string strServer;
    if (auto error = ApplyText(kv, "server", sizeof(info.szNtpServer) - 1, 0, strServer))
        return error;
    if (kv.contains("server")) {
        if (strServer.empty())
            return MakeError("server", IDS_HINT_SERVER_EMPTY);
        CopyField(info.szNtpServer, strServer);
        // No server name: the time comes from the D-server.
        info.byFinal = strServer == NTP_SERVER_DSERVER ? 1 : 0;
    }

    if (const std::string* pDst = Find(kv, "dst")) {
        if (*pDst == "off")
            info.byDstMode = 0;
        else if (*pDst == "date")
            info.byDstMode = 1;
        else if (*pDst == "weekday")
            info.byDstMode = 2;
        else
            return MakeError("dst", IDS_HINT_SET_DST_NO_MODE);
    }
    const std::string* pStart = Find(kv, "dst_start");
    const std::string* pEnd = Find(kv, "dst_end");
    if ((pStart != nullptr || pEnd != nullptr) && info.byDstMode == 0)
        return MakeError("dst", IDS_HINT_SET_DST_NO_MODE);
    if (info.byDstMode != 0) {
        // A newly chosen mode needs both ends of the period.
        const bool bModeChanged = kv.contains("dst");
        if (bModeChanged && (pStart == nullptr || pEnd == nullptr))
            return MakeError(pStart == nullptr ? "dst_start" : "dst_end", IDS_HINT_SET_DST_NO_TIME);
        DWORD& dwStart = info.byDstMode == 1 ? info.dwMode1Start : info.dwMode2Start;
        DWORD& dwEnd = info.byDstMode == 1 ? info.dwMode1End : info.dwMode2End;
        if (pStart != nullptr) {
            if (auto error = ParseDstPoint("dst_start", *pStart, info.byDstMode, dwStart))
                return error;
        }
        if (pEnd != nullptr) {
            if (auto error = ParseDstPoint("dst_end", *pEnd, info.byDstMode, dwEnd))
                return error;
        }
        if (dwStart == 0 || dwEnd == 0)
            return MakeError("dst", IDS_HINT_SET_DST_NO_TIME);
    }
    return std::nullopt;
}

CheckResult BuildNetParam(const KeyValues& kv, NetParamRecord& record)
{
    if (const std::string* pMode = Find(kv, "mode")) {
        if (*pMode == "static")
            record.ucConnType = LAN_CONN_STATIC;
        else if (*pMode == "dhcp")
            record.ucConnType = LAN_CONN_DHCP;
        else if (*pMode == "pppoe")
            record.ucConnType = LAN_CONN_PPPOE;
        else
            return MakeTextError("mode", "expected static, dhcp or pppoe");
    }
    for (const auto& [pszKey, pdwField] : {std::pair{"ip", &record.dwIP},
                                           {"gateway", &record.dwGateway},
                                           {"dns1", &record.dwDNS1},
                                           {"dns2", &record.dwDNS2}}) {
        if (const std::string* pValue = Find(kv, pszKey)) {
            if (auto error = CheckAddress(pszKey, *pValue, std::string(pszKey) == "ip", *pdwField))
                return error;
        }
    }
    if (const std::string* pMask = Find(kv, "mask")) {
        DWORD dwMask = 0;
        if (auto error = CheckAddress("mask", *pMask, false, dwMask))
            return error;
        // A mask is a run of ones followed by zeros.
        if (dwMask == 0 || ((~dwMask + 1) & ~dwMask) != 0)
            return MakeError("mask", IDS_HINT_INVALIDIP);
        record.dwNetmask = dwMask;
    }
    BYTE byManual = record.dwManualDNS != 0;
    if (auto error = ApplySwitch(kv, "manual_dns", byManual))
        return error;
    record.dwManualDNS = byManual;

    std::string strUser;
    if (auto error =
            ApplyText(kv, "pppoe_user", sizeof(record.szPPPoEAccount) - 1, IDS_HINT_ACCOUNT_EMPTY, strUser))
        return error;
    if (kv.contains("pppoe_user"))
        CopyField(record.szPPPoEAccount, strUser);
    const std::string* pPassword = Find(kv, "pppoe_password");
    const std::string* pConfirm = Find(kv, "pppoe_confirm");
    if (pPassword != nullptr || pConfirm != nullptr) {
        const std::string strPassword = pPassword != nullptr ? *pPassword : std::string();
        if (auto error =
                CheckPasswordsMatch("pppoe_confirm", strPassword, pConfirm != nullptr ? *pConfirm : ""))
            return error;
        if (!FitsField(strPassword, sizeof(record.szPPPoEPassword)))
            return MakeError("pppoe_password", IDS_HINT_PASSWORD_EMPTY);
        CopyField(record.szPPPoEPassword, strPassword);
    }
    return std::nullopt;
}

CheckResult BuildWifi(const KeyValues& kv, const WifiRecord& current, WifiSettingsBlock& block)
{
    if (const std::string* pType = Find(kv, "type")) {
        if (*pType == "infra")
            block.NetworkType = 0;
        else if (*pType == "adhoc")
            block.NetworkType = 1;
        else
            return MakeError("type", IDS_HINT_SETNETWORKFAIL);
    }
    if (const std::string* pSsid = Find(kv, "ssid")) {
        if (pSsid->empty() || pSsid->size() > sizeof(block.Ssid))
            return MakeError("ssid", IDS_HINT_SETNETWORKFAIL);
        std::memset(block.Ssid, 0, sizeof(block.Ssid));
        std::memcpy(block.Ssid, pSsid->data(), pSsid->size());
        block.SsidLength = static_cast<BYTE>(pSsid->size());
        // The security of a surveyed network comes from the survey; an unknown one is open.
        const WifiSurveyEntry* pMatch = nullptr;
        for (std::size_t i = 0; i < current.SurveyCount(); ++i) {
            const WifiSurveyEntry* pEntry = current.SurveyEntry(i);
            if (pEntry->SsidLength == pSsid->size() &&
                std::memcmp(pEntry->Ssid, pSsid->data(), pSsid->size()) == 0) {
                pMatch = pEntry;
                break;
            }
        }
        if (pMatch != nullptr) {
            block.AuthMode = pMatch->AuthMode;
            block.EncType = pMatch->EncType;
        } else {
            block.AuthMode = 0;
            block.EncType = 1;
            block.WEPKeyDefIndex = 0;
            std::memset(block.WPAPSKKey, 0, sizeof(block.WPAPSKKey));
        }
    } else if (block.SsidLength == 0) {
        return MakeError("ssid", IDS_HINT_SETNETWORKFAIL);
    }
    if (const std::string* pKey = Find(kv, "key")) {
        if (!FitsField(*pKey, sizeof(block.WPAPSKKey)))
            return MakeError("key", IDS_HINT_TEXT_TOO_LONG, {static_cast<long>(sizeof(block.WPAPSKKey) - 1)});
        std::memset(block.WPAPSKKey, 0, sizeof(block.WPAPSKKey));
        std::memcpy(block.WPAPSKKey, pKey->data(), pKey->size());
    }
    // The WEP key the camera sends with, 1 to 4 to the user and 0 to 3 in the block.
    if (const std::string* pTxKey = Find(kv, "txkey")) {
        long nTxKey = 0;
        if (!ParseDecimal(*pTxKey, nTxKey) || nTxKey < 1 || nTxKey > 4)
            return MakeError("txkey", IDS_HINT_SETNETWORKFAIL);
        block.WEPKeyDefIndex = static_cast<BYTE>(nTxKey - 1);
    }
    if (const std::string* pChannel = Find(kv, "channel")) {
        long nChannel = 0;
        if (auto error = CheckNumber("channel", *pChannel, 1, 14, nChannel))
            return error;
        block.AdhocChannel = static_cast<BYTE>(nChannel);
    }
    if (block.NetworkType == 1 && block.AdhocChannel == 0)
        return MakeError("channel", IDS_HINT_SETNETWORKFAIL);
    return std::nullopt;
}

CheckResult BuildThreeG(const KeyValues& kv, ThreeGRequest& request)
{
    if (const std::string* pDial = Find(kv, "dial")) {
        if (*pDial == "default")
            request.bUseDefaultDial = 1;
        else if (*pDial == "custom")
            request.bUseDefaultDial = 0;
        else
            return MakeTextError("dial", "expected default or custom");
    }
    for (const auto& [pszKey, pstrField] : {std::pair{"apn", &request.strAPN},
                                            {"tel", &request.strTelNum},
                                            {"account", &request.strAccount},
                                            {"password", &request.strPassword}}) {
        if (auto error = ApplyText(kv, pszKey, 31, IDS_HINT_VALUE_EMPTY_ERROR, *pstrField))
            return error;
    }
    if (!request.bUseDefaultDial) {
        if (request.strAPN.empty())
            return MakeError("apn", IDS_HINT_VALUE_EMPTY_ERROR);
        if (request.strTelNum.empty())
            return MakeError("tel", IDS_HINT_VALUE_EMPTY_ERROR);
    }
    return std::nullopt;
}

CheckResult BuildCameraPort(const KeyValues& kv, WORD& usPort)
{
    const std::string* pPort = Find(kv, "camera");
    if (pPort == nullptr)
        return MakeTextError("camera", "missing");
    return CheckCameraPort("camera", *pPort, usPort);
}

CheckResult BuildSwitch(const KeyValues& kv, const char* pszKey, bool& bValue)
{
    const std::string* pValue = Find(kv, pszKey);
    if (pValue == nullptr)
        return MakeTextError(pszKey, "missing");
    return ParseSwitch(pszKey, *pValue, bValue);
}

CheckResult BuildMotion(const KeyValues& kv, MotionInfo& info)
{
    long nThreshold = info.bThreshold;
    if (auto error = ApplyNumber(kv, "threshold", 1, 255, nThreshold))
        return error;
    info.bThreshold = static_cast<BYTE>(nThreshold);
    for (int i = 0; i < 3; ++i) {
        MotionRegion& region = info.region[i];
        const std::string strArea = "area" + std::to_string(i + 1);
        if (auto error = ApplySwitch(kv, strArea.c_str(), region.bEnable))
            return error;
        const std::string strRect = strArea + "_rect";
        if (const std::string* pRect = Find(kv, strRect.c_str())) {
            const std::vector<std::string> vecParts = SplitList(*pRect, ',');
            long an[4] = {};
            bool bOk = vecParts.size() == 4;
            for (std::size_t k = 0; bOk && k < 4; ++k)
                bOk = ParseDecimal(vecParts[k], an[k]) && an[k] >= 0 && an[k] <= 100;
            if (!bOk || an[0] > an[2] || an[1] > an[3])
                return bOk ? MakeError(strRect, IDS_HINT_MD_RECT_ORDER)
                           : MakeTextError(strRect, "expected left,top,right,bottom in percent");
            region.bLeft = static_cast<BYTE>(an[0]);
            region.bTop = static_cast<BYTE>(an[1]);
            region.bRight = static_cast<BYTE>(an[2]);
            region.bBottom = static_cast<BYTE>(an[3]);
        }
        const std::string strSens = strArea + "_sens";
        long nSens = region.bSensitivity;
        if (auto error = ApplyNumber(kv, strSens.c_str(), 60, 99, nSens))
            return error;
        region.bSensitivity = static_cast<BYTE>(nSens);
    }
    return std::nullopt;
}

CheckResult BuildTriggers(const KeyValues& kv, BYTE (&abTriggers)[4])
{
    const char* apszKeys[4] = {"area1", "area2", "area3", "di"};
    for (int i = 0; i < 4; ++i) {
        if (auto error = ApplySwitch(kv, apszKeys[i], abTriggers[i]))
            return error;
    }
    return std::nullopt;
}

CheckResult BuildMail(const KeyValues& kv, MailInfo& info)
{
    std::string strText;
    if (kv.contains("server")) {
        if (auto error = ApplyText(kv, "server", MAIL_FIELD_LEN - 1, IDS_HINT_EMAIL_INVALID, strText))
            return error;
        if (strText.empty())
            return MakeError("server", IDS_HINT_SERVER_EMPTY);
        CopyField(info.szServer, strText);
    }
    if (kv.contains("sender")) {
        if (auto error = ApplyText(kv, "sender", MAIL_FIELD_LEN - 1, IDS_HINT_EMAIL_INVALID, strText))
            return error;
        if (strText.find('@') == std::string::npos)
            return MakeError("sender", IDS_HINT_EMAIL_INVALID);
        CopyField(info.szSender, strText);
    }
    // Server log-in: an account and a password are needed only while authentication is on.
    BYTE byAuth = info.byValue != 0 ? 1 : 0;
    if (auto error = ApplySwitch(kv, "auth", byAuth))
        return error;
    std::string strAccount = FieldText(info.szSender2);
    if (auto error = ApplyText(kv, "account", sizeof(info.szSender2) - 1, IDS_HINT_ACCOUNT_EMPTY, strAccount))
        return error;
    std::string strPassword = FieldText(info.szText2);
    if (auto error =
            ApplyText(kv, "password", sizeof(info.szText2) - 1, IDS_HINT_PASSWORD_EMPTY, strPassword))
        return error;
    if (const std::string* pConfirm = Find(kv, "confirm"); pConfirm != nullptr && *pConfirm != strPassword)
        return MakeError("confirm", IDS_HINT_PASSWORD_UNEQUAL);
    if (byAuth != 0 && (kv.contains("auth") || kv.contains("account") || kv.contains("password"))) {
        if (strAccount.empty())
            return MakeError("account", IDS_HINT_ACCOUNT_EMPTY);
        if (strPassword.empty())
            return MakeError("password", IDS_HINT_PASSWORD_EMPTY);
    }
    // A camera's own value other than 1 means on as well; it stays.
    if (byAuth == 0 || info.byValue == 0)
        info.byValue = byAuth;
    CopyField(info.szSender2, strAccount);
    CopyField(info.szText2, strPassword);

    // The mail itself: a subject or a body, each within its field.
    std::string strSubject = FieldText(info.szText1);
    if (auto error = ApplyText(kv, "subject", sizeof(info.szText1) - 1, IDS_HINT_EMAIL_INVALID, strSubject))
        return error;
    std::string strMessage = FieldText(info.szMessage);
    if (auto error = ApplyText(kv, "message", sizeof(info.szMessage) - 1, IDS_HINT_EMAIL_INVALID, strMessage))
        return error;
    if ((kv.contains("subject") || kv.contains("message")) && strSubject.empty() && strMessage.empty())
        return MakeError(kv.contains("subject") ? "subject" : "message", IDS_HINT_EMAIL_EMPTY);
    CopyField(info.szText1, strSubject);
    CopyField(info.szMessage, strMessage);

    if (auto error = ApplySwitch(kv, "enable", info.abFlag[4]))
        return error;
    BYTE abEvents[4] = {info.abFlag[0], info.abFlag[1], info.abFlag[2], info.abFlag[3]};
    if (auto error = BuildTriggers(kv, abEvents))
        return error;
    std::copy(std::begin(abEvents), std::end(abEvents), info.abFlag);
    if (const std::string* pList = Find(kv, "recipients")) {
        std::vector<std::string> vecRecipients =
            pList->empty() ? std::vector<std::string>() : SplitList(*pList, ',');
        if (vecRecipients.size() > MAIL_MAX_RECIPIENTS)
            return MakeError("recipients", IDS_HINT_RECEIVER_FULL);
        for (const std::string& strRecipient : vecRecipients) {
            if (strRecipient.empty())
                return MakeError("recipients", IDS_HINT_EMAIL_EMPTY);
            if (strRecipient.find('@') == std::string::npos || !FitsField(strRecipient, MAIL_FIELD_LEN))
                return MakeError("recipients", IDS_HINT_EMAIL_INVALID);
        }
        std::memset(info.aszRecipient, 0, sizeof(info.aszRecipient));
        for (std::size_t i = 0; i < vecRecipients.size(); ++i)
            CopyField(info.aszRecipient[i], vecRecipients[i]);
        info.nRecipients = static_cast<signed char>(vecRecipients.size());
    }
    return std::nullopt;
}

CheckResult BuildQuality(const KeyValues& kv, bool bPal, DWORD& dwMode)
{
    return ApplyStream(kv, "", bPal, dwMode);
}

namespace {

bool IsHD(DWORD dwMode)
{
    return GetVideoQuality().GetResIndex(SessionModeResolution(dwMode)) == CVideoQuality::kResCount - 1;
}

} // namespace

bool OffersHD(bool bSupportsHD, DWORD dwCurrentMode)
{
    return bSupportsHD || IsHD(dwCurrentMode);
}

CheckResult CheckHD(bool bSupportsHD, DWORD dwCurrentMode, DWORD dwMode)
{
    if (IsHD(dwMode) && !OffersHD(bSupportsHD, dwCurrentMode))
        return MakeError("res", IDS_HINT_VALUE_EMPTY_ERROR);
    return std::nullopt;
}

CheckResult BuildRecord(const KeyValues& kv, bool bNas, RecordInfo& info)
{
    bool bPal = true;
    if (auto error = ParseStandard(kv, bPal))
        return error;
    if (auto error = ApplyStream(kv, "", bPal, info.dwSessionMode))
        return error;
    for (const auto& [pszKey, pbyValue] : {std::pair{"record", &info.abSingle[recordlayout::RECORD_ON]},
                                           {"audio", &info.abSingle[recordlayout::RECORD_AUDIO]},
                                           {"overwrite", &info.abSingle[recordlayout::RECORD_OVERWRITE]},
                                           {"bootup", &info.abThree[recordlayout::RECORD_BOOTUP]},
                                           {"manual", &info.abThree[recordlayout::RECORD_MANUAL]},
                                           {"schedule_on", &info.abThree[recordlayout::RECORD_SCHEDULE_ON]},
                                           {"event", &info.byOne}}) {
        if (auto error = ApplySwitch(kv, pszKey, *pbyValue))
            return error;
    }
    BYTE abEvents[4] = {info.abFour[0], info.abFour[1], info.abFour[2], info.abFour[3]};
    if (auto error = BuildTriggers(kv, abEvents))
        return error;
    std::copy(std::begin(abEvents), std::end(abEvents), info.abFour);
    if (const std::string* pSchedule = Find(kv, "schedule")) {
        BYTE abSchedule[24] = {};
        if (!ParseHexBytes(*pSchedule, abSchedule))
            return MakeTextError("schedule",
                                 "expected 48 hex digits: a byte per hour from 00:00, bit 0 Monday .. "
                                 "bit 6 Sunday");
        std::copy(std::begin(abSchedule), std::end(abSchedule), info.abSchedule);
    }
    if (!bNas)
        return std::nullopt;

    // NAS: value B holds the server address, value A the storage limit in MB.
    if (const std::string* pIP = Find(kv, "ip")) {
        DWORD dwIP = 0;
        if (!ParseIPv4Strict(*pIP, dwIP) || dwIP == 0 || dwIP == 0xFFFFFFFF)
            return MakeError("ip", IDS_HINT_NAS_IP_INVALID);
        info.dwValueB = dwIP;
    }
    if (const std::string* pSize = Find(kv, "size")) {
        long nSize = 0;
        if (!ParseDecimal(*pSize, nSize) || nSize <= 0)
            return MakeError("size", IDS_HINT_NAS_SIZE_EMPTYP);
        info.dwValueA = static_cast<DWORD>(nSize);
    }
    if (const std::string* pPath = Find(kv, "path")) {
        if (pPath->empty() || !FitsField(*pPath, sizeof(info.szNasPath)))
            return MakeError("path", IDS_HINT_NAS_PATH_EMPTY);
        CopyField(info.szNasPath, *pPath);
    }
    if (const std::string* pAccount = Find(kv, "account")) {
        if (pAccount->empty() || !FitsField(*pAccount, sizeof(info.szNasAccount)))
            return MakeError("account", IDS_HINT_NAS_ACCOUNT_EMPTY);
        CopyField(info.szNasAccount, *pAccount);
    }
    const std::string* pPassword = Find(kv, "password");
    const std::string* pConfirm = Find(kv, "confirm");
    if (pPassword != nullptr || pConfirm != nullptr) {
        const std::string strPassword = pPassword != nullptr ? *pPassword : std::string();
        if ((pConfirm != nullptr ? *pConfirm : std::string()) != strPassword ||
            !FitsField(strPassword, sizeof(info.szNasPassword)))
            return MakeError("confirm", IDS_HINT_NAS_PASSWORD_UNEQUAL);
        CopyField(info.szNasPassword, strPassword);
    }
    return std::nullopt;
}

CheckResult BuildRtsp(const KeyValues& kv, const RtspInfo& current, RtspRequest& request)
{
    bool bPal = true;
    if (auto error = ParseStandard(kv, bPal))
        return error;
    BYTE byAuth = current.bEnableAuthenticate;
    if (auto error = ApplySwitch(kv, "auth", byAuth))
        return error;
    request.bAuthenticate = byAuth != 0;
    request.dwMainMode = MakeSessionMode(current.usMainBitrate, current.ucMainFps, current.ucMainResolution);
    request.dwSubMode = MakeSessionMode(current.usSubBitrate, current.ucSubFps, current.ucSubResolution);
    if (auto error = ApplyStream(kv, "main_", bPal, request.dwMainMode))
        return error;
    return ApplyStream(kv, "sub_", bPal, request.dwSubMode);
}

CheckResult BuildSnapshot(const KeyValues& kv, const SnapshotServerInfo& current, SnapshotRequest& request)
{
    BYTE byEnable = current.bEnableSnapshotServer;
    if (auto error = ApplySwitch(kv, "enable", byEnable))
        return error;
    long nCount = current.ucPicCount;
    if (auto error = ApplyNumber(kv, "count", SNAPSHOT_COUNT_MIN, SNAPSHOT_COUNT_MAX, nCount))
        return error;
    long nInterval = current.usTimeInterval;
    if (auto error = ApplyNumber(kv, "interval", SNAPSHOT_INTERVAL_MIN, SNAPSHOT_INTERVAL_MAX, nInterval))
        return error;
    long nPort = static_cast<long>(current.ulServerPort);
    if (auto error = ApplyNumber(kv, "port", SNAPSHOT_PORT_MIN, SNAPSHOT_PORT_MAX, nPort))
        return error;
    DWORD dwServer = current.ulServerIP;
    if (const std::string* pServer = Find(kv, "server")) {
        if (auto error = CheckAddress("server", *pServer, true, dwServer))
            return error;
    }
    BYTE byMode = static_cast<BYTE>(current.bRegion1Send | (current.bRegion2Send << 1) |
                                    (current.bRegion3Send << 2) | (current.bRegionDISend << 3) |
                                    (current.b485Send << 4) | (current.bSendInTimer << 5));
    if (const std::string* pTriggers = Find(kv, "triggers")) {
        byMode = 0;
        static const char* const apszNames[6] = {"motion1", "motion2", "motion3", "di", "485", "intime"};
        for (const std::string& strName :
             pTriggers->empty() ? std::vector<std::string>() : SplitList(*pTriggers, ',')) {
            const auto* pFound = std::find(std::begin(apszNames), std::end(apszNames), strName);
            if (pFound == std::end(apszNames))
                return MakeTextError("triggers", "unknown trigger " + strName);
            byMode |= static_cast<BYTE>(1u << (pFound - std::begin(apszNames)));
        }
    }
    long nRes = current.ucPicResolution;
    if (const std::string* pRes = Find(kv, "res")) {
        if (!ParseDecimal(*pRes, nRes) || nRes < 0 || nRes > 8)
            return MakeError("res", IDS_HINT_VALUE_EMPTY_ERROR);
    }
    // Switching the server on needs somewhere to send to.
    if (byEnable && (dwServer == 0 || dwServer == 0xFFFFFFFF))
        return MakeError("server", IDS_HINT_INVALIDIP);
    if (byEnable &&
        (nCount < SNAPSHOT_COUNT_MIN || nInterval < SNAPSHOT_INTERVAL_MIN || nPort < SNAPSHOT_PORT_MIN)) {
        const char* pszKey = nCount < SNAPSHOT_COUNT_MIN         ? "count"
                             : nInterval < SNAPSHOT_INTERVAL_MIN ? "interval"
                                                                 : "port";
        const long nMax = nCount < SNAPSHOT_COUNT_MIN         ? SNAPSHOT_COUNT_MAX
                          : nInterval < SNAPSHOT_INTERVAL_MIN ? SNAPSHOT_INTERVAL_MAX
                                                              : SNAPSHOT_PORT_MAX;
        return RangeError(pszKey, 1, nMax);
    }
    request.ucEnable = static_cast<BYTE>((byEnable ? 1 : 0) | (nCount << 1));
    request.ucMode = byMode;
    request.usParam = static_cast<WORD>(nInterval);
    request.ulServerIP = dwServer;
    request.ulServerPort = static_cast<DWORD>(nPort);
    request.ulSessionMode = MakeSessionMode(0, 0, static_cast<DWORD>(nRes));
    return std::nullopt;
}

CheckResult BuildTimeFormat(const KeyValues& kv, BYTE& byFormat)
{
    const std::string* pFormat = Find(kv, "format");
    if (pFormat == nullptr)
        return MakeTextError("format", "missing");
    long nFormat = 0;
    if (auto error = CheckNumber("format", *pFormat, 0, 255, nFormat))
        return error;
    byFormat = static_cast<BYTE>(nFormat);
    return std::nullopt;
}

CheckResult BuildMicrophone(const KeyValues& kv, MicrophoneRequest& request)
{
    long nVolume = request.bVolMicrophone;
    if (auto error = ApplyNumber(kv, "volume", 0, 100, nVolume))
        return error;
    request.bVolMicrophone = static_cast<BYTE>(nVolume);
    BYTE byEnable = request.bMicEnable;
    if (auto error = ApplySwitch(kv, "enable", byEnable))
        return error;
    request.bMicEnable = byEnable != 0;
    long nType = request.bMicrophoneType;
    if (auto error = ApplyNumber(kv, "type", 0, 255, nType))
        return error;
    request.bMicrophoneType = static_cast<BYTE>(nType);
    return std::nullopt;
}

void GetPcClock(DWORD& dwUtc, LONG& nOffsetMinutes)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    dwUtc = static_cast<DWORD>(now);
    nOffsetMinutes = static_cast<LONG>(local.tm_gmtoff / 60);
}
