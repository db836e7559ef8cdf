// The viewer command engine: search, every request to a known camera, and the dispatch of
// the cameras' replies as numbered events.
//
// Packets are a 16-byte header (magic 0x90, code, total length, the client's id big-endian,
// the camera's id least significant byte first) and a body. They travel clear on ports
// 8101 (multicast) / 8102 (unicast) and enciphered on 8112 / 8113; a camera is always
// addressed the way its last search reply came.
//
// Everything runs on the user-interface thread: requests are framed into one shared send
// buffer and sent before anything else can frame another; replies are delivered to the
// subscribed windows synchronously, inside DispatchCmd.
#pragma once

#include "core/engineresponse.h"
#include "net/socketmanager.h"
#include "protocol/packet.h"
#include "protocol/viewerrecords.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CConfigFileManager;
class CConfigCameraType;

// Ports and groups of the viewer protocol.
constexpr WORD VIEWER_PORT_MULTICAST = 8101;
constexpr WORD VIEWER_PORT_UNICAST = 8102;
constexpr WORD VIEWER_PORT_MULTICAST_ENC = 8112;
constexpr WORD VIEWER_PORT_UNICAST_ENC = 8113;
constexpr DWORD VIEWER_GROUP_REQUEST = 0xEC050716;     // 236.5.7.22
constexpr DWORD VIEWER_GROUP_REPLY = 0xEC050717;       // 236.5.7.23
constexpr DWORD VIEWER_GROUP_REQUEST_ENC = 0xEC05077A; // 236.5.7.122
constexpr DWORD VIEWER_GROUP_REPLY_ENC = 0xEC05077B;   // 236.5.7.123

// Media ports named in the start-video request.
constexpr WORD MEDIA_PORT_LIVE = 8103;
constexpr WORD MEDIA_PORT_PLAYBACK = 8106;
constexpr WORD MEDIA_PORT_PLAYBACK_DOWNLOAD = 8107;
constexpr WORD MEDIA_PORT_PLAYBACK_OPT = 8110;
constexpr WORD MEDIA_PORT_PLAYBACK_OPT_DOWNLOAD = 8111;

constexpr BYTE VIEWER_MAGIC = 0x90;
constexpr BYTE VIEWER_MAGIC_IGNORED = 0x5B; // "["
constexpr std::size_t VIEWER_HEADER_LEN = 16;
constexpr std::size_t VIEWER_SEND_BUFFER_LEN = 2560;
constexpr std::size_t VIEWER_MAX_BODY_LEN = VIEWER_SEND_BUFFER_LEN - VIEWER_HEADER_LEN;
constexpr int VIEWER_MAX_AUDIO_FRAME = 120;
constexpr std::size_t ONLINE_COMMAND_LEN = 32;

// Request codes.
enum : BYTE {
    VIEWER_CMD_SEARCH = 1,
    VIEWER_CMD_SET_NAME = 4,
    VIEWER_CMD_SET_PASSWORD = 6,
    VIEWER_CMD_ONLINE = 8,
    VIEWER_CMD_VERSION = 9,
    VIEWER_CMD_DSERVER_CONNECT = 16,
    VIEWER_CMD_DSERVER_QUERY = 17,
    VIEWER_CMD_SET_NAS = 18,
    VIEWER_CMD_GET_NAS = 19,
    VIEWER_CMD_SET_MAIL = 24,
    VIEWER_CMD_GET_MAIL = 25,
    VIEWER_CMD_SET_DO = 26,
    VIEWER_CMD_GET_DO = 27,
    VIEWER_CMD_GET_NTP = 28,
    VIEWER_CMD_SET_NTP = 29,
    VIEWER_CMD_SET_RECORD_SD = 35,
    VIEWER_CMD_GET_RECORD_SD = 36,
    VIEWER_CMD_SD_OPERATION = 39,
    VIEWER_CMD_NETWORK_EXTEND = 43,
    VIEWER_CMD_AUTOSCAN_SCHEDULE = 47,
    VIEWER_CMD_CAMERA_PORT = 50,
    VIEWER_CMD_START_VIDEO = 65,
    VIEWER_CMD_STOP_VIDEO = 66,
    VIEWER_CMD_RECORD_TIME_ONCE = 68,
    VIEWER_CMD_SD_INFO = 69,
    VIEWER_CMD_SD_RECORD_STATE = 73,
    VIEWER_CMD_UPNP_CONNECT = 74,
    VIEWER_CMD_UPNP_QUERY = 75,
    VIEWER_CMD_AUDIO = 78,
    VIEWER_CMD_RECORD_TIME_RELIABLE = 89,
    VIEWER_CMD_DOME = 106,
    VIEWER_CMD_RECORD_TIME_ACK = 217,
};

