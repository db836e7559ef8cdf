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

#include <chrono>
#include <map>
#include <memory>
#include <string>

class IDownloadEnv;

// Cameras that may download at once; the callers (the download dialog, the command-line
// client) refuse more.
constexpr int MAX_DOWNLOAD_CAM = 4;

// A camera's download as the manager saw it last: running, or how it ended. Kept after the
// task has gone (until the camera's next download), so that a dialog opened later shows it.
struct DownloadRun {
    enum class State {
        RUNNING,
        COMPLETED, // every range fetched
        FAILED,    // stopped early by enFailure
        CANCELLED, // stopped by the user, the camera going away or its card leaving
    };
    State enState = State::RUNNING;
    DWORD dwStart = 0; // the range asked for
    DWORD dwEnd = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point ended; // when it stopped running
    DownloadFailure enFailure = DownloadFailure::NONE;
    std::string strFailure; // the reason in words (not for the user: paths and the system's text)
    std::string strFolder;
    int nFiles = 0;
};

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
    // The camera's running download, or how its last one ended; null when it had none.
    const DownloadRun* GetRun(DWORD dwID) const;
    const std::map<DWORD, DownloadRun>& GetRuns() const { return m_mapRuns; }
    // Test hook: the file size limit of new tasks.
    void SetMaxFileMiBForTest(DWORD dwMiB) { m_dwMaxFileMiB = dwMiB; }

private:
    // Removes the task and tells the listeners of DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH.
    void Finish(DWORD dwID, const char* pszCaller);
    // The run ends in enState with what the task knows.
    void EndRun(DWORD dwID, const CDownloadRecord& task, DownloadRun::State enState);

    IDownloadEnv* m_pEnv;
    // Camera id -> task.
    std::map<DWORD, std::unique_ptr<CDownloadRecord>> m_mapTasks;
    std::map<DWORD, DownloadRun> m_mapRuns;
    DWORD m_dwMaxFileMiB = CDownloadRecordAVI::MAX_FILE_MIB;
};
