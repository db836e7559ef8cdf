#include "device/devicemanager.h"

#include "core/language.h"
#include "core/log.h"
#include "core/notify.h"
#include "device/deviceengines.h"
#include "device/idownloadmanager.h"
#include "platform/codepage.h"
#include "platform/msgwindow.h"
#include "platform/ticks.h"
#include "protocol/mscmd.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <utility>

namespace {

constexpr const char* WINDOW_NAME = "DeviceMangager";
constexpr DWORD CHECK_DEVICES_PERIOD = 1000;
constexpr DWORD DOWNLOAD_HEARTBEAT_PERIOD = 20000;
constexpr DWORD RECORD_TICK_PERIOD = 1000;
constexpr DWORD CAMINFO_REFRESH_PERIOD = 10000;
// No presence verdict this soon after searching started: the answers are still coming.
constexpr DWORD SEARCH_SETTLE_TIME = 10000;
constexpr LONG MAX_QUERY_PASSES = 4;
constexpr BYTE MAX_MICROPHONE_VOLUME = 100;
// Sensor setting reads: sub-command 1 with the sensor's control number.
constexpr BYTE SENSOR_SUBCOMMAND_READ = 1;
constexpr BYTE SENSOR_CONTROL_9900 = 8;
constexpr BYTE SENSOR_CONTROL_9P031 = 13;
constexpr DWORD AUDIO_OPEN = 1;
constexpr DWORD AUDIO_FLAGS_STOP = 1;

// Word i (0-based) of a reply kept in network byte order.
DWORD ReadNetworkWord(const BYTE* pData, int nIndex)
{
    const BYTE* p = pData + 4 * nIndex;
    return (DWORD(p[0]) << 24) | (DWORD(p[1]) << 16) | (DWORD(p[2]) << 8) | p[3];
}

BYTE ByteOf(DWORD dwWord, int nShift)
{
    return static_cast<BYTE>(dwWord >> nShift);
}

// Where a sensor setting read's reply carries each setting: the word (0: the reply's second)
// and the shift of the setting's byte in it.
struct SensorByte {
    BYTE DeviceInfo::*pField;
    int nWord;
    int nShift;
};
constexpr SensorByte kSensor9900Bytes[] = {{&DeviceInfo::bT9QK, 0, 8},
                                           {&DeviceInfo::bT9QL, 0, 16},
                                           {&DeviceInfo::bT9QM, 0, 24},
                                           {&DeviceInfo::bT9QN, 1, 0}};
constexpr SensorByte kSensor9P031Bytes[] = {
    {&DeviceInfo::bT9QXMode, 0, 8},      {&DeviceInfo::bT9QXFreq, 0, 16},
    {&DeviceInfo::bT9QXVertical, 0, 24}, {&DeviceInfo::bT9QXHorizontal, 1, 0},
    {&DeviceInfo::bT9QXSharpness, 1, 8}, {&DeviceInfo::bT9QXTargetY, 2, 0}};

// Stores a sensor setting read's reply (five words in network byte order). Only the answer to
// our own read echoes the value it carried; any other stores nothing and returns false.
template <std::size_t N>
bool StoreSensorRead(DeviceInfo& device, const BYTE* pData, const SensorByte (&aBytes)[N])
{
    if (ByteOf(ReadNetworkWord(pData, 1), 0) != SENSOR_READ_VALUE)
        return false;
    for (const SensorByte& setting : aBytes)
        device.*setting.pField = ByteOf(ReadNetworkWord(pData, 1 + setting.nWord), setting.nShift);
    return true;
}

template <typename T> const T* RecordOf(LPARAM lParam)
{
    FATAL_CHECK(lParam != 0);
    return reinterpret_cast<const T*>(lParam);
}

bool IsParent(const DeviceInfo* pDevice)
{
    return pDevice->enCameraType == CAMERA_TYPE_PARENT;
}
bool IsChild(const DeviceInfo* pDevice)
{
    return pDevice->enCameraType == CAMERA_TYPE_CHILD;
}

} // namespace

BYTE StreamTypeOfPlayType(DWORD enPlayType)
{
    switch (enPlayType) {
    case PLAY_TYPE_REALTIME:
        return 0;
    case PLAY_TYPE_PLAYBACK:
        return 1;
    case PLAY_TYPE_PLAYBACK_OPT:
        return 2;
    default:
        FATAL_CHECK(false, "play type %u", static_cast<unsigned>(enPlayType));
    }
}

CDeviceManager::CDeviceManager(const DeviceManagerDeps& deps)
    : m_pEngines(deps.pEngines), m_pNotify(deps.pNotify != nullptr ? deps.pNotify : GetNotifyManager()),
      m_pWindows(deps.pWindows != nullptr ? deps.pWindows : GetWindowsManage()),
      m_pDownloads(deps.pDownloads), m_uAnsiCodePage(deps.uAnsiCodePage)
{
    VLOG(3, "CDeviceManager::CDeviceManager: beg {");
    if (m_pEngines == nullptr) {
        m_pOwnEngines = std::make_unique<CDeviceEngines>();
        m_pEngines = m_pOwnEngines.get();
    }

    m_hWnd = m_pWindows->CreateMsgWindow(WINDOW_NAME, this);
    FATAL_CHECK(m_hWnd != nullptr);
    RegisterReplies();
    m_pEngines->SetLanDeviceLookup(this);

    m_dwSearchTick = GetTickCount();
    SetTimer(m_hWnd, TR_CHECK_DEVICES, CHECK_DEVICES_PERIOD);
    SetTimer(m_hWnd, TR_VIDEO_HEARTBEAT, VIDEO_HEARTBEAT_PERIOD);
    SetTimer(m_hWnd, TR_DOWNLOAD_HEARTBEAT, DOWNLOAD_HEARTBEAT_PERIOD);
    SetTimer(m_hWnd, TR_RECORD_TICK, RECORD_TICK_PERIOD);
    SetTimer(m_hWnd, TR_CAMINFO_REFLESH, CAMINFO_REFRESH_PERIOD);
    VLOG(3, "CDeviceManager::CDeviceManager: end }");
}

