// vistrel-cli live: selects a camera for live view as the desktop client does, receives its
// media for a while and reports what arrived; optionally keeps the video as an elementary
// stream that players read.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clisubcommands.h"
#include "core/log.h"
#include "media/video/frameorderer.h"
#include "net/socketmanager.h"
#include "platform/ticks.h"
#include "protocol/engmedia.h"
#include "protocol/password.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>

using nlohmann::json;

namespace {

struct LiveArgs {
    std::string strCamera;
    int nSeconds = 10;
    std::string strPassword;
    std::string strPasswordFile;
    std::string strSave;
    std::string strFrameLog;
};

// What the sink saw; the sink is a plain function, so it reaches this through one pointer.
struct LiveStats {
    DWORD dwCameraID = 0;
    std::uint64_t qwVideoFrames = 0;
    std::uint64_t qwAudioFrames = 0;
    std::uint64_t qwVideoBytes = 0;
    // Frame numbers seen, unwrapped past 65535.
    std::set<std::int64_t> setSeen;
    std::int64_t llLast = 0;
    std::uint64_t Missing() const
    {
        return setSeen.empty()
                   ? 0
                   : static_cast<std::uint64_t>(*setSeen.rbegin() - *setSeen.begin() + 1) - setSeen.size();
    }
    DWORD nWidth = 0;
    DWORD nHeight = 0;
    DWORD nCodec = MEDIA_CODEC_AUDIO;
    std::ofstream save;
    std::ofstream frameLog;
    // Frames go on in number order, each number once, as the desktop client's pane takes them.
    CFrameOrderer orderer;
    // At the end, frames waiting for a late one get its time; newer ones are not taken then.
    bool bDraining = false;
    bool bAny = false;
    WORD usNewest = 0;
};
LiveStats* g_pLive = nullptr;

// CRC-32 of the frame as it travelled: the 8-byte header rebuilt from the fields and the
// stamp's two times back in network order, so that it compares with the sender's own CRC.
uLong WireCrc(const MediaFrame& frame)
{
    BYTE byType = frame.nCodec == MEDIA_CODEC_AUDIO  ? 0x20
                  : frame.nCodec == MEDIA_CODEC_H264 ? 0x60
                  : frame.bStamped                   ? 0x50
                                                     : 0x11;
    byType |= frame.byMode;
    const BYTE abHeader[8] = {byType,
                              frame.bySubSequence,
                              static_cast<BYTE>(frame.usSequence >> 8),
                              static_cast<BYTE>(frame.usSequence),
                              static_cast<BYTE>(frame.ulCameraID),
                              static_cast<BYTE>(frame.ulCameraID >> 8),
                              static_cast<BYTE>(frame.ulCameraID >> 16),
                              static_cast<BYTE>(frame.ulCameraID >> 24)};
    uLong uCrc = crc32(0, abHeader, sizeof(abHeader));
    DWORD nDone = 0;
    if (frame.bStamped && frame.nLen >= 10) {
        BYTE abStamp[10];
        std::memcpy(abStamp, frame.pData, sizeof(abStamp));
        for (int i = 0; i < 2; ++i)
            std::reverse(abStamp + 2 + 4 * i, abStamp + 6 + 4 * i);
        uCrc = crc32(uCrc, abStamp, sizeof(abStamp));
        nDone = sizeof(abStamp);
    }
    return crc32(uCrc, frame.pData + nDone, frame.nLen - nDone);
}

void TakeFrame(const MediaFrame* pFrame)
{
    LiveStats& s = *g_pLive;
    const BYTE* pData = pFrame->pData;
    DWORD nLen = pFrame->nLen;
    // The stamp header is ours, not the codec's: the saved stream starts after it.
    if (pFrame->bStamped && nLen > 0 && pData[0] <= nLen) {
        nLen -= pData[0];
        pData += pData[0];
    }
    if (s.frameLog.is_open()) {
        char szLine[200];
        std::snprintf(szLine, sizeof(szLine),
                      "frame id=%u seq=%u sub=%u codec=%u size=%u crc=%08lx es_size=%u es_crc=%08lx\n",
                      static_cast<unsigned>(pFrame->ulCameraID), pFrame->usSequence, pFrame->bySubSequence,
                      static_cast<unsigned>(pFrame->nCodec),
                      static_cast<unsigned>(pFrame->nLen + MEDIA_HEADER_LEN), WireCrc(*pFrame),
                      static_cast<unsigned>(nLen), crc32(0, pData, nLen));
        s.frameLog << szLine;
    }
    // Video and audio frames of one stream share the frame numbers: count the numbers never
    // seen within the span.
    const std::int64_t llSequence =
        s.setSeen.empty()
            ? pFrame->usSequence
            : s.llLast + static_cast<std::int16_t>(pFrame->usSequence - static_cast<WORD>(s.llLast));
    s.llLast = llSequence;
    s.setSeen.insert(llSequence);
    if (pFrame->nCodec == MEDIA_CODEC_AUDIO) {
        ++s.qwAudioFrames;
        return;
    }
    ++s.qwVideoFrames;
    s.qwVideoBytes += nLen;
    s.nCodec = pFrame->nCodec;
    // Only a key frame's sequence header tells the size; others carry the default.
    if (pFrame->bySubSequence == 0) {
        s.nWidth = pFrame->nWidth;
        s.nHeight = pFrame->nHeight;
    }
    if (s.save.is_open())
        s.save.write(reinterpret_cast<const char*>(pData), nLen);
}

void LiveSink(MediaFrame* pFrame)
{
    LiveStats& s = *g_pLive;
    const bool bNewer = static_cast<std::int16_t>(static_cast<WORD>(pFrame->usSequence - s.usNewest)) > 0;
    if (s.bDraining && bNewer)
        return;
    if (bNewer || !s.bAny)
        s.usNewest = pFrame->usSequence;
    s.bAny = true;
    const DWORD dwNow = GetTickCount();
    s.orderer.Push(*pFrame, dwNow);
    s.orderer.Release(dwNow, [](CFrameOrderer::Frame& frame) { TakeFrame(&frame.frame); });
}

// Segments and frames the media sockets dropped as malformed, refused or too long.
void CountSocketDrops(std::uint64_t& qwSegments, std::uint64_t& qwFrames)
{
    CEngMedia* pEngine = CEngMedia::GetInstance();
    for (int i = 0; i < CEngMedia::GROUP_COUNT; ++i) {
        const SocketGroup* pGroup = pEngine->GetGroup(i);
        if (pGroup == nullptr)
            continue;
        for (int j = 0; j < pGroup->nSockets; ++j) {
            const CMediaReassembler& media = pGroup->ppSockets[j]->GetMediaReassembler();
            qwSegments += media.GetDroppedSegments();
            qwFrames += media.GetDroppedFrames();
        }
    }
}

const char* CodecText(DWORD nCodec)
{
    return nCodec == MEDIA_CODEC_H264 ? "H.264" : nCodec == MEDIA_CODEC_MPEG4 ? "MPEG-4" : "none";
}

int CmdLive(const CliOptions& options, const LiveArgs& args, bool bPassword, bool bPasswordFile)
{
    LiveStats stats;
    if (!args.strSave.empty()) {
        stats.save.open(args.strSave, std::ios::binary | std::ios::trunc);
        if (!stats.save) {
            PrintError(options, "cannot write " + args.strSave, CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
    }
    if (!args.strFrameLog.empty())
        stats.frameLog.open(args.strFrameLog, std::ios::trunc);

    CCliClient client;
    DeviceInfo* pDevice = nullptr;
    if (const int nExit =
            OpenCamera(client, options, args.strCamera, bPassword ? &args.strPassword : nullptr,
                       bPasswordFile ? &args.strPasswordFile : nullptr,
                       "a recorder has no video of its own: address one of its channels", pDevice);
        nExit != CLI_EXIT_OK)
        return nExit;

    // A camera without a check value still wants a token from the sequence numbers it
    // announced (with the all-zero key); start video sends the stored one as it is.
    if (!pDevice->stPassword.HasPassword())
        MakeToken(pDevice->stPassword);

    stats.dwCameraID = pDevice->GetID();
    g_pLive = &stats;
    CEngMedia* pEngine = CEngMedia::GetInstance();
    try {
        if (!pEngine->Init(nullptr, &LiveSink))
            pEngine->SetMediaSink(nullptr, &LiveSink);
    } catch (const CExceptionBase&) {
        PrintError(options, "the media ports are taken", CLI_EXIT_FAILURE);
        g_pLive = nullptr;
        return CLI_EXIT_FAILURE;
    }
    const auto start = std::chrono::steady_clock::now();
    client.Manager()->SelectDevice(stats.dwCameraID, pDevice->enCameraType, PLAY_TYPE_REALTIME);
    client.RunFor(args.nSeconds * 1000);
    const DWORD dwWait = stats.orderer.TimeToNextRelease(GetTickCount());
    if (dwWait != CFrameOrderer::kNothingHeld) {
        stats.bDraining = true;
        client.RunFor(static_cast<int>(dwWait) + 20);
    }
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    client.Manager()->CancelSelectDevice();
    pEngine->SetMediaSink(nullptr, nullptr);
    stats.orderer.ReleaseAll([](CFrameOrderer::Frame& frame) { TakeFrame(&frame.frame); });
    g_pLive = nullptr;
    stats.save.close();

    std::uint64_t qwDroppedSegments = 0;
    std::uint64_t qwDroppedFrames = 0;
    CountSocketDrops(qwDroppedSegments, qwDroppedFrames);
    const json result = {
        {"id", stats.dwCameraID},
        {"seconds", dSeconds},
        {"codec", CodecText(stats.nCodec)},
        {"width", stats.nWidth},
        {"height", stats.nHeight},
        {"frames", stats.qwVideoFrames},
        {"audio_frames", stats.qwAudioFrames},
        {"fps", dSeconds > 0 ? static_cast<double>(stats.qwVideoFrames) / dSeconds : 0.0},
        {"kbps", dSeconds > 0 ? static_cast<double>(stats.qwVideoBytes) * 8 / 1000 / dSeconds : 0.0},
        {"missing_frames", stats.Missing()},
        {"repeated_frames", stats.orderer.GetCounters().qwRepeated},
        {"late_frames", stats.orderer.GetCounters().qwLate},
        {"dropped_frames", qwDroppedFrames},
        {"dropped_segments", qwDroppedSegments},
    };
    if (options.bJson) {
        json j = result;
        j["ok"] = stats.qwVideoFrames > 0;
        std::cout << j.dump(2) << std::endl;
    } else {
        std::printf("camera %u: %s %ux%u, %.1f frames/s, %.0f kbit/s\n",
                    static_cast<unsigned>(stats.dwCameraID), CodecText(stats.nCodec),
                    static_cast<unsigned>(stats.nWidth), static_cast<unsigned>(stats.nHeight),
                    result["fps"].get<double>(), result["kbps"].get<double>());
        std::printf("complete frames: %llu video, %llu audio; dropped: %llu missing, %llu refused, %llu bad "
                    "segments\n",
                    static_cast<unsigned long long>(stats.qwVideoFrames),
                    static_cast<unsigned long long>(stats.qwAudioFrames),
                    static_cast<unsigned long long>(stats.Missing()),
                    static_cast<unsigned long long>(qwDroppedFrames),
                    static_cast<unsigned long long>(qwDroppedSegments));
    }
    if (stats.qwVideoFrames == 0) {
        if (!options.bJson)
            std::fprintf(stderr, "no video arrived\n");
        return CLI_EXIT_TIMEOUT;
    }
    return CLI_EXIT_OK;
}

} // namespace

void AddLiveCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pArgs = std::make_shared<LiveArgs>();
    CLI::App* pLive =
        cli.add_subcommand("live", "live view of one camera for a while: frames, rate, picture size, drops");
    pLive->add_option("camera", pArgs->strCamera, "serial or id")->required();
    pLive->add_option("--seconds", pArgs->nSeconds, "how long to receive (default 10)")
        ->check(CLI::Range(1, 86400));
    CLI::Option* pPassword = pLive->add_option("--password", pArgs->strPassword, "the camera's password");
    CLI::Option* pPasswordFile = pLive->add_option("--password-file", pArgs->strPasswordFile,
                                                   "a file whose first line is the password");
    pLive->add_option("--save", pArgs->strSave, "write the video as an elementary stream (.h264 or .m4v)");
    // Hidden, for the end-to-end tests: one line per video frame with its CRC-32.
    pLive->add_option("--frame-log", pArgs->strFrameLog)->group("");
    vec.push_back({pLive, [pArgs, pPassword, pPasswordFile, &options] {
                       return CmdLive(options, *pArgs, pPassword->count() > 0, pPasswordFile->count() > 0);
                   }});
}
