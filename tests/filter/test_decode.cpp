// The back-ends on streams encoded by libavcodec, and their behaviour on broken input.
#include "filter/dech264.h"
#include "filter/decmpeg4.h"
#include "filter/kw264dec.h"
#include "filter_streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

struct CodecCase {
    const char* pszName;
    const char* pszEncoder;
    bool bBFrames;
    std::unique_ptr<CDecBase> (*pfnCreate)();
};

std::unique_ptr<CDecBase> MakeH264()
{
    return std::make_unique<CDecH264>();
}
std::unique_ptr<CDecBase> MakeMpeg4()
{
    return std::make_unique<CDecMpeg4>();
}
std::unique_ptr<CDecBase> MakeMpeg4OnXvid()
{
    return std::make_unique<CDecMpeg4>("libxvidcore.so.4");
}

const CodecCase g_cases[] = {{"H.264", "libx264", true, MakeH264},
                             {"MPEG-4", "mpeg4", false, MakeMpeg4},
                             {"MPEG-4 on the Xvid core", "mpeg4", false, MakeMpeg4OnXvid}};

std::unique_ptr<CDecBase> MakeBackEnd(const CodecCase& codec, int nWidth, int nHeight)
{
    auto pBackEnd = codec.pfnCreate();
    pBackEnd->SetFrameSize(nWidth, nHeight);
    pBackEnd->SetOutput(CSP_I420, false, nWidth);
    return pBackEnd;
}

TEST(Decode, StreamsDecodeCloseToTheirSourceAndEndOfStreamDrainsHeldPictures)
{
    for (const CodecCase& codec : g_cases) {
        const TestStream stream = EncodeStream(codec.pszEncoder, 176, 144, 20, codec.bBFrames);
        ASSERT_EQ(20u, stream.vecPackets.size()) << codec.pszName;
        auto pBackEnd = MakeBackEnd(codec, 176, 144);
        ASSERT_TRUE(pBackEnd->IsUsable());
        std::vector<uint8_t> vecOut(176 * 144 * 4);
        size_t nPictures = 0;
        auto check = [&] {
            ASSERT_LT(nPictures, stream.vecSources.size());
            const uint8_t* pSource = stream.vecSources[nPictures].data();
            EXPECT_GT(Psnr(vecOut.data(), 176, pSource, 176, 176, 144), 35.0)
                << codec.pszName << " picture " << nPictures;
            EXPECT_GT(Psnr(vecOut.data() + 176 * 144, 88, pSource + 176 * 144, 88, 88, 72), 35.0);
            ++nPictures;
        };
        for (const auto& vecPacket : stream.vecPackets) {
            const HRESULT hr = pBackEnd->Process(false, vecPacket.data(), vecPacket.size(), false,
                                                 vecOut.data(), vecOut.size());
            ASSERT_TRUE(hr == S_OK || hr == S_FALSE);
            if (hr == S_OK)
                check();
        }
        if (codec.bBFrames) {
            EXPECT_LT(nPictures, stream.vecPackets.size()) << "the stream should hold pictures back";
        }
        pBackEnd->SetEndOfStream(true);
        const uint8_t byNothing = 0;
        while (pBackEnd->Process(false, &byNothing, 0, false, vecOut.data(), vecOut.size()) == S_OK)
            check();
        EXPECT_EQ(stream.vecSources.size(), nPictures) << codec.pszName;
    }
}

