#include "ui/pages/dlgalarm.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "ui/pages/pagewidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace {
const char* const g_apszTriggerKeys[4] = {"area1", "area2", "area3", "di"};
} // namespace

CDlgAlarmTriggers::CDlgAlarmTriggers(const PageContext& context, bool bSms, QWidget* pParent)
    : CConfigPage(context, pParent), m_bSms(bSms)
{
}

void CDlgAlarmTriggers::BuildControls(QVBoxLayout* pLayout)
{
    const DWORD adwText[4] = {IDS_CC_REG1, IDS_CC_REG2, IDS_CC_REG3, IDS_CC_REG4};
    for (int i = 0; i < 4; ++i) {
        m_apChk[i] = new QCheckBox(PageText(adwText[i]), this);
        m_apChk[i]->setObjectName(QString::fromLatin1(g_apszTriggerKeys[i]));
        pLayout->addWidget(m_apChk[i]);
        BindKey(g_apszTriggerKeys[i], m_apChk[i]);
    }
    pLayout->addStretch(1);
    AddSaveButton(pLayout, true);
}

bool CDlgAlarmTriggers::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetDoInfo != 0;
}

void CDlgAlarmTriggers::FillControls(const DeviceInfo& device)
{
    const BYTE* pbTriggers = m_bSms ? device.stDo.abSms : device.stDo.abDo;
    for (int i = 0; i < 4; ++i)
        m_apChk[i]->setChecked(pbTriggers[i] != 0);
}

bool CDlgAlarmTriggers::CheckEdited()
{
    KeyValues kv;
    for (int i = 0; i < 4; ++i)
        kv[g_apszTriggerKeys[i]] = m_apChk[i]->isChecked() ? "on" : "off";
    return !Refuse(BuildTriggers(kv, m_abEdited));
}

void CDlgAlarmTriggers::SendTo(DeviceInfo& device)
{
    // The other page's triggers stay as the camera has them.
    DoInfo info = device.stDo;
    std::copy(std::begin(m_abEdited), std::end(m_abEdited), m_bSms ? info.abSms : info.abDo);
    info.dwID = device.GetID();
    device.stDo = info;
    Commands()->Cmd_SetDo(device.GetID(), info);
}

QString CDlgAlarmTriggers::GroupText(const DeviceInfo& device) const
{
    // The names of the triggers that are on, as the boxes read.
    const BYTE* pbTriggers = m_bSms ? device.stDo.abSms : device.stDo.abDo;
    QStringList listOn;
    for (int i = 0; i < 4; ++i) {
        if (pbTriggers[i] != 0)
            listOn << m_apChk[i]->text();
    }
    return listOn.isEmpty() ? QStringLiteral("-") : listOn.join(QStringLiteral(", "));
}

void CDlgAlarmTriggers::ForgetGroup(DeviceInfo& device)
{
    device.stQuery.bCmdGetDoInfo = 0;
}

void CDlgAlarmTriggers::AskGroup(const DeviceInfo& device)
{
    Commands()->Cmd_GetDo(device.GetID());
}

void CDlgAlarmTriggers::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || !CheckEdited())
        return;
    SendTo(*pDevice);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}

void CDlgAlarmSnapshotServer::BuildControls(QVBoxLayout* pLayout)
{
    m_pChkEnable = new QCheckBox(PageText(IDS_ENABLE_SNAPSHOTSERVER), this);
    m_pChkEnable->setObjectName(QStringLiteral("enable"));
    pLayout->addWidget(m_pChkEnable);
    auto* pBoxTrigger = new QGroupBox(PageText(IDS_TRIGER_MODE), this);
    auto* pGrid = new QGridLayout(pBoxTrigger);
    const DWORD adwTrigger[6] = {IDS_SENDPIC_INTIME, IDS_485INPUT_SEND,    IDS_REGIONONE_SEND,
                                 IDS_REGIONTWO_SEND, IDS_REGIONTHREE_SEND, IDS_REGIONFOUR_SEND};
    for (int i = 0; i < 6; ++i) {
        m_apChkTrigger[i] = new QCheckBox(PageText(adwTrigger[i]), pBoxTrigger);
        pGrid->addWidget(m_apChkTrigger[i], i / 3, i % 3);
    }
    pLayout->addWidget(pBoxTrigger);
    auto* pForm = new QFormLayout;
    m_pEditInterval = MakeEdit(this, "interval", 5);
    m_pEditCount = MakeEdit(this, "count", 3);
    m_pEditServer = MakeEdit(this, "server", 15);
    m_pEditPort = MakeEdit(this, "port", 5);
    m_pComboQuality = new QComboBox(this);
    m_pComboQuality->setObjectName(QStringLiteral("res"));
    // Picture sizes by resolution code.
    for (const auto& [pszName, nCode] : {std::pair{"QQVGA", 0}, {"QVGA", 1}, {"VGA", 2}})
        m_pComboQuality->addItem(QString::fromLatin1(pszName), nCode);
    pForm->addRow(PageText(IDS_TIMEINTERVAL), m_pEditInterval);
    pForm->addRow(PageText(IDS_ONESEND_PICCOUNT), m_pEditCount);
    pForm->addRow(PageText(IDS_SERVER_IP), m_pEditServer);
    pForm->addRow(PageText(IDS_SERVER_PORT), m_pEditPort);
    pForm->addRow(PageText(IDS_PIC_QUALITY), m_pComboQuality);
    pLayout->addLayout(pForm);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    for (const char* pszKey : {"interval", "count", "server", "port"})
        BindKey(pszKey, findChild<QLineEdit*>(QString::fromLatin1(pszKey)));
    BindKey("res", m_pComboQuality);
}

