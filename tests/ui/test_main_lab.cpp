// The main window against the camera simulator in the network lab: the real engines and device
// manager fill the camera lists, opening a camera follows the password rule, the camera's
// refusals become the user's messages and cancel what they must, the close is refused while a
// download runs, and a language change re-labels the open window.
#include "app/startup_engines.h"
#include "core/configfile.h"
#include "core/language.h"
#include "core/notify.h"
#include "core/notifyids.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "download/downloadmanager.h"
#include "filter/izebdecoder.h"
#include "media/video/videosession.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"
#include "platform/module.h"
#include "platform/paths.h"
#include "protocol/engcmd.h"
#include "protocol/engmedia.h"
#include "ui/main/caminfopane.h"
#include "ui/main/camlist.h"
#include "ui/main/dlgcammicset.h"
#include "ui/main/dlgdownload.h"
#include "ui/main/dlglanguage.h"
#include "ui/main/dlgmain.h"
#include "ui/main/dlgnetworkextendinfo.h"
#include "ui/main/dlgrtspshare.h"
#include "ui/main/dlgselectdserver.h"
#include "ui/main/dlgupdatecam.h"
#include "ui/main/mainmessage.h"
#include "ui/main/pcrecording.h"
#include "ui/main/playbackpane.h"
#include "ui/main/shortcutpane.h"
#include "ui/pages/configpage.h"
#include "ui/pages/dlgcamconfigpane.h"
#include "ui/pages/dlgcamsetpane.h"
#include "ui/simpattern.h"
#include "ui/videopane.h"
#include "ui/videorendererwidget.h"
#include "ui/videotoolbar.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

using json = nlohmann::json;

namespace {

json Sim(const QStringList& args)
{
    QProcess process;
    process.start(QString::fromLocal8Bit(std::getenv("MAIN_SIM")),
                  QStringList{QStringLiteral("--send"), QString::fromLocal8Bit(std::getenv("MAIN_SIM_CTL"))} +
                      args);
    process.waitForFinished(5000);
    return json::parse(process.readAllStandardOutput().toStdString(), nullptr, false);
}

QString English(DWORD dwStringID)
{
    return QString::fromStdU16String(GetLanguageManager()->GetString(dwStringID));
}

// Downloads as the window sees them, without a camera's card behind them.
class CFakeDownloads : public IDownloadRecordManager {
public:
    bool Download(DWORD) override { return false; }
    void DownloadNext(DWORD) override {}
    void CancelDownload(DWORD dwID) override { m_setRunning.erase(dwID); }
    void CancelAllDownload() override { m_setRunning.clear(); }
    bool IsDownloading(DWORD dwID) override { return m_setRunning.count(dwID) != 0; }
    bool HasDownloading() override { return !m_setRunning.empty(); }
    int GetDownloadCount() override { return static_cast<int>(m_setRunning.size()); }
    void CheckTask() override {}
    void FeedMediaData(const DownloadFrame&, DWORD) override {}

    std::set<DWORD> m_setRunning;
};

class MainWindowLab : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        LoadSettingsAndLanguage();
        StartEngines();
        SetDownloadRecordManager(&s_downloads);
        s_pMain = new CDlgMain;
        s_pMain->show();
    }
    static void TearDownTestSuite()
    {
        delete s_pMain;
        s_pMain = nullptr;
    }

    void SetUp() override
    {
        m_vecMessages.clear();
        g_fnMainMessageHook = [this](const QString& strText) { m_vecMessages.push_back(strText); };
        g_fnPasswordHook = nullptr;
        s_downloads.m_setRunning.clear();
        s_pMain->OnBtnReal();
    }
    void TearDown() override
    {
        g_fnMainMessageHook = nullptr;
        g_fnPasswordHook = nullptr;
        GetDeviceManager()->CancelSelectDevice();
    }

    static DeviceInfo* WaitForDevice(DWORD dwID)
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
    static QStringList TopNames(const QTreeWidget* pTree)
    {
        QStringList names;
        for (int i = 0; i < pTree->topLevelItemCount(); ++i)
            names << pTree->topLevelItem(i)->text(0);
        return names;
    }
    bool WaitForMessage(const QString& strText, int nTimeout = 10000)
    {
        return QTest::qWaitFor([&] { return m_vecMessages.contains(strText); }, nTimeout);
    }

    static inline CFakeDownloads s_downloads;
    static inline CDlgMain* s_pMain = nullptr;
    QStringList m_vecMessages;
};

