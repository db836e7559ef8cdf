// vistrel-cli live: watches one or more cameras for live view at once, as the desktop client's
// panes do, receives their media for a while and reports what arrived per camera; optionally
// keeps each camera's video as an elementary stream that players read.
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
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

using nlohmann::json;

namespace {

struct LiveArgs {
    std::vector<std::string> vecCameras;
    int nSeconds = 10;
    std::string strPassword;
    std::string strPasswordFile;
    std::string strSave;
    std::string strFrameLog;
};

// What the sink saw of one camera.
struct LiveStats {
    DWORD dwCameraID = 0;
    std::string strSerial;
    std::uint64_t qwVideoFrames = 0;
    std::uint64_t qwAudioFrames = 0;
    std::uint64_t qwVideoBytes = 0;
    // Frame numbers seen, unwrapped past 65535: their span and how many. The orderer hands each
    // number on once and in order (a frame's later segments repeat its number), so the count
    // needs no record of the numbers themselves, which would grow for as long as the camera streams.
    std::int64_t llLowest = 0;
    std::int64_t llHighest = 0;
    std::uint64_t qwNumbers = 0;
    std::int64_t llLast = 0;
    std::uint64_t Missing() const
    {
        const auto qwSpan = static_cast<std::uint64_t>(llHighest - llLowest + 1);
        return qwNumbers == 0 || qwSpan < qwNumbers ? 0 : qwSpan - qwNumbers;
    }
    DWORD nWidth = 0;
    DWORD nHeight = 0;
    DWORD nCodec = MEDIA_CODEC_AUDIO;
    // The camera's answer to start video when it refused (busy, viewed by another user, ...).
    DWORD dwVideoStatus = 0;
    // The saved stream, opened at the first video frame: its codec names the file.
    std::ofstream save;
    std::string strSavePath;
    bool bSaveFailed = false;
    // Frames go on in number order, each number once, as the desktop client's pane takes them.
    CFrameOrderer orderer;
    // At the end, frames waiting for a late one get its time; newer ones are not taken then.
    bool bDraining = false;
    bool bAny = false;
    WORD usNewest = 0;
};

// The cameras of one run; the sink is a plain function, so it reaches this through one pointer.
struct LiveRun {
    std::map<DWORD, std::unique_ptr<LiveStats>> mapCameras;
    // Empty: nothing saved.
    std::filesystem::path saveDir;
    // One line per frame of any camera; each line names its camera.
    std::ofstream frameLog;
};
LiveRun* g_pLive = nullptr;

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

// A serial as a file name: anything but letters, digits, '-' and '_' becomes '_'.
std::string FileNameOf(const LiveStats& s)
{
    std::string strName = s.strSerial.empty() ? std::to_string(s.dwCameraID) : s.strSerial;
    for (char& c : strName) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            c = '_';
    }
    return strName;
}

void SaveVideo(LiveStats& s, DWORD nCodec, const BYTE* pData, DWORD nLen)
{
    if (g_pLive->saveDir.empty() || s.bSaveFailed)
        return;
    if (!s.save.is_open()) {
        const std::filesystem::path path =
            g_pLive->saveDir / (FileNameOf(s) + (nCodec == MEDIA_CODEC_H264 ? ".h264" : ".m4v"));
        s.strSavePath = path.string();
        s.save.open(path, std::ios::binary | std::ios::trunc);
        if (!s.save) {
            s.bSaveFailed = true;
            return;
        }
    }
    s.save.write(reinterpret_cast<const char*>(pData), nLen);
}

