// Playing a camera's recordings on this PC in the playback pane, offscreen: what the recorder
// itself recorded marks its day, hour and minutes on the pane's bars and the minutes between as
// missing; a minute picked on the bar plays into the video pane through the decoder module to
// the renderer, picture by picture as the camera sent it, and its sound to the pane's speaker,
// with pause and speed.
#include "core/configfile.h"
#include "core/language.h"
#include "device/devicemanager.h"
#include "download/download_test_support.h"
#include "media/audio/audiocodec.h"
#include "media/audio/audiodevice.h"
#include "media/video/videopanelogic.h"
#include "pcrec/pcrecorder.h"
#include "protocol/engmedia.h"
#include "ui/main/camlist.h"
#include "ui/main/pcrecording.h"
#include "ui/main/playbackpane.h"
#include "ui/ui_test_support.h"
#include "ui/videopane.h"
#include "ui/videorendererwidget.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

constexpr DWORD CAMERA = 77;
constexpr std::int64_t T0 = 1714637700000; // 2024-05-02 08:15:00 UTC

// The pane's own session, decoder and renderer, keeping what it is handed: each picture's
// payload behind its stamp header.
class TappedSession : public CVideoSession {
public:
    TappedSession(IVideoPresenter* pOwner, std::vector<std::vector<BYTE>>* pPictures)
        : CVideoSession(pOwner), m_pPictures(pPictures)
    {
    }
    int AddBuffer(VideoBuffer* pBuffer) override
    {
        const BYTE nSkip = pBuffer->pData[0];
        m_pPictures->emplace_back(pBuffer->pData + nSkip, pBuffer->pData + pBuffer->nLen);
        return CVideoSession::AddBuffer(pBuffer);
    }

private:
    std::vector<std::vector<BYTE>>* m_pPictures;
};

// The speaker: counts the loud samples played, at the pace of a real device.
class SpeakerBackend : public IAudioBackend {
public:
    SpeakerBackend() : m_pOld(SetAudioBackend(this)) {}
    ~SpeakerBackend() override { SetAudioBackend(m_pOld); }
    std::vector<AudioDeviceEntry> EnumerateDevices(bool) override { return {{"", "speaker", "test"}}; }
    int OpenStream(bool, const std::string&, const WAVEFORMATEX&, DWORD,
                   std::unique_ptr<IAudioStream>& pStream, Step&) override
    {
        pStream = std::make_unique<Stream>(*this);
        return 0;
    }
    bool IsTransient(int) const override { return false; }
    std::string ErrorText(int) const override { return "error"; }
    int Loud()
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        return m_nLoud;
    }

private:
    struct Stream : IAudioStream {
        explicit Stream(SpeakerBackend& backend) : m_backend(backend) {}
        int Write(const BYTE* pData, DWORD nBytes) override
        {
            {
                const std::lock_guard<std::mutex> guard(m_backend.m_mutex);
                for (DWORD i = 0; i + 1 < nBytes; i += 2)
                    m_backend.m_nLoud +=
                        std::abs(static_cast<std::int16_t>(pData[i] | pData[i + 1] << 8)) > 1000;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(std::uint64_t{nBytes} * 1000000 / 16000));
            return 0;
        }
        int Read(BYTE*, DWORD) override { return -1; }
        void Unblock() override {}
        SpeakerBackend& m_backend;
    };
    IAudioBackend* m_pOld;
    std::mutex m_mutex;
    int m_nLoud = 0;
};

