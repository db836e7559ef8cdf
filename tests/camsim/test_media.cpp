// The simulator's media side end to end through a fake loop: requests go in through the viewer
// protocol, datagrams come out of the media engine, and the test reassembles and decodes them
// on its own (libavcodec and libgsm are the oracles for the codec data).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

extern "C" {
#include <gsm.h>
#include <libavcodec/avcodec.h>
}

#include "fake_env.h"
#include "lan.h"
#include "media.h"
#include "scenario.h"
#include "viewer.h"

using namespace camsim;

namespace {

constexpr std::uint32_t CLIENT = 0xC6120001; // 198.18.0.1

std::uint32_t BE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct Datagram {
    std::uint32_t dwDst;
    std::uint16_t usPort;
    Bytes data;
};

// The loop with the media hooks wired to an engine, as the simulator does.
class CMediaEnv : public test::CFakeEnv {
public:
    CMediaEngine* pMedia = nullptr;
    void OnVideoStart(Camera& cam, bool b) override { pMedia->OnVideoStart(cam, b); }
    void OnVideoStop(Camera& cam) override { pMedia->OnVideoStop(cam); }
    void OnRecTimeMedia(Camera& cam, std::uint8_t c, const std::uint8_t* p, std::size_t n) override
    {
        pMedia->OnRecTime(cam, c, p, n);
    }
    void OnTalkAudio(Camera& cam, const std::uint8_t* p, std::size_t n) override
    {
        pMedia->OnTalkAudio(cam, p, n);
    }
};

struct Rig {
    explicit Rig(const std::string& json, std::uint32_t dwSeed = 1) : sc(LoadScenario(json))
    {
        media = std::make_unique<CMediaEngine>(
            env,
            [this](Camera&, std::uint32_t d, std::uint16_t p, const Bytes& b) {
                out.push_back({d, p, b});
            },
            [this](Camera& c, Bytes pkt) { viewer.QueueRecTimeReply(c, std::move(pkt)); }, dwSeed);
        env.pMedia = media.get();
        media->SetFrameLog(&log);
        std::vector<Camera*> cams;
        for (auto& c : sc.cameras)
            cams.push_back(c.get());
        std::string err;
        EXPECT_TRUE(media->Prepare(cams, err)) << err;
    }
    Camera& Cam(std::size_t i = 0) { return *sc.cameras.at(i); }
    void Request(std::uint8_t bCode, const Bytes& body, std::size_t nCam = 0)
    {
        Bytes pkt = BuildViewerRequest(bCode, CLIENT, Cam(nCam).dwId, body);
        ViewerIn in{pkt.data(), pkt.size(), CLIENT, 8102, false, false};
        viewer.OnDatagram(Cam(nCam), in);
    }
    void StartVideo(std::uint16_t usPort, std::uint8_t bType, std::size_t nCam = 0)
    {
        const Camera& c = Cam(nCam);
        const Block16 token = ExpectedToken(c.password, c.adwSeq, c.bEncryptVersion);
        Bytes b(token.begin(), token.end());
        PutU32(b, CLIENT);
        PutU16(b, usPort);
        PutU8(b, 0);
        PutU8(b, bType);
        Request(65, b, nCam);
    }
    // As the client sends them: reliably, but the download acknowledgement as it is.
    void RecTime(std::uint8_t bCode, const Bytes& body, std::size_t nCam = 0)
    {
        if (bCode == 65) {
            Request(68, BuildRecTimeRequest(bCode, body), nCam);
            return;
        }
        Bytes b;
        PutU32(b, ++dwRecTimeSeq);
        const Bytes pkt = BuildRecTimeRequest(bCode, body);
        b.insert(b.end(), pkt.begin(), pkt.end());
        Request(89, b, nCam);
    }
    // Download of the seconds 1000001..1000002 (request 50, version 4), then the start-video
    // request that opens the download port, as the client sends them.
    void StartSdDownload()
    {
        Bytes req;
        PutU32(req, 4);
        PutU8(req, 0);
        PutU8(req, 0);
        PutU32(req, 1000001);
        PutU32(req, 0);
        PutU32(req, 1000002);
        PutU32(req, 0);
        RecTime(50, req);
        StartVideo(PORT_DOWNLOAD, 1);
        env.Advance(5);
    }
    // Record-time replies the camera sent, by command code, each once however often resent.
    std::vector<std::uint8_t> RecTimeReplies() const
    {
        std::map<std::uint32_t, std::uint8_t> codes;
        for (const auto& s : env.sent)
            if (s.data.size() > 16 + 4 + 1 && s.data[1] == 0x59)
                codes[BE32(&s.data[16])] = s.data[16 + 4 + 1];
        std::vector<std::uint8_t> v;
        for (const auto& [q, c] : codes)
            v.push_back(c);
        return v;
    }
    std::uint32_t dwRecTimeSeq = 0;

