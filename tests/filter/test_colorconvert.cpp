// The converters against the Xvid core's own colour conversion (bit-exact) and libswscale.
#include "filter_test_support.h"

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <string>

namespace {

struct CodeInfo {
    uint32_t dwCode;
    int nPixelBytes; // 0 for planar
};

const CodeInfo g_codes[] = {{CSP_I420, 0}, {CSP_YV12, 0}, {CSP_YUY2, 2},   {CSP_UYVY, 2},
                            {CSP_YVYU, 2}, {CSP_BGRA, 4}, {CSP_ABGR, 4},   {CSP_RGBA, 4},
                            {CSP_ARGB, 4}, {CSP_BGR, 3},  {CSP_RGB555, 2}, {CSP_RGB565, 2}};

struct Geometry {
    int nWidth, nHeight, nStride, nOutExtra;
};

// Odd widths, strides wider than the picture, widths that leave a tail after the fast blocks.
const Geometry g_geometries[] = {
    {64, 32, 64, 0}, {37, 18, 48, 12}, {103, 7, 128, 4}, {16, 2, 16, 0}, {1, 3, 2, 0}};

// Rows of the Y plane, then the chroma rows, with the bytes that belong to the picture.
std::vector<std::pair<size_t, size_t>> PlanarRows(int nWidth, int nHeight, int nStride)
{
    std::vector<std::pair<size_t, size_t>> vecRows;
    for (int r = 0; r < nHeight; ++r)
        vecRows.push_back({static_cast<size_t>(r) * nStride, nWidth});
    const size_t nChromaBase = static_cast<size_t>(nStride) * nHeight;
    for (int r = 0; r < 2 * ((nHeight + 1) / 2); ++r)
        vecRows.push_back({nChromaBase + static_cast<size_t>(r) * (nStride / 2), (nWidth + 1) / 2});
    return vecRows;
}

TEST(ColorConvert, MatchesXvidCoreForEveryCodeGeometryFlipAndVariant)
{
    XvidOracle oracle;
    ASSERT_TRUE(oracle.IsLoaded()) << "libxvidcore.so.4 is the reference";
    for (bool bPlain : {false, true}) {
        ForcePlainConverters(bPlain);
        for (const Geometry& geo : g_geometries) {
            TestPicture picture(geo.nWidth, geo.nHeight, geo.nStride, 7u + geo.nWidth);
            // The core always converts an even number of columns; compare the picture's own.
            const int nEvenWidth = (geo.nWidth + 1) & ~1;
            for (const CodeInfo& code : g_codes) {
                if (code.nPixelBytes == 0 && geo.nHeight % 2 != 0)
                    continue; // the core's planar layout for odd heights differs from the usual one
                for (uint32_t dwFlip : {0u, CSP_VFLIP}) {
                    const int nOutStride = code.nPixelBytes == 0
                                               ? nEvenWidth + 2 * geo.nOutExtra
                                               : nEvenWidth * code.nPixelBytes + geo.nOutExtra;
                    const size_t nSize = static_cast<size_t>(nOutStride) * geo.nHeight * 2 + 64;
                    std::vector<uint8_t> vecOurs(nSize, 0xA5), vecTheirs(nSize, 0xA5);
                    ASSERT_EQ(0, ConvertImage(picture.frame, geo.nWidth, geo.nHeight, vecOurs.data(),
                                              nOutStride, code.dwCode | dwFlip));
                    ASSERT_TRUE(oracle.Convert(picture.frame, nEvenWidth, geo.nHeight, vecTheirs.data(),
                                               nOutStride, static_cast<int>(code.dwCode | dwFlip)));
                    std::vector<std::pair<size_t, size_t>> vecRows;
                    if (code.nPixelBytes == 0) {
                        vecRows = PlanarRows(geo.nWidth, geo.nHeight, nOutStride);
                    } else {
                        // With an odd height the core takes the last row's chroma from past its own
                        // chroma plane, and flipped it writes one row above the picture: only the
                        // other rows of an unflipped picture have a reference.
                        if (geo.nHeight % 2 != 0 && dwFlip != 0)
                            continue;
                        const int nNoReference = geo.nHeight % 2 == 0 ? -1 : geo.nHeight - 1;
                        for (int r = 0; r < geo.nHeight; ++r)
                            if (r != nNoReference)
                                vecRows.push_back({static_cast<size_t>(r) * nOutStride,
                                                   static_cast<size_t>(geo.nWidth) * code.nPixelBytes});
                    }
                    for (auto [nOffset, nBytes] : vecRows) {
                        for (size_t i = 0; i < nBytes; ++i)
                            ASSERT_EQ(vecTheirs[nOffset + i], vecOurs[nOffset + i])
                                << "code " << code.dwCode << " flip " << (dwFlip != 0) << " plain " << bPlain
                                << " size " << geo.nWidth << "x" << geo.nHeight << " offset " << nOffset + i;
                        // Nothing past the row's own bytes is touched.
                        if (code.nPixelBytes != 0 && nBytes < static_cast<size_t>(nOutStride)) {
                            ASSERT_EQ(0xA5, vecOurs[nOffset + nBytes]) << "code " << code.dwCode;
                        }
                    }
                }
            }
        }
    }
    ForcePlainConverters(false);
}

TEST(ColorConvert, FastRgb32EqualsPlainForEveryYuvTriple)
{
    if (std::string(ConverterVariant()) == "plain")
        GTEST_SKIP() << "no fast variant on this processor";
    // One picture per U: its 256 chroma columns take every V, and the 2x2 luma blocks of the
    // 64 row pairs every Y.
    const int nWidth = 512, nHeight = 128;
    TestPicture picture(nWidth, nHeight, nWidth, 1);
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x)
            picture.vecY[y * nWidth + x] = static_cast<uint8_t>((y / 2) * 4 + (y % 2) * 2 + x % 2);
    std::vector<uint8_t> vecFast(nWidth * nHeight * 4), vecPlain(vecFast.size());
    for (int u = 0; u < 256; ++u) {
        for (int r = 0; r < nHeight / 2; ++r)
            for (int c = 0; c < nWidth / 2; ++c) {
                picture.vecU[r * nWidth / 2 + c] = static_cast<uint8_t>(u);
                picture.vecV[r * nWidth / 2 + c] = static_cast<uint8_t>(c);
            }
        ForcePlainConverters(false);
        ASSERT_EQ(0, ConvertImage(picture.frame, nWidth, nHeight, vecFast.data(), nWidth * 4, CSP_BGRA));
        ForcePlainConverters(true);
        ASSERT_EQ(0, ConvertImage(picture.frame, nWidth, nHeight, vecPlain.data(), nWidth * 4, CSP_BGRA));
        ASSERT_EQ(vecPlain, vecFast) << "U " << u;
    }
    ForcePlainConverters(false);
}

