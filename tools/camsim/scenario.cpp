#include "scenario.h"

#include "mediaconfig.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace camsim {

using nlohmann::json;

namespace {

[[noreturn]] void Fail(const std::string& s)
{
    throw CScenarioError(s);
}

// "{n}" is the camera's number within its template (from 1), "{n:4}" the same zero-padded,
// "{id}" its id.
std::string Expand(const std::string& pattern, int n, std::uint32_t id)
{
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, 4, "{id}") == 0) {
            out += std::to_string(id);
            i += 4;
        } else if (pattern.compare(i, 3, "{n}") == 0) {
            out += std::to_string(n);
            i += 3;
        } else if (pattern.compare(i, 3, "{n:") == 0 && pattern.find('}', i) != std::string::npos) {
            const std::size_t e = pattern.find('}', i);
            const int w = std::atoi(pattern.substr(i + 3, e - i - 3).c_str());
            char buf[32];
            std::snprintf(buf, sizeof buf, "%0*d", std::min(std::max(w, 1), 12), n);
            out += buf;
            i = e + 1;
        } else {
            out.push_back(pattern[i++]);
        }
    }
    return out;
}

template <typename T> T Get(const json& j, const char* key, T def)
{
    if (!j.contains(key))
        return def;
    try {
        return j.at(key).get<T>();
    } catch (const json::exception&) {
        Fail(std::string("field \"") + key + "\" has the wrong type");
    }
}

std::uint32_t GetU32(const json& j, const char* key, std::uint32_t def)
{
    if (!j.contains(key))
        return def;
    const json& v = j.at(key);
    if (v.is_number_unsigned())
        return v.get<std::uint32_t>();
    if (v.is_string()) {
        // Hex is easier to read for bit fields.
        char* end = nullptr;
        const std::string s = v.get<std::string>();
        const unsigned long long x = std::strtoull(s.c_str(), &end, 0);
        if (end && *end == 0 && !s.empty() && x <= 0xFFFFFFFFull)
            return static_cast<std::uint32_t>(x);
    }
    Fail(std::string("field \"") + key + "\" must be an unsigned 32-bit number");
}

std::uint8_t GetU8(const json& j, const char* key, std::uint8_t def)
{
    const std::uint32_t v = GetU32(j, key, def);
    if (v > 0xFF)
        Fail(std::string("field \"") + key + "\" must be a byte");
    return static_cast<std::uint8_t>(v);
}

template <std::size_t N> void GetHex(const json& j, const char* key, std::array<std::uint8_t, N>& a)
{
    if (!j.contains(key))
        return;
    Bytes b;
    if (!j.at(key).is_string() || !FromHex(j.at(key).get<std::string>(), b) || b.size() > N)
        Fail(std::string("field \"") + key + "\" must be hex of at most " + std::to_string(N) + " bytes");
    a.fill(0);
    std::copy(b.begin(), b.end(), a.begin());
}

std::uint32_t GetTime(const json& v)
{
    std::uint32_t t = 0;
    if (v.is_number_unsigned())
        return v.get<std::uint32_t>();
    if (v.is_string() && ParseTime(v.get<std::string>(), t))
        return t;
    Fail("a time must be seconds or \"YYYY-MM-DDTHH:MM:SSZ\"");
}

void ParseDirection(const json& j, FaultDirection& f)
{
    auto prob = [&](const char* key, double& d) {
        if (!j.contains(key))
            return;
        d = j.at(key).get<double>();
        if (d < 0 || d > 1)
            Fail(std::string("fault \"") + key + "\" must be a probability from 0 to 1");
    };
    prob("loss", f.dLoss);
    prob("duplicate", f.dDuplicate);
    prob("reorder", f.dReorder);
    prob("truncate", f.dTruncate);
    prob("garble", f.dGarble);
    f.dwDelayMs = GetU32(j, "delay_ms", f.dwDelayMs);
    f.dwJitterMs = GetU32(j, "jitter_ms", f.dwJitterMs);
}

void ParseFaultsJson(const json& j, FaultSpec& spec)
{
    if (!j.is_object())
        Fail("faults must be an object");
    if (j.contains("in") || j.contains("out")) {
        if (j.contains("in"))
            ParseDirection(j.at("in"), spec.in);
        if (j.contains("out"))
            ParseDirection(j.at("out"), spec.out);
    } else {
        ParseDirection(j, spec.in);
        ParseDirection(j, spec.out);
    }
}

