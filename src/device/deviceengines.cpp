#include "device/deviceengines.h"

#include "core/log.h"
#include "protocol/engcmd.h"
#include "protocol/engoffcmd.h"
#include "protocol/mscmd.h"

namespace {
// The value that goes with the record-time query sent after a download start.
constexpr DWORD RECORD_TIME_QUERY_VALUE = 0;
} // namespace

CDeviceEngines::CDeviceEngines(CEngCmd* pEngCmd, CEngOffCmd* pEngOffCmd, CMSCmd* pMSCmd)
    : m_pEngCmd(pEngCmd != nullptr ? pEngCmd : GetEngCmd()),
      m_pEngOffCmd(pEngOffCmd != nullptr ? pEngOffCmd : CEngOffCmd::GetInstance()),
      m_pMSCmd(pMSCmd != nullptr ? pMSCmd : CMSCmd::GetInstance())
{
    FATAL_CHECK(m_pEngCmd != nullptr && m_pEngOffCmd != nullptr && m_pMSCmd != nullptr);
}

namespace {
CEngResponse* EngineOf(DeviceEngine enEngine, CEngCmd* pEngCmd, CEngOffCmd* pEngOffCmd, CMSCmd* pMSCmd)
{
    switch (enEngine) {
    case DeviceEngine::Viewer:
        return pEngCmd;
    case DeviceEngine::Lan:
        return pEngOffCmd;
    case DeviceEngine::RecordTime:
        return pMSCmd;
    }
    FATAL_CHECK(false);
}
} // namespace

void CDeviceEngines::RegisterResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd, UINT uMsg)
{
    EngineOf(enEngine, m_pEngCmd, m_pEngOffCmd, m_pMSCmd)->RegisterResponse(byCode, hWnd, uMsg, 0);
}

void CDeviceEngines::RemoveResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd)
{
    EngineOf(enEngine, m_pEngCmd, m_pEngOffCmd, m_pMSCmd)->RemoveResponse(byCode, hWnd);
}

void CDeviceEngines::SetLanDeviceLookup(ILanDeviceLookup* pLookup)
{
    m_pEngOffCmd->SetDeviceLookup(pLookup);
}

