// Synthetic video for the simulated cameras: a moving test pattern with the frame number burnt
// in, encoded once per configuration and then looped, so that many cameras cost little CPU.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace camsim {

enum class VideoCodec { H264, Mpeg4 };

struct VideoConfig {
    VideoCodec enCodec = VideoCodec::H264;
    int nWidth = 1280, nHeight = 720;
    int nFps = 25;
    int nKbps = 2000;
    int nGop = 50;         // key-frame interval in frames
    int nClipFrames = 100; // frames encoded before the loop repeats; a multiple of nGop

    auto Key() const { return std::tie(enCodec, nWidth, nHeight, nFps, nKbps, nGop, nClipFrames); }
    bool operator<(const VideoConfig& o) const { return Key() < o.Key(); }
    bool operator==(const VideoConfig& o) const { return Key() == o.Key(); }
};

struct EncodedFrame {
    std::vector<std::uint8_t> es; // elementary stream bytes of one picture
    bool bKey = false;            // starts with the sequence header (H.264 SPS, MPEG-4 VOL)
};

struct Clip {
    VideoConfig cfg;
    std::vector<EncodedFrame> frames;
};

// The clip of a configuration, encoded on first use and shared afterwards. Deterministic: the
// same configuration always gives the same bytes (single-threaded encoders, fixed pattern).
// Null with a message when the encoder is missing or refuses the configuration. Thread-safe.
std::shared_ptr<const Clip> GetClip(const VideoConfig& cfg, std::string& strError);

// The clip if it has been encoded already, else null; never waits for an encoder.
std::shared_ptr<const Clip> PeekClip(const VideoConfig& cfg);

// Checks sizes and rates before anything is encoded; empty when usable.
std::string CheckVideoConfig(const VideoConfig& cfg);

// The picture of frame nFrame, planar 4:2:0 (exposed for tests that want the source image).
void DrawTestPattern(int nFrame, int nWidth, int nHeight, std::uint8_t* pY, std::uint8_t* pU,
                     std::uint8_t* pV);

} // namespace camsim
