// The media engine: frame headers, picture sizes from real encoders' headers, and what each
// stream class lets through to the sink, the download manager and the acknowledgement.
#include "protocol/engmedia.h"
#include "protocol/videosize.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD CAMERA_ID = 0x0A0B0C0D;

Bytes FromHex(const std::string& str)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < str.size(); i += 2)
        out.push_back(static_cast<BYTE>(std::stoi(str.substr(i, 2), nullptr, 16)));
    return out;
}

void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}

void PutBE32(Bytes& b, DWORD dw)
{
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<BYTE>(dw >> (8 * i)));
}

// Frame header: type, marker, 16-bit value, camera id least significant byte first.
Bytes Header(BYTE byType, BYTE byMarker, WORD usValue, DWORD dwID = CAMERA_ID)
{
    Bytes b = {byType, byMarker, static_cast<BYTE>(usValue >> 8), static_cast<BYTE>(usValue)};
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<BYTE>(dwID >> (8 * i)));
    return b;
}

// A stamp header of 12 bytes: length, flags, two big-endian times, two bytes of format.
Bytes Stamp(DWORD dwTime1, DWORD dwTime2)
{
    Bytes b = {12, 0};
    PutBE32(b, dwTime1);
    PutBE32(b, dwTime2);
    b.push_back('F');
    b.push_back('T');
    return b;
}

// Sequence and object-layer headers as ffmpeg 5.1 (libx264, mpeg4) wrote them for a test
// pattern of the named size; the expected size is the encoder's input size.
const char* const SPS_1080P_HIGH = "0000000167640028acd940780227e5c044000003000400000300c83c60c658";

// A VOL laid out as the cameras' encoder writes it (object layer identifier present, no
// control parameters, fixed rate) with a time resolution of 1000.
Bytes CameraVol(DWORD dwWidth, DWORD dwHeight)
{
    std::vector<int> bits;
    auto put = [&bits](DWORD v, int n) {
        for (int i = n - 1; i >= 0; --i)
            bits.push_back((v >> i) & 1);
    };
    put(0x000001B0, 32);
    put(1, 8);
    put(0x000001B5, 32);
    put(0x09, 8);
    put(0x00000100, 32);
    put(0x00000120, 32);
    put(0, 1);     // random_accessible_vol
    put(1, 8);     // simple object
    put(1, 1);     // is_object_layer_identifier
    put(1, 4);     // verid
    put(1, 3);     // priority
    put(1, 4);     // aspect ratio
    put(0, 1);     // vol_control_parameters
    put(0, 2);     // rectangular
    put(1, 1);     // marker
    put(1000, 16); // vop_time_increment_resolution
    put(1, 1);     // marker
    put(1, 1);     // fixed_vop_rate
    put(40, 10);   // fixed_vop_time_increment
    put(1, 1);     // marker
    put(dwWidth, 13);
    put(1, 1);
    put(dwHeight, 13);
    put(1, 1);
    while (bits.size() % 8)
        bits.push_back(0);
    Bytes out(bits.size() / 8);
    for (std::size_t i = 0; i < bits.size(); ++i)
        out[i / 8] |= static_cast<BYTE>(bits[i] << (7 - i % 8));
    return out;
}

