#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

TraceSink MakeDefaultSink()
{
    const char* pszTrace = std::getenv("VISTREL_TRACE");
    if (pszTrace == nullptr || std::strcmp(pszTrace, "1") != 0)
        return {};
    return [](const char* pszMessage) {
        // The debugger shows every message on its own line; keep stderr readable the same way.
        const std::size_t nLen = std::strlen(pszMessage);
        std::fwrite(pszMessage, 1, nLen, stderr);
        if (nLen == 0 || pszMessage[nLen - 1] != '\n')
            std::fputc('\n', stderr);
        std::fflush(stderr);
    };
}

struct TraceState {
    std::mutex mutex;
    TraceSink sink = MakeDefaultSink();
};

// Never destroyed: traces may come from static destructors at exit.
TraceState& State()
{
    static auto* pState = new TraceState;
    return *pState;
}

thread_local bool t_bInSink = false;

} // namespace

void OutputDebugString(const char* pszMessage)
{
    // A sink that traces itself would deadlock; its nested messages are dropped.
    if (pszMessage == nullptr || t_bInSink)
        return;
    TraceState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.sink)
        return;
    t_bInSink = true;
    try {
        state.sink(pszMessage);
    } catch (...) {
        // Tracing must never change the caller's control flow.
    }
    t_bInSink = false;
}

TraceSink SetTraceSink(TraceSink sink)
{
    TraceState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return std::exchange(state.sink, std::move(sink));
}

void ResetTraceSink()
{
    SetTraceSink(MakeDefaultSink());
}
