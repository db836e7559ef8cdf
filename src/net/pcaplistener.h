// Packet capture listener: one capture thread per Ethernet adapter hands the payloads of UDP
// packets addressed to the program's ports to the sockets' capture queues, whatever their
// destination address and before the host's filtering.
#pragma once

#include "net/capturequeue.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct pcap;
struct pcap_pkthdr;

class CPcapListener;

struct AdapterCapture {
    CPcapListener* pListener = nullptr;
    std::thread hThread;
    DWORD dwIP = 0; // the adapter's first IPv4 address, host order
    std::map<WORD, CCaptureQueue*> mapPorts;
    pcap* pHandle = nullptr;
    // What opening the adapter again with another ring takes; empty for an adapter fed by hand.
    std::string strDevice;
    DWORD dwNetmaskNet = 0;
    // Opens the handle with the other ring, which the capture thread takes from pPending. The
    // kernel takes milliseconds to set a ring up: the capture thread keeps reading meanwhile.
    std::thread hOpener;
    pcap* pPending = nullptr;
    // Held for pHandle and pPending, to swap them and to break the loop from another thread.
    std::mutex mutexHandle;
    std::atomic<bool> bStop{false};
    // Capture times (ns) on the capture thread: the last packet handed over, and after a reopen
    // the time up to which the new ring's packets are copies of what the old one handed over.
    long long nLastStampNs = 0;
    long long nSkipUpToNs = -1;
    // Queues (by port) that got data in the current dispatch; handed over and notified once at
    // its end. The listener's lock is held from the dispatch's first put to then, so that no
    // queue can be unregistered (and freed) with a batch of its own still in it.
    std::vector<std::pair<WORD, CCaptureQueue*>> vecPut;
    std::unique_lock<std::mutex> lockBatch;

    // Set by the capture thread when its loop has ended, for the bounded wait at stop.
    std::mutex mutexDone;
    std::condition_variable condDone;
    bool bDone = false;
};

// Why packet capture is off when no adapter could be opened for want of the permission
// (CAP_NET_RAW), with what that costs; nullptr while capture works or was not tried. The client
// then works from its sockets alone.
const char* CaptureOffReason();

class CPcapListener : public ICaptureListener {
public:
    static constexpr DWORD MAX_UDP_LEN = 1500;
    // Every datagram the handler takes whole: Ethernet, the longest IPv4 header, UDP up to
    // MAX_UDP_LEN.
    static constexpr int SNAP_LEN = 1600;
    // The kernel's ring for one adapter. It is mapped whole into the process, so it counts in
    // the client's memory. A camera sending a download keeps a window of datagrams in flight,
    // which a 2 MiB ring overflowed while a burst was being handed on: while a download runs the
    // ring is 8 MiB (the adapter is opened again each way), which holds several windows; a
    // download was no faster with 32. Otherwise 4 MiB: at 2 MiB a thousand cameras' replies to
    // one pass overflowed it on a busy machine.
    static constexpr int CAPTURE_BUFFER_BYTES = 4 << 20;
    static constexpr int BULK_CAPTURE_BUFFER_BYTES = 8 << 20;
    // The kernel hands over a block of packets when it fills or after this time-out. Each
    // request of a download's start waits for it once (a camera takes the next request only
    // after the reply to the one before), so it is short. Immediate mode, which hands over each
    // packet as it comes, cut that wait by a few milliseconds but woke the capture thread per
    // packet and made the download's data phase slower on a quiet machine.
    static constexpr int READ_TIMEOUT_MS = 1;
    static constexpr int STOP_WAIT_MS = 13000;

    CPcapListener() = default;
    ~CPcapListener() override;

    BOOL Start() override;
    void Register(CCaptureQueue* pQueue, DWORD dwLocalIP, WORD usPort, BOOL bAdd) override;
    void SetBulk(bool bBulk) override;

    // Adds an adapter keyed by its address. Start does this for every opened device; a
    // listener fed by hand (no handle, no thread) gets its frames through HandleFrame.
    AdapterCapture* AddAdapter(DWORD dwIP, pcap* pHandle);
    // One captured Ethernet frame of nCapLen bytes on the adapter; its queue gets it and is
    // notified at once, or with bBatch it is gathered (the listener's lock held from then on)
    // and handed over by NotifyPut.
    void HandleFrame(AdapterCapture* pAdapter, const BYTE* pFrame, DWORD nCapLen, bool bBatch = false);
    // Hands each queue what it got since the last call, with one notice: a lock and a wake-up
    // of the GUI thread per dispatch, not per datagram. Then lets go of the listener's lock. The
    // adapter's capture thread.
    void NotifyPut(AdapterCapture* pAdapter);

private:
    static void PacketHandler(unsigned char* pUser, const pcap_pkthdr* pHeader, const unsigned char* pData);
    static void CaptureThread(AdapterCapture* pAdapter);
    // A handle capturing the adapter's UDP (not its own) into a ring of nBufferBytes; null when
    // it cannot.
    // *pbDenied (when given) tells a refusal for want of permission from other failures.
    static pcap* OpenHandle(const char* pszDevice, DWORD dwIP, DWORD dwNetmaskNet, int nBufferBytes,
                            bool* pbDenied = nullptr);
    // The capture thread: pNew takes the place of the adapter's handle, without losing or repeating
    // what either ring captured.
    void SwapHandle(AdapterCapture* pAdapter, pcap* pNew);
    static void TraceKernelDrops(DWORD dwIP, pcap* pHandle);
    void Stop();

    std::map<DWORD, std::unique_ptr<AdapterCapture>> m_mapAdapters;
    std::mutex m_mutex;
    BOOL m_bStarted = 0;
    std::atomic<bool> m_bBulk{false};
};
