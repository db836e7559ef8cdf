#include "net/socketudp.h"

#include "core/language.h"
#include "core/log.h"
#include "core/stringids.h"
#include "net/pcaplistener.h"
#include "platform/ticks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

const char* const OWN_WINDOW_CLASS = "CSocketUdp Internal window class";
constexpr UINT_PTR HOLD_TIMER_ID = 1;
constexpr UINT_PTR RESEND_TIMER_ID = 2;
constexpr long SOCKET_EVENTS = FD_READ | FD_WRITE | FD_CLOSE;
// What the kernel may hold for a socket while the GUI thread is busy: a thousand cameras
// answer one search or query pass within milliseconds, and each datagram, however small,
// takes about a kilobyte of it. The system's limit (net.core.rmem_max) may cut it down.
constexpr int KERNEL_RECEIVE_BUFFER_BYTES = 4 << 20;

void SetReceiveBuffer(SOCKET s, int nBufSize = KERNEL_RECEIVE_BUFFER_BYTES)
{
    if (s != INVALID_SOCKET)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, &nBufSize, sizeof(nBufSize));
}

// Live sockets, for the window class they share. GUI thread only.
int g_nSocketInstances = 0;
// Sockets holding refused datagrams; read by the sweep threads.
std::atomic<int> g_nSocketsDeferring{0};

sockaddr_in MakeAddress(DWORD dwIP, WORD usPort)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(dwIP);
    sin.sin_port = htons(usPort);
    return sin;
}

std::string DottedAddress(DWORD dwIP)
{
    in_addr addr{htonl(dwIP)};
    char sz[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, sz, sizeof(sz));
    return sz;
}

} // namespace

CSocketUdp::CSocketUdp(ILocalAddressSource* pAddresses)
    : m_pAddresses(pAddresses != nullptr ? pAddresses : CSystemLocalAddresses::GetInstance())
{
    m_hSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (g_nSocketInstances++ == 0 && !RegisterWindowClass(OWN_WINDOW_CLASS, &CSocketUdp::OwnWndProc))
        DebugTrace(1, "RegisterClassEx failed, Error = %x", static_cast<unsigned>(errno));
    m_hOwnWnd = CreateMsgWindow(OWN_WINDOW_CLASS, "CSocketUdp");
    if (m_hOwnWnd == nullptr)
        DebugTrace(1, "Create window failed, Error = %x", static_cast<unsigned>(errno));
    else
        SetWindowUserData(m_hOwnWnd, reinterpret_cast<LPARAM>(this));
    SetMode(m_nMode);
}

CSocketUdp::~CSocketUdp()
{
    Close();
    if (m_hOwnWnd != nullptr)
        DestroyWindow(m_hOwnWnd);
    if (--g_nSocketInstances == 0)
        UnregisterWindowClass(OWN_WINDOW_CLASS);
}

std::u16string CSocketUdp::FormatBindErrorText(WORD usPort)
{
    const CLanguageManager* pLanguage = GetLanguageManager();
    std::u16string strText = pLanguage != nullptr ? pLanguage->GetString(IDS_UDP_PORT_BIND_ERROR) : u"";
    const std::size_t nPos = strText.find(u"%d");
    if (nPos != std::u16string::npos) {
        const std::string strPort = std::to_string(usPort);
        strText.replace(nPos, 2, std::u16string(strPort.begin(), strPort.end()));
    }
    return strText;
}

void CSocketUdp::SetMode(int nMode)
{
    // Without the permission to capture, nothing will take a datagram over from the socket:
    // waiting for capture would hold every answer back for the whole hold time.
    if (nMode == MODE_BOTH && CaptureOffReason() != nullptr)
        nMode = MODE_SOCKET;
    m_nMode = nMode;
    m_nState = nMode == MODE_BOTH ? STATE_UNDECIDED : nMode;
}

void CSocketUdp::SetNotify(HWND hWnd, UINT uMsg)
{
    m_uMsg = uMsg;
    if (m_nMode == MODE_BOTH) {
        m_hMgrWnd = hWnd;
        m_hNotifyWnd = m_nState == STATE_CAPTURE ? hWnd : m_hOwnWnd;
    } else {
        m_hNotifyWnd = hWnd;
    }
    SelectSocketEvents();
}

