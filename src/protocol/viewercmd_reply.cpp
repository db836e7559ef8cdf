// Replies of the viewer protocol (every code of the reply table except search and the online
// commands). A body shorter than what a handler reads throws out of the reader into the
// dispatcher's catch; a per-camera record keeps what was parsed before.
#include "core/log.h"
#include "protocol/engcmd.h"
#include "protocol/packet.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

// Fixed-width text field into a zero-ended buffer one byte longer than the field.
template <std::size_t N> void ReadText(CPacketReader& reader, char (&szText)[N])
{
    static_assert(N >= 2);
    const std::string str = reader.ReadFixedString(N - 1);
    std::memset(szText, 0, N);
    std::memcpy(szText, str.data(), str.size());
}

LPARAM Ptr(const void* p)
{
    return reinterpret_cast<LPARAM>(p);
}

// The program's own sender for cameras that still carry the factory placeholder.
constexpr char DEFAULT_MAIL_SENDER[MAIL_FIELD_LEN] = "ipcamera@example.com";

} // namespace

const char* CEngCmd::GetDefaultMailSender()
{
    return DEFAULT_MAIL_SENDER;
}

void CEngCmd::ResCmd_StartVideo(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    StartVideoReply reply{};
    reply.dwID = packet.dwSrcID;
    reply.dwStatus = reader.ReadUInt32();
    reply.dwValue = reader.GetRemaining() >= 4 ? reader.ReadUInt32() : 2;
    if (reader.GetRemaining() >= 1)
        reply.bFlag = reader.ReadUInt8() & 1;
    VLOG(3, "CEngCmd::ResCmd_StartVideo: id:%x, dwStatus:%d, dwValue:%d, bFlag:%d", reply.dwID,
         reply.dwStatus, reply.dwValue, reply.bFlag);
    RaiseEvent(VIEWER_EVT_START_VIDEO, 0, Ptr(&reply));
}

void CEngCmd::ResCmd_SetName(const ViewerPacket& packet)
{
    RaiseEvent(VIEWER_EVT_SET_NAME, packet.dwSrcID, 0);
}

void CEngCmd::ResCmd_Report8E(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_REPORT_8E, packet.dwSrcID, reader.ReadUInt8());
}

void CEngCmd::ResCmd_Report8F(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_REPORT_8F, packet.dwSrcID, reader.ReadUInt8());
}

void CEngCmd::ResCmd_DServerConnect(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    const LPARAM lResult = static_cast<signed char>(reader.ReadUInt8());
    RaiseEvent(VIEWER_EVT_DSERVER_LINK, packet.dwSrcID, lResult);
}

void CEngCmd::ResCmd_SetPassword(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_SET_PASSWORD, packet.dwSrcID, reader.ReadUInt32());
}

void CEngCmd::ResCmd_Report43(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_REPORT_43, packet.dwSrcID, reader.ReadUInt32());
}

