// Small helpers the pages share: addresses as text, fixed fields as text, labelled rows.
#pragma once

#include "platform/wintypes.h"

#include <QString>

#include <cstring>
#include <string>

class QFormLayout;
class QLineEdit;
class QWidget;

QString AddressText(DWORD dwIP);
template <std::size_t N> std::string FieldText(const char (&szField)[N])
{
    return std::string(szField, strnlen(szField, N));
}
// A line edit with an object name (tests and the key map find controls by it).
QLineEdit* MakeEdit(QWidget* pParent, const char* pszName, int nMaxLength = 64);
std::string EditText(const QLineEdit* pEdit);