// A 440 Hz tone as the camera sends it: GSM 06.10, 100 ms a frame.
std::vector<BYTE> ToneGsm()
{
    std::vector<BYTE> vecPcm(1600);
    for (std::size_t i = 0; i < 800; ++i) {
        const auto nSample = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * double(i) / 8000));
        vecPcm[2 * i] = static_cast<BYTE>(nSample);
        vecPcm[2 * i + 1] = static_cast<BYTE>(static_cast<std::uint16_t>(nSample) >> 8);
    }
    std::unique_ptr<CAudioCodec> pGsm = CreateAudioCodec(AUDIO_CODEC_GSM);
    std::vector<BYTE> vecCoded(1600);
    if (pGsm == nullptr || !pGsm->Open(0, 16, CAudioCodec::DIRECTION_ENCODE))
        return {};
    vecCoded.resize(static_cast<std::size_t>(pGsm->Encode(vecPcm.data(), vecCoded.data(), 1600, 1600)));
    return vecCoded;
}

// Minute 15 of T0's hour, then after a missing minute 20 seconds of minute 17, at 10 pictures
// a second with a key frame every 10 and the tone's sound, through the recorder.
void Record(const std::string& strFolder, const std::vector<std::vector<BYTE>>& vecClip,
            const std::string& strSerial = "CAM77", const std::string& strName = {})
{
    PcRecSettings settings;
    settings.strFolder = strFolder;
    settings.nSegmentSeconds = 60;
    settings.llReserveBytes = 1 << 20;
    CPcRecorder recorder(settings);
    std::int64_t llNow = T0;
    recorder.SetClock([&llNow] { return llNow; });
    std::string strError;
    ASSERT_TRUE(recorder.Start(strError)) << strError;
    recorder.AddCamera(CAMERA, strSerial, strName);
    const std::vector<BYTE> vecTone = ToneGsm();
    ASSERT_FALSE(vecTone.empty());
    for (int n = 0; n < 800; ++n, llNow += 100) {
        MediaFrame sound;
        sound.pData = vecTone.data();
        sound.nLen = static_cast<DWORD>(vecTone.size());
        sound.ulCameraID = CAMERA;
        sound.nCodec = MEDIA_CODEC_AUDIO;
        recorder.OnFrame(sound);
        if (n == 600)
            llNow += 60000;
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
        frame.nWidth = 160;
        frame.nHeight = 120;
        frame.nCodec = MEDIA_CODEC_MPEG4;
        frame.bStamped = 1;
        recorder.OnFrame(frame);
        if (n % 10 == 9)
            recorder.Tick();
    }
    recorder.Stop();
}

// The filter module registered for this home, and the clip the recordings are made of: 20
// MPEG-4 pictures of 160x120, a key frame every 10.
std::vector<std::vector<BYTE>> RegisterFilterAndEncodeClip(const std::string& strFolder)
{
    EXPECT_EQ(std::system((std::string(VISTREL_REGSVR) + " " + FILTER_MODULE + " >/dev/null 2>&1").c_str()),
              0);
    return downloadtest::EncodeFrames(strFolder, true, 20, "-g 10 -bf 0", "160x120");
}

// A video pane whose session keeps every picture it is handed, and the playback pane, as the
// main window has them while the PC plays (no camera selected).
struct TappedPanes {
    std::vector<std::vector<BYTE>> vecPictures;
    CDlgVideoPane video;
    CDlgPlaybackPane pane;

    TappedPanes() : video(nullptr, Hooks(vecPictures), false)
    {
        video.resize(320, 240);
        video.show();
        pane.resize(900, 140);
        pane.show();
    }
    static CVideoPaneLogic::Hooks Hooks(std::vector<std::vector<BYTE>>& vecPictures)
    {
        CVideoPaneLogic::Hooks hooks;
        hooks.fnPlayType = [] { return DWORD(PLAY_TYPE_NONE); };
        hooks.fnMakeSession = [&vecPictures](IVideoPresenter* pOwner) {
            return std::make_unique<TappedSession>(pOwner, &vecPictures);
        };
        return hooks;
    }
};

} // namespace

