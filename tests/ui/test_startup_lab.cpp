// Start-up in the network lab: with one of the program's UDP ports held by another program the
// bind error ends start-up in its guard, which shows the localised text, never opens the main
// window, and still ends in order; otherwise the language is offered before the main window
// exactly when the settings file asks for it.
#include "app/vistrelapp.h"
#include "core/configfile.h"
#include "core/language.h"
#include "core/stringids.h"
#include "platform/module.h"
#include "ui/main/dlglanguage.h"
#include "ui/main/dlgmain.h"
#include "ui/messagedialog.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

// Run once per setting of LANGUAGE/ShowDialogue (STARTUP_SHOW_DIALOGUE says which). When it is
// set, the language dialog comes before the main window; the user's choice there (Chinese, and
// not to be asked again) labels the main window and is stored. When it is not, the main window
// comes first and alone.
TEST(StartupLab, LanguageIsOfferedBeforeTheMainWindowOnlyWhenAsked)
{
    const char* pszShow = std::getenv("STARTUP_SHOW_DIALOGUE");
    if (pszShow == nullptr)
        GTEST_SKIP() << "run by test_startup_lab.sh with STARTUP_SHOW_DIALOGUE";
    const bool bShow = std::string(pszShow) == "1";
    CLanguageManager chinese;
    chinese.LoadLanguage(2052);
    const QString strChinese = QString::fromStdU16String(chinese.GetString(IDS_REALTIME));

    QStringList order;
    QString strTabText;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* pWidget : QApplication::topLevelWidgets()) {
            if (!pWidget->isVisible())
                continue;
            if (auto* pLanguage = qobject_cast<CDlgLanguage*>(pWidget)) {
                order << QStringLiteral("language");
                pLanguage->SetLanguageID(2052);
                pLanguage->SetShowAtStartup(false);
                pLanguage->accept();
            } else if (qobject_cast<CDlgMain*>(pWidget) != nullptr) {
                order << QStringLiteral("main");
                if (auto* pTab = pWidget->findChild<QPushButton*>(QStringLiteral("mainTab0")))
                    strTabText = pTab->text();
                pWidget->close();
            } else if (auto* pMessage = qobject_cast<CMessageDialog*>(pWidget)) {
                order << pMessage->GetText();
                pMessage->accept();
            }
        }
    });
    poll.start(50);
    CVistrelApp app;
    EXPECT_EQ(app.InitInstance(), 0);
    poll.stop();

    CConfigFileManager stored(GetProgramFolder());
    if (bShow) {
        EXPECT_EQ(order, (QStringList{QStringLiteral("language"), QStringLiteral("main")}));
        EXPECT_EQ(strTabText, strChinese);
        EXPECT_EQ(stored.GetLanguageID(), 2052);
        EXPECT_FALSE(stored.IsShowDialogue());
    } else {
        EXPECT_EQ(order, QStringList{QStringLiteral("main")});
        EXPECT_EQ(strTabText, QStringLiteral("Real Time"));
        EXPECT_EQ(stored.GetLanguageID(), 9);
    }
}