void SetName(Camera& c, const json& j, const std::string& strName)
{
    bool bUtf8 = false;
    const std::string form = Get<std::string>(j, "name_form", "auto");
    if (form == "utf8")
        bUtf8 = true;
    else if (form == "ansi")
        bUtf8 = false;
    else if (form == "auto")
        bUtf8 = !c.SetNameText(strName, false);
    else
        Fail("name_form must be \"ansi\", \"utf8\" or \"auto\"");
    if (strName.empty())
        bUtf8 = true; // an empty ANSI field would read as the UTF-8 form anyway
    if (!c.SetNameText(strName, bUtf8))
        Fail("name \"" + strName + "\" does not fit its field (" +
             (bUtf8 ? "31 UTF-8 bytes" : "32 Latin-1 characters") + ")");
}

void Configure(Camera& c, const json& j, int n, std::mt19937& rng)
{
    c.strSerial = Expand(Get<std::string>(j, "serial", "VS{id}"), n, c.dwId);
    if (c.strSerial.empty() || c.strSerial.size() > 20)
        Fail("serial \"" + c.strSerial + "\" must be 1 to 20 characters");
    SetName(c, j, Expand(Get<std::string>(j, "name", "Camera {n}"), n, c.dwId));

    c.bCapBit0 = Get<bool>(j, "cap_bit0", false);
    c.bUnicastCapable = Get<bool>(j, "unicast_capable", true);
    c.bHasWifi = Get<bool>(j, "wifi", false);
    c.bHas3G = Get<bool>(j, "three_g", false);
    c.bHasSD = Get<bool>(j, "sd_card", true);
    c.bFlagsByte = GetU8(j, "flags_byte", 0);
    GetHex(j, "five_bytes", c.fiveBytes);
    if (j.contains("values")) {
        const auto v = j.at("values");
        if (!v.is_array() || v.size() != 3)
            Fail("values must hold three numbers");
        for (int i = 0; i < 3; ++i)
            c.adwValues[i] = v[i].get<std::uint32_t>();
    }
    c.dwTypeNumber = GetU32(j, "type_number", 1);
    c.bByte19 = GetU8(j, "byte19", 0);
    c.bByte20 = GetU8(j, "byte20", 0);
    c.bSendSequenceIds = Get<bool>(j, "send_sequence_ids", true);
    c.bOptByte = GetU8(j, "opt_byte", 0);
    c.bFeatureByte = GetU8(j, "feature_byte", 0);
    c.dwOptValue = GetU32(j, "opt_value", 0);

    const std::string answers = Get<std::string>(j, "answers", "both");
    if (answers == "both")
        c.enRoute = SearchRoute::Both;
    else if (answers == "multicast")
        c.enRoute = SearchRoute::Multicast;
    else if (answers == "sweep")
        c.enRoute = SearchRoute::Sweep;
    else if (answers == "neither")
        c.enRoute = SearchRoute::Neither;
    else
        Fail("answers must be \"both\", \"multicast\", \"sweep\" or \"neither\"");
    const std::string cipher = Get<std::string>(j, "cipher", "clear");
    if (cipher == "clear")
        c.enCipher = CipherMode::Clear;
    else if (cipher == "encrypted")
        c.enCipher = CipherMode::Encrypted;
    else if (cipher == "both")
        c.enCipher = CipherMode::Both;
    else
        Fail("cipher must be \"clear\", \"encrypted\" or \"both\"");

    c.dwVideoStatus = GetU32(j, "video_status", 0);
    if (j.contains("video_value"))
        c.dwVideoValue = GetU32(j, "video_value", 0);
    c.bTalkAllowed = Get<bool>(j, "talk_allowed", true);
    if (j.contains("ignore")) {
        for (const auto& k : j.at("ignore")) {
            std::string s = k.get<std::string>();
            // Online codes compare in lower-case hex.
            if (s.rfind("online:", 0) == 0) {
                const unsigned long v = std::strtoul(s.c_str() + 7, nullptr, 0);
                char buf[32];
                std::snprintf(buf, sizeof buf, "online:0x%lx", v);
                s = buf;
            }
            c.ignore.insert(s);
        }
    }
    c.dwRebootMs = GetU32(j, "reboot_ms", 5000);
    c.bSdInfoByte = static_cast<std::uint8_t>(GetU32(j, "sd_state", 1));
    c.dwFirmwareWriteMs = GetU32(j, "firmware_write_ms", 3000);
    c.bFirmwareFinalReport = Get<bool>(j, "firmware_final_report", true);
    c.dwFirmwareMaxSize = GetU32(j, "firmware_max_size", 16u << 20);

    const std::string pw = Get<std::string>(j, "password", "");
    if (!PasswordField(pw, c.password))
        Fail("password longer than 16 bytes");
    if (j.contains("sequence_ids")) {
        const auto v = j.at("sequence_ids");
        if (!v.is_array() || v.size() != 2)
            Fail("sequence_ids must hold two numbers");
        c.adwSeq[0] = v[0].get<std::uint32_t>();
        c.adwSeq[1] = v[1].get<std::uint32_t>();
    } else {
        c.adwSeq[0] = rng();
        c.adwSeq[1] = rng();
    }
    c.bEncryptVersion = GetU8(j, "encrypt_version", 0);
    c.RecomputeCheckValue();

    c.strFirmware = Get<std::string>(j, "firmware", "1.0.0");
    c.strHardware = Get<std::string>(j, "hardware", "HW1");
    c.dwSensorId = GetU32(j, "sensor_id", 1);
    c.dwSubtype = GetU32(j, "subtype", 0);
    if (j.contains("capability")) {
        const auto& k = j.at("capability");
        c.dwCapWord1 = GetU32(k, "word1", 0);
        c.dwCapWord2Flags = GetU32(k, "flags", 0);
        c.dwCapWord3 = GetU32(k, "word3", 0);
        c.dwCapWord4 = GetU32(k, "word4", 0);
    }
    if (j.contains("video_report")) {
        const auto v = j.at("video_report");
        for (std::size_t i = 0; i < 4 && i < v.size(); ++i)
            c.adwVideoReport[i] = v[i].get<std::uint32_t>();
    }
    GetHex(j, "sensor_regs", c.sensorRegs);
    c.sensorRegsDefault = c.sensorRegs;
    c.usCameraPort = static_cast<std::uint16_t>(GetU32(j, "camera_port", 80));
    if (j.contains("presets"))
        for (const auto& [k, v] : j.at("presets").items())
            c.presets[static_cast<std::uint32_t>(std::stoul(k))] = v.get<std::string>();
    c.usMsVersion = static_cast<std::uint16_t>(GetU32(j, "ms_version", 1));
    if (j.contains("media"))
        ParseMediaJson(j.at("media").dump(), c.media);
    if (j.contains("recordings")) {
        for (const auto& r : j.at("recordings")) {
            Recording rec;
            rec.dwStart = GetTime(r.at("start"));
            rec.dwEnd = GetTime(r.at("end"));
            rec.bEvent = Get<bool>(r, "event", false);
            if (rec.dwEnd < rec.dwStart)
                Fail("a recording ends before it starts");
            c.recordings.push_back(rec);
        }
    }
    if (j.contains("faults"))
        ParseFaultsJson(j.at("faults"), c.faults);

    // LAN side.
    std::uint32_t a = 0;
    auto addr = [&](const char* key, std::uint32_t& out) {
        if (j.contains(key)) {
            if (!TextToAddr(j.at(key).get<std::string>(), a))
                Fail(std::string("field \"") + key + "\" is not an IPv4 address");
            out = a;
        }
    };
    addr("netmask", c.net.dwNetmask);
    addr("gateway", c.net.dwGateway);
    addr("dns1", c.net.dwDns1);
    addr("dns2", c.net.dwDns2);
    c.wifi.bWebAuth = Get<bool>(j, "web_auth", false);
    if (j.contains("wifi_ssid")) {
        const std::string ssid = j.at("wifi_ssid").get<std::string>();
        c.wifi.block[3] = static_cast<std::uint8_t>(std::min<std::size_t>(ssid.size(), 32));
        std::copy_n(ssid.begin(), std::min<std::size_t>(ssid.size(), 32), c.wifi.block.begin() + 4);
    }
    if (j.contains("wifi_link")) {
        const std::string link = j.at("wifi_link").get<std::string>();
        if (link != "wired" && link != "wireless")
            Fail("field \"wifi_link\" is wired or wireless");
        c.wifi.settings4[0] = link == "wireless" ? 1 : 0;
    }
    c.wifi.bReplyByte = Get<bool>(j, "wifi_up", c.wifi.settings4[0] != 0) ? 1 : 0;
    c.wifi.dwReplyValue = Get<bool>(j, "cable", true) ? 1 : 0;
    const std::uint32_t dwSpeed = GetU32(j, "wifi_speed", 0);
    for (int i = 0; i < 4; ++i)
        c.wifi.surveyHeader[i] = static_cast<std::uint8_t>(dwSpeed >> (24 - 8 * i));
    c.wifi.surveyHeader[4] = GetU8(j, "wifi_quality", 0);
    if (j.contains("wifi_survey")) {
        int i = 0;
        for (const auto& e : j.at("wifi_survey")) {
            WifiSurveyEntry w;
            w.strSsid = Get<std::string>(e, "ssid", "");
            w.bHidden = Get<bool>(e, "hidden", false);
            w.bAuthMode = GetU8(e, "auth", 4);
            w.bEncType = GetU8(e, "enc", 4);
            w.bRadio = GetU8(e, "radio", 2);
            w.bNetType = GetU8(e, "net_type", 1);
            w.bChannel = GetU8(e, "channel", 0);
            w.dwSignal = GetU32(e, "signal", 0);
            w.bssid = {
                0x02, 0x00, 0x5e, 0x10, static_cast<std::uint8_t>(c.dwId), static_cast<std::uint8_t>(i++)};
            GetHex(e, "bssid", w.bssid);
            c.wifi.survey.push_back(w);
        }
    }
    c.threeG.bSendStrings = Get<bool>(j, "three_g_strings", true);
}

