#include "filter/blendbitmap.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <unordered_map>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

namespace {

constexpr uint8_t OUTLINE_GREY = 0x0D;
constexpr int SCREEN_DPI = 96;

uint8_t LumaOf(int r, int g, int b)
{
    return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
uint8_t BlueDiffOf(int r, int g, int b)
{
    return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
uint8_t RedDiffOf(int r, int g, int b)
{
    return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// The per-pixel loops run on every text change and on every live frame: they take eight
// samples at a time in a 64-bit word, each byte on its own (no carry or borrow crosses bytes).
constexpr uint64_t LOW_BITS = 0x0101010101010101ULL;
constexpr uint64_t HIGH_BITS = 0x8080808080808080ULL;

uint64_t Load8(const uint8_t* p)
{
    uint64_t w = 0;
    std::memcpy(&w, p, sizeof w);
    return w;
}
void Store8(uint8_t* p, uint64_t w)
{
    std::memcpy(p, &w, sizeof w);
}
// 0xFF in each byte that is not 0, else 0.
uint64_t NonZeroBytes(uint64_t w)
{
    return (((((w & ~HIGH_BITS) + ~HIGH_BITS) | w) & HIGH_BITS) >> 7) * 0xFF;
}
// a - b in each byte, wrapping.
uint64_t SubBytes(uint64_t a, uint64_t b)
{
    return ((a | HIGH_BITS) - (b & ~HIGH_BITS)) ^ ((a ^ ~b) & HIGH_BITS);
}
// 0xFF in each byte where a's is below b's (unsigned), else 0: where the byte's subtraction
// borrows.
uint64_t LessBytes(uint64_t a, uint64_t b)
{
    return ((((~a & b) | (~(a ^ b) & SubBytes(a, b))) & HIGH_BITS) >> 7) * 0xFF;
}

// Copies the samples of a row that are outside key - 8 .. key + 8 (with 8-bit wrap-around);
// the others leave the picture as it is.
void BlendRow(const uint8_t* pSrc, uint8_t* pDst, int nCount, uint8_t byKey)
{
    const uint8_t byLow = static_cast<uint8_t>(byKey - 8);
    int i = 0;
    for (; i + 8 <= nCount; i += 8) {
        const uint64_t wSrc = Load8(pSrc + i);
        const uint64_t wVisible = ~LessBytes(SubBytes(wSrc, byLow * LOW_BITS), 17 * LOW_BITS);
        if (wVisible == 0)
            continue;
        const uint64_t wDst = Load8(pDst + i);
        Store8(pDst + i, wDst ^ ((wDst ^ wSrc) & wVisible));
    }
    for (; i < nCount; ++i)
        if (static_cast<uint8_t>(pSrc[i] - byLow) > 16)
            pDst[i] = pSrc[i];
}

} // namespace

std::vector<uint8_t> RgbToPlanar420(const uint32_t* pPixels, int nWidth, int nHeight)
{
    const int nEven = (nWidth + 1) & ~1;
    const int nChromaWidth = nEven / 2, nChromaHeight = nHeight / 2;
    std::vector<uint8_t> vecPlanes(static_cast<size_t>(nEven) * nHeight + 2 * nChromaWidth * nChromaHeight);
    // The column that makes an odd width even is black.
    const uint32_t dwPad = 0;
    uint8_t* pY = vecPlanes.data();
    for (int y = 0; y < nHeight; ++y) {
        const uint32_t* pRow = pPixels + static_cast<size_t>(y) * nWidth;
        uint8_t* pOut = pY + static_cast<size_t>(y) * nEven;
        for (int x = 0; x < nWidth; ++x)
            pOut[x] = LumaOf((pRow[x] >> 16) & 0xFF, (pRow[x] >> 8) & 0xFF, pRow[x] & 0xFF);
        if (nEven != nWidth)
            pOut[nWidth] = LumaOf(0, 0, 0);
    }
    uint8_t* pU = vecPlanes.data() + static_cast<size_t>(nEven) * nHeight;
    uint8_t* pV = pU + nChromaWidth * nChromaHeight;
    for (int cy = 0; cy < nChromaHeight; ++cy) {
        const uint32_t* pTop = pPixels + static_cast<size_t>(cy) * 2 * nWidth;
        const uint32_t* pBottom = pTop + nWidth;
        for (int cx = 0; cx < nChromaWidth; ++cx) {
            const bool bFull = cx * 2 + 1 < nWidth;
            const uint32_t dwBlock[4] = {pTop[cx * 2], bFull ? pTop[cx * 2 + 1] : dwPad, pBottom[cx * 2],
                                         bFull ? pBottom[cx * 2 + 1] : dwPad};
            // The block's mean colour.
            int r = 0, g = 0, b = 0;
            for (uint32_t dw : dwBlock) {
                r += (dw >> 16) & 0xFF;
                g += (dw >> 8) & 0xFF;
                b += dw & 0xFF;
            }
            pU[cy * nChromaWidth + cx] = BlueDiffOf((r + 2) / 4, (g + 2) / 4, (b + 2) / 4);
            pV[cy * nChromaWidth + cx] = RedDiffOf((r + 2) / 4, (g + 2) / 4, (b + 2) / 4);
        }
    }
    return vecPlanes;
}

namespace {

// What a grey level becomes in a rendered text: itself, or its luma.
using LevelMap = std::array<uint8_t, 256>;
const LevelMap& GreyLevels()
{
    static const LevelMap s_aMap = [] {
        LevelMap aMap{};
        for (int i = 0; i < 256; ++i)
            aMap[i] = static_cast<uint8_t>(i);
        return aMap;
    }();
    return s_aMap;
}
const LevelMap& LumaLevels()
{
    static const LevelMap s_aMap = [] {
        LevelMap aMap{};
        for (int i = 0; i < 256; ++i)
            aMap[i] = LumaOf(i, i, i);
        return aMap;
    }();
    return s_aMap;
}

} // namespace

struct CBlendBitmap::Font {
    FT_Library hLibrary = nullptr;
    FT_Face hFace = nullptr;
    bool bSyntheticBold = false;
    int nPixels = 0; // size set on the face

    // Rendered glyphs by size and glyph index: the time text changes every second but its
    // digits do not.
    struct Glyph {
        std::vector<uint8_t> vecCoverage; // nWidth x nRows
        int nWidth = 0, nRows = 0, nLeft = 0, nTop = 0;
        long nAdvance = 0; // 26.6
    };
    // By size (high half) and glyph index.
    std::unordered_map<uint64_t, Glyph> mapGlyphs;
    // The glyphs of the text being rendered.
    std::vector<const Glyph*> vecLine;

    // The glyph of a character at the size last set on the face. References stay valid until
    // Trim.
    const Glyph& GetGlyph(int nPixels, char32_t c)
    {
        const FT_UInt uIndex = FT_Get_Char_Index(hFace, c);
        const uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(nPixels)) << 32 | uIndex;
        if (auto it = mapGlyphs.find(key); it != mapGlyphs.end())
            return it->second;
        Glyph& glyph = mapGlyphs[key];
        if (FT_Load_Glyph(hFace, uIndex, FT_LOAD_DEFAULT) != 0)
            return glyph;
        if (bSyntheticBold)
            FT_GlyphSlot_Embolden(hFace->glyph);
        glyph.nAdvance = hFace->glyph->advance.x;
        if (FT_Render_Glyph(hFace->glyph, FT_RENDER_MODE_NORMAL) != 0)
            return glyph;
        const FT_Bitmap& bitmap = hFace->glyph->bitmap;
        glyph.nWidth = static_cast<int>(bitmap.width);
        glyph.nRows = static_cast<int>(bitmap.rows);
        glyph.nLeft = hFace->glyph->bitmap_left;
        glyph.nTop = hFace->glyph->bitmap_top;
        glyph.vecCoverage.resize(static_cast<size_t>(glyph.nWidth) * glyph.nRows);
        for (int r = 0; r < glyph.nRows; ++r)
            std::copy_n(bitmap.buffer + r * bitmap.pitch, glyph.nWidth,
                        glyph.vecCoverage.data() + r * glyph.nWidth);
        return glyph;
    }

    // Bounds the cache before a text of nChars characters.
    void Trim(size_t nChars)
    {
        if (mapGlyphs.size() + nChars > 4096)
            mapGlyphs.clear();
    }

    ~Font()
    {
        if (hFace != nullptr)
            FT_Done_Face(hFace);
        if (hLibrary != nullptr)
            FT_Done_FreeType(hLibrary);
    }

    // The camera names are often Chinese: ask for a bold face that covers Chinese as well.
    bool Open()
    {
        if (FT_Init_FreeType(&hLibrary) != 0)
            return false;
        // A configuration of our own, freed after the look-up: the process-wide default one
        // would stay allocated for as long as the process runs, also after the module is gone.
        FcConfig* pConfig = FcInitLoadConfigAndFonts();
        if (pConfig == nullptr)
            return false;
        FcPattern* pPattern =
            FcNameParse(reinterpret_cast<const FcChar8*>("Arial Unicode MS:bold:lang=zh-cn"));
        if (pPattern == nullptr) {
            FcConfigDestroy(pConfig);
            return false;
        }
        FcConfigSubstitute(pConfig, pPattern, FcMatchPattern);
        FcDefaultSubstitute(pPattern);
        FcResult result = FcResultNoMatch;
        FcPattern* pMatch = FcFontMatch(pConfig, pPattern, &result);
        FcPatternDestroy(pPattern);
        FcConfigDestroy(pConfig);
        if (pMatch == nullptr)
            return false;
        FcChar8* pszFile = nullptr;
        int nIndex = 0, nWeight = FC_WEIGHT_REGULAR;
        bool bOpened = false;
        if (FcPatternGetString(pMatch, FC_FILE, 0, &pszFile) == FcResultMatch) {
            FcPatternGetInteger(pMatch, FC_INDEX, 0, &nIndex);
            FcPatternGetInteger(pMatch, FC_WEIGHT, 0, &nWeight);
            bOpened = FT_New_Face(hLibrary, reinterpret_cast<const char*>(pszFile), nIndex, &hFace) == 0;
        }
        FcPatternDestroy(pMatch);
        bSyntheticBold = nWeight < FC_WEIGHT_BOLD;
        return bOpened;
    }
};

CBlendBitmap::CBlendBitmap() = default;
CBlendBitmap::~CBlendBitmap() = default;

int CBlendBitmap::FontPoints(int nFrameWidth)
{
    if (nFrameWidth >= 1280)
        return 26;
    if (nFrameWidth >= 600)
        return 18;
    if (nFrameWidth >= 300)
        return 12;
    if (nFrameWidth >= 160)
        return 8;
    return 6;
}

bool CBlendBitmap::RenderText(const std::u16string& strText, int nFrameWidth,
                              std::vector<uint32_t>& vecPixels, int& nWidth, int& nHeight)
{
    std::vector<uint8_t> vecGrey;
    if (!RenderGrey(strText, nFrameWidth, GreyLevels(), vecGrey, nWidth, nHeight))
        return false;
    vecPixels.resize(vecGrey.size());
    std::transform(vecGrey.begin(), vecGrey.end(), vecPixels.begin(),
                   [](uint8_t by) { return by * 0x010101u; });
    return true;
}

bool CBlendBitmap::RenderGrey(const std::u16string& strText, int nFrameWidth,
                              const std::array<uint8_t, 256>& aMap, std::vector<uint8_t>& vecGrey,
                              int& nWidth, int& nHeight)
{
    if (strText.empty())
        return false;
    if (!m_pFont) {
        if (m_bFontFailed)
            return false;
        auto pFont = std::make_unique<Font>();
        if (!pFont->Open()) {
            m_bFontFailed = true;
            return false;
        }
        m_pFont = std::move(pFont);
    }
    FT_Face hFace = m_pFont->hFace;
    int nPixels = (FontPoints(nFrameWidth) * SCREEN_DPI + 36) / 72;
    // The outline's width: one pixel, or as many as shrinking takes one screen pixel from.
    int nOutline = 1;
    if (m_nShownWidth > 0 && m_nShownWidth < nFrameWidth) {
        // Sized as for a picture as wide as the window in points, in screen pixels, then in the
        // frame's; no taller than a twelfth of the frame's width, so the time fits on one line.
        const long long nScreen = static_cast<long long>(FontPoints(m_nShownWidth * 100 / m_nScalePercent)) *
                                  SCREEN_DPI * m_nScalePercent / 7200;
        nPixels = static_cast<int>(std::clamp<long long>(nScreen * nFrameWidth / m_nShownWidth, nPixels,
                                                         std::max(nPixels, nFrameWidth / 12)));
        nOutline = static_cast<int>(std::clamp<long long>(
            (static_cast<long long>(nFrameWidth) * m_nScalePercent + m_nShownWidth * 50) /
                (m_nShownWidth * 100),
            1, 8));
    }
    // Setting a size runs the font's hinting program: only when it changes.
    if (m_pFont->nPixels != nPixels) {
        if (FT_Set_Pixel_Sizes(hFace, 0, nPixels) != 0)
            return false;
        m_pFont->nPixels = nPixels;
    }

    std::vector<const Font::Glyph*>& vecLine = m_pFont->vecLine;
    vecLine.clear();
    m_pFont->Trim(strText.size());
    long nTextWidth = 0;
    for (size_t i = 0; i < strText.size(); ++i) {
        char32_t c = strText[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < strText.size() && strText[i + 1] >= 0xDC00 &&
            strText[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (strText[++i] - 0xDC00);
        if (c == 0)
            break;
        vecLine.push_back(&m_pFont->GetGlyph(nPixels, c));
        nTextWidth += vecLine.back()->nAdvance;
    }
    const int nTextWidthPx = static_cast<int>((nTextWidth + 63) >> 6);
    const int nAscender = static_cast<int>((hFace->size->metrics.ascender + 63) >> 6);
    const int nTextHeightPx = static_cast<int>((hFace->size->metrics.height + 63) >> 6);

    const int nFullWidth = (nTextWidthPx + 5 + 2 * (nOutline - 1)) & ~3;
    nHeight = (nTextHeightPx + 3 + 2 * (nOutline - 1)) & ~1;
    if (nFullWidth <= 0 || nHeight <= 0)
        return false;
    // A line wider than the frame shows its start from the frame's left edge; the rest is never
    // blended, so it is not drawn either (a long caption on a small picture drew thousands of
    // columns for every change of its text).
    nWidth = nFrameWidth > 0 ? std::min(nFullWidth, (nFrameWidth + 3) & ~3) : nFullWidth;
    // Room for the chroma planes that AddText puts after it, so that they need no copy.
    vecGrey.reserve(static_cast<size_t>(nWidth) * nHeight * 3 / 2);
    vecGrey.resize(static_cast<size_t>(nWidth) * nHeight);
    // Coverage with a one-pixel border, so the outline needs no edge tests.
    const int nPadded = nWidth + 2;
    std::vector<uint8_t>& vecMask = m_vecMask;
    vecMask.assign(static_cast<size_t>(nPadded) * (nHeight + 2), 0);
    // The mask's rows (with the border's) that any glyph touches: the others, and their outline,
    // are all key.
    std::vector<uint8_t>& vecRowUsed = m_vecRowUsed;
    vecRowUsed.assign(static_cast<size_t>(nHeight) + 2, 0);
    uint8_t* pMask = vecMask.data() + nPadded + 1;

    // Centred on one line.
    long nPenX = static_cast<long>((nFullWidth - nTextWidthPx) / 2) << 6;
    const int nBaseline = (nHeight - nTextHeightPx) / 2 + nAscender;
    for (const Font::Glyph* pGlyph : vecLine) {
        const Font::Glyph& glyph = *pGlyph;
        const int nLeft = static_cast<int>(nPenX >> 6) + glyph.nLeft;
        const int nTop = nBaseline - glyph.nTop;
        nPenX += glyph.nAdvance;
        const int r0 = std::max(0, -nTop), r1 = std::min(glyph.nRows, nHeight - nTop);
        const int x0 = std::max(0, -nLeft), x1 = std::min(glyph.nWidth, nWidth - nLeft);
        if (x0 < x1 && r0 < r1)
            std::fill(vecRowUsed.begin() + nTop + r0 + 1, vecRowUsed.begin() + nTop + r1 + 1, 1);
        for (int r = r0; r < r1; ++r) {
            uint8_t* pDst = pMask + static_cast<ptrdiff_t>(nTop + r) * nPadded;
            const uint8_t* pSrc = glyph.vecCoverage.data() + static_cast<size_t>(r) * glyph.nWidth;
            // Neighbouring glyphs may overlap: the greater coverage wins.
            int x = x0;
            for (; x + 8 <= x1; x += 8) {
                const uint64_t wDst = Load8(pDst + nLeft + x), wSrc = Load8(pSrc + x);
                Store8(pDst + nLeft + x, wDst ^ ((wDst ^ wSrc) & LessBytes(wDst, wSrc)));
            }
            for (; x < x1; ++x)
                pDst[nLeft + x] = std::max(pDst[nLeft + x], pSrc[x]);
        }
    }

    // The outline keeps white text readable on white scenes: every black pixel that borders
    // the text along a row or a column turns dark grey. Wider on a picture that is shown
    // shrunk, or shrinking would average it away.
    std::vector<uint8_t> vecNear;
    if (nOutline > 1) {
        vecNear.assign(vecMask.size(), 0);
        for (size_t i = 0; i < vecMask.size(); ++i)
            vecNear[i] = vecMask[i] != 0 ? 1 : 0;
        std::vector<uint8_t> vecNext(vecNear.size());
        for (int nStep = 0; nStep < nOutline; ++nStep) {
            vecNext = vecNear;
            for (int y = 0; y < nHeight; ++y)
                for (int x = 0; x < nWidth; ++x) {
                    const size_t i = static_cast<size_t>(y + 1) * nPadded + x + 1;
                    if (vecNear[i - 1] | vecNear[i + 1] | vecNear[i - nPadded] | vecNear[i + nPadded])
                        vecNext[i] = 1;
                }
            vecNear.swap(vecNext);
        }
    }
    for (int y = 0; y < nHeight; ++y) {
        const uint8_t* pRow = pMask + static_cast<ptrdiff_t>(y) * nPadded;
        const uint8_t* pUp = pRow - nPadded;
        const uint8_t* pDown = pRow + nPadded;
        const uint8_t* pNear =
            nOutline > 1 ? vecNear.data() + static_cast<size_t>(y + 1) * nPadded + 1 : nullptr;
        uint8_t* pOut = vecGrey.data() + static_cast<size_t>(y) * nWidth;
        if (pNear == nullptr && (vecRowUsed[y] | vecRowUsed[y + 1] | vecRowUsed[y + 2]) == 0) {
            std::fill_n(pOut, nWidth, aMap[0]);
            continue;
        }
        // Without branches in the loop, so that it vectorises.
        if (pNear != nullptr)
            for (int x = 0; x < nWidth; ++x)
                pOut[x] = aMap[pRow[x] != 0 ? pRow[x] : (pNear[x] != 0 ? OUTLINE_GREY : 0)];
        else {
            // Key or outline by the neighbours, eight at a time; then the text's own samples.
            const uint64_t wKey = aMap[0] * LOW_BITS, wOutline = aMap[OUTLINE_GREY] * LOW_BITS;
            int x = 0;
            for (; x + 8 <= nWidth; x += 8) {
                const uint64_t wNear =
                    Load8(pRow + x - 1) | Load8(pRow + x + 1) | Load8(pUp + x) | Load8(pDown + x);
                Store8(pOut + x, wKey ^ ((wKey ^ wOutline) & NonZeroBytes(wNear)));
                if (Load8(pRow + x) != 0)
                    for (int i = x; i < x + 8; ++i)
                        if (pRow[i] != 0)
                            pOut[i] = aMap[pRow[i]];
            }
            for (; x < nWidth; ++x) {
                const uint8_t byNear = pRow[x - 1] | pRow[x + 1] | pUp[x] | pDown[x];
                pOut[x] = aMap[pRow[x] != 0 ? pRow[x] : (byNear != 0 ? OUTLINE_GREY : 0)];
            }
        }
    }
    return true;
}

OverlayItem* CBlendBitmap::AddText(const std::u16string& strText, int nFrameWidth, int nFrameHeight,
                                   int nPosition)
{
    if (nPosition < 0 || nPosition > 3)
        return nullptr;
    // Rendered straight into RgbToPlanar420's layout: the luma of each grey level, in a plane as
    // wide as the text (a multiple of 4); a grey's colour differences are black's at any level,
    // and so are those of each block's mean.
    std::vector<uint8_t> vecPlanes;
    int nWidth = 0, nHeight = 0;
    if (!RenderGrey(strText, nFrameWidth, LumaLevels(), vecPlanes, nWidth, nHeight))
        return nullptr;
    const size_t nChroma = static_cast<size_t>(nWidth / 2) * (nHeight / 2);
    vecPlanes.resize(vecPlanes.size() + nChroma, BlueDiffOf(0, 0, 0));
    vecPlanes.resize(vecPlanes.size() + nChroma, RedDiffOf(0, 0, 0));
    const int nRight = std::max(0, nFrameWidth - nWidth - 2);
    const int nBottom = std::max(0, nFrameHeight - nHeight - 2);
    OverlayItem item;
    item.nX = (nPosition == 1 || nPosition == 3) ? nRight : 2;
    item.nY = nPosition >= 2 ? nBottom : 2;
    item.nX = (item.nX + 1) & ~1;
    item.nY = (item.nY + 1) & ~1;
    item.nWidth = nWidth;
    item.nHeight = nHeight;
    item.dwKeyColor = 0;
    item.vecPixels = std::move(vecPlanes);
    item.bChroma = false;
    m_listItems.push_back(std::move(item));
    return &m_listItems.back();
}

OverlayItem* CBlendBitmap::AddBitmap(int nX, int nY, int nWidth, int nHeight, const uint32_t* pPixels,
                                     uint32_t dwKeyColor)
{
    if (pPixels == nullptr || nWidth <= 0 || nHeight <= 0 || nWidth > 16384 || nHeight > 16384)
        return nullptr;
    OverlayItem item;
    item.nX = (nX + 1) & ~1;
    item.nY = (nY + 1) & ~1;
    item.nWidth = nWidth;
    item.nHeight = nHeight;
    item.dwKeyColor = dwKeyColor;
    item.vecPixels = RgbToPlanar420(pPixels, nWidth, nHeight);
    m_listItems.push_back(std::move(item));
    return &m_listItems.back();
}

bool CBlendBitmap::SetItemValue(OverlayItem* pItem, int nValue)
{
    for (OverlayItem& item : m_listItems)
        if (&item == pItem) {
            item.nValue = nValue;
            return true;
        }
    return false;
}

bool CBlendBitmap::RemoveItem(OverlayItem* pItem)
{
    for (auto it = m_listItems.begin(); it != m_listItems.end(); ++it)
        if (&*it == pItem) {
            m_listItems.erase(it);
            return true;
        }
    return false;
}

void CBlendBitmap::Blend(const FrameBuffer& frame, int nFrameWidth, int nFrameHeight) const
{
    if (frame.pY == nullptr)
        return;
    const int nChromaStride = frame.nStride / 2;
    for (const OverlayItem& item : m_listItems) {
        const uint32_t dwKey = item.dwKeyColor;
        const int r = (dwKey >> 16) & 0xFF, g = (dwKey >> 8) & 0xFF, b = dwKey & 0xFF;
        const uint8_t byKeyY = LumaOf(r, g, b), byKeyU = BlueDiffOf(r, g, b), byKeyV = RedDiffOf(r, g, b);
        const int nEven = (item.nWidth + 1) & ~1;
        const int nChromaWidth = nEven / 2, nChromaHeight = item.nHeight / 2;
        const uint8_t* pY = item.vecPixels.data();
        const uint8_t* pU = pY + static_cast<size_t>(nEven) * item.nHeight;
        const uint8_t* pV = pU + nChromaWidth * nChromaHeight;
        // Samples outside the frame, on any side, are skipped: an item larger than the frame
        // must not write past the picture. The ranges are clipped once, not per sample.
        const int nRow0 = std::max(0, -item.nY), nRow1 = std::min(item.nHeight, nFrameHeight - item.nY);
        const int nCol0 = std::max(0, -item.nX), nCol1 = std::min(item.nWidth, nFrameWidth - item.nX);
        for (int row = nRow0; row < nRow1 && nCol0 < nCol1; ++row)
            BlendRow(pY + static_cast<ptrdiff_t>(row) * nEven + nCol0,
                     frame.pY + static_cast<ptrdiff_t>(item.nY + row) * frame.nStride + item.nX + nCol0,
                     nCol1 - nCol0, byKeyY);
        if (!item.bChroma)
            continue;
        const int nCY = item.nY / 2, nCX = item.nX / 2;
        const int nCRow0 = std::max(0, -nCY), nCRow1 = std::min(nChromaHeight, nFrameHeight / 2 - nCY);
        const int nCCol0 = std::max(0, -nCX), nCCol1 = std::min(nChromaWidth, nFrameWidth / 2 - nCX);
        for (int row = nCRow0; row < nCRow1 && nCCol0 < nCCol1; ++row) {
            const ptrdiff_t nAt = static_cast<ptrdiff_t>(nCY + row) * nChromaStride + nCX + nCCol0;
            const ptrdiff_t nFrom = static_cast<ptrdiff_t>(row) * nChromaWidth + nCCol0;
            BlendRow(pU + nFrom, frame.pU + nAt, nCCol1 - nCCol0, byKeyU);
            BlendRow(pV + nFrom, frame.pV + nAt, nCCol1 - nCCol0, byKeyV);
        }
    }
}
