// The video pane as a widget, offscreen: the picture's aspect kept in every layout, the waiting
// texts, the click and the double click that switches full screen.
#include "device/deviceinfo.h"
#include "device/devicemanager.h"
#include "media/audio/audiomanager.h"
#include "ui/videopane.h"
#include "ui/videorendererwidget.h"
#include "ui/videotoolbar.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

namespace {

class SilentAudio : public AudioManager {
public:
    bool StartPlay(HWND, int, DWORD, WORD, WORD, BYTE, BYTE) override { return true; }
    void StopPlay() override {}
    bool StartCapture(int, DWORD, WORD, WORD) override { return true; }
    void StopCapture() override {}
};

// Reports the picture size it is given instead of decoding; full screen goes to the video
// window as the renderer's does.
class SizedSession : public CVideoSession {
public:
    SizedSession(IVideoPresenter* pOwner, const QSize* pSize)
        : CVideoSession(pOwner), m_pOwner(pOwner), m_pSize(pSize)
    {
    }
    int AddBuffer(VideoBuffer* pBuffer) override
    {
        const bool bNew = m_size != *m_pSize;
        m_size = *m_pSize;
        pBuffer->nWidth = static_cast<DWORD>(m_size.width());
        pBuffer->nHeight = static_cast<DWORD>(m_size.height());
        return bNew ? ADD_REBUILT : ADD_PUSHED;
    }
    bool SetFullScreen(bool bFullScreen) override
    {
        return m_pOwner != nullptr && m_pOwner->SetVideoFullScreen(bFullScreen);
    }

private:
    IVideoPresenter* m_pOwner;
    const QSize* m_pSize;
    QSize m_size;
};

// Light pixels (text) in the middle third of the video area.
int LightPixels(CDlgVideoPane& pane)
{
    const QImage image = pane.grab(pane.VideoArea()).toImage();
    int nLight = 0;
    for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y)
        for (int x = 0; x < image.width(); ++x)
            nLight += qGray(image.pixel(x, y)) > 128;
    return nLight;
}

} // namespace

