#include "platform/mediagraph/allocator.h"

#include <cstdlib>
#include <utility>

#include "platform/com/comapi.h"

CMediaSample::CMediaSample(const char*, CBaseAllocator* pAllocator, HRESULT* phr, BYTE* pBuffer, long length)
    : m_pBuffer(pBuffer), m_cbBuffer(length), m_pAllocator(pAllocator)
{
    if (length < 0 && phr != nullptr)
        *phr = VFW_E_BUFFER_OVERFLOW;
}

CMediaSample::~CMediaSample()
{
    DeleteMediaType(m_pMediaType);
}

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMediaSample)
        return GetInterface(static_cast<IMediaSample*>(this), ppv);
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef()
{
    return static_cast<ULONG>(++m_cRef);
}

ULONG CMediaSample::Release()
{
    const long cRef = --m_cRef;
    if (cRef == 0) {
        // Back to the allocator's free list; the properties of this use are forgotten.
        ResetProperties();
        m_pAllocator->ReleaseBuffer(this);
    }
    return static_cast<ULONG>(cRef);
}

void CMediaSample::ResetProperties()
{
    m_dwFlags = 0;
    m_lActual = m_cbBuffer;
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
}

HRESULT CMediaSample::SetPointer(BYTE* pBuffer, long cBytes)
{
    if (cBytes < 0)
        return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = pBuffer;
    m_cbBuffer = cBytes;
    m_lActual = cBytes;
    return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** ppBuffer)
{
    if (ppBuffer == nullptr)
        return E_POINTER;
    *ppBuffer = m_pBuffer;
    return S_OK;
}

