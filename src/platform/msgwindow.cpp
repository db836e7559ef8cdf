#include "platform/msgwindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimerEvent>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {
std::atomic<WndProcExceptionHandler> g_wndProcExceptionHandler{nullptr};
} // namespace

WndProcExceptionHandler SetWndProcExceptionHandler(WndProcExceptionHandler handler)
{
    return g_wndProcExceptionHandler.exchange(handler);
}

namespace {

// Windows clamps timer periods to these bounds (USER_TIMER_MINIMUM / USER_TIMER_MAXIMUM).
constexpr UINT TIMER_MINIMUM_MS = 10;
constexpr UINT TIMER_MAXIMUM_MS = INT_MAX;

class CWindowObject;

struct WindowRecord {
    HWND hWnd = nullptr;
    std::string strName;
    std::string strClass;
    WNDPROC proc = nullptr;
    std::thread::id owner;
    std::atomic<LPARAM> userData{0};
    // Guarded by the registry mutex for readers on other threads; written by the owner only.
    CWindowObject* pObject = nullptr;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, WNDPROC> classes;
    std::unordered_map<std::uintptr_t, std::shared_ptr<WindowRecord>> windows;
    std::uintptr_t uNextHandle = 1;
};

// Never destroyed: window owners with static lifetime clean up after main() returns.
Registry& Reg()
{
    static auto* pRegistry = new Registry;
    return *pRegistry;
}

std::uintptr_t Key(HWND hWnd)
{
    return reinterpret_cast<std::uintptr_t>(hWnd);
}

QEvent::Type PostedMessageType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type SyncCallType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class CPostedMessage : public QEvent {
public:
    CPostedMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
        : QEvent(PostedMessageType()), m_uMsg(uMsg), m_wParam(wParam), m_lParam(lParam)
    {
    }

    UINT m_uMsg;
    WPARAM m_wParam;
    LPARAM m_lParam;
};

// The rendezvous of a call made from another thread: the caller waits until the owner has
// completed it.
class CSyncCall {
public:
    void Complete(LRESULT result)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bDone)
            return;
        m_bDone = true;
        m_result = result;
        m_cond.notify_all();
    }

    LRESULT Wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait(lock, [this] { return m_bDone; });
        return m_result;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_bDone = false;
    LRESULT m_result = 0;
};

class CSyncCallEvent : public QEvent {
public:
    using Fn = std::function<LRESULT(CWindowObject&)>;

    CSyncCallEvent(Fn fn, std::shared_ptr<CSyncCall> call)
        : QEvent(SyncCallType()), m_fn(std::move(fn)), m_call(std::move(call))
    {
    }
    // Discarded unhandled (window destroyed, thread gone) or the procedure threw: the
    // caller must not wait for ever, it gets 0.
    ~CSyncCallEvent() override { m_call->Complete(0); }

    void Run(CWindowObject& window) { m_call->Complete(m_fn(window)); }

private:
    Fn m_fn;
    std::shared_ptr<CSyncCall> m_call;
};

class CWindowObject : public QObject {
public:
    explicit CWindowObject(std::shared_ptr<WindowRecord> record) : m_record(std::move(record)) {}

    LRESULT Dispatch(UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (m_bDestroyed)
            return 0;
        struct DepthGuard {
            int& n;
            explicit DepthGuard(int& depth) : n(depth) { ++n; }
            ~DepthGuard() { --n; }
        } guard(m_nDispatchDepth);
        return m_record->proc(m_record->hWnd, uMsg, wParam, lParam);
    }

    UINT_PTR StartTimer(UINT_PTR nIDEvent, UINT uElapse)
    {
        if (m_bDestroyed)
            return 0;
        StopTimer(nIDEvent);
        const UINT uPeriod = std::clamp(uElapse, TIMER_MINIMUM_MS, TIMER_MAXIMUM_MS);
        const int nQtId = startTimer(static_cast<int>(uPeriod), Qt::PreciseTimer);
        if (nQtId == 0)
            return 0;
        m_timerByCallerId[nIDEvent] = nQtId;
        m_callerIdByTimer[nQtId] = nIDEvent;
        m_periodByCallerId[nIDEvent] = uPeriod;
        return nIDEvent;
    }

