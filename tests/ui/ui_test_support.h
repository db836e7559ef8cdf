// Test harness of the pages: a device manager holding chosen records, commands that are
// recorded instead of sent, and a bus of the test's own.
#pragma once

#include "core/notify.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "device/settinggroups.h"
#include "ui/pages/pagecommands.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace uitest {

class CFakeManager : public IDeviceManager {
public:
    DeviceInfo& Add(DWORD dwID, DWORD enType, const char16_t* pszName, bool bPresent = true)
    {
        auto pDevice = std::make_unique<DeviceInfo>();
        pDevice->stItem.dwDVIPID = dwID;
        std::char_traits<char16_t>::copy(pDevice->stItem.szName, pszName,
                                         std::char_traits<char16_t>::length(pszName));
        std::snprintf(pDevice->stItem.szSerial, sizeof(pDevice->stItem.szSerial), "SER%u", dwID);
        pDevice->enCameraType = enType;
        pDevice->bIsExist = bPresent ? 1 : 0;
        DeviceInfo& device = *pDevice;
        m_mapDevices[dwID] = pDevice.get();
        m_vecOwned.push_back(std::move(pDevice));
        return device;
    }

    const DeviceMap& GetDevices() const override { return m_mapDevices; }
    void GetAllSortedDevices(SortedDeviceMap& mapSorted) override
    {
        // As the real manager: the cameras present.
        for (const auto& [dwID, pDevice] : m_mapDevices) {
            if (pDevice->bIsExist != 0)
                mapSorted.emplace(std::to_string(dwID), pDevice);
        }
    }
    bool HasValidDevice() const override { return !m_mapDevices.empty(); }
    void SearchDevices(DWORD) override {}
    void ReSearchDevices() override {}
    void SelectDevice(DWORD dwID, DWORD, DWORD) override { m_pSelected = m_mapDevices.at(dwID); }
    void CancelSelectDevice() override { m_pSelected = nullptr; }
    DeviceInfo* GetSelectDevice() const override { return m_pSelected; }
    DWORD GetPlayType() const override
    {
        return m_pSelected != nullptr ? PLAY_TYPE_REALTIME : PLAY_TYPE_NONE;
    }
    DeviceInfo* GetDevice(const char*, DWORD) const override { return nullptr; }
    DeviceInfo* GetDevice(DWORD dwID, DWORD dwMask) const override
    {
        const auto it = m_mapDevices.find(dwID);
        return it != m_mapDevices.end() && (it->second->enCameraType & dwMask) != 0 ? it->second : nullptr;
    }
    DeviceInfo* GetParentDevice(DWORD) const override { return nullptr; }
    void GetNetworkExtendInfo() override {}
    void SetPassword(const BYTE (&)[PASSWORD_LEN]) override {}
    void GetAllRecordInfo() override {}
    void GetRecordInfo(DeviceInfo*) override {}
    void GetRecordInfo(DWORD) override {}
    void ReScanWifi() override {}
    void WatchDevice(DWORD dwID, DWORD, DWORD enPlayType) override { m_mapWatched[dwID] = enPlayType; }
    void UnwatchDevice(DWORD dwID, bool) override { m_mapWatched.erase(dwID); }
    bool IsWatched(DWORD dwID) const override { return m_mapWatched.count(dwID) != 0; }
    DWORD GetWatchedPlayType(DWORD dwID) const override
    {
        const auto it = m_mapWatched.find(dwID);
        return it != m_mapWatched.end() ? it->second : PLAY_TYPE_NONE;
    }
    bool HasWatchedDevice() const override { return !m_mapWatched.empty(); }
    void HoldLive(DWORD dwID, DWORD dwCameraType) override
    {
        WatchDevice(dwID, dwCameraType, PLAY_TYPE_REALTIME);
    }
    void ReleaseLive(DWORD dwID, bool bStopNow) override { UnwatchDevice(dwID, bStopNow); }

    DeviceInfo* m_pSelected = nullptr;
    // Watched cameras and their play types.
    std::map<DWORD, DWORD> m_mapWatched;

private:
    DeviceMap m_mapDevices;
    std::vector<std::unique_ptr<DeviceInfo>> m_vecOwned;
};