void CSocketUdp::SelectSocketEvents()
{
    HWND hTarget = nullptr;
    if (m_nMode == MODE_SOCKET)
        hTarget = m_hNotifyWnd;
    else if (m_nMode == MODE_BOTH && m_nState != STATE_CAPTURE)
        hTarget = m_bSocketToMgr ? m_hMgrWnd : m_hOwnWnd;
    for (SOCKET s : {m_hSocket, m_hGroupSocket}) {
        if (s == INVALID_SOCKET)
            continue;
        if (hTarget != nullptr)
            WSAAsyncSelect(s, hTarget, m_uMsg, SOCKET_EVENTS);
        else
            WSAAsyncSelect(s, nullptr, 0, 0);
    }
}

int CSocketUdp::Register(DWORD dwLocalIP, WORD usPort)
{
    if (m_bRegistered)
        Close();
    m_usLocalPort = usPort;
    m_dwLocalIP = dwLocalIP;
    if (m_hSocket == INVALID_SOCKET) {
        m_hSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_hSocket == INVALID_SOCKET)
            return 0;
    }
    SelectSocketEvents();

    const sockaddr_in sin = MakeAddress(dwLocalIP, usPort);
    if (bind(m_hSocket, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) != 0) {
        DebugTrace(1, "Bind Error=%x Port=%d", static_cast<unsigned>(errno), usPort);
        Close();
        throw CExceptionBase(FormatBindErrorText(usPort));
    }
    SetReceiveBuffer(m_hSocket);
    DebugTrace(1, "Register Socket:Mode %d, port=%d", m_nMode, usPort);
    if (m_nMode != MODE_SOCKET) {
        if (ICaptureListener* pListener = GetCaptureListener())
            pListener->Register(this, dwLocalIP, usPort, 1);
    }
    m_bRegistered = 1;
    return 1;
}

int CSocketUdp::JoinGroup(DWORD dwGroupIP, WORD usPort, DWORD dwLocalIP)
{
    if (Register(dwLocalIP, usPort) != 1)
        return 0;
    m_dwGroupIP = dwGroupIP;

    const SOCKET s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s == INVALID_SOCKET)
        return 0;
    const int nOn = 1;
    const int nOff = 0;
    const sockaddr_in sin = MakeAddress(dwGroupIP, usPort);
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = htonl(dwGroupIP);
    mreq.imr_interface.s_addr = htonl(dwLocalIP);
    // Each socket of a group joins on its own interface and must hear the group only there,
    // not through the memberships of its siblings.
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof(nOn)) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_ALL, &nOff, sizeof(nOff)) != 0 ||
        bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof(mreq)) != 0) {
        DebugTrace(1, "Join group %s on %s failed, reason:%x", DottedAddress(dwGroupIP).c_str(),
                   DottedAddress(dwLocalIP).c_str(), static_cast<unsigned>(errno));
        close(s);
        return 0;
    }
    SetReceiveBuffer(s);
    m_hGroupSocket = s;
    m_bJoined = 1;
    SelectSocketEvents();
    return 1;
}

int CSocketUdp::SetMulticastInterface(int nIndex)
{
    const std::vector<DWORD> addresses = m_pAddresses->GetLocalAddresses();
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= addresses.size())
        return -1;
    in_addr addr{htonl(addresses[nIndex])};
    return setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_IF, &addr, sizeof(addr)) == 0 ? 1 : 0;
}

void CSocketUdp::CloseGroupSocket()
{
    if (m_hGroupSocket != INVALID_SOCKET) {
        closesocket(m_hGroupSocket);
        m_hGroupSocket = INVALID_SOCKET;
    }
    m_bJoined = 0;
}

int CSocketUdp::Close()
{
    if (m_nMode != MODE_SOCKET) {
        if (ICaptureListener* pListener = GetCaptureListener())
            pListener->Register(this, m_dwLocalIP, m_usLocalPort, 0);
    }
    CloseGroupSocket();
    if (!m_deferred.IsEmpty()) {
        m_deferred.Clear();
        --g_nSocketsDeferring;
        KillTimer(m_hOwnWnd, RESEND_TIMER_ID);
    }
    if (m_hSocket != INVALID_SOCKET) {
        closesocket(m_hSocket);
        m_hSocket = INVALID_SOCKET;
    }
    m_bRegistered = 0;
    return 1;
}

