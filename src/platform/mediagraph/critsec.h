// Locks of the media graph: a recursive critical section and its scoped holder.
#pragma once

#include <mutex>

class CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    std::recursive_mutex& Mutex() { return m_mutex; }

private:
    std::recursive_mutex m_mutex;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* pLock) : m_pLock(pLock) { m_pLock->Lock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;
    ~CAutoLock() { m_pLock->Unlock(); }

private:
    CCritSec* m_pLock;
};
