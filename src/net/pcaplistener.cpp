#include "net/pcaplistener.h"

#include "core/log.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

namespace {

constexpr DWORD ETHERNET_HEADER_LEN = 14;
constexpr WORD ETHERTYPE_IPV4 = 0x0800;
constexpr BYTE IPPROTO_UDP_NUMBER = 17;
constexpr DWORD UDP_HEADER_LEN = 8;

constexpr const char* kCaptureOff =
    "packet capture is off (no CAP_NET_RAW permission): the client works from its sockets alone, so "
    "it does not hear cameras whose replies its sockets never receive (cameras with an address in "
    "another subnet, replies addressed elsewhere)";

std::atomic<bool> g_bCaptureDenied{false};

WORD Read16(const BYTE* p)
{
    return static_cast<WORD>((p[0] << 8) | p[1]);
}

} // namespace

const char* CaptureOffReason()
{
    return g_bCaptureDenied.load() ? kCaptureOff : nullptr;
}

CPcapListener::~CPcapListener()
{
    Stop();
}

BOOL CPcapListener::Start()
{
    // Set first: a failed start is not retried.
    if (m_bStarted)
        return 1;
    m_bStarted = 1;

    char szError[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* pDevices = nullptr;
    if (pcap_findalldevs(&pDevices, szError) == -1) {
        DebugTrace(1, "Error in pcap_findalldevs: %s", szError);
        return 0;
    }
    int nDenied = 0;
    for (pcap_if_t* pDev = pDevices; pDev != nullptr; pDev = pDev->next) {
        // Loopback is Ethernet-framed on Linux, but no socket of ours is ever bound there.
        if ((pDev->flags & PCAP_IF_LOOPBACK) != 0)
            continue;
        const pcap_addr_t* pAddr = pDev->addresses;
        while (pAddr != nullptr && (pAddr->addr == nullptr || pAddr->addr->sa_family != AF_INET))
            pAddr = pAddr->next;
        if (pAddr == nullptr)
            continue;
        const in_addr addr = reinterpret_cast<const sockaddr_in*>(pAddr->addr)->sin_addr;
        bpf_u_int32 netmask = PCAP_NETMASK_UNKNOWN;
        if (pAddr->netmask != nullptr && pAddr->netmask->sa_family == AF_INET)
            netmask = reinterpret_cast<const sockaddr_in*>(pAddr->netmask)->sin_addr.s_addr;

        const int nBufferBytes = m_bBulk ? BULK_CAPTURE_BUFFER_BYTES : CAPTURE_BUFFER_BYTES;
        bool bDenied = false;
        pcap_t* pHandle = OpenHandle(pDev->name, ntohl(addr.s_addr), netmask, nBufferBytes, &bDenied);
        nDenied += bDenied ? 1 : 0;
        if (pHandle == nullptr)
            continue;
        DebugTrace(1, "listening on %s...\n", pDev->description != nullptr ? pDev->description : pDev->name);

        AdapterCapture* pAdapter = AddAdapter(ntohl(addr.s_addr), pHandle);
        if (pAdapter == nullptr) {
            // A second device with the same first address: the first one serves it.
            pcap_close(pHandle);
            continue;
        }
        pAdapter->strDevice = pDev->name;
        pAdapter->dwNetmaskNet = netmask;
        try {
            pAdapter->hThread = std::thread(&CPcapListener::CaptureThread, pAdapter);
        } catch (const std::system_error&) {
            // The entry stays without a thread; its sockets keep to their own path.
        }
    }
    pcap_freealldevs(pDevices);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_mapAdapters.empty() && nDenied > 0 && !g_bCaptureDenied.exchange(true))
        VLOG(1, "CPcapListener::Start: %s", kCaptureOff);
    return m_mapAdapters.empty() ? 0 : 1;
}

