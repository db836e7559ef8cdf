#include "platform/asyncsocket.h"

#include "platform/msgwindow.h"

#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace {

struct Selection {
    QSocketNotifier* pNotifier = nullptr;
    // A message was posted and the notifier is quiet until the next read.
    bool bPosted = false;
};

struct SelectRegistry {
    std::mutex mutex;
    std::map<SOCKET, Selection> selections;
};

SelectRegistry& Selections()
{
    // Never destroyed: sockets owned by static objects are closed after main() returns.
    static auto* pRegistry = new SelectRegistry;
    return *pRegistry;
}

// setEnabled and deletion must happen on the notifier's own thread.
void RunOnNotifierThread(QSocketNotifier* pNotifier, void (*fn)(QSocketNotifier*))
{
    if (pNotifier->thread() == QThread::currentThread())
        fn(pNotifier);
    else
        QMetaObject::invokeMethod(
            pNotifier, [pNotifier, fn] { fn(pNotifier); }, Qt::QueuedConnection);
}

void DropNotifier(QSocketNotifier* pNotifier)
{
    pNotifier->setEnabled(false);
    if (pNotifier->thread() == QThread::currentThread())
        delete pNotifier;
    else
        pNotifier->deleteLater();
}

} // namespace

int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent)
{
    if (s < 0) {
        errno = EBADF;
        return SOCKET_ERROR;
    }
    if (lEvent != 0 && hWnd == nullptr) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    const int nFlags = fcntl(s, F_GETFL);
    if (nFlags < 0 || fcntl(s, F_SETFL, nFlags | O_NONBLOCK) < 0)
        return SOCKET_ERROR;

    SelectRegistry& reg = Selections();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto it = reg.selections.find(s);
    if (it != reg.selections.end()) {
        DropNotifier(it->second.pNotifier);
        reg.selections.erase(it);
    }
    if ((lEvent & FD_READ) == 0)
        return 0;

    auto* pNotifier = new QSocketNotifier(s, QSocketNotifier::Read);
    // Level-triggered readiness is turned into one message per read: the notifier goes quiet
    // until RecvFromAsync re-enables it.
    QObject::connect(pNotifier, &QSocketNotifier::activated, pNotifier, [pNotifier, s, hWnd, wMsg] {
        pNotifier->setEnabled(false);
        {
            SelectRegistry& reg = Selections();
            std::lock_guard<std::mutex> lock(reg.mutex);
            const auto it = reg.selections.find(s);
            if (it != reg.selections.end() && it->second.pNotifier == pNotifier)
                it->second.bPosted = true;
        }
        PostMessage(hWnd, wMsg, static_cast<WPARAM>(s), FD_READ);
    });
    reg.selections[s].pNotifier = pNotifier;
    return 0;
}

void AsyncSocketReenable(SOCKET s)
{
    SelectRegistry& reg = Selections();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto it = reg.selections.find(s);
    // Reads of a socket whose notifier is armed (the usual drain loop) cost only the look-up.
    if (it == reg.selections.end() || !it->second.bPosted)
        return;
    it->second.bPosted = false;
    RunOnNotifierThread(it->second.pNotifier, [](QSocketNotifier* p) { p->setEnabled(true); });
}

ssize_t RecvFromAsync(SOCKET s, void* pBuf, size_t nLen, int nFlags, sockaddr* pFrom, socklen_t* pFromLen)
{
    const ssize_t n = recvfrom(s, pBuf, nLen, nFlags, pFrom, pFromLen);
    const int nSavedErrno = errno;
    AsyncSocketReenable(s);
    errno = nSavedErrno;
    return n;
}

int closesocket(SOCKET s)
{
    if (s < 0) {
        errno = EBADF;
        return SOCKET_ERROR;
    }
    WSAAsyncSelect(s, nullptr, 0, 0);
    return close(s) == 0 ? 0 : SOCKET_ERROR;
}