    CMediaEnv env;
    CViewerProtocol viewer{env};
    Scenario sc;
    std::unique_ptr<CMediaEngine> media;
    std::ostringstream log;
    std::vector<Datagram> out;
};

// Reassembles units from segment datagrams, written from the wire format alone.
std::vector<Bytes> Reassemble(const std::vector<Datagram>& dgrams)
{
    struct Partial {
        std::map<std::uint32_t, Bytes> parts;
        std::size_t nEnd = 0; // offset just past the final segment; 0 until it arrived
    };
    std::map<std::uint16_t, Partial> open;
    std::vector<Bytes> units;
    for (const auto& d : dgrams) {
        if (d.data.size() < 9)
            continue;
        const std::uint8_t bSeg = d.data[0];
        const std::uint16_t usSeq = static_cast<std::uint16_t>(d.data[2] << 8 | d.data[3]);
        const std::uint32_t off = BE32(&d.data[4]) * 256;
        const Bytes payload(d.data.begin() + 8, d.data.end());
        if (bSeg == 0) {
            units.push_back(payload);
            continue;
        }
        Partial& p = open[usSeq];
        p.parts.emplace(off, payload);
        if (bSeg == 1)
            p.nEnd = off + payload.size();
        if (!p.nEnd)
            continue;
        Bytes unit;
        for (const auto& [o, b] : p.parts) {
            if (o != unit.size())
                break;
            unit.insert(unit.end(), b.begin(), b.end());
        }
        if (unit.size() == p.nEnd) {
            units.push_back(std::move(unit));
            open.erase(usSeq);
        }
    }
    return units;
}

struct LogLine {
    std::string strStream;
    std::uint32_t dwSeq, dwSize;
    std::string strCrc;
};
std::vector<LogLine> ParseLog(const std::string& s)
{
    std::vector<LogLine> v;
    static const std::regex re(R"(^media cam=\d+ stream=(\w+) port=\d+ seq=(\d+) type=0x[0-9a-f]+ key=[01] )"
                               R"(size=(\d+) crc=([0-9a-f]{8}) es_size=\d+ es_crc=[0-9a-f]{8}.*$)");
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, re)) << line;
        if (!m.empty())
            v.push_back({m[1], static_cast<std::uint32_t>(std::stoul(m[2])),
                         static_cast<std::uint32_t>(std::stoul(m[3])), m[4]});
    }
    return v;
}

std::string Crc(const Bytes& b)
{
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", Crc32(b.data(), b.size()));
    return buf;
}

// Decodes an elementary stream picture by picture; returns the sizes of the pictures it gave.
std::vector<std::pair<int, int>> Decode(AVCodecID id, const std::vector<Bytes>& pictures)
{
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::pair<int, int>> sizes;
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0)
            sizes.emplace_back(frame->width, frame->height);
    };
    for (const auto& p : pictures) {
        av_new_packet(pkt, static_cast<int>(p.size()));
        std::copy(p.begin(), p.end(), pkt->data);
        EXPECT_EQ(avcodec_send_packet(ctx, pkt), 0);
        av_packet_unref(pkt);
        drain();
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return sizes;
}

