// The download manager: one download task per camera fetching the SD recordings of a time
// range into AVI files.
//
// The tasks themselves come with the download writer; until then the manager holds none,
// every question about a download answers "none" and a request to download is refused.
// Start-up registers the process-wide manager with SetDownloadRecordManager so that the
// device manager's download heartbeat and finished-range handling reach it.
#pragma once

#include "device/idownloadmanager.h"

#include <map>

class CDownloadRecord;

class CDownloadRecordManager : public IDownloadRecordManager {
public:
    static CDownloadRecordManager* GetInstance();

    CDownloadRecordManager() = default;
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
    // A frame for a camera without a task is a programming error (fatal check).
    void FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq) override;

private:
    // Camera id -> task (owned).
    std::map<DWORD, CDownloadRecord*> m_mapTasks;
};
