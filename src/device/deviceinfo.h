// The record of one camera: its latest search reply, every settings group fetched from it
// with a received-flag each, its password state and the counters of the media and download
// paths.
//
// Records are owned by the device manager (single cameras and recorders) or by their
// recorder (channels), live until the device manager goes, and are read and written only on
// the user-interface thread. The settings groups that only the pages read are kept as the
// reply records the engines deliver.
#pragma once

#include "platform/wintypes.h"
#include "protocol/lancmd.h"
#include "protocol/password.h"
#include "protocol/viewerrecords.h"

#include <memory>
#include <string>
#include <vector>

// Kinds of device; look-ups take a mask of them.
enum : DWORD {
    CAMERA_TYPE_SINGLE = 1, // a camera on its own
    CAMERA_TYPE_PARENT = 2, // a recorder with channels; no video of its own
    CAMERA_TYPE_CHILD = 4,  // a channel behind a recorder
};
// Devices that answer searches and LAN queries themselves.
constexpr DWORD CAMERA_MASK_TOP = CAMERA_TYPE_SINGLE | CAMERA_TYPE_PARENT;
// Devices that have video, settings and recordings.
constexpr DWORD CAMERA_MASK_VIDEO = CAMERA_TYPE_SINGLE | CAMERA_TYPE_CHILD;
constexpr DWORD CAMERA_MASK_CHILD = CAMERA_TYPE_CHILD;
constexpr DWORD CAMERA_MASK_ALL = CAMERA_TYPE_SINGLE | CAMERA_TYPE_PARENT | CAMERA_TYPE_CHILD;

// Kind from a search item's child count: none, some, or the channel mark -1.
DWORD CameraTypeFromChildCount(LONG nChildCount);

// Camera families of CameraType.ini (dwCameraUIType).
enum : DWORD {
    CAMERA_UI_NONE = 0,
    CAMERA_UI_TYPE_D = 1,
    CAMERA_UI_TYPE_M = 2,
    CAMERA_UI_TYPE_HD = 3,
};

// Which groups have been answered. Cleared as one block: a device that went away, or whose
// live view ended, is asked again for everything.
struct DeviceQueryBlock {
    BYTE bCmdGetVolume;
    BYTE bCmdGetSensor;
    BYTE bCmdGetVersion;
    BYTE bCmdGetDServerIP;
    BYTE bCmdGetUpnpStatus;
    BYTE bCmdGetPreset;
    BYTE bCmdGetAutoScan;
    BYTE bCmdAutoScanSchedule;
    BYTE bCmdGetSensorUnknown;
    BYTE bCmdGetT9QY;
    BYTE bCmdGetT9QX;
    BYTE bCmdGetVideoReport;
    BYTE bCmdGetCameraPort;
    BYTE bCmdGetNetParam;
    BYTE bHasWifi; // copy of the search item's flag
    BYTE bCmdGetWirelessParam;
    BYTE bHas3G; // copy of the search item's flag
    BYTE bCmdGet3GQuery;
    BYTE bCmdGet3GStatus;
    BYTE bCmdGetTimeFormat;
    BYTE bCmdGetNTP;
    BYTE bCmdGetMotion;
    BYTE bCmdGetSnapshotServer;
    BYTE bCmdGetMailInfo;
    BYTE bCmdGetDoInfo;
    BYTE bCmdGetAlarmTime;
    BYTE bCmdGetRecordSD;
    BYTE bCmdGetSDInfo;
    BYTE bCmdGetRecordNas;
    LONG nQueryPass; // passes of the basic queries made so far
};

struct MicrophoneInfo {
    DWORD dwID;
    BYTE bMicrophoneType;
    BYTE bVolMicrophone; // 0 to 100
    BYTE bVolSpeaker;
    DWORD bMicEnable;
    DWORD bSpkEnable;

    // Level-5 dump.
    void PrintInfo() const;
};

struct DeviceInfo {
    DeviceInfo() = default;
    ~DeviceInfo();
    DeviceInfo(const DeviceInfo&) = delete;
    DeviceInfo& operator=(const DeviceInfo&) = delete;

    // 1. The latest search reply, copied whole (its child and parent pointers point into the
    // viewer engine's search items, which live as long as the process).
    SearchItem stItem{};

