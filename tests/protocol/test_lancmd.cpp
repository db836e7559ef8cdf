// LAN command bodies and reply records. Expected bytes are written out from the command
// tables, field by field, not produced with the packet writer.
#include "protocol/engoffcmd.h"

#include "core/log.h"
#include "platform/msgwindow.h"
#include "protocol/packet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<BYTE>;

Bytes Str(const char* psz, std::size_t nField)
{
    Bytes vec(nField, 0);
    std::memcpy(vec.data(), psz, std::min(std::strlen(psz), nField));
    return vec;
}
Bytes U32(DWORD dw)
{
    return {static_cast<BYTE>(dw >> 24), static_cast<BYTE>(dw >> 16), static_cast<BYTE>(dw >> 8),
            static_cast<BYTE>(dw)};
}
Bytes Fill(std::size_t n, BYTE by)
{
    return Bytes(n, by);
}
Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes Packet(BYTE bCode, const Bytes& body)
{
    const auto usTotal = static_cast<WORD>(16 + body.size());
    Bytes vec = {
        0x80, bCode, 0, 0, static_cast<BYTE>(usTotal >> 8), static_cast<BYTE>(usTotal), 0, 0, 0, 0, 0, 0,
        0,    0,     0, 0};
    vec.insert(vec.end(), body.begin(), body.end());
    return vec;
}

class FakePort : public ILanSocketPort {
public:
    SocketGroup* CreateSocket(DWORD, WORD, BOOL, ISocketReceiver*) override
    {
        return &m_groups[m_nCreated++];
    }
    int SendTo(const BYTE* pData, int nLen, DWORD, WORD, SocketGroup*) override
    {
        m_vecSent.emplace_back(pData, pData + nLen);
        return nLen;
    }
    SocketGroup m_groups[2];
    int m_nCreated = 0;
    std::vector<Bytes> m_vecSent;
};

struct Event {
    BYTE byEvent;
    WPARAM wParam;
    LPARAM lParam;
    Bytes copy; // the record as it was during the event
};
std::vector<Event> g_vecEvents;
std::function<std::size_t(BYTE, WPARAM, LPARAM)> g_fnSize; // bytes of lParam to copy

constexpr UINT MSG_BASE = WM_APP + 0x200;

LRESULT EventProc(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    const auto byEvent = static_cast<BYTE>(uMsg - MSG_BASE);
    Event event{byEvent, wParam, lParam, {}};
    const std::size_t nSize = g_fnSize ? g_fnSize(byEvent, wParam, lParam) : 0;
    const auto* pb = reinterpret_cast<const BYTE*>(lParam);
    event.copy.assign(pb, pb + nSize);
    g_vecEvents.push_back(std::move(event));
    return 0;
}

std::size_t RecordSize(BYTE byEvent, WPARAM wParam, LPARAM lParam)
{
    switch (byEvent) {
    case LAN_EVENT_NETPARAM:
        return sizeof(NetParamRecord);
    case LAN_EVENT_DSERVER:
        return sizeof(DServerRecord);
    case LAN_EVENT_WIFI:
        return reinterpret_cast<const WifiRecord*>(lParam)->dwRecordSize;
    case LAN_EVENT_3G:
        return sizeof(ThreeGRecord);
    case LAN_EVENT_3G_STATUS:
        return sizeof(ThreeGStatus);
    case LAN_EVENT_WORD_RESULT:
        return sizeof(LanWordResult);
    case LAN_EVENT_BYTE_RESULT:
        return sizeof(LanByteResult);
    default:
        return wParam; // body events carry their length
    }
}

class LanCmdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-lancmd-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
        setenv("VISTREL_HOME", m_dir.c_str(), 1);
        GetLogFile().ResetForTest();
        m_nSavedLevel = g_nDebugLevel;
        g_nDebugLevel = 2;

        ASSERT_TRUE(RegisterWindowClass("LanCmdTest", &EventProc));
        m_hWnd = CreateMsgWindow("LanCmdTest", "events");
        ASSERT_NE(m_hWnd, nullptr);
        for (BYTE byEvent : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 32})
            m_engine.RegisterResponse(byEvent, m_hWnd, MSG_BASE + byEvent, 0);
        g_vecEvents.clear();
        g_fnSize = &RecordSize;
        m_engine.Init();
    }
    void TearDown() override
    {
        g_fnSize = nullptr;
        DestroyWindow(m_hWnd);
        UnregisterWindowClass("LanCmdTest");
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

    void Reply(BYTE bCode, const Bytes& body)
    {
        const Bytes vec = Packet(bCode, body);
        m_engine.DispatchCmd(vec.data(), static_cast<int>(vec.size()), 0x7F000001, 8001);
    }
    // The body of the last request, checked against its code.
    Bytes LastBody(BYTE bCode)
    {
        EXPECT_FALSE(m_port.m_vecSent.empty());
        if (m_port.m_vecSent.empty())
            return {};
        const Bytes& vec = m_port.m_vecSent.back();
        EXPECT_EQ(vec[1], bCode);
        EXPECT_EQ(static_cast<std::size_t>((vec[4] << 8) | vec[5]), vec.size());
        return Bytes(vec.begin() + 16, vec.end());
    }

    std::string m_dir;
    int m_nSavedLevel = 0;
    HWND m_hWnd = nullptr;
    FakePort m_port;
    CEngOffCmd m_engine{&m_port}; // the process-wide record lists
};

// ------------------------------------------------------------------------------------------
// Request bodies

TEST_F(LanCmdTest, NetworkParameterBodies)
{
    NetParamRecord record{};
    std::strcpy(record.szSerial, "SN-000123");
    record.ucConnType = 3;
    record.dwManualDNS = 1;
    record.dwIP = 0xC0A80164;
    record.dwNetmask = 0xFFFFFF00;
    record.dwGateway = 0xC0A80101;
    record.dwDNS1 = 0x08080808;
    record.dwDNS2 = 0x08080404;
    record.dwReserved = 0x01020304;
    std::strcpy(record.szPPPoEAccount, "acct");
    std::strcpy(record.szPPPoEPassword, "pw");
    m_engine.Cmd_SetNetParam(record);
    const Bytes expected = Cat({Str("SN-000123", 32),
                                {3, 0, 0, 0},
                                {0, 0, 0, 1},
                                {0xC0, 0xA8, 0x01, 0x64},
                                {0xFF, 0xFF, 0xFF, 0x00},
                                {0xC0, 0xA8, 0x01, 0x01},
                                {8, 8, 8, 8},
                                {8, 8, 4, 4},
                                {1, 2, 3, 4},
                                Str("acct", 32),
                                Str("pw", 32)});
    ASSERT_EQ(expected.size(), 128u);
    EXPECT_EQ(LastBody(1), expected);

    m_engine.Cmd_GetNetParam(5);
    EXPECT_EQ(LastBody(2), Bytes{});
    m_engine.Cmd_GetDServer(5);
    EXPECT_EQ(LastBody(5), Bytes{});
}

TEST_F(LanCmdTest, DServerWifiAnd3GBodies)
{
    Bytes block(31);
    for (int i = 0; i < 31; ++i)
        block[i] = static_cast<BYTE>(0xA0 + i);
    m_engine.Cmd_ConnectDServer("SN1", "ds.example.net", block.data());
    EXPECT_EQ(LastBody(8), Cat({Str("SN1", 32), Str("ds.example.net", 31), block, {0, 0}}));

    m_engine.Cmd_WifiQuery("SN-WIFI");
    EXPECT_EQ(LastBody(41), Str("SN-WIFI", 32));
    m_engine.Cmd_WifiQuery2("SN-WIFI");
    EXPECT_EQ(LastBody(43), Str("SN-WIFI", 32));

    m_engine.Cmd_SetWordPair("SN2", 0x1234, 0xABCD);
    EXPECT_EQ(LastBody(44), Cat({Str("SN2", 32), {0x12, 0x34, 0xAB, 0xCD}}));
    m_engine.Cmd_SetBytePair("SN2", 7, 9);
    EXPECT_EQ(LastBody(45), Cat({Str("SN2", 32), {7, 9}}));

    m_engine.Cmd_3GSet("SN3", 1, 2, 1, 1, "internet", "*99#", "me", "secret");
    EXPECT_EQ(LastBody(48), Cat({Str("SN3", 32),
                                 {1, 2, 1, 1},
                                 Str("internet", 32),
                                 Str("*99#", 32),
                                 Str("me", 32),
                                 Str("secret", 32)}));
    m_engine.Cmd_3GQuery("SN3");
    EXPECT_EQ(LastBody(49), Str("SN3", 32));
    m_engine.Cmd_Query3GStatus("SN3");
    EXPECT_EQ(LastBody(66), Str("SN3", 32));
}

