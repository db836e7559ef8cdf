// Device manager: construction, search, presence, the basic query passes and the look-ups.
#include "device_test_support.h"

#include <gmock/gmock.h>

#include <QCoreApplication>

using namespace devicetest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

using DeviceManagerSetup = DeviceManagerTest;

TEST_F(DeviceManagerSetup, WindowRepliesAndLookupAreWiredAndUndoneOnDestruction)
{
    const HWND hWnd = m_pManager->GetWindow();
    EXPECT_EQ(GetWindowName(hWnd), "DeviceMangager");
    ASSERT_EQ(m_engines.m_vecRegistered.size(), 36u);
    auto has = [&](DeviceEngine enEngine, BYTE byCode, UINT uMsg) {
        return std::any_of(m_engines.m_vecRegistered.begin(), m_engines.m_vecRegistered.end(),
                           [&](const CRecordingEngines::Registration& r) {
                               return r.enEngine == enEngine && r.byCode == byCode && r.uMsg == uMsg &&
                                      r.hWnd == hWnd;
                           });
    };
    EXPECT_TRUE(has(DeviceEngine::Viewer, 8, 0x8001));
    EXPECT_TRUE(has(DeviceEngine::Viewer, 0, 0x8002));
    EXPECT_TRUE(has(DeviceEngine::Viewer, 5, 0x8019));
    EXPECT_TRUE(has(DeviceEngine::Viewer, 43, 0x8047));
    EXPECT_TRUE(has(DeviceEngine::Lan, 1, 0x800D));
    EXPECT_TRUE(has(DeviceEngine::Lan, 0, 0x8020));
    EXPECT_TRUE(has(DeviceEngine::Lan, 9, 0x8023));
    EXPECT_TRUE(has(DeviceEngine::RecordTime, 0, 0x8051));
    EXPECT_TRUE(has(DeviceEngine::RecordTime, 4, 0x8055));
    EXPECT_EQ(m_engines.m_pLookup, m_pManager.get());

    m_pManager.reset();
    EXPECT_THAT(m_engines.m_vecRegistered, IsEmpty());
    EXPECT_EQ(m_engines.m_pLookup, nullptr);
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST_F(DeviceManagerSetup, SearchTimerSweepAndScanFinish)
{
    m_pManager->SearchDevices(5000);
    EXPECT_EQ(m_pManager->GetSearchPeriod(), 5000u);
    EXPECT_THAT(m_engines.Take(), ElementsAre("SearchByMulticast", "SearchKnownDevices"));
    Timer(TR_USER_SCAN);
    EXPECT_THAT(m_engines.Take(), ElementsAre("SearchByMulticast", "SearchKnownDevices"));
    m_pManager->ReSearchDevices();
    EXPECT_THAT(m_engines.Take(), ElementsAre("StartSweep"));
    Timer(TR_RECORD_TICK);
    EXPECT_THAT(m_engines.Take(), ElementsAre("Pump"));

    Send(DM_MSG_SCAN_FINISH, 1, 0);
    ASSERT_EQ(m_sink.m_vecSeen.size(), 1u);
    EXPECT_EQ(m_sink.m_vecSeen[0], std::make_pair(DWORD{124}, UINT_PTR{0}));
}

// Each timer runs at its own period, read from the window's running timers rather than waited
// for, and each expiry does its timer's work.
TEST_F(DeviceManagerSetup, TimersRunAtTheirPeriodsAndDoTheirWork)
{
    SearchItem& item = NewItem(1, "Cam", "SN1");
    item.bHasSD = 1;
    Scan(item);
    m_downloads.m_setDownloading.insert(1);
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    m_pManager->SearchDevices(300);
    m_engines.Take();

    struct Row {
        UINT uTimer;
        UINT uPeriod;
        const char* pszCall; // what one expiry asks of the engines
    };
    const Row rows[] = {
        {TR_USER_SCAN, 300, "SearchByMulticast"},
        {TR_CHECK_DEVICES, 1000, "GetVersion 1"},
        {TR_VIDEO_HEARTBEAT, 20000, "StartVideo"},
        {TR_DOWNLOAD_HEARTBEAT, 20000, "StartVideo"},
        {TR_RECORD_TICK, 1000, "Pump"},
        {TR_CAMINFO_REFLESH, 10000, "GetNetParam"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.uTimer);
        EXPECT_EQ(GetTimerPeriod(m_pManager->GetWindow(), row.uTimer), row.uPeriod);
        Timer(row.uTimer);
        const std::vector<std::string> vecCalls = m_engines.Take();
        EXPECT_TRUE(std::any_of(vecCalls.begin(), vecCalls.end(), [&](const std::string& str) {
            return str.rfind(row.pszCall, 0) == 0;
        })) << testing::PrintToString(vecCalls);
    }
    KillTimer(m_pManager->GetWindow(), TR_USER_SCAN);
    EXPECT_EQ(GetTimerPeriod(m_pManager->GetWindow(), TR_USER_SCAN), 0u);
}

TEST_F(DeviceManagerSetup, MessagesWithoutHandlerOrPayloadAndBadTimersAreRefused)
{
    Send(0x8010, 5, 5);           // no handler: logged, nothing else
    Send(DM_MSG_USER_SCAN, 0, 0); // nothing to read: ignored before any handler
    EXPECT_THAT(m_sink.m_vecSeen, IsEmpty());
    for (UINT uID : {4u, 8u, 12u})
        EXPECT_THROW(m_pManager->HandleTimer(uID), CMyExceptionExit) << uID;
}

using DevicePresence = DeviceManagerTest;

TEST_F(DevicePresence, GoneOnlyAfterTwiceThePeriodPlusOneThenBackWithNewCycle)
{
    SearchItem& item = NewItem(1, "Cam", "SN1");
    Scan(item);
    DeviceInfo* pDevice = Device(1);
    ASSERT_NE(pDevice, nullptr);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(121u));
    EXPECT_EQ(pDevice->bIsExist, 1);

    m_clock.Advance(20001);
    Timer(TR_CHECK_DEVICES);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(121u));
    EXPECT_EQ(pDevice->stItem.bFoundByMulticast, 1u);

    m_clock.Advance(1);
    m_engines.Take();
    Timer(TR_CHECK_DEVICES);
    ASSERT_THAT(m_sink.Ids(), ElementsAre(121u, 122u));
    EXPECT_EQ(m_sink.m_vecSeen[1].second, reinterpret_cast<UINT_PTR>(pDevice));
    EXPECT_EQ(pDevice->bIsExist, 0);
    EXPECT_EQ(pDevice->stQuery.nQueryPass, 0);
    EXPECT_THAT(m_engines.Take(), IsEmpty()); // a gone device is not asked
    EXPECT_FALSE(m_pManager->HasValidDevice());

    Timer(TR_CHECK_DEVICES); // reported once
    EXPECT_EQ(m_sink.m_vecSeen.size(), 2u);

    Scan(item);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(121u, 122u, 121u));
    EXPECT_EQ(pDevice->bIsExist, 1);
    EXPECT_EQ(pDevice->stQuery.nQueryPass, 1);
    EXPECT_EQ(m_engines.Count("GetVersion 1"), 1);
    EXPECT_EQ(m_pManager->GetDevices().size(), 1u);
}

