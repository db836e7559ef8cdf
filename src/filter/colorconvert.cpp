#include "filter/colorconvert.h"

#include <atomic>
#include <cstring>
#include <immintrin.h>

namespace {

constexpr int SCALEBITS_OUT = 13;

constexpr int FixOut(double dValue)
{
    return static_cast<uint16_t>(dValue * (1 << SCALEBITS_OUT) + 0.5);
}

constexpr int FIX_Y = FixOut(1.164);
constexpr int FIX_BU = FixOut(2.018);
constexpr int FIX_GU = FixOut(0.391);
constexpr int FIX_GV = FixOut(0.813);
constexpr int FIX_RV = FixOut(1.596);

struct RgbTables {
    int32_t nY[256];
    int32_t nBU[256];
    int32_t nGU[256];
    int32_t nGV[256];
    int32_t nRV[256];

    constexpr RgbTables() : nY(), nBU(), nGU(), nGV(), nRV()
    {
        for (int i = 0; i < 256; ++i) {
            nY[i] = FIX_Y * (i - 16);
            nBU[i] = FIX_BU * (i - 128);
            nGU[i] = FIX_GU * (i - 128);
            nGV[i] = FIX_GV * (i - 128);
            nRV[i] = FIX_RV * (i - 128);
        }
    }
};

constexpr RgbTables g_tables;

inline uint8_t Clamp255(int n)
{
    return static_cast<uint8_t>(n < 0 ? 0 : (n > 255 ? 255 : n));
}

// One or two rows that share a chroma row; pDst1/pY1 are null for the last row of an odd height.
struct RowPair {
    const uint8_t* pY0;
    const uint8_t* pY1;
    const uint8_t* pU;
    const uint8_t* pV;
    uint8_t* pDst0;
    uint8_t* pDst1;
};

// Converts pixels [nFrom, nTo) of a row pair; nFrom is even.
using RowFunc = void (*)(const RowPair& rows, int nFrom, int nTo);

template <int SIZE, int R, int G, int B, int A> void RowRgb(const RowPair& rows, int nFrom, int nTo)
{
    for (int x = nFrom; x < nTo; ++x) {
        const int c = x >> 1;
        const int nBU = g_tables.nBU[rows.pU[c]];
        const int nGUV = g_tables.nGU[rows.pU[c]] + g_tables.nGV[rows.pV[c]];
        const int nRV = g_tables.nRV[rows.pV[c]];
        for (int r = 0; r < 2; ++r) {
            const uint8_t* pY = r == 0 ? rows.pY0 : rows.pY1;
            uint8_t* pDst = r == 0 ? rows.pDst0 : rows.pDst1;
            if (pDst == nullptr)
                break;
            const int nLuma = g_tables.nY[pY[x]];
            uint8_t* pPixel = pDst + x * SIZE;
            pPixel[B] = Clamp255((nLuma + nBU) >> SCALEBITS_OUT);
            pPixel[G] = Clamp255((nLuma - nGUV) >> SCALEBITS_OUT);
            pPixel[R] = Clamp255((nLuma + nRV) >> SCALEBITS_OUT);
            if constexpr (SIZE > 3)
                pPixel[A] = 0;
        }
    }
}

inline uint16_t MakeRgb555(int r, int g, int b)
{
    return static_cast<uint16_t>(((Clamp255(r) << 7) & 0x7c00) | ((Clamp255(g) << 2) & 0x03e0) |
                                 ((Clamp255(b) >> 3) & 0x001f));
}

inline uint16_t MakeRgb565(int r, int g, int b)
{
    return static_cast<uint16_t>(((Clamp255(r) << 8) & 0xf800) | ((Clamp255(g) << 3) & 0x07e0) |
                                 ((Clamp255(b) >> 3) & 0x001f));
}

// The bits a 5- or 6-bit channel drops are carried into the next pixel of the row; the carry
// starts afresh with every row pair.
template <bool IS565> void RowRgb16(const RowPair& rows, int nFrom, int nTo)
{
    int r[2] = {0, 0}, g[2] = {0, 0}, b[2] = {0, 0};
    for (int x = nFrom; x < nTo; ++x) {
        const int c = x >> 1;
        const int nBU = g_tables.nBU[rows.pU[c]];
        const int nGUV = g_tables.nGU[rows.pU[c]] + g_tables.nGV[rows.pV[c]];
        const int nRV = g_tables.nRV[rows.pV[c]];
        for (int k = 0; k < 2; ++k) {
            const uint8_t* pY = k == 0 ? rows.pY0 : rows.pY1;
            uint8_t* pDst = k == 0 ? rows.pDst0 : rows.pDst1;
            if (pDst == nullptr)
                break;
            const int nLuma = g_tables.nY[pY[x]];
            b[k] = (b[k] & 7) + ((nLuma + nBU) >> SCALEBITS_OUT);
            g[k] = (g[k] & 7) + ((nLuma - nGUV) >> SCALEBITS_OUT);
            r[k] = (r[k] & 7) + ((nLuma + nRV) >> SCALEBITS_OUT);
            const uint16_t usPixel = IS565 ? MakeRgb565(r[k], g[k], b[k]) : MakeRgb555(r[k], g[k], b[k]);
            std::memcpy(pDst + x * 2, &usPixel, 2);
        }
    }
}

// Packed 4:2:2 with byte positions of Y0, U, Y1, V in each 4-byte macropixel.
template <int Y0, int U, int Y1, int V> void RowPacked(const RowPair& rows, int nFrom, int nTo)
{
    for (int r = 0; r < 2; ++r) {
        const uint8_t* pY = r == 0 ? rows.pY0 : rows.pY1;
        uint8_t* pDst = r == 0 ? rows.pDst0 : rows.pDst1;
        if (pDst == nullptr)
            break;
        for (int x = nFrom; x < nTo; x += 2) {
            uint8_t* pMacro = pDst + x * 2;
            const int c = x >> 1;
            // An odd width ends in half a macropixel: only its first two bytes belong to the row.
            uint8_t byMacro[4];
            byMacro[Y0] = pY[x];
            byMacro[U] = rows.pU[c];
            byMacro[Y1] = x + 1 < nTo ? pY[x + 1] : 0;
            byMacro[V] = rows.pV[c];
            std::memcpy(pMacro, byMacro, x + 1 < nTo ? 4 : 2);
        }
    }
}

// Fast variants: they convert whole blocks at the start of a row and leave the tail to the
// plain routine, so no byte past the row's width is ever written.
__attribute__((target("sse2"))) inline void BgraFromWords(__m128i b, __m128i g, __m128i r, uint8_t* pDst)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i b8 = _mm_packus_epi16(b, zero);
    const __m128i g8 = _mm_packus_epi16(g, zero);
    const __m128i r8 = _mm_packus_epi16(r, zero);
    const __m128i bg = _mm_unpacklo_epi8(b8, g8);
    const __m128i ra = _mm_unpacklo_epi8(r8, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst), _mm_unpacklo_epi16(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + 16), _mm_unpackhi_epi16(bg, ra));
}

