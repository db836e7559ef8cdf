// Records of the viewer protocol: the search items, the view of a received packet, and the
// records that the replies become.
//
// Records handed to subscribers by pointer are either per-camera records (owned by CEngCmd
// for the life of the process, updated in place by later replies) or live on the reply
// handler's stack (valid only during the event). Each record's comment says which.
// Text fields keep one byte more than their wire width so that they are always zero-ended.
#pragma once

#include "platform/wintypes.h"
#include "protocol/password.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

constexpr int VIEWER_NAME_CHARS = 32;
constexpr std::size_t VIEWER_NAME_BYTES = 32;
constexpr std::size_t VIEWER_SERIAL_LEN = 20;

// One received command packet as the dispatcher hands it to a reply handler; points into
// the receive buffer and is valid only during the call.
struct ViewerPacket {
    const BYTE* pBody = nullptr;
    DWORD nBodyLen = 0;
    DWORD dwIP = 0;  // sender, host order
    WORD usPort = 0; // sender, host order
    DWORD bMulticast = 0;
    DWORD dwSrcID = 0; // the camera's dwDVIPID
    UINT hSocket = 0;  // the socket (its message number) it arrived on
    BYTE bEncrypted = 0;
};

// One camera (or one channel of a recorder) as its last search reply described it.
// Owned by CEngCmd for the life of the process; the device manager copies it.
struct SearchItem {
    DWORD dwDVIPID;
    char16_t szName[VIEWER_NAME_CHARS + 1];
    char szSerial[VIEWER_SERIAL_LEN + 1];

    // Capability byte, kept whole and bit by bit.
    BYTE byCapability;
    DWORD bHasSD;          // bit 0
    DWORD bUnicastCapable; // bit 1
    DWORD bHasWifi;        // bit 2
    DWORD bHasChildList;   // bit 3
    DWORD bHas3G;          // bit 4

    BYTE byFlagValue; // flags byte, bits 0 to 3
    BYTE bFlagBit4;   // flags byte, bit 4
    BYTE abInfo[5];   // the five single bytes before bEncryptVersion
    BYTE bEncryptVersion;
    DWORD dwValue1;
    DWORD dwValue2;
    WORD usValue3Low;
    WORD usValue3High;
    BYTE pszEncryptedSourceId[PASSWORD_CHECK_LEN];
    DWORD dwCameraType; // normalised: 0 -> 5, 1..3 -> 1
    WORD usPort;
    BYTE byValue19;
    BYTE byValue20;
    // Optional tail.
    DWORD ulSequenceId[2];
    BYTE byOptional;
    BYTE byFeature;
    BYTE bFeatureBit3;
    DWORD dwOptional;

    // A channel's own entry fields that have no place above.
    BYTE abChildCheck[PASSWORD_CHECK_LEN];
    BYTE byChildValue;

    // Route of the last reply.
    DWORD dwIP; // host order
    UINT hSocket;
    DWORD bMulticast;
    BYTE bEncrypted;
    DWORD bFoundByMulticast;
    DWORD bFoundBySweep;
    DWORD dwMulticastTick; // tick of the last answer by multicast
    DWORD dwSweepTick;     // tick of the last answer by unicast
    DWORD bMissing;

    // 0 for a camera, n for a recorder with n channels, -1 for a channel.
    LONG nChildCount;
    LONG nChildCapacity; // places in pChildren
    SearchItem* pChildren;
    SearchItem* pParent;
};

// Session mode word of the recording, snapshot-server and RTSP records.
constexpr DWORD MakeSessionMode(DWORD dwBitrate, DWORD dwFrameRate, DWORD dwResolution)
{
    return (dwBitrate << 16) | ((dwFrameRate & 0x7F) << 9) | ((dwResolution > 8 ? 8 : dwResolution) << 2);
}
constexpr BYTE SessionModeResolution(DWORD dwMode)
{
    return static_cast<BYTE>((dwMode >> 2) & 0x7F);
}
constexpr BYTE SessionModeFrameRate(DWORD dwMode)
{
    return static_cast<BYTE>((dwMode >> 9) & 0x7F);
}
constexpr WORD SessionModeBitrate(DWORD dwMode)
{
    return static_cast<WORD>(dwMode >> 16);
}

