// vistrel-cli snapshot: live view of one camera through the same decoding graph as the desktop
// client, without a window, until the first picture is decoded; then the decoder's snapshot.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clisubcommands.h"
#include "core/log.h"
#include "media/video/videopanelogic.h"
#include "protocol/password.h"

#include <nlohmann/json.hpp>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct SnapshotArgs {
    std::string strCamera;
    std::string strOutput;
    std::string strPassword;
    int nSeconds = 15;
};

int CmdSnapshot(const CliOptions& options, const SnapshotArgs& args, bool bPassword)
{
    CCliClient client;
    DeviceInfo* pDevice = nullptr;
    if (const int nExit =
            OpenCamera(client, options, args.strCamera, bPassword ? &args.strPassword : nullptr, nullptr,
                       "a recorder has no video of its own: address one of its channels", pDevice);
        nExit != CLI_EXIT_OK)
        return nExit;
    if (!pDevice->stPassword.HasPassword())
        MakeToken(pDevice->stPassword);

    CVideoPaneLogic::Hooks hooks;
    CDeviceManager* pManager = client.Manager();
    hooks.fnPlayType = [pManager] { return pManager->GetPlayType(); };
    hooks.strSnapshotPath = args.strOutput;
    auto pPane = std::make_unique<CVideoPaneLogic>(nullptr, hooks);
    try {
        pPane->Attach();
    } catch (const CExceptionBase&) {
        PrintError(options, "the media ports are taken", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    const DWORD dwID = pDevice->GetID();
    const auto start = std::chrono::steady_clock::now();
    pManager->SelectDevice(dwID, pDevice->enCameraType, PLAY_TYPE_REALTIME);
    // Selection shows the device through the pane command; a pane that missed it shows it now.
    pPane->ShowDevice(pDevice);
    const bool bPicture = client.RunUntil(
        [&] { return pPane->Session() != nullptr && pPane->Session()->GetStats().qwRendered > 0; },
        args.nSeconds * 1000);
    // From the start-video request to the first picture decoded and presented.
    const auto llFirstMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    const bool bSaved = bPicture && pPane->Snapshot();
    const DWORD nWidth = pPane->PictureWidth();
    const DWORD nHeight = pPane->PictureHeight();
    pManager->CancelSelectDevice();
    pPane->StopDevice(pDevice);
    pPane->Detach();
    pPane.reset();

    if (!bSaved) {
        const char* pszWhy = bPicture ? "the picture could not be written" : "no picture was decoded in time";
        PrintError(options, pszWhy, bPicture ? CLI_EXIT_FAILURE : CLI_EXIT_TIMEOUT);
        return bPicture ? CLI_EXIT_FAILURE : CLI_EXIT_TIMEOUT;
    }
    if (options.bJson) {
        const nlohmann::json j = {{"ok", true},      {"id", dwID},        {"file", args.strOutput},
                                  {"width", nWidth}, {"height", nHeight}, {"first_picture_ms", llFirstMs}};
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        std::printf("%s: %ux%u\n", args.strOutput.c_str(), static_cast<unsigned>(nWidth),
                    static_cast<unsigned>(nHeight));
    }
    return CLI_EXIT_OK;
}

} // namespace

void AddSnapshotCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pArgs = std::make_shared<SnapshotArgs>();
    CLI::App* pSnapshot = cli.add_subcommand("snapshot", "the camera's live picture as a 24-bit BMP file");
    pSnapshot->add_option("camera", pArgs->strCamera, "serial or id")->required();
    pSnapshot->add_option("-o,--output", pArgs->strOutput, "the BMP file to write")->required();
    CLI::Option* pPassword = pSnapshot->add_option("--password", pArgs->strPassword, "the camera's password");
    pSnapshot->add_option("--seconds", pArgs->nSeconds, "how long to wait for a picture (default 15)")
        ->check(CLI::Range(1, 600));
    vec.push_back({pSnapshot, [pArgs, pPassword, &options] {
                       return CmdSnapshot(options, *pArgs, pPassword->count() > 0);
                   }});
}
