// The command engines as the device manager uses them: reply subscriptions and the requests
// it sends. The default forwards to the process-wide viewer, LAN and record-time engines;
// tests put a recorder in its place.
#pragma once

#include "platform/wintypes.h"
#include "protocol/viewerrecords.h"

class CEngCmd;
class CEngOffCmd;
class CMSCmd;
class ILanDeviceLookup;

enum class DeviceEngine {
    Viewer,
    Lan,
    RecordTime,
};

class IDeviceEngines {
public:
    virtual ~IDeviceEngines() = default;

    virtual void RegisterResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd, UINT uMsg) = 0;
    virtual void RemoveResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd) = 0;
    // The device list the LAN senders address their targets by (null: none).
    virtual void SetLanDeviceLookup(ILanDeviceLookup* pLookup) = 0;

    // Viewer engine.
    virtual void SearchByMulticast() = 0;
    virtual void SearchKnownDevices() = 0;
    virtual void StartSweep() = 0;
    virtual void Cmd_StartVideo(DWORD dwID, const BYTE* pbEncryptedID, BYTE byStreamType, BOOL bDownload) = 0;
    virtual void Cmd_StopVideo(const BYTE* pbEncryptedID, DWORD dwID) = 0;
    virtual void Cmd_AudioControl(DWORD dwID, DWORD dwOpen, DWORD dwFlags) = 0;
    virtual void Cmd_GetVolume(DWORD dwID) = 0;
    virtual void Cmd_QueryCapability(DWORD dwID) = 0;
    virtual void Cmd_GetVersion(DWORD dwID) = 0;
    virtual void Cmd_UpnpQuery(DWORD dwID) = 0;
    virtual void Cmd_GetPreset(DWORD dwID) = 0;
    virtual void Cmd_GetAutoScanState(DWORD dwID) = 0;
    virtual void Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule) = 0;
    virtual void Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue) = 0;
    virtual void Cmd_QueryVideoReport(DWORD dwID) = 0;
    virtual void Cmd_CameraPort(DWORD dwID, WORD usValue1, WORD usValue2) = 0;
    virtual void Cmd_GetTimeFormat(DWORD dwID) = 0;
    virtual void Cmd_GetNTP(DWORD dwID) = 0;
    virtual void Cmd_GetMotion(DWORD dwID) = 0;
    virtual void Cmd_ControlSnapshotServer(DWORD dwID, DWORD ulOperation, BYTE ucEnable, BYTE ucMode,
                                           WORD usParam, DWORD ulServerIP, DWORD ulServerPort,
                                           DWORD ulSessionMode) = 0;
    virtual void Cmd_GetMail(DWORD dwID) = 0;
    virtual void Cmd_GetDo(DWORD dwID) = 0;
    virtual void Cmd_AlarmTime(DWORD dwID, DWORD dwOperation, DWORD dwEnable, DWORD dwPeriod) = 0;
    virtual void Cmd_GetRecordSD(DWORD dwID) = 0;
    virtual void Cmd_GetSDInfo(DWORD dwID) = 0;
    virtual void Cmd_GetRecordNas(DWORD dwID) = 0;
    virtual void Cmd_GetNetworkExtend(DWORD dwID, BYTE byType) = 0;

    // LAN engine.
    virtual void Cmd_GetNetParam(DWORD dwID) = 0;
    virtual void Cmd_GetDServer(DWORD dwID) = 0;
    virtual void Cmd_WifiQuery(const char* pszSerial) = 0;
    virtual void Cmd_3GQuery(const char* pszSerial) = 0;
    virtual void Cmd_Query3GStatus(const char* pszSerial) = 0;

    // Record-time engine: the two range queries (codes 106 and 108) sent before record
    // information and playback, the query (code 18) sent after a download start, and the
    // periodic step of its reliable channel.
    virtual void RecordTime_QueryRange(DWORD dwID, DWORD dwOption) = 0;
    virtual void RecordTime_QueryRecordInfo(DWORD dwID) = 0;
    virtual void RecordTime_Pump() = 0;
};

// Forwards to the engines; null engines take the process-wide ones at construction.
class CDeviceEngines : public IDeviceEngines {
public:
    CDeviceEngines(CEngCmd* pEngCmd = nullptr, CEngOffCmd* pEngOffCmd = nullptr, CMSCmd* pMSCmd = nullptr);

    void RegisterResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd, UINT uMsg) override;
    void RemoveResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd) override;
    void SetLanDeviceLookup(ILanDeviceLookup* pLookup) override;

    void SearchByMulticast() override;
    void SearchKnownDevices() override;
    void StartSweep() override;
    void Cmd_StartVideo(DWORD dwID, const BYTE* pbEncryptedID, BYTE byStreamType, BOOL bDownload) override;
    void Cmd_StopVideo(const BYTE* pbEncryptedID, DWORD dwID) override;
    void Cmd_AudioControl(DWORD dwID, DWORD dwOpen, DWORD dwFlags) override;
    void Cmd_GetVolume(DWORD dwID) override;
    void Cmd_QueryCapability(DWORD dwID) override;
    void Cmd_GetVersion(DWORD dwID) override;
    void Cmd_UpnpQuery(DWORD dwID) override;
    void Cmd_GetPreset(DWORD dwID) override;
    void Cmd_GetAutoScanState(DWORD dwID) override;
    void Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule) override;
    void Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue) override;
    void Cmd_QueryVideoReport(DWORD dwID) override;
    void Cmd_CameraPort(DWORD dwID, WORD usValue1, WORD usValue2) override;
    void Cmd_GetTimeFormat(DWORD dwID) override;
    void Cmd_GetNTP(DWORD dwID) override;
    void Cmd_GetMotion(DWORD dwID) override;
    void Cmd_ControlSnapshotServer(DWORD dwID, DWORD ulOperation, BYTE ucEnable, BYTE ucMode, WORD usParam,
                                   DWORD ulServerIP, DWORD ulServerPort, DWORD ulSessionMode) override;
    void Cmd_GetMail(DWORD dwID) override;
    void Cmd_GetDo(DWORD dwID) override;
    void Cmd_AlarmTime(DWORD dwID, DWORD dwOperation, DWORD dwEnable, DWORD dwPeriod) override;
    void Cmd_GetRecordSD(DWORD dwID) override;
    void Cmd_GetSDInfo(DWORD dwID) override;
    void Cmd_GetRecordNas(DWORD dwID) override;
    void Cmd_GetNetworkExtend(DWORD dwID, BYTE byType) override;

    void Cmd_GetNetParam(DWORD dwID) override;
    void Cmd_GetDServer(DWORD dwID) override;
    void Cmd_WifiQuery(const char* pszSerial) override;
    void Cmd_3GQuery(const char* pszSerial) override;
    void Cmd_Query3GStatus(const char* pszSerial) override;

    void RecordTime_QueryRange(DWORD dwID, DWORD dwOption) override;
    void RecordTime_QueryRecordInfo(DWORD dwID) override;
    void RecordTime_Pump() override;

private:
    CEngCmd* m_pEngCmd;
    CEngOffCmd* m_pEngOffCmd;
    CMSCmd* m_pMSCmd;
};
