#include "media/video/frameorderer.h"

#include <algorithm>

namespace {

constexpr std::size_t kMaxGivenUp = 32;

} // namespace

std::vector<BYTE> CFrameOrderer::TakeBuffer()
{
    if (m_vSpare.empty())
        return {};
    std::vector<BYTE> v = std::move(m_vSpare.back());
    m_vSpare.pop_back();
    return v;
}

void CFrameOrderer::KeepBuffer(std::vector<BYTE>&& vData)
{
    if (m_vSpare.size() < kMaxSpare && vData.capacity() <= kMaxSpareBytes)
        m_vSpare.push_back(std::move(vData));
}

std::size_t CFrameOrderer::SpareBytes() const
{
    std::size_t nBytes = 0;
    for (const std::vector<BYTE>& v : m_vSpare)
        nBytes += v.capacity();
    return nBytes;
}

DWORD CFrameOrderer::WaitMs() const
{
    const double dWait = std::max(m_dLatenessMs * 1.5 + 10.0, 2.0 * m_dIntervalMs);
    return static_cast<DWORD>(std::min(dWait, static_cast<double>(kMaxWaitMs)));
}

void CFrameOrderer::ObserveLateness(DWORD dwMs)
{
    m_dLatenessMs = std::max(m_dLatenessMs, std::min(static_cast<double>(dwMs), 2.0 * kMaxWaitMs));
}

void CFrameOrderer::Decay(DWORD dwNow)
{
    if (!m_bDecayStarted) {
        m_bDecayStarted = true;
        m_dwLastDecay = dwNow;
        return;
    }
    // A thirtieth less for each whole second: a link that reorders does so again within
    // seconds, and its worst delays come seldom.
    while (dwNow - m_dwLastDecay >= 1000) {
        m_dLatenessMs *= 0.97;
        m_dwLastDecay += 1000;
    }
}

bool CFrameOrderer::Push(const MediaFrame& frame, DWORD dwNow, REFERENCE_TIME tArrival, DWORD dwGatherUs)
{
    if (!m_bStarted) {
        m_bStarted = true;
        m_llNext = frame.usSequence;
        m_llNewest = frame.usSequence;
    }
    std::int64_t llSeq = m_llNext + static_cast<std::int16_t>(
                                        static_cast<WORD>(frame.usSequence - static_cast<WORD>(m_llNext)));
    if (llSeq < m_llNext - kRestartSpan || llSeq > m_llNewest + kRestartSpan) {
        // Far from anything seen: the camera numbers anew. What is held belongs to the old
        // stream and goes.
        m_counters.qwSkipped += m_held.size();
        for (Frame& held : m_held)
            KeepBuffer(std::move(held.vData));
        m_held.clear();
        m_nHeldBytes = 0;
        m_givenUp.clear();
        m_llNext = m_llNewest = llSeq = frame.usSequence;
    }
    const BYTE bySub = frame.bySubSequence;
    // The frame handed on last may go on with its later segments.
    const bool bContinues = m_bReleased && llSeq == m_llNext - 1 && bySub > m_byLastSub;
    if (llSeq < m_llNext && !bContinues) {
        for (const GivenUp& gap : m_givenUp)
            if (llSeq >= gap.llFirst && llSeq <= gap.llLast) {
                ++m_counters.qwLate;
                ObserveLateness(dwNow - gap.dwSince);
                return false;
            }
        ++m_counters.qwRepeated;
        return false;
    }
    auto it = m_held.end();
    while (it != m_held.begin() && !Before(*std::prev(it), llSeq, bySub))
        --it;
    if (it != m_held.end() && it->llSequence == llSeq && it->frame.bySubSequence == bySub) {
        ++m_counters.qwRepeated;
        return false;
    }
    if (llSeq < m_llNewest) {
        ++m_counters.qwReordered;
        // Newer frames have been waiting for this one since the first of them came.
        DWORD dwSince = dwNow;
        bool bWaited = false;
        for (auto itNewer = it; itNewer != m_held.end(); ++itNewer)
            if (!bWaited || static_cast<std::int32_t>(itNewer->dwArrival - dwSince) < 0) {
                dwSince = itNewer->dwArrival;
                bWaited = true;
            }
        if (bWaited)
            ObserveLateness(dwNow - dwSince);
    }
    m_llNewest = std::max(m_llNewest, llSeq);
    if (frame.nCodec != MEDIA_CODEC_AUDIO) {
        // Frames of one delivery share a tick: only spacings that show one frame's time count.
        const DWORD dwSpacing = dwNow - m_dwLastVideo;
        if (m_bHaveVideo && dwSpacing >= 5 && dwSpacing <= 1000)
            m_dIntervalMs = std::clamp(m_dIntervalMs + (dwSpacing - m_dIntervalMs) / 16.0, 10.0, 200.0);
        m_bHaveVideo = true;
        m_dwLastVideo = dwNow;
    }

    Frame held;
    held.vData = TakeBuffer();
    held.vData.assign(frame.pData, frame.pData + frame.nLen);
    held.frame = frame;
    held.frame.pData = held.vData.data();
    held.dwArrival = dwNow;
    held.tArrival = tArrival;
    held.dwGatherUs = dwGatherUs;
    held.llSequence = llSeq;
    m_nHeldBytes += frame.nLen;
    m_held.insert(it, std::move(held));
    return true;
}

