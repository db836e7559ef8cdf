// Colour adjustment, mirror and 180-degree rotation of a decoded 4:2:0 picture, in place.
#pragma once

#include "filter/colorconvert.h"

#include <cstdint>
#include <memory>

class CVideoPostProc {
public:
    // Brightness, contrast, hue, saturation; 0 is neutral. Tables are rebuilt only on a change.
    void SetValues(int8_t cBrightness, int8_t cContrast, int8_t cHue, int8_t cSaturation);
    void SetMirror(bool bMirror) { m_bMirror = bMirror; }
    void SetRotate(bool bRotate) { m_bRotate = bRotate; }
    bool IsActive() const;

    // frame.nStride is the luma stride; the chroma planes have half of it.
    void Apply(const FrameBuffer& frame, int nWidth, int nHeight) const;

    // The tables, for tests: null while the current values need none.
    const uint8_t* LumaTable() const { return m_pLuma.get(); }
    const uint8_t* ChromaTable() const { return m_pChroma.get(); }
    const uint8_t* HueTableU() const { return m_pHueU.get(); }
    const uint8_t* HueTableV() const { return m_pHueV.get(); }

private:
    void BuildTables();

    int8_t m_cBrightness = 0;
    int8_t m_cContrast = 0;
    int8_t m_cHue = 0;
    int8_t m_cSaturation = 0;
    bool m_bMirror = false;
    bool m_bRotate = false;
    std::unique_ptr<uint8_t[]> m_pLuma;
    std::unique_ptr<uint8_t[]> m_pChroma;
    std::unique_ptr<uint8_t[]> m_pHueU; // indexed by U * 256 + V
    std::unique_ptr<uint8_t[]> m_pHueV;
};