TEST_F(DevicePresence, OneFreshPathKeepsTheDevice)
{
    SearchItem& item = NewItem(2, "Cam", "SN2");
    Scan(item, true);
    m_clock.Advance(15000);
    Scan(item, false); // the sweep answers, multicast stays quiet
    m_clock.Advance(6000);
    Timer(TR_CHECK_DEVICES);
    DeviceInfo* pDevice = Device(2);
    EXPECT_EQ(pDevice->stItem.bFoundByMulticast, 0u);
    EXPECT_EQ(pDevice->stItem.bFoundBySweep, 1u);
    EXPECT_EQ(pDevice->bIsExist, 1);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(121u, 123u));

    m_clock.Advance(15000);
    Timer(TR_CHECK_DEVICES);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(121u, 123u, 122u));
}

TEST_F(DevicePresence, NoVerdictInTheFirstTenSecondsOfASearch)
{
    SearchItem& item = NewItem(3, "Cam", "SN3");
    Scan(item);
    m_clock.Advance(30000);
    m_pManager->SearchDevices(10000);
    m_clock.Advance(9999);
    Timer(TR_CHECK_DEVICES);
    EXPECT_EQ(Device(3)->bIsExist, 1);
    // The periodic search does not push the verdict away.
    Timer(TR_USER_SCAN);
    m_clock.Advance(1);
    Timer(TR_CHECK_DEVICES);
    EXPECT_EQ(Device(3)->bIsExist, 0);
}

using DeviceQueries = DeviceManagerTest;

