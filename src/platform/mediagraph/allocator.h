// Samples and the memory allocator that lends them.
//
// A sample belongs to its allocator: when its last reference goes, it returns to the
// allocator's free list instead of being freed, and a GetBuffer waiting for it wakes up.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/mediagraph/interfaces.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample {
public:
    CMediaSample(const char* pName, CBaseAllocator* pAllocator, HRESULT* phr, BYTE* pBuffer = nullptr,
                 long length = 0);
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;
    virtual ~CMediaSample();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT SetPointer(BYTE* pBuffer, long cBytes);
    HRESULT GetPointer(BYTE** ppBuffer) override;
    long GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL bIsSyncPoint) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL bIsPreroll) override;
    long GetActualDataLength() override;
    HRESULT SetActualDataLength(long lLen) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL bDiscontinuity) override;
    HRESULT GetMediaTime(std::int64_t* pTimeStart, std::int64_t* pTimeEnd) override;
    HRESULT SetMediaTime(std::int64_t* pTimeStart, std::int64_t* pTimeEnd) override;

protected:
    friend class CBaseAllocator;

    // Clears the per-use properties when the sample goes back to its allocator.
    void ResetProperties();

    enum : DWORD {
        Sample_SyncPoint = 0x01,
        Sample_Preroll = 0x02,
        Sample_Discontinuity = 0x04,
        Sample_TimeValid = 0x10,
        Sample_StopValid = 0x100,
        Sample_MediaTimeValid = 0x20,
        Sample_TypeChanged = 0x40,
    };

    DWORD m_dwFlags = 0;
    BYTE* m_pBuffer;
    long m_lActual = 0;
    long m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    std::int64_t m_MediaStart = 0;
    std::int64_t m_MediaEnd = 0;
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
    std::atomic<long> m_cRef{0};
};

// Counts buffers out and in; subclasses own the memory. Commit makes GetBuffer work; Decommit
// makes it fail (also for callers already waiting) and frees the memory once every sample is back.
class CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(const char* pName, IUnknown* pUnk, HRESULT* phr);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                      DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample* pBuffer) override;

    // Samples lent out and not yet back.
    long OutstandingBuffers();
    // The next sample GetBuffer hands out carries this type (a downstream filter's request for a
    // new format). Null cancels.
    void SetNextSampleMediaType(const AM_MEDIA_TYPE* pmt);

protected:
    // Allocates cBuffers samples of cbBuffer (+ prefix) bytes into m_lFree.
    virtual HRESULT Alloc() = 0;
    // Frees all samples and their memory; called with every sample back.
    virtual void Free() = 0;

    std::mutex m_mutex;
    std::condition_variable m_cvFree;
    std::vector<CMediaSample*> m_lFree;
    long m_lAllocated = 0; // samples existing
    long m_lCount = 0;     // cBuffers granted
    long m_lSize = 0;
    long m_lAlignment = 1;
    long m_lPrefix = 0;
    bool m_bChanged = false; // properties changed since the last Alloc
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;
    bool m_bHoldsRef = false; // the reference kept while committed or lending samples
    std::unique_ptr<CMediaType> m_pNextType;
};

// Buffers from the heap: one block per sample, aligned as requested.
class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(const char* pName, IUnknown* pUnk, HRESULT* phr);
    ~CMemAllocator() override;

    static CUnknown* CreateInstance(IUnknown* pUnk, HRESULT* phr);
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

protected:
    HRESULT Alloc() override;
    void Free() override;

private:
    std::vector<void*> m_vBlocks;
};
