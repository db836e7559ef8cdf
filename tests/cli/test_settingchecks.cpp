// The command-line client's input checks: what is refused before anything is sent.
#include "core/language.h"
#include "core/stringids.h"
#include "device/settingchecks.h"
#include "device/settinggroups.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string English(DWORD dwID)
{
    static CLanguageManager language;
    language.LoadLanguage(9);
    return WideToUtf8(language.GetString(dwID));
}

KeyValues KV(std::initializer_list<std::pair<const std::string, std::string>> list)
{
    return KeyValues(list);
}

} // namespace

TEST(SettingChecks, StrictIPv4AcceptsOnlyFourPlainOctets)
{
    DWORD dwIP = 0;
    EXPECT_TRUE(ParseIPv4Strict("198.18.0.10", dwIP));
    EXPECT_EQ(dwIP, 0xC612000Au);
    EXPECT_TRUE(ParseIPv4Strict("0.0.0.0", dwIP));
    EXPECT_TRUE(ParseIPv4Strict("255.255.255.255", dwIP));
    for (const char* psz :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", "01.2.3.4", "1.2.3.4 ", " 1.2.3.4", "1..3.4",
          "1.2.3.", "a.b.c.d", "1.2.3.+4", "0x1.2.3.4", "1.2.3.1000"}) {
        dwIP = 7;
        EXPECT_FALSE(ParseIPv4Strict(psz, dwIP)) << psz;
        EXPECT_EQ(dwIP, 7u) << "untouched on failure: " << psz;
    }
}

TEST(SettingChecks, ServerAddressesMustNameAHost)
{
    DWORD dwIP = 0;
    EXPECT_FALSE(CheckAddress("server", "198.18.0.2", true, dwIP));
    for (const char* psz : {"0.0.0.0", "255.255.255.255", "198.18.0"}) {
        const CheckResult result = CheckAddress("server", psz, true, dwIP);
        ASSERT_TRUE(result) << psz;
        EXPECT_EQ(result->dwStringID, IDS_HINT_INVALIDIP);
        EXPECT_EQ(result->strKey, "server");
    }
    // Other addresses (a gateway, a DNS server) may well be 0.0.0.0.
    EXPECT_FALSE(CheckAddress("dns2", "0.0.0.0", false, dwIP));
}

TEST(SettingChecks, CameraPortIsZeroOrTheRange)
{
    WORD usPort = 1;
    EXPECT_FALSE(CheckCameraPort("camera", "0", usPort));
    EXPECT_EQ(usPort, 0);
    EXPECT_FALSE(CheckCameraPort("camera", "3479", usPort));
    EXPECT_FALSE(CheckCameraPort("camera", "7997", usPort));
    EXPECT_EQ(usPort, 7997);
    for (const char* psz : {"3478", "7998", "-1", "65536", "80x", "", "1e3"}) {
        const CheckResult result = CheckCameraPort("camera", psz, usPort);
        ASSERT_TRUE(result) << psz;
        EXPECT_EQ(result->dwStringID, IDS_HINT_PORTRANGE);
        EXPECT_EQ(result->vecArgs, (std::vector<long>{3479, 7997}));
    }
    EXPECT_EQ(usPort, 7997);
    // The message reads as the page's, bounds filled in.
    EXPECT_EQ(FormatCheckError(*CheckCameraPort("camera", "7998", usPort), English),
              "camera: The port range is from 3479 to 7997!");
}

TEST(SettingChecks, CameraNameRules)
{
    bool bCut = true;
    EXPECT_FALSE(CheckCameraName("name", "Gate", bCut));
    EXPECT_FALSE(bCut);
    EXPECT_TRUE(CheckCameraName("name", "", bCut));
    EXPECT_TRUE(CheckCameraName("name", " Gate", bCut));
    EXPECT_FALSE(CheckCameraName("name", std::string(32, 'x'), bCut));
    EXPECT_FALSE(bCut);
    EXPECT_FALSE(CheckCameraName("name", std::string(40, 'x'), bCut));
    EXPECT_TRUE(bCut);
}

