#include "net/socketsweep.h"

#include "core/log.h"

#include <chrono>
#include <system_error>

CSocketSweep::~CSocketSweep()
{
    if (m_bHasEvent) {
        m_bStop = true;
        SignalEvent();
        if (m_hSweepThread.joinable()) {
            std::future<void> done = m_threadDone.get_future();
            if (done.wait_for(std::chrono::milliseconds(STOP_WAIT_MS)) != std::future_status::ready)
                DebugTrace(1, "Sweep thread of port %d still running, waiting for it", GetLocalPort());
            // It sends through this socket: never free the socket under it.
            m_hSweepThread.join();
        }
    }
}

std::vector<DWORD> CSocketSweep::SweepTargets(DWORD dwOwnIP)
{
    std::vector<DWORD> targets;
    targets.reserve(254);
    for (DWORD dwHost = 1; dwHost <= 254; ++dwHost) {
        const DWORD dwIP = (dwOwnIP & 0xFFFFFF00u) | dwHost;
        if (dwIP != dwOwnIP)
            targets.push_back(dwIP);
    }
    return targets;
}

bool CSocketSweep::StartSweepThread(const BYTE* pPacket, int nLen, WORD usSweepPort, HWND hDoneWnd,
                                    UINT uDoneMsg)
{
    m_pSweepPacket.assign(pPacket, pPacket + std::max(nLen, 0));
    m_usSweepPort = usSweepPort;
    m_hDoneWnd = hDoneWnd;
    m_uDoneMsg = uDoneMsg;
    m_bHasEvent = true;
    try {
        m_hSweepThread = std::thread(&CSocketSweep::ThreadProc, this);
    } catch (const std::system_error&) {
        return false;
    }
    SignalEvent();
    return true;
}

void CSocketSweep::Sweep(HWND hDoneWnd, UINT uDoneMsg)
{
    m_hDoneWnd = hDoneWnd;
    m_uDoneMsg = uDoneMsg;
    SignalEvent();
}

void CSocketSweep::SignalEvent()
{
    std::lock_guard<std::mutex> lock(m_mutexEvent);
    m_bSignalled = true;
    m_condEvent.notify_one();
}

void CSocketSweep::ThreadProc()
{
    const int nLen = static_cast<int>(m_pSweepPacket.size());
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutexEvent);
            m_condEvent.wait(lock, [this] { return m_bSignalled; });
            m_bSignalled = false;
        }
        // Woken to stop: send nothing more.
        if (m_bStop)
            break;
        bool bStopped = false;
        for (DWORD dwIP : SweepTargets(GetLocalIP())) {
            // While the kernel refuses our datagrams its neighbour table is full, and each probe
            // of an empty address would hold a freed place for seconds: the waiting queries get
            // the places first, for a while.
            for (int nWaitedMs = 0; CSocketUdp::AnySendsDeferred() && !m_bStop && nWaitedMs < MAX_YIELD_MS;
                 nWaitedMs += SWEEP_INTERVAL_MS)
                std::this_thread::sleep_for(std::chrono::milliseconds(SWEEP_INTERVAL_MS));
            SendOnce(m_pSweepPacket.data(), nLen, dwIP, m_usSweepPort);
            std::this_thread::sleep_for(std::chrono::milliseconds(SWEEP_INTERVAL_MS));
            if (m_bStop) {
                bStopped = true;
                break;
            }
        }
        if (bStopped)
            break;
        SendMessage(m_hDoneWnd.load(), m_uDoneMsg.load(), 0, 1);
    }
    m_threadDone.set_value();
}
