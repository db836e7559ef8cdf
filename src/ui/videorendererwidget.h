// The pane's child video window: the renderer presents decoded pictures here from its
// streaming thread, which also scales them to the window; painting only copies the latest one
// to the screen, so that a large picture does not hold up the GUI thread (which also reads the
// network).
#pragma once

#include "media/video/videorenderer.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
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
    void GetTargetSize(int nSourceWidth, int nSourceHeight, int* pnWidth, int* pnHeight) override;
    int ScalePercent() override;

    // The picture last presented, as scaled for the window.
    QImage CurrentImage();
    // Pictures presented and pictures painted (a paint shows the latest picture only).
    std::uint64_t FramesPresented() const { return m_qwPresented.load(); }
    std::uint64_t FramesPainted() const { return m_qwPainted.load(); }

Q_SIGNALS:
    // Mouse and key input in pane terms: the pane turns them into its private messages.
    void mousePressed(Qt::MouseButton button, QPoint pos);
    void mouseReleased(Qt::MouseButton button, QPoint pos);
    void mouseMoved(QPoint pos);
    void keyPressed();
    // A double click at the desktop's own speed.
    void doubleClicked();
    // Moved or resized while inside the pane: the pane owns that place and puts it back.
    void geometryChanged();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void moveEvent(QMoveEvent* pEvent) override;

private:
    QRect TargetRect(QSize sizePicture) const; // under m_mutex

    std::mutex m_mutex;
    QImage m_image;            // the latest picture, scaled for the window as it was then
    QImage m_imageSpare;       // the one before, written again once no paint holds it
    QSize m_sizePicture;       // its size as decoded
    QSize m_size;              // this window's size, for the streaming thread
    qreal m_dPixelRatio = 1.0; // and its screen's pixels per point
    bool m_bFull = false;
    bool m_bVideoVisible = true;
    QRect m_rcVideo; // where the video goes inside this window; empty: all of it
    std::atomic<bool> m_bUpdatePending{false};
    std::atomic<std::uint64_t> m_qwPresented{0};
    std::atomic<std::uint64_t> m_qwPainted{0};
    QWidget* m_pHomeParent = nullptr;
    QRect m_rcHome;
};
