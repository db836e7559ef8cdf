#include "protocol/mscmd.h"

#include "core/log.h"
#include "platform/ticks.h"
#include "protocol/packet.h"

#include <cstring>

int CEngCmdRecordTimeTransport::SendReliable(DWORD dwID, DWORD dwSequence, const BYTE* pPacket,
                                             std::size_t nLen)
{
    return m_pEngine->Cmd_RecordTimeReliable(dwID, dwSequence, pPacket, nLen);
}

int CEngCmdRecordTimeTransport::SendReplyAck(DWORD dwID, DWORD dwSequence)
{
    return m_pEngine->Cmd_RecordTimeAck(dwID, dwSequence);
}

int CEngCmdRecordTimeTransport::SendOnce(DWORD dwID, const BYTE* pPacket, std::size_t nLen)
{
    return m_pEngine->Cmd_RecordTimeOnce(dwID, pPacket, nLen);
}

namespace {

bool g_bMSCmdCreated = false;
CMSCmd* g_pMSCmd = nullptr;

} // namespace

CMSCmd* CMSCmd::GetInstance()
{
    if (!g_bMSCmdCreated) {
        static CEngCmdRecordTimeTransport s_transport(GetEngCmd());
        g_pMSCmd = new CMSCmd(&s_transport);
        g_bMSCmdCreated = true;
        GetEngCmd()->SetRecordTimeSink(g_pMSCmd);
    }
    return g_pMSCmd;
}

CMSCmd::CMSCmd(IRecordTimeTransport* pTransport) : m_pTransport(pTransport) {}

CMSCmd::~CMSCmd() = default;

std::vector<BYTE> CMSCmd::Frame(BYTE byCode, const BYTE* pBody, std::size_t nBodyLen)
{
    std::vector<BYTE> vec(MS_HEADER_LEN + nBodyLen);
    CPacketWriter writer(vec.data(), vec.size());
    writer.WriteUInt8(MS_GROUP_CODE);
    writer.WriteUInt8(byCode);
    writer.WriteUInt16(1);
    writer.WriteUInt16(1);
    writer.WriteUInt16(0);
    writer.WriteUInt16(0);
    writer.WriteUInt16(0);
    writer.WriteUInt32(0);
    if (nBodyLen != 0)
        writer.Write(pBody, nBodyLen);
    return vec;
}

int CMSCmd::Send(DWORD dwID, const BYTE* pPacket, std::size_t nLen)
{
    if (dwID == 0)
        return 0;
    // Refused here rather than failing at every pump: a request that cannot be wrapped would
    // otherwise stay first in the queue and block the camera's channel for good.
    if (pPacket == nullptr || nLen == 0 || nLen > MS_MAX_PACKET_LEN) {
        VLOG(1, "CMSCmd::Send: end } nLen:%u cannot be sent", static_cast<unsigned>(nLen));
        return 0;
    }
    Channel& channel = m_mapChannels[dwID];
    Pending pending{channel.dwNextSequence++, std::vector<BYTE>(pPacket, pPacket + nLen), 0, 0};
    channel.queue.push_back(std::move(pending));
    Pump();
    return 1;
}

void CMSCmd::Pump()
{
    const DWORD dwNow = GetTickCount();
    for (auto& [dwID, channel] : m_mapChannels) {
        if (channel.queue.empty())
            continue;
        Pending& first = channel.queue.front();
        if (first.nSendCount != 0 && dwNow - first.dwLastTick <= MS_RESEND_MS)
            continue;
        m_pTransport->SendReliable(dwID, first.dwSequence, first.vecPacket.data(), first.vecPacket.size());
        if (++first.nSendCount >= MS_MAX_SENDS) {
            // Given up without notice: the caller's own time-out notices the missing reply.
            VLOG(2, "CMSCmd::Pump: id:%u, sequence:%u given up", dwID, first.dwSequence);
            channel.queue.pop_front();
        } else {
            first.dwLastTick = dwNow;
        }
    }
}

int CMSCmd::SendRequest(DWORD dwID, BYTE byCode, const std::vector<DWORD>& vecWords)
{
    std::vector<BYTE> vecBody(vecWords.size() * 4);
    CPacketWriter writer(vecBody.data(), vecBody.size());
    for (DWORD dw : vecWords)
        writer.WriteUInt32(dw);
    const std::vector<BYTE> vecPacket = Frame(byCode, vecBody.data(), vecBody.size());
    return Send(dwID, vecPacket.data(), vecPacket.size());
}

int CMSCmd::Cmd_RecordOption(DWORD dwID, DWORD dwOption)
{
    return SendRequest(dwID, MS_CMD_RECORD_OPTION, {dwOption});
}

int CMSCmd::Cmd_RecordOption2(DWORD dwID, DWORD dwOption)
{
    return SendRequest(dwID, MS_CMD_RECORD_OPTION2, {dwOption});
}

int CMSCmd::Cmd_GetRecTime(DWORD dwID, DWORD dwValue)
{
    return SendRequest(dwID, MS_CMD_GET_REC_TIME, {1, dwValue});
}

