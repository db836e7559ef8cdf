// Socket manager, capture and sweep in the network lab. Runs in the lab's client namespace
// (scripts/lab/lab-run.sh); peers are started in the camera namespaces with "ip netns exec".
#include "net_test_support.h"

#include "core/language.h"
#include "core/log.h"
#include "net/socketmanager.h"
#include "platform/netif.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace nettest;

namespace {

constexpr DWORD CLIENT_1 = 0xC6120001; // 198.18.0.1
constexpr DWORD CLIENT_2 = 0xC6120101; // 198.18.1.1
constexpr DWORD GROUP_LAN_REQUEST = 0xEC050701;
constexpr DWORD GROUP_LAN_REPLY = 0xEC050702;

std::string Env(const char* pszName)
{
    const char* psz = std::getenv(pszName);
    return psz != nullptr ? psz : "";
}

std::string PeerPath()
{
    char sz[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", sz, sizeof(sz) - 1);
    std::string strPath(sz, n > 0 ? n : 0);
    return strPath.substr(0, strPath.rfind('/') + 1) + "lab_peer";
}

std::string Dotted(DWORD dwIP)
{
    in_addr addr{htonl(dwIP)};
    return inet_ntoa(addr);
}

// A peer process in a lab namespace.
class CPeer {
public:
    CPeer(const std::string& strNamespace, const QStringList& args)
    {
        QStringList all{"netns", "exec", QString::fromStdString(strNamespace),
                        QString::fromStdString(PeerPath())};
        all += args;
        m_process.start("ip", all);
        m_process.waitForStarted();
    }
    ~CPeer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(3000);
        }
    }
    bool WaitReady()
    {
        while (m_process.waitForReadyRead(5000)) {
            m_strOutput += m_process.readAll().toStdString();
            if (m_strOutput.find("ready\n") != std::string::npos)
                return true;
        }
        return false;
    }
    bool WaitDone() { return m_process.waitForFinished(10000) && m_process.exitCode() == 0; }
    // Stops a receiver and returns its lines.
    std::vector<std::string> Stop()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
        m_strOutput += m_process.readAll().toStdString();
        std::vector<std::string> lines;
        std::istringstream in(m_strOutput);
        for (std::string strLine; std::getline(in, strLine);) {
            if (strLine != "ready")
                lines.push_back(strLine);
        }
        return lines;
    }

private:
    QProcess m_process;
    std::string m_strOutput;
};

bool SendFrom(const std::string& strNamespace, const std::string& strDst, WORD usPort,
              const std::string& strText, int nCount = 1, const std::string& strFrom = "")
{
    QStringList args{"send", QString::fromStdString(strDst), QString::number(usPort),
                     QString::fromStdString(strText), QString::number(nCount)};
    if (!strFrom.empty())
        args << QString::fromStdString(strFrom);
    CPeer peer(strNamespace, args);
    return peer.WaitDone();
}

int PendingBytes(SOCKET s)
{
    int n = 0;
    ioctl(s, FIONREAD, &n);
    return n;
}

// Groups joined per device, from the kernel's IGMP table.
std::map<std::string, std::set<DWORD>> JoinedGroups()
{
    std::map<std::string, std::set<DWORD>> joined;
    std::ifstream in("/proc/net/igmp");
    std::string strLine;
    std::string strDevice;
    std::getline(in, strLine);
    while (std::getline(in, strLine)) {
        std::istringstream fields(strLine);
        if (strLine[0] != '\t') {
            std::string strIndex;
            fields >> strIndex >> strDevice;
        } else {
            std::string strHex;
            fields >> strHex;
            // Printed as the network-order word read on a little-endian host.
            joined[strDevice].insert(ntohl(static_cast<DWORD>(std::stoul(strHex, nullptr, 16))));
        }
    }
    return joined;
}

class NetLab : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Never outside a lab: every local address must be a lab address.
        const std::vector<DWORD> addresses = GetLocalIPv4Addresses();
        bool bLab = !Env("LAB_CLIENT_NS").empty() && !addresses.empty();
        for (DWORD dwIP : addresses)
            bLab = bLab && (dwIP & 0xFFFE0000u) == 0xC6120000u;
        if (!bLab)
            GTEST_SKIP() << "not inside a lab client namespace";
        m_strCamera = Env("LAB_CAMERA_NS_1");
    }
    void TearDown() override
    {
        m_pManager.reset();
        m_pCapture.reset();
    }
    void MakeManager(bool bCapture)
    {
        if (!bCapture)
            m_pCapture = std::make_unique<CaptureFactoryScope>(CaptureListenerFactory());
        m_pManager = std::make_unique<CSocketManager>();
    }

    std::string m_strCamera;
    std::unique_ptr<CaptureFactoryScope> m_pCapture;
    std::unique_ptr<CSocketManager> m_pManager;
    CRecordingReceiver m_receiver;
};

