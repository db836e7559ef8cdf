#include "ui/pages/dlgalarmemail.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "ui/pages/pagewidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

const char* const g_apszEventKeys[4] = {"area1", "area2", "area3", "di"};

// An OK and a Cancel button at a dialog's bottom right.
QPushButton* AddDialogButtons(QDialog* pDialog, QVBoxLayout* pLayout)
{
    auto* pRow = new QHBoxLayout;
    pRow->addStretch(1);
    auto* pBtnOk = new QPushButton(PageText(IDS_CTLTIP_OK), pDialog);
    auto* pBtnCancel = new QPushButton(PageText(IDS_CTLTIP_CANCEL), pDialog);
    pBtnOk->setObjectName(QStringLiteral("ok"));
    pBtnOk->setDefault(true);
    QObject::connect(pBtnCancel, &QPushButton::clicked, pDialog, &QDialog::reject);
    pRow->addWidget(pBtnOk);
    pRow->addWidget(pBtnCancel);
    pLayout->addLayout(pRow);
    return pBtnOk;
}

} // namespace

void CDlgAlarmEmail::BuildControls(QVBoxLayout* pLayout)
{
    m_pChkEnable = new QCheckBox(PageText(IDS_ST_ENABLEALARM), this);
    m_pChkEnable->setObjectName(QStringLiteral("enable"));
    pLayout->addWidget(m_pChkEnable);
    BindKey("enable", m_pChkEnable);
    auto* pBoxEvents = new QGroupBox(PageText(IDS_CTLTIP_EVENT), this);
    auto* pEvents = new QHBoxLayout(pBoxEvents);
    const DWORD adwEvents[4] = {IDS_CC_REG1, IDS_CC_REG2, IDS_CC_REG3, IDS_CC_REG4};
    for (int i = 0; i < 4; ++i) {
        m_apChkEvent[i] = new QCheckBox(PageText(adwEvents[i]), pBoxEvents);
        m_apChkEvent[i]->setObjectName(QString::fromLatin1(g_apszEventKeys[i]));
        pEvents->addWidget(m_apChkEvent[i]);
        BindKey(g_apszEventKeys[i], m_apChkEvent[i]);
    }
    pEvents->addStretch(1);
    pLayout->addWidget(pBoxEvents);

    auto* pBoxList = new QGroupBox(PageText(IDS_ST_RECEIVER), this);
    auto* pListLayout = new QGridLayout(pBoxList);
    m_pList = new QListWidget(pBoxList);
    m_pList->setObjectName(QStringLiteral("recipients"));
    m_pList->setMaximumHeight(100);
    pListLayout->addWidget(m_pList, 0, 0, 3, 1);
    m_pEditRecipient = MakeEdit(pBoxList, "recipient", MAIL_FIELD_LEN - 1);
    pListLayout->addWidget(m_pEditRecipient, 3, 0);
    auto* pBtnAdd = new QPushButton(PageText(IDS_BTN_ADD), pBoxList);
    auto* pBtnEdit = new QPushButton(PageText(IDS_BTN_EDIT_EMAIL), pBoxList);
    auto* pBtnDelete = new QPushButton(PageText(IDS_BTN_DELETE), pBoxList);
    pListLayout->addWidget(pBtnEdit, 0, 1);
    pListLayout->addWidget(pBtnDelete, 1, 1);
    pListLayout->addWidget(pBtnAdd, 3, 1);
    connect(pBtnAdd, &QPushButton::clicked, this, [this] {
        if (AddRecipient(m_pEditRecipient->text().trimmed()))
            m_pEditRecipient->clear();
    });
    connect(pBtnDelete, &QPushButton::clicked, this, &CDlgAlarmEmail::DeleteRecipient);
    // Edit: the chosen address is edited where it stands; Escape leaves it as it was, and an
    // address that is no address goes back to what it was.
    connect(pBtnEdit, &QPushButton::clicked, this, &CDlgAlarmEmail::EditRecipient);
    connect(m_pList, &QListWidget::itemChanged, this, &CDlgAlarmEmail::OnRecipientEdited);
    pLayout->addWidget(pBoxList);

    // The server and the message, as the camera has them, each with the dialog that edits it.
    auto* pMail = new QGridLayout;
    m_pLabelServer = new QLabel(this);
    m_pLabelSubject = new QLabel(this);
    m_pLabelServer->setObjectName(QStringLiteral("server_summary"));
    m_pLabelSubject->setObjectName(QStringLiteral("subject_summary"));
    for (QLabel* pLabel : {m_pLabelServer, m_pLabelSubject}) {
        pLabel->setTextFormat(Qt::PlainText);
        pLabel->setMinimumWidth(120);
        pLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    m_pBtnServer = new QPushButton(PageText(IDS_BTN_SERVER_SET), this);
    m_pBtnMessage = new QPushButton(PageText(IDS_ST_EE_TITLE), this);
    m_pBtnServer->setObjectName(QStringLiteral("set_server"));
    m_pBtnMessage->setObjectName(QStringLiteral("edit_email"));
    connect(m_pBtnServer, &QPushButton::clicked, this, &CDlgAlarmEmail::OnBtnSetServer);
    connect(m_pBtnMessage, &QPushButton::clicked, this, &CDlgAlarmEmail::OnBtnEditEmail);
    pMail->addWidget(m_pBtnServer, 0, 0);
    pMail->addWidget(m_pLabelServer, 0, 1);
    pMail->addWidget(m_pBtnMessage, 1, 0);
    pMail->addWidget(m_pLabelSubject, 1, 1);
    pMail->setColumnStretch(1, 1);
    pLayout->addLayout(pMail);
    pLayout->addStretch(1);
    AddSaveButton(pLayout, true);
    BindKey("recipients", m_pEditRecipient);
    BindDialogButtons();
}

void CDlgAlarmEmail::BindDialogButtons()
{
    // While no dialog is open its keys' messages point at the button that opens it.
    for (const char* pszKey : {"server", "sender", "auth", "account", "password", "confirm"})
        BindKey(pszKey, m_pBtnServer);
    for (const char* pszKey : {"subject", "message"})
        BindKey(pszKey, m_pBtnMessage);
}

bool CDlgAlarmEmail::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetMailInfo != 0;
}

