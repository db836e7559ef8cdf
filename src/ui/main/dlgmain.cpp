#include "ui/main/dlgmain.h"

#include "core/configfile.h"
#include "core/language.h"
#include "core/log.h"
#include "core/notifyids.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "device/devicenotifications.h"
#include "device/idownloadmanager.h"
#include "ui/main/caminfopane.h"
#include "ui/main/camlist.h"
#include "ui/main/dlgdownload.h"
#include "ui/main/dlglanguage.h"
#include "ui/main/dlgrtspshare.h"
#include "ui/main/dlgupdatecam.h"
#include "ui/main/mainmessage.h"
#include "ui/main/pcrecording.h"
#include "ui/main/playbackpane.h"
#include "ui/main/shortcutpane.h"
#include "ui/pages/dlgcamconfigpane.h"
#include "ui/pages/dlgcamsetpane.h"
#include "ui/textrelabel.h"
#include "ui/videogrid.h"
#include "ui/videopane.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cstring>

namespace {

constexpr DWORD NOTIFY_FIRST = 46;
constexpr DWORD NOTIFY_LAST = 181;

// Tab buttons, in their order on the bar.
constexpr DWORD TAB_TEXTS[] = {IDS_REALTIME, IDS_PLAYBACK, IDS_CONFIG, IDS_CTL_UPDATEFIRM,
                               IDS_BTN_RECORDDOWNLOAD};

} // namespace

void CDlgMain::CLanguageSink::NotifySink(DWORD dwNotifyID, UINT_PTR)
{
    if (dwNotifyID == DWORD_NOTIFYID_LANGUAGE_CHANGED)
        m_pOwner->Retranslate();
}

