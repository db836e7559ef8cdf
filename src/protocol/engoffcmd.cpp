#include "protocol/engoffcmd.h"

#include "core/log.h"
#include "protocol/packet.h"

#include <cstring>

namespace {

// The process-wide socket manager behind the engine's two calls.
class CSocketManagerPort : public ILanSocketPort {
public:
    SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, BOOL bIsCmdPort,
                              ISocketReceiver* pReceiver) override
    {
        return CSocketManager::GetInstance()->CreateSocket(dwGroupIP, usPort, bIsCmdPort, pReceiver);
    }
    int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup) override
    {
        // No particular socket: every socket of the group sends a copy.
        return CSocketManager::GetInstance()->SendTo(pData, nLen, dwIP, usPort, pGroup, 0);
    }
};

CSocketManagerPort* GetSocketManagerPort()
{
    static CSocketManagerPort s_port;
    return &s_port;
}

bool g_bEngOffCmdCreated = false;
CEngOffCmd* g_pEngOffCmd = nullptr;

} // namespace

CEngOffCmd* CEngOffCmd::GetInstance()
{
    if (!g_bEngOffCmdCreated) {
        g_pEngOffCmd = new CEngOffCmd();
        g_bEngOffCmdCreated = true;
    }
    return g_pEngOffCmd;
}

CEngOffCmd::CEngOffCmd(ILanSocketPort* pPort, CLanRecordStore* pStore)
    : m_pPort(pPort != nullptr ? pPort : GetSocketManagerPort()),
      m_pStore(pStore != nullptr ? pStore : GetLanRecordStore())
{
}

CEngOffCmd::~CEngOffCmd() = default;

BOOL CEngOffCmd::Init()
{
    if (bInited)
        return 1;
    bInited = 1;
    m_pGroupMulticast = m_pPort->CreateSocket(LAN_REPLY_GROUP, LAN_MULTICAST_PORT, 1, this);
    m_pGroupUnicast = m_pPort->CreateSocket(0, LAN_UNICAST_PORT, 1, this);
    return 1;
}

int CEngOffCmd::SendCmd(BYTE bCmd, const void* pBody, int nBodyLen, const LanDeviceRoute* pDevice,
                        BOOL bUnicast)
{
    VLOG(4, "CEngOffCmd::SendCmd: beg { bCmd:%d, nBodyLen:%d, bUnicast:%d", bCmd, nBodyLen, bUnicast);
    if (nBodyLen < 0 || static_cast<std::size_t>(nBodyLen) > LAN_MAX_BODY_LEN ||
        (nBodyLen > 0 && pBody == nullptr)) {
        VLOG(1, "CEngOffCmd::SendCmd: end } bad body nBodyLen:%d", nBodyLen);
        return 0;
    }

    CPacketWriter writer(m_abySendBuf, sizeof(m_abySendBuf));
    writer.WriteUInt8(LAN_GROUP_CODE);
    writer.WriteUInt8(bCmd);
    writer.WriteUInt8(0);
    writer.WriteUInt8(0);
    const std::size_t nLenPos = writer.GetPosition();
    writer.WriteUInt16(0);
    writer.WriteUInt16(0);
    writer.WriteUInt32(0);
    writer.WriteUInt32(0);
    writer.Write(pBody, static_cast<std::size_t>(nBodyLen));
    const auto usTotalLen = static_cast<WORD>(writer.GetPosition());
    writer.PatchUInt16(nLenPos, usTotalLen);

    const bool bUseUnicast = pDevice != nullptr && (!pDevice->bFoundByMulticast || pDevice->bUnicastCapable ||
                                                    (bUnicast && pDevice->bFoundBySweep));
    int nRet = 0;
    if (bUseUnicast) {
        VLOG(4, "CEngOffCmd::SendCmd: Uni szSerial:%s, usTotalLen:%d, dwIP:%d", pDevice->szSerial, usTotalLen,
             pDevice->dwIP);
        if (m_pGroupUnicast != nullptr)
            nRet =
                m_pPort->SendTo(m_abySendBuf, usTotalLen, pDevice->dwIP, LAN_UNICAST_PORT, m_pGroupUnicast);
    } else {
        VLOG(4, "CEngOffCmd::SendCmd: Multi usTotalLen:%d", usTotalLen);
        if (m_pGroupMulticast != nullptr)
            nRet = m_pPort->SendTo(m_abySendBuf, usTotalLen, LAN_REQUEST_GROUP, LAN_MULTICAST_PORT,
                                   m_pGroupMulticast);
    }
    VLOG(4, "CEngOffCmd::SendCmd: end } nRet:%d", nRet);
    return nRet;
}

