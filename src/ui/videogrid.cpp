#include "ui/videogrid.h"

#include "core/configfile.h"
#include "core/language.h"
#include "core/log.h"
#include "core/notifyids.h"
#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/devicemanager.h"
#include "platform/paths.h"
#include "ui/main/dlgpassword.h"
#include "ui/textrelabel.h"
#include "ui/videopane.h"
#include "ui/videorendererwidget.h"
#include "ui/videotoolbar.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Notifications the grid follows itself; the main window hands it the refusals.
constexpr DWORD kGridNotifications[] = {DWORD_NOTIFYID_VIDEO_START, DWORD_NOTIFYID_VIDEO_STOP,
                                        DWORD_NOTIFYID_CAMERA_EXIST_ONLINE};

// Room between panes, where the focused one's frame is drawn.
constexpr int kGap = 2;

QString TableText(DWORD dwStringID)
{
    return QString::fromStdU16String(GetLanguageManager()->GetString(dwStringID));
}

// What a pane keeps of its camera between runs: the serial, and for a recorder's channel its id
// as well (channels share their recorder's serial).
std::string CameraKey(const DeviceInfo& device)
{
    std::string strKey(device.GetSerial(), strnlen(device.GetSerial(), 20));
    if (device.enCameraType == CAMERA_TYPE_CHILD)
        strKey += ':' + std::to_string(device.GetID());
    return strKey;
}

int Columns(int nShown)
{
    int nColumns = 1;
    while (nColumns * nColumns < nShown)
        ++nColumns;
    return nColumns;
}

} // namespace

CDlgVideoGrid::CDlgVideoGrid(QWidget* pParent) : CDlgVideoGrid(pParent, Deps{}) {}

CDlgVideoGrid::CDlgVideoGrid(QWidget* pParent, Deps deps)
    : QWidget(pParent), m_deps(std::move(deps)),
      m_pManager(m_deps.pManager != nullptr ? m_deps.pManager : GetDeviceManager()),
      m_pNotify(m_deps.pNotify != nullptr ? m_deps.pNotify : GetNotifyManager()),
      m_pConfig(m_deps.pConfig != nullptr ? m_deps.pConfig : GetConfigFileManager()),
      m_router(m_pNotify, m_deps.pAudio)
{
    setObjectName(QStringLiteral("videoGrid"));
    setMinimumSize(160, 120);
    if (!m_deps.fnPassword)
        m_deps.fnPassword = [this](DeviceInfo& device) { return EnsureDevicePassword(device, this); };

    // The layout buttons, over the panes.
    m_pBar = new QWidget(this);
    m_pBar->setObjectName(QStringLiteral("videoLayoutBar"));
    auto* pBarLayout = new QHBoxLayout(m_pBar);
    pBarLayout->setContentsMargins(2, 2, 2, 2);
    pBarLayout->setSpacing(2);
    for (int i = 0; i < 4; ++i) {
        auto* pButton = new QToolButton(m_pBar);
        pButton->setObjectName(QStringLiteral("videoLayout%1").arg(LAYOUTS[i]));
        pButton->setCheckable(true);
        pButton->setAutoRaise(true);
        pButton->setShortcut(QKeySequence(Qt::CTRL | LAYOUT_KEYS[i]));
        // The picture drawn at twice the size beside it ("@2x") serves scaled screens.
        const QString strIcon = QString::fromStdString(
            GetProgramFilePath("PictureSkin\\Btn_Layout" + std::to_string(LAYOUTS[i]) + ".png"));
        if (QFile::exists(strIcon))
            pButton->setIcon(QIcon(strIcon));
        pButton->setIconSize(QSize(20, 20));
        const int nPanes = LAYOUTS[i];
        connect(pButton, &QToolButton::clicked, this, [this, nPanes] { SetLayout(nPanes); });
        pBarLayout->addWidget(pButton);
        m_apLayoutButtons[i] = pButton;
    }
    pBarLayout->addStretch(1);

    m_pWall = new QWidget(this);
    m_pWall->setObjectName(QStringLiteral("videoWall"));
    m_pWall->installEventFilter(this);
    // Full screen the wall is a window of its own: F11 and Escape bring it back. Off while it is
    // inside the window, where F11 is the main window's.
    for (QKeySequence key : {QKeySequence(Qt::Key_F11), QKeySequence(Qt::Key_Escape)}) {
        auto* pShortcut = new QShortcut(key, m_pWall);
        pShortcut->setEnabled(false);
        connect(pShortcut, &QShortcut::activated, this, &CDlgVideoGrid::ToggleFullScreen);
        m_vWallShortcuts.push_back(pShortcut);
    }

    m_vSlots.resize(MAX_PANES);
    MakePane(0);
    m_router.SetFocused(&m_vSlots[0].pPane->Logic());
    if (m_deps.bAttachEngine)
        m_router.Attach();
    for (DWORD dwID : kGridNotifications)
        m_pNotify->RegisterNotify(dwID, this);
    // Scripted runs under a bare X server find each pane, and the camera it shows, here.
    if (!qEnvironmentVariable("VISTREL_PANE_MAP").isEmpty()) {
        auto* pMapTimer = new QTimer(this);
        connect(pMapTimer, &QTimer::timeout, this, &CDlgVideoGrid::WritePaneMap);
        pMapTimer->start(500);
    }
    Retranslate();
    RestoreState();
}

