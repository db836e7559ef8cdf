#include "net/capturequeue.h"

#include "core/log.h"
#include "net/pcaplistener.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
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
    NotifyData();
}

void CCaptureQueue::PutQuiet(const BYTE* pPayload, DWORD nLen, DWORD dwIPNet, WORD usPortNet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::size_t nCharge = ChargeFor(nLen);
    if (m_entries.size() >= static_cast<size_t>(RING_SIZE - 1) || m_nBytes + nCharge > MAX_QUEUED_BYTES) {
        DebugTrace(1, "Drop Packets, ReadPos=%d, write pos=%d, %x", m_nRead, m_nWrite, dwIPNet);
        return;
    }
    Entry& entry = m_entries.emplace_back();
    if (!InBlock(nLen)) {
        // Written whole below: no need to clear it.
        entry.pData = std::make_unique_for_overwrite<BYTE[]>(std::max<DWORD>(nLen, 1));
    } else if (!m_spare.empty()) {
        entry.pData = std::move(m_spare.back());
        m_spare.pop_back();
    } else {
        entry.pData = std::make_unique_for_overwrite<BYTE[]>(BLOCK_BYTES);
    }
    if (nLen > 0)
        std::memcpy(entry.pData.get(), pPayload, nLen);
    entry.nLen = nLen;
    entry.dwIP = dwIPNet;
    entry.usPort = usPortNet;
    m_nBytes += nCharge;
    m_nWrite = (m_nWrite + 1) % RING_SIZE;
}

int CCaptureQueue::Get(BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.empty())
        return 0;
    const Entry& entry = m_entries.front();
    const int nCopy = static_cast<int>(std::min<DWORD>(static_cast<DWORD>(std::max(nBufLen, 0)), entry.nLen));
    if (nCopy > 0)
        std::memcpy(pBuf, entry.pData.get(), nCopy);
    if (pdwIP != nullptr)
        *pdwIP = ntohl(entry.dwIP);
    if (pusPort != nullptr)
        *pusPort = ntohs(entry.usPort);
    m_nBytes -= ChargeFor(entry.nLen);
    if (InBlock(entry.nLen) && m_spare.size() < MAX_SPARE_BLOCKS)
        m_spare.push_back(std::move(m_entries.front().pData));
    m_entries.pop_front();
    m_nRead = (m_nRead + 1) % RING_SIZE;
    return nCopy;
}

int CCaptureQueue::GetQueuedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_entries.size());
}
