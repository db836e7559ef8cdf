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

// A date's hours are drawn beside its number as three bars of eight: one bar of 24 would leave
// a pixel or two an hour, and the calendar stays as tall as the weekly grid.
constexpr int BAR_HOURS = 8;
constexpr int BAR_ROWS = SCHEDULE_HOURS / BAR_HOURS;

} // namespace

CDlgRecordSchedule::CDlgRecordSchedule(QWidget* pParent) : QWidget(pParent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    SetMonth(QDate::currentDate());
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

void CDlgRecordSchedule::SetKind(Kind enKind)
{
    m_enKind = enKind;
    if (enKind == Kind::Daily)
        m_nCursorDay = EVERY_DAY;
    else if (m_nCursorDay == EVERY_DAY)
        m_nCursorDay = 0;
    updateGeometry();
    update();
}

void CDlgRecordSchedule::SetMonth(const QDate& date)
{
    m_dateMonth = QDate(date.year(), date.month(), 1);
    updateGeometry();
    update();
}

bool CDlgRecordSchedule::IsOn(int nDay, int nHour) const
{
    if (nDay != EVERY_DAY)
        return IsScheduled(m_abSchedule, nDay, nHour);
    return (m_abSchedule[nHour] & SCHEDULE_ALL_DAYS) == SCHEDULE_ALL_DAYS;
}

bool CDlgRecordSchedule::IsAnyOn(int nDay, int nHour) const
{
    return nDay == EVERY_DAY ? (m_abSchedule[nHour] & SCHEDULE_ALL_DAYS) != 0 : IsOn(nDay, nHour);
}

int CDlgRecordSchedule::LabelWidth() const
{
    // The widest day name in the language shown (the daily row's title among them).
    int nWidth = fontMetrics().horizontalAdvance(PageText(IDS_CC_DAY));
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
    const int nRow = nDay < 0 ? 0 : (m_enKind == Kind::Daily ? 1 : nDay + 1);
    const int nX = nHour < 0 ? 0 : LabelWidth() + nHour * CellWidth();
    return {nX, CellHeight() * nRow, nHour < 0 ? LabelWidth() : CellWidth(), CellHeight()};
}

int CDlgRecordSchedule::FirstWeekday() const
{
    return m_dateMonth.dayOfWeek() - 1;
}

int CDlgRecordSchedule::WeekCount() const
{
    return (FirstWeekday() + m_dateMonth.daysInMonth() + SCHEDULE_DAYS - 1) / SCHEDULE_DAYS;
}

// The calendar is as wide as the weekly grid, so switching kinds does not move the page.
int CDlgRecordSchedule::ColumnWidth() const
{
    return (LabelWidth() + SCHEDULE_HOURS * CellWidth()) / SCHEDULE_DAYS;
}

int CDlgRecordSchedule::TitleWidth() const
{
    return fontMetrics().horizontalAdvance(QStringLiteral("00")) + 6;
}

int CDlgRecordSchedule::SegmentWidth() const
{
    return std::max(1, (ColumnWidth() - TitleWidth() - 3) / BAR_HOURS);
}

int CDlgRecordSchedule::BarHeight() const
{
    return std::max(5, (CellHeight() + 1) / BAR_ROWS);
}

int CDlgRecordSchedule::DateHeight() const
{
    return BAR_ROWS * BarHeight() + 4;
}

QRect CDlgRecordSchedule::DateBox(int nDate) const
{
    const int nIndex = FirstWeekday() + nDate - 1;
    return {(nIndex % SCHEDULE_DAYS) * ColumnWidth(), CellHeight() + (nIndex / SCHEDULE_DAYS) * DateHeight(),
            ColumnWidth(), DateHeight()};
}

QRect CDlgRecordSchedule::DateRect(int nDate, int nHour) const
{
    const QRect box = DateBox(nDate);
    if (nHour < 0)
        return {box.x(), box.y(), TitleWidth(), box.height()};
    return {box.x() + TitleWidth() + (nHour % BAR_HOURS) * SegmentWidth(),
            box.y() + 2 + (nHour / BAR_HOURS) * BarHeight(), SegmentWidth(), BarHeight()};
}

QSize CDlgRecordSchedule::sizeHint() const
{
    const int nWidth = LabelWidth() + SCHEDULE_HOURS * CellWidth() + 1;
    switch (m_enKind) {
    case Kind::Daily:
        return {nWidth, CellHeight() * 2 + 1};
    case Kind::Monthly:
        return {nWidth, CellHeight() + WeekCount() * DateHeight() + 1};
    case Kind::Weekly:
        break;
    }
    return {nWidth, CellHeight() * (SCHEDULE_DAYS + 1) + 1};
}

bool CDlgRecordSchedule::HitTest(const QPoint& point, int& nDay, int& nHour) const
{
    if (point.x() < 0 || point.y() < 0)
        return false;
    if (m_enKind == Kind::Monthly)
        return HitTestMonth(point, nDay, nHour);
    nDay = point.y() / CellHeight() - 1;
    nHour = point.x() < LabelWidth() ? -1 : (point.x() - LabelWidth()) / CellWidth();
    if (m_enKind == Kind::Daily) {
        if (nDay > 0)
            return false;
        if (nDay == 0)
            nDay = EVERY_DAY;
    }
    return nDay < SCHEDULE_DAYS + (m_enKind == Kind::Daily ? 1 : 0) && nHour < SCHEDULE_HOURS;
}

// A weekday name or a date's title is that whole weekday; a bar segment one hour of it.
bool CDlgRecordSchedule::HitTestMonth(const QPoint& point, int& nDay, int& nHour) const
{
    nDay = point.x() / ColumnWidth();
    if (nDay >= SCHEDULE_DAYS)
        return false;
    if (point.y() < CellHeight()) {
        nHour = -1;
        return true;
    }
    const int nIndex = ((point.y() - CellHeight()) / DateHeight()) * SCHEDULE_DAYS + nDay;
    const int nDate = nIndex - FirstWeekday() + 1;
    if (nDate < 1 || nDate > m_dateMonth.daysInMonth())
        return false;
    const QRect box = DateBox(nDate);
    const int nBarX = point.x() - box.x() - TitleWidth();
    if (nBarX < 0) {
        nHour = -1;
        return true;
    }
    const int nSegment = std::min(nBarX / SegmentWidth(), BAR_HOURS - 1);
    nHour = std::clamp((point.y() - box.y() - 2) / BarHeight(), 0, BAR_ROWS - 1) * BAR_HOURS + nSegment;
    return true;
}

void CDlgRecordSchedule::Set(int nDay, int nHour, bool bOn)
{
    if (nDay == EVERY_DAY) {
        // Marked or cleared on every day at once; a hatched hour becomes whole.
        if (IsOn(nDay, nHour) == bOn && IsAnyOn(nDay, nHour) == bOn)
            return;
        m_abSchedule[nHour] = static_cast<BYTE>(bOn ? m_abSchedule[nHour] | SCHEDULE_ALL_DAYS
                                                    : m_abSchedule[nHour] & ~SCHEDULE_ALL_DAYS);
    } else {
        if (IsOn(nDay, nHour) == bOn)
            return;
        SetScheduled(m_abSchedule, nDay, nHour, bOn);
    }
    update();
    Q_EMIT Changed();
}

void CDlgRecordSchedule::ToggleBlock(int nDay, int nHour)
{
    if (nDay == EVERY_DAY)
        nDay = -1;
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
    if (m_enKind == Kind::Monthly) {
        PaintMonth(painter);
        return;
    }
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::WindowText));
    for (int h = 0; h < SCHEDULE_HOURS; h += 2)
        painter.drawText(CellRect(-1, h).adjusted(0, 0, CellWidth(), 0), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::asprintf(" %02d", h));
    const bool bDaily = m_enKind == Kind::Daily;
    const int nFirst = bDaily ? EVERY_DAY : 0;
    const int nLast = bDaily ? EVERY_DAY : SCHEDULE_DAYS - 1;
    for (int d = nFirst; d <= nLast; ++d)
        painter.drawText(CellRect(d, -1).adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         PageText(bDaily ? IDS_CC_DAY : g_adwDayNames[d]));
    for (int d = nFirst; d <= nLast; ++d) {
        for (int h = 0; h < SCHEDULE_HOURS; ++h) {
            const QRect rect = CellRect(d, h);
            painter.fillRect(rect, IsOn(d, h) ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
            // Daily: an hour set on some days only, hatched so it does not pass for either.
            if (!IsOn(d, h) && IsAnyOn(d, h))
                painter.fillRect(rect, QBrush(pal.color(QPalette::Highlight), Qt::BDiagPattern));
            painter.setPen(pal.color(QPalette::Mid));
            painter.drawRect(rect);
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(pal.color(QPalette::Text), 2));
        painter.drawRect(CellRect(m_nCursorDay, m_nCursorHour).adjusted(1, 1, -1, -1));
    }
}

