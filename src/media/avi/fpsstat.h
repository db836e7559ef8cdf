// Frame timing of the file being written: the measured frame rate for its header, the time
// span limit, and whether the camera's frame rate has changed (then the file must end).
//
// Times are in 100 µs units (stamp seconds × 10000 + microseconds / 100), held in 64 bits so
// that camera clocks past 2^32 units (five days) do not wrap.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

class CFPSStat {
public:
    static constexpr int RING_SIZE = 100;

    void Reset();
    void SetSpanLimit(DWORD dwSeconds) { m_dwSpanLimit = dwSeconds; }
    // Offers one video segment (sequence, sub-sequence, time).
    void Offer(WORD usSequence, BYTE bySubSequence, std::int64_t llTime);
    bool IsSpanExceeded() const { return m_bSpanExceeded; }
    // True when a full ring of frame starts shows two halves of steady but different rates;
    // a ring with irregular intervals is cleared instead.
    bool CheckFrameRateChange();
    // Counted segments per second, 0 without measured intervals.
    float GetFrameRate() const;
    DWORD GetCount() const { return m_dwCount; }

private:
    bool m_bStarted = false;
    bool m_bSpanExceeded = false;
    WORD m_usLastSequence = 0;
    BYTE m_byLastSubSequence = 0;
    DWORD m_dwCount = 0;
    std::int64_t m_llFirstTime = 0;
    std::int64_t m_llLastTime = 0;
    std::int64_t m_llTotal = 0;
    DWORD m_dwSpanLimit = 1800;
    int m_nRing = 0;
    std::int64_t m_allRingTime[RING_SIZE] = {};
    WORD m_ausRingSequence[RING_SIZE] = {};
};
