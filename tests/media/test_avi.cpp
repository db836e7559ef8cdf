// AVI writer: the file layout against the format's table, the rules that end a file or drop a
// segment, the frame timing, and ffprobe/ffmpeg as outside readers of what we write.
#include "media/avi/aviprocess.h"
#include "media/avi/aviwriter.h"
#include "media/avi/fpsstat.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DWORD Le32(const std::vector<BYTE>& v, std::size_t n)
{
    return v[n] | v[n + 1] << 8 | v[n + 2] << 16 | static_cast<DWORD>(v[n + 3]) << 24;
}

WORD Le16(const std::vector<BYTE>& v, std::size_t n)
{
    return static_cast<WORD>(v[n] | v[n + 1] << 8);
}

DWORD Fcc(const char* sz)
{
    return static_cast<BYTE>(sz[0]) | static_cast<BYTE>(sz[1]) << 8 | static_cast<BYTE>(sz[2]) << 16 |
           static_cast<DWORD>(static_cast<BYTE>(sz[3])) << 24;
}

std::string RunTool(const std::string& strCommand)
{
    std::string strOut;
    std::FILE* pPipe = popen(strCommand.c_str(), "r");
    if (pPipe == nullptr)
        return strOut;
    char ach[4096];
    std::size_t n;
    while ((n = std::fread(ach, 1, sizeof ach, pPipe)) > 0)
        strOut.append(ach, n);
    pclose(pPipe);
    return strOut;
}

class CRecordingOwner : public IREZORIROwner {
public:
    void NeedReCreateFile() override { ++nReCreate; }
    void OnError(int nErrorID) override { vecErrors.push_back(nErrorID); }
    int nReCreate = 0;
    std::vector<int> vecErrors;
};

// A 320×240 baseline SPS (20 × 15 macroblocks) behind a start code.
const std::vector<BYTE> SPS_320x240 = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0D, 0xDA, 0x05, 0x07, 0xE8, 0x40};

// One segment: 10-byte stamp header (length, flags, seconds, microseconds in host order)
// and the payload.
std::vector<BYTE> Segment(DWORD dwSeconds, DWORD dwMicroseconds, const std::vector<BYTE>& payload,
                          BYTE byStampLen = 10)
{
    std::vector<BYTE> v(byStampLen, 0);
    v[0] = byStampLen;
    if (byStampLen >= 10) {
        std::memcpy(&v[2], &dwSeconds, 4);
        std::memcpy(&v[6], &dwMicroseconds, 4);
    }
    v.insert(v.end(), payload.begin(), payload.end());
    return v;
}

} // namespace

