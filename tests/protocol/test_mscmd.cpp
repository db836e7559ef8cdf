// Record-time engine: request framing, the reliable channel per camera and reply decoding.
#include "protocol/mscmd.h"

#include "platform/msgwindow.h"
#include "platform/ticks.h"
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes U32(DWORD dw)
{
    return {static_cast<BYTE>(dw >> 24), static_cast<BYTE>(dw >> 16), static_cast<BYTE>(dw >> 8),
            static_cast<BYTE>(dw)};
}
// Header as a request carries it: B0, code, 1, 1, then zeros.
Bytes Header(BYTE byCode)
{
    return {0xB0, byCode, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}
// Header of a reply with a version field.
Bytes ReplyHeader(BYTE byCode, WORD usVersion = 0)
{
    return {0xB0, byCode, 0, 1, 0, 1, 0, 0, static_cast<BYTE>(usVersion >> 8), static_cast<BYTE>(usVersion),
            0,    0,      0, 0, 0, 0};
}

struct Sent {
    char chKind; // 'R' reliable (89), 'A' reply ack (217), 'O' once (68)
    DWORD dwID;
    DWORD dwSequence;
    Bytes packet;
};

class FakeTransport : public IRecordTimeTransport {
public:
    int SendReliable(DWORD dwID, DWORD dwSequence, const BYTE* pPacket, std::size_t nLen) override
    {
        m_vec.push_back({'R', dwID, dwSequence, Bytes(pPacket, pPacket + nLen)});
        return static_cast<int>(nLen + 20);
    }
    int SendReplyAck(DWORD dwID, DWORD dwSequence) override
    {
        m_vec.push_back({'A', dwID, dwSequence, {}});
        return 20;
    }
    int SendOnce(DWORD dwID, const BYTE* pPacket, std::size_t nLen) override
    {
        m_vec.push_back({'O', dwID, 0, Bytes(pPacket, pPacket + nLen)});
        return static_cast<int>(nLen + 16);
    }
    std::vector<Sent> m_vec;
};

struct Event {
    BYTE byEvent;
    WPARAM wParam;
    LPARAM lParam;
    std::vector<DWORD> vecValues; // the record's values, flattened
    Bytes bytes;                  // its byte array, if any
};
std::vector<Event> g_vecEvents;
constexpr UINT MSG_BASE = WM_APP + 0x300;

LRESULT EventProc(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    Event event{static_cast<BYTE>(uMsg - MSG_BASE), wParam, lParam, {}, {}};
    switch (event.byEvent) {
    case MS_EVENT_REC_DATE: {
        const auto* p = reinterpret_cast<const RecDateInfo*>(lParam);
        event.vecValues = {p->dwValue, p->dwCount};
        event.vecValues.insert(event.vecValues.end(), p->pDays, p->pDays + p->dwCount);
        break;
    }
    case MS_EVENT_REC_HOUR: {
        const auto* p = reinterpret_cast<const RecHourInfo*>(lParam);
        event.vecValues = {p->adwValue[0], p->adwValue[1]};
        event.bytes.assign(p->abyHours, p->abyHours + 24);
        break;
    }
    case MS_EVENT_REC_MINUTE: {
        const auto* p = reinterpret_cast<const RecMinuteInfo*>(lParam);
        event.vecValues = {p->adwValue[0], p->adwValue[1], p->adwValue[2]};
        event.bytes.assign(p->abyMinutes, p->abyMinutes + 60);
        break;
    }
    case MS_EVENT_REC_TIME: {
        const auto* p = reinterpret_cast<const RecTimeInfo*>(lParam);
        event.vecValues = {p->dwCount};
        for (DWORD i = 0; i < p->dwCount; ++i)
            event.vecValues.insert(event.vecValues.end(), p->pRanges[i].adwValue, p->pRanges[i].adwValue + 3);
        break;
    }
    default:
        break;
    }
    g_vecEvents.push_back(std::move(event));
    return 0;
}

class MSCmdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RegisterWindowClass("MSCmdTest", &EventProc));
        m_hWnd = CreateMsgWindow("MSCmdTest", "events");
        ASSERT_NE(m_hWnd, nullptr);
        for (BYTE byEvent = 0; byEvent <= 4; ++byEvent)
            m_engine.RegisterResponse(byEvent, m_hWnd, MSG_BASE + byEvent, 0);
        g_vecEvents.clear();
        m_prevSink = SetTraceSink([this](const char* psz) { m_vecTraces.emplace_back(psz); });
    }
    void TearDown() override
    {
        SetTraceSink(m_prevSink);
        DestroyWindow(m_hWnd);
        UnregisterWindowClass("MSCmdTest");
    }

    // Acknowledges the request in flight for a camera.
    void Ack(DWORD dwID, DWORD dwSequence)
    {
        const Bytes body = U32(dwSequence);
        m_engine.OnViewerAck(dwID, body.data(), static_cast<DWORD>(body.size()));
    }
    void Data(DWORD dwID, DWORD dwSequence, const Bytes& packet)
    {
        const Bytes body = Cat({U32(dwSequence), packet});
        m_engine.OnViewerData(dwID, body.data(), static_cast<DWORD>(body.size()));
    }
    void Unreliable(DWORD dwID, const Bytes& packet)
    {
        m_engine.DispatchCmd(packet.data(), static_cast<DWORD>(packet.size()), dwID);
    }
    bool Traced(const std::string& str) const
    {
        for (const std::string& s : m_vecTraces) {
            if (s.find(str) != std::string::npos)
                return true;
        }
        return false;
    }

    CFakeTickClock m_clock{50000};
    FakeTransport m_transport;
    CMSCmd m_engine{&m_transport};
    HWND m_hWnd = nullptr;
    TraceSink m_prevSink;
    std::vector<std::string> m_vecTraces;
};

