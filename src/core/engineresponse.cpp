#include "core/engineresponse.h"

#include "platform/msgwindow.h"

#include <algorithm>
#include <vector>

CEngResponse::CEngResponse() = default;

CEngResponse::~CEngResponse() = default;

void CEngResponse::RegisterResponse(BYTE byCode, HWND hWnd, UINT uMsg, DWORD dwOneShot)
{
    std::list<ResponseReg>& listRegs = m_mapResponses[byCode];
    auto it = std::find_if(listRegs.begin(), listRegs.end(),
                           [hWnd](const ResponseReg& reg) { return reg.hWnd == hWnd; });
    if (it != listRegs.end()) {
        it->uMsg = uMsg;
        it->dwOneShot = dwOneShot;
        return;
    }
    listRegs.push_back(ResponseReg{hWnd, uMsg, dwOneShot});
}

bool CEngResponse::RemoveResponse(BYTE byCode, HWND hWnd)
{
    auto itCode = m_mapResponses.find(byCode);
    if (itCode == m_mapResponses.end())
        return false;
    std::list<ResponseReg>& listRegs = itCode->second;
    auto it = std::find_if(listRegs.begin(), listRegs.end(),
                           [hWnd](const ResponseReg& reg) { return reg.hWnd == hWnd; });
    if (it == listRegs.end())
        return false;
    listRegs.erase(it);
    return true;
}

void CEngResponse::DeliverResponse(BYTE byCode, WPARAM wParam, LPARAM lParam)
{
    auto itCode = m_mapResponses.find(byCode);
    if (itCode == m_mapResponses.end())
        return;
    // A window has at most one registration per code, so the window identifies it; the
    // handlers may change the list while we send, hence the copy of the order.
    std::vector<HWND> vecWindows;
    vecWindows.reserve(itCode->second.size());
    for (const ResponseReg& reg : itCode->second)
        vecWindows.push_back(reg.hWnd);

    for (HWND hWnd : vecWindows) {
        // The map node outlives the loop: codes are never erased.
        std::list<ResponseReg>& listRegs = itCode->second;
        auto it = std::find_if(listRegs.begin(), listRegs.end(),
                               [hWnd](const ResponseReg& reg) { return reg.hWnd == hWnd; });
        if (it == listRegs.end())
            continue;
        const UINT uMsg = it->uMsg;
        // A one-shot goes before the send, so that a nested delivery cannot hand it a
        // second message and a handler that registers again keeps its new registration.
        if (it->dwOneShot != 0)
            listRegs.erase(it);
        SendMessage(hWnd, uMsg, wParam, lParam);
    }
}

int CEngResponse::GetResponseCount(BYTE byCode) const
{
    auto itCode = m_mapResponses.find(byCode);
    return itCode == m_mapResponses.end() ? 0 : static_cast<int>(itCode->second.size());
}
