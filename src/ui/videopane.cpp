#include "ui/videopane.h"

#include "core/language.h"
#include "core/log.h"
#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "platform/paths.h"
#include "ui/main/dlgsnapshot.h"
#include "ui/main/mainmessage.h"
#include "ui/main/pcrecording.h"
#include "ui/videorendererwidget.h"
#include "ui/videotoolbar.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace {

constexpr DWORD IDS_VIDEO_WAITING = 2107;
constexpr DWORD IDS_VIDEO_WAITING_ALT = 2400;

} // namespace

CDlgVideoPane::CDlgVideoPane(QWidget* pParent) : CDlgVideoPane(pParent, CVideoPaneLogic::Hooks{}, true) {}

CDlgVideoPane::CDlgVideoPane(QWidget* pParent, CVideoPaneLogic::Hooks hooks, bool bAttach) : QWidget(pParent)
{
    setMinimumSize(160, 120);
    m_background.load(QString::fromStdString(GetProgramFilePath("PictureSkin\\Pic_Video_Background.jpg")));
    if (m_background2x.load(
            QString::fromStdString(GetProgramFilePath("PictureSkin\\Pic_Video_Background@2x.jpg"))))
        m_background2x.setDevicePixelRatio(2.0);
    m_pLogic = std::make_unique<CVideoPaneLogic>(this, std::move(hooks));
    if (bAttach)
        m_pLogic->Attach();
    m_clickTimer.setSingleShot(true);
    m_clickTimer.setInterval(30);
    connect(&m_clickTimer, &QTimer::timeout, this, &CDlgVideoPane::OnClickTimer);
    m_pToolbar = new CVideoToolbar(this);
    // A red dot over the picture's corner, in compact panes too where no toolbar says it.
    m_pRecordMark = new QLabel(QStringLiteral("\u25CF"), this);
    m_pRecordMark->setObjectName(QStringLiteral("videoRecordMark"));
    m_pRecordMark->setStyleSheet(QStringLiteral("color: #e02020; background: transparent; font-size: 16px;"));
    m_pRecordMark->setToolTip(QString::fromStdU16String(GetLanguageManager()->GetString(IDS_PCREC_MARK)));
    m_pRecordMark->setAccessibleName(m_pRecordMark->toolTip());
    m_pRecordMark->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_pRecordMark->hide();
    connect(this, &CDlgVideoPane::statisticsChanged, m_pToolbar, &CVideoToolbar::Refresh);
    m_statsTimer.setInterval(1000);
    connect(&m_statsTimer, &QTimer::timeout, this, [this] {
        Q_EMIT statisticsChanged(TakeStatistics());
        RefreshRecordMark();
    });
    m_statsTimer.start();
}

CDlgVideoPane::~CDlgVideoPane()
{
    m_statsTimer.stop();
    m_clickTimer.stop();
    // The session ends before the video window goes, while the logic can still be asked:
    // stopping calls back into this view, which reads the logic's state.
    m_pLogic->Detach();
    m_pLogic->StopDevice(m_pLogic->Device());
    m_bClosing = true;
    m_pLogic.reset();
}

