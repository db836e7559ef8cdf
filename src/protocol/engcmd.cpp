#include "protocol/engcmd.h"

#include "core/configfile.h"
#include "core/log.h"
#include "net/localaddress.h"
#include "net/socketudp.h"
#include "platform/codepage.h"
#include "protocol/checksum.h"
#include "protocol/lancmd.h"
#include "protocol/packet.h"
#include "protocol/packetcipher.h"

namespace {

// The process-wide socket manager behind the engine's socket layer.
class CManagerSocketLayer : public IViewerSocketLayer {
public:
    SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, ISocketReceiver* pReceiver) override
    {
        return CSocketManager::GetInstance()->CreateSocket(dwGroupIP, usPort, TRUE, pReceiver);
    }
    SocketGroup* CreateSweepGroup(WORD usPort, const BYTE* pPacket, int nLen,
                                  ISocketReceiver* pReceiver) override
    {
        return CSocketManager::GetInstance()->CreateSweepGroup(usPort, pPacket, nLen, pReceiver);
    }
    void StartSweep(SocketGroup* pGroup) override { CSocketManager::GetInstance()->StartSweep(pGroup); }
    int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup) override
    {
        // A camera on the /24 network of one of our interfaces is reached through that
        // interface alone: a copy from every interface would only make it answer each one, and
        // with a thousand cameras behind several addresses that multiplies every query pass.
        // Multicast, and a camera on no network of ours, take every socket of the group.
        const bool bMulticast = (dwIP >> 28) == 0xE;
        if (pGroup != nullptr && !bMulticast) {
            for (int i = 0; i < pGroup->nSockets; ++i) {
                const CSocketUdp* pSocket = pGroup->ppSockets[i];
                if (pSocket != nullptr && (pSocket->GetLocalIP() & 0xFFFFFF00) == (dwIP & 0xFFFFFF00))
                    return CSocketManager::GetInstance()->SendTo(pData, nLen, dwIP, usPort, pGroup,
                                                                 pGroup->dwMsgBase + static_cast<UINT>(i));
            }
        }
        return CSocketManager::GetInstance()->SendTo(pData, nLen, dwIP, usPort, pGroup, 0);
    }
    DWORD GetLocalAddress(UINT hSocket) override
    {
        return CSocketManager::GetInstance()->GetLocalAddress(hSocket);
    }
    DWORD GetFirstLocalAddress() override
    {
        const std::vector<DWORD> addresses = CSystemLocalAddresses::GetInstance()->GetLocalAddresses();
        return addresses.empty() ? 0 : addresses.front();
    }
};

// The LAN engine's process-wide record lists.
class CLanStoreRoutes : public ILanRouteLookup {
public:
    bool GetWifiStatus(const char* szSerial, DWORD& dwStatus1, DWORD& dwStatus2) override
    {
        const WifiRecord* pWifi = FindWifiRecord(szSerial);
        if (pWifi == nullptr)
            return false;
        dwStatus1 = pWifi->byStatus;
        dwStatus2 = pWifi->dwStatus;
        return true;
    }
    bool GetNetParamAddress(const char* szSerial, DWORD& dwIP) override
    {
        const NetParamRecord* pNet = FindNetParamRecord(szSerial);
        if (pNet == nullptr)
            return false;
        dwIP = pNet->dwIP;
        return true;
    }
};

CLanStoreRoutes g_lanStoreRoutes;

} // namespace

CEngCmd::CEngCmd(const EngCmdDeps& deps)
    : m_pSockets(deps.pSockets), m_pConfig(deps.pConfig), m_pCameraTypes(deps.pCameraTypes),
      m_pLanRoutes(deps.pLanRoutes != nullptr ? deps.pLanRoutes : &g_lanStoreRoutes)
{
}

CEngCmd::~CEngCmd() = default;

