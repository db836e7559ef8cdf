// Recording on this PC from the live view, offscreen: the toolbar's button and the shortcut
// pane's record the shown camera, and the pane's mark and both buttons follow it whichever way
// it changes.
#include "core/configfile.h"
#include "core/language.h"
#include "protocol/engmedia.h"
#include "ui/main/pcrecording.h"
#include "ui/main/shortcutpane.h"
#include "ui/ui_test_support.h"
#include "ui/videopane.h"
#include "ui/videotoolbar.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

#include <fstream>

TEST(PcRecordPane, ToolbarButtonRecordsTheShownCameraAndTheMarkFollows)
{
    GetLanguageManager()->LoadLanguage(9);
    QTemporaryDir home;
    const std::string strHome = home.path().toStdString() + "/";
    std::ofstream(strHome + "Vistrel.ini") << "[PATH]\r\nrecord=" << strHome << "rec\r\n";
    CConfigFileManager config(strHome);
    CEngMedia engine;
    uitest::CFakeManager manager;
    DeviceInfo& camera = manager.Add(11, CAMERA_TYPE_SINGLE, u"Door");
    CPcRecordingUi recording(&config, engine, manager);
    SetPcRecordingUi(&recording);

    CVideoPaneLogic::Hooks hooks;
    hooks.fnPlayType = [] { return DWORD(PLAY_TYPE_REALTIME); };
    CDlgVideoPane pane(nullptr, hooks, false);
    pane.resize(640, 480);
    pane.Logic().ShowDevice(&camera);
    QToolButton* pButton = pane.Toolbar()->RecordButton();
    ASSERT_TRUE(pButton->isEnabled());
    EXPECT_EQ(pButton->accessibleName(), QStringLiteral("Record on this PC"));
    CDlgShortcutKeyPane shortcuts(&pane);
    QPushButton* pShortcut = shortcuts.RecordButton();
    ASSERT_TRUE(pShortcut->isEnabled());
    EXPECT_EQ(pShortcut->accessibleName(), QStringLiteral("Record on this PC"));

    // The button from the toolbar, the shortcut pane's, the menu of the camera list through the
    // recording itself.
    enum Way { BUTTON, SHORTCUT, MENU };
    const struct {
        Way way;
        bool bRecording;
    } aSteps[] = {{BUTTON, true},   {BUTTON, false}, {MENU, true},     {BUTTON, false},
                  {BUTTON, true},   {MENU, false},   {SHORTCUT, true}, {BUTTON, false},
                  {SHORTCUT, true}, {MENU, false},   {MENU, true},     {SHORTCUT, false}};
    for (const auto& step : aSteps) {
        if (step.way == BUTTON) {
            pButton->click();
        } else if (step.way == SHORTCUT) {
            pShortcut->click();
        } else {
            QString strError;
            ASSERT_TRUE(recording.Toggle(camera, strError)) << strError.toStdString();
        }
        EXPECT_EQ(recording.IsRecording(11), step.bRecording) << step.way;
        EXPECT_EQ(manager.IsWatched(11), step.bRecording) << step.way;
        EXPECT_EQ(pButton->isChecked(), step.bRecording) << step.way;
        EXPECT_EQ(!pane.RecordMark()->isHidden(), step.bRecording) << step.way;
        EXPECT_EQ(pShortcut->isChecked(), step.bRecording) << step.way;
    }
    // Another camera in the pane: its own state, not the last one's.
    pButton->click();
    pane.Logic().StopDevice(&camera);
    DeviceInfo& other = manager.Add(12, CAMERA_TYPE_SINGLE, u"Yard");
    pane.Logic().ShowDevice(&other);
    EXPECT_FALSE(pButton->isChecked());
    EXPECT_TRUE(pane.RecordMark()->isHidden());
    EXPECT_FALSE(pShortcut->isChecked());
    EXPECT_TRUE(recording.IsRecording(11));
    pane.Logic().StopDevice(&other);
    SetPcRecordingUi(nullptr);
}
