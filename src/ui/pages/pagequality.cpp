#include "ui/pages/pagequality.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "device/videoquality.h"
#include "ui/pages/pagewidgets.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

void CDlgCamSetQuality::BuildControls(QVBoxLayout* pLayout)
{
    auto* pBox = new QGroupBox(PageText(IDS_ST_QUALITY), this);
    auto* pBoxLayout = new QVBoxLayout(pBox);
    m_pStream = new CStreamFields("", pBox);
    pBoxLayout->addWidget(m_pStream);
    auto* pForm = new QFormLayout;
    m_pLabelStandard = new QLabel(pBox);
    m_pLabelStandard->setObjectName(QStringLiteral("standard"));
    pForm->addRow(PageText(IDS_CC_STANDARDSET), m_pLabelStandard);
    pBoxLayout->addLayout(pForm);
    pLayout->addWidget(pBox);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    BindKey("fps", m_pStream->GetFps());
    BindKey("res", m_pStream->GetRes());
    BindKey("bps", m_pStream->GetBps());
}

bool CDlgCamSetQuality::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetVideoReport != 0;
}

void CDlgCamSetQuality::FillControls(const DeviceInfo& device)
{
    m_pStream->SetMode(device.stVideoReport.adwWord[0]);
    const LiveQuality quality = LiveQualityOfReport(device.stVideoReport.adwWord);
    m_pLabelStandard->setText(PageText(quality.bPal ? IDS_ST_PAL : IDS_ST_NTSC));
}

void CDlgCamSetQuality::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    KeyValues kv;
    m_pStream->AddKeys(kv);
    DWORD dwMode = pDevice->stVideoReport.adwWord[0];
    const LiveQuality current = LiveQualityOfReport(pDevice->stVideoReport.adwWord);
    if (Refuse(BuildQuality(kv, current.bPal, dwMode)))
        return;
    pDevice->stVideoReport.adwWord[0] = dwMode;
    Commands()->Cmd_VideoQuality(pDevice->GetID(), dwMode);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}
