#include "ui/pages/pagecamera.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "protocol/engcmd.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The standard is a register value of its own: 0 PAL (50 Hz), 1 NTSC (60 Hz) on the 9P031;
// a bit of the flags register on the 9900. Its control is the "NTSC" radio button.
const std::vector<SensorField> s_vecFields9900 = {
    {"auto", IDS_AUTO_MODE, 0, 0x01},
    {"fps30", IDS_FIXED_30FPS, 0, 0x02},
    {"rotate", IDS_CC_INVERSION, 0, 0x04},
    {"mirror", IDS_CC_MIRROR, 0, 0x08},
    {"ntsc", IDS_ST_NTSC, 0, 0x10},
    {"sharpness", IDS_ST_SHARPNESS, 1, 0xFF},
    {"brightness", IDS_ST_BRIGHTNESS, 2, 0xFF},
};
const std::vector<SensorField> s_vecFields9P031 = {
    {"auto", IDS_AUTO_MODE, 0, 0x01},
    {"fps30", IDS_FIXED_30FPS, 0, 0x02},
    {"ntsc", IDS_ST_NTSC, 1, 0x01},
    {"rotate", IDS_CC_INVERSION, 2, 0x01},
    {"mirror", IDS_CC_MIRROR, 3, 0x01},
    {"sharpness", IDS_ST_SHARPNESS, 4, 0xFF},
    {"brightness", IDS_ST_BRIGHTNESS, 5, 0xFF},
};
// The HD dome's sensor is progressive and runs at its own rate: no standard, no 30 fps switch.
const std::vector<SensorField> s_vecFieldsHDDome = {
    {"auto", IDS_AUTO_MODE, 0, 0x01},           {"rotate", IDS_CC_INVERSION, 2, 0x01},
    {"mirror", IDS_CC_MIRROR, 3, 0x01},         {"sharpness", IDS_ST_SHARPNESS, 4, 0xFF},
    {"brightness", IDS_ST_BRIGHTNESS, 5, 0xFF},
};

const std::vector<SensorField>& FieldsOf(DWORD dwUIType)
{
    return dwUIType == CAMERA_UI_TYPE_D   ? s_vecFields9900
           : dwUIType == CAMERA_UI_TYPE_M ? s_vecFields9P031
                                          : s_vecFieldsHDDome;
}

} // namespace

CDlgCamSetCamBase::CDlgCamSetCamBase(const PageContext& context, DWORD dwUIType, QWidget* pParent)
    : CConfigPage(context, pParent), m_dwUIType(dwUIType), m_vecFields(FieldsOf(dwUIType))
{
}

CDlgCamSetCam9900::CDlgCamSetCam9900(const PageContext& context, QWidget* pParent)
    : CDlgCamSetCamBase(context, CAMERA_UI_TYPE_D, pParent)
{
}

CDlgCamSetCam9P031::CDlgCamSetCam9P031(const PageContext& context, QWidget* pParent)
    : CDlgCamSetCamBase(context, CAMERA_UI_TYPE_M, pParent)
{
}

CDlgCamSetCamHDDome::CDlgCamSetCamHDDome(const PageContext& context, QWidget* pParent)
    : CDlgCamSetCamBase(context, CAMERA_UI_TYPE_HD, pParent)
{
}

void CDlgCamSetCamBase::BuildControls(QVBoxLayout* pLayout)
{
    auto* pForm = new QFormLayout;
    auto* pChecks = new QHBoxLayout;
    for (const SensorField& field : m_vecFields) {
        QWidget* pControl = nullptr;
        if (field.byMask == 0xFF) {
            auto* pSlider = new QSlider(Qt::Horizontal, this);
            pSlider->setRange(0, 255);
            pForm->addRow(PageText(field.dwLabel), pSlider);
            pControl = pSlider;
        } else if (std::string(field.pszKey) == "ntsc") {
            // NTSC or PAL: two choices of one register.
            auto* pRow = new QHBoxLayout;
            auto* pNtsc = new QRadioButton(PageText(IDS_ST_NTSC), this);
            auto* pPal = new QRadioButton(PageText(IDS_ST_PAL), this);
            pPal->setObjectName(QStringLiteral("pal"));
            pRow->addWidget(pNtsc);
            pRow->addWidget(pPal);
            pRow->addStretch(1);
            pForm->addRow(PageText(IDS_CC_STANDARDSET), pRow);
            pControl = pNtsc;
        } else {
            auto* pCheck = new QCheckBox(PageText(field.dwLabel), this);
            pChecks->addWidget(pCheck);
            pControl = pCheck;
        }
        pControl->setObjectName(QString::fromLatin1(field.pszKey));
        BindKey(field.pszKey, pControl);
        m_vecControls.push_back(pControl);
    }
    pChecks->addStretch(1);
    pLayout->addLayout(pChecks);
    pLayout->addLayout(pForm);
    pLayout->addStretch(1);
    auto* pRow = new QHBoxLayout;
    auto* pDefaults = new QPushButton(PageText(IDS_BTN_RESTOREDEFAULT), this);
    pDefaults->setObjectName(QStringLiteral("defaults"));
    connect(pDefaults, &QPushButton::clicked, this, &CDlgCamSetCamBase::OnBtnDefaults);
    pRow->addWidget(pDefaults);
    pRow->addStretch(1);
    pLayout->addLayout(pRow);
    AddSaveButton(pLayout, true);
}

