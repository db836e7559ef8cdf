// The pages against the camera simulator in the network lab: the real engines and device
// manager fill them from the camera, what is saved is read back from the simulator's own
// record, refused values never reach it, a silent camera gives up and a recorder is not polled.
#include "app/startup_engines.h"
#include "core/notify.h"
#include "device/devicemanager.h"
#include "device/devicenotifications.h"
#include "device/recordlayout.h"
#include "ui/hint.h"
#include "ui/pages/configpage.h"
#include "ui/pages/dlgalarm.h"
#include "ui/pages/dlgalarmemail.h"
#include "ui/pages/dlgapplyto.h"
#include "ui/pages/dlgcamconfigpane.h"
#include "ui/pages/dlgcamsetpane.h"
#include "ui/pages/dlgconfigmotion.h"
#include "ui/pages/dlgconfigsystem.h"
#include "ui/pages/dlgnetworkcable.h"
#include "ui/pages/dlgnetworklinks.h"
#include "ui/pages/dlgrecord.h"
#include "ui/pages/dlgrecordschedule.h"
#include "ui/pages/dlgsystemntp.h"
#include "ui/pages/pagecamera.h"
#include "ui/pages/pagequality.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

using json = nlohmann::json;

namespace {

// The main window's place on the bus: every notification of the device manager has a listener.
class CQuietSink : public INotifySink {
public:
    void NotifySink(DWORD, UINT_PTR) override {}
};

json Sim(const QStringList& args)
{
    QProcess process;
    process.start(
        QString::fromLocal8Bit(std::getenv("PAGES_SIM")),
        QStringList{QStringLiteral("--send"), QString::fromLocal8Bit(std::getenv("PAGES_SIM_CTL"))} + args);
    process.waitForFinished(5000);
    return json::parse(process.readAllStandardOutput().toStdString(), nullptr, false);
}

// The simulator's record of one camera.
json Camera(const char* pszSerial)
{
    const json answer = Sim({QStringLiteral("dump"), QString::fromLatin1(pszSerial)});
    return answer.is_object() && answer.contains("camera") ? answer["camera"] : json::object();
}

json Settings(const char* pszSerial)
{
    const json camera = Camera(pszSerial);
    return camera.contains("settings") ? camera["settings"] : json::object();
}

class LabPagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        LoadSettingsAndLanguage();
        StartEngines();
        static CQuietSink s_sink;
        for (const DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
            GetNotifyManager()->RegisterNotify(dwID, &s_sink);
        GetDeviceManager()->SearchDevices(10000);
    }

    DeviceInfo* WaitForDevice(DWORD dwID)
    {
        DeviceInfo* pDevice = nullptr;
        QTest::qWaitFor(
            [&] {
                pDevice = GetDeviceManager()->GetDevice(dwID, CAMERA_MASK_ALL);
                return pDevice != nullptr && pDevice->bIsExist;
            },
            20000);
        return pDevice;
    }
    void Select(DeviceInfo* pDevice)
    {
        GetDeviceManager()->CancelSelectDevice();
        GetDeviceManager()->SelectDevice(pDevice->GetID(), pDevice->enCameraType, PLAY_TYPE_REALTIME);
    }
    template <typename Pane> static bool AllFilled(const Pane& pane)
    {
        for (const CConfigPage* pPage : pane.GetPages()) {
            if (pPage->GetPollState() != CConfigPage::PollState::Filled)
                return false;
        }
        return true;
    }
    // The page asks again (as a new selection does) until the device manager has the group.
    template <typename Pane> static bool Fill(Pane& pane)
    {
        const bool bFilled = QTest::qWaitFor(
            [&] {
                for (CConfigPage* pPage : pane.GetPages()) {
                    if (pPage->GetPollState() == CConfigPage::PollState::Failed)
                        pPage->StartPolling();
                }
                return AllFilled(pane);
            },
            45000); // the device manager asks for a few groups per second, on a busy machine slower
        for (const CConfigPage* pPage : pane.GetPages()) {
            EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Filled)
                << pPage->metaObject()->className();
        }
        return bFilled;
    }
};