TEST(VideoPaneWidget, LayoutWaitingTextsAndFullScreen)
{
    SilentAudio audio;
    QSize picture;
    CVideoPaneLogic::Hooks hooks;
    hooks.fnPlayType = [] { return DWORD(PLAY_TYPE_REALTIME); };
    hooks.fnSendAudio = [](DWORD, const BYTE*, int nLen) { return nLen; };
    hooks.pAudio = &audio;
    hooks.fnMakeSession = [&](IVideoPresenter* pOwner) {
        return std::make_unique<SizedSession>(pOwner, &picture);
    };
    CDlgVideoPane pane(nullptr, hooks, false);
    pane.resize(800, 600);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    EXPECT_EQ(pane.VideoWindow(), nullptr);
    EXPECT_FALSE(pane.Toolbar()->StopButton()->isEnabled());
    // Without figures the toolbar is its row of buttons, no blank status lines under it.
    const int nButtons = pane.Toolbar()->StopButton()->sizeHint().height();
    EXPECT_LE(pane.height() - pane.VideoArea().height(), nButtons + 8);

    DeviceInfo device;
    device.stItem.dwDVIPID = 31;
    std::char_traits<char16_t>::copy(device.stItem.szName, u"Porch", 5);
    // The waiting text until video runs, unless the name is hidden.
    for (const BYTE bNoCaption : {BYTE(0), BYTE(1)}) {
        device.bNoCaption = bNoCaption;
        pane.Logic().ShowDevice(&device);
        ASSERT_NE(pane.VideoWindow(), nullptr);
        const int nLight = LightPixels(pane);
        if (bNoCaption)
            EXPECT_EQ(nLight, 0);
        else
            EXPECT_GT(nLight, 50);
        pane.Logic().StopDevice(&device);
        EXPECT_EQ(pane.VideoWindow(), nullptr);
    }

    device.bNoCaption = 0;
    pane.Logic().ShowDevice(&device);
    const BYTE abFrame[] = {0, 0, 1, 0xB6, 0x10};
    MediaFrame frame;
    frame.pData = abFrame;
    frame.nLen = sizeof(abFrame);
    frame.ulCameraID = 31;
    frame.nCodec = MEDIA_CODEC_MPEG4;
    // The picture as large as fits with its own aspect, centred, for each size and pane size.
    struct Layout {
        QSize pane;
        QSize picture;
    };
    const Layout aLayouts[] = {{{800, 600}, {1280, 720}},  {{800, 600}, {704, 576}},
                               {{800, 600}, {1920, 1080}}, {{400, 800}, {1920, 1080}},
                               {{1000, 500}, {352, 288}},  {{1000, 500}, {40, 1080}}};
    for (const Layout& l : aLayouts) {
        SCOPED_TRACE(QStringLiteral("%1x%2 in %3x%4")
                         .arg(l.picture.width())
                         .arg(l.picture.height())
                         .arg(l.pane.width())
                         .arg(l.pane.height())
                         .toStdString());
        pane.resize(l.pane);
        picture = l.picture;
        ++frame.usSequence;
        EXPECT_EQ(pane.Logic().FeedVideoData(frame), 1);
        const QRect rcArea = pane.VideoArea();
        const QRect rcVideo = pane.VideoWindow()->geometry();
        EXPECT_EQ(rcArea.width(), l.pane.width());
        EXPECT_LT(rcArea.height(), l.pane.height()); // the toolbar is under the picture
        // Touches two opposite sides, and its sides keep the picture's ratio within a pixel.
        EXPECT_TRUE(rcVideo.width() == rcArea.width() || rcVideo.height() == rcArea.height());
        EXPECT_LE(std::abs(rcVideo.width() * l.picture.height() - rcVideo.height() * l.picture.width()),
                  std::max(l.picture.width(), l.picture.height()));
        EXPECT_LE(std::abs(rcVideo.center().x() - rcArea.center().x()), 1);
        EXPECT_LE(std::abs(rcVideo.center().y() - rcArea.center().y()), 1);
    }

    // One click is reported as a click; two within the 30 ms toggle full screen and back, and
    // a key while full screen leaves it too.
    QSignalSpy spy(&pane, &CDlgVideoPane::paneMessage);
    CVideoRendererWidget* pVideo = pane.VideoWindow();
    const QRect rcHome = pVideo->geometry();
    QTest::mouseClick(pVideo, Qt::LeftButton);
    QTest::qWait(80);
    auto count = [&](int nMessage) {
        return std::count_if(spy.begin(), spy.end(),
                             [&](const QList<QVariant>& args) { return args[0].toInt() == nMessage; });
    };
    EXPECT_EQ(count(WM_VIDEO_CLICK), 1);
    spy.clear();
    QTest::mouseClick(pVideo, Qt::LeftButton);
    QTest::mouseClick(pVideo, Qt::LeftButton);
    QTest::qWait(80);
    EXPECT_EQ(count(WM_VIDEO_CLICK), 0);
    EXPECT_TRUE(pane.Logic().IsFullScreen());
    EXPECT_TRUE(pVideo->isFullScreen());
    QTest::keyClick(pVideo, Qt::Key_Space);
    EXPECT_FALSE(pane.Logic().IsFullScreen());
    EXPECT_FALSE(pVideo->isFullScreen());
    EXPECT_EQ(pVideo->parentWidget(), &pane);
    EXPECT_EQ(pVideo->geometry(), rcHome);
    pane.resize(600, 900); // and it is laid out again
    EXPECT_EQ(pVideo->geometry().center().x(), pane.VideoArea().center().x());
    EXPECT_NE(pVideo->geometry(), rcHome);

    // A picture left red, right blue: after each resize, before any new picture comes, the
    // window shows it whole at the new size, not the old one cut off or beside black.
    picture = QSize(1280, 720);
    ++frame.usSequence;
    EXPECT_EQ(pane.Logic().FeedVideoData(frame), 1);
    std::vector<std::uint32_t> vPixels(1280 * 720);
    for (std::size_t i = 0; i < vPixels.size(); ++i)
        vPixels[i] = i % 1280 < 640 ? 0xFF0000u : 0x0000FFu;
    pVideo->PresentFrame(vPixels.data(), 1280, 720);
    for (const QSize& size : {QSize(800, 600), QSize(400, 800), QSize(1200, 900), QSize(800, 600)}) {
        pane.resize(size);
        const QImage shown = pVideo->grab().toImage();
        SCOPED_TRACE(QStringLiteral("shown %1x%2").arg(shown.width()).arg(shown.height()).toStdString());
        EXPECT_EQ(shown.deviceIndependentSize().toSize(), pVideo->size());
        for (const QPoint& pt : {QPoint(2, 2), QPoint(2, shown.height() - 3)})
            EXPECT_EQ(shown.pixel(pt) & 0xFFFFFFu, 0xFF0000u) << pt.x() << "," << pt.y();
        for (const QPoint& pt : {QPoint(shown.width() - 3, 2), QPoint(shown.width() - 3, shown.height() - 3)})
            EXPECT_EQ(shown.pixel(pt) & 0xFFFFFFu, 0x0000FFu) << pt.x() << "," << pt.y();
    }

    // The toolbar follows the camera at once: its controls on as it is shown, its figures gone
    // as it stops (they come once a second).
    Q_EMIT pane.statisticsChanged(QStringLiteral("12.5 fps, 869.6 Kbps | segments 25"));
    EXPECT_FALSE(pane.Toolbar()->StatusLabel()->text().isEmpty());
    EXPECT_GT(pane.height() - pane.VideoArea().height(), nButtons + 8);
    pane.Logic().StopDevice(&device);
    EXPECT_TRUE(pane.Toolbar()->StatusLabel()->text().isEmpty());
    EXPECT_LE(pane.height() - pane.VideoArea().height(), nButtons + 8);
    EXPECT_FALSE(pane.Toolbar()->StopButton()->isEnabled());
    pane.Logic().ShowDevice(&device);
    EXPECT_TRUE(pane.Toolbar()->StopButton()->isEnabled());
    pane.Logic().StopDevice(&device);
}

