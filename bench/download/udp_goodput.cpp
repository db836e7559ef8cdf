// The lab link's UDP goodput with the simulator's segment size, as the download benchmark's
// baseline. Sender and receiver move 64 datagrams per system call, so that the figure is the
// link's and not the measuring program's.
//
//   udp_goodput recv ADDRESS PORT          prints {"goodput_mib_s":..., "bytes":...}
//   udp_goodput send ADDRESS PORT SECONDS  1280-byte datagrams as fast as the socket takes them
//
// The lossy case's baseline counts units, as a download's receiver does: a unit (a camera's
// datagram of whole frames) is cut into 1280-byte segments, each segment is lost with the given
// chance (seeded), and only units that arrived whole count:
//   udp_goodput recv-units ADDRESS PORT   prints {"goodput_mib_s", "bytes", "units", "whole"}
//   udp_goodput send-units ADDRESS PORT SECONDS SIZES LOSS SEED   (SIZES: a unit size a line)
//   udp_goodput ceiling SIZES LOSS        what share of the bytes can arrive whole (below)
//
// The receiver waits up to 15 s for the first datagram and stops 2 s after the last; the rate
// runs from the first to the last datagram.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>
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

// Each segment of a unit starts with where it belongs.
struct SegmentHeader {
    std::uint32_t dwUnit;
    std::uint32_t dwUnitBytes;
    std::uint16_t usIndex;
    std::uint16_t usCount;
};

std::uint16_t SegmentCount(std::uint32_t dwBytes)
{
    return static_cast<std::uint16_t>(std::max<std::uint32_t>(1, (dwBytes + SEGMENT - 1) / SEGMENT));
}

std::vector<std::uint32_t> ReadSizes(const char* pszFile)
{
    std::vector<std::uint32_t> vec;
    std::ifstream in(pszFile);
    for (double d = 0; in >> d;)
        if (d >= sizeof(SegmentHeader) && d < 16e6)
            vec.push_back(static_cast<std::uint32_t>(d));
    if (vec.empty()) {
        std::fprintf(stderr, "udp_goodput: no unit sizes in %s\n", pszFile);
        std::exit(2);
    }
    return vec;
}

// The share of the bytes that can arrive whole when each segment is lost with chance dLoss:
// sent once, a unit of n segments arrives whole with (1 - loss)^n. Sent again byte for byte
// until it is whole, with the receiver filling holes from every copy, a unit is whole after k
// sends with (1 - loss^k)^n; the link then carries E[k] copies of it, and 1 / E[k] (over the
// bytes) is what a clean link's goodput can keep at best.
int Ceiling(const char* pszSizes, double dLoss)
{
    double dBytes = 0, dFirst = 0, dCopies = 0;
    for (const std::uint32_t dw : ReadSizes(pszSizes)) {
        const double n = SegmentCount(dw);
        double dExpected = 0;
        for (int k = 0; k < 64; ++k)
            dExpected += 1 - std::pow(1 - std::pow(dLoss, k), n);
        dBytes += dw;
        dFirst += dw * std::pow(1 - dLoss, n);
        dCopies += dw * dExpected;
    }
    std::printf("{\"first_send_whole\": %.4f, \"resend_ceiling\": %.4f}\n", dFirst / dBytes,
                dBytes / dCopies);
    return 0;
}

// Binds, then reads batches until the sender has been quiet for 2 s (up to 15 s for the first,
// as the sender may start late on a busy machine), handing each batch to onBatch(msgs, buf, n).
// Returns the seconds from the first to the last batch, or -1 when the bind fails.
template <class OnBatch> double ReceiveBatches(int fd, const sockaddr_in& sa, OnBatch onBatch)
{
    const int nBuf = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nBuf, sizeof nBuf);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        std::perror("udp_goodput: bind");
        return -1;
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
    SetTimeout(fd, 15);
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
        onBatch(msgs, buf, n);
    }
    return bAny ? std::chrono::duration<double>(last - first).count() : 0;
}

int ReceiveUnits(int fd, const sockaddr_in& sa)
{
    std::unordered_map<std::uint32_t, std::uint16_t> mapSeen; // segments of units not yet whole
    unsigned long long ullBytes = 0, ullUnits = 0, ullWhole = 0;
    std::uint32_t dwLastUnit = 0;
    bool bAny = false;
    const double dSeconds =
        ReceiveBatches(fd, sa, [&](const std::vector<mmsghdr>& msgs, const std::vector<char>& buf, int n) {
            bAny = true;
            for (int i = 0; i < n; ++i) {
                if (msgs[i].msg_len < sizeof(SegmentHeader))
                    continue;
                SegmentHeader h;
                std::memcpy(&h, buf.data() + i * 2048, sizeof h);
                dwLastUnit = std::max(dwLastUnit, h.dwUnit);
                if (++mapSeen[h.dwUnit] == h.usCount) {
                    mapSeen.erase(h.dwUnit);
                    ullBytes += h.dwUnitBytes;
                    ++ullWhole;
                }
            }
        });
    if (dSeconds < 0)
        return 1;
    ullUnits = bAny ? dwLastUnit + 1ULL : 0;
    std::printf("{\"goodput_mib_s\": %.3f, \"bytes\": %llu, \"units\": %llu, \"whole\": %llu}\n",
                dSeconds > 0 ? static_cast<double>(ullBytes) / 1048576.0 / dSeconds : 0.0, ullBytes, ullUnits,
                ullWhole);
    return 0;
}

