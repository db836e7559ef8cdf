// Text and bitmap overlays drawn into decoded pictures.
//
// Items are kept as planar 4:2:0 with a key colour; blending copies every sample that is not
// within 8 of the key's, so the key's surroundings show the picture through.
#pragma once

#include "filter/colorconvert.h"

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

struct OverlayItem {
    int nX = 0; // even
    int nY = 0; // even
    int nWidth = 0;
    int nHeight = 0;
    uint32_t dwKeyColor = 0; // 0x00RRGGBB, the layout of the bitmap's own pixels
    int nValue = 1;
    // False when every chroma sample is the key's (a grey text on black): blending then
    // writes no chroma, and need not look at it.
    bool bChroma = true;
    std::vector<uint8_t> vecPixels; // Y plane of w' x height (w' = even width), then U and V
};

// RGB to limited-range BT.601 4:2:0. pPixels holds 0x00RRGGBB words, nWidth per row; the
// result is laid out as OverlayItem::vecPixels.
std::vector<uint8_t> RgbToPlanar420(const uint32_t* pPixels, int nWidth, int nHeight);

class CBlendBitmap {
public:
    CBlendBitmap();
    ~CBlendBitmap();
    CBlendBitmap(const CBlendBitmap&) = delete;
    CBlendBitmap& operator=(const CBlendBitmap&) = delete;

    bool HasItems() const { return !m_listItems.empty(); }

    // Renders a line of text in white with a dark outline, placed at a corner of a frame of
    // the given size: 0 top left, 1 top right, 2 bottom left, 3 bottom right. Null when the
    // text is empty, the position unknown or no font is available.
    OverlayItem* AddText(const std::u16string& strText, int nFrameWidth, int nFrameHeight, int nPosition);

    // A colour-keyed 32-bit bitmap (stride nWidth * 4); null for bad sizes or no pixels.
    OverlayItem* AddBitmap(int nX, int nY, int nWidth, int nHeight, const uint32_t* pPixels,
                           uint32_t dwKeyColor);

    // Both return false for an item this manager does not hold.
    bool SetItemValue(OverlayItem* pItem, int nValue);
    bool RemoveItem(OverlayItem* pItem);

    void Blend(const FrameBuffer& frame, int nFrameWidth, int nFrameHeight) const;

    // The white-on-black text bitmap before placement, for tests.
    bool RenderText(const std::u16string& strText, int nFrameWidth, std::vector<uint32_t>& vecPixels,
                    int& nWidth, int& nHeight);

    // Point size used for a frame width.
    static int FontPoints(int nFrameWidth);
    // The width in screen pixels the frame is drawn at (0: its own) and the screen's scale in
    // percent; texts are sized for that width and enlarged by the frame's shrinking, so that
    // they keep their size on the screen.
    void SetShownWidth(int nWidth, int nScalePercent)
    {
        m_nShownWidth = nWidth;
        m_nScalePercent = nScalePercent;
    }

private:
    // RenderText's picture as one grey level a pixel (0 is the key), each level put through
    // aMap; the width is a multiple of 4.
    bool RenderGrey(const std::u16string& strText, int nFrameWidth, const std::array<uint8_t, 256>& aMap,
                    std::vector<uint8_t>& vecGrey, int& nWidth, int& nHeight);

    struct Font;
    std::unique_ptr<Font> m_pFont;
    int m_nShownWidth = 0;
    int m_nScalePercent = 100;
    bool m_bFontFailed = false; // tried once: the font set does not change while we run
    // RenderGrey's working planes, kept from text to text: the time text changes every second.
    std::vector<uint8_t> m_vecMask;
    std::vector<uint8_t> m_vecRowUsed;
    std::list<OverlayItem> m_listItems;
};
