// Start-up in the network lab with one of the program's UDP ports held by another program: the
// bind error ends start-up in its guard, which shows the localised text, never opens the main
// window, and still ends in order.
#include "app/vistrelapp.h"
#include "ui/main/dlgmain.h"
#include "ui/messagedialog.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

TEST(StartupLab, OccupiedPortEndsStartupWithTheLocalisedMessage)
{
    // The viewer engine's multicast reply port, taken on every address.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(8101);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)), 0);

    QStringList shown;
    bool bMainWindowSeen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* pWidget : QApplication::topLevelWidgets()) {
            if (!pWidget->isVisible())
                continue;
            if (auto* pMessage = qobject_cast<CMessageDialog*>(pWidget)) {
                shown << pMessage->GetText();
                pMessage->accept();
            } else if (qobject_cast<CDlgMain*>(pWidget) != nullptr) {
                bMainWindowSeen = true;
                pWidget->close();
            }
        }
    });
    poll.start(50);

    CVistrelApp app;
    EXPECT_EQ(app.InitInstance(), 0);
    poll.stop();
    close(fd);
    EXPECT_EQ(
        shown,
        QStringList{"UDP Port 8101 Occupied by Other Software\r\n\r\n Please Close the Software first!"});
    EXPECT_FALSE(bMainWindowSeen);
}
