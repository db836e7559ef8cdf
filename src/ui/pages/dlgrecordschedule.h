// The recording timetable, painted with the mouse or the keyboard, in three kinds that all edit
// the same week of hours (the camera keeps nothing else):
//   weekly   a row of hours per weekday;
//   daily    one row of hours meaning every day; an hour set on some days only is hatched,
//            and marking it sets it on every day;
//   monthly  the days of one month as a calendar, each showing its weekday's hours, so marking
//            an hour on a day marks it on every day of that weekday.
// A drag paints every cell it passes with the opposite of the cell it started on; a click on an
// hour header switches that hour on every day, on a day name or a date that whole day, on the
// corner the whole week. Keys: arrows move, Space switches, Shift with an arrow paints the next
// cell like the current one.
#pragma once

#include "platform/wintypes.h"

#include <QDate>
#include <QWidget>

class CDlgRecordSchedule : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Daily, Weekly, Monthly };
    // The day index of the daily row: every weekday at once.
    static constexpr int EVERY_DAY = 7;

    explicit CDlgRecordSchedule(QWidget* pParent);

    // A byte per hour from 00:00, bit d for weekday d (Monday 0); bit 7 is kept as it came.
    void SetSchedule(const BYTE (&abSchedule)[24]);
    void GetSchedule(BYTE (&abSchedule)[24]) const;
    // EVERY_DAY: on for all seven days.
    bool IsOn(int nDay, int nHour) const;

    void SetKind(Kind enKind);
    Kind GetKind() const { return m_enKind; }
    // The month the monthly kind shows (any day of it); the current month until set.
    void SetMonth(const QDate& date);
    QDate GetMonth() const { return m_dateMonth; }

    // Where a cell is drawn (weekly and daily); a day of -1 is the hours' header, an hour of -1
    // the days' column. The daily row is any day but -1.
    QRect CellRect(int nDay, int nHour) const;
    // Monthly: where an hour of a date (1 ..) of the month is drawn; hour -1 is the date's title.
    QRect DateRect(int nDate, int nHour) const;
    QPoint GetCursor() const { return {m_nCursorHour, m_nCursorDay}; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    void Changed();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    // Day and hour under a point; -1 for the headers, false outside the grid.
    bool HitTest(const QPoint& point, int& nDay, int& nHour) const;
    bool HitTestMonth(const QPoint& point, int& nDay, int& nHour) const;
    bool IsAnyOn(int nDay, int nHour) const;
    void Set(int nDay, int nHour, bool bOn);
    // Every cell of the days and hours given (-1: all) on, unless all are on already: then off.
    void ToggleBlock(int nDay, int nHour);
    void PaintMonth(QPainter& painter);
    int LabelWidth() const;
    int CellWidth() const;
    int CellHeight() const;
    // Monthly geometry: the weekday of the 1st, the weeks shown, a date's box, its number and
    // its bars.
    int FirstWeekday() const;
    int WeekCount() const;
    int ColumnWidth() const;
    int TitleWidth() const;
    int BarHeight() const;
    int DateHeight() const;
    int SegmentWidth() const;
    QRect DateBox(int nDate) const;

    BYTE m_abSchedule[24] = {};
    Kind m_enKind = Kind::Weekly;
    QDate m_dateMonth;
    bool m_bPainting = false;
    bool m_bPaintValue = false;
    int m_nCursorDay = 0;
    int m_nCursorHour = 0;
};
