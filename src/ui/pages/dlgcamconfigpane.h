// The "Configure" pane: the configuration pages of the selected camera in tabs, pages with
// sub-pages in tabs of their own. Any window can host it.
#pragma once

#include "ui/pages/pagecommands.h"

#include <QWidget>

#include <vector>

class CConfigPage;
class QTabWidget;

class CDlgCamConfigPane : public QWidget {
    Q_OBJECT
public:
    explicit CDlgCamConfigPane(const PageContext& context = PageContext(), QWidget* pParent = nullptr);

    QTabWidget* GetTabs() const { return m_pTabs; }
    // Every page, in tab order (sub-pages after their tab's first).
    const std::vector<CConfigPage*>& GetPages() const { return m_vecPages; }
    template <typename Page> Page* FindPage() const
    {
        for (CConfigPage* pPage : m_vecPages) {
            if (auto* pFound = dynamic_cast<Page*>(pPage))
                return pFound;
        }
        return nullptr;
    }

private:
    // Creates the page, initialises it and remembers it.
    template <typename Page, typename... Args> Page* AddPage(Args&&... args);

    PageContext m_context;
    QTabWidget* m_pTabs;
    std::vector<CConfigPage*> m_vecPages;
};
