// Fixed-width stand-ins for the Win32 scalar types the design is written in.
// Only the sizes matter: records and wire formats keep their 32-bit fields.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;

// Opaque handle of a message window (see msgwindow.h). Never dereferenced by callers.
struct MsgWindowHandle;
using HWND = MsgWindowHandle*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
