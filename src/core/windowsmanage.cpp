#include "core/windowsmanage.h"

#include "core/log.h"
#include "platform/msgwindow.h"

CWindowsManage::CWindowsManage()
{
    m_bClassRegistered = RegisterWindowClass(WINDOW_CLASS_NAME, &CWindowsManage::WindowProc);
    if (!m_bClassRegistered)
        VLOG(1, "CWindowsManage::CWindowsManage: RegisterWindowClass failed");
}

CWindowsManage::~CWindowsManage()
{
    // Windows still open would keep our address in their user-data word; detach and close
    // them so that no late message reaches a destroyed manager.
    for (auto& [hWnd, record] : m_mapWindows) {
        SetWindowUserData(hWnd, 0);
        ::DestroyWindow(hWnd);
    }
    m_mapWindows.clear();
    if (m_bClassRegistered)
        UnregisterWindowClass(WINDOW_CLASS_NAME);
}

HWND CWindowsManage::CreateMsgWindow(const char* pszName, IWndProcSink* pSink)
{
    FATAL_CHECK(pszName != nullptr && pszName[0] != '\0');
    FATAL_CHECK(pSink != nullptr);
    for (const auto& [hWnd, record] : m_mapWindows)
        FATAL_CHECK(!(record.pSink == pSink && record.strName == pszName));

    HWND hWnd = ::CreateMsgWindow(WINDOW_CLASS_NAME, pszName);
    FATAL_CHECK(hWnd != nullptr);
    // The windows are hidden by nature; the user-data word tells the window procedure
    // which manager owns the window.
    SetWindowUserData(hWnd, reinterpret_cast<LPARAM>(this));
    m_mapWindows[hWnd] = WindowRecord{pszName, pSink};
    return hWnd;
}

void CWindowsManage::DestroyMsgWindow(HWND hWnd)
{
    FATAL_CHECK(hWnd != nullptr);
    auto it = m_mapWindows.find(hWnd);
    FATAL_CHECK(it != m_mapWindows.end());
    SetWindowUserData(hWnd, 0);
    ::DestroyWindow(hWnd);
    m_mapWindows.erase(it);
}

LRESULT CWindowsManage::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // The user-data word is the only place the window can keep its owner.
    auto* pThis =
        reinterpret_cast<CWindowsManage*>(GetWindowUserData(hWnd)); // NOLINT(performance-no-int-to-ptr)
    if (pThis != nullptr) {
        auto it = pThis->m_mapWindows.find(hWnd);
        FATAL_CHECK(it != pThis->m_mapWindows.end());
        it->second.pSink->OnWndProcSink(hWnd, uMsg, wParam, lParam);
    }
    // Sinks only observe; the default procedure always answers.
    return DefWindowProc(hWnd, uMsg, wParam, lParam);
}

CWindowsManage* GetWindowsManage()
{
    static CWindowsManage s_windowsManage;
    return &s_windowsManage;
}