IViewerSocketLayer* CEngCmd::GetSockets()
{
    if (m_pSockets == nullptr) {
        m_pOwnSockets = std::make_unique<CManagerSocketLayer>();
        m_pSockets = m_pOwnSockets.get();
    }
    return m_pSockets;
}

CConfigFileManager* CEngCmd::GetConfig()
{
    if (m_pConfig == nullptr)
        m_pConfig = GetConfigFileManager();
    return m_pConfig;
}

UINT CEngCmd::GetAnsiCodePage()
{
    return CodePageForLanguage(GetConfig()->GetLanguageID());
}

SocketGroup* CEngCmd::GetGroup(WORD usPort) const
{
    switch (usPort) {
    case VIEWER_PORT_MULTICAST:
        return m_pGroupMulticast;
    case VIEWER_PORT_UNICAST:
        return m_pGroupUnicast;
    case VIEWER_PORT_MULTICAST_ENC:
        return m_pGroupMulticastEnc;
    case VIEWER_PORT_UNICAST_ENC:
        return m_pGroupUnicastEnc;
    default:
        return nullptr;
    }
}

int CEngCmd::Init()
{
    VLOG(3, "CEngCmd::Init: beg {");
    IViewerSocketLayer* pSockets = GetSockets();
    m_dwGroupRequest = VIEWER_GROUP_REQUEST;
    m_dwGroupRequestEnc = VIEWER_GROUP_REQUEST_ENC;
    m_dwLocalID = pSockets->GetFirstLocalAddress();

    m_pGroupMulticast = pSockets->CreateSocket(VIEWER_GROUP_REPLY, VIEWER_PORT_MULTICAST, this);
    m_pGroupMulticastEnc = pSockets->CreateSocket(VIEWER_GROUP_REPLY_ENC, VIEWER_PORT_MULTICAST_ENC, this);

    // The sweep groups keep their own copy of the search packet, clear and enciphered.
    WORD wLen = 0;
    BYTE* pPacket = BuildCmd(VIEWER_CMD_SEARCH, m_dwLocalID, 0, nullptr, 0, &wLen);
    m_pGroupUnicast = pSockets->CreateSweepGroup(VIEWER_PORT_UNICAST, pPacket, wLen, this);
    EncryptPacket(pPacket, wLen);
    m_pGroupUnicastEnc = pSockets->CreateSweepGroup(VIEWER_PORT_UNICAST_ENC, pPacket, wLen, this);

    VLOG(3, "CEngCmd::Init: end } dwLocalID:%x", m_dwLocalID);
    return 1;
}

BYTE* CEngCmd::BuildCmd(BYTE byCode, DWORD dwSrcID, DWORD dwDestID, const BYTE* pBody, std::size_t nBodyLen,
                        WORD* pwTotalLen)
{
    CPacketWriter writer(m_abSendBuffer, sizeof(m_abSendBuffer));
    writer.WriteUInt8(VIEWER_MAGIC);
    writer.WriteUInt8(byCode);
    writer.WriteUInt8(0);
    writer.WriteUInt8(0);
    const std::size_t nLengthPos = writer.GetPosition();
    writer.WriteUInt16(0);
    writer.WriteUInt16(0);
    writer.WriteUInt32(dwSrcID);
    // The camera's id travels least significant byte first, unlike everything else.
    writer.WriteUInt32LE(dwDestID);
    if (nBodyLen != 0)
        writer.Write(pBody, nBodyLen);
    const WORD wTotal = static_cast<WORD>(writer.GetPosition());
    writer.PatchUInt16(nLengthPos, wTotal);
    if (pwTotalLen != nullptr)
        *pwTotalLen = wTotal;
    return m_abSendBuffer;
}

