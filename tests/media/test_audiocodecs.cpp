// Speech codecs through the registry, as the audio front ends use them, checked against sox,
// ffmpeg and the ITU G.711 figures.
#include "audio_test_support.h"

#include "media/audio/acodecgsmavi.h"
#include "media/audio/audiocodec.h"

#include <random>

using namespace audiotest;

namespace {

std::unique_ptr<CAudioCodec> OpenCodec(BYTE bId, BYTE bVariant,
                                       int nDirection = CAudioCodec::DIRECTION_ENCODE)
{
    std::unique_ptr<CAudioCodec> pCodec = CreateAudioCodec(bId);
    EXPECT_TRUE(pCodec);
    if (pCodec) {
        EXPECT_TRUE(pCodec->Open(bVariant, 16, nDirection));
    }
    return pCodec;
}

std::vector<BYTE> Encode(BYTE bId, BYTE bVariant, const std::vector<BYTE>& pcm)
{
    std::vector<BYTE> out(pcm.size() + 64);
    const int n = OpenCodec(bId, bVariant)->Encode(pcm.data(), out.data(), int(pcm.size()), int(out.size()));
    out.resize(std::size_t(std::max(n, 0)));
    return out;
}

std::vector<BYTE> Decode(BYTE bId, BYTE bVariant, const std::vector<BYTE>& coded)
{
    std::vector<BYTE> out(coded.size() * 40 + 64);
    const int n = OpenCodec(bId, bVariant, CAudioCodec::DIRECTION_DECODE)
                      ->Decode(coded.data(), out.data(), int(coded.size()), int(out.size()));
    out.resize(std::size_t(std::max(n, 0)));
    return out;
}

} // namespace

TEST(AudioCodecs, RegistryIdsNamesAndFormatChecks)
{
    struct Row {
        BYTE bId;
        const char* pszName;
        BYTE bVariant;
        WORD usBits;
        bool bOpens;
    };
    const Row rows[] = {
        {0x4A, "GSM_sw", 0, 16, true},
        {0x4A, "GSM_sw", 0, 8, false},
        {0x1A, "g729a_sw", 0, 16, true},
        {0x1A, "g729a_sw", 1, 8, false},
        {0x0A, "g723_16k_sw(24k,32k,40k)", 3, 16, true},
        {0x0A, "g723_16k_sw(24k,32k,40k)", 4, 16, false},
        {0x0A, "g723_16k_sw(24k,32k,40k)", 0, 8, false},
        {0x3A, "G711_alaw_sw(ulaw_sw)", 1, 16, true},
        {0x3A, "G711_alaw_sw(ulaw_sw)", 2, 16, false},
        {0x3A, "G711_alaw_sw(ulaw_sw)", 0, 8, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pszName) + " variant " + std::to_string(row.bVariant) + " bits " +
                     std::to_string(row.usBits));
        std::unique_ptr<CAudioCodec> pCodec = CreateAudioCodec(row.bId);
        ASSERT_TRUE(pCodec);
        EXPECT_EQ(pCodec->GetId(), row.bId);
        EXPECT_EQ(pCodec->GetName(), row.pszName);
        EXPECT_EQ(pCodec->Open(row.bVariant, row.usBits, 1), row.bOpens);
        EXPECT_EQ(pCodec->Reserved(), -1);
        if (row.bOpens) {
            EXPECT_EQ(pCodec->GetVariant(), row.bVariant);
            EXPECT_EQ(pCodec->GetBits(), row.usBits);
        }
        // A codec that is not open codes nothing.
        pCodec->Close();
        BYTE in[320] = {}, out[320];
        EXPECT_EQ(pCodec->Encode(in, out, 320, 320), 0);
    }
    EXPECT_FALSE(CreateAudioCodec(75));
    EXPECT_FALSE(CreateAudioCodec(0));
}

