// Live view without a window: the pane logic with a recorded frame sequence, and the whole
// graph (push source, the decoder module, renderer) against FFmpeg's own encoding and decoding
// of the same pictures.
#include "device/deviceinfo.h"
#include "device/devicemanager.h"
#include "media/audio/audiomanager.h"
#include "media/video/pushsourcefilter.h"
#include "media/video/videopanelogic.h"
#include "net/localaddress.h"
#include "net/mediareassembly.h"
#include "net/socketmanager.h"
#include "platform/ticks.h"
#include "protocol/engmedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<BYTE> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

int Run(const std::string& strCommand)
{
    const int nStatus = std::system(strCommand.c_str());
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// A class registry of this test's own with the decoder module in it.
class VideoEnv : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("vistrel-video-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        setenv("VISTREL_HOME", m_dir.c_str(), 1);
        setenv("TMPDIR", m_dir.c_str(), 1);
        ASSERT_EQ(Run(std::string(VISTREL_REGSVR) + " " + FILTER_MODULE + " >/dev/null 2>&1"), 0);
        // Panes attach to the media engine; here it has no sockets. Its ports are fixed, so two
        // test processes at once would fight over them, and a unit test binds nothing but
        // loopback.
        static CFixedLocalAddresses s_noAddresses({});
        static CSocketManager s_manager(&s_noAddresses);
        CEngMedia::GetInstance()->SetManagerForTest(&s_manager);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    static fs::path Dir() { return fs::path(getenv("VISTREL_HOME")); }

private:
    fs::path m_dir;
};
const auto* g_pEnv = ::testing::AddGlobalTestEnvironment(new VideoEnv);

// Frames of FFmpeg's test pattern as the camera sends them: one codec frame each, split at
// picture start codes, headers with the key frame they precede.
struct Clip {
    std::vector<std::vector<BYTE>> vFrames;
    std::vector<std::vector<BYTE>> vRgb; // FFmpeg's decoding of each frame, RGB24
};

Clip MakeClip(bool bH264, int nWidth, int nHeight, int nFrames, int nGop = 5)
{
    Clip clip;
    const fs::path es = VideoEnv::Dir() / (std::string("clip") + (bH264 ? ".h264" : ".m4v"));
    const fs::path rgb = VideoEnv::Dir() / "clip.rgb";
    const std::string strSize = std::to_string(nWidth) + "x" + std::to_string(nHeight);
    const std::string strGop = " -g " + std::to_string(nGop);
    const std::string strCodec =
        bH264 ? "-c:v libx264 -bf 0" + strGop + " -x264-params repeat-headers=1 -f h264"
              : "-c:v mpeg4 -bf 0" + strGop + " -f m4v";
    if (Run("ffmpeg -v error -y -f lavfi -i testsrc=size=" + strSize + ":rate=25 -frames:v " +
            std::to_string(nFrames) + " -pix_fmt yuv420p " + strCodec + " " + es.string()) != 0 ||
        Run("ffmpeg -v error -y -i " + es.string() + " -f rawvideo -pix_fmt rgb24 " + rgb.string()) != 0)
        return clip;
    const std::vector<BYTE> vEs = ReadFile(es);
    const std::vector<BYTE> vRgb = ReadFile(rgb);
    const std::size_t nPicture = static_cast<std::size_t>(nWidth) * nHeight * 3;
    for (std::size_t i = 0; i + nPicture <= vRgb.size(); i += nPicture)
        clip.vRgb.emplace_back(vRgb.begin() + i, vRgb.begin() + i + nPicture);
    // A frame starts at its first picture (VOP 0xB6, or an H.264 slice, type 1 or 5) or at the
    // headers before it.
    std::vector<std::size_t> vStarts;
    bool bSeenPicture = false;
    for (std::size_t i = 0; i + 4 < vEs.size(); ++i) {
        if (vEs[i] != 0 || vEs[i + 1] != 0 || vEs[i + 2] != 1)
            continue;
        const int nCode = bH264 ? (vEs[i + 3] & 0x1F) : vEs[i + 3];
        const std::size_t nStart = i > 0 && vEs[i - 1] == 0 ? i - 1 : i;
        const bool bPicture = bH264 ? (nCode == 1 || nCode == 5) : nCode == 0xB6;
        if (vStarts.empty() || bSeenPicture) {
            vStarts.push_back(nStart);
            bSeenPicture = false;
        }
        bSeenPicture = bSeenPicture || bPicture;
    }
    vStarts.push_back(vEs.size());
    for (std::size_t i = 0; i + 1 < vStarts.size(); ++i)
        clip.vFrames.emplace_back(vEs.begin() + vStarts[i], vEs.begin() + vStarts[i + 1]);
    return clip;
}

// Mean absolute difference of a 24-bit BMP against an RGB24 picture; -1 when sizes differ.
double BmpDifference(const std::vector<BYTE>& vBmp, const std::vector<BYTE>& vRgb, int nWidth, int nHeight)
{
    if (vBmp.size() < 54 || vBmp[0] != 'B' || vBmp[1] != 'M')
        return -1;
    int32_t nW = 0;
    int32_t nH = 0;
    std::memcpy(&nW, &vBmp[18], 4);
    std::memcpy(&nH, &vBmp[22], 4);
    uint32_t nOffset = 0;
    std::memcpy(&nOffset, &vBmp[10], 4);
    if (nW != nWidth || std::abs(nH) != nHeight || vBmp[28] != 24)
        return -1;
    const std::size_t nStride = (static_cast<std::size_t>(nW) * 3 + 3) & ~std::size_t(3);
    if (vBmp.size() < nOffset + nStride * nHeight)
        return -1;
    double dSum = 0;
    for (int y = 0; y < nHeight; ++y) {
        const BYTE* pRow = &vBmp[nOffset + nStride * (nH > 0 ? nHeight - 1 - y : y)];
        for (int x = 0; x < nWidth; ++x)
            for (int c = 0; c < 3; ++c)
                dSum += std::abs(int(pRow[x * 3 + 2 - c]) - int(vRgb[(y * nWidth + x) * 3 + c]));
    }
    return dSum / (double(nWidth) * nHeight * 3);
}

// The frame as the media engine hands it over: stamped types carry the 10-byte stamp header.
std::vector<BYTE> Stamped(const std::vector<BYTE>& vCodec)
{
    std::vector<BYTE> v = {10, 0, 0x00, 0x5E, 0x10, 0x66, 0, 0, 0, 0};
    v.insert(v.end(), vCodec.begin(), vCodec.end());
    return v;
}

struct Feeder {
    CVideoPaneLogic& pane;
    DWORD dwID;
    DWORD nCodec;
    BYTE bStamped;
    WORD usSequence = 1;
    std::vector<int> vResults;

    // One frame whole, as cameras send it: a non-zero marker on frames without codec headers.
    void WholeFrame(const std::vector<BYTE>& vFrame, int nMode)
    {
        MediaFrame frame;
        frame.pData = vFrame.data();
        frame.nLen = static_cast<DWORD>(vFrame.size());
        frame.ulCameraID = dwID;
        frame.usSequence = usSequence++;
        frame.bySubSequence = CPushSourceFilter::IsKeyFrame(vFrame.data(), vFrame.size(), nMode) ? 0 : 1;
        frame.nCodec = nCodec;
        frame.bStamped = bStamped;
        vResults.push_back(pane.OnMediaFrame(frame));
    }

    // One frame in segments of up to nSegment bytes, each numbered.
    void Frame(const std::vector<BYTE>& vFrame, std::size_t nSegment = 1400)
    {
        for (std::size_t nOff = 0, nSub = 0; nOff < vFrame.size(); nOff += nSegment, ++nSub) {
            MediaFrame frame;
            frame.pData = vFrame.data() + nOff;
            frame.nLen = static_cast<DWORD>(std::min(nSegment, vFrame.size() - nOff));
            frame.ulCameraID = dwID;
            frame.usSequence = usSequence;
            frame.bySubSequence = static_cast<BYTE>(nSub);
            frame.nCodec = nCodec;
            frame.bStamped = nSub == 0 ? bStamped : 0;
            vResults.push_back(pane.OnMediaFrame(frame));
        }
        ++usSequence;
    }
};

class NullAudio : public AudioManager {
public:
    bool StartPlay(HWND, int, DWORD, WORD, WORD, BYTE, BYTE) override { return ++nPlayStarts, true; }
    void StopPlay() override {}
    bool StartCapture(int, DWORD, WORD, WORD) override { return ++nCaptureStarts, true; }
    void StopCapture() override {}
    int nPlayStarts = 0;
    int nCaptureStarts = 0;
};

CVideoPaneLogic::Hooks TestHooks(NullAudio& audio, std::vector<std::pair<DWORD, int>>* pSent = nullptr)
{
    CVideoPaneLogic::Hooks hooks;
    hooks.fnPlayType = [] { return DWORD(PLAY_TYPE_REALTIME); };
    hooks.fnSendAudio = [pSent](DWORD dwID, const BYTE*, int nLen) {
        if (pSent != nullptr)
            pSent->push_back({dwID, nLen});
        return nLen;
    };
    hooks.pAudio = &audio;
    hooks.strSnapshotPath = (VideoEnv::Dir() / "Temp.tmp").string();
    return hooks;
}

std::unique_ptr<DeviceInfo> MakeDevice(DWORD dwID, const char16_t* pszName)
{
    auto pDevice = std::make_unique<DeviceInfo>();
    pDevice->stItem.dwDVIPID = dwID;
    std::char_traits<char16_t>::copy(pDevice->stItem.szName, pszName,
                                     std::char_traits<char16_t>::length(pszName));
    return pDevice;
}

template <class Pred> bool WaitFor(Pred pred)
{
    for (int i = 0; i < 300 && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
}

} // namespace

// Both codecs and all three stream modes, in numbered segments and as whole frames with the
// key marker, through the real graph: the graph is built for the
// stream's size (result 2 once, then 1), every frame reaches the renderer, the snapshot is the
// picture FFmpeg decodes from the same stream, and the graph is listed while it lives.
TEST(VideoLive, GraphDecodesWhatFfmpegEncoded)
{
    struct Case {
        const char* pszName;
        bool bH264;
        DWORD nCodec;
        BYTE bStamped;
        bool bWhole; // whole frames with the key marker, or numbered segments
    };
    const Case aCases[] = {{"MPEG-4 plain", false, MEDIA_CODEC_MPEG4, 0, false},
                           {"MPEG-4 stamped, whole frames", false, MEDIA_CODEC_MPEG4, 1, true},
                           {"H.264 stamped", true, MEDIA_CODEC_H264, 1, false},
                           {"H.264 stamped, whole frames", true, MEDIA_CODEC_H264, 1, true}};
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszName);
        const Clip clip = MakeClip(c.bH264, 352, 288, 12);
        ASSERT_EQ(clip.vFrames.size(), 12u);
        NullAudio audio;
        CVideoPaneLogic pane(nullptr, TestHooks(audio));
        auto pDevice = MakeDevice(7, u"Gate");
        pDevice->bNoCaption = 1; // the comparison wants the picture without the caption
        pane.ShowDevice(pDevice.get());
        Feeder feed{pane, 7, c.nCodec, c.bStamped};
        for (const auto& vFrame : clip.vFrames) {
            if (c.bWhole)
                feed.WholeFrame(c.bStamped ? Stamped(vFrame) : vFrame, c.bH264 ? 2 : c.bStamped);
            else
                feed.Frame(c.bStamped ? Stamped(vFrame) : vFrame);
        }
        EXPECT_EQ(std::count(feed.vResults.begin(), feed.vResults.end(), 0), 0);
        EXPECT_EQ(pane.PictureWidth(), 352u);
        EXPECT_EQ(pane.PictureHeight(), 288u);
        ASSERT_TRUE(pane.Session()->IsRunning());
        EXPECT_EQ(pane.Session()->GetStats().qwBuilds, 1u);
        EXPECT_EQ(ListRunningGraphs().size(), 1u);
        // The last frame waits for the next one to start; the eleven before it are shown.
        ASSERT_TRUE(WaitFor([&] { return pane.Session()->GetStats().qwRendered >= 11; }))
            << pane.Session()->GetStats().qwRendered;
        ASSERT_TRUE(pane.Snapshot());
        const std::vector<BYTE> vBmp = ReadFile(pane.SnapshotPath());
        double dBest = 1e9;
        std::size_t nBest = 0;
        for (std::size_t i = 0; i < clip.vRgb.size(); ++i) {
            const double d = BmpDifference(vBmp, clip.vRgb[i], 352, 288);
            if (d >= 0 && d < dBest) {
                dBest = d;
                nBest = i;
            }
        }
        EXPECT_LT(dBest, 6.0);
        EXPECT_EQ(nBest, 10u);
        pane.StopDevice(pDevice.get());
        EXPECT_TRUE(ListRunningGraphs().empty());
    }
}

