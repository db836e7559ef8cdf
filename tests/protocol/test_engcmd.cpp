// The viewer engine itself: framing, routing, search requests, receive path and dispatch.
#include "test_viewer_support.h"

#include "core/log.h"
#include "protocol/packet.h"

using namespace viewertest;

namespace {

// Search request as it leaves: code 1, our id 198.18.0.2, receiver 0.
const Bytes kSearchClear = Hex("90 01 00 00 00 10 00 00 C6 12 00 02 00 00 00 00");
// The same under the packet cipher: one DES block (computed with openssl des-ecb under the
// protocol key "Zq7#mVx2") and seven bytes XORed with 0x37.
const Bytes kSearchEncrypted = Hex("90 70 CC A9 0F F4 41 1C C5 25 37 35 37 37 37 37");

constexpr DWORD kGroupRequest = 0xEC050716;    // 236.5.7.22
constexpr DWORD kGroupRequestEnc = 0xEC05077A; // 236.5.7.122

class EngCmdTest : public ViewerTest {};

TEST_F(EngCmdTest, InitCreatesTheFourGroupsWithClearAndEncipheredSweepPackets)
{
    EXPECT_EQ(m_pEngine->GetLocalID(), kLocalID);
    EXPECT_EQ(m_sockets.Group(8101)->dwGroupIP, 0xEC050717u); // 236.5.7.23
    EXPECT_EQ(m_sockets.Group(8112)->dwGroupIP, 0xEC05077Bu); // 236.5.7.123
    EXPECT_EQ(m_pEngine->GetGroup(8101), m_sockets.Group(8101));
    EXPECT_EQ(m_pEngine->GetGroup(8102), m_sockets.Group(8102));
    EXPECT_EQ(m_pEngine->GetGroup(8112), m_sockets.Group(8112));
    EXPECT_EQ(m_pEngine->GetGroup(8113), m_sockets.Group(8113));
    EXPECT_EQ(m_sockets.m_sweepPackets[8102], kSearchClear);
    EXPECT_EQ(m_sockets.m_sweepPackets[8113], kSearchEncrypted);
}

TEST_F(EngCmdTest, InitWithoutAnyInterfaceUsesIdZero)
{
    CFakeSockets sockets;
    sockets.m_dwFirst = 0;
    EngCmdDeps deps;
    deps.pSockets = &sockets;
    deps.pConfig = &m_config;
    CEngCmd engine(deps);
    EXPECT_EQ(engine.Init(), 1);
    EXPECT_EQ(engine.GetLocalID(), 0u);
    EXPECT_EQ(sockets.m_sweepPackets[8102], Hex("90 01 00 00 00 10 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(EngCmdTest, BuildCmdKeepsBothByteOrdersAndRejectsOversizedBodies)
{
    const Bytes body = Hex("AA BB CC");
    WORD wLen = 0;
    const BYTE* p = m_pEngine->BuildCmd(0x41, 0x01020304, 0x0A0B0C0D, body.data(), body.size(), &wLen);
    ASSERT_EQ(wLen, 19);
    EXPECT_EQ(Bytes(p, p + wLen), Hex("90 41 00 00 00 13 00 00 01 02 03 04 0D 0C 0B 0A AA BB CC"));

    const Bytes biggest(2544, 0x11);
    m_pEngine->BuildCmd(8, 0, 0, biggest.data(), biggest.size(), &wLen);
    EXPECT_EQ(wLen, 2560);
    const Bytes tooBig(2545, 0x11);
    EXPECT_THROW(m_pEngine->BuildCmd(8, 0, 0, tooBig.data(), tooBig.size(), &wLen), CParserException);
}

TEST_F(EngCmdTest, SearchByMulticastSendsClearThenEnciphered)
{
    EXPECT_EQ(m_pEngine->SearchByMulticast(), 1);
    ASSERT_EQ(m_sockets.m_sent.size(), 2u);
    EXPECT_EQ(m_sockets.m_sent[0].data, kSearchClear);
    EXPECT_EQ(m_sockets.m_sent[0].dwIP, kGroupRequest);
    EXPECT_EQ(m_sockets.m_sent[0].usPort, 8101);
    EXPECT_EQ(m_sockets.m_sent[0].pGroup, m_sockets.Group(8101));
    EXPECT_EQ(m_sockets.m_sent[1].data, kSearchEncrypted);
    EXPECT_EQ(m_sockets.m_sent[1].dwIP, kGroupRequestEnc);
    EXPECT_EQ(m_sockets.m_sent[1].usPort, 8112);
    EXPECT_EQ(m_sockets.m_sent[1].pGroup, m_sockets.Group(8112));
}

TEST_F(EngCmdTest, SearchKnownDevicesAsksEachCameraTheWayItAnswered)
{
    AddCamera(0xA, 0xC6120010);
    AddCamera(0xB, 0xC6120011, 1);
    AddCamera(0xC, 0xC6120012);
    EXPECT_EQ(m_pEngine->SearchKnownDevices(), 1);
    ASSERT_EQ(m_sockets.m_sent.size(), 3u);
    EXPECT_EQ(m_sockets.m_sent[0].dwIP, 0xC6120010u);
    EXPECT_EQ(m_sockets.m_sent[1].dwIP, 0xC6120012u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m_sockets.m_sent[i].data, kSearchClear);
        EXPECT_EQ(m_sockets.m_sent[i].usPort, 8102);
        EXPECT_EQ(m_sockets.m_sent[i].pGroup, m_sockets.Group(8102));
    }
    EXPECT_EQ(m_sockets.m_sent[2].dwIP, 0xC6120011u);
    EXPECT_EQ(m_sockets.m_sent[2].data, kSearchEncrypted);
    EXPECT_EQ(m_sockets.m_sent[2].usPort, 8113);
    EXPECT_EQ(m_sockets.m_sent[2].pGroup, m_sockets.Group(8113));
}

TEST_F(EngCmdTest, SearchKnownDevicesAlsoTriesTheWiredAddressOfAWifiCamera)
{
    struct Case {
        const char* name;
        bool wifi;
        DWORD status1, status2;
        bool net;
        DWORD netIP;
        bool secondSent;
    };
    const Case cases[] = {
        {"both flags and another address", true, 1, 5, true, 0xC6120099, true},
        {"first flag clear", true, 0, 5, true, 0xC6120099, false},
        {"second flag clear", true, 1, 0, true, 0xC6120099, false},
        {"no Wi-Fi record", false, 1, 1, true, 0xC6120099, false},
        {"no network record", true, 1, 1, false, 0, false},
        {"address zero", true, 1, 1, true, 0, false},
        {"same address", true, 1, 1, true, kCameraIP, false},
    };
    AddCamera();
    const std::string serial = "SN0000000001";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_lan.m_wifi.clear();
        m_lan.m_net.clear();
        if (c.wifi)
            m_lan.m_wifi[serial] = {c.status1, c.status2};
        if (c.net)
            m_lan.m_net[serial] = c.netIP;
        m_sockets.m_sent.clear();
        m_pEngine->SearchKnownDevices();
        ASSERT_EQ(m_sockets.m_sent.size(), c.secondSent ? 2u : 1u);
        EXPECT_EQ(m_sockets.m_sent[0].dwIP, kCameraIP);
        if (c.secondSent) {
            EXPECT_EQ(m_sockets.m_sent[1].dwIP, 0xC6120099u);
            EXPECT_EQ(m_sockets.m_sent[1].usPort, 8102);
            EXPECT_EQ(m_sockets.m_sent[1].data, kSearchClear);
        }
    }
}

TEST_F(EngCmdTest, SweepRunsOnBothUnicastGroupsAndItsEndIsEventZero)
{
    m_pEngine->StartSweep();
    ASSERT_EQ(m_sockets.m_sweeps.size(), 2u);
    EXPECT_EQ(m_sockets.m_sweeps[0], m_sockets.Group(8102));
    EXPECT_EQ(m_sockets.m_sweeps[1], m_sockets.Group(8113));

    m_pEngine->OnSweepComplete(1, m_sockets.Group(8102));
    EXPECT_TRUE(m_events.empty());
    m_pEngine->OnSweepComplete(0, m_sockets.Group(8102));
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0].byCode, 0);
    EXPECT_EQ(m_events[0].wParam, 1u);
    EXPECT_EQ(m_events[0].lParam, 0);
}

