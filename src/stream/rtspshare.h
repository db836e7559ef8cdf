// The device manager's cameras through an RTSP bridge: what vistrel-cli serve and the desktop
// client share. Every present camera and every channel of a present recorder is offered at
// /<serial>, withdrawn when it goes, and its live stream held while RTSP clients play it.
#pragma once

#include "platform/wintypes.h"
#include "stream/rtspbridge.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CEngMedia;
class IDeviceManager;
struct DeviceInfo;

// A serial as a path segment: anything but letters, digits, '-', '_' and '.' becomes '_'.
std::string RtspPathName(const DeviceInfo& device);
// Empty when the bridge may serve this: an IPv4 address, and an account for any address off
// this machine (else the cameras would be anyone's to watch). Otherwise why not.
std::string CheckRtspAccess(const RtspBridgeConfig& config);
bool IsLoopbackAddress(const std::string& strAddress);

class CRtspShare : public IRtspBridgeHost {
public:
    using EventHandler = std::function<void(RtspEvent enEvent, const std::string& strPath,
                                            const std::string& strPeer, const std::string& strDetail)>;
    // Made on the GUI thread; offers cameras while started.
    CRtspShare(IDeviceManager& manager, CEngMedia& engine);
    ~CRtspShare();
    CRtspShare(const CRtspShare&) = delete;
    CRtspShare& operator=(const CRtspShare&) = delete;

    void SetEventHandler(EventHandler handler) { m_onEvent = std::move(handler); }
    // Called before a camera's stream is held: the caller gives it its password.
    void SetBeforeHold(std::function<void(DeviceInfo&)> handler) { m_beforeHold = std::move(handler); }
    // Serials or ids; empty: every camera.
    void SetCameras(std::vector<std::string> vecWanted) { m_vecWanted = std::move(vecWanted); }

    // Checks the access rule, binds and starts offering. Empty on success, else why not.
    std::string Start(const RtspBridgeConfig& config);
    // Ends every session and lets every held stream go (bStopNow: stop video at once).
    void Stop(bool bStopNow);
    bool IsRunning() const { return m_bRunning; }
    const RtspBridgeConfig& Config() const { return m_config; }
    int GetPort() const { return m_bridge.GetPort(); }
    std::uint64_t GetDroppedFrames() const { return m_bridge.GetDroppedFrames(); }
    // The camera's URL with strHost for the address ("rtsp://HOST:PORT/<serial>"); empty when
    // it is not offered.
    std::string Url(DWORD dwID, const std::string& strHost) const;
    // Offers what came, withdraws what went (a timer does it every 250 ms).
    void Scan();

    // IRtspBridgeHost
    void HoldCamera(DWORD dwID) override;
    void ReleaseCamera(DWORD dwID) override;
    void OnRtspEvent(RtspEvent enEvent, const std::string& strPath, const std::string& strPeer,
                     const std::string& strDetail) override;

private:
    static LRESULT WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    IDeviceManager& m_manager;
    CEngMedia& m_engine;
    CRtspBridge m_bridge;
    HWND m_hWnd = nullptr;
    RtspBridgeConfig m_config;
    bool m_bRunning = false;
    bool m_bStopNow = false;
    EventHandler m_onEvent;
    std::function<void(DeviceInfo&)> m_beforeHold;
    std::vector<std::string> m_vecWanted;
    std::set<DWORD> m_setOffered;
    std::set<DWORD> m_setHeld;
};
