#include "ui/placeholdermainwindow.h"

#include "core/log.h"
#include "core/notifyids.h"
#include "device/devicemanager.h"
#include "device/devicenotifications.h"
#include "ui/pages/dlgcamconfigpane.h"
#include "ui/pages/dlgcamsetpane.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <arpa/inet.h>

namespace {

enum Column { COL_NAME, COL_SERIAL, COL_ID, COL_ADDRESS, COL_STATE, COL_COUNT };

QString AddressText(DWORD dwIP)
{
    in_addr addr{};
    addr.s_addr = htonl(dwIP);
    char szText[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, szText, sizeof(szText));
    return QString::fromLatin1(szText);
}

} // namespace

CPlaceholderMainWindow::CPlaceholderMainWindow(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("Vistrel"));
    setMinimumSize(720, 420);
    auto* pLayout = new QVBoxLayout(this);
    m_pList = new QTreeWidget(this);
    m_pList->setColumnCount(COL_COUNT);
    m_pList->setHeaderLabels({tr("Name"), tr("Serial"), tr("Id"), tr("Address"), tr("State")});
    m_pList->setRootIsDecorated(true);
    m_pList->header()->setStretchLastSection(true);
    pLayout->addWidget(m_pList);
    auto* pBtnConfigure = new QPushButton(tr("Configure"), this);
    connect(pBtnConfigure, &QPushButton::clicked, this, &CPlaceholderMainWindow::OnBtnSetConfig);
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, &CPlaceholderMainWindow::OnBtnSetConfig);
    pLayout->addWidget(pBtnConfigure, 0, Qt::AlignRight);

    CNotifyManager* pNotify = GetNotifyManager();
    for (DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
        pNotify->RegisterNotify(dwID, this);
    try {
        GetDeviceManager()->SearchDevices(10000);
    } catch (...) {
        // No destructor runs for a half-built window: the bus must not keep our address.
        for (DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
            pNotify->RemoveNotify(dwID, this);
        throw;
    }
}

CPlaceholderMainWindow::~CPlaceholderMainWindow()
{
    CNotifyManager* pNotify = GetNotifyManager();
    for (DWORD dwID : DEVICE_MANAGER_NOTIFICATIONS)
        pNotify->RemoveNotify(dwID, this);
}

void CPlaceholderMainWindow::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    if (dwNotifyID != DWORD_NOTIFYID_CAMERA_EXIST_ONLINE &&
        dwNotifyID != DWORD_NOTIFYID_CAMERA_EXIST_OFFLINE && dwNotifyID != DWORD_NOTIFYID_CAMERA_LIST_INFO)
        return;
    const auto* pDevice = reinterpret_cast<const DeviceInfo*>(dwParam);
    if (pDevice == nullptr)
        return;
    if (g_nDebugLevel >= 3) {
        const std::string strName = QString::fromStdU16String(pDevice->GetName()).toStdString();
        WriteLog(3, "CPlaceholderMainWindow::NotifySink: dwNotifyID:%u, dwDVIPID:%u, szName:%s", dwNotifyID,
                 pDevice->GetID(), strName.c_str());
    }
    ShowDevice(*pDevice, dwNotifyID != DWORD_NOTIFYID_CAMERA_EXIST_OFFLINE);
}

QTreeWidgetItem* CPlaceholderMainWindow::FindItem(DWORD dwID) const
{
    const QString strID = QString::number(dwID);
    const auto found = m_pList->findItems(strID, Qt::MatchExactly | Qt::MatchRecursive, COL_ID);
    return found.isEmpty() ? nullptr : found.front();
}

void CPlaceholderMainWindow::ShowDevice(const DeviceInfo& device, bool bOnline)
{
    QTreeWidgetItem* pItem = FindItem(device.GetID());
    if (pItem == nullptr) {
        QTreeWidgetItem* pParentItem = nullptr;
        if (const DeviceInfo* pParent = GetDeviceManager()->GetParentDevice(device.GetID()))
            pParentItem = FindItem(pParent->GetID());
        pItem = pParentItem != nullptr ? new QTreeWidgetItem(pParentItem) : new QTreeWidgetItem(m_pList);
        if (pParentItem != nullptr)
            pParentItem->setExpanded(true);
    }
    pItem->setText(COL_NAME, QString::fromStdU16String(device.GetName()));
    pItem->setText(COL_SERIAL, QString::fromLatin1(device.GetSerial()));
    pItem->setText(COL_ID, QString::number(device.GetID()));
    pItem->setText(COL_ADDRESS, AddressText(device.stItem.dwIP));
    pItem->setText(COL_STATE, bOnline ? tr("online") : tr("offline"));
    // A recorder's channels are announced through the recorder.
    for (const auto& pChild : device.vecChildren) {
        if (pChild == nullptr)
            continue;
        QTreeWidgetItem* pChildItem = FindItem(pChild->GetID());
        if (pChildItem == nullptr) {
            pChildItem = new QTreeWidgetItem(pItem);
            pItem->setExpanded(true);
        }
        pChildItem->setText(COL_NAME, QString::fromStdU16String(pChild->GetName()));
        pChildItem->setText(COL_SERIAL, QString::fromLatin1(pChild->GetSerial()));
        pChildItem->setText(COL_ID, QString::number(pChild->GetID()));
        pChildItem->setText(COL_ADDRESS, AddressText(pChild->stItem.dwIP));
        pChildItem->setText(COL_STATE, bOnline ? tr("online") : tr("offline"));
    }
}

void CPlaceholderMainWindow::OnBtnSetConfig()
{
    const QTreeWidgetItem* pItem = m_pList->currentItem();
    if (pItem == nullptr)
        return;
    CDeviceManager* pManager = GetDeviceManager();
    const DeviceInfo* pDevice = pManager->GetDevice(pItem->text(COL_ID).toUInt(), CAMERA_MASK_ALL);
    if (pDevice == nullptr)
        return;
    // The pages show the selected camera: select the one chosen here. A recorder has no
    // settings or video of its own; its pages stay empty.
    pManager->CancelSelectDevice();
    if (pDevice->enCameraType != CAMERA_TYPE_PARENT)
        pManager->SelectDevice(pDevice->GetID(), pDevice->enCameraType, PLAY_TYPE_REALTIME);
    if (m_pConfigure == nullptr) {
        m_pConfigure = new QDialog(this);
        m_pConfigure->setWindowTitle(tr("Configure"));
        auto* pLayout = new QVBoxLayout(m_pConfigure);
        auto* pPanes = new QHBoxLayout;
        pPanes->addWidget(new CDlgCamConfigPane(PageContext(), m_pConfigure), 1);
        pPanes->addWidget(new CDlgCamSetPane(PageContext(), m_pConfigure));
        pLayout->addLayout(pPanes);
    }
    m_pConfigure->show();
    m_pConfigure->raise();
}
