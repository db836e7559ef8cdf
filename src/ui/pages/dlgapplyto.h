// "Apply to...": the camera list from which the user picks the cameras that get the page's
// settings too. An offline camera is reported and gets nothing.
#pragma once

#include "platform/wintypes.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

class IDeviceManager;
class QListWidget;
class QPushButton;
struct DeviceInfo;

// What happened for one chosen camera.
struct ApplyToResult {
    DWORD dwID = 0;
    bool bSent = false;    // false: the camera was offline
    bool bRefused = false; // the page left it alone (strSent says why)
    // What the page sent and, once the camera answered the read-back, what it holds.
    QString strSent;
    bool bAnswered = false;
    QString strAnswered;
};

// Sends with fnSend to every chosen camera that is present and reports, per camera, what was
// done; the camera the page shows (dwSkipID) is never in the list.
std::vector<ApplyToResult> ApplyToCameras(IDeviceManager* pManager, const std::vector<DWORD>& vecIDs,
                                          const std::function<void(DeviceInfo&)>& fnSend);

class CDlgApplyTo : public QDialog {
    Q_OBJECT
public:
    // The video devices of the manager except dwSkipID.
    CDlgApplyTo(IDeviceManager* pManager, DWORD dwSkipID, QWidget* pParent = nullptr);

    std::vector<DWORD> GetChosen() const;
    QListWidget* GetList() const { return m_pList; }
    void OnBtnSelectAll();
    void OnBtnInvert();

private:
    QListWidget* m_pList;
};
