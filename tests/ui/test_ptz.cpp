// The pan, tilt and zoom pages and the dome page: keys, presets, the patrol tour's time ranges.
#include "ui_test_support.h"

#include "core/language.h"
#include "core/stringids.h"
#include "device/settingchecks.h"
#include "ui/hint.h"
#include "ui/pages/dlgcamconfigpane.h"
#include "ui/pages/dlgcamsetpane.h"
#include "ui/pages/dlgconfigsystem.h"
#include "ui/pages/dlgptz.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>

#include <gtest/gtest.h>

using namespace uitest;

namespace {

class PtzTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetLanguageManager()->LoadLanguage(9);
        DeviceInfo& camera = manager.Add(100, CAMERA_TYPE_SINGLE, u"Dome");
        camera.stQuery.bCmdGetPreset = camera.stQuery.bCmdAutoScanSchedule = 1;
        presets.mapPresets = {{1, "Door"}, {97, "Home"}};
        camera.pPresetInfo = &presets;
        manager.m_pSelected = &camera;
        pCamera = &camera;
    }
    PageContext Context() { return {&manager, &commands, &bus, nullptr}; }
    std::string Hint(const CConfigPage* pPage)
    {
        return pPage->GetHint()->IsActive() ? pPage->GetHint()->GetText().toStdString() : std::string();
    }

    CFakeManager manager;
    CRecordingCommands commands;
    CNotifyManager bus;
    PresetInfo presets{};
    DeviceInfo* pCamera = nullptr;
};

void SetRange(CConfigPage* pPage, int nGroup, QTime start, QTime end)
{
    pPage->findChild<QComboBox*>(QStringLiteral("group"))->setCurrentIndex(nGroup);
    pPage->findChild<QTimeEdit*>(QStringLiteral("start"))->setTime(start);
    pPage->findChild<QTimeEdit*>(QStringLiteral("end"))->setTime(end);
}

} // namespace

// Each key moves while held with the page's two speeds; letting go stops.
TEST_F(PtzTest, DirectionKeysMoveWhileHeldAndPresetsAreListed)
{
    CDlgCamSetPane pane(Context());
    auto* pPtz = pane.FindPage<CDlgCamSetPTZ>();
    ASSERT_EQ(pPtz->GetPollState(), CConfigPage::PollState::Filled);
    const BYTE abExpected[8] = {0x0A, 0x02, 0x12, 0x08, 0x10, 0x0C, 0x04, 0x14};
    for (int i = 0; i < 8; ++i) {
        auto* pKey = pPtz->findChild<QPushButton*>(QStringLiteral("ptz%1").arg(i));
        ASSERT_NE(pKey, nullptr);
        commands.m_vecSent.clear();
        QTest::mousePress(pKey, Qt::LeftButton);
        QTest::mouseRelease(pKey, Qt::LeftButton);
        EXPECT_EQ(commands.m_vecSent,
                  (std::vector<std::string>{"PTZMove 100 64 " + std::to_string(abExpected[i]) + " 32 32",
                                            "PTZRelease 100 "}));
    }
    ASSERT_EQ(pPtz->GetPresetList()->count(), 2);
    EXPECT_EQ(pPtz->GetPresetList()->item(1)->text(), QStringLiteral("97--Home"));
}

TEST_F(PtzTest, PresetChecksThenSetsAndDeletes)
{
    CDlgCamSetPane pane(Context());
    auto* pPreset = pane.FindPage<CDlgPTZPreset>();
    auto* pNumber = pPreset->findChild<QLineEdit*>(QStringLiteral("number"));
    auto* pName = pPreset->findChild<QLineEdit*>(QStringLiteral("name"));
    pNumber->clear();
    pPreset->OnBtnAdd();
    EXPECT_EQ(Hint(pPreset), "Invalid value!");
    pNumber->setText(QStringLiteral("5"));
    pName->setText(QStringLiteral("seventeen chars!!"));
    pPreset->OnBtnAdd();
    EXPECT_EQ(Hint(pPreset), "The length of name is too long!");
    EXPECT_TRUE(commands.m_vecSent.empty());
    pCamera->bIsExist = 0;
    pName->setText(QStringLiteral("Gate"));
    pPreset->OnBtnAdd();
    EXPECT_EQ(Hint(pPreset), "Camera Offline!");
    EXPECT_TRUE(commands.m_vecSent.empty());
    pCamera->bIsExist = 1;
    pPreset->OnBtnAdd();
    pPreset->OnBtnDelete();
    EXPECT_EQ(commands.m_vecSent, (std::vector<std::string>{"SetPreset 100 5 Gate", "DeletePreset 100 5"}));
}