void CDlgVideoGrid::WritePaneMap() const
{
    QSaveFile file(qEnvironmentVariable("VISTREL_PANE_MAP"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream out(&file);
    out << "layout " << m_nLayout << " focus " << m_nFocus << '\n';
    for (int i = 0; i < MAX_PANES; ++i) {
        const CDlgVideoPane* pPane = m_vSlots[static_cast<std::size_t>(i)].pPane;
        if (pPane == nullptr || !pPane->isVisible())
            continue;
        const QPoint pt = pPane->mapToGlobal(QPoint(0, 0));
        const QRect rcVideo = pPane->VideoArea();
        out << "videoPane" << i << ' ' << pt.x() << ' ' << pt.y() << ' ' << rcVideo.width() << ' '
            << rcVideo.height() << ' '
            << (pPane->Logic().Device() != nullptr ? pPane->Logic().Device()->GetID() : 0) << '\n';
    }
    out.flush();
    file.commit();
}

CDlgVideoGrid::~CDlgVideoGrid()
{
    for (DWORD dwID : kGridNotifications)
        m_pNotify->RemoveNotify(dwID, this);
    m_router.Detach();
    for (Slot& slot : m_vSlots) {
        if (slot.pPane == nullptr)
            continue;
        disconnect(slot.pPane, nullptr, this, nullptr);
        slot.pPane->SetDoubleClickHandler(nullptr);
        m_router.RemovePane(&slot.pPane->Logic());
    }
    // The panes go now, while what they report to is whole (and the wall may be a window of
    // its own, no child of ours).
    m_pWall->removeEventFilter(this);
    delete std::exchange(m_pWall, nullptr);
    for (Slot& slot : m_vSlots)
        slot.pPane = nullptr;
}

void CDlgVideoGrid::Retranslate()
{
    const QString strFormat = TableText(IDS_GRID_LAYOUT);
    for (int i = 0; i < 4; ++i) {
        QString strName = strFormat;
        strName.replace(QLatin1String("%d"), QString::number(LAYOUTS[i]));
        m_apLayoutButtons[i]->setAccessibleName(strName);
        m_apLayoutButtons[i]->setToolTip(QStringLiteral("%1 (%2)").arg(
            strName, m_apLayoutButtons[i]->shortcut().toString(QKeySequence::NativeText)));
        // Without its picture the button still says what it does. A button's text sets its
        // shortcut from the text's mnemonic, so the key goes back on after it.
        if (m_apLayoutButtons[i]->icon().isNull()) {
            m_apLayoutButtons[i]->setText(QString::number(LAYOUTS[i]));
            m_apLayoutButtons[i]->setShortcut(QKeySequence(Qt::CTRL | LAYOUT_KEYS[i]));
        }
    }
}

CDlgVideoPane* CDlgVideoGrid::MakePane(int nIndex)
{
    Slot& slot = m_vSlots[static_cast<std::size_t>(nIndex)];
    if (slot.pPane != nullptr)
        return slot.pPane;
    CVideoPaneLogic::Hooks hooks;
    // Every pane of the wall is live view, whoever is selected; in playback the focused one
    // follows the selection's play type.
    hooks.fnPlayType = [this] { return m_bLive ? DWORD(PLAY_TYPE_REALTIME) : m_pManager->GetPlayType(); };
    hooks.pAudio = m_deps.pAudio;
    hooks.fnMakeSession = m_deps.fnMakeSession;
    auto* pPane = new CDlgVideoPane(m_pWall, std::move(hooks), false);
    pPane->setObjectName(QStringLiteral("videoPane%1").arg(nIndex));
    // Its toolbar follows a language change, whenever it was made.
    new CTextRelabeler(pPane, m_pNotify);
    if (m_deps.bAttachEngine)
        pPane->Logic().AttachQueue();
    pPane->Logic().SetAudioOwner(false);
    m_router.AddPane(&pPane->Logic());
    pPane->setAcceptDrops(true);
    pPane->installEventFilter(this);
    for (QWidget* pChild : pPane->findChildren<QWidget*>())
        pChild->installEventFilter(this);
    connect(pPane, &CDlgVideoPane::paneMessage, this, [this, nIndex](int nMessage, QPoint) {
        if (nMessage == WM_VIDEO_LBUTTONDOWN || nMessage == WM_VIDEO_RBUTTONDOWN)
            FocusPane(nIndex);
    });
    // The pane's Stop empties it: its camera stops at once and is no longer kept for it.
    disconnect(pPane->Toolbar()->StopButton(), &QToolButton::clicked, pPane, nullptr);
    connect(pPane->Toolbar()->StopButton(), &QToolButton::clicked, this,
            [this, nIndex] { ClearPane(nIndex); });
    pPane->SetDoubleClickHandler([this, nIndex] {
        // A lone pane's picture goes full screen, as it always did.
        if (m_nLayout == 1 && m_nAlone < 0)
            return false;
        ToggleAlone(nIndex);
        return true;
    });
    connect(pPane, &CDlgVideoPane::statisticsChanged, this, [this, nIndex](const QString& strText) {
        UpdatePaneTexts(nIndex, strText);
        if (nIndex == m_nFocus)
            Q_EMIT statisticsChanged(strText);
    });
    slot.pName = new QLabel(pPane);
    slot.pName->setObjectName(QStringLiteral("videoPaneName"));
    slot.pName->setAttribute(Qt::WA_TransparentForMouseEvents);
    slot.pName->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 150); padding: 1px 4px; }"));
    slot.pName->hide();
    slot.pPane = pPane;
    return pPane;
}