TEST(AviWriter, LayoutOfASmallFileMatchesTheFormatTable)
{
    QTemporaryDir dir;
    const std::string strPath = dir.filePath("a.avi").toStdString();
    AVIWriter writer;
    ASSERT_TRUE(writer.Open(strPath, AVI_VIDEO_TSHD, 0, 0, 0.0f));
    writer.SetSize(320, 240);
    const std::vector<BYTE> v10(10, 0xA1), v7(7, 0xB2), v4(4, 0xC3), a5(5, 0xD4);
    ASSERT_TRUE(writer.WriteVideoChunk(true, v10.data(), 10));
    ASSERT_TRUE(writer.WriteVideoChunk(false, v7.data(), 3, v7.data() + 3, 4)); // odd: a pad follows
    ASSERT_TRUE(writer.WriteVideoChunk(true, v4.data(), 4));
    ASSERT_TRUE(writer.WriteAudioChunk(a5.data(), 5));
    ASSERT_TRUE(writer.Close());

    const std::vector<BYTE> f = ReadFile(strPath);
    // Chunks: 18 + 15 + pad + 12 + 13, then the closing pad, idx1 and 4 entries.
    const std::size_t nMovie = 18 + 15 + 1 + 12 + 13;
    ASSERT_EQ(f.size(), 326 + nMovie + 1 + 8 + 4 * 16);
    const struct {
        std::size_t nOffset;
        DWORD dwValue;
    } aHeader[] = {
        {0, Fcc("RIFF")},
        {4, static_cast<DWORD>(f.size() - 8)},
        {8, Fcc("AVI ")},
        {12, Fcc("LIST")},
        {16, 294},
        {20, Fcc("hdrl")},
        {24, Fcc("avih")},
        {28, 56},
        {32, 66666}, // no measured rate: 15 frames per second
        {36, 0},
        {40, 0},
        {44, 0x810},
        {48, 3},
        {52, 0},
        {56, 2},
        {60, 320 * 240 * 3},
        {64, 320},
        {68, 240},
        {72, 0},
        {84, 0},
        {88, Fcc("LIST")},
        {92, 116},
        {96, Fcc("strl")},
        {100, Fcc("strh")},
        {104, 56},
        {108, Fcc("vids")},
        {112, Fcc("tshd")},
        {116, 0},
        {120, 0},
        {124, 0},
        {128, 100},
        {132, 1500},
        {136, 0},
        {140, 3},
        {144, 320 * 240 * 3},
        {148, 0},
        {152, 0},
        {156, 0},
        {160, 240u << 16 | 320u},
        {164, Fcc("strf")},
        {168, 40},
        {172, 40},
        {176, 320},
        {180, 240},
        {184, 24u << 16 | 1u},
        {188, Fcc("tshd")},
        {192, 320 * 240 * 3},
        {196, 0},
        {208, 0},
        {212, Fcc("LIST")},
        {216, 94},
        {220, Fcc("strl")},
        {224, Fcc("strh")},
        {228, 56},
        {232, Fcc("auds")},
        {236, 0},
        {240, 0},
        {244, 0},
        {248, 0},
        {252, 2},
        {256, 1650},
        {260, 0},
        {264, 1},
        {268, 0},
        {284, 0},
        {288, Fcc("strf")},
        {292, 18},
        {296, 1u << 16 | 49u},
        {300, 825},
        {304, 1650},
        {308, 16u << 16 | 2u},
        {314, Fcc("LIST")},
        {318, static_cast<DWORD>(nMovie + 4)},
        {322, Fcc("movi")},
    };
    for (const auto& field : aHeader)
        EXPECT_EQ(Le32(f, field.nOffset), field.dwValue) << "offset " << field.nOffset;
    EXPECT_EQ(Le16(f, 312), 0); // extra size

    const struct {
        const char* pszID;
        DWORD dwFlags;
        DWORD dwOffset;
        DWORD dwLength;
        BYTE byFill;
    } aChunks[] = {{"00db", 0x10, 4, 10, 0xA1},
                   {"00dc", 0, 22, 7, 0xB2},
                   {"00db", 0x10, 38, 4, 0xC3},
                   {"01wb", 0x10, 50, 5, 0xD4}};
    const std::size_t nIndex = 326 + nMovie + 1;
    EXPECT_EQ(Le32(f, nIndex), Fcc("idx1"));
    EXPECT_EQ(Le32(f, nIndex + 4), 64u);
    for (int i = 0; i < 4; ++i) {
        const auto& c = aChunks[i];
        const std::size_t e = nIndex + 8 + 16 * i;
        EXPECT_EQ(Le32(f, e), Fcc(c.pszID)) << i;
        EXPECT_EQ(Le32(f, e + 4), c.dwFlags) << i;
        EXPECT_EQ(Le32(f, e + 8), c.dwOffset) << i;
        EXPECT_EQ(Le32(f, e + 12), c.dwLength) << i;
        const std::size_t nChunk = 322 + c.dwOffset; // offsets count from "movi"
        EXPECT_EQ(nChunk % 2, 0u) << i;
        EXPECT_EQ(Le32(f, nChunk), Fcc(c.pszID)) << i;
        EXPECT_EQ(Le32(f, nChunk + 4), c.dwLength) << i;
        EXPECT_EQ(std::vector<BYTE>(f.begin() + nChunk + 8, f.begin() + nChunk + 8 + c.dwLength),
                  std::vector<BYTE>(c.dwLength, c.byFill))
            << i;
    }
    EXPECT_EQ(f[326 + 18 + 15], 0); // the pad byte after the odd chunk
}

