// Keeps a tree of widgets in the current language: after a language change, each label, button,
// group title, list item, tab and tooltip that shows a table text of the previous language
// shows that text's new wording. Other texts (camera values) stay as their owners set them.
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

    // Shows the current language's wording of every table text the tree shows.
    void Relabel();
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

private:
    QWidget* m_pRoot;
    CNotifyManager* m_pBus;
    int m_nShownLanguage;
};
