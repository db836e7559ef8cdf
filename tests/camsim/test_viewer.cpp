// The camera side of the viewer protocol, driven with hand-made requests through a fake loop.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_env.h"
#include "scenario.h"
#include "viewer.h"

using namespace camsim;
using camsim::test::CFakeEnv;

namespace {

constexpr std::uint32_t CLIENT = 0xC6120001; // 198.18.0.1
constexpr std::uint32_t CAM_ADDR = 0xC612000A;

std::uint32_t BE32(const Bytes& b, std::size_t off)
{
    return std::uint32_t(b[off]) << 24 | std::uint32_t(b[off + 1]) << 16 | std::uint32_t(b[off + 2]) << 8 |
           b[off + 3];
}

struct Rig {
    explicit Rig(const std::string& json) : sc(LoadScenario(json)) {}
    CFakeEnv env;
    CViewerProtocol viewer{env};
    Scenario sc;
    Camera& Cam(std::size_t i = 0) { return *sc.cameras.at(i); }

    void Request(std::uint8_t bCode, std::uint32_t dwReceiver, const Bytes& body, bool bMulticast = false,
                 bool bEncrypted = false, std::size_t nCam = 0)
    {
        Bytes pkt = BuildViewerRequest(bCode, CLIENT, dwReceiver, body);
        if (bEncrypted)
            CipherEncrypt(pkt.data(), pkt.size());
        ViewerIn in{pkt.data(), pkt.size(), CLIENT, 8102, bMulticast, bEncrypted};
        viewer.OnDatagram(Cam(nCam), in);
    }
    void Online(std::uint32_t dwReceiver, std::uint32_t dwCode, std::array<std::uint32_t, 5> p = {})
    {
        const std::uint32_t a[5] = {p[0], p[1], p[2], p[3], p[4]};
        Request(8, dwReceiver, BuildOnlineRequest(dwCode, a));
    }
    // The body of the last reply, which must carry the code.
    Bytes Reply(std::uint8_t bCode)
    {
        EXPECT_FALSE(env.sent.empty());
        if (env.sent.empty())
            return {};
        Bytes d = env.sent.back().data;
        if (env.sent.back().ch == Channel::ViewerEncrypted)
            CipherDecrypt(d.data(), d.size());
        EXPECT_EQ(d[1], bCode);
        return Bytes(d.begin() + 16, d.end());
    }
    std::size_t nSent() const { return env.sent.size(); }
};

const char* kOne = R"({"cameras":[{"address":"198.18.0.10","id":4660,"serial":"VS0001","name":"Gate",
  "password":"pw","sequence_ids":[1,2],"wifi":true,"camera_port":8150,"type_number":4}]})";

} // namespace

TEST(CamsimViewer, SearchReplyCarriesEveryFieldInOrder)
{
    Rig rig(kOne);
    rig.Request(1, 0, {});
    ASSERT_EQ(rig.nSent(), 1u);
    const camsim::test::Sent& s = rig.env.sent[0];
    EXPECT_EQ(s.dwDst, CLIENT);
    EXPECT_EQ(s.usPort, 8102);
    EXPECT_EQ(s.ch, Channel::ViewerClear);
    // Header: the camera's id least significant byte first, the client's id big-endian.
    EXPECT_EQ(s.data[8], 0x34);
    EXPECT_EQ(s.data[9], 0x12);
    EXPECT_EQ(BE32(s.data, 12), CLIENT);
    const Bytes b = rig.Reply(0x81);
    ASSERT_EQ(b.size(), 32 + 20 + 1 + 1 + 6 + 12 + 4 + 16 + 4 + 4 + 2 + 1 + 1 + 8 + 1 + 1 + 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[0])), "Gate"); // ANSI form: first byte not 0
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[32])), "VS0001");
    EXPECT_EQ(b[52], 0x01 | 0x02 | 0x04); // SD, unicast-capable, Wi-Fi; no children, no 3G
    const std::uint32_t seq[2] = {1, 2};
    Password pw{};
    PasswordField("pw", pw);
    const Block16 check = CheckValue(pw, seq, 0);
    EXPECT_EQ(0, std::memcmp(&b[76], check.data(), 16));
    EXPECT_EQ(BE32(b, 96), 4u);            // camera type number
    EXPECT_EQ(b[100] << 8 | b[101], 8150); // port
    EXPECT_EQ(b[104], 1);                  // sequence ids, least significant byte first
    EXPECT_EQ(b[108], 2);
    EXPECT_EQ(b[113] & 0x08, 0x08); // feature byte: SD card
}

