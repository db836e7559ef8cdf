#include "media/video/decodepool.h"

#include <algorithm>

CDecodePool::CDecodePool(unsigned nThreads)
{
    nThreads = std::max(nThreads, 1u);
    m_vThreads.reserve(nThreads);
    for (unsigned i = 0; i < nThreads; ++i)
        m_vThreads.emplace_back(&CDecodePool::Worker, this);
}

CDecodePool::~CDecodePool()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_cvWork.notify_all();
    for (std::thread& thread : m_vThreads)
        thread.join();
}

CDecodePool& CDecodePool::Shared()
{
    static CDecodePool s_pool(std::thread::hardware_concurrency());
    return s_pool;
}

std::shared_ptr<CDecodePool::CLane> CDecodePool::AddLane(std::function<bool()> fnStep)
{
    return std::make_shared<CLane>(this, std::move(fnStep));
}

void CDecodePool::Worker()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [this] { return m_bStop || !m_ready.empty(); });
        if (m_bStop)
            return;
        std::shared_ptr<CLane> pLane = std::move(m_ready.front());
        m_ready.pop_front();
        pLane->m_bQueued = false;
        if (pLane->m_bClosed)
            continue;
        pLane->m_bRunning = true;
        pLane->m_runner = std::this_thread::get_id();
        lock.unlock();
        const bool bMore = pLane->m_fnStep();
        lock.lock();
        pLane->m_bRunning = false;
        pLane->m_runner = {};
        if (!pLane->m_bClosed && (bMore || pLane->m_bWokenWhileRunning)) {
            // To the back: the other panes' frames first.
            pLane->m_bQueued = true;
            m_ready.push_back(pLane);
            m_cvWork.notify_one();
        }
        pLane->m_bWokenWhileRunning = false;
        m_cvIdle.notify_all();
    }
}

void CDecodePool::CLane::Wake()
{
    {
        std::lock_guard lock(m_pPool->m_mutex);
        if (m_bClosed)
            return;
        if (m_bRunning) {
            m_bWokenWhileRunning = true;
            return;
        }
        if (m_bQueued)
            return;
        m_bQueued = true;
        m_pPool->m_ready.push_back(shared_from_this());
    }
    m_pPool->m_cvWork.notify_one();
}

void CDecodePool::CLane::Close()
{
    std::unique_lock lock(m_pPool->m_mutex);
    m_bClosed = true;
    if (m_bQueued) {
        auto& ready = m_pPool->m_ready;
        ready.erase(std::remove(ready.begin(), ready.end(), shared_from_this()), ready.end());
        m_bQueued = false;
    }
    if (m_runner == std::this_thread::get_id())
        return;
    m_pPool->m_cvIdle.wait(lock, [this] { return !m_bRunning; });
}
