// The device manager: the single owner of what the client knows about cameras.
//
// It runs the search cycle, keeps one DeviceInfo per camera (recorders own their channels),
// decides when a camera is gone, asks each present camera step by step for its settings,
// keeps the set of cameras being watched (each with its own play type, start-video request and
// heartbeat) and the one of them that is selected (the focused one: the information pane, the
// configuration pages and audio act on it). Camera replies arrive as messages on its hidden window
// "DeviceMangager", its timers drive the cycle, and what changed goes out on the
// notification bus. Everything runs on the user-interface thread.
#pragma once

#include "core/windowsmanage.h"
#include "device/deviceinfo.h"
#include "platform/wintypes.h"
#include "protocol/engoffcmd.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CNotifyManager;
class IDeviceEngines;
class IDownloadRecordManager;
struct GroupReply; // a row of the regular replies' table (devicemanager.cpp)

// Play types of the selection.
enum : DWORD {
    PLAY_TYPE_NONE = 0,
    PLAY_TYPE_REALTIME = 1,     // live view
    PLAY_TYPE_PLAYBACK = 2,     // playback of the SD recordings
    PLAY_TYPE_PLAYBACK_OPT = 3, // playback, second kind
};

// The video heartbeat repeats every watched camera's start-video request this often (ms); a
// camera stops a stream whose heartbeat lapses.
constexpr DWORD VIDEO_HEARTBEAT_PERIOD = 20000;

// Video status of a start-video reply (0: streaming).
enum : DWORD {
    VIDEO_STATUS_INTERNET_MODE = 1,
    VIDEO_STATUS_BUSY = 2,
    VIDEO_STATUS_PASSWORD = 3, // the token of the stored password was refused
    VIDEO_STATUS_RECORD_OCCUPIED = 4,
};

// Stream type of the start-video request for a play type (1, 2, 3 -> 0, 1, 2); any other
// play type is a fatal check.
BYTE StreamTypeOfPlayType(DWORD enPlayType);

// Window messages of the engine replies.
enum : UINT {
    DM_MSG_USER_SCAN = 0x8001,
    DM_MSG_SCAN_FINISH = 0x8002,
    DM_MSG_START_VIDEO = 0x8003,
    DM_MSG_VIDEO_SEQUENCE = 0x8004,
    DM_MSG_GET_VOLUME = 0x8005,
    DM_MSG_SENSOR_CAP = 0x800B,
    DM_MSG_VERSION = 0x800C,
    DM_MSG_DSERVER = 0x800D,
    DM_MSG_UPNP = 0x800E,
    DM_MSG_NETWORK_EXTEND = 0x800F,
    DM_MSG_PRESET = 0x8014,
    DM_MSG_AUTOSCAN_STATE = 0x8015,
    DM_MSG_AUTOSCAN_SCHEDULE = 0x8016,
    DM_MSG_SENSOR_9900 = 0x8017,
    DM_MSG_SENSOR_9P031 = 0x8018,
    DM_MSG_SENSOR_T9QX = 0x8019,
    DM_MSG_PORT = 0x801F,
    DM_MSG_NETPARAM = 0x8020,
    DM_MSG_WIFI = 0x8021,
    DM_MSG_3G_QUERY = 0x8022,
    DM_MSG_3G_STATUS = 0x8023,
    DM_MSG_TIME_FORMAT = 0x8029,
    DM_MSG_NTP = 0x802A,
    DM_MSG_MOTION = 0x8033,
    DM_MSG_SNAPSHOT_SERVER = 0x8034,
    DM_MSG_MAIL = 0x8035,
    DM_MSG_DO = 0x8036,
    DM_MSG_ALARM_TIME = 0x8037,
    DM_MSG_RECORD_SD = 0x803D,
    DM_MSG_SD_INFO = 0x803E,
    DM_MSG_RECORD_NAS = 0x8047,
    DM_MSG_RECORD_DATES = 0x8051,
    DM_MSG_RECORD_REPLY_21 = 0x8052,
    DM_MSG_RECORD_REPLY_23 = 0x8053,
    DM_MSG_RECORD_FINISH = 0x8054,
    DM_MSG_RECORD_TIME_RANGE = 0x8055,
};