CDlgVideoPane* CDlgVideoGrid::Pane(int nIndex) const
{
    if (nIndex < 0 || nIndex >= MAX_PANES)
        return nullptr;
    return m_vSlots[static_cast<std::size_t>(nIndex)].pPane;
}

int CDlgVideoGrid::IndexOf(const QObject* pObject) const
{
    for (const QObject* p = pObject; p != nullptr && p != m_pWall; p = p->parent()) {
        for (int i = 0; i < MAX_PANES; ++i) {
            if (m_vSlots[static_cast<std::size_t>(i)].pPane == p)
                return i;
        }
    }
    return -1;
}

int CDlgVideoGrid::PaneOf(DWORD dwID) const
{
    if (!m_bLive)
        return -1;
    for (int i = 0; i < MAX_PANES; ++i) {
        const CDlgVideoPane* pPane = m_vSlots[static_cast<std::size_t>(i)].pPane;
        if (pPane != nullptr && pPane->Logic().Device() != nullptr &&
            pPane->Logic().Device()->GetID() == dwID)
            return i;
    }
    return -1;
}

std::string CDlgVideoGrid::AssignedSerial(int nIndex) const
{
    return nIndex >= 0 && nIndex < MAX_PANES ? m_vSlots[static_cast<std::size_t>(nIndex)].strSerial
                                             : std::string();
}

bool CDlgVideoGrid::ShownByLayout(int nIndex) const
{
    if (!m_bLive)
        return nIndex == m_nFocus;
    if (m_nAlone >= 0)
        return nIndex == m_nAlone;
    return nIndex < m_nLayout;
}

bool CDlgVideoGrid::IsPaneShown(int nIndex) const
{
    if (nIndex < 0 || nIndex >= MAX_PANES || !ShownByLayout(nIndex) || !isVisible())
        return false;
    const QWidget* pWindow = window();
    return pWindow == nullptr || !pWindow->isMinimized();
}

void CDlgVideoGrid::SetLayout(int nPanes)
{
    if (std::find(std::begin(LAYOUTS), std::end(LAYOUTS), nPanes) == std::end(LAYOUTS))
        return;
    VLOG(3, "CDlgVideoGrid::SetLayout: %d panes", nPanes);
    m_nLayout = nPanes;
    m_nAlone = -1;
    LayoutPanes();
    // The focus stays in sight.
    if (m_nFocus >= m_nLayout)
        FocusPane(0);
    SaveState();
    Q_EMIT layoutChanged(nPanes);
}

void CDlgVideoGrid::ToggleAlone(int nIndex)
{
    if (Pane(nIndex) == nullptr)
        return;
    m_nAlone = m_nAlone == nIndex ? -1 : nIndex;
    FocusPane(nIndex);
    LayoutPanes();
}

bool CDlgVideoGrid::IsWallFullScreen() const
{
    return m_pWall->isWindow();
}

void CDlgVideoGrid::ToggleFullScreen()
{
    // One picture shown: its own full screen, as a lone pane always had.
    if (!m_pWall->isWindow() && (!m_bLive || m_nAlone >= 0 || m_nLayout == 1)) {
        if (CDlgVideoPane* pPane = FocusedPane())
            pPane->ToggleFullScreen();
        return;
    }
    if (!m_pWall->isWindow()) {
        QScreen* pScreen = screen();
        m_pWall->setParent(nullptr);
        m_pWall->setWindowFlag(Qt::Window, true);
        if (pScreen != nullptr)
            m_pWall->setGeometry(pScreen->geometry());
        m_pWall->showFullScreen();
        m_pWall->activateWindow();
    } else {
        m_pWall->setWindowState(m_pWall->windowState() & ~Qt::WindowFullScreen);
        m_pWall->setWindowFlag(Qt::Window, false);
        m_pWall->setParent(this);
        m_pWall->show();
        LayoutBars();
    }
    for (QShortcut* pShortcut : m_vWallShortcuts)
        pShortcut->setEnabled(m_pWall->isWindow());
    LayoutPanes();
}