void CDlgAlarmEmail::FillControls(const DeviceInfo& device)
{
    const MailInfo& mail = device.stMail;
    m_pChkEnable->setChecked(mail.abFlag[4] != 0);
    for (int i = 0; i < 4; ++i)
        m_apChkEvent[i]->setChecked(mail.abFlag[i] != 0);
    m_pList->clear();
    const int nCount = mail.nRecipients < 0 ? 0 : std::min<int>(mail.nRecipients, MAIL_MAX_RECIPIENTS);
    for (int i = 0; i < nCount; ++i)
        AddListItem(QString::fromStdString(FieldText(mail.aszRecipient[i])));
    ShowSummary(mail);
}

void CDlgAlarmEmail::ShowSummary(const MailInfo& mail)
{
    m_pLabelServer->setText(
        QString::fromStdString(FieldText(mail.szServer) + "  " + FieldText(mail.szSender)));
    m_pLabelSubject->setText(QString::fromStdString(FieldText(mail.szText1)));
}

CDlgAlarmEmailSetServer* CDlgAlarmEmail::OnBtnSetServer()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return nullptr;
    auto* pDialog = new CDlgAlarmEmailSetServer(this, pDevice->stMail);
    connect(pDialog, &QDialog::finished, this, &CDlgAlarmEmail::BindDialogButtons);
    pDialog->open();
    return pDialog;
}

CDlgAlarmEmailEditEmail* CDlgAlarmEmail::OnBtnEditEmail()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return nullptr;
    auto* pDialog = new CDlgAlarmEmailEditEmail(this, pDevice->stMail);
    connect(pDialog, &QDialog::finished, this, &CDlgAlarmEmail::BindDialogButtons);
    pDialog->open();
    return pDialog;
}