TEST_F(MainWindowLab, ListsFillSortAndShowRecorderChannels)
{
    // The window opens searching, and says when the search is done.
    EXPECT_EQ(s_pMain->GetRealplayList()->GetStatusText(), English(IDS_CTL_SCANNING));
    for (DWORD dwID : {900u, 901u, 902u, 903u, 950u})
        ASSERT_NE(WaitForDevice(dwID), nullptr) << dwID;
    ASSERT_NE(WaitForDevice(95002), nullptr);
    QTreeWidget* pTree = s_pMain->GetRealplayList()->GetTree();
    const QStringList byID{QStringLiteral("Zulu"), QStringLiteral("Attic"), QStringLiteral("Locked"),
                           QStringLiteral("Upgrade"), QStringLiteral("Recorder")};
    ASSERT_TRUE(QTest::qWaitFor([&] { return TopNames(pTree) == byID; }, 5000))
        << TopNames(pTree).join(',').toStdString();

    // The recorder's channels sit under it, and every row carries one of the recording tooltips.
    const QTreeWidgetItem* pRecorder = pTree->topLevelItem(4);
    ASSERT_EQ(pRecorder->childCount(), 2);
    EXPECT_EQ(pRecorder->child(0)->text(0), QStringLiteral("Channel 1"));
    EXPECT_EQ(pRecorder->child(1)->text(0), QStringLiteral("Channel 2"));
    const std::set<QString> tips{English(IDS_CAMERA_SD_RECORDING),
                                 English(IDS_CAMERA_SD_ENABLE_NOT_RECORDING),
                                 English(IDS_CAMERA_SD_NOT_ENABLE_RECORD),
                                 English(IDS_CAMERA_NAS_RECORDING),
                                 English(IDS_CAMERA_NAS_ENABLE_NOT_RECORDING),
                                 English(IDS_CAMERA)};
    for (int i = 0; i < pTree->topLevelItemCount(); ++i)
        EXPECT_EQ(tips.count(pTree->topLevelItem(i)->toolTip(0)), 1u) << i;

    // The marks catch up with the recording settings as the replies come, with no list
    // notification: Attic's card does not record. One mark per state, and more than one state
    // (the recorder's recording is not known).
    auto findTop = [&](const QString& strName) {
        const QList<QTreeWidgetItem*> items = pTree->findItems(strName, Qt::MatchExactly);
        return items.isEmpty() ? nullptr : items.first();
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QTreeWidgetItem* pAttic = findTop(QStringLiteral("Attic"));
            return pAttic != nullptr && pAttic->toolTip(0) == English(IDS_CAMERA_SD_NOT_ENABLE_RECORD);
        },
        15000));
    std::map<QString, QRgb> mapMark;
    std::set<QRgb> setMarks;
    for (QTreeWidgetItemIterator it(pTree); *it != nullptr; ++it) {
        const QRgb rgb = (*it)->icon(0).pixmap(32, 32).toImage().pixel(16, 16);
        EXPECT_EQ(mapMark.emplace((*it)->toolTip(0), rgb).first->second, rgb) << (*it)->text(0).toStdString();
        setMarks.insert(rgb);
    }
    EXPECT_EQ(setMarks.size(), mapMark.size());
    EXPECT_GE(mapMark.size(), 2u);

    // The marks are renewed every second and the rows refilled at every camera's change: each
    // state's mark is drawn once, since a new one each time left a scaled copy in the pixmap
    // cache at every paint, for as long as the window stays open.
    std::map<QString, qint64> mapKeys;
    for (QTreeWidgetItemIterator it(pTree); *it != nullptr; ++it)
        mapKeys.emplace((*it)->toolTip(0), (*it)->icon(0).cacheKey());
    s_pMain->GetRealplayList()->UpdateStatus();
    s_pMain->GetRealplayList()->RefreshList();
    for (QTreeWidgetItemIterator it(pTree); *it != nullptr; ++it)
        EXPECT_EQ((*it)->icon(0).cacheKey(), mapKeys.emplace((*it)->toolTip(0), 0).first->second)
            << (*it)->text(0).toStdString();

    // Record on this PC from a row's menu: the camera records and its row carries the mark; the
    // menu again stops it and the mark goes.
    CDlgRealplayCamList* pList = s_pMain->GetRealplayList();
    for (const bool bOn : {true, false}) {
        QTreeWidgetItem* pRow = pTree->topLevelItem(0);
        ASSERT_TRUE(pRow->text(0).startsWith(QStringLiteral("Zulu")));
        QMenu menu;
        pList->FillRecordMenu(menu, pRow);
        ASSERT_FALSE(menu.actions().isEmpty());
        QAction* pRecord = menu.actions().first();
        EXPECT_EQ(pRecord->text(), English(IDS_PCREC_RECORD));
        EXPECT_EQ(pRecord->isChecked(), !bOn);
        pRecord->trigger();
        EXPECT_EQ(GetPcRecordingUi()->IsRecording(900), bOn);
        pRow = pTree->topLevelItem(0);
        EXPECT_EQ(pRow->text(0), bOn ? QStringLiteral("Zulu \u25CF") : QStringLiteral("Zulu"));
        EXPECT_EQ(pRow->toolTip(0).contains(English(IDS_PCREC_MARK)), bOn);
    }
    EXPECT_TRUE(m_vecMessages.isEmpty()) << m_vecMessages.join('|').toStdString();
    // The recorder's word (a full disk, room again) reaches the user once, however it started.
    Q_EMIT GetPcRecordingUi()->message(QStringLiteral("disk full"));
    EXPECT_EQ(m_vecMessages, QStringList{QStringLiteral("disk full")});
    m_vecMessages.clear();

    // Order by name, and back.
    auto* pOrder = s_pMain->GetRealplayList()->findChildren<QPushButton*>().at(0);
    pOrder->click();
    EXPECT_EQ(TopNames(pTree),
              (QStringList{QStringLiteral("Attic"), QStringLiteral("Locked"), QStringLiteral("Recorder"),
                           QStringLiteral("Upgrade"), QStringLiteral("Zulu")}));
    pOrder->click();
    EXPECT_EQ(TopNames(pTree), byID);

    // Re-search: the status reads searching, then finished; the cameras stay.
    s_pMain->GetRealplayList()->findChildren<QPushButton*>().at(1)->click();
    EXPECT_EQ(s_pMain->GetRealplayList()->GetStatusText(), English(IDS_CTL_SCANNING));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return s_pMain->GetRealplayList()->GetStatusText() == English(IDS_CTL_NOSCANNING); }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return TopNames(pTree) == byID; }, 5000));
}

TEST_F(MainWindowLab, PasswordCameraAsksRefusesAWrongOneAndAsksAgainAfterAWrongPasswordStatus)
{
    DeviceInfo* pLocked = WaitForDevice(902);
    ASSERT_NE(pLocked, nullptr);
    CDeviceManager* pManager = GetDeviceManager();
    int nAsked = 0;
    QString strTyped = QStringLiteral("nope");
    g_fnPasswordHook = [&]() -> std::optional<QString> {
        ++nAsked;
        return strTyped;
    };
    CDlgRealplayCamList* pList = s_pMain->GetRealplayList();

    EXPECT_FALSE(pList->OpenDevice(902));
    EXPECT_EQ(nAsked, 1);
    EXPECT_EQ(m_vecMessages, QStringList{English(IDS_HINT_PASSERR)});
    EXPECT_EQ(pManager->GetSelectDevice(), nullptr);

    strTyped = QStringLiteral("open1");
    ASSERT_TRUE(pList->OpenDevice(902));
    EXPECT_EQ(nAsked, 2);
    EXPECT_EQ(pManager->GetSelectDevice(), pLocked);
    EXPECT_EQ(pManager->GetPlayType(), DWORD(PLAY_TYPE_REALTIME));
    // The stored password passes now: opening again does not ask.
    pManager->CancelSelectDevice();
    ASSERT_TRUE(pList->OpenDevice(902));
    EXPECT_EQ(nAsked, 2);

    // The camera's password changes under us while it shows video: its refusal deselects and
    // forgets the stored password, so the next open asks again.
    Sim({QStringLiteral("password"), QStringLiteral("902"), QStringLiteral("open2")});
    EXPECT_TRUE(WaitForMessage(
        English(IDS_PLAY_ERROR_PASSWORD).replace(QStringLiteral("%s"), QStringLiteral("Locked")), 30000))
        << m_vecMessages.join('|').toStdString();
    EXPECT_EQ(pManager->GetSelectDevice(), nullptr);
    EXPECT_EQ(PasswordToText(pLocked->stPassword.pszInputPassword), "");
    g_fnPasswordHook = [&]() -> std::optional<QString> {
        ++nAsked;
        return std::nullopt;
    };
    EXPECT_FALSE(pList->OpenDevice(902));
    EXPECT_EQ(nAsked, 3);
    Sim({QStringLiteral("password"), QStringLiteral("902"), QStringLiteral("open1")});
}

