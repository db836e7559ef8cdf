#include "media/video/yuvpicture.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VISTREL_AVX2 1
#endif

namespace {

inline std::uint32_t YuvToRgb(int nY, int nU, int nV)
{
    // BT.601, video range, in 8.8 fixed point.
    const int c = 298 * (nY - 16) + 128;
    const int d = nU - 128;
    const int e = nV - 128;
    const auto clip = [](int n) { return static_cast<std::uint32_t>(n < 0 ? 0 : n > 255 ? 255 : n); };
    return clip((c + 409 * e) >> 8) << 16 | clip((c - 100 * d - 208 * e) >> 8) << 8 |
           clip((c + 516 * d) >> 8);
}

#if defined(__SSE2__)
// Sixteen pixels at once, the same arithmetic in 16-bit lanes with two fraction bits: each
// product is (value << 7) * (coefficient * 8) >> 16, that is value * coefficient / 256 * 4.
inline void Convert16(__m128i y8, __m128i u8, __m128i v8, std::uint32_t* pOut)
{
    const __m128i zero = _mm_setzero_si128();
    const auto channels = [&](__m128i y, __m128i u, __m128i v, __m128i* pR, __m128i* pG, __m128i* pB) {
        y = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(y, _mm_set1_epi16(16)), 7), _mm_set1_epi16(298 * 8));
        const __m128i d = _mm_slli_epi16(_mm_sub_epi16(u, _mm_set1_epi16(128)), 7);
        const __m128i e = _mm_slli_epi16(_mm_sub_epi16(v, _mm_set1_epi16(128)), 7);
        y = _mm_add_epi16(y, _mm_set1_epi16(2));
        *pR = _mm_srai_epi16(_mm_add_epi16(y, _mm_mulhi_epi16(e, _mm_set1_epi16(409 * 8))), 2);
        *pG = _mm_srai_epi16(_mm_sub_epi16(_mm_sub_epi16(y, _mm_mulhi_epi16(d, _mm_set1_epi16(100 * 8))),
                                           _mm_mulhi_epi16(e, _mm_set1_epi16(208 * 8))),
                             2);
        *pB = _mm_srai_epi16(_mm_add_epi16(y, _mm_mulhi_epi16(d, _mm_set1_epi16(516 * 8))), 2);
    };
    __m128i rl, gl, bl, rh, gh, bh;
    channels(_mm_unpacklo_epi8(y8, zero), _mm_unpacklo_epi8(u8, zero), _mm_unpacklo_epi8(v8, zero), &rl, &gl,
             &bl);
    channels(_mm_unpackhi_epi8(y8, zero), _mm_unpackhi_epi8(u8, zero), _mm_unpackhi_epi8(v8, zero), &rh, &gh,
             &bh);
    const __m128i r = _mm_packus_epi16(rl, rh);
    const __m128i g = _mm_packus_epi16(gl, gh);
    const __m128i b = _mm_packus_epi16(bl, bh);
    // B, G, R, 0 in memory is 0x00RRGGBB.
    const __m128i bgLow = _mm_unpacklo_epi8(b, g);
    const __m128i bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i rLow = _mm_unpacklo_epi8(r, zero);
    const __m128i rHigh = _mm_unpackhi_epi8(r, zero);
    auto* p = reinterpret_cast<__m128i*>(pOut);
    _mm_storeu_si128(p, _mm_unpacklo_epi16(bgLow, rLow));
    _mm_storeu_si128(p + 1, _mm_unpackhi_epi16(bgLow, rLow));
    _mm_storeu_si128(p + 2, _mm_unpacklo_epi16(bgHigh, rHigh));
    _mm_storeu_si128(p + 3, _mm_unpackhi_epi16(bgHigh, rHigh));
}
#endif

