#include "filter/blendbitmap.h"

#include <algorithm>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

namespace {

constexpr uint32_t OUTLINE_COLOR = 0x0D0D0D;
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

// Outside key - 8 .. key + 8, counted with 8-bit wrap-around.
bool IsVisible(uint8_t bySample, uint8_t byKey)
{
    return static_cast<uint8_t>(bySample - byKey + 8) > 16;
}

} // namespace

std::vector<uint8_t> RgbToPlanar420(const uint32_t* pPixels, int nWidth, int nHeight)
{
    const int nEven = (nWidth + 1) & ~1;
    const int nChromaWidth = nEven / 2, nChromaHeight = nHeight / 2;
    std::vector<uint8_t> vecPlanes(static_cast<size_t>(nEven) * nHeight + 2 * nChromaWidth * nChromaHeight);
    auto pixel = [&](int x, int y) { return x < nWidth ? pPixels[static_cast<size_t>(y) * nWidth + x] : 0u; };
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nEven; ++x) {
            const uint32_t dw = pixel(x, y);
            vecPlanes[static_cast<size_t>(y) * nEven + x] =
                LumaOf((dw >> 16) & 0xFF, (dw >> 8) & 0xFF, dw & 0xFF);
        }
    uint8_t* pU = vecPlanes.data() + static_cast<size_t>(nEven) * nHeight;
    uint8_t* pV = pU + nChromaWidth * nChromaHeight;
    for (int cy = 0; cy < nChromaHeight; ++cy)
        for (int cx = 0; cx < nChromaWidth; ++cx) {
            // The block's mean colour.
            int r = 0, g = 0, b = 0;
            for (int k = 0; k < 4; ++k) {
                const uint32_t dw = pixel(cx * 2 + (k & 1), cy * 2 + (k >> 1));
                r += (dw >> 16) & 0xFF;
                g += (dw >> 8) & 0xFF;
                b += dw & 0xFF;
            }
            pU[cy * nChromaWidth + cx] = BlueDiffOf((r + 2) / 4, (g + 2) / 4, (b + 2) / 4);
            pV[cy * nChromaWidth + cx] = RedDiffOf((r + 2) / 4, (g + 2) / 4, (b + 2) / 4);
        }
    return vecPlanes;
}

struct CBlendBitmap::Font {
    FT_Library hLibrary = nullptr;
    FT_Face hFace = nullptr;
    bool bSyntheticBold = false;

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
        FcPattern* pPattern =
            FcNameParse(reinterpret_cast<const FcChar8*>("Arial Unicode MS:bold:lang=zh-cn"));
        if (pPattern == nullptr)
            return false;
        FcConfigSubstitute(nullptr, pPattern, FcMatchPattern);
        FcDefaultSubstitute(pPattern);
        FcResult result = FcResultNoMatch;
        FcPattern* pMatch = FcFontMatch(nullptr, pPattern, &result);
        FcPatternDestroy(pPattern);
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
    if (strText.empty())
        return false;
    if (!m_pFont) {
        auto pFont = std::make_unique<Font>();
        if (!pFont->Open())
            return false;
        m_pFont = std::move(pFont);
    }
    FT_Face hFace = m_pFont->hFace;
    const int nPixels = (FontPoints(nFrameWidth) * SCREEN_DPI + 36) / 72;
    if (FT_Set_Pixel_Sizes(hFace, 0, nPixels) != 0)
        return false;

