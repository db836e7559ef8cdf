#include "ui/pages/dlgrecordschedule.h"

#include "core/stringids.h"
#include "device/recordlayout.h"
#include "ui/pages/configpage.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace recordlayout;

namespace {

const DWORD g_adwDayNames[SCHEDULE_DAYS] = {
    IDS_TIME_MONDAY_SHORT, IDS_TIME_TUESDAY_SHORT,  IDS_TIME_WEDNESDAY_SHORT, IDS_TIME_THURSDAY_SHORT,
    IDS_TIME_FRIDAY_SHORT, IDS_TIME_SATURDAY_SHORT, IDS_TIME_SUNDAY_SHORT};

} // namespace

CDlgRecordSchedule::CDlgRecordSchedule(QWidget* pParent) : QWidget(pParent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CDlgRecordSchedule::SetSchedule(const BYTE (&abSchedule)[24])
{
    std::copy(std::begin(abSchedule), std::end(abSchedule), m_abSchedule);
    update();
}

void CDlgRecordSchedule::GetSchedule(BYTE (&abSchedule)[24]) const
{
    std::copy(std::begin(m_abSchedule), std::end(m_abSchedule), abSchedule);
}

bool CDlgRecordSchedule::IsOn(int nDay, int nHour) const
{
    return IsScheduled(m_abSchedule, nDay, nHour);
}

int CDlgRecordSchedule::LabelWidth() const
{
    // The widest day name in the language shown.
    int nWidth = 0;
    for (const DWORD dwName : g_adwDayNames)
        nWidth = std::max(nWidth, fontMetrics().horizontalAdvance(PageText(dwName)));
    return nWidth + 8;
}

int CDlgRecordSchedule::CellWidth() const
{
    return fontMetrics().horizontalAdvance(QStringLiteral("00")) + 6;
}

int CDlgRecordSchedule::CellHeight() const
{
    return fontMetrics().height() + 2;
}

QRect CDlgRecordSchedule::CellRect(int nDay, int nHour) const
{
    const int nX = nHour < 0 ? 0 : LabelWidth() + nHour * CellWidth();
    const int nY = nDay < 0 ? 0 : CellHeight() * (nDay + 1);
    return {nX, nY, nHour < 0 ? LabelWidth() : CellWidth(), CellHeight()};
}

QSize CDlgRecordSchedule::sizeHint() const
{
    return {LabelWidth() + SCHEDULE_HOURS * CellWidth() + 1, CellHeight() * (SCHEDULE_DAYS + 1) + 1};
}

bool CDlgRecordSchedule::HitTest(const QPoint& point, int& nDay, int& nHour) const
{
    if (point.x() < 0 || point.y() < 0)
        return false;
    nDay = point.y() / CellHeight() - 1;
    nHour = point.x() < LabelWidth() ? -1 : (point.x() - LabelWidth()) / CellWidth();
    return nDay < SCHEDULE_DAYS && nHour < SCHEDULE_HOURS;
}

void CDlgRecordSchedule::Set(int nDay, int nHour, bool bOn)
{
    if (IsOn(nDay, nHour) == bOn)
        return;
    SetScheduled(m_abSchedule, nDay, nHour, bOn);
    update();
    Q_EMIT Changed();
}

void CDlgRecordSchedule::ToggleBlock(int nDay, int nHour)
{
    bool bAllOn = true;
    for (int d = 0; d < SCHEDULE_DAYS; ++d) {
        for (int h = 0; h < SCHEDULE_HOURS; ++h) {
            if ((nDay < 0 || d == nDay) && (nHour < 0 || h == nHour))
                bAllOn = bAllOn && IsOn(d, h);
        }
    }
    for (int d = 0; d < SCHEDULE_DAYS; ++d) {
        for (int h = 0; h < SCHEDULE_HOURS; ++h) {
            if ((nDay < 0 || d == nDay) && (nHour < 0 || h == nHour))
                Set(d, h, !bAllOn);
        }
    }
}

void CDlgRecordSchedule::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::WindowText));
    for (int h = 0; h < SCHEDULE_HOURS; h += 2)
        painter.drawText(CellRect(-1, h).adjusted(0, 0, CellWidth(), 0), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::asprintf(" %02d", h));
    for (int d = 0; d < SCHEDULE_DAYS; ++d)
        painter.drawText(CellRect(d, -1).adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         PageText(g_adwDayNames[d]));
    for (int d = 0; d < SCHEDULE_DAYS; ++d) {
        for (int h = 0; h < SCHEDULE_HOURS; ++h) {
            const QRect rect = CellRect(d, h);
            painter.fillRect(rect, IsOn(d, h) ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
            painter.setPen(pal.color(QPalette::Mid));
            painter.drawRect(rect);
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(pal.color(QPalette::Text), 2));
        painter.drawRect(CellRect(m_nCursorDay, m_nCursorHour).adjusted(1, 1, -1, -1));
    }
}

