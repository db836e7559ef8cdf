#include "platform/mediagraph/vtransform.h"

#include <chrono>

DWORD timeGetTime()
{
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {
// Samples to wait for a sync point after a discontinuity or a new output format.
constexpr int kWaitForKey = 30;
} // namespace

CVideoTransformFilter::CVideoTransformFilter(const char* pName, IUnknown* pUnk, REFCLSID clsid)
    : CTransformFilter(pName, pUnk, clsid)
{
}

CVideoTransformFilter::~CVideoTransformFilter() = default;

void CVideoTransformFilter::ResetSkipStats()
{
    m_itrLate = 0;
    m_nKeyFramePeriod = 0;
    m_nFramesSinceKeyFrame = 0;
    m_bSkipping = FALSE;
    m_tDecodeStart = 0;
    m_itrAvgDecode = 300000;
    m_bQualityChanged = FALSE;
    m_bSampleSkipped = FALSE;
}

HRESULT CVideoTransformFilter::StartStreaming()
{
    ResetSkipStats();
    return S_OK;
}

HRESULT CVideoTransformFilter::AlterQuality(Quality q)
{
    m_itrLate = q.Late;
    return S_OK;
}

BOOL CVideoTransformFilter::ShouldSkipFrame(IMediaSample*)
{
    return FALSE;
}

HRESULT CVideoTransformFilter::Receive(IMediaSample* pSample)
{
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt != nullptr) {
        if (pmt->pbFormat != nullptr) {
            // The input format changed: the derived filter restarts with the new type.
            StopStreaming();
            m_pInput->CurrentMediaType() = *pmt;
            DeleteMediaType(pmt);
            const HRESULT hr = StartStreaming();
            if (FAILED(hr)) {
                AbortPlayback(hr);
                return hr;
            }
        } else {
            DeleteMediaType(pmt);
        }
    }

    if (pSample->IsSyncPoint() == S_OK)
        m_nFramesSinceKeyFrame = 0;
    else
        ++m_nFramesSinceKeyFrame;

    if (ShouldSkipFrame(pSample)) {
        m_bSampleSkipped = TRUE;
        return S_OK;
    }

    IMediaSample* pOutSample = nullptr;
    HRESULT hr = InitializeOutputSample(pSample, &pOutSample);
    if (FAILED(hr))
        return hr;
    m_bSampleSkipped = FALSE;

    // Downstream asks for another format on this buffer.
    AM_MEDIA_TYPE* pmtOut = nullptr;
    if (pOutSample->GetMediaType(&pmtOut) == S_OK && pmtOut != nullptr) {
        if (pmtOut->pbFormat != nullptr) {
            StopStreaming();
            m_pOutput->CurrentMediaType() = *pmtOut;
            DeleteMediaType(pmtOut);
            hr = StartStreaming();
            if (FAILED(hr)) {
                pOutSample->Release();
                AbortPlayback(hr);
                return hr;
            }
            // A new format means an empty picture downstream: show nothing before a key frame.
            m_nWaitForKey = kWaitForKey;
        } else {
            DeleteMediaType(pmtOut);
        }
    }

    if (pSample->IsDiscontinuity() == S_OK)
        m_nWaitForKey = kWaitForKey;

    m_tDecodeStart = timeGetTime();
    hr = Transform(pSample, pOutSample);
    const REFERENCE_TIME tDecode = timeGetTime() - static_cast<DWORD>(m_tDecodeStart);
    m_itrAvgDecode = static_cast<int>(tDecode * 625 + REFERENCE_TIME(15) * (m_itrAvgDecode / 16));

    if (m_nWaitForKey > 0)
        --m_nWaitForKey;
    if (m_nWaitForKey > 0 && pSample->IsSyncPoint() == S_OK)
        m_nWaitForKey = 0;
    if (m_nWaitForKey > 0 && hr == S_OK)
        hr = S_FALSE;

    if (hr == S_OK) {
        hr = m_pOutput->Deliver(pOutSample);
    } else if (hr == S_FALSE) {
        m_bSampleSkipped = TRUE;
        if (!m_bQualityChanged) {
            m_bQualityChanged = TRUE;
            NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
        }
        hr = S_OK;
    }
    pOutSample->Release();
    return hr;
}
