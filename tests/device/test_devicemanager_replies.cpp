// Device manager: the regular replies. Each lands in the record of the camera it names (by id
// or serial, as its engine delivers it), sets that group's query flag and raises its
// notification for the selected camera only; for a device of a kind it does not address, or
// for no known device, it changes nothing and the drop names its handler.
#include "device_test_support.h"

#include <gmock/gmock.h>

#include <deque>
#include <functional>
#include <memory>
#include <type_traits>

using namespace devicetest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

namespace {

// How the engine hands the reply over.
enum class Carried { IdInRecord, SerialInRecord, IdInWParam, IdInLParam };

// Sends a reply for one device, its content made from byMark.
using SendReply = std::function<void(const std::function<void(WPARAM, LPARAM)>& post, DWORD dwID,
                                     const char* pszSerial, BYTE byMark)>;

struct RegularReply {
    const char* pszHandler;
    UINT uMsg;
    DWORD dwMask; // the kinds of device it is for
    BYTE DeviceQueryBlock::*pFlag;
    DWORD dwNotifyID; // for the selected camera; 0: none
    SendReply send;
    // Whether the device holds the content made from byMark.
    std::function<bool(const DeviceInfo& device, BYTE byMark)> holds;
};

template <typename Field> bool AllBytes(const Field& field, BYTE byMark)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&field);
    return std::all_of(p, p + sizeof(Field), [&](BYTE by) { return by == byMark; });
}

// A reply carrying a record, one probe field of it filled with the mark, the camera named where
// its engine names it.
template <typename Record, typename Probe> SendReply Sender(Carried enCarried, Probe Record::*pProbe)
{
    // Records the manager may keep pointers to live as long as the test.
    auto pKept = std::make_shared<std::deque<Record>>();
    return
        [=](const std::function<void(WPARAM, LPARAM)>& post, DWORD dwID, const char* pszSerial, BYTE byMark) {
            Record& record = pKept->emplace_back();
            std::memset(&(record.*pProbe), byMark, sizeof(Probe));
            if constexpr (requires { record.dwID; }) {
                if (enCarried == Carried::IdInRecord)
                    record.dwID = dwID;
            }
            if constexpr (requires { record.szSerial; }) {
                if (enCarried == Carried::SerialInRecord)
                    std::strncpy(record.szSerial, pszSerial, sizeof(record.szSerial) - 1);
            }
            const LPARAM lRecord = reinterpret_cast<LPARAM>(&record);
            switch (enCarried) {
            case Carried::IdInRecord:
            case Carried::SerialInRecord:
                post(0, lRecord);
                break;
            case Carried::IdInWParam:
                post(dwID, lRecord);
                break;
            case Carried::IdInLParam:
                post(static_cast<WPARAM>(lRecord), dwID);
                break;
            }
        };
}

// A record stored whole: the device shows the mark in its copy, or behind the engine's pointer
// it keeps.
template <typename Record, typename Column, typename Probe>
RegularReply Stored(const char* pszHandler, UINT uMsg, DWORD dwMask, Carried enCarried,
                    Column DeviceInfo::*pColumn, Probe Record::*pProbe, BYTE DeviceQueryBlock::*pFlag,
                    DWORD dwNotifyID = 0)
{
    auto holds = [=](const DeviceInfo& device, BYTE byMark) {
        if constexpr (std::is_pointer_v<Column>)
            return device.*pColumn != nullptr && AllBytes((device.*pColumn)->*pProbe, byMark);
        else
            return AllBytes((device.*pColumn).*pProbe, byMark);
    };
    return {pszHandler, uMsg, dwMask, pFlag, dwNotifyID, Sender(enCarried, pProbe), holds};
}

// A reply whose value travels in wParam, the camera's id in lParam.
RegularReply Valued(const char* pszHandler, UINT uMsg, DWORD dwMask, BYTE DeviceQueryBlock::*pFlag,
                    std::function<bool(const DeviceInfo&, BYTE)> holds)
{
    auto send = [](const std::function<void(WPARAM, LPARAM)>& post, DWORD dwID, const char*, BYTE byMark) {
        post(byMark, dwID);
    };
    return {pszHandler, uMsg, dwMask, pFlag, 0, send, std::move(holds)};
}

