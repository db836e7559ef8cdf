#include "platform/mediagraph/pins.h"

#include <cstring>

#include "platform/com/comapi.h"
#include "platform/mediagraph/allocator.h"
#include "platform/mediagraph/basefilter.h"

namespace {

// Enumerates a pin's proposed types by asking it position by position.
class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
public:
    explicit CEnumMediaTypes(CBasePin* pPin) : CUnknown("Media type enumerator", nullptr), m_pPin(pPin)
    {
        m_pPin->AddRef();
    }
    ~CEnumMediaTypes() override { m_pPin->Release(); }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IEnumMediaTypes)
            return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override
    {
        if (ppMediaTypes == nullptr || (cMediaTypes > 1 && pcFetched == nullptr))
            return E_POINTER;
        ULONG cFetched = 0;
        while (cFetched < cMediaTypes) {
            CMediaType mt;
            if (m_pPin->GetMediaType(m_nPosition, &mt) != S_OK)
                break;
            ++m_nPosition;
            ppMediaTypes[cFetched] = CreateMediaType(&mt);
            if (ppMediaTypes[cFetched] == nullptr)
                break;
            ++cFetched;
        }
        if (pcFetched != nullptr)
            *pcFetched = cFetched;
        return cFetched == cMediaTypes ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG cMediaTypes) override
    {
        m_nPosition += static_cast<int>(cMediaTypes);
        return S_OK;
    }
    HRESULT Reset() override
    {
        m_nPosition = 0;
        return S_OK;
    }

private:
    CBasePin* m_pPin;
    int m_nPosition = 0;
};

void CopyName(WCHAR* pDest, std::size_t cchDest, const std::u16string& strName)
{
    const std::size_t n = std::min(strName.size(), cchDest - 1);
    std::memcpy(pDest, strName.data(), n * sizeof(WCHAR));
    pDest[n] = 0;
}

} // namespace

CBasePin::CBasePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT*, LPCWSTR pName,
                   PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr), m_strName(pName != nullptr ? pName : u""), m_dir(dir), m_pLock(pLock),
      m_pFilter(pFilter)
{
}

CBasePin::~CBasePin()
{
    if (m_Connected != nullptr)
        m_Connected->Release();
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IPin)
        return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl)
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// A pin lives as long as its filter: its references are the filter's.
ULONG CBasePin::NonDelegatingAddRef()
{
    return m_pFilter->AddRef();
}

ULONG CBasePin::NonDelegatingRelease()
{
    return m_pFilter->Release();
}

BOOL CBasePin::IsStopped() const
{
    return m_pFilter->IsStopped();
}

HRESULT CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt)
{
    if (pReceivePin == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    if (pmt == nullptr)
        return AgreeMediaType(pReceivePin, nullptr);
    const CMediaType mt(*pmt);
    return AgreeMediaType(pReceivePin, &mt);
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt)
{
    // A complete type is the only one tried.
    if (pmt != nullptr && !pmt->IsPartiallySpecified())
        return AttemptConnection(pReceivePin, pmt);

    // Otherwise the receiving pin's proposals, then ours (or ours first when the pin says so).
    for (int nPass = 0; nPass < 2; ++nPass) {
        const bool bMine = (nPass == 0) == m_bTryMyTypesFirst;
        IEnumMediaTypes* pEnum = nullptr;
        const HRESULT hrEnum = bMine ? EnumMediaTypes(&pEnum) : pReceivePin->EnumMediaTypes(&pEnum);
        if (FAILED(hrEnum) || pEnum == nullptr)
            continue;
        const HRESULT hr = TryMediaTypes(pReceivePin, pmt, pEnum);
        pEnum->Release();
        if (SUCCEEDED(hr))
            return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum)
{
    for (;;) {
        AM_MEDIA_TYPE* pMediaType = nullptr;
        ULONG cFetched = 0;
        if (pEnum->Next(1, &pMediaType, &cFetched) != S_OK || cFetched != 1)
            return VFW_E_NO_ACCEPTABLE_TYPES;
        const CMediaType mt(*pMediaType);
        DeleteMediaType(pMediaType);
        if (pmt != nullptr && !mt.MatchesPartial(pmt))
            continue;
        if (SUCCEEDED(AttemptConnection(pReceivePin, &mt)))
            return S_OK;
    }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt)
{
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr == S_OK) {
        m_Connected = pReceivePin;
        m_Connected->AddRef();
        hr = SetMediaType(pmt);
        if (SUCCEEDED(hr)) {
            hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(pReceivePin);
                if (SUCCEEDED(hr))
                    return S_OK;
                pReceivePin->Disconnect();
            }
        }
        m_Connected->Release();
        m_Connected = nullptr;
    }
    BreakConnect();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt)
{
    if (pConnector == nullptr || pmt == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType mt(*pmt);
    hr = CheckMediaType(&mt);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_Connected = pConnector;
    m_Connected->AddRef();
    hr = SetMediaType(&mt);
    if (SUCCEEDED(hr))
        hr = CompleteConnect(pConnector);
    if (FAILED(hr)) {
        m_Connected->Release();
        m_Connected = nullptr;
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::Disconnect()
{
    CAutoLock lock(m_pLock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal()
{
    if (m_Connected == nullptr)
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr))
        return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** ppPin)
{
    if (ppPin == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    *ppPin = m_Connected;
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected == nullptr) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* pInfo)
{
    if (pInfo == nullptr)
        return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    pInfo->dir = m_dir;
    CopyName(pInfo->achName, MAX_PIN_NAME, m_strName);
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* pPinDir)
{
    if (pPinDir == nullptr)
        return E_POINTER;
    *pPinDir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* Id)
{
    if (Id == nullptr)
        return E_POINTER;
    auto* pId = static_cast<WCHAR*>(CoTaskMemAlloc((m_strName.size() + 1) * sizeof(WCHAR)));
    if (pId == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(pId, m_strName.c_str(), (m_strName.size() + 1) * sizeof(WCHAR));
    *Id = pId;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return E_POINTER;
    const CMediaType mt(*pmt);
    return CheckMediaType(&mt) == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum)
{
    if (ppEnum == nullptr)
        return E_POINTER;
    auto* pEnum = new (std::nothrow) CEnumMediaTypes(this);
    if (pEnum == nullptr)
        return E_OUTOFMEMORY;
    return pEnum->NonDelegatingQueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void**>(ppEnum));
}

HRESULT CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality q)
{
    if (m_pQSink == nullptr)
        return E_FAIL;
    return m_pQSink->Notify(m_pFilter, q);
}

HRESULT CBasePin::SetSink(IQualityControl* piqc)
{
    m_pQSink = piqc;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt)
{
    return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin)
{
    PIN_DIRECTION dir;
    if (FAILED(pPin->QueryDirection(&dir)))
        return E_FAIL;
    return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::GetMediaType(int iPosition, CMediaType*)
{
    return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

CBaseOutputPin::CBaseOutputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                               LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT)
{
}

CBaseOutputPin::~CBaseOutputPin()
{
    if (m_pAllocator != nullptr)
        m_pAllocator->Release();
    if (m_pInputPin != nullptr)
        m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin)
{
    const HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr))
        return hr;
    if (m_pInputPin != nullptr) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return SUCCEEDED(pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin)))
               ? S_OK
               : E_NOINTERFACE;
}

