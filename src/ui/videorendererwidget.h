// The pane's child video window: the renderer presents decoded pictures here from its
// streaming thread; painting scales the latest one to the window.
#pragma once

#include "media/video/videorenderer.h"

#include <QImage>
#include <QWidget>

#include <mutex>

class CVideoRendererWidget : public QWidget, public IVideoPresenter {
    Q_OBJECT
public:
    explicit CVideoRendererWidget(QWidget* pParent);

    // IVideoPresenter
    void PresentFrame(const std::uint32_t* pPixels, int nWidth, int nHeight) override;
    void SetVideoVisible(bool bVisible) override;
    void SetVideoPosition(long nLeft, long nTop, long nWidth, long nHeight) override;
    bool SetVideoFullScreen(bool bFullScreen) override;
    void GetClientSize(long* pnWidth, long* pnHeight) override;

    // The picture last presented (a copy), for screenshots and tests.
    QImage CurrentImage();

Q_SIGNALS:
    // Mouse and key input in pane terms: the pane turns them into its private messages.
    void mousePressed(Qt::MouseButton button, QPoint pos);
    void mouseReleased(Qt::MouseButton button, QPoint pos);
    void mouseMoved(QPoint pos);
    void keyPressed();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    std::mutex m_mutex;
    QImage m_image;
    bool m_bVideoVisible = true;
    QRect m_rcVideo; // where the video goes inside this window; empty: all of it
    QWidget* m_pHomeParent = nullptr;
    QRect m_rcHome;
};
