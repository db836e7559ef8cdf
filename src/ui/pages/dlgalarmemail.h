// The e-mail alarm page: the switch, the events that send a mail and up to five recipients; the
// server dialog (server, sender, log-in) and the message editor (subject and body with their
// placeholders) save the mail record themselves, as the page does; and the alarm time page.
#pragma once

#include "ui/pages/configpage.h"

#include <QDialog>

#include <map>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QTimeEdit;

class CDlgAlarmEmailSetServer;
class CDlgAlarmEmailEditEmail;

class CDlgAlarmEmail : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    // The list's buttons; false with "Mailbox full" when five are there already.
    bool AddRecipient(const QString& strAddress);
    void DeleteRecipient();
    // Opens the chosen address for editing in place; false when none is chosen.
    bool EditRecipient();
    QListWidget* GetRecipients() const { return m_pList; }
    // The dialogs, opened over the page with the camera's record (window-modal, not blocking).
    CDlgAlarmEmailSetServer* OnBtnSetServer();
    CDlgAlarmEmailEditEmail* OnBtnEditEmail();
    // A dialog's save: the checks on its keys (hints at its controls), then the record written
    // back and sent as a whole; the success hint goes to pConfirmAt. False when a check refused.
    bool SaveMail(const KeyValues& kv, QWidget* pConfirmAt);
    // The dialog's controls take the messages of their keys while it is open.
    void BindDialogKey(const std::string& strKey, QWidget* pControl) { BindKey(strKey, pControl); }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    // "Apply to": the whole mail setting as the page would save it; each camera keeps its own
    // unnamed server field.
    bool CheckEdited() override;
    void SendTo(DeviceInfo& device) override;
    QString GroupText(const DeviceInfo& device) const override;
    void ForgetGroup(DeviceInfo& device) override;
    void AskGroup(const DeviceInfo& device) override;

private:
    // The page's own keys: the switch, the events and the recipients.
    KeyValues PageKeys() const;
    void ShowSummary(const MailInfo& mail);
    void AddListItem(const QString& strAddress);
    void OnRecipientEdited(QListWidgetItem* pItem);
    void BindDialogButtons();
    QCheckBox* m_pChkEnable = nullptr;
    QCheckBox* m_apChkEvent[4] = {};
    QListWidget* m_pList = nullptr;
    QLineEdit* m_pEditRecipient = nullptr;
    QPushButton* m_pBtnServer = nullptr;
    QPushButton* m_pBtnMessage = nullptr;
    QLabel* m_pLabelServer = nullptr;
    QLabel* m_pLabelSubject = nullptr;
    MailInfo m_mailEdited{};
};

class CDlgAlarmEmailSetServer : public QDialog {
    Q_OBJECT
public:
    CDlgAlarmEmailSetServer(CDlgAlarmEmail* pPage, const MailInfo& mail);
    void OnBtnOk();

private:
    CDlgAlarmEmail* m_pPage;
    QLineEdit* m_pEditServer;
    QLineEdit* m_pEditSender;
    QCheckBox* m_pChkAuth;
    QLineEdit* m_pEditAccount;
    QLineEdit* m_pEditPassword;
    QLineEdit* m_pEditConfirm;
};

class CDlgAlarmEmailEditEmail : public QDialog {
    Q_OBJECT
public:
    CDlgAlarmEmailEditEmail(CDlgAlarmEmail* pPage, const MailInfo& mail);
    void OnBtnOk();

private:
    CDlgAlarmEmail* m_pPage;
    QLineEdit* m_pEditSubject;
    QPlainTextEdit* m_pEditMessage;
    // The placeholder buttons write into the edit that last had the focus.
    QWidget* m_pLastEdit = nullptr;
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
