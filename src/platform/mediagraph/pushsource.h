// An output pin for sources that are fed from the application's thread: Push copies the data
// into a queue and returns at once; the pin's own streaming thread, running while the filter is
// paused or running, takes a buffer from the allocator, fills it and delivers it downstream.
// So everything downstream (decoding, rendering) runs on the streaming thread, never on the
// caller's.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mediagraph/pins.h"

class CPushSourcePin : public CBaseOutputPin {
public:
    CPushSourcePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName);
    ~CPushSourcePin() override;

    // Queues one sample. A type, when given, is attached to the sample (a format change
    // downstream will follow). S_FALSE when the queue is full (the sample is dropped, and the
    // next one is marked a discontinuity), E_OUTOFMEMORY when the copy cannot be made. A start
    // time, when given, goes on the sample.
    HRESULT Push(const BYTE* pData, long cbData, BOOL bSyncPoint, BOOL bDiscontinuity = FALSE,
                 const AM_MEDIA_TYPE* pmtChange = nullptr, const REFERENCE_TIME* ptStart = nullptr);
    // Queues an end of stream: delivered after the samples before it.
    HRESULT PushEndOfStream();
    // Samples waiting; the limit (default 64) counts samples, not bytes.
    std::size_t QueueLength();
    void SetMaxQueue(std::size_t nMax);
    // Live sources: a sync point that finds nBehind samples or more still queued drops them and
    // goes next, marked a discontinuity, so that a decoder that fell behind starts again from
    // the newest key frame instead of showing ever older pictures. A type change among the
    // dropped ones goes on with it. 0 (the default): never.
    void SetCatchUp(std::size_t nBehind);
    // Samples dropped that way since the last call.
    std::size_t TakeSkipped();
    // Drops what is queued (a new stream starts).
    void ClearQueue();

    HRESULT Active() override;   // starts the streaming thread
    HRESULT Inactive() override; // stops it; what is still queued stays for the next run

    // The type offered for connection; sources set it before connecting.
    void SetOfferedType(const CMediaType& mt);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // At least one buffer of the largest size set by SetBufferSize (default 1 MB), 4 buffers.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    void SetBufferSize(long cbBuffer) { m_cbBuffer = cbBuffer; }
    // Time spent in Deliver, that is downstream's handling of the samples on this thread.
    std::uint64_t DeliveryNanoseconds() const { return m_qwDeliverNs.load(); }

protected:
    struct Item {
        std::vector<BYTE> data;
        BOOL bSyncPoint = FALSE;
        BOOL bDiscontinuity = FALSE;
        BOOL bEndOfStream = FALSE;
        bool bTime = false;
        REFERENCE_TIME tStart = 0;
        std::unique_ptr<CMediaType> pType;
    };
    void ThreadProc();
    // Drops every queued sample but ends of stream for item, which goes next; m_mutex held.
    void SkipToThis(Item& item);
    // A delivery that failed downstream: the stream is aborted (EC_ERRORABORT) and the thread ends.
    virtual void OnDeliveryError(HRESULT hr);

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Item> m_queue;
    std::size_t m_nMaxQueue = 64;
    bool m_bStop = false;
    bool m_bDropped = false;
    std::size_t m_nCatchUp = 0;
    std::size_t m_nSkipped = 0;
    std::thread m_thread;
    CMediaType m_mtOffered;
    long m_cbBuffer = 1024L * 1024;
    std::atomic<std::uint64_t> m_qwDeliverNs{0};
};
