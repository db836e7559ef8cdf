#include "ui/pages/dlgnetworkcable.h"

#include "core/notify.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "device/settinggroups.h"
#include "ui/pages/pagewidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

void CDlgNetworkCable::BuildControls(QVBoxLayout* pLayout)
{
    auto* pBoxAddr = new QGroupBox(PageText(IDS_ST_NETWIRED), this);
    auto* pForm = new QFormLayout(pBoxAddr);
    m_pRadioPppoe = new QRadioButton(PageText(IDS_NET_PPPOE), pBoxAddr);
    m_pRadioDhcp = new QRadioButton(PageText(IDS_NET_DHCP), pBoxAddr);
    m_pRadioStatic = new QRadioButton(PageText(IDS_NET_STATIC), pBoxAddr);
    pForm->addRow(m_pRadioPppoe);
    pForm->addRow(m_pRadioDhcp);
    pForm->addRow(m_pRadioStatic);
    m_pEditIP = MakeEdit(pBoxAddr, "ip", 15);
    m_pComboMask = new QComboBox(pBoxAddr);
    m_pComboMask->setObjectName(QStringLiteral("mask"));
    m_pComboMask->setEditable(true);
    m_pComboMask->addItems(
        {QStringLiteral("255.0.0.0"), QStringLiteral("255.255.0.0"), QStringLiteral("255.255.255.0")});
    // Empty like the other fields until a camera's own mask fills it, not the first choice.
    m_pComboMask->setCurrentIndex(-1);
    m_pEditGateway = MakeEdit(pBoxAddr, "gateway", 15);
    m_pEditDns1 = MakeEdit(pBoxAddr, "dns1", 15);
    m_pEditDns2 = MakeEdit(pBoxAddr, "dns2", 15);
    pForm->addRow(PageText(IDS_ST_CAMERAIP), m_pEditIP);
    pForm->addRow(PageText(IDS_ST_MASK), m_pComboMask);
    pForm->addRow(PageText(IDS_ST_GATEWAY), m_pEditGateway);
    pForm->addRow(PageText(IDS_ST_PRIMARYDNS), m_pEditDns1);
    pForm->addRow(PageText(IDS_ST_SECONDDNS), m_pEditDns2);
    m_pEditPppoeUser = MakeEdit(pBoxAddr, "pppoe_user", 32);
    m_pEditPppoePass = MakeEdit(pBoxAddr, "pppoe_password", 32);
    m_pEditPppoeConfirm = MakeEdit(pBoxAddr, "pppoe_confirm", 32);
    m_pEditPppoePass->setEchoMode(QLineEdit::Password);
    m_pEditPppoeConfirm->setEchoMode(QLineEdit::Password);
    pForm->addRow(PageText(IDS_ST_NAS_ACCOUNT), m_pEditPppoeUser);
    pForm->addRow(PageText(IDS_ST_PASSWD), m_pEditPppoePass);
    pForm->addRow(PageText(IDS_ST_CONFIRMPASSWD), m_pEditPppoeConfirm);
    pLayout->addWidget(pBoxAddr);
    for (QRadioButton* pRadio : {m_pRadioPppoe, m_pRadioDhcp, m_pRadioStatic})
        connect(pRadio, &QRadioButton::toggled, this, [this] { UpdateModeControls(); });

    auto* pBoxPort = new QGroupBox(PageText(IDS_ST_CAMERA_PORT), this);
    auto* pPortForm = new QFormLayout(pBoxPort);
    auto* pPortRow = new QHBoxLayout;
    m_pEditPort = MakeEdit(pBoxPort, "camera", 5);
    m_pChkRandom = new QCheckBox(PageText(IDS_HINT_RANDPORT), pBoxPort);
    connect(m_pChkRandom, &QCheckBox::toggled, m_pEditPort, &QLineEdit::setDisabled);
    pPortRow->addWidget(m_pEditPort);
    pPortRow->addWidget(m_pChkRandom);
    pPortForm->addRow(PageText(IDS_ST_CAMERA_PORT), pPortRow);
    // The ports the camera maps for the application and for phones, as it reports them.
    m_pLabelAppPort = new QLabel(pBoxPort);
    m_pLabelMobilePort = new QLabel(pBoxPort);
    m_pLabelAppPort->setObjectName(QStringLiteral("app_port"));
    m_pLabelMobilePort->setObjectName(QStringLiteral("mobile_port"));
    pPortForm->addRow(PageText(IDS_MSG_PORTINFO), m_pLabelAppPort);
    pPortForm->addRow(PageText(IDS_MSG_STREAMPORTINFO), m_pLabelMobilePort);
    m_pChkUpnp = new QCheckBox(PageText(IDS_ST_ENABLEUPNP), pBoxPort);
    m_pChkUpnp->setObjectName(QStringLiteral("upnp"));
    pPortForm->addRow(m_pChkUpnp);
    auto* pUpnpRow = new QHBoxLayout;
    pUpnpRow->addStretch(1);
    m_pBtnPort = new QPushButton(PageText(IDS_BTN_SAVE), pBoxPort);
    m_pBtnPort->setMinimumWidth(90);
    connect(m_pBtnPort, &QPushButton::clicked, this, [this] { OnBtnSavePort(); });
    pUpnpRow->addWidget(m_pBtnPort);
    pPortForm->addRow(pUpnpRow);
    pLayout->addWidget(pBoxPort);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);

    for (const char* pszKey :
         {"ip", "gateway", "dns1", "dns2", "pppoe_user", "pppoe_password", "pppoe_confirm"})
        BindKey(pszKey, findChild<QLineEdit*>(QString::fromLatin1(pszKey)));
    BindKey("mask", m_pComboMask);
    BindKey("camera", m_pEditPort);
}