CDlgMain::CDlgMain(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("dlgMain"));
    setWindowTitle(QStringLiteral("Vistrel"));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    resize(1100, 700);

    auto* pLayout = new QVBoxLayout(this);
    auto* pBar = new QHBoxLayout;
    for (int i = 0; i < 5; ++i) {
        m_apTabs[i] = new QPushButton(this);
        m_apTabs[i]->setObjectName(QStringLiteral("mainTab%1").arg(i));
        m_apTabs[i]->setProperty("mainTab", true);
        pBar->addWidget(m_apTabs[i]);
    }
    // The first three switch the tab; firmware and download open their dialogs.
    for (int i = 0; i < 3; ++i)
        m_apTabs[i]->setCheckable(true);
    connect(m_apTabs[0], &QPushButton::clicked, this, &CDlgMain::OnBtnReal);
    connect(m_apTabs[1], &QPushButton::clicked, this, &CDlgMain::OnBtnPlayBack);
    connect(m_apTabs[2], &QPushButton::clicked, this, &CDlgMain::OnBtnSetConfig);
    connect(m_apTabs[3], &QPushButton::clicked, this, &CDlgMain::OnBtnUpdateCam);
    connect(m_apTabs[4], &QPushButton::clicked, this, &CDlgMain::OnBtnDownloadRecord);
    pBar->addStretch(1);
    m_pBtnLanguage = new QPushButton(this);
    m_pBtnRegister = new QPushButton(this);
    m_pBtnAbout = new QPushButton(this);
    m_pBtnMin = new QPushButton(this);
    m_pBtnClose = new QPushButton(this);
    for (QPushButton* pButton : {m_pBtnLanguage, m_pBtnRegister, m_pBtnAbout, m_pBtnMin, m_pBtnClose}) {
        pButton->setAutoDefault(false);
        pBar->addWidget(pButton);
    }
    for (QPushButton* pButton : m_apTabs)
        pButton->setAutoDefault(false);
    connect(m_pBtnLanguage, &QPushButton::clicked, this, &CDlgMain::OnBtnLanguage);
    connect(m_pBtnRegister, &QPushButton::clicked, this, &CDlgMain::OnBtnWebsite);
    connect(m_pBtnAbout, &QPushButton::clicked, this, &CDlgMain::OnBtnVersion);
    connect(m_pBtnMin, &QPushButton::clicked, this, &CDlgMain::OnBtnMin);
    connect(m_pBtnClose, &QPushButton::clicked, this, &CDlgMain::OnBtnClose);
    pLayout->addLayout(pBar);

    auto* pSplitter = new QSplitter(Qt::Horizontal, this);
    m_pListStack = new QStackedWidget(pSplitter);
    // Live view: the list, and under it what is known about the selected camera.
    auto* pRealplay = new QWidget(m_pListStack);
    auto* pRealplayLayout = new QVBoxLayout(pRealplay);
    pRealplayLayout->setContentsMargins(0, 0, 0, 0);
    m_pRealplayList = new CDlgRealplayCamList(pRealplay);
    m_pInfoPane = new CDlgCamInfoPane(pRealplay);
    pRealplayLayout->addWidget(m_pRealplayList, 1);
    pRealplayLayout->addWidget(m_pInfoPane);
    m_pPlaybackList = new CDlgPlaybackCamList(m_pListStack);
    m_pConfigList = new CDlgConfigCamList(m_pListStack);
    m_pListStack->addWidget(pRealplay);
    m_pListStack->addWidget(m_pPlaybackList);
    m_pListStack->addWidget(m_pConfigList);

    // Room for a channel's name under its recorder; the stack itself grows to what its pages
    // need (the information pane's values and buttons), so the splitter never cuts them off.
    for (QWidget* pList : {static_cast<QWidget*>(m_pRealplayList), static_cast<QWidget*>(m_pPlaybackList),
                           static_cast<QWidget*>(m_pConfigList)})
        pList->setMinimumWidth(200);

    m_pRightStack = new QStackedWidget(pSplitter);
    // The video area: live or played-back video of the selected camera.
    m_pVideoArea = new QFrame(m_pRightStack);
    m_pVideoArea->setObjectName(QStringLiteral("videoArea"));
    m_pVideoArea->setFrameShape(QFrame::StyledPanel);
    m_pVideoArea->setMinimumSize(352, 288);
    auto* pVideoLayout = new QVBoxLayout(m_pVideoArea);
    pVideoLayout->setContentsMargins(0, 0, 0, 0);
    // The live pictures: one pane, or a wall of them; the focused one's camera is the
    // selection. Each pane shows its own waiting text.
    m_pVideoGrid = new CDlgVideoGrid(m_pVideoArea);
    pVideoLayout->addWidget(m_pVideoGrid, 1);
    // The remote playback controls under the picture, in the playback tab only.
    m_pPlaybackPane = new CDlgPlaybackPane(m_pVideoArea);
    m_pPlaybackPane->setVisible(false);
    pVideoLayout->addWidget(m_pPlaybackPane);
    // F11 shows the picture, or the wall in its layout, alone on the screen, and again returns.
    auto* pFullScreen = new QShortcut(QKeySequence(Qt::Key_F11), this);
    connect(pFullScreen, &QShortcut::activated, m_pVideoGrid, &CDlgVideoGrid::ToggleFullScreen);
    m_pRightStack->addWidget(m_pVideoArea);
    // The shortcut keys and the figures follow the focused pane.
    m_pShortcutPane = new CDlgShortcutKeyPane(m_pVideoGrid->FocusedPane(), pRealplay);
    pRealplayLayout->addWidget(m_pShortcutPane);
    connect(m_pVideoGrid, &CDlgVideoGrid::focusChanged, m_pShortcutPane, &CDlgShortcutKeyPane::SetVideoPane);
    connect(m_pVideoGrid, &CDlgVideoGrid::statisticsChanged, m_pInfoPane, &CDlgCamInfoPane::SetVideoStat);
    // A recording on this PC that stops on a full disk, or goes on again, says so, whichever way
    // it was started (the list's menu, a pane's toolbar, the shortcut keys).
    connect(GetPcRecordingUi(), &CPcRecordingUi::message, this,
            [this](const QString& strText) { ShowMainMessage(strText, this); });
    // A camera opened in the live list goes into a pane of the wall.
    m_pRealplayList->SetOpenHandler(
        [this](DeviceInfo* pDevice) { return m_pVideoGrid->OpenCamera(pDevice); });
    m_pPlaybackList->SetOpenHandler([this](DeviceInfo* pDevice) { return OpenPlayback(pDevice); });
    // A camera known only from the recordings on this PC plays them; there is no camera to ask.
    m_pPlaybackList->SetRecordedOpenHandler([this](const std::string& strSerial, const QString& strName) {
        m_pPlaybackPane->StopPcPlayback();
        GetDeviceManager()->CancelSelectDevice();
        m_pPlaybackPane->StartPcPlayback(strSerial, strName, m_pVideoGrid->FocusedPane(),
                                         GetPcRecordingUi()->Settings().strFolder);
    });

    // Configuration: the camera's pages and the camera-setting pane side by side.
    auto* pConfig = new QWidget(m_pRightStack);
    auto* pConfigLayout = new QHBoxLayout(pConfig);
    pConfigLayout->setContentsMargins(0, 0, 0, 0);
    auto* pConfigPane = new CDlgCamConfigPane(PageContext(), pConfig);
    auto* pSetPane = new CDlgCamSetPane(PageContext(), pConfig);
    pConfigLayout->addWidget(pConfigPane, 1);
    pConfigLayout->addWidget(pSetPane);
    // The hosted panes and their pages, and the video pane's controls, follow a language change
    // like the window's own texts.
    for (QWidget* pPane : {static_cast<QWidget*>(pConfigPane), static_cast<QWidget*>(pSetPane)})
        new CTextRelabeler(pPane, GetNotifyManager());
    // In a scroll area: side by side the panes need some 1300 pixels, and as the stack's pages
    // they made every tab that wide, wider than a 1280-pixel screen (or 2560 at 200 %).
    auto* pConfigScroll = new QScrollArea(m_pRightStack);
    pConfigScroll->setFrameShape(QFrame::NoFrame);
    pConfigScroll->setFocusPolicy(Qt::NoFocus);
    pConfigScroll->setWidgetResizable(true);
    pConfigScroll->setWidget(pConfig);
    m_pRightStack->addWidget(pConfigScroll);
    pSplitter->setStretchFactor(1, 1);
    pSplitter->setSizes({240, 860});
    pLayout->addWidget(pSplitter, 1);

    // Presence and list notifications come in bursts (a recorder and its channels, a search
    // answered by many cameras): rebuild the lists once per burst.
    m_pRefreshTimer = new QTimer(this);
    m_pRefreshTimer->setSingleShot(true);
    m_pRefreshTimer->setInterval(100);
    connect(m_pRefreshTimer, &QTimer::timeout, this, [this] {
        m_pRealplayList->RefreshList();
        m_pPlaybackList->RefreshList();
        m_pConfigList->RefreshList();
    });

    // One look for the window's own controls: the tab bar reads as tabs, the active one marked.
    // The focus frame is wider by what the margin gives up, so a focused tab keeps its size
    // (a larger tab than the bar laid out cut off its text).
    setStyleSheet(QStringLiteral(
        "QPushButton[mainTab=\"true\"] { padding: 5px 14px; margin: 1px; border: 1px solid #8a949e;"
        " border-radius: 4px; background: #f4f6f8; }"
        "QPushButton[mainTab=\"true\"]:checked { background: #1f4e79; color: white; border-color: #1f4e79; }"
        "QPushButton[mainTab=\"true\"]:focus { margin: 0px; border: 2px solid #2f7fc1; }"
        "QTreeWidget#camList::item { padding: 2px 0; }"));
    CDlgLanguage::InstallToolkitTranslation(GetLanguageManager()->GetCurrentLanguage());
    Retranslate();
    m_apTabs[0]->setChecked(true);
    // At first as wide as the configuration panes need, where the screen has the room.
    QSize sizeStart(minimumSizeHint().width() - m_pRightStack->minimumSizeHint().width() +
                        pConfig->minimumSizeHint().width(),
                    700);
    sizeStart = sizeStart.expandedTo(QSize(1100, 700));
    if (const QScreen* pScreen = screen())
        sizeStart = sizeStart.boundedTo(pScreen->availableGeometry().size());
    resize(sizeStart);
    RestoreWindowState();

    Subscribe(true);
    try {
        GetDeviceManager()->SearchDevices(10000);
    } catch (...) {
        // No destructor runs for a half-built window: the bus must not keep our address.
        Subscribe(false);
        throw;
    }
    // The cameras go out as RTSP streams when the settings say so.
    if (QString strError; !GetRtspSharingUi()->StartFromSettings(strError))
        QTimer::singleShot(0, this, [this, strError] { ShowMainMessage(strError, this); });
}

