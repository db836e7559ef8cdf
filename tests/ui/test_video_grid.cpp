// The live view's wall of panes, offscreen, against a device manager of the test's own: which
// pane a camera goes to, what the focus selects, what hidden and emptied panes do to their
// cameras' streams, that frames reach their own camera's pane only, and the wall kept in
// Vistrel.ini for the next run.
#include "core/configfile.h"
#include "core/language.h"
#include "core/notifyids.h"
#include "media/audio/audiomanager.h"
#include "media/video/yuvpicture.h"
#include "ui/videogrid.h"
#include "ui/videopane.h"
#include "ui_test_support.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <functional>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

namespace {

class CountingAudio : public AudioManager {
public:
    bool StartPlay(HWND, int, DWORD, WORD, WORD, BYTE, BYTE) override { return true; }
    void StopPlay() override { ++m_nStops; }
    bool StartCapture(int, DWORD, WORD, WORD) override { return true; }
    void StopCapture() override {}
    int m_nStops = 0;
};

// The camera marker (first byte) of every frame a pane's session was given.
class RecordingSession : public CVideoSession {
public:
    explicit RecordingSession(std::vector<int>* pSeen) : CVideoSession(nullptr), m_pSeen(pSeen) {}
    int AddBuffer(VideoBuffer* pBuffer) override
    {
        m_pSeen->push_back(pBuffer->pData[0]);
        return ADD_PUSHED;
    }

private:
    std::vector<int>* m_pSeen;
};

// Each unwatch with whether it stopped the camera at once.
class WatchingManager : public uitest::CFakeManager {
public:
    void UnwatchDevice(DWORD dwID, bool bStopNow) override
    {
        m_vUnwatched.emplace_back(dwID, bStopNow);
        CFakeManager::UnwatchDevice(dwID, bStopNow);
    }
    std::vector<std::pair<DWORD, bool>> m_vUnwatched;
};

struct Wall {
    explicit Wall(WatchingManager* pManager, CNotifyManager* pBus, CConfigFileManager* pConfig,
                  CountingAudio* pAudio)
    {
        CDlgVideoGrid::Deps deps;
        deps.pManager = pManager;
        deps.pNotify = pBus;
        deps.pConfig = pConfig;
        deps.pAudio = pAudio;
        deps.bAttachEngine = false;
        deps.fnMakeSession = [this](IVideoPresenter*) {
            m_vSeen.emplace_back();
            return std::make_unique<RecordingSession>(&m_vSeen.back());
        };
        deps.fnPassword = [this](DeviceInfo& device) {
            ++m_mapAsked[device.GetID()];
            return true;
        };
        m_vSeen.reserve(256); // the sessions keep pointers into it
        m_pGrid = std::make_unique<CDlgVideoGrid>(nullptr, deps);
        m_pGrid->resize(800, 600);
        m_pGrid->show();
    }
    CDlgVideoGrid& operator*() { return *m_pGrid; }
    CDlgVideoGrid* operator->() { return m_pGrid.get(); }
    // The camera shown in a pane, 0 for none.
    DWORD Shown(int nIndex)
    {
        CDlgVideoPane* pPane = m_pGrid->Pane(nIndex);
        return pPane != nullptr && pPane->Logic().Device() != nullptr ? pPane->Logic().Device()->GetID() : 0;
    }

