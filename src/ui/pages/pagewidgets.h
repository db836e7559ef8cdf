// Small helpers the pages share: addresses as text, fixed fields as text, labelled rows.
#pragma once

#include "platform/wintypes.h"

#include <QString>

#include <cstring>
#include <map>
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

#include <QWidget>

class QComboBox;

// Frame rate, resolution and bit rate of one stream, as session mode codes; the checks are
// the shared stream checks (keys fps, res and bps under a prefix).
class CStreamFields : public QWidget {
    Q_OBJECT
public:
    CStreamFields(const std::string& strPrefix, QWidget* pParent);
    void SetMode(DWORD dwSessionMode);
    // Offers HD or not (it is offered until told); call before SetMode.
    void SetHD(bool bHD);
    // The keys for the checks; a combo without a choice gives an empty value.
    void AddKeys(std::map<std::string, std::string>& kv) const;
    QComboBox* GetFps() const { return m_pFps; }
    QComboBox* GetRes() const { return m_pRes; }
    QComboBox* GetBps() const { return m_pBps; }

private:
    std::string m_strPrefix;
    QComboBox* m_pFps;
    QComboBox* m_pRes;
    QComboBox* m_pBps;
};
