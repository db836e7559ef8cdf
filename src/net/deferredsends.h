// Datagrams the kernel would not take for now, waiting to be sent again. With many cameras the
// system's neighbour table fills up: a send to a camera without an entry is then refused, and
// without this list every query of a pass to that camera would be lost.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <tuple>

class CDeferredSends {
public:
    // How long a datagram may wait. The kernel frees a place at once from an address that
    // failed to resolve, five seconds after the last change from an unused one, and never from
    // an entry confirmed within the last 15 to 45 s. Kept short all the same: a command that
    // arrived after its caller stopped waiting for the answer would act unseen.
    static constexpr DWORD LIFETIME_MS = 10000;
    static constexpr std::size_t MAX_DATAGRAMS = 8192;
    static constexpr std::size_t MAX_BYTES = 4 << 20;

    struct Datagram {
        DWORD dwIP = 0;
        WORD usPort = 0;
        std::string strData;
        DWORD dwQueuedTick = 0;
    };

    // Queues a copy, unless the same bytes already wait for the same destination (a query pass
    // repeats what the last one could not send). False when the list is full: the datagram is
    // lost.
    bool Add(const BYTE* pData, std::size_t nLen, DWORD dwIP, WORD usPort, DWORD dwTick);
    // Whether a datagram to dwIP waits: later ones to it must queue behind it to keep their order.
    bool Holds(DWORD dwIP) const { return m_mapPerDestination.count(dwIP) != 0; }
    bool IsEmpty() const { return m_queue.empty(); }
    std::size_t GetCount() const { return m_queue.size(); }
    std::size_t GetBytes() const { return m_nBytes; }
    const Datagram& Front() const { return m_queue.front(); }
    void PopFront();
    // Removes the datagrams that waited longer than LIFETIME_MS (tick arithmetic wraps), oldest
    // first, and hands each to fnDropped.
    template <typename F> void DropExpired(DWORD dwTick, F&& fnDropped)
    {
        while (!m_queue.empty() && dwTick - m_queue.front().dwQueuedTick > LIFETIME_MS) {
            fnDropped(m_queue.front());
            PopFront();
        }
    }
    void Clear();

private:
    using Key = std::tuple<DWORD, WORD, std::string>;

    std::deque<Datagram> m_queue;
    std::set<Key> m_setQueued;
    std::map<DWORD, std::size_t> m_mapPerDestination;
    std::size_t m_nBytes = 0;
};
