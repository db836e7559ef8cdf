// "Input password": asked when a camera with a password is opened and no stored password opens it.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
struct DeviceInfo;

class CDlgPassword : public QDialog {
    Q_OBJECT
public:
    explicit CDlgPassword(QWidget* pParent = nullptr);
    QString GetPassword() const;

private:
    QLabel* m_pLabel;
    QLineEdit* m_pEdit;
};

// True when the stored password opens the device, after asking for one where it does not. A
// typed password is tried on every camera; a wrong one is reported; Cancel returns false.
bool EnsureDevicePassword(DeviceInfo& device, QWidget* pParent);