void Collect(const json& j, std::set<std::string>& seen, const std::string& what, const std::string& value)
{
    if (!seen.insert(value).second)
        Fail("two cameras share the " + what + " " + value);
}

} // namespace

std::uint32_t NextLabAddress(std::uint32_t dwAddr)
{
    if ((dwAddr & 0xFF) >= 254)
        return (dwAddr & 0xFFFFFF00u) + 0x100 + 10;
    return dwAddr + 1;
}

bool IsLabAddress(std::uint32_t dwAddr)
{
    return (dwAddr & 0xFFFE0000u) == 0xC6120000u; // 198.18.0.0/15
}

bool IsLoopback(std::uint32_t dwAddr)
{
    return (dwAddr >> 24) == 127;
}

bool ParseTime(const std::string& s, std::uint32_t& dwSeconds)
{
    if (!s.empty() && std::all_of(s.begin(), s.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
        const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
        if (v > 0xFFFFFFFFull)
            return false;
        dwSeconds = static_cast<std::uint32_t>(v);
        return true;
    }
    std::tm tm{};
    std::istringstream in(s);
    in >> std::get_time(&tm, "%Y-%m-%dT%H:%M:%S");
    if (in.fail())
        return false;
    std::string rest;
    in >> rest;
    if (!rest.empty() && rest != "Z")
        return false;
    const std::time_t t = timegm(&tm);
    if (t < 0 || t > 0xFFFFFFFFll)
        return false;
    dwSeconds = static_cast<std::uint32_t>(t);
    return true;
}

void ParseFaults(const std::string& strJson, FaultSpec& spec)
{
    json j;
    try {
        j = json::parse(strJson);
    } catch (const json::exception& e) {
        Fail(std::string("faults: ") + e.what());
    }
    FaultSpec s = spec;
    ParseFaultsJson(j, s);
    spec = s;
}

Scenario LoadScenario(const std::string& strJson, const std::vector<std::uint32_t>& addresses)
{
    json root;
    try {
        root = json::parse(strJson);
    } catch (const json::exception& e) {
        Fail(std::string("not valid JSON: ") + e.what());
    }
    if (!root.is_object() || !root.contains("cameras") || !root.at("cameras").is_array())
        Fail("a scenario is an object with a \"cameras\" array");
    Scenario sc;
    try {
        sc.dwSeed = GetU32(root, "seed", 1);
        const json defaults = root.value("defaults", json::object());
        FaultSpec globalFaults;
        if (root.contains("faults"))
            ParseFaultsJson(root.at("faults"), globalFaults);
        std::mt19937 rng(sc.dwSeed);
        std::size_t nNextAddr = 0;
        std::set<std::string> ids, serials, addrs;
        int nIndex = 0;
        for (const auto& entry : root.at("cameras")) {
            if (!entry.is_object())
                Fail("every camera is an object");
            json j = defaults;
            j.merge_patch(entry);
            const std::uint32_t dwCount = GetU32(j, "count", 1);
            if (dwCount == 0 || dwCount > 4000)
                Fail("count must be 1 to 4000");
            std::uint32_t dwAddr = 0;
            const bool bExplicit = j.contains("address");
            if (bExplicit && !TextToAddr(j.at("address").get<std::string>(), dwAddr))
                Fail("address \"" + j.at("address").get<std::string>() + "\" is not an IPv4 address");
            const bool bHasId = j.contains("id");
            const std::uint32_t dwIdBase = GetU32(j, "id", 0);
            for (std::uint32_t i = 0; i < dwCount; ++i) {
                auto cam = std::make_unique<Camera>();
                cam->nIndex = ++nIndex;
                if (!bExplicit) {
                    if (nNextAddr >= addresses.size())
                        Fail("camera " + std::to_string(nIndex) +
                             " has no address (give one, or more --addresses)");
                    dwAddr = addresses[nNextAddr++];
                }
                if (!IsLabAddress(dwAddr) && !IsLoopback(dwAddr))
                    Fail("address " + AddrToText(dwAddr) + " is outside the lab range 198.18.0.0/15");
                cam->dwAddr = dwAddr;
                cam->dwId = bHasId ? dwIdBase + i : 1000u + static_cast<std::uint32_t>(nIndex);
                cam->faults = globalFaults;
                Configure(*cam, j, static_cast<int>(i + 1), rng);
                cam->rng.seed(sc.dwSeed * 7919u + static_cast<std::uint32_t>(nIndex));
                Collect(j, ids, "id", std::to_string(cam->dwId));
                Collect(j, serials, "serial", cam->strSerial);
                Collect(j, addrs, "address", AddrToText(dwAddr));
                // A recorder's channels.
                json children = json::array();
                if (j.contains("children"))
                    children = j.at("children");
                else if (j.contains("channels"))
                    for (std::uint32_t k = 0; k < GetU32(j, "channels", 0); ++k)
                        children.push_back(json::object());
                int nChild = 0;
                for (const auto& cj : children) {
                    ++nChild;
                    auto ch = std::make_unique<Camera>();
                    ch->nIndex = cam->nIndex;
                    ch->pParent = cam.get();
                    ch->dwAddr = dwAddr;
                    ch->dwId = cj.contains("id") ? GetU32(cj, "id", 0)
                                                 : cam->dwId * 100u + static_cast<std::uint32_t>(nChild);
                    json cjj = cj;
                    if (!cjj.contains("serial"))
                        cjj["serial"] = cam->strSerial.substr(0, 17) + "-" + std::to_string(nChild);
                    if (!cjj.contains("name"))
                        cjj["name"] = "Channel " + std::to_string(nChild);
                    ch->strSerial = cjj.at("serial").get<std::string>();
                    if (ch->strSerial.size() > 20)
                        Fail("child serial longer than 20 characters");
                    SetName(*ch, cjj, cjj.at("name").get<std::string>());
                    ch->bFeatureByte = GetU8(cjj, "feature_byte", 0);
                    ch->bChildByte = GetU8(cjj, "byte", 0);
                    ch->bHasSD = Get<bool>(cjj, "sd_card", cam->bHasSD);
                    ch->strFirmware = cam->strFirmware;
                    ch->strHardware = cam->strHardware;
                    ch->dwSensorId = GetU32(cjj, "sensor_id", cam->dwSensorId);
                    ch->dwVideoStatus = GetU32(cjj, "video_status", cam->dwVideoStatus);
                    ch->ignore = cam->ignore;
                    ch->usMsVersion = cam->usMsVersion;
                    ch->media = cam->media;
                    if (cjj.contains("recordings")) {
                        for (const auto& r : cjj.at("recordings"))
                            ch->recordings.push_back(
                                {GetTime(r.at("start")), GetTime(r.at("end")), Get<bool>(r, "event", false)});
                    } else {
                        ch->recordings = cam->recordings;
                    }
                    Collect(cjj, ids, "id", std::to_string(ch->dwId));
                    cam->children.push_back(std::move(ch));
                }
                sc.cameras.push_back(std::move(cam));
                if (bExplicit)
                    dwAddr = NextLabAddress(dwAddr);
            }
        }
    } catch (const json::exception& e) {
        Fail(std::string("scenario: ") + e.what());
    }
    if (sc.cameras.empty())
        Fail("the scenario has no cameras");
    return sc;
}

Scenario LoadScenarioFile(const std::string& strPath, const std::vector<std::uint32_t>& addresses)
{
    std::ifstream in(strPath);
    if (!in)
        Fail("cannot read " + strPath);
    std::stringstream ss;
    ss << in.rdbuf();
    return LoadScenario(ss.str(), addresses);
}

} // namespace camsim