TEST(SettingChecks, StreamBoundsFollowTheQualityTables)
{
    // PAL, 30 fps, HD: the floor is 375; NTSC: 1125.
    EXPECT_FALSE(CheckStream("", 30, 8, 375, true));
    const CheckResult low = CheckStream("", 30, 8, 374, true);
    ASSERT_TRUE(low);
    EXPECT_EQ(low->dwStringID, IDS_HINT_MIN_BPS);
    EXPECT_EQ(low->vecArgs, std::vector<long>{375});
    EXPECT_EQ(low->strKey, "bps");
    ASSERT_TRUE(CheckStream("main_", 30, 8, 1000, false));
    EXPECT_EQ(CheckStream("main_", 30, 8, 1000, false)->vecArgs, std::vector<long>{1125});
    EXPECT_FALSE(CheckStream("", 30, 8, 10000, true));
    EXPECT_EQ(CheckStream("", 30, 8, 10001, true)->dwStringID, IDS_HINT_MAX_BPS);
    // Codes outside the tables.
    EXPECT_EQ(CheckStream("sub_", 9, 8, 500, true)->strKey, "sub_fps");
    EXPECT_EQ(CheckStream("", 30, 6, 500, true)->dwStringID, IDS_HINT_VALUE_EMPTY_ERROR);
    // Codes the cameras send back count too (8 is the NTSC twin of 10).
    EXPECT_FALSE(CheckStream("", 8, 5, 80, true));
}

TEST(SettingChecks, AssignmentsAndKeys)
{
    KeyValues kv;
    EXPECT_FALSE(ParseAssignments({"SSID=home=net", "key="}, kv));
    EXPECT_EQ(kv["ssid"], "home=net");
    EXPECT_EQ(kv["key"], "");
    KeyValues kv2;
    EXPECT_TRUE(ParseAssignments({"novalue"}, kv2));
    KeyValues kv3;
    EXPECT_TRUE(ParseAssignments({"=x"}, kv3));
    KeyValues kv4;
    EXPECT_EQ(ParseAssignments({"a=1", "A=2"}, kv4)->strKey, "a");
    EXPECT_FALSE(CheckKnownKeys(KV({{"camera", "0"}}), {"camera"}));
    EXPECT_EQ(CheckKnownKeys(KV({{"cam", "0"}}), {"camera"})->strKey, "cam");
}

TEST(SettingChecks, TimeZone)
{
    short nMinutes = 0;
    EXPECT_FALSE(ParseTimeZone("zone", "+08:00", nMinutes));
    EXPECT_EQ(nMinutes, 480);
    EXPECT_FALSE(ParseTimeZone("zone", "-05:30", nMinutes));
    EXPECT_EQ(nMinutes, -330);
    EXPECT_FALSE(ParseTimeZone("zone", "00:00", nMinutes));
    EXPECT_EQ(nMinutes, 0);
    for (const char* psz : {"8", "+8:0", "+08:60", "+15:00", "-12:01", "+-1:00", "08:00x", ""})
        EXPECT_TRUE(ParseTimeZone("zone", psz, nMinutes)) << psz;
}

