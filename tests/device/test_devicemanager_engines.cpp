// Device manager with the real engines: a camera's datagrams reach the manager through the
// engines' reply subscriptions, and its requests leave through their (recording) socket layers.
#include "device_test_support.h"

#include "protocol/engoffcmd.h"
#include "protocol/test_viewer_support.h"

#include <gmock/gmock.h>

using namespace devicetest;
using viewertest::Bytes;
using viewertest::CameraPacket;
using viewertest::kCameraID;
using viewertest::kCameraIP;

namespace {

class CRecordingLanPort : public ILanSocketPort {
public:
    SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort,
                              ISocketReceiver* pReceiver) override
    {
        SocketGroup& group = m_groups[usPort];
        group.dwGroupIP = dwGroupIP;
        group.usPort = usPort;
        group.pReceiver = pReceiver;
        return &group;
    }
    int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup) override
    {
        m_vecSent.push_back({Bytes(pData, pData + nLen), dwIP, usPort});
        return nLen;
    }
    struct Sent {
        Bytes data;
        DWORD dwIP;
        WORD usPort;
    };
    std::map<WORD, SocketGroup> m_groups;
    std::vector<Sent> m_vecSent;
};

class DeviceManagerEnginesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-deviceeng-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_strDir = szTemplate;
        setenv("VISTREL_HOME", m_strDir.c_str(), 1);
        GetLogFile().ResetForTest();
        m_strTypes = viewertest::MakeCameraTypeFolder();
        m_pTypes = std::make_unique<CConfigCameraType>(m_strTypes);

        EngCmdDeps deps;
        deps.pSockets = &m_sockets;
        deps.pConfig = &m_config;
        deps.pCameraTypes = m_pTypes.get();
        deps.pLanRoutes = &m_routes;
        m_pEngCmd = std::make_unique<CEngCmd>(deps);
        m_pEngCmd->Init();
        m_pEngOffCmd = std::make_unique<CEngOffCmd>(&m_lanPort, &m_store);
        m_pEngOffCmd->Init();
        m_pTransport = std::make_unique<CEngCmdRecordTimeTransport>(m_pEngCmd.get());
        m_pMSCmd = std::make_unique<CMSCmd>(m_pTransport.get());
        m_pEngCmd->SetRecordTimeSink(m_pMSCmd.get());
        m_pEngines = std::make_unique<CDeviceEngines>(m_pEngCmd.get(), m_pEngOffCmd.get(), m_pMSCmd.get());

        for (DWORD dwID : kRaised)
            m_notify.RegisterNotify(dwID, &m_sink);
        DeviceManagerDeps managerDeps;
        managerDeps.pEngines = m_pEngines.get();
        managerDeps.pNotify = &m_notify;
        managerDeps.pWindows = &m_windows;
        managerDeps.pDownloads = &m_downloads;
        managerDeps.uAnsiCodePage = CP_WESTERN;
        m_pManager = std::make_unique<CDeviceManager>(managerDeps);
        m_pManager->SearchDevices(10000);
    }
    void TearDown() override
    {
        m_pManager.reset();
        GetLogFile().ResetForTest();
        std::error_code ec;
        std::filesystem::remove_all(m_strDir, ec);
        std::filesystem::remove_all(m_strTypes, ec);
    }

    void Dispatch(BYTE byCode, const Bytes& body, DWORD bMulticast = 0)
    {
        Bytes packet = CameraPacket(byCode, body);
        m_pEngCmd->DispatchCmd(packet.data(), static_cast<int>(packet.size()), kCameraIP, 8102, bMulticast,
                               viewertest::kSocket, 0);
    }
    // Viewer request codes sent to the camera so far.
    std::vector<int> SentViewerCodes() const
    {
        std::vector<int> out;
        for (const auto& sent : m_sockets.m_sent) {
            if (sent.dwIP == kCameraIP && sent.data.size() >= 16)
                out.push_back(sent.data[1]);
        }
        return out;
    }

    CFakeTickClock m_clock{kStartTick};
    viewertest::CFakeSockets m_sockets;
    viewertest::CTestConfig m_config;
    viewertest::CFakeLanRoutes m_routes;
    std::string m_strTypes;
    std::unique_ptr<CConfigCameraType> m_pTypes;
    std::unique_ptr<CEngCmd> m_pEngCmd;
    CRecordingLanPort m_lanPort;
    CLanRecordStore m_store;
    std::unique_ptr<CEngOffCmd> m_pEngOffCmd;
    std::unique_ptr<CEngCmdRecordTimeTransport> m_pTransport;
    std::unique_ptr<CMSCmd> m_pMSCmd;
    std::unique_ptr<CDeviceEngines> m_pEngines;
    CNotifyManager m_notify;
    CRecordingSink m_sink;
    CWindowsManage m_windows;
    CFakeDownloads m_downloads;
    std::unique_ptr<CDeviceManager> m_pManager;
    std::string m_strDir;
};