CDlgMain::~CDlgMain()
{
    m_pPlaybackPane->StopPcPlayback();
    // Its clients see the end of their streams.
    if (CRtspSharingUi* pSharing = FindRtspSharingUi())
        pSharing->Stop();
    Subscribe(false);
}

bool CDlgMain::OpenPlayback(DeviceInfo* pDevice)
{
    // Whatever played in the pane ends first, the PC's recordings as the camera's card.
    m_pPlaybackPane->StopPcPlayback();
    CDeviceManager* pManager = GetDeviceManager();
    pManager->CancelSelectDevice();
    const DWORD enPlayType = m_pPlaybackList->GetPlayType();
    if (enPlayType == PLAY_TYPE_PLAYBACK_PC) {
        m_pPlaybackPane->StartPcPlayback(pDevice, m_pVideoGrid->FocusedPane(),
                                         GetPcRecordingUi()->Settings().strFolder);
        return true;
    }
    pManager->SelectDevice(pDevice->GetID(), pDevice->enCameraType, enPlayType);
    return true;
}

void CDlgMain::Subscribe(bool bRegister)
{
    CNotifyManager* pNotify = GetNotifyManager();
    auto apply = [&](DWORD dwID, INotifySink* pSink) {
        if (bRegister)
            pNotify->RegisterNotify(dwID, pSink);
        else
            pNotify->RemoveNotify(dwID, pSink);
    };
    for (DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
        apply(dwID, this);
    apply(DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH, this);
    apply(DWORD_NOTIFYID_LANGUAGE_CHANGED, &m_languageSink);
}

QWidget* CDlgMain::GetVideoArea() const
{
    return m_pVideoArea;
}

void CDlgMain::Retranslate()
{
    for (int i = 0; i < 5; ++i)
        m_apTabs[i]->setText(MainText(TAB_TEXTS[i]));
    m_pBtnLanguage->setText(MainText(IDS_LANGUAGE_SELECT));
    m_pBtnRegister->setText(MainText(IDS_WEBSITE_REGISTER));
    m_pBtnAbout->setText(MainText(IDS_WIN_ABOUT));
    m_pBtnMin->setText(MainText(IDS_CTLTIP_MINBOX));
    m_pBtnClose->setText(MainText(IDS_CTLTIP_CLOSE));
    m_pShortcutPane->Retranslate();
    m_pRealplayList->Retranslate();
    m_pInfoPane->Retranslate();
    m_pPlaybackList->Retranslate();
    m_pConfigList->Retranslate();
    m_pVideoGrid->Retranslate();
}

bool CDlgMain::IsDownloading(DWORD dwID)
{
    IDownloadRecordManager* pDownloads = GetDownloadRecordManager();
    return pDownloads != nullptr && pDownloads->IsDownloading(dwID);
}

void CDlgMain::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    FATAL_CHECK(dwNotifyID >= NOTIFY_FIRST && dwNotifyID <= NOTIFY_LAST);
    auto* pDevice = reinterpret_cast<DeviceInfo*>(dwParam);
    CDeviceManager* pManager = GetDeviceManager();
    switch (dwNotifyID) {
    case DWORD_NOTIFYID_CAMERA_EXIST_ONLINE:
        FATAL_CHECK(pDevice != nullptr);
        m_pRefreshTimer->start();
        break;
    case DWORD_NOTIFYID_CAMERA_EXIST_OFFLINE:
        FATAL_CHECK(pDevice != nullptr);
        m_pRefreshTimer->start();
        if (pManager->GetSelectDevice() == pDevice)
            pManager->CancelSelectDevice();
        // Its pane stops and says so (a recorder's channels each in theirs); it shows the camera
        // again when it comes back.
        m_pVideoGrid->StopCamera(pDevice, OfflineNotice(*pDevice), false);
        for (const auto& pChild : pDevice->vecChildren) {
            if (pChild != nullptr)
                m_pVideoGrid->StopCamera(pChild.get(), OfflineNotice(*pChild), false);
        }
        if (IsDownloading(pDevice->GetID()))
            HandleVideoStatusError(false, true, IDS_SELCAMERA_OFFLINE, pDevice);
        break;
    case DWORD_NOTIFYID_CAMERA_LIST_INFO:
        FATAL_CHECK(pDevice != nullptr);
        m_pRefreshTimer->start();
        if (pDevice->stItem.bHasSD == 0 && IsDownloading(pDevice->GetID()))
            HandleVideoStatusError(false, true, IDS_DOWNLOAD_NOSDCARD, pDevice);
        break;
    case DWORD_NOTIFYID_CAMERA_SCAN_FINISH:
        m_pRealplayList->SetScanning(false);
        m_pRefreshTimer->start();
        break;
    case DWORD_NOTIFYID_CAMERA_VIDEO_STATUS_ERROR: {
        FATAL_CHECK(pDevice != nullptr);
        const bool bSelected = pManager->GetSelectDevice() == pDevice;
        const DWORD enPlayType = pManager->GetPlayType();
        const bool bDownloading = IsDownloading(pDevice->GetID());
        // A watched camera of the wall that is not the focused one: the refusal ends its pane
        // alone, and the message names it.
        const bool bInWall = m_pVideoGrid->PaneOf(pDevice->GetID()) >= 0;
        const bool bLiveSelected = bSelected && enPlayType == PLAY_TYPE_REALTIME;
        VLOG(3,
             "CDlgMain::NotifySink: video status:%u, id:%u, selected:%d, play type:%u, downloading:%d, "
             "in a pane:%d",
             pDevice->dwCameraVideoStatus, pDevice->GetID(), bSelected ? 1 : 0, enPlayType,
             bDownloading ? 1 : 0, bInWall ? 1 : 0);
        const auto stopPane = [&](DWORD dwText, bool bForget = true) {
            m_pVideoGrid->StopCamera(
                pDevice, MainTextWithName(dwText, QString::fromStdU16String(pDevice->GetName())), bForget);
        };
        switch (pDevice->dwCameraVideoStatus) {
        case VIDEO_STATUS_INTERNET_MODE:
            if (bLiveSelected || bInWall) {
                stopPane(IDS_INTERNETMODE_PLAY_BY_OTHER);
                HandleVideoStatusError(bLiveSelected, false, IDS_INTERNETMODE_PLAY_BY_OTHER, pDevice);
            }
            break;
        case VIDEO_STATUS_BUSY:
            if (bLiveSelected || bInWall) {
                stopPane(IDS_PLAY_TOO_MANY_BY_OTHER);
                HandleVideoStatusError(bLiveSelected, false, IDS_PLAY_TOO_MANY_BY_OTHER, pDevice);
            }
            break;
        case VIDEO_STATUS_PASSWORD:
            // The stored password no longer opens the camera: forget it so the next open asks.
            // The pane keeps its camera: when the camera takes its old password again (the
            // device manager announces it as back) the pane shows it again by itself.
            if (bSelected || bDownloading || bInWall) {
                std::memset(pDevice->stPassword.pszInputPassword, 0,
                            sizeof(pDevice->stPassword.pszInputPassword));
                stopPane(IDS_PLAY_ERROR_PASSWORD, false);
                HandleVideoStatusError(bSelected, bDownloading, IDS_PLAY_ERROR_PASSWORD, pDevice);
            }
            break;
        case VIDEO_STATUS_RECORD_OCCUPIED: {
            const bool bPlayback =
                bSelected && (enPlayType == PLAY_TYPE_PLAYBACK || enPlayType == PLAY_TYPE_PLAYBACK_OPT);
            // One message when both the playback and a download of this camera end.
            if (bPlayback || bDownloading)
                HandleVideoStatusError(bPlayback, bDownloading, IDS_RECORD_PLAY_BY_OTHER, pDevice);
            break;
        }
        default:
            FATAL_CHECK(false, "unknown video status %u", pDevice->dwCameraVideoStatus);
        }
        break;
    }
    case DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_REALTIME:
    case DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_PLAYBACK:
        // Talk and listen belong to the view that ended. The camera's flags go too: left set,
        // the next view showed both switched on with neither the microphone nor the speaker
        // open, and a playback asked the camera for sound nobody had switched on.
        if (pDevice != nullptr) {
            pDevice->bSpeakToCam = 0;
            pDevice->bListenFromCam = 0;
        }
        m_pShortcutPane->ResetAudio();
        break;
    case DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH: {
        FATAL_CHECK(pDevice != nullptr);
        if (IDownloadRecordManager* pDownloads = GetDownloadRecordManager())
            pDownloads->CancelDownload(pDevice->GetID());
        // A download that stopped on a full disk or a folder it cannot write ends here too: it
        // is reported as what it is, with the reason.
        const QString strFailure = CDlgDownloadRecord::FailureMessage(*pDevice);
        ShowMainMessage(strFailure.isEmpty() ? MainTextWithName(IDS_CAMERA_DOWNLOAD_FINISH,
                                                                QString::fromStdU16String(pDevice->GetName()))
                                             : strFailure,
                        this);
        break;
    }
    default:
        break;
    }
}