// A camera switching from 352x288 to 640x480 mid-stream: the graph is built anew (result 2),
// the pane takes the new size and pictures keep coming at it; a gap in the sub-sequences of a
// frame stops that frame, and the next frame starts cleanly.
TEST(VideoLive, SizeChangeRebuildsAndGapsDropTheRestOfAFrame)
{
    const Clip small = MakeClip(false, 352, 288, 6);
    const Clip large = MakeClip(false, 640, 480, 6);
    ASSERT_EQ(small.vFrames.size(), 6u);
    ASSERT_EQ(large.vFrames.size(), 6u);
    NullAudio audio;
    CVideoPaneLogic pane(nullptr, TestHooks(audio));
    auto pDevice = MakeDevice(9, u"Yard");
    pane.ShowDevice(pDevice.get());
    Feeder feed{pane, 9, MEDIA_CODEC_MPEG4, 0};
    for (const auto& vFrame : small.vFrames)
        feed.Frame(vFrame, 500);
    ASSERT_TRUE(WaitFor([&] { return pane.Session()->GetStats().qwRendered >= 5; }));

    // The camera's own frames after the switch, key frame first, through the pane.
    feed.usSequence = 200;
    for (const auto& vFrame : large.vFrames)
        feed.Frame(vFrame, 500);
    EXPECT_EQ(pane.PictureWidth(), 640u);
    EXPECT_EQ(pane.PictureHeight(), 480u);
    EXPECT_EQ(pane.Session()->GetStats().qwBuilds, 2u);
    ASSERT_TRUE(WaitFor([&] { return pane.Session()->GetStats().qwRendered >= 10; }));
    ASSERT_TRUE(pane.Snapshot());
    EXPECT_LT(BmpDifference(ReadFile(pane.SnapshotPath()), large.vRgb[4], 640, 480), 6.0);

    // Back to the first size straight at the session: segment 0 rebuilds, 1 is pushed, 3 after
    // a missing 2 is not.
    VideoBuffer buffer;
    const std::vector<BYTE>& vKey = small.vFrames[0];
    ASSERT_GT(vKey.size(), 2000u);
    const int anExpected[] = {2, 1, 0};
    const BYTE abSub[] = {0, 1, 3};
    for (int i = 0; i < 3; ++i) {
        buffer.pData = vKey.data() + abSub[i] * 500;
        buffer.nLen = 500;
        buffer.usSequence = 100;
        buffer.bySubSequence = abSub[i];
        EXPECT_EQ(pane.Session()->AddBuffer(&buffer), anExpected[i]) << "sub " << int(abSub[i]);
    }
    EXPECT_EQ(buffer.nWidth, 352u);
    EXPECT_EQ(pane.Session()->GetStats().qwBuilds, 3u);
    buffer.pData = small.vFrames[1].data();
    buffer.nLen = static_cast<DWORD>(small.vFrames[1].size());
    buffer.usSequence = 101;
    buffer.bySubSequence = 0;
    EXPECT_EQ(pane.Session()->AddBuffer(&buffer), 1); // the next frame starts cleanly
}

