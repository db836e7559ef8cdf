#include "app/cli/clicommands.h"
#include "net/pcaplistener.h"

#include "app/cli/cliclient.h"
#include "app/cli/clidevice.h"
#include "core/configfile.h"
#include "core/log.h"
#include "core/stringids.h"
#include "device/settinggroups.h"
#include "net/pcaplistener.h"
#include "platform/codepage.h"
#include "platform/ticks.h"
#include "protocol/engcmd.h"
#include "protocol/engoffcmd.h"
#include "protocol/password.h"
#include "protocol/upgrade.h"

#include <nlohmann/json.hpp>

#include <QSocketNotifier>

#include <termios.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <unistd.h>

using nlohmann::json;

namespace {

constexpr int kQueryWaitMs = 8000;   // four query passes and the last answers
constexpr int kConfirmWaitMs = 5000; // a set's read-back
constexpr int kResendMs = 1000;

const char* ErrorCode(int nExit)
{
    switch (nExit) {
    case CLI_EXIT_FAILURE:
        return "failure";
    case CLI_EXIT_BAD_ARGUMENTS:
        return "bad_arguments";
    case CLI_EXIT_NOT_FOUND:
        return "not_found";
    case CLI_EXIT_WRONG_PASSWORD:
        return "wrong_password";
    case CLI_EXIT_REFUSED:
        return "refused";
    case CLI_EXIT_TIMEOUT:
        return "timeout";
    default:
        return "error";
    }
}

} // namespace

json ErrorJson(int nExit, const std::string& strMessage)
{
    return {{"ok", false}, {"exit", nExit}, {"error", {{"code", ErrorCode(nExit)}, {"message", strMessage}}}};
}

bool PromptPassword(const std::string& strPrompt, std::string& strPassword)
{
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO))
        return false;
    termios old{};
    if (::tcgetattr(STDIN_FILENO, &old) != 0)
        return false;
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::cerr << strPrompt << std::flush;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    const bool bRead = static_cast<bool>(std::getline(std::cin, strPassword));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << std::endl;
    return bRead;
}

std::string ResolvePassword(const std::string* pGiven, const std::string* pFile, const char* pszEnvironment,
                            std::optional<std::string>& password)
{
    password.reset();
    if (pGiven != nullptr && pFile != nullptr)
        return "give the password once: --password or --password-file";
    if (pGiven != nullptr) {
        password = *pGiven;
        return std::string();
    }
    if (pFile != nullptr) {
        std::ifstream in(*pFile);
        std::string strLine;
        if (!in || !std::getline(in, strLine))
            return "cannot read the password file " + *pFile;
        // A file written by an editor ends its line; the password does not include it.
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        password = strLine;
        return std::string();
    }
    if (pszEnvironment != nullptr)
        password = std::string(pszEnvironment);
    return std::string();
}

// What was learnt before the failure goes along under "device": a script need not parse two
// documents.
void PrintError(const CliOptions& options, const std::string& strMessage, int nExit, const json& device)
{
    if (options.bJson) {
        json j = ErrorJson(nExit, strMessage);
        if (!device.is_null())
            j["device"] = device;
        std::cout << j.dump() << std::endl;
    } else {
        std::cerr << "vistrel-cli: " << strMessage << std::endl;
    }
}

namespace {

std::string CheckMessage(const CheckError& error)
{
    return FormatCheckError(error, [](DWORD dwID) { return CCliClient::LanguageText(dwID); });
}

} // namespace

// Start-up; a socket that cannot be opened ends the command with its text.
bool StartClient(CCliClient& client, const CliOptions& options)
{
    try {
        client.Start();
        return true;
    } catch (const CExceptionBase& e) {
        PrintError(options, WideToUtf8(e.GetText()), CLI_EXIT_FAILURE);
    } catch (...) {
        PrintError(options, CCliClient::LanguageText(IDS_EXCEPTION), CLI_EXIT_FAILURE);
    }
    return false;
}

DeviceInfo* FindOrReport(CCliClient& client, const CliOptions& options, const std::string& strCamera)
{
    DeviceInfo* pDevice = client.WaitForDevice(strCamera, options.nWaitSeconds * 1000);
    if (pDevice == nullptr)
        PrintError(options, "camera not found: " + strCamera, CLI_EXIT_NOT_FOUND);
    return pDevice;
}

// The password state that matters for a device: a channel's is its recorder's.
DeviceInfo* PasswordOwner(CCliClient& client, DeviceInfo* pDevice)
{
    DeviceInfo* pParent = client.ParentOf(*pDevice);
    return pParent != nullptr ? pParent : pDevice;
}

