// Playing a camera's recordings on this PC in the playback pane, offscreen: a minute recorded
// by the recorder itself fills the day, hour and minute bars from the index and plays into the
// pane's video session picture by picture, with pause and the end of the recordings.
#include "device/devicemanager.h"
#include "download/download_test_support.h"
#include "media/video/videopanelogic.h"
#include "pcrec/pcrecorder.h"
#include "protocol/engmedia.h"
#include "protocol/mscmd.h"
#include "ui/main/pcplaybacksource.h"
#include "ui/videopane.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr DWORD CAMERA = 77;
constexpr std::int64_t T0 = 1714637700000; // 2024-05-02 08:15:00 UTC

// Keeps what reaches the decoder: each picture's payload behind its stamp header.
class RecordingSession : public CVideoSession {
public:
    RecordingSession(IVideoPresenter* pOwner, std::vector<std::vector<BYTE>>* pPictures)
        : CVideoSession(pOwner), m_pPictures(pPictures)
    {
    }
    int AddBuffer(VideoBuffer* pBuffer) override
    {
        const BYTE nSkip = pBuffer->pData[0];
        m_pPictures->emplace_back(pBuffer->pData + nSkip, pBuffer->pData + pBuffer->nLen);
        return ADD_PUSHED;
    }

private:
    std::vector<std::vector<BYTE>>* m_pPictures;
};

} // namespace

TEST(PcPlaybackSource, PlaysARecordedMinuteIntoThePaneOnItsTimeline)
{
    QTemporaryDir dir;
    const std::string strFolder = dir.path().toStdString();
    const std::vector<std::vector<BYTE>> vecClip =
        downloadtest::EncodeFrames(strFolder, true, 20, "-g 10 -bf 0", "64x48");
    ASSERT_EQ(vecClip.size(), 20u);
    {
        // One minute at 10 pictures a second, a key frame every 10, through the recorder.
        PcRecSettings settings;
        settings.strFolder = strFolder + "/PC";
        settings.nSegmentSeconds = 60;
        settings.llReserveBytes = 1 << 20;
        CPcRecorder recorder(settings);
        std::int64_t llNow = T0;
        recorder.SetClock([&llNow] { return llNow; });
        std::string strError;
        ASSERT_TRUE(recorder.Start(strError)) << strError;
        recorder.AddCamera(CAMERA, "CAM77");
        for (int n = 0; n < 600; ++n, llNow += 100) {
            const std::vector<BYTE>& es = vecClip[static_cast<std::size_t>(n % 20)];
            std::vector<BYTE> data(10 + es.size(), 0);
            data[0] = 10;
            const DWORD dwSeconds = static_cast<DWORD>(llNow / 1000);
            const DWORD dwMicros = static_cast<DWORD>(llNow % 1000 * 1000);
            std::memcpy(&data[2], &dwSeconds, 4);
            std::memcpy(&data[6], &dwMicros, 4);
            std::copy(es.begin(), es.end(), data.begin() + 10);
            MediaFrame frame;
            frame.pData = data.data();
            frame.nLen = static_cast<DWORD>(data.size());
            frame.ulCameraID = CAMERA;
            frame.usSequence = static_cast<WORD>(n);
            frame.bySubSequence = n % 10 == 0 ? 0 : 1;
            frame.nWidth = 64;
            frame.nHeight = 48;
            frame.nCodec = MEDIA_CODEC_MPEG4;
            frame.bStamped = 1;
            recorder.OnFrame(frame);
            if (n % 10 == 9)
                recorder.Tick();
        }
        recorder.Stop();
    }

    DeviceInfo camera;
    camera.stItem.dwDVIPID = CAMERA;
    std::vector<std::vector<BYTE>> vecPictures;
    CVideoPaneLogic::Hooks paneHooks;
    paneHooks.fnPlayType = [] { return DWORD(PLAY_TYPE_PLAYBACK); };
    paneHooks.fnMakeSession = [&](IVideoPresenter* pOwner) {
        return std::make_unique<RecordingSession>(pOwner, &vecPictures);
    };
    CDlgVideoPane pane(nullptr, paneHooks, false);
    pane.Logic().ShowDevice(&camera);

    std::unique_ptr<CPlaybackPaneLogic> pLogic;
    std::vector<DWORD> vecFinished;
    CPcPlaybackSource::Hooks hooks;
    hooks.fnSerial = [](DWORD dwID) { return dwID == CAMERA ? std::string("CAM77") : std::string(); };
    hooks.fnDays = [&](const RecDateInfo& info) { pLogic->OnDays(info); };
    hooks.fnHours = [&](const RecHourInfo& info) { pLogic->OnHours(info); };
    hooks.fnMinutes = [&](const RecMinuteInfo& info) { pLogic->OnMinutes(info); };
    hooks.fnFrame = [&](const MediaFrame& frame) { pane.Logic().OnMediaFrame(frame); };
    hooks.fnPosition = [&](DWORD dwSeconds) { pLogic->OnPosition(dwSeconds); };
    hooks.fnFinish = [&](DWORD dwID) { vecFinished.push_back(dwID); };
    CPcPlaybackSource source(strFolder + "/PC", hooks);
    CPlaybackPaneLogic::Hooks logicHooks;
    logicHooks.fnSelected = [&] { return &camera; };
    logicHooks.pRequests = &source;
    pLogic = std::make_unique<CPlaybackPaneLogic>(logicHooks);
    pLogic->SetEnabled(true);
    pLogic->Start();

    // The timeline: the one day, hour 8, minute 15 recorded and the minutes around it missing.
    EXPECT_EQ(pLogic->Days(), std::vector<DWORD>{20240502});
    std::array<BarMark, 24> aHours{};
    aHours[8] = BarMark::Normal;
    EXPECT_EQ(pLogic->HourBar(), aHours);
    EXPECT_EQ(pLogic->SelectedHour(), 8);
    std::array<BarMark, 60> aMinutes{};
    aMinutes[15] = BarMark::Normal;
    EXPECT_EQ(pLogic->MinuteBar(), aMinutes);

    // The first picture at once; paused, no more come.
    ASSERT_EQ(vecPictures.size(), 1u);
    pLogic->OnPause();
    QTest::qWait(150);
    EXPECT_EQ(vecPictures.size(), 1u);
    pLogic->OnResume();
    pLogic->OnSpeedChosen(4); // 16 times: the minute in under 4 s
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vecFinished.empty(); }, 10000));
    EXPECT_EQ(vecFinished, std::vector<DWORD>{CAMERA});
    // Every picture recorded, in order, as the camera sent it: the minute but its first second,
    // where the recorder waits for sound that this camera does not send.
    ASSERT_EQ(vecPictures.size(), 590u);
    int nWrong = 0;
    for (std::size_t n = 0; n < vecPictures.size(); ++n)
        nWrong += vecPictures[n] != vecClip[(n + 10) % 20];
    EXPECT_EQ(nWrong, 0);
    EXPECT_EQ(pLogic->SelectedMinute(), 15);
    EXPECT_EQ(pLogic->Second(), 59);
    pane.Logic().StopDevice(&camera);
}
