// Replies and online replies: what each becomes, and what a reply cut short leaves behind.
#include "test_viewer_support.h"

#include <cstring>

using namespace viewertest;

namespace {

class ViewerReplyTest : public ViewerTest {
protected:
    // The events of one code raised by one reply.
    std::vector<Event> ReplyEvents(std::uint8_t byCode, const Bytes& body, BYTE byEvent)
    {
        m_events.clear();
        Reply(byCode, body);
        std::vector<Event> out;
        for (const Event& e : m_events) {
            if (e.byCode == byEvent)
                out.push_back(e);
        }
        return out;
    }
    // Events of one code with a copy of the stack record each carried.
    template <typename T>
    std::vector<std::pair<Event, T>> Capture(std::uint8_t byCode, const Bytes& body, BYTE byEvent)
    {
        std::vector<std::pair<Event, T>> out;
        m_onEvent = [&](const Event& e) {
            if (e.byCode == byEvent)
                out.push_back({e, *reinterpret_cast<const T*>(e.lParam)});
        };
        Reply(byCode, body);
        m_onEvent = nullptr;
        return out;
    }
};

template <typename T> const T& Rec(const Event& e);

Bytes Online(DWORD dwCode, std::initializer_list<DWORD> words)
{
    Bytes b = Hex("50 02 00 00");
    Put32(b, dwCode);
    for (DWORD w : words)
        Put32(b, w);
    return b;
}

template <typename T> const T& Rec(const Event& e)
{
    return *reinterpret_cast<const T*>(e.lParam);
}

// Replies whose whole content fits the event: the body, the event and a check of it; a body
// cut anywhere before nMin bytes raises nothing.
struct SimpleCase {
    const char* name;
    std::uint8_t code;
    Bytes body;
    std::size_t nMin;
    BYTE event;
    std::function<void(const Event&)> check;
};

TEST_F(ViewerReplyTest, SimpleRepliesAndTheirCutForms)
{
    const auto Value = [](LPARAM lExpected) {
        return [lExpected](const Event& e) {
            EXPECT_EQ(e.wParam, kCameraID);
            EXPECT_EQ(e.lParam, lExpected);
        };
    };
    Bytes a9 = Hex("00000001 0203");
    PutBytes(a9, Bytes(16, 0x10));
    PutBytes(a9, Hex("0405 0607 08 00000009 0A"));
    Bytes version;
    PutText(version, "first", 16);
    PutText(version, "V2.1.0", 16);
    const SimpleCase cases[] = {
        {"start video, full", 0xC1, Hex("00000000 00000005 01"), 4, VIEWER_EVT_START_VIDEO,
         [](const Event& e) {
             EXPECT_EQ(e.wParam, 0u);
             const auto& r = Rec<StartVideoReply>(e);
             EXPECT_EQ(r.dwID, kCameraID);
             EXPECT_EQ(r.dwStatus, 0u);
             EXPECT_EQ(r.dwValue, 5u);
             EXPECT_EQ(r.bFlag, 1);
         }},
        {"start video, status only", 0xC1, Hex("00000003"), 4, VIEWER_EVT_START_VIDEO,
         [](const Event& e) {
             const auto& r = Rec<StartVideoReply>(e);
             EXPECT_EQ(r.dwStatus, 3u);
             EXPECT_EQ(r.dwValue, 2u);
             EXPECT_EQ(r.bFlag, 0);
         }},
        {"set name", 0x84, {}, 0, VIEWER_EVT_SET_NAME, Value(0)},
        {"0x8E", 0x8E, Hex("05"), 1, VIEWER_EVT_REPORT_8E, Value(5)},
        {"0x8F", 0x8F, Hex("06"), 1, VIEWER_EVT_REPORT_8F, Value(6)},
        {"D-server link, sign-extended", 0x90, Hex("FF"), 1, VIEWER_EVT_DSERVER_LINK, Value(-1)},
        {"set password", 0x86, Hex("00000001"), 4, VIEWER_EVT_SET_PASSWORD, Value(1)},
        {"0x43", 0x43, Hex("12345678"), 4, VIEWER_EVT_REPORT_43, Value(0x12345678)},
        {"version", 0x89, version, 32, VIEWER_EVT_VERSION,
         [](const Event& e) {
             EXPECT_EQ(e.wParam, kCameraID);
             const auto& r = Rec<VersionInfo>(e);
             EXPECT_EQ(std::string(r.szVersion, 6), "V2.1.0");
             EXPECT_EQ(std::string(r.szOther, 5), "first");
         }},
        {"D-server state", 0x91, {}, 0, VIEWER_EVT_DSERVER_STATE, Value(0)},
        {"0x97", 0x97, Hex("1234"), 2, VIEWER_EVT_REPORT_97, Value(0x1234)},
        {"0x72 with its ninth byte", 0x72, Hex("AB 00 00 00 34 12 00 00 CD"), 8, VIEWER_EVT_REPORT_72,
         Value(0x1234ABCD)},
        {"0x72 of eight bytes", 0x72, Hex("AB 00 00 00 34 12 FF FF"), 8, VIEWER_EVT_REPORT_72,
         Value(0x1234AB00)},
        {"set NTP", 0x9D, {}, 0, VIEWER_EVT_SET_NTP, Value(0)},
        {"0x9E", 0x9E, {}, 0, VIEWER_EVT_REPORT_9E, Value(0)},
        {"video sequence", 0xA6, {}, 0, VIEWER_EVT_VIDEO_SEQUENCE, Value(0)},
        {"0xB6", 0xB6, Hex("09"), 1, VIEWER_EVT_REPORT_B6, Value(9)},
        {"SD record state", 0xC9, Hex("00000002"), 4, VIEWER_EVT_SD_RECORD_STATE, Value(2)},
        {"set mail", 0x98, Hex("01"), 1, VIEWER_EVT_SET_MAIL, Value(1)},
        {"0xCC", 0xCC, Hex("00000001 0002"), 6, VIEWER_EVT_REPORT_CC,
         [](const Event& e) {
             EXPECT_EQ(Rec<ValueAndWordReport>(e).dwValue, 1u);
             EXPECT_EQ(Rec<ValueAndWordReport>(e).usValue, 2);
         }},
        {"0xB3", 0xB3, Hex("00000003 0004"), 6, VIEWER_EVT_REPORT_B3,
         [](const Event& e) { EXPECT_EQ(Rec<ValueAndWordReport>(e).usValue, 4); }},
        {"0xB5", 0xB5, Hex("00000001 0A0B0C"), 7, VIEWER_EVT_REPORT_B5,
         [](const Event& e) { EXPECT_EQ(Rec<ValueAndThreeBytesReport>(e).abValue[2], 0x0C); }},
        {"0xAD", 0xAD, Hex("0102"), 2, VIEWER_EVT_REPORT_AD,
         [](const Event& e) { EXPECT_EQ(Rec<TwoByteReport>(e).abValue[1], 2); }},
        {"dome", 0xDA, Hex("05 2580"), 3, VIEWER_EVT_DOME,
         [](const Event& e) {
             EXPECT_EQ(Rec<DomeReply>(e).byValue, 5);
             EXPECT_EQ(Rec<DomeReply>(e).usValue, 9600);
         }},
        {"camera port", 0xB2, Hex("00000001 0050 1F90 0000"), 10, VIEWER_EVT_PORT,
         [](const Event& e) {
             EXPECT_EQ(e.wParam, kCameraID);
             const auto& r = Rec<PortInfo>(e);
             EXPECT_EQ(r.dwValue, 1u);
             EXPECT_EQ(r.usPort1, 80);
             EXPECT_EQ(r.usPort2, 8080);
             EXPECT_EQ(r.usPort3, 0);
         }},
        {"SD information", 0xC5, Hex("00001000 00000800 00000700 01"), 13, VIEWER_EVT_SD_INFO,
         [](const Event& e) {
             const auto& r = Rec<SDInfo>(e);
             EXPECT_EQ(r.dwCapacity, 0x1000u);
             EXPECT_EQ(r.dwRecorded, 0x800u);
             EXPECT_EQ(r.dwRemaining, 0x700u);
             EXPECT_EQ(r.byState, 1);
         }},
        {"0xA9 full", 0xA9, a9, 26, VIEWER_EVT_REPORT_A9,
         [](const Event& e) {
             const auto& r = Rec<ReportA9Info>(e);
             EXPECT_EQ(r.usValue, 0x0607);
             EXPECT_EQ(r.byOptional1, 8);
             EXPECT_EQ(r.dwOptional, 9u);
             EXPECT_EQ(r.byOptional2, 10);
         }},
        {"0xA9 without the tail", 0xA9, Bytes(a9.begin(), a9.begin() + 26), 26, VIEWER_EVT_REPORT_A9,
         [](const Event& e) {
             const auto& r = Rec<ReportA9Info>(e);
             EXPECT_EQ(r.usValue, 0x0607);
             EXPECT_EQ(r.byOptional1, 0);
             EXPECT_EQ(r.dwOptional, 0u);
         }},
    };
    for (const SimpleCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Stack records live only during the event: check them there.
        int nChecked = 0;
        m_onEvent = [&](const Event& e) {
            if (e.byCode == c.event) {
                c.check(e);
                ++nChecked;
            }
        };
        Reply(c.code, c.body);
        m_onEvent = nullptr;
        EXPECT_EQ(nChecked, 1);
        for (std::size_t n = 0; n < c.nMin; ++n)
            EXPECT_TRUE(ReplyEvents(c.code, Bytes(c.body.begin(), c.body.begin() + n), c.event).empty()) << n;
    }
}

TEST_F(ViewerReplyTest, NetworkExtendCopiesWhatFitsTheRecord)
{
    Bytes body(320);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i);
    Bytes copied;
    m_onEvent = [&](const Event& e) {
        const auto& r = Rec<NetworkExtendInfo>(e);
        copied.assign(r.abData, r.abData + sizeof(r.abData));
    };
    Reply(0xAB, body);
    EXPECT_EQ(copied, body);
    body.push_back(0xFF);
    Reply(0xAB, body);
    EXPECT_EQ(copied, Bytes(320, 0));
    EXPECT_EQ(EventsOf(VIEWER_EVT_NETWORK_EXTEND).size(), 2u);
}

