#include "platform/mediagraph/transform.h"

CTransformInputPin::CTransformInputPin(const char* pObjectName, CTransformFilter* pTransformFilter,
                                       HRESULT* phr, LPCWSTR pName)
    : CBaseInputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter)
{
}

HRESULT CTransformInputPin::CheckConnect(IPin* pPin)
{
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pPin);
    if (FAILED(hr))
        return hr;
    return CBaseInputPin::CheckConnect(pPin);
}

HRESULT CTransformInputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pReceivePin);
    if (FAILED(hr))
        return hr;
    return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mtIn)
{
    const HRESULT hr = m_pTransformFilter->CheckInputType(mtIn);
    if (hr != S_OK)
        return hr;
    // With the output connected, the new input must still be transformable into its type.
    if (m_pTransformFilter->m_pOutput != nullptr && m_pTransformFilter->m_pOutput->IsConnected())
        return m_pTransformFilter->CheckTransform(mtIn, &m_pTransformFilter->m_pOutput->CurrentMediaType());
    return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt)
{
    const HRESULT hr = CBasePin::SetMediaType(mt);
    if (FAILED(hr))
        return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT CTransformInputPin::GetMediaType(int iPosition, CMediaType*)
{
    return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CTransformInputPin::Receive(IMediaSample* pSample)
{
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr == S_OK)
        hr = m_pTransformFilter->Receive(pSample);
    return hr;
}

HRESULT CTransformInputPin::EndOfStream()
{
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    return m_pTransformFilter->EndOfStream();
}

HRESULT CTransformInputPin::BeginFlush()
{
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected())
        return VFW_E_NOT_CONNECTED;
    const HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr))
        return hr;
    return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush()
{
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected())
        return VFW_E_NOT_CONNECTED;
    const HRESULT hr = m_pTransformFilter->EndFlush();
    if (FAILED(hr))
        return hr;
    return CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    CBasePin::NewSegment(tStart, tStop, dRate);
    return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

CTransformOutputPin::CTransformOutputPin(const char* pObjectName, CTransformFilter* pTransformFilter,
                                         HRESULT* phr, LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter)
{
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pPin)
{
    // The output type depends on the input type.
    if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected())
        return E_UNEXPECTED;
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
    if (FAILED(hr))
        return hr;
    return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
    if (FAILED(hr))
        return hr;
    return CBaseOutputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp)
{
    return m_pTransformFilter->DecideBufferSize(pAlloc, pProp);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mtOut)
{
    if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected())
        return E_INVALIDARG;
    return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(), mtOut);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmt)
{
    const HRESULT hr = CBasePin::SetMediaType(pmt);
    if (FAILED(hr))
        return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType)
{
    if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected())
        return VFW_S_NO_MORE_ITEMS;
    return m_pTransformFilter->GetMediaType(iPosition, pMediaType);
}

HRESULT CTransformOutputPin::Notify(IBaseFilter*, Quality q)
{
    const HRESULT hr = m_pTransformFilter->AlterQuality(q);
    if (hr != S_FALSE)
        return hr;
    if (m_pQSink != nullptr)
        return m_pQSink->Notify(m_pTransformFilter, q);
    // Not handled here: to the filter upstream.
    IPin* pUpstream = m_pTransformFilter->m_pInput->GetConnected();
    if (pUpstream == nullptr)
        return VFW_E_NOT_FOUND;
    IQualityControl* pQuality = nullptr;
    if (FAILED(pUpstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&pQuality))))
        return VFW_E_NOT_FOUND;
    const HRESULT hrUp = pQuality->Notify(m_pTransformFilter, q);
    pQuality->Release();
    return hrUp;
}

CTransformFilter::CTransformFilter(const char* pName, IUnknown* pUnk, REFCLSID clsid)
    : CBaseFilter(pName, pUnk, &m_csFilter, clsid)
{
}

CTransformFilter::~CTransformFilter()
{
    delete m_pInput;
    delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n)
{
    // Made on first use: the pins' constructors may call the derived filter, complete only now.
    CAutoLock lock(&m_csFilter);
    if (m_pInput == nullptr) {
        HRESULT hr = S_OK;
        m_pInput = new (std::nothrow) CTransformInputPin("Transform input pin", this, &hr, u"XForm In");
        if (m_pInput == nullptr)
            return nullptr;
        m_pOutput = new (std::nothrow) CTransformOutputPin("Transform output pin", this, &hr, u"XForm Out");
        if (m_pOutput == nullptr) {
            delete m_pInput;
            m_pInput = nullptr;
            return nullptr;
        }
    }
    if (n == 0)
        return m_pInput;
    if (n == 1)
        return m_pOutput;
    return nullptr;
}