TEST_F(LanCmdTest, WifiSetBodyFromRecord)
{
    alignas(4) BYTE abyStore[WIFI_RECORD_MIN_ALLOC] = {};
    auto* pRecord = reinterpret_cast<WifiRecord*>(abyStore);
    std::memcpy(pRecord->szSerial, "SN-WIFI-0000000000019", 20); // fills the field, no zero
    pRecord->abySettings[0] = 1;
    pRecord->abySettings[3] = 4;
    for (int i = 0; i < 5; ++i)
        pRecord->adwSettings[i] = 0x01000000u * (i + 1) + 0x10;
    auto* pbBlock = reinterpret_cast<BYTE*>(&pRecord->stBlock);
    for (int i = 0; i < 228; ++i)
        pbBlock[i] = static_cast<BYTE>(i);
    pRecord->stBlock.usValue1 = 0x0102;
    pRecord->stBlock.usValue2 = 0x0304;
    pRecord->stWebAuth.dwValue = 0xC0A80001;
    std::strcpy(pRecord->stWebAuth.szAddress, "ac.local");
    std::strcpy(pRecord->stWebAuth.szAccount, "guest");
    std::strcpy(pRecord->stWebAuth.szPassword, "pass");
    m_engine.Cmd_WifiSet(*pRecord);

    Bytes raw(228);
    for (int i = 0; i < 228; ++i)
        raw[i] = static_cast<BYTE>(i);
    const Bytes expected = Cat({Str("SN-WIFI-000000000001", 32),
                                {1, 0, 0, 4},
                                {0x01, 0, 0, 0x10},
                                {0x02, 0, 0, 0x10},
                                {0x03, 0, 0, 0x10},
                                {0x04, 0, 0, 0x10},
                                {0x05, 0, 0, 0x10},
                                raw,
                                {1, 2, 3, 4},
                                {0xC0, 0xA8, 0, 1},
                                Str("ac.local", 20),
                                Str("guest", 20),
                                Str("pass", 10)});
    ASSERT_EQ(expected.size(), 342u);
    EXPECT_EQ(LastBody(42), expected);
}

TEST_F(LanCmdTest, FirmwareBodies)
{
    m_engine.Cmd_FirmReq("ABCDEFGHIJKLMNOPQRSTUVW", 0x00123456); // serial cut to 20
    EXPECT_EQ(LastBody(54), Cat({Str("ABCDEFGHIJKLMNOPQRST", 20), {0x00, 0x12, 0x34, 0x56}}));
    m_engine.Cmd_FirmWrite("CAM7");
    EXPECT_EQ(LastBody(56), Str("CAM7", 20));

    Bytes body = Cat({Str("CAM7", 20), {0, 0, 0, 3}, Fill(1024, 0x5C)});
    m_engine.Cmd_FirmSendReq(body.data(), static_cast<int>(body.size()));
    EXPECT_EQ(LastBody(55), body);

    // A body over 1280 bytes is refused with the parser exception; nothing leaves.
    const std::size_t nSent = m_port.m_vecSent.size();
    Bytes big(1281, 1);
    EXPECT_THROW(m_engine.Cmd_FirmSendReq(big.data(), 1281), CParserException);
    EXPECT_EQ(m_port.m_vecSent.size(), nSent);
}

