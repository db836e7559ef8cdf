#include "media.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

extern "C" {
#include <gsm.h>
}

#include <nlohmann/json.hpp>

#include "protocol/packet.h"

namespace camsim {

namespace {

constexpr std::uint32_t DOWNLOAD_TICK_MS = 10;
// A resent download datagram keeps its segment sequence this long (the receiver drops a
// half-assembled frame after three seconds).
constexpr std::uint64_t SAME_SEGMENT_SEQ_MS = 2000;
constexpr std::uint32_t FAST_RESEND_AFTER = 3;
constexpr std::uint8_t RECTIME_END = 0x40; // end of playback or of a download range

std::string Hex8(std::uint32_t v)
{
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", v);
    return buf;
}

const FaultSpec& MediaFaults(const Camera& cam)
{
    return cam.media.faults ? *cam.media.faults : cam.faults;
}

std::uint8_t LiveType(const MediaConfig& m, VideoCodec codec)
{
    if (codec == VideoCodec::H264)
        return TYPE_H264_STAMPED;
    return m.bStamped ? TYPE_MPEG4_STAMPED : TYPE_MPEG4;
}

void RealTime(std::uint32_t& dwSec, std::uint32_t& dwMicro)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    dwSec = static_cast<std::uint32_t>(ts.tv_sec);
    dwMicro = static_cast<std::uint32_t>(ts.tv_nsec / 1000);
}

bool Qualifies(const Recording& r, bool bEventsOnly)
{
    return r.dwEnd > r.dwStart && (!bEventsOnly || r.bEvent);
}

// The qualifying recording that starts next after (start, index) of the current one.
bool NextRecording(const Camera& cam, std::size_t nCur, bool bFirst, bool bEventsOnly, std::size_t& nOut)
{
    bool bFound = false;
    for (std::size_t i = 0; i < cam.recordings.size(); ++i) {
        const Recording& r = cam.recordings[i];
        if (!Qualifies(r, bEventsOnly))
            continue;
        if (!bFirst) {
            const Recording& c = cam.recordings[nCur];
            if (std::make_pair(r.dwStart, i) <= std::make_pair(c.dwStart, nCur))
                continue;
        }
        if (!bFound || std::make_pair(r.dwStart, i) < std::make_pair(cam.recordings[nOut].dwStart, nOut)) {
            nOut = i;
            bFound = true;
        }
    }
    return bFound;
}

std::uint64_t FramesOf(const Recording& r, const Clip& sd)
{
    return static_cast<std::uint64_t>(r.dwEnd - r.dwStart) * static_cast<std::uint64_t>(sd.cfg.nFps);
}

} // namespace

// ---------------------------------------------------------------- frames

std::uint16_t MulticastPortFor(std::uint16_t usPort)
{
    switch (usPort) {
    case PORT_LIVE:
        return 8100;
    case PORT_PLAYBACK_A:
        return 8104;
    case PORT_DOWNLOAD:
        return 8105;
    case PORT_PLAYBACK_B:
        return 8108;
    default:
        return usPort;
    }
}

Bytes BuildVideoFrame(std::uint8_t bType, bool bKey, std::uint16_t usValue, std::uint32_t dwCameraId,
                      std::uint8_t bStampFlags, std::uint32_t dwTime, std::uint32_t dwSubSecond,
                      const std::vector<std::uint8_t>& es)
{
    const bool bStamped = bType != TYPE_MPEG4;
    Bytes b;
    b.reserve(MEDIA_HEADER_LEN + STAMP_LEN + es.size());
    PutU8(b, bType);
    PutU8(b, bKey ? 0 : 1); // 0: a sequence header with the picture size comes first
    PutU16(b, usValue);
    PutU32LE(b, dwCameraId);
    if (bStamped) {
        PutU8(b, STAMP_LEN);
        PutU8(b, bStampFlags);
        PutU32(b, dwTime);
        PutU32(b, dwSubSecond);
    }
    b.insert(b.end(), es.begin(), es.end());
    return b;
}

Bytes BuildAudioFrame(std::uint16_t usValue, std::uint32_t dwCameraId, const std::uint8_t* pGsm,
                      std::size_t nGsm)
{
    Bytes b;
    PutU8(b, TYPE_AUDIO);
    PutU8(b, 0);
    PutU16(b, usValue);
    PutU32LE(b, dwCameraId);
    PutBytes(b, pGsm, nGsm);
    return b;
}

namespace {

std::size_t SegmentCount(const Bytes& unit)
{
    return std::max<std::size_t>(1, (unit.size() + SEGMENT_PAYLOAD - 1) / SEGMENT_PAYLOAD);
}

// Segment i of nSegs into s (emptied first).
void BuildSegment(Bytes& s, std::uint16_t usSequence, const Bytes& unit, std::size_t i, std::size_t nSegs)
{
    const std::size_t off = i * SEGMENT_PAYLOAD;
    const std::size_t n = std::min(SEGMENT_PAYLOAD, unit.size() - off);
    s.clear();
    s.reserve(8 + n);
    // 0: whole unit in one datagram; 1: the last segment; 2: any other segment.
    PutU8(s, nSegs == 1 ? 0 : i + 1 == nSegs ? 1 : 2);
    PutU8(s, 0);
    PutU16(s, usSequence);
    PutU32(s, static_cast<std::uint32_t>(off / 256));
    s.insert(s.end(), unit.begin() + static_cast<std::ptrdiff_t>(off),
             unit.begin() + static_cast<std::ptrdiff_t>(off + n));
}

} // namespace

std::vector<Bytes> SegmentUnit(std::uint16_t usSequence, const Bytes& unit)
{
    const std::size_t nSegs = SegmentCount(unit);
    std::vector<Bytes> out(nSegs);
    for (std::size_t i = 0; i < nSegs; ++i)
        BuildSegment(out[i], usSequence, unit, i, nSegs);
    return out;
}

std::size_t CodecDataOffset(const Bytes& frame)
{
    if (frame.size() < MEDIA_HEADER_LEN)
        return frame.size();
    const std::uint8_t t = frame[0];
    if ((t == TYPE_H264_STAMPED || t == TYPE_MPEG4_STAMPED) && frame.size() > MEDIA_HEADER_LEN)
        return std::min(frame.size(), MEDIA_HEADER_LEN + frame[MEDIA_HEADER_LEN]);
    return MEDIA_HEADER_LEN;
}

// ---------------------------------------------------------------- SD card

bool SdSeek(const Camera& cam, const Clip& sd, std::uint32_t dwTime, bool bEventsOnly, SdPosition& pos)
{
    std::size_t i = 0;
    bool bFirst = true;
    while (NextRecording(cam, i, bFirst, bEventsOnly, i)) {
        bFirst = false;
        const Recording& r = cam.recordings[i];
        if (r.dwEnd <= dwTime)
            continue;
        std::uint64_t n = 0;
        if (dwTime > r.dwStart)
            n = static_cast<std::uint64_t>(dwTime - r.dwStart) * static_cast<std::uint64_t>(sd.cfg.nFps);
        n -= n % static_cast<std::uint64_t>(sd.cfg.nGop);
        pos.nRecording = i;
        pos.dwFrame = static_cast<std::uint32_t>(n);
        return true;
    }
    return false;
}

