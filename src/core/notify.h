// The notification bus: numbered notifications with one pointer-sized parameter, delivered
// synchronously to every subscriber of the number in subscription order.
//
// Only the user-interface thread uses the bus. A subscriber may remove itself or others, or
// subscribe new sinks, from inside NotifySink: a delivery works on the list as it was when
// Notify began, skips sinks that were removed meanwhile and does not call sinks added
// meanwhile (they get the next notification).
#pragma once

#include "core/notifyids.h"
#include "platform/wintypes.h"

#include <list>
#include <map>

class INotifySink {
public:
    virtual ~INotifySink() = default;
    // dwParam is a number or a pointer valid only during the call (see notifyids.h);
    // pointer-sized so that a pointer survives on 64-bit builds.
    virtual void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) = 0;
};

class CNotifyManager {
public:
    CNotifyManager();
    CNotifyManager(const CNotifyManager&) = delete;
    CNotifyManager& operator=(const CNotifyManager&) = delete;

    // Appends pSink to the subscribers of the id; a sink already subscribed to it, or a
    // null sink, is a fatal check. Returns the number of subscribers.
    virtual int RegisterNotify(DWORD dwNotifyID, INotifySink* pSink);
    // Removes pSink; an id that never had a subscriber or a sink not subscribed to it is a
    // fatal check. Returns the number of subscribers left.
    virtual int RemoveNotify(DWORD dwNotifyID, INotifySink* pSink);
    // Calls every subscriber of the id; an id that never had a subscriber is a fatal check.
    virtual void Notify(DWORD dwNotifyID, UINT_PTR dwParam);
    // Whether the id ever had a subscriber (its entry stays when the list empties).
    virtual bool IsRegistered(DWORD dwNotifyID);
    virtual ~CNotifyManager();

private:
    struct NotifyEntry {
        std::list<INotifySink*> listSinks;
        int nCount = 0;
    };
    std::map<DWORD, NotifyEntry> m_mapEntries;
};

// The process-wide bus, created on first use.
CNotifyManager* GetNotifyManager();