// (a * ca + b * cb) >> 13 for eight 16-bit lanes, exact in 32 bits.
__attribute__((target("sse2"))) inline __m128i MulAdd2(__m128i a, __m128i b, __m128i coef)
{
    const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), coef), SCALEBITS_OUT);
    const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), coef), SCALEBITS_OUT);
    return _mm_packs_epi32(lo, hi);
}

__attribute__((target("sse2"))) inline __m128i MulAdd3(__m128i a, __m128i b, __m128i c, __m128i coefAB,
                                                       __m128i coefC)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), coefAB);
    __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(a, b), coefAB);
    lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(c, zero), coefC));
    hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(c, zero), coefC));
    return _mm_packs_epi32(_mm_srai_epi32(lo, SCALEBITS_OUT), _mm_srai_epi32(hi, SCALEBITS_OUT));
}

inline int PairCoef(int nLow, int nHigh)
{
    return static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(nHigh)) << 16) |
                            static_cast<uint16_t>(nLow));
}

__attribute__((target("sse2"))) int BgraSse2(const RowPair& rows, int nWidth)
{
    const int nBlocks = nWidth & ~7;
    const __m128i zero = _mm_setzero_si128();
    const __m128i c16 = _mm_set1_epi16(16), c128 = _mm_set1_epi16(128);
    const __m128i coefB = _mm_set1_epi32(PairCoef(FIX_Y, FIX_BU));
    const __m128i coefR = _mm_set1_epi32(PairCoef(FIX_Y, FIX_RV));
    const __m128i coefG = _mm_set1_epi32(PairCoef(FIX_Y, -FIX_GU));
    const __m128i coefGV = _mm_set1_epi32(PairCoef(-FIX_GV, 0));
    for (int x = 0; x < nBlocks; x += 8) {
        int32_t nU4, nV4;
        std::memcpy(&nU4, rows.pU + x / 2, 4);
        std::memcpy(&nV4, rows.pV + x / 2, 4);
        __m128i u = _mm_cvtsi32_si128(nU4);
        __m128i v = _mm_cvtsi32_si128(nV4);
        u = _mm_sub_epi16(_mm_unpacklo_epi8(u, zero), c128);
        v = _mm_sub_epi16(_mm_unpacklo_epi8(v, zero), c128);
        u = _mm_unpacklo_epi16(u, u);
        v = _mm_unpacklo_epi16(v, v);
        for (int r = 0; r < 2; ++r) {
            const uint8_t* pY = r == 0 ? rows.pY0 : rows.pY1;
            uint8_t* pDst = r == 0 ? rows.pDst0 : rows.pDst1;
            if (pDst == nullptr)
                break;
            __m128i y = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pY + x));
            y = _mm_sub_epi16(_mm_unpacklo_epi8(y, zero), c16);
            BgraFromWords(MulAdd2(y, u, coefB), MulAdd3(y, u, v, coefG, coefGV), MulAdd2(y, v, coefR),
                          pDst + x * 4);
        }
    }
    return nBlocks;
}