bool CDlgAlarmEmail::SaveMail(const KeyValues& kv, QWidget* pConfirmAt)
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return false;
    MailInfo info = pDevice->stMail;
    if (Refuse(BuildMail(kv, info)))
        return false;
    info.dwID = pDevice->GetID();
    pDevice->stMail = info;
    Commands()->Cmd_SetMail(pDevice->GetID(), info);
    ShowSummary(info);
    ShowHint(pConfirmAt, IDS_HINT_SETNAMESUC, false);
    return true;
}

bool CDlgAlarmEmail::AddRecipient(const QString& strAddress)
{
    if (m_pList->count() >= MAIL_MAX_RECIPIENTS) {
        ShowHint(m_pEditRecipient, IDS_HINT_RECEIVER_FULL, true);
        return false;
    }
    if (strAddress.isEmpty() || !strAddress.contains(QLatin1Char('@')) ||
        strAddress.contains(QLatin1Char(','))) {
        ShowHint(m_pEditRecipient, strAddress.isEmpty() ? IDS_HINT_EMAIL_EMPTY : IDS_HINT_EMAIL_INVALID,
                 true);
        return false;
    }
    AddListItem(strAddress);
    return true;
}

void CDlgAlarmEmail::AddListItem(const QString& strAddress)
{
    auto* pItem = new QListWidgetItem(strAddress);
    pItem->setFlags(pItem->flags() | Qt::ItemIsEditable);
    pItem->setData(Qt::UserRole, strAddress);
    m_pList->addItem(pItem);
}

bool CDlgAlarmEmail::EditRecipient()
{
    QListWidgetItem* pItem = m_pList->currentItem();
    if (pItem == nullptr)
        return false;
    m_pList->editItem(pItem);
    return true;
}

void CDlgAlarmEmail::OnRecipientEdited(QListWidgetItem* pItem)
{
    const QString strAddress = pItem->text().trimmed();
    const QString strBefore = pItem->data(Qt::UserRole).toString();
    if (strAddress == strBefore)
        return;
    if (strAddress.isEmpty() || !strAddress.contains(QLatin1Char('@')) ||
        strAddress.contains(QLatin1Char(','))) {
        ShowHint(m_pList, strAddress.isEmpty() ? IDS_HINT_EMAIL_EMPTY : IDS_HINT_EMAIL_INVALID, true);
        const QSignalBlocker block(m_pList);
        pItem->setText(strBefore);
        return;
    }
    const QSignalBlocker block(m_pList);
    pItem->setText(strAddress);
    pItem->setData(Qt::UserRole, strAddress);
}

void CDlgAlarmEmail::DeleteRecipient()
{
    delete m_pList->currentItem();
}

KeyValues CDlgAlarmEmail::PageKeys() const
{
    std::string strRecipients;
    for (int i = 0; i < m_pList->count(); ++i)
        strRecipients += (i == 0 ? "" : ",") + m_pList->item(i)->text().toStdString();
    KeyValues kv{{"enable", m_pChkEnable->isChecked() ? "on" : "off"}, {"recipients", strRecipients}};
    for (int i = 0; i < 4; ++i)
        kv[g_apszEventKeys[i]] = m_apChkEvent[i]->isChecked() ? "on" : "off";
    return kv;
}

void CDlgAlarmEmail::OnBtnSave()
{
    SaveMail(PageKeys(), GetSaveButton());
}

bool CDlgAlarmEmail::CheckEdited()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return false;
    MailInfo info = pDevice->stMail;
    if (Refuse(BuildMail(PageKeys(), info)))
        return false;
    m_mailEdited = info;
    return true;
}

