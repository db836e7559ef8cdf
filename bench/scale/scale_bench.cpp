// The client's start-up without a window, against many cameras: how long until every camera is
// present, how long until every present camera has answered every query that applies to it (or
// its four query passes are spent), then the steady state: CPU seconds per minute, peak RSS and
// datagrams per second received. Figures are printed as "key value" lines for run_scale.sh.
//
// It opens the client's sockets, sweeps and multicasts, so it runs only inside the client
// namespace of a lab (run_scale.sh starts it there).
//
//   scale_bench --cameras N [--search-ms 10000] [--steady-seconds 60] [--settle-seconds 5]
//               [--timeout-seconds 180]
#include "app/startup_engines.h"
#include "core/log.h"
#include "core/notify.h"
#include "device/devicemanager.h"
#include "device/devicenotifications.h"
#include "platform/codepage.h"

#include <QCoreApplication>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr LONG MAX_QUERY_PASSES = 4;

struct QueryFlag {
    const char* pszName;
    BYTE DeviceQueryBlock::*pMember;
};

// The queries the device manager's pass sends to a device, with the conditions it applies:
// most settings belong to the top-level device, the video ones to cameras and channels, the
// sensor read to the UI family the capability reply named, Wi-Fi and 3G to devices that say
// they have them. bCmdGetSensorUnknown is a marker (a family without sensor read), not a
// query, and bHasWifi/bHas3G are copies of the search reply.
std::vector<QueryFlag> ApplicableFlags(const DeviceInfo& device)
{
    const bool bChild = device.enCameraType == CAMERA_TYPE_CHILD;
    const bool bParent = device.enCameraType == CAMERA_TYPE_PARENT;
    const DeviceQueryBlock& q = device.stQuery;
    const DWORD dwUIType = device.stSensorCap.dwCameraUIType;
    std::vector<QueryFlag> flags;
    auto add = [&](bool bApplies, const char* pszName, BYTE DeviceQueryBlock::*pMember) {
        if (bApplies)
            flags.push_back({pszName, pMember});
    };
    add(!bChild, "Volume", &DeviceQueryBlock::bCmdGetVolume);
    add(!bChild, "Sensor", &DeviceQueryBlock::bCmdGetSensor);
    add(!bChild, "Version", &DeviceQueryBlock::bCmdGetVersion);
    add(!bChild, "DServerIP", &DeviceQueryBlock::bCmdGetDServerIP);
    add(!bChild, "Upnp", &DeviceQueryBlock::bCmdGetUpnpStatus);
    add(!bChild, "Preset", &DeviceQueryBlock::bCmdGetPreset);
    add(true, "AutoScan", &DeviceQueryBlock::bCmdGetAutoScan);
    add(!bChild, "Schedule", &DeviceQueryBlock::bCmdAutoScanSchedule);
    // Which sensor read applies is known only once the capability has answered; until then the
    // missing capability keeps the device incomplete anyway.
    add(!bChild && q.bCmdGetSensor && dwUIType == CAMERA_UI_TYPE_D, "T9QY", &DeviceQueryBlock::bCmdGetT9QY);
    add(!bChild && q.bCmdGetSensor && (dwUIType == CAMERA_UI_TYPE_M || dwUIType == CAMERA_UI_TYPE_HD), "T9QX",
        &DeviceQueryBlock::bCmdGetT9QX);
    add(!bParent, "VideoReport", &DeviceQueryBlock::bCmdGetVideoReport);
    add(!bChild, "CameraPort", &DeviceQueryBlock::bCmdGetCameraPort);
    add(!bChild, "NetParam", &DeviceQueryBlock::bCmdGetNetParam);
    add(!bChild && q.bHasWifi, "Wireless", &DeviceQueryBlock::bCmdGetWirelessParam);
    add(!bChild && q.bHas3G, "3GQuery", &DeviceQueryBlock::bCmdGet3GQuery);
    add(!bChild && q.bHas3G, "3GStatus", &DeviceQueryBlock::bCmdGet3GStatus);
    add(!bParent, "TimeFormat", &DeviceQueryBlock::bCmdGetTimeFormat);
    add(!bChild, "NTP", &DeviceQueryBlock::bCmdGetNTP);
    add(!bParent, "Motion", &DeviceQueryBlock::bCmdGetMotion);
    add(!bParent, "Snapshot", &DeviceQueryBlock::bCmdGetSnapshotServer);
    add(!bParent, "Mail", &DeviceQueryBlock::bCmdGetMailInfo);
    add(!bParent, "Do", &DeviceQueryBlock::bCmdGetDoInfo);
    add(!bParent, "AlarmTime", &DeviceQueryBlock::bCmdGetAlarmTime);
    add(!bParent, "RecordSD", &DeviceQueryBlock::bCmdGetRecordSD);
    add(!bParent, "SDInfo", &DeviceQueryBlock::bCmdGetSDInfo);
    add(!bParent, "RecordNas", &DeviceQueryBlock::bCmdGetRecordNas);
    return flags;
}

