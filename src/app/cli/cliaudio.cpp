// vistrel-cli listen and talk: two-way audio with one camera, as the video pane does it. listen
// plays the camera's GSM audio through the default output device, or decodes it into a WAV file
// (--save, no device needed); talk captures the default input device in 960-byte blocks, encodes
// them and sends them to the camera.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clisubcommands.h"
#include "core/log.h"
#include "media/audio/audiocodec.h"
#include "media/audio/audiomanager.h"
#include "media/audio/wavfile.h"
#include "protocol/engcmd.h"
#include "protocol/engmedia.h"
#include "protocol/password.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <memory>
#include <optional>

using nlohmann::json;

namespace {

constexpr DWORD AUDIO_RATE = 8000;
constexpr WORD AUDIO_BITS = 16;
constexpr WORD AUDIO_CHANNELS = 1;
// Online command 0x20000's flags.
constexpr DWORD AUDIO_FLAG_LISTEN = 1;
constexpr DWORD AUDIO_FLAG_SPEAK = 2;

struct AudioArgs {
    std::string strCamera;
    int nSeconds = 0;
    std::string strPassword;
    std::string strPasswordFile;
    std::string strOut;
    std::string strSave;
    std::string strIn;
};

// Everything of the camera's audio that arrived, for the media sink (a plain function).
// Frames may reach the engine in bursts (the packet capture hands them over up to a second
// at a time), and a burst longer than the player's queue would empty it. The command therefore
// holds the frames and plays them at their own pace, a second and a bit behind.
struct ListenStats {
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds HOLD{1100};
    static constexpr std::size_t MAX_HELD = 200; // 12 s of GSM audio

    std::uint64_t qwFrames = 0;
    std::uint64_t qwPlayed = 0;
    std::uint64_t qwDropped = 0;
    std::deque<std::vector<BYTE>> held;
    std::optional<Clock::time_point> tNext;
    bool bPlay = true;
    // --save: the audio decoded as it arrives, straight into the file's samples.
    std::unique_ptr<CAudioCodec> pSaveCodec;
    WavAudio saved;
    std::uint64_t qwUndecoded = 0;

