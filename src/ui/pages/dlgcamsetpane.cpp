#include "ui/pages/dlgcamsetpane.h"

#include "core/stringids.h"
#include "ui/pages/dlgptz.h"

#include <QTabWidget>
#include <QVBoxLayout>

CDlgCamSetPane::CDlgCamSetPane(const PageContext& context, QWidget* pParent)
    : QWidget(pParent), m_context(context)
{
    auto* pLayout = new QVBoxLayout(this);
    m_pTabs = new QTabWidget(this);
    pLayout->addWidget(m_pTabs);
    auto* pPtz = new QTabWidget(this);
    CConfigPage* apPages[3] = {new CDlgCamSetPTZ(m_context, this), new CDlgPTZPreset(m_context, this),
                               new CDlgPTZScanSchedule(m_context, this)};
    const DWORD adwTabs[3] = {IDS_CTL_PAGE7, IDS_ST_PRESET, IDS_CC_SCANSCHEDULE};
    for (int i = 0; i < 3; ++i) {
        apPages[i]->OnInitDialog();
        m_vecPages.push_back(apPages[i]);
        pPtz->addTab(apPages[i], PageText(adwTabs[i]));
    }
    m_pTabs->addTab(pPtz, PageText(IDS_CTL_PAGE7));
}