TEST_F(DeviceQueries, SingleCameraFirstPassInOrder)
{
    SearchItem& item = NewItem(1, "Cam", "SN1");
    item.bHasWifi = 1;
    item.bHas3G = 1;
    Scan(item);
    EXPECT_THAT(m_engines.Take(),
                ElementsAre("GetVolume 1", "QueryCapability 1", "GetVersion 1", "GetDServer 1", "UpnpQuery 1",
                            "GetPreset 1", "GetAutoScanState 1", "AutoScanSchedule 1 zero",
                            "CameraPort 1 1 0", "GetNetParam 1", "WifiQuery SN1", "3GQuery SN1",
                            "Query3GStatus SN1", "GetTimeFormat 1", "GetNTP 1", "GetMotion 1",
                            "SnapshotServer 1 zero", "GetMail 1", "GetDo 1", "AlarmTime 1 0 0 0",
                            "GetRecordSD 1", "GetSDInfo 1", "GetRecordNas 1"));
    ASSERT_EQ(m_vecTraces.size(), 3u);
    EXPECT_NE(m_vecTraces[0].find("Cam"), std::string::npos);
}

TEST_F(DeviceQueries, CapabilityBringsSensorReadAndVideoReportAndAnswersStopQueries)
{
    SearchItem& item = NewItem(1, "Cam", "SN1");
    Scan(item);
    m_engines.Take();

    SensorCapInfo cap{};
    cap.dwID = 1;
    cap.dwCameraUIType = CAMERA_UI_TYPE_D;
    Send(DM_MSG_SENSOR_CAP, 1, reinterpret_cast<LPARAM>(&cap));
    const std::string strRead9900 =
        "SensorControl 1 " + std::to_string(MakeSensorControlWord(1, 8, 0)) + " 174";
    EXPECT_THAT(m_engines.Take(), ElementsAre("QueryVideoReport 1", strRead9900));
    EXPECT_EQ(Device(1)->stQuery.bCmdGetSensor, 1);

    VersionInfo version{};
    std::memcpy(version.szVersion, "V1.2.3-LONGVERSIONTEXT", 16);
    Send(DM_MSG_VERSION, 1, reinterpret_cast<LPARAM>(&version));
    EXPECT_STREQ(Device(1)->szVersion, "V1.2.3-LONGVERS"); // 15 characters and the zero

    Timer(TR_CHECK_DEVICES);
    const std::vector<std::string> vecPass = m_engines.Take();
    EXPECT_EQ(std::count(vecPass.begin(), vecPass.end(), "QueryCapability 1"), 0);
    EXPECT_EQ(std::count(vecPass.begin(), vecPass.end(), "GetVersion 1"), 0);
    EXPECT_EQ(std::count(vecPass.begin(), vecPass.end(), strRead9900), 1);
    EXPECT_EQ(std::count(vecPass.begin(), vecPass.end(), "QueryVideoReport 1"), 1);

    // A 9P031-family camera gets control 13, an unknown family neither.
    cap.dwCameraUIType = CAMERA_UI_TYPE_HD;
    Send(DM_MSG_SENSOR_CAP, 1, reinterpret_cast<LPARAM>(&cap));
    EXPECT_THAT(m_engines.Take(),
                ElementsAre("QueryVideoReport 1",
                            "SensorControl 1 " + std::to_string(MakeSensorControlWord(1, 13, 0)) + " 174"));
    cap.dwCameraUIType = CAMERA_UI_NONE;
    Send(DM_MSG_SENSOR_CAP, 1, reinterpret_cast<LPARAM>(&cap));
    EXPECT_THAT(m_engines.Take(), ElementsAre("QueryVideoReport 1"));
    EXPECT_EQ(Device(1)->stQuery.bCmdGetSensorUnknown, 1);
}

TEST_F(DeviceQueries, SilentDeviceGetsExactlyFourPasses)
{
    SearchItem& item = NewItem(1, "Cam", "SN1");
    Scan(item);
    for (int i = 0; i < 6; ++i)
        Timer(TR_CHECK_DEVICES);
    EXPECT_EQ(m_engines.Count("GetVersion 1"), 4);
    EXPECT_EQ(m_engines.Count("GetRecordNas 1"), 4);
    EXPECT_EQ(Device(1)->stQuery.nQueryPass, 4);
}