int CountFromMsg(const CRecordingReceiver& receiver, UINT uMsg)
{
    int n = 0;
    for (const auto& got : receiver.received)
        n += got.uMsg == uMsg ? 1 : 0;
    return n;
}

} // namespace

// Lab: two client addresses on two links.
TEST_F(NetLab, TwoAddressesMakeTwoSocketsEachAMemberOnItsOwnLink)
{
    MakeManager(false);
    SocketGroup* pGroup = m_pManager->CreateSocket(GROUP_LAN_REPLY, 8000, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    ASSERT_EQ(pGroup->nSockets, 2);
    EXPECT_EQ(pGroup->ppSockets[0]->GetLocalIP(), CLIENT_1);
    EXPECT_EQ(pGroup->ppSockets[1]->GetLocalIP(), CLIENT_2);
    EXPECT_TRUE(pGroup->ppSockets[0]->IsJoined());
    EXPECT_TRUE(pGroup->ppSockets[1]->IsJoined());
    std::map<std::string, std::set<DWORD>> joined = JoinedGroups();
    EXPECT_EQ(joined["eth0"].count(GROUP_LAN_REPLY), 1u);
    EXPECT_EQ(joined["eth1"].count(GROUP_LAN_REPLY), 1u);

    // One multicast send of the group leaves once per link.
    CPeer receiver(m_strCamera, {"recv", "8000", QString::fromStdString(Dotted(GROUP_LAN_REQUEST))});
    ASSERT_TRUE(receiver.WaitReady());
    const BYTE request[] = "search";
    EXPECT_EQ(m_pManager->SendTo(request, 6, GROUP_LAN_REQUEST, 8000, pGroup, 0), 6);
    PumpFor(500);
    const std::vector<std::string> lines = receiver.Stop();
    std::multiset<std::string> sources;
    for (const std::string& strLine : lines)
        sources.insert(strLine.substr(0, strLine.find(' ')));
    EXPECT_EQ(sources, (std::multiset<std::string>{"198.18.0.1:8000", "198.18.1.1:8000"}));

    // A camera's group reply reaches the socket of the link that routes back to the camera,
    // once, after the hold (the other link's reverse-path filter drops it, as on any PC).
    ASSERT_TRUE(SendFrom(m_strCamera, Dotted(GROUP_LAN_REPLY), 8000, "reply-0", 1, "198.18.0.10"));
    ASSERT_TRUE(SendFrom(m_strCamera, Dotted(GROUP_LAN_REPLY), 8000, "reply-1", 1, "198.18.1.10"));
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() >= 2; }, 15000))
        << m_receiver.received.size() << " received";
    PumpFor(300);
    ASSERT_EQ(m_receiver.received.size(), 2u);
    for (const auto& got : m_receiver.received)
        EXPECT_EQ(got.strData, got.uMsg == 0x8000 ? "reply-0" : "reply-1");
}