// Fills the output with a pattern no conversion writes; after a picture, its I420 rows must all
// be written and nothing past them.
void Prefill(std::vector<uint8_t>& vecOut)
{
    for (size_t i = 0; i < vecOut.size(); ++i)
        vecOut[i] = static_cast<uint8_t>(i * 7 + 3);
}
void ExpectWholePicture(const std::vector<uint8_t>& vecOut, int nWidth, int nHeight, const char* pszWhat)
{
    auto untouched = [&](size_t nAt) { return vecOut[nAt] == static_cast<uint8_t>(nAt * 7 + 3); };
    // The rows of the three planes, each as long as its plane is wide.
    size_t nAt = 0, nUntouchedRows = 0;
    for (const auto [nRowWidth, nRows] : {std::pair{nWidth, nHeight}, std::pair{nWidth / 2, nHeight / 2},
                                          std::pair{nWidth / 2, nHeight / 2}}) {
        for (int r = 0; r < nRows; ++r, nAt += nRowWidth) {
            bool bUntouched = true;
            for (int x = 0; x < nRowWidth && bUntouched; ++x)
                bUntouched = untouched(nAt + x);
            nUntouchedRows += bUntouched;
        }
    }
    size_t nPast = 0;
    for (size_t i = nAt; i < vecOut.size(); ++i)
        nPast += !untouched(i);
    EXPECT_EQ(nUntouchedRows, 0u) << pszWhat;
    EXPECT_EQ(nPast, 0u) << pszWhat;
}

// Damaged input never crashes a back-end; what it does deliver is a whole picture of the frame
// size, and a part that holds whole pictures still decodes to its source.
TEST(Decode, CutAndCorruptedStreamsGiveNoPictureNotACrash)
{
    for (const CodecCase& codec : g_cases) {
        const TestStream stream = EncodeStream(codec.pszEncoder, 96, 64, 4, false);
        ASSERT_GE(stream.vecPackets.size(), 3u);
        std::vector<uint8_t> vecAll;
        for (size_t i = 0; i < 3; ++i)
            vecAll.insert(vecAll.end(), stream.vecPackets[i].begin(), stream.vecPackets[i].end());
        std::vector<uint8_t> vecOut(96 * 64 * 4);
        size_t nPictures = 0;
        // Cut at every byte: the head and the tail arrive as two samples of a fresh decoder.
        for (size_t nCut = 0; nCut <= vecAll.size(); ++nCut) {
            auto pBackEnd = MakeBackEnd(codec, 96, 64);
            std::vector<uint8_t> vecHead(vecAll.begin(), vecAll.begin() + nCut);
            std::vector<uint8_t> vecTail(vecAll.begin() + nCut, vecAll.end());
            for (auto* pPart : {&vecHead, &vecTail}) {
                Prefill(vecOut);
                const HRESULT hr = pBackEnd->Process(false, pPart->data(), pPart->size(), false,
                                                     vecOut.data(), vecOut.size());
                ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << codec.pszName << " cut " << nCut;
                if (hr == S_OK) {
                    ++nPictures;
                    ExpectWholePicture(vecOut, 96, 64, codec.pszName);
                }
                // The head is the first picture whole: it decodes as encoded.
                if (pPart == &vecHead && nCut == stream.vecPackets[0].size()) {
                    ASSERT_EQ(hr, S_OK) << codec.pszName;
                    EXPECT_GT(Psnr(vecOut.data(), 96, stream.vecSources[0].data(), 96, 96, 64), 35.0)
                        << codec.pszName;
                }
            }
        }
        EXPECT_GT(nPictures, 0u) << codec.pszName;
        // Random damage inside the coded data, the stream headers included.
        std::mt19937 rng(11);
        for (int nRound = 0; nRound < 150; ++nRound) {
            auto pBackEnd = MakeBackEnd(codec, 96, 64);
            for (const auto& vecPacket : stream.vecPackets) {
                std::vector<uint8_t> vecDamaged = vecPacket;
                for (int k = 0; k < 1 + nRound % 8; ++k)
                    vecDamaged[4 + rng() % (vecDamaged.size() - 4)] ^= static_cast<uint8_t>(1 + rng() % 255);
                Prefill(vecOut);
                const HRESULT hr = pBackEnd->Process(false, vecDamaged.data(), vecDamaged.size(), false,
                                                     vecOut.data(), vecOut.size());
                ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << codec.pszName << " round " << nRound;
                if (hr == S_OK)
                    ExpectWholePicture(vecOut, 96, 64, codec.pszName);
            }
        }
    }
}

