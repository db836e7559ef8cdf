// vistrel-cli reboot and time sync: restart a camera, and set its clock from this computer's
// as the time page's "Update camera time" does.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clidevice.h"
#include "app/cli/clisubcommands.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "protocol/engcmd.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

using nlohmann::json;

namespace {

constexpr int kProbeMs = 500;
// A camera that has not answered for this long has gone down.
constexpr int kSilentMs = 1500;

struct SystemArgs {
    std::string strCamera;
    std::string strAction; // time: sync
    std::string strPassword;
    std::string strPasswordFile;
};

void PrintOkDocument(const CliOptions& options, json j)
{
    if (options.bJson) {
        j["ok"] = true;
        std::cout << j.dump(2) << std::endl;
    } else {
        std::cout << FlattenJson(j);
    }
}

// Start-up, the camera and its password; returns the exit code, OK with pDevice set.
int Prepare(CCliClient& client, const CliOptions& options, const SystemArgs& args, bool bPassword,
            bool bPasswordFile, DeviceInfo*& pDevice)
{
    return OpenCamera(client, options, args.strCamera, bPassword ? &args.strPassword : nullptr,
                      bPasswordFile ? &args.strPasswordFile : nullptr,
                      args.strCamera + " is a recorder: address one of its channels", pDevice);
}

// Sends the restart, then asks for the version until the camera stops answering: a camera
// that goes on answering did not restart.
int CmdReboot(const CliOptions& options, const SystemArgs& args, bool bPassword, bool bPasswordFile)
{
    CCliClient client;
    DeviceInfo* pDevice = nullptr;
    if (const int nExit = Prepare(client, options, args, bPassword, bPasswordFile, pDevice);
        nExit != CLI_EXIT_OK)
        return nExit;
    CEngCmd* pCmd = GetEngCmd();
    const DWORD dwID = pDevice->GetID();
    int nSinceAnswer = 0;
    client.Subscribe(pCmd, VIEWER_EVT_VERSION, [&](WPARAM wParam, LPARAM) {
        if (static_cast<DWORD>(wParam) == dwID)
            nSinceAnswer = 0;
    });
    pCmd->Cmd_SystemSetting(dwID, SYSTEM_SETTING_REBOOT, 0);
    for (int nWaited = 0; nWaited < options.nWaitSeconds * 1000; nWaited += kProbeMs) {
        pCmd->Cmd_GetVersion(dwID);
        client.RunFor(kProbeMs);
        nSinceAnswer += kProbeMs;
        if (nSinceAnswer > kSilentMs) {
            PrintOkDocument(options, {{"id", dwID}, {"rebooting", true}});
            return CLI_EXIT_OK;
        }
    }
    PrintError(options, "the camera went on answering: it did not restart", CLI_EXIT_REFUSED);
    return CLI_EXIT_REFUSED;
}

// The camera acknowledges the clock without a reply of its own and has no way to read it
// back: the call reports what was sent.
int CmdTime(const CliOptions& options, const SystemArgs& args, bool bPassword, bool bPasswordFile)
{
    if (args.strAction != "sync") {
        PrintError(options, "time CAMERA sync", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    CCliClient client;
    DeviceInfo* pDevice = nullptr;
    if (const int nExit = Prepare(client, options, args, bPassword, bPasswordFile, pDevice);
        nExit != CLI_EXIT_OK)
        return nExit;
    DWORD dwUtc = 0;
    LONG nOffset = 0;
    GetPcClock(dwUtc, nOffset);
    if (GetEngCmd()->Cmd_TimeSetting(pDevice->GetID(), dwUtc, static_cast<DWORD>(nOffset)) <= 0) {
        PrintError(options, "the clock could not be sent", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    // Time for the datagram to leave before the engines stop.
    client.RunFor(200);
    PrintOkDocument(options,
                    {{"id", pDevice->GetID()}, {"utc", dwUtc}, {"offset_minutes", nOffset}, {"sent", true}});
    return CLI_EXIT_OK;
}

} // namespace

void AddSystemCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto addPassword = [](CLI::App* pApp, SystemArgs& args) {
        CLI::Option* pPassword = pApp->add_option("--password", args.strPassword, "camera password");
        CLI::Option* pFile =
            pApp->add_option("--password-file", args.strPasswordFile, "file whose first line is it");
        return std::make_pair(pPassword, pFile);
    };

    auto pReboot = std::make_shared<SystemArgs>();
    CLI::App* pRebootApp = cli.add_subcommand("reboot", "restart a camera: reboot CAMERA");
    pRebootApp->add_option("camera", pReboot->strCamera, "serial or id")->required();
    const auto [pRebootPassword, pRebootFile] = addPassword(pRebootApp, *pReboot);
    vec.push_back({pRebootApp, [pReboot, pRebootPassword, pRebootFile, &options] {
                       return CmdReboot(options, *pReboot, pRebootPassword->count() > 0,
                                        pRebootFile->count() > 0);
                   }});

    auto pTime = std::make_shared<SystemArgs>();
    CLI::App* pTimeApp =
        cli.add_subcommand("time", "set a camera's clock from this computer's: time sync CAMERA");
    pTimeApp->add_option("action", pTime->strAction, "sync")->required();
    pTimeApp->add_option("camera", pTime->strCamera, "serial or id")->required();
    const auto [pTimePassword, pTimeFile] = addPassword(pTimeApp, *pTime);
    vec.push_back({pTimeApp, [pTime, pTimePassword, pTimeFile, &options] {
                       return CmdTime(options, *pTime, pTimePassword->count() > 0, pTimeFile->count() > 0);
                   }});
}
