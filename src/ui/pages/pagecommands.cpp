#include "ui/pages/pagecommands.h"

#include "core/notify.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "device/settinggroups.h"
#include "platform/msgwindow.h"
#include "protocol/engcmd.h"
#include "protocol/engoffcmd.h"

void CPageCommands::Cmd_SetName(DWORD dwID, const std::u16string& strName)
{
    GetEngCmd()->Cmd_SetName(dwID, strName, 0);
}

void CPageCommands::Cmd_SetPassword(DWORD dwID, const BYTE (&pbOld)[PASSWORD_LEN],
                                    const BYTE (&pbNew)[PASSWORD_LEN])
{
    GetEngCmd()->Cmd_SetPassword(dwID, pbOld, pbNew);
}

void CPageCommands::Cmd_SetTimeFormat(DWORD dwID, BYTE byFormat)
{
    GetEngCmd()->Cmd_SetTimeFormat(dwID, byFormat);
}

void CPageCommands::Cmd_DServerConnect(DWORD dwID, BYTE bConnect)
{
    GetEngCmd()->Cmd_DServerConnect(dwID, bConnect);
}

void CPageCommands::Cmd_CameraPort(DWORD dwID, WORD usPort)
{
    GetEngCmd()->Cmd_CameraPort(dwID, 0, usPort);
}

void CPageCommands::Cmd_UpnpConnect(DWORD dwID, BYTE bConnect)
{
    GetEngCmd()->Cmd_UpnpConnect(dwID, bConnect);
}

void CPageCommands::Cmd_SetNTP(DWORD dwID, const NtpInfo& info)
{
    GetEngCmd()->Cmd_SetNTP(dwID, info);
}

void CPageCommands::Cmd_SetMotion(DWORD dwID, const MotionInfo& info)
{
    GetEngCmd()->Cmd_SetMotion(dwID, info);
}

void CPageCommands::Cmd_SetDo(DWORD dwID, const DoInfo& info)
{
    GetEngCmd()->Cmd_SetDo(dwID, info);
}

void CPageCommands::Cmd_SetMail(DWORD dwID, const MailInfo& info)
{
    GetEngCmd()->Cmd_SetMail(dwID, info);
}

void CPageCommands::Cmd_AlarmTime(DWORD dwID, DWORD dwEnable, DWORD dwPeriod)
{
    // Operation 1 writes; 0 only asks.
    GetEngCmd()->Cmd_AlarmTime(dwID, 1, dwEnable, dwPeriod);
}

void CPageCommands::Cmd_ControlSnapshotServer(DWORD dwID, BYTE ucEnable, BYTE ucMode, WORD usParam,
                                              DWORD ulServerIP, DWORD ulServerPort, DWORD ulSessionMode)
{
    GetEngCmd()->Cmd_ControlSnapshotServer(dwID, 1, ucEnable, ucMode, usParam, ulServerIP, ulServerPort,
                                           ulSessionMode);
}

void CPageCommands::Cmd_SetRecordSD(DWORD dwID, const RecordInfo& info)
{
    GetEngCmd()->Cmd_SetRecordSD(dwID, info);
}

void CPageCommands::Cmd_SetRecordNas(DWORD dwID, const RecordInfo& info)
{
    GetEngCmd()->Cmd_SetRecordNas(dwID, info);
}

void CPageCommands::Cmd_PTZMove(DWORD dwID, BYTE byClass, BYTE byCommand, BYTE bySpeed1, BYTE bySpeed2)
{
    GetEngCmd()->Cmd_PTZMove(dwID, byClass, byCommand, bySpeed1, bySpeed2);
}

void CPageCommands::Cmd_PTZRelease(DWORD dwID)
{
    GetEngCmd()->Cmd_PTZRelease(dwID);
}

void CPageCommands::Cmd_PTZScan(DWORD dwID, bool bStart)
{
    if (bStart)
        GetEngCmd()->Cmd_PTZStartScan(dwID);
    else
        GetEngCmd()->Cmd_PTZStopScan(dwID);
}