int CEngCmd::SendToDevice(BYTE* pPacket, WORD wLen, DWORD dwDVIPID)
{
    const SearchItem* pItem = FindDeviceItem(dwDVIPID);
    if (pItem == nullptr) {
        VLOG(2, "CEngCmd::SendToDevice: end } no item, id:%x, code:%d", dwDVIPID, wLen > 1 ? pPacket[1] : 0);
        return 0;
    }
    IViewerSocketLayer* pSockets = GetSockets();
    if (pItem->bEncrypted)
        EncryptPacket(pPacket, wLen);
    // A camera that cannot take unicast is reached through the request group, even though
    // its address is known.
    if (pItem->bFoundByMulticast && !pItem->bUnicastCapable) {
        if (pItem->bEncrypted)
            return pSockets->SendTo(pPacket, wLen, m_dwGroupRequestEnc, VIEWER_PORT_MULTICAST_ENC,
                                    m_pGroupMulticastEnc);
        return pSockets->SendTo(pPacket, wLen, m_dwGroupRequest, VIEWER_PORT_MULTICAST, m_pGroupMulticast);
    }
    if (pItem->bEncrypted)
        return pSockets->SendTo(pPacket, wLen, pItem->dwIP, VIEWER_PORT_UNICAST_ENC, m_pGroupUnicastEnc);
    return pSockets->SendTo(pPacket, wLen, pItem->dwIP, VIEWER_PORT_UNICAST, m_pGroupUnicast);
}

int CEngCmd::SearchByMulticast()
{
    VLOG(3, "CEngCmd::SearchByMulticast: beg {");
    IViewerSocketLayer* pSockets = GetSockets();
    WORD wLen = 0;
    BYTE* pPacket = BuildCmd(VIEWER_CMD_SEARCH, m_dwLocalID, 0, nullptr, 0, &wLen);
    pSockets->SendTo(pPacket, wLen, m_dwGroupRequest, VIEWER_PORT_MULTICAST, m_pGroupMulticast);
    EncryptPacket(pPacket, wLen);
    pSockets->SendTo(pPacket, wLen, m_dwGroupRequestEnc, VIEWER_PORT_MULTICAST_ENC, m_pGroupMulticastEnc);
    return 1;
}

int CEngCmd::SearchKnownDevices()
{
    VLOG(3, "CEngCmd::SearchKnownDevices: beg { items:%zu", m_vecItems.size());
    WORD wLen = 0;
    BYTE* pPacket = BuildCmd(VIEWER_CMD_SEARCH, m_dwLocalID, 0, nullptr, 0, &wLen);
    SendSearchToKnown(pPacket, wLen, false);
    EncryptPacket(pPacket, wLen);
    SendSearchToKnown(pPacket, wLen, true);
    return 1;
}

void CEngCmd::SendSearchToKnown(const BYTE* pPacket, WORD wLen, bool bEncrypted)
{
    IViewerSocketLayer* pSockets = GetSockets();
    SocketGroup* pGroup = bEncrypted ? m_pGroupUnicastEnc : m_pGroupUnicast;
    const WORD usPort = bEncrypted ? VIEWER_PORT_UNICAST_ENC : VIEWER_PORT_UNICAST;
    for (const auto& pItem : m_vecItems) {
        if ((pItem->bEncrypted != 0) != bEncrypted)
            continue;
        pSockets->SendTo(pPacket, wLen, pItem->dwIP, usPort, pGroup);
        // A camera on Wi-Fi may also be reachable at the wired address its LAN record holds.
        DWORD dwStatus1 = 0;
        DWORD dwStatus2 = 0;
        DWORD dwSecondIP = 0;
        if (m_pLanRoutes->GetWifiStatus(pItem->szSerial, dwStatus1, dwStatus2) && dwStatus1 != 0 &&
            dwStatus2 != 0 && m_pLanRoutes->GetNetParamAddress(pItem->szSerial, dwSecondIP) &&
            dwSecondIP != 0 && dwSecondIP != pItem->dwIP)
            pSockets->SendTo(pPacket, wLen, dwSecondIP, usPort, pGroup);
    }
}

