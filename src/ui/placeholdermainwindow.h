// Stand-in for the main window until the real panes exist: a modal dialog titled with the
// program's name that owns the device manager's start (search every 10 s) and lists the
// cameras it finds, so the client is usable end to end before its panes are.
#pragma once

#include "core/notify.h"

#include <QDialog>

class CDlgVideoPane;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;
struct DeviceInfo;

class CPlaceholderMainWindow : public QDialog, public INotifySink {
    Q_OBJECT
public:
    explicit CPlaceholderMainWindow(QWidget* pParent = nullptr);
    ~CPlaceholderMainWindow() override;

    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

private:
    void ShowDevice(const DeviceInfo& device, bool bOnline);
    QTreeWidgetItem* FindItem(DWORD dwID) const;

    // Selects the highlighted camera and shows its configuration pages.
    void OnBtnSetConfig();
    // Selects the double-clicked camera for live view, after its password when it has one.
    void OnLiveView();
    QWidget* MakeLiveToolbar();

    QTreeWidget* m_pList;
    QDialog* m_pConfigure = nullptr;
    CDlgVideoPane* m_pVideoPane = nullptr;
    QLabel* m_pStatus = nullptr;
    QString m_strAutoLive;
};