// Each video-status refusal shows its message with the camera's name and cancels the selection
// where the window's table says so; one that does not apply to the current view shows nothing.
TEST_F(MainWindowLab, VideoStatusRefusalsShowTheirMessagesAndCancel)
{
    DeviceInfo* pAttic = WaitForDevice(901);
    ASSERT_NE(pAttic, nullptr);
    CDeviceManager* pManager = GetDeviceManager();
    struct Row {
        int nStatus;
        bool bPlayback;
        DWORD dwText; // 0: no message, the selection stays
    };
    const Row rows[] = {
        {1, false, IDS_INTERNETMODE_PLAY_BY_OTHER},
        {2, false, IDS_PLAY_TOO_MANY_BY_OTHER},
        {4, true, IDS_RECORD_PLAY_BY_OTHER},
        {4, false, 0},
        {2, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "status " << row.nStatus << (row.bPlayback ? " playback" : " live"));
        Sim({QStringLiteral("video-status"), QStringLiteral("901"), QStringLiteral("0")});
        // Answers to the previous row's requests are still on their way.
        QTest::qWait(1000);
        m_vecMessages.clear();
        Sim({QStringLiteral("video-status"), QStringLiteral("901"), QString::number(row.nStatus)});
        if (row.bPlayback)
            s_pMain->OnBtnPlayBack();
        else
            s_pMain->OnBtnReal();
        CDlgDeviceListBase* pList = row.bPlayback
                                        ? static_cast<CDlgDeviceListBase*>(s_pMain->GetPlaybackList())
                                        : s_pMain->GetRealplayList();
        ASSERT_TRUE(pList->OpenDevice(901));
        if (row.dwText != 0) {
            const QString strWant =
                English(row.dwText).replace(QStringLiteral("%s"), QStringLiteral("Attic"));
            EXPECT_TRUE(WaitForMessage(strWant)) << m_vecMessages.join('|').toStdString();
            EXPECT_EQ(pManager->GetSelectDevice(), nullptr);
        } else {
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return pAttic->dwCameraVideoStatus == DWORD(row.nStatus); }, 10000));
            QTest::qWait(300);
            EXPECT_TRUE(m_vecMessages.isEmpty()) << m_vecMessages.join('|').toStdString();
            EXPECT_EQ(pManager->GetSelectDevice(), pAttic);
        }
        pManager->CancelSelectDevice();
    }
    Sim({QStringLiteral("video-status"), QStringLiteral("901"), QStringLiteral("0")});

    s_downloads.m_setRunning = {901};
    m_vecMessages.clear();
    s_pMain->OnBtnPlayBack();
    // The playback list refuses a camera that is downloading.
    EXPECT_FALSE(s_pMain->GetPlaybackList()->OpenDevice(901));
    EXPECT_EQ(m_vecMessages, QStringList{English(IDS_STOPDOWNLOAD_PLAYBACK)});

    // A finished download is reported by name.
    m_vecMessages.clear();
    GetNotifyManager()->Notify(DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH, reinterpret_cast<UINT_PTR>(pAttic));
    EXPECT_EQ(
        m_vecMessages,
        QStringList{
            English(IDS_CAMERA_DOWNLOAD_FINISH).replace(QStringLiteral("%s"), QStringLiteral("Attic"))});
    EXPECT_FALSE(s_downloads.IsDownloading(901));
}

