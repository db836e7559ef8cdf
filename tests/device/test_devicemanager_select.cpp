// Device manager: selection, video and heartbeats, the reply handlers and their notifications.
#include "device/mediacontext.h"
#include "device_test_support.h"

#include <gmock/gmock.h>

using namespace devicetest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class DeviceSelectTest : public DeviceManagerTest {
protected:
    void SetUp() override
    {
        DeviceManagerTest::SetUp();
        SearchItem& single = NewItem(1, "Cam", "SN1");
        single.bHasSD = 1;
        Scan(single);
        SearchItem& parent = NewParent(10, {11, 12});
        parent.bHasSD = 1;
        for (LONG i = 0; i < parent.nChildCount; ++i)
            parent.pChildren[i].bHasSD = 1;
        Scan(parent);
        m_engines.Take();
        m_sink.m_vecSeen.clear();
    }
    std::string Token(const DeviceInfo* pDevice) const { return Hex(pDevice->stPassword.pbEncryptedID, 16); }
    // A 16-byte token of one repeated byte, as the recorder shows it.
    static std::string Filled(BYTE byValue)
    {
        const std::vector<BYTE> vec(16, byValue);
        return Hex(vec.data(), vec.size());
    }
};

TEST_F(DeviceSelectTest, LiveViewStartsAndEndsKeepingOnlyTheCapabilityFlag)
{
    DeviceInfo* pDevice = Device(1);
    // No password: a stale stored token is not sent; the token is made under the empty password.
    std::memset(pDevice->stPassword.pbEncryptedID, 0xAB, 16);
    PasswordInfo expected = pDevice->stPassword;
    MakeToken(expected);
    ASSERT_NE(Hex(expected.pbEncryptedID, 16), Filled(0xAB));
    pDevice->stQuery.nQueryPass = 4;
    pDevice->stQuery.bCmdGetSensor = 1;
    pDevice->stQuery.bCmdGetVersion = 1;

    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    EXPECT_EQ(m_pManager->GetSelectDevice(), pDevice);
    EXPECT_EQ(m_pManager->GetPlayType(), PLAY_TYPE_REALTIME);
    EXPECT_THAT(m_engines.Take(), ElementsAre("StartVideo 1 " + Hex(expected.pbEncryptedID, 16) + " 0 0"));
    EXPECT_THAT(m_sink.Ids(), ElementsAre(161u, 141u));
    EXPECT_EQ(m_sink.m_vecSeen[1].second, reinterpret_cast<UINT_PTR>(pDevice));

    m_pManager->CancelSelectDevice();
    EXPECT_THAT(m_engines.Take(), ElementsAre("AudioControl 1 1 1", "StopVideo 1 " + Token(pDevice)));
    EXPECT_THAT(m_sink.Ids(), ElementsAre(161u, 141u, 142u, 162u));
    EXPECT_EQ(pDevice->stQuery.bCmdGetSensor, 1);
    EXPECT_EQ(pDevice->stQuery.bCmdGetVersion, 0);
    EXPECT_EQ(pDevice->stQuery.nQueryPass, 0);
    EXPECT_EQ(m_pManager->GetSelectDevice(), nullptr);
    EXPECT_EQ(m_pManager->GetPlayType(), PLAY_TYPE_NONE);

    // Nothing selected: nothing to cancel.
    m_pManager->CancelSelectDevice();
    EXPECT_THAT(m_engines.Take(), IsEmpty());
}

TEST_F(DeviceSelectTest, NewFirmwareOnTheCurrentDeviceIsAskedForAgain)
{
    for (DWORD dwID : {1u, 10u}) {
        Device(dwID)->stQuery.bCmdGetVersion = 1;
        Device(dwID)->stQuery.nQueryPass = 4;
    }
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    m_pManager->OnFirmwareWritten("SNPARENT10"); // not the current device: kept
    m_pManager->OnFirmwareWritten("SN1");
    EXPECT_EQ(Device(1)->stQuery.bCmdGetVersion, 0);
    EXPECT_EQ(Device(1)->stQuery.nQueryPass, 0);
    EXPECT_EQ(Device(10)->stQuery.bCmdGetVersion, 1);
    EXPECT_EQ(Device(10)->stQuery.nQueryPass, 4);
}