TEST_F(ViewerReplyTest, NasWriteResultIsAcceptedSilently)
{
    Reply(0x92, Hex("01"));
    EXPECT_TRUE(m_events.empty());
}

TEST_F(ViewerReplyTest, PerCameraReportsAreKeptAndUpdatedInPlace)
{
    Bytes r9f = Hex("03 02001E0C 0050 00000007");
    PutBytes(r9f, Bytes(16, 0x66));
    auto events = ReplyEvents(0x9F, r9f, VIEWER_EVT_REPORT_9F);
    ASSERT_EQ(events.size(), 1u);
    const Report9FInfo* p9F = m_pEngine->GetReport9F(kCameraID);
    ASSERT_NE(p9F, nullptr);
    EXPECT_EQ(events[0].lParam, reinterpret_cast<LPARAM>(p9F));
    EXPECT_EQ(p9F->bBit0, 1);
    EXPECT_EQ(p9F->byRest, 1);
    EXPECT_EQ(p9F->dwSessionMode, 0x02001E0Cu);
    EXPECT_EQ(p9F->usValue, 0x50);
    EXPECT_EQ(p9F->dwValue, 7u);
    EXPECT_EQ(p9F->byOptional, 0);
    r9f.push_back(0x09);
    ReplyEvents(0x9F, r9f, VIEWER_EVT_REPORT_9F);
    EXPECT_EQ(m_pEngine->GetReport9F(kCameraID), p9F);
    EXPECT_EQ(p9F->byOptional, 9);

    ReplyEvents(0xCD, Hex("0102"), VIEWER_EVT_REPORT_CD);
    ASSERT_NE(m_pEngine->GetReportCD(kCameraID), nullptr);
    EXPECT_EQ(m_pEngine->GetReportCD(kCameraID)->abValue[1], 2);

    ReplyEvents(0xA2, Hex("0A0B0C"), VIEWER_EVT_REPORT_A2);
    ASSERT_NE(m_pEngine->GetReportA2(kCameraID), nullptr);
    EXPECT_EQ(m_pEngine->GetReportA2(kCameraID)->dwLength, 3u);
    EXPECT_EQ(m_pEngine->GetReportA2(kCameraID)->abData[2], 0x0C);

    events = ReplyEvents(0xCB, Hex("01 02 03 A5 0010 0020"), VIEWER_EVT_UPNP);
    ASSERT_EQ(events.size(), 1u);
    const UpnpInfo& upnp = Rec<UpnpInfo>(events[0]);
    EXPECT_EQ(&upnp, m_pEngine->GetUpnpInfo(kCameraID));
    EXPECT_EQ(upnp.abValue[2], 3);
    EXPECT_EQ(upnp.byLow, 5);
    EXPECT_EQ(upnp.byHigh, 0xA);
    EXPECT_EQ(upnp.usValue2, 0x20);
    // Another camera gets a record of its own.
    Reply(0xCB, Hex("09 09 09 09 0009 0009"), 0x99);
    EXPECT_NE(m_pEngine->GetUpnpInfo(0x99), &upnp);
    EXPECT_EQ(upnp.usValue2, 0x20);
}

