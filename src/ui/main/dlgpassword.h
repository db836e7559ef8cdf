// "Input password": asked when a camera with a password is opened and no stored password opens it.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

class CDlgPassword : public QDialog {
    Q_OBJECT
public:
    explicit CDlgPassword(QWidget* pParent = nullptr);
    QString GetPassword() const;

private:
    QLabel* m_pLabel;
    QLineEdit* m_pEdit;
};