TEST_F(DeviceQueries, ParentAndChildrenAreAskedOnlyWhatTheyHave)
{
    SearchItem& parent = NewParent(10, {11, 12});
    Scan(parent);
    EXPECT_THAT(m_engines.Take(),
                ElementsAre("GetVolume 10", "QueryCapability 10", "GetVersion 10", "GetDServer 10",
                            "UpnpQuery 10", "GetPreset 10", "GetAutoScanState 10", "AutoScanSchedule 10 zero",
                            "CameraPort 10 1 0", "GetNetParam 10", "GetNTP 10",
                            // channel 11, then 12
                            "GetAutoScanState 11", "GetTimeFormat 11", "GetMotion 11",
                            "SnapshotServer 11 zero", "GetMail 11", "GetDo 11", "AlarmTime 11 0 0 0",
                            "GetRecordSD 11", "GetSDInfo 11", "GetRecordNas 11", "GetAutoScanState 12",
                            "GetTimeFormat 12", "GetMotion 12", "SnapshotServer 12 zero", "GetMail 12",
                            "GetDo 12", "AlarmTime 12 0 0 0", "GetRecordSD 12", "GetSDInfo 12",
                            "GetRecordNas 12"));

    // Once the recorder's capability is known its channels are asked for the video report.
    SensorCapInfo cap{};
    cap.dwID = 10;
    Send(DM_MSG_SENSOR_CAP, 10, reinterpret_cast<LPARAM>(&cap));
    EXPECT_THAT(m_engines.Take(), ElementsAre("QueryVideoReport 11", "QueryVideoReport 12"));
    Timer(TR_CHECK_DEVICES);
    const std::vector<std::string> vecPass = m_engines.Take();
    EXPECT_EQ(std::count(vecPass.begin(), vecPass.end(), "QueryVideoReport 10"), 0);
    EXPECT_EQ(std::count(vecPass.begin(), vecPass.end(), "QueryVideoReport 11"), 1);
    EXPECT_EQ(std::count(vecPass.begin(), vecPass.end(), "QueryVideoReport 12"), 1);
}

TEST_F(DeviceQueries, ChannelsLiveInTheirRecorderAndAreNotMadeTwice)
{
    SearchItem& parent = NewParent(10, {11, 12});
    Scan(parent);
    Scan(parent);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(121u, 123u));

    ASSERT_EQ(m_pManager->GetDevices().size(), 1u);
    DeviceInfo* pParent = m_pManager->GetDevices().at(10);
    EXPECT_EQ(pParent->enCameraType, CAMERA_TYPE_PARENT);
    ASSERT_EQ(pParent->vecChildren.size(), 2u);
    DeviceInfo* pChild = pParent->vecChildren[1].get();
    EXPECT_EQ(pChild->enCameraType, CAMERA_TYPE_CHILD);

    EXPECT_EQ(m_pManager->GetDevice(12, CAMERA_MASK_CHILD), pChild);
    EXPECT_EQ(m_pManager->GetDevice(12, CAMERA_MASK_VIDEO), pChild);
    EXPECT_EQ(m_pManager->GetDevice(12, CAMERA_MASK_TOP), nullptr);
    EXPECT_EQ(m_pManager->GetDevice(10, CAMERA_MASK_VIDEO), nullptr);
    EXPECT_EQ(m_pManager->GetParentDevice(12), pParent);
    EXPECT_EQ(m_pManager->GetParentDevice(10), nullptr);

    char szSerial[VIEWER_SERIAL_LEN] = {};
    std::strncpy(szSerial, "SNCHILD12", sizeof(szSerial));
    EXPECT_EQ(m_pManager->GetDevice(szSerial, CAMERA_MASK_ALL), pChild);
    EXPECT_EQ(m_pManager->GetDevice(szSerial, CAMERA_MASK_TOP), nullptr);

    // The LAN side addresses only devices that answer for themselves.
    LanDeviceRoute route;
    EXPECT_FALSE(m_pManager->FindLanDeviceByID(12, route));
    ASSERT_TRUE(m_pManager->FindLanDeviceBySerial("SNPARENT10", route));
    EXPECT_STREQ(route.szSerial, "SNPARENT10");
    EXPECT_EQ(route.dwIP, 0x7F000001u);
    EXPECT_EQ(route.bFoundByMulticast, 1);

    // A channel answering a search for its own id is that channel, present, not a new camera.
    Scan(parent.pChildren[1]);
    EXPECT_EQ(m_pManager->GetDevices().size(), 1u);
    EXPECT_EQ(pParent->vecChildren.size(), 2u);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(121u, 123u, 123u));
    // Its patrol state is stored like any other camera's.
    Send(DM_MSG_AUTOSCAN_STATE, 1, 12);
    EXPECT_EQ(pChild->bScanning, 1);
    EXPECT_EQ(pChild->stQuery.bCmdGetAutoScan, 1);

    // The channels are present while their recorder is, and gone with it.
    for (const auto& p : pParent->vecChildren)
        EXPECT_EQ(p->bIsExist, 1);
    m_clock.Advance(20002);
    Timer(TR_CHECK_DEVICES);
    EXPECT_EQ(pParent->bIsExist, 0);
    for (const auto& p : pParent->vecChildren) {
        EXPECT_EQ(p->bIsExist, 0);
        EXPECT_EQ(p->stQuery.bCmdGetAutoScan, 0);
    }

    // A channel that drops out of a later reply keeps its record.
    parent.nChildCount = 1;
    Scan(parent);
    EXPECT_EQ(pParent->vecChildren.size(), 2u);
    EXPECT_EQ(pParent->vecChildren[0]->bIsExist, 1);
}