Bytes NtpBody(bool bWithDst)
{
    Bytes b = Hex("0001 FFC4");
    PutText(b, "0", 32);
    if (bWithDst)
        PutBytes(b, Hex("01 00021F03 00031B0A 02070303 0307030A 01"));
    return b;
}

TEST_F(ViewerReplyTest, NtpReplyMayStopAfterTheServerName)
{
    auto events = ReplyEvents(0x9C, NtpBody(true), VIEWER_EVT_NTP);
    ASSERT_EQ(events.size(), 1u);
    const NtpInfo* p = m_pEngine->GetNtpInfo(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(events[0].lParam, reinterpret_cast<LPARAM>(p));
    EXPECT_EQ(p->usNtpSync, 1);
    EXPECT_EQ(p->nTimeZone, -60);
    EXPECT_STREQ(p->szNtpServer, "0");
    EXPECT_EQ(p->byDstMode, 1);
    EXPECT_EQ(p->dwMode2End, 0x0307030Au);
    EXPECT_EQ(p->byFinal, 1);

    Bytes shortBody = NtpBody(false);
    shortBody[1] = 0; // synchronisation off
    ASSERT_EQ(ReplyEvents(0x9C, shortBody, VIEWER_EVT_NTP).size(), 1u);
    EXPECT_EQ(p->usNtpSync, 0);
    EXPECT_EQ(p->byDstMode, 1);
    EXPECT_EQ(p->dwMode1Start, 0x00021F03u);

    // Cut inside the daylight-saving part: what was read stays, nothing is raised.
    Bytes cut = NtpBody(true);
    cut[36] = 2;
    cut.resize(36 + 1 + 4 + 2);
    EXPECT_TRUE(ReplyEvents(0x9C, cut, VIEWER_EVT_NTP).empty());
    EXPECT_EQ(p->byDstMode, 2);
    for (std::size_t n = 0; n < 36; ++n)
        EXPECT_TRUE(
            ReplyEvents(0x9C, Bytes(shortBody.begin(), shortBody.begin() + n), VIEWER_EVT_NTP).empty());
}

Bytes SdReplyBody()
{
    Bytes b = Hex("0A0B0C0D 0C 0D 010203 040506 07 08090A0B");
    for (int i = 0; i < 24; ++i)
        Put8(b, 0x20 + i);
    PutBytes(b, Hex("4142434445 46 02001E0C"));
    return b;
}

TEST_F(ViewerReplyTest, SdRecordingReplyAndTheOperationResult)
{
    g_nDebugLevel = 4;
    const Bytes body = SdReplyBody();
    ASSERT_EQ(body.size(), 51u);
    auto events = ReplyEvents(0xA4, body, VIEWER_EVT_RECORD_SD);
    ASSERT_EQ(events.size(), 1u);
    const RecordInfo* p = m_pEngine->GetRecordSD(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(events[0].lParam, reinterpret_cast<LPARAM>(p));
    EXPECT_EQ(p->dwValueA, 0x0A0B0C0Du);
    EXPECT_EQ(p->byC, 0x0C);
    EXPECT_EQ(p->byD, 0x0D);
    EXPECT_EQ(p->abSingle[2], 3);
    EXPECT_EQ(p->abThree[0], 4);
    EXPECT_EQ(p->byOne, 7);
    EXPECT_EQ(p->abFour[3], 0x0B);
    EXPECT_EQ(p->abSchedule[23], 0x37);
    EXPECT_EQ(p->abTrailing[4], 0x45);
    EXPECT_EQ(p->byTrailingLast, 0x46);
    EXPECT_EQ(p->dwSessionMode, 0x02001E0Cu);
    EXPECT_NE(
        ReadLog().find("CEngCmd::ResCmd_GetRecordInfo: id:287454020, dwSessionMode:33562124, usBitrate:512"),
        std::string::npos);

    events = ReplyEvents(0xA7, Hex("05"), VIEWER_EVT_SD_OPERATION);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].lParam, reinterpret_cast<LPARAM>(p));
    EXPECT_EQ(p->byTrailingLast, 5);
    EXPECT_EQ(p->abTrailing[4], 0x45);
    EXPECT_EQ(p->dwSessionMode, 0x02001E0Cu);

    // A reply cut after byte D keeps the new A, C and D and the old rest.
    Bytes cut = body;
    cut[0] = 0x7F;
    cut[5] = 0x0E;
    cut.resize(8);
    EXPECT_TRUE(ReplyEvents(0xA4, cut, VIEWER_EVT_RECORD_SD).empty());
    EXPECT_EQ(p->dwValueA, 0x7F0B0C0Du);
    EXPECT_EQ(p->byD, 0x0E);
    EXPECT_EQ(p->abSingle[2], 3);
}

