// The remote playback controls of the "Playback" tab: the days with recordings, the hour and
// minute bars that mark normal and event recordings, the seconds slider, mode and speed, the
// transport button and the minute steps. The camera plays its card to the video pane; what the
// pane shows follows the frames' camera time. The same controls play a camera's recordings on
// this PC, answered from their index and segments instead of by the camera.
#pragma once

#include "core/notify.h"
#include "core/windowsmanage.h"
#include "media/playback/playbackpanelogic.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class CBalloonHint;
class CDlgVideoPane;
class CPcPlaybackSource;
struct DeviceInfo;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;

// A row of cells (24 hours or 60 minutes): unmarked, normal or event, the current one marked
// apart; a click on a cell reports it, and so do the arrow keys followed by Enter or Space.
class CTimeBar : public QWidget {
    Q_OBJECT
public:
    CTimeBar(int nCells, int nLabelStep, QWidget* pParent = nullptr);

    void SetCells(const BarMark* pMarks, int nCurrent);
    BarMark GetMark(int nCell) const { return m_vecMarks[static_cast<std::size_t>(nCell)]; }
    int GetCurrent() const { return m_nCurrent; }
    QRect CellRect(int nCell) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static QColor ColorOf(BarMark enMark);
    static QColor CurrentColor();

Q_SIGNALS:
    void cellClicked(int nCell);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    int m_nLabelStep;
    // The cell the keyboard points at while the bar has the focus.
    int m_nKeyCell = 0;
    std::vector<BarMark> m_vecMarks;
    int m_nCurrent = -1;
};

class CDlgPlaybackPane : public QWidget, public INotifySink, public IWndProcSink {
    Q_OBJECT
public:
    // The record-time events 0 to 3 arrive at the pane's window as these messages.
    enum : UINT {
        WM_REC_DATE = 0x8001,
        WM_REC_HOUR = 0x8002,
        WM_REC_MINUTE = 0x8003,
        WM_REC_FINISH = 0x8004,
    };

    explicit CDlgPlaybackPane(QWidget* pParent = nullptr);
    ~CDlgPlaybackPane() override;

    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;
    void OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void Retranslate();

    // Plays pCamera's recordings on this PC (the recording folder strFolder) into pVideo, which
    // gives up what it showed; the camera is not asked for anything.
    void StartPcPlayback(DeviceInfo* pCamera, CDlgVideoPane* pVideo, const std::string& strFolder);
    // The same for a camera known only from the recordings (not in the camera list): its serial
    // in their index and the name recorded with it stand in for the camera.
    void StartPcPlayback(const std::string& strSerial, const QString& strName, CDlgVideoPane* pVideo,
                         const std::string& strFolder);
    // Ends a PC playback and empties its video pane; nothing when none plays.
    void StopPcPlayback();
    bool IsPcPlayback() const { return m_pPcSource != nullptr; }

    CPlaybackPaneLogic& Logic() { return m_logic; }
    QComboBox* GetDateList() const { return m_pCmbDate; }
    QComboBox* GetModeList() const { return m_pCmbMode; }
    QComboBox* GetSpeedList() const { return m_pCmbSpeed; }
    CTimeBar* GetHourBar() const { return m_pHourBar; }
    CTimeBar* GetMinuteBar() const { return m_pMinuteBar; }
    QSlider* GetSecondSlider() const { return m_pSlider; }
    // The transport button shown now, and the two minute steps.
    QPushButton* GetTransportButton() const;
    QPushButton* GetPreviousMinuteButton() const { return m_pBtnPrevMinute; }
    QPushButton* GetNextMinuteButton() const { return m_pBtnNextMinute; }
    CBalloonHint* GetHint() const { return m_pHint; }
    QLabel* GetIdleHint() const { return m_pLblIdle; }

private:
    // Shows what the logic holds.
    void Refresh();
    void changeEvent(QEvent* pEvent) override;
    void Subscribe(bool bRegister);
    // The end of the playback: the pane stops and says that it completed.
    void OnFinish(DWORD dwID);
    // Forgets the PC playback; bEmptyVideo: its video pane stops showing the camera too.
    void EndPcPlayback(bool bEmptyVideo);

    CPlaybackPaneLogic m_logic;
    // While a PC playback runs: its source, camera and video pane.
    std::unique_ptr<CPcPlaybackSource> m_pPcSource;
    DeviceInfo* m_pPcCamera = nullptr;
    // The camera of recordings whose camera is not in the list, while they play.
    std::unique_ptr<DeviceInfo> m_pPcStandIn;
    QPointer<CDlgVideoPane> m_pPcVideo;
    HWND m_hWnd = nullptr;
    QLabel* m_pLblDate;
    QLabel* m_pLblMode;
    QLabel* m_pLblSpeed;
    QLabel* m_pLblHour;
    QLabel* m_pLblMinute;
    QLabel* m_apLegend[3] = {};
    QComboBox* m_pCmbDate;
    QComboBox* m_pCmbMode;
    QComboBox* m_pCmbSpeed;
    CTimeBar* m_pHourBar;
    CTimeBar* m_pMinuteBar;
    QSlider* m_pSlider;
    QLabel* m_pLblIdle; // in the slider's place while no camera plays: what to do
    QLabel* m_pLblSecond;
    QStackedWidget* m_pTransport;
    QPushButton* m_pBtnPlay;
    QPushButton* m_pBtnPause;
    QPushButton* m_pBtnResume;
    QPushButton* m_pBtnNextFrame;
    QPushButton* m_pBtnPrevMinute;
    QPushButton* m_pBtnNextMinute;
    CBalloonHint* m_pHint;
    // The days the date list shows, to rebuild it only when they change.
    std::vector<DWORD> m_vecShownDays;
};
