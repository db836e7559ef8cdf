#include "ui/videorendererwidget.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>

#include <cstring>

CVideoRendererWidget::CVideoRendererWidget(QWidget* pParent) : QWidget(pParent)
{
    setObjectName(QStringLiteral("VideoMessageParent"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    m_size = size();
    m_dPixelRatio = devicePixelRatioF();
}

QRect CVideoRendererWidget::TargetRect(QSize sizePicture) const
{
    QRect rcTarget = m_bFull || m_rcVideo.isEmpty() ? QRect(QPoint(0, 0), m_size) : m_rcVideo;
    if (rcTarget.isEmpty())
        return QRect(QPoint(0, 0), sizePicture);
    // Full screen keeps the picture's shape, with bars, as the pane does; a 16:9 picture on a
    // 16:10 screen was stretched.
    if (m_bFull && !sizePicture.isEmpty()) {
        const QSize fit = sizePicture.scaled(rcTarget.size(), Qt::KeepAspectRatio);
        rcTarget =
            QRect(QPoint((rcTarget.width() - fit.width()) / 2, (rcTarget.height() - fit.height()) / 2), fit);
    }
    return rcTarget;
}

void CVideoRendererWidget::PresentFrame(const std::uint32_t* pPixels, int nWidth, int nHeight)
{
    QRect rcTarget;
    qreal dPixelRatio = 1.0;
    {
        std::lock_guard lock(m_mutex);
        rcTarget = TargetRect(QSize(nWidth, nHeight));
        dPixelRatio = m_dPixelRatio;
    }
    // Scaled here, on the streaming thread: the picture is read in place, not copied first. To
    // the screen's own pixels: on a scaled screen a picture scaled to the window's size was
    // enlarged again when drawn, and soft.
    const QImage source(reinterpret_cast<const uchar*>(pPixels), nWidth, nHeight, nWidth * 4,
                        QImage::Format_RGB32);
    const QSize sizeScaled = (QSizeF(rcTarget.size()) * dPixelRatio).toSize();
    QImage image;
    const bool bSameSize = sizeScaled == source.size();
    if (bSameSize || (sizeScaled.width() >= nWidth && sizeScaled.height() >= nHeight)) {
        // Into the picture before last, where no paint still holds it: a new buffer every frame,
        // freed on another thread, leaves holes in the allocator's arenas for small blocks to
        // fill, and one as large as an enlarged picture is mapped and unmapped every frame.
        {
            std::lock_guard lock(m_mutex);
            image = std::move(m_imageSpare);
        }
        if (image.size() != sizeScaled || image.format() != source.format() || !image.isDetached())
            image = QImage(sizeScaled, source.format());
        image.setDevicePixelRatio(1.0);
        if (bSameSize) {
            // Both rows are the width's 32-bit pixels, unpadded: one copy.
            std::memcpy(image.bits(), source.constBits(), static_cast<std::size_t>(source.sizeInBytes()));
        } else {
            // Enlarged: filtering between neighbours is all it needs.
            QPainter painter(&image);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(QPoint(0, 0), sizeScaled), source);
        }
    } else {
        // Made smaller along a side: averaged, not sampled. Such a picture is smaller than its
        // source on that side, and rare (a pane of another shape than its camera).
        image = source.scaled(sizeScaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    image.setDevicePixelRatio(dPixelRatio);
    {
        std::lock_guard lock(m_mutex);
        m_imageSpare = std::move(m_image);
        m_image = std::move(image);
        m_sizePicture = QSize(nWidth, nHeight);
    }
    ++m_qwPresented;
    // Painting belongs to the GUI thread; one request at a time is enough, as a paint shows
    // the latest picture.
    if (!m_bUpdatePending.exchange(true))
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CVideoRendererWidget::SetVideoVisible(bool bVisible)
{
    {
        std::lock_guard lock(m_mutex);
        m_bVideoVisible = bVisible;
    }
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CVideoRendererWidget::SetVideoPosition(long nLeft, long nTop, long nWidth, long nHeight)
{
    {
        std::lock_guard lock(m_mutex);
        m_rcVideo = QRect(int(nLeft), int(nTop), int(nWidth), int(nHeight));
    }
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

bool CVideoRendererWidget::SetVideoFullScreen(bool bFullScreen)
{
    if (bFullScreen == isFullScreen())
        return true;
    {
        std::lock_guard lock(m_mutex);
        m_bFull = bFullScreen;
    }
    if (bFullScreen) {
        m_pHomeParent = parentWidget();
        m_rcHome = geometry();
        // The screen the pane is on, covered whole even where no window manager does it.
        QScreen* pScreen = m_pHomeParent != nullptr ? m_pHomeParent->screen() : screen();
        setParent(nullptr);
        setWindowFlag(Qt::Window, true);
        if (pScreen != nullptr)
            setGeometry(pScreen->geometry());
        showFullScreen();
        // Keys go to the picture now (any key returns), not to the window behind it.
        activateWindow();
    } else {
        // The state goes too: a child still marked full screen would never be laid out again.
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        setWindowFlag(Qt::Window, false);
        setParent(m_pHomeParent);
        setGeometry(m_rcHome);
        show();
    }
    setFocus();
    return true;
}

void CVideoRendererWidget::GetClientSize(long* pnWidth, long* pnHeight)
{
    *pnWidth = width();
    *pnHeight = height();
}

void CVideoRendererWidget::GetTargetSize(int nSourceWidth, int nSourceHeight, int* pnWidth, int* pnHeight)
{
    std::lock_guard lock(m_mutex);
    const QSize size =
        (QSizeF(TargetRect(QSize(nSourceWidth, nSourceHeight)).size()) * m_dPixelRatio).toSize();
    *pnWidth = size.width();
    *pnHeight = size.height();
}

int CVideoRendererWidget::ScalePercent()
{
    std::lock_guard lock(m_mutex);
    return qRound(m_dPixelRatio * 100);
}

QImage CVideoRendererWidget::CurrentImage()
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

void CVideoRendererWidget::resizeEvent(QResizeEvent*)
{
    {
        std::lock_guard lock(m_mutex);
        m_size = size();
    }
    if (!isWindow())
        Q_EMIT geometryChanged();
}

void CVideoRendererWidget::moveEvent(QMoveEvent*)
{
    // A window system's late word on the full-screen window moved the picture out of place
    // after it came back into the pane.
    if (!isWindow())
        Q_EMIT geometryChanged();
}

void CVideoRendererWidget::paintEvent(QPaintEvent*)
{
    m_bUpdatePending = false;
    QImage image;
    QRect rcImage;
    bool bVisible = true;
    {
        // A shallow copy: the streaming thread replaces the picture, never writes into it.
        std::lock_guard lock(m_mutex);
        image = m_image;
        rcImage = TargetRect(m_sizePicture);
        bVisible = m_bVideoVisible;
        m_dPixelRatio = devicePixelRatioF(); // the next picture follows the window to another screen
    }
    // Without a picture the window shows the pane behind it: its waiting text.
    if (!bVisible || image.isNull())
        return;
    QPainter painter(this);
    // Bars around the picture only; the picture itself is copied, not drawn over black.
    const QRegion bars = QRegion(rect()) - QRegion(rcImage);
    for (const QRect& rc : bars)
        painter.fillRect(rc, Qt::black);
    if (rcImage.size() == image.deviceIndependentSize().toSize()) {
        painter.drawImage(rcImage.topLeft(), image);
    } else {
        // The window changed size since the picture was scaled: the same picture at the new
        // size until the next one, not the old size cut off or beside bars.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rcImage, image);
    }
    ++m_qwPainted;
}

void CVideoRendererWidget::mousePressEvent(QMouseEvent* pEvent)
{
    Q_EMIT mousePressed(pEvent->button(), pEvent->position().toPoint());
}

void CVideoRendererWidget::mouseReleaseEvent(QMouseEvent* pEvent)
{
    Q_EMIT mouseReleased(pEvent->button(), pEvent->position().toPoint());
}

void CVideoRendererWidget::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    // The second press of the pair, as the pane counts presses; then the toggle, which may
    // move this window in or out of the pane.
    Q_EMIT mousePressed(pEvent->button(), pEvent->position().toPoint());
    if (pEvent->button() == Qt::LeftButton)
        Q_EMIT doubleClicked();
}

void CVideoRendererWidget::mouseMoveEvent(QMouseEvent* pEvent)
{
    Q_EMIT mouseMoved(pEvent->position().toPoint());
}

void CVideoRendererWidget::keyPressEvent(QKeyEvent* pEvent)
{
    if (isFullScreen())
        Q_EMIT keyPressed();
    else
        QWidget::keyPressEvent(pEvent);
}
