// vistrel-cli download, recordings and export: the SD-card recordings of cameras, fetched for
// a time range into AVI files (resuming what earlier files hold), the calendar of what a card
// holds, and the export of downloaded files to MP4.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clidevice.h"
#include "app/cli/clisubcommands.h"
#include "core/log.h"
#include "core/notify.h"
#include "download/aviexport.h"
#include "download/downloadenv.h"
#include "download/downloadmanager.h"
#include "net/capturequeue.h"
#include "net/socketudp.h"
#include "protocol/engmedia.h"
#include "protocol/mscmd.h"
#include "protocol/password.h"

#include <QSocketNotifier>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <tuple>
#include <unistd.h>

using nlohmann::json;

namespace {

constexpr int kTickMs = 200;
constexpr int kPlainProgressMs = 2000;
// The end of a download is looked for every millisecond; the terminal is redrawn ten times a second.
constexpr int kDownloadPollMs = 1;
constexpr int kTerminalDrawMs = 100;

struct DownloadArgs {
    std::vector<std::string> vecCameras;
    std::string strFrom;
    std::string strTo;
    std::string strDir;
    std::string strPassword;
    std::string strPasswordFile;
    int nIdleSeconds = 60;
    // Test-only: the file size limit in MiB (0: the program's own).
    unsigned int uTestMaxFileMiB = 0;
};

struct RecordingsArgs {
    std::string strCamera;
    std::string strDay;
    std::string strPc; // a PC recording folder instead of a camera's SD card
    bool bReindex = false;
    std::string strPassword;
    std::string strPasswordFile;
};

struct ExportArgs {
    std::vector<std::string> vecInputs;
    std::string strOutput;
    std::vector<std::string> vecPc; // a PC recording folder and a camera instead of AVI files
    std::string strFrom;
    std::string strTo;
};

// Reads exactly nDigits digits at p; false on anything else.
bool ReadDigits(const char*& p, int nDigits, int& nValue)
{
    nValue = 0;
    for (int i = 0; i < nDigits; ++i, ++p) {
        if (*p < '0' || *p > '9')
            return false;
        nValue = nValue * 10 + (*p - '0');
    }
    return true;
}

// A calendar date that exists (2024-02-30 does not); tm holds it, the time of day 0.
bool ReadDate(const char*& p, std::tm& tm)
{
    int nYear = 0, nMonth = 0, nDay = 0;
    if (!ReadDigits(p, 4, nYear) || *p++ != '-' || !ReadDigits(p, 2, nMonth) || *p++ != '-' ||
        !ReadDigits(p, 2, nDay))
        return false;
    if (nYear < 1970 || nYear > 2105 || nMonth < 1 || nMonth > 12 || nDay < 1)
        return false;
    tm = {};
    tm.tm_year = nYear - 1900;
    tm.tm_mon = nMonth - 1;
    tm.tm_mday = nDay;
    // timegm carries a day past the month's end into the next month: read back, it differs.
    std::tm tmBack{};
    const std::time_t t = timegm(&tm);
    return gmtime_r(&t, &tmBack) != nullptr && tmBack.tm_mday == nDay && tmBack.tm_mon == nMonth - 1;
}

// Camera times count the camera's wall clock as if it were UTC: "2024-05-02T08:15:00", with a
// space for the "T" and with or without a final "Z", and nothing else around it.
bool ParseCameraTime(const std::string& strText, DWORD& dwTime)
{
    const char* p = strText.c_str();
    std::tm tm{};
    int nHour = 0, nMinute = 0, nSecond = 0;
    if (!ReadDate(p, tm) || (*p != 'T' && *p != ' '))
        return false;
    ++p;
    if (!ReadDigits(p, 2, nHour) || *p++ != ':' || !ReadDigits(p, 2, nMinute) || *p++ != ':' ||
        !ReadDigits(p, 2, nSecond))
        return false;
    if (*p == 'Z')
        ++p;
    if (*p != 0 || nHour > 23 || nMinute > 59 || nSecond > 59)
        return false;
    tm.tm_hour = nHour;
    tm.tm_min = nMinute;
    tm.tm_sec = nSecond;
    const long long llTime = timegm(&tm);
    if (llTime < 0 || llTime > 0xFFFFFFFFLL)
        return false;
    dwTime = static_cast<DWORD>(llTime);
    return true;
}

std::string CameraTimeText(DWORD dwTime)
{
    const std::time_t t = dwTime;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char sz[32];
    std::strftime(sz, sizeof sz, "%Y-%m-%d %H:%M:%S", &tm);
    return sz;
}

std::string BytesText(double dBytes)
{
    char sz[32];
    if (dBytes >= 1048576.0)
        std::snprintf(sz, sizeof sz, "%.1f MiB", dBytes / 1048576.0);
    else
        std::snprintf(sz, sizeof sz, "%.0f KiB", dBytes / 1024.0);
    return sz;
}

std::string DurationText(long long llSeconds)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%02lld:%02lld:%02lld", llSeconds / 3600, llSeconds / 60 % 60,
                  llSeconds % 60);
    return sz;
}

