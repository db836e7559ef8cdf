// Replies of the viewer protocol: the reply table and every handler in it except search and the
// online commands. Replies that are nothing, one number or one small record are read by the
// three generic handlers from what their row names. A body shorter than what a handler reads
// throws out of the reader into the dispatcher's catch; a per-camera record keeps what was
// parsed before.
#include "core/log.h"
#include "protocol/engcmd.h"
#include "protocol/packet.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

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

// A record's field as the wire has it: numbers big-endian, arrays byte for byte, and a text
// field (Text) as ReadText reads it.
void ReadField(CPacketReader& reader, BYTE& byValue)
{
    byValue = reader.ReadUInt8();
}
void ReadField(CPacketReader& reader, WORD& usValue)
{
    usValue = reader.ReadUInt16();
}
void ReadField(CPacketReader& reader, short& nValue)
{
    nValue = static_cast<short>(reader.ReadUInt16());
}
void ReadField(CPacketReader& reader, DWORD& dwValue)
{
    dwValue = reader.ReadUInt32();
}
template <typename Byte, std::size_t N> void ReadField(CPacketReader& reader, Byte (&abValue)[N])
{
    static_assert(sizeof(Byte) == 1);
    reader.Read(abValue, N);
}
template <std::size_t N> struct TextField {
    char (&szText)[N];
};
template <std::size_t N> TextField<N> Text(char (&szText)[N])
{
    return {szText};
}
template <std::size_t N> void ReadField(CPacketReader& reader, TextField<N> text)
{
    ReadText(reader, text.szText);
}

// The fields in wire order. A body that ends early throws with the fields before it read.
template <typename... Fields> void ReadFields(CPacketReader& reader, Fields&&... fields)
{
    (ReadField(reader, fields), ...);
}

template <typename Member> struct MemberClass;
template <typename Record, typename Field> struct MemberClass<Field Record::*> {
    using Type = Record;
};
template <auto pFirst, auto... pRest> struct RecordOfFields {
    using Type = typename MemberClass<decltype(pFirst)>::Type;
};

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

template <BYTE byEvent> void CEngCmd::ResCmd_Event(const ViewerPacket& packet)
{
    RaiseEvent(byEvent, packet.dwSrcID, 0);
}

template <BYTE byEvent, typename Number> void CEngCmd::ResCmd_Number(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    // A signed number travels as its unsigned bits and is widened with its sign.
    std::make_unsigned_t<Number> value;
    ReadField(reader, value);
    RaiseEvent(byEvent, packet.dwSrcID, static_cast<Number>(value));
}

