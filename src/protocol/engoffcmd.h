// The LAN command engine: reaches a camera by its serial number, by multicast when its
// address does not fit the PC's network, for network parameters, D-server, Wi-Fi, 3G and
// firmware upgrade.
//
// Requests go to 236.5.7.1:8000 (every camera) or to the camera's port 8001; replies arrive
// on the group 236.5.7.2:8000 and on the PC's port 8001. Each decoded reply is delivered as
// a numbered event (the LAN_EVENT_ constants) to the windows registered for it. There is no
// per-request state here: waiting and repeating belong to the callers.
#pragma once

#include "core/engineresponse.h"
#include "net/socketmanager.h"
#include "protocol/lancmd.h"

#include <cstddef>

// LAN packet header.
constexpr BYTE LAN_GROUP_CODE = 0x80;
constexpr std::size_t LAN_HEADER_LEN = 16;
constexpr std::size_t LAN_SEND_BUFFER_LEN = 2058;
constexpr std::size_t LAN_MAX_BODY_LEN = LAN_SEND_BUFFER_LEN - LAN_HEADER_LEN;

constexpr DWORD LAN_REQUEST_GROUP = 0xEC050701; // 236.5.7.1
constexpr DWORD LAN_REPLY_GROUP = 0xEC050702;   // 236.5.7.2
constexpr WORD LAN_MULTICAST_PORT = 8000;
constexpr WORD LAN_UNICAST_PORT = 8001;

// Request codes.
constexpr BYTE LAN_CMD_SET_PARAM = 1;
constexpr BYTE LAN_CMD_GET_PARAM = 2;
constexpr BYTE LAN_CMD_GET_DSERVER = 5;
constexpr BYTE LAN_CMD_CONNECT_DSERVER = 8;
constexpr BYTE LAN_CMD_WIFI_QUERY = 41;
constexpr BYTE LAN_CMD_WIFI_SET = 42;
constexpr BYTE LAN_CMD_WIFI_QUERY2 = 43;
constexpr BYTE LAN_CMD_WORD_PAIR = 44;
constexpr BYTE LAN_CMD_BYTE_PAIR = 45;
constexpr BYTE LAN_CMD_3G_SET = 48;
constexpr BYTE LAN_CMD_3G_QUERY = 49;
constexpr BYTE LAN_CMD_FIRM_REQ = 54;
constexpr BYTE LAN_CMD_FIRM_SEND = 55;
constexpr BYTE LAN_CMD_FIRM_WRITE = 56;
constexpr BYTE LAN_CMD_3G_STATUS = 66;

// Events (response codes of the engine's subscriptions). wParam is 0 for the record events;
// the events that carry a pointer to a reply body (2, 3, 4, 6, 8) carry its length in wParam.
constexpr BYTE LAN_EVENT_NETPARAM = 0;
constexpr BYTE LAN_EVENT_DSERVER = 1;
constexpr BYTE LAN_EVENT_FIRM_WRITEREQ = 2;
constexpr BYTE LAN_EVENT_FIRM_WRITEFILE = 3;
constexpr BYTE LAN_EVENT_FIRM_SENDFILE = 4;
constexpr BYTE LAN_EVENT_WIFI = 5;
constexpr BYTE LAN_EVENT_WIFI_SET = 6;
constexpr BYTE LAN_EVENT_3G = 7;
constexpr BYTE LAN_EVENT_3G_SET = 8;
constexpr BYTE LAN_EVENT_3G_STATUS = 9;
constexpr BYTE LAN_EVENT_BYTE_RESULT = 10;
constexpr BYTE LAN_EVENT_WORD_RESULT = 32;

// Largest body of command 55: serial, chunk number and up to 1024 image bytes, with room.
constexpr std::size_t FIRM_SEND_MAX_BODY = 1280;
constexpr std::size_t FIRM_CHUNK_LEN = 1024;

// What the route choice needs to know of the target camera (from its device record).
struct LanDeviceRoute {
    char szSerial[LAN_SHORT_SERIAL_LEN + 1] = {};
    DWORD dwIP = 0; // host order
    BOOL bFoundByMulticast = 0;
    BOOL bFoundBySweep = 0;
    BOOL bUnicastCapable = 0;
};

// The device list as the LAN senders see it; the device manager implements it.
class ILanDeviceLookup {
public:
    // By serial, first 20 characters.
    virtual bool FindLanDeviceBySerial(const char* pszSerial, LanDeviceRoute& route) = 0;
    virtual bool FindLanDeviceByID(DWORD dwDVIPID, LanDeviceRoute& route) = 0;

protected:
    ~ILanDeviceLookup() = default;
};

// The two calls of the socket manager that the engine makes; tests put a fake in its place.
class ILanSocketPort {
public:
    virtual SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort,
                                      ISocketReceiver* pReceiver) = 0;
    virtual int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup) = 0;

