// A socket of a sweep group: its thread sends one packet to every other host of the
// socket's /24 network, 50 ms apart (longer while datagrams of the process wait for the
// kernel), each time its event is signalled.
#pragma once

#include "net/socketudp.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

class CSocketSweep : public CSocketUdp {
public:
    static constexpr int SWEEP_INTERVAL_MS = 50;
    static constexpr int STOP_WAIT_MS = 3000;
    // Longest wait of one probe while other datagrams of the process wait for the kernel.
    static constexpr int MAX_YIELD_MS = static_cast<int>(CDeferredSends::LIFETIME_MS);

    using CSocketUdp::CSocketUdp;
    ~CSocketSweep() override;

    // Copies the packet, creates the event and the thread, and starts the first sweep.
    // Completion is reported by SendMessage(hDoneWnd, uDoneMsg, 0, 1). False when the thread
    // cannot be created.
    bool StartSweepThread(const BYTE* pPacket, int nLen, WORD usSweepPort, HWND hDoneWnd, UINT uDoneMsg);
    // One more sweep, reported to hDoneWnd/uDoneMsg.
    void Sweep(HWND hDoneWnd, UINT uDoneMsg);

    // The hosts of dwOwnIP's /24 network (last byte 1 to 254) other than dwOwnIP, in order.
    static std::vector<DWORD> SweepTargets(DWORD dwOwnIP);

private:
    void ThreadProc();
    void SignalEvent();

    std::vector<BYTE> m_pSweepPacket;
    WORD m_usSweepPort = 0;
    std::atomic<HWND> m_hDoneWnd{nullptr};
    std::atomic<UINT> m_uDoneMsg{0};
    std::atomic<bool> m_bStop{false};

    // The auto-reset event that starts one sweep.
    bool m_bHasEvent = false;
    std::mutex m_mutexEvent;
    std::condition_variable m_condEvent;
    bool m_bSignalled = false;

    std::thread m_hSweepThread;
    std::promise<void> m_threadDone;
};
