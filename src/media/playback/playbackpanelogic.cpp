#include "media/playback/playbackpanelogic.h"

#include "core/log.h"
#include "device/devicemanager.h"
#include "protocol/mscmd.h"

#include <algorithm>
#include <ctime>

namespace {

// Request 50's mode word and the byte after it, and request 62's value, per mode list entry.
constexpr DWORD kPlayMode[PLAYBACK_MODE_COUNT] = {2, 3};
constexpr BYTE kPlayModeByte[PLAYBACK_MODE_COUNT] = {0, 30};

class CMSCmdPlaybackRequests : public IPlaybackRequests {
public:
    void GetRecDate(DWORD dwID) override { CMSCmd::GetInstance()->Cmd_GetRecDate(dwID); }
    void GetRecHour(DWORD dwID, DWORD dwDay) override
    {
        CMSCmd::GetInstance()->Cmd_GetRecHour(dwID, dwDay, 0);
    }
    void GetRecMinute(DWORD dwID, DWORD dwDay, DWORD dwHour) override
    {
        CMSCmd::GetInstance()->Cmd_GetRecMinute(dwID, 0, dwDay, dwHour);
    }
    void Play(DWORD dwID, DWORD dwMode, BYTE byValue, BYTE bySpeed, DWORD dwStart) override
    {
        CMSCmd::GetInstance()->Cmd_PlayRecord(dwID, dwMode, byValue, bySpeed, dwStart, 0,
                                              PLAYBACK_END_OF_TIME, 0);
    }
    void Stop(DWORD dwID) override { CMSCmd::GetInstance()->Cmd_StopRecord(dwID); }
    void Pause(DWORD dwID) override { CMSCmd::GetInstance()->Cmd_PauseRecord(dwID); }
    void Resume(DWORD dwID) override { CMSCmd::GetInstance()->Cmd_ResumeRecord(dwID); }
    void NextFrame(DWORD dwID) override { CMSCmd::GetInstance()->Cmd_NextFrame(dwID); }
    void SetAudio(DWORD dwID, DWORD dwFlag) override
    {
        CMSCmd::GetInstance()->Cmd_SetPlayAudio(dwID, dwFlag);
    }
    void SetSpeed(DWORD dwID, BYTE bySpeed) override
    {
        CMSCmd::GetInstance()->Cmd_SetPlaySpeed(dwID, bySpeed);
    }
    void SetMode(DWORD dwID, DWORD dwMode) override { CMSCmd::GetInstance()->Cmd_SetPlayMode(dwID, dwMode); }
};

CMSCmdPlaybackRequests g_msCmdRequests;

} // namespace

DWORD PlaybackTimeOf(DWORD dwDay, int nHour, int nMinute, int nSecond)
{
    // Pure UTC arithmetic: a local-time conversion corrected by one fixed offset would be an
    // hour off for every day on the other side of a daylight-saving change.
    std::tm tm{};
    tm.tm_year = static_cast<int>(dwDay / 10000) - 1900;
    tm.tm_mon = static_cast<int>(dwDay / 100 % 100) - 1;
    tm.tm_mday = static_cast<int>(dwDay % 100);
    tm.tm_hour = nHour;
    tm.tm_min = nMinute;
    tm.tm_sec = nSecond;
    return static_cast<DWORD>(timegm(&tm));
}

