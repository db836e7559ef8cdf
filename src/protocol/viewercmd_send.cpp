// Requests of the viewer protocol: one sender per request and per online command.
#include "core/log.h"
#include "platform/codepage.h"
#include "protocol/des.h"
#include "protocol/engcmd.h"
#include "protocol/packet.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsLeadByte(UINT uCodePage, BYTE by)
{
    switch (uCodePage) {
    case 932:
        return (by >= 0x81 && by <= 0x9F) || (by >= 0xE0 && by <= 0xFC);
    case 936:
    case 949:
    case 950:
        return by >= 0x81 && by <= 0xFE;
    default:
        return false;
    }
}

// At most nMax bytes of UTF-8 text, never cutting a character in two.
std::string CutUtf8(const std::string& str, std::size_t nMax)
{
    if (str.size() <= nMax)
        return str;
    std::size_t nLen = nMax;
    while (nLen > 0 && (static_cast<BYTE>(str[nLen]) & 0xC0) == 0x80)
        --nLen;
    return str.substr(0, nLen);
}

void WriteRecordSchedule(CPacketWriter& writer, const RecordInfo& info)
{
    writer.Write(info.abSingle, sizeof(info.abSingle));
    writer.Write(info.abThree, sizeof(info.abThree));
    writer.WriteUInt8(info.byOne);
    writer.Write(info.abFour, sizeof(info.abFour));
    writer.Write(info.abSchedule, sizeof(info.abSchedule));
    writer.Write(info.abTrailing, sizeof(info.abTrailing));
    writer.WriteUInt8(info.byTrailingLast);
}

BYTE FlagBits(const BYTE* pbFlags, int nCount)
{
    BYTE by = 0;
    for (int i = 0; i < nCount; ++i) {
        if (pbFlags[i])
            by |= static_cast<BYTE>(1u << i);
    }
    return by;
}

DWORD RegionWord(const MotionRegion& region)
{
    return DWORD(region.bLeft) | (DWORD(region.bTop) << 8) | (DWORD(region.bRight) << 16) |
           (DWORD(region.bBottom) << 24);
}

} // namespace

int CEngCmd::Cmd_StartVideo(DWORD dwDVIPID, const BYTE* pbEncryptedID, BYTE byStreamType, BOOL bDownload)
{
    VLOG(3, "CEngCmd::Cmd_StartVideo: beg { id:%x, type:%d, bDownload:%d", dwDVIPID, byStreamType, bDownload);
    const SearchItem* pItem = FindDeviceItem(dwDVIPID);
    if (pItem == nullptr)
        return 0;
    WORD usMediaPort = 0;
    switch (byStreamType) {
    case 0:
        usMediaPort = MEDIA_PORT_LIVE;
        break;
    case 1:
        usMediaPort = bDownload ? MEDIA_PORT_PLAYBACK_DOWNLOAD : MEDIA_PORT_PLAYBACK;
        break;
    case 2:
        usMediaPort = bDownload ? MEDIA_PORT_PLAYBACK_OPT_DOWNLOAD : MEDIA_PORT_PLAYBACK_OPT;
        break;
    default:
        VLOG(2, "CEngCmd::Cmd_StartVideo: end } unknown stream type %d", byStreamType);
        return 0;
    }
    BYTE abBody[24];
    CPacketWriter writer(abBody, sizeof(abBody));
    if (pbEncryptedID != nullptr)
        writer.Write(pbEncryptedID, PASSWORD_TOKEN_LEN);
    else
        writer.WriteZeros(PASSWORD_TOKEN_LEN);
    // Where the camera is to stream: our address on the interface that found it.
    writer.WriteUInt32(GetSockets()->GetLocalAddress(pItem->hSocket));
    writer.WriteUInt16(usMediaPort);
    writer.WriteUInt8(0);
    writer.WriteUInt8(byStreamType);
    return SendRequest(dwDVIPID, VIEWER_CMD_START_VIDEO, abBody, sizeof(abBody));
}

int CEngCmd::Cmd_StopVideo(const BYTE* pbEncryptedID, DWORD dwDVIPID)
{
    VLOG(3, "CEngCmd::Cmd_StopVideo: beg { id:%x", dwDVIPID);
    BYTE abBody[PASSWORD_TOKEN_LEN] = {};
    if (pbEncryptedID != nullptr)
        std::memcpy(abBody, pbEncryptedID, sizeof(abBody));
    return SendRequest(dwDVIPID, VIEWER_CMD_STOP_VIDEO, abBody, sizeof(abBody));
}

