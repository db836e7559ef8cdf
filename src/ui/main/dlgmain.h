// The main window: the tabs, the camera lists, the video area and the configuration panes, and
// the dialogs opened from its buttons. It turns the device manager's notifications into camera
// lists and, for refusals, into messages for the user.
#pragma once

#include "core/notify.h"

#include <QDialog>

class CDlgCamInfoPane;
class CDlgShortcutKeyPane;
class CDlgVideoGrid;
class CDlgVideoPane;
class CDlgConfigCamList;
class CDlgPlaybackCamList;
class CDlgPlaybackPane;
class CDlgRealplayCamList;
class CDlgDeviceListBase;
class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
struct DeviceInfo;

class CDlgMain : public QDialog, public INotifySink {
    Q_OBJECT
public:
    // The active tab (m_enBtnType).
    enum BtnType { BTN_REALTIME, BTN_PLAYBACK, BTN_CONFIG };

    explicit CDlgMain(QWidget* pParent = nullptr);
    ~CDlgMain() override;

    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

    // Cancels the selection and/or the device's download as asked, then shows dwErrorText with
    // the device's name.
    void HandleVideoStatusError(bool bCancelSelectDevice, bool bCancelDownload, DWORD dwErrorText,
                                DeviceInfo* pDevice);

    void OnBtnReal();
    void OnBtnPlayBack();
    void OnBtnSetConfig();
    void OnBtnUpdateCam();
    void OnBtnDownloadRecord();
    void OnBtnLanguage();
    void OnBtnVersion();
    void OnBtnWebsite();
    void OnBtnMin();
    void OnBtnClose();

    BtnType GetBtnType() const { return m_enBtnType; }
    CDlgRealplayCamList* GetRealplayList() const { return m_pRealplayList; }
    CDlgPlaybackCamList* GetPlaybackList() const { return m_pPlaybackList; }
    CDlgConfigCamList* GetConfigList() const { return m_pConfigList; }
    CDlgCamInfoPane* GetInfoPane() const { return m_pInfoPane; }
    CDlgShortcutKeyPane* GetShortcutPane() const { return m_pShortcutPane; }
    CDlgPlaybackPane* GetPlaybackPane() const { return m_pPlaybackPane; }
    QWidget* GetVideoArea() const;
    CDlgVideoGrid* GetVideoGrid() const { return m_pVideoGrid; }
    // Every text of the window, from the current language's tables.
    void Retranslate();
    // The window's place and last tab, kept in the configuration between runs.
    void RestoreWindowState();
    void SaveWindowState();

    void reject() override;
    void done(int nResult) override;

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    class CLanguageSink : public INotifySink {
    public:
        explicit CLanguageSink(CDlgMain* pOwner) : m_pOwner(pOwner) {}
        void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

    private:
        CDlgMain* m_pOwner;
    };

    void SwitchTab(BtnType enType);
    // A camera opened in the playback list: selected with the list's play type, or played from
    // its recordings on this PC.
    bool OpenPlayback(DeviceInfo* pDevice);
    void Subscribe(bool bRegister);
    bool RefuseClose();
    static bool IsDownloading(DWORD dwID);
    // What a pane says when its camera has gone.
    static QString OfflineNotice(const DeviceInfo& device);

    BtnType m_enBtnType = BTN_REALTIME;
    CLanguageSink m_languageSink{this};
    QPushButton* m_apTabs[5] = {};
    QPushButton* m_pBtnLanguage;
    QPushButton* m_pBtnRegister;
    QPushButton* m_pBtnAbout;
    QPushButton* m_pBtnMin;
    QPushButton* m_pBtnClose;
    QStackedWidget* m_pListStack;
    QStackedWidget* m_pRightStack;
    CDlgRealplayCamList* m_pRealplayList;
    CDlgPlaybackCamList* m_pPlaybackList;
    CDlgConfigCamList* m_pConfigList;
    CDlgCamInfoPane* m_pInfoPane;
    QFrame* m_pVideoArea;
    CDlgVideoGrid* m_pVideoGrid;
    CDlgShortcutKeyPane* m_pShortcutPane;
    CDlgPlaybackPane* m_pPlaybackPane;
    QTimer* m_pRefreshTimer;
    // Set while the window may close: the close button and reject() both pass through the check.
    bool m_bClosing = false;
};