void CPageCommands::Cmd_SetPreset(DWORD dwID, BYTE byNumber, const std::string& strName)
{
    GetEngCmd()->Cmd_SetPreset(dwID, byNumber, strName);
}

void CPageCommands::Cmd_DeletePreset(DWORD dwID, BYTE byNumber)
{
    GetEngCmd()->Cmd_DeletePreset(dwID, byNumber);
}

void CPageCommands::Cmd_GotoPreset(DWORD dwID, BYTE byNumber)
{
    GetEngCmd()->Cmd_GotoPreset(dwID, byNumber);
}

void CPageCommands::Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule)
{
    GetEngCmd()->Cmd_AutoScanSchedule(dwID, schedule);
}

void CPageCommands::Cmd_SetDome(DWORD dwID, const DomeInfo& info)
{
    GetEngCmd()->Cmd_SetDome(dwID, info);
}

void CPageCommands::Cmd_SetNetParam(const NetParamRecord& record)
{
    CEngOffCmd::GetInstance()->Cmd_SetNetParam(record);
}

void CPageCommands::Cmd_WifiSet(const WifiRecord& record)
{
    CEngOffCmd::GetInstance()->Cmd_WifiSet(record);
}

void CPageCommands::Cmd_3GSet(const char* pszSerial, const ThreeGRequest& request)
{
    CEngOffCmd::GetInstance()->Cmd_3GSet(pszSerial, request.bOperation, request.bConnectType,
                                         request.bUseDefaultDial, request.bIs3GCam, request.strAPN.c_str(),
                                         request.strTelNum.c_str(), request.strAccount.c_str(),
                                         request.strPassword.c_str());
}

void CPageCommands::Cmd_VideoQuality(DWORD dwID, DWORD dwMode)
{
    GetEngCmd()->Cmd_VideoQuality(dwID, dwMode);
}

void CPageCommands::Cmd_QualityApply(DWORD dwID)
{
    GetEngCmd()->Cmd_QualityApply(dwID);
}

void CPageCommands::Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue)
{
    GetEngCmd()->Cmd_SensorControl(dwID, dwControl, dwValue);
}

void CPageCommands::ReScanWifi()
{
    GetDeviceManager()->ReScanWifi();
}

void CPageCommands::Cmd_Reboot(DWORD dwID)
{
    GetEngCmd()->Cmd_SystemSetting(dwID, SYSTEM_SETTING_REBOOT, 0);
}

void CPageCommands::Cmd_SetCameraTime(DWORD dwID, DWORD dwUtc, LONG nOffsetMinutes)
{
    GetEngCmd()->Cmd_TimeSetting(dwID, dwUtc, static_cast<DWORD>(nOffsetMinutes));
}

void CPageCommands::Cmd_ClearSDRecords(DWORD dwID)
{
    GetEngCmd()->Cmd_SDOperation(dwID, SD_OPERATION_CLEAR);
}

void CPageCommands::Cmd_ControlRTSP(DWORD dwID, DWORD ulOperation, DWORD ulEnable, DWORD ulSessionMode,
                                    DWORD ulSubSessionMode)
{
    GetEngCmd()->Cmd_ControlRTSP(dwID, ulOperation, ulEnable, ulSessionMode, ulSubSessionMode);
}

void CPageCommands::Cmd_GetDo(DWORD dwID)
{
    GetEngCmd()->Cmd_GetDo(dwID);
}

void CPageCommands::Cmd_GetAlarmTime(DWORD dwID)
{
    // Operation 0 only asks.
    GetEngCmd()->Cmd_AlarmTime(dwID, 0, 0, 0);
}

void CPageCommands::Cmd_GetVideoReport(DWORD dwID)
{
    GetEngCmd()->Cmd_QueryVideoReport(dwID);
}