void CEngCmd::StartSweep()
{
    VLOG(3, "CEngCmd::StartSweep: beg {");
    IViewerSocketLayer* pSockets = GetSockets();
    pSockets->StartSweep(m_pGroupUnicast);
    pSockets->StartSweep(m_pGroupUnicastEnc);
}

void CEngCmd::OnSweepComplete(int nCode, SocketGroup* pGroup)
{
    if (nCode == 0)
        RaiseEvent(VIEWER_EVT_SCAN_FINISH, 1, 0);
}

void CEngCmd::OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT uMsg)
{
    if (pGroup == nullptr)
        return;
    const DWORD bMulticast = (pGroup == m_pGroupMulticast || pGroup == m_pGroupMulticastEnc) ? 1 : 0;
    BYTE bEncrypted = 0;
    if (pGroup == m_pGroupMulticast || pGroup == m_pGroupUnicast) {
        // With encryption switched on, cameras that answer in clear do not exist for us.
        if (GetConfig()->IsEncrypt())
            return;
    } else if (pGroup == m_pGroupMulticastEnc || pGroup == m_pGroupUnicastEnc) {
        bEncrypted = 1;
    } else {
        return;
    }
    DispatchCmd(pData, nLen, dwIP, usPort, bMulticast, uMsg, bEncrypted);
}

void CEngCmd::DispatchCmd(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, DWORD bMulticast, UINT hSocket,
                          BYTE bEncrypted)
{
    if (pData == nullptr || nLen <= 0) {
        VLOG(1, "CEngCmd::DispatchCmd: catch(...)");
        return;
    }
    if (pData[0] == VIEWER_MAGIC_IGNORED)
        return;
    if (pData[0] != VIEWER_MAGIC) {
        DebugTrace(0, "Receive command: Error Magiccode");
        return;
    }
    try {
        const std::size_t nLength = static_cast<std::size_t>(nLen);
        if (bEncrypted)
            DecryptPacket(pData, nLength);
        CPacketReader reader(pData + 1, nLength - 1);
        const BYTE byCode = reader.ReadUInt8();
        reader.Skip(2);
        reader.ReadUInt16(); // total length, never compared with the datagram's
        reader.Skip(2);
        const DWORD dwSrcID = reader.ReadUInt32LE();
        const DWORD dwDestID = reader.ReadUInt32();
        if (dwDestID != 0xFFFFFFFF && dwDestID != m_dwLocalID && dwDestID != 0)
            return;

        ViewerPacket packet;
        packet.pBody = pData + VIEWER_HEADER_LEN;
        packet.nBodyLen = static_cast<DWORD>(nLength - VIEWER_HEADER_LEN);
        packet.dwIP = dwIP;
        packet.usPort = usPort;
        packet.bMulticast = bMulticast;
        packet.dwSrcID = dwSrcID;
        packet.hSocket = hSocket;
        packet.bEncrypted = bEncrypted;

        for (const ViewerReplyEntry* pEntry = GetReplyTable(); pEntry->byCode != 0; ++pEntry) {
            if (pEntry->byCode != byCode)
                continue;
            if (pEntry->pfnHandler != nullptr)
                (this->*(pEntry->pfnHandler))(packet);
            break;
        }
    } catch (const CMyExceptionExit&) {
        VLOG(1, "CEngCmd::DispatchCmd: catch(CMyExceptionExit)");
    } catch (...) {
        VLOG(1, "CEngCmd::DispatchCmd: catch(...)");
    }
}