IVideoPresenter* CDlgVideoPane::CreateVideoWindow()
{
    if (m_pVideo == nullptr) {
        m_pVideo = new CVideoRendererWidget(this);
        connect(m_pVideo, &CVideoRendererWidget::mousePressed, this,
                [this](Qt::MouseButton button, QPoint pos) {
                    const QPoint ptPane = mapFromGlobal(m_pVideo->mapToGlobal(pos));
                    Q_EMIT paneMessage(
                        button == Qt::RightButton ? WM_VIDEO_RBUTTONDOWN : WM_VIDEO_LBUTTONDOWN, ptPane);
                });
        connect(m_pVideo, &CVideoRendererWidget::mouseReleased, this, &CDlgVideoPane::OnVideoReleased);
        connect(m_pVideo, &CVideoRendererWidget::mouseMoved, this, [this](QPoint pos) {
            Q_EMIT paneMessage(WM_VIDEO_MOUSEMOVE, mapFromGlobal(m_pVideo->mapToGlobal(pos)));
        });
        connect(m_pVideo, &CVideoRendererWidget::keyPressed, this, &CDlgVideoPane::ToggleFullScreen);
        // Queued: the window also moves while the renderer switches it in or out of full screen,
        // and laying it out then would call back into the renderer.
        connect(m_pVideo, &CVideoRendererWidget::geometryChanged, this, &CDlgVideoPane::LayoutVideo,
                Qt::QueuedConnection);
        // A double click made by hand spans more than the 30 ms count: the desktop's own
        // double click toggles too, and the count starts again so it does not toggle twice.
        connect(m_pVideo, &CVideoRendererWidget::doubleClicked, this, [this] {
            m_clickTimer.stop();
            m_nButtonUps = 0;
            VLOG(4, "Mouse double click!!!!!!!!!!!");
            OnDoubleClick();
        });
    }
    LayoutVideo();
    m_pVideo->show();
    return m_pVideo;
}

void CDlgVideoPane::DestroyVideoWindow()
{
    delete m_pVideo;
    m_pVideo = nullptr;
    update();
}

void CDlgVideoPane::OnPictureSize(DWORD, DWORD)
{
    LayoutVideo();
}

void CDlgVideoPane::InvalidatePane()
{
    if (m_bClosing)
        return;
    update();
    // A camera shown or stopped: the toolbar and the figures follow now, not a second later
    // with the last camera's figures still standing.
    if (m_pLogic->Device() != m_pFiguresDevice) {
        m_pFiguresDevice = m_pLogic->Device();
        m_lastStats = CVideoSession::Stats{};
        Q_EMIT statisticsChanged(QString());
        RefreshRecordMark();
    }
}

QRect CDlgVideoPane::VideoArea() const
{
    const int nBar = m_pToolbar != nullptr && !m_bCompact ? m_pToolbar->sizeHint().height() : 0;
    return QRect(0, 0, width(), std::max(0, height() - nBar));
}

void CDlgVideoPane::LayoutVideo()
{
    if (m_pToolbar != nullptr && !m_bCompact) {
        const QRect rcArea = VideoArea();
        m_pToolbar->setGeometry(0, rcArea.bottom() + 1, width(), height() - rcArea.height());
    }
    if (m_pRecordMark != nullptr) {
        m_pRecordMark->adjustSize();
        m_pRecordMark->move(6, 4);
        m_pRecordMark->raise(); // over the video window made after it
    }
    if (m_pVideo == nullptr || m_pVideo->isFullScreen())
        return;
    const DWORD nPicW = m_pLogic->PictureWidth();
    const DWORD nPicH = m_pLogic->PictureHeight();
    const QRect rcArea = VideoArea();
    QRect rc = rcArea;
    if (nPicW > 0 && nPicH > 0) {
        // As large as fits with the picture's aspect ratio, centred.
        const QSize size = QSize(int(nPicW), int(nPicH)).scaled(rcArea.size(), Qt::KeepAspectRatio);
        rc = QRect(QPoint((rcArea.width() - size.width()) / 2, (rcArea.height() - size.height()) / 2), size);
    }
    if (m_pVideo->geometry() != rc) {
        m_pVideo->setGeometry(rc);
        if (CVideoSession* pSession = m_pLogic->Session())
            pSession->SetVideoPosition();
    }
}

void CDlgVideoPane::resizeEvent(QResizeEvent*)
{
    LayoutVideo();
}