void TakeFrame(LiveStats& s, const MediaFrame* pFrame)
{
    const BYTE* pData = pFrame->pData;
    DWORD nLen = pFrame->nLen;
    // The stamp header is ours, not the codec's: the saved stream starts after it.
    if (pFrame->bStamped && nLen > 0 && pData[0] <= nLen) {
        nLen -= pData[0];
        pData += pData[0];
    }
    if (g_pLive->frameLog.is_open()) {
        char szLine[200];
        std::snprintf(szLine, sizeof(szLine),
                      "frame id=%u seq=%u sub=%u codec=%u size=%u crc=%08lx es_size=%u es_crc=%08lx\n",
                      static_cast<unsigned>(pFrame->ulCameraID), pFrame->usSequence, pFrame->bySubSequence,
                      static_cast<unsigned>(pFrame->nCodec),
                      static_cast<unsigned>(pFrame->nLen + MEDIA_HEADER_LEN), WireCrc(*pFrame),
                      static_cast<unsigned>(nLen), crc32(0, pData, nLen));
        g_pLive->frameLog << szLine;
    }
    // Video and audio frames of one stream share the frame numbers: count the numbers never
    // seen within the span.
    const std::int64_t llSequence =
        s.qwNumbers == 0
            ? pFrame->usSequence
            : s.llLast + static_cast<std::int16_t>(pFrame->usSequence - static_cast<WORD>(s.llLast));
    if (s.qwNumbers == 0) {
        s.llLowest = s.llHighest = llSequence;
        s.qwNumbers = 1;
    } else if (llSequence != s.llLast) {
        s.llLowest = std::min(s.llLowest, llSequence);
        s.llHighest = std::max(s.llHighest, llSequence);
        ++s.qwNumbers;
    }
    s.llLast = llSequence;
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
    SaveVideo(s, pFrame->nCodec, pData, nLen);
}