// Events raised to the windows subscribed through RegisterResponse. Unless an event says
// otherwise, wParam is the camera id and lParam the value or the record.
enum : BYTE {
    VIEWER_EVT_SCAN_FINISH = 0,   // wParam 1, lParam 0
    VIEWER_EVT_SENSOR_CAP = 1,    // SensorCapInfo
    VIEWER_EVT_VIDEO_PARAM = 2,   // SensorCapInfo
    VIEWER_EVT_VOLUME = 3,        // wParam 0, VolumeInfo
    VIEWER_EVT_THREE_VALUES = 4,  // ThreeValueReport
    VIEWER_EVT_SENSOR_T9QX = 5,   // SensorT9QXInfo
    VIEWER_EVT_PTZ = 6,           // wParam PresetInfo, lParam the camera id
    VIEWER_EVT_DSERVER_LINK = 7,  // the result byte, sign-extended
    VIEWER_EVT_SEARCH = 8,        // wParam 0, SearchItem
    VIEWER_EVT_SET_NAME = 9,      // no payload
    VIEWER_EVT_START_VIDEO = 10,  // wParam 0, StartVideoReply
    VIEWER_EVT_REPORT_43 = 11,    // 32-bit value
    VIEWER_EVT_VERSION = 12,      // VersionInfo
    VIEWER_EVT_SET_PASSWORD = 13, // 32-bit result
    VIEWER_EVT_DSERVER_STATE = 14,
    VIEWER_EVT_REPORT_8E = 15,
    VIEWER_EVT_REPORT_8F = 16,
    VIEWER_EVT_REPORT_97 = 17,
    VIEWER_EVT_PRESET = 18, // wParam PresetInfo, lParam the camera id
    VIEWER_EVT_REPORT_72 = 19,
    VIEWER_EVT_NTP = 20, // NtpInfo
    VIEWER_EVT_SET_NTP = 21,
    VIEWER_EVT_TIME_FORMAT = 22, // wParam the format, lParam the camera id
    VIEWER_EVT_REPORT_9F = 23,   // Report9FInfo
    VIEWER_EVT_REPORT_9E = 24,
    VIEWER_EVT_REPORT_A2 = 25, // ReportA2Info
    VIEWER_EVT_RECORD_SD = 26, // RecordInfo
    VIEWER_EVT_SD_RECORD_STATE = 27,
    VIEWER_EVT_MOTION = 28,        // wParam 0, MotionInfo
    VIEWER_EVT_SENSOR_REPORT = 29, // wParam 0, SensorReportInfo
    VIEWER_EVT_UPNP = 30,          // UpnpInfo
    VIEWER_EVT_SD_OPERATION = 31,  // RecordInfo (SD)
    VIEWER_EVT_REPORT_B5 = 33,
    VIEWER_EVT_REPORT_CC = 34,
    VIEWER_EVT_REPORT_B3 = 35,
    VIEWER_EVT_REPORT_A9 = 36,
    VIEWER_EVT_REPORT_B6 = 37,
    VIEWER_EVT_TALK_STATE = 38, // lParam the state word
    VIEWER_EVT_SD_INFO = 39,    // SDInfo
    VIEWER_EVT_REPORT_CD = 41,  // ReportCDInfo
    VIEWER_EVT_NETWORK_EXTEND = 42,
    VIEWER_EVT_RECORD_NAS = 43, // RecordInfo
    VIEWER_EVT_MAIL = 44,       // MailInfo
    VIEWER_EVT_SET_MAIL = 45,
    VIEWER_EVT_REPORT_AD = 46,
    VIEWER_EVT_DO = 47,                // DoInfo
    VIEWER_EVT_ALARM_TIME = 48,        // wParam AlarmTimeInfo, lParam the camera id
    VIEWER_EVT_AUTOSCAN_SCHEDULE = 49, // AutoScanSchedule
    VIEWER_EVT_AUTOSCAN_STATE = 50,    // wParam the state, lParam the camera id
    VIEWER_EVT_DOME = 51,
    VIEWER_EVT_PORT = 52,
    VIEWER_EVT_REPORT_80000040 = 53, // wParam the value, lParam the camera id
    VIEWER_EVT_VIDEO_SEQUENCE = 55,
    VIEWER_EVT_SENSOR_9900 = 56,     // lParam the reply's five words as received
    VIEWER_EVT_SENSOR_9P031 = 57,    // the same
    VIEWER_EVT_SNAPSHOT_SERVER = 58, // wParam 0, SnapshotServerInfo
    VIEWER_EVT_RTSP = 59,            // wParam 0, RtspInfo
};

