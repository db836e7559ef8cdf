// Response subscriptions of the command engines: per response code, the windows that want
// to hear about it and the message each wants to receive.
//
// The viewer, LAN and record-time engines derive from CEngResponse and call DeliverResponse
// from their dispatchers once a reply is decoded. Only the user-interface thread uses it.
#pragma once

#include "platform/wintypes.h"

#include <list>
#include <map>

class CEngResponse {
public:
    CEngResponse();
    virtual ~CEngResponse();
    CEngResponse(const CEngResponse&) = delete;
    CEngResponse& operator=(const CEngResponse&) = delete;

    // One registration per window and code: registering the same window again replaces its
    // message and one-shot flag. dwOneShot nonzero removes it after its first delivery.
    void RegisterResponse(BYTE byCode, HWND hWnd, UINT uMsg, DWORD dwOneShot);
    // Drops the registration of hWnd for the code, if any, so that a window can go away
    // before the engine does. Returns whether one was dropped.
    bool RemoveResponse(BYTE byCode, HWND hWnd);
    // Sends (synchronously) each registered window its message with wParam and lParam, in
    // registration order. Handlers may register or remove from inside the send: windows
    // registered meanwhile are not sent this response, windows removed meanwhile are skipped.
    void DeliverResponse(BYTE byCode, WPARAM wParam, LPARAM lParam);

    // Number of registrations for a code (for diagnostics and tests).
    int GetResponseCount(BYTE byCode) const;

private:
    struct ResponseReg {
        HWND hWnd;
        UINT uMsg;
        DWORD dwOneShot;
    };
    std::map<BYTE, std::list<ResponseReg>> m_mapResponses;
};
