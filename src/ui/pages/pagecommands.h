// What the configuration pages send, and where their data and their camera come from. The
// default forwards to the process-wide viewer and LAN engines, device manager, notification
// bus and download manager; tests put recorders in their place.
#pragma once

#include "core/windowsmanage.h"
#include "platform/wintypes.h"
#include "protocol/lancmd.h"
#include "protocol/password.h"
#include "protocol/viewerrecords.h"

#include <functional>
#include <map>
#include <string>

class CNotifyManager;
class IDeviceManager;
class IDownloadRecordManager;

class IPageCommands {
public:
    virtual ~IPageCommands() = default;
    // Viewer engine.
    virtual void Cmd_SetName(DWORD dwID, const std::u16string& strName) = 0;
    virtual void Cmd_SetPassword(DWORD dwID, const BYTE (&pbOld)[PASSWORD_LEN],
                                 const BYTE (&pbNew)[PASSWORD_LEN]) = 0;
    virtual void Cmd_SetTimeFormat(DWORD dwID, BYTE byFormat) = 0;
    virtual void Cmd_DServerConnect(DWORD dwID, BYTE bConnect) = 0;
    virtual void Cmd_CameraPort(DWORD dwID, WORD usPort) = 0;
    virtual void Cmd_UpnpConnect(DWORD dwID, BYTE bConnect) = 0;
    virtual void Cmd_SetNTP(DWORD dwID, const NtpInfo& info) = 0;
    virtual void Cmd_SetMotion(DWORD dwID, const MotionInfo& info) = 0;
    virtual void Cmd_SetDo(DWORD dwID, const DoInfo& info) = 0;
    virtual void Cmd_SetMail(DWORD dwID, const MailInfo& info) = 0;
    // dwPeriod: start hour, start minute, end hour, end minute from the low byte up.
    virtual void Cmd_AlarmTime(DWORD dwID, DWORD dwEnable, DWORD dwPeriod) = 0;
    virtual void Cmd_ControlSnapshotServer(DWORD dwID, BYTE ucEnable, BYTE ucMode, WORD usParam,
                                           DWORD ulServerIP, DWORD ulServerPort, DWORD ulSessionMode) = 0;
    virtual void Cmd_SetRecordSD(DWORD dwID, const RecordInfo& info) = 0;
    virtual void Cmd_SetRecordNas(DWORD dwID, const RecordInfo& info) = 0;
    // Pan, tilt and zoom: a movement key until released, the patrol, the presets and the tour.
    virtual void Cmd_PTZMove(DWORD dwID, BYTE byClass, BYTE byCommand, BYTE bySpeed1, BYTE bySpeed2) = 0;
    virtual void Cmd_PTZRelease(DWORD dwID) = 0;
    virtual void Cmd_PTZScan(DWORD dwID, bool bStart) = 0;
    virtual void Cmd_SetPreset(DWORD dwID, BYTE byNumber, const std::string& strName) = 0;
    virtual void Cmd_DeletePreset(DWORD dwID, BYTE byNumber) = 0;
    virtual void Cmd_GotoPreset(DWORD dwID, BYTE byNumber) = 0;
    virtual void Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule) = 0;
    virtual void Cmd_SetDome(DWORD dwID, const DomeInfo& info) = 0;
    // The live stream's session-mode word; a sensor control word and its value.
    virtual void Cmd_VideoQuality(DWORD dwID, DWORD dwMode) = 0;
    // Follows a quality setting: the camera takes the new stream settings on.
    virtual void Cmd_QualityApply(DWORD dwID) = 0;
    virtual void Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue) = 0;
    // LAN engine.
    virtual void Cmd_SetNetParam(const NetParamRecord& record) = 0;
    virtual void Cmd_WifiSet(const WifiRecord& record) = 0;
    virtual void Cmd_3GSet(const char* pszSerial, const struct ThreeGRequest& request) = 0;
    // The device manager asks the camera for a new survey.
    virtual void ReScanWifi() = 0;
    // Restart the camera.
    virtual void Cmd_Reboot(DWORD dwID) = 0;
    // The camera's clock from the PC's: UTC seconds and the PC's offset from UTC in minutes.
    virtual void Cmd_SetCameraTime(DWORD dwID, DWORD dwUtc, LONG nOffsetMinutes) = 0;
    virtual void Cmd_ClearSDRecords(DWORD dwID) = 0;
    // Operation 0 reads; the answer comes to the RTSP sinks.
    virtual void Cmd_ControlRTSP(DWORD dwID, DWORD ulOperation, DWORD ulEnable, DWORD ulSessionMode,
                                 DWORD ulSubSessionMode) = 0;
    // The RTSP settings live only in the camera's answers: each sink sees every one until removed.
    virtual int AddRtspSink(std::function<void(const RtspInfo&)> fnSink) = 0;
    virtual void RemoveRtspSink(int nSink) = 0;
    // The dome's answer to its setting (camera id, the address and the baud rate it holds).
    virtual int AddDomeSink(std::function<void(DWORD, const DomeReply&)> fnSink) = 0;
    virtual void RemoveDomeSink(int nSink) = 0;
    // Reads for the read-back after "Apply to"; the device manager files the answers.
    virtual void Cmd_GetDo(DWORD dwID) = 0;
    virtual void Cmd_GetAlarmTime(DWORD dwID) = 0;
    virtual void Cmd_GetVideoReport(DWORD dwID) = 0;
    virtual void Cmd_GetNTP(DWORD dwID) = 0;
    virtual void Cmd_GetRecordSD(DWORD dwID) = 0;
    virtual void Cmd_GetRecordNas(DWORD dwID) = 0;
    virtual void Cmd_GetMail(DWORD dwID) = 0;
};

