// A small client for the lab smoke test: searches one simulated camera by multicast and by
// unicast, clear and encrypted, asks its network parameters over the LAN protocol, sends an
// online command with a wrong check value, and checks every answer byte by byte.
//
//   camsim_probe <client address> <camera address> <camera id> <serial> <password> <control socket>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "wire.h"

using namespace camsim;

namespace {

int g_nFailures = 0;

void Check(bool b, const std::string& what)
{
    std::printf("%s: %s\n", b ? "ok  " : "FAIL", what.c_str());
    if (!b)
        ++g_nFailures;
}

int Udp(std::uint32_t dwBind, std::uint16_t usPort, std::uint32_t dwJoin, std::uint32_t dwIf)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(dwBind);
    sa.sin_port = htons(usPort);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::perror("bind");
        return -1;
    }
    in_addr ifa{htonl(dwIf)};
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifa, sizeof ifa);
    if (dwJoin) {
        ip_mreq mr{};
        mr.imr_multiaddr.s_addr = htonl(dwJoin);
        mr.imr_interface.s_addr = htonl(dwIf);
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mr, sizeof mr) != 0)
            std::perror("join");
    }
    return fd;
}

void SendTo(int fd, const Bytes& b, std::uint32_t dwAddr, std::uint16_t usPort)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(dwAddr);
    sa.sin_port = htons(usPort);
    sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

// The first datagram within two seconds that the filter takes; empty when none.
template <typename F> Bytes Receive(int fd, std::uint32_t& dwFrom, F accept)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        std::uint8_t buf[4096];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0)
            continue;
        Bytes b(buf, buf + n);
        if (accept(b)) {
            dwFrom = ntohl(from.sin_addr.s_addr);
            return b;
        }
    }
    return {};
}

std::uint32_t BE32(const Bytes& b, std::size_t off)
{
    return std::uint32_t(b[off]) << 24 | std::uint32_t(b[off + 1]) << 16 | std::uint32_t(b[off + 2]) << 8 |
           b[off + 3];
}

std::uint32_t LE32(const Bytes& b, std::size_t off)
{
    return std::uint32_t(b[off + 3]) << 24 | std::uint32_t(b[off + 2]) << 16 |
           std::uint32_t(b[off + 1]) << 8 | b[off];
}

void CheckSearchReply(const char* pszHow, Bytes reply, bool bEncrypted, std::uint32_t dwFrom,
                      std::uint32_t dwCamera, std::uint32_t dwId, std::uint32_t dwClient,
                      const std::string& serial, const Password& pw)
{
    const std::string how = pszHow;
    Check(!reply.empty(), how + ": a reply arrived");
    if (reply.empty())
        return;
    if (bEncrypted)
        CipherDecrypt(reply.data(), reply.size());
    Check(reply.size() >= 16 + 98 && reply[0] == 0x90 && reply[1] == 0x81, how + ": magic 0x90, code 0x81");
    if (reply.size() < 16 + 98)
        return;
    Check(BE32(reply, 4) >> 16 == reply.size(), how + ": total length");
    Check(LE32(reply, 8) == dwId, how + ": camera id least significant byte first");
    Check(BE32(reply, 12) == dwClient, how + ": client id big-endian");
    Check(dwFrom == dwCamera, how + ": sent from the camera's address");
    Check(std::string(reinterpret_cast<const char*>(&reply[16 + 32])).substr(0, 20) == serial,
          how + ": serial");
    // Check value at body offset 32+20+1+1+6+12+4 = 76; sequence ids at 76+16+4+4+2+1+1 = 104.
    const std::size_t nCheck = 16 + 76, nSeq = 16 + 104;
    Check(reply.size() >= nSeq + 8, how + ": sequence ids present");
    if (reply.size() < nSeq + 8)
        return;
    const std::uint32_t seq[2] = {LE32(reply, nSeq), LE32(reply, nSeq + 4)};
    const Block16 expect = CheckValue(pw, seq, reply[16 + 32 + 20 + 2 + 5]);
    Check(std::memcmp(expect.data(), &reply[nCheck], 16) == 0, how + ": check value matches the password");
}