// Sign changes per second of 8 kHz samples: twice the frequency of a pure tone.
double ToneHz(const std::vector<std::int16_t>& s)
{
    int n = 0;
    for (std::size_t i = 1; i < s.size(); ++i)
        n += (s[i - 1] < 0) != (s[i] < 0);
    return n / 2.0 / (s.size() / 8000.0);
}

std::string Scenario1(const std::string& media, const std::string& extra = "")
{
    // Small pictures keep the encoding at start-up short.
    return R"({"seed":5,"defaults":{"media":{"width":176,"height":144,"fps":10,"gop":5,"clip_frames":10,"kbps":200}},
        "cameras":[{"address":"198.18.0.10","id":4660,"password":"pw")" +
           extra +
           R"(,"recordings":[{"start":1000000,"end":1000004},{"start":1000100,"end":1000102,"event":true}],
            "media":)" +
           media + "}]}";
}

} // namespace

TEST(CamsimMedia, LiveStreamsReassembleToLoggedFramesDecodeAndStopWithoutHeartbeat)
{
    struct Row {
        const char* codec;
        bool bStamped, bUnicast;
        std::uint8_t bType;
        AVCodecID id;
    } rows[] = {
        {"h264", true, true, TYPE_H264_STAMPED, AV_CODEC_ID_H264},
        {"mpeg4", true, true, TYPE_MPEG4_STAMPED, AV_CODEC_ID_MPEG4},
        {"mpeg4", false, false, TYPE_MPEG4, AV_CODEC_ID_MPEG4}, // and by multicast
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.codec) + (row.bStamped ? " stamped" : " plain"));
        Rig rig(Scenario1(std::string(R"({"codec":")") + row.codec + R"(","width":176,"height":144,"fps":10,
                  "gop":5,"clip_frames":10,"kbps":200,"heartbeat_timeout_s":5,"stamped":)" +
                              (row.bStamped ? "true" : "false") + "}",
                          row.bUnicast ? "" : R"(,"unicast_capable":false)"));
        rig.StartVideo(PORT_LIVE, 0);
        rig.env.Advance(3000);
        rig.StartVideo(PORT_LIVE, 0); // heartbeat
        rig.env.Advance(2999);
        const std::size_t nStreaming = rig.out.size();
        rig.env.Advance(8000); // more than the time-out after the last heartbeat
        const std::size_t nAfterTimeout = rig.out.size();
        rig.env.Advance(3000);
        EXPECT_EQ(rig.out.size(), nAfterTimeout) << "still streaming without heartbeats";
        EXPECT_GT(nAfterTimeout, nStreaming);

        for (const auto& d : rig.out) {
            EXPECT_EQ(d.dwDst, row.bUnicast ? CLIENT : GROUP_MEDIA);
            EXPECT_EQ(d.usPort, row.bUnicast ? PORT_LIVE : 8100);
            EXPECT_LE(d.data.size(), 8 + SEGMENT_PAYLOAD);
        }
        const auto units = Reassemble(rig.out);
        const auto logged = ParseLog(rig.log.str());
        ASSERT_EQ(units.size(), logged.size());
        std::vector<Bytes> pictures;
        std::vector<std::int16_t> pcm;
        gsm g = gsm_create();
        for (std::size_t i = 0; i < units.size(); ++i) {
            const Bytes& u = units[i];
            EXPECT_EQ(u.size(), logged[i].dwSize);
            EXPECT_EQ(Crc(u), logged[i].strCrc);
            EXPECT_EQ(u[2] << 8 | u[3], static_cast<int>(logged[i].dwSeq));
            EXPECT_EQ(u[4] | u[5] << 8 | u[6] << 16 | u[7] << 24, 4660);
            if (u[0] == TYPE_AUDIO) {
                EXPECT_EQ(logged[i].strStream, "audio");
                ASSERT_EQ(u.size(), 8 + 99u);
                for (std::size_t k = 8; k < u.size(); k += 33) {
                    gsm_signal s[160];
                    ASSERT_EQ(gsm_decode(g, const_cast<gsm_byte*>(&u[k]), s), 0);
                    pcm.insert(pcm.end(), s, s + 160);
                }
                continue;
            }
            ASSERT_EQ(u[0], row.bType);
            std::size_t off = 8;
            if (row.bStamped) {
                ASSERT_EQ(u[8], STAMP_LEN);
                EXPECT_NEAR(static_cast<double>(BE32(&u[10])), static_cast<double>(std::time(nullptr)), 10.0);
                EXPECT_LT(BE32(&u[14]), 1000000u);
                off += STAMP_LEN;
            }
            // Marker 0 exactly when the picture starts with its sequence header.
            const bool bHeader = row.id == AV_CODEC_ID_H264 ? (u[off + 4] & 0x1F) == 7 : u[off + 3] == 0xB0;
            EXPECT_EQ(u[1] == 0, bHeader) << "frame " << pictures.size();
            pictures.emplace_back(u.begin() + static_cast<std::ptrdiff_t>(off), u.end());
        }
        gsm_destroy(g);
        // 8 s of streaming at 10 frames and 16.7 audio frames a second, give or take a tick.
        EXPECT_NEAR(static_cast<double>(pictures.size()), 80, 2);
        EXPECT_NEAR(static_cast<double>(pcm.size()) / 8000, 8, 0.2);
        EXPECT_NEAR(ToneHz(pcm), 440, 10);
        const auto sizes = Decode(row.id, pictures);
        EXPECT_EQ(sizes.size(), pictures.size());
        for (const auto& s : sizes)
            EXPECT_EQ(s, std::make_pair(176, 144));
        // A reboot forgets the stream, heartbeat time or not.
        rig.StartVideo(PORT_LIVE, 0);
        rig.env.Advance(100);
        EXPECT_GT(rig.out.size(), nAfterTimeout);
        RebootCamera(rig.env, rig.Cam(), 200);
        rig.env.Advance(10);
        const std::size_t nAtReboot = rig.out.size();
        rig.env.Advance(2000);
        EXPECT_EQ(rig.out.size(), nAtReboot) << "streaming after a reboot";
    }
}