TEST_F(MainWindowLab, TabsSetThePlayTypeOfTheSelection)
{
    DeviceInfo* pZulu = WaitForDevice(900);
    ASSERT_NE(pZulu, nullptr);
    CDeviceManager* pManager = GetDeviceManager();
    ASSERT_TRUE(s_pMain->GetRealplayList()->OpenDevice(900));
    EXPECT_EQ(pManager->GetPlayType(), DWORD(PLAY_TYPE_REALTIME));
    // The information pane shows the selected camera as the simulator has it, and copies its id.
    CDlgCamInfoPane* pInfo = s_pMain->GetInfoPane();
    // At once, not at the pane's next second.
    EXPECT_EQ(pInfo->GetValueText(CDlgCamInfoPane::ROW_SERIAL), QStringLiteral("MAINZ"));
    const json camera = Sim({QStringLiteral("dump"), QStringLiteral("900")})["camera"];
    pInfo->OnTimerStat();
    EXPECT_EQ(pInfo->GetValueText(CDlgCamInfoPane::ROW_IP).toStdString(),
              camera.value("address", std::string("?")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            pInfo->OnTimerStat();
            return pInfo->GetValueText(CDlgCamInfoPane::ROW_VERSION).toStdString() ==
                   camera.value("firmware", std::string("?"));
        },
        10000))
        << pInfo->GetValueText(CDlgCamInfoPane::ROW_VERSION).toStdString() << " " << camera.dump();
    ASSERT_TRUE(pInfo->OnBtnCopy());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("MAINZ"));
    // While the cameras are shared as RTSP streams (only then), the pane shows the camera's URL
    // and copies it; an open address without an account and a taken port are refused with
    // their reasons, and what served goes on.
    EXPECT_TRUE(pInfo->GetValueText(CDlgCamInfoPane::ROW_RTSP).isEmpty());
    {
        CRtspSharingUi* pProcessWide = FindRtspSharingUi();
        CRtspSharingUi sharing(nullptr, *CEngMedia::GetInstance(), *pManager);
        SetRtspSharingUi(&sharing);
        RtspShareSettings settings;
        settings.bOn = true;
        settings.nPort = 0;
        QString strError;
        ASSERT_TRUE(sharing.SetSettings(settings, {}, strError)) << strError.toStdString();
        pInfo->OnTimerStat();
        const QString strUrl = pInfo->GetValueText(CDlgCamInfoPane::ROW_RTSP);
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^rtsp://127\\.0\\.0\\.1:(\\d+)/MAINZ$")).match(strUrl);
        ASSERT_TRUE(match.hasMatch()) << strUrl.toStdString();
        ASSERT_TRUE(pInfo->OnBtnCopyUrl());
        EXPECT_EQ(QGuiApplication::clipboard()->text(), strUrl);
        RtspShareSettings open = settings;
        open.strAddress = "198.18.0.1";
        EXPECT_FALSE(sharing.SetSettings(open, {}, strError));
        EXPECT_EQ(strError.toStdString(), English(IDS_RTSP_NEED_ACCOUNT)
                                              .replace(QStringLiteral("%s"), QStringLiteral("198.18.0.1"))
                                              .toStdString());
        EXPECT_TRUE(sharing.IsSharing());
        CRtspSharingUi second(nullptr, *CEngMedia::GetInstance(), *pManager);
        RtspShareSettings taken = settings;
        taken.nPort = match.captured(1).toInt();
        EXPECT_FALSE(second.SetSettings(taken, {}, strError));
        EXPECT_EQ(strError.toStdString(),
                  English(IDS_RTSP_LISTEN_FAIL)
                      .replace(QStringLiteral("%s"), QStringLiteral("127.0.0.1:") + match.captured(1))
                      .toStdString());
        settings.bOn = false;
        ASSERT_TRUE(sharing.SetSettings(settings, {}, strError));
        pInfo->OnTimerStat();
        EXPECT_TRUE(pInfo->GetValueText(CDlgCamInfoPane::ROW_RTSP).isEmpty());
        EXPECT_FALSE(pInfo->OnBtnCopyUrl());
        SetRtspSharingUi(pProcessWide);
    }
    // The D-server link and the port mapping as the camera reports them; Repair asks it to
    // connect, and the pane follows the camera when it starts mapping ports.
    auto waitRow = [&](int nRow, const QString& strWant) {
        const bool bSeen = QTest::qWaitFor(
            [&] {
                pInfo->OnTimerStat();
                return pInfo->GetValueText(nRow) == strWant;
            },
            15000);
        EXPECT_TRUE(bSeen) << nRow << ": " << pInfo->GetValueText(nRow).toStdString();
    };
    waitRow(CDlgCamInfoPane::ROW_DSERVER,
            English(IDS_MODE_UNREGISTER).replace(QStringLiteral("%s"), QStringLiteral("d.example.lab")));
    waitRow(CDlgCamInfoPane::ROW_UPNP, English(IDS_ST_UPNPNOTUSE));
    {
        // No servers to choose from: the camera is asked to connect to its own.
        const CConfigFileDServer noList(QDir::tempPath().toStdString() + "/no-such-folder/");
        pInfo->SetDServerList(&noList);
        ASSERT_TRUE(pInfo->OnBtnRepair());
        pInfo->SetDServerList(nullptr);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return Sim({QStringLiteral("dump"),
                            QStringLiteral("900")})["camera"]["settings"]["dserver_link"] == 1;
            },
            5000));
    }
    {
        // The settings file lists servers: Repair offers them with the camera's own chosen,
        // refuses none and one without an address, and tells the camera the chosen one along
        // with the rest of its own record (the second name, as the client holds it).
        QStringList rows, refusals;
        int nPreselected = -1;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* pDlg = qobject_cast<CDlgSelectDServer*>(QApplication::activeModalWidget());
            if (pDlg == nullptr)
                return;
            answer.stop();
            rows = pDlg->GetRowTexts();
            nPreselected = pDlg->GetServer();
            for (int nServer : {0, 3}) {
                pDlg->SetServer(nServer);
                pDlg->accept();
            }
            refusals = m_vecMessages;
            m_vecMessages.clear();
            pDlg->SetServer(2);
            pDlg->accept();
        });
        answer.start(20);
        ASSERT_TRUE(pInfo->OnBtnRepair());
        EXPECT_EQ(rows, (QStringList{QStringLiteral("Lab (d.example.lab)"),
                                     QStringLiteral("Second (d2.example.lab)"),
                                     QStringLiteral("Blank (0.0.0.0)")}));
        EXPECT_EQ(nPreselected, 1);
        EXPECT_EQ(refusals, (QStringList{English(IDS_HINT_SERVER_EMPTY), English(IDS_HINT_SERVER_INVALID)}));
        json told;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                told = Sim({QStringLiteral("dump"), QStringLiteral("900")})["camera"]["last_set"];
                return told.value("dserver_connect", std::string()) == "d2.example.lab";
            },
            5000))
            << told.dump();
        const std::string strBlock =
            QByteArray("d.example.lab").leftJustified(31, '\0').toHex().toStdString();
        EXPECT_EQ(told.value("dserver_block", std::string()), strBlock) << told.dump();
        waitRow(CDlgCamInfoPane::ROW_DSERVER,
                English(IDS_MODE_CONNECT).replace(QStringLiteral("%s"), QStringLiteral("d2.example.lab")));
    }
    GetEngCmd()->Cmd_UpnpConnect(900, 1);
    GetEngCmd()->Cmd_UpnpQuery(900);
    waitRow(CDlgCamInfoPane::ROW_UPNP, English(IDS_ST_UPNPTRYING));
    // The video figures of the last second, from the stream the camera sends.
    const QRegularExpression statForm(QStringLiteral("^(\\d+\\.\\d) fps, \\d+\\.\\d Kbps$"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QRegularExpressionMatch match =
                statForm.match(pInfo->GetValueText(CDlgCamInfoPane::ROW_STAT));
            return match.hasMatch() && match.captured(1).toDouble() > 0;
        },
        15000))
        << pInfo->GetValueText(CDlgCamInfoPane::ROW_STAT).toStdString();
    // Detail: the addresses the camera reports for itself and the ports it is reached on.
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return pManager->GetSelectDevice()->stQuery.bCmdGetNetParam != 0; },
                                    10000));
        CDlgNetworkExtendInfo dlg(s_pMain);
        ASSERT_TRUE(dlg.Request());
        const json net = camera["settings"]["network"];
        QStringList want;
        for (const char* pszKey : {"address", "netmask", "gateway", "dns1", "dns2"})
            want << QString::fromStdString(net.value(pszKey, std::string("?")));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return dlg.GetAddressText() == want.join(QStringLiteral("\n\n")); }, 5000))
            << dlg.GetAddressText().toStdString() << " / " << net.dump();
        const json ports = camera["settings"]["ports"];
        EXPECT_EQ(
            dlg.GetPortText(),
            QStringLiteral("%1(all)\n%2(all)").arg(ports.value("app", 0)).arg(ports.value("mobile", 0)));
    }
    // Microphone setting: each change reaches the camera at once and leaves its switch alone.
    {
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return pManager->GetSelectDevice()->stQuery.bCmdGetVolume != 0; }, 10000));
        const json before = camera["settings"]["volume"];
        CDlgShortcutKeyCamMicSet dlg(pManager->GetSelectDevice(), s_pMain);
        EXPECT_EQ(dlg.GetVolume(), before.value("vol_microphone", -1));
        const std::pair<CDlgShortcutKeyCamMicSet::MicType, int> steps[] = {
            {CDlgShortcutKeyCamMicSet::MIC_OUTER, dlg.GetVolume()},
            {CDlgShortcutKeyCamMicSet::MIC_OUTER, 37},
            {CDlgShortcutKeyCamMicSet::MIC_INTER, 37}};
        for (const auto& [enType, nVolume] : steps) {
            dlg.SetMicType(enType);
            dlg.SetVolume(nVolume);
            json now;
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    now =
                        Sim({QStringLiteral("dump"), QStringLiteral("900")})["camera"]["settings"]["volume"];
                    return now.value("microphone_type", -1) == enType &&
                           now.value("vol_microphone", -1) == nVolume;
                },
                5000))
                << enType << " " << nVolume << " " << now.dump();
            EXPECT_EQ(now.value("mic_enable", false), before.value("mic_enable", true));
        }
    }
    EXPECT_TRUE(m_vecMessages.isEmpty()) << m_vecMessages.join('|').toStdString();
    // Talk and listen: the toolbar under the picture and the shortcut pane are one switch each,
    // and neither stays on past the view.
    CVideoToolbar* pToolbar = s_pMain->GetVideoArea()->findChild<CDlgVideoPane*>()->Toolbar();
    CDlgShortcutKeyPane* pShortcuts = s_pMain->GetShortcutPane();
    pToolbar->SpeakerButton()->click();
    EXPECT_TRUE(pShortcuts->IsSpeakerOn());
    pShortcuts->findChildren<QPushButton*>().at(1)->click(); // the PC microphone
    EXPECT_TRUE(pToolbar->MicrophoneButton()->isChecked());
    EXPECT_TRUE(pZulu->bSpeakToCam != 0 && pZulu->bListenFromCam != 0);
    // Live video does not follow into playback.
    s_pMain->OnBtnPlayBack();
    EXPECT_EQ(s_pMain->GetBtnType(), CDlgMain::BTN_PLAYBACK);
    EXPECT_EQ(pManager->GetSelectDevice(), nullptr);
    EXPECT_FALSE(pZulu->bSpeakToCam != 0 || pZulu->bListenFromCam != 0);
    EXPECT_FALSE(pShortcuts->IsSpeakerOn() || pShortcuts->IsMicrophoneOn());
    // With no picture the snapshot, talk and listen buttons are off, not clicks that do nothing.
    for (int i : {0, 1, 2})
        EXPECT_FALSE(pShortcuts->findChildren<QPushButton*>().at(i)->isEnabled()) << i;
    ASSERT_TRUE(s_pMain->GetPlaybackList()->OpenDevice(900));
    EXPECT_EQ(pManager->GetPlayType(), DWORD(PLAY_TYPE_PLAYBACK));
    // Recordings on the share are the second kind of playback.
    s_pMain->GetPlaybackList()->findChildren<QPushButton*>().at(2)->click();
    ASSERT_TRUE(s_pMain->GetPlaybackList()->OpenDevice(900));
    EXPECT_EQ(pManager->GetPlayType(), DWORD(PLAY_TYPE_PLAYBACK_OPT));
    // The PC's own recordings: nothing is selected and the camera is not asked, the playback
    // pane plays them; back to the card, the camera is selected for it again, and leaving the
    // tab ends a PC playback.
    auto* pPcSource = s_pMain->GetPlaybackList()->findChild<QPushButton*>(QStringLiteral("sourcePc"));
    ASSERT_NE(pPcSource, nullptr);
    EXPECT_EQ(pPcSource->accessibleName(), English(IDS_PLAYSOURCE_PBPC));
    pPcSource->click();
    ASSERT_TRUE(s_pMain->GetPlaybackList()->OpenDevice(900));
    EXPECT_EQ(pManager->GetSelectDevice(), nullptr);
    EXPECT_TRUE(s_pMain->GetPlaybackPane()->IsPcPlayback());
    s_pMain->GetPlaybackList()->findChildren<QPushButton*>().at(1)->click();
    ASSERT_TRUE(s_pMain->GetPlaybackList()->OpenDevice(900));
    EXPECT_FALSE(s_pMain->GetPlaybackPane()->IsPcPlayback());
    EXPECT_EQ(pManager->GetPlayType(), DWORD(PLAY_TYPE_PLAYBACK));
    pPcSource->click();
    ASSERT_TRUE(s_pMain->GetPlaybackList()->OpenDevice(900));
    EXPECT_TRUE(s_pMain->GetPlaybackPane()->IsPcPlayback());
    s_pMain->GetPlaybackList()->findChildren<QPushButton*>().at(0)->click();
    // A recorder has no video of its own and is not selected.
    s_pMain->OnBtnSetConfig();
    EXPECT_FALSE(s_pMain->GetPlaybackPane()->IsPcPlayback());
    EXPECT_EQ(pManager->GetSelectDevice(), nullptr);
    EXPECT_FALSE(s_pMain->GetConfigList()->OpenDevice(950));
    EXPECT_EQ(pManager->GetSelectDevice(), nullptr);
    ASSERT_TRUE(s_pMain->GetConfigList()->OpenDevice(95001));
    EXPECT_EQ(pManager->GetPlayType(), DWORD(PLAY_TYPE_REALTIME));
    // The configuration pages show the camera opened for live view, and their list marks it;
    // with none the pages are empty, not the last camera's values greyed out.
    s_pMain->OnBtnReal();
    ASSERT_TRUE(s_pMain->GetRealplayList()->OpenDevice(900));
    s_pMain->OnBtnSetConfig();
    QTreeWidgetItem* pCurrent = s_pMain->GetConfigList()->GetTree()->currentItem();
    ASSERT_NE(pCurrent, nullptr);
    EXPECT_EQ(pCurrent->text(0), QStringLiteral("Zulu"));
    const auto showsControls = [] {
        const QList<CConfigPage*> pages = s_pMain->findChildren<CConfigPage*>();
        return std::any_of(pages.begin(), pages.end(), [](CConfigPage* p) {
            return p->GetSaveButton() != nullptr && p->GetSaveButton()->isVisibleTo(p);
        });
    };
    EXPECT_TRUE(showsControls());
    pManager->CancelSelectDevice();
    s_pMain->OnBtnReal();
    s_pMain->OnBtnSetConfig();
    EXPECT_EQ(s_pMain->GetConfigList()->GetTree()->currentItem(), nullptr);
    EXPECT_FALSE(showsControls());
}