// A frame's time runs from the arrival of its last segment to its pixels reaching the window:
// the wait for the rest of a frame is not counted, the wait for the next frame to start (which
// sends the gathered one on) is; every picture, and the key frame apart, is timed.
TEST(VideoLive, FrameTimeRunsFromLastSegmentToWindow)
{
    using namespace std::chrono_literals;
    constexpr auto kRestLate = 500ms;               // between a frame's first and last segments
    constexpr auto kNextLate = 40ms;                // between a frame's last segment and the next frame
    const Clip clip = MakeClip(false, 352, 288, 5); // one key frame, then four others
    ASSERT_EQ(clip.vFrames.size(), 5u);
    NullAudio audio;
    CVideoPaneLogic pane(nullptr, TestHooks(audio));
    auto pDevice = MakeDevice(8, u"Dock");
    pane.ShowDevice(pDevice.get());
    WORD usSequence = 1;
    for (const auto& vCodec : clip.vFrames) {
        const std::vector<BYTE> vFrame = Stamped(vCodec);
        const std::size_t nHalf = vFrame.size() / 2;
        for (BYTE bySub = 0; bySub < 2; ++bySub) {
            MediaFrame frame;
            frame.pData = vFrame.data() + (bySub ? nHalf : 0);
            frame.nLen = static_cast<DWORD>(bySub ? vFrame.size() - nHalf : nHalf);
            frame.ulCameraID = 8;
            frame.usSequence = usSequence;
            frame.bySubSequence = bySub;
            frame.nCodec = MEDIA_CODEC_MPEG4;
            frame.bStamped = bySub == 0;
            pane.QueueMediaFrame(frame);
            std::this_thread::sleep_for(bySub ? kNextLate : kRestLate);
        }
        ++usSequence;
    }
    pane.Session()->FlushFrame();
    ASSERT_TRUE(WaitFor([&] { return pane.Session()->GetStats().qwRendered >= 5; }));
    const CVideoSession::Stats stats = pane.Session()->GetStats();
    EXPECT_EQ(stats.qwTimed, stats.qwRendered);
    EXPECT_EQ(stats.qwKeyTimed, 1u);
    const auto mean = std::chrono::nanoseconds(stats.qwLatencyNs / stats.qwTimed);
    EXPECT_GE(mean, kNextLate);
    EXPECT_LT(std::chrono::nanoseconds(stats.qwKeyLatencyMaxNs), kRestLate);
    EXPECT_GT(stats.qwDecodeNs, 0u);
    std::uint64_t qwPeak = 0;
    std::uint64_t qwKeyPeak = 0;
    pane.Session()->TakeLatencyPeaks(&qwPeak, &qwKeyPeak);
    EXPECT_EQ(qwKeyPeak, stats.qwKeyLatencyMaxNs);
    EXPECT_GE(qwPeak, qwKeyPeak);
    pane.Session()->TakeLatencyPeaks(&qwPeak, &qwKeyPeak);
    EXPECT_EQ(qwPeak + qwKeyPeak, 0u); // taken
    pane.StopDevice(pDevice.get());
}

