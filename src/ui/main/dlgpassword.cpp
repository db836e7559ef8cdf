#include "ui/main/dlgpassword.h"

#include "core/stringids.h"
#include "device/devicemanager.h"
#include "ui/main/mainmessage.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CDlgPassword::CDlgPassword(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(MainText(IDS_ST_INPUTPASSWD));
    setModal(true);
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;
    m_pLabel = new QLabel(MainText(IDS_ST_PASSWD), this);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setEchoMode(QLineEdit::Password);
    // No camera holds more than 16 bytes.
    m_pEdit->setMaxLength(16);
    m_pLabel->setBuddy(m_pEdit);
    pForm->addRow(m_pLabel, m_pEdit);
    pLayout->addLayout(pForm);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
}

QString CDlgPassword::GetPassword() const
{
    return m_pEdit->text();
}

bool EnsureDevicePassword(DeviceInfo& device, QWidget* pParent)
{
    if (PasswordMatches(device.stPassword))
        return true;
    std::optional<QString> typed;
    if (g_fnPasswordHook) {
        typed = g_fnPasswordHook();
    } else {
        CDlgPassword dlg(pParent);
        if (dlg.exec() == QDialog::Accepted)
            typed = dlg.GetPassword();
    }
    if (!typed)
        return false;
    BYTE abPassword[PASSWORD_LEN] = {};
    if (!PasswordFromText(typed->toStdString(), abPassword)) {
        ShowMainMessage(MainText(IDS_HINT_PASSERR), pParent);
        return false;
    }
    // The device manager tries it on every camera: one password often opens several.
    GetDeviceManager()->SetPassword(abPassword);
    if (!PasswordMatches(device.stPassword)) {
        ShowMainMessage(MainText(IDS_HINT_PASSERR), pParent);
        return false;
    }
    return true;
}