void CDlgVideoGrid::LayoutBars()
{
    const bool bBar = m_bLive;
    m_pBar->setVisible(bBar);
    const int nBar = bBar ? m_pBar->sizeHint().height() : 0;
    m_pBar->setGeometry(0, 0, width(), nBar);
    if (!m_pWall->isWindow())
        m_pWall->setGeometry(0, nBar, width(), std::max(0, height() - nBar));
}

void CDlgVideoGrid::LayoutPanes()
{
    std::vector<int> vShown;
    for (int i = 0; i < MAX_PANES; ++i) {
        if (ShownByLayout(i))
            vShown.push_back(i);
    }
    const bool bWall = vShown.size() > 1;
    const int nColumns = Columns(static_cast<int>(vShown.size()));
    const QRect rcWall = m_pWall->rect();
    const int nGap = bWall ? kGap : 0;
    for (std::size_t k = 0; k < vShown.size(); ++k) {
        CDlgVideoPane* pPane = MakePane(vShown[k]);
        const int nRow = static_cast<int>(k) / nColumns;
        const int nColumn = static_cast<int>(k) % nColumns;
        const int nLeft = rcWall.width() * nColumn / nColumns;
        const int nRight = rcWall.width() * (nColumn + 1) / nColumns;
        const int nTop = rcWall.height() * nRow / nColumns;
        const int nBottom = rcWall.height() * (nRow + 1) / nColumns;
        pPane->SetCompact(bWall);
        pPane->setGeometry(
            QRect(nLeft + nGap, nTop + nGap, nRight - nLeft - 2 * nGap, nBottom - nTop - 2 * nGap));
        pPane->show();
        UpdatePaneTexts(vShown[k], QString());
    }
    for (int i = 0; i < MAX_PANES; ++i) {
        Slot& slot = m_vSlots[static_cast<std::size_t>(i)];
        if (slot.pPane != nullptr && !ShownByLayout(i))
            slot.pPane->hide();
    }
    for (int i = 0; i < 4; ++i) {
        const QSignalBlocker block(m_apLayoutButtons[i]);
        m_apLayoutButtons[i]->setChecked(LAYOUTS[i] == m_nLayout);
    }
    m_pWall->update();
    UpdateWatching();
}

void CDlgVideoGrid::UpdateWatching()
{
    const bool bWasSelecting = std::exchange(m_bSelecting, true);
    for (int i = 0; i < MAX_PANES; ++i) {
        Slot& slot = m_vSlots[static_cast<std::size_t>(i)];
        const DeviceInfo* pDevice = slot.pPane != nullptr ? slot.pPane->Logic().Device() : nullptr;
        const bool bShown = m_bLive && pDevice != nullptr && IsPaneShown(i);
        if (bShown && slot.dwWatched != pDevice->GetID()) {
            if (slot.dwWatched != 0)
                m_pManager->UnwatchDevice(slot.dwWatched, false);
            VLOG(3, "CDlgVideoGrid::UpdateWatching: pane %d watches %u", i,
                 static_cast<unsigned>(pDevice->GetID()));
            m_pManager->WatchDevice(pDevice->GetID(), pDevice->enCameraType, PLAY_TYPE_REALTIME);
            slot.dwWatched = pDevice->GetID();
            // Its stream may have lapsed meanwhile: the camera's numbers start anywhere.
            slot.pPane->Logic().ResetSequence();
        } else if (!bShown && slot.dwWatched != 0) {
            // Hidden, not emptied: the heartbeat ends and the stream lapses, so that showing the
            // pane again soon restarts nothing.
            VLOG(3, "CDlgVideoGrid::UpdateWatching: pane %d hidden, %u lapses", i,
                 static_cast<unsigned>(slot.dwWatched));
            m_pManager->UnwatchDevice(slot.dwWatched, false);
            slot.dwWatched = 0;
        }
    }
    m_bSelecting = bWasSelecting;
}

void CDlgVideoGrid::ReleaseSlot(int nIndex, bool bStopNow)
{
    Slot& slot = m_vSlots[static_cast<std::size_t>(nIndex)];
    if (slot.pPane == nullptr)
        return;
    DeviceInfo* pDevice = slot.pPane->Logic().Device();
    if (pDevice != nullptr)
        slot.pPane->Logic().StopDevice(pDevice);
    const bool bWasSelecting = std::exchange(m_bSelecting, true);
    if (bStopNow && pDevice != nullptr)
        m_pManager->UnwatchDevice(pDevice->GetID(), true);
    else if (slot.dwWatched != 0)
        m_pManager->UnwatchDevice(slot.dwWatched, false);
    slot.dwWatched = 0;
    m_bSelecting = bWasSelecting;
}

void CDlgVideoGrid::ShowInSlot(int nIndex, DeviceInfo* pDevice)
{
    Slot& slot = m_vSlots[static_cast<std::size_t>(nIndex)];
    MakePane(nIndex);
    slot.strSerial = CameraKey(*pDevice);
    slot.strNotice.clear();
    slot.pPane->SetNotice(QString());
    slot.pPane->Logic().ShowDevice(pDevice);
    UpdatePaneTexts(nIndex, QString());
}

