// Audio devices and front ends on a fake backend whose quarters pass only when the test says.
#include "audio_test_support.h"
#include "fake_audio_backend.h"

#include "media/audio/audiomanager.h"
#include "platform/trace.h"

#include <QCoreApplication>

using namespace audiotest;

namespace {

std::vector<BYTE> Pattern(std::size_t n, int nSeed)
{
    std::vector<BYTE> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = BYTE((i * 7 + std::size_t(nSeed) * 31 + 1) % 251 + 1); // never 0, so never silence
    return v;
}

// Collects the debugger trace while alive.
struct TraceCapture {
    std::vector<std::string> lines;
    std::mutex mutex;
    TraceCapture()
    {
        SetTraceSink([this](const char* p) {
            std::lock_guard<std::mutex> guard(mutex);
            lines.emplace_back(p);
        });
    }
    ~TraceCapture() { ResetTraceSink(); }
    bool Has(const std::string& strLine)
    {
        std::lock_guard<std::mutex> guard(mutex);
        return std::find(lines.begin(), lines.end(), strLine) != lines.end();
    }
};

struct BlockSink : IAudioCaptureSink {
    std::vector<std::vector<BYTE>> blocks;
    void OnCaptureData(CAudioCapture*, const BYTE* pData, int nLen) override
    {
        blocks.emplace_back(pData, pData + nLen);
    }
};

} // namespace

TEST(AudioDevices, GeometryFollowsTheFormat)
{
    CFakeAudioBackend fake;
    struct Row {
        DWORD dwRate;
        WORD usBits, usChannels;
        DWORD dwNotify;
    };
    const Row rows[] = {{8000, 16, 1, 1000}, {8000, 8, 1, 500}, {44100, 16, 2, 11024}, {11025, 8, 1, 689}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.dwRate) + " Hz " + std::to_string(row.usBits) + " bits");
        CADRenderer renderer;
        CADCapturer capturer;
        ASSERT_EQ(renderer.Open(row.dwRate, row.usBits, row.usChannels), 0);
        ASSERT_EQ(capturer.Open(row.dwRate, row.usBits, row.usChannels), 0);
        EXPECT_EQ(renderer.GetNotifySize(), row.dwNotify);
        EXPECT_EQ(renderer.GetBufferSize(), 4 * row.dwNotify);
        EXPECT_EQ(renderer.GetRingCapacity(), 16 * row.dwNotify);
        EXPECT_EQ(capturer.GetRingCapacity(), 64 * row.dwNotify);
        const auto opened = fake.OpenedStreams();
        ASSERT_GE(opened.size(), 2u);
        EXPECT_EQ(opened.back().dwBufferBytes, 4 * row.dwNotify);
        EXPECT_EQ(opened.back().format.nBlockAlign, row.usBits * row.usChannels / 8);
        EXPECT_EQ(opened.back().format.nAvgBytesPerSec, row.dwRate * row.usBits * row.usChannels / 8);
    }
}

// Each quarter plays what was queued, topped up with silence; a starved quarter is silence,
// never the previous audio again.
TEST(AudioDevices, RendererPlaysQueueThenSilence)
{
    CFakeAudioBackend fake;
    CADRenderer renderer;
    ASSERT_EQ(renderer.Open(8000, 16, 1), 0);
    fake.Tick(0); // the worker has filled its first quarter
    const std::vector<BYTE> a = Pattern(1000, 1), b = Pattern(600, 2);
    ASSERT_EQ(renderer.Write(a.data(), 1000), CADRenderer::WRITE_OK);
    fake.Tick(2);
    ASSERT_EQ(renderer.Write(b.data(), 600), CADRenderer::WRITE_OK);
    fake.Tick(2);
    const auto played = fake.Played();
    ASSERT_EQ(played.size(), 4u);
    const std::vector<BYTE> silence(1000, 0);
    EXPECT_EQ(played[0], silence);
    EXPECT_EQ(played[1], a);
    EXPECT_EQ(played[2], silence);
    std::vector<BYTE> partial = b;
    partial.resize(1000, 0);
    EXPECT_EQ(played[3], partial);
}

TEST(AudioDevices, RendererOverflowDropsTheQueue)
{
    CFakeAudioBackend fake;
    CADRenderer renderer;
    const std::vector<BYTE> block = Pattern(16001, 3);
    EXPECT_EQ(renderer.Write(block.data(), 100), CADRenderer::WRITE_NO_BUFFER);
    ASSERT_EQ(renderer.Open(8000, 16, 1), 0);
    EXPECT_EQ(renderer.Write(block.data(), 15000), CADRenderer::WRITE_OK);
    EXPECT_EQ(renderer.Write(block.data(), 1000), CADRenderer::WRITE_OK); // exactly full
    EXPECT_EQ(renderer.GetQueuedBytes(), 16000u);
    EXPECT_EQ(renderer.Write(block.data(), 2000), CADRenderer::WRITE_OK);
    EXPECT_EQ(renderer.GetQueuedBytes(), 2000u);
    EXPECT_EQ(renderer.Write(block.data(), 16001), CADRenderer::WRITE_TOO_LARGE);
    EXPECT_EQ(renderer.GetQueuedBytes(), 0u);
}

