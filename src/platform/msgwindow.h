// Hidden message windows with Win32 semantics on top of the QtCore event loop.
//
// A window belongs to the thread that created it (which must run a Qt event loop to
// receive posted messages and timers). Its window procedure is a plain function.
//  - SendMessage from the owning thread calls the procedure directly; from any other
//    thread it queues the call to the owner and blocks until it has been handled, then
//    returns the procedure's result.
//  - PostMessage is thread-safe and never blocks; messages to one window are delivered
//    in posting order. Posting to a destroyed window fails and delivers nothing.
//  - SetTimer keeps the caller's id; each expiry arrives as WM_TIMER (275) with the id in
//    wParam. Setting an existing id again restarts it with the new period.
//  - Handles are never reused within a process, so a stale handle is simply invalid.
//  - SetTimer and KillTimer called on another thread are carried out on the owning thread,
//    the caller waiting as in SendMessage.
//  - A thread waiting in SendMessage does not handle messages sent to its own windows, so two
//    threads sending to each other's windows, or an owner waiting for a thread that is sending
//    to it, deadlock. An exception leaving a window procedure goes to whoever dispatched the
//    message: the caller of SendMessage on the owning thread, else the owner's event loop (a
//    caller on another thread then gets 0).
#pragma once

#include "platform/wintypes.h"

#include <exception>
#include <string>

constexpr UINT WM_TIMER = 275; // 0x0113
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

using WNDPROC = LRESULT (*)(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Window classes: a name bound to a window procedure. Registering an existing name fails.
bool RegisterWindowClass(const std::string& className, WNDPROC proc);
bool UnregisterWindowClass(const std::string& className);

// Creates a hidden window of a registered class on the calling thread; nullptr when the
// class is unknown.
HWND CreateMsgWindow(const std::string& className, const std::string& windowName);
// Destroys the window: its timers stop and messages still queued for it are discarded.
// Must be called on the owning thread.
bool DestroyWindow(HWND hWnd);
bool IsWindow(HWND hWnd);
std::string GetWindowName(HWND hWnd);

// The window's single user-data word (GWLP_USERDATA); returns the previous value.
LPARAM SetWindowUserData(HWND hWnd, LPARAM value);
LPARAM GetWindowUserData(HWND hWnd);

LRESULT SendMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
bool PostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
// For an event handler of the window's own thread that would post and return: runs the
// procedure now, as the loop runs a posted message (exceptions go to the handler below), and
// spares the second pass through the loop. False, with nothing done, when the window is gone
// or belongs to another thread.
bool DispatchFromOwnerLoop(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Returns the id (nonzero) on success, 0 on failure (invalid window or id 0).
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse);
bool KillTimer(HWND hWnd, UINT_PTR nIDEvent);
// The period a running timer of the window was set with (after clamping), 0 when it has none
// of that id: what a timer does is then tested without waiting for it.
UINT GetTimerPeriod(HWND hWnd, UINT_PTR nIDEvent);

// Default handling: every message is accepted and yields 0.
LRESULT DefWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Receives an exception that left a window procedure called from the event loop (a posted
// message or a timer), which the loop itself cannot carry. Returns the previous handler;
// nullptr (the default) lets the exception go on into the loop.
using WndProcExceptionHandler = void (*)(std::exception_ptr);
WndProcExceptionHandler SetWndProcExceptionHandler(WndProcExceptionHandler handler);
