#include "net_test_support.h"

#include "platform/asyncsocket.h"
#include "platform/msgwindow.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using namespace nettest;

namespace {

struct Seen {
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> g_seen;
// What the procedure does with a message after recording it.
std::function<void()> g_onMessage;

LRESULT RecordingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    g_seen.push_back({uMsg, wParam, lParam});
    if (g_onMessage)
        g_onMessage();
    return 0;
}

class AsyncSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen.clear();
        g_onMessage = nullptr;
        RegisterWindowClass("AsyncSocketTest", &RecordingProc);
        m_hWnd = CreateMsgWindow("AsyncSocketTest", "test");
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sin = Address(LOOPBACK, 0);
        bind(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
        socklen_t nLen = sizeof(sin);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&sin), &nLen);
        m_usPort = ntohs(sin.sin_port);
    }
    void TearDown() override
    {
        g_onMessage = nullptr;
        closesocket(m_fd);
        DestroyWindow(m_hWnd);
        UnregisterWindowClass("AsyncSocketTest");
    }
    ssize_t ReadOne()
    {
        char buffer[100];
        return RecvFromAsync(m_fd, buffer, sizeof(buffer), 0, nullptr, nullptr);
    }

    HWND m_hWnd = nullptr;
    int m_fd = -1;
    WORD m_usPort = 0;
    UdpPeer m_peer;
};

} // namespace

TEST_F(AsyncSocketTest, OneMessagePerReadUntilDrainedThenQuiet)
{
    ASSERT_EQ(WSAAsyncSelect(m_fd, m_hWnd, 0x9000, FD_READ | FD_WRITE | FD_CLOSE), 0);
    for (int i = 0; i < 3; ++i)
        m_peer.SendToLoopback(m_usPort, "x");
    // Data waits unread: one message, however long the loop runs.
    PumpFor(300);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].uMsg, 0x9000u);
    EXPECT_EQ(g_seen[0].wParam, static_cast<WPARAM>(m_fd));
    EXPECT_EQ(g_seen[0].lParam, FD_READ);

    // A read with more data pending brings the next message.
    EXPECT_EQ(ReadOne(), 1);
    ASSERT_TRUE(PumpUntil([] { return g_seen.size() == 2; }));

    // Drained to EAGAIN: quiet until something new arrives.
    EXPECT_EQ(ReadOne(), 1);
    EXPECT_EQ(ReadOne(), 1);
    EXPECT_EQ(ReadOne(), -1);
    EXPECT_EQ(errno, EAGAIN); // the selection made the socket non-blocking
    PumpFor(200);
    EXPECT_EQ(g_seen.size(), 2u);
    m_peer.SendToLoopback(m_usPort, "y");
    EXPECT_TRUE(PumpUntil([] { return g_seen.size() == 3; }));

    // The same when the procedure itself reads, one datagram a message.
    g_onMessage = [this] { ReadOne(); };
    EXPECT_EQ(ReadOne(), 1);
    for (int i = 0; i < 3; ++i)
        m_peer.SendToLoopback(m_usPort, "z");
    EXPECT_TRUE(PumpUntil([] { return g_seen.size() == 6; }));
    PumpFor(200);
    EXPECT_EQ(g_seen.size(), 6u);
    EXPECT_EQ(ReadOne(), -1);
}

TEST_F(AsyncSocketTest, NoEventsCancelsAndReselectReportsWaitingData)
{
    ASSERT_EQ(WSAAsyncSelect(m_fd, m_hWnd, 0x9000, FD_READ), 0);
    ASSERT_EQ(WSAAsyncSelect(m_fd, nullptr, 0, 0), 0);
    m_peer.SendToLoopback(m_usPort, "x");
    PumpFor(200);
    EXPECT_TRUE(g_seen.empty());

    // Selecting again (another message) reports what is already waiting.
    ASSERT_EQ(WSAAsyncSelect(m_fd, m_hWnd, 0x9001, FD_READ), 0);
    ASSERT_TRUE(PumpUntil([] { return !g_seen.empty(); }));
    EXPECT_EQ(g_seen[0].uMsg, 0x9001u);

    // A procedure may select anew while it handles the message: what waits is reported again.
    g_onMessage = [this] {
        if (g_seen.size() == 2)
            WSAAsyncSelect(m_fd, m_hWnd, 0x9002, FD_READ);
    };
    ASSERT_EQ(WSAAsyncSelect(m_fd, m_hWnd, 0x9001, FD_READ), 0);
    ASSERT_TRUE(PumpUntil([] { return g_seen.size() == 3; }));
    EXPECT_EQ(g_seen[2].uMsg, 0x9002u);
    g_onMessage = nullptr;
    EXPECT_EQ(WSAAsyncSelect(-1, m_hWnd, 0x9000, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAAsyncSelect(m_fd, nullptr, 0x9000, FD_READ), SOCKET_ERROR);
}
