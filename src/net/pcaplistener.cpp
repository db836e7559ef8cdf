#include "net/pcaplistener.h"

#include "core/log.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace {

constexpr DWORD ETHERNET_HEADER_LEN = 14;
constexpr WORD ETHERTYPE_IPV4 = 0x0800;
constexpr BYTE IPPROTO_UDP_NUMBER = 17;
constexpr DWORD UDP_HEADER_LEN = 8;

WORD Read16(const BYTE* p)
{
    return static_cast<WORD>((p[0] << 8) | p[1]);
}

} // namespace

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

        pcap_t* pHandle = pcap_create(pDev->name, szError);
        if (pHandle == nullptr)
            continue;
        pcap_set_snaplen(pHandle, SNAP_LEN);
        pcap_set_promisc(pHandle, 1);
        pcap_set_timeout(pHandle, READ_TIMEOUT_MS);
        pcap_set_buffer_size(pHandle, CAPTURE_BUFFER_BYTES);
        // Above 0 is a warning (the device works); below 0 it cannot capture.
        if (pcap_activate(pHandle) < 0) {
            DebugTrace(1, "Cannot capture on %s: %s", pDev->name, pcap_geterr(pHandle));
            pcap_close(pHandle);
            continue;
        }
        if (pcap_datalink(pHandle) != DLT_EN10MB) {
            pcap_close(pHandle);
            continue;
        }
        char szAddr[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &addr, szAddr, sizeof(szAddr));
        char szFilter[64];
        std::snprintf(szFilter, sizeof(szFilter), "ip and udp and !(src %s)", szAddr);
        bpf_program program{};
        if (pcap_compile(pHandle, &program, szFilter, 1, netmask) < 0) {
            pcap_close(pHandle);
            continue;
        }
        const int nSet = pcap_setfilter(pHandle, &program);
        pcap_freecode(&program);
        if (nSet < 0) {
            pcap_close(pHandle);
            continue;
        }
        DebugTrace(1, "listening on %s...\n", pDev->description != nullptr ? pDev->description : pDev->name);

        AdapterCapture* pAdapter = AddAdapter(ntohl(addr.s_addr), pHandle);
        if (pAdapter == nullptr) {
            // A second device with the same first address: the first one serves it.
            pcap_close(pHandle);
            continue;
        }
        try {
            pAdapter->hThread = std::thread(&CPcapListener::CaptureThread, pAdapter);
        } catch (const std::system_error&) {
            // The entry stays without a thread; its sockets keep to their own path.
        }
    }
    pcap_freealldevs(pDevices);
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mapAdapters.empty() ? 0 : 1;
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

void CPcapListener::CaptureThread(AdapterCapture* pAdapter)
{
    // Every packet the kernel holds goes out in one dispatch, and the queues are told once.
    for (;;) {
        const int nRead = pcap_dispatch(pAdapter->pHandle, -1, &CPcapListener::PacketHandler,
                                        reinterpret_cast<unsigned char*>(pAdapter));
        pAdapter->pListener->NotifyPut(pAdapter);
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
    pAdapter->pListener->HandleFrame(pAdapter, pData, pHeader->caplen, true);
}

void CPcapListener::NotifyPut(AdapterCapture* pAdapter)
{
    if (pAdapter->vecPut.empty())
        return;
    // Under the lock, and only a queue still registered: a socket closed since its put may
    // have freed it.
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [usPort, pQueue] : pAdapter->vecPut) {
        const auto it = pAdapter->mapPorts.find(usPort);
        if (it != pAdapter->mapPorts.end() && it->second == pQueue)
            pQueue->NotifyData();
    }
    pAdapter->vecPut.clear();
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
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = pAdapter->mapPorts.find(usDestPort);
    if (it == pAdapter->mapPorts.end())
        return;
    CCaptureQueue* pQueue = it->second;
    if (!bBatch) {
        pQueue->Put(pUDP + UDP_HEADER_LEN, nUDPLen - UDP_HEADER_LEN, dwSrcNet, usSrcPortNet);
        return;
    }
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
        if (pAdapter->pHandle != nullptr)
            pcap_breakloop(pAdapter->pHandle);
        if (pAdapter->hThread.joinable()) {
            std::unique_lock<std::mutex> lock(pAdapter->mutexDone);
            if (!pAdapter->condDone.wait_for(lock, std::chrono::milliseconds(STOP_WAIT_MS),
                                             [&] { return pAdapter->bDone; }))
                DebugTrace(1, "Capture thread of %x still running, waiting for it", dwIP);
            lock.unlock();
            // The thread uses the handle and this listener: never free them under it.
            pAdapter->hThread.join();
        }
        if (pAdapter->pHandle != nullptr) {
            // What the kernel's ring lost never reached a queue's drop trace.
            pcap_stat stats{};
            if (pcap_stats(pAdapter->pHandle, &stats) == 0 && stats.ps_drop != 0)
                DebugTrace(1, "Capture of %x: %u packets received, %u dropped by the kernel", dwIP,
                           stats.ps_recv, stats.ps_drop);
            pcap_close(pAdapter->pHandle);
        }
        pAdapter->mapPorts.clear();
    }
    m_mapAdapters.clear();
}