namespace {

// Records what the pane hands to its session instead of decoding it.
class RecordingSession : public CVideoSession {
public:
    explicit RecordingSession(std::vector<std::vector<BYTE>>* pLog) : CVideoSession(nullptr), m_pLog(pLog) {}
    int AddBuffer(VideoBuffer* pBuffer) override
    {
        m_pLog->emplace_back(pBuffer->pData, pBuffer->pData + pBuffer->nLen);
        return 1;
    }

private:
    std::vector<std::vector<BYTE>>* m_pLog;
};

} // namespace

// The pane's filter, counters, caption rebuild and commands over a recorded sequence.
TEST(VideoPane, RecordedSequence)
{
    NullAudio audio;
    std::vector<std::pair<DWORD, int>> vSent;
    CVideoPaneLogic::Hooks hooks = TestHooks(audio, &vSent);
    std::vector<std::vector<BYTE>> vPushed;
    hooks.fnMakeSession = [&](IVideoPresenter*) { return std::make_unique<RecordingSession>(&vPushed); };
    CVideoPaneLogic pane(nullptr, hooks);
    auto pDevice = MakeDevice(5, u"Cam\u00e91");
    auto pOther = MakeDevice(6, u"Other");

    const std::vector<BYTE> vStamped = Stamped({0, 0, 1, 0xB6, 0x10, 0x20});
    struct Step {
        DWORD dwID;
        WORD usSeq;
        BYTE bySub;
        BYTE bStamped;
        int nExpected;
    };
    // The first frame whatever its number (here in the upper half of the circle), taken, another
    // camera, older frame, same pair again, next segment, wrap past 65535.
    const Step aSteps[] = {{5, 40000, 0, 1, 1}, {5, 10, 0, 1, 1}, {6, 11, 0, 1, 0},    {5, 9, 0, 1, 0},
                           {5, 10, 0, 1, 0},    {5, 10, 1, 0, 1}, {5, 20000, 0, 1, 1}, {5, 40000, 0, 1, 1},
                           {5, 65535, 0, 1, 1}, {5, 2, 0, 1, 1},  {5, 1, 0, 1, 0}};
    // Nothing is taken before a device is shown.
    MediaFrame frame;
    frame.pData = vStamped.data();
    frame.nLen = static_cast<DWORD>(vStamped.size());
    frame.ulCameraID = 5;
    frame.nCodec = MEDIA_CODEC_MPEG4;
    EXPECT_EQ(pane.FeedVideoData(frame), 0);

    pane.Attach();
    GetNotifyManager()->Notify(DWORD_NOTIFYID_VIDEO_START, reinterpret_cast<UINT_PTR>(pDevice.get()));
    ASSERT_EQ(pane.Device(), pDevice.get());
    GetNotifyManager()->Notify(DWORD_NOTIFYID_VIDEO_START, reinterpret_cast<UINT_PTR>(pOther.get()));
    EXPECT_EQ(pane.Device(), pDevice.get()); // one device at a time
    DWORD nBytes = 0;
    for (const Step& s : aSteps) {
        frame.ulCameraID = s.dwID;
        frame.usSequence = s.usSeq;
        frame.bySubSequence = s.bySub;
        frame.bStamped = s.bStamped;
        EXPECT_EQ(pane.OnMediaFrame(frame), s.nExpected) << s.usSeq << "/" << int(s.bySub);
        nBytes += s.nExpected ? frame.nLen : 0;
    }
    EXPECT_EQ(pDevice->dwFrameCount, 7u);
    EXPECT_EQ(pDevice->dwByteCount, nBytes);
    ASSERT_EQ(vPushed.size(), 7u);

    // A stamped first segment: header length L + N + 1, N caption bytes of UTF-16 after it.
    const std::vector<BYTE>& vFirst = vPushed[1];
    const std::u16string strName = u"Cam\u00e91";
    ASSERT_EQ(vFirst.size(), vStamped.size() + 1 + 2 * strName.size());
    EXPECT_EQ(vFirst[0], 10 + 1 + 2 * strName.size());
    EXPECT_EQ(vFirst[10], 2 * strName.size());
    EXPECT_EQ(vFirst[11 + 6], 0xE9); // the fourth character, low byte first
    EXPECT_EQ(std::vector<BYTE>(vFirst.begin() + vFirst[0], vFirst.end()),
              std::vector<BYTE>(vStamped.begin() + 10, vStamped.end()));
    EXPECT_EQ(vPushed[2], vStamped); // a later segment is passed as it came

    // Hidden name: N = 0 clears the caption.
    pDevice->bNoCaption = 1;
    frame.ulCameraID = 5;
    frame.usSequence = 3;
    frame.bySubSequence = 0;
    frame.bStamped = 1;
    EXPECT_EQ(pane.OnMediaFrame(frame), 1);
    EXPECT_EQ(vPushed.back()[0], 11);
    EXPECT_EQ(vPushed.back()[10], 0);

    // A frame whose rebuilt length passes the work buffer is dropped, not written past it.
    std::vector<BYTE> vHuge = Stamped(std::vector<BYTE>(CVideoPaneLogic::WORK_BUFFER_SIZE, 0x55));
    frame.pData = vHuge.data();
    frame.nLen = static_cast<DWORD>(vHuge.size());
    frame.usSequence = 4;
    EXPECT_EQ(pane.OnMediaFrame(frame), 0);
    EXPECT_EQ(pane.GetCounters().qwOversized, 1u);

    // 0xA8 resets the filter: an older frame number is taken again.
    frame.pData = vStamped.data();
    frame.nLen = static_cast<DWORD>(vStamped.size());
    frame.usSequence = 1;
    EXPECT_EQ(pane.OnMediaFrame(frame), 0);
    GetNotifyManager()->Notify(DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED, 0);
    EXPECT_EQ(pane.OnMediaFrame(frame), 1);

    // The engine's frames of one delivery, in the socket layer's slot order: held until the
    // delivery ends, then all taken in number order (0 first after a reset), around the wrap.
    GetNotifyManager()->Notify(DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED, 0);
    const WORD ausArrival[] = {0, 3, 1, 2, 65534, 4, 65535};
    std::vector<std::vector<BYTE>> vPayloads;
    for (WORD us : ausArrival)
        vPayloads.push_back({0, 0, 1, 0xB6, static_cast<BYTE>(us >> 8), static_cast<BYTE>(us)});
    const std::size_t nBefore = vPushed.size();
    frame.bStamped = 0;
    for (std::size_t i = 0; i < vPayloads.size(); ++i) {
        frame.pData = vPayloads[i].data();
        frame.nLen = static_cast<DWORD>(vPayloads[i].size());
        frame.usSequence = ausArrival[i];
        pane.QueueMediaFrame(frame);
    }
    vPayloads.clear(); // the queue holds copies
    EXPECT_EQ(pane.QueuedFrames(), 7u);
    EXPECT_EQ(vPushed.size(), nBefore);
    pane.FlushQueuedFrames();
    EXPECT_EQ(pane.QueuedFrames(), 0u);
    std::vector<int> vOrder;
    for (std::size_t i = nBefore; i < vPushed.size(); ++i)
        vOrder.push_back(static_cast<WORD>(vPushed[i][4] << 8 | vPushed[i][5]));
    EXPECT_EQ(vOrder, (std::vector<int>{65534, 65535, 0, 1, 2, 3, 4}));
    EXPECT_EQ(pane.GetCounters().qwReordered, 4u); // 1, 2, 65534, 65535

    // Talk and listen follow the device's flags; captured audio goes out as request 78.
    pane.SendAudioData(vStamped.data(), 33);
    EXPECT_TRUE(vSent.empty());
    pDevice->bSpeakToCam = 1;
    pDevice->bListenFromCam = 1;
    GetNotifyManager()->Notify(DWORD_NOTIFYID_SPEAK_TO_CAMERA, 0);
    GetNotifyManager()->Notify(DWORD_NOTIFYID_LISTEN_FROM_CAMERA, 0);
    EXPECT_EQ(audio.nCaptureStarts, 1);
    EXPECT_EQ(audio.nPlayStarts, 1);
    pane.SendAudioData(vStamped.data(), 33);
    ASSERT_EQ(vSent.size(), 1u);
    EXPECT_EQ(vSent[0], std::make_pair(DWORD(5), 33));

    GetNotifyManager()->Notify(DWORD_NOTIFYID_VIDEO_STOP, reinterpret_cast<UINT_PTR>(pDevice.get()));
    EXPECT_EQ(pane.Device(), nullptr);
    pane.Detach();
}

