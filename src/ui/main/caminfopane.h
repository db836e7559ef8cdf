// Facts about the selected camera under the live-view list: its serial number (with a copy to
// the clipboard), model, firmware, address (with its network details), its D-server link and
// port mapping, the video it delivers, refreshed every second, and, while the cameras are shared
// as RTSP streams, its URL for other programs (with a copy to the clipboard).
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;
struct DeviceInfo;
class CConfigFileDServer;

class CDlgCamInfoPane : public QWidget {
    Q_OBJECT
public:
    explicit CDlgCamInfoPane(QWidget* pParent = nullptr);

    void Retranslate();
    // Shows the selected camera now (the timer does this every second).
    void OnTimerStat();
    // Puts the shown serial number on the clipboard; "Copy Fail" when there is none to copy or
    // the clipboard does not take it.
    bool OnBtnCopy();
    // The same for the shown camera's RTSP URL.
    bool OnBtnCopyUrl();
    QString GetValueText(int nRow) const;
    // The video figures of the shown camera, as the video pane measures them.
    void SetVideoStat(const QString& strText);
    // Asks the selected camera to connect to its D-server again, then for the link's state. When
    // the settings file lists servers to choose from (SERVER/set), the user picks one first and
    // the camera is told that server.
    bool OnBtnRepair();
    // The server list Repair offers; null for the program's own.
    void SetDServerList(const CConfigFileDServer* pServers) { m_pDServers = pServers; }
    void OnBtnDetail();

    enum Row {
        ROW_SERIAL,
        ROW_TYPE,
        ROW_VERSION,
        ROW_IP,
        ROW_DSERVER,
        ROW_UPNP,
        ROW_STAT,
        ROW_RTSP,
        ROW_COUNT
    };

    static QString DServerText(const DeviceInfo& device);
    static QString UpnpText(const DeviceInfo& device);

private:
    void ShowDevice(const DeviceInfo* pDevice);
    void ShowRtspUrl(const DeviceInfo* pDevice);
    static bool CopyText(const QString& strText);

    QLabel* m_apTitle[ROW_COUNT] = {};
    QLabel* m_apValue[ROW_COUNT] = {};
    QPushButton* m_pBtnCopy;
    QPushButton* m_pBtnCopyUrl;
    QPushButton* m_pBtnDetail;
    QPushButton* m_pBtnRepair;
    QPushButton* m_pBtnRegister;
    QTimer* m_pStatTimer;
    const CConfigFileDServer* m_pDServers = nullptr;
};