TEST_F(DeviceSelectTest, PlaybackOfAChannelUsesItsStreamAndRecordOption)
{
    m_pManager->SelectDevice(12, CAMERA_TYPE_CHILD, PLAY_TYPE_PLAYBACK_OPT);
    const std::vector<std::string> vecCalls = m_engines.Take();
    ASSERT_GE(vecCalls.size(), 2u);
    EXPECT_EQ(vecCalls[0], "StartVideo 12 " + Token(Device(12)) + " 2 0");
    EXPECT_EQ(vecCalls[1], "RecordRange 12 1");
    EXPECT_THAT(m_sink.Ids(), ElementsAre(161u, 143u));

    // A search reply of the selected camera in playback raises only 123.
    m_sink.m_vecSeen.clear();
    Scan(m_items[1]);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(123u));

    m_pManager->CancelSelectDevice();
    EXPECT_THAT(m_sink.Ids(), ElementsAre(123u, 144u, 162u));
    EXPECT_THAT(m_engines.Take(), ElementsAre("StopVideo 12 " + Token(Device(12))));

    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_PLAYBACK);
    const std::vector<std::string> vecSingle = m_engines.Take();
    EXPECT_EQ(vecSingle[0], "StartVideo 1 " + Token(Device(1)) + " 1 0");
    EXPECT_EQ(vecSingle[1], "RecordRange 1 0");
}

TEST_F(DeviceSelectTest, SearchReplyOfSelectedLiveCameraRaisesListAndCommonInfo)
{
    Scan(m_items[0]);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(123u));
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    m_sink.m_vecSeen.clear();
    Scan(m_items[0]);
    Scan(m_items[1]); // another camera: list only
    EXPECT_THAT(m_sink.Ids(), ElementsAre(123u, 101u, 123u));
}

TEST_F(DeviceSelectTest, MisuseIsFatal)
{
    EXPECT_THROW(m_pManager->SelectDevice(12, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME), CMyExceptionExit);
    EXPECT_THROW(m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_NONE), CMyExceptionExit);
    EXPECT_THROW(m_pManager->SelectDevice(999, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME), CMyExceptionExit);
    EXPECT_EQ(m_pManager->GetSelectDevice(), nullptr);
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    EXPECT_THROW(m_pManager->SelectDevice(11, CAMERA_TYPE_CHILD, PLAY_TYPE_REALTIME), CMyExceptionExit);
    EXPECT_EQ(m_pManager->GetSelectDevice(), Device(1));
    EXPECT_THROW(m_pManager->GetRecordInfo(10), CMyExceptionExit);
    EXPECT_THROW(StreamTypeOfPlayType(4), CMyExceptionExit);
}

TEST_F(DeviceSelectTest, StartRecomputesTheTokenOnlyForPasswordCameras)
{
    DeviceInfo* pDevice = Device(1);
    pDevice->stPassword.ulSequenceId[0] = 5;
    pDevice->stPassword.ulSequenceId[1] = 6;
    std::memset(pDevice->stPassword.pszEncryptedSourceId, 0x42, 16);
    std::memcpy(pDevice->stPassword.pszInputPassword, "secret", 6);
    PasswordInfo expected = pDevice->stPassword;
    MakeToken(expected);

    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    EXPECT_EQ(Token(pDevice), Hex(expected.pbEncryptedID, 16));
    EXPECT_EQ(m_engines.Take()[0], "StartVideo 1 " + Hex(expected.pbEncryptedID, 16) + " 0 0");
}

TEST_F(DeviceSelectTest, SetPasswordReachesRecordersChannelsAndIgnoresAWrongOne)
{
    // The recorder and its channels share one check value made from "pw".
    DeviceInfo* pParent = Device(10);
    PasswordInfo source = pParent->stPassword;
    BYTE abRight[PASSWORD_LEN] = {'p', 'w'};
    ComputeCheckValue(source, abRight, source.pszEncryptedSourceId);
    for (DeviceInfo* pDevice : {pParent, Device(11), Device(12)})
        std::memcpy(pDevice->stPassword.pszEncryptedSourceId, source.pszEncryptedSourceId, 16);

    BYTE abWrong[PASSWORD_LEN] = {'n', 'o'};
    m_pManager->SetPassword(abWrong);
    EXPECT_FALSE(PasswordMatches(pParent->stPassword));
    m_pManager->SetPassword(abRight);
    for (DeviceInfo* pDevice : {pParent, Device(11), Device(12)}) {
        EXPECT_TRUE(PasswordMatches(pDevice->stPassword)) << pDevice->GetID();
        EXPECT_EQ(std::memcmp(pDevice->stPassword.pszInputPassword, abRight, PASSWORD_LEN), 0);
    }
}