// The pane counts each received frame's gathering time as the socket layer measured it: the
// frame a socket handed out last is the one being delivered, also when the pane feeds it only
// after the delivery.
TEST(VideoPane, CountsTheSocketLayersGatheringTime)
{
    CFakeTickClock clock(1000);
    class CSource : public IMediaDataSource {
    public:
        bool HasWatchedDevice() override { return true; }
        bool IsWatched(DWORD dwID) override { return dwID == 5; }
        bool HasDownloading() override { return false; }
        bool IsDownloading(DWORD) override { return false; }
    } source;
    CMediaDataValid valid;
    valid.SetSource(&source);
    CMediaReassembler reassembler(&valid);
    std::vector<BYTE> vFrameBuf(CMediaReassembler::MAX_FRAME_LEN);

    NullAudio audio;
    CVideoPaneLogic::Hooks hooks = TestHooks(audio);
    std::vector<std::vector<BYTE>> vPushed;
    hooks.fnMakeSession = [&](IVideoPresenter*) { return std::make_unique<RecordingSession>(&vPushed); };
    CVideoPaneLogic pane(nullptr, hooks);
    auto pDevice = MakeDevice(5, u"Yard");
    pane.Attach();
    GetNotifyManager()->Notify(DWORD_NOTIFYID_VIDEO_START, reinterpret_cast<UINT_PTR>(pDevice.get()));
    // Frames of three 1280-byte segments whose last comes so long after the first.
    const DWORD adwSpanMs[] = {7, 0, 12};
    for (WORD us = 0; us < 3; ++us) {
        std::vector<BYTE> vFrame(3 * 1280, static_cast<BYTE>(us));
        vFrame[0] = 0x11;
        vFrame[2] = 0;
        vFrame[3] = static_cast<BYTE>(us);
        vFrame[4] = 5; // camera id, least significant byte first
        vFrame[5] = vFrame[6] = vFrame[7] = 0;
        for (DWORD i = 0; i < 3; ++i) {
            if (i == 1)
                clock.Advance(adwSpanMs[us]);
            std::vector<BYTE> vDatagram = {
                static_cast<BYTE>(i == 2 ? 1 : 2), 0, 0, static_cast<BYTE>(us), 0, 0, 0,
                static_cast<BYTE>(i * 5)};
            vDatagram.insert(vDatagram.end(), vFrame.begin() + i * 1280, vFrame.begin() + (i + 1) * 1280);
            ASSERT_TRUE(reassembler.OnDatagram(vDatagram.data(), static_cast<int>(vDatagram.size()), 1, 2));
        }
        DWORD dwIP = 0;
        WORD usPort = 0;
        BYTE* pFrame = nullptr;
        const int nLen = reassembler.Assemble(vFrameBuf.data(), static_cast<DWORD>(vFrameBuf.size()), &dwIP,
                                              &usPort, &pFrame);
        ASSERT_EQ(nLen, static_cast<int>(vFrame.size()));
        MediaFrame frame;
        frame.pData = pFrame + 8;
        frame.nLen = static_cast<DWORD>(nLen - 8);
        frame.ulCameraID = 5;
        frame.usSequence = us;
        frame.bySubSequence = 1;
        frame.nCodec = MEDIA_CODEC_MPEG4;
        pane.QueueMediaFrame(frame);
    }
    EXPECT_EQ(pane.QueuedFrames(), 3u); // fed only now, after the socket layer has moved on
    pane.FlushQueuedFrames();
    EXPECT_EQ(vPushed.size(), 3u);
    EXPECT_EQ(pane.GetCounters().qwReceived, 3u);
    EXPECT_EQ(pane.GetCounters().qwGatherUs, 19000u);
    GetNotifyManager()->Notify(DWORD_NOTIFYID_VIDEO_STOP, reinterpret_cast<UINT_PTR>(pDevice.get()));
    pane.Detach();
}

