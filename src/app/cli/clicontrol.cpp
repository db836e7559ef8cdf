// vistrel-cli get and ptz: one settings group as the camera answered it, and the presets and
// patrol of a pan/tilt camera.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clidevice.h"
#include "app/cli/clisubcommands.h"
#include "core/configfile.h"
#include "protocol/engcmd.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <memory>

using nlohmann::json;

namespace {

constexpr int kResendMs = 1000;
constexpr int kMaxPreset = 255;

void PrintOkDocument(const CliOptions& options, json j)
{
    if (options.bJson) {
        j["ok"] = true;
        std::cout << j.dump(2) << std::endl;
    } else {
        std::cout << FlattenJson(j);
    }
}

// The query group a name of get stands for (a name of info, or of set); empty: none.
std::string QueryGroupOf(const std::string& strName)
{
    if (IsQueryGroupName(strName))
        return strName;
    const std::string strSet = SetGroupName(strName);
    if (!strSet.empty() && IsQueryGroupName(InfoGroupName(strSet)))
        return InfoGroupName(strSet);
    return std::string();
}

int CmdGet(const CliOptions& options, const std::string& strCamera, const std::string& strName)
{
    const std::string strGroup = QueryGroupOf(strName);
    if (strGroup.empty()) {
        PrintError(options, "unknown group " + strName, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    DeviceInfo* pDevice = FindOrReport(client, options, strCamera);
    if (pDevice == nullptr)
        return CLI_EXIT_NOT_FOUND;
    DeviceInfo* pParent = client.ParentOf(*pDevice);
    auto answered = [&](bool& bApplies) {
        bApplies = false;
        for (const QueryGroup& group : ApplicableQueryGroups(*pDevice, pParent)) {
            if (strGroup == group.pszName) {
                bApplies = true;
                return pDevice->stQuery.*group.pFlag != 0;
            }
        }
        return false;
    };
    bool bApplies = false;
    // Groups that depend on the capability apply only once it is known: wait for the passes.
    client.RunUntil([&] { return answered(bApplies) || IsQueryDone(*pDevice, pParent); },
                    options.nWaitSeconds * 1000);
    if (!answered(bApplies)) {
        if (!bApplies) {
            PrintError(options,
                       "a " + std::string(KindText(pDevice->enCameraType)) + " has no " + strGroup + " group",
                       CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        PrintError(options, "the camera did not answer " + strGroup, CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    }
    const json values = DeviceInfoJson(*pDevice, pParent, *GetConfigCameraType())["groups"][strGroup];
    PrintOkDocument(options, {{"id", pDevice->GetID()}, {"group", strGroup}, {"values", values}});
    return CLI_EXIT_OK;
}

// Asks until fnDone holds, once a second.
bool AskUntil(CCliClient& client, const std::function<void()>& fnAsk, const std::function<bool()>& fnDone,
              int nTimeoutMs)
{
    for (int nWaited = 0; nWaited < nTimeoutMs; nWaited += kResendMs) {
        fnAsk();
        if (client.RunUntil(fnDone, kResendMs))
            return true;
    }
    return false;
}

json PresetsJson(const DeviceInfo& device)
{
    json presets = json::object();
    if (device.pPresetInfo != nullptr) {
        for (const auto& [dwNumber, strName] : device.pPresetInfo->mapPresets)
            presets[std::to_string(dwNumber)] = strName;
    }
    return presets;
}

struct PtzArgs {
    std::string strCamera;
    std::string strAction; // list, go, set, patrol
    std::vector<std::string> vecValues;
};

int CmdPtz(const CliOptions& options, const PtzArgs& args)
{
    const std::string& strAction = args.strAction;
    const std::size_t nValues = args.vecValues.size();
    int nPreset = -1;
    bool bPatrol = false;
    if (strAction == "go" || strAction == "set") {
        if (nValues != (strAction == "go" ? 1u : 2u)) {
            PrintError(options, "ptz " + strAction + (strAction == "go" ? " NUMBER" : " NUMBER NAME"),
                       CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        try {
            std::size_t nUsed = 0;
            nPreset = std::stoi(args.vecValues[0], &nUsed);
            if (nUsed != args.vecValues[0].size())
                nPreset = -1;
        } catch (const std::exception&) {
            nPreset = -1;
        }
        if (nPreset < 1 || nPreset > kMaxPreset) {
            PrintError(options, "preset: the number is from 1 to 255", CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
    } else if (strAction == "patrol") {
        if (nValues != 1 || (args.vecValues[0] != "on" && args.vecValues[0] != "off")) {
            PrintError(options, "ptz patrol on|off", CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        bPatrol = args.vecValues[0] == "on";
    } else if (strAction != "list" || nValues != 0) {
        PrintError(options, "ptz CAMERA list | go N | set N NAME | patrol on|off", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }

    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    DeviceInfo* pDevice = FindOrReport(client, options, args.strCamera);
    if (pDevice == nullptr)
        return CLI_EXIT_NOT_FOUND;
    // The presets are the recorder's for its channels; the patrol is each video's own.
    DeviceInfo* pParent = client.ParentOf(*pDevice);
    DeviceInfo& presetOwner = pParent != nullptr ? *pParent : *pDevice;
    if (pDevice->enCameraType == CAMERA_TYPE_PARENT && strAction != "list") {
        PrintError(options, "a recorder does not move: address one of its channels", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    CEngCmd* pCmd = GetEngCmd();
    const DWORD dwID = pDevice->GetID();
    const int nWaitMs = options.nWaitSeconds * 1000;
    auto readPresets = [&] {
        presetOwner.stQuery.bCmdGetPreset = 0;
        return AskUntil(
            client, [&] { pCmd->Cmd_GetPreset(presetOwner.GetID()); },
            [&] { return presetOwner.stQuery.bCmdGetPreset != 0; }, nWaitMs);
    };

    if (strAction == "patrol") {
        if (bPatrol)
            pCmd->Cmd_PTZStartScan(dwID);
        else
            pCmd->Cmd_PTZStopScan(dwID);
        pDevice->stQuery.bCmdGetAutoScan = 0;
        if (!AskUntil(
                client, [&] { pCmd->Cmd_GetAutoScanState(dwID); },
                [&] { return pDevice->stQuery.bCmdGetAutoScan != 0; }, nWaitMs)) {
            PrintError(options, "the camera did not answer the patrol state", CLI_EXIT_TIMEOUT);
            return CLI_EXIT_TIMEOUT;
        }
        if ((pDevice->bScanning != 0) != bPatrol) {
            PrintError(options,
                       std::string("the camera is ") + (pDevice->bScanning ? "still" : "not") + " patrolling",
                       CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        PrintOkDocument(options, {{"id", dwID}, {"patrol", bPatrol}});
        return CLI_EXIT_OK;
    }
    if (strAction == "go") {
        pCmd->Cmd_GotoPreset(dwID, static_cast<BYTE>(nPreset));
        // The camera acknowledges a move, but where it ends up cannot be read back.
        PrintOkDocument(options, {{"id", dwID}, {"preset", nPreset}, {"sent", true}});
        return CLI_EXIT_OK;
    }
    if (strAction == "set") {
        const std::string& strName = args.vecValues[1];
        pCmd->Cmd_SetPreset(dwID, static_cast<BYTE>(nPreset), strName);
        client.RunFor(200);
        if (!readPresets()) {
            PrintError(options, "the camera did not answer the preset list", CLI_EXIT_TIMEOUT);
            return CLI_EXIT_TIMEOUT;
        }
        const json presets = PresetsJson(presetOwner);
        const std::string strKey = std::to_string(nPreset);
        // The camera keeps a name cut to its own length: a leading part of what was sent.
        if (!presets.contains(strKey) || strName.rfind(presets[strKey].get<std::string>(), 0) != 0) {
            PrintError(options, "the camera did not keep preset " + strKey, CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        PrintOkDocument(options, {{"id", dwID}, {"presets", presets}});
        return CLI_EXIT_OK;
    }
    if (!readPresets()) {
        PrintError(options, "the camera did not answer the preset list", CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    }
    PrintOkDocument(options, {{"id", dwID}, {"presets", PresetsJson(presetOwner)}});
    return CLI_EXIT_OK;
}

} // namespace

void AddControlCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pGet = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* pGetApp = cli.add_subcommand("get", "one settings group of a camera: get CAMERA GROUP");
    pGetApp->add_option("camera", pGet->first, "serial or id")->required();
    pGetApp->add_option("group", pGet->second, "a group as info names it, or as set does")->required();
    vec.push_back({pGetApp, [pGet, &options] { return CmdGet(options, pGet->first, pGet->second); }});

    auto pPtz = std::make_shared<PtzArgs>();
    CLI::App* pPtzApp =
        cli.add_subcommand("ptz", "presets and patrol: ptz CAMERA list | go N | set N NAME | patrol on|off");
    pPtzApp->add_option("camera", pPtz->strCamera, "serial or id")->required();
    pPtzApp->add_option("action", pPtz->strAction, "list, go, set or patrol")->required();
    pPtzApp->add_option("values", pPtz->vecValues, "the preset number (and name), or on/off");
    vec.push_back({pPtzApp, [pPtz, &options] { return CmdPtz(options, *pPtz); }});
}
