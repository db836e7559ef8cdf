// What a simulated camera streams: its live video and audio, the content of its SD card, and
// how it sends them. Read from the scenario's "media" object (README.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "encoder.h"
#include "faults.h"

namespace camsim {

enum class MediaRoute { Auto, Unicast, Multicast };

struct MediaConfig {
    bool bStream = true; // answers start video with a stream
    VideoConfig live;
    bool bStamped = true; // MPEG-4 only: type 0x51 with the stamp header, else 0x11; H.264 always 0x61
    std::uint8_t bStampFlags = 0; // time format and orientation flags of the stamp header
    // A picture-size switch: after dwSwitchAfterMs of streaming the live stream continues with
    // this configuration (a key frame with the new sequence header first).
    std::optional<VideoConfig> switchTo;
    std::uint32_t dwSwitchAfterMs = 0;
    MediaRoute enRoute = MediaRoute::Auto;
    std::uint32_t dwHeartbeatTimeoutS = 60; // streaming stops this long after the last start video

    bool bAudio = true;
    int nToneHz = 440;
    std::string strAudioWav; // 8 kHz mono 16-bit WAV streamed instead of the tone, looped
    std::string strTalkWav;  // received talk audio is decoded into this WAV file

    VideoConfig sd{VideoCodec::H264, 640, 360, 25, 800, 25, 100};
    // From second dwSdSwitchAt on, the card holds this picture size (the rest as sd).
    std::optional<VideoConfig> sdSwitch;
    std::uint32_t dwSdSwitchAt = 0;
    std::uint32_t dwSdWindow = 64;           // sub-packets sent and not yet acknowledged
    std::uint32_t dwSdResendMs = 400;        // an unacknowledged sub-packet is sent again after this
    std::uint32_t dwSdResendMinMs = 20;      // ... or after four round trips, but no sooner than this
    std::uint32_t dwSdDatagramBytes = 16000; // sub-packets are gathered into units up to this size

    std::optional<FaultSpec> faults; // media's own faults; absent: the camera's faults
};

// Applies a scenario "media" object over cfg; throws CScenarioError with a readable message.
void ParseMediaJson(const std::string& strJson, MediaConfig& cfg);

} // namespace camsim