void CEngCmd::ResCmd_GetVersion(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    VersionInfo info{};
    reader.Read(info.szOther, sizeof(info.szOther));
    reader.Read(info.szVersion, sizeof(info.szVersion));
    RaiseEvent(VIEWER_EVT_VERSION, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_DServerState(const ViewerPacket& packet)
{
    RaiseEvent(VIEWER_EVT_DSERVER_STATE, packet.dwSrcID, 0);
}

void CEngCmd::ResCmd_Report97(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_REPORT_97, packet.dwSrcID, reader.ReadUInt16());
}

void CEngCmd::ResCmd_Report72(const ViewerPacket& packet)
{
    // Bits 8 to 15: the first byte; bits 16 to 31: the low half of the little-endian word at
    // offset 4; bits 0 to 7: the byte at offset 8 when the body has one, else 0. A body
    // shorter than 8 bytes is cut and raises nothing.
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    const BYTE byFirst = reader.ReadUInt8();
    reader.Skip(3);
    const WORD usWord = reader.ReadUInt16LE();
    reader.Skip(2);
    const BYTE byLast = reader.GetRemaining() >= 1 ? reader.ReadUInt8() : 0;
    const DWORD dwReport = (DWORD(usWord) << 16) | (DWORD(byFirst) << 8) | byLast;
    RaiseEvent(VIEWER_EVT_REPORT_72, packet.dwSrcID, static_cast<LPARAM>(dwReport));
}

void CEngCmd::ResCmd_GetNTP(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    NtpInfo& info = m_listNtp.Get(packet.dwSrcID);
    info.usNtpSync = reader.ReadUInt16();
    info.nTimeZone = static_cast<short>(reader.ReadUInt16());
    ReadText(reader, info.szNtpServer);
    // Older cameras stop after the server name; the daylight-saving part stays as it was.
    if (reader.GetRemaining() > 0) {
        info.byDstMode = reader.ReadUInt8();
        info.dwMode1Start = reader.ReadUInt32();
        info.dwMode1End = reader.ReadUInt32();
        info.dwMode2Start = reader.ReadUInt32();
        info.dwMode2End = reader.ReadUInt32();
        info.byFinal = reader.ReadUInt8();
    }
    RaiseEvent(VIEWER_EVT_NTP, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_SetNTP(const ViewerPacket& packet)
{
    RaiseEvent(VIEWER_EVT_SET_NTP, packet.dwSrcID, 0);
}

void CEngCmd::ResCmd_Report9F(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    Report9FInfo& info = m_list9F.Get(packet.dwSrcID);
    const BYTE byFirst = reader.ReadUInt8();
    info.bBit0 = byFirst & 1;
    info.byRest = byFirst >> 1;
    info.dwSessionMode = reader.ReadUInt32();
    info.usValue = reader.ReadUInt16();
    info.dwValue = reader.ReadUInt32();
    reader.Read(info.abData, sizeof(info.abData));
    if (reader.GetRemaining() >= 1)
        info.byOptional = reader.ReadUInt8();
    RaiseEvent(VIEWER_EVT_REPORT_9F, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_Report9E(const ViewerPacket& packet)
{
    RaiseEvent(VIEWER_EVT_REPORT_9E, packet.dwSrcID, 0);
}

void CEngCmd::ResCmd_ReportA2(const ViewerPacket& packet)
{
    ReportA2Info& info = m_listA2.Get(packet.dwSrcID);
    const std::size_t nLen = std::min<std::size_t>(packet.nBodyLen, REPORT_A2_MAX);
    std::memset(info.abData, 0, sizeof(info.abData));
    if (nLen != 0)
        std::memcpy(info.abData, packet.pBody, nLen);
    info.dwLength = static_cast<DWORD>(nLen);
    RaiseEvent(VIEWER_EVT_REPORT_A2, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_GetRecordInfo(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RecordInfo& info = m_listRecordSD.Get(packet.dwSrcID);
    info.dwValueA = reader.ReadUInt32();
    info.byC = reader.ReadUInt8();
    info.byD = reader.ReadUInt8();
    reader.Read(info.abSingle, sizeof(info.abSingle));
    reader.Read(info.abThree, sizeof(info.abThree));
    info.byOne = reader.ReadUInt8();
    reader.Read(info.abFour, sizeof(info.abFour));
    reader.Read(info.abSchedule, sizeof(info.abSchedule));
    reader.Read(info.abTrailing, sizeof(info.abTrailing));
    info.byTrailingLast = reader.ReadUInt8();
    info.dwSessionMode = reader.ReadUInt32();
    VLOG(4, "CEngCmd::ResCmd_GetRecordInfo: id:%d, dwSessionMode:%d, usBitrate:%d", info.dwID,
         info.dwSessionMode, SessionModeBitrate(info.dwSessionMode));
    RaiseEvent(VIEWER_EVT_RECORD_SD, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_GetUpnpState(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    UpnpInfo& info = m_listUpnp.Get(packet.dwSrcID);
    reader.Read(info.abValue, sizeof(info.abValue));
    const BYTE byNibbles = reader.ReadUInt8();
    info.byLow = byNibbles & 0x0F;
    info.byHigh = byNibbles >> 4;
    info.usValue1 = reader.ReadUInt16();
    info.usValue2 = reader.ReadUInt16();
    RaiseEvent(VIEWER_EVT_UPNP, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_SDOperation(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    const BYTE byResult = reader.ReadUInt8();
    RecordInfo& info = m_listRecordSD.Get(packet.dwSrcID);
    info.byTrailingLast = byResult;
    RaiseEvent(VIEWER_EVT_SD_OPERATION, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_ReportA9(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ReportA9Info info{};
    info.dwValue = reader.ReadUInt32();
    reader.Read(info.abValue1, sizeof(info.abValue1));
    reader.Read(info.abData, sizeof(info.abData));
    reader.Read(info.abValue2, sizeof(info.abValue2));
    info.usValue = reader.ReadUInt16();
    if (reader.GetRemaining() >= 1)
        info.byOptional1 = reader.ReadUInt8();
    if (reader.GetRemaining() >= 4)
        info.dwOptional = reader.ReadUInt32();
    if (reader.GetRemaining() >= 1)
        info.byOptional2 = reader.ReadUInt8();
    RaiseEvent(VIEWER_EVT_REPORT_A9, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_ReportCC(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ValueAndWordReport report{};
    report.dwValue = reader.ReadUInt32();
    report.usValue = reader.ReadUInt16();
    RaiseEvent(VIEWER_EVT_REPORT_CC, packet.dwSrcID, Ptr(&report));
}

void CEngCmd::ResCmd_ReportB3(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ValueAndWordReport report{};
    report.dwValue = reader.ReadUInt32();
    report.usValue = reader.ReadUInt16();
    RaiseEvent(VIEWER_EVT_REPORT_B3, packet.dwSrcID, Ptr(&report));
}

void CEngCmd::ResCmd_ReportB5(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ValueAndThreeBytesReport report{};
    report.dwValue = reader.ReadUInt32();
    reader.Read(report.abValue, sizeof(report.abValue));
    RaiseEvent(VIEWER_EVT_REPORT_B5, packet.dwSrcID, Ptr(&report));
}

void CEngCmd::ResCmd_ReportB6(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_REPORT_B6, packet.dwSrcID, reader.ReadUInt8());
}

void CEngCmd::ResCmd_GetSDInfo(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    SDInfo info{};
    info.dwCapacity = reader.ReadUInt32();
    info.dwRecorded = reader.ReadUInt32();
    info.dwRemaining = reader.ReadUInt32();
    info.byState = reader.ReadUInt8();
    RaiseEvent(VIEWER_EVT_SD_INFO, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_RecordTimePacket(const ViewerPacket& packet)
{
    if (m_pRecordTime != nullptr)
        m_pRecordTime->DispatchCmd(packet.pBody, packet.nBodyLen, packet.dwSrcID);
}

void CEngCmd::ResCmd_RecordTimeData(const ViewerPacket& packet)
{
    if (m_pRecordTime != nullptr)
        m_pRecordTime->OnViewerData(packet.dwSrcID, packet.pBody, packet.nBodyLen);
}

void CEngCmd::ResCmd_RecordTimeAck(const ViewerPacket& packet)
{
    if (m_pRecordTime != nullptr)
        m_pRecordTime->OnViewerAck(packet.dwSrcID, packet.pBody, packet.nBodyLen);
}

void CEngCmd::ResCmd_SDRecordState(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_SD_RECORD_STATE, packet.dwSrcID, static_cast<LPARAM>(reader.ReadUInt32()));
}

void CEngCmd::ResCmd_ReportCD(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ReportCDInfo& info = m_listCD.Get(packet.dwSrcID);
    info.abValue[0] = reader.ReadUInt8();
    info.abValue[1] = reader.ReadUInt8();
    RaiseEvent(VIEWER_EVT_REPORT_CD, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_GetNetworkExtend(const ViewerPacket& packet)
{
    NetworkExtendInfo info{};
    // A body that does not fit the record is not ours to guess at: the record stays empty.
    if (packet.nBodyLen <= sizeof(info.abData) && packet.nBodyLen != 0)
        std::memcpy(info.abData, packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_NETWORK_EXTEND, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_GetRecordNasInfo(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RecordInfo& info = m_listRecordNas.Get(packet.dwSrcID);
    info.dwValueA = reader.ReadUInt32();
    info.dwValueB = reader.ReadUInt32();
    info.byC = reader.ReadUInt8();
    ReadText(reader, info.szNasPath);
    ReadText(reader, info.szNasAccount);
    ReadText(reader, info.szNasPassword);
    reader.Read(info.abSingle, sizeof(info.abSingle));
    reader.Read(info.abThree, sizeof(info.abThree));
    info.byOne = reader.ReadUInt8();
    reader.Read(info.abFour, sizeof(info.abFour));
    reader.Read(info.abSchedule, sizeof(info.abSchedule));
    reader.Read(info.abTrailing, sizeof(info.abTrailing));
    info.byTrailingLast = reader.ReadUInt8();
    // The byte after the trailing six is where the write carries byte D.
    info.byD = reader.ReadUInt8();
    info.dwSessionMode = reader.ReadUInt32();
    VLOG(4, "CEngCmd::ResCmd_GetRecordNasInfo: id:%d, dwSessionMode:%d, usBitrate:%d, szNasPassword:%s",
         info.dwID, info.dwSessionMode, SessionModeBitrate(info.dwSessionMode),
         MaskSecret(info.szNasPassword).c_str());
    RaiseEvent(VIEWER_EVT_RECORD_NAS, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_SetRecordNas(const ViewerPacket&)
{
    // The camera's answer to a NAS write carries nothing we act on.
}

void CEngCmd::ResCmd_GetMail(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    MailInfo& info = m_listMail.Get(packet.dwSrcID);
    ReadText(reader, info.szServer);
    ReadText(reader, info.szServer2);
    info.byValue = reader.ReadUInt8();
    ReadText(reader, info.szSender);
    ReadText(reader, info.szSender2);
    const BYTE byFlags = reader.ReadUInt8();
    for (int i = 0; i < 4; ++i)
        info.abFlag[i] = (byFlags >> i) & 1;
    info.abFlag[4] = byFlags >= 16 ? 1 : 0;
    ReadText(reader, info.szText1);
    ReadText(reader, info.szText2);
    ReadText(reader, info.szMessage);
    info.nRecipients = static_cast<signed char>(reader.ReadUInt8());
    const int nRead = std::min<int>(info.nRecipients, MAIL_MAX_RECIPIENTS);
    for (int i = 0; i < nRead; ++i)
        ReadText(reader, info.aszRecipient[i]);
    if (strcasecmp(info.szSender, "mdsender") == 0) {
        std::memset(info.szSender, 0, sizeof(info.szSender));
        std::memcpy(info.szSender, DEFAULT_MAIL_SENDER, sizeof(DEFAULT_MAIL_SENDER));
    }
    RaiseEvent(VIEWER_EVT_MAIL, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_SetMail(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    RaiseEvent(VIEWER_EVT_SET_MAIL, packet.dwSrcID, reader.ReadUInt8());
}

void CEngCmd::ResCmd_ReportAD(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    TwoByteReport report{};
    reader.Read(report.abValue, sizeof(report.abValue));
    RaiseEvent(VIEWER_EVT_REPORT_AD, packet.dwSrcID, Ptr(&report));
}

void CEngCmd::ResCmd_GetDoInfo(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    VLOG(4, "CEngCmd::ResCmd_GetDoInfo: pNotify->nSize:%d", packet.nBodyLen);
    DoInfo& info = m_listDo.Get(packet.dwSrcID);
    const BYTE byDo = reader.ReadUInt8();
    for (int i = 0; i < 4; ++i)
        info.abDo[i] = (byDo >> i) & 1;
    // Cameras without SMS send the digital-output byte only.
    if (reader.GetRemaining() >= 1) {
        const BYTE bySms = reader.ReadUInt8();
        for (int i = 0; i < 4; ++i)
            info.abSms[i] = (bySms >> i) & 1;
    }
    RaiseEvent(VIEWER_EVT_DO, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_AutoScanSchedule(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    AutoScanSchedule schedule{};
    schedule.byOperation = reader.ReadUInt8();
    if (schedule.byOperation != 1) {
        schedule.byValue = reader.ReadUInt8();
        const BYTE byNamed = std::min<BYTE>(reader.ReadUInt8(), AUTOSCAN_ENTRIES);
        schedule.byNamedCount = byNamed;
        for (int i = 0; i < byNamed; ++i) {
            const BYTE byNumber = reader.ReadUInt8();
            const BYTE byLen = reader.ReadUInt8();
            const BYTE* pName = reader.ReadSpan(byLen);
            // A number without a slot is read past, so the schedule after it stays in step.
            if (byNumber >= AUTOSCAN_ENTRIES)
                continue;
            AutoScanEntry& entry = schedule.aEntry[byNumber];
            entry.byNumber = byNumber;
            entry.byNameLen = std::min<BYTE>(byLen, AUTOSCAN_NAME_LEN);
            std::memset(entry.szName, 0, sizeof(entry.szName));
            std::memcpy(entry.szName, pName, entry.byNameLen);
        }
        const BYTE byPeriods = std::min<BYTE>(reader.ReadUInt8(), AUTOSCAN_ENTRIES);
        schedule.byPeriodCount = byPeriods;
        for (int k = 0; k < byPeriods; ++k) {
            AutoScanPeriod& period = schedule.aPeriod[k];
            period.dwNumber = std::min<BYTE>(reader.ReadUInt8(), 9);
            period.dwStart = reader.ReadUInt32();
            period.dwEnd = reader.ReadUInt32();
        }
    }
    RaiseEvent(VIEWER_EVT_AUTOSCAN_SCHEDULE, packet.dwSrcID, Ptr(&schedule));
}

void CEngCmd::ResCmd_Dome(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    DomeReply reply{};
    reply.byValue = reader.ReadUInt8();
    reply.usValue = reader.ReadUInt16();
    RaiseEvent(VIEWER_EVT_DOME, packet.dwSrcID, Ptr(&reply));
}

void CEngCmd::ResCmd_GetPort(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    PortInfo info{};
    info.dwValue = reader.ReadUInt32();
    info.usPort1 = reader.ReadUInt16();
    info.usPort2 = reader.ReadUInt16();
    info.usPort3 = reader.ReadUInt16();
    RaiseEvent(VIEWER_EVT_PORT, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_VideoSequence(const ViewerPacket& packet)
{
    RaiseEvent(VIEWER_EVT_VIDEO_SEQUENCE, packet.dwSrcID, 0);
}