bool SdAt(const Camera& cam, const Clip& sd, std::uint32_t dwTime, std::uint32_t dwIndex, SdPosition& pos)
{
    std::size_t i = 0;
    bool bFirst = true;
    while (NextRecording(cam, i, bFirst, false, i)) {
        bFirst = false;
        const Recording& r = cam.recordings[i];
        if (dwTime < r.dwStart || dwTime >= r.dwEnd)
            continue;
        pos.nRecording = i;
        pos.dwFrame = (dwTime - r.dwStart) * static_cast<std::uint32_t>(sd.cfg.nFps) + dwIndex;
        return true;
    }
    return false;
}

bool SdNext(const Camera& cam, const Clip& sd, bool bEventsOnly, SdPosition& pos)
{
    if (pos.nRecording < cam.recordings.size() &&
        pos.dwFrame + 1ull < FramesOf(cam.recordings[pos.nRecording], sd)) {
        pos.dwFrame++;
        return true;
    }
    std::size_t next = 0;
    if (!NextRecording(cam, pos.nRecording, false, bEventsOnly, next))
        return false;
    pos.nRecording = next;
    pos.dwFrame = 0;
    return true;
}

std::uint32_t SdFrameTime(const Camera& cam, const Clip& sd, const SdPosition& pos, std::uint32_t* pSub)
{
    const std::uint32_t fps = static_cast<std::uint32_t>(sd.cfg.nFps);
    if (pSub)
        *pSub = (pos.dwFrame % fps) * (1000000u / fps);
    return cam.recordings.at(pos.nRecording).dwStart + pos.dwFrame / fps;
}

Bytes SdFrame(const Camera& cam, const Clip& sd, std::uint8_t bStampFlags, const SdPosition& pos)
{
    std::uint32_t dwSub = 0;
    const std::uint32_t dwTime = SdFrameTime(cam, sd, pos, &dwSub);
    // The card's second picture size: the same frames, encoded at the other size.
    std::shared_ptr<const Clip> other;
    if (cam.media.sdSwitch && dwTime >= cam.media.dwSdSwitchAt) {
        std::string strError;
        other = GetClip(*cam.media.sdSwitch, strError);
    }
    const Clip& clip = other ? *other : sd;
    const EncodedFrame& f = clip.frames[pos.dwFrame % clip.frames.size()];
    const std::uint8_t bType = sd.cfg.enCodec == VideoCodec::H264 ? TYPE_H264_STAMPED : TYPE_MPEG4_STAMPED;
    return BuildVideoFrame(bType, f.bKey, static_cast<std::uint16_t>(pos.dwFrame), cam.dwId, bStampFlags,
                           dwTime, dwSub, f.es);
}

// ---------------------------------------------------------------- WAV

bool ReadWav8k(const std::string& strPath, std::vector<std::int16_t>& samples, std::string& strError)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        strError = "cannot read " + strPath;
        return false;
    }
    const Bytes f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t o) {
        return std::uint32_t(f[o]) | std::uint32_t(f[o + 1]) << 8 | std::uint32_t(f[o + 2]) << 16 |
               std::uint32_t(f[o + 3]) << 24;
    };
    auto u16 = [&](std::size_t o) { return static_cast<std::uint16_t>(f[o] | f[o + 1] << 8); };
    if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) != 0 || std::memcmp(f.data() + 8, "WAVE", 4) != 0) {
        strError = strPath + ": not a WAV file";
        return false;
    }
    bool bFmt = false;
    for (std::size_t o = 12; o + 8 <= f.size();) {
        const std::uint32_t n = u32(o + 4);
        const std::size_t body = o + 8;
        if (n > f.size() - body) {
            strError = strPath + ": chunk runs past the end of the file";
            return false;
        }
        if (std::memcmp(&f[o], "fmt ", 4) == 0 && n >= 16) {
            if (u16(body) != 1 || u16(body + 2) != 1 || u32(body + 4) != 8000 || u16(body + 14) != 16) {
                strError = strPath + ": must be PCM, mono, 8000 Hz, 16-bit";
                return false;
            }
            bFmt = true;
        } else if (std::memcmp(&f[o], "data", 4) == 0) {
            if (!bFmt) {
                strError = strPath + ": data before format";
                return false;
            }
            samples.resize(n / 2);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<std::int16_t>(u16(body + 2 * i));
            if (samples.size() < 160) {
                strError = strPath + ": fewer than 160 samples";
                return false;
            }
            return true;
        }
        o = body + n + (n & 1);
    }
    strError = strPath + ": no data chunk";
    return false;
}

// ---------------------------------------------------------------- engine state

struct CMediaEngine::Stream {
    bool bActive = false;
    std::uint32_t dwAddr = 0; // where it goes, after the unicast/multicast choice
    std::uint16_t usPort = 0;
    std::uint16_t usRequestedPort = 0;
    std::uint64_t uLastHeartbeat = 0, uStarted = 0;
};

struct CMediaEngine::PerCamera {
    enum { LIVE, PLAYBACK_A, PLAYBACK_B, DOWNLOAD, N };
    Stream streams[N];
    std::map<std::uint16_t, std::uint16_t> seq; // per destination port, on the root's socket
    // A frame's own number in its header, per destination port: each channel of a recorder
    // counts its own frames, while the segments under them stay numbered by the recorder's
    // socket (the receiver files segments by sender and number).
    std::map<std::uint16_t, std::uint16_t> frameNo;
    std::mt19937 rng;
    std::shared_ptr<const Clip> liveClip, switchClip, sdClip;
    std::uint64_t uTickAt = 0, uTickGen = 0;
    std::uint64_t uRamGen = 0; // the camera's reboot count as last seen

    // Live
    std::uint64_t uVideoBase = 0, uVideoCount = 0, uAudioBase = 0, uAudioCount = 0;
    std::uint32_t dwClipFrame = 0;
    bool bSwitched = false;
    gsm gsmEnc = nullptr;
    std::size_t nAudioPos = 0;

    // Playback
    struct {
        bool bActive = false, bPaused = false, bEventsOnly = false, bAudio = false;
        std::uint8_t bSpeed = 1;
        SdPosition pos;
        bool bHavePos = false;
        // The frame at pos has gone out: play moves on after each frame, a frame-by-frame step
        // sends the frame it stands on first, so that no frame of the reference chain is skipped.
        bool bPosSent = false;
        std::uint64_t uNext = 0, uAudioNext = 0;
        std::uint32_t dwSession = 0;
        int nStream = PLAYBACK_A;
    } pb;

