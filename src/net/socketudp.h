// One UDP socket of a socket group, bound to one local address, fed either by the socket
// itself or by its capture queue.
#pragma once

#include "net/capturequeue.h"
#include "net/deferredsends.h"
#include "net/localaddress.h"
#include "net/mediareassembly.h"
#include "platform/asyncsocket.h"
#include "platform/msgwindow.h"

#include <atomic>
#include <string>

struct sockaddr_in;

class CSocketUdp : public CCaptureQueue {
public:
    // nMode: the socket alone feeds (events straight to the target window).
    static constexpr int MODE_SOCKET = 1;
    // The capture queue alone feeds.
    static constexpr int MODE_CAPTURE = 2;
    // Both run; the first capture notice takes the socket over for good.
    static constexpr int MODE_BOTH = 3;

    static constexpr int STATE_UNDECIDED = 0;
    static constexpr int STATE_SOCKET = 1;
    static constexpr int STATE_CAPTURE = 2;

    static constexpr UINT DEFAULT_HOLD_MS = 5000;
    // How often datagrams the kernel refused for now are offered again.
    static constexpr UINT RESEND_INTERVAL_MS = 100;
    static constexpr int RECEIVE_BUFFER_BYTES = 65535;

    // pAddresses: where SetMulticastInterface finds the n-th local address (nullptr: this
    // PC's interfaces). Not owned.
    explicit CSocketUdp(ILocalAddressSource* pAddresses = nullptr);
    ~CSocketUdp() override;

    // (Re)binds to dwLocalIP:usPort. 1 on success, 0 when no socket could be created;
    // throws CExceptionBase with the localised text when the port is taken.
    int Register(DWORD dwLocalIP, WORD usPort);
    // Register, then membership of dwGroupIP on the interface of dwLocalIP. 1, or 0 when the
    // socket is unusable or membership fails (the socket stays bound for unicast).
    int JoinGroup(DWORD dwGroupIP, WORD usPort, DWORD dwLocalIP);
    // Outgoing multicast through the nIndex-th local address: 1, 0 on failure, -1 when there
    // is no such address.
    int SetMulticastInterface(int nIndex);
    void SetNotify(HWND hWnd, UINT uMsg);
    void SetMode(int nMode);
    int Close();

    // One datagram of the low 16 bits of nLen bytes; bytes sent or -1. A datagram the kernel
    // cannot take for now (no room for the destination's neighbour entry, a full queue) waits
    // and is sent again, in order, every RESEND_INTERVAL_MS for up to
    // CDeferredSends::LIFETIME_MS; it counts as sent. GUI thread only.
    int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort);
    // Datagrams waiting to be sent again.
    std::size_t GetDeferredCount() const { return m_deferred.GetCount(); }
    // Whether any socket of the process holds refused datagrams. Any thread.
    static bool AnySendsDeferred();
    // One datagram from the current source: bytes, 0 when nothing is queued, below 0 on a
    // socket error. Address and port in host order.
    int Receive(BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort);
    // One reassembled media frame, its length, or 0 when none is complete. The frame lies in the
    // reassembler's GetFrame(): in pFrameBuf, or where its blocks lie in the pool when they follow
    // each other (valid until the next call).
    int ReceiveMediaPacket(BYTE* pFrameBuf, DWORD* pnFrameBufSize, DWORD* pdwIP, WORD* pusPort);

    void NotifyData() override;

    // How long the first socket event waits for a capture notice before the socket path is
    // taken.
    void SetHoldTime(UINT uMs) { m_uHoldMs = uMs; }

    SOCKET GetSocket() const { return m_hSocket; }
    UINT GetMsg() const { return m_uMsg; }
    int GetMode() const { return m_nMode; }
    int GetState() const { return m_nState; }
    BOOL IsRegistered() const { return m_bRegistered; }
    BOOL IsJoined() const { return m_bJoined; }
    DWORD GetLocalIP() const { return m_dwLocalIP; }
    WORD GetLocalPort() const { return m_usLocalPort; }
    DWORD GetGroupIP() const { return m_dwGroupIP; }
    HWND GetOwnWindow() const { return m_hOwnWnd; }
    const CMediaReassembler& GetMediaReassembler() const { return m_media; }

    // The IDS_UDP_PORT_BIND_ERROR text with the port in place of its %d.
    static std::u16string FormatBindErrorText(WORD usPort);

protected:
    // One sendto and nothing kept: for the sweep thread, whose probes are not worth a retry.
    int SendOnce(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort);

private:
    // sendto of nLen bytes. With bReportDrop, a datagram the kernel drops for want of room fails
    // with ENOBUFS instead of vanishing behind a successful call.
    ssize_t RawSend(const BYTE* pData, std::size_t nLen, DWORD dwIP, WORD usPort, bool bReportDrop);
    bool Defer(const BYTE* pData, std::size_t nLen, DWORD dwIP, WORD usPort);
    void ResendDeferred();
    static LRESULT OwnWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    LRESULT OnOwnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    // Points the socket's events where mode and state say they go.
    void SelectSocketEvents();
    int ReadSocket(SOCKET s, BYTE* pBuf, int nBufLen, DWORD* pdwIP, WORD* pusPort);
    void CloseGroupSocket();

    ILocalAddressSource* m_pAddresses;
    SOCKET m_hSocket = INVALID_SOCKET;
    // Receives the group's datagrams: a socket bound to one unicast address never sees
    // multicast here, so the membership lives on a second socket bound to the group.
    SOCKET m_hGroupSocket = INVALID_SOCKET;
    std::atomic<UINT> m_uMsg{0};
    // Where capture notices go (the own window until capture takes over, in mode 3).
    std::atomic<HWND> m_hNotifyWnd{nullptr};
    BOOL m_bRegistered = 0;
    int m_nMode = MODE_BOTH;
    DWORD m_dwLocalIP = 0;
    WORD m_usLocalPort = 0;
    DWORD m_dwGroupIP = 0;
    BOOL m_bJoined = 0;
    int m_nState = STATE_UNDECIDED;
    // Mode 3: the hold is over and socket events go to the manager window.
    bool m_bSocketToMgr = false;
    HWND m_hOwnWnd = nullptr;
    HWND m_hMgrWnd = nullptr;
    UINT m_uHoldMs = DEFAULT_HOLD_MS;
    CDeferredSends m_deferred;
    // Segments of media groups waiting for the rest of their frame.
    CMediaReassembler m_media;
};