TEST(AviProcess, SegmentRulesDecideWhatIsWrittenAndWhenTheFileEnds)
{
    const std::vector<BYTE> idr = [] {
        std::vector<BYTE> v = SPS_320x240;
        v.insert(v.end(), {0, 0, 0, 1, 0x65, 0x88, 0x84});
        return v;
    }();
    const std::vector<BYTE> sps176 = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0A, 0xF4, 0x16, 0x27, 0x20};
    const std::vector<BYTE> pFrame = {0, 0, 0, 1, 0x41, 0x9A, 0x02};
    struct Step {
        std::vector<BYTE> data;
        BYTE bySub;
        bool bResult;
    };
    const struct {
        const char* pszName;
        std::vector<Step> steps;
        int nReCreate;
        DWORD dwVideoChunks;
    } aCases[] = {
        {"frames and their continuations are written",
         {{Segment(100, 0, idr), 0, true},
          {Segment(100, 0, {7, 7, 7}), 1, true},
          {Segment(100, 66666, pFrame), 0, true}},
         0,
         3},
        {"a file cannot start without a parameter set", {{Segment(100, 0, pFrame), 0, false}}, 0, 0},
        {"a short stamp header drops the segment silently",
         {{Segment(100, 0, idr), 0, true}, {Segment(100, 0, idr, 9), 0, true}},
         0,
         1},
        {"a stamp header without payload drops the segment",
         {{Segment(100, 0, idr), 0, true}, {Segment(100, 0, {}), 1, true}},
         0,
         1},
        {"a new picture size ends the file before the segment",
         {{Segment(100, 0, idr), 0, true}, {Segment(100, 66666, sps176), 0, false}},
         1,
         1},
        {"the time span limit ends the file at the next parameter set",
         {{Segment(100, 0, idr), 0, true},
          {Segment(100 + 60, 0, pFrame), 0, true},
          {Segment(100 + 61, 0, idr), 0, false}},
         1,
         2},
        {"the size limit waits for a key frame as well",
         {{Segment(100, 0, idr), 0, true},
          {Segment(100, 0, std::vector<BYTE>(1 << 20, 1)), 1, true},
          {Segment(100, 66666, pFrame), 0, true},
          {Segment(100, 133333, idr), 0, false}},
         1,
         3},
        {"a key frame without a parameter set ends a file at the limit too",
         {{Segment(100, 0, idr), 0, true},
          {Segment(100, 0, std::vector<BYTE>(1 << 20, 1)), 1, true},
          {Segment(100, 66666, pFrame), 1, true},
          {Segment(101, 0, {0, 0, 0, 1, 0x65, 0x88, 0x84}), 1, false}},
         1,
         3},
        {"a frame whose head has no whole stamp header leaves nothing of itself",
         {{Segment(100, 0, idr), 0, true},
          {Segment(100, 66666, pFrame, 9), 0, true},
          {Segment(100, 66666, {7, 7, 7}), 1, false},
          {Segment(100, 133333, pFrame), 0, true}},
         0,
         2},
        {"a picture before any parameter set is refused whole, its continuation too",
         {{Segment(100, 0, pFrame), 1, false},
          {Segment(100, 0, {7, 7, 7}), 2, false},
          {Segment(100, 66666, idr), 0, true}},
         0,
         1},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        QTemporaryDir dir;
        const std::u16string strPath = Utf8ToWide(dir.filePath("p.avi").toStdString());
        CRecordingOwner owner;
        {
            CAVIProcess process(&owner);
            ASSERT_TRUE(process.Create(strPath.c_str(), nullptr, 0, REZORIR_MODE_H264, -1, -1, -1));
            process.SetMaxSpan(60);
            process.SetMaxFileSize(1);
            WORD usSeq = 1;
            BYTE byLast = 0;
            for (const Step& step : c.steps) {
                // A new frame: sub-sequence 0, or one that does not continue the last.
                if (step.bySub == 0 || step.bySub != byLast + 1)
                    ++usSeq;
                byLast = step.bySub;
                EXPECT_EQ(process.WriteVideo(step.data.data(), static_cast<DWORD>(step.data.size()), usSeq,
                                             step.bySub),
                          step.bResult);
            }
        }
        EXPECT_EQ(owner.nReCreate, c.nReCreate);
        EXPECT_TRUE(owner.vecErrors.empty());
        const std::vector<BYTE> f = ReadFile(WideToUtf8(strPath));
        ASSERT_GE(f.size(), 326u);
        EXPECT_EQ(Le32(f, 140), c.dwVideoChunks);
    }
}

