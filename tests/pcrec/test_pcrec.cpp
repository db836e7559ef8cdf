// The PC recorder without a network: real MPEG-4 pictures and GSM sound fed as the media
// engine hands them over, on a clock and a disk of the test's own; the index rebuilt and
// brought in line with the folder; retention choosing what goes.
#include "download/download_test_support.h"
#include "media/avi/aviprocess.h"
#include "media/avi/rezorir.h"
#include "pcrec/pcplayback.h"
#include "pcrec/pcrecorder.h"
#include "pcrec/retention.h"
#include "pcrec/segmentwriter.h"
#include "protocol/engmedia.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using downloadtest::EncodeFrames;

namespace {

constexpr DWORD CAMERA = 77;
constexpr std::int64_t T0 = 1714637700000; // 2024-05-02 08:15:00 UTC

// A camera of 10 pictures a second (a key frame with its headers every 10) and 60 ms of sound
// after every 6th picture, fed to a recorder on a clock of its own.
class CFeed {
public:
    CFeed(CPcRecorder& recorder, const std::vector<std::vector<BYTE>>& vecClip, bool bMpeg4 = true)
        : m_recorder(recorder), m_vecClip(vecClip), m_bMpeg4(bMpeg4)
    {
        recorder.SetClock([this] { return m_llNow; });
    }
    // nFrames pictures from now on; the camera's clock runs with ours.
    void Run(int nFrames)
    {
        for (int i = 0; i < nFrames; ++i, ++m_nFrame, m_llNow += 100) {
            const std::vector<BYTE>& es = m_vecClip[m_nFrame % m_vecClip.size()];
            std::vector<BYTE> data(10 + es.size(), 0);
            data[0] = 10;
            const DWORD dwSeconds = static_cast<DWORD>(m_llNow / 1000);
            const DWORD dwMicros = static_cast<DWORD>(m_llNow % 1000 * 1000);
            std::memcpy(&data[2], &dwSeconds, 4);
            std::memcpy(&data[6], &dwMicros, 4);
            std::copy(es.begin(), es.end(), data.begin() + 10);
            MediaFrame frame;
            frame.pData = data.data();
            frame.nLen = static_cast<DWORD>(data.size());
            frame.ulCameraID = CAMERA;
            frame.usSequence = m_usSequence++;
            frame.bySubSequence = m_nFrame % 10 == 0 ? 0 : 1;
            frame.nWidth = 64;
            frame.nHeight = 48;
            frame.nCodec = m_bMpeg4 ? MEDIA_CODEC_MPEG4 : MEDIA_CODEC_H264;
            frame.bStamped = 1;
            m_recorder.OnFrame(frame);
            if (m_nFrame % 6 == 5) {
                const std::vector<BYTE> gsm(99, 0x55);
                MediaFrame audio;
                audio.pData = gsm.data();
                audio.nLen = 99;
                audio.ulCameraID = CAMERA;
                audio.usSequence = m_usSequence++;
                audio.nCodec = MEDIA_CODEC_AUDIO;
                m_recorder.OnFrame(audio);
            }
            if (m_nFrame % 10 == 9)
                m_recorder.Tick();
        }
    }
    // A camera that restarts numbers its frames from 0 again.
    void RestartNumbers() { m_usSequence = 0; }
    // Silence on the wire: only the clock goes on.
    void Pause(int nMs)
    {
        for (int i = 0; i < nMs; i += 1000) {
            m_llNow += 1000;
            m_recorder.Tick();
        }
    }
    std::int64_t Now() const { return m_llNow; }

private:
    CPcRecorder& m_recorder;
    const std::vector<std::vector<BYTE>>& m_vecClip;
    bool m_bMpeg4;
    std::int64_t m_llNow = T0;
    int m_nFrame = 0;
    WORD m_usSequence = 0;
};

const std::vector<std::vector<BYTE>>& Clip(bool bMpeg4 = true)
{
    static QTemporaryDir dir;
    static const std::vector<std::vector<BYTE>> vecMpeg4 =
        EncodeFrames(dir.path().toStdString(), true, 20, "-g 10 -bf 0", "64x48");
    static const std::vector<std::vector<BYTE>> vecH264 =
        EncodeFrames(dir.path().toStdString(), false, 20, "-g 10 -bf 0 -sc_threshold 0", "64x48");
    return bMpeg4 ? vecMpeg4 : vecH264;
}

// An H.264 picture with every start code four bytes long, as playback gives it.
std::vector<BYTE> LongStartCodes(const std::vector<BYTE>& es)
{
    std::vector<BYTE> vec;
    for (std::size_t i = 0; i < es.size(); ++i) {
        if (i + 2 < es.size() && es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 &&
            (vec.size() < 1 || vec.back() != 0)) {
            vec.push_back(0);
        }
        vec.push_back(es[i]);
    }
    return vec;
}

PcRecSettings Settings(const std::string& strFolder)
{
    PcRecSettings settings;
    settings.strFolder = strFolder;
    settings.nSegmentSeconds = 5;
    settings.llReserveBytes = 1 << 20;
    return settings;
}

std::vector<std::string> Mp4Files(const std::string& strFolder)
{
    std::vector<std::string> vec;
    for (const auto& entry : fs::recursive_directory_iterator(strFolder))
        if (entry.path().extension() == ".mp4")
            vec.push_back(fs::relative(entry.path(), strFolder).string());
    std::sort(vec.begin(), vec.end());
    return vec;
}

// What a timeline shows of the index: "path start end frames" per segment, "gap start end".
std::vector<std::string> Timeline(CPcRecIndex& index)
{
    std::vector<std::string> vec;
    for (const PcSegment& s : index.Segments("", INT64_MIN, INT64_MAX))
        vec.push_back(s.strPath + " " + std::to_string(s.llStartMs - T0) + " " +
                      std::to_string(s.llEndMs - T0) + " " + std::to_string(s.llFrames));
    for (const PcGap& g : index.Gaps("", INT64_MIN, INT64_MAX))
        vec.push_back("gap " + std::to_string(g.llStartMs - T0) + " " + std::to_string(g.llEndMs - T0));
    return vec;
}

// The recording the index and playback tests read: 12 s of pictures, a 5-s silence (the camera
// restarts), 6 s more.
// Returns the timeline the recorder's index shows at its end.
std::vector<std::string> RecordSession(const std::string& strFolder, bool bMpeg4 = true)
{
    CPcRecorder recorder(Settings(strFolder));
    std::string strError;
    EXPECT_TRUE(recorder.Start(strError)) << strError;
    recorder.AddCamera(CAMERA, "CAM/77");
    CFeed feed(recorder, Clip(bMpeg4), bMpeg4);
    feed.Run(120);
    feed.Pause(5000);
    feed.RestartNumbers();
    feed.Run(60);
    recorder.Stop();
    return Timeline(recorder.Index());
}

} // namespace

