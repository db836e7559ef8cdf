// The playback pane in the main window against the camera simulator in the network lab: the
// days and bars come from the simulator's card, its frames reach the video pane and move the
// pane's time, and every choice reaches the camera as the record-time request it stands for.
#include "app/startup_engines.h"
#include "core/language.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "ui/hint.h"
#include "ui/main/camlist.h"
#include "ui/main/dlglanguage.h"
#include "ui/main/dlgmain.h"
#include "ui/main/playbackpane.h"
#include "ui/simpattern.h"
#include "ui/videopane.h"
#include "ui/videorendererwidget.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>

using json = nlohmann::json;

namespace {

constexpr DWORD kCamera = 910;

// The simulator's answer on its control socket; a few tries when it is too busy to answer.
json Sim(const QStringList& args)
{
    json j;
    for (int nTry = 0; nTry < 3 && !j.is_object(); ++nTry) {
        QProcess process;
        process.start(
            QString::fromLocal8Bit(std::getenv("PLAY_SIM")),
            QStringList{QStringLiteral("--send"), QString::fromLocal8Bit(std::getenv("PLAY_SIM_CTL"))} +
                args);
        process.waitForFinished(5000);
        j = json::parse(process.readAllStandardOutput().toStdString(), nullptr, false);
    }
    return j;
}

// The bodies of one record-time request code the camera took, oldest first.
std::vector<std::string> Accepted(int nCode)
{
    // A simulator too busy to answer in time reads as nothing taken yet.
    const json j = Sim({QStringLiteral("dump"), QString::number(kCamera)});
    const json::json_pointer ptr("/camera/record_time/accepted/" + std::to_string(nCode));
    std::vector<std::string> vec;
    if (!j.is_object() || !j.contains(ptr) || !j.at(ptr).is_array())
        return vec;
    for (const auto& item : j.at(ptr))
        vec.push_back(item.get<std::string>());
    return vec;
}

std::uint64_t SimPlaybackFrames()
{
    const json j = Sim({QStringLiteral("media"), QString::number(kCamera)});
    const json::json_pointer ptr("/media/playback_frames");
    return j.is_object() && j.contains(ptr) ? j.at(ptr).get<std::uint64_t>() : 0;
}

// Request 50's body: mode, the byte, speed, start, 0, the end of 2037, 0.
std::string PlayBody(DWORD dwMode, int nByte, int nSpeed, DWORD dwStart)
{
    char sz[64];
    std::snprintf(sz, sizeof sz, "%08x%02x%02x%08x00000000%08x00000000", dwMode, nByte, nSpeed, dwStart,
                  2145916800u);
    return sz;
}

// The window's own texts in the pane fit their controls; false (and a failure when bExpect)
// for each that does not.
bool TextsFit(QWidget* pPane, const char* pszWhat, bool bExpect)
{
    bool bFit = true;
    for (QWidget* pWidget : pPane->findChildren<QWidget*>()) {
        if (!pWidget->isVisible() || !(qobject_cast<QPushButton*>(pWidget) ||
                                       qobject_cast<QLabel*>(pWidget) || qobject_cast<QComboBox*>(pWidget)))
            continue;
        if (pWidget->width() >= pWidget->minimumSizeHint().width())
            continue;
        bFit = false;
        if (bExpect)
            ADD_FAILURE() << pszWhat << " " << pWidget->metaObject()->className() << " "
                          << pWidget->objectName().toStdString() << " " << pWidget->width() << " < "
                          << pWidget->minimumSizeHint().width();
    }
    return bFit;
}

TEST(PlaybackPaneLab, FillsFromTheCardPlaysPausesStepsSpeedsUpAndCompletes)
{
    // The pane works on camera time; the PC's own zone must not show through.
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
    LoadSettingsAndLanguage();
    StartEngines();
    CDlgMain main;
    main.show();
    main.OnBtnPlayBack();
    CDlgPlaybackPane* pPane = main.GetPlaybackPane();
    ASSERT_NE(pPane, nullptr);
    EXPECT_TRUE(pPane->isVisible());
    EXPECT_FALSE(pPane->isEnabled());
    // Until a camera is chosen the pane says what to do, in the seconds slider's place.
    EXPECT_TRUE(pPane->GetIdleHint()->isVisible());
    EXPECT_FALSE(pPane->GetSecondSlider()->isVisible());
    EXPECT_EQ(pPane->GetIdleHint()->text(),
              QString::fromStdU16String(GetLanguageManager()->GetString(IDS_ST_PLAYBACK_IDLE)));
    auto* pVideo = main.GetVideoArea()->findChild<CDlgVideoPane*>();
    ASSERT_NE(pVideo, nullptr);
    CDeviceManager* pManager = GetDeviceManager();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const DeviceInfo* pDevice = pManager->GetDevice(kCamera, CAMERA_MASK_ALL);
            return pDevice != nullptr && pDevice->bIsExist;
        },
        20000));

    // Selected for playback: the camera is asked for its days and plays from its first recording.
    // The empty video area before that, with its picture, in the three languages.
    const QString strDir = QStringLiteral(VISTREL_PLAYBACK_SCREENSHOT_DIR);
    QDir().mkpath(strDir);
    const std::pair<int, const char*> languages[] = {{9, "en"}, {2052, "zh_CN"}, {1028, "zh_TW"}};
    for (const auto& [nLanguageID, pszName] : languages) {
        CDlgLanguage::ApplyLanguage(nLanguageID);
        (void)QTest::qWaitFor([&] { return TextsFit(pPane, pszName, false); }, 3000);
        EXPECT_TRUE(
            main.grab().save(QStringLiteral("%1/playback_idle_%2.png").arg(strDir, QLatin1String(pszName))));
        TextsFit(pPane, pszName, true);
    }
    CDlgLanguage::ApplyLanguage(9);

    ASSERT_TRUE(main.GetPlaybackList()->OpenDevice(kCamera));
    EXPECT_TRUE(pPane->isEnabled());
    EXPECT_FALSE(pPane->GetIdleHint()->isVisible());
    EXPECT_EQ(pPane->GetTransportButton()->text(), QStringLiteral("Pause"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pPane->GetDateList()->count() == 2; }, 15000));
    EXPECT_EQ(pPane->GetDateList()->itemText(0), QStringLiteral("2024-05-01"));
    EXPECT_EQ(pPane->GetDateList()->itemText(1), QStringLiteral("2024-05-02"));
    EXPECT_EQ(pPane->GetDateList()->itemData(1).toUInt(), 20240502u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Accepted(58).size() == 1; }, 10000));
    EXPECT_EQ(Accepted(50), std::vector<std::string>{PlayBody(2, 0, 1, 1)});
    EXPECT_EQ(Accepted(58), std::vector<std::string>{"00000000"});

    // The bars as the scenario's recordings lay them out: hour 10 normal, hour 11 an event; in
    // hour 10, minutes 0 and 1.
    CTimeBar* pHours = pPane->GetHourBar();
    CTimeBar* pMinutes = pPane->GetMinuteBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pMinutes->GetMark(1) != BarMark::None; }, 15000));
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(pHours->GetMark(h), h == 10   ? BarMark::Normal
                                      : h == 11 ? BarMark::Event
                                                : BarMark::None)
            << h;
    for (int m = 0; m < 60; ++m)
        EXPECT_EQ(pMinutes->GetMark(m), m <= 1 ? BarMark::Normal : BarMark::None) << m;
    EXPECT_EQ(pHours->GetCurrent(), 10);

    // Frames reach the video pane, and their camera time moves the minute and the seconds.
    const auto nSegmentsBefore = pVideo->Logic().GetCounters().qwSegments;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pPane->GetSecondSlider()->value() >= 2; }, 15000));
    EXPECT_EQ(pMinutes->GetCurrent(), 0);
    EXPECT_GE(pVideo->Logic().GetCounters().qwSegments, nSegmentsBefore + 10);
    // Decoded and shown: the simulator's pattern, blue rising to the right in the lower half.
    CVideoRendererWidget* pWindow = pVideo->VideoWindow();
    ASSERT_NE(pWindow, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pWindow->FramesPresented() >= 5; }, 10000));
    const QImage picture = pWindow->CurrentImage();
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(uitest::LowerBlue(picture, picture.width() * 5 / 8), uitest::LowerBlue(picture, 0) + 20);

    // The pane in the three languages, while it plays: nothing of its own cut off.
    for (const auto& [nLanguageID, pszName] : languages) {
        CDlgLanguage::ApplyLanguage(nLanguageID);
        // New texts lay the window out again over a few turns of the event loop.
        (void)QTest::qWaitFor([&] { return TextsFit(pPane, pszName, false); }, 3000);
        EXPECT_TRUE(
            main.grab().save(QStringLiteral("%1/playback_%2.png").arg(strDir, QLatin1String(pszName))));
        TextsFit(pPane, pszName, true);
    }
    CDlgLanguage::ApplyLanguage(9);

    // Pause: the camera stops sending, and so does the pane's picture.
    pPane->GetTransportButton()->click();
    EXPECT_EQ(pPane->GetTransportButton()->text(), QStringLiteral("Resume"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Accepted(54).size() == 1; }, 10000));
    QTest::qWait(2000);
    const auto nSimPaused = SimPlaybackFrames();
    const auto nShownPaused = pVideo->Logic().GetCounters().qwSegments;
    QTest::qWait(1000);
    EXPECT_EQ(SimPlaybackFrames(), nSimPaused);
    EXPECT_EQ(pVideo->Logic().GetCounters().qwSegments, nShownPaused);

    // Resume, then the next minute: the camera plays from 10:01:00 and the minute bar follows.
    pPane->GetTransportButton()->click();
    EXPECT_EQ(pPane->GetTransportButton()->text(), QStringLiteral("Pause"));
    pPane->GetNextMinuteButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Accepted(50).size() == 2; }, 10000));
    EXPECT_EQ(Accepted(56).size(), 1u);
    // 2024-05-01 10:01:00 UTC, from `date -u`.
    EXPECT_EQ(Accepted(50).back(), PlayBody(2, 0, 1, 1714557660));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pMinutes->GetCurrent() == 1; }, 15000));
    EXPECT_GT(SimPlaybackFrames(), nSimPaused);

    // Frame by frame: only "Next frame" is offered, and each press shows one picture more.
    pPane->GetSpeedList()->setCurrentIndex(8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Accepted(60).size() == 1; }, 10000));
    EXPECT_EQ(Accepted(60).back(), "00");
    EXPECT_EQ(pPane->GetTransportButton()->text(), QStringLiteral("Next frame"));
    QTest::qWait(300); // a picture already on its way
    const auto nShownBeforeStep = pWindow->FramesPresented();
    pPane->GetTransportButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pWindow->FramesPresented() > nShownBeforeStep; }, 10000));
    QTest::qWait(300);
    EXPECT_EQ(pWindow->FramesPresented(), nShownBeforeStep + 1);
    EXPECT_EQ(Accepted(66).size(), 1u);

    // 16 times the speed to the end: the event hour and the second day go by on the pane, and
    // the end of the card stops it with "Completed".
    pPane->GetSpeedList()->setCurrentIndex(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Accepted(60).size() == 2; }, 10000));
    EXPECT_EQ(Accepted(60).back(), "10");
    bool bSawEventHour = false;
    bool bSawSecondDay = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            bSawEventHour = bSawEventHour || pHours->GetCurrent() == 11;
            bSawSecondDay = bSawSecondDay || pPane->GetDateList()->currentIndex() == 1;
            return pPane->GetHint()->IsActive();
        },
        30000));
    EXPECT_TRUE(bSawEventHour);
    EXPECT_TRUE(bSawSecondDay);
    EXPECT_EQ(pPane->GetHint()->GetText(), QStringLiteral("Completed"));
    EXPECT_FALSE(pPane->GetHint()->IsError());
    EXPECT_EQ(pPane->GetHint()->GetAnchor(), pHours);
    EXPECT_EQ(pPane->GetTransportButton()->text(), QStringLiteral("Play"));
    EXPECT_EQ(pPane->GetDateList()->count(), 0);
    EXPECT_EQ(pPane->GetSpeedList()->currentIndex(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Accepted(52).size() == 1; }, 10000));
    EXPECT_EQ(Accepted(58), (std::vector<std::string>{"00000000", "00000000"}));

    // Leaving the playback tab ends the selection; the pane is disabled again.
    main.OnBtnReal();
    EXPECT_EQ(pManager->GetSelectDevice(), nullptr);
    EXPECT_FALSE(pPane->isEnabled());
    EXPECT_FALSE(pPane->isVisible());
}

} // namespace
