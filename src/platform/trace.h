// The debugger output channel.
//
// One process-wide sink receives every message. By default it writes to stderr when the
// environment variable VISTREL_TRACE is "1" and discards everything otherwise. Tests
// replace it to see what was traced. Safe to call from any thread; calls reach the sink
// one at a time.
#pragma once

#include <functional>

using TraceSink = std::function<void(const char* pszMessage)>;

// Sends a message to the sink; nullptr is ignored.
void OutputDebugString(const char* pszMessage);

// Replaces the sink and returns the previous one. Once this returns, the previous sink is no
// longer called. An empty function discards all output.
TraceSink SetTraceSink(TraceSink sink);

// Re-reads VISTREL_TRACE and installs the default sink again.
void ResetTraceSink();