    // Download
    struct Pending {
        Bytes sub;
        std::uint64_t uUnit = 0;
    };
    // A datagram as it went out. It is sent again byte for byte under the same segment sequence,
    // so the receiver's reassembly can fill a frame from the segments of several copies.
    struct Unit {
        Bytes bytes;
        std::uint16_t usSeq = 0;
        std::uint64_t uFirstSent = 0, uSentAt = 0;
        std::uint64_t uLastSend = 0;     // place of its latest copy among everything sent
        std::vector<std::uint32_t> subs; // its sub-packets' send sequences
        std::size_t nOpen = 0;           // those not yet acknowledged
        std::uint32_t dwLater = 0;       // acknowledgements of later datagrams since it was last sent
        bool bResent = false;            // its round trip is no longer known
        std::uint32_t nTimerResends = 0; // each one doubles its resend time
    };
    struct {
        bool bActive = false, bExhausted = false;
        std::uint32_t dwStart = 0, dwEnd = 0;
        SdPosition pos;
        bool bHavePos = false;
        std::uint32_t dwNextSeq = 0;
        std::map<std::uint32_t, Pending> inflight;
        std::map<std::uint64_t, Unit> units; // by send order
        std::uint64_t uNextUnit = 0;
        std::uint64_t uSends = 0;   // datagrams sent, first copies and resends
        double dSrttMs = -1;        // smoothed round trip; below 0 until the first one is measured
        std::uint64_t uNextDue = 0; // when the earliest datagram still open is due again
        void Reset()
        {
            inflight.clear();
            units.clear();
            dSrttMs = -1;
            uNextDue = 0;
        }
        // One sub-packet acknowledged: 1 when it was still outstanding.
        std::size_t Ack(std::uint32_t q)
        {
            auto it = inflight.find(q);
            if (it == inflight.end())
                return 0;
            if (auto u = units.find(it->second.uUnit); u != units.end() && --u->second.nOpen == 0)
                units.erase(u);
            inflight.erase(it);
            return 1;
        }
    } dl;

    // Talk audio to the camera
    gsm gsmDec = nullptr;
    std::fstream talkWav;
    std::uint32_t dwTalkSamples = 0;

    struct {
        std::uint64_t liveFrames = 0, liveBytes = 0, audioFrames = 0, playbackFrames = 0, downloadSent = 0,
                      downloadResent = 0, downloadFastResent = 0, downloadTimerResent = 0, downloadAcked = 0,
                      downloadAcks = 0, downloadRanges = 0, oversize = 0, talkFrames = 0, talkBad = 0,
                      heartbeatStops = 0, segments = 0, faulted = 0;
    } n;

    ~PerCamera()
    {
        if (gsmEnc)
            gsm_destroy(gsmEnc);
        if (gsmDec)
            gsm_destroy(gsmDec);
    }
};

CMediaEngine::CMediaEngine(IEnv& env, SendFn send, RecTimeFn rectime, std::uint32_t dwSeed)
    : m_env(env), m_send(std::move(send)), m_rectime(std::move(rectime)), m_dwSeed(dwSeed)
{
}

CMediaEngine::~CMediaEngine()
{
    if (m_encoder.joinable())
        m_encoder.join();
}

CMediaEngine::PerCamera& CMediaEngine::State(Camera& cam)
{
    auto& p = m_cams[&cam];
    if (!p) {
        p = std::make_unique<PerCamera>();
        // Media draws from its own generator: the control plane's outcomes stay as they were.
        p->rng.seed(m_dwSeed * 104729u + static_cast<std::uint32_t>(cam.nIndex) * 31u + (cam.dwId & 0xFFFF));
        p->uRamGen = cam.rectime.uGeneration;
    }
    // A reboot loses what the camera kept in memory: its streams, playback and download.
    if (p->uRamGen != cam.rectime.uGeneration) {
        p->uRamGen = cam.rectime.uGeneration;
        for (Stream& st : p->streams)
            st.bActive = false;
        p->pb.bActive = false;
        p->dl.bActive = false;
        p->dl.Reset();
        // A camera counts its segments from wherever it starts after a boot, not on from before.
        for (auto& entry : p->seq)
            entry.second = static_cast<std::uint16_t>(p->rng());
    }
    return *p;
}

bool CMediaEngine::Prepare(const std::vector<Camera*>& cameras, std::string& strError, bool bWait)
{
    std::vector<VideoConfig> todo;
    for (Camera* pCam : cameras) {
        std::vector<Camera*> all{pCam};
        for (auto& ch : pCam->children)
            all.push_back(ch.get());
        for (Camera* c : all) {
            if (!c->media.bStream)
                continue;
            std::vector<VideoConfig> cfgs{c->media.live};
            if (c->media.switchTo)
                cfgs.push_back(*c->media.switchTo);
            if (!c->recordings.empty())
                cfgs.push_back(c->media.sd);
            if (!c->recordings.empty() && c->media.sdSwitch)
                cfgs.push_back(*c->media.sdSwitch);
            for (const auto& v : cfgs)
                if (std::find(todo.begin(), todo.end(), v) == todo.end())
                    todo.push_back(v);
            if (!c->media.strAudioWav.empty() && !m_wavs.count(c->media.strAudioWav)) {
                std::vector<std::int16_t> s;
                if (!ReadWav8k(c->media.strAudioWav, s, strError))
                    return false;
                m_wavs[c->media.strAudioWav] = std::move(s);
            }
        }
    }
    if (bWait) {
        for (const auto& v : todo)
            if (!GetClip(v, strError))
                return false;
        return true;
    }
    // The configurations were checked when the scenario was read; what can still fail is the
    // encoder itself, and that is reported where the simulator's messages go.
    m_encoder = std::thread([todo] {
        // Below the cameras' answers, which must not wait for the encoder, but not at the very
        // bottom: on a machine kept busy by other work (a test run), a thread at 19 gets about
        // 1 % of a core and the clips a test waits for took minutes.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        for (const auto& v : todo) {
            std::string strError;
            if (!GetClip(v, strError))
                std::fprintf(stderr, "vistrel-camsim: cannot encode %dx%d: %s\n", v.nWidth, v.nHeight,
                             strError.c_str());
        }
        // A benchmark waits for this: the encoder would otherwise compete with what it measures.
        std::fprintf(stderr, "vistrel-camsim: clips encoded\n");
    });
    return true;
}

// ---------------------------------------------------------------- sending

std::uint16_t CMediaEngine::NextSeq(Camera& cam, std::uint16_t usPort)
{
    return State(cam.Root()).seq[usPort]++;
}

std::uint16_t CMediaEngine::NextFrameNo(Camera& cam, std::uint16_t usPort)
{
    return State(cam).frameNo[usPort]++;
}