// Lab: two client addresses on one link, other subnet, camera addresses in both /24s.
TEST_F(NetLab, FirstNoticeFromCaptureNeverReadsTheSocketAgain)
{
    MakeManager(true);
    SocketGroup* pGroup = m_pManager->CreateSocket(0, 8001, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    CSocketUdp* pSocket = pGroup->ppSockets[0];
    ASSERT_EQ(pSocket->GetLocalIP(), CLIENT_1);

    // A broadcast is heard by the capture alone (the socket is bound to its unicast address).
    ASSERT_TRUE(SendFrom(m_strCamera, "198.18.0.255", 8001, "broadcast"));
    ASSERT_TRUE(PumpUntil([&] { return CountFromMsg(m_receiver, 0x8000) == 1; }, 10000));
    EXPECT_EQ(pSocket->GetState(), CSocketUdp::STATE_CAPTURE);

    ASSERT_TRUE(SendFrom(m_strCamera, "198.18.0.1", 8001, "unicast", 3));
    ASSERT_TRUE(PumpUntil([&] { return CountFromMsg(m_receiver, 0x8000) == 4; }, 10000));
    PumpFor(6000);
    EXPECT_EQ(CountFromMsg(m_receiver, 0x8000), 4);
    // The socket itself still holds the unicast datagrams: never read.
    EXPECT_GT(PendingBytes(pSocket->GetSocket()), 0);
}

TEST_F(NetLab, SocketWithoutCaptureHoldsItsFirstDatagramThenDrains)
{
    MakeManager(true);
    SocketGroup* pGroup = m_pManager->CreateSocket(0, 8001, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    ASSERT_EQ(pGroup->nSockets, 2);
    // The second address is not the first address of any adapter: no capture for it.
    CSocketUdp* pSocket = pGroup->ppSockets[1];
    ASSERT_EQ(pSocket->GetLocalIP(), CLIENT_2);

    ASSERT_TRUE(SendFrom(m_strCamera, "198.18.1.1", 8001, "held", 3));
    ASSERT_TRUE(PumpUntil([&] { return pSocket->GetState() == CSocketUdp::STATE_SOCKET; }));
    PumpFor(4000);
    EXPECT_EQ(CountFromMsg(m_receiver, 0x8001), 0);
    ASSERT_TRUE(PumpUntil([&] { return CountFromMsg(m_receiver, 0x8001) == 3; }, 10000));
    EXPECT_EQ(pSocket->GetState(), CSocketUdp::STATE_SOCKET);
}

TEST_F(NetLab, CameraInAnotherSubnetIsHeardOnlyThroughCapture)
{
    const std::string strOther = Env("LAB_OTHER_NS");
    ASSERT_FALSE(strOther.empty());
    MakeManager(true);
    SocketGroup* pGroup = m_pManager->CreateSocket(0, 8001, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    CSocketUdp* pSocket = pGroup->ppSockets[0];

    ASSERT_TRUE(SendFrom(strOther, "198.18.0.1", 8001, "other-subnet"));
    ASSERT_TRUE(PumpUntil([&] { return CountFromMsg(m_receiver, 0x8000) == 1; }, 10000));
    EXPECT_EQ(m_receiver.received[0].dwIP, 0xC613050Au); // 198.19.5.10
    EXPECT_EQ(m_receiver.received[0].strData, "other-subnet");
    // The kernel dropped it before the socket.
    EXPECT_EQ(PendingBytes(pSocket->GetSocket()), 0);
}

TEST_F(NetLab, OccupiedPortGivesTheLocalisedBindError)
{
    MakeManager(false);
    GetLanguageManager()->LoadLanguage(9);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sin = Address(0, 8000);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)), 0);
    try {
        m_pManager->CreateSocket(GROUP_LAN_REPLY, 8000, 1, &m_receiver);
        ADD_FAILURE() << "no exception";
    } catch (const CExceptionBase& e) {
        EXPECT_EQ(e.GetText(),
                  u"UDP Port 8000 Occupied by Other Software\r\n\r\n Please Close the Software first!");
    }
    close(fd);
}