template <BYTE byEvent, auto... pFields> void CEngCmd::ResCmd_Record(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    typename RecordOfFields<pFields...>::Type record{};
    ReadFields(reader, record.*pFields...);
    RaiseEvent(byEvent, packet.dwSrcID, Ptr(&record));
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
    ReadFields(reader, info.usNtpSync, info.nTimeZone, Text(info.szNtpServer));
    // Older cameras stop after the server name; the daylight-saving part stays as it was.
    if (reader.GetRemaining() > 0)
        ReadFields(reader, info.byDstMode, info.dwMode1Start, info.dwMode1End, info.dwMode2Start,
                   info.dwMode2End, info.byFinal);
    RaiseEvent(VIEWER_EVT_NTP, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_Report9F(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    Report9FInfo& info = m_list9F.Get(packet.dwSrcID);
    const BYTE byFirst = reader.ReadUInt8();
    info.bBit0 = byFirst & 1;
    info.byRest = byFirst >> 1;
    ReadFields(reader, info.dwSessionMode, info.usValue, info.dwValue, info.abData);
    if (reader.GetRemaining() >= 1)
        info.byOptional = reader.ReadUInt8();
    RaiseEvent(VIEWER_EVT_REPORT_9F, packet.dwSrcID, Ptr(&info));
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
    ReadFields(reader, info.dwValueA, info.byC, info.byD, info.abSingle, info.abThree, info.byOne,
               info.abFour, info.abSchedule, info.abTrailing, info.byTrailingLast, info.dwSessionMode);
    VLOG(4, "CEngCmd::ResCmd_GetRecordInfo: id:%d, dwSessionMode:%d, usBitrate:%d", info.dwID,
         info.dwSessionMode, SessionModeBitrate(info.dwSessionMode));
    RaiseEvent(VIEWER_EVT_RECORD_SD, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_GetUpnpState(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    UpnpInfo& info = m_listUpnp.Get(packet.dwSrcID);
    ReadField(reader, info.abValue);
    const BYTE byNibbles = reader.ReadUInt8();
    info.byLow = byNibbles & 0x0F;
    info.byHigh = byNibbles >> 4;
    ReadFields(reader, info.usValue1, info.usValue2);
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
    ReadFields(reader, info.dwValue, info.abValue1, info.abData, info.abValue2, info.usValue);
    if (reader.GetRemaining() >= 1)
        info.byOptional1 = reader.ReadUInt8();
    if (reader.GetRemaining() >= 4)
        info.dwOptional = reader.ReadUInt32();
    if (reader.GetRemaining() >= 1)
        info.byOptional2 = reader.ReadUInt8();
    RaiseEvent(VIEWER_EVT_REPORT_A9, packet.dwSrcID, Ptr(&info));
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

void CEngCmd::ResCmd_ReportCD(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ReportCDInfo& info = m_listCD.Get(packet.dwSrcID);
    ReadFields(reader, info.abValue[0], info.abValue[1]);
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
    // Byte D comes after the trailing six, where the write carries it.
    ReadFields(reader, info.dwValueA, info.dwValueB, info.byC, Text(info.szNasPath), Text(info.szNasAccount),
               Text(info.szNasPassword), info.abSingle, info.abThree, info.byOne, info.abFour,
               info.abSchedule, info.abTrailing, info.byTrailingLast, info.byD, info.dwSessionMode);
    VLOG(4, "CEngCmd::ResCmd_GetRecordNasInfo: id:%d, dwSessionMode:%d, usBitrate:%d, szNasPassword:%s",
         info.dwID, info.dwSessionMode, SessionModeBitrate(info.dwSessionMode),
         MaskSecret(info.szNasPassword).c_str());
    RaiseEvent(VIEWER_EVT_RECORD_NAS, packet.dwSrcID, Ptr(&info));
}

void CEngCmd::ResCmd_GetMail(const ViewerPacket& packet)
{
    CPacketReader reader(packet.pBody, packet.nBodyLen);
    MailInfo& info = m_listMail.Get(packet.dwSrcID);
    ReadFields(reader, Text(info.szServer), Text(info.szServer2), info.byValue, Text(info.szSender),
               Text(info.szSender2));
    const BYTE byFlags = reader.ReadUInt8();
    for (int i = 0; i < 4; ++i)
        info.abFlag[i] = (byFlags >> i) & 1;
    info.abFlag[4] = byFlags >= 16 ? 1 : 0;
    ReadFields(reader, Text(info.szText1), Text(info.szText2), Text(info.szMessage));
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

const ViewerReplyEntry* CEngCmd::GetReplyTable() const
{
    static const ViewerReplyEntry s_table[] = {
        {0x08, &CEngCmd::ResCmd_ViewerCmd},
        {0x81, &CEngCmd::ResCmd_Search},
        {0xC1, &CEngCmd::ResCmd_StartVideo},
        {0x84, &CEngCmd::ResCmd_Event<VIEWER_EVT_SET_NAME>},
        {0x8E, &CEngCmd::ResCmd_Number<VIEWER_EVT_REPORT_8E, BYTE>},
        {0x8F, &CEngCmd::ResCmd_Number<VIEWER_EVT_REPORT_8F, BYTE>},
        {0x90, &CEngCmd::ResCmd_Number<VIEWER_EVT_DSERVER_LINK, signed char>},
        {0x86, &CEngCmd::ResCmd_Number<VIEWER_EVT_SET_PASSWORD, DWORD>},
        {0x43, &CEngCmd::ResCmd_Number<VIEWER_EVT_REPORT_43, DWORD>},
        {0x89, &CEngCmd::ResCmd_Record<VIEWER_EVT_VERSION, &VersionInfo::szOther, &VersionInfo::szVersion>},
        {0x91, &CEngCmd::ResCmd_Event<VIEWER_EVT_DSERVER_STATE>},
        {0x97, &CEngCmd::ResCmd_Number<VIEWER_EVT_REPORT_97, WORD>},
        {0x72, &CEngCmd::ResCmd_Report72},
        {0x9C, &CEngCmd::ResCmd_GetNTP},
        {0x9D, &CEngCmd::ResCmd_Event<VIEWER_EVT_SET_NTP>},
        {0x9F, &CEngCmd::ResCmd_Report9F},
        {0x9E, &CEngCmd::ResCmd_Event<VIEWER_EVT_REPORT_9E>},
        {0xA2, &CEngCmd::ResCmd_ReportA2},
        {0xA4, &CEngCmd::ResCmd_GetRecordInfo},
        {0xCB, &CEngCmd::ResCmd_GetUpnpState},
        {0xA7, &CEngCmd::ResCmd_SDOperation},
        {0xA9, &CEngCmd::ResCmd_ReportA9},
        {0xCC, &CEngCmd::ResCmd_Record<VIEWER_EVT_REPORT_CC, &ValueAndWordReport::dwValue,
                                       &ValueAndWordReport::usValue>},
        {0xB3, &CEngCmd::ResCmd_Record<VIEWER_EVT_REPORT_B3, &ValueAndWordReport::dwValue,
                                       &ValueAndWordReport::usValue>},
        {0xB5, &CEngCmd::ResCmd_Record<VIEWER_EVT_REPORT_B5, &ValueAndThreeBytesReport::dwValue,
                                       &ValueAndThreeBytesReport::abValue>},
        {0xB6, &CEngCmd::ResCmd_Number<VIEWER_EVT_REPORT_B6, BYTE>},
        {0xC5, &CEngCmd::ResCmd_Record<VIEWER_EVT_SD_INFO, &SDInfo::dwCapacity, &SDInfo::dwRecorded,
                                       &SDInfo::dwRemaining, &SDInfo::byState>},
        {0xC4, &CEngCmd::ResCmd_RecordTimePacket},
        {0x59, &CEngCmd::ResCmd_RecordTimeData},
        {0xD9, &CEngCmd::ResCmd_RecordTimeAck},
        {0xC9, &CEngCmd::ResCmd_Number<VIEWER_EVT_SD_RECORD_STATE, DWORD>},
        {0xCD, &CEngCmd::ResCmd_ReportCD},
        {0xAB, &CEngCmd::ResCmd_GetNetworkExtend},
        {0x93, &CEngCmd::ResCmd_GetRecordNasInfo},
        // The camera's answer to a NAS write carries nothing we act on.
        {0x92, nullptr},
        {0x99, &CEngCmd::ResCmd_GetMail},
        {0x98, &CEngCmd::ResCmd_Number<VIEWER_EVT_SET_MAIL, BYTE>},
        {0xAD, &CEngCmd::ResCmd_Record<VIEWER_EVT_REPORT_AD, &TwoByteReport::abValue>},
        {0x9B, &CEngCmd::ResCmd_GetDoInfo},
        {0xAF, &CEngCmd::ResCmd_AutoScanSchedule},
        {0xDA, &CEngCmd::ResCmd_Record<VIEWER_EVT_DOME, &DomeReply::byValue, &DomeReply::usValue>},
        {0xB2, &CEngCmd::ResCmd_Record<VIEWER_EVT_PORT, &PortInfo::dwValue, &PortInfo::usPort1,
                                       &PortInfo::usPort2, &PortInfo::usPort3>},
        {0xA6, &CEngCmd::ResCmd_Event<VIEWER_EVT_VIDEO_SEQUENCE>},
        {0x00, nullptr},
    };
    return s_table;
}