// Start-video reply (event 10), on the stack.
struct StartVideoReply {
    DWORD dwID;
    DWORD dwValue; // 2 when the reply does not carry it
    DWORD dwStatus;
    BYTE bFlag; // bit 0 of the optional byte
};

// Version reply (event 12), on the stack: the reply's second field first.
struct VersionInfo {
    char szVersion[16];
    char szOther[16];
};

// UPnP state (event 30), per camera.
struct UpnpInfo {
    DWORD dwID;
    BYTE abValue[3];
    BYTE byLow;  // low 4 bits of the fourth byte
    BYTE byHigh; // high 4 bits of the fourth byte
    WORD usValue1;
    WORD usValue2;
};

// Camera port reply (event 52), on the stack.
struct PortInfo {
    DWORD dwValue;
    WORD usPort1;
    WORD usPort2;
    WORD usPort3;
};

// Extended network information (event 42), on the stack: the body copied raw.
constexpr std::size_t NETWORK_EXTEND_LEN = 320;
struct NetworkExtendInfo {
    BYTE abData[NETWORK_EXTEND_LEN];
};

// SD-card information (event 39), on the stack.
struct SDInfo {
    DWORD dwCapacity;
    DWORD dwRecorded;
    DWORD dwRemaining;
    BYTE byState;
};

// SD-card and NAS recording settings (events 26 and 43, and 31 for SD), per camera, one
// list for each. SD and NAS share the record but not the wire layout (see the senders).
struct RecordInfo {
    DWORD dwID;
    BYTE abBlock[16]; // written, never part of a reply
    DWORD dwValueA;
    DWORD dwValueB; // NAS only
    BYTE byC;
    BYTE byD; // SD: right after C; NAS: after the trailing bytes
    char szNasPath[33];
    char szNasAccount[17];
    char szNasPassword[17];
    BYTE abSingle[3];
    BYTE abThree[3];
    BYTE byOne;
    BYTE abFour[4];
    BYTE abSchedule[24];
    BYTE abTrailing[5];
    BYTE byTrailingLast; // SD: replaced by the SD-operation result
    DWORD dwSessionMode;
    BYTE byFinal; // NAS write only
};

// Mail alarm settings (event 44), per camera.
constexpr int MAIL_MAX_RECIPIENTS = 5;
constexpr std::size_t MAIL_FIELD_LEN = 64;
struct MailInfo {
    DWORD dwID;
    char szServer[65];
    char szServer2[65];
    BYTE byValue;
    char szSender[65];
    char szSender2[65];
    BYTE abFlag[5]; // bits 0 to 3, then "16 or more"
    char szText1[129];
    char szText2[65];
    char szMessage[257];
    signed char nRecipients; // as the camera says; at most 5 are kept
    char aszRecipient[MAIL_MAX_RECIPIENTS][65];
};

// Alarm outputs (event 47), per camera: triggers region 1, 2, 3 and digital input.
struct DoInfo {
    DWORD dwID;
    BYTE abDo[4];
    BYTE abSms[4];
};

// Time and NTP settings (event 20), per camera.
struct NtpInfo {
    DWORD dwID;
    WORD usNtpSync;
    short nTimeZone; // minutes
    char szNtpServer[33];
    BYTE byDstMode; // 0 off, 1 by date, 2 by weekday
    DWORD dwMode1Start;
    DWORD dwMode1End;
    DWORD dwMode2Start;
    DWORD dwMode2End;
    BYTE byFinal; // 1 with the server name NTP_SERVER_DSERVER
};
// The server name that asks for the D-server's time instead of an NTP server's.
constexpr const char* NTP_SERVER_DSERVER = "0";

