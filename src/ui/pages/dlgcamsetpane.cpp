#include "ui/pages/dlgcamsetpane.h"

#include "core/stringids.h"
#include "ui/pages/dlgptz.h"
#include "ui/pages/pagecamera.h"
#include "ui/pages/pagecolor.h"
#include "ui/pages/pagequality.h"

#include <QStackedWidget>
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

    // One sensor page per family; the one of the selected camera's family shows itself when
    // it fills.
    auto* pSensor = new QStackedWidget(this);
    for (CConfigPage* pPage : {static_cast<CConfigPage*>(new CDlgCamSetCam9900(m_context, pSensor)),
                               static_cast<CConfigPage*>(new CDlgCamSetCam9P031(m_context, pSensor)),
                               static_cast<CConfigPage*>(new CDlgCamSetCamHDDome(m_context, pSensor))}) {
        pSensor->addWidget(pPage);
        pPage->OnInitDialog();
        m_vecPages.push_back(pPage);
    }
    m_pTabs->addTab(pSensor, PageText(IDS_CTL_PAGE8));
    CConfigPage* pQuality = new CDlgCamSetQuality(m_context, this);
    CConfigPage* pColor = new CDlgCamSetColor(m_context, this);
    for (const auto& [pPage, dwTab] :
         {std::pair{pQuality, IDS_CTL_PAGE9}, std::pair{pColor, IDS_CTL_PAGE10}}) {
        pPage->OnInitDialog();
        m_vecPages.push_back(pPage);
        m_pTabs->addTab(pPage, PageText(dwTab));
    }
}