namespace {

struct ReplyRoute {
    UINT uMsg;
    DeviceEngine enEngine;
    BYTE byCode;
};

// Message, engine and the engine's response code of every reply the manager handles.
constexpr ReplyRoute kReplyRoutes[] = {
    {DM_MSG_USER_SCAN, DeviceEngine::Viewer, 8},
    {DM_MSG_SCAN_FINISH, DeviceEngine::Viewer, 0},
    {DM_MSG_START_VIDEO, DeviceEngine::Viewer, 10},
    {DM_MSG_VIDEO_SEQUENCE, DeviceEngine::Viewer, 55},
    {DM_MSG_GET_VOLUME, DeviceEngine::Viewer, 3},
    {DM_MSG_SENSOR_CAP, DeviceEngine::Viewer, 1},
    {DM_MSG_VERSION, DeviceEngine::Viewer, 12},
    {DM_MSG_DSERVER, DeviceEngine::Lan, 1},
    {DM_MSG_UPNP, DeviceEngine::Viewer, 30},
    {DM_MSG_NETWORK_EXTEND, DeviceEngine::Viewer, 42},
    {DM_MSG_PRESET, DeviceEngine::Viewer, 18},
    {DM_MSG_AUTOSCAN_STATE, DeviceEngine::Viewer, 50},
    {DM_MSG_AUTOSCAN_SCHEDULE, DeviceEngine::Viewer, 49},
    {DM_MSG_SENSOR_9900, DeviceEngine::Viewer, 56},
    {DM_MSG_SENSOR_9P031, DeviceEngine::Viewer, 57},
    {DM_MSG_SENSOR_T9QX, DeviceEngine::Viewer, 5},
    {DM_MSG_PORT, DeviceEngine::Viewer, 52},
    {DM_MSG_NETPARAM, DeviceEngine::Lan, 0},
    {DM_MSG_WIFI, DeviceEngine::Lan, 5},
    {DM_MSG_3G_QUERY, DeviceEngine::Lan, 7},
    {DM_MSG_3G_STATUS, DeviceEngine::Lan, 9},
    {DM_MSG_TIME_FORMAT, DeviceEngine::Viewer, 22},
    {DM_MSG_NTP, DeviceEngine::Viewer, 20},
    {DM_MSG_MOTION, DeviceEngine::Viewer, 28},
    {DM_MSG_SNAPSHOT_SERVER, DeviceEngine::Viewer, 58},
    {DM_MSG_MAIL, DeviceEngine::Viewer, 44},
    {DM_MSG_DO, DeviceEngine::Viewer, 47},
    {DM_MSG_ALARM_TIME, DeviceEngine::Viewer, 48},
    {DM_MSG_RECORD_SD, DeviceEngine::Viewer, 26},
    {DM_MSG_SD_INFO, DeviceEngine::Viewer, 39},
    {DM_MSG_RECORD_NAS, DeviceEngine::Viewer, 43},
    {DM_MSG_RECORD_DATES, DeviceEngine::RecordTime, 0},
    {DM_MSG_RECORD_REPLY_21, DeviceEngine::RecordTime, 1},
    {DM_MSG_RECORD_REPLY_23, DeviceEngine::RecordTime, 2},
    {DM_MSG_RECORD_FINISH, DeviceEngine::RecordTime, 3},
    {DM_MSG_RECORD_TIME_RANGE, DeviceEngine::RecordTime, 4},
};

// Where a regular reply carries what it stores, and how it names its camera.
enum class ReplyKey : BYTE {
    IdInRecord,      // lParam: the record, which holds the camera's id
    SerialInRecord,  // lParam: the record, which holds the camera's serial
    IdInWParam,      // lParam: the record; wParam: the camera's id
    IdInLParam,      // wParam: the record; lParam: the camera's id
    ValueIdInLParam, // wParam: a value; lParam: the camera's id
};

// A regular reply as read from its two parameters.
struct ReplyView {
    const void* pRecord; // null for a value
    WPARAM wValue;
    DWORD dwID;
    const char* pszSerial; // set: the camera is looked up by serial
};

template <ReplyKey enKey, typename Record> ReplyView ViewReply(WPARAM wParam, LPARAM lParam)
{
    if constexpr (enKey == ReplyKey::ValueIdInLParam) {
        return {nullptr, wParam, static_cast<DWORD>(lParam), nullptr};
    } else if constexpr (enKey == ReplyKey::IdInLParam) {
        return {RecordOf<Record>(static_cast<LPARAM>(wParam)), 0, static_cast<DWORD>(lParam), nullptr};
    } else {
        const Record* pRecord = RecordOf<Record>(lParam);
        if constexpr (enKey == ReplyKey::IdInRecord)
            return {pRecord, 0, pRecord->dwID, nullptr};
        else if constexpr (enKey == ReplyKey::SerialInRecord)
            return {pRecord, 0, 0, pRecord->szSerial};
        else
            return {pRecord, 0, static_cast<DWORD>(wParam), nullptr};
    }
}

template <auto pColumn>
using ColumnOf = std::remove_reference_t<decltype(std::declval<DeviceInfo&>().*pColumn)>;

// The record stored whole.
template <auto pColumn> void CopyTo(DeviceInfo& device, const ColumnOf<pColumn>& record)
{
    device.*pColumn = record;
}

// The engine's own record, kept by pointer: it lives as long as the engine.
template <auto pColumn>
void PointTo(DeviceInfo& device, const std::remove_pointer_t<ColumnOf<pColumn>>& record)
{
    device.*pColumn = &record;
}

void StoreVolume(DeviceInfo& device, const VolumeInfo& info)
{
    MicrophoneInfo& mic = device.stMicrophone;
    mic.dwID = info.dwID;
    mic.bMicrophoneType = info.bMicrophoneType;
    mic.bVolMicrophone = std::min(info.bVolMicrophone, MAX_MICROPHONE_VOLUME);
    mic.bVolSpeaker = info.bVolSpeaker;
    mic.bMicEnable = info.bMicEnable;
    mic.bSpkEnable = info.bSpkEnable;
    mic.PrintInfo();
}

void StoreVersion(DeviceInfo& device, const VersionInfo& info)
{
    // The camera's field need not end in zero; the record's text always does.
    std::memset(device.szVersion, 0, sizeof(device.szVersion));
    std::memcpy(device.szVersion, info.szVersion,
                std::min(sizeof(device.szVersion) - 1, sizeof(info.szVersion)));
}

void StoreScanning(DeviceInfo& device, WPARAM wState)
{
    device.bScanning = wState != 0;
}

void StoreTimeFormat(DeviceInfo& device, WPARAM wFormat)
{
    device.bTimeFormat = static_cast<BYTE>(wFormat);
}

// The record type a store function takes; void for a value.
template <typename Store> struct StoredRecord;
template <typename Record> struct StoredRecord<void (*)(DeviceInfo&, const Record&)> {
    using Type = Record;
};
template <> struct StoredRecord<void (*)(DeviceInfo&, WPARAM)> {
    using Type = void;
};

template <auto pfnStore> void StoreReply(DeviceInfo& device, const ReplyView& view)
{
    using Record = typename StoredRecord<decltype(pfnStore)>::Type;
    if constexpr (std::is_void_v<Record>)
        pfnStore(device, view.wValue);
    else
        pfnStore(device, *static_cast<const Record*>(view.pRecord));
}

} // namespace

struct GroupReply {
    UINT uMsg;
    const char* pszHandler; // names the reply in the log
    DWORD dwMask;           // the kinds of device it may be for
    ReplyView (*pfnView)(WPARAM wParam, LPARAM lParam);
    void (*pfnStore)(DeviceInfo& device, const ReplyView& view);
    BYTE DeviceQueryBlock::*pFlag;
    DWORD dwNotifyID; // raised with the device when it is the selected one; 0: none
};

namespace {

template <ReplyKey enKey, auto pfnStore>
constexpr GroupReply Row(UINT uMsg, const char* pszHandler, DWORD dwMask, BYTE DeviceQueryBlock::*pFlag,
                         DWORD dwNotifyID = 0)
{
    using Record = typename StoredRecord<decltype(pfnStore)>::Type;
    static_assert(std::is_void_v<Record> == (enKey == ReplyKey::ValueIdInLParam));
    return {uMsg, pszHandler, dwMask, &ViewReply<enKey, Record>, &StoreReply<pfnStore>, pFlag, dwNotifyID};
}

// The regular replies: each is stored into the record of the camera it names, sets its query
// flag and, for the selected camera, raises its notification.
constexpr GroupReply kGroupReplies[] = {
    Row<ReplyKey::IdInRecord, &StoreVolume>(DM_MSG_GET_VOLUME, "OnCmdGetVolume", CAMERA_MASK_TOP,
                                            &DeviceQueryBlock::bCmdGetVolume),
    Row<ReplyKey::IdInWParam, &StoreVersion>(DM_MSG_VERSION, "OnCmdGetVersion", CAMERA_MASK_TOP,
                                             &DeviceQueryBlock::bCmdGetVersion,
                                             DWORD_NOTIFYID_CAMERA_VERSION),
    Row<ReplyKey::SerialInRecord, &CopyTo<&DeviceInfo::stDServer>>(
        DM_MSG_DSERVER, "OnCmdGetDServerIP", CAMERA_MASK_TOP, &DeviceQueryBlock::bCmdGetDServerIP,
        DWORD_NOTIFYID_CAMERA_DSERVER_IP),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stUpnp>>(DM_MSG_UPNP, "OnCmdGetUpnpState", CAMERA_MASK_TOP,
                                                            &DeviceQueryBlock::bCmdGetUpnpStatus),
    Row<ReplyKey::IdInLParam, &PointTo<&DeviceInfo::pPresetInfo>>(
        DM_MSG_PRESET, "OnCmdGetPreset", CAMERA_MASK_TOP, &DeviceQueryBlock::bCmdGetPreset),
    // Channels are asked too.
    Row<ReplyKey::ValueIdInLParam, &StoreScanning>(DM_MSG_AUTOSCAN_STATE, "OnCmdQuaryAutoScan",
                                                   CAMERA_MASK_ALL, &DeviceQueryBlock::bCmdGetAutoScan),
    Row<ReplyKey::IdInWParam, &CopyTo<&DeviceInfo::stPort>>(DM_MSG_PORT, "OnCmdGetPort", CAMERA_MASK_TOP,
                                                            &DeviceQueryBlock::bCmdGetCameraPort),
    Row<ReplyKey::SerialInRecord, &CopyTo<&DeviceInfo::stNetParam>>(
        DM_MSG_NETPARAM, "OnCmdGetNetworkParam", CAMERA_MASK_TOP, &DeviceQueryBlock::bCmdGetNetParam,
        DWORD_NOTIFYID_CAMERA_NETWORK_PARAM),
    Row<ReplyKey::SerialInRecord, &PointTo<&DeviceInfo::pThreeGRecord>>(
        DM_MSG_3G_QUERY, "OnCmdGet3GQuery", CAMERA_MASK_TOP, &DeviceQueryBlock::bCmdGet3GQuery,
        DWORD_NOTIFYID_CAMERA_NETWORK_PARAM),
    Row<ReplyKey::SerialInRecord, &CopyTo<&DeviceInfo::st3GStatus>>(
        DM_MSG_3G_STATUS, "OnCmdGet3GStatus", CAMERA_MASK_TOP, &DeviceQueryBlock::bCmdGet3GStatus,
        DWORD_NOTIFYID_3G_STATUS),
    Row<ReplyKey::ValueIdInLParam, &StoreTimeFormat>(DM_MSG_TIME_FORMAT, "OnCmdGetTimeFormat",
                                                     CAMERA_MASK_VIDEO, &DeviceQueryBlock::bCmdGetTimeFormat),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stNtp>>(DM_MSG_NTP, "OnCmdGetNTP", CAMERA_MASK_TOP,
                                                           &DeviceQueryBlock::bCmdGetNTP),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stMotion>>(
        DM_MSG_MOTION, "OnCmdGetMotionParam", CAMERA_MASK_VIDEO, &DeviceQueryBlock::bCmdGetMotion),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stSnapshotServer>>(
        DM_MSG_SNAPSHOT_SERVER, "OnCmdGetSnapshotServer", CAMERA_MASK_VIDEO,
        &DeviceQueryBlock::bCmdGetSnapshotServer),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stMail>>(DM_MSG_MAIL, "OnCmdGetMail", CAMERA_MASK_VIDEO,
                                                            &DeviceQueryBlock::bCmdGetMailInfo),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stDo>>(DM_MSG_DO, "OnCmdGetDo", CAMERA_MASK_VIDEO,
                                                          &DeviceQueryBlock::bCmdGetDoInfo),
    Row<ReplyKey::IdInLParam, &CopyTo<&DeviceInfo::stAlarmTime>>(
        DM_MSG_ALARM_TIME, "OnCmdGetAlarmTime", CAMERA_MASK_VIDEO, &DeviceQueryBlock::bCmdGetAlarmTime),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stRecordSD>>(
        DM_MSG_RECORD_SD, "OnCmdGetRecordInfo", CAMERA_MASK_VIDEO, &DeviceQueryBlock::bCmdGetRecordSD),
    Row<ReplyKey::IdInWParam, &CopyTo<&DeviceInfo::stSDInfo>>(
        DM_MSG_SD_INFO, "OnCmdGetSDInfo", CAMERA_MASK_VIDEO, &DeviceQueryBlock::bCmdGetSDInfo),
    Row<ReplyKey::IdInRecord, &CopyTo<&DeviceInfo::stRecordNas>>(
        DM_MSG_RECORD_NAS, "OnCmdGetRecordNasInfo", CAMERA_MASK_VIDEO, &DeviceQueryBlock::bCmdGetRecordNas),
};

} // namespace

