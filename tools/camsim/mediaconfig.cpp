#include "mediaconfig.h"

#include <nlohmann/json.hpp>

#include "scenario.h"

namespace camsim {

using nlohmann::json;

namespace {

[[noreturn]] void Fail(const std::string& s)
{
    throw CScenarioError("media: " + s);
}

int GetInt(const json& j, const char* key, int def)
{
    if (!j.contains(key))
        return def;
    if (!j.at(key).is_number_integer())
        Fail(std::string("\"") + key + "\" must be a whole number");
    return j.at(key).get<int>();
}

// The SD card keeps a key frame every second, so that any second can start a download.
void ParseVideo(const json& j, VideoConfig& v, bool bSd = false)
{
    if (j.contains("codec")) {
        const std::string s = j.at("codec").get<std::string>();
        if (s == "h264")
            v.enCodec = VideoCodec::H264;
        else if (s == "mpeg4")
            v.enCodec = VideoCodec::Mpeg4;
        else
            Fail("codec must be \"h264\" or \"mpeg4\"");
    }
    v.nWidth = GetInt(j, "width", v.nWidth);
    v.nHeight = GetInt(j, "height", v.nHeight);
    const int nOldFps = v.nFps;
    v.nFps = GetInt(j, "fps", v.nFps);
    v.nKbps = GetInt(j, "kbps", v.nKbps);
    // Unless given, the key-frame interval stays two seconds (SD: one) and the clip two intervals.
    if (!j.contains("gop") && v.nFps != nOldFps)
        v.nGop = bSd ? v.nFps : 2 * v.nFps;
    v.nGop = GetInt(j, "gop", v.nGop);
    if (!j.contains("clip_frames"))
        v.nClipFrames = std::max(v.nGop, ((2 * v.nGop + v.nGop - 1) / v.nGop) * v.nGop);
    v.nClipFrames = GetInt(j, "clip_frames", v.nClipFrames);
    const std::string err = CheckVideoConfig(v);
    if (!err.empty())
        Fail(err);
}

} // namespace

void ParseMediaJson(const std::string& strJson, MediaConfig& cfg)
{
    json j;
    try {
        j = json::parse(strJson);
    } catch (const json::exception& e) {
        Fail(e.what());
    }
    if (!j.is_object())
        Fail("must be an object");
    try {
        cfg.bStream = j.value("stream", cfg.bStream);
        ParseVideo(j, cfg.live);
        cfg.bStamped = j.value("stamped", cfg.bStamped);
        cfg.bStampFlags = static_cast<std::uint8_t>(GetInt(j, "stamp_flags", cfg.bStampFlags));
        if (j.contains("switch")) {
            const json& s = j.at("switch");
            VideoConfig v = cfg.live;
            ParseVideo(s, v);
            const int nAfter = GetInt(s, "after_s", -1);
            if (nAfter < 0)
                Fail("switch needs \"after_s\"");
            cfg.switchTo = v;
            cfg.dwSwitchAfterMs = static_cast<std::uint32_t>(nAfter) * 1000u;
        }
        if (j.contains("route")) {
            const std::string s = j.at("route").get<std::string>();
            if (s == "auto")
                cfg.enRoute = MediaRoute::Auto;
            else if (s == "unicast")
                cfg.enRoute = MediaRoute::Unicast;
            else if (s == "multicast")
                cfg.enRoute = MediaRoute::Multicast;
            else
                Fail("route must be \"auto\", \"unicast\" or \"multicast\"");
        }
        const int nTimeout = GetInt(j, "heartbeat_timeout_s", static_cast<int>(cfg.dwHeartbeatTimeoutS));
        if (nTimeout < 1)
            Fail("heartbeat_timeout_s must be at least 1");
        cfg.dwHeartbeatTimeoutS = static_cast<std::uint32_t>(nTimeout);
        cfg.bAudio = j.value("audio", cfg.bAudio);
        cfg.nToneHz = GetInt(j, "tone_hz", cfg.nToneHz);
        if (cfg.nToneHz < 1 || cfg.nToneHz > 3999)
            Fail("tone_hz must be 1 to 3999");
        cfg.strAudioWav = j.value("audio_wav", cfg.strAudioWav);
        cfg.strTalkWav = j.value("talk_wav", cfg.strTalkWav);
        if (j.contains("sd"))
            ParseVideo(j.at("sd"), cfg.sd, true);
        if (j.contains("sd_switch")) {
            const json& s = j.at("sd_switch");
            VideoConfig v = cfg.sd;
            v.nWidth = GetInt(s, "width", v.nWidth);
            v.nHeight = GetInt(s, "height", v.nHeight);
            if (const std::string err = CheckVideoConfig(v); !err.empty())
                Fail("sd_switch: " + err);
            const std::int64_t llAt = s.value("at", std::int64_t(-1));
            if (llAt < 0 || llAt > 0xFFFFFFFFll)
                Fail("sd_switch needs \"at\" (seconds since 1970)");
            cfg.sdSwitch = v;
            cfg.dwSdSwitchAt = static_cast<std::uint32_t>(llAt);
        }
        cfg.dwSdWindow = static_cast<std::uint32_t>(GetInt(j, "sd_window", static_cast<int>(cfg.dwSdWindow)));
        cfg.dwSdResendMs =
            static_cast<std::uint32_t>(GetInt(j, "sd_resend_ms", static_cast<int>(cfg.dwSdResendMs)));
        cfg.dwSdDatagramBytes = static_cast<std::uint32_t>(
            GetInt(j, "sd_datagram_bytes", static_cast<int>(cfg.dwSdDatagramBytes)));
        if (cfg.dwSdWindow < 1 || cfg.dwSdWindow > 100000)
            Fail("sd_window must be 1 to 100000");
        if (cfg.dwSdResendMs < 10)
            Fail("sd_resend_ms must be at least 10");
        cfg.dwSdResendMinMs = static_cast<std::uint32_t>(
            GetInt(j, "sd_resend_min_ms", static_cast<int>(std::min(cfg.dwSdResendMinMs, cfg.dwSdResendMs))));
        if (cfg.dwSdResendMinMs < 10 || cfg.dwSdResendMinMs > cfg.dwSdResendMs)
            Fail("sd_resend_min_ms must be 10 to sd_resend_ms");
        if (cfg.dwSdDatagramBytes < 100 || cfg.dwSdDatagramBytes > 1000000)
            Fail("sd_datagram_bytes must be 100 to 1000000");
        if (j.contains("faults")) {
            FaultSpec f;
            ParseFaults(j.at("faults").dump(), f);
            cfg.faults = f;
        }
    } catch (const json::exception& e) {
        Fail(e.what());
    }
}

} // namespace camsim
