#include "app/cli/clidevice.h"

#include "core/configfile.h"
#include "device/settinggroups.h"
#include "platform/codepage.h"
#include "platform/netif.h"

#include <cstdio>
#include <sstream>

using nlohmann::json;

namespace {

bool IsChild(const DeviceInfo& device)
{
    return device.enCameraType == CAMERA_TYPE_CHILD;
}
bool IsParent(const DeviceInfo& device)
{
    return device.enCameraType == CAMERA_TYPE_PARENT;
}

std::string FixedText(const char* pText, std::size_t nMax)
{
    std::size_t n = 0;
    while (n < nMax && pText[n] != 0)
        ++n;
    return std::string(pText, n);
}

template <std::size_t N> std::string Text(const char (&szText)[N])
{
    return FixedText(szText, N);
}

std::string Hex(const BYTE* pData, std::size_t nLen)
{
    static const char* const kDigits = "0123456789abcdef";
    std::string strOut;
    for (std::size_t i = 0; i < nLen; ++i) {
        strOut += kDigits[pData[i] >> 4];
        strOut += kDigits[pData[i] & 15];
    }
    return strOut;
}

json StreamJson(DWORD dwMode)
{
    return {{"fps", SessionModeFrameRate(dwMode)},
            {"res", SessionModeResolution(dwMode)},
            {"bps", SessionModeBitrate(dwMode)},
            {"session_mode", dwMode}};
}

json RecordJson(const RecordInfo& record, bool bNas)
{
    json j = StreamJson(record.dwSessionMode);
    j["value_a"] = record.dwValueA;
    j["c"] = record.byC;
    j["schedule"] = Hex(record.abSchedule, sizeof(record.abSchedule));
    if (bNas) {
        j["ip"] = IPv4Text(record.dwValueB);
        j["size"] = record.dwValueA;
        j["path"] = Text(record.szNasPath);
        j["account"] = Text(record.szNasAccount);
    } else {
        j["d"] = record.byD;
    }
    return j;
}

json GroupJson(const char* pszName, const DeviceInfo& d)
{
    const std::string strName = pszName;
    if (strName == "volume")
        return {{"mic_type", d.stMicrophone.bMicrophoneType},
                {"mic_volume", d.stMicrophone.bVolMicrophone},
                {"speaker_volume", d.stMicrophone.bVolSpeaker},
                {"mic_enable", d.stMicrophone.bMicEnable},
                {"speaker_enable", d.stMicrophone.bSpkEnable}};
    if (strName == "capability")
        return {{"type", d.stSensorCap.dwCameraType},
                {"subtype", d.stSensorCap.dwCameraSubType},
                {"ui_type", d.stSensorCap.dwCameraUIType},
                {"capability", d.stSensorCap.dwCapability}};
    if (strName == "version")
        return {{"firmware", FixedText(d.szVersion, sizeof(d.szVersion))}};
    if (strName == "dserver")
        return {{"server", Text(d.stDServer.szServer)},
                {"server2", Text(d.stDServer.szServer2)},
                {"state", Hex(d.stDServer.abyState, sizeof(d.stDServer.abyState))}};
    if (strName == "upnp")
        return {{"state", Hex(d.stUpnp.abValue, sizeof(d.stUpnp.abValue))},
                {"low", d.stUpnp.byLow},
                {"high", d.stUpnp.byHigh},
                {"value1", d.stUpnp.usValue1},
                {"value2", d.stUpnp.usValue2}};
    if (strName == "presets") {
        json presets = json::object();
        if (d.pPresetInfo != nullptr) {
            for (const auto& [dwNumber, strName2] : d.pPresetInfo->mapPresets)
                presets[std::to_string(dwNumber)] = strName2;
        }
        return {{"presets", presets}};
    }
    if (strName == "autoscan")
        return {{"scanning", d.bScanning}};
    if (strName == "autoscan_schedule")
        return {{"named", d.stAutoScanSchedule.byNamedCount},
                {"periods", d.stAutoScanSchedule.byPeriodCount}};
    if (strName == "sensor_9900")
        return {{"k", d.bT9QK}, {"l", d.bT9QL}, {"m", d.bT9QM}, {"n", d.bT9QN}};
    if (strName == "sensor_9p031")
        return {{"mode", d.bT9QXMode},           {"frequency", d.bT9QXFreq},
                {"vertical", d.bT9QXVertical},   {"horizontal", d.bT9QXHorizontal},
                {"sharpness", d.bT9QXSharpness}, {"target", d.bT9QXTargetY}};
    if (strName == "video_report") {
        json words = json::array();
        for (const DWORD dw : d.stVideoReport.adwWord)
            words.push_back(dw);
        return {{"words", words}};
    }
    if (strName == "ports")
        return {{"camera", d.stPort.usPort1}, {"app", d.stPort.usPort2}, {"mobile", d.stPort.usPort3}};
    if (strName == "network") {
        const NetParamRecord& n = d.stNetParam;
        const char* pszMode = n.ucConnType == LAN_CONN_STATIC  ? "static"
                              : n.ucConnType == LAN_CONN_DHCP  ? "dhcp"
                              : n.ucConnType == LAN_CONN_PPPOE ? "pppoe"
                                                               : "unknown";
        return {{"mode", pszMode},
                {"conn_type", n.ucConnType},
                {"ip", IPv4Text(n.dwIP)},
                {"mask", IPv4Text(n.dwNetmask)},
                {"gateway", IPv4Text(n.dwGateway)},
                {"dns1", IPv4Text(n.dwDNS1)},
                {"dns2", IPv4Text(n.dwDNS2)},
                {"manual_dns", n.dwManualDNS},
                {"pppoe_user", Text(n.szPPPoEAccount)}};
    }
    if (strName == "wifi") {
        json j = json::object();
        if (d.pWifiRecord != nullptr) {
            const WifiSettingsBlock& b = d.pWifiRecord->stBlock;
            j["ssid"] = FixedText(b.Ssid, std::min<std::size_t>(b.SsidLength, sizeof(b.Ssid)));
            j["type"] = b.NetworkType == 1 ? "adhoc" : "infra";
            j["channel"] = b.AdhocChannel;
            j["auth"] = b.AuthMode;
            j["enc"] = b.EncType;
            json survey = json::array();
            for (std::size_t i = 0; i < d.pWifiRecord->SurveyCount(); ++i) {
                const WifiSurveyEntry* p = d.pWifiRecord->SurveyEntry(i);
                survey.push_back(p->SsidLength == 0 || p->SsidLength > 32
                                     ? std::string()
                                     : std::string(p->Ssid, p->SsidLength));
            }
            j["survey"] = survey;
        }
        return j;
    }
    if (strName == "3g") {
        json j = json::object();
        if (d.pThreeGRecord != nullptr) {
            const ThreeGRecord& t = *d.pThreeGRecord;
            j = {{"connect_type", t.bConnectType},
                 {"dial", t.bUseDefaultDial ? "default" : "custom"},
                 {"apn", Text(t.szAPN)},
                 {"tel", Text(t.szTelNum)},
                 {"account", Text(t.szAccount)}};
        }
        return j;
    }
    if (strName == "3g_status")
        return {{"dial", d.st3GStatus.unDial},
                {"signal", d.st3GStatus.unSignal},
                {"sim", d.st3GStatus.unSimState},
                {"network", d.st3GStatus.unNetwork}};
    if (strName == "time_format")
        return {{"format", d.bTimeFormat}};
    if (strName == "ntp") {
        const NtpInfo& n = d.stNtp;
        char szZone[16];
        const int nAbs = n.nTimeZone < 0 ? -n.nTimeZone : n.nTimeZone;
        std::snprintf(szZone, sizeof(szZone), "%c%02d:%02d", n.nTimeZone < 0 ? '-' : '+', nAbs / 60,
                      nAbs % 60);
        const char* pszDst = n.byDstMode == 1 ? "date" : n.byDstMode == 2 ? "weekday" : "off";
        return {{"sync", n.usNtpSync},
                {"zone", szZone},
                {"zone_minutes", n.nTimeZone},
                {"server", Text(n.szNtpServer)},
                {"dst", pszDst},
                {"dst_words", {n.dwMode1Start, n.dwMode1End, n.dwMode2Start, n.dwMode2End}}};
    }
    if (strName == "motion") {
        json regions = json::array();
        for (const MotionRegion& r : d.stMotion.region)
            regions.push_back({{"rect", {r.bLeft, r.bTop, r.bRight, r.bBottom}},
                               {"sensitivity", r.bSensitivity},
                               {"enable", r.bEnable}});
        return {{"threshold", d.stMotion.bThreshold}, {"regions", regions}};
    }
    if (strName == "snapshot_server") {
        const SnapshotServerInfo& s = d.stSnapshotServer;
        return {{"enable", s.bEnableSnapshotServer},
                {"count", s.ucPicCount},
                {"interval", s.usTimeInterval},
                {"server", IPv4Text(s.ulServerIP)},
                {"port", s.ulServerPort},
                {"res", s.ucPicResolution},
                {"triggers",
                 {{"motion1", s.bRegion1Send},
                  {"motion2", s.bRegion2Send},
                  {"motion3", s.bRegion3Send},
                  {"di", s.bRegionDISend},
                  {"485", s.b485Send},
                  {"intime", s.bSendInTimer}}}};
    }
    if (strName == "mail") {
        json recipients = json::array();
        for (int i = 0; i < MAIL_MAX_RECIPIENTS && i < d.stMail.nRecipients; ++i)
            recipients.push_back(Text(d.stMail.aszRecipient[i]));
        return {{"server", Text(d.stMail.szServer)},
                {"sender", Text(d.stMail.szSender)},
                {"message", Text(d.stMail.szMessage)},
                {"recipients", recipients}};
    }
    if (strName == "do")
        return {{"do", {d.stDo.abDo[0], d.stDo.abDo[1], d.stDo.abDo[2], d.stDo.abDo[3]}},
                {"sms", {d.stDo.abSms[0], d.stDo.abSms[1], d.stDo.abSms[2], d.stDo.abSms[3]}}};
    if (strName == "alarm_time")
        return {{"enable", d.stAlarmTime.dwEnable}, {"period", d.stAlarmTime.dwPeriod}};
    if (strName == "sd_record")
        return RecordJson(d.stRecordSD, false);
    if (strName == "sd_info")
        return {{"capacity", d.stSDInfo.dwCapacity},
                {"recorded", d.stSDInfo.dwRecorded},
                {"remaining", d.stSDInfo.dwRemaining},
                {"state", d.stSDInfo.byState}};
    if (strName == "nas_record")
        return RecordJson(d.stRecordNas, true);
    return json::object();
}

} // namespace