// ------------------------------------------------------------------------------------------
// Replies

Bytes NetParamReply(const char* pszSerial, BYTE bPPPoEPresent, BYTE bDHCPPresent)
{
    return Cat({Str(pszSerial, 20),
                {1, bPPPoEPresent},
                {10, 0, 0, 7},
                {0, bDHCPPresent},
                {10, 0, 0, 8},
                {2, 0xEE, 0xEE, 0xEE},
                {0, 0, 0, 1},
                {192, 168, 0, 5},
                {255, 255, 0, 0},
                {192, 168, 0, 1},
                {1, 1, 1, 1},
                {9, 9, 9, 9},
                {0xCA, 0xFE, 0, 0},
                Str("pppuser", 32),
                Str("ppppass", 32)});
}

TEST_F(LanCmdTest, NetParamReplyCreatesThenUpdatesInPlace)
{
    Reply(0x81, NetParamReply("CAM-A", 1, 1));
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].byEvent, LAN_EVENT_NETPARAM);
    const auto* pRecord = reinterpret_cast<const NetParamRecord*>(g_vecEvents[0].lParam);
    EXPECT_STREQ(pRecord->szSerial, "CAM-A");
    EXPECT_EQ(pRecord->bIsPPPOENotGet, 1);
    EXPECT_EQ(pRecord->dwPPPoEIP, 0x0A000007u);
    EXPECT_EQ(pRecord->dwDHCPIP, 0x0A000008u);
    EXPECT_EQ(pRecord->ucConnType, 2);
    EXPECT_EQ(pRecord->dwManualDNS, 1u);
    EXPECT_EQ(pRecord->dwIP, 0xC0A80005u);
    EXPECT_EQ(pRecord->dwNetmask, 0xFFFF0000u);
    EXPECT_EQ(pRecord->dwGateway, 0xC0A80001u);
    EXPECT_EQ(pRecord->dwDNS1, 0x01010101u);
    EXPECT_EQ(pRecord->dwDNS2, 0x09090909u);
    EXPECT_EQ(pRecord->dwReserved, 0xCAFE0000u);
    EXPECT_STREQ(pRecord->szPPPoEAccount, "pppuser");
    EXPECT_STREQ(pRecord->szPPPoEPassword, "ppppass");

    // Same camera again, both groups absent: same record, 0 and 0xFFFFFFFF.
    Reply(0x81, NetParamReply("CAM-A", 0, 0));
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(g_vecEvents[1].lParam, g_vecEvents[0].lParam);
    EXPECT_EQ(pRecord->dwPPPoEIP, 0u);
    EXPECT_EQ(pRecord->dwDHCPIP, 0xFFFFFFFFu);
    EXPECT_EQ(GetLanRecordStore()->GetNetParamCount(), 1u);

    Reply(0x81, NetParamReply("CAM-B", 1, 1));
    EXPECT_NE(g_vecEvents[2].lParam, g_vecEvents[0].lParam);
    EXPECT_EQ(FindNetParamRecord("CAM-B"), reinterpret_cast<const NetParamRecord*>(g_vecEvents[2].lParam));
}

TEST_F(LanCmdTest, NetParamReplyCutAnywhereRaisesNothing)
{
    const Bytes full = NetParamReply("CAM-C", 1, 1);
    for (std::size_t n = 0; n < full.size(); ++n)
        Reply(0x81, Bytes(full.begin(), full.begin() + static_cast<long>(n)));
    EXPECT_TRUE(g_vecEvents.empty());
    EXPECT_NE(LogText().find("CEngOffCmd::ResCmd_GetParam: catch(...)"), std::string::npos);
    // The record exists and keeps what the longest cut carried (all but the password).
    const NetParamRecord* pRecord = FindNetParamRecord("CAM-C");
    ASSERT_NE(pRecord, nullptr);
    EXPECT_STREQ(pRecord->szPPPoEAccount, "pppuser");
    EXPECT_EQ(pRecord->szPPPoEPassword[0], 0);
}