TEST(Decode, MissingXvidCoreLeavesMpeg4UndecodableWithoutError)
{
    // The core's name comes from the settings file in the program folder.
    const auto home = std::filesystem::temp_directory_path() / ("vistrel-xvid-" + std::to_string(getpid()));
    std::filesystem::create_directories(home);
    std::ofstream(home / "Vistrel.ini")
        << "[LANGUAGE]\nID=9\n[Filter]\n XvidCore = libxvidcore-not-installed.so.9\n";
    setenv("VISTREL_HOME", home.c_str(), 1);
    EXPECT_EQ("libxvidcore-not-installed.so.9", CDecMpeg4::CoreFileName());
    CDecMpeg4 backEnd;
    unsetenv("VISTREL_HOME");
    std::filesystem::remove_all(home);
    EXPECT_EQ("", CDecMpeg4::CoreFileName()) << "no setting: libavcodec's decoder";
    EXPECT_FALSE(backEnd.IsUsable());
    EXPECT_FALSE(CDecMpeg4().UsesXvidCore());
    EXPECT_TRUE(CDecMpeg4().IsUsable());
    const TestStream stream = EncodeStream("mpeg4", 96, 64, 1, false);
    std::vector<uint8_t> vecOut(96 * 64 * 4);
    backEnd.SetFrameSize(96, 64);
    EXPECT_EQ(S_FALSE, backEnd.Process(false, stream.vecPackets[0].data(), stream.vecPackets[0].size(), false,
                                       vecOut.data(), vecOut.size()));
}

TEST(Decode, PicturesSmallerThanTheFrameAreNotRead)
{
    // A stream smaller than the type the filter was set up with.
    for (const CodecCase& codec : g_cases) {
        auto pBackEnd = MakeBackEnd(codec, 176, 144);
        std::vector<uint8_t> vecOut(176 * 144 * 4);
        const TestStream small = EncodeStream(codec.pszEncoder, 96, 64, 2, false);
        for (const auto& vecPacket : small.vecPackets)
            EXPECT_EQ(S_FALSE, pBackEnd->Process(false, vecPacket.data(), vecPacket.size(), false,
                                                 vecOut.data(), vecOut.size()));
    }
}

} // namespace

// A single large picture (1080p, the only decoder open) decodes on libavcodec's threads from its
// second key frame on; with another decoder open (a wall of panes), or for a small picture, the
// decoder keeps one thread, the client's pool sharing the cores.
// A held picture stays as it was while the decoder goes on for several pictures (it predicts
// from some, reorders others): the filter shows and snapshots it without a copy.
TEST(Decode, HeldPicturesStayUnchangedWhileTheDecoderGoesOn)
{
    const struct {
        const char* pszEncoder;
        bool bBFrames;
        KwHandle (*pfnOpen)();
    } aCodecs[] = {{"libx264", true, Kw_h264_dec_open}, {"mpeg4", false, Kw_mpeg4_dec_open}};
    for (const auto& [pszEncoder, bBFrames, pfnOpen] : aCodecs) {
        const TestStream stream = EncodeStream(pszEncoder, 176, 144, 40, bBFrames);
        KwHandle hDecoder = pfnOpen();
        ASSERT_NE(nullptr, hDecoder);
        struct Held {
            std::shared_ptr<const void> pHold;
            const uint8_t* pY;
            std::vector<uint8_t> vecY;
        };
        std::deque<Held> held;
        size_t nChecks = 0;
        for (const auto& vecPacket : stream.vecPackets) {
            KwDecodeRecord record;
            record.pbInput = vecPacket.data();
            record.dwInputLength = static_cast<uint32_t>(vecPacket.size());
            while (record.dwInputLength != 0 && Kw_h264_dec_decode(hDecoder, &record) >= 0 &&
                   record.pY == nullptr)
                ;
            if (record.pY != nullptr) {
                held.push_back({Kw_dec_hold_picture(hDecoder), record.pY,
                                std::vector<uint8_t>(record.pY, record.pY + record.nStride * 144)});
                ASSERT_NE(nullptr, held.back().pHold);
                if (held.size() > 3)
                    held.pop_front();
            }
            for (const Held& picture : held) {
                EXPECT_EQ(0, std::memcmp(picture.pY, picture.vecY.data(), picture.vecY.size())) << pszEncoder;
                ++nChecks;
            }
        }
        EXPECT_GT(nChecks, 90u) << pszEncoder;
        Kw_h264_dec_close(hDecoder);
        // A hold outlives the decoder.
        for (const Held& picture : held)
            EXPECT_EQ(0, std::memcmp(picture.pY, picture.vecY.data(), picture.vecY.size())) << pszEncoder;
    }
}

