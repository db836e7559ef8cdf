// Replies to online commands (viewer code 8). pData starts after the online code; "word n"
// is the n-th big-endian 32-bit word from there.
#include "core/configfile.h"
#include "core/log.h"
#include "protocol/engcmd.h"
#include "protocol/packet.h"

#include <cstring>

namespace {

LPARAM Ptr(const void* p)
{
    return reinterpret_cast<LPARAM>(p);
}

BYTE Bits(DWORD dw, int nShift, DWORD dwMask)
{
    return static_cast<BYTE>((dw >> nShift) & dwMask);
}

// The preset that some cameras keep for their own use and send without a name.
constexpr DWORD PRESET_NAMELESS = 97;

} // namespace

void CEngCmd::ResViewer_PresetList(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    PresetInfo& info = m_listPreset.Get(dwID);
    const DWORD dwHeader = reader.ReadUInt32();
    info.byHeaderHigh = static_cast<BYTE>(dwHeader >> 24);
    info.byNameLen = static_cast<BYTE>(dwHeader >> 16);
    info.usCount = static_cast<WORD>(dwHeader & 0xFFFF);
    // The list replaces the previous one, so presets deleted on the camera disappear here too.
    info.mapPresets.clear();
    const bool bNameless = m_fnPresetNameless && m_fnPresetNameless(dwID);
    for (WORD i = 0; i < info.usCount; ++i) {
        const DWORD dwNumber = reader.ReadUInt32();
        std::string strName;
        if (!(dwNumber == PRESET_NAMELESS && bNameless))
            strName = reader.ReadFixedString(info.byNameLen);
        info.mapPresets[dwNumber] = strName;
    }
    RaiseEvent(VIEWER_EVT_PRESET, Ptr(&info), static_cast<LPARAM>(dwID));
}

void CEngCmd::ResViewer_SensorReport(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    SensorReportInfo& info = m_listSensorReport.Get(dwID);
    reader.Skip(4);
    info.dwWord2 = reader.ReadUInt32();
    info.dwWord3 = reader.ReadUInt32();
    RaiseEvent(VIEWER_EVT_SENSOR_REPORT, 0, Ptr(&info));
}

void CEngCmd::ResViewer_PTZ(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    PresetInfo& info = m_listPreset.Get(dwID);
    info.dwSubCode = reader.ReadUInt32();
    if ((info.dwSubCode >> 16) == PTZ_SUBCODE_VALUES) {
        info.byPtzValue = reader.ReadUInt8();
        info.dwPtzValue1 = reader.ReadUInt32();
        info.dwPtzValue2 = reader.ReadUInt32();
    }
    RaiseEvent(VIEWER_EVT_PTZ, Ptr(&info), static_cast<LPARAM>(dwID));
}

void CEngCmd::ResViewer_SensorCap(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    SensorCapInfo& info = m_listSensorCap.Get(dwID);
    info.dwCapability = reader.ReadUInt32();
    const DWORD dwWord2 = reader.ReadUInt32();
    info.byCapValue = Bits(dwWord2, 0, 0x7);
    info.bCapBit3 = Bits(dwWord2, 3, 1);
    for (int i = 0; i < 8; ++i)
        info.abCapFlag[i] = Bits(dwWord2, 4 + i, 1);
    info.bCapBit16 = Bits(dwWord2, 16, 1);
    info.bCapBit17 = Bits(dwWord2, 17, 1);
    info.bCapBit18 = Bits(dwWord2, 18, 1);
    info.dwCameraType = Bits(dwWord2, 19, 0x1F);
    info.dwCameraSubType = Bits(dwWord2, 24, 0xFF);
    CConfigCameraType* pTypes = m_pCameraTypes != nullptr ? m_pCameraTypes : GetConfigCameraType();
    info.dwCameraUIType = pTypes->GetCameraUIType(static_cast<int>(info.dwCameraType));
    const DWORD dwWord3 = reader.ReadUInt32();
    info.usWord3Low = static_cast<WORD>(dwWord3 & 0xFFFF);
    info.usWord3High = static_cast<WORD>(dwWord3 >> 16);
    const DWORD dwWord4 = reader.ReadUInt32();
    info.usWord4Low = static_cast<WORD>(dwWord4 & 0xFFFF);
    info.usWord4High = static_cast<WORD>(dwWord4 >> 16);
    RaiseEvent(VIEWER_EVT_SENSOR_CAP, dwID, Ptr(&info));
}

