#include "download/downloadrecordavi.h"

#include "core/log.h"
#include "platform/codepage.h"
#include "protocol/engmedia.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

CDownloadRecordAVI::CDownloadRecordAVI(DWORD dwStartTime, DWORD dwEndTime, std::string strFolder)
    : m_dwStartTimeSec(dwStartTime), m_dwEndTimeSec(dwEndTime), m_strFolder(std::move(strFolder)),
      m_pfnRename(&std::rename)
{
}

CDownloadRecordAVI::~CDownloadRecordAVI()
{
    if (m_pWriter != nullptr)
        CloseAviFile();
}

std::string CDownloadRecordAVI::Stamp(DWORD dwTime)
{
    const std::time_t t = static_cast<std::time_t>(dwTime);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr)
        return {};
    char sz[32];
    std::snprintf(sz, sizeof sz, "%02d%02d%02d%02d%02d%02d", tm.tm_year + 1900 - 2000, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return sz;
}

void CDownloadRecordAVI::Fail(DownloadFailure enFailure, const std::string& strText)
{
    if (m_enFailure != DownloadFailure::NONE)
        return;
    m_enFailure = enFailure;
    m_strFailure = strText;
    VLOG(1, "CDownloadRecordAVI::Fail: %s", strText.c_str());
}

void CDownloadRecordAVI::NeedReCreateFile()
{
    // The writer is inside its write call; the file is closed once that returns.
    m_bReCreate = true;
}

void CDownloadRecordAVI::OnError(int nErrorID)
{
    // Reported straight from the failed call: errno still tells why.
    const int nErrno = errno;
    VLOG(1, "CDownloadRecordAVI::OnError errorid:%d errno:%d", nErrorID, nErrno);
    if (nErrorID == REZORIR_ERR_WRITE && !m_bWriteError) {
        m_bWriteError = true;
        m_nWriteErrno = nErrno;
    }
}

void CDownloadRecordAVI::FailWrite(int nErrno)
{
    if (nErrno == ENOSPC || nErrno == EDQUOT || nErrno == EFBIG)
        Fail(DownloadFailure::DISK_FULL, "no room to write in " + m_strFolder + ": " + std::strerror(nErrno));
    else
        Fail(DownloadFailure::WRITE, "cannot write to " + m_strFolder + ": " + std::strerror(nErrno));
}

int CDownloadRecordAVI::StreamMode(const DownloadFrame& frame)
{
    if (frame.dwFrameClass == DOWNLOAD_FRAME_AUDIO)
        return 0;
    return frame.stFrame.nCodec == MEDIA_CODEC_MPEG4 ? REZORIR_MODE_MPEG4 : REZORIR_MODE_H264;
}

bool CDownloadRecordAVI::FeedMediaData(const DownloadFrame& frame)
{
    if (DownloadMediaTime(frame) < m_dwStartTimeSec || DownloadMediaTime(frame) > m_dwEndTimeSec) {
        VLOG(3,
             "CDownloadRecordAVI::FeedMediaData end } error time m_dwStartTimeSec:%d, m_dwEndTimeSec:%d, "
             "mediatime:%d",
             static_cast<int>(m_dwStartTimeSec), static_cast<int>(m_dwEndTimeSec),
             static_cast<int>(DownloadMediaTime(frame)));
        return false;
    }
    if (m_enFailure != DownloadFailure::NONE)
        return false;
    const int nMode = StreamMode(frame);
    if (nMode != 0) {
        m_nVideoMode = nMode;
        // The file is made for the codec the camera sends; a camera that changes it starts
        // a new file.
        if (m_pWriter != nullptr && nMode != m_nFileMode) {
            VLOG(2, "CDownloadRecordAVI::FeedMediaData: codec mode %d after %d, new file", nMode,
                 m_nFileMode);
            CloseAviFile();
            m_vecParameterSet.clear();
            if (m_enFailure != DownloadFailure::NONE)
                return false;
        }
    } else if (m_pWriter == nullptr && m_nVideoMode == 0) {
        VLOG(4, "CDownloadRecordAVI::FeedMediaData: audio before any video, dropped");
        return false;
    }
    if (m_pWriter == nullptr && !CreateAviFile(frame)) {
        VLOG(1, "CDownloadRecordAVI::FeedMediaData !CreateAviFile(mediaData)");
        return false;
    }
    if (frame.dwFrameClass == DOWNLOAD_FRAME_AUDIO)
        return WriteAudioData(frame);
    bool bResult = WriteVideoData(frame);
    if (m_bReCreate && m_enFailure == DownloadFailure::NONE) {
        // The segment that ended the file starts the next one rather than being lost.
        CloseAviFile();
        if (m_enFailure == DownloadFailure::NONE && CreateAviFile(frame))
            bResult = WriteVideoData(frame);
        if (m_bReCreate)
            CloseAviFile(); // the new file refused its first segment as well
    }
    return bResult;
}

bool CDownloadRecordAVI::WriteVideoData(const DownloadFrame& frame)
{
    const MediaFrame& media = frame.stFrame;
    m_bReCreate = false;
    if (m_pWriter->GetVideoCount() == 0 || DownloadMediaTime(frame) != m_dwLastTime) {
        m_bMarkHasVideo = m_pWriter->GetVideoCount() > 0;
        m_dwMarkTime = m_dwLastTime;
        m_pWriter->SetRollbackPoint();
    }
    const bool bResult =
        m_pWriter->WriteVideo(media.pData, media.nLen, media.usSequence, media.bySubSequence);
    if (bResult)
        m_dwLastTime = DownloadMediaTime(frame);
    if (m_bWriteError)
        FailWrite(m_nWriteErrno);
    return bResult;
}

