#include "ui/pages/pagewidgets.h"

#include "core/stringids.h"
#include "device/videoquality.h"
#include "protocol/viewerrecords.h"
#include "ui/pages/configpage.h"

#include <QComboBox>
#include <QFormLayout>
#include <QIntValidator>
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

CStreamFields::CStreamFields(const std::string& strPrefix, QWidget* pParent)
    : QWidget(pParent), m_strPrefix(strPrefix)
{
    const CVideoQuality& quality = GetVideoQuality();
    auto* pForm = new QFormLayout(this);
    pForm->setContentsMargins(0, 0, 0, 0);
    m_pFps = new QComboBox(this);
    for (int i = 0; i < quality.GetFpsCount(); ++i)
        m_pFps->addItem(QString::fromStdU16String(quality.GetFpsText(i)),
                        static_cast<uint>(quality.GetFpsValue(i)));
    m_pRes = new QComboBox(this);
    for (int i = 0; i < quality.GetResCount(TRUE); ++i)
        m_pRes->addItem(QString::fromStdU16String(quality.GetResText(i)),
                        static_cast<uint>(quality.GetResValue(i)));
    m_pBps = new QComboBox(this);
    m_pBps->setEditable(true);
    m_pBps->setValidator(new QIntValidator(0, 99999, m_pBps));
    for (const int nBps : {64, 128, 256, 512, 768, 1024, 1536, 2048, 3072, 4096, 6144, 8192, 10000})
        m_pBps->addItem(QString::number(nBps));
    m_pFps->setObjectName(QString::fromStdString(strPrefix + "fps"));
    m_pRes->setObjectName(QString::fromStdString(strPrefix + "res"));
    m_pBps->setObjectName(QString::fromStdString(strPrefix + "bps"));
    pForm->addRow(PageText(IDS_CTLTIP_FPS), m_pFps);
    pForm->addRow(PageText(IDS_CTLTIP_RES), m_pRes);
    pForm->addRow(PageText(IDS_CTLTIP_BPS), m_pBps);
}

void CStreamFields::SetMode(DWORD dwSessionMode)
{
    // Cameras report either code of a pair (25 or 30, CIF or QVGA): the list entry takes both.
    const CVideoQuality& quality = GetVideoQuality();
    m_pFps->setCurrentIndex(quality.GetFpsIndex(SessionModeFrameRate(dwSessionMode)));
    m_pRes->setCurrentIndex(quality.GetResIndex(SessionModeResolution(dwSessionMode)));
    m_pBps->setEditText(QString::number(SessionModeBitrate(dwSessionMode)));
}

void CStreamFields::SetHD(bool bHD)
{
    const CVideoQuality& quality = GetVideoQuality();
    const int nCount = quality.GetResCount(bHD ? TRUE : FALSE);
    while (m_pRes->count() > nCount)
        m_pRes->removeItem(m_pRes->count() - 1);
    for (int i = m_pRes->count(); i < nCount; ++i)
        m_pRes->addItem(QString::fromStdU16String(quality.GetResText(i)),
                        static_cast<uint>(quality.GetResValue(i)));
}

void CStreamFields::AddKeys(std::map<std::string, std::string>& kv) const
{
    kv[m_strPrefix + "fps"] =
        m_pFps->currentIndex() >= 0 ? std::to_string(m_pFps->currentData().toUInt()) : "";
    kv[m_strPrefix + "res"] =
        m_pRes->currentIndex() >= 0 ? std::to_string(m_pRes->currentData().toUInt()) : "";
    kv[m_strPrefix + "bps"] = m_pBps->currentText().toStdString();
}
