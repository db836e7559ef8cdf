#include "ui/main/dlglanguage.h"

#include "core/configfile.h"
#include "core/language.h"
#include "core/notify.h"
#include "core/notifyids.h"
#include "core/stringids.h"
#include "ui/main/mainmessage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QTranslator>
#include <QVBoxLayout>

namespace {

struct LanguageChoice {
    int nLanguageID;
    DWORD dwStringID;
};

constexpr LanguageChoice LANGUAGE_CHOICES[] = {
    {9, IDS_LANGUAGE_ENGLISH},
    {2052, IDS_LANGUAGE_CHINESE_SIP},
    {1028, IDS_LANGUAGE_CHINESE_TRA},
};

} // namespace

CDlgLanguage::CDlgLanguage(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(MainText(IDS_LANGUAGE_SELECT));
    setModal(true);
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;
    m_pCombo = new QComboBox(this);
    for (const LanguageChoice& choice : LANGUAGE_CHOICES)
        m_pCombo->addItem(MainText(choice.dwStringID), choice.nLanguageID);
    auto* pLabel = new QLabel(MainText(IDS_LANGUAGE), this);
    pLabel->setBuddy(m_pCombo);
    pForm->addRow(pLabel, m_pCombo);
    pLayout->addLayout(pForm);
    m_pCheckHide = new QCheckBox(MainText(IDS_MSG_NEXTNOTHISDLG), this);
    m_pCheckHide->setChecked(!GetConfigFileManager()->IsShowDialogue());
    pLayout->addWidget(m_pCheckHide);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
    SetLanguageID(GetLanguageManager()->GetCurrentLanguage());
}

int CDlgLanguage::GetLanguageID() const
{
    return m_pCombo->currentData().toInt();
}

void CDlgLanguage::SetLanguageID(int nLanguageID)
{
    const int nIndex = m_pCombo->findData(nLanguageID);
    if (nIndex >= 0)
        m_pCombo->setCurrentIndex(nIndex);
}

void CDlgLanguage::SetShowAtStartup(bool bShow)
{
    m_pCheckHide->setChecked(!bShow);
}

void CDlgLanguage::accept()
{
    const int nLanguageID = GetLanguageID();
    GetConfigFileManager()->SetShowDialogue(!m_pCheckHide->isChecked());
    QDialog::accept();
    if (nLanguageID != GetLanguageManager()->GetCurrentLanguage())
        ApplyLanguage(nLanguageID);
}

void CDlgLanguage::ApplyLanguage(int nLanguageID)
{
    GetConfigFileManager()->SetLanguageID(nLanguageID);
    GetLanguageManager()->LoadLanguage(nLanguageID);
    InstallToolkitTranslation(nLanguageID);
    // At start-up the dialog comes before any window that listens; raising an id nobody
    // subscribed to is a fatal check, and the choice would end the program.
    if (GetNotifyManager()->IsRegistered(DWORD_NOTIFYID_LANGUAGE_CHANGED))
        GetNotifyManager()->Notify(DWORD_NOTIFYID_LANGUAGE_CHANGED, 0);
}

void CDlgLanguage::InstallToolkitTranslation(int nLanguageID)
{
    static QTranslator* s_pTranslator = nullptr;
    if (s_pTranslator != nullptr) {
        QCoreApplication::removeTranslator(s_pTranslator);
        delete s_pTranslator;
        s_pTranslator = nullptr;
    }
    const QString strLocale = nLanguageID == 2052   ? QStringLiteral("zh_CN")
                              : nLanguageID == 1028 ? QStringLiteral("zh_TW")
                                                    : QString();
    if (strLocale.isEmpty() || QCoreApplication::instance() == nullptr)
        return;
    auto* pTranslator = new QTranslator(QCoreApplication::instance());
    if (!pTranslator->load(QStringLiteral("qtbase_") + strLocale,
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete pTranslator; // English then, as before
        return;
    }
    QCoreApplication::installTranslator(pTranslator);
    s_pTranslator = pTranslator;
}