ssize_t CSocketUdp::RawSend(const BYTE* pData, std::size_t nLen, DWORD dwIP, WORD usPort, bool bReportDrop)
{
    // A fresh destination per call: the sweep thread and the GUI thread send through the
    // same socket.
    const sockaddr_in sin = MakeAddress(dwIP, usPort);
    const int nOn = 1;
    const int nOff = 0;
    // Without IP_RECVERR the kernel counts such a drop and reports success.
    if (bReportDrop)
        setsockopt(m_hSocket, IPPROTO_IP, IP_RECVERR, &nOn, sizeof(nOn));
    ssize_t n = sendto(m_hSocket, pData, nLen, 0, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
    // An ICMP error about an earlier datagram, recorded while reports were on, fails the next
    // call instead of this datagram; the call has cleared it.
    if (n < 0 && bReportDrop && (errno == ECONNREFUSED || errno == EHOSTUNREACH))
        n = sendto(m_hSocket, pData, nLen, 0, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
    const int nError = errno;
    if (bReportDrop) {
        // Switching it off empties the error queue; an ICMP error that came in meanwhile is
        // cleared too, or it would fail the socket's next call.
        setsockopt(m_hSocket, IPPROTO_IP, IP_RECVERR, &nOff, sizeof(nOff));
        int nPending = 0;
        socklen_t nPendingLen = sizeof(nPending);
        getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &nPending, &nPendingLen);
    }
    errno = nError;
    return n;
}

int CSocketUdp::SendOnce(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort)
{
    ssize_t n = -1;
    if (nLen >= 0)
        n = RawSend(pData, static_cast<std::size_t>(nLen & 0xFFFF), dwIP, usPort, false);
    else
        errno = EINVAL;
    if (n < 0) {
        DebugTrace(1, "Send To %s:%d error, reason:%x\n", DottedAddress(dwIP).c_str(), usPort,
                   static_cast<unsigned>(errno));
        return -1;
    }
    return static_cast<int>(n);
}

int CSocketUdp::SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort)
{
    if (nLen < 0)
        return SendOnce(pData, nLen, dwIP, usPort);
    const std::size_t nBytes = static_cast<std::size_t>(nLen & 0xFFFF);
    // Behind a datagram to the same destination that still waits: keep their order.
    if (m_deferred.Holds(dwIP) && Defer(pData, nBytes, dwIP, usPort))
        return static_cast<int>(nBytes);
    const ssize_t n = RawSend(pData, nBytes, dwIP, usPort, true);
    if (n >= 0)
        return static_cast<int>(n);
    if ((errno == ENOBUFS || errno == EAGAIN) && Defer(pData, nBytes, dwIP, usPort))
        return static_cast<int>(nBytes);
    DebugTrace(1, "Send To %s:%d error, reason:%x\n", DottedAddress(dwIP).c_str(), usPort,
               static_cast<unsigned>(errno));
    return -1;
}

bool CSocketUdp::AnySendsDeferred()
{
    return g_nSocketsDeferring.load() > 0;
}

bool CSocketUdp::Defer(const BYTE* pData, std::size_t nLen, DWORD dwIP, WORD usPort)
{
    // Without a window there is no timer to send it again.
    if (m_hOwnWnd == nullptr || !m_deferred.Add(pData, nLen, dwIP, usPort, GetTickCount()))
        return false;
    if (m_deferred.GetCount() == 1) {
        ++g_nSocketsDeferring;
        SetTimer(m_hOwnWnd, RESEND_TIMER_ID, RESEND_INTERVAL_MS);
    }
    return true;
}

void CSocketUdp::ResendDeferred()
{
    m_deferred.DropExpired(GetTickCount(), [](const CDeferredSends::Datagram& datagram) {
        DebugTrace(1, "Send To %s:%d error, reason:%x\n", DottedAddress(datagram.dwIP).c_str(),
                   datagram.usPort, static_cast<unsigned>(ENOBUFS));
    });
    while (!m_deferred.IsEmpty()) {
        const CDeferredSends::Datagram& datagram = m_deferred.Front();
        const ssize_t n = RawSend(reinterpret_cast<const BYTE*>(datagram.strData.data()),
                                  datagram.strData.size(), datagram.dwIP, datagram.usPort, true);
        // Still no room: every datagram behind waits too, and each refused try costs the
        // kernel a search of its table.
        if (n < 0 && (errno == ENOBUFS || errno == EAGAIN))
            break;
        if (n < 0)
            DebugTrace(1, "Send To %s:%d error, reason:%x\n", DottedAddress(datagram.dwIP).c_str(),
                       datagram.usPort, static_cast<unsigned>(errno));
        m_deferred.PopFront();
    }
    if (m_deferred.IsEmpty()) {
        --g_nSocketsDeferring;
        KillTimer(m_hOwnWnd, RESEND_TIMER_ID);
    }
}

