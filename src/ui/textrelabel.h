// Keeps a tree of widgets in the current language: after a language change, each label, button,
// group title, list item, tab and tooltip that was built with a table text shows that text's new
// wording. The string ids are taken when the tree is built (and by Track for controls made
// later), so a text that arrives afterwards (a camera's name, a surveyed SSID, a server name)
// is never taken for a table text, even when it reads like one ("Wireless", "Camera").
// Texts built from a template are their owner's to rebuild.
#pragma once

#include "core/notify.h"

#include <QObject>
#include <QString>

class QWidget;

class CTextRelabeler : public QObject, public INotifySink {
public:
    // Lives as pRoot's child and listens for the language change on pBus (without a bus its
    // owner calls Relabel). A subtree with a relabeler of its own is left to that one.
    CTextRelabeler(QWidget* pRoot, CNotifyManager* pBus);
    ~CTextRelabeler() override;

    // Shows the current language's wording of every table text the tree was built with.
    void Relabel();
    // Takes the string ids of the table texts pWidget shows now (a control made after the tree).
    static void Track(QWidget* pWidget);
    // The id a text was last looked up by: several ids share some texts ("Confirm:"), and the
    // one a control was built with is the one to follow.
    static void NoteText(DWORD dwStringID, const QString& strText);
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

private:
    QWidget* m_pRoot;
    CNotifyManager* m_pBus;
    int m_nShownLanguage;
};