TEST_F(MainWindowLab, CloseIsRefusedWhileADownloadRuns)
{
    s_downloads.m_setRunning = {900};
    s_pMain->OnBtnClose();
    EXPECT_TRUE(s_pMain->isVisible());
    EXPECT_FALSE(s_pMain->close());
    EXPECT_TRUE(s_pMain->isVisible());
    EXPECT_EQ(m_vecMessages,
              (QStringList{English(IDS_STOPDOWNLOAD_CLOSEAPP), English(IDS_STOPDOWNLOAD_CLOSEAPP)}));
    s_downloads.m_setRunning.clear();
    // Escape, from the window or a control in it, never ends the program.
    QTest::keyClick(s_pMain, Qt::Key_Escape);
    QTest::keyClick(s_pMain->findChild<QTreeWidget*>(), Qt::Key_Escape);
    EXPECT_TRUE(s_pMain->isVisible());
    EXPECT_EQ(s_pMain->result(), 0);
}

// Texts of the window (hosted configuration pages included) that are still English table texts
// with another wording in the current language.
QStringList LeftInEnglish(QWidget* pRoot)
{
    static CLanguageManager s_english;
    s_english.LoadLanguage(9);
    QStringList texts;
    for (QWidget* pWidget : pRoot->findChildren<QWidget*>()) {
        if (auto* pLabel = qobject_cast<QLabel*>(pWidget))
            texts << pLabel->text();
        else if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget))
            texts << pButton->text();
        else if (auto* pGroup = qobject_cast<QGroupBox*>(pWidget))
            texts << pGroup->title();
        else if (auto* pTabs = qobject_cast<QTabBar*>(pWidget))
            for (int i = 0; i < pTabs->count(); ++i)
                texts << pTabs->tabText(i);
        else if (auto* pCombo = qobject_cast<QComboBox*>(pWidget))
            for (int i = 0; i < pCombo->count(); ++i)
                texts << pCombo->itemText(i);
    }
    QStringList left;
    for (const QString& strText : texts) {
        const DWORD dwID = strText.isEmpty() ? 0 : s_english.FindStringID(strText.toStdU16String());
        if (dwID != 0 && QString::fromStdU16String(GetLanguageManager()->GetString(dwID)) != strText)
            left << strText;
    }
    return left;
}

// A change of language re-labels the whole open window, the hosted configuration pages too, and
// is stored with the choice of showing the dialog at start-up; the window's place and last tab
// are kept in the configuration as well.
TEST_F(MainWindowLab, LanguageChangeRelabelsTheOpenWindowAndSettingsAreKept)
{
    auto* pTab = s_pMain->findChild<QPushButton*>(QStringLiteral("mainTab0"));
    ASSERT_NE(pTab, nullptr);
    EXPECT_EQ(pTab->text(), QStringLiteral("Real Time"));
    s_pMain->OnBtnSetConfig();
    QTest::qWait(50);
    for (const int nLanguageID : {2052, 1028}) {
        {
            CDlgLanguage dlg(s_pMain);
            dlg.SetLanguageID(nLanguageID);
            dlg.SetShowAtStartup(nLanguageID == 2052);
            dlg.accept();
        }
        EXPECT_EQ(GetLanguageManager()->GetCurrentLanguage(), nLanguageID);
        EXPECT_NE(pTab->text(), QStringLiteral("Real Time")) << nLanguageID;
        const QStringList left = LeftInEnglish(s_pMain);
        EXPECT_TRUE(left.isEmpty()) << nLanguageID << ": " << left.join('|').toStdString();
        // Qt's own buttons (questions, file chooser) follow.
        EXPECT_NE(QDialogButtonBox(QDialogButtonBox::Cancel).button(QDialogButtonBox::Cancel)->text(),
                  QStringLiteral("Cancel"))
            << nLanguageID;
        // Stored in the file, as a fresh reader finds it.
        CConfigFileManager stored(GetProgramFolder());
        EXPECT_EQ(stored.GetLanguageID(), nLanguageID);
        EXPECT_EQ(stored.IsShowDialogue(), nLanguageID == 2052);
    }
    CDlgLanguage::ApplyLanguage(9);
    EXPECT_EQ(pTab->text(), QStringLiteral("Real Time"));
    EXPECT_TRUE(LeftInEnglish(s_pMain).isEmpty());
    EXPECT_EQ(QDialogButtonBox(QDialogButtonBox::Cancel).button(QDialogButtonBox::Cancel)->text(),
              QStringLiteral("Cancel"));

    // Closing keeps the place and the tab; the next window opens with them.
    const QRect place(40, 30, 1000, 650);
    s_pMain->setGeometry(place);
    QTest::qWait(50);
    const QRect saved = s_pMain->geometry();
    s_pMain->SaveWindowState();
    s_pMain->OnBtnReal();
    s_pMain->setGeometry(QRect(10, 10, 900, 600));
    s_pMain->RestoreWindowState();
    EXPECT_EQ(s_pMain->GetBtnType(), CDlgMain::BTN_CONFIG);
    EXPECT_EQ(s_pMain->geometry().size(), saved.size());
    CConfigFileManager stored(GetProgramFolder());
    EXPECT_EQ(stored.GetWindowValue(u"tab"), u"2");
    s_pMain->OnBtnReal();
}