TEST_F(DeviceSelectTest, HeartbeatsCarryStreamTypeAndDownloadFlag)
{
    Timer(TR_VIDEO_HEARTBEAT);
    EXPECT_THAT(m_engines.Take(), IsEmpty());
    m_pManager->SelectDevice(11, CAMERA_TYPE_CHILD, PLAY_TYPE_PLAYBACK);
    m_engines.Take();
    Timer(TR_VIDEO_HEARTBEAT);
    EXPECT_THAT(m_engines.Take(), ElementsAre("StartVideo 11 " + Token(Device(11)) + " 1 0"));

    std::memset(Device(10)->stPassword.pbEncryptedID, 0x10, 16);
    std::memset(Device(12)->stPassword.pbEncryptedID, 0x12, 16);
    Timer(TR_DOWNLOAD_HEARTBEAT);
    EXPECT_THAT(m_engines.Take(), IsEmpty());
    m_downloads.m_setDownloading = {1, 12};
    Timer(TR_DOWNLOAD_HEARTBEAT);
    // A channel goes with its recorder's token.
    EXPECT_THAT(m_engines.Take(), ElementsAre("StartVideo 1 " + Token(Device(1)) + " 1 1",
                                              "StartVideo 12 " + Filled(0x10) + " 1 1"));

    // Gone devices and devices without SD card are not kept alive.
    Device(1)->bIsExist = 0;
    Device(10)->stItem.bHasSD = 0;
    Timer(TR_DOWNLOAD_HEARTBEAT);
    EXPECT_THAT(m_engines.Take(), IsEmpty());
}

