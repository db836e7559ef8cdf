#include "core/log.h"

#include "platform/ticks.h"
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

SYSTEMTIME MakeTime(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond, int nMs)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(nYear);
    st.wMonth = static_cast<WORD>(nMonth);
    st.wDay = static_cast<WORD>(nDay);
    st.wHour = static_cast<WORD>(nHour);
    st.wMinute = static_cast<WORD>(nMinute);
    st.wSecond = static_cast<WORD>(nSecond);
    st.wMilliseconds = static_cast<WORD>(nMs);
    return st;
}

std::atomic<long long> g_llNameTime{1700000000};
std::time_t FixedNameClock()
{
    return static_cast<std::time_t>(g_llNameTime.load());
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-logtest-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
        setenv("VISTREL_HOME", m_dir.c_str(), 1);
        GetLogFile().ResetForTest();
        g_llNameTime = 1700000000;
        GetLogFile().SetNameClockForTest(&FixedNameClock);
        m_nSavedLevel = g_nDebugLevel;
        m_prevSink = SetTraceSink([this](const char* pszMessage) {
            std::lock_guard<std::mutex> lock(m_mutexTraces);
            m_vecTraces.emplace_back(pszMessage);
        });
        SetFakeLocalTime(MakeTime(2024, 3, 7, 9, 5, 3, 42));
    }

    void TearDown() override
    {
        ClearFakeLocalTime();
        SetTraceSink(m_prevSink);
        g_nDebugLevel = m_nSavedLevel;
        GetLogFile().ResetForTest();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    fs::path FileFor(long long llTime) const
    {
        return m_dir / ("DebugInfo." + std::to_string(llTime) + ".log");
    }

    std::vector<fs::path> LogFiles() const
    {
        std::vector<fs::path> vecFiles;
        for (const auto& entry : fs::directory_iterator(m_dir))
            vecFiles.push_back(entry.path());
        std::sort(vecFiles.begin(), vecFiles.end());
        return vecFiles;
    }

    void ClearTraces()
    {
        std::lock_guard<std::mutex> lock(m_mutexTraces);
        m_vecTraces.clear();
    }

    std::vector<std::string> Traces()
    {
        std::lock_guard<std::mutex> lock(m_mutexTraces);
        return m_vecTraces;
    }

    fs::path m_dir;
    int m_nSavedLevel = 0;
    TraceSink m_prevSink;
    std::mutex m_mutexTraces;
    std::vector<std::string> m_vecTraces;
};

// Date header, then stamp + level + message + CR LF; the line text also goes to the
// debugger output; further lines of the same day get no header, a new day gets one.
TEST_F(LogTest, LineFormatAndDateHeader)
{
    EXPECT_TRUE(WriteLog(3, "CDeviceManager::SearchDevices: end }"));
    EXPECT_TRUE(WriteLog(12, "n=%d s=%s", 5, "x"));
    SetFakeLocalTime(MakeTime(2024, 3, 8, 0, 0, 0, 7));
    EXPECT_TRUE(WriteLog(1, "next day"));

    ASSERT_EQ(LogFiles(), std::vector<fs::path>{FileFor(1700000000)});
    const std::string strContent = ReadFile(FileFor(1700000000));
    const std::regex re("[^\r\n]+ time: 2024-03-07\r\n"
                        "09:05:03:042:3CDeviceManager::SearchDevices: end \\}\r\n"
                        "09:05:03:042:12n=5 s=x\r\n"
                        "[^\r\n]+ time: 2024-03-08\r\n"
                        "00:00:00:007:1next day\r\n");
    EXPECT_TRUE(std::regex_match(strContent, re)) << strContent;

    const std::vector<std::string> vecTraces = Traces();
    ASSERT_EQ(vecTraces.size(), 3u);
    EXPECT_EQ(vecTraces[0], "3CDeviceManager::SearchDevices: end }");
    EXPECT_EQ(vecTraces[1], "12n=5 s=x");
}

// A restarted process continues an existing file of the same name and still writes the
// date header before its first line.
TEST_F(LogTest, ExistingFileIsAppendedWithDateHeader)
{
    {
        std::ofstream out(FileFor(1700000000), std::ios::binary);
        out << "before\r\n";
    }
    EXPECT_TRUE(WriteLog(2, "again"));
    const std::string strContent = ReadFile(FileFor(1700000000));
    const std::regex re("before\r\n[^\r\n]+ time: 2024-03-07\r\n09:05:03:042:2again\r\n");
    EXPECT_TRUE(std::regex_match(strContent, re)) << strContent;
}