// The high halves of luma + chroma for the even and the odd pixels, in pixel order.
__attribute__((target("avx2"))) inline __m256i HighHalves(__m256i lumaEven, __m256i lumaOdd, __m256i chroma)
{
    return _mm256_blend_epi16(_mm256_srli_epi32(_mm256_add_epi32(lumaEven, chroma), 16),
                              _mm256_add_epi32(lumaOdd, chroma), 0xAA);
}

// Sixteen pixels per step. Luma and chroma enter scaled by 8, so the 13-bit fixed-point result
// is the high half of each exact 32-bit sum: one madd takes the even pixels, one the odd, both
// share the chroma sums of their pair, and one blend puts the results back in pixel order.
__attribute__((target("avx2"))) int BgraAvx2(const RowPair& rows, int nWidth)
{
    const int nBlocks = nWidth & ~15;
    const __m256i c16 = _mm256_set1_epi16(16), c128 = _mm256_set1_epi16(128);
    const __m256i coefEven = _mm256_set1_epi32(PairCoef(FIX_Y, 0));
    const __m256i coefOdd = _mm256_set1_epi32(PairCoef(0, FIX_Y));
    const __m256i coefB = _mm256_set1_epi32(PairCoef(FIX_BU, 0));
    const __m256i coefG = _mm256_set1_epi32(PairCoef(-FIX_GU, -FIX_GV));
    const __m256i coefR = _mm256_set1_epi32(PairCoef(0, FIX_RV));
    const __m256i zero = _mm256_setzero_si256();
    for (int x = 0; x < nBlocks; x += 16) {
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows.pU + x / 2));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows.pV + x / 2));
        // (u, v) pairs of the eight chroma samples, one per 32-bit lane.
        const __m256i uv =
            _mm256_slli_epi16(_mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, v8)), c128), 3);
        const __m256i chromaB = _mm256_madd_epi16(uv, coefB);
        const __m256i chromaG = _mm256_madd_epi16(uv, coefG);
        const __m256i chromaR = _mm256_madd_epi16(uv, coefR);
        for (int r = 0; r < 2; ++r) {
            const uint8_t* pY = r == 0 ? rows.pY0 : rows.pY1;
            uint8_t* pDst = r == 0 ? rows.pDst0 : rows.pDst1;
            if (pDst == nullptr)
                break;
            const __m256i y = _mm256_slli_epi16(
                _mm256_sub_epi16(
                    _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pY + x))), c16),
                3);
            const __m256i lumaEven = _mm256_madd_epi16(y, coefEven);
            const __m256i lumaOdd = _mm256_madd_epi16(y, coefOdd);
            // Lane k holds pixels 8k..8k+7 of each channel.
            const __m256i bg = _mm256_packus_epi16(HighHalves(lumaEven, lumaOdd, chromaB),
                                                   HighHalves(lumaEven, lumaOdd, chromaG));
            const __m256i ra = _mm256_packus_epi16(HighHalves(lumaEven, lumaOdd, chromaR), zero);
            const __m256i br = _mm256_unpacklo_epi8(bg, ra); // B R pairs
            const __m256i ga = _mm256_unpackhi_epi8(bg, ra); // G 0 pairs
            const __m256i p0 = _mm256_unpacklo_epi8(br, ga); // pixels 0-3 | 8-11
            const __m256i p1 = _mm256_unpackhi_epi8(br, ga); // pixels 4-7 | 12-15
            uint8_t* pOut = pDst + x * 4;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(pOut), _mm256_permute2x128_si256(p0, p1, 0x20));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(pOut + 32),
                                _mm256_permute2x128_si256(p0, p1, 0x31));
        }
    }
    return nBlocks;
}

