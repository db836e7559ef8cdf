// Request bodies, byte for byte, against vectors written from the wire tables.
#include "test_viewer_support.h"

#include <cstring>

using namespace viewertest;

namespace {

class ViewerRequestTest : public ViewerTest {
protected:
    void SetUp() override
    {
        ViewerTest::SetUp();
        AddCamera();
        m_sockets.m_sent.clear();
    }
    // The one packet that the last call sent, to the camera by unicast.
    Bytes Sent()
    {
        EXPECT_EQ(m_sockets.m_sent.size(), 1u);
        if (m_sockets.m_sent.empty())
            return {};
        const SentPacket sent = m_sockets.m_sent.back();
        m_sockets.m_sent.clear();
        EXPECT_EQ(sent.dwIP, kCameraIP);
        EXPECT_EQ(sent.usPort, 8102);
        return sent.data;
    }
    static Bytes Packet(std::uint8_t byCode, const Bytes& body)
    {
        Bytes b = ClientHeader(byCode, body.size());
        PutBytes(b, body);
        return b;
    }
};

Bytes Token()
{
    return Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10");
}

RecordInfo SampleRecord()
{
    RecordInfo info{};
    for (int i = 0; i < 16; ++i)
        info.abBlock[i] = static_cast<BYTE>(0xB0 + i);
    info.dwValueA = 0x0A0B0C0D;
    info.dwValueB = 0xBBBBBBBB;
    info.byC = 0x0C;
    info.byD = 0x0D;
    std::strcpy(info.szNasPath, "//nas/rec");
    std::strcpy(info.szNasAccount, "user");
    std::strcpy(info.szNasPassword, "pw");
    const BYTE single[3] = {1, 2, 3}, three[3] = {4, 5, 6}, four[4] = {8, 9, 10, 11};
    std::memcpy(info.abSingle, single, 3);
    std::memcpy(info.abThree, three, 3);
    info.byOne = 7;
    std::memcpy(info.abFour, four, 4);
    for (int i = 0; i < 24; ++i)
        info.abSchedule[i] = static_cast<BYTE>(0x20 + i);
    for (int i = 0; i < 5; ++i)
        info.abTrailing[i] = static_cast<BYTE>(0x41 + i);
    info.byTrailingLast = 0x46;
    info.dwSessionMode = 0x02001E0C;
    info.byFinal = 0x99;
    return info;
}

const char* kSchedule = "20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 36 37";

TEST_F(ViewerRequestTest, FixedBodies)
{
    const Bytes token = Token();
    NtpInfo ntp{};
    ntp.usNtpSync = 1;
    ntp.nTimeZone = -300;
    std::strcpy(ntp.szNtpServer, "pool.ntp.org");
    ntp.byDstMode = 2;
    ntp.dwMode1Start = MakeDstDateWord(3, 31, 2);
    ntp.dwMode1End = MakeDstDateWord(10, 27, 3);
    ntp.dwMode2Start = MakeDstWeekdayWord(3, true, 1, 7, 2);
    ntp.dwMode2End = MakeDstWeekdayWord(10, true, 1, 7, 3);
    ntp.byFinal = 1;
    DoInfo doInfo{};
    doInfo.abDo[0] = doInfo.abDo[2] = doInfo.abDo[3] = 1;
    doInfo.abSms[1] = 1;
    const RecordInfo record = SampleRecord();
    const Bytes rtPacket = Hex("B0 41 00 01 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 01");

    struct Case {
        const char* name;
        std::function<int(CEngCmd&)> send;
        std::uint8_t code;
        Bytes body;
    };
    const Case cases[] = {
        {"start live", [&](CEngCmd& e) { return e.Cmd_StartVideo(kCameraID, token.data(), 0, FALSE); }, 65,
         Hex("0102030405060708090A0B0C0D0E0F10 C6120002 1FA7 00 00")},
        {"start live, flag ignored",
         [&](CEngCmd& e) { return e.Cmd_StartVideo(kCameraID, token.data(), 0, TRUE); }, 65,
         Hex("0102030405060708090A0B0C0D0E0F10 C6120002 1FA7 00 00")},
        {"start playback", [&](CEngCmd& e) { return e.Cmd_StartVideo(kCameraID, token.data(), 1, FALSE); },
         65, Hex("0102030405060708090A0B0C0D0E0F10 C6120002 1FAA 00 01")},
        {"start download", [&](CEngCmd& e) { return e.Cmd_StartVideo(kCameraID, token.data(), 1, TRUE); }, 65,
         Hex("0102030405060708090A0B0C0D0E0F10 C6120002 1FAB 00 01")},
        {"start playback 2", [&](CEngCmd& e) { return e.Cmd_StartVideo(kCameraID, token.data(), 2, FALSE); },
         65, Hex("0102030405060708090A0B0C0D0E0F10 C6120002 1FAE 00 02")},
        {"start download 2", [&](CEngCmd& e) { return e.Cmd_StartVideo(kCameraID, token.data(), 2, TRUE); },
         65, Hex("0102030405060708090A0B0C0D0E0F10 C6120002 1FAF 00 02")},
        {"stop video", [&](CEngCmd& e) { return e.Cmd_StopVideo(token.data(), kCameraID); }, 66, token},
        // "admin" -> "s3cret!", enciphered with openssl des-ecb under "admin" as typed.
        {"set password",
         [](CEngCmd& e) {
             const BYTE abOld[16] = {'a', 'd', 'm', 'i', 'n'};
             const BYTE abNew[16] = {'s', '3', 'c', 'r', 'e', 't', '!'};
             return e.Cmd_SetPassword(kCameraID, abOld, abNew);
         },
         6, Hex("B29A9B5E4BD8E48F859B4D2565602E74 1B68B7BDB6EEA9D0859B4D2565602E74")},
        {"version", [](CEngCmd& e) { return e.Cmd_GetVersion(kCameraID); }, 9, {}},
        {"D-server connect", [](CEngCmd& e) { return e.Cmd_DServerConnect(kCameraID, 1); }, 16, Hex("01")},
        {"D-server query", [](CEngCmd& e) { return e.Cmd_DServerQuery(kCameraID); }, 17, {}},
        {"UPnP disconnect", [](CEngCmd& e) { return e.Cmd_UpnpConnect(kCameraID, 0); }, 74, Hex("00")},
        {"UPnP query", [](CEngCmd& e) { return e.Cmd_UpnpQuery(kCameraID); }, 75, {}},
        {"camera port query", [](CEngCmd& e) { return e.Cmd_CameraPort(kCameraID, 1, 0); }, 50,
         Hex("0001 0000")},
        {"camera port set", [](CEngCmd& e) { return e.Cmd_CameraPort(kCameraID, 8080, 3); }, 50,
         Hex("1F90 0003")},
        {"network extend", [](CEngCmd& e) { return e.Cmd_GetNetworkExtend(kCameraID, 1); }, 43, Hex("01")},
        {"SD info", [](CEngCmd& e) { return e.Cmd_GetSDInfo(kCameraID); }, 69, {}},
        {"SD record read", [](CEngCmd& e) { return e.Cmd_GetRecordSD(kCameraID); }, 36, {}},
        {"SD record state", [](CEngCmd& e) { return e.Cmd_GetSDRecordState(kCameraID); }, 73, {}},
        {"SD operation", [](CEngCmd& e) { return e.Cmd_SDOperation(kCameraID, 2); }, 39, Hex("02")},
        {"NAS read", [](CEngCmd& e) { return e.Cmd_GetRecordNas(kCameraID); }, 19, {}},
        {"mail read", [](CEngCmd& e) { return e.Cmd_GetMail(kCameraID); }, 25, {}},
        {"DO read", [](CEngCmd& e) { return e.Cmd_GetDo(kCameraID); }, 27, {}},
        {"DO write", [&](CEngCmd& e) { return e.Cmd_SetDo(kCameraID, doInfo); }, 26, Hex("0D 02")},
        {"NTP read", [](CEngCmd& e) { return e.Cmd_GetNTP(kCameraID); }, 28, {}},
        {"NTP write", [&](CEngCmd& e) { return e.Cmd_SetNTP(kCameraID, ntp); }, 29,
         Hex("0001 FED4 706F6F6C2E6E74702E6F7267 0000000000000000000000000000000000000000 02 00021F03 "
             "00031B0A "
             "02070303 0307030A 01")},
        {"dome",
         [](CEngCmd& e) {
             return e.Cmd_SetDome(kCameraID, DomeInfo{1, 2, 9600});
         },
         106, Hex("01 02 2580")},
        {"SD record write", [&](CEngCmd& e) { return e.Cmd_SetRecordSD(kCameraID, record); }, 35,
         Hex(std::string("B0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF 0A0B0C0D 0C 0D 010203 040506 07 08090A0B ") +
             kSchedule + " 4142434445 46 02001E0C")},
        {"NAS write", [&](CEngCmd& e) { return e.Cmd_SetRecordNas(kCameraID, record); }, 18,
         Hex(std::string("B0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF 0A0B0C0D BBBBBBBB 0C") +
             " 2F2F6E61732F726563 0000000000000000000000000000000000000000000000 " // 32
             "75736572 000000000000000000000000 "                                  // 16
             "7077 0000000000000000000000000000 "                                  // 16
             "010203 040506 07 08090A0B " +
             kSchedule + " 4142434445 46 0D 02001E0C 99")},
        {"record time once",
         [&](CEngCmd& e) { return e.Cmd_RecordTimeOnce(kCameraID, rtPacket.data(), rtPacket.size()); }, 68,
         rtPacket},
        {"record time reliable",
         [&](CEngCmd& e) { return e.Cmd_RecordTimeReliable(kCameraID, 7, rtPacket.data(), rtPacket.size()); },
         89,
         [&] {
             Bytes b = Hex("00000007");
             PutBytes(b, rtPacket);
             return b;
         }()},
        {"record time ack", [](CEngCmd& e) { return e.Cmd_RecordTimeAck(kCameraID, 0x01020304); }, 217,
         Hex("01020304")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes expected = Packet(c.code, c.body);
        EXPECT_EQ(c.send(*m_pEngine), static_cast<int>(expected.size()));
        EXPECT_EQ(ToHex(Sent()), ToHex(expected));
    }
}

TEST_F(ViewerRequestTest, RequestsThatAreNotSent)
{
    const Bytes token = Token();
    const Bytes frame(121, 0x55);
    const BYTE packet[4] = {0xB0};
    EXPECT_EQ(m_pEngine->Cmd_StartVideo(kCameraID, token.data(), 3, FALSE), 0);
    EXPECT_EQ(m_pEngine->Cmd_SendAudio(kCameraID, frame.data(), 121), 0);
    EXPECT_EQ(m_pEngine->Cmd_GetSDInfo(0), 0);
    EXPECT_EQ(m_pEngine->Cmd_RecordTimeOnce(0, packet, 4), 0);
    EXPECT_EQ(m_pEngine->Cmd_RecordTimeReliable(0, 1, packet, 4), 0);
    EXPECT_EQ(m_pEngine->Cmd_RecordTimeAck(0, 1), 0);
    EXPECT_EQ(m_pEngine->Cmd_GetVersion(0x5555), 0);
    EXPECT_EQ(m_pEngine->Cmd_StartVideo(0x5555, token.data(), 0, FALSE), 0);
    EXPECT_TRUE(m_sockets.m_sent.empty());
}

TEST_F(ViewerRequestTest, AudioCarriesAWrappingSixteenBitCounter)
{
    const Bytes frame = Hex("AA BB CC");
    m_pEngine->Cmd_SendAudio(kCameraID, frame.data(), 3);
    EXPECT_EQ(Sent(), Packet(78, Hex("21 00 0000 44332211 AABBCC")));
    // A frame for a camera that is not known never leaves and takes no number.
    EXPECT_EQ(m_pEngine->Cmd_SendAudio(0x5555, frame.data(), 3), 0);
    m_pEngine->Cmd_SendAudio(kCameraID, frame.data(), 3);
    EXPECT_EQ(Sent(), Packet(78, Hex("21 00 0001 44332211 AABBCC")));
    const Bytes longest(120, 0x77);
    EXPECT_EQ(m_pEngine->Cmd_SendAudio(kCameraID, longest.data(), 120), 16 + 8 + 120);
    m_sockets.m_sent.clear();
    m_sockets.m_bRecord = false;
    while (m_pEngine->GetAudioSequence() < 0x10000)
        m_pEngine->Cmd_SendAudio(kCameraID, frame.data(), 3);
    m_sockets.m_bRecord = true;
    m_pEngine->Cmd_SendAudio(kCameraID, frame.data(), 3);
    EXPECT_EQ(Sent(), Packet(78, Hex("21 00 0000 44332211 AABBCC")));
}

TEST_F(ViewerRequestTest, NamesGoAsAnsiOrAsUtf8BehindAZero)
{
    struct Case {
        const char* name;
        int language;
        std::u16string text;
        Bytes field;
    };
    const std::u16string eleven(11, u'\u95E8');
    Bytes elevenField = {0};
    for (int i = 0; i < 10; ++i)
        PutBytes(elevenField, Hex("E9 97 A8"));
    const Case cases[] = {
        {"Western", 1033, u"Cam \u00E9", Hex("43 61 6D 20 E9")},
        {"GBK lead byte", 2052, u"\u95E8", Hex("00 E9 97 A8")},
        {"GBK plain ASCII", 2052, u"Gate", Hex("47 61 74 65")},
        {"not in the code page", 1033, u"\u95E8", Hex("00 E9 97 A8")},
        {"ANSI cut at 32", 1033, std::u16string(40, u'x'), Bytes(32, 'x')},
        {"UTF-8 cut at 31, whole characters", 2052, eleven, elevenField},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_config.m_nLanguage = c.language;
        Bytes body = c.field;
        body.resize(32, 0);
        body.push_back(7);
        m_pEngine->Cmd_SetName(kCameraID, c.text, 7);
        EXPECT_EQ(Sent(), Packet(4, body));
    }
}

TEST_F(ViewerRequestTest, MailSendsTheCountAsGivenAndAtMostFiveRecipients)
{
    MailInfo mail{};
    std::strcpy(mail.szServer, "smtp.example.com");
    mail.byValue = 0x19;
    std::strcpy(mail.szSender, "cam@example.com");
    mail.abFlag[0] = mail.abFlag[2] = mail.abFlag[4] = 1;
    std::strcpy(mail.szText1, "user");
    std::strcpy(mail.szText2, "secret");
    std::strcpy(mail.szMessage, "Alarm!");
    for (int i = 0; i < 5; ++i)
        mail.aszRecipient[i][0] = static_cast<char>('a' + i);

    for (int nCount : {2, 5, 7, -1}) {
        SCOPED_TRACE(nCount);
        mail.nRecipients = static_cast<signed char>(nCount);
        const int nWritten = nCount < 0 ? 0 : (nCount > 5 ? 5 : nCount);
        Bytes body;
        PutText(body, "smtp.example.com", 64);
        PutText(body, "", 64);
        Put8(body, 0x19);
        PutText(body, "cam@example.com", 64);
        PutText(body, "", 64);
        Put8(body, 0x15);
        PutText(body, "user", 128);
        PutText(body, "secret", 64);
        PutText(body, "Alarm!", 256);
        Put8(body, static_cast<std::uint8_t>(nCount));
        for (int i = 0; i < nWritten; ++i)
            PutText(body, std::string(1, static_cast<char>('a' + i)), 64);
        m_pEngine->Cmd_SetMail(kCameraID, mail);
        EXPECT_EQ(Sent(), Packet(24, body));
    }
}

TEST_F(ViewerRequestTest, AutoScanScheduleAlwaysSendsTenNamedEntries)
{
    AutoScanSchedule zero{};
    m_pEngine->Cmd_AutoScanSchedule(kCameraID, zero);
    EXPECT_EQ(Sent(), Packet(47, Hex("00 00 0A 0000 0100 0200 0300 0400 0500 0600 0700 0800 0900 00")));

    AutoScanSchedule schedule{};
    schedule.byOperation = 2;
    schedule.byValue = 1;
    schedule.aEntry[0].byNameLen = 4;
    std::memcpy(schedule.aEntry[0].szName, "Door", 4);
    schedule.aEntry[3].byNameLen = 70; // more than the field holds
    std::memset(schedule.aEntry[3].szName, 'n', 64);
    schedule.byPeriodCount = 2;
    schedule.aPeriod[0] = {1, 0x100, 0x200};
    schedule.aPeriod[1] = {9, 0x300, 0x400};
    m_pEngine->Cmd_AutoScanSchedule(kCameraID, schedule);
    Bytes body = Hex("02 01 0A 00 04 446F6F72 0100 0200 03 40");
    PutBytes(body, Bytes(64, 'n'));
    PutBytes(body, Hex("0400 0500 0600 0700 0800 0900 02 01 00000100 00000200 09 00000300 00000400"));
    EXPECT_EQ(Sent(), Packet(47, body));
}

struct OnlineCase {
    const char* name;
    std::function<int(CEngCmd&)> send;
    DWORD code;
    DWORD params[5];
    DWORD crc; // zlib's crc32 over the little-endian rendering, computed outside
};

TEST_F(ViewerRequestTest, OnlineCommandsWithTheirCheckValues)
{
    MotionInfo motion{};
    motion.bThreshold = 20;
    for (int i = 0; i < 3; ++i) {
        motion.region[i] = {BYTE(4 * i + 1), BYTE(4 * i + 2),   BYTE(4 * i + 3),
                            BYTE(4 * i + 4), BYTE(70 + 10 * i), 0};
    }
    motion.region[2].bEnable = 1;
    MotionInfo still = motion;
    still.region[2].bEnable = 0;

    const OnlineCase cases[] = {
        {"audio channels",
         [](CEngCmd& e) { return e.Cmd_AudioControl(kCameraID, 1, 3); },
         0x20000,
         {1, 359, 3, 0, 0},
         0x6AA259D7},
        {"video quality",
         [](CEngCmd& e) { return e.Cmd_VideoQuality(kCameraID, 5); },
         0x10000,
         {359, 5, 0, 0, 0},
         0x5F9BB8FB},
        {"quality apply", [](CEngCmd& e) { return e.Cmd_QualityApply(kCameraID); }, 0x800000, {}, 0x64A59634},
        {"video report",
         [](CEngCmd& e) { return e.Cmd_QueryVideoReport(kCameraID); },
         0x400000,
         {},
         0xE106F43C},
        {"system setting",
         [](CEngCmd& e) { return e.Cmd_SystemSetting(kCameraID, 0x12, 0x34); },
         0x10000000,
         {0x3412},
         0x960A5842},
        {"read time format",
         [](CEngCmd& e) { return e.Cmd_GetTimeFormat(kCameraID); },
         0x80000001,
         {},
         0x98DE2F7F},
        {"write time format",
         [](CEngCmd& e) { return e.Cmd_SetTimeFormat(kCameraID, 1); },
         0x80000001,
         {2, 1},
         0xFC78C862},
        {"colour",
         [](CEngCmd& e) { return e.Cmd_SetColor(kCameraID, 0x40, 0x80); },
         1,
         {0x40, 0x80},
         0xC368FF3E},
        {"microphone changed",
         [](CEngCmd& e) { return e.Cmd_MicrophoneChanged(kCameraID); },
         0x80000000,
         {},
         0x19FB4A58},
        {"read volume", [](CEngCmd& e) { return e.Cmd_GetVolume(kCameraID); }, 0x20000000, {}, 0xBC80F223},
        {"microphone off",
         [](CEngCmd& e) { return e.Cmd_SetMicrophone(kCameraID, 50, FALSE, 2); },
         0x800,
         {101, 2},
         0xA8DF91BC},
        {"microphone on",
         [](CEngCmd& e) { return e.Cmd_SetMicrophone(kCameraID, 50, TRUE, 2); },
         0x800,
         {100, 2},
         0xCDB8AAFA},
        {"capability",
         [](CEngCmd& e) { return e.Cmd_QueryCapability(kCameraID); },
         0x20,
         {0xC6120002, 3},
         0x5D11C570},
        {"system value",
         [](CEngCmd& e) { return e.Cmd_SetSystemValue(kCameraID, 7); },
         0x4000,
         {7},
         0xCFC66858},
        {"time setting",
         [](CEngCmd& e) { return e.Cmd_TimeSetting(kCameraID, 8, 9); },
         0x8000000,
         {8, 9},
         0x4E1A06E1},
        {"PTZ move",
         [](CEngCmd& e) { return e.Cmd_PTZMove(kCameraID, 0x40, 0x02, 5, 6); },
         16,
         {0x40020506},
         0xB618B6DE},
        {"PTZ release", [](CEngCmd& e) { return e.Cmd_PTZRelease(kCameraID); }, 16, {}, 0x5423A8C6},
        {"read presets", [](CEngCmd& e) { return e.Cmd_GetPreset(kCameraID); }, 16, {0x20050000}, 0x9E7AFBDB},
        {"set preset",
         [](CEngCmd& e) { return e.Cmd_SetPreset(kCameraID, 3, "Gate"); },
         16,
         {0xC0030003, 0x47617465},
         0xE8D28080},
        {"delete preset",
         [](CEngCmd& e) { return e.Cmd_DeletePreset(kCameraID, 3); },
         16,
         {0xC0050003},
         0xF8BA2AF7},
        {"go to preset",
         [](CEngCmd& e) { return e.Cmd_GotoPreset(kCameraID, 3); },
         16,
         {0xC0070003},
         0xFD6E4174},
        {"read motion", [](CEngCmd& e) { return e.Cmd_GetMotion(kCameraID); }, 0x1000000, {3}, 0x1B3B19AF},
        {"motion, region 2 on",
         [&](CEngCmd& e) { return e.Cmd_SetMotion(kCameraID, motion); },
         0x1000000,
         {0x14000002, 0x04030201, 0x08070605, 0x0C0B0A09, 0x095A5046},
         0x76628AA8},
        {"motion, all off",
         [&](CEngCmd& e) { return e.Cmd_SetMotion(kCameraID, still); },
         0x1000000,
         {0x14000002, 0x04030201, 0x08070605, 0x0C0B0A09, 0x005A5046},
         0x0FBE320C},
        {"alarm period",
         [](CEngCmd& e) { return e.Cmd_AlarmTime(kCameraID, 1, 1, 0x1E121E08); },
         0x80000008,
         {1, 1, 0x1E121E08},
         0xBD2C8D34},
        {"auto-scan state",
         [](CEngCmd& e) { return e.Cmd_GetAutoScanState(kCameraID); },
         0x80000020,
         {},
         0xE72DB422},
        {"sensor read",
         [](CEngCmd& e) {
             return e.Cmd_SensorControl(kCameraID, MakeSensorControlWord(1, 8, 0), SENSOR_READ_VALUE);
         },
         0x100,
         {0x801, 174},
         0xB7BD7BCE},
        {"snapshot server",
         [](CEngCmd& e) {
             return e.Cmd_ControlSnapshotServer(kCameraID, 1, 0x05, 0x21, 30, 0xC0A80164, 21,
                                                MakeSessionMode(512, 15, 3));
         },
         0x80000081,
         {1, 0x0521001E, 0xC0A80164, 21, 0x02001E0C},
         0x5548ADA0},
        {"RTSP",
         [](CEngCmd& e) { return e.Cmd_ControlRTSP(kCameraID, 1, 1, 0x02001E0C, 0x01000A08); },
         0x80000080,
         {1, 1, 0x02001E0C, 0x01000A08},
         0x02C4F264},
    };
    for (const OnlineCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes body = Hex("50 02 00 00");
        Put32(body, c.code);
        for (DWORD dw : c.params)
            Put32(body, dw);
        Put32(body, c.crc);
        EXPECT_EQ(c.send(*m_pEngine), 48);
        EXPECT_EQ(Sent(), Packet(8, body));
    }
}

TEST_F(ViewerRequestTest, ScanControlSendsTwoWords)
{
    const auto OnlineBody = [](DWORD dwWord, DWORD dwCrc) {
        Bytes body = Hex("50 02 00 00 00000010");
        Put32(body, dwWord);
        PutBytes(body, Bytes(16, 0));
        Put32(body, dwCrc);
        return body;
    };
    m_pEngine->Cmd_PTZStartScan(kCameraID);
    ASSERT_EQ(m_sockets.m_sent.size(), 2u);
    EXPECT_EQ(m_sockets.m_sent[0].data, Packet(8, OnlineBody(0x20010000, 0x95D22CDD)));
    EXPECT_EQ(m_sockets.m_sent[1].data, Packet(8, OnlineBody(0x20030000, 0x9006475E)));
    m_sockets.m_sent.clear();
    m_pEngine->Cmd_PTZStopScan(kCameraID);
    ASSERT_EQ(m_sockets.m_sent.size(), 2u);
    EXPECT_EQ(m_sockets.m_sent[0].data, Packet(8, OnlineBody(0, 0x5423A8C6)));
    EXPECT_EQ(m_sockets.m_sent[1].data, Packet(8, OnlineBody(0x20020000, 0x7F54F1BF)));
}

TEST_F(ViewerRequestTest, SessionModeWordClampsTheResolution)
{
    EXPECT_EQ(MakeSessionMode(512, 15, 3), 0x02001E0Cu);
    EXPECT_EQ(MakeSessionMode(0xFFFF, 127, 100), 0xFFFFFE20u);
    EXPECT_EQ(SessionModeResolution(0x02001E0C), 3);
    EXPECT_EQ(SessionModeFrameRate(0x02001E0C), 15);
    EXPECT_EQ(SessionModeBitrate(0x02001E0C), 512);
}

} // namespace
