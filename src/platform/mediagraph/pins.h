// Pins: connection, media type negotiation, allocator agreement and sample transport.
//
// Pins live inside their filter and share its reference count. Connection is always made by
// the output side: Connect on the output pin proposes types (the input pin's first, then its
// own) until the input pin takes one in ReceiveConnection; then the output pin agrees an
// allocator with the input pin (DecideAllocator / DecideBufferSize).
#pragma once

#include <string>

#include "platform/mediagraph/critsec.h"
#include "platform/mediagraph/interfaces.h"

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
             PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // IPin
    HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** ppPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT QueryId(LPWSTR* Id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT BeginFlush() override = 0;
    HRESULT EndFlush() override = 0;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IQualityControl: quality messages from downstream; the base passes them to the sink set.
    HRESULT Notify(IBaseFilter* pSelf, Quality q) override;
    HRESULT SetSink(IQualityControl* piqc) override;

    // Overridables.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt); // stores the connection's type
    virtual HRESULT CheckConnect(IPin* pPin);            // direction check
    virtual HRESULT BreakConnect() { return S_OK; }
    virtual HRESULT CompleteConnect(IPin* pReceivePin) { return S_OK; }
    // The types this pin proposes, position 0 first; VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    // State changes of the filter, for connected pins.
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME tStart) { return S_OK; }

    BOOL IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() const { return m_Connected; }
    CMediaType& CurrentMediaType() { return m_mt; }
    BOOL IsStopped() const;
    const std::u16string& Name() const { return m_strName; }
    PIN_DIRECTION Direction() const { return m_dir; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }

protected:
    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT DisconnectInternal();

    std::u16string m_strName;
    IPin* m_Connected = nullptr; // referenced
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;      // the filter's lock
    CBaseFilter* m_pFilter; // not referenced: the filter owns the pin
    IQualityControl* m_pQSink = nullptr;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFF;
    double m_dRate = 1.0;
    bool m_bTryMyTypesFirst = false;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName);
    ~CBaseOutputPin() override;

    HRESULT CompleteConnect(IPin* pReceivePin) override; // agrees the allocator
    HRESULT CheckConnect(IPin* pPin) override;           // the peer must take samples
    HRESULT BreakConnect() override;
    HRESULT Active() override;   // commits the allocator
    HRESULT Inactive() override; // decommits it, which wakes a thread waiting for a buffer

    // Input-side operations are not for output pins.
    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);

    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr; // referenced
    IMemInputPin* m_pInputPin = nullptr;   // referenced: the connected pin's transport
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                  LPCWSTR pName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override { return E_NOTIMPL; }
    // Checks that the pin may stream and that a type carried by the sample is acceptable;
    // derived pins call it first and process the sample after it.
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT ReceiveCanBlock() override { return S_OK; }

    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

    // S_OK when a sample may be processed now; S_FALSE while flushing; an error when stopped,
    // unconnected or after a run-time error.
    virtual HRESULT CheckStreaming();
    BOOL IsFlushing() const { return m_bFlushing; }
    BOOL IsReadOnly() const { return m_bReadOnly; }
    // After a run-time error the pin refuses samples until the filter stops.
    void SetRunTimeError() { m_bRunTimeError = TRUE; }

protected:
    IMemAllocator* m_pAllocator = nullptr; // referenced
    BOOL m_bReadOnly = FALSE;
    std::atomic<BOOL> m_bFlushing{FALSE};
    std::atomic<BOOL> m_bRunTimeError{FALSE};
};
