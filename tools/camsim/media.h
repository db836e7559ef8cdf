// The cameras' media side: live video and audio after start video, SD playback and SD download
// driven by the record-time requests, and the talk audio the client sends. Frames are built
// from clips encoded at start-up, cut into 1280-byte segments and sent through the camera's
// media socket; every sent frame is logged for the tests (README.md, "Media log").
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "camera.h"
#include "encoder.h"
#include "env.h"

namespace camsim {

constexpr std::uint32_t GROUP_MEDIA = 0xEC050715; // 236.5.7.21
constexpr std::uint16_t PORT_LIVE = 8103, PORT_PLAYBACK_A = 8106, PORT_DOWNLOAD = 8107,
                        PORT_PLAYBACK_B = 8110;
constexpr std::size_t SEGMENT_PAYLOAD = 1280;
constexpr std::size_t MEDIA_HEADER_LEN = 8;
constexpr std::uint8_t STAMP_LEN = 10; // length, flags, time, sub-second; no caption
constexpr std::size_t SUBPACKET_HEADER_LEN = 20;
constexpr std::size_t PLAYBACK_PREFIX_LEN = 12;
constexpr std::uint8_t TYPE_AUDIO = 0x21, TYPE_MPEG4 = 0x11, TYPE_MPEG4_STAMPED = 0x51,
                       TYPE_H264_STAMPED = 0x61;
constexpr std::size_t GSM_FRAMES_PER_AUDIO = 3; // 60 ms, 99 bytes
constexpr std::uint32_t AUDIO_PERIOD_MS = 60;

// The multicast port that goes with a unicast media port (8103 -> 8100 and so on).
std::uint16_t MulticastPortFor(std::uint16_t usUnicastPort);

// One media frame: 8-byte header, then for the stamped types the 10-byte stamp header with
// the time big-endian, then the codec data.
Bytes BuildVideoFrame(std::uint8_t bType, bool bKey, std::uint16_t usValue, std::uint32_t dwCameraId,
                      std::uint8_t bStampFlags, std::uint32_t dwTime, std::uint32_t dwSubSecond,
                      const std::vector<std::uint8_t>& es);
Bytes BuildAudioFrame(std::uint16_t usValue, std::uint32_t dwCameraId, const std::uint8_t* pGsm,
                      std::size_t nGsm);
// Cuts one unit (frame, playback datagram or download datagram) into segment datagrams.
std::vector<Bytes> SegmentUnit(std::uint16_t usSequence, const Bytes& unit);
// The codec bytes of a frame, past its header and stamp header.
std::size_t CodecDataOffset(const Bytes& frame);

// ---- SD card content ----
// A recording [start, end) holds frames at the SD configuration's rate: frame n of a recording
// has the time start + n / fps, the sub-second count (n % fps) * 1000000 / fps (microseconds),
// and the codec data of frame n % clip length of the SD clip. It is sent as type 0x61 (H.264)
// or 0x51 (MPEG-4), 16-bit value n mod 65536, the camera's stamp flags.
struct SdPosition {
    std::size_t nRecording = 0;
    std::uint32_t dwFrame = 0;
};
// The first frame at or after dwTime (whole seconds), rounded down to its key frame, in the
// recordings that qualify (events only when bEventsOnly); false when there is none.
bool SdSeek(const Camera& cam, const Clip& sd, std::uint32_t dwTime, bool bEventsOnly, SdPosition& pos);
// Frame nIndex (0 .. fps - 1) of second dwTime; false when no recording holds it.
bool SdAt(const Camera& cam, const Clip& sd, std::uint32_t dwTime, std::uint32_t dwIndex, SdPosition& pos);
// Moves to the next frame in qualifying recordings; false at the end of the card.
bool SdNext(const Camera& cam, const Clip& sd, bool bEventsOnly, SdPosition& pos);
std::uint32_t SdFrameTime(const Camera& cam, const Clip& sd, const SdPosition& pos,
                          std::uint32_t* pSub = nullptr);
Bytes SdFrame(const Camera& cam, const Clip& sd, std::uint8_t bStampFlags, const SdPosition& pos);

// Reads an 8 kHz mono 16-bit PCM WAV file; false with a message otherwise.
bool ReadWav8k(const std::string& strPath, std::vector<std::int16_t>& samples, std::string& strError);

class CMediaEngine {
public:
    // Sends one datagram from the camera's media socket (host order address).
    using SendFn = std::function<void(Camera& root, std::uint32_t dwDst, std::uint16_t usPort, const Bytes&)>;
    // Queues a reliable record-time reply from the camera.
    using RecTimeFn = std::function<void(Camera& cam, Bytes packet)>;

    CMediaEngine(IEnv& env, SendFn send, RecTimeFn rectime, std::uint32_t dwSeed);
    ~CMediaEngine();

    // Reads the cameras' audio files and encodes every configuration they use: before it
    // returns with bWait, else on a thread of its own (a stream starts once its clip is there).
    bool Prepare(const std::vector<Camera*>& cameras, std::string& strError, bool bWait = true);
    // Where the per-frame lines go (none by default).
    void SetFrameLog(std::ostream* pLog) { m_pLog = pLog; }

    void OnVideoStart(Camera& cam, bool bByMulticast);
    void OnVideoStop(Camera& cam);
    void OnRecTime(Camera& cam, std::uint8_t bCode, const std::uint8_t* pBody, std::size_t nBody);
    void OnTalkAudio(Camera& cam, const std::uint8_t* pData, std::size_t nLen);

    // Counters of one camera as JSON text (the control command "media").
    std::string Stats(const Camera& cam) const;

private:
    struct Stream;
    struct PerCamera;
    PerCamera& State(Camera& cam);
    void Tick(Camera* pCam, std::uint64_t uGen);
    void Schedule(Camera& cam, std::uint32_t dwMs);
    void TickLive(Camera& cam, PerCamera& pc, std::uint64_t now);
    void TickPlayback(Camera& cam, PerCamera& pc, std::uint64_t now);
    void TickDownload(Camera& cam, PerCamera& pc, std::uint64_t now);
    std::uint16_t NextSeq(Camera& cam, std::uint16_t usPort);
    std::uint16_t NextFrameNo(Camera& cam, std::uint16_t usPort);
    void SendUnit(Camera& cam, PerCamera& pc, const Stream& st, std::uint16_t usSeq, const Bytes& unit);
    void LogFrame(const Camera& cam, const char* pszStream, std::uint16_t usPort, const std::string& strExtra,
                  const Bytes& frame);
    void OnDownloadAck(Camera& cam, const std::uint8_t* pBody, std::size_t nBody);
    void SendPlaybackFrame(Camera& cam, PerCamera& pc);
    void EncodeAudio(Camera& cam, PerCamera& pc, std::uint8_t* pOut); // 3 GSM frames, 99 bytes
    void EndOfRecording(Camera& cam, PerCamera& pc);

    IEnv& m_env;
    SendFn m_send;
    RecTimeFn m_rectime;
    std::uint32_t m_dwSeed;
    std::ostream* m_pLog = nullptr;
    std::map<const Camera*, std::unique_ptr<PerCamera>> m_cams;
    std::map<std::string, std::vector<std::int16_t>> m_wavs;
    std::thread m_encoder;
};

} // namespace camsim