TEST(Decode, OnlyASingleLargePictureUsesTheCodecsThreads)
{
    const TestStream large = EncodeStream("libx264", 1920, 1080, 14, false);
    const TestStream small = EncodeStream("libx264", 640, 360, 14, false);
    ASSERT_TRUE(large.vecKey.size() == 14 && large.vecKey[12]);
    const int nCores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const struct {
        const char* pszName;
        const TestStream* pStream;
        bool bAnotherOpen;
        int nThreads;
    } aCases[] = {{"1080p alone", &large, false, nCores},
                  {"1080p beside another", &large, true, 1},
                  {"360p alone", &small, false, 1}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        KwHandle hOther = c.bAnotherOpen ? Kw_h264_dec_open() : nullptr;
        KwHandle hDecoder = Kw_h264_dec_open();
        ASSERT_NE(hDecoder, nullptr);
        int nPictures = 0;
        for (const auto& vecPacket : c.pStream->vecPackets) {
            KwDecodeRecord record;
            record.pbInput = vecPacket.data();
            record.dwInputLength = static_cast<uint32_t>(vecPacket.size());
            ASSERT_GE(Kw_h264_dec_decode(hDecoder, &record), 0);
            nPictures += record.pY != nullptr;
        }
        EXPECT_EQ(nPictures, 14); // one picture per sample, threads or not
        EXPECT_EQ(Kw_dec_threads(hDecoder), c.nThreads);
        Kw_h264_dec_close(hDecoder);
        Kw_h264_dec_close(hOther);
    }
}

// A damaged parameter set may claim a picture far larger than the camera's: the decoder refuses
// the size instead of allocating dozens of such pictures, and decodes again at a sound one.
TEST(Decode, PicturesOverTheSizeLimitAreRefused)
{
    const struct {
        const char* pszEncoder;
        KwHandle (*pfnOpen)();
        int nWidth, nHeight;
        int64_t nLimit; // 0: the default
        int nPictures;
    } aCases[] = {{"libx264", Kw_h264_dec_open, 4160, 2304, 0, 0},
                  {"libx264", Kw_h264_dec_open, 128, 64, 256 * 256, 2},
                  {"libx264", Kw_h264_dec_open, 384, 192, 256 * 256, 0},
                  {"mpeg4", Kw_mpeg4_dec_open, 128, 64, 256 * 256, 2},
                  {"mpeg4", Kw_mpeg4_dec_open, 384, 192, 256 * 256, 0}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(testing::Message() << c.pszEncoder << " " << c.nWidth << "x" << c.nHeight);
        const TestStream stream = EncodeStream(c.pszEncoder, c.nWidth, c.nHeight, 2, false);
        ASSERT_EQ(stream.vecPackets.size(), 2u);
        Kw_dec_limit_pixels(c.nLimit);
        KwHandle hDecoder = c.pfnOpen();
        Kw_dec_limit_pixels(0);
        ASSERT_NE(hDecoder, nullptr);
        int nPictures = 0;
        for (const auto& vecPacket : stream.vecPackets) {
            KwDecodeRecord record;
            record.pbInput = vecPacket.data();
            record.dwInputLength = static_cast<uint32_t>(vecPacket.size());
            Kw_h264_dec_decode(hDecoder, &record);
            nPictures += record.pY != nullptr;
        }
        for (int i = 0; i < 4; ++i) {
            KwDecodeRecord record; // drains what the decoder still holds
            Kw_h264_dec_decode(hDecoder, &record);
            nPictures += record.pY != nullptr;
        }
        EXPECT_EQ(nPictures, c.nPictures);
        Kw_h264_dec_close(hDecoder);
    }
}