#if defined(VISTREL_AVX2)
// Thirty-two pixels at once where the processor has AVX2: Convert16's arithmetic on twice the
// lanes. AVX2 unpacks and packs within each 128-bit half, so the pixels come out as 0-3, 16-19,
// 4-7, 20-23, ... and the halves are put back in order when stored.
__attribute__((target("avx2"), always_inline)) inline void Channels256(__m256i y, __m256i u, __m256i v,
                                                                       __m256i* pR, __m256i* pG, __m256i* pB)
{
    y = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(y, _mm256_set1_epi16(16)), 7),
                           _mm256_set1_epi16(298 * 8));
    const __m256i d = _mm256_slli_epi16(_mm256_sub_epi16(u, _mm256_set1_epi16(128)), 7);
    const __m256i e = _mm256_slli_epi16(_mm256_sub_epi16(v, _mm256_set1_epi16(128)), 7);
    y = _mm256_add_epi16(y, _mm256_set1_epi16(2));
    *pR = _mm256_srai_epi16(_mm256_add_epi16(y, _mm256_mulhi_epi16(e, _mm256_set1_epi16(409 * 8))), 2);
    *pG = _mm256_srai_epi16(
        _mm256_sub_epi16(_mm256_sub_epi16(y, _mm256_mulhi_epi16(d, _mm256_set1_epi16(100 * 8))),
                         _mm256_mulhi_epi16(e, _mm256_set1_epi16(208 * 8))),
        2);
    *pB = _mm256_srai_epi16(_mm256_add_epi16(y, _mm256_mulhi_epi16(d, _mm256_set1_epi16(516 * 8))), 2);
}

__attribute__((target("avx2"))) void HalfChromaRowAvx2(const BYTE* pY, const BYTE* pU, const BYTE* pV,
                                                       int nWidth, std::uint32_t* pOut, int* pnDone)
{
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= nWidth; x += 32) {
        // Each chroma sample twice, in pixel order.
        const __m256i u16 =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pU + x / 2)));
        const __m256i v16 =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pV + x / 2)));
        const __m256i u8 = _mm256_or_si256(u16, _mm256_slli_epi16(u16, 8));
        const __m256i v8 = _mm256_or_si256(v16, _mm256_slli_epi16(v16, 8));
        const __m256i y8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pY + x));
        __m256i rl, gl, bl, rh, gh, bh;
        Channels256(_mm256_unpacklo_epi8(y8, zero), _mm256_unpacklo_epi8(u8, zero),
                    _mm256_unpacklo_epi8(v8, zero), &rl, &gl, &bl);
        Channels256(_mm256_unpackhi_epi8(y8, zero), _mm256_unpackhi_epi8(u8, zero),
                    _mm256_unpackhi_epi8(v8, zero), &rh, &gh, &bh);
        const __m256i r = _mm256_packus_epi16(rl, rh);
        const __m256i g = _mm256_packus_epi16(gl, gh);
        const __m256i b = _mm256_packus_epi16(bl, bh);
        const __m256i bgLow = _mm256_unpacklo_epi8(b, g);
        const __m256i bgHigh = _mm256_unpackhi_epi8(b, g);
        const __m256i rLow = _mm256_unpacklo_epi8(r, zero);
        const __m256i rHigh = _mm256_unpackhi_epi8(r, zero);
        const __m256i p0 = _mm256_unpacklo_epi16(bgLow, rLow);   // 0-3, 16-19
        const __m256i p1 = _mm256_unpackhi_epi16(bgLow, rLow);   // 4-7, 20-23
        const __m256i p2 = _mm256_unpacklo_epi16(bgHigh, rHigh); // 8-11, 24-27
        const __m256i p3 = _mm256_unpackhi_epi16(bgHigh, rHigh); // 12-15, 28-31
        auto* p = reinterpret_cast<__m256i*>(pOut + x);
        _mm256_storeu_si256(p, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(p + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_storeu_si256(p + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_storeu_si256(p + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
    }
    *pnDone = x;
}

const bool g_bAvx2 = __builtin_cpu_supports("avx2");
#endif

// One row of a 4:2:0 picture at its own size: each chroma sample serves two pixels.
void HalfChromaRow(const BYTE* pY, const BYTE* pU, const BYTE* pV, int nWidth, std::uint32_t* pOut)
{
    int x = 0;
#if defined(VISTREL_AVX2)
    if (g_bAvx2)
        HalfChromaRowAvx2(pY, pU, pV, nWidth, pOut, &x);
#endif
#if defined(__SSE2__)
    for (; x + 16 <= nWidth; x += 16) {
        const __m128i u = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pU + x / 2));
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pV + x / 2));
        Convert16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pY + x)), _mm_unpacklo_epi8(u, u),
                  _mm_unpacklo_epi8(v, v), pOut + x);
    }
