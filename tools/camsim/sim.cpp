#include "sim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace camsim {

using nlohmann::json;

namespace {

volatile std::sig_atomic_t g_bSignalled = 0;

void OnSignal(int)
{
    g_bSignalled = 1;
}

bool IsOurGroup(std::uint32_t dwAddr)
{
    return dwAddr == GROUP_VIEWER_REPLY || dwAddr == GROUP_VIEWER_REPLY_ENC || dwAddr == GROUP_LAN_REPLY ||
           dwAddr == GROUP_MEDIA;
}

sockaddr_in SockAddr(std::uint32_t dwAddr, std::uint16_t usPort)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(dwAddr);
    sa.sin_port = htons(usPort);
    return sa;
}

std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

void InstallSignalHandlers()
{
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

CSimulator::CSimulator(Scenario scenario, SimOptions options)
    : m_scenario(std::move(scenario)), m_options(std::move(options)), m_viewer(*this), m_lan(*this)
{
    m_media = std::make_unique<CMediaEngine>(
        *this,
        [this](Camera& root, std::uint32_t dwDst, std::uint16_t usPort, const Bytes& data) {
            SendMedia(root, dwDst, usPort, data);
        },
        [this](Camera& cam, Bytes packet) { m_viewer.QueueRecTimeReply(cam, std::move(packet)); },
        m_scenario.dwSeed);
}

CSimulator::~CSimulator()
{
    for (auto& [fd, s] : m_socks)
        close(fd);
    if (m_epoll >= 0)
        close(m_epoll);
    if (!m_options.strControlPath.empty())
        unlink(m_options.strControlPath.c_str());
}

std::uint64_t CSimulator::NowMs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void CSimulator::Log(const std::string& strLine)
{
    if (m_options.bVerbose)
        std::cerr << "camsim: " << strLine << std::endl;
}

void CSimulator::After(std::uint32_t dwMs, std::function<void()> fn)
{
    m_timers.emplace(NowMs() + dwMs, std::move(fn));
}

void CSimulator::Watch(int fd, Kind kind, Camera* pCam)
{
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    Sock s;
    s.fd = fd;
    s.kind = kind;
    s.pCam = pCam;
    m_socks[fd] = std::move(s);
}

void CSimulator::Unwatch(int fd)
{
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    m_socks.erase(fd);
    close(fd);
}

int CSimulator::OpenUdp(std::uint32_t dwAddr, std::uint16_t usPort, bool bFreeBind, std::string& strError)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        strError = Errno("socket");
        return -1;
    }
    const int one = 1, zero = 0;
    if (bFreeBind) {
        // A camera moved to a lab address this namespace does not hold still sends from it.
        setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &one, sizeof one);
        setsockopt(fd, IPPROTO_IP, IP_TRANSPARENT, &one, sizeof one);
    }
    const sockaddr_in sa = SockAddr(dwAddr, usPort);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        strError = Errno("bind " + AddrToText(dwAddr) + ":" + std::to_string(usPort));
        close(fd);
        return -1;
    }
    // Multicast replies leave through the interface holding the camera's address.
    in_addr ifAddr{htonl(dwAddr)};
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &zero, sizeof zero);
    const int ttl = 1;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    return fd;
}

bool CSimulator::BindCamera(Camera& cam, std::string& strError)
{
    CamSocks cs;
    const bool bFree = false;
    auto open = [&](std::uint16_t usPort, Kind kind, int& fdOut) -> bool {
        int fd = OpenUdp(cam.dwAddr, usPort, bFree, strError);
        if (fd < 0 && errno == EADDRNOTAVAIL && IsLabAddress(cam.dwAddr))
            fd = OpenUdp(cam.dwAddr, usPort, true, strError);
        if (fd < 0)
            return false;
        Watch(fd, kind, &cam);
        fdOut = fd;
        return true;
    };
    bool bOk = true;
    if (cam.enCipher != CipherMode::Encrypted)
        bOk = bOk && open(PORT_VIEWER_UNI, Kind::ViewerUni, cs.fdViewer);
    if (cam.enCipher != CipherMode::Clear)
        bOk = bOk && open(PORT_VIEWER_UNI_ENC, Kind::ViewerUniEnc, cs.fdViewerEnc);
    bOk = bOk && open(PORT_LAN_UNI, Kind::LanUni, cs.fdLan);
    m_camSocks[&cam] = cs;
    if (!bOk)
        CloseCamera(cam);
    return bOk;
}

