// Every page in the three languages saved as PNG for a person to look at (run under Xvfb
// for the real look; the offscreen platform gives the same layout). Each picture must show
// the whole page: a page that needs more room than its pane gives is a layout fault.
#include "ui_test_support.h"

#include "core/language.h"
#include "ui/pages/configpage.h"
#include "ui/pages/dlgalarmemail.h"
#include "ui/pages/dlgapplyto.h"
#include "ui/pages/dlgcamconfigpane.h"
#include "ui/pages/dlgcamsetpane.h"
#include "ui/pages/dlgptz.h"
#include "ui/pages/dlgrecord.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QStackedWidget>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <cstring>

using namespace uitest;

TEST(ScreenshotTest, EveryPageInEveryLanguageFitsItsPane)
{
    const QString strDir = QStringLiteral(VISTREL_SCREENSHOT_DIR);
    QDir().mkpath(strDir);
    for (const auto& [nLanguage, pszTag] : {std::pair{9, "en"}, {2052, "zh_CN"}, {1028, "zh_TW"}}) {
        GetLanguageManager()->LoadLanguage(nLanguage);
        CFakeManager manager;
        CRecordingCommands commands;
        commands.m_rtsp = {0, 1, 30, 4, 2048, 15, 2, 512}; // what the RTSP page is answered
        CNotifyManager bus;
        DeviceInfo& camera = manager.Add(100, CAMERA_TYPE_SINGLE, u"Front door");
        manager.Add(101, CAMERA_TYPE_SINGLE, u"Garden");
        DeviceQueryBlock& q = camera.stQuery;
        q.bCmdGetTimeFormat = q.bCmdGetCameraPort = q.bCmdGetNetParam = q.bCmdGetMotion = q.bCmdGetDoInfo =
            q.bCmdGetSnapshotServer = 1;
        q.bCmdGetNTP = q.bCmdGetMailInfo = q.bCmdGetAlarmTime = q.bCmdGetRecordSD = q.bCmdGetRecordNas =
            q.bCmdGetPreset = q.bCmdAutoScanSchedule = 1;
        camera.stMotion.region[0] = {10, 10, 60, 70, 89, 1};
        camera.stRecordSD.dwSessionMode = camera.stRecordNas.dwSessionMode = MakeSessionMode(1000, 30, 8);
        // Working hours on weekdays, all of Sunday; a mail server and subject to show.
        for (int h = 0; h < 24; ++h)
            camera.stRecordSD.abSchedule[h] = static_cast<BYTE>((h >= 8 && h < 18 ? 0x1F : 0) | 0x40);
        camera.stRecordSD.byOne = 1;
        camera.stSDInfo = {7600, 1200, 6400, 0};
        q.bCmdGetSDInfo = 1;
        std::strcpy(camera.stMail.szServer, "smtp.example.lab");
        std::strcpy(camera.stMail.szSender, "frontdoor@example.lab");
        std::strcpy(camera.stMail.szText1, "<NETCAMNAME>: <MOTIONDESC> at <TIME>");
        camera.stVideoReport.adwWord[0] = MakeSessionMode(1000, 25, 7);
        camera.stSensorCap.dwCameraUIType = 2; // 9P031
        camera.bT9QXSharpness = 40;
        camera.bT9QXTargetY = 128;
        q.bCmdGetVideoReport = q.bCmdGetSensor = q.bCmdGetT9QX = 1;
        // A camera on Wi-Fi: the status tab shows its network, speed and quality.
        // With a survey of two networks behind it, and a 3G link.
        alignas(WifiRecord) static BYTE
            abWifi[sizeof(WifiRecord) + WIFI_SURVEY_LIST_HEAD + 2 * sizeof(WifiSurveyEntry)];
        auto& wifi = *new (abWifi) WifiRecord{};
        std::memcpy(wifi.stBlock.Ssid, "labnet-5G", 9);
        wifi.stBlock.SsidLength = 9;
        wifi.abySettings[0] = wifi.byStatus = 1;
        wifi.dwSurveyLen = sizeof(abWifi) - sizeof(WifiRecord) + WIFI_SURVEY_HEADER_LEN;
        wifi.SurveyList()[0] = 2;
        auto* pEntries = reinterpret_cast<WifiSurveyEntry*>(wifi.SurveyList() + WIFI_SURVEY_LIST_HEAD);
        pEntries[0] = {{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, 36, 9, "labnet-5G", 6, 4, 5, 1, {0, 0, 0, 72}};
        pEntries[1] = {{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5f}, 11, 0, "", 0, 0, 2, 0, {0, 0, 0, 35}};
        ThreeGRecord threeG{};
        std::strcpy(threeG.szAPN, "3gnet");
        std::strcpy(threeG.szTelNum, "*99#");
        threeG.bUseDefaultDial = 1;
        camera.pThreeGRecord = &threeG;
        camera.st3GStatus.unDial = 1;
        camera.st3GStatus.unSignal = 4;
        camera.st3GStatus.unSimState = 1;
        camera.st3GStatus.unNetwork = 2;
        q.bHas3G = q.bCmdGet3GQuery = q.bCmdGet3GStatus = 1;
        camera.stPort = {0, 5000, 5001, 5002};
        q.bCmdGetUpnpStatus = 1;
        camera.stUpnp.abValue[0] = 1;
        wifi.abySurveyHeader[2] = 0x05; // 130.0 Mbit/s
        wifi.abySurveyHeader[3] = 0x14;
        wifi.abySurveyHeader[4] = 65;
        camera.pWifiRecord = &wifi;
        q.bHasWifi = q.bCmdGetWirelessParam = 1;
        // The time from the D-server: the server list's last entry shows.
        std::strcpy(camera.stNtp.szNtpServer, "0");
        camera.stNtp.byFinal = 1;
        // Two presets, and a tour group that visits both.
        PresetInfo presets{};
        presets.mapPresets = {{1, "Gate"}, {2, "Driveway"}};
        camera.pPresetInfo = &presets;
        camera.stAutoScanSchedule.aEntry[0] = {0, 2, {2, 1}};
        camera.stAutoScanSchedule.byPeriodCount = 1;
        camera.stAutoScanSchedule.aPeriod[0] = {0, 8 * 60, 18 * 60};
        manager.m_pSelected = &camera;
        CDlgCamConfigPane paneConfig({&manager, &commands, &bus, nullptr});
        CDlgCamSetPane paneSet({&manager, &commands, &bus, nullptr});
        if (auto* pTour = paneSet.FindPage<CDlgPTZScanSchedule>())
            pTour->findChild<QComboBox*>(QStringLiteral("group"))->setCurrentIndex(0);
        std::vector<std::pair<QWidget*, CConfigPage*>> vecPages;
        for (CConfigPage* pPage : paneConfig.GetPages())
            vecPages.emplace_back(&paneConfig, pPage);
        for (CConfigPage* pPage : paneSet.GetPages())
            vecPages.emplace_back(&paneSet, pPage);
        for (QWidget* pPane : {static_cast<QWidget*>(&paneConfig), static_cast<QWidget*>(&paneSet)}) {
            pPane->resize(pPane->sizeHint());
            pPane->show();
        }
        // Show the page's tab (and its sub-tab).
        const auto ShowPage = [](QWidget* pPage) {
            for (QWidget* pWidget = pPage; pWidget != nullptr; pWidget = pWidget->parentWidget()) {
                // The sensor pages share one tab: show the one in turn.
                if (auto* pStack = qobject_cast<QStackedWidget*>(pWidget->parentWidget()))
                    pStack->setCurrentWidget(pWidget);
                if (auto* pTabs = qobject_cast<QTabWidget*>(
                        pWidget->parentWidget() ? pWidget->parentWidget()->parentWidget() : nullptr))
                    pTabs->setCurrentWidget(pWidget);
            }
            QCoreApplication::processEvents();
        };
        int nShot = 0;
        for (const auto& [pPaneWidget, pPage] : vecPages) {
            QWidget& pane = *pPaneWidget;
            ShowPage(pPage);
            SCOPED_TRACE(std::string(pszTag) + " " + pPage->metaObject()->className());
            EXPECT_GE(pPage->width(), pPage->minimumSizeHint().width());
            EXPECT_GE(pPage->height(), pPage->minimumSizeHint().height());
            const QString strFile = QStringLiteral("%1/%2_%3_%4.png")
                                        .arg(strDir, QString::fromLatin1(pszTag))
                                        .arg(++nShot, 2, 10, QLatin1Char('0'))
                                        .arg(QString::fromLatin1(pPage->metaObject()->className()));
            EXPECT_TRUE(pane.grab().save(strFile));
        }
        // The SD page's daily and monthly timetables (the weekly one is shot above).
        if (auto* pSD = paneConfig.FindPage<CDlgConfigSDRecord>()) {
            ShowPage(pSD);
            for (const char* pszKind : {"daily", "monthly"}) {
                SCOPED_TRACE(std::string(pszTag) + " SD " + pszKind);
                pSD->findChild<QAbstractButton*>(QString::fromLatin1(pszKind))->click();
                QCoreApplication::processEvents();
                EXPECT_GE(pSD->width(), pSD->minimumSizeHint().width());
                EXPECT_GE(pSD->height(), pSD->minimumSizeHint().height());
                EXPECT_TRUE(paneConfig.grab().save(
                    QStringLiteral("%1/%2_sd_%3.png")
                        .arg(strDir, QString::fromLatin1(pszTag), QString::fromLatin1(pszKind))));
            }
        }
        // The mail page's two dialogs.
        for (CConfigPage* pPage : paneConfig.GetPages()) {
            if (auto* pMail = qobject_cast<CDlgAlarmEmail*>(pPage)) {
                for (QDialog* pDialog : {static_cast<QDialog*>(pMail->OnBtnSetServer()),
                                         static_cast<QDialog*>(pMail->OnBtnEditEmail())}) {
                    QCoreApplication::processEvents();
                    EXPECT_TRUE(pDialog->grab().save(
                        QStringLiteral("%1/%2_%3.png")
                            .arg(strDir, QString::fromLatin1(pszTag),
                                 QString::fromLatin1(pDialog->metaObject()->className()))));
                    pDialog->reject();
                }
            }
        }
        CDlgApplyTo dialog(&manager, camera.GetID());
        dialog.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(
            dialog.grab().save(QStringLiteral("%1/%2_applyto.png").arg(strDir, QString::fromLatin1(pszTag))));
    }
    GetLanguageManager()->LoadLanguage(9);
}
