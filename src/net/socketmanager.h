// The socket manager: every UDP endpoint of the program as socket groups, one socket per
// local IPv4 address, driven by messages on one hidden window.
#pragma once

#include "net/localaddress.h"
#include "net/socketsweep.h"
#include "net/socketudp.h"
#include "platform/msgwindow.h"

#include <map>
#include <memory>
#include <vector>

struct SocketGroup;

// Implemented by the engines that own socket groups.
class ISocketReceiver {
public:
    // One command datagram or one complete media frame from dwIP:usPort (host order),
    // received on socket uMsg of pGroup. pData is valid only during the call.
    virtual void OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup,
                           UINT uMsg) = 0;
    // Every sweep that was started has finished.
    virtual void OnSweepComplete(int nReserved, SocketGroup* pGroup) = 0;
    // One notice's drain of socket uMsg has ended (after its last OnReceive): what a receiver
    // answers per burst rather than per datagram goes out here.
    virtual void OnDrainEnd(SocketGroup* pGroup, UINT uMsg)
    {
        (void)pGroup;
        (void)uMsg;
    }

protected:
    ~ISocketReceiver() = default;
};

// One logical UDP endpoint. Owned by the manager; engines keep the pointer as a handle.
struct SocketGroup {
    DWORD dwGroupIP = 0; // multicast group of every socket, host order; 0 for none
    WORD usPort = 0;
    BOOL bIsCmdPort = 1;
    CSocketUdp** ppSockets = nullptr;
    DWORD dwMsgBase = 0;
    int nSockets = 0;
    ISocketReceiver* pReceiver = nullptr;
    BYTE* pRecvBuf = nullptr;
    DWORD nRecvBufSize = 0;

    // Gives back the memory of the receive buffer but its first page: a frame copied there
    // touches it only as far as its own length, so over hours the rare largest frames would
    // leave more and more of it resident. The content is not kept; call between receives.
    void ReleaseRecvPages();

    SocketGroup() = default;
    ~SocketGroup();
    SocketGroup(const SocketGroup&) = delete;
    SocketGroup& operator=(const SocketGroup&) = delete;
};

class CSocketManager {
public:
    static constexpr UINT MSG_BASE = 0x8000;
    static constexpr UINT WM_SWEEP_COMPLETE = WM_USER + 1;
    static constexpr DWORD CMD_RECV_BUF_SIZE = 2560;
    static constexpr DWORD MEDIA_RECV_BUF_SIZE = 1024000;
    static constexpr int SOCKET_MODE = CSocketUdp::MODE_BOTH;

    static CSocketManager* GetInstance();

    // pAddresses: the local addresses to create sockets for (nullptr: this PC's interfaces).
    // Not owned; must outlive the manager. Create on the thread that runs the sockets.
    explicit CSocketManager(ILocalAddressSource* pAddresses = nullptr);
    ~CSocketManager();
    CSocketManager(const CSocketManager&) = delete;
    CSocketManager& operator=(const CSocketManager&) = delete;

    // Null when the PC has no local IPv4 address. Throws CExceptionBase when a port is taken.
    SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort, ISocketReceiver* pReceiver);
    SocketGroup* CreateSweepGroup(WORD usPort, const BYTE* pPacket, int nLen, ISocketReceiver* pReceiver);
    void StartSweep(SocketGroup* pGroup);
    int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT uMsg);
    DWORD GetLocalAddress(UINT uMsg);

    HWND GetWindow() const { return m_hWnd; }
    // Socket notified with uMsg, or nullptr.
    CSocketUdp* FindSocket(UINT uMsg) const;
    // The hold of a socket's first own event, for sockets created from now on.
    void SetSourceHoldTime(UINT uMs) { m_uHoldMs = uMs; }
    // Memory held for the largest datagram or frame seen goes back to the system; on the
    // sockets' thread, now and then (a long run's housekeeping).
    void ReleaseIdleMemory();

private:
    static LRESULT WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    void OnSocketMessage(SocketGroup* pGroup, UINT uMsg, LPARAM lParam);
    void OnSweepDone();
    // Builds a group with one socket per address; the sockets are made by makeSocket.
    template <typename MakeSocket>
    SocketGroup* BuildGroup(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort, ISocketReceiver* pReceiver,
                            MakeSocket makeSocket);

    ILocalAddressSource* m_pAddresses;
    HWND m_hWnd = nullptr;
    DWORD m_nSweepExpected = 0;
    DWORD m_nSweepDone = 0;
    std::map<UINT, SocketGroup*> m_mapGroups;
    std::vector<std::unique_ptr<SocketGroup>> m_groups;
    int m_nSocketMode = SOCKET_MODE;
    UINT m_uHoldMs = CSocketUdp::DEFAULT_HOLD_MS;
};
