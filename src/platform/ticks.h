// Tick count and local time as the design uses them.
//
// GetTickCount counts milliseconds from an arbitrary start and wraps at 2^32 (about 49.7
// days), so callers compare ticks by unsigned difference, never by "<". Both clocks can be
// replaced by tests: the fake tick clock is advanced by hand, the fake local time stays fixed
// until it is set again.
#pragma once

#include "platform/wintypes.h"

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;     // 1..12
    WORD wDayOfWeek; // 0 = Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

DWORD GetTickCount();
// GetTickCount, and in *pdwUs the same monotonic clock in microseconds (never faked; for
// differences only), from one clock read.
DWORD GetTickCountAndUs(DWORD* pdwUs);
void GetLocalTime(SYSTEMTIME* pTime);

// Test hooks. They are process-wide and safe to call from any thread.
void SetFakeTickCount(DWORD dwTicks);            // installs the fake tick clock at this value
void AdvanceFakeTickCount(DWORD dwMilliseconds); // wraps like the real count
void ClearFakeTickCount();                       // back to the monotonic clock
void SetFakeLocalTime(const SYSTEMTIME& time);
void ClearFakeLocalTime();

// Installs the fake tick clock for one scope.
class CFakeTickClock {
public:
    explicit CFakeTickClock(DWORD dwStart = 0) { SetFakeTickCount(dwStart); }
    ~CFakeTickClock() { ClearFakeTickCount(); }
    CFakeTickClock(const CFakeTickClock&) = delete;
    CFakeTickClock& operator=(const CFakeTickClock&) = delete;

    void Advance(DWORD dwMilliseconds) { AdvanceFakeTickCount(dwMilliseconds); }
    void Set(DWORD dwTicks) { SetFakeTickCount(dwTicks); }
};

// Fixes the local time for one scope.
class CFakeLocalTime {
public:
    explicit CFakeLocalTime(const SYSTEMTIME& time) { SetFakeLocalTime(time); }
    ~CFakeLocalTime() { ClearFakeLocalTime(); }
    CFakeLocalTime(const CFakeLocalTime&) = delete;
    CFakeLocalTime& operator=(const CFakeLocalTime&) = delete;

    void Set(const SYSTEMTIME& time) { SetFakeLocalTime(time); }
};
