#include "core/log.h"

#include "platform/module.h"
#include "platform/ticks.h"
#include "platform/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef VISTREL_VERSION_STRING
#define VISTREL_VERSION_STRING "Vistrel"
#endif

std::int32_t g_nDebugLevel = 0;

namespace {

// vsnprintf into a fixed buffer, cut at nMax characters; a format error leaves it empty.
void FormatCut(char* pszBuf, std::size_t nMax, const char* pszFormat, va_list args)
{
    if (pszFormat == nullptr || std::vsnprintf(pszBuf, nMax + 1, pszFormat, args) < 0)
        pszBuf[0] = '\0';
}

// The buffers hold MAX_TEXT + 2 bytes, so a cut message still has room for it.
void AppendLineFeed(char* pszText)
{
    const std::size_t nLen = std::strlen(pszText);
    pszText[nLen] = '\n';
    pszText[nLen + 1] = '\0';
}

// Files kept in the folder: a new one removes the oldest past this, so that a client left
// running for months holds at most this many rotations on disk.
constexpr std::size_t MAX_FILES = 10;

// The folder's log files but the newest MAX_FILES go (by the time in their names).
void RemoveOldFiles(const std::string& strFolder)
{
    std::vector<std::pair<long long, std::string>> vecFiles;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(strFolder.empty() ? "." : strFolder, ec)) {
        const std::string strName = entry.path().filename().string();
        long long llTime = 0;
        int nUsed = 0;
        if (std::sscanf(strName.c_str(), "DebugInfo.%lld.log%n", &llTime, &nUsed) == 1 &&
            static_cast<std::size_t>(nUsed) == strName.size())
            vecFiles.emplace_back(llTime, entry.path().string());
    }
    if (vecFiles.size() <= MAX_FILES)
        return;
    std::sort(vecFiles.begin(), vecFiles.end());
    for (std::size_t i = 0; i + MAX_FILES < vecFiles.size(); ++i)
        std::filesystem::remove(vecFiles[i].second, ec);
}

} // namespace

CLogFile::CLogFile() = default;

CLogFile::~CLogFile()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
}

bool CLogFile::WriteV(int nLevel, const char* pszFormat, va_list args)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bEnabled)
        return false;
    if (m_nFile < 0 && !OpenLocked())
        return false;
    FormatCut(m_szMessage, MAX_TEXT, pszFormat, args);
    return WriteLineLocked(nLevel, m_szMessage, MAX_TEXT);
}

bool CLogFile::WriteText(int nLevel, const char* pszText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bEnabled)
        return false;
    if (m_nFile < 0 && !OpenLocked())
        return false;
    return WriteLineLocked(nLevel, pszText != nullptr ? pszText : "", MAX_TEXT + 1);
}

void CLogFile::CloseForGood()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
    m_bEnabled = false;
}

bool CLogFile::IsEnabled()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bEnabled;
}

void CLogFile::ResetForTest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
    m_bEnabled = true;
    m_nYear = m_nMonth = m_nDay = 0;
    m_dwRotateBytes = DEFAULT_ROTATE_BYTES;
    m_pfnNameClock = nullptr;
}

void CLogFile::SetRotateBytesForTest(std::uint32_t dwBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dwRotateBytes = dwBytes;
}

void CLogFile::SetNameClockForTest(std::time_t (*pfnClock)())
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pfnNameClock = pfnClock;
}

