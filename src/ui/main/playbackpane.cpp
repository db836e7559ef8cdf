#include "ui/main/playbackpane.h"

#include "core/log.h"
#include "core/notifyids.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "pcrec/pcrecindex.h"
#include "protocol/engmedia.h"
#include "protocol/mscmd.h"
#include "ui/hint.h"
#include "ui/main/mainmessage.h"
#include "ui/main/pcplaybacksource.h"
#include "ui/videopane.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr DWORD kPaneNotifications[] = {DWORD_NOTIFYID_CAMERA_SELECT_PLAYBACK,
                                        DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_PLAYBACK,
                                        DWORD_NOTIFYID_RECORD_DOWNLOAD_DATA, DWORD_NOTIFYID_LANGUAGE_CHANGED};

// Record-time event and the pane's message for it.
constexpr std::pair<BYTE, UINT> kEventMessages[] = {{MS_EVENT_REC_DATE, CDlgPlaybackPane::WM_REC_DATE},
                                                    {MS_EVENT_REC_HOUR, CDlgPlaybackPane::WM_REC_HOUR},
                                                    {MS_EVENT_REC_MINUTE, CDlgPlaybackPane::WM_REC_MINUTE},
                                                    {MS_EVENT_FINISH, CDlgPlaybackPane::WM_REC_FINISH}};

constexpr DWORD kModeTexts[PLAYBACK_MODE_COUNT] = {IDS_CHECK_PLAYALL, IDS_CHECK_PLAYMOTION};
// In the order of the speed values.
constexpr DWORD kSpeedTexts[PLAYBACK_SPEEDS.size()] = {
    IDS_CMB_FASTPLAY1,  IDS_CMB_FASTPLAY2,  IDS_CMB_FASTPLAY4,   IDS_CMB_FASTPLAY8,     IDS_CMB_FASTPLAY16,
    IDS_CMB_FASTPLAY32, IDS_CMB_FASTPLAY64, IDS_CMB_FASTPLAY128, IDS_CMB_PLAYSTEPBYSTEP};
// Legend: current, event, normal.
constexpr DWORD kLegendTexts[3] = {IDS_ST_CURRENT, IDS_ST_EVENT, IDS_ST_NORMAL};

// The camera id of a PC playback whose camera is not in the list.
constexpr DWORD PC_STAND_IN_ID = 0xFFFFFFF0;

constexpr int kCellHeight = 16;
constexpr int kLabelHeight = 12;

} // namespace

// --- Time bar ---

CTimeBar::CTimeBar(int nCells, int nLabelStep, QWidget* pParent)
    : QWidget(pParent), m_nLabelStep(nLabelStep), m_vecMarks(static_cast<std::size_t>(nCells), BarMark::None)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QColor CTimeBar::ColorOf(BarMark enMark)
{
    switch (enMark) {
    case BarMark::Normal:
        return QColor(0x3c, 0x8d, 0x4a);
    case BarMark::Event:
        return QColor(0xd0, 0x4a, 0x2f);
    default:
        return QColor(0xdd, 0xe1, 0xe5);
    }
}

QColor CTimeBar::CurrentColor()
{
    return QColor(0xf2, 0xc2, 0x1b);
}

void CTimeBar::SetCells(const BarMark* pMarks, int nCurrent)
{
    const std::vector<BarMark> vecMarks(pMarks, pMarks + m_vecMarks.size());
    if (vecMarks == m_vecMarks && nCurrent == m_nCurrent)
        return;
    m_vecMarks = vecMarks;
    m_nCurrent = nCurrent;
    if (nCurrent >= 0 && !hasFocus())
        m_nKeyCell = nCurrent;
    update();
}

QRect CTimeBar::CellRect(int nCell) const
{
    const int nCells = static_cast<int>(m_vecMarks.size());
    const int nLeft = nCell * width() / nCells;
    const int nRight = (nCell + 1) * width() / nCells;
    return QRect(nLeft, 0, nRight - nLeft, kCellHeight);
}

QSize CTimeBar::sizeHint() const
{
    return QSize(static_cast<int>(m_vecMarks.size()) * 10, kCellHeight + kLabelHeight);
}

QSize CTimeBar::minimumSizeHint() const
{
    return QSize(static_cast<int>(m_vecMarks.size()) * 4, kCellHeight + kLabelHeight);
}

void CTimeBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int nCells = static_cast<int>(m_vecMarks.size());
    QFont font = painter.font();
    font.setPixelSize(kLabelHeight - 2);
    painter.setFont(font);
    for (int i = 0; i < nCells; ++i) {
        const QRect rc = CellRect(i);
        painter.fillRect(rc.adjusted(0, 0, -1, 0),
                         i == m_nCurrent ? CurrentColor() : ColorOf(m_vecMarks[static_cast<std::size_t>(i)]));
        if (hasFocus() && i == m_nKeyCell) {
            painter.setPen(palette().color(QPalette::Highlight));
            painter.drawRect(rc.adjusted(0, 0, -2, -1));
        }
        if (i % m_nLabelStep == 0) {
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(QRect(rc.left(), kCellHeight, 40, kLabelHeight), Qt::AlignLeft | Qt::AlignTop,
                             QString::number(i));
        }
    }
}

void CTimeBar::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton || width() <= 0)
        return;
    const int nX = pEvent->position().toPoint().x();
    const int nCell = nX * static_cast<int>(m_vecMarks.size()) / width();
    if (nX >= 0 && nCell < static_cast<int>(m_vecMarks.size()))
        Q_EMIT cellClicked(nCell);
}

void CTimeBar::keyPressEvent(QKeyEvent* pEvent)
{
    const int nCells = static_cast<int>(m_vecMarks.size());
    switch (pEvent->key()) {
    case Qt::Key_Left:
        m_nKeyCell = (m_nKeyCell + nCells - 1) % nCells;
        break;
    case Qt::Key_Right:
        m_nKeyCell = (m_nKeyCell + 1) % nCells;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        Q_EMIT cellClicked(m_nKeyCell);
        return;
    default:
        QWidget::keyPressEvent(pEvent);
        return;
    }
    update();
}

// --- Pane ---

