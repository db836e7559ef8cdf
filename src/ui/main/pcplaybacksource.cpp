#include "ui/main/pcplaybacksource.h"

#include "core/log.h"
#include "protocol/engmedia.h"
#include "protocol/mscmd.h"

#include <algorithm>
#include <limits>
#include <set>
#include <vector>

namespace {

constexpr std::int64_t DAY_MS = 86400000;
// Often enough that a picture is never late by more than a pane's refresh.
constexpr int TICK_MS = 10;
// The pane's speaker plays the cameras' GSM 06.10: 160 samples a frame.
constexpr std::size_t SPEECH_PCM_FRAME = 320;

} // namespace

CPcPlaybackSource::CPcPlaybackSource(std::string strFolder, Hooks hooks, QObject* pParent)
    : QObject(pParent), m_strFolder(std::move(strFolder)), m_hooks(std::move(hooks))
{
    m_timer.setInterval(TICK_MS);
    connect(&m_timer, &QTimer::timeout, this, &CPcPlaybackSource::OnTick);
}

CPcPlaybackSource::~CPcPlaybackSource() = default;

CPcRecIndex* CPcPlaybackSource::Index()
{
    if (m_pIndex != nullptr)
        return m_pIndex.get();
    auto pIndex = std::make_unique<CPcRecIndex>();
    std::string strError;
    // A reader leaves the files to the recorder, which may be writing some of them now.
    if (!pIndex->Open(m_strFolder, false, strError, false)) {
        VLOG(1, "PC playback: no index in %s: %s", m_strFolder.c_str(), strError.c_str());
        return nullptr;
    }
    m_pIndex = std::move(pIndex);
    return m_pIndex.get();
}

void CPcPlaybackSource::GetRecDate(DWORD dwID)
{
    std::vector<DWORD> vecDays;
    const std::string strSerial = m_hooks.fnSerial(dwID);
    if (CPcRecIndex* pIndex = strSerial.empty() ? nullptr : Index()) {
        std::set<DWORD> setDays;
        for (const PcSegment& s : pIndex->Segments(strSerial, 0, std::numeric_limits<std::int64_t>::max())) {
            // A segment over midnight counts for both days.
            for (std::int64_t llDay = s.llStartMs / DAY_MS;
                 llDay * DAY_MS < std::max(s.llEndMs, s.llStartMs + 1); ++llDay)
                setDays.insert(PlaybackClockOf(static_cast<DWORD>(llDay * 86400)).dwDay);
        }
        vecDays.assign(setDays.begin(), setDays.end());
    }
    const RecDateInfo info{dwID, static_cast<DWORD>(vecDays.size()), vecDays.data()};
    m_hooks.fnDays(info);
}

void CPcPlaybackSource::GetRecHour(DWORD dwID, DWORD dwDay)
{
    RecHourInfo info{{dwID, dwDay}, {}};
    const std::string strSerial = m_hooks.fnSerial(dwID);
    if (CPcRecIndex* pIndex = strSerial.empty() ? nullptr : Index()) {
        const auto aMarks =
            PcDayMarks(*pIndex, strSerial, std::int64_t{PlaybackTimeOf(dwDay, 0, 0, 0)} * 1000);
        for (int h = 0; h < 24; ++h)
            info.abyHours[h] = aMarks[static_cast<std::size_t>(h)] != BarMark::None ? 1 : 0;
    }
    m_hooks.fnHours(info);
}

void CPcPlaybackSource::GetRecMinute(DWORD dwID, DWORD dwDay, DWORD dwHour)
{
    RecMinuteInfo info{{dwID, dwDay, dwHour}, {}};
    const std::string strSerial = m_hooks.fnSerial(dwID);
    if (CPcRecIndex* pIndex = strSerial.empty() || dwHour > 23 ? nullptr : Index()) {
        const auto aMarks = PcHourMarks(
            *pIndex, strSerial, std::int64_t{PlaybackTimeOf(dwDay, static_cast<int>(dwHour), 0, 0)} * 1000);
        for (int m = 0; m < 60; ++m)
            info.abyMinutes[m] = aMarks[static_cast<std::size_t>(m)] != BarMark::None ? 1 : 0;
    }
    m_hooks.fnMinutes(info);
}