TEST(AudioCodecs, WholeFramesAndOutputSizes)
{
    struct Row {
        BYTE bId, bVariant;
        bool bEncode;
        int nIn, nOut;
    };
    const Row rows[] = {
        {0x4A, 0, true, 960, 99},   {0x4A, 0, true, 1000, 99}, {0x4A, 0, false, 99, 960},
        {0x4A, 0, false, 100, 960}, {0x1A, 1, false, 25, 320}, {0x1A, 0, true, 960, 60},
        {0x0A, 0, true, 960, 120},  {0x0A, 1, true, 960, 180}, {0x0A, 2, true, 960, 240},
        {0x0A, 3, true, 960, 300},  {0x0A, 1, true, 10, 3},    {0x0A, 2, true, 10, 0},
        {0x0A, 1, false, 180, 960}, {0x0A, 3, false, 7, 22},   {0x3A, 0, true, 961, 480},
        {0x3A, 1, false, 99, 198},
    };
    std::mt19937 rng(7);
    for (const Row& row : rows) {
        SCOPED_TRACE("id " + std::to_string(row.bId) + " variant " + std::to_string(row.bVariant) + " in " +
                     std::to_string(row.nIn));
        std::vector<BYTE> in(std::size_t(row.nIn)), out(8192, 0xEE);
        for (BYTE& b : in)
            b = BYTE(rng());
        std::unique_ptr<CAudioCodec> pCodec = OpenCodec(row.bId, row.bVariant);
        const int n = row.bEncode ? pCodec->Encode(in.data(), out.data(), row.nIn, int(out.size()))
                                  : pCodec->Decode(in.data(), out.data(), row.nIn, int(out.size()));
        EXPECT_EQ(n, row.nOut);
    }
}