std::vector<QueryGroup> ApplicableQueryGroups(const DeviceInfo& device, const DeviceInfo* pParent)
{
    const bool bChild = IsChild(device);
    const bool bParent = IsParent(device);
    const DeviceQueryBlock& q = device.stQuery;
    std::vector<QueryGroup> vec;
    auto add = [&vec](bool bApplies, const char* pszName, BYTE DeviceQueryBlock::*pFlag) {
        if (bApplies)
            vec.push_back({pszName, pFlag});
    };
    add(!bChild, "volume", &DeviceQueryBlock::bCmdGetVolume);
    add(!bChild, "capability", &DeviceQueryBlock::bCmdGetSensor);
    add(!bChild, "version", &DeviceQueryBlock::bCmdGetVersion);
    add(!bChild, "dserver", &DeviceQueryBlock::bCmdGetDServerIP);
    add(!bChild, "upnp", &DeviceQueryBlock::bCmdGetUpnpStatus);
    add(!bChild, "presets", &DeviceQueryBlock::bCmdGetPreset);
    add(true, "autoscan", &DeviceQueryBlock::bCmdGetAutoScan);
    add(!bChild, "autoscan_schedule", &DeviceQueryBlock::bCmdAutoScanSchedule);
    const DWORD dwUI = device.stSensorCap.dwCameraUIType;
    add(q.bCmdGetSensor && dwUI == CAMERA_UI_TYPE_D, "sensor_9900", &DeviceQueryBlock::bCmdGetT9QY);
    add(q.bCmdGetSensor && (dwUI == CAMERA_UI_TYPE_M || dwUI == CAMERA_UI_TYPE_HD), "sensor_9p031",
        &DeviceQueryBlock::bCmdGetT9QX);
    const bool bReport = (device.enCameraType == CAMERA_TYPE_SINGLE && q.bCmdGetSensor) ||
                         (bChild && pParent != nullptr && pParent->stQuery.bCmdGetSensor);
    add(bReport, "video_report", &DeviceQueryBlock::bCmdGetVideoReport);
    add(!bChild, "ports", &DeviceQueryBlock::bCmdGetCameraPort);
    add(!bChild, "network", &DeviceQueryBlock::bCmdGetNetParam);
    add(q.bHasWifi && !bChild, "wifi", &DeviceQueryBlock::bCmdGetWirelessParam);
    add(q.bHas3G && !bChild, "3g", &DeviceQueryBlock::bCmdGet3GQuery);
    add(q.bHas3G && !bChild, "3g_status", &DeviceQueryBlock::bCmdGet3GStatus);
    add(!bParent, "time_format", &DeviceQueryBlock::bCmdGetTimeFormat);
    add(!bChild, "ntp", &DeviceQueryBlock::bCmdGetNTP);
    add(!bParent, "motion", &DeviceQueryBlock::bCmdGetMotion);
    add(!bParent, "snapshot_server", &DeviceQueryBlock::bCmdGetSnapshotServer);
    add(!bParent, "mail", &DeviceQueryBlock::bCmdGetMailInfo);
    add(!bParent, "do", &DeviceQueryBlock::bCmdGetDoInfo);
    add(!bParent, "alarm_time", &DeviceQueryBlock::bCmdGetAlarmTime);
    add(!bParent, "sd_record", &DeviceQueryBlock::bCmdGetRecordSD);
    add(!bParent, "sd_info", &DeviceQueryBlock::bCmdGetSDInfo);
    add(!bParent, "nas_record", &DeviceQueryBlock::bCmdGetRecordNas);
    return vec;
}

