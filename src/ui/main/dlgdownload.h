// "Download": the cameras with an SD card, their recording time range, and the downloads of a
// chosen range into the record folder, up to MAX_DOWNLOAD_CAM at once, with their progress.
#pragma once

#include "platform/wintypes.h"

#include <QDialog>

#include <functional>

class IDeviceManager;
class QDateTimeEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
struct DeviceInfo;

// For tests: the answer the next confirmation gets without asking (unset: ask).
extern std::function<bool(const QString&)> g_fnConfirmHook;

class CDlgDownloadRecord : public QDialog {
    Q_OBJECT
public:
    enum Column {
        COL_NAME,
        COL_RECORD_RANGE,
        COL_DOWNLOAD_RANGE,
        COL_TIME,
        COL_DATA,
        COL_PERCENT,
        COL_COUNT
    };

    // pDevices: null for the process-wide device manager. The downloads are the registered
    // download manager's: the dialog keeps none of its own, so that reopened it shows the ones
    // still running and how the others ended.
    explicit CDlgDownloadRecord(QWidget* pParent = nullptr, IDeviceManager* pDevices = nullptr);

    // Rebuilds the rows from the cameras that have a card (a recorder's channels with the
    // recorder's name) and those with a download.
    void FillList();
    // Chooses a camera row and asks for its recording time range.
    bool SelectCamera(DWORD dwID);
    void SetRange(DWORD dwStart, DWORD dwEnd);

    void OnBtnDownload();
    void OnBtnStop();
    void OnBtnStopAll();
    void OnBtnOpenDir();

    QTreeWidget* GetList() const { return m_pList; }
    QDateTimeEdit* GetStartField() const { return m_pStart; }
    QDateTimeEdit* GetEndField() const { return m_pEnd; }
    QString GetCellText(DWORD dwID, int nColumn) const;

    // What the user is told about the device's last download when it stopped on a failure
    // (its name, the reason and the folder); empty when it did not.
    static QString FailureMessage(const DeviceInfo& device);

private:
    DeviceInfo* SelectedDevice() const;
    QTreeWidgetItem* FindRow(DWORD dwID) const;
    void OnTimerRecordInfo();
    void OnTimerHeartbeat();
    void OnTimerProgress();
    void ShowRow(QTreeWidgetItem* pItem, const DeviceInfo& device);
    // Widens the dialog (up to the screen) until every column shows whole.
    void FitColumns();
    bool Confirm(const QString& strText);
    // The name a row shows: a channel's with its recorder's in front.
    QString RowName(const DeviceInfo& device) const;

    QTreeWidget* m_pList;
    QDateTimeEdit* m_pStart;
    QDateTimeEdit* m_pEnd;
    QPushButton* m_pBtnDownload;
    QPushButton* m_pBtnStop;
    QPushButton* m_pBtnStopAll;
    QPushButton* m_pBtnOpenDir;
    QTimer* m_pTimerRecordInfo; // TR_GETRECORDINFO
    QTimer* m_pTimerHeartbeat;  // TR_RECORDINFO_HEARTBEAT
    QTimer* m_pTimerProgress;   // TR_DOWNLOAD_PROGRESS
    IDeviceManager* m_pDevices;
    DWORD m_dwWaitingID = 0;
};