TEST(AviProcess, StampHeaderIsRebuiltWithTheCaptionCutToFit)
{
    CRecordingOwner owner;
    const struct {
        std::u16string strCaption;
        std::size_t nChars;
    } aCases[] = {{u"", 0}, {u"Gate 门", 6}, {std::u16string(200, u'x'), 121}};
    for (const auto& c : aCases) {
        CAVIProcess process(&owner);
        QTemporaryDir dir;
        const std::u16string strPath = Utf8ToWide(dir.filePath("c.avi").toStdString());
        ASSERT_TRUE(process.Create(strPath.c_str(), c.strCaption.c_str(), 0, REZORIR_MODE_H264, -1, -1, -1));
        std::vector<BYTE> seg = Segment(0x01020304, 0x0A0B0C0D, {9, 9}, 14); // 4 bytes of text are not kept
        seg[1] = 0x5A;
        BYTE abyOut[CAVIProcess::HEADER_BUFFER];
        const std::size_t nLen =
            process.RebuildStampHeader(seg.data(), static_cast<DWORD>(seg.size()), abyOut);
        const std::size_t nExpected = c.nChars == 0 ? 10 : 10 + 2 * c.nChars + 3;
        ASSERT_EQ(nLen, nExpected);
        EXPECT_EQ(abyOut[0], nExpected);
        EXPECT_EQ(std::memcmp(abyOut + 1, seg.data() + 1, 9), 0);
        if (c.nChars == 0)
            continue;
        EXPECT_EQ(abyOut[10], 2 * c.nChars + 2);
        for (std::size_t i = 0; i < c.nChars; ++i)
            EXPECT_EQ(abyOut[11 + 2 * i] | abyOut[12 + 2 * i] << 8, c.strCaption[i]);
        EXPECT_EQ(abyOut[nLen - 2] | abyOut[nLen - 1], 0);
    }
}