void CEngCmd::ResViewer_SensorControl(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    // Subscribers read five words from lParam, so they must all be there.
    CPacketReader reader(pData, nLen);
    reader.ReadSpan(5 * 4);
    const SensorCapInfo* pCap = m_listSensorCap.Find(dwID);
    if (pCap == nullptr)
        return;
    if (pCap->dwCameraUIType == 1)
        RaiseEvent(VIEWER_EVT_SENSOR_9900, dwID, Ptr(pData));
    else if (pCap->dwCameraUIType == 2 || pCap->dwCameraUIType == 3)
        RaiseEvent(VIEWER_EVT_SENSOR_9P031, dwID, Ptr(pData));
}

void CEngCmd::ResViewer_TalkState(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    if (reader.ReadUInt32() != 2)
        return;
    const DWORD dwState = reader.ReadUInt32();
    TalkInfo& info = m_listTalk.Get(dwID);
    info.bTalkRefused = dwState == 0 ? 1 : 0;
    RaiseEvent(VIEWER_EVT_TALK_STATE, dwID, static_cast<LPARAM>(dwState));
}

void CEngCmd::ResViewer_VideoParam(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    SensorCapInfo& info = m_listSensorCap.Get(dwID);
    const DWORD dwWord1 = reader.ReadUInt32();
    info.abVideo1[0] = Bits(dwWord1, 0, 0xFF);
    info.abVideo1[1] = Bits(dwWord1, 8, 0xF);
    info.abVideo1[2] = Bits(dwWord1, 12, 0xF);
    info.abVideo1[3] = Bits(dwWord1, 16, 0xFF);
    info.abVideo1[4] = Bits(dwWord1, 24, 0xFF);
    const DWORD dwWord2 = reader.ReadUInt32();
    info.abVideo2[0] = Bits(dwWord2, 0, 0xFF);
    info.abVideo2[1] = Bits(dwWord2, 16, 0xFF);
    const DWORD dwWord3 = reader.ReadUInt32();
    info.abVideo3[0] = Bits(dwWord3, 0, 0xF);
    info.abVideo3[1] = Bits(dwWord3, 4, 0xF);
    info.abVideo3[2] = Bits(dwWord3, 8, 0xFF);
    info.abVideo3[3] = Bits(dwWord3, 16, 0xFF);
    info.abVideo3[4] = Bits(dwWord3, 24, 0xFF);
    const DWORD dwWord4 = reader.ReadUInt32();
    for (int i = 0; i < 4; ++i)
        info.abVideo4[i] = Bits(dwWord4, 4 * i, 0xF);
    info.abVideo4[4] = Bits(dwWord4, 16, 1);
    info.abVideo4[5] = Bits(dwWord4, 17, 1);
    RaiseEvent(VIEWER_EVT_VIDEO_PARAM, dwID, Ptr(&info));
}

void CEngCmd::ResViewer_SensorT9QX(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    // The words are kept as sent; the pages that show them know their meaning.
    CPacketReader reader(pData, nLen);
    SensorT9QXInfo& info = m_listT9QX.Get(dwID);
    for (int i = 0; i < SENSOR_T9QX_WORDS && reader.GetRemaining() >= 4; ++i)
        info.adwWord[i] = reader.ReadUInt32();
    RaiseEvent(VIEWER_EVT_SENSOR_T9QX, dwID, Ptr(&info));
}

