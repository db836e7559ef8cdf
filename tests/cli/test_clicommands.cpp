// The command layer's decisions that need no camera: which groups a device has and under which
// names, where the password comes from, the shape of a failure document, the checks before a
// set, and when a read-back counts as the same Wi-Fi settings.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clidevice.h"
#include "device/settinggroups.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>

namespace {

std::unique_ptr<DeviceInfo> Device(DWORD enKind, bool bWifi = false, bool b3G = false)
{
    auto pDevice = std::make_unique<DeviceInfo>();
    pDevice->enCameraType = enKind;
    pDevice->stQuery.bHasWifi = bWifi;
    pDevice->stQuery.bHas3G = b3G;
    return pDevice;
}

std::set<std::string> Groups(const DeviceInfo& device, const DeviceInfo* pParent)
{
    std::set<std::string> groups;
    for (const SettingGroup& group : GetSettingGroups()) {
        if (SetGroupApplies(group.pszName, device, pParent))
            groups.insert(group.pszName);
    }
    return groups;
}

} // namespace

TEST(CliGroups, EachKindHasItsOwnSetGroups)
{
    const std::set<std::string> video = {"do",   "mail", "microphone", "motion", "nas",
                                         "rtsp", "sd",   "snapshot",   "sms",    "timeformat"};
    const std::set<std::string> own = {"dserver", "network", "ntp", "port", "upnp"};
    auto join = [](std::set<std::string> a, const std::set<std::string>& b) {
        a.insert(b.begin(), b.end());
        a.insert({"name", "password"});
        return a;
    };
    std::set<std::string> full = join(video, own);
    full.insert({"wifi", "3g"});
    std::set<std::string> channel = join(video, {});
    channel.erase("microphone"); // the volume is the recorder's
    std::set<std::string> recorderGroups = join(own, {});
    recorderGroups.insert("microphone");

    const auto pRecorder = Device(CAMERA_TYPE_PARENT);
    struct Case {
        const char* name;
        std::unique_ptr<DeviceInfo> pDevice;
        const DeviceInfo* pParent;
        std::set<std::string> expected;
    };
    Case cases[] = {
        {"camera", Device(CAMERA_TYPE_SINGLE), nullptr, join(video, own)},
        {"camera with Wi-Fi and 3G", Device(CAMERA_TYPE_SINGLE, true, true), nullptr, full},
        {"recorder", Device(CAMERA_TYPE_PARENT), nullptr, recorderGroups},
        {"channel", Device(CAMERA_TYPE_CHILD), pRecorder.get(), channel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Groups(*c.pDevice, c.pParent), c.expected);
    }
}

TEST(CliGroups, SetTakesTheNamesInfoShowsAndGetFindsEverySetGroup)
{
    for (const SettingGroup& group : GetSettingGroups()) {
        const std::string strSet = group.pszName;
        SCOPED_TRACE(strSet);
        EXPECT_EQ(SetGroupName(strSet), strSet);
        const std::string strInfo = InfoGroupName(strSet);
        // Groups answered by an event of their own have no query group.
        if (strSet == "name" || strSet == "password" || strSet == "rtsp")
            continue;
        EXPECT_TRUE(IsQueryGroupName(strInfo)) << strInfo;
        if (strSet != "sms") {
            EXPECT_EQ(SetGroupName(strInfo), strSet);
        }
    }
    EXPECT_EQ(SetGroupName("do"), "do");
    EXPECT_EQ(SetGroupName("version"), "");
    EXPECT_EQ(SetGroupName("nosuch"), "");
    EXPECT_TRUE(IsQueryGroupName("sensor_9900"));
    EXPECT_TRUE(IsQueryGroupName("sensor_9p031"));
    EXPECT_FALSE(IsQueryGroupName("port"));
}

TEST(CliGroups, AChannelIsAskedForItsVideoReportOnceItsRecorderKnowsItsCapability)
{
    const auto pRecorder = Device(CAMERA_TYPE_PARENT);
    const auto pChannel = Device(CAMERA_TYPE_CHILD);
    DeviceInfo& recorder = *pRecorder;
    DeviceInfo& channel = *pChannel;
    auto has = [&](const char* pszGroup) {
        for (const QueryGroup& group : ApplicableQueryGroups(channel, &recorder)) {
            if (std::strcmp(group.pszName, pszGroup) == 0)
                return true;
        }
        return false;
    };
    EXPECT_FALSE(has("video_report"));
    recorder.stQuery.bCmdGetSensor = 1;
    EXPECT_TRUE(has("video_report"));

    // Done when every group answered, or after four passes whatever is missing.
    for (const QueryGroup& group : ApplicableQueryGroups(channel, &recorder))
        channel.stQuery.*group.pFlag = 1;
    EXPECT_TRUE(IsQueryDone(channel, &recorder));
    channel.stQuery.bCmdGetMotion = 0;
    EXPECT_FALSE(IsQueryDone(channel, &recorder));
    EXPECT_EQ(MissingQueryGroups(channel, &recorder), std::vector<std::string>{"motion"});
    channel.stQuery.nQueryPass = 4;
    EXPECT_TRUE(IsQueryDone(channel, &recorder));
}

