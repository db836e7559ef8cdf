// The record-time engine: recording days and time ranges on a camera's SD card, playback and
// download control, and the acknowledgement of downloaded media.
//
// Its packets ride inside viewer packets. Requests go reliably (viewer request 89, answered
// by 0xD9) with one request in flight per camera, resent every 800 ms and given up after the
// fourth send; the camera's reliable replies (0x59) are acknowledged with 217 every time and
// handled once per sequence number. The download acknowledgement goes once, unreliably (68);
// unreliable replies arrive as 0xC4. Decoded replies are raised as events 0 to 4.
#pragma once

#include "core/engineresponse.h"
#include "platform/wintypes.h"
#include "protocol/engcmd.h"

#include <cstddef>
#include <deque>
#include <map>
#include <vector>

constexpr BYTE MS_GROUP_CODE = 0xB0;
constexpr std::size_t MS_HEADER_LEN = 16;
// A reliable request travels as sequence number and packet in at most this many bytes.
constexpr std::size_t MS_MAX_VIEWER_BODY = 1280;
constexpr std::size_t MS_MAX_PACKET_LEN = MS_MAX_VIEWER_BODY - 4;
constexpr DWORD MS_RESEND_MS = 800;
constexpr int MS_MAX_SENDS = 4;

// Request codes.
constexpr BYTE MS_CMD_GET_REC_TIME = 18;
constexpr BYTE MS_CMD_GET_REC_HOUR = 20;
constexpr BYTE MS_CMD_GET_REC_MINUTE = 22;
constexpr BYTE MS_CMD_GET_REC_DATE = 33;
constexpr BYTE MS_CMD_PLAY = 50;
constexpr BYTE MS_CMD_STOP = 52;
constexpr BYTE MS_CMD_PAUSE = 54;
constexpr BYTE MS_CMD_RESUME = 56;
constexpr BYTE MS_CMD_PLAY_AUDIO = 58;
constexpr BYTE MS_CMD_PLAY_SPEED = 60;
constexpr BYTE MS_CMD_PLAY_MODE = 62;
constexpr BYTE MS_CMD_DOWNLOAD_ACK = 65;
constexpr BYTE MS_CMD_NEXT_FRAME = 66;
constexpr BYTE MS_CMD_RECORD_OPTION = 106;
constexpr BYTE MS_CMD_RECORD_OPTION2 = 108;

// Reply codes.
constexpr BYTE MS_RES_REC_TIME = 19;
constexpr BYTE MS_RES_REC_HOUR = 21;
constexpr BYTE MS_RES_REC_MINUTE = 23;
constexpr BYTE MS_RES_REC_DATE = 0x22;
constexpr BYTE MS_RES_FINISH = 0x40;

// Events.
constexpr BYTE MS_EVENT_REC_DATE = 0;   // lParam RecDateInfo*
constexpr BYTE MS_EVENT_REC_HOUR = 1;   // lParam RecHourInfo*
constexpr BYTE MS_EVENT_REC_MINUTE = 2; // lParam RecMinuteInfo*
constexpr BYTE MS_EVENT_FINISH = 3;     // lParam the camera id
constexpr BYTE MS_EVENT_REC_TIME = 4;   // wParam the record-time version, lParam RecTimeInfo*

// Event records; valid during the event only. Values are host order.
struct RecDateInfo {
    DWORD dwValue;
    DWORD dwCount;
    const DWORD* pDays;
};
struct RecHourInfo {
    DWORD adwValue[2];
    BYTE abyHours[24];
};
struct RecMinuteInfo {
    DWORD adwValue[3];
    BYTE abyMinutes[60];
};
struct RecTimeRange {
    DWORD adwValue[3];
};
struct RecTimeInfo {
    DWORD dwCount;
    const RecTimeRange* pRanges;
};

// How the engine's packets reach a camera: inside viewer requests 89, 217 and 68.
class IRecordTimeTransport {
public:
    virtual ~IRecordTimeTransport() = default;
    virtual int SendReliable(DWORD dwID, DWORD dwSequence, const BYTE* pPacket, std::size_t nLen) = 0;
    virtual int SendReplyAck(DWORD dwID, DWORD dwSequence) = 0;
    virtual int SendOnce(DWORD dwID, const BYTE* pPacket, std::size_t nLen) = 0;
};

