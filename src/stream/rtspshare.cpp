#include "stream/rtspshare.h"

#include "core/log.h"
#include "device/devicemanager.h"
#include "platform/msgwindow.h"
#include "protocol/engmedia.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

namespace {

const char* const kWindowClass = "VistrelRtspShare";
constexpr UINT_PTR TIMER_SCAN = 1;
constexpr UINT SCAN_MS = 250;

void TapFrame(void* pContext, const MediaFrame& frame)
{
    static_cast<CRtspBridge*>(pContext)->PushFrame(frame);
}

std::string SerialOf(const DeviceInfo& device)
{
    return std::string(device.GetSerial(), strnlen(device.GetSerial(), VIEWER_SERIAL_LEN));
}

} // namespace

std::string RtspPathName(const DeviceInfo& device)
{
    std::string strName = SerialOf(device);
    for (char& c : strName)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    return strName.empty() ? std::to_string(device.GetID()) : strName;
}

bool IsLoopbackAddress(const std::string& strAddress)
{
    in_addr addr{};
    return inet_pton(AF_INET, strAddress.c_str(), &addr) == 1 && (ntohl(addr.s_addr) >> 24) == 127;
}

std::string CheckRtspAccess(const RtspBridgeConfig& config)
{
    in_addr addr{};
    if (inet_pton(AF_INET, config.strAddress.c_str(), &addr) != 1)
        return "the address to listen on must be an IPv4 address: " + config.strAddress;
    const bool bAccount =
        !config.strUser.empty() && (!config.strPassword.empty() || !config.strPasswordHash.empty());
    if (!IsLoopbackAddress(config.strAddress) && !bAccount)
        return "serving on " + config.strAddress +
               " opens the cameras to the network: give a user and a password (RTSP digest "
               "authentication), or listen on 127.0.0.1";
    return {};
}

CRtspShare::CRtspShare(IDeviceManager& manager, CEngMedia& engine)
    : m_manager(manager), m_engine(engine), m_bridge(*this)
{
    RegisterWindowClass(kWindowClass, &CRtspShare::WndProc);
    m_hWnd = CreateMsgWindow(kWindowClass, "RtspShare");
    SetWindowUserData(m_hWnd, reinterpret_cast<LPARAM>(this));
}

CRtspShare::~CRtspShare()
{
    Stop(true);
    DestroyWindow(m_hWnd);
}

std::string CRtspShare::Start(const RtspBridgeConfig& config)
{
    if (m_bRunning)
        Stop(true);
    if (std::string strWhy = CheckRtspAccess(config); !strWhy.empty())
        return strWhy;
    if (std::string strWhy = m_bridge.Start(config); !strWhy.empty())
        return strWhy;
    m_config = config;
    m_bRunning = true;
    m_bStopNow = false;
    m_engine.AddMediaTap(&m_bridge, &TapFrame);
    Scan();
    SetTimer(m_hWnd, TIMER_SCAN, SCAN_MS);
    return {};
}

void CRtspShare::Stop(bool bStopNow)
{
    if (!m_bRunning)
        return;
    KillTimer(m_hWnd, TIMER_SCAN);
    m_bStopNow = bStopNow;
    m_engine.RemoveMediaTap(&m_bridge);
    // Releases what is still held through ReleaseCamera.
    m_bridge.Stop();
    for (DWORD dwID : m_setHeld)
        m_manager.ReleaseLive(dwID, bStopNow);
    m_setHeld.clear();
    m_setOffered.clear();
    m_bRunning = false;
}

std::string CRtspShare::Url(DWORD dwID, const std::string& strHost) const
{
    if (!m_bRunning || m_setOffered.count(dwID) == 0)
        return {};
    const DeviceInfo* pDevice = m_manager.GetDevice(dwID, CAMERA_MASK_ALL);
    if (pDevice == nullptr)
        return {};
    return "rtsp://" + strHost + ":" + std::to_string(GetPort()) + "/" + RtspPathName(*pDevice);
}

void CRtspShare::Scan()
{
    if (!m_bRunning)
        return;
    m_bridge.ReleaseDue();
    // What can be offered now: cameras, and channels whose recorder is present.
    std::map<DWORD, std::string> mapPresent;
    auto add = [&](const DeviceInfo& device) {
        const std::string strSerial = SerialOf(device);
        if (!m_vecWanted.empty() &&
            std::none_of(m_vecWanted.begin(), m_vecWanted.end(), [&](const std::string& strKey) {
                return strKey == strSerial || strKey == std::to_string(device.GetID());
            }))
            return;
        mapPresent[device.GetID()] = RtspPathName(device);
    };
    for (const auto& [dwID, pDevice] : m_manager.GetDevices()) {
        if (!pDevice->bIsExist)
            continue;
        if (pDevice->enCameraType == CAMERA_TYPE_PARENT) {
            for (const auto& pChild : pDevice->vecChildren)
                add(*pChild);
        } else {
            add(*pDevice);
        }
    }
    for (auto it = m_setOffered.begin(); it != m_setOffered.end();) {
        if (mapPresent.count(*it) == 0) {
            m_bridge.Withdraw(*it);
            it = m_setOffered.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [dwID, strName] : mapPresent)
        if (m_setOffered.insert(dwID).second)
            m_bridge.Offer(dwID, strName);
}

void CRtspShare::HoldCamera(DWORD dwID)
{
    DeviceInfo* pDevice = m_manager.GetDevice(dwID, CAMERA_MASK_ALL);
    if (pDevice == nullptr || !m_setHeld.insert(dwID).second)
        return;
    if (m_beforeHold)
        m_beforeHold(*pDevice);
    m_manager.HoldLive(dwID, pDevice->enCameraType);
}

void CRtspShare::ReleaseCamera(DWORD dwID)
{
    if (m_setHeld.erase(dwID) > 0)
        m_manager.ReleaseLive(dwID, m_bStopNow);
}

void CRtspShare::OnRtspEvent(RtspEvent enEvent, const std::string& strPath, const std::string& strPeer,
                             const std::string& strDetail)
{
    if (m_onEvent)
        m_onEvent(enEvent, strPath, strPeer, strDetail);
}

LRESULT CRtspShare::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pShare = reinterpret_cast<CRtspShare*>(GetWindowUserData(hWnd));
    if (pShare != nullptr && uMsg == WM_TIMER && wParam == TIMER_SCAN) {
        pShare->Scan();
        return 0;
    }
    return DefWindowProc(hWnd, uMsg, wParam, lParam);
}