void CMediaEngine::SendUnit(Camera& cam, PerCamera& pc, const Stream& st, std::uint16_t usSeq,
                            const Bytes& unit)
{
    Camera& root = cam.Root();
    const FaultDirection& f = MediaFaults(cam).out;
    // One buffer for every segment, and no copy where no fault applies: a download sends
    // hundreds of thousands of segments, and the simulator must not be what a benchmark measures.
    const std::size_t nSegs = SegmentCount(unit);
    Bytes seg;
    for (std::size_t i = 0; i < nSegs; ++i) {
        BuildSegment(seg, usSeq, unit, i, nSegs);
        pc.n.segments++;
        if (!f.Any()) {
            m_send(root, st.dwAddr, st.usPort, seg);
            continue;
        }
        bool bChanged = false;
        auto deliveries = ApplyFaults(f, pc.rng, seg, bChanged);
        if (bChanged)
            pc.n.faulted++;
        for (auto& d : deliveries) {
            if (d.dwDelayMs) {
                Camera* pRoot = &root;
                m_env.After(d.dwDelayMs, [this, pRoot, addr = st.dwAddr, port = st.usPort,
                                          bytes = std::move(d.data)] { m_send(*pRoot, addr, port, bytes); });
            } else {
                m_send(root, st.dwAddr, st.usPort, d.data);
            }
        }
    }
}

void CMediaEngine::LogFrame(const Camera& cam, const char* pszStream, std::uint16_t usPort,
                            const std::string& strExtra, const Bytes& frame)
{
    if (!m_pLog)
        return;
    const std::size_t nEs = CodecDataOffset(frame);
    const std::uint16_t usSeq = static_cast<std::uint16_t>(frame[2] << 8 | frame[3]);
    *m_pLog << "media cam=" << cam.dwId << " stream=" << pszStream << " port=" << usPort << " seq=" << usSeq
            << " type=0x" << std::hex << int(frame[0]) << std::dec
            << " key=" << (frame[0] != TYPE_AUDIO && frame[1] == 0) << " size=" << frame.size()
            << " crc=" << Hex8(Crc32(frame.data(), frame.size())) << " es_size=" << frame.size() - nEs
            << " es_crc=" << Hex8(Crc32(frame.data() + nEs, frame.size() - nEs)) << strExtra << "\n";
    m_pLog->flush();
}

void CMediaEngine::Schedule(Camera& cam, std::uint32_t dwMs)
{
    PerCamera& pc = State(cam);
    const std::uint64_t at = m_env.NowMs() + dwMs;
    if (pc.uTickAt && pc.uTickAt <= at)
        return;
    pc.uTickAt = at;
    const std::uint64_t uGen = ++pc.uTickGen;
    Camera* pCam = &cam;
    m_env.After(dwMs, [this, pCam, uGen] { Tick(pCam, uGen); });
}

void CMediaEngine::Tick(Camera* pCam, std::uint64_t uGen)
{
    PerCamera& pc = State(*pCam);
    if (pc.uTickGen != uGen)
        return;
    pc.uTickAt = 0;
    const std::uint64_t now = m_env.NowMs();
    const std::uint64_t uTimeout = std::uint64_t(pCam->media.dwHeartbeatTimeoutS) * 1000;
    for (Stream& st : pc.streams)
        if (st.bActive && now - st.uLastHeartbeat > uTimeout) {
            st.bActive = false;
            pc.n.heartbeatStops++;
            m_env.Log("camera " + std::to_string(pCam->dwId) + ": no start video for " +
                      std::to_string(pCam->media.dwHeartbeatTimeoutS) + " s, stream to port " +
                      std::to_string(st.usRequestedPort) + " stopped");
        }
    TickLive(*pCam, pc, now);
    TickPlayback(*pCam, pc, now);
    TickDownload(*pCam, pc, now);

    std::uint64_t next = UINT64_MAX;
    if (pc.streams[PerCamera::LIVE].bActive) {
        const VideoConfig& v = pc.bSwitched ? *pCam->media.switchTo : pCam->media.live;
        next = std::min(next, pc.uVideoBase + (pc.uVideoCount * 1000) / static_cast<std::uint64_t>(v.nFps));
        if (pCam->media.bAudio)
            next = std::min(next, pc.uAudioBase + pc.uAudioCount * AUDIO_PERIOD_MS);
    }
    if (pc.pb.bActive && !pc.pb.bPaused && pc.pb.bSpeed != 0 && pc.streams[pc.pb.nStream].bActive) {
        next = std::min(next, pc.pb.uNext);
        if (pc.pb.bAudio && pCam->media.bAudio && pc.pb.bSpeed == 1)
            next = std::min(next, pc.pb.uAudioNext);
    }
    if (pc.dl.bActive) // until the download's start video names a port, it waits idly
        next = std::min({next, now + (pc.streams[PerCamera::DOWNLOAD].bActive ? DOWNLOAD_TICK_MS : 200),
                         pc.dl.uNextDue != 0 ? std::max(pc.dl.uNextDue, now) : UINT64_MAX});
    bool bAny = false;
    for (const Stream& st : pc.streams)
        bAny = bAny || st.bActive;
    if (next == UINT64_MAX && (bAny || pc.pb.bActive))
        next = now + 1000; // keeps the heartbeat check going
    if (next != UINT64_MAX)
        Schedule(*pCam, static_cast<std::uint32_t>(next > now ? next - now : 0));
}

// ---------------------------------------------------------------- live