TEST(CliPassword, GivenThenFileThenEnvironment)
{
    const std::string strDir = ::testing::TempDir();
    const std::string strFile = strDir + "/cli-password", strCrlf = strDir + "/cli-password-crlf";
    std::ofstream(strFile) << "fromfile\nsecond line\n";
    std::ofstream(strCrlf) << "dos\r\n";
    const std::string strGiven = "given", strMissing = strDir + "/no-such-password-file";
    struct Case {
        const char* name;
        const std::string* pGiven;
        const std::string* pFile;
        const char* pszEnv;
        std::optional<std::string> expected;
        bool bError;
    };
    const Case cases[] = {
        {"option wins over the environment", &strGiven, nullptr, "env", "given", false},
        {"file, first line", nullptr, &strFile, "env", "fromfile", false},
        {"file of another system", nullptr, &strCrlf, nullptr, "dos", false},
        {"environment", nullptr, nullptr, "env", "env", false},
        {"empty environment is a password", nullptr, nullptr, "", "", false},
        {"none", nullptr, nullptr, nullptr, std::nullopt, false},
        {"both options", &strGiven, &strFile, nullptr, std::nullopt, true},
        {"unreadable file", nullptr, &strMissing, "env", std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<std::string> password = "stale";
        const std::string strError = ResolvePassword(c.pGiven, c.pFile, c.pszEnv, password);
        EXPECT_EQ(!strError.empty(), c.bError) << strError;
        EXPECT_EQ(password, c.expected);
    }
    std::filesystem::remove(strFile);
    std::filesystem::remove(strCrlf);
}

TEST(CliErrors, OneDocumentWithCodeAndMessagePerExit)
{
    const std::pair<int, const char*> codes[] = {
        {CLI_EXIT_FAILURE, "failure"},     {CLI_EXIT_BAD_ARGUMENTS, "bad_arguments"},
        {CLI_EXIT_NOT_FOUND, "not_found"}, {CLI_EXIT_WRONG_PASSWORD, "wrong_password"},
        {CLI_EXIT_REFUSED, "refused"},     {CLI_EXIT_TIMEOUT, "timeout"},
    };
    for (const auto& [nExit, pszCode] : codes) {
        const nlohmann::json j = ErrorJson(nExit, "why");
        EXPECT_EQ(j,
                  (nlohmann::json{
                      {"ok", false}, {"exit", nExit}, {"error", {{"code", pszCode}, {"message", "why"}}}}));
    }
}

TEST(CliSet, PrecheckRefusesBeforeAnythingIsSent)
{
    struct Case {
        const char* group;
        std::vector<std::string> values;
        bool ok;
    };
    const Case cases[] = {
        {"port", {"camera=3479"}, true},
        {"port", {"camera=7998"}, false},
        {"port", {"nosuchkey=1"}, false},
        {"port", {}, false},
        {"nosuchgroup", {"a=1"}, false},
        {"ntp", {"zone=-05:30", "server=ntp.lab"}, true},
        {"ntp", {"zone=+15:00"}, false},
        {"network", {"ip=198.18.0.300"}, false},
        {"mail", {"recipients=a@x,b@x,c@x,d@x,e@x,f@x"}, false},
        {"rtsp", {"main_bps=10001"}, false},
        {"upnp", {"enable=on"}, true},
        {"upnp", {"enable=maybe"}, false},
        {"password", {"new=abc", "confirm=abd"}, false},
        {"password", {"new=abc", "confirm=abc"}, true},
    };
    for (const Case& c : cases) {
        const std::string strError = PrecheckSet(c.group, c.values);
        EXPECT_EQ(strError.empty(), c.ok)
            << c.group << " " << (c.values.empty() ? "" : c.values[0]) << ": " << strError;
    }
}

TEST(CliSet, WifiReadBackMatchesOnTheFieldsAUserSets)
{
    WifiSettingsBlock sent{};
    sent.NetworkType = 0;
    sent.SsidLength = 6;
    std::memcpy(sent.Ssid, "labnet", 6);
    std::strcpy(sent.WPAPSKKey, "wpa-secret");
    sent.AuthMode = 4;
    sent.EncType = 3;
    sent.AdhocChannel = 6;
    WifiSettingsBlock back = sent;
    back.abyUnknown2[3] = 9; // state the camera keeps of its own
    back.usValue1 = 77;
    std::memset(back.Ssid + 6, 'x', 4); // beyond the length
    EXPECT_TRUE(WifiSettingsMatch(sent, back));
    const std::vector<std::function<void(WifiSettingsBlock&)>> changes = {
        [](WifiSettingsBlock& w) { w.NetworkType = 1; },   [](WifiSettingsBlock& w) { w.SsidLength = 5; },
        [](WifiSettingsBlock& w) { w.Ssid[0] = 'L'; },     [](WifiSettingsBlock& w) { w.WPAPSKKey[0] = 'W'; },
        [](WifiSettingsBlock& w) { w.AuthMode = 0; },      [](WifiSettingsBlock& w) { w.EncType = 0; },
        [](WifiSettingsBlock& w) { w.AdhocChannel = 11; }, [](WifiSettingsBlock& w) { w.WEPKeyDefIndex = 2; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        WifiSettingsBlock other = sent;
        changes[i](other);
        EXPECT_FALSE(WifiSettingsMatch(sent, other)) << i;
    }
}
