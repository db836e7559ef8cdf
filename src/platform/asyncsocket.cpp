#include "platform/asyncsocket.h"

#include "platform/msgwindow.h"

#include <QSocketNotifier>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace {

struct Selection {
    QSocketNotifier* pNotifier = nullptr;
    // A message was delivered and the socket has not been read since: the notifier is quiet
    // until the next read.
    bool bPosted = false;
    // The window procedure is handling the notice right now: a read then leaves the notifier
    // armed instead of turning it off and on again.
    bool bInNotice = false;
};

struct SelectRegistry {
    std::mutex mutex;
    std::map<SOCKET, Selection> selections;
    // Selections with bPosted set. While there are none, a read has nothing to re-enable and
    // skips the lock: a drain re-arms its socket once, not on every read.
    std::atomic<int> nPosted{0};
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

void DropNotifier(QSocketNotifier* pNotifier, bool bInNotice)
{
    pNotifier->setEnabled(false);
    // A notifier whose notice is being handled is still inside its own signal.
    if (pNotifier->thread() == QThread::currentThread() && !bInNotice)
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
        DropNotifier(it->second.pNotifier, it->second.bInNotice);
        reg.nPosted -= it->second.bPosted ? 1 : 0;
        reg.selections.erase(it);
    }
    if ((lEvent & FD_READ) == 0)
        return 0;

    auto* pNotifier = new QSocketNotifier(s, QSocketNotifier::Read);
    // Level-triggered readiness is turned into one message per read: unless the procedure
    // reads the socket, the notifier goes quiet until RecvFromAsync re-enables it. The notifier
    // runs on the window's thread, in its event loop: the message is handled there and then,
    // as a posted one would be on the loop's next pass.
    QObject::connect(pNotifier, &QSocketNotifier::activated, pNotifier, [pNotifier, s, hWnd, wMsg] {
        {
            SelectRegistry& reg = Selections();
            std::lock_guard<std::mutex> lock(reg.mutex);
            const auto it = reg.selections.find(s);
            // Selected anew or cancelled meanwhile: this notifier is off already.
            if (it == reg.selections.end() || it->second.pNotifier != pNotifier)
                return;
            reg.nPosted += it->second.bPosted ? 0 : 1;
            it->second.bPosted = true;
            it->second.bInNotice = true;
        }
        // Whatever the procedure does (it may select anew, close the socket or throw).
        struct NoticeEnd {
            SOCKET s;
            QSocketNotifier* pNotifier;
            ~NoticeEnd()
            {
                SelectRegistry& reg = Selections();
                std::lock_guard<std::mutex> lock(reg.mutex);
                const auto it = reg.selections.find(s);
                if (it == reg.selections.end() || it->second.pNotifier != pNotifier)
                    return;
                it->second.bInNotice = false;
                if (it->second.bPosted)
                    pNotifier->setEnabled(false);
            }
        };
        bool bHandled = false;
        {
            const NoticeEnd end{s, pNotifier};
            bHandled = DispatchFromOwnerLoop(hWnd, wMsg, static_cast<WPARAM>(s), FD_READ);
        }
        if (!bHandled)
            PostMessage(hWnd, wMsg, static_cast<WPARAM>(s), FD_READ);
    });
    reg.selections[s].pNotifier = pNotifier;
    return 0;
}

void AsyncSocketReenable(SOCKET s)
{
    SelectRegistry& reg = Selections();
    if (reg.nPosted.load() == 0)
        return;
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto it = reg.selections.find(s);
    // Reads of a socket whose notifier is armed cost only the look-up.
    if (it == reg.selections.end() || !it->second.bPosted)
        return;
    it->second.bPosted = false;
    --reg.nPosted;
    if (it->second.bInNotice)
        return;
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