TEST_F(ViewerReplyTest, NasRecordingReplyHasItsOwnLayout)
{
    Bytes body = Hex("0A0B0C0D BBBBBBBB 0C");
    PutText(body, "//nas/rec", 32);
    PutText(body, "user", 16);
    PutText(body, "0123456789abcdef", 16); // a password that fills its field
    PutBytes(body, Hex("010203 040506 07 08090A0B"));
    for (int i = 0; i < 24; ++i)
        Put8(body, 0x20 + i);
    PutBytes(body, Hex("4142434445 46 0D 02001E0C"));
    ASSERT_EQ(body.size(), 119u);
    auto events = ReplyEvents(0x93, body, VIEWER_EVT_RECORD_NAS);
    ASSERT_EQ(events.size(), 1u);
    const RecordInfo* p = m_pEngine->GetRecordNas(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(m_pEngine->GetRecordSD(kCameraID), nullptr);
    EXPECT_EQ(p->dwValueB, 0xBBBBBBBBu);
    EXPECT_STREQ(p->szNasPath, "//nas/rec");
    EXPECT_STREQ(p->szNasAccount, "user");
    EXPECT_STREQ(p->szNasPassword, "0123456789abcdef");
    EXPECT_EQ(p->byTrailingLast, 0x46);
    EXPECT_EQ(p->byD, 0x0D);
    EXPECT_EQ(p->dwSessionMode, 0x02001E0Cu);
    for (std::size_t n : {0, 4, 8, 9, 41, 57, 73, 118})
        EXPECT_TRUE(ReplyEvents(0x93, Bytes(body.begin(), body.begin() + n), VIEWER_EVT_RECORD_NAS).empty())
            << n;
}

Bytes MailBody(const std::string& sender, int nCount, int nPresent)
{
    Bytes b;
    PutText(b, "smtp.example.com", 64);
    PutText(b, "", 64);
    Put8(b, 0x19);
    PutText(b, sender, 64);
    PutText(b, "second", 64);
    Put8(b, 0x25); // flags 0 and 2, and "16 or more"
    PutText(b, "user", 128);
    PutText(b, "secret", 64);
    PutText(b, std::string(256, 'm'), 256); // a message that fills its field
    Put8(b, static_cast<std::uint32_t>(nCount));
    for (int i = 0; i < nPresent; ++i)
        PutText(b, std::string(1, static_cast<char>('a' + i)) + "@example.com", 64);
    return b;
}

TEST_F(ViewerReplyTest, MailReplyKeepsFiveRecipientsAndReplacesThePlaceholderSender)
{
    auto events = ReplyEvents(0x99, MailBody("MDSENDER", 7, 7), VIEWER_EVT_MAIL);
    ASSERT_EQ(events.size(), 1u);
    const MailInfo* p = m_pEngine->GetMailInfo(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(events[0].lParam, reinterpret_cast<LPARAM>(p));
    EXPECT_STREQ(p->szServer, "smtp.example.com");
    EXPECT_EQ(p->byValue, 0x19);
    EXPECT_STREQ(p->szSender, CEngCmd::GetDefaultMailSender());
    EXPECT_STRNE(p->szSender, "MDSENDER");
    EXPECT_STREQ(p->szSender2, "second");
    EXPECT_EQ(Bytes(p->abFlag, p->abFlag + 5), Bytes({1, 0, 1, 0, 1}));
    EXPECT_EQ(std::string(p->szMessage), std::string(256, 'm'));
    EXPECT_EQ(p->nRecipients, 7);
    EXPECT_STREQ(p->aszRecipient[4], "e@example.com");

    ReplyEvents(0x99, MailBody("alarm@cam.example", 2, 2), VIEWER_EVT_MAIL);
    EXPECT_STREQ(p->szSender, "alarm@cam.example");
    EXPECT_EQ(p->nRecipients, 2);
    // A negative count reads no recipient; what is left of the record stays.
    EXPECT_EQ(ReplyEvents(0x99, MailBody("x", -3, 0), VIEWER_EVT_MAIL).size(), 1u);
    EXPECT_STREQ(p->aszRecipient[1], "b@example.com");
    // Five announced, three present: cut short.
    EXPECT_TRUE(ReplyEvents(0x99, MailBody("mdsender", 5, 3), VIEWER_EVT_MAIL).empty());
    EXPECT_STREQ(p->szSender, "mdsender");
}

TEST_F(ViewerReplyTest, DoReplyOfOneByteSetsOnlyTheOutputFlags)
{
    g_nDebugLevel = 4;
    ASSERT_EQ(ReplyEvents(0x9B, Hex("05 0A"), VIEWER_EVT_DO).size(), 1u);
    const DoInfo* p = m_pEngine->GetDoInfo(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p->abDo, p->abDo + 4), Bytes({1, 0, 1, 0}));
    EXPECT_EQ(Bytes(p->abSms, p->abSms + 4), Bytes({0, 1, 0, 1}));
    ASSERT_EQ(ReplyEvents(0x9B, Hex("08"), VIEWER_EVT_DO).size(), 1u);
    EXPECT_EQ(Bytes(p->abDo, p->abDo + 4), Bytes({0, 0, 0, 1}));
    EXPECT_EQ(Bytes(p->abSms, p->abSms + 4), Bytes({0, 1, 0, 1}));
    EXPECT_NE(ReadLog().find("CEngCmd::ResCmd_GetDoInfo: pNotify->nSize:1"), std::string::npos);
    EXPECT_TRUE(ReplyEvents(0x9B, {}, VIEWER_EVT_DO).empty());
}

TEST_F(ViewerReplyTest, AutoScanScheduleReply)
{
    AutoScanSchedule seen{};
    m_onEvent = [&](const Event& e) {
        if (e.byCode == VIEWER_EVT_AUTOSCAN_SCHEDULE) {
            EXPECT_EQ(e.wParam, kCameraID);
            seen = Rec<AutoScanSchedule>(e);
        }
    };
    Reply(0xAF, Hex("01 FF FF FF"));
    EXPECT_EQ(seen.byOperation, 1);
    EXPECT_EQ(seen.byValue, 0);

    Bytes body = Hex("00 07 04 02 04 446F6F72 0C 01 58 05 46");
    PutBytes(body, Bytes(70, 'n'));
    PutBytes(body, Hex("00 00 03 01 00000100 00000200 0C 00000300 00000400 00 00000001 00000002"));
    Reply(0xAF, body);
    EXPECT_EQ(seen.byOperation, 0);
    EXPECT_EQ(seen.byValue, 7);
    EXPECT_EQ(seen.byNamedCount, 4);
    EXPECT_EQ(seen.aEntry[2].byNumber, 2);
    EXPECT_EQ(std::string(seen.aEntry[2].szName, 4), "Door");
    // Number 12 has no slot; it is read past and the rest stays in step.
    EXPECT_EQ(seen.aEntry[5].byNameLen, 64);
    EXPECT_EQ(seen.aEntry[5].szName[63], 'n');
    EXPECT_EQ(seen.aEntry[0].byNameLen, 0);
    EXPECT_EQ(seen.byPeriodCount, 3);
    EXPECT_EQ(seen.aPeriod[0].dwNumber, 1u);
    EXPECT_EQ(seen.aPeriod[0].dwEnd, 0x200u);
    EXPECT_EQ(seen.aPeriod[1].dwNumber, 9u);
    EXPECT_EQ(seen.aPeriod[2].dwStart, 1u);
    EXPECT_EQ(EventsOf(VIEWER_EVT_AUTOSCAN_SCHEDULE).size(), 2u);
    for (std::size_t n : {0, 1, 2, 3, 8, 12, 100})
        EXPECT_TRUE(
            ReplyEvents(0xAF, Bytes(body.begin(), body.begin() + n), VIEWER_EVT_AUTOSCAN_SCHEDULE).empty())
            << n;
}

// --- Online replies ---

TEST_F(ViewerReplyTest, MotionReplyAppliesItsDefaults)
{
    auto events =
        ReplyEvents(8, Online(ONLINE_MOTION, {0x00000002, 0x04030201, 0x08070605, 0x0C0B0A09, 0xA4633200}),
                    VIEWER_EVT_MOTION);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, 0u);
    const MotionInfo* p = m_pEngine->GetMotionInfo(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(events[0].lParam, reinterpret_cast<LPARAM>(p));
    EXPECT_EQ(p->bThreshold, 10);
    EXPECT_EQ(p->region[1].bLeft, 5);
    EXPECT_EQ(p->region[1].bBottom, 8);
    // Sensitivities 0x00 and 0x32 (50) are out of range, 0x63 (99) is kept.
    EXPECT_EQ(p->region[0].bSensitivity, 89);
    EXPECT_EQ(p->region[1].bSensitivity, 89);
    EXPECT_EQ(p->region[2].bSensitivity, 99);
    // 0xA4: bits 26 and 29, 31.
    EXPECT_EQ(p->region[0].bEnable, 0);
    EXPECT_EQ(p->region[1].bEnable, 1);
    EXPECT_EQ(p->region[2].bEnable, 0);
    EXPECT_EQ(Bytes(p->abFlag, p->abFlag + 3), Bytes({1, 0, 1}));
    ReplyEvents(8, Online(ONLINE_MOTION, {0x3C000000, 0, 0, 0, 0x003C3C3C}), VIEWER_EVT_MOTION);
    EXPECT_EQ(p->bThreshold, 60);
    EXPECT_EQ(p->region[0].bSensitivity, 60);
}

TEST_F(ViewerReplyTest, OnlineReportsAndTheirEventParameters)
{
    auto events =
        ReplyEvents(8, Online(ONLINE_VOLUME, {0x0000C9A7, 0xFFFFFFFF, 0x00000003}), VIEWER_EVT_VOLUME);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, 0u);
    const VolumeInfo& vol = Rec<VolumeInfo>(events[0]);
    EXPECT_EQ(vol.dwID, kCameraID);
    EXPECT_EQ(vol.bSpkEnable, 1);
    EXPECT_EQ(vol.bVolSpeaker, 0x53);
    EXPECT_EQ(vol.bMicEnable, 1);
    EXPECT_EQ(vol.bVolMicrophone, 0x64);
    EXPECT_EQ(vol.bMicrophoneType, 3);

    events = ReplyEvents(8, Online(ONLINE_TIME_FORMAT, {0, 1}), VIEWER_EVT_TIME_FORMAT);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, 1u);
    EXPECT_EQ(events[0].lParam, static_cast<LPARAM>(kCameraID));

    AlarmTimeInfo alarm{};
    m_onEvent = [&](const Event& e) {
        if (e.byCode == VIEWER_EVT_ALARM_TIME)
            alarm = *reinterpret_cast<const AlarmTimeInfo*>(e.wParam);
    };
    events = ReplyEvents(8, Online(ONLINE_ALARM_TIME, {0, 1, 0x1E121E08}), VIEWER_EVT_ALARM_TIME);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].lParam, static_cast<LPARAM>(kCameraID));
    EXPECT_EQ(alarm.dwEnable, 1u);
    EXPECT_EQ(alarm.dwPeriod, 0x1E121E08u);
    m_onEvent = nullptr;

    events = ReplyEvents(8, Online(ONLINE_AUTOSCAN_STATE, {1}), VIEWER_EVT_AUTOSCAN_STATE);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, 1u);
    EXPECT_EQ(events[0].lParam, static_cast<LPARAM>(kCameraID));

    events = ReplyEvents(8, Online(ONLINE_REPORT_80000040, {9, 0x44}), VIEWER_EVT_REPORT_80000040);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, 0x44u);

    const auto three =
        Capture<ThreeValueReport>(8, Online(ONLINE_THREE_VALUES, {1, 2, 3}), VIEWER_EVT_THREE_VALUES);
    ASSERT_EQ(three.size(), 1u);
    EXPECT_EQ(three[0].first.wParam, kCameraID);
    EXPECT_EQ(three[0].second.adwValue[2], 3u);

    events = ReplyEvents(8, Online(ONLINE_SENSOR_REPORT, {9, 0x22, 0x33}), VIEWER_EVT_SENSOR_REPORT);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, 0u);
    EXPECT_EQ(Rec<SensorReportInfo>(events[0]).dwWord3, 0x33u);
    EXPECT_EQ(&Rec<SensorReportInfo>(events[0]), m_pEngine->GetSensorReport(kCameraID));

    events = ReplyEvents(8, Online(ONLINE_SENSOR_T9QX, {1, 2, 3, 4, 5}), VIEWER_EVT_SENSOR_T9QX);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Rec<SensorT9QXInfo>(events[0]).adwWord[4], 5u);
    EXPECT_EQ(Rec<SensorT9QXInfo>(events[0]).adwWord[5], 0u);

    // Every report with a mandatory word raises nothing when the word is missing.
    for (DWORD dwCode :
         {ONLINE_VOLUME, ONLINE_TIME_FORMAT, ONLINE_ALARM_TIME, ONLINE_AUTOSCAN_STATE, ONLINE_REPORT_80000040,
          ONLINE_THREE_VALUES, ONLINE_SENSOR_REPORT, ONLINE_MOTION, ONLINE_SENSOR_CAP, ONLINE_VIDEO_PARAM,
          ONLINE_TALK_STATE, ONLINE_PTZ, ONLINE_RTSP, ONLINE_SNAPSHOT_SERVER}) {
        m_events.clear();
        Reply(8, Online(dwCode, {}));
        EXPECT_TRUE(m_events.empty()) << std::hex << dwCode;
    }
}