// 12 s of pictures, a 5-s silence, 6 s more: segments of 5 s that start at key frames (the
// first once the sound has come), the silence a gap; the index is what the files say, rebuilt from them alone
// (also from a damaged database, kept aside), and a file it does not know is adopted, one that is gone
// dropped.
TEST(PcRecIndex, IsWhatTheFilesHoldAndIsRebuiltFromThem)
{
    QTemporaryDir dir;
    const std::string strFolder = dir.path().toStdString();
    const std::vector<std::string> vecRecorded = RecordSession(strFolder);
    const std::vector<std::string> vecWant = {
        "CAM_77/2024-05-02/CAM_77_20240502T081501.000Z.mp4 1000 6000 50",
        "CAM_77/2024-05-02/CAM_77_20240502T081506.000Z.mp4 6000 11000 50",
        "CAM_77/2024-05-02/CAM_77_20240502T081511.000Z.mp4 11000 12000 10",
        "CAM_77/2024-05-02/CAM_77_20240502T081517.000Z.mp4 17000 22000 50",
        "CAM_77/2024-05-02/CAM_77_20240502T081522.000Z.mp4 22000 23000 10",
        "gap 12000 17000",
    };
    EXPECT_EQ(vecRecorded, vecWant);
    for (const std::string& strFile : Mp4Files(strFolder))
        EXPECT_EQ(downloadtest::RunTool("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" +
                                        strFolder + "/" + strFile + "'"),
                  "mpeg4\naac\n")
            << strFile;

    const fs::path db = fs::path(strFolder) / CPcRecIndex::FILE_NAME;
    // The recorder opens it with the whole check, a timeline without.
    struct Case {
        const char* pszName;
        std::function<void()> fnDamage;
        bool bSync;
    };
    const Case aCases[] = {
        {"missing", [&] { fs::remove(db); }, true},
        {"damaged", [&] { std::ofstream(db, std::ios::trunc) << std::string(4096, 'x'); }, true},
        {"damaged, for a timeline", [&] { std::ofstream(db, std::ios::trunc) << std::string(4096, 'y'); },
         false},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszName);
        c.fnDamage();
        CPcRecIndex index;
        std::string strError;
        ASSERT_TRUE(index.Open(strFolder, false, strError, c.bSync)) << strError;
        EXPECT_TRUE(index.WasRebuilt());
        EXPECT_EQ(Timeline(index), vecWant);
    }
    EXPECT_TRUE(fs::exists(db.string() + ".damaged"));

    // A file from elsewhere under a name of ours is adopted; a deleted one goes from the index.
    const std::string strCopy = "CAM_77/2024-05-02/CAM_77_20240502T091501.000Z.mp4";
    fs::copy_file(fs::path(strFolder) / "CAM_77/2024-05-02/CAM_77_20240502T081522.000Z.mp4",
                  fs::path(strFolder) / strCopy);
    fs::remove(fs::path(strFolder) / "CAM_77/2024-05-02/CAM_77_20240502T081501.000Z.mp4");
    CPcRecIndex index;
    std::string strError;
    ASSERT_TRUE(index.Open(strFolder, false, strError)) << strError;
    EXPECT_FALSE(index.WasRebuilt());
    std::vector<std::string> vecNow = Timeline(index);
    EXPECT_EQ(vecNow, (std::vector<std::string>{
                          vecWant[1],
                          vecWant[2],
                          vecWant[3],
                          vecWant[4],
                          strCopy + " 3601000 3602000 10",
                          vecWant[5],
                      }));
}