void CDlgMain::HandleVideoStatusError(bool bCancelSelectDevice, bool bCancelDownload, DWORD dwErrorText,
                                      DeviceInfo* pDevice)
{
    FATAL_CHECK(pDevice != nullptr);
    if (bCancelSelectDevice)
        GetDeviceManager()->CancelSelectDevice();
    if (bCancelDownload) {
        if (IDownloadRecordManager* pDownloads = GetDownloadRecordManager())
            pDownloads->CancelDownload(pDevice->GetID());
    }
    ShowMainMessage(MainTextWithName(dwErrorText, QString::fromStdU16String(pDevice->GetName())), this);
}

QString CDlgMain::OfflineNotice(const DeviceInfo& device)
{
    return QStringLiteral("%1\n%2").arg(QString::fromStdU16String(device.GetName()),
                                        MainText(IDS_HINT_CAMERANOTONLINE));
}

void CDlgMain::SwitchTab(BtnType enType)
{
    m_enBtnType = enType;
    for (int i = 0; i < 3; ++i)
        m_apTabs[i]->setChecked(i == enType);
    m_pListStack->setCurrentIndex(enType);
    m_pRightStack->setCurrentIndex(enType == BTN_CONFIG ? 1 : 0);
    m_pPlaybackPane->setVisible(enType == BTN_PLAYBACK);
    if (enType != BTN_PLAYBACK)
        m_pPlaybackPane->StopPcPlayback();
    // The selection belongs to the tab it was made in: live video does not carry over into
    // playback, nor a playback into configuration.
    CDeviceManager* pManager = GetDeviceManager();
    const DWORD enWanted = enType == BTN_PLAYBACK ? m_pPlaybackList->GetPlayType() : PLAY_TYPE_REALTIME;
    if (pManager->GetSelectDevice() != nullptr && pManager->GetPlayType() != enWanted)
        pManager->CancelSelectDevice();
    // Playback takes the focused pane; back in live view every pane shows its camera again.
    m_pVideoGrid->SetLive(enType != BTN_PLAYBACK);
    // The configuration pages show the camera selected for live view: their list says which,
    // and with none the pages are empty.
    if (enType == BTN_CONFIG) {
        const DeviceInfo* pSelected = pManager->GetSelectDevice();
        m_pConfigList->ShowCurrent(pSelected != nullptr ? pSelected->GetID() : 0);
    }
}