template <std::size_t nRow> void CDeviceManager::OnGroupReplyRow(WPARAM wParam, LPARAM lParam)
{
    OnGroupReply(kGroupReplies[nRow], wParam, lParam);
}

void CDeviceManager::RegisterReplies()
{
    m_mapHandlers = {
        {DM_MSG_USER_SCAN, &CDeviceManager::OnCmdUserScan},
        {DM_MSG_SCAN_FINISH, &CDeviceManager::OnCmdScanFinish},
        {DM_MSG_START_VIDEO, &CDeviceManager::OnCmdStartVideo},
        {DM_MSG_VIDEO_SEQUENCE, &CDeviceManager::OnCmdVideoSequenceChanged},
        {DM_MSG_SENSOR_CAP, &CDeviceManager::OnCmdGetSensorCap},
        {DM_MSG_NETWORK_EXTEND, &CDeviceManager::OnCmdGetNetworkExtend},
        {DM_MSG_AUTOSCAN_SCHEDULE, &CDeviceManager::OnCmdAutoScanSchedule},
        {DM_MSG_SENSOR_9900, &CDeviceManager::OnCmdGetSensor_9900},
        {DM_MSG_SENSOR_9P031, &CDeviceManager::OnCmdGetSensor_9P031},
        {DM_MSG_SENSOR_T9QX, &CDeviceManager::OnCmdGetSensorT9QX},
        {DM_MSG_WIFI, &CDeviceManager::OnCmdGetWifi},
        {DM_MSG_RECORD_DATES, &CDeviceManager::OnCmdRecordNoAction},
        {DM_MSG_RECORD_REPLY_21, &CDeviceManager::OnCmdRecordNoAction},
        {DM_MSG_RECORD_REPLY_23, &CDeviceManager::OnCmdRecordNoAction},
        {DM_MSG_RECORD_FINISH, &CDeviceManager::OnCmdGetRecordFinish},
        {DM_MSG_RECORD_TIME_RANGE, &CDeviceManager::OnCmdGetRecordTimeRange},
    };
    const auto addRows = [this]<std::size_t... nRow>(std::index_sequence<nRow...>)
    {
        ((m_mapHandlers[kGroupReplies[nRow].uMsg] = &CDeviceManager::OnGroupReplyRow<nRow>), ...);
    };
    addRows(std::make_index_sequence<std::size(kGroupReplies)>());
    for (const ReplyRoute& route : kReplyRoutes)
        m_pEngines->RegisterResponse(route.enEngine, route.byCode, m_hWnd, route.uMsg);
}

CDeviceManager::~CDeviceManager()
{
    VLOG(3, "CDeviceManager::~CDeviceManager: beg { m_enPlayType:%d", static_cast<int>(m_enPlayType));
    if (m_enPlayType == PLAY_TYPE_REALTIME) {
        // A fatal check cannot leave a destructor; the invariant is that live view has a device.
        if (m_pDevice != nullptr)
            m_pEngines->Cmd_AudioControl(m_pDevice->GetID(), AUDIO_OPEN, AUDIO_FLAGS_STOP);
        else
            VLOG(1, "CDeviceManager::~CDeviceManager: m_pDevice == NULL");
    }
    // The engines and the window outlive a manager built by a test: leave nothing behind that
    // points at this object.
    for (const ReplyRoute& route : kReplyRoutes)
        m_pEngines->RemoveResponse(route.enEngine, route.byCode, m_hWnd);
    m_pEngines->SetLanDeviceLookup(nullptr);
    m_pWindows->DestroyMsgWindow(m_hWnd);

    m_mapByID.clear();
    m_mapSerialCache.clear();
    for (auto& [dwID, pDevice] : m_mapDevices)
        delete pDevice;
    m_mapDevices.clear();
    m_mapHandlers.clear();
    m_pDevice = nullptr;
    VLOG(3, "CDeviceManager::~CDeviceManager: end }");
}

IDownloadRecordManager* CDeviceManager::GetDownloads() const
{
    return m_pDownloads != nullptr ? m_pDownloads : GetDownloadRecordManager();
}

UINT CDeviceManager::GetAnsiCodePage() const
{
    if (m_uAnsiCodePage != 0)
        return m_uAnsiCodePage;
    return CodePageForLanguage(GetLanguageManager()->GetCurrentLanguage());
}

void CDeviceManager::Notify(DWORD dwNotifyID, UINT_PTR dwParam)
{
    m_pNotify->Notify(dwNotifyID, dwParam);
}

// --- Look-ups ---

DeviceInfo* CDeviceManager::GetDevice(const char* pszSerial, DWORD dwMask) const
{
    FATAL_CHECK(pszSerial != nullptr);
    auto matches = [&](const DeviceInfo* pDevice) {
        return (pDevice->enCameraType & dwMask) != 0 &&
               std::memcmp(pDevice->stItem.szSerial, pszSerial, VIEWER_SERIAL_LEN) == 0;
    };
    std::string strKey(pszSerial, VIEWER_SERIAL_LEN);
    const auto it = m_mapSerialCache.find(strKey);
    if (it != m_mapSerialCache.end() && matches(it->second))
        return it->second;
    DeviceInfo* pFound = FindDevice(matches);
    if (pFound != nullptr)
        m_mapSerialCache[std::move(strKey)] = pFound;
    return pFound;
}

DeviceInfo* CDeviceManager::GetDevice(DWORD dwID, DWORD dwMask) const
{
    auto matches = [&](const DeviceInfo* pDevice) {
        return (pDevice->enCameraType & dwMask) != 0 && pDevice->GetID() == dwID;
    };
    const auto [itBegin, itEnd] = m_mapByID.equal_range(dwID);
    for (auto it = itBegin; it != itEnd; ++it) {
        if (matches(it->second))
            return it->second;
    }
    return nullptr;
}

template <typename Matches> DeviceInfo* CDeviceManager::FindDevice(const Matches& matches) const
{
    for (const auto& [dwKey, pDevice] : m_mapDevices) {
        if (matches(pDevice))
            return pDevice;
        for (const auto& pChild : pDevice->vecChildren) {
            if (matches(pChild.get()))
                return pChild.get();
        }
    }
    return nullptr;
}

DeviceInfo* CDeviceManager::GetParentDevice(DWORD dwID) const
{
    for (const auto& [dwKey, pDevice] : m_mapDevices) {
        for (const auto& pChild : pDevice->vecChildren) {
            if (pChild->GetID() == dwID)
                return pDevice;
        }
    }
    return nullptr;
}

void CDeviceManager::FillRoute(const DeviceInfo& device, LanDeviceRoute& route) const
{
    route = LanDeviceRoute{};
    std::memcpy(route.szSerial, device.stItem.szSerial, LAN_SHORT_SERIAL_LEN);
    route.dwIP = device.stItem.dwIP;
    route.bFoundByMulticast = device.stItem.bFoundByMulticast;
    route.bFoundBySweep = device.stItem.bFoundBySweep;
    route.bUnicastCapable = device.stItem.bUnicastCapable;
}

bool CDeviceManager::FindLanDeviceBySerial(const char* pszSerial, LanDeviceRoute& route)
{
    if (pszSerial == nullptr)
        return false;
    // The LAN side hands zero-ended text; the records compare the 20-byte field.
    char szSerial[VIEWER_SERIAL_LEN] = {};
    std::memcpy(szSerial, pszSerial, strnlen(pszSerial, VIEWER_SERIAL_LEN));
    const DeviceInfo* pDevice = GetDevice(szSerial, CAMERA_MASK_TOP);
    if (pDevice == nullptr)
        return false;
    FillRoute(*pDevice, route);
    return true;
}

bool CDeviceManager::FindLanDeviceByID(DWORD dwDVIPID, LanDeviceRoute& route)
{
    const DeviceInfo* pDevice = GetDevice(dwDVIPID, CAMERA_MASK_TOP);
    if (pDevice == nullptr)
        return false;
    FillRoute(*pDevice, route);
    return true;
}

void CDeviceManager::GetAllSortedDevices(SortedDeviceMap& mapSorted)
{
    VLOG(3, "CDeviceManager::GetAllSortedDevices: beg { size:%d", static_cast<int>(m_mapDevices.size()));
    const UINT uCodePage = GetAnsiCodePage();
    // The map is in ascending id order and a multimap keeps equal keys in insertion order,
    // so cameras named alike come out by id. std::string compares bytes as unsigned.
    for (const auto& [dwID, pDevice] : m_mapDevices) {
        if (pDevice->bIsExist)
            mapSorted.emplace(DeviceSortName(*pDevice, uCodePage), pDevice);
    }
    VLOG(3, "CDeviceManager::GetAllSortedDevices: end } sorted size:%d", static_cast<int>(mapSorted.size()));
}

bool CDeviceManager::HasValidDevice() const
{
    return std::any_of(m_mapDevices.begin(), m_mapDevices.end(),
                       [](const auto& entry) { return entry.second->bIsExist != 0; });
}

// --- Search and presence ---