    // Plays what is due; called from the event loop.
    void PlayDue()
    {
        const Clock::time_point now = Clock::now();
        if (!tNext && !held.empty())
            tNext = now + HOLD;
        while (tNext && !held.empty() && now >= *tNext) {
            const std::vector<BYTE>& frame = held.front();
            if (GetAudioManager().Play(frame.data(), int(frame.size())))
                ++qwPlayed;
            // 33 bytes of GSM are 20 ms.
            *tNext += std::chrono::milliseconds(20 * std::max<std::size_t>(1, frame.size() / 33));
            held.pop_front();
        }
        // Run dry for a while: start over with a fresh hold.
        if (tNext && held.empty() && now > *tNext + HOLD)
            tNext.reset();
    }
};
ListenStats* g_pListen = nullptr;

void ListenSink(MediaFrame* pFrame)
{
    if (g_pListen == nullptr || pFrame->nCodec != MEDIA_CODEC_AUDIO)
        return;
    ++g_pListen->qwFrames;
    if (g_pListen->pSaveCodec) {
        // 33 bytes of GSM decode to 320 bytes; a frame holds a few of them.
        BYTE abPcm[32768];
        const int nPcm =
            g_pListen->pSaveCodec->Decode(pFrame->pData, abPcm, static_cast<int>(pFrame->nLen), sizeof abPcm);
        if (nPcm > 0)
            g_pListen->saved.data.insert(g_pListen->saved.data.end(), abPcm, abPcm + nPcm);
        else
            ++g_pListen->qwUndecoded;
    }
    if (!g_pListen->bPlay)
        return;
    if (g_pListen->held.size() >= ListenStats::MAX_HELD) {
        ++g_pListen->qwDropped;
        return;
    }
    g_pListen->held.emplace_back(pFrame->pData, pFrame->pData + pFrame->nLen);
}

// Raw PCM blocks of a capturer, kept whole.
struct PcmRecorder : IAudioCaptureSink {
    WavAudio wav;
    void OnCaptureData(CAudioCapture*, const BYTE* pData, int nLen) override
    {
        wav.data.insert(wav.data.end(), pData, pData + nLen);
    }
};

// The common start: password, client, the camera (not a recorder), its password applied.
DeviceInfo* OpenCamera(CCliClient& client, const CliOptions& options, const AudioArgs& args, bool bPassword,
                       bool bPasswordFile, int& nExit)
{
    DeviceInfo* pDevice = nullptr;
    nExit = OpenCamera(client, options, args.strCamera, bPassword ? &args.strPassword : nullptr,
                       bPasswordFile ? &args.strPasswordFile : nullptr,
                       "a recorder has no audio of its own: address one of its channels", pDevice);
    if (nExit != CLI_EXIT_OK)
        return nullptr;
    // A camera without a check value still wants a token made from the sequence numbers it
    // announced, as live view sends it.
    if (!pDevice->stPassword.HasPassword())
        MakeToken(pDevice->stPassword);
    return pDevice;
}

// The manager's devices close before the command returns, on every way out.
struct AudioStopper {
    ~AudioStopper()
    {
        GetAudioManager().StopCapture();
        GetAudioManager().StopPlay();
    }
};

int CmdListen(const CliOptions& options, const AudioArgs& args, bool bPassword, bool bPasswordFile)
{
    // The devices open while the camera is being found: a sound server may take a second to
    // settle on a new stream, and audio arriving before that would overflow the queue. --out
    // records the default input device meanwhile (a monitor of the output, a loopback); it
    // opens first, as a stream joining a running server unsettles it again.
    AudioStopper stopper;
    PcmRecorder recorder;
    std::unique_ptr<CAudioCapture> pRecord;
    if (!args.strOut.empty()) {
        pRecord = std::make_unique<CAudioCapture>();
        if (!pRecord->Open(-1, AUDIO_RATE, AUDIO_BITS, AUDIO_CHANNELS, AUDIO_CODEC_NONE, 0, &recorder)) {
            PrintError(options, "no audio input device could be opened to record", CLI_EXIT_FAILURE);
            return CLI_EXIT_FAILURE;
        }
    }
    ListenStats stats;
    // --save alone writes the audio itself and opens no device; with --out the loopback needs
    // something played.
    stats.bPlay = args.strSave.empty() || !args.strOut.empty();
    if (!args.strSave.empty()) {
        stats.pSaveCodec = CreateAudioCodec(AUDIO_CODEC_GSM);
        if (!stats.pSaveCodec || !stats.pSaveCodec->Open(0, AUDIO_BITS, CAudioCodec::DIRECTION_DECODE)) {
            PrintError(options, "the GSM decoder could not be opened", CLI_EXIT_FAILURE);
            return CLI_EXIT_FAILURE;
        }
    }
    AudioManager& audio = GetAudioManager();
    if (stats.bPlay &&
        !audio.StartPlay(nullptr, -1, AUDIO_RATE, AUDIO_BITS, AUDIO_CHANNELS, AUDIO_CODEC_GSM, 0)) {
        PrintError(options, "no audio output device could be opened", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    CCliClient client;
    int nExit = CLI_EXIT_OK;
    DeviceInfo* pDevice = OpenCamera(client, options, args, bPassword, bPasswordFile, nExit);
    if (pDevice == nullptr)
        return nExit;
    const DWORD dwID = pDevice->GetID();

    g_pListen = &stats;
    CEngMedia* pEngine = CEngMedia::GetInstance();
    try {
        if (!pEngine->Init(nullptr, &ListenSink))
            pEngine->SetMediaSink(nullptr, &ListenSink);
    } catch (const CExceptionBase&) {
        g_pListen = nullptr;
        PrintError(options, "the media ports are taken", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    pDevice->bListenFromCam = 1;
    const auto start = std::chrono::steady_clock::now();
    client.Manager()->SelectDevice(dwID, pDevice->enCameraType, PLAY_TYPE_REALTIME);
    GetEngCmd()->Cmd_AudioControl(dwID, 1, AUDIO_FLAG_LISTEN);
    client.RunUntil(
        [&] {
            stats.PlayDue();
            return false;
        },
        (args.nSeconds > 0 ? args.nSeconds : 10) * 1000);
    pEngine->SetMediaSink(nullptr, nullptr);
    g_pListen = nullptr;
    client.Manager()->CancelSelectDevice();
    GetEngCmd()->Cmd_AudioControl(dwID, 0, AUDIO_FLAG_LISTEN);
    pDevice->bListenFromCam = 0;
    // What is held and queued plays out before the devices close.
    client.RunUntil(
        [&] {
            stats.PlayDue();
            return stats.held.empty();
        },
        int(ListenStats::HOLD.count()) + 1000);
    client.RunFor(500);
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool bLost =
        audio.GetPlayer() && audio.GetPlayer()->GetRenderer() && audio.GetPlayer()->GetRenderer()->IsLost();
    audio.StopPlay();

    json result = {{"id", dwID},
                   {"seconds", dSeconds},
                   {"audio_frames", stats.qwFrames},
                   {"played_frames", stats.qwPlayed},
                   {"dropped_frames", stats.qwDropped},
                   {"output_lost", bLost}};
    if (pRecord) {
        pRecord->Close();
        if (!WriteWavFile(args.strOut, recorder.wav)) {
            PrintError(options, "cannot write " + args.strOut, CLI_EXIT_FAILURE);
            return CLI_EXIT_FAILURE;
        }
        result["out"] = args.strOut;
        result["recorded_seconds"] = double(recorder.wav.data.size()) / (AUDIO_RATE * 2);
    }
    if (stats.pSaveCodec) {
        if (!WriteWavFile(args.strSave, stats.saved)) {
            PrintError(options, "cannot write " + args.strSave, CLI_EXIT_FAILURE);
            return CLI_EXIT_FAILURE;
        }
        result["saved"] = args.strSave;
        result["saved_seconds"] = double(stats.saved.data.size()) / (AUDIO_RATE * 2);
        result["undecoded_frames"] = stats.qwUndecoded;
    }
    if (options.bJson) {
        result["ok"] = stats.qwFrames > 0;
        std::cout << result.dump(2) << std::endl;
    } else {
        std::printf("camera %u: %llu audio frames, %llu played%s\n", static_cast<unsigned>(dwID),
                    static_cast<unsigned long long>(stats.qwFrames),
                    static_cast<unsigned long long>(stats.qwPlayed),
                    bLost ? " (the output device went away)" : "");
        if (pRecord)
            std::printf("recorded %.1f s to %s\n", result["recorded_seconds"].get<double>(),
                        args.strOut.c_str());
        if (stats.pSaveCodec)
            std::printf("saved %.1f s of the camera's audio to %s\n", result["saved_seconds"].get<double>(),
                        args.strSave.c_str());
    }
    if (stats.qwFrames == 0) {
        if (!options.bJson)
            std::fprintf(stderr, "no audio arrived\n");
        return CLI_EXIT_TIMEOUT;
    }
    return CLI_EXIT_OK;
}

int CmdTalk(const CliOptions& options, const AudioArgs& args, bool bPassword, bool bPasswordFile)
{
    // The file is checked before anything is sent.
    WavAudio input;
    if (!args.strIn.empty()) {
        std::string strError;
        if (!ReadWavFile(args.strIn, input, strError)) {
            PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        if (input.dwRate != AUDIO_RATE || input.usChannels != AUDIO_CHANNELS) {
            PrintError(options, args.strIn + ": must be 8000 Hz mono", CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
    }
    AudioStopper stopper;
    CCliClient client;
    int nExit = CLI_EXIT_OK;
    DeviceInfo* pDevice = OpenCamera(client, options, args, bPassword, bPasswordFile, nExit);
    if (pDevice == nullptr)
        return nExit;
    const DWORD dwID = pDevice->GetID();
    CEngCmd* pCmd = GetEngCmd();

    // Open the speak channel and wait a moment for the camera's talk state.
    std::optional<LPARAM> talkState;
    client.Subscribe(pCmd, VIEWER_EVT_TALK_STATE, [&](WPARAM wParam, LPARAM lParam) {
        if (DWORD(wParam) == dwID)
            talkState = lParam;
    });
    pCmd->Cmd_AudioControl(dwID, 1, AUDIO_FLAG_SPEAK);
    client.RunUntil([&] { return talkState.has_value(); }, 3000);
    const TalkInfo* pTalk = pCmd->GetTalkInfo(dwID);
    if (pTalk && pTalk->bTalkRefused) {
        pCmd->Cmd_AudioControl(dwID, 0, AUDIO_FLAG_SPEAK);
        PrintError(options, "the camera refuses to be spoken to (another client may be talking)",
                   CLI_EXIT_REFUSED);
        return CLI_EXIT_REFUSED;
    }

    std::uint64_t qwBlocks = 0, qwBytes = 0, qwUnsent = 0;
    AudioManager& audio = GetAudioManager();
    pDevice->bSpeakToCam = 1;
    audio.SetCaptureCallback([&](const BYTE* pData, int nLen) {
        if (pDevice->bSpeakToCam && pCmd->Cmd_SendAudio(dwID, pData, nLen) > 0) {
            ++qwBlocks;
            qwBytes += std::uint64_t(nLen);
        } else {
            ++qwUnsent;
        }
    });
    if (!audio.StartCapture(-1, AUDIO_RATE, AUDIO_BITS, AUDIO_CHANNELS)) {
        pCmd->Cmd_AudioControl(dwID, 0, AUDIO_FLAG_SPEAK);
        PrintError(options, "no audio input device could be opened", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    // --in plays a file through the default output meanwhile, for a capture device that hears
    // it (a monitor or loopback). It is fed by the output's queue, a quarter second ahead, so
    // that a device slow to start neither overflows the queue nor lets it run dry.
    CAudioPlay player;
    if (!input.data.empty() &&
        !player.Open(nullptr, -1, AUDIO_RATE, AUDIO_BITS, AUDIO_CHANNELS, AUDIO_CODEC_NONE, 0)) {
        audio.StopCapture();
        pCmd->Cmd_AudioControl(dwID, 0, AUDIO_FLAG_SPEAK);
        PrintError(options, "no audio output device could be opened to play " + args.strIn, CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    // Without --seconds: until the file has played out, and a moment for the last blocks.
    const int nFileMs = int(input.data.size() * 1000 / (AUDIO_RATE * 2));
    const bool bUntilPlayed = args.nSeconds == 0 && !input.data.empty();
    const int nRunMs = args.nSeconds > 0    ? args.nSeconds * 1000
                       : input.data.empty() ? 10000
                                            : nFileMs + 10000;
    // A monitor hears nothing until its sink runs (the player makes it run): the file starts
    // once capture flows, so that its beginning is not lost.
    if (!input.data.empty())
        client.RunUntil([&] { return qwBlocks + qwUnsent > 0; }, 3000);
    const auto start = std::chrono::steady_clock::now();
    std::size_t nFed = 0;
    constexpr std::size_t BLOCK = CAudioCapture::BLOCK;
    client.RunUntil(
        [&] {
            while (nFed < input.data.size() && player.GetRenderer()->GetQueuedBytes() < AUDIO_RATE / 2) {
                const std::size_t nLen = std::min(BLOCK, input.data.size() - nFed);
                player.Play(input.data.data() + nFed, int(nLen));
                nFed += nLen;
            }
            return bUntilPlayed && nFed == input.data.size() && player.GetRenderer()->GetQueuedBytes() == 0;
        },
        nRunMs);
    if (bUntilPlayed)
        client.RunFor(1500);
    audio.StopCapture();
    player.Close();
    pDevice->bSpeakToCam = 0;
    pCmd->Cmd_AudioControl(dwID, 0, AUDIO_FLAG_SPEAK);
    client.RunFor(200);
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    json result = {{"id", dwID},
                   {"seconds", dSeconds},
                   {"blocks_sent", qwBlocks},
                   {"bytes_sent", qwBytes},
                   {"blocks_unsent", qwUnsent}};
    if (talkState)
        result["talk_state"] = *talkState;
    if (options.bJson) {
        result["ok"] = qwBlocks > 0;
        std::cout << result.dump(2) << std::endl;
    } else {
        std::printf("camera %u: %llu blocks (%llu bytes) sent in %.1f s\n", static_cast<unsigned>(dwID),
                    static_cast<unsigned long long>(qwBlocks), static_cast<unsigned long long>(qwBytes),
                    dSeconds);
    }
    if (qwBlocks == 0) {
        if (!options.bJson)
            std::fprintf(stderr, "nothing was captured\n");
        return CLI_EXIT_FAILURE;
    }
    return CLI_EXIT_OK;
}

void AddAudioOptions(CLI::App* pApp, AudioArgs& args, CLI::Option*& pPassword, CLI::Option*& pPasswordFile)
{
    pApp->add_option("camera", args.strCamera, "serial or id")->required();
    pPassword = pApp->add_option("--password", args.strPassword, "the camera's password");
    pPasswordFile =
        pApp->add_option("--password-file", args.strPasswordFile, "a file whose first line is the password");
}

} // namespace

void AddAudioCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pListenArgs = std::make_shared<AudioArgs>();
    CLI::Option* pPassword = nullptr;
    CLI::Option* pPasswordFile = nullptr;
    CLI::App* pListen = cli.add_subcommand(
        "listen", "play the camera's audio through the default output device, or save it (--save)");
    AddAudioOptions(pListen, *pListenArgs, pPassword, pPasswordFile);
    pListen->add_option("--seconds", pListenArgs->nSeconds, "how long to listen (default 10)")
        ->check(CLI::Range(1, 86400));
    pListen->add_option("--save", pListenArgs->strSave,
                        "write the camera's audio, decoded, to this WAV file (8000 Hz mono); "
                        "plays nothing and needs no sound device");
    pListen->add_option("--out", pListenArgs->strOut,
                        "play, and meanwhile record the default input device to this WAV file: a "
                        "loopback through a monitor of the output, which needs a sound device (for the "
                        "camera's own audio use --save)");
    vec.push_back({pListen, [pListenArgs, pPassword, pPasswordFile, &options] {
                       return CmdListen(options, *pListenArgs, pPassword->count() > 0,
                                        pPasswordFile->count() > 0);
                   }});

    auto pTalkArgs = std::make_shared<AudioArgs>();
    CLI::App* pTalk = cli.add_subcommand(
        "talk", "speak to the camera: the default input device, GSM-encoded, in 960-byte blocks");
    AddAudioOptions(pTalk, *pTalkArgs, pPassword, pPasswordFile);
    pTalk
        ->add_option("--seconds", pTalkArgs->nSeconds,
                     "how long to talk (default: the --in file and 1.5 s more, else 10)")
        ->check(CLI::Range(1, 86400));
    pTalk->add_option("--in", pTalkArgs->strIn,
                      "meanwhile play this 8000 Hz mono WAV file through the default output device");
    vec.push_back({pTalk, [pTalkArgs, pPassword, pPasswordFile, &options] {
                       return CmdTalk(options, *pTalkArgs, pPassword->count() > 0,
                                      pPasswordFile->count() > 0);
                   }});
}