// A consumer that does not read: the capture ring fills to 16 device buffers, then starts over
// with the newest quarter.
TEST(AudioDevices, CaptureRingOverflowWithBlockedConsumer)
{
    CFakeAudioBackend fake;
    CADCapturer capturer;
    ASSERT_EQ(capturer.Open(8000, 16, 1), 0);
    std::vector<BYTE> heard;
    for (int q = 0; q < 65; ++q) {
        const std::vector<BYTE> quarter = Pattern(1000, q);
        heard.insert(heard.end(), quarter.begin(), quarter.end());
    }
    fake.Speak(heard);
    fake.Tick(64);
    EXPECT_EQ(capturer.GetQueuedBytes(), 64000u);
    fake.Tick(1);
    EXPECT_EQ(capturer.GetQueuedBytes(), 1000u);
    std::vector<BYTE> out(1000);
    EXPECT_EQ(capturer.Read(out.data(), 1001), CADCapturer::READ_NOT_ENOUGH);
    ASSERT_EQ(capturer.Read(out.data(), 1000), CADCapturer::READ_OK);
    EXPECT_EQ(out, Pattern(1000, 64));
}

// The hidden window's timer hands out whole 960-byte blocks only, in order; the remainder waits.
TEST(AudioDevices, CaptureDeliversWhole960ByteBlocks)
{
    CFakeAudioBackend fake;
    std::vector<BYTE> speech = Pattern(24000, 5);
    fake.Speak(speech);
    BlockSink sink;
    CAudioCapture capture;
    ASSERT_TRUE(capture.Open(-1, 8000, 16, 1, AUDIO_CODEC_NONE, 0, &sink));
    fake.Tick(1);
    QCoreApplication::processEvents();
    ASSERT_EQ(sink.blocks.size(), 1u);
    EXPECT_EQ(capture.GetCapturer()->GetQueuedBytes(), 40u);
    fake.Tick(23);
    QCoreApplication::processEvents();
    ASSERT_EQ(sink.blocks.size(), 25u);
    std::vector<BYTE> joined;
    for (const auto& block : sink.blocks) {
        EXPECT_EQ(block.size(), 960u);
        joined.insert(joined.end(), block.begin(), block.end());
    }
    EXPECT_EQ(joined, speech);

    // With no quarter coming, the 25 ms timer finds nothing to deliver.
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(80);
    while (std::chrono::steady_clock::now() < tEnd)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(sink.blocks.size(), 25u);
}

// The manager encodes capture with GSM 06.10 (three frames per block) and plays GSM blocks.
TEST(AudioDevices, ManagerCarriesGsmBothWays)
{
    CFakeAudioBackend fake;
    fake.Speak(SpeechPcm());
    AudioManager manager;
    std::vector<std::vector<BYTE>> sent;
    manager.SetCaptureCallback([&](const BYTE* p, int n) { sent.emplace_back(p, p + n); });
    ASSERT_TRUE(manager.StartCapture(-1, 8000, 16, 1));
    fake.Tick(4);
    QCoreApplication::processEvents();
    manager.StopCapture();
    ASSERT_EQ(sent.size(), 4u);
    for (const auto& block : sent)
        EXPECT_EQ(block.size(), 99u);

    ASSERT_TRUE(manager.StartPlay(nullptr, -1, 8000, 16, 1, AUDIO_CODEC_GSM, 0));
    fake.Tick(0);
    EXPECT_TRUE(manager.Play(sent[1].data(), 99));
    EXPECT_EQ(manager.GetPlayer()->GetRenderer()->GetQueuedBytes(), 960u);
    // Garbage or cut blocks from a camera: nothing queued, or silence, and the player goes on.
    const BYTE junk[40] = {1, 2, 3};
    EXPECT_FALSE(manager.Play(junk, 20));
    EXPECT_TRUE(manager.Play(junk, 40));
    EXPECT_FALSE(manager.Play(nullptr, 40));
    EXPECT_EQ(manager.GetPlayer()->GetRenderer()->GetQueuedBytes(), 1280u);
    manager.StopPlay();
    EXPECT_EQ(fake.LiveStreams(), 0);
}