void CDlgMain::RestoreWindowState()
{
    CConfigFileManager* pConfig = GetConfigFileManager();
    const QByteArray geometry =
        QByteArray::fromBase64(QString::fromStdU16String(pConfig->GetWindowValue(u"geometry")).toLatin1());
    // A stored place that no screen shows any more is corrected by Qt.
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    bool bOk = false;
    const int nTab = QString::fromStdU16String(pConfig->GetWindowValue(u"tab")).toInt(&bOk);
    if (bOk && nTab >= BTN_REALTIME && nTab <= BTN_CONFIG)
        SwitchTab(static_cast<BtnType>(nTab));
}

void CDlgMain::SaveWindowState()
{
    CConfigFileManager* pConfig = GetConfigFileManager();
    pConfig->SetWindowValue(u"geometry", QString::fromLatin1(saveGeometry().toBase64()).toStdU16String());
    pConfig->SetWindowValue(u"tab", QString::number(m_enBtnType).toStdU16String());
}

void CDlgMain::OnBtnReal()
{
    SwitchTab(BTN_REALTIME);
}

void CDlgMain::OnBtnPlayBack()
{
    SwitchTab(BTN_PLAYBACK);
}

void CDlgMain::OnBtnSetConfig()
{
    SwitchTab(BTN_CONFIG);
}

