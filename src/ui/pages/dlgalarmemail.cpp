#include "ui/pages/dlgalarmemail.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "ui/pages/pagewidgets.h"

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
#include <QTimeEdit>
#include <QVBoxLayout>

void CDlgAlarmEmail::BuildControls(QVBoxLayout* pLayout)
{
    auto* pBoxServer = new QGroupBox(PageText(IDS_BTN_SERVER_SET), this);
    auto* pForm = new QFormLayout(pBoxServer);
    m_pEditServer = MakeEdit(pBoxServer, "server", MAIL_FIELD_LEN - 1);
    m_pEditSender = MakeEdit(pBoxServer, "sender", MAIL_FIELD_LEN - 1);
    pForm->addRow(PageText(IDS_ST_SERVER), m_pEditServer);
    pForm->addRow(PageText(IDS_ST_SENDER), m_pEditSender);
    pLayout->addWidget(pBoxServer);

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
    // Edit: the chosen address goes to the edit line, "Add" puts it back.
    connect(pBtnEdit, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem* pItem = m_pList->currentItem()) {
            m_pEditRecipient->setText(pItem->text());
            delete pItem;
        }
    });
    pLayout->addWidget(pBoxList);

    auto* pBoxMessage = new QGroupBox(PageText(IDS_ST_SUBJECT), this);
    auto* pMessage = new QVBoxLayout(pBoxMessage);
    m_pEditMessage = new QPlainTextEdit(pBoxMessage);
    m_pEditMessage->setObjectName(QStringLiteral("message"));
    m_pEditMessage->setMaximumHeight(80);
    pMessage->addWidget(m_pEditMessage);
    auto* pTokens = new QHBoxLayout;
    for (const auto& [dwText, pszToken] : {std::pair{IDS_BTN_MAIL_CAMNAME, "<NETCAMNAME>"},
                                           {IDS_BTN_MAIL_CAMID, "<SERIALNUMBER>"},
                                           {IDS_BTN_MAIL_DURATION, "<TIME>"},
                                           {IDS_CTLTIP_EVENT, "<MOTIONDESC>"}}) {
        auto* pBtn = new QPushButton(PageText(dwText), pBoxMessage);
        const QString strToken = QString::fromLatin1(pszToken);
        connect(pBtn, &QPushButton::clicked, this,
                [this, strToken] { m_pEditMessage->insertPlainText(strToken); });
        pTokens->addWidget(pBtn);
    }
    pMessage->addLayout(pTokens);
    pLayout->addWidget(pBoxMessage);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    BindKey("server", m_pEditServer);
    BindKey("sender", m_pEditSender);
    BindKey("recipients", m_pEditRecipient);
    BindKey("message", m_pEditMessage);
}

bool CDlgAlarmEmail::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetMailInfo != 0;
}

void CDlgAlarmEmail::FillControls(const DeviceInfo& device)
{
    const MailInfo& mail = device.stMail;
    m_pEditServer->setText(QString::fromStdString(FieldText(mail.szServer)));
    m_pEditSender->setText(QString::fromStdString(FieldText(mail.szSender)));
    m_pEditMessage->setPlainText(QString::fromStdString(FieldText(mail.szMessage)));
    m_pList->clear();
    const int nCount = mail.nRecipients < 0 ? 0 : std::min<int>(mail.nRecipients, MAIL_MAX_RECIPIENTS);
    for (int i = 0; i < nCount; ++i)
        m_pList->addItem(QString::fromStdString(FieldText(mail.aszRecipient[i])));
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
    m_pList->addItem(strAddress);
    return true;
}

void CDlgAlarmEmail::DeleteRecipient()
{
    delete m_pList->currentItem();
}

void CDlgAlarmEmail::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    std::string strRecipients;
    for (int i = 0; i < m_pList->count(); ++i)
        strRecipients += (i == 0 ? "" : ",") + m_pList->item(i)->text().toStdString();
    const KeyValues kv{{"server", EditText(m_pEditServer)},
                       {"sender", EditText(m_pEditSender)},
                       {"recipients", strRecipients},
                       {"message", m_pEditMessage->toPlainText().toStdString()}};
    MailInfo info = pDevice->stMail;
    if (Refuse(BuildMail(kv, info)))
        return;
    info.dwID = pDevice->GetID();
    pDevice->stMail = info;
    Commands()->Cmd_SetMail(pDevice->GetID(), info);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
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
