// Test harness of the device manager: engines that record the requests instead of sending
// them, a notification bus with one recording subscriber, a download manager with chosen
// downloads, a fake clock, and search items built like the viewer engine builds them.
#pragma once

#include "core/log.h"
#include "core/notify.h"
#include "core/windowsmanage.h"
#include "device/deviceengines.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "platform/codepage.h"
#include "platform/msgwindow.h"
#include "platform/ticks.h"
#include "platform/trace.h"
#include "protocol/engcmd.h"
#include "protocol/mscmd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace devicetest {

inline std::string Hex(const BYTE* p, std::size_t n)
{
    std::string s;
    char sz[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(sz, sizeof(sz), "%02X", p[i]);
        s += sz;
    }
    return s;
}

// Every request as "Name id [args]".
class CRecordingEngines : public IDeviceEngines {
public:
    struct Registration {
        DeviceEngine enEngine;
        BYTE byCode;
        HWND hWnd;
        UINT uMsg;
    };

    void RegisterResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd, UINT uMsg) override
    {
        m_vecRegistered.push_back({enEngine, byCode, hWnd, uMsg});
    }
    void RemoveResponse(DeviceEngine enEngine, BYTE byCode, HWND hWnd) override
    {
        auto it = std::find_if(m_vecRegistered.begin(), m_vecRegistered.end(), [&](const Registration& r) {
            return r.enEngine == enEngine && r.byCode == byCode && r.hWnd == hWnd;
        });
        if (it != m_vecRegistered.end())
            m_vecRegistered.erase(it);
    }
    void SetLanDeviceLookup(ILanDeviceLookup* pLookup) override { m_pLookup = pLookup; }

    void SearchByMulticast() override { Add("SearchByMulticast"); }
    void SearchKnownDevices() override { Add("SearchKnownDevices"); }
    void StartSweep() override { Add("StartSweep"); }
    void Cmd_StartVideo(DWORD dwID, const BYTE* pbToken, BYTE byStreamType, BOOL bDownload) override
    {
        Add("StartVideo " + std::to_string(dwID) + " " + Hex(pbToken, 16) + " " +
            std::to_string(byStreamType) + " " + std::to_string(bDownload));
    }
    void Cmd_StopVideo(const BYTE* pbToken, DWORD dwID) override
    {
        Add("StopVideo " + std::to_string(dwID) + " " + Hex(pbToken, 16));
    }
    void Cmd_AudioControl(DWORD dwID, DWORD dwOpen, DWORD dwFlags) override
    {
        Add("AudioControl " + std::to_string(dwID) + " " + std::to_string(dwOpen) + " " +
            std::to_string(dwFlags));
    }
    void Cmd_GetVolume(DWORD dwID) override { Add("GetVolume", dwID); }
    void Cmd_QueryCapability(DWORD dwID) override { Add("QueryCapability", dwID); }
    void Cmd_GetVersion(DWORD dwID) override { Add("GetVersion", dwID); }
    void Cmd_UpnpQuery(DWORD dwID) override { Add("UpnpQuery", dwID); }
    void Cmd_GetPreset(DWORD dwID) override { Add("GetPreset", dwID); }
    void Cmd_GetAutoScanState(DWORD dwID) override { Add("GetAutoScanState", dwID); }
    void Cmd_AutoScanSchedule(DWORD dwID, const AutoScanSchedule& schedule) override
    {
        const AutoScanSchedule zero{};
        Add(std::string("AutoScanSchedule ") + std::to_string(dwID) +
            (std::memcmp(&schedule, &zero, sizeof(zero)) == 0 ? " zero" : " data"));
    }
    void Cmd_SensorControl(DWORD dwID, DWORD dwControl, DWORD dwValue) override
    {
        Add("SensorControl " + std::to_string(dwID) + " " + std::to_string(dwControl) + " " +
            std::to_string(dwValue));
    }
    void Cmd_QueryVideoReport(DWORD dwID) override { Add("QueryVideoReport", dwID); }
    void Cmd_CameraPort(DWORD dwID, WORD us1, WORD us2) override
    {
        Add("CameraPort " + std::to_string(dwID) + " " + std::to_string(us1) + " " + std::to_string(us2));
    }
    void Cmd_GetTimeFormat(DWORD dwID) override { Add("GetTimeFormat", dwID); }
    void Cmd_GetNTP(DWORD dwID) override { Add("GetNTP", dwID); }
    void Cmd_GetMotion(DWORD dwID) override { Add("GetMotion", dwID); }
    void Cmd_ControlSnapshotServer(DWORD dwID, DWORD ulOperation, BYTE ucEnable, BYTE ucMode, WORD usParam,
                                   DWORD ulServerIP, DWORD ulServerPort, DWORD ulSessionMode) override
    {
        const bool bZero = ulOperation == 0 && ucEnable == 0 && ucMode == 0 && usParam == 0 &&
                           ulServerIP == 0 && ulServerPort == 0 && ulSessionMode == 0;
        Add(std::string("SnapshotServer ") + std::to_string(dwID) + (bZero ? " zero" : " data"));
    }
    void Cmd_GetMail(DWORD dwID) override { Add("GetMail", dwID); }
    void Cmd_GetDo(DWORD dwID) override { Add("GetDo", dwID); }
    void Cmd_AlarmTime(DWORD dwID, DWORD dwOperation, DWORD dwEnable, DWORD dwPeriod) override
    {
        Add("AlarmTime " + std::to_string(dwID) + " " + std::to_string(dwOperation) + " " +
            std::to_string(dwEnable) + " " + std::to_string(dwPeriod));
    }
    void Cmd_GetRecordSD(DWORD dwID) override { Add("GetRecordSD", dwID); }
    void Cmd_GetSDInfo(DWORD dwID) override { Add("GetSDInfo", dwID); }
    void Cmd_GetRecordNas(DWORD dwID) override { Add("GetRecordNas", dwID); }
    void Cmd_GetNetworkExtend(DWORD dwID, BYTE byType) override
    {
        Add("GetNetworkExtend " + std::to_string(dwID) + " " + std::to_string(byType));
    }
    void Cmd_GetNetParam(DWORD dwID) override { Add("GetNetParam", dwID); }
    void Cmd_GetDServer(DWORD dwID) override { Add("GetDServer", dwID); }
    void Cmd_WifiQuery(const char* pszSerial) override { Add(std::string("WifiQuery ") + pszSerial); }
    void Cmd_3GQuery(const char* pszSerial) override { Add(std::string("3GQuery ") + pszSerial); }
    void Cmd_Query3GStatus(const char* pszSerial) override { Add(std::string("Query3GStatus ") + pszSerial); }
    void RecordTime_QueryRange(DWORD dwID, DWORD dwOption) override
    {
        Add("RecordRange " + std::to_string(dwID) + " " + std::to_string(dwOption));
    }
    void RecordTime_QueryRecordInfo(DWORD dwID) override { Add("RecordInfo", dwID); }
    void RecordTime_Pump() override { Add("Pump"); }

    // The requests sent so far, then forgotten.
    std::vector<std::string> Take()
    {
        std::vector<std::string> out;
        out.swap(m_vecCalls);
        return out;
    }
    int Count(const std::string& strCall) const
    {
        return static_cast<int>(std::count(m_vecCalls.begin(), m_vecCalls.end(), strCall));
    }

    std::vector<std::string> m_vecCalls;
    std::vector<Registration> m_vecRegistered;
    ILanDeviceLookup* m_pLookup = nullptr;

