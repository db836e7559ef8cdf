#include "net_test_support.h"

#include "core/language.h"
#include "core/log.h"
#include "net/socketmanager.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <memory>

using namespace nettest;

namespace {

constexpr DWORD LOOPBACK_2 = 0x7F000002;
constexpr UINT HOLD_MS = 300;

// A manager on loopback addresses only, with capture fed by hand (or none).
class SocketManagerTest : public ::testing::Test {
protected:
    void MakeManager(std::vector<DWORD> addresses, bool bCapture)
    {
        m_addresses = std::make_unique<CFixedLocalAddresses>(std::move(addresses));
        m_pCapture.reset();
        if (bCapture) {
            m_pCapture = std::make_unique<CaptureFactoryScope>([this] {
                auto pListener = std::make_unique<CHandFedListener>(std::vector<DWORD>{LOOPBACK});
                m_pListener = pListener.get();
                return std::unique_ptr<ICaptureListener>(std::move(pListener));
            });
        } else {
            m_pCapture = std::make_unique<CaptureFactoryScope>(CaptureListenerFactory());
        }
        m_pManager = std::make_unique<CSocketManager>(m_addresses.get());
        m_pManager->SetSourceHoldTime(HOLD_MS);
    }
    void TearDown() override
    {
        m_pManager.reset();
        m_pCapture.reset();
    }
    // A datagram captured on the wire for 127.0.0.1:usPort.
    void Capture(WORD usPort, const std::string& strPayload)
    {
        FrameSpec spec;
        spec.usDstPort = usPort;
        spec.strPayload = strPayload;
        m_pListener->Feed(0, BuildFrame(spec));
    }

    std::unique_ptr<CFixedLocalAddresses> m_addresses;
    std::unique_ptr<CaptureFactoryScope> m_pCapture;
    CHandFedListener* m_pListener = nullptr;
    std::unique_ptr<CSocketManager> m_pManager;
    CRecordingReceiver m_receiver;
    UdpPeer m_peer;
};

} // namespace

TEST_F(SocketManagerTest, GroupsGetConsecutiveMessageNumbersPerSocket)
{
    MakeManager({LOOPBACK, LOOPBACK_2}, false);
    SocketGroup* pFirst = m_pManager->CreateSocket(0, FreePort(), 1, &m_receiver);
    SocketGroup* pMedia = m_pManager->CreateSocket(0, FreePort(), 0, &m_receiver);
    ASSERT_NE(pFirst, nullptr);
    ASSERT_NE(pMedia, nullptr);
    EXPECT_EQ(pFirst->dwMsgBase, 0x8000u);
    EXPECT_EQ(pMedia->dwMsgBase, 0x8002u);
    ASSERT_EQ(pFirst->nSockets, 2);
    EXPECT_EQ(pFirst->nRecvBufSize, 2560u);
    EXPECT_EQ(pMedia->nRecvBufSize, 1024000u);

    // Socket i is bound to the i-th address and answers to base + i.
    for (int i = 0; i < 2; ++i) {
        CSocketUdp* pSocket = pFirst->ppSockets[i];
        EXPECT_EQ(pSocket->GetMsg(), 0x8000u + i);
        EXPECT_EQ(pSocket->GetLocalIP(), i == 0 ? LOOPBACK : LOOPBACK_2);
        EXPECT_TRUE(pSocket->IsRegistered());
        EXPECT_EQ(pSocket->GetMode(), CSocketUdp::MODE_BOTH);
        EXPECT_EQ(pSocket->GetState(), CSocketUdp::STATE_UNDECIDED);
        // The kernel may hold the answers of a thousand cameras: 4 MiB asked, what the system
        // allows granted (Linux reports twice the size it accepted).
        long nMax = 0;
        std::ifstream("/proc/sys/net/core/rmem_max") >> nMax;
        int nGot = 0;
        socklen_t nLen = sizeof(nGot);
        ASSERT_EQ(getsockopt(pSocket->GetSocket(), SOL_SOCKET, SO_RCVBUF, &nGot, &nLen), 0);
        EXPECT_GE(nGot, 2 * std::min<long>(nMax, 4 << 20));
    }
    TraceCapture trace;
    EXPECT_EQ(m_pManager->GetLocalAddress(0x8003), LOOPBACK_2);
    EXPECT_TRUE(trace.Contains("!!!!!!!!!!!listen ip=7f000002"));
    EXPECT_EQ(m_pManager->GetLocalAddress(0x8004), 0u);
    EXPECT_EQ(m_pManager->GetLocalAddress(0x7FFF), 0u);
}

