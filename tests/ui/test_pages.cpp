// The configuration pages against a device manager of chosen records: the polling rule, the
// save rule with the shared checks and their messages, and the "Apply to" list.
#include "ui_test_support.h"

#include "core/language.h"
#include "device/videoquality.h"
#include "media/video/videopanelogic.h"
#include "platform/paths.h"
#include "ui/hint.h"
#include "ui/mdpic.h"
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
#include "ui/pages/dlgsystemrtsp.h"
#include "ui/pages/pagecamera.h"
#include "ui/pages/pagecolor.h"
#include "ui/pages/pagequality.h"
#include "ui/textrelabel.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

using namespace uitest;

namespace {

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetLanguageManager()->LoadLanguage(9);
        CConfigPage::s_nConfirmAnswer = 1;
        DeviceInfo& camera = manager.Add(100, CAMERA_TYPE_SINGLE, u"Front door");
        camera.stNetParam.ucConnType = LAN_CONN_STATIC;
        camera.stNetParam.dwIP = 0xC6120005;
        camera.stNetParam.dwNetmask = 0xFFFFFF00;
        camera.stPort.usPort1 = 5000;
        camera.stMotion.bThreshold = 10;
        for (MotionRegion& region : camera.stMotion.region)
            region.bSensitivity = 89;
        camera.stSnapshotServer.ucPicCount = 5;
        camera.stSnapshotServer.usTimeInterval = 60;
        camera.stSnapshotServer.ulServerIP = 0xC6120002;
        camera.stSnapshotServer.ulServerPort = 2121;
        camera.stRecordSD.dwSessionMode = MakeSessionMode(1000, 30, 8);
        camera.stRecordSD.abSchedule[23] = 0x80; // not a day: the pages keep it
        // The camera reports NTSC: HD at 30 fps needs 1125 kbit/s at least.
        camera.stRecordNas.dwSessionMode = MakeSessionMode(2000, 30, 8);
        camera.stRecordNas.dwValueA = 1024;
        camera.stRecordNas.dwValueB = 0xC6120002;
        std::strcpy(camera.stRecordNas.szNasPath, "/rec");
        std::strcpy(camera.stRecordNas.szNasAccount, "cam");
        std::strcpy(camera.stRecordNas.szNasPassword, "pw");
        std::strcpy(camera.stMail.szServer, "smtp.lab");
        std::strcpy(camera.stMail.szSender, "cam@lab");
        std::strcpy(camera.stNtp.szNtpServer, "ntp.lab");
        camera.stQuery.bHasWifi = camera.stQuery.bHas3G = 1;
        std::strcpy(threeG.szAPN, "3gnet");
        std::strcpy(threeG.szTelNum, "*99");
        threeG.bUseDefaultDial = 1;
        wifi.stBlock.WEPKeyDefIndex = 1;
        pCamera = &camera;
    }
    void TearDown() override { CConfigPage::s_nConfirmAnswer = -1; }

    PageContext Context() { return {&manager, &commands, &bus, nullptr}; }
    // Every group the pages show has arrived.
    void AnswerAll(DeviceInfo& device)
    {
        DeviceQueryBlock& q = device.stQuery;
        q.bCmdGetTimeFormat = q.bCmdGetCameraPort = q.bCmdGetNetParam = q.bCmdGetMotion = q.bCmdGetDoInfo =
            q.bCmdGetSnapshotServer = q.bCmdGetNTP = q.bCmdGetMailInfo = q.bCmdGetAlarmTime =
                q.bCmdGetRecordSD = q.bCmdGetRecordNas = q.bCmdGetWirelessParam = q.bCmdGet3GQuery = 1;
        device.pWifiRecord = &wifi;
        device.pThreeGRecord = &threeG;
    }

    CFakeManager manager;
    CRecordingCommands commands;
    CNotifyManager bus;
    DeviceInfo* pCamera = nullptr;
    WifiRecord wifi{};
    ThreeGRecord threeG{};
};

template <typename T> T* Child(QWidget* pPage, const char* pszName)
{
    T* pChild = pPage->findChild<T*>(QString::fromLatin1(pszName));
    EXPECT_NE(pChild, nullptr) << pszName;
    return pChild;
}

// The shared checks' message for a number out of its range.
std::string RangeText(const char* pszKey, long nMin, long nMax)
{
    const CheckError error = RangeError(pszKey, nMin, nMax);
    return error.dwStringID != 0 ? FillNumbers(PageText(error.dwStringID).toStdString(), error.vecArgs)
                                 : error.strText;
}

QString HintText(const CConfigPage* pPage)
{
    return pPage->GetHint()->IsActive() ? pPage->GetHint()->GetText() : QString();
}

} // namespace

// Every page waits for its group: three ticks after the first look it is still waiting and
// disabled, the fourth gives up with the error hint; data arriving fills and enables it.
TEST_F(PagesTest, EveryPagePollsGivesUpAfterFourLooksAndFillsWhenTheGroupArrives)
{
    manager.m_pSelected = pCamera;
    commands.m_bRtspAnswers = false;
    CDlgCamConfigPane pane(Context());
    ASSERT_EQ(pane.GetPages().size(), 18u);
    for (CConfigPage* pPage : pane.GetPages()) {
        SCOPED_TRACE(pPage->metaObject()->className());
        // The password and dome pages need no camera data.
        if (dynamic_cast<CDlgSystemPassword*>(pPage) != nullptr ||
            dynamic_cast<CDlgSystemDome*>(pPage) != nullptr) {
            EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Filled);
            continue;
        }
        EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Waiting);
        EXPECT_EQ(pPage->GetWaitCount(), 1u);
        pPage->UpdateChildWindowValue();
        pPage->UpdateChildWindowValue();
        EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Waiting);
        EXPECT_FALSE(pPage->GetSaveButton()->isEnabled());
        pPage->UpdateChildWindowValue();
        EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Failed);
        EXPECT_EQ(pPage->GetHint()->GetText(), dynamic_cast<CDlgSystemNTP*>(pPage) != nullptr
                                                   ? QStringLiteral("Failed to get the camera's time!")
                                                   : QStringLiteral("Get Information Fail"));
        EXPECT_TRUE(pPage->GetHint()->IsError());
        // The pane is not shown: the hint is kept, not popped up over the rest of the window.
        EXPECT_FALSE(pPage->GetHint()->isVisible());
    }
    // Nothing the camera has not said shows as if it had.
    EXPECT_TRUE(Child<QComboBox>(pane.FindPage<CDlgNetworkCable>(), "mask")->currentText().isEmpty());
    // Selecting again restarts the count; now the data is there.
    AnswerAll(*pCamera);
    commands.m_bRtspAnswers = true;
    bus.Notify(DWORD_NOTIFYID_CAMERA_SELECT_REALTIME, reinterpret_cast<UINT_PTR>(pCamera));
    for (CConfigPage* pPage : pane.GetPages()) {
        SCOPED_TRACE(pPage->metaObject()->className());
        EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Filled);
        EXPECT_TRUE(pPage->GetSaveButton()->isEnabled());
    }
    EXPECT_EQ(Child<QLineEdit>(pane.FindPage<CDlgNetworkCable>(), "ip")->text(),
              QStringLiteral("198.18.0.5"));
    EXPECT_EQ(Child<QLineEdit>(pane.FindPage<CDlgNetworkCable>(), "camera")->text(), QStringLiteral("5000"));
    EXPECT_FALSE(Child<QComboBox>(pane.FindPage<CDlgNetworkCable>(), "mask")->currentText().isEmpty());
    EXPECT_EQ(Child<QLineEdit>(pane.FindPage<CDlgConfigSystem>(), "name")->text(),
              QStringLiteral("Front door"));
    EXPECT_EQ(Child<QLineEdit>(pane.FindPage<CDlgAlarmSnapshotServer>(), "server")->text(),
              QStringLiteral("198.18.0.2"));
    EXPECT_TRUE(commands.m_vecSent.empty());
}

// The real timer: a silent camera ends in the error hint on its own, a cancelled selection
// stops the waiting, and a recorder is never polled.
TEST_F(PagesTest, TimerGivesUpOnASilentCameraAndARecorderIsNeverPolled)
{
    manager.m_pSelected = pCamera;
    CDlgCamConfigPane pane(Context());
    pane.show();
    auto* pMotion = pane.FindPage<CDlgConfigMotionDetection>();
    auto* pCable = pane.FindPage<CDlgNetworkCable>();
    // No camera chosen: every page is empty rather than the last camera's values greyed out.
    manager.m_pSelected = nullptr;
    bus.Notify(DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_REALTIME, reinterpret_cast<UINT_PTR>(pCamera));
    EXPECT_EQ(pCable->GetPollState(), CConfigPage::PollState::Idle);
    auto fnShowsControls = [&] {
        return std::any_of(pane.GetPages().begin(), pane.GetPages().end(), [](CConfigPage* p) {
            return p->GetSaveButton() != nullptr && p->GetSaveButton()->isVisibleTo(p);
        });
    };
    EXPECT_FALSE(fnShowsControls());
    manager.m_pSelected = pCamera;
    bus.Notify(DWORD_NOTIFYID_CAMERA_SELECT_REALTIME, reinterpret_cast<UINT_PTR>(pCamera));
    EXPECT_TRUE(fnShowsControls());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return pMotion->GetPollState() == CConfigPage::PollState::Failed; }, 5000));
    EXPECT_EQ(pMotion->GetWaitCount(), CConfigPage::POLL_GIVE_UP);
    EXPECT_EQ(HintText(pMotion), QStringLiteral("Get Information Fail"));
    // Only the page in sight pops its hint up; the others keep theirs.
    int nShown = 0;
    for (CConfigPage* pPage : pane.GetPages()) {
        if (pPage->GetPollState() == CConfigPage::PollState::Failed) {
            EXPECT_EQ(pPage->GetHint()->isVisible(), pPage->isVisible()) << pPage->metaObject()->className();
            nShown += pPage->GetHint()->isVisible() ? 1 : 0;
        }
    }
    EXPECT_EQ(nShown, 1);

    DeviceInfo& recorder = manager.Add(200, CAMERA_TYPE_PARENT, u"Recorder");
    manager.m_pSelected = &recorder;
    CDlgCamConfigPane paneRecorder(Context());
    bus.Notify(DWORD_NOTIFYID_CAMERA_SELECT_REALTIME, reinterpret_cast<UINT_PTR>(&recorder));
    QTest::qWait(CConfigPage::POLL_INTERVAL_MS * 2);
    for (CConfigPage* pPage : paneRecorder.GetPages()) {
        EXPECT_EQ(pPage->GetPollState(), CConfigPage::PollState::Idle);
        EXPECT_EQ(pPage->GetWaitCount(), 0u);
    }
}

