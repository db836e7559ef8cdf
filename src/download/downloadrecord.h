// One camera's download: works out which parts of the asked range are not yet on disk (from
// the names of the AVI files in its folder), fetches them one range at a time through the
// record-time protocol, puts the downloaded frames back in send order and hands them to
// the AVI side.
#pragma once

#include "download/downloadrecordavi.h"
#include "net/capturequeue.h"
#include "platform/wintypes.h"
#include "protocol/engmedia.h"

#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class IDownloadEnv;
struct DeviceInfo;

// The download folder of a device: the record folder, then the device name made safe as one
// folder name (no separators, no "." or "..", no control or reserved characters) and its serial
// number in brackets, "<name> (<serial>)/", so that two cameras of one name never share a folder
// (an empty name leaves the serial alone; no serial: "camera-<id>").
std::string MakeDownloadFolder(const std::string& strRecordPath, const char16_t* pszName,
                               const char* pszSerial, std::size_t nSerialMax, DWORD dwID);
std::string MakeDownloadFolder(const std::string& strRecordPath, const DeviceInfo& device);
// The folder of the earlier layout, the name alone ("<name>/", "camera-<id>/" without one):
// read for resuming, never written.
std::string MakeLegacyDownloadFolder(const std::string& strRecordPath, const char16_t* pszName, DWORD dwID);

class CDownloadRecord {
public:
    using TimeRange = std::pair<DWORD, DWORD>;

    // Frames further than this ahead of the next expected one are dropped (and fetched again
    // through the acknowledgements), as are frames that would hold more bytes than this.
    static constexpr DWORD REORDER_WINDOW = 8192;
    static constexpr std::size_t REORDER_MAX_BYTES = 64u << 20;

    // Sends the stop-download request first: the camera may still be sending an old range.
    CDownloadRecord(DeviceInfo* pDevice, IDownloadEnv* pEnv);
    ~CDownloadRecord();
    CDownloadRecord(const CDownloadRecord&) = delete;
    CDownloadRecord& operator=(const CDownloadRecord&) = delete;

    bool IsRecordAlreadyDownload();
    void Download();
    // Closes the current range; true while ranges remain (the next one has been asked for).
    bool DownloadNext();
    void CancelDownload();
    void CheckTask();
    void FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq);
    // Written in order or held for later.
    bool IsKept(DWORD dwSendSeq) const;

    void CalcHaveTime();
    void AddMapTime(const std::string& strFile);
    void CalcNeedTime();
    // The folders whose files count as on disk: the camera's own, and the earlier layout's
    // while no other known camera has the same name.
    std::vector<std::string> GetHaveFolders() const;

    const std::list<TimeRange>& GetHaveList() const { return m_listHave; }
    const std::list<TimeRange>& GetNeedList() const { return m_listNeed; }
    std::size_t GetHeldFrames() const { return m_mapReorder.size(); }
    const std::string& GetFolder() const { return m_strFolder; }
    // Why the task cannot go on (NONE while it can); the reason in words.
    DownloadFailure GetFailure() const { return m_enFailure; }
    const std::string& GetFailureText() const { return m_strFailure; }
    // Files finished by this task.
    int GetFileCount() const { return m_nFiles + (m_pWriter ? m_pWriter->GetFileCount() : 0); }
    // Test hook: every writer of this task gets this file size limit.
    void SetMaxFileMiBForTest(DWORD dwMiB) { m_dwMaxFileMiB = dwMiB; }

private:
    struct HeldFrame {
        DownloadFrame frame;
        std::vector<BYTE> vecData;
    };

    void WriteFrame(const DownloadFrame& frame);
    // bWhole false: the range was stopped before its end.
    void DestroyWriter(bool bWhole);

    DeviceInfo* m_pDevice;
    IDownloadEnv* m_pEnv;
    std::string m_strFolder;
    std::list<TimeRange> m_listHave;
    std::list<TimeRange> m_listNeed;
    std::map<DWORD, HeldFrame> m_mapReorder;
    std::size_t m_nHeldBytes = 0;
    DWORD m_dwLastReceiveTime = 0;
    DWORD m_dwLastMaxContinuousAck = 0;
    DWORD m_dwLastReceiveKB = 0;
    std::unique_ptr<CDownloadRecordAVI> m_pWriter;
    DWORD m_dwMaxFileMiB = CDownloadRecordAVI::MAX_FILE_MIB;
    int m_nFiles = 0;
    DownloadFailure m_enFailure = DownloadFailure::NONE;
    std::string m_strFailure;
    // The packet capture sizes its ring for a download's window while the task lives.
    CCaptureBulkHold m_captureBulk;
};
