#include "media/video/yuvpicture.h"

#include <algorithm>

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

} // namespace

void ConvertYuv420(const YuvPlanes& picture, int nOutWidth, int nOutHeight, std::uint32_t* pOut,
                   std::vector<std::uint32_t>& vScratch)
{
    const int nWidth = picture.nWidth;
    const int nHeight = picture.nHeight;
    nOutWidth = std::clamp(nOutWidth, 1, nWidth);
    nOutHeight = std::clamp(nOutHeight, 1, nHeight);
    if (nOutWidth == nWidth && nOutHeight == nHeight) {
        for (int y = 0; y < nHeight; ++y) {
            const BYTE* pRowY = picture.pY + y * picture.nLumaStride;
            const BYTE* pRowU = picture.pU + (y / 2) * picture.nChromaStride;
            const BYTE* pRowV = picture.pV + (y / 2) * picture.nChromaStride;
            for (int x = 0; x < nWidth; ++x)
                *pOut++ = YuvToRgb(pRowY[x], pRowU[x / 2], pRowV[x / 2]);
        }
        return;
    }
    // Each output row: the luma of the source rows it covers summed by column, then summed over
    // each output pixel's columns.
    vScratch.resize(static_cast<std::size_t>(nWidth));
    for (int oy = 0; oy < nOutHeight; ++oy) {
        // At least two rows and two columns: shrunk by less than half, a box of one pixel would
        // pick that pixel alone.
        const int y0 =
            std::min(static_cast<int>(static_cast<long long>(oy) * nHeight / nOutHeight), nHeight - 2);
        const int y1 =
            std::max(y0 + 2, static_cast<int>(static_cast<long long>(oy + 1) * nHeight / nOutHeight));
        std::fill(vScratch.begin(), vScratch.end(), 0u);
        for (int y = y0; y < y1; ++y) {
            const BYTE* pRowY = picture.pY + y * picture.nLumaStride;
            for (int x = 0; x < nWidth; ++x)
                vScratch[static_cast<std::size_t>(x)] += pRowY[x];
        }
        const int yc = std::min((y0 + y1) / 2, nHeight - 1) / 2;
        const BYTE* pRowU = picture.pU + yc * picture.nChromaStride;
        const BYTE* pRowV = picture.pV + yc * picture.nChromaStride;
        for (int ox = 0; ox < nOutWidth; ++ox) {
            const int x0 =
                std::min(static_cast<int>(static_cast<long long>(ox) * nWidth / nOutWidth), nWidth - 2);
            const int x1 =
                std::max(x0 + 2, static_cast<int>(static_cast<long long>(ox + 1) * nWidth / nOutWidth));
            std::uint32_t nSum = 0;
            for (int x = x0; x < x1; ++x)
                nSum += vScratch[static_cast<std::size_t>(x)];
            const auto nCount = static_cast<std::uint32_t>((x1 - x0) * (y1 - y0));
            const int xc = std::min((x0 + x1) / 2, nWidth - 1) / 2;
            *pOut++ = YuvToRgb(static_cast<int>((nSum + nCount / 2) / nCount), pRowU[xc], pRowV[xc]);
        }
    }
}