int SendUnits(int fd, const sockaddr_in& sa, double dSeconds, const char* pszSizes, double dLoss,
              unsigned uSeed)
{
    const std::vector<std::uint32_t> vecSizes = ReadSizes(pszSizes);
    std::mt19937 rng(uSeed);
    std::bernoulli_distribution lost(dLoss);
    std::vector<char> payloads(BATCH * SEGMENT, 'x');
    std::vector<iovec> iov(BATCH);
    std::vector<mmsghdr> msgs(BATCH);
    unsigned nQueued = 0;
    auto flush = [&] {
        for (unsigned i = 0; i < nQueued;) {
            const int n = sendmmsg(fd, msgs.data() + i, nQueued - i, 0);
            if (n < 0 && errno != EINTR && errno != ENOBUFS && errno != EAGAIN) {
                std::perror("udp_goodput: sendmmsg");
                std::exit(1);
            }
            i += n > 0 ? static_cast<unsigned>(n) : 0;
        }
        nQueued = 0;
    };
    const auto end = Clock::now() + std::chrono::duration<double>(dSeconds);
    for (std::uint32_t dwUnit = 0; Clock::now() < end; ++dwUnit) {
        const std::uint32_t dwBytes = vecSizes[dwUnit % vecSizes.size()];
        const std::uint16_t usCount = SegmentCount(dwBytes);
        for (std::uint16_t k = 0; k < usCount; ++k) {
            // A lost segment is never sent, as with the simulator's loss on the way out.
            if (lost(rng))
                continue;
            const std::size_t nLen = k + 1 < usCount ? SEGMENT : dwBytes - SEGMENT * k;
            char* p = payloads.data() + nQueued * SEGMENT;
            const SegmentHeader h{dwUnit, dwBytes, k, usCount};
            std::memcpy(p, &h, sizeof h);
            iov[nQueued] = {p, std::max(nLen, sizeof h)};
            msgs[nQueued].msg_hdr = {};
            msgs[nQueued].msg_hdr.msg_name = const_cast<sockaddr_in*>(&sa);
            msgs[nQueued].msg_hdr.msg_namelen = sizeof sa;
            msgs[nQueued].msg_hdr.msg_iov = &iov[nQueued];
            msgs[nQueued].msg_hdr.msg_iovlen = 1;
            if (++nQueued == BATCH)
                flush();
        }
    }
    flush();
    return 0;
}

int Receive(int fd, const sockaddr_in& sa)
{
    unsigned long long ullBytes = 0;
    const double dSeconds =
        ReceiveBatches(fd, sa, [&](const std::vector<mmsghdr>& msgs, const std::vector<char>&, int n) {
            for (int i = 0; i < n; ++i)
                ullBytes += msgs[i].msg_len;
        });
    if (dSeconds < 0)
        return 1;
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
    if (strMode == "ceiling" && argc == 4)
        return Ceiling(argv[2], std::atof(argv[3]));
    if (!((strMode == "recv" && argc == 4) || (strMode == "send" && argc == 5) ||
          (strMode == "recv-units" && argc == 4) || (strMode == "send-units" && argc == 8))) {
        std::fprintf(stderr,
                     "usage: udp_goodput recv ADDRESS PORT | send ADDRESS PORT SECONDS |\n"
                     "       recv-units ADDRESS PORT | send-units ADDRESS PORT SECONDS SIZES LOSS SEED |\n"
                     "       ceiling SIZES LOSS\n");
        return 2;
    }
    const sockaddr_in sa = Address(argv[2], argv[3]);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("udp_goodput: socket");
        return 1;
    }
    int nRc = 0;
    if (strMode == "recv")
        nRc = Receive(fd, sa);
    else if (strMode == "send")
        nRc = Send(fd, sa, std::atof(argv[4]));
    else if (strMode == "recv-units")
        nRc = ReceiveUnits(fd, sa);
    else
        nRc = SendUnits(fd, sa, std::atof(argv[4]), argv[5], std::atof(argv[6]),
                        static_cast<unsigned>(std::strtoul(argv[7], nullptr, 10)));
    close(fd);
    return nRc;
}
