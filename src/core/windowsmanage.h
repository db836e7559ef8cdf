// Hidden message windows bound to sinks: an object that needs window messages (timers,
// engine responses) without being a window gets one here, and every message of that
// window is handed to its sink.
//
// Only the user-interface thread creates and destroys the windows.
#pragma once

#include "platform/wintypes.h"

#include <map>
#include <string>

class IWndProcSink {
public:
    virtual ~IWndProcSink() = default;
    // Sees every message of the window; the result is not used, the default window
    // procedure answers afterwards.
    virtual void OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) = 0;
};

class CWindowsManage {
public:
    static constexpr const char* WINDOW_CLASS_NAME = "WindowsManage Internal Window Class";

    CWindowsManage();
    CWindowsManage(const CWindowsManage&) = delete;
    CWindowsManage& operator=(const CWindowsManage&) = delete;

    // Creates a hidden window named pszName whose messages go to pSink. An empty name, a
    // null sink, a second window of the same name for the same sink and a failed creation
    // are fatal checks.
    virtual HWND CreateMsgWindow(const char* pszName, IWndProcSink* pSink);
    // Destroys a window made by CreateMsgWindow; a null or unknown handle is a fatal check.
    virtual void DestroyMsgWindow(HWND hWnd);
    virtual ~CWindowsManage();

    int GetWindowCount() const { return static_cast<int>(m_mapWindows.size()); }

private:
    struct WindowRecord {
        std::string strName;
        IWndProcSink* pSink;
    };

    static LRESULT WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    std::map<HWND, WindowRecord> m_mapWindows;
    bool m_bClassRegistered = false;
};

// The process-wide window manager, created on first use.
CWindowsManage* GetWindowsManage();