void CDeviceManager::SendSearch()
{
    m_pEngines->SearchByMulticast();
    m_pEngines->SearchKnownDevices();
}

void CDeviceManager::SearchDevices(DWORD dwNewTimer)
{
    VLOG(3, "CDeviceManager::SearchDevices: beg { dwTimer:%d", static_cast<int>(dwNewTimer));
    KillTimer(m_hWnd, TR_USER_SCAN);
    dwTimer = dwNewTimer;
    SendSearch();
    m_dwSearchTick = GetTickCount();
    SetTimer(m_hWnd, TR_USER_SCAN, dwTimer);
    VLOG(3, "CDeviceManager::SearchDevices: end }");
}

void CDeviceManager::ReSearchDevices()
{
    VLOG(3, "CDeviceManager::ReSearchDevices: beg {");
    m_pEngines->StartSweep();
    VLOG(3, "CDeviceManager::ReSearchDevices: end }");
}

void CDeviceManager::CheckExistCmd(DeviceInfo* pDevice)
{
    FATAL_CHECK(pDevice != nullptr);
    const DWORD dwNow = GetTickCount();
    if (dwNow - m_dwSearchTick < SEARCH_SETTLE_TIME) {
        VLOG(3, "CDeviceManager::CheckExistCmd: end } < 10000");
        return;
    }

    SearchItem& item = pDevice->stItem;
    const DWORD dwLimit = 2 * dwTimer + 1;
    // Ticks wrap: "later" is a positive signed difference.
    auto expired = [&](DWORD dwTick) {
        const DWORD dwAge = dwNow - dwTick;
        return static_cast<LONG>(dwAge) > 0 && dwAge > dwLimit;
    };
    if (item.bFoundByMulticast && expired(item.dwMulticastTick))
        item.bFoundByMulticast = 0;
    if (item.bFoundBySweep && expired(item.dwSweepTick))
        item.bFoundBySweep = 0;
    if (item.bFoundByMulticast || item.bFoundBySweep)
        return;

    VLOG(3, "CDeviceManager::CheckExistCmd: beg { !! id:%d", static_cast<int>(pDevice->GetID()));
    Notify(DWORD_NOTIFYID_CAMERA_EXIST_OFFLINE, reinterpret_cast<UINT_PTR>(pDevice));
    pDevice->bIsExist = 0;
    pDevice->ClearQueryBlock();
    // Channels are reached only through their recorder.
    for (auto& pChild : pDevice->vecChildren) {
        pChild->bIsExist = 0;
        pChild->ClearQueryBlock();
    }
}

void CDeviceManager::CopyItemToDevice(DeviceInfo* pDevice, const SearchItem& item)
{
    FATAL_CHECK(pDevice != nullptr);
    pDevice->CopyItem(item);
    if (item.nChildCount < 1)
        return;
    FATAL_CHECK(item.pChildren != nullptr);
    for (LONG i = 0; i < item.nChildCount; ++i) {
        const SearchItem& childItem = item.pChildren[i];
        DeviceInfo* pChild = GetDevice(childItem.dwDVIPID, CAMERA_MASK_CHILD);
        if (pChild == nullptr) {
            VLOG(4, "CDeviceManager::CopyItemToDevice: new ChildDevice");
            pDevice->vecChildren.push_back(std::make_unique<DeviceInfo>());
            pChild = pDevice->vecChildren.back().get();
            m_mapByID.emplace(childItem.dwDVIPID, pChild);
        }
        CopyItemToDevice(pChild, childItem);
    }
}

void CDeviceManager::TraceQueryFlags(const DeviceInfo& device) const
{
    const DeviceQueryBlock& q = device.stQuery;
    DebugTrace(1, "CheckBasicCmd: %s id:%u", WideToUtf8(device.GetName()).c_str(),
               static_cast<unsigned>(device.GetID()));
    DebugTrace(1,
               "Volume:%d Sensor:%d Version:%d DServerIP:%d Upnp:%d Preset:%d AutoScan:%d Schedule:%d "
               "SensorUnknown:%d T9QY:%d T9QX:%d VideoReport:%d CameraPort:%d NetParam:%d",
               q.bCmdGetVolume, q.bCmdGetSensor, q.bCmdGetVersion, q.bCmdGetDServerIP, q.bCmdGetUpnpStatus,
               q.bCmdGetPreset, q.bCmdGetAutoScan, q.bCmdAutoScanSchedule, q.bCmdGetSensorUnknown,
               q.bCmdGetT9QY, q.bCmdGetT9QX, q.bCmdGetVideoReport, q.bCmdGetCameraPort, q.bCmdGetNetParam);
    DebugTrace(1,
               "HasWifi:%d Wireless:%d Has3G:%d 3GQuery:%d 3GStatus:%d TimeFormat:%d NTP:%d Motion:%d "
               "Snapshot:%d Mail:%d Do:%d AlarmTime:%d RecordSD:%d SDInfo:%d RecordNas:%d Pass:%d",
               q.bHasWifi, q.bCmdGetWirelessParam, q.bHas3G, q.bCmdGet3GQuery, q.bCmdGet3GStatus,
               q.bCmdGetTimeFormat, q.bCmdGetNTP, q.bCmdGetMotion, q.bCmdGetSnapshotServer, q.bCmdGetMailInfo,
               q.bCmdGetDoInfo, q.bCmdGetAlarmTime, q.bCmdGetRecordSD, q.bCmdGetSDInfo, q.bCmdGetRecordNas,
               static_cast<int>(q.nQueryPass));
}

void CDeviceManager::CheckBasicCmd(DeviceInfo* pDevice)
{
    FATAL_CHECK(pDevice != nullptr);
    DeviceQueryBlock& q = pDevice->stQuery;
    if (q.nQueryPass >= MAX_QUERY_PASSES)
        return;

    const DWORD dwID = pDevice->GetID();
    const bool bParent = IsParent(pDevice);
    const bool bChild = IsChild(pDevice);
    const DWORD dwUIType = pDevice->stSensorCap.dwCameraUIType;

    if (!q.bCmdGetVolume && !bChild)
        m_pEngines->Cmd_GetVolume(dwID);
    if (!q.bCmdGetSensor && !bChild) {
        VLOG(4, "CDeviceManager::CheckBasicCmd: Cmd_QueryCapability dwDVIPID:%d", static_cast<int>(dwID));
        m_pEngines->Cmd_QueryCapability(dwID);
    }
    if (!q.bCmdGetVersion && !bChild)
        m_pEngines->Cmd_GetVersion(dwID);
    if (!q.bCmdGetDServerIP && !bChild)
        m_pEngines->Cmd_GetDServer(dwID);
    if (!q.bCmdGetUpnpStatus && !bChild)
        m_pEngines->Cmd_UpnpQuery(dwID);
    if (!q.bCmdGetPreset && !bChild)
        m_pEngines->Cmd_GetPreset(dwID);
    if (!q.bCmdGetAutoScan)
        m_pEngines->Cmd_GetAutoScanState(dwID);
    if (!q.bCmdAutoScanSchedule && !bChild)
        m_pEngines->Cmd_AutoScanSchedule(dwID, AutoScanSchedule{});
    if (!q.bCmdGetT9QY && q.bCmdGetSensor && dwUIType == CAMERA_UI_TYPE_D) {
        VLOG(4, "CDeviceManager::CheckBasicCmd: SensorControl8 dwDVIPID:%d", static_cast<int>(dwID));
        m_pEngines->Cmd_SensorControl(
            dwID, MakeSensorControlWord(SENSOR_SUBCOMMAND_READ, SENSOR_CONTROL_9900, 0), SENSOR_READ_VALUE);
    }
    if (!q.bCmdGetT9QX && q.bCmdGetSensor &&
        (dwUIType == CAMERA_UI_TYPE_M || dwUIType == CAMERA_UI_TYPE_HD)) {
        VLOG(4, "CDeviceManager::CheckBasicCmd: SensorControl13 dwDVIPID:%d", static_cast<int>(dwID));
        m_pEngines->Cmd_SensorControl(
            dwID, MakeSensorControlWord(SENSOR_SUBCOMMAND_READ, SENSOR_CONTROL_9P031, 0), SENSOR_READ_VALUE);
    }
    if (!q.bCmdGetVideoReport) {
        bool bAsk = false;
        if (pDevice->enCameraType == CAMERA_TYPE_SINGLE) {
            bAsk = q.bCmdGetSensor != 0;
        } else if (bChild) {
            const DeviceInfo* pParent = GetParentDevice(dwID);
            FATAL_CHECK(pParent != nullptr);
            bAsk = pParent->stQuery.bCmdGetSensor != 0;
        }
        if (bAsk)
            m_pEngines->Cmd_QueryVideoReport(dwID);
    }
    if (!q.bCmdGetCameraPort && !bChild)
        m_pEngines->Cmd_CameraPort(dwID, 1, 0);
    if (!q.bCmdGetNetParam && !bChild)
        m_pEngines->Cmd_GetNetParam(dwID);
    if (!q.bCmdGetWirelessParam && q.bHasWifi && !bChild) {
        VLOG(4, "CDeviceManager::CheckBasicCmd: Cmd_WifiQuery");
        m_pEngines->Cmd_WifiQuery(pDevice->GetSerial());
    }
    if (!q.bCmdGet3GQuery && q.bHas3G && !bChild) {
        VLOG(4, "CDeviceManager::CheckBasicCmd: Cmd_3GQuery");
        m_pEngines->Cmd_3GQuery(pDevice->GetSerial());
    }
    if (!q.bCmdGet3GStatus && q.bHas3G && !bChild) {
        VLOG(4, "CDeviceManager::CheckBasicCmd: Cmd_Query3GStatus");
        m_pEngines->Cmd_Query3GStatus(pDevice->GetSerial());
    }
    if (!q.bCmdGetTimeFormat && !bParent)
        m_pEngines->Cmd_GetTimeFormat(dwID);
    if (!q.bCmdGetNTP && !bChild)
        m_pEngines->Cmd_GetNTP(dwID);
    if (!q.bCmdGetMotion && !bParent)
        m_pEngines->Cmd_GetMotion(dwID);
    if (!q.bCmdGetSnapshotServer && !bParent) {
        VLOG(4, "CDeviceManager::CheckBasicCmd: Cmd_ControlSnapshotServer %x", static_cast<unsigned>(dwID));
        m_pEngines->Cmd_ControlSnapshotServer(dwID, 0, 0, 0, 0, 0, 0, 0);
    }
    if (!q.bCmdGetMailInfo && !bParent)
        m_pEngines->Cmd_GetMail(dwID);
    if (!q.bCmdGetDoInfo && !bParent)
        m_pEngines->Cmd_GetDo(dwID);
    if (!q.bCmdGetAlarmTime && !bParent)
        m_pEngines->Cmd_AlarmTime(dwID, 0, 0, 0);
    if (!q.bCmdGetRecordSD && !bParent)
        m_pEngines->Cmd_GetRecordSD(dwID);
    if (!q.bCmdGetSDInfo && !bParent)
        m_pEngines->Cmd_GetSDInfo(dwID);
    if (!q.bCmdGetRecordNas && !bParent)
        m_pEngines->Cmd_GetRecordNas(dwID);

    ++q.nQueryPass;
    TraceQueryFlags(*pDevice);
}