TEST_F(ViewerReplyTest, CapabilityMapsTheSensorToItsFamilyAndRoutesRegisterReports)
{
    const Bytes registers = Online(ONLINE_SENSOR_CONTROL, {0x0801, 0x12345AE, 0x11, 0x22, 0x33});
    // Without a capability record the family is unknown: nothing is raised.
    Reply(8, registers);
    EXPECT_TRUE(m_events.empty());

    const struct {
        DWORD sensor;
        DWORD family;
        int event;
    } cases[] = {{1, 1, VIEWER_EVT_SENSOR_9900},
                 {2, 2, VIEWER_EVT_SENSOR_9P031},
                 {3, 3, VIEWER_EVT_SENSOR_9P031},
                 {9, 0, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sensor);
        const DWORD dwWord2 = 0xAB000000 | (c.sensor << 19) | 0x70000 | 0xFF5;
        auto events = ReplyEvents(8, Online(ONLINE_SENSOR_CAP, {0x01020304, dwWord2, 0x00050006, 0x00070008}),
                                  VIEWER_EVT_SENSOR_CAP);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].wParam, kCameraID);
        const SensorCapInfo& cap = Rec<SensorCapInfo>(events[0]);
        EXPECT_EQ(&cap, m_pEngine->GetSensorCap(kCameraID));
        EXPECT_EQ(cap.dwCapability, 0x01020304u);
        EXPECT_EQ(cap.byCapValue, 5);
        EXPECT_EQ(cap.bCapBit3, 0);
        EXPECT_EQ(Bytes(cap.abCapFlag, cap.abCapFlag + 8), Bytes({1, 1, 1, 1, 1, 1, 1, 1}));
        EXPECT_EQ(cap.bCapBit16 + cap.bCapBit17 + cap.bCapBit18, 3);
        EXPECT_EQ(cap.dwCameraType, c.sensor);
        EXPECT_EQ(cap.dwCameraSubType, 0xABu);
        EXPECT_EQ(cap.dwCameraUIType, c.family);
        EXPECT_EQ(cap.usWord3Low, 6);
        EXPECT_EQ(cap.usWord4High, 7);

        m_events.clear();
        // The words are valid only during the delivery: copy them there.
        Bytes words;
        m_onEvent = [&words](const Event& event) {
            const auto* pWords = reinterpret_cast<const std::uint8_t*>(event.lParam);
            words.assign(pWords, pWords + 20);
        };
        Reply(8, registers);
        m_onEvent = nullptr;
        if (c.event < 0) {
            EXPECT_TRUE(m_events.empty());
            continue;
        }
        ASSERT_EQ(m_events.size(), 1u);
        EXPECT_EQ(m_events[0].byCode, c.event);
        EXPECT_EQ(m_events[0].wParam, kCameraID);
        EXPECT_EQ(words, Bytes(registers.begin() + 8, registers.end()));
    }
    // Five words are what the subscribers read; fewer is a cut reply.
    Reply(8, Online(ONLINE_SENSOR_CAP, {0, 1u << 19, 0, 0}));
    m_events.clear();
    Bytes shortRegisters = registers;
    shortRegisters.resize(shortRegisters.size() - 1);
    Reply(8, shortRegisters);
    EXPECT_TRUE(m_events.empty());
    Reply(8, registers);
    EXPECT_EQ(m_events.size(), 1u);
}