    UINT TimerPeriod(UINT_PTR nIDEvent) const
    {
        const auto it = m_periodByCallerId.find(nIDEvent);
        return it == m_periodByCallerId.end() ? 0 : it->second;
    }

    bool StopTimer(UINT_PTR nIDEvent)
    {
        const auto it = m_timerByCallerId.find(nIDEvent);
        if (it == m_timerByCallerId.end())
            return false;
        killTimer(it->second);
        m_callerIdByTimer.erase(it->second);
        m_timerByCallerId.erase(it);
        m_periodByCallerId.erase(nIDEvent);
        return true;
    }

    void MarkDestroyed()
    {
        m_bDestroyed = true;
        for (const auto& [nIDEvent, nQtId] : m_timerByCallerId)
            killTimer(nQtId);
        m_timerByCallerId.clear();
        m_callerIdByTimer.clear();
        m_periodByCallerId.clear();
    }

    bool IsDispatching() const { return m_nDispatchDepth > 0; }

    friend bool ::DispatchFromOwnerLoop(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

protected:
    bool event(QEvent* pEvent) override
    {
        if (pEvent->type() == PostedMessageType()) {
            const auto* pMsg = static_cast<CPostedMessage*>(pEvent);
            DispatchFromLoop(pMsg->m_uMsg, pMsg->m_wParam, pMsg->m_lParam);
            return true;
        }
        if (pEvent->type() == SyncCallType()) {
            static_cast<CSyncCallEvent*>(pEvent)->Run(*this);
            return true;
        }
        return QObject::event(pEvent);
    }

    void timerEvent(QTimerEvent* pEvent) override
    {
        const auto it = m_callerIdByTimer.find(pEvent->timerId());
        if (it == m_callerIdByTimer.end())
            return;
        DispatchFromLoop(WM_TIMER, it->second, 0);
    }

    // The event loop cannot carry an exception: it goes to the handler the program set, which
    // ends the run in order; without one it goes on as from any other event handler.
    void DispatchFromLoop(UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        const WndProcExceptionHandler handler = g_wndProcExceptionHandler.load();
        if (handler == nullptr) {
            Dispatch(uMsg, wParam, lParam);
            return;
        }
        try {
            Dispatch(uMsg, wParam, lParam);
        } catch (...) {
            handler(std::current_exception());
        }
    }

private:
    std::shared_ptr<WindowRecord> m_record;
    std::map<UINT_PTR, int> m_timerByCallerId;
    std::map<int, UINT_PTR> m_callerIdByTimer;
    std::map<UINT_PTR, UINT> m_periodByCallerId;
    int m_nDispatchDepth = 0;
    bool m_bDestroyed = false;
};

std::shared_ptr<WindowRecord> Find(HWND hWnd)
{
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto it = reg.windows.find(Key(hWnd));
    return it == reg.windows.end() ? nullptr : it->second;
}

// Posts under the registry lock, so the window cannot be deleted between look-up and post;
// a window destroyed afterwards discards the event together with its other queued ones.
bool PostToWindow(HWND hWnd, QEvent* pEvent, int nPriority)
{
    std::unique_ptr<QEvent> event(pEvent);
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto it = reg.windows.find(Key(hWnd));
    if (it == reg.windows.end() || it->second->pObject == nullptr)
        return false;
    QCoreApplication::postEvent(it->second->pObject, event.release(), nPriority);
    return true;
}

// Runs fn on the window's own thread: directly when that is the calling thread, else queued
// ahead of posted messages (as Windows handles sent messages first) while the caller waits.
LRESULT CallOnOwner(HWND hWnd, CSyncCallEvent::Fn fn)
{
    const std::shared_ptr<WindowRecord> record = Find(hWnd);
    if (!record)
        return 0;
    if (record->owner == std::this_thread::get_id()) {
        CWindowObject* pObject = record->pObject;
        return pObject != nullptr ? fn(*pObject) : 0;
    }
    auto call = std::make_shared<CSyncCall>();
    if (!PostToWindow(hWnd, new CSyncCallEvent(std::move(fn), call), Qt::HighEventPriority))
        return 0;
    return call->Wait();
}

} // namespace

bool RegisterWindowClass(const std::string& className, WNDPROC proc)
{
    if (className.empty() || proc == nullptr)
        return false;
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return reg.classes.emplace(className, proc).second;
}