TEST_F(DeviceManagerEnginesTest, SearchReplyMakesADeviceThatIsQueriedAndAnswersLand)
{
    viewertest::SearchReply reply;
    reply.serial = "SNENGINE01";
    Dispatch(0x81, reply.Body(), 1);

    DeviceInfo* pDevice = m_pManager->GetDevice(kCameraID, CAMERA_MASK_TOP);
    ASSERT_NE(pDevice, nullptr);
    EXPECT_THAT(m_sink.Ids(), ::testing::ElementsAre(121u));
    EXPECT_STREQ(pDevice->GetSerial(), "SNENGINE01");
    EXPECT_EQ(pDevice->stItem.bFoundByMulticast, 1u);

    // The first pass went out: online commands (8), version (9), ports (50), ... and the
    // LAN network-parameter query by the device's route.
    const std::vector<int> vecCodes = SentViewerCodes();
    EXPECT_NE(std::find(vecCodes.begin(), vecCodes.end(), 9), vecCodes.end());
    EXPECT_NE(std::find(vecCodes.begin(), vecCodes.end(), 8), vecCodes.end());
    EXPECT_NE(std::find(vecCodes.begin(), vecCodes.end(), 50), vecCodes.end());
    const bool bNetParamAsked = std::any_of(
        m_lanPort.m_vecSent.begin(), m_lanPort.m_vecSent.end(), [](const CRecordingLanPort::Sent& s) {
            return s.data.size() >= 2 && s.data[1] == LAN_CMD_GET_PARAM && s.dwIP == kCameraIP;
        });
    EXPECT_TRUE(bNetParamAsked);

    // Version reply: the second field is the version.
    Bytes body(32, 0);
    std::memcpy(body.data(), "OTHERFIELD", 10);
    std::memcpy(body.data() + 16, "V9.8.7", 6);
    Dispatch(0x89, body);
    EXPECT_STREQ(pDevice->szVersion, "V9.8.7");
    EXPECT_EQ(pDevice->stQuery.bCmdGetVersion, 1);

    // A refused start-video is reported whoever is selected.
    Dispatch(0xC1, Bytes{0, 0, 0, 2});
    EXPECT_EQ(pDevice->dwCameraVideoStatus, 2u);
    EXPECT_THAT(m_sink.Ids(), ::testing::ElementsAre(121u, 148u));
}

TEST_F(DeviceManagerEnginesTest, PlaybackSelectionSendsStartVideoAndReliableRecordQueries)
{
    viewertest::SearchReply reply;
    Dispatch(0x81, reply.Body(), 1);
    m_sockets.m_sent.clear();

    m_pManager->SelectDevice(kCameraID, CAMERA_TYPE_SINGLE, PLAY_TYPE_PLAYBACK);
    const std::vector<int> vecCodes = SentViewerCodes();
    ASSERT_GE(vecCodes.size(), 2u);
    EXPECT_EQ(vecCodes[0], 65); // start video
    EXPECT_EQ(vecCodes[1], 89); // the first record-time query, reliably
    ASSERT_FALSE(m_sockets.m_sent.empty());
    EXPECT_EQ(m_sockets.m_sent[0].data.back(), 1); // stream type of playback
    EXPECT_EQ(m_pMSCmd->GetQueueLength(kCameraID), 2u);
}

} // namespace