TEST(CamsimViewer, SearchRoutesAndVariants)
{
    Rig rig(R"({"cameras":[
      {"address":"198.18.0.10","id":1,"cipher":"encrypted"},
      {"address":"198.18.0.11","id":2,"answers":"multicast","name":"Ünïcode ☃","name_form":"utf8"},
      {"address":"198.18.0.12","id":3,"answers":"neither"}]})");
    // An encrypted camera ignores clear requests and answers encrypted ones in kind.
    rig.Request(1, 0, {}, true, false, 0);
    EXPECT_EQ(rig.nSent(), 0u);
    rig.Request(1, 0, {}, true, true, 0);
    ASSERT_EQ(rig.nSent(), 1u);
    EXPECT_EQ(rig.env.sent[0].dwDst, GROUP_VIEWER_REPLY_ENC);
    EXPECT_EQ(rig.env.sent[0].usPort, 8112);
    EXPECT_EQ(rig.Reply(0x81).size() > 100, true);

    // Multicast-only: silent to the sweep, answers the group on 236.5.7.23:8101.
    rig.Request(1, 0, {}, false, false, 1);
    EXPECT_EQ(rig.nSent(), 1u);
    rig.Request(1, 0, {}, true, false, 1);
    ASSERT_EQ(rig.nSent(), 2u);
    EXPECT_EQ(rig.env.sent[1].dwDst, GROUP_VIEWER_REPLY);
    EXPECT_EQ(rig.env.sent[1].usPort, 8101);
    const Bytes b = rig.Reply(0x81);
    EXPECT_EQ(b[0], 0); // UTF-8 form
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[1])), "Ünïcode ☃");

    rig.Request(1, 0, {}, true, false, 2);
    rig.Request(1, 0, {}, false, false, 2);
    EXPECT_EQ(rig.nSent(), 2u);
    EXPECT_EQ(rig.Cam(2).counters.viewer[1], 2u);

    // Requests for another camera of the group are not answered.
    rig.Request(9, 99, {}, true, false, 1);
    EXPECT_EQ(rig.nSent(), 2u);
}

TEST(CamsimViewer, RecorderListsItsChildrenAndAnswersForThem)
{
    Rig rig(R"({"cameras":[{"address":"198.18.0.10","id":500,"serial":"NVR1","password":"x",
      "children":[{"id":501,"name":"Door","serial":"NVR1-A","feature_byte":2,"byte":7},{"id":502}]}]})");
    rig.Request(1, 0, {});
    const Bytes b = rig.Reply(0x81);
    EXPECT_EQ(b[52] & 0x08, 0x08);
    const std::size_t nTail = 114 + 4;
    ASSERT_EQ(b.size(), nTail + 4 + 2 * 74u);
    EXPECT_EQ(BE32(b, nTail), 2u);
    EXPECT_EQ(BE32(b, nTail + 4), 501u); // big-endian, unlike the header's id
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[nTail + 8])), "Door");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[nTail + 40])), "NVR1-A");
    EXPECT_EQ(b[nTail + 76], 7);
    EXPECT_EQ(b[nTail + 77], 2 | 0x08);
    EXPECT_EQ(BE32(b, nTail + 78), 502u);

    // A channel answers through its recorder, with its own id, and checks the recorder's token.
    rig.Online(501, 0x80000001, {2, 1});
    EXPECT_EQ(rig.env.sent.back().data[8], 501 & 0xFF);
    EXPECT_EQ(rig.Cam().children[0]->bTimeFormat, 1);
    EXPECT_EQ(rig.Cam().bTimeFormat, 0);
    Password pw{};
    PasswordField("x", pw);
    const Block16 token = ExpectedToken(pw, rig.Cam().adwSeq, 0);
    Bytes start(token.begin(), token.end());
    PutU32(start, CLIENT);
    PutU16(start, 8103);
    PutU8(start, 0);
    PutU8(start, 0);
    rig.Request(65, 502, start);
    EXPECT_EQ(BE32(rig.Reply(0xC1), 0), 0u);
    EXPECT_TRUE(rig.Cam().children[1]->video.bActive);
}

