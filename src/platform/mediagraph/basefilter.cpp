#include "platform/mediagraph/basefilter.h"

#include <cstring>

namespace {

// Enumerates a filter's pins as they are when asked.
class CEnumPins : public CUnknown, public IEnumPins {
public:
    explicit CEnumPins(CBaseFilter* pFilter) : CUnknown("Pin enumerator", nullptr), m_pFilter(pFilter)
    {
        m_pFilter->AddRef();
    }
    ~CEnumPins() override { m_pFilter->Release(); }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IEnumPins)
            return GetInterface(static_cast<IEnumPins*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override
    {
        if (ppPins == nullptr || (cPins > 1 && pcFetched == nullptr))
            return E_POINTER;
        ULONG cFetched = 0;
        while (cFetched < cPins && m_nPosition < m_pFilter->GetPinCount()) {
            CBasePin* pPin = m_pFilter->GetPin(m_nPosition++);
            if (pPin == nullptr)
                break;
            ppPins[cFetched] = pPin;
            pPin->AddRef();
            ++cFetched;
        }
        if (pcFetched != nullptr)
            *pcFetched = cFetched;
        return cFetched == cPins ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG cPins) override
    {
        m_nPosition += static_cast<int>(cPins);
        return m_nPosition <= m_pFilter->GetPinCount() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        m_nPosition = 0;
        return S_OK;
    }

private:
    CBaseFilter* m_pFilter;
    int m_nPosition = 0;
};

} // namespace

CBaseFilter::CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid)
    : CUnknown(pName, pUnk), m_pLock(pLock), m_clsid(clsid)
{
}

CBaseFilter::~CBaseFilter() = default;

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* pClsID)
{
    if (pClsID == nullptr)
        return E_POINTER;
    *pClsID = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop()
{
    CAutoLock lock(m_pLock);
    HRESULT hrResult = S_OK;
    if (m_State != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pPin = GetPin(i);
            if (pPin != nullptr && pPin->IsConnected()) {
                const HRESULT hr = pPin->Inactive();
                if (FAILED(hr) && SUCCEEDED(hrResult))
                    hrResult = hr;
            }
        }
    }
    m_State = State_Stopped;
    return hrResult;
}

HRESULT CBaseFilter::Pause()
{
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pPin = GetPin(i);
            if (pPin != nullptr && pPin->IsConnected()) {
                const HRESULT hr = pPin->Active();
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart)
{
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    if (m_State != State_Running) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pPin = GetPin(i);
            if (pPin != nullptr && pPin->IsConnected()) {
                const HRESULT hr = pPin->Run(tStart);
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* State)
{
    if (State == nullptr)
        return E_POINTER;
    *State = m_State;
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** ppEnum)
{
    if (ppEnum == nullptr)
        return E_POINTER;
    auto* pEnum = new (std::nothrow) CEnumPins(this);
    if (pEnum == nullptr)
        return E_OUTOFMEMORY;
    return pEnum->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(ppEnum));
}

HRESULT CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin)
{
    if (Id == nullptr || ppPin == nullptr)
        return E_POINTER;
    *ppPin = nullptr;
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* pPin = GetPin(i);
        if (pPin != nullptr && pPin->Name() == Id) {
            *ppPin = pPin;
            pPin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo)
{
    if (pInfo == nullptr)
        return E_POINTER;
    const std::size_t n = std::min<std::size_t>(m_strName.size(), MAX_FILTER_NAME - 1);
    std::memcpy(pInfo->achName, m_strName.data(), n * sizeof(WCHAR));
    pInfo->achName[n] = 0;
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr)
        m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName)
{
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    m_pSink = nullptr;
    if (pGraph != nullptr) {
        // Not kept referenced: the graph holds this filter, and a reference back would keep both.
        IMediaEventSink* pSink = nullptr;
        if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink)))) {
            m_pSink = pSink;
            pSink->Release();
        }
    }
    m_strName = (pGraph != nullptr && pName != nullptr) ? pName : u"";
    return S_OK;
}

HRESULT CBaseFilter::NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2)
{
    IMediaEventSink* pSink = m_pSink;
    if (pSink == nullptr)
        return E_NOTIMPL;
    if (EventCode == EC_COMPLETE)
        EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return pSink->Notify(EventCode, EventParam1, EventParam2);
}

BOOL CBaseFilter::IsActive()
{
    return m_State != State_Stopped;
}

BOOL CBaseFilter::IsStopped()
{
    return m_State == State_Stopped;
}