HRESULT CTransformFilter::FindPin(LPCWSTR Id, IPin** ppPin)
{
    if (Id == nullptr || ppPin == nullptr)
        return E_POINTER;
    const std::u16string_view strId(Id);
    if (strId == u"In" || strId == u"Out") {
        *ppPin = GetPin(strId == u"In" ? 0 : 1);
        if (*ppPin == nullptr)
            return E_OUTOFMEMORY;
        (*ppPin)->AddRef();
        return S_OK;
    }
    return CBaseFilter::FindPin(Id, ppPin);
}

HRESULT CTransformFilter::Stop()
{
    CAutoLock lock(&m_csFilter);
    if (m_State == State_Stopped)
        return S_OK;
    if (m_pInput == nullptr || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = FALSE;
        return S_OK;
    }
    // Decommitting the input's allocator makes the upstream thread's next buffer request fail;
    // the receive lock then waits for the sample being transformed.
    m_pInput->Inactive();
    CAutoLock lockReceive(&m_csReceive);
    m_pOutput->Inactive();
    const HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = FALSE;
    }
    return hr;
}

HRESULT CTransformFilter::Pause()
{
    CAutoLock lock(&m_csFilter);
    HRESULT hr = S_OK;
    if (m_State == State_Paused)
        return S_OK;
    if (m_pInput == nullptr || !m_pInput->IsConnected()) {
        // Nothing will ever come in: tell downstream at once.
        if (m_pOutput != nullptr && m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = TRUE;
        }
        m_State = State_Paused;
        return S_OK;
    }
    if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
        return S_OK;
    }
    if (m_State == State_Stopped) {
        CAutoLock lockReceive(&m_csReceive);
        hr = StartStreaming();
    }
    if (SUCCEEDED(hr))
        hr = CBaseFilter::Pause();
    m_bSampleSkipped = FALSE;
    m_bQualityChanged = FALSE;
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*)
{
    return E_UNEXPECTED;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample)
{
    DWORD dwFlags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    if (pSample->IsSyncPoint() != S_OK)
        dwFlags |= AM_GBF_NOTASYNCPOINT;
    REFERENCE_TIME tStart = 0;
    REFERENCE_TIME tEnd = 0;
    const HRESULT hrTime = pSample->GetTime(&tStart, &tEnd);
    const bool bStart = SUCCEEDED(hrTime);
    const bool bEnd = hrTime == S_OK;

    IMediaSample* pOutSample = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&pOutSample, bStart ? &tStart : nullptr, bEnd ? &tEnd : nullptr,
                                              dwFlags);
    *ppOutSample = pOutSample;
    if (FAILED(hr))
        return hr;
    if (bStart)
        pOutSample->SetTime(&tStart, bEnd ? &tEnd : nullptr);
    pOutSample->SetSyncPoint(pSample->IsSyncPoint() == S_OK);
    pOutSample->SetDiscontinuity(m_bSampleSkipped || pSample->IsDiscontinuity() == S_OK);
    pOutSample->SetPreroll(pSample->IsPreroll() == S_OK);
    std::int64_t tMediaStart = 0;
    std::int64_t tMediaEnd = 0;
    if (pSample->GetMediaTime(&tMediaStart, &tMediaEnd) == S_OK)
        pOutSample->SetMediaTime(&tMediaStart, &tMediaEnd);
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample)
{
    IMediaSample* pOutSample = nullptr;
    HRESULT hr = InitializeOutputSample(pSample, &pOutSample);
    if (FAILED(hr))
        return hr;
    hr = Transform(pSample, pOutSample);
    if (hr == S_OK) {
        hr = m_pOutput->Deliver(pOutSample);
        m_bSampleSkipped = FALSE;
    } else if (hr == S_FALSE) {
        // Nothing to show for this sample: not an error, but downstream hears of it once.
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

HRESULT CTransformFilter::EndOfStream()
{
    if (m_pOutput == nullptr)
        return S_OK;
    return m_pOutput->DeliverEndOfStream();
}

HRESULT CTransformFilter::BeginFlush()
{
    if (m_pOutput == nullptr)
        return S_OK;
    return m_pOutput->DeliverBeginFlush();
}

HRESULT CTransformFilter::EndFlush()
{
    if (m_pOutput == nullptr)
        return S_OK;
    return m_pOutput->DeliverEndFlush();
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    if (m_pOutput == nullptr)
        return S_OK;
    return m_pOutput->DeliverNewSegment(tStart, tStop, dRate);
}

void CTransformFilter::AbortPlayback(HRESULT hr)
{
    NotifyEvent(EC_ERRORABORT, hr, 0);
    if (m_pInput != nullptr)
        m_pInput->SetRunTimeError();
}