namespace {

struct SaveCase {
    const char* pszName;
    std::function<CConfigPage*(CDlgCamConfigPane&)> fnPage;
    std::function<void(CConfigPage*)> fnEdit;
    // Refused: the message at the control named; accepted: the command line and the hint.
    const char* pszControl;
    std::string strHint;
    std::string strSent; // empty: nothing
    // Instead of the page's save (a dialog's OK, a second button).
    std::function<void(CConfigPage*)> fnSave = nullptr;
};

template <typename Page> std::function<CConfigPage*(CDlgCamConfigPane&)> PageOf()
{
    return [](CDlgCamConfigPane& pane) { return pane.FindPage<Page>(); };
}

std::function<void(CConfigPage*)> SetEdit(const char* pszName, const char* pszText)
{
    return [=](CConfigPage* pPage) { Child<QLineEdit>(pPage, pszName)->setText(QString::fromUtf8(pszText)); };
}

std::function<void(CConfigPage*)> SetCombo(const char* pszName, int nIndex)
{
    return [=](CConfigPage* pPage) { Child<QComboBox>(pPage, pszName)->setCurrentIndex(nIndex); };
}

std::function<void(CConfigPage*)> SetComboText(const char* pszName, const char* pszText)
{
    return [=](CConfigPage* pPage) {
        Child<QComboBox>(pPage, pszName)->setEditText(QString::fromUtf8(pszText));
    };
}

std::function<void(CConfigPage*)> Check(const char* pszName)
{
    return [=](CConfigPage* pPage) { Child<QAbstractButton>(pPage, pszName)->setChecked(true); };
}

std::function<void(CConfigPage*)> Both(std::function<void(CConfigPage*)> a,
                                       std::function<void(CConfigPage*)> b)
{
    return [=](CConfigPage* pPage) {
        a(pPage);
        b(pPage);
    };
}

void PortSave(CConfigPage* pPage)
{
    static_cast<CDlgNetworkCable*>(pPage)->OnBtnSavePort();
}

// The mail dialogs filled in and confirmed: edits by name, check boxes by "name=on|off".
std::function<void(CConfigPage*)> MailDialog(bool bServer,
                                             std::vector<std::pair<const char*, const char*>> vecFields)
{
    return [=](CConfigPage* p) {
        auto* pPage = static_cast<CDlgAlarmEmail*>(p);
        QDialog* pDialog = bServer ? static_cast<QDialog*>(pPage->OnBtnSetServer())
                                   : static_cast<QDialog*>(pPage->OnBtnEditEmail());
        for (const auto& [pszName, pszText] : vecFields) {
            QWidget* pControl = pDialog->findChild<QWidget*>(QString::fromLatin1(pszName));
            ASSERT_NE(pControl, nullptr) << pszName;
            if (auto* pBox = qobject_cast<QCheckBox*>(pControl))
                pBox->setChecked(std::string(pszText) == "on");
            else if (auto* pEdit = qobject_cast<QLineEdit*>(pControl))
                pEdit->setText(QString::fromUtf8(pszText));
            else if (auto* pBody = qobject_cast<QPlainTextEdit*>(pControl)) {
                pBody->setPlainText(QString::fromUtf8(pszText));
                pBody->moveCursor(QTextCursor::End);
                // A placeholder button writes at the cursor of the edit that had the focus last.
                if (*pszText != 0)
                    pDialog->findChild<QPushButton*>(QStringLiteral("<NETCAMNAME>"))->click();
            }
        }
        pDialog->findChild<QPushButton*>(QStringLiteral("ok"))->click();
        // Refused: the dialog stays open with the message at its control.
        EXPECT_EQ(pDialog->isVisible(), pPage->GetHint()->IsError());
    };
}

void SendMouse(QWidget* pWidget, QEvent::Type enType, const QPoint& point, Qt::MouseButton enButton,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(enType, point, pWidget->mapToGlobal(point), enButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(pWidget, &event);
}

// The timetable painted as a user would: a drag along Monday from 08:00 to 11:00, a click on
// the 22:00 header (every day), then the keys: down to Tuesday 11:00, Space, Shift+Right.
void PaintSchedule(CConfigPage* pPage)
{
    CDlgRecordSchedule* pGrid = static_cast<CDlgRecordBase*>(pPage)->GetSchedule();
    SendMouse(pGrid, QEvent::MouseButtonPress, pGrid->CellRect(0, 8).center(), Qt::LeftButton,
              Qt::LeftButton);
    // One move over three cells: a fast drag paints the cells it jumped over too.
    SendMouse(pGrid, QEvent::MouseMove, pGrid->CellRect(0, 11).center(), Qt::NoButton, Qt::LeftButton);
    SendMouse(pGrid, QEvent::MouseButtonRelease, pGrid->CellRect(0, 11).center(), Qt::LeftButton,
              Qt::NoButton);
    // Moving without the button paints nothing.
    SendMouse(pGrid, QEvent::MouseMove, pGrid->CellRect(3, 3).center(), Qt::NoButton, Qt::NoButton);
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(-1, 22).center());
    QTest::keyClick(pGrid, Qt::Key_Down);
    QTest::keyClick(pGrid, Qt::Key_Space);
    QTest::keyClick(pGrid, Qt::Key_Right, Qt::ShiftModifier);
    Child<QAbstractButton>(pPage, "schedule_on")->setChecked(true);
}

void Drag(QWidget* pWidget, const QPoint& from, const QPoint& to)
{
    SendMouse(pWidget, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pWidget, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    SendMouse(pWidget, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

// The daily row: Monday 09:00 set in the week shows hatched (some days only) and one click
// makes it every day's; a drag over 13:00-15:00, the 22:00 header on and off again.
void PaintDaily(CConfigPage* pPage)
{
    CDlgRecordSchedule* pGrid = static_cast<CDlgRecordBase*>(pPage)->GetSchedule();
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(0, 9).center());
    Child<QAbstractButton>(pPage, "daily")->click();
    EXPECT_FALSE(pGrid->IsOn(CDlgRecordSchedule::EVERY_DAY, 9));
    EXPECT_TRUE(Child<QLabel>(pPage, "schedule_note")->text().contains(QStringLiteral("every day")));
    const QRect row = pGrid->CellRect(0, 9);
    // The row ends at the daily one: a click below it paints nothing.
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, row.center() + QPoint(0, row.height()));
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, row.center());
    Drag(pGrid, pGrid->CellRect(0, 13).center(), pGrid->CellRect(0, 15).center());
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(-1, 22).center());
}

// December 2026 begins on a Tuesday. Monday the 7th at 08:00 shows on every Monday of the month;
// Saturday the 12th 20:00-23:00 by a drag over its bars; the 25th's date marks every Friday.
void PaintMonthly(CConfigPage* pPage)
{
    CDlgRecordSchedule* pGrid = static_cast<CDlgRecordBase*>(pPage)->GetSchedule();
    pGrid->SetMonth(QDate(2026, 12, 17));
    Child<QAbstractButton>(pPage, "monthly")->click();
    EXPECT_TRUE(Child<QLabel>(pPage, "schedule_note")->text().contains(QStringLiteral("(2026-12)")));
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->DateRect(7, 8).center());
    // What a date shows, painted by a grid of its own (the pane is not shown, so its layout
    // squeezes the page's grid).
    CDlgRecordSchedule view(nullptr);
    BYTE abSchedule[24] = {};
    pGrid->GetSchedule(abSchedule);
    view.SetSchedule(abSchedule);
    view.SetMonth(pGrid->GetMonth());
    view.SetKind(CDlgRecordSchedule::Kind::Monthly);
    view.resize(view.sizeHint());
    const QImage image = view.grab().toImage();
    const QColor on = view.palette().color(QPalette::Highlight);
    for (const auto& [nDate, bOn] : {std::pair{7, true}, {14, true}, {28, true}, {8, false}, {21, true}})
        EXPECT_EQ(image.pixelColor(view.DateRect(nDate, 8).center()) == on, bOn) << nDate;
    Drag(pGrid, pGrid->DateRect(12, 20).center(), pGrid->DateRect(12, 23).center());
    QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->DateRect(25, -1).center());
    Child<QAbstractButton>(pPage, "weekly")->click();
}

// The hours of a timetable as the recording command lists them: "hh:xx" for each set byte.
std::string ScheduleBytes(const std::map<int, int>& mapHours)
{
    std::string strOut;
    for (const auto& [nHour, nByte] : mapHours)
        strOut += (strOut.empty() ? "" : " ") + QString::asprintf("%02d:%02x", nHour, nByte).toStdString();
    return strOut;
}

} // namespace

// 48 characters, 64 bytes: more than the camera's key field holds.
constexpr char kLongKey[] = "kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk"
                            "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
                            "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9";