#endif
    for (; x < nWidth; ++x)
        pOut[x] = YuvToRgb(pY[x], pU[x / 2], pV[x / 2]);
}

// One row with a chroma sample per pixel.
void FullChromaRow(const BYTE* pY, const BYTE* pU, const BYTE* pV, int nWidth, std::uint32_t* pOut)
{
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= nWidth; x += 16)
        Convert16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pY + x)),
                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(pU + x)),
                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(pV + x)), pOut + x);
#endif
    for (; x < nWidth; ++x)
        pOut[x] = YuvToRgb(pY[x], pU[x], pV[x]);
}

// Adds a row of luma to the column sums.
void AddRow(const BYTE* pRow, int nWidth, std::uint16_t* pSums)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= nWidth; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pRow + x));
        auto* p = reinterpret_cast<__m128i*>(pSums + x);
        _mm_storeu_si128(p, _mm_add_epi16(_mm_loadu_si128(p), _mm_unpacklo_epi8(v, zero)));
        _mm_storeu_si128(p + 1, _mm_add_epi16(_mm_loadu_si128(p + 1), _mm_unpackhi_epi8(v, zero)));
    }
#endif
    for (; x < nWidth; ++x)
        pSums[x] = static_cast<std::uint16_t>(pSums[x] + pRow[x]);
}

// The rounded mean of two rows.
void AverageRows(const BYTE* pFirst, const BYTE* pSecond, int nWidth, BYTE* pOut)
{
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= nWidth; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + x),
                         _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pFirst + x)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSecond + x))));
#endif
    for (; x < nWidth; ++x)
        pOut[x] = static_cast<BYTE>((pFirst[x] + pSecond[x] + 1) >> 1);
}

// The source pixels output pixel n of nOut covers, at least two: shrunk by less than half, a
// box of one pixel would pick that pixel alone.
inline void Box(int n, int nOut, int nSize, int* pnStart, int* pnEnd)
{
    *pnStart = std::min(static_cast<int>(static_cast<long long>(n) * nSize / nOut), nSize - 2);
    *pnEnd = std::max(*pnStart + 2, static_cast<int>(static_cast<long long>(n + 1) * nSize / nOut));
}

constexpr int kInverseBits = 20;

inline std::uint32_t Inverse(int nCount)
{
    return static_cast<std::uint32_t>(((1u << kInverseBits) + static_cast<unsigned>(nCount) - 1) /
                                      static_cast<unsigned>(nCount));
}

void MakeColumnTables(int nWidth, int nOutWidth, YuvScratch& scratch)
{
    if (scratch.nForWidth == nWidth && scratch.nForOutWidth == nOutWidth)
        return;
    const auto n = static_cast<std::size_t>(nOutWidth);
    scratch.vColumnStart.resize(n);
    scratch.vColumnCount.resize(n);
    scratch.vColumnChroma.resize(n);
    scratch.vColumnInverse.resize(n);
    for (int ox = 0; ox < nOutWidth; ++ox) {
        int x0 = 0;
        int x1 = 0;
        Box(ox, nOutWidth, nWidth, &x0, &x1);
        scratch.vColumnStart[ox] = x0;
        scratch.vColumnCount[ox] = x1 - x0;
        scratch.vColumnChroma[ox] = std::min((x0 + x1) / 2, nWidth - 1) / 2;
        scratch.vColumnInverse[ox] = Inverse(x1 - x0);
    }
    scratch.nForWidth = nWidth;
    scratch.nForOutWidth = nOutWidth;
}

} // namespace