// --- Window messages and timers ---

void CDeviceManager::OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    FATAL_CHECK(hWnd == m_hWnd);
    VLOG(3, "CDeviceManager::OnWndProcSink: beg { unMessage:%d, unParam:%d, ulParam:%d",
         static_cast<int>(uMsg), static_cast<int>(wParam), static_cast<int>(lParam));
    if (uMsg == WM_TIMER) {
        HandleTimer(static_cast<UINT>(wParam));
        return;
    }
    if (wParam == 0 && lParam == 0) {
        VLOG(3, "CDeviceManager::OnWndProcSink: end } unParam == 0 && ulParam == 0");
        return;
    }
    auto it = m_mapHandlers.find(uMsg);
    if (it == m_mapHandlers.end()) {
        VLOG(2, "CDeviceManager::OnWndProcSink: pFunc == NULL unMessage:%d", static_cast<int>(uMsg));
        return;
    }
    (this->*(it->second))(wParam, lParam);
}

void CDeviceManager::HandleTimer(UINT uTimerID)
{
    switch (uTimerID) {
    case TR_USER_SCAN:
        // Searching goes on; the presence check keeps counting from when it started.
        SendSearch();
        break;
    case TR_CHECK_DEVICES:
        for (auto& [dwID, pDevice] : m_mapDevices) {
            if (!pDevice->bIsExist)
                continue;
            CheckExistCmd(pDevice);
            if (!pDevice->bIsExist)
                continue;
            CheckBasicCmd(pDevice);
            if (IsParent(pDevice)) {
                for (auto& pChild : pDevice->vecChildren)
                    CheckBasicCmd(pChild.get());
            }
        }
        break;
    case TR_VIDEO_HEARTBEAT:
        // Every watched camera, each with its own stream type: a camera whose heartbeat stops
        // ends its stream by itself.
        for (const auto& [dwID, watched] : m_mapWatched) {
            const DWORD enPlayType = GetWatchedPlayType(dwID);
            const DeviceInfo* pDevice = GetDevice(dwID, watched.dwCameraType);
            if (pDevice == nullptr || enPlayType == PLAY_TYPE_NONE)
                continue;
            m_pEngines->Cmd_StartVideo(dwID, pDevice->stPassword.pbEncryptedID,
                                       StreamTypeOfPlayType(enPlayType), FALSE);
            VLOG(3, "CDeviceManager::HandleTimer: end } TR_VIDEO_HEARTBEAT id:%d, type:%d",
                 static_cast<int>(dwID), static_cast<int>(enPlayType));
        }
        break;
    case TR_DOWNLOAD_HEARTBEAT: {
        IDownloadRecordManager* pDownloads = GetDownloads();
        if (pDownloads == nullptr)
            break;
        for (auto& [dwID, pDevice] : m_mapDevices) {
            if (!pDevice->bIsExist || !pDevice->stItem.bHasSD)
                continue;
            if (pDevice->enCameraType == CAMERA_TYPE_SINGLE && pDownloads->IsDownloading(pDevice->GetID())) {
                VLOG(4, "CDeviceManager::HandleTimer: TR_DOWNLOAD_HEARTBEAT SINGLE id:%d",
                     static_cast<int>(pDevice->GetID()));
                m_pEngines->Cmd_StartVideo(pDevice->GetID(), pDevice->stPassword.pbEncryptedID, 1, TRUE);
            }
            for (auto& pChild : pDevice->vecChildren) {
                if (!pDownloads->IsDownloading(pChild->GetID()))
                    continue;
                VLOG(4, "CDeviceManager::HandleTimer: TR_DOWNLOAD_HEARTBEAT CHILD id:%d",
                     static_cast<int>(pChild->GetID()));
                m_pEngines->Cmd_StartVideo(pChild->GetID(), pDevice->stPassword.pbEncryptedID, 1, TRUE);
            }
        }
        break;
    }
    case TR_RECORD_TICK:
        m_pEngines->RecordTime_Pump();
        break;
    case TR_CAMINFO_REFLESH:
        if (m_pDevice != nullptr) {
            const DWORD dwID = m_pDevice->GetID();
            m_pEngines->Cmd_GetNetParam(dwID);
            m_pEngines->Cmd_UpnpQuery(dwID);
            m_pEngines->Cmd_GetDServer(dwID);
            m_pEngines->Cmd_Query3GStatus(m_pDevice->GetSerial());
        }
        break;
    default:
        FATAL_CHECK(false, "HandleTimer %u", static_cast<unsigned>(uTimerID));
    }
}

// --- Selection and video ---

void CDeviceManager::SelectDevice(DWORD dwID, DWORD dwCameraType, DWORD enPlayType)
{
    VLOG(3, "CDeviceManager::SelectDevice: beg { id:%d, dwCameraType:%d, enPlayType:%d",
         static_cast<int>(dwID), static_cast<int>(dwCameraType), static_cast<int>(enPlayType));
    FATAL_CHECK(enPlayType != PLAY_TYPE_NONE);
    FATAL_CHECK(m_pDevice == nullptr);
    DeviceInfo* pDevice = GetDevice(dwID, dwCameraType);
    FATAL_CHECK(pDevice != nullptr);
    FATAL_CHECK(pDevice->enCameraType == dwCameraType);

    const DWORD enWasPlayType = GetWatchedPlayType(dwID);
    m_mapWatched[dwID].dwCameraType = dwCameraType;
    m_pDevice = pDevice;
    m_enPlayType = enPlayType;
    if (enWasPlayType == enPlayType) {
        // A pane already shows it: a second start would only make the camera begin again.
        VLOG(3, "CDeviceManager::SelectDevice: watched already, no second start id:%d",
             static_cast<int>(dwID));
        Notify(DWORD_NOTIFYID_VIDEO_START, reinterpret_cast<UINT_PTR>(pDevice));
    } else {
        StartVedio(pDevice, enPlayType);
    }
    CheckBasicCmd(pDevice);
    Notify(enPlayType == PLAY_TYPE_REALTIME ? DWORD_NOTIFYID_CAMERA_SELECT_REALTIME
                                            : DWORD_NOTIFYID_CAMERA_SELECT_PLAYBACK,
           reinterpret_cast<UINT_PTR>(pDevice));
    VLOG(3, "CDeviceManager::SelectDevice: end }");
}

void CDeviceManager::CancelSelectDevice()
{
    if (m_pDevice == nullptr) {
        VLOG(3, "CDeviceManager::CancelSelectDevice: end } m_pDevice == NULL");
        return;
    }
    VLOG(3, "CDeviceManager::CancelSelectDevice: beg { id:%d, m_enPlayType:%d",
         static_cast<int>(m_pDevice->GetID()), static_cast<int>(m_enPlayType));
    FATAL_CHECK(m_enPlayType != PLAY_TYPE_NONE);
    DeviceInfo* pDevice = m_pDevice;
    const DWORD enPlayType = m_enPlayType;
    Notify(enPlayType == PLAY_TYPE_REALTIME ? DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_REALTIME
                                            : DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_PLAYBACK,
           reinterpret_cast<UINT_PTR>(pDevice));
    const auto it = m_mapWatched.find(pDevice->GetID());
    const DWORD enWatchPlayType = it != m_mapWatched.end() ? it->second.PlayType() : PLAY_TYPE_NONE;
    if (enWatchPlayType == PLAY_TYPE_NONE) {
        if (it != m_mapWatched.end())
            m_mapWatched.erase(it);
        StopVedio(pDevice, enPlayType);
    } else {
        // A pane still watches it: the stream goes on, the sound (which follows the selection)
        // does not.
        VLOG(3, "CDeviceManager::CancelSelectDevice: watched, the video goes on id:%d, enWatchPlayType:%d",
             static_cast<int>(pDevice->GetID()), static_cast<int>(enWatchPlayType));
        if (enPlayType == PLAY_TYPE_REALTIME)
            m_pEngines->Cmd_AudioControl(pDevice->GetID(), AUDIO_OPEN, AUDIO_FLAGS_STOP);
    }
    m_pDevice = nullptr;
    m_enPlayType = PLAY_TYPE_NONE;
    // The selection had another stream of it (a playback): the watch's comes back.
    if (enWatchPlayType != PLAY_TYPE_NONE && enWatchPlayType != enPlayType)
        StartVedio(pDevice, enWatchPlayType);
    if (enPlayType == PLAY_TYPE_REALTIME) {
        // The next live view asks everything again, except the capability, which does not change.
        const BYTE bCmdGetSensor = pDevice->stQuery.bCmdGetSensor;
        pDevice->ClearQueryBlock();
        pDevice->stQuery.bCmdGetSensor = bCmdGetSensor;
    }
    VLOG(3, "CDeviceManager::CancelSelectDevice: end }");
}