// Each check refuses with its message at its control and sends nothing; a good value is sent
// once, written back into the record, and confirmed with the page's success hint.
TEST_F(PagesTest, SaveRunsTheChecksThenSendsOneCommandWithTheSuccessHint)
{
    const std::string strDevice = std::to_string(pCamera->GetID());
    const SaveCase aCases[] = {
        {"port below", PageOf<CDlgNetworkCable>(), SetEdit("camera", "3478"), "camera",
         "The port range is from 3479 to 7997!", ""},
        {"port above", PageOf<CDlgNetworkCable>(), SetEdit("camera", "7998"), "camera",
         "The port range is from 3479 to 7997!", ""},
        {"port lowest", PageOf<CDlgNetworkCable>(), SetEdit("camera", "3479"), nullptr, "OK",
         "CameraPort 100 3479"},
        {"port highest", PageOf<CDlgNetworkCable>(), SetEdit("camera", "7997"), nullptr, "OK",
         "CameraPort 100 7997"},
        {"port random", PageOf<CDlgNetworkCable>(),
         [](CConfigPage* p) { p->findChildren<QCheckBox*>().front()->setChecked(true); }, nullptr, "OK",
         "CameraPort 100 0"},
        {"address", PageOf<CDlgNetworkCable>(), SetEdit("ip", "198.18.0.256"), "ip", "Invalid IP address!",
         ""},
        {"gateway", PageOf<CDlgNetworkCable>(), SetEdit("gateway", "198.18.0"), "gateway",
         "Invalid IP address!", ""},
        {"address saved", PageOf<CDlgNetworkCable>(), SetEdit("ip", "198.18.0.9"), nullptr, "Saved.",
         "SetNetParam 0 SER100 3 3323068425 4294967040"},
        {"pppoe passwords", PageOf<CDlgNetworkCable>(),
         Both([](CConfigPage* p) { p->findChildren<QRadioButton*>().front()->setChecked(true); },
              Both(SetEdit("pppoe_password", "abc"), SetEdit("pppoe_confirm", "abd"))),
         "pppoe_confirm", "The passwords do not match", ""},
        {"name with space", PageOf<CDlgConfigSystem>(), SetEdit("name", " Lobby"), nullptr, "Nothing was changed.",
         ""},
        {"name", PageOf<CDlgConfigSystem>(), SetEdit("name", "Lobby"), nullptr, "OK", "SetName 100 Lobby"},
        {"dserver", PageOf<CDlgConfigSystem>(), SetCombo("dserver", 1), nullptr, "OK", "DServer 100 0"},
        {"old password", PageOf<CDlgSystemPassword>(), Both(SetEdit("old", "x"), SetEdit("new", "n")), "old",
         "Password is not correct!", ""},
        {"confirm password", PageOf<CDlgSystemPassword>(),
         Both(SetEdit("new", "n1"), SetEdit("confirm", "n2")), "confirm", "The passwords do not match", ""},
        {"password", PageOf<CDlgSystemPassword>(), Both(SetEdit("new", "n1"), SetEdit("confirm", "n1")),
         nullptr, "OK", "SetPassword 100 n1",
         [](CConfigPage* p) {
             p->OnBtnSave();
             // Once sent, no password stays on screen.
             for (const char* pszKey : {"old", "new", "confirm"})
                 EXPECT_TRUE(Child<QLineEdit>(p, pszKey)->text().isEmpty()) << pszKey;
         }},
        {"no photos", PageOf<CDlgAlarmSnapshotServer>(), SetEdit("count", "0"), "count",
         RangeText("count", 1, 127), ""},
        {"interval", PageOf<CDlgAlarmSnapshotServer>(), SetEdit("interval", "65536"), "interval",
         RangeText("interval", 1, 65535), ""},
        {"server", PageOf<CDlgAlarmSnapshotServer>(),
         Both([](CConfigPage* p) { Child<QCheckBox>(p, "enable")->setChecked(true); },
              SetEdit("server", "255.255.255.255")),
         "server", "Invalid IP address!", ""},
        {"snapshot", PageOf<CDlgAlarmSnapshotServer>(), SetEdit("count", "127"), nullptr, "OK",
         "Snapshot 100 254 0 60 3323068418 2121"},
        {"do", PageOf<CDlgAlarmTriggers>(),
         [](CConfigPage* p) { Child<QCheckBox>(p, "di")->setChecked(true); }, nullptr, "OK",
         "SetDo 100 0001/0000"},
        {"wifi ssid", PageOf<CDlgWifiNetwork>(), SetComboText("ssid", ""), "ssid", "Failed", ""},
        {"wifi key too long", PageOf<CDlgWifiNetwork>(),
         Both(SetComboText("ssid", "labnet"), SetEdit("key", kLongKey)),
         "key", "At most 63 bytes!", ""},
        {"wifi channel", PageOf<CDlgWifiNetwork>(), Both(SetCombo("type", 1), SetCombo("channel", -1)), "channel",
         "Failed", ""},
        {"wifi", PageOf<CDlgWifiNetwork>(),
         Both(SetCombo("type", 1), Both(SetCombo("channel", 0), SetComboText("ssid", "labnet"))), nullptr,
         "Saved.", "WifiSet 0 labnet 1 1 k0"},
        // The camera sends with its second key; the user picks the fourth.
        {"wifi transmit key", PageOf<CDlgWifiNetwork>(),
         Both(SetComboText("ssid", "labnet"),
              [](CConfigPage* p) {
                  EXPECT_EQ(Child<QComboBox>(p, "txkey")->currentText(), QStringLiteral("2"));
                  Child<QComboBox>(p, "txkey")->setCurrentIndex(3);
              }),
         nullptr, "Saved.", "WifiSet 0 labnet 0 0 k3"},
        {"web auth address", PageOf<CDlgWifiWebAuth>(), SetEdit("ac_ip", "255.255.255.255"), "ac_ip",
         "Invalid IP address!", ""},
        {"web auth", PageOf<CDlgWifiWebAuth>(),
         Both(SetEdit("ac_ip", "198.18.0.3"),
              Both(SetEdit("ac_name", "portal-with-a-long-name"), SetEdit("password", "secret-pw-too-long"))),
         nullptr, "Saved.", "WifiSet 0  0 0 k1 ac 3323068419 portal-with-a-long-n  secret-pw-"},
        {"3g apn", PageOf<CDlgNetworkWire3G>(), Both(Check("dial"), SetEdit("apn", "")), "apn", "Invalid value!", ""},
        {"3g", PageOf<CDlgNetworkWire3G>(), Both(Check("dial"), SetEdit("tel", "*99#")), nullptr, "Saved.",
         "3GSet 0 SER100 0 3gnet *99# link 0"},
        // The camera reports NTSC: HD at 30 fps has the NTSC floor, not the PAL one (375).
        {"sd bps low", PageOf<CDlgConfigSDRecord>(), SetComboText("bps", "1124"), "bps",
         "The minimum BPS is 1125", ""},
        {"nas bps low", PageOf<CDlgConfigNASRecord>(), SetComboText("bps", "1000"), "bps",
         "The minimum BPS is 1125", ""},
        {"sd bps high", PageOf<CDlgConfigSDRecord>(), SetComboText("bps", "10001"), "bps",
         "The maximal BPS is 10000!", ""},
        {"sd no fps", PageOf<CDlgConfigSDRecord>(), SetCombo("fps", -1), "fps", "Invalid value!", ""},
        {"sd", PageOf<CDlgConfigSDRecord>(), SetComboText("bps", "2000"), nullptr, "OK",
         "SetRecordSD 100 131087392 00000000000 23:80"},
        {"sd options and timetable", PageOf<CDlgConfigSDRecord>(),
         Both(Both(Check("record"), Check("audio")), Both(Check("event"), Both(Check("area2"), PaintSchedule))),
         nullptr, "OK", "SetRecordSD 100 131087392 11000110100 08:01 09:01 10:01 11:03 12:02 22:7f 23:80"},
        {"sd back to normal", PageOf<CDlgConfigSDRecord>(),
         Both(Check("not_event"), [](CConfigPage* p) {
             // The events stay as they were but cannot be changed while recording all the time.
             EXPECT_FALSE(Child<QCheckBox>(p, "area2")->isEnabled());
             EXPECT_TRUE(Child<QCheckBox>(p, "area2")->isChecked());
             // The whole week, twice: on, then off again (bit 7 is not the page's).
             auto* pGrid = static_cast<CDlgRecordBase*>(p)->GetSchedule();
             QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(-1, -1).center());
             QTest::mouseClick(pGrid, Qt::LeftButton, Qt::NoModifier, pGrid->CellRect(-1, -1).center());
         }),
         nullptr, "OK", "SetRecordSD 100 131087392 11000100100 23:80"},
        {"sd daily timetable", PageOf<CDlgConfigSDRecord>(), PaintDaily, nullptr, "OK",
         "SetRecordSD 100 131087392 11000100100 09:7f 13:7f 14:7f 15:7f 23:80"},
        {"sd monthly timetable", PageOf<CDlgConfigSDRecord>(), PaintMonthly, nullptr, "OK",
         "SetRecordSD 100 131087392 11000100100 " + [] {
             std::map<int, int> mapHours;
             for (int h = 0; h < 24; ++h)
                 mapHours[h] = 0x10; // every Friday
             for (int h : {9, 13, 14, 15})
                 mapHours[h] = 0x7f;
             mapHours[8] |= 0x01;
             for (int h : {20, 21, 22, 23})
                 mapHours[h] |= 0x20;
             mapHours[23] |= 0x80;
             return ScheduleBytes(mapHours);
         }()},
        {"nas size", PageOf<CDlgConfigNASRecord>(), SetEdit("size", "0"), "size", "Invalid", ""},
        {"nas address", PageOf<CDlgConfigNASRecord>(), SetEdit("ip", "0.0.0.0"), "ip", "Invalid IP", ""},
        {"nas path", PageOf<CDlgConfigNASRecord>(), SetEdit("path", ""), "path", "Invalid path", ""},
        {"nas account", PageOf<CDlgConfigNASRecord>(), SetEdit("account", ""), "account", "Select an account",
         ""},
        {"nas passwords", PageOf<CDlgConfigNASRecord>(), SetEdit("confirm", "px"), "confirm",
         "Password error", ""},
        {"nas", PageOf<CDlgConfigNASRecord>(), SetEdit("path", "/cam1"), nullptr, "OK",
         "SetRecordNas 100 131087392 1024 3323068418 /cam1 cam pw"},
        {"dst mode", PageOf<CDlgSystemNTP>(), Check("dst"), "dst", "Select DST mode!", ""},
        {"dst time", PageOf<CDlgSystemNTP>(),
         Both(Check("dst"),
              [](CConfigPage* p) { p->findChildren<QRadioButton*>().front()->setChecked(true); }),
         "dst_start", "Select the duration of DST!", ""},
        {"ntp", PageOf<CDlgSystemNTP>(),
         Both(Both(Check("dst"),
                   [](CConfigPage* p) { p->findChildren<QRadioButton*>().back()->setChecked(true); }),
              [](CConfigPage* p) {
                  // From the last Sunday of March, 2 o'clock, to the last Sunday of October, 3 o'clock.
                  for (const auto& [pszRow, nMonth, nHour] :
                       {std::tuple{"dst_start", 2, 2}, {"dst_end", 9, 3}}) {
                      const std::string strRow = pszRow;
                      Child<QComboBox>(p, (strRow + "_ordinal").c_str())->setCurrentIndex(3);
                      Child<QComboBox>(p, (strRow + "_weekday").c_str())->setCurrentIndex(6);
                      Child<QComboBox>(p, (strRow + "_month2").c_str())->setCurrentIndex(nMonth);
                      Child<QComboBox>(p, (strRow + "_hour2").c_str())->setCurrentIndex(nHour);
                  }
                  auto* pZone = Child<QComboBox>(p, "zone");
                  pZone->setCurrentIndex(pZone->findData(330));
              }),
         nullptr, "OK",
         "SetNTP 100 0 330 ntp.lab 2 0 0 " + std::to_string(MakeDstWeekdayWord(3, true, 1, 7, 2)) + " " +
             std::to_string(MakeDstWeekdayWord(10, true, 1, 7, 3)) + " f0",
         // Read back at once; "OK" once the camera's answer holds what was sent.
         [this](CConfigPage* p) {
             commands.m_vecAsked.clear();
             p->OnBtnSave();
             EXPECT_EQ(commands.m_vecAsked, std::vector<std::string>{"GetNTP 100"});
             EXPECT_FALSE(HintText(p) == QStringLiteral("OK"));
             pCamera->stQuery.bCmdGetNTP = 1;
             p->UpdateChildWindowValue();
         }},
        // The server list's last entry sends no name ("0") with the final byte 1, and a camera
        // that holds it shows that entry again.
        {"ntp from the D-server", PageOf<CDlgSystemNTP>(),
         [](CConfigPage* p) {
             auto* pServer = Child<QComboBox>(p, "server");
             pServer->setCurrentIndex(pServer->count() - 1);
         },
         nullptr, "OK",
         "SetNTP 100 0 330 0 2 0 0 " + std::to_string(MakeDstWeekdayWord(3, true, 1, 7, 2)) + " " +
             std::to_string(MakeDstWeekdayWord(10, true, 1, 7, 3)) + " f1",
         [this](CConfigPage* p) {
             p->OnBtnSave();
             pCamera->stQuery.bCmdGetNTP = 1;
             p->UpdateChildWindowValue();
             EXPECT_EQ(Child<QComboBox>(p, "server")->currentText(),
                       QStringLiteral("Synchronize with the D-server"));
         }},
        {"mail server", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, "server", "Select a server", "",
         MailDialog(true, {{"server", ""}})},
        {"mail sender", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, "sender", "Invalid content", "",
         MailDialog(true, {{"sender", "camlab"}})},
        {"mail account", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, "account", "Invalid account name", "",
         MailDialog(true, {{"auth", "on"}, {"account", ""}, {"password", "pw"}, {"confirm", "pw"}})},
        {"mail password", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, "password", "Invalid password", "",
         MailDialog(true, {{"auth", "on"}, {"account", "cam"}})},
        {"mail confirm", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, "confirm", "Password error", "",
         MailDialog(true, {{"auth", "on"}, {"account", "cam"}, {"password", "pw1"}, {"confirm", "pw2"}})},
        {"mail server saved", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, nullptr, "OK",
         "SetMail 100 smtp2.lab cam@lab 0 0/0000 auth=1 cam:pw {} []",
         MailDialog(true, {{"server", "smtp2.lab"}, {"auth", "on"}, {"account", "cam"}, {"password", "pw"},
                           {"confirm", "pw"}})},
        {"mail log-in kept without authentication", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, nullptr, "OK",
         "SetMail 100 smtp2.lab cam@lab 0 0/0000 auth=0 cam:pw {} []",
         MailDialog(true, {{"auth", "off"}, {"account", ""}})},
        {"mail no content", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, "subject", "No content included", "",
         MailDialog(false, {{"subject", ""}, {"message", ""}})},
        {"mail message", PageOf<CDlgAlarmEmail>(), [](CConfigPage*) {}, nullptr, "OK",
         "SetMail 100 smtp2.lab cam@lab 0 0/0000 auth=0 cam:pw {Alarm} [At <TIME>: <NETCAMNAME>]",
         MailDialog(false, {{"subject", "Alarm"}, {"message", "At <TIME>: "}})},
        {"mail", PageOf<CDlgAlarmEmail>(),
         [](CConfigPage* p) {
             auto* pMail = static_cast<CDlgAlarmEmail*>(p);
             EXPECT_TRUE(pMail->AddRecipient(QStringLiteral("a@lab")));
             EXPECT_TRUE(pMail->AddRecipient(QStringLiteral("b@lab")));
             Child<QCheckBox>(p, "enable")->setChecked(true);
             Child<QCheckBox>(p, "area3")->setChecked(true);
             // What the dialogs saved shows on the page.
             EXPECT_EQ(Child<QLabel>(p, "subject_summary")->text(), QStringLiteral("Alarm"));
         },
         nullptr, "OK",
         "SetMail 100 smtp2.lab cam@lab 2 a@lab b@lab 1/0010 auth=0 cam:pw {Alarm} [At <TIME>: <NETCAMNAME>]"},
        {"alarm time", PageOf<CDlgAlarmTime>(),
         Both(Check("enable"),
              [](CConfigPage* p) {
                  Child<QTimeEdit>(p, "start")->setTime(QTime(8, 30));
                  Child<QTimeEdit>(p, "end")->setTime(QTime(18, 5));
              }),
         nullptr, "OK", "AlarmTime 100 1 " + std::to_string(8 | (30 << 8) | (18 << 16) | (5 << 24))},
        // Each message comes from the language's table.
        {"motion corners reversed", PageOf<CDlgConfigMotionDetection>(),
         [](CConfigPage* p) {
             Child<QSpinBox>(p, "coord0")->setValue(60);
             Child<QSpinBox>(p, "coord2")->setValue(20);
             Child<QSpinBox>(p, "coord2")->editingFinished();
         },
         "area1_rect", "The top left corner must lie above and left of the bottom right corner!", ""},
        {"ntp server too long", PageOf<CDlgSystemNTP>(),
         SetComboText("server", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
                                "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"),
         "server", "At most 32 bytes!", ""},
        {"motion", PageOf<CDlgConfigMotionDetection>(),
         [](CConfigPage* p) { Child<QCheckBox>(p, "enable")->setChecked(true); }, nullptr, "OK",
         "SetMotion 100 10 1:0,0,0,0/89 0:0,0,0,0/89 0:0,0,0,0/89"},
    };
    for (const SaveCase& c : aCases) {
        SCOPED_TRACE(c.pszName);
        AnswerAll(*pCamera);
        manager.m_pSelected = pCamera;
        CDlgCamConfigPane pane(Context());
        CConfigPage* pPage = c.fnPage(pane);
        ASSERT_NE(pPage, nullptr);
        ASSERT_EQ(pPage->GetPollState(), CConfigPage::PollState::Filled);
        commands.m_vecSent.clear();
        c.fnEdit(pPage);
        if (c.fnSave)
            c.fnSave(pPage);
        else if (std::string(c.pszName).rfind("port", 0) == 0)
            PortSave(pPage);
        else
            pPage->OnBtnSave();
        EXPECT_EQ(HintText(pPage).toStdString(), c.strHint);
        if (c.pszControl != nullptr) {
            EXPECT_TRUE(pPage->GetHint()->IsError());
            EXPECT_EQ(pPage->GetHint()->GetAnchor(), pPage->GetKeyControl(c.pszControl));
            EXPECT_TRUE(commands.m_vecSent.empty());
        } else {
            EXPECT_FALSE(pPage->GetHint()->IsError());
            if (!c.strSent.empty()) {
                EXPECT_EQ(commands.m_vecSent, std::vector<std::string>{c.strSent});
            } else {
                EXPECT_TRUE(commands.m_vecSent.empty());
            }
        }
    }
    // What was sent is what the record now holds.
    EXPECT_EQ(pCamera->stNetParam.dwIP, 0xC6120009u);
    EXPECT_EQ(pCamera->stPort.usPort1, 0);
    EXPECT_EQ(pCamera->stSnapshotServer.ucPicCount, 127);
    EXPECT_EQ(pCamera->stDo.abDo[3], 1);
    EXPECT_EQ(pCamera->stMotion.region[0].bEnable, 1);
    EXPECT_EQ(pCamera->stNtp.nTimeZone, 330);
    EXPECT_EQ(pCamera->stMail.nRecipients, 2);

    // The wired page's app and mobile ports as the camera reports them, and its port mapping
    // switched with the port.
    {
        AnswerAll(*pCamera);
        pCamera->stPort = {0, 5000, 5001, 5002};
        pCamera->stQuery.bCmdGetUpnpStatus = 1;
        pCamera->stUpnp.abValue[0] = 0;
        CDlgCamConfigPane pane(Context());
        auto* pCable = pane.FindPage<CDlgNetworkCable>();
        EXPECT_EQ(Child<QLabel>(pCable, "app_port")->text(), QStringLiteral("5001"));
        EXPECT_EQ(Child<QLabel>(pCable, "mobile_port")->text(), QStringLiteral("5002"));
        auto* pUpnp = Child<QCheckBox>(pCable, "upnp");
        EXPECT_FALSE(pUpnp->isChecked());
        pUpnp->setChecked(true);
        commands.m_vecSent.clear();
        PortSave(pCable);
        EXPECT_EQ(commands.m_vecSent, (std::vector<std::string>{"CameraPort 100 5000", "Upnp 100 1"}));
    }

    // The time page's read-back: a camera that holds something else, and one that does not answer.
    for (const bool bAnswers : {true, false}) {
        AnswerAll(*pCamera);
        CDlgCamConfigPane pane(Context());
        auto* pTime = pane.FindPage<CDlgSystemNTP>();
        pTime->OnBtnSave();
        if (bAnswers) {
            pCamera->stNtp.nTimeZone = 60;
            pCamera->stQuery.bCmdGetNTP = 1;
        }
        for (DWORD i = 1; i < CConfigPage::POLL_GIVE_UP; ++i)
            pTime->UpdateChildWindowValue();
        EXPECT_EQ(HintText(pTime), bAnswers ? QStringLiteral("Setup failed")
                                            : QStringLiteral("Failed to get the camera's time!"));
        EXPECT_TRUE(pTime->GetHint()->IsError());
    }
}