int CSocketUdp::ReadSocket(SOCKET s, BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort)
{
    sockaddr_in from{};
    socklen_t nFromLen = sizeof(from);
    // MSG_TRUNC reports the real length: a datagram larger than the buffer is an error and
    // lost, never delivered cut.
    const ssize_t n = RecvFromAsync(s, pBuf, static_cast<size_t>(std::max(nBufLen, 0)), MSG_TRUNC,
                                    reinterpret_cast<sockaddr*>(&from), &nFromLen);
    if (n < 1)
        return static_cast<int>(n);
    if (n > nBufLen) {
        VLOG(2, "CSocketUdp::Receive: datagram of %d bytes exceeds the buffer of %d, dropped",
             static_cast<int>(n), nBufLen);
        errno = EMSGSIZE;
        return -1;
    }
    if (pdwIP != nullptr)
        *pdwIP = ntohl(from.sin_addr.s_addr);
    if (pusPort != nullptr)
        *pusPort = ntohs(from.sin_port);
    return static_cast<int>(n);
}

int CSocketUdp::Receive(BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort)
{
    if (m_nState != STATE_SOCKET)
        return Get(pBuf, nBufLen, pdwIP, pusPort);
    int n = -1;
    if (m_hSocket != INVALID_SOCKET)
        n = ReadSocket(m_hSocket, pBuf, nBufLen, pdwIP, pusPort);
    if (n < 1 && m_hGroupSocket != INVALID_SOCKET)
        n = ReadSocket(m_hGroupSocket, pBuf, nBufLen, pdwIP, pusPort);
    return n;
}

void CSocketUdp::NotifyData()
{
    const HWND hWnd = m_hNotifyWnd.load();
    if (hWnd != nullptr)
        PostMessage(hWnd, m_uMsg.load(), 0, FD_READ);
}

LRESULT CSocketUdp::OwnWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pThis = reinterpret_cast<CSocketUdp*>(GetWindowUserData(hWnd));
    if (pThis == nullptr)
        return DefWindowProc(hWnd, uMsg, wParam, lParam);
    return pThis->OnOwnMessage(uMsg, wParam, lParam);
}

LRESULT CSocketUdp::OnOwnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == m_uMsg && m_uMsg != 0) {
        if ((lParam & 0xFFFF) != FD_READ)
            return SendMessage(m_hMgrWnd, uMsg, wParam, lParam);
        if (wParam != 0) {
            // A socket event posted just before capture took over must not take it back.
            if (m_nState == STATE_CAPTURE)
                return 0;
            // The datagram waits in the socket: capture, if it serves this address, should
            // deliver it within the hold.
            m_nState = STATE_SOCKET;
            SetTimer(m_hOwnWnd, HOLD_TIMER_ID, m_uHoldMs);
            return 0;
        }
        m_nState = STATE_CAPTURE;
        m_hNotifyWnd = m_hMgrWnd;
        SelectSocketEvents();
        // From now on the socket itself is never read: what the kernel keeps for it is waste.
        SetReceiveBuffer(m_hSocket, RECEIVE_BUFFER_BYTES);
        SetReceiveBuffer(m_hGroupSocket, RECEIVE_BUFFER_BYTES);
        KillTimer(m_hOwnWnd, HOLD_TIMER_ID);
        return SendMessage(m_hMgrWnd, uMsg, 0, lParam);
    }
    if (uMsg == WM_TIMER && wParam == RESEND_TIMER_ID) {
        ResendDeferred();
        return 0;
    }
    if (uMsg == WM_TIMER && wParam == HOLD_TIMER_ID) {
        KillTimer(m_hOwnWnd, HOLD_TIMER_ID);
        if (m_nState == STATE_SOCKET) {
            m_bSocketToMgr = true;
            SelectSocketEvents();
            // Read what queued during the hold.
            SendMessage(m_hMgrWnd, m_uMsg, static_cast<WPARAM>(m_hSocket), FD_READ);
        }
        return 0;
    }
    return DefWindowProc(m_hOwnWnd, uMsg, wParam, lParam);
}