TEST_F(EngCmdTest, SendToDeviceFollowsTheCamerasRoute)
{
    struct Case {
        const char* name;
        BYTE encrypted;
        DWORD multicast;
        std::uint8_t capability;
        DWORD ip;
        WORD port;
    };
    const Case cases[] = {
        {"clear, found by sweep", 0, 0, 0x02, kCameraIP, 8102},
        {"enciphered, found by sweep", 1, 0, 0x02, kCameraIP, 8113},
        {"clear, multicast, unicast capable", 0, 1, 0x02, kCameraIP, 8102},
        {"clear, multicast only", 0, 1, 0x00, kGroupRequest, 8101},
        {"enciphered, multicast only", 1, 1, 0x00, kGroupRequestEnc, 8112},
        {"clear, sweep, no unicast capability", 0, 0, 0x00, kCameraIP, 8102},
    };
    DWORD dwID = 0x100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++dwID;
        AddCamera(dwID, kCameraIP, c.encrypted, c.multicast, c.capability);
        m_sockets.m_sent.clear();
        WORD wLen = 0;
        BYTE* p = m_pEngine->BuildCmd(9, kLocalID, dwID, nullptr, 0, &wLen);
        const Bytes clear(p, p + wLen);
        EXPECT_EQ(m_pEngine->SendToDevice(p, wLen, dwID), 16);
        ASSERT_EQ(m_sockets.m_sent.size(), 1u);
        const SentPacket& sent = m_sockets.m_sent[0];
        EXPECT_EQ(sent.dwIP, c.ip);
        EXPECT_EQ(sent.usPort, c.port);
        EXPECT_EQ(sent.pGroup, m_sockets.Group(c.port));
        Bytes expected = clear;
        if (c.encrypted)
            EncryptForTest(expected);
        EXPECT_EQ(sent.data, expected);
    }
}

