// The video transform filter base: a transform filter that may drop samples it cannot or
// should not show, follows format changes carried on samples, and keeps decode statistics.
#pragma once

#include "platform/mediagraph/transform.h"

// Milliseconds of a monotonic clock (wraps after 49 days, as callers expect).
DWORD timeGetTime();

class CVideoTransformFilter : public CTransformFilter {
public:
    CVideoTransformFilter(const char* pName, IUnknown* pUnk, REFCLSID clsid);
    ~CVideoTransformFilter() override;

    // The transform filter's Receive plus: a type attached to the input sample becomes the input
    // pin's type (streaming restarted around it); a type attached to the output sample by
    // downstream becomes the output pin's type, and then, as after a discontinuity, nothing is
    // delivered until a sync point (at most 30 samples); the transform is timed into
    // m_itrAvgDecode (100 ns units, average over about 16 samples).
    HRESULT Receive(IMediaSample* pSample) override;
    // Resets the skip statistics; derived filters that override it call it.
    HRESULT StartStreaming() override;
    // Remembers how late downstream is; S_OK (handled here, not passed upstream).
    HRESULT AlterQuality(Quality q) override;

    // Number of frames since the last sync point, and whether one is being waited for.
    int FramesSinceKeyFrame() const { return m_nFramesSinceKeyFrame; }

protected:
    // Decoders that know better (waiting for a key frame) override it; the base never skips.
    virtual BOOL ShouldSkipFrame(IMediaSample* pIn);
    void ResetSkipStats();

    REFERENCE_TIME m_itrLate = 0;      // how late the last frame was, per downstream
    REFERENCE_TIME m_tDecodeStart = 0; // timeGetTime at the start of the last Transform
    int m_itrAvgDecode = 300000;       // average decode time, 100 ns units
    BOOL m_bNoSkip = FALSE;
    BOOL m_bSkipping = FALSE;
    int m_nKeyFramePeriod = 0;
    int m_nFramesSinceKeyFrame = 0;
    int m_nWaitForKey = 0;
};