TEST_F(ViewerReplyTest, VideoParameterReportSharesTheCapabilityRecord)
{
    Reply(8, Online(ONLINE_SENSOR_CAP, {1, 1u << 19, 0, 0}));
    auto events = ReplyEvents(8, Online(ONLINE_VIDEO_PARAM, {0x44332211, 0x00550066, 0x8877BA98, 0x0003DCBA}),
                              VIEWER_EVT_VIDEO_PARAM);
    ASSERT_EQ(events.size(), 1u);
    const SensorCapInfo& cap = Rec<SensorCapInfo>(events[0]);
    EXPECT_EQ(&cap, m_pEngine->GetSensorCap(kCameraID));
    EXPECT_EQ(cap.dwCameraUIType, 1u);
    EXPECT_EQ(Bytes(cap.abVideo1, cap.abVideo1 + 5), Bytes({0x11, 0x2, 0x2, 0x33, 0x44}));
    EXPECT_EQ(Bytes(cap.abVideo2, cap.abVideo2 + 2), Bytes({0x66, 0x55}));
    EXPECT_EQ(Bytes(cap.abVideo3, cap.abVideo3 + 5), Bytes({0x8, 0x9, 0xBA, 0x77, 0x88}));
    EXPECT_EQ(Bytes(cap.abVideo4, cap.abVideo4 + 6), Bytes({0xA, 0xB, 0xC, 0xD, 1, 1}));
}