// Every command as one line "Name id values".
class CRecordingCommands : public IPageCommands {
public:
    void Cmd_SetName(DWORD dwID, const std::u16string& strName) override
    {
        Add("SetName", dwID, QString::fromStdU16String(strName).toStdString());
    }
    void Cmd_SetPassword(DWORD dwID, const BYTE (&)[PASSWORD_LEN], const BYTE (&pbNew)[PASSWORD_LEN]) override
    {
        Add("SetPassword", dwID,
            std::string(reinterpret_cast<const char*>(pbNew),
                        strnlen(reinterpret_cast<const char*>(pbNew), PASSWORD_LEN)));
    }
    void Cmd_SetTimeFormat(DWORD dwID, BYTE byFormat) override
    {
        Add("SetTimeFormat", dwID, std::to_string(byFormat));
    }
    void Cmd_DServerConnect(DWORD dwID, BYTE bConnect) override
    {
        Add("DServer", dwID, std::to_string(bConnect));
    }
    void Cmd_CameraPort(DWORD dwID, WORD usPort) override { Add("CameraPort", dwID, std::to_string(usPort)); }
    void Cmd_UpnpConnect(DWORD dwID, BYTE bConnect) override { Add("Upnp", dwID, std::to_string(bConnect)); }
    void Cmd_SetNTP(DWORD dwID, const NtpInfo& info) override
    {
        Add("SetNTP", dwID,
            std::to_string(info.usNtpSync) + " " + std::to_string(info.nTimeZone) + " " + info.szNtpServer +
                " " + std::to_string(info.byDstMode) + " " + std::to_string(info.dwMode1Start) + " " +
                std::to_string(info.dwMode1End) + " " + std::to_string(info.dwMode2Start) + " " +
                std::to_string(info.dwMode2End) + " f" + std::to_string(info.byFinal));
    }
    void Cmd_SetMotion(DWORD dwID, const MotionInfo& info) override
    {
        std::string s = std::to_string(info.bThreshold);
        for (const MotionRegion& r : info.region)
            s += " " + std::to_string(r.bEnable) + ":" + std::to_string(r.bLeft) + "," +
                 std::to_string(r.bTop) + "," + std::to_string(r.bRight) + "," + std::to_string(r.bBottom) +
                 "/" + std::to_string(r.bSensitivity);
        Add("SetMotion", dwID, s);
    }
    void Cmd_SetDo(DWORD dwID, const DoInfo& info) override
    {
        std::string s;
        for (BYTE b : info.abDo)
            s += std::to_string(b);
        s += "/";
        for (BYTE b : info.abSms)
            s += std::to_string(b);
        Add("SetDo", dwID, s);
    }
    void Cmd_SetMail(DWORD dwID, const MailInfo& info) override
    {
        std::string s =
            std::string(info.szServer) + " " + info.szSender + " " + std::to_string(info.nRecipients);
        for (int i = 0; i < info.nRecipients && i < MAIL_MAX_RECIPIENTS; ++i)
            s += std::string(" ") + info.aszRecipient[i];
        // Switch and events, then the log-in and the subject.
        s += " " + std::to_string(info.abFlag[4]) + "/" + std::to_string(info.abFlag[0]) +
             std::to_string(info.abFlag[1]) + std::to_string(info.abFlag[2]) + std::to_string(info.abFlag[3]);
        s += " auth=" + std::to_string(info.byValue) + " " + info.szSender2 + ":" + info.szText2;
        Add("SetMail", dwID, s + " {" + info.szText1 + "} [" + info.szMessage + "]");
    }
    void Cmd_AlarmTime(DWORD dwID, DWORD dwEnable, DWORD dwPeriod) override
    {
        Add("AlarmTime", dwID, std::to_string(dwEnable) + " " + std::to_string(dwPeriod));
    }
    void Cmd_ControlSnapshotServer(DWORD dwID, BYTE ucEnable, BYTE ucMode, WORD usParam, DWORD ulServerIP,
                                   DWORD ulServerPort, DWORD) override
    {
        Add("Snapshot", dwID,
            std::to_string(ucEnable) + " " + std::to_string(ucMode) + " " + std::to_string(usParam) + " " +
                std::to_string(ulServerIP) + " " + std::to_string(ulServerPort));
    }
    void Cmd_SetRecordSD(DWORD dwID, const RecordInfo& info) override
    {
        // The options byte by byte, then the timetable's hours that are on for any day.
        std::string s = std::to_string(info.dwSessionMode) + " ";
        for (const BYTE* p : {info.abSingle, info.abThree})
            s += std::to_string(p[0]) + std::to_string(p[1]) + std::to_string(p[2]);
        s += std::to_string(info.byOne) + std::to_string(info.abFour[0]) + std::to_string(info.abFour[1]) +
             std::to_string(info.abFour[2]) + std::to_string(info.abFour[3]);
        for (int h = 0; h < 24; ++h) {
            if (info.abSchedule[h] != 0) {
                char szHour[8];
                std::snprintf(szHour, sizeof(szHour), " %02d:%02x", h, info.abSchedule[h]);
                s += szHour;
            }
        }
        Add("SetRecordSD", dwID, s);
    }
    void Cmd_SetRecordNas(DWORD dwID, const RecordInfo& info) override
    {
        Add("SetRecordNas", dwID,
            std::to_string(info.dwSessionMode) + " " + std::to_string(info.dwValueA) + " " +
                std::to_string(info.dwValueB) + " " + info.szNasPath + " " + info.szNasAccount + " " +
                info.szNasPassword);
    }
    void Cmd_PTZMove(DWORD dwID, BYTE byClass, BYTE byCommand, BYTE bySpeed1, BYTE bySpeed2) override
    {
        Add("PTZMove", dwID,
            std::to_string(byClass) + " " + std::to_string(byCommand) + " " + std::to_string(bySpeed1) + " " +
                std::to_string(bySpeed2));
    }
    void Cmd_PTZRelease(DWORD dwID) override { Add("PTZRelease", dwID, ""); }
    void Cmd_PTZScan(DWORD dwID, bool bStart) override { Add("PTZScan", dwID, bStart ? "1" : "0"); }
    void Cmd_SetPreset(DWORD dwID, BYTE byNumber, const std::string& strName) override
    {
        Add("SetPreset", dwID, std::to_string(byNumber) + " " + strName);
    }
    void Cmd_DeletePreset(DWORD dwID, BYTE byNumber) override
    {
        Add("DeletePreset", dwID, std::to_string(byNumber));
    }
    void Cmd_GotoPreset(DWORD dwID, BYTE byNumber) override
    {
        Add("GotoPreset", dwID, std::to_string(byNumber));
    }
    void Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule) override
    {
        std::string s = std::to_string(schedule.byOperation) + " " + std::to_string(schedule.byValue);
        for (int k = 0; k < schedule.byPeriodCount; ++k)
            s += " " + std::to_string(schedule.aPeriod[k].dwNumber) + ":" +
                 std::to_string(schedule.aPeriod[k].dwStart) + "-" +
                 std::to_string(schedule.aPeriod[k].dwEnd);
        // Then each tour group's presets in their order.
        for (int i = 0; i < AUTOSCAN_ENTRIES; ++i) {
            const AutoScanEntry& entry = schedule.aEntry[i];
            if (entry.byNameLen == 0)
                continue;
            s += " g" + std::to_string(i) + "=";
            for (int n = 0; n < entry.byNameLen && n < AUTOSCAN_NAME_LEN; ++n)
                s += (n != 0 ? "," : "") + std::to_string(static_cast<BYTE>(entry.szName[n]));
        }
        Add("AutoScanSchedule", dwID, s);
    }
    void Cmd_SetDome(DWORD dwID, const DomeInfo& info) override
    {
        Add("SetDome", dwID, std::to_string(info.byAddress) + " " + std::to_string(info.usBaudRate));
    }
    void Cmd_VideoQuality(DWORD dwID, DWORD dwMode) override
    {
        Add("Quality", dwID,
            std::to_string(SessionModeFrameRate(dwMode)) + " " +
                std::to_string(SessionModeResolution(dwMode)) + " " +
                std::to_string(SessionModeBitrate(dwMode)));
    }
    void Cmd_QualityApply(DWORD dwID) override
    {
        m_vecSent.push_back("QualityApply " + std::to_string(dwID));
    }
    void Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue) override
    {
        char szWord[16];
        std::snprintf(szWord, sizeof(szWord), "%06x", static_cast<unsigned>(dwControl));
        Add("Sensor", dwID, std::string(szWord) + " " + std::to_string(dwValue));
    }
    void Cmd_WifiSet(const WifiRecord& record) override
    {
        m_vecWifiSettings.push_back(record.abySettings[0]);
        Add("WifiSet", 0,
            std::string(record.stBlock.Ssid, record.stBlock.SsidLength) + " " +
                std::to_string(record.stBlock.NetworkType) + " " +
                std::to_string(record.stBlock.AdhocChannel) + " k" +
                std::to_string(record.stBlock.WEPKeyDefIndex) +
                (record.stWebAuth.dwValue != 0
                     ? " ac " + std::to_string(record.stWebAuth.dwValue) + " " +
                           std::string(record.stWebAuth.szAddress, strnlen(record.stWebAuth.szAddress, 20)) +
                           " " +
                           std::string(record.stWebAuth.szAccount, strnlen(record.stWebAuth.szAccount, 20)) +
                           " " +
                           std::string(record.stWebAuth.szPassword, strnlen(record.stWebAuth.szPassword, 10))
                     : std::string()));
    }
    void Cmd_3GSet(const char* pszSerial, const ThreeGRequest& request) override
    {
        Add("3GSet", 0,
            std::string(pszSerial) + " " + std::to_string(request.bUseDefaultDial) + " " + request.strAPN +
                " " + request.strTelNum + " link " + std::to_string(request.bConnectType));
    }
    void ReScanWifi() override { Add("ReScanWifi", 0, ""); }
    void Cmd_Reboot(DWORD dwID) override { Add("Reboot", dwID, ""); }
    void Cmd_SetCameraTime(DWORD dwID, DWORD dwUtc, LONG nOffsetMinutes) override
    {
        Add("SetCameraTime", dwID, std::to_string(dwUtc) + " " + std::to_string(nOffsetMinutes));
    }
    void Cmd_ClearSDRecords(DWORD dwID) override { Add("ClearSDRecords", dwID, ""); }
    // A read is answered at once from m_rtsp (when m_bRtspAnswers); writes are recorded.
    void Cmd_ControlRTSP(DWORD dwID, DWORD ulOperation, DWORD ulEnable, DWORD ulSessionMode,
                         DWORD ulSubSessionMode) override
    {
        if (ulOperation == 0) {
            if (m_bRtspAnswers) {
                RtspInfo info = m_rtsp;
                info.dwID = dwID;
                for (const auto& [nSink, fnSink] : m_mapRtspSinks)
                    fnSink(info);
            }
            return;
        }
        Add("RTSP", dwID,
            std::to_string(ulEnable) + " " + std::to_string(ulSessionMode) + " " +
                std::to_string(ulSubSessionMode));
    }
    int AddRtspSink(std::function<void(const RtspInfo&)> fnSink) override
    {
        m_mapRtspSinks[++m_nSinks] = std::move(fnSink);
        return m_nSinks;
    }
    void RemoveRtspSink(int nSink) override { m_mapRtspSinks.erase(nSink); }
    int AddDomeSink(std::function<void(DWORD, const DomeReply&)> fnSink) override
    {
        m_mapDomeSinks[++m_nSinks] = std::move(fnSink);
        return m_nSinks;
    }
    void RemoveDomeSink(int nSink) override { m_mapDomeSinks.erase(nSink); }
    void Cmd_GetDo(DWORD dwID) override { m_vecAsked.push_back("GetDo " + std::to_string(dwID)); }
    void Cmd_GetAlarmTime(DWORD dwID) override
    {
        m_vecAsked.push_back("GetAlarmTime " + std::to_string(dwID));
    }
    void Cmd_GetVideoReport(DWORD dwID) override
    {
        m_vecAsked.push_back("GetVideoReport " + std::to_string(dwID));
    }
    void Cmd_GetNTP(DWORD dwID) override { m_vecAsked.push_back("GetNTP " + std::to_string(dwID)); }
    void Cmd_GetRecordSD(DWORD dwID) override { m_vecAsked.push_back("GetRecordSD " + std::to_string(dwID)); }
    void Cmd_GetRecordNas(DWORD dwID) override
    {
        m_vecAsked.push_back("GetRecordNas " + std::to_string(dwID));
    }
    void Cmd_GetMail(DWORD dwID) override { m_vecAsked.push_back("GetMail " + std::to_string(dwID)); }

    // The first settings byte of each Wi-Fi set (the link the camera is to use).
    std::vector<BYTE> m_vecWifiSettings;
    // Reads, apart from what changes a camera.
    std::vector<std::string> m_vecAsked;

    RtspInfo m_rtsp{};
    bool m_bRtspAnswers = true;
    std::map<int, std::function<void(const RtspInfo&)>> m_mapRtspSinks;
    std::map<int, std::function<void(DWORD, const DomeReply&)>> m_mapDomeSinks;
    int m_nSinks = 0;
    void Cmd_SetNetParam(const NetParamRecord& record) override
    {
        Add("SetNetParam", 0,
            std::string(record.szSerial) + " " + std::to_string(record.ucConnType) + " " +
                std::to_string(record.dwIP) + " " + std::to_string(record.dwNetmask));
    }

    std::vector<std::string> m_vecSent;

private:
    void Add(const char* pszName, DWORD dwID, const std::string& strValues)
    {
        m_vecSent.push_back(std::string(pszName) + " " + std::to_string(dwID) + " " + strValues);
    }
};

} // namespace uitest