TEST(CamsimViewer, StartVideoChecksTheTokenAndReturnsTheConfiguredStatus)
{
    Rig rig(kOne);
    Camera& cam = rig.Cam();
    auto start = [&](const Block16& token, std::uint8_t bType) {
        Bytes b(token.begin(), token.end());
        PutU32(b, CLIENT);
        PutU16(b, 8106);
        PutU8(b, 0);
        PutU8(b, bType);
        rig.Request(65, cam.dwId, b);
        return rig.Reply(0xC1);
    };
    Password pw{};
    PasswordField("pw", pw);
    const Block16 good = ExpectedToken(pw, cam.adwSeq, 0);
    Bytes r = start(good, 1);
    ASSERT_EQ(r.size(), 4u); // status only: the client takes 2 and 0 for the rest
    EXPECT_EQ(BE32(r, 0), 0u);
    EXPECT_TRUE(cam.video.bActive);
    EXPECT_EQ(cam.video.usPort, 8106);
    EXPECT_EQ(cam.video.bStreamType, 1);

    Block16 wrong = good;
    wrong[15] ^= 1;
    EXPECT_EQ(BE32(start(wrong, 0), 0), 3u);
    EXPECT_EQ(cam.counters.badToken, 1u);

    for (std::uint32_t status : {1u, 2u, 4u}) {
        cam.dwVideoStatus = status;
        EXPECT_EQ(BE32(start(good, 0), 0), status);
    }
    rig.Request(66, cam.dwId, Bytes(16, 0));
    EXPECT_FALSE(cam.video.bActive);
}

TEST(CamsimViewer, PasswordChangeNeedsTheOldPasswordAndChangesTheCheckValue)
{
    Rig rig(kOne);
    Camera& cam = rig.Cam();
    auto change = [&](const char* pszOld, const char* pszNew) {
        Password o{}, n{};
        PasswordField(pszOld, o);
        PasswordField(pszNew, n);
        std::uint8_t body[32];
        std::memcpy(body, o.data(), 16);
        std::memcpy(body + 16, n.data(), 16);
        PasswordChangeCipher(body, o, true);
        rig.Request(6, cam.dwId, Bytes(body, body + 32));
        return BE32(rig.Reply(0x86), 0);
    };
    EXPECT_NE(change("wrong", "new"), 0u);
    EXPECT_EQ(PasswordText(cam.password), "pw");
    EXPECT_EQ(change("pw", "new"), 0u);
    EXPECT_EQ(PasswordText(cam.password), "new");
    Password n{};
    PasswordField("new", n);
    rig.Request(1, 0, {});
    const Bytes b = rig.Reply(0x81);
    const Block16 check = CheckValue(n, cam.adwSeq, 0);
    EXPECT_EQ(0, std::memcmp(&b[76], check.data(), 16));
    // Back to no password: the check value is all zero.
    EXPECT_EQ(change("new", ""), 0u);
    rig.Request(1, 0, {});
    const Bytes z = rig.Reply(0x81);
    EXPECT_TRUE(std::all_of(z.begin() + 76, z.begin() + 92, [](std::uint8_t x) { return x == 0; }));
}

TEST(CamsimViewer, OnlineCommandsWithAWrongCheckValueAreIgnoredAndCounted)
{
    Rig rig(kOne);
    const std::uint32_t p[5] = {0, 0, 0, 0, 0};
    Bytes body = BuildOnlineRequest(0x20000000, p);
    body[31] ^= 1;
    rig.Request(8, 4660, body);
    EXPECT_EQ(rig.nSent(), 0u);
    EXPECT_EQ(rig.Cam().counters.wrongCheck, 1u);
    rig.Request(8, 4660, Bytes(body.begin(), body.begin() + 20)); // cut short
    EXPECT_EQ(rig.Cam().counters.malformed, 1u);
    body[31] ^= 1;
    rig.Request(8, 4660, body);
    const Bytes r = rig.Reply(8);
    EXPECT_EQ(BE32(r, 4), 0x40000000u);
    // Speaker on, volume 80; microphone on, volume 60; type 0.
    EXPECT_EQ(BE32(r, 8), 1u | 80u << 1 | 0x100u | 60u << 9);
}