bool IsQueryGroupName(const std::string& strName)
{
    // Every group shows for one of these: a camera with everything, each family, a channel.
    DeviceInfo probe;
    probe.enCameraType = CAMERA_TYPE_SINGLE;
    probe.stQuery.bHasWifi = probe.stQuery.bHas3G = probe.stQuery.bCmdGetSensor = 1;
    for (DWORD dwUI : {CAMERA_UI_TYPE_D, CAMERA_UI_TYPE_M}) {
        probe.stSensorCap.dwCameraUIType = dwUI;
        for (const QueryGroup& group : ApplicableQueryGroups(probe, nullptr)) {
            if (strName == group.pszName)
                return true;
        }
    }
    return false;
}

std::vector<std::string> MissingQueryGroups(const DeviceInfo& device, const DeviceInfo* pParent)
{
    std::vector<std::string> vec;
    for (const QueryGroup& group : ApplicableQueryGroups(device, pParent)) {
        if (!(device.stQuery.*group.pFlag))
            vec.emplace_back(group.pszName);
    }
    return vec;
}

bool IsQueryDone(const DeviceInfo& device, const DeviceInfo* pParent)
{
    return device.stQuery.nQueryPass >= 4 || MissingQueryGroups(device, pParent).empty();
}

namespace {

// Set groups that info shows under another name.
constexpr std::pair<const char*, const char*> kInfoNames[] = {
    {"port", "ports"},
    {"sd", "sd_record"},
    {"nas", "nas_record"},
    {"snapshot", "snapshot_server"},
    {"timeformat", "time_format"},
    {"microphone", "volume"},
    {"sms", "do"},
};

} // namespace

