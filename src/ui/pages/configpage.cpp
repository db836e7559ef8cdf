#include "ui/pages/configpage.h"

#include "core/language.h"
#include "core/log.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "device/videoquality.h"
#include "ui/hint.h"
#include "ui/pages/dlgapplyto.h"
#include "ui/textrelabel.h"

#include <QHBoxLayout>

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

int CConfigPage::s_nConfirmAnswer = -1;

QString PageText(DWORD dwStringID)
{
    QString strText = QString::fromStdU16String(GetLanguageManager()->GetString(dwStringID));
    CTextRelabeler::NoteText(dwStringID, strText);
    return strText;
}

CConfigPage::CConfigPage(const PageContext& context, QWidget* pParent) : QWidget(pParent), m_context(context)
{
    m_pPollTimer = new QTimer(this);
    m_pPollTimer->setInterval(POLL_INTERVAL_MS);
    connect(m_pPollTimer, &QTimer::timeout, this, &CConfigPage::UpdateChildWindowValue);
    m_pHint = new CBalloonHint(this);
}

CConfigPage::~CConfigPage()
{
    if (m_bInited) {
        CNotifyManager* pBus = m_context.Bus();
        pBus->RemoveNotify(DWORD_NOTIFYID_CAMERA_SELECT_REALTIME, this);
        pBus->RemoveNotify(DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_REALTIME, this);
        pBus->RemoveNotify(DWORD_NOTIFYID_LANGUAGE_CHANGED, this);
    }
}

void CConfigPage::OnInitDialog()
{
    if (m_bInited)
        return;
    auto* pOuter = new QVBoxLayout(this);
    pOuter->setContentsMargins(0, 0, 0, 0);
    m_pBody = new QWidget(this);
    pOuter->addWidget(m_pBody);
    auto* pLayout = new QVBoxLayout(m_pBody);
    BuildControls(pLayout);
    // The page follows a change of language from then on: the relabeler takes the table texts
    // of the controls as built, before any camera value is in.
    m_pRelabeler = new CTextRelabeler(this, nullptr);
    // Nothing to edit until the camera's values are in.
    m_pBody->setEnabled(false);

    const DeviceInfo* pDevice = SelectedDevice();
    // With no camera chosen the page is empty, not another camera's values greyed out.
    m_pBody->setVisible(pDevice != nullptr);
    if (pDevice != nullptr && pDevice->enCameraType != CAMERA_TYPE_PARENT)
        StartPolling();
    CNotifyManager* pBus = m_context.Bus();
    pBus->RegisterNotify(DWORD_NOTIFYID_CAMERA_SELECT_REALTIME, this);
    pBus->RegisterNotify(DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_REALTIME, this);
    pBus->RegisterNotify(DWORD_NOTIFYID_LANGUAGE_CHANGED, this);
    m_bInited = true;
}

void CConfigPage::NotifySink(DWORD dwNotifyID, UINT_PTR)
{
    FATAL_CHECK(dwNotifyID == DWORD_NOTIFYID_CAMERA_SELECT_REALTIME ||
                dwNotifyID == DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_REALTIME ||
                dwNotifyID == DWORD_NOTIFYID_LANGUAGE_CHANGED);
    if (dwNotifyID == DWORD_NOTIFYID_LANGUAGE_CHANGED) {
        m_pRelabeler->Relabel();
        Retranslate();
        return;
    }
    if (dwNotifyID == DWORD_NOTIFYID_CAMERA_SELECT_REALTIME) {
        const DeviceInfo* pDevice = SelectedDevice();
        if (pDevice != nullptr && pDevice->enCameraType != CAMERA_TYPE_PARENT)
            StartPolling();
        return;
    }
    m_pPollTimer->stop();
    if (m_enPollState == PollState::Waiting)
        m_enPollState = PollState::Idle;
    // The selection goes (the manager says so before it lets go of the camera).
    m_pBody->setVisible(false);
}

void CConfigPage::StartPolling()
{
    m_pBody->setVisible(true);
    m_pPollTimer->start();
    m_dwWaitCount = 0;
    m_enPollState = PollState::Waiting;
    UpdateChildWindowValue();
}