void CMediaEngine::TickLive(Camera& cam, PerCamera& pc, std::uint64_t now)
{
    Stream& st = pc.streams[PerCamera::LIVE];
    if (!st.bActive)
        return;
    if (!pc.liveClip)
        pc.liveClip = PeekClip(cam.media.live);
    if (!pc.switchClip && cam.media.switchTo)
        pc.switchClip = PeekClip(*cam.media.switchTo);
    if (!pc.liveClip || (cam.media.switchTo && !pc.switchClip)) {
        // Still being encoded: look again shortly. A switch counts its time from the first frame.
        st.uStarted = now;
        pc.uVideoBase = pc.uAudioBase = now + 50;
        pc.uVideoCount = pc.uAudioCount = 0;
        return;
    }
    if (cam.media.switchTo && pc.switchClip && !pc.bSwitched &&
        now - st.uStarted >= cam.media.dwSwitchAfterMs) {
        pc.bSwitched = true;
        pc.dwClipFrame = 0; // the new size begins with its key frame
        pc.uVideoBase = now;
        pc.uVideoCount = 0;
        m_env.Log("camera " + std::to_string(cam.dwId) + ": picture size switched");
    }
    const Clip& clip = *(pc.bSwitched ? pc.switchClip : pc.liveClip);
    const std::uint64_t fps = static_cast<std::uint64_t>(clip.cfg.nFps);
    // After a stall (a busy loop, a stopped process) pick up from now instead of bursting.
    if (pc.uVideoBase + (pc.uVideoCount * 1000) / fps + 1000 < now) {
        pc.uVideoBase = now;
        pc.uVideoCount = 0;
    }
    while (pc.uVideoBase + (pc.uVideoCount * 1000) / fps <= now) {
        const EncodedFrame& f = clip.frames[pc.dwClipFrame];
        std::uint32_t dwSec = 0, dwMicro = 0;
        RealTime(dwSec, dwMicro);
        // The camera's clock runs in its own time zone (minutes east of UTC).
        dwSec += static_cast<std::uint32_t>(static_cast<std::int32_t>(cam.Root().ntp.sTimeZone) * 60);
        const Bytes frame =
            BuildVideoFrame(LiveType(cam.media, clip.cfg.enCodec), f.bKey, NextFrameNo(cam, st.usPort),
                            cam.dwId, cam.media.bStampFlags, dwSec, dwMicro, f.es);
        // Logged first: a test that has the frame may read the line at once.
        LogFrame(cam, "live", st.usRequestedPort,
                 " size_wh=" + std::to_string(clip.cfg.nWidth) + "x" + std::to_string(clip.cfg.nHeight),
                 frame);
        SendUnit(cam, pc, st, NextSeq(cam, st.usPort), frame);
        pc.n.liveFrames++;
        pc.n.liveBytes += frame.size();
        pc.dwClipFrame = (pc.dwClipFrame + 1) % static_cast<std::uint32_t>(clip.frames.size());
        pc.uVideoCount++;
    }
    if (!cam.media.bAudio)
        return;
    if (pc.uAudioBase + pc.uAudioCount * AUDIO_PERIOD_MS + 1000 < now) {
        pc.uAudioBase = now;
        pc.uAudioCount = 0;
    }
    while (pc.uAudioBase + pc.uAudioCount * AUDIO_PERIOD_MS <= now) {
        std::uint8_t gsmOut[GSM_FRAMES_PER_AUDIO * 33];
        EncodeAudio(cam, pc, gsmOut);
        const Bytes frame = BuildAudioFrame(NextFrameNo(cam, st.usPort), cam.dwId, gsmOut, sizeof gsmOut);
        LogFrame(cam, "audio", st.usRequestedPort, "", frame);
        SendUnit(cam, pc, st, NextSeq(cam, st.usPort), frame);
        pc.n.audioFrames++;
        pc.uAudioCount++;
    }
}

void CMediaEngine::EncodeAudio(Camera& cam, PerCamera& pc, std::uint8_t* pOut)
{
    if (!pc.gsmEnc)
        pc.gsmEnc = gsm_create();
    const std::vector<std::int16_t>* pWav = nullptr;
    if (auto it = m_wavs.find(cam.media.strAudioWav); it != m_wavs.end())
        pWav = &it->second;
    for (std::size_t k = 0; k < GSM_FRAMES_PER_AUDIO; ++k) {
        gsm_signal pcm[160];
        for (int i = 0; i < 160; ++i, ++pc.nAudioPos) {
            if (pWav) {
                pcm[i] = (*pWav)[pc.nAudioPos % pWav->size()];
            } else {
                const double t = static_cast<double>(pc.nAudioPos % 8000) / 8000.0;
                pcm[i] = static_cast<gsm_signal>(8000.0 * std::sin(2.0 * M_PI * cam.media.nToneHz * t));
            }
        }
        gsm_encode(pc.gsmEnc, pcm, pOut + 33 * k);
    }
}

// ---------------------------------------------------------------- start and stop

void CMediaEngine::OnVideoStart(Camera& cam, bool bByMulticast)
{
    PerCamera& pc = State(cam);
    if (!cam.media.bStream)
        return;
    const std::uint16_t usPort = cam.video.usPort;
    int k = PerCamera::LIVE;
    if (usPort == PORT_DOWNLOAD)
        k = PerCamera::DOWNLOAD;
    else if (usPort == PORT_PLAYBACK_A)
        k = PerCamera::PLAYBACK_A;
    else if (usPort == PORT_PLAYBACK_B)
        k = PerCamera::PLAYBACK_B;
    else if (usPort != PORT_LIVE)
        k = cam.video.bStreamType == 1   ? PerCamera::PLAYBACK_A
            : cam.video.bStreamType == 2 ? PerCamera::PLAYBACK_B
                                         : PerCamera::LIVE;
    Stream& st = pc.streams[k];
    const std::uint64_t now = m_env.NowMs();
    // A camera that cannot reach the PC by unicast sends to the media group.
    const bool bMulticast = cam.media.enRoute == MediaRoute::Multicast ||
                            (cam.media.enRoute == MediaRoute::Auto && !cam.Root().bUnicastCapable);
    st.dwAddr = bMulticast ? GROUP_MEDIA : cam.video.dwPcAddr;
    st.usPort = bMulticast ? MulticastPortFor(usPort) : usPort;
    st.usRequestedPort = usPort;
    st.uLastHeartbeat = now;
    if (!st.bActive) {
        st.bActive = true;
        st.uStarted = now;
        if (k == PerCamera::LIVE) {
            pc.uVideoBase = pc.uAudioBase = now;
            pc.uVideoCount = pc.uAudioCount = 0;
            pc.dwClipFrame = 0;
            pc.bSwitched = false;
        }
        m_env.Log("camera " + std::to_string(cam.dwId) + ": streaming to " + AddrToText(st.dwAddr) + ":" +
                  std::to_string(st.usPort) + (bByMulticast ? " (asked by multicast)" : ""));
    }
    if (k == PerCamera::PLAYBACK_A || k == PerCamera::PLAYBACK_B)
        pc.pb.nStream = k;
    Schedule(cam, 0);
}

void CMediaEngine::OnVideoStop(Camera& cam)
{
    PerCamera& pc = State(cam);
    // A download keeps going: it ends with its own stop request or without heartbeats.
    for (int k : {PerCamera::LIVE, PerCamera::PLAYBACK_A, PerCamera::PLAYBACK_B})
        pc.streams[k].bActive = false;
}

// ---------------------------------------------------------------- playback

void CMediaEngine::SendPlaybackFrame(Camera& cam, PerCamera& pc)
{
    Stream& st = pc.streams[pc.pb.nStream];
    std::uint32_t dwSub = 0;
    const std::uint32_t dwTime = SdFrameTime(cam, *pc.sdClip, pc.pb.pos, &dwSub);
    Bytes frame = SdFrame(cam, *pc.sdClip, cam.media.bStampFlags, pc.pb.pos);
    const std::uint16_t usSeq = NextSeq(cam, st.usPort);
    frame[2] = static_cast<std::uint8_t>(usSeq >> 8);
    frame[3] = static_cast<std::uint8_t>(usSeq);
    Bytes unit;
    unit.reserve(PLAYBACK_PREFIX_LEN + frame.size());
    PutU32(unit, pc.pb.dwSession);
    PutU32(unit, dwTime);
    PutU32(unit, dwSub);
    unit.insert(unit.end(), frame.begin(), frame.end());
    LogFrame(cam, pc.pb.nStream == PerCamera::PLAYBACK_A ? "playbackA" : "playbackB", st.usRequestedPort,
             " time=" + std::to_string(dwTime) + " sub=" + std::to_string(dwSub), frame);
    SendUnit(cam, pc, st, usSeq, unit);
    pc.n.playbackFrames++;
}