long CMediaSample::GetSize()
{
    return m_cbBuffer;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    if (pTimeStart == nullptr || pTimeEnd == nullptr)
        return E_POINTER;
    if ((m_dwFlags & Sample_StopValid) == 0) {
        if ((m_dwFlags & Sample_TimeValid) == 0)
            return VFW_E_SAMPLE_TIME_NOT_SET;
        *pTimeStart = m_Start;
        *pTimeEnd = m_Start + 1; // only a start: the end is reported just after it
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeStart = m_Start;
    *pTimeEnd = m_End;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    if (pTimeStart == nullptr) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
        return S_OK;
    }
    m_Start = *pTimeStart;
    m_dwFlags |= Sample_TimeValid;
    if (pTimeEnd != nullptr) {
        m_End = *pTimeEnd;
        m_dwFlags |= Sample_StopValid;
    } else {
        m_dwFlags &= ~Sample_StopValid;
    }
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint()
{
    return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetSyncPoint(BOOL bIsSyncPoint)
{
    m_dwFlags = bIsSyncPoint ? (m_dwFlags | Sample_SyncPoint) : (m_dwFlags & ~Sample_SyncPoint);
    return S_OK;
}

HRESULT CMediaSample::IsPreroll()
{
    return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetPreroll(BOOL bIsPreroll)
{
    m_dwFlags = bIsPreroll ? (m_dwFlags | Sample_Preroll) : (m_dwFlags & ~Sample_Preroll);
    return S_OK;
}

long CMediaSample::GetActualDataLength()
{
    return m_lActual;
}

HRESULT CMediaSample::SetActualDataLength(long lLen)
{
    if (lLen < 0 || lLen > m_cbBuffer)
        return VFW_E_BUFFER_OVERFLOW;
    m_lActual = lLen;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType)
{
    if (ppMediaType == nullptr)
        return E_POINTER;
    *ppMediaType = nullptr;
    if ((m_dwFlags & Sample_TypeChanged) == 0 || m_pMediaType == nullptr)
        return S_FALSE;
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType)
{
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    if (pMediaType == nullptr) {
        m_dwFlags &= ~Sample_TypeChanged;
        return S_OK;
    }
    m_pMediaType = CreateMediaType(pMediaType);
    if (m_pMediaType == nullptr) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return S_OK;
}

HRESULT CMediaSample::IsDiscontinuity()
{
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL bDiscontinuity)
{
    m_dwFlags = bDiscontinuity ? (m_dwFlags | Sample_Discontinuity) : (m_dwFlags & ~Sample_Discontinuity);
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(std::int64_t* pTimeStart, std::int64_t* pTimeEnd)
{
    if (pTimeStart == nullptr || pTimeEnd == nullptr)
        return E_POINTER;
    if ((m_dwFlags & Sample_MediaTimeValid) == 0)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_MediaStart;
    *pTimeEnd = m_MediaEnd;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(std::int64_t* pTimeStart, std::int64_t* pTimeEnd)
{
    if (pTimeStart == nullptr) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return S_OK;
    }
    if (pTimeEnd == nullptr)
        return E_POINTER;
    m_MediaStart = *pTimeStart;
    m_MediaEnd = *pTimeEnd;
    m_dwFlags |= Sample_MediaTimeValid;
    return S_OK;
}

CBaseAllocator::CBaseAllocator(const char* pName, IUnknown* pUnk, HRESULT*) : CUnknown(pName, pUnk) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IMemAllocator)
        return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual)
{
    if (pRequest == nullptr || pActual == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (m_bCommitted)
        return VFW_E_ALREADY_COMMITTED;
    // Samples of the old size still out: they would come back to a list of another size.
    if (m_lAllocated != static_cast<long>(m_lFree.size()))
        return VFW_E_BUFFERS_OUTSTANDING;
    if (pRequest->cBuffers <= 0 || pRequest->cbBuffer <= 0 || pRequest->cbPrefix < 0 || pRequest->cbAlign < 0)
        return E_INVALIDARG;
    m_lCount = pRequest->cBuffers;
    m_lSize = pRequest->cbBuffer;
    m_lAlignment = pRequest->cbAlign == 0 ? 1 : pRequest->cbAlign;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = true;
    *pActual = ALLOCATOR_PROPERTIES{m_lCount, m_lSize, m_lAlignment, m_lPrefix};
    return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps)
{
    if (pProps == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pProps = ALLOCATOR_PROPERTIES{m_lCount, m_lSize, m_lAlignment, m_lPrefix};
    return S_OK;
}

HRESULT CBaseAllocator::Commit()
{
    std::lock_guard lock(m_mutex);
    if (m_bCommitted)
        return S_OK;
    if (m_lCount <= 0 || m_lSize <= 0)
        return VFW_E_SIZENOTSET;
    m_bDecommitInProgress = false;
    // Memory of an earlier commit is reused unless the properties changed.
    if (m_bChanged || m_lAllocated == 0) {
        if (m_lAllocated != static_cast<long>(m_lFree.size()))
            return VFW_E_BUFFERS_OUTSTANDING;
        Free();
        const HRESULT hr = Alloc();
        if (FAILED(hr))
            return hr;
        m_bChanged = false;
    }
    m_bCommitted = true;
    // The allocator lives at least as long as it is committed or lends samples; a commit during
    // an unfinished decommit keeps the reference it still holds.
    if (!m_bHoldsRef) {
        m_bHoldsRef = true;
        NonDelegatingAddRef();
    }
    return S_OK;
}

HRESULT CBaseAllocator::Decommit()
{
    bool bRelease = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bCommitted)
            return S_OK;
        m_bCommitted = false;
        m_bDecommitInProgress = m_lAllocated != static_cast<long>(m_lFree.size());
        if (!m_bDecommitInProgress) {
            Free();
            bRelease = std::exchange(m_bHoldsRef, false);
        }
        m_cvFree.notify_all();
    }
    if (bRelease)
        NonDelegatingRelease();
    return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                  REFERENCE_TIME* pEndTime, DWORD dwFlags)
{
    if (ppBuffer == nullptr)
        return E_POINTER;
    *ppBuffer = nullptr;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_bCommitted)
            return VFW_E_NOT_COMMITTED;
        if (!m_lFree.empty())
            break;
        if (dwFlags & AM_GBF_NOWAIT)
            return VFW_E_TIMEOUT;
        m_cvFree.wait(lock);
    }
    CMediaSample* pSample = m_lFree.back();
    m_lFree.pop_back();
    pSample->m_lActual = pSample->m_cbBuffer;
    if (m_pNextType) {
        pSample->SetMediaType(m_pNextType.get());
        m_pNextType.reset();
    }
    lock.unlock();
    if (pStartTime != nullptr)
        pSample->SetTime(pStartTime, pEndTime);
    pSample->AddRef();
    *ppBuffer = pSample;
    return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* pBuffer)
{
    bool bRelease = false;
    {
        std::lock_guard lock(m_mutex);
        m_lFree.push_back(static_cast<CMediaSample*>(pBuffer));
        if (m_bDecommitInProgress && m_lAllocated == static_cast<long>(m_lFree.size())) {
            // The last sample of a decommitted allocator is back.
            Free();
            m_bDecommitInProgress = false;
            bRelease = std::exchange(m_bHoldsRef, false);
        }
        m_cvFree.notify_one();
    }
    if (bRelease)
        NonDelegatingRelease();
    return S_OK;
}