TEST_F(MSCmdTest, RequestPackets)
{
    struct Case {
        std::function<int()> fnSend;
        Bytes expected;
    };
    const DWORD dwID = 0x0A0B0C0D;
    const std::vector<Case> vecCases = {
        {[&] { return m_engine.Cmd_RecordOption(dwID, 1); }, Cat({Header(106), {0, 0, 0, 1}})},
        {[&] { return m_engine.Cmd_RecordOption2(dwID, 0x01020304); }, Cat({Header(108), {1, 2, 3, 4}})},
        {[&] { return m_engine.Cmd_GetRecTime(dwID, 7); }, Cat({Header(18), {0, 0, 0, 1, 0, 0, 0, 7}})},
        {[&] { return m_engine.Cmd_GetRecDate(dwID); }, Cat({Header(33), {0x0A, 0x0B, 0x0C, 0x0D}})},
        {[&] { return m_engine.Cmd_GetRecHour(dwID, 20240307, 0); },
         Cat({Header(20), {0x0A, 0x0B, 0x0C, 0x0D}, {0x01, 0x34, 0xD7, 0xB3}, {0, 0, 0, 0}})},
        {[&] { return m_engine.Cmd_GetRecMinute(dwID, 0, 20240307, 13); },
         Cat({Header(22), {0x0A, 0x0B, 0x0C, 0x0D}, {0, 0, 0, 0}, {0x01, 0x34, 0xD7, 0xB3}, {0, 0, 0, 13}})},
        {[&] { return m_engine.Cmd_PlayRecord(dwID, 3, 30, 4, 1, 0, 2145916800, 0); },
         Cat({Header(50),
              {0, 0, 0, 3},
              {30, 4},
              {0, 0, 0, 1},
              {0, 0, 0, 0},
              {0x7F, 0xE8, 0x17, 0x80},
              {0, 0, 0, 0}})},
        {[&] { return m_engine.Cmd_StopRecord(dwID); }, Header(52)},
        {[&] { return m_engine.Cmd_PauseRecord(dwID); }, Header(54)},
        {[&] { return m_engine.Cmd_ResumeRecord(dwID); }, Header(56)},
        {[&] { return m_engine.Cmd_NextFrame(dwID); }, Header(66)},
        {[&] { return m_engine.Cmd_SetPlayAudio(dwID, 1); }, Cat({Header(58), {0, 0, 0, 1}})},
        {[&] { return m_engine.Cmd_SetPlaySpeed(dwID, 0xFE); }, Cat({Header(60), {0xFE}})},
        {[&] { return m_engine.Cmd_SetPlayMode(dwID, 2); }, Cat({Header(62), {0, 0, 0, 2}})},
    };
    DWORD dwSequence = 1;
    for (const Case& c : vecCases) {
        m_transport.m_vec.clear();
        EXPECT_EQ(c.fnSend(), 1);
        ASSERT_EQ(m_transport.m_vec.size(), 1u);
        EXPECT_EQ(m_transport.m_vec[0].chKind, 'R');
        EXPECT_EQ(m_transport.m_vec[0].dwID, dwID);
        EXPECT_EQ(m_transport.m_vec[0].dwSequence, dwSequence); // numbered from 1
        EXPECT_EQ(m_transport.m_vec[0].packet, c.expected);
        Ack(dwID, dwSequence++);
    }
    EXPECT_TRUE(Traced("ipcam: SendGetRecDate 168496141"));

    // Camera id 0: nothing queued, nothing sent.
    m_transport.m_vec.clear();
    EXPECT_EQ(m_engine.Cmd_StopRecord(0), 0);
    EXPECT_EQ(m_engine.Cmd_GetRecDate(0), 0);
    EXPECT_TRUE(m_transport.m_vec.empty());
}