void CPageCommands::Cmd_GetNTP(DWORD dwID)
{
    GetEngCmd()->Cmd_GetNTP(dwID);
}

void CPageCommands::Cmd_GetRecordSD(DWORD dwID)
{
    GetEngCmd()->Cmd_GetRecordSD(dwID);
}

void CPageCommands::Cmd_GetRecordNas(DWORD dwID)
{
    GetEngCmd()->Cmd_GetRecordNas(dwID);
}

void CPageCommands::Cmd_GetMail(DWORD dwID)
{
    GetEngCmd()->Cmd_GetMail(dwID);
}

namespace {
constexpr UINT WM_PAGE_RTSP = WM_USER + 59;
constexpr UINT WM_PAGE_DOME = WM_USER + 51;

} // namespace

void CPageCommands::OpenWindow()
{
    if (m_hWnd != nullptr)
        return;
    m_hWnd = GetWindowsManage()->CreateMsgWindow("ConfigPages", this);
    GetEngCmd()->RegisterResponse(VIEWER_EVT_RTSP, m_hWnd, WM_PAGE_RTSP, 0);
    GetEngCmd()->RegisterResponse(VIEWER_EVT_DOME, m_hWnd, WM_PAGE_DOME, 0);
}

void CPageCommands::CloseWindowWhenUnused()
{
    // The pages go before the engines do: the last one takes the window along.
    if (!m_mapRtspSinks.empty() || !m_mapDomeSinks.empty() || m_hWnd == nullptr)
        return;
    GetEngCmd()->RemoveResponse(VIEWER_EVT_RTSP, m_hWnd);
    GetEngCmd()->RemoveResponse(VIEWER_EVT_DOME, m_hWnd);
    GetWindowsManage()->DestroyMsgWindow(m_hWnd);
    m_hWnd = nullptr;
}

int CPageCommands::AddRtspSink(std::function<void(const RtspInfo&)> fnSink)
{
    OpenWindow();
    const int nSink = m_nNextSink++;
    m_mapRtspSinks[nSink] = std::move(fnSink);
    return nSink;
}

void CPageCommands::RemoveRtspSink(int nSink)
{
    m_mapRtspSinks.erase(nSink);
    CloseWindowWhenUnused();
}

int CPageCommands::AddDomeSink(std::function<void(DWORD, const DomeReply&)> fnSink)
{
    OpenWindow();
    const int nSink = m_nNextSink++;
    m_mapDomeSinks[nSink] = std::move(fnSink);
    return nSink;
}

void CPageCommands::RemoveDomeSink(int nSink)
{
    m_mapDomeSinks.erase(nSink);
    CloseWindowWhenUnused();
}

void CPageCommands::OnWndProcSink(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (lParam == 0)
        return;
    // The records are on the engine's stack: each sink copies what it keeps.
    if (uMsg == WM_PAGE_RTSP) {
        const RtspInfo info = *reinterpret_cast<const RtspInfo*>(lParam);
        const auto mapSinks = m_mapRtspSinks;
        for (const auto& [nSink, fnSink] : mapSinks)
            fnSink(info);
    } else if (uMsg == WM_PAGE_DOME) {
        const DomeReply reply = *reinterpret_cast<const DomeReply*>(lParam);
        const auto mapSinks = m_mapDomeSinks;
        for (const auto& [nSink, fnSink] : mapSinks)
            fnSink(static_cast<DWORD>(wParam), reply);
    }
}

IDeviceManager* PageContext::Manager() const
{
    return pManager != nullptr ? pManager : GetDeviceManager();
}

IPageCommands* PageContext::Commands() const
{
    static CPageCommands s_commands;
    return pCommands != nullptr ? pCommands : &s_commands;
}

CNotifyManager* PageContext::Bus() const
{
    return pNotify != nullptr ? pNotify : GetNotifyManager();
}

IDownloadRecordManager* PageContext::Downloads() const
{
    return pDownloads != nullptr ? pDownloads : GetDownloadRecordManager();
}