using DeviceMap = std::map<DWORD, DeviceInfo*>;
using SortedDeviceMap = std::multimap<std::string, DeviceInfo*>;

class IDeviceManager {
public:
    // Operations in slot order.
    virtual const DeviceMap& GetDevices() const = 0;
    virtual void GetAllSortedDevices(SortedDeviceMap& mapSorted) = 0;
    virtual bool HasValidDevice() const = 0;
    virtual void SearchDevices(DWORD dwTimer) = 0;
    virtual void ReSearchDevices() = 0;
    virtual void SelectDevice(DWORD dwID, DWORD dwCameraType, DWORD enPlayType) = 0;
    virtual void CancelSelectDevice() = 0;
    virtual DeviceInfo* GetSelectDevice() const = 0;
    virtual DWORD GetPlayType() const = 0;
    // pszSerial: 20 bytes, compared raw.
    virtual DeviceInfo* GetDevice(const char* pszSerial, DWORD dwMask) const = 0;
    virtual DeviceInfo* GetDevice(DWORD dwID, DWORD dwMask) const = 0;
    virtual DeviceInfo* GetParentDevice(DWORD dwID) const = 0;
    virtual void GetNetworkExtendInfo() = 0;
    virtual void SetPassword(const BYTE (&pbPassword)[PASSWORD_LEN]) = 0;
    virtual void GetAllRecordInfo() = 0;
    virtual void GetRecordInfo(DeviceInfo* pDevice) = 0;
    virtual void GetRecordInfo(DWORD dwID) = 0;
    virtual void ReScanWifi() = 0;
    // Watches a camera or a recorder channel: its start-video request goes out now with its own
    // play type (PLAY_TYPE_*), and the video heartbeat (every VIDEO_HEARTBEAT_PERIOD, 20 s) keeps it
    // flowing. Watching a watched camera again changes nothing on the wire (no second start).
    virtual void WatchDevice(DWORD dwID, DWORD dwCameraType, DWORD enPlayType) = 0;
    // Stops watching. bStopNow: the stop-video request (and audio stop) goes out at once;
    // otherwise only its heartbeat ends and the camera's stream lapses by itself (hidden panes).
    virtual void UnwatchDevice(DWORD dwID, bool bStopNow) = 0;
    virtual bool IsWatched(DWORD dwID) const = 0;
    // Play type of a watched camera, PLAY_TYPE_NONE when it is not watched.
    virtual DWORD GetWatchedPlayType(DWORD dwID) const = 0;
    // Some camera is watched (the media sockets take media only then, or for a download).
    virtual bool HasWatchedDevice() const = 0;
    // A background consumer (a recorder, a bridge to other programs) holds a camera's live
    // stream whatever the panes do. Holds are counted; the first starts live video unless the
    // camera is watched already (a pane's playback goes first), and while any hold remains,
    // unwatching it leaves the live stream on.
    virtual void HoldLive(DWORD dwID, DWORD dwCameraType) = 0;
    // The last release with no pane or selection left is UnwatchDevice(dwID, bStopNow).
    virtual void ReleaseLive(DWORD dwID, bool bStopNow) = 0;
    virtual ~IDeviceManager() = default;
};

// What the manager is built with; null members take the process-wide objects.
struct DeviceManagerDeps {
    IDeviceEngines* pEngines = nullptr;
    CNotifyManager* pNotify = nullptr;
    CWindowsManage* pWindows = nullptr;
    // Null: the download manager registered at start-up (GetDownloadRecordManager).
    IDownloadRecordManager* pDownloads = nullptr;
    // 0: the code page of the current language.
    UINT uAnsiCodePage = 0;
};

class CDeviceManager : public IDeviceManager, public IWndProcSink, public ILanDeviceLookup {
public:
    explicit CDeviceManager(const DeviceManagerDeps& deps = DeviceManagerDeps());
    ~CDeviceManager() override;
    CDeviceManager(const CDeviceManager&) = delete;
    CDeviceManager& operator=(const CDeviceManager&) = delete;

