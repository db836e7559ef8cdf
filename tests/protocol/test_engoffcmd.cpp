// LAN engine: framing, route choice, socket groups and the receive dispatcher.
#include "protocol/engoffcmd.h"

#include "core/log.h"
#include "platform/msgwindow.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Sent {
    std::vector<BYTE> data;
    DWORD dwIP;
    WORD usPort;
    SocketGroup* pGroup;
};

class FakePort : public ILanSocketPort {
public:
    SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort,
                              ISocketReceiver* pReceiver) override
    {
        SocketGroup& group = m_groups[m_nCreated++];
        group.dwGroupIP = dwGroupIP;
        group.usPort = usPort;
        group.bIsCmdPort = bIsCmdPort;
        group.pReceiver = pReceiver;
        return &group;
    }
    int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup) override
    {
        m_vecSent.push_back(Sent{std::vector<BYTE>(pData, pData + nLen), dwIP, usPort, pGroup});
        return nLen;
    }

    SocketGroup m_groups[4];
    int m_nCreated = 0;
    std::vector<Sent> m_vecSent;
};

class FakeLookup : public ILanDeviceLookup {
public:
    bool FindLanDeviceBySerial(const char* pszSerial, LanDeviceRoute& route) override
    {
        m_vecSerials.emplace_back(pszSerial);
        if (!m_bHave)
            return false;
        route = m_route;
        return true;
    }
    bool FindLanDeviceByID(DWORD dwDVIPID, LanDeviceRoute& route) override
    {
        m_vecIDs.push_back(dwDVIPID);
        if (!m_bHave)
            return false;
        route = m_route;
        return true;
    }
    bool m_bHave = true;
    LanDeviceRoute m_route;
    std::vector<std::string> m_vecSerials;
    std::vector<DWORD> m_vecIDs;
};

struct Event {
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Event> g_vecEvents;

LRESULT EventProc(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    g_vecEvents.push_back(Event{uMsg, wParam, lParam});
    return 0;
}

constexpr UINT MSG_BASE = WM_APP + 0x100;

class EngOffCmdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-lantest-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
        setenv("VISTREL_HOME", m_dir.c_str(), 1);
        GetLogFile().ResetForTest();
        m_nSavedLevel = g_nDebugLevel;
        g_nDebugLevel = 2;

        ASSERT_TRUE(RegisterWindowClass("EngOffCmdTest", &EventProc));
        m_hWnd = CreateMsgWindow("EngOffCmdTest", "events");
        ASSERT_NE(m_hWnd, nullptr);
        for (BYTE byEvent : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 32})
            m_engine.RegisterResponse(byEvent, m_hWnd, MSG_BASE + byEvent, 0);
        g_vecEvents.clear();
        m_engine.SetDeviceLookup(&m_lookup);
        m_engine.Init();
    }
    void TearDown() override
    {
        DestroyWindow(m_hWnd);
        UnregisterWindowClass("EngOffCmdTest");
        g_nDebugLevel = m_nSavedLevel;
        GetLogFile().ResetForTest();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    std::string LogText()
    {
        std::string strText;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir)) {
            if (entry.path().filename().string().rfind("DebugInfo", 0) != 0)
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            strText.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return strText;
    }

    void Dispatch(const std::vector<BYTE>& vec)
    {
        m_engine.DispatchCmd(vec.data(), static_cast<int>(vec.size()), 0x7F000001, 8001);
    }

    std::string m_dir;
    int m_nSavedLevel = 0;
    HWND m_hWnd = nullptr;
    FakePort m_port;
    FakeLookup m_lookup;
    CLanRecordStore m_store;
    CEngOffCmd m_engine{&m_port, &m_store};
};

std::vector<BYTE> Header(BYTE bCode, WORD usTotal)
{
    return {0x80, bCode, 0, 0, static_cast<BYTE>(usTotal >> 8), static_cast<BYTE>(usTotal), 0, 0, 0, 0, 0, 0,
            0,    0,     0, 0};
}

TEST_F(EngOffCmdTest, InitCreatesTheTwoGroupsOnce)
{
    ASSERT_EQ(m_port.m_nCreated, 2);
    EXPECT_EQ(m_port.m_groups[0].dwGroupIP, 0xEC050702u); // 236.5.7.2
    EXPECT_EQ(m_port.m_groups[0].usPort, 8000);
    EXPECT_EQ(m_port.m_groups[1].dwGroupIP, 0u);
    EXPECT_EQ(m_port.m_groups[1].usPort, 8001);
    EXPECT_EQ(m_engine.Init(), 1);
    EXPECT_EQ(m_port.m_nCreated, 2);
}