std::string Control(const std::string& path, const std::string& line)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un su{};
    su.sun_family = AF_UNIX;
    std::snprintf(su.sun_path, sizeof su.sun_path, "%s", path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&su), sizeof su) != 0) {
        close(fd);
        return {};
    }
    const std::string out = line + "\n";
    (void)!write(fd, out.data(), out.size());
    std::string answer;
    char buf[65536];
    ssize_t n;
    while (answer.find('\n') == std::string::npos && (n = read(fd, buf, sizeof buf)) > 0)
        answer.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return answer;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr,
                     "usage: camsim_probe <client addr> <camera addr> <id> <serial> <password> <control>\n");
        return 2;
    }
    std::uint32_t dwClient = 0, dwCamera = 0;
    if (!TextToAddr(argv[1], dwClient) || !TextToAddr(argv[2], dwCamera))
        return 2;
    const std::uint32_t dwId = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 0));
    const std::string serial = argv[4];
    Password pw{};
    PasswordField(argv[5], pw);
    const std::string control = argv[6];

    const int fdMc = Udp(0, PORT_VIEWER_MCAST, GROUP_VIEWER_REPLY, dwClient);
    const int fdMcEnc = Udp(0, PORT_VIEWER_MCAST_ENC, GROUP_VIEWER_REPLY_ENC, dwClient);
    const int fdUni = Udp(dwClient, PORT_VIEWER_UNI, 0, dwClient);
    const int fdUniEnc = Udp(dwClient, PORT_VIEWER_UNI_ENC, 0, dwClient);
    const int fdLan = Udp(0, PORT_LAN_MCAST, GROUP_LAN_REPLY, dwClient);
    if (fdMc < 0 || fdMcEnc < 0 || fdUni < 0 || fdUniEnc < 0 || fdLan < 0)
        return 1;
    const Bytes search = BuildViewerRequest(1, dwClient, 0, {});
    Bytes searchEnc = search;
    CipherEncrypt(searchEnc.data(), searchEnc.size());
    auto isSearchReply = [](bool bEnc) {
        return [bEnc](const Bytes& b) {
            if (b.size() < 16 || b[0] != 0x90)
                return false;
            Bytes c = b;
            if (bEnc)
                CipherDecrypt(c.data(), c.size());
            return c[1] == 0x81;
        };
    };
    std::uint32_t dwFrom = 0;

    SendTo(fdMc, search, GROUP_VIEWER_REQ, PORT_VIEWER_MCAST);
    Bytes r = Receive(fdMc, dwFrom, isSearchReply(false));
    CheckSearchReply("multicast clear", r, false, dwFrom, dwCamera, dwId, dwClient, serial, pw);

    SendTo(fdUni, search, dwCamera, PORT_VIEWER_UNI);
    r = Receive(fdUni, dwFrom, isSearchReply(false));
    CheckSearchReply("unicast clear", r, false, dwFrom, dwCamera, dwId, dwClient, serial, pw);

    SendTo(fdMcEnc, searchEnc, GROUP_VIEWER_REQ_ENC, PORT_VIEWER_MCAST_ENC);
    r = Receive(fdMcEnc, dwFrom, isSearchReply(true));
    CheckSearchReply("multicast encrypted", r, true, dwFrom, dwCamera, dwId, dwClient, serial, pw);

    SendTo(fdUniEnc, searchEnc, dwCamera, PORT_VIEWER_UNI_ENC);
    r = Receive(fdUniEnc, dwFrom, isSearchReply(true));
    CheckSearchReply("unicast encrypted", r, true, dwFrom, dwCamera, dwId, dwClient, serial, pw);

    // LAN: the network-parameter query has no body and reaches every camera by multicast.
    SendTo(fdLan, BuildLanPacket(2, {}), GROUP_LAN_REQ, PORT_LAN_MCAST);
    r = Receive(fdLan, dwFrom, [](const Bytes& b) { return b.size() >= 16 && b[0] == 0x80 && b[1] == 0x81; });
    Check(r.size() == 16 + 128, "LAN network parameters: 0x81 with a 128-byte body on 236.5.7.2");
    if (r.size() == 16 + 128) {
        Check(std::string(reinterpret_cast<const char*>(&r[16])).substr(0, 20) == serial, "LAN: serial");
        Check(BE32(r, 16 + 40) == dwCamera, "LAN: address");
    }

    // An online command whose check value was taken over the bytes as they travel is ignored
    // and counted; one with the right check value is answered.
    const std::uint32_t params[5] = {0, 0, 0, 0, 0};
    Bytes good = BuildOnlineRequest(0x20000000, params);
    Bytes bad = good;
    const std::uint32_t dwWrong = Crc32(bad.data(), 28);
    for (int i = 0; i < 4; ++i)
        bad[28 + i] = static_cast<std::uint8_t>(dwWrong >> (24 - 8 * i));
    Control(control, "reset-counters all");
    SendTo(fdUni, BuildViewerRequest(8, dwClient, dwId, bad), dwCamera, PORT_VIEWER_UNI);
    SendTo(fdUni, BuildViewerRequest(8, dwClient, dwId, good), dwCamera, PORT_VIEWER_UNI);
    r = Receive(fdUni, dwFrom, [](const Bytes& b) { return b.size() >= 24 && b[0] == 0x90 && b[1] == 0x08; });
    Check(r.size() >= 24 && BE32(r, 20) == 0x40000000,
          "online command with the right check value answered (0x40000000)");
    const std::string dump = Control(control, "dump " + std::to_string(dwId));
    Check(dump.find("\"wrong_check\":1") != std::string::npos, "control dump counts one wrong check value");

    std::printf("%d failure(s)\n", g_nFailures);
    return g_nFailures ? 1 : 0;
}
