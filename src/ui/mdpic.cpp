#include "ui/mdpic.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

CMDPic::CMDPic(QWidget* pParent) : QWidget(pParent)
{
    m_aColor[0] = QColor(0xff, 0x30, 0x30);
    m_aColor[1] = QColor(0x30, 0xd0, 0x40);
    m_aColor[2] = QColor(0x30, 0x80, 0xff);
    setMouseTracking(false);
}

void CMDPic::SetBackground(const QImage& image)
{
    m_imgBack = image;
    update();
}

void CMDPic::SetBackgroundColor(const QColor& color)
{
    m_imgBack = QImage();
    m_clrBack = color;
    update();
}

void CMDPic::SetDrawType(int nIndex, bool bRect)
{
    if (nIndex < 0 || nIndex >= SLOT_COUNT)
        return;
    m_bDrawType[nIndex] = bRect;
    update();
}

void CMDPic::SetRgnIndex(int nIndex)
{
    if (nIndex == m_nIndex)
        return;
    m_nIndex = nIndex;
    if (nIndex < 0 || nIndex >= SLOT_COUNT) {
        m_rcWork = MDRect();
        return;
    }
    m_rcWork = m_rcRegion[nIndex];
    m_ptAnchor = m_ptLineFrom[nIndex];
    m_ptCur = m_ptLineTo[nIndex];
    update();
}

int CMDPic::ToPercentX(int x) const
{
    return width() > 0 ? x * 100 / width() : 0;
}

int CMDPic::ToPercentY(int y) const
{
    return height() > 0 ? y * 100 / height() : 0;
}

int CMDPic::FromPercentX(int nPercent) const
{
    return std::max(nPercent, 0) * width() / 100;
}

int CMDPic::FromPercentY(int nPercent) const
{
    return std::max(nPercent, 0) * height() / 100;
}

CMDPic::MDRect CMDPic::GetRectPercent() const
{
    if (m_nIndex < 0 || m_nIndex >= SLOT_COUNT)
        return MDRect();
    const MDRect& rc = m_rcRegion[m_nIndex];
    return {ToPercentX(rc.nLeft), ToPercentY(rc.nTop), ToPercentX(rc.nRight), ToPercentY(rc.nBottom)};
}

void CMDPic::GetLinePercent(QPoint& ptFrom, QPoint& ptTo) const
{
    if (m_nIndex < 0 || m_nIndex >= SLOT_COUNT)
        return;
    ptFrom = {ToPercentX(m_ptLineFrom[m_nIndex].x()), ToPercentY(m_ptLineFrom[m_nIndex].y())};
    ptTo = {ToPercentX(m_ptLineTo[m_nIndex].x()), ToPercentY(m_ptLineTo[m_nIndex].y())};
}

void CMDPic::SetRectPercent(int nIndex, const MDRect& rcPercent)
{
    if (nIndex < 0 || nIndex >= SLOT_COUNT)
        return;
    const MDRect rc{FromPercentX(rcPercent.nLeft), FromPercentY(rcPercent.nTop),
                    FromPercentX(rcPercent.nRight), FromPercentY(rcPercent.nBottom)};
    if (rc == m_rcRegion[nIndex])
        return;
    m_rcRegion[nIndex] = rc;
    if (nIndex == m_nIndex)
        m_rcWork = rc;
    update();
}

void CMDPic::SetLinePercent(int nIndex, QPoint ptFrom, QPoint ptTo)
{
    if (nIndex < 0 || nIndex >= SLOT_COUNT)
        return;
    m_ptLineFrom[nIndex] = {FromPercentX(ptFrom.x()), FromPercentY(ptFrom.y())};
    m_ptLineTo[nIndex] = {FromPercentX(ptTo.x()), FromPercentY(ptTo.y())};
    update();
}

void CMDPic::ClearSlot(int nIndex)
{
    if (nIndex < 0 || nIndex >= SLOT_COUNT)
        return;
    if (m_bDrawType[nIndex]) {
        m_rcRegion[nIndex] = MDRect();
        if (nIndex == m_nIndex)
            m_rcWork = MDRect();
    } else {
        m_ptLineFrom[nIndex] = QPoint();
        m_ptLineTo[nIndex] = QPoint();
    }
    update();
}

CMDPic::MDRect CMDPic::Normalized(QPoint ptA, QPoint ptB)
{
    return {std::min(ptA.x(), ptB.x()), std::min(ptA.y(), ptB.y()), std::max(ptA.x(), ptB.x()),
            std::max(ptA.y(), ptB.y())};
}

QPoint CMDPic::ClampInside(QPoint pt, int nLow) const
{
    return {std::clamp(pt.x(), nLow, std::max(nLow, width() - 1)),
            std::clamp(pt.y(), nLow, std::max(nLow, height() - 1))};
}