TEST_F(DeviceQueries, SortedListHoldsPresentDevicesByUnsignedNameThenId)
{
    Scan(NewItem(30, "Bravo", "S30"));
    Scan(NewItem(20, "Alpha", "S20"));
    Scan(NewItem(10, "Alpha", "S10"));
    Scan(NewItem(50,
                 "\xE9"
                 "cole",
                 "S50")); // 0xE9 sorts after every ASCII letter
    Scan(NewItem(40, "Gone", "S40"));
    Device(40)->bIsExist = 0;

    SortedDeviceMap mapSorted;
    m_pManager->GetAllSortedDevices(mapSorted);
    std::vector<DWORD> vecIDs;
    for (const auto& [strName, pDevice] : mapSorted)
        vecIDs.push_back(pDevice->GetID());
    EXPECT_THAT(vecIDs, ElementsAre(10u, 20u, 30u, 50u));
}

// Replies for no known device, or for a device of a kind the reply does not address, change
// nothing and leave one level-2 line naming their handler.
TEST_F(DeviceQueries, RepliesForUnknownDevicesAreDroppedWithTheirHandlersLine)
{
    g_nDebugLevel = 2;
    Scan(NewItem(1, "Cam", "SN1"));
    SearchItem& parent = NewParent(10, {11});
    Scan(parent);

    VersionInfo version{};
    std::memcpy(version.szVersion, "V9", 2);
    Send(DM_MSG_VERSION, 99, reinterpret_cast<LPARAM>(&version));
    DServerRecord dserver{};
    std::strncpy(dserver.szSerial, "SN-UNKNOWN", sizeof(dserver.szSerial));
    Send(DM_MSG_DSERVER, 0, reinterpret_cast<LPARAM>(&dserver));
    // Time format is a per-video setting: the recorder itself has none.
    Send(DM_MSG_TIME_FORMAT, 1, 10);
    // The same replies for known devices land.
    Send(DM_MSG_TIME_FORMAT, 1, 11);
    std::strncpy(dserver.szSerial, "SN1", sizeof(dserver.szSerial));
    Send(DM_MSG_DSERVER, 0, reinterpret_cast<LPARAM>(&dserver));
    MailInfo mail{};
    mail.dwID = 10;
    std::strncpy(mail.szServer, "smtp.lab", sizeof(mail.szServer));
    Send(DM_MSG_MAIL, 0, reinterpret_cast<LPARAM>(&mail));
    mail.dwID = 11;
    Send(DM_MSG_MAIL, 0, reinterpret_cast<LPARAM>(&mail));

    const std::string strLog = ReadLog();
    EXPECT_NE(strLog.find("2CDeviceManager::OnCmdGetVersion: end } pDevice == NULL"), std::string::npos);
    EXPECT_NE(strLog.find("2CDeviceManager::OnCmdGetDServerIP: end } pDevice == NULL"), std::string::npos);
    EXPECT_NE(strLog.find("2CDeviceManager::OnCmdGetTimeFormat: end } pDevice == NULL"), std::string::npos);
    EXPECT_EQ(Device(1)->stQuery.bCmdGetVersion, 0);
    EXPECT_EQ(Device(1)->stQuery.bCmdGetDServerIP, 1);
    EXPECT_EQ(Device(10)->stQuery.bCmdGetTimeFormat, 0);
    EXPECT_EQ(Device(11)->stQuery.bCmdGetTimeFormat, 1);
    EXPECT_EQ(Device(11)->bTimeFormat, 1);
    EXPECT_NE(strLog.find("2CDeviceManager::OnCmdGetMail: end } pDevice == NULL"), std::string::npos);
    EXPECT_EQ(Device(10)->stQuery.bCmdGetMailInfo, 0);
    EXPECT_EQ(Device(10)->stMail.szServer[0], '\0');
    EXPECT_EQ(Device(11)->stQuery.bCmdGetMailInfo, 1);
    EXPECT_STREQ(Device(11)->stMail.szServer, "smtp.lab");
    EXPECT_EQ(m_pManager->GetDevice(99, CAMERA_MASK_ALL), nullptr);
}

} // namespace
