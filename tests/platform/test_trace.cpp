#include "platform/trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Runs fn with stderr redirected to a temporary file and returns what was written.
template <typename Fn> std::string CaptureStderr(Fn fn)
{
    std::fflush(stderr);
    FILE* pTemp = std::tmpfile();
    const int fdSaved = dup(STDERR_FILENO);
    dup2(fileno(pTemp), STDERR_FILENO);
    fn();
    std::fflush(stderr);
    dup2(fdSaved, STDERR_FILENO);
    close(fdSaved);
    std::string strText;
    std::rewind(pTemp);
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pTemp)) > 0)
        strText.append(buffer, n);
    std::fclose(pTemp);
    return strText;
}

TEST(Trace, ReplacedSinkSeesEveryMessageAndRestores)
{
    std::vector<std::string> got;
    TraceSink previous = SetTraceSink([&](const char* psz) { got.emplace_back(psz); });
    OutputDebugString("one\n");
    OutputDebugString(nullptr);
    OutputDebugString("two");
    EXPECT_EQ(got, (std::vector<std::string>{"one\n", "two"}));

    // Calls from several threads arrive one at a time and none is lost.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i)
                OutputDebugString("x");
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(got.size(), 2u + 4 * 500);

    SetTraceSink(std::move(previous));
    const std::size_t nBefore = got.size();
    OutputDebugString("after");
    EXPECT_EQ(got.size(), nBefore);
}

TEST(Trace, SinkThatTracesItselfDoesNotDeadlock)
{
    int nCalls = 0;
    SetTraceSink([&](const char*) {
        ++nCalls;
        OutputDebugString("nested");
    });
    OutputDebugString("outer");
    EXPECT_EQ(nCalls, 1);
    ResetTraceSink();
}

TEST(Trace, DefaultSinkWritesToStderrOnlyWhenEnabled)
{
    setenv("VISTREL_TRACE", "1", 1);
    ResetTraceSink();
    EXPECT_EQ(CaptureStderr([] {
                  OutputDebugString("hello\n");
                  OutputDebugString("3CDeviceManager::SearchDevices: beg {");
              }),
              "hello\n3CDeviceManager::SearchDevices: beg {\n");

    setenv("VISTREL_TRACE", "0", 1);
    ResetTraceSink();
    EXPECT_EQ(CaptureStderr([] { OutputDebugString("quiet\n"); }), "");

    unsetenv("VISTREL_TRACE");
    ResetTraceSink();
    EXPECT_EQ(CaptureStderr([] { OutputDebugString("quiet\n"); }), "");
}

} // namespace