void CSimulator::CloseCamera(Camera& cam)
{
    auto it = m_camSocks.find(&cam);
    if (it == m_camSocks.end())
        return;
    for (int fd : {it->second.fdViewer, it->second.fdViewerEnc, it->second.fdLan})
        if (fd >= 0)
            Unwatch(fd);
    if (it->second.fdMedia >= 0)
        close(it->second.fdMedia);
    m_camSocks.erase(it);
}

bool CSimulator::OpenGroup(Kind kind, std::uint32_t dwGroup, std::uint16_t usPort, std::string& strError)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        strError = Errno("socket");
        return false;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Bound to the group itself, so only that group's datagrams arrive here.
    const sockaddr_in sa = SockAddr(dwGroup, usPort);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        strError = Errno("bind " + AddrToText(dwGroup) + ":" + std::to_string(usPort));
        close(fd);
        return false;
    }
    for (std::uint32_t ifIndex : m_groupIfIndex) {
        ip_mreqn mr{};
        mr.imr_multiaddr.s_addr = htonl(dwGroup);
        mr.imr_ifindex = static_cast<int>(ifIndex);
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mr, sizeof mr) != 0) {
            strError = Errno("join " + AddrToText(dwGroup));
            close(fd);
            return false;
        }
    }
    Watch(fd, kind, nullptr);
    return true;
}

bool CSimulator::Open(std::string& strError)
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        strError = Errno("epoll_create1");
        return false;
    }
    // Three sockets per camera; a thousand cameras need more than the usual soft limit.
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        const rlim_t need = 4 * m_scenario.cameras.size() + 64;
        if (rl.rlim_cur < need) {
            rl.rlim_cur = std::max<rlim_t>(need, std::min<rlim_t>(rl.rlim_max, 65536));
            if (rl.rlim_max < rl.rlim_cur)
                rl.rlim_max = rl.rlim_cur;
            setrlimit(RLIMIT_NOFILE, &rl);
        }
    }
    for (auto& cam : m_scenario.cameras) {
        if (!BindCamera(*cam, strError)) {
            strError = "camera " + std::to_string(cam->dwId) + ": " + strError;
            return false;
        }
    }

    // The request groups are joined on the interfaces that hold the cameras' addresses,
    // unless the caller names them.
    std::set<std::string> names(m_options.interfaces.begin(), m_options.interfaces.end());
    if (names.empty()) {
        std::set<std::uint32_t> camAddrs;
        for (auto& cam : m_scenario.cameras)
            camAddrs.insert(cam->dwAddr);
        ifaddrs* pList = nullptr;
        if (getifaddrs(&pList) == 0) {
            for (ifaddrs* p = pList; p; p = p->ifa_next) {
                if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET || (p->ifa_flags & IFF_LOOPBACK))
                    continue;
                const auto dw = ntohl(reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
                if (camAddrs.count(dw))
                    names.insert(p->ifa_name);
            }
            freeifaddrs(pList);
        }
    }
    for (const auto& name : names) {
        const unsigned idx = if_nametoindex(name.c_str());
        if (!idx) {
            strError = "no interface " + name;
            return false;
        }
        m_groupIfIndex.push_back(idx);
    }
    if (!m_groupIfIndex.empty()) {
        if (!OpenGroup(Kind::ViewerGroup, GROUP_VIEWER_REQ, PORT_VIEWER_MCAST, strError) ||
            !OpenGroup(Kind::ViewerGroupEnc, GROUP_VIEWER_REQ_ENC, PORT_VIEWER_MCAST_ENC, strError) ||
            !OpenGroup(Kind::LanGroup, GROUP_LAN_REQ, PORT_LAN_MCAST, strError))
            return false;
    }

    // The clips are encoded beside the event loop: the cameras answer at once.
    std::vector<Camera*> cams;
    for (auto& cam : m_scenario.cameras)
        cams.push_back(cam.get());
    if (!m_media->Prepare(cams, strError, false))
        return false;
    if (!m_options.strMediaLog.empty()) {
        if (m_options.strMediaLog != "-") {
            m_mediaLog.open(m_options.strMediaLog, std::ios::out | std::ios::trunc);
            if (!m_mediaLog) {
                strError = "cannot write " + m_options.strMediaLog;
                return false;
            }
        }
        m_media->SetFrameLog(m_options.strMediaLog == "-" ? &std::cout : &m_mediaLog);
    }

    if (!m_options.strControlPath.empty()) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un su{};
        su.sun_family = AF_UNIX;
        if (m_options.strControlPath.size() >= sizeof su.sun_path) {
            strError = "control socket path too long";
            return false;
        }
        std::strcpy(su.sun_path, m_options.strControlPath.c_str());
        struct stat st {};
        if (lstat(su.sun_path, &st) == 0 && S_ISSOCK(st.st_mode))
            unlink(su.sun_path);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&su), sizeof su) != 0 || listen(fd, 8) != 0) {
            strError = Errno("control socket " + m_options.strControlPath);
            if (fd >= 0)
                close(fd);
            return false;
        }
        Watch(fd, Kind::ControlListen, nullptr);
    }
    return true;
}