// The recipient list holds five; the sixth is refused at the list.
TEST_F(PagesTest, MailboxHoldsFiveRecipients)
{
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    CDlgCamConfigPane pane(Context());
    auto* pMail = pane.FindPage<CDlgAlarmEmail>();
    for (int i = 0; i < MAIL_MAX_RECIPIENTS; ++i)
        EXPECT_TRUE(pMail->AddRecipient(QStringLiteral("r%1@lab").arg(i)));
    EXPECT_FALSE(pMail->AddRecipient(QStringLiteral("r6@lab")));
    EXPECT_EQ(HintText(pMail), QStringLiteral("Mailbox full"));
    EXPECT_EQ(pMail->GetRecipients()->count(), MAIL_MAX_RECIPIENTS);

    // "Edit" edits the address where it stands: a save meanwhile, or Escape, keeps it.
    auto fnSentRecipients = [&] {
        commands.m_vecSent.clear();
        pMail->OnBtnSave();
        const std::string strSent = commands.m_vecSent.empty() ? std::string() : commands.m_vecSent.back();
        return strSent.substr(0, strSent.find(" {"));
    };
    QListWidget* pList = pMail->GetRecipients();
    pList->setCurrentRow(1);
    ASSERT_TRUE(pMail->EditRecipient());
    EXPECT_EQ(pList->count(), MAIL_MAX_RECIPIENTS);
    EXPECT_EQ(fnSentRecipients(),
              "SetMail 100 smtp.lab cam@lab 5 r0@lab r1@lab r2@lab r3@lab r4@lab 0/0000 auth=0 :");
    // An address that is none goes back to what it was, with the message at the list.
    pList->item(1)->setText(QStringLiteral("nobody"));
    EXPECT_EQ(HintText(pMail), QStringLiteral("Invalid content"));
    EXPECT_EQ(pList->item(1)->text(), QStringLiteral("r1@lab"));
    pList->item(1)->setText(QStringLiteral("s1@lab"));
    EXPECT_EQ(fnSentRecipients(),
              "SetMail 100 smtp.lab cam@lab 5 r0@lab s1@lab r2@lab r3@lab r4@lab 0/0000 auth=0 :");
}

// Three cameras besides the one shown and one gone (the manager lists the present ones only):
// "Select All" and "Invert Selection" pick, one chosen goes offline before the settings go, and
// only the present ones get them.
TEST_F(PagesTest, ApplyToSendsToThePresentCamerasAndReportsTheOfflineOne)
{
    manager.Add(101, CAMERA_TYPE_SINGLE, u"Garden");
    DeviceInfo& garage = manager.Add(102, CAMERA_TYPE_SINGLE, u"Garage");
    manager.Add(103, CAMERA_TYPE_SINGLE, u"Hall");
    manager.Add(104, CAMERA_TYPE_SINGLE, u"Gone", false);
    CDlgApplyTo dialog(&manager, pCamera->GetID());
    ASSERT_EQ(dialog.GetList()->count(), 3);
    EXPECT_TRUE(dialog.GetChosen().empty());
    dialog.GetList()->item(0)->setCheckState(Qt::Checked);
    dialog.OnBtnInvert();
    EXPECT_EQ(dialog.GetChosen(), (std::vector<DWORD>{102, 103}));
    dialog.OnBtnSelectAll();
    ASSERT_EQ(dialog.GetChosen(), (std::vector<DWORD>{101, 102, 103}));
    garage.bIsExist = 0;

    // The DO page's triggers go to the present ones; each keeps its own SMS triggers.
    manager.GetDevice(103, CAMERA_MASK_ALL)->stDo.abSms[2] = 1;
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    CDlgCamConfigPane pane(Context());
    auto* pDo = pane.FindPage<CDlgAlarmTriggers>();
    pDo->GetBox(0)->setChecked(true);
    const auto vecResults = pDo->ApplyTo(dialog.GetChosen());
    ASSERT_EQ(vecResults.size(), 3u);
    EXPECT_TRUE(vecResults[0].bSent);
    EXPECT_FALSE(vecResults[1].bSent);
    EXPECT_TRUE(vecResults[2].bSent);
    EXPECT_EQ(commands.m_vecSent, (std::vector<std::string>{"SetDo 101 1000/0000", "SetDo 103 1000/0010"}));
    EXPECT_EQ(HintText(pDo), QStringLiteral("Garden: Sent, waiting for the camera's answer\nGarage: Camera "
                                            "Offline!\nHall: Sent, waiting for the camera's answer"));
    EXPECT_TRUE(pDo->GetHint()->IsError());

    // The read-back asks each camera it sent to again: Garden answers what was sent, Hall kept
    // its old triggers; the report shows both sides per camera, with the error look.
    EXPECT_EQ(commands.m_vecAsked, (std::vector<std::string>{"GetDo 101", "GetDo 103"}));
    EXPECT_FALSE(pDo->IsReadBackDone());
    manager.GetDevice(101, CAMERA_MASK_ALL)->stQuery.bCmdGetDoInfo = 1;
    DeviceInfo* pHall = manager.GetDevice(103, CAMERA_MASK_ALL);
    pHall->stDo.abDo[0] = 0;
    pHall->stDo.abDo[2] = 1;
    pHall->stQuery.bCmdGetDoInfo = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pDo->IsReadBackDone(); }, 10000));
    EXPECT_EQ(HintText(pDo), QStringLiteral("Garden: Area I \u2192 Area I\nGarage: Camera Offline!\n"
                                            "Hall: Area I \u2192 Area III"));
    EXPECT_TRUE(pDo->GetHint()->IsError());
    const auto& vecBack = pDo->GetReadBack();
    ASSERT_EQ(vecBack.size(), 3u);
    EXPECT_TRUE(vecBack[0].bAnswered && vecBack[2].bAnswered && !vecBack[1].bAnswered);

    // The NAS page likewise: a camera whose NAS record has not come is left alone.
    auto* pNas = pane.FindPage<CDlgConfigNASRecord>();
    DeviceInfo* pGarden = manager.GetDevice(101, CAMERA_MASK_ALL);
    pGarden->stRecordNas = pCamera->stRecordNas;
    pGarden->stQuery.bCmdGetRecordNas = 1;
    Child<QLineEdit>(pNas, "path")->setText(QStringLiteral("/garden"));
    commands.m_vecSent.clear();
    pNas->ApplyTo({101, 103});
    EXPECT_EQ(commands.m_vecSent,
              std::vector<std::string>{"SetRecordNas 101 131087392 1024 3323068418 /garden cam pw"});
    // The refusal is known at once, not "OK" until the read-back.
    EXPECT_EQ(HintText(pNas),
              QStringLiteral("Garden: Sent, waiting for the camera's answer\nHall: Get Information Fail"));
    EXPECT_TRUE(pNas->GetHint()->IsError());
    // After the read-back: what Garden holds now, and why Hall was left alone.
    for (const DWORD dwID : {101u, 103u})
        manager.GetDevice(dwID, CAMERA_MASK_ALL)->stQuery.bCmdGetRecordNas = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pNas->IsReadBackDone(); }, 10000));
    const QStringList lines = HintText(pNas).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Garden: ")) &&
                lines[0].count(QStringLiteral("/garden")) == 2)
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Hall: Get Information Fail"))) << lines[1].toStdString();

    // A camera that never answers the read-back is reported so once the time is up.
    pDo->GetBox(1)->setChecked(true);
    pDo->ApplyTo({101});
    ASSERT_TRUE(QTest::qWaitFor([&] { return pDo->IsReadBackDone(); }, CConfigPage::READBACK_MS + 10000));
    EXPECT_EQ(HintText(pDo), QStringLiteral("Garden: Area I, Area II \u2192 Get info error"));
    EXPECT_GE(std::count(commands.m_vecAsked.begin(), commands.m_vecAsked.end(), "GetDo 101"), 3);
}

namespace {

// A download runs for the cameras listed.
class CFakeDownloads : public IDownloadRecordManager {
public:
    bool Download(DWORD) override { return false; }
    void DownloadNext(DWORD) override {}
    void CancelDownload(DWORD) override {}
    void CancelAllDownload() override {}
    bool IsDownloading(DWORD dwID) override { return m_setIDs.count(dwID) != 0; }
    bool HasDownloading() override { return !m_setIDs.empty(); }
    int GetDownloadCount() override { return static_cast<int>(m_setIDs.size()); }
    void CheckTask() override {}
    void FeedMediaData(const DownloadFrame&, DWORD) override {}
    std::set<DWORD> m_setIDs;
};

} // namespace

