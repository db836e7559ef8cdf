// A small download client for the lab test of the simulator's SD card: asks one camera for a
// time range, acknowledges every download unit as a client does (the sequences it carried and
// the continuous mark), and ends at the camera's end-of-range reply. Checks that every send
// sequence arrived once in order after reordering, each frame as the media log has it, and
// prints the CRC of the first frame for a comparison with --sd-frame.
//
//   sd_probe <client address> <camera address> <camera id> <password> <seq id 1> <seq id 2>
//            <range start> <range end> <media log>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "media.h"
#include "wire.h"

using namespace camsim;

namespace {

std::uint32_t BE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

int Udp(std::uint32_t dwBind, std::uint16_t usPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int buf = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buf, sizeof buf);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(dwBind);
    sa.sin_port = htons(usPort);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::perror("bind");
        std::exit(2);
    }
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 10) {
        std::fprintf(stderr, "usage: sd_probe CLIENT CAMERA ID PASSWORD SEQ1 SEQ2 START END LOG\n");
        return 2;
    }
    std::uint32_t dwClient = 0, dwCam = 0;
    if (!TextToAddr(argv[1], dwClient) || !TextToAddr(argv[2], dwCam))
        return 2;
    const auto dwId = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 0));
    Password pw{};
    PasswordField(argv[4], pw);
    const std::uint32_t seq[2] = {static_cast<std::uint32_t>(std::strtoul(argv[5], nullptr, 0)),
                                  static_cast<std::uint32_t>(std::strtoul(argv[6], nullptr, 0))};
    const auto dwStart = static_cast<std::uint32_t>(std::strtoul(argv[7], nullptr, 0));
    const auto dwEnd = static_cast<std::uint32_t>(std::strtoul(argv[8], nullptr, 0));

    const int fdMedia = Udp(dwClient, PORT_DOWNLOAD), fdCmd = Udp(dwClient, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(dwCam);
    to.sin_port = htons(PORT_VIEWER_UNI);
    auto request = [&](std::uint8_t bCode, const Bytes& body) {
        const Bytes pkt = BuildViewerRequest(bCode, 0x0A0B0C0D, dwId, body);
        sendto(fdCmd, pkt.data(), pkt.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    };
    Bytes range;
    PutU32(range, dwStart); // reliable sequence number: one the camera has not seen from us
    Bytes body;
    PutU32(body, 4);
    PutU8(body, 0);
    PutU8(body, 0);
    PutU32(body, dwStart);
    PutU32(body, 0);
    PutU32(body, dwEnd);
    PutU32(body, 0);
    const Bytes rt = BuildRecTimeRequest(50, body);
    range.insert(range.end(), rt.begin(), rt.end());
    request(89, range);
    const Block16 token = ExpectedToken(pw, seq, 0);
    Bytes start(token.begin(), token.end());
    PutU32(start, dwClient);
    PutU16(start, PORT_DOWNLOAD);
    PutU8(start, 0);
    PutU8(start, 1);
    request(65, start);

    struct Partial {
        std::map<std::uint32_t, Bytes> parts;
        std::size_t nEnd = 0;
    };
    std::map<std::uint16_t, Partial> open;
    std::map<std::uint32_t, Bytes> frames; // by send sequence
    std::uint32_t dwContinuous = 0;        // the next sequence expected; all below are in
    std::size_t nUnits = 0, nRepeats = 0;
    bool bEnded = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!bEnded && std::chrono::steady_clock::now() < deadline) {
        pollfd p[2] = {{fdMedia, POLLIN, 0}, {fdCmd, POLLIN, 0}};
        if (poll(p, 2, 100) <= 0)
            continue;
        std::uint8_t buf[4096];
        if (p[1].revents & POLLIN) {
            const ssize_t n = recv(fdCmd, buf, sizeof buf, 0);
            // A reliable record-time reply: acknowledge it; 0x40 ends the range.
            if (n >= 16 + 4 + 2 && buf[1] == 0x59) {
                Bytes ack;
                PutU32(ack, BE32(buf + 16));
                request(217, ack);
                bEnded = bEnded || buf[16 + 4 + 1] == 0x40;
            }
        }
        if (!(p[0].revents & POLLIN))
            continue;
        const ssize_t n = recv(fdMedia, buf, sizeof buf, 0);
        if (n < 9)
            continue;
        const std::uint16_t usSeq = static_cast<std::uint16_t>(buf[2] << 8 | buf[3]);
        const std::uint32_t off = BE32(buf + 4) * 256;
        Bytes unit;
        if (buf[0] == 0) {
            unit.assign(buf + 8, buf + n);
        } else {
            Partial& part = open[usSeq];
            if (buf[0] == 1)
                part.nEnd = off + static_cast<std::size_t>(n - 8);
            part.parts.emplace(off, Bytes(buf + 8, buf + n));
            if (!part.nEnd)
                continue;
            for (const auto& [o, b] : part.parts) {
                if (o != unit.size())
                    break;
                unit.insert(unit.end(), b.begin(), b.end());
            }
            if (unit.size() != part.nEnd)
                continue;
            open.erase(usSeq);
        }
        ++nUnits;
        std::vector<std::uint32_t> seqs;
        for (std::size_t o = 0; o + 20 < unit.size();) {
            const std::size_t len = std::size_t(unit[o] << 8 | unit[o + 1]) | std::size_t(unit[o + 2]) << 16;
            if (len <= 20 || o + len > unit.size()) {
                std::printf("FAIL: sub-packet length %zu at %zu of a %zu-byte unit\n", len, o, unit.size());
                return 1;
            }
            const std::uint32_t q = BE32(&unit[o + 8]);
            seqs.push_back(q);
            nRepeats += !frames
                             .emplace(q, Bytes(unit.begin() + static_cast<std::ptrdiff_t>(o + 20),
                                               unit.begin() + static_cast<std::ptrdiff_t>(o + len)))
                             .second;
            o += len;
        }
        while (frames.count(dwContinuous))
            ++dwContinuous;
        Bytes ackBody;
        PutU32(ackBody, static_cast<std::uint32_t>(seqs.size()));
        for (auto q : seqs)
            PutU32(ackBody, q);
        PutU32(ackBody, dwContinuous);
        request(68, BuildRecTimeRequest(65, ackBody));
    }

    std::map<std::uint32_t, std::pair<std::size_t, std::string>> logged;
    std::ifstream log(argv[9]);
    static const std::regex re(
        R"(^media cam=(\d+) stream=download port=\d+ seq=\d+ \S+ \S+ size=(\d+) crc=([0-9a-f]{8}) .* sendseq=(\d+) .*)");
    for (std::string line; std::getline(log, line);) {
        std::smatch m;
        if (std::regex_match(line, m, re) && std::stoul(m[1]) == dwId)
            logged[static_cast<std::uint32_t>(std::stoul(m[4]))] = {std::stoul(m[2]), m[3]};
    }
    std::size_t nBad = 0;
    for (const auto& [q, f] : frames) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", Crc32(f.data(), f.size()));
        auto it = logged.find(q);
        const std::uint32_t t = f.size() > 14 ? BE32(&f[10]) : 0;
        if (it == logged.end() || it->second.first != f.size() || it->second.second != crc || t < dwStart ||
            t > dwEnd) {
            std::printf("FAIL: sub-packet %u (%zu bytes, crc %s, time %u) is not the one logged\n", q,
                        f.size(), crc, t);
            ++nBad;
        }
    }
    char first[9] = "none";
    if (frames.count(0))
        std::snprintf(first, sizeof first, "%08x", Crc32(frames[0].data(), frames[0].size()));
    std::printf("units %zu, sub-packets %zu (repeats %zu), logged %zu, continuous %u, end %s, bad %zu\n",
                nUnits, frames.size(), nRepeats, logged.size(), dwContinuous, bEnded ? "yes" : "no", nBad);
    std::printf("first_crc=%s\n", first);
    return bEnded && nBad == 0 && !frames.empty() && dwContinuous == frames.size() &&
                   frames.size() == logged.size()
               ? 0
               : 1;
}