TEST(ColorConvert, RgbWithinOneOfLibswscale)
{
    const int nWidth = 96, nHeight = 40;
    TestPicture picture(nWidth, nHeight, nWidth, 3);
    struct {
        uint32_t dwCode;
        AVPixelFormat enFormat;
        int nBytes;
    } const formats[] = {{CSP_BGRA, AV_PIX_FMT_BGRA, 4}, {CSP_BGR, AV_PIX_FMT_BGR24, 3}};
    // Keep chroma in the range a camera produces so the comparison measures arithmetic, not clamping.
    for (uint8_t& by : picture.vecU)
        by = static_cast<uint8_t>(64 + by / 2);
    for (uint8_t& by : picture.vecV)
        by = static_cast<uint8_t>(64 + by / 2);
    for (const auto& format : formats) {
        SwsContext* pSws =
            sws_getContext(nWidth, nHeight, AV_PIX_FMT_YUV420P, nWidth, nHeight, format.enFormat,
                           SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, pSws);
        std::vector<uint8_t> vecOurs(nWidth * nHeight * format.nBytes), vecTheirs(vecOurs.size());
        const uint8_t* pSrc[3] = {picture.frame.pY, picture.frame.pU, picture.frame.pV};
        const int nSrcStride[3] = {nWidth, nWidth / 2, nWidth / 2};
        uint8_t* pDst[1] = {vecTheirs.data()};
        const int nDstStride[1] = {nWidth * format.nBytes};
        sws_scale(pSws, pSrc, nSrcStride, 0, nHeight, pDst, nDstStride);
        sws_freeContext(pSws);
        ASSERT_EQ(0,
                  ConvertImage(picture.frame, nWidth, nHeight, vecOurs.data(), nDstStride[0], format.dwCode));
        int nWorst = 0;
        for (size_t i = 0; i < vecOurs.size(); ++i) {
            if (format.nBytes == 4 && i % 4 == 3)
                continue; // alpha: ours is 0, libswscale's 255
            nWorst = std::max(nWorst, std::abs(vecOurs[i] - vecTheirs[i]));
        }
        EXPECT_LE(nWorst, 1) << "code " << format.dwCode;
    }
}

TEST(ColorConvert, RefusesUnknownCodesAndShortStrides)
{
    TestPicture picture(16, 4, 16, 1);
    std::vector<uint8_t> vecOut(16 * 4 * 4, 0x5A);
    EXPECT_EQ(-1, ConvertImage(picture.frame, 16, 4, vecOut.data(), 64, 4096));
    EXPECT_EQ(-1, ConvertImage(picture.frame, 16, 4, vecOut.data(), 63, CSP_BGRA));
    EXPECT_EQ(std::vector<uint8_t>(vecOut.size(), 0x5A), vecOut);
}

} // namespace
