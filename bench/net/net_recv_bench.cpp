// Receive throughput of the command path on loopback: datagrams per second drained through
// the socket manager (notification, read loop, OnReceive) against a plain recvfrom loop, on the
// same traffic in the same run. Each round queues a burst in the receiving socket first (its
// buffer enlarged so nothing is dropped) and then times the drain alone, so the sender's cost
// and the scheduler do not enter the ratio; plain and manager rounds alternate.
//
//   net_recv_bench [rounds (30)] [datagrams per burst (2000)] [payload bytes (100)]
#include "net/socketmanager.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr DWORD LOOPBACK = 0x7F000001;
using Clock = std::chrono::steady_clock;

sockaddr_in Address(DWORD dwIP, WORD usPort)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(dwIP);
    sin.sin_port = htons(usPort);
    return sin;
}

class CCountingReceiver : public ISocketReceiver {
public:
    void OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT uMsg) override
    {
        ++nCount;
        nBytes += nLen;
    }
    void OnSweepComplete(int, SocketGroup*) override {}
    long nCount = 0;
    long nBytes = 0;
};

WORD FreePort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sin = Address(LOOPBACK, 0);
    bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
    socklen_t nLen = sizeof(sin);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &nLen);
    close(fd);
    return ntohs(sin.sin_port);
}

// Room for a whole burst; the forced size needs root, the plain one is capped by rmem_max.
void EnlargeReceiveBuffer(int fd)
{
    const int nBytes = 64 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &nBytes, sizeof(nBytes)) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nBytes, sizeof(nBytes));
}

class CBurstSender {
public:
    CBurstSender(int nPayload) : m_fd(socket(AF_INET, SOCK_DGRAM, 0)), m_payload(nPayload, 'd') {}
    ~CBurstSender() { close(m_fd); }
    void Send(WORD usPort, int nCount)
    {
        const sockaddr_in sin = Address(LOOPBACK, usPort);
        for (int i = 0; i < nCount; ++i)
            sendto(m_fd, m_payload.data(), m_payload.size(), 0, reinterpret_cast<const sockaddr*>(&sin),
                   sizeof(sin));
    }

private:
    int m_fd;
    std::vector<char> m_payload;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int nRounds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int nBurst = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int nPayload = argc > 3 ? std::atoi(argv[3]) : 100;
    CBurstSender sender(nPayload);

    // Plain loop: blocking reads into a command-sized buffer.
    const WORD usPlainPort = FreePort();
    const int fdPlain = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in sinPlain = Address(LOOPBACK, usPlainPort);
    bind(fdPlain, reinterpret_cast<const sockaddr*>(&sinPlain), sizeof(sinPlain));
    EnlargeReceiveBuffer(fdPlain);
    std::vector<BYTE> buffer(CSocketManager::CMD_RECV_BUF_SIZE);

    // Socket manager on 127.0.0.1 without capture, past its first-event hold.
    CFixedLocalAddresses addresses({LOOPBACK});
    SetCaptureListenerFactory(CaptureListenerFactory());
    CSocketManager manager(&addresses);
    manager.SetSourceHoldTime(10);
    CCountingReceiver receiver;
    const WORD usPort = FreePort();
    SocketGroup* pGroup = manager.CreateSocket(0, usPort, 1, &receiver);
    if (pGroup == nullptr) {
        std::fprintf(stderr, "net_recv_bench: no socket\n");
        return 1;
    }
    EnlargeReceiveBuffer(pGroup->ppSockets[0]->GetSocket());
    sender.Send(usPort, 1);
    while (receiver.nCount < 1)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    double dPlainSeconds = 0;
    double dManagerSeconds = 0;
    long nPlain = 0;
    long nManager = 0;
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        sender.Send(usPlainPort, nBurst);
        auto start = Clock::now();
        for (int i = 0; i < nBurst; ++i) {
            sockaddr_in from{};
            socklen_t nLen = sizeof(from);
            if (recvfrom(fdPlain, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                         &nLen) > 0)
                ++nPlain;
        }
        dPlainSeconds += std::chrono::duration<double>(Clock::now() - start).count();

        const long nTarget = receiver.nCount + nBurst;
        sender.Send(usPort, nBurst);
        start = Clock::now();
        while (receiver.nCount < nTarget)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        dManagerSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        nManager += nBurst;
    }
    close(fdPlain);
    const double dPlainRate = nPlain / dPlainSeconds;
    const double dManagerRate = nManager / dManagerSeconds;
    std::printf("%d rounds of %d datagrams of %d bytes\n", nRounds, nBurst, nPayload);
    std::printf("plain recvfrom loop:   %.0f datagrams/s\n", dPlainRate);
    std::printf("socket manager path:   %.0f datagrams/s\n", dManagerRate);
    std::printf("ratio (manager/plain): %.3f\n", dManagerRate / dPlainRate);
    return 0;
}