bool UnregisterWindowClass(const std::string& className)
{
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    // As on Windows, a class stays while windows of it exist.
    for (const auto& [uKey, record] : reg.windows) {
        if (record->strClass == className)
            return false;
    }
    return reg.classes.erase(className) > 0;
}

HWND CreateMsgWindow(const std::string& className, const std::string& windowName)
{
    auto record = std::make_shared<WindowRecord>();
    record->strName = windowName;
    record->strClass = className;
    record->owner = std::this_thread::get_id();

    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto itClass = reg.classes.find(className);
    if (itClass == reg.classes.end())
        return nullptr;
    record->proc = itClass->second;
    record->hWnd = reinterpret_cast<HWND>(reg.uNextHandle++);
    // The object's thread affinity is the calling thread, where its events and timers run.
    record->pObject = new CWindowObject(record);
    reg.windows.emplace(Key(record->hWnd), record);
    return record->hWnd;
}

bool DestroyWindow(HWND hWnd)
{
    CWindowObject* pObject = nullptr;
    {
        Registry& reg = Reg();
        std::lock_guard<std::mutex> lock(reg.mutex);
        const auto it = reg.windows.find(Key(hWnd));
        if (it == reg.windows.end() || it->second->owner != std::this_thread::get_id())
            return false;
        pObject = std::exchange(it->second->pObject, nullptr);
        reg.windows.erase(it);
    }
    pObject->MarkDestroyed();
    // Discards queued messages; callers waiting in SendMessage are released with 0.
    QCoreApplication::removePostedEvents(pObject);
    // A procedure of this window may be on the stack (it destroyed its own window).
    if (pObject->IsDispatching())
        pObject->deleteLater();
    else
        delete pObject;
    return true;
}

bool IsWindow(HWND hWnd)
{
    return Find(hWnd) != nullptr;
}

std::string GetWindowName(HWND hWnd)
{
    const std::shared_ptr<WindowRecord> record = Find(hWnd);
    return record ? record->strName : std::string();
}

LPARAM SetWindowUserData(HWND hWnd, LPARAM value)
{
    const std::shared_ptr<WindowRecord> record = Find(hWnd);
    return record ? record->userData.exchange(value) : 0;
}

LPARAM GetWindowUserData(HWND hWnd)
{
    const std::shared_ptr<WindowRecord> record = Find(hWnd);
    return record ? record->userData.load() : 0;
}

LRESULT SendMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return CallOnOwner(hWnd, [uMsg, wParam, lParam](CWindowObject& window) {
        return window.Dispatch(uMsg, wParam, lParam);
    });
}

bool PostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return PostToWindow(hWnd, new CPostedMessage(uMsg, wParam, lParam), Qt::NormalEventPriority);
}

bool DispatchFromOwnerLoop(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CWindowObject* pObject = nullptr;
    {
        Registry& reg = Reg();
        std::lock_guard<std::mutex> lock(reg.mutex);
        const auto it = reg.windows.find(Key(hWnd));
        if (it == reg.windows.end() || it->second->owner != std::this_thread::get_id())
            return false;
        pObject = it->second->pObject;
    }
    // Only the owner destroys its windows, and it is here: the object outlives the call.
    if (pObject == nullptr)
        return false;
    pObject->DispatchFromLoop(uMsg, wParam, lParam);
    return true;
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse)
{
    if (nIDEvent == 0)
        return 0;
    return static_cast<UINT_PTR>(CallOnOwner(hWnd, [nIDEvent, uElapse](CWindowObject& window) {
        return static_cast<LRESULT>(window.StartTimer(nIDEvent, uElapse));
    }));
}

UINT GetTimerPeriod(HWND hWnd, UINT_PTR nIDEvent)
{
    return static_cast<UINT>(CallOnOwner(hWnd, [nIDEvent](CWindowObject& window) {
        return static_cast<LRESULT>(window.TimerPeriod(nIDEvent));
    }));
}

bool KillTimer(HWND hWnd, UINT_PTR nIDEvent)
{
    return CallOnOwner(hWnd, [nIDEvent](CWindowObject& window) {
               return static_cast<LRESULT>(window.StopTimer(nIDEvent));
           }) != 0;
}

LRESULT DefWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return 0;
}