CDlgPlaybackPane::CDlgPlaybackPane(QWidget* pParent)
    : QWidget(pParent),
      m_logic(CPlaybackPaneLogic::Hooks{
          [this] { return m_pPcSource != nullptr ? m_pPcCamera : GetDeviceManager()->GetSelectDevice(); },
          nullptr})
{
    setObjectName(QStringLiteral("playbackPane"));
    auto* pLayout = new QGridLayout(this);
    pLayout->setContentsMargins(6, 4, 6, 4);

    // First row: day, mode, speed and the legend.
    auto* pTop = new QHBoxLayout;
    m_pLblDate = new QLabel(this);
    m_pCmbDate = new QComboBox(this);
    m_pCmbDate->setObjectName(QStringLiteral("dateList"));
    m_pCmbDate->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_pCmbDate->setMinimumContentsLength(10);
    m_pLblMode = new QLabel(this);
    m_pCmbMode = new QComboBox(this);
    m_pCmbMode->setObjectName(QStringLiteral("modeList"));
    m_pCmbMode->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_pLblSpeed = new QLabel(this);
    m_pCmbSpeed = new QComboBox(this);
    m_pCmbSpeed->setObjectName(QStringLiteral("speedList"));
    m_pCmbSpeed->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (QComboBox* pCombo : {m_pCmbMode, m_pCmbSpeed}) {
        for (int i = 0; i < (pCombo == m_pCmbMode ? PLAYBACK_MODE_COUNT : int(PLAYBACK_SPEEDS.size())); ++i)
            pCombo->addItem(QString());
    }
    pTop->addWidget(m_pLblDate);
    pTop->addWidget(m_pCmbDate);
    pTop->addSpacing(8);
    pTop->addWidget(m_pLblMode);
    pTop->addWidget(m_pCmbMode);
    pTop->addSpacing(8);
    pTop->addWidget(m_pLblSpeed);
    pTop->addWidget(m_pCmbSpeed);
    pTop->addStretch(1);
    const QColor legendColors[3] = {CTimeBar::CurrentColor(), CTimeBar::ColorOf(BarMark::Event),
                                    CTimeBar::ColorOf(BarMark::Normal)};
    for (int i = 0; i < 3; ++i) {
        auto* pSwatch = new QLabel(this);
        pSwatch->setFixedSize(12, 12);
        pSwatch->setStyleSheet(
            QStringLiteral("background: %1; border: 1px solid #6b737b;").arg(legendColors[i].name()));
        m_apLegend[i] = new QLabel(this);
        pTop->addWidget(pSwatch);
        pTop->addWidget(m_apLegend[i]);
        pTop->addSpacing(4);
    }
    pLayout->addLayout(pTop, 0, 0, 1, 2);

    m_pLblHour = new QLabel(this);
    m_pHourBar = new CTimeBar(24, 6, this);
    m_pHourBar->setObjectName(QStringLiteral("hourBar"));
    m_pLblMinute = new QLabel(this);
    m_pMinuteBar = new CTimeBar(60, 10, this);
    m_pMinuteBar->setObjectName(QStringLiteral("minuteBar"));
    pLayout->addWidget(m_pLblHour, 1, 0);
    pLayout->addWidget(m_pHourBar, 1, 1);
    pLayout->addWidget(m_pLblMinute, 2, 0);
    pLayout->addWidget(m_pMinuteBar, 2, 1);

    // Last row: the second within the minute, the minute steps and the transport button.
    auto* pBottom = new QHBoxLayout;
    m_pSlider = new QSlider(Qt::Horizontal, this);
    m_pSlider->setRange(0, 59);
    // A drag plays from where it is let go, not from every second it passes.
    m_pSlider->setTracking(false);
    m_pLblIdle = new QLabel(this);
    m_pLblIdle->setObjectName(QStringLiteral("idleHint"));
    // Readable in the disabled pane it explains.
    QPalette palette = m_pLblIdle->palette();
    palette.setColor(QPalette::Disabled, QPalette::WindowText,
                     palette.color(QPalette::Active, QPalette::WindowText));
    m_pLblIdle->setPalette(palette);
    m_pLblSecond = new QLabel(QStringLiteral("00"), this);
    m_pLblSecond->setMinimumWidth(m_pLblSecond->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    m_pBtnPrevMinute = new QPushButton(this);
    m_pBtnNextMinute = new QPushButton(this);
    m_pTransport = new QStackedWidget(this);
    m_pBtnPlay = new QPushButton(m_pTransport);
    m_pBtnPause = new QPushButton(m_pTransport);
    m_pBtnResume = new QPushButton(m_pTransport);
    m_pBtnNextFrame = new QPushButton(m_pTransport);
    for (QPushButton* pButton : {m_pBtnPlay, m_pBtnPause, m_pBtnResume, m_pBtnNextFrame}) {
        pButton->setAutoDefault(false);
        m_pTransport->addWidget(pButton);
    }
    m_pTransport->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_pBtnPrevMinute->setAutoDefault(false);
    m_pBtnNextMinute->setAutoDefault(false);
    pBottom->addWidget(m_pSlider, 1);
    pBottom->addWidget(m_pLblIdle, 1);
    pBottom->addWidget(m_pLblSecond);
    pBottom->addWidget(m_pBtnPrevMinute);
    pBottom->addWidget(m_pTransport);
    pBottom->addWidget(m_pBtnNextMinute);
    pLayout->addLayout(pBottom, 3, 0, 1, 2);
    pLayout->setColumnStretch(1, 1);

    m_pHint = new CBalloonHint(this);

    // Every choice goes to the logic, and the pane then shows what the logic holds.
    auto wire = [this](auto* pSender, auto signal, auto fnHandler) {
        connect(pSender, signal, this, [this, fnHandler](auto... args) {
            fnHandler(args...);
            Refresh();
        });
    };
    wire(m_pBtnPlay, &QPushButton::clicked, [this](bool) { m_logic.Start(); });
    wire(m_pBtnPause, &QPushButton::clicked, [this](bool) { m_logic.OnPause(); });
    wire(m_pBtnResume, &QPushButton::clicked, [this](bool) { m_logic.OnResume(); });
    wire(m_pBtnNextFrame, &QPushButton::clicked, [this](bool) { m_logic.OnNextFrame(); });
    wire(m_pBtnPrevMinute, &QPushButton::clicked, [this](bool) { m_logic.OnPreviousMinute(); });
    wire(m_pBtnNextMinute, &QPushButton::clicked, [this](bool) { m_logic.OnNextMinute(); });
    wire(m_pCmbDate, &QComboBox::currentIndexChanged, [this](int nIndex) { m_logic.OnDayChosen(nIndex); });
    wire(m_pCmbMode, &QComboBox::currentIndexChanged, [this](int nIndex) { m_logic.OnModeChosen(nIndex); });
    wire(m_pCmbSpeed, &QComboBox::currentIndexChanged, [this](int nIndex) { m_logic.OnSpeedChosen(nIndex); });
    wire(m_pHourBar, &CTimeBar::cellClicked, [this](int nCell) { m_logic.OnHourChosen(nCell); });
    wire(m_pMinuteBar, &CTimeBar::cellClicked, [this](int nCell) { m_logic.OnMinuteChosen(nCell); });
    wire(m_pSlider, &QSlider::valueChanged, [this](int nValue) { m_logic.OnSecondMoved(nValue); });
    connect(m_pSlider, &QSlider::sliderMoved, this, [this](int nValue) {
        m_pLblSecond->setText(QStringLiteral("%1").arg(nValue, 2, 10, QLatin1Char('0')));
    });

    Retranslate();
    m_hWnd = GetWindowsManage()->CreateMsgWindow("PlaybackPane", this);
    CMSCmd* pMSCmd = CMSCmd::GetInstance();
    for (const auto& [byEvent, uMsg] : kEventMessages)
        pMSCmd->RegisterResponse(byEvent, m_hWnd, uMsg, 0);
    Subscribe(true);
    setEnabled(false);
    Refresh();
}

CDlgPlaybackPane::~CDlgPlaybackPane()
{
    // Closing while a PC playback plays: its source goes, and the video pane, if it is still
    // there, lets the camera go. The camera is not asked for anything.
    if (m_pPcSource != nullptr)
        EndPcPlayback(true);
    Subscribe(false);
    CMSCmd* pMSCmd = CMSCmd::GetInstance();
    for (const auto& [byEvent, uMsg] : kEventMessages)
        pMSCmd->RemoveResponse(byEvent, m_hWnd);
    GetWindowsManage()->DestroyMsgWindow(m_hWnd);
}

void CDlgPlaybackPane::Subscribe(bool bRegister)
{
    CNotifyManager* pNotify = GetNotifyManager();
    for (DWORD dwID : kPaneNotifications) {
        if (bRegister)
            pNotify->RegisterNotify(dwID, this);
        else
            pNotify->RemoveNotify(dwID, this);
    }
}

void CDlgPlaybackPane::Retranslate()
{
    m_pLblDate->setText(MainText(IDS_ST_PLAYDATE));
    m_pLblMode->setText(MainText(IDS_ST_PLAYSTYLE));
    m_pLblSpeed->setText(MainText(IDS_ST_FASTPLAY));
    m_pLblHour->setText(MainText(IDS_ST_HOURTEXT));
    m_pLblMinute->setText(MainText(IDS_ST_MINUTETEXT));
    for (int i = 0; i < 3; ++i)
        m_apLegend[i]->setText(MainText(kLegendTexts[i]));
    for (int i = 0; i < PLAYBACK_MODE_COUNT; ++i)
        m_pCmbMode->setItemText(i, MainText(kModeTexts[i]));
    for (int i = 0; i < int(PLAYBACK_SPEEDS.size()); ++i)
        m_pCmbSpeed->setItemText(i, MainText(kSpeedTexts[i]));
    m_pBtnPlay->setText(MainText(IDS_BTN_PLAY));
    m_pBtnPause->setText(MainText(IDS_BTN_PAUSE));
    m_pBtnResume->setText(MainText(IDS_BTN_CONTINUE));
    m_pBtnNextFrame->setText(MainText(IDS_BTN_NEXTFRAME));
    m_pBtnPrevMinute->setText(MainText(IDS_BTN_PREMINUTE));
    m_pBtnNextMinute->setText(MainText(IDS_BTN_NEXTMINUTE));
    m_pLblIdle->setText(MainText(IDS_ST_PLAYBACK_IDLE));
    // The one hint of the pane, that a playback completed, speaks the new language too.
    if (auto* pHintText = m_pHint->findChild<QLabel*>();
        pHintText != nullptr && !pHintText->text().isEmpty()) {
        if (m_pHint->IsActive())
            m_pHint->ShowAt(m_pHourBar, MainText(IDS_PLAYBACK_COMPLETE), false);
        else
            pHintText->setText(MainText(IDS_PLAYBACK_COMPLETE));
    }
}

void CDlgPlaybackPane::changeEvent(QEvent* pEvent)
{
    // The pane is disabled until a camera is chosen for playback: say so where the seconds go.
    if (pEvent->type() == QEvent::EnabledChange) {
        m_pLblIdle->setVisible(!isEnabled());
        m_pSlider->setVisible(isEnabled());
        m_pLblSecond->setVisible(isEnabled());
    }
    QWidget::changeEvent(pEvent);
}

QPushButton* CDlgPlaybackPane::GetTransportButton() const
{
    return static_cast<QPushButton*>(m_pTransport->currentWidget());
}

void CDlgPlaybackPane::StartPcPlayback(DeviceInfo* pCamera, CDlgVideoPane* pVideo,
                                       const std::string& strFolder)
{
    if (m_pPcSource != nullptr)
        StopPcPlayback();
    if (pCamera == nullptr || pVideo == nullptr)
        return;
    VLOG(3, "CDlgPlaybackPane::StartPcPlayback: id:%u, folder:%s", pCamera->GetID(), strFolder.c_str());
    if (DeviceInfo* pShown = pVideo->Logic().Device())
        pVideo->Logic().StopDevice(pShown);
    pVideo->Logic().ShowDevice(pCamera);
    pVideo->Logic().SetEngineFramesIgnored(true);
    m_pPcCamera = pCamera;
    m_pPcVideo = pVideo;
    CPcPlaybackSource::Hooks hooks;
    hooks.fnSerial = [this](DWORD dwID) {
        if (m_pPcCamera == nullptr || m_pPcCamera->GetID() != dwID)
            return std::string();
        // As the recorder names the camera in its index.
        return SafeSerial(
            std::string(m_pPcCamera->GetSerial(), strnlen(m_pPcCamera->GetSerial(), VIEWER_SERIAL_LEN)));
    };
    // Each reply comes as the camera's would, and the pane shows it at once.
    hooks.fnDays = [this](const RecDateInfo& info) {
        m_logic.OnDays(info);
        Refresh();
    };
    hooks.fnHours = [this](const RecHourInfo& info) {
        m_logic.OnHours(info);
        Refresh();
    };
    hooks.fnMinutes = [this](const RecMinuteInfo& info) {
        m_logic.OnMinutes(info);
        Refresh();
    };
    hooks.fnFrame = [this](const MediaFrame& frame) {
        if (m_pPcVideo != nullptr)
            m_pPcVideo->Logic().OnMediaFrame(frame);
    };
    hooks.fnPosition = [this](DWORD dwSeconds) {
        m_logic.OnPosition(dwSeconds);
        Refresh();
    };
    hooks.fnFinish = [this](DWORD dwID) { OnFinish(dwID); };
    m_pPcSource = std::make_unique<CPcPlaybackSource>(strFolder, std::move(hooks));
    m_logic.SetRequests(m_pPcSource.get());
    setEnabled(true);
    m_logic.SetEnabled(true);
    m_logic.Start();
    Refresh();
}

void CDlgPlaybackPane::StartPcPlayback(const std::string& strSerial, const QString& strName,
                                       CDlgVideoPane* pVideo, const std::string& strFolder)
{
    StopPcPlayback();
    if (strSerial.empty() || pVideo == nullptr)
        return;
    auto pStandIn = std::make_unique<DeviceInfo>();
    // An id no camera of the list has: the video pane takes only this playback's frames.
    pStandIn->stItem.dwDVIPID = PC_STAND_IN_ID;
    pStandIn->enCameraType = CAMERA_TYPE_SINGLE;
    std::snprintf(pStandIn->stItem.szSerial, sizeof pStandIn->stItem.szSerial, "%s", strSerial.c_str());
    const std::u16string strWide = strName.left(int(std::size(pStandIn->stItem.szName)) - 1).toStdU16String();
    std::copy(strWide.begin(), strWide.end(), pStandIn->stItem.szName);
    m_pPcStandIn = std::move(pStandIn);
    StartPcPlayback(m_pPcStandIn.get(), pVideo, strFolder);
}

void CDlgPlaybackPane::StopPcPlayback()
{
    if (m_pPcSource == nullptr)
        return;
    m_logic.Stop();
    m_logic.SetEnabled(false);
    setEnabled(false);
    EndPcPlayback(true);
    Refresh();
}

void CDlgPlaybackPane::EndPcPlayback(bool bEmptyVideo)
{
    m_logic.SetRequests(nullptr);
    m_pPcSource.reset();
    // A stand-in goes with its playback, so no pane may keep showing it.
    const bool bStandIn = m_pPcStandIn != nullptr && m_pPcCamera == m_pPcStandIn.get();
    if ((bEmptyVideo || bStandIn) && m_pPcVideo != nullptr && m_pPcVideo->Logic().Device() == m_pPcCamera)
        m_pPcVideo->Logic().StopDevice(m_pPcCamera);
    m_pPcCamera = nullptr;
    m_pPcVideo = nullptr;
    m_pPcStandIn.reset();
}

void CDlgPlaybackPane::OnFinish(DWORD dwID)
{
    if (m_logic.OnFinish(dwID, isVisible())) {
        Refresh();
        m_pHint->ShowAt(m_pHourBar, MainText(IDS_PLAYBACK_COMPLETE), false);
    }
}

void CDlgPlaybackPane::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    // A PC playback is the pane's own: the selection's comings and goings and the camera's
    // positions are not about it. A selection made around it takes the pane over.
    if (m_pPcSource != nullptr) {
        if (dwNotifyID == DWORD_NOTIFYID_CAMERA_SELECT_PLAYBACK)
            EndPcPlayback(false);
        else if (dwNotifyID != DWORD_NOTIFYID_LANGUAGE_CHANGED)
            return;
    }
    switch (dwNotifyID) {
    case DWORD_NOTIFYID_CAMERA_SELECT_PLAYBACK:
        setEnabled(true);
        m_logic.SetEnabled(true);
        m_logic.Start();
        break;
    case DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_PLAYBACK:
        setEnabled(false);
        m_logic.SetEnabled(false);
        m_logic.Stop();
        break;
    case DWORD_NOTIFYID_RECORD_DOWNLOAD_DATA:
        // The position pair of the frame just shown; its first value is the camera time.
        if (dwParam == 0)
            return;
        m_logic.OnPosition(*reinterpret_cast<const DWORD*>(dwParam));
        break;
    case DWORD_NOTIFYID_LANGUAGE_CHANGED:
        Retranslate();
        return;
    default:
        return;
    }
    Refresh();
}