template <typename T> T* Child(QWidget* pPage, const char* pszName)
{
    T* pChild = pPage->findChild<T*>(QString::fromLatin1(pszName));
    EXPECT_NE(pChild, nullptr) << pszName;
    return pChild;
}

} // namespace

TEST_F(LabPagesTest, PagesFillFromTheCameraAndSavedValuesReachItExactly)
{
    DeviceInfo* pDevice = WaitForDevice(700);
    ASSERT_NE(pDevice, nullptr);
    Select(pDevice);
    CDlgCamConfigPane pane;
    ASSERT_TRUE(Fill(pane));
    const json before = Settings("PAGES1");
    auto* pCable = pane.FindPage<CDlgNetworkCable>();
    EXPECT_EQ(Child<QLineEdit>(pCable, "camera")->text().toInt(), before["ports"]["camera"].get<int>());
    auto* pSystem = pane.FindPage<CDlgConfigSystem>();
    EXPECT_EQ(Child<QLineEdit>(pSystem, "name")->text(), QStringLiteral("Porch"));
    // The surveyed network with its signal and channel.
    QTreeWidget* pSurvey = pane.FindPage<CDlgWifiNetwork>()->GetSurvey();
    ASSERT_EQ(pSurvey->topLevelItemCount(), 1);
    EXPECT_EQ(pSurvey->topLevelItem(0)->text(0), QStringLiteral("labnet"));
    EXPECT_EQ(pSurvey->topLevelItem(0)->text(1), QStringLiteral("72%"));
    EXPECT_EQ(pSurvey->topLevelItem(0)->text(2), QStringLiteral("6"));
    // The Wi-Fi link as the camera reports it; switched to wired, the camera's next report shows
    // it and the network is gone.
    auto* pWifi = pane.FindPage<CDlgNetworkWifiPane>();
    EXPECT_EQ(Child<QLabel>(pWifi, "link_ssid")->text(), QStringLiteral("labnet"));
    EXPECT_EQ(Child<QLabel>(pWifi, "link_speed")->text(), QStringLiteral("54.0 MBps"));
    EXPECT_EQ(Child<QLabel>(pWifi, "link_quality")->text(), QStringLiteral("Good"));
    Child<QComboBox>(pWifi, "link")->setCurrentIndex(0);
    CConfigPage::s_nConfirmAnswer = 1;
    pWifi->OnBtnSave();
    CConfigPage::s_nConfirmAnswer = -1;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return pWifi->GetPollState() == CConfigPage::PollState::Filled &&
                   Child<QLabel>(pWifi, "link_ssid")->text() == QStringLiteral("No wireless network");
        },
        5000));
    EXPECT_EQ(Child<QComboBox>(pWifi, "link")->currentIndex(), 0);
    EXPECT_EQ(Settings("PAGES1")["wifi"]["link"], "wired");

    // Refused values: nothing reaches the camera.
    const json countsBefore = Camera("PAGES1");
    Child<QLineEdit>(pCable, "camera")->setText(QStringLiteral("7998"));
    pCable->OnBtnSavePort();
    EXPECT_EQ(pCable->GetHint()->GetText(), QStringLiteral("The port range is from 3479 to 7997!"));
    auto* pSnapshot = pane.FindPage<CDlgAlarmSnapshotServer>();
    Child<QLineEdit>(pSnapshot, "count")->setText(QStringLiteral("0"));
    pSnapshot->OnBtnSave();
    EXPECT_EQ(pSnapshot->GetHint()->GetAnchor(), pSnapshot->GetKeyControl("count"));
    EXPECT_TRUE(pSnapshot->GetHint()->IsError());
    QTest::qWait(500);
    EXPECT_EQ(Camera("PAGES1")["last_set"], countsBefore["last_set"]);

    // Saved values, one page of each kind.
    Child<QLineEdit>(pCable, "camera")->setText(QStringLiteral("3479"));
    pCable->OnBtnSavePort();
    EXPECT_EQ(pCable->GetHint()->GetText(), QStringLiteral("OK"));
    Child<QCheckBox>(pSnapshot, "enable")->setChecked(true);
    Child<QLineEdit>(pSnapshot, "count")->setText(QStringLiteral("9"));
    Child<QLineEdit>(pSnapshot, "interval")->setText(QStringLiteral("45"));
    Child<QLineEdit>(pSnapshot, "server")->setText(QStringLiteral("198.18.0.2"));
    Child<QLineEdit>(pSnapshot, "port")->setText(QStringLiteral("2121"));
    pSnapshot->OnBtnSave();
    auto* pMotion = pane.FindPage<CDlgConfigMotionDetection>();
    Child<QSlider>(pMotion, "threshold")->setValue(42);
    pMotion->OnBtnSave();
    auto* pDo = pane.FindPage<CDlgAlarmTriggers>();
    Child<QCheckBox>(pDo, "area2")->setChecked(true);
    Child<QCheckBox>(pDo, "di")->setChecked(true);
    pDo->OnBtnSave();
    // Recording: options, events and a timetable painted with the mouse; the mail's server,
    // log-in and message through their dialogs, then the page's own switch and events.
    auto* pSD = pane.FindPage<CDlgConfigSDRecord>();
    for (const char* pszOption : {"record", "bootup", "event", "area1", "di", "schedule_on"})
        Child<QAbstractButton>(pSD, pszOption)->setChecked(true);
    CDlgRecordSchedule* pGrid = pSD->GetSchedule();
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(-1, 0).center());
    for (const auto& [enType, nHour, buttons] :
         {std::tuple{QEvent::MouseButtonPress, 20, Qt::MouseButtons(Qt::LeftButton)},
          {QEvent::MouseMove, 23, Qt::MouseButtons(Qt::LeftButton)},
          {QEvent::MouseButtonRelease, 23, Qt::MouseButtons(Qt::NoButton)}}) {
        const QPoint point = pGrid->CellRect(6, nHour).center();
        QMouseEvent event(enType, point, pGrid->mapToGlobal(point),
                          enType == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(pGrid, &event);
    }
    // The same week through the daily row (noon on every day) and a month's calendar
    // (Wednesday 2 December 2026, 06:00: every Wednesday).
    Child<QAbstractButton>(pSD, "daily")->click();
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(0, 12).center());
    pGrid->SetMonth(QDate(2026, 12, 1));
    Child<QAbstractButton>(pSD, "monthly")->click();
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->DateRect(2, 6).center());
    // The simulated card has no stream yet: one is chosen.
    Child<QComboBox>(pSD, "fps")->setCurrentIndex(0);
    Child<QComboBox>(pSD, "res")->setCurrentIndex(0);
    Child<QComboBox>(pSD, "bps")->setEditText(QStringLiteral("2000"));
    pSD->OnBtnSave();
    EXPECT_EQ(pSD->GetHint()->GetText(), QStringLiteral("OK"));
    auto* pMail = pane.FindPage<CDlgAlarmEmail>();
    CDlgAlarmEmailSetServer* pServer = pMail->OnBtnSetServer();
    Child<QLineEdit>(pServer, "server")->setText(QStringLiteral("smtp.lab.test"));
    Child<QLineEdit>(pServer, "sender")->setText(QStringLiteral("porch@lab.test"));
    Child<QCheckBox>(pServer, "auth")->setChecked(true);
    Child<QLineEdit>(pServer, "account")->setText(QStringLiteral("porch"));
    Child<QLineEdit>(pServer, "password")->setText(QStringLiteral("s3cret"));
    Child<QLineEdit>(pServer, "confirm")->setText(QStringLiteral("s3cret"));
    pServer->OnBtnOk();
    CDlgAlarmEmailEditEmail* pEditor = pMail->OnBtnEditEmail();
    Child<QLineEdit>(pEditor, "subject")->setText(QStringLiteral("Alarm at <NETCAMNAME>"));
    Child<QPlainTextEdit>(pEditor, "message")->setPlainText(QStringLiteral("<MOTIONDESC> for <TIME>"));
    pEditor->OnBtnOk();
    Child<QCheckBox>(pMail, "enable")->setChecked(true);
    Child<QCheckBox>(pMail, "area2")->setChecked(true);
    pMail->OnBtnSave();
    EXPECT_EQ(pMail->GetHint()->GetText(), QStringLiteral("OK"));
    Child<QCheckBox>(pSystem, "showtime")->setChecked(true);
    Child<QLineEdit>(pSystem, "name")->setText(QStringLiteral("Back porch"));
    pSystem->OnBtnSave();
    EXPECT_EQ(pSystem->GetHint()->GetText(), QStringLiteral("OK"));
    // The time from the D-server: the server list's last entry.
    auto* pNtp = pane.FindPage<CDlgSystemNTP>();
    auto* pServerList = Child<QComboBox>(pNtp, "server");
    pServerList->setCurrentIndex(pServerList->count() - 1);
    pNtp->OnBtnSave();

    json after;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            after = Settings("PAGES1");
            return after["ports"]["camera"] == 3479 && after["motion"]["threshold"] == 42 &&
                   after["time_format"] == 1 && after["ntp"]["server"] == "0" && after["ntp"]["final"] == 1;
        },
        5000))
        << after.dump();
    EXPECT_EQ(after["snapshot_server"]["enable"], (9 << 1) | 1);
    // Hours 0 and 12 on every day, 06:00 on Wednesdays; Sunday 20:00 to midnight.
    EXPECT_EQ(after["sd_record"]["schedule"], "7f" + std::string(10, '0') + "04" + std::string(10, '0') +
                                                  "7f" + std::string(14, '0') + "40404040")
        << after.dump();
    EXPECT_EQ(after["sd_record"]["three"], "010000");
    EXPECT_EQ(after["sd_record"]["three2"], "010001");
    EXPECT_EQ(after["sd_record"]["one"], 1);
    EXPECT_EQ(after["sd_record"]["four"], "01000001");
    EXPECT_EQ(after["mail"]["server1"], "smtp.lab.test");
    EXPECT_EQ(after["mail"]["sender"], "porch@lab.test");
    EXPECT_EQ(after["mail"]["byte"], 1);
    EXPECT_EQ(after["mail"]["sender2"], "porch");
    EXPECT_EQ(after["mail"]["text64"], "s3cret");
    EXPECT_EQ(after["mail"]["text128"], "Alarm at <NETCAMNAME>");
    EXPECT_EQ(after["mail"]["message"], "<MOTIONDESC> for <TIME>");
    EXPECT_EQ(after["mail"]["flags"], 0x10 | 0x02);
    EXPECT_EQ(after["snapshot_server"]["param"], 45);
    EXPECT_EQ(after["snapshot_server"]["server_ip"], "198.18.0.2");
    EXPECT_EQ(after["snapshot_server"]["server_port"], 2121);
    int nDo = 0;
    for (int i = 0; i < 4; ++i)
        nDo |= pDo->GetBox(i)->isChecked() ? 1 << i : 0;
    EXPECT_EQ(nDo & 0xA, 0xA);
    EXPECT_EQ(after["alarm_outputs"][0], nDo) << after.dump();
    const json camera = Camera("PAGES1");
    EXPECT_EQ(camera["name"], "Back porch");
    // The refusals above were judged on this record of what was set.
    EXPECT_TRUE(camera["last_set"].contains("motion")) << camera["last_set"].dump();
}

