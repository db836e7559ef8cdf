// The e-mail alarm page: mail server and sender, up to five recipients, and the message with
// its placeholders; and the alarm time page.
#pragma once

#include "ui/pages/configpage.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTimeEdit;

class CDlgAlarmEmail : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    // The list's buttons; false with "Mailbox full" when five are there already.
    bool AddRecipient(const QString& strAddress);
    void DeleteRecipient();
    QListWidget* GetRecipients() const { return m_pList; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    QLineEdit* m_pEditServer = nullptr;
    QLineEdit* m_pEditSender = nullptr;
    QListWidget* m_pList = nullptr;
    QLineEdit* m_pEditRecipient = nullptr;
    QPlainTextEdit* m_pEditMessage = nullptr;
};

class CDlgAlarmTime : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    bool CheckEdited() override { return true; }
    void SendTo(DeviceInfo& device) override;
    QString GroupText(const DeviceInfo& device) const override;
    void ForgetGroup(DeviceInfo& device) override;
    void AskGroup(const DeviceInfo& device) override;

private:
    QCheckBox* m_pChkEnable = nullptr;
    QTimeEdit* m_pStart = nullptr;
    QTimeEdit* m_pEnd = nullptr;
};