// Online command codes.
constexpr DWORD ONLINE_COLOR = 1;
constexpr DWORD ONLINE_SENSOR_REPORT = 4;
constexpr DWORD ONLINE_PTZ = 0x10;
constexpr DWORD ONLINE_QUERY_CAPABILITY = 0x20;
constexpr DWORD ONLINE_SENSOR_CAP = 0x40;
constexpr DWORD ONLINE_ACCEPTED = 0x80;
constexpr DWORD ONLINE_SENSOR_CONTROL = 0x100;
constexpr DWORD ONLINE_TALK_STATE = 0x101;
constexpr DWORD ONLINE_VIDEO_PARAM = 0x400;
constexpr DWORD ONLINE_MICROPHONE = 0x800;
constexpr DWORD ONLINE_SENSOR_T9QX = 0x2000;
constexpr DWORD ONLINE_SYSTEM_VALUE = 0x4000;
constexpr DWORD ONLINE_VIDEO_QUALITY = 0x10000;
constexpr DWORD ONLINE_AUDIO_CONTROL = 0x20000;
constexpr DWORD ONLINE_VIDEO_REPORT = 0x400000;
constexpr DWORD ONLINE_QUALITY_APPLY = 0x800000;
constexpr DWORD ONLINE_MOTION = 0x1000000;
constexpr DWORD ONLINE_THREE_VALUES = 0x4000000;
constexpr DWORD ONLINE_TIME_SETTING = 0x8000000;
constexpr DWORD ONLINE_SYSTEM_SETTING = 0x10000000;
// The system setting's operation (the low byte of its word): 1 restarts the camera.
constexpr BYTE SYSTEM_SETTING_REBOOT = 1;
// SD operation (request 39) 1 removes every recording on the card.
constexpr BYTE SD_OPERATION_CLEAR = 1;
constexpr DWORD ONLINE_GET_VOLUME = 0x20000000;
constexpr DWORD ONLINE_VOLUME = 0x40000000;
constexpr DWORD ONLINE_MICROPHONE_CHANGED = 0x80000000;
constexpr DWORD ONLINE_TIME_FORMAT = 0x80000001;
constexpr DWORD ONLINE_ALARM_TIME = 0x80000008;
constexpr DWORD ONLINE_AUTOSCAN_STATE = 0x80000020;
constexpr DWORD ONLINE_REPORT_80000040 = 0x80000040;
constexpr DWORD ONLINE_RTSP = 0x80000080;
constexpr DWORD ONLINE_SNAPSHOT_SERVER = 0x80000081;
constexpr BYTE ONLINE_KIND_REPLY = 2;
constexpr BYTE ONLINE_KIND_PRESET_LIST = 15;

// PTZ words of online command 16.
constexpr DWORD PTZ_START_SCAN_1 = 0x20010000;
constexpr DWORD PTZ_START_SCAN_2 = 0x20030000;
constexpr DWORD PTZ_STOP_SCAN = 0x20020000;
constexpr DWORD PTZ_GET_PRESETS = 0x20050000;
constexpr BYTE PTZ_CLASS_MOVE = 0x40;
constexpr BYTE PTZ_CLASS_PRESET = 0xC0;
constexpr BYTE PTZ_PRESET_SET = 0x03;
constexpr BYTE PTZ_PRESET_DELETE = 0x05;
constexpr BYTE PTZ_PRESET_GOTO = 0x07;
constexpr DWORD PTZ_SUBCODE_VALUES = 0x3008;
constexpr std::size_t PTZ_DATA_LEN = 16;

