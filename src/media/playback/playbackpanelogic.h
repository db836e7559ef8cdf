// The remote playback pane without its window: the recording days, the hour and minute bars,
// the seconds slider, mode, speed and the transport button, kept in step with the camera's
// record-time replies and the playback position of the frames shown, and the record-time
// requests that the user's choices send to the selected camera.
//
// Camera times are plain seconds of the camera's own clock: a day, hour, minute and second are
// read as UTC and broken down with UTC rules, whatever the PC's zone and daylight saving.
#pragma once

#include "platform/wintypes.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

struct DeviceInfo;
struct RecDateInfo;
struct RecHourInfo;
struct RecMinuteInfo;

// Camera seconds of a day number (year * 10000 + month * 100 + day) and a time of that day.
DWORD PlaybackTimeOf(DWORD dwDay, int nHour, int nMinute, int nSecond);

struct PlaybackClock {
    DWORD dwDay;
    int nHour;
    int nMinute;
    int nSecond;
};
PlaybackClock PlaybackClockOf(DWORD dwSeconds);

// "2024-05-01" for 20240501: "-" after the fourth and the sixth digit.
std::string PlaybackDayText(DWORD dwDay);

// A cell of the hour or minute bar, from the camera's flag byte: bit 0 a recording, bits 1 to 4
// an event among it.
enum class BarMark : BYTE { None = 0, Normal = 1, Event = 2 };
BarMark BarMarkOf(BYTE byFlags);

// Play all recordings, or events only.
constexpr int PLAYBACK_MODE_COUNT = 2;
// Speed list values in list order; bit 5 marks a slowing divisor in the low bits, 0 is frame by
// frame.
constexpr std::array<BYTE, 9> PLAYBACK_SPEEDS = {1, 2, 4, 8, 16, 34, 36, 40, 0};
// Where the camera's recordings end for a play request: 2038-01-01 00:00:00.
constexpr DWORD PLAYBACK_END_OF_TIME = 2145916800;

// The record-time requests of the pane; the default sends them through the process's CMSCmd.
class IPlaybackRequests {
public:
    virtual ~IPlaybackRequests() = default;
    virtual void GetRecDate(DWORD dwID) = 0;
    virtual void GetRecHour(DWORD dwID, DWORD dwDay) = 0;
    virtual void GetRecMinute(DWORD dwID, DWORD dwDay, DWORD dwHour) = 0;
    virtual void Play(DWORD dwID, DWORD dwMode, BYTE byValue, BYTE bySpeed, DWORD dwStart) = 0;
    virtual void Stop(DWORD dwID) = 0;
    virtual void Pause(DWORD dwID) = 0;
    virtual void Resume(DWORD dwID) = 0;
    virtual void NextFrame(DWORD dwID) = 0;
    virtual void SetAudio(DWORD dwID, DWORD dwFlag) = 0;
    virtual void SetSpeed(DWORD dwID, BYTE bySpeed) = 0;
    virtual void SetMode(DWORD dwID, DWORD dwMode) = 0;
};

class CPlaybackPaneLogic {
public:
    // The one transport button shown.
    enum class Button { Play, Pause, Resume, NextFrame };

    struct Hooks {
        // The camera selected for playback (null: none); default the device manager's.
        std::function<DeviceInfo*()> fnSelected;
        // Default: the process's record-time engine.
        IPlaybackRequests* pRequests = nullptr;
    };

    CPlaybackPaneLogic();
    explicit CPlaybackPaneLogic(Hooks hooks);
    ~CPlaybackPaneLogic();
    CPlaybackPaneLogic(const CPlaybackPaneLogic&) = delete;
    CPlaybackPaneLogic& operator=(const CPlaybackPaneLogic&) = delete;

    // A camera selected for playback, and the "Play" button.
    void Start();
    // The selection cancelled, and the end of playback.
    void Stop();
    // Record-time replies; each is ignored unless it is about what the pane shows.
    void OnDays(const RecDateInfo& info);
    void OnHours(const RecHourInfo& info);
    void OnMinutes(const RecMinuteInfo& info);
    // End of playback for dwID; true when the pane stopped and shows that it completed.
    bool OnFinish(DWORD dwID, bool bVisible);
    // The camera time of the frame being played.
    void OnPosition(DWORD dwSeconds);

    // The user's choices; while stopped they do nothing.
    void OnPause();
    void OnResume();
    void OnNextFrame();
    void OnDayChosen(int nIndex);
    void OnHourChosen(int nHour);
    void OnMinuteChosen(int nMinute);
    void OnSecondMoved(int nSecond);
    void OnPreviousMinute();
    void OnNextMinute();
    void OnModeChosen(int nIndex);
    void OnSpeedChosen(int nIndex);

    // Where the record-time requests go from now on (null: the camera's own engine); the pane
    // switches between the camera's card and the recordings on this PC.
    void SetRequests(IPlaybackRequests* pRequests);

    void SetEnabled(bool bEnabled) { m_bEnabled = bEnabled; }
    bool IsEnabled() const { return m_bEnabled; }
    Button ShownButton() const;
    bool IsStopped() const { return m_bStopped; }
    bool IsPaused() const { return m_bPaused; }
    const std::vector<DWORD>& Days() const { return m_vecDays; }
    // Index of the selected day in Days(), -1 for none.
    int DayIndex() const { return m_nDayIndex; }
    DWORD SelectedDay() const { return m_dwDay; }
    int SelectedHour() const { return m_nHour; }
    int SelectedMinute() const { return m_nMinute; }
    int Second() const { return m_nSecond; }
    const std::array<BarMark, 24>& HourBar() const { return m_aHours; }
    const std::array<BarMark, 60>& MinuteBar() const { return m_aMinutes; }
    int ModeIndex() const { return m_nMode; }
    int SpeedIndex() const { return m_nSpeed; }

private:
    DeviceInfo* Selected() const;
    DWORD SelectedID() const;
    void Reset();
    void ClearHours();
    void ClearMinutes();
    void PlayFrom(DWORD dwStart);
    void AskHours();
    void AskMinutes();

    Hooks m_hooks;
    bool m_bEnabled = false;
    bool m_bStopped = true;
    bool m_bPaused = false;
    std::vector<DWORD> m_vecDays;
    int m_nDayIndex = -1;
    DWORD m_dwDay = 0;
    int m_nHour = -1;
    int m_nMinute = -1;
    int m_nSecond = 0;
    std::array<BarMark, 24> m_aHours{};
    std::array<BarMark, 60> m_aMinutes{};
    int m_nMode = 0;
    int m_nSpeed = 0;
};