TEST_F(LanCmdTest, DServerReplySecondStringFallsBack)
{
    const Bytes state = {1, 2, 3, 4, 5, 6};
    Reply(0x85, Cat({Str("CAM-D", 32), state, Str("ds1.example", 31), Str("", 31)}));
    ASSERT_EQ(g_vecEvents.size(), 1u);
    DServerRecord record;
    ASSERT_EQ(g_vecEvents[0].copy.size(), sizeof(record));
    std::memcpy(&record, g_vecEvents[0].copy.data(), sizeof(record));
    EXPECT_STREQ(record.szSerial, "CAM-D");
    EXPECT_EQ(Bytes(record.abyState, record.abyState + 6), state);
    EXPECT_STREQ(record.szServer, "ds1.example");
    EXPECT_STREQ(record.szServer2, "ds1.example");

    Reply(0x85, Cat({Str("CAM-D", 32), state, Str("ds1.example", 31), Str("ds2.example", 31)}));
    std::memcpy(&record, g_vecEvents[1].copy.data(), sizeof(record));
    EXPECT_STREQ(record.szServer2, "ds2.example");

    Reply(0x85, Cat({Str("CAM-D", 32), state, Str("ds1.example", 31), Str("ds2", 30)}));
    EXPECT_EQ(g_vecEvents.size(), 2u);
    EXPECT_NE(LogText().find("CEngOffCmd::ResCmd_SNConnect: catch(...)"), std::string::npos);
}

// A Wi-Fi reply with nEntries survey entries (count byte nCount) and optionally the
// web-authentication block.
Bytes WifiReply(const char* pszSerial, bool bWebAuth, int nEntries, int nCount, std::size_t nListPad = 0)
{
    Bytes block(232, 0);
    block[0] = 1; // NetworkType
    block[3] = 5; // SsidLength
    std::memcpy(&block[4], "homeA", 5);
    block[216] = 4; // AuthMode
    block[217] = 3; // EncType
    block[225] = 11;
    block[228] = 0x12;
    block[229] = 0x34;
    block[230] = 0x56;
    block[231] = 0x78;
    Bytes list = {static_cast<BYTE>(nCount), 0, 0, 0};
    for (int i = 0; i < nEntries; ++i) {
        Bytes entry(48, 0);
        for (int b = 0; b < 6; ++b)
            entry[b] = static_cast<BYTE>(0x10 * i + b);
        entry[7] = 4;
        std::memcpy(&entry[8], "net", 3);
        entry[8 + 3] = static_cast<BYTE>('0' + i);
        entry[40] = static_cast<BYTE>(i);
        list.insert(list.end(), entry.begin(), entry.end());
    }
    list.resize(list.size() + nListPad, 0);
    const Bytes header = Fill(36, 0x77);
    const DWORD dwL = static_cast<DWORD>(36 + list.size());
    Bytes body = Cat({Str(pszSerial, 20),
                      Fill(6, 0xEE),
                      {static_cast<BYTE>(bWebAuth ? 1 : 0)},
                      {1},
                      {0, 0, 0, 2},
                      {9, 8, 7, 6},
                      U32(1),
                      U32(2),
                      U32(3),
                      U32(4),
                      U32(0x05060708),
                      block});
    if (bWebAuth)
        body = Cat({body, {0x0A, 0, 0, 1}, Str("ac", 20), Str("user", 20), Str("pw", 10)});
    return Cat({body, U32(dwL), header, list});
}

