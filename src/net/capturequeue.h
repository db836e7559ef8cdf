// Capture queue: the ring through which a capture thread hands UDP payloads to one socket,
// and the process-wide capture listener that fills it.
#pragma once

#include "platform/wintypes.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CCaptureQueue;

// The capture listener as the sockets see it.
class ICaptureListener {
public:
    virtual ~ICaptureListener() = default;
    // 1 when at least one adapter listens (or already started), else 0.
    virtual BOOL Start() = 0;
    // Adds (bAdd) or removes the queue for dwLocalIP:usPort; nothing when no adapter has
    // dwLocalIP as its first address.
    virtual void Register(CCaptureQueue* pQueue, DWORD dwLocalIP, WORD usPort, BOOL bAdd) = 0;
    // Whether a bulk transfer (a download) runs, so that the listener may size its buffers for
    // it; told before Start and on every change.
    virtual void SetBulk(bool bBulk) { (void)bBulk; }
};

using CaptureListenerFactory = std::function<std::unique_ptr<ICaptureListener>()>;

// The listener is made by the first live capture queue and destroyed with the last one. The
// factory decides what is made (packet capture by default; an empty factory means none).
// Returns the previous factory; meant to be set while no queue exists.
CaptureListenerFactory SetCaptureListenerFactory(CaptureListenerFactory factory);
// The current listener, or nullptr. GUI thread.
ICaptureListener* GetCaptureListener();

// While one exists, the capture listener is told that a bulk transfer runs (see SetBulk). GUI
// thread.
class CCaptureBulkHold {
public:
    CCaptureBulkHold();
    ~CCaptureBulkHold();
    CCaptureBulkHold(const CCaptureBulkHold&) = delete;
    CCaptureBulkHold& operator=(const CCaptureBulkHold&) = delete;
};

class CCaptureQueue {
public:
    // Every camera's answer to one search or query pass can arrive while the GUI thread is
    // busy, so the queue is deep; it is bound by entries and by bytes, whichever comes first,
    // so that a stalled GUI thread (or a flooding camera) costs at most MAX_QUEUED_BYTES per
    // socket. The byte bound matches the capture buffer: what the kernel held for a download's
    // window must fit here too. An entry is charged the memory its payload holds (a whole block
    // for a block) and ENTRY_OVERHEAD_BYTES for its bookkeeping.
    static constexpr int RING_SIZE = 32768; // holds RING_SIZE - 1 entries
    static constexpr std::size_t MAX_QUEUED_BYTES = 32u << 20;
    static constexpr std::size_t ENTRY_OVERHEAD_BYTES = 64;
    // Payloads longer than SMALL_PAYLOAD_BYTES and up to BLOCK_BYTES (the capture listener passes
    // nothing longer) are kept in recycled blocks, no allocation per download segment. A short
    // one gets an allocation of its own size: a thousand cameras' replies queued while the GUI
    // thread is busy took a whole block each, 75 MB at the peak.
    static constexpr DWORD BLOCK_BYTES = 1500;
    static constexpr DWORD SMALL_PAYLOAD_BYTES = BLOCK_BYTES / 2;
    // Blocks kept for reuse once read: a download window of segments. Past these, blocks read
    // are freed, so a burst does not stay in the queue's memory. The lists of entries keep at
    // most as many places once empty.
    static constexpr std::size_t MAX_SPARE_BLOCKS = 1024;

    static bool InBlock(DWORD nLen) { return nLen > SMALL_PAYLOAD_BYTES && nLen <= BLOCK_BYTES; }
    // The bytes an entry with a payload of nLen is charged.
    static std::size_t ChargeFor(DWORD nLen)
    {
        return (InBlock(nLen) ? BLOCK_BYTES : nLen) + ENTRY_OVERHEAD_BYTES;
    }

    CCaptureQueue();
    virtual ~CCaptureQueue();
    CCaptureQueue(const CCaptureQueue&) = delete;
    CCaptureQueue& operator=(const CCaptureQueue&) = delete;

    // Tells the owner that data was put (also after a drop). Capture thread.
    virtual void NotifyData() = 0;

    // The putting side is one thread at a time (the capture listener's lock sees to it).
    // Put copies the payload in, hands it over and notifies; address and port as on the wire. A
    // full queue (entries or bytes) keeps nothing and traces the drop.
    void Put(const BYTE* pPayload, DWORD nLen, DWORD dwIPNet, WORD usPortNet);
    // Copies the payload in without handing it over: a capture thread gathers a batch, then
    // hands it over with one Publish and notifies once, instead of a lock and a wake-up each.
    void PutQuiet(const BYTE* pPayload, DWORD nLen, DWORD dwIPNet, WORD usPortNet);
    void Publish();
    // The reading side, one thread (the GUI thread): the oldest entry, cut to nBufLen; address
    // and port in host order. 0 when empty.
    int Get(BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort);
    // Entries held, handed over or not. Any thread.
    int GetQueuedCount() const;

private:
    struct Entry {
        std::unique_ptr<BYTE[]> pData;
        DWORD nLen = 0;
        DWORD dwIP = 0;
        WORD usPort = 0;
    };
    using Block = std::unique_ptr<BYTE[]>;

    // What each side owns alone: the putter's batch and spare blocks, the reader's entries taken
    // over and blocks read. Both meet under m_mutex once a batch.
    std::vector<Entry> m_staged;
    std::vector<Block> m_putSpare;
    std::vector<Entry> m_reading;
    std::size_t m_nReadPos = 0;
    std::vector<Block> m_readSpare;

    mutable std::mutex m_mutex;
    std::vector<Entry> m_published;
    std::vector<Block> m_spare;

    // Counted over both sides: what is held (entries, bytes charged) and blocks kept for reuse.
    // The putter only adds to the first two and the reader only takes away, so the putter's
    // bound check errs towards a drop, never past the bound.
    std::atomic<int> m_nCount{0};
    std::atomic<std::size_t> m_nBytes{0};
    std::atomic<std::size_t> m_nSpare{0};
    // Ring positions (modulo RING_SIZE), kept for the drop trace.
    std::atomic<int> m_nRead{0};
    int m_nWrite = 0;
};
