#include "ui/messagedialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

CMessageDialog::CMessageDialog(const std::u16string& strText, QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("Vistrel"));
    setModal(true);
    auto* pLayout = new QVBoxLayout(this);
    m_pLabel = new QLabel(QString::fromStdU16String(strText), this);
    m_pLabel->setWordWrap(true);
    m_pLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pLayout->addWidget(m_pLabel);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pLayout->addWidget(pButtons);
}

QString CMessageDialog::GetText() const
{
    return m_pLabel->text();
}