// Oldest first, by age and by size, never the segment being written; room for a full disk only
// where the folder has a rule.
// A camera whose key frames all arrive broken (a lossy network, a 1080p picture in a hundred
// datagrams): its pictures still reach the disk a fragment at a time, not held in memory until
// the next whole key frame.
TEST(SegmentWriter, FragmentsReachTheDiskWithoutKeyFrames)
{
    QTemporaryDir dir;
    const std::vector<std::vector<BYTE>>& vecClip = Clip(false);
    SegmentFormat format;
    format.nWidth = 64;
    format.nHeight = 48;
    format.vecHeaders =
        CAVIProcess::FindParameterSet(vecClip[0].data(), vecClip[0].size(), REZORIR_MODE_H264);
    format.bAudio = false;
    ASSERT_FALSE(format.vecHeaders.empty());
    const std::string strPath = (fs::path(dir.path().toStdString()) / "seg.mp4").string();
    CSegmentWriter writer;
    std::string strError;
    ASSERT_TRUE(writer.Open(strPath, format, T0 / 1000, strError)) << strError;
    // 20 s at 10 pictures a second; only the first is a key frame.
    constexpr int FRAMES = 200;
    for (int i = 0; i < FRAMES; ++i) {
        const std::vector<BYTE>& es = vecClip[static_cast<std::size_t>(i) % vecClip.size()];
        ASSERT_TRUE(writer.WriteVideo(es.data(), es.size(), i * 100000LL, i == 0));
    }
    const SegmentProbe probe = ProbeSegment(strPath);
    EXPECT_GE(probe.llFrames, FRAMES - MAX_FRAGMENT_MICROS / 100000 - 1);
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(ProbeSegment(strPath).llFrames, FRAMES);
}