TEST(SettingGroups, SnapshotRangesAndServer)
{
    SnapshotServerInfo current{};
    current.ulServerIP = 0xC6120002;
    current.ulServerPort = 21;
    current.usTimeInterval = 5;
    current.ucPicCount = 1;
    SnapshotRequest request;
    EXPECT_FALSE(BuildSnapshot(KV({{"enable", "on"}, {"count", "127"}, {"triggers", "motion2,intime"}}),
                               current, request));
    EXPECT_EQ(request.ucEnable, (127 << 1) | 1);
    EXPECT_EQ(request.ucMode, 0x22);
    EXPECT_EQ(request.usParam, 5);

    // 128 pictures do not fit the seven bits the camera reads them from.
    for (const auto& [strKey, strValue] :
         std::vector<std::pair<std::string, std::string>>{{"count", "0"},
                                                          {"count", "128"},
                                                          {"interval", "0"},
                                                          {"interval", "65536"},
                                                          {"port", "0"},
                                                          {"port", "65536"}}) {
        const CheckResult result = BuildSnapshot(KV({{strKey, strValue}}), current, request);
        ASSERT_TRUE(result) << strKey << "=" << strValue;
        // The port keeps the page's message; other numbers name their own range, in the
        // language's words.
        EXPECT_EQ(result->dwStringID, strKey == "port" ? IDS_HINT_PORTRANGE : IDS_HINT_NUMBER_RANGE);
        EXPECT_EQ(result->vecArgs, (std::vector<long>{1, strKey == "count" ? 127 : 65535}));
        EXPECT_EQ(result->strKey, strKey);
    }
    EXPECT_EQ(BuildSnapshot(KV({{"server", "255.255.255.255"}}), current, request)->dwStringID,
              IDS_HINT_INVALIDIP);
    // Switching on with no server configured is refused as well.
    SnapshotServerInfo empty{};
    EXPECT_EQ(BuildSnapshot(KV({{"enable", "on"}}), empty, request)->strKey, "server");
    EXPECT_TRUE(BuildSnapshot(KV({{"triggers", "motion4"}}), current, request));
}

TEST(SettingGroups, NetworkAddressesMasksAndPppoe)
{
    NetParamRecord record{};
    EXPECT_FALSE(BuildNetParam(
        KV({{"mode", "static"}, {"ip", "198.18.0.50"}, {"mask", "255.255.255.0"}, {"gateway", "198.18.0.1"}}),
        record));
    EXPECT_EQ(record.ucConnType, LAN_CONN_STATIC);
    EXPECT_EQ(record.dwIP, 0xC6120032u);
    EXPECT_EQ(record.dwNetmask, 0xFFFFFF00u);
    const NetParamRecord before = record;
    EXPECT_EQ(BuildNetParam(KV({{"mask", "255.0.255.0"}}), record)->dwStringID, IDS_HINT_INVALIDIP);
    EXPECT_EQ(BuildNetParam(KV({{"ip", "198.18.0.256"}}), record)->strKey, "ip");
    EXPECT_EQ(BuildNetParam(KV({{"ip", "0.0.0.0"}}), record)->strKey, "ip");
    EXPECT_EQ(BuildNetParam(KV({{"pppoe_password", "a"}, {"pppoe_confirm", "b"}}), record)->dwStringID,
              IDS_HINT_CONFIRMPASSERR);
    EXPECT_EQ(BuildNetParam(KV({{"mode", "wifi"}}), record)->strKey, "mode");
    EXPECT_EQ(std::memcmp(&before.dwIP, &record.dwIP, sizeof(DWORD)), 0);
}

TEST(SettingGroups, PasswordChangeNeedsTheStoredPasswordAndAMatchingConfirmation)
{
    PasswordInfo info{};
    PasswordFromText("old", info.pszInputPassword);
    PasswordChange change;
    EXPECT_FALSE(BuildPasswordChange(KV({{"new", "n3w"}}), info, change));
    EXPECT_EQ(PasswordToText(change.abOld), "old");
    EXPECT_EQ(PasswordToText(change.abNew), "n3w");
    EXPECT_EQ(BuildPasswordChange(KV({{"old", "nope"}, {"new", "n3w"}}), info, change)->dwStringID,
              IDS_HINT_PASSERR);
    EXPECT_EQ(BuildPasswordChange(KV({{"new", "n3w"}, {"confirm", "n3W"}}), info, change)->dwStringID,
              IDS_HINT_CONFIRMPASSERR);
    EXPECT_EQ(BuildPasswordChange(KV({{"new", std::string(17, 'p')}}), info, change)->dwStringID,
              IDS_HINT_PASSWORD_EMPTY);
}

