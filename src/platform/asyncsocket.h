// Window-message notification of socket readiness (WSAAsyncSelect) on the Qt event loop.
//
// A readable socket sends its message once to the window (wParam = socket, lParam = FD_READ)
// and then stays quiet until the socket is read again through RecvFromAsync (or re-armed with
// AsyncSocketReenable), as Windows re-enables FD_READ on the next recv. A datagram left
// waiting on purpose therefore never spins the loop. If data is still pending when the socket
// is read, the next message follows. The message is handled in the loop pass that found the
// socket readable, as a posted message would be on the next pass (messages posted to the
// window before it may therefore come after it).
//
// WSAAsyncSelect must be called on the thread that owns the target window (the notifier
// runs there); it makes the socket non-blocking. Selecting again replaces the previous
// selection and, like Windows, reports data that is already waiting. Events 0 cancels.
// Only FD_READ produces messages: datagram sockets are always writable and never closed by
// the peer, so FD_WRITE and FD_CLOSE are accepted and never reported.
#pragma once

#include "platform/wintypes.h"

#include <sys/socket.h>
#include <sys/types.h>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_CLOSE = 0x20;

// 0 on success, SOCKET_ERROR (errno set) for an invalid socket or a null window with events.
int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent);

// recvfrom that re-enables the socket's read notification, whatever the result.
ssize_t RecvFromAsync(SOCKET s, void* pBuf, size_t nLen, int nFlags, sockaddr* pFrom, socklen_t* pFromLen);

// Re-enables the read notification of a socket read some other way.
void AsyncSocketReenable(SOCKET s);

// Cancels any selection, then closes the socket (a descriptor number may be reused at once).
int closesocket(SOCKET s);