pcap* CPcapListener::OpenHandle(const char* pszDevice, DWORD dwIP, DWORD dwNetmaskNet, int nBufferBytes,
                                bool* pbDenied)
{
    char szError[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pHandle = pcap_create(pszDevice, szError);
    if (pHandle == nullptr)
        return nullptr;
    pcap_set_snaplen(pHandle, SNAP_LEN);
    pcap_set_promisc(pHandle, 1);
    pcap_set_timeout(pHandle, READ_TIMEOUT_MS);
    pcap_set_buffer_size(pHandle, nBufferBytes);
    // Nanoseconds tell a reopened ring's copies from what came after them.
    pcap_set_tstamp_precision(pHandle, PCAP_TSTAMP_PRECISION_NANO);
    // Above 0 is a warning (the device works); below 0 it cannot capture.
    if (const int nActivate = pcap_activate(pHandle); nActivate < 0) {
        if (pbDenied != nullptr)
            *pbDenied = nActivate == PCAP_ERROR_PERM_DENIED;
        DebugTrace(1, "Cannot capture on %s: %s", pszDevice, pcap_geterr(pHandle));
        pcap_close(pHandle);
        return nullptr;
    }
    if (pcap_datalink(pHandle) != DLT_EN10MB) {
        pcap_close(pHandle);
        return nullptr;
    }
    const in_addr addr{htonl(dwIP)};
    char szAddr[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, szAddr, sizeof(szAddr));
    char szFilter[64];
    std::snprintf(szFilter, sizeof(szFilter), "ip and udp and !(src %s)", szAddr);
    bpf_program program{};
    if (pcap_compile(pHandle, &program, szFilter, 1, dwNetmaskNet) < 0) {
        pcap_close(pHandle);
        return nullptr;
    }
    const int nSet = pcap_setfilter(pHandle, &program);
    pcap_freecode(&program);
    if (nSet < 0) {
        pcap_close(pHandle);
        return nullptr;
    }
    return pHandle;
}

AdapterCapture* CPcapListener::AddAdapter(DWORD dwIP, pcap* pHandle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto pAdapter = std::make_unique<AdapterCapture>();
    pAdapter->pListener = this;
    pAdapter->dwIP = dwIP;
    pAdapter->pHandle = pHandle;
    const auto [it, bInserted] = m_mapAdapters.emplace(dwIP, std::move(pAdapter));
    return bInserted ? it->second.get() : nullptr;
}

void CPcapListener::Register(CCaptureQueue* pQueue, DWORD dwLocalIP, WORD usPort, BOOL bAdd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_mapAdapters.find(dwLocalIP);
    if (it == m_mapAdapters.end())
        return;
    std::map<WORD, CCaptureQueue*>& ports = it->second->mapPorts;
    if (bAdd) {
        ports.emplace(usPort, pQueue);
    } else {
        // Only the queue's own entry goes, so a stale close cannot orphan another socket.
        const auto itPort = ports.find(usPort);
        if (itPort != ports.end() && itPort->second == pQueue)
            ports.erase(itPort);
    }
}

void CPcapListener::SetBulk(bool bBulk)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bBulk.exchange(bBulk) == bBulk)
        return;
    const int nBufferBytes = bBulk ? BULK_CAPTURE_BUFFER_BYTES : CAPTURE_BUFFER_BYTES;
    for (auto& entry : m_mapAdapters) {
        AdapterCapture* pAdapter = entry.second.get();
        if (pAdapter->strDevice.empty() || !pAdapter->hThread.joinable())
            continue;
        // A change still being opened is waited for: at most one ring's set-up.
        if (pAdapter->hOpener.joinable())
            pAdapter->hOpener.join();
        try {
            pAdapter->hOpener = std::thread([pAdapter, nBufferBytes] {
                pcap* pNew = OpenHandle(pAdapter->strDevice.c_str(), pAdapter->dwIP, pAdapter->dwNetmaskNet,
                                        nBufferBytes);
                if (pNew == nullptr) {
                    DebugTrace(1, "Capture of %x keeps its ring: no %d-byte one", pAdapter->dwIP,
                               nBufferBytes);
                    return;
                }
                std::lock_guard<std::mutex> lockHandle(pAdapter->mutexHandle);
                if (pAdapter->pPending != nullptr)
                    pcap_close(pAdapter->pPending);
                pAdapter->pPending = pNew;
                // An idle ring never returns from its wait on its own.
                pcap_breakloop(pAdapter->pHandle);
            });
        } catch (const std::system_error&) {
            // The adapter keeps the ring it has.
        }
    }
}

