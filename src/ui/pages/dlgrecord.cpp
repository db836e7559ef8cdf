#include "ui/pages/dlgrecord.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "ui/pages/pagewidgets.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CDlgRecordBase::CDlgRecordBase(const PageContext& context, bool bNas, QWidget* pParent)
    : CConfigPage(context, pParent), m_bNas(bNas)
{
}

void CDlgRecordBase::BuildControls(QVBoxLayout* pLayout)
{
    auto* pBoxStream = new QGroupBox(PageText(IDS_ST_QUALITY), this);
    auto* pStreamLayout = new QVBoxLayout(pBoxStream);
    m_pStream = new CStreamFields("", pBoxStream);
    pStreamLayout->addWidget(m_pStream);
    pLayout->addWidget(pBoxStream);
    BindKey("fps", m_pStream->GetFps());
    BindKey("res", m_pStream->GetRes());
    BindKey("bps", m_pStream->GetBps());
    if (!m_bNas) {
        m_pLabelCapacity = new QLabel(this);
        m_pLabelCapacity->setObjectName(QStringLiteral("capacity"));
        pLayout->addWidget(m_pLabelCapacity);
        m_pBtnClear = new QPushButton(PageText(IDS_CTL_CLEARSDRECORD), this);
        m_pBtnClear->setObjectName(QStringLiteral("clear"));
        connect(m_pBtnClear, &QPushButton::clicked, this, &CDlgRecordBase::OnBtnClearRecords);
        pLayout->addWidget(m_pBtnClear, 0, Qt::AlignLeft);
    } else {
        auto* pForm = new QFormLayout;
        m_pEditSize = MakeEdit(this, "size", 9);
        m_pEditIP = MakeEdit(this, "ip", 15);
        m_pEditPath = MakeEdit(this, "path", 32);
        m_pEditAccount = MakeEdit(this, "account", 16);
        m_pEditPassword = MakeEdit(this, "password", 16);
        m_pEditConfirm = MakeEdit(this, "confirm", 16);
        m_pEditPassword->setEchoMode(QLineEdit::Password);
        m_pEditConfirm->setEchoMode(QLineEdit::Password);
        pForm->addRow(PageText(IDS_ST_NAS_MAX_STORAGE_SIZE), m_pEditSize);
        pForm->addRow(PageText(IDS_ST_NAS_IP), m_pEditIP);
        pForm->addRow(PageText(IDS_ST_NAS_PATH), m_pEditPath);
        pForm->addRow(PageText(IDS_ST_NAS_ACCOUNT), m_pEditAccount);
        pForm->addRow(PageText(IDS_ST_NAS_PASSWORD), m_pEditPassword);
        pForm->addRow(PageText(IDS_ST_NAS_PASSWORD_COMFIRM), m_pEditConfirm);
        pLayout->addLayout(pForm);
        for (QLineEdit* pEdit :
             {m_pEditSize, m_pEditIP, m_pEditPath, m_pEditAccount, m_pEditPassword, m_pEditConfirm})
            BindKey(pEdit->objectName().toStdString(), pEdit);
    }
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
}

bool CDlgRecordBase::IsReceived(const DeviceInfo& device) const
{
    return m_bNas ? device.stQuery.bCmdGetRecordNas != 0 : device.stQuery.bCmdGetRecordSD != 0;
}

void CDlgRecordBase::FillControls(const DeviceInfo& device)
{
    const RecordInfo& info = m_bNas ? device.stRecordNas : device.stRecordSD;
    m_pStream->SetMode(info.dwSessionMode);
    if (!m_bNas) {
        // Capacity in MB as the camera reports it, when it has.
        const SDInfo& sd = device.stSDInfo;
        m_pLabelCapacity->setText(device.stQuery.bCmdGetSDInfo != 0
                                      ? QStringLiteral("SD: %1 MB / %2 MB / %3 MB")
                                            .arg(sd.dwCapacity)
                                            .arg(sd.dwRecorded)
                                            .arg(sd.dwRemaining)
                                      : QString());
        return;
    }
    m_pEditSize->setText(QString::number(info.dwValueA));
    m_pEditIP->setText(AddressText(info.dwValueB));
    m_pEditPath->setText(QString::fromStdString(FieldText(info.szNasPath)));
    m_pEditAccount->setText(QString::fromStdString(FieldText(info.szNasAccount)));
    m_pEditPassword->setText(QString::fromStdString(FieldText(info.szNasPassword)));
    m_pEditConfirm->setText(m_pEditPassword->text());
}

void CDlgRecordBase::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    KeyValues kv;
    m_pStream->AddKeys(kv);
    if (m_bNas) {
        for (QLineEdit* pEdit :
             {m_pEditSize, m_pEditIP, m_pEditPath, m_pEditAccount, m_pEditPassword, m_pEditConfirm})
            kv[pEdit->objectName().toStdString()] = EditText(pEdit);
    }
    RecordInfo info = m_bNas ? pDevice->stRecordNas : pDevice->stRecordSD;
    if (Refuse(BuildRecord(kv, m_bNas, info)))
        return;
    info.dwID = pDevice->GetID();
    if (m_bNas) {
        pDevice->stRecordNas = info;
        Commands()->Cmd_SetRecordNas(pDevice->GetID(), info);
    } else {
        pDevice->stRecordSD = info;
        Commands()->Cmd_SetRecordSD(pDevice->GetID(), info);
    }
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}

void CDlgRecordBase::OnBtnClearRecords()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    DWORD dwRefusal = 0;
    if (pDevice->stItem.bHasSD == 0)
        dwRefusal = IDS_HINT_NOSDCARD;
    else if (IsDownloading(pDevice->GetID()))
        dwRefusal = IDS_STOPDOWNLOAD_CLEARRECORD;
    else if (pDevice->stSDInfo.byState != 0)
        dwRefusal = IDS_CLEARRECORD_FAIL_RECORDING;
    if (dwRefusal != 0) {
        ShowHint(m_pBtnClear, dwRefusal, true);
        return;
    }
    if (!Confirm(IDS_MSG_CLEARRECORDFILE))
        return;
    Commands()->Cmd_ClearSDRecords(pDevice->GetID());
    ShowHint(m_pBtnClear, IDS_HINT_SETNAMESUC, false);
}
