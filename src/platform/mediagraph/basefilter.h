// The filter base: state (stopped, paused, running), its pins, membership in a graph and the
// graph's event sink.
#pragma once

#include <atomic>
#include <string>

#include "platform/mediagraph/critsec.h"
#include "platform/mediagraph/pins.h"

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    // pLock is the filter lock, owned by the derived class; it guards state and connections.
    CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMediaFilter
    HRESULT GetClassID(CLSID* pClsID) override;
    HRESULT Stop() override;  // Inactive on every connected pin
    HRESULT Pause() override; // Active on every connected pin when leaving Stopped
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;

    // IBaseFilter
    HRESULT EnumPins(IEnumPins** ppEnum) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override; // by pin name
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) override { return E_NOTIMPL; }

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;

    // Sends an event to the graph's event sink, if the filter is in a graph. EC_COMPLETE carries
    // the filter as its second parameter.
    HRESULT NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

    BOOL IsActive();
    BOOL IsStopped();
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }
    const std::u16string& FilterName() const { return m_strName; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped}; // read by the streaming thread
    REFERENCE_TIME m_tStart = 0;
    CCritSec* m_pLock;
    CLSID m_clsid;
    IFilterGraph* m_pGraph = nullptr;   // not referenced: the graph holds the filter
    IMediaEventSink* m_pSink = nullptr; // not referenced, as the graph
    std::u16string m_strName;
};
