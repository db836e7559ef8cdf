// The playback pane's logic without a window: camera times against `date -u`, whatever the PC's
// zone; the bars' marks from the camera's flag bytes; and one session from selection to the end
// of playback, step by step, with the record-time requests each step sends.
#include "device/deviceinfo.h"
#include "media/playback/playbackpanelogic.h"
#include "protocol/mscmd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace {

// Zones with and without daylight saving; camera times must not move with any of them.
// POSIX rules, so that no zone database is needed: Berlin, New York, Lord Howe (half an hour of
// daylight saving), Shanghai.
const char* const kZones[] = {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0",
                              "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", "CST-8"};

void SetZone(const char* pszZone)
{
    setenv("TZ", pszZone, 1);
    tzset();
}

TEST(PlaybackTime, DayAndTimeAreCameraSecondsInEveryZone)
{
    // Seconds from `date -u -d '<day> <time>' +%s`; two of them fall in Berlin's missing and
    // repeated hours.
    const struct {
        DWORD dwDay;
        int nHour, nMinute, nSecond;
        DWORD dwSeconds;
    } rows[] = {
        {20240501, 0, 0, 0, 1714521600},           {20240501, 23, 59, 30, 1714607970},
        {20240331, 2, 30, 0, 1711852200},          {20241027, 2, 30, 0, 1729996200},
        {20240229, 12, 34, 56, 1709210096},        {19991231, 23, 59, 59, 946684799},
        {20380101, 0, 0, 0, PLAYBACK_END_OF_TIME},
    };
    for (const char* pszZone : kZones) {
        SetZone(pszZone);
        // A zone the system does not know would silently be UTC.
        const std::time_t tSummer = 1714521600;
        std::tm tmLocal{};
        localtime_r(&tSummer, &tmLocal);
        EXPECT_EQ(tmLocal.tm_gmtoff == 0, std::string(pszZone) == "UTC0") << pszZone;
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << pszZone << " " << row.dwDay << " " << row.nHour << ":"
                                            << row.nMinute << ":" << row.nSecond);
            EXPECT_EQ(PlaybackTimeOf(row.dwDay, row.nHour, row.nMinute, row.nSecond), row.dwSeconds);
            const PlaybackClock clock = PlaybackClockOf(row.dwSeconds);
            EXPECT_EQ(clock.dwDay, row.dwDay);
            EXPECT_EQ(clock.nHour, row.nHour);
            EXPECT_EQ(clock.nMinute, row.nMinute);
            EXPECT_EQ(clock.nSecond, row.nSecond);
        }
    }
    // Next minute at the end of a day is the first minute of the next one.
    EXPECT_EQ(PlaybackTimeOf(20240531, 23, 59, 0) + 60, PlaybackTimeOf(20240601, 0, 0, 0));
    SetZone("UTC0");
}

TEST(PlaybackTime, MarksAndDayTexts)
{
    const std::pair<BYTE, BarMark> marks[] = {
        {0x00, BarMark::None},  {0x01, BarMark::Normal}, {0x02, BarMark::None}, {0x03, BarMark::Event},
        {0x11, BarMark::Event}, {0x21, BarMark::Normal}, {0x1E, BarMark::None}, {0xFF, BarMark::Event}};
    for (const auto& [byFlags, enMark] : marks)
        EXPECT_EQ(BarMarkOf(byFlags), enMark) << int(byFlags);
    const std::pair<DWORD, const char*> days[] = {
        {20240501, "2024-05-01"}, {19991231, "1999-12-31"}, {123456, "1234-56"}, {0, "0"}};
    for (const auto& [dwDay, pszText] : days)
        EXPECT_EQ(PlaybackDayText(dwDay), pszText) << dwDay;
}

// Requests as "code id values", joined by "; ".
class CRecordingRequests : public IPlaybackRequests {
public:
    void GetRecDate(DWORD dwID) override { Add("33", {dwID}); }
    void GetRecHour(DWORD dwID, DWORD dwDay) override { Add("20", {dwID, dwDay, 0}); }
    void GetRecMinute(DWORD dwID, DWORD dwDay, DWORD dwHour) override { Add("22", {dwID, 0, dwDay, dwHour}); }
    void Play(DWORD dwID, DWORD dwMode, BYTE byValue, BYTE bySpeed, DWORD dwStart) override
    {
        Add("50", {dwID, dwMode, byValue, bySpeed, dwStart});
    }
    void Stop(DWORD dwID) override { Add("52", {dwID}); }
    void Pause(DWORD dwID) override { Add("54", {dwID}); }
    void Resume(DWORD dwID) override { Add("56", {dwID}); }
    void NextFrame(DWORD dwID) override { Add("66", {dwID}); }
    void SetAudio(DWORD dwID, DWORD dwFlag) override { Add("58", {dwID, dwFlag}); }
    void SetSpeed(DWORD dwID, BYTE bySpeed) override { Add("60", {dwID, bySpeed}); }
    void SetMode(DWORD dwID, DWORD dwMode) override { Add("62", {dwID, dwMode}); }

