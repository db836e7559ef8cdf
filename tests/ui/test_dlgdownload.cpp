// The download dialog against the real download manager (its camera side a stand-in) and a
// device manager of chosen records: downloads outlive the dialog, a failure shows as one, the
// rows name a recorder's channels by their recorder, a stale card status does not refuse a
// download, and a date typed whole over a field gives that date.
#include "core/language.h"
#include "core/stringids.h"
#include "download/download_test_support.h"
#include "download/downloadmanager.h"
#include "ui/main/dlgdownload.h"
#include "ui/main/mainmessage.h"
#include "ui/ui_test_support.h"

#include <QApplication>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace uitest;

namespace {

constexpr DWORD T0 = 1714557600; // 2024-05-01 10:00:00

QString English(DWORD dwStringID)
{
    return QString::fromStdU16String(GetLanguageManager()->GetString(dwStringID));
}

// The fake device manager with a recorder's channels found by id and by their recorder.
class CDevicesWithChannels : public CFakeManager {
public:
    DeviceInfo* GetDevice(DWORD dwID, DWORD dwMask) const override
    {
        if (DeviceInfo* pDevice = CFakeManager::GetDevice(dwID, dwMask))
            return pDevice;
        const DeviceInfo* pParent = GetParentDevice(dwID);
        if (pParent == nullptr)
            return nullptr;
        for (const auto& pChild : pParent->vecChildren)
            if (pChild->GetID() == dwID && (pChild->enCameraType & dwMask) != 0)
                return pChild.get();
        return nullptr;
    }
    DeviceInfo* GetParentDevice(DWORD dwID) const override
    {
        for (const auto& [dwParent, pDevice] : GetDevices())
            for (const auto& pChild : pDevice->vecChildren)
                if (pChild->GetID() == dwID)
                    return pDevice;
        return nullptr;
    }
};

class DownloadDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetLanguageManager()->LoadLanguage(9);
        env.strRecordPath = dir.path().toStdString() + "/";
        for (const auto& [dwID, pszName] :
             {std::pair{DWORD{101}, u"Attic"}, std::pair{DWORD{102}, u"Porch"}}) {
            DeviceInfo& camera = devices.Add(dwID, CAMERA_TYPE_SINGLE, pszName);
            camera.stItem.bHasSD = 1;
            camera.bRecordTimeValid = 1;
            camera.dwRecordTimeStart = T0;
            camera.dwRecordTimeEnd = T0 + 600;
            env.mapDevices[dwID] = &camera;
        }
        previous = SetDownloadRecordManager(&downloads);
        g_fnMainMessageHook = [this](const QString& strText) { messages.push_back(strText); };
        g_fnConfirmHook = [](const QString&) { return true; };
    }
    void TearDown() override
    {
        downloads.CancelAllDownload();
        SetDownloadRecordManager(previous);
        g_fnMainMessageHook = nullptr;
        g_fnConfirmHook = nullptr;
    }
    // The camera's downloaded frames: seconds of 15 frames, a key frame each second.
    void Feed(DWORD dwID, DWORD dwFrom, int nSeconds)
    {
        DWORD& dwSeq = m_mapSeq[dwID];
        for (int s = 0; s < nSeconds; ++s)
            for (int f = 0; f < 15; ++f, ++dwSeq) {
                const downloadtest::OwnedFrame frame(
                    dwID, dwFrom + static_cast<DWORD>(s), static_cast<WORD>(dwSeq), f == 0 ? 0 : 1,
                    f == 0 ? downloadtest::KeyFrame(false, 2000)
                           : downloadtest::PFrame(700, static_cast<BYTE>(f)));
                downloads.FeedMediaData(frame.frame, dwSeq);
            }
    }
    void Start(CDlgDownloadRecord& dlg, DWORD dwID, DWORD dwStart, DWORD dwEnd)
    {
        ASSERT_TRUE(dlg.SelectCamera(dwID));
        dlg.SetRange(dwStart, dwEnd);
        dlg.OnBtnDownload();
        ASSERT_TRUE(downloads.IsDownloading(dwID)) << messages.join('|').toStdString();
    }

    QTemporaryDir dir;
    CDevicesWithChannels devices;
    downloadtest::CFakeEnv env;
    CDownloadRecordManager downloads{&env};
    IDownloadRecordManager* previous = nullptr;
    QStringList messages;
    std::map<DWORD, DWORD> m_mapSeq;
};

} // namespace