void CPcPlaybackSource::Play(DWORD dwID, DWORD, BYTE, BYTE bySpeed, DWORD dwStart)
{
    m_timer.stop();
    m_pending.reset();
    m_vecPcm.clear();
    m_dwID = dwID;
    m_bySpeed = bySpeed;
    const std::string strSerial = m_hooks.fnSerial(dwID);
    CPcRecIndex* pIndex = strSerial.empty() ? nullptr : Index();
    if (pIndex == nullptr) {
        Finish();
        return;
    }
    m_pPlayback = std::make_unique<CPcPlayback>(*pIndex);
    // The pane asks for second 1 to mean "from the first recording".
    if (!m_pPlayback->Open(strSerial, dwStart <= 1 ? 0 : std::int64_t{dwStart} * 1000)) {
        Finish();
        return;
    }
    PcPlaybackFrame frame;
    if (!m_pPlayback->NextPicture(frame)) {
        Finish();
        return;
    }
    m_llStartMicros = frame.llUtcMicros;
    Deliver(frame);
    if (m_bySpeed != 0) {
        m_clock.start();
        m_timer.start();
    }
}

void CPcPlaybackSource::Stop(DWORD)
{
    m_timer.stop();
    m_pending.reset();
    m_pPlayback.reset();
    m_dwID = 0;
}

void CPcPlaybackSource::Pause(DWORD)
{
    m_timer.stop();
}

void CPcPlaybackSource::Resume(DWORD)
{
    if (m_pPlayback == nullptr || m_bySpeed == 0)
        return;
    // On from the last picture shown, not from where the wall clock has gone meanwhile.
    m_vecPcm.clear();
    m_llStartMicros = m_pending ? m_pending->llUtcMicros : m_pPlayback->PositionMs() * 1000;
    m_clock.start();
    m_timer.start();
}

void CPcPlaybackSource::NextFrame(DWORD)
{
    if (m_pPlayback == nullptr)
        return;
    PcPlaybackFrame frame;
    if (m_pending) {
        frame = std::move(*m_pending);
        m_pending.reset();
    } else if (!m_pPlayback->NextPicture(frame)) {
        Finish();
        return;
    }
    Deliver(frame);
}

void CPcPlaybackSource::SetSpeed(DWORD dwID, BYTE bySpeed)
{
    const bool bWasStepping = m_bySpeed == 0;
    m_bySpeed = bySpeed;
    if (bySpeed == 0) {
        m_timer.stop();
        return;
    }
    // The new rate counts from the picture shown last.
    if (m_timer.isActive() || bWasStepping)
        Resume(dwID);
}

int CPcPlaybackSource::RateTimes8() const
{
    // 1, 2, 4, 8, 16 times as fast; with bit 5 a divisor in the low bits.
    if ((m_bySpeed & 0x20) != 0)
        return 8 / std::max(1, m_bySpeed & 0x1F);
    return 8 * std::max<int>(1, m_bySpeed);
}

void CPcPlaybackSource::OnTick()
{
    if (m_pPlayback == nullptr) {
        m_timer.stop();
        return;
    }
    const std::int64_t llNow = m_llStartMicros + m_clock.nsecsElapsed() / 1000 * RateTimes8() / 8;
    for (;;) {
        if (!m_pending) {
            PcPlaybackFrame frame;
            if (!m_pPlayback->Next(frame)) {
                Finish();
                return;
            }
            m_pending = std::move(frame);
        }
        // Over a gap the pictures go on at once from the next recording.
        if (m_pending->llUtcMicros > llNow + 2000000) {
            m_llStartMicros = m_pending->llUtcMicros;
            m_clock.start();
        } else if (m_pending->llUtcMicros > llNow) {
            return;
        }
        const PcPlaybackFrame frame = std::move(*m_pending);
        m_pending.reset();
        if (frame.bVideo)
            Deliver(frame);
        else
            DeliverSound(frame);
    }
}

