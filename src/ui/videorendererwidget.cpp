#include "ui/videorendererwidget.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>

#include <cstring>

CVideoRendererWidget::CVideoRendererWidget(QWidget* pParent) : QWidget(pParent)
{
    setObjectName(QStringLiteral("VideoMessageParent"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void CVideoRendererWidget::PresentFrame(const std::uint32_t* pPixels, int nWidth, int nHeight)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_image.width() != nWidth || m_image.height() != nHeight)
            m_image = QImage(nWidth, nHeight, QImage::Format_RGB32);
        for (int y = 0; y < nHeight; ++y)
            std::memcpy(m_image.scanLine(y), pPixels + static_cast<std::size_t>(y) * nWidth,
                        static_cast<std::size_t>(nWidth) * 4);
    }
    // Painting belongs to the GUI thread.
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
    if (bFullScreen) {
        m_pHomeParent = parentWidget();
        m_rcHome = geometry();
        setParent(nullptr);
        setWindowFlag(Qt::Window, true);
        showFullScreen();
    } else {
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

QImage CVideoRendererWidget::CurrentImage()
{
    std::lock_guard lock(m_mutex);
    return m_image.copy();
}

void CVideoRendererWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    std::lock_guard lock(m_mutex);
    if (!m_bVideoVisible || m_image.isNull())
        return;
    const QRect rcTarget = isFullScreen() || m_rcVideo.isEmpty() ? rect() : m_rcVideo;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, rcTarget.size() != m_image.size());
    painter.drawImage(rcTarget, m_image);
}

void CVideoRendererWidget::mousePressEvent(QMouseEvent* pEvent)
{
    Q_EMIT mousePressed(pEvent->button(), pEvent->position().toPoint());
}

void CVideoRendererWidget::mouseReleaseEvent(QMouseEvent* pEvent)
{
    Q_EMIT mouseReleased(pEvent->button(), pEvent->position().toPoint());
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
