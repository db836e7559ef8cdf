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

// Writes nOutWidth x nOutHeight pixels, top row first, to pOut; the output is at most the
// picture's size. Made smaller, each output pixel's luma is the mean of the source pixels it
// covers (picking pixels flickers on fine detail) and its chroma is taken at the middle of them.
// vScratch is reused between calls.
void ConvertYuv420(const YuvPlanes& picture, int nOutWidth, int nOutHeight, std::uint32_t* pOut,
                   std::vector<std::uint32_t>& vScratch);