constexpr DWORD MakeDstDateWord(DWORD dwMonth, DWORD dwDay, DWORD dwHour)
{
    return (dwMonth & 0xFF) | ((dwDay & 0xFF) << 8) | (dwHour << 16);
}
constexpr DWORD MakeDstWeekdayWord(DWORD dwMonth, bool bFromEnd, DWORD dwOrdinal, DWORD dwWeekday,
                                   DWORD dwHour)
{
    return (dwMonth & 0xFF) | (bFromEnd ? 0x100u : 0u) | ((dwOrdinal & 0x7F) << 9) |
           ((dwWeekday & 0xFF) << 16) | ((dwHour & 0xFF) << 24);
}

// Auto-scan schedule (event 49), on the stack; 784 bytes as the device record keeps it.
constexpr int AUTOSCAN_ENTRIES = 10;
constexpr int AUTOSCAN_NAME_LEN = 64;
// A named entry is one tour group: the presets it visits, one preset number a byte in the
// order visited, are its name.
struct AutoScanEntry {
    BYTE byNumber;
    BYTE byNameLen;
    char szName[AUTOSCAN_NAME_LEN];
};
struct AutoScanPeriod {
    DWORD dwNumber;
    DWORD dwStart;
    DWORD dwEnd;
};
struct AutoScanSchedule {
    BYTE byOperation; // a reply whose operation is 1 carries nothing else
    BYTE byValue;
    BYTE byNamedCount;
    AutoScanEntry aEntry[AUTOSCAN_ENTRIES];
    BYTE byPeriodCount;
    AutoScanPeriod aPeriod[AUTOSCAN_ENTRIES];
};
static_assert(sizeof(AutoScanSchedule) == 784, "the device record keeps the schedule as 196 words");

// Dome settings: the request's body and the reply (event 51, on the stack).
struct DomeInfo {
    BYTE byValue;
    BYTE byAddress;
    WORD usBaudRate;
};
struct DomeReply {
    BYTE byValue;
    WORD usValue;
};

// Motion detection (event 28), per camera.
struct MotionRegion {
    BYTE bLeft;
    BYTE bTop;
    BYTE bRight;
    BYTE bBottom;
    BYTE bSensitivity; // 60 to 99
    BYTE bEnable;
};
struct MotionInfo {
    DWORD dwID;
    BYTE bThreshold;
    MotionRegion region[3];
    BYTE abFlag[3]; // bits 29, 30, 31 of the sensitivity word
};

// Volume and microphone (event 3), per camera.
struct VolumeInfo {
    DWORD dwID;
    BYTE bSpkEnable;
    BYTE bVolSpeaker;
    BYTE bMicEnable;
    BYTE bVolMicrophone;
    BYTE bMicrophoneType;
};

// Alarm period (event 48, wParam), on the stack.
struct AlarmTimeInfo {
    DWORD dwEnable;
    DWORD dwPeriod; // start hour, start minute, end hour, end minute from the low byte up
};

// Three-value report (event 4), on the stack.
struct ThreeValueReport {
    DWORD adwValue[3];
};

// Sensor capability (event 1) and video parameter report (event 2), one record per camera.
// The first five words are laid out as the device record expects them.
struct SensorCapInfo {
    DWORD dwID;
    DWORD dwCapability;    // word 1 whole
    DWORD dwCameraType;    // the 5-bit sensor id
    DWORD dwCameraSubType; // bits 24 to 31 of word 2
    DWORD dwCameraUIType;  // sensor family from the camera type table: 0 none, 1, 2, 3
    BYTE byCapValue;       // bits 0 to 2 of word 2
    BYTE bCapBit3;
    BYTE abCapFlag[8]; // bits 4 to 11
    BYTE bCapBit16;
    BYTE bCapBit17;
    BYTE bCapBit18;
    WORD usWord3Low;
    WORD usWord3High;
    WORD usWord4Low;
    WORD usWord4High;
    // Video parameter report.
    BYTE abVideo1[5]; // word 1: byte, two nibbles, byte, byte
    BYTE abVideo2[2]; // word 2: bits 0 to 7, 16 to 23
    BYTE abVideo3[5]; // word 3: two nibbles, three bytes
    BYTE abVideo4[6]; // word 4: four nibbles, bits 16 and 17
};

