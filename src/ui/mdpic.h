// The motion-detection picture: the camera's still picture (or a plain colour) on which the
// user draws, per area slot, a rectangle (motion area) or a line (alert line). Coordinates are
// exchanged with the page as percentages of the control's size, truncated both ways.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

// Sent to the page after every completed mouse action; the page reads the values back.
constexpr unsigned MD_MSG_REGION_CHANGED = 0x8016;

class CMDPic : public QWidget {
    Q_OBJECT
public:
    static constexpr int SLOT_COUNT = 3;
    static constexpr int NO_SLOT = -1;

    // Edges as the camera's record has them: right and bottom lie just past the area.
    struct MDRect {
        int nLeft = 0;
        int nTop = 0;
        int nRight = 0;
        int nBottom = 0;
        int Width() const { return nRight - nLeft; }
        int Height() const { return nBottom - nTop; }
        bool operator==(const MDRect&) const = default;
    };

    explicit CMDPic(QWidget* pParent = nullptr);

    void SetBackground(const QImage& image);
    void SetBackgroundColor(const QColor& color);
    void SetDrawEnabled(bool bSetDraw) { m_bSetDraw = bSetDraw; }
    // 1 = rectangle, 0 = line.
    void SetDrawType(int nIndex, bool bRect);
    bool IsRect(int nIndex) const { return m_bDrawType[nIndex]; }

    void SetRgnIndex(int nIndex);
    int GetRgnIndex() const { return m_nIndex; }

    // The current slot in percent.
    MDRect GetRectPercent() const;
    void GetLinePercent(QPoint& ptFrom, QPoint& ptTo) const;
    void SetRectPercent(int nIndex, const MDRect& rcPercent);
    void SetLinePercent(int nIndex, QPoint ptFrom, QPoint ptTo);
    void ClearSlot(int nIndex);

    // Client pixels, for painting checks and tests.
    MDRect GetRect(int nIndex) const { return m_rcRegion[nIndex]; }
    QPoint GetLineFrom(int nIndex) const { return m_ptLineFrom[nIndex]; }
    QPoint GetLineTo(int nIndex) const { return m_ptLineTo[nIndex]; }
    bool IsDragging() const { return m_bStartDrag; }

    int ToPercentX(int x) const;
    int ToPercentY(int y) const;
    int FromPercentX(int nPercent) const;
    int FromPercentY(int nPercent) const;

Q_SIGNALS:
    void RegionChanged(unsigned uMsg);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    static MDRect Normalized(QPoint ptA, QPoint ptB);
    QPoint ClampInside(QPoint pt, int nLow) const;

    int m_nIndex = 0;
    bool m_bDrawType[SLOT_COUNT] = {true, true, true};
    MDRect m_rcRegion[SLOT_COUNT];
    QPoint m_ptLineFrom[SLOT_COUNT];
    QPoint m_ptLineTo[SLOT_COUNT];
    QColor m_aColor[SLOT_COUNT];

    bool m_bSetDraw = true;
    bool m_bStartDrag = false; // moving the current rectangle
    bool m_bNewRect = false;   // drawing a new rectangle
    bool m_bCaptured = false;
    MDRect m_rcWork;
    QPoint m_ptAnchor;
    QPoint m_ptPrev;
    QPoint m_ptCur;

    QImage m_imgBack;
    QColor m_clrBack = QColor(0x20, 0x28, 0x30);
};
