// Keeps a tree of widgets in the current language: notes which table text each label, button,
// group title, list item, tab and tooltip shows, and after a language change shows the new
// wording of those texts. Texts the widgets' owners set later (camera values, states) are
// theirs to renew.
#pragma once

#include "core/notify.h"

#include <QObject>

class QWidget;

class CTextRelabeler : public QObject, public INotifySink {
public:
    // Lives as pRoot's child and listens for the language change on pBus. A subtree with a
    // relabeler of its own is left to that one.
    CTextRelabeler(QWidget* pRoot, CNotifyManager* pBus);
    ~CTextRelabeler() override;

    // Notes the string ids of what the tree shows now, in the current language.
    void Record();
    // Shows the current language's texts for what was noted.
    void Relabel();
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QWidget* m_pRoot;
    CNotifyManager* m_pBus;
};
