#include "net/capturequeue.h"

#include "core/log.h"
#include "net/pcaplistener.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

struct ListenerState {
    std::mutex mutex;
    CaptureListenerFactory factory = [] { return std::unique_ptr<ICaptureListener>(new CPcapListener); };
    std::unique_ptr<ICaptureListener> pListener;
    int nLiveQueues = 0;
    int nBulkHolds = 0;
};

ListenerState& Listener()
{
    static auto* pState = new ListenerState;
    return *pState;
}

// Appends all of from to to and leaves from empty; into an empty list the two trade places, so
// that neither side allocates in the steady state.
template <typename T>
void MoveAllInto(std::vector<T>& from, std::vector<T>& to)
{
    if (to.empty()) {
        to.swap(from);
        return;
    }
    std::move(from.begin(), from.end(), std::back_inserter(to));
    from.clear();
}

} // namespace

CaptureListenerFactory SetCaptureListenerFactory(CaptureListenerFactory factory)
{
    ListenerState& state = Listener();
    std::lock_guard<std::mutex> lock(state.mutex);
    return std::exchange(state.factory, std::move(factory));
}

ICaptureListener* GetCaptureListener()
{
    ListenerState& state = Listener();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.pListener.get();
}

CCaptureQueue::CCaptureQueue()
{
    ListenerState& state = Listener();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.nLiveQueues++ == 0 && state.factory) {
        state.pListener = state.factory();
        if (state.pListener) {
            state.pListener->SetBulk(state.nBulkHolds > 0);
            state.pListener->Start();
        }
    }
}

CCaptureQueue::~CCaptureQueue()
{
    std::unique_ptr<ICaptureListener> pLast;
    {
        ListenerState& state = Listener();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (--state.nLiveQueues == 0)
            pLast = std::move(state.pListener);
    }
    // Stopping waits for the capture threads; done outside the lock.
    pLast.reset();
}

CCaptureBulkHold::CCaptureBulkHold()
{
    ListenerState& state = Listener();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.nBulkHolds++ == 0 && state.pListener)
        state.pListener->SetBulk(true);
}

CCaptureBulkHold::~CCaptureBulkHold()
{
    ListenerState& state = Listener();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (--state.nBulkHolds == 0 && state.pListener)
        state.pListener->SetBulk(false);
}

void CCaptureQueue::Put(const BYTE* pPayload, DWORD nLen, DWORD dwIPNet, WORD usPortNet)
{
    PutQuiet(pPayload, nLen, dwIPNet, usPortNet);
    Publish();
    NotifyData();
}

void CCaptureQueue::PutQuiet(const BYTE* pPayload, DWORD nLen, DWORD dwIPNet, WORD usPortNet)
{
    const std::size_t nCharge = ChargeFor(nLen);
    if (m_nCount.load(std::memory_order_relaxed) >= RING_SIZE - 1 ||
        m_nBytes.load(std::memory_order_relaxed) + nCharge > MAX_QUEUED_BYTES) {
        DebugTrace(1, "Drop Packets, ReadPos=%d, write pos=%d, %x", m_nRead.load(std::memory_order_relaxed),
                   m_nWrite, dwIPNet);
        return;
    }
    Entry& entry = m_staged.emplace_back();
    if (!InBlock(nLen)) {
        // Written whole below: no need to clear it.
        entry.pData = std::make_unique_for_overwrite<BYTE[]>(std::max<DWORD>(nLen, 1));
    } else if (!m_putSpare.empty()) {
        entry.pData = std::move(m_putSpare.back());
        m_putSpare.pop_back();
        m_nSpare.fetch_sub(1, std::memory_order_relaxed);
    } else {
        entry.pData = std::make_unique_for_overwrite<BYTE[]>(BLOCK_BYTES);
    }
    if (nLen > 0)
        std::memcpy(entry.pData.get(), pPayload, nLen);
    entry.nLen = nLen;
    entry.dwIP = dwIPNet;
    entry.usPort = usPortNet;
    m_nCount.fetch_add(1, std::memory_order_relaxed);
    m_nBytes.fetch_add(nCharge, std::memory_order_relaxed);
    m_nWrite = (m_nWrite + 1) % RING_SIZE;
}

void CCaptureQueue::Publish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // The blocks the reader gave back go to the next batch.
    MoveAllInto(m_spare, m_putSpare);
    MoveAllInto(m_staged, m_published);
    if (m_staged.capacity() > MAX_SPARE_BLOCKS)
        std::vector<Entry>().swap(m_staged);
}

int CCaptureQueue::Get(BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort)
{
    if (m_nReadPos == m_reading.size()) {
        // Everything taken over was read: take what was handed over since, in one go.
        std::lock_guard<std::mutex> lock(m_mutex);
        MoveAllInto(m_readSpare, m_spare);
        if (m_published.empty())
            return 0;
        m_reading.clear();
        m_reading.swap(m_published);
        m_nReadPos = 0;
    }
    Entry& entry = m_reading[m_nReadPos++];
    const int nCopy = static_cast<int>(std::min<DWORD>(static_cast<DWORD>(std::max(nBufLen, 0)), entry.nLen));
    if (nCopy > 0)
        std::memcpy(pBuf, entry.pData.get(), nCopy);
    if (pdwIP != nullptr)
        *pdwIP = ntohl(entry.dwIP);
    if (pusPort != nullptr)
        *pusPort = ntohs(entry.usPort);
    if (InBlock(entry.nLen) && m_nSpare.load(std::memory_order_relaxed) < MAX_SPARE_BLOCKS) {
        m_nSpare.fetch_add(1, std::memory_order_relaxed);
        m_readSpare.push_back(std::move(entry.pData));
    } else {
        entry.pData.reset();
    }
    m_nBytes.fetch_sub(ChargeFor(entry.nLen), std::memory_order_relaxed);
    m_nCount.fetch_sub(1, std::memory_order_relaxed);
    m_nRead.store((m_nRead.load(std::memory_order_relaxed) + 1) % RING_SIZE, std::memory_order_relaxed);
    if (m_nReadPos == m_reading.size()) {
        m_reading.clear();
        m_nReadPos = 0;
        // A burst's list is not kept.
        if (m_reading.capacity() > MAX_SPARE_BLOCKS)
            std::vector<Entry>().swap(m_reading);
    }
    return nCopy;
}

int CCaptureQueue::GetQueuedCount() const
{
    return m_nCount.load(std::memory_order_relaxed);
}
