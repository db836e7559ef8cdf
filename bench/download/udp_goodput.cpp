// The lab link's UDP goodput with the simulator's segment size, as the download benchmark's
// baseline. Sender and receiver move 64 datagrams per system call, so that the figure is the
// link's and not the measuring program's.
//
//   udp_goodput recv ADDRESS PORT          prints {"goodput_mib_s":..., "bytes":...}
//   udp_goodput send ADDRESS PORT SECONDS  1280-byte datagrams as fast as the socket takes them
//
// The receiver waits up to 15 s for the first datagram and stops 2 s after the last; the rate
// runs from the first to the last datagram.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t SEGMENT = 1280;
constexpr unsigned BATCH = 64;

using Clock = std::chrono::steady_clock;

sockaddr_in Address(const char* pszAddress, const char* pszPort)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(std::atoi(pszPort)));
    if (inet_pton(AF_INET, pszAddress, &sa.sin_addr) != 1) {
        std::fprintf(stderr, "udp_goodput: not an address: %s\n", pszAddress);
        std::exit(2);
    }
    // A flood: only ever into the lab's range or the loopback.
    const std::uint32_t dw = ntohl(sa.sin_addr.s_addr);
    if ((dw & 0xFFFE0000u) != 0xC6120000u && (dw >> 24) != 127) {
        std::fprintf(stderr, "udp_goodput: %s is neither a lab nor a loopback address\n", pszAddress);
        std::exit(2);
    }
    return sa;
}

void SetTimeout(int fd, int nSeconds)
{
    timeval tv{nSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

int Receive(int fd, const sockaddr_in& sa)
{
    const int nBuf = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nBuf, sizeof nBuf);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        std::perror("udp_goodput: bind");
        return 1;
    }
    std::vector<char> buf(BATCH * 2048);
    std::vector<iovec> iov(BATCH);
    std::vector<mmsghdr> msgs(BATCH);
    for (unsigned i = 0; i < BATCH; ++i) {
        iov[i] = {buf.data() + i * 2048, 2048};
        msgs[i].msg_hdr = {};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    SetTimeout(fd, 15); // the sender may start late on a busy machine
    unsigned long long ullBytes = 0;
    bool bAny = false;
    Clock::time_point first, last;
    for (;;) {
        const int n = recvmmsg(fd, msgs.data(), BATCH, MSG_WAITFORONE, nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break; // the time-out: the sender is done
        }
        last = Clock::now();
        if (!bAny) {
            first = last;
            bAny = true;
            SetTimeout(fd, 2);
        }
        for (int i = 0; i < n; ++i)
            ullBytes += msgs[i].msg_len;
    }
    const double dSeconds = bAny ? std::chrono::duration<double>(last - first).count() : 0;
    std::printf("{\"goodput_mib_s\": %.3f, \"bytes\": %llu}\n",
                dSeconds > 0 ? static_cast<double>(ullBytes) / 1048576.0 / dSeconds : 0.0, ullBytes);
    return 0;
}

int Send(int fd, const sockaddr_in& sa, double dSeconds)
{
    std::vector<char> payload(SEGMENT, 'x');
    std::vector<iovec> iov(BATCH, iovec{payload.data(), SEGMENT});
    std::vector<mmsghdr> msgs(BATCH);
    for (unsigned i = 0; i < BATCH; ++i) {
        msgs[i].msg_hdr = {};
        msgs[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&sa);
        msgs[i].msg_hdr.msg_namelen = sizeof sa;
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    const auto end = Clock::now() + std::chrono::duration<double>(dSeconds);
    while (Clock::now() < end)
        if (sendmmsg(fd, msgs.data(), BATCH, 0) < 0 && errno != EINTR && errno != ENOBUFS &&
            errno != EAGAIN) {
            std::perror("udp_goodput: sendmmsg");
            return 1;
        }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string strMode = argc > 1 ? argv[1] : "";
    if (!((strMode == "recv" && argc == 4) || (strMode == "send" && argc == 5))) {
        std::fprintf(stderr, "usage: udp_goodput recv ADDRESS PORT | send ADDRESS PORT SECONDS\n");
        return 2;
    }
    const sockaddr_in sa = Address(argv[2], argv[3]);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("udp_goodput: socket");
        return 1;
    }
    const int nRc = strMode == "recv" ? Receive(fd, sa) : Send(fd, sa, std::atof(argv[4]));
    close(fd);
    return nRc;
}