// Segments and frames the download sockets dropped as malformed, refused or too long.
json DownloadSocketDrops()
{
    std::uint64_t qwSegments = 0;
    std::uint64_t qwFrames = 0;
    CEngMedia* pEngine = CEngMedia::GetInstance();
    for (const int nGroup : {CEngMedia::GROUP_DOWNLOAD, CEngMedia::GROUP_DOWNLOAD_MC}) {
        const SocketGroup* pGroup = pEngine->GetGroup(nGroup);
        for (int j = 0; pGroup != nullptr && j < pGroup->nSockets; ++j) {
            qwSegments += pGroup->ppSockets[j]->GetMediaReassembler().GetDroppedSegments();
            qwFrames += pGroup->ppSockets[j]->GetMediaReassembler().GetDroppedFrames();
        }
    }
    return {{"segments", qwSegments}, {"frames", qwFrames}};
}

// Ctrl-C and SIGTERM reach the event loop through a pipe.
int g_aRecordSignalPipe[2] = {-1, -1};

void OnRecordStopSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_aRecordSignalPipe[1], &c, 1);
}

class CStopSignals {
public:
    CStopSignals()
    {
        if (::pipe(g_aRecordSignalPipe) != 0)
            return;
        m_pNotifier = std::make_unique<QSocketNotifier>(g_aRecordSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] { m_bStop = true; });
        std::signal(SIGINT, OnRecordStopSignal);
        std::signal(SIGTERM, OnRecordStopSignal);
    }
    ~CStopSignals()
    {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        m_pNotifier.reset();
        for (int& fd : g_aRecordSignalPipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    bool IsStopped() const { return m_bStop; }

private:
    bool m_bStop = false;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};

// The process-wide environment with the record folder of --dir.
class CCliDownloadEnv : public IDownloadEnv {
public:
    explicit CCliDownloadEnv(std::string strDir) : m_strDir(std::move(strDir))
    {
        if (!m_strDir.empty() && m_strDir.back() != '/')
            m_strDir += '/';
    }
    DeviceInfo* GetDevice(DWORD dwID) override { return Default()->GetDevice(dwID); }
    void SendStartDownload(DWORD dwID, DWORD dwStart, DWORD dwEnd) override
    {
        Default()->SendStartDownload(dwID, dwStart, dwEnd);
    }
    void SendStopDownload(DWORD dwID) override { Default()->SendStopDownload(dwID); }
    std::string GetRecordPath() override { return m_strDir.empty() ? Default()->GetRecordPath() : m_strDir; }
    CNotifyManager* GetNotify() override { return Default()->GetNotify(); }
    std::vector<const DeviceInfo*> GetKnownDevices() override { return Default()->GetKnownDevices(); }

private:
    static IDownloadEnv* Default() { return GetDefaultDownloadEnv(); }
    std::string m_strDir;
};

// What one camera's download has done so far. The device's counters start again with each
// range, so the totals of finished ranges are kept here.
struct CameraProgress {
    DeviceInfo* pDevice = nullptr;
    std::string strKey;
    std::string strFolder;
    bool bStarted = false;
    bool bDone = false;
    int nExit = CLI_EXIT_OK;
    std::string strResult;
    double dBaseBytes = 0;
    double dBaseFrames = 0;
    double dLastBytes = 0;
    double dLastFrames = 0;
    std::chrono::steady_clock::time_point lastData;
    std::optional<std::chrono::steady_clock::time_point> firstData;

    double Bytes() const { return dBaseBytes + dLastBytes; }
    double Frames() const { return dBaseFrames + dLastFrames; }
    void Sample()
    {
        const double dBytes = pDevice->dwReceiveKB * 1024.0 + pDevice->dwReceiveRemainder;
        const double dFrames = pDevice->dwMaxContinuousAck;
        if (dBytes < dLastBytes || dFrames < dLastFrames) { // a new range began
            dBaseBytes += dLastBytes;
            dBaseFrames += dLastFrames;
        }
        if (dBytes != dLastBytes) {
            lastData = std::chrono::steady_clock::now();
            if (!firstData)
                firstData = lastData;
        }
        dLastBytes = dBytes;
        dLastFrames = dFrames;
    }
};

std::string ProgressLine(const CameraProgress& p, DWORD dwFrom, DWORD dwTo, double dSeconds)
{
    const DWORD dwAt = std::clamp(p.pDevice->dwReceiveTime, dwFrom, dwTo);
    const double dDone = dwTo > dwFrom ? static_cast<double>(dwAt - dwFrom) / (dwTo - dwFrom) : 1.0;
    const double dRate = dSeconds > 0 ? p.Bytes() / dSeconds : 0;
    std::ostringstream out;
    out << p.strKey << " ";
    if (p.bDone) {
        out << p.strResult << ", ";
    } else {
        const int nBar = 20;
        const int nFill = static_cast<int>(dDone * nBar);
        out << "[" << std::string(nFill, '#') << std::string(nBar - nFill, '.') << "] "
            << static_cast<int>(dDone * 100) << "% " << CameraTimeText(dwAt) << ", ";
    }
    out << BytesText(p.Bytes()) << ", " << BytesText(dRate) << "/s, " << static_cast<long long>(p.Frames())
        << " frames";
    if (!p.bDone && dDone > 0.001 && dSeconds > 1)
        out << ", " << DurationText(static_cast<long long>(dSeconds * (1 - dDone) / dDone)) << " left";
    return out.str();
}

int CmdDownload(const CliOptions& options, const DownloadArgs& args, bool bPassword, bool bPasswordFile)
{
    DWORD dwFrom = 0;
    DWORD dwTo = 0;
    for (const auto& [pszOption, pText, pTime] :
         {std::tuple{"--from", &args.strFrom, &dwFrom}, std::tuple{"--to", &args.strTo, &dwTo}}) {
        if (!ParseCameraTime(*pText, *pTime)) {
            PrintError(
                options,
                std::string(pszOption) + " '" + *pText +
                    "' is not a time of the calendar like 2024-05-02T08:15:00Z or \"2024-05-02 08:15:00\"",
                CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
    }
    if (dwFrom >= dwTo) {
        PrintError(options, "--from must come before --to", CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    if (static_cast<int>(args.vecCameras.size()) > MAX_DOWNLOAD_CAM) {
        PrintError(options, "at most " + std::to_string(MAX_DOWNLOAD_CAM) + " cameras download at once",
                   CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }
    std::optional<std::string> password;
    const std::string strError = ResolvePassword(bPassword ? &args.strPassword : nullptr,
                                                 bPasswordFile ? &args.strPasswordFile : nullptr,
                                                 std::getenv("VISTREL_PASSWORD"), password);
    if (!strError.empty()) {
        PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
        return CLI_EXIT_BAD_ARGUMENTS;
    }

    // This process only downloads: its capture ring is the large one from the start instead of
    // being swapped for it while the first data comes, and to its end: released on the way out,
    // the hold would set a small ring up only to close it.
    static const CCaptureBulkHold* const s_pCaptureBulk = new CCaptureBulkHold;
    (void)s_pCaptureBulk;
    CCliClient client;
    if (!StartClient(client, options))
        return CLI_EXIT_FAILURE;
    std::vector<CameraProgress> vecCameras;
    for (const std::string& strCamera : args.vecCameras) {
        DeviceInfo* pDevice = FindOrReport(client, options, strCamera);
        if (pDevice == nullptr)
            return CLI_EXIT_NOT_FOUND;
        if (pDevice->enCameraType == CAMERA_TYPE_PARENT) {
            PrintError(options, strCamera + " is a recorder: download from its channels",
                       CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        for (const CameraProgress& other : vecCameras) {
            if (other.pDevice == pDevice) {
                PrintError(options, "camera given twice: " + strCamera, CLI_EXIT_BAD_ARGUMENTS);
                return CLI_EXIT_BAD_ARGUMENTS;
            }
        }
        if (const int nExit = ApplyPassword(client, options, pDevice, password ? &*password : nullptr, true);
            nExit != CLI_EXIT_OK)
            return nExit;
        // A camera without a check value still wants a token from the sequence numbers it
        // announced; the download's start video sends the stored one as it is.
        if (!pDevice->stPassword.HasPassword())
            MakeToken(pDevice->stPassword);
        CameraProgress progress;
        progress.pDevice = pDevice;
        progress.strKey = pDevice->GetSerial();
        vecCameras.push_back(progress);
    }

    CEngMedia* pEngine = CEngMedia::GetInstance();
    try {
        pEngine->Init(nullptr, nullptr);
    } catch (const CExceptionBase&) {
        PrintError(options, "the media ports are taken", CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    CCliDownloadEnv env(args.strDir);
    CDownloadRecordManager manager(&env);
    if (args.uTestMaxFileMiB != 0)
        manager.SetMaxFileMiBForTest(args.uTestMaxFileMiB);
    IDownloadRecordManager* pOldManager = SetDownloadRecordManager(&manager);
    CStopSignals stopSignals;
    const auto start = std::chrono::steady_clock::now();
    for (CameraProgress& p : vecCameras) {
        DeviceInfo* pDevice = p.pDevice;
        p.strFolder = MakeDownloadFolder(env.GetRecordPath(), *pDevice);
        pDevice->dwDownloadStart = dwFrom;
        pDevice->dwDownloadEnd = dwTo;
        // Start video with the download flag: the camera sends to the download port.
        client.Manager()->GetRecordInfo(pDevice);
        p.lastData = start;
        p.bStarted = manager.Download(pDevice->GetID());
        if (!p.bStarted) {
            p.bDone = true;
            p.strResult = "already downloaded";
        }
    }

    const bool bTerminal = !options.bJson && ::isatty(STDERR_FILENO);
    int nLinesDrawn = 0;
    auto lastPlain = start;
    auto lastDrawn = start - std::chrono::milliseconds(kTerminalDrawMs);
    auto draw = [&](bool bFinal) {
        const auto now = std::chrono::steady_clock::now();
        const double dSeconds = std::chrono::duration<double>(now - start).count();
        if (bTerminal && (bFinal || now - lastDrawn >= std::chrono::milliseconds(kTerminalDrawMs))) {
            lastDrawn = now;
            std::string strOut;
            if (nLinesDrawn > 0)
                strOut += "\x1b[" + std::to_string(nLinesDrawn) + "F";
            for (const CameraProgress& p : vecCameras)
                strOut += "\x1b[2K" + ProgressLine(p, dwFrom, dwTo, dSeconds) + "\n";
            std::cerr << strOut << std::flush;
            nLinesDrawn = static_cast<int>(vecCameras.size());
        } else if (!options.bJson &&
                   (bFinal || now - lastPlain >= std::chrono::milliseconds(kPlainProgressMs))) {
            lastPlain = now;
            for (const CameraProgress& p : vecCameras)
                std::cout << ProgressLine(p, dwFrom, dwTo, dSeconds) << std::endl;
        }
    };

    client.RunUntil(
        [&] {
            bool bAllDone = true;
            const auto now = std::chrono::steady_clock::now();
            for (CameraProgress& p : vecCameras) {
                if (p.bDone)
                    continue;
                const DWORD dwID = p.pDevice->GetID();
                if (manager.IsDownloading(dwID)) {
                    p.Sample();
                    if (stopSignals.IsStopped()) {
                        manager.CancelDownload(dwID);
                        p.bDone = true;
                        p.nExit = CLI_EXIT_FAILURE;
                        p.strResult = "cancelled";
                    } else if (now - p.lastData >= std::chrono::seconds(args.nIdleSeconds)) {
                        manager.CancelDownload(dwID);
                        p.bDone = true;
                        p.nExit = CLI_EXIT_TIMEOUT;
                        p.strResult = "no data for " + std::to_string(args.nIdleSeconds) + " s";
                    }
                } else {
                    // The last frames may have come since the previous look.
                    p.Sample();
                    p.bDone = true;
                    const std::string strFailure = manager.GetFailure(dwID);
                    p.nExit = strFailure.empty() ? CLI_EXIT_OK : CLI_EXIT_FAILURE;
                    p.strResult = strFailure.empty() ? "done" : "stopped: " + strFailure;
                }
                bAllDone = bAllDone && p.bDone;
            }
            draw(false);
            return bAllDone;
        },
        INT32_MAX, kDownloadPollMs);
    draw(true);
    SetDownloadRecordManager(pOldManager);

    int nExit = CLI_EXIT_OK;
    json results = json::array();
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const CameraProgress& p : vecCameras) {
        results.push_back(
            {{"serial", p.strKey},
             {"id", p.pDevice->GetID()},
             {"folder", p.strFolder},
             {"result", p.strResult},
             {"exit", p.nExit},
             {"bytes", static_cast<long long>(p.Bytes())},
             {"frames", static_cast<long long>(p.Frames())},
             // From the first to the last data seen: the transfer without the
             // requests before it.
             {"data_seconds",
              p.firstData ? std::chrono::duration<double>(p.lastData - *p.firstData).count() : 0.0},
             // From the command's start to the first data seen: the requests and their round trips.
             {"first_data_seconds",
              p.firstData ? std::chrono::duration<double>(*p.firstData - start).count() : 0.0},
             {"files", manager.GetFinishedFiles(p.pDevice->GetID())}});
        if (p.nExit != CLI_EXIT_OK && !options.bJson)
            std::cerr << p.strKey << ": " << p.strResult << std::endl;
        // A failure outranks a time-out.
        if (p.nExit == CLI_EXIT_FAILURE || nExit == CLI_EXIT_OK)
            nExit = p.nExit;
    }
    if (options.bJson)
        std::cout << json{{"ok", nExit == CLI_EXIT_OK},
                          {"exit", nExit},
                          {"from", dwFrom},
                          {"to", dwTo},
                          {"seconds", dSeconds},
                          {"socket_drops", DownloadSocketDrops()},
                          {"cameras", results}}
                         .dump()
                  << std::endl;
    return nExit;
}

json FlagCells(const BYTE* pFlags, int nCount, const char* pszName)
{
    json cells = json::array();
    for (int i = 0; i < nCount; ++i)
        if (pFlags[i] & 1)
            cells.push_back({{pszName, i}, {"event", (pFlags[i] & 0x1E) != 0}});
    return cells;
}

int CmdRecordings(const CliOptions& options, const RecordingsArgs& args, bool bPassword, bool bPasswordFile)
{
    DWORD dwDay = 0;
    if (!args.strDay.empty()) {
        const char* p = args.strDay.c_str();
        std::tm tm{};
        if (!ReadDate(p, tm) || *p != 0) {
            PrintError(options, "--day '" + args.strDay + "' is not a date of the calendar like 2024-05-02",
                       CLI_EXIT_BAD_ARGUMENTS);
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        dwDay = static_cast<DWORD>((tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday);
    }
    CCliClient client;
    DeviceInfo* pDevice = nullptr;
    if (const int nExit = OpenCamera(client, options, args.strCamera, bPassword ? &args.strPassword : nullptr,
                                     bPasswordFile ? &args.strPasswordFile : nullptr,
                                     args.strCamera + " is a recorder: ask its channels", pDevice);
        nExit != CLI_EXIT_OK)
        return nExit;

    const DWORD dwID = pDevice->GetID();
    CMSCmd* pMs = CMSCmd::GetInstance();
    std::optional<std::vector<DWORD>> days;
    std::optional<std::vector<BYTE>> hours;
    std::map<DWORD, std::vector<BYTE>> mapMinutes;
    client.Subscribe(pMs, MS_EVENT_REC_DATE, [&](WPARAM, LPARAM lParam) {
        const RecDateInfo* pInfo = reinterpret_cast<const RecDateInfo*>(lParam);
        if (pInfo->dwValue == dwID)
            days.emplace(pInfo->pDays, pInfo->pDays + pInfo->dwCount);
    });
    client.Subscribe(pMs, MS_EVENT_REC_HOUR, [&](WPARAM, LPARAM lParam) {
        const RecHourInfo* pInfo = reinterpret_cast<const RecHourInfo*>(lParam);
        if (pInfo->adwValue[0] == dwID && pInfo->adwValue[1] == dwDay)
            hours.emplace(pInfo->abyHours, pInfo->abyHours + 24);
    });
    client.Subscribe(pMs, MS_EVENT_REC_MINUTE, [&](WPARAM, LPARAM lParam) {
        const RecMinuteInfo* pInfo = reinterpret_cast<const RecMinuteInfo*>(lParam);
        if (pInfo->adwValue[0] == dwID && pInfo->adwValue[1] == dwDay && pInfo->adwValue[2] < 24)
            mapMinutes[pInfo->adwValue[2]].assign(pInfo->abyMinutes, pInfo->abyMinutes + 60);
    });
    const int nWaitMs = options.nWaitSeconds * 1000;
    auto timeout = [&](const std::string& strWhat) {
        PrintError(options, "the camera did not answer the " + strWhat + " query", CLI_EXIT_TIMEOUT);
        return CLI_EXIT_TIMEOUT;
    };
    auto dayText = [](DWORD d) {
        char sz[16];
        std::snprintf(sz, sizeof sz, "%04u-%02u-%02u", d / 10000, d / 100 % 100, d % 100);
        return std::string(sz);
    };

    if (dwDay == 0) {
        pMs->Cmd_GetRecDate(dwID);
        if (!client.RunUntil([&] { return days.has_value(); }, nWaitMs))
            return timeout("days");
        json list = json::array();
        for (const DWORD d : *days)
            list.push_back(dayText(d));
        if (options.bJson) {
            std::cout << json{{"ok", true}, {"id", dwID}, {"days", list}}.dump() << std::endl;
        } else {
            for (const auto& d : list)
                std::cout << d.get<std::string>() << std::endl;
        }
        return CLI_EXIT_OK;
    }

    pMs->Cmd_GetRecHour(dwID, dwDay, 0);
    if (!client.RunUntil([&] { return hours.has_value(); }, nWaitMs))
        return timeout("hours");
    std::vector<DWORD> vecHours;
    for (DWORD h = 0; h < 24; ++h)
        if ((*hours)[h] & 1)
            vecHours.push_back(h);
    for (const DWORD h : vecHours)
        pMs->Cmd_GetRecMinute(dwID, 0, dwDay, h);
    if (!client.RunUntil([&] { return mapMinutes.size() == vecHours.size(); }, nWaitMs * 2))
        return timeout("minutes");

    json jsonHours = json::array();
    for (const DWORD h : vecHours) {
        jsonHours.push_back({{"hour", h},
                             {"event", ((*hours)[h] & 0x1E) != 0},
                             {"minutes", FlagCells(mapMinutes[h].data(), 60, "minute")}});
    }
    if (options.bJson) {
        std::cout << json{{"ok", true}, {"id", dwID}, {"day", dayText(dwDay)}, {"hours", jsonHours}}.dump()
                  << std::endl;
        return CLI_EXIT_OK;
    }
    // One line per hour: the recorded minutes as runs, events marked with "*".
    std::cout << "day " << dayText(dwDay) << std::endl;
    for (const json& hour : jsonHours) {
        std::string strRuns;
        int nRunStart = -1;
        int nPrevious = -2;
        bool bRunEvent = false;
        auto flush = [&] {
            if (nRunStart < 0)
                return;
            char sz[32];
            if (nRunStart == nPrevious)
                std::snprintf(sz, sizeof sz, " %02d%s", nRunStart, bRunEvent ? "*" : "");
            else
                std::snprintf(sz, sizeof sz, " %02d-%02d%s", nRunStart, nPrevious, bRunEvent ? "*" : "");
            strRuns += sz;
        };
        for (const json& cell : hour["minutes"]) {
            const int m = cell["minute"].get<int>();
            if (m != nPrevious + 1) {
                flush();
                nRunStart = m;
                bRunEvent = false;
            }
            bRunEvent = bRunEvent || cell["event"].get<bool>();
            nPrevious = m;
        }
        flush();
        char szHour[16];
        std::snprintf(szHour, sizeof szHour, "%02d:", hour["hour"].get<int>());
        std::cout << szHour << strRuns << std::endl;
    }
    return CLI_EXIT_OK;
}

int CmdExport(const CliOptions& options, const ExportArgs& args)
{
    const AviExportResult result = ExportAviToMp4(args.vecInputs, args.strOutput);
    if (!result.bOk) {
        // The export wrote beside the output and removed that: the output's name is untouched.
        PrintError(options, result.strError, CLI_EXIT_FAILURE);
        return CLI_EXIT_FAILURE;
    }
    const json j = {{"ok", true},
                    {"output", args.strOutput},
                    {"video_frames", result.llVideoFrames},
                    {"audio_samples", result.llAudioSamples},
                    {"start", CameraTimeText(static_cast<DWORD>(result.llStartTime))}};
    if (options.bJson)
        std::cout << j.dump() << std::endl;
    else
        std::cout << args.strOutput << ": " << result.llVideoFrames << " frames, "
                  << result.llAudioSamples / 8000.0 << " s of audio, from " << j["start"].get<std::string>()
                  << std::endl;
    return CLI_EXIT_OK;
}

} // namespace

void AddRecordCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec)
{
    auto pDownload = std::make_shared<DownloadArgs>();
    CLI::App* pDownloadApp = cli.add_subcommand(
        "download",
        "SD-card recordings of up to 4 cameras for a time range into AVI files (resumes what is there)");
    pDownloadApp->add_option("cameras", pDownload->vecCameras, "serials or ids")->required();
    pDownloadApp->add_option("--from", pDownload->strFrom, "start, camera clock: 2024-05-02T08:15:00Z")
        ->required();
    pDownloadApp->add_option("--to", pDownload->strTo, "end, camera clock")->required();
    pDownloadApp->add_option("--dir", pDownload->strDir, "record folder (default: the configured one)");
    CLI::Option* pPassword =
        pDownloadApp->add_option("--password", pDownload->strPassword, "camera password");
    CLI::Option* pPasswordFile = pDownloadApp->add_option("--password-file", pDownload->strPasswordFile,
                                                          "file whose first line is it");
    pDownloadApp
        ->add_option("--idle-timeout", pDownload->nIdleSeconds, "give up a camera silent this long (s)")
        ->check(CLI::Range(1, 3600));
    pDownloadApp->add_option("--test-max-file-mib", pDownload->uTestMaxFileMiB)
        ->group("")
        ->check(CLI::Range(1, 300));
    vec.push_back({pDownloadApp, [pDownload, pPassword, pPasswordFile, &options] {
                       return CmdDownload(options, *pDownload, pPassword->count() > 0,
                                          pPasswordFile->count() > 0);
                   }});

    auto pRecordings = std::make_shared<RecordingsArgs>();
    CLI::App* pRecordingsApp = cli.add_subcommand(
        "recordings", "the days with recordings on a camera's SD card, or one day's hours and minutes");
    pRecordingsApp->add_option("camera", pRecordings->strCamera, "serial or id (with --pc: serial, or all)");
    pRecordingsApp->add_option("--day", pRecordings->strDay, "a day: 2024-05-02");
    CLI::Option* pPc =
        pRecordingsApp->add_option("--pc", pRecordings->strPc, "the recordings of this PC folder");
    pRecordingsApp
        ->add_flag("--reindex", pRecordings->bReindex, "rebuild the PC folder's index from its files")
        ->needs(pPc);
    CLI::Option* pRecPassword =
        pRecordingsApp->add_option("--password", pRecordings->strPassword, "camera password");
    CLI::Option* pRecPasswordFile = pRecordingsApp->add_option(
        "--password-file", pRecordings->strPasswordFile, "file whose first line is it");
    vec.push_back({pRecordingsApp, [pRecordings, pRecPassword, pRecPasswordFile, &options] {
                       if (!pRecordings->strPc.empty())
                           return CmdPcRecordings(options, pRecordings->strPc, pRecordings->strCamera,
                                                  pRecordings->strDay, pRecordings->bReindex);
                       if (pRecordings->strCamera.empty()) {
                           PrintError(options, "camera is required", CLI_EXIT_BAD_ARGUMENTS);
                           return int{CLI_EXIT_BAD_ARGUMENTS};
                       }
                       return CmdRecordings(options, *pRecordings, pRecPassword->count() > 0,
                                            pRecPasswordFile->count() > 0);
                   }});

    auto pExport = std::make_shared<ExportArgs>();
    CLI::App* pExportApp =
        cli.add_subcommand("export", "downloaded AVI files into one MP4 that any player opens");
    CLI::Option* pFiles =
        pExportApp->add_option("files", pExport->vecInputs, "AVI files, in order")->check(CLI::ExistingFile);
    pExportApp->add_option("-o,--output", pExport->strOutput, "the MP4 file")->required();
    CLI::Option* pExportPc =
        pExportApp
            ->add_option("--pc", pExport->vecPc, "FOLDER CAMERA: a camera's recordings on this PC instead")
            ->expected(2)
            ->excludes(pFiles);
    pExportApp->add_option("--from", pExport->strFrom, "with --pc: start, UTC: 2024-05-02T08:15:00Z")
        ->needs(pExportPc);
    pExportApp->add_option("--to", pExport->strTo, "with --pc: end, UTC")->needs(pExportPc);
    vec.push_back({pExportApp, [pExport, &options] {
                       if (!pExport->vecPc.empty())
                           return CmdPcExport(options, pExport->vecPc[0], pExport->vecPc[1], pExport->strFrom,
                                              pExport->strTo, pExport->strOutput);
                       if (pExport->vecInputs.empty()) {
                           PrintError(options, "files is required", CLI_EXIT_BAD_ARGUMENTS);
                           return int{CLI_EXIT_BAD_ARGUMENTS};
                       }
                       return CmdExport(options, *pExport);
                   }});
}