int CEngCmd::Cmd_SendAudio(DWORD dwDVIPID, const BYTE* pbFrame, int nLen)
{
    if (nLen < 0 || nLen > VIEWER_MAX_AUDIO_FRAME || (pbFrame == nullptr && nLen > 0))
        return 0;
    BYTE abBody[8 + VIEWER_MAX_AUDIO_FRAME];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt8(0x21);
    writer.WriteUInt8(0);
    writer.WriteUInt16(static_cast<WORD>(m_dwAudioSequence));
    writer.WriteUInt32LE(dwDVIPID);
    if (nLen > 0)
        writer.Write(pbFrame, static_cast<std::size_t>(nLen));
    const int nSent = SendRequest(dwDVIPID, VIEWER_CMD_AUDIO, abBody, writer.GetPosition());
    // A gap in the numbers means a lost packet to the camera; one that never left is not lost.
    if (nSent > 0)
        ++m_dwAudioSequence;
    return nSent;
}

int CEngCmd::Cmd_SetName(DWORD dwDVIPID, const std::u16string& strName, BYTE byExtra)
{
    const UINT uCodePage = GetAnsiCodePage();
    const std::string strAnsi = WideToAnsi(strName, uCodePage);
    // Double-byte text, and text the code page cannot hold, goes as UTF-8 behind a zero.
    const bool bDoubleByte = std::any_of(strAnsi.begin(), strAnsi.end(),
                                         [uCodePage](char c) { return IsLeadByte(uCodePage, BYTE(c)); });
    const bool bLossy = AnsiToWide(strAnsi, uCodePage) != strName;
    BYTE abBody[VIEWER_NAME_BYTES + 1] = {};
    if (bDoubleByte || bLossy) {
        const std::string strUtf8 = CutUtf8(WideToUtf8(strName), VIEWER_NAME_BYTES - 1);
        std::memcpy(abBody + 1, strUtf8.data(), strUtf8.size());
    } else {
        std::memcpy(abBody, strAnsi.data(), std::min(strAnsi.size(), VIEWER_NAME_BYTES));
    }
    abBody[VIEWER_NAME_BYTES] = byExtra;
    return SendRequest(dwDVIPID, VIEWER_CMD_SET_NAME, abBody, sizeof(abBody));
}

int CEngCmd::Cmd_SetPassword(DWORD dwDVIPID, const BYTE (&pbOld)[PASSWORD_LEN],
                             const BYTE (&pbNew)[PASSWORD_LEN])
{
    VLOG(3, "CEngCmd::Cmd_SetPassword: beg { id:%x", dwDVIPID);
    BYTE abBody[PASSWORD_CHANGE_BODY_LEN];
    std::memcpy(abBody, pbOld, PASSWORD_LEN);
    std::memcpy(abBody + PASSWORD_LEN, pbNew, PASSWORD_LEN);
    // Under the old password as typed, never doubled.
    const CDesKeySchedule key(pbOld);
    key.EncryptBlocks(abBody, sizeof(abBody) / DES_BLOCK_LEN);
    return SendRequest(dwDVIPID, VIEWER_CMD_SET_PASSWORD, abBody, sizeof(abBody));
}

int CEngCmd::Cmd_GetVersion(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_VERSION);
}

int CEngCmd::Cmd_DServerConnect(DWORD dwDVIPID, BYTE bConnect)
{
    return SendRequest(dwDVIPID, VIEWER_CMD_DSERVER_CONNECT, &bConnect, 1);
}

int CEngCmd::Cmd_DServerQuery(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_DSERVER_QUERY);
}

int CEngCmd::Cmd_UpnpConnect(DWORD dwDVIPID, BYTE bConnect)
{
    return SendRequest(dwDVIPID, VIEWER_CMD_UPNP_CONNECT, &bConnect, 1);
}

int CEngCmd::Cmd_UpnpQuery(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_UPNP_QUERY);
}

int CEngCmd::Cmd_CameraPort(DWORD dwDVIPID, WORD usValue1, WORD usValue2)
{
    BYTE abBody[4];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt16(usValue1);
    writer.WriteUInt16(usValue2);
    return SendRequest(dwDVIPID, VIEWER_CMD_CAMERA_PORT, abBody, sizeof(abBody));
}

