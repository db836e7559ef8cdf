// vistrel-cli serve: every present camera (and every recorder channel) as an RTSP stream at
// rtsp://HOST:PORT/<serial>, for players, ffmpeg and video recorders. A camera streams while
// some RTSP client plays it.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clisubcommands.h"
#include "app/healthreport.h"
#include "core/log.h"
#include "platform/ticks.h"
#include "protocol/engmedia.h"
#include "stream/rtspshare.h"

#include <QSocketNotifier>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

using nlohmann::json;

namespace {

struct ServeArgs {
    int nPort = 8554;
    std::string strBind = "127.0.0.1";
    std::string strUser;
    std::string strPasswordFile;
    std::string strCameraPasswordFile;
    std::vector<std::string> vecCameras;
    unsigned int uSessionTimeoutS = 60;
    int nSeconds = 0;
};

int g_aServeSignalPipe[2] = {-1, -1};

void OnServeSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_aServeSignalPipe[1], &c, 1);
}

void PrintEvent(const CliOptions& options, const char* pszEvent, const std::string& strPath,
                const std::string& strPeer, const char* pszDetailKey, const std::string& strDetail)
{
    if (options.bJson) {
        json line = {{"event", pszEvent}, {"tick", GetTickCount()}};
        if (!strPath.empty()) {
            line["path"] = strPath;
            line["serial"] = strPath.substr(1);
        }
        if (!strPeer.empty())
            line["peer"] = strPeer;
        if (!strDetail.empty())
            line[pszDetailKey] = strDetail;
        std::cout << line.dump() << std::endl;
    } else {
        std::cout << pszEvent;
        for (const std::string* pPart : {&strPath, &strPeer, &strDetail})
            if (!pPart->empty())
                std::cout << " " << *pPart;
        std::cout << std::endl;
    }
}

std::string ReadFirstLine(const std::string& strFile, std::string& strLine)
{
    std::ifstream file(strFile);
    if (!file)
        return "cannot read " + strFile;
    std::getline(file, strLine);
    if (!strLine.empty() && strLine.back() == '\r')
        strLine.pop_back();
    return strLine.empty() ? strFile + " holds no password on its first line" : std::string();
}

int CmdServe(const CliOptions& options, const ServeArgs& args)
{
    KeepLargeBlocksMapped(SERVICE_MMAP_THRESHOLD);
    RtspBridgeConfig config;
    config.strAddress = args.strBind;
    config.nPort = args.nPort;
    config.uSessionTimeoutS = args.uSessionTimeoutS;
    if (args.strUser.empty() != args.strPasswordFile.empty()) {
        PrintError(options, "--user and --password-file go together", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    if (!args.strUser.empty()) {
        config.strUser = args.strUser;
        if (const std::string strError = ReadFirstLine(args.strPasswordFile, config.strPassword);
            !strError.empty()) {
            PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
    }
    if (const std::string strError = CheckRtspAccess(config); !strError.empty()) {
        PrintError(options, strError + (args.strUser.empty() ? " (--user and --password-file)" : ""),
                   CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    std::optional<std::string> cameraPassword;
    const bool bCameraFile = !args.strCameraPasswordFile.empty();
    if (const std::string strError =
            ResolvePassword(nullptr, bCameraFile ? &args.strCameraPasswordFile : nullptr,
                            std::getenv("VISTREL_PASSWORD"), cameraPassword);
        !strError.empty()) {
        PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }

    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    CEngMedia* pEngine = CEngMedia::GetInstance();
    try {
        pEngine->Init(nullptr, nullptr);
    } catch (const CExceptionBase&) {
        PrintError(options, "the media ports are taken", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    CRtspShare share(*client.Manager(), *pEngine);
    share.SetCameras(args.vecCameras);
    // A camera with a password streams with the given one, else with the stored one; a channel
    // with its recorder's.
    share.SetBeforeHold([&](DeviceInfo& device) {
        ApplyPassword(client, options, &device, cameraPassword ? &*cameraPassword : nullptr, false);
    });
    share.SetEventHandler([&](RtspEvent enEvent, const std::string& strPath, const std::string& strPeer,
                              const std::string& strDetail) {
        PrintEvent(options, RtspEventName(enEvent), strPath, strPeer,
                   enEvent == RtspEvent::AuthFailed ? "user" : "url", strDetail);
    });
    if (const std::string strError = share.Start(config); !strError.empty()) {
        PrintError(options, strError, CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    PrintEvent(options, "listening", {}, {}, "url",
               "rtsp://" + args.strBind + ":" + std::to_string(share.GetPort()));

    // SIGINT/SIGTERM end the run through the loop, so that every session ends in order.
    bool bStop = false;
    std::unique_ptr<QSocketNotifier> pNotifier;
    if (::pipe(g_aServeSignalPipe) == 0) {
        pNotifier = std::make_unique<QSocketNotifier>(g_aServeSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(pNotifier.get(), &QSocketNotifier::activated, [&] { bStop = true; });
        std::signal(SIGINT, OnServeSignal);
        std::signal(SIGTERM, OnServeSignal);
    }
    const DWORD dwStart = GetTickCount();
    // Looked at four times a second: a stop needs no quicker answer, and every wake-up costs.
    client.RunUntil(
        [&] {
            return bStop || (args.nSeconds > 0 &&
                             GetTickCount() - dwStart >= static_cast<DWORD>(args.nSeconds) * 1000);
        },
        INT32_MAX, 250);
    share.Stop(true);
    // Stop video goes out for what was still held.
    client.RunFor(100);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (options.bJson)
        std::cout << json{{"event", "stopped"},
                          {"tick", GetTickCount()},
                          {"dropped_frames", share.GetDroppedFrames()}}
                  << std::endl;
    else
        std::cout << "stopped, " << share.GetDroppedFrames() << " frames dropped by full stream queues"
                  << std::endl;
    return CLI_EXIT_OK;
}

} // namespace

void AddServeCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pArgs = std::make_shared<ServeArgs>();
    CLI::App* pServe = cli.add_subcommand(
        "serve",
        "offer every present camera as an RTSP stream, rtsp://HOST:PORT/<serial>, until interrupted");
    pServe->add_option("--rtsp-port", pArgs->nPort, "RTSP port (default 8554)")->check(CLI::Range(0, 65535));
    pServe->add_option(
        "--bind", pArgs->strBind,
        "address to listen on (default 127.0.0.1; any other needs --user and --password-file)");
    pServe->add_option("--user", pArgs->strUser, "user name RTSP clients must give (digest authentication)");
    pServe->add_option("--password-file", pArgs->strPasswordFile,
                       "a file whose first line is the RTSP clients' password");
    pServe->add_option("--camera-password-file", pArgs->strCameraPasswordFile,
                       "a file whose first line is the cameras' password (also VISTREL_PASSWORD)");
    pServe->add_option("--camera", pArgs->vecCameras, "offer only these cameras (serial or id; repeatable)");
    pServe
        ->add_option("--session-timeout", pArgs->uSessionTimeoutS,
                     "seconds after which a silent client is dropped (default 60)")
        ->check(CLI::Range(5u, 3600u));
    // Hidden, for tests and benchmarks: stop after this long as on SIGTERM.
    pServe->add_option("--seconds", pArgs->nSeconds)->group("")->check(CLI::Range(1, 86400));
    vec.push_back({pServe, [pArgs, &options] { return CmdServe(options, *pArgs); }});
}