TEST_F(SocketManagerTest, SendToRoutesByMessageThenGroup)
{
    MakeManager({LOOPBACK, LOOPBACK_2}, false);
    const WORD usPort = FreePort();
    SocketGroup* pGroup = m_pManager->CreateSocket(0, usPort, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    const BYTE data[] = "ping";

    // One socket: its own result, one datagram from its own address.
    EXPECT_EQ(m_pManager->SendTo(data, 4, LOOPBACK, m_peer.Port(), pGroup, 0x8001), 4);
    auto got = m_peer.ReceiveAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].dwFromIP, LOOPBACK_2);
    EXPECT_EQ(got[0].usFromPort, usPort);
    EXPECT_EQ(got[0].strData, "ping");

    // No socket by that number: every socket of the group sends once.
    EXPECT_EQ(m_pManager->SendTo(data, 4, LOOPBACK, m_peer.Port(), pGroup, 0), 4);
    got = m_peer.ReceiveAll();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[0].dwFromIP, got[1].dwFromIP);

    // Neither: nothing.
    EXPECT_EQ(m_pManager->SendTo(data, 4, LOOPBACK, m_peer.Port(), nullptr, 0x9999), 0);
    EXPECT_TRUE(m_peer.ReceiveAll().empty());

    // A length beyond 16 bits sends its low 16 bits, and the group reports them.
    std::vector<BYTE> big(70000, 'b');
    EXPECT_EQ(m_pManager->SendTo(big.data(), 70000, LOOPBACK, m_peer.Port(), pGroup, 0), 70000 & 0xFFFF);
    got = m_peer.ReceiveAll();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].strData.size(), static_cast<std::size_t>(70000 & 0xFFFF));

    // A failing socket says -1 with a trace; the group still reports the full length.
    TraceCapture trace;
    EXPECT_EQ(m_pManager->SendTo(data, 4, LOOPBACK, 0, pGroup, 0x8000), -1);
    EXPECT_TRUE(trace.Contains("Send To 127.0.0.1:0 error, reason:"));
    EXPECT_EQ(m_pManager->SendTo(data, 4, LOOPBACK, 0, pGroup, 0), 4);
    // A negative length is refused instead of read as 65535 bytes.
    EXPECT_EQ(m_pManager->SendTo(data, -1, LOOPBACK, m_peer.Port(), pGroup, 0x8000), -1);
    EXPECT_TRUE(m_peer.ReceiveAll().empty());
}

TEST_F(SocketManagerTest, NoLocalAddressMeansNoGroup)
{
    MakeManager({}, false);
    const BYTE packet[] = {1, 2, 3};
    EXPECT_EQ(m_pManager->CreateSocket(0, FreePort(), 1, &m_receiver), nullptr);
    EXPECT_EQ(m_pManager->CreateSweepGroup(FreePort(), packet, 3, &m_receiver), nullptr);
    m_pManager->StartSweep(nullptr);
    EXPECT_EQ(m_pManager->SendTo(packet, 3, LOOPBACK, m_peer.Port(), nullptr, 0x8000), 0);
}