int CEngCmd::SendOnlineCommand(DWORD dwDVIPID, DWORD dwCode, DWORD dwParam1, DWORD dwParam2, DWORD dwParam3,
                               DWORD dwParam4, DWORD dwParam5)
{
    const std::uint32_t adwParam[ONLINE_COMMAND_PARAMS] = {dwParam1, dwParam2, dwParam3, dwParam4, dwParam5};
    BYTE abBody[ONLINE_COMMAND_LEN];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt8(ONLINE_COMMAND_MARKER);
    writer.WriteUInt8(ONLINE_COMMAND_KIND_REQUEST);
    writer.WriteUInt16(0);
    writer.WriteUInt32(dwCode);
    for (std::uint32_t dwParam : adwParam)
        writer.WriteUInt32(dwParam);
    // The camera checks the little-endian rendering, although the fields travel big-endian.
    writer.WriteUInt32(OnlineCommandCheckValue(dwCode, adwParam));
    return SendRequest(dwDVIPID, VIEWER_CMD_ONLINE, abBody, sizeof(abBody));
}

int CEngCmd::SendRequest(DWORD dwDVIPID, BYTE byCode, const BYTE* pBody, std::size_t nBodyLen)
{
    WORD wLen = 0;
    BYTE* pPacket = BuildCmd(byCode, m_dwLocalID, dwDVIPID, pBody, nBodyLen, &wLen);
    return SendToDevice(pPacket, wLen, dwDVIPID);
}

void CEngCmd::ResCmd_ViewerCmd(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    reader.Skip(1); // marker
    const BYTE byKind = reader.ReadUInt8();
    reader.Skip(2);
    const DWORD dwID = packet.dwSrcID;
    if (byKind == ONLINE_KIND_PRESET_LIST) {
        ResViewer_PresetList(dwID, reader.GetCurrent(), reader.GetRemaining());
        return;
    }
    if (byKind != ONLINE_KIND_REPLY)
        return;
    const DWORD dwCode = reader.ReadUInt32();
    const BYTE* pData = reader.GetCurrent();
    const std::size_t nLen = reader.GetRemaining();
    switch (dwCode) {
    case ONLINE_SENSOR_REPORT:
        ResViewer_SensorReport(dwID, pData, nLen);
        break;
    case ONLINE_PTZ:
        ResViewer_PTZ(dwID, pData, nLen);
        break;
    case ONLINE_SENSOR_CAP:
        ResViewer_SensorCap(dwID, pData, nLen);
        break;
    case ONLINE_ACCEPTED:
        break;
    case ONLINE_SENSOR_CONTROL:
        ResViewer_SensorControl(dwID, pData, nLen);
        break;
    case ONLINE_TALK_STATE:
        ResViewer_TalkState(dwID, pData, nLen);
        break;
    case ONLINE_VIDEO_PARAM:
        ResViewer_VideoParam(dwID, pData, nLen);
        break;
    case ONLINE_SENSOR_T9QX:
        ResViewer_SensorT9QX(dwID, pData, nLen);
        break;
    case ONLINE_MOTION:
        ResViewer_Motion(dwID, pData, nLen);
        break;
    case ONLINE_THREE_VALUES:
        ResViewer_ThreeValues(dwID, pData, nLen);
        break;
    case ONLINE_VOLUME:
        ResViewer_Volume(dwID, pData, nLen);
        break;
    case ONLINE_TIME_FORMAT:
        ResViewer_TimeFormat(dwID, pData, nLen);
        break;
    case ONLINE_ALARM_TIME:
        ResViewer_AlarmTime(dwID, pData, nLen);
        break;
    case ONLINE_AUTOSCAN_STATE:
        ResViewer_AutoScanState(dwID, pData, nLen);
        break;
    case ONLINE_REPORT_80000040:
        ResViewer_Report80000040(dwID, pData, nLen);
        break;
    case ONLINE_RTSP:
        ResViewer_ControlRTSP(dwID, pData, nLen);
        break;
    case ONLINE_SNAPSHOT_SERVER:
        ResViewer_ControlSnapshotServer(dwID, pData, nLen);
        break;
    default:
        DebugTrace(1, "Error online command:%x", dwCode);
        break;
    }
}

CEngCmd* GetEngCmd()
{
    static CEngCmd s_engine;
    return &s_engine;
}