// The watched set on the wire: each watched camera gets its start video once, with its own
// stream type (a channel with its recorder's token), and one heartbeat per period; selecting
// and cancelling a watched camera neither restarts nor stops it; unwatching stops it only when
// asked to.
TEST_F(DeviceSelectTest, WatchedCamerasStartOnceBeatEveryPeriodAndStopOnlyWhenAsked)
{
    // The recorder has a password; its channels go with its token.
    SearchItem& recorderItem = m_items[1];
    recorderItem.ulSequenceId[0] = 7;
    recorderItem.ulSequenceId[1] = 9;
    Scan(recorderItem);
    DeviceInfo* pParent = Device(10);
    BYTE abPassword[PASSWORD_LEN] = {'p', 'w'};
    ComputeCheckValue(pParent->stPassword, abPassword, recorderItem.pszEncryptedSourceId);
    Scan(recorderItem);
    m_pManager->SetPassword(abPassword);
    ASSERT_TRUE(Device(11)->stPassword.HasPassword());
    PasswordInfo recorder = pParent->stPassword;
    MakeToken(recorder);
    const std::string strRecorderToken = Hex(recorder.pbEncryptedID, 16);
    m_engines.Take();

    const auto Tok = [&](DWORD dwID) {
        PasswordInfo password = Device(dwID)->stPassword;
        MakeToken(password);
        return Hex(password.pbEncryptedID, 16);
    };
    const auto Start = [&](DWORD dwID, int nStream) {
        return "StartVideo " + std::to_string(dwID) + " " + Tok(dwID) + " " + std::to_string(nStream) + " 0";
    };
    const auto Stop = [&](DWORD dwID) { return "StopVideo " + std::to_string(dwID) + " " + Tok(dwID); };
    const auto Audio = [](DWORD dwID) { return "AudioControl " + std::to_string(dwID) + " 1 1"; };
    EXPECT_EQ(Tok(11), strRecorderToken);

    // Camera 1's password: Locked changes it (a search reply with another check value, then its
    // heartbeat refused for the password); Unlocked gives it back (no password again).
    enum class Op {
        Watch,
        Unwatch,
        UnwatchStop,
        Select,
        Cancel,
        Beat,
        Hold,
        Release,
        ReleaseStop,
        Locked,
        Unlocked
    };
    struct Step {
        Op op;
        DWORD dwID;
        DWORD enPlayType;
        std::vector<std::string> vecWire;
        // The cameras announced as back (121) by the step.
        std::vector<UINT_PTR> vecBack = {};
    };
    const auto Back = [&](DWORD dwID) { return reinterpret_cast<UINT_PTR>(Device(dwID)); };
    struct Case {
        const char* pszName;
        std::vector<Step> steps;
        std::vector<DWORD> vecWatchedAfter;
    };
    const DWORD LIVE = PLAY_TYPE_REALTIME;
    const DWORD PLAYBACK = PLAY_TYPE_PLAYBACK;
    const std::vector<Case> cases = {
        {"three cameras, each its start once and a heartbeat every period",
         {{Op::Watch, 1, LIVE, {Start(1, 0)}},
          {Op::Watch, 11, LIVE, {Start(11, 0)}},
          {Op::Watch, 12, PLAYBACK, {Start(12, 1), "RecordRange 12 0"}},
          {Op::Watch, 1, LIVE, {}},
          {Op::Beat, 0, 0, {Start(1, 0), Start(11, 0), Start(12, 1)}},
          {Op::Beat, 0, 0, {Start(1, 0), Start(11, 0), Start(12, 1)}}},
         {1, 11, 12}},
        {"selecting a watched camera does not restart it, cancelling does not stop it",
         {{Op::Watch, 1, LIVE, {Start(1, 0)}},
          {Op::Select, 1, LIVE, {}},
          {Op::Cancel, 1, 0, {Audio(1)}},
          {Op::Beat, 0, 0, {Start(1, 0)}}},
         {1}},
        {"watching the selected camera keeps it after the selection",
         {{Op::Select, 11, LIVE, {Start(11, 0)}},
          {Op::Watch, 11, LIVE, {}},
          {Op::Cancel, 11, 0, {Audio(11)}},
          {Op::Beat, 0, 0, {Start(11, 0)}}},
         {11}},
        {"a selection alone stops with its cancel",
         {{Op::Select, 1, LIVE, {Start(1, 0)}},
          {Op::Beat, 0, 0, {Start(1, 0)}},
          {Op::Cancel, 1, 0, {Audio(1), Stop(1)}},
          {Op::Beat, 0, 0, {}}},
         {}},
        {"unwatched without stop: the heartbeat ends, nothing is sent",
         {{Op::Watch, 1, LIVE, {Start(1, 0)}},
          {Op::Watch, 12, LIVE, {Start(12, 0)}},
          {Op::Unwatch, 1, 0, {}},
          {Op::Beat, 0, 0, {Start(12, 0)}},
          {Op::Unwatch, 1, 0, {}}},
         {12}},
        {"unwatched with stop: the stop goes at once",
         {{Op::Watch, 12, LIVE, {Start(12, 0)}},
          {Op::UnwatchStop, 12, 0, {Audio(12), Stop(12)}},
          {Op::Beat, 0, 0, {}}},
         {}},
        {"unwatching the selected camera leaves it to the selection",
         {{Op::Watch, 1, LIVE, {Start(1, 0)}},
          {Op::Select, 1, LIVE, {}},
          {Op::UnwatchStop, 1, 0, {}},
          {Op::Beat, 0, 0, {Start(1, 0)}},
          {Op::Cancel, 1, 0, {Audio(1), Stop(1)}}},
         {}},
        {"a playback of a watched camera, then its live stream again",
         {{Op::Watch, 1, LIVE, {Start(1, 0)}},
          {Op::Select, 1, PLAYBACK, {Start(1, 1), "RecordRange 1 0"}},
          {Op::Beat, 0, 0, {Start(1, 1)}},
          {Op::Cancel, 1, 0, {Start(1, 0)}},
          {Op::Beat, 0, 0, {Start(1, 0)}}},
         {1}},
        {"a hold keeps the live stream after its pane, the last release ends it",
         {{Op::Watch, 1, LIVE, {Start(1, 0)}},
          {Op::Hold, 1, 0, {}},
          {Op::Hold, 1, 0, {}},
          {Op::UnwatchStop, 1, 0, {}},
          {Op::Release, 1, 0, {}},
          {Op::Beat, 0, 0, {Start(1, 0)}},
          {Op::ReleaseStop, 1, 0, {Audio(1), Stop(1)}},
          {Op::Beat, 0, 0, {}}},
         {}},
        {"a hold starts a camera no pane shows; a pane's playback goes first and gives it back",
         {{Op::Hold, 12, 0, {Start(12, 0)}},
          {Op::Watch, 12, PLAYBACK, {Start(12, 1), "RecordRange 12 0"}},
          {Op::Unwatch, 12, 0, {Start(12, 0)}},
          {Op::Select, 12, LIVE, {}},
          {Op::Release, 12, 0, {}},
          {Op::Beat, 0, 0, {Start(12, 0)}},
          {Op::Cancel, 12, 0, {Audio(12), Stop(12)}}},
         {}},
        {"a camera refused for its password comes back when it takes the stored one again",
         {{Op::Watch, 1, LIVE, {Start(1, 0)}},
          {Op::Locked, 1, 0, {}},
          {Op::Unwatch, 1, 0, {}},
          {Op::Locked, 1, 0, {}},
          {Op::Unlocked, 1, 0, {}, {Back(1)}},
          {Op::Unlocked, 1, 0, {}},
          {Op::Watch, 1, LIVE, {Start(1, 0)}}},
         {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        int nStep = 0;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(nStep++);
            const DWORD dwType = step.dwID >= 10 ? CAMERA_TYPE_CHILD : CAMERA_TYPE_SINGLE;
            switch (step.op) {
            case Op::Watch:
                m_pManager->WatchDevice(step.dwID, dwType, step.enPlayType);
                break;
            case Op::Unwatch:
            case Op::UnwatchStop:
                m_pManager->UnwatchDevice(step.dwID, step.op == Op::UnwatchStop);
                break;
            case Op::Select:
                m_pManager->SelectDevice(step.dwID, dwType, step.enPlayType);
                break;
            case Op::Cancel:
                m_pManager->CancelSelectDevice();
                break;
            case Op::Beat:
                Timer(TR_VIDEO_HEARTBEAT);
                break;
            case Op::Hold:
                m_pManager->HoldLive(step.dwID, dwType);
                break;
            case Op::Release:
            case Op::ReleaseStop:
                m_pManager->ReleaseLive(step.dwID, step.op == Op::ReleaseStop);
                break;
            case Op::Locked: {
                SearchItem& item = m_items[0];
                const BYTE abOther[PASSWORD_LEN] = {'n', 'e', 'w'};
                ComputeCheckValue(Device(1)->stPassword, abOther, item.pszEncryptedSourceId);
                Scan(item);
                StartVideoReply refused{1, 0, 3, 0};
                Send(DM_MSG_START_VIDEO, 0, reinterpret_cast<LPARAM>(&refused));
                break;
            }
            case Op::Unlocked:
                std::memset(m_items[0].pszEncryptedSourceId, 0, PASSWORD_CHECK_LEN);
                Scan(m_items[0]);
                break;
            }
            std::vector<UINT_PTR> vecBack;
            for (const auto& [dwNotifyID, dwParam] : m_sink.m_vecSeen) {
                if (dwNotifyID == DWORD_NOTIFYID_CAMERA_EXIST_ONLINE)
                    vecBack.push_back(dwParam);
            }
            m_sink.m_vecSeen.clear();
            EXPECT_EQ(vecBack, step.vecBack);
            std::vector<std::string> vecWire = m_engines.Take();
            // The basic query pass of a selection is not the video's business.
            std::erase_if(vecWire, [](const std::string& str) {
                return str.rfind("StartVideo", 0) != 0 && str.rfind("StopVideo", 0) != 0 &&
                       str.rfind("AudioControl", 0) != 0 && str.rfind("RecordRange", 0) != 0;
            });
            EXPECT_EQ(vecWire, step.vecWire);
        }
        std::vector<DWORD> vecWatched;
        for (DWORD dwID : {1u, 11u, 12u}) {
            if (m_pManager->IsWatched(dwID))
                vecWatched.push_back(dwID);
        }
        EXPECT_EQ(vecWatched, c.vecWatchedAfter);
        // The next case starts from nothing watched.
        for (DWORD dwID : vecWatched)
            m_pManager->UnwatchDevice(dwID, false);
        m_engines.Take();
    }
}

// The notifications about a camera's video name that camera for every watched one, selected or
// not: its start and stop, and its sequence change; a camera nobody watches raises none.
TEST_F(DeviceSelectTest, WatchedCamerasRaiseTheirVideoNotifications)
{
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    m_pManager->WatchDevice(12, CAMERA_TYPE_CHILD, PLAY_TYPE_REALTIME);
    EXPECT_EQ(m_pManager->GetWatchedPlayType(12), PLAY_TYPE_REALTIME);
    EXPECT_EQ(m_pManager->GetWatchedPlayType(11), PLAY_TYPE_NONE);
    m_sink.m_vecSeen.clear();
    Send(DM_MSG_VIDEO_SEQUENCE, 12, 0);
    Send(DM_MSG_VIDEO_SEQUENCE, 11, 0); // not watched
    Send(DM_MSG_VIDEO_SEQUENCE, 1, 0);
    StartVideoReply busy{12, 0, 4, 0};
    Send(DM_MSG_START_VIDEO, 0, reinterpret_cast<LPARAM>(&busy));
    m_pManager->UnwatchDevice(12, true);
    const auto Dev = [&](DWORD dwID) { return reinterpret_cast<UINT_PTR>(Device(dwID)); };
    EXPECT_EQ(m_sink.m_vecSeen,
              (std::vector<std::pair<DWORD, UINT_PTR>>{{DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED, Dev(12)},
                                                       {DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED, Dev(1)},
                                                       {DWORD_NOTIFYID_CAMERA_VIDEO_STATUS_ERROR, Dev(12)},
                                                       {DWORD_NOTIFYID_VIDEO_STOP, Dev(12)}}));
    EXPECT_EQ(Device(12)->dwCameraVideoStatus, 4u);
}

TEST_F(DeviceSelectTest, RefreshRecordInfoAndFinishedRanges)
{
    Timer(TR_CAMINFO_REFLESH);
    EXPECT_THAT(m_engines.Take(), IsEmpty());
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    m_engines.Take();
    Timer(TR_CAMINFO_REFLESH);
    EXPECT_THAT(m_engines.Take(),
                ElementsAre("GetNetParam 1", "UpnpQuery 1", "GetDServer 1", "Query3GStatus SN1"));

    m_pManager->GetAllRecordInfo();
    EXPECT_THAT(m_engines.Take(),
                ElementsAre("RecordRange 1 0", "StartVideo 1 " + Token(Device(1)) + " 1 1", "RecordInfo 1",
                            "RecordRange 11 0", "StartVideo 11 " + Token(Device(11)) + " 1 1",
                            "RecordInfo 11", "RecordRange 12 0",
                            "StartVideo 12 " + Token(Device(12)) + " 1 1", "RecordInfo 12"));

    Send(DM_MSG_RECORD_FINISH, 0, 12);
    EXPECT_THAT(m_downloads.m_vecNext, IsEmpty());
    m_downloads.m_setDownloading = {12};
    Send(DM_MSG_RECORD_FINISH, 0, 12);
    EXPECT_THAT(m_downloads.m_vecNext, ElementsAre(12u));
}

TEST_F(DeviceSelectTest, SensorRepliesCountOnlyWithTheEchoAndNotifyTheSelectedFamily)
{
    Device(1)->stSensorCap.dwCameraUIType = CAMERA_UI_TYPE_D;
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    m_sink.m_vecSeen.clear();

    // Five words in network order: word 2 = 0x332211AE (echo 174), word 3 low byte 0x44.
    BYTE abReply[20] = {0, 0, 1, 0x01, 0x33, 0x22, 0x11, 0xAE, 0, 0, 0x55, 0x44, 0, 0, 0, 0x66};
    abReply[7] = 0x10; // not our read
    Send(DM_MSG_SENSOR_9900, 1, reinterpret_cast<LPARAM>(abReply));
    EXPECT_EQ(Device(1)->stQuery.bCmdGetT9QY, 0);
    abReply[7] = 0xAE;
    Send(DM_MSG_SENSOR_9900, 1, reinterpret_cast<LPARAM>(abReply));
    EXPECT_EQ(Device(1)->bT9QK, 0x11);
    EXPECT_EQ(Device(1)->bT9QL, 0x22);
    EXPECT_EQ(Device(1)->bT9QM, 0x33);
    EXPECT_EQ(Device(1)->bT9QN, 0x44);
    EXPECT_EQ(Device(1)->stQuery.bCmdGetT9QY, 1);
    // 9P031 reply for a camera of the 9900 family: stored, not announced.
    Send(DM_MSG_SENSOR_9P031, 1, reinterpret_cast<LPARAM>(abReply));
    EXPECT_EQ(Device(1)->bT9QXMode, 0x11);
    EXPECT_EQ(Device(1)->bT9QXHorizontal, 0x44);
    EXPECT_EQ(Device(1)->bT9QXSharpness, 0x55);
    EXPECT_EQ(Device(1)->bT9QXTargetY, 0x66);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(146u));

    // Unselected devices store silently.
    Send(DM_MSG_SENSOR_9900, 10, reinterpret_cast<LPARAM>(abReply));
    EXPECT_EQ(Device(10)->stQuery.bCmdGetT9QY, 1);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(146u));
}