void CDlgVideoPane::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QRect rcArea = VideoArea();
    if (m_pVideo == nullptr && !m_strNotice.isEmpty()) {
        // Why the pane stopped, alone: the background's hint under it only blurred it.
        painter.setPen(Qt::white);
        painter.drawText(rcArea.adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap, m_strNotice);
        return;
    }
    if (m_pVideo == nullptr) {
        // On a scaled screen the picture drawn at twice the size, where there is one: the plain
        // one enlarged is soft.
        const QPixmap& background =
            devicePixelRatioF() > 1.0 && !m_background2x.isNull() ? m_background2x : m_background;
        if (!background.isNull()) {
            // Centred as it is, or shrunk whole into a smaller area.
            QSize size = background.deviceIndependentSize().toSize();
            if (size.width() > rcArea.width() || size.height() > rcArea.height())
                size.scale(rcArea.size(), Qt::KeepAspectRatio);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawPixmap(QRect(rcArea.x() + (rcArea.width() - size.width()) / 2,
                                     rcArea.y() + (rcArea.height() - size.height()) / 2, size.width(),
                                     size.height()),
                               background);
        }
        return;
    }
    const DeviceInfo* pDevice = m_pLogic->Device();
    const CVideoSession* pSession = m_pLogic->Session();
    if (pDevice != nullptr && m_pLogic->ShowsWaitingText() && pSession != nullptr &&
        pSession->DecoderMissing()) {
        // No picture will come: say why instead of waiting for ever.
        painter.setPen(Qt::white);
        painter.drawText(rcArea, Qt::AlignCenter | Qt::TextWordWrap,
                         QString::fromStdU16String(GetLanguageManager()->GetString(IDS_HINT_NODECODER)));
        m_pLogic->SetWaitingTextShown();
    } else if (pDevice != nullptr && m_pLogic->ShowsWaitingText() && !pDevice->bNoCaption) {
        const DWORD dwText = pDevice->bShowWaiting ? IDS_VIDEO_WAITING_ALT : IDS_VIDEO_WAITING;
        QString strText = QString::fromStdU16String(GetLanguageManager()->GetString(dwText));
        const QString strName = QString::fromStdU16String(pDevice->GetName());
        strText = strText.contains(QLatin1String("%s")) ? strText.replace(QLatin1String("%s"), strName)
                                                        : strText + QLatin1Char(' ') + strName;
        painter.setPen(Qt::white);
        painter.drawText(rcArea, Qt::AlignCenter | Qt::TextWordWrap, strText);
        m_pLogic->SetWaitingTextShown();
    }
}

void CDlgVideoPane::OnVideoReleased(Qt::MouseButton button, QPoint pos)
{
    // Through the screen: in full screen the video window is no child of the pane, and mapTo()
    // from it crashed on the first click.
    const QPoint ptPane = m_pVideo != nullptr ? mapFromGlobal(m_pVideo->mapToGlobal(pos)) : pos;
    if (button == Qt::RightButton) {
        Q_EMIT paneMessage(WM_VIDEO_RBUTTONUP, ptPane);
        return;
    }
    if (button != Qt::LeftButton)
        return;
    ++m_nButtonUps;
    m_ptLastUp = ptPane;
    if (!m_clickTimer.isActive())
        m_clickTimer.start();
}

void CDlgVideoPane::OnClickTimer()
{
    if (m_nButtonUps < 2) {
        Q_EMIT paneMessage(WM_VIDEO_CLICK, m_ptLastUp);
    } else {
        VLOG(4, "Mouse double click!!!!!!!!!!!");
        OnDoubleClick();
    }
    m_nButtonUps = 0;
}

void CDlgVideoPane::OnDoubleClick()
{
    if (m_fnDoubleClick && m_fnDoubleClick())
        return;
    ToggleFullScreen();
}

void CDlgVideoPane::SetCompact(bool bCompact)
{
    if (m_bCompact == bCompact)
        return;
    m_bCompact = bCompact;
    m_pToolbar->setVisible(!bCompact);
    LayoutVideo();
    update();
}