// The shared check: 64 ranges fit, the 65th is refused with 64; an end not after its start and
// an overlap are refused.
TEST(TourRangeTest, SixtyFourRangesWithoutOverlapEndingAfterTheirStart)
{
    std::vector<TourRange> vecRanges;
    for (DWORD i = 0; i < TOUR_RANGES_MAX; ++i) {
        const TourRange range{i * 20, i * 20 + 10};
        ASSERT_FALSE(CheckTourRange(vecRanges, range, TOUR_RANGES_MAX)) << i;
        vecRanges.push_back(range);
    }
    const CheckResult full = CheckTourRange(vecRanges, {1400, 1410}, TOUR_RANGES_MAX);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->dwStringID, IDS_HINT_MAX_TIMERANGE);
    EXPECT_EQ(full->vecArgs, std::vector<long>{64});
    vecRanges.resize(2); // 0-10, 20-30
    EXPECT_EQ(CheckTourRange(vecRanges, {40, 40}, TOUR_RANGES_MAX)->dwStringID, IDS_HINT_MT_TIME_ERROR);
    EXPECT_EQ(CheckTourRange(vecRanges, {50, 45}, TOUR_RANGES_MAX)->dwStringID, IDS_HINT_MT_TIME_ERROR);
    EXPECT_EQ(CheckTourRange(vecRanges, {5, 25}, TOUR_RANGES_MAX)->dwStringID, IDS_HINT_OVERLAP_TIME);
    EXPECT_EQ(CheckTourRange(vecRanges, {25, 26}, TOUR_RANGES_MAX)->dwStringID, IDS_HINT_OVERLAP_TIME);
    EXPECT_FALSE(CheckTourRange(vecRanges, {10, 20}, TOUR_RANGES_MAX)); // touching is no overlap
}