bool CFrameOrderer::Before(const Frame& held, std::int64_t llSeq, BYTE bySub)
{
    return held.llSequence != llSeq ? held.llSequence < llSeq : held.frame.bySubSequence < bySub;
}

void CFrameOrderer::Emit(Frame& frame, const Sink& sink)
{
    m_nHeldBytes -= frame.frame.nLen;
    m_llNext = frame.llSequence + 1;
    m_byLastSub = frame.frame.bySubSequence;
    m_bReleased = true;
    sink(frame);
    KeepBuffer(std::move(frame.vData));
    m_held.pop_front();
}

void CFrameOrderer::Release(DWORD dwNow, const Sink& sink)
{
    Decay(dwNow);
    while (!m_held.empty()) {
        Frame& head = m_held.front();
        if (head.llSequence != m_llNext && head.llSequence != m_llNext - 1) {
            const bool bFull = m_held.size() > kMaxHeldFrames || m_nHeldBytes > kMaxHeldBytes;
            DWORD dwSince = head.dwArrival;
            for (const Frame& held : m_held)
                if (static_cast<std::int32_t>(held.dwArrival - dwSince) < 0)
                    dwSince = held.dwArrival;
            if (!bFull && dwNow - dwSince < WaitMs())
                break;
            m_counters.qwSkipped += static_cast<std::uint64_t>(head.llSequence - m_llNext);
            m_givenUp.push_back({m_llNext, head.llSequence - 1, dwSince});
            if (m_givenUp.size() > kMaxGivenUp)
                m_givenUp.pop_front();
        }
        Emit(head, sink);
    }
}

void CFrameOrderer::ReleaseAll(const Sink& sink)
{
    while (!m_held.empty())
        Emit(m_held.front(), sink);
}

DWORD CFrameOrderer::TimeToNextRelease(DWORD dwNow) const
{
    if (m_held.empty())
        return kNothingHeld;
    if (m_held.front().llSequence == m_llNext || m_held.front().llSequence == m_llNext - 1)
        return 0;
    DWORD dwSince = m_held.front().dwArrival;
    for (const Frame& held : m_held)
        if (static_cast<std::int32_t>(held.dwArrival - dwSince) < 0)
            dwSince = held.dwArrival;
    const DWORD dwWaited = dwNow - dwSince;
    const DWORD dwWait = WaitMs();
    return dwWaited >= dwWait ? 0 : dwWait - dwWaited;
}

void CFrameOrderer::Reset()
{
    for (Frame& held : m_held)
        KeepBuffer(std::move(held.vData));
    m_held.clear();
    m_nHeldBytes = 0;
    m_bStarted = false;
    m_bReleased = false;
    m_givenUp.clear();
    m_dLatenessMs = kInitialLatenessMs;
    m_bDecayStarted = false;
    m_dIntervalMs = 40.0;
    m_bHaveVideo = false;
}