TEST_F(MSCmdTest, DownloadAcknowledgementGoesOnceUnreliably)
{
    const DWORD adwSeq[] = {17, 18, 0x01000000};
    EXPECT_GT(m_engine.SendAck(55, adwSeq, 3, 16), 0);
    ASSERT_EQ(m_transport.m_vec.size(), 1u);
    EXPECT_EQ(m_transport.m_vec[0].chKind, 'O');
    EXPECT_EQ(m_transport.m_vec[0].packet,
              Cat({Header(65), {0, 0, 0, 3}, {0, 0, 0, 17}, {0, 0, 0, 18}, {1, 0, 0, 0}, {0, 0, 0, 16}}));
    EXPECT_EQ(m_engine.GetQueueLength(55), 0u);
    m_clock.Advance(5000);
    m_engine.Pump();
    EXPECT_EQ(m_transport.m_vec.size(), 1u);
    EXPECT_EQ(m_engine.SendAck(0, adwSeq, 3, 16), 0);
    EXPECT_EQ(m_transport.m_vec.size(), 1u);
}

TEST_F(MSCmdTest, OneRequestInFlightPerCamera)
{
    m_engine.Cmd_StopRecord(9);
    m_engine.Cmd_PauseRecord(9);
    m_engine.Cmd_StopRecord(10); // another camera is not held up
    ASSERT_EQ(m_transport.m_vec.size(), 2u);
    EXPECT_EQ(m_transport.m_vec[0].packet[1], 52);
    EXPECT_EQ(m_transport.m_vec[1].dwID, 10u);
    EXPECT_EQ(m_transport.m_vec[1].dwSequence, 1u); // sequences are per camera
    EXPECT_EQ(m_engine.GetQueueLength(9), 2u);

    Ack(9, 7); // not the one in flight
    EXPECT_EQ(m_transport.m_vec.size(), 2u);
    Ack(9, 1); // the second leaves at once
    ASSERT_EQ(m_transport.m_vec.size(), 3u);
    EXPECT_EQ(m_transport.m_vec[2].packet[1], 54);
    EXPECT_EQ(m_transport.m_vec[2].dwSequence, 2u);
    EXPECT_EQ(m_engine.GetQueueLength(9), 1u);
}