TEST(CamsimMedia, PictureSizeSwitchAndMediaFaultsAreSeededApartFromTheControlPlane)
{
    const std::string media = R"({"width":176,"height":144,"fps":10,"gop":5,"clip_frames":10,"kbps":200,
        "audio":false,"switch":{"after_s":1,"width":320,"height":240})";
    const std::string faults = R"(,"faults":{"out":{"loss":0.1,"duplicate":0.1,"reorder":0.1}}})";
    auto run = [&](std::uint32_t dwSeed, bool bFaults) {
        Rig rig(Scenario1(media + (bFaults ? faults : "}")), dwSeed);
        rig.StartVideo(PORT_LIVE, 0);
        rig.env.Advance(2500);
        EXPECT_EQ(rig.env.sent.size(), 1u); // the start-video reply: control faults are off
        // What the faults decide: which segments go, in which order, how often. (The bytes
        // carry the wall-clock time.)
        std::vector<std::tuple<std::uint32_t, std::uint32_t, std::size_t>> v;
        for (const auto& d : rig.out)
            v.emplace_back(d.data[2] << 8 | d.data[3], BE32(&d.data[4]), d.data.size());
        std::vector<Bytes> pictures;
        for (const auto& u : Reassemble(rig.out))
            pictures.emplace_back(u.begin() + 8 + STAMP_LEN, u.end());
        // Only the clean stream decodes without complaint: lost pictures leave holes.
        return std::make_pair(v, bFaults ? decltype(Decode(AV_CODEC_ID_H264, pictures)){}
                                         : Decode(AV_CODEC_ID_H264, pictures));
    };
    const auto a = run(5, true), b = run(5, true), c = run(6, true), clean = run(5, false);
    EXPECT_EQ(a.first, b.first);
    EXPECT_NE(a.first, c.first);
    EXPECT_NE(a.first, clean.first);
    // Pictures of both sizes decode, the switch at one second.
    const auto& sizes = clean.second;
    EXPECT_EQ(sizes.size(), 26u);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.front(), std::make_pair(176, 144));
    EXPECT_EQ(sizes.back(), std::make_pair(320, 240));
}

