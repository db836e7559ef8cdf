#include "platform/msgwindow.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT MSG_ADD = WM_USER + 1;    // returns wParam + lParam
constexpr UINT MSG_NESTED = WM_USER + 2; // sends MSG_ADD to itself, returns that result * 10
constexpr UINT MSG_DESTROY_SELF = WM_USER + 3;
constexpr UINT MSG_RECORD = WM_USER + 4; // only recorded

struct Received {
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id thread;
};

// What one window saw; reached through the window's user-data word.
struct WindowLog {
    std::mutex mutex;
    std::vector<Received> messages;

    std::vector<Received> Snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }
    std::size_t CountOf(UINT uMsg, WPARAM wParam)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::size_t n = 0;
        for (const Received& r : messages)
            n += (r.uMsg == uMsg && r.wParam == wParam) ? 1 : 0;
        return n;
    }
};

LRESULT TestProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pLog = reinterpret_cast<WindowLog*>(GetWindowUserData(hWnd));
    if (pLog != nullptr) {
        std::lock_guard<std::mutex> lock(pLog->mutex);
        pLog->messages.push_back({uMsg, wParam, lParam, std::this_thread::get_id()});
    }
    switch (uMsg) {
    case MSG_ADD:
        return static_cast<LRESULT>(wParam) + lParam;
    case MSG_NESTED:
        return SendMessage(hWnd, MSG_ADD, wParam, lParam) * 10;
    case MSG_DESTROY_SELF:
        DestroyWindow(hWnd);
        return 1;
    default:
        return DefWindowProc(hWnd, uMsg, wParam, lParam);
    }
}

// Runs the calling thread's event loop until the condition holds; the guard timer only keeps
// a broken build from hanging the suite.
bool RunUntil(const std::function<bool()>& done, int nGuardMs = 10000)
{
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(nGuardMs);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

void ProcessPending()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
}

class MsgWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RegisterWindowClass(kClass, TestProc));
        m_hWnd = CreateMsgWindow(kClass, "Test Window");
        ASSERT_NE(m_hWnd, nullptr);
        SetWindowUserData(m_hWnd, reinterpret_cast<LPARAM>(&m_log));
    }
    void TearDown() override
    {
        if (IsWindow(m_hWnd))
            DestroyWindow(m_hWnd);
        ProcessPending();
        UnregisterWindowClass(kClass);
    }

    static constexpr const char* kClass = "Test Window Class";
    HWND m_hWnd = nullptr;
    WindowLog m_log;
};

TEST_F(MsgWindowTest, ClassesWindowsAndUserData)
{
    EXPECT_FALSE(RegisterWindowClass(kClass, TestProc));
    EXPECT_FALSE(RegisterWindowClass("", TestProc));
    EXPECT_EQ(CreateMsgWindow("No Such Class", "x"), nullptr);
    // A class with live windows cannot go away under them.
    EXPECT_FALSE(UnregisterWindowClass(kClass));

    EXPECT_TRUE(IsWindow(m_hWnd));
    EXPECT_EQ(GetWindowName(m_hWnd), "Test Window");
    EXPECT_EQ(SetWindowUserData(m_hWnd, 77), reinterpret_cast<LPARAM>(&m_log));
    EXPECT_EQ(GetWindowUserData(m_hWnd), 77);
    SetWindowUserData(m_hWnd, reinterpret_cast<LPARAM>(&m_log));

    HWND hOther = CreateMsgWindow(kClass, "Other");
    ASSERT_NE(hOther, nullptr);
    EXPECT_NE(hOther, m_hWnd);
    EXPECT_EQ(GetWindowUserData(hOther), 0);
    EXPECT_TRUE(DestroyWindow(hOther));
    EXPECT_FALSE(IsWindow(hOther));
    EXPECT_FALSE(DestroyWindow(hOther));
    EXPECT_EQ(GetWindowName(hOther), "");

    // Handles are never reused.
    HWND hThird = CreateMsgWindow(kClass, "Third");
    EXPECT_NE(hThird, hOther);
    EXPECT_NE(hThird, m_hWnd);
    DestroyWindow(hThird);

    EXPECT_EQ(SendMessage(nullptr, MSG_ADD, 1, 2), 0);
    EXPECT_FALSE(PostMessage(nullptr, MSG_ADD, 1, 2));
    EXPECT_EQ(DefWindowProc(m_hWnd, 12345, 1, 2), 0);
}