    std::vector<std::vector<int>> m_vSeen;
    std::map<DWORD, int> m_mapAsked;
    std::unique_ptr<CDlgVideoGrid> m_pGrid;
};

// Opens a pane's context menu and hands it to fnUse while it is up; the menu closes after.
// False when no menu came up.
bool WithContextMenu(QWidget* pPane, const std::function<void(QMenu&)>& fnUse)
{
    bool bShown = false;
    QTimer::singleShot(0, pPane, [&] {
        if (auto* pMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            bShown = true;
            fnUse(*pMenu);
            pMenu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), pPane->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(pPane, &event);
    return bShown;
}

// The names in a menu, each with whether it is checked and enabled.
std::vector<std::tuple<QString, bool, bool>> Items(const QMenu& menu)
{
    std::vector<std::tuple<QString, bool, bool>> v;
    for (const QAction* pAction : menu.actions())
        v.emplace_back(pAction->text(), pAction->isChecked(), pAction->isEnabled());
    return v;
}

MediaFrame Frame(DWORD dwID, WORD usSequence, const BYTE* pMarker)
{
    MediaFrame frame;
    frame.pData = pMarker;
    frame.nLen = 1;
    frame.ulCameraID = dwID;
    frame.usSequence = usSequence;
    frame.nCodec = MEDIA_CODEC_MPEG4;
    return frame;
}

} // namespace

TEST(VideoGrid, PanesWatchRouteFocusAndComeBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        QFile ini(dir.filePath(QStringLiteral("Vistrel.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    }
    CConfigFileManager config(dir.path().toStdString() + "/");
    CNotifyManager bus;
    CountingAudio audio;
    WatchingManager manager;
    const char16_t* const apszNames[] = {u"One", u"Two",   u"Three", u"Four", u"Five",
                                         u"Six", u"Seven", u"Eight", u"Nine"};
    for (DWORD i = 0; i < 9; ++i)
        manager.Add(101 + i, CAMERA_TYPE_SINGLE, apszNames[i]);

    {
        Wall wall(&manager, &bus, &config, &audio);
        EXPECT_EQ(wall->GetLayout(), 1); // the default: one pane, as before
        GetLanguageManager()->LoadLanguage(9);
        wall->Retranslate();
        // Each layout button says what it does to a screen reader and in its tip, with its
        // Ctrl+digit shortcut, and sets its layout.
        const int anLayouts[] = {1, 4, 9, 16};
        QSet<QString> setNames;
        for (int i = 0; i < 4; ++i) {
            auto* pButton = wall->findChild<QToolButton*>(QStringLiteral("videoLayout%1").arg(anLayouts[i]));
            ASSERT_NE(pButton, nullptr) << anLayouts[i];
            const QString strName = pButton->accessibleName();
            EXPECT_TRUE(strName.contains(QString::number(anLayouts[i]))) << strName.toStdString();
            setNames.insert(strName);
            EXPECT_EQ(pButton->shortcut(), QKeySequence(Qt::CTRL | CDlgVideoGrid::LAYOUT_KEYS[i]));
            EXPECT_TRUE(pButton->toolTip().startsWith(strName) &&
                        pButton->toolTip().contains(pButton->shortcut().toString(QKeySequence::NativeText)))
                << pButton->toolTip().toStdString();
        }
        EXPECT_EQ(setNames.size(), 4);
        // Opened one after another into a 2x2 wall: each into the next free pane, watched, and
        // the last one opened is the focused one and the selection.
        wall->findChild<QToolButton*>(QStringLiteral("videoLayout4"))->click();
        ASSERT_EQ(wall->GetLayout(), 4);
        for (DWORD dwID = 101; dwID <= 104; ++dwID)
            ASSERT_TRUE(wall->OpenCamera(manager.GetDevice(dwID, CAMERA_MASK_ALL)));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(wall.Shown(i), DWORD(101 + i)) << i;
            EXPECT_TRUE(manager.IsWatched(101 + i)) << i;
        }
        EXPECT_EQ(wall->FocusedIndex(), 3);
        EXPECT_EQ(manager.GetSelectDevice(), manager.GetDevice(104, CAMERA_MASK_ALL));
        // Opening a camera already shown focuses its pane instead of showing it twice.
        ASSERT_TRUE(wall->OpenCamera(manager.GetDevice(102, CAMERA_MASK_ALL)));
        EXPECT_EQ(wall->FocusedIndex(), 1);
        EXPECT_EQ(manager.GetSelectDevice(), manager.GetDevice(102, CAMERA_MASK_ALL));

        // Each camera's frames reach its own pane and no other; a camera no pane shows is dropped.
        const BYTE abMarker[] = {1, 2, 3, 4, 5};
        for (WORD usSequence = 1; usSequence <= 3; ++usSequence) {
            for (DWORD i = 0; i < 5; ++i)
                EXPECT_EQ(wall->Router().Route(Frame(101 + i, usSequence, &abMarker[i])), i < 4) << i;
        }
        ASSERT_EQ(wall.m_vSeen.size(), 4u);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(wall.m_vSeen[static_cast<std::size_t>(i)], std::vector<int>(3, i + 1)) << i;
        // A pane's tip names its camera and carries its own figures, not the focused pane's.
        Q_EMIT wall->Pane(0)->statisticsChanged(QStringLiteral("25 fps"));
        EXPECT_EQ(wall->Pane(0)->toolTip(), QStringLiteral("One\n25 fps"));
        EXPECT_EQ(wall->Pane(2)->toolTip(), QStringLiteral("Three"));

        // The PC's speaker follows the focus: the pane losing it gives its camera's sound up.
        DeviceInfo* pTwo = manager.GetDevice(102, CAMERA_MASK_ALL);
        pTwo->bListenFromCam = 1;
        const int nStops = audio.m_nStops;
        QTest::mouseClick(wall->Pane(2), Qt::LeftButton);
        EXPECT_EQ(wall->FocusedIndex(), 2);
        EXPECT_EQ(manager.GetSelectDevice(), manager.GetDevice(103, CAMERA_MASK_ALL));
        EXPECT_EQ(pTwo->bListenFromCam, 0);
        EXPECT_GT(audio.m_nStops, nStops);
        EXPECT_TRUE(wall->Pane(2)->Logic().IsAudioOwner());
        EXPECT_FALSE(wall->Pane(1)->Logic().IsAudioOwner());

        // Five more in a 3x3 wall, then back to 2x2: the hidden panes keep their cameras and let
        // them lapse (no stop); back to 3x3 they are watched again with the same sessions,
        // nothing restarted.
        wall->SetLayout(9);
        for (DWORD dwID = 105; dwID <= 109; ++dwID)
            ASSERT_TRUE(wall->OpenCamera(manager.GetDevice(dwID, CAMERA_MASK_ALL)));
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(wall.Shown(i), DWORD(101 + i)) << i;
        const CVideoSession* pSixth = wall->Pane(5)->Logic().Session();
        const std::size_t nSessions = wall.m_vSeen.size();
        wall->FocusPane(2);
        manager.m_vUnwatched.clear();
        wall->SetLayout(4);
        std::vector<std::pair<DWORD, bool>> vLapsed;
        for (DWORD dwID = 105; dwID <= 109; ++dwID)
            vLapsed.emplace_back(dwID, false);
        EXPECT_EQ(manager.m_vUnwatched, vLapsed);
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(wall.Shown(i), DWORD(101 + i)) << i;
            EXPECT_EQ(wall->IsPaneShown(i), i < 4) << i;
            EXPECT_EQ(manager.IsWatched(101 + i), i < 4) << i;
        }
        wall->SetLayout(9);
        for (int i = 0; i < 9; ++i)
            EXPECT_TRUE(manager.IsWatched(101 + i)) << i;
        EXPECT_EQ(wall->Pane(5)->Logic().Session(), pSixth);
        EXPECT_EQ(wall.m_vSeen.size(), nSessions);

        // A double click shows a pane alone over the wall (the others lapse) and back; F11
        // shows the wall full screen in its layout.
        QTest::mouseDClick(wall->Pane(7), Qt::LeftButton);
        EXPECT_EQ(wall->AloneIndex(), 7);
        EXPECT_EQ(wall->FocusedIndex(), 7);
        EXPECT_TRUE(wall->IsPaneShown(7));
        EXPECT_FALSE(wall->IsPaneShown(0));
        EXPECT_FALSE(manager.IsWatched(101));
        QTest::mouseDClick(wall->Pane(7), Qt::LeftButton);
        EXPECT_EQ(wall->AloneIndex(), -1);
        EXPECT_TRUE(manager.IsWatched(101));
        wall->ToggleFullScreen();
        EXPECT_TRUE(wall->IsWallFullScreen());
        for (int i = 0; i < 9; ++i)
            EXPECT_TRUE(wall->Pane(i)->isVisible() && manager.IsWatched(101 + i)) << i;
        wall->ToggleFullScreen();
        EXPECT_FALSE(wall->IsWallFullScreen());
        EXPECT_EQ(wall->GetLayout(), 9);
        wall->FocusPane(2);

        // A minimised window shows nothing: every stream lapses, and comes back with the window.
        manager.m_vUnwatched.clear();
        wall->showMinimized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return manager.m_vUnwatched.size() == 9; }, 2000));
        for (const auto& [dwID, bStopNow] : manager.m_vUnwatched)
            EXPECT_FALSE(bStopNow) << dwID;
        wall->showNormal();
        EXPECT_TRUE(QTest::qWaitFor([&] { return manager.IsWatched(101) && manager.IsWatched(109); }, 2000));

        // Emptied by the user, a pane stops its camera at once; a camera gone away stops its
        // pane, which takes it again when it is back.
        manager.m_vUnwatched.clear();
        wall->ClearPane(0);
        EXPECT_EQ(manager.m_vUnwatched, (std::vector<std::pair<DWORD, bool>>{{101, true}}));
        EXPECT_EQ(wall.Shown(0), 0u);
        EXPECT_EQ(wall->AssignedSerial(0), "");
        // A camera dragged from the list onto a pane shows there; one shown elsewhere moves, and
        // streams on.
        {
            QMimeData mime;
            mime.setData(QLatin1String(CAMERA_MIME), QByteArray("109"));
            QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(wall->Pane(0), &enter);
            EXPECT_TRUE(enter.isAccepted());
            QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            manager.m_vUnwatched.clear();
            QCoreApplication::sendEvent(wall->Pane(0), &drop);
            EXPECT_EQ(wall.Shown(0), 109u);
            EXPECT_EQ(wall.Shown(8), 0u);
            EXPECT_EQ(wall->AssignedSerial(8), "");
            EXPECT_TRUE(manager.IsWatched(109));
            EXPECT_TRUE(manager.m_vUnwatched.empty());
            EXPECT_EQ(manager.GetSelectDevice(), manager.GetDevice(109, CAMERA_MASK_ALL));
        }
        DeviceInfo* pSeven = manager.GetDevice(107, CAMERA_MASK_ALL);
        wall->StopCamera(pSeven, QStringLiteral("Seven\nCamera Offline!"), false);
        EXPECT_EQ(wall.Shown(6), 0u);
        EXPECT_EQ(wall->Pane(6)->Notice(), QStringLiteral("Seven\nCamera Offline!"));
        EXPECT_EQ(wall.Shown(5), 106u); // the others go on
        bus.Notify(DWORD_NOTIFYID_CAMERA_EXIST_ONLINE, reinterpret_cast<UINT_PTR>(pSeven));
        EXPECT_EQ(wall.Shown(6), 107u);
        EXPECT_TRUE(wall->Pane(6)->Notice().isEmpty());
        wall->FocusPane(4);
    }