TEST(CamsimMedia, SdDownloadKeepsItsWindowResendsWhatIsNotAcknowledgedAndEnds)
{
    // One sub-packet per datagram, so each can be lost on its own.
    Rig rig(Scenario1(R"({"sd":{"width":176,"height":144,"fps":10,"gop":10,"clip_frames":20,"kbps":200},
                          "sd_window":8,"sd_resend_ms":400,"sd_resend_min_ms":400,"sd_datagram_bytes":100})"));
    Camera& cam = rig.Cam();
    std::string err;
    const auto sd = GetClip(cam.media.sd, err);
    ASSERT_TRUE(sd);
    rig.StartSdDownload();

    // Sub-packets by send sequence, from every unit sent so far.
    std::map<std::uint32_t, Bytes> got;
    std::size_t nSubs = 0;
    auto collect = [&] {
        got.clear();
        nSubs = 0;
        for (const auto& u : Reassemble(rig.out)) {
            EXPECT_GE(u.size(), 28u);
            EXPECT_EQ(u[24] | u[25] << 8, 4660 & 0xFFFF); // the first frame's camera id
            for (std::size_t o = 0; o + 20 < u.size();) {
                const std::uint32_t len = static_cast<std::uint32_t>(u[o] << 8 | u[o + 1] | u[o + 2] << 16);
                EXPECT_GT(len, 20u);
                EXPECT_LE(o + len, u.size());
                got[BE32(&u[o + 8])] = Bytes(u.begin() + static_cast<std::ptrdiff_t>(o),
                                             u.begin() + static_cast<std::ptrdiff_t>(o + len));
                nSubs++;
                o += len;
            }
        }
    };
    collect();
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got.rbegin()->first, 7u);

    auto ack = [&](std::vector<std::uint32_t> seqs, std::uint32_t dwContinuous) {
        Bytes b;
        PutU32(b, static_cast<std::uint32_t>(seqs.size()));
        for (auto q : seqs)
            PutU32(b, q);
        PutU32(b, dwContinuous);
        rig.RecTime(65, b);
    };
    ack({0, 1, 2, 5}, 3);
    rig.env.Advance(5);
    collect();
    EXPECT_EQ(got.rbegin()->first, 11u) << "four acknowledged, four new";
    const std::size_t nBefore = nSubs;
    rig.env.Advance(400);
    collect();
    EXPECT_EQ(nSubs - nBefore, 8u) << "3, 4, 6, 7 and 8 to 11 again";

    // Send sequence -> segment sequences of the datagrams from rig.out[nFrom] on that carry it.
    auto segmentSeqs = [&](std::size_t nFrom) {
        std::map<std::uint32_t, std::vector<std::uint16_t>> m;
        for (std::size_t i = nFrom; i < rig.out.size(); ++i) {
            const Bytes& d = rig.out[i].data;
            if (d.size() >= 8 + 20 && BE32(&d[4]) == 0)
                m[BE32(&d[8 + 8])].push_back(static_cast<std::uint16_t>(d[2] << 8 | d[3]));
        }
        return m;
    };
    // Three later datagrams acknowledged (in one acknowledgement, as a receiver that answers a
    // burst at once sends it): 3 and 4 are taken as lost and go again at once, each under the
    // segment sequence of its first copy, so the receiver can join the copies.
    const std::size_t nMark = rig.out.size();
    ack({6, 7, 8}, 3);
    rig.env.Advance(5);
    const auto again = segmentSeqs(nMark);
    const auto first = segmentSeqs(0);
    // (12 to 14 are new, in the room the acknowledgements made.)
    ASSERT_EQ(std::distance(again.begin(), again.lower_bound(12)), 2);
    for (std::uint32_t q : {3u, 4u}) {
        ASSERT_EQ(again.count(q), 1u) << q;
        EXPECT_EQ(again.at(q).front(), first.at(q).front()) << q;
    }
    // Only what left after those copies can pass them over: 9 to 11 were already on the way
    // (the timer sent them before), 12 to 14 went out after.
    const std::size_t nMark2 = rig.out.size();
    for (std::uint32_t q : {9u, 10u, 11u})
        ack({q}, 3);
    rig.env.Advance(5);
    EXPECT_EQ(segmentSeqs(nMark2).count(3), 0u) << "acknowledgements of older copies";
    for (std::uint32_t q : {12u, 13u, 14u})
        ack({q}, 3);
    rig.env.Advance(5);
    EXPECT_EQ(segmentSeqs(nMark2).count(3), 1u);

    // The range holds two seconds of ten frames; each is the SD frame of its time.
    for (std::uint32_t q = 12; q < 40 && rig.RecTimeReplies().empty(); q += 4) {
        ack({}, q);
        rig.env.Advance(5);
    }
    collect();
    ASSERT_EQ(got.size(), 20u);
    for (const auto& [q, sub] : got) {
        const std::uint32_t t = 1000001 + q / 10;
        EXPECT_EQ(BE32(&sub[12]), t);
        EXPECT_EQ(BE32(&sub[16]), q % 10 * 100000);
        SdPosition pos;
        ASSERT_TRUE(SdAt(cam, *sd, t, q % 10, pos));
        EXPECT_EQ(Bytes(sub.begin() + 20, sub.end()), SdFrame(cam, *sd, 0, pos));
        // The codec data is the SD clip's, looped from the recording's start.
        const Bytes& es = sd->frames[(10 + q) % 20].es;
        EXPECT_TRUE(std::equal(es.rbegin(), es.rend(), sub.rbegin()));
    }
    EXPECT_EQ(rig.RecTimeReplies(), std::vector<std::uint8_t>{0x40}) << "end of the range";
}

