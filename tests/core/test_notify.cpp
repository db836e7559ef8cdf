#include "core/notify.h"

#include "core/log.h"
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Call {
    std::string strSink;
    DWORD dwID;
    UINT_PTR dwParam;
    bool operator==(const Call&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Call& v)
{
    return os << "{" << v.strSink << ", " << v.dwID << ", " << v.dwParam << "}";
}

class CRecordingSink : public INotifySink {
public:
    CRecordingSink(std::string strName, std::vector<Call>* pCalls)
        : m_strName(std::move(strName)), m_pCalls(pCalls)
    {
    }
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override
    {
        m_pCalls->push_back(Call{m_strName, dwNotifyID, dwParam});
        if (m_onNotify)
            m_onNotify();
    }
    std::function<void()> m_onNotify;

private:
    std::string m_strName;
    std::vector<Call>* m_pCalls;
};

class NotifyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-notifytest-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
        setenv("VISTREL_HOME", m_dir.c_str(), 1);
        GetLogFile().ResetForTest();
        m_nSavedLevel = g_nDebugLevel;
        g_nDebugLevel = 3;
        m_prevSink = SetTraceSink([this](const char* pszMessage) { m_vecTraces.emplace_back(pszMessage); });
    }
    void TearDown() override
    {
        SetTraceSink(m_prevSink);
        g_nDebugLevel = m_nSavedLevel;
        GetLogFile().ResetForTest();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    bool Traced(const std::string& strLine) const
    {
        return std::find(m_vecTraces.begin(), m_vecTraces.end(), strLine) != m_vecTraces.end();
    }

    fs::path m_dir;
    int m_nSavedLevel = 0;
    TraceSink m_prevSink;
    std::vector<std::string> m_vecTraces;
    std::vector<Call> m_vecCalls;
    CNotifyManager m_bus;
};

TEST_F(NotifyTest, DeliversInSubscriptionOrderWithParameter)
{
    CRecordingSink a("A", &m_vecCalls), b("B", &m_vecCalls), other("other", &m_vecCalls);
    EXPECT_EQ(m_bus.RegisterNotify(DWORD_NOTIFYID_CAMERA_LIST_INFO, &a), 1);
    EXPECT_EQ(m_bus.RegisterNotify(DWORD_NOTIFYID_CAMERA_LIST_INFO, &b), 2);
    EXPECT_EQ(m_bus.RegisterNotify(DWORD_NOTIFYID_VIDEO_START, &other), 1);

    int nDevice = 0;
    const auto dwParam = reinterpret_cast<UINT_PTR>(&nDevice); // a full pointer survives
    m_bus.Notify(DWORD_NOTIFYID_CAMERA_LIST_INFO, dwParam);
    EXPECT_EQ(m_vecCalls, (std::vector<Call>{{"A", 123, dwParam}, {"B", 123, dwParam}}));
    EXPECT_TRUE(Traced("3CNotifyManager::Notify: beg { dwNotifyID:123"));
    EXPECT_TRUE(Traced("3CNotifyManager::Notify: end } size:2"));
}

// Misuse of the bus stops the operation, with the id in the log; a failed call changes
// nothing.
TEST_F(NotifyTest, MisuseIsFatal)
{
    CRecordingSink a("A", &m_vecCalls), b("B", &m_vecCalls);
    m_bus.RegisterNotify(123, &a);
    EXPECT_EQ(m_bus.RegisterNotify(124, &a), 1); // another id is fine
    EXPECT_THROW(m_bus.RegisterNotify(123, &a), CMyExceptionExit);
    EXPECT_TRUE(Traced("0RegisterNotify 123\n"));

    GetLogFile().ResetForTest();
    EXPECT_THROW(m_bus.RemoveNotify(5, &b), CMyExceptionExit); // id never subscribed
    EXPECT_THROW(m_bus.RemoveNotify(123, &b), CMyExceptionExit);
    EXPECT_THROW(m_bus.RegisterNotify(9, nullptr), CMyExceptionExit);

    GetLogFile().ResetForTest();
    EXPECT_FALSE(m_bus.IsRegistered(88));
    EXPECT_THROW(m_bus.Notify(88, 0), CMyExceptionExit);
    EXPECT_TRUE(Traced("0Notify 88\n"));

    m_bus.Notify(123, 1);
    EXPECT_EQ(m_vecCalls, (std::vector<Call>{{"A", 123, 1}}));
}

TEST_F(NotifyTest, RemovingAnAbsentSinkIsFatal)
{
    CRecordingSink a("A", &m_vecCalls), b("B", &m_vecCalls);
    m_bus.RegisterNotify(5, &a);
    EXPECT_THROW(m_bus.RemoveNotify(5, &b), CMyExceptionExit);
    EXPECT_TRUE(Traced("0RemoveNotify 5\n"));
}

TEST_F(NotifyTest, EmptiedEntryStaysRegistered)
{
    CRecordingSink a("A", &m_vecCalls);
    m_bus.RegisterNotify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, &a);
    EXPECT_EQ(m_bus.RemoveNotify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, &a), 0);
    EXPECT_TRUE(m_bus.IsRegistered(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND));
    EXPECT_NO_THROW(m_bus.Notify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, 1));
    EXPECT_TRUE(m_vecCalls.empty());
    EXPECT_TRUE(Traced("3CNotifyManager::Notify: end } size:0"));
    // The sink may subscribe again after its removal.
    EXPECT_EQ(m_bus.RegisterNotify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, &a), 1);
}

// Subscribers changing the list from inside a delivery: removed sinks are skipped, added
// ones wait for the next notification, nested notifications work.
TEST_F(NotifyTest, ReentrantChangesDuringDelivery)
{
    CRecordingSink a("A", &m_vecCalls), b("B", &m_vecCalls), c("C", &m_vecCalls), d("D", &m_vecCalls);
    m_bus.RegisterNotify(1, &a);
    m_bus.RegisterNotify(1, &b);
    m_bus.RegisterNotify(1, &c);

    // A removes itself and B, and subscribes D.
    a.m_onNotify = [&] {
        m_bus.RemoveNotify(1, &a);
        m_bus.RemoveNotify(1, &b);
        m_bus.RegisterNotify(1, &d);
    };
    m_bus.Notify(1, 7);
    EXPECT_EQ(m_vecCalls, (std::vector<Call>{{"A", 1, 7}, {"C", 1, 7}}));

    m_vecCalls.clear();
    m_bus.Notify(1, 8);
    EXPECT_EQ(m_vecCalls, (std::vector<Call>{{"C", 1, 8}, {"D", 1, 8}}));

    // A nested notification of the same id from inside a delivery.
    m_vecCalls.clear();
    bool bNested = false;
    c.m_onNotify = [&] {
        if (!bNested) {
            bNested = true;
            m_bus.Notify(1, 9);
        }
    };
    m_bus.Notify(1, 8);
    EXPECT_EQ(m_vecCalls, (std::vector<Call>{{"C", 1, 8}, {"C", 1, 9}, {"D", 1, 9}, {"D", 1, 8}}));
}

} // namespace
