#include "ui/placeholdermainwindow.h"

#include <QLabel>
#include <QVBoxLayout>

CPlaceholderMainWindow::CPlaceholderMainWindow(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("Vistrel"));
    setMinimumSize(640, 400);
    auto* pLayout = new QVBoxLayout(this);
    auto* pLabel = new QLabel(QStringLiteral("Vistrel"), this);
    pLabel->setAlignment(Qt::AlignCenter);
    pLayout->addWidget(pLabel);
}
