#include "ui/main/dlgcammicset.h"

#include "core/log.h"
#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "protocol/engcmd.h"
#include "ui/main/mainmessage.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

CDlgShortcutKeyCamMicSet::CDlgShortcutKeyCamMicSet(DeviceInfo* pDevice, QWidget* pParent)
    : QDialog(pParent), m_pDevice(pDevice)
{
    FATAL_CHECK(pDevice != nullptr);
    setObjectName(QStringLiteral("dlgMicSet"));
    setWindowTitle(MainText(IDS_CAMERA_MICROPHONE_SET));
    auto* pForm = new QFormLayout(this);
    auto* pRadios = new QHBoxLayout;
    m_pRadioInter = new QRadioButton(MainText(IDS_CC_INTERMIC), this);
    m_pRadioOuter = new QRadioButton(MainText(IDS_CC_OUTERMIC), this);
    auto* pGroup = new QButtonGroup(this);
    pGroup->addButton(m_pRadioInter, MIC_INTER);
    pGroup->addButton(m_pRadioOuter, MIC_OUTER);
    pRadios->addWidget(m_pRadioInter);
    pRadios->addWidget(m_pRadioOuter);
    pForm->addRow(pRadios);
    m_pSlider = new QSlider(Qt::Horizontal, this);
    m_pSlider->setRange(0, 100);
    m_pSlider->setPageStep(10);
    pForm->addRow(MainText(IDS_ST_MICROPHONE), m_pSlider);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    pButtons->button(QDialogButtonBox::Close)->setText(MainText(IDS_CTL_CLOSE));
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pForm->addRow(pButtons);

    // Start from what the camera last reported.
    const MicrophoneInfo& mic = m_pDevice->stMicrophone;
    (mic.bMicrophoneType == MIC_OUTER ? m_pRadioOuter : m_pRadioInter)->setChecked(true);
    m_pSlider->setValue(mic.bVolMicrophone);

    connect(pGroup, &QButtonGroup::idClicked, this, [this] { Send(); });
    // A drag sends once, where it ends; keys and clicks on the groove send each step.
    connect(m_pSlider, &QSlider::valueChanged, this, [this] {
        if (!m_pSlider->isSliderDown())
            Send();
    });
    connect(m_pSlider, &QSlider::sliderReleased, this, &CDlgShortcutKeyCamMicSet::Send);
}

void CDlgShortcutKeyCamMicSet::SetMicType(MicType enType)
{
    (enType == MIC_OUTER ? m_pRadioOuter : m_pRadioInter)->click();
}

void CDlgShortcutKeyCamMicSet::SetVolume(int nVolume)
{
    m_pSlider->setValue(nVolume);
}

int CDlgShortcutKeyCamMicSet::GetVolume() const
{
    return m_pSlider->value();
}

CDlgShortcutKeyCamMicSet::MicType CDlgShortcutKeyCamMicSet::GetMicType() const
{
    return m_pRadioOuter->isChecked() ? MIC_OUTER : MIC_INTER;
}

void CDlgShortcutKeyCamMicSet::Send()
{
    MicrophoneInfo& mic = m_pDevice->stMicrophone;
    const BYTE bType = static_cast<BYTE>(GetMicType());
    const BYTE bVolume = static_cast<BYTE>(GetVolume());
    if (bType == mic.bMicrophoneType && bVolume == mic.bVolMicrophone)
        return;
    mic.bMicrophoneType = bType;
    mic.bVolMicrophone = bVolume;
    VLOG(3, "CDlgShortcutKeyCamMicSet::Send: id:%u, type:%u, volume:%u", m_pDevice->GetID(), bType, bVolume);
    CEngCmd* pCmd = GetEngCmd();
    pCmd->Cmd_SetMicrophone(m_pDevice->GetID(), bVolume, mic.bMicEnable, bType);
    pCmd->Cmd_MicrophoneChanged(m_pDevice->GetID());
}