// Applies --password like the password dialog; returns an exit code, OK when the camera
// has no password or the given one matches. bRequired: a camera with a password needs one.
int ApplyPassword(CCliClient& client, const CliOptions& options, DeviceInfo* pDevice,
                  const std::string* pPassword, bool bRequired)
{
    DeviceInfo* pOwner = PasswordOwner(client, pDevice);
    if (pPassword != nullptr) {
        BYTE abPassword[PASSWORD_LEN] = {};
        if (!PasswordFromText(*pPassword, abPassword)) {
            PrintError(options, CCliClient::LanguageText(IDS_HINT_PASSWORD_EMPTY), CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        client.Manager()->SetPassword(abPassword);
        if (pOwner->stPassword.HasPassword() &&
            std::memcmp(pOwner->stPassword.pszInputPassword, abPassword, PASSWORD_LEN) != 0) {
            PrintError(options, CCliClient::LanguageText(IDS_HINT_PASSERR), CLI_EXIT_WRONG_PASSWORD);
            return CLI_EXIT_WRONG_PASSWORD;
        }
    } else if (bRequired && pOwner->stPassword.HasPassword() && !PasswordMatches(pOwner->stPassword)) {
        std::string strPrompted;
        if (PromptPassword("Password for " + std::string(pOwner->GetSerial()) + ": ", strPrompted))
            return ApplyPassword(client, options, pDevice, &strPrompted, bRequired);
        PrintError(options,
                   "this camera has a password: give it with --password, --password-file or VISTREL_PASSWORD",
                   CLI_EXIT_WRONG_PASSWORD);
        return CLI_EXIT_WRONG_PASSWORD;
    }
    // A channel goes by its recorder's token.
    if (pOwner != pDevice)
        pDevice->stPassword = pOwner->stPassword;
    return CLI_EXIT_OK;
}

int OpenCamera(CCliClient& client, const CliOptions& options, const std::string& strCamera,
               const std::string* pPassword, const std::string* pPasswordFile,
               const std::string& strRecorderRefusal, DeviceInfo*& pDevice)
{
    pDevice = nullptr;
    std::optional<std::string> password;
    const std::string strError =
        ResolvePassword(pPassword, pPasswordFile, std::getenv("VISTREL_PASSWORD"), password);
    if (!strError.empty()) {
        PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    DeviceInfo* pFound = FindOrReport(client, options, strCamera);
    if (pFound == nullptr)
        return CLI_EXIT_NOT_FOUND;
    // The viewer engine addresses a recorder's channels, not the recorder, for media and settings.
    if (pFound->enCameraType == CAMERA_TYPE_PARENT) {
        PrintError(options, strRecorderRefusal, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    if (const int nExit = ApplyPassword(client, options, pFound, password ? &*password : nullptr, true);
        nExit != CLI_EXIT_OK)
        return nExit;
    pDevice = pFound;
    return CLI_EXIT_OK;
}

// --- search ---

int CmdSearch(const CliOptions& options, int nSeconds)
{
    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    client.RunFor(nSeconds * 1000);
    // Let the devices found late finish their first queries (model, firmware).
    client.RunUntil(
        [&] {
            for (const auto& [dwID, pDevice] : client.Manager()->GetDevices()) {
                if (pDevice->bIsExist &&
                    (!pDevice->stQuery.bCmdGetSensor || !pDevice->stQuery.bCmdGetVersion) &&
                    pDevice->stQuery.nQueryPass < 4 && pDevice->enCameraType != CAMERA_TYPE_PARENT)
                    return false;
            }
            return true;
        },
        4000);

    // Told here too, not only in the log: a search run by hand is where a missing capability shows.
    if (const char* pszOff = CaptureOffReason())
        std::fprintf(stderr, "vistrel-cli: %s\n", pszOff);

    SortedDeviceMap mapSorted;
    client.Manager()->GetAllSortedDevices(mapSorted);
    std::vector<json> vecRows;
    for (const auto& [strName, pDevice] : mapSorted)
        vecRows.push_back(DeviceSummaryJson(*pDevice, *GetConfigCameraType()));
    if (options.bJson) {
        // Whether the capture heard along: without it cameras outside the local networks stay
        // silent, and a script should be able to tell that from an empty network.
        const char* pszOff = CaptureOffReason();
        json capture = {{"on", pszOff == nullptr}};
        if (pszOff != nullptr)
            capture["note"] = pszOff;
        std::cout << json{{"devices", vecRows}, {"capture", capture}}.dump(2) << std::endl;
    } else {
        std::cout << SummaryTable(vecRows) << vecRows.size() << " device(s)" << std::endl;
    }
    return CLI_EXIT_OK;
}

// --- info ---

int CmdInfo(const CliOptions& options, const std::string& strCamera, const std::string* pPassword)
{
    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    DeviceInfo* pDevice = FindOrReport(client, options, strCamera);
    if (pDevice == nullptr)
        return CLI_EXIT_NOT_FOUND;
    if (const int nExit = ApplyPassword(client, options, pDevice, pPassword, false); nExit != CLI_EXIT_OK)
        return nExit;

    DeviceInfo* pParent = client.ParentOf(*pDevice);
    // Every group answered or the four passes spent, then a moment for the last answers.
    client.RunUntil([&] { return IsQueryDone(*pDevice, pParent); }, kQueryWaitMs);
    client.RunUntil([&] { return MissingQueryGroups(*pDevice, pParent).empty(); }, 1500);
    json j = DeviceInfoJson(*pDevice, pParent, *GetConfigCameraType());

    // With a password: prove the access token by starting (and stopping) live video.
    if (pPassword != nullptr && pDevice->enCameraType != CAMERA_TYPE_PARENT) {
        bool bReplied = false;
        DWORD dwStatus = 0;
        const DWORD dwID = pDevice->GetID();
        client.Subscribe(GetEngCmd(), VIEWER_EVT_START_VIDEO, [&](WPARAM, LPARAM lParam) {
            const auto* pReply = reinterpret_cast<const StartVideoReply*>(lParam);
            if (pReply != nullptr && pReply->dwID == dwID) {
                bReplied = true;
                dwStatus = pReply->dwStatus;
            }
        });
        client.Manager()->SelectDevice(dwID, pDevice->enCameraType, PLAY_TYPE_REALTIME);
        client.RunUntil([&] { return bReplied; }, 3000);
        client.Manager()->CancelSelectDevice();
        j["token"] = !bReplied ? "no answer" : dwStatus == 0 ? "accepted" : "refused";
        j["video_status"] = dwStatus;
        if (bReplied && dwStatus != 0) {
            PrintError(options,
                       "the camera refused the access token (status " + std::to_string(dwStatus) + ")",
                       CLI_EXIT_WRONG_PASSWORD, j);
            return CLI_EXIT_WRONG_PASSWORD;
        }
    }
    // A camera that answered none of its groups has told us nothing.
    if (j["missing"].size() == ApplicableQueryGroups(*pDevice, pParent).size()) {
        PrintError(options, "the camera answered none of its settings groups", CLI_EXIT_TIMEOUT, j);
        return CLI_EXIT_TIMEOUT;
    }
    if (options.bJson) {
        j["ok"] = true;
        std::cout << j.dump(2) << std::endl;
    } else {
        std::cout << FlattenJson(j);
    }
    return CLI_EXIT_OK;
}

// --- set ---

namespace {

struct SetContext {
    CCliClient& client;
    const CliOptions& options;
    DeviceInfo* pDevice;
    KeyValues kv;
};

// The query flag and the read request of a group, for the wait before and the read-back
// after a set.
struct GroupRead {
    const char* pszQueryGroup; // name in ApplicableQueryGroups / GroupJson; null: none
    BYTE DeviceQueryBlock::*pFlag;
    std::function<void(DeviceInfo&)> fnRead;
};

GroupRead ReadOf(const std::string& strGroup)
{
    CEngCmd* pCmd = GetEngCmd();
    CEngOffCmd* pLan = CEngOffCmd::GetInstance();
    if (strGroup == "ntp")
        return {"ntp", &DeviceQueryBlock::bCmdGetNTP, [pCmd](DeviceInfo& d) { pCmd->Cmd_GetNTP(d.GetID()); }};
    if (strGroup == "network")
        return {"network", &DeviceQueryBlock::bCmdGetNetParam,
                [pLan](DeviceInfo& d) { pLan->Cmd_GetNetParam(d.GetID()); }};
    if (strGroup == "wifi")
        return {"wifi", &DeviceQueryBlock::bCmdGetWirelessParam,
                [pLan](DeviceInfo& d) { pLan->Cmd_WifiQuery(d.GetSerial()); }};
    if (strGroup == "3g")
        return {"3g", &DeviceQueryBlock::bCmdGet3GQuery,
                [pLan](DeviceInfo& d) { pLan->Cmd_3GQuery(d.GetSerial()); }};
    if (strGroup == "port")
        return {"ports", &DeviceQueryBlock::bCmdGetCameraPort,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_CameraPort(d.GetID(), 1, 0); }};
    if (strGroup == "upnp")
        return {"upnp", &DeviceQueryBlock::bCmdGetUpnpStatus,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_UpnpQuery(d.GetID()); }};
    if (strGroup == "motion")
        return {"motion", &DeviceQueryBlock::bCmdGetMotion,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_GetMotion(d.GetID()); }};
    if (strGroup == "do" || strGroup == "sms")
        return {"do", &DeviceQueryBlock::bCmdGetDoInfo,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_GetDo(d.GetID()); }};
    if (strGroup == "mail")
        return {"mail", &DeviceQueryBlock::bCmdGetMailInfo,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_GetMail(d.GetID()); }};
    if (strGroup == "sd")
        return {"sd_record", &DeviceQueryBlock::bCmdGetRecordSD,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_GetRecordSD(d.GetID()); }};
    if (strGroup == "nas")
        return {"nas_record", &DeviceQueryBlock::bCmdGetRecordNas,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_GetRecordNas(d.GetID()); }};
    if (strGroup == "snapshot")
        return {"snapshot_server", &DeviceQueryBlock::bCmdGetSnapshotServer,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_ControlSnapshotServer(d.GetID(), 0, 0, 0, 0, 0, 0, 0); }};
    if (strGroup == "timeformat")
        return {"time_format", &DeviceQueryBlock::bCmdGetTimeFormat,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_GetTimeFormat(d.GetID()); }};
    if (strGroup == "microphone")
        return {"volume", &DeviceQueryBlock::bCmdGetVolume,
                [pCmd](DeviceInfo& d) { pCmd->Cmd_GetVolume(d.GetID()); }};
    return {nullptr, nullptr, nullptr};
}