void CDlgAlarmEmail::SendTo(DeviceInfo& device)
{
    // A camera whose record has not come keeps it: its unnamed field is not known.
    if (device.stQuery.bCmdGetMailInfo == 0) {
        RefuseCamera(device.GetID(), PageText(IDS_HINT_GET_INFO_FAIL));
        return;
    }
    MailInfo info = m_mailEdited;
    std::copy(std::begin(device.stMail.szServer2), std::end(device.stMail.szServer2), info.szServer2);
    info.dwID = device.GetID();
    device.stMail = info;
    Commands()->Cmd_SetMail(device.GetID(), info);
}

QString CDlgAlarmEmail::GroupText(const DeviceInfo& device) const
{
    // "[x] server sender 0010 2": the switch, where mail goes from, the events, the recipients.
    const MailInfo& info = device.stMail;
    QString strEvents;
    for (int i = 0; i < 4; ++i)
        strEvents += info.abFlag[i] != 0 ? QLatin1Char('1') : QLatin1Char('0');
    return QStringLiteral("[%1] %2 %3 %4 %5")
        .arg(info.abFlag[4] != 0 ? QLatin1Char('x') : QLatin1Char(' '))
        .arg(QString::fromStdString(FieldText(info.szServer)),
             QString::fromStdString(FieldText(info.szSender)), strEvents)
        .arg(static_cast<int>(info.nRecipients));
}

void CDlgAlarmEmail::ForgetGroup(DeviceInfo& device)
{
    device.stQuery.bCmdGetMailInfo = 0;
}

void CDlgAlarmEmail::AskGroup(const DeviceInfo& device)
{
    Commands()->Cmd_GetMail(device.GetID());
}

CDlgAlarmEmailSetServer::CDlgAlarmEmailSetServer(CDlgAlarmEmail* pPage, const MailInfo& mail)
    : QDialog(pPage), m_pPage(pPage)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(PageText(IDS_BTN_SERVER_SET));
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;
    m_pEditServer = MakeEdit(this, "server", MAIL_FIELD_LEN - 1);
    m_pEditSender = MakeEdit(this, "sender", MAIL_FIELD_LEN - 1);
    m_pChkAuth = new QCheckBox(PageText(IDS_ST_VERIFY), this);
    m_pChkAuth->setObjectName(QStringLiteral("auth"));
    m_pEditAccount = MakeEdit(this, "account", sizeof(mail.szSender2) - 1);
    m_pEditPassword = MakeEdit(this, "password", sizeof(mail.szText2) - 1);
    m_pEditConfirm = MakeEdit(this, "confirm", sizeof(mail.szText2) - 1);
    m_pEditPassword->setEchoMode(QLineEdit::Password);
    m_pEditConfirm->setEchoMode(QLineEdit::Password);
    m_pEditServer->setMinimumWidth(260);
    pForm->addRow(PageText(IDS_ST_SERVER), m_pEditServer);
    pForm->addRow(PageText(IDS_ST_SENDER), m_pEditSender);
    pForm->addRow(QString(), m_pChkAuth);
    pForm->addRow(PageText(IDS_ST_ACCOUNT), m_pEditAccount);
    pForm->addRow(PageText(IDS_ST_PASSWORD), m_pEditPassword);
    pForm->addRow(PageText(IDS_ST_CONFIRM), m_pEditConfirm);
    pLayout->addLayout(pForm);
    connect(AddDialogButtons(this, pLayout), &QPushButton::clicked, this, &CDlgAlarmEmailSetServer::OnBtnOk);
    // The log-in is asked for only with authentication.
    for (QLineEdit* pEdit : {m_pEditAccount, m_pEditPassword, m_pEditConfirm})
        connect(m_pChkAuth, &QCheckBox::toggled, pEdit, &QWidget::setEnabled);

    m_pEditServer->setText(QString::fromStdString(FieldText(mail.szServer)));
    m_pEditSender->setText(QString::fromStdString(FieldText(mail.szSender)));
    m_pEditAccount->setText(QString::fromStdString(FieldText(mail.szSender2)));
    m_pEditPassword->setText(QString::fromStdString(FieldText(mail.szText2)));
    m_pEditConfirm->setText(m_pEditPassword->text());
    m_pChkAuth->setChecked(true);
    m_pChkAuth->setChecked(mail.byValue != 0);
    for (QWidget* pControl : std::initializer_list<QWidget*>{m_pEditServer, m_pEditSender, m_pChkAuth,
                                                             m_pEditAccount, m_pEditPassword, m_pEditConfirm})
        pPage->BindDialogKey(pControl->objectName().toStdString(), pControl);
}

