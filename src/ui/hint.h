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
    // moves there. It hides itself after a few seconds or at the next click on the page. A hint
    // of a control the user cannot see (a page in a hidden tab) is kept, not popped up: it would
    // float over whatever the window shows instead.
    void ShowAt(QWidget* pAnchor, const QString& strText, bool bError);
    void HideHint();

    // The hint's text stands (shown, or kept for a hidden control) until it times out or is hidden.
    bool IsActive() const;

    QWidget* GetAnchor() const { return m_pAnchor; }
    QString GetText() const;
    bool IsError() const { return m_bError; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QPointer<QWidget> m_pAnchor;
    QLabel* m_pLabel;
    QTimer* m_pHideTimer;
    bool m_bError = false;
};
