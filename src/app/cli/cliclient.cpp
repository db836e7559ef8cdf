#include "app/cli/cliclient.h"

#include "device/settingchecks.h"
#include "app/startup_engines.h"
#include "core/engineresponse.h"
#include "core/language.h"
#include "core/log.h"
#include "device/devicenotifications.h"
#include "platform/codepage.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstring>

namespace {

// Notifications whose parameter is the device record.
bool CarriesDevice(DWORD dwNotifyID)
{
    switch (dwNotifyID) {
    case DWORD_NOTIFYID_3G_STATUS:
    case DWORD_NOTIFYID_CAMERA_EXIST_ONLINE:
    case DWORD_NOTIFYID_CAMERA_EXIST_OFFLINE:
    case DWORD_NOTIFYID_CAMERA_LIST_INFO:
    case DWORD_NOTIFYID_CAMERA_SELECT_REALTIME:
    case DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_REALTIME:
    case DWORD_NOTIFYID_CAMERA_SELECT_PLAYBACK:
    case DWORD_NOTIFYID_CAMERA_CANCEL_SELECT_PLAYBACK:
    case DWORD_NOTIFYID_CAMERA_VIDEO_STATUS_ERROR:
    case DWORD_NOTIFYID_VIDEO_START:
    case DWORD_NOTIFYID_VIDEO_STOP:
        return true;
    default:
        return false;
    }
}

} // namespace

CCliClient::CCliClient() = default;

CCliClient::~CCliClient()
{
    for (const auto& [uMsg, sub] : m_mapSubscriptions)
        sub.pEngine->RemoveResponse(sub.byCode, m_hWnd);
    CNotifyManager* pNotify = GetNotifyManager();
    for (const DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
        pNotify->RemoveNotify(dwID, this);
    if (m_hWnd != nullptr)
        GetWindowsManage()->DestroyMsgWindow(m_hWnd);
}

void CCliClient::Start()
{
    // Settings and language are loaded once by main, before the arguments are checked.
    StartEngines();
    CNotifyManager* pNotify = GetNotifyManager();
    for (const DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
        pNotify->RegisterNotify(dwID, this);
    m_hWnd = GetWindowsManage()->CreateMsgWindow("VistrelCli", this);
    FATAL_CHECK(m_hWnd != nullptr);
    m_pManager = GetDeviceManager();
    m_pManager->SearchDevices(10000);
}

bool CCliClient::RunUntil(const std::function<bool()>& fnDone, int nTimeoutMs, int nPollMs)
{
    if (fnDone())
        return true;
    QEventLoop loop;
    bool bDone = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (fnDone()) {
            bDone = true;
            loop.quit();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(nPollMs);
    deadline.start(nTimeoutMs);
    loop.exec();
    return bDone || fnDone();
}

void CCliClient::RunFor(int nMs)
{
    RunUntil([] { return false; }, nMs);
}

DeviceInfo* CCliClient::FindDevice(const std::string& strKey) const
{
    char szSerial[VIEWER_SERIAL_LEN] = {};
    std::memcpy(szSerial, strKey.data(), std::min(strKey.size(), sizeof(szSerial)));
    DeviceInfo* pDevice =
        strKey.size() <= VIEWER_SERIAL_LEN ? m_pManager->GetDevice(szSerial, CAMERA_MASK_ALL) : nullptr;
    if (pDevice == nullptr) {
        long nID = 0;
        std::size_t nUsed = 0;
        try {
            nID = static_cast<long>(std::stoul(strKey, &nUsed, 0));
        } catch (...) {
            nUsed = 0;
        }
        if (nUsed == strKey.size() && nUsed > 0)
            pDevice = m_pManager->GetDevice(static_cast<DWORD>(nID), CAMERA_MASK_ALL);
    }
    if (pDevice == nullptr)
        return nullptr;
    // A channel is there when its recorder is.
    const DeviceInfo* pPresence = pDevice->enCameraType == CAMERA_TYPE_CHILD ? ParentOf(*pDevice) : pDevice;
    return pPresence != nullptr && pPresence->bIsExist ? pDevice : nullptr;
}

DeviceInfo* CCliClient::WaitForDevice(const std::string& strKey, int nTimeoutMs)
{
    DeviceInfo* pFound = nullptr;
    RunUntil([&] { return (pFound = FindDevice(strKey)) != nullptr; }, nTimeoutMs);
    return pFound;
}

DeviceInfo* CCliClient::ParentOf(const DeviceInfo& device) const
{
    return device.enCameraType == CAMERA_TYPE_CHILD ? m_pManager->GetParentDevice(device.GetID()) : nullptr;
}

void CCliClient::Subscribe(CEngResponse* pEngine, BYTE byCode, EventHandler fnHandler)
{
    const UINT uMsg = m_uNextMessage++;
    m_mapSubscriptions[uMsg] = {pEngine, byCode, std::move(fnHandler)};
    pEngine->RegisterResponse(byCode, m_hWnd, uMsg, 0);
}

void CCliClient::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    if (m_fnNotify)
        m_fnNotify(dwNotifyID, CarriesDevice(dwNotifyID) ? reinterpret_cast<DeviceInfo*>(dwParam) : nullptr);
}

void CCliClient::OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    const auto it = m_mapSubscriptions.find(uMsg);
    if (it != m_mapSubscriptions.end())
        it->second.fnHandler(wParam, lParam);
}

std::string CCliClient::LanguageText(DWORD dwStringID)
{
    return WideToUtf8(GetLanguageManager()->GetString(dwStringID));
}
