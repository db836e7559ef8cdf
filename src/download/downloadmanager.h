// The download manager: one download task per camera fetching the SD recordings of a time
// range into AVI files.
//
// Start-up registers the process-wide manager with SetDownloadRecordManager so that the
// device manager's download heartbeat and finished-range handling reach it, and the media
// engine feeds it. When a camera's task ends (every range fetched, or a failure that stops
// it) the task goes and notification DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH carries the
// device record; GetFailure then tells whether and why it stopped early.
#pragma once

#include "device/idownloadmanager.h"
#include "download/downloadrecord.h"

#include <map>
#include <memory>
#include <string>

class IDownloadEnv;

// Cameras that may download at once; the callers (the download dialog, the command-line
// client) refuse more.
constexpr int MAX_DOWNLOAD_CAM = 4;

class CDownloadRecordManager : public IDownloadRecordManager {
public:
    static CDownloadRecordManager* GetInstance();

    // pEnv: null for the process-wide one.
    explicit CDownloadRecordManager(IDownloadEnv* pEnv = nullptr);
    ~CDownloadRecordManager() override;
    CDownloadRecordManager(const CDownloadRecordManager&) = delete;
    CDownloadRecordManager& operator=(const CDownloadRecordManager&) = delete;

    bool Download(DWORD dwID) override;
    void DownloadNext(DWORD dwID) override;
    void CancelDownload(DWORD dwID) override;
    void CancelAllDownload() override;
    bool IsDownloading(DWORD dwID) override { return m_mapTasks.count(dwID) != 0; }
    bool HasDownloading() override { return !m_mapTasks.empty(); }
    int GetDownloadCount() override { return static_cast<int>(m_mapTasks.size()); }
    void CheckTask() override;
    void FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq) override;
    bool IsKept(DWORD dwID, DWORD dwSendSeq) override;

    // The camera's task, null when none.
    CDownloadRecord* GetTask(DWORD dwID);
    // How the camera's last task ended: empty when it finished or was cancelled, else why it
    // stopped.
    std::string GetFailure(DWORD dwID) const;
    // Files the camera's last finished task wrote.
    int GetFinishedFiles(DWORD dwID) const;
    // Test hook: the file size limit of new tasks.
    void SetMaxFileMiBForTest(DWORD dwMiB) { m_dwMaxFileMiB = dwMiB; }

private:
    // Removes the task and tells the listeners of DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH.
    void Finish(DWORD dwID, const char* pszCaller);

    IDownloadEnv* m_pEnv;
    // Camera id -> task.
    std::map<DWORD, std::unique_ptr<CDownloadRecord>> m_mapTasks;
    std::map<DWORD, std::string> m_mapFailures;
    std::map<DWORD, int> m_mapFinishedFiles;
    DWORD m_dwMaxFileMiB = CDownloadRecordAVI::MAX_FILE_MIB;
};
