#include "core/engineresponse.h"

#include "platform/msgwindow.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <map>
#include <vector>

namespace {

struct Received {
    HWND hWnd;
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Received&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Received& v)
{
    return os << "{" << v.hWnd << ", " << v.uMsg << ", " << v.wParam << ", " << v.lParam << "}";
}

std::vector<Received> g_vecReceived;
std::map<HWND, std::function<void()>> g_mapHooks;

LRESULT RecordingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    g_vecReceived.push_back(Received{hWnd, uMsg, wParam, lParam});
    auto it = g_mapHooks.find(hWnd);
    if (it != g_mapHooks.end() && it->second)
        it->second();
    return 0;
}

constexpr BYTE CODE = 26;
constexpr UINT MSG_A = WM_USER + 1;
constexpr UINT MSG_B = WM_USER + 2;

class EngResponseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RegisterWindowClass("EngResponseTest", &RecordingProc));
        for (HWND& hWnd : m_hWnd) {
            hWnd = CreateMsgWindow("EngResponseTest", "receiver");
            ASSERT_NE(hWnd, nullptr);
        }
        g_vecReceived.clear();
        g_mapHooks.clear();
    }
    void TearDown() override
    {
        g_mapHooks.clear();
        for (HWND hWnd : m_hWnd)
            DestroyWindow(hWnd);
        UnregisterWindowClass("EngResponseTest");
    }

    HWND m_hWnd[4] = {};
    CEngResponse m_engine;
};

TEST_F(EngResponseTest, DeliversToEachWindowInOrder)
{
    m_engine.RegisterResponse(CODE, m_hWnd[0], MSG_A, 0);
    m_engine.RegisterResponse(CODE, m_hWnd[1], MSG_B, 0);
    m_engine.RegisterResponse(CODE + 1, m_hWnd[2], MSG_A, 0);

    int nRecord = 0;
    const auto lParam = reinterpret_cast<LPARAM>(&nRecord);
    m_engine.DeliverResponse(CODE, 3, lParam);
    m_engine.DeliverResponse(99, 0, 0); // nobody registered: nothing happens
    EXPECT_EQ(g_vecReceived,
              (std::vector<Received>{{m_hWnd[0], MSG_A, 3, lParam}, {m_hWnd[1], MSG_B, 3, lParam}}));
}

TEST_F(EngResponseTest, SecondRegistrationOfWindowReplacesFirst)
{
    m_engine.RegisterResponse(CODE, m_hWnd[0], MSG_A, 1);
    m_engine.RegisterResponse(CODE, m_hWnd[0], MSG_B, 0);
    EXPECT_EQ(m_engine.GetResponseCount(CODE), 1);
    m_engine.DeliverResponse(CODE, 1, 2);
    m_engine.DeliverResponse(CODE, 1, 2); // the one-shot flag was replaced too
    EXPECT_EQ(g_vecReceived, (std::vector<Received>{{m_hWnd[0], MSG_B, 1, 2}, {m_hWnd[0], MSG_B, 1, 2}}));
}

TEST_F(EngResponseTest, OneShotReceivesExactlyOneMessage)
{
    m_engine.RegisterResponse(CODE, m_hWnd[0], MSG_A, 1);
    m_engine.RegisterResponse(CODE, m_hWnd[1], MSG_B, 0);
    // Even a delivery nested in its own handler does not reach the one-shot twice.
    bool bNested = false;
    g_mapHooks[m_hWnd[0]] = [&] {
        if (!bNested) {
            bNested = true;
            m_engine.DeliverResponse(CODE, 9, 9);
        }
    };
    m_engine.DeliverResponse(CODE, 1, 1);
    m_engine.DeliverResponse(CODE, 2, 2);
    EXPECT_EQ(g_vecReceived, (std::vector<Received>{{m_hWnd[0], MSG_A, 1, 1},
                                                    {m_hWnd[1], MSG_B, 9, 9},
                                                    {m_hWnd[1], MSG_B, 1, 1},
                                                    {m_hWnd[1], MSG_B, 2, 2}}));
    EXPECT_EQ(m_engine.GetResponseCount(CODE), 1);
}

// Handlers changing the registrations while a response is delivered: removed windows are
// skipped, windows added meanwhile wait for the next response, a re-armed one-shot stays.
TEST_F(EngResponseTest, RegistrationChangesDuringDelivery)
{
    m_engine.RegisterResponse(CODE, m_hWnd[0], MSG_A, 1);
    m_engine.RegisterResponse(CODE, m_hWnd[1], MSG_A, 0);
    m_engine.RegisterResponse(CODE, m_hWnd[2], MSG_A, 0);
    g_mapHooks[m_hWnd[0]] = [&] {
        m_engine.RegisterResponse(CODE, m_hWnd[0], MSG_B, 1); // re-arm
        EXPECT_TRUE(m_engine.RemoveResponse(CODE, m_hWnd[1]));
        m_engine.RegisterResponse(CODE, m_hWnd[3], MSG_A, 0);
    };
    m_engine.DeliverResponse(CODE, 1, 0);
    EXPECT_EQ(g_vecReceived, (std::vector<Received>{{m_hWnd[0], MSG_A, 1, 0}, {m_hWnd[2], MSG_A, 1, 0}}));

    g_vecReceived.clear();
    g_mapHooks.clear();
    m_engine.DeliverResponse(CODE, 2, 0);
    EXPECT_EQ(g_vecReceived,
              (std::vector<Received>{
                  {m_hWnd[2], MSG_A, 2, 0}, {m_hWnd[0], MSG_B, 2, 0}, {m_hWnd[3], MSG_A, 2, 0}}));
}

TEST_F(EngResponseTest, RemoveResponse)
{
    EXPECT_FALSE(m_engine.RemoveResponse(CODE, m_hWnd[0]));
    m_engine.RegisterResponse(CODE, m_hWnd[0], MSG_A, 0);
    m_engine.RegisterResponse(CODE + 1, m_hWnd[0], MSG_A, 0);
    EXPECT_TRUE(m_engine.RemoveResponse(CODE, m_hWnd[0]));
    EXPECT_FALSE(m_engine.RemoveResponse(CODE, m_hWnd[0]));
    m_engine.DeliverResponse(CODE, 0, 0);
    EXPECT_TRUE(g_vecReceived.empty());
    m_engine.DeliverResponse(CODE + 1, 0, 0); // the other code is untouched
    EXPECT_EQ(g_vecReceived.size(), 1u);
}

} // namespace