TEST(FpsStat, MeasuresTheRateAndReportsOnlySteadyRateChanges)
{
    struct Frame {
        std::int64_t llInterval; // 100 µs units
        int nSegments;
    };
    auto run = [](CFPSStat& stat, int nFrames, std::int64_t llInterval, std::int64_t& llTime, WORD& usSeq,
                  int nSegments = 1) {
        bool bChange = false;
        for (int i = 0; i < nFrames; ++i) {
            for (int s = 0; s < nSegments; ++s)
                stat.Offer(usSeq, static_cast<BYTE>(s), llTime);
            bChange = stat.CheckFrameRateChange() || bChange;
            ++usSeq;
            llTime += llInterval;
        }
        return bChange;
    };
    {
        SCOPED_TRACE("steady 15 per second, 2 segments each: the rate counts segments, no change");
        CFPSStat stat;
        std::int64_t t = 0;
        WORD s = 65500; // the ring follows the sequence across its wrap
        EXPECT_FALSE(run(stat, 300, 666, t, s, 2));
        EXPECT_NEAR(stat.GetFrameRate(), 2 * 10000.0 / 666 * 299.0 / 299.5, 0.5);
    }
    {
        SCOPED_TRACE("frames without a codec header marked 1 still count as frames");
        CFPSStat stat;
        for (int i = 0; i < 150; ++i)
            stat.Offer(static_cast<WORD>(i), i % 15 == 0 ? 0 : 1, i * 666);
        EXPECT_NEAR(stat.GetFrameRate(), 10000.0 / 666, 0.1);
        EXPECT_FALSE(stat.CheckFrameRateChange());
    }
    {
        SCOPED_TRACE("15 then 25 per second: a change");
        CFPSStat stat;
        std::int64_t t = 0;
        WORD s = 0;
        EXPECT_FALSE(run(stat, 150, 666, t, s)); // the ring restarts after 100 frame starts
        EXPECT_TRUE(run(stat, 50, 400, t, s));
    }
    {
        SCOPED_TRACE("a stall in one half clears the ring instead");
        CFPSStat stat;
        std::int64_t t = 0;
        WORD s = 0;
        run(stat, 60, 666, t, s);
        t += 5000;
        EXPECT_FALSE(run(stat, 40, 300, t, s));
    }
    {
        SCOPED_TRACE("no intervals: rate 0; a continuation before any frame start is not counted");
        CFPSStat stat;
        stat.Offer(1, 1, 0);
        EXPECT_EQ(stat.GetCount(), 0u);
        stat.Offer(1, 0, 0);
        EXPECT_EQ(stat.GetFrameRate(), 0.0f);
    }
}

// A frame rate measured from damaged times (frames days apart, or stamped alike) reaches the
// header within 0.1 to 1000 frames per second: 1000000 / rate must fit its 32 bits (fuzzing
// found 3.97e14 microseconds per frame, an undefined conversion).
TEST(AviWriter, TheHeaderFrameRateStaysInASaneRange)
{
    const struct {
        const char* pszName;
        float fRate;
        DWORD dwMicros, dwRate;
    } aCases[] = {
        {"measured 2.5e-9 per second", 2.5e-9f, 10000000, 10},
        {"a billion per second", 1e9f, 1000, 100000},
        {"not a number", std::nanf(""), 66666, 1500},
        {"negative", -3.0f, 66666, 1500},
        {"infinite", INFINITY, 1000, 100000},
        {"an ordinary 25", 25.0f, 40000, 2500},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        AVIWriter writer;
        writer.SetFrameRate(c.fRate);
        BYTE abyHeader[AVIWriter::HEADER_LEN];
        writer.BuildHeader(abyHeader, AVIWriter::HEADER_LEN);
        const std::vector<BYTE> h(abyHeader, abyHeader + sizeof abyHeader);
        EXPECT_EQ(Le32(h, 32), c.dwMicros);
        EXPECT_EQ(Le32(h, 132), c.dwRate);
    }
    // Through the writer: two frames 4e9 seconds apart in a file without a span limit.
    QTemporaryDir dir;
    const std::u16string strPath = Utf8ToWide(dir.filePath("r.avi").toStdString());
    CRecordingOwner owner;
    {
        CAVIProcess process(&owner);
        ASSERT_TRUE(process.Create(strPath.c_str(), nullptr, 0, REZORIR_MODE_H264, -1, -1, -1));
        process.SetMaxSpan(0xFFFFFFFF);
        std::vector<BYTE> idr = SPS_320x240;
        idr.insert(idr.end(), {0, 0, 0, 1, 0x65, 0x88, 0x84});
        for (const DWORD dwSeconds : {1u, 4000000001u}) {
            const std::vector<BYTE> seg = Segment(dwSeconds, 0, idr);
            ASSERT_TRUE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()),
                                           static_cast<WORD>(dwSeconds), 0));
        }
    }
    EXPECT_EQ(owner.nReCreate, 0);
    const std::vector<BYTE> f = ReadFile(WideToUtf8(strPath));
    ASSERT_GE(f.size(), 326u);
    EXPECT_EQ(Le32(f, 32), 10000000u);
    EXPECT_EQ(Le32(f, 132), 10u);
}