// Waits for the group's flag, asking again every second.
bool WaitForGroup(CCliClient& client, DeviceInfo& device, const GroupRead& read, int nTimeoutMs)
{
    if (device.stQuery.*read.pFlag)
        return true;
    for (int nWaited = 0; nWaited < nTimeoutMs; nWaited += kResendMs) {
        read.fnRead(device);
        if (client.RunUntil([&] { return device.stQuery.*read.pFlag != 0; }, kResendMs))
            return true;
    }
    return false;
}

// Reads the group back after a set and compares it with what was sent.
// Asks the group again after a set and waits for the answer; false (reported) on time-out.
bool ReadBack(SetContext& ctx, const GroupRead& read)
{
    ctx.pDevice->stQuery.*read.pFlag = 0;
    if (WaitForGroup(ctx.client, *ctx.pDevice, read, kConfirmWaitMs))
        return true;
    PrintError(ctx.options, "the camera did not answer the read-back", CLI_EXIT_TIMEOUT);
    return false;
}

int ConfirmGroup(SetContext& ctx, const GroupRead& read, const json& expected)
{
    DeviceInfo& device = *ctx.pDevice;
    if (!ReadBack(ctx, read))
        return CLI_EXIT_TIMEOUT;
    json actual = DeviceInfoJson(device, ctx.client.ParentOf(device),
                                 *GetConfigCameraType())["groups"][read.pszQueryGroup];
    json want = expected;
    actual.erase("answered");
    want.erase("answered");
    if (actual != want) {
        PrintError(ctx.options,
                   "the camera kept other values: sent " + want.dump() + ", camera has " + actual.dump(),
                   CLI_EXIT_REFUSED);
        return CLI_EXIT_REFUSED;
    }
    if (ctx.options.bJson)
        std::cout << json{{"ok", true}, {"group", read.pszQueryGroup}, {"values", actual}}.dump()
                  << std::endl;
    else
        std::cout << "ok: " << read.pszQueryGroup << " " << actual.dump() << std::endl;
    return CLI_EXIT_OK;
}

int Fail(const CliOptions& options, const CheckError& error)
{
    const int nExit = error.dwStringID == IDS_HINT_PASSERR ? CLI_EXIT_WRONG_PASSWORD : CLI_EXIT_BAD_ARGUMENTS;
    PrintError(options, CheckMessage(error) + " (nothing sent)", nExit);
    return nExit;
}

json GroupNow(SetContext& ctx, const char* pszGroup)
{
    return DeviceInfoJson(*ctx.pDevice, ctx.client.ParentOf(*ctx.pDevice),
                          *GetConfigCameraType())["groups"][pszGroup];
}

void PrintOk(const CliOptions& options, const std::string& strGroup, const json& values)
{
    if (options.bJson)
        std::cout << json{{"ok", true}, {"group", strGroup}, {"values", values}}.dump() << std::endl;
    else
        std::cout << "ok: " << strGroup << " " << values.dump() << std::endl;
}

