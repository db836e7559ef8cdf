#include "net/socketmanager.h"

#include "core/log.h"

#include <cerrno>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace {

const char* const MANAGER_WINDOW_CLASS = "CSocketManager Internal window class";

} // namespace

SocketGroup::~SocketGroup()
{
    for (int i = 0; i < nSockets; ++i)
        delete ppSockets[i];
    delete[] ppSockets;
    delete[] pRecvBuf;
}

void SocketGroup::ReleaseRecvPages()
{
    if (pRecvBuf == nullptr)
        return;
    const auto nPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto nStart = reinterpret_cast<std::uintptr_t>(pRecvBuf);
    // The whole pages inside the buffer after its first: the allocator's own words lie outside.
    const std::uintptr_t nFirst = (nStart + nPage - 1) / nPage * nPage + nPage;
    const std::uintptr_t nEnd = (nStart + nRecvBufSize) / nPage * nPage;
    if (nEnd > nFirst)
        madvise(reinterpret_cast<void*>(nFirst), nEnd - nFirst, MADV_DONTNEED);
}

CSocketManager* CSocketManager::GetInstance()
{
    static CSocketManager s_manager;
    return &s_manager;
}

CSocketManager::CSocketManager(ILocalAddressSource* pAddresses)
    : m_pAddresses(pAddresses != nullptr ? pAddresses : CSystemLocalAddresses::GetInstance())
{
    if (!RegisterWindowClass(MANAGER_WINDOW_CLASS, &CSocketManager::WndProc))
        DebugTrace(1, "RegisterClassEx failed, Error = %x", static_cast<unsigned>(errno));
    m_hWnd = CreateMsgWindow(MANAGER_WINDOW_CLASS, "CSocketManager");
    if (m_hWnd == nullptr)
        DebugTrace(1, "Create window failed, Error = %x", static_cast<unsigned>(errno));
    else
        SetWindowUserData(m_hWnd, reinterpret_cast<LPARAM>(this));
}

CSocketManager::~CSocketManager()
{
    // The window goes first: a sweep thread blocked reporting to it is released.
    if (m_hWnd != nullptr && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    UnregisterWindowClass(MANAGER_WINDOW_CLASS);
    m_mapGroups.clear();
    m_groups.clear();
}

template <typename MakeSocket>
SocketGroup* CSocketManager::BuildGroup(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort,
                                        ISocketReceiver* pReceiver, MakeSocket makeSocket)
{
    const std::vector<DWORD> addresses = m_pAddresses->GetLocalAddresses();
    if (addresses.empty())
        return nullptr;
    auto pGroup = std::make_unique<SocketGroup>();
    pGroup->dwGroupIP = dwGroupIP;
    pGroup->usPort = usPort;
    pGroup->bIsCmdPort = bIsCmdPort;
    pGroup->pReceiver = pReceiver;
    pGroup->nRecvBufSize = bIsCmdPort ? CMD_RECV_BUF_SIZE : MEDIA_RECV_BUF_SIZE;
    pGroup->pRecvBuf = new BYTE[pGroup->nRecvBufSize];
    pGroup->dwMsgBase = MSG_BASE + static_cast<DWORD>(m_mapGroups.size());
    pGroup->ppSockets = new CSocketUdp*[addresses.size()]();

    // A bind failure leaves through here; the map entries made so far go with the group.
    try {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            const UINT uMsg = pGroup->dwMsgBase + static_cast<UINT>(i);
            CSocketUdp* pSocket = makeSocket();
            pGroup->ppSockets[i] = pSocket;
            pGroup->nSockets = static_cast<int>(i) + 1;
            pSocket->SetHoldTime(m_uHoldMs);
            pSocket->SetMode(m_nSocketMode);
            pSocket->SetNotify(m_hWnd, uMsg);
            if (dwGroupIP != 0)
                pSocket->JoinGroup(dwGroupIP, usPort, addresses[i]);
            else
                pSocket->Register(addresses[i], usPort);
            pSocket->SetMulticastInterface(static_cast<int>(i));
            m_mapGroups[uMsg] = pGroup.get();
        }
    } catch (...) {
        for (int i = 0; i < pGroup->nSockets; ++i)
            m_mapGroups.erase(pGroup->dwMsgBase + i);
        throw;
    }
    m_groups.push_back(std::move(pGroup));
    return m_groups.back().get();
}

SocketGroup* CSocketManager::CreateSocket(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort,
                                          ISocketReceiver* pReceiver)
{
    return BuildGroup(dwGroupIP, usPort, bIsCmdPort, pReceiver,
                      [this] { return new CSocketUdp(m_pAddresses); });
}

SocketGroup* CSocketManager::CreateSweepGroup(WORD usPort, const BYTE* pPacket, int nLen,
                                              ISocketReceiver* pReceiver)
{
    std::vector<CSocketSweep*> sweepers;
    SocketGroup* pGroup = BuildGroup(0, usPort, 1, pReceiver, [this, &sweepers] {
        sweepers.push_back(new CSocketSweep(m_pAddresses));
        return sweepers.back();
    });
    if (pGroup == nullptr)
        return nullptr;
    for (CSocketSweep* pSweeper : sweepers) {
        if (pSweeper->StartSweepThread(pPacket, nLen, usPort, m_hWnd, WM_SWEEP_COMPLETE))
            ++m_nSweepExpected;
    }
    return pGroup;
}