HRESULT CBaseOutputPin::BreakConnect()
{
    if (m_pAllocator != nullptr) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin != nullptr) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*)
{
    return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc)
{
    if (pPin == nullptr)
        return E_POINTER;
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES prop{};
    pPin->GetAllocatorRequirements(&prop);
    if (prop.cbAlign == 0)
        prop.cbAlign = 1;

    // The input pin's allocator first, then one of our own.
    HRESULT hr = pPin->GetAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &prop);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr))
                return S_OK;
        }
    }
    if (*ppAlloc != nullptr) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    hr = InitAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &prop);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr))
                return S_OK;
        }
    }
    if (*ppAlloc != nullptr) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc)
{
    HRESULT hr = S_OK;
    CUnknown* pAllocator = CMemAllocator::CreateInstance(nullptr, &hr);
    if (pAllocator == nullptr)
        return E_OUTOFMEMORY;
    return pAllocator->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::Active()
{
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive()
{
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags)
{
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample)
{
    if (m_pInputPin == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush()
{
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush()
{
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(tStart, tStop, dRate);
}

CBaseInputPin::CBaseInputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                             LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT)
{
}

CBaseInputPin::~CBaseInputPin()
{
    if (m_pAllocator != nullptr)
        m_pAllocator->Release();
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IMemInputPin)
        return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator)
{
    if (ppAllocator == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_pAllocator == nullptr) {
        HRESULT hr = S_OK;
        CUnknown* pAllocator = CMemAllocator::CreateInstance(nullptr, &hr);
        if (pAllocator == nullptr)
            return E_OUTOFMEMORY;
        hr = pAllocator->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                     reinterpret_cast<void**>(&m_pAllocator));
        if (FAILED(hr))
            return hr;
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly)
{
    if (pAllocator == nullptr)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    pAllocator->AddRef();
    if (m_pAllocator != nullptr)
        m_pAllocator->Release();
    m_pAllocator = pAllocator;
    m_bReadOnly = bReadOnly;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* pSample)
{
    if (pSample == nullptr)
        return E_POINTER;
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt != nullptr) {
        const CMediaType mt(*pmt);
        DeleteMediaType(pmt);
        if (CheckMediaType(&mt) != S_OK) {
            // A format this pin cannot take: the stream cannot go on.
            m_bRunTimeError = TRUE;
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT CBaseInputPin::BeginFlush()
{
    m_bFlushing = TRUE;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush()
{
    m_bFlushing = FALSE;
    m_bRunTimeError = FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect()
{
    if (m_pAllocator != nullptr) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive()
{
    m_bRunTimeError = FALSE;
    m_bFlushing = FALSE;
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseInputPin::CheckStreaming()
{
    if (!IsConnected())
        return VFW_E_NOT_CONNECTED;
    if (IsStopped())
        return VFW_E_WRONG_STATE;
    if (m_bFlushing)
        return S_FALSE;
    if (m_bRunTimeError)
        return VFW_E_RUNTIME_ERROR;
    return S_OK;
}
