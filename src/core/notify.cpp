#include "core/notify.h"

#include "core/log.h"

#include <algorithm>
#include <vector>

CNotifyManager::CNotifyManager() = default;

CNotifyManager::~CNotifyManager() = default;

int CNotifyManager::RegisterNotify(DWORD dwNotifyID, INotifySink* pSink)
{
    NotifyEntry& entry = m_mapEntries[dwNotifyID];
    // A null sink would only surface later, as a fatal check in every Notify of the id.
    FATAL_CHECK(pSink != nullptr, "RegisterNotify %d", (int)dwNotifyID);
    bool bPresent = std::find(entry.listSinks.begin(), entry.listSinks.end(), pSink) != entry.listSinks.end();
    FATAL_CHECK(!bPresent, "RegisterNotify %d", (int)dwNotifyID);
    entry.listSinks.push_back(pSink);
    return ++entry.nCount;
}

int CNotifyManager::RemoveNotify(DWORD dwNotifyID, INotifySink* pSink)
{
    auto it = m_mapEntries.find(dwNotifyID);
    FATAL_CHECK(it != m_mapEntries.end());
    NotifyEntry& entry = it->second;
    auto itSink = std::find(entry.listSinks.begin(), entry.listSinks.end(), pSink);
    FATAL_CHECK(itSink != entry.listSinks.end(), "RemoveNotify %d", (int)dwNotifyID);
    entry.listSinks.erase(itSink);
    return --entry.nCount;
}

void CNotifyManager::Notify(DWORD dwNotifyID, UINT_PTR dwParam)
{
    VLOG(3, "CNotifyManager::Notify: beg { dwNotifyID:%d", (int)dwNotifyID);
    auto it = m_mapEntries.find(dwNotifyID);
    FATAL_CHECK(it != m_mapEntries.end(), "Notify %d", (int)dwNotifyID);

    // Subscribers may change the list from inside NotifySink; walk a copy and skip the
    // sinks that are no longer subscribed when their turn comes.
    std::vector<INotifySink*> vecSnapshot(it->second.listSinks.begin(), it->second.listSinks.end());
    for (INotifySink* pSink : vecSnapshot) {
        FATAL_CHECK(pSink != nullptr);
        // Entries are never erased, so the iterator survives subscriptions made meanwhile.
        const std::list<INotifySink*>& listNow = it->second.listSinks;
        if (std::find(listNow.begin(), listNow.end(), pSink) == listNow.end())
            continue;
        pSink->NotifySink(dwNotifyID, dwParam);
    }
    VLOG(3, "CNotifyManager::Notify: end } size:%d", (int)vecSnapshot.size());
}

bool CNotifyManager::IsRegistered(DWORD dwNotifyID)
{
    return m_mapEntries.find(dwNotifyID) != m_mapEntries.end();
}

CNotifyManager* GetNotifyManager()
{
    static CNotifyManager s_notifyManager;
    return &s_notifyManager;
}