TEST_F(LanCmdTest, WifiReplyFillsTheRecord)
{
    const Bytes body = WifiReply("CAM-W", true, 2, 2);
    Reply(0xA9, body);
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].byEvent, LAN_EVENT_WIFI);
    const auto* pRecord = reinterpret_cast<const WifiRecord*>(g_vecEvents[0].lParam);
    EXPECT_EQ(pRecord->dwRecordSize, body.size() + 64);
    EXPECT_EQ(std::string(pRecord->szSerial), "CAM-W");
    EXPECT_EQ(pRecord->byStatus, 1);
    EXPECT_EQ(pRecord->dwStatus, 2u);
    EXPECT_EQ(pRecord->abySettings[0], 9);
    EXPECT_EQ(pRecord->adwSettings[4], 0x05060708u);
    EXPECT_EQ(pRecord->stBlock.NetworkType, 1);
    EXPECT_EQ(pRecord->stBlock.SsidLength, 5);
    EXPECT_EQ(std::string(pRecord->stBlock.Ssid), "homeA");
    EXPECT_EQ(pRecord->stBlock.AuthMode, 4);
    EXPECT_EQ(pRecord->stBlock.EncType, 3);
    EXPECT_EQ(pRecord->stBlock.AdhocChannel, 11);
    EXPECT_EQ(pRecord->stBlock.usValue1, 0x1234);
    EXPECT_EQ(pRecord->stBlock.usValue2, 0x5678);
    EXPECT_EQ(pRecord->stWebAuth.dwValue, 0x0A000001u);
    EXPECT_STREQ(pRecord->stWebAuth.szAccount, "user");
    EXPECT_EQ(pRecord->dwSurveyLen, 36u + 4 + 96);
    EXPECT_EQ(pRecord->abySurveyHeader[35], 0x77);
    ASSERT_EQ(pRecord->SurveyCount(), 2u);
    EXPECT_EQ(std::string(pRecord->SurveyEntry(1)->Ssid), "net1");
    EXPECT_EQ(pRecord->SurveyEntry(1)->abyBSSID[5], 0x15);
    EXPECT_EQ(pRecord->SurveyEntry(1)->AuthMode, 1);
    EXPECT_EQ(FindWifiRecord("CAM-W"), pRecord);

    // Without the flag the web-authentication block is absent and stays zero; 0xAB is the
    // same reply.
    Reply(0xAB, WifiReply("CAM-X", false, 1, 1));
    ASSERT_EQ(g_vecEvents.size(), 2u);
    const auto* pOther = reinterpret_cast<const WifiRecord*>(g_vecEvents[1].lParam);
    EXPECT_EQ(pOther->stWebAuth.dwValue, 0u);
    EXPECT_EQ(pOther->SurveyCount(), 1u);
}

TEST_F(LanCmdTest, WifiRecordOverwrittenWhenItFitsElseReallocated)
{
    Reply(0xA9, WifiReply("CAM-W", false, 3, 3));
    Reply(0xA9, WifiReply("CAM-W", false, 1, 1)); // smaller: same place
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(g_vecEvents[1].lParam, g_vecEvents[0].lParam);
    const auto* pRecord = reinterpret_cast<const WifiRecord*>(g_vecEvents[1].lParam);
    EXPECT_EQ(pRecord->SurveyCount(), 1u);
    // The bytes of the longer survey were cleared before the copy.
    EXPECT_EQ(pRecord->SurveyList()[4 + 48], 0);

    Reply(0xA9, WifiReply("CAM-W", false, 40, 40)); // larger: a new record replaces it
    ASSERT_EQ(g_vecEvents.size(), 3u);
    EXPECT_EQ(GetLanRecordStore()->GetWifiCount(), 1u);
    const auto* pNew = reinterpret_cast<const WifiRecord*>(g_vecEvents[2].lParam);
    EXPECT_EQ(pNew->SurveyCount(), 40u);
    EXPECT_EQ(std::string(pNew->SurveyEntry(39)->Ssid).substr(0, 3), "net");
    EXPECT_EQ(FindWifiRecord("CAM-W"), pNew);
}

