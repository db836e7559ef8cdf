// Helpers of the net tests: event pumping, a plain UDP peer on 127.0.0.1, trace capture,
// hand-built Ethernet frames and a recording receiver.
#pragma once

#include "net/pcaplistener.h"
#include "net/socketmanager.h"
#include "platform/trace.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

constexpr DWORD LOOPBACK = 0x7F000001;

inline void PumpFor(int nMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

inline bool PumpUntil(const std::function<bool()>& done, int nTimeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline sockaddr_in Address(DWORD dwIP, WORD usPort)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(dwIP);
    sin.sin_port = htons(usPort);
    return sin;
}

// A blocking UDP socket bound to 127.0.0.1 on a free port.
class UdpPeer {
public:
    UdpPeer()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sin = Address(LOOPBACK, 0);
        bind(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
        socklen_t nLen = sizeof(sin);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&sin), &nLen);
        m_usPort = ntohs(sin.sin_port);
        timeval tv{0, 200000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    }
    ~UdpPeer() { close(m_fd); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    WORD Port() const { return m_usPort; }

    void SendToLoopback(WORD usPort, const std::string& strData) const
    {
        const sockaddr_in sin = Address(LOOPBACK, usPort);
        sendto(m_fd, strData.data(), strData.size(), 0, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
    }

    struct Datagram {
        std::string strData;
        DWORD dwFromIP;
        WORD usFromPort;
    };
    // Everything that arrives until 200 ms pass without a datagram.
    std::vector<Datagram> ReceiveAll() const
    {
        std::vector<Datagram> got;
        std::vector<char> buffer(70000);
        for (;;) {
            sockaddr_in from{};
            socklen_t nLen = sizeof(from);
            const ssize_t n =
                recvfrom(m_fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &nLen);
            if (n < 0)
                return got;
            got.push_back({std::string(buffer.data(), n), ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)});
        }
    }

private:
    int m_fd = -1;
    WORD m_usPort = 0;
};

// A port that was free a moment ago on 127.0.0.1.
inline WORD FreePort()
{
    UdpPeer probe;
    return probe.Port();
}

// Collects the debugger trace while alive.
class TraceCapture {
public:
    TraceCapture()
    {
        m_previous = SetTraceSink([this](const char* psz) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.emplace_back(psz);
        });
    }
    ~TraceCapture() { SetTraceSink(std::move(m_previous)); }

    bool Contains(const std::string& strText) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::string& strLine : m_lines) {
            if (strLine.find(strText) != std::string::npos)
                return true;
        }
        return false;
    }
    int Count(const std::string& strText) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const std::string& strLine : m_lines)
            n += strLine.find(strText) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    TraceSink m_previous;
};

// An Ethernet/IPv4/UDP frame as the wire carries it.
struct FrameSpec {
    DWORD dwSrcIP = 0xC6120505; // 198.18.5.5
    DWORD dwDstIP = LOOPBACK;
    WORD usSrcPort = 9000;
    WORD usDstPort = 8001;
    std::string strPayload = "hello";
    int nIPHeaderLen = 20;
    int nUDPLenDelta = 0; // added to the UDP length field
    WORD usEtherType = 0x0800;
    WORD usFragment = 0;
};

inline std::vector<BYTE> BuildFrame(const FrameSpec& spec)
{
    std::vector<BYTE> frame(14, 0);
    frame[12] = static_cast<BYTE>(spec.usEtherType >> 8);
    frame[13] = static_cast<BYTE>(spec.usEtherType);
    const int nUDPLen = 8 + static_cast<int>(spec.strPayload.size());
    std::vector<BYTE> ip(spec.nIPHeaderLen, 0);
    ip[0] = static_cast<BYTE>(0x40 | (spec.nIPHeaderLen / 4));
    const int nTotal = spec.nIPHeaderLen + nUDPLen;
    ip[2] = static_cast<BYTE>(nTotal >> 8);
    ip[3] = static_cast<BYTE>(nTotal);
    ip[6] = static_cast<BYTE>(spec.usFragment >> 8);
    ip[7] = static_cast<BYTE>(spec.usFragment);
    ip[8] = 64;
    ip[9] = 17;
    for (int i = 0; i < 4; ++i) {
        ip[12 + i] = static_cast<BYTE>(spec.dwSrcIP >> (24 - 8 * i));
        ip[16 + i] = static_cast<BYTE>(spec.dwDstIP >> (24 - 8 * i));
    }
    frame.insert(frame.end(), ip.begin(), ip.end());
    const int nField = nUDPLen + spec.nUDPLenDelta;
    const BYTE udp[8] = {static_cast<BYTE>(spec.usSrcPort >> 8),
                         static_cast<BYTE>(spec.usSrcPort),
                         static_cast<BYTE>(spec.usDstPort >> 8),
                         static_cast<BYTE>(spec.usDstPort),
                         static_cast<BYTE>(nField >> 8),
                         static_cast<BYTE>(nField),
                         0,
                         0};
    frame.insert(frame.end(), udp, udp + 8);
    frame.insert(frame.end(), spec.strPayload.begin(), spec.strPayload.end());
    return frame;
}

// A listener that opens no capture device: one adapter per given address, fed by hand.
class CHandFedListener : public CPcapListener {
public:
    explicit CHandFedListener(std::vector<DWORD> adapters) : m_adapters(std::move(adapters)) {}
    BOOL Start() override
    {
        for (DWORD dwIP : m_adapters)
            m_fed.push_back(AddAdapter(dwIP, nullptr));
        return m_fed.empty() ? 0 : 1;
    }
    // Feeds a frame as the adapter's capture thread would.
    void Feed(std::size_t nAdapter, const std::vector<BYTE>& frame)
    {
        std::thread([&] {
            HandleFrame(m_fed.at(nAdapter), frame.data(), static_cast<DWORD>(frame.size()));
        }).join();
    }

private:
    std::vector<DWORD> m_adapters;
    std::vector<AdapterCapture*> m_fed;
};

// Installs a capture factory for the life of a test; restores the previous one after.
class CaptureFactoryScope {
public:
    explicit CaptureFactoryScope(CaptureListenerFactory factory)
        : m_previous(SetCaptureListenerFactory(std::move(factory)))
    {
    }
    ~CaptureFactoryScope() { SetCaptureListenerFactory(std::move(m_previous)); }

private:
    CaptureListenerFactory m_previous;
};

// Records what the manager hands over.
class CRecordingReceiver : public ISocketReceiver {
public:
    struct Received {
        std::string strData;
        DWORD dwIP;
        WORD usPort;
        SocketGroup* pGroup;
        UINT uMsg;
    };
    void OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT uMsg) override
    {
        received.push_back({std::string(reinterpret_cast<char*>(pData), nLen), dwIP, usPort, pGroup, uMsg});
        if (bThrow)
            throw std::runtime_error("receiver failure");
    }
    void OnSweepComplete(int nReserved, SocketGroup* pGroup) override { sweepCompletes.push_back(pGroup); }

    std::vector<Received> received;
    std::vector<SocketGroup*> sweepCompletes;
    bool bThrow = false;
};

} // namespace nettest