TEST_F(EngCmdTest, SendToDeviceNeedsAnItemOfTheCameraItself)
{
    WORD wLen = 0;
    BYTE* p = m_pEngine->BuildCmd(9, kLocalID, 0x77, nullptr, 0, &wLen);
    EXPECT_EQ(m_pEngine->SendToDevice(p, wLen, 0x77), 0);

    // A recorder answers for its own id, and its channels through it, at its address.
    SearchReply recorder;
    recorder.capability = 0x0A;
    recorder.children = {{0x501, {'c', '1'}, "CH1", 0, 0}, {0x502, {'c', '2'}, "CH2", 0, 0}};
    Dispatch(CameraPacket(0x81, recorder.Body(), 0x500), 0, 0, 0xC6120077);
    EXPECT_TRUE(m_sockets.m_sent.empty());
    for (DWORD dwID : {0x500u, 0x502u}) {
        EXPECT_EQ(m_pEngine->SendToDevice(p, wLen, dwID), 16) << dwID;
        ASSERT_EQ(m_sockets.m_sent.size(), 1u);
        EXPECT_EQ(m_sockets.m_sent[0].dwIP, 0xC6120077u);
        m_sockets.m_sent.clear();
    }
}

TEST_F(EngCmdTest, OnReceiveTellsTheGroupsApartAndHonoursTheEncryptSwitch)
{
    struct Case {
        const char* name;
        WORD port;
        bool encryptSwitch;
        bool processed;
        DWORD multicast;
        BYTE encrypted;
    };
    const Case cases[] = {
        {"8101 clear", 8101, false, true, 1, 0},
        {"8102 clear", 8102, false, true, 0, 0},
        {"8112 enciphered", 8112, false, true, 1, 1},
        {"8113 enciphered", 8113, false, true, 0, 1},
        {"8101 with the switch on", 8101, true, false, 0, 0},
        {"8102 with the switch on", 8102, true, false, 0, 0},
        {"8112 with the switch on", 8112, true, true, 1, 1},
        {"8113 with the switch on", 8113, true, true, 0, 1},
    };
    DWORD dwID = 0x200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_config.m_bEncrypt = c.encryptSwitch;
        ++dwID;
        Bytes packet = CameraPacket(0x81, SearchReply().Body(), dwID);
        if (c.encrypted)
            EncryptForTest(packet);
        m_pEngine->OnReceive(packet.data(), static_cast<int>(packet.size()), kCameraIP, c.port,
                             m_sockets.Group(c.port), kSocket);
        const SearchItem* pItem = m_pEngine->FindAnyItem(dwID);
        if (!c.processed) {
            EXPECT_EQ(pItem, nullptr);
            continue;
        }
        ASSERT_NE(pItem, nullptr);
        EXPECT_EQ(pItem->bMulticast, c.multicast);
        EXPECT_EQ(pItem->bEncrypted, c.encrypted);
        EXPECT_EQ(pItem->bFoundByMulticast, c.multicast);
        EXPECT_EQ(pItem->bFoundBySweep, 1 - c.multicast);
        EXPECT_EQ(pItem->hSocket, kSocket);
    }
    // A group the engine does not own is not listened to.
    SocketGroup stranger;
    Bytes packet = CameraPacket(0x81, SearchReply().Body(), 0x300);
    m_pEngine->OnReceive(packet.data(), static_cast<int>(packet.size()), kCameraIP, 8102, &stranger, kSocket);
    m_pEngine->OnReceive(packet.data(), static_cast<int>(packet.size()), kCameraIP, 8102, nullptr, kSocket);
    EXPECT_EQ(m_pEngine->FindAnyItem(0x300), nullptr);
}