TEST_F(DeviceSelectTest, RepliesStoreAndAnnounceForTheSelectedDeviceOnly)
{
    DServerRecord dserver{};
    std::strcpy(dserver.szSerial, "SN1");
    std::strcpy(dserver.szServer, "server");
    NetParamRecord netparam{};
    std::strcpy(netparam.szSerial, "SN1");
    netparam.ucConnType = LAN_CONN_PPPOE;
    VolumeInfo volume{};
    volume.dwID = 1;
    volume.bVolMicrophone = 127;
    StartVideoReply started{1, 2, 3, 0};

    Send(DM_MSG_DSERVER, 0, reinterpret_cast<LPARAM>(&dserver));
    Send(DM_MSG_NETPARAM, 0, reinterpret_cast<LPARAM>(&netparam));
    Send(DM_MSG_GET_VOLUME, 0, reinterpret_cast<LPARAM>(&volume));
    Send(DM_MSG_START_VIDEO, 0, reinterpret_cast<LPARAM>(&started)); // any device
    EXPECT_THAT(m_sink.Ids(), ElementsAre(148u));
    EXPECT_EQ(Device(1)->dwCameraVideoStatus, 3u);
    EXPECT_STREQ(Device(1)->stDServer.szServer, "server");
    EXPECT_EQ(Device(1)->stQuery.bCmdGetNetParam, 1);
    EXPECT_EQ(Device(1)->stMicrophone.bVolMicrophone, 100);
    EXPECT_EQ(Device(1)->stQuery.bCmdGetVolume, 1);

    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    m_sink.m_vecSeen.clear();
    m_engines.Take();
    Send(DM_MSG_DSERVER, 0, reinterpret_cast<LPARAM>(&dserver));
    Send(DM_MSG_NETPARAM, 0, reinterpret_cast<LPARAM>(&netparam));
    Send(DM_MSG_VIDEO_SEQUENCE, 1, 0);
    Send(DM_MSG_VIDEO_SEQUENCE, 11, 0);
    EXPECT_THAT(m_sink.Ids(), ElementsAre(105u, 104u, 168u));

    // The extended network reply goes out only while somebody listens.
    m_pManager->GetNetworkExtendInfo();
    EXPECT_THAT(m_engines.Take(), ElementsAre("GetNetworkExtend 1 1"));
    NetworkExtendInfo extend{};
    Send(DM_MSG_NETWORK_EXTEND, 1, reinterpret_cast<LPARAM>(&extend));
    EXPECT_EQ(m_sink.m_vecSeen.size(), 3u);
    CRecordingSink dialog;
    m_notify.RegisterNotify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, &dialog);
    Send(DM_MSG_NETWORK_EXTEND, 1, reinterpret_cast<LPARAM>(&extend));
    ASSERT_EQ(dialog.m_vecSeen.size(), 1u);
    EXPECT_EQ(dialog.m_vecSeen[0].second, reinterpret_cast<UINT_PTR>(&extend));
    m_notify.RemoveNotify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, &dialog);
}