std::string SetGroupName(const std::string& strName)
{
    if (FindSettingGroup(strName) != nullptr)
        return strName;
    for (const auto& [pszSet, pszInfo] : kInfoNames) {
        // "do" is a set group of its own; its info group also holds the SMS triggers.
        if (strName == pszInfo && FindSettingGroup(pszSet) != nullptr && strName != "do")
            return pszSet;
    }
    return std::string();
}

std::string InfoGroupName(const std::string& strSetGroup)
{
    for (const auto& [pszSet, pszInfo] : kInfoNames) {
        if (strSetGroup == pszSet)
            return pszInfo;
    }
    return strSetGroup;
}

bool SetGroupApplies(const std::string& strSetGroup, const DeviceInfo& device, const DeviceInfo* pParent)
{
    if (strSetGroup == "name" || strSetGroup == "password")
        return true;
    if (strSetGroup == "rtsp")
        return !IsParent(device);
    const std::string strInfo = InfoGroupName(strSetGroup);
    for (const QueryGroup& group : ApplicableQueryGroups(device, pParent)) {
        if (strInfo == group.pszName)
            return true;
    }
    return false;
}

bool WifiSettingsMatch(const WifiSettingsBlock& a, const WifiSettingsBlock& b)
{
    const auto ssid = [](const WifiSettingsBlock& w) {
        return std::string(w.Ssid, std::min<std::size_t>(w.SsidLength, sizeof(w.Ssid)));
    };
    return a.NetworkType == b.NetworkType && ssid(a) == ssid(b) && a.WEPKeyDefIndex == b.WEPKeyDefIndex &&
           FixedText(a.WPAPSKKey, sizeof(a.WPAPSKKey)) == FixedText(b.WPAPSKKey, sizeof(b.WPAPSKKey)) &&
           a.AuthMode == b.AuthMode && a.EncType == b.EncType && a.AdhocChannel == b.AdhocChannel;
}