TEST(SettingGroups, NtpDaylightSaving)
{
    NtpInfo info{};
    EXPECT_FALSE(BuildNtp(KV({{"zone", "+01:00"},
                              {"dst", "weekday"},
                              {"dst_start", "3/L1/7/2"},
                              {"dst_end", "10/L1/7/3"},
                              {"server", "pool.example"}}),
                          info));
    EXPECT_EQ(info.nTimeZone, 60);
    EXPECT_EQ(info.byDstMode, 2);
    EXPECT_EQ(info.dwMode2Start, MakeDstWeekdayWord(3, true, 1, 7, 2));
    EXPECT_STREQ(info.szNtpServer, "pool.example");
    // A failed build may leave its record half done (callers build on a copy): fresh ones here.
    auto build = [](const KeyValues& kv) {
        NtpInfo fresh{};
        return BuildNtp(kv, fresh);
    };
    EXPECT_EQ(build(KV({{"dst", "date"}, {"dst_start", "3/31/2"}}))->dwStringID, IDS_HINT_SET_DST_NO_TIME);
    EXPECT_EQ(build(KV({{"dst_start", "3/31/2"}}))->dwStringID, IDS_HINT_SET_DST_NO_MODE);
    EXPECT_EQ(build(KV({{"dst", "summer"}}))->dwStringID, IDS_HINT_SET_DST_NO_MODE);
    EXPECT_TRUE(build(KV({{"dst", "date"}, {"dst_start", "13/1/2"}, {"dst_end", "3/1/2"}})));
    EXPECT_EQ(build(KV({{"server", ""}}))->dwStringID, IDS_HINT_SERVER_EMPTY);
}

TEST(SettingGroups, NasAndRecordingChecks)
{
    RecordInfo info{};
    info.dwSessionMode = MakeSessionMode(1000, 30, 7);
    EXPECT_FALSE(BuildRecord(KV({{"fps", "15"}, {"bps", "600"}}), false, info));
    EXPECT_EQ(SessionModeFrameRate(info.dwSessionMode), 15);
    EXPECT_EQ(SessionModeResolution(info.dwSessionMode), 7);
    EXPECT_EQ(SessionModeBitrate(info.dwSessionMode), 600);
    EXPECT_EQ(BuildRecord(KV({{"bps", "100"}}), false, info)->dwStringID, IDS_HINT_MIN_BPS);
    EXPECT_EQ(BuildRecord(KV({{"size", "0"}}), true, info)->dwStringID, IDS_HINT_NAS_SIZE_EMPTYP);
    EXPECT_EQ(BuildRecord(KV({{"ip", "1.2.3"}}), true, info)->dwStringID, IDS_HINT_NAS_IP_INVALID);
    EXPECT_EQ(BuildRecord(KV({{"path", ""}}), true, info)->dwStringID, IDS_HINT_NAS_PATH_EMPTY);
    EXPECT_EQ(BuildRecord(KV({{"account", ""}}), true, info)->dwStringID, IDS_HINT_NAS_ACCOUNT_EMPTY);
    EXPECT_EQ(BuildRecord(KV({{"password", "a"}, {"confirm", "b"}}), true, info)->dwStringID,
              IDS_HINT_NAS_PASSWORD_UNEQUAL);
    EXPECT_FALSE(BuildRecord(KV({{"path", "/rec"}, {"account", "cam"}, {"password", "x"}, {"confirm", "x"}}),
                             true, info));
    EXPECT_STREQ(info.szNasPath, "/rec");
    // The timetable as "set" takes it: 24 bytes in hex, hour 0 first; anything else changes nothing.
    EXPECT_EQ(BuildRecord(KV({{"schedule", std::string(46, '0')}}), false, info)->strKey, "schedule");
    EXPECT_EQ(BuildRecord(KV({{"schedule", std::string(47, '0') + "g"}}), false, info)->strKey, "schedule");
    EXPECT_FALSE(
        BuildRecord(KV({{"schedule", "7F" + std::string(44, '0') + "c1"}, {"event", "on"}}), false, info));
    EXPECT_EQ(info.abSchedule[0], 0x7F);
    EXPECT_EQ(info.abSchedule[23], 0xC1);
    EXPECT_EQ(info.byOne, 1);
}