// The engine hands every watched camera's frames here; each goes to its camera's orderer.
void LiveSink(MediaFrame* pFrame)
{
    const auto it = g_pLive->mapCameras.find(pFrame->ulCameraID);
    if (it == g_pLive->mapCameras.end())
        return;
    LiveStats& s = *it->second;
    const bool bNewer = static_cast<std::int16_t>(static_cast<WORD>(pFrame->usSequence - s.usNewest)) > 0;
    if (s.bDraining && bNewer)
        return;
    if (bNewer || !s.bAny)
        s.usNewest = pFrame->usSequence;
    s.bAny = true;
    const DWORD dwNow = GetTickCount();
    s.orderer.Push(*pFrame, dwNow);
    s.orderer.Release(dwNow, [&s](CFrameOrderer::Frame& frame) { TakeFrame(s, &frame.frame); });
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

// The cameras of the command line, found and opened with the password; an exit code.
int OpenCameras(CCliClient& client, const CliOptions& options, const LiveArgs& args, bool bPassword,
                bool bPasswordFile, std::vector<DeviceInfo*>& vecDevices)
{
    std::optional<std::string> password;
    const std::string strError = ResolvePassword(bPassword ? &args.strPassword : nullptr,
                                                 bPasswordFile ? &args.strPasswordFile : nullptr,
                                                 std::getenv("VISTREL_PASSWORD"), password);
    if (!strError.empty()) {
        PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    if (const int nExit = OpenStreamingCameras(client, options, args.vecCameras,
                                               password ? &*password : nullptr, vecDevices);
        nExit != CLI_EXIT_OK)
        return nExit;
    return CLI_EXIT_OK;
}

json CameraJson(const LiveStats& s, double dSeconds)
{
    return {
        {"id", s.dwCameraID},
        {"serial", s.strSerial},
        {"ok", s.qwVideoFrames > 0 && !s.bSaveFailed},
        {"seconds", dSeconds},
        {"codec", CodecText(s.nCodec)},
        {"width", s.nWidth},
        {"height", s.nHeight},
        {"frames", s.qwVideoFrames},
        {"audio_frames", s.qwAudioFrames},
        {"fps", dSeconds > 0 ? static_cast<double>(s.qwVideoFrames) / dSeconds : 0.0},
        {"kbps", dSeconds > 0 ? static_cast<double>(s.qwVideoBytes) * 8 / 1000 / dSeconds : 0.0},
        {"missing_frames", s.Missing()},
        {"repeated_frames", s.orderer.GetCounters().qwRepeated},
        {"late_frames", s.orderer.GetCounters().qwLate},
        {"video_status", s.dwVideoStatus},
    };
}

int CmdLive(const CliOptions& options, const LiveArgs& args, bool bPassword, bool bPasswordFile)
{
    LiveRun run;
    if (!args.strSave.empty()) {
        std::error_code ec;
        run.saveDir = args.strSave;
        std::filesystem::create_directories(run.saveDir, ec);
        if (!std::filesystem::is_directory(run.saveDir, ec) || access(args.strSave.c_str(), W_OK) != 0) {
            PrintError(options, "cannot write into " + args.strSave, CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
    }
    if (!args.strFrameLog.empty())
        run.frameLog.open(args.strFrameLog, std::ios::trunc);

    CCliClient client;
    std::vector<DeviceInfo*> vecDevices;
    if (const int nExit = OpenCameras(client, options, args, bPassword, bPasswordFile, vecDevices);
        nExit != CLI_EXIT_OK)
        return nExit;
    std::vector<LiveStats*> vecStats;
    for (DeviceInfo* pDevice : vecDevices) {
        auto& pStats = run.mapCameras[pDevice->GetID()];
        pStats = std::make_unique<LiveStats>();
        pStats->dwCameraID = pDevice->GetID();
        pStats->strSerial =
            std::string(pDevice->GetSerial(), strnlen(pDevice->GetSerial(), VIEWER_SERIAL_LEN));
        vecStats.push_back(pStats.get());
    }

    g_pLive = &run;
    CEngMedia* pEngine = CEngMedia::GetInstance();
    try {
        if (!pEngine->Init(nullptr, &LiveSink))
            pEngine->SetMediaSink(nullptr, &LiveSink);
    } catch (const CExceptionBase&) {
        PrintError(options, "the media ports are taken", CLI_EXIT_FAILURE);
        g_pLive = nullptr;
        return CLI_EXIT_FAILURE;
    }
    // A camera that refuses its video says so for itself; the others go on.
    client.SetNotifyHandler([&run](DWORD dwNotifyID, DeviceInfo* pDevice) {
        if (dwNotifyID != DWORD_NOTIFYID_CAMERA_VIDEO_STATUS_ERROR || pDevice == nullptr)
            return;
        const auto it = run.mapCameras.find(pDevice->GetID());
        if (it != run.mapCameras.end())
            it->second->dwVideoStatus = pDevice->dwCameraVideoStatus;
    });
    CDeviceManager* pManager = client.Manager();
    const auto start = std::chrono::steady_clock::now();
    for (const DeviceInfo* pDevice : vecDevices)
        pManager->WatchDevice(pDevice->GetID(), pDevice->enCameraType, PLAY_TYPE_REALTIME);
    client.RunFor(args.nSeconds * 1000);
    // Frames still waiting for a late one get their wait (the longest of the cameras'); newer
    // frames are not taken meanwhile.
    DWORD dwWait = 0;
    bool bHeld = false;
    for (LiveStats* pStats : vecStats) {
        const DWORD dwOne = pStats->orderer.TimeToNextRelease(GetTickCount());
        if (dwOne != CFrameOrderer::kNothingHeld) {
            bHeld = true;
            dwWait = std::max(dwWait, dwOne);
        }
        pStats->bDraining = true;
    }
    if (bHeld)
        client.RunFor(static_cast<int>(dwWait) + 20);
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const DeviceInfo* pDevice : vecDevices)
        pManager->UnwatchDevice(pDevice->GetID(), true);
    pEngine->SetMediaSink(nullptr, nullptr);
    for (LiveStats* pStats : vecStats) {
        pStats->orderer.ReleaseAll(
            [pStats](CFrameOrderer::Frame& frame) { TakeFrame(*pStats, &frame.frame); });
        pStats->save.close();
    }
    g_pLive = nullptr;

    std::uint64_t qwDroppedSegments = 0;
    std::uint64_t qwDroppedFrames = 0;
    CountSocketDrops(qwDroppedSegments, qwDroppedFrames);
    bool bAllStreamed = true;
    json cameras = json::array();
    for (const LiveStats* pStats : vecStats) {
        cameras.push_back(CameraJson(*pStats, dSeconds));
        bAllStreamed = bAllStreamed && cameras.back()["ok"].get<bool>();
    }
    if (options.bJson) {
        // The sockets' drops are not told apart by camera.
        const json result = {
            {"ok", bAllStreamed},
            {"seconds", dSeconds},
            {"dropped_frames", qwDroppedFrames},
            {"dropped_segments", qwDroppedSegments},
            {"cameras", cameras},
        };
        std::cout << result.dump(2) << std::endl;
    } else {
        for (const LiveStats* pStats : vecStats) {
            std::printf("camera %u (%s): %s %ux%u, %.1f frames/s, %.0f kbit/s\n",
                        static_cast<unsigned>(pStats->dwCameraID), pStats->strSerial.c_str(),
                        CodecText(pStats->nCodec), static_cast<unsigned>(pStats->nWidth),
                        static_cast<unsigned>(pStats->nHeight),
                        dSeconds > 0 ? static_cast<double>(pStats->qwVideoFrames) / dSeconds : 0.0,
                        dSeconds > 0 ? static_cast<double>(pStats->qwVideoBytes) * 8 / 1000 / dSeconds : 0.0);
            std::printf("  complete frames: %llu video, %llu audio; %llu missing\n",
                        static_cast<unsigned long long>(pStats->qwVideoFrames),
                        static_cast<unsigned long long>(pStats->qwAudioFrames),
                        static_cast<unsigned long long>(pStats->Missing()));
            if (pStats->qwVideoFrames == 0)
                std::fprintf(stderr, "camera %u (%s): no video arrived (start video status %u)\n",
                             static_cast<unsigned>(pStats->dwCameraID), pStats->strSerial.c_str(),
                             static_cast<unsigned>(pStats->dwVideoStatus));
            if (pStats->bSaveFailed)
                std::fprintf(stderr, "vistrel-cli: cannot write %s\n", pStats->strSavePath.c_str());
        }
        std::printf("dropped by the sockets: %llu refused frames, %llu bad segments\n",
                    static_cast<unsigned long long>(qwDroppedFrames),
                    static_cast<unsigned long long>(qwDroppedSegments));
    }
    for (const LiveStats* pStats : vecStats) {
        if (pStats->bSaveFailed)
            return CLI_EXIT_FAILURE;
    }
    return bAllStreamed ? CLI_EXIT_OK : CLI_EXIT_TIMEOUT;
}

} // namespace

void AddLiveCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pArgs = std::make_shared<LiveArgs>();
    CLI::App* pLive =
        cli.add_subcommand("live", "live view of one or more cameras at once for a while: frames, rate, "
                                   "picture size, drops per camera");
    pLive->add_option("camera", pArgs->vecCameras, "serial or id of each camera")->required();
    pLive->add_option("--seconds", pArgs->nSeconds, "how long to receive (default 10)")
        ->check(CLI::Range(1, 86400));
    CLI::Option* pPassword = pLive->add_option("--password", pArgs->strPassword, "the camera's password");
    CLI::Option* pPasswordFile = pLive->add_option("--password-file", pArgs->strPasswordFile,
                                                   "a file whose first line is the password");
    pLive->add_option("--save", pArgs->strSave,
                      "write each camera's video into this folder as an elementary stream, "
                      "<serial>.h264 or <serial>.m4v");
    // Hidden, for the end-to-end tests: one line per video frame with its CRC-32.
    pLive->add_option("--frame-log", pArgs->strFrameLog)->group("");
    vec.push_back({pLive, [pArgs, pPassword, pPasswordFile, &options] {
                       return CmdLive(options, *pArgs, pPassword->count() > 0, pPasswordFile->count() > 0);
                   }});
}
