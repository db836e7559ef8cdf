// vistrel: the desktop client.
//
// Options (for scripted and headless runs):
//   --close-after MS   close every window MS milliseconds after start, so that a headless
//                      run ends by itself in the normal shutdown order.
#include "app/vistrelapp.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <cstring>

namespace {

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
    CVistrelApp theApp;
    // A second copy ends silently, before it touches the display or any file.
    if (!theApp.TakeInstanceLock())
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vistrel"));

    if (const int nCloseAfter = ParseCloseAfter(argc, argv); nCloseAfter > 0) {
        // Modal windows follow one another (main window, then perhaps a message), so keep
        // closing whatever is open until start-up returns.
        auto* pTimer = new QTimer(&app);
        QObject::connect(pTimer, &QTimer::timeout, [pTimer] {
            pTimer->setInterval(200);
            if (QWidget* pModal = QApplication::activeModalWidget())
                pModal->close();
            QApplication::closeAllWindows();
        });
        pTimer->start(nCloseAfter);
    }
    return theApp.InitInstance();
}