TEST(Retention, ChoosesTheOldestFinishedSegments)
{
    auto seg = [](std::int64_t llID, std::int64_t llStartMin, bool bWriting = false) {
        PcSegment s;
        s.llID = llID;
        s.llStartMs = llStartMin * 60000;
        s.llEndMs = s.llStartMs + 600000;
        s.llBytes = 100;
        s.bWriting = bWriting;
        return s;
    };
    const std::int64_t DAY = 1440;
    // Given out of order: the rule reads them by time.
    const std::vector<PcSegment> vecFour = {seg(3, 3 * DAY), seg(1, 0), seg(4, 4 * DAY), seg(2, 2 * DAY)};
    const std::vector<PcSegment> vecWriting = {seg(1, 0, true), seg(2, 2 * DAY), seg(3, 3 * DAY)};
    struct Case {
        const char* pszName;
        std::vector<PcSegment> vecSegments;
        RetentionRule rule;
        std::int64_t llNeed;
        std::vector<std::int64_t> vecWant;
    };
    const Case aCases[] = {
        {"no rule keeps everything, a full disk too", vecFour, {}, 1000, {}},
        {"within the size", vecFour, {0, 400}, 0, {}},
        {"over the size by one and a half", vecFour, {0, 250}, 0, {1, 2}},
        {"older than two days", vecFour, {2, 0}, 0, {1, 2}},
        {"the one being written stays", vecWriting, {0, 150}, 0, {2, 3}},
        {"room for a full disk, oldest first", vecFour, {30, 0}, 150, {1, 2}},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(ChooseForDeletion(c.vecSegments, c.rule, 5 * DAY * 60000, c.llNeed), c.vecWant);
    }
}

// The disk fills while recording: without a rule the camera stops with the message and goes on
// when there is room again (a gap between); with a rule the oldest segments make the room and
// it does not stop.
TEST(PcRecorder, FullDiskStopsTheCameraOrDeletesByTheRule)
{
    for (const bool bRule : {false, true}) {
        SCOPED_TRACE(bRule ? "with a rule" : "without a rule");
        QTemporaryDir dir;
        PcRecSettings settings = Settings(dir.path().toStdString());
        if (bRule)
            settings.rule.nKeepDays = 30;
        CPcRecorder recorder(settings);
        std::int64_t llFree = 1 << 30;
        recorder.SetFreeSpace([&llFree](const std::string&) { return llFree; });
        std::vector<std::string> vecEvents;
        recorder.SetEventHandler(
            [&vecEvents](const PcRecCamera&, const std::string& str) { vecEvents.push_back(str); });
        std::string strError;
        ASSERT_TRUE(recorder.Start(strError));
        recorder.AddCamera(CAMERA, "CAM77");
        CFeed feed(recorder, Clip());
        feed.Run(130);
        // Deleting a segment gives its room back.
        llFree = 0;
        if (bRule)
            recorder.SetFreeSpace([&llFree, &dir](const std::string&) {
                return Mp4Files(dir.path().toStdString()).size() < 3 ? std::int64_t{1} << 30 : llFree;
            });
        feed.Run(20);
        const PcRecCamera* pCam = recorder.Camera(CAMERA);
        if (!bRule) {
            EXPECT_EQ(pCam->enState, PcRecState::STOPPED);
            EXPECT_EQ(vecEvents, std::vector<std::string>{"recording of CAM77 stopped: the disk of " +
                                                          settings.strFolder + " is full"});
            feed.Run(30);
            EXPECT_EQ(pCam->enState, PcRecState::STOPPED);
            llFree = 1 << 30;
            feed.Run(80);
            EXPECT_EQ(vecEvents.size(), 2u);
            EXPECT_EQ(vecEvents.back(), "recording of CAM77 goes on");
            EXPECT_TRUE(pCam->bStoppedFull);
            EXPECT_EQ(recorder.Index().Gaps("", INT64_MIN, INT64_MAX).size(), 1u);
        } else {
            EXPECT_EQ(pCam->enState, PcRecState::RECORDING);
            EXPECT_TRUE(vecEvents.empty());
            EXPECT_FALSE(pCam->bStoppedFull);
            // The oldest went: the first segment starts later than the recording did.
            EXPECT_GT(recorder.Index().Segments("", INT64_MIN, INT64_MAX).front().llStartMs, T0 + 1000);
        }
        recorder.Stop();
        // The index agrees with the folder.
        std::vector<std::string> vecIndexed;
        for (const PcSegment& s : recorder.Index().Segments("", INT64_MIN, INT64_MAX))
            vecIndexed.push_back(s.strPath);
        EXPECT_EQ(vecIndexed, Mp4Files(settings.strFolder));
    }
}

