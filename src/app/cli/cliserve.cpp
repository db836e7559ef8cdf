// vistrel-cli serve: every present camera (and every recorder channel) as an RTSP stream at
// rtsp://HOST:PORT/<serial>, for players, ffmpeg and video recorders. A camera streams while
// some RTSP client plays it.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clisubcommands.h"
#include "core/log.h"
#include "platform/ticks.h"
#include "protocol/engmedia.h"
#include "stream/rtspbridge.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>

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

// A serial as a path segment: anything but letters, digits, '-', '_' and '.' becomes '_'.
std::string PathName(const DeviceInfo& device)
{
    std::string strName(device.GetSerial(), strnlen(device.GetSerial(), VIEWER_SERIAL_LEN));
    for (char& c : strName)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    return strName.empty() ? std::to_string(device.GetID()) : strName;
}

bool IsLoopback(const std::string& strAddress)
{
    in_addr addr{};
    return inet_pton(AF_INET, strAddress.c_str(), &addr) == 1 && (ntohl(addr.s_addr) >> 24) == 127;
}

// Ties the bridge to the device manager and prints its events.
class CServeHost : public IRtspBridgeHost {
public:
    CServeHost(CCliClient& client, const CliOptions& options,
               const std::optional<std::string>& cameraPassword)
        : m_client(client), m_options(options), m_cameraPassword(cameraPassword)
    {
    }

    void HoldCamera(DWORD dwID) override
    {
        DeviceInfo* pDevice = m_client.Manager()->GetDevice(dwID, CAMERA_MASK_ALL);
        if (pDevice == nullptr)
            return;
        // A camera with a password streams with the given one, else with the stored one; a
        // channel with its recorder's.
        ApplyPassword(m_client, m_options, pDevice, m_cameraPassword ? &*m_cameraPassword : nullptr, false);
        m_client.Manager()->HoldLive(dwID, pDevice->enCameraType);
        m_setHeld.insert(dwID);
    }
    void ReleaseCamera(DWORD dwID) override
    {
        if (m_setHeld.erase(dwID) > 0)
            m_client.Manager()->ReleaseLive(dwID, m_bStopping);
    }
    void OnRtspEvent(RtspEvent enEvent, const std::string& strPath, const std::string& strPeer,
                     const std::string& strDetail) override
    {
        Print(RtspEventName(enEvent), strPath, strPeer, enEvent == RtspEvent::AuthFailed ? "user" : "url",
              strDetail);
    }
    void Print(const char* pszEvent, const std::string& strPath, const std::string& strPeer = {},
               const char* pszDetailKey = "url", const std::string& strDetail = {}) const
    {
        if (m_options.bJson) {
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
    void SetStopping() { m_bStopping = true; }

private:
    CCliClient& m_client;
    const CliOptions& m_options;
    std::optional<std::string> m_cameraPassword;
    std::set<DWORD> m_setHeld;
    bool m_bStopping = false;
};

// The devices that can be offered now: cameras and channels whose recorder is present.
std::map<DWORD, std::string> PresentCameras(CCliClient& client, const std::vector<std::string>& vecWanted)
{
    std::map<DWORD, std::string> mapPresent;
    auto add = [&](const DeviceInfo& device) {
        const std::string strName = PathName(device);
        const std::string strSerial(device.GetSerial(), strnlen(device.GetSerial(), VIEWER_SERIAL_LEN));
        if (!vecWanted.empty() &&
            std::none_of(vecWanted.begin(), vecWanted.end(), [&](const std::string& strKey) {
                return strKey == strSerial || strKey == std::to_string(device.GetID());
            }))
            return;
        mapPresent[device.GetID()] = strName;
    };
    for (const auto& [dwID, pDevice] : client.Manager()->GetDevices()) {
        if (!pDevice->bIsExist)
            continue;
        if (pDevice->enCameraType == CAMERA_TYPE_PARENT) {
            for (const auto& pChild : pDevice->vecChildren)
                add(*pChild);
        } else {
            add(*pDevice);
        }
    }
    return mapPresent;
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

void TapFrame(void* pContext, const MediaFrame& frame)
{
    static_cast<CRtspBridge*>(pContext)->PushFrame(frame);
}

int CmdServe(const CliOptions& options, const ServeArgs& args)
{
    RtspBridgeConfig config;
    config.strAddress = args.strBind;
    config.nPort = args.nPort;
    config.uSessionTimeoutS = args.uSessionTimeoutS;
    in_addr addr{};
    if (inet_pton(AF_INET, args.strBind.c_str(), &addr) != 1) {
        PrintError(options, "--bind takes an IPv4 address: " + args.strBind, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    if (args.strUser.empty() != args.strPasswordFile.empty()) {
        PrintError(options, "--user and --password-file go together", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    // Off this machine the cameras would be anyone's to watch.
    if (!IsLoopback(args.strBind) && args.strUser.empty()) {
        PrintError(options,
                   "serving on " + args.strBind +
                       " opens the cameras to the network: give --user and --password-file "
                       "(RTSP digest authentication), or bind 127.0.0.1",
                   CLI_EXIT_BAD_ARGUMENTS);
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
    CServeHost host(client, options, cameraPassword);
    CRtspBridge bridge(host);
    if (const std::string strError = bridge.Start(config); !strError.empty()) {
        PrintError(options, strError, CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    host.Print("listening", {}, {}, "url", "rtsp://" + args.strBind + ":" + std::to_string(bridge.GetPort()));
    pEngine->AddMediaTap(&bridge, &TapFrame);

    // SIGINT/SIGTERM end the run through the loop, so that every session ends in order.
    bool bStop = false;
    std::unique_ptr<QSocketNotifier> pNotifier;
    if (::pipe(g_aServeSignalPipe) == 0) {
        pNotifier = std::make_unique<QSocketNotifier>(g_aServeSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(pNotifier.get(), &QSocketNotifier::activated, [&] { bStop = true; });
        std::signal(SIGINT, OnServeSignal);
        std::signal(SIGTERM, OnServeSignal);
    }
    std::set<DWORD> setOffered;
    DWORD dwLastScan = GetTickCount() - 1000;
    const DWORD dwStart = GetTickCount();
    client.RunUntil(
        [&] {
            if (bStop ||
                (args.nSeconds > 0 && GetTickCount() - dwStart >= static_cast<DWORD>(args.nSeconds) * 1000))
                return true;
            if (GetTickCount() - dwLastScan < 250)
                return false;
            dwLastScan = GetTickCount();
            const std::map<DWORD, std::string> mapPresent = PresentCameras(client, args.vecCameras);
            for (auto it = setOffered.begin(); it != setOffered.end();) {
                if (mapPresent.count(*it) == 0) {
                    bridge.Withdraw(*it);
                    it = setOffered.erase(it);
                } else {
                    ++it;
                }
            }
            for (const auto& [dwID, strName] : mapPresent)
                if (setOffered.insert(dwID).second)
                    bridge.Offer(dwID, strName);
            return false;
        },
        INT32_MAX);
    host.SetStopping();
    pEngine->RemoveMediaTap(&bridge);
    bridge.Stop();
    // Stop video goes out for what was still held.
    client.RunFor(100);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (options.bJson)
        std::cout << json{{"event", "stopped"},
                          {"tick", GetTickCount()},
                          {"dropped_frames", bridge.GetDroppedFrames()}}
                  << std::endl;
    else
        std::cout << "stopped, " << bridge.GetDroppedFrames() << " frames dropped by full stream queues"
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
