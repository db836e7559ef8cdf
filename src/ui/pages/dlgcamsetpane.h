// The camera-setting pane: pan, tilt and zoom with its presets and patrol tour, the sensor page of
// the camera's family, the live stream's quality and the picture's colour. Any window can host it.
#pragma once

#include "ui/pages/pagecommands.h"

#include <QWidget>

#include <vector>

class CConfigPage;
class QTabWidget;

class CDlgCamSetPane : public QWidget {
    Q_OBJECT
public:
    explicit CDlgCamSetPane(const PageContext& context = PageContext(), QWidget* pParent = nullptr);

    QTabWidget* GetTabs() const { return m_pTabs; }
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
    PageContext m_context;
    QTabWidget* m_pTabs;
    std::vector<CConfigPage*> m_vecPages;
};
