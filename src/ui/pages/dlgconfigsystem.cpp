#include "ui/pages/dlgconfigsystem.h"

#include "core/log.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "device/settinggroups.h"
#include "platform/codepage.h"
#include "ui/pages/pagewidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

void CDlgConfigSystem::BuildControls(QVBoxLayout* pLayout)
{
    auto* pForm = new QFormLayout;
    m_pEditName = MakeEdit(this, "name", 64);
    pForm->addRow(PageText(IDS_ST_DVIPNAME), m_pEditName);
    // The check box and the format apart, so that each follows a change of language.
    m_pChkShowTime = new QCheckBox(PageText(IDS_ST_DISPLAYTIME), this);
    m_pChkShowTime->setObjectName(QStringLiteral("showtime"));
    auto* pShowTime = new QHBoxLayout;
    pShowTime->addWidget(m_pChkShowTime);
    pShowTime->addWidget(new QLabel(PageText(IDS_ST_DISPLAYTIME_FORMAT), this));
    pShowTime->addStretch(1);
    pForm->addRow(QString(), pShowTime);
    m_pComboDServer = new QComboBox(this);
    m_pComboDServer->setObjectName(QStringLiteral("dserver"));
    m_pComboDServer->addItem(PageText(IDS_MODE_CONNECT1), 1);
    m_pComboDServer->addItem(PageText(IDS_MODE_NOSERVER), 0);
    m_pComboDServer->setCurrentIndex(-1);
    pForm->addRow(PageText(IDS_MODE_DSVR), m_pComboDServer);
    pLayout->addLayout(pForm);
    m_pBtnReboot = new QPushButton(PageText(IDS_CTL_RESETDVIP), this);
    m_pBtnReboot->setObjectName(QStringLiteral("reboot"));
    connect(m_pBtnReboot, &QPushButton::clicked, this, &CDlgConfigSystem::OnBtnReboot);
    pLayout->addWidget(m_pBtnReboot, 0, Qt::AlignLeft);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    BindKey("name", m_pEditName);
    BindKey("format", m_pChkShowTime);
}

bool CDlgConfigSystem::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetTimeFormat != 0;
}

void CDlgConfigSystem::FillControls(const DeviceInfo& device)
{
    m_pEditName->setText(QString::fromStdU16String(device.GetName()));
    m_pChkShowTime->setChecked(device.bTimeFormat != 0);
}

void CDlgConfigSystem::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    // A name that is empty or begins with a space is kept as it was, without a word.
    const std::string strName = EditText(m_pEditName);
    std::string strValid;
    bool bCut = false;
    const bool bNameOk = !BuildName({{"name", strName}}, strValid, bCut);
    BYTE byFormat = 0;
    if (Refuse(BuildTimeFormat({{"format", m_pChkShowTime->isChecked() ? "1" : "0"}}, byFormat)))
        return;

    const std::u16string strWide = m_pEditName->text().toStdU16String();
    bool bSent = false;
    if (bNameOk && strWide != pDevice->GetName()) {
        Commands()->Cmd_SetName(pDevice->GetID(), strWide);
        bSent = true;
    }
    if (byFormat != pDevice->bTimeFormat) {
        pDevice->bTimeFormat = byFormat;
        Commands()->Cmd_SetTimeFormat(pDevice->GetID(), byFormat);
        bSent = true;
    }
    if (m_pComboDServer->currentIndex() >= 0) {
        Commands()->Cmd_DServerConnect(pDevice->GetID(),
                                       static_cast<BYTE>(m_pComboDServer->currentData().toInt()));
        bSent = true;
    }
    // "OK" only for what went to the camera.
    ShowHint(GetSaveButton(), bSent ? IDS_HINT_SETNAMESUC : IDS_HINT_NOTHING_CHANGED, false);
}

void CDlgConfigSystem::OnBtnReboot()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    // A restart would cut the download off half-way.
    if (IsDownloading(pDevice->GetID())) {
        ShowHint(m_pBtnReboot, IDS_STOPDOWNLOAD_RESTART, true);
        return;
    }
    if (!Confirm(IDS_MSG_RESTART))
        return;
    Commands()->Cmd_Reboot(pDevice->GetID());
    ShowHint(m_pBtnReboot, IDS_HINT_RESETDVIP, false);
}

void CDlgSystemPassword::BuildControls(QVBoxLayout* pLayout)
{
    auto* pForm = new QFormLayout;
    m_pEditOld = MakeEdit(this, "old", 16);
    m_pEditNew = MakeEdit(this, "new", 16);
    m_pEditConfirm = MakeEdit(this, "confirm", 16);
    for (QLineEdit* pEdit : {m_pEditOld, m_pEditNew, m_pEditConfirm})
        pEdit->setEchoMode(QLineEdit::Password);
    pForm->addRow(PageText(IDS_ST_OLDPASSWD), m_pEditOld);
    pForm->addRow(PageText(IDS_ST_NEWPASSWD), m_pEditNew);
    pForm->addRow(PageText(IDS_ST_CONFIRMPASSWD), m_pEditConfirm);
    pLayout->addLayout(pForm);
    pLayout->addStretch(1);
    AddSaveButton(pLayout)->setText(PageText(IDS_BTN_UPDATEPASSWD));
    BindKey("old", m_pEditOld);
    BindKey("new", m_pEditNew);
    BindKey("confirm", m_pEditConfirm);
}

