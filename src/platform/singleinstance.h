// Named mutex, the single-instance guard of the design.
//
// The mutex is an exclusive flock on "<runtime dir>/<name>.lock" (runtime dir: XDG_RUNTIME_DIR,
// else /tmp with the user id in the file name). Whoever holds the lock owns the name; the
// kernel drops it when the holder closes it or exits, however it exits. A second creation while
// the lock is held, in this or another process, reports ERROR_ALREADY_EXISTS as Windows does.
#pragma once

#include "platform/wintypes.h"

#include <string>

constexpr DWORD ERROR_ALREADY_EXISTS = 183;

struct NamedMutexHandle;
using HMUTEX = NamedMutexHandle*;

// Creates the named mutex, taking ownership when nobody holds it.
//  - owned:                 returns a handle, *pdwError = 0;
//  - held by someone else:  returns a handle that owns nothing, *pdwError = ERROR_ALREADY_EXISTS;
//  - the lock file cannot be opened or locked: returns nullptr, *pdwError = the errno value.
// pdwError may be nullptr. The handle lives until CloseNamedMutex or process exit.
HMUTEX CreateNamedMutex(const std::string& strName, DWORD* pdwError);
// Releases ownership (if owned) and frees the handle.
bool CloseNamedMutex(HMUTEX hMutex);

// The lock file that stands for the name.
std::string GetNamedMutexPath(const std::string& strName);