TEST_F(ViewerReplyTest, TalkStateOnlyForItsOwnSubCommand)
{
    EXPECT_TRUE(ReplyEvents(8, Online(ONLINE_TALK_STATE, {1, 0}), VIEWER_EVT_TALK_STATE).empty());
    EXPECT_EQ(m_pEngine->GetTalkInfo(kCameraID), nullptr);
    auto events = ReplyEvents(8, Online(ONLINE_TALK_STATE, {2, 0}), VIEWER_EVT_TALK_STATE);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, kCameraID);
    EXPECT_EQ(events[0].lParam, 0);
    EXPECT_EQ(m_pEngine->GetTalkInfo(kCameraID)->bTalkRefused, 1);
    ReplyEvents(8, Online(ONLINE_TALK_STATE, {2, 1}), VIEWER_EVT_TALK_STATE);
    EXPECT_EQ(m_pEngine->GetTalkInfo(kCameraID)->bTalkRefused, 0);
}

TEST_F(ViewerReplyTest, PtzReplyAndPresetList)
{
    auto events = ReplyEvents(8, Online(ONLINE_PTZ, {0x30080001}), VIEWER_EVT_PTZ);
    EXPECT_TRUE(events.empty()); // the values that sub-code announces are missing

    Bytes ptz = Online(ONLINE_PTZ, {0x30080001});
    PutBytes(ptz, Hex("07 00000011 00000022"));
    events = ReplyEvents(8, ptz, VIEWER_EVT_PTZ);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].lParam, static_cast<LPARAM>(kCameraID));
    const PresetInfo* p = m_pEngine->GetPresetInfo(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(events[0].wParam, reinterpret_cast<WPARAM>(p));
    EXPECT_EQ(p->byPtzValue, 7);
    EXPECT_EQ(p->dwPtzValue2, 0x22u);
    ASSERT_EQ(ReplyEvents(8, Online(ONLINE_PTZ, {0x20010000}), VIEWER_EVT_PTZ).size(), 1u);
    EXPECT_EQ(p->dwSubCode, 0x20010000u);
    EXPECT_EQ(p->dwPtzValue2, 0x22u);

    // Kind 15: header 0x0A, name length 16, three entries.
    const auto List = [](bool bNamed97) {
        Bytes b = Hex("50 0F 00 00 0A100003 00000001");
        PutText(b, "Door", 16);
        Put32(b, 97);
        if (bNamed97)
            PutText(b, "Home", 16);
        Put32(b, 5);
        PutText(b, "Yard", 16);
        return b;
    };
    events = ReplyEvents(8, List(true), VIEWER_EVT_PRESET);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].wParam, reinterpret_cast<WPARAM>(p));
    EXPECT_EQ(events[0].lParam, static_cast<LPARAM>(kCameraID));
    EXPECT_EQ(p->byHeaderHigh, 0x0A);
    EXPECT_EQ(p->byNameLen, 16);
    EXPECT_EQ(p->usCount, 3);
    EXPECT_EQ(p->mapPresets, (std::map<DWORD, std::string>{{1, "Door"}, {5, "Yard"}, {97, "Home"}}));

    // For the marked group, preset 97 carries no name; a new list replaces the old one.
    m_pEngine->SetPresetNamelessCheck([](DWORD dwID) { return dwID == kCameraID; });
    Bytes nameless = List(false);
    nameless[7] = 2; // two entries
    nameless.resize(nameless.size() - 20);
    ASSERT_EQ(ReplyEvents(8, nameless, VIEWER_EVT_PRESET).size(), 1u);
    EXPECT_EQ(p->mapPresets, (std::map<DWORD, std::string>{{1, "Door"}, {97, ""}}));
    EXPECT_TRUE(ReplyEvents(8, List(false), VIEWER_EVT_PRESET).size() == 1u);
    EXPECT_TRUE(ReplyEvents(8, Hex("50 0F 00 00 0A10"), VIEWER_EVT_PRESET).empty());
}