TEST_F(DeviceSelectTest, WifiRescanEndsWithItsNotification)
{
    m_pManager->SelectDevice(1, CAMERA_TYPE_SINGLE, PLAY_TYPE_REALTIME);
    EXPECT_THROW(m_pManager->ReScanWifi(), CMyExceptionExit); // no Wi-Fi record yet
    alignas(WifiRecord) BYTE abRecord[WIFI_RECORD_MIN_ALLOC] = {};
    auto* pWifi = reinterpret_cast<WifiRecord*>(abRecord);
    std::memcpy(pWifi->szSerial, "SN1", 3);
    m_sink.m_vecSeen.clear();
    m_engines.Take();

    Send(DM_MSG_WIFI, 0, reinterpret_cast<LPARAM>(pWifi));
    EXPECT_EQ(Device(1)->pWifiRecord, pWifi);
    m_pManager->ReScanWifi();
    EXPECT_THAT(m_engines.Take(), ElementsAre("WifiQuery SN1"));
    EXPECT_EQ(Device(1)->bWifiRescanPending, 1);
    Send(DM_MSG_WIFI, 0, reinterpret_cast<LPARAM>(pWifi));
    EXPECT_THAT(m_sink.Ids(), ElementsAre(104u, 104u, 81u));
    EXPECT_EQ(Device(1)->bWifiRescanPending, 0);
}