TEST(PcPlaybackPane, PaneMarksTheRecordedMinuteAndPlaysItToTheRenderer)
{
    QTemporaryDir dir;
    const std::string strFolder = dir.path().toStdString();
    // The decoder module from a class registry of the test's own.
    const QByteArray home = qgetenv("VISTREL_HOME");
    qputenv("VISTREL_HOME", dir.path().toLocal8Bit());
    const std::vector<std::vector<BYTE>> vecClip = RegisterFilterAndEncodeClip(strFolder);
    ASSERT_EQ(vecClip.size(), 20u);
    Record(strFolder + "/PC", vecClip);

    SpeakerBackend speaker;
    DeviceInfo camera;
    camera.stItem.dwDVIPID = CAMERA;
    std::strcpy(camera.stItem.szSerial, "CAM77");
    TappedPanes panes;
    auto& [vecPictures, video, pane] = panes;

    pane.StartPcPlayback(&camera, &video, strFolder + "/PC");
    ASSERT_TRUE(pane.IsPcPlayback());
    EXPECT_TRUE(pane.isEnabled());
    EXPECT_EQ(video.Logic().Device(), &camera);
    // The timeline: the one day, hour 8, minutes 15 and 17 recorded and every other one missing.
    ASSERT_EQ(pane.GetDateList()->count(), 1);
    EXPECT_EQ(pane.GetDateList()->itemText(0), QStringLiteral("2024-05-02"));
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(pane.GetHourBar()->GetMark(h), h == 8 ? BarMark::Normal : BarMark::None) << h;
    EXPECT_EQ(pane.GetHourBar()->GetCurrent(), 8);
    for (int m = 0; m < 60; ++m)
        EXPECT_EQ(pane.GetMinuteBar()->GetMark(m), m == 15 || m == 17 ? BarMark::Normal : BarMark::None) << m;

    // Playing from the first recording at once; paused, no more pictures come.
    ASSERT_FALSE(vecPictures.empty());
    pane.GetTransportButton()->click();
    const std::size_t nPaused = vecPictures.size();
    QTest::qWait(200);
    EXPECT_EQ(vecPictures.size(), nPaused);

    // Minute 17 picked on its bar plays from its start, its sound on the pane's speaker; then
    // 16 times as fast to the end.
    vecPictures.clear();
    video.SetSpeaker(true);
    const QRect rcMinute = pane.GetMinuteBar()->CellRect(17);
    QTest::mouseClick(pane.GetMinuteBar(), Qt::LeftButton, {}, rcMinute.center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return speaker.Loud() >= 4000; }, 5000)) << speaker.Loud();
    pane.GetSpeedList()->setCurrentIndex(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane.Logic().IsStopped(); }, 15000));
    // Every picture of it, in order, as the camera sent it.
    ASSERT_EQ(vecPictures.size(), 200u);
    int nWrong = 0;
    for (std::size_t n = 0; n < vecPictures.size(); ++n)
        nWrong += vecPictures[n] != vecClip[n % 20];
    EXPECT_EQ(nWrong, 0);
    // And the decoder's pictures reached the renderer.
    ASSERT_NE(video.VideoWindow(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return video.VideoWindow()->FramesPresented() >= 100; }, 5000))
        << video.VideoWindow()->FramesPresented();
    EXPECT_FALSE(video.VideoWindow()->CurrentImage().isNull());

    // Ended: the video pane lets the camera go and the pane waits for the next one.
    pane.StopPcPlayback();
    EXPECT_FALSE(pane.IsPcPlayback());
    EXPECT_FALSE(pane.isEnabled());
    EXPECT_EQ(video.Logic().Device(), nullptr);
    // Closed while it plays: nothing is left playing into the video pane.
    {
        CDlgPlaybackPane closing;
        closing.StartPcPlayback(&camera, &video, strFolder + "/PC");
        ASSERT_EQ(video.Logic().Device(), &camera);
    }
    EXPECT_EQ(video.Logic().Device(), nullptr);
    qputenv("VISTREL_HOME", home);
}