TEST(CamsimViewer, SetsChangeWhatTheNextQueryReturns)
{
    Rig rig(kOne);
    Camera& cam = rig.Cam();
    const std::uint32_t id = cam.dwId;

    // Name, ANSI form.
    Bytes name;
    PutText(name, "Yard", 32);
    PutU8(name, 5);
    rig.Request(4, id, name);
    rig.Reply(0x84);
    rig.Request(1, 0, {});
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rig.Reply(0x81).data())), "Yard");

    // NTP: the same record both ways.
    NtpSettings ntp;
    ntp.usSync = 1;
    ntp.sTimeZone = -300;
    ntp.strServer = "time.lab";
    ntp.bDstMode = 2;
    ntp.adwDst[2] = 0x02080103;
    rig.Request(29, id, BuildNtpBody(ntp));
    rig.Reply(0x9D);
    rig.Request(28, id, {});
    EXPECT_EQ(rig.Reply(0x9C), BuildNtpBody(ntp));

    // Mail: five recipients at most are taken from a write.
    MailSettings mail;
    mail.strServer1 = "smtp.lab";
    mail.strSender = "cam@lab";
    mail.recipients = {"a", "b", "c", "d", "e", "f", "g"};
    Bytes mb = BuildMailBody(mail);
    rig.Request(24, id, mb);
    rig.Request(25, id, {});
    const Bytes mr = rig.Reply(0x99);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mr.data())), "smtp.lab");
    EXPECT_EQ(mr[706], 5);
    EXPECT_EQ(mr.size(), 707u + 5 * 64);

    // Alarm outputs; a DO write has no reply of its own.
    const std::size_t n = rig.nSent();
    rig.Request(26, id, {0x05, 0x0A});
    EXPECT_EQ(rig.nSent(), n);
    rig.Request(27, id, {});
    EXPECT_EQ(rig.Reply(0x9B), (Bytes{0x05, 0x0A}));

    // Camera port: (1, 0) reads, anything else writes.
    rig.Request(50, id, {0, 2, 0x1F, 0x40});
    rig.Request(50, id, {0, 1, 0, 0});
    const Bytes pr = rig.Reply(0xB2);
    EXPECT_EQ(pr[4] << 8 | pr[5], 8000);

    // Motion: threshold, regions and sensitivity come back as written.
    rig.Online(id, 0x1000000, {(30u << 24) + 2, 0x40302010, 0, 0, (1u << 24) | (1u << 25) | 0x505050});
    rig.Online(id, 0x1000000, {3});
    const Bytes mo = rig.Reply(8);
    EXPECT_EQ(BE32(mo, 8), 30u << 24);
    EXPECT_EQ(BE32(mo, 12), 0x40302010u);
    EXPECT_EQ(BE32(mo, 24), (1u << 24) | (1u << 25) | 0x505050u);

    // Microphone, then the volume query.
    rig.Online(id, 2048, {(42u << 1) + 1, 2});
    rig.Online(id, 0x20000000);
    const Bytes vo = rig.Reply(8);
    EXPECT_EQ(BE32(vo, 8) >> 8 & 1, 0u); // microphone disabled
    EXPECT_EQ(BE32(vo, 8) >> 9 & 0x7F, 42u);
    EXPECT_EQ(BE32(vo, 16), 2u);

    // Snapshot server: packed word out, fields back.
    rig.Online(id, 0x80000081, {1, (9u << 24) | (0x21u << 16) | 300, 0xC6120005, 2121, 0x12345678});
    rig.Online(id, 0x80000081, {0});
    const Bytes ss = rig.Reply(8);
    EXPECT_EQ(BE32(ss, 4), 0x80000081u);
    EXPECT_EQ(ss[12], 9);
    EXPECT_EQ(ss[13], 0x21);
    EXPECT_EQ(ss[14] << 8 | ss[15], 300);
    EXPECT_EQ(BE32(ss, 16), 0xC6120005u);
    EXPECT_EQ(BE32(ss, 24), 0x12345678u);

    // RTSP: a write is answered with its own operation; a read (operation 0) gives the values.
    rig.Online(id, 0x80000080, {1, 1, 0x11110000, 0x22220000});
    EXPECT_EQ(BE32(rig.Reply(8), 8), 1u);
    rig.Online(id, 0x80000080, {0});
    const Bytes rt = rig.Reply(8);
    EXPECT_EQ(BE32(rt, 8), 0u);
    EXPECT_EQ(BE32(rt, 12), 1u);
    EXPECT_EQ(BE32(rt, 16), 0x11110000u);
    EXPECT_EQ(BE32(rt, 20), 0x22220000u);

    // Sensor read echoes 174 in the low byte of the second word; the sixth register is the
    // fourth word's low byte. Sub-command 2 writes one register, 3 restores the scenario's.
    cam.sensorRegs = cam.sensorRegsDefault = {1, 2, 3, 4, 5, 6};
    rig.Online(id, 256, {0x050d02, 200});
    rig.Reply(8);
    EXPECT_EQ(cam.sensorRegs[5], 200);
    rig.Online(id, 256, {0x0d03, 0});
    rig.Reply(8);
    rig.Online(id, 256, {0x0801, 174});
    const Bytes se = rig.Reply(8);
    EXPECT_EQ(BE32(se, 4), 0x100u);
    EXPECT_EQ(BE32(se, 12), 174u | 1u << 8 | 2u << 16 | 3u << 24);
    EXPECT_EQ(BE32(se, 16), 4u | 5u << 8);
    EXPECT_EQ(BE32(se, 20), 6u);

    // Presets: set two, delete one, read the list (kind 15).
    rig.Online(id, 16, {0xC0030001, 0x446F6F72, 0, 0, 0});
    rig.Online(id, 16, {0xC0030002, 0x59617264, 0, 0, 0});
    rig.Online(id, 16, {0xC0050001});
    rig.Online(id, 16, {0x20050000});
    const Bytes pl = rig.Reply(8);
    EXPECT_EQ(pl[1], 15);
    EXPECT_EQ(BE32(pl, 4), 16u << 16 | 1u);
    EXPECT_EQ(BE32(pl, 8), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pl[12]), 4), "Yard");

    // Dome: a write then a read.
    rig.Request(106, id, {1, 7, 0x25, 0x80});
    rig.Request(106, id, {0, 0, 0, 0});
    EXPECT_EQ(rig.Reply(0xDA), (Bytes{7, 0x25, 0x80}));

    // Auto-scan schedule: the basic query's zeroed record reads; a write is answered with 1.
    AutoScanSchedule s;
    s.bByte = 3;
    s.named[2] = "Lobby";
    s.entries.push_back({4, 100, 200});
    Bytes w = BuildAutoScanReplyBody(s);
    w[0] = 1;
    rig.Request(47, id, w);
    EXPECT_EQ(rig.Reply(0xAF), Bytes{1});
    rig.Request(47, id, Bytes(784, 0));
    EXPECT_EQ(rig.Reply(0xAF), BuildAutoScanReplyBody(s));

    // SD recording write, read back with its layout; the SD operation's result replaces the
    // record's last single byte.
    RecordSettings rec;
    rec.dwA = 77;
    rec.bC = 1;
    rec.bD = 2;
    rec.schedule[5] = 9;
    rec.trailing = {1, 2, 3, 4, 5, 6};
    rec.dwSessionMode = (1024u << 16) | (25u << 9) | (8u << 2);
    Bytes sdw(16, 0xEE);
    const Bytes sdr = BuildRecordReplyBody(rec, false);
    // The write is the reply's layout with the 16-byte block in front and six trailing bytes.
    sdw.insert(sdw.end(), sdr.begin(), sdr.end());
    rig.Request(35, id, sdw);
    rig.Request(36, id, {});
    EXPECT_EQ(rig.Reply(0xA4), sdr);
    rig.Request(39, id, {3});
    EXPECT_EQ(rig.Reply(0xA7), Bytes{0});
    EXPECT_EQ(cam.sdRecord.trailing[5], 0);
    EXPECT_EQ(cam.bLastSdOperation, 3);

    EXPECT_EQ(cam.counters.malformed, 0u);
}