    // IDeviceManager
    const DeviceMap& GetDevices() const override { return m_mapDevices; }
    void GetAllSortedDevices(SortedDeviceMap& mapSorted) override;
    bool HasValidDevice() const override;
    void SearchDevices(DWORD dwTimer) override;
    void ReSearchDevices() override;
    void SelectDevice(DWORD dwID, DWORD dwCameraType, DWORD enPlayType) override;
    void CancelSelectDevice() override;
    DeviceInfo* GetSelectDevice() const override { return m_pDevice; }
    DWORD GetPlayType() const override { return m_enPlayType; }
    DeviceInfo* GetDevice(const char* pszSerial, DWORD dwMask) const override;
    DeviceInfo* GetDevice(DWORD dwID, DWORD dwMask) const override;
    DeviceInfo* GetParentDevice(DWORD dwID) const override;
    void GetNetworkExtendInfo() override;
    void SetPassword(const BYTE (&pbPassword)[PASSWORD_LEN]) override;
    void GetAllRecordInfo() override;
    void GetRecordInfo(DeviceInfo* pDevice) override;
    void GetRecordInfo(DWORD dwID) override;
    void ReScanWifi() override;
    void WatchDevice(DWORD dwID, DWORD dwCameraType, DWORD enPlayType) override;
    void UnwatchDevice(DWORD dwID, bool bStopNow) override;
    bool IsWatched(DWORD dwID) const override { return m_mapWatched.count(dwID) != 0; }
    DWORD GetWatchedPlayType(DWORD dwID) const override;
    bool HasWatchedDevice() const override { return !m_mapWatched.empty(); }
    void HoldLive(DWORD dwID, DWORD dwCameraType) override;
    void ReleaseLive(DWORD dwID, bool bStopNow) override;

    // IWndProcSink
    void OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

    // ILanDeviceLookup: the LAN senders' targets (single cameras and recorders).
    bool FindLanDeviceBySerial(const char* pszSerial, LanDeviceRoute& route) override;
    bool FindLanDeviceByID(DWORD dwDVIPID, LanDeviceRoute& route) override;

    // A camera wrote new firmware and reboots (the upgrade's listeners call this). When it is
    // the current device its groups are asked again: the new firmware may answer otherwise.
    void OnFirmwareWritten(const char* pszSerial);

    HWND GetWindow() const { return m_hWnd; }
    DWORD GetSearchPeriod() const { return dwTimer; }

    // The work of one timer; ids outside 5 ... 11 and 8 are fatal checks.
    void HandleTimer(UINT uTimerID);
    // Presence check of one device: clears the marks of the paths that went quiet and, when
    // none is left, reports the device gone.
    void CheckExistCmd(DeviceInfo* pDevice);
    // One pass of the basic queries for one device (at most four per presence cycle).
    void CheckBasicCmd(DeviceInfo* pDevice);
    // Copies a search item into a record, creating and filling the channels' records.
    void CopyItemToDevice(DeviceInfo* pDevice, const SearchItem& item);

private:
    using ReplyHandler = void (CDeviceManager::*)(WPARAM wParam, LPARAM lParam);

    // One watched camera. The selected camera is always watched; the play type on the wire is
    // the selection's while it is selected, else the one WatchDevice asked for.
    struct WatchedVideo {
        DWORD dwCameraType = 0;
        // What WatchDevice asked for; PLAY_TYPE_NONE: the selection or the holds alone watch it.
        DWORD enWatchPlayType = PLAY_TYPE_NONE;
        int nLiveHolds = 0;
        // What the panes and holds ask for, the selection aside.
        DWORD PlayType() const
        {
            return enWatchPlayType != PLAY_TYPE_NONE ? enWatchPlayType
                   : nLiveHolds > 0                  ? DWORD{PLAY_TYPE_REALTIME}
                                                     : DWORD{PLAY_TYPE_NONE};
        }
    };

