#include "media/avi/fpsstat.h"

#include <cstdlib>

void CFPSStat::Reset()
{
    const DWORD dwSpan = m_dwSpanLimit;
    *this = CFPSStat();
    m_dwSpanLimit = dwSpan;
}

void CFPSStat::Offer(WORD usSequence, BYTE bySubSequence, std::int64_t llTime)
{
    // A frame starts with sub-sequence 0 or with a new sequence: cameras mark the frames
    // that do not begin with a codec header with a non-zero sub-sequence too, and those must
    // count or the measured rate would be the key-frame rate.
    bool bFrameStart = bySubSequence == 0;
    if (!m_bStarted) {
        if (!bFrameStart)
            return;
        m_bStarted = true;
        m_llFirstTime = llTime;
        m_llLastTime = llTime;
    } else {
        bFrameStart = bFrameStart || usSequence != m_usLastSequence;
        const bool bContinues =
            usSequence == m_usLastSequence && bySubSequence == static_cast<BYTE>(m_byLastSubSequence + 1);
        if (!bContinues && !bFrameStart)
            return;
        if (bFrameStart && llTime >= m_llFirstTime + static_cast<std::int64_t>(m_dwSpanLimit) * 10000) {
            m_bSpanExceeded = true;
            return;
        }
    }

    const std::int64_t llInterval = std::llabs(llTime - m_llLastTime);
    if (m_dwCount > 1) {
        const std::int64_t llAverage = m_llTotal / (m_dwCount - 1);
        // One long gap (a camera stall) must not drag the measured rate down.
        m_llTotal += (m_dwCount > 10 && llInterval > 6 * llAverage) ? llAverage : llInterval;
    } else {
        m_llTotal += llInterval;
    }
    m_llLastTime = llTime;
    m_usLastSequence = usSequence;
    m_byLastSubSequence = bySubSequence;
    ++m_dwCount;

    if (!bFrameStart)
        return;
    if (m_nRing == RING_SIZE ||
        (m_nRing > 0 && usSequence != static_cast<WORD>(m_ausRingSequence[m_nRing - 1] + 1)))
        m_nRing = 0;
    m_allRingTime[m_nRing] = llTime;
    m_ausRingSequence[m_nRing] = usSequence;
    ++m_nRing;
}

bool CFPSStat::CheckFrameRateChange()
{
    if (m_nRing < RING_SIZE)
        return false;
    const std::int64_t a = m_allRingTime[49] - m_allRingTime[0];
    const std::int64_t b = m_allRingTime[99] - m_allRingTime[50];
    // Frames stamped with one time carry no rate.
    if (a <= 0 || b <= 0)
        return false;
    // 49 intervals in 100 µs units: 7350000 / a is 15 × frames per second.
    if (std::llabs(7350000 / a - 7350000 / b) < 2)
        return false;
    auto steady = [this](int nFirst, int nLast, std::int64_t llMax) {
        for (int i = nFirst; i <= nLast; ++i) {
            const std::int64_t d = m_allRingTime[i + 1] - m_allRingTime[i];
            if (d < 0 || d > llMax)
                return false;
        }
        return true;
    };
    if (!steady(0, 47, a / 24) || !steady(50, 97, b / 24)) {
        m_nRing = 0;
        return false;
    }
    return true;
}

float CFPSStat::GetFrameRate() const
{
    if (m_llTotal == 0 || m_dwCount == 0)
        return 0.0f;
    return static_cast<float>(static_cast<double>(m_dwCount - 1) * 10000.0 / static_cast<double>(m_llTotal));
}
