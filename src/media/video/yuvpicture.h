// A planar YUV 4:2:0 picture (BT.601, video range) made into 0x00RRGGBB pixels at the size it
// is drawn: the renderer of each pane makes its picture no larger than its window.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>
#include <vector>

struct YuvPlanes {
    const BYTE* pY = nullptr;
    const BYTE* pU = nullptr;
    const BYTE* pV = nullptr;
    long nLumaStride = 0;
    long nChromaStride = 0;
    int nWidth = 0; // even
    int nHeight = 0;
};

// Rows and tables a conversion reuses from one picture to the next (one per pane), so that a
// steady stream allocates nothing.
struct YuvScratch {
    std::vector<std::uint16_t> vColumnSums;    // luma of one output row's band, by source column
    std::vector<BYTE> vRow;                    // one output row's Y, U and V, a band's mean row
    std::vector<int> vColumnStart;             // first source column of each output column
    std::vector<int> vColumnCount;             // and how many it covers
    std::vector<int> vColumnChroma;            // the chroma column at its middle
    std::vector<std::uint32_t> vColumnInverse; // 2^20 / count, rounded up
    int nForWidth = 0;                         // the source and output widths the column tables were made for
    int nForOutWidth = 0;
};

// Writes nOutWidth x nOutHeight pixels, top row first, to pOut; the output is at most the
// picture's size. Made smaller, each output pixel's luma is the mean of the source pixels it
// covers (picking pixels flickers on fine detail) and its chroma is taken at the middle of them.
void ConvertYuv420(const YuvPlanes& picture, int nOutWidth, int nOutHeight, std::uint32_t* pOut,
                   YuvScratch& scratch);