// The keyboard alone reaches every control of the live-view tab: Tab walks each visible, enabled
// control once, the tab bar first and left to right, and comes back to where it started.
TEST_F(MainWindowLab, TabKeyWalksEveryControlOnceBarFirst)
{
    ASSERT_NE(WaitForDevice(900), nullptr);
    s_pMain->activateWindow();
    QApplication::setActiveWindow(s_pMain);
    auto* pFirst = s_pMain->findChild<QPushButton*>(QStringLiteral("mainTab0"));
    ASSERT_NE(pFirst, nullptr);
    pFirst->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == pFirst; }, 2000));
    std::set<QWidget*> setReachable;
    for (QWidget* pWidget : s_pMain->findChildren<QWidget*>()) {
        if (pWidget->isVisible() && pWidget->isEnabled() && (pWidget->focusPolicy() & Qt::TabFocus) != 0)
            setReachable.insert(pWidget);
    }
    QList<QWidget*> walk;
    for (std::size_t i = 0; i <= setReachable.size(); ++i) {
        walk << QApplication::focusWidget();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() == pFirst)
            break;
    }
    QStringList names;
    for (QWidget* pWidget : walk)
        names << QStringLiteral("%1(%2)").arg(QLatin1String(pWidget->metaObject()->className()),
                                              pWidget->objectName());
    EXPECT_EQ(QApplication::focusWidget(), pFirst) << names.join(' ').toStdString();
    EXPECT_EQ(std::set<QWidget*>(walk.begin(), walk.end()), setReachable) << names.join(' ').toStdString();
    EXPECT_EQ(static_cast<std::size_t>(walk.size()), setReachable.size()) << names.join(' ').toStdString();
    // The bar: the five tabs and the five window buttons, left to right.
    ASSERT_GE(walk.size(), 10);
    for (int i = 1; i < 10; ++i) {
        EXPECT_TRUE(qobject_cast<QPushButton*>(walk[i]) != nullptr) << names.join(' ').toStdString();
        EXPECT_GT(walk[i]->mapTo(s_pMain, QPoint()).x(), walk[i - 1]->mapTo(s_pMain, QPoint()).x()) << i;
    }
}

// Light pixels (text) in the middle third of the pane's video area.
int LightPixels(CDlgVideoPane* pPane)
{
    const QImage image = pPane->grab(pPane->VideoArea()).toImage();
    int nLight = 0;
    for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y)
        for (int x = 0; x < image.width(); ++x)
            nLight += qGray(image.pixel(x, y)) > 128;
    return nLight;
}