    std::string m_strSent;

private:
    void Add(const char* pszCode, std::initializer_list<DWORD> values)
    {
        m_strSent += (m_strSent.empty() ? "" : "; ") + std::string(pszCode);
        for (DWORD dw : values)
            m_strSent += " " + std::to_string(dw);
    }
};

// What the pane shows: the button, then day index, hour, minute and second.
std::string Shown(const CPlaybackPaneLogic& logic)
{
    const char* apszButtons[] = {"Play", "Pause", "Resume", "NextFrame"};
    return std::string(apszButtons[static_cast<int>(logic.ShownButton())]) + " " +
           std::to_string(logic.DayIndex()) + " " + std::to_string(logic.SelectedHour()) + " " +
           std::to_string(logic.SelectedMinute()) + " " + std::to_string(logic.Second());
}

TEST(PlaybackPaneLogic, OneSessionFromSelectionToTheEnd)
{
    SetZone(kZones[1]);
    DeviceInfo device;
    device.stItem.dwDVIPID = 900;
    device.bListenFromCam = 1;
    DeviceInfo* pSelected = nullptr;
    CRecordingRequests requests;
    CPlaybackPaneLogic logic({[&] { return pSelected; }, &requests});
    const DWORD adwDays[] = {20240501, 20240502};
    auto days = [&](DWORD dwID) { logic.OnDays(RecDateInfo{dwID, 2, adwDays}); };
    // Hours 10 normal, 11 event, 12 flagged without a recording; minutes 0 normal, 1 event.
    auto hours = [&](DWORD dwID, DWORD dwDay) {
        logic.OnHours(RecHourInfo{{dwID, dwDay}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 2}});
    };
    auto minutes = [&](DWORD dwID, DWORD dwDay, DWORD dwHour) {
        logic.OnMinutes(RecMinuteInfo{{dwID, dwDay, dwHour}, {1, 0x05}});
    };

    // Each step, the requests it sends (seconds from `date -u`) and what the pane shows after it.
    const struct {
        const char* pszWhat;
        std::function<void()> fnDo;
        const char* pszSent;
        const char* pszShown;
    } steps[] = {
        // clang-format off
        {"stopped: choices do nothing", [&] { logic.OnNextMinute(), logic.OnSpeedChosen(1), logic.OnPause(); }, "", "Play -1 -1 -1 0"},
        {"start without a camera", [&] { logic.Start(); }, "", "Play -1 -1 -1 0"},
        {"start", [&] { pSelected = &device, logic.Start(); }, "33 900; 50 900 2 0 1 1; 58 900 1", "Pause -1 -1 -1 0"},
        {"days of another camera", [&] { days(901); }, "", "Pause -1 -1 -1 0"},
        {"days", [&] { days(900); }, "20 900 20240501 0", "Pause 0 -1 -1 0"},
        {"hours of another day", [&] { hours(900, 20240502); }, "", "Pause 0 -1 -1 0"},
        {"hours", [&] { hours(900, 20240501); }, "22 900 0 20240501 10", "Pause 0 10 -1 0"},
        {"minutes of another hour", [&] { minutes(900, 20240501, 11); }, "", "Pause 0 10 -1 0"},
        {"minutes", [&] { minutes(900, 20240501, 10); }, "", "Pause 0 10 -1 0"},
        {"position in a new minute", [&] { logic.OnPosition(1714557607); }, "", "Pause 0 10 0 0"},
        {"position in the same minute", [&] { logic.OnPosition(1714557607); }, "", "Pause 0 10 0 7"},
        {"unmarked hour", [&] { logic.OnHourChosen(12); }, "", "Pause 0 10 0 7"},
        {"selected hour", [&] { logic.OnHourChosen(10); }, "", "Pause 0 10 0 7"},
        {"event hour", [&] { logic.OnHourChosen(11); }, "22 900 0 20240501 11; 50 900 2 0 1 1714561200", "Pause 0 11 -1 0"},
        {"minute of a cleared bar", [&] { logic.OnMinuteChosen(1); }, "", "Pause 0 11 -1 0"},
        {"minutes of hour 11", [&] { minutes(900, 20240501, 11); }, "", "Pause 0 11 -1 0"},
        {"unmarked minute", [&] { logic.OnMinuteChosen(30); }, "", "Pause 0 11 -1 0"},
        {"event minute", [&] { logic.OnMinuteChosen(1); }, "50 900 2 0 1 1714561260", "Pause 0 11 1 0"},
        {"seconds slider", [&] { logic.OnSecondMoved(30); }, "50 900 2 0 1 1714561290", "Pause 0 11 1 30"},
        {"previous minute", [&] { logic.OnPreviousMinute(); }, "50 900 2 0 1 1714561200", "Pause 0 11 1 30"},
        {"position in another hour", [&] { logic.OnPosition(1714607970); }, "22 900 0 20240501 23", "Pause 0 23 -1 0"},
        {"position in a new minute of it", [&] { logic.OnPosition(1714607970); }, "", "Pause 0 23 59 0"},
        {"next minute at 23:59", [&] { logic.OnNextMinute(); }, "50 900 2 0 1 1714608000", "Pause 0 23 59 0"},
        {"position on the next day", [&] { logic.OnPosition(1714608000); }, "20 900 20240502 0", "Pause 1 -1 -1 0"},
        {"position on a day not listed", [&] { logic.OnPosition(1714694400); }, "", "Pause 1 -1 -1 0"},
        {"day chosen", [&] { logic.OnDayChosen(0); }, "20 900 20240501 0; 50 900 2 0 1 1714521600", "Pause 0 -1 -1 0"},
        {"pause", [&] { logic.OnPause(); }, "54 900", "Resume 0 -1 -1 0"},
        {"1/4X speed while paused", [&] { logic.OnSpeedChosen(6); }, "60 900 36", "Resume 0 -1 -1 0"},
        {"frame by frame", [&] { logic.OnSpeedChosen(8); }, "60 900 0", "NextFrame 0 -1 -1 0"},
        {"next frame", [&] { logic.OnNextFrame(); }, "66 900", "NextFrame 0 -1 -1 0"},
        {"normal speed", [&] { logic.OnSpeedChosen(0); }, "60 900 1", "Resume 0 -1 -1 0"},
        {"resume", [&] { logic.OnResume(); }, "56 900", "Pause 0 -1 -1 0"},
        {"events only", [&] { logic.OnModeChosen(1); }, "62 900 3", "Pause 0 -1 -1 0"},
        {"plays events only", [&] { logic.OnDayChosen(1); }, "20 900 20240502 0; 50 900 3 30 1 1714608000", "Pause 1 -1 -1 0"},
        {"end of another camera", [&] { EXPECT_FALSE(logic.OnFinish(901, true)); }, "", "Pause 1 -1 -1 0"},
        {"end while hidden", [&] { EXPECT_FALSE(logic.OnFinish(900, false)); }, "", "Pause 1 -1 -1 0"},
        {"end", [&] { EXPECT_TRUE(logic.OnFinish(900, true)); }, "58 900 0; 52 900", "Play -1 -1 -1 0"},
        {"play again", [&] { logic.Start(); }, "33 900; 50 900 2 0 1 1; 58 900 1", "Pause -1 -1 -1 0"},
        {"selection cancelled", [&] { logic.Stop(); }, "58 900 0; 52 900", "Play -1 -1 -1 0"},
        // clang-format on
    };
    for (const auto& step : steps) {
        step.fnDo();
        EXPECT_EQ(requests.m_strSent, step.pszSent) << step.pszWhat;
        EXPECT_EQ(Shown(logic), step.pszShown) << step.pszWhat;
        requests.m_strSent.clear();
        if (std::string(step.pszWhat) == "minutes of hour 11") {
            const BarMark aHours[] = {logic.HourBar()[10], logic.HourBar()[11], logic.HourBar()[12]};
            const BarMark aMinutes[] = {logic.MinuteBar()[0], logic.MinuteBar()[1], logic.MinuteBar()[2]};
            for (const BarMark* pMarks : {aHours, aMinutes}) {
                EXPECT_EQ(pMarks[0], BarMark::Normal);
                EXPECT_EQ(pMarks[1], BarMark::Event);
                EXPECT_EQ(pMarks[2], BarMark::None);
            }
        }
    }
    EXPECT_TRUE(logic.Days().empty());
    SetZone("UTC0");
}

} // namespace