// Groups whose answer comes as an event of its own rather than a query flag.
int SetByEvent(SetContext& ctx, const std::string& strGroup)
{
    CEngCmd* pCmd = GetEngCmd();
    DeviceInfo& device = *ctx.pDevice;
    const DWORD dwID = device.GetID();

    if (strGroup == "name") {
        std::string strName;
        bool bCut = false;
        if (auto error = BuildName(ctx.kv, strName, bCut))
            return Fail(ctx.options, *error);
        const std::u16string strWide = Utf8ToWide(strName);
        pCmd->Cmd_SetName(dwID, strWide, 0);
        if (bCut)
            std::cerr << "vistrel-cli: the name is cut to the camera's 32 bytes" << std::endl;
        // The new name shows in the camera's next search reply.
        // A cut name shows as a leading part of what was given.
        auto fnShown = [&] {
            const std::string strNow = DeviceNameUtf8(device);
            return bCut ? strNow.size() >= CAMERA_NAME_BYTES - 1 && strName.rfind(strNow, 0) == 0
                        : strNow == strName;
        };
        bool bSeen = false;
        for (int nWaited = 0; !bSeen && nWaited < kConfirmWaitMs; nWaited += kResendMs) {
            pCmd->SearchKnownDevices();
            bSeen = ctx.client.RunUntil(fnShown, kResendMs);
        }
        if (!bSeen) {
            PrintError(ctx.options, "the camera still reports the name \"" + DeviceNameUtf8(device) + "\"",
                       CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        PrintOk(ctx.options, "name", {{"name", DeviceNameUtf8(device)}});
        return CLI_EXIT_OK;
    }

    if (strGroup == "password") {
        DeviceInfo* pOwner = PasswordOwner(ctx.client, &device);
        PasswordChange change;
        if (auto error = BuildPasswordChange(ctx.kv, pOwner->stPassword, change))
            return Fail(ctx.options, *error);
        bool bReplied = false;
        DWORD dwResult = 0;
        ctx.client.Subscribe(pCmd, VIEWER_EVT_SET_PASSWORD, [&](WPARAM wParam, LPARAM lParam) {
            if (static_cast<DWORD>(wParam) == pOwner->GetID()) {
                bReplied = true;
                dwResult = static_cast<DWORD>(lParam);
            }
        });
        pCmd->Cmd_SetPassword(pOwner->GetID(), change.abOld, change.abNew);
        if (!ctx.client.RunUntil([&] { return bReplied; }, kConfirmWaitMs)) {
            PrintError(ctx.options, "the camera did not answer", CLI_EXIT_TIMEOUT);
            return CLI_EXIT_TIMEOUT;
        }
        if (dwResult != 0) {
            PrintError(ctx.options,
                       "the camera refused the new password (result " + std::to_string(dwResult) + ")",
                       CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        StoreChangedPassword(pOwner->stPassword, change.abNew);
        PrintOk(ctx.options, "password", {{"changed", true}});
        return CLI_EXIT_OK;
    }

    if (strGroup == "dserver") {
        bool bConnect = false;
        if (auto error = BuildSwitch(ctx.kv, "connect", bConnect))
            return Fail(ctx.options, *error);
        bool bReplied = false;
        long nResult = 0;
        ctx.client.Subscribe(pCmd, VIEWER_EVT_DSERVER_LINK, [&](WPARAM wParam, LPARAM lParam) {
            if (static_cast<DWORD>(wParam) == dwID) {
                bReplied = true;
                nResult = static_cast<long>(lParam);
            }
        });
        pCmd->Cmd_DServerConnect(dwID, bConnect ? 1 : 0);
        if (!ctx.client.RunUntil([&] { return bReplied; }, kConfirmWaitMs)) {
            PrintError(ctx.options, "the camera did not answer", CLI_EXIT_TIMEOUT);
            return CLI_EXIT_TIMEOUT;
        }
        // The answer carries the link state the camera now has.
        if ((nResult != 0) != bConnect) {
            PrintError(ctx.options, "the camera kept the D-server link " + std::to_string(nResult),
                       CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        PrintOk(ctx.options, "dserver", {{"connect", bConnect}, {"result", nResult}});
        return CLI_EXIT_OK;
    }

    // rtsp: read the current settings first (they live only in the reply).
    bool bReplied = false;
    RtspInfo current{};
    ctx.client.Subscribe(pCmd, VIEWER_EVT_RTSP, [&](WPARAM, LPARAM lParam) {
        const auto* pInfo = reinterpret_cast<const RtspInfo*>(lParam);
        if (pInfo != nullptr && pInfo->dwID == dwID) {
            bReplied = true;
            current = *pInfo;
        }
    });
    auto readRtsp = [&] {
        bReplied = false;
        for (int nWaited = 0; !bReplied && nWaited < kConfirmWaitMs; nWaited += kResendMs) {
            pCmd->Cmd_ControlRTSP(dwID, 0, 0, 0, 0);
            ctx.client.RunUntil([&] { return bReplied; }, kResendMs);
        }
        return bReplied;
    };
    if (!readRtsp()) {
        PrintError(ctx.options, CCliClient::LanguageText(IDS_HINT_DQ_GET_INFO_FAIL), CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    }
    RtspRequest request;
    if (auto error = BuildRtsp(ctx.kv, current, request))
        return Fail(ctx.options, *error);
    pCmd->Cmd_ControlRTSP(dwID, 1, request.bAuthenticate ? 1 : 0, request.dwMainMode, request.dwSubMode);
    ctx.client.RunFor(200);
    if (!readRtsp()) {
        PrintError(ctx.options, "the camera did not answer the read-back", CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    }
    const json values = {{"auth", current.bEnableAuthenticate != 0},
                         {"main", {current.ucMainFps, current.ucMainResolution, current.usMainBitrate}},
                         {"sub", {current.ucSubFps, current.ucSubResolution, current.usSubBitrate}}};
    const bool bSame =
        (current.bEnableAuthenticate != 0) == request.bAuthenticate &&
        MakeSessionMode(current.usMainBitrate, current.ucMainFps, current.ucMainResolution) ==
            request.dwMainMode &&
        MakeSessionMode(current.usSubBitrate, current.ucSubFps, current.ucSubResolution) == request.dwSubMode;
    if (!bSame) {
        PrintError(ctx.options, "the camera kept other values: " + values.dump(), CLI_EXIT_REFUSED);
        return CLI_EXIT_REFUSED;
    }
    PrintOk(ctx.options, "rtsp", values);
    return CLI_EXIT_OK;
}

} // namespace

std::string PrecheckSet(const std::string& strGroup, const std::vector<std::string>& vecAssignments)
{
    const SettingGroup* pGroup = FindSettingGroup(strGroup);
    if (pGroup == nullptr) {
        std::string strList;
        for (const SettingGroup& group : GetSettingGroups())
            strList += std::string(strList.empty() ? "" : ", ") + group.pszName;
        return "unknown group " + strGroup + " (groups: " + strList + ")";
    }
    KeyValues kv;
    if (auto error = ParseAssignments(vecAssignments, kv))
        return CheckMessage(*error);
    if (kv.empty())
        return "nothing to set: give key=value pairs (" + std::string(pGroup->pszHelp) + ")";
    if (auto error = CheckKnownKeys(kv, pGroup->vecKeys))
        return CheckMessage(*error);

    // The values that need no camera record, checked against an empty one; only errors of
    // the keys given count here (the rest depends on what the camera holds).
    CheckResult result;
    if (strGroup == "name") {
        std::string s;
        bool b = false;
        result = BuildName(kv, s, b);
    } else if (strGroup == "ntp") {
        NtpInfo info{};
        result = BuildNtp(kv, info);
    } else if (strGroup == "network") {
        NetParamRecord record{};
        result = BuildNetParam(kv, record);
    } else if (strGroup == "3g") {
        ThreeGRequest request;
        result = BuildThreeG(kv, request);
    } else if (strGroup == "port") {
        WORD us = 0;
        result = BuildCameraPort(kv, us);
    } else if (strGroup == "upnp" || strGroup == "dserver") {
        bool b = false;
        result = BuildSwitch(kv, strGroup == "upnp" ? "enable" : "connect", b);
    } else if (strGroup == "motion") {
        MotionInfo info{};
        result = BuildMotion(kv, info);
    } else if (strGroup == "do" || strGroup == "sms") {
        BYTE ab[4] = {};
        result = BuildTriggers(kv, ab);
    } else if (strGroup == "mail") {
        MailInfo info{};
        result = BuildMail(kv, info);
    } else if (strGroup == "sd" || strGroup == "nas") {
        RecordInfo info{};
        // An empty record has no valid stream; give the page's defaults where keys are missing.
        info.dwSessionMode = MakeSessionMode(1000, 30, 7);
        result = BuildRecord(kv, strGroup == "nas", info);
    } else if (strGroup == "rtsp") {
        RtspInfo current{};
        current.ucMainFps = current.ucSubFps = 30;
        current.ucMainResolution = current.ucSubResolution = 7;
        current.usMainBitrate = current.usSubBitrate = 1000;
        RtspRequest request;
        result = BuildRtsp(kv, current, request);
    } else if (strGroup == "snapshot") {
        SnapshotServerInfo current{};
        SnapshotRequest request;
        result = BuildSnapshot(kv, current, request);
    } else if (strGroup == "timeformat") {
        BYTE by = 0;
        result = BuildTimeFormat(kv, by);
    } else if (strGroup == "microphone") {
        MicrophoneRequest request;
        result = BuildMicrophone(kv, request);
    } else if (strGroup == "password") {
        for (const char* pszKey : {"old", "new", "confirm"}) {
            if (kv.contains(pszKey) && !result)
                result = CheckPasswordText(pszKey, kv[pszKey]);
        }
        if (!result && kv.contains("new") && kv.contains("confirm"))
            result = CheckPasswordsMatch("confirm", kv["new"], kv["confirm"]);
    }
    if (result && (result->strKey.empty() || kv.contains(result->strKey)) &&
        result->dwStringID != IDS_HINT_PASSERR)
        return CheckMessage(*result);
    return std::string();
}

int CmdSet(const CliOptions& options, const std::string& strCamera, const std::string& strGroupGiven,
           const std::vector<std::string>& vecAssignments, const std::string* pPassword)
{
    const std::string strSetGroup = SetGroupName(strGroupGiven);
    const std::string& strGroup = strSetGroup.empty() ? strGroupGiven : strSetGroup;
    if (const std::string strError = PrecheckSet(strGroup, vecAssignments); !strError.empty()) {
        PrintError(options, strError + " (nothing sent)", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    DeviceInfo* pDevice = FindOrReport(client, options, strCamera);
    if (pDevice == nullptr)
        return CLI_EXIT_NOT_FOUND;
    // Refused at once: the camera would never answer a group it does not have.
    if (!SetGroupApplies(strGroup, *pDevice, client.ParentOf(*pDevice))) {
        PrintError(options,
                   "a " + std::string(KindText(pDevice->enCameraType)) + " has no " + strGroup +
                       " settings (nothing sent)",
                   CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    if (const int nExit = ApplyPassword(client, options, pDevice, pPassword, true); nExit != CLI_EXIT_OK)
        return nExit;

    SetContext ctx{client, options, pDevice, {}};
    ParseAssignments(vecAssignments, ctx.kv);
    const GroupRead read = ReadOf(strGroup);
    if (read.pFlag == nullptr)
        return SetByEvent(ctx, strGroup);

    // Like a page: wait for the camera's current values before anything is changed.
    if (!WaitForGroup(client, *pDevice, read, options.nWaitSeconds * 1000)) {
        PrintError(options, CCliClient::LanguageText(IDS_HINT_GET_INFO_FAIL), CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    }

    CEngCmd* pCmd = GetEngCmd();
    CEngOffCmd* pLan = CEngOffCmd::GetInstance();
    DeviceInfo& d = *pDevice;
    const DWORD dwID = d.GetID();

    if (strGroup == "ntp") {
        NtpInfo info = d.stNtp;
        if (auto error = BuildNtp(ctx.kv, info))
            return Fail(options, *error);
        d.stNtp = info;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pCmd->Cmd_SetNTP(dwID, info);
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "network") {
        NetParamRecord record = d.stNetParam;
        if (auto error = BuildNetParam(ctx.kv, record))
            return Fail(options, *error);
        std::memset(record.szSerial, 0, sizeof(record.szSerial));
        std::memcpy(record.szSerial, d.GetSerial(),
                    std::min(std::strlen(d.GetSerial()), sizeof(record.szSerial) - 1));
        d.stNetParam = record;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pLan->Cmd_SetNetParam(record);
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "wifi") {
        if (d.pWifiRecord == nullptr) {
            PrintError(options, CCliClient::LanguageText(IDS_HINT_GET_INFO_FAIL), CLI_EXIT_TIMEOUT);
            return CLI_EXIT_TIMEOUT;
        }
        WifiRecord record;
        std::memcpy(&record, d.pWifiRecord, sizeof(record));
        if (auto error = BuildWifi(ctx.kv, *d.pWifiRecord, record.stBlock))
            return Fail(options, *error);
        pLan->Cmd_WifiSet(record);
        if (!ReadBack(ctx, read))
            return CLI_EXIT_TIMEOUT;
        const json actual = GroupNow(ctx, "wifi");
        if (d.pWifiRecord == nullptr || !WifiSettingsMatch(d.pWifiRecord->stBlock, record.stBlock)) {
            PrintError(options, "the camera kept other values: " + actual.dump(), CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        PrintOk(options, "wifi", actual);
        return CLI_EXIT_OK;
    }
    if (strGroup == "3g") {
        ThreeGRequest request;
        if (d.pThreeGRecord != nullptr) {
            const ThreeGRecord& t = *d.pThreeGRecord;
            request.bConnectType = t.bConnectType;
            request.bUseDefaultDial = t.bUseDefaultDial;
            request.strAPN = std::string(t.szAPN, strnlen(t.szAPN, sizeof(t.szAPN)));
            request.strTelNum = std::string(t.szTelNum, strnlen(t.szTelNum, sizeof(t.szTelNum)));
            request.strAccount = std::string(t.szAccount, strnlen(t.szAccount, sizeof(t.szAccount)));
            request.strPassword = std::string(t.szPassword, strnlen(t.szPassword, sizeof(t.szPassword)));
        }
        request.bIs3GCam = d.stQuery.bHas3G;
        if (auto error = BuildThreeG(ctx.kv, request))
            return Fail(options, *error);
        pLan->Cmd_3GSet(d.GetSerial(), request.bOperation, request.bConnectType, request.bUseDefaultDial,
                        request.bIs3GCam, request.strAPN.c_str(), request.strTelNum.c_str(),
                        request.strAccount.c_str(), request.strPassword.c_str());
        if (!ReadBack(ctx, read))
            return CLI_EXIT_TIMEOUT;
        const json actual = GroupNow(ctx, "3g");
        const ThreeGRecord* pNow = d.pThreeGRecord;
        // With the default dial the camera keeps its own APN and number; the rest must hold.
        const bool bSame =
            pNow != nullptr && pNow->bConnectType == request.bConnectType &&
            (pNow->bUseDefaultDial != 0) == (request.bUseDefaultDial != 0) &&
            (request.bUseDefaultDial || (actual.value("apn", std::string()) == request.strAPN &&
                                         actual.value("tel", std::string()) == request.strTelNum &&
                                         actual.value("account", std::string()) == request.strAccount));
        if (!bSame) {
            PrintError(options, "the camera kept other values: " + actual.dump(), CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        PrintOk(options, "3g", actual);
        return CLI_EXIT_OK;
    }
    if (strGroup == "port") {
        WORD usPort = 0;
        if (auto error = BuildCameraPort(ctx.kv, usPort))
            return Fail(options, *error);
        // 0 asks the camera to pick one, so only the answer can say which.
        const bool bRandom = usPort == 0;
        d.stPort.usPort1 = usPort;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pCmd->Cmd_CameraPort(dwID, 0, usPort);
        if (bRandom) {
            if (!ReadBack(ctx, read))
                return CLI_EXIT_TIMEOUT;
            // The camera picks the port; the one read back must be a real one.
            if (d.stPort.usPort1 == 0) {
                PrintError(options, "the camera did not pick a port", CLI_EXIT_REFUSED);
                return CLI_EXIT_REFUSED;
            }
            PrintOk(options, "ports", GroupNow(ctx, "ports"));
            return CLI_EXIT_OK;
        }
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "upnp") {
        bool bEnable = false;
        if (auto error = BuildSwitch(ctx.kv, "enable", bEnable))
            return Fail(options, *error);
        pCmd->Cmd_UpnpConnect(dwID, bEnable ? 1 : 0);
        if (!ReadBack(ctx, read))
            return CLI_EXIT_TIMEOUT;
        // The first state byte is the switch.
        if ((d.stUpnp.abValue[0] != 0) != bEnable) {
            PrintError(options, "the camera kept other values: " + GroupNow(ctx, "upnp").dump(),
                       CLI_EXIT_REFUSED);
            return CLI_EXIT_REFUSED;
        }
        PrintOk(options, "upnp", GroupNow(ctx, "upnp"));
        return CLI_EXIT_OK;
    }
    if (strGroup == "motion") {
        MotionInfo info = d.stMotion;
        if (auto error = BuildMotion(ctx.kv, info))
            return Fail(options, *error);
        d.stMotion = info;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pCmd->Cmd_SetMotion(dwID, info);
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "do" || strGroup == "sms") {
        DoInfo info = d.stDo;
        if (auto error = BuildTriggers(ctx.kv, strGroup == "do" ? info.abDo : info.abSms))
            return Fail(options, *error);
        d.stDo = info;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pCmd->Cmd_SetDo(dwID, info);
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "mail") {
        MailInfo info = d.stMail;
        if (auto error = BuildMail(ctx.kv, info))
            return Fail(options, *error);
        d.stMail = info;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pCmd->Cmd_SetMail(dwID, info);
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "sd" || strGroup == "nas") {
        const bool bNas = strGroup == "nas";
        RecordInfo info = bNas ? d.stRecordNas : d.stRecordSD;
        if (auto error = BuildRecord(ctx.kv, bNas, info))
            return Fail(options, *error);
        // HD only where the recording page offers it: the camera records HD already, or its
        // capability report (asked for once it was found) says it encodes HD.
        const DWORD dwCurrent = (bNas ? d.stRecordNas : d.stRecordSD).dwSessionMode;
        if (CheckHD(false, dwCurrent, info.dwSessionMode)) {
            if (!ctx.client.RunUntil([&] { return d.stQuery.bCmdGetSensor != 0; }, kConfirmWaitMs)) {
                PrintError(options, "the camera did not report its capabilities", CLI_EXIT_TIMEOUT);
                return CLI_EXIT_TIMEOUT;
            }
            if (auto error = CheckHD(d.SupportsHD(), dwCurrent, info.dwSessionMode))
                return Fail(options, *error);
        }
        (bNas ? d.stRecordNas : d.stRecordSD) = info;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        if (bNas)
            pCmd->Cmd_SetRecordNas(dwID, info);
        else
            pCmd->Cmd_SetRecordSD(dwID, info);
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "snapshot") {
        SnapshotRequest request;
        if (auto error = BuildSnapshot(ctx.kv, d.stSnapshotServer, request))
            return Fail(options, *error);
        SnapshotServerInfo& s = d.stSnapshotServer;
        s.bEnableSnapshotServer = request.ucEnable & 1;
        s.ucPicCount = request.ucEnable >> 1;
        s.bRegion1Send = request.ucMode & 1;
        s.bRegion2Send = (request.ucMode >> 1) & 1;
        s.bRegion3Send = (request.ucMode >> 2) & 1;
        s.bRegionDISend = (request.ucMode >> 3) & 1;
        s.b485Send = (request.ucMode >> 4) & 1;
        s.bSendInTimer = (request.ucMode >> 5) & 1;
        s.usTimeInterval = request.usParam;
        s.ulServerIP = request.ulServerIP;
        s.ulServerPort = request.ulServerPort;
        s.ucPicResolution = SessionModeResolution(request.ulSessionMode);
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pCmd->Cmd_ControlSnapshotServer(dwID, 1, request.ucEnable, request.ucMode, request.usParam,
                                        request.ulServerIP, request.ulServerPort, request.ulSessionMode);
        return ConfirmGroup(ctx, read, expected);
    }
    if (strGroup == "timeformat") {
        BYTE byFormat = 0;
        if (auto error = BuildTimeFormat(ctx.kv, byFormat))
            return Fail(options, *error);
        d.bTimeFormat = byFormat;
        const json expected = GroupNow(ctx, read.pszQueryGroup);
        pCmd->Cmd_SetTimeFormat(dwID, byFormat);
        return ConfirmGroup(ctx, read, expected);
    }
    // microphone
    MicrophoneRequest request;
    request.bVolMicrophone = d.stMicrophone.bVolMicrophone;
    request.bMicEnable = d.stMicrophone.bMicEnable != 0;
    request.bMicrophoneType = d.stMicrophone.bMicrophoneType;
    if (auto error = BuildMicrophone(ctx.kv, request))
        return Fail(options, *error);
    d.stMicrophone.bVolMicrophone = request.bVolMicrophone;
    d.stMicrophone.bMicEnable = request.bMicEnable ? 1 : 0;
    d.stMicrophone.bMicrophoneType = request.bMicrophoneType;
    const json expected = GroupNow(ctx, read.pszQueryGroup);
    pCmd->Cmd_SetMicrophone(dwID, request.bVolMicrophone, request.bMicEnable, request.bMicrophoneType);
    pCmd->Cmd_MicrophoneChanged(dwID);
    return ConfirmGroup(ctx, read, expected);
}

// --- upgrade ---

namespace {

class CCliUpgradeListener : public IUpgradeListener {
public:
    CCliUpgradeListener(const CliOptions& options, CCliClient& client) : m_options(options), m_client(client)
    {
    }

    void OnUpgradeText(const UpgradeEntry& entry, DWORD dwStringID, int nPercent) override
    {
        const std::string strText = CCliClient::LanguageText(dwStringID);
        m_mapLast[entry.szSerial] = dwStringID;
        if (m_options.bJson) {
            json j = {{"serial", entry.szSerial},
                      {"state", entry.nState},
                      {"text", strText},
                      {"string_id", dwStringID}};
            if (nPercent >= 0)
                j["percent"] = nPercent;
            // Progress goes into the one closing document.
            m_progress.push_back(j);
        } else {
            std::cout << entry.szSerial << ": " << strText;
            if (nPercent >= 0)
                std::cout << " " << nPercent << "%";
            std::cout << std::endl;
        }
    }

    void OnUpgradeRebooting(const UpgradeEntry& entry) override
    {
        m_client.Manager()->OnFirmwareWritten(entry.szSerial);
    }

    // The last text of each camera, by serial.
    const std::map<std::string, DWORD>& LastTexts() const { return m_mapLast; }
    const json& Progress() const { return m_progress; }

private:
    const CliOptions& m_options;
    CCliClient& m_client;
    std::map<std::string, DWORD> m_mapLast;
    json m_progress = json::array();
};

int UpgradeExit(DWORD dwStringID)
{
    switch (dwStringID) {
    case IDS_UPDATE_WAITREBOOT:
    case IDS_UPDATE_WAITREBOOT1:
    case IDS_UPDATE_FINISH:
        return CLI_EXIT_OK;
    case IDS_UPDATE_NORESPOND:
    case IDS_UPDATE_NORESPOND1:
        return CLI_EXIT_TIMEOUT;
    case IDS_UPDATE_ERROPENFILE:
    case IDS_UPDATE_ERRREADFILE:
    case IDS_UPDATE_ERRREADFILE1:
        return CLI_EXIT_BAD_ARGUMENTS;
    default:
        return CLI_EXIT_REFUSED;
    }
}

} // namespace

int CmdUpgrade(const CliOptions& options, const std::vector<std::string>& vecCameras,
               const std::string& strImageDir, int nTimeoutSeconds, const std::string* pPassword)
{
    if (std::FILE* pImage = std::fopen(CFirmwareUpgrade::ImagePath(strImageDir).c_str(), "rb")) {
        std::fclose(pImage);
    } else {
        PrintError(options,
                   CCliClient::LanguageText(IDS_UPDATE_ERROPENFILE) + ": " +
                       CFirmwareUpgrade::ImagePath(strImageDir) + " (nothing sent)",
                   CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;

    std::vector<DeviceInfo*> vecDevices;
    for (const std::string& strCamera : vecCameras) {
        DeviceInfo* pDevice = FindOrReport(client, options, strCamera);
        if (pDevice == nullptr)
            return CLI_EXIT_NOT_FOUND;
        if (pDevice->enCameraType == CAMERA_TYPE_CHILD) {
            PrintError(options, strCamera + " is a channel: upgrade its recorder", CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        // As the upgrade dialog: only the camera's owner rewrites its firmware.
        if (const int nExit = ApplyPassword(client, options, pDevice, pPassword, true); nExit != CLI_EXIT_OK)
            return nExit;
        vecDevices.push_back(pDevice);
    }

    CEngOffCmd* pLan = CEngOffCmd::GetInstance();
    CEngOffCmdFirmwareSender sender(pLan, GetEngCmd());
    CUpgradeWindow window(pLan, GetEngCmd());
    CCliUpgradeListener listener(options, client);
    CFirmwareUpgrade upgrade(&sender, &window, &listener);
    window.SetUpgrade(&upgrade);
    if (options.uTestGiveUpMs != 0)
        upgrade.SetGiveUpTimeForTest(options.uTestGiveUpMs);
    for (DeviceInfo* pDevice : vecDevices) {
        if (!upgrade.AddCamera(pDevice->GetSerial(), pDevice->GetID())) {
            PrintError(options, std::string("camera given twice: ") + pDevice->GetSerial(),
                       CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
    }
    if (!upgrade.Start(strImageDir)) {
        PrintError(options,
                   CCliClient::LanguageText(IDS_UPDATE_ERROPENFILE) + ": " +
                       CFirmwareUpgrade::ImagePath(strImageDir),
                   CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    const bool bDone = client.RunUntil([&] { return !upgrade.IsRunning(); }, nTimeoutSeconds * 1000);

    int nExit = CLI_EXIT_OK;
    json results = json::array();
    for (const UpgradeEntry& entry : upgrade.GetEntries()) {
        const auto it = listener.LastTexts().find(entry.szSerial);
        const DWORD dwLast = it != listener.LastTexts().end() ? it->second : 0;
        int nCamera = !bDone && entry.nState != UPGRADE_IDLE ? CLI_EXIT_TIMEOUT : UpgradeExit(dwLast);
        // A camera whose run ended without a final text never got going.
        if (nCamera == CLI_EXIT_REFUSED && (dwLast == IDS_UPDATE_DOWNLOADING || dwLast == IDS_UPDATE_WRITING))
            nCamera = CLI_EXIT_TIMEOUT;
        const std::string strResult = nCamera == CLI_EXIT_TIMEOUT && dwLast != IDS_UPDATE_NORESPOND
                                          ? CCliClient::LanguageText(IDS_UPDATE_NORESPOND)
                                          : CCliClient::LanguageText(dwLast);
        results.push_back({{"serial", entry.szSerial}, {"result", strResult}, {"exit", nCamera}});
        if (!options.bJson)
            std::cout << entry.szSerial << ": result: " << strResult << std::endl;
        // The worst outcome decides: refused, then timeout, then bad arguments.
        if (nCamera == CLI_EXIT_REFUSED || (nCamera == CLI_EXIT_TIMEOUT && nExit != CLI_EXIT_REFUSED) ||
            (nExit == CLI_EXIT_OK && nCamera != CLI_EXIT_OK))
            nExit = nCamera;
    }
    if (options.bJson)
        std::cout << json{{"ok", nExit == CLI_EXIT_OK},
                          {"exit", nExit},
                          {"results", results},
                          {"progress", listener.Progress()}}
                         .dump()
                  << std::endl;
    return nExit;
}

// --- watch ---

namespace {

int g_aSignalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_aSignalPipe[1], &c, 1);
}

} // namespace

int CmdWatch(const CliOptions& options, int nSeconds)
{
    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;

    // SIGINT/SIGTERM end the watch through the loop, so the client shuts down in order.
    bool bStop = false;
    std::unique_ptr<QSocketNotifier> pNotifier;
    if (::pipe(g_aSignalPipe) == 0) {
        pNotifier = std::make_unique<QSocketNotifier>(g_aSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(pNotifier.get(), &QSocketNotifier::activated, [&] { bStop = true; });
        std::signal(SIGINT, OnStopSignal);
        std::signal(SIGTERM, OnStopSignal);
    }

    client.SetNotifyHandler([&](DWORD dwNotifyID, DeviceInfo* pDevice) {
        const char* pszEvent = dwNotifyID == DWORD_NOTIFYID_CAMERA_EXIST_ONLINE    ? "online"
                               : dwNotifyID == DWORD_NOTIFYID_CAMERA_EXIST_OFFLINE ? "offline"
                               : dwNotifyID == DWORD_NOTIFYID_CAMERA_LIST_INFO     ? "list_info"
                                                                                   : nullptr;
        if (pszEvent == nullptr || pDevice == nullptr)
            return;
        const json summary = DeviceSummaryJson(*pDevice, *GetConfigCameraType());
        if (options.bJson) {
            json j = {{"event", pszEvent},
                      {"notify", dwNotifyID},
                      {"id", pDevice->GetID()},
                      {"serial", summary["serial"]},
                      {"name", summary["name"]},
                      {"address", summary["address"]},
                      {"found_by", summary["found_by"]},
                      {"tick", GetTickCount()}};
            std::cout << j.dump() << std::endl;
        } else {
            std::cout << pszEvent << " " << pDevice->GetID() << " " << summary["serial"].get<std::string>()
                      << " " << summary["address"].get<std::string>() << " "
                      << summary["name"].get<std::string>() << std::endl;
        }
    });
    client.RunUntil([&] { return bStop; }, nSeconds > 0 ? nSeconds * 1000 : INT32_MAX);
    client.SetNotifyHandler(nullptr);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return CLI_EXIT_OK;
}

int OpenStreamingCameras(CCliClient& client, const CliOptions& options,
                         const std::vector<std::string>& vecCameras, const std::string* pPassword,
                         std::vector<DeviceInfo*>& vecDevices)
{
    for (const std::string& strCamera : vecCameras) {
        DeviceInfo* pDevice = FindOrReport(client, options, strCamera);
        if (pDevice == nullptr)
            return CLI_EXIT_NOT_FOUND;
        // The viewer engine addresses a recorder's channels, not the recorder, for media.
        if (pDevice->enCameraType == CAMERA_TYPE_PARENT) {
            PrintError(options, "a recorder has no video of its own: address one of its channels",
                       CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        if (std::find(vecDevices.begin(), vecDevices.end(), pDevice) != vecDevices.end()) {
            PrintError(options, "camera given twice: " + strCamera, CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        if (const int nExit = ApplyPassword(client, options, pDevice, pPassword, true); nExit != CLI_EXIT_OK)
            return nExit;
        // A camera without a check value still wants a token from the sequence numbers it
        // announced (with the all-zero key); start video sends the stored one as it is.
        if (!pDevice->stPassword.HasPassword())
            MakeToken(pDevice->stPassword);
        vecDevices.push_back(pDevice);
    }
    return CLI_EXIT_OK;
}