int CEngCmd::Cmd_GetNetworkExtend(DWORD dwDVIPID, BYTE byType)
{
    return SendRequest(dwDVIPID, VIEWER_CMD_NETWORK_EXTEND, &byType, 1);
}

int CEngCmd::Cmd_GetSDInfo(DWORD dwDVIPID)
{
    if (dwDVIPID == 0)
        return 0;
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_SD_INFO);
}

int CEngCmd::Cmd_SetRecordSD(DWORD dwDVIPID, const RecordInfo& info)
{
    BYTE abBody[80];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.Write(info.abBlock, sizeof(info.abBlock));
    writer.WriteUInt32(info.dwValueA);
    writer.WriteUInt8(info.byC);
    writer.WriteUInt8(info.byD);
    WriteRecordSchedule(writer, info);
    writer.WriteUInt32(info.dwSessionMode);
    return SendRequest(dwDVIPID, VIEWER_CMD_SET_RECORD_SD, abBody, writer.GetPosition());
}

int CEngCmd::Cmd_GetRecordSD(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_GET_RECORD_SD);
}

int CEngCmd::Cmd_GetSDRecordState(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_SD_RECORD_STATE);
}

int CEngCmd::Cmd_SDOperation(DWORD dwDVIPID, BYTE byOperation)
{
    return SendRequest(dwDVIPID, VIEWER_CMD_SD_OPERATION, &byOperation, 1);
}

int CEngCmd::Cmd_SetRecordNas(DWORD dwDVIPID, const RecordInfo& info)
{
    BYTE abBody[160];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.Write(info.abBlock, sizeof(info.abBlock));
    writer.WriteUInt32(info.dwValueA);
    writer.WriteUInt32(info.dwValueB);
    writer.WriteUInt8(info.byC);
    writer.WriteFixedString(info.szNasPath, 32);
    writer.WriteFixedString(info.szNasAccount, 16);
    writer.WriteFixedString(info.szNasPassword, 16);
    WriteRecordSchedule(writer, info);
    writer.WriteUInt8(info.byD);
    writer.WriteUInt32(info.dwSessionMode);
    writer.WriteUInt8(info.byFinal);
    return SendRequest(dwDVIPID, VIEWER_CMD_SET_NAS, abBody, writer.GetPosition());
}

int CEngCmd::Cmd_GetRecordNas(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_GET_NAS);
}

int CEngCmd::Cmd_SetMail(DWORD dwDVIPID, const MailInfo& info)
{
    BYTE abBody[1024 + MAIL_MAX_RECIPIENTS * MAIL_FIELD_LEN];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteFixedString(info.szServer, 64);
    writer.WriteFixedString(info.szServer2, 64);
    writer.WriteUInt8(info.byValue);
    writer.WriteFixedString(info.szSender, 64);
    writer.WriteFixedString(info.szSender2, 64);
    writer.WriteUInt8(static_cast<BYTE>(FlagBits(info.abFlag, 4) | (info.abFlag[4] ? 0x10 : 0)));
    writer.WriteFixedString(info.szText1, 128);
    writer.WriteFixedString(info.szText2, 64);
    writer.WriteFixedString(info.szMessage, 256);
    // The count goes out as the page holds it; the camera reads at most five recipients
    // whatever it says, so no more than five follow.
    const int nRecipients = std::clamp<int>(info.nRecipients, 0, MAIL_MAX_RECIPIENTS);
    writer.WriteUInt8(static_cast<BYTE>(info.nRecipients));
    for (int i = 0; i < nRecipients; ++i)
        writer.WriteFixedString(info.aszRecipient[i], MAIL_FIELD_LEN);
    return SendRequest(dwDVIPID, VIEWER_CMD_SET_MAIL, abBody, writer.GetPosition());
}

int CEngCmd::Cmd_GetMail(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_GET_MAIL);
}

int CEngCmd::Cmd_SetDo(DWORD dwDVIPID, const DoInfo& info)
{
    const BYTE abBody[2] = {FlagBits(info.abDo, 4), FlagBits(info.abSms, 4)};
    return SendRequest(dwDVIPID, VIEWER_CMD_SET_DO, abBody, sizeof(abBody));
}

