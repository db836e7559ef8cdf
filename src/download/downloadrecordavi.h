// The AVI side of one download range: opens files through the recording writer as frames
// come, starts a new one whenever the writer asks, and names each finished file by the
// times of its first and last video frame ("yymmddhhmmss-yymmddhhmmss.avi"), which is what
// later downloads of the camera read to skip what is already on disk.
#pragma once

#include "media/avi/rezorir.h"
#include "platform/wintypes.h"

#include <string>
#include <vector>

#include "protocol/engmedia.h"

// The media time of a downloaded frame (seconds): the first value of its sub-packet header.
inline DWORD DownloadMediaTime(const DownloadFrame& frame)
{
    return frame.dwValue1;
}
// The bytes a downloaded frame took on the wire: its sub-packet, header included.
inline DWORD DownloadRawLen(const DownloadFrame& frame)
{
    return frame.nPacketLen + SD_SUBPACKET_HEADER_LEN;
}

// Why a range cannot go on; the task stops on anything but NONE.
enum class DownloadFailure {
    NONE,
    FOLDER,    // the download folder cannot be created
    OPEN_FILE, // a file cannot be created in it
    WRITE,     // the file system refused a write (an I/O error, the folder gone)
    DISK_FULL, // no room: the disk or the user's quota is full, or the file size limit reached
};

class CDownloadRecordAVI : public IREZORIROwner {
public:
    static constexpr DWORD MAX_FILE_MIB = 300;
    static constexpr DWORD MAX_SPAN_SECONDS = 65535;
    // The camera's audio goes in as 8 kHz mono PCM, decoded from its 33-byte GSM frames: a
    // GSM 06.10 stream (tag 49) with the writer's header is one no player reads.
    static constexpr WORD AUDIO_FORMAT_TAG = 1;
    static constexpr DWORD AUDIO_RATE = 8000;

    // strFolder: UTF-8, ending with '/'.
    CDownloadRecordAVI(DWORD dwStartTime, DWORD dwEndTime, std::string strFolder);
    ~CDownloadRecordAVI() override;
    CDownloadRecordAVI(const CDownloadRecordAVI&) = delete;
    CDownloadRecordAVI& operator=(const CDownloadRecordAVI&) = delete;

    void NeedReCreateFile() override;
    void OnError(int nErrorID) override;

    bool FeedMediaData(const DownloadFrame& frame);
    bool CreateAviFile(const DownloadFrame& frame);
    // Finalises the open file and gives it its final name; a file whose writing failed
    // keeps its provisional name, which later downloads do not count. bWholeLastSecond false
    // (the range was stopped, its last second may be cut): the last second is cut from the
    // file, which is named by the second before, so that the next download fetches it whole.
    void CloseAviFile(bool bWholeLastSecond = true);

    DownloadFailure GetFailure() const { return m_enFailure; }
    const std::string& GetFailureText() const { return m_strFailure; }
    // Files closed and named so far.
    int GetFileCount() const { return m_nFiles; }
    // The writer's stream mode for a frame's codec (REZORIR_MODE_*), 0 for audio.
    static int StreamMode(const DownloadFrame& frame);
    // Test hooks: the file size limit, and the rename (a stand-in that fails).
    void SetMaxFileMiBForTest(DWORD dwMiB) { m_dwMaxFileMiB = dwMiB; }
    void SetRenameForTest(int (*pfnRename)(const char*, const char*)) { m_pfnRename = pfnRename; }

    // "yymmddhhmmss" of a media time, broken down without time-zone conversion; empty when it
    // cannot be broken down.
    static std::string Stamp(DWORD dwTime);

private:
    bool WriteVideoData(const DownloadFrame& frame);
    bool WriteAudioData(const DownloadFrame& frame);
    void Fail(DownloadFailure enFailure, const std::string& strText);
    // The failure of a write that failed with nErrno.
    void FailWrite(int nErrno);

    DWORD m_dwStartTimeSec;
    DWORD m_dwEndTimeSec;
    std::string m_strFolder;
    REZORIR* m_pWriter = nullptr;
    DWORD m_dwFileStartTime = 0;
    DWORD m_dwLastTime = 0;
    // The rollback point: set where each second's first video frame begins.
    DWORD m_dwMarkTime = 0;
    bool m_bMarkHasVideo = false;
    bool m_bReCreate = false;
    bool m_bWriteError = false;
    int m_nWriteErrno = 0;
    // The stream mode of the open file, and of the video seen last (the file an audio frame
    // opens is made for it; before any video, audio has no file to go to).
    int m_nFileMode = 0;
    int m_nVideoMode = 0;
    // The parameter set the last file held, for a next file that starts without one.
    std::vector<BYTE> m_vecParameterSet;
    DWORD m_dwMaxFileMiB = MAX_FILE_MIB;
    int m_nFiles = 0;
    DownloadFailure m_enFailure = DownloadFailure::NONE;
    std::string m_strFailure;
    int (*m_pfnRename)(const char*, const char*);
};