void CSimulator::Send(Camera& host, Channel ch, std::uint32_t dwDst, std::uint16_t usPort, Bytes data)
{
    // Never anything outside the lab, whatever a request claimed as its source.
    if (!IsOurGroup(dwDst) && !IsLabAddress(dwDst) && !IsLoopback(dwDst)) {
        m_uDroppedUnsafe++;
        Log("refused to send to " + AddrToText(dwDst));
        return;
    }
    bool bChanged = false;
    auto deliveries = ApplyFaults(host.faults.out, host.rng, data, bChanged);
    if (bChanged)
        host.counters.faultsApplied++;
    Camera* pHost = &host;
    for (auto& d : deliveries) {
        auto fn = [this, pHost, ch, dwDst, usPort, bytes = std::move(d.data)] {
            auto it = m_camSocks.find(pHost);
            if (it == m_camSocks.end())
                return;
            const int fd = ch == Channel::ViewerClear       ? it->second.fdViewer
                           : ch == Channel::ViewerEncrypted ? it->second.fdViewerEnc
                                                            : it->second.fdLan;
            if (fd < 0)
                return;
            const sockaddr_in sa = SockAddr(dwDst, usPort);
            if (sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) <
                0)
                Log(Errno("sendto " + AddrToText(dwDst)));
        };
        if (d.dwDelayMs)
            After(d.dwDelayMs, std::move(fn));
        else
            fn();
    }
}

void CSimulator::SendMedia(Camera& root, std::uint32_t dwDst, std::uint16_t usPort, const Bytes& data)
{
    if (!IsOurGroup(dwDst) && !IsLabAddress(dwDst) && !IsLoopback(dwDst)) {
        m_uDroppedUnsafe++;
        Log("refused to send media to " + AddrToText(dwDst));
        return;
    }
    auto it = m_camSocks.find(&root);
    if (it == m_camSocks.end() || !root.bOnline || root.uBackAt)
        return; // moved away, offline or rebooting: the stream goes nowhere
    int& fd = it->second.fdMedia;
    if (fd < 0) {
        std::string strError;
        fd = OpenUdp(root.dwAddr, 0, false, strError);
        if (fd < 0 && IsLabAddress(root.dwAddr))
            fd = OpenUdp(root.dwAddr, 0, true, strError);
        if (fd < 0) {
            Log("camera " + std::to_string(root.dwId) + ": no media socket: " + strError);
            return;
        }
        // A key frame leaves as one burst of segments.
        const int nBuf = 4 << 20;
        if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &nBuf, sizeof nBuf) != 0)
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &nBuf, sizeof nBuf);
    }
    const sockaddr_in sa = SockAddr(dwDst, usPort);
    if (sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0)
        Log(Errno("media sendto " + AddrToText(dwDst)));
}

