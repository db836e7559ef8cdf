#include "platform/mediagraph/pushsource.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "platform/mediagraph/basefilter.h"

CPushSourcePin::CPushSourcePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                               LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pFilter, pLock, phr, pName)
{
}

CPushSourcePin::~CPushSourcePin()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

HRESULT CPushSourcePin::Push(const BYTE* pData, long cbData, BOOL bSyncPoint, BOOL bDiscontinuity,
                             const AM_MEDIA_TYPE* pmtChange, const REFERENCE_TIME* ptStart)
{
    if (cbData < 0 || (pData == nullptr && cbData > 0))
        return E_INVALIDARG;
    Item item;
    try {
        item.data.assign(pData, pData + cbData);
        if (pmtChange != nullptr)
            item.pType = std::make_unique<CMediaType>(*pmtChange);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    item.bSyncPoint = bSyncPoint;
    item.bDiscontinuity = bDiscontinuity;
    if (ptStart != nullptr) {
        item.bTime = true;
        item.tStart = *ptStart;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= m_nMaxQueue) {
            m_bDropped = true;
            return S_FALSE;
        }
        if (bSyncPoint && m_nCatchUp != 0 && m_queue.size() >= m_nCatchUp)
            SkipToThis(item);
        // The sample after a dropped one does not follow on from its predecessor.
        if (m_bDropped) {
            item.bDiscontinuity = TRUE;
            m_bDropped = false;
        }
        m_queue.push_back(std::move(item));
    }
    m_cv.notify_all();
    return S_OK;
}

HRESULT CPushSourcePin::PushEndOfStream()
{
    {
        std::lock_guard lock(m_mutex);
        Item item;
        item.bEndOfStream = TRUE;
        m_queue.push_back(std::move(item));
    }
    m_cv.notify_all();
    return S_OK;
}

std::size_t CPushSourcePin::QueueLength()
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void CPushSourcePin::SkipToThis(Item& item)
{
    std::deque<Item> kept;
    std::unique_ptr<CMediaType> pNewestType;
    for (Item& queued : m_queue) {
        if (queued.bEndOfStream) {
            kept.push_back(std::move(queued));
            continue;
        }
        if (queued.pType)
            pNewestType = std::move(queued.pType);
        ++m_nSkipped;
    }
    m_queue.swap(kept);
    if (!item.pType)
        item.pType = std::move(pNewestType);
    item.bDiscontinuity = TRUE;
}

void CPushSourcePin::SetCatchUp(std::size_t nBehind)
{
    std::lock_guard lock(m_mutex);
    m_nCatchUp = nBehind;
}

std::size_t CPushSourcePin::TakeSkipped()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_nSkipped, 0);
}

void CPushSourcePin::SetMaxQueue(std::size_t nMax)
{
    std::lock_guard lock(m_mutex);
    m_nMaxQueue = nMax;
}

void CPushSourcePin::ClearQueue()
{
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_bDropped = false;
}

HRESULT CPushSourcePin::Active()
{
    const HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    // A thread left from a run that ended on a delivery error has returned already.
    if (m_thread.joinable())
        m_thread.join();
    {
        std::lock_guard lock(m_mutex);
        m_bStop = false;
    }
    try {
        m_thread = std::thread(&CPushSourcePin::ThreadProc, this);
    } catch (const std::system_error&) {
        CBaseOutputPin::Inactive();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CPushSourcePin::Inactive()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    // Decommitting wakes the thread if it waits for a buffer.
    const HRESULT hr = CBaseOutputPin::Inactive();
    if (m_thread.joinable())
        m_thread.join();
    return hr;
}

void CPushSourcePin::SetOfferedType(const CMediaType& mt)
{
    CAutoLock lock(m_pLock);
    m_mtOffered = mt;
}

HRESULT CPushSourcePin::CheckMediaType(const CMediaType* pmt)
{
    if (!m_mtOffered.IsValid())
        return E_UNEXPECTED;
    return *pmt == m_mtOffered ? S_OK : S_FALSE;
}

HRESULT CPushSourcePin::GetMediaType(int iPosition, CMediaType* pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0 || !m_mtOffered.IsValid())
        return VFW_S_NO_MORE_ITEMS;
    *pMediaType = m_mtOffered;
    return S_OK;
}

HRESULT CPushSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest)
{
    ALLOCATOR_PROPERTIES request = *pRequest;
    request.cBuffers = std::max(request.cBuffers, 4L);
    request.cbBuffer = std::max(request.cbBuffer, m_cbBuffer);
    request.cbAlign = std::max(request.cbAlign, 1L);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cBuffers >= 1 && actual.cbBuffer >= m_cbBuffer ? S_OK : E_FAIL;
}

void CPushSourcePin::OnDeliveryError(HRESULT hr)
{
    m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
}

void CPushSourcePin::ThreadProc()
{
    bool bDiscontinuity = false;
    for (;;) {
        Item item;
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
            if (m_bStop)
                return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (item.bEndOfStream) {
            DeliverEndOfStream();
            continue;
        }
        IMediaSample* pSample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            // Decommitted: the pin is being stopped. Keep the sample for the next run.
            std::lock_guard lock(m_mutex);
            m_queue.push_front(std::move(item));
            return;
        }
        BYTE* pBuffer = nullptr;
        pSample->GetPointer(&pBuffer);
        if (static_cast<long>(item.data.size()) > pSample->GetSize()) {
            // Larger than any buffer agreed: dropped, and the stream goes on after a gap.
            pSample->Release();
            bDiscontinuity = true;
            continue;
        }
        if (!item.data.empty())
            std::memcpy(pBuffer, item.data.data(), item.data.size());
        pSample->SetActualDataLength(static_cast<long>(item.data.size()));
        pSample->SetSyncPoint(item.bSyncPoint);
        pSample->SetDiscontinuity(item.bDiscontinuity || bDiscontinuity);
        if (item.pType)
            pSample->SetMediaType(item.pType.get());
        if (item.bTime)
            pSample->SetTime(&item.tStart, nullptr);
        bDiscontinuity = false;
        const auto start = std::chrono::steady_clock::now();
        hr = Deliver(pSample);
        m_qwDeliverNs += static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                .count());
        pSample->Release();
        // Downstream stopping before this pin (the graph stops downstream first) is no error.
        if (FAILED(hr) && hr != VFW_E_WRONG_STATE && hr != VFW_E_NOT_COMMITTED) {
            OnDeliveryError(hr);
            return;
        }
    }
}