// A camera's block longer than the player's buffer must not be written past it: decoding stops
// before the first frame that would not fit, in every codec.
TEST(AudioCodecs, OutputNeverPassesCapacity)
{
    std::vector<BYTE> speech = SpeechPcm();
    struct Row {
        BYTE bId, bVariant;
        int nCap, nExpected;
    };
    const Row rows[] = {
        {0x4A, 0, 32768, 32640}, {0x1A, 1, 32768, 32640}, {0x0A, 0, 32767, 32766}, {0x3A, 1, 32767, 32766}};
    for (const Row& row : rows) {
        SCOPED_TRACE("id " + std::to_string(row.bId));
        std::vector<BYTE> coded = Encode(row.bId, 0, speech); // G.729 variant 0 is its encoder
        ASSERT_GT(coded.size() * 40, std::size_t(row.nCap));  // more than fits
        std::vector<BYTE> out(std::size_t(row.nCap) + 64, 0xEE);
        const int n =
            OpenCodec(row.bId, row.bVariant)->Decode(coded.data(), out.data(), int(coded.size()), row.nCap);
        EXPECT_EQ(n, row.nExpected);
        for (std::size_t i = std::size_t(row.nCap); i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << "written past the capacity at " << i;
    }
    // G.726 encoding stops at whole groups that fit.
    std::vector<BYTE> out(100, 0xEE);
    EXPECT_EQ(OpenCodec(0x0A, 2)->Encode(speech.data(), out.data(), int(speech.size()), 90), 88);
    EXPECT_EQ(out[88], 0xEE);

    CACodecGSMAVI avi;
    std::vector<BYTE> gsm = Encode(0x4A, 0, speech);
    std::vector<BYTE> pcm(1000, 0xEE);
    EXPECT_EQ(avi.Decode(gsm.data(), int(gsm.size()), pcm.data(), 950), 640);
    EXPECT_EQ(pcm[640], 0xEE);
}

// Reference compressors written out from the G.711 segment tables, as the oracle of our
// encoder: A-law as the ITU-T G.191 tools do it (ones' complement of negative input), mu-law
// on the magnitude truncated to 14 bits with the bias of 33.
BYTE ReferenceAlaw(int x)
{
    int ix = x < 0 ? (~x) >> 4 : x >> 4;
    if (ix > 15) {
        int iexp = 1;
        while (ix > 16 + 15) {
            ix >>= 1;
            ++iexp;
        }
        ix -= 16;
        ix += iexp << 4;
    }
    if (x >= 0)
        ix |= 0x80;
    return BYTE(ix ^ 0x55);
}

BYTE ReferenceUlaw(int x)
{
    int absno = ((x < 0 ? -x : x) >> 2) + 33;
    absno = std::min(absno, 0x1FFF);
    int segno = 1;
    for (int i = absno >> 6; i != 0; i >>= 1)
        ++segno;
    const int high = 0x8 - segno;
    const int low = 0xF - ((absno >> segno) & 0xF);
    return BYTE((high << 4) | low | (x >= 0 ? 0x80 : 0));
}

// G.711: every 16-bit value encoded as the reference does, every code decoded as sox does.
TEST(AudioCodecs, G711MatchesReferenceAndSoxForEveryValue)
{
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    std::vector<BYTE> ramp, refAlaw, refUlaw;
    for (int s = -32768; s <= 32767; ++s) {
        ramp.insert(ramp.end(), {BYTE(s & 0xFF), BYTE((s >> 8) & 0xFF)});
        refAlaw.push_back(ReferenceAlaw(s));
        refUlaw.push_back(ReferenceUlaw(s));
    }
    EXPECT_EQ(Encode(0x3A, 0, ramp), refAlaw);
    EXPECT_EQ(Encode(0x3A, 1, ramp), refUlaw);

    std::vector<BYTE> codes;
    for (int c = 0; c < 256; ++c)
        codes.push_back(BYTE(c));
    WriteFile(d + "/codes.raw", codes);
    for (BYTE bVariant : {0, 1}) {
        const std::string enc = bVariant == 0 ? "a-law" : "u-law";
        SCOPED_TRACE(enc);
        ASSERT_EQ(RunTool("sox -t raw -r 8000 -e " + enc + " -b 8 -c 1 " + d +
                          "/codes.raw -t raw -e signed -b 16 " + d + "/codes.pcm"),
                  0);
        EXPECT_EQ(Decode(0x3A, bVariant, codes), ReadFile(d + "/codes.pcm"));
    }
    // The figures of the ITU tables: A-law 0 -> 0xD5 -> 8, mu-law 0 -> 0xFF -> 0.
    const std::vector<BYTE> zero{0, 0};
    EXPECT_EQ(Encode(0x3A, 0, zero), std::vector<BYTE>{0xD5});
    EXPECT_EQ(Decode(0x3A, 0, {0xD5}), (std::vector<BYTE>{8, 0}));
    EXPECT_EQ(Encode(0x3A, 1, zero), std::vector<BYTE>{0xFF});
    EXPECT_EQ(Decode(0x3A, 1, {0xFF}), (std::vector<BYTE>{0, 0}));
}

// GSM 06.10 frames are the same bytes sox writes and reads, and the recordings' decoder agrees.
TEST(AudioCodecs, GsmMatchesSoxByteForByte)
{
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    std::vector<BYTE> speech = SpeechPcm();
    speech.resize(speech.size() / 320 * 320);
    WriteFile(d + "/speech.raw", speech);
    ASSERT_EQ(RunTool("sox -t raw -r 8000 -e signed -b 16 -c 1 " + d + "/speech.raw " + d + "/speech.gsm"),
              0);
    const std::vector<BYTE> soxGsm = ReadFile(d + "/speech.gsm");
    const std::vector<BYTE> ourGsm = Encode(0x4A, 0, speech);
    ASSERT_EQ(ourGsm.size(), speech.size() / 320 * 33);
    EXPECT_EQ(ourGsm, soxGsm);

    ASSERT_EQ(RunTool("sox " + d + "/speech.gsm -t raw -e signed -b 16 " + d + "/back.raw"), 0);
    const std::vector<BYTE> ourPcm = Decode(0x4A, 0, ourGsm);
    EXPECT_EQ(ourPcm, ReadFile(d + "/back.raw"));
    std::vector<BYTE> aviPcm(ourPcm.size());
    CACodecGSMAVI avi;
    EXPECT_EQ(avi.Decode(ourGsm.data(), int(ourGsm.size()), aviPcm.data(), int(aviPcm.size())),
              int(ourPcm.size()));
    EXPECT_EQ(aviPcm, ourPcm);
}

// G.726 codes packed least significant bit first are what ffmpeg's little-endian G.726 reads:
// its independent decoder gets the speech back from our stream as well as ours does. (At 32
// and 40 kbit/s ffmpeg codes a positive zero difference as 1 where the 1988 text of the
// standard sends the all-ones word, so those rates are checked by the round trip alone.)
TEST(AudioCodecs, G726PackingMatchesFfmpeg)
{
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::vector<BYTE> speech = SpeechPcm();
    for (BYTE bVariant = 0; bVariant < 2; ++bVariant) {
        SCOPED_TRACE("code size " + std::to_string(bVariant + 2));
        const std::vector<BYTE> coded = Encode(0x0A, bVariant, speech);
        WriteFile(d + "/speech.g726", coded);
        ASSERT_EQ(RunTool("ffmpeg -y -f g726le -code_size " + std::to_string(bVariant + 2) +
                          " -sample_rate 8000 -i " + d + "/speech.g726 -f s16le " + d + "/ff.raw"),
                  0);
        const std::vector<BYTE> ours = Decode(0x0A, bVariant, coded);
        ASSERT_EQ(ours.size(), coded.size() * 8 / (bVariant + 2) * 2);
        const double dOurs = BestLagSnr(speech, ours, 0);
        const double dTheirs = BestLagSnr(speech, ReadFile(d + "/ff.raw"), 0);
        std::printf("G.726 %d bits: our decoder %.1f dB, ffmpeg's %.1f dB\n", bVariant + 2, dOurs, dTheirs);
        EXPECT_GT(dTheirs, dOurs - 3.0);
    }
}

// G.729A frames from our encoder decode alike in ffmpeg's independent decoder.
TEST(AudioCodecs, G729DecodesAlikeInFfmpeg)
{
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::vector<BYTE> coded = Encode(0x1A, 0, SpeechPcm());
    WriteFile(d + "/speech.g729", coded);
    ASSERT_EQ(RunTool("ffmpeg -y -f g729 -i " + d + "/speech.g729 -f s16le " + d + "/ff.raw"), 0);
    const std::vector<BYTE> ours = Decode(0x1A, 1, coded);
    EXPECT_EQ(ours.size(), coded.size() * 16);
    EXPECT_GT(BestLagSnr(ReadFile(d + "/ff.raw"), ours, 0), 15.0);
}

// Real speech through each codec and back, in the blocks the capturer delivers (960 bytes),
// with one encoder and one decoder instance as the front ends hold them.
TEST(AudioCodecs, SpeechRoundTripSnr)
{
    struct Row {
        const char* pszName;
        BYTE bId, bEncVariant, bDecVariant;
        double dMinSnr;
    };
    const Row rows[] = {
        {"GSM", 0x4A, 0, 0, 9.0},       {"G.729A", 0x1A, 0, 1, 4.0},    {"G.726-16", 0x0A, 0, 0, 10.0},
        {"G.726-24", 0x0A, 1, 1, 14.0}, {"G.726-32", 0x0A, 2, 2, 19.0}, {"G.726-40", 0x0A, 3, 3, 24.0},
        {"A-law", 0x3A, 0, 0, 35.0},    {"mu-law", 0x3A, 1, 1, 35.0},
    };
    const std::vector<BYTE> speech = SpeechPcm();
    for (const Row& row : rows) {
        std::unique_ptr<CAudioCodec> pEnc = OpenCodec(row.bId, row.bEncVariant, 1);
        std::unique_ptr<CAudioCodec> pDec = OpenCodec(row.bId, row.bDecVariant, 0);
        std::vector<BYTE> back;
        BYTE coded[960], pcm[32768];
        for (std::size_t i = 0; i + 960 <= speech.size(); i += 960) {
            const int nCoded = pEnc->Encode(speech.data() + i, coded, 960, sizeof coded);
            const int nPcm = pDec->Decode(coded, pcm, nCoded, sizeof pcm);
            ASSERT_EQ(nPcm, 960) << row.pszName;
            back.insert(back.end(), pcm, pcm + nPcm);
        }
        int nLag = 0;
        const double dSnr = BestLagSnr(speech, back, 120, &nLag);
        RecordProperty(std::string("snr_") + row.pszName, std::to_string(dSnr));
        std::printf("%-9s SNR %.1f dB (lag %d samples)\n", row.pszName, dSnr, nLag);
        EXPECT_GT(dSnr, row.dMinSnr) << row.pszName;
    }
}

// Garbage from the wire decodes to something of the right length or to nothing; GSM frames
// without the signature decode to silence.
TEST(AudioCodecs, GarbageDecodesSafely)
{
    std::mt19937 rng(11);
    std::vector<BYTE> junk(3399);
    for (BYTE& b : junk)
        b = BYTE(rng() & 0x0F); // no GSM signature nibble 0xD in any frame
    for (BYTE bId : {0x4A, 0x1A, 0x0A, 0x3A}) {
        std::vector<BYTE> pcm(32768);
        const int n =
            OpenCodec(bId, bId == 0x1A ? 1 : 0)->Decode(junk.data(), pcm.data(), int(junk.size()), 32768);
        EXPECT_GT(n, 0);
        EXPECT_LE(n, 32768);
        if (bId == 0x4A) {
            EXPECT_EQ(n, 32640);
            EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + n, [](BYTE b) { return b == 0; }));
        }
    }
}