// Downloads belong to the download manager: a dialog opened again shows the ones still running
// with their progress, and "Stop" ends the chosen one alone.
TEST_F(DownloadDialogTest, AReopenedDialogShowsTheRunningDownloadsAndStopsOne)
{
    {
        CDlgDownloadRecord dlg(nullptr, &devices);
        Start(dlg, 101, T0, T0 + 100);
        Start(dlg, 102, T0, T0 + 100);
    }
    Feed(101, T0, 50);
    Feed(102, T0, 10);
    CDlgDownloadRecord dlg(nullptr, &devices);
    QTest::qWait(1100); // a progress refresh
    EXPECT_EQ(dlg.GetCellText(101, CDlgDownloadRecord::COL_DOWNLOAD_RANGE),
              QStringLiteral("2024-05-01 10:00:00 -\n2024-05-01 10:01:40"));
    EXPECT_EQ(dlg.GetCellText(101, CDlgDownloadRecord::COL_PERCENT), QStringLiteral("Progress: 49%"));
    EXPECT_EQ(dlg.GetCellText(102, CDlgDownloadRecord::COL_PERCENT), QStringLiteral("Progress: 9%"));
    EXPECT_NE(dlg.GetCellText(101, CDlgDownloadRecord::COL_DATA), QStringLiteral("0.00 MB"));
    EXPECT_FALSE(dlg.GetCellText(101, CDlgDownloadRecord::COL_TIME).isEmpty());
    ASSERT_TRUE(dlg.SelectCamera(101));
    messages.clear();
    dlg.OnBtnStop();
    EXPECT_EQ(messages, QStringList{English(IDS_STOP_SUCCESS)});
    EXPECT_FALSE(downloads.IsDownloading(101));
    EXPECT_TRUE(downloads.IsDownloading(102));
    // The stopped one stays where its data stopped.
    EXPECT_EQ(dlg.GetCellText(101, CDlgDownloadRecord::COL_PERCENT), QStringLiteral("Progress: 49%"));
}

// A download that a full disk or an unwritable folder stops is shown as failed, with the
// reason, at the progress its data reached; never as completed.
TEST_F(DownloadDialogTest, AFailedDownloadShowsAsFailedWithItsReason)
{
    // A file where the camera's folder goes: the folder cannot be made.
    const std::string strFolder = MakeDownloadFolder(env.strRecordPath, *env.mapDevices[101]);
    std::ofstream(strFolder.substr(0, strFolder.size() - 1)) << "in the way";
    CDlgDownloadRecord dlg(nullptr, &devices);
    Start(dlg, 101, T0, T0 + 100);
    Feed(101, T0 + 30, 1);
    EXPECT_FALSE(downloads.IsDownloading(101));
    QTest::qWait(1100);
    const QString strPercent = dlg.GetCellText(101, CDlgDownloadRecord::COL_PERCENT);
    EXPECT_EQ(strPercent,
              QStringLiteral("Progress: 30% (") + English(IDS_HINT_DOWNLOADFAIL) + QLatin1Char(')'));
    const QString strMessage = CDlgDownloadRecord::FailureMessage(*env.mapDevices[101]);
    EXPECT_TRUE(strMessage.startsWith(
        English(IDS_CAMERA_DOWNLOAD_FAILED).replace(QStringLiteral("%s"), QStringLiteral("Attic"))))
        << strMessage.toStdString();
    EXPECT_TRUE(strMessage.contains(English(IDS_DOWNLOAD_FOLDER_NOT_WRITABLE)));
    EXPECT_TRUE(strMessage.contains(QString::fromStdString(strFolder)));
    // A completed one is not a failure.
    EXPECT_EQ(CDlgDownloadRecord::FailureMessage(*env.mapDevices[102]), QString());
    // "Stop" on it says how it ended.
    ASSERT_TRUE(dlg.SelectCamera(101));
    messages.clear();
    dlg.OnBtnStop();
    EXPECT_EQ(messages, QStringList{strMessage});
}

