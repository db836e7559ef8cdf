// The live view's decoding threads, shared by every pane: as many workers as the machine has
// cores, however many panes there are. Each pane's source is a lane: its steps (one frame each:
// decode, convert, present) run one at a time and in order, lanes taking turns, so that sixteen
// panes neither start sixteen threads nor let one busy camera starve the others.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CDecodePool {
public:
    class CLane;

    explicit CDecodePool(unsigned nThreads);
    ~CDecodePool();
    CDecodePool(const CDecodePool&) = delete;
    CDecodePool& operator=(const CDecodePool&) = delete;

    // The process's pool, std::thread::hardware_concurrency() workers.
    static CDecodePool& Shared();

    // fnStep does one unit of the lane's work and says whether more is waiting (it then runs
    // again after the other lanes had their turn). The lane sleeps until Wake.
    std::shared_ptr<CLane> AddLane(std::function<bool()> fnStep);
    std::size_t ThreadCount() const { return m_vThreads.size(); }

private:
    void Worker();

    std::mutex m_mutex;
    std::condition_variable m_cvWork; // a lane is ready, or the pool ends
    std::condition_variable m_cvIdle; // a step ended
    std::deque<std::shared_ptr<CLane>> m_ready;
    bool m_bStop = false;
    std::vector<std::thread> m_vThreads;
};

class CDecodePool::CLane : public std::enable_shared_from_this<CLane> {
public:
    CLane(CDecodePool* pPool, std::function<bool()> fnStep) : m_pPool(pPool), m_fnStep(std::move(fnStep)) {}
    // The step runs soon; if it is running, once more after it.
    void Wake();
    // When this returns the step is not running (unless called from the step itself) and
    // never runs again.
    void Close();

private:
    friend class CDecodePool;
    CDecodePool* m_pPool;
    std::function<bool()> m_fnStep;
    // Under the pool's mutex.
    bool m_bQueued = false;
    bool m_bRunning = false;
    bool m_bWokenWhileRunning = false;
    bool m_bClosed = false;
    std::thread::id m_runner;
};