    // The first device in list order (single cameras and recorders, each followed by its
    // channels) that matches.
    template <typename Matches> DeviceInfo* FindDevice(const Matches& matches) const;
    void RegisterReplies();
    // Start and stop video of one camera with a play type: the requests and notifications 161
    // and 162.
    void StartVedio(DeviceInfo* pDevice, DWORD enPlayType);
    void StopVedio(DeviceInfo* pDevice, DWORD enPlayType);
    void SendSearch();
    void Notify(DWORD dwNotifyID, UINT_PTR dwParam);
    bool IsSelected(const DeviceInfo* pDevice) const { return pDevice != nullptr && pDevice == m_pDevice; }
    // The device a reply is for, by id or serial; none: the reply is dropped with a level-2
    // line naming the handler.
    DeviceInfo* ReplyDevice(const char* pszHandler, DWORD dwID, DWORD dwMask) const;
    DeviceInfo* ReplyDevice(const char* pszHandler, const char* pszSerial, DWORD dwMask) const;
    // The regular reply (a row of the table in devicemanager.cpp): the camera it names is
    // looked up, what it carries stored, its query flag set, and the selected camera's
    // listeners hear of it.
    void OnGroupReply(const GroupReply& reply, WPARAM wParam, LPARAM lParam);
    // What is registered for row nRow of that table.
    template <std::size_t nRow> void OnGroupReplyRow(WPARAM wParam, LPARAM lParam);
    IDownloadRecordManager* GetDownloads() const;
    UINT GetAnsiCodePage() const;
    void FillRoute(const DeviceInfo& device, LanDeviceRoute& route) const;
    void TraceQueryFlags(const DeviceInfo& device) const;
    // A camera locked out: it refused the stored password's token and its check value no
    // longer matches that password. Before a search reply: the device and its channels that are.
    static std::vector<DeviceInfo*> LockedOut(DeviceInfo& device);
    // After the reply: those whose check value matches the stored password again have their
    // refusal cleared; true when there was one.
    static bool PasswordTakenBack(const std::vector<DeviceInfo*>& vecLocked);

    // Reply handlers of their own, by window message; the regular replies have OnGroupReply.
    void OnCmdUserScan(WPARAM wParam, LPARAM lParam);
    void OnCmdScanFinish(WPARAM wParam, LPARAM lParam);
    void OnCmdStartVideo(WPARAM wParam, LPARAM lParam);
    void OnCmdVideoSequenceChanged(WPARAM wParam, LPARAM lParam);
    void OnCmdGetSensorCap(WPARAM wParam, LPARAM lParam);
    void OnCmdGetNetworkExtend(WPARAM wParam, LPARAM lParam);
    void OnCmdAutoScanSchedule(WPARAM wParam, LPARAM lParam);
    void OnCmdGetSensor_9900(WPARAM wParam, LPARAM lParam);
    void OnCmdGetSensor_9P031(WPARAM wParam, LPARAM lParam);
    void OnCmdGetSensorT9QX(WPARAM wParam, LPARAM lParam);
    void OnCmdGetWifi(WPARAM wParam, LPARAM lParam);
    void OnCmdRecordNoAction(WPARAM wParam, LPARAM lParam);
    void OnCmdGetRecordFinish(WPARAM wParam, LPARAM lParam);
    void OnCmdGetRecordTimeRange(WPARAM wParam, LPARAM lParam);

    // Fields in the design's order.
    DeviceMap m_mapDevices; // single cameras and recorders, owned
    // Every reply looks its device up; with a thousand cameras a scan of the list per reply was
    // most of the steady load. Devices (channels too) keep their id and live as long as the
    // manager: every one is indexed by id when it is made. A serial can change, so the serial
    // cache is checked on every hit and a miss scans.
    std::unordered_multimap<DWORD, DeviceInfo*> m_mapByID;
    mutable std::unordered_map<std::string, DeviceInfo*> m_mapSerialCache;
    DeviceInfo* m_pDevice = nullptr;
    HWND m_hWnd = nullptr;
    DWORD dwTimer = 0;
    DWORD m_enPlayType = PLAY_TYPE_NONE;
    // When searching was (re)started; presence is not judged in the 10 s after it.
    DWORD m_dwSearchTick = 0;
    std::map<UINT, ReplyHandler> m_mapHandlers;
    // The watched cameras by id, the selected one among them.
    std::map<DWORD, WatchedVideo> m_mapWatched;

    std::unique_ptr<IDeviceEngines> m_pOwnEngines;
    IDeviceEngines* m_pEngines;
    CNotifyManager* m_pNotify;
    CWindowsManage* m_pWindows;
    IDownloadRecordManager* m_pDownloads;
    UINT m_uAnsiCodePage;
};

// The process-wide manager, created on first use (by the main window).
CDeviceManager* GetDeviceManager();