TEST_F(ViewerReplyTest, RtspReplyCountsOnlyForARead)
{
    g_nDebugLevel = 4;
    const DWORD dwMain = MakeSessionMode(2048, 25, 5);
    const DWORD dwSub = MakeSessionMode(256, 10, 2);
    EXPECT_TRUE(ReplyEvents(8, Online(ONLINE_RTSP, {1, 1, dwMain, dwSub}), VIEWER_EVT_RTSP).empty());
    const auto events = Capture<RtspInfo>(8, Online(ONLINE_RTSP, {0, 5, dwMain, dwSub}), VIEWER_EVT_RTSP);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first.wParam, 0u);
    const RtspInfo& r = events[0].second;
    EXPECT_EQ(r.dwID, kCameraID);
    EXPECT_EQ(r.bEnableAuthenticate, 1);
    EXPECT_EQ(r.ucMainFps, 25);
    EXPECT_EQ(r.ucMainResolution, 5);
    EXPECT_EQ(r.usMainBitrate, 2048);
    EXPECT_EQ(r.ucSubFps, 10);
    EXPECT_EQ(r.ucSubResolution, 2);
    EXPECT_EQ(r.usSubBitrate, 256);
    const std::string log = ReadLog();
    EXPECT_NE(
        log.find("CEngCmd::ResViewer_ControlRTSP 1 bEnableAuthenticate:1, ucMainFps:25, ucMainResolution:5, "
                 "usMainBitrate:2048"),
        std::string::npos);
    EXPECT_NE(log.find("CEngCmd::ResViewer_ControlRTSP 2 ucSubFps:10, ucSubResolution:2, usSubBitrate:256"),
              std::string::npos);
}

TEST_F(ViewerReplyTest, SnapshotServerReplyUnpacksItsWords)
{
    g_nDebugLevel = 3;
    Bytes body = Online(ONLINE_SNAPSHOT_SERVER, {0});
    PutBytes(body, Hex("07 29 001E C0A80164 00000015"));
    Put32(body, MakeSessionMode(512, 15, 3));
    const auto events = Capture<SnapshotServerInfo>(8, body, VIEWER_EVT_SNAPSHOT_SERVER);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first.wParam, 0u);
    const SnapshotServerInfo& s = events[0].second;
    EXPECT_EQ(s.dwID, kCameraID);
    EXPECT_EQ(s.bEnableSnapshotServer, 1);
    EXPECT_EQ(s.ucPicCount, 3);
    EXPECT_EQ(
        Bytes({s.bRegion1Send, s.bRegion2Send, s.bRegion3Send, s.bRegionDISend, s.b485Send, s.bSendInTimer}),
        Bytes({1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(s.usTimeInterval, 30);
    EXPECT_EQ(s.ulServerIP, 0xC0A80164u);
    EXPECT_EQ(s.ulServerPort, 21u);
    EXPECT_EQ(s.ucPicResolution, 3);
    const std::string log = ReadLog();
    EXPECT_NE(log.find("CEngCmd::ResViewer_ControlSnapshotServer 1 dwID:11223344, ulOperation:0, ucEnable:7, "
                       "ucMode:41, usParam:30"),
              std::string::npos);
    EXPECT_NE(log.find("CEngCmd::ResViewer_ControlSnapshotServer 2 ulServerIP:c0a80164, ulServerPort:21, "
                       "ulSessionMode:2001e0c"),
              std::string::npos);
}

} // namespace
