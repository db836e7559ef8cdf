// Delay from a datagram's arrival to its delivery to the engine, through the socket manager and
// the packet capture, in the lab. A peer in a camera namespace sends a burst and then a paced
// stream (like camera audio), each datagram carrying its number and send time; the client side
// prints how many arrived, how many were lost and the delay figures, and which source fed the
// socket. Run with capture_delay.sh, never outside the lab.
//
//   capture_delay_bench recv PORT SECONDS
//   capture_delay_bench send ADDRESS PORT BURST COUNT PERIOD_MS
#include "net/socketmanager.h"

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace {

constexpr int PAYLOAD_BYTES = 200;

long long NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

class CDelayReceiver : public ISocketReceiver {
public:
    void OnReceive(BYTE* pData, int nLen, DWORD, WORD, SocketGroup*, UINT) override
    {
        if (nLen < 16)
            return;
        long long nSeq = 0, nSent = 0;
        std::memcpy(&nSeq, pData, 8);
        std::memcpy(&nSent, pData + 8, 8);
        delays.push_back(static_cast<double>(NowNs() - nSent) / 1e6);
        nHighest = std::max(nHighest, nSeq);
    }
    void OnSweepComplete(int, SocketGroup*) override {}
    std::vector<double> delays;
    long long nHighest = -1;
};

int Receive(WORD usPort, int nSeconds)
{
    CSocketManager manager;
    CDelayReceiver receiver;
    SocketGroup* pGroup = manager.CreateSocket(0, usPort, TRUE, &receiver);
    if (pGroup == nullptr) {
        std::fprintf(stderr, "capture_delay_bench: no local address\n");
        return 1;
    }
    QTimer::singleShot(nSeconds * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();

    std::vector<double> d = receiver.delays;
    if (d.empty()) {
        std::printf("received 0\n");
        return 1;
    }
    std::sort(d.begin(), d.end());
    double dSum = 0;
    for (double x : d)
        dSum += x;
    const auto At = [&](double q) { return d[static_cast<std::size_t>(q * (d.size() - 1))]; };
    std::printf("received %zu of %lld, lost %lld\n", d.size(), receiver.nHighest + 1,
                receiver.nHighest + 1 - static_cast<long long>(d.size()));
    std::printf("delay ms: mean %.2f, median %.2f, p99 %.2f, max %.2f\n", dSum / d.size(), At(0.5), At(0.99),
                d.back());
    std::printf("source of socket 0: %s\n",
                pGroup->ppSockets[0]->GetState() == CSocketUdp::STATE_CAPTURE ? "capture" : "socket");
    return 0;
}

int Send(const char* pszAddress, WORD usPort, int nBurst, int nCount, int nPeriodMs)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(usPort);
    if (inet_pton(AF_INET, pszAddress, &sin.sin_addr) != 1)
        return 2;
    BYTE abPayload[PAYLOAD_BYTES] = {};
    long long nSeq = 0;
    const auto SendOne = [&] {
        const long long nNow = NowNs();
        std::memcpy(abPayload, &nSeq, 8);
        std::memcpy(abPayload + 8, &nNow, 8);
        sendto(fd, abPayload, sizeof(abPayload), 0, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
        ++nSeq;
    };
    for (int i = 0; i < nBurst; ++i)
        SendOne();
    for (int i = 0; i < nCount; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(nPeriodMs));
        SendOne();
    }
    close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "recv") == 0) {
        QCoreApplication app(argc, argv);
        return Receive(static_cast<WORD>(std::atoi(argv[2])), std::atoi(argv[3]));
    }
    if (argc == 7 && std::strcmp(argv[1], "send") == 0)
        return Send(argv[2], static_cast<WORD>(std::atoi(argv[3])), std::atoi(argv[4]), std::atoi(argv[5]),
                    std::atoi(argv[6]));
    std::fprintf(stderr,
                 "usage: capture_delay_bench recv PORT SECONDS | send ADDRESS PORT BURST COUNT PERIOD_MS\n");
    return 2;
}
