#include "ui/pages/dlgsystemrtsp.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "device/videoquality.h"
#include "ui/pages/pagewidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

CDlgSystemRTSP::CDlgSystemRTSP(const PageContext& context, QWidget* pParent) : CConfigPage(context, pParent)
{
    m_nSink = Commands()->AddRtspSink([this](const RtspInfo& info) { OnRtspInfo(info); });
}

CDlgSystemRTSP::~CDlgSystemRTSP()
{
    Commands()->RemoveRtspSink(m_nSink);
}

void CDlgSystemRTSP::BuildControls(QVBoxLayout* pLayout)
{
    m_pChkAuth = new QCheckBox(PageText(IDS_ENABLE_AUTHENTICATE), this);
    m_pChkAuth->setObjectName(QStringLiteral("auth"));
    pLayout->addWidget(m_pChkAuth);
    auto* pForm = new QFormLayout;
    m_pComboChannel = new QComboBox(this);
    m_pComboChannel->setObjectName(QStringLiteral("channel"));
    m_pComboChannel->addItem(PageText(IDS_MASTER_CHANNEL));
    m_pComboChannel->addItem(PageText(IDS_SLAVE_CHANNEL));
    pForm->addRow(PageText(IDS_SELECT_CHANNEL), m_pComboChannel);
    pLayout->addLayout(pForm);
    // Both streams are edited in place; the channel choice shows one of them.
    m_pStack = new QStackedWidget(this);
    m_pMain = new CStreamFields("main_", m_pStack);
    m_pSub = new CStreamFields("sub_", m_pStack);
    m_pStack->addWidget(m_pMain);
    m_pStack->addWidget(m_pSub);
    connect(m_pComboChannel, &QComboBox::currentIndexChanged, m_pStack, &QStackedWidget::setCurrentIndex);
    pLayout->addWidget(m_pStack);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    BindKey("auth", m_pChkAuth);
    for (const CStreamFields* pFields : {m_pMain, m_pSub}) {
        for (QWidget* pControl :
             {static_cast<QWidget*>(pFields->GetFps()), static_cast<QWidget*>(pFields->GetRes()),
              static_cast<QWidget*>(pFields->GetBps())})
            BindKey(pControl->objectName().toStdString(), pControl);
    }
}

bool CDlgSystemRTSP::IsReceived(const DeviceInfo& device) const
{
    if (HasInfoFor(device.GetID()))
        return true;
    // Each look asks again: a lost request or answer costs one tick.
    m_bAsking = true;
    Commands()->Cmd_ControlRTSP(device.GetID(), 0, 0, 0, 0);
    m_bAsking = false;
    return HasInfoFor(device.GetID());
}

void CDlgSystemRTSP::OnRtspInfo(const RtspInfo& info)
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->GetID() != info.dwID)
        return;
    m_info = info;
    // An answer after the page gave up (or between two looks) fills it at once.
    if (!m_bAsking && GetPollState() != PollState::Filled && GetPollState() != PollState::Idle)
        UpdateChildWindowValue();
}

void CDlgSystemRTSP::FillControls(const DeviceInfo& device)
{
    if (!m_info)
        return;
    m_pChkAuth->setChecked(m_info->bEnableAuthenticate != 0);
    // HD for a camera that can encode it, or that streams it already.
    const int nHD = CVideoQuality::kResCount - 1;
    const CVideoQuality& quality = GetVideoQuality();
    const bool bHD = device.SupportsHD() || quality.GetResIndex(m_info->ucMainResolution) == nHD ||
                     quality.GetResIndex(m_info->ucSubResolution) == nHD;
    m_pMain->SetHD(bHD);
    m_pSub->SetHD(bHD);
    m_pMain->SetMode(MakeSessionMode(m_info->usMainBitrate, m_info->ucMainFps, m_info->ucMainResolution));
    m_pSub->SetMode(MakeSessionMode(m_info->usSubBitrate, m_info->ucSubFps, m_info->ucSubResolution));
}

void CDlgSystemRTSP::OnBtnSave()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    if (pDevice->bIsExist == 0) {
        ShowHint(GetSaveButton(), IDS_HINT_CAMERANOTONLINE, true);
        return;
    }
    if (!HasInfoFor(pDevice->GetID())) {
        ShowHint(GetSaveButton(), IDS_HINT_DQ_GET_INFO_FAIL, true);
        return;
    }
    KeyValues kv{{"auth", m_pChkAuth->isChecked() ? "on" : "off"}};
    m_pMain->AddKeys(kv);
    m_pSub->AddKeys(kv);
    AddStandardKey(kv, *pDevice);
    RtspRequest request;
    if (CheckResult error = BuildRtsp(kv, *m_info, request)) {
        // The message goes where the user can see it: the stream it is about comes to the front.
        if (error->strKey.rfind("sub_", 0) == 0)
            m_pComboChannel->setCurrentIndex(1);
        else if (error->strKey.rfind("main_", 0) == 0)
            m_pComboChannel->setCurrentIndex(0);
        Refuse(error);
        return;
    }
    Commands()->Cmd_ControlRTSP(pDevice->GetID(), 1, request.bAuthenticate ? 1 : 0, request.dwMainMode,
                                request.dwSubMode);
    RtspInfo& info = *m_info;
    info.bEnableAuthenticate = request.bAuthenticate ? 1 : 0;
    info.ucMainFps = static_cast<BYTE>(SessionModeFrameRate(request.dwMainMode));
    info.ucMainResolution = static_cast<BYTE>(SessionModeResolution(request.dwMainMode));
    info.usMainBitrate = static_cast<WORD>(SessionModeBitrate(request.dwMainMode));
    info.ucSubFps = static_cast<BYTE>(SessionModeFrameRate(request.dwSubMode));
    info.ucSubResolution = static_cast<BYTE>(SessionModeResolution(request.dwSubMode));
    info.usSubBitrate = static_cast<WORD>(SessionModeBitrate(request.dwSubMode));
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}