TEST_F(EngOffCmdTest, FramesHeaderAndBody)
{
    const BYTE abyBody[] = {0xDE, 0xAD, 0xBE};
    EXPECT_EQ(m_engine.SendCmd(0x2A, abyBody, 3, nullptr, 0), 19);
    ASSERT_EQ(m_port.m_vecSent.size(), 1u);
    const std::vector<BYTE> expected = {0x80, 0x2A, 0, 0, 0x00, 0x13, 0,    0,    0,   0,
                                        0,    0,    0, 0, 0,    0,    0xDE, 0xAD, 0xBE};
    EXPECT_EQ(m_port.m_vecSent[0].data, expected);

    // An empty body is a bare header; the largest body fills the 2058-byte buffer.
    EXPECT_EQ(m_engine.SendCmd(2, nullptr, 0, nullptr, 0), 16);
    EXPECT_EQ(m_port.m_vecSent[1].data, Header(2, 16));
    std::vector<BYTE> vecBig(2042, 0x11);
    EXPECT_EQ(m_engine.SendCmd(1, vecBig.data(), 2042, nullptr, 0), 2058);
    EXPECT_EQ(m_port.m_vecSent[2].data[4], 0x08);
    EXPECT_EQ(m_port.m_vecSent[2].data[5], 0x0A);
    // One byte more is refused, nothing is sent.
    vecBig.push_back(0x11);
    EXPECT_EQ(m_engine.SendCmd(1, vecBig.data(), 2043, nullptr, 0), 0);
    EXPECT_EQ(m_port.m_vecSent.size(), 3u);
}

TEST_F(EngOffCmdTest, RouteChoiceForEveryFlagCombination)
{
    // multicast-found, sweep-found, unicast-capable, bUnicast -> unicast?
    struct Case {
        BOOL bMulti, bSweep, bCapable, bUnicast;
        bool bExpectUnicast;
    };
    const Case aCases[] = {
        {0, 0, 0, 0, true}, {0, 0, 0, 1, true},  {0, 1, 0, 0, true},  {0, 1, 0, 1, true},  {0, 0, 1, 0, true},
        {0, 1, 1, 1, true}, {1, 0, 0, 0, false}, {1, 0, 0, 1, false}, {1, 1, 0, 0, false}, {1, 1, 0, 1, true},
        {1, 0, 1, 0, true}, {1, 0, 1, 1, true},  {1, 1, 1, 0, true},  {1, 1, 1, 1, true},
    };
    for (const Case& c : aCases) {
        LanDeviceRoute route;
        std::strcpy(route.szSerial, "SN0001");
        route.dwIP = 0xC6120005;
        route.bFoundByMulticast = c.bMulti;
        route.bFoundBySweep = c.bSweep;
        route.bUnicastCapable = c.bCapable;
        m_port.m_vecSent.clear();
        m_engine.SendCmd(41, "x", 1, &route, c.bUnicast);
        ASSERT_EQ(m_port.m_vecSent.size(), 1u);
        const Sent& sent = m_port.m_vecSent[0];
        SCOPED_TRACE(testing::Message() << c.bMulti << c.bSweep << c.bCapable << c.bUnicast);
        if (c.bExpectUnicast) {
            EXPECT_EQ(sent.dwIP, 0xC6120005u);
            EXPECT_EQ(sent.usPort, 8001);
            EXPECT_EQ(sent.pGroup, &m_port.m_groups[1]);
        } else {
            EXPECT_EQ(sent.dwIP, 0xEC050701u); // 236.5.7.1
            EXPECT_EQ(sent.usPort, 8000);
            EXPECT_EQ(sent.pGroup, &m_port.m_groups[0]);
        }
    }
    // No record: multicast, even when unicast is asked for.
    m_port.m_vecSent.clear();
    m_engine.SendCmd(2, nullptr, 0, nullptr, 1);
    ASSERT_EQ(m_port.m_vecSent.size(), 1u);
    EXPECT_EQ(m_port.m_vecSent[0].dwIP, 0xEC050701u);
}