void ConvertYuv420(const YuvPlanes& picture, int nOutWidth, int nOutHeight, std::uint32_t* pOut,
                   YuvScratch& scratch)
{
    const int nWidth = picture.nWidth;
    const int nHeight = picture.nHeight;
    nOutWidth = std::clamp(nOutWidth, 1, nWidth);
    nOutHeight = std::clamp(nOutHeight, 1, nHeight);
    if (nOutWidth == nWidth && nOutHeight == nHeight) {
        for (int y = 0; y < nHeight; ++y)
            HalfChromaRow(picture.pY + y * picture.nLumaStride, picture.pU + (y / 2) * picture.nChromaStride,
                          picture.pV + (y / 2) * picture.nChromaStride, nWidth,
                          pOut + std::size_t(y) * nWidth);
        return;
    }
    MakeColumnTables(nWidth, nOutWidth, scratch);
    scratch.vColumnSums.resize(static_cast<std::size_t>(nWidth));
    scratch.vRow.resize(static_cast<std::size_t>(nOutWidth) * 3 + static_cast<std::size_t>(nWidth));
    BYTE* pRowY = scratch.vRow.data();
    BYTE* pRowU = pRowY + nOutWidth;
    BYTE* pRowV = pRowU + nOutWidth;
    BYTE* pBand = pRowV + nOutWidth;
    const bool bTwoByTwo = nOutWidth * 2 > nWidth && nOutHeight * 2 > nHeight;
    for (int oy = 0; oy < nOutHeight; ++oy) {
        int y0 = 0;
        int y1 = 0;
        Box(oy, nOutHeight, nHeight, &y0, &y1);
        const int* pStart = scratch.vColumnStart.data();
        const int* pCount = scratch.vColumnCount.data();
        const int* pChroma = scratch.vColumnChroma.data();
        const std::uint32_t* pInverse = scratch.vColumnInverse.data();
        if (bTwoByTwo) {
            // Shrunk by less than half both ways (one large pane): every box is two by two, the
            // mean of two row means.
            AverageRows(picture.pY + y0 * picture.nLumaStride, picture.pY + (y0 + 1) * picture.nLumaStride,
                        nWidth, pBand);
            for (int ox = 0; ox < nOutWidth; ++ox) {
                const BYTE* p = pBand + pStart[ox];
                pRowY[ox] = static_cast<BYTE>((p[0] + p[1] + 1) >> 1);
            }
        } else {
            // 16-bit column sums hold 257 rows of 255; a band taller than that (a pane a few
            // pixels high) takes every so many of its rows.
            const int nStep = (y1 - y0 + 256) / 257;
            const int nRows = (y1 - y0 + nStep - 1) / nStep;
            std::fill(scratch.vColumnSums.begin(), scratch.vColumnSums.end(), std::uint16_t{0});
            for (int y = y0; y < y1; y += nStep)
                AddRow(picture.pY + y * picture.nLumaStride, nWidth, scratch.vColumnSums.data());
            // Plain pointers: stores through a byte pointer would otherwise make the compiler
            // reload every table's address for each pixel.
            const std::uint64_t qwRowInverse = Inverse(nRows);
            const std::uint16_t* pSums = scratch.vColumnSums.data();
            for (int ox = 0; ox < nOutWidth; ++ox) {
                const std::uint16_t* p = pSums + pStart[ox];
                const int nCount = pCount[ox];
                std::uint32_t nSum = static_cast<std::uint32_t>(p[0]) + p[1];
                for (int i = 2; i < nCount; ++i)
                    nSum += p[i];
                const std::uint64_t qwMean =
                    (nSum * qwRowInverse * pInverse[ox] + (std::uint64_t{1} << (2 * kInverseBits - 1))) >>
                    (2 * kInverseBits);
                pRowY[ox] = static_cast<BYTE>(qwMean < 255 ? qwMean : 255);
            }
        }
        const int yc = std::min((y0 + y1) / 2, nHeight - 1) / 2;
        const BYTE* pU = picture.pU + yc * picture.nChromaStride;
        const BYTE* pV = picture.pV + yc * picture.nChromaStride;
        for (int ox = 0; ox < nOutWidth; ++ox) {
            pRowU[ox] = pU[pChroma[ox]];
            pRowV[ox] = pV[pChroma[ox]];
        }
        FullChromaRow(pRowY, pRowU, pRowV, nOutWidth, pOut + std::size_t(oy) * nOutWidth);
    }
}
