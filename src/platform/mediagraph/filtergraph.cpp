#include "platform/mediagraph/filtergraph.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>

#include "platform/com/comapi.h"
#include "platform/mediagraph/builtinfactory.h"
#include "platform/mediagraph/critsec.h"
#include "platform/mediagraph/filtermapper.h"

const CLSID CLSID_FilterGraph = MakeGuid("E436EBB3-524F-11CE-9F53-0020AF0BA770");

namespace {

// Chains longer than this are not tried by Connect and Render (a loop of converters otherwise).
constexpr int kMaxDepth = 8;

template <class T> void SafeRelease(T*& p)
{
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

// The pins of a filter, referenced.
std::vector<IPin*> Pins(IBaseFilter* pFilter)
{
    std::vector<IPin*> vPins;
    IEnumPins* pEnum = nullptr;
    if (FAILED(pFilter->EnumPins(&pEnum)))
        return vPins;
    IPin* pPin = nullptr;
    ULONG cFetched = 0;
    while (pEnum->Next(1, &pPin, &cFetched) == S_OK && cFetched == 1)
        vPins.push_back(pPin);
    pEnum->Release();
    return vPins;
}

void ReleaseAll(std::vector<IPin*>& vPins)
{
    for (IPin* pPin : vPins)
        pPin->Release();
    vPins.clear();
}

PIN_DIRECTION Direction(IPin* pPin)
{
    PIN_DIRECTION dir = PINDIR_INPUT;
    pPin->QueryDirection(&dir);
    return dir;
}

IPin* Connected(IPin* pPin)
{
    IPin* pPeer = nullptr;
    pPin->ConnectedTo(&pPeer);
    return pPeer;
}

// The filter a pin belongs to, referenced.
IBaseFilter* Owner(IPin* pPin)
{
    PIN_INFO info{};
    if (FAILED(pPin->QueryPinInfo(&info)))
        return nullptr;
    return info.pFilter;
}

class CEnumFilters : public CUnknown, public IEnumFilters {
public:
    explicit CEnumFilters(std::vector<IBaseFilter*> vFilters)
        : CUnknown("Filter enumerator", nullptr), m_vFilters(std::move(vFilters))
    {
        for (IBaseFilter* pFilter : m_vFilters)
            pFilter->AddRef();
    }
    ~CEnumFilters() override
    {
        for (IBaseFilter* pFilter : m_vFilters)
            pFilter->Release();
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IEnumFilters)
            return GetInterface(static_cast<IEnumFilters*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) override
    {
        if (ppFilter == nullptr || (cFilters > 1 && pcFetched == nullptr))
            return E_POINTER;
        ULONG cFetched = 0;
        while (cFetched < cFilters && m_nPosition < m_vFilters.size()) {
            ppFilter[cFetched] = m_vFilters[m_nPosition++];
            ppFilter[cFetched++]->AddRef();
        }
        if (pcFetched != nullptr)
            *pcFetched = cFetched;
        return cFetched == cFilters ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG cFilters) override
    {
        m_nPosition += cFilters;
        return m_nPosition <= m_vFilters.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        m_nPosition = 0;
        return S_OK;
    }

private:
    std::vector<IBaseFilter*> m_vFilters;
    std::size_t m_nPosition = 0;
};

class CFilterGraph : public CUnknown,
                     public IGraphBuilder,
                     public IMediaControl,
                     public IMediaEvent,
                     public IMediaEventSink {
public:
    explicit CFilterGraph(IUnknown* pUnk) : CUnknown("Filter graph", pUnk) {}
    ~CFilterGraph() override
    {
        CFilterGraph::Stop();
        while (!m_vFilters.empty())
            CFilterGraph::RemoveFilter(m_vFilters.back().pFilter);
    }

    static CUnknown* CreateInstance(IUnknown* pUnk, HRESULT*)
    {
        return new (std::nothrow) CFilterGraph(pUnk);
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IFilterGraph || riid == IID_IGraphBuilder)
            return GetInterface(static_cast<IGraphBuilder*>(this), ppv);
        if (riid == IID_IMediaControl)
            return GetInterface(static_cast<IMediaControl*>(this), ppv);
        if (riid == IID_IMediaEvent)
            return GetInterface(static_cast<IMediaEvent*>(this), ppv);
        if (riid == IID_IMediaEventSink)
            return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
        if (riid == IID_IVideoWindow || riid == IID_IBasicVideo)
            return QueryFilters(riid, ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override
    {
        if (pFilter == nullptr)
            return E_POINTER;
        CAutoLock lock(&m_csGraph);
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
        for (const Entry& entry : m_vFilters)
            if (entry.pFilter == pFilter)
                return E_INVALIDARG;
        // Names are unique in a graph; a taken one gets a number.
        std::u16string strName = pName != nullptr && *pName != 0 ? pName : u"Filter";
        HRESULT hrName = S_OK;
        if (FindByName(strName) != nullptr) {
            hrName = VFW_S_DUPLICATE_NAME;
            for (int n = 1;; ++n) {
                std::u16string strTry = strName;
                for (char c : " " + std::to_string(n))
                    strTry += static_cast<char16_t>(c);
                if (FindByName(strTry) == nullptr) {
                    strName = std::move(strTry);
                    break;
                }
            }
        }
        const HRESULT hr = pFilter->JoinFilterGraph(this, strName.c_str());
        if (FAILED(hr))
            return hr;
        pFilter->AddRef();
        m_vFilters.push_back(Entry{pFilter, strName});
        return hrName;
    }

    HRESULT RemoveFilter(IBaseFilter* pFilter) override
    {
        CAutoLock lock(&m_csGraph);
        auto it = std::find_if(m_vFilters.begin(), m_vFilters.end(),
                               [&](const Entry& entry) { return entry.pFilter == pFilter; });
        if (it == m_vFilters.end())
            return VFW_E_NOT_FOUND;
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
        std::vector<IPin*> vPins = Pins(pFilter);
        for (IPin* pPin : vPins) {
            if (IPin* pPeer = Connected(pPin)) {
                pPeer->Disconnect();
                pPin->Disconnect();
                pPeer->Release();
            }
        }
        ReleaseAll(vPins);
        m_vFilters.erase(it);
        pFilter->JoinFilterGraph(nullptr, nullptr);
        pFilter->Release();
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters** ppEnum) override
    {
        if (ppEnum == nullptr)
            return E_POINTER;
        CAutoLock lock(&m_csGraph);
        std::vector<IBaseFilter*> vFilters;
        for (const Entry& entry : m_vFilters)
            vFilters.push_back(entry.pFilter);
        auto* pEnum = new (std::nothrow) CEnumFilters(std::move(vFilters));
        if (pEnum == nullptr)
            return E_OUTOFMEMORY;
        return pEnum->NonDelegatingQueryInterface(IID_IEnumFilters, reinterpret_cast<void**>(ppEnum));
    }

    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override
    {
        if (pName == nullptr || ppFilter == nullptr)
            return E_POINTER;
        CAutoLock lock(&m_csGraph);
        *ppFilter = FindByName(pName);
        if (*ppFilter == nullptr)
            return VFW_E_NOT_FOUND;
        (*ppFilter)->AddRef();
        return S_OK;
    }

    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override
    {
        if (ppinOut == nullptr || ppinIn == nullptr)
            return E_POINTER;
        CAutoLock lock(&m_csGraph);
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
        if (Direction(ppinOut) != PINDIR_OUTPUT || Direction(ppinIn) != PINDIR_INPUT)
            return VFW_E_INVALID_DIRECTION;
        return ppinOut->Connect(ppinIn, pmt);
    }

    HRESULT Reconnect(IPin* ppin) override
    {
        if (ppin == nullptr)
            return E_POINTER;
        CAutoLock lock(&m_csGraph);
        IPin* pPeer = Connected(ppin);
        if (pPeer == nullptr)
            return VFW_E_NOT_CONNECTED;
        AM_MEDIA_TYPE mt{};
        ppin->ConnectionMediaType(&mt);
        IPin* pOut = Direction(ppin) == PINDIR_OUTPUT ? ppin : pPeer;
        IPin* pIn = pOut == ppin ? pPeer : ppin;
        pOut->Disconnect();
        pIn->Disconnect();
        HRESULT hr = ConnectDirect(pOut, pIn, &mt);
        if (FAILED(hr))
            hr = ConnectDirect(pOut, pIn, nullptr);
        FreeMediaType(mt);
        pPeer->Release();
        return hr;
    }

    HRESULT Disconnect(IPin* ppin) override
    {
        if (ppin == nullptr)
            return E_POINTER;
        return ppin->Disconnect();
    }

    HRESULT SetDefaultSyncSource() override { return S_OK; }

    // IGraphBuilder
    HRESULT Connect(IPin* ppinOut, IPin* ppinIn) override
    {
        if (ppinOut == nullptr || ppinIn == nullptr)
            return E_POINTER;
        CAutoLock lock(&m_csGraph);
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
        std::set<IBaseFilter*> setAdded;
        const HRESULT hr = ConnectVia(ppinOut, ppinIn, 0, setAdded);
        return SUCCEEDED(hr) ? S_OK : hr;
    }

    HRESULT Render(IPin* ppinOut) override
    {
        if (ppinOut == nullptr)
            return E_POINTER;
        CAutoLock lock(&m_csGraph);
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
        if (Direction(ppinOut) != PINDIR_OUTPUT)
            return VFW_E_INVALID_DIRECTION;
        if (IPin* pPeer = Connected(ppinOut)) {
            pPeer->Release();
            return VFW_E_ALREADY_CONNECTED;
        }
        std::set<IBaseFilter*> setAdded;
        return ConnectVia(ppinOut, nullptr, 0, setAdded);
    }

    HRESULT Abort() override { return S_OK; }

    // IMediaControl
    HRESULT Run() override
    {
        CAutoLock lock(&m_csGraph);
        if (m_state == State_Running)
            return S_OK;
        if (m_state == State_Stopped) {
            const HRESULT hr = ChangeState(State_Paused);
            if (FAILED(hr))
                return hr;
        }
        return ChangeState(State_Running);
    }

    HRESULT Pause() override
    {
        CAutoLock lock(&m_csGraph);
        return ChangeState(State_Paused);
    }

    HRESULT Stop() override
    {
        CAutoLock lock(&m_csGraph);
        return ChangeState(State_Stopped);
    }

    HRESULT GetState(LONG, OAFilterState* pfs) override
    {
        if (pfs == nullptr)
            return E_POINTER;
        // State changes complete before Run, Pause and Stop return.
        *pfs = m_state;
        return S_OK;
    }

    HRESULT StopWhenReady() override { return Stop(); }

    // IMediaEvent
    HRESULT GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, long msTimeout) override
    {
        if (lEventCode == nullptr || lParam1 == nullptr || lParam2 == nullptr)
            return E_POINTER;
        std::unique_lock lock(m_mutexEvents);
        if (!WaitFor(lock, msTimeout, [this] { return !m_events.empty(); }))
            return E_ABORT;
        const Event event = m_events.front();
        m_events.pop_front();
        *lEventCode = event.lCode;
        *lParam1 = event.lParam1;
        *lParam2 = event.lParam2;
        return S_OK;
    }

    HRESULT WaitForCompletion(long msTimeout, long* pEvCode) override
    {
        if (pEvCode == nullptr)
            return E_POINTER;
        *pEvCode = 0;
        std::unique_lock lock(m_mutexEvents);
        auto isEnd = [](const Event& event) {
            return event.lCode == EC_COMPLETE || event.lCode == EC_USERABORT || event.lCode == EC_ERRORABORT;
        };
        if (!WaitFor(lock, msTimeout, [&] { return std::any_of(m_events.begin(), m_events.end(), isEnd); }))
            return E_ABORT;
        auto it = std::find_if(m_events.begin(), m_events.end(), isEnd);
        *pEvCode = it->lCode;
        m_events.erase(it);
        return S_OK;
    }

    HRESULT FreeEventParams(long, LONG_PTR, LONG_PTR) override { return S_OK; }

    // IMediaEventSink: from any thread (filters' streaming threads).
    HRESULT Notify(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override
    {
        {
            std::lock_guard lock(m_mutexEvents);
            m_events.push_back(Event{EventCode, EventParam1, EventParam2});
        }
        m_cvEvents.notify_all();
        return S_OK;
    }

private:
    struct Entry {
        IBaseFilter* pFilter; // referenced
        std::u16string strName;
    };
    struct Event {
        long lCode;
        LONG_PTR lParam1;
        LONG_PTR lParam2;
    };

    template <class Pred> bool WaitFor(std::unique_lock<std::mutex>& lock, long msTimeout, Pred pred)
    {
        if (msTimeout < 0 || static_cast<DWORD>(msTimeout) == INFINITE) {
            m_cvEvents.wait(lock, pred);
            return true;
        }
        return m_cvEvents.wait_for(lock, std::chrono::milliseconds(msTimeout), pred);
    }

    IBaseFilter* FindByName(const std::u16string& strName)
    {
        for (const Entry& entry : m_vFilters)
            if (entry.strName == strName)
                return entry.pFilter;
        return nullptr;
    }

    HRESULT QueryFilters(REFIID riid, void** ppv)
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        CAutoLock lock(&m_csGraph);
        for (const Entry& entry : m_vFilters)
            if (SUCCEEDED(entry.pFilter->QueryInterface(riid, ppv)))
                return S_OK;
        return E_NOINTERFACE;
    }

    // Filters ordered downstream first: every filter after all filters its outputs feed.
    std::vector<IBaseFilter*> DownstreamFirst()
    {
        std::vector<IBaseFilter*> vOrder;
        std::set<IBaseFilter*> setVisited;
        std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* pFilter) {
            if (!setVisited.insert(pFilter).second)
                return;
            std::vector<IPin*> vPins = Pins(pFilter);
            for (IPin* pPin : vPins) {
                if (Direction(pPin) != PINDIR_OUTPUT)
                    continue;
                if (IPin* pPeer = Connected(pPin)) {
                    if (IBaseFilter* pNext = Owner(pPeer)) {
                        visit(pNext);
                        pNext->Release();
                    }
                    pPeer->Release();
                }
            }
            ReleaseAll(vPins);
            vOrder.push_back(pFilter);
        };
        for (const Entry& entry : m_vFilters)
            visit(entry.pFilter);
        return vOrder;
    }

    HRESULT ChangeState(FILTER_STATE state)
    {
        if (m_state == state)
            return S_OK;
        HRESULT hrResult = S_OK;
        for (IBaseFilter* pFilter : DownstreamFirst()) {
            HRESULT hr = S_OK;
            if (state == State_Stopped)
                hr = pFilter->Stop();
            else if (state == State_Paused)
                hr = pFilter->Pause();
            else
                hr = pFilter->Run(0);
            if (FAILED(hr)) {
                if (state != State_Stopped) {
                    // A graph half started is stopped again as a whole.
                    m_state = State_Paused;
                    ChangeState(State_Stopped);
                    return hr;
                }
                if (SUCCEEDED(hrResult))
                    hrResult = hr;
            }
        }
        m_state = state;
        if (state == State_Stopped) {
            std::lock_guard lockEvents(m_mutexEvents);
            m_events.clear();
        }
        return hrResult;
    }

    // Connects ppinOut to ppinIn, directly or through filters put in between; with ppinIn null,
    // renders ppinOut: onwards until every stream ends in a filter without output pins.
    HRESULT ConnectVia(IPin* ppinOut, IPin* ppinIn, int nDepth, std::set<IBaseFilter*>& setAdded)
    {
        if (ppinIn != nullptr && SUCCEEDED(ppinOut->Connect(ppinIn, nullptr)))
            return S_OK;
        if (nDepth >= kMaxDepth)
            return ppinIn != nullptr ? VFW_E_CANNOT_CONNECT : VFW_E_CANNOT_RENDER;

        IBaseFilter* pOwnerOut = Owner(ppinOut);
        IBaseFilter* pOwnerIn = ppinIn != nullptr ? Owner(ppinIn) : nullptr;
        HRESULT hrResult = ppinIn != nullptr ? VFW_E_CANNOT_CONNECT : VFW_E_CANNOT_RENDER;

        // The filters already in the graph first.
        std::vector<IBaseFilter*> vCandidates;
        for (const Entry& entry : m_vFilters)
            if (entry.pFilter != pOwnerOut && entry.pFilter != pOwnerIn)
                vCandidates.push_back(entry.pFilter);
        for (IBaseFilter* pFilter : vCandidates) {
            if (SUCCEEDED(TryFilter(ppinOut, pFilter, ppinIn, nDepth, setAdded))) {
                hrResult = S_OK;
                break;
            }
        }

        // Then registered filters, best merit first.
        if (FAILED(hrResult)) {
            for (const REGFILTER_INFO& info : RegisteredCandidates(ppinOut, ppinIn != nullptr)) {
                IBaseFilter* pFilter = nullptr;
                if (FAILED(CoCreateInstance(info.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                            reinterpret_cast<void**>(&pFilter))))
                    continue;
                if (FAILED(AddFilter(pFilter, info.strName.c_str()))) {
                    pFilter->Release();
                    continue;
                }
                setAdded.insert(pFilter);
                const HRESULT hr = TryFilter(ppinOut, pFilter, ppinIn, nDepth, setAdded);
                if (SUCCEEDED(hr)) {
                    pFilter->Release();
                    hrResult = S_OK;
                    break;
                }
                setAdded.erase(pFilter);
                RemoveFilter(pFilter);
                pFilter->Release();
            }
        }
        SafeRelease(pOwnerOut);
        SafeRelease(pOwnerIn);
        return hrResult;
    }

    // ppinOut into a free input pin of pFilter, then pFilter's outputs onwards.
    HRESULT TryFilter(IPin* ppinOut, IBaseFilter* pFilter, IPin* ppinIn, int nDepth,
                      std::set<IBaseFilter*>& setAdded)
    {
        HRESULT hrResult = E_FAIL;
        std::vector<IPin*> vPins = Pins(pFilter);
        for (IPin* pPin : vPins) {
            if (Direction(pPin) != PINDIR_INPUT)
                continue;
            if (IPin* pPeer = Connected(pPin)) {
                pPeer->Release();
                continue;
            }
            if (FAILED(ppinOut->Connect(pPin, nullptr)))
                continue;
            if (SUCCEEDED(ContinueFrom(pFilter, ppinIn, nDepth, setAdded))) {
                hrResult = S_OK;
                break;
            }
            ppinOut->Disconnect();
            pPin->Disconnect();
        }
        ReleaseAll(vPins);
        return hrResult;
    }

    // After a filter joined the chain: connect (one of) its outputs to ppinIn, or render them all.
    HRESULT ContinueFrom(IBaseFilter* pFilter, IPin* ppinIn, int nDepth, std::set<IBaseFilter*>& setAdded)
    {
        std::vector<IPin*> vOutputs;
        std::vector<IPin*> vPins = Pins(pFilter);
        for (IPin* pPin : vPins) {
            IPin* pPeer = Connected(pPin);
            if (Direction(pPin) == PINDIR_OUTPUT && pPeer == nullptr)
                vOutputs.push_back(pPin);
            if (pPeer != nullptr)
                pPeer->Release();
        }
        HRESULT hr = S_OK;
        if (ppinIn != nullptr) {
            hr = VFW_E_CANNOT_CONNECT;
            for (IPin* pOut : vOutputs)
                if (SUCCEEDED(ConnectVia(pOut, ppinIn, nDepth + 1, setAdded))) {
                    hr = S_OK;
                    break;
                }
        } else {
            // A filter without free outputs ends the stream: rendered.
            std::vector<IPin*> vDone;
            for (IPin* pOut : vOutputs) {
                hr = ConnectVia(pOut, nullptr, nDepth + 1, setAdded);
                if (FAILED(hr))
                    break;
                vDone.push_back(pOut);
            }
            if (FAILED(hr))
                for (IPin* pOut : vDone)
                    Undo(pOut, setAdded);
        }
        ReleaseAll(vPins);
        return hr;
    }

    // Takes back what rendering from pOut built: connections and the filters it added.
    void Undo(IPin* pOut, std::set<IBaseFilter*>& setAdded)
    {
        IPin* pPeer = Connected(pOut);
        if (pPeer == nullptr)
            return;
        IBaseFilter* pNext = Owner(pPeer);
        pOut->Disconnect();
        pPeer->Disconnect();
        pPeer->Release();
        if (pNext == nullptr)
            return;
        if (setAdded.count(pNext) != 0) {
            std::vector<IPin*> vPins = Pins(pNext);
            for (IPin* pPin : vPins)
                if (Direction(pPin) == PINDIR_OUTPUT)
                    Undo(pPin, setAdded);
            ReleaseAll(vPins);
            setAdded.erase(pNext);
            RemoveFilter(pNext);
        }
        pNext->Release();
    }

    // Registered filters that take one of the output pin's types.
    std::vector<REGFILTER_INFO> RegisteredCandidates(IPin* ppinOut, bool bWantOutputs)
    {
        std::vector<REGFILTER_INFO> vResult;
        std::vector<GUID> vTypes;
        IEnumMediaTypes* pEnum = nullptr;
        if (SUCCEEDED(ppinOut->EnumMediaTypes(&pEnum))) {
            AM_MEDIA_TYPE* pmt = nullptr;
            ULONG cFetched = 0;
            while (pEnum->Next(1, &pmt, &cFetched) == S_OK && cFetched == 1) {
                vTypes.push_back(pmt->majortype);
                vTypes.push_back(pmt->subtype);
                DeleteMediaType(pmt);
            }
            pEnum->Release();
        }
        if (vTypes.empty())
            return vResult;
        IFilterMapper2* pMapper = nullptr;
        if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                    reinterpret_cast<void**>(&pMapper))))
            return vResult;
        // Filters registered as not to be used are never picked on their own.
        pMapper->EnumMatchingFilters(&vResult, MERIT_DO_NOT_USE + 1, bWantOutputs,
                                     static_cast<DWORD>(vTypes.size() / 2), vTypes.data());
        pMapper->Release();
        return vResult;
    }

    CCritSec m_csGraph;
    std::vector<Entry> m_vFilters;
    std::atomic<FILTER_STATE> m_state{State_Stopped};
    std::mutex m_mutexEvents;
    std::condition_variable m_cvEvents;
    std::deque<Event> m_events;
};

CBuiltinClassFactory g_graphFactory(CLSID_FilterGraph, CFilterGraph::CreateInstance);

} // namespace