int CEngCmd::Cmd_GetDo(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_GET_DO);
}

int CEngCmd::Cmd_GetNTP(DWORD dwDVIPID)
{
    return SendEmptyRequest(dwDVIPID, VIEWER_CMD_GET_NTP);
}

int CEngCmd::Cmd_SetNTP(DWORD dwDVIPID, const NtpInfo& info)
{
    BYTE abBody[64];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt16(info.usNtpSync);
    writer.WriteUInt16(static_cast<WORD>(info.nTimeZone));
    writer.WriteFixedString(info.szNtpServer, 32);
    writer.WriteUInt8(info.byDstMode);
    writer.WriteUInt32(info.dwMode1Start);
    writer.WriteUInt32(info.dwMode1End);
    writer.WriteUInt32(info.dwMode2Start);
    writer.WriteUInt32(info.dwMode2End);
    writer.WriteUInt8(info.byFinal);
    return SendRequest(dwDVIPID, VIEWER_CMD_SET_NTP, abBody, writer.GetPosition());
}

int CEngCmd::Cmd_AutoScanSchedule(DWORD dwDVIPID, const AutoScanSchedule& schedule)
{
    BYTE abBody[sizeof(AutoScanSchedule)];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt8(schedule.byOperation);
    writer.WriteUInt8(schedule.byValue);
    writer.WriteUInt8(AUTOSCAN_ENTRIES);
    for (int i = 0; i < AUTOSCAN_ENTRIES; ++i) {
        const AutoScanEntry& entry = schedule.aEntry[i];
        const BYTE byLen = std::min<BYTE>(entry.byNameLen, AUTOSCAN_NAME_LEN);
        writer.WriteUInt8(static_cast<BYTE>(i));
        writer.WriteUInt8(byLen);
        writer.Write(entry.szName, byLen);
    }
    const BYTE byPeriods = std::min<BYTE>(schedule.byPeriodCount, AUTOSCAN_ENTRIES);
    writer.WriteUInt8(byPeriods);
    for (int k = 0; k < byPeriods; ++k) {
        const AutoScanPeriod& period = schedule.aPeriod[k];
        writer.WriteUInt8(static_cast<BYTE>(period.dwNumber));
        writer.WriteUInt32(period.dwStart);
        writer.WriteUInt32(period.dwEnd);
    }
    return SendRequest(dwDVIPID, VIEWER_CMD_AUTOSCAN_SCHEDULE, abBody, writer.GetPosition());
}

int CEngCmd::Cmd_SetDome(DWORD dwDVIPID, const DomeInfo& info)
{
    BYTE abBody[4];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt8(info.byValue);
    writer.WriteUInt8(info.byAddress);
    writer.WriteUInt16(info.usBaudRate);
    return SendRequest(dwDVIPID, VIEWER_CMD_DOME, abBody, sizeof(abBody));
}

int CEngCmd::Cmd_RecordTimeOnce(DWORD dwDVIPID, const BYTE* pbPacket, std::size_t nLen)
{
    if (dwDVIPID == 0)
        return 0;
    return SendRequest(dwDVIPID, VIEWER_CMD_RECORD_TIME_ONCE, pbPacket, nLen);
}

int CEngCmd::Cmd_RecordTimeReliable(DWORD dwDVIPID, DWORD dwSequence, const BYTE* pbPacket, std::size_t nLen)
{
    if (dwDVIPID == 0)
        return 0;
    BYTE abBody[VIEWER_MAX_BODY_LEN];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt32(dwSequence);
    if (nLen != 0)
        writer.Write(pbPacket, nLen);
    return SendRequest(dwDVIPID, VIEWER_CMD_RECORD_TIME_RELIABLE, abBody, writer.GetPosition());
}

int CEngCmd::Cmd_RecordTimeAck(DWORD dwDVIPID, DWORD dwSequence)
{
    if (dwDVIPID == 0)
        return 0;
    BYTE abBody[4];
    CPacketWriter writer(abBody, sizeof(abBody));
    writer.WriteUInt32(dwSequence);
    return SendRequest(dwDVIPID, VIEWER_CMD_RECORD_TIME_ACK, abBody, sizeof(abBody));
}

// --- Online commands ---

int CEngCmd::Cmd_AudioControl(DWORD dwDVIPID, DWORD dwOpen, DWORD dwFlags)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_AUDIO_CONTROL, dwOpen, 359, dwFlags);
}