private:
    void Add(const std::string& strCall) { m_vecCalls.push_back(strCall); }
    void Add(const char* pszName, DWORD dwID) { Add(std::string(pszName) + " " + std::to_string(dwID)); }
};

class CRecordingSink : public INotifySink {
public:
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override
    {
        m_vecSeen.emplace_back(dwNotifyID, dwParam);
    }
    std::vector<DWORD> Ids() const
    {
        std::vector<DWORD> out;
        for (const auto& seen : m_vecSeen)
            out.push_back(seen.first);
        return out;
    }
    std::vector<std::pair<DWORD, UINT_PTR>> m_vecSeen;
};

class CFakeDownloads : public IDownloadRecordManager {
public:
    bool Download(DWORD dwID) override { return false; }
    void DownloadNext(DWORD dwID) override { m_vecNext.push_back(dwID); }
    void CancelDownload(DWORD dwID) override {}
    void CancelAllDownload() override {}
    bool IsDownloading(DWORD dwID) override { return m_setDownloading.count(dwID) != 0; }
    bool HasDownloading() override { return !m_setDownloading.empty(); }
    int GetDownloadCount() override { return static_cast<int>(m_setDownloading.size()); }
    void CheckTask() override {}
    void FeedMediaData(const DownloadFrame&, DWORD) override {}

    std::set<DWORD> m_setDownloading;
    std::vector<DWORD> m_vecNext;
};

// Notifications the manager raises unconditionally; 106 is left out on purpose (it is raised
// only to a registered listener).
constexpr DWORD kRaised[] = {46,  81,  101, 102, 103, 104, 105, 121, 122, 123, 124,
                             141, 142, 143, 144, 145, 146, 148, 161, 162, 168};

constexpr DWORD kStartTick = 1000000;

class DeviceManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-devicetest-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_strDir = szTemplate;
        setenv("VISTREL_HOME", m_strDir.c_str(), 1);
        GetLogFile().ResetForTest();
        m_nSavedLevel = g_nDebugLevel;
        g_nDebugLevel = 0;
        m_prevTrace = SetTraceSink([this](const char* psz) { m_vecTraces.emplace_back(psz); });
        for (DWORD dwID : kRaised)
            m_notify.RegisterNotify(dwID, &m_sink);
        SetDownloadRecordManager(nullptr);
        MakeManager();
    }
    void TearDown() override
    {
        m_pManager.reset();
        SetTraceSink(m_prevTrace);
        g_nDebugLevel = m_nSavedLevel;
        GetLogFile().ResetForTest();
        std::error_code ec;
        std::filesystem::remove_all(m_strDir, ec);
    }

    void MakeManager()
    {
        DeviceManagerDeps deps;
        deps.pEngines = &m_engines;
        deps.pNotify = &m_notify;
        deps.pWindows = &m_windows;
        deps.pDownloads = &m_downloads;
        deps.uAnsiCodePage = CP_WESTERN;
        m_pManager = std::make_unique<CDeviceManager>(deps);
        // Searching starts as the main window starts it; presence is judged 10 s later.
        m_pManager->SearchDevices(10000);
        m_clock.Advance(10000);
        m_engines.Take();
    }

    std::string ReadLog() const
    {
        std::string strAll;
        for (const auto& entry : std::filesystem::directory_iterator(m_strDir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            strAll.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return strAll;
    }

    // A search item as the viewer engine keeps it: zero-filled, then the fields set here.
    SearchItem& NewItem(DWORD dwID, const std::string& strName, const std::string& strSerial)
    {
        m_items.emplace_back();
        SearchItem& item = m_items.back();
        std::memset(&item, 0, sizeof(item));
        item.dwDVIPID = dwID;
        const std::u16string strWide = AnsiToWide(strName, CP_WESTERN);
        std::copy_n(strWide.data(), std::min<std::size_t>(strWide.size(), VIEWER_NAME_CHARS), item.szName);
        std::strncpy(item.szSerial, strSerial.c_str(), VIEWER_SERIAL_LEN);
        item.dwIP = 0x7F000001;
        return item;
    }
    // A recorder item with its channels (count n, array of n, each pointing back).
    SearchItem& NewParent(DWORD dwID, const std::vector<DWORD>& vecChildIDs)
    {
        SearchItem& parent = NewItem(dwID, "Recorder", "SNPARENT" + std::to_string(dwID));
        m_childArrays.push_back(std::make_unique<SearchItem[]>(vecChildIDs.size()));
        SearchItem* pChildren = m_childArrays.back().get();
        for (std::size_t i = 0; i < vecChildIDs.size(); ++i) {
            pChildren[i] = parent;
            pChildren[i].dwDVIPID = vecChildIDs[i];
            std::snprintf(pChildren[i].szSerial, sizeof(pChildren[i].szSerial), "SNCHILD%u",
                          static_cast<unsigned>(vecChildIDs[i]));
            pChildren[i].nChildCount = -1;
            pChildren[i].pParent = &parent;
            pChildren[i].pChildren = nullptr;
        }
        parent.nChildCount = static_cast<LONG>(vecChildIDs.size());
        parent.nChildCapacity = parent.nChildCount;
        parent.pChildren = pChildren;
        return parent;
    }

    // A search reply arriving now on one path, delivered as the viewer engine delivers it.
    void Scan(SearchItem& item, bool bMulticast = true)
    {
        auto mark = [&](SearchItem& it) {
            if (bMulticast) {
                it.bFoundByMulticast = 1;
                it.dwMulticastTick = GetTickCount();
            } else {
                it.bFoundBySweep = 1;
                it.dwSweepTick = GetTickCount();
            }
        };
        mark(item);
        for (LONG i = 0; i < item.nChildCount; ++i)
            mark(item.pChildren[i]);
        Send(DM_MSG_USER_SCAN, 0, reinterpret_cast<LPARAM>(&item));
    }
    LRESULT Send(UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        return SendMessage(m_pManager->GetWindow(), uMsg, wParam, lParam);
    }
    void Timer(UINT uID) { Send(WM_TIMER, uID, 0); }

    DeviceInfo* Device(DWORD dwID) { return m_pManager->GetDevice(dwID, CAMERA_MASK_ALL); }

    CFakeTickClock m_clock{kStartTick};
    CRecordingEngines m_engines;
    CNotifyManager m_notify;
    CRecordingSink m_sink;
    CWindowsManage m_windows;
    CFakeDownloads m_downloads;
    std::unique_ptr<CDeviceManager> m_pManager;
    std::deque<SearchItem> m_items;
    std::vector<std::unique_ptr<SearchItem[]>> m_childArrays;
    std::vector<std::string> m_vecTraces;
    TraceSink m_prevTrace;
    std::string m_strDir;
    int m_nSavedLevel = 0;
};

} // namespace devicetest