// A datagram nobody acknowledges goes again after four round trips as the acknowledgements
// measure them (at least sd_resend_min_ms), not after the longest time, and each timed resend
// doubles its wait.
TEST(CamsimMedia, SdDownloadResendTimeFollowsTheRoundTripAndBacksOff)
{
    Rig rig(Scenario1(R"({"sd":{"width":176,"height":144,"fps":10,"gop":10,"clip_frames":20,"kbps":200},
                          "sd_window":2,"sd_resend_ms":400,"sd_resend_min_ms":20,"sd_datagram_bytes":100})"));
    rig.StartSdDownload();
    // Sequence 0 acknowledged 5 ms after it went out: four round trips are below the shortest
    // time, so 1 (sent with 0) and 2 (sent now) wait 20 ms.
    Bytes ack;
    PutU32(ack, 1);
    PutU32(ack, 0);
    PutU32(ack, 0);
    rig.RecTime(65, ack);
    auto timerResent = [&] {
        return nlohmann::json::parse(rig.media->Stats(rig.Cam()))["download_timer_resent"];
    };
    // Each goes when it is due, not at the next periodic tick: 1 at 20 ms, 2 at 25, then 40 ms on.
    rig.env.Advance(25);
    EXPECT_EQ(timerResent(), 2) << "1 and 2 after 20 ms";
    rig.env.Advance(29);
    EXPECT_EQ(timerResent(), 2) << "the next wait is 40 ms";
    rig.env.Advance(6);
    EXPECT_EQ(timerResent(), 4);
}

