// Balloon hints: a short message in a pop-up anchored at the control it is about, in an error
// look (a check refused the value) or a success look (the setting was sent).
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

class CBalloonHint : public QWidget {
    Q_OBJECT
public:
    explicit CBalloonHint(QWidget* pParent = nullptr);

    // Shows the text below (or, at the screen's bottom, above) pAnchor; a hint already shown
    // moves there. A success hint hides itself after a few seconds; an error stays until it is
    // hidden or the user works on its control again, and is the control's accessible
    // description meanwhile, so that a screen reader reads it with the control. A hint of a
    // control the user cannot see (a page in a hidden tab) is kept, not popped up: it would
    // float over whatever the window shows instead.
    void ShowAt(QWidget* pAnchor, const QString& strText, bool bError);
    void HideHint();

    // The hint's text stands (shown, or kept for a hidden control) until it times out or is hidden.
    bool IsActive() const { return m_bActive; }

    QWidget* GetAnchor() const { return m_pAnchor; }
    QString GetText() const;
    bool IsError() const { return m_bError; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    // A click on the hint dismisses it.
    void mousePressEvent(QMouseEvent*) override { HideHint(); }

private:
    // The anchor's accessible description back as it was before the error.
    void ReleaseAnchor();
    QString m_strAnchorDescription;
    bool m_bActive = false;
    QPointer<QWidget> m_pAnchor;
    QLabel* m_pLabel;
    QTimer* m_pHideTimer;
    bool m_bError = false;
};
