// The overlays a decoder draws from a camera's stamp: any line of text (the time and caption
// texts hold up to 256 UTF-16 units) rendered at one of the five font sizes, placed at a corner
// of a picture that may be smaller than the text, blended into it and taken away again.
// Byte 0 picks the picture size (bits 0-2) and the corner (bits 3-4); the rest is the text,
// UTF-16 little-endian.
#include "filter/blendbitmap.h"
#include "filter/mediadataparse.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// One width for each font size, the smallest pictures shorter than a line of text.
constexpr int SIZES[8][2] = {{64, 16},    {160, 48}, {300, 120}, {600, 40},
                             {1280, 720}, {96, 96},  {352, 288}, {720, 24}};
constexpr int MAX_WIDTH = 1280, MAX_HEIGHT = 720;

} // namespace

// Each input allocates and frees a text's pictures (up to a few hundred kilobytes): the default
// 256 MiB quarantine only makes every input fault in fresh pages. Use after free within an input
// and across the last inputs stays caught.
extern "C" const char* __asan_default_options() // NOLINT(bugprone-reserved-identifier)
{
    return "quarantine_size_mb=16:max_malloc_fill_size=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static CBlendBitmap blend;
    static std::vector<uint8_t> vecPicture(MAX_WIDTH * MAX_HEIGHT * 3 / 2);
    if (nSize < 1)
        return 0;
    const int nWidth = SIZES[pData[0] & 7][0], nHeight = SIZES[pData[0] & 7][1];
    std::u16string strText;
    for (size_t i = 1; i + 1 < nSize && strText.size() < MAX_CAPTION_TEXT; i += 2)
        strText.push_back(static_cast<char16_t>(pData[i] | pData[i + 1] << 8));
    OverlayItem* pItem = blend.AddText(strText, nWidth, nHeight, (pData[0] >> 3) & 3);
    if (pItem == nullptr)
        return 0;
    FrameBuffer frame;
    frame.pY = vecPicture.data();
    frame.pU = frame.pY + nWidth * nHeight;
    frame.pV = frame.pU + nWidth * nHeight / 4;
    frame.nStride = nWidth;
    frame.nHeight = nHeight;
    blend.Blend(frame, nWidth, nHeight);
    blend.RemoveItem(pItem);
    return 0;
}
