// The audio front ends on real devices: PortAudio through ALSA to a PulseAudio server of the
// test's own with a null sink (tests/media/with-pulse.sh), never a sound card. Outside tools
// (parec, paplay) are the other end of each direction.
#include "audio_test_support.h"

#include "media/audio/audiomanager.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace audiotest;

namespace {

bool InPulseLab()
{
    return std::getenv("VISTREL_PULSE_SINK") != nullptr;
}

// Starts a tool in the background; Stop ends it and waits.
struct Background {
    pid_t pid = -1;
    explicit Background(const std::string& strCommand)
    {
        pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + strCommand).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    int Wait()
    {
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        pid = -1;
        return nStatus;
    }
    void Stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            Wait();
        }
    }
    ~Background() { Stop(); }
};

void RunEventsFor(std::chrono::milliseconds ms)
{
    const auto tEnd = std::chrono::steady_clock::now() + ms;
    while (std::chrono::steady_clock::now() < tEnd)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

std::vector<BYTE> GsmBlocks(const std::vector<BYTE>& pcm)
{
    std::unique_ptr<CAudioCodec> pCodec = CreateAudioCodec(AUDIO_CODEC_GSM);
    pCodec->Open(0, 16, CAudioCodec::DIRECTION_ENCODE);
    std::vector<BYTE> coded(pcm.size() / 320 * 33);
    coded.resize(std::size_t(pCodec->Encode(pcm.data(), coded.data(), int(pcm.size()), int(coded.size()))));
    return coded;
}

} // namespace