TEST_F(MsgWindowTest, SameThreadSendIsADirectCallAndReentrant)
{
    // No event loop runs: the result must come from a direct call.
    EXPECT_EQ(SendMessage(m_hWnd, MSG_ADD, 3, 4), 7);
    EXPECT_EQ(SendMessage(m_hWnd, MSG_NESTED, 3, 4), 70);
    const std::vector<Received> got = m_log.Snapshot();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].uMsg, MSG_ADD);
    EXPECT_EQ(got[1].uMsg, MSG_NESTED);
    EXPECT_EQ(got[2].uMsg, MSG_ADD);
}

TEST_F(MsgWindowTest, CrossThreadSendBlocksAndRunsOnOwner)
{
    std::atomic<bool> bDone{false};
    LRESULT result = -1;
    std::thread sender([&] {
        result = SendMessage(m_hWnd, MSG_ADD, 40, 2);
        bDone = true;
    });
    ASSERT_TRUE(RunUntil([&] { return bDone.load(); }));
    sender.join();
    EXPECT_EQ(result, 42);
    const std::vector<Received> got = m_log.Snapshot();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].thread, std::this_thread::get_id());
}

TEST_F(MsgWindowTest, CrossThreadSendWaitsForTheOwner)
{
    std::atomic<bool> bDone{false};
    std::thread sender([&] {
        SendMessage(m_hWnd, MSG_ADD, 1, 1);
        bDone = true;
    });
    // The owner has not run its loop: the sender cannot have been answered.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(bDone.load());
    EXPECT_TRUE(m_log.Snapshot().empty());
    ASSERT_TRUE(RunUntil([&] { return bDone.load(); }));
    sender.join();
}

TEST_F(MsgWindowTest, SendToWindowDestroyedWhileQueuedReturnsZero)
{
    std::atomic<bool> bStarted{false};
    std::atomic<bool> bDone{false};
    LRESULT result = -1;
    std::thread sender([&] {
        bStarted = true;
        result = SendMessage(m_hWnd, MSG_ADD, 5, 5);
        bDone = true;
    });
    while (!bStarted)
        std::this_thread::yield();
    // Usually the send is queued by now; either way it must come back with 0.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(DestroyWindow(m_hWnd));
    ASSERT_TRUE(RunUntil([&] { return bDone.load(); }));
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(m_log.CountOf(MSG_ADD, 5), 0u);
}

TEST_F(MsgWindowTest, PostedMessagesArriveInOrderFromAnyThread)
{
    constexpr int kCount = 200;
    for (int i = 0; i < kCount; ++i)
        ASSERT_TRUE(PostMessage(m_hWnd, MSG_RECORD, static_cast<WPARAM>(i), 0));
    std::thread poster([&] {
        for (int i = 0; i < kCount; ++i)
            PostMessage(m_hWnd, MSG_RECORD, static_cast<WPARAM>(i), 1);
    });
    poster.join();
    // Nothing is delivered before the owner's loop runs.
    EXPECT_TRUE(m_log.Snapshot().empty());
    ASSERT_TRUE(RunUntil([&] { return m_log.Snapshot().size() == 2 * kCount; }));

    WPARAM expected[2] = {0, 0};
    for (const Received& r : m_log.Snapshot()) {
        ASSERT_EQ(r.thread, std::this_thread::get_id());
        ASSERT_EQ(r.wParam, expected[r.lParam]) << "from poster " << r.lParam;
        ++expected[r.lParam];
    }
}

TEST_F(MsgWindowTest, DestroyDiscardsQueuedMessagesAndLaterPostsFail)
{
    ASSERT_TRUE(PostMessage(m_hWnd, MSG_RECORD, 1, 0));
    ASSERT_TRUE(PostMessage(m_hWnd, MSG_RECORD, 2, 0));
    ASSERT_TRUE(DestroyWindow(m_hWnd));
    EXPECT_FALSE(PostMessage(m_hWnd, MSG_RECORD, 3, 0));
    EXPECT_EQ(SendMessage(m_hWnd, MSG_ADD, 1, 1), 0);
    ProcessPending();
    EXPECT_TRUE(m_log.Snapshot().empty());
}

