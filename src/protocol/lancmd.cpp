// Bodies of the LAN requests, the reply handlers and the per-camera record lists.
#include "protocol/lancmd.h"

#include "core/log.h"
#include "protocol/engoffcmd.h"
#include "protocol/packet.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Text of a serial argument, at most nField characters (null reads as empty).
std::string SerialText(const char* pszSerial, std::size_t nField)
{
    if (pszSerial == nullptr)
        return std::string();
    return std::string(pszSerial, strnlen(pszSerial, nField));
}

// Zero-ended copy of a fixed field that may fill its width.
template <std::size_t N> std::string FieldText(const char (&szField)[N])
{
    return std::string(szField, strnlen(szField, N));
}

bool SameSerial(const char* pszField, std::size_t nField, const char* pszSerial)
{
    return std::strncmp(pszField, pszSerial != nullptr ? pszSerial : "", nField) == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Records

std::size_t WifiRecord::SurveyCount() const
{
    const std::size_t nList = SurveyListLen();
    if (nList < WIFI_SURVEY_LIST_HEAD)
        return 0;
    const std::size_t nFit = (nList - WIFI_SURVEY_LIST_HEAD) / sizeof(WifiSurveyEntry);
    return std::min<std::size_t>(SurveyList()[0], nFit);
}

const WifiSurveyEntry* WifiRecord::SurveyEntry(std::size_t nIndex) const
{
    if (nIndex >= SurveyCount())
        return nullptr;
    return reinterpret_cast<const WifiSurveyEntry*>(SurveyList() + WIFI_SURVEY_LIST_HEAD +
                                                    nIndex * sizeof(WifiSurveyEntry));
}

NetParamRecord* CLanRecordStore::FindNetParam(const char* pszSerial)
{
    for (NetParamRecord& record : m_listNetParam) {
        if (SameSerial(record.szSerial, LAN_SERIAL_LEN, pszSerial))
            return &record;
    }
    return nullptr;
}

NetParamRecord* CLanRecordStore::FindOrAddNetParam(const char* pszSerial)
{
    if (NetParamRecord* pRecord = FindNetParam(pszSerial))
        return pRecord;
    NetParamRecord& record = m_listNetParam.emplace_back();
    std::memset(&record, 0, sizeof(record));
    const std::string strSerial = SerialText(pszSerial, LAN_SERIAL_LEN);
    std::memcpy(record.szSerial, strSerial.data(), strSerial.size());
    return &record;
}

ThreeGRecord* CLanRecordStore::FindThreeG(const char* pszSerial)
{
    for (ThreeGRecord& record : m_listThreeG) {
        if (SameSerial(record.szSerial, LAN_SERIAL_LEN, pszSerial))
            return &record;
    }
    return nullptr;
}

ThreeGRecord* CLanRecordStore::FindOrAddThreeG(const char* pszSerial)
{
    if (ThreeGRecord* pRecord = FindThreeG(pszSerial))
        return pRecord;
    ThreeGRecord& record = m_listThreeG.emplace_back();
    std::memset(&record, 0, sizeof(record));
    const std::string strSerial = SerialText(pszSerial, LAN_SERIAL_LEN);
    std::memcpy(record.szSerial, strSerial.data(), strSerial.size());
    return &record;
}

WifiRecord* CLanRecordStore::FindWifi(const char* pszSerial)
{
    for (WifiSlot& slot : m_listWifi) {
        if (SameSerial(slot.Get()->szSerial, LAN_SHORT_SERIAL_LEN, pszSerial))
            return slot.Get();
    }
    return nullptr;
}

WifiRecord* CLanRecordStore::StoreWifi(const WifiRecord* pRecord, std::size_t nSize)
{
    const std::string strSerial(pRecord->szSerial, strnlen(pRecord->szSerial, LAN_SHORT_SERIAL_LEN));
    const std::size_t nCopy = std::max(nSize, sizeof(WifiRecord));
    auto it = std::find_if(m_listWifi.begin(), m_listWifi.end(), [&](const WifiSlot& slot) {
        return SameSerial(slot.Get()->szSerial, LAN_SHORT_SERIAL_LEN, strSerial.c_str());
    });
    if (it != m_listWifi.end() && it->nAlloc >= nCopy) {
        std::memset(it->pWords.get(), 0, it->nAlloc);
        std::memcpy(it->pWords.get(), pRecord, nCopy);
        return it->Get();
    }
    if (it != m_listWifi.end())
        m_listWifi.erase(it);
    WifiSlot slot;
    slot.nAlloc = std::max(nCopy, WIFI_RECORD_MIN_ALLOC);
    slot.nAlloc = (slot.nAlloc + sizeof(DWORD) - 1) / sizeof(DWORD) * sizeof(DWORD);
    slot.pWords = std::make_unique<DWORD[]>(slot.nAlloc / sizeof(DWORD)); // zeroed
    std::memcpy(slot.pWords.get(), pRecord, nCopy);
    m_listWifi.push_back(std::move(slot));
    return m_listWifi.back().Get();
}

CLanRecordStore* GetLanRecordStore()
{
    static CLanRecordStore s_store;
    return &s_store;
}

const NetParamRecord* FindNetParamRecord(const char* pszSerial)
{
    return GetLanRecordStore()->FindNetParam(pszSerial);
}

const WifiRecord* FindWifiRecord(const char* pszSerial)
{
    return GetLanRecordStore()->FindWifi(pszSerial);
}

DWORD GetLanSecondAddress(const char* pszSerial, DWORD dwIP)
{
    const WifiRecord* pWifi = FindWifiRecord(pszSerial);
    const NetParamRecord* pNet = FindNetParamRecord(pszSerial);
    if (pWifi == nullptr || pWifi->byStatus == 0 || pWifi->dwStatus == 0 || pNet == nullptr)
        return 0;
    if (pNet->dwIP == 0 || pNet->dwIP == dwIP)
        return 0;
    return pNet->dwIP;
}

// ---------------------------------------------------------------------------------------------
// Senders

int CEngOffCmd::SendSerialOnly(BYTE bCmd, const char* pszSerial)
{
    BYTE abyBody[LAN_SERIAL_LEN];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteFixedString(SerialText(pszSerial, LAN_SERIAL_LEN), LAN_SERIAL_LEN);
    return SendCmd(bCmd, abyBody, static_cast<int>(writer.GetPosition()), FindBySerial(pszSerial), 0);
}

int CEngOffCmd::Cmd_SetNetParam(const NetParamRecord& record)
{
    BYTE abyBody[128];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.Write(record.szSerial, LAN_SERIAL_LEN);
    writer.WriteUInt8(record.ucConnType);
    writer.WriteZeros(3);
    writer.WriteUInt32(record.dwManualDNS);
    writer.WriteUInt32(record.dwIP);
    writer.WriteUInt32(record.dwNetmask);
    writer.WriteUInt32(record.dwGateway);
    writer.WriteUInt32(record.dwDNS1);
    writer.WriteUInt32(record.dwDNS2);
    writer.WriteUInt32(record.dwReserved);
    writer.Write(record.szPPPoEAccount, sizeof(record.szPPPoEAccount));
    writer.Write(record.szPPPoEPassword, sizeof(record.szPPPoEPassword));
    const std::string strSerial = FieldText(record.szSerial);
    return SendCmd(LAN_CMD_SET_PARAM, abyBody, static_cast<int>(writer.GetPosition()),
                   FindBySerial(strSerial.c_str()), 0);
}

int CEngOffCmd::Cmd_GetNetParam(DWORD dwDVIPID)
{
    return SendCmd(LAN_CMD_GET_PARAM, nullptr, 0, FindByID(dwDVIPID), 0);
}

int CEngOffCmd::Cmd_GetDServer(DWORD dwDVIPID)
{
    return SendCmd(LAN_CMD_GET_DSERVER, nullptr, 0, FindByID(dwDVIPID), 0);
}

int CEngOffCmd::Cmd_ConnectDServer(const char* pszSerial, const char* pszServer, const BYTE* abyBlock)
{
    BYTE abyBody[96];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteFixedString(SerialText(pszSerial, LAN_SERIAL_LEN), LAN_SERIAL_LEN);
    writer.WriteFixedString(SerialText(pszServer, 31), 31);
    if (abyBlock != nullptr)
        writer.Write(abyBlock, 31);
    else
        writer.WriteZeros(31);
    writer.WriteZeros(2);
    return SendCmd(LAN_CMD_CONNECT_DSERVER, abyBody, static_cast<int>(writer.GetPosition()),
                   FindBySerial(pszSerial), 0);
}

int CEngOffCmd::Cmd_WifiQuery(const char* pszSerial)
{
    return SendSerialOnly(LAN_CMD_WIFI_QUERY, pszSerial);
}

int CEngOffCmd::Cmd_WifiQuery2(const char* pszSerial)
{
    return SendSerialOnly(LAN_CMD_WIFI_QUERY2, pszSerial);
}

int CEngOffCmd::Cmd_WifiSet(const WifiRecord& record)
{
    BYTE abyBody[342];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    const std::string strSerial = FieldText(record.szSerial);
    writer.WriteFixedString(strSerial, LAN_SERIAL_LEN);
    writer.Write(record.abySettings, sizeof(record.abySettings));
    for (DWORD dwSetting : record.adwSettings)
        writer.WriteUInt32(dwSetting);
    writer.Write(&record.stBlock, offsetof(WifiSettingsBlock, usValue1));
    writer.WriteUInt16(record.stBlock.usValue1);
    writer.WriteUInt16(record.stBlock.usValue2);
    writer.WriteUInt32(record.stWebAuth.dwValue);
    writer.Write(record.stWebAuth.szAddress, sizeof(record.stWebAuth.szAddress));
    writer.Write(record.stWebAuth.szAccount, sizeof(record.stWebAuth.szAccount));
    writer.Write(record.stWebAuth.szPassword, sizeof(record.stWebAuth.szPassword));
    return SendCmd(LAN_CMD_WIFI_SET, abyBody, static_cast<int>(writer.GetPosition()),
                   FindBySerial(strSerial.c_str()), 0);
}

int CEngOffCmd::Cmd_SetWordPair(const char* pszSerial, WORD usValue1, WORD usValue2)
{
    BYTE abyBody[36];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteFixedString(SerialText(pszSerial, LAN_SERIAL_LEN), LAN_SERIAL_LEN);
    writer.WriteUInt16(usValue1);
    writer.WriteUInt16(usValue2);
    return SendCmd(LAN_CMD_WORD_PAIR, abyBody, static_cast<int>(writer.GetPosition()),
                   FindBySerial(pszSerial), 0);
}

int CEngOffCmd::Cmd_SetBytePair(const char* pszSerial, BYTE byValue1, BYTE byValue2)
{
    BYTE abyBody[34];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteFixedString(SerialText(pszSerial, LAN_SERIAL_LEN), LAN_SERIAL_LEN);
    writer.WriteUInt8(byValue1);
    writer.WriteUInt8(byValue2);
    return SendCmd(LAN_CMD_BYTE_PAIR, abyBody, static_cast<int>(writer.GetPosition()),
                   FindBySerial(pszSerial), 0);
}

int CEngOffCmd::Cmd_3GSet(const char* pszSerial, BYTE bOperation, BYTE bConnectType, BYTE bUseDefaultDial,
                          BYTE bIs3GCam, const char* pszAPN, const char* pszTelNum, const char* pszAccount,
                          const char* pszPassword)
{
    VLOG(4, "CEngOffCmd::Cmd_3GSet: bOperation:%d, bConnectType:%d, bUseDefaultDial:%d, bIs3GCam:%d",
         bOperation, bConnectType, bUseDefaultDial, bIs3GCam);
    BYTE abyBody[164];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteFixedString(SerialText(pszSerial, LAN_SERIAL_LEN), LAN_SERIAL_LEN);
    writer.WriteUInt8(bOperation);
    writer.WriteUInt8(bConnectType);
    writer.WriteUInt8(bUseDefaultDial);
    writer.WriteUInt8(bIs3GCam);
    for (const char* psz : {pszAPN, pszTelNum, pszAccount, pszPassword})
        writer.WriteFixedString(SerialText(psz, 32), 32);
    return SendCmd(LAN_CMD_3G_SET, abyBody, static_cast<int>(writer.GetPosition()), FindBySerial(pszSerial),
                   0);
}

int CEngOffCmd::Cmd_3GQuery(const char* pszSerial)
{
    return SendSerialOnly(LAN_CMD_3G_QUERY, pszSerial);
}

int CEngOffCmd::Cmd_Query3GStatus(const char* pszSerial)
{
    return SendSerialOnly(LAN_CMD_3G_STATUS, pszSerial);
}

int CEngOffCmd::Cmd_FirmReq(const char* pszSerial, DWORD uLen)
{
    const std::string strSerial = SerialText(pszSerial, LAN_SHORT_SERIAL_LEN);
    VLOG(4, "CEngOffCmd::Cmd_FirmReq: szSerial:%s, uLen:%d", strSerial.c_str(), uLen);
    BYTE abyBody[24];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteFixedString(strSerial, LAN_SHORT_SERIAL_LEN);
    writer.WriteUInt32(uLen);
    return SendCmd(LAN_CMD_FIRM_REQ, abyBody, static_cast<int>(writer.GetPosition()),
                   FindBySerial(strSerial.c_str()), 0);
}

int CEngOffCmd::Cmd_FirmSendReq(const BYTE* pBody, int nBodyLen)
{
    if (nBodyLen < 0 || static_cast<std::size_t>(nBodyLen) > FIRM_SEND_MAX_BODY ||
        (nBodyLen > 0 && pBody == nullptr))
        throw CParserException();
    char szSerial[LAN_SHORT_SERIAL_LEN + 1] = {};
    std::memcpy(szSerial, pBody,
                std::min<std::size_t>(static_cast<std::size_t>(nBodyLen), LAN_SHORT_SERIAL_LEN));
    VLOG(4, "CEngOffCmd::Cmd_FirmSendReq: szSerial:%s, uLen:%d", szSerial, nBodyLen);
    return SendCmd(LAN_CMD_FIRM_SEND, pBody, nBodyLen, FindBySerial(szSerial), 0);
}

int CEngOffCmd::Cmd_FirmWrite(const char* pszSerial)
{
    const std::string strSerial = SerialText(pszSerial, LAN_SHORT_SERIAL_LEN);
    VLOG(4, "CEngOffCmd::Cmd_FirmWrite: szSerial:%s", strSerial.c_str());
    BYTE abyBody[LAN_SHORT_SERIAL_LEN];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteFixedString(strSerial, LAN_SHORT_SERIAL_LEN);
    return SendCmd(LAN_CMD_FIRM_WRITE, abyBody, static_cast<int>(writer.GetPosition()),
                   FindBySerial(strSerial.c_str()), 0);
}

// ---------------------------------------------------------------------------------------------
// Reply handlers

void CEngOffCmd::ResCmd_GetParam(const RecvPacket& packet)
{
    try {
        CPacketReader reader(packet.pBody, packet.nBodyLen);
        char szSerial[LAN_SERIAL_LEN] = {};
        reader.Read(szSerial, LAN_SHORT_SERIAL_LEN);
        // Created before the rest is parsed: a cut body leaves it partly updated.
        NetParamRecord* pRecord = m_pStore->FindOrAddNetParam(szSerial);
        pRecord->bIsPPPOENotGet = reader.ReadUInt8();
        pRecord->bPPPoEIPPresent = reader.ReadUInt8();
        pRecord->dwPPPoEIP = reader.ReadUInt32();
        if (pRecord->bPPPoEIPPresent == 0)
            pRecord->dwPPPoEIP = 0;
        pRecord->bIsDHCPNotGet = reader.ReadUInt8();
        pRecord->bDHCPIPPresent = reader.ReadUInt8();
        pRecord->dwDHCPIP = reader.ReadUInt32();
        if (pRecord->bDHCPIPPresent == 0)
            pRecord->dwDHCPIP = 0xFFFFFFFF;
        pRecord->ucConnType = reader.ReadUInt8();
        reader.Skip(3);
        pRecord->dwManualDNS = reader.ReadUInt32();
        pRecord->dwIP = reader.ReadUInt32();
        pRecord->dwNetmask = reader.ReadUInt32();
        pRecord->dwGateway = reader.ReadUInt32();
        pRecord->dwDNS1 = reader.ReadUInt32();
        pRecord->dwDNS2 = reader.ReadUInt32();
        pRecord->dwReserved = reader.ReadUInt32();
        reader.Read(pRecord->szPPPoEAccount, sizeof(pRecord->szPPPoEAccount));
        reader.Read(pRecord->szPPPoEPassword, sizeof(pRecord->szPPPoEPassword));
        VLOG(4, "CEngOffCmd::ResCmd_GetParam: szSerial:%s, ucConnType:%d, dwIP:%u, szPPPoEPassword:%s",
             szSerial, pRecord->ucConnType, pRecord->dwIP,
             MaskSecret(FieldText(pRecord->szPPPoEPassword)).c_str());
        DeliverResponse(LAN_EVENT_NETPARAM, 0, reinterpret_cast<LPARAM>(pRecord));
    } catch (...) {
        VLOG(1, "CEngOffCmd::ResCmd_GetParam: catch(...)");
    }
}

void CEngOffCmd::ResCmd_SNConnect(const RecvPacket& packet)
{
    try {
        CPacketReader reader(packet.pBody, packet.nBodyLen);
        DServerRecord record{};
        reader.Read(record.szSerial, sizeof(record.szSerial));
        reader.Read(record.abyState, sizeof(record.abyState));
        reader.Read(record.szServer, sizeof(record.szServer));
        reader.Read(record.szServer2, sizeof(record.szServer2));
        if (record.szServer2[0] == 0)
            std::memcpy(record.szServer2, record.szServer, sizeof(record.szServer2));
        DeliverResponse(LAN_EVENT_DSERVER, 0, reinterpret_cast<LPARAM>(&record));
    } catch (...) {
        VLOG(1, "CEngOffCmd::ResCmd_SNConnect: catch(...)");
    }
}

void CEngOffCmd::ResCmd_WifiQueryRes(const RecvPacket& packet)
{
    const std::size_t nNeed = static_cast<std::size_t>(packet.nBodyLen) + WIFI_RECORD_EXTRA;
    if (nNeed > WIFI_RECORD_MAX)
        return;
    try {
        // Parsed into a zeroed work record first: a cut reply leaves the stored one alone.
        static DWORD s_adwWork[WIFI_RECORD_MAX / sizeof(DWORD)];
        std::memset(s_adwWork, 0, sizeof(s_adwWork));
        auto* pWork = reinterpret_cast<WifiRecord*>(s_adwWork);
        pWork->dwRecordSize = static_cast<DWORD>(nNeed);

        CPacketReader reader(packet.pBody, packet.nBodyLen);
        reader.Read(pWork->szSerial, sizeof(pWork->szSerial));
        reader.Skip(6);
        const BYTE bWebAuth = reader.ReadUInt8();
        pWork->byStatus = reader.ReadUInt8();
        pWork->dwStatus = reader.ReadUInt32();
        reader.Read(pWork->abySettings, sizeof(pWork->abySettings));
        for (DWORD& dwSetting : pWork->adwSettings)
            dwSetting = reader.ReadUInt32();
        reader.Read(&pWork->stBlock, offsetof(WifiSettingsBlock, usValue1));
        pWork->stBlock.usValue1 = reader.ReadUInt16();
        pWork->stBlock.usValue2 = reader.ReadUInt16();
        if (bWebAuth != 0) {
            pWork->stWebAuth.dwValue = reader.ReadUInt32();
            reader.Read(pWork->stWebAuth.szAddress, sizeof(pWork->stWebAuth.szAddress));
            reader.Read(pWork->stWebAuth.szAccount, sizeof(pWork->stWebAuth.szAccount));
            reader.Read(pWork->stWebAuth.szPassword, sizeof(pWork->stWebAuth.szPassword));
        }
        pWork->dwSurveyLen = reader.ReadUInt32();
        if (pWork->dwSurveyLen != 0) {
            // A survey shorter than its own header cannot be laid out.
            if (pWork->dwSurveyLen < WIFI_SURVEY_HEADER_LEN)
                throw CParserException();
            reader.Read(pWork->abySurveyHeader, WIFI_SURVEY_HEADER_LEN);
            const std::size_t nList = pWork->dwSurveyLen - WIFI_SURVEY_HEADER_LEN;
            if (sizeof(WifiRecord) + nList > sizeof(s_adwWork))
                throw CParserException();
            reader.Read(pWork->SurveyList(), nList);
        }

        WifiRecord* pRecord = m_pStore->StoreWifi(pWork, nNeed);
        const std::size_t nCount = pRecord->SurveyCount();
        for (std::size_t i = 0; i < nCount; ++i) {
            const WifiSurveyEntry* pEntry = pRecord->SurveyEntry(i);
            const std::string strRaw(pEntry->Ssid, strnlen(pEntry->Ssid, sizeof(pEntry->Ssid)));
            const bool bBroadcast = pEntry->SsidLength != 0 && pEntry->SsidLength <= sizeof(pEntry->Ssid);
            const std::string strSsid =
                bBroadcast ? std::string(pEntry->Ssid, pEntry->SsidLength) : std::string();
            VLOG(4, "CEngOffCmd::ResCmd_WifiQueryRes: Ssid:%s, SsidLength:%d, strSsid:%s", strRaw.c_str(),
                 pEntry->SsidLength, strSsid.c_str());
        }
        DeliverResponse(LAN_EVENT_WIFI, 0, reinterpret_cast<LPARAM>(pRecord));
    } catch (...) {
        VLOG(1, "CEngOffCmd::ResCmd_WifiQueryRes: catch(...)");
    }
}

void CEngOffCmd::ResCmd_WifiSetRes(const RecvPacket& packet)
{
    DeliverBody(LAN_EVENT_WIFI_SET, "CEngOffCmd::ResCmd_WifiSetRes", packet, 0);
}

void CEngOffCmd::ResCmd_3GQueryRes(const RecvPacket& packet)
{
    try {
        CPacketReader reader(packet.pBody, packet.nBodyLen);
        char szSerial[LAN_SERIAL_LEN + 1] = {};
        reader.Read(szSerial, LAN_SERIAL_LEN);
        ThreeGRecord* pRecord = m_pStore->FindOrAddThreeG(szSerial);
        pRecord->bConnectType = reader.ReadUInt8();
        pRecord->bUseDefaultDial = reader.ReadUInt8();
        pRecord->bSimType = reader.ReadUInt8();
        if (reader.GetRemaining() >= sizeof(pRecord->szAPN)) {
            reader.Read(pRecord->szAPN, sizeof(pRecord->szAPN));
            reader.Read(pRecord->szTelNum, sizeof(pRecord->szTelNum));
            reader.Read(pRecord->szAccount, sizeof(pRecord->szAccount));
            reader.Read(pRecord->szPassword, sizeof(pRecord->szPassword));
        } else {
            // Older cameras send no strings: fill in the dial-up defaults of the SIM kind.
            std::memset(pRecord->szAPN, 0, sizeof(pRecord->szAPN));
            std::memset(pRecord->szTelNum, 0, sizeof(pRecord->szTelNum));
            std::memset(pRecord->szAccount, 0, sizeof(pRecord->szAccount));
            std::memset(pRecord->szPassword, 0, sizeof(pRecord->szPassword));
            if (pRecord->bUseDefaultDial != 0) {
                std::strcpy(pRecord->szTelNum, THREEG_DEFAULT_DIAL_OPERATOR);
                std::strcpy(pRecord->szAccount, THREEG_DEFAULT_LOGIN_OPERATOR);
                std::strcpy(pRecord->szPassword, THREEG_DEFAULT_LOGIN_OPERATOR);
            } else {
                std::strcpy(pRecord->szAPN, THREEG_DEFAULT_APN);
                std::strcpy(pRecord->szTelNum, THREEG_DEFAULT_DIAL);
            }
        }
        DeliverResponse(LAN_EVENT_3G, 0, reinterpret_cast<LPARAM>(pRecord));
    } catch (...) {
        VLOG(1, "CEngOffCmd::ResCmd_3GQueryRes: catch(...)");
    }
}

void CEngOffCmd::ResCmd_3GSetRes(const RecvPacket& packet)
{
    DeliverBody(LAN_EVENT_3G_SET, "CEngOffCmd::ResCmd_3GSetRes", packet, 0);
}

void CEngOffCmd::ResCmd_3GStatusRes(const RecvPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ThreeGStatus status{};
    reader.Read(status.szSerial, sizeof(status.szSerial));
    status.unDial = reader.ReadUInt32();
    status.unSignal = reader.ReadUInt32();
    status.unSimState = reader.ReadUInt32();
    status.unNetwork = reader.ReadUInt32();
    DeliverResponse(LAN_EVENT_3G_STATUS, 0, reinterpret_cast<LPARAM>(&status));
}

void CEngOffCmd::ResCmd_WordResult(const RecvPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    LanWordResult result{};
    reader.Read(result.szSerial, LAN_SHORT_SERIAL_LEN);
    result.usValue = reader.ReadUInt16();
    DeliverResponse(LAN_EVENT_WORD_RESULT, 0, reinterpret_cast<LPARAM>(&result));
}

void CEngOffCmd::ResCmd_ByteResult(const RecvPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    LanByteResult result{};
    reader.Read(result.szSerial, LAN_SHORT_SERIAL_LEN);
    result.byValue = reader.ReadUInt8();
    DeliverResponse(LAN_EVENT_BYTE_RESULT, 0, reinterpret_cast<LPARAM>(&result));
}

void CEngOffCmd::ResCmd_WriteReq(const RecvPacket& packet)
{
    VLOG(4, "CEngOffCmd::ResCmd_WriteReq:");
    DeliverBody(LAN_EVENT_FIRM_WRITEREQ, "CEngOffCmd::ResCmd_WriteReq", packet, FIRM_WRITEREQ_REPLY_LEN);
}

void CEngOffCmd::ResCmd_SendFile(const RecvPacket& packet)
{
    VLOG(4, "CEngOffCmd::ResCmd_SendFile:");
    DeliverBody(LAN_EVENT_FIRM_SENDFILE, "CEngOffCmd::ResCmd_SendFile", packet, FIRM_SENDFILE_REPLY_LEN);
}

void CEngOffCmd::ResCmd_WriteFile(const RecvPacket& packet)
{
    VLOG(4, "CEngOffCmd::ResCmd_WriteFile:");
    DeliverBody(LAN_EVENT_FIRM_WRITEFILE, "CEngOffCmd::ResCmd_WriteFile", packet, FIRM_WRITEFILE_REPLY_LEN);
}

void CEngOffCmd::DeliverBody(BYTE byEvent, const char* pszHandler, const RecvPacket& packet,
                             std::size_t nMinLen)
{
    // The subscribers read fixed positions of the body: one too short for them never reaches them.
    if (packet.nBodyLen < nMinLen) {
        VLOG(2, "%s: end } nBodyLen:%u < %u", pszHandler, packet.nBodyLen, static_cast<unsigned>(nMinLen));
        return;
    }
    DeliverResponse(byEvent, static_cast<WPARAM>(packet.nBodyLen), reinterpret_cast<LPARAM>(packet.pBody));
}
