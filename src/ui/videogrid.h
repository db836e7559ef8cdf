// The live view's wall of panes: 1, 4, 9 or 16 video panes, each showing one camera with its
// own decoding. The focused pane's camera is the device manager's selection (the information
// and shortcut panes and the configuration pages follow it); the others are watched cameras.
// Panes that nobody can see let their camera's heartbeat lapse instead of stopping it, so that
// switching layouts back and forth restarts nothing. The layout and each pane's camera (by
// serial) are kept in Vistrel.ini and come back as the cameras appear.
#pragma once

#include "core/notify.h"
#include "media/video/videopanelogic.h"
#include "media/video/videorouter.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class AudioManager;
class CConfigFileManager;
class CDlgVideoPane;
class IDeviceManager;
class QLabel;
class QShortcut;
class QToolButton;
struct DeviceInfo;

// A camera dragged from the camera list: its id as decimal text.
inline constexpr char CAMERA_MIME[] = "application/x-vistrel-camera-id";

class CDlgVideoGrid : public QWidget, public INotifySink {
    Q_OBJECT
public:
    static constexpr int MAX_PANES = 16;
    static constexpr int LAYOUTS[] = {1, 4, 9, 16};
    // Ctrl+1 to Ctrl+4: one to four panes a side.
    static constexpr Qt::Key LAYOUT_KEYS[] = {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4};

    // What the grid is built with; null members take the process-wide objects.
    struct Deps {
        IDeviceManager* pManager = nullptr;
        CNotifyManager* pNotify = nullptr;
        CConfigFileManager* pConfig = nullptr;
        AudioManager* pAudio = nullptr;
        // Each pane's session (tests put their own in).
        std::function<std::unique_ptr<CVideoSession>(IVideoPresenter* pOwner)> fnMakeSession;
        // The password rule before a camera is shown; default: the password dialog.
        std::function<bool(DeviceInfo& device)> fnPassword;
        // Without it the grid is not the media engine's sink (tests route frames by hand).
        bool bAttachEngine = true;
    };

    explicit CDlgVideoGrid(QWidget* pParent = nullptr);
    CDlgVideoGrid(QWidget* pParent, Deps deps);
    ~CDlgVideoGrid() override;

    // Panes shown: 1, 4, 9 or 16. Every pane keeps its camera whatever the layout.
    int GetLayout() const { return m_nLayout; }
    void SetLayout(int nPanes);
    CDlgVideoPane* Pane(int nIndex) const;
    int FocusedIndex() const { return m_nFocus; }
    CDlgVideoPane* FocusedPane() const { return Pane(m_nFocus); }
    // The pane showing this camera in live view, or -1.
    int PaneOf(DWORD dwID) const;
    // The serial of the camera kept for a pane (empty: none).
    std::string AssignedSerial(int nIndex) const;

    // Makes the pane the focused one: its camera becomes the selection, and the PC's speaker
    // and microphone leave the pane that had them.
    void FocusPane(int nIndex);
    // A camera into a pane (-1: the first free pane shown, else the focused one), watched and
    // focused; a camera already shown in another pane is focused there (or moved, when a pane is
    // named). False when the camera cannot be shown (a recorder, a password not given).
    bool OpenCamera(DeviceInfo* pDevice, int nIndex = -1);
    // The user empties a pane: its camera stops at once.
    void ClearPane(int nIndex);
    // The camera refused or went away: its pane stops showing it and says why. bForget also
    // drops it from the pane (a refusal); without, the pane takes it again when it comes back.
    void StopCamera(DeviceInfo* pDevice, const QString& strNotice, bool bForget);

    // Live view (true) or playback in the focused pane, the others hidden (false).
    void SetLive(bool bLive);
    bool IsLive() const { return m_bLive; }
    // Double click on a pane: that pane alone over the whole area, and back.
    void ToggleAlone(int nIndex);
    int AloneIndex() const { return m_nAlone; }
    // F11: the single pane's picture, or the whole wall, on the screen, and back.
    void ToggleFullScreen();
    bool IsWallFullScreen() const;
    // Whether a pane can be seen now (layout, alone, window minimised or hidden).
    bool IsPaneShown(int nIndex) const;

    void SaveState();
    void RestoreState();

    CVideoRouter& Router() { return m_router; }
    QToolButton* LayoutButton(int nIndex) const { return m_apLayoutButtons[nIndex]; }
    void Retranslate();

    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

Q_SIGNALS:
    void focusChanged(CDlgVideoPane* pPane);
    // The focused pane's figures, as CDlgVideoPane::statisticsChanged.
    void statisticsChanged(const QString& strText);
    void layoutChanged(int nPanes);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    struct Slot {
        CDlgVideoPane* pPane = nullptr;
        QLabel* pName = nullptr; // the camera's name over the picture, in a wall
        std::string strSerial;   // the camera kept for the pane
        DWORD dwWatched = 0;     // the camera WatchDevice was asked for, not yet undone
        QString strNotice;       // why the pane stopped (offline, refused)
        QString strTip;
    };

    CDlgVideoPane* MakePane(int nIndex);
    int IndexOf(const QObject* pObject) const;
    bool ShownByLayout(int nIndex) const;
    void LayoutBars();
    void LayoutPanes();
    void UpdateWatching();
    void ReleaseSlot(int nIndex, bool bStopNow);
    void ShowInSlot(int nIndex, DeviceInfo* pDevice);
    // Focus moves without touching the selection (it is already that pane's camera).
    void SetFocusIndex(int nIndex);
    void UpdatePaneTexts(int nIndex, const QString& strFigures);
    void ShowContextMenu(int nIndex, QPoint ptGlobal);
    // Cameras present whose pane is waiting for them.
    void TakePresentCameras();
    void TakeCamera(DeviceInfo* pDevice);
    std::vector<DeviceInfo*> PresentCameras() const;
    // With VISTREL_PANE_MAP set: the layout, then each shown pane's screen rectangle (its picture
    // area) and camera id, one a line.
    void WritePaneMap() const;

    Deps m_deps;
    IDeviceManager* m_pManager;
    CNotifyManager* m_pNotify;
    CConfigFileManager* m_pConfig;
    CVideoRouter m_router;
    QWidget* m_pBar;
    QToolButton* m_apLayoutButtons[4] = {};
    QWidget* m_pWall; // the panes; a window of its own in full screen
    std::vector<QShortcut*> m_vWallShortcuts;
    QWidget* m_pWindow = nullptr; // whose minimising hides the panes
    std::vector<Slot> m_vSlots;
    int m_nLayout = 1;
    int m_nFocus = 0;
    int m_nAlone = -1;
    bool m_bLive = true;
    bool m_bRestoring = false;
    bool m_bSelecting = false; // the grid itself changes the selection
    bool m_bAsking = false;    // a password dialog is open
    bool m_bKeepSelection = false; // panes take their cameras back without selecting
};