void CConfigPage::UpdateChildWindowValue()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr) {
        // The selection went between two ticks: there is nothing to wait for.
        VLOG(2, "CConfigPage::UpdateChildWindowValue: no selected device, polling stops");
        m_pBody->setVisible(false);
        m_pPollTimer->stop();
        m_enPollState = PollState::Idle;
        return;
    }
    if (IsReceived(*pDevice)) {
        m_pPollTimer->stop();
        m_pBody->setEnabled(true);
        FillControls(*pDevice);
        m_enPollState = PollState::Filled;
        return;
    }
    m_pBody->setEnabled(false);
    if (++m_dwWaitCount >= POLL_GIVE_UP) {
        m_pPollTimer->stop();
        m_enPollState = PollState::Failed;
        ShowHint(this, GiveUp(), true);
    }
}

QWidget* CConfigPage::GetKeyControl(const std::string& strKey) const
{
    const auto it = m_mapKeys.find(strKey);
    return it == m_mapKeys.end() ? nullptr : it->second.data();
}

QPushButton* CConfigPage::AddSaveButton(QVBoxLayout* pLayout, bool bApplyTo)
{
    auto* pRow = new QHBoxLayout;
    pRow->addStretch(1);
    if (bApplyTo) {
        m_pBtnApplyTo = new QPushButton(PageText(IDS_BTN_APPLYTO), m_pBody);
        connect(m_pBtnApplyTo, &QPushButton::clicked, this, &CConfigPage::OnBtnApplyTo);
        pRow->addWidget(m_pBtnApplyTo);
    }
    m_pBtnSave = new QPushButton(PageText(IDS_BTN_SAVE), m_pBody);
    m_pBtnSave->setMinimumWidth(90);
    connect(m_pBtnSave, &QPushButton::clicked, this, [this] { OnBtnSave(); });
    pRow->addWidget(m_pBtnSave);
    pLayout->addLayout(pRow);
    return m_pBtnSave;
}

bool CConfigPage::Refuse(const CheckResult& result)
{
    if (!result)
        return false;
    const CheckError& error = *result;
    QWidget* pAnchor = GetKeyControl(error.strKey);
    if (pAnchor == nullptr)
        pAnchor = m_pBtnSave != nullptr ? static_cast<QWidget*>(m_pBtnSave) : this;
    ShowHintText(pAnchor, CheckText(error), true);
    return true;
}

QString CConfigPage::CheckText(const CheckError& error)
{
    return error.dwStringID != 0
               ? QString::fromStdString(FillNumbers(PageText(error.dwStringID).toStdString(), error.vecArgs))
               : QString::fromStdString(error.strText);
}

void CConfigPage::AddStandardKey(KeyValues& kv, const DeviceInfo& device)
{
    kv["standard"] = LiveQualityOfReport(device.stVideoReport.adwWord).bPal ? "pal" : "ntsc";
}

void CConfigPage::ShowHint(QWidget* pAnchor, DWORD dwStringID, bool bError)
{
    ShowHintText(pAnchor, PageText(dwStringID), bError);
}

void CConfigPage::ShowHintText(QWidget* pAnchor, const QString& strText, bool bError)
{
    m_pHint->ShowAt(pAnchor, strText, bError);
}

bool CConfigPage::Confirm(DWORD dwStringID)
{
    if (s_nConfirmAnswer >= 0)
        return s_nConfirmAnswer != 0;
    return QMessageBox::question(this, QStringLiteral("Vistrel"), PageText(dwStringID)) == QMessageBox::Yes;
}

DeviceInfo* CConfigPage::SelectedDevice() const
{
    return m_context.Manager()->GetSelectDevice();
}

bool CConfigPage::IsDownloading(DWORD dwID) const
{
    IDownloadRecordManager* pDownloads = m_context.Downloads();
    return pDownloads != nullptr && pDownloads->IsDownloading(dwID);
}

