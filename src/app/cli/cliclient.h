// The headless client: start-up as the desktop client's minus the window, the device
// manager searching, and a way to wait on the event loop for what a command needs.
#pragma once

#include "core/notify.h"
#include "core/windowsmanage.h"
#include "device/devicemanager.h"

#include <functional>
#include <map>
#include <string>

class CEngResponse;

// Exit codes of vistrel-cli.
enum CliExit : int {
    CLI_EXIT_OK = 0,
    CLI_EXIT_FAILURE = 1,        // start-up failed (a socket could not be opened, ...)
    CLI_EXIT_BAD_ARGUMENTS = 2,  // the command line or a setting value is wrong; nothing was sent
    CLI_EXIT_NOT_FOUND = 3,      // no present camera with that serial or id
    CLI_EXIT_WRONG_PASSWORD = 4, // the password does not match the camera's
    CLI_EXIT_REFUSED = 5,        // the camera answered no (or kept its old value)
    CLI_EXIT_TIMEOUT = 6,        // the camera did not answer in time
};

class CCliClient : public INotifySink, private IWndProcSink {
public:
    using NotifyHandler = std::function<void(DWORD dwNotifyID, DeviceInfo* pDevice)>;
    using EventHandler = std::function<void(WPARAM wParam, LPARAM lParam)>;

    CCliClient();
    ~CCliClient() override;
    CCliClient(const CCliClient&) = delete;
    CCliClient& operator=(const CCliClient&) = delete;

    // Engines, then the device manager and its search (10 s period); the settings and the
    // language come first (LoadSettingsAndLanguage).
    // Throws CExceptionBase when a socket cannot be opened.
    void Start();
    CDeviceManager* Manager() const { return m_pManager; }

    // Runs the event loop until fnDone holds (checked every nPollMs) or nTimeoutMs passed. A
    // command whose end must be seen at once (a download's duration is its figure) looks oftener.
    bool RunUntil(const std::function<bool()>& fnDone, int nTimeoutMs, int nPollMs = 20);
    void RunFor(int nMs);

    // A present device by serial (first 20 characters) or by id (decimal or 0x hex),
    // channels included; waits up to nTimeoutMs for it to appear. Null when it does not.
    DeviceInfo* WaitForDevice(const std::string& strKey, int nTimeoutMs);
    DeviceInfo* FindDevice(const std::string& strKey) const;
    // A channel's recorder, else null.
    DeviceInfo* ParentOf(const DeviceInfo& device) const;

    // Presence and query notifications, as they come (watch).
    void SetNotifyHandler(NotifyHandler fnHandler) { m_fnNotify = std::move(fnHandler); }
    // A reply event of an engine delivered to fnHandler (until the client goes).
    void Subscribe(CEngResponse* pEngine, BYTE byCode, EventHandler fnHandler);

    // INotifySink
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

    // Text of a string id in the current language, UTF-8.
    static std::string LanguageText(DWORD dwStringID);

private:
    void OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

    CDeviceManager* m_pManager = nullptr;
    HWND m_hWnd = nullptr;
    NotifyHandler m_fnNotify;
    struct Subscription {
        CEngResponse* pEngine;
        BYTE byCode;
        EventHandler fnHandler;
    };
    std::map<UINT, Subscription> m_mapSubscriptions;
    UINT m_uNextMessage = 0x8400;
};