// At the end of a range few datagrams follow a lost one: one later datagram that arrived sends
// it again at once, where a window in full flow waits for three. Nothing is sent again for an
// acknowledgement that passes nothing over, and one passed over that is acknowledged before it
// went again tells no round trip.
TEST(CamsimMedia, SdDownloadTailGoesAgainWhenOneLaterDatagramArrived)
{
    Rig rig(Scenario1(R"({"sd":{"width":176,"height":144,"fps":10,"gop":10,"clip_frames":20,"kbps":200},
                          "sd_window":1000,"sd_resend_ms":400,"sd_resend_min_ms":20,"sd_datagram_bytes":100})"));
    // A clock well past zero, as a camera's is.
    rig.env.Advance(100000);
    rig.StartSdDownload(); // the whole range went at once
    auto stats = [&] { return nlohmann::json::parse(rig.media->Stats(rig.Cam())); };
    auto ack = [&](std::uint32_t q, std::uint32_t dwMark) {
        Bytes b;
        PutU32(b, 1);
        PutU32(b, q);
        PutU32(b, dwMark);
        rig.RecTime(65, b);
    };
    ASSERT_GT(stats()["download_inflight"].get<std::size_t>(), 3u);
    ack(0, 1);
    EXPECT_EQ(stats()["download_fast_resent"], 0);
    ack(2, 1); // passes 1 over
    EXPECT_EQ(stats()["download_fast_resent"], 1);
    EXPECT_EQ(stats()["download_timer_resent"], 0);
    // The rest still goes again after four round trips (at least 20 ms), not the longest time.
    ack(1, 3);
    rig.env.Advance(30);
    EXPECT_GT(stats()["download_timer_resent"], 0);
}

TEST(CamsimMedia, PlaybackFollowsPauseSpeedNextFrameAndEnds)
{
    Rig rig(Scenario1(R"({"sd":{"width":176,"height":144,"fps":10,"gop":10,"clip_frames":20,"kbps":200}})"));
    rig.StartVideo(PORT_PLAYBACK_B, 2);
    auto play = [&](std::uint32_t dwMode, std::uint8_t bSpeed, std::uint32_t dwStart) {
        Bytes b;
        PutU32(b, dwMode);
        PutU8(b, dwMode == 3 ? 30 : 0);
        PutU8(b, bSpeed);
        PutU32(b, dwStart);
        PutU32(b, 0);
        PutU32(b, 2145916800);
        PutU32(b, 0);
        rig.RecTime(50, b);
    };
    std::size_t nAudio = 0;
    auto times = [&] {
        std::vector<std::uint32_t> v;
        nAudio = 0;
        for (const auto& u : Reassemble(rig.out)) {
            if (u[12] == TYPE_AUDIO) {
                EXPECT_EQ(u.size(), 12 + 8 + 99u);
                ++nAudio;
                continue;
            }
            EXPECT_EQ(u[12], TYPE_H264_STAMPED);
            EXPECT_EQ(BE32(&u[4]), BE32(&u[12 + 10])); // the position is the frame's time
            v.push_back(BE32(&u[4]) * 10 + BE32(&u[8]) / 100000);
        }
        return v;
    };
    play(2, 1, 1000002);
    rig.RecTime(58, {0, 0, 0, 1}); // with the camera's sound
    rig.env.Advance(1050);
    auto v = times();
    ASSERT_GE(v.size(), 10u);
    EXPECT_NEAR(static_cast<double>(nAudio), 1050.0 / AUDIO_PERIOD_MS, 2);
    EXPECT_EQ(v.front(), 10000020u);
    for (std::size_t i = 1; i < v.size(); ++i)
        EXPECT_EQ(v[i], v[i - 1] + 1);
    for (const auto& d : rig.out)
        EXPECT_EQ(d.usPort, PORT_PLAYBACK_B);

    rig.RecTime(54, {});
    std::size_t n = times().size();
    rig.env.Advance(1000);
    EXPECT_EQ(times().size(), n) << "paused";
    rig.RecTime(60, {0}); // frame by frame
    rig.RecTime(56, {});
    rig.env.Advance(1000);
    EXPECT_EQ(times().size(), n);
    // Each step shows the frame after the last one shown: none of the reference chain is skipped.
    for (std::size_t k = 1; k <= 2; ++k) {
        rig.RecTime(66, {});
        v = times();
        ASSERT_EQ(v.size(), n + k);
        EXPECT_EQ(v[n + k - 1], v[n + k - 2] + 1);
    }

    // Fast to the end of the first recording, on to the event recording, then the end.
    rig.RecTime(60, {16});
    rig.env.Advance(2000);
    v = times();
    EXPECT_EQ(v.back(), 10001019u);
    EXPECT_NE(std::find(v.begin(), v.end(), 10001000u), v.end());
    EXPECT_EQ(rig.RecTimeReplies(), std::vector<std::uint8_t>{0x40});

    // Events only from after the event recording: nothing to play, the end at once.
    play(3, 1, 1000200);
    EXPECT_EQ(rig.RecTimeReplies().size(), 1u); // queued behind the first, unacknowledged one
}