// Reboot and "Clear all records": each refusal in its order with its message and nothing
// sent, a "no" to the question sends nothing, a "yes" sends the one command.
TEST_F(PagesTest, RebootAndClearRecordsRefuseInOrderThenAskThenSend)
{
    struct ActionCase {
        const char* pszName;
        bool bReboot;
        bool bHasSD, bDownloading, bRecording;
        int nAnswer;
        const char* pszHint;
        bool bError;
        std::vector<std::string> vecSent;
    };
    const char* const pszStopReboot =
        "Camera Downloading in Process, \r\n\r\n Please Stop Downloading then Restart the Camera!";
    const char* const pszStopClear =
        "Camera Downloading in Process, \r\n\r\n Please Stop Downloading then Delete the Recording!";
    const ActionCase aCases[] = {
        {"reboot while downloading", true, true, true, false, 1, pszStopReboot, true, {}},
        {"reboot declined", true, true, false, false, 0, "", false, {}},
        {"reboot", true, false, false, true, 1, "The camera is rebooting...", false, {"Reboot 100 "}},
        {"clear without card", false, false, true, true, 1, "No SD card", true, {}},
        {"clear while downloading", false, true, true, true, 1, pszStopClear, true, {}},
        {"clear while recording",
         false,
         true,
         false,
         true,
         1,
         "SD Card Recording in Process, can not clear!",
         true,
         {}},
        {"clear declined", false, true, false, false, 0, "", false, {}},
        {"clear", false, true, false, false, 1, "OK", false, {"ClearSDRecords 100 "}},
    };
    CFakeDownloads downloads;
    for (const ActionCase& c : aCases) {
        SCOPED_TRACE(c.pszName);
        AnswerAll(*pCamera);
        pCamera->stItem.bHasSD = c.bHasSD ? 1 : 0;
        pCamera->stSDInfo.byState = c.bRecording ? 1 : 0;
        downloads.m_setIDs.clear();
        if (c.bDownloading)
            downloads.m_setIDs.insert(pCamera->GetID());
        manager.m_pSelected = pCamera;
        CDlgCamConfigPane pane({&manager, &commands, &bus, &downloads});
        commands.m_vecSent.clear();
        CConfigPage::s_nConfirmAnswer = c.nAnswer;
        CConfigPage* pPage = nullptr;
        if (c.bReboot) {
            auto* pSystem = pane.FindPage<CDlgConfigSystem>();
            pSystem->OnBtnReboot();
            pPage = pSystem;
            if (*c.pszHint != '\0') {
                EXPECT_EQ(pSystem->GetHint()->GetAnchor(), pSystem->GetRebootButton());
            }
        } else {
            auto* pSD = pane.FindPage<CDlgConfigSDRecord>();
            pSD->OnBtnClearRecords();
            pPage = pSD;
        }
        EXPECT_EQ(HintText(pPage).toStdString(), c.pszHint);
        if (*c.pszHint != '\0') {
            EXPECT_EQ(pPage->GetHint()->IsError(), c.bError);
        }
        EXPECT_EQ(commands.m_vecSent, c.vecSent);
    }
}

// The card's figures, and the minutes left at the rate the camera records with: video plus its
// GSM audio (1650 bytes/s) when audio is recorded. No rate or no card figures: nothing guessed.
TEST_F(PagesTest, SdPageShowsRemainingMinutesAtTheRecordedRate)
{
    struct MinutesCase {
        bool bSDInfo;
        DWORD dwRemaining, dwKbps;
        BYTE bAudio;
        const char* pszText;
    };
    const MinutesCase aCases[] = {
        {true, 6400, 2000, 0,
         "SD capacity: 7600 MB   Recorded: 1200 MB   Remaining: 6400 MB\n"
         "Remaining minutes: 447 min"},
        {true, 6400, 2000, 1,
         "SD capacity: 7600 MB   Recorded: 1200 MB   Remaining: 6400 MB\n"
         "Remaining minutes: 444 min"},
        // Past 32 bits of bytes.
        {true, 4000000, 375, 1,
         "SD capacity: 7600 MB   Recorded: 1200 MB   Remaining: 4000000 MB\n"
         "Remaining minutes: 1440599 min"},
        {true, 6400, 0, 0, "SD capacity: 7600 MB   Recorded: 1200 MB   Remaining: 6400 MB"},
        {false, 6400, 2000, 0, ""},
    };
    for (const MinutesCase& c : aCases) {
        SCOPED_TRACE(c.pszText);
        AnswerAll(*pCamera);
        pCamera->stQuery.bCmdGetSDInfo = c.bSDInfo ? 1 : 0;
        pCamera->stSDInfo = {7600, 1200, c.dwRemaining, 0};
        pCamera->stRecordSD.dwSessionMode = MakeSessionMode(c.dwKbps, 30, 8);
        pCamera->stRecordSD.abSingle[1] = c.bAudio;
        manager.m_pSelected = pCamera;
        CDlgCamConfigPane pane(Context());
        EXPECT_EQ(Child<QLabel>(pane.FindPage<CDlgConfigSDRecord>(), "capacity")->text().toStdString(),
                  c.pszText);
    }
}

// The wired/3G switch asks first; a "no" sends nothing and keeps the camera's link shown, a
// "yes" sends the camera's own dial settings with the new link.
TEST_F(PagesTest, LinkSwitchAsksThenSendsTheDialSettingsWithTheNewLink)
{
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    CDlgCamConfigPane pane(Context());
    auto* p3G = pane.FindPage<CDlgNetworkWire3G>();
    auto* pLink = Child<QComboBox>(p3G, "link");
    EXPECT_EQ(pLink->currentIndex(), 0);
    pLink->setCurrentIndex(1);
    CConfigPage::s_nConfirmAnswer = 0;
    p3G->OnBtnSwitch();
    EXPECT_TRUE(commands.m_vecSent.empty());
    EXPECT_EQ(pLink->currentIndex(), 0);
    pLink->setCurrentIndex(1);
    CConfigPage::s_nConfirmAnswer = 1;
    p3G->OnBtnSwitch();
    EXPECT_EQ(commands.m_vecSent, std::vector<std::string>{"3GSet 0 SER100 1 3gnet *99 link 1"});
    EXPECT_EQ(HintText(p3G), QStringLiteral("Saved."));

    // Back to wired: refused while the camera reports no cable, as from the Wi-Fi pane.
    threeG.bConnectType = 1;
    commands.m_vecSent.clear();
    for (const DWORD dwCable : {0u, 1u}) {
        wifi.dwStatus = dwCable;
        pLink->setCurrentIndex(0);
        p3G->OnBtnSwitch();
        if (dwCable == 0) {
            EXPECT_EQ(HintText(p3G),
                      QStringLiteral("No ethernet detected, can not switch to wired network."));
            EXPECT_TRUE(commands.m_vecSent.empty());
            EXPECT_EQ(pLink->currentIndex(), 1);
        }
    }
    EXPECT_EQ(commands.m_vecSent, std::vector<std::string>{"3GSet 0 SER100 1 3gnet *99 link 0"});
}

// The Wi-Fi tab shows the link the camera reports (its network only while the Wi-Fi link is up,
// speed and quality words from the survey header) and switches wired/wireless: it asks first,
// refuses wired without a cable, sends the new link in the Wi-Fi settings and reads back.
TEST_F(PagesTest, WifiPaneShowsTheLinkAndSwitchesItAfterAsking)
{
    std::strcpy(wifi.stBlock.Ssid, "labnet");
    wifi.stBlock.SsidLength = 6;
    struct StatusCase {
        BYTE bLink, bUp;
        DWORD dwSurveyLen, dwSpeed;
        BYTE bQuality;
        const char *pszSsid, *pszSpeed, *pszQuality;
    };
    const StatusCase aStatus[] = {
        {0, 0, 36, 540, 90, "No wireless network", "", ""},
        {1, 1, 36, 540, 80, "labnet", "54.0 MBps", "Very good"},
        {1, 1, 36, 55, 79, "labnet", "5.5 MBps", "Good"},
        {1, 1, 36, 1500, 40, "labnet", "150.0 MBps", "Common"},
        {1, 1, 36, 10, 20, "labnet", "1.0 MBps", "Weak"},
        {1, 1, 36, 10, 19, "labnet", "1.0 MBps", "Very weak"},
        {1, 1, 36, 0x10000, 101, "labnet", "", ""}, // not a speed, not a percentage
        {1, 1, 0, 540, 90, "labnet", "", ""},       // no survey: no header
    };
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    for (const StatusCase& c : aStatus) {
        SCOPED_TRACE(c.pszSsid + std::string(" ") + c.pszSpeed + " " + c.pszQuality);
        wifi.abySettings[0] = c.bLink;
        wifi.byStatus = c.bUp;
        wifi.dwSurveyLen = c.dwSurveyLen;
        for (int i = 0; i < 4; ++i)
            wifi.abySurveyHeader[i] = static_cast<BYTE>(c.dwSpeed >> (24 - 8 * i));
        wifi.abySurveyHeader[4] = c.bQuality;
        CDlgCamConfigPane pane(Context());
        auto* pWifi = pane.FindPage<CDlgNetworkWifiPane>();
        ASSERT_EQ(pWifi->GetPollState(), CConfigPage::PollState::Filled);
        EXPECT_EQ(Child<QLabel>(pWifi, "link_ssid")->text().toStdString(), c.pszSsid);
        EXPECT_EQ(Child<QLabel>(pWifi, "link_speed")->text().toStdString(), c.pszSpeed);
        EXPECT_EQ(Child<QLabel>(pWifi, "link_quality")->text().toStdString(), c.pszQuality);
        EXPECT_EQ(Child<QComboBox>(pWifi, "link")->currentIndex(), c.bLink);
    }

    struct SwitchCase {
        const char* pszName;
        BYTE bLink;
        DWORD dwCable;
        int nTarget, nAnswer;
        const char* pszHint;
        std::vector<BYTE> vecSent; // the link of each Wi-Fi set
        int nShownAfter;
    };
    const char* pszNoCable = "No ethernet detected, can not switch to wired network.";
    const SwitchCase aSwitch[] = {
        {"same link", 0, 1, 0, 1, "", {}, 0},
        {"declined", 0, 1, 1, 0, "", {}, 0},
        {"to wireless", 0, 0, 1, 1, "Saved.", {1}, 1},
        {"to wired without cable", 1, 0, 0, 1, pszNoCable, {}, 0},
        {"to wired", 1, 1, 0, 1, "Saved.", {0}, 0},
    };
    for (const SwitchCase& c : aSwitch) {
        SCOPED_TRACE(c.pszName);
        AnswerAll(*pCamera);
        wifi.abySettings[0] = wifi.byStatus = c.bLink;
        wifi.dwStatus = c.dwCable;
        CDlgCamConfigPane pane(Context());
        auto* pWifi = pane.FindPage<CDlgNetworkWifiPane>();
        commands.m_vecSent.clear();
        commands.m_vecWifiSettings.clear();
        Child<QComboBox>(pWifi, "link")->setCurrentIndex(c.nTarget);
        CConfigPage::s_nConfirmAnswer = c.nAnswer;
        pWifi->OnBtnSave();
        EXPECT_EQ(HintText(pWifi).toStdString(), c.pszHint);
        EXPECT_EQ(commands.m_vecWifiSettings, c.vecSent);
        if (c.vecSent.empty()) {
            EXPECT_TRUE(commands.m_vecSent.empty());
            EXPECT_EQ(Child<QComboBox>(pWifi, "link")->currentIndex(), c.nShownAfter);
            if (*c.pszHint != '\0') {
                EXPECT_TRUE(pWifi->GetHint()->IsError());
                EXPECT_EQ(pWifi->GetHint()->GetAnchor(), pWifi->GetKeyControl("link"));
            }
            continue;
        }
        // The page shows what the camera reports next, not what it asked for.
        ASSERT_EQ(commands.m_vecSent.size(), 2u);
        EXPECT_EQ(commands.m_vecSent[1], "ReScanWifi 0 ");
        EXPECT_EQ(pWifi->GetPollState(), CConfigPage::PollState::Waiting);
        wifi.abySettings[0] = wifi.byStatus = c.vecSent[0];
        pCamera->stQuery.bCmdGetWirelessParam = 1;
        pWifi->UpdateChildWindowValue();
        EXPECT_EQ(pWifi->GetPollState(), CConfigPage::PollState::Filled);
        EXPECT_EQ(Child<QComboBox>(pWifi, "link")->currentIndex(), c.nShownAfter);
        EXPECT_EQ(Child<QLabel>(pWifi, "link_ssid")->text(),
                  c.nShownAfter == 1 ? QStringLiteral("labnet") : QStringLiteral("No wireless network"));
    }
}

// "Update camera time" sends the PC's clock: UTC seconds now and the local offset.
TEST_F(PagesTest, UpdateCameraTimeSendsThePcClock)
{
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    CDlgCamConfigPane pane(Context());
    auto* pTime = pane.FindPage<CDlgSystemNTP>();
    const qint64 nBefore = QDateTime::currentSecsSinceEpoch();
    Child<QPushButton>(pTime, "update_time")->click();
    const qint64 nAfter = QDateTime::currentSecsSinceEpoch();
    ASSERT_EQ(commands.m_vecSent.size(), 1u);
    unsigned long uUtc = 0;
    long nOffset = 0;
    ASSERT_EQ(std::sscanf(commands.m_vecSent[0].c_str(), "SetCameraTime 100 %lu %ld", &uUtc, &nOffset), 2);
    EXPECT_GE(static_cast<qint64>(uUtc), nBefore);
    EXPECT_LE(static_cast<qint64>(uUtc), nAfter);
    EXPECT_EQ(nOffset * 60, QDateTime::currentDateTime().offsetFromUtc());
    EXPECT_EQ(HintText(pTime), QStringLiteral("OK"));
}