std::string KindText(const DeviceInfo& device)
{
    const char* pszKind = device.enCameraType == CAMERA_TYPE_PARENT  ? "recorder"
                          : device.enCameraType == CAMERA_TYPE_CHILD ? "channel"
                                                                     : "camera";
    return std::string(pszKind) + " ui" + std::to_string(device.stSensorCap.dwCameraUIType) +
           (device.stQuery.bHasWifi ? " wifi" : "") + (device.stQuery.bHas3G ? " 3g" : "");
}

struct UdpCounters {
    long long nInDatagrams = 0;
    long long nOutDatagrams = 0;
    long long nInErrors = 0;
    long long nRcvbufErrors = 0;
    // Sends the kernel dropped without telling the sender: among them, those to a camera for
    // which no neighbour entry could be made.
    long long nSndbufErrors = 0;
    long long nRxPackets = 0; // frames received on the namespace's interfaces
};

// Frames received on every interface but loopback. The client takes most datagrams from the
// packet capture, not from its sockets, so the UDP counters alone undercount what arrives.
long long ReadRxPackets()
{
    std::ifstream file("/proc/self/net/dev");
    std::string strLine;
    long long nTotal = 0;
    while (std::getline(file, strLine)) {
        const std::size_t nColon = strLine.find(':');
        if (nColon == std::string::npos)
            continue;
        std::string strName = strLine.substr(0, nColon);
        strName.erase(0, strName.find_first_not_of(' '));
        if (strName == "lo")
            continue;
        std::istringstream fields(strLine.substr(nColon + 1));
        long long nBytes = 0;
        long long nPackets = 0;
        if (fields >> nBytes >> nPackets)
            nTotal += nPackets;
    }
    return nTotal;
}

// The UDP counters of this process's network namespace: in the lab that is the client alone.
UdpCounters ReadUdpCounters()
{
    UdpCounters counters;
    std::ifstream file("/proc/self/net/snmp");
    std::string strLine;
    std::vector<std::string> vecNames;
    while (std::getline(file, strLine)) {
        if (strLine.rfind("Udp: ", 0) != 0)
            continue;
        std::istringstream fields(strLine.substr(5));
        if (vecNames.empty()) {
            std::string strName;
            while (fields >> strName)
                vecNames.push_back(strName);
            continue;
        }
        long long nValue = 0;
        for (std::size_t i = 0; i < vecNames.size() && fields >> nValue; ++i) {
            if (vecNames[i] == "InDatagrams")
                counters.nInDatagrams = nValue;
            else if (vecNames[i] == "OutDatagrams")
                counters.nOutDatagrams = nValue;
            else if (vecNames[i] == "InErrors")
                counters.nInErrors = nValue;
            else if (vecNames[i] == "RcvbufErrors")
                counters.nRcvbufErrors = nValue;
            else if (vecNames[i] == "SndbufErrors")
                counters.nSndbufErrors = nValue;
        }
        break;
    }
    counters.nRxPackets = ReadRxPackets();
    return counters;
}