// The viewer engine as that transport.
class CEngCmdRecordTimeTransport : public IRecordTimeTransport {
public:
    explicit CEngCmdRecordTimeTransport(CEngCmd* pEngine) : m_pEngine(pEngine) {}
    int SendReliable(DWORD dwID, DWORD dwSequence, const BYTE* pPacket, std::size_t nLen) override;
    int SendReplyAck(DWORD dwID, DWORD dwSequence) override;
    int SendOnce(DWORD dwID, const BYTE* pPacket, std::size_t nLen) override;

private:
    CEngCmd* m_pEngine;
};

class CMSCmd : public CEngResponse, public IRecordTimeSink {
public:
    // Created on first use, with the process-wide viewer engine as transport; it also
    // becomes that engine's record-time sink.
    static CMSCmd* GetInstance();

    explicit CMSCmd(IRecordTimeTransport* pTransport);
    ~CMSCmd() override;

    // Queues a framed packet for reliable delivery to the camera and pumps. Returns 0 (and
    // queues nothing) for camera id 0 or a packet too long to wrap, else 1.
    int Send(DWORD dwID, const BYTE* pPacket, std::size_t nLen);
    // Sends what is due: per camera the first queued request, when never sent or last sent
    // more than 800 ms ago.
    void Pump();

    // Requests; each returns what Send returns.
    int Cmd_RecordOption(DWORD dwID, DWORD dwOption);
    int Cmd_RecordOption2(DWORD dwID, DWORD dwOption);
    int Cmd_GetRecTime(DWORD dwID, DWORD dwValue);
    int Cmd_GetRecDate(DWORD dwID);
    int Cmd_GetRecHour(DWORD dwID, DWORD dwValue1, DWORD dwValue2);
    int Cmd_GetRecMinute(DWORD dwID, DWORD dwValue1, DWORD dwValue2, DWORD dwValue3);
    int Cmd_PlayRecord(DWORD dwID, DWORD dwMode, BYTE byValue, BYTE bySpeed, DWORD dwStart,
                       DWORD dwStartExtra, DWORD dwEnd, DWORD dwEndExtra);
    int Cmd_StopRecord(DWORD dwID);
    int Cmd_PauseRecord(DWORD dwID);
    int Cmd_ResumeRecord(DWORD dwID);
    int Cmd_NextFrame(DWORD dwID);
    int Cmd_SetPlayAudio(DWORD dwID, DWORD dwFlag);
    int Cmd_SetPlaySpeed(DWORD dwID, BYTE bySpeed);
    int Cmd_SetPlayMode(DWORD dwID, DWORD dwMode);
    // Download acknowledgement (65), sent once as viewer request 68. Returns what the
    // transport returns, 0 for camera id 0 or a list too long for one packet.
    int SendAck(DWORD dwID, const DWORD* pSequences, std::size_t nCount, DWORD dwContinuous);

    // IRecordTimeSink: viewer replies 0xD9, 0x59 and 0xC4.
    void OnViewerAck(DWORD dwID, const BYTE* pBody, DWORD nLen) override;
    void OnViewerData(DWORD dwID, const BYTE* pBody, DWORD nLen) override;
    void DispatchCmd(const BYTE* pData, DWORD nLen, DWORD dwID) override;

    // Requests waiting for the camera (the first one in flight); 0 for an unknown camera.
    std::size_t GetQueueLength(DWORD dwID) const;

private:
    struct Pending {
        DWORD dwSequence;
        std::vector<BYTE> vecPacket;
        int nSendCount;
        DWORD dwLastTick;
    };
    struct Channel {
        std::deque<Pending> queue;
        DWORD dwLastReceived = 0xFFFFFFFF;
        DWORD dwNextSequence = 1;
    };
    struct Reply {
        const BYTE* pBody;
        DWORD nLen;
        DWORD dwID;
        WORD usVersion;
    };

    // Frames a request and sends it reliably.
    int SendRequest(DWORD dwID, BYTE byCode, const std::vector<DWORD>& vecWords);
    static std::vector<BYTE> Frame(BYTE byCode, const BYTE* pBody, std::size_t nBodyLen);

    void OnGetRecDateResponse(const Reply& reply);
    void OnGetRecHourResponse(const Reply& reply);
    void OnGetRecMinuteResponse(const Reply& reply);
    void OnGetRecordFinish(const Reply& reply);
    void OnGetRecTimeResponse(const Reply& reply);

    IRecordTimeTransport* m_pTransport;
    std::map<DWORD, Channel> m_mapChannels;
};