std::vector<ApplyToResult> CConfigPage::ApplyTo(const std::vector<DWORD>& vecIDs)
{
    if (!CheckEdited())
        return {};
    std::map<DWORD, QString> mapSent;
    std::vector<ApplyToResult> vecResults =
        ApplyToCameras(m_context.Manager(), vecIDs, [this, &mapSent](DeviceInfo& device) {
            m_mapRefused.erase(device.GetID());
            SendTo(device);
            const auto it = m_mapRefused.find(device.GetID());
            mapSent[device.GetID()] = it != m_mapRefused.end() ? it->second : GroupText(device);
            // Only the camera's next answer counts as what it holds (a refused one's too: the
            // report shows what it kept).
            ForgetGroup(device);
            AskGroup(device);
        });
    // Per camera what is known now: offline and refused for good, sent until the read-back.
    QString strReport;
    bool bAnyFailed = false;
    for (ApplyToResult& result : vecResults) {
        result.strSent = mapSent[result.dwID];
        result.bRefused = result.bSent && m_mapRefused.contains(result.dwID);
        const QString strState = !result.bSent     ? PageText(IDS_HINT_CAMERANOTONLINE)
                                 : result.bRefused ? result.strSent
                                                   : PageText(IDS_HINT_APPLYTO_SENT);
        bAnyFailed = bAnyFailed || !result.bSent || result.bRefused;
        strReport += QStringLiteral("%1: %2\n").arg(ApplyToName(result.dwID), strState);
    }
    ShowHintText(m_pBtnApplyTo != nullptr ? static_cast<QWidget*>(m_pBtnApplyTo) : this, strReport.trimmed(),
                 bAnyFailed);
    m_vecReadBack = vecResults;
    m_nReadBackMs = 0;
    if (m_pReadBackTimer == nullptr) {
        m_pReadBackTimer = new QTimer(this);
        m_pReadBackTimer->setInterval(POLL_INTERVAL_MS);
        connect(m_pReadBackTimer, &QTimer::timeout, this, &CConfigPage::OnReadBackTick);
    }
    m_pReadBackTimer->start();
    return vecResults;
}

QString CConfigPage::ApplyToName(DWORD dwID) const
{
    const DeviceInfo* pDevice = m_context.Manager()->GetDevice(dwID, CAMERA_MASK_VIDEO);
    return pDevice != nullptr ? QString::fromStdU16String(pDevice->GetName()) : QString::number(dwID);
}

void CConfigPage::OnReadBackTick()
{
    if (m_nReadBackMs < 0)
        return;
    m_nReadBackMs += POLL_INTERVAL_MS;
    bool bPending = false;
    for (ApplyToResult& result : m_vecReadBack) {
        const DeviceInfo* pDevice = m_context.Manager()->GetDevice(result.dwID, CAMERA_MASK_VIDEO);
        if (!result.bSent || result.bAnswered || pDevice == nullptr)
            continue;
        if (IsReceived(*pDevice)) {
            result.bAnswered = true;
            result.strAnswered = GroupText(*pDevice);
        } else if (m_nReadBackMs < READBACK_MS) {
            // A lost request or answer costs one tick.
            AskGroup(*pDevice);
            bPending = true;
        }
    }
    if (bPending)
        return;
    m_pReadBackTimer->stop();
    m_nReadBackMs = -1;
    // Per camera: what was sent and what the camera holds now (or that it did not answer).
    QString strReport;
    bool bAllSame = true;
    for (const ApplyToResult& result : m_vecReadBack) {
        QString strLine;
        if (!result.bSent)
            strLine = PageText(IDS_HINT_CAMERANOTONLINE);
        else if (!result.bAnswered)
            strLine = QStringLiteral("%1 \u2192 %2").arg(result.strSent, PageText(IDS_HINT_DQ_GET_INFO_FAIL));
        else
            strLine = QStringLiteral("%1 \u2192 %2").arg(result.strSent, result.strAnswered);
        bAllSame = bAllSame && result.bSent && result.bAnswered && result.strSent == result.strAnswered;
        strReport += QStringLiteral("%1: %2\n").arg(ApplyToName(result.dwID), strLine);
    }
    ShowHintText(m_pBtnApplyTo != nullptr ? static_cast<QWidget*>(m_pBtnApplyTo) : this, strReport.trimmed(),
                 !bAllSame);
}

void CConfigPage::OnBtnApplyTo()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || !CheckEdited())
        return;
    CDlgApplyTo dialog(m_context.Manager(), pDevice->GetID(), this);
    if (dialog.exec() == QDialog::Accepted)
        ApplyTo(dialog.GetChosen());
}
