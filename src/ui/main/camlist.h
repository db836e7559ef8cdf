// The three camera lists of the main window: live view, playback and configuration. Each shows
// the cameras by id or by name, recorders with their channels under them, a status picture and
// a recording tooltip, and opens a camera with its own play type on a double click.
#pragma once

#include "platform/wintypes.h"

#include <QIcon>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;
struct DeviceInfo;

// The playback list's source for a camera's recordings on this PC. It is never a selection's
// play type: the playback pane plays them, and the camera is not asked.
constexpr DWORD PLAY_TYPE_PLAYBACK_PC = 4;

// The tooltip string id for a camera's recording state.
DWORD CamStatusTipID(const DeviceInfo& device);

class CDlgDeviceListBase : public QWidget {
    Q_OBJECT
public:
    CDlgDeviceListBase(DWORD enPlayType, QWidget* pParent);

    // Rebuilds the rows from the device manager, keeping the highlighted camera.
    void RefreshList();
    // Marks the camera with this id as the list's current one (0: none).
    void ShowCurrent(DWORD dwID);
    // Renews the rows' status marks and tooltips: the recording states come with replies that
    // raise no list notification, so the list looks again every second.
    void UpdateStatus();
    virtual void Retranslate();

    // The password rule, the list's refusals, then selection with the list's play type.
    // Returns whether the camera was selected.
    bool OpenDevice(DWORD dwID);

    // Where an opened camera goes instead of being selected (the live view's wall of panes).
    void SetOpenHandler(std::function<bool(DeviceInfo* pDevice)> fnOpen) { m_fnOpen = std::move(fnOpen); }

    QTreeWidget* GetTree() const { return m_pTree; }
    DWORD GetPlayType() const { return m_enPlayType; }
    void SetOrderByName(bool bByName);

protected:
    // A refusal of this list for pDevice (0: none).
    virtual DWORD RefuseOpen(const DeviceInfo& device) const;
    QVBoxLayout* ButtonArea() const { return m_pButtons; }
    // Rows after the cameras of vecDevices (the list's own, not their channels).
    virtual void AppendRows(const std::vector<DeviceInfo*>& vecDevices) { (void)vecDevices; }
    virtual void OnItemActivated(QTreeWidgetItem* pItem);

    DWORD m_enPlayType;
    std::map<int, QIcon> m_mapStatusIcons; // by state, drawn once

private:
    void FillItem(QTreeWidgetItem* pItem, const DeviceInfo& device);

    QTreeWidget* m_pTree;
    class QTimer* m_pStatusTimer;
    QVBoxLayout* m_pButtons;
    bool m_bOrderByName = false;
    std::function<bool(DeviceInfo* pDevice)> m_fnOpen;
};

class CDlgRealplayCamList : public CDlgDeviceListBase {
    Q_OBJECT
public:
    explicit CDlgRealplayCamList(QWidget* pParent = nullptr);
    void Retranslate() override;
    // The search is running (true) or has finished.
    void SetScanning(bool bScanning);
    QString GetStatusText() const;
    // The menu of a camera row: recording on this PC on or off, and its settings.
    void FillRecordMenu(class QMenu& menu, QTreeWidgetItem* pItem);

private:
    QPushButton* m_pBtnOrder;
    QPushButton* m_pBtnSearch;
    QLabel* m_pStatus;
    // Nothing is shown until the first re-search.
    // The device manager starts searching as the window opens.
    enum class ScanState { Idle, Scanning, Finished } m_enScan = ScanState::Scanning;
    void ShowScanState();
};

class CDlgPlaybackCamList : public CDlgDeviceListBase {
    Q_OBJECT
public:
    explicit CDlgPlaybackCamList(QWidget* pParent = nullptr);
    void Retranslate() override;
    // Where a camera known only from the recordings on this PC goes when opened: its serial as
    // in the recordings' index, and the name recorded with it.
    void SetRecordedOpenHandler(std::function<void(const std::string& strSerial, const QString& strName)> fn)
    {
        m_fnOpenRecorded = std::move(fn);
    }

protected:
    DWORD RefuseOpen(const DeviceInfo& device) const override;
    // With this PC as the source: the cameras of the recordings' index that are not in the list
    // (stolen, broken, never found this time), after the others.
    void AppendRows(const std::vector<DeviceInfo*>& vecDevices) override;
    void OnItemActivated(QTreeWidgetItem* pItem) override;

private:
    QPushButton* m_pBtnAuto;
    QPushButton* m_pBtnSD;
    QPushButton* m_pBtnNas;
    QPushButton* m_pBtnPc;
    std::function<void(const std::string& strSerial, const QString& strName)> m_fnOpenRecorded;
};

class CDlgConfigCamList : public CDlgDeviceListBase {
    Q_OBJECT
public:
    explicit CDlgConfigCamList(QWidget* pParent = nullptr);
};