void CDeviceManager::WatchDevice(DWORD dwID, DWORD dwCameraType, DWORD enPlayType)
{
    VLOG(3, "CDeviceManager::WatchDevice: beg { id:%d, dwCameraType:%d, enPlayType:%d",
         static_cast<int>(dwID), static_cast<int>(dwCameraType), static_cast<int>(enPlayType));
    FATAL_CHECK(enPlayType != PLAY_TYPE_NONE);
    DeviceInfo* pDevice = GetDevice(dwID, dwCameraType);
    FATAL_CHECK(pDevice != nullptr);
    FATAL_CHECK(pDevice->enCameraType == dwCameraType);

    const DWORD enWasPlayType = GetWatchedPlayType(dwID);
    WatchedVideo& watched = m_mapWatched[dwID];
    watched.dwCameraType = dwCameraType;
    watched.enWatchPlayType = enPlayType;
    const DWORD enNowPlayType = GetWatchedPlayType(dwID);
    if (enNowPlayType == enWasPlayType) {
        VLOG(3, "CDeviceManager::WatchDevice: end } no new start, enPlayType:%d",
             static_cast<int>(enNowPlayType));
        return;
    }
    StartVedio(pDevice, enNowPlayType);
    VLOG(3, "CDeviceManager::WatchDevice: end }");
}

void CDeviceManager::UnwatchDevice(DWORD dwID, bool bStopNow)
{
    VLOG(3, "CDeviceManager::UnwatchDevice: beg { id:%d, bStopNow:%d", static_cast<int>(dwID),
         bStopNow ? 1 : 0);
    const auto it = m_mapWatched.find(dwID);
    if (it == m_mapWatched.end()) {
        VLOG(3, "CDeviceManager::UnwatchDevice: end } not watched");
        return;
    }
    if (m_pDevice != nullptr && m_pDevice->GetID() == dwID) {
        // The selection still shows it; CancelSelectDevice stops it.
        it->second.enWatchPlayType = PLAY_TYPE_NONE;
        VLOG(3, "CDeviceManager::UnwatchDevice: end } selected, the selection alone watches it");
        return;
    }
    if (it->second.nLiveHolds > 0) {
        const DWORD enWasPlayType = it->second.PlayType();
        it->second.enWatchPlayType = PLAY_TYPE_NONE;
        // A pane's playback gave way to the holds' live stream.
        if (enWasPlayType != PLAY_TYPE_REALTIME) {
            if (DeviceInfo* pDevice = GetDevice(dwID, it->second.dwCameraType))
                StartVedio(pDevice, PLAY_TYPE_REALTIME);
        }
        VLOG(3, "CDeviceManager::UnwatchDevice: end } held, the live stream goes on");
        return;
    }
    const DWORD enPlayType = it->second.enWatchPlayType;
    const DWORD dwCameraType = it->second.dwCameraType;
    m_mapWatched.erase(it);
    if (!bStopNow) {
        VLOG(3, "CDeviceManager::UnwatchDevice: end } no more heartbeat, the stream lapses");
        return;
    }
    DeviceInfo* pDevice = GetDevice(dwID, dwCameraType);
    if (pDevice == nullptr) {
        VLOG(2, "CDeviceManager::UnwatchDevice: end } pDevice == NULL");
        return;
    }
    StopVedio(pDevice, enPlayType);
    VLOG(3, "CDeviceManager::UnwatchDevice: end }");
}

DWORD CDeviceManager::GetWatchedPlayType(DWORD dwID) const
{
    if (m_pDevice != nullptr && m_pDevice->GetID() == dwID)
        return m_enPlayType;
    const auto it = m_mapWatched.find(dwID);
    return it != m_mapWatched.end() ? it->second.PlayType() : PLAY_TYPE_NONE;
}

void CDeviceManager::HoldLive(DWORD dwID, DWORD dwCameraType)
{
    VLOG(3, "CDeviceManager::HoldLive: beg { id:%d, dwCameraType:%d", static_cast<int>(dwID),
         static_cast<int>(dwCameraType));
    DeviceInfo* pDevice = GetDevice(dwID, dwCameraType);
    if (pDevice == nullptr) {
        VLOG(2, "CDeviceManager::HoldLive: end } pDevice == NULL");
        return;
    }
    const DWORD enWasPlayType = GetWatchedPlayType(dwID);
    WatchedVideo& watched = m_mapWatched[dwID];
    watched.dwCameraType = dwCameraType;
    ++watched.nLiveHolds;
    if (enWasPlayType == PLAY_TYPE_NONE)
        StartVedio(pDevice, PLAY_TYPE_REALTIME);
    VLOG(3, "CDeviceManager::HoldLive: end } holds:%d", watched.nLiveHolds);
}

void CDeviceManager::ReleaseLive(DWORD dwID, bool bStopNow)
{
    const auto it = m_mapWatched.find(dwID);
    if (it == m_mapWatched.end() || it->second.nLiveHolds == 0) {
        VLOG(2, "CDeviceManager::ReleaseLive: id:%d not held", static_cast<int>(dwID));
        return;
    }
    if (--it->second.nLiveHolds > 0 || it->second.enWatchPlayType != PLAY_TYPE_NONE)
        return;
    // The selection still shows it; CancelSelectDevice stops it.
    if (m_pDevice != nullptr && m_pDevice->GetID() == dwID)
        return;
    const DWORD dwCameraType = it->second.dwCameraType;
    m_mapWatched.erase(it);
    VLOG(3, "CDeviceManager::ReleaseLive: id:%d, last hold, bStopNow:%d", static_cast<int>(dwID),
         bStopNow ? 1 : 0);
    if (!bStopNow)
        return;
    if (DeviceInfo* pDevice = GetDevice(dwID, dwCameraType))
        StopVedio(pDevice, PLAY_TYPE_REALTIME);
}

void CDeviceManager::StartVedio(DeviceInfo* pDevice, DWORD enPlayType)
{
    FATAL_CHECK(pDevice != nullptr);
    PasswordInfo& password = pDevice->stPassword;
    if (g_nDebugLevel >= 4) {
        const std::string strToken(reinterpret_cast<const char*>(password.pbEncryptedID),
                                   sizeof(password.pbEncryptedID));
        WriteLog(
            4, "CDeviceManager::StartVedio: beg { id:%d, enCameraType:%d, m_enPlayType:%d, pbEncryptedID:%s",
            static_cast<int>(pDevice->GetID()), static_cast<int>(pDevice->enCameraType),
            static_cast<int>(enPlayType), MaskSecret(strToken).c_str());
    }
    // Also without a check value: the camera still checks the token against the sequence
    // numbers it announced (under the empty password), and stored zeros are refused. A
    // channel's record carries its recorder's sequence numbers and password: the token is the
    // recorder's.
    MakeToken(password);
    m_pEngines->Cmd_StartVideo(pDevice->GetID(), password.pbEncryptedID, StreamTypeOfPlayType(enPlayType),
                               FALSE);
    if (enPlayType == PLAY_TYPE_PLAYBACK || enPlayType == PLAY_TYPE_PLAYBACK_OPT)
        m_pEngines->RecordTime_QueryRange(pDevice->GetID(), enPlayType == PLAY_TYPE_PLAYBACK ? 0 : 1);
    Notify(DWORD_NOTIFYID_VIDEO_START, reinterpret_cast<UINT_PTR>(pDevice));
    if (g_nDebugLevel >= 4) {
        const std::string strToken(reinterpret_cast<const char*>(password.pbEncryptedID),
                                   sizeof(password.pbEncryptedID));
        WriteLog(4, "CDeviceManager::StartVedio: end } pbEncryptedID:%s", MaskSecret(strToken).c_str());
    }
}

void CDeviceManager::StopVedio(DeviceInfo* pDevice, DWORD enPlayType)
{
    FATAL_CHECK(pDevice != nullptr);
    if (enPlayType == PLAY_TYPE_REALTIME)
        m_pEngines->Cmd_AudioControl(pDevice->GetID(), AUDIO_OPEN, AUDIO_FLAGS_STOP);
    m_pEngines->Cmd_StopVideo(pDevice->stPassword.pbEncryptedID, pDevice->GetID());
    Notify(DWORD_NOTIFYID_VIDEO_STOP, reinterpret_cast<UINT_PTR>(pDevice));
}

// --- Other operations ---

void CDeviceManager::GetNetworkExtendInfo()
{
    FATAL_CHECK(m_pDevice != nullptr);
    FATAL_CHECK(m_pDevice->stQuery.bCmdGetNetParam != 0);
    m_pEngines->Cmd_GetNetworkExtend(m_pDevice->GetID(), m_pDevice->stNetParam.ucConnType == LAN_CONN_PPPOE);
}

