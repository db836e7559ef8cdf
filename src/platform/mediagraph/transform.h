// The transform filter base: one input pin, one output pin, each input sample transformed
// into one output sample on the thread that delivers the input (the upstream filter's
// streaming thread).
//
// Locks: m_csFilter guards state and connections; m_csReceive is held for each Receive and
// EndOfStream, and Stop takes it after stopping the input, so a stop waits for the sample in
// progress and no sample is transformed after StopStreaming.
#pragma once

#include "platform/mediagraph/basefilter.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(const char* pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                       LPCWSTR pName);

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT CheckMediaType(const CMediaType* mtIn) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;

    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

protected:
    CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(const char* pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                        LPCWSTR pName);

    HRESULT CheckConnect(IPin* pPin) override; // the input pin must be connected first
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT CheckMediaType(const CMediaType* mtOut) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // Quality messages from downstream go to the filter's AlterQuality first.
    HRESULT Notify(IBaseFilter* pSender, Quality q) override;

protected:
    CTransformFilter* m_pTransformFilter;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const char* pName, IUnknown* pUnk, REFCLSID clsid);
    ~CTransformFilter() override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;                   // 0 input, 1 output; made on first use
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override; // "In" and "Out"

    HRESULT Stop() override;
    HRESULT Pause() override;

    // Must be overridden.
    virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut);
    virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
    virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) = 0;
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;

    // May be overridden.
    virtual HRESULT StartStreaming() { return S_OK; }
    virtual HRESULT StopStreaming() { return S_OK; }
    // A quality message from downstream; S_FALSE passes it on upstream.
    virtual HRESULT AlterQuality(Quality q) { return S_FALSE; }
    // Called when a pin's type is set (connection, or a type change).
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) { return S_OK; }
    virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin) { return S_OK; }
    virtual HRESULT BreakConnect(PIN_DIRECTION dir) { return S_OK; }
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin) { return S_OK; }

    // One input sample: InitializeOutputSample, Transform, then deliver (S_OK) or drop (S_FALSE:
    // the sample is counted skipped and EC_QUALITY_CHANGE is sent once per streaming run).
    virtual HRESULT Receive(IMediaSample* pSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // An output buffer with the input sample's times, sync point, discontinuity (also set after a
    // skipped sample), preroll and media times.
    virtual HRESULT InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample);

    // Stops the stream after an error: EC_ERRORABORT to the graph, and the input pin refuses
    // samples until the filter is stopped.
    void AbortPlayback(HRESULT hr);

    CCritSec* pStateLock() { return &m_csFilter; }

protected:
    friend class CTransformInputPin;
    friend class CTransformOutputPin;

    BOOL m_bEOSDelivered = FALSE;
    BOOL m_bSampleSkipped = FALSE;
    BOOL m_bQualityChanged = FALSE;
    CCritSec m_csFilter;
    CCritSec m_csReceive;
    CTransformInputPin* m_pInput = nullptr;   // owned
    CTransformOutputPin* m_pOutput = nullptr; // owned
};
