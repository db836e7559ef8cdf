#include "download/downloadmanager.h"

#include "core/log.h"
#include "device/devicemanager.h"

CDownloadRecordManager* CDownloadRecordManager::GetInstance()
{
    static CDownloadRecordManager s_manager;
    return &s_manager;
}

CDownloadRecordManager::~CDownloadRecordManager()
{
    CancelAllDownload();
    // Nobody may reach a manager that is gone.
    if (GetDownloadRecordManager() == this)
        SetDownloadRecordManager(nullptr);
}

bool CDownloadRecordManager::Download(DWORD dwID)
{
    VLOG(3, "CDownloadRecordManager::Download: beg { id:%d", static_cast<int>(dwID));
    FATAL_CHECK(GetDeviceManager()->GetDevice(dwID, CAMERA_MASK_VIDEO) != nullptr);
    // Tasks arrive with the download writer; until then nothing can be fetched.
    VLOG(1, "CDownloadRecordManager::Download: end } no download task available");
    return false;
}

void CDownloadRecordManager::DownloadNext(DWORD dwID)
{
    if (!IsDownloading(dwID)) {
        VLOG(2, "CDownloadRecordManager::DownloadNext: end } no task id:%d", static_cast<int>(dwID));
        return;
    }
}

void CDownloadRecordManager::CancelDownload(DWORD dwID)
{
    VLOG(3, "CDownloadRecordManager::CancelDownload: beg { id:%d, exist:%d", static_cast<int>(dwID),
         IsDownloading(dwID) ? 1 : 0);
}

void CDownloadRecordManager::CancelAllDownload()
{
    VLOG(3, "CDownloadRecordManager::CancelAllDownload: beg { size:%d", GetDownloadCount());
}

void CDownloadRecordManager::CheckTask() {}

void CDownloadRecordManager::FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq)
{
    FATAL_CHECK(false, "FeedMediaData without a task, uSendSeq:%u", static_cast<unsigned>(dwSendSeq));
}
