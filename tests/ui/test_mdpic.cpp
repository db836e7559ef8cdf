// The region picture through synthesized mouse events on a 200 x 150 control.
#include "ui/mdpic.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using MDRect = CMDPic::MDRect;

struct Picture {
    Picture()
    {
        pic.setFixedSize(200, 150);
        pic.SetBackgroundColor(Qt::black);
    }
    void Drag(QPoint ptFrom, std::initializer_list<QPoint> vecThrough)
    {
        QTest::mousePress(&pic, Qt::LeftButton, {}, ptFrom);
        QPoint ptLast = ptFrom;
        for (const QPoint& pt : vecThrough) {
            QTest::mouseMove(&pic, pt);
            ptLast = pt;
        }
        QTest::mouseRelease(&pic, Qt::LeftButton, {}, ptLast);
    }
    // Pixels that are not the background.
    int Painted()
    {
        const QImage image = pic.grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, y) != QColor(Qt::black);
        return n;
    }
    CMDPic pic;
};

} // namespace

TEST(MDPicTest, DrawnRectangleIsReportedInTruncatedPercentAndComesBack)
{
    Picture p;
    QSignalSpy spy(&p.pic, &CMDPic::RegionChanged);
    p.Drag({150, 120}, {{100, 60}, {50, 30}});
    EXPECT_EQ(p.pic.GetRect(0), (MDRect{50, 30, 150, 120}));
    EXPECT_EQ(p.pic.GetRectPercent(), (MDRect{25, 20, 75, 80}));
    ASSERT_EQ(spy.count(), 2); // button down and button up
    EXPECT_EQ(spy.at(0).at(0).toUInt(), MD_MSG_REGION_CHANGED);

    // Truncation both ways: 33 % of 200 is 66 px, which reads back as 33 %; 199 px is 99 %.
    p.pic.SetRectPercent(1, {33, -5, 100, 99});
    EXPECT_EQ(p.pic.GetRect(1), (MDRect{66, 0, 200, 148}));
    p.pic.SetRgnIndex(1);
    EXPECT_EQ(p.pic.GetRectPercent(), (MDRect{33, 0, 100, 98}));

    // Drawing past the edges is held at the client area.
    p.pic.SetRgnIndex(2);
    p.Drag({20, 20}, {{260, -40}});
    EXPECT_EQ(p.pic.GetRect(2), (MDRect{20, 0, 200, 20}));
}

TEST(MDPicTest, AMovedRectangleStopsAtAnEdgeWhileTheOtherAxisFollows)
{
    Picture p;
    p.pic.SetRectPercent(0, {25, 20, 75, 80}); // 50,30 - 150,120
    // Grab inside, pull 60 px right (only 50 fit) and 10 px down.
    QTest::mousePress(&p.pic, Qt::LeftButton, {}, {100, 60});
    EXPECT_TRUE(p.pic.IsDragging());
    QTest::mouseMove(&p.pic, {140, 70});
    EXPECT_EQ(p.pic.GetRect(0), (MDRect{90, 40, 190, 130}));
    QTest::mouseMove(&p.pic, {160, 80}); // x would leave: only y follows
    EXPECT_EQ(p.pic.GetRect(0), (MDRect{90, 50, 190, 140}));
    QTest::mouseMove(&p.pic, {180, 100}); // both would leave: nothing happens
    EXPECT_EQ(p.pic.GetRect(0), (MDRect{90, 50, 190, 140}));
    QTest::mouseRelease(&p.pic, Qt::LeftButton, {}, {180, 100});
    EXPECT_FALSE(p.pic.IsDragging());
    EXPECT_EQ(p.pic.GetRect(0), (MDRect{90, 50, 190, 140}));
}

TEST(MDPicTest, ZeroWidthRectangleIsNotPaintedLinesAreClampedAndEditingCanBeOff)
{
    Picture p;
    EXPECT_EQ(p.Painted(), 0);
    p.pic.SetRectPercent(0, {40, 10, 40, 90});
    EXPECT_EQ(p.Painted(), 0);
    p.pic.SetRectPercent(0, {40, 10, 60, 90});
    EXPECT_GT(p.Painted(), 0);
    p.pic.ClearSlot(0);
    EXPECT_EQ(p.Painted(), 0);

    p.pic.SetDrawType(1, false);
    p.pic.SetRgnIndex(1);
    p.Drag({10, 10}, {{400, 75}});
    EXPECT_EQ(p.pic.GetLineFrom(1), QPoint(10, 10));
    EXPECT_EQ(p.pic.GetLineTo(1), QPoint(199, 75));
    QPoint ptFrom;
    QPoint ptTo;
    p.pic.GetLinePercent(ptFrom, ptTo);
    EXPECT_EQ(ptFrom, QPoint(5, 6));
    EXPECT_EQ(ptTo, QPoint(99, 50));

    p.pic.SetDrawEnabled(false);
    p.pic.SetRgnIndex(0);
    QSignalSpy spy(&p.pic, &CMDPic::RegionChanged);
    p.Drag({10, 10}, {{100, 100}});
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(p.pic.GetRect(0), MDRect());
}