TEST_F(DeviceSelectTest, CameraMistakesAreDroppedNotFatal)
{
    // A video report under a recorder's id, a schedule write's answer, a time range with no
    // entry: dropped; the record stays as it was.
    SensorT9QXInfo report{};
    report.dwID = 10;
    Send(DM_MSG_SENSOR_T9QX, 10, reinterpret_cast<LPARAM>(&report));
    AutoScanSchedule schedule{};
    schedule.byOperation = 1;
    Send(DM_MSG_AUTOSCAN_SCHEDULE, 1, reinterpret_cast<LPARAM>(&schedule));
    EXPECT_EQ(Device(1)->stQuery.bCmdAutoScanSchedule, 0);
    RecTimeInfo empty{0, nullptr};
    Send(DM_MSG_RECORD_TIME_RANGE, 1, reinterpret_cast<LPARAM>(&empty));
    EXPECT_EQ(Device(1)->bRecordTimeValid, 0);

    RecTimeRange range{{11, 1000, 2000}};
    RecTimeInfo one{1, &range};
    Send(DM_MSG_RECORD_TIME_RANGE, 3, reinterpret_cast<LPARAM>(&one));
    EXPECT_EQ(Device(11)->bRecordTimeValid, 1);
    EXPECT_EQ(Device(11)->usMsVersion, 3);
    EXPECT_EQ(Device(11)->dwRecordTimeStart, 1000u);
    EXPECT_EQ(Device(11)->dwRecordTimeEnd, 2000u);

    // Replies for devices nobody knows change nothing.
    VolumeInfo volume{};
    volume.dwID = 777;
    Send(DM_MSG_GET_VOLUME, 0, reinterpret_cast<LPARAM>(&volume));
    EXPECT_THAT(m_sink.m_vecSeen, IsEmpty());
}