TEST_F(MSCmdTest, ResentAfter800MsAndGivenUpAfterTheFourthSend)
{
    m_engine.Cmd_StopRecord(9);
    m_engine.Cmd_PauseRecord(9);
    ASSERT_EQ(m_transport.m_vec.size(), 1u);
    m_clock.Advance(800);
    m_engine.Pump(); // not yet: exactly 800 ms
    EXPECT_EQ(m_transport.m_vec.size(), 1u);
    for (int nSend = 2; nSend <= 4; ++nSend) {
        m_clock.Advance(801);
        m_engine.Pump();
        ASSERT_EQ(m_transport.m_vec.size(), static_cast<std::size_t>(nSend));
        EXPECT_EQ(m_transport.m_vec.back().dwSequence, 1u);
    }
    // Four sends: the first request is gone, the next one leaves on the next pump.
    EXPECT_EQ(m_engine.GetQueueLength(9), 1u);
    m_engine.Pump();
    ASSERT_EQ(m_transport.m_vec.size(), 5u);
    EXPECT_EQ(m_transport.m_vec.back().dwSequence, 2u);
    EXPECT_EQ(m_transport.m_vec.back().packet[1], 54);
}

TEST_F(MSCmdTest, PacketTooLongToWrapIsRefusedUpFront)
{
    Bytes big = Cat({Header(50), Bytes(1261, 0)}); // 1277 bytes + 4 sequence bytes > 1280
    EXPECT_EQ(m_engine.Send(9, big.data(), big.size()), 0);
    EXPECT_EQ(m_engine.GetQueueLength(9), 0u);
    big.pop_back();
    EXPECT_EQ(m_engine.Send(9, big.data(), big.size()), 1);
    EXPECT_EQ(m_transport.m_vec.size(), 1u);
}

TEST_F(MSCmdTest, ReliableRepliesAcknowledgedEveryTimeRaisedOnce)
{
    const Bytes finish = ReplyHeader(0x40);
    // No reliable request sent to the camera yet: acknowledged, not dispatched.
    Data(9, 5, finish);
    EXPECT_TRUE(g_vecEvents.empty());

    m_engine.Cmd_StopRecord(9);
    m_transport.m_vec.clear();
    Data(9, 0xFFFFFFFF, finish); // equal to the starting value: not dispatched
    EXPECT_TRUE(g_vecEvents.empty());
    Data(9, 6, finish);
    Data(9, 6, finish);
    Data(9, 6, finish);
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].byEvent, MS_EVENT_FINISH);
    EXPECT_EQ(g_vecEvents[0].lParam, 9);
    Data(9, 7, finish);
    EXPECT_EQ(g_vecEvents.size(), 2u);

    ASSERT_EQ(m_transport.m_vec.size(), 5u);
    const DWORD adwExpected[] = {0xFFFFFFFF, 6, 6, 6, 7};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(m_transport.m_vec[i].chKind, 'A');
        EXPECT_EQ(m_transport.m_vec[i].dwSequence, adwExpected[i]);
    }

    // Too short for a sequence number: nothing acknowledged.
    const BYTE abyShort[] = {0, 0, 1};
    m_engine.OnViewerData(9, abyShort, 3);
    EXPECT_EQ(m_transport.m_vec.size(), 5u);
    EXPECT_TRUE(Traced("Receive command: size of packet is too small"));
}

TEST_F(MSCmdTest, RecordingDaysNeedTheExactLength)
{
    const Bytes days = Cat({ReplyHeader(0x22), U32(44), U32(3), U32(20240301), U32(20240302), U32(20240307)});
    Unreliable(9, days);
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].byEvent, MS_EVENT_REC_DATE);
    EXPECT_EQ(g_vecEvents[0].vecValues, (std::vector<DWORD>{44, 3, 20240301, 20240302, 20240307}));
    EXPECT_TRUE(Traced("ipcam: OnGetRecDateResponse "));

    Bytes longer = days;
    longer.push_back(0);
    Unreliable(9, longer);
    Unreliable(9, Bytes(days.begin(), days.end() - 1));
    // A count that would overflow the length check.
    Unreliable(9, Cat({ReplyHeader(0x22), U32(44), U32(0x40000000)}));
    EXPECT_EQ(g_vecEvents.size(), 1u);
}