int CEngCmd::Cmd_VideoQuality(DWORD dwDVIPID, DWORD dwValue)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_VIDEO_QUALITY, 359, dwValue);
}

int CEngCmd::Cmd_QualityApply(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_QUALITY_APPLY);
}

int CEngCmd::Cmd_QueryVideoReport(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_VIDEO_REPORT);
}

int CEngCmd::Cmd_SystemSetting(DWORD dwDVIPID, BYTE byFirst, BYTE bySecond)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_SYSTEM_SETTING, (DWORD(bySecond) << 8) + byFirst);
}

int CEngCmd::Cmd_GetTimeFormat(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_TIME_FORMAT);
}

int CEngCmd::Cmd_SetTimeFormat(DWORD dwDVIPID, BYTE byFormat)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_TIME_FORMAT, 2, byFormat);
}

int CEngCmd::Cmd_SetColor(DWORD dwDVIPID, BYTE byValue1, BYTE byValue2)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_COLOR, byValue1, byValue2);
}

int CEngCmd::Cmd_MicrophoneChanged(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_MICROPHONE_CHANGED);
}

int CEngCmd::Cmd_GetVolume(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_GET_VOLUME);
}

int CEngCmd::Cmd_SetMicrophone(DWORD dwDVIPID, BYTE bVolMicrophone, BOOL bMicEnable, BYTE bMicrophoneType)
{
    // Bit 0 set means the microphone is off.
    const DWORD dwWord = (DWORD(bVolMicrophone) << 1) + (bMicEnable == 0 ? 1 : 0);
    return SendOnlineCommand(dwDVIPID, ONLINE_MICROPHONE, dwWord, bMicrophoneType);
}

int CEngCmd::Cmd_QueryCapability(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_QUERY_CAPABILITY, m_dwLocalID, 3);
}

int CEngCmd::Cmd_SetSystemValue(DWORD dwDVIPID, DWORD dwValue)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_SYSTEM_VALUE, dwValue);
}

int CEngCmd::Cmd_TimeSetting(DWORD dwDVIPID, DWORD dwValue1, DWORD dwValue2)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_TIME_SETTING, dwValue1, dwValue2);
}

int CEngCmd::Cmd_PTZControl(DWORD dwDVIPID, DWORD dwPtzWord, const BYTE* pbData)
{
    // The data bytes travel in their own order: each parameter is four of them, big-endian.
    DWORD adwData[4] = {};
    if (pbData != nullptr) {
        for (int i = 0; i < 4; ++i) {
            const BYTE* p = pbData + 4 * i;
            adwData[i] = (DWORD(p[0]) << 24) | (DWORD(p[1]) << 16) | (DWORD(p[2]) << 8) | p[3];
        }
    }
    return SendOnlineCommand(dwDVIPID, ONLINE_PTZ, dwPtzWord, adwData[0], adwData[1], adwData[2], adwData[3]);
}

int CEngCmd::Cmd_PTZMove(DWORD dwDVIPID, BYTE byClass, BYTE byCommand, BYTE bySpeed1, BYTE bySpeed2)
{
    return Cmd_PTZControl(dwDVIPID, MakePtzWord(byClass, byCommand, bySpeed1, bySpeed2));
}

int CEngCmd::Cmd_PTZRelease(DWORD dwDVIPID)
{
    return Cmd_PTZControl(dwDVIPID, 0);
}

int CEngCmd::Cmd_PTZStartScan(DWORD dwDVIPID)
{
    if (Cmd_PTZControl(dwDVIPID, PTZ_START_SCAN_1) == 0)
        return 0;
    return Cmd_PTZControl(dwDVIPID, PTZ_START_SCAN_2);
}

int CEngCmd::Cmd_PTZStopScan(DWORD dwDVIPID)
{
    if (Cmd_PTZControl(dwDVIPID, 0) == 0)
        return 0;
    return Cmd_PTZControl(dwDVIPID, PTZ_STOP_SCAN);
}

int CEngCmd::Cmd_GetPreset(DWORD dwDVIPID)
{
    return Cmd_PTZControl(dwDVIPID, PTZ_GET_PRESETS);
}