constexpr DWORD MakePtzWord(BYTE byClass, BYTE byCommand, BYTE byData1, BYTE byData2)
{
    return (DWORD(byClass) << 24) | (DWORD(byCommand) << 16) | (DWORD(byData1) << 8) | byData2;
}
constexpr DWORD MakeSensorControlWord(BYTE bySubCommand, BYTE byControl, BYTE byExtra)
{
    return bySubCommand | (DWORD(byControl) << 8) | (DWORD(byExtra) << 16);
}
// The value the sensor-setting reads carry and their replies echo.
constexpr DWORD SENSOR_READ_VALUE = 174;

// The socket layer as the engine uses it; the default goes to the process-wide socket
// manager. Tests supply one that records what would be sent.
class IViewerSocketLayer {
public:
    virtual ~IViewerSocketLayer() = default;
    virtual SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, ISocketReceiver* pReceiver) = 0;
    virtual SocketGroup* CreateSweepGroup(WORD usPort, const BYTE* pPacket, int nLen,
                                          ISocketReceiver* pReceiver) = 0;
    virtual void StartSweep(SocketGroup* pGroup) = 0;
    // Sends one copy out of every socket of the group.
    virtual int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup) = 0;
    // The PC's address on the interface of a socket (its message number).
    virtual DWORD GetLocalAddress(UINT hSocket) = 0;
    // The PC's first local address, host order; 0 when it has none.
    virtual DWORD GetFirstLocalAddress() = 0;
};

// The LAN engine's records that SearchKnownDevices consults for a camera's second address.
class ILanRouteLookup {
public:
    virtual ~ILanRouteLookup() = default;
    // The two status flags of the camera's Wi-Fi record; false when there is no record.
    virtual bool GetWifiStatus(const char* szSerial, DWORD& dwStatus1, DWORD& dwStatus2) = 0;
    // The address (host order) of the camera's network-parameter record; false when none.
    virtual bool GetNetParamAddress(const char* szSerial, DWORD& dwIP) = 0;
};

// The record-time engine, which receives the record-time packets that viewer replies carry.
class IRecordTimeSink {
public:
    virtual ~IRecordTimeSink() = default;
    virtual void OnViewerAck(DWORD dwID, const BYTE* pBody, DWORD nLen) = 0;  // reply 0xD9
    virtual void OnViewerData(DWORD dwID, const BYTE* pBody, DWORD nLen) = 0; // reply 0x59
    virtual void DispatchCmd(const BYTE* pData, DWORD nLen, DWORD dwID) = 0;  // reply 0xC4
};

// What the engine is built with; null members take the process-wide objects.
struct EngCmdDeps {
    IViewerSocketLayer* pSockets = nullptr;
    CConfigFileManager* pConfig = nullptr;
    CConfigCameraType* pCameraTypes = nullptr;
    ILanRouteLookup* pLanRoutes = nullptr;
};

class CEngCmd;
using ViewerReplyHandler = void (CEngCmd::*)(const ViewerPacket&);
struct ViewerReplyEntry {
    BYTE byCode;
    ViewerReplyHandler pfnHandler;
};

class CEngCmd : public CEngResponse, public ISocketReceiver {
public:
    explicit CEngCmd(const EngCmdDeps& deps = EngCmdDeps());
    ~CEngCmd() override;

    // Creates the four socket groups and fixes the client's id. Returns 1.
    int Init();

    // Frames a request into the shared send buffer; the packet must be sent before the next
    // one is framed. A body over 2544 bytes throws CParserException.
    BYTE* BuildCmd(BYTE byCode, DWORD dwSrcID, DWORD dwDestID, const BYTE* pBody, std::size_t nBodyLen,
                   WORD* pwTotalLen);
    // Sends a framed request to one camera the way its last search reply came; 0 (nothing
    // sent) when the camera has no search item of its own.
    int SendToDevice(BYTE* pPacket, WORD wLen, DWORD dwDVIPID);

