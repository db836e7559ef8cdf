#include "ui/pages/pagewidgets.h"

#include <QLineEdit>

#include <arpa/inet.h>

QString AddressText(DWORD dwIP)
{
    in_addr addr{};
    addr.s_addr = htonl(dwIP);
    char szText[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, szText, sizeof(szText));
    return QString::fromLatin1(szText);
}

QLineEdit* MakeEdit(QWidget* pParent, const char* pszName, int nMaxLength)
{
    auto* pEdit = new QLineEdit(pParent);
    pEdit->setObjectName(QString::fromLatin1(pszName));
    pEdit->setMaxLength(nMaxLength);
    return pEdit;
}

std::string EditText(const QLineEdit* pEdit)
{
    return pEdit->text().toStdString();
}