int CMSCmd::Cmd_GetRecDate(DWORD dwID)
{
    DebugTrace(1, "ipcam: SendGetRecDate %d", dwID);
    return SendRequest(dwID, MS_CMD_GET_REC_DATE, {dwID});
}

int CMSCmd::Cmd_GetRecHour(DWORD dwID, DWORD dwValue1, DWORD dwValue2)
{
    return SendRequest(dwID, MS_CMD_GET_REC_HOUR, {dwID, dwValue1, dwValue2});
}

int CMSCmd::Cmd_GetRecMinute(DWORD dwID, DWORD dwValue1, DWORD dwValue2, DWORD dwValue3)
{
    return SendRequest(dwID, MS_CMD_GET_REC_MINUTE, {dwID, dwValue1, dwValue2, dwValue3});
}

int CMSCmd::Cmd_PlayRecord(DWORD dwID, DWORD dwMode, BYTE byValue, BYTE bySpeed, DWORD dwStart,
                           DWORD dwStartExtra, DWORD dwEnd, DWORD dwEndExtra)
{
    BYTE abyBody[22];
    CPacketWriter writer(abyBody, sizeof(abyBody));
    writer.WriteUInt32(dwMode);
    writer.WriteUInt8(byValue);
    writer.WriteUInt8(bySpeed);
    writer.WriteUInt32(dwStart);
    writer.WriteUInt32(dwStartExtra);
    writer.WriteUInt32(dwEnd);
    writer.WriteUInt32(dwEndExtra);
    const std::vector<BYTE> vecPacket = Frame(MS_CMD_PLAY, abyBody, sizeof(abyBody));
    return Send(dwID, vecPacket.data(), vecPacket.size());
}

int CMSCmd::Cmd_StopRecord(DWORD dwID)
{
    return SendRequest(dwID, MS_CMD_STOP, {});
}

int CMSCmd::Cmd_PauseRecord(DWORD dwID)
{
    return SendRequest(dwID, MS_CMD_PAUSE, {});
}

int CMSCmd::Cmd_ResumeRecord(DWORD dwID)
{
    return SendRequest(dwID, MS_CMD_RESUME, {});
}

int CMSCmd::Cmd_NextFrame(DWORD dwID)
{
    return SendRequest(dwID, MS_CMD_NEXT_FRAME, {});
}

int CMSCmd::Cmd_SetPlayAudio(DWORD dwID, DWORD dwFlag)
{
    return SendRequest(dwID, MS_CMD_PLAY_AUDIO, {dwFlag});
}

int CMSCmd::Cmd_SetPlaySpeed(DWORD dwID, BYTE bySpeed)
{
    const std::vector<BYTE> vecPacket = Frame(MS_CMD_PLAY_SPEED, &bySpeed, 1);
    return Send(dwID, vecPacket.data(), vecPacket.size());
}

int CMSCmd::Cmd_SetPlayMode(DWORD dwID, DWORD dwMode)
{
    return SendRequest(dwID, MS_CMD_PLAY_MODE, {dwMode});
}

int CMSCmd::SendAck(DWORD dwID, const DWORD* pSequences, std::size_t nCount, DWORD dwContinuous)
{
    if (dwID == 0 || (nCount != 0 && pSequences == nullptr))
        return 0;
    // Count, sequences and mark, in one viewer packet.
    if (nCount > (VIEWER_MAX_BODY_LEN - MS_HEADER_LEN - 8) / 4) {
        VLOG(1, "CMSCmd::SendAck: end } nCount:%u too many", static_cast<unsigned>(nCount));
        return 0;
    }
    std::vector<BYTE> vecBody(4 * (nCount + 2));
    CPacketWriter writer(vecBody.data(), vecBody.size());
    writer.WriteUInt32(static_cast<DWORD>(nCount));
    for (std::size_t i = 0; i < nCount; ++i)
        writer.WriteUInt32(pSequences[i]);
    writer.WriteUInt32(dwContinuous);
    const std::vector<BYTE> vecPacket = Frame(MS_CMD_DOWNLOAD_ACK, vecBody.data(), vecBody.size());
    return m_pTransport->SendOnce(dwID, vecPacket.data(), vecPacket.size());
}

void CMSCmd::OnViewerAck(DWORD dwID, const BYTE* pBody, DWORD nLen)
{
    try {
        CPacketReader reader(pBody, nLen);
        const DWORD dwSequence = reader.ReadUInt32();
        auto it = m_mapChannels.find(dwID);
        if (it != m_mapChannels.end() && !it->second.queue.empty() &&
            it->second.queue.front().dwSequence == dwSequence)
            it->second.queue.pop_front();
    } catch (const CParserException&) {
        DebugTrace(1, "Receive command: size of packet is too small");
        return;
    }
    Pump();
}