bool CDlgNetworkCable::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetCameraPort != 0 && device.stQuery.bCmdGetNetParam != 0;
}

void CDlgNetworkCable::FillControls(const DeviceInfo& device)
{
    const NetParamRecord& net = device.stNetParam;
    (net.ucConnType == LAN_CONN_PPPOE  ? m_pRadioPppoe
     : net.ucConnType == LAN_CONN_DHCP ? m_pRadioDhcp
                                       : m_pRadioStatic)
        ->setChecked(true);
    m_pEditIP->setText(AddressText(net.dwIP));
    m_pComboMask->setEditText(AddressText(net.dwNetmask));
    m_pEditGateway->setText(AddressText(net.dwGateway));
    m_pEditDns1->setText(AddressText(net.dwDNS1));
    m_pEditDns2->setText(AddressText(net.dwDNS2));
    m_pEditPppoeUser->setText(QString::fromStdString(FieldText(net.szPPPoEAccount)));
    m_pEditPppoePass->setText(QString::fromStdString(FieldText(net.szPPPoEPassword)));
    m_pEditPppoeConfirm->setText(m_pEditPppoePass->text());
    m_pEditPort->setText(QString::number(device.stPort.usPort1));
    m_pChkRandom->setChecked(device.stPort.usPort1 == 0);
    m_pLabelAppPort->setText(device.stPort.usPort2 != 0 ? QString::number(device.stPort.usPort2) : QString());
    m_pLabelMobilePort->setText(device.stPort.usPort3 != 0 ? QString::number(device.stPort.usPort3)
                                                           : QString());
    // Not known until the camera reports its port mapping: then it cannot be changed either.
    m_pChkUpnp->setEnabled(device.stQuery.bCmdGetUpnpStatus != 0);
    m_pChkUpnp->setChecked(device.stQuery.bCmdGetUpnpStatus != 0 && device.stUpnp.abValue[0] != 0);
    UpdateModeControls();
}

void CDlgNetworkCable::UpdateModeControls()
{
    const bool bStatic = m_pRadioStatic->isChecked();
    const bool bPppoe = m_pRadioPppoe->isChecked();
    for (QWidget* pWidget :
         std::initializer_list<QWidget*>{m_pEditIP, m_pComboMask, m_pEditGateway, m_pEditDns1, m_pEditDns2})
        pWidget->setEnabled(bStatic);
    for (QWidget* pWidget : {m_pEditPppoeUser, m_pEditPppoePass, m_pEditPppoeConfirm})
        pWidget->setEnabled(bPppoe);
}

void CDlgNetworkCable::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    KeyValues kv;
    if (m_pRadioStatic->isChecked()) {
        kv = {{"mode", "static"},
              {"ip", EditText(m_pEditIP)},
              {"mask", m_pComboMask->currentText().toStdString()},
              {"gateway", EditText(m_pEditGateway)},
              {"dns1", EditText(m_pEditDns1)},
              {"manual_dns", "on"}};
        // An empty alternate DNS means none.
        if (!m_pEditDns2->text().isEmpty())
            kv["dns2"] = EditText(m_pEditDns2);
    } else if (m_pRadioPppoe->isChecked()) {
        kv = {{"mode", "pppoe"},
              {"pppoe_user", EditText(m_pEditPppoeUser)},
              {"pppoe_password", EditText(m_pEditPppoePass)},
              {"pppoe_confirm", EditText(m_pEditPppoeConfirm)}};
    } else {
        kv = {{"mode", "dhcp"}};
    }
    NetParamRecord record = pDevice->stNetParam;
    if (m_pEditDns2->text().isEmpty() && m_pRadioStatic->isChecked())
        record.dwDNS2 = 0;
    if (Refuse(BuildNetParam(kv, record)))
        return;
    // The LAN engine finds the camera by the serial in the record.
    std::memset(record.szSerial, 0, sizeof(record.szSerial));
    std::memcpy(record.szSerial, pDevice->GetSerial(),
                std::min(strnlen(pDevice->GetSerial(), VIEWER_SERIAL_LEN), sizeof(record.szSerial) - 1));
    pDevice->stNetParam = record;
    Commands()->Cmd_SetNetParam(record);
    CNotifyManager* pBus = Context().Bus();
    if (pBus->IsRegistered(DWORD_NOTIFYID_NETWORK_CABLE_SET))
        pBus->Notify(DWORD_NOTIFYID_NETWORK_CABLE_SET, reinterpret_cast<UINT_PTR>(pDevice));
    ShowHint(GetSaveButton(), IDS_HINT_SETNETWORKSUC, false);
}

void CDlgNetworkCable::OnBtnSavePort()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    WORD usPort = 0;
    if (Refuse(
            BuildCameraPort({{"camera", m_pChkRandom->isChecked() ? "0" : EditText(m_pEditPort)}}, usPort)))
        return;
    pDevice->stPort.usPort1 = usPort;
    Commands()->Cmd_CameraPort(pDevice->GetID(), usPort);
    const BYTE byUpnp = m_pChkUpnp->isChecked() ? 1 : 0;
    if (pDevice->stQuery.bCmdGetUpnpStatus != 0 && byUpnp != (pDevice->stUpnp.abValue[0] != 0 ? 1 : 0)) {
        Commands()->Cmd_UpnpConnect(pDevice->GetID(), byUpnp);
        // The mapping's state is the camera's to report.
        pDevice->stUpnp.abValue[0] = byUpnp;
        pDevice->stQuery.bCmdGetUpnpStatus = 0;
    }
    ShowHint(m_pBtnPort, IDS_HINT_SETPORTSUC, false);
}