    int SearchByMulticast();
    int SearchKnownDevices();
    void StartSweep();

    // Frames and sends online command dwCode with five parameters.
    int SendOnlineCommand(DWORD dwDVIPID, DWORD dwCode, DWORD dwParam1 = 0, DWORD dwParam2 = 0,
                          DWORD dwParam3 = 0, DWORD dwParam4 = 0, DWORD dwParam5 = 0);

    // Validates one datagram and hands it to its reply handler. Deciphers it in place when
    // bEncrypted is set.
    void DispatchCmd(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, DWORD bMulticast, UINT hSocket,
                     BYTE bEncrypted);

    // ISocketReceiver
    void OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT uMsg) override;
    void OnSweepComplete(int nCode, SocketGroup* pGroup) override;

    // --- Requests (each returns what SendToDevice returns) ---
    // byStreamType 0 live, 1 and 2 the playback streams; bDownload picks the download port.
    int Cmd_StartVideo(DWORD dwDVIPID, const BYTE* pbEncryptedID, BYTE byStreamType, BOOL bDownload);
    int Cmd_StopVideo(const BYTE* pbEncryptedID, DWORD dwDVIPID);
    int Cmd_SendAudio(DWORD dwDVIPID, const BYTE* pbFrame, int nLen);
    int Cmd_SetName(DWORD dwDVIPID, const std::u16string& strName, BYTE byExtra);
    int Cmd_SetPassword(DWORD dwDVIPID, const BYTE (&pbOld)[PASSWORD_LEN], const BYTE (&pbNew)[PASSWORD_LEN]);
    int Cmd_GetVersion(DWORD dwDVIPID);
    int Cmd_DServerConnect(DWORD dwDVIPID, BYTE bConnect);
    int Cmd_DServerQuery(DWORD dwDVIPID);
    int Cmd_UpnpConnect(DWORD dwDVIPID, BYTE bConnect);
    int Cmd_UpnpQuery(DWORD dwDVIPID);
    int Cmd_CameraPort(DWORD dwDVIPID, WORD usValue1, WORD usValue2);
    int Cmd_GetNetworkExtend(DWORD dwDVIPID, BYTE byType);
    int Cmd_GetSDInfo(DWORD dwDVIPID);
    int Cmd_SetRecordSD(DWORD dwDVIPID, const RecordInfo& info);
    int Cmd_GetRecordSD(DWORD dwDVIPID);
    int Cmd_GetSDRecordState(DWORD dwDVIPID);
    int Cmd_SDOperation(DWORD dwDVIPID, BYTE byOperation);
    int Cmd_SetRecordNas(DWORD dwDVIPID, const RecordInfo& info);
    int Cmd_GetRecordNas(DWORD dwDVIPID);
    int Cmd_SetMail(DWORD dwDVIPID, const MailInfo& info);
    int Cmd_GetMail(DWORD dwDVIPID);
    int Cmd_SetDo(DWORD dwDVIPID, const DoInfo& info);
    int Cmd_GetDo(DWORD dwDVIPID);
    int Cmd_GetNTP(DWORD dwDVIPID);
    int Cmd_SetNTP(DWORD dwDVIPID, const NtpInfo& info);
    int Cmd_AutoScanSchedule(DWORD dwDVIPID, const AutoScanSchedule& schedule);
    int Cmd_SetDome(DWORD dwDVIPID, const DomeInfo& info);
    // Carriers of the record-time engine's packets.
    int Cmd_RecordTimeOnce(DWORD dwDVIPID, const BYTE* pbPacket, std::size_t nLen);
    int Cmd_RecordTimeReliable(DWORD dwDVIPID, DWORD dwSequence, const BYTE* pbPacket, std::size_t nLen);
    int Cmd_RecordTimeAck(DWORD dwDVIPID, DWORD dwSequence);

    // --- Online commands ---
    int Cmd_AudioControl(DWORD dwDVIPID, DWORD dwOpen, DWORD dwFlags);
    int Cmd_VideoQuality(DWORD dwDVIPID, DWORD dwValue);
    int Cmd_QualityApply(DWORD dwDVIPID);
    int Cmd_QueryVideoReport(DWORD dwDVIPID);
    int Cmd_SystemSetting(DWORD dwDVIPID, BYTE byFirst, BYTE bySecond);
    int Cmd_GetTimeFormat(DWORD dwDVIPID);
    int Cmd_SetTimeFormat(DWORD dwDVIPID, BYTE byFormat);
    int Cmd_SetColor(DWORD dwDVIPID, BYTE byValue1, BYTE byValue2);
    int Cmd_MicrophoneChanged(DWORD dwDVIPID);
    int Cmd_GetVolume(DWORD dwDVIPID);
    int Cmd_SetMicrophone(DWORD dwDVIPID, BYTE bVolMicrophone, BOOL bMicEnable, BYTE bMicrophoneType);
    int Cmd_QueryCapability(DWORD dwDVIPID);
    int Cmd_SetSystemValue(DWORD dwDVIPID, DWORD dwValue);
    int Cmd_TimeSetting(DWORD dwDVIPID, DWORD dwValue1, DWORD dwValue2);
    // pbData: 16 bytes (a preset name) or null for zeros.
    int Cmd_PTZControl(DWORD dwDVIPID, DWORD dwPtzWord, const BYTE* pbData = nullptr);
    int Cmd_PTZMove(DWORD dwDVIPID, BYTE byClass, BYTE byCommand, BYTE bySpeed1, BYTE bySpeed2);
    int Cmd_PTZRelease(DWORD dwDVIPID);
    int Cmd_PTZStartScan(DWORD dwDVIPID);
    int Cmd_PTZStopScan(DWORD dwDVIPID);
    int Cmd_GetPreset(DWORD dwDVIPID);
    int Cmd_SetPreset(DWORD dwDVIPID, BYTE byNumber, const std::string& strName);
    int Cmd_DeletePreset(DWORD dwDVIPID, BYTE byNumber);
    int Cmd_GotoPreset(DWORD dwDVIPID, BYTE byNumber);
    int Cmd_GetMotion(DWORD dwDVIPID);
    int Cmd_SetMotion(DWORD dwDVIPID, const MotionInfo& info);
    int Cmd_AlarmTime(DWORD dwDVIPID, DWORD dwOperation, DWORD dwEnable, DWORD dwPeriod);
    int Cmd_GetAutoScanState(DWORD dwDVIPID);
    int Cmd_SensorControl(DWORD dwDVIPID, DWORD dwControl, DWORD dwValue);
    int Cmd_ControlSnapshotServer(DWORD dwDVIPID, DWORD ulOperation, BYTE ucEnable, BYTE ucMode, WORD usParam,
                                  DWORD ulServerIP, DWORD ulServerPort, DWORD ulSessionMode);
    int Cmd_ControlRTSP(DWORD dwDVIPID, DWORD ulOperation, DWORD ulEnable, DWORD ulSessionMode,
                        DWORD ulSubSessionMode);

    // --- Search items ---
    // The item requests to a camera go by: a camera or a channel, else a recorder.
    SearchItem* FindDeviceItem(DWORD dwDVIPID) const;
    // Any item with this id: recorders first, then cameras and channels.
    SearchItem* FindAnyItem(DWORD dwDVIPID) const;
    std::size_t GetItemCount() const { return m_vecItems.size(); }
    SearchItem* GetItem(std::size_t nIndex) const { return m_vecItems[nIndex].get(); }

    // --- Per-camera records (null until the camera's first reply of the kind) ---
    const UpnpInfo* GetUpnpInfo(DWORD dwID) const { return m_listUpnp.Find(dwID); }
    const RecordInfo* GetRecordSD(DWORD dwID) const { return m_listRecordSD.Find(dwID); }
    const RecordInfo* GetRecordNas(DWORD dwID) const { return m_listRecordNas.Find(dwID); }
    const MailInfo* GetMailInfo(DWORD dwID) const { return m_listMail.Find(dwID); }
    const DoInfo* GetDoInfo(DWORD dwID) const { return m_listDo.Find(dwID); }
    const NtpInfo* GetNtpInfo(DWORD dwID) const { return m_listNtp.Find(dwID); }
    const MotionInfo* GetMotionInfo(DWORD dwID) const { return m_listMotion.Find(dwID); }
    const VolumeInfo* GetVolumeInfo(DWORD dwID) const { return m_listVolume.Find(dwID); }
    const SensorCapInfo* GetSensorCap(DWORD dwID) const { return m_listSensorCap.Find(dwID); }
    const SensorT9QXInfo* GetSensorT9QX(DWORD dwID) const { return m_listT9QX.Find(dwID); }
    const SensorReportInfo* GetSensorReport(DWORD dwID) const { return m_listSensorReport.Find(dwID); }
    const TalkInfo* GetTalkInfo(DWORD dwID) const { return m_listTalk.Find(dwID); }
    const PresetInfo* GetPresetInfo(DWORD dwID) const { return m_listPreset.Find(dwID); }
    const Report9FInfo* GetReport9F(DWORD dwID) const { return m_list9F.Find(dwID); }
    const ReportA2Info* GetReportA2(DWORD dwID) const { return m_listA2.Find(dwID); }
    const ReportCDInfo* GetReportCD(DWORD dwID) const { return m_listCD.Find(dwID); }

    DWORD GetLocalID() const { return m_dwLocalID; }
    DWORD GetAudioSequence() const { return m_dwAudioSequence; }
    SocketGroup* GetGroup(WORD usPort) const;

    // Wiring to the engines built after this one.
    void SetLanRouteLookup(ILanRouteLookup* pLookup) { m_pLanRoutes = pLookup; }
    void SetRecordTimeSink(IRecordTimeSink* pSink) { m_pRecordTime = pSink; }
    // Whether a camera belongs to the group whose preset 97 carries no name.
    void SetPresetNamelessCheck(std::function<bool(DWORD)> fnCheck)
    {
        m_fnPresetNameless = std::move(fnCheck);
    }

    // The sender address that replaces "mdsender" in a mail reply.
    static const char* GetDefaultMailSender();