void CDlgAlarmEmailSetServer::OnBtnOk()
{
    KeyValues kv{{"server", EditText(m_pEditServer)},
                 {"sender", EditText(m_pEditSender)},
                 {"auth", m_pChkAuth->isChecked() ? "on" : "off"},
                 {"account", EditText(m_pEditAccount)},
                 {"password", EditText(m_pEditPassword)},
                 {"confirm", EditText(m_pEditConfirm)}};
    if (!m_pChkAuth->isChecked()) {
        // Without authentication the log-in stays as the camera has it.
        kv.erase("account");
        kv.erase("password");
        kv.erase("confirm");
    }
    if (m_pPage->SaveMail(kv, m_pPage->findChild<QPushButton*>(QStringLiteral("set_server"))))
        accept();
}

CDlgAlarmEmailEditEmail::CDlgAlarmEmailEditEmail(CDlgAlarmEmail* pPage, const MailInfo& mail)
    : QDialog(pPage), m_pPage(pPage)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(PageText(IDS_ST_EE_TITLE));
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;
    m_pEditSubject = MakeEdit(this, "subject", sizeof(mail.szText1) - 1);
    m_pEditSubject->setMinimumWidth(360);
    pForm->addRow(PageText(IDS_ST_SUBJECT), m_pEditSubject);
    pLayout->addLayout(pForm);
    m_pEditMessage = new QPlainTextEdit(this);
    m_pEditMessage->setObjectName(QStringLiteral("message"));
    m_pEditMessage->setMinimumHeight(100);
    pLayout->addWidget(m_pEditMessage);
    m_pLastEdit = m_pEditMessage;
    // The placeholders the camera fills in when it sends the mail.
    auto* pTokens = new QHBoxLayout;
    for (const auto& [dwText, pszToken] : {std::pair{IDS_BTN_MAIL_CAMNAME, "<NETCAMNAME>"},
                                           {IDS_BTN_MAIL_CAMID, "<SERIALNUMBER>"},
                                           {IDS_BTN_MAIL_DURATION, "<TIME>"},
                                           {IDS_CTLTIP_EVENT, "<MOTIONDESC>"}}) {
        auto* pBtn = new QPushButton(PageText(dwText), this);
        pBtn->setFocusPolicy(Qt::NoFocus);
        pBtn->setObjectName(QString::fromLatin1(pszToken));
        const QString strToken = QString::fromLatin1(pszToken);
        connect(pBtn, &QPushButton::clicked, this, [this, strToken] {
            if (m_pLastEdit == m_pEditSubject)
                m_pEditSubject->insert(strToken);
            else
                m_pEditMessage->insertPlainText(strToken);
        });
        pTokens->addWidget(pBtn);
    }
    pLayout->addLayout(pTokens);
    connect(AddDialogButtons(this, pLayout), &QPushButton::clicked, this, &CDlgAlarmEmailEditEmail::OnBtnOk);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* pNow) {
        if (pNow == m_pEditSubject || pNow == m_pEditMessage)
            m_pLastEdit = pNow;
    });
    m_pEditSubject->setText(QString::fromStdString(FieldText(mail.szText1)));
    m_pEditMessage->setPlainText(QString::fromStdString(FieldText(mail.szMessage)));
    pPage->BindDialogKey("subject", m_pEditSubject);
    pPage->BindDialogKey("message", m_pEditMessage);
}

