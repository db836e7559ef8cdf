// Packet capture listener: one capture thread per Ethernet adapter hands the payloads of UDP
// packets addressed to the program's ports to the sockets' capture queues, whatever their
// destination address and before the host's filtering.
#pragma once

#include "net/capturequeue.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
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
    // Queues (by port) that got data in the current dispatch; notified once at its end.
    std::vector<std::pair<WORD, CCaptureQueue*>> vecPut;

    // Set by the capture thread when its loop has ended, for the bounded wait at stop.
    std::mutex mutexDone;
    std::condition_variable condDone;
    bool bDone = false;
};

class CPcapListener : public ICaptureListener {
public:
    static constexpr DWORD MAX_UDP_LEN = 1500;
    static constexpr int SNAP_LEN = 65536;
    // The kernel's ring for one adapter. A camera sending a download keeps a window of
    // datagrams in flight; the 2 MiB default overflowed while a burst was being handed on. The
    // ring is mapped whole into the process, so it counts in the client's memory: 8 MiB holds
    // several windows, and a download was no faster with 32.
    static constexpr int CAPTURE_BUFFER_BYTES = 8 << 20;
    // How long the kernel may hold captured packets before it hands them over. At a second,
    // live audio and video came in one-second bursts; at 10 ms every request and reply of a
    // download's start waited for it. A busy link fills the kernel's blocks sooner anyway.
    // Immediate mode is no cure: its ring keeps one 64 KiB slot per frame on interfaces with
    // offloads, so a burst of camera replies overflowed it.
    static constexpr int READ_TIMEOUT_MS = 1;
    static constexpr int STOP_WAIT_MS = 13000;

    CPcapListener() = default;
    ~CPcapListener() override;

    BOOL Start() override;
    void Register(CCaptureQueue* pQueue, DWORD dwLocalIP, WORD usPort, BOOL bAdd) override;

    // Adds an adapter keyed by its address. Start does this for every opened device; a
    // listener fed by hand (no handle, no thread) gets its frames through HandleFrame.
    AdapterCapture* AddAdapter(DWORD dwIP, pcap* pHandle);
    // One captured Ethernet frame of nCapLen bytes on the adapter; its queue is notified at once,
    // or with bBatch noted in the adapter's vecPut and notified by NotifyPut.
    void HandleFrame(AdapterCapture* pAdapter, const BYTE* pFrame, DWORD nCapLen, bool bBatch = false);
    // One notice per queue that got data since the last call: a wake-up of the GUI thread per
    // dispatch, not per datagram. The adapter's capture thread.
    void NotifyPut(AdapterCapture* pAdapter);

private:
    static void PacketHandler(unsigned char* pUser, const pcap_pkthdr* pHeader, const unsigned char* pData);
    static void CaptureThread(AdapterCapture* pAdapter);
    void Stop();

    std::map<DWORD, std::unique_ptr<AdapterCapture>> m_mapAdapters;
    std::mutex m_mutex;
    BOOL m_bStarted = 0;
};
