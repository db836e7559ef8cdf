// The video decoder filter: compressed H.264 or MPEG-4 Part 2 (optionally stamped) in, one of
// nine picture formats out, with colour adjustment, orientation and overlays in between.
#pragma once

#include "filter/blendbitmap.h"
#include "filter/decbase.h"
#include "filter/izebdecoder.h"
#include "platform/mediagraph/vtransform.h"

class CZebDecoder : public CVideoTransformFilter,
                    public IZEBDecoderEx,
                    public IZEBDecoderView,
                    public ISpecifyPropertyPages {
public:
    static CUnknown* CreateInstance(IUnknown* pUnk, HRESULT* phr);

    CZebDecoder(IUnknown* pUnk, HRESULT* phr);
    ~CZebDecoder() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT StartStreaming() override;
    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;

    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pPages) override;

    // IZEBDecoder, IZEBDecoderEx
    HRESULT SetColorAdjust(int nBrightness, int nContrast, int nHue, int nSaturation) override;
    HRESULT SetRotate180(BOOL bRotate) override;
    HRESULT SetMirror(int nMirror) override;
    int SaveSnapshot(const char* pszPath) override;
    HOVERLAY SetOsdText(const char16_t* pszText, int nPosition) override;
    // IZEBDecoderView
    HRESULT SetShownWidth(int nWidth, int nScalePercent) override;
    HOVERLAY AddOverlayBitmap(int nX, int nY, int nWidth, int nHeight, const uint32_t* pPixels,
                              uint32_t dwKeyColor) override;
    HRESULT SetOverlayValue(HOVERLAY hOverlay, int nValue) override;
    HRESULT RemoveOverlay(HOVERLAY hOverlay) override;
    int SaveSnapshotW(const char16_t* pszPath) override;

private:
    // Output configuration from a type: the converter code, flip and stride.
    HRESULT ConfigureOutput(const AM_MEDIA_TYPE* pmt);
    // Delivers the output sample, or drops it and waits for the next sync point.
    HRESULT SkipSample(IMediaSample* pOut);

    CDecBase* m_pDecoder = nullptr;
    int m_nStamp = 1;
    CBlendBitmap m_blend;
    int m_nAspectX = 0, m_nAspectY = 0;
    int m_nInWidth = 0, m_nInHeight = 0;
    int8_t m_cBrightness = 0, m_cContrast = 0, m_cHue = 0, m_cSaturation = 0;
    uint8_t m_bMirror = 0;
    uint8_t m_bRotate = 0;
    OverlayItem* m_pText[4] = {};
    CCritSec m_csStream;
    // A picture has come out since the input type was set: from then on a lost or damaged
    // frame is concealed by the decoder and only that sample is dropped, instead of every
    // sample up to the next sync point.
    bool m_bPictureSeen = false;
};
