#include "camera.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace camsim {

using nlohmann::json;

bool Camera::HasPassword() const
{
    const Camera& o = PasswordOwner();
    return std::any_of(o.password.begin(), o.password.end(), [](std::uint8_t b) { return b != 0; });
}

void Camera::RecomputeCheckValue()
{
    // No password: the camera announces an all-zero check value.
    if (std::all_of(password.begin(), password.end(), [](std::uint8_t b) { return b == 0; }))
        checkValue.fill(0);
    else
        checkValue = CheckValue(password, adwSeq, bEncryptVersion);
}

namespace {

std::string Latin1ToUtf8(const std::uint8_t* p, std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n && p[i]; ++i) {
        if (p[i] < 0x80) {
            s.push_back(static_cast<char>(p[i]));
        } else {
            s.push_back(static_cast<char>(0xC0 | (p[i] >> 6)));
            s.push_back(static_cast<char>(0x80 | (p[i] & 0x3F)));
        }
    }
    return s;
}

// False when the text holds a character that Latin-1 cannot carry.
bool Utf8ToLatin1(const std::string& s, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<std::uint8_t>(s[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
            const unsigned v = ((c & 0x1Fu) << 6) | (static_cast<std::uint8_t>(s[i + 1]) & 0x3Fu);
            if (v > 0xFF)
                return false;
            out.push_back(static_cast<char>(v));
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

std::string Hex(const std::uint8_t* p, std::size_t n)
{
    return ToHex(p, n);
}

template <std::size_t N> std::string Hex(const std::array<std::uint8_t, N>& a)
{
    return ToHex(a.data(), N);
}

json CountMap(const std::map<int, std::uint64_t>& m, bool bHex)
{
    json j = json::object();
    for (const auto& [k, v] : m) {
        char buf[24];
        std::snprintf(buf, sizeof buf, bHex ? "0x%x" : "%d", k);
        j[buf] = v;
    }
    return j;
}

json RecordJson(const RecordSettings& r, bool bNas)
{
    json j = {{"block", Hex(r.block)},
              {"a", r.dwA},
              {"c", r.bC},
              {"d", r.bD},
              {"three", Hex(r.three)},
              {"three2", Hex(r.three2)},
              {"one", r.bOne},
              {"four", Hex(r.four)},
              {"schedule", Hex(r.schedule)},
              {"trailing", Hex(r.trailing)},
              {"session_mode", r.dwSessionMode}};
    if (bNas) {
        j["b"] = r.dwB;
        j["path"] = r.strPath;
        j["account"] = r.strAccount;
        j["password"] = r.strPassword;
        j["final"] = r.bFinal;
    }
    return j;
}

json CameraJson(const Camera& c)
{
    json j;
    j["index"] = c.nIndex;
    j["id"] = c.dwId;
    j["serial"] = c.strSerial;
    j["name"] = c.NameText();
    j["name_field"] = Hex(c.nameField);
    j["address"] = AddrToText(c.dwAddr);
    j["online"] = c.bOnline;
    j["rebooting"] = c.uBackAt != 0;
    j["video_status"] = c.dwVideoStatus;
    j["has_password"] = c.HasPassword();
    if (!c.IsChild()) {
        j["password"] = PasswordText(c.password);
        j["check_value"] = Hex(c.checkValue);
        j["sequence_ids"] = {c.adwSeq[0], c.adwSeq[1]};
        j["encrypt_version"] = c.bEncryptVersion;
    }
    j["firmware"] = c.strFirmware;
    j["video"] = {{"active", c.video.bActive}, {"pc_address", AddrToText(c.video.dwPcAddr)},
                  {"port", c.video.usPort},    {"stream_type", c.video.bStreamType},
                  {"starts", c.video.uStarts}, {"stops", c.video.uStops}};
    json s;
    s["volume"] = {{"spk_enable", c.volume.bSpkEnable},
                   {"vol_speaker", c.volume.bVolSpeaker},
                   {"mic_enable", c.volume.bMicEnable},
                   {"vol_microphone", c.volume.bVolMicrophone},
                   {"microphone_type", c.volume.bMicrophoneType}};
    s["motion"] = {{"threshold", c.motion.bThreshold},
                   {"regions", {c.motion.adwRegion[0], c.motion.adwRegion[1], c.motion.adwRegion[2]}},
                   {"sensitivity", c.motion.dwSensitivity}};
    s["time_format"] = c.bTimeFormat;
    s["alarm_time"] = {{"enable", c.dwAlarmEnable}, {"period", c.dwAlarmPeriod}};
    s["scanning"] = c.bScanning;
    json presets = json::object();
    for (const auto& [k, v] : c.presets)
        presets[std::to_string(k)] = v;
    s["presets"] = presets;
    s["snapshot_server"] = {{"enable", c.snapshot.ucEnable},
                            {"mode", c.snapshot.ucMode},
                            {"param", c.snapshot.usParam},
                            {"server_ip", AddrToText(c.snapshot.ulServerIP)},
                            {"server_port", c.snapshot.ulServerPort},
                            {"session_mode", c.snapshot.ulSessionMode}};
    s["rtsp"] = {{"enable", c.rtsp.ulEnable},
                 {"session_mode", c.rtsp.ulSessionMode},
                 {"sub_session_mode", c.rtsp.ulSubSessionMode}};
    s["sd_record"] = RecordJson(c.sdRecord, false);
    s["nas_record"] = RecordJson(c.nasRecord, true);
    s["mail"] = {{"server1", c.mail.strServer1}, {"server2", c.mail.strServer2},
                 {"sender", c.mail.strSender},   {"flags", c.mail.bFlags},
                 {"message", c.mail.strMessage}, {"recipients", c.mail.recipients}};
    // The fields the client names: authentication, account, subject and password.
    s["mail"].update({{"byte", c.mail.bByte},
                      {"sender2", c.mail.strSender2},
                      {"text128", c.mail.strText128},
                      {"text64", c.mail.strText64}});
    s["alarm_outputs"] = {c.abDo[0], c.abDo[1]};
    s["ntp"] = {{"sync", c.ntp.usSync},
                {"time_zone", c.ntp.sTimeZone},
                {"server", c.ntp.strServer},
                {"dst_mode", c.ntp.bDstMode},
                {"dst", {c.ntp.adwDst[0], c.ntp.adwDst[1], c.ntp.adwDst[2], c.ntp.adwDst[3]}},
                {"final", c.ntp.bFinal}};
    json named = json::object();
    for (const auto& [k, v] : c.autoScan.named)
        named[std::to_string(k)] = v;
    json entries = json::array();
    for (const auto& e : c.autoScan.entries)
        entries.push_back({{"number", e.bNumber}, {"start", e.dwStart}, {"end", e.dwEnd}});
    s["auto_scan_schedule"] = {{"byte", c.autoScan.bByte}, {"named", named}, {"entries", entries}};
    s["ports"] = {{"camera", c.usCameraPort}, {"app", c.usAppPort}, {"mobile", c.usMobilePort}};
    s["upnp"] = Hex(c.abUpnp, 3);
    s["dome"] = {{"address", c.bDomeAddress}, {"baud", c.usDomeBaud}};
    s["dserver_link"] = c.bDServerLink;
    s["sensor_regs"] = Hex(c.sensorRegs);
    s["video_report"] = {c.adwVideoReport[0], c.adwVideoReport[1], c.adwVideoReport[2], c.adwVideoReport[3]};
    json sensorSets = json::object();
    for (const auto& [k, v] : c.sensorSets)
        sensorSets[std::to_string(k)] = v;
    s["sensor_sets"] = sensorSets;
    s["sd_operation"] = c.bLastSdOperation;
    s["sd_clears"] = c.uSdClears;
    s["reboots_asked"] = c.uRebootsAsked;
    s["clock"] = {{"utc", c.dwClockUtc}, {"offset", c.nClockOffset}, {"sets", c.uClockSets}};
    if (!c.IsChild()) {
        s["network"] = {{"conn_type", c.net.ucConnType},          {"address", AddrToText(c.dwAddr)},
                        {"netmask", AddrToText(c.net.dwNetmask)}, {"gateway", AddrToText(c.net.dwGateway)},
                        {"dns1", AddrToText(c.net.dwDns1)},       {"dns2", AddrToText(c.net.dwDns2)},
                        {"manual_dns", c.net.dwManualDns},        {"pppoe_account", c.net.strPppoeAccount}};
        json survey = json::array();
        for (const auto& e : c.wifi.survey)
            survey.push_back(e.strSsid);
        s["wifi"] = {{"block", Hex(c.wifi.block)},
                     {"web_auth", c.wifi.bWebAuth},
                     {"web_auth_ip", AddrToText(c.wifi.dwWebAuthValue)},
                     {"web_auth_rest", Hex(c.wifi.webAuthRest)},
                     {"survey", survey},
                     {"link", c.wifi.settings4[0] != 0 ? "wireless" : "wired"},
                     {"up", c.wifi.bReplyByte != 0}};
        s["three_g"] = {{"connect_type", c.threeG.bConnectType},
                        {"use_default_dial", c.threeG.bUseDefaultDial},
                        {"apn", c.threeG.strApn},
                        {"tel", c.threeG.strTelNum},
                        {"account", c.threeG.strAccount}};
        s["code44"] = {c.ausCode44[0], c.ausCode44[1]};
        s["code45"] = {c.abCode45[0], c.abCode45[1]};
        s["dserver_connect"] = c.strDServerConnectText;
    }
    j["settings"] = s;
    j["last_set"] = c.lastSet;
    json rt;
    rt["last_received"] = c.rectime.dwLastReceived;
    rt["next_seq"] = c.rectime.dwNextSeq;
    rt["pending"] = c.rectime.pending.size();
    json accepted = json::object();
    for (const auto& [k, v] : c.rectimeAccepted) {
        json list = json::array();
        for (const auto& bytes : v)
            list.push_back(Hex(bytes.data(), bytes.size()));
        accepted[std::to_string(k)] = list;
    }
    rt["accepted"] = accepted;
    rt["download_ack_count"] = c.dwLastDownloadAckCount;
    j["record_time"] = rt;
    const Counters& k = c.counters;
    j["counters"] = {{"viewer", CountMap(k.viewer, false)},
                     {"online", CountMap(k.online, true)},
                     {"lan", CountMap(k.lan, false)},
                     {"rectime", CountMap(k.rectime, false)},
                     {"wrong_check", k.wrongCheck},
                     {"bad_token", k.badToken},
                     {"ignored", k.ignored},
                     {"malformed", k.malformed},
                     {"replies_sent", k.repliesSent},
                     {"rectime_resends", k.rectimeResends},
                     {"rectime_given_up", k.rectimeGivenUp},
                     {"rectime_acked", k.rectimeAcked},
                     {"audio_bytes", k.audioBytes},
                     {"faults_applied", k.faultsApplied}};
    if (!c.children.empty()) {
        json children = json::array();
        for (const auto& ch : c.children)
            children.push_back(CameraJson(*ch));
        j["children"] = children;
    }
    return j;
}

} // namespace

std::string Camera::NameText() const
{
    if (nameField[0] == 0) {
        const auto* p = nameField.data() + 1;
        const auto* e = std::find(p, nameField.data() + nameField.size(), 0);
        return std::string(p, e);
    }
    return Latin1ToUtf8(nameField.data(), nameField.size());
}

bool Camera::SetNameText(const std::string& strUtf8, bool bUtf8Form)
{
    std::array<std::uint8_t, 32> field{};
    if (bUtf8Form) {
        if (strUtf8.size() > 31)
            return false;
        std::copy(strUtf8.begin(), strUtf8.end(), field.begin() + 1);
    } else {
        std::string latin;
        if (!Utf8ToLatin1(strUtf8, latin) || latin.size() > 32 || latin.empty())
            return false;
        std::copy(latin.begin(), latin.end(), field.begin());
    }
    nameField = field;
    return true;
}

Camera* Camera::FindById(std::uint32_t id)
{
    if (dwId == id)
        return this;
    for (auto& c : children)
        if (c->dwId == id)
            return c.get();
    return nullptr;
}

std::string DumpCamera(const Camera& cam)
{
    return CameraJson(cam).dump();
}

} // namespace camsim