TEST_F(LogTest, LongMessagesAreCutAt259)
{
    const std::string strLong(400, 'x');
    EXPECT_TRUE(WriteLog(4, "%s", strLong.c_str()));
    const std::string strContent = ReadFile(FileFor(1700000000));
    EXPECT_NE(strContent.find("09:05:03:042:4" + std::string(259, 'x') + "\r\n"), std::string::npos);

    // The debugger trace is cut the same way and gets its line feed.
    ClearTraces();
    DebugTrace(1, "%s", strLong.c_str());
    DebugTrace(0, "switched off");
    ASSERT_EQ(Traces().size(), 1u);
    EXPECT_EQ(Traces()[0], std::string(259, 'x') + "\n");
    // Nothing of the trace reaches the file.
    EXPECT_EQ(ReadFile(FileFor(1700000000)), strContent);
}

// Without a configured level only fatal-check reports reach the file, and a filtered call
// evaluates none of its arguments.
TEST_F(LogTest, DefaultLevelKeepsOnlyFatalReports)
{
    g_nDebugLevel = 0;
    int nEvaluated = 0;
    auto Count = [&nEvaluated] { return ++nEvaluated; };
    VLOG(1, "configuration %d", Count());
    VLOG(3, "CX::Y: beg { %d", Count());
    VLOG(5, "dump %d", Count());
    EXPECT_EQ(nEvaluated, 0);
    EXPECT_TRUE(LogFiles().empty());

    EXPECT_THROW(FATAL_CHECK(nEvaluated == 1, "broken %d", 9), CMyExceptionExit);
    const std::string strContent = ReadFile(FileFor(1700000000));
    EXPECT_NE(strContent.find("0Exception Happen\r\nFile:"), std::string::npos);
    EXPECT_NE(strContent.find("0broken 9\n\r\n"), std::string::npos);
    EXPECT_EQ(strContent.find("configuration"), std::string::npos);

    g_nDebugLevel = 3;
    EXPECT_NO_THROW(FATAL_CHECK(true));
}

// After a fatal check nothing reaches the file again, not even level 0, while the debugger
// trace keeps working.
TEST_F(LogTest, FatalCheckClosesTheLogForGood)
{
    EXPECT_TRUE(WriteLog(3, "before"));
    try {
        FatalCheck("src/core/thing.cpp", 42, "RegisterNotify %d", 123);
        ADD_FAILURE() << "FatalCheck returned";
    } catch (const CMyExceptionExit&) {
    }
    const std::string strAtFatal = ReadFile(FileFor(1700000000));
    EXPECT_NE(strAtFatal.find("09:05:03:042:0Exception Happen\r\nFile:src/core/thing.cpp\r\nLine:42\r\n"
                              "09:05:03:042:0RegisterNotify 123\n\r\n"),
              std::string::npos)
        << strAtFatal;
    EXPECT_FALSE(GetLogFile().IsEnabled());

    EXPECT_FALSE(WriteLog(0, "after"));
    EXPECT_FALSE(WriteLog(3, "after"));
    // A second fatal check still throws and writes nothing.
    EXPECT_THROW(FatalCheck("x.cpp", 1), CMyExceptionExit);
    g_llNameTime = 1700000500; // no new file either
    EXPECT_FALSE(WriteLog(0, "after"));
    EXPECT_EQ(LogFiles().size(), 1u);
    EXPECT_EQ(ReadFile(FileFor(1700000000)), strAtFatal);

    ClearTraces();
    DebugTrace(1, "still %s", "traced");
    ASSERT_FALSE(Traces().empty());
    EXPECT_EQ(Traces().back(), "still traced\n");
}

