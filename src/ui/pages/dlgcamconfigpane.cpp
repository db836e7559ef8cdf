#include "ui/pages/dlgcamconfigpane.h"

#include "core/stringids.h"
#include "ui/pages/configpage.h"
#include "ui/pages/dlgalarm.h"
#include "ui/pages/dlgalarmemail.h"
#include "ui/pages/dlgconfigmotion.h"
#include "ui/pages/dlgconfigsystem.h"
#include "ui/pages/dlgnetworkcable.h"
#include "ui/pages/dlgnetworklinks.h"
#include "ui/pages/dlgrecord.h"
#include "ui/pages/dlgsystemntp.h"
#include "ui/pages/dlgsystemrtsp.h"

#include <QTabWidget>
#include <QVBoxLayout>

template <typename Page, typename... Args> Page* CDlgCamConfigPane::AddPage(Args&&... args)
{
    auto* pPage = new Page(m_context, std::forward<Args>(args)..., this);
    pPage->OnInitDialog();
    m_vecPages.push_back(pPage);
    return pPage;
}

CDlgCamConfigPane::CDlgCamConfigPane(const PageContext& context, QWidget* pParent)
    : QWidget(pParent), m_context(context)
{
    auto* pLayout = new QVBoxLayout(this);
    m_pTabs = new QTabWidget(this);
    pLayout->addWidget(m_pTabs);

    auto* pNetwork = new QTabWidget(this);
    pNetwork->addTab(AddPage<CDlgNetworkCable>(), PageText(IDS_ST_NETWIRED));
    pNetwork->addTab(AddPage<CDlgNetworkWifiPane>(), PageText(IDS_CTL_WIFI));
    pNetwork->addTab(AddPage<CDlgWifiNetwork>(), PageText(IDS_CTL_WIFIBASIC));
    pNetwork->addTab(AddPage<CDlgWifiWebAuth>(), PageText(IDS_CMCC_WEB_AUTH));
    pNetwork->addTab(AddPage<CDlgNetworkWire3G>(), PageText(IDS_3G_MODE));
    m_pTabs->addTab(pNetwork, PageText(IDS_CTL_PAGE1));

    auto* pSystem = new QTabWidget(this);
    pSystem->addTab(AddPage<CDlgConfigSystem>(), PageText(IDS_CTL_PAGE2));
    pSystem->addTab(AddPage<CDlgSystemPassword>(), PageText(IDS_ST_PASSWORD));
    pSystem->addTab(AddPage<CDlgSystemNTP>(), PageText(IDS_CTLTIP_TIME));
    pSystem->addTab(AddPage<CDlgSystemRTSP>(), PageText(IDS_RTSP));
    pSystem->addTab(AddPage<CDlgSystemDome>(), PageText(IDS_TITLE_SETDOME));
    m_pTabs->addTab(pSystem, PageText(IDS_CTL_PAGE2));

    m_pTabs->addTab(AddPage<CDlgConfigMotionDetection>(), PageText(IDS_CTL_PAGE3));

    auto* pAlarm = new QTabWidget(this);
    pAlarm->addTab(AddPage<CDlgAlarmEmail>(), PageText(IDS_BTN_ALARMEVENT));
    pAlarm->addTab(AddPage<CDlgAlarmTriggers>(false), PageText(IDS_BTN_DOEVENT));
    pAlarm->addTab(AddPage<CDlgAlarmTriggers>(true), PageText(IDS_ALARM_SHORTMESSAGE));
    pAlarm->addTab(AddPage<CDlgAlarmSnapshotServer>(), PageText(IDS_SNAPSHOT_SERVER));
    pAlarm->addTab(AddPage<CDlgAlarmTime>(), PageText(IDS_ALARM_TIME));
    m_pTabs->addTab(pAlarm, PageText(IDS_CTL_PAGE4));
    m_pTabs->addTab(AddPage<CDlgConfigSDRecord>(), PageText(IDS_CTL_PAGE5));
    m_pTabs->addTab(AddPage<CDlgConfigNASRecord>(), PageText(IDS_CTL_PAGE6));
}