    // The next run: the 3x3 wall and its cameras by serial, each shown once it is present.
    WatchingManager later;
    for (DWORD i = 0; i < 9; ++i)
        later.Add(101 + i, CAMERA_TYPE_SINGLE, apszNames[i], false);
    Wall wall(&later, &bus, &config, &audio);
    EXPECT_EQ(wall->GetLayout(), 9);
    EXPECT_EQ(wall->FocusedIndex(), 4);
    EXPECT_EQ(wall->AssignedSerial(0), "SER109");
    EXPECT_EQ(wall->AssignedSerial(8), "");
    EXPECT_EQ(wall.Shown(0), 0u);
    for (DWORD dwID : {109u, 105u}) {
        DeviceInfo* pDevice = later.GetDevice(dwID, CAMERA_MASK_ALL);
        pDevice->bIsExist = 1;
        bus.Notify(DWORD_NOTIFYID_CAMERA_EXIST_ONLINE, reinterpret_cast<UINT_PTR>(pDevice));
        bus.Notify(DWORD_NOTIFYID_CAMERA_EXIST_ONLINE, reinterpret_cast<UINT_PTR>(pDevice));
    }
    EXPECT_EQ(wall.Shown(0), 109u);
    EXPECT_EQ(wall.Shown(4), 105u);
    EXPECT_EQ(wall.Shown(8), 0u);
    EXPECT_TRUE(later.IsWatched(109));
    // The focused pane's camera is the selection again; each camera was asked for once.
    EXPECT_EQ(later.GetSelectDevice(), later.GetDevice(105, CAMERA_MASK_ALL));
    EXPECT_EQ(wall.m_mapAsked, (std::map<DWORD, int>{{105, 1}, {109, 1}}));
}