void CMediaEngine::EndOfRecording(Camera& cam, PerCamera& pc)
{
    Bytes body;
    PutU32(body, cam.dwId);
    m_rectime(cam, BuildRecTimeReply(RECTIME_END, cam.usMsVersion, body));
}

void CMediaEngine::TickPlayback(Camera& cam, PerCamera& pc, std::uint64_t now)
{
    auto& pb = pc.pb;
    if (!pb.bActive || pb.bPaused || pb.bSpeed == 0 || !pc.streams[pb.nStream].bActive || !pc.sdClip)
        return;
    const double dPeriod = 1000.0 / pc.sdClip->cfg.nFps;
    // Bit 5 marks a slowing divisor in the low bits; otherwise the value is the speed-up.
    const double dInterval = (pb.bSpeed & 32) ? dPeriod * std::max(1, pb.bSpeed & 31) : dPeriod / pb.bSpeed;
    if (pb.uNext + 1000 < now)
        pb.uNext = now;
    // Sound only at normal speed, as the recording's own audio would be.
    if (pb.bAudio && cam.media.bAudio && pb.bSpeed == 1) {
        if (pb.uAudioNext + 1000 < now)
            pb.uAudioNext = now;
        Stream& st = pc.streams[pb.nStream];
        for (; pb.uAudioNext <= now; pb.uAudioNext += AUDIO_PERIOD_MS) {
            std::uint8_t gsmOut[GSM_FRAMES_PER_AUDIO * 33];
            EncodeAudio(cam, pc, gsmOut);
            std::uint32_t dwSub = 0;
            const std::uint32_t dwTime = SdFrameTime(cam, *pc.sdClip, pb.pos, &dwSub);
            const std::uint16_t usSeq = NextSeq(cam, st.usPort);
            const Bytes frame = BuildAudioFrame(usSeq, cam.dwId, gsmOut, sizeof gsmOut);
            Bytes unit;
            PutU32(unit, pb.dwSession);
            PutU32(unit, dwTime);
            PutU32(unit, dwSub);
            unit.insert(unit.end(), frame.begin(), frame.end());
            LogFrame(cam, pb.nStream == PerCamera::PLAYBACK_A ? "playbackA" : "playbackB", st.usRequestedPort,
                     " time=" + std::to_string(dwTime) + " sub=" + std::to_string(dwSub), frame);
            SendUnit(cam, pc, st, usSeq, unit);
            pc.n.audioFrames++;
        }
    }
    int nBurst = 0;
    while (pb.bActive && pb.uNext <= now && nBurst++ < 64) {
        SendPlaybackFrame(cam, pc);
        pb.uNext = now + static_cast<std::uint64_t>(std::max(1.0, dInterval));
        pb.bPosSent = false;
        if (!SdNext(cam, *pc.sdClip, pb.bEventsOnly, pb.pos)) {
            pb.bActive = false;
            EndOfRecording(cam, pc);
        }
    }
}

// ---------------------------------------------------------------- download

void CMediaEngine::TickDownload(Camera& cam, PerCamera& pc, std::uint64_t now)
{
    auto& dl = pc.dl;
    Stream& st = pc.streams[PerCamera::DOWNLOAD];
    if (!dl.bActive || !st.bActive || !pc.sdClip)
        return;
    // What is due again: unacknowledged for the resend time, or passed over by the
    // acknowledgements of later datagrams (uSentAt 0). A camera on a LAN sees round trips of a few
    // milliseconds: four of them, not a fixed time made for slow links, say a datagram is lost.
    const std::uint64_t uMax = cam.media.dwSdResendMs;
    const std::uint64_t uRto = dl.dSrttMs < 0
                                   ? uMax
                                   : std::clamp<std::uint64_t>(static_cast<std::uint64_t>(4 * dl.dSrttMs),
                                                               cam.media.dwSdResendMinMs, uMax);
    auto due = [&](const PerCamera::Unit& u) {
        return u.uSentAt + std::min(uMax, uRto << std::min<std::uint32_t>(u.nTimerResends, 8));
    };
    for (auto& [id, u] : dl.units) {
        if (due(u) > now)
            continue;
        if (u.uSentAt != 0) {
            pc.n.downloadTimerResent++;
            u.nTimerResends++;
        }
        u.bResent = true;
        if (u.nOpen < u.subs.size()) {
            // Part of it was acknowledged, so it arrived: what is left goes as a new datagram.
            Bytes bytes;
            std::vector<std::uint32_t> open;
            for (std::uint32_t q : u.subs)
                if (auto it = dl.inflight.find(q); it != dl.inflight.end()) {
                    bytes.insert(bytes.end(), it->second.sub.begin(), it->second.sub.end());
                    open.push_back(q);
                }
            u.bytes = std::move(bytes);
            u.subs = std::move(open);
            u.usSeq = NextSeq(cam, st.usPort);
            u.uFirstSent = now;
        } else if (now - u.uFirstSent > SAME_SEGMENT_SEQ_MS) {
            // Within the receiver's reassembly time the same sequence lets it combine copies; an
            // older datagram goes under a new one, so it never meets a later frame's segments.
            u.usSeq = NextSeq(cam, st.usPort);
            u.uFirstSent = now;
        }
        SendUnit(cam, pc, st, u.usSeq, u.bytes);
        u.uSentAt = now;
        u.uLastSend = ++dl.uSends;
        u.dwLater = 0;
        pc.n.downloadResent += u.nOpen;
    }
    // New sub-packets travel together up to the unit size. A unit goes as soon as it is full,
    // so the first datagram of a window does not wait for the whole window to be read.
    PerCamera::Unit unit;
    auto flush = [&] {
        if (unit.bytes.empty())
            return;
        unit.usSeq = NextSeq(cam, st.usPort);
        unit.uFirstSent = unit.uSentAt = now;
        unit.uLastSend = ++dl.uSends;
        SendUnit(cam, pc, st, unit.usSeq, unit.bytes);
        dl.units[dl.uNextUnit++] = std::move(unit);
        unit = PerCamera::Unit();
    };
    while (!dl.bExhausted && dl.inflight.size() < cam.media.dwSdWindow) {
        if (!dl.bHavePos || SdFrameTime(cam, *pc.sdClip, dl.pos) > dl.dwEnd) {
            dl.bExhausted = true;
            break;
        }
        std::uint32_t dwSub = 0;
        const std::uint32_t dwTime = SdFrameTime(cam, *pc.sdClip, dl.pos, &dwSub);
        const Bytes frame = SdFrame(cam, *pc.sdClip, cam.media.bStampFlags, dl.pos);
        const std::uint32_t len = static_cast<std::uint32_t>(SUBPACKET_HEADER_LEN + frame.size());
        if (len > 0xFFFF && cam.usMsVersion < 4)
            pc.n.oversize++; // such a receiver cannot read the high length byte
        Bytes sub;
        sub.reserve(len);
        PutU16(sub, static_cast<std::uint16_t>(len));
        PutU8(sub, static_cast<std::uint8_t>(len >> 16));
        sub.insert(sub.end(), 5, 0);
        PutU32(sub, dl.dwNextSeq);
        PutU32(sub, dwTime);
        PutU32(sub, dwSub);
        sub.insert(sub.end(), frame.begin(), frame.end());
        LogFrame(cam, "download", st.usRequestedPort,
                 " sendseq=" + std::to_string(dl.dwNextSeq) + " time=" + std::to_string(dwTime) +
                     " sub=" + std::to_string(dwSub),
                 frame);
        if (!unit.bytes.empty() && unit.bytes.size() + sub.size() > cam.media.dwSdDatagramBytes)
            flush();
        unit.bytes.insert(unit.bytes.end(), sub.begin(), sub.end());
        unit.subs.push_back(dl.dwNextSeq);
        unit.nOpen++;
        auto& p = dl.inflight[dl.dwNextSeq++];
        p.sub = std::move(sub);
        p.uUnit = dl.uNextUnit;
        pc.n.downloadSent++;
        if (!SdNext(cam, *pc.sdClip, false, dl.pos))
            dl.bExhausted = true;
    }
    flush();
    dl.uNextDue = 0;
    for (const auto& [id, u] : dl.units)
        dl.uNextDue = dl.uNextDue == 0 ? due(u) : std::min(dl.uNextDue, due(u));
    if (dl.bExhausted && dl.inflight.empty()) {
        dl.bActive = false;
        pc.n.downloadRanges++;
        m_env.Log("camera " + std::to_string(cam.dwId) + ": download range complete");
        EndOfRecording(cam, pc);
    }
}