TEST(VideoSize, ReadsEncodersHeaders)
{
    struct Case {
        const char* pszName;
        Bytes header;
        bool bH264;
        std::uint32_t nWidth;
        std::uint32_t nHeight;
    };
    const Case cases[] = {
        {"H.264 High 1920x1080 (cropped from 1088)", FromHex(SPS_1080P_HIGH), true, 1920, 1080},
        {"H.264 Baseline 1280x720", FromHex("000000016742c01fd9005005bb011000000300100000030320f1832480"),
         true, 1280, 720},
        {"H.264 Main 176x144", FromHex("00000001674d400beca162760220000003002000000641e28532c0"), true, 176,
         144},
        {"H.264 High interlaced 720x576", FromHex("000000016764001eacd940b424d8088000000300800000190f8a14cb"),
         true, 720, 576},
        {"H.264 High 4:2:2 1918x1078",
         FromHex("00000001677a0028bcd940780227a8bc0440000003004000000c83c60c6580"), true, 1918, 1078},
        {"H.264 High 4:4:4 352x288", FromHex("0000000167f4000d919b282c12d808800000030080000019078a14cb"),
         true, 352, 288},
        {"MPEG-4 libavcodec 1280x720",
         FromHex("000001b001000001b58913000001000000012000c48d8800cd28045a1443"), false, 1280, 720},
        {"MPEG-4 libavcodec 704x576", FromHex("000001b001000001b58913000001000000012000c48d8800cd1604481443"),
         false, 704, 576},
        {"MPEG-4 camera layout 640x480", CameraVol(640, 480), false, 640, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::uint32_t w = 0;
        std::uint32_t h = 0;
        const auto read = c.bH264 ? videosize::ReadH264Size : videosize::ReadMpeg4Size;
        ASSERT_TRUE(read(c.header.data(), c.header.size(), &w, &h));
        EXPECT_EQ(w, c.nWidth);
        EXPECT_EQ(h, c.nHeight);
        // Every cut of the header either reads the same size or nothing, never past the end.
        for (std::size_t n = 0; n < c.header.size(); ++n) {
            Bytes cut(c.header.begin(), c.header.begin() + n);
            std::uint32_t cw = 7;
            std::uint32_t ch = 7;
            if (read(cut.data(), cut.size(), &cw, &ch)) {
                EXPECT_EQ(cw, c.nWidth);
                EXPECT_EQ(ch, c.nHeight);
            } else {
                EXPECT_EQ(cw, 7u);
                EXPECT_EQ(ch, 7u);
            }
        }
    }
}

TEST(EngMediaDecode, TypesMarkersAndExtensions)
{
    struct Case {
        const char* pszName;
        Bytes frame;
        int nResult;
        DWORD nCodec;
        BYTE byMode;
        BYTE bStamped;
        DWORD nWidth;
        DWORD nHeight;
    };
    Bytes h264Key = Header(0x61, 0, 0x1234);
    Append(h264Key, Stamp(0x01020304, 0x0A0B0C0D));
    Append(h264Key, FromHex(SPS_1080P_HIGH));
    Bytes h264Later = Header(0x61, 3, 0x1234);
    Append(h264Later, Stamp(1, 2));
    Append(h264Later, FromHex(SPS_1080P_HIGH));
    Bytes mpeg4Plain = Header(0x13, 0, 7);
    Append(mpeg4Plain, CameraVol(640, 480));
    Bytes mpeg4Stamped = Header(0x51, 0, 7);
    Append(mpeg4Stamped, Stamp(1, 2));
    Append(mpeg4Stamped, CameraVol(320, 240));
    Bytes audio = Header(0x2F, 0x99, 9);
    audio.resize(audio.size() + 33, 0x55);
    const Case cases[] = {
        {"H.264 key frame", h264Key, 1, MEDIA_CODEC_H264, 1, 1, 1920, 1080},
        {"H.264 later segment keeps the default size", h264Later, 1, MEDIA_CODEC_H264, 1, 1, 720, 576},
        {"0x13 reads as plain MPEG-4 without mode", mpeg4Plain, 1, MEDIA_CODEC_MPEG4, 0, 0, 640, 480},
        {"stamped MPEG-4", mpeg4Stamped, 1, MEDIA_CODEC_MPEG4, 1, 1, 320, 240},
        {"0x2F reads as audio", audio, 1, MEDIA_CODEC_AUDIO, 0x0F, 0, 0, 0},
        {"0x41 is invalid", Header(0x41, 0, 0), 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Bytes frame = c.frame;
        MediaFrame out;
        ASSERT_EQ(CEngMedia::DecodeMedia(frame.data(), static_cast<DWORD>(frame.size()), &out), c.nResult);
        if (c.nResult == 0)
            continue;
        EXPECT_EQ(out.nCodec, c.nCodec);
        EXPECT_EQ(out.byMode, c.byMode);
        EXPECT_EQ(out.bStamped, c.bStamped);
        EXPECT_EQ(out.nWidth, c.nWidth);
        EXPECT_EQ(out.nHeight, c.nHeight);
        EXPECT_EQ(out.ulCameraID, CAMERA_ID);
        EXPECT_EQ(out.pData, frame.data() + 8);
        EXPECT_EQ(out.nLen, frame.size() - 8);
        EXPECT_EQ(out.bySubSequence, c.nCodec == MEDIA_CODEC_AUDIO ? 0 : c.frame[1]);
        EXPECT_EQ(out.usSequence, static_cast<WORD>(c.frame[2] << 8 | c.frame[3]));
    }
    // The stamp's times are now in host order, in place.
    DWORD dwTime1 = 0;
    std::memcpy(&dwTime1, h264Key.data() + 8 + 2, 4);
    MediaFrame out;
    CEngMedia::DecodeMedia(h264Key.data(), static_cast<DWORD>(h264Key.size()), &out);
    std::memcpy(&dwTime1, h264Key.data() + 8 + 2, 4);
    EXPECT_EQ(dwTime1, 0x01020304u);
}

TEST(EngMediaDecode, ShortFramesThrowInsteadOfReadingPastTheEnd)
{
    Bytes stamped = Header(0x61, 0, 1);
    Append(stamped, Stamp(1, 2));
    Bytes badExtension = Header(0x61, 0, 1);
    Append(badExtension, Bytes{4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (std::size_t n = 0; n < stamped.size(); ++n) {
        Bytes cut(stamped.begin(), stamped.begin() + n);
        MediaFrame out;
        EXPECT_ANY_THROW(CEngMedia::DecodeMedia(cut.data(), static_cast<DWORD>(cut.size()), &out)) << n;
    }
    MediaFrame out;
    EXPECT_ANY_THROW(
        CEngMedia::DecodeMedia(badExtension.data(), static_cast<DWORD>(badExtension.size()), &out));
}

// --- Stream classes ---

std::vector<MediaFrame> g_sunk;

class CFakeContext : public IMediaContext {
public:
    bool HasWatchedDevice() override { return !mapWatched.empty(); }
    DWORD GetWatchedPlayType(DWORD dwID) override
    {
        const auto it = mapWatched.find(dwID);
        return it != mapWatched.end() ? it->second : 0;
    }
    bool HasSearchItem(DWORD dwID) override
    {
        return dwID == CAMERA_ID || dwID == OTHER_ID || dwID == THIRD_ID;
    }
    bool TakeChangeIp(DWORD, int nType) override
    {
        if (!bChangeIp || nType == 1)
            return false;
        bChangeIp = false;
        return true;
    }
    void ResendStartVideo(DWORD dwID) override { vecResends.push_back(dwID); }
    bool IsDownloading(DWORD dwID) override { return dwID == dwDownloading; }
    bool GetDownloadDevice(DWORD, WORD* pusMsVersion) override
    {
        *pusMsVersion = usMsVersion;
        return bDeviceOnline;
    }
    DWORD GetMaxContinuousAck(DWORD) override { return dwMaxContinuous; }
    void FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq) override
    {
        feeds.push_back({dwSendSeq, frame.dwValue1, frame.dwValue2, frame.dwFrameClass, frame.nPacketLen,
                         frame.stFrame.ulCameraID});
    }
    bool IsDownloadKept(DWORD, DWORD dwSendSeq) override { return dwSendSeq != dwNotKept; }
    void SendDownloadAck(DWORD dwID, const DWORD* pSequences, std::size_t nCount, DWORD unMax) override
    {
        acks.push_back({dwID, std::vector<DWORD>(pSequences, pSequences + nCount), unMax});
    }
    void NotifyPlayPosition(DWORD dwID, const DWORD* pPosition) override
    {
        EXPECT_EQ(dwID, g_sunk.empty() ? 0 : g_sunk.back().ulCameraID);
        positions.push_back({pPosition[0], pPosition[1]});
    }

    static constexpr DWORD OTHER_ID = 0x99;
    static constexpr DWORD THIRD_ID = 0x7777;
    struct Feed {
        DWORD dwSeq, dwValue1, dwValue2, dwClass, nLen, dwID;
    };
    struct Ack {
        DWORD dwID;
        std::vector<DWORD> seqs;
        DWORD dwMax;
    };
    // Watched cameras and their play types.
    std::map<DWORD, DWORD> mapWatched = {{CAMERA_ID, 1}};
    bool bChangeIp = false;
    std::vector<DWORD> vecResends;
    DWORD dwDownloading = CAMERA_ID;
    bool bDeviceOnline = true;
    WORD usMsVersion = 4;
    DWORD dwNotKept = 0xFFFFFFFF; // the task drops this sequence
    DWORD dwMaxContinuous = 77;
    std::vector<Feed> feeds;
    std::vector<Ack> acks;
    std::vector<std::pair<DWORD, DWORD>> positions;
};

void Sink(MediaFrame* pFrame)
{
    g_sunk.push_back(*pFrame);
}

class EngMediaReceive : public ::testing::Test {
protected:
    EngMediaReceive()
    {
        g_sunk.clear();
        m_engine.SetContext(&m_context);
        m_engine.SetMediaSink(nullptr, &Sink);
        for (int i = 0; i < CEngMedia::GROUP_COUNT; ++i)
            m_engine.SetGroupForTest(i, &m_groups[i]);
    }
    void Receive(int nGroup, Bytes data) // by value: the engine converts in place
    {
        m_engine.ReceiveData(data.data(), static_cast<int>(data.size()), 0xC6120505, 5000, &m_groups[nGroup]);
    }

    CFakeContext m_context;
    CEngMedia m_engine;
    SocketGroup m_groups[CEngMedia::GROUP_COUNT];
};

// Every watched live camera's frames reach the one sink, each carrying its camera's id; the
// frames of a camera not watched, or watched for playback, do not.
TEST_F(EngMediaReceive, LiveFramesReachTheSinkForEveryWatchedLiveCamera)
{
    const auto live = [](DWORD dwID) {
        Bytes frame = Header(0x61, 1, 5, dwID);
        Append(frame, Stamp(1, 2));
        return frame;
    };
    using Watched = std::map<DWORD, DWORD>;
    const Watched two = {{CAMERA_ID, 1}, {CFakeContext::OTHER_ID, 1}};
    const Bytes whole = live(CAMERA_ID);
    struct Case {
        const char* pszName;
        Watched watched;
        Bytes frame;
        int nGroup;
        bool bSunk;
    };
    const Case cases[] = {
        {"watched, unicast", two, live(CAMERA_ID), CEngMedia::GROUP_LIVE, true},
        {"the other watched one, multicast", two, live(CFakeContext::OTHER_ID), CEngMedia::GROUP_LIVE_MC,
         true},
        {"a known camera not watched", two, live(CFakeContext::THIRD_ID), CEngMedia::GROUP_LIVE, false},
        {"nothing watched", {}, live(CAMERA_ID), CEngMedia::GROUP_LIVE, false},
        {"watched for playback", {{CAMERA_ID, 2}}, live(CAMERA_ID), CEngMedia::GROUP_LIVE, false},
        {"unknown camera", two, live(0x4242), CEngMedia::GROUP_LIVE, false},
        {"invalid type", two, Header(0x41, 1, 5), CEngMedia::GROUP_LIVE, false},
        {"short frame", two, Bytes(whole.begin(), whole.begin() + 12), CEngMedia::GROUP_LIVE, false},
        {"not a media group", two, live(CAMERA_ID), -1, false},
    };
    SocketGroup foreign;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        g_sunk.clear();
        m_context.mapWatched = c.watched;
        Bytes data = c.frame;
        m_engine.ReceiveData(data.data(), static_cast<int>(data.size()), 1, 2,
                             c.nGroup >= 0 ? &m_groups[c.nGroup] : &foreign);
        ASSERT_EQ(g_sunk.size(), c.bSunk ? 1u : 0u);
        if (c.bSunk) {
            EXPECT_EQ(g_sunk[0].ulCameraID,
                      static_cast<DWORD>(data[4] | data[5] << 8 | data[6] << 16 | data[7] << 24));
        }
    }
    // A changed path on multicast resends start video once, for the camera whose frame showed it.
    m_context.mapWatched = two;
    m_context.bChangeIp = true;
    Receive(CEngMedia::GROUP_LIVE_MC, live(CFakeContext::OTHER_ID));
    Receive(CEngMedia::GROUP_LIVE_MC, live(CFakeContext::OTHER_ID));
    EXPECT_EQ(m_context.vecResends, std::vector<DWORD>{CFakeContext::OTHER_ID});
}

// Taps take live frames with or without a sink; one that leaves inside its call does not make
// the next tap miss that frame, and gets no frame after it.
TEST_F(EngMediaReceive, TapsSeeLiveFramesWithOrWithoutASink)
{
    struct Tap {
        CEngMedia* pEngine;
        std::vector<DWORD> vecIDs;
        bool bLeave = false;
        static void Take(void* pContext, const MediaFrame& frame)
        {
            auto* pTap = static_cast<Tap*>(pContext);
            pTap->vecIDs.push_back(frame.ulCameraID);
            if (pTap->bLeave)
                pTap->pEngine->RemoveMediaTap(pTap);
        }
    };
    Tap first{&m_engine, {}, true};
    Tap second{&m_engine, {}};
    m_engine.AddMediaTap(&first, &Tap::Take);
    m_engine.AddMediaTap(&second, &Tap::Take);
    m_engine.SetMediaSink(nullptr, nullptr);
    m_context.mapWatched = {{CAMERA_ID, 1}, {CFakeContext::OTHER_ID, 1}};
    for (DWORD dwID : {CAMERA_ID, CFakeContext::OTHER_ID, CFakeContext::THIRD_ID}) {
        Bytes frame = Header(0x61, 1, 5, dwID);
        Append(frame, Stamp(1, 2));
        Receive(CEngMedia::GROUP_LIVE, frame);
    }
    EXPECT_EQ(first.vecIDs, std::vector<DWORD>{CAMERA_ID});
    EXPECT_EQ(second.vecIDs, (std::vector<DWORD>{CAMERA_ID, CFakeContext::OTHER_ID}));
    EXPECT_TRUE(g_sunk.empty());
    m_engine.RemoveMediaTap(&second);
}

TEST_F(EngMediaReceive, PlaybackFramesCarryTheirPositionToTheBus)
{
    Bytes prefixed;
    PutBE32(prefixed, 0xFFFFFFFF);
    PutBE32(prefixed, 1111);
    PutBE32(prefixed, 2222);
    Append(prefixed, Header(0x21, 0, 3));
    prefixed.resize(prefixed.size() + 33);
    m_context.mapWatched = {{CAMERA_ID, 2}};
    Receive(CEngMedia::GROUP_PLAYBACK_A, prefixed);
    Receive(CEngMedia::GROUP_PLAYBACK_B, prefixed); // stream B needs play type 3
    Receive(CEngMedia::GROUP_PLAYBACK_A, Bytes(prefixed.begin(), prefixed.begin() + 11));
    m_context.mapWatched = {{CAMERA_ID, 3}};
    Receive(CEngMedia::GROUP_PLAYBACK_B_MC, prefixed);
    m_context.mapWatched = {{CFakeContext::OTHER_ID, 3}};
    Receive(CEngMedia::GROUP_PLAYBACK_B, prefixed);
    ASSERT_EQ(g_sunk.size(), 2u);
    EXPECT_EQ(g_sunk[0].nCodec, MEDIA_CODEC_AUDIO);
    EXPECT_EQ(g_sunk[0].nLen, 33u);
    EXPECT_EQ(m_context.positions, (std::vector<std::pair<DWORD, DWORD>>{{1111, 2222}, {1111, 2222}}));
}

// One download datagram: sub-packets of a 20-byte header and one media frame each.
Bytes SubPacket(DWORD dwSeq, const Bytes& frame, DWORD nLenOverride = 0)
{
    const DWORD nTotal = nLenOverride != 0 ? nLenOverride : static_cast<DWORD>(frame.size() + 20);
    Bytes b = {static_cast<BYTE>(nTotal >> 8),
               static_cast<BYTE>(nTotal),
               static_cast<BYTE>(nTotal >> 16),
               0,
               0,
               0,
               0,
               0};
    PutBE32(b, dwSeq);
    PutBE32(b, dwSeq * 10);
    PutBE32(b, dwSeq * 100);
    Append(b, frame);
    return b;
}

TEST_F(EngMediaReceive, DownloadDatagramsFeedEachSubPacketAndAckOnce)
{
    Bytes video = Header(0x61, 1, 1);
    Append(video, Stamp(1, 2));
    Bytes audio = Header(0x21, 0, 2);
    audio.resize(41);
    Bytes big = Header(0x11, 1, 3);
    big.resize(70000 - 20, 0xEE);

    struct Case {
        const char* pszName;
        Bytes datagram;
        WORD usMsVersion;
        std::vector<DWORD> vecFed;
        std::vector<DWORD> vecAcked; // empty: no acknowledgement
        DWORD dwNotKept = 0xFFFFFFFF;
    };
    Bytes three = SubPacket(5, video);
    Append(three, SubPacket(6, audio));
    Append(three, SubPacket(7, video));
    Bytes badSecond = SubPacket(5, video);
    Append(badSecond, SubPacket(6, audio, 20));
    Bytes overlong = SubPacket(5, video);
    Append(overlong, SubPacket(6, audio, 500));
    Bytes badType = SubPacket(5, video);
    Append(badType, SubPacket(6, Header(0x41, 0, 0)));
    Bytes trailer = SubPacket(5, video);
    trailer.resize(trailer.size() + 20, 0);
    const std::vector<Case> cases = {
        {"three sub-packets", three, 4, {5, 6, 7}, {5, 6, 7}},
        {"one the task could not keep is not acknowledged", three, 4, {5, 6, 7}, {5, 7}, 6},
        {"length 20 stops the datagram", badSecond, 4, {5}, {}},
        {"length beyond the datagram", overlong, 4, {5}, {}},
        {"invalid type stops the datagram", badType, 4, {5}, {}},
        {"a trailer of 20 bytes is not a sub-packet", trailer, 4, {5}, {5}},
        {"high length byte counts from version 4", SubPacket(8, big), 4, {8}, {8}},
        // Version 3 reads 70000 as 4464: the first frame is cut short and the rest is garbage.
        {"and not before", SubPacket(8, big), 3, {8}, {}},
        {"27 bytes", Bytes(three.begin(), three.begin() + 27), 4, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_context.feeds.clear();
        m_context.acks.clear();
        m_context.usMsVersion = c.usMsVersion;
        m_context.dwNotKept = c.dwNotKept;
        Receive(CEngMedia::GROUP_DOWNLOAD, c.datagram);
        std::vector<DWORD> fed;
        for (const auto& feed : m_context.feeds) {
            fed.push_back(feed.dwSeq);
            EXPECT_EQ(feed.dwValue1, feed.dwSeq * 10);
            EXPECT_EQ(feed.dwValue2, feed.dwSeq * 100);
            EXPECT_EQ(feed.dwID, CAMERA_ID);
        }
        EXPECT_EQ(fed, c.vecFed);
        if (c.vecAcked.empty()) {
            EXPECT_TRUE(m_context.acks.empty());
        } else {
            ASSERT_EQ(m_context.acks.size(), 1u);
            EXPECT_EQ(m_context.acks[0].dwID, CAMERA_ID);
            EXPECT_EQ(m_context.acks[0].seqs, c.vecAcked);
            EXPECT_EQ(m_context.acks[0].dwMax, 77u);
        }
    }

    // Not downloading, or the record gone or offline: nothing is fed or acknowledged.
    for (int i = 0; i < 2; ++i) {
        m_context.feeds.clear();
        m_context.acks.clear();
        m_context.dwDownloading = i == 0 ? 0 : CAMERA_ID;
        m_context.bDeviceOnline = i == 0;
        Receive(CEngMedia::GROUP_DOWNLOAD_MC, three);
        EXPECT_TRUE(m_context.feeds.empty());
        EXPECT_TRUE(m_context.acks.empty());
    }
}

// Through the socket manager one drain gives one acknowledgement: every sequence of the drain in
// arrival order, none of a datagram that stopped with an error, and the continuous mark as it is
// at the end; a long drain acknowledges every ACK_BATCH_SEQUENCES sub-packets on the way.
TEST_F(EngMediaReceive, ADrainIsAcknowledgedOnceWithTheMarkItEndsWith)
{
    Bytes video = Header(0x61, 1, 1);
    Append(video, Stamp(1, 2));
    Bytes three = SubPacket(5, video);
    Append(three, SubPacket(6, video));
    Append(three, SubPacket(7, video));
    Bytes badSecond = SubPacket(9, video);
    Append(badSecond, SubPacket(10, video, 20));
    SocketGroup* pGroup = &m_groups[CEngMedia::GROUP_DOWNLOAD];
    auto receive = [&](Bytes data) {
        m_engine.OnReceive(data.data(), static_cast<int>(data.size()), 0xC6120505, 5000, pGroup, 0x8000);
    };

    receive(three);
    receive(badSecond);
    m_context.dwMaxContinuous = 9;
    receive(SubPacket(8, video));
    EXPECT_TRUE(m_context.acks.empty());
    m_engine.OnDrainEnd(pGroup, 0x8000);
    ASSERT_EQ(m_context.acks.size(), 1u);
    EXPECT_EQ(m_context.acks[0].dwID, CAMERA_ID);
    EXPECT_EQ(m_context.acks[0].seqs, (std::vector<DWORD>{5, 6, 7, 8}));
    EXPECT_EQ(m_context.acks[0].dwMax, 9u);
    // Nothing new, nothing sent.
    m_engine.OnDrainEnd(pGroup, 0x8000);
    EXPECT_EQ(m_context.acks.size(), 1u);

    m_context.acks.clear();
    const DWORD nBatch = static_cast<DWORD>(CEngMedia::ACK_BATCH_SEQUENCES);
    for (DWORD q = 100; q < 100 + nBatch + 3; ++q)
        receive(SubPacket(q, video));
    ASSERT_EQ(m_context.acks.size(), 1u);
    EXPECT_EQ(m_context.acks[0].seqs.size(), nBatch);
    EXPECT_EQ(m_context.acks[0].seqs.back(), 100 + nBatch - 1);
    m_engine.OnDrainEnd(pGroup, 0x8000);
    ASSERT_EQ(m_context.acks.size(), 2u);
    EXPECT_EQ(m_context.acks[1].seqs, (std::vector<DWORD>{100 + nBatch, 101 + nBatch, 102 + nBatch}));
}

} // namespace
