// The decoding back-ends and the per-sample pipeline they share: stamp header, decode, copy
// when the picture is to be changed, colour and orientation, overlays, output conversion.
#pragma once

#include "filter/blendbitmap.h"
#include "filter/colorconvert.h"
#include "filter/mediadataparse.h"
#include "filter/videopostproc.h"
#include "platform/com/hresult.h"

#include <cstdint>
#include <string>
#include <vector>

class CDecBase {
public:
    CDecBase() = default;
    virtual ~CDecBase();
    CDecBase(const CDecBase&) = delete;
    CDecBase& operator=(const CDecBase&) = delete;

    virtual bool IsUsable() const = 0;
    // 0 with a picture (the decoder's memory, valid until the next call), 1 without one,
    // anything else an error.
    virtual int Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
                       int& nChromaStride) = 0;

    void SetOverlayManager(CBlendBitmap* pBlend) { m_pBlend = pBlend; }
    void SetColorAdjust(int8_t cBrightness, int8_t cContrast, int8_t cHue, int8_t cSaturation);
    void SetMirror(uint8_t bMirror) { m_bMirror = bMirror; }
    void SetRotate(uint8_t bRotate) { m_bRotate = bRotate; }
    void SetFrameSize(int nWidth, int nHeight);
    void SetOutput(uint32_t dwCode, bool bFlip, int nStride);
    void ReleaseStaging();
    void SetEndOfStream(bool bEndOfStream) { m_bEndOfStream = bEndOfStream; }
    bool IsEndOfStream() const { return m_bEndOfStream; }

    // One sample through the pipeline. S_OK when the output buffer holds a picture, S_FALSE
    // for a dropped sample, an error result from the decoder as it came.
    HRESULT Process(bool bPreroll, const uint8_t* pbIn, uint32_t dwInLength, bool bStamped, uint8_t* pbOut,
                    uint32_t dwOutLength);

    // Writes the current picture as a 24-bit bottom-up bitmap; nonzero on success.
    int SaveSnapshot(const std::string& strPath);

    // The back-end's own copy of the latest picture, valid until the next sample.
    const FrameBuffer& CurrentFrame() const { return m_current; }
    int FrameWidth() const { return m_nWidth; }
    int FrameHeight() const { return m_nHeight; }

protected:
    bool m_bEndOfStream = false;
    int m_nWidth = 0;
    int m_nHeight = 0;

private:
    int8_t m_cBrightness = 0, m_cContrast = 0, m_cHue = 0, m_cSaturation = 0;
    uint8_t m_bMirror = 0, m_bRotate = 0;
    uint32_t m_dwOutCode = CSP_BGRA;
    bool m_bFlip = false;
    int m_nOutStride = 0;
    int m_nLumaStride = 0, m_nChromaStride = 0;
    OverlayItem* m_pTimeText = nullptr;
    OverlayItem* m_pCaptionText = nullptr;
    CBlendBitmap* m_pBlend = nullptr;
    CMediaDataParse m_parse;
    CVideoPostProc m_postProc;
    StampRecord m_lastStamp;
    std::vector<uint8_t> m_vecStaging;
    int m_nStagingStride = 0, m_nStagingHeight = 0;
    // The picture a snapshot reads, in m_vecStaging, and the frame size it was decoded at.
    FrameBuffer m_current;
    int m_nCurrentWidth = 0, m_nCurrentHeight = 0;
};