BYTE CDlgCamSetCamBase::ControlNumber() const
{
    return m_dwUIType == CAMERA_UI_TYPE_D ? SENSOR_CONTROL_NUMBER_9900 : SENSOR_CONTROL_NUMBER_9P031;
}

std::vector<BYTE*> CDlgCamSetCamBase::Registers(DeviceInfo& device) const
{
    if (m_dwUIType == CAMERA_UI_TYPE_D)
        return {&device.bT9QK, &device.bT9QL, &device.bT9QM, &device.bT9QN};
    return {&device.bT9QXMode,       &device.bT9QXFreq,      &device.bT9QXVertical,
            &device.bT9QXHorizontal, &device.bT9QXSharpness, &device.bT9QXTargetY};
}

bool CDlgCamSetCamBase::IsReceived(const DeviceInfo& device) const
{
    // A camera of another family has nothing for this page to wait for; the pane shows its own.
    if (device.stQuery.bCmdGetSensor != 0 && device.stSensorCap.dwCameraUIType != m_dwUIType)
        return true;
    return m_dwUIType == CAMERA_UI_TYPE_D ? device.stQuery.bCmdGetT9QY != 0 : device.stQuery.bCmdGetT9QX != 0;
}

void CDlgCamSetCamBase::FillControls(const DeviceInfo& device)
{
    if (device.stSensorCap.dwCameraUIType != m_dwUIType)
        return;
    if (auto* pStack = qobject_cast<QStackedWidget*>(parentWidget()))
        pStack->setCurrentWidget(this);
    const std::vector<BYTE*> vecRegs = Registers(const_cast<DeviceInfo&>(device));
    for (std::size_t i = 0; i < m_vecFields.size(); ++i) {
        const SensorField& field = m_vecFields[i];
        const BYTE byValue = *vecRegs[field.nRegister];
        if (auto* pSlider = qobject_cast<QSlider*>(m_vecControls[i])) {
            pSlider->setValue(byValue);
        } else if (std::string(field.pszKey) == "ntsc") {
            const bool bNtsc = (byValue & field.byMask) != 0;
            static_cast<QAbstractButton*>(m_vecControls[i])->setChecked(bNtsc);
            findChild<QRadioButton*>(QStringLiteral("pal"))->setChecked(!bNtsc);
        } else {
            static_cast<QAbstractButton*>(m_vecControls[i])->setChecked((byValue & field.byMask) != 0);
        }
    }
}

BYTE& CDlgCamSetCamBase::ReceivedFlag(DeviceInfo& device) const
{
    return m_dwUIType == CAMERA_UI_TYPE_D ? device.stQuery.bCmdGetT9QY : device.stQuery.bCmdGetT9QX;
}

std::vector<int> CDlgCamSetCamBase::ControlValues() const
{
    std::vector<int> vecValues;
    vecValues.reserve(m_vecControls.size());
    for (QWidget* pControl : m_vecControls) {
        if (auto* pSlider = qobject_cast<QSlider*>(pControl))
            vecValues.push_back(pSlider->value());
        else
            vecValues.push_back(static_cast<QAbstractButton*>(pControl)->isChecked() ? 1 : 0);
    }
    return vecValues;
}

std::vector<BYTE> CDlgCamSetCamBase::Applied(const std::vector<BYTE*>& vecRegs,
                                             const std::vector<int>& vecValues) const
{
    std::vector<BYTE> vecNew(vecRegs.size());
    std::transform(vecRegs.begin(), vecRegs.end(), vecNew.begin(), [](const BYTE* pReg) { return *pReg; });
    for (std::size_t i = 0; i < m_vecFields.size(); ++i) {
        const SensorField& field = m_vecFields[i];
        BYTE& byReg = vecNew[field.nRegister];
        if (field.byMask == 0xFF)
            byReg = static_cast<BYTE>(vecValues[i]);
        else if (vecValues[i] != 0)
            byReg |= field.byMask;
        else
            byReg &= static_cast<BYTE>(~field.byMask);
    }
    return vecNew;
}