PlaybackClock PlaybackClockOf(DWORD dwSeconds)
{
    const std::time_t t = static_cast<std::time_t>(dwSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {static_cast<DWORD>((tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday), tm.tm_hour,
            tm.tm_min, tm.tm_sec};
}

std::string PlaybackDayText(DWORD dwDay)
{
    // The camera says which days it has; a short number is shown as it is rather than cut.
    std::string strText = std::to_string(dwDay);
    if (strText.size() > 6)
        strText.insert(6, 1, '-');
    if (strText.size() > 4)
        strText.insert(4, 1, '-');
    return strText;
}

BarMark BarMarkOf(BYTE byFlags)
{
    if ((byFlags & 0x01) == 0)
        return BarMark::None;
    return (byFlags & 0x1E) != 0 ? BarMark::Event : BarMark::Normal;
}

CPlaybackPaneLogic::CPlaybackPaneLogic() : CPlaybackPaneLogic(Hooks{}) {}

CPlaybackPaneLogic::CPlaybackPaneLogic(Hooks hooks) : m_hooks(std::move(hooks))
{
    if (!m_hooks.fnSelected)
        m_hooks.fnSelected = [] { return GetDeviceManager()->GetSelectDevice(); };
    if (m_hooks.pRequests == nullptr)
        m_hooks.pRequests = &g_msCmdRequests;
}

CPlaybackPaneLogic::~CPlaybackPaneLogic() = default;

void CPlaybackPaneLogic::SetRequests(IPlaybackRequests* pRequests)
{
    m_hooks.pRequests = pRequests != nullptr ? pRequests : &g_msCmdRequests;
}

DeviceInfo* CPlaybackPaneLogic::Selected() const
{
    return m_hooks.fnSelected();
}

DWORD CPlaybackPaneLogic::SelectedID() const
{
    const DeviceInfo* pDevice = Selected();
    return pDevice != nullptr ? pDevice->GetID() : 0;
}

CPlaybackPaneLogic::Button CPlaybackPaneLogic::ShownButton() const
{
    if (m_bStopped)
        return Button::Play;
    if (PLAYBACK_SPEEDS[static_cast<std::size_t>(m_nSpeed)] == 0)
        return Button::NextFrame;
    return m_bPaused ? Button::Resume : Button::Pause;
}

void CPlaybackPaneLogic::Reset()
{
    m_vecDays.clear();
    m_nDayIndex = -1;
    m_dwDay = 0;
    ClearHours();
    m_nMode = 0;
    m_nSpeed = 0;
    m_bPaused = false;
}

void CPlaybackPaneLogic::ClearHours()
{
    m_aHours.fill(BarMark::None);
    m_nHour = -1;
    ClearMinutes();
}

void CPlaybackPaneLogic::ClearMinutes()
{
    m_aMinutes.fill(BarMark::None);
    m_nMinute = -1;
    m_nSecond = 0;
}

void CPlaybackPaneLogic::PlayFrom(DWORD dwStart)
{
    const DWORD dwID = SelectedID();
    if (dwID == 0)
        return;
    const std::size_t nMode = static_cast<std::size_t>(m_nMode);
    m_hooks.pRequests->Play(dwID, kPlayMode[nMode], kPlayModeByte[nMode],
                            PLAYBACK_SPEEDS[static_cast<std::size_t>(m_nSpeed)], dwStart);
}

void CPlaybackPaneLogic::AskHours()
{
    if (const DWORD dwID = SelectedID())
        m_hooks.pRequests->GetRecHour(dwID, m_dwDay);
}

void CPlaybackPaneLogic::AskMinutes()
{
    if (const DWORD dwID = SelectedID())
        m_hooks.pRequests->GetRecMinute(dwID, m_dwDay, static_cast<DWORD>(m_nHour));
}

void CPlaybackPaneLogic::Start()
{
    DeviceInfo* pDevice = Selected();
    if (pDevice == nullptr)
        return;
    Reset();
    m_bStopped = false;
    VLOG(3, "CPlaybackPaneLogic::Start: id:%u", pDevice->GetID());
    m_hooks.pRequests->GetRecDate(pDevice->GetID());
    // Second 1: the camera starts at its first recording.
    PlayFrom(1);
    m_hooks.pRequests->SetAudio(pDevice->GetID(), pDevice->bListenFromCam);
}

void CPlaybackPaneLogic::Stop()
{
    const DWORD dwID = SelectedID();
    Reset();
    m_bStopped = true;
    if (dwID == 0)
        return;
    VLOG(3, "CPlaybackPaneLogic::Stop: id:%u", dwID);
    m_hooks.pRequests->SetAudio(dwID, 0);
    m_hooks.pRequests->Stop(dwID);
}

void CPlaybackPaneLogic::OnDays(const RecDateInfo& info)
{
    const DWORD dwID = SelectedID();
    if (dwID == 0 || info.dwValue != dwID)
        return;
    m_vecDays.assign(info.pDays, info.pDays + info.dwCount);
    m_nDayIndex = -1;
    ClearHours();
    if (m_vecDays.empty())
        return;
    m_nDayIndex = 0;
    m_dwDay = m_vecDays.front();
    AskHours();
}

void CPlaybackPaneLogic::OnHours(const RecHourInfo& info)
{
    const DWORD dwID = SelectedID();
    if (dwID == 0 || info.adwValue[0] != dwID || info.adwValue[1] != m_dwDay)
        return;
    ClearHours();
    for (int h = 0; h < 24; ++h)
        m_aHours[static_cast<std::size_t>(h)] = BarMarkOf(info.abyHours[h]);
    const auto it =
        std::find_if(m_aHours.begin(), m_aHours.end(), [](BarMark m) { return m != BarMark::None; });
    if (it == m_aHours.end())
        return;
    m_nHour = static_cast<int>(it - m_aHours.begin());
    AskMinutes();
}

void CPlaybackPaneLogic::OnMinutes(const RecMinuteInfo& info)
{
    const DWORD dwID = SelectedID();
    if (dwID == 0 || info.adwValue[0] != dwID || info.adwValue[1] != m_dwDay || m_nHour < 0 ||
        info.adwValue[2] != static_cast<DWORD>(m_nHour))
        return;
    ClearMinutes();
    for (int m = 0; m < 60; ++m)
        m_aMinutes[static_cast<std::size_t>(m)] = BarMarkOf(info.abyMinutes[m]);
}

bool CPlaybackPaneLogic::OnFinish(DWORD dwID, bool bVisible)
{
    if (dwID == 0 || dwID != SelectedID() || !bVisible)
        return false;
    Stop();
    return true;
}

void CPlaybackPaneLogic::OnPosition(DWORD dwSeconds)
{
    const PlaybackClock clock = PlaybackClockOf(dwSeconds);
    if (clock.dwDay == m_dwDay && clock.nHour == m_nHour) {
        if (clock.nMinute == m_nMinute) {
            m_nSecond = clock.nSecond;
        } else {
            m_nMinute = clock.nMinute;
            m_nSecond = 0;
        }
        return;
    }
    if (clock.dwDay == m_dwDay) {
        ClearMinutes();
        m_nHour = clock.nHour;
        AskMinutes();
        return;
    }
    const auto it = std::find(m_vecDays.begin(), m_vecDays.end(), clock.dwDay);
    if (it == m_vecDays.end())
        return;
    m_nDayIndex = static_cast<int>(it - m_vecDays.begin());
    m_dwDay = clock.dwDay;
    ClearHours();
    AskHours();
}

void CPlaybackPaneLogic::OnPause()
{
    if (m_bStopped)
        return;
    if (const DWORD dwID = SelectedID())
        m_hooks.pRequests->Pause(dwID);
    m_bPaused = true;
}

void CPlaybackPaneLogic::OnResume()
{
    if (m_bStopped)
        return;
    if (const DWORD dwID = SelectedID())
        m_hooks.pRequests->Resume(dwID);
    m_bPaused = false;
}

void CPlaybackPaneLogic::OnNextFrame()
{
    if (m_bStopped)
        return;
    if (const DWORD dwID = SelectedID())
        m_hooks.pRequests->NextFrame(dwID);
}

void CPlaybackPaneLogic::OnDayChosen(int nIndex)
{
    if (m_bStopped || nIndex < 0 || nIndex >= static_cast<int>(m_vecDays.size()))
        return;
    m_nDayIndex = nIndex;
    m_dwDay = m_vecDays[static_cast<std::size_t>(nIndex)];
    AskHours();
    PlayFrom(PlaybackTimeOf(m_dwDay, 0, 0, 0));
}

void CPlaybackPaneLogic::OnHourChosen(int nHour)
{
    if (m_bStopped || nHour < 0 || nHour >= 24 || nHour == m_nHour ||
        m_aHours[static_cast<std::size_t>(nHour)] == BarMark::None)
        return;
    ClearMinutes();
    m_nHour = nHour;
    AskMinutes();
    PlayFrom(PlaybackTimeOf(m_dwDay, m_nHour, 0, 0));
}

void CPlaybackPaneLogic::OnMinuteChosen(int nMinute)
{
    if (m_bStopped || nMinute < 0 || nMinute >= 60 || nMinute == m_nMinute ||
        m_aMinutes[static_cast<std::size_t>(nMinute)] == BarMark::None)
        return;
    m_nMinute = nMinute;
    m_nSecond = 0;
    if (m_dwDay != 0 && m_nHour >= 0)
        PlayFrom(PlaybackTimeOf(m_dwDay, m_nHour, m_nMinute, 0));
}

void CPlaybackPaneLogic::OnSecondMoved(int nSecond)
{
    if (m_bStopped || nSecond < 0 || nSecond >= 60)
        return;
    m_nSecond = nSecond;
    if (m_dwDay != 0 && m_nHour >= 0 && m_nMinute >= 0)
        PlayFrom(PlaybackTimeOf(m_dwDay, m_nHour, m_nMinute, m_nSecond));
}

void CPlaybackPaneLogic::OnPreviousMinute()
{
    if (m_bStopped || m_dwDay == 0 || m_nHour < 0 || m_nMinute < 0)
        return;
    PlayFrom(PlaybackTimeOf(m_dwDay, m_nHour, m_nMinute, 0) - 60);
}

void CPlaybackPaneLogic::OnNextMinute()
{
    if (m_bStopped || m_dwDay == 0 || m_nHour < 0 || m_nMinute < 0)
        return;
    PlayFrom(PlaybackTimeOf(m_dwDay, m_nHour, m_nMinute, 0) + 60);
}

void CPlaybackPaneLogic::OnModeChosen(int nIndex)
{
    if (m_bStopped || nIndex < 0 || nIndex >= PLAYBACK_MODE_COUNT)
        return;
    m_nMode = nIndex;
    if (const DWORD dwID = SelectedID())
        m_hooks.pRequests->SetMode(dwID, kPlayMode[static_cast<std::size_t>(nIndex)]);
}

void CPlaybackPaneLogic::OnSpeedChosen(int nIndex)
{
    if (m_bStopped || nIndex < 0 || nIndex >= static_cast<int>(PLAYBACK_SPEEDS.size()))
        return;
    m_nSpeed = nIndex;
    if (const DWORD dwID = SelectedID())
        m_hooks.pRequests->SetSpeed(dwID, PLAYBACK_SPEEDS[static_cast<std::size_t>(nIndex)]);
}