std::string DeviceNameUtf8(const DeviceInfo& device)
{
    return WideToUtf8(std::u16string(device.GetName()));
}

std::string IPv4Text(DWORD dwIP)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "%u.%u.%u.%u", (dwIP >> 24) & 255, (dwIP >> 16) & 255, (dwIP >> 8) & 255,
                  dwIP & 255);
    return sz;
}

const char* KindText(DWORD enCameraType)
{
    switch (enCameraType) {
    case CAMERA_TYPE_SINGLE:
        return "camera";
    case CAMERA_TYPE_PARENT:
        return "recorder";
    case CAMERA_TYPE_CHILD:
        return "channel";
    default:
        return "unknown";
    }
}

std::string FoundByText(const DeviceInfo& device)
{
    const SearchItem& item = device.stItem;
    if (device.enCameraType == CAMERA_TYPE_CHILD)
        return "recorder";
    // A reply from outside every local /24 can only have come through the capture.
    bool bLocal = false;
    for (const DWORD dwLocal : GetLocalIPv4Addresses())
        bLocal = bLocal || (dwLocal & 0xFFFFFF00) == (item.dwIP & 0xFFFFFF00);
    if (!bLocal)
        return "capture";
    std::string strText;
    if (item.bFoundByMulticast)
        strText = "multicast";
    if (item.bFoundBySweep)
        strText += strText.empty() ? "sweep" : "+sweep";
    return strText.empty() ? "none" : strText;
}