bool CLogFile::OpenLocked()
{
    const std::time_t tNow = m_pfnNameClock != nullptr ? m_pfnNameClock() : std::time(nullptr);
    const std::string strFolder = GetLogFolder();
    const int nLen = std::snprintf(m_szFileName, sizeof(m_szFileName), "%sDebugInfo.%lld.log",
                                   strFolder.c_str(), static_cast<long long>(tNow));
    int nError = ENAMETOOLONG;
    if (nLen > 0 && static_cast<std::size_t>(nLen) < sizeof(m_szFileName)) {
        // An existing file is continued at its end; otherwise a new one is made.
        m_nFile = ::open(m_szFileName, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_nFile < 0) {
            m_nFile = ::open(m_szFileName, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            nError = errno;
            if (m_nFile >= 0)
                RemoveOldFiles(strFolder);
        }
    }
    if (m_nFile >= 0)
        return true;
    char szTrace[64];
    std::snprintf(szTrace, sizeof(szTrace), "debug: errorcode:%d", nError);
    OutputDebugString(szTrace);
    return false;
}

void CLogFile::CloseLocked()
{
    if (m_nFile >= 0)
        ::close(m_nFile);
    m_nFile = -1;
    m_dwBytes = 0;
}

bool CLogFile::WriteAllLocked(const char* pData, std::size_t nLen)
{
    while (nLen > 0) {
        const ssize_t nDone = ::write(m_nFile, pData, nLen);
        if (nDone < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        m_dwBytes += static_cast<std::uint32_t>(nDone);
        pData += nDone;
        nLen -= static_cast<std::size_t>(nDone);
    }
    return true;
}

bool CLogFile::WriteLineLocked(int nLevel, const char* pszText, int nMaxText)
{
    std::snprintf(m_szLine, sizeof(m_szLine), "%d%.*s", nLevel, nMaxText, pszText);
    OutputDebugString(m_szLine);

    SYSTEMTIME st{};
    GetLocalTime(&st);
    bool bOk = true;
    if (st.wYear != m_nYear || st.wMonth != m_nMonth || st.wDay != m_nDay) {
        const int nLen = std::snprintf(m_szOut, sizeof(m_szOut), "%s time: %04d-%02d-%02d\r\n",
                                       VISTREL_VERSION_STRING, st.wYear, st.wMonth, st.wDay);
        bOk = WriteAllLocked(m_szOut, static_cast<std::size_t>(nLen));
        m_nYear = st.wYear;
        m_nMonth = st.wMonth;
        m_nDay = st.wDay;
    }
    const int nLen = std::snprintf(m_szOut, sizeof(m_szOut), "%02d:%02d:%02d:%03d:%s\r\n", st.wHour,
                                   st.wMinute, st.wSecond, st.wMilliseconds, m_szLine);
    bOk = WriteAllLocked(m_szOut, static_cast<std::size_t>(nLen)) && bOk;

    if (m_dwBytes >= m_dwRotateBytes)
        CloseLocked();
    return bOk;
}

CLogFile& GetLogFile()
{
    // Never destroyed: static destructors and other threads may still log at exit.
    static CLogFile* s_pLogFile = new CLogFile;
    return *s_pLogFile;
}

bool WriteLog(int nLevel, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const bool bOk = GetLogFile().WriteV(nLevel, pszFormat, args);
    va_end(args);
    return bOk;
}

void FatalCheck(const char* pszFile, int nLine, const char* pszFormat, ...)
{
    CLogFile& log = GetLogFile();
    char szText[CLogFile::MAX_TEXT + 2];
    std::snprintf(szText, CLogFile::MAX_TEXT + 1, "Exception Happen\r\nFile:%s\r\nLine:%d",
                  pszFile != nullptr ? pszFile : "", nLine);
    log.WriteText(0, szText);
    if (pszFormat != nullptr) {
        va_list args;
        va_start(args, pszFormat);
        FormatCut(szText, CLogFile::MAX_TEXT, pszFormat, args);
        va_end(args);
        AppendLineFeed(szText);
        log.WriteText(0, szText);
    }
    log.CloseForGood();
    throw CMyExceptionExit();
}

void DebugTrace(int bEnable, const char* pszFormat, ...)
{
    if (bEnable == 0)
        return;
    char szText[CLogFile::MAX_TEXT + 2];
    va_list args;
    va_start(args, pszFormat);
    FormatCut(szText, CLogFile::MAX_TEXT, pszFormat, args);
    va_end(args);
    AppendLineFeed(szText);
    OutputDebugString(szText);
}

std::string MaskSecret(const std::string& strSecret)
{
    return "***(" + std::to_string(strSecret.size()) + ")";
}