// The rows: a recorder's channels carry the recorder's name ("Channel 1" of two recorders
// reads alike otherwise); a camera last seen busy with another viewer's playback (a stale
// status 4) is not refused, as the playback list does not refuse it: the camera's answer to
// the download's own start decides.
TEST_F(DownloadDialogTest, ChannelsAreNamedByTheirRecorderAndAStaleBusyStatusDoesNotRefuse)
{
    DeviceInfo& recorder = devices.Add(200, CAMERA_TYPE_PARENT, u"Barn NVR");
    for (int k = 1; k <= 2; ++k) {
        auto pChild = std::make_unique<DeviceInfo>();
        pChild->stItem.dwDVIPID = 200 * 100 + static_cast<DWORD>(k);
        const std::u16string strName = u"Channel " + std::u16string(1, static_cast<char16_t>(u'0' + k));
        std::char_traits<char16_t>::copy(pChild->stItem.szName, strName.c_str(), strName.size());
        pChild->enCameraType = CAMERA_TYPE_CHILD;
        pChild->stItem.bHasSD = 1;
        recorder.vecChildren.push_back(std::move(pChild));
    }
    env.mapDevices[101]->dwCameraVideoStatus = 4;
    CDlgDownloadRecord dlg(nullptr, &devices);
    QStringList names;
    for (int i = 0; i < dlg.GetList()->topLevelItemCount(); ++i)
        names << dlg.GetList()->topLevelItem(i)->text(CDlgDownloadRecord::COL_NAME);
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("Attic"), QStringLiteral("Porch"),
                           QStringLiteral("Barn NVR / Channel 1"), QStringLiteral("Barn NVR / Channel 2")}));
    messages.clear();
    Start(dlg, 101, T0, T0 + 100);
    EXPECT_EQ(messages, QStringList());
}