class CPageCommands : public IPageCommands, public IWndProcSink {
public:
    void Cmd_SetName(DWORD dwID, const std::u16string& strName) override;
    void Cmd_SetPassword(DWORD dwID, const BYTE (&pbOld)[PASSWORD_LEN],
                         const BYTE (&pbNew)[PASSWORD_LEN]) override;
    void Cmd_SetTimeFormat(DWORD dwID, BYTE byFormat) override;
    void Cmd_DServerConnect(DWORD dwID, BYTE bConnect) override;
    void Cmd_CameraPort(DWORD dwID, WORD usPort) override;
    void Cmd_UpnpConnect(DWORD dwID, BYTE bConnect) override;
    void Cmd_SetNTP(DWORD dwID, const NtpInfo& info) override;
    void Cmd_SetMotion(DWORD dwID, const MotionInfo& info) override;
    void Cmd_SetDo(DWORD dwID, const DoInfo& info) override;
    void Cmd_SetMail(DWORD dwID, const MailInfo& info) override;
    void Cmd_AlarmTime(DWORD dwID, DWORD dwEnable, DWORD dwPeriod) override;
    void Cmd_ControlSnapshotServer(DWORD dwID, BYTE ucEnable, BYTE ucMode, WORD usParam, DWORD ulServerIP,
                                   DWORD ulServerPort, DWORD ulSessionMode) override;
    void Cmd_SetRecordSD(DWORD dwID, const RecordInfo& info) override;
    void Cmd_SetRecordNas(DWORD dwID, const RecordInfo& info) override;
    void Cmd_PTZMove(DWORD dwID, BYTE byClass, BYTE byCommand, BYTE bySpeed1, BYTE bySpeed2) override;
    void Cmd_PTZRelease(DWORD dwID) override;
    void Cmd_PTZScan(DWORD dwID, bool bStart) override;
    void Cmd_SetPreset(DWORD dwID, BYTE byNumber, const std::string& strName) override;
    void Cmd_DeletePreset(DWORD dwID, BYTE byNumber) override;
    void Cmd_GotoPreset(DWORD dwID, BYTE byNumber) override;
    void Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule) override;
    void Cmd_SetDome(DWORD dwID, const DomeInfo& info) override;
    void Cmd_VideoQuality(DWORD dwID, DWORD dwMode) override;
    void Cmd_QualityApply(DWORD dwID) override;
    void Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue) override;
    void Cmd_SetNetParam(const NetParamRecord& record) override;
    void Cmd_WifiSet(const WifiRecord& record) override;
    void Cmd_3GSet(const char* pszSerial, const ThreeGRequest& request) override;
    void ReScanWifi() override;
    void Cmd_Reboot(DWORD dwID) override;
    void Cmd_SetCameraTime(DWORD dwID, DWORD dwUtc, LONG nOffsetMinutes) override;
    void Cmd_ClearSDRecords(DWORD dwID) override;
    void Cmd_ControlRTSP(DWORD dwID, DWORD ulOperation, DWORD ulEnable, DWORD ulSessionMode,
                         DWORD ulSubSessionMode) override;
    int AddRtspSink(std::function<void(const RtspInfo&)> fnSink) override;
    void RemoveRtspSink(int nSink) override;
    int AddDomeSink(std::function<void(DWORD, const DomeReply&)> fnSink) override;
    void RemoveDomeSink(int nSink) override;
    void Cmd_GetDo(DWORD dwID) override;
    void Cmd_GetAlarmTime(DWORD dwID) override;
    void Cmd_GetVideoReport(DWORD dwID) override;
    void Cmd_GetNTP(DWORD dwID) override;
    void Cmd_GetRecordSD(DWORD dwID) override;
    void Cmd_GetRecordNas(DWORD dwID) override;
    void Cmd_GetMail(DWORD dwID) override;
    void OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    // A window for the engine's RTSP and dome answers while any sink is there.
    void OpenWindow();
    void CloseWindowWhenUnused();
    HWND m_hWnd = nullptr;
    int m_nNextSink = 1;
    std::map<int, std::function<void(const RtspInfo&)>> m_mapRtspSinks;
    std::map<int, std::function<void(DWORD, const DomeReply&)>> m_mapDomeSinks;
};

// Everything a page talks to; null members take the process-wide objects.
struct PageContext {
    IDeviceManager* pManager = nullptr;
    IPageCommands* pCommands = nullptr;
    CNotifyManager* pNotify = nullptr;
    IDownloadRecordManager* pDownloads = nullptr;

    IDeviceManager* Manager() const;
    IPageCommands* Commands() const;
    CNotifyManager* Bus() const;
    // Null when no download manager runs (there are no downloads then).
    IDownloadRecordManager* Downloads() const;
};