// The page holds what the camera's schedule record carries (ten ranges, and per tour group the
// presets it visits in its named entry) and sends them whole.
TEST_F(PtzTest, TourSchedulePageRefusesAndSendsItsRanges)
{
    // Group 2 as the camera has it: preset 1, then preset 40, which the camera does not list.
    pCamera->stAutoScanSchedule.aEntry[2] = {2, 2, {1, 40}};
    CDlgCamSetPane pane(Context());
    auto* pTour = pane.FindPage<CDlgPTZScanSchedule>();
    ASSERT_EQ(pTour->GetPollState(), CConfigPage::PollState::Filled);
    EXPECT_FALSE(pTour->OnBtnAdd());
    EXPECT_EQ(Hint(pTour), "Please Select Path");
    QListWidget* pPresets = pTour->GetGroupPresets();
    auto fnChecked = [pPresets] {
        QStringList listChecked;
        for (int i = 0; i < pPresets->count(); ++i) {
            if (pPresets->item(i)->checkState() == Qt::Checked)
                listChecked << pPresets->item(i)->text();
        }
        return listChecked.join(QLatin1Char(' ')).toStdString();
    };
    SetRange(pTour, 1, QTime(8, 0), QTime(9, 0));
    EXPECT_EQ(pPresets->count(), 2);
    EXPECT_EQ(fnChecked(), "");
    EXPECT_FALSE(pTour->OnBtnAdd());
    EXPECT_EQ(Hint(pTour), "Please Select Preset");
    EXPECT_EQ(pTour->GetHint()->GetAnchor(), pPresets);
    SetRange(pTour, 2, QTime(8, 0), QTime(9, 0));
    EXPECT_EQ(fnChecked(), "1--Door 40--");
    // Group 0 visits Home, then Door; group 1 Door.
    for (const auto& [nGroup, nRow] : {std::pair{0, 1}, {0, 0}, {1, 0}}) {
        pTour->findChild<QComboBox*>(QStringLiteral("group"))->setCurrentIndex(nGroup);
        pPresets->item(nRow)->setCheckState(Qt::Checked);
    }
    EXPECT_EQ(fnChecked(), "1--Door");
    // The list shows a group's presets in the order of its tour.
    pTour->findChild<QComboBox*>(QStringLiteral("group"))->setCurrentIndex(0);
    EXPECT_EQ(fnChecked(), "97--Home 1--Door");
    SetRange(pTour, 1, QTime(9, 0), QTime(8, 0));
    EXPECT_FALSE(pTour->OnBtnAdd());
    EXPECT_EQ(Hint(pTour), "Ending time can not be earlier than starting time!");
    for (int i = 0; i < AUTOSCAN_ENTRIES; ++i) {
        SetRange(pTour, i % 3, QTime(i, 0), QTime(i, 30));
        ASSERT_TRUE(pTour->OnBtnAdd()) << i;
    }
    SetRange(pTour, 0, QTime(9, 15), QTime(9, 45));
    EXPECT_FALSE(pTour->OnBtnAdd());
    EXPECT_EQ(Hint(pTour), "Add only 10 time range maximum!");
    EXPECT_EQ(pTour->GetRanges()->item(0)->text(), QStringLiteral("0: 00:00 - 00:30"));
    pTour->GetRanges()->setCurrentRow(9);
    pTour->OnBtnDelete();
    SetRange(pTour, 0, QTime(8, 15), QTime(8, 45));
    EXPECT_FALSE(pTour->OnBtnAdd());
    EXPECT_EQ(Hint(pTour), "Can not add overlap time range");
    SetRange(pTour, 2, QTime(22, 0), QTime(23, 0));
    EXPECT_TRUE(pTour->OnBtnAdd());
    commands.m_vecSent.clear();
    pTour->OnBtnSave();
    ASSERT_EQ(commands.m_vecSent.size(), 1u);
    EXPECT_EQ(commands.m_vecSent[0].rfind("AutoScanSchedule 100 1 0 0:0-30 1:60-90", 0), 0u)
        << commands.m_vecSent[0];
    EXPECT_NE(commands.m_vecSent[0].find(" 2:1320-1380 g0=97,1 g1=1 g2=1,40"), std::string::npos)
        << commands.m_vecSent[0];
    EXPECT_EQ(pCamera->stAutoScanSchedule.byPeriodCount, AUTOSCAN_ENTRIES);

    // A group left without presets keeps its ranges from being sent.
    pTour->findChild<QComboBox*>(QStringLiteral("group"))->setCurrentIndex(1);
    pPresets->item(0)->setCheckState(Qt::Unchecked);
    pTour->findChild<QComboBox*>(QStringLiteral("group"))->setCurrentIndex(0);
    commands.m_vecSent.clear();
    pTour->OnBtnSave();
    EXPECT_EQ(Hint(pTour), "Please Select Preset");
    EXPECT_EQ(pTour->findChild<QComboBox*>(QStringLiteral("group"))->currentIndex(), 1);
    EXPECT_TRUE(commands.m_vecSent.empty());
}

TEST_F(PtzTest, DomeAddressUpToThirtyTwo)
{
    CDlgCamConfigPane pane(Context());
    auto* pDome = pane.FindPage<CDlgSystemDome>();
    auto* pAddress = pDome->findChild<QLineEdit*>(QStringLiteral("address"));
    pAddress->setText(QStringLiteral("33"));
    pDome->OnBtnSave();
    EXPECT_EQ(Hint(pDome), "The port range is from 0 to 32!");
    EXPECT_TRUE(commands.m_vecSent.empty());
    pAddress->setText(QStringLiteral("32"));
    pDome->findChild<QComboBox*>(QStringLiteral("baud"))->setCurrentIndex(3);
    pDome->OnBtnSave();
    EXPECT_EQ(commands.m_vecSent, std::vector<std::string>{"SetDome 100 32 9600"});
}