void CSocketManager::StartSweep(SocketGroup* pGroup)
{
    if (pGroup == nullptr)
        return;
    m_nSweepDone = 0;
    for (int i = 0; i < pGroup->nSockets; ++i) {
        if (auto* pSweeper = dynamic_cast<CSocketSweep*>(pGroup->ppSockets[i]))
            pSweeper->Sweep(m_hWnd, WM_SWEEP_COMPLETE);
    }
}

void CSocketManager::ReleaseIdleMemory()
{
    for (const auto& pGroup : m_groups)
        pGroup->ReleaseRecvPages();
}

CSocketUdp* CSocketManager::FindSocket(UINT uMsg) const
{
    const auto it = m_mapGroups.find(uMsg);
    if (it == m_mapGroups.end())
        return nullptr;
    return it->second->ppSockets[uMsg - it->second->dwMsgBase];
}

int CSocketManager::SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup,
                           UINT uMsg)
{
    if (CSocketUdp* pSocket = FindSocket(uMsg))
        return pSocket->SendTo(pData, nLen, dwIP, usPort);
    if (pGroup != nullptr) {
        for (int i = 0; i < pGroup->nSockets; ++i)
            pGroup->ppSockets[i]->SendTo(pData, nLen, dwIP, usPort);
        return nLen & 0xFFFF;
    }
    return 0;
}

DWORD CSocketManager::GetLocalAddress(UINT uMsg)
{
    const CSocketUdp* pSocket = FindSocket(uMsg);
    const DWORD dwIP = pSocket != nullptr ? pSocket->GetLocalIP() : 0;
    DebugTrace(1, "!!!!!!!!!!!listen ip=%x", dwIP);
    return dwIP;
}

LRESULT CSocketManager::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pThis = reinterpret_cast<CSocketManager*>(GetWindowUserData(hWnd));
    if (pThis == nullptr)
        return DefWindowProc(hWnd, uMsg, wParam, lParam);
    return pThis->OnMessage(uMsg, wParam, lParam);
}

LRESULT CSocketManager::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg >= MSG_BASE) {
        const auto it = m_mapGroups.find(uMsg);
        if (it != m_mapGroups.end()) {
            try {
                OnSocketMessage(it->second, uMsg, lParam);
            } catch (...) {
                VLOG(1, "CSocketManager::WndProc: exception!");
            }
        }
    } else if (uMsg == WM_SWEEP_COMPLETE) {
        OnSweepDone();
    }
    return DefWindowProc(m_hWnd, uMsg, wParam, lParam);
}

void CSocketManager::OnSocketMessage(SocketGroup* pGroup, UINT uMsg, LPARAM lParam)
{
    if ((lParam & 0xFFFF) != FD_READ)
        return;
    CSocketUdp* pSocket = pGroup->ppSockets[uMsg - pGroup->dwMsgBase];
    VLOG(5, "CSocketManager::WndProc: Recv begin");
    // One notification drains the socket.
    for (;;) {
        DWORD dwIP = 0;
        WORD usPort = 0;
        // A media frame may be handed out where it lies in the socket's pool.
        BYTE* pData = pGroup->pRecvBuf;
        int rt;
        if (pGroup->bIsCmdPort) {
            rt = pSocket->Receive(pGroup->pRecvBuf, static_cast<int>(pGroup->nRecvBufSize), &dwIP, &usPort);
        } else {
            VLOG(5, "CSocketManager::WndProc: ReceiveMediaPacket");
            DWORD nSize = pGroup->nRecvBufSize;
            rt = pSocket->ReceiveMediaPacket(pGroup->pRecvBuf, &nSize, &dwIP, &usPort);
            if (rt > 0)
                pData = pSocket->GetMediaReassembler().GetFrame();
        }
        VLOG(5, "CSocketManager::WndProc: bIsCmdPort:%d, rt:%d, nDataLen:%d, dwIP:%d, usPort:%d",
             pGroup->bIsCmdPort, rt, static_cast<int>(pGroup->nRecvBufSize), static_cast<int>(dwIP), usPort);
        if (rt < 1)
            break;
        if (pGroup->pReceiver != nullptr)
            pGroup->pReceiver->OnReceive(pData, rt, dwIP, usPort, pGroup, uMsg);
    }
    if (pGroup->pReceiver != nullptr)
        pGroup->pReceiver->OnDrainEnd(pGroup, uMsg);
    // Capture notices come once per batch: what a read that ended the drain early left queued
    // needs a notice of its own.
    if (pSocket->GetState() == CSocketUdp::STATE_CAPTURE && pSocket->GetQueuedCount() > 0)
        pSocket->NotifyData();
}

void CSocketManager::OnSweepDone()
{
    if (++m_nSweepDone != m_nSweepExpected)
        return;
    for (const auto& [uMsg, pGroup] : m_mapGroups) {
        if (pGroup->pReceiver != nullptr)
            pGroup->pReceiver->OnSweepComplete(0, pGroup);
    }
}
