// Recording on this computer: vistrel-cli record keeps the live streams of cameras in a
// recording folder until stopped; recordings --pc and export --pc read that folder.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clisubcommands.h"
#include "app/healthreport.h"
#include "pcrec/pcexport.h"
#include "pcrec/pcrecorder.h"
#include "pcrec/pcrecsource.h"
#include "platform/codepage.h"
#include "protocol/engmedia.h"
#include "protocol/password.h"

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>

using nlohmann::json;

namespace {

volatile std::sig_atomic_t g_bStop = 0;
void OnStopSignal(int)
{
    g_bStop = 1;
}

struct RecordArgs {
    std::vector<std::string> vecCameras;
    std::string strDir;
    int nSegmentMinutes = 10;
    int nSegmentSeconds = 0; // tests: shorter segments
    int nKeepDays = 0;
    double dMaxGiB = 0;
    int nSeconds = 0;
    int nReserveMiB = 256;
    std::string strPassword;
    std::string strPasswordFile;
};

std::string UtcText(std::int64_t llMs)
{
    const std::time_t t = static_cast<std::time_t>(llMs / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char sz[40];
    std::strftime(sz, sizeof sz, "%Y-%m-%dT%H:%M:%S", &tm);
    char szMs[8];
    std::snprintf(szMs, sizeof szMs, ".%03dZ", static_cast<int>(llMs % 1000));
    return std::string(sz) + szMs;
}

// 2024-05-02T08:15:00Z, with optional milliseconds; or a day, 2024-05-02 (its start).
bool ParseUtc(const std::string& str, std::int64_t& llMs)
{
    std::tm tm{};
    int nMs = 0;
    int nUsed = 0;
    if (std::sscanf(str.c_str(), "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &nUsed) != 3)
        return false;
    std::string strRest = str.substr(static_cast<std::size_t>(nUsed));
    if (!strRest.empty()) {
        char chZ = 0;
        if (std::sscanf(strRest.c_str(), "T%2d:%2d:%2d%n", &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &nUsed) != 3)
            return false;
        strRest = strRest.substr(static_cast<std::size_t>(nUsed));
        if (strRest.size() == 5 && std::sscanf(strRest.c_str(), ".%3d%c", &nMs, &chZ) == 2 && chZ == 'Z')
            strRest = "Z";
        if (strRest != "Z")
            return false;
    }
    if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 60)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    llMs = static_cast<std::int64_t>(timegm(&tm)) * 1000 + nMs;
    return true;
}

json CameraJson(const PcRecCamera& cam)
{
    return {{"id", cam.dwID},
            {"serial", cam.strSerial},
            {"ok", cam.llFrames > 0 && !cam.bStoppedFull},
            {"segments", cam.llSegments},
            {"frames", cam.llFrames},
            {"audio_frames", cam.llAudioFrames},
            {"stream_bytes", cam.llStreamBytes},
            {"gaps", cam.llGaps},
            {"dropped_frames", cam.llDroppedFrames},
            {"stopped_full", cam.bStoppedFull},
            {"state", cam.enState == PcRecState::RECORDING ? "recording"
                      : cam.enState == PcRecState::STOPPED ? "stopped"
                                                           : "waiting"},
            {"message", cam.strMessage}};
}

int CmdRecord(const CliOptions& options, const RecordArgs& args, bool bPassword, bool bPasswordFile)
{
    KeepLargeBlocksMapped(SERVICE_MMAP_THRESHOLD);
    std::error_code ec;
    std::filesystem::create_directories(args.strDir, ec);
    if (!std::filesystem::is_directory(args.strDir, ec) || access(args.strDir.c_str(), W_OK) != 0) {
        PrintError(options, "cannot write into " + args.strDir, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    std::optional<std::string> password;
    const std::string strError = ResolvePassword(bPassword ? &args.strPassword : nullptr,
                                                 bPasswordFile ? &args.strPasswordFile : nullptr,
                                                 std::getenv("VISTREL_PASSWORD"), password);
    if (!strError.empty()) {
        PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    PcRecSettings settings;
    settings.strFolder = args.strDir;
    settings.nSegmentSeconds = args.nSegmentSeconds > 0 ? args.nSegmentSeconds : args.nSegmentMinutes * 60;
    settings.rule.nKeepDays = args.nKeepDays;
    settings.rule.llMaxBytes = static_cast<std::int64_t>(args.dMaxGiB * 1073741824.0);
    settings.llReserveBytes = std::int64_t{args.nReserveMiB} << 20;
    CPcRecorder recorder(settings);
    std::string strStartError;
    if (!recorder.Start(strStartError)) {
        PrintError(options, strStartError, CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    // Stops and resumes are told as they happen, whatever the output form.
    recorder.SetEventHandler([](const PcRecCamera&, const std::string& strText) {
        std::fprintf(stderr, "vistrel-cli: %s\n", strText.c_str());
        std::fflush(stderr);
    });

    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    std::vector<DeviceInfo*> vecDevices;
    if (const int nExit = OpenStreamingCameras(client, options, args.vecCameras,
                                               password ? &*password : nullptr, vecDevices);
        nExit != CLI_EXIT_OK)
        return nExit;

    CEngMedia* pEngine = CEngMedia::GetInstance();
    try {
        pEngine->Init(nullptr, nullptr);
    } catch (const CExceptionBase&) {
        PrintError(options, "the media ports are taken", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::vector<PcRecCamera> vecCameras;
    {
        CPcRecordingSource source(recorder, *pEngine, *client.Manager());
        for (const DeviceInfo* pDevice : vecDevices)
            source.Record(pDevice->GetID(), pDevice->enCameraType,
                          std::string(pDevice->GetSerial(), strnlen(pDevice->GetSerial(), VIEWER_SERIAL_LEN)),
                          WideToUtf8(pDevice->GetName()));
        auto lastTick = std::chrono::steady_clock::now();
        client.RunUntil(
            [&] {
                if (std::chrono::steady_clock::now() - lastTick >= std::chrono::seconds(1)) {
                    lastTick = std::chrono::steady_clock::now();
                    recorder.Tick();
                }
                return g_bStop != 0 || (args.nSeconds > 0 && elapsed() >= args.nSeconds);
            },
            args.nSeconds > 0 ? args.nSeconds * 1000 + 5000 : INT32_MAX, 50);
        recorder.Stop();
        vecCameras = recorder.Cameras();
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    bool bFull = false;
    bool bAll = true;
    json cameras = json::array();
    for (const PcRecCamera& cam : vecCameras) {
        bFull = bFull || cam.bStoppedFull;
        bAll = bAll && cam.llFrames > 0;
        cameras.push_back(CameraJson(cam));
    }
    if (options.bJson) {
        std::cout << json{{"ok", bAll && !bFull},
                          {"folder", args.strDir},
                          {"seconds", elapsed()},
                          {"cameras", cameras}}
                         .dump(2)
                  << std::endl;
    } else {
        for (const PcRecCamera& cam : vecCameras)
            std::printf("%s: %lld segments, %lld frames, %lld gaps%s%s\n", cam.strSerial.c_str(),
                        static_cast<long long>(cam.llSegments), static_cast<long long>(cam.llFrames),
                        static_cast<long long>(cam.llGaps), cam.strMessage.empty() ? "" : "; ",
                        cam.strMessage.c_str());
    }
    if (bFull)
        return CLI_EXIT_FAILURE;
    return bAll ? CLI_EXIT_OK : CLI_EXIT_TIMEOUT;
}

bool OpenIndex(const CliOptions& options, const std::string& strDir, bool bRebuild, CPcRecIndex& index)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(strDir, ec)) {
        PrintError(options, strDir + " is not a folder", CLI_EXIT_BAD_ARGUMENTS);
        return false;
    }
    std::string strError;
    if (!index.Open(strDir, bRebuild, strError, bRebuild)) {
        PrintError(options, strError, CLI_EXIT_FAILURE);
        return false;
    }
    return true;
}

} // namespace

int CmdPcRecordings(const CliOptions& options, const std::string& strDir, const std::string& strCamera,
                    const std::string& strDay, bool bReindex)
{
    std::int64_t llFrom = INT64_MIN;
    std::int64_t llTo = INT64_MAX;
    if (!strDay.empty()) {
        if (strDay.size() != 10 || !ParseUtc(strDay, llFrom)) {
            PrintError(options, "a day is written 2024-05-02: " + strDay, CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        llTo = llFrom + 86400000;
    }
    CPcRecIndex index;
    if (!OpenIndex(options, strDir, bReindex, index))
        return CLI_EXIT_FAILURE;
    const std::string strSerial = strCamera.empty() ? "" : SafeSerial(strCamera);
    const std::vector<PcSegment> vecSegments = index.Segments(strSerial, llFrom, llTo);
    const std::vector<PcGap> vecGaps = index.Gaps(strSerial, llFrom, llTo);
    if (options.bJson) {
        json cameras = json::object();
        for (const PcSegment& s : vecSegments) {
            json& cam = cameras[s.strSerial];
            cam["segments"].push_back({{"path", s.strPath},
                                       {"start", UtcText(s.llStartMs)},
                                       {"end", UtcText(s.llEndMs)},
                                       {"start_ms", s.llStartMs},
                                       {"end_ms", s.llEndMs},
                                       {"frames", s.llFrames},
                                       {"bytes", s.llBytes},
                                       {"codec", s.strCodec},
                                       {"width", s.nWidth},
                                       {"height", s.nHeight},
                                       {"audio", s.bAudio},
                                       {"writing", s.bWriting},
                                       {"interrupted", s.bInterrupted}});
        }
        for (const PcGap& g : vecGaps) {
            json& cam = cameras[g.strSerial];
            cam["gaps"].push_back({{"start", UtcText(g.llStartMs)},
                                   {"end", UtcText(g.llEndMs)},
                                   {"start_ms", g.llStartMs},
                                   {"end_ms", g.llEndMs}});
        }
        for (auto& [strName, cam] : cameras.items()) {
            if (!cam.contains("segments"))
                cam["segments"] = json::array();
            if (!cam.contains("gaps"))
                cam["gaps"] = json::array();
        }
        std::cout << json{{"ok", true},
                          {"folder", strDir},
                          {"rebuilt", index.WasRebuilt()},
                          {"cameras", cameras}}
                         .dump()
                  << std::endl;
        return CLI_EXIT_OK;
    }
    for (const PcSegment& s : vecSegments)
        std::printf("%s %s .. %s %s %dx%d %lld frames%s  %s\n", s.strSerial.c_str(),
                    UtcText(s.llStartMs).c_str(), UtcText(s.llEndMs).c_str(), s.strCodec.c_str(), s.nWidth,
                    s.nHeight, static_cast<long long>(s.llFrames), s.bWriting ? " (being written)" : "",
                    s.strPath.c_str());
    for (const PcGap& g : vecGaps)
        std::printf("%s gap %s .. %s\n", g.strSerial.c_str(), UtcText(g.llStartMs).c_str(),
                    UtcText(g.llEndMs).c_str());
    return CLI_EXIT_OK;
}

int CmdPcExport(const CliOptions& options, const std::string& strDir, const std::string& strCamera,
                const std::string& strFrom, const std::string& strTo, const std::string& strOutput)
{
    std::int64_t llFrom = 0;
    std::int64_t llTo = 0;
    if (!ParseUtc(strFrom, llFrom) || !ParseUtc(strTo, llTo)) {
        PrintError(options, "--from and --to are UTC times: 2024-05-02T08:15:00Z", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    CPcRecIndex index;
    if (!OpenIndex(options, strDir, false, index))
        return CLI_EXIT_FAILURE;
    const PcExportResult result = ExportPcRange(index, SafeSerial(strCamera), llFrom, llTo, strOutput);
    if (!result.bOk) {
        PrintError(options, result.strError, CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    const json j = {{"ok", true},
                    {"output", strOutput},
                    {"video_frames", result.llVideoFrames},
                    {"audio_packets", result.llAudioPackets},
                    {"start", UtcText(result.llStartMs)},
                    {"end", UtcText(result.llEndMs)}};
    if (options.bJson)
        std::cout << j.dump() << std::endl;
    else
        std::cout << strOutput << ": " << result.llVideoFrames << " frames from "
                  << j["start"].get<std::string>() << " to " << j["end"].get<std::string>() << std::endl;
    return CLI_EXIT_OK;
}

void AddPcRecordCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pArgs = std::make_shared<RecordArgs>();
    CLI::App* pRecord = cli.add_subcommand(
        "record", "record the live streams of cameras on this computer until stopped (SIGINT, SIGTERM)");
    pRecord->add_option("camera", pArgs->vecCameras, "serial or id of each camera")->required();
    pRecord->add_option("--dir", pArgs->strDir, "the recording folder")->required();
    pRecord->add_option("--segment", pArgs->nSegmentMinutes, "minutes per file (default 10)")
        ->check(CLI::Range(1, 1440));
    pRecord->add_option("--segment-seconds", pArgs->nSegmentSeconds)->group("")->check(CLI::Range(1, 86400));
    pRecord->add_option("--keep-days", pArgs->nKeepDays, "delete what is older than this many days")
        ->check(CLI::Range(1, 36500));
    pRecord->add_option("--max-gib", pArgs->dMaxGiB, "keep the folder within this many GiB, oldest out first")
        ->check(CLI::PositiveNumber);
    pRecord->add_option("--seconds", pArgs->nSeconds, "stop after this long (default: when stopped)")
        ->check(CLI::Range(1, 100000000));
    // Free space left on the disk (MiB); tests on a small file system lower it.
    pRecord->add_option("--reserve-mib", pArgs->nReserveMiB)->group("")->check(CLI::Range(0, 1 << 20));
    CLI::Option* pPassword = pRecord->add_option("--password", pArgs->strPassword, "the cameras' password");
    CLI::Option* pPasswordFile = pRecord->add_option("--password-file", pArgs->strPasswordFile,
                                                     "a file whose first line is the password");
    vec.push_back({pRecord, [pArgs, pPassword, pPasswordFile, &options] {
                       return CmdRecord(options, *pArgs, pPassword->count() > 0, pPasswordFile->count() > 0);
                   }});
}