protected:
    // The reply table, walked in order and ended by code 0.
    virtual const ViewerReplyEntry* GetReplyTable() const;

public:
    // --- Reply handlers (members so that a derived table can reuse them) ---
    // Replies that carry nothing, one number (signed ones widened with their sign), or one
    // small record read field after field in wire order: raised as they are.
    template <BYTE byEvent> void ResCmd_Event(const ViewerPacket& packet);
    template <BYTE byEvent, typename Number> void ResCmd_Number(const ViewerPacket& packet);
    template <BYTE byEvent, auto... pFields> void ResCmd_Record(const ViewerPacket& packet);
    void ResCmd_ViewerCmd(const ViewerPacket& packet);
    void ResCmd_Search(const ViewerPacket& packet);
    void ResCmd_StartVideo(const ViewerPacket& packet);
    void ResCmd_Report72(const ViewerPacket& packet);
    void ResCmd_GetNTP(const ViewerPacket& packet);
    void ResCmd_Report9F(const ViewerPacket& packet);
    void ResCmd_ReportA2(const ViewerPacket& packet);
    void ResCmd_GetRecordInfo(const ViewerPacket& packet);
    void ResCmd_GetUpnpState(const ViewerPacket& packet);
    void ResCmd_SDOperation(const ViewerPacket& packet);
    void ResCmd_ReportA9(const ViewerPacket& packet);
    void ResCmd_RecordTimePacket(const ViewerPacket& packet);
    void ResCmd_RecordTimeData(const ViewerPacket& packet);
    void ResCmd_RecordTimeAck(const ViewerPacket& packet);
    void ResCmd_ReportCD(const ViewerPacket& packet);
    void ResCmd_GetNetworkExtend(const ViewerPacket& packet);
    void ResCmd_GetRecordNasInfo(const ViewerPacket& packet);
    void ResCmd_GetMail(const ViewerPacket& packet);
    void ResCmd_GetDoInfo(const ViewerPacket& packet);
    void ResCmd_AutoScanSchedule(const ViewerPacket& packet);