TEST_F(LabPagesTest, SilentCameraGivesUpAndRecorderIsNotPolled)
{
    DeviceInfo* pSilent = WaitForDevice(701);
    ASSERT_NE(pSilent, nullptr);
    GetDeviceManager()->CancelSelectDevice();
    Sim({QStringLiteral("offline"), QStringLiteral("PAGES2")});
    // A camera that has not answered anything yet.
    pSilent->ClearQueryBlock();
    Select(pSilent);
    CDlgCamConfigPane pane;
    auto* pMotion = pane.FindPage<CDlgConfigMotionDetection>();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return pMotion->GetPollState() == CConfigPage::PollState::Failed; }, 4000));
    EXPECT_EQ(pMotion->GetHint()->GetText(), QStringLiteral("Get Information Fail"));
    EXPECT_FALSE(pMotion->GetSaveButton()->isEnabled());

    // Apply to: the silent camera, once the client has noticed that it is gone, and a present one.
    GetDeviceManager()->CancelSelectDevice();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pSilent->bIsExist == 0; }, 90000));
    DeviceInfo* pPorch = WaitForDevice(700);
    ASSERT_NE(pPorch, nullptr);
    ASSERT_NE(WaitForDevice(702), nullptr);
    Select(pPorch);
    CDlgCamConfigPane paneApply;
    ASSERT_TRUE(Fill(paneApply));
    auto* pTime = paneApply.FindPage<CDlgAlarmTime>();
    Child<QCheckBox>(pTime, "enable")->setChecked(true);
    Child<QTimeEdit>(pTime, "start")->setTime(QTime(7, 45));
    Child<QTimeEdit>(pTime, "end")->setTime(QTime(19, 10));
    const auto vecResults = pTime->ApplyTo({701, 702});
    ASSERT_EQ(vecResults.size(), 2u);
    EXPECT_FALSE(vecResults[0].bSent);
    EXPECT_TRUE(vecResults[1].bSent);
    const unsigned uPeriod = 7u | (45u << 8) | (19u << 16) | (10u << 24);
    json shed;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            shed = Settings("PAGES3");
            return shed["alarm_time"]["enable"] == 1 && shed["alarm_time"]["period"] == uPeriod;
        },
        5000))
        << shed.dump();
    EXPECT_NE(Settings("PAGES2")["alarm_time"]["period"], uPeriod);
    // The read-back: per camera what was sent and what the camera answered when asked again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pTime->IsReadBackDone(); }, CConfigPage::READBACK_MS + 10000));
    const auto& vecBack = pTime->GetReadBack();
    ASSERT_EQ(vecBack.size(), 2u);
    EXPECT_FALSE(vecBack[0].bSent);
    EXPECT_TRUE(vecBack[1].bAnswered);
    EXPECT_EQ(vecBack[1].strSent, QStringLiteral("[x] 07:45-19:10"));
    EXPECT_EQ(vecBack[1].strAnswered, vecBack[1].strSent);
    EXPECT_EQ(pTime->GetHint()->GetText(),
              QStringLiteral("Silent: Camera Offline!\nShed: [x] 07:45-19:10 \u2192 [x] 07:45-19:10"));

    // SD recording to the Shed: the card's record there becomes the page's, hour by hour.
    auto* pSD = paneApply.FindPage<CDlgConfigSDRecord>();
    Child<QAbstractButton>(pSD, "manual")->setChecked(true);
    CDlgRecordSchedule* pGrid = pSD->GetSchedule();
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(2, 5).center());
    Child<QComboBox>(pSD, "fps")->setCurrentIndex(0);
    Child<QComboBox>(pSD, "res")->setCurrentIndex(0);
    Child<QComboBox>(pSD, "bps")->setEditText(QStringLiteral("2000"));
    BYTE abSchedule[24] = {};
    pGrid->GetSchedule(abSchedule);
    for (BYTE& by : abSchedule)
        by &= recordlayout::SCHEDULE_ALL_DAYS; // the Shed's own top bits are kept
    ASSERT_EQ(pSD->ApplyTo({702}).size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Settings("PAGES3")["sd_record"]["schedule"] == recordlayout::ScheduleHex(abSchedule); },
        5000))
        << Settings("PAGES3").dump();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pSD->IsReadBackDone(); }, CConfigPage::READBACK_MS + 10000));
    ASSERT_EQ(pSD->GetReadBack().size(), 1u);
    EXPECT_TRUE(pSD->GetReadBack()[0].bAnswered);
    EXPECT_EQ(pSD->GetReadBack()[0].strAnswered, pSD->GetReadBack()[0].strSent);
    Sim({QStringLiteral("online"), QStringLiteral("PAGES2")});

    DeviceInfo* pRecorder = WaitForDevice(800);
    ASSERT_NE(pRecorder, nullptr);
    Select(pRecorder);
    CDlgCamConfigPane paneRecorder;
    QTest::qWait(1500);
    for (const CConfigPage* pPage : paneRecorder.GetPages())
        EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Idle) << pPage->metaObject()->className();
    GetDeviceManager()->CancelSelectDevice();
}