void CEngCmd::ResViewer_Motion(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    MotionInfo& info = m_listMotion.Get(dwID);
    const BYTE bThreshold = Bits(reader.ReadUInt32(), 24, 0xFF);
    info.bThreshold = bThreshold == 0 ? 10 : bThreshold;
    for (MotionRegion& region : info.region) {
        const DWORD dwWord = reader.ReadUInt32();
        region.bLeft = Bits(dwWord, 0, 0xFF);
        region.bTop = Bits(dwWord, 8, 0xFF);
        region.bRight = Bits(dwWord, 16, 0xFF);
        region.bBottom = Bits(dwWord, 24, 0xFF);
    }
    const DWORD dwWord5 = reader.ReadUInt32();
    for (int i = 0; i < 3; ++i) {
        const BYTE bSensitivity = Bits(dwWord5, 8 * i, 0xFF);
        info.region[i].bSensitivity = (bSensitivity >= 60 && bSensitivity <= 99) ? bSensitivity : 89;
        info.region[i].bEnable = Bits(dwWord5, 25 + i, 1);
        info.abFlag[i] = Bits(dwWord5, 29 + i, 1);
    }
    RaiseEvent(VIEWER_EVT_MOTION, 0, Ptr(&info));
}

void CEngCmd::ResViewer_ThreeValues(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    ThreeValueReport report{};
    for (DWORD& dwValue : report.adwValue)
        dwValue = reader.ReadUInt32();
    RaiseEvent(VIEWER_EVT_THREE_VALUES, dwID, Ptr(&report));
}

void CEngCmd::ResViewer_Volume(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    VolumeInfo& info = m_listVolume.Get(dwID);
    const DWORD dwWord1 = reader.ReadUInt32();
    info.bSpkEnable = Bits(dwWord1, 0, 1);
    info.bVolSpeaker = Bits(dwWord1, 1, 0x7F);
    info.bMicEnable = Bits(dwWord1, 8, 1);
    info.bVolMicrophone = Bits(dwWord1, 9, 0x7F);
    reader.Skip(4);
    info.bMicrophoneType = static_cast<BYTE>(reader.ReadUInt32());
    RaiseEvent(VIEWER_EVT_VOLUME, 0, Ptr(&info));
}

void CEngCmd::ResViewer_TimeFormat(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    reader.Skip(4);
    const DWORD dwFormat = reader.ReadUInt32();
    RaiseEvent(VIEWER_EVT_TIME_FORMAT, dwFormat, static_cast<LPARAM>(dwID));
}

void CEngCmd::ResViewer_AlarmTime(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    reader.Skip(4);
    AlarmTimeInfo info{};
    info.dwEnable = reader.ReadUInt32();
    info.dwPeriod = reader.ReadUInt32();
    RaiseEvent(VIEWER_EVT_ALARM_TIME, reinterpret_cast<WPARAM>(&info), static_cast<LPARAM>(dwID));
}

void CEngCmd::ResViewer_AutoScanState(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    const DWORD dwState = reader.ReadUInt32();
    RaiseEvent(VIEWER_EVT_AUTOSCAN_STATE, dwState, static_cast<LPARAM>(dwID));
}

void CEngCmd::ResViewer_Report80000040(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    reader.Skip(4);
    const DWORD dwValue = reader.ReadUInt32();
    RaiseEvent(VIEWER_EVT_REPORT_80000040, dwValue, static_cast<LPARAM>(dwID));
}