void CDlgSystemPassword::FillControls(const DeviceInfo&)
{
    m_pEditOld->clear();
    m_pEditNew->clear();
    m_pEditConfirm->clear();
}

void CDlgSystemPassword::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    // A channel's password is its recorder's.
    DeviceInfo* pOwner = pDevice;
    if (pDevice->enCameraType == CAMERA_TYPE_CHILD) {
        if (DeviceInfo* pParent = Context().Manager()->GetParentDevice(pDevice->GetID()))
            pOwner = pParent;
    }
    PasswordChange change;
    if (Refuse(BuildPasswordChange({{"old", EditText(m_pEditOld)},
                                    {"new", EditText(m_pEditNew)},
                                    {"confirm", EditText(m_pEditConfirm)}},
                                   pOwner->stPassword, change)))
        return;
    Commands()->Cmd_SetPassword(pOwner->GetID(), change.abOld, change.abNew);
    // Passwords do not stay on screen once sent.
    for (QLineEdit* pEdit : {m_pEditOld, m_pEditNew, m_pEditConfirm})
        pEdit->clear();
    ShowHint(GetSaveButton(), IDS_HINT_SETPASSWDSUC, false);
}

namespace {
constexpr long DOME_ADDRESS_MAX = 32;
const int g_anBaud[] = {1200, 2400, 4800, 9600, 19200};
constexpr int DOME_DEFAULT_BAUD = 2400;
} // namespace

CDlgSystemDome::CDlgSystemDome(const PageContext& context, QWidget* pParent) : CConfigPage(context, pParent)
{
    m_nSink =
        Commands()->AddDomeSink([this](DWORD dwID, const DomeReply& reply) { OnDomeReply(dwID, reply); });
}

CDlgSystemDome::~CDlgSystemDome()
{
    Commands()->RemoveDomeSink(m_nSink);
}

void CDlgSystemDome::OnDomeReply(DWORD dwID, const DomeReply& reply)
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->GetID() != dwID || m_pEditAddress == nullptr)
        return;
    m_pEditAddress->setText(QString::number(reply.byValue));
    const int nBaud = m_pComboBaud->findData(static_cast<int>(reply.usValue));
    if (nBaud >= 0)
        m_pComboBaud->setCurrentIndex(nBaud);
    else
        VLOG(2, "CDlgSystemDome::OnDomeReply: id:%d, baud rate %d not offered", static_cast<int>(dwID),
             static_cast<int>(reply.usValue));
}

void CDlgSystemDome::BuildControls(QVBoxLayout* pLayout)
{
    auto* pForm = new QFormLayout;
    m_pEditAddress = MakeEdit(this, "address", 3);
    m_pEditAddress->setText(QStringLiteral("1"));
    m_pComboBaud = new QComboBox(this);
    m_pComboBaud->setObjectName(QStringLiteral("baud"));
    for (const int nBaud : g_anBaud)
        m_pComboBaud->addItem(QString::number(nBaud), nBaud);
    m_pComboBaud->setCurrentIndex(m_pComboBaud->findData(DOME_DEFAULT_BAUD));
    pForm->addRow(PageText(IDS_ST_DOME_PORT), m_pEditAddress);
    pForm->addRow(PageText(IDS_ST_DOME_BAUDRATE), m_pComboBaud);
    pLayout->addLayout(pForm);
    auto* pBtnDefault = new QPushButton(PageText(IDS_CMB_DOME_DEFAULT), this);
    connect(pBtnDefault, &QPushButton::clicked, this, [this] {
        m_pEditAddress->setText(QStringLiteral("1"));
        m_pComboBaud->setCurrentIndex(m_pComboBaud->findData(DOME_DEFAULT_BAUD));
    });
    pLayout->addWidget(pBtnDefault, 0, Qt::AlignLeft);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    BindKey("address", m_pEditAddress);
    BindKey("baud", m_pComboBaud);
}

void CDlgSystemDome::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    long nAddress = 0;
    if (!ParseDecimal(EditText(m_pEditAddress), nAddress) || nAddress < 0 || nAddress > DOME_ADDRESS_MAX) {
        Refuse(MakeError("address", IDS_HINT_PORTRANGE, {0, DOME_ADDRESS_MAX}));
        return;
    }
    if (m_pComboBaud->currentIndex() < 0) {
        Refuse(MakeError("baud", IDS_HINT_SEL_BAUDRATE_ERROR));
        return;
    }
    DomeInfo info{};
    info.byAddress = static_cast<BYTE>(nAddress);
    info.usBaudRate = static_cast<WORD>(m_pComboBaud->currentData().toInt());
    Commands()->Cmd_SetDome(pDevice->GetID(), info);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}