void CDlgVideoGrid::SetFocusIndex(int nIndex)
{
    if (m_nFocus != nIndex) {
        m_nFocus = nIndex;
        m_router.SetFocused(&m_vSlots[static_cast<std::size_t>(nIndex)].pPane->Logic());
    }
    m_pWall->update();
    Q_EMIT focusChanged(FocusedPane());
}

void CDlgVideoGrid::FocusPane(int nIndex)
{
    CDlgVideoPane* pPane = Pane(nIndex);
    if (pPane == nullptr)
        return;
    DeviceInfo* pDevice = pPane->Logic().Device();
    if (nIndex == m_nFocus && (!m_bLive || m_pManager->GetSelectDevice() == pDevice))
        return;
    const bool bWasSelecting = std::exchange(m_bSelecting, true);
    // The selection goes first: the notification of its end clears the talk and listen of the
    // pane that had them, while that pane is still the focused one.
    if (m_bLive)
        m_pManager->CancelSelectDevice();
    SetFocusIndex(nIndex);
    if (m_bLive && pDevice != nullptr)
        m_pManager->SelectDevice(pDevice->GetID(), pDevice->enCameraType, PLAY_TYPE_REALTIME);
    m_bSelecting = bWasSelecting;
    // The panes that follow the selection (information, figures) look again now: the pane
    // showed its camera before it was selected.
    Q_EMIT statisticsChanged(QString());
    SaveState();
}

bool CDlgVideoGrid::OpenCamera(DeviceInfo* pDevice, int nIndex)
{
    if (pDevice == nullptr || pDevice->enCameraType == CAMERA_TYPE_PARENT || !m_bLive)
        return false;
    if (nIndex >= MAX_PANES)
        return false;
    VLOG(3, "CDlgVideoGrid::OpenCamera: id:%u, pane:%d", static_cast<unsigned>(pDevice->GetID()), nIndex);
    const int nAt = PaneOf(pDevice->GetID());
    if (nAt >= 0 && (nIndex < 0 || nIndex == nAt)) {
        if (nIndex < 0 && m_nLayout == 1 && m_nAlone < 0) {
            // A lone pane opened again starts its camera's video afresh, as it always did.
            m_pManager->CancelSelectDevice();
            ReleaseSlot(nAt, true);
            ShowInSlot(nAt, pDevice);
            UpdateWatching();
        }
        FocusPane(nAt);
        return true;
    }
    if (!m_deps.fnPassword(*pDevice))
        return false;
    if (nIndex < 0) {
        nIndex = m_nFocus;
        for (int i = 0; i < MAX_PANES; ++i) {
            const Slot& slot = m_vSlots[static_cast<std::size_t>(i)];
            const bool bFree =
                slot.strSerial.empty() && (slot.pPane == nullptr || slot.pPane->Logic().Device() == nullptr);
            if (ShownByLayout(i) && bFree) {
                nIndex = i;
                break;
            }
        }
    }
    DWORD dwCarried = 0;
    if (nAt >= 0) {
        // Moved from another pane: the camera streams on.
        Slot& from = m_vSlots[static_cast<std::size_t>(nAt)];
        dwCarried = from.dwWatched;
        from.dwWatched = 0;
        from.pPane->Logic().StopDevice(pDevice);
        from.strSerial.clear();
        UpdatePaneTexts(nAt, QString());
    }
    // The focused pane's camera changes: its selection ends first (and with it talk and listen).
    if (nIndex == m_nFocus)
        m_pManager->CancelSelectDevice();
    ReleaseSlot(nIndex, true);
    ShowInSlot(nIndex, pDevice);
    m_vSlots[static_cast<std::size_t>(nIndex)].dwWatched = dwCarried;
    UpdateWatching();
    FocusPane(nIndex);
    SaveState();
    return true;
}

void CDlgVideoGrid::ClearPane(int nIndex)
{
    CDlgVideoPane* pPane = Pane(nIndex);
    if (pPane == nullptr)
        return;
    // A playback is the selection's: its pane stops showing it, the wall keeps its cameras.
    if (!m_bLive) {
        pPane->StopVideo();
        return;
    }
    Slot& slot = m_vSlots[static_cast<std::size_t>(nIndex)];
    if (nIndex == m_nFocus && m_bLive && pPane->Logic().Device() != nullptr &&
        m_pManager->GetSelectDevice() == pPane->Logic().Device())
        m_pManager->CancelSelectDevice();
    ReleaseSlot(nIndex, true);
    slot.strSerial.clear();
    slot.strNotice.clear();
    pPane->SetNotice(QString());
    UpdatePaneTexts(nIndex, QString());
    SaveState();
}