// A camera that is not in the camera list (stolen, broken, not found this time): with this PC as
// the source the playback list shows it by the name recorded with it, and opening it plays its
// recordings into the video pane picture by picture as they were written.
TEST(PcPlaybackPane, CameraKnownOnlyFromTheRecordingsIsListedAndPlays)
{
    GetLanguageManager()->LoadLanguage(9);
    QTemporaryDir dir;
    const std::string strHome = dir.path().toStdString() + "/";
    std::ofstream(strHome + "Vistrel.ini") << "[PATH]\r\nrecord=" << strHome << "rec\r\n";
    CConfigFileManager config(strHome);
    CEngMedia engine;
    uitest::CFakeManager manager;
    CPcRecordingUi recording(&config, engine, manager);
    SetPcRecordingUi(&recording);
    const std::string strFolder = recording.Settings().strFolder;
    const QByteArray home = qgetenv("VISTREL_HOME");
    qputenv("VISTREL_HOME", dir.path().toLocal8Bit());
    const std::vector<std::vector<BYTE>> vecClip = RegisterFilterAndEncodeClip(strHome);
    ASSERT_EQ(vecClip.size(), 20u);
    Record(strFolder, vecClip, "GONE/88", "Back yard");

    CDlgPlaybackCamList list;
    QTreeWidget* pTree = list.GetTree();
    auto findRow = [pTree] {
        const QList<QTreeWidgetItem*> items =
            pTree->findItems(QStringLiteral("Back yard (not connected)"), Qt::MatchExactly);
        return items.isEmpty() ? nullptr : items.front();
    };
    // The card's recordings are the camera's to answer: no such row.
    EXPECT_EQ(findRow(), nullptr);
    auto* pPcSource = list.findChild<QPushButton*>(QStringLiteral("sourcePc"));
    ASSERT_NE(pPcSource, nullptr);
    pPcSource->click();
    QTreeWidgetItem* pRow = findRow();
    ASSERT_NE(pRow, nullptr);
    EXPECT_EQ(pTree->topLevelItemCount(), 1);

    TappedPanes panes;
    auto& [vecPictures, video, pane] = panes;
    list.SetRecordedOpenHandler([&](const std::string& strSerial, const QString& strName) {
        pane.StartPcPlayback(strSerial, strName, &video, strFolder);
    });
    Q_EMIT pTree->itemActivated(pRow, 0);
    ASSERT_TRUE(pane.IsPcPlayback());
    ASSERT_NE(video.Logic().Device(), nullptr);
    EXPECT_EQ(QString::fromStdU16String(video.Logic().Device()->GetName()), QStringLiteral("Back yard"));
    ASSERT_EQ(pane.GetDateList()->count(), 1);
    EXPECT_EQ(pane.GetDateList()->itemText(0), QStringLiteral("2024-05-02"));
    for (int m = 0; m < 60; ++m)
        EXPECT_EQ(pane.GetMinuteBar()->GetMark(m), m == 15 || m == 17 ? BarMark::Normal : BarMark::None) << m;

    // The camera that stands in has no stream to record.
    QString strError;
    EXPECT_FALSE(recording.Record(*video.Logic().Device(), strError));
    EXPECT_FALSE(strError.isEmpty());

    // From the first recording to the end, 16 times as fast: every picture, in order, as written.
    pane.GetSpeedList()->setCurrentIndex(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane.Logic().IsStopped(); }, 20000));
    ASSERT_EQ(vecPictures.size(), 800u);
    int nWrong = 0;
    for (std::size_t n = 0; n < vecPictures.size(); ++n)
        nWrong += vecPictures[n] != vecClip[n % 20];
    EXPECT_EQ(nWrong, 0);

    // Ended, the pane lets go of the camera that stood in; the card's source lists none again.
    pane.StopPcPlayback();
    EXPECT_EQ(video.Logic().Device(), nullptr);
    list.findChild<QPushButton*>()->click();
    EXPECT_EQ(findRow(), nullptr);
    SetPcRecordingUi(nullptr);
    qputenv("VISTREL_HOME", home);
}
