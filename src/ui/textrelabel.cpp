#include "ui/textrelabel.h"

#include "core/language.h"
#include "core/log.h"
#include "core/notifyids.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QTabBar>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

namespace {

// Marks a subtree that has a relabeler of its own.
constexpr char ROOT_PROPERTY[] = "vistrelRelabelRoot";

// One kind of text a widget shows: how many, read and write one.
struct TextSlot {
    const char* pszName;
    std::function<int(QWidget*)> fnCount;
    std::function<QString(QWidget*, int)> fnGet;
    std::function<void(QWidget*, int, const QString&)> fnSet;
};

template <class T> bool Is(QWidget* pWidget)
{
    return qobject_cast<T*>(pWidget) != nullptr;
}

const std::vector<TextSlot>& Slots()
{
    static const std::vector<TextSlot> s_slots = {
        {"vtText",
         [](QWidget* p) { return Is<QLabel>(p) || Is<QAbstractButton>(p) || Is<QGroupBox>(p) ? 1 : 0; },
         [](QWidget* p, int) {
             if (auto* pLabel = qobject_cast<QLabel*>(p))
                 return pLabel->text();
             if (auto* pButton = qobject_cast<QAbstractButton*>(p))
                 return pButton->text();
             return qobject_cast<QGroupBox*>(p)->title();
         },
         [](QWidget* p, int, const QString& str) {
             if (auto* pLabel = qobject_cast<QLabel*>(p))
                 pLabel->setText(str);
             else if (auto* pButton = qobject_cast<QAbstractButton*>(p))
                 pButton->setText(str);
             else
                 qobject_cast<QGroupBox*>(p)->setTitle(str);
         }},
        {"vtTip", [](QWidget*) { return 1; }, [](QWidget* p, int) { return p->toolTip(); },
         [](QWidget* p, int, const QString& str) { p->setToolTip(str); }},
        {"vtName", [](QWidget*) { return 1; }, [](QWidget* p, int) { return p->accessibleName(); },
         [](QWidget* p, int, const QString& str) { p->setAccessibleName(str); }},
        {"vtItem",
         [](QWidget* p) {
             auto* pCombo = qobject_cast<QComboBox*>(p);
             return pCombo != nullptr ? pCombo->count() : 0;
         },
         [](QWidget* p, int i) { return qobject_cast<QComboBox*>(p)->itemText(i); },
         [](QWidget* p, int i, const QString& str) { qobject_cast<QComboBox*>(p)->setItemText(i, str); }},
        {"vtTab",
         [](QWidget* p) {
             auto* pTabs = qobject_cast<QTabBar*>(p);
             return pTabs != nullptr ? pTabs->count() : 0;
         },
         [](QWidget* p, int i) { return qobject_cast<QTabBar*>(p)->tabText(i); },
         [](QWidget* p, int i, const QString& str) { qobject_cast<QTabBar*>(p)->setTabText(i, str); }},
    };
    return s_slots;
}

// pRoot and its descendants, without subtrees that have a relabeler of their own.
void Walk(QWidget* pRoot, QWidget* pWidget, const std::function<void(QWidget*)>& fnVisit)
{
    if (pWidget != pRoot && pWidget->property(ROOT_PROPERTY).toBool())
        return;
    fnVisit(pWidget);
    for (QObject* pChild : pWidget->children()) {
        if (auto* pChildWidget = qobject_cast<QWidget*>(pChild))
            Walk(pRoot, pChildWidget, fnVisit);
    }
}

} // namespace

namespace {

// The three languages' tables, to find the id of a text in the language it was shown in.
const CLanguageManager& TablesOf(int nLanguageID)
{
    static std::map<int, std::unique_ptr<CLanguageManager>> s_mapTables;
    std::unique_ptr<CLanguageManager>& pTables = s_mapTables[nLanguageID];
    if (pTables == nullptr) {
        pTables = std::make_unique<CLanguageManager>();
        pTables->LoadLanguage(nLanguageID);
    }
    return *pTables;
}

} // namespace

CTextRelabeler::CTextRelabeler(QWidget* pRoot, CNotifyManager* pBus)
    : QObject(pRoot), m_pRoot(pRoot), m_pBus(pBus),
      m_nShownLanguage(GetLanguageManager()->GetCurrentLanguage())
{
    pRoot->setProperty(ROOT_PROPERTY, true);
    Walk(m_pRoot, m_pRoot, [](QWidget* pWidget) { Track(pWidget); });
    if (m_pBus != nullptr)
        m_pBus->RegisterNotify(DWORD_NOTIFYID_LANGUAGE_CHANGED, this);
}

CTextRelabeler::~CTextRelabeler()
{
    if (m_pBus != nullptr)
        m_pBus->RemoveNotify(DWORD_NOTIFYID_LANGUAGE_CHANGED, this);
}

namespace {

QHash<QString, DWORD>& NotedIDs()
{
    static QHash<QString, DWORD> s_hashIDs;
    return s_hashIDs;
}

} // namespace

void CTextRelabeler::NoteText(DWORD dwStringID, const QString& strText)
{
    NotedIDs().insert(strText, dwStringID);
}

void CTextRelabeler::Track(QWidget* pWidget)
{
    const CLanguageManager* pLanguage = GetLanguageManager();
    const QHash<QString, DWORD>& hashNoted = NotedIDs();
    for (const TextSlot& slot : Slots()) {
        const int nCount = slot.fnCount(pWidget);
        QVariantList listIDs;
        bool bAny = false;
        for (int i = 0; i < nCount; ++i) {
            const QString strNow = slot.fnGet(pWidget, i);
            DWORD dwID = strNow.isEmpty() ? 0 : pLanguage->FindStringID(strNow.toStdU16String());
            // The id the text was built with, when it is one of several that read alike.
            if (const auto it = hashNoted.find(strNow);
                dwID != 0 && it != hashNoted.end() && pLanguage->GetString(*it) == strNow.toStdU16String())
                dwID = *it;
            listIDs.append(static_cast<uint>(dwID));
            bAny = bAny || dwID != 0;
        }
        pWidget->setProperty(slot.pszName, bAny ? QVariant(listIDs) : QVariant());
    }
}

void CTextRelabeler::Relabel()
{
    const CLanguageManager* pLanguage = GetLanguageManager();
    // What the tree shows was written in the language shown so far.
    const CLanguageManager& shown = TablesOf(m_nShownLanguage);
    Walk(m_pRoot, m_pRoot, [&](QWidget* pWidget) {
        for (const TextSlot& slot : Slots()) {
            const QVariantList listIDs = pWidget->property(slot.pszName).toList();
            const int nCount = std::min<int>(slot.fnCount(pWidget), static_cast<int>(listIDs.size()));
            for (int i = 0; i < nCount; ++i) {
                const DWORD dwID = listIDs[i].toUInt();
                // A control that its owner has set to something else since keeps it.
                if (dwID == 0 || slot.fnGet(pWidget, i).toStdU16String() != shown.GetString(dwID))
                    continue;
                slot.fnSet(pWidget, i, QString::fromStdU16String(pLanguage->GetString(dwID)));
            }
        }
    });
    m_nShownLanguage = pLanguage->GetCurrentLanguage();
}

void CTextRelabeler::NotifySink(DWORD dwNotifyID, UINT_PTR)
{
    FATAL_CHECK(dwNotifyID == DWORD_NOTIFYID_LANGUAGE_CHANGED);
    Relabel();
}