// Pictures of the window's size, and pictures enlarged to it, go into the two buffers the window
// keeps, with small blocks allocated between them as the threads do, and never into one a paint
// still holds.
TEST(VideoRendererWidget, PicturesReuseTwoBuffersButNeverOneBeingPainted)
{
    for (const QSize sizePicture : {QSize(320, 180), QSize(160, 90)}) {
        SCOPED_TRACE(sizePicture.width());
        CVideoRendererWidget widget(nullptr);
        widget.resize(320, 180);
        widget.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
        std::vector<std::uint32_t> vPixels(
            static_cast<std::size_t>(sizePicture.width() * sizePicture.height()));
        auto present = [&](std::uint32_t dwColour) {
            std::fill(vPixels.begin(), vPixels.end(), dwColour);
            widget.PresentFrame(vPixels.data(), sizePicture.width(), sizePicture.height());
        };
        std::set<const uchar*> buffers;
        std::vector<std::unique_ptr<char[]>> vSmall;
        for (std::uint32_t i = 0; i < 50; ++i) {
            present(0x010101u * i);
            vSmall.push_back(std::make_unique<char[]>(200));
            buffers.insert(widget.CurrentImage().constBits());
        }
        EXPECT_LE(buffers.size(), 2u);

        const QImage painting = widget.CurrentImage();
        ASSERT_EQ(painting.size(), QSize(320, 180));
        const QRgb painted = painting.pixel(5, 5);
        for (std::uint32_t dwColour : {0xFF0000u, 0x00FF00u, 0x0000FFu})
            present(dwColour);
        EXPECT_EQ(painting.pixel(5, 5), painted);
        EXPECT_EQ(widget.CurrentImage().pixel(5, 5) & 0xFFFFFFu, 0x0000FFu);
        EXPECT_EQ(widget.CurrentImage().pixel(319, 179) & 0xFFFFFFu, 0x0000FFu);
    }
}