void CEngCmd::ResViewer_ControlRTSP(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    const DWORD ulOperation = reader.ReadUInt32();
    const DWORD ulEnable = reader.ReadUInt32();
    const DWORD ulSessionMode = reader.ReadUInt32();
    const DWORD ulSubSessionMode = reader.ReadUInt32();
    // Only the answer to a read describes the settings.
    if (ulOperation != 0)
        return;
    VLOG(4,
         "CEngCmd::ResViewer_ControlRTSP dwID:%x, ulOperation:%d, ulEnable:%d, ulSessionMode:%d, "
         "ulSubSessionMode:%d",
         dwID, ulOperation, ulEnable, ulSessionMode, ulSubSessionMode);
    RtspInfo info{};
    info.dwID = dwID;
    info.bEnableAuthenticate = ulEnable != 0 ? 1 : 0;
    info.ucMainFps = SessionModeFrameRate(ulSessionMode);
    info.ucMainResolution = SessionModeResolution(ulSessionMode);
    info.usMainBitrate = SessionModeBitrate(ulSessionMode);
    info.ucSubFps = SessionModeFrameRate(ulSubSessionMode);
    info.ucSubResolution = SessionModeResolution(ulSubSessionMode);
    info.usSubBitrate = SessionModeBitrate(ulSubSessionMode);
    VLOG(4,
         "CEngCmd::ResViewer_ControlRTSP 1 bEnableAuthenticate:%d, ucMainFps:%d, ucMainResolution:%d, "
         "usMainBitrate:%d",
         info.bEnableAuthenticate, info.ucMainFps, info.ucMainResolution, info.usMainBitrate);
    VLOG(4, "CEngCmd::ResViewer_ControlRTSP 2 ucSubFps:%d, ucSubResolution:%d, usSubBitrate:%d",
         info.ucSubFps, info.ucSubResolution, info.usSubBitrate);
    RaiseEvent(VIEWER_EVT_RTSP, 0, Ptr(&info));
}

void CEngCmd::ResViewer_ControlSnapshotServer(DWORD dwID, const BYTE* pData, std::size_t nLen)
{
    CPacketReader reader(pData, nLen);
    const DWORD ulOperation = reader.ReadUInt32();
    const BYTE ucEnable = reader.ReadUInt8();
    const BYTE ucMode = reader.ReadUInt8();
    const WORD usParam = reader.ReadUInt16();
    const DWORD ulServerIP = reader.ReadUInt32();
    const DWORD ulServerPort = reader.ReadUInt32();
    const DWORD ulSessionMode = reader.ReadUInt32();
    VLOG(3,
         "CEngCmd::ResViewer_ControlSnapshotServer 1 dwID:%x, ulOperation:%d, ucEnable:%d, ucMode:%d, "
         "usParam:%d",
         dwID, ulOperation, ucEnable, ucMode, usParam);
    VLOG(3, "CEngCmd::ResViewer_ControlSnapshotServer 2 ulServerIP:%x, ulServerPort:%d, ulSessionMode:%x",
         ulServerIP, ulServerPort, ulSessionMode);
    SnapshotServerInfo info{};
    info.dwID = dwID;
    info.bEnableSnapshotServer = ucEnable & 1;
    info.ucPicCount = ucEnable >> 1;
    info.bRegion1Send = Bits(ucMode, 0, 1);
    info.bRegion2Send = Bits(ucMode, 1, 1);
    info.bRegion3Send = Bits(ucMode, 2, 1);
    info.bRegionDISend = Bits(ucMode, 3, 1);
    info.b485Send = Bits(ucMode, 4, 1);
    info.bSendInTimer = Bits(ucMode, 5, 1);
    info.usTimeInterval = usParam;
    info.ulServerIP = ulServerIP;
    info.ulServerPort = ulServerPort;
    info.ucPicResolution = SessionModeResolution(ulSessionMode);
    VLOG(3,
         "CEngCmd::ResViewer_ControlSnapshotServer 3 bEnableSnapshotServer:%d, ucPicCount:%d, "
         "bRegion1Send:%d, "
         "bRegion2Send:%d, bRegion3Send:%d, bRegionDISend:%d, b485Send:%d, bSendInTimer:%d",
         info.bEnableSnapshotServer, info.ucPicCount, info.bRegion1Send, info.bRegion2Send, info.bRegion3Send,
         info.bRegionDISend, info.b485Send, info.bSendInTimer);
    VLOG(3,
         "CEngCmd::ResViewer_ControlSnapshotServer 4 usTimeInterval:%d, ulServerIP:%x, ulServerPort:%d, "
         "ucPicResolution:%d",
         info.usTimeInterval, info.ulServerIP, info.ulServerPort, info.ucPicResolution);
    RaiseEvent(VIEWER_EVT_SNAPSHOT_SERVER, 0, Ptr(&info));
}