TEST_F(MsgWindowTest, WindowMayDestroyItselfInsideItsProcedure)
{
    ASSERT_TRUE(PostMessage(m_hWnd, MSG_DESTROY_SELF, 0, 0));
    ASSERT_TRUE(PostMessage(m_hWnd, MSG_RECORD, 9, 0));
    ASSERT_TRUE(RunUntil([&] { return !IsWindow(m_hWnd); }));
    ProcessPending();
    EXPECT_EQ(m_log.CountOf(MSG_RECORD, 9), 0u);
    EXPECT_EQ(SendMessage(m_hWnd, MSG_DESTROY_SELF, 0, 0), 0);
}

TEST_F(MsgWindowTest, PostingWhileTheWindowIsDestroyedIsSafe)
{
    std::atomic<bool> bStop{false};
    std::atomic<int> nFailedAfterDestroy{0};
    std::atomic<bool> bDestroyed{false};
    std::thread poster([&] {
        while (!bStop) {
            const bool bDestroyedBefore = bDestroyed.load();
            const bool bPosted = PostMessage(m_hWnd, MSG_RECORD, 1, 0);
            if (bDestroyedBefore && !bPosted)
                ++nFailedAfterDestroy;
            if (bDestroyedBefore && bPosted)
                ADD_FAILURE() << "post succeeded after destruction";
            std::this_thread::yield();
        }
    });
    RunUntil([&] { return m_log.CountOf(MSG_RECORD, 1) > 10; });
    ASSERT_TRUE(DestroyWindow(m_hWnd));
    bDestroyed = true;
    const std::size_t nBefore = m_log.Snapshot().size();
    RunUntil([&] { return nFailedAfterDestroy > 100; });
    bStop = true;
    poster.join();
    ProcessPending();
    EXPECT_EQ(m_log.Snapshot().size(), nBefore);
}

TEST_F(MsgWindowTest, TimersKeepTheCallerIdsAndStopWhenKilled)
{
    EXPECT_EQ(SetTimer(m_hWnd, 0, 10), 0u);
    EXPECT_EQ(SetTimer(nullptr, 5, 10), 0u);
    EXPECT_EQ(SetTimer(m_hWnd, 42, 10), 42u);
    EXPECT_EQ(SetTimer(m_hWnd, 7, 15), 7u);
    ASSERT_TRUE(
        RunUntil([&] { return m_log.CountOf(WM_TIMER, 42) >= 2 && m_log.CountOf(WM_TIMER, 7) >= 2; }));
    for (const Received& r : m_log.Snapshot()) {
        ASSERT_EQ(r.uMsg, WM_TIMER);
        EXPECT_TRUE(r.wParam == 42 || r.wParam == 7);
        EXPECT_EQ(r.lParam, 0);
    }

    EXPECT_TRUE(KillTimer(m_hWnd, 42));
    EXPECT_FALSE(KillTimer(m_hWnd, 42));
    EXPECT_FALSE(KillTimer(m_hWnd, 1234));
    const std::size_t n42 = m_log.CountOf(WM_TIMER, 42);
    const std::size_t n7 = m_log.CountOf(WM_TIMER, 7);
    ASSERT_TRUE(RunUntil([&] { return m_log.CountOf(WM_TIMER, 7) >= n7 + 5; }));
    EXPECT_EQ(m_log.CountOf(WM_TIMER, 42), n42);
}

TEST_F(MsgWindowTest, SettingAnExistingTimerRestartsItWithTheNewPeriod)
{
    ASSERT_EQ(SetTimer(m_hWnd, 7, 10), 7u);
    ASSERT_EQ(SetTimer(m_hWnd, 8, 10), 8u);
    ASSERT_TRUE(RunUntil([&] { return m_log.CountOf(WM_TIMER, 7) >= 1; }));
    // An hour: if the old 10 ms timer survived, id 7 would keep arriving.
    ASSERT_EQ(SetTimer(m_hWnd, 7, 3600 * 1000), 7u);
    const std::size_t n7 = m_log.CountOf(WM_TIMER, 7);
    const std::size_t n8 = m_log.CountOf(WM_TIMER, 8);
    ASSERT_TRUE(RunUntil([&] { return m_log.CountOf(WM_TIMER, 8) >= n8 + 10; }));
    EXPECT_EQ(m_log.CountOf(WM_TIMER, 7), n7);
}