// A file near the format's 4 GiB end: it ends at the next frame start even without a key
// frame, and the counters behind the sizes are 64-bit (a lowered limit stands for 4 GiB).
TEST(AviProcess, AFileAboutToOutgrowTheFormatEndsAtTheNextFrame)
{
    QTemporaryDir dir;
    const std::u16string strPath = Utf8ToWide(dir.filePath("h.avi").toStdString());
    CRecordingOwner owner;
    CAVIProcess process(&owner);
    ASSERT_TRUE(process.Create(strPath.c_str(), nullptr, 0, REZORIR_MODE_H264, -1, -1, -1));
    process.SetMaxFileSize(300);
    process.SetHardLimitForTest(100000);
    std::vector<BYTE> idr = SPS_320x240;
    idr.insert(idr.end(), {0, 0, 0, 1, 0x65, 0x88, 0x84});
    std::vector<BYTE> seg = Segment(1, 0, idr);
    ASSERT_TRUE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()), 1, 0));
    std::vector<BYTE> pFrame = {0, 0, 0, 1, 0x41, 0x9A};
    pFrame.resize(60000, 3);
    seg = Segment(1, 66666, pFrame);
    EXPECT_TRUE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()), 2, 1));
    // Its continuation goes on in the same file.
    seg = Segment(1, 66666, std::vector<BYTE>(50000, 4));
    EXPECT_TRUE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()), 2, 2));
    EXPECT_EQ(owner.nReCreate, 0);
    seg = Segment(1, 133333, pFrame);
    EXPECT_FALSE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()), 3, 1));
    EXPECT_EQ(owner.nReCreate, 1);
    EXPECT_EQ(process.GetVideoCount(), 3u);
}