std::vector<RegularReply> RegularReplies()
{
    using Q = DeviceQueryBlock;
    using enum Carried;
    // The two that store more than a copy: the volume reply fills the microphone record, the
    // version reply a zero-ended text.
    const RegularReply volume{
        "OnCmdGetVolume",
        DM_MSG_GET_VOLUME,
        CAMERA_MASK_TOP,
        &Q::bCmdGetVolume,
        0,
        Sender(IdInRecord, &VolumeInfo::bVolSpeaker),
        [](const DeviceInfo& device, BYTE byMark) { return device.stMicrophone.bVolSpeaker == byMark; }};
    const RegularReply version{
        "OnCmdGetVersion",
        DM_MSG_VERSION,
        CAMERA_MASK_TOP,
        &Q::bCmdGetVersion,
        DWORD_NOTIFYID_CAMERA_VERSION,
        Sender(IdInWParam, &VersionInfo::szVersion),
        [](const DeviceInfo& device, BYTE byMark) {
            const char* psz = device.szVersion;
            return std::all_of(psz, psz + 15, [&](char c) { return BYTE(c) == byMark; }) && psz[15] == '\0';
        }};
    return {
        volume,
        version,
        Stored("OnCmdGetDServerIP", DM_MSG_DSERVER, CAMERA_MASK_TOP, SerialInRecord, &DeviceInfo::stDServer,
               &DServerRecord::szServer, &Q::bCmdGetDServerIP, DWORD_NOTIFYID_CAMERA_DSERVER_IP),
        Stored("OnCmdGetUpnpState", DM_MSG_UPNP, CAMERA_MASK_TOP, IdInRecord, &DeviceInfo::stUpnp,
               &UpnpInfo::usValue1, &Q::bCmdGetUpnpStatus),
        Stored("OnCmdGetPreset", DM_MSG_PRESET, CAMERA_MASK_TOP, IdInLParam, &DeviceInfo::pPresetInfo,
               &PresetInfo::dwSubCode, &Q::bCmdGetPreset),
        Valued("OnCmdQuaryAutoScan", DM_MSG_AUTOSCAN_STATE, CAMERA_MASK_ALL, &Q::bCmdGetAutoScan,
               [](const DeviceInfo& device, BYTE) { return device.bScanning == 1; }),
        Stored("OnCmdGetPort", DM_MSG_PORT, CAMERA_MASK_TOP, IdInWParam, &DeviceInfo::stPort,
               &PortInfo::usPort2, &Q::bCmdGetCameraPort),
        Stored("OnCmdGetNetworkParam", DM_MSG_NETPARAM, CAMERA_MASK_TOP, SerialInRecord,
               &DeviceInfo::stNetParam, &NetParamRecord::dwIP, &Q::bCmdGetNetParam,
               DWORD_NOTIFYID_CAMERA_NETWORK_PARAM),
        Stored("OnCmdGet3GQuery", DM_MSG_3G_QUERY, CAMERA_MASK_TOP, SerialInRecord,
               &DeviceInfo::pThreeGRecord, &ThreeGRecord::szAPN, &Q::bCmdGet3GQuery,
               DWORD_NOTIFYID_CAMERA_NETWORK_PARAM),
        Stored("OnCmdGet3GStatus", DM_MSG_3G_STATUS, CAMERA_MASK_TOP, SerialInRecord, &DeviceInfo::st3GStatus,
               &ThreeGStatus::unSignal, &Q::bCmdGet3GStatus, DWORD_NOTIFYID_3G_STATUS),
        Valued("OnCmdGetTimeFormat", DM_MSG_TIME_FORMAT, CAMERA_MASK_VIDEO, &Q::bCmdGetTimeFormat,
               [](const DeviceInfo& device, BYTE byMark) { return device.bTimeFormat == byMark; }),
        Stored("OnCmdGetNTP", DM_MSG_NTP, CAMERA_MASK_TOP, IdInRecord, &DeviceInfo::stNtp,
               &NtpInfo::szNtpServer, &Q::bCmdGetNTP),
        Stored("OnCmdGetMotionParam", DM_MSG_MOTION, CAMERA_MASK_VIDEO, IdInRecord, &DeviceInfo::stMotion,
               &MotionInfo::bThreshold, &Q::bCmdGetMotion),
        Stored("OnCmdGetSnapshotServer", DM_MSG_SNAPSHOT_SERVER, CAMERA_MASK_VIDEO, IdInRecord,
               &DeviceInfo::stSnapshotServer, &SnapshotServerInfo::usTimeInterval, &Q::bCmdGetSnapshotServer),
        Stored("OnCmdGetMail", DM_MSG_MAIL, CAMERA_MASK_VIDEO, IdInRecord, &DeviceInfo::stMail,
               &MailInfo::szServer, &Q::bCmdGetMailInfo),
        Stored("OnCmdGetDo", DM_MSG_DO, CAMERA_MASK_VIDEO, IdInRecord, &DeviceInfo::stDo, &DoInfo::abSms,
               &Q::bCmdGetDoInfo),
        Stored("OnCmdGetAlarmTime", DM_MSG_ALARM_TIME, CAMERA_MASK_VIDEO, IdInLParam,
               &DeviceInfo::stAlarmTime, &AlarmTimeInfo::dwPeriod, &Q::bCmdGetAlarmTime),
        Stored("OnCmdGetRecordInfo", DM_MSG_RECORD_SD, CAMERA_MASK_VIDEO, IdInRecord, &DeviceInfo::stRecordSD,
               &RecordInfo::abSchedule, &Q::bCmdGetRecordSD),
        Stored("OnCmdGetSDInfo", DM_MSG_SD_INFO, CAMERA_MASK_VIDEO, IdInWParam, &DeviceInfo::stSDInfo,
               &SDInfo::dwRemaining, &Q::bCmdGetSDInfo),
        Stored("OnCmdGetRecordNasInfo", DM_MSG_RECORD_NAS, CAMERA_MASK_VIDEO, IdInRecord,
               &DeviceInfo::stRecordNas, &RecordInfo::szNasPath, &Q::bCmdGetRecordNas),
    };
}