int CEngCmd::Cmd_SetPreset(DWORD dwDVIPID, BYTE byNumber, const std::string& strName)
{
    BYTE abName[PTZ_DATA_LEN] = {};
    std::memcpy(abName, strName.data(), std::min(strName.size(), sizeof(abName)));
    return Cmd_PTZControl(dwDVIPID, MakePtzWord(PTZ_CLASS_PRESET, PTZ_PRESET_SET, 0, byNumber), abName);
}

int CEngCmd::Cmd_DeletePreset(DWORD dwDVIPID, BYTE byNumber)
{
    return Cmd_PTZControl(dwDVIPID, MakePtzWord(PTZ_CLASS_PRESET, PTZ_PRESET_DELETE, 0, byNumber));
}

int CEngCmd::Cmd_GotoPreset(DWORD dwDVIPID, BYTE byNumber)
{
    return Cmd_PTZControl(dwDVIPID, MakePtzWord(PTZ_CLASS_PRESET, PTZ_PRESET_GOTO, 0, byNumber));
}

int CEngCmd::Cmd_GetMotion(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_MOTION, 3);
}

int CEngCmd::Cmd_SetMotion(DWORD dwDVIPID, const MotionInfo& info)
{
    DWORD dwSensitivity = 0;
    bool bAnyEnabled = false;
    for (int i = 0; i < 3; ++i) {
        dwSensitivity |= DWORD(info.region[i].bSensitivity) << (8 * i);
        if (info.region[i].bEnable) {
            dwSensitivity |= 1u << (25 + i);
            bAnyEnabled = true;
        }
        if (info.abFlag[i])
            dwSensitivity |= 1u << (29 + i);
    }
    if (bAnyEnabled)
        dwSensitivity |= 1u << 24;
    return SendOnlineCommand(dwDVIPID, ONLINE_MOTION, (DWORD(info.bThreshold) << 24) + 2,
                             RegionWord(info.region[0]), RegionWord(info.region[1]),
                             RegionWord(info.region[2]), dwSensitivity);
}

int CEngCmd::Cmd_AlarmTime(DWORD dwDVIPID, DWORD dwOperation, DWORD dwEnable, DWORD dwPeriod)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_ALARM_TIME, dwOperation, dwEnable, dwPeriod);
}

int CEngCmd::Cmd_GetAutoScanState(DWORD dwDVIPID)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_AUTOSCAN_STATE);
}

int CEngCmd::Cmd_SensorControl(DWORD dwDVIPID, DWORD dwControl, DWORD dwValue)
{
    return SendOnlineCommand(dwDVIPID, ONLINE_SENSOR_CONTROL, dwControl, dwValue);
}

int CEngCmd::Cmd_ControlSnapshotServer(DWORD dwDVIPID, DWORD ulOperation, BYTE ucEnable, BYTE ucMode,
                                       WORD usParam, DWORD ulServerIP, DWORD ulServerPort,
                                       DWORD ulSessionMode)
{
    VLOG(3,
         "CEngCmd::Cmd_ControlSnapshotServer 1 dwDestID:%x, ulOperation:%d, ucEnable:%d, ucMode:%d, "
         "usParam:%d",
         dwDVIPID, ulOperation, ucEnable, ucMode, usParam);
    VLOG(3, "CEngCmd::Cmd_ControlSnapshotServer 2 ulServerIP:%x, ulServerPort:%d, ulSessionMode:%x",
         ulServerIP, ulServerPort, ulSessionMode);
    const DWORD dwPacked = (DWORD(ucEnable) << 24) | (DWORD(ucMode) << 16) | usParam;
    return SendOnlineCommand(dwDVIPID, ONLINE_SNAPSHOT_SERVER, ulOperation, dwPacked, ulServerIP,
                             ulServerPort, ulSessionMode);
}

int CEngCmd::Cmd_ControlRTSP(DWORD dwDVIPID, DWORD ulOperation, DWORD ulEnable, DWORD ulSessionMode,
                             DWORD ulSubSessionMode)
{
    VLOG(4,
         "CEngCmd::Cmd_ControlRTSP dwDestID:%x, ulOperation:%d, ulEnable:%d, ulSessionMode:%d, "
         "ulSubSessionMode:%d",
         dwDVIPID, ulOperation, ulEnable, ulSessionMode, ulSubSessionMode);
    return SendOnlineCommand(dwDVIPID, ONLINE_RTSP, ulOperation, ulEnable, ulSessionMode, ulSubSessionMode);
}