void CDeviceManager::SetPassword(const BYTE (&pbPassword)[PASSWORD_LEN])
{
    VLOG(3, "CDeviceManager::SetPassword: beg { size:%d", static_cast<int>(m_mapDevices.size()));
    for (auto& [dwID, pDevice] : m_mapDevices) {
        CheckPassword(pDevice->stPassword, pbPassword);
        // Channels carry their recorder's check value: the recorder's password opens them too,
        // and without it a channel's token could never be right.
        for (auto& pChild : pDevice->vecChildren)
            CheckPassword(pChild->stPassword, pbPassword);
    }
    VLOG(3, "CDeviceManager::SetPassword: end }");
}

void CDeviceManager::GetAllRecordInfo()
{
    VLOG(3, "CDeviceManager::GetAllRecordInfo: beg {");
    for (auto& [dwID, pDevice] : m_mapDevices) {
        if (!pDevice->bIsExist || !pDevice->stItem.bHasSD)
            continue;
        if (!IsParent(pDevice))
            GetRecordInfo(pDevice);
        for (auto& pChild : pDevice->vecChildren) {
            FATAL_CHECK(pChild->stItem.bHasSD != 0);
            GetRecordInfo(pChild.get());
        }
    }
    VLOG(3, "CDeviceManager::GetAllRecordInfo: end }");
}

void CDeviceManager::GetRecordInfo(DeviceInfo* pDevice)
{
    FATAL_CHECK(pDevice != nullptr);
    FATAL_CHECK(!IsParent(pDevice));
    VLOG(3, "CDeviceManager::GetRecordInfo: beg { id:%d", static_cast<int>(pDevice->GetID()));
    m_pEngines->RecordTime_QueryRange(pDevice->GetID(), 0);
    m_pEngines->Cmd_StartVideo(pDevice->GetID(), pDevice->stPassword.pbEncryptedID, 1, TRUE);
    m_pEngines->RecordTime_QueryRecordInfo(pDevice->GetID());
}

void CDeviceManager::GetRecordInfo(DWORD dwID)
{
    DeviceInfo* pDevice = GetDevice(dwID, CAMERA_MASK_VIDEO);
    FATAL_CHECK(pDevice != nullptr);
    GetRecordInfo(pDevice);
}

void CDeviceManager::ReScanWifi()
{
    FATAL_CHECK(m_pDevice != nullptr);
    FATAL_CHECK(m_pDevice->pWifiRecord != nullptr);
    VLOG(3, "CDeviceManager::ReScanWifi: beg { id:%d", static_cast<int>(m_pDevice->GetID()));
    char szSerial[LAN_SHORT_SERIAL_LEN + 1] = {};
    std::memcpy(szSerial, m_pDevice->pWifiRecord->szSerial, LAN_SHORT_SERIAL_LEN);
    m_pEngines->Cmd_WifiQuery(szSerial);
    m_pDevice->bWifiRescanPending = 1;
}

void CDeviceManager::OnFirmwareWritten(const char* pszSerial)
{
    FATAL_CHECK(pszSerial != nullptr);
    char szSerial[VIEWER_SERIAL_LEN] = {};
    std::memcpy(szSerial, pszSerial, strnlen(pszSerial, VIEWER_SERIAL_LEN));
    DeviceInfo* pDevice = GetDevice(szSerial, CAMERA_MASK_TOP);
    if (pDevice == nullptr || !IsSelected(pDevice)) {
        VLOG(3, "CDeviceManager::OnFirmwareWritten: end } not the current device");
        return;
    }
    VLOG(3, "CDeviceManager::OnFirmwareWritten: beg { id:%d", static_cast<int>(pDevice->GetID()));
    pDevice->ClearQueryBlock();
}

// --- Reply handlers ---

void CDeviceManager::OnCmdUserScan(WPARAM wParam, LPARAM lParam)
{
    const SearchItem* pItem = RecordOf<SearchItem>(lParam);
    // A channel answering for its own id is that channel of a known recorder, never a camera
    // of its own: one record per id.
    if (DeviceInfo* pChild = GetDevice(pItem->dwDVIPID, CAMERA_MASK_CHILD)) {
        CopyItemToDevice(pChild, *pItem);
        pChild->bIsExist = 1;
        if (DeviceInfo* pParent = GetParentDevice(pItem->dwDVIPID); pParent != nullptr && pParent->bIsExist)
            Notify(DWORD_NOTIFYID_CAMERA_LIST_INFO, reinterpret_cast<UINT_PTR>(pParent));
        return;
    }
    DeviceInfo* pDevice = GetDevice(pItem->dwDVIPID, CAMERA_MASK_TOP);
    if (pDevice == nullptr) {
        VLOG(4, "CDeviceManager::OnCmdUserScan: new device");
        pDevice = new DeviceInfo();
        m_mapDevices[pItem->dwDVIPID] = pDevice;
        m_mapByID.emplace(pItem->dwDVIPID, pDevice);
    } else if (pDevice->stItem.dwIP != 0 && pDevice->stItem.dwIP != pItem->dwIP) {
        // The camera moved (new address by hand or by DHCP): its streams, a recorder's
        // channels' too, may change path.
        pDevice->bChangeIp = 1;
        for (auto& pChild : pDevice->vecChildren)
            pChild->bChangeIp = 1;
    }
    const std::vector<DeviceInfo*> vecLocked = LockedOut(*pDevice);
    CopyItemToDevice(pDevice, *pItem);
    // A recorder's channels are present while it is.
    for (auto& pChild : pDevice->vecChildren)
        pChild->bIsExist = 1;
    if (pDevice->bIsExist) {
        Notify(DWORD_NOTIFYID_CAMERA_LIST_INFO, reinterpret_cast<UINT_PTR>(pDevice));
        if (IsSelected(pDevice) && m_enPlayType == PLAY_TYPE_REALTIME)
            Notify(DWORD_NOTIFYID_CAMERA_INFO_COMMON, reinterpret_cast<UINT_PTR>(pDevice));
        // The stored password opens it again (its password went back): it is announced as
        // back, so that the panes left waiting for it take it again, as after a reboot.
        if (PasswordTakenBack(vecLocked)) {
            VLOG(3, "CDeviceManager::OnCmdUserScan: id:%d takes its stored password again",
                 static_cast<int>(pDevice->GetID()));
            Notify(DWORD_NOTIFYID_CAMERA_EXIST_ONLINE, reinterpret_cast<UINT_PTR>(pDevice));
        }
        return;
    }
    pDevice->bIsExist = 1;
    CheckBasicCmd(pDevice);
    for (auto& pChild : pDevice->vecChildren)
        CheckBasicCmd(pChild.get());
    Notify(DWORD_NOTIFYID_CAMERA_EXIST_ONLINE, reinterpret_cast<UINT_PTR>(pDevice));
}

std::vector<DeviceInfo*> CDeviceManager::LockedOut(DeviceInfo& device)
{
    // A channel's password is its recorder's, but each channel's video was refused on its own.
    std::vector<DeviceInfo*> vecLocked;
    const auto add = [&vecLocked](DeviceInfo& d) {
        if (d.dwCameraVideoStatus == VIDEO_STATUS_PASSWORD && !PasswordMatches(d.stPassword))
            vecLocked.push_back(&d);
    };
    add(device);
    for (auto& pChild : device.vecChildren)
        add(*pChild);
    return vecLocked;
}

bool CDeviceManager::PasswordTakenBack(const std::vector<DeviceInfo*>& vecLocked)
{
    bool bBack = false;
    for (DeviceInfo* pDevice : vecLocked) {
        if (PasswordMatches(pDevice->stPassword)) {
            pDevice->dwCameraVideoStatus = 0;
            bBack = true;
        }
    }
    return bBack;
}

void CDeviceManager::OnCmdScanFinish(WPARAM wParam, LPARAM lParam)
{
    Notify(DWORD_NOTIFYID_CAMERA_SCAN_FINISH, 0);
}

DeviceInfo* CDeviceManager::ReplyDevice(const char* pszHandler, DWORD dwID, DWORD dwMask) const
{
    DeviceInfo* pDevice = GetDevice(dwID, dwMask);
    if (pDevice == nullptr)
        VLOG(2, "CDeviceManager::%s: end } pDevice == NULL", pszHandler);
    return pDevice;
}

DeviceInfo* CDeviceManager::ReplyDevice(const char* pszHandler, const char* pszSerial, DWORD dwMask) const
{
    DeviceInfo* pDevice = GetDevice(pszSerial, dwMask);
    if (pDevice == nullptr)
        VLOG(2, "CDeviceManager::%s: end } pDevice == NULL", pszHandler);
    return pDevice;
}

void CDeviceManager::OnCmdStartVideo(WPARAM wParam, LPARAM lParam)
{
    const StartVideoReply* pReply = RecordOf<StartVideoReply>(lParam);
    DeviceInfo* pDevice = ReplyDevice("OnCmdStartVideo", pReply->dwID, CAMERA_MASK_VIDEO);
    if (pDevice == nullptr)
        return;
    const bool bWasLocked = pDevice->dwCameraVideoStatus == VIDEO_STATUS_PASSWORD;
    pDevice->dwCameraVideoStatus = pReply->dwStatus;
    if (pReply->dwStatus != 0)
        Notify(DWORD_NOTIFYID_CAMERA_VIDEO_STATUS_ERROR, reinterpret_cast<UINT_PTR>(pDevice));
    else if (bWasLocked) // a heartbeat (a background hold's) got through again: back, as above
        Notify(DWORD_NOTIFYID_CAMERA_EXIST_ONLINE, reinterpret_cast<UINT_PTR>(pDevice));
}