void CDlgAlarmEmailEditEmail::OnBtnOk()
{
    const KeyValues kv{{"subject", EditText(m_pEditSubject)},
                       {"message", m_pEditMessage->toPlainText().toStdString()}};
    if (m_pPage->SaveMail(kv, m_pPage->findChild<QPushButton*>(QStringLiteral("edit_email"))))
        accept();
}

void CDlgAlarmTime::BuildControls(QVBoxLayout* pLayout)
{
    m_pChkEnable = new QCheckBox(PageText(IDS_ST_MT_TIMERANGE), this);
    m_pChkEnable->setObjectName(QStringLiteral("enable"));
    pLayout->addWidget(m_pChkEnable);
    auto* pForm = new QFormLayout;
    m_pStart = new QTimeEdit(this);
    m_pEnd = new QTimeEdit(this);
    m_pStart->setObjectName(QStringLiteral("start"));
    m_pEnd->setObjectName(QStringLiteral("end"));
    m_pStart->setDisplayFormat(QStringLiteral("HH:mm"));
    m_pEnd->setDisplayFormat(QStringLiteral("HH:mm"));
    pForm->addRow(PageText(IDS_ST_STARTTIME), m_pStart);
    pForm->addRow(PageText(IDS_ST_ENDTIME), m_pEnd);
    pLayout->addLayout(pForm);
    pLayout->addWidget(new QLabel(PageText(IDS_ALARM_SET), this));
    pLayout->addStretch(1);
    AddSaveButton(pLayout, true);
}

bool CDlgAlarmTime::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetAlarmTime != 0;
}

void CDlgAlarmTime::FillControls(const DeviceInfo& device)
{
    const DWORD dwPeriod = device.stAlarmTime.dwPeriod;
    m_pChkEnable->setChecked(device.stAlarmTime.dwEnable != 0);
    m_pStart->setTime(
        QTime(static_cast<int>(dwPeriod & 0xFF) % 24, static_cast<int>((dwPeriod >> 8) & 0xFF) % 60));
    m_pEnd->setTime(
        QTime(static_cast<int>((dwPeriod >> 16) & 0xFF) % 24, static_cast<int>(dwPeriod >> 24) % 60));
}

void CDlgAlarmTime::SendTo(DeviceInfo& device)
{
    const QTime start = m_pStart->time();
    const QTime end = m_pEnd->time();
    const DWORD dwPeriod = static_cast<DWORD>(start.hour()) | (static_cast<DWORD>(start.minute()) << 8) |
                           (static_cast<DWORD>(end.hour()) << 16) | (static_cast<DWORD>(end.minute()) << 24);
    const DWORD dwEnable = m_pChkEnable->isChecked() ? 1 : 0;
    device.stAlarmTime.dwEnable = dwEnable;
    device.stAlarmTime.dwPeriod = dwPeriod;
    Commands()->Cmd_AlarmTime(device.GetID(), dwEnable, dwPeriod);
}

QString CDlgAlarmTime::GroupText(const DeviceInfo& device) const
{
    // "[x] 08:30-18:05": the switch, then the period as the page shows it.
    const DWORD dwPeriod = device.stAlarmTime.dwPeriod;
    return QString::asprintf(
        "[%c] %02u:%02u-%02u:%02u", device.stAlarmTime.dwEnable != 0 ? 'x' : ' ',
        static_cast<unsigned>(dwPeriod & 0xFF), static_cast<unsigned>((dwPeriod >> 8) & 0xFF),
        static_cast<unsigned>((dwPeriod >> 16) & 0xFF), static_cast<unsigned>(dwPeriod >> 24));
}

void CDlgAlarmTime::ForgetGroup(DeviceInfo& device)
{
    device.stQuery.bCmdGetAlarmTime = 0;
}

void CDlgAlarmTime::AskGroup(const DeviceInfo& device)
{
    Commands()->Cmd_GetAlarmTime(device.GetID());
}

void CDlgAlarmTime::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    SendTo(*pDevice);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}
