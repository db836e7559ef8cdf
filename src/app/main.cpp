// vistrel: the desktop client.
//
// Options (for scripted and headless runs):
//   --close-after MS   close every window MS milliseconds after start, so that a headless
//                      run ends by itself in the normal shutdown order.
// SIGTERM and SIGINT close the windows the same way, so settings are written and cameras
// stopped as when the user closes the main window.
#include "app/healthreport.h"
#include "app/vistrelapp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

int g_anSignalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_anSignalPipe[1], &c, 1);
}

// Modal windows follow one another (main window, then perhaps a message), so keep closing
// whatever is open until start-up returns.
void CloseEverything(QApplication& app, int nDelayMs)
{
    auto* pTimer = new QTimer(&app);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer] {
        pTimer->setInterval(200);
        if (QWidget* pModal = QApplication::activeModalWidget())
            pModal->close();
        QApplication::closeAllWindows();
    });
    pTimer->start(nDelayMs);
}

void CloseOnSignals(QApplication& app)
{
    if (pipe(g_anSignalPipe) != 0)
        return;
    auto* pNotifier = new QSocketNotifier(g_anSignalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(pNotifier, &QSocketNotifier::activated, &app, [&app, pNotifier] {
        char c = 0;
        [[maybe_unused]] const ssize_t n = read(g_anSignalPipe[0], &c, 1);
        pNotifier->setEnabled(false);
        CloseEverything(app, 0);
    });
    struct sigaction action {};
    action.sa_handler = &OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int ParseCloseAfter(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--close-after") == 0)
            return std::atoi(argv[i + 1]);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    KeepLargeBlocksMapped(DESKTOP_MMAP_THRESHOLD);
    CVistrelApp theApp;
    // A second copy ends silently, before it touches the display or any file.
    if (!theApp.TakeInstanceLock())
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vistrel"));

    CloseOnSignals(app);
    if (const int nCloseAfter = ParseCloseAfter(argc, argv); nCloseAfter > 0)
        CloseEverything(app, nCloseAfter);
    return theApp.InitInstance();
}
