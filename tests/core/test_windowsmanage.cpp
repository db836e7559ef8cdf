#include "core/windowsmanage.h"

#include "core/log.h"
#include "core/notifyids.h"
#include "platform/msgwindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Seen {
    HWND hWnd;
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& v)
{
    return os << "{" << v.hWnd << ", " << v.uMsg << ", " << v.wParam << ", " << v.lParam << "}";
}

class CRecordingWndSink : public IWndProcSink {
public:
    void OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override
    {
        m_vecSeen.push_back(Seen{hWnd, uMsg, wParam, lParam});
    }
    std::vector<Seen> m_vecSeen;
};

// Runs the event loop until the predicate holds; false after a generous limit.
template <typename Pred> bool PumpUntil(Pred pred)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class WindowsManageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-wmtest-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
        setenv("VISTREL_HOME", m_dir.c_str(), 1);
        GetLogFile().ResetForTest();
    }
    void TearDown() override
    {
        GetLogFile().ResetForTest();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path m_dir;
};

TEST_F(WindowsManageTest, SinkSeesSentAndPostedMessages)
{
    CWindowsManage manage;
    CRecordingWndSink sink;
    HWND hWnd = manage.CreateMsgWindow("DeviceMangager", &sink);
    ASSERT_NE(hWnd, nullptr);
    EXPECT_EQ(GetWindowName(hWnd), "DeviceMangager");

    // The default procedure answers whatever the sink did.
    EXPECT_EQ(SendMessage(hWnd, WM_USER + 5, 7, 8), DefWindowProc(hWnd, WM_USER + 5, 7, 8));
    EXPECT_EQ(sink.m_vecSeen, (std::vector<Seen>{{hWnd, WM_USER + 5, 7, 8}}));

    ASSERT_TRUE(PostMessage(hWnd, WM_USER + 6, 1, 2));
    ASSERT_TRUE(PumpUntil([&] { return sink.m_vecSeen.size() == 2; }));
    EXPECT_EQ(sink.m_vecSeen[1], (Seen{hWnd, WM_USER + 6, 1, 2}));
    manage.DestroyMsgWindow(hWnd);
}

TEST_F(WindowsManageTest, TimersReachTheSinkWithTheirId)
{
    CWindowsManage manage;
    CRecordingWndSink sink;
    HWND hWnd = manage.CreateMsgWindow("DeviceMangager", &sink);
    ASSERT_EQ(SetTimer(hWnd, TR_CHECK_DEVICES, 10), TR_CHECK_DEVICES);
    ASSERT_TRUE(PumpUntil([&] { return !sink.m_vecSeen.empty(); }));
    EXPECT_EQ(sink.m_vecSeen[0].hWnd, hWnd);
    EXPECT_EQ(sink.m_vecSeen[0].uMsg, WM_TIMER);
    EXPECT_EQ(sink.m_vecSeen[0].wParam, static_cast<WPARAM>(TR_CHECK_DEVICES));
    KillTimer(hWnd, TR_CHECK_DEVICES);
    manage.DestroyMsgWindow(hWnd);
}

// Each window goes to its own sink, even when two sinks use the same name.
TEST_F(WindowsManageTest, WindowsAreKeptApart)
{
    CWindowsManage manage;
    CRecordingWndSink first, second;
    HWND hFirst = manage.CreateMsgWindow("Same", &first);
    HWND hSecond = manage.CreateMsgWindow("Same", &second);
    HWND hOther = manage.CreateMsgWindow("Other", &first);
    EXPECT_EQ(manage.GetWindowCount(), 3);
    SendMessage(hSecond, WM_USER, 0, 0);
    SendMessage(hOther, WM_USER + 1, 0, 0);
    EXPECT_EQ(first.m_vecSeen, (std::vector<Seen>{{hOther, WM_USER + 1, 0, 0}}));
    EXPECT_EQ(second.m_vecSeen, (std::vector<Seen>{{hSecond, WM_USER, 0, 0}}));

    manage.DestroyMsgWindow(hSecond);
    EXPECT_FALSE(IsWindow(hSecond));
    EXPECT_TRUE(IsWindow(hFirst));
    EXPECT_EQ(manage.GetWindowCount(), 2);
}

TEST_F(WindowsManageTest, MisuseIsFatal)
{
    CWindowsManage manage;
    CRecordingWndSink sink;
    EXPECT_THROW(manage.CreateMsgWindow("", &sink), CMyExceptionExit);
    EXPECT_THROW(manage.CreateMsgWindow(nullptr, &sink), CMyExceptionExit);
    EXPECT_THROW(manage.CreateMsgWindow("Name", nullptr), CMyExceptionExit);
    HWND hWnd = manage.CreateMsgWindow("DeviceMangager", &sink);
    EXPECT_THROW(manage.CreateMsgWindow("DeviceMangager", &sink), CMyExceptionExit);
    EXPECT_EQ(manage.GetWindowCount(), 1);

    EXPECT_THROW(manage.DestroyMsgWindow(nullptr), CMyExceptionExit);
    manage.DestroyMsgWindow(hWnd);
    EXPECT_THROW(manage.DestroyMsgWindow(hWnd), CMyExceptionExit);
}

// The class lives exactly as long as the manager; windows left open die with it.
TEST_F(WindowsManageTest, ClassAndWindowsFollowTheManager)
{
    CRecordingWndSink sink;
    HWND hWnd = nullptr;
    {
        CWindowsManage manage;
        EXPECT_FALSE(RegisterWindowClass(CWindowsManage::WINDOW_CLASS_NAME, &DefWindowProc));
        hWnd = manage.CreateMsgWindow("Left open", &sink);
        ASSERT_TRUE(PostMessage(hWnd, WM_USER, 0, 0));
    }
    EXPECT_FALSE(IsWindow(hWnd));
    QCoreApplication::processEvents();
    EXPECT_TRUE(sink.m_vecSeen.empty());
    EXPECT_TRUE(RegisterWindowClass(CWindowsManage::WINDOW_CLASS_NAME, &DefWindowProc));
    UnregisterWindowClass(CWindowsManage::WINDOW_CLASS_NAME);
}

} // namespace