void CDlgVideoPane::SetNotice(const QString& strNotice)
{
    if (m_strNotice == strNotice)
        return;
    m_strNotice = strNotice;
    update();
}

void CDlgVideoPane::ToggleFullScreen()
{
    m_pLogic->ToggleFullScreen();
    if (!m_pLogic->IsFullScreen())
        LayoutVideo();
}

void CDlgVideoPane::TakeSnapshot()
{
    m_pLogic->Snapshot();
}

void CDlgVideoPane::OnSnapshotTaken(const std::string& strTempPath)
{
    // The picture is shown first; saving and printing are the dialog's.
    CDlgSnapshot dlg(QString::fromStdString(strTempPath), this);
    dlg.exec();
}

void CDlgVideoPane::SetMicrophone(bool bOn)
{
    if (DeviceInfo* pDevice = m_pLogic->Device())
        pDevice->bSpeakToCam = bOn ? 1 : 0;
    m_pLogic->OpenLocalMic();
}

void CDlgVideoPane::SetSpeaker(bool bOn)
{
    if (DeviceInfo* pDevice = m_pLogic->Device())
        pDevice->bListenFromCam = bOn ? 1 : 0;
    m_pLogic->OpenLocalSpk();
}

void CDlgVideoPane::SetColorAdjust(int nBrightness, int nContrast, int nHue, int nSaturation)
{
    const DWORD dwValue = static_cast<BYTE>(nBrightness) |
                          static_cast<DWORD>(static_cast<BYTE>(nContrast)) << 8 |
                          static_cast<DWORD>(static_cast<BYTE>(nHue)) << 16 |
                          static_cast<DWORD>(static_cast<BYTE>(nSaturation)) << 24;
    m_pLogic->SetColorAdjust(dwValue);
}

bool CDlgVideoPane::IsRecordingOnPc() const
{
    const DeviceInfo* pDevice = m_pLogic != nullptr ? m_pLogic->Device() : nullptr;
    const CPcRecordingUi* pRecording = FindPcRecordingUi();
    return pDevice != nullptr && pRecording != nullptr && pRecording->IsRecording(pDevice->GetID());
}

void CDlgVideoPane::SetRecordOnPc(bool bOn)
{
    const DeviceInfo* pDevice = m_pLogic->Device();
    if (pDevice == nullptr || bOn == IsRecordingOnPc()) {
        RefreshRecordMark();
        return;
    }
    CPcRecordingUi* pRecording = GetPcRecordingUi();
    QString strError;
    if (bOn && !pRecording->Record(*pDevice, strError))
        ShowMainMessage(strError, this);
    else if (!bOn)
        pRecording->Stop(pDevice->GetID());
    RefreshRecordMark();
}

void CDlgVideoPane::RefreshRecordMark()
{
    if (m_bClosing)
        return;
    // The camera list's menu and a full disk change it too.
    if (CPcRecordingUi* pRecording = FindPcRecordingUi())
        connect(pRecording, &CPcRecordingUi::changed, this, &CDlgVideoPane::RefreshRecordMark,
                Qt::UniqueConnection);
    const bool bRecording = IsRecordingOnPc();
    if (m_pRecordMark->isHidden() == bRecording) {
        m_pRecordMark->setVisible(bRecording);
        LayoutVideo();
    }
    if (m_pToolbar != nullptr && m_pToolbar->RecordButton()->isChecked() != bRecording) {
        const QSignalBlocker block(m_pToolbar->RecordButton());
        m_pToolbar->RecordButton()->setChecked(bRecording);
    }
}

void CDlgVideoPane::StopVideo()
{
    m_pLogic->StopDevice(m_pLogic->Device());
}