json DeviceSummaryJson(const DeviceInfo& device, const CConfigCameraType& types)
{
    const SearchItem& item = device.stItem;
    json j;
    j["id"] = device.GetID();
    j["serial"] = FixedText(item.szSerial, VIEWER_SERIAL_LEN);
    j["name"] = DeviceNameUtf8(device);
    j["kind"] = KindText(device.enCameraType);
    j["address"] = device.enCameraType == CAMERA_TYPE_CHILD ? std::string() : IPv4Text(item.dwIP);
    j["present"] = device.bIsExist != 0;
    const int nType = static_cast<int>(device.stSensorCap.dwCameraType);
    j["model"] = device.stQuery.bCmdGetSensor
                     ? types.GetCameraTypeName(nType, static_cast<int>(device.stSensorCap.dwCameraSubType),
                                               device.stQuery.bHasWifi != 0)
                     : std::string();
    j["ui_family"] = device.stSensorCap.dwCameraUIType;
    j["firmware"] =
        device.stQuery.bCmdGetVersion ? FixedText(device.szVersion, sizeof(device.szVersion)) : std::string();
    j["found_by"] = FoundByText(device);
    j["encrypted"] = item.bEncrypted != 0;
    j["has_password"] = device.stPassword.HasPassword();
    j["sd"] = item.bHasSD != 0;
    j["wifi"] = item.bHasWifi != 0;
    j["3g"] = item.bHas3G != 0;
    if (!device.vecChildren.empty()) {
        json children = json::array();
        for (const auto& pChild : device.vecChildren)
            children.push_back(DeviceSummaryJson(*pChild, types));
        j["children"] = children;
    }
    return j;
}

json DeviceInfoJson(const DeviceInfo& device, const DeviceInfo* pParent, const CConfigCameraType& types)
{
    json j = DeviceSummaryJson(device, types);
    j.erase("children");
    json groups = json::object();
    json missing = json::array();
    for (const QueryGroup& group : ApplicableQueryGroups(device, pParent)) {
        if (device.stQuery.*group.pFlag) {
            json g = GroupJson(group.pszName, device);
            g["answered"] = true;
            groups[group.pszName] = g;
        } else {
            groups[group.pszName] = {{"answered", false}};
            missing.push_back(group.pszName);
        }
    }
    j["groups"] = groups;
    j["missing"] = missing;
    j["query_passes"] = device.stQuery.nQueryPass;
    return j;
}

std::string SummaryTable(const std::vector<json>& vecRows)
{
    std::ostringstream out;
    char szLine[512];
    std::snprintf(szLine, sizeof(szLine), "%-11s %-20s %-20s %-15s %-10s %-3s %-10s %-16s %-4s %-4s %s\n",
                  "ID", "SERIAL", "NAME", "ADDRESS", "MODEL", "UI", "FIRMWARE", "FOUND", "ENC", "PWD",
                  "SD/WIFI/3G");
    out << szLine;
    auto row = [&](const json& r, const char* pszIndent) {
        const std::string strFlags = std::string(r["sd"].get<bool>() ? "sd" : "-") + "/" +
                                     (r["wifi"].get<bool>() ? "wifi" : "-") + "/" +
                                     (r["3g"].get<bool>() ? "3g" : "-");
        std::snprintf(szLine, sizeof(szLine),
                      "%s%-*u %-20s %-20s %-15s %-10s %-3u %-10s %-16s %-4s %-4s %s\n", pszIndent,
                      static_cast<int>(11 - std::string(pszIndent).size()), r["id"].get<unsigned>(),
                      r["serial"].get<std::string>().c_str(), r["name"].get<std::string>().c_str(),
                      r["address"].get<std::string>().c_str(), r["model"].get<std::string>().c_str(),
                      r["ui_family"].get<unsigned>(), r["firmware"].get<std::string>().c_str(),
                      r["found_by"].get<std::string>().c_str(), r["encrypted"].get<bool>() ? "yes" : "no",
                      r["has_password"].get<bool>() ? "yes" : "no", strFlags.c_str());
        out << szLine;
    };
    for (const json& r : vecRows) {
        row(r, "");
        if (r.contains("children")) {
            for (const json& c : r["children"])
                row(c, "  ");
        }
    }
    return out.str();
}

std::string FlattenJson(const json& value, const std::string& strPrefix)
{
    std::string strOut;
    if (value.is_object()) {
        for (const auto& [strKey, child] : value.items())
            strOut += FlattenJson(child, strPrefix.empty() ? strKey : strPrefix + "." + strKey);
        return strOut;
    }
    return strPrefix + ": " + (value.is_string() ? value.get<std::string>() : value.dump()) + "\n";
}