// Every tab in the three languages at the default size, with a camera's live picture, saved for
// looking at; no text of the window's own controls is cut off (the hosted configuration pages
// have tests of their own). Before that, a client whose decoder module cannot be loaded says so
// in the pane instead of showing black.
TEST_F(MainWindowLab, EveryTabInEveryLanguageFitsItsTexts)
{
    ASSERT_NE(WaitForDevice(950), nullptr);
    ASSERT_NE(WaitForDevice(901), nullptr);
    const QString strDir = QStringLiteral(VISTREL_MAIN_SCREENSHOT_DIR);
    QDir().mkpath(strDir);
    auto* pVideo = s_pMain->findChild<CDlgVideoPane*>();
    ASSERT_NE(pVideo, nullptr);
    {
        const CRegistry classes = CRegistry::ClassesRoot();
        const std::string strKey = "CLSID\\" + GuidToString(CLSID_ZebDecoder) + "\\InprocServer32";
        std::string strModule;
        ASSERT_EQ(classes.GetValue(strKey, "", &strModule), DWORD(ERROR_SUCCESS));
        ASSERT_EQ(classes.SetValue(strKey, "", "/nonexistent/libZebH264Filter.so"), DWORD(ERROR_SUCCESS));
        const bool bOpened = s_pMain->GetRealplayList()->OpenDevice(901);
        const bool bMissing = QTest::qWaitFor(
            [&] {
                const CVideoSession* pSession = pVideo->Logic().Session();
                return pSession != nullptr && pSession->DecoderMissing();
            },
            15000);
        ASSERT_EQ(classes.SetValue(strKey, "", strModule), DWORD(ERROR_SUCCESS));
        ASSERT_TRUE(bOpened);
        ASSERT_TRUE(bMissing);
        EXPECT_TRUE(QTest::qWaitFor([&] { return LightPixels(pVideo) > 50; }, 3000));
        EXPECT_TRUE(s_pMain->grab().save(QStringLiteral("%1/main_%2nodecoder.png")
                                             .arg(strDir, qEnvironmentVariable("MAIN_SCREENSHOT_TAG"))));
        GetDeviceManager()->CancelSelectDevice();
    }
    // With the module: the simulator's pattern, blue rising to the right in the lower half.
    ASSERT_TRUE(s_pMain->GetRealplayList()->OpenDevice(901));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pVideo->VideoWindow() != nullptr && pVideo->VideoWindow()->FramesPresented() >= 5; },
        15000));
    const QImage picture = pVideo->VideoWindow()->CurrentImage();
    ASSERT_FALSE(picture.isNull());
    // Scaled to the screen's pixels, not to the window's points and enlarged again (soft at 200 %).
    EXPECT_EQ(picture.devicePixelRatio(), pVideo->devicePixelRatioF());
    EXPECT_GT(uitest::LowerBlue(picture, picture.width() * 5 / 8), uitest::LowerBlue(picture, 0) + 20);
    {
        // A double click shows the picture on the whole screen, a click there is only a click,
        // and a double click there returns it.
        CVideoRendererWidget* pWindow = pVideo->VideoWindow();
        QTest::mouseDClick(pWindow, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pWindow->isFullScreen(); }, 2000));
        EXPECT_TRUE(pWindow->parentWidget() == nullptr);
        QTest::mouseClick(pWindow, Qt::LeftButton);
        QTest::qWait(100);
        EXPECT_TRUE(pWindow->isFullScreen());
        QTest::mouseDClick(pWindow, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !pWindow->isFullScreen(); }, 2000));
        EXPECT_EQ(pWindow->parentWidget(), pVideo);
        // At once, not with the next picture: the last picture whole at the window's size (the
        // full-screen one showed as it was, its bar on top); and the window stays in its place
        // when the window system's late events arrive.
        const QImage shown = pWindow->grab().toImage();
        int nLit = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < shown.width(); ++x)
                nLit += qGray(shown.pixel(x, y)) > 16;
        EXPECT_GT(nLit, shown.width() * 8 / 2);
        QTest::qWait(300);
        EXPECT_TRUE(pVideo->VideoArea().contains(pWindow->geometry()));
        EXPECT_LE((pWindow->geometry().center() - pVideo->VideoArea().center()).manhattanLength(), 2);
    }
    const std::pair<int, const char*> languages[] = {{9, "en"}, {2052, "zh_CN"}, {1028, "zh_TW"}};
    for (const auto& [nLanguageID, pszName] : languages) {
        CDlgLanguage::ApplyLanguage(nLanguageID);
        for (int nTab = 0; nTab < 3; ++nTab) {
            if (nTab == 0) {
                s_pMain->OnBtnReal();
                // The other tabs end live view: show the camera again.
                if (GetDeviceManager()->GetSelectDevice() == nullptr) {
                    const auto nShown = [&] {
                        return pVideo->VideoWindow() != nullptr ? pVideo->VideoWindow()->FramesPresented()
                                                                : 0;
                    };
                    const auto nBefore = nShown();
                    EXPECT_TRUE(s_pMain->GetRealplayList()->OpenDevice(901));
                    EXPECT_TRUE(QTest::qWaitFor([&] { return nShown() >= nBefore + 3; }, 15000));
                    s_pMain->GetInfoPane()->OnTimerStat();
                }
            } else if (nTab == 1) {
                s_pMain->OnBtnPlayBack();
                // On a scaled screen the empty pane's background is the picture drawn at twice the
                // size, copied pixel for pixel; the plain one enlarged differs by some 5 levels.
                if (pVideo->devicePixelRatioF() > 1.0 && pVideo->VideoWindow() == nullptr) {
                    const QImage want(QString::fromStdString(
                        GetProgramFilePath("PictureSkin\\Pic_Video_Background@2x.jpg")));
                    const QImage shown = pVideo->grab(pVideo->VideoArea()).toImage();
                    ASSERT_FALSE(want.isNull());
                    const QPoint ptAt(2 * ((shown.width() - want.width()) / 4),
                                      2 * ((shown.height() - want.height()) / 4));
                    double dDiff = 0;
                    for (int y = 0; y < want.height(); ++y)
                        for (int x = 0; x < want.width(); ++x)
                            dDiff +=
                                std::abs(qGray(shown.pixel(ptAt + QPoint(x, y))) - qGray(want.pixel(x, y)));
                    EXPECT_LT(dDiff / (want.width() * want.height()), 1.0);
                }
            } else {
                s_pMain->OnBtnSetConfig();
            }
            // Texts cut off, by widget; new texts lay the window out over a few turns of the loop.
            const auto cut = [&] {
                QStringList names;
                for (QWidget* pWidget : s_pMain->findChildren<QWidget*>()) {
                    if (!pWidget->isVisible() || pWidget->parentWidget() == nullptr)
                        continue;
                    bool bHosted = false;
                    for (QWidget* p = pWidget; p != nullptr; p = p->parentWidget())
                        bHosted = bHosted || qobject_cast<CDlgCamConfigPane*>(p) ||
                                  qobject_cast<CDlgCamSetPane*>(p);
                    const bool bText =
                        qobject_cast<QPushButton*>(pWidget) || qobject_cast<QCheckBox*>(pWidget) ||
                        (qobject_cast<QLabel*>(pWidget) && !qobject_cast<QLabel*>(pWidget)->wordWrap());
                    if (!bHosted && bText && pWidget->width() < pWidget->minimumSizeHint().width())
                        names << QStringLiteral("%1 %2 (%3 < %4)")
                                     .arg(QLatin1String(pWidget->metaObject()->className()),
                                          pWidget->objectName())
                                     .arg(pWidget->width())
                                     .arg(pWidget->minimumSizeHint().width());
                }
                return names;
            };
            (void)QTest::qWaitFor([&] { return cut().isEmpty(); }, 2000);
            // A run at another scale names its pictures apart ("main_x2_...").
            const QString strFile = QStringLiteral("%1/main_%2%3_tab%4.png")
                                        .arg(strDir, qEnvironmentVariable("MAIN_SCREENSHOT_TAG"))
                                        .arg(QLatin1String(pszName))
                                        .arg(nTab);
            EXPECT_TRUE(s_pMain->grab().save(strFile)) << strFile.toStdString();
            // On an X server also the screen itself ("..._screen.png"): a grab paints the widgets
            // afresh and can differ from what the window shows.
            if (QGuiApplication::platformName() == QLatin1String("xcb")) {
                QTest::qWait(300); // the window's paints reach the server
                QProcess::execute(
                    QStringLiteral("import"),
                    {QStringLiteral("-window"), QStringLiteral("root"),
                     QString(strFile).replace(QLatin1String(".png"), QLatin1String("_screen.png"))});
            }
            EXPECT_EQ(cut(), QStringList()) << pszName << " tab " << nTab;
            // On the 1280 by 800 of a 2560-pixel screen at 200 %, every tab fits (the offscreen
            // platform's screen is 800 by 600: too small to ask that).
            if (QGuiApplication::platformName() == QLatin1String("xcb")) {
                EXPECT_LE(s_pMain->width(), s_pMain->screen()->availableGeometry().width()) << nTab;
            }
        }
    }
    CDlgLanguage::ApplyLanguage(9);
}