// The camera-setting pane against a 9P031 camera: quality and sensor pages fill from what the
// camera reports, a bit rate under the standard's floor never reaches it, saved values become
// its own, and "Defaults" brings the camera's registers back into the page.
TEST_F(LabPagesTest, CameraSettingPagesReadBackFromTheCamera)
{
    DeviceInfo* pDevice = WaitForDevice(702);
    ASSERT_NE(pDevice, nullptr);
    Select(pDevice);
    CDlgCamSetPane pane;
    ASSERT_TRUE(Fill(pane));
    auto* pQuality = pane.FindPage<CDlgCamSetQuality>();
    EXPECT_EQ(Child<QComboBox>(pQuality, "fps")->currentText(), QStringLiteral("30/25"));
    EXPECT_EQ(Child<QComboBox>(pQuality, "res")->currentText(), QStringLiteral("D1/VGA"));
    EXPECT_EQ(Child<QComboBox>(pQuality, "bps")->currentText(), QStringLiteral("1000"));
    EXPECT_EQ(Child<QLabel>(pQuality, "standard")->text(), QStringLiteral("PAL"));
    auto* pSensor = pane.FindPage<CDlgCamSetCam9P031>();
    EXPECT_EQ(static_cast<QStackedWidget*>(pSensor->parentWidget())->currentWidget(), pSensor);
    EXPECT_EQ(Child<QSlider>(pSensor, "sharpness")->value(), 0x28);
    EXPECT_EQ(Child<QSlider>(pSensor, "brightness")->value(), 0x80);
    EXPECT_TRUE(Child<QCheckBox>(pSensor, "mirror")->isChecked());

    const json before = Camera("PAGES3");
    Child<QComboBox>(pQuality, "res")->setCurrentIndex(3);
    Child<QComboBox>(pQuality, "bps")->setEditText(QStringLiteral("374"));
    pQuality->OnBtnSave();
    EXPECT_EQ(pQuality->GetHint()->GetText(), QStringLiteral("The minimum BPS is 375"));
    QTest::qWait(500);
    EXPECT_EQ(Camera("PAGES3")["last_set"], before["last_set"]);

    Child<QComboBox>(pQuality, "fps")->setCurrentIndex(8);
    Child<QComboBox>(pQuality, "bps")->setEditText(QStringLiteral("2000"));
    pQuality->OnBtnSave();
    EXPECT_EQ(pQuality->GetHint()->GetText(), QStringLiteral("OK"));
    Child<QCheckBox>(pSensor, "rotate")->setChecked(true);
    Child<QSlider>(pSensor, "brightness")->setValue(200);
    pSensor->OnBtnSave();
    json after;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            after = Settings("PAGES3");
            return after["video_report"][0] == MakeSessionMode(2000, 15, 8) &&
                   after["sensor_regs"] == "0100010128c8";
        },
        5000))
        << after.dump();

    // Apply to: the values go to the Porch camera and come back in its next video report.
    ASSERT_NE(WaitForDevice(700), nullptr);
    Child<QComboBox>(pQuality, "res")->setCurrentIndex(2);
    Child<QComboBox>(pQuality, "bps")->setEditText(QStringLiteral("1500"));
    pQuality->ApplyTo({700});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return pQuality->IsReadBackDone(); }, CConfigPage::READBACK_MS + 10000));
    ASSERT_EQ(pQuality->GetReadBack().size(), 1u);
    EXPECT_TRUE(pQuality->GetReadBack()[0].bAnswered);
    EXPECT_EQ(pQuality->GetReadBack()[0].strAnswered, QStringLiteral("15/12 D1/VGA 1500"));
    EXPECT_EQ(Settings("PAGES1")["video_report"][0], MakeSessionMode(1500, 15, 7));

    // The camera's defaults come back into the page through a fresh read.
    CConfigPage::s_nConfirmAnswer = 1;
    pSensor->OnBtnDefaults();
    CConfigPage::s_nConfirmAnswer = -1;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return pSensor->GetPollState() == CConfigPage::PollState::Filled &&
                   Child<QSlider>(pSensor, "brightness")->value() == 0x80;
        },
        5000));
    EXPECT_FALSE(Child<QCheckBox>(pSensor, "rotate")->isChecked());
    EXPECT_EQ(Settings("PAGES3")["sensor_regs"], "010000012880");
    GetDeviceManager()->CancelSelectDevice();
}