TEST_F(MSCmdTest, HourAndMinuteRepliesNeedTheExactLength)
{
    Bytes hours(24);
    for (int i = 0; i < 24; ++i)
        hours[i] = static_cast<BYTE>(i);
    Unreliable(9, Cat({ReplyHeader(21), U32(9), U32(20240307), hours}));
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].byEvent, MS_EVENT_REC_HOUR);
    EXPECT_EQ(g_vecEvents[0].vecValues, (std::vector<DWORD>{9, 20240307}));
    EXPECT_EQ(g_vecEvents[0].bytes, hours);
    Unreliable(9, Cat({ReplyHeader(21), U32(9), U32(20240307), hours, {0}}));
    Unreliable(9, Cat({ReplyHeader(21), U32(9), U32(20240307), Bytes(23, 0)}));

    Bytes minutes(60, 1);
    minutes[59] = 3;
    Unreliable(9, Cat({ReplyHeader(23), U32(9), U32(20240307), U32(13), minutes}));
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(g_vecEvents[1].byEvent, MS_EVENT_REC_MINUTE);
    EXPECT_EQ(g_vecEvents[1].vecValues, (std::vector<DWORD>{9, 20240307, 13}));
    EXPECT_EQ(g_vecEvents[1].bytes, minutes);
    Unreliable(9, Cat({ReplyHeader(23), U32(9), U32(20240307), U32(13), Bytes(59, 0)}));
    Unreliable(9, Cat({ReplyHeader(23), U32(9), U32(20240307), U32(13), minutes, {0}}));
    EXPECT_EQ(g_vecEvents.size(), 2u);
}

TEST_F(MSCmdTest, TimeRangesCarryTheVersion)
{
    Unreliable(9, Cat({ReplyHeader(19, 4), U32(1), U32(77), U32(1000), U32(2000)}));
    ASSERT_EQ(g_vecEvents.size(), 1u);
    EXPECT_EQ(g_vecEvents[0].byEvent, MS_EVENT_REC_TIME);
    EXPECT_EQ(g_vecEvents[0].wParam, 4u);
    EXPECT_EQ(g_vecEvents[0].vecValues, (std::vector<DWORD>{1, 77, 1000, 2000}));
    EXPECT_TRUE(Traced("ipcam6: CMSCmd::OnGetRecTimeResponse id 77"));

    Unreliable(9, Cat({ReplyHeader(19, 2), U32(0)})); // empty list
    ASSERT_EQ(g_vecEvents.size(), 2u);
    EXPECT_EQ(g_vecEvents[1].vecValues, (std::vector<DWORD>{0}));
    EXPECT_EQ(g_vecEvents[1].wParam, 2u);

    Unreliable(9, Cat({ReplyHeader(19), U32(1), U32(77), U32(1000)}));
    Unreliable(9, Cat({ReplyHeader(19), U32(0), {0}}));
    EXPECT_EQ(g_vecEvents.size(), 2u);
}

TEST_F(MSCmdTest, ForeignAndShortPacketsRaiseNothing)
{
    Bytes other = ReplyHeader(0x40);
    other[0] = 0x90;
    Unreliable(9, other);
    const Bytes header = ReplyHeader(0x40);
    Unreliable(9, Bytes(header.begin(), header.begin() + 15));
    Unreliable(9, Cat({ReplyHeader(0x7F), U32(1)})); // unknown code
    Unreliable(9, Cat({ReplyHeader(0x22), U32(1)})); // shorter than the reader needs
    EXPECT_TRUE(g_vecEvents.empty());
    EXPECT_TRUE(Traced("Receive command: size of packet is too small"));
}

} // namespace
