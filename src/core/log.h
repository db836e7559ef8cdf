// Diagnostic log, fatal check and debugger trace.
//
// One file "<program folder>DebugInfo.<time>.log"; a line of level L is written only when
// g_nDebugLevel >= L. Call sites go through VLOG so that a disabled level costs one
// comparison and nothing is formatted.
//
// SECRETS: passwords, password check values, access tokens and keys never go to the log
// in clear. Where a record dump would show one, log MaskSecret(...) of it instead.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <exception>
#include <mutex>
#include <string>

extern std::int32_t g_nDebugLevel;

// Raised by FatalCheck; carries nothing.
class CMyExceptionExit : public std::exception {
public:
    const char* what() const noexcept override { return "CMyExceptionExit"; }
};

// Raised by the socket layer with a localised text that start-up shows.
class CExceptionBase : public std::exception {
public:
    explicit CExceptionBase(std::u16string text) : m_strText(std::move(text)) {}
    const std::u16string& GetText() const { return m_strText; }
    const char* what() const noexcept override { return "CExceptionBase"; }

private:
    std::u16string m_strText;
};

bool WriteLog(int nLevel, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void FatalCheck(const char* pszFile, int nLine, const char* pszFormat = nullptr, ...)
    __attribute__((format(printf, 3, 4)));
void DebugTrace(int bEnable, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

// The log file behind WriteLog and FatalCheck. The free functions use one process-wide
// instance (GetLogFile); tests reset it and shrink the rotation size through it.
class CLogFile {
public:
    static constexpr std::uint32_t DEFAULT_ROTATE_BYTES = 104857600; // 100 MiB
    static constexpr int MAX_TEXT = 259;

    CLogFile();
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    bool WriteV(int nLevel, const char* pszFormat, va_list args);
    // Writes the text as the message of one line (cut at MAX_TEXT + 1 characters so that a
    // fatal check's message keeps its trailing line feed).
    bool WriteText(int nLevel, const char* pszText);
    // Closes the file for good: every later line is dropped, also at level 0.
    void CloseForGood();
    bool IsEnabled();

    // Test hooks: back to the state of a fresh process (file closed, enabled, no date
    // written, counter 0), the rotation size, and the clock that names new files.
    void ResetForTest();
    void SetRotateBytesForTest(std::uint32_t dwBytes);
    void SetNameClockForTest(std::time_t (*pfnClock)());

private:
    bool WriteLineLocked(int nLevel, const char* pszText, int nMaxText);
    bool OpenLocked();
    void CloseLocked();
    bool WriteAllLocked(const char* pData, std::size_t nLen);

    std::mutex m_mutex;
    bool m_bEnabled = true;
    int m_nFile = -1;
    int m_nYear = 0;
    int m_nMonth = 0;
    int m_nDay = 0;
    std::uint32_t m_dwBytes = 0;
    std::uint32_t m_dwRotateBytes = DEFAULT_ROTATE_BYTES;
    std::time_t (*m_pfnNameClock)() = nullptr;
    char m_szFileName[4096] = {};
    char m_szMessage[MAX_TEXT + 1] = {};
    char m_szLine[MAX_TEXT + 32] = {};
    char m_szOut[MAX_TEXT + 64] = {};
};

CLogFile& GetLogFile();

// Masked form of a secret for level-4/5 dumps: its length only ("***(6)").
std::string MaskSecret(const std::string& strSecret);

// Log at a level, testing it before any argument is evaluated or formatted.
#define VLOG(level, ...)                                                                                     \
    do {                                                                                                     \
        if (g_nDebugLevel >= (level))                                                                        \
            WriteLog((level), __VA_ARGS__);                                                                  \
    } while (0)

// Fatal check at the caller's position when the condition does not hold.
#define FATAL_CHECK(cond, ...)                                                                               \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            FatalCheck(__FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__);                                       \
    } while (0)
