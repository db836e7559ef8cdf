#include "platform/ticks.h"

#include <atomic>
#include <ctime>
#include <mutex>
#include <optional>

namespace {

std::atomic<bool> g_bFakeTicks{false};
std::atomic<DWORD> g_dwFakeTicks{0};

std::mutex g_mutexLocalTime;
std::optional<SYSTEMTIME> g_fakeLocalTime;

} // namespace

DWORD GetTickCount()
{
    if (g_bFakeTicks.load(std::memory_order_acquire))
        return g_dwFakeTicks.load(std::memory_order_acquire);
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // Truncation to 32 bits is the wrap callers expect.
    const std::uint64_t ullMs =
        static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ullMs);
}

DWORD GetTickCountAndUs(DWORD* pdwUs)
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ullNs =
        static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
    *pdwUs = static_cast<DWORD>(ullNs / 1000u);
    if (g_bFakeTicks.load(std::memory_order_acquire))
        return g_dwFakeTicks.load(std::memory_order_acquire);
    return static_cast<DWORD>(ullNs / 1000000u);
}

void GetLocalTime(SYSTEMTIME* pTime)
{
    if (pTime == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(g_mutexLocalTime);
        if (g_fakeLocalTime) {
            *pTime = *g_fakeLocalTime;
            return;
        }
    }
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    pTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    pTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    pTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    pTime->wDay = static_cast<WORD>(local.tm_mday);
    pTime->wHour = static_cast<WORD>(local.tm_hour);
    pTime->wMinute = static_cast<WORD>(local.tm_min);
    // A leap second (tm_sec 60) is shown as 59, as Windows never reports 60.
    pTime->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    pTime->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

void SetFakeTickCount(DWORD dwTicks)
{
    g_dwFakeTicks.store(dwTicks, std::memory_order_release);
    g_bFakeTicks.store(true, std::memory_order_release);
}

void AdvanceFakeTickCount(DWORD dwMilliseconds)
{
    // Unsigned addition wraps at 2^32 like the real count.
    g_dwFakeTicks.fetch_add(dwMilliseconds, std::memory_order_acq_rel);
}

void ClearFakeTickCount()
{
    g_bFakeTicks.store(false, std::memory_order_release);
}

void SetFakeLocalTime(const SYSTEMTIME& time)
{
    std::lock_guard<std::mutex> lock(g_mutexLocalTime);
    g_fakeLocalTime = time;
}

void ClearFakeLocalTime()
{
    std::lock_guard<std::mutex> lock(g_mutexLocalTime);
    g_fakeLocalTime.reset();
}
