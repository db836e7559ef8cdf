// The PC recorder: the live frames of the cameras set to record go into segment files of one
// folder, with the folder's index and retention, and a full disk handled per camera.
//
// It is fed and driven from the GUI thread: OnFrame for every whole live frame (the media
// engine's tap), Tick about once a second. CPcRecordingSource ties it to the engine and holds
// the cameras' live streams.
#pragma once

#include "pcrec/pcrecindex.h"
#include "pcrec/retention.h"
#include "pcrec/segmentwriter.h"
#include "platform/wintypes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct MediaFrame;

struct PcRecSettings {
    std::string strFolder;
    int nSegmentSeconds = 600;
    RetentionRule rule;
    // Free space the recorder leaves on the disk; below it the rule may make room, else the
    // cameras stop until there is room again.
    std::int64_t llReserveBytes = std::int64_t{256} << 20;
};

enum class PcRecState {
    WAITING, // for a key frame (the start, after a gap or a resume)
    RECORDING,
    STOPPED, // the disk is full or the folder cannot be written; retried
};

struct PcRecCamera {
    DWORD dwID = 0;
    std::string strSerial; // as in file names
    std::string strName;   // UTF-8, kept in the index so that the recordings outlive the camera
    PcRecState enState = PcRecState::WAITING;
    std::string strMessage;    // why it stopped
    bool bStoppedFull = false; // it stopped on a full disk at some point
    std::int64_t llSegments = 0;
    std::int64_t llFrames = 0;
    std::int64_t llAudioFrames = 0;
    std::int64_t llStreamBytes = 0;   // video and sound as the camera sent them, into segments
    std::int64_t llDroppedFrames = 0; // out of order, or before the codec's headers
    std::int64_t llGaps = 0;
};

class CPcRecorder {
public:
    // No frame for this long ends the segment: the camera went away or the network did.
    static constexpr std::int64_t STREAM_GAP_MS = 3000;
    // Free space beyond the reserve before a stopped camera goes on.
    static constexpr std::int64_t RESUME_MARGIN = std::int64_t{4} << 20;

    using ClockFun = std::function<std::int64_t()>;                       // UTC milliseconds
    using FreeSpaceFun = std::function<std::int64_t(const std::string&)>; // bytes free for the folder
    // A camera stopped or went on: its serial and the text for the user.
    using EventFun = std::function<void(const PcRecCamera&, const std::string& strText)>;

    explicit CPcRecorder(PcRecSettings settings);
    ~CPcRecorder();
    CPcRecorder(const CPcRecorder&) = delete;
    CPcRecorder& operator=(const CPcRecorder&) = delete;

    void SetClock(ClockFun fn) { m_fnClock = std::move(fn); }
    void SetFreeSpace(FreeSpaceFun fn) { m_fnFreeSpace = std::move(fn); }
    void SetEventHandler(EventFun fn) { m_fnEvent = std::move(fn); }

    // Opens the folder's index (adopting what an earlier run left) and applies the rule.
    bool Start(std::string& strError);
    // Closes every segment.
    void Stop();

    void AddCamera(DWORD dwID, const std::string& strSerial, const std::string& strName = {});
    void RemoveCamera(DWORD dwID);
    bool IsRecording(DWORD dwID) const { return m_mapCameras.count(dwID) != 0; }
    const PcRecCamera* Camera(DWORD dwID) const;
    std::vector<PcRecCamera> Cameras() const;

    void OnFrame(const MediaFrame& frame);
    void Tick();

    CPcRecIndex& Index() { return m_index; }
    const PcRecSettings& Settings() const { return m_settings; }

private:
    struct Cam;
    void OpenSegment(Cam& cam, const BYTE* pData, std::size_t nLen, std::int64_t llCamMicros,
                     std::int64_t llNow);
    void CloseSegment(Cam& cam, bool bContinues);
    void StopCamera(Cam& cam, const std::string& strText, bool bFull);
    void WriteFailed(Cam& cam);
    // Room for the reserve, by the rule if need be; false when there is none.
    bool EnsureSpace(bool bAfterFailure);
    void ApplyRetention(std::int64_t llNeedBytes);
    std::set<std::string> ActivePaths() const;

    PcRecSettings m_settings;
    CPcRecIndex m_index;
    std::map<DWORD, std::unique_ptr<Cam>> m_mapCameras;
    ClockFun m_fnClock;
    FreeSpaceFun m_fnFreeSpace;
    EventFun m_fnEvent;
    std::int64_t m_llLastUpdate = 0;
    std::int64_t m_llLastRetention = 0;
    bool m_bStarted = false;
};