void CDlgPlaybackPane::OnWndProcSink(HWND, UINT uMsg, WPARAM, LPARAM lParam)
{
    // The camera's late replies do not belong on the timeline of its PC recordings.
    if (m_pPcSource != nullptr)
        return;
    switch (uMsg) {
    case WM_REC_DATE:
        m_logic.OnDays(*reinterpret_cast<const RecDateInfo*>(lParam));
        break;
    case WM_REC_HOUR:
        m_logic.OnHours(*reinterpret_cast<const RecHourInfo*>(lParam));
        break;
    case WM_REC_MINUTE:
        m_logic.OnMinutes(*reinterpret_cast<const RecMinuteInfo*>(lParam));
        break;
    case WM_REC_FINISH:
        OnFinish(static_cast<DWORD>(lParam));
        return;
    default:
        return;
    }
    Refresh();
}

void CDlgPlaybackPane::Refresh()
{
    // Showing the logic's state must not read as the user's choice.
    const QSignalBlocker blockDate(m_pCmbDate);
    const QSignalBlocker blockMode(m_pCmbMode);
    const QSignalBlocker blockSpeed(m_pCmbSpeed);
    const QSignalBlocker blockSlider(m_pSlider);
    if (m_vecShownDays != m_logic.Days()) {
        m_vecShownDays = m_logic.Days();
        m_pCmbDate->clear();
        for (DWORD dwDay : m_vecShownDays)
            m_pCmbDate->addItem(QString::fromStdString(PlaybackDayText(dwDay)), QVariant::fromValue(dwDay));
    }
    m_pCmbDate->setCurrentIndex(m_logic.DayIndex());
    m_pCmbMode->setCurrentIndex(m_logic.ModeIndex());
    m_pCmbSpeed->setCurrentIndex(m_logic.SpeedIndex());
    m_pHourBar->SetCells(m_logic.HourBar().data(), m_logic.SelectedHour());
    m_pMinuteBar->SetCells(m_logic.MinuteBar().data(), m_logic.SelectedMinute());
    if (!m_pSlider->isSliderDown()) {
        if (m_pSlider->value() != m_logic.Second())
            m_pSlider->setValue(m_logic.Second());
        m_pLblSecond->setText(QStringLiteral("%1").arg(m_logic.Second(), 2, 10, QLatin1Char('0')));
    }
    QPushButton* pShown = m_pBtnPlay;
    switch (m_logic.ShownButton()) {
    case CPlaybackPaneLogic::Button::Play:
        break;
    case CPlaybackPaneLogic::Button::Pause:
        pShown = m_pBtnPause;
        break;
    case CPlaybackPaneLogic::Button::Resume:
        pShown = m_pBtnResume;
        break;
    case CPlaybackPaneLogic::Button::NextFrame:
        pShown = m_pBtnNextFrame;
        break;
    }
    m_pTransport->setCurrentWidget(pShown);
}