bool CDownloadRecordAVI::WriteAudioData(const DownloadFrame& frame)
{
    const MediaFrame& media = frame.stFrame;
    m_pWriter->WriteAudio(media.pData, media.nLen, media.usSequence);
    if (m_bWriteError)
        FailWrite(m_nWriteErrno);
    return true;
}

bool CDownloadRecordAVI::CreateAviFile(const DownloadFrame& frame)
{
    std::error_code ec;
    std::filesystem::create_directories(m_strFolder, ec);
    if (ec) {
        VLOG(1, "CDownloadRecordAVI::CreateAviFile: end } !MakeSureDirectoryPathExists %s",
             m_strFolder.c_str());
        Fail(DownloadFailure::FOLDER, "cannot create the folder " + m_strFolder + ": " + ec.message());
        return false;
    }
    const std::string strStamp = Stamp(DownloadMediaTime(frame));
    if (strStamp.empty()) {
        VLOG(1, "CDownloadRecordAVI::CreateAviFile: end } !pTm");
        return false;
    }
    const std::string strPath = m_strFolder + strStamp + ".avi";
    const std::u16string strWide = Utf8ToWide(strPath);
    m_pWriter = CreateREZORIR(this);
    if (m_pWriter == nullptr) {
        VLOG(1, "CDownloadRecordAVI::CreateAviFile: !CreateREZORIR");
        return false;
    }
    m_pWriter->SetMaxFileSize(m_dwMaxFileMiB);
    m_pWriter->SetMaxSpan(MAX_SPAN_SECONDS);
    m_bWriteError = false;
    m_nWriteErrno = 0;
    m_bReCreate = false;
    // Made for the codec the camera sends (an audio frame opens the file for the video seen
    // last); the design's fixed H.264 turned an MPEG-4 camera's key frames away and wrote
    // the rest.
    const int nMode = StreamMode(frame) != 0 ? StreamMode(frame) : m_nVideoMode;
    if (!m_pWriter->Create(strWide.c_str(), strWide.c_str(), 0, nMode, -1, -1, -1)) {
        const int nErrno = errno;
        DestroyREZORIR(m_pWriter);
        m_pWriter = nullptr;
        VLOG(1, "CDownloadRecordAVI::CreateAviFile: !CreateAVIFile szDesFile:%s", strPath.c_str());
        if (nErrno == ENOSPC || nErrno == EDQUOT)
            Fail(DownloadFailure::DISK_FULL, "no room to create " + strPath + ": " + std::strerror(nErrno));
        else
            Fail(DownloadFailure::OPEN_FILE, "cannot create " + strPath + ": " + std::strerror(nErrno));
        return false;
    }
    m_nFileMode = nMode;
    m_pWriter->SetParameterSet(m_vecParameterSet);
    m_pWriter->SetAudioFormat(AUDIO_FORMAT_TAG, 1, AUDIO_RATE);
    m_dwFileStartTime = DownloadMediaTime(frame);
    m_dwLastTime = DownloadMediaTime(frame);
    return true;
}

void CDownloadRecordAVI::CloseAviFile(bool bWholeLastSecond)
{
    if (m_pWriter == nullptr)
        return;
    // A file without video holds no second a later download may skip: its name would say it does.
    bool bEmpty = m_pWriter->GetVideoCount() == 0;
    if (!bWholeLastSecond && !m_bWriteError && !bEmpty && m_pWriter->RollbackToPoint()) {
        bEmpty = !m_bMarkHasVideo;
        m_dwLastTime = m_dwMarkTime;
        VLOG(3, "CDownloadRecordAVI::CloseAviFile: last second cut, ends at %u", m_dwLastTime);
    }
    m_vecParameterSet = m_pWriter->GetParameterSet();
    DestroyREZORIR(m_pWriter); // finalises the file; a failed final write sets m_bWriteError
    m_pWriter = nullptr;
    m_bReCreate = false;
    const std::string strStart = Stamp(m_dwFileStartTime);
    if (strStart.empty()) {
        VLOG(1, "CDownloadRecordAVI::CloseAviFile: !pTmStart");
        return;
    }
    const std::string strSrc = m_strFolder + strStart + ".avi";
    if (bEmpty && !m_bWriteError) {
        // Nothing whole was in it.
        std::remove(strSrc.c_str());
        VLOG(3, "CDownloadRecordAVI::CloseAviFile: end } removed empty szSrcFile:%s", strSrc.c_str());
        return;
    }
    if (m_bWriteError) {
        FailWrite(m_nWriteErrno);
        VLOG(1, "CDownloadRecordAVI::CloseAviFile: end } incomplete, left as szSrcFile:%s", strSrc.c_str());
        return;
    }
    const std::string strEnd = Stamp(m_dwLastTime);
    if (strEnd.empty()) {
        VLOG(1, "CDownloadRecordAVI::CloseAviFile: !pTmEnd");
        return;
    }
    const std::string strDes = m_strFolder + strStart + "-" + strEnd + ".avi";
    int nRet = 0;
    for (int nTry = 0; nTry < 2; ++nTry) {
        std::remove(strDes.c_str());
        nRet = m_pfnRename(strSrc.c_str(), strDes.c_str()) == 0 ? 1 : 0;
        if (nRet)
            break;
    }
    VLOG(3, "CDownloadRecordAVI::CloseAviFile: szSrcFile:%s, szDesFile:%s", strSrc.c_str(), strDes.c_str());
    VLOG(3, "CDownloadRecordAVI::CloseAviFile: end } ret:%d", nRet);
    if (nRet) {
        ++m_nFiles;
    } else {
        // The recording is whole but later downloads will not see it under this name.
        VLOG(
            1,
            "CDownloadRecordAVI::CloseAviFile: rename failed, the recording stays as %s and is fetched again "
            "next time",
            strSrc.c_str());
    }
}
