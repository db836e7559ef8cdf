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

namespace {

// A camera streaming HD can do it, whatever its capability report says.
bool CanHD(const DeviceInfo& device)
{
    return OffersHD(device.SupportsHD(), device.stVideoReport.adwWord[0]);
}

} // namespace

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
    AddSaveButton(pLayout, true);
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
    m_pStream->SetHD(CanHD(device));
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
    Commands()->Cmd_QualityApply(pDevice->GetID());
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}

bool CDlgCamSetQuality::CheckEdited()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return false;
    KeyValues kv;
    m_pStream->AddKeys(kv);
    DWORD dwMode = pDevice->stVideoReport.adwWord[0];
    if (Refuse(BuildQuality(kv, LiveQualityOfReport(pDevice->stVideoReport.adwWord).bPal, dwMode)))
        return false;
    m_kvEdited = kv;
    return true;
}

void CDlgCamSetQuality::SendTo(DeviceInfo& device)
{
    DWORD dwMode = device.stVideoReport.adwWord[0];
    CheckResult result =
        BuildQuality(m_kvEdited, LiveQualityOfReport(device.stVideoReport.adwWord).bPal, dwMode);
    if (!result)
        result = CheckHD(device.SupportsHD(), device.stVideoReport.adwWord[0], dwMode);
    if (result) {
        RefuseCamera(device.GetID(), *result);
        return;
    }
    device.stVideoReport.adwWord[0] = dwMode;
    Commands()->Cmd_VideoQuality(device.GetID(), dwMode);
    Commands()->Cmd_QualityApply(device.GetID());
}

QString CDlgCamSetQuality::GroupText(const DeviceInfo& device) const
{
    const CVideoQuality& quality = GetVideoQuality();
    const DWORD dwMode = device.stVideoReport.adwWord[0];
    const int nFps = quality.GetFpsIndex(SessionModeFrameRate(dwMode));
    const int nRes = quality.GetResIndex(SessionModeResolution(dwMode));
    return QStringLiteral("%1 %2 %3")
        .arg(nFps >= 0 ? QString::fromStdU16String(quality.GetFpsText(nFps)) : QStringLiteral("?"),
             nRes >= 0 ? QString::fromStdU16String(quality.GetResText(nRes)) : QStringLiteral("?"))
        .arg(SessionModeBitrate(dwMode));
}

void CDlgCamSetQuality::ForgetGroup(DeviceInfo& device)
{
    // The read-back shows what the camera holds from here on.
    device.stQuery.bCmdGetVideoReport = 0;
}

void CDlgCamSetQuality::AskGroup(const DeviceInfo& device)
{
    Commands()->Cmd_GetVideoReport(device.GetID());
}