void CDlgMain::OnBtnUpdateCam()
{
    m_apTabs[3]->setChecked(false);
    if (!GetDeviceManager()->HasValidDevice()) {
        ShowMainMessage(MainText(IDS_NO_UPDATE_CAMERA), this);
        return;
    }
    CDlgUpdateCam dlg(this);
    dlg.exec();
}

void CDlgMain::OnBtnDownloadRecord()
{
    if (!GetDeviceManager()->HasValidDevice()) {
        ShowMainMessage(MainText(IDS_NO_DOWNLOAD_CAMERA), this);
        return;
    }
    CDlgDownloadRecord dlg(this);
    dlg.exec();
}

void CDlgMain::OnBtnLanguage()
{
    CDlgLanguage dlg(this);
    dlg.exec();
}

void CDlgMain::OnBtnVersion()
{
    ShowMainMessage(MainText(IDS_VER_NAME) + QStringLiteral(" Vistrel\n") + MainText(IDS_VER_VESION) +
                        QStringLiteral(" ") + QStringLiteral(VISTREL_VERSION_TEXT),
                    this);
}

void CDlgMain::OnBtnWebsite()
{
    const QString strSite = QString::fromStdU16String(GetConfigFileManager()->GetWebsite());
    if (strSite.isEmpty())
        return;
    QDesktopServices::openUrl(QUrl::fromUserInput(strSite));
}