TEST_F(MsgWindowTest, TimersStopWithTheWindowAndWorkFromOtherThreads)
{
    // Set from another thread: carried out on the owner, so the loop below must see it.
    std::atomic<UINT_PTR> uSet{0};
    std::thread setter([&] { uSet = SetTimer(m_hWnd, 99, 10); });
    ASSERT_TRUE(RunUntil([&] { return uSet.load() != 0; }));
    setter.join();
    EXPECT_EQ(uSet.load(), 99u);
    ASSERT_TRUE(RunUntil([&] { return m_log.CountOf(WM_TIMER, 99) >= 2; }));

    // A second window's timer shows the loop kept running after the first was destroyed.
    WindowLog otherLog;
    HWND hOther = CreateMsgWindow(kClass, "Other");
    SetWindowUserData(hOther, reinterpret_cast<LPARAM>(&otherLog));
    ASSERT_EQ(SetTimer(hOther, 1, 10), 1u);
    ASSERT_TRUE(DestroyWindow(m_hWnd));
    const std::size_t n99 = m_log.CountOf(WM_TIMER, 99);
    ASSERT_TRUE(RunUntil([&] { return otherLog.CountOf(WM_TIMER, 1) >= 5; }));
    EXPECT_EQ(m_log.CountOf(WM_TIMER, 99), n99);
    EXPECT_FALSE(KillTimer(m_hWnd, 99));
    DestroyWindow(hOther);
}

TEST_F(MsgWindowTest, WindowOnAWorkerThreadGetsItsMessagesThere)
{
    std::atomic<HWND> hWorker{nullptr};
    std::atomic<bool> bQuit{false};
    std::thread::id workerId;
    WindowLog workerLog;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        HWND h = CreateMsgWindow(kClass, "Worker");
        SetWindowUserData(h, reinterpret_cast<LPARAM>(&workerLog));
        hWorker = h;
        RunUntil([&] { return bQuit.load(); }, 20000);
        DestroyWindow(h);
    });
    while (hWorker.load() == nullptr)
        std::this_thread::yield();
    EXPECT_EQ(SendMessage(hWorker, MSG_ADD, 20, 22), 42);
    EXPECT_TRUE(PostMessage(hWorker, MSG_RECORD, 5, 0));
    EXPECT_EQ(SendMessage(hWorker, MSG_ADD, 0, 1), 1);
    // Destroying from a thread that does not own the window is refused.
    EXPECT_FALSE(DestroyWindow(hWorker));
    ASSERT_TRUE(RunUntil([&] { return workerLog.CountOf(MSG_RECORD, 5) == 1; }));
    bQuit = true;
    worker.join();
    for (const Received& r : workerLog.Snapshot())
        EXPECT_EQ(r.thread, workerId);
    EXPECT_FALSE(IsWindow(hWorker));
}

} // namespace

namespace {

constexpr UINT MSG_THROW = WM_USER + 20;
std::vector<std::string> g_vecCaught;

LRESULT ThrowingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == MSG_THROW || (uMsg == WM_TIMER && wParam == 7)) {
        if (uMsg == WM_TIMER)
            KillTimer(hWnd, 7);
        throw std::runtime_error(uMsg == WM_TIMER ? "timer" : "posted");
    }
    return DefWindowProc(hWnd, uMsg, wParam, lParam);
}

void RecordException(std::exception_ptr pException)
{
    try {
        std::rethrow_exception(pException);
    } catch (const std::exception& e) {
        g_vecCaught.emplace_back(e.what());
    }
}

} // namespace

// The event loop cannot carry an exception: posted messages and timers hand it to the
// program's handler, and the loop goes on.
TEST(MsgWindowExceptions, PostedMessagesAndTimersHandTheirExceptionToTheHandler)
{
    ASSERT_TRUE(RegisterWindowClass("Throwing Class", ThrowingProc));
    HWND hWnd = CreateMsgWindow("Throwing Class", "Throwing Window");
    ASSERT_NE(hWnd, nullptr);
    const WndProcExceptionHandler previous = SetWndProcExceptionHandler(&RecordException);
    g_vecCaught.clear();

    ASSERT_TRUE(PostMessage(hWnd, MSG_THROW, 0, 0));
    ASSERT_NE(SetTimer(hWnd, 7, 10), 0u);
    EXPECT_TRUE(RunUntil([] { return g_vecCaught.size() == 2; }));
    EXPECT_EQ(g_vecCaught, (std::vector<std::string>{"posted", "timer"}));

    SetWndProcExceptionHandler(previous);
    DestroyWindow(hWnd);
    ProcessPending();
    UnregisterWindowClass("Throwing Class");
}
