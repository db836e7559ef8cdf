#include "device/mediacontext.h"

#include "core/log.h"
#include "core/notify.h"
#include "core/notifyids.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "protocol/engcmd.h"
#include "protocol/mscmd.h"

#include <utility>

IDeviceManager* CDeviceMediaContext::Devices() const
{
    return m_deps.pDevices != nullptr ? m_deps.pDevices : GetDeviceManager();
}

IDownloadRecordManager* CDeviceMediaContext::Downloads() const
{
    return m_deps.pDownloads != nullptr ? m_deps.pDownloads : GetDownloadRecordManager();
}

bool CDeviceMediaContext::HasWatchedDevice()
{
    return Devices()->HasWatchedDevice();
}

DWORD CDeviceMediaContext::GetWatchedPlayType(DWORD dwID)
{
    return Devices()->GetWatchedPlayType(dwID);
}

bool CDeviceMediaContext::IsWatched(DWORD dwID)
{
    return Devices()->IsWatched(dwID);
}

bool CDeviceMediaContext::HasSearchItem(DWORD dwID)
{
    CEngCmd* pEngCmd = m_deps.pEngCmd != nullptr ? m_deps.pEngCmd : GetEngCmd();
    return pEngCmd->FindAnyItem(dwID) != nullptr;
}

bool CDeviceMediaContext::TakeChangeIp(DWORD dwID, int nType)
{
    DeviceInfo* pDevice = Devices()->GetDevice(dwID, CAMERA_MASK_VIDEO);
    if (pDevice == nullptr)
        return false;
    const int nRecorded = std::exchange(pDevice->nMediaPath, nType);
    if (nRecorded == nType || !pDevice->bChangeIp)
        return false;
    // A camera that can send unicast and does is on the path start video asked for.
    if (pDevice->stItem.bUnicastCapable && nType == 1)
        return false;
    pDevice->bChangeIp = 0;
    return true;
}

void CDeviceMediaContext::ResendStartVideo(DWORD dwID)
{
    // A channel's record holds its recorder's token.
    const DeviceInfo* pDevice = Devices()->GetDevice(dwID, CAMERA_MASK_VIDEO);
    if (pDevice == nullptr)
        return;
    CEngCmd* pEngCmd = m_deps.pEngCmd != nullptr ? m_deps.pEngCmd : GetEngCmd();
    pEngCmd->Cmd_StartVideo(pDevice->GetID(), pDevice->stPassword.pbEncryptedID, 0, FALSE);
}

bool CDeviceMediaContext::IsDownloading(DWORD dwID)
{
    IDownloadRecordManager* pDownloads = Downloads();
    return pDownloads != nullptr && pDownloads->IsDownloading(dwID);
}

bool CDeviceMediaContext::HasDownloading()
{
    IDownloadRecordManager* pDownloads = Downloads();
    return pDownloads != nullptr && pDownloads->HasDownloading();
}

bool CDeviceMediaContext::GetDownloadDevice(DWORD dwID, WORD* pusMsVersion)
{
    IDeviceManager* pDevices = Devices();
    const DeviceInfo* pDevice = pDevices->GetDevice(dwID, CAMERA_MASK_VIDEO);
    if (pDevice == nullptr)
        return false;
    // A channel is as present as its recorder, and speaks its recorder's record-time version.
    const DeviceInfo* pParent =
        pDevice->enCameraType == CAMERA_TYPE_CHILD ? pDevices->GetParentDevice(dwID) : nullptr;
    if (!pDevice->bIsExist && (pParent == nullptr || !pParent->bIsExist))
        return false;
    *pusMsVersion =
        pDevice->usMsVersion != 0 || pParent == nullptr ? pDevice->usMsVersion : pParent->usMsVersion;
    return true;
}

DWORD CDeviceMediaContext::GetMaxContinuousAck(DWORD dwID)
{
    const DeviceInfo* pDevice = Devices()->GetDevice(dwID, CAMERA_MASK_VIDEO);
    return pDevice != nullptr ? pDevice->GetMaxContinuousAck() : 0;
}

void CDeviceMediaContext::FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq)
{
    ++m_dwFedFrames;
    IDownloadRecordManager* pDownloads = Downloads();
    if (pDownloads == nullptr) {
        VLOG(2, "CDeviceMediaContext::FeedMediaData: no download manager, uSendSeq:%u",
             static_cast<unsigned>(dwSendSeq));
        return;
    }
    pDownloads->FeedMediaData(frame, dwSendSeq);
}

bool CDeviceMediaContext::IsDownloadKept(DWORD dwID, DWORD dwSendSeq)
{
    IDownloadRecordManager* pDownloads = Downloads();
    return pDownloads != nullptr && pDownloads->IsKept(dwID, dwSendSeq);
}

void CDeviceMediaContext::SendDownloadAck(DWORD dwID, const DWORD* pSequences, std::size_t nCount,
                                          DWORD unMaxContinuousAck)
{
    CMSCmd* pMsCmd = m_deps.pMsCmd != nullptr ? m_deps.pMsCmd : CMSCmd::GetInstance();
    pMsCmd->SendAck(dwID, pSequences, nCount, unMaxContinuousAck);
}

void CDeviceMediaContext::NotifyPlayPosition(DWORD dwID, const DWORD* pPosition)
{
    const DeviceInfo* pSelected = Devices()->GetSelectDevice();
    if (pSelected == nullptr || pSelected->GetID() != dwID)
        return;
    CNotifyManager* pNotify = m_deps.pNotify != nullptr ? m_deps.pNotify : GetNotifyManager();
    // Raising an id nobody subscribed to is a fatal check on the bus; playback without its
    // pane has nobody to tell.
    if (pNotify->IsRegistered(DWORD_NOTIFYID_RECORD_DOWNLOAD_DATA))
        pNotify->Notify(DWORD_NOTIFYID_RECORD_DOWNLOAD_DATA, reinterpret_cast<UINT_PTR>(pPosition));
}

CDeviceMediaContext* GetDeviceMediaContext()
{
    static CDeviceMediaContext s_context;
    return &s_context;
}

void RegisterDeviceMediaContext()
{
    SetDefaultMediaContext(GetDeviceMediaContext());
    GetMediaDataValid().SetSource(GetDeviceMediaContext());
}