void CDeviceManager::OnCmdVideoSequenceChanged(WPARAM wParam, LPARAM lParam)
{
    // Every watched camera's pane restarts its frame numbering, not only the selected one's.
    const auto dwID = static_cast<DWORD>(wParam);
    const auto it = m_mapWatched.find(dwID);
    if (it == m_mapWatched.end())
        return;
    if (DeviceInfo* pDevice = GetDevice(dwID, it->second.dwCameraType))
        Notify(DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED, reinterpret_cast<UINT_PTR>(pDevice));
}

void CDeviceManager::OnGroupReply(const GroupReply& reply, WPARAM wParam, LPARAM lParam)
{
    const ReplyView view = reply.pfnView(wParam, lParam);
    DeviceInfo* pDevice = view.pszSerial != nullptr
                              ? ReplyDevice(reply.pszHandler, view.pszSerial, reply.dwMask)
                              : ReplyDevice(reply.pszHandler, view.dwID, reply.dwMask);
    if (pDevice == nullptr)
        return;
    reply.pfnStore(*pDevice, view);
    pDevice->stQuery.*reply.pFlag = 1;
    if (reply.dwNotifyID != 0 && IsSelected(pDevice))
        Notify(reply.dwNotifyID, reinterpret_cast<UINT_PTR>(pDevice));
}

void CDeviceManager::OnCmdGetSensorCap(WPARAM wParam, LPARAM lParam)
{
    const SensorCapInfo* pInfo = RecordOf<SensorCapInfo>(lParam);
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetSensorCap", pInfo->dwID, CAMERA_MASK_TOP);
    if (pDevice == nullptr)
        return;
    pDevice->stSensorCap = *pInfo;
    if (pDevice->enCameraType == CAMERA_TYPE_SINGLE)
        m_pEngines->Cmd_QueryVideoReport(pDevice->GetID());
    for (auto& pChild : pDevice->vecChildren)
        m_pEngines->Cmd_QueryVideoReport(pChild->GetID());

    const DWORD dwUIType = pDevice->stSensorCap.dwCameraUIType;
    if (dwUIType == CAMERA_UI_TYPE_D)
        m_pEngines->Cmd_SensorControl(pDevice->GetID(),
                                      MakeSensorControlWord(SENSOR_SUBCOMMAND_READ, SENSOR_CONTROL_9900, 0),
                                      SENSOR_READ_VALUE);
    else if (dwUIType == CAMERA_UI_TYPE_M || dwUIType == CAMERA_UI_TYPE_HD)
        m_pEngines->Cmd_SensorControl(pDevice->GetID(),
                                      MakeSensorControlWord(SENSOR_SUBCOMMAND_READ, SENSOR_CONTROL_9P031, 0),
                                      SENSOR_READ_VALUE);
    else
        pDevice->stQuery.bCmdGetSensorUnknown = 1;
    VLOG(3,
         "CDeviceManager::OnCmdGetSensorCap: enCameraType:%d, dwCameraUIType:%d, dwCameraType:%d, "
         "dwCameraSubType:%d",
         static_cast<int>(pDevice->enCameraType), static_cast<int>(dwUIType),
         static_cast<int>(pDevice->stSensorCap.dwCameraType),
         static_cast<int>(pDevice->stSensorCap.dwCameraSubType));
    pDevice->stQuery.bCmdGetSensor = 1;
    if (IsSelected(pDevice))
        Notify(DWORD_NOTIFYID_CAMERA_SENSOR_CAP, reinterpret_cast<UINT_PTR>(pDevice));
}

void CDeviceManager::OnCmdGetNetworkExtend(WPARAM wParam, LPARAM lParam)
{
    const NetworkExtendInfo* pInfo = RecordOf<NetworkExtendInfo>(lParam);
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetNetworkExtend", static_cast<DWORD>(wParam), CAMERA_MASK_TOP);
    if (pDevice == nullptr)
        return;
    // Only the extended-network dialog listens, and only while it is open.
    if (IsSelected(pDevice) && m_pNotify->IsRegistered(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND))
        Notify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, reinterpret_cast<UINT_PTR>(pInfo));
}

void CDeviceManager::OnCmdAutoScanSchedule(WPARAM wParam, LPARAM lParam)
{
    const AutoScanSchedule* pSchedule = RecordOf<AutoScanSchedule>(lParam);
    DeviceInfo* pDevice = ReplyDevice("OnCmdAutoScanSchedule", static_cast<DWORD>(wParam), CAMERA_MASK_TOP);
    if (pDevice == nullptr)
        return;
    // Operation 1 is the answer to a write: it carries no schedule.
    if (pSchedule->byOperation == 1)
        return;
    pDevice->stAutoScanSchedule = *pSchedule;
    pDevice->stQuery.bCmdAutoScanSchedule = 1;
}

void CDeviceManager::OnCmdGetSensor_9900(WPARAM wParam, LPARAM lParam)
{
    const BYTE* pData = RecordOf<BYTE>(lParam);
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetSensor_9900", static_cast<DWORD>(wParam), CAMERA_MASK_TOP);
    if (pDevice == nullptr || !StoreSensorRead(*pDevice, pData, kSensor9900Bytes))
        return;
    pDevice->stQuery.bCmdGetT9QY = 1;
    if (IsSelected(pDevice) && pDevice->stSensorCap.dwCameraUIType == CAMERA_UI_TYPE_D)
        Notify(DWORD_NOTIFYID_CAMERA_SENSOR_9900, 0);
}

void CDeviceManager::OnCmdGetSensor_9P031(WPARAM wParam, LPARAM lParam)
{
    const BYTE* pData = RecordOf<BYTE>(lParam);
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetSensor_9P031", static_cast<DWORD>(wParam), CAMERA_MASK_TOP);
    if (pDevice == nullptr || !StoreSensorRead(*pDevice, pData, kSensor9P031Bytes))
        return;
    pDevice->stQuery.bCmdGetT9QX = 1;
    const DWORD dwUIType = pDevice->stSensorCap.dwCameraUIType;
    if (IsSelected(pDevice) && (dwUIType == CAMERA_UI_TYPE_M || dwUIType == CAMERA_UI_TYPE_HD))
        Notify(DWORD_NOTIFYID_CAMERA_SENSOR_9P031, 0);
}

void CDeviceManager::OnCmdGetSensorT9QX(WPARAM wParam, LPARAM lParam)
{
    const SensorT9QXInfo* pInfo = RecordOf<SensorT9QXInfo>(lParam);
    // A recorder has no video to report on; its id here is the camera's mistake, not ours.
    if (GetDevice(pInfo->dwID, CAMERA_TYPE_PARENT) != nullptr) {
        VLOG(2, "CDeviceManager::OnCmdGetSensorT9QX: end } parent id:%d", static_cast<int>(pInfo->dwID));
        return;
    }
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetSensorT9QX", pInfo->dwID, CAMERA_MASK_VIDEO);
    if (pDevice == nullptr)
        return;
    pDevice->stVideoReport = *pInfo;
    pDevice->stQuery.bCmdGetVideoReport = 1;
}

void CDeviceManager::OnCmdGetWifi(WPARAM wParam, LPARAM lParam)
{
    const WifiRecord* pRecord = RecordOf<WifiRecord>(lParam);
    char szSerial[VIEWER_SERIAL_LEN] = {};
    std::memcpy(szSerial, pRecord->szSerial, LAN_SHORT_SERIAL_LEN);
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetWifi", szSerial, CAMERA_MASK_TOP);
    if (pDevice == nullptr)
        return;
    pDevice->pWifiRecord = pRecord;
    pDevice->stQuery.bCmdGetWirelessParam = 1;
    if (!IsSelected(pDevice))
        return;
    Notify(DWORD_NOTIFYID_CAMERA_NETWORK_PARAM, reinterpret_cast<UINT_PTR>(pDevice));
    if (pDevice->bWifiRescanPending) {
        pDevice->bWifiRescanPending = 0;
        Notify(DWORD_NOTIFYID_WIFI_RESCAN_DONE, 0);
    }
}

void CDeviceManager::OnCmdRecordNoAction(WPARAM wParam, LPARAM lParam)
{
    // Recording days and the two playback replies are for the playback pane.
}

void CDeviceManager::OnCmdGetRecordFinish(WPARAM wParam, LPARAM lParam)
{
    const DWORD dwID = static_cast<DWORD>(lParam);
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetRecordFinish", dwID, CAMERA_MASK_VIDEO);
    if (pDevice == nullptr)
        return;
    IDownloadRecordManager* pDownloads = GetDownloads();
    if (pDownloads != nullptr && pDownloads->IsDownloading(dwID))
        pDownloads->DownloadNext(dwID);
}

void CDeviceManager::OnCmdGetRecordTimeRange(WPARAM wParam, LPARAM lParam)
{
    const RecTimeInfo* pReply = RecordOf<RecTimeInfo>(lParam);
    // One camera asks for one range; any other count is the camera's error, not ours.
    if (pReply->dwCount != 1 || pReply->pRanges == nullptr) {
        VLOG(2, "CDeviceManager::OnCmdGetRecordTimeRange: end } count:%d", static_cast<int>(pReply->dwCount));
        return;
    }
    // The range is (camera id, start, end).
    const RecTimeRange& range = pReply->pRanges[0];
    DeviceInfo* pDevice = ReplyDevice("OnCmdGetRecordTimeRange", range.adwValue[0], CAMERA_MASK_VIDEO);
    if (pDevice == nullptr)
        return;
    pDevice->usMsVersion = static_cast<WORD>(wParam);
    pDevice->bRecordTimeValid = 1;
    pDevice->dwRecordTimeStart = range.adwValue[1];
    pDevice->dwRecordTimeEnd = range.adwValue[2];
}

CDeviceManager* GetDeviceManager()
{
    static CDeviceManager s_manager;
    return &s_manager;
}
