#include "filter/videopostproc.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

uint8_t ClampByte(int n)
{
    return static_cast<uint8_t>(std::clamp(n, 0, 255));
}

// Maps one row through a table, eight samples per step.
void MapRow(uint8_t* pRow, int nCount, const uint8_t* pTable)
{
    int i = 0;
    for (; i + 8 <= nCount; i += 8) {
        pRow[i] = pTable[pRow[i]];
        pRow[i + 1] = pTable[pRow[i + 1]];
        pRow[i + 2] = pTable[pRow[i + 2]];
        pRow[i + 3] = pTable[pRow[i + 3]];
        pRow[i + 4] = pTable[pRow[i + 4]];
        pRow[i + 5] = pTable[pRow[i + 5]];
        pRow[i + 6] = pTable[pRow[i + 6]];
        pRow[i + 7] = pTable[pRow[i + 7]];
    }
    for (; i < nCount; ++i)
        pRow[i] = pTable[pRow[i]];
}

// Mirror reverses each row; rotate turns the plane by 180 degrees; both together flip it.
void Reorient(uint8_t* pPlane, int nStride, int nWidth, int nHeight, bool bMirror, bool bRotate)
{
    if (bMirror && bRotate) {
        for (int r = 0; r < nHeight / 2; ++r)
            std::swap_ranges(pPlane + static_cast<ptrdiff_t>(r) * nStride,
                             pPlane + static_cast<ptrdiff_t>(r) * nStride + nWidth,
                             pPlane + static_cast<ptrdiff_t>(nHeight - 1 - r) * nStride);
        return;
    }
    if (bMirror || bRotate)
        for (int r = 0; r < nHeight; ++r) {
            uint8_t* pRow = pPlane + static_cast<ptrdiff_t>(r) * nStride;
            std::reverse(pRow, pRow + nWidth);
        }
    if (bRotate)
        for (int r = 0; r < nHeight / 2; ++r)
            std::swap_ranges(pPlane + static_cast<ptrdiff_t>(r) * nStride,
                             pPlane + static_cast<ptrdiff_t>(r) * nStride + nWidth,
                             pPlane + static_cast<ptrdiff_t>(nHeight - 1 - r) * nStride);
}

} // namespace

void CVideoPostProc::SetValues(int8_t cBrightness, int8_t cContrast, int8_t cHue, int8_t cSaturation)
{
    if (cBrightness == m_cBrightness && cContrast == m_cContrast && cHue == m_cHue &&
        cSaturation == m_cSaturation)
        return;
    m_cBrightness = cBrightness;
    m_cContrast = cContrast;
    m_cHue = cHue;
    m_cSaturation = cSaturation;
    BuildTables();
}

bool CVideoPostProc::IsActive() const
{
    return m_cBrightness != 0 || m_cContrast != 0 || m_cHue != 0 || m_cSaturation != 0 || m_bMirror ||
           m_bRotate;
}

void CVideoPostProc::BuildTables()
{
    const int B = m_cBrightness, C = m_cContrast, H = m_cHue, S = m_cSaturation;

    // A brightness below 4 in either direction shifts nothing after the >> 2, except that
    // negative values (large as unsigned bytes) do.
    if (C != 0 || static_cast<uint8_t>(B) >= 4) {
        if (!m_pLuma)
            m_pLuma = std::make_unique<uint8_t[]>(256);
        for (int y = 0; y < 256; ++y) {
            const int n = C != 0 ? (((y - 16) * (1024 + 8 * C)) >> 10) + (B >> 2) + 16 : y + (B >> 2);
            m_pLuma[y] = ClampByte(n);
        }
    } else {
        m_pLuma.reset();
    }

    if (H != 0) {
        if (!m_pHueU) {
            m_pHueU = std::make_unique<uint8_t[]>(65536);
            m_pHueV = std::make_unique<uint8_t[]>(65536);
        }
        const double g = (S + 128) / 128.0, k = (C + 128) / 128.0;
        const double dTheta = H * 30.0 / 128.0 * std::numbers::pi / 180.0;
        const int m = static_cast<int>(1024 * g * k * std::cos(dTheta));
        const int h = static_cast<int>(1024 * g * k * std::sin(dTheta));
        auto scale = [](int nSum) -> uint8_t {
            if (nSum >= 0x20000)
                return 255;
            if (nSum < -0x20000)
                return 0;
            return ClampByte(nSum / 1024 + 128);
        };
        for (int u = 0; u < 256; ++u)
            for (int v = 0; v < 256; ++v) {
                m_pHueU[u * 256 + v] = scale((u - 128) * m + (v - 128) * h);
                m_pHueV[u * 256 + v] = scale((v - 128) * m - (u - 128) * h);
            }
        m_pChroma.reset();
    } else {
        m_pHueU.reset();
        m_pHueV.reset();
        if (C != 0 || S != 0) {
            if (!m_pChroma)
                m_pChroma = std::make_unique<uint8_t[]>(256);
            for (int x = 0; x < 256; ++x) {
                const int g = (x - 128) * (C + 128) * (S + 128) / 16384;
                m_pChroma[x] = g >= 128 ? 255 : (g < -128 ? 0 : static_cast<uint8_t>(g + 128));
            }
        } else {
            m_pChroma.reset();
        }
    }
}

void CVideoPostProc::Apply(const FrameBuffer& frame, int nWidth, int nHeight) const
{
    if (frame.pY == nullptr || nWidth <= 0 || nHeight <= 0)
        return;
    const int nChromaStride = frame.nStride / 2;
    const int nChromaWidth = nWidth / 2, nChromaHeight = nHeight / 2;

    // Row by row: the decoder's planes are wider than the picture.
    if (m_pLuma)
        for (int r = 0; r < nHeight; ++r)
            MapRow(frame.pY + static_cast<ptrdiff_t>(r) * frame.nStride, nWidth, m_pLuma.get());
    if (m_pChroma) {
        for (int r = 0; r < nChromaHeight; ++r) {
            MapRow(frame.pU + static_cast<ptrdiff_t>(r) * nChromaStride, nChromaWidth, m_pChroma.get());
            MapRow(frame.pV + static_cast<ptrdiff_t>(r) * nChromaStride, nChromaWidth, m_pChroma.get());
        }
    } else if (m_pHueU) {
        for (int r = 0; r < nChromaHeight; ++r) {
            uint8_t* pU = frame.pU + static_cast<ptrdiff_t>(r) * nChromaStride;
            uint8_t* pV = frame.pV + static_cast<ptrdiff_t>(r) * nChromaStride;
            for (int i = 0; i < nChromaWidth; ++i) {
                const int nIndex = pU[i] * 256 + pV[i];
                pU[i] = m_pHueU[nIndex];
                pV[i] = m_pHueV[nIndex];
            }
        }
    }

    if (m_bMirror || m_bRotate) {
        Reorient(frame.pY, frame.nStride, nWidth, nHeight, m_bMirror, m_bRotate);
        Reorient(frame.pU, nChromaStride, nChromaWidth, nChromaHeight, m_bMirror, m_bRotate);
        Reorient(frame.pV, nChromaStride, nChromaWidth, nChromaHeight, m_bMirror, m_bRotate);
    }
}