void CDlgRecordSchedule::PaintMonth(QPainter& painter)
{
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::WindowText));
    for (int d = 0; d < SCHEDULE_DAYS; ++d)
        painter.drawText(QRect(d * ColumnWidth(), 0, ColumnWidth(), CellHeight()), Qt::AlignCenter,
                         PageText(g_adwDayNames[d]));
    const QDate today = QDate::currentDate();
    bool bCursorShown = false;
    for (int nDate = 1; nDate <= m_dateMonth.daysInMonth(); ++nDate) {
        const int nDay = (FirstWeekday() + nDate - 1) % SCHEDULE_DAYS;
        painter.setPen(pal.color(QPalette::Mid));
        painter.drawRect(DateBox(nDate).adjusted(0, 0, -1, -1));
        QFont font = painter.font();
        font.setBold(m_dateMonth.addDays(nDate - 1) == today);
        painter.setFont(font);
        painter.setPen(pal.color(QPalette::WindowText));
        painter.drawText(DateRect(nDate, -1).adjusted(0, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(nDate));
        for (int h = 0; h < SCHEDULE_HOURS; ++h) {
            const QRect rect = DateRect(nDate, h);
            painter.fillRect(rect,
                             IsOn(nDay, h) ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
            painter.setPen(pal.color(QPalette::Mid));
            painter.drawRect(rect);
        }
        // The cursor is a weekday's hour: shown on the first date of that weekday.
        if (hasFocus() && !bCursorShown && nDay == m_nCursorDay) {
            painter.setPen(QPen(pal.color(QPalette::Text), 2));
            painter.drawRect(DateRect(nDate, m_nCursorHour).adjusted(-1, -1, 1, 1));
            bCursorShown = true;
        }
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
    // The daily row stands for every day: there is no other day to move to.
    const bool bDaily = m_enKind == Kind::Daily;
    switch (pEvent->key()) {
    case Qt::Key_Left:
        nHour = std::max(0, nHour - 1);
        break;
    case Qt::Key_Right:
        nHour = std::min(SCHEDULE_HOURS - 1, nHour + 1);
        break;
    case Qt::Key_Up:
        nDay = bDaily ? nDay : std::max(0, nDay - 1);
        break;
    case Qt::Key_Down:
        nDay = bDaily ? nDay : std::min(SCHEDULE_DAYS - 1, nDay + 1);
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