TEST(SettingGroups, MailMotionAndWifi)
{
    MailInfo mail{};
    EXPECT_EQ(BuildMail(KV({{"recipients", "a@x,b@x,c@x,d@x,e@x,f@x"}}), mail)->dwStringID,
              IDS_HINT_RECEIVER_FULL);
    EXPECT_EQ(BuildMail(KV({{"recipients", "a@x,nobody"}}), mail)->dwStringID, IDS_HINT_EMAIL_INVALID);
    EXPECT_FALSE(BuildMail(KV({{"recipients", "a@x,b@x"}, {"server", "smtp.lab"}}), mail));
    EXPECT_EQ(mail.nRecipients, 2);
    EXPECT_STREQ(mail.aszRecipient[1], "b@x");
    // The log-in is asked for only with authentication; the subject has 128 bytes.
    EXPECT_EQ(BuildMail(KV({{"auth", "on"}}), mail)->dwStringID, IDS_HINT_ACCOUNT_EMPTY);
    EXPECT_FALSE(BuildMail(KV({{"auth", "off"}, {"account", ""}}), mail));
    EXPECT_EQ(BuildMail(KV({{"subject", std::string(129, 's')}}), mail)->dwStringID, IDS_HINT_EMAIL_INVALID);
    EXPECT_FALSE(
        BuildMail(KV({{"auth", "on"}, {"account", "cam"}, {"password", "pw"}, {"subject", "Alarm"}}), mail));
    EXPECT_EQ(mail.byValue, 1);
    EXPECT_STREQ(mail.szText1, "Alarm");

    MotionInfo motion{};
    EXPECT_FALSE(
        BuildMotion(KV({{"area2", "on"}, {"area2_rect", "10,20,60,80"}, {"area2_sens", "75"}}), motion));
    EXPECT_EQ(motion.region[1].bEnable, 1);
    EXPECT_EQ(motion.region[1].bBottom, 80);
    EXPECT_TRUE(BuildMotion(KV({{"area1_rect", "60,20,10,80"}}), motion));
    EXPECT_TRUE(BuildMotion(KV({{"area1_rect", "0,0,101,50"}}), motion));
    EXPECT_TRUE(BuildMotion(KV({{"area3_sens", "59"}}), motion));

    alignas(WifiRecord) BYTE abRecord[WIFI_RECORD_MIN_ALLOC] = {};
    auto* pWifi = reinterpret_cast<WifiRecord*>(abRecord);
    WifiSettingsBlock block{};
    EXPECT_EQ(BuildWifi(KV({{"ssid", std::string(33, 's')}}), *pWifi, block)->dwStringID,
              IDS_HINT_SETNETWORKFAIL);
    WifiSettingsBlock adhoc{};
    EXPECT_EQ(BuildWifi(KV({{"ssid", "lab"}, {"type", "adhoc"}}), *pWifi, adhoc)->strKey, "channel");
    EXPECT_FALSE(BuildWifi(KV({{"ssid", "lab"}, {"key", "secret"}}), *pWifi, block));
    // A network the survey does not know is taken as open.
    EXPECT_EQ(block.AuthMode, 0);
    EXPECT_EQ(block.EncType, 1);
    EXPECT_EQ(block.SsidLength, 3);
    // The transmit key is 1 to 4, kept as 0 to 3.
    for (const char* pszKey : {"0", "5", "x"}) {
        const CheckResult refused = BuildWifi(KV({{"txkey", pszKey}}), *pWifi, block);
        ASSERT_TRUE(refused) << pszKey;
        EXPECT_EQ(refused->strKey, "txkey");
    }
    EXPECT_FALSE(BuildWifi(KV({{"txkey", "4"}}), *pWifi, block));
    EXPECT_EQ(block.WEPKeyDefIndex, 3);
}