void CDlgVideoGrid::StopCamera(DeviceInfo* pDevice, const QString& strNotice, bool bForget)
{
    if (pDevice == nullptr)
        return;
    const int nIndex = PaneOf(pDevice->GetID());
    if (nIndex < 0)
        return;
    VLOG(3, "CDlgVideoGrid::StopCamera: id:%u, pane:%d, forget:%d, notice:%s",
         static_cast<unsigned>(pDevice->GetID()), nIndex, bForget ? 1 : 0,
         QString(strNotice).replace(QLatin1Char('\n'), QLatin1Char(' ')).toUtf8().constData());
    Slot& slot = m_vSlots[static_cast<std::size_t>(nIndex)];
    ReleaseSlot(nIndex, true);
    if (bForget)
        slot.strSerial.clear();
    slot.strNotice = strNotice;
    slot.pPane->SetNotice(strNotice);
    UpdatePaneTexts(nIndex, QString());
    SaveState();
}

void CDlgVideoGrid::SetLive(bool bLive)
{
    if (m_bLive == bLive)
        return;
    VLOG(3, "CDlgVideoGrid::SetLive: %d", bLive ? 1 : 0);
    if (!bLive) {
        // Playback takes the focused pane; the live cameras lapse, each pane keeping its own.
        for (int i = 0; i < MAX_PANES; ++i) {
            Slot& slot = m_vSlots[static_cast<std::size_t>(i)];
            if (slot.pPane == nullptr)
                continue;
            if (DeviceInfo* pDevice = slot.pPane->Logic().Device())
                slot.pPane->Logic().StopDevice(pDevice);
            if (slot.dwWatched != 0)
                m_pManager->UnwatchDevice(slot.dwWatched, false);
            slot.dwWatched = 0;
        }
        m_bLive = false;
        LayoutBars();
        LayoutPanes();
        return;
    }
    m_bLive = true;
    if (CDlgVideoPane* pPane = FocusedPane()) {
        if (DeviceInfo* pDevice = pPane->Logic().Device())
            pPane->Logic().StopDevice(pDevice);
    }
    LayoutBars();
    // Every pane shows its camera again; the selection stays as the tab left it (none after a
    // playback) until a pane is clicked.
    m_bKeepSelection = true;
    TakePresentCameras();
    m_bKeepSelection = false;
    LayoutPanes();
}

std::vector<DeviceInfo*> CDlgVideoGrid::PresentCameras() const
{
    std::vector<DeviceInfo*> vCameras;
    for (const auto& [dwID, pDevice] : m_pManager->GetDevices()) {
        if (pDevice == nullptr || pDevice->bIsExist == 0)
            continue;
        if (pDevice->enCameraType != CAMERA_TYPE_PARENT)
            vCameras.push_back(pDevice);
        for (const auto& pChild : pDevice->vecChildren) {
            if (pChild != nullptr)
                vCameras.push_back(pChild.get());
        }
    }
    return vCameras;
}

void CDlgVideoGrid::TakePresentCameras()
{
    for (DeviceInfo* pDevice : PresentCameras())
        TakeCamera(pDevice);
}

void CDlgVideoGrid::TakeCamera(DeviceInfo* pDevice)
{
    if (!m_bLive || m_bAsking || pDevice == nullptr || PaneOf(pDevice->GetID()) >= 0)
        return;
    const std::string strKey = CameraKey(*pDevice);
    for (int i = 0; i < MAX_PANES; ++i) {
        Slot& slot = m_vSlots[static_cast<std::size_t>(i)];
        if (slot.strSerial != strKey || (slot.pPane != nullptr && slot.pPane->Logic().Device() != nullptr))
            continue;
        // A camera with a password asks once, now that it is here; not given, the pane lets it go.
        m_bAsking = true;
        const bool bOpen = m_deps.fnPassword(*pDevice);
        m_bAsking = false;
        if (!bOpen) {
            slot.strSerial.clear();
            SaveState();
            return;
        }
        ShowInSlot(i, pDevice);
        UpdateWatching();
        if (i == m_nFocus && !m_bKeepSelection && m_pManager->GetSelectDevice() == nullptr) {
            const bool bWasSelecting = std::exchange(m_bSelecting, true);
            m_pManager->SelectDevice(pDevice->GetID(), pDevice->enCameraType, PLAY_TYPE_REALTIME);
            m_bSelecting = bWasSelecting;
        }
        return;
    }
}