// What the outside tools make of our files: ffprobe of both variants, and ffmpeg decoding
// the bare H.264 one frame for frame.
TEST(AviProcess, FfprobeAndFfmpegReadWhatWeWrite)
{
    QTemporaryDir dir;
    dir.setAutoRemove(std::getenv("AVI_KEEP") == nullptr);
    const std::string strClip = dir.filePath("clip.h264").toStdString();
    const int nFrames = 45;
    RunTool("ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=15 -frames:v " + std::to_string(nFrames) +
            " -pix_fmt yuv420p -c:v libx264 -profile:v baseline -g 15 -threads 1 -x264-params "
            "aud=1:repeat-headers=1 -f h264 " +
            strClip);
    const std::vector<BYTE> es = ReadFile(strClip);
    ASSERT_GT(es.size(), 1000u);
    // Access units start at each access unit delimiter; the cameras send none, so it is dropped.
    std::vector<std::vector<BYTE>> vecFrames;
    const BYTE abyAud[] = {0, 0, 0, 1, 9};
    for (std::size_t i = 0; i + 6 <= es.size(); ++i) {
        if (std::memcmp(&es[i], abyAud, 5) != 0)
            continue;
        vecFrames.emplace_back();
        std::size_t j = i + 6;
        while (j + 5 <= es.size() && std::memcmp(&es[j], abyAud, 5) != 0)
            ++j;
        if (j + 5 > es.size())
            j = es.size();
        vecFrames.back().assign(es.begin() + static_cast<long>(i) + 6, es.begin() + static_cast<long>(j));
        i = j - 1;
    }
    ASSERT_EQ(vecFrames.size(), static_cast<std::size_t>(nFrames));

    // Raw: whole frames in one segment each and the audio decoded to PCM, so that ffprobe opens
    // it and ffmpeg decodes every frame. Stamped: frames split into segments as the camera
    // splits large frames, GSM kept as is (which no outside decoder opens): ffmpeg reads every
    // chunk through the index.
    for (const int bRaw : {1, 0}) {
        SCOPED_TRACE(bRaw ? "raw" : "stamped");
        const std::string strAvi = dir.filePath(bRaw ? "raw.avi" : "stamped.avi").toStdString();
        const std::size_t nSegment = bRaw ? 1 << 20 : 700;
        CRecordingOwner owner;
        DWORD dwChunks = 0;
        {
            CAVIProcess process(&owner);
            const std::u16string strPath = Utf8ToWide(strAvi);
            ASSERT_TRUE(process.Create(strPath.c_str(), u"Camera 1", bRaw, REZORIR_MODE_H264, -1, -1, -1));
            if (bRaw) {
                ASSERT_TRUE(process.SetAudioFormat(1, 1, 8000));
            }
            for (int n = 0; n < nFrames; ++n) {
                const std::vector<BYTE>& au = vecFrames[n];
                for (std::size_t nOff = 0, u = 0; nOff < au.size(); nOff += nSegment, ++u) {
                    const std::vector<BYTE> part(au.begin() + static_cast<long>(nOff),
                                                 au.begin() +
                                                     static_cast<long>(std::min(au.size(), nOff + nSegment)));
                    const std::vector<BYTE> seg = Segment(1000 + n / 15, (n % 15) * 66666, part);
                    ASSERT_TRUE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()),
                                                   static_cast<WORD>(n), static_cast<BYTE>(u)));
                    ++dwChunks;
                }
                const std::vector<BYTE> gsm(66, 0xD8); // 40 ms of audio per frame
                process.WriteAudio(gsm.data(), 66, static_cast<WORD>(n));
            }
        }
        EXPECT_EQ(owner.nReCreate, 0);
        EXPECT_TRUE(owner.vecErrors.empty());
        const std::vector<BYTE> f = ReadFile(strAvi);
        ASSERT_GT(f.size(), 8 + 16 * (dwChunks + nFrames));
        EXPECT_EQ(Le32(f, f.size() - 8 - 16 * (dwChunks + nFrames)), Fcc("idx1"));
        // 15 frames per second of 1 to 3 segments each: the header rate lies between.
        const DWORD dwUsPerFrame = Le32(f, 32);
        EXPECT_GT(dwUsPerFrame, 1000000u / 50);
        EXPECT_LT(dwUsPerFrame, 1000000u / 14);

        const std::string strPackets =
            RunTool("ffmpeg -v quiet -i " + strAvi + " -map 0 -c copy -f framecrc - 2>&1");
        EXPECT_EQ(RunTool("printf '%s' \"" + strPackets + "\" | grep -c '^0,'"),
                  std::to_string(dwChunks) + "\n");
        if (!bRaw)
            continue;
        EXPECT_EQ(
            RunTool("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,nb_frames "
                    "-of csv=p=0 " +
                    strAvi + " 2>&1"),
            "h264,video,320,240," + std::to_string(nFrames) + "\npcm_s16le,audio," + std::to_string(nFrames) +
                "\n");
        EXPECT_EQ(RunTool("ffmpeg -v error -i " + strAvi + " -map 0:v -f framecrc - 2>&1 | grep -c '^0,'"),
                  std::to_string(nFrames) + "\n");
        EXPECT_EQ(RunTool("ffmpeg -v error -i " + strAvi + " -f null - 2>&1"), "");
    }
}

TEST(AviProcess, AFileThatCannotBeWrittenIsReportedOnce)
{
    CRecordingOwner owner;
    CAVIProcess process(&owner);
    EXPECT_FALSE(process.Create(u"/nonexistent-dir/x.avi", nullptr, 0, REZORIR_MODE_H264, -1, -1, -1));
    const std::u16string strFull = u"/dev/full";
    ASSERT_TRUE(process.Create(strFull.c_str(), nullptr, 0, REZORIR_MODE_H264, -1, -1, -1));
    std::vector<BYTE> idr = SPS_320x240;
    idr.resize(1 << 21, 0x55); // past the file buffer
    const std::vector<BYTE> seg = Segment(1, 0, idr);
    EXPECT_FALSE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()), 1, 0));
    EXPECT_FALSE(process.WriteVideo(seg.data(), static_cast<DWORD>(seg.size()), 2, 0));
    EXPECT_EQ(owner.vecErrors, std::vector<int>{REZORIR_ERR_WRITE});
}