// A pane's context menu lists the cameras present, the pane's own checked; a camera picked there
// shows in that pane (moved from another pane, without a restart); its Stop empties the pane and
// stops the camera at once, and is offered only where there is something to stop.
TEST(VideoGrid, ContextMenuPutsACameraInAPaneAndEmptiesIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CConfigFileManager config(dir.path().toStdString() + "/");
    CNotifyManager bus;
    CountingAudio audio;
    WatchingManager manager;
    manager.Add(201, CAMERA_TYPE_SINGLE, u"Gate");
    manager.Add(202, CAMERA_TYPE_SINGLE, u"Yard");
    manager.Add(203, CAMERA_TYPE_SINGLE, u"Dock", false); // not present: not offered
    Wall wall(&manager, &bus, &config, &audio);
    wall->SetLayout(4);
    ASSERT_TRUE(wall->OpenCamera(manager.GetDevice(201, CAMERA_MASK_ALL)));
    ASSERT_EQ(wall.Shown(0), 201u);
    using Menu = std::vector<std::tuple<QString, bool, bool>>;
    struct Step {
        int nPane;
        Menu cameras; // the cameras' submenu as it comes up
        bool bStopOffered;
        const char* pszPick;       // a camera's name, or null for Stop
        std::vector<DWORD> vShown; // panes 0 to 3 after the pick
        std::vector<std::pair<DWORD, bool>> vUnwatched;
    };
    const Step aSteps[] = {
        {2, {{"Gate", false, true}, {"Yard", false, true}}, false, "Yard", {201, 0, 202, 0}, {}},
        {2, {{"Gate", false, true}, {"Yard", true, true}}, true, nullptr, {201, 0, 0, 0}, {{202, true}}},
        {3, {{"Gate", false, true}, {"Yard", false, true}}, false, "Gate", {0, 0, 0, 201}, {}},
    };
    for (const Step& step : aSteps) {
        SCOPED_TRACE(step.pszPick != nullptr ? step.pszPick : "Stop");
        manager.m_vUnwatched.clear();
        ASSERT_TRUE(WithContextMenu(wall->Pane(step.nPane), [&](QMenu& menu) {
            ASSERT_EQ(menu.actions().size(), 2);
            QMenu* pCameras = menu.actions()[0]->menu();
            ASSERT_NE(pCameras, nullptr);
            EXPECT_EQ(Items(*pCameras), step.cameras);
            QAction* pStop = menu.actions()[1];
            EXPECT_EQ(pStop->isEnabled(), step.bStopOffered);
            if (step.pszPick == nullptr) {
                pStop->trigger();
                return;
            }
            for (QAction* pAction : pCameras->actions())
                if (pAction->text() == QLatin1String(step.pszPick))
                    pAction->trigger();
        }));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(wall.Shown(i), step.vShown[static_cast<std::size_t>(i)]) << i;
        EXPECT_EQ(manager.m_vUnwatched, step.vUnwatched);
        EXPECT_EQ(wall->FocusedIndex(), step.nPane);
        EXPECT_EQ(wall->AssignedSerial(step.nPane), step.pszPick == nullptr         ? ""
                                                    : wall.Shown(step.nPane) == 201 ? "SER201"
                                                                                    : "SER202");
    }
    EXPECT_TRUE(manager.IsWatched(201));
    EXPECT_FALSE(manager.IsWatched(202));
}