long CBaseAllocator::OutstandingBuffers()
{
    std::lock_guard lock(m_mutex);
    return m_lAllocated - static_cast<long>(m_lFree.size());
}

void CBaseAllocator::SetNextSampleMediaType(const AM_MEDIA_TYPE* pmt)
{
    std::lock_guard lock(m_mutex);
    if (pmt == nullptr)
        m_pNextType.reset();
    else
        m_pNextType = std::make_unique<CMediaType>(*pmt);
}

CMemAllocator::CMemAllocator(const char* pName, IUnknown* pUnk, HRESULT* phr)
    : CBaseAllocator(pName, pUnk, phr)
{
}

CMemAllocator::~CMemAllocator()
{
    std::lock_guard lock(m_mutex);
    CMemAllocator::Free();
}

CUnknown* CMemAllocator::CreateInstance(IUnknown* pUnk, HRESULT* phr)
{
    return new (std::nothrow) CMemAllocator("Memory allocator", pUnk, phr);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual)
{
    // The alignment must be a power of two.
    if (pRequest != nullptr && pRequest->cbAlign > 0 && (pRequest->cbAlign & (pRequest->cbAlign - 1)) != 0)
        return VFW_E_BADALIGN;
    return CBaseAllocator::SetProperties(pRequest, pActual);
}

HRESULT CMemAllocator::Alloc()
{
    // Each buffer: prefix, then data starting aligned.
    const long cbAlign = m_lAlignment;
    for (long i = 0; i < m_lCount; ++i) {
        void* pBlock = nullptr;
        const std::size_t cb = static_cast<std::size_t>(m_lSize) + static_cast<std::size_t>(m_lPrefix) +
                               static_cast<std::size_t>(cbAlign);
        pBlock = std::malloc(cb);
        if (pBlock == nullptr) {
            Free();
            return E_OUTOFMEMORY;
        }
        m_vBlocks.push_back(pBlock);
        BYTE* pData = static_cast<BYTE*>(pBlock) + m_lPrefix;
        const std::uintptr_t uMisalign =
            reinterpret_cast<std::uintptr_t>(pData) % static_cast<std::uintptr_t>(cbAlign);
        if (uMisalign != 0)
            pData += cbAlign - static_cast<long>(uMisalign);
        HRESULT hr = S_OK;
        auto* pSample = new (std::nothrow) CMediaSample("Memory sample", this, &hr, pData, m_lSize);
        if (pSample == nullptr) {
            Free();
            return E_OUTOFMEMORY;
        }
        m_lFree.push_back(pSample);
        ++m_lAllocated;
    }
    return S_OK;
}

void CMemAllocator::Free()
{
    for (CMediaSample* pSample : m_lFree)
        delete pSample;
    m_lFree.clear();
    m_lAllocated = 0;
    for (void* pBlock : m_vBlocks)
        std::free(pBlock);
    m_vBlocks.clear();
}
