#include "pcrec/pcrecorder.h"

#include "core/log.h"
#include "media/avi/aviprocess.h"
#include "media/avi/rezorir.h"
#include "protocol/engmedia.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::int64_t WallClockMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t StatFreeSpace(const std::string& strFolder)
{
    struct statvfs st {};
    if (statvfs(strFolder.c_str(), &st) != 0)
        return INT64_MAX; // unknown: the writes will tell
    return static_cast<std::int64_t>(st.f_bavail) * static_cast<std::int64_t>(st.f_frsize);
}

std::int64_t FileBytes(const std::string& strPath)
{
    std::error_code ec;
    const auto n = fs::file_size(strPath, ec);
    return ec ? 0 : static_cast<std::int64_t>(n);
}

bool IsSpaceError(int nErrno)
{
    return nErrno == ENOSPC || nErrno == EDQUOT || nErrno == EFBIG;
}

} // namespace

struct CPcRecorder::Cam {
    PcRecCamera info;
    CSegmentWriter writer;
    SegmentFormat format;
    std::int64_t llSegmentID = 0;
    std::string strRelative;
    std::int64_t llStartMs = 0;
    std::int64_t llCamBase = 0; // camera time of the segment's first picture (µs)
    std::int64_t llLastCam = 0;
    std::int64_t llLastArrival = 0;
    std::int64_t llFirstSeen = -1;
    bool bAudioSeen = false;
    bool bAnySequence = false;
    WORD usLastSequence = 0;
    // The segment just closed at its length or a change of stream: the next one follows it
    // on the camera's clock.
    bool bContinues = false;
    std::int64_t llPrevStartMs = 0;
    std::int64_t llPrevCamBase = 0;
    std::int64_t llRetryAt = 0;
};

CPcRecorder::CPcRecorder(PcRecSettings settings)
    : m_settings(std::move(settings)), m_fnClock(WallClockMs), m_fnFreeSpace(StatFreeSpace)
{
}

CPcRecorder::~CPcRecorder()
{
    Stop();
}

bool CPcRecorder::Start(std::string& strError)
{
    if (!m_index.Open(m_settings.strFolder, false, strError))
        return false;
    m_bStarted = true;
    ApplyRetention(0);
    return true;
}

void CPcRecorder::Stop()
{
    for (auto& [dwID, pCam] : m_mapCameras) {
        if (pCam->info.enState == PcRecState::RECORDING)
            CloseSegment(*pCam, false);
        pCam->info.enState = PcRecState::WAITING;
    }
}

void CPcRecorder::AddCamera(DWORD dwID, const std::string& strSerial, const std::string& strName)
{
    auto& pCam = m_mapCameras[dwID];
    if (pCam != nullptr)
        return;
    pCam = std::make_unique<Cam>();
    pCam->info.dwID = dwID;
    pCam->info.strSerial = SafeSerial(strSerial.empty() ? std::to_string(dwID) : strSerial);
    pCam->info.strName = strName;
}

void CPcRecorder::RemoveCamera(DWORD dwID)
{
    const auto it = m_mapCameras.find(dwID);
    if (it == m_mapCameras.end())
        return;
    if (it->second->info.enState == PcRecState::RECORDING)
        CloseSegment(*it->second, false);
    m_mapCameras.erase(it);
}

const PcRecCamera* CPcRecorder::Camera(DWORD dwID) const
{
    const auto it = m_mapCameras.find(dwID);
    return it != m_mapCameras.end() ? &it->second->info : nullptr;
}

std::vector<PcRecCamera> CPcRecorder::Cameras() const
{
    std::vector<PcRecCamera> vec;
    for (const auto& [dwID, pCam] : m_mapCameras)
        vec.push_back(pCam->info);
    return vec;
}

std::set<std::string> CPcRecorder::ActivePaths() const
{
    std::set<std::string> set;
    for (const auto& [dwID, pCam] : m_mapCameras) {
        if (pCam->info.enState == PcRecState::RECORDING)
            set.insert(pCam->strRelative);
    }
    return set;
}