// Lab: one client address, a camera namespace holding every other host of 198.18.0.0/24.
TEST_F(NetLab, SweepReachesEveryOtherHostOnceAndCompletesOncePerEntry)
{
    const std::string strNs = m_strCamera;
    // The lab leaves .2 to .9 for the test's own peers.
    for (int nHost = 2; nHost <= 9; ++nHost) {
        QProcess ip;
        ip.start("ip", {"-n", QString::fromStdString(strNs), "addr", "add",
                        QString("198.18.0.%1/24").arg(nHost), "dev", "eth0"});
        ASSERT_TRUE(ip.waitForFinished(5000));
    }
    CPeer receiver(strNs, {"recv", "8102,8113"});
    ASSERT_TRUE(receiver.WaitReady());

    MakeManager(false);
    SocketGroup* pPlain = m_pManager->CreateSocket(0, 8101, 1, &m_receiver);
    const BYTE packet[] = "sweep-search";
    const auto start = std::chrono::steady_clock::now();
    SocketGroup* pSweep1 = m_pManager->CreateSweepGroup(8102, packet, 12, &m_receiver);
    SocketGroup* pSweep2 = m_pManager->CreateSweepGroup(8113, packet, 12, &m_receiver);
    ASSERT_NE(pSweep1, nullptr);
    ASSERT_NE(pSweep2, nullptr);

    ASSERT_TRUE(PumpUntil([&] { return !m_receiver.sweepCompletes.empty(); }, 40000));
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("sweep of two sockets took %.2f s\n", dSeconds);
    PumpFor(500);
    // Once per map entry, in message order, and only after the last sweep.
    EXPECT_EQ(m_receiver.sweepCompletes, (std::vector<SocketGroup*>{pPlain, pSweep1, pSweep2}));

    const std::vector<std::string> lines = receiver.Stop();
    std::map<std::string, int> perTarget;
    for (const std::string& strLine : lines) {
        std::istringstream fields(strLine);
        std::string strFrom, strTo;
        fields >> strFrom >> strTo;
        ++perTarget[strTo];
    }
    int nTargets8102 = 0;
    int nTargets8113 = 0;
    for (const auto& [strTo, nCount] : perTarget) {
        EXPECT_EQ(nCount, 1) << strTo;
        nTargets8102 += strTo.ends_with(":8102") ? 1 : 0;
        nTargets8113 += strTo.ends_with(":8113") ? 1 : 0;
    }
    EXPECT_EQ(nTargets8102, 253);
    EXPECT_EQ(nTargets8113, 253);
    EXPECT_EQ(perTarget.count("198.18.0.1:8102"), 0u);

    // Completion is counted once per round: a late report after the round is no second
    // completion, and a new round (both groups restarted) completes once, after its last
    // socket. The reports below are what the sweep threads send.
    m_receiver.sweepCompletes.clear();
    SendMessage(m_pManager->GetWindow(), CSocketManager::WM_SWEEP_COMPLETE, 0, 1);
    EXPECT_TRUE(m_receiver.sweepCompletes.empty());
    m_pManager->StartSweep(pSweep1);
    m_pManager->StartSweep(pSweep2);
    SendMessage(m_pManager->GetWindow(), CSocketManager::WM_SWEEP_COMPLETE, 0, 1);
    EXPECT_TRUE(m_receiver.sweepCompletes.empty());
    SendMessage(m_pManager->GetWindow(), CSocketManager::WM_SWEEP_COMPLETE, 0, 1);
    EXPECT_EQ(m_receiver.sweepCompletes, (std::vector<SocketGroup*>{pPlain, pSweep1, pSweep2}));
}

// Lab: one camera address; the client's link is shaped to a small queue, so a burst is refused
// by the kernel as a full neighbour table refuses it. Every datagram still reaches the camera,
// once and in order, and a sweep started meanwhile waits until they are out.
TEST_F(NetLab, RefusedSendsReachTheCameraLaterOnceAndInOrder)
{
    QProcess tc;
    tc.start("tc", {"qdisc", "replace", "dev", "eth0", "root", "tbf", "rate", "400kbit", "burst", "1600",
                    "limit", "1600"});
    if (!tc.waitForFinished(5000) || tc.exitCode() != 0)
        GTEST_SKIP() << "tc cannot shape the lab link here";
    CPeer receiver(m_strCamera, {"recv", "8001,8102"});
    ASSERT_TRUE(receiver.WaitReady());
    MakeManager(false);
    SocketGroup* pGroup = m_pManager->CreateSocket(0, 8001, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    CSocketUdp* pSocket = pGroup->ppSockets[0];

    constexpr int COUNT = 200;
    std::vector<std::string> sent;
    for (int i = 0; i < COUNT; ++i) {
        char sz[16];
        std::snprintf(sz, sizeof(sz), "q-%03d-", i);
        sent.push_back(std::string(sz) + std::string(100, 'p'));
        ASSERT_EQ(pSocket->SendTo(reinterpret_cast<const BYTE*>(sent.back().data()), 106, 0xC612000A, 8001),
                  106);
        // The next pass repeats what waits: it must not arrive twice.
        if (i == COUNT - 1)
            pSocket->SendTo(reinterpret_cast<const BYTE*>(sent[COUNT / 2].data()), 106, 0xC612000A, 8001);
    }
    EXPECT_GT(pSocket->GetDeferredCount(), 0u) << "the shaped link took the whole burst";
    const BYTE probe[] = "probe";
    ASSERT_NE(m_pManager->CreateSweepGroup(8102, probe, 5, &m_receiver), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return pSocket->GetDeferredCount() == 0; }, 15000));
    // The sweep reaches .10 after the eight addresses before it.
    PumpFor(1500);
    std::vector<std::string> got;
    for (const std::string& strLine : receiver.Stop())
        got.push_back(strLine.substr(strLine.rfind(' ') + 1));
    sent.push_back("probe");
    EXPECT_EQ(got, sent);
}