TEST_F(SocketManagerTest, OccupiedPortRaisesTheLocalisedText)
{
    MakeManager({LOOPBACK}, false);
    GetLanguageManager()->LoadLanguage(9);
    TraceCapture trace;
    // Another program holds the port.
    UdpPeer occupant;
    try {
        m_pManager->CreateSocket(0, occupant.Port(), 1, &m_receiver);
        FAIL() << "no exception";
    } catch (const CExceptionBase& e) {
        const std::string strPort = std::to_string(occupant.Port());
        const std::u16string strExpected =
            u"UDP Port " + std::u16string(strPort.begin(), strPort.end()) +
            u" Occupied by Other Software\r\n\r\n Please Close the Software first!";
        EXPECT_EQ(e.GetText(), strExpected);
    }
    EXPECT_TRUE(trace.Contains("Bind Error="));
    // The failed group left nothing behind: the next one starts at 0x8000 again.
    SocketGroup* pGroup = m_pManager->CreateSocket(0, FreePort(), 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    EXPECT_EQ(pGroup->dwMsgBase, 0x8000u);
}

TEST_F(SocketManagerTest, FirstNoticeFromCaptureKeepsTheSocketOnCaptureForGood)
{
    MakeManager({LOOPBACK}, true);
    const WORD usPort = FreePort();
    SocketGroup* pGroup = m_pManager->CreateSocket(0, usPort, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    CSocketUdp* pSocket = pGroup->ppSockets[0];

    Capture(usPort, "captured-1");
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() == 1; }));
    EXPECT_EQ(m_receiver.received[0].strData, "captured-1");
    EXPECT_EQ(m_receiver.received[0].dwIP, 0xC6120505u);
    EXPECT_EQ(m_receiver.received[0].usPort, 9000);
    EXPECT_EQ(m_receiver.received[0].pGroup, pGroup);
    EXPECT_EQ(m_receiver.received[0].uMsg, 0x8000u);
    EXPECT_EQ(pSocket->GetState(), CSocketUdp::STATE_CAPTURE);

    // What reaches the socket itself is never read again, even after the hold.
    m_peer.SendToLoopback(usPort, "direct");
    PumpFor(3 * HOLD_MS);
    EXPECT_EQ(m_receiver.received.size(), 1u);

    Capture(usPort, "captured-2");
    Capture(usPort, "captured-3");
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() == 3; }));
    EXPECT_EQ(m_receiver.received[2].strData, "captured-3");
    PumpFor(2 * HOLD_MS);
    EXPECT_EQ(m_receiver.received.size(), 3u);
    EXPECT_EQ(pSocket->GetState(), CSocketUdp::STATE_CAPTURE);
}

TEST_F(SocketManagerTest, FirstDatagramOnTheSocketWaitsTheHoldThenDrainsUntilCaptureTakesOver)
{
    MakeManager({LOOPBACK}, true);
    const WORD usPort = FreePort();
    SocketGroup* pGroup = m_pManager->CreateSocket(0, usPort, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);
    CSocketUdp* pSocket = pGroup->ppSockets[0];

    for (const char* psz : {"one", "two", "three"})
        m_peer.SendToLoopback(usPort, psz);
    ASSERT_TRUE(PumpUntil([&] { return pSocket->GetState() == CSocketUdp::STATE_SOCKET; }));
    // Held in the socket, waiting for a capture notice.
    EXPECT_TRUE(m_receiver.received.empty());

    // After the hold everything queued meanwhile is read.
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() == 3; }));
    EXPECT_EQ(m_receiver.received[0].strData, "one");
    EXPECT_EQ(m_receiver.received[2].strData, "three");
    EXPECT_EQ(m_receiver.received[0].dwIP, LOOPBACK);
    EXPECT_EQ(m_receiver.received[0].usPort, m_peer.Port());

    // Now read at once.
    m_peer.SendToLoopback(usPort, "four");
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() == 4; }));

    // A later capture notice still takes the socket over.
    Capture(usPort, "captured");
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() == 5; }));
    EXPECT_EQ(m_receiver.received[4].strData, "captured");
    EXPECT_EQ(pSocket->GetState(), CSocketUdp::STATE_CAPTURE);
    m_peer.SendToLoopback(usPort, "ignored");
    PumpFor(3 * HOLD_MS);
    EXPECT_EQ(m_receiver.received.size(), 5u);
}