class RegularReplyTest : public DeviceManagerTest {
protected:
    void SetUp() override
    {
        DeviceManagerTest::SetUp();
        Scan(NewItem(1, "Cam", "SN1"));
        Scan(NewItem(2, "Other", "SN2"));
        Scan(NewParent(10, {11}));
        m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
        m_engines.Take();
        g_nDebugLevel = 2;
    }
};

TEST_F(RegularReplyTest, EachStoresSetsItsFlagAndNotifiesOnlyForTheSelectedCamera)
{
    const auto post = [this](UINT uMsg) { return [this, uMsg](WPARAM w, LPARAM l) { Send(uMsg, w, l); }; };
    const std::vector<RegularReply> replies = RegularReplies();
    ASSERT_EQ(replies.size(), 20u);
    BYTE byMark = 0x40;
    for (const RegularReply& reply : replies) {
        SCOPED_TRACE(reply.pszHandler);
        const auto send = [&](DWORD dwID, const char* pszSerial) {
            m_sink.m_vecSeen.clear();
            reply.send(post(reply.uMsg), dwID, pszSerial, ++byMark);
        };

        // No such device: dropped with the handler's line.
        send(99, "SN-NONE");
        EXPECT_NE(
            ReadLog().find(std::string("2CDeviceManager::") + reply.pszHandler + ": end } pDevice == NULL"),
            std::string::npos);
        EXPECT_THAT(m_sink.m_vecSeen, IsEmpty());

        // A device of a kind the reply does not address: a channel, or a recorder.
        if ((reply.dwMask & CAMERA_TYPE_CHILD) == 0)
            send(11, "SNCHILD11");
        else if ((reply.dwMask & CAMERA_TYPE_PARENT) == 0)
            send(10, "SNPARENT10");
        for (DWORD dwID : {10u, 11u}) {
            EXPECT_EQ(Device(dwID)->stQuery.*reply.pFlag, 0) << dwID;
            EXPECT_FALSE(reply.holds(*Device(dwID), byMark)) << dwID;
        }

        // Another camera: stored silently.
        ASSERT_EQ(Device(2)->stQuery.*reply.pFlag, 0);
        send(2, "SN2");
        EXPECT_TRUE(reply.holds(*Device(2), byMark));
        EXPECT_EQ(Device(2)->stQuery.*reply.pFlag, 1);
        EXPECT_THAT(m_sink.m_vecSeen, IsEmpty());

        // The selected camera: stored and announced.
        ASSERT_EQ(Device(1)->stQuery.*reply.pFlag, 0);
        send(1, "SN1");
        EXPECT_TRUE(reply.holds(*Device(1), byMark));
        EXPECT_EQ(Device(1)->stQuery.*reply.pFlag, 1);
        if (reply.dwNotifyID != 0)
            EXPECT_THAT(m_sink.m_vecSeen,
                        ElementsAre(Pair(reply.dwNotifyID, reinterpret_cast<UINT_PTR>(Device(1)))));
        else
            EXPECT_THAT(m_sink.m_vecSeen, IsEmpty());
    }
}

} // namespace