TEST(CamsimViewer, IgnoredAndShortRequestsChangeNothing)
{
    Rig rig(R"({"cameras":[{"address":"198.18.0.10","id":9,"ignore":["viewer:9","online:0x20000000"]}]})");
    rig.Request(9, 9, {});
    rig.Online(9, 0x20000000);
    EXPECT_EQ(rig.nSent(), 0u);
    EXPECT_EQ(rig.Cam().counters.ignored, 2u);
    rig.Request(29, 9, {0, 1}); // NTP write cut short
    EXPECT_EQ(rig.Cam().counters.malformed, 1u);
    EXPECT_EQ(rig.Cam().ntp.usSync, 0);
    EXPECT_EQ(rig.nSent(), 0u);
}

TEST(CamsimRecordTime, ReliableChannelAcknowledgesResendsAndGivesUp)
{
    Rig rig(R"({"cameras":[{"address":"198.18.0.10","id":77,"ms_version":3,"recordings":[
      {"start":"2024-05-01T10:15:00Z","end":"2024-05-01T10:20:59Z"},
      {"start":"2024-05-03T23:59:30Z","end":"2024-05-04T00:00:30Z","event":true}]}]})");
    auto reliable = [&](std::uint32_t seq, std::uint8_t code, const Bytes& body) {
        Bytes b;
        PutU32(b, seq);
        const Bytes pkt = BuildRecTimeRequest(code, body);
        b.insert(b.end(), pkt.begin(), pkt.end());
        rig.Request(89, 77, b);
    };
    Bytes q18;
    PutU32(q18, 1);
    PutU32(q18, 0);
    reliable(5, 18, q18);
    ASSERT_EQ(rig.nSent(), 2u);
    EXPECT_EQ(rig.env.sent[0].data[1], 0xD9);
    EXPECT_EQ(BE32(rig.env.sent[0].data, 16), 5u);
    const Bytes r = rig.Reply(0x59);
    EXPECT_EQ(BE32(r, 0), 1u); // the camera's own sequence starts at 1
    EXPECT_EQ(r[4], 0xB0);
    EXPECT_EQ(r[5], 19);
    EXPECT_EQ(r[12] << 8 | r[13], 3); // record-time version
    ASSERT_EQ(r.size(), 4 + 16 + 16u);
    EXPECT_EQ(BE32(r, 20), 1u);
    EXPECT_EQ(BE32(r, 24), 77u);
    EXPECT_EQ(BE32(r, 28), 1714558500u);
    EXPECT_EQ(BE32(r, 32), 1714780830u);

    // A resend of the same request is acknowledged again but not answered twice.
    reliable(5, 18, q18);
    EXPECT_EQ(rig.nSent(), 3u);
    EXPECT_EQ(rig.env.sent.back().data[1], 0xD9);

    // Unacknowledged, the reply goes out every 800 ms, four times in all.
    rig.env.Advance(800 * 5);
    std::size_t n59 = 0;
    for (const auto& s : rig.env.sent)
        n59 += s.data[1] == 0x59;
    EXPECT_EQ(n59, 4u);
    EXPECT_EQ(rig.Cam().counters.rectimeGivenUp, 1u);

    // Acknowledged at once: no resend; the next reply takes the next sequence.
    Bytes q33;
    PutU32(q33, 77);
    reliable(6, 33, q33);
    const Bytes days = rig.Reply(0x59);
    EXPECT_EQ(BE32(days, 0), 2u);
    EXPECT_EQ(days[5], 0x22);
    ASSERT_EQ(days.size(), 20 + 8 + 3 * 4u);
    EXPECT_EQ(BE32(days, 20), 77u);
    EXPECT_EQ(BE32(days, 24), 3u);
    EXPECT_EQ(BE32(days, 28), 20240501u);
    EXPECT_EQ(BE32(days, 32), 20240503u);
    EXPECT_EQ(BE32(days, 36), 20240504u);
    Bytes ack;
    PutU32(ack, 2);
    rig.Request(217, 77, ack);
    const std::size_t nBefore = rig.nSent();
    rig.env.Advance(3000);
    EXPECT_EQ(rig.nSent(), nBefore);

    // Hours and minutes of a day: bit 0 recording, bit 1 event.
    Bytes q20;
    PutU32(q20, 77);
    PutU32(q20, 20240501);
    PutU32(q20, 0);
    reliable(7, 20, q20);
    const Bytes hours = rig.Reply(0x59);
    ASSERT_EQ(hours.size(), 20 + 32u);
    EXPECT_EQ(BE32(hours, 24), 20240501u);
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(hours[28 + h], h == 10 ? 1 : 0) << h;
    PutU32(ack = {}, 3);
    rig.Request(217, 77, ack);

    Bytes q22;
    PutU32(q22, 77);
    PutU32(q22, 0);
    PutU32(q22, 20240503);
    PutU32(q22, 23);
    reliable(8, 22, q22);
    const Bytes mins = rig.Reply(0x59);
    ASSERT_EQ(mins.size(), 20 + 72u);
    EXPECT_EQ(BE32(mins, 28), 23u);
    EXPECT_EQ(mins[32 + 58], 0);
    EXPECT_EQ(mins[32 + 59], 3);

    // Playback and download controls are kept for the media side.
    reliable(9, 52, {});
    EXPECT_EQ(rig.Cam().rectimeAccepted[52].size(), 1u);
}