void CDlgCamSetCamBase::WriteRegisters(DeviceInfo& device, const std::vector<int>& vecValues)
{
    const std::vector<BYTE*> vecRegs = Registers(device);
    const std::vector<BYTE> vecNew = Applied(vecRegs, vecValues);
    for (std::size_t nReg = 0; nReg < vecRegs.size(); ++nReg) {
        if (vecNew[nReg] == *vecRegs[nReg])
            continue;
        *vecRegs[nReg] = vecNew[nReg];
        Commands()->Cmd_SensorControl(
            device.GetID(),
            MakeSensorControlWord(SENSOR_SUBCOMMAND_WRITE_REG, ControlNumber(), static_cast<BYTE>(nReg)),
            vecNew[nReg]);
    }
}

void CDlgCamSetCamBase::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->stSensorCap.dwCameraUIType != m_dwUIType)
        return;
    WriteRegisters(*pDevice, ControlValues());
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}

bool CDlgCamSetCamBase::CheckEdited()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->stSensorCap.dwCameraUIType != m_dwUIType)
        return false;
    m_vecEdited = ControlValues();
    return true;
}

void CDlgCamSetCamBase::SendTo(DeviceInfo& device)
{
    // Registers of another family mean other things; unread ones would be guessed.
    if (device.stSensorCap.dwCameraUIType != m_dwUIType) {
        RefuseCamera(device.GetID(), PageText(IDS_HINT_SENSOR_OTHER));
        return;
    }
    if (ReceivedFlag(device) == 0) {
        RefuseCamera(device.GetID(), PageText(IDS_HINT_DQ_GET_INFO_FAIL));
        return;
    }
    WriteRegisters(device, m_vecEdited);
}

QString CDlgCamSetCamBase::GroupText(const DeviceInfo& device) const
{
    if (device.stSensorCap.dwCameraUIType != m_dwUIType)
        return QStringLiteral("-");
    // The fields as the page would show them: the boxes that are on, then the sliders.
    const std::vector<BYTE*> vecRegs = Registers(const_cast<DeviceInfo&>(device));
    QStringList listOn;
    QStringList listLevels;
    for (const SensorField& field : m_vecFields) {
        const BYTE byValue = *vecRegs[field.nRegister];
        if (field.byMask == 0xFF)
            listLevels << QStringLiteral("%1 %2").arg(PageText(field.dwLabel)).arg(byValue);
        else if (std::string(field.pszKey) == "ntsc")
            listOn << PageText((byValue & field.byMask) != 0 ? IDS_ST_NTSC : IDS_ST_PAL);
        else if ((byValue & field.byMask) != 0)
            listOn << PageText(field.dwLabel);
    }
    return (listOn + listLevels).join(QStringLiteral(", "));
}

void CDlgCamSetCamBase::ForgetGroup(DeviceInfo& device)
{
    // Another family's camera was not asked for these registers: nothing new will come.
    if (device.stSensorCap.dwCameraUIType == m_dwUIType)
        ReceivedFlag(device) = 0;
}

void CDlgCamSetCamBase::AskGroup(const DeviceInfo& device)
{
    // A camera of another family would answer with registers this page does not read.
    if (device.stSensorCap.dwCameraUIType != m_dwUIType)
        return;
    Commands()->Cmd_SensorControl(device.GetID(),
                                  MakeSensorControlWord(SENSOR_SUBCOMMAND_READ_REGS, ControlNumber(), 0),
                                  SENSOR_READ_VALUE);
}

void CDlgCamSetCamBase::OnBtnDefaults()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->stSensorCap.dwCameraUIType != m_dwUIType || !Confirm(IDS_MSG_RECOVER))
        return;
    Commands()->Cmd_SensorControl(pDevice->GetID(),
                                  MakeSensorControlWord(SENSOR_SUBCOMMAND_DEFAULTS, ControlNumber(), 0), 0);
    // The camera's defaults are its own: read them back and wait for them as for the first fill.
    (m_dwUIType == CAMERA_UI_TYPE_D ? pDevice->stQuery.bCmdGetT9QY : pDevice->stQuery.bCmdGetT9QX) = 0;
    Commands()->Cmd_SensorControl(pDevice->GetID(),
                                  MakeSensorControlWord(SENSOR_SUBCOMMAND_READ_REGS, ControlNumber(), 0),
                                  SENSOR_READ_VALUE);
    StartPolling();
}