TEST_F(SocketManagerTest, SocketPathDropsOversizedDatagramAndSurvivesReceiverErrors)
{
    MakeManager({LOOPBACK}, false);
    m_pManager->SetSourceHoldTime(10);
    const WORD usPort = FreePort();
    SocketGroup* pGroup = m_pManager->CreateSocket(0, usPort, 1, &m_receiver);
    ASSERT_NE(pGroup, nullptr);

    // Larger than the 2560-byte command buffer: lost, not delivered cut.
    m_peer.SendToLoopback(usPort, std::string(3000, 'x'));
    m_peer.SendToLoopback(usPort, "after");
    ASSERT_TRUE(PumpUntil([&] { return !m_receiver.received.empty(); }));
    PumpFor(100);
    ASSERT_EQ(m_receiver.received.size(), 1u);
    EXPECT_EQ(m_receiver.received[0].strData, "after");

    // An exception from the receiver ends that read loop only.
    m_receiver.bThrow = true;
    m_peer.SendToLoopback(usPort, "throws");
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() == 2; }));
    m_receiver.bThrow = false;
    m_peer.SendToLoopback(usPort, "later");
    ASSERT_TRUE(PumpUntil([&] { return m_receiver.received.size() == 3; }));
    EXPECT_EQ(m_receiver.received[2].strData, "later");
}

TEST(SocketSweep, TargetsEveryOtherHostOfTheNetwork)
{
    const std::vector<DWORD> targets = CSocketSweep::SweepTargets(0xC6120007); // 198.18.0.7
    ASSERT_EQ(targets.size(), 253u);
    EXPECT_EQ(targets.front(), 0xC6120001u);
    EXPECT_EQ(targets.back(), 0xC61200FEu);
    for (DWORD dwIP : targets) {
        EXPECT_NE(dwIP, 0xC6120007u);
        EXPECT_EQ(dwIP & 0xFFFFFF00u, 0xC6120000u);
    }
}

// The list of refused datagrams: one copy per destination and payload however often a pass
// repeats it, a destination's datagrams stay in order behind its first, bounded by count and
// bytes, and what waited too long (across a tick wrap) is handed back oldest first.
TEST(DeferredSends, KeepsOrderDropsRepeatsBoundsAndExpires)
{
    CDeferredSends deferred;
    const auto add = [&](const std::string& strData, DWORD dwIP, DWORD dwTick) {
        return deferred.Add(reinterpret_cast<const BYTE*>(strData.data()), strData.size(), dwIP, 8102,
                            dwTick);
    };
    const DWORD dwStart = 0xFFFFF000u; // wraps during the test
    EXPECT_FALSE(deferred.Holds(0xC612000A));
    EXPECT_TRUE(add("volume", 0xC612000A, dwStart));
    EXPECT_TRUE(add("version", 0xC612000A, dwStart));
    EXPECT_TRUE(add("volume", 0xC612000B, dwStart + 500));
    EXPECT_TRUE(add("volume", 0xC612000A, dwStart + 1000)); // the next pass's copy
    EXPECT_EQ(deferred.GetCount(), 3u);
    EXPECT_EQ(deferred.GetBytes(), 19u);
    EXPECT_TRUE(deferred.Holds(0xC612000A) && deferred.Holds(0xC612000B));

    std::vector<std::string> dropped;
    deferred.DropExpired(dwStart + CDeferredSends::LIFETIME_MS,
                         [&](const auto& d) { dropped.push_back(d.strData); });
    EXPECT_TRUE(dropped.empty());
    deferred.DropExpired(dwStart + CDeferredSends::LIFETIME_MS + 1,
                         [&](const auto& d) { dropped.push_back(d.strData); });
    EXPECT_EQ(dropped, (std::vector<std::string>{"volume", "version"}));
    EXPECT_FALSE(deferred.Holds(0xC612000A));
    ASSERT_EQ(deferred.GetCount(), 1u);
    EXPECT_EQ(deferred.Front().dwIP, 0xC612000Bu);
    deferred.PopFront();
    EXPECT_TRUE(deferred.IsEmpty() && deferred.GetBytes() == 0 && !deferred.Holds(0xC612000B));
    // A payload sent again once its copy has gone is queued again.
    EXPECT_TRUE(add("volume", 0xC612000A, 0));
    deferred.Clear();

    const std::string strBig(CDeferredSends::MAX_BYTES / 2, 'x');
    EXPECT_TRUE(add(strBig, 1, 0));
    EXPECT_TRUE(add(strBig, 2, 0));
    EXPECT_FALSE(add("y", 3, 0));
    deferred.Clear();
    for (std::size_t i = 0; i < CDeferredSends::MAX_DATAGRAMS; ++i)
        ASSERT_TRUE(add(std::to_string(i), 1, 0));
    EXPECT_FALSE(add("one more", 1, 0));
}
