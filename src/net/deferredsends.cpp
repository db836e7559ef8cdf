#include "net/deferredsends.h"

bool CDeferredSends::Add(const BYTE* pData, std::size_t nLen, DWORD dwIP, WORD usPort, DWORD dwTick)
{
    std::string strData(reinterpret_cast<const char*>(pData), nLen);
    Key key{dwIP, usPort, strData};
    if (m_setQueued.count(key) != 0)
        return true;
    if (m_queue.size() >= MAX_DATAGRAMS || m_nBytes + nLen > MAX_BYTES)
        return false;
    m_setQueued.insert(std::move(key));
    m_queue.push_back({dwIP, usPort, std::move(strData), dwTick});
    ++m_mapPerDestination[dwIP];
    m_nBytes += nLen;
    return true;
}

void CDeferredSends::PopFront()
{
    if (m_queue.empty())
        return;
    Datagram& front = m_queue.front();
    m_setQueued.erase(Key{front.dwIP, front.usPort, front.strData});
    const auto it = m_mapPerDestination.find(front.dwIP);
    if (it != m_mapPerDestination.end() && --it->second == 0)
        m_mapPerDestination.erase(it);
    m_nBytes -= front.strData.size();
    m_queue.pop_front();
}

void CDeferredSends::Clear()
{
    m_queue.clear();
    m_setQueued.clear();
    m_mapPerDestination.clear();
    m_nBytes = 0;
}