private:
    // Online replies; pData starts after the online code.
    void ResViewer_PresetList(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_SensorReport(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_PTZ(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_SensorCap(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_SensorControl(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_TalkState(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_VideoParam(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_SensorT9QX(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_Motion(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_ThreeValues(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_Volume(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_TimeFormat(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_AlarmTime(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_AutoScanState(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_Report80000040(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_ControlRTSP(DWORD dwID, const BYTE* pData, std::size_t nLen);
    void ResViewer_ControlSnapshotServer(DWORD dwID, const BYTE* pData, std::size_t nLen);

    // Frames a request for one camera and sends it.
    int SendRequest(DWORD dwDVIPID, BYTE byCode, const BYTE* pBody, std::size_t nBodyLen);
    int SendEmptyRequest(DWORD dwDVIPID, BYTE byCode) { return SendRequest(dwDVIPID, byCode, nullptr, 0); }
    // Sends the framed search packet to every known camera of one cipher.
    void SendSearchToKnown(const BYTE* pPacket, WORD wLen, bool bEncrypted);
    void RaiseEvent(BYTE byEvent, WPARAM wParam, LPARAM lParam) { DeliverResponse(byEvent, wParam, lParam); }

    // Search reply helpers.
    SearchItem* FindItemWithChildren(DWORD dwDVIPID) const;
    SearchItem* FindItemWithoutChildren(DWORD dwDVIPID) const;
    void ReadName(CPacketReader& reader, char16_t (&szName)[VIEWER_NAME_CHARS + 1]);
    void ReadChildren(CPacketReader& reader, SearchItem& parent);

    IViewerSocketLayer* GetSockets();
    CConfigFileManager* GetConfig();
    UINT GetAnsiCodePage();

    std::unique_ptr<IViewerSocketLayer> m_pOwnSockets;
    IViewerSocketLayer* m_pSockets;
    CConfigFileManager* m_pConfig;
    CConfigCameraType* m_pCameraTypes;
    ILanRouteLookup* m_pLanRoutes;
    IRecordTimeSink* m_pRecordTime = nullptr;
    std::function<bool(DWORD)> m_fnPresetNameless;

    SocketGroup* m_pGroupMulticast = nullptr; // port 8101
    SocketGroup* m_pGroupUnicast = nullptr;   // port 8102
    DWORD m_dwGroupRequest = 0;               // 236.5.7.22
    DWORD m_dwAudioSequence = 0;
    SocketGroup* m_pGroupMulticastEnc = nullptr; // port 8112
    SocketGroup* m_pGroupUnicastEnc = nullptr;   // port 8113
    DWORD m_dwGroupRequestEnc = 0;               // 236.5.7.122
    DWORD m_dwLocalID = 0;

    BYTE m_abSendBuffer[VIEWER_SEND_BUFFER_LEN] = {};

    std::vector<std::unique_ptr<SearchItem>> m_vecItems;
    // Looked up for every reply: with a thousand cameras a scan each time was a large share of
    // the steady load. Items are never dropped and keep the id they were made with; the
    // parents are the items that ever carried a channel list (few).
    std::unordered_map<DWORD, SearchItem*> m_mapItems;
    std::vector<SearchItem*> m_vecParents;
    // Child arrays; an array that had to grow is kept, so no copy handed out dangles.
    std::vector<std::unique_ptr<SearchItem[]>> m_vecChildArrays;

    CCameraRecordList<UpnpInfo> m_listUpnp;
    CCameraRecordList<RecordInfo> m_listRecordSD;
    CCameraRecordList<RecordInfo> m_listRecordNas;
    CCameraRecordList<MailInfo> m_listMail;
    CCameraRecordList<DoInfo> m_listDo;
    CCameraRecordList<NtpInfo> m_listNtp;
    CCameraRecordList<MotionInfo> m_listMotion;
    CCameraRecordList<VolumeInfo> m_listVolume;
    CCameraRecordList<SensorCapInfo> m_listSensorCap;
    CCameraRecordList<SensorT9QXInfo> m_listT9QX;
    CCameraRecordList<SensorReportInfo> m_listSensorReport;
    CCameraRecordList<TalkInfo> m_listTalk;
    CCameraRecordList<PresetInfo> m_listPreset;
    CCameraRecordList<Report9FInfo> m_list9F;
    CCameraRecordList<ReportA2Info> m_listA2;
    CCameraRecordList<ReportCDInfo> m_listCD;
};

// The process-wide engine, created on first use.
CEngCmd* GetEngCmd();