// The RTSP page asks the camera itself: filled from its answer, each stream checked with the
// stream rules (the refused one comes to the front), the write carries both session words, a
// camera that never answers leaves "Get info error" and an offline one "Camera Offline!".
TEST_F(PagesTest, RtspPageAsksFillsChecksBothStreamsAndSends)
{
    commands.m_rtsp = {0, 1, 30, 4, 2048, 15, 2, 512};
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    {
        CDlgCamConfigPane pane(Context());
        auto* pRtsp = pane.FindPage<CDlgSystemRTSP>();
        ASSERT_EQ(pRtsp->GetPollState(), CConfigPage::PollState::Filled);
        EXPECT_TRUE(Child<QCheckBox>(pRtsp, "auth")->isChecked());
        EXPECT_EQ(Child<QComboBox>(pRtsp, "sub_bps")->currentText(), QStringLiteral("512"));
        auto* pChannel = Child<QComboBox>(pRtsp, "channel");
        Child<QComboBox>(pRtsp, "sub_bps")->setEditText(QStringLiteral("10001"));
        pRtsp->OnBtnSave();
        EXPECT_EQ(HintText(pRtsp), QStringLiteral("The maximal BPS is 10000!"));
        EXPECT_EQ(pRtsp->GetHint()->GetAnchor(), pRtsp->GetKeyControl("sub_bps"));
        EXPECT_EQ(pChannel->currentIndex(), 1);
        EXPECT_TRUE(commands.m_vecSent.empty());
        // The camera reports NTSC: D1 at 5 fps takes 45 kbit/s, below the PAL floor (50).
        Child<QComboBox>(pRtsp, "main_fps")->setCurrentIndex(4);
        Child<QComboBox>(pRtsp, "main_res")->setCurrentIndex(2);
        Child<QComboBox>(pRtsp, "main_bps")->setEditText(QStringLiteral("45"));
        Child<QComboBox>(pRtsp, "sub_bps")->setEditText(QStringLiteral("768"));
        pRtsp->OnBtnSave();
        EXPECT_EQ(HintText(pRtsp), QStringLiteral("OK"));
        EXPECT_EQ(commands.m_vecSent.size(), 1u);
        commands.m_vecSent.clear();
        Child<QComboBox>(pRtsp, "main_fps")->setCurrentIndex(9);
        Child<QComboBox>(pRtsp, "main_res")->setCurrentIndex(1);
        Child<QComboBox>(pRtsp, "main_bps")->setEditText(QStringLiteral("2048"));
        Child<QComboBox>(pRtsp, "sub_bps")->setEditText(QStringLiteral("768"));
        Child<QCheckBox>(pRtsp, "auth")->setChecked(false);
        pRtsp->OnBtnSave();
        EXPECT_EQ(HintText(pRtsp), QStringLiteral("OK"));
        EXPECT_EQ(commands.m_vecSent,
                  (std::vector<std::string>{"RTSP 100 0 " + std::to_string(MakeSessionMode(2048, 30, 4)) +
                                            " " + std::to_string(MakeSessionMode(768, 15, 2))}));
        pCamera->bIsExist = 0;
        pRtsp->OnBtnSave();
        EXPECT_EQ(HintText(pRtsp), QStringLiteral("Camera Offline!"));
        pCamera->bIsExist = 1;
    }
    // A camera that does not answer: the page gives up, and its save says there is nothing.
    commands.m_bRtspAnswers = false;
    commands.m_vecSent.clear();
    DeviceInfo& other = manager.Add(101, CAMERA_TYPE_SINGLE, u"Garden");
    AnswerAll(other);
    manager.m_pSelected = &other;
    CDlgCamConfigPane pane(Context());
    auto* pRtsp = pane.FindPage<CDlgSystemRTSP>();
    for (int i = 0; i < 3; ++i)
        pRtsp->UpdateChildWindowValue();
    EXPECT_EQ(pRtsp->GetPollState(), CConfigPage::PollState::Failed);
    pRtsp->OnBtnSave();
    EXPECT_EQ(HintText(pRtsp), QStringLiteral("Get info error"));
    EXPECT_TRUE(commands.m_vecSent.empty());
    // A late answer fills the page.
    RtspInfo late = commands.m_rtsp;
    late.dwID = 101;
    for (const auto& [nSink, fnSink] : commands.m_mapRtspSinks)
        fnSink(late);
    EXPECT_EQ(pRtsp->GetPollState(), CConfigPage::PollState::Filled);

    // The dome page shows what the camera's answer to a dome setting holds, for its camera only.
    auto* pDome = pane.FindPage<CDlgSystemDome>();
    for (const auto& [dwID, byAddress] : {std::pair{101u, 7}, {100u, 9}}) {
        for (const auto& [nSink, fnSink] : commands.m_mapDomeSinks)
            fnSink(dwID, DomeReply{static_cast<BYTE>(byAddress), 9600});
    }
    EXPECT_EQ(Child<QLineEdit>(pDome, "address")->text(), QStringLiteral("7"));
    EXPECT_EQ(Child<QComboBox>(pDome, "baud")->currentData().toInt(), 9600);
}

namespace {

// The sink of the video pane's colour notification.
class CColorSink : public INotifySink {
public:
    void NotifySink(DWORD, UINT_PTR dwParam) override { m_vecValues.push_back(static_cast<DWORD>(dwParam)); }
    std::vector<DWORD> m_vecValues;
};

} // namespace

// The camera-setting pane's quality, sensor and colour pages: each check refuses at its control
// with nothing sent; an accepted save sends what changed, writes it back and says "OK". The
// quality floors follow the camera's reported standard, the sensor page is the family's own.
TEST_F(PagesTest, CameraSettingPagesCheckSendAndWriteBack)
{
    pCamera->stVideoReport.adwWord[0] = MakeSessionMode(1000, 25, 7); // PAL camera reporting 25 fps
    pCamera->stVideoReport.adwWord[1] = VIDEO_REPORT_PAL;
    pCamera->stSensorCap.dwCameraUIType = CAMERA_UI_TYPE_M;
    pCamera->stSensorCap.bCapBit16 = 1; // HD
    pCamera->bT9QXMode = 0x01;          // auto
    pCamera->bT9QXHorizontal = 1;
    pCamera->bT9QXSharpness = 40;
    pCamera->bT9QXTargetY = 100;
    DeviceQueryBlock& q = pCamera->stQuery;
    q.bCmdGetVideoReport = q.bCmdGetSensor = q.bCmdGetT9QX = 1;
    auto fnNtsc = [this](CConfigPage*) { pCamera->stVideoReport.adwWord[1] = 0; };
    auto fnHd30 = Both(SetCombo("res", 3), SetCombo("fps", 9));
    struct Case {
        const char* pszName;
        std::function<CConfigPage*(CDlgCamSetPane&)> fnPage;
        std::function<void(CConfigPage*)> fnEdit;
        const char* pszControl; // refused at this control, else accepted
        std::string strHint;
        std::vector<std::string> vecSent;
    };
    auto fnQuality = [](CDlgCamSetPane& pane) {
        return static_cast<CConfigPage*>(pane.FindPage<CDlgCamSetQuality>());
    };
    auto fnSensor = [](CDlgCamSetPane& pane) {
        return static_cast<CConfigPage*>(pane.FindPage<CDlgCamSetCam9P031>());
    };
    const Case aCases[] = {
        {"sensor unchanged", fnSensor, [](CConfigPage*) {}, nullptr, "OK", {}},
        {"sensor registers",
         fnSensor,
         [](CConfigPage* p) {
             Child<QCheckBox>(p, "auto")->setChecked(false);
             Child<QCheckBox>(p, "rotate")->setChecked(true);
             Child<QRadioButton>(p, "ntsc")->setChecked(true);
             Child<QSlider>(p, "brightness")->setValue(200);
         },
         nullptr,
         "OK",
         {"Sensor 100 000d02 0", "Sensor 100 010d02 1", "Sensor 100 020d02 1", "Sensor 100 050d02 200"}},
        {"no frame rate", fnQuality, SetCombo("fps", -1), "fps", "Invalid value!", {}},
        {"no resolution", fnQuality, SetCombo("res", -1), "res", "Invalid value!", {}},
        {"no bit rate", fnQuality, SetComboText("bps", ""), "bps", "Invalid value!", {}},
        {"PAL HD floor",
         fnQuality,
         Both(fnHd30, SetComboText("bps", "374")),
         "bps",
         "The minimum BPS is 375",
         {}},
        {"NTSC HD floor",
         fnQuality,
         Both(fnNtsc, Both(fnHd30, SetComboText("bps", "1124"))),
         "bps",
         "The minimum BPS is 1125",
         {}},
        {"above the top", fnQuality, SetComboText("bps", "10001"), "bps", "The maximal BPS is 10000!", {}},
        {"PAL HD at the floor",
         fnQuality,
         Both(fnHd30, SetComboText("bps", "375")),
         nullptr,
         "OK",
         {"Quality 100 30 8 375", "QualityApply 100"}},
        {"unchanged reported pair",
         fnQuality,
         [](CConfigPage*) {},
         nullptr,
         "OK",
         {"Quality 100 30 7 1000", "QualityApply 100"}},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszName);
        pCamera->stVideoReport.adwWord[0] = MakeSessionMode(1000, 25, 7);
        pCamera->stVideoReport.adwWord[1] = VIDEO_REPORT_PAL;
        manager.m_pSelected = pCamera;
        CDlgCamSetPane pane(Context());
        CConfigPage* pPage = c.fnPage(pane);
        ASSERT_NE(pPage, nullptr);
        ASSERT_EQ(pPage->GetPollState(), CConfigPage::PollState::Filled);
        commands.m_vecSent.clear();
        c.fnEdit(pPage);
        pPage->OnBtnSave();
        EXPECT_EQ(HintText(pPage).toStdString(), c.strHint);
        EXPECT_EQ(pPage->GetHint()->IsError(), c.pszControl != nullptr);
        if (c.pszControl != nullptr) {
            EXPECT_EQ(pPage->GetHint()->GetAnchor(), pPage->GetKeyControl(c.pszControl));
        }
        EXPECT_EQ(commands.m_vecSent, c.vecSent);
    }
    // Written back: the last quality and sensor saves.
    EXPECT_EQ(pCamera->stVideoReport.adwWord[0], MakeSessionMode(1000, 30, 7));
    EXPECT_EQ(pCamera->bT9QXMode, 0);
    EXPECT_EQ(pCamera->bT9QXFreq, 1);
    EXPECT_EQ(pCamera->bT9QXVertical, 1);
    EXPECT_EQ(pCamera->bT9QXTargetY, 200);

    // The pane shows the camera's family; "Defaults" asks, then reads back and waits.
    manager.m_pSelected = pCamera;
    CDlgCamSetPane pane(Context());
    auto* pSensor = pane.FindPage<CDlgCamSetCam9P031>();
    EXPECT_EQ(static_cast<QStackedWidget*>(pSensor->parentWidget())->currentWidget(), pSensor);
    EXPECT_EQ(Child<QSlider>(pSensor, "sharpness")->value(), 40);
    EXPECT_TRUE(Child<QRadioButton>(pSensor, "ntsc")->isChecked());
    commands.m_vecSent.clear();
    CConfigPage::s_nConfirmAnswer = 0;
    pSensor->OnBtnDefaults();
    EXPECT_TRUE(commands.m_vecSent.empty());
    CConfigPage::s_nConfirmAnswer = 1;
    pSensor->OnBtnDefaults();
    EXPECT_EQ(commands.m_vecSent, (std::vector<std::string>{"Sensor 100 000d03 0", "Sensor 100 000d01 174"}));
    EXPECT_EQ(pSensor->GetPollState(), CConfigPage::PollState::Waiting);
    pCamera->stQuery.bCmdGetT9QX = 1;
    pSensor->UpdateChildWindowValue();
    EXPECT_EQ(pSensor->GetPollState(), CConfigPage::PollState::Filled);

    // A 9900 camera gets its own page and register layout.
    DeviceInfo& other = manager.Add(101, CAMERA_TYPE_SINGLE, u"Garden");
    other.stSensorCap.dwCameraUIType = CAMERA_UI_TYPE_D;
    other.stQuery.bCmdGetSensor = other.stQuery.bCmdGetT9QY = 1;
    other.bT9QK = 0x11;
    manager.m_pSelected = &other;
    CDlgCamSetPane pane9900(Context());
    auto* p9900 = pane9900.FindPage<CDlgCamSetCam9900>();
    EXPECT_EQ(static_cast<QStackedWidget*>(p9900->parentWidget())->currentWidget(), p9900);
    EXPECT_TRUE(Child<QRadioButton>(p9900, "ntsc")->isChecked());
    commands.m_vecSent.clear();
    Child<QCheckBox>(p9900, "mirror")->setChecked(true);
    p9900->OnBtnSave();
    EXPECT_EQ(commands.m_vecSent, std::vector<std::string>{"Sensor 101 000802 25"});

    // Colour: every change reaches the video pane at once, as signed bytes brightness first.
    CColorSink sink;
    bus.RegisterNotify(DWORD_NOTIFYID_VIDEO_COLOR, &sink);
    auto* pColor = pane9900.FindPage<CDlgCamSetColor>();
    Child<QSlider>(pColor, "brightness")->setValue(-5);
    Child<QSlider>(pColor, "saturation")->setValue(10);
    pColor->OnBtnDefaults();
    bus.RemoveNotify(DWORD_NOTIFYID_VIDEO_COLOR, &sink);
    EXPECT_EQ(sink.m_vecValues, (std::vector<DWORD>{0xFBu, 0x0A0000FBu, 0u}));
}