void CMediaEngine::OnDownloadAck(Camera& cam, const std::uint8_t* p, std::size_t n)
{
    PerCamera& pc = State(cam);
    CPacketReader r(p, n);
    const std::uint32_t dwCount = r.ReadUInt32();
    if (dwCount > n / 4) {
        cam.counters.malformed++;
        return;
    }
    std::vector<std::uint32_t> seqs(dwCount);
    for (auto& q : seqs)
        q = r.ReadUInt32();
    const std::uint32_t dwContinuous = r.ReadUInt32();
    pc.n.downloadAcks++;
    auto& dl = pc.dl;
    // Where in send order the copies this acknowledgement shows to have arrived went out: a
    // resent datagram is passed over only by what went out after its resend, not by the copies
    // that were already on the way. A receiver may acknowledge many datagrams at once, so each
    // datagram shown counts, not the acknowledgement.
    std::vector<std::uint64_t> shown;
    const std::uint64_t now = m_env.NowMs();
    for (std::uint32_t q : seqs) {
        if (auto it = dl.inflight.find(q); it != dl.inflight.end())
            if (auto u = dl.units.find(it->second.uUnit); u != dl.units.end()) {
                if (std::find(shown.begin(), shown.end(), u->second.uLastSend) == shown.end())
                    shown.push_back(u->second.uLastSend);
                // Only a datagram sent once tells its round trip, and only while it stands as sent:
                // one passed over by later ones waits for its resend with no send time, and taking
                // the clock's whole value as a round trip held the resend time at its maximum for
                // the rest of the range.
                if (!u->second.bResent && u->second.uSentAt != 0) {
                    const double dRtt = static_cast<double>(now - u->second.uSentAt);
                    dl.dSrttMs = dl.dSrttMs < 0 ? dRtt : dl.dSrttMs * 7 / 8 + dRtt / 8;
                }
            }
        pc.n.downloadAcked += dl.Ack(q);
    }
    // Everything below the continuous mark has arrived, whether listed or not.
    while (!dl.inflight.empty() && dl.inflight.begin()->first < dwContinuous)
        pc.n.downloadAcked += dl.Ack(dl.inflight.begin()->first);
    // A datagram passed over by three later ones that arrived is taken as lost and sent again at
    // once, as a camera does, instead of after the whole resend time; three allow for some
    // reordering on the way.
    // At the end of a range few datagrams follow a lost one, and the last of them may never be
    // three: there one later datagram that arrived is enough.
    const std::uint32_t dwAfter = dl.bExhausted ? 1 : FAST_RESEND_AFTER;
    if (!shown.empty())
        for (auto& [id, u] : dl.units) {
            if (u.uSentAt == 0)
                continue;
            for (std::uint64_t uSend : shown)
                u.dwLater += uSend > u.uLastSend ? 1 : 0;
            if (u.dwLater >= dwAfter) {
                u.uSentAt = 0;
                pc.n.downloadFastResent++;
            }
        }
    if (dl.bActive)
        Schedule(cam, 0);
}

// ---------------------------------------------------------------- record-time requests