// Key frames are marked as sync points: H.264 IDR or SPS, MPEG-4 VOL or intra VOP.
TEST(VideoPushSource, KeyFrames)
{
    struct Case {
        std::vector<BYTE> v;
        int nMode;
        bool bKey;
    };
    const std::vector<BYTE> stamp = {10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    auto withStamp = [&](std::vector<BYTE> v) {
        v.insert(v.begin(), stamp.begin(), stamp.end());
        return v;
    };
    const Case aCases[] = {
        {withStamp({0, 0, 0, 1, 0x67, 0x42}), 2, true},
        {withStamp({0, 0, 0, 1, 0x65, 0x88}), 2, true},
        {withStamp({0, 0, 0, 1, 0x41, 0x9A}), 2, false},
        {{0, 0, 1, 0x20, 0x08}, 0, true},
        {{0, 0, 1, 0xB6, 0x10}, 0, true},
        {{0, 0, 1, 0xB6, 0x50}, 0, false},
        {withStamp({0, 0, 1, 0xB6, 0x50}), 1, false},
        {{30, 0, 0, 1}, 1, false},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(CPushSourceFilter::IsKeyFrame(c.v.data(), c.v.size(), c.nMode), c.bKey);
}

// Frames put back in number order: each case gives arrivals (number, tick) and, after each
// arrival, the numbers handed on. A frame after a gap waits for the missing one until it comes
// or the wait is over; repeats and frames that come after their wait are dropped.
TEST(FrameOrderer, HandsFramesOnInOrder)
{
    struct Arrival {
        int nSeq; // -1: no frame, only time passes
        DWORD dwTick;
        std::vector<int> vOut;
    };
    struct Case {
        const char* pszName;
        std::vector<Arrival> vArrivals;
        CFrameOrderer::Counters counters;
    };
    const DWORD dwWait = CFrameOrderer().WaitMs();
    ASSERT_GE(dwWait, 150u); // a segment held back 150 ms by the network must still fit
    ASSERT_LE(dwWait, CFrameOrderer::kMaxWaitMs);
    const std::vector<Case> vCases = {
        {"reordered, nothing lost",
         {{1, 0, {1}}, {3, 40, {}}, {4, 80, {}}, {2, 100, {2, 3, 4}}, {5, 120, {5}}},
         {1, 0, 0, 0}},
        {"lost: the wait ends",
         {{1, 0, {1}}, {3, 40, {}}, {-1, 40 + dwWait - 1, {}}, {-1, 40 + dwWait, {3}}},
         {0, 0, 0, 1}},
        {"repeated frames once",
         {{1, 0, {1}}, {1, 1, {}}, {3, 2, {}}, {3, 3, {}}, {2, 4, {2, 3}}, {2, 5, {}}},
         {1, 3, 0, 0}},
        {"a frame after its wait is dropped",
         {{1, 0, {1}},
          {3, 40, {}},
          {4, 50, {}},
          {-1, 40 + dwWait, {3, 4}},
          {2, 60 + dwWait, {}},
          {5, 61 + dwWait, {5}}},
         {0, 0, 1, 1}},
        {"around the wrap",
         {{65534, 0, {65534}}, {0, 10, {}}, {65535, 20, {65535, 0}}, {1, 30, {1}}},
         {1, 0, 0, 0}},
        {"a camera that numbers anew",
         {{100, 0, {100}}, {101, 10, {101}}, {5000, 20, {5000}}, {5001, 30, {5001}}},
         {0, 0, 0, 0}},
    };
    for (const Case& c : vCases) {
        SCOPED_TRACE(c.pszName);
        CFrameOrderer orderer;
        const BYTE abData[4] = {1, 2, 3, 4};
        for (const Arrival& a : c.vArrivals) {
            if (a.nSeq >= 0) {
                MediaFrame frame;
                frame.pData = abData;
                frame.nLen = sizeof(abData);
                frame.usSequence = static_cast<WORD>(a.nSeq);
                frame.nCodec = MEDIA_CODEC_H264;
                orderer.Push(frame, a.dwTick);
            }
            std::vector<int> vOut;
            orderer.Release(a.dwTick, [&](CFrameOrderer::Frame& f) {
                EXPECT_EQ(std::vector<BYTE>(f.frame.pData, f.frame.pData + f.frame.nLen),
                          std::vector<BYTE>(abData, abData + 4));
                vOut.push_back(f.frame.usSequence);
            });
            EXPECT_EQ(vOut, a.vOut) << "after " << a.nSeq << " at " << a.dwTick;
        }
        const CFrameOrderer::Counters& counters = orderer.GetCounters();
        EXPECT_EQ(counters.qwReordered, c.counters.qwReordered);
        EXPECT_EQ(counters.qwRepeated, c.counters.qwRepeated);
        EXPECT_EQ(counters.qwLate, c.counters.qwLate);
        EXPECT_EQ(counters.qwSkipped, c.counters.qwSkipped);
    }

    // A frame in numbered segments: its later segments go on after it, a repeat of one does not.
    {
        CFrameOrderer orderer;
        const BYTE abData[1] = {9};
        std::vector<std::pair<int, int>> vOut;
        const std::pair<int, int> aIn[] = {{1, 0}, {1, 1}, {2, 0}, {1, 1}, {2, 1}, {2, 2}, {2, 1}};
        for (const auto& [nSeq, nSub] : aIn) {
            MediaFrame frame;
            frame.pData = abData;
            frame.nLen = 1;
            frame.usSequence = static_cast<WORD>(nSeq);
            frame.bySubSequence = static_cast<BYTE>(nSub);
            orderer.Push(frame, 0);
            orderer.Release(0, [&](CFrameOrderer::Frame& f) {
                vOut.emplace_back(f.frame.usSequence, f.frame.bySubSequence);
            });
        }
        EXPECT_EQ(vOut, (std::vector<std::pair<int, int>>{{1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}}));
        EXPECT_EQ(orderer.GetCounters().qwRepeated, 2u);
    }

    // Held frames are bounded: a gap that would hold more is given up at once.
    CFrameOrderer orderer;
    const std::vector<BYTE> vData(1000, 7);
    MediaFrame frame;
    frame.pData = vData.data();
    frame.nLen = static_cast<DWORD>(vData.size());
    std::size_t nOut = 0;
    for (int i = 0; i < 1000; ++i) {
        frame.usSequence = static_cast<WORD>(i == 0 ? 0 : i + 1); // 1 never comes
        orderer.Push(frame, 0);
        orderer.Release(0, [&](CFrameOrderer::Frame&) { ++nOut; });
        ASSERT_LE(orderer.Held(), CFrameOrderer::kMaxHeldFrames + 1);
    }
    EXPECT_GT(nOut, 1000 - CFrameOrderer::kMaxHeldFrames - 2);
}

// Five minutes of a camera on a link that reorders: a large key frame every 50 frames, and now and
// then a frame held up behind the next few, so that several frames wait at once. The buffers
// kept for later stay small; had each kept the room of the largest frame it carried, they
// would grow, reordering by reordering, towards as many key frames.
TEST(FrameOrderer, BuffersKeptForLaterStaySmall)
{
    CFrameOrderer orderer;
    const std::vector<BYTE> vKey(400000, 1), vDelta(8000, 2);
    std::vector<int> vOrder;
    for (int nGroup = 0; nGroup < 8000 / 8; ++nGroup) {
        const int nFirst = nGroup * 8;
        for (int i = 0; i < 8; ++i)
            vOrder.push_back(nFirst + i);
        // One group in three: its first frame comes after the next three, and its fifth after
        // the last three.
        if (nGroup % 3 == 1) {
            std::rotate(vOrder.end() - 8, vOrder.end() - 7, vOrder.end() - 4);
            std::rotate(vOrder.end() - 4, vOrder.end() - 3, vOrder.end());
        }
    }
    std::size_t nOut = 0, nMostKept = 0;
    DWORD dwNow = 0;
    for (const int n : vOrder) {
        const std::vector<BYTE>& vData = n % 50 == 0 ? vKey : vDelta;
        MediaFrame frame;
        frame.pData = vData.data();
        frame.nLen = static_cast<DWORD>(vData.size());
        frame.usSequence = static_cast<WORD>(n);
        frame.nCodec = MEDIA_CODEC_H264;
        dwNow += 40;
        orderer.Push(frame, dwNow);
        orderer.Release(dwNow, [&](CFrameOrderer::Frame&) { ++nOut; });
        nMostKept = std::max(nMostKept, orderer.SpareBytes());
    }
    orderer.ReleaseAll([&](CFrameOrderer::Frame&) { ++nOut; });
    EXPECT_EQ(nOut, vOrder.size());
    EXPECT_LE(nMostKept, CFrameOrderer::kMaxSpare * CFrameOrderer::kMaxSpareBytes);
}

// A frame lost after the first key frame does not stop the picture until the next one: the
// frames after the gap are decoded with the decoder's concealment and shown, for both codecs.
TEST(VideoLive, PictureGoesOnAfterALostFrame)
{
    for (const bool bH264 : {true, false}) {
        SCOPED_TRACE(bH264 ? "H.264" : "MPEG-4");
        const int nFrames = 30;
        const Clip clip = MakeClip(bH264, 352, 288, nFrames, 100); // one key frame, at the start
        ASSERT_EQ(clip.vFrames.size(), std::size_t(nFrames));
        NullAudio audio;
        CVideoPaneLogic pane(nullptr, TestHooks(audio));
        auto pDevice = MakeDevice(7, u"Gate");
        pDevice->bNoCaption = 1;
        pane.ShowDevice(pDevice.get());
        Feeder feed{pane, 7, bH264 ? MEDIA_CODEC_H264 : MEDIA_CODEC_MPEG4, 1};
        const std::set<int> setLost = {6, 13, 14};
        for (int i = 0; i < nFrames; ++i) {
            if (setLost.count(i) != 0) {
                ++feed.usSequence; // the number goes by, the frame never comes
                continue;
            }
            feed.WholeFrame(Stamped(clip.vFrames[i]), bH264 ? 2 : 1);
        }
        pane.Session()->FlushFrame();
        const std::uint64_t qwFed = nFrames - setLost.size();
        ASSERT_TRUE(WaitFor([&] { return pane.Session()->GetStats().qwRendered >= qwFed; }))
            << pane.Session()->GetStats().qwRendered << " of " << qwFed;
        // The last picture shown is the last frame's, concealment errors and all.
        ASSERT_TRUE(pane.Snapshot());
        const std::vector<BYTE> vBmp = ReadFile(pane.SnapshotPath());
        const double dLast = BmpDifference(vBmp, clip.vRgb[nFrames - 1], 352, 288);
        const double dBeforeGap = BmpDifference(vBmp, clip.vRgb[5], 352, 288);
        EXPECT_GE(dLast, 0);
        EXPECT_LT(dLast, dBeforeGap);
        pane.StopDevice(pDevice.get());
    }
}

namespace {

// A pane's window that tells which of the clip's pictures each presented one is, and on which
// thread it came.
class IdentifyingWindow : public IVideoPresenter {
public:
    explicit IdentifyingWindow(const Clip& clip) : m_clip(clip) {}
    void PresentFrame(const std::uint32_t* pPixels, int nWidth, int nHeight) override
    {
        int nBest = -1;
        double dBest = 1e9;
        for (std::size_t i = 0; i < m_clip.vRgb.size(); ++i) {
            double dSum = 0;
            for (int p = 0; p < nWidth * nHeight; p += 61)
                for (int c = 0; c < 3; ++c)
                    dSum += std::abs(int(pPixels[p] >> (16 - 8 * c) & 0xFF) - int(m_clip.vRgb[i][p * 3 + c]));
            if (dSum < dBest) {
                dBest = dSum;
                nBest = static_cast<int>(i);
            }
        }
        std::unique_lock lock(m_mutex);
        m_vShown.push_back(nBest);
        m_setThreads.insert(std::this_thread::get_id());
        m_cv.notify_all();
        // Held in the middle of decoding until the pane goes.
        if (m_bHold) {
            m_bInside = true;
            m_cv.wait(lock, [this] { return m_bRemoving; });
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            m_bInside = false;
        }
    }
    void SetVideoVisible(bool) override {}
    void SetVideoPosition(long, long, long, long) override {}
    bool SetVideoFullScreen(bool) override { return false; }
    void GetClientSize(long* pnWidth, long* pnHeight) override
    {
        *pnWidth = 352;
        *pnHeight = 288;
    }

    const Clip& m_clip;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<int> m_vShown;
    std::set<std::thread::id> m_setThreads;
    bool m_bHold = false;
    bool m_bRemoving = false;
    std::atomic<bool> m_bInside{false};
};

} // namespace

// Sixteen panes fed frame by frame on this thread, as the GUI thread feeds them: every pane's
// pictures are its frames, each once and in order, decoded on the pool's threads (as many as the
// machine's cores, not one per pane) and never on the feeding thread. A pane removed while one
// of its frames is being decoded waits for that frame and is never called again.
TEST(VideoLive, PanesDecodeInOrderOnTheSharedPool)
{
    const Clip clip = MakeClip(false, 352, 288, 12);
    ASSERT_EQ(clip.vFrames.size(), 12u);
    constexpr int kPanes = 16;
    std::vector<std::unique_ptr<IdentifyingWindow>> vWindows;
    std::vector<std::unique_ptr<CVideoSession>> vSessions;
    for (int i = 0; i <= kPanes; ++i) {
        vWindows.push_back(std::make_unique<IdentifyingWindow>(clip));
        vSessions.push_back(std::make_unique<CVideoSession>(vWindows.back().get()));
    }
    IdentifyingWindow& removed = *vWindows[kPanes];
    removed.m_bHold = true;
    for (std::size_t nFrame = 0; nFrame < clip.vFrames.size(); ++nFrame)
        for (auto& pSession : vSessions) {
            VideoBuffer buffer;
            buffer.pData = clip.vFrames[nFrame].data();
            buffer.nLen = static_cast<DWORD>(clip.vFrames[nFrame].size());
            buffer.usSequence = static_cast<WORD>(nFrame + 1);
            buffer.bySubSequence = nFrame % 5 == 0 ? 0 : 1; // key frames every fifth
            ASSERT_NE(pSession->AddBuffer(&buffer), CVideoSession::ADD_DROPPED);
        }
    for (auto& pSession : vSessions)
        pSession->FlushFrame();
    {
        std::unique_lock lock(removed.m_mutex);
        ASSERT_TRUE(
            removed.m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return !removed.m_vShown.empty(); }));
        removed.m_bRemoving = true;
        removed.m_cv.notify_all();
    }
    vSessions[kPanes].reset();
    EXPECT_FALSE(removed.m_bInside);
    const std::size_t nShownByRemoved = removed.m_vShown.size();

    std::vector<int> vAll(clip.vFrames.size());
    std::iota(vAll.begin(), vAll.end(), 0);
    std::set<std::thread::id> setThreads;
    // 192 pictures on a loaded machine (or under a sanitizer) take their time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int i = 0; i < kPanes; ++i) {
        SCOPED_TRACE(i);
        while (vSessions[i]->GetStats().qwRendered < clip.vFrames.size() &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(vWindows[i]->m_mutex);
        EXPECT_EQ(vWindows[i]->m_vShown, vAll);
        setThreads.insert(vWindows[i]->m_setThreads.begin(), vWindows[i]->m_setThreads.end());
    }
    EXPECT_EQ(setThreads.count(std::this_thread::get_id()), 0u);
    EXPECT_LE(setThreads.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard lock(removed.m_mutex);
    EXPECT_EQ(removed.m_vShown.size(), nShownByRemoved);
}