// Device choice: an index past the list fails and a given index tries that device only. The
// default choice (-1) takes the host's default device, on a list in the order PortAudio's ALSA
// host lists it (the cards first), and never tries a card before it and the sound servers.
TEST(AudioDevices, DeviceChoice)
{
    CFakeAudioBackend fake;
    std::vector<AudioDeviceEntry> devices;
    for (const char* pszName :
         {"HDA Intel PCH: ALC3246 Analog (hw:0,0)", "HDA Intel PCH: HDMI 0 (hw:0,3)", "sysdefault", "front",
          "surround40", "hdmi", "pipewire", "pulse", "dmix", "default"})
        devices.push_back({std::string("ALSA:") + pszName, pszName, "ALSA"});
    fake.SetDevices(devices, devices);
    const std::vector<std::string> vecAll = {"ALSA:default",
                                             "ALSA:pipewire",
                                             "ALSA:pulse",
                                             "",
                                             "ALSA:sysdefault",
                                             "ALSA:front",
                                             "ALSA:surround40",
                                             "ALSA:hdmi",
                                             "ALSA:dmix",
                                             "ALSA:HDA Intel PCH: ALC3246 Analog (hw:0,0)",
                                             "ALSA:HDA Intel PCH: HDMI 0 (hw:0,3)"};
    // Each row: how many of the candidates fail to open; the next one is the device opened.
    for (std::size_t nFailing = 0; nFailing < vecAll.size(); ++nFailing) {
        SCOPED_TRACE(nFailing);
        for (std::size_t i = 0; i < nFailing; ++i)
            fake.FailOpen(vecAll[i], IAudioBackend::STEP_BUFFER);
        const std::size_t nBefore = fake.Attempts().size();
        CAudioPlay play;
        BlockSink sink;
        CAudioCapture capture;
        EXPECT_TRUE(play.Open(nullptr, -1, 8000, 16, 1, AUDIO_CODEC_GSM, 0));
        EXPECT_TRUE(capture.Open(-1, 8000, 16, 1, AUDIO_CODEC_GSM, 0, &sink));
        const std::vector<std::string> vecAttempts = fake.Attempts();
        // The player's attempts, then the capturer's: the same order.
        std::vector<std::string> vecExpected(vecAll.begin(), vecAll.begin() + nFailing + 1);
        vecExpected.insert(vecExpected.end(), vecAll.begin(), vecAll.begin() + nFailing + 1);
        EXPECT_EQ(std::vector<std::string>(vecAttempts.begin() + nBefore, vecAttempts.end()), vecExpected);
    }
    const std::size_t nBefore = fake.Attempts().size();
    CAudioPlay play;
    EXPECT_FALSE(play.Open(nullptr, int(devices.size()), 8000, 16, 1, AUDIO_CODEC_GSM, 0));
    EXPECT_FALSE(play.Open(nullptr, 9, 8000, 16, 1, AUDIO_CODEC_GSM, 0)); // "default", failing
    EXPECT_EQ(fake.Attempts().size(), nBefore + 1);
}

// A failed open returns 2, traces the step with the device's error, and leaves nothing running.
TEST(AudioDevices, FailedOpenLeavesNothingRunning)
{
    struct Row {
        bool bCapture;
        IAudioBackend::Step enStep;
        const char* pszTrace;
    };
    const Row rows[] = {
        {false, IAudioBackend::STEP_DEVICE, "WAVEERROR:88780078 InitDirectSound:DirectSoundCreate"},
        {false, IAudioBackend::STEP_BUFFER, "WAVEERROR:88780078 CreateRenderBuffer::CreateSoundBuffer"},
        {false, IAudioBackend::STEP_START, "WAVEERROR:88780078 CreateRenderBuffer::Play"},
        {true, IAudioBackend::STEP_DEVICE, "WAVEERROR:88780078 InitDirectSound:DirectSoundCaptureCreate"},
        {true, IAudioBackend::STEP_BUFFER, "WAVEERROR:88780078 StartRecord::CreateCaptureBuffer"},
        {true, IAudioBackend::STEP_START, "WAVEERROR:88780078 StartRecord::Start"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszTrace);
        CFakeAudioBackend fake;
        fake.FailOpen("", row.enStep);
        TraceCapture trace;
        std::unique_ptr<CAudioDevice> pDevice;
        if (row.bCapture)
            pDevice = std::make_unique<CADCapturer>();
        else
            pDevice = std::make_unique<CADRenderer>();
        EXPECT_EQ(pDevice->Open(8000, 16, 1), 2);
        EXPECT_FALSE(pDevice->IsOpen());
        EXPECT_EQ(pDevice->GetRingCapacity(), 0u);
        EXPECT_EQ(fake.LiveStreams(), 0);
        EXPECT_TRUE(trace.Has(row.pszTrace));
    }
}

// An unplugged device ends its worker with a trace; the front end keeps answering.
TEST(AudioDevices, UnpluggedDeviceEndsItsStream)
{
    CFakeAudioBackend fake;
    TraceCapture trace;
    CAudioPlay play;
    ASSERT_TRUE(play.Open(nullptr, -1, 8000, 16, 1, AUDIO_CODEC_NONE, 0));
    fake.Tick(1);
    fake.Unplug();
    for (int i = 0; i < 200 && !play.GetRenderer()->IsLost(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(play.GetRenderer()->IsLost());
    EXPECT_TRUE(trace.Has("WAVEERROR:ffffd8f1 HandleNotification::Lock"));
    const std::vector<BYTE> block = Pattern(960, 9);
    for (int i = 0; i < 40; ++i)
        play.Play(block.data(), 960);
    play.Close();
    EXPECT_FALSE(play.IsOpen());
}