TEST_F(LanCmdTest, WifiReplySizeLimitAndBadSurveys)
{
    // Body + 64 == 5120 is accepted, one byte more dropped silently.
    const Bytes base = WifiReply("CAM-L", false, 0, 0);
    const std::size_t nPad = 5120 - 64 - base.size();
    Reply(0xA9, WifiReply("CAM-L", false, 0, 0, nPad));
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(reinterpret_cast<const WifiRecord*>(g_vecEvents[0].lParam)->dwRecordSize, 5120u);
    Reply(0xA9, WifiReply("CAM-L", false, 0, 0, nPad + 1));
    EXPECT_EQ(g_vecEvents.size(), 1u);

    // A count byte promising more entries than the list holds logs only those present.
    Reply(0xA9, WifiReply("CAM-M", false, 2, 200));
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(reinterpret_cast<const WifiRecord*>(g_vecEvents[1].lParam)->SurveyCount(), 2u);

    // Survey length smaller than its header, and a cut reply: dropped, stored record intact.
    Bytes bad = WifiReply("CAM-M", false, 0, 0);
    bad.resize(bad.size() - 40);
    bad.resize(bad.size() - 4);
    bad = Cat({bad, U32(20), Fill(20, 0)});
    Reply(0xA9, bad);
    const Bytes full = WifiReply("CAM-M", false, 1, 1);
    Reply(0xA9, Bytes(full.begin(), full.end() - 1));
    EXPECT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(FindWifiRecord("CAM-M")->SurveyCount(), 2u);
    EXPECT_NE(LogText().find("CEngOffCmd::ResCmd_WifiQueryRes: catch(...)"), std::string::npos);
}

TEST_F(LanCmdTest, ThreeGReplyDefaultsAndStrings)
{
    Reply(0xB1, Cat({Str("CAM-3G", 32), {1, 0, 2}}));
    ASSERT_EQ(g_vecEvents.size(), 1u);
    const auto* pRecord = reinterpret_cast<const ThreeGRecord*>(g_vecEvents[0].lParam);
    EXPECT_EQ(pRecord->bConnectType, 1);
    EXPECT_EQ(pRecord->bSimType, 2);
    EXPECT_STREQ(pRecord->szAPN, "3gnet");
    EXPECT_STREQ(pRecord->szTelNum, "*99");
    EXPECT_STREQ(pRecord->szAccount, "");
    EXPECT_STREQ(pRecord->szPassword, "");

    Reply(0xB1, Cat({Str("CAM-3G", 32), {1, 1, 2}}));
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(g_vecEvents[1].lParam, g_vecEvents[0].lParam);
    EXPECT_STREQ(pRecord->szAPN, "");
    EXPECT_STREQ(pRecord->szTelNum, "#777");
    EXPECT_EQ(std::strlen(pRecord->szAccount), 4u);
    EXPECT_STREQ(pRecord->szAccount, pRecord->szPassword);

    Reply(0xB1,
          Cat({Str("CAM-3G", 32), {2, 1, 0}, Str("apn.x", 32), Str("*98#", 32), Str("a", 32), Str("p", 32)}));
    EXPECT_STREQ(pRecord->szAPN, "apn.x");
    EXPECT_STREQ(pRecord->szTelNum, "*98#");
    EXPECT_STREQ(pRecord->szPassword, "p");

    // Strings begun but cut: caught by the handler, no event.
    Reply(0xB1, Cat({Str("CAM-3G", 32), {2, 1, 0}, Str("apn.y", 32), Str("*9", 10)}));
    Reply(0xB1, Str("CAM-3G", 34));
    EXPECT_EQ(g_vecEvents.size(), 3u);
    EXPECT_NE(LogText().find("CEngOffCmd::ResCmd_3GQueryRes: catch(...)"), std::string::npos);
}

