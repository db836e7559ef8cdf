// vistrel-cli quality: the live stream's frame rate, resolution and bit rate as the camera
// reports them, and a change of them under the quality page's checks, read back from the camera.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clidevice.h"
#include "app/cli/clisubcommands.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "device/videoquality.h"
#include "protocol/engcmd.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

using nlohmann::json;

namespace {

struct QualityArgs {
    std::string strCamera;
    std::vector<std::string> vecAssignments;
    std::string strPassword;
    std::string strPasswordFile;
};

json QualityJson(DWORD dwID, const LiveQuality& quality)
{
    return {{"id", dwID},
            {"fps", quality.dwFps},
            {"resolution", quality.dwRes},
            {"bitrate", quality.dwBps},
            {"standard", quality.bPal ? "pal" : "ntsc"}};
}

// The camera's video reports, as they come; subscribed once for the client's life.
struct ReportReader {
    DWORD dwID = 0;
    bool bAnswered = false;
    LiveQuality quality;
};

// Asks for the video report until one comes; false when the camera stays silent.
bool ReadReport(CCliClient& client, const CliOptions& options, ReportReader& reader)
{
    reader.bAnswered = false;
    for (int nTry = 0; nTry < options.nWaitSeconds && !reader.bAnswered; ++nTry) {
        GetEngCmd()->Cmd_QueryVideoReport(reader.dwID);
        client.RunUntil([&] { return reader.bAnswered; }, 1000);
    }
    return reader.bAnswered;
}

int CmdQuality(const CliOptions& options, const QualityArgs& args, bool bPassword, bool bPasswordFile)
{
    // The keys are checked before anything is started: a typo never reaches a camera.
    KeyValues kvGiven;
    CheckResult given = ParseAssignments(args.vecAssignments, kvGiven);
    if (!given)
        given = CheckKnownKeys(kvGiven, {"fps", "resolution", "bitrate"});
    if (given) {
        PrintError(options, FormatCheckError(*given, CCliClient::LanguageText), CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    // The page's keys: the checks name the control they are about.
    KeyValues kv;
    for (const auto& [strKey, strPage] :
         {std::pair{"fps", "fps"}, {"resolution", "res"}, {"bitrate", "bps"}}) {
        if (const auto it = kvGiven.find(strKey); it != kvGiven.end())
            kv[strPage] = it->second;
    }

    CCliClient client;
    DeviceInfo* pDevice = nullptr;
    if (const int nExit = OpenCamera(client, options, args.strCamera, bPassword ? &args.strPassword : nullptr,
                                     bPasswordFile ? &args.strPasswordFile : nullptr,
                                     args.strCamera + " is a recorder: address one of its channels", pDevice);
        nExit != CLI_EXIT_OK)
        return nExit;

    const DWORD dwID = pDevice->GetID();
    ReportReader reader;
    reader.dwID = dwID;
    client.Subscribe(GetEngCmd(), VIEWER_EVT_SENSOR_T9QX, [&reader](WPARAM, LPARAM lParam) {
        const auto* pInfo = reinterpret_cast<const SensorT9QXInfo*>(lParam);
        if (pInfo != nullptr && pInfo->dwID == reader.dwID) {
            reader.quality = LiveQualityOfReport(pInfo->adwWord);
            reader.bAnswered = true;
        }
    });
    if (!ReadReport(client, options, reader)) {
        PrintError(options, "the camera did not report its stream", CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    }
    const LiveQuality quality = reader.quality;
    if (kv.empty()) {
        std::cout << (options.bJson ? QualityJson(dwID, quality).dump(2) + "\n"
                                    : FlattenJson(QualityJson(dwID, quality)));
        return CLI_EXIT_OK;
    }

    // What is not given stays as the camera has it; the floors are those of its standard.
    const DWORD dwCurrent = MakeSessionMode(quality.dwBps, quality.dwFps, quality.dwRes);
    DWORD dwMode = dwCurrent;
    CheckResult error = BuildQuality(kv, quality.bPal, dwMode);
    if (!error && CheckHD(false, dwCurrent, dwMode)) {
        // HD for a camera not streaming it, as the quality page offers it: only when its
        // capability report, asked for once the camera was found, says it encodes HD.
        if (!client.RunUntil([&] { return pDevice->stQuery.bCmdGetSensor != 0; },
                             options.nWaitSeconds * 1000)) {
            PrintError(options, "the camera did not report its capabilities", CLI_EXIT_TIMEOUT);
            return CLI_EXIT_TIMEOUT;
        }
        error = CheckHD(pDevice->SupportsHD(), dwCurrent, dwMode);
    }
    if (error) {
        // Name the option the user typed, not the page's control.
        for (const auto& [strPage, strKey] :
             {std::pair{"fps", "fps"}, {"res", "resolution"}, {"bps", "bitrate"}}) {
            if (error->strKey == strPage)
                error->strKey = strKey;
        }
        PrintError(options, FormatCheckError(*error, CCliClient::LanguageText), CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    GetEngCmd()->Cmd_VideoQuality(dwID, dwMode);
    if (!ReadReport(client, options, reader)) {
        PrintError(options, "the camera did not answer the read-back", CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    }
    const LiveQuality& after = reader.quality;
    json j = QualityJson(dwID, after);
    if (MakeSessionMode(after.dwBps, after.dwFps, after.dwRes) != dwMode) {
        PrintError(options, "the camera kept its own stream settings", CLI_EXIT_REFUSED, j);
        return CLI_EXIT_REFUSED;
    }
    j["verified"] = true;
    if (options.bJson) {
        j["ok"] = true;
        std::cout << j.dump(2) << std::endl;
    } else {
        std::cout << FlattenJson(j);
    }
    return CLI_EXIT_OK;
}

} // namespace

void AddQualityCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pArgs = std::make_shared<QualityArgs>();
    CLI::App* pApp = cli.add_subcommand(
        "quality", "show or set the live stream: quality CAMERA [fps=N] [resolution=CODE] [bitrate=KBPS]");
    pApp->add_option("camera", pArgs->strCamera, "serial or id")->required();
    pApp->add_option("settings", pArgs->vecAssignments, "fps=, resolution= (2, 4, 7, 8), bitrate=");
    CLI::Option* pPassword = pApp->add_option("--password", pArgs->strPassword, "camera password");
    CLI::Option* pFile =
        pApp->add_option("--password-file", pArgs->strPasswordFile, "file whose first line is it");
    vec.push_back({pApp, [pArgs, pPassword, pFile, &options] {
                       return CmdQuality(options, *pArgs, pPassword->count() > 0, pFile->count() > 0);
                   }});
}
