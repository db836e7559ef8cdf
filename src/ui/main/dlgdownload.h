// "Download": the cameras with an SD card, their recording time range, and the downloads of a
// chosen range into the record folder, up to MAX_DOWNLOAD_CAM at once, with their progress.
#pragma once

#include "platform/wintypes.h"

#include <QDialog>

#include <functional>

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

    explicit CDlgDownloadRecord(QWidget* pParent = nullptr);

    // Rebuilds the rows from the cameras that have a card.
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
    DWORD m_dwWaitingID = 0;
    // Tick count of each running download's start, by camera id.
    std::map<DWORD, qint64> m_mapStarted;
    // Tick count at which a started download was first seen ended: its time stops there.
    std::map<DWORD, qint64> m_mapEnded;
};