void CDlgMain::OnBtnMin()
{
    showMinimized();
}

bool CDlgMain::RefuseClose()
{
    IDownloadRecordManager* pDownloads = GetDownloadRecordManager();
    if (pDownloads == nullptr || !pDownloads->HasDownloading())
        return false;
    ShowMainMessage(MainText(IDS_STOPDOWNLOAD_CLOSEAPP), this);
    return true;
}

void CDlgMain::OnBtnClose()
{
    if (RefuseClose())
        return;
    m_bClosing = true;
    done(QDialog::Rejected);
}

void CDlgMain::reject()
{
    // The window manager's close comes here too.
    if (!m_bClosing && RefuseClose())
        return;
    m_bClosing = true;
    QDialog::reject();
}

void CDlgMain::keyPressEvent(QKeyEvent* pEvent)
{
    // Escape closes a popup or a dialog, never the program: only "Close window" and the window
    // manager's close end it.
    if (pEvent->key() == Qt::Key_Escape && pEvent->modifiers() == Qt::NoModifier) {
        pEvent->accept();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

void CDlgMain::done(int nResult)
{
    SaveWindowState();
    QDialog::done(nResult);
}

void CDlgMain::closeEvent(QCloseEvent* pEvent)
{
    if (!m_bClosing && RefuseClose()) {
        pEvent->ignore();
        return;
    }
    m_bClosing = true;
    QDialog::closeEvent(pEvent);
}