// A camera answering from a new address is marked, and so are a recorder's channels; the live
// path check takes the mark once, when the stream comes by another path than its last frame,
// but never for the unicast of a camera that can send unicast.
TEST_F(DeviceSelectTest, NewAddressMarksTheCameraForOneMoreStartVideo)
{
    MediaContextDeps deps;
    deps.pDevices = m_pManager.get();
    CDeviceMediaContext context(deps);
    struct Step {
        DWORD dwID;
        int nType;
        bool bResend;
    };
    const auto Run = [&](const std::vector<Step>& steps) {
        for (const Step& step : steps)
            EXPECT_EQ(context.TakeChangeIp(step.dwID, step.nType), step.bResend)
                << step.dwID << " path " << step.nType;
    };
    // Same address again: no mark, whatever the path does.
    Scan(NewItem(1, "Cam", "SN1"));
    Run({{1, 1, false}, {1, 0, false}});

    SearchItem& moved = NewItem(1, "Cam", "SN1");
    moved.dwIP = 0x7F000002;
    Scan(moved);
    EXPECT_EQ(Device(1)->bChangeIp, 1);
    Run({{1, 0, false}, {1, 1, true}, {1, 0, false}});
    EXPECT_EQ(Device(1)->bChangeIp, 0);

    SearchItem& unicast = NewItem(1, "Cam", "SN1");
    unicast.dwIP = 0x7F000003;
    unicast.bUnicastCapable = 1;
    Scan(unicast);
    Run({{1, 1, false}, {1, 0, true}, {1, 1, false}});

    SearchItem& recorder = NewParent(10, {11, 12});
    recorder.dwIP = 0x7F000009;
    Scan(recorder);
    EXPECT_EQ(Device(12)->bChangeIp, 1);
    Run({{11, 0, true}, {12, 1, true}, {11, 1, false}});
}

} // namespace