void CPcPlaybackSource::DeliverSound(const PcPlaybackFrame& frame)
{
    // Faster or slower the sound is noise: the card's playback is silent then too.
    if (m_bySpeed != 1 || m_bNoSpeech)
        return;
    if (m_pSpeech == nullptr) {
        m_pSpeech = CreateAudioCodec(AUDIO_CODEC_GSM);
        if (m_pSpeech == nullptr || !m_pSpeech->Open(0, 16, CAudioCodec::DIRECTION_ENCODE)) {
            // The pictures go on without it.
            VLOG(1, "PC playback: no speech codec, the sound is left out");
            m_bNoSpeech = true;
            return;
        }
    }
    m_vecPcm.insert(m_vecPcm.end(), frame.vecData.begin(), frame.vecData.end());
    const std::size_t nWhole = m_vecPcm.size() / SPEECH_PCM_FRAME * SPEECH_PCM_FRAME;
    if (nWhole == 0)
        return;
    std::vector<BYTE> vecCoded(nWhole);
    const int nCoded = m_pSpeech->Encode(m_vecPcm.data(), vecCoded.data(), static_cast<int>(nWhole),
                                         static_cast<int>(vecCoded.size()));
    m_vecPcm.erase(m_vecPcm.begin(), m_vecPcm.begin() + static_cast<std::ptrdiff_t>(nWhole));
    if (nCoded <= 0)
        return;
    MediaFrame media;
    media.pData = vecCoded.data();
    media.nLen = static_cast<DWORD>(nCoded);
    media.ulCameraID = m_dwID;
    media.usSequence = ++m_usSequence;
    media.nCodec = MEDIA_CODEC_AUDIO;
    m_hooks.fnFrame(media);
}

bool CPcPlaybackSource::Deliver(const PcPlaybackFrame& frame)
{
    // Stamped as the card's frames are (length, flags, seconds, microseconds), so that the
    // decoder filter shows the time the picture was taken.
    constexpr std::size_t STAMP = 10;
    m_vecWork.resize(STAMP + frame.vecData.size());
    const auto dwSeconds = static_cast<std::uint32_t>(frame.llUtcMicros / 1000000);
    const auto dwMicros = static_cast<std::uint32_t>(frame.llUtcMicros % 1000000);
    m_vecWork[0] = STAMP;
    m_vecWork[1] = 0;
    for (int i = 0; i < 4; ++i) {
        m_vecWork[2 + i] = static_cast<BYTE>(dwSeconds >> (8 * i));
        m_vecWork[6 + i] = static_cast<BYTE>(dwMicros >> (8 * i));
    }
    std::copy(frame.vecData.begin(), frame.vecData.end(), m_vecWork.begin() + STAMP);
    MediaFrame media;
    media.pData = m_vecWork.data();
    media.nLen = static_cast<DWORD>(m_vecWork.size());
    media.ulCameraID = m_dwID;
    media.usSequence = ++m_usSequence;
    media.bySubSequence = 0; // a whole picture
    media.nWidth = static_cast<DWORD>(frame.nWidth);
    media.nHeight = static_cast<DWORD>(frame.nHeight);
    media.nCodec = frame.bMpeg4 ? MEDIA_CODEC_MPEG4 : MEDIA_CODEC_H264;
    media.bStamped = 1;
    m_hooks.fnFrame(media);
    m_hooks.fnPosition(dwSeconds);
    return true;
}

void CPcPlaybackSource::Finish()
{
    m_timer.stop();
    m_pending.reset();
    m_pPlayback.reset();
    const DWORD dwID = m_dwID;
    m_dwID = 0;
    if (dwID != 0)
        m_hooks.fnFinish(dwID);
}
