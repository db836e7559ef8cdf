// Capture queue: the ring through which a capture thread hands UDP payloads to one socket,
// and the process-wide capture listener that fills it.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <deque>
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
    // are freed, so a burst does not stay in the queue's memory.
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

    // Capture thread: copies the payload in and notifies; address and port as on the wire. A
    // full queue (entries or bytes) keeps nothing and traces the drop.
    void Put(const BYTE* pPayload, DWORD nLen, DWORD dwIPNet, WORD usPortNet);
    // The same without the notice: a capture thread that puts a batch notifies once after it.
    void PutQuiet(const BYTE* pPayload, DWORD nLen, DWORD dwIPNet, WORD usPortNet);
    // GUI thread: the oldest entry, cut to nBufLen; address and port in host order. 0 when
    // empty.
    int Get(BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort);
    int GetQueuedCount() const;

private:
    struct Entry {
        std::unique_ptr<BYTE[]> pData;
        DWORD nLen = 0;
        DWORD dwIP = 0;
        WORD usPort = 0;
    };

    mutable std::mutex m_mutex;
    std::deque<Entry> m_entries;
    // Blocks of BLOCK_BYTES read and free for the next put.
    std::vector<std::unique_ptr<BYTE[]>> m_spare;
    std::size_t m_nBytes = 0; // bytes charged for what is held
    // Ring positions (modulo RING_SIZE), kept for the drop trace.
    int m_nRead = 0;
    int m_nWrite = 0;
};