// Datagrams each of the client's sockets lost to a full receive buffer, by local address and port
// (the namespace holds the client alone).
std::map<std::string, long long> ReadSocketDrops()
{
    std::map<std::string, long long> mapDrops;
    std::ifstream file("/proc/self/net/udp");
    std::string strLine;
    std::getline(file, strLine);
    while (std::getline(file, strLine)) {
        std::istringstream fields(strLine);
        std::vector<std::string> vecFields;
        for (std::string strField; fields >> strField;)
            vecFields.push_back(strField);
        if (vecFields.size() < 13)
            continue;
        const std::string& strLocal = vecFields[1]; // hex address:port, address in host byte order
        const std::size_t nColon = strLocal.find(':');
        if (nColon == std::string::npos)
            continue;
        const unsigned long dwAddr = std::stoul(strLocal.substr(0, nColon), nullptr, 16);
        const unsigned long usPort = std::stoul(strLocal.substr(nColon + 1), nullptr, 16);
        char szKey[32];
        std::snprintf(szKey, sizeof(szKey), "%lu.%lu.%lu.%lu:%lu", dwAddr & 255, (dwAddr >> 8) & 255,
                      (dwAddr >> 16) & 255, (dwAddr >> 24) & 255, usPort);
        mapDrops[szKey] += std::stoll(vecFields.back());
    }
    return mapDrops;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentRssKiB()
{
    std::ifstream file("/proc/self/statm");
    long nPages = 0;
    long nResident = 0;
    file >> nPages >> nResident;
    return nResident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Options {
    int nCameras = 0;
    DWORD dwSearchMs = 10000;
    int nSteadySeconds = 60;
    int nSettleSeconds = 5;
    int nTimeoutSeconds = 180;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (i + 1 >= argc)
            return false;
        const long nValue = std::strtol(argv[++i], nullptr, 10);
        if (nValue <= 0)
            return false;
        if (strArg == "--cameras")
            options.nCameras = static_cast<int>(nValue);
        else if (strArg == "--search-ms")
            options.dwSearchMs = static_cast<DWORD>(nValue);
        else if (strArg == "--steady-seconds")
            options.nSteadySeconds = static_cast<int>(nValue);
        else if (strArg == "--settle-seconds")
            options.nSettleSeconds = static_cast<int>(nValue);
        else if (strArg == "--timeout-seconds")
            options.nTimeoutSeconds = static_cast<int>(nValue);
        else
            return false;
    }
    return options.nCameras > 0;
}

class CScaleBench : public INotifySink {
public:
    explicit CScaleBench(const Options& options) : m_options(options) {}

    ~CScaleBench() override
    {
        CNotifyManager* pNotify = GetNotifyManager();
        for (const DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
            pNotify->RemoveNotify(dwID, this);
    }

    void Start()
    {
        m_tStart = Clock::now();
        m_dStartCpu = CpuSeconds();
        m_startUdp = ReadUdpCounters();
        LoadSettingsAndLanguage();
        StartEngines();
        CNotifyManager* pNotify = GetNotifyManager();
        for (const DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
            pNotify->RegisterNotify(dwID, this);
        m_pManager = GetDeviceManager();
        m_tSearch = Clock::now();
        m_pManager->SearchDevices(m_options.dwSearchMs);
        Print("startup_ms", MsSince(m_tStart, m_tSearch));

        QObject::connect(&m_poll, &QTimer::timeout, [this] { PollStartPhase(); });
        m_poll.start(100);
    }

    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override
    {
        if (dwNotifyID == DWORD_NOTIFYID_CAMERA_EXIST_ONLINE)
            ++m_nOnline;
        else if (dwNotifyID == DWORD_NOTIFYID_CAMERA_EXIST_OFFLINE)
            ++m_nOffline;
        else if (dwNotifyID == DWORD_NOTIFYID_CAMERA_SCAN_FINISH && m_nScanFinishMs < 0)
            m_nScanFinishMs = MsSince(m_tSearch, Clock::now());
    }

private:
    struct Track {
        long long nCompleteMs = -1;    // when every applicable flag was first seen set
        LONG nPassesAtComplete = 0;    // the pass counter then
        long long nPassesSpentMs = -1; // when the counter was first seen at four
    };

    static long long MsSince(Clock::time_point tFrom, Clock::time_point tTo)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(tTo - tFrom).count();
    }

    template <typename T> static void Print(const char* pszKey, T value)
    {
        std::ostringstream text;
        text << pszKey << ' ' << value << '\n';
        std::fputs(text.str().c_str(), stdout);
        std::fflush(stdout);
    }

    // The present devices with the record whose presence counts (a channel's is its recorder's).
    template <typename F> void ForEachPresent(F&& fn) const
    {
        for (const auto& [dwID, pDevice] : m_pManager->GetDevices()) {
            if (!pDevice->bIsExist)
                continue;
            fn(*pDevice);
            for (const auto& pChild : pDevice->vecChildren)
                fn(*pChild);
        }
    }

    int CountPresentTop() const
    {
        int nCount = 0;
        for (const auto& [dwID, pDevice] : m_pManager->GetDevices())
            nCount += pDevice->bIsExist ? 1 : 0;
        return nCount;
    }

    void PollStartPhase()
    {
        const Clock::time_point tNow = Clock::now();
        const long long nNowMs = MsSince(m_tSearch, tNow);

        // Datagram rate per second while everything comes in.
        if (nNowMs - m_nLastRateMs >= 1000) {
            const UdpCounters udp = ReadUdpCounters();
            const double dSeconds = (nNowMs - m_nLastRateMs) / 1000.0;
            const double dRate = (udp.nRxPackets - m_lastRateUdp.nRxPackets) / dSeconds;
            if (m_nLastRateMs >= 0 && dRate > m_dPeakInRate)
                m_dPeakInRate = dRate;
            m_lastRateUdp = udp;
            m_nLastRateMs = nNowMs;
        }

        const int nPresent = CountPresentTop();
        if (nPresent > m_nMaxPresent)
            m_nMaxPresent = nPresent;
        if (m_nFirstPresentMs < 0 && nPresent > 0)
            m_nFirstPresentMs = nNowMs;
        if (m_nAllPresentMs < 0 && nPresent >= m_options.nCameras)
            m_nAllPresentMs = nNowMs;
        if (m_nPresentAtPeriod < 0 && nNowMs >= static_cast<long long>(m_options.dwSearchMs))
            m_nPresentAtPeriod = nPresent;

        int nSettled = 0;
        int nDevices = 0;
        ForEachPresent([&](const DeviceInfo& device) {
            ++nDevices;
            Track& track = m_mapTracks[device.GetID()];
            bool bComplete = true;
            for (const QueryFlag& flag : ApplicableFlags(device))
                bComplete = bComplete && device.stQuery.*flag.pMember;
            if (bComplete && track.nCompleteMs < 0) {
                track.nCompleteMs = nNowMs;
                track.nPassesAtComplete = device.stQuery.nQueryPass;
            }
            if (device.stQuery.nQueryPass >= MAX_QUERY_PASSES && track.nPassesSpentMs < 0)
                track.nPassesSpentMs = nNowMs;
            // The last pass's replies get a second and a half to arrive.
            if (bComplete || (track.nPassesSpentMs >= 0 && nNowMs - track.nPassesSpentMs >= 1500))
                ++nSettled;
        });

        const bool bAllSettled = m_nAllPresentMs >= 0 && nSettled == nDevices;
        const bool bTimedOut = nNowMs >= m_options.nTimeoutSeconds * 1000LL;
        if (!bAllSettled && !bTimedOut)
            return;
        m_poll.stop();
        m_nQueriesSettledMs = nNowMs;
        ReportStartPhase(bTimedOut && !bAllSettled);
        // Steady state begins once the last replies and retries have died down.
        QTimer::singleShot(m_options.nSettleSeconds * 1000, [this] { BeginSteady(); });
    }

    void ReportStartPhase(bool bTimedOut)
    {
        Print("cameras_expected", m_options.nCameras);
        Print("present_first_ms", m_nFirstPresentMs);
        Print("present_all_ms", m_nAllPresentMs);
        Print("present_max", m_nMaxPresent);
        Print("present_at_first_period", m_nPresentAtPeriod < 0 ? CountPresentTop() : m_nPresentAtPeriod);
        Print("search_period_ms", m_options.dwSearchMs);
        Print("scan_finish_ms", m_nScanFinishMs);
        Print("online_notifications", m_nOnline);
        Print("offline_notifications_start", m_nOffline);
        Print("start_phase_timed_out", bTimedOut ? 1 : 0);

        long long nAllCompleteMs = 0;
        int nComplete = 0;
        int nIncomplete = 0;
        std::map<LONG, int> mapPasses;
        std::map<std::string, int> mapMissing;
        std::map<std::string, std::string> mapKinds;
        ForEachPresent([&](const DeviceInfo& device) {
            const Track& track = m_mapTracks[device.GetID()];
            std::string strFlags;
            for (const QueryFlag& flag : ApplicableFlags(device)) {
                strFlags += std::string(strFlags.empty() ? "" : ",") + flag.pszName;
                if (!(device.stQuery.*flag.pMember))
                    ++mapMissing[flag.pszName];
            }
            mapKinds.emplace(KindText(device), strFlags);
            if (track.nCompleteMs >= 0) {
                ++nComplete;
                ++mapPasses[track.nPassesAtComplete];
                nAllCompleteMs = std::max(nAllCompleteMs, track.nCompleteMs);
            } else {
                ++nIncomplete;
                // Which cameras, and on which route: a pattern here names the cause.
                std::printf("incomplete_device %u %u.%u.%u.%u multicast=%d sweep=%d\n",
                            static_cast<unsigned>(device.GetID()), (device.stItem.dwIP >> 24) & 255,
                            (device.stItem.dwIP >> 16) & 255, (device.stItem.dwIP >> 8) & 255,
                            device.stItem.dwIP & 255, device.stItem.bFoundByMulticast,
                            device.stItem.bFoundBySweep);
            }
        });
        Print("queries_complete_devices", nComplete);
        Print("queries_incomplete_devices", nIncomplete);
        Print("queries_complete_ms", nIncomplete == 0 && nComplete > 0 ? nAllCompleteMs : -1);
        Print("queries_settled_ms", m_nQueriesSettledMs);
        LONG nMaxPasses = 0;
        for (const auto& [nPasses, nCount] : mapPasses) {
            const std::string strKey = "passes_needed_" + std::to_string(nPasses);
            Print(strKey.c_str(), nCount);
            nMaxPasses = std::max(nMaxPasses, nPasses);
        }
        Print("passes_needed_max", nMaxPasses);
        for (const auto& [strFlag, nCount] : mapMissing) {
            const std::string strKey = "missing_" + strFlag;
            Print(strKey.c_str(), nCount);
        }
        for (const auto& [strKind, strFlags] : mapKinds)
            std::printf("kind_flags %s: %s\n", strKind.c_str(), strFlags.c_str());

        const UdpCounters udp = ReadUdpCounters();
        const double dSeconds = MsSince(m_tStart, Clock::now()) / 1000.0;
        Print("start_cpu_s", CpuSeconds() - m_dStartCpu);
        Print("start_wall_s", dSeconds);
        Print("start_rx_packets", udp.nRxPackets - m_startUdp.nRxPackets);
        Print("start_in_datagrams", udp.nInDatagrams - m_startUdp.nInDatagrams);
        Print("start_out_datagrams", udp.nOutDatagrams - m_startUdp.nOutDatagrams);
        Print("start_in_rate_peak", m_dPeakInRate);
        Print("start_rcvbuf_errors", udp.nRcvbufErrors - m_startUdp.nRcvbufErrors);
        Print("start_in_errors", udp.nInErrors - m_startUdp.nInErrors);
        Print("start_peak_rss_kib", PeakRssKiB());
        Print("start_sndbuf_errors", udp.nSndbufErrors - m_startUdp.nSndbufErrors);
        long long nSocketDrops = 0;
        for (const auto& [strSocket, nDrops] : ReadSocketDrops()) {
            nSocketDrops += nDrops;
            if (nDrops > 0)
                std::printf("socket_drops %s %lld\n", strSocket.c_str(), nDrops);
        }
        Print("start_socket_drops", nSocketDrops);
    }

    void BeginSteady()
    {
        m_nSteadyOffline = m_nOffline;
        m_nSteadyOnline = m_nOnline;
        m_steadyUdp = ReadUdpCounters();
        m_dSteadyCpu = CpuSeconds();
        m_tSteady = Clock::now();
        QTimer::singleShot(m_options.nSteadySeconds * 1000, [this] { EndSteady(); });
    }

    void EndSteady()
    {
        const double dCpu = CpuSeconds() - m_dSteadyCpu;
        const UdpCounters udp = ReadUdpCounters();
        const double dSeconds = MsSince(m_tSteady, Clock::now()) / 1000.0;
        Print("steady_wall_s", dSeconds);
        Print("steady_cpu_s", dCpu);
        Print("steady_cpu_s_per_min", dCpu / dSeconds * 60.0);
        Print("steady_cpu_percent", dCpu / dSeconds * 100.0);
        Print("steady_rx_rate", (udp.nRxPackets - m_steadyUdp.nRxPackets) / dSeconds);
        Print("steady_in_rate", (udp.nInDatagrams - m_steadyUdp.nInDatagrams) / dSeconds);
        Print("steady_out_rate", (udp.nOutDatagrams - m_steadyUdp.nOutDatagrams) / dSeconds);
        Print("steady_rcvbuf_errors", udp.nRcvbufErrors - m_steadyUdp.nRcvbufErrors);
        Print("steady_offline_notifications", m_nOffline - m_nSteadyOffline);
        Print("steady_online_notifications", m_nOnline - m_nSteadyOnline);
        Print("present_end", CountPresentTop());
        Print("rss_end_kib", CurrentRssKiB());
        Print("peak_rss_kib", PeakRssKiB());
        QCoreApplication::exit(0);
    }

    Options m_options;
    IDeviceManager* m_pManager = nullptr;
    QTimer m_poll;
    Clock::time_point m_tStart;
    Clock::time_point m_tSearch;
    Clock::time_point m_tSteady;
    double m_dStartCpu = 0;
    double m_dSteadyCpu = 0;
    UdpCounters m_startUdp;
    UdpCounters m_steadyUdp;
    UdpCounters m_lastRateUdp;
    long long m_nLastRateMs = -1000;
    double m_dPeakInRate = 0;
    std::map<DWORD, Track> m_mapTracks;
    int m_nOnline = 0;
    int m_nOffline = 0;
    int m_nSteadyOnline = 0;
    int m_nSteadyOffline = 0;
    int m_nMaxPresent = 0;
    int m_nPresentAtPeriod = -1;
    long long m_nFirstPresentMs = -1;
    long long m_nAllPresentMs = -1;
    long long m_nScanFinishMs = -1;
    long long m_nQueriesSettledMs = -1;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: scale_bench --cameras N [--search-ms MS] [--steady-seconds S] "
                             "[--settle-seconds S] [--timeout-seconds S]\n");
        return 2;
    }
    CScaleBench bench(options);
    try {
        bench.Start();
    } catch (const CExceptionBase& e) {
        std::fprintf(stderr, "scale_bench: start-up failed: %s\n", WideToUtf8(e.GetText()).c_str());
        return 1;
    }
    return QCoreApplication::exec();
}