QString CDlgVideoPane::TakeStatistics()
{
    DeviceInfo* pDevice = m_pLogic->Device();
    if (pDevice == nullptr)
        return QString();
    const DWORD dwFrames = pDevice->dwFrameCount + pDevice->dwLastFrameCount;
    const DWORD dwBytes = pDevice->dwByteCount + pDevice->dwLastByteCount;
    pDevice->dwLastFrameCount = pDevice->dwFrameCount;
    pDevice->dwLastByteCount = pDevice->dwByteCount;
    pDevice->dwFrameCount = 0;
    pDevice->dwByteCount = 0;
    QString strText = QString::asprintf("%2.1f fps, %2.1f Kbps", dwFrames * 0.5, dwBytes / 256.0);
    // Per-stage figures since the last call.
    const CVideoPaneLogic::Counters& counters = m_pLogic->GetCounters();
    CVideoSession::Stats stats;
    if (CVideoSession* pSession = m_pLogic->Session())
        stats = pSession->GetStats();
    const auto nDecoded = stats.qwPushed - std::min(stats.qwPushed, m_lastStats.qwPushed);
    const auto nRendered = stats.qwRendered - std::min(stats.qwRendered, m_lastStats.qwRendered);
    const auto nRenderNs = stats.qwRenderNs - std::min(stats.qwRenderNs, m_lastStats.qwRenderNs);
    const auto nPushNs = stats.qwPushNs - std::min(stats.qwPushNs, m_lastStats.qwPushNs);
    const auto nDecodeNs = stats.qwDecodeNs - std::min(stats.qwDecodeNs, m_lastStats.qwDecodeNs);
    const auto nTimed = stats.qwTimed - std::min(stats.qwTimed, m_lastStats.qwTimed);
    const auto nLatencyNs = stats.qwLatencyNs - std::min(stats.qwLatencyNs, m_lastStats.qwLatencyNs);
    std::uint64_t qwPeakNs = 0;
    std::uint64_t qwKeyPeakNs = 0;
    if (CVideoSession* pSession = m_pLogic->Session())
        pSession->TakeLatencyPeaks(&qwPeakNs, &qwKeyPeakNs);
    const auto nDropped = (stats.qwDropped - std::min(stats.qwDropped, m_lastStats.qwDropped)) +
                          (counters.qwFiltered - m_lastCounters.qwFiltered) +
                          (counters.qwOversized - m_lastCounters.qwOversized);
    const auto nReceived = counters.qwReceived - m_lastCounters.qwReceived;
    const auto nGatherUs = counters.qwGatherUs - m_lastCounters.qwGatherUs;
    strText += QString::asprintf(
        " | segments %llu, frames to decoder %llu, rendered %llu, dropped %llu | "
        "reassembly %.2f ms/frame, push %.2f ms/frame, decode %.2f ms/frame, render %.2f ms/frame | "
        "arrival to window %.2f ms, longest %.2f ms, longest key frame %.2f ms",
        static_cast<unsigned long long>(nReceived), static_cast<unsigned long long>(nDecoded),
        static_cast<unsigned long long>(nRendered), static_cast<unsigned long long>(nDropped),
        nReceived ? nGatherUs / 1e3 / double(nReceived) : 0.0,
        nDecoded ? nPushNs / 1e6 / double(nDecoded) : 0.0,
        nDecoded ? nDecodeNs / 1e6 / double(nDecoded) : 0.0,
        nRendered ? nRenderNs / 1e6 / double(nRendered) : 0.0,
        nTimed ? nLatencyNs / 1e6 / double(nTimed) : 0.0, qwPeakNs / 1e6, qwKeyPeakNs / 1e6);
    if (stats.qwRendered < m_lastStats.qwRendered || stats.qwPushed < m_lastStats.qwPushed)
        stats = CVideoSession::Stats{}; // a new session: count from zero
    m_lastStats = stats;
    m_lastCounters = counters;
    // Named by its camera: a wall logs a line per pane each second.
    VLOG(4, "Video pane %u: %s", static_cast<unsigned>(pDevice->GetID()), strText.toUtf8().constData());
    return strText;
}
