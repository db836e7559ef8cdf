#include "download/downloadmanager.h"

#include "core/log.h"
#include "core/notify.h"
#include "device/deviceinfo.h"
#include "download/downloadenv.h"

CDownloadRecordManager* CDownloadRecordManager::GetInstance()
{
    static CDownloadRecordManager s_manager;
    return &s_manager;
}

CDownloadRecordManager::CDownloadRecordManager(IDownloadEnv* pEnv)
    : m_pEnv(pEnv != nullptr ? pEnv : GetDefaultDownloadEnv())
{
}

CDownloadRecordManager::~CDownloadRecordManager()
{
    CancelAllDownload();
    // Nobody may reach a manager that is gone.
    if (GetDownloadRecordManager() == this)
        SetDownloadRecordManager(nullptr);
}

CDownloadRecord* CDownloadRecordManager::GetTask(DWORD dwID)
{
    const auto it = m_mapTasks.find(dwID);
    return it == m_mapTasks.end() ? nullptr : it->second.get();
}

std::string CDownloadRecordManager::GetFailure(DWORD dwID) const
{
    const DownloadRun* pRun = GetRun(dwID);
    return pRun == nullptr || pRun->enState != DownloadRun::State::FAILED ? std::string() : pRun->strFailure;
}

int CDownloadRecordManager::GetFinishedFiles(DWORD dwID) const
{
    const DownloadRun* pRun = GetRun(dwID);
    return pRun == nullptr || pRun->enState == DownloadRun::State::RUNNING ? 0 : pRun->nFiles;
}

const DownloadRun* CDownloadRecordManager::GetRun(DWORD dwID) const
{
    const auto it = m_mapRuns.find(dwID);
    return it == m_mapRuns.end() ? nullptr : &it->second;
}

bool CDownloadRecordManager::Download(DWORD dwID)
{
    VLOG(3, "CDownloadRecordManager::Download: beg { id:%d", static_cast<int>(dwID));
    DeviceInfo* pDevice = m_pEnv->GetDevice(dwID);
    FATAL_CHECK(pDevice != nullptr, "id:%d", static_cast<int>(dwID));
    // A second request for the same camera replaces its task rather than leaking it.
    if (IsDownloading(dwID))
        CancelDownload(dwID);
    auto pTask = std::make_unique<CDownloadRecord>(pDevice, m_pEnv);
    pTask->SetMaxFileMiBForTest(m_dwMaxFileMiB);
    DownloadRun& run = m_mapRuns[dwID];
    run = DownloadRun();
    run.dwStart = pDevice->dwDownloadStart;
    run.dwEnd = pDevice->dwDownloadEnd;
    run.started = run.ended = std::chrono::steady_clock::now();
    run.strFolder = pTask->GetFolder();
    if (pTask->IsRecordAlreadyDownload()) {
        VLOG(3, "CDownloadRecordManager::Download: IsRecordAlreadyDownload()");
        run.enState = DownloadRun::State::COMPLETED;
        return false;
    }
    CDownloadRecord* pRecord = pTask.get();
    m_mapTasks[dwID] = std::move(pTask);
    pRecord->Download();
    VLOG(3, "CDownloadRecordManager::Download: end } true");
    return true;
}

void CDownloadRecordManager::EndRun(DWORD dwID, const CDownloadRecord& task, DownloadRun::State enState)
{
    DownloadRun& run = m_mapRuns[dwID];
    run.ended = std::chrono::steady_clock::now();
    run.nFiles = task.GetFileCount();
    run.enFailure = task.GetFailure();
    run.strFailure = task.GetFailureText();
    // A failure found while the task was being cancelled (the last file could not be
    // finished) is still a failure.
    run.enState = run.enFailure != DownloadFailure::NONE ? DownloadRun::State::FAILED : enState;
}

void CDownloadRecordManager::Finish(DWORD dwID, const char* pszCaller)
{
    const auto it = m_mapTasks.find(dwID);
    if (it == m_mapTasks.end())
        return;
    std::unique_ptr<CDownloadRecord> pTask = std::move(it->second);
    m_mapTasks.erase(it);
    EndRun(dwID, *pTask, DownloadRun::State::COMPLETED);
    pTask.reset();
    DeviceInfo* pDevice = m_pEnv->GetDevice(dwID);
    CNotifyManager* pNotify = m_pEnv->GetNotify();
    if (pNotify != nullptr && pNotify->IsRegistered(DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH) &&
        pDevice != nullptr) {
        VLOG(3, "%s: IsIDRegister", pszCaller);
        pNotify->Notify(DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH, reinterpret_cast<UINT_PTR>(pDevice));
    } else {
        VLOG(3, "%s: !IsIDRegister", pszCaller);
    }
}

void CDownloadRecordManager::DownloadNext(DWORD dwID)
{
    CDownloadRecord* pTask = GetTask(dwID);
    if (pTask == nullptr) {
        VLOG(2, "CDownloadRecordManager::DownloadNext: end } no task id:%d", static_cast<int>(dwID));
        return;
    }
    if (!pTask->DownloadNext())
        Finish(dwID, "CDownloadRecordManager::DownloadNext");
}

void CDownloadRecordManager::CancelDownload(DWORD dwID)
{
    VLOG(3, "CDownloadRecordManager::CancelDownload: beg { id:%d, exist:%d", static_cast<int>(dwID),
         IsDownloading(dwID) ? 1 : 0);
    const auto it = m_mapTasks.find(dwID);
    if (it == m_mapTasks.end())
        return;
    it->second->CancelDownload();
    EndRun(dwID, *it->second, DownloadRun::State::CANCELLED);
    m_mapTasks.erase(it);
}

void CDownloadRecordManager::CancelAllDownload()
{
    VLOG(3, "CDownloadRecordManager::CancelAllDownload: beg { size:%d", GetDownloadCount());
    while (!m_mapTasks.empty())
        CancelDownload(m_mapTasks.begin()->first);
}

void CDownloadRecordManager::CheckTask()
{
    for (auto& [dwID, pTask] : m_mapTasks)
        pTask->CheckTask();
}

void CDownloadRecordManager::FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq)
{
    const DWORD dwID = frame.stFrame.ulCameraID;
    CDownloadRecord* pTask = GetTask(dwID);
    // A task that stopped on a failure goes while the rest of its datagram is still coming.
    if (pTask == nullptr) {
        VLOG(2, "CDownloadRecordManager::FeedMediaData: end } no task id:%d, uSendSeq:%u",
             static_cast<int>(dwID), dwSendSeq);
        return;
    }
    pTask->FeedMediaData(frame, dwSendSeq);
    if (pTask->GetFailure() != DownloadFailure::NONE) {
        pTask->CancelDownload();
        Finish(dwID, "CDownloadRecordManager::FeedMediaData");
    }
}

bool CDownloadRecordManager::IsKept(DWORD dwID, DWORD dwSendSeq)
{
    const CDownloadRecord* pTask = GetTask(dwID);
    return pTask != nullptr && pTask->IsKept(dwSendSeq);
}