// HD is offered to a camera whose capability report says it encodes HD, or that streams HD.
// "Apply to" checks each camera by its own standard and HD ability: one that refuses gets
// nothing and the report shows why beside what it holds; the time page applies alike.
TEST_F(PagesTest, QualityOffersHDByCapabilityAndAppliesToEachCameraByItsOwnRules)
{
    struct HDCase {
        BYTE bCapBit;
        DWORD dwRes;
        int nOffered;
    };
    for (const HDCase& c : {HDCase{0, 7, 3}, HDCase{1, 7, 4}, HDCase{0, 8, 4}}) {
        SCOPED_TRACE(c.bCapBit * 10 + c.dwRes);
        pCamera->stSensorCap.bCapBit16 = c.bCapBit;
        pCamera->stVideoReport.adwWord[0] = MakeSessionMode(1000, 30, c.dwRes);
        pCamera->stQuery.bCmdGetVideoReport = 1;
        manager.m_pSelected = pCamera;
        CDlgCamSetPane pane(Context());
        auto* pRes = Child<QComboBox>(pane.FindPage<CDlgCamSetQuality>(), "res");
        EXPECT_EQ(pRes->count(), c.nOffered);
        EXPECT_EQ(pRes->currentIndex(), c.dwRes == 8 ? 3 : 2);
        // The card's recording stream follows the same rule.
        pCamera->stRecordSD.dwSessionMode = MakeSessionMode(1000, 30, c.dwRes);
        pCamera->stQuery.bCmdGetRecordSD = 1;
        CDlgCamConfigPane config(Context());
        auto* pRecordRes = Child<QComboBox>(config.FindPage<CDlgConfigSDRecord>(), "res");
        EXPECT_EQ(pRecordRes->count(), c.nOffered);
        EXPECT_EQ(pRecordRes->currentIndex(), c.dwRes == 8 ? 3 : 2);
    }

    pCamera->stSensorCap.bCapBit16 = 1;
    pCamera->stVideoReport.adwWord[1] = VIDEO_REPORT_PAL;
    struct Target {
        DWORD dwID;
        const char16_t* pszName;
        bool bPal, bHD;
    };
    for (const Target& t : {Target{101, u"Garden", true, true}, Target{102, u"Garage", false, true},
                            Target{103, u"Hall", true, false}}) {
        DeviceInfo& device = manager.Add(t.dwID, CAMERA_TYPE_SINGLE, t.pszName);
        device.stVideoReport.adwWord[0] = MakeSessionMode(1000, 30, 7);
        device.stVideoReport.adwWord[1] = t.bPal ? VIDEO_REPORT_PAL : 0;
        device.stSensorCap.bCapBit16 = t.bHD ? 1 : 0;
        device.stQuery.bCmdGetVideoReport = 1;
        AnswerAll(device);
    }
    manager.m_pSelected = pCamera;
    CDlgCamSetPane pane(Context());
    auto* pQuality = pane.FindPage<CDlgCamSetQuality>();
    ASSERT_NE(pQuality->GetApplyToButton(), nullptr);
    Child<QComboBox>(pQuality, "res")->setCurrentIndex(3);
    Child<QComboBox>(pQuality, "bps")->setEditText(QStringLiteral("400"));
    commands.m_vecSent.clear();
    pQuality->ApplyTo({101, 102, 103});
    EXPECT_EQ(commands.m_vecSent, (std::vector<std::string>{"Quality 101 30 8 400", "QualityApply 101"}));
    EXPECT_EQ(commands.m_vecAsked,
              (std::vector<std::string>{"GetVideoReport 101", "GetVideoReport 102", "GetVideoReport 103"}));
    for (const DWORD dwID : {101u, 102u, 103u})
        manager.GetDevice(dwID, CAMERA_MASK_ALL)->stQuery.bCmdGetVideoReport = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pQuality->IsReadBackDone(); }, 10000));
    EXPECT_EQ(HintText(pQuality), QStringLiteral("Garden: 30/25 HD 400 \u2192 30/25 HD 400\n"
                                                 "Garage: The minimum BPS is 1125 \u2192 30/25 D1/VGA 1000\n"
                                                 "Hall: Invalid value! \u2192 30/25 D1/VGA 1000"));
    EXPECT_TRUE(pQuality->GetHint()->IsError());

    // A refused value is refused for every camera before anything is sent.
    commands.m_vecSent.clear();
    Child<QComboBox>(pQuality, "bps")->setEditText(QStringLiteral("374"));
    EXPECT_TRUE(pQuality->ApplyTo({101}).empty());
    EXPECT_EQ(HintText(pQuality), QStringLiteral("The minimum BPS is 375"));
    EXPECT_TRUE(commands.m_vecSent.empty());

    AnswerAll(*pCamera);
    CDlgCamConfigPane paneConfig(Context());
    auto* pTime = paneConfig.FindPage<CDlgSystemNTP>();
    auto* pZone = Child<QComboBox>(pTime, "zone");
    pZone->setCurrentIndex(pZone->findData(-210));
    commands.m_vecAsked.clear();
    pTime->ApplyTo({101});
    ASSERT_EQ(commands.m_vecSent.size(), 1u);
    EXPECT_EQ(commands.m_vecSent[0].rfind("SetNTP 101 0 -210 ntp.lab 0", 0), 0u) << commands.m_vecSent[0];
    EXPECT_EQ(commands.m_vecAsked, std::vector<std::string>{"GetNTP 101"});
    manager.GetDevice(101, CAMERA_MASK_ALL)->stQuery.bCmdGetNTP = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pTime->IsReadBackDone(); }, 10000));
    EXPECT_EQ(HintText(pTime), QStringLiteral("Garden: - GMT-03:30 DST 0 \u2192 - GMT-03:30 DST 0"));

    // SD recording in HD: the Garage has no card, the Hall no HD; the Garden keeps the bytes
    // that are not the page's.
    for (const auto& [dwID, bHasSD] : {std::pair{101u, true}, {102u, false}, {103u, true}}) {
        DeviceInfo* pDevice = manager.GetDevice(dwID, CAMERA_MASK_ALL);
        pDevice->stItem.bHasSD = bHasSD ? 1 : 0;
        pDevice->stRecordSD.abTrailing[0] = 0x5A;
    }
    pCamera->stRecordSD.dwSessionMode = MakeSessionMode(1000, 30, 8);
    CDlgCamConfigPane paneSD(Context());
    auto* pSD = paneSD.FindPage<CDlgConfigSDRecord>();
    Child<QCheckBox>(pSD, "record")->setChecked(true);
    Child<QComboBox>(pSD, "bps")->setEditText(QStringLiteral("2000"));
    commands.m_vecSent.clear();
    commands.m_vecAsked.clear();
    pSD->ApplyTo({101, 102, 103});
    EXPECT_EQ(commands.m_vecSent, std::vector<std::string>{"SetRecordSD 101 131087392 10000000000"});
    EXPECT_EQ(manager.GetDevice(101, CAMERA_MASK_ALL)->stRecordSD.abTrailing[0], 0x5A);
    EXPECT_EQ(commands.m_vecAsked,
              (std::vector<std::string>{"GetRecordSD 101", "GetRecordSD 102", "GetRecordSD 103"}));
    for (const DWORD dwID : {101u, 102u, 103u})
        manager.GetDevice(dwID, CAMERA_MASK_ALL)->stQuery.bCmdGetRecordSD = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pSD->IsReadBackDone(); }, 10000));
    const QString strWeek = QString(48, QLatin1Char('0'));
    EXPECT_EQ(HintText(pSD),
              QStringLiteral("Garden: 10000000000 30/8/2000 %1 \u2192 10000000000 30/8/2000 %1\n"
                             "Garage: No SD card \u2192 00000000000 0/0/0 %1\n"
                             "Hall: Invalid value! \u2192 00000000000 0/0/0 %1")
                  .arg(strWeek));

    // Mail: the whole setting to the cameras whose record has come (each keeps its unnamed field).
    std::strcpy(manager.GetDevice(101, CAMERA_MASK_ALL)->stMail.szServer2, "own");
    manager.GetDevice(103, CAMERA_MASK_ALL)->stQuery.bCmdGetMailInfo = 0;
    auto* pMail = paneSD.FindPage<CDlgAlarmEmail>();
    Child<QCheckBox>(pMail, "enable")->setChecked(true);
    Child<QCheckBox>(pMail, "area3")->setChecked(true);
    EXPECT_TRUE(pMail->AddRecipient(QStringLiteral("a@lab")));
    commands.m_vecSent.clear();
    commands.m_vecAsked.clear();
    pMail->ApplyTo({101, 102, 103});
    EXPECT_EQ(commands.m_vecSent,
              (std::vector<std::string>{"SetMail 101 smtp.lab cam@lab 1 a@lab 1/0010 auth=0 : {} []",
                                        "SetMail 102 smtp.lab cam@lab 1 a@lab 1/0010 auth=0 : {} []"}));
    EXPECT_STREQ(manager.GetDevice(101, CAMERA_MASK_ALL)->stMail.szServer2, "own");
    EXPECT_EQ(commands.m_vecAsked, (std::vector<std::string>{"GetMail 101", "GetMail 102", "GetMail 103"}));
    for (const DWORD dwID : {101u, 102u, 103u})
        manager.GetDevice(dwID, CAMERA_MASK_ALL)->stQuery.bCmdGetMailInfo = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pMail->IsReadBackDone(); }, 10000));
    EXPECT_EQ(HintText(pMail),
              QStringLiteral("Garden: [x] smtp.lab cam@lab 0010 1 \u2192 [x] smtp.lab cam@lab 0010 1\n"
                             "Garage: [x] smtp.lab cam@lab 0010 1 \u2192 [x] smtp.lab cam@lab 0010 1\n"
                             "Hall: Get Information Fail \u2192 [ ]   0000 0"));

    // A sensor page's controls go to a camera of its family whose registers are in, each
    // register that changes once; another family, or registers not yet read, get nothing.
    pCamera->stSensorCap.dwCameraUIType = CAMERA_UI_TYPE_M;
    pCamera->stQuery.bCmdGetSensor = pCamera->stQuery.bCmdGetT9QX = 1;
    const DWORD adwFamily[3] = {CAMERA_UI_TYPE_M, CAMERA_UI_TYPE_D, CAMERA_UI_TYPE_M};
    for (DWORD i = 0; i < 3; ++i) {
        DeviceInfo* pTarget = manager.GetDevice(101 + i, CAMERA_MASK_ALL);
        pTarget->stSensorCap.dwCameraUIType = adwFamily[i];
        pTarget->stQuery.bCmdGetSensor = 1;
        pTarget->stQuery.bCmdGetT9QX = pTarget->stQuery.bCmdGetT9QY = i == 2 ? 0 : 1;
        pTarget->bT9QXHorizontal = 1; // mirrored
        pTarget->bT9QXSharpness = 40;
    }
    CDlgCamSetPane paneSensor(Context());
    auto* pSensor = paneSensor.FindPage<CDlgCamSetCam9P031>();
    ASSERT_EQ(pSensor->GetPollState(), CConfigPage::PollState::Filled);
    Child<QCheckBox>(pSensor, "rotate")->setChecked(true);
    Child<QSlider>(pSensor, "brightness")->setValue(200);
    commands.m_vecSent.clear();
    pSensor->ApplyTo({101, 102, 103});
    EXPECT_EQ(commands.m_vecSent,
              (std::vector<std::string>{"Sensor 101 020d02 1", "Sensor 101 030d02 0", "Sensor 101 040d02 0",
                                        "Sensor 101 050d02 200", "Sensor 101 000d01 174",
                                        "Sensor 103 000d01 174"}));
    for (const DWORD dwID : {101u, 103u})
        manager.GetDevice(dwID, CAMERA_MASK_ALL)->stQuery.bCmdGetT9QX = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return pSensor->IsReadBackDone(); }, 10000));
    EXPECT_EQ(HintText(pSensor),
              QStringLiteral("Garden: PAL, Rotate, Sharpness 0, Brightness 200 \u2192 "
                             "PAL, Rotate, Sharpness 0, Brightness 200\n"
                             "Garage: Another sensor type \u2192 -\n"
                             "Hall: Get info error \u2192 PAL, Mirror, Sharpness 40, Brightness 0"));
    EXPECT_TRUE(pSensor->GetHint()->IsError());
}