// A date and time typed whole over a field, as a user types one: the field holds exactly that,
// whatever date it showed before (a day the shown month lacks, a leap day), however the typing
// began (the text selected, a click into one field, a double click that selects one field,
// Home) and however it ends (Return, or Tab to leave the field: its last field's digits count).
TEST_F(DownloadDialogTest, ADateTypedWholeOverTheFieldGivesThatDate)
{
    CDlgDownloadRecord dlg(nullptr, &devices);
    dlg.show();
    enum Start { SELECT_ALL, CONTROL_A, CLICK, DOUBLE_CLICK, HOME };
    auto type = [&](QDateTimeEdit* pField, const QDateTime& shown, const QString& strTyped, Start enStart,
                    int nX, bool bTab) {
        pField->setDateTime(shown);
        pField->setFocus();
        QLineEdit* pEdit = pField->findChild<QLineEdit*>();
        switch (enStart) {
        case SELECT_ALL:
            pField->selectAll();
            break;
        case CONTROL_A:
            QTest::keyClick(pField, Qt::Key_A, Qt::ControlModifier);
            break;
        case CLICK:
            QTest::mouseClick(pEdit, Qt::LeftButton, {}, QPoint(nX, 5));
            break;
        case DOUBLE_CLICK:
            QTest::mouseDClick(pEdit, Qt::LeftButton, {}, QPoint(nX, 5));
            break;
        case HOME:
            QTest::mouseClick(pEdit, Qt::LeftButton, {}, QPoint(nX, 5));
            QTest::keyClick(pField, Qt::Key_Home);
            break;
        }
        QTest::keyClicks(pField, strTyped);
        QTest::keyClick(pField, bTab ? Qt::Key_Tab : Qt::Key_Return);
        return pField->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    auto utc = [](const char* psz) {
        QDateTime t = QDateTime::fromString(QString::fromLatin1(psz), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        t.setTimeSpec(Qt::UTC);
        return t;
    };
    const struct {
        const char* pszShown;
        const char* pszTyped;
        Start enStart;
        bool bTab;
        const char* pszWant;
    } aCases[] = {
        {"2024-05-01 10:00:00", "2024-05-01 09:59:59", SELECT_ALL, false, "2024-05-01 09:59:59"},
        {"2024-05-31 10:00:00", "2024-02-29 23:59:59", SELECT_ALL, false, "2024-02-29 23:59:59"},
        {"2024-02-29 10:00:00", "2023-11-30 01:02:03", CONTROL_A, false, "2023-11-30 01:02:03"},
        {"2024-05-01 10:00:00", "20240531235958", SELECT_ALL, false, "2024-05-31 23:59:58"},
        {"2024-05-01 10:00:00", "2024-5-1 10:0:5", SELECT_ALL, false, "2024-05-01 10:00:05"},
        // Leaving with Tab: the last field's single digit stays (it went back to the shown 47).
        {"2023-10-19 02:14:47", "2001-2-13 14:44:2", SELECT_ALL, true, "2001-02-13 14:44:02"},
        // Typed from the year with the cursor before it (the year stayed 2016).
        {"2016-01-06 16:38:20", "2023/09/13 05:48:49", HOME, true, "2023-09-13 05:48:49"},
        // Over one field chosen by a double click (the digits went into the wrong fields).
        {"2024-01-19 22:05:20", "20160325155042", DOUBLE_CLICK, false, "2016-03-25 15:50:42"},
        {"2001-08-30 08:03:31", "2011/08/01 14:15:16", DOUBLE_CLICK, true, "2011-08-01 14:15:16"},
        {"2024-03-31 10:00:00", "2024-6-30 8:5:1", CLICK, false, "2024-06-30 08:05:01"},
    };
    for (QDateTimeEdit* pField : {dlg.GetStartField(), dlg.GetEndField()}) {
        for (const auto& c : aCases) {
            SCOPED_TRACE(std::string(c.pszShown) + " <- " + c.pszTyped);
            EXPECT_EQ(type(pField, utc(c.pszShown), QString::fromLatin1(c.pszTyped), c.enStart, 120, c.bTab)
                          .toStdString(),
                      c.pszWant);
        }
    }
    // Many more, drawn (with a fixed seed, so a run repeats): dates from 2000 to 2031 in four
    // ways of writing them, each way of starting and ending.
    std::mt19937 rng(5);
    int nWrong = 0;
    for (int i = 0; i < 600; ++i) {
        const QDateTime shown = QDateTime::fromSecsSinceEpoch(946684800 + rng() % 1000000000, Qt::UTC);
        const QDateTime want = QDateTime::fromSecsSinceEpoch(946684800 + rng() % 1000000000, Qt::UTC);
        static const char* const s_apszForms[] = {"yyyy-MM-dd HH:mm:ss", "yyyyMMddHHmmss", "yyyy-M-d H:m:s",
                                                  "yyyy/MM/dd HH:mm:ss"};
        const QString strTyped = want.toString(QString::fromLatin1(s_apszForms[rng() % 4]));
        const Start enStart = static_cast<Start>(rng() % 5);
        const int nX = 3 + static_cast<int>(rng() % 120);
        const bool bTab = rng() % 2 != 0;
        const QString strGot = type(dlg.GetStartField(), shown, strTyped, enStart, nX, bTab);
        if (strGot != want.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) && ++nWrong <= 5)
            ADD_FAILURE() << "shown " << shown.toString(Qt::ISODate).toStdString() << ", typed "
                          << strTyped.toStdString() << " starting " << enStart
                          << (bTab ? ", Tab" : ", Return") << ": " << strGot.toStdString();
    }
    EXPECT_EQ(nWrong, 0);
}
