// The decoding back-ends and the per-sample pipeline they share: stamp header, decode, copy
// when the picture is to be changed, colour and orientation, overlays, output conversion.
#pragma once

#include "filter/blendbitmap.h"
#include "filter/colorconvert.h"
#include "filter/mediadataparse.h"
#include "filter/videopostproc.h"
#include "platform/com/hresult.h"

#include <cstdint>
#include <memory>
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
    // A hold that keeps the picture the last Decode handed out valid and unchanged after the
    // back-end's next call; null when the back-end has none, and the picture is then copied.
    virtual std::shared_ptr<const void> HoldPicture() { return nullptr; }

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

    // The latest picture, valid until the next sample: the decoder's own while it holds it,
    // else a copy of ours.
    const FrameBuffer& CurrentFrame() const { return m_current; }
    int FrameWidth() const { return m_nWidth; }
    int FrameHeight() const { return m_nHeight; }

protected:
    bool m_bEndOfStream = false;
    int m_nWidth = 0;
    int m_nHeight = 0;

private:
    // Colour adjustment, orientation and overlays: whether any would change the picture, and
    // drawing them in place.
    bool HasFinishing() const;
    void Finish(const FrameBuffer& frame, int nWidth, int nHeight);

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
    // The picture a snapshot reads, held in the decoder (m_pHeld) or copied into m_vecStaging,
    // and the frame size it was decoded at.
    FrameBuffer m_current;
    std::shared_ptr<const void> m_pHeld;
    bool m_bCurrentFinished = false; // colour, orientation and overlays are in m_current

    int m_nCurrentWidth = 0, m_nCurrentHeight = 0;
};