void CSimulator::OnVideoStart(Camera& cam, bool bByMulticast)
{
    m_media->OnVideoStart(cam, bByMulticast);
}

void CSimulator::OnVideoStop(Camera& cam)
{
    m_media->OnVideoStop(cam);
}

void CSimulator::OnRecTimeMedia(Camera& cam, std::uint8_t bCode, const std::uint8_t* pBody, std::size_t nBody)
{
    m_media->OnRecTime(cam, bCode, pBody, nBody);
}

void CSimulator::OnTalkAudio(Camera& cam, const std::uint8_t* pData, std::size_t nLen)
{
    m_media->OnTalkAudio(cam, pData, nLen);
}

void CSimulator::MoveCamera(Camera& host, std::uint32_t dwNewAddr)
{
    if (!IsLabAddress(dwNewAddr)) {
        // Keeps its state, but has no socket to speak from any more.
        Log("camera " + std::to_string(host.dwId) + " moved outside the lab to " + AddrToText(dwNewAddr) +
            "; silent");
        CloseCamera(host);
        host.dwAddr = dwNewAddr;
        for (auto& c : host.children)
            c->dwAddr = dwNewAddr;
        return;
    }
    for (auto& other : m_scenario.cameras)
        if (other.get() != &host && other->dwAddr == dwNewAddr) {
            Log("camera " + std::to_string(host.dwId) + ": " + AddrToText(dwNewAddr) +
                " is taken; not moved");
            return;
        }
    CloseCamera(host);
    host.dwAddr = dwNewAddr;
    for (auto& c : host.children)
        c->dwAddr = dwNewAddr;
    std::string strError;
    if (!BindCamera(host, strError))
        std::cerr << "camsim: camera " << host.dwId << " cannot speak from its new address: " << strError
                  << std::endl;
    else
        Log("camera " + std::to_string(host.dwId) + " moved to " + AddrToText(dwNewAddr));
}

void CSimulator::Deliver(Camera& cam, Kind kind, const Bytes& data, std::uint32_t dwSrc, std::uint16_t usPort)
{
    bool bChanged = false;
    auto deliveries = ApplyFaults(cam.faults.in, cam.rng, data, bChanged);
    if (bChanged)
        cam.counters.faultsApplied++;
    Camera* pCam = &cam;
    for (auto& d : deliveries) {
        auto fn = [this, pCam, kind, dwSrc, usPort, bytes = std::move(d.data)] {
            if (kind == Kind::LanGroup || kind == Kind::LanUni) {
                m_lan.OnDatagram(*pCam, LanIn{bytes.data(), bytes.size(), dwSrc, kind == Kind::LanGroup});
            } else {
                ViewerIn in;
                in.pData = bytes.data();
                in.nLen = bytes.size();
                in.dwSrcAddr = dwSrc;
                in.usSrcPort = usPort;
                in.bMulticast = kind == Kind::ViewerGroup || kind == Kind::ViewerGroupEnc;
                in.bEncrypted = kind == Kind::ViewerGroupEnc || kind == Kind::ViewerUniEnc;
                m_viewer.OnDatagram(*pCam, in);
            }
        };
        if (d.dwDelayMs)
            After(d.dwDelayMs, std::move(fn));
        else
            fn();
    }
}