TEST(CamsimMedia, TalkAudioIsDecodedIntoTheCamerasWavFileWhichAnotherCameraStreams)
{
    const std::string path = ::testing::TempDir() + "camsim_talk.wav";
    Rig rig(Scenario1(R"({"talk_wav":")" + path + R"("})"));
    gsm g = gsm_create();
    std::size_t nPos = 0;
    for (int pkt = 0; pkt < 50; ++pkt) {
        Bytes b{0x21, 0, 0, static_cast<std::uint8_t>(pkt), 0x34, 0x12, 0, 0};
        for (int k = 0; k < 3; ++k) {
            gsm_signal s[160];
            for (auto& x : s)
                x = static_cast<gsm_signal>(6000 * std::sin(2 * M_PI * 1000 * (nPos++) / 8000.0));
            gsm_byte c[33];
            gsm_encode(g, s, c);
            b.insert(b.end(), c, c + 33);
        }
        rig.Request(78, b);
    }
    rig.Request(78, {0x21, 0, 0, 0}); // cut short: counted, not written
    gsm_destroy(g);
    std::ifstream in(path, std::ios::binary);
    const Bytes f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(f.size(), 44 + 50 * 3 * 320u);
    std::string err;
    std::vector<std::int16_t> s;
    ASSERT_TRUE(ReadWav8k(path, s, err)) << err;
    EXPECT_NEAR(ToneHz(s), 1000, 20);
    EXPECT_NE(rig.media->Stats(rig.Cam()).find("\"talk_bad\":1"), std::string::npos);

    // The file as a camera's sound instead of the tone.
    Rig speaker(Scenario1(R"({"audio_wav":")" + path + R"("})"));
    speaker.StartVideo(PORT_LIVE, 0);
    speaker.env.Advance(1000);
    g = gsm_create();
    std::vector<std::int16_t> heard;
    for (const auto& u : Reassemble(speaker.out))
        for (std::size_t k = 8; u[0] == TYPE_AUDIO && k < u.size(); k += 33) {
            gsm_signal pcm[160];
            ASSERT_EQ(gsm_decode(g, const_cast<gsm_byte*>(&u[k]), pcm), 0);
            heard.insert(heard.end(), pcm, pcm + 160);
        }
    gsm_destroy(g);
    EXPECT_GE(heard.size(), 8000u);
    EXPECT_NEAR(ToneHz(heard), 1000, 30);
    std::remove(path.c_str());
}