// Packed 4:2:2, sixteen pixels per step; the macropixel order is fixed by the template.
template <bool UV_FIRST, bool V_BEFORE_U>
__attribute__((target("sse2"))) int PackedSse2(const RowPair& rows, int nWidth)
{
    const int nBlocks = nWidth & ~15;
    for (int x = 0; x < nBlocks; x += 16) {
        const __m128i u = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows.pU + x / 2));
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows.pV + x / 2));
        const __m128i c = V_BEFORE_U ? _mm_unpacklo_epi8(v, u) : _mm_unpacklo_epi8(u, v);
        for (int r = 0; r < 2; ++r) {
            const uint8_t* pY = r == 0 ? rows.pY0 : rows.pY1;
            uint8_t* pDst = r == 0 ? rows.pDst0 : rows.pDst1;
            if (pDst == nullptr)
                break;
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pY + x));
            const __m128i lo = UV_FIRST ? _mm_unpacklo_epi8(c, y) : _mm_unpacklo_epi8(y, c);
            const __m128i hi = UV_FIRST ? _mm_unpackhi_epi8(c, y) : _mm_unpackhi_epi8(y, c);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + x * 2), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + x * 2 + 16), hi);
        }
    }
    return nBlocks;
}

using FastFunc = int (*)(const RowPair& rows, int nWidth);

struct Variant {
    const char* pszName;
    FastFunc pfnBgra;
    FastFunc pfnYuy2;
    FastFunc pfnUyvy;
    FastFunc pfnYvyu;
};

Variant ChooseVariant()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return {"avx2", BgraAvx2, PackedSse2<false, false>, PackedSse2<true, false>, PackedSse2<false, true>};
    if (__builtin_cpu_supports("sse2"))
        return {"sse2", BgraSse2, PackedSse2<false, false>, PackedSse2<true, false>, PackedSse2<false, true>};
    return {"plain", nullptr, nullptr, nullptr, nullptr};
}

const Variant g_chosen = ChooseVariant();
const Variant g_plain = {"plain", nullptr, nullptr, nullptr, nullptr};
std::atomic<bool> g_bForcePlain{false};

const Variant& Current()
{
    return g_bForcePlain.load(std::memory_order_relaxed) ? g_plain : g_chosen;
}

void CopyPlane(const uint8_t* pSrc, int nSrcStride, uint8_t* pDst, int nDstStride, int nWidth, int nRows,
               bool bFlip)
{
    for (int r = 0; r < nRows; ++r) {
        uint8_t* pRow = pDst + static_cast<ptrdiff_t>(bFlip ? nRows - 1 - r : r) * nDstStride;
        std::memcpy(pRow, pSrc + static_cast<ptrdiff_t>(r) * nSrcStride, nWidth);
    }
}

} // namespace