    std::vector<char32_t> vecChars;
    for (size_t i = 0; i < strText.size(); ++i) {
        char32_t c = strText[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < strText.size() && strText[i + 1] >= 0xDC00 &&
            strText[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (strText[++i] - 0xDC00);
        if (c == 0)
            break;
        vecChars.push_back(c);
    }
    const FT_Int32 nLoad = FT_LOAD_DEFAULT;
    auto loadGlyph = [&](char32_t c) {
        if (FT_Load_Char(hFace, c, nLoad) != 0)
            return false;
        if (m_pFont->bSyntheticBold)
            FT_GlyphSlot_Embolden(hFace->glyph);
        return true;
    };
    long nTextWidth = 0;
    for (char32_t c : vecChars)
        if (loadGlyph(c))
            nTextWidth += hFace->glyph->advance.x;
    const int nTextWidthPx = static_cast<int>((nTextWidth + 63) >> 6);
    const int nAscender = static_cast<int>((hFace->size->metrics.ascender + 63) >> 6);
    const int nTextHeightPx = static_cast<int>((hFace->size->metrics.height + 63) >> 6);

    nWidth = (nTextWidthPx + 5) & ~3;
    nHeight = (nTextHeightPx + 3) & ~1;
    if (nWidth <= 0 || nHeight <= 0)
        return false;
    vecPixels.assign(static_cast<size_t>(nWidth) * nHeight, 0);
    std::vector<uint8_t> vecMask(vecPixels.size(), 0);

    // Centred on one line.
    long nPenX = static_cast<long>((nWidth - nTextWidthPx) / 2) << 6;
    const int nBaseline = (nHeight - nTextHeightPx) / 2 + nAscender;
    for (char32_t c : vecChars) {
        if (!loadGlyph(c) || FT_Render_Glyph(hFace->glyph, FT_RENDER_MODE_NORMAL) != 0)
            continue;
        const FT_Bitmap& bitmap = hFace->glyph->bitmap;
        const int nLeft = static_cast<int>(nPenX >> 6) + hFace->glyph->bitmap_left;
        const int nTop = nBaseline - hFace->glyph->bitmap_top;
        for (unsigned r = 0; r < bitmap.rows; ++r)
            for (unsigned x = 0; x < bitmap.width; ++x) {
                const int px = nLeft + static_cast<int>(x), py = nTop + static_cast<int>(r);
                if (px < 0 || py < 0 || px >= nWidth || py >= nHeight)
                    continue;
                uint8_t& byMask = vecMask[static_cast<size_t>(py) * nWidth + px];
                byMask = std::max(byMask, bitmap.buffer[r * bitmap.pitch + x]);
            }
        nPenX += hFace->glyph->advance.x;
    }
    for (size_t i = 0; i < vecMask.size(); ++i)
        vecPixels[i] = vecMask[i] * 0x010101u;

    // The outline keeps white text readable on white scenes: every black pixel that borders
    // the text along a row or a column turns dark grey.
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * nWidth + x;
            if (vecMask[i] != 0)
                continue;
            const bool bBorder = (x > 0 && vecMask[i - 1] != 0) || (x + 1 < nWidth && vecMask[i + 1] != 0) ||
                                 (y > 0 && vecMask[i - nWidth] != 0) ||
                                 (y + 1 < nHeight && vecMask[i + nWidth] != 0);
            if (bBorder)
                vecPixels[i] = OUTLINE_COLOR;
        }
    return true;
}

OverlayItem* CBlendBitmap::AddText(const std::u16string& strText, int nFrameWidth, int nFrameHeight,
                                   int nPosition)
{
    if (nPosition < 0 || nPosition > 3)
        return nullptr;
    std::vector<uint32_t> vecPixels;
    int nWidth = 0, nHeight = 0;
    if (!RenderText(strText, nFrameWidth, vecPixels, nWidth, nHeight))
        return nullptr;
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
    item.vecPixels = RgbToPlanar420(vecPixels.data(), nWidth, nHeight);
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
        // must not write past the picture.
        for (int row = 0; row < item.nHeight; ++row) {
            const int y = item.nY + row;
            if (y < 0 || y >= nFrameHeight)
                continue;
            for (int col = 0; col < item.nWidth; ++col) {
                const int x = item.nX + col;
                const uint8_t by = pY[row * nEven + col];
                if (x >= 0 && x < nFrameWidth && IsVisible(by, byKeyY))
                    frame.pY[static_cast<ptrdiff_t>(y) * frame.nStride + x] = by;
            }
        }
        for (int row = 0; row < nChromaHeight; ++row) {
            const int y = item.nY / 2 + row;
            if (y < 0 || y >= nFrameHeight / 2)
                continue;
            for (int col = 0; col < nChromaWidth; ++col) {
                const int x = item.nX / 2 + col;
                if (x < 0 || x >= nFrameWidth / 2)
                    continue;
                const ptrdiff_t nAt = static_cast<ptrdiff_t>(y) * nChromaStride + x;
                const uint8_t byU = pU[row * nChromaWidth + col], byV = pV[row * nChromaWidth + col];
                if (IsVisible(byU, byKeyU))
                    frame.pU[nAt] = byU;
                if (IsVisible(byV, byKeyV))
                    frame.pV[nAt] = byV;
            }
        }
    }
}