void CDeviceEngines::SearchByMulticast()
{
    m_pEngCmd->SearchByMulticast();
}
void CDeviceEngines::SearchKnownDevices()
{
    m_pEngCmd->SearchKnownDevices();
}
void CDeviceEngines::StartSweep()
{
    m_pEngCmd->StartSweep();
}
void CDeviceEngines::Cmd_StartVideo(DWORD dwID, const BYTE* pbEncryptedID, BYTE byStreamType, BOOL bDownload)
{
    m_pEngCmd->Cmd_StartVideo(dwID, pbEncryptedID, byStreamType, bDownload);
}
void CDeviceEngines::Cmd_StopVideo(const BYTE* pbEncryptedID, DWORD dwID)
{
    m_pEngCmd->Cmd_StopVideo(pbEncryptedID, dwID);
}
void CDeviceEngines::Cmd_AudioControl(DWORD dwID, DWORD dwOpen, DWORD dwFlags)
{
    m_pEngCmd->Cmd_AudioControl(dwID, dwOpen, dwFlags);
}
void CDeviceEngines::Cmd_GetVolume(DWORD dwID)
{
    m_pEngCmd->Cmd_GetVolume(dwID);
}
void CDeviceEngines::Cmd_QueryCapability(DWORD dwID)
{
    m_pEngCmd->Cmd_QueryCapability(dwID);
}
void CDeviceEngines::Cmd_GetVersion(DWORD dwID)
{
    m_pEngCmd->Cmd_GetVersion(dwID);
}
void CDeviceEngines::Cmd_UpnpQuery(DWORD dwID)
{
    m_pEngCmd->Cmd_UpnpQuery(dwID);
}
void CDeviceEngines::Cmd_GetPreset(DWORD dwID)
{
    m_pEngCmd->Cmd_GetPreset(dwID);
}
void CDeviceEngines::Cmd_GetAutoScanState(DWORD dwID)
{
    m_pEngCmd->Cmd_GetAutoScanState(dwID);
}
void CDeviceEngines::Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule)
{
    m_pEngCmd->Cmd_AutoScanSchedule(dwID, schedule);
}
void CDeviceEngines::Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue)
{
    m_pEngCmd->Cmd_SensorControl(dwID, dwControl, dwValue);
}
void CDeviceEngines::Cmd_QueryVideoReport(DWORD dwID)
{
    m_pEngCmd->Cmd_QueryVideoReport(dwID);
}
void CDeviceEngines::Cmd_CameraPort(DWORD dwID, WORD usValue1, WORD usValue2)
{
    m_pEngCmd->Cmd_CameraPort(dwID, usValue1, usValue2);
}
void CDeviceEngines::Cmd_GetTimeFormat(DWORD dwID)
{
    m_pEngCmd->Cmd_GetTimeFormat(dwID);
}
void CDeviceEngines::Cmd_GetNTP(DWORD dwID)
{
    m_pEngCmd->Cmd_GetNTP(dwID);
}
void CDeviceEngines::Cmd_GetMotion(DWORD dwID)
{
    m_pEngCmd->Cmd_GetMotion(dwID);
}
void CDeviceEngines::Cmd_ControlSnapshotServer(DWORD dwID, DWORD ulOperation, BYTE ucEnable, BYTE ucMode,
                                               WORD usParam, DWORD ulServerIP, DWORD ulServerPort,
                                               DWORD ulSessionMode)
{
    m_pEngCmd->Cmd_ControlSnapshotServer(dwID, ulOperation, ucEnable, ucMode, usParam, ulServerIP,
                                         ulServerPort, ulSessionMode);
}
void CDeviceEngines::Cmd_GetMail(DWORD dwID)
{
    m_pEngCmd->Cmd_GetMail(dwID);
}
void CDeviceEngines::Cmd_GetDo(DWORD dwID)
{
    m_pEngCmd->Cmd_GetDo(dwID);
}
void CDeviceEngines::Cmd_AlarmTime(DWORD dwID, DWORD dwOperation, DWORD dwEnable, DWORD dwPeriod)
{
    m_pEngCmd->Cmd_AlarmTime(dwID, dwOperation, dwEnable, dwPeriod);
}
void CDeviceEngines::Cmd_GetRecordSD(DWORD dwID)
{
    m_pEngCmd->Cmd_GetRecordSD(dwID);
}
void CDeviceEngines::Cmd_GetSDInfo(DWORD dwID)
{
    m_pEngCmd->Cmd_GetSDInfo(dwID);
}
void CDeviceEngines::Cmd_GetRecordNas(DWORD dwID)
{
    m_pEngCmd->Cmd_GetRecordNas(dwID);
}
void CDeviceEngines::Cmd_GetNetworkExtend(DWORD dwID, BYTE byType)
{
    m_pEngCmd->Cmd_GetNetworkExtend(dwID, byType);
}

void CDeviceEngines::Cmd_GetNetParam(DWORD dwID)
{
    m_pEngOffCmd->Cmd_GetNetParam(dwID);
}
void CDeviceEngines::Cmd_GetDServer(DWORD dwID)
{
    m_pEngOffCmd->Cmd_GetDServer(dwID);
}
void CDeviceEngines::Cmd_WifiQuery(const char* pszSerial)
{
    m_pEngOffCmd->Cmd_WifiQuery(pszSerial);
}
void CDeviceEngines::Cmd_3GQuery(const char* pszSerial)
{
    m_pEngOffCmd->Cmd_3GQuery(pszSerial);
}
void CDeviceEngines::Cmd_Query3GStatus(const char* pszSerial)
{
    m_pEngOffCmd->Cmd_Query3GStatus(pszSerial);
}

void CDeviceEngines::RecordTime_QueryRange(DWORD dwID, DWORD dwOption)
{
    m_pMSCmd->Cmd_RecordOption(dwID, dwOption);
    m_pMSCmd->Cmd_RecordOption2(dwID, dwOption);
}
void CDeviceEngines::RecordTime_QueryRecordInfo(DWORD dwID)
{
    m_pMSCmd->Cmd_GetRecTime(dwID, RECORD_TIME_QUERY_VALUE);
}
void CDeviceEngines::RecordTime_Pump()
{
    m_pMSCmd->Pump();
}