// Camera audio as the pane plays it: GSM blocks of 99 bytes at their real pace into the
// default output; the sink's monitor, recorded by parec, carries the speech.
TEST(AudioPulse, PlaybackReachesTheOutputDevice)
{
    if (!InPulseLab())
        GTEST_SKIP() << "run through tests/media/with-pulse.sh";
    QTemporaryDir dir;
    const std::string strRec = dir.path().toStdString() + "/monitor.raw";
    const std::vector<BYTE> speech = SpeechPcm();
    const std::vector<BYTE> coded = GsmBlocks(speech);

    Background rec("parec --device=" + std::string(std::getenv("VISTREL_PULSE_SOURCE")) +
                   " --rate=8000 --channels=1 --format=s16le --latency-msec=20 > " + strRec);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    AudioManager manager;
    ASSERT_TRUE(manager.StartPlay(nullptr, -1, 8000, 16, 1, AUDIO_CODEC_GSM, 0));
    // The sound server takes about a second to settle on a new stream; audio sent before that
    // overflows the player's queue, as it would with any device slower to start than the feed.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // The first blocks come at once, as after network jitter, so that the queue never runs
    // dry while the rest comes at the pace of speech.
    auto tNext = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i + 99 <= coded.size(); i += 99) {
        ASSERT_TRUE(manager.Play(coded.data() + i, 99));
        if (i >= 4 * 99) {
            tNext += std::chrono::milliseconds(60);
            std::this_thread::sleep_until(tNext);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_FALSE(manager.GetPlayer()->GetRenderer()->IsLost());
    manager.StopPlay();
    rec.Stop();

    int nLag = 0;
    const std::vector<BYTE> recorded = ReadFile(strRec);
    const double dCorr = PeakCorrelation(speech, recorded, 32000, &nLag);
    const double dMedian = MedianSegmentCorrelation(speech, recorded, nLag);
    std::printf("playback: correlation %.3f (median of half seconds %.3f), delay %d ms after the recorder "
                "started\n",
                dCorr, dMedian, nLag / 8);
    RecordProperty("correlation", std::to_string(dCorr));
    EXPECT_GT(dMedian, 0.8);
}

// The microphone as the pane captures it: paplay speaks into the sink, the default input (its
// monitor) is captured in 960-byte blocks, GSM-encoded to 99 bytes each, and decodes back to the
// speech.
TEST(AudioPulse, CaptureTakesTheInputDevice)
{
    if (!InPulseLab())
        GTEST_SKIP() << "run through tests/media/with-pulse.sh";
    AudioManager manager;
    std::vector<BYTE> coded;
    int nBlocks = 0;
    manager.SetCaptureCallback([&](const BYTE* p, int n) {
        EXPECT_EQ(n, 99);
        ++nBlocks;
        coded.insert(coded.end(), p, p + n);
    });
    ASSERT_TRUE(manager.StartCapture(-1, 8000, 16, 1));
    RunEventsFor(std::chrono::milliseconds(1500));
    Background play("paplay --latency-msec=100 --device=" + std::string(std::getenv("VISTREL_PULSE_SINK")) +
                    " " + AUDIO_TEST_SPEECH);
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (waitpid(play.pid, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < tEnd)
        RunEventsFor(std::chrono::milliseconds(20));
    play.pid = -1;
    RunEventsFor(std::chrono::milliseconds(800));
    manager.StopCapture();

    std::unique_ptr<CAudioCodec> pCodec = CreateAudioCodec(AUDIO_CODEC_GSM);
    pCodec->Open(0, 16, CAudioCodec::DIRECTION_DECODE);
    std::vector<BYTE> pcm(coded.size() / 33 * 320);
    pcm.resize(std::size_t(pCodec->Decode(coded.data(), pcm.data(), int(coded.size()), int(pcm.size()))));
    int nLag = 0;
    const double dCorr = PeakCorrelation(SpeechPcm(), pcm, 32000, &nLag);
    const double dMedian = MedianSegmentCorrelation(SpeechPcm(), pcm, nLag);
    std::printf(
        "capture: %d blocks, correlation %.3f (median of half seconds %.3f), delay %d ms after capture "
        "started\n",
        nBlocks, dCorr, dMedian, nLag / 8);
    RecordProperty("correlation", std::to_string(dCorr));
    EXPECT_GT(dMedian, 0.8);
}

// Both directions at once, as a talking user who also listens: the player feeds the output
// while the capturer records its monitor.
TEST(AudioPulse, PlayAndCaptureTogether)
{
    if (!InPulseLab())
        GTEST_SKIP() << "run through tests/media/with-pulse.sh";
    const std::vector<BYTE> speech = SpeechPcm();
    struct Sink : IAudioCaptureSink {
        std::vector<BYTE> pcm;
        void OnCaptureData(CAudioCapture*, const BYTE* p, int n) override { pcm.insert(pcm.end(), p, p + n); }
    } sink;
    CAudioCapture capture;
    ASSERT_TRUE(capture.Open(-1, 8000, 16, 1, AUDIO_CODEC_NONE, 0, &sink));
    CAudioPlay play;
    ASSERT_TRUE(play.Open(nullptr, -1, 8000, 16, 1, AUDIO_CODEC_NONE, 0));
    // A monitor hears nothing until its sink runs: the speech starts once capture flows.
    const auto tFlow = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sink.pcm.empty() && std::chrono::steady_clock::now() < tFlow)
        RunEventsFor(std::chrono::milliseconds(20));
    std::size_t nFed = 0;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < tEnd &&
           (nFed < speech.size() || play.GetRenderer()->GetQueuedBytes() > 0)) {
        while (nFed < speech.size() && play.GetRenderer()->GetQueuedBytes() < 4000) {
            const std::size_t n = std::min<std::size_t>(960, speech.size() - nFed);
            play.Play(speech.data() + nFed, int(n));
            nFed += n;
        }
        RunEventsFor(std::chrono::milliseconds(20));
    }
    RunEventsFor(std::chrono::milliseconds(800));
    capture.Close();
    play.Close();
    int nLag = 0;
    const double dCorr = PeakCorrelation(speech, sink.pcm, 32000, &nLag);
    const double dMedian = MedianSegmentCorrelation(speech, sink.pcm, nLag);
    std::printf("duplex: correlation %.3f (median of half seconds %.3f), delay %d ms\n", dCorr, dMedian,
                nLag / 8);
    EXPECT_GT(dMedian, 0.8);
}

// The output device goes away while playing (its sink is unloaded): the stream ends with a log
// line, the player keeps answering, nothing crashes.
TEST(AudioPulse, UnpluggedOutputEndsTheStream)
{
    if (!InPulseLab())
        GTEST_SKIP() << "run through tests/media/with-pulse.sh";
    AudioManager manager;
    ASSERT_TRUE(manager.StartPlay(nullptr, -1, 8000, 16, 1, AUDIO_CODEC_NONE, 0));
    const std::vector<BYTE> block(960, 0x10);
    for (int i = 0; i < 10; ++i) {
        manager.Play(block.data(), 960);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    ASSERT_EQ(RunTool("pactl unload-module module-null-sink"), 0);
    CADRenderer* pRenderer = manager.GetPlayer()->GetRenderer();
    for (int i = 0; i < 100 && !pRenderer->IsLost(); ++i) {
        manager.Play(block.data(), 960);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    EXPECT_TRUE(pRenderer->IsLost());
    manager.StopPlay();
}
