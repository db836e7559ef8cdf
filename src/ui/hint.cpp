#include "ui/hint.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

namespace {
constexpr int HINT_SHOW_MS = 4000;
constexpr int HINT_TAIL = 8;
} // namespace

CBalloonHint::CBalloonHint(QWidget* pParent) : QWidget(pParent, Qt::ToolTip | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(10, 6 + HINT_TAIL, 10, 6);
    m_pLabel = new QLabel(this);
    m_pLabel->setWordWrap(true);
    m_pLabel->setMaximumWidth(320);
    pLayout->addWidget(m_pLabel);
    m_pHideTimer = new QTimer(this);
    m_pHideTimer->setSingleShot(true);
    connect(m_pHideTimer, &QTimer::timeout, this, &CBalloonHint::HideHint);
}

void CBalloonHint::ShowAt(QWidget* pAnchor, const QString& strText, bool bError)
{
    ReleaseAnchor();
    m_pAnchor = pAnchor;
    m_bError = bError;
    m_bActive = true;
    if (bError && pAnchor != nullptr) {
        m_strAnchorDescription = pAnchor->accessibleDescription();
        pAnchor->setAccessibleDescription(strText);
        pAnchor->installEventFilter(this);
        // An editable list takes its keys in its line edit.
        if (QWidget* pProxy = pAnchor->focusProxy())
            pProxy->installEventFilter(this);
    }
    m_pLabel->setText(strText);
    m_pLabel->setStyleSheet(bError ? QStringLiteral("color:#7a0000;") : QStringLiteral("color:#0b4d12;"));
    adjustSize();
    QPoint ptAt;
    if (pAnchor != nullptr) {
        ptAt = pAnchor->mapToGlobal(QPoint(qMin(16, pAnchor->width() / 2), pAnchor->height()));
        if (const QScreen* pScreen = pAnchor->screen()) {
            const QRect rcScreen = pScreen->availableGeometry();
            if (ptAt.y() + height() > rcScreen.bottom())
                ptAt.setY(pAnchor->mapToGlobal(QPoint(0, 0)).y() - height());
            ptAt.setX(qBound(rcScreen.left(), ptAt.x(), qMax(rcScreen.left(), rcScreen.right() - width())));
        }
    }
    if (bError)
        m_pHideTimer->stop();
    else
        m_pHideTimer->start(HINT_SHOW_MS);
    if (pAnchor != nullptr && !pAnchor->isVisible()) {
        hide();
        return;
    }
    move(ptAt);
    show();
    update();
}

void CBalloonHint::HideHint()
{
    ReleaseAnchor();
    m_bActive = false;
    m_pHideTimer->stop();
    hide();
}

void CBalloonHint::ReleaseAnchor()
{
    if (m_pAnchor == nullptr || !m_bError || !m_bActive)
        return;
    m_pAnchor->removeEventFilter(this);
    if (QWidget* pProxy = m_pAnchor->focusProxy())
        pProxy->removeEventFilter(this);
    m_pAnchor->setAccessibleDescription(m_strAnchorDescription);
}

bool CBalloonHint::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // Typing into the control, or a click on it, is the user at work on what the error was about.
    if (m_pAnchor != nullptr && (pWatched == m_pAnchor || pWatched == m_pAnchor->focusProxy()) &&
        (pEvent->type() == QEvent::KeyPress || pEvent->type() == QEvent::MouseButtonPress))
        HideHint();
    return false;
}

QString CBalloonHint::GetText() const
{
    return m_pLabel->text();
}

void CBalloonHint::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF rcBody = QRectF(rect()).adjusted(0.5, HINT_TAIL + 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(rcBody, 6, 6);
    QPainterPath tail;
    tail.moveTo(14, rcBody.top() + 1);
    tail.lineTo(18, 0.5);
    tail.lineTo(26, rcBody.top() + 1);
    tail.closeSubpath();
    path = path.united(tail);
    painter.setPen(QPen(m_bError ? QColor(0xc0, 0x30, 0x30) : QColor(0x2e, 0x8b, 0x3a), 1.2));
    painter.setBrush(m_bError ? QColor(0xff, 0xe8, 0xe4) : QColor(0xe6, 0xf6, 0xe4));
    painter.drawPath(path);
}