// Played back from a time: the pictures from the key frame before it, each the camera's own
// bytes (an H.264 one with its start codes made four bytes long) at its own time, on over segments and the
// gap; sound along; a minute back from the start of the recordings finds their first picture; the timeline
// marks the recorded hour and minute.
TEST(PcPlayback, PlaysThePicturesFromAKeyFrameOverSegmentsAndGaps)
{
    for (const bool bMpeg4 : {true, false}) {
        SCOPED_TRACE(bMpeg4 ? "MPEG-4" : "H.264");
        QTemporaryDir dir;
        const std::string strFolder = dir.path().toStdString();
        RecordSession(strFolder, bMpeg4);
        CPcRecIndex index;
        std::string strError;
        ASSERT_TRUE(index.Open(strFolder, false, strError, false)) << strError;
        CPcPlayback playback(index);
        ASSERT_TRUE(playback.Open("CAM_77", T0 + 7550));
        // Picture n was taken at T0 + n * 100 ms.
        std::vector<int> vecPictures;
        int nWrong = 0;
        int nSound = 0;
        PcPlaybackFrame frame;
        while (playback.Next(frame)) {
            if (!frame.bVideo) {
                nSound += static_cast<int>(frame.vecData.size() / 2);
                continue;
            }
            const int n = static_cast<int>((frame.llUtcMicros / 1000 - T0) / 100);
            vecPictures.push_back(n);
            // The feed's pictures go on after the silence where they stopped.
            const int nClip = (n < 120 ? n : n - 50) % 20;
            const std::vector<BYTE>& es = Clip(bMpeg4)[static_cast<std::size_t>(nClip)];
            nWrong += frame.vecData != (bMpeg4 ? es : LongStartCodes(es)) || frame.bKey != (n % 10 == 0) ||
                      frame.llUtcMicros != (T0 + n * 100) * 1000;
        }
        std::vector<int> vecWant;
        for (int n = 70; n < 120; ++n)
            vecWant.push_back(n);
        for (int n = 170; n < 230; ++n)
            vecWant.push_back(n);
        EXPECT_EQ(vecPictures, vecWant);
        EXPECT_EQ(nWrong, 0);
        EXPECT_NEAR(nSound, 11 * 8000, 4 * 1024); // the 11 s played, each of 4 segments to an AAC frame

        ASSERT_TRUE(playback.Open("CAM_77", T0 + 20000));
        ASSERT_TRUE(playback.NextPicture(frame));
        EXPECT_EQ(frame.llUtcMicros, (T0 + 20000) * 1000);
        ASSERT_TRUE(playback.StepMinutes(-1));
        ASSERT_TRUE(playback.NextPicture(frame));
        EXPECT_EQ(frame.llUtcMicros, (T0 + 1000) * 1000);
        EXPECT_FALSE(playback.Open("CAM_77", T0 + 60000));

        std::array<BarMark, 24> aHours{};
        aHours[8] = BarMark::Normal; // 08:15 UTC
        EXPECT_EQ(PcDayMarks(index, "CAM_77", T0 - (8 * 60 + 15) * 60000), aHours);
        std::array<BarMark, 60> aMinutes{};
        aMinutes[15] = BarMark::Normal;
        EXPECT_EQ(PcHourMarks(index, "CAM_77", T0 - 15 * 60000), aMinutes);
    }
}