TEST_F(EngOffCmdTest, SendersFindTheirTargetBySerialOrId)
{
    m_lookup.m_route.bFoundByMulticast = 0; // sweep-only camera: always unicast
    m_lookup.m_route.dwIP = 0x7F000001;
    m_engine.Cmd_GetNetParam(77);
    m_engine.Cmd_GetDServer(78);
    m_engine.Cmd_WifiQuery("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(m_lookup.m_vecIDs, (std::vector<DWORD>{77, 78}));
    // Looked up by the first 20 characters.
    EXPECT_EQ(m_lookup.m_vecSerials, (std::vector<std::string>{"ABCDEFGHIJKLMNOPQRST"}));
    ASSERT_EQ(m_port.m_vecSent.size(), 3u);
    for (const Sent& sent : m_port.m_vecSent)
        EXPECT_EQ(sent.usPort, 8001);

    // Camera not in the device list: the request goes to every camera.
    m_lookup.m_bHave = false;
    m_engine.Cmd_GetNetParam(79);
    EXPECT_EQ(m_port.m_vecSent.back().dwIP, 0xEC050701u);
}

TEST_F(EngOffCmdTest, NoGroupMeansNothingSent)
{
    FakePort port;
    CEngOffCmd engine(&port, &m_store); // never initialised
    EXPECT_EQ(engine.SendCmd(2, nullptr, 0, nullptr, 0), 0);
    EXPECT_TRUE(port.m_vecSent.empty());
}

TEST_F(EngOffCmdTest, DropsOtherGroupCodesSilently)
{
    g_nDebugLevel = 5;
    std::vector<BYTE> vec = Header(0xAC, 38);
    vec[0] = 0x81;
    vec.resize(38, 0);
    Dispatch(vec);
    Dispatch({});
    EXPECT_TRUE(g_vecEvents.empty());
    EXPECT_EQ(LogText().find("CEngOffCmd"), std::string::npos);
}

TEST_F(EngOffCmdTest, ShortDatagramsEndInTheCatches)
{
    // Shorter than the header.
    Dispatch({0x80, 0xAC, 0, 0, 0, 10, 0, 0, 0, 0});
    // Header only, code 0xAC: its handler reads nothing -> the dispatcher's catch.
    Dispatch(Header(0xAC, 16));
    EXPECT_TRUE(g_vecEvents.empty());
    std::string strLog = LogText();
    size_t nFirst = strLog.find("CEngOffCmd::DispatchCmd: catch(...)");
    ASSERT_NE(nFirst, std::string::npos);
    EXPECT_NE(strLog.find("CEngOffCmd::DispatchCmd: catch(...)", nFirst + 1), std::string::npos);

    // Header only, code 0x81: the handler catches it itself.
    Dispatch(Header(0x81, 16));
    strLog = LogText();
    EXPECT_NE(strLog.find("CEngOffCmd::ResCmd_GetParam: catch(...)"), std::string::npos);
    EXPECT_TRUE(g_vecEvents.empty());
}

TEST_F(EngOffCmdTest, TotalLengthFieldIsNotCompared)
{
    // Field says 100, datagram is 40 bytes: the 0xAD handler gets a 24-byte body.
    std::vector<BYTE> vec = Header(0xAD, 100);
    const char szSerial[] = "CAM-0042";
    vec.insert(vec.end(), szSerial, szSerial + 8);
    vec.resize(16 + 20, 0);
    vec.push_back(0x5A);
    vec.resize(40, 0xEE);
    Dispatch(vec);
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].uMsg, MSG_BASE + 10);
}

TEST_F(EngOffCmdTest, UnknownCodeIsIgnoredAndOnReceiveDispatches)
{
    std::vector<BYTE> vec = Header(0x99, 40);
    vec.resize(40, 0);
    Dispatch(vec);
    EXPECT_TRUE(g_vecEvents.empty());

    // The socket manager reaches the same dispatcher through the receiver interface.
    std::vector<BYTE> reply = Header(0xAD, 37);
    reply.resize(36, 0);
    reply.push_back(7);
    ISocketReceiver* pReceiver = m_port.m_groups[1].pReceiver;
    ASSERT_NE(pReceiver, nullptr);
    pReceiver->OnReceive(reply.data(), static_cast<int>(reply.size()), 0x7F000001, 8001, &m_port.m_groups[1],
                         0x8001);
    pReceiver->OnSweepComplete(0, &m_port.m_groups[1]);
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].uMsg, MSG_BASE + 10);
}

} // namespace