// Sensor report of the third family (event 5), per camera: the reply's words as sent.
constexpr int SENSOR_T9QX_WORDS = 9;
struct SensorT9QXInfo {
    DWORD dwID;
    DWORD adwWord[SENSOR_T9QX_WORDS];
};

// Sensor report (event 29), per camera.
struct SensorReportInfo {
    DWORD dwID;
    DWORD dwWord2;
    DWORD dwWord3;
};

// Audio talk state (event 38), per camera.
struct TalkInfo {
    DWORD dwID;
    BYTE bTalkRefused;
};

// PTZ reply (event 6) and preset list (event 18), one record per camera.
struct PresetInfo {
    DWORD dwID;
    DWORD dwSubCode; // last PTZ sub-code
    BYTE byPtzValue;
    DWORD dwPtzValue1;
    DWORD dwPtzValue2;
    BYTE byHeaderHigh; // bits 24 to 31 of the list header
    BYTE byNameLen;    // bits 16 to 23 of the list header
    WORD usCount;      // entries in the last list
    std::map<DWORD, std::string> mapPresets;
};

// Snapshot server (event 58), on the stack.
struct SnapshotServerInfo {
    DWORD dwID;
    BYTE bEnableSnapshotServer;
    BYTE ucPicCount;
    BYTE bRegion1Send;
    BYTE bRegion2Send;
    BYTE bRegion3Send;
    BYTE bRegionDISend;
    BYTE b485Send;
    BYTE bSendInTimer;
    WORD usTimeInterval;
    DWORD ulServerIP;
    DWORD ulServerPort;
    BYTE ucPicResolution;
};

// RTSP settings (event 59), on the stack.
struct RtspInfo {
    DWORD dwID;
    BYTE bEnableAuthenticate;
    BYTE ucMainFps;
    BYTE ucMainResolution;
    WORD usMainBitrate;
    BYTE ucSubFps;
    BYTE ucSubResolution;
    WORD usSubBitrate;
};

// Report 0x9F (event 23), per camera.
struct Report9FInfo {
    DWORD dwID;
    BYTE bBit0;
    BYTE byRest; // the byte shifted right by one
    DWORD dwSessionMode;
    WORD usValue;
    DWORD dwValue;
    BYTE abData[16];
    BYTE byOptional;
};

// Report 0xA2 (event 25), per camera: its layout is not known, so the body is kept raw.
constexpr std::size_t REPORT_A2_MAX = 256;
struct ReportA2Info {
    DWORD dwID;
    DWORD dwLength;
    BYTE abData[REPORT_A2_MAX];
};

// Report 0xCD (event 41), per camera.
struct ReportCDInfo {
    DWORD dwID;
    BYTE abValue[2];
};

// Report 0xA9 (event 36), on the stack.
struct ReportA9Info {
    DWORD dwValue;
    BYTE abValue1[2];
    BYTE abData[16];
    BYTE abValue2[2];
    WORD usValue;
    BYTE byOptional1;
    DWORD dwOptional;
    BYTE byOptional2;
};

// Small reports on the stack: 0xAD (event 46); 0xB3, 0xCC (events 35, 34); 0xB5 (event 33).
struct TwoByteReport {
    BYTE abValue[2];
};
struct ValueAndWordReport {
    DWORD dwValue;
    WORD usValue;
};
struct ValueAndThreeBytesReport {
    DWORD dwValue;
    BYTE abValue[3];
};

// Per-camera records of one kind: the first reply for a camera makes a zero-filled record,
// later replies update it in place. Records never move or go away before the list does.
template <typename T> class CCameraRecordList {
public:
    T* Find(DWORD dwID) const
    {
        for (const auto& pRecord : m_vecRecords) {
            if (pRecord->dwID == dwID)
                return pRecord.get();
        }
        return nullptr;
    }
    T& Get(DWORD dwID)
    {
        if (T* pRecord = Find(dwID))
            return *pRecord;
        m_vecRecords.push_back(std::make_unique<T>());
        m_vecRecords.back()->dwID = dwID;
        return *m_vecRecords.back();
    }
    std::size_t GetCount() const { return m_vecRecords.size(); }

private:
    std::vector<std::unique_ptr<T>> m_vecRecords;
};