void CMSCmd::OnViewerData(DWORD dwID, const BYTE* pBody, DWORD nLen)
{
    DWORD dwSequence = 0;
    try {
        CPacketReader reader(pBody, nLen);
        dwSequence = reader.ReadUInt32();
    } catch (const CParserException&) {
        DebugTrace(1, "Receive command: size of packet is too small");
        return;
    }
    // Acknowledged every time, so that a camera whose acknowledgement was lost stops resending.
    m_pTransport->SendReplyAck(dwID, dwSequence);
    auto it = m_mapChannels.find(dwID);
    if (it == m_mapChannels.end() || it->second.dwLastReceived == dwSequence)
        return;
    it->second.dwLastReceived = dwSequence;
    DispatchCmd(pBody + 4, nLen - 4, dwID);
}

void CMSCmd::DispatchCmd(const BYTE* pData, DWORD nLen, DWORD dwID)
{
    try {
        CPacketReader reader(pData, nLen);
        const BYTE byGroup = reader.ReadUInt8();
        const BYTE byCode = reader.ReadUInt8();
        reader.ReadUInt16();
        reader.ReadUInt16();
        reader.ReadUInt16();
        const WORD usVersion = reader.ReadUInt16();
        reader.ReadUInt16();
        reader.ReadUInt32();
        if (byGroup != MS_GROUP_CODE)
            return;
        const Reply reply{pData + MS_HEADER_LEN, static_cast<DWORD>(nLen - MS_HEADER_LEN), dwID, usVersion};
        switch (byCode) {
        case MS_RES_REC_DATE:
            OnGetRecDateResponse(reply);
            break;
        case MS_RES_REC_HOUR:
            OnGetRecHourResponse(reply);
            break;
        case MS_RES_REC_MINUTE:
            OnGetRecMinuteResponse(reply);
            break;
        case MS_RES_FINISH:
            OnGetRecordFinish(reply);
            break;
        case MS_RES_REC_TIME:
            OnGetRecTimeResponse(reply);
            break;
        default:
            break;
        }
    } catch (const CParserException&) {
        DebugTrace(1, "Receive command: size of packet is too small");
    }
}

void CMSCmd::OnGetRecDateResponse(const Reply& reply)
{
    DebugTrace(1, "ipcam: OnGetRecDateResponse ");
    CPacketReader reader(reply.pBody, reply.nLen);
    RecDateInfo info{};
    info.dwValue = reader.ReadUInt32();
    info.dwCount = reader.ReadUInt32();
    if (static_cast<unsigned long long>(reply.nLen) != 8 + 4ULL * info.dwCount)
        return;
    std::vector<DWORD> vecDays(info.dwCount);
    for (DWORD& dwDay : vecDays)
        dwDay = reader.ReadUInt32();
    info.pDays = vecDays.data();
    DeliverResponse(MS_EVENT_REC_DATE, 0, reinterpret_cast<LPARAM>(&info));
}

void CMSCmd::OnGetRecHourResponse(const Reply& reply)
{
    if (reply.nLen != 32)
        return;
    CPacketReader reader(reply.pBody, reply.nLen);
    RecHourInfo info{};
    info.adwValue[0] = reader.ReadUInt32();
    info.adwValue[1] = reader.ReadUInt32();
    reader.Read(info.abyHours, sizeof(info.abyHours));
    DeliverResponse(MS_EVENT_REC_HOUR, 0, reinterpret_cast<LPARAM>(&info));
}

void CMSCmd::OnGetRecMinuteResponse(const Reply& reply)
{
    if (reply.nLen != 72)
        return;
    CPacketReader reader(reply.pBody, reply.nLen);
    RecMinuteInfo info{};
    for (DWORD& dwValue : info.adwValue)
        dwValue = reader.ReadUInt32();
    reader.Read(info.abyMinutes, sizeof(info.abyMinutes));
    DeliverResponse(MS_EVENT_REC_MINUTE, 0, reinterpret_cast<LPARAM>(&info));
}

void CMSCmd::OnGetRecordFinish(const Reply& reply)
{
    DeliverResponse(MS_EVENT_FINISH, 0, static_cast<LPARAM>(reply.dwID));
}

void CMSCmd::OnGetRecTimeResponse(const Reply& reply)
{
    CPacketReader reader(reply.pBody, reply.nLen);
    RecTimeInfo info{};
    info.dwCount = reader.ReadUInt32();
    if (static_cast<unsigned long long>(reply.nLen) != 4 + 12ULL * info.dwCount)
        return;
    std::vector<RecTimeRange> vecRanges(info.dwCount);
    for (RecTimeRange& range : vecRanges) {
        for (DWORD& dwValue : range.adwValue)
            dwValue = reader.ReadUInt32();
    }
    info.pRanges = vecRanges.data();
    if (!vecRanges.empty())
        DebugTrace(1, "ipcam6: CMSCmd::OnGetRecTimeResponse id %d", vecRanges[0].adwValue[0]);
    DeliverResponse(MS_EVENT_REC_TIME, reply.usVersion, reinterpret_cast<LPARAM>(&info));
}

std::size_t CMSCmd::GetQueueLength(DWORD dwID) const
{
    auto it = m_mapChannels.find(dwID);
    return it == m_mapChannels.end() ? 0 : it->second.queue.size();
}