void CEngOffCmd::DispatchCmd(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort)
{
    if (pData == nullptr || nLen < 1 || pData[0] != LAN_GROUP_CODE)
        return;
    try {
        CPacketReader reader(pData, static_cast<std::size_t>(nLen));
        reader.Skip(1);
        const BYTE bCmd = reader.ReadUInt8();
        reader.Skip(2);
        reader.ReadUInt16(); // total length: not compared with the datagram
        reader.ReadUInt16();
        reader.ReadUInt32();
        reader.ReadUInt32();

        const RecvPacket packet{pData + LAN_HEADER_LEN, static_cast<DWORD>(nLen - LAN_HEADER_LEN), dwIP,
                                usPort};
        using Handler = void (CEngOffCmd::*)(const RecvPacket&);
        static const struct {
            BYTE bCode;
            Handler pfn;
        } s_table[] = {
            {0x81, &CEngOffCmd::ResCmd_GetParam},     {0xB6, &CEngOffCmd::ResCmd_WriteReq},
            {0xB7, &CEngOffCmd::ResCmd_SendFile},     {0xB8, &CEngOffCmd::ResCmd_WriteFile},
            {0x85, &CEngOffCmd::ResCmd_SNConnect},    {0xA9, &CEngOffCmd::ResCmd_WifiQueryRes},
            {0xAB, &CEngOffCmd::ResCmd_WifiQueryRes}, {0xAA, &CEngOffCmd::ResCmd_WifiSetRes},
            {0xB1, &CEngOffCmd::ResCmd_3GQueryRes},   {0xB0, &CEngOffCmd::ResCmd_3GSetRes},
            {0xC2, &CEngOffCmd::ResCmd_3GStatusRes},  {0xAC, &CEngOffCmd::ResCmd_WordResult},
            {0xAD, &CEngOffCmd::ResCmd_ByteResult},
        };
        for (const auto& entry : s_table) {
            if (entry.bCode == bCmd) {
                (this->*entry.pfn)(packet);
                return;
            }
        }
    } catch (...) {
        VLOG(1, "CEngOffCmd::DispatchCmd: catch(...)");
    }
}

void CEngOffCmd::OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup*, UINT)
{
    DispatchCmd(pData, nLen, dwIP, usPort);
}

void CEngOffCmd::OnSweepComplete(int, SocketGroup*) {}

const LanDeviceRoute* CEngOffCmd::FindBySerial(const char* pszSerial)
{
    if (m_pLookup == nullptr || pszSerial == nullptr)
        return nullptr;
    m_route = LanDeviceRoute{};
    char szKey[LAN_SHORT_SERIAL_LEN + 1] = {};
    std::strncpy(szKey, pszSerial, LAN_SHORT_SERIAL_LEN);
    return m_pLookup->FindLanDeviceBySerial(szKey, m_route) ? &m_route : nullptr;
}

const LanDeviceRoute* CEngOffCmd::FindByID(DWORD dwDVIPID)
{
    if (m_pLookup == nullptr)
        return nullptr;
    m_route = LanDeviceRoute{};
    return m_pLookup->FindLanDeviceByID(dwDVIPID, m_route) ? &m_route : nullptr;
}