bool CDlgAlarmSnapshotServer::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetSnapshotServer != 0;
}

void CDlgAlarmSnapshotServer::FillControls(const DeviceInfo& device)
{
    const SnapshotServerInfo& s = device.stSnapshotServer;
    m_pChkEnable->setChecked(s.bEnableSnapshotServer != 0);
    const BYTE abTrigger[6] = {s.bSendInTimer, s.b485Send,     s.bRegion1Send,
                               s.bRegion2Send, s.bRegion3Send, s.bRegionDISend};
    for (int i = 0; i < 6; ++i)
        m_apChkTrigger[i]->setChecked(abTrigger[i] != 0);
    m_pEditInterval->setText(QString::number(s.usTimeInterval));
    m_pEditCount->setText(QString::number(s.ucPicCount));
    m_pEditServer->setText(AddressText(s.ulServerIP));
    m_pEditPort->setText(QString::number(s.ulServerPort));
    int nIndex = m_pComboQuality->findData(static_cast<int>(s.ucPicResolution));
    if (nIndex < 0) {
        m_pComboQuality->addItem(QString::number(s.ucPicResolution), static_cast<int>(s.ucPicResolution));
        nIndex = m_pComboQuality->count() - 1;
    }
    m_pComboQuality->setCurrentIndex(nIndex);
}

void CDlgAlarmSnapshotServer::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    static const char* const apszTrigger[6] = {"intime", "485", "motion1", "motion2", "motion3", "di"};
    std::string strTriggers;
    for (int i = 0; i < 6; ++i) {
        if (m_apChkTrigger[i]->isChecked())
            strTriggers += (strTriggers.empty() ? "" : ",") + std::string(apszTrigger[i]);
    }
    const KeyValues kv{{"enable", m_pChkEnable->isChecked() ? "on" : "off"},
                       {"interval", EditText(m_pEditInterval)},
                       {"count", EditText(m_pEditCount)},
                       {"server", EditText(m_pEditServer)},
                       {"port", EditText(m_pEditPort)},
                       {"triggers", strTriggers},
                       {"res", std::to_string(m_pComboQuality->currentData().toInt())}};
    SnapshotRequest request;
    if (Refuse(BuildSnapshot(kv, pDevice->stSnapshotServer, request)))
        return;
    SnapshotServerInfo& s = pDevice->stSnapshotServer;
    s.bEnableSnapshotServer = request.ucEnable & 1;
    s.ucPicCount = request.ucEnable >> 1;
    s.bRegion1Send = request.ucMode & 1;
    s.bRegion2Send = (request.ucMode >> 1) & 1;
    s.bRegion3Send = (request.ucMode >> 2) & 1;
    s.bRegionDISend = (request.ucMode >> 3) & 1;
    s.b485Send = (request.ucMode >> 4) & 1;
    s.bSendInTimer = (request.ucMode >> 5) & 1;
    s.usTimeInterval = request.usParam;
    s.ulServerIP = request.ulServerIP;
    s.ulServerPort = request.ulServerPort;
    s.ucPicResolution = static_cast<BYTE>(SessionModeResolution(request.ulSessionMode));
    Commands()->Cmd_ControlSnapshotServer(pDevice->GetID(), request.ucEnable, request.ucMode, request.usParam,
                                          request.ulServerIP, request.ulServerPort, request.ulSessionMode);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}