void CPcRecorder::OnFrame(const MediaFrame& frame)
{
    const auto it = m_mapCameras.find(frame.ulCameraID);
    if (!m_bStarted || it == m_mapCameras.end())
        return;
    Cam& cam = *it->second;
    const std::int64_t llNow = m_fnClock();
    if (cam.llFirstSeen < 0)
        cam.llFirstSeen = llNow;
    const BYTE* pData = frame.pData;
    std::size_t nLen = frame.nLen;
    if (frame.nCodec == MEDIA_CODEC_AUDIO) {
        cam.bAudioSeen = true;
        if (cam.info.enState == PcRecState::RECORDING) {
            ++cam.info.llAudioFrames;
            cam.info.llStreamBytes += static_cast<std::int64_t>(nLen);
            if (!cam.writer.WriteGsm(pData, nLen))
                WriteFailed(cam);
        }
        return;
    }
    // Frames go on in number order: one that comes after a newer one cannot be placed. After a
    // silence the numbers start afresh (a camera that restarted counts from 0 again).
    if (llNow - cam.llLastArrival > STREAM_GAP_MS)
        cam.bAnySequence = false;
    if (cam.bAnySequence &&
        static_cast<std::int16_t>(static_cast<WORD>(frame.usSequence - cam.usLastSequence)) <= 0) {
        ++cam.info.llDroppedFrames;
        return;
    }
    cam.bAnySequence = true;
    cam.usLastSequence = frame.usSequence;
    std::int64_t llCam = llNow * 1000;
    if (frame.bStamped) {
        if (nLen < 10 || pData[0] < 10 || pData[0] >= nLen) {
            ++cam.info.llDroppedFrames;
            return;
        }
        DWORD dwSeconds;
        DWORD dwMicros;
        std::memcpy(&dwSeconds, pData + 2, 4);
        std::memcpy(&dwMicros, pData + 6, 4);
        llCam = std::int64_t{dwSeconds} * 1000000 + dwMicros % 1000000;
        nLen -= pData[0];
        pData += pData[0];
    }
    const int nMode = frame.nCodec == MEDIA_CODEC_H264 ? REZORIR_MODE_H264 : REZORIR_MODE_MPEG4;
    std::vector<BYTE> vecHeaders;
    if (frame.bySubSequence == 0)
        vecHeaders = CAVIProcess::FindParameterSet(pData, nLen, nMode);
    const bool bStartable = !vecHeaders.empty();
    const bool bKey = bStartable || CAVIProcess::IsKeyPicture(pData, nLen, nMode);

    if (cam.info.enState == PcRecState::RECORDING) {
        // A silence, or a camera clock that jumps, ends the segment: the time between is a gap.
        const std::int64_t llStep = llCam - cam.llLastCam;
        if (llNow - cam.llLastArrival > STREAM_GAP_MS || llStep > STREAM_GAP_MS * 1000 || llStep < -1000000) {
            CloseSegment(cam, false);
            cam.info.enState = PcRecState::WAITING;
        }
    }
    if (cam.info.enState == PcRecState::RECORDING && bStartable) {
        const bool bChanged = (frame.nCodec == MEDIA_CODEC_MPEG4) != cam.format.bMpeg4 ||
                              static_cast<int>(frame.nWidth) != cam.format.nWidth ||
                              static_cast<int>(frame.nHeight) != cam.format.nHeight ||
                              vecHeaders != cam.format.vecHeaders || cam.bAudioSeen != cam.format.bAudio;
        if (bChanged || llCam - cam.llCamBase >= std::int64_t{m_settings.nSegmentSeconds} * 1000000) {
            CloseSegment(cam, true);
            cam.info.enState = PcRecState::WAITING;
        }
    }
    if (cam.info.enState == PcRecState::WAITING) {
        // The first segment waits a moment for the sound, so that it has its track.
        if (!bStartable || (!cam.bContinues && !cam.bAudioSeen && llNow - cam.llFirstSeen < 1000)) {
            cam.llLastArrival = llNow;
            return;
        }
        cam.format.bMpeg4 = frame.nCodec == MEDIA_CODEC_MPEG4;
        cam.format.nWidth = static_cast<int>(frame.nWidth);
        cam.format.nHeight = static_cast<int>(frame.nHeight);
        cam.format.vecHeaders = vecHeaders;
        cam.format.bAudio = cam.bAudioSeen;
        OpenSegment(cam, pData, nLen, llCam, llNow);
        return;
    }
    if (cam.info.enState != PcRecState::RECORDING)
        return;
    cam.llLastArrival = llNow;
    cam.llLastCam = llCam;
    if (!cam.writer.WriteVideo(pData, nLen, llCam - cam.llCamBase, bKey)) {
        WriteFailed(cam);
        return;
    }
    ++cam.info.llFrames;
    cam.info.llStreamBytes += static_cast<std::int64_t>(nLen);
}