void CSimulator::OnReadable(int fd)
{
    auto it = m_socks.find(fd);
    if (it == m_socks.end())
        return;
    Sock& s = it->second;
    if (s.kind == Kind::ControlListen) {
        const int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0)
            Watch(c, Kind::ControlConn, nullptr);
        return;
    }
    if (s.kind == Kind::ControlConn) {
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            Unwatch(fd);
            return;
        }
        s.strIn.append(buf, static_cast<std::size_t>(n));
        std::size_t pos;
        while ((pos = s.strIn.find('\n')) != std::string::npos) {
            std::string line = s.strIn.substr(0, pos);
            s.strIn.erase(0, pos + 1);
            const std::string out = Control(line) + "\n";
            std::size_t off = 0;
            while (off < out.size()) {
                const ssize_t w = send(fd, out.data() + off, out.size() - off, MSG_NOSIGNAL);
                if (w <= 0)
                    break;
                off += static_cast<std::size_t>(w);
            }
        }
        if (s.strIn.size() > 65536)
            Unwatch(fd); // no line that long is a command
        return;
    }
    // Several datagrams may be waiting; take a bounded number so timers keep their pace.
    for (int i = 0; i < 64; ++i) {
        std::uint8_t buf[4096];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        const Bytes data(buf, buf + n);
        const std::uint32_t dwSrc = ntohl(from.sin_addr.s_addr);
        const std::uint16_t usPort = ntohs(from.sin_port);
        // The socket may go away during delivery (a camera moving); look it up again.
        auto again = m_socks.find(fd);
        if (again == m_socks.end())
            return;
        const Kind kind = again->second.kind;
        if (kind == Kind::ViewerGroup || kind == Kind::ViewerGroupEnc || kind == Kind::LanGroup) {
            for (auto& cam : m_scenario.cameras)
                if (m_camSocks.count(cam.get()))
                    Deliver(*cam, kind, data, dwSrc, usPort);
        } else if (again->second.pCam) {
            Deliver(*again->second.pCam, kind, data, dwSrc, usPort);
        }
    }
}

void CSimulator::RunTimers()
{
    const std::uint64_t now = NowMs();
    while (!m_timers.empty() && m_timers.begin()->first <= now) {
        auto fn = std::move(m_timers.begin()->second);
        m_timers.erase(m_timers.begin());
        fn();
    }
}

void CSimulator::Run()
{
    epoll_event events[64];
    while (!m_bStop && !g_bSignalled) {
        int nTimeout = 1000;
        if (!m_timers.empty()) {
            const std::uint64_t now = NowMs(), at = m_timers.begin()->first;
            nTimeout = at <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(at - now, 1000));
        }
        const int n = epoll_wait(m_epoll, events, 64, nTimeout);
        for (int i = 0; i < n; ++i)
            OnReadable(events[i].data.fd);
        RunTimers();
    }
}

Camera* CSimulator::Select(const std::string& strSel)
{
    if (strSel.size() > 1 && strSel[0] == '#') {
        const long n = std::strtol(strSel.c_str() + 1, nullptr, 10);
        for (auto& c : m_scenario.cameras)
            if (c->nIndex == n)
                return c.get();
        return nullptr;
    }
    std::uint32_t dwAddr = 0;
    if (TextToAddr(strSel, dwAddr)) {
        for (auto& c : m_scenario.cameras)
            if (c->dwAddr == dwAddr)
                return c.get();
        return nullptr;
    }
    for (auto& c : m_scenario.cameras) {
        if (c->strSerial == strSel)
            return c.get();
        for (auto& ch : c->children)
            if (ch->strSerial == strSel)
                return ch.get();
    }
    char* end = nullptr;
    const unsigned long long id = std::strtoull(strSel.c_str(), &end, 0);
    if (!strSel.empty() && end && *end == 0)
        for (auto& c : m_scenario.cameras)
            if (Camera* p = c->FindById(static_cast<std::uint32_t>(id)))
                return p;
    return nullptr;
}