// The download dialog against the real download manager: the checks refuse a range outside the
// recording, then the camera's whole recording comes down to the end into the record folder.
TEST_F(MainWindowLab, DownloadDialogRunsADownloadToTheEnd)
{
    DeviceInfo* pAttic = WaitForDevice(901);
    ASSERT_NE(pAttic, nullptr);
    IDownloadRecordManager* pOld = SetDownloadRecordManager(CDownloadRecordManager::GetInstance());
    g_fnConfirmHook = [](const QString&) { return true; };
    {
        CDlgDownloadRecord dlg(s_pMain);
        dlg.show();
        // Nothing chosen yet.
        dlg.OnBtnDownload();
        EXPECT_EQ(m_vecMessages, QStringList{English(IDS_SELECT_DOWNLOAD_CAMERA)});
        ASSERT_TRUE(dlg.SelectCamera(901));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !dlg.GetCellText(901, CDlgDownloadRecord::COL_RECORD_RANGE).isEmpty(); }, 15000));
        // Camera times show as stamped, whatever the PC's zone.
        EXPECT_EQ(dlg.GetCellText(901, CDlgDownloadRecord::COL_RECORD_RANGE),
                  QStringLiteral("2024-05-01 10:00:00 -\n2024-05-01 10:00:30"));
        const DWORD dwStart = pAttic->dwRecordTimeStart;
        const DWORD dwEnd = pAttic->dwRecordTimeEnd;
        // The ranges typed whole over the fields' text, with and without separators and
        // leading zeros: a second off in any field turns one refusal into another.
        auto type = [](QDateTimeEdit* pField, const QString& strText) {
            pField->setFocus();
            pField->selectAll();
            QTest::keyClicks(pField, strText);
            QTest::keyClick(pField, Qt::Key_Return);
        };
        const struct {
            const char *pszFrom, *pszTo;
            DWORD dwText;
        } refusals[] = {{"2024-05-01 09:59:59", "2024-05-01 10:00:30", IDS_HINT_TIME_ERROR1},
                        {"20240501100000", "20240501100031", IDS_HINT_TIME_ERROR2},
                        {"2024-5-1 10:0:10", "2024-5-1 10:0:5", IDS_HINT_TIME_ERROR3}};
        for (const auto& refusal : refusals) {
            m_vecMessages.clear();
            type(dlg.GetStartField(), QString::fromLatin1(refusal.pszFrom));
            type(dlg.GetEndField(), QString::fromLatin1(refusal.pszTo));
            dlg.OnBtnDownload();
            EXPECT_EQ(m_vecMessages, QStringList{English(refusal.dwText)}) << refusal.pszFrom;
        }
        m_vecMessages.clear();
        dlg.OnBtnStop();
        EXPECT_EQ(m_vecMessages, QStringList{English(IDS_SELECT_NOTDOWNLOAD_CAMERA)});

        m_vecMessages.clear();
        dlg.SetRange(dwStart, dwEnd);
        dlg.OnBtnDownload();
        EXPECT_TRUE(GetDownloadRecordManager()->IsDownloading(901));
        // The window will not close under a running download.
        EXPECT_FALSE(s_pMain->close());
        ASSERT_TRUE(WaitForMessage(
            English(IDS_CAMERA_DOWNLOAD_FINISH).replace(QStringLiteral("%s"), QStringLiteral("Attic")),
            90000))
            << m_vecMessages.join('|').toStdString();
        QTest::qWait(1100);
        // The time it took stays; it does not run on after the end.
        const QString strTook = dlg.GetCellText(901, CDlgDownloadRecord::COL_TIME);
        QTest::qWait(1100);
        EXPECT_EQ(dlg.GetCellText(901, CDlgDownloadRecord::COL_TIME), strTook);
        EXPECT_EQ(dlg.GetCellText(901, CDlgDownloadRecord::COL_PERCENT), QStringLiteral("Progress: 100%"));
        EXPECT_NE(dlg.GetCellText(901, CDlgDownloadRecord::COL_DATA), QStringLiteral("0.00 MB"));
        EXPECT_EQ(CDownloadRecordManager::GetInstance()->GetFailure(901), "");
        // Every column in sight at the dialog's own width, the percentage too.
        EXPECT_LE(dlg.GetList()->header()->length(), dlg.GetList()->viewport()->width());
        dlg.grab().save(QStringLiteral(VISTREL_MAIN_SCREENSHOT_DIR "/download_en.png"));

        // A camera whose password is not known: the dialog asks for it, as a list does, and
        // the download starts with it. Its folder cannot be made (a file has its name): the
        // download stops, and the main window and the dialog say it failed and why, not that it
        // completed.
        const QString strBlocked =
            QString::fromLocal8Bit(std::getenv("MAIN_RECORD_DIR")) + QStringLiteral("/Locked (MAINL)");
        {
            QFile blocker(strBlocked);
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
        int nAsked = 0;
        g_fnPasswordHook = [&]() -> std::optional<QString> {
            ++nAsked;
            return QStringLiteral("open1");
        };
        ASSERT_TRUE(dlg.SelectCamera(902));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !dlg.GetCellText(902, CDlgDownloadRecord::COL_RECORD_RANGE).isEmpty(); }, 15000));
        m_vecMessages.clear();
        dlg.OnBtnDownload();
        g_fnPasswordHook = nullptr;
        EXPECT_EQ(nAsked, 1);
        const QString strFailed =
            English(IDS_CAMERA_DOWNLOAD_FAILED).replace(QStringLiteral("%s"), QStringLiteral("Locked"));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return std::any_of(m_vecMessages.begin(), m_vecMessages.end(),
                                   [&](const QString& s) { return s.startsWith(strFailed); });
            },
            30000))
            << m_vecMessages.join('|').toStdString();
        EXPECT_FALSE(m_vecMessages.contains(
            English(IDS_CAMERA_DOWNLOAD_FINISH).replace(QStringLiteral("%s"), QStringLiteral("Locked"))));
        EXPECT_FALSE(GetDownloadRecordManager()->IsDownloading(902));
        QTest::qWait(1100);
        EXPECT_TRUE(dlg.GetCellText(902, CDlgDownloadRecord::COL_PERCENT)
                        .endsWith(QLatin1Char('(') + English(IDS_HINT_DOWNLOADFAIL) + QLatin1Char(')')))
            << dlg.GetCellText(902, CDlgDownloadRecord::COL_PERCENT).toStdString();
        QFile::remove(strBlocked);
    }
    qint64 nBytes = 0;
    for (QDirIterator it(QString::fromLocal8Bit(std::getenv("MAIN_RECORD_DIR")), {QStringLiteral("*.avi")},
                         QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        it.next();
        nBytes += it.fileInfo().size();
    }
    EXPECT_GT(nBytes, 10000);
    g_fnConfirmHook = nullptr;
    SetDownloadRecordManager(pOld);
}

// The firmware dialog: no image, no sending; with one, the camera takes it to the end and
// reboots with the new version.
TEST_F(MainWindowLab, FirmwareDialogUpgradesACamera)
{
    ASSERT_NE(WaitForDevice(903), nullptr);
    CDlgUpdateCam dlg(s_pMain);
    dlg.show();
    ASSERT_TRUE(dlg.SelectCamera(903));
    dlg.SetImageFolder(QStringLiteral("/nonexistent"));
    EXPECT_EQ(dlg.GetVersionText(), English(IDS_ST_NOTFINDVERSION));
    dlg.OnBtnUpdate();
    EXPECT_TRUE(dlg.Upgrade().GetEntries().empty());
    EXPECT_EQ(dlg.GetRowText(903), QStringLiteral("Upgrade (%1)").arg(English(IDS_UPDATE_ERROPENFILE)));

    // The image itself given instead of its folder.
    dlg.SetImageFolder(QString::fromLocal8Bit(std::getenv("MAIN_IMAGE_DIR")) + QStringLiteral("/8126.Img"));
    EXPECT_EQ(dlg.GetVersionText(), English(IDS_ST_VERSIONINDIR) + QStringLiteral(" 9.9.9"));
    dlg.OnBtnUpdate();
    const QString strDone = QStringLiteral("Upgrade (%1)").arg(English(IDS_UPDATE_WAITREBOOT));
    QStringList seen;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (seen.isEmpty() || seen.back() != dlg.GetRowText(903))
                seen << dlg.GetRowText(903);
            return dlg.GetRowText(903) == strDone;
        },
        60000))
        << seen.join('|').toStdString();
    // The rows show the transfer's progress on the way (the samples here miss some steps).
    const QString strSending = QStringLiteral("Upgrade (%1 ").arg(English(IDS_UPDATE_DOWNLOADING));
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const QString& strRow) {
        return strRow.startsWith(strSending) && strRow.endsWith(QStringLiteral("%)"));
    })) << seen.join('|').toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Sim({QStringLiteral("dump"), QStringLiteral("903")})["camera"].value(
                       "firmware", std::string()) == "9.9.9";
        },
        15000));
}

// Last: the camera goes away while it is selected and downloading.
TEST_F(MainWindowLab, OfflineCameraIsDeselectedAndItsDownloadCancelled)
{
    DeviceInfo* pZulu = WaitForDevice(900);
    ASSERT_NE(pZulu, nullptr);
    ASSERT_TRUE(s_pMain->GetRealplayList()->OpenDevice(900));
    s_downloads.m_setRunning = {900};
    Sim({QStringLiteral("offline"), QStringLiteral("900")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return pZulu->bIsExist == 0; }, 90000));
    EXPECT_EQ(GetDeviceManager()->GetSelectDevice(), nullptr);
    EXPECT_FALSE(s_downloads.IsDownloading(900));
    EXPECT_EQ(
        m_vecMessages,
        QStringList{English(IDS_SELCAMERA_OFFLINE).replace(QStringLiteral("%s"), QStringLiteral("Zulu"))});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return s_pMain->GetRealplayList()->GetTree()->topLevelItemCount() == 4; }, 5000));
    // Nothing to ask for details any more.
    m_vecMessages.clear();
    EXPECT_FALSE(CDlgNetworkExtendInfo(s_pMain).Request());
    EXPECT_EQ(m_vecMessages, QStringList{English(IDS_MSG_CAMERANOTONLINE)});
    Sim({QStringLiteral("online"), QStringLiteral("900")});
}

} // namespace