TEST(SettingGroups, ThreeGNeedsApnAndNumberForCustomDial)
{
    ThreeGRequest request;
    EXPECT_EQ(BuildThreeG(KV({{"dial", "custom"}, {"tel", "*99"}}), request)->strKey, "apn");
    ThreeGRequest request2;
    EXPECT_EQ(BuildThreeG(KV({{"dial", "custom"}, {"apn", "lab"}}), request2)->strKey, "tel");
    ThreeGRequest request3;
    EXPECT_FALSE(BuildThreeG(KV({{"dial", "custom"}, {"apn", "lab"}, {"tel", "*99"}}), request3));
    EXPECT_EQ(request3.bUseDefaultDial, 0);
}

#include "app/cli/clidevice.h"

namespace {

std::vector<std::string> Names(const std::vector<QueryGroup>& vecGroups)
{
    std::vector<std::string> vec;
    for (const QueryGroup& group : vecGroups)
        vec.emplace_back(group.pszName);
    return vec;
}

} // namespace

TEST(CliDevice, QueryGroupsFollowTheKindOfDevice)
{
    DeviceInfo parent;
    parent.enCameraType = CAMERA_TYPE_PARENT;
    const std::vector<std::string> vecParent = Names(ApplicableQueryGroups(parent, nullptr));
    for (const char* psz :
         {"motion", "time_format", "mail", "sd_record", "nas_record", "video_report", "wifi"})
        EXPECT_EQ(std::count(vecParent.begin(), vecParent.end(), psz), 0) << psz;
    EXPECT_EQ(std::count(vecParent.begin(), vecParent.end(), "network"), 1);

    DeviceInfo child;
    child.enCameraType = CAMERA_TYPE_CHILD;
    EXPECT_EQ(Names(ApplicableQueryGroups(child, &parent)),
              (std::vector<std::string>{"autoscan", "time_format", "motion", "snapshot_server", "mail", "do",
                                        "alarm_time", "sd_record", "sd_info", "nas_record"}));
    // Once the recorder's capability is known, its channels are asked for their video report.
    parent.stQuery.bCmdGetSensor = 1;
    EXPECT_EQ(Names(ApplicableQueryGroups(child, &parent))[0], "autoscan");
    EXPECT_EQ(Names(ApplicableQueryGroups(child, &parent))[1], "video_report");

    DeviceInfo single;
    single.enCameraType = CAMERA_TYPE_SINGLE;
    single.stQuery.bHasWifi = 1;
    single.stQuery.bCmdGetSensor = 1;
    single.stSensorCap.dwCameraUIType = CAMERA_UI_TYPE_HD;
    const std::vector<std::string> vecSingle = Names(ApplicableQueryGroups(single, nullptr));
    EXPECT_EQ(std::count(vecSingle.begin(), vecSingle.end(), "sensor_9p031"), 1);
    EXPECT_EQ(std::count(vecSingle.begin(), vecSingle.end(), "sensor_9900"), 0);
    EXPECT_EQ(std::count(vecSingle.begin(), vecSingle.end(), "wifi"), 1);
    EXPECT_EQ(std::count(vecSingle.begin(), vecSingle.end(), "3g"), 0);

    // Done when every group answered, or when the four passes are spent.
    EXPECT_FALSE(IsQueryDone(single, nullptr));
    single.stQuery.nQueryPass = 4;
    EXPECT_TRUE(IsQueryDone(single, nullptr));
    EXPECT_EQ(MissingQueryGroups(single, nullptr).size(), vecSingle.size() - 1);
}
