// The recording timetable: a week of hours, painted with the mouse or the keyboard. A drag
// paints every cell it passes with the opposite of the cell it started on; a click on an hour
// switches that hour on every day (a daily timetable), on a day name that whole day, on the
// corner the whole week. Keys: arrows move, Space switches, Shift with an arrow paints the next
// cell like the current one.
#pragma once

#include "platform/wintypes.h"

#include <QWidget>

class CDlgRecordSchedule : public QWidget {
    Q_OBJECT
public:
    explicit CDlgRecordSchedule(QWidget* pParent);

    // A byte per hour from 00:00, bit d for weekday d (Monday 0); bit 7 is kept as it came.
    void SetSchedule(const BYTE (&abSchedule)[24]);
    void GetSchedule(BYTE (&abSchedule)[24]) const;
    bool IsOn(int nDay, int nHour) const;
    // Where a cell is drawn; a day of -1 is the hours' header, an hour of -1 the days' column.
    QRect CellRect(int nDay, int nHour) const;
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
    void Set(int nDay, int nHour, bool bOn);
    // Every cell of the days and hours given (-1: all) on, unless all are on already: then off.
    void ToggleBlock(int nDay, int nHour);
    int LabelWidth() const;
    int CellWidth() const;
    int CellHeight() const;

    BYTE m_abSchedule[24] = {};
    bool m_bPainting = false;
    bool m_bPaintValue = false;
    int m_nCursorDay = 0;
    int m_nCursorHour = 0;
};
