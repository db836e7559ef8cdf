// A small UDP peer for the lab tests, run inside a camera or other-subnet namespace.
//
//   lab_peer recv PORT[,PORT...] [GROUP]   print "ready", collect until SIGTERM, then print one
//                                          line per datagram: "SRC:SPORT DST:DPORT LEN TEXT"
//   lab_peer send DST PORT TEXT [COUNT [FROM]]
//                                          send COUNT (1) datagrams, 20 ms apart, from FROM
//   lab_peer spray DST PORT NPORTS FROM    until SIGTERM, from FROM's source ports 20000 and up,
//                                          NPORTS of them in turn, NPORTS datagrams in 5 s:
//                                          one-byte media frames, and from every third port a
//                                          segment of a frame that never ends
//
// Refuses any destination outside 198.18.0.0/15 and the 236.5.7.0/24 groups.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t g_bStop = 0;

void OnTerm(int)
{
    g_bStop = 1;
}

bool IsLabAddress(in_addr addr)
{
    const uint32_t dw = ntohl(addr.s_addr);
    return (dw & 0xFFFE0000u) == 0xC6120000u || (dw & 0xFFFFFF00u) == 0xEC050700u;
}

std::string Dotted(in_addr addr)
{
    char sz[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, sz, sizeof(sz));
    return sz;
}

int Recv(const std::string& strPorts, const char* pszGroup)
{
    std::vector<int> fds;
    std::vector<int> ports;
    std::stringstream ss(strPorts);
    for (std::string strPort; std::getline(ss, strPort, ',');) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int nOn = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof(nOn));
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &nOn, sizeof(nOn));
        const int nBuf = 4 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nBuf, sizeof(nBuf));
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(static_cast<uint16_t>(std::atoi(strPort.c_str())));
        if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0) {
            std::perror("bind");
            return 1;
        }
        if (pszGroup != nullptr) {
            ip_mreq mreq{};
            inet_pton(AF_INET, pszGroup, &mreq.imr_multiaddr);
            if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof(mreq)) != 0) {
                std::perror("IP_ADD_MEMBERSHIP");
                return 1;
            }
        }
        fds.push_back(fd);
        ports.push_back(std::atoi(strPort.c_str()));
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<std::string> lines;
    std::vector<pollfd> pfds;
    for (int fd : fds)
        pfds.push_back({fd, POLLIN, 0});
    while (!g_bStop) {
        if (poll(pfds.data(), pfds.size(), 100) <= 0)
            continue;
        for (std::size_t i = 0; i < pfds.size(); ++i) {
            if ((pfds[i].revents & POLLIN) == 0)
                continue;
            char buffer[2048];
            char control[256];
            sockaddr_in from{};
            iovec iov{buffer, sizeof(buffer) - 1};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof(from);
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof(control);
            const ssize_t n = recvmsg(pfds[i].fd, &msg, MSG_DONTWAIT);
            if (n < 0)
                continue;
            in_addr dst{};
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                    dst = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr;
            }
            buffer[n] = '\0';
            for (ssize_t k = 0; k < n; ++k) {
                if (buffer[k] == '\n' || buffer[k] == ' ' || buffer[k] == '\0')
                    buffer[k] = '_';
            }
            lines.push_back(Dotted(from.sin_addr) + ":" + std::to_string(ntohs(from.sin_port)) + " " +
                            Dotted(dst) + ":" + std::to_string(ports[i]) + " " + std::to_string(n) + " " +
                            buffer);
        }
    }
    for (const std::string& strLine : lines)
        std::printf("%s\n", strLine.c_str());
    return 0;
}

int Send(const char* pszDst, int nPort, const char* pszText, int nCount, const char* pszFrom)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(nPort));
    if (inet_pton(AF_INET, pszDst, &sin.sin_addr) != 1 || !IsLabAddress(sin.sin_addr)) {
        std::fprintf(stderr, "lab_peer: refusing destination %s\n", pszDst);
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int nOn = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &nOn, sizeof(nOn));
    if (pszFrom != nullptr) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, pszFrom, &from.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0) {
            std::perror("bind");
            return 1;
        }
        // Multicast leaves from the chosen address too.
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &from.sin_addr, sizeof(from.sin_addr));
    }
    for (int i = 0; i < nCount; ++i) {
        if (sendto(fd, pszText, std::strlen(pszText), 0, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) <
            0) {
            std::perror("sendto");
            return 1;
        }
        usleep(20000);
    }
    return 0;
}

int Spray(const char* pszDst, int nPort, int nPorts, const char* pszFrom)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(nPort));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (inet_pton(AF_INET, pszDst, &sin.sin_addr) != 1 || !IsLabAddress(sin.sin_addr) ||
        inet_pton(AF_INET, pszFrom, &from.sin_addr) != 1 || nPorts < 1 || nPorts > 40000) {
        std::fprintf(stderr, "lab_peer: refusing to spray %s from %s\n", pszDst, pszFrom);
        return 2;
    }
    unsigned char abTiny[9] = {0, 0, 0, 1, 0, 0, 0, 0, 0x61};
    // A middle segment at offset 0: the frame is never complete.
    std::vector<unsigned char> vecPin(8 + 1280, 0x5A);
    std::fill_n(vecPin.begin(), 8, 0);
    vecPin[0] = 2;
    long long nSent = 0;
    for (unsigned uRound = 0; !g_bStop; ++uRound) {
        for (int i = 0; i < nPorts && !g_bStop; ++i) {
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            const int nOn = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof(nOn));
            from.sin_port = htons(static_cast<uint16_t>(20000 + i));
            if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) == 0) {
                abTiny[3] = vecPin[3] = static_cast<unsigned char>(uRound);
                const bool bPin = i % 3 == 0;
                if (sendto(fd, bPin ? vecPin.data() : abTiny, bPin ? vecPin.size() : sizeof abTiny, 0,
                           reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) > 0)
                    ++nSent;
            }
            close(fd);
            // NPORTS in five seconds, in slices of a millisecond.
            if (i % std::max(1, nPorts / 5000) == 0)
                usleep(1000);
        }
    }
    std::printf("sent %lld\n", nSent);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGTERM, OnTerm);
    signal(SIGINT, OnTerm);
    if (argc >= 3 && std::strcmp(argv[1], "recv") == 0)
        return Recv(argv[2], argc >= 4 ? argv[3] : nullptr);
    if (argc >= 5 && std::strcmp(argv[1], "send") == 0)
        return Send(argv[2], std::atoi(argv[3]), argv[4], argc >= 6 ? std::atoi(argv[5]) : 1,
                    argc >= 7 ? argv[6] : nullptr);
    if (argc >= 6 && std::strcmp(argv[1], "spray") == 0)
        return Spray(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    std::fprintf(stderr, "usage: lab_peer recv PORTS [GROUP] | send DST PORT TEXT [COUNT [FROM]] | "
                         "spray DST PORT NPORTS FROM\n");
    return 2;
}