void CMediaEngine::OnRecTime(Camera& cam, std::uint8_t bCode, const std::uint8_t* p, std::size_t n)
{
    if (bCode == 65) {
        // The acknowledgement is media traffic into the camera: media faults apply.
        bool bChanged = false;
        const FaultDirection& f = MediaFaults(cam).in;
        Camera* pCam = &cam;
        PerCamera& pc = State(cam);
        for (auto& d : ApplyFaults(f, pc.rng, Bytes(p, p + n), bChanged)) {
            auto fn = [this, pCam, bytes = std::move(d.data)] {
                try {
                    OnDownloadAck(*pCam, bytes.data(), bytes.size());
                } catch (const CParserException&) {
                    pCam->counters.malformed++;
                }
            };
            if (d.dwDelayMs)
                m_env.After(d.dwDelayMs, std::move(fn));
            else
                fn();
        }
        return;
    }
    if (!cam.media.bStream)
        return;
    PerCamera& pc = State(cam);
    auto& pb = pc.pb;
    CPacketReader r(p, n);
    switch (bCode) {
    case 50: {
        const std::uint32_t dwMode = r.ReadUInt32();
        r.ReadUInt8();
        const std::uint8_t bSpeed = r.ReadUInt8();
        const std::uint32_t dwStart = r.ReadUInt32();
        r.ReadUInt32();
        const std::uint32_t dwEnd = r.ReadUInt32();
        std::string strError;
        if (!pc.sdClip && !cam.recordings.empty())
            pc.sdClip = GetClip(cam.media.sd, strError);
        if (!pc.sdClip) {
            EndOfRecording(cam, pc); // an empty card: nothing to play or fetch
            return;
        }
        if (dwMode == 4) {
            auto& dl = pc.dl;
            dl.bActive = true;
            dl.bExhausted = false;
            dl.dwStart = dwStart;
            dl.dwEnd = dwEnd;
            dl.dwNextSeq = 0;
            dl.Reset();
            dl.bHavePos = SdSeek(cam, *pc.sdClip, dwStart, false, dl.pos);
            // Frames before the range start (back to the key frame) would be refused by the
            // receiver's range check: begin at the first key frame inside the range.
            const auto gop = static_cast<std::uint32_t>(pc.sdClip->cfg.nGop);
            while (dl.bHavePos &&
                   (SdFrameTime(cam, *pc.sdClip, dl.pos) < dwStart || dl.pos.dwFrame % gop != 0))
                if (!SdNext(cam, *pc.sdClip, false, dl.pos))
                    dl.bHavePos = false;
            m_env.Log("camera " + std::to_string(cam.dwId) + ": download " + std::to_string(dwStart) + ".." +
                      std::to_string(dwEnd));
        } else {
            pb.bActive = true;
            pb.bPaused = false;
            pb.bEventsOnly = dwMode == 3;
            pb.bSpeed = bSpeed;
            pb.dwSession++;
            pb.bHavePos = SdSeek(cam, *pc.sdClip, dwStart, pb.bEventsOnly, pb.pos);
            pb.bPosSent = false;
            pb.uNext = pb.uAudioNext = m_env.NowMs();
            if (!pb.bHavePos) {
                pb.bActive = false;
                EndOfRecording(cam, pc);
                return;
            }
            if (bSpeed == 0 && pc.streams[pb.nStream].bActive) {
                SendPlaybackFrame(cam, pc); // frame by frame shows where it stands
                pb.bPosSent = true;
            }
        }
        break;
    }
    case 52:
        pb.bActive = false;
        pc.dl.bActive = false;
        pc.dl.Reset();
        break;
    case 54:
        pb.bPaused = true;
        break;
    case 56:
        pb.bPaused = false;
        pb.uNext = pb.uAudioNext = m_env.NowMs();
        break;
    case 58:
        pb.bAudio = r.ReadUInt32() != 0;
        pb.uAudioNext = m_env.NowMs();
        break;
    case 60:
        pb.bSpeed = r.ReadUInt8();
        pb.uNext = pb.uAudioNext = m_env.NowMs();
        break;
    case 62:
        pb.bEventsOnly = r.ReadUInt32() == 3;
        break;
    case 66:
        if (pb.bActive && pc.streams[pb.nStream].bActive && pc.sdClip) {
            if (pb.bPosSent && !SdNext(cam, *pc.sdClip, pb.bEventsOnly, pb.pos)) {
                pb.bActive = false;
                EndOfRecording(cam, pc);
            } else {
                SendPlaybackFrame(cam, pc);
                pb.bPosSent = true;
            }
        }
        break;
    default:
        return;
    }
    Schedule(cam, 0);
}

// ---------------------------------------------------------------- talk audio

void CMediaEngine::OnTalkAudio(Camera& cam, const std::uint8_t* p, std::size_t n)
{
    PerCamera& pc = State(cam);
    if (n < MEDIA_HEADER_LEN || p[0] != TYPE_AUDIO || (n - MEDIA_HEADER_LEN) % 33 != 0) {
        pc.n.talkBad++;
        return;
    }
    const std::size_t nFrames = (n - MEDIA_HEADER_LEN) / 33;
    pc.n.talkFrames += nFrames;
    if (cam.media.strTalkWav.empty())
        return;
    if (!pc.gsmDec)
        pc.gsmDec = gsm_create();
    if (!pc.talkWav.is_open()) {
        // "{id}" lets one default serve every camera.
        std::string strPath = cam.media.strTalkWav;
        if (auto at = strPath.find("{id}"); at != std::string::npos)
            strPath.replace(at, 4, std::to_string(cam.dwId));
        pc.talkWav.open(strPath, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
        if (!pc.talkWav) {
            m_env.Log("camera " + std::to_string(cam.dwId) + ": cannot write " + strPath);
            cam.media.strTalkWav.clear();
            return;
        }
        pc.talkWav.write(std::string(44, '\0').data(), 44);
    }
    pc.talkWav.seekp(0, std::ios::end);
    for (std::size_t k = 0; k < nFrames; ++k) {
        gsm_byte in[33];
        std::memcpy(in, p + MEDIA_HEADER_LEN + 33 * k, 33);
        gsm_signal pcm[160];
        if (gsm_decode(pc.gsmDec, in, pcm) != 0) {
            pc.n.talkBad++;
            continue;
        }
        Bytes le;
        for (gsm_signal s : pcm) {
            le.push_back(static_cast<std::uint8_t>(s));
            le.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
        }
        pc.talkWav.write(reinterpret_cast<const char*>(le.data()), static_cast<std::streamsize>(le.size()));
        pc.dwTalkSamples += 160;
    }
    // The header always describes what is in the file, so a test may read it at any moment.
    Bytes h;
    auto le32 = [&](std::uint32_t v) { PutU32LE(h, v); };
    auto le16 = [&](std::uint16_t v) {
        h.push_back(static_cast<std::uint8_t>(v));
        h.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    const std::uint32_t dwData = pc.dwTalkSamples * 2;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    le32(36 + dwData);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le32(16);
    le16(1);
    le16(1);
    le32(8000);
    le32(16000);
    le16(2);
    le16(16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    le32(dwData);
    pc.talkWav.seekp(0);
    pc.talkWav.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
    pc.talkWav.flush();
}

// ---------------------------------------------------------------- stats

std::string CMediaEngine::Stats(const Camera& cam) const
{
    nlohmann::json j = nlohmann::json::object();
    auto it = m_cams.find(&cam);
    if (it == m_cams.end())
        return j.dump();
    const PerCamera& pc = *it->second;
    const char* names[] = {"live", "playback_a", "playback_b", "download"};
    for (int k = 0; k < PerCamera::N; ++k) {
        const Stream& st = pc.streams[k];
        j["streams"][names[k]] = {{"active", st.bActive},
                                  {"to", AddrToText(st.dwAddr) + ":" + std::to_string(st.usPort)}};
    }
    j["live_frames"] = pc.n.liveFrames;
    j["live_bytes"] = pc.n.liveBytes;
    j["audio_frames"] = pc.n.audioFrames;
    j["switched"] = pc.bSwitched;
    j["playback_frames"] = pc.n.playbackFrames;
    j["playback_active"] = pc.pb.bActive;
    j["download_active"] = pc.dl.bActive;
    j["download_sent"] = pc.n.downloadSent;
    j["download_resent"] = pc.n.downloadResent;
    j["download_fast_resent"] = pc.n.downloadFastResent;
    j["download_timer_resent"] = pc.n.downloadTimerResent;
    j["download_acked"] = pc.n.downloadAcked;
    j["download_acks"] = pc.n.downloadAcks;
    j["download_inflight"] = pc.dl.inflight.size();
    j["download_ranges"] = pc.n.downloadRanges;
    j["oversize_subpackets"] = pc.n.oversize;
    j["talk_frames"] = pc.n.talkFrames;
    j["talk_bad"] = pc.n.talkBad;
    j["heartbeat_stops"] = pc.n.heartbeatStops;
    j["segments"] = pc.n.segments;
    j["faulted_segments"] = pc.n.faulted;
    return j.dump();
}

} // namespace camsim