// A pane's picture is made at the pane's size straight from the decoder's YUV, as libswscale
// makes it (area averaging, BT.601): fine detail averages out instead of flickering, the
// colours are the picture's, and at full size every pixel is converted.
TEST(PanePicture, MadeAtThePaneSizeAsLibswscaleMakesIt)
{
    const int nWidth = 640, nHeight = 360;
    std::vector<BYTE> vY(static_cast<std::size_t>(nWidth) * nHeight), vU(vY.size() / 4), vV(vY.size() / 4);
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x) {
            // Left: a one-pixel checkerboard; right: a ramp with bars.
            const bool bFine = x < nWidth / 3;
            vY[static_cast<std::size_t>(y) * nWidth + x] =
                static_cast<BYTE>(bFine ? ((x + y) % 2 != 0 ? 220 : 30) : 16 + (x * 3 + (y / 40) * 25) % 220);
        }
    for (int y = 0; y < nHeight / 2; ++y)
        for (int x = 0; x < nWidth / 2; ++x) {
            vU[static_cast<std::size_t>(y) * nWidth / 2 + x] = static_cast<BYTE>(60 + x * 136 / (nWidth / 2));
            vV[static_cast<std::size_t>(y) * nWidth / 2 + x] =
                static_cast<BYTE>(200 - y * 136 / (nHeight / 2));
        }
    YuvPlanes planes;
    planes.pY = vY.data();
    planes.pU = vU.data();
    planes.pV = vV.data();
    planes.nLumaStride = nWidth;
    planes.nChromaStride = nWidth / 2;
    planes.nWidth = nWidth;
    planes.nHeight = nHeight;
    YuvScratch scratch;
    for (const QSize size : {QSize(160, 90), QSize(213, 120), QSize(427, 240), QSize(640, 360)}) {
        SCOPED_TRACE(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toStdString());
        std::vector<std::uint32_t> vOurs(static_cast<std::size_t>(size.width()) * size.height());
        ConvertYuv420(planes, size.width(), size.height(), vOurs.data(), scratch);
        std::vector<std::uint32_t> vTheirs(vOurs.size());
        SwsContext* pSws = sws_getContext(nWidth, nHeight, AV_PIX_FMT_YUV420P, size.width(), size.height(),
                                          AV_PIX_FMT_BGRA, SWS_AREA, nullptr, nullptr, nullptr);
        ASSERT_NE(pSws, nullptr);
        const uint8_t* apSrc[3] = {vY.data(), vU.data(), vV.data()};
        const int anSrcStride[3] = {nWidth, nWidth / 2, nWidth / 2};
        uint8_t* apDst[1] = {reinterpret_cast<uint8_t*>(vTheirs.data())};
        const int anDstStride[1] = {size.width() * 4};
        sws_scale(pSws, apSrc, anSrcStride, 0, nHeight, apDst, anDstStride);
        sws_freeContext(pSws);
        // Mean difference per channel, over the ramp and over the checkerboard.
        double dAll = 0, dFine = 0;
        long nAll = 0, nFine = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * size.width() + x;
                double d = 0;
                for (int nShift : {0, 8, 16})
                    d += std::abs(int(vOurs[i] >> nShift & 0xFF) - int(vTheirs[i] >> nShift & 0xFF));
                if (x < size.width() / 3 - 1) {
                    dFine += d / 3;
                    ++nFine;
                } else if (x > size.width() / 3 + 1) {
                    dAll += d / 3;
                    ++nAll;
                }
            }
        EXPECT_LT(dAll / double(nAll), 4.0);
        // Shrunk by half or more, detail finer than a pixel is its mean, as libswscale's (whole
        // source pixels per box where libswscale weighs their parts: some levels apart; picked
        // pixels would be a hundred apart). Less than that, libswscale keeps some of the
        // pattern, which is no measure.
        if (size.width() * 2 <= nWidth) {
            EXPECT_LT(dFine / double(nFine), 8.0);
        }
    }
}