void CDlgVideoGrid::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    auto* pDevice = reinterpret_cast<DeviceInfo*>(dwParam);
    if (pDevice == nullptr)
        return;
    switch (dwNotifyID) {
    case DWORD_NOTIFYID_VIDEO_START: {
        CDlgVideoPane* pFocused = FocusedPane();
        const DWORD enPlayType = m_pManager->GetPlayType();
        if (!m_bLive) {
            // Playback of the selection, in the focused pane.
            const bool bPlayback = enPlayType == PLAY_TYPE_PLAYBACK || enPlayType == PLAY_TYPE_PLAYBACK_OPT;
            if (bPlayback && m_pManager->GetSelectDevice() == pDevice &&
                pFocused->Logic().Device() != pDevice) {
                if (DeviceInfo* pShown = pFocused->Logic().Device())
                    pFocused->Logic().StopDevice(pShown);
                pFocused->Logic().ShowDevice(pDevice);
            }
            return;
        }
        // Only a live selection made elsewhere (the list of the configuration tab, a script)
        // concerns the wall: the starts of its own watches and selections do not.
        if (m_bSelecting || enPlayType != PLAY_TYPE_REALTIME || m_pManager->GetSelectDevice() != pDevice)
            return;
        const int nAt = PaneOf(pDevice->GetID());
        if (nAt >= 0) {
            // Its pane is the focused one now.
            SetFocusIndex(nAt);
            return;
        }
        // A camera selected elsewhere goes into the focused pane, as into the lone pane before.
        ReleaseSlot(m_nFocus, true);
        ShowInSlot(m_nFocus, pDevice);
        UpdateWatching();
        SaveState();
        Q_EMIT focusChanged(pFocused);
        break;
    }
    case DWORD_NOTIFYID_VIDEO_STOP:
        // Live panes are the grid's own: the end of a selection leaves them streaming. A playback
        // ends in its pane.
        if (!m_bLive && FocusedPane()->Logic().Device() == pDevice)
            FocusedPane()->Logic().StopDevice(pDevice);
        break;
    case DWORD_NOTIFYID_CAMERA_EXIST_ONLINE:
        TakeCamera(pDevice);
        for (const auto& pChild : pDevice->vecChildren) {
            if (pChild != nullptr)
                TakeCamera(pChild.get());
        }
        break;
    default:
        break;
    }
}

void CDlgVideoGrid::UpdatePaneTexts(int nIndex, const QString& strFigures)
{
    Slot& slot = m_vSlots[static_cast<std::size_t>(nIndex)];
    if (slot.pPane == nullptr)
        return;
    const DeviceInfo* pDevice = slot.pPane->Logic().Device();
    const QString strName = pDevice != nullptr ? QString::fromStdU16String(pDevice->GetName()) : QString();
    // The name over the picture in a wall, where there is no room for the toolbar.
    const bool bWall = slot.pPane->IsCompact() && pDevice != nullptr && m_bLive;
    if (slot.pName->text() != strName) {
        slot.pName->setText(strName);
        slot.pName->adjustSize();
    }
    // Bottom left: the picture's own time and frame overlays are at its top.
    slot.pName->move(4, std::max(0, slot.pPane->height() - slot.pName->height() - 4));
    slot.pName->setVisible(bWall && !strName.isEmpty());
    slot.pName->raise();
    slot.pPane->Logic().SetNameShownByWindow(bWall && !strName.isEmpty());
    // Its own figures in its tool tip: the toolbar that shows them is the single pane's.
    QString strTip = strName;
    if (!strFigures.isEmpty())
        strTip += QLatin1Char('\n') + strFigures;
    else if (!slot.strNotice.isEmpty())
        strTip = slot.strNotice;
    if (strFigures.isEmpty() && pDevice != nullptr && !slot.strTip.isEmpty())
        return; // keep the last figures until the next ones
    slot.strTip = strTip;
    slot.pPane->setToolTip(strTip);
}

void CDlgVideoGrid::ShowContextMenu(int nIndex, QPoint ptGlobal)
{
    CDlgVideoPane* pPane = Pane(nIndex);
    if (pPane == nullptr || !m_bLive)
        return;
    FocusPane(nIndex);
    QMenu menu(this);
    QMenu* pCameras = menu.addMenu(TableText(IDS_GRID_SHOW_CAMERA));
    const DeviceInfo* pShown = pPane->Logic().Device();
    for (DeviceInfo* pDevice : PresentCameras()) {
        QAction* pAction = pCameras->addAction(QString::fromStdU16String(pDevice->GetName()));
        pAction->setCheckable(true);
        pAction->setChecked(pDevice == pShown);
        const DWORD dwID = pDevice->GetID();
        connect(pAction, &QAction::triggered, this,
                [this, dwID, nIndex] { OpenCamera(m_pManager->GetDevice(dwID, CAMERA_MASK_ALL), nIndex); });
    }
    pCameras->setEnabled(!pCameras->isEmpty());
    QAction* pStop = menu.addAction(TableText(IDS_BTN_STOP));
    pStop->setEnabled(pShown != nullptr || !m_vSlots[static_cast<std::size_t>(nIndex)].strSerial.empty());
    connect(pStop, &QAction::triggered, this, [this, nIndex] { ClearPane(nIndex); });
    menu.exec(ptGlobal);
}