void CPcRecorder::OpenSegment(Cam& cam, const BYTE* pData, std::size_t nLen, std::int64_t llCamMicros,
                              std::int64_t llNow)
{
    const bool bContinues = cam.bContinues;
    cam.bContinues = false;
    if (!EnsureSpace(false)) {
        StopCamera(cam, "the disk of " + m_settings.strFolder + " is full", true);
        return;
    }
    std::int64_t llStart = bContinues ? cam.llPrevStartMs + (llCamMicros - cam.llPrevCamBase) / 1000 : llNow;
    const std::int64_t llLastEnd = m_index.LastEnd(cam.info.strSerial);
    if (llLastEnd >= 0 && llStart - llLastEnd > CPcRecIndex::GAP_MS) {
        m_index.AddGap(cam.info.strSerial, llLastEnd, llStart);
        ++cam.info.llGaps;
    }
    const fs::path folder(m_settings.strFolder);
    std::error_code ec;
    while (fs::exists(folder / SegmentPathFor(cam.info.strSerial, llStart), ec))
        ++llStart; // two segments within one millisecond (a restart)
    cam.strRelative = SegmentPathFor(cam.info.strSerial, llStart);
    const fs::path path = folder / cam.strRelative;
    fs::create_directories(path.parent_path(), ec);
    std::string strError;
    if (!cam.writer.Open(path.string(), cam.format, llStart / 1000, strError)) {
        const int nErrno = cam.writer.WriteErrno();
        cam.writer.Close();
        fs::remove(path, ec);
        VLOG(1, "CPcRecorder: %s", strError.c_str());
        StopCamera(cam, IsSpaceError(nErrno) ? "the disk of " + m_settings.strFolder + " is full" : strError,
                   IsSpaceError(nErrno));
        return;
    }
    cam.llStartMs = llStart;
    cam.llCamBase = llCamMicros;
    cam.llLastCam = llCamMicros;
    cam.llLastArrival = llNow;
    cam.info.enState = PcRecState::RECORDING;
    PcSegment segment;
    segment.strSerial = cam.info.strSerial;
    segment.strPath = cam.strRelative;
    segment.llStartMs = llStart;
    segment.llEndMs = llStart;
    segment.strCodec = cam.format.bMpeg4 ? "mpeg4" : "h264";
    segment.nWidth = cam.format.nWidth;
    segment.nHeight = cam.format.nHeight;
    segment.bAudio = cam.format.bAudio;
    segment.bWriting = true;
    cam.llSegmentID = m_index.AddSegment(segment);
    // With each segment, so that the name follows a renamed camera.
    if (!cam.info.strName.empty())
        m_index.SetCameraName(cam.info.strSerial, cam.info.strName);
    ++cam.info.llSegments;
    VLOG(3, "CPcRecorder: %s started", cam.strRelative.c_str());
    if (!cam.writer.WriteVideo(pData, nLen, 0, true)) {
        WriteFailed(cam);
        return;
    }
    ++cam.info.llFrames;
    cam.info.llStreamBytes += static_cast<std::int64_t>(nLen);
}

void CPcRecorder::CloseSegment(Cam& cam, bool bContinues)
{
    const std::string strPath = (fs::path(m_settings.strFolder) / cam.strRelative).string();
    std::int64_t llEndMicros = cam.writer.EndMicros();
    const bool bClean = cam.writer.Close();
    std::int64_t llFrames = cam.writer.VideoFrames();
    if (!bClean) {
        // What reached the disk is what counts.
        const SegmentProbe probe = ProbeSegment(strPath);
        llEndMicros = probe.llMicros;
        llFrames = probe.llFrames;
    }
    cam.info.enState = PcRecState::WAITING;
    if (llFrames == 0) {
        std::error_code ec;
        fs::remove(strPath, ec);
        m_index.RemoveSegment(cam.llSegmentID);
    } else {
        m_index.UpdateSegment(cam.llSegmentID, cam.llStartMs + llEndMicros / 1000, FileBytes(strPath),
                              llFrames, true);
    }
    VLOG(3, "CPcRecorder: %s closed, %lld frames", cam.strRelative.c_str(), static_cast<long long>(llFrames));
    cam.bContinues = bContinues;
    cam.llPrevStartMs = cam.llStartMs;
    cam.llPrevCamBase = cam.llCamBase;
}

void CPcRecorder::StopCamera(Cam& cam, const std::string& strText, bool bFull)
{
    if (cam.info.enState == PcRecState::RECORDING)
        CloseSegment(cam, false);
    cam.bContinues = false;
    cam.info.enState = PcRecState::STOPPED;
    cam.info.strMessage = strText;
    cam.info.bStoppedFull = cam.info.bStoppedFull || bFull;
    cam.llRetryAt = m_fnClock() + 5000;
    VLOG(1, "CPcRecorder: recording of %s stopped: %s", cam.info.strSerial.c_str(), strText.c_str());
    if (m_fnEvent)
        m_fnEvent(cam.info, "recording of " + cam.info.strSerial + " stopped: " + strText);
}

void CPcRecorder::WriteFailed(Cam& cam)
{
    const int nErrno = cam.writer.WriteErrno();
    CloseSegment(cam, false);
    if (IsSpaceError(nErrno)) {
        // Room by the rule: the camera goes on at its next key frame; else it stops.
        if (EnsureSpace(true))
            return;
        StopCamera(cam, "the disk of " + m_settings.strFolder + " is full", true);
        return;
    }
    StopCamera(cam,
               std::string("cannot write ") + cam.strRelative + ": " + std::strerror(nErrno ? nErrno : EIO),
               false);
}