int ConvertImage(const FrameBuffer& frame, int nWidth, int nHeight, uint8_t* pOut, int nOutStride,
                 uint32_t dwCode)
{
    const bool bFlip = (dwCode & CSP_VFLIP) != 0;
    const uint32_t dwFormat = dwCode & ~CSP_VFLIP;
    if (nWidth <= 0 || nHeight <= 0 || pOut == nullptr || frame.pY == nullptr)
        return -1;
    const int nChromaStride = frame.nStride / 2;
    const int nChromaWidth = (nWidth + 1) / 2;
    const int nChromaRows = (nHeight + 1) / 2;

    if (dwFormat == CSP_I420 || dwFormat == CSP_YV12) {
        if (nOutStride < nWidth)
            return -1;
        const int nOutChroma = nOutStride / 2;
        uint8_t* pFirst = pOut + static_cast<ptrdiff_t>(nOutStride) * nHeight;
        uint8_t* pSecond = pFirst + static_cast<ptrdiff_t>(nOutChroma) * nChromaRows;
        CopyPlane(frame.pY, frame.nStride, pOut, nOutStride, nWidth, nHeight, bFlip);
        CopyPlane(dwFormat == CSP_I420 ? frame.pU : frame.pV, nChromaStride, pFirst, nOutChroma, nChromaWidth,
                  nChromaRows, bFlip);
        CopyPlane(dwFormat == CSP_I420 ? frame.pV : frame.pU, nChromaStride, pSecond, nOutChroma,
                  nChromaWidth, nChromaRows, bFlip);
        return 0;
    }

    const Variant& variant = Current();
    RowFunc pfnRow = nullptr;
    FastFunc pfnFast = nullptr;
    int nPixelSize = 0;
    switch (dwFormat) {
    case CSP_YUY2:
        pfnRow = RowPacked<0, 1, 2, 3>, pfnFast = variant.pfnYuy2, nPixelSize = 2;
        break;
    case CSP_UYVY:
        pfnRow = RowPacked<1, 0, 3, 2>, pfnFast = variant.pfnUyvy, nPixelSize = 2;
        break;
    case CSP_YVYU:
        pfnRow = RowPacked<0, 3, 2, 1>, pfnFast = variant.pfnYvyu, nPixelSize = 2;
        break;
    case CSP_BGRA:
        pfnRow = RowRgb<4, 2, 1, 0, 3>, pfnFast = variant.pfnBgra, nPixelSize = 4;
        break;
    case CSP_ABGR:
        pfnRow = RowRgb<4, 3, 2, 1, 0>, nPixelSize = 4;
        break;
    case CSP_RGBA:
        pfnRow = RowRgb<4, 0, 1, 2, 3>, nPixelSize = 4;
        break;
    case CSP_ARGB:
        pfnRow = RowRgb<4, 1, 2, 3, 0>, nPixelSize = 4;
        break;
    case CSP_BGR:
        pfnRow = RowRgb<3, 2, 1, 0, 0>, nPixelSize = 3;
        break;
    case CSP_RGB555:
        pfnRow = RowRgb16<false>, nPixelSize = 2;
        break;
    case CSP_RGB565:
        pfnRow = RowRgb16<true>, nPixelSize = 2;
        break;
    default:
        return -1;
    }
    if (nOutStride < nWidth * nPixelSize)
        return -1;

    for (int y = 0; y < nHeight; y += 2) {
        const bool bPair = y + 1 < nHeight;
        auto rowOut = [&](int nRow) {
            return pOut + static_cast<ptrdiff_t>(bFlip ? nHeight - 1 - nRow : nRow) * nOutStride;
        };
        RowPair rows;
        rows.pY0 = frame.pY + static_cast<ptrdiff_t>(y) * frame.nStride;
        rows.pY1 = bPair ? rows.pY0 + frame.nStride : nullptr;
        rows.pU = frame.pU + static_cast<ptrdiff_t>(y / 2) * nChromaStride;
        rows.pV = frame.pV + static_cast<ptrdiff_t>(y / 2) * nChromaStride;
        rows.pDst0 = rowOut(y);
        rows.pDst1 = bPair ? rowOut(y + 1) : nullptr;
        const int nDone = pfnFast != nullptr ? pfnFast(rows, nWidth) : 0;
        pfnRow(rows, nDone, nWidth);
    }
    return 0;
}

const char* ConverterVariant()
{
    return Current().pszName;
}

void ForcePlainConverters(bool bPlain)
{
    g_bForcePlain.store(bPlain, std::memory_order_relaxed);
}