bool CDlgVideoGrid::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (m_pWall == nullptr) // going
        return false;
    if (pWatched == m_pWall) {
        if (pEvent->type() == QEvent::Resize) {
            LayoutPanes();
        } else if (pEvent->type() == QEvent::Paint) {
            // Black between the panes, and the focused one framed where a wall shows several.
            QPainter painter(m_pWall);
            painter.fillRect(m_pWall->rect(), Qt::black);
            const CDlgVideoPane* pFocused = FocusedPane();
            if (pFocused != nullptr && pFocused->isVisible() && pFocused->IsCompact()) {
                painter.setPen(QPen(QColor(0x2f, 0x9f, 0xff), kGap));
                painter.drawRect(
                    QRectF(pFocused->geometry()).adjusted(-kGap / 2.0, -kGap / 2.0, kGap / 2.0, kGap / 2.0));
            }
            return true;
        }
        return false;
    }
    if (pWatched == m_pWindow && pEvent->type() == QEvent::WindowStateChange) {
        // Minimised, nobody sees the panes.
        QTimer::singleShot(0, this, &CDlgVideoGrid::UpdateWatching);
        return false;
    }
    const int nIndex = IndexOf(pWatched);
    if (nIndex < 0)
        return QWidget::eventFilter(pWatched, pEvent);
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress:
        // A click anywhere in a pane, its toolbar too, makes it the focused one first.
        FocusPane(nIndex);
        break;
    case QEvent::MouseButtonDblClick:
        if (pWatched == Pane(nIndex) && (m_nLayout > 1 || m_nAlone >= 0)) {
            ToggleAlone(nIndex);
            return true;
        }
        break;
    case QEvent::ContextMenu:
        if (pWatched == Pane(nIndex)) {
            ShowContextMenu(nIndex, static_cast<QContextMenuEvent*>(pEvent)->globalPos());
            return true;
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* pDrag = static_cast<QDropEvent*>(pEvent);
        if (pWatched == Pane(nIndex) && m_bLive && pDrag->mimeData()->hasFormat(QLatin1String(CAMERA_MIME))) {
            pDrag->acceptProposedAction();
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        auto* pDrop = static_cast<QDropEvent*>(pEvent);
        if (pWatched != Pane(nIndex) || !pDrop->mimeData()->hasFormat(QLatin1String(CAMERA_MIME)))
            break;
        bool bOk = false;
        const DWORD dwID =
            QString::fromLatin1(pDrop->mimeData()->data(QLatin1String(CAMERA_MIME))).toUInt(&bOk);
        if (bOk && OpenCamera(m_pManager->GetDevice(dwID, CAMERA_MASK_ALL), nIndex))
            pDrop->acceptProposedAction();
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(pWatched, pEvent);
}

void CDlgVideoGrid::resizeEvent(QResizeEvent*)
{
    LayoutBars();
}

void CDlgVideoGrid::showEvent(QShowEvent*)
{
    if (window() != m_pWindow) {
        if (m_pWindow != nullptr)
            m_pWindow->removeEventFilter(this);
        m_pWindow = window();
        m_pWindow->installEventFilter(this);
    }
    LayoutBars();
    UpdateWatching();
}

void CDlgVideoGrid::hideEvent(QHideEvent*)
{
    // Hidden by a tab of the window: the streams lapse. Not when the window is being closed.
    QTimer::singleShot(0, this, &CDlgVideoGrid::UpdateWatching);
}

void CDlgVideoGrid::SaveState()
{
    if (m_bRestoring)
        return;
    m_pConfig->SetGridValue(u"layout", QString::number(m_nLayout).toStdU16String());
    m_pConfig->SetGridValue(u"focus", QString::number(m_nFocus).toStdU16String());
    for (int i = 0; i < MAX_PANES; ++i) {
        const std::u16string strKey = QStringLiteral("pane%1").arg(i).toStdU16String();
        m_pConfig->SetGridValue(
            strKey.c_str(),
            QString::fromStdString(m_vSlots[static_cast<std::size_t>(i)].strSerial).toStdU16String());
    }
}

void CDlgVideoGrid::RestoreState()
{
    m_bRestoring = true;
    bool bOk = false;
    const int nLayout = QString::fromStdU16String(m_pConfig->GetGridValue(u"layout")).toInt(&bOk);
    m_nLayout =
        bOk && std::find(std::begin(LAYOUTS), std::end(LAYOUTS), nLayout) != std::end(LAYOUTS) ? nLayout : 1;
    for (int i = 0; i < MAX_PANES; ++i) {
        const std::u16string strKey = QStringLiteral("pane%1").arg(i).toStdU16String();
        // A serial is plain ASCII; anything else in the file is not one of ours.
        const QString strSerial =
            QString::fromStdU16String(m_pConfig->GetGridValue(strKey.c_str())).trimmed();
        bool bAscii = strSerial.size() <= 40;
        for (QChar c : strSerial)
            bAscii = bAscii && c.unicode() > 0x20 && c.unicode() < 0x7F;
        m_vSlots[static_cast<std::size_t>(i)].strSerial = bAscii ? strSerial.toStdString() : std::string();
    }
    const int nFocus = QString::fromStdU16String(m_pConfig->GetGridValue(u"focus")).toInt(&bOk);
    if (bOk && nFocus > 0 && nFocus < m_nLayout) {
        MakePane(nFocus);
        SetFocusIndex(nFocus);
    }
    m_bRestoring = false;
    LayoutPanes();
    TakePresentCameras();
}
