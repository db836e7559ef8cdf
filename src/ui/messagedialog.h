// The program's own modal message dialog: one text and an OK button.
#pragma once

#include <QDialog>
#include <string>

class QLabel;

class CMessageDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMessageDialog(const std::u16string& strText, QWidget* pParent = nullptr);
    QString GetText() const;

private:
    QLabel* m_pLabel;
};
