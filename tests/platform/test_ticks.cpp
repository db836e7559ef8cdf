#include "platform/ticks.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(Ticks, FakeClockAdvancesWrapsAndIsRemoved)
{
    {
        CFakeTickClock clock(1000);
        EXPECT_EQ(GetTickCount(), 1000u);
        clock.Advance(250);
        EXPECT_EQ(GetTickCount(), 1250u);

        clock.Set(0xFFFFFF00u);
        clock.Advance(0x200);
        EXPECT_EQ(GetTickCount(), 0x100u);
        // The way callers measure elapsed time survives the wrap.
        EXPECT_EQ(static_cast<DWORD>(GetTickCount() - 0xFFFFFF00u), 0x200u);

        // Advancing from another thread is seen here.
        std::thread other([] { AdvanceFakeTickCount(5); });
        other.join();
        EXPECT_EQ(GetTickCount(), 0x105u);
    }
    // Back on the real clock: it moves on its own.
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() == dwStart)
        std::this_thread::yield();
}

TEST(Ticks, LocalTimeIsPlausibleAndCanBeFixed)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    EXPECT_GE(now.wYear, 2020);
    EXPECT_TRUE(now.wMonth >= 1 && now.wMonth <= 12);
    EXPECT_TRUE(now.wDay >= 1 && now.wDay <= 31);
    EXPECT_LE(now.wDayOfWeek, 6);
    EXPECT_LE(now.wHour, 23);
    EXPECT_LE(now.wMinute, 59);
    EXPECT_LE(now.wSecond, 59);
    EXPECT_LE(now.wMilliseconds, 999);

    const SYSTEMTIME fixed{2011, 12, 6, 31, 23, 59, 59, 999};
    {
        CFakeLocalTime fake(fixed);
        SYSTEMTIME got{};
        GetLocalTime(&got);
        EXPECT_EQ(got.wYear, 2011);
        EXPECT_EQ(got.wMonth, 12);
        EXPECT_EQ(got.wDay, 31);
        EXPECT_EQ(got.wMilliseconds, 999);

        fake.Set(SYSTEMTIME{2012, 1, 0, 1, 0, 0, 0, 0});
        GetLocalTime(&got);
        EXPECT_EQ(got.wYear, 2012);
        EXPECT_EQ(got.wDay, 1);
    }
    SYSTEMTIME after{};
    GetLocalTime(&after);
    EXPECT_NE(after.wYear, 2012);
    GetLocalTime(nullptr); // tolerated
}

} // namespace