namespace {

// The live view as the motion page meets it on the bus: it writes its picture when asked.
class CLiveView : public INotifySink {
public:
    void NotifySink(DWORD, UINT_PTR dwParam) override
    {
        m_vecAsked.push_back(dwParam);
        if (m_bPicture) {
            QImage image(64, 48, QImage::Format_RGB32);
            image.fill(m_color);
            image.save(QString::fromStdString(MapDesignPath("C:\\Temp.tmp")), "BMP");
        }
    }
    bool m_bPicture = false;
    Qt::GlobalColor m_color = Qt::red;
    std::vector<UINT_PTR> m_vecAsked;
};

} // namespace

// The motion page asks the live view for its picture as the motion page (so nothing is offered
// to the user), keeps asking while there is none, and shows it behind the areas when it comes.
TEST_F(PagesTest, MotionPageShowsTheLiveViewsPictureBehindTheAreas)
{
    QTemporaryDir dir;
    const QByteArray strOldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir.path().toLocal8Bit());
    CLiveView view;
    bus.RegisterNotify(DWORD_NOTIFYID_WANT_SNAPSHOT, &view);
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    CDlgCamConfigPane pane(Context());
    auto* pMotion = pane.FindPage<CDlgConfigMotionDetection>();
    auto fnShown = [&] { return pMotion->GetPicture()->grab().toImage().pixelColor(100, 100); };
    ASSERT_EQ(view.m_vecAsked.size(), 1u);
    EXPECT_NE(fnShown(), QColor(Qt::red));
    view.m_bPicture = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return fnShown() == QColor(Qt::red); }, 3000));
    const std::size_t nAsked = view.m_vecAsked.size();
    QTest::qWait(1500);
    EXPECT_EQ(view.m_vecAsked.size(), nAsked); // a picture ends the asking
    EXPECT_EQ(view.m_vecAsked, std::vector<UINT_PTR>(nAsked, SNAPSHOT_FOR_MOTION));
    // Refresh, and the page shown again, each fetch the camera's present picture.
    view.m_color = Qt::blue;
    Child<QPushButton>(pMotion, "refresh")->click();
    EXPECT_EQ(fnShown(), QColor(Qt::blue));
    view.m_color = Qt::green;
    QShowEvent show;
    QCoreApplication::sendEvent(pMotion, &show);
    EXPECT_EQ(fnShown(), QColor(Qt::green));
    EXPECT_EQ(view.m_vecAsked.size(), nAsked + 2);
    bus.RemoveNotify(DWORD_NOTIFYID_WANT_SNAPSHOT, &view);
    qputenv("TMPDIR", strOldTemp);
}

namespace {

// Every text a tree of widgets shows, in creation order, one line per text.
QStringList ShownTexts(QWidget* pRoot)
{
    QStringList list;
    for (QWidget* pWidget : pRoot->findChildren<QWidget*>()) {
        const QString strName = pWidget->objectName() + QLatin1Char(' ');
        if (auto* pLabel = qobject_cast<QLabel*>(pWidget))
            list << strName + pLabel->text();
        else if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget))
            list << strName + pButton->text();
        else if (auto* pCombo = qobject_cast<QComboBox*>(pWidget)) {
            for (int i = 0; i < pCombo->count(); ++i)
                list << strName + pCombo->itemText(i);
            list << strName + pCombo->currentText();
        } else if (auto* pTabs = qobject_cast<QTabBar*>(pWidget)) {
            for (int i = 0; i < pTabs->count(); ++i)
                list << strName + pTabs->tabText(i);
        } else if (auto* pTree = qobject_cast<QTreeWidget*>(pWidget)) {
            for (int c = 0; c < pTree->columnCount(); ++c) {
                list << strName + pTree->headerItem()->text(c);
                for (int i = 0; i < pTree->topLevelItemCount(); ++i)
                    list << strName + pTree->topLevelItem(i)->text(c);
            }
        }
        if (!pWidget->toolTip().isEmpty())
            list << strName + pWidget->toolTip();
    }
    return list;
}

} // namespace

// A change of language while the pages show a camera gives what pages built in that language
// show: every table text in its new wording, the texts built from templates (day and hour
// items, capacity, notes, states) built again, and the camera's own texts untouched even where
// they read like a table text (an SSID named "Wireless" or "Open").
TEST_F(PagesTest, LanguageChangeShowsWhatPagesBuiltInThatLanguageShow)
{
    AnswerAll(*pCamera);
    pCamera->stQuery.bCmdGetSDInfo = pCamera->stQuery.bCmdGet3GStatus = 1;
    pCamera->stSDInfo = {8000, 2000, 6000, 0};
    pCamera->st3GStatus.unSignal = 3;
    pCamera->st3GStatus.unDial = 1;
    pCamera->st3GStatus.unSimState = 1;
    pCamera->st3GStatus.unNetwork = 2;
    pCamera->stNtp.byDstMode = 1;
    pCamera->stNtp.dwMode1Start = MakeDstDateWord(3, 31, 2);
    pCamera->stNtp.dwMode1End = MakeDstDateWord(10, 27, 3);
    // A survey of two networks whose names read like table texts, and a hidden one.
    alignas(WifiRecord) static BYTE
        abRecord[sizeof(WifiRecord) + WIFI_SURVEY_LIST_HEAD + 3 * sizeof(WifiSurveyEntry)];
    auto* pWifi = new (abRecord) WifiRecord(wifi);
    pWifi->dwSurveyLen = sizeof(abRecord) - sizeof(WifiRecord) + WIFI_SURVEY_HEADER_LEN;
    pWifi->SurveyList()[0] = 3;
    auto* pEntries = reinterpret_cast<WifiSurveyEntry*>(pWifi->SurveyList() + WIFI_SURVEY_LIST_HEAD);
    for (const auto& [i, pszSsid] : {std::pair{0, "Wireless"}, {1, "Open"}, {2, ""}}) {
        pEntries[i] = {};
        pEntries[i].SsidLength = static_cast<BYTE>(std::strlen(pszSsid));
        std::memcpy(pEntries[i].Ssid, pszSsid, std::strlen(pszSsid));
        pEntries[i].abyBSSID[5] = static_cast<BYTE>(i);
    }
    pEntries[0].AuthMode = 4;
    pEntries[0].EncType = 3;
    pEntries[0].byRadioMode = 2;
    pEntries[0].byNetworkType = 1;
    pEntries[0].byChannel = 6;
    pEntries[0].abySignal[3] = 72;
    pEntries[1].byRadioMode = 7;
    // Out of range: nothing is shown rather than a wrong number.
    pEntries[1].byChannel = 197;
    pEntries[1].abySignal[2] = 1;
    pCamera->pWifiRecord = pWifi;
    manager.m_pSelected = pCamera;
    {
        // The survey's columns, each from the entry's own code.
        CDlgCamConfigPane pane(Context());
        QTreeWidget* pSurvey = pane.FindPage<CDlgWifiNetwork>()->GetSurvey();
        ASSERT_EQ(pSurvey->topLevelItemCount(), 3);
        QStringList listRows;
        for (int i = 0; i < 3; ++i) {
            QStringList listColumns;
            for (int c = 0; c < pSurvey->columnCount(); ++c)
                listColumns << pSurvey->topLevelItem(i)->text(c);
            listRows << listColumns.join(QLatin1Char('|'));
        }
        // The 3G link in words and bars.
        auto* p3G = pane.FindPage<CDlgNetworkWire3G>();
        EXPECT_EQ(Child<QLabel>(p3G, "sim_state")->text(), QStringLiteral("OK"));
        EXPECT_EQ(Child<QLabel>(p3G, "dial_state")->text(), QStringLiteral("Dial succeed"));
        EXPECT_EQ(Child<QLabel>(p3G, "net_state")->text(), QStringLiteral("3G"));
        EXPECT_EQ(Child<QLabel>(p3G, "signal")->accessibleName(), QStringLiteral("3/5"));
        EXPECT_EQ(listRows.join(QLatin1Char('\n')).toStdString(),
                  "Wireless|72%|6|00:00:00:00:00:00|802.11g|Infrastructure|WPA PSK|TKIP|"
                  "1, 2, 5.5, 6, 9, 11, 12, 18, 24, 36, 48, 54 Mbps\n"
                  "Open|||00:00:00:00:00:01|802.11n|Ad hoc|Open|None|\n"
                  "Non-Broadcasted SSID|||00:00:00:00:00:02|802.11b|Ad hoc|Open|None|1,2,5.5,6,9,11 Mbps");
    }
    for (const int nLanguage : {2052, 1028}) {
        SCOPED_TRACE(nLanguage);
        GetLanguageManager()->LoadLanguage(9);
        CDlgCamConfigPane switched(Context());
        CDlgCamSetPane switchedSet(Context());
        // As the main window has them.
        new CTextRelabeler(&switched, &bus);
        new CTextRelabeler(&switchedSet, &bus);
        GetLanguageManager()->LoadLanguage(nLanguage);
        bus.Notify(DWORD_NOTIFYID_LANGUAGE_CHANGED, 0);
        CDlgCamConfigPane built(Context());
        CDlgCamSetPane builtSet(Context());
        for (const auto& [pSwitched, pBuilt] :
             {std::pair<QWidget*, QWidget*>{&switched, &built}, {&switchedSet, &builtSet}}) {
            const QStringList listSwitched = ShownTexts(pSwitched);
            const QStringList listBuilt = ShownTexts(pBuilt);
            ASSERT_EQ(listSwitched.size(), listBuilt.size());
            for (qsizetype i = 0; i < listBuilt.size(); ++i)
                EXPECT_EQ(listSwitched[i].toStdString(), listBuilt[i].toStdString());
        }
    }
    GetLanguageManager()->LoadLanguage(9);
    pCamera->pWifiRecord = nullptr;
}

// Through the accessibility tree: every button of the pages is named in words (the PTZ arrows
// too), and a refused value's message is its control's description, there until the user works
// on the control again.
TEST_F(PagesTest, ButtonsAreNamedAndErrorsReachScreenReaders)
{
    AnswerAll(*pCamera);
    manager.m_pSelected = pCamera;
    CDlgCamConfigPane pane(Context());
    CDlgCamSetPane setPane(Context());
    for (QWidget* pRoot : {static_cast<QWidget*>(&pane), static_cast<QWidget*>(&setPane)}) {
        for (QAbstractButton* pButton : pRoot->findChildren<QAbstractButton*>()) {
            QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pButton);
            ASSERT_NE(pAccessible, nullptr);
            const QString strName = pAccessible->text(QAccessible::Name);
            EXPECT_TRUE(
                std::any_of(strName.begin(), strName.end(), [](QChar c) { return c.isLetterOrNumber(); }))
                << pButton->objectName().toStdString() << " '" << strName.toStdString() << "'";
        }
    }
    auto* pTime = pane.FindPage<CDlgSystemNTP>();
    auto* pServer = Child<QComboBox>(pTime, "server");
    pServer->setEditText(QString());
    pTime->OnBtnSave();
    ASSERT_TRUE(pTime->GetHint()->IsError());
    QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pServer);
    EXPECT_EQ(pAccessible->text(QAccessible::Description), HintText(pTime));
    EXPECT_FALSE(HintText(pTime).isEmpty());
    QTest::keyClick(pServer, Qt::Key_N);
    EXPECT_FALSE(pTime->GetHint()->IsActive());
    EXPECT_TRUE(pAccessible->text(QAccessible::Description).isEmpty());

    // Escape closes the page's dialogs.
    auto* pMail = pane.FindPage<CDlgAlarmEmail>();
    for (QDialog* pDialog :
         {static_cast<QDialog*>(pMail->OnBtnSetServer()), static_cast<QDialog*>(pMail->OnBtnEditEmail())}) {
        ASSERT_NE(pDialog, nullptr);
        EXPECT_TRUE(pDialog->isVisible());
        QTest::keyClick(pDialog, Qt::Key_Escape);
        EXPECT_FALSE(pDialog->isVisible());
    }
}