TEST_F(LanCmdTest, StatusAndSmallResults)
{
    Reply(0xC2, Cat({Str("CAM-3G", 32), U32(1), U32(25), U32(3), U32(0x80000004)}));
    ASSERT_EQ(g_vecEvents.size(), 1u);
    ThreeGStatus status;
    std::memcpy(&status, g_vecEvents[0].copy.data(), sizeof(status));
    EXPECT_STREQ(status.szSerial, "CAM-3G");
    EXPECT_EQ(status.unDial, 1u);
    EXPECT_EQ(status.unSignal, 25u);
    EXPECT_EQ(status.unSimState, 3u);
    EXPECT_EQ(status.unNetwork, 0x80000004u);

    Reply(0xAC, Cat({Str("CAM-44", 20), {0xBE, 0xEF}}));
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(g_vecEvents[1].byEvent, LAN_EVENT_WORD_RESULT);
    LanWordResult word;
    std::memcpy(&word, g_vecEvents[1].copy.data(), sizeof(word));
    EXPECT_STREQ(word.szSerial, "CAM-44");
    EXPECT_EQ(word.usValue, 0xBEEF);

    Reply(0xAD, Cat({Str("CAM-45", 20), {0x7E}}));
    ASSERT_EQ(g_vecEvents.size(), 3u);
    EXPECT_EQ(g_vecEvents[2].byEvent, LAN_EVENT_BYTE_RESULT);
    LanByteResult byteResult;
    std::memcpy(&byteResult, g_vecEvents[2].copy.data(), sizeof(byteResult));
    EXPECT_STREQ(byteResult.szSerial, "CAM-45");
    EXPECT_EQ(byteResult.byValue, 0x7E);

    // Each cut by one byte: the dispatcher's catch, no event.
    Reply(0xC2, Cat({Str("CAM-3G", 32), U32(1), U32(25), U32(3), {0, 0, 0}}));
    Reply(0xAC, Cat({Str("CAM-44", 20), {0xBE}}));
    Reply(0xAD, Str("CAM-45", 20));
    EXPECT_EQ(g_vecEvents.size(), 3u);
}

TEST_F(LanCmdTest, BodyEventsCarryLengthAndShortFirmwareRepliesAreDropped)
{
    struct Case {
        BYTE bCode;
        BYTE byEvent;
        std::size_t nMin;
    };
    for (const Case& c : {Case{0xB6, 2, 21}, Case{0xB7, 4, 24}, Case{0xB8, 3, 24}}) {
        g_vecEvents.clear();
        Bytes body = Cat({Str("CAM-F", 20), {1, 2, 3, 4, 5}});
        body.resize(c.nMin);
        Reply(c.bCode, body);
        ASSERT_EQ(g_vecEvents.size(), 1u);
        EXPECT_EQ(g_vecEvents[0].byEvent, c.byEvent);
        EXPECT_EQ(g_vecEvents[0].wParam, c.nMin);
        EXPECT_EQ(g_vecEvents[0].copy, body);
        body.pop_back();
        Reply(c.bCode, body);
        EXPECT_EQ(g_vecEvents.size(), 1u);
    }
    EXPECT_NE(LogText().find("CEngOffCmd::ResCmd_SendFile: end } nBodyLen:23 < 24"), std::string::npos);

    // Set results go out whatever their length.
    g_vecEvents.clear();
    Reply(0xAA, {});
    Reply(0xB0, Cat({Str("CAM-3G", 20), {0}}));
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(g_vecEvents[0].byEvent, LAN_EVENT_WIFI_SET);
    EXPECT_EQ(g_vecEvents[0].wParam, 0u);
    EXPECT_EQ(g_vecEvents[1].byEvent, LAN_EVENT_3G_SET);
    EXPECT_EQ(g_vecEvents[1].wParam, 21u);
}

TEST_F(LanCmdTest, SecondAddressForTheViewerSearch)
{
    EXPECT_EQ(GetLanSecondAddress("CAM-S", 0x0A000005), 0u); // no records at all
    Reply(0x81, NetParamReply("CAM-S", 1, 1));               // address 192.168.0.5
    EXPECT_EQ(GetLanSecondAddress("CAM-S", 0x0A000005), 0u); // no Wi-Fi record yet
    Reply(0xA9, WifiReply("CAM-S", false, 0, 0));            // both status flags set
    EXPECT_EQ(GetLanSecondAddress("CAM-S", 0x0A000005), 0xC0A80005u);
    EXPECT_EQ(GetLanSecondAddress("CAM-S", 0xC0A80005), 0u); // same as the camera's own
    Bytes off = WifiReply("CAM-S", false, 0, 0);
    off[27] = 0; // first status flag clear
    Reply(0xA9, off);
    EXPECT_EQ(GetLanSecondAddress("CAM-S", 0x0A000005), 0u);
}

} // namespace