void CPcapListener::SwapHandle(AdapterCapture* pAdapter, pcap* pNew)
{
    // Both rings capture now. The old one hands over what it holds and what reaches it over a few
    // of the kernel's block time-outs; the new ring's copies of those are passed over by time.
    pcap* pOld = pAdapter->pHandle;
    char szError[PCAP_ERRBUF_SIZE] = {};
    pcap_setnonblock(pOld, 1, szError);
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(3 * READ_TIMEOUT_MS + 2);
    while (!pAdapter->bStop && std::chrono::steady_clock::now() < tEnd) {
        const int nRead = pcap_dispatch(pOld, -1, &CPcapListener::PacketHandler,
                                        reinterpret_cast<unsigned char*>(pAdapter));
        NotifyPut(pAdapter);
        if (nRead == PCAP_ERROR)
            break;
        if (nRead == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    pAdapter->nSkipUpToNs = pAdapter->nLastStampNs;
    {
        std::lock_guard<std::mutex> lock(pAdapter->mutexHandle);
        pAdapter->pHandle = pNew;
    }
    TraceKernelDrops(pAdapter->dwIP, pOld);
    pcap_close(pOld);
}

void CPcapListener::TraceKernelDrops(DWORD dwIP, pcap* pHandle)
{
    // What the kernel's ring lost never reached a queue's drop trace.
    pcap_stat stats{};
    if (pcap_stats(pHandle, &stats) == 0 && stats.ps_drop != 0)
        DebugTrace(1, "Capture of %x: %u packets received, %u dropped by the kernel", dwIP, stats.ps_recv,
                   stats.ps_drop);
}

void CPcapListener::CaptureThread(AdapterCapture* pAdapter)
{
    CPcapListener* pListener = pAdapter->pListener;
    // Every packet the kernel holds goes out in one dispatch, and the queues are told once.
    for (;;) {
        pcap* pNew = nullptr;
        {
            std::lock_guard<std::mutex> lock(pAdapter->mutexHandle);
            pNew = std::exchange(pAdapter->pPending, nullptr);
        }
        if (pNew != nullptr)
            pListener->SwapHandle(pAdapter, pNew);
        if (pAdapter->bStop)
            break;
        const int nRead = pcap_dispatch(pAdapter->pHandle, -1, &CPcapListener::PacketHandler,
                                        reinterpret_cast<unsigned char*>(pAdapter));
        pListener->NotifyPut(pAdapter);
        // Woken for another ring.
        if (nRead == PCAP_ERROR_BREAK && !pAdapter->bStop)
            continue;
        if (nRead < 0) {
            if (nRead == PCAP_ERROR)
                DebugTrace(1, "Capture of %x failed: %s", pAdapter->dwIP, pcap_geterr(pAdapter->pHandle));
            break;
        }
    }
    DebugTrace(1, "##########################PCAP Exit#################\n");
    std::lock_guard<std::mutex> lock(pAdapter->mutexDone);
    pAdapter->bDone = true;
    pAdapter->condDone.notify_all();
}

void CPcapListener::PacketHandler(unsigned char* pUser, const pcap_pkthdr* pHeader,
                                  const unsigned char* pData)
{
    auto* pAdapter = reinterpret_cast<AdapterCapture*>(pUser);
    const long long nStampNs = pHeader->ts.tv_sec * 1000000000LL + pHeader->ts.tv_usec;
    if (pAdapter->nSkipUpToNs >= 0) {
        if (nStampNs <= pAdapter->nSkipUpToNs)
            return;
        pAdapter->nSkipUpToNs = -1;
    }
    pAdapter->nLastStampNs = nStampNs;
    pAdapter->pListener->HandleFrame(pAdapter, pData, pHeader->caplen, true);
}

void CPcapListener::NotifyPut(AdapterCapture* pAdapter)
{
    if (!pAdapter->lockBatch.owns_lock())
        return;
    // Every queue is still registered: the lock was held since its first put.
    for (const auto& entry : pAdapter->vecPut) {
        entry.second->Publish();
        entry.second->NotifyData();
    }
    pAdapter->vecPut.clear();
    pAdapter->lockBatch.unlock();
}

void CPcapListener::HandleFrame(AdapterCapture* pAdapter, const BYTE* pFrame, DWORD nCapLen, bool bBatch)
{
    // Every offset is checked against what was captured: a frame is cut at the snapshot
    // length and its header fields come from the wire.
    if (nCapLen < ETHERNET_HEADER_LEN + 20)
        return;
    // Only untagged IPv4 frames: the filter matches the IPv4 type at the plain Ethernet
    // offset, and a tagged frame belongs to a VLAN none of our sockets is on.
    if (Read16(pFrame + 12) != ETHERTYPE_IPV4)
        return;
    const BYTE* pIP = pFrame + ETHERNET_HEADER_LEN;
    const DWORD nIPCapLen = nCapLen - ETHERNET_HEADER_LEN;
    const DWORD nIPHeaderLen = (pIP[0] & 0x0F) * 4u;
    if ((pIP[0] >> 4) != 4 || nIPHeaderLen < 20 || pIP[9] != IPPROTO_UDP_NUMBER)
        return;
    // A later fragment carries no UDP header.
    if ((Read16(pIP + 6) & 0x1FFF) != 0)
        return;
    if (nIPHeaderLen + UDP_HEADER_LEN > nIPCapLen)
        return;
    const BYTE* pUDP = pIP + nIPHeaderLen;
    const WORD usDestPort = Read16(pUDP + 2);
    const DWORD nUDPLen = Read16(pUDP + 4);
    if (nUDPLen > MAX_UDP_LEN) {
        DebugTrace(1, "Error, packet too long, Receive a Packet with len %d\n", static_cast<int>(nUDPLen));
        return;
    }
    if (nUDPLen < UDP_HEADER_LEN || nIPHeaderLen + nUDPLen > nIPCapLen) {
        DebugTrace(1, "Drop packet with bad UDP length %d, captured %d", static_cast<int>(nUDPLen),
                   static_cast<int>(nIPCapLen - nIPHeaderLen));
        return;
    }
    // An empty datagram has nothing for the protocols, and a 0 from the queue would end the
    // reader's drain early.
    if (nUDPLen == UDP_HEADER_LEN)
        return;
    DWORD dwSrcNet;
    std::memcpy(&dwSrcNet, pIP + 12, sizeof(dwSrcNet));
    WORD usSrcPortNet;
    std::memcpy(&usSrcPortNet, pUDP, sizeof(usSrcPortNet));

    // The lock is held while the queue is filled, so a socket closing on the GUI thread
    // cannot free its queue between the look-up and the put.
    if (!bBatch) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = pAdapter->mapPorts.find(usDestPort);
        if (it != pAdapter->mapPorts.end())
            it->second->Put(pUDP + UDP_HEADER_LEN, nUDPLen - UDP_HEADER_LEN, dwSrcNet, usSrcPortNet);
        return;
    }
    if (!pAdapter->lockBatch.owns_lock())
        pAdapter->lockBatch = std::unique_lock<std::mutex>(m_mutex);
    const auto it = pAdapter->mapPorts.find(usDestPort);
    if (it == pAdapter->mapPorts.end())
        return;
    CCaptureQueue* pQueue = it->second;
    pQueue->PutQuiet(pUDP + UDP_HEADER_LEN, nUDPLen - UDP_HEADER_LEN, dwSrcNet, usSrcPortNet);
    // A drop is announced too, as a single put would be.
    std::vector<std::pair<WORD, CCaptureQueue*>>& vecPut = pAdapter->vecPut;
    if (std::find(vecPut.begin(), vecPut.end(), std::make_pair(usDestPort, pQueue)) == vecPut.end())
        vecPut.emplace_back(usDestPort, pQueue);
}

void CPcapListener::Stop()
{
    for (auto& entry : m_mapAdapters) {
        const DWORD dwIP = entry.first;
        auto& pAdapter = entry.second;
        {
            std::lock_guard<std::mutex> lock(pAdapter->mutexHandle);
            pAdapter->bStop = true;
            if (pAdapter->pHandle != nullptr)
                pcap_breakloop(pAdapter->pHandle);
        }
        if (pAdapter->hThread.joinable()) {
            std::unique_lock<std::mutex> lock(pAdapter->mutexDone);
            if (!pAdapter->condDone.wait_for(lock, std::chrono::milliseconds(STOP_WAIT_MS),
                                             [&] { return pAdapter->bDone; }))
                DebugTrace(1, "Capture thread of %x still running, waiting for it", dwIP);
            lock.unlock();
            // The thread uses the handle and this listener: never free them under it.
            pAdapter->hThread.join();
        }
        if (pAdapter->hOpener.joinable())
            pAdapter->hOpener.join();
        if (pAdapter->pPending != nullptr)
            pcap_close(pAdapter->pPending);
        if (pAdapter->pHandle != nullptr) {
            TraceKernelDrops(dwIP, pAdapter->pHandle);
            pcap_close(pAdapter->pHandle);
        }
        pAdapter->mapPorts.clear();
    }
    m_mapAdapters.clear();
}
