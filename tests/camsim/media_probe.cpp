// A small media client for the lab test of the simulator's streams: asks one camera for live
// video, reassembles what arrives on its own, and checks every complete frame against the
// simulator's media log (size and CRC by sequence number). Writes the codec data of the video
// frames to a file for ffprobe.
//
//   media_probe <client address> <camera address> <camera id> <password> <seq id 1> <seq id 2>
//               <seconds> <flags> <media log> <es file>
// flags: 1 the stream comes by multicast; 2 the camera drops segments, so not every frame arrives.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

int Udp(std::uint32_t dwBind, std::uint16_t usPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1, buf = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
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
    if (argc != 11) {
        std::fprintf(stderr,
                     "usage: media_probe CLIENT CAMERA ID PASSWORD SEQ1 SEQ2 SECONDS MCAST LOG ESFILE\n");
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
    const int nSeconds = std::atoi(argv[7]);
    const int nFlags = std::atoi(argv[8]);
    const bool bMulticast = (nFlags & 1) != 0, bLossy = (nFlags & 2) != 0;

    const int fdMedia = bMulticast ? Udp(GROUP_MEDIA, 8100) : Udp(dwClient, PORT_LIVE);
    if (bMulticast) {
        ip_mreq mr{};
        mr.imr_multiaddr.s_addr = htonl(GROUP_MEDIA);
        mr.imr_interface.s_addr = htonl(dwClient);
        if (setsockopt(fdMedia, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mr, sizeof mr) != 0) {
            std::perror("join");
            return 2;
        }
    }
    const int fdCmd = Udp(dwClient, 0);
    const Block16 token = ExpectedToken(pw, seq, 0);
    Bytes body(token.begin(), token.end());
    PutU32(body, dwClient);
    PutU16(body, PORT_LIVE);
    PutU8(body, 0);
    PutU8(body, 0);
    const Bytes req = BuildViewerRequest(65, 0x0A0B0C0D, dwId, body);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(dwCam);
    to.sin_port = htons(PORT_VIEWER_UNI);
    sendto(fdCmd, req.data(), req.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);

    struct Partial {
        std::map<std::uint32_t, Bytes> parts;
        std::size_t nEnd = 0;
    };
    std::map<std::uint16_t, Partial> open;
    std::map<std::uint16_t, Bytes> units;
    std::vector<std::uint16_t> order;
    std::size_t nDatagrams = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fdMedia, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        std::uint8_t buf[2000];
        const ssize_t n = recv(fdMedia, buf, sizeof buf, 0);
        if (n < 9)
            continue;
        ++nDatagrams;
        const std::uint16_t usSeq = static_cast<std::uint16_t>(buf[2] << 8 | buf[3]);
        const std::uint32_t off = (std::uint32_t(buf[4]) << 24 | std::uint32_t(buf[5]) << 16 |
                                   std::uint32_t(buf[6]) << 8 | buf[7]) *
                                  256;
        Bytes payload(buf + 8, buf + n);
        if (buf[0] == 0) {
            units[usSeq] = std::move(payload);
            order.push_back(usSeq);
            continue;
        }
        Partial& part = open[usSeq];
        if (buf[0] == 1)
            part.nEnd = off + payload.size();
        part.parts.emplace(off, std::move(payload));
        if (!part.nEnd)
            continue;
        Bytes unit;
        for (const auto& [o, b] : part.parts) {
            if (o != unit.size())
                break;
            unit.insert(unit.end(), b.begin(), b.end());
        }
        if (unit.size() == part.nEnd) {
            units[usSeq] = std::move(unit);
            order.push_back(usSeq);
            open.erase(usSeq);
        }
    }

    // The log: the camera's frames by sequence number.
    std::map<std::uint16_t, std::pair<std::size_t, std::string>> logged;
    std::ifstream log(argv[9]);
    static const std::regex re(
        R"(^media cam=(\d+) stream=(live|audio) port=\d+ seq=(\d+) \S+ \S+ size=(\d+) crc=([0-9a-f]{8}) .*)");
    for (std::string line; std::getline(log, line);) {
        std::smatch m;
        if (std::regex_match(line, m, re) && std::stoul(m[1]) == dwId)
            logged[static_cast<std::uint16_t>(std::stoul(m[3]))] = {std::stoul(m[4]), m[5]};
    }
    std::ofstream es(argv[10], std::ios::binary);
    std::size_t nVideo = 0, nAudio = 0, nBad = 0;
    for (std::uint16_t s : order) {
        const Bytes& u = units[s];
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", Crc32(u.data(), u.size()));
        auto it = logged.find(s);
        if (it == logged.end() || it->second.first != u.size() || it->second.second != crc) {
            std::printf("FAIL: frame %u of %zu bytes, crc %s, is not the one logged\n", s, u.size(), crc);
            ++nBad;
            continue;
        }
        if (u[0] == TYPE_AUDIO) {
            ++nAudio;
            continue;
        }
        ++nVideo;
        const std::size_t off = CodecDataOffset(u);
        es.write(reinterpret_cast<const char*>(u.data() + off), static_cast<std::streamsize>(u.size() - off));
    }
    // Frames the camera sent up to the last one that arrived; the camera streams on after that.
    std::size_t nSent = 0;
    if (!order.empty())
        for (const auto& [q, v] : logged)
            nSent += q <= *std::max_element(order.begin(), order.end());
    std::printf("datagrams %zu, frames sent %zu, received video %zu, audio %zu, not as logged %zu\n",
                nDatagrams, nSent, nVideo, nAudio, nBad);
    std::printf("video_frames=%zu\n", nVideo);
    // Without faults everything arrives; with them, what arrives is still exactly what was sent.
    if (bLossy)
        return nBad == 0 && nVideo > 0 && nVideo + nAudio < nSent ? 0 : 1;
    return nBad == 0 && nVideo > 0 && nVideo + nAudio == nSent ? 0 : 1;
}