void CDlgRecordSchedule::mousePressEvent(QMouseEvent* pEvent)
{
    int nDay = 0;
    int nHour = 0;
    if (pEvent->button() != Qt::LeftButton || !HitTest(pEvent->position().toPoint(), nDay, nHour))
        return;
    if (nDay < 0 || nHour < 0) {
        ToggleBlock(nDay, nHour);
        return;
    }
    m_nCursorDay = nDay;
    m_nCursorHour = nHour;
    m_bPainting = true;
    m_bPaintValue = !IsOn(nDay, nHour);
    Set(nDay, nHour, m_bPaintValue);
    update();
}

void CDlgRecordSchedule::mouseMoveEvent(QMouseEvent* pEvent)
{
    int nDay = 0;
    int nHour = 0;
    if (!m_bPainting || !(pEvent->buttons() & Qt::LeftButton) ||
        !HitTest(pEvent->position().toPoint(), nDay, nHour) || nDay < 0 || nHour < 0)
        return;
    // A fast drag jumps cells between two moves: the cells on the line between are painted too.
    const int nSteps = std::max(std::abs(nDay - m_nCursorDay), std::abs(nHour - m_nCursorHour));
    for (int i = 1; i <= nSteps; ++i) {
        const double dPart = static_cast<double>(i) / nSteps;
        Set(m_nCursorDay + static_cast<int>(std::lround((nDay - m_nCursorDay) * dPart)),
            m_nCursorHour + static_cast<int>(std::lround((nHour - m_nCursorHour) * dPart)), m_bPaintValue);
    }
    m_nCursorDay = nDay;
    m_nCursorHour = nHour;
}

void CDlgRecordSchedule::mouseReleaseEvent(QMouseEvent*)
{
    m_bPainting = false;
}

void CDlgRecordSchedule::keyPressEvent(QKeyEvent* pEvent)
{
    int nDay = m_nCursorDay;
    int nHour = m_nCursorHour;
    switch (pEvent->key()) {
    case Qt::Key_Left:
        nHour = std::max(0, nHour - 1);
        break;
    case Qt::Key_Right:
        nHour = std::min(SCHEDULE_HOURS - 1, nHour + 1);
        break;
    case Qt::Key_Up:
        nDay = std::max(0, nDay - 1);
        break;
    case Qt::Key_Down:
        nDay = std::min(SCHEDULE_DAYS - 1, nDay + 1);
        break;
    case Qt::Key_Home:
        nHour = 0;
        break;
    case Qt::Key_End:
        nHour = SCHEDULE_HOURS - 1;
        break;
    case Qt::Key_Space:
        Set(nDay, nHour, !IsOn(nDay, nHour));
        return;
    default:
        QWidget::keyPressEvent(pEvent);
        return;
    }
    if (pEvent->modifiers() & Qt::ShiftModifier)
        Set(nDay, nHour, IsOn(m_nCursorDay, m_nCursorHour));
    m_nCursorDay = nDay;
    m_nCursorHour = nHour;
    update();
}