TEST_F(EngCmdTest, ReceiverIdMustBeOursOrEveryone)
{
    const struct {
        DWORD dest;
        bool accepted;
    } cases[] = {{0xFFFFFFFF, true}, {0, true}, {kLocalID, true}, {0x02001200, false}, {kLocalID + 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dest);
        m_events.clear();
        Dispatch(CameraPacket(0x8E, Hex("05"), kCameraID, c.dest));
        EXPECT_EQ(m_events.size(), c.accepted ? 1u : 0u);
    }
}

TEST_F(EngCmdTest, WrongMagicIsDroppedWithoutTraceOrEvent)
{
    Bytes bracket = CameraPacket(0x8E, Hex("05"));
    bracket[0] = 0x5B;
    Dispatch(bracket);
    Bytes other = CameraPacket(0x8E, Hex("05"));
    other[0] = 0x91;
    Dispatch(other);
    EXPECT_TRUE(m_events.empty());
    for (const std::string& trace : m_traces)
        EXPECT_EQ(trace.find("Magiccode"), std::string::npos) << trace;
    EXPECT_EQ(ReadLog().find("catch"), std::string::npos);
}

TEST_F(EngCmdTest, ShortDatagramsEndInTheDispatchersCatch)
{
    // A header alone reaches the handler with an empty body; reading it throws.
    Dispatch(CameraPacket(0x8E, {}));
    Dispatch(Hex("90 8E 00 00 00 10 00"));
    Dispatch({});
    EXPECT_TRUE(m_events.empty());
    const std::string log = ReadLog();
    std::size_t nCount = 0;
    for (std::size_t pos = log.find("CEngCmd::DispatchCmd: catch(...)"); pos != std::string::npos;
         pos = log.find("CEngCmd::DispatchCmd: catch(...)", pos + 1))
        ++nCount;
    EXPECT_EQ(nCount, 3u);
}

TEST_F(EngCmdTest, TotalLengthIsNotComparedAndUnknownCodesAreIgnored)
{
    Bytes packet = CameraPacket(0x8E, Hex("07"));
    packet[4] = 0x12;
    packet[5] = 0x34;
    Dispatch(packet);
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0].lParam, 7);
    m_events.clear();
    Dispatch(CameraPacket(0x55, Hex("01 02 03 04")));
    Dispatch(CameraPacket(0x00, Hex("01 02 03 04")));
    EXPECT_TRUE(m_events.empty());
}