bool CPcRecorder::EnsureSpace(bool bAfterFailure)
{
    // After a failed write the reserve alone is not enough: the write wanted more than was left.
    const std::int64_t llThreshold = m_settings.llReserveBytes + (bAfterFailure ? RESUME_MARGIN : 0);
    const std::int64_t llFree = m_fnFreeSpace(m_settings.strFolder);
    if (llFree >= llThreshold)
        return true;
    if (!m_settings.rule.HasLimit())
        return false;
    ApplyRetention(m_settings.llReserveBytes + RESUME_MARGIN - llFree);
    return m_fnFreeSpace(m_settings.strFolder) >= llThreshold;
}

void CPcRecorder::ApplyRetention(std::int64_t llNeedBytes)
{
    if (!m_settings.rule.HasLimit())
        return;
    std::vector<PcSegment> vecAll = m_index.Segments("", INT64_MIN, INT64_MAX);
    const std::set<std::string> setActive = ActivePaths();
    for (PcSegment& s : vecAll)
        s.bWriting = s.bWriting || setActive.count(s.strPath) != 0;
    const std::vector<std::int64_t> vecIDs =
        ChooseForDeletion(vecAll, m_settings.rule, m_fnClock(), std::max<std::int64_t>(0, llNeedBytes));
    const fs::path folder(m_settings.strFolder);
    for (const std::int64_t llID : vecIDs) {
        for (const PcSegment& s : vecAll) {
            if (s.llID != llID)
                continue;
            std::error_code ec;
            const fs::path path = folder / s.strPath;
            if (!fs::remove(path, ec) && fs::exists(path, ec)) {
                VLOG(1, "CPcRecorder: cannot delete %s: %s", path.c_str(), ec.message().c_str());
                break;
            }
            m_index.RemoveSegment(llID);
            // The day's and the camera's folders go with their last file.
            fs::remove(path.parent_path(), ec);
            fs::remove(path.parent_path().parent_path(), ec);
            VLOG(3, "CPcRecorder: %s deleted by the retention rule", s.strPath.c_str());
            break;
        }
    }
}

void CPcRecorder::Tick()
{
    if (!m_bStarted)
        return;
    const std::int64_t llNow = m_fnClock();
    for (auto& [dwID, pCam] : m_mapCameras) {
        Cam& cam = *pCam;
        if (cam.info.enState == PcRecState::RECORDING && llNow - cam.llLastArrival > STREAM_GAP_MS)
            CloseSegment(cam, false);
    }
    bool bFull = false;
    if (m_fnFreeSpace(m_settings.strFolder) < m_settings.llReserveBytes && !EnsureSpace(false)) {
        bFull = true;
        for (auto& [dwID, pCam] : m_mapCameras) {
            if (pCam->info.enState != PcRecState::STOPPED)
                StopCamera(*pCam, "the disk of " + m_settings.strFolder + " is full", true);
        }
    }
    for (auto& [dwID, pCam] : m_mapCameras) {
        Cam& cam = *pCam;
        if (bFull || cam.info.enState != PcRecState::STOPPED || llNow < cam.llRetryAt)
            continue;
        if (m_fnFreeSpace(m_settings.strFolder) < m_settings.llReserveBytes + RESUME_MARGIN) {
            cam.llRetryAt = llNow + 1000;
            continue;
        }
        cam.info.enState = PcRecState::WAITING;
        cam.info.strMessage.clear();
        // Segments the index could not take while the disk was full are in the folder.
        m_index.Sync(ActivePaths());
        VLOG(1, "CPcRecorder: recording of %s goes on", cam.info.strSerial.c_str());
        if (m_fnEvent)
            m_fnEvent(cam.info, "recording of " + cam.info.strSerial + " goes on");
    }
    if (llNow - m_llLastUpdate >= 5000) {
        // The timeline shows the segments being written as far as they go.
        m_llLastUpdate = llNow;
        m_index.Begin(); // one write of the index for all cameras
        for (auto& [dwID, pCam] : m_mapCameras) {
            Cam& cam = *pCam;
            if (cam.info.enState == PcRecState::RECORDING)
                m_index.UpdateSegment(cam.llSegmentID, cam.llStartMs + cam.writer.EndMicros() / 1000,
                                      FileBytes((fs::path(m_settings.strFolder) / cam.strRelative).string()),
                                      cam.writer.VideoFrames(), false);
        }
        m_index.Commit();
    }
    if (llNow - m_llLastRetention >= 10000) {
        m_llLastRetention = llNow;
        ApplyRetention(0);
    }
}
