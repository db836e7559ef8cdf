// The video pane: the live picture of the selected camera with its waiting text and
// background, laid out to keep the picture's aspect ratio. Self-contained: it follows the pane
// commands on the notification bus (the device manager's selection shows a camera here) and
// reports its figures through statisticsChanged once a second.
#pragma once

#include "media/video/videopanelogic.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

class CVideoRendererWidget;
class CVideoToolbar;
class QLabel;

// The pane's private messages to its owner (mouse in the video window, pane coordinates).
enum : int {
    WM_VIDEO_LBUTTONDOWN = 0x8086,
    WM_VIDEO_CLICK = 0x8087,
    WM_VIDEO_RBUTTONDOWN = 0x8088,
    WM_VIDEO_RBUTTONUP = 0x8089,
    WM_VIDEO_MOUSEMOVE = 0x808A,
};

class CDlgVideoPane : public QWidget, public IVideoPaneView {
    Q_OBJECT
public:
    explicit CDlgVideoPane(QWidget* pParent = nullptr);
    // With hooks of the caller's; without bAttach the pane follows neither the bus nor the media
    // engine (tests feed it directly).
    CDlgVideoPane(QWidget* pParent, CVideoPaneLogic::Hooks hooks, bool bAttach);
    ~CDlgVideoPane() override;

    CVideoPaneLogic& Logic() { return *m_pLogic; }
    const CVideoPaneLogic& Logic() const { return *m_pLogic; }
    // The video window, while a camera is shown.
    CVideoRendererWidget* VideoWindow() const { return m_pVideo; }
    CVideoToolbar* Toolbar() const { return m_pToolbar; }
    // The part of the pane the picture and the waiting texts use (above the toolbar).
    QRect VideoArea() const;

    // Pane commands, as the toolbar sends them (also reachable on the bus).
    void TakeSnapshot();
    void SetMicrophone(bool bOn);
    void SetSpeaker(bool bOn);
    void SetColorAdjust(int nBrightness, int nContrast, int nHue, int nSaturation);
    void StopVideo();
    void ToggleFullScreen();
    // Recording of the shown camera on this PC on or off; the reason is told when it cannot start.
    void SetRecordOnPc(bool bOn);
    bool IsRecordingOnPc() const;
    // The recording mark in the picture's corner and the toolbar's button follow the camera.
    void RefreshRecordMark();
    // The mark, shown while the camera records on this PC.
    QLabel* RecordMark() const { return m_pRecordMark; }

    // In a wall of panes: no toolbar (the picture takes the whole pane; the focused pane's
    // commands are in the shortcut pane) and no full screen of its own.
    void SetCompact(bool bCompact);
    bool IsCompact() const { return m_bCompact; }
    // Said in the pane while it shows no camera (offline, refused); empty: the background.
    void SetNotice(const QString& strNotice);
    QString Notice() const { return m_strNotice; }
    // A double click on the picture asks this first; true: handled, no full screen.
    void SetDoubleClickHandler(std::function<bool()> fnHandler) { m_fnDoubleClick = std::move(fnHandler); }

    // "%2.1f fps, %2.1f Kbps" of the shown camera over the last two seconds, then the stage
    // figures; shifts the device's interval counters as the information pane's timer does.
    QString TakeStatistics();

    // IVideoPaneView
    IVideoPresenter* CreateVideoWindow() override;
    void DestroyVideoWindow() override;
    void OnPictureSize(DWORD nWidth, DWORD nHeight) override;
    void InvalidatePane() override;
    void OnSnapshotTaken(const std::string& strTempPath) override;

Q_SIGNALS:
    void paneMessage(int nMessage, QPoint pos);
    void statisticsChanged(const QString& strText);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    friend class CVideoToolbar; // lays the pane out again when its status lines come or go
    void LayoutVideo();
    void OnVideoReleased(Qt::MouseButton button, QPoint pos);
    void OnClickTimer();
    void OnDoubleClick();

    std::unique_ptr<CVideoPaneLogic> m_pLogic;
    CVideoRendererWidget* m_pVideo = nullptr;
    CVideoToolbar* m_pToolbar = nullptr;
    QLabel* m_pRecordMark = nullptr;
    QPixmap m_background;
    QPixmap m_background2x; // for scaled screens
    QTimer m_clickTimer;
    int m_nButtonUps = 0;
    QPoint m_ptLastUp;
    QTimer m_statsTimer;
    CVideoSession::Stats m_lastStats;
    const DeviceInfo* m_pFiguresDevice = nullptr; // whose figures the toolbar shows
    CVideoPaneLogic::Counters m_lastCounters;
    bool m_bClosing = false; // the logic is going: its calls back to the view do nothing
    bool m_bCompact = false;
    QString m_strNotice;
    std::function<bool()> m_fnDoubleClick;
};