protected:
    ~ILanSocketPort() = default;
};

// Received packet as handed to a reply handler; valid during the call only.
struct RecvPacket {
    const BYTE* pBody;
    DWORD nBodyLen;
    DWORD dwIP;
    WORD usPort;
};

class CEngOffCmd : public CEngResponse, private ISocketReceiver {
public:
    // Created on first use; its sockets come from CSocketManager::GetInstance().
    static CEngOffCmd* GetInstance();

    // pPort null: the process-wide socket manager. pStore null: the process-wide record lists.
    explicit CEngOffCmd(ILanSocketPort* pPort = nullptr, CLanRecordStore* pStore = nullptr);
    ~CEngOffCmd() override;

    BOOL Init();
    // The device list the senders look their targets up in; none: every request multicast.
    void SetDeviceLookup(ILanDeviceLookup* pLookup) { m_pLookup = pLookup; }
    CLanRecordStore* GetRecordStore() const { return m_pStore; }

    // Frames and sends one request. Returns the packet length, or 0 when there is no socket
    // group or the body is too long for the send buffer.
    int SendCmd(BYTE bCmd, const void* pBody, int nBodyLen, const LanDeviceRoute* pDevice, BOOL bUnicast);
    // One received datagram.
    void DispatchCmd(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort);

    // Senders. Serials are zero-ended text; only the field's width is sent.
    int Cmd_SetNetParam(const NetParamRecord& record);
    int Cmd_GetNetParam(DWORD dwDVIPID);
    int Cmd_GetDServer(DWORD dwDVIPID);
    // abyBlock: 31 bytes copied raw from the caller's D-server record.
    int Cmd_ConnectDServer(const char* pszSerial, const char* pszServer, const BYTE* abyBlock);
    int Cmd_WifiQuery(const char* pszSerial);
    int Cmd_WifiQuery2(const char* pszSerial);
    int Cmd_WifiSet(const WifiRecord& record);
    int Cmd_SetWordPair(const char* pszSerial, WORD usValue1, WORD usValue2);
    int Cmd_SetBytePair(const char* pszSerial, BYTE byValue1, BYTE byValue2);
    int Cmd_3GSet(const char* pszSerial, BYTE bOperation, BYTE bConnectType, BYTE bUseDefaultDial,
                  BYTE bIs3GCam, const char* pszAPN, const char* pszTelNum, const char* pszAccount,
                  const char* pszPassword);
    int Cmd_3GQuery(const char* pszSerial);
    int Cmd_Query3GStatus(const char* pszSerial);
    int Cmd_FirmReq(const char* pszSerial, DWORD uLen);
    // The whole body (serial, chunk number, data), at most 1280 bytes; a longer one throws
    // CParserException and nothing is sent.
    int Cmd_FirmSendReq(const BYTE* pBody, int nBodyLen);
    int Cmd_FirmWrite(const char* pszSerial);

    // Reply handlers.
    void ResCmd_GetParam(const RecvPacket& packet);
    void ResCmd_SNConnect(const RecvPacket& packet);
    void ResCmd_WifiQueryRes(const RecvPacket& packet);
    void ResCmd_WifiSetRes(const RecvPacket& packet);
    void ResCmd_3GQueryRes(const RecvPacket& packet);
    void ResCmd_3GSetRes(const RecvPacket& packet);
    void ResCmd_3GStatusRes(const RecvPacket& packet);
    void ResCmd_WordResult(const RecvPacket& packet);
    void ResCmd_ByteResult(const RecvPacket& packet);
    void ResCmd_WriteReq(const RecvPacket& packet);
    void ResCmd_SendFile(const RecvPacket& packet);
    void ResCmd_WriteFile(const RecvPacket& packet);

private:
    void OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT uMsg) override;
    void OnSweepComplete(int nReserved, SocketGroup* pGroup) override;

    // Device record by serial / id; null when there is no device list or no such device.
    const LanDeviceRoute* FindBySerial(const char* pszSerial);
    const LanDeviceRoute* FindByID(DWORD dwDVIPID);
    int SendSerialOnly(BYTE bCmd, const char* pszSerial);
    // Raises a body-pointer event unless the body is shorter than its subscribers read.
    void DeliverBody(BYTE byEvent, const char* pszHandler, const RecvPacket& packet, std::size_t nMinLen);

    ILanSocketPort* m_pPort;
    CLanRecordStore* m_pStore;
    ILanDeviceLookup* m_pLookup = nullptr;
    LanDeviceRoute m_route; // the last look-up's result
    BOOL bInited = 0;
    SocketGroup* m_pGroupMulticast = nullptr;
    SocketGroup* m_pGroupUnicast = nullptr;
    BYTE m_abySendBuf[LAN_SEND_BUFFER_LEN] = {};
};