// Rotation closes the file at the threshold, the next line opens a new file under the new
// time, and the new file has no date header until the date changes.
TEST_F(LogTest, RotationStartsNewFileWithoutDateHeader)
{
    EXPECT_TRUE(WriteLog(3, "first line of the first file"));
    // The next line (45 bytes) crosses the threshold.
    const std::uint32_t dwThreshold = static_cast<std::uint32_t>(fs::file_size(FileFor(1700000000))) + 10;
    GetLogFile().SetRotateBytesForTest(dwThreshold);
    g_llNameTime = 1700000100;
    EXPECT_TRUE(WriteLog(3, "second line of the first file"));
    g_llNameTime = 1700000200;
    EXPECT_TRUE(WriteLog(3, "first line of the second file"));
    EXPECT_TRUE(WriteLog(3, "x"));

    ASSERT_EQ(LogFiles(), (std::vector<fs::path>{FileFor(1700000000), FileFor(1700000200)}));
    const std::string strFirst = ReadFile(FileFor(1700000000));
    EXPECT_GE(strFirst.size(), dwThreshold);
    EXPECT_NE(strFirst.find("3second line of the first file\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(FileFor(1700000200)), "09:05:03:042:3first line of the second file\r\n"
                                             "09:05:03:042:3x\r\n");

    // Rotated again once the counter, restarted with the new file, passes the threshold.
    EXPECT_TRUE(WriteLog(3, "%s", std::string(100, 'y').c_str()));
    g_llNameTime = 1700000300;
    SetFakeLocalTime(MakeTime(2024, 3, 9, 1, 2, 3, 4));
    EXPECT_TRUE(WriteLog(3, "third"));
    const std::string strThird = ReadFile(FileFor(1700000300));
    EXPECT_TRUE(
        std::regex_match(strThird, std::regex("[^\r\n]+ time: 2024-03-09\r\n01:02:03:004:3third\r\n")))
        << strThird;
}

// A client left running rotates for ever: each new file removes the oldest past ten, by the
// time in their names (not their listing order), and files that are not logs stay.
TEST_F(LogTest, RotationKeepsOnlyTheNewestFiles)
{
    std::ofstream(m_dir / "notes.txt") << "mine";
    // An old file whose name sorts after the others as text.
    std::ofstream(FileFor(999999999)) << "old";
    GetLogFile().SetRotateBytesForTest(1);
    const long long llFirst = 1700000000;
    constexpr int kKept = 10;
    const int nWritten = kKept + 3;
    for (int i = 0; i < nWritten; ++i) {
        g_llNameTime = llFirst + i;
        EXPECT_TRUE(WriteLog(3, "line %d", i));
    }
    std::vector<fs::path> vecWant{m_dir / "notes.txt"};
    for (int i = nWritten - kKept; i < nWritten; ++i)
        vecWant.push_back(FileFor(llFirst + i));
    std::sort(vecWant.begin(), vecWant.end());
    EXPECT_EQ(LogFiles(), vecWant);
}

// A file that cannot be opened drops the line with an error code on the debugger output;
// the next line tries again.
TEST_F(LogTest, OpenFailureDropsLineAndRetries)
{
    const fs::path missing = m_dir / "missing";
    setenv("VISTREL_HOME", missing.c_str(), 1);
    EXPECT_FALSE(WriteLog(0, "lost"));
    const std::vector<std::string> vecTraces = Traces();
    ASSERT_EQ(vecTraces.size(), 1u);
    EXPECT_EQ(vecTraces[0], "debug: errorcode:" + std::to_string(ENOENT));

    fs::create_directory(missing);
    EXPECT_TRUE(WriteLog(0, "kept"));
    const std::string strContent = ReadFile(missing / "DebugInfo.1700000000.log");
    EXPECT_EQ(strContent.find("lost"), std::string::npos);
    EXPECT_NE(strContent.find("0kept\r\n"), std::string::npos);
}

// Lines from several threads never interleave inside a line.
TEST_F(LogTest, ConcurrentWritersKeepLinesWhole)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> vecThreads;
    vecThreads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        vecThreads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                WriteLog(4, "thread %d line %d %s", t, i, "payload-payload-payload");
        });
    }
    for (auto& thread : vecThreads)
        thread.join();

    std::istringstream in(ReadFile(FileFor(1700000000)));
    std::string strLine;
    int nLines = 0;
    const std::regex re("09:05:03:042:4thread [0-3] line [0-9]+ payload-payload-payload\r");
    std::getline(in, strLine); // date header
    while (std::getline(in, strLine)) {
        EXPECT_TRUE(std::regex_match(strLine, re)) << strLine;
        ++nLines;
    }
    EXPECT_EQ(nLines, kThreads * kLines);
}

TEST(MaskSecretTest, ShowsLengthNeverTheSecret)
{
    const std::string strMasked = MaskSecret("hunter22");
    EXPECT_EQ(strMasked.find("hunter"), std::string::npos);
    EXPECT_NE(strMasked.find('8'), std::string::npos);
    EXPECT_NE(MaskSecret(""), MaskSecret("a"));
}

} // namespace
