// Recording on this PC in the desktop client, offscreen: a camera set to record holds its live
// stream and lets it go again; the settings dialog stores the folder and the rules in the
// configuration, where the next start finds them.
#include "core/configfile.h"
#include "protocol/engmedia.h"
#include "ui/main/dlgpcrecord.h"
#include "ui/main/pcrecording.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

TEST(PcRecordingUi, HoldsTheCamerasStreamAndKeepsItsSettings)
{
    QTemporaryDir home;
    const std::string strHome = home.path().toStdString() + "/";
    std::ofstream(strHome + "Vistrel.ini") << "[PATH]\r\nrecord=" << strHome << "rec\r\n";
    CConfigFileManager config(strHome);
    CEngMedia engine;
    uitest::CFakeManager manager;
    const DeviceInfo& camera = manager.Add(11, CAMERA_TYPE_SINGLE, u"Door");
    {
        CPcRecordingUi recording(&config, engine, manager);
        EXPECT_EQ(recording.Settings().strFolder, strHome + "rec/PC");
        EXPECT_EQ(recording.Settings().nSegmentSeconds, 600);
        int nChanged = 0;
        QObject::connect(&recording, &CPcRecordingUi::changed, [&nChanged] { ++nChanged; });
        QString strError;
        ASSERT_TRUE(recording.Toggle(camera, strError)) << strError.toStdString();
        EXPECT_TRUE(recording.IsRecording(11));
        EXPECT_TRUE(manager.IsWatched(11));
        ASSERT_NE(recording.Camera(11), nullptr);
        EXPECT_EQ(recording.Camera(11)->strSerial, "SER11");
        ASSERT_TRUE(recording.Toggle(camera, strError));
        EXPECT_FALSE(recording.IsRecording(11));
        EXPECT_FALSE(manager.IsWatched(11));
        EXPECT_EQ(nChanged, 2);

        CDlgPcRecord dlg(recording);
        dlg.GetFolder()->setText(home.path() + "/elsewhere");
        dlg.GetSegmentMinutes()->setValue(5);
        dlg.GetKeepDays()->setValue(7);
        dlg.GetMaxGiB()->setValue(2.5);
        dlg.accept();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    {
        CPcRecordingUi again(&config, engine, manager);
        EXPECT_EQ(again.Settings().strFolder, strHome + "elsewhere");
        EXPECT_EQ(again.Settings().nSegmentSeconds, 300);
        EXPECT_EQ(again.Settings().rule.nKeepDays, 7);
        EXPECT_EQ(again.Settings().rule.llMaxBytes, std::int64_t{5} << 29);
        // The program ends while the camera records.
        QString strError;
        ASSERT_TRUE(again.Record(camera, strError)) << strError.toStdString();
    }
    EXPECT_FALSE(manager.IsWatched(11));
    // The next start records it again once it is present; stopped by the user, it stays stopped.
    {
        CPcRecordingUi next(&config, engine, manager);
        EXPECT_TRUE(QTest::qWaitFor([&] { return next.IsRecording(11); }, 5000));
        EXPECT_TRUE(manager.IsWatched(11));
        next.Stop(11);
    }
    CPcRecordingUi last(&config, engine, manager);
    QTest::qWait(2500);
    EXPECT_FALSE(last.IsRecording(11));
}