TEST_F(EngCmdTest, EncipheredPacketsOfEverySpanShape)
{
    // 8 bytes: too short for a header, whatever the cipher made of it.
    Bytes eight = Hex("90 8E 00 00 00 08 00 00");
    EncryptForTest(eight);
    Dispatch(eight, 0, 1);
    EXPECT_TRUE(m_events.empty());

    // 17 bytes: two DES blocks and no XOR; one body byte.
    Bytes seventeen = CameraPacket(0x8E, Hex("2A"));
    ASSERT_EQ(seventeen.size(), 17u);
    EncryptForTest(seventeen);
    Dispatch(seventeen, 0, 1);
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0].byCode, VIEWER_EVT_REPORT_8E);
    EXPECT_EQ(m_events[0].wParam, kCameraID);
    EXPECT_EQ(m_events[0].lParam, 0x2A);

    // 60 bytes: six blocks and eleven XORed bytes; the body comes back byte for byte.
    Bytes body(44);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i * 7 + 3);
    Bytes sixty = CameraPacket(0xAB, body);
    ASSERT_EQ(sixty.size(), 60u);
    EncryptForTest(sixty);
    Bytes seen;
    m_onEvent = [&](const Event& e) {
        if (e.byCode == VIEWER_EVT_NETWORK_EXTEND) {
            const auto* p = reinterpret_cast<const NetworkExtendInfo*>(e.lParam);
            seen.assign(p->abData, p->abData + body.size() + 4);
        }
    };
    Dispatch(sixty, 0, 1);
    Bytes expected = body;
    expected.resize(body.size() + 4, 0);
    EXPECT_EQ(seen, expected);
}

TEST_F(EngCmdTest, AFatalCheckInASubscriberIsCaughtPerPacket)
{
    m_onEvent = [](const Event&) { throw CMyExceptionExit(); };
    Dispatch(CameraPacket(0x8E, Hex("01")));
    EXPECT_NE(ReadLog().find("CEngCmd::DispatchCmd: catch(CMyExceptionExit)"), std::string::npos);
    // The next packet is handled as usual.
    m_onEvent = nullptr;
    m_events.clear();
    Dispatch(CameraPacket(0x8E, Hex("02")));
    EXPECT_EQ(m_events.size(), 1u);
}

TEST_F(EngCmdTest, OnlineRepliesOfUnknownCodeOrKindRaiseNothing)
{
    Reply(0x08, Hex("50 02 00 00 00 00 12 34 00 00 00 01"));
    Reply(0x08, Hex("50 02 00 00 00 00 00 80"));
    Reply(0x08, Hex("50 03 00 00 00 00 00 04 00 00 00 00 00 00 00 01 00 00 00 02"));
    Reply(0x08, Hex("50 02 00"));
    EXPECT_TRUE(m_events.empty());
    // The log mirrors its lines to the trace as well; only the online-command line is ours.
    std::vector<std::string> online;
    for (const std::string& trace : m_traces) {
        if (trace.find("online command") != std::string::npos)
            online.push_back(trace);
    }
    ASSERT_EQ(online.size(), 1u);
    EXPECT_EQ(online[0], "Error online command:1234\n");
    EXPECT_NE(ReadLog().find("CEngCmd::DispatchCmd: catch(...)"), std::string::npos);
}

TEST_F(EngCmdTest, RecordTimeRepliesGoToTheRecordTimeEngine)
{
    struct CSink : IRecordTimeSink {
        void OnViewerAck(DWORD dwID, const BYTE* p, DWORD n) override
        {
            calls.push_back({0xD9, dwID, Bytes(p, p + n)});
        }
        void OnViewerData(DWORD dwID, const BYTE* p, DWORD n) override
        {
            calls.push_back({0x59, dwID, Bytes(p, p + n)});
        }
        void DispatchCmd(const BYTE* p, DWORD n, DWORD dwID) override
        {
            calls.push_back({0xC4, dwID, Bytes(p, p + n)});
        }
        struct Call {
            int code;
            DWORD id;
            Bytes body;
        };
        std::vector<Call> calls;
    } sink;
    Reply(0xC4, Hex("B0 13"));
    m_pEngine->SetRecordTimeSink(&sink);
    Reply(0xC4, Hex("B0 13 00 01"));
    Reply(0x59, Hex("00 00 00 07 B0"));
    Reply(0xD9, Hex("00 00 00 07"));
    ASSERT_EQ(sink.calls.size(), 3u);
    EXPECT_EQ(sink.calls[0].code, 0xC4);
    EXPECT_EQ(sink.calls[0].body, Hex("B0 13 00 01"));
    EXPECT_EQ(sink.calls[1].code, 0x59);
    EXPECT_EQ(sink.calls[1].body, Hex("00 00 00 07 B0"));
    EXPECT_EQ(sink.calls[2].code, 0xD9);
    for (const auto& call : sink.calls)
        EXPECT_EQ(call.id, kCameraID);
}

} // namespace