std::string CSimulator::Control(const std::string& strLine)
{
    std::istringstream in(strLine);
    std::string cmd, sel;
    in >> cmd;
    auto fail = [](const std::string& s) { return json{{"ok", false}, {"error", s}}.dump(); };
    auto ok = [](json j = json::object()) {
        j["ok"] = true;
        return j.dump();
    };
    if (cmd.empty())
        return fail("empty command");
    if (cmd == "help")
        return ok({{"commands",
                    {"list", "dump <cam>", "offline <cam>", "online <cam>", "reboot <cam> [ms]",
                     "video-status <cam> <n>", "password <cam> [text]", "address <cam> <ip>",
                     "faults <cam|all> <json>", "media <cam|all>", "media-faults <cam|all> <json>",
                     "reset-counters <cam|all>", "firmware <cam> <version>", "quit"}},
                   {"camera", "#index, address, serial or id"}});
    if (cmd == "quit") {
        Stop();
        return ok();
    }
    if (cmd == "list") {
        json a = json::array();
        for (auto& c : m_scenario.cameras)
            a.push_back({{"index", c->nIndex},
                         {"id", c->dwId},
                         {"serial", c->strSerial},
                         {"address", AddrToText(c->dwAddr)},
                         {"online", c->bOnline},
                         {"children", c->children.size()}});
        return ok({{"cameras", a}, {"refused_sends", m_uDroppedUnsafe}});
    }
    in >> sel;
    if (sel.empty())
        return fail(cmd + ": which camera?");
    std::vector<Camera*> targets;
    if (cmd == "media" && sel == "all") {
        // One answer for a sampler that watches every camera and channel at once.
        json all = json::object();
        for (auto& c : m_scenario.cameras) {
            all[c->strSerial] = json::parse(m_media->Stats(*c));
            for (auto& ch : c->children)
                all[ch->strSerial] = json::parse(m_media->Stats(*ch));
        }
        return ok({{"media", all}});
    }
    if (sel == "all" && (cmd == "faults" || cmd == "media-faults" || cmd == "reset-counters")) {
        for (auto& c : m_scenario.cameras)
            targets.push_back(c.get());
    } else if (Camera* p = Select(sel)) {
        targets.push_back(p);
    } else {
        return fail("no camera " + sel);
    }
    Camera& cam = *targets.front();
    std::string arg;
    std::getline(in >> std::ws, arg);
    if (cmd == "dump")
        return ok({{"camera", json::parse(DumpCamera(cam))}});
    if (cmd == "media")
        return ok({{"media", json::parse(m_media->Stats(cam))}});
    if (cmd == "offline" || cmd == "online") {
        Camera& root = cam.Root();
        root.uRebootGen++; // ends a reboot in progress too
        root.uBackAt = 0;
        root.bOnline = cmd == "online";
        return ok();
    }
    if (cmd == "reboot") {
        std::uint32_t ms = cam.Root().dwRebootMs;
        if (!arg.empty())
            ms = static_cast<std::uint32_t>(std::strtoul(arg.c_str(), nullptr, 10));
        RebootCamera(*this, cam.Root(), ms);
        return ok({{"back_in_ms", ms}});
    }
    if (cmd == "video-status") {
        char* end = nullptr;
        const unsigned long v = std::strtoul(arg.c_str(), &end, 0);
        if (arg.empty() || *end)
            return fail("video-status needs a number");
        cam.dwVideoStatus = static_cast<std::uint32_t>(v);
        return ok();
    }
    if (cmd == "password") {
        Camera& root = cam.Root();
        if (!PasswordField(arg, root.password))
            return fail("a password is at most 16 bytes");
        root.RecomputeCheckValue();
        return ok({{"check_value", ToHex(root.checkValue.data(), root.checkValue.size())}});
    }
    if (cmd == "address") {
        std::uint32_t dw = 0;
        if (!TextToAddr(arg, dw))
            return fail("not an IPv4 address: " + arg);
        if (!IsLabAddress(dw))
            return fail("outside the lab range 198.18.0.0/15");
        MoveCamera(cam.Root(), dw);
        return ok({{"address", AddrToText(cam.Root().dwAddr)}});
    }
    if (cmd == "firmware") {
        if (arg.empty())
            return fail("firmware needs a version");
        cam.Root().strFirmware = arg;
        return ok();
    }
    if (cmd == "media-faults") {
        try {
            for (Camera* p : targets) {
                FaultSpec f;
                ParseFaults(arg, f);
                p->media.faults = f;
            }
        } catch (const CScenarioError& e) {
            return fail(e.what());
        }
        return ok();
    }
    if (cmd == "faults") {
        try {
            for (Camera* p : targets)
                ParseFaults(arg, p->faults);
        } catch (const CScenarioError& e) {
            return fail(e.what());
        }
        return ok();
    }
    if (cmd == "reset-counters") {
        for (Camera* p : targets) {
            p->counters = Counters{};
            for (auto& ch : p->children)
                ch->counters = Counters{};
        }
        return ok();
    }
    return fail("unknown command " + cmd + " (try help)");
}

} // namespace camsim