    // 2. Capability reply: dwCameraType, dwCameraSubType and dwCameraUIType among it.
    SensorCapInfo stSensorCap{};
    // 3. 9P031 sensor settings, then 9900 sensor settings.
    BYTE bT9QXMode = 0;
    BYTE bT9QXFreq = 0;
    BYTE bT9QXVertical = 0;
    BYTE bT9QXHorizontal = 0;
    BYTE bT9QXSharpness = 0;
    BYTE bT9QXTargetY = 0;
    BYTE bT9QK = 0;
    BYTE bT9QL = 0;
    BYTE bT9QM = 0;
    BYTE bT9QN = 0;
    // 4. Video report.
    SensorT9QXInfo stVideoReport{};
    // 5. D-server.
    DServerRecord stDServer{};
    // 6. UPnP state.
    UpnpInfo stUpnp{};
    // 7. Preset list: the viewer engine's per-camera record (not owned).
    const PresetInfo* pPresetInfo = nullptr;
    // 8. Patrol schedule.
    AutoScanSchedule stAutoScanSchedule{};
    // 9. Camera ports.
    PortInfo stPort{};
    // 10. Network parameters (the wired-network page edits this copy and sends it back).
    NetParamRecord stNetParam{};
    // 11. The LAN engine's Wi-Fi and 3G settings records of this camera (not owned; a Wi-Fi
    // record may be reallocated by the camera's next Wi-Fi reply, which sets this again).
    const WifiRecord* pWifiRecord = nullptr;
    const ThreeGRecord* pThreeGRecord = nullptr;
    // 12. 3G status.
    ThreeGStatus st3GStatus{};
    // 13. - 21.
    NtpInfo stNtp{};
    MotionInfo stMotion{};
    SnapshotServerInfo stSnapshotServer{};
    MailInfo stMail{};
    DoInfo stDo{};
    AlarmTimeInfo stAlarmTime{};
    RecordInfo stRecordSD{};
    SDInfo stSDInfo{};
    RecordInfo stRecordNas{};

    // 22. - 23.
    DWORD enCameraType = 0;
    std::vector<std::unique_ptr<DeviceInfo>> vecChildren; // channels, in the order first seen

    // 24. - 25.
    char szVersion[16] = {}; // zero-ended
    BYTE bScanning = 0;
    BYTE bTimeFormat = 0;
    WORD usMsVersion = 0; // record-time protocol version the camera reported
    DWORD dwCameraVideoStatus = 0;
    BYTE bIsExist = 0;

    // 26. - 27.
    DeviceQueryBlock stQuery{};
    BYTE bWifiRescanPending = 0;

    // 28.
    PasswordInfo stPassword{};

    // 29. Recording time range on the SD card.
    BYTE bRecordTimeValid = 0;
    DWORD dwRecordTimeStart = 0;
    DWORD dwRecordTimeEnd = 0;

    // 30.
    MicrophoneInfo stMicrophone{};

    // 31. Media path: what to send and play, the frame and byte counts of the current and
    // the previous second, the caption and waiting-text switches of the video pane.
    BYTE bSpeakToCam = 0;
    BYTE bListenFromCam = 0;
    DWORD dwFrameCount = 0;
    DWORD dwByteCount = 0;
    DWORD dwLastFrameCount = 0;
    DWORD dwLastByteCount = 0;
    BYTE bNoCaption = 0;
    BYTE bShowWaiting = 0;
    // Set when a search reply brings the camera from an address other than the stored one:
    // its live stream may now take another path, and the media engine then sends start video
    // again. Cleared by the media engine.
    BYTE bChangeIp = 0;
    // Path of the camera's last live frame: 1 unicast, 0 multicast, -1 none yet.
    int nMediaPath = -1;
    // Download path: the range asked for, the media time of the last frame written in order,
    // the bytes received (KiB and remainder) and the next send sequence expected.
    DWORD dwDownloadStart = 0;
    DWORD dwDownloadEnd = 0;
    DWORD dwReceiveTime = 0;
    DWORD dwReceiveKB = 0;
    DWORD dwReceiveRemainder = 0;
    DWORD dwMaxContinuousAck = 0;

    DWORD GetID() const { return stItem.dwDVIPID; }
    const char16_t* GetName() const { return stItem.szName; }
    const char* GetSerial() const { return stItem.szSerial; }
    // The camera encodes HD (the resolution lists offer it): bit 16 of the second word of its
    // capability report.
    bool SupportsHD() const { return stSensorCap.bCapBit16 != 0; }
    DWORD GetReceiveTime() const { return dwReceiveTime; }
    DWORD GetMaxContinuousAck() const { return dwMaxContinuousAck; }
    DWORD GetReceiveData() const { return dwReceiveKB; }

    // Copies a search reply into the record: the item itself, the Wi-Fi and 3G copies, the
    // password source (a channel's is its recorder's item) and the kind; then the level-4
    // dump. Children are the device manager's business.
    void CopyItem(const SearchItem& item);

    // Clears the 29 query flags and the pass counter together. The Wi-Fi and 3G copies are
    // taken again from the stored search item: they describe the camera, not a reply, and a
    // cleared copy would skip the Wi-Fi and 3G queries until the next search reply.
    void ClearQueryBlock();

    // Level-4 dump of the identity and password fields, secrets masked.
    void PrintInfo() const;
};

// The device's name in the ANSI code page, at most 31 bytes: the sort key of the device lists.
std::string DeviceSortName(const DeviceInfo& device, UINT uCodePage);