void CMDPic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!m_imgBack.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), m_imgBack);
    } else {
        painter.fillRect(rect(), m_clrBack);
    }
    const int w = width();
    const int h = height();
    for (int i = 0; i < SLOT_COUNT; ++i) {
        painter.setPen(QPen(m_aColor[i], 2));
        painter.setBrush(Qt::NoBrush);
        if (m_bDrawType[i]) {
            MDRect rc = m_rcRegion[i];
            if (rc.Width() < 1 || rc.Height() < 1)
                continue;
            if (i == m_nIndex && m_bStartDrag)
                continue;
            rc.nRight = std::min(rc.nRight, w - 1);
            rc.nBottom = std::min(rc.nBottom, h - 1);
            rc.nLeft = std::max(rc.nLeft, 1);
            rc.nTop = std::max(rc.nTop, 1);
            painter.drawLine(rc.nLeft, rc.nTop, rc.nRight, rc.nTop);
            painter.drawLine(rc.nRight, rc.nTop, rc.nRight, rc.nBottom);
            painter.drawLine(rc.nRight, rc.nBottom, rc.nLeft, rc.nBottom);
            painter.drawLine(rc.nLeft, rc.nBottom, rc.nLeft, rc.nTop);
        } else {
            if (m_ptLineFrom[i] == m_ptLineTo[i])
                continue;
            painter.drawLine(ClampInside(m_ptLineFrom[i], 1), ClampInside(m_ptLineTo[i], 1));
        }
    }
    if (m_bStartDrag && m_nIndex >= 0 && m_nIndex < SLOT_COUNT) {
        const MDRect& rc = m_rcWork;
        painter.setPen(QPen(m_aColor[m_nIndex], 2, Qt::DotLine));
        painter.drawRect(rc.nLeft, rc.nTop, rc.Width(), rc.Height());
    }
}

void CMDPic::mousePressEvent(QMouseEvent* pEvent)
{
    if (!m_bSetDraw || pEvent->button() != Qt::LeftButton || m_nIndex < 0 || m_nIndex >= SLOT_COUNT)
        return;
    const QPoint pt = pEvent->position().toPoint();
    if (m_bDrawType[m_nIndex]) {
        const MDRect& rc = m_rcRegion[m_nIndex];
        if (rc.Width() > 0 && rc.Height() > 0 && pt.x() >= rc.nLeft && pt.x() < rc.nRight &&
            pt.y() >= rc.nTop && pt.y() < rc.nBottom) {
            m_bStartDrag = true;
            m_rcWork = rc;
        } else {
            m_bNewRect = true;
            m_rcWork = {pt.x(), pt.y(), pt.x(), pt.y()};
        }
    } else {
        m_ptLineFrom[m_nIndex] = ClampInside(pt, 0);
        m_ptLineTo[m_nIndex] = m_ptLineFrom[m_nIndex];
    }
    // Qt keeps sending the moves to the widget that took the press: that is the capture.
    m_bCaptured = true;
    m_ptAnchor = m_ptPrev = m_ptCur = pt;
    Q_EMIT RegionChanged(MD_MSG_REGION_CHANGED);
}

void CMDPic::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (!m_bCaptured || m_nIndex < 0 || m_nIndex >= SLOT_COUNT)
        return;
    m_ptCur = pEvent->position().toPoint();
    if (m_bStartDrag) {
        int dx = m_ptCur.x() - m_ptPrev.x();
        int dy = m_ptCur.y() - m_ptPrev.y();
        // An axis that would leave the picture stays put; the other still follows.
        if (m_rcWork.nRight + dx > width() || m_rcWork.nLeft + dx < 0)
            dx = 0;
        if (m_rcWork.nBottom + dy > height() || m_rcWork.nTop + dy < 0)
            dy = 0;
        if (dx == 0 && dy == 0)
            return;
        m_rcWork.nLeft += dx;
        m_rcWork.nRight += dx;
        m_rcWork.nTop += dy;
        m_rcWork.nBottom += dy;
        m_rcRegion[m_nIndex] = m_rcWork;
        m_ptPrev = m_ptCur;
        update();
        return;
    }
    if (m_bNewRect) {
        MDRect rc = Normalized(m_ptAnchor, m_ptCur);
        rc.nLeft = std::max(rc.nLeft, 0);
        rc.nTop = std::max(rc.nTop, 0);
        rc.nRight = std::min(rc.nRight, width());
        rc.nBottom = std::min(rc.nBottom, height());
        if (rc == m_rcWork)
            return;
        m_rcWork = rc;
        m_rcRegion[m_nIndex] = rc;
        update();
        return;
    }
    if (!m_bDrawType[m_nIndex]) {
        m_ptLineTo[m_nIndex] = ClampInside(m_ptCur, 1);
        m_ptLineFrom[m_nIndex] = ClampInside(m_ptLineFrom[m_nIndex], 0);
        update();
    }
}

void CMDPic::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (!m_bCaptured || pEvent->button() != Qt::LeftButton)
        return;
    m_bCaptured = false;
    const bool bRectAction = m_bStartDrag || m_bNewRect;
    m_bStartDrag = false;
    m_bNewRect = false;
    if (m_nIndex >= 0 && m_nIndex < SLOT_COUNT) {
        if (bRectAction && m_bDrawType[m_nIndex]) {
            const MDRect& rc = m_rcWork;
            m_rcWork = Normalized({rc.nLeft, rc.nTop}, {rc.nRight, rc.nBottom});
            m_rcRegion[m_nIndex] = m_rcWork;
        } else if (!m_bDrawType[m_nIndex]) {
            m_ptLineTo[m_nIndex] = ClampInside(pEvent->position().toPoint(), 0);
            m_ptLineFrom[m_nIndex] = ClampInside(m_ptLineFrom[m_nIndex], 0);
        }
    }
    update();
    Q_EMIT RegionChanged(MD_MSG_REGION_CHANGED);
}
