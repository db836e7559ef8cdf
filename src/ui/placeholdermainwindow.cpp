#include "ui/placeholdermainwindow.h"

#include "core/log.h"
#include "core/notifyids.h"
#include "device/devicemanager.h"
#include "device/devicenotifications.h"
#include "ui/pages/dlgcamconfigpane.h"
#include "ui/pages/dlgcamsetpane.h"
#include "ui/videopane.h"

#include "protocol/password.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QTimer>
#include <QCoreApplication>
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
    setMinimumSize(1100, 520);
    auto* pLayout = new QVBoxLayout(this);
    m_pList = new QTreeWidget(this);
    m_pList->setColumnCount(COL_COUNT);
    m_pList->setHeaderLabels({tr("Name"), tr("Serial"), tr("Id"), tr("Address"), tr("State")});
    m_pList->setRootIsDecorated(true);
    m_pList->header()->setStretchLastSection(true);
    // The camera list beside the live picture.
    auto* pRow = new QHBoxLayout;
    pRow->addWidget(m_pList, 2);
    auto* pLive = new QVBoxLayout;
    m_pVideoPane = new CDlgVideoPane(this);
    m_pVideoPane->setMinimumSize(480, 300);
    pLive->addWidget(m_pVideoPane, 1);
    pLive->addWidget(MakeLiveToolbar());
    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName(QStringLiteral("liveStatus"));
    pLive->addWidget(m_pStatus);
    connect(m_pVideoPane, &CDlgVideoPane::statisticsChanged, m_pStatus, &QLabel::setText);
    pRow->addLayout(pLive, 3);
    pLayout->addLayout(pRow);
    auto* pBtnConfigure = new QPushButton(tr("Configure"), this);
    connect(pBtnConfigure, &QPushButton::clicked, this, &CPlaceholderMainWindow::OnBtnSetConfig);
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, &CPlaceholderMainWindow::OnLiveView);
    pLayout->addWidget(pBtnConfigure, 0, Qt::AlignRight);

    const QStringList vArgs = QCoreApplication::arguments();
    if (const qsizetype nLive = vArgs.indexOf(QStringLiteral("--live")); nLive >= 0 && nLive + 1 < vArgs.size())
        m_strAutoLive = vArgs[nLive + 1];

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
    // "--live SERIAL" (scripted runs): live view of that camera as soon as it is online.
    if (bOnline && !m_strAutoLive.isEmpty() &&
        (m_strAutoLive == pItem->text(COL_SERIAL) || m_strAutoLive == pItem->text(COL_ID))) {
        m_strAutoLive.clear();
        m_pList->setCurrentItem(pItem);
        QTimer::singleShot(0, this, &CPlaceholderMainWindow::OnLiveView);
    }
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

QWidget* CPlaceholderMainWindow::MakeLiveToolbar()
{
    auto* pBar = new QWidget(this);
    auto* pLayout = new QHBoxLayout(pBar);
    pLayout->setContentsMargins(0, 0, 0, 0);
    auto* pSnapshot = new QPushButton(tr("Snapshot"), pBar);
    connect(pSnapshot, &QPushButton::clicked, m_pVideoPane, &CDlgVideoPane::TakeSnapshot);
    auto* pMic = new QPushButton(tr("Microphone"), pBar);
    pMic->setCheckable(true);
    connect(pMic, &QPushButton::toggled, m_pVideoPane, &CDlgVideoPane::SetMicrophone);
    auto* pSpeaker = new QPushButton(tr("Speaker"), pBar);
    pSpeaker->setCheckable(true);
    connect(pSpeaker, &QPushButton::toggled, m_pVideoPane, &CDlgVideoPane::SetSpeaker);
    auto* pStop = new QPushButton(tr("Stop"), pBar);
    connect(pStop, &QPushButton::clicked, this, [this, pMic, pSpeaker] {
        pMic->setChecked(false);
        pSpeaker->setChecked(false);
        GetDeviceManager()->CancelSelectDevice();
        m_pVideoPane->StopVideo();
    });
    for (QWidget* pWidget : {static_cast<QWidget*>(pSnapshot), static_cast<QWidget*>(pMic),
                             static_cast<QWidget*>(pSpeaker), static_cast<QWidget*>(pStop)})
        pLayout->addWidget(pWidget);
    // Brightness, contrast, hue and saturation, each -128..127 with 0 neutral.
    auto* apSliders = new QSlider*[4];
    const QString astrNames[4] = {tr("B"), tr("C"), tr("H"), tr("S")};
    for (int i = 0; i < 4; ++i) {
        pLayout->addWidget(new QLabel(astrNames[i], pBar));
        apSliders[i] = new QSlider(Qt::Horizontal, pBar);
        apSliders[i]->setRange(-128, 127);
        apSliders[i]->setValue(0);
        apSliders[i]->setMaximumWidth(80);
        pLayout->addWidget(apSliders[i]);
    }
    std::shared_ptr<QSlider*[]> pSliders(apSliders);
    for (int i = 0; i < 4; ++i)
        connect(apSliders[i], &QSlider::valueChanged, this, [this, pSliders] {
            m_pVideoPane->SetColorAdjust(pSliders[0]->value(), pSliders[1]->value(), pSliders[2]->value(),
                                         pSliders[3]->value());
        });
    pLayout->addStretch(1);
    return pBar;
}

void CPlaceholderMainWindow::OnLiveView()
{
    const QTreeWidgetItem* pItem = m_pList->currentItem();
    if (pItem == nullptr)
        return;
    CDeviceManager* pManager = GetDeviceManager();
    DeviceInfo* pDevice = pManager->GetDevice(pItem->text(COL_ID).toUInt(), CAMERA_MASK_ALL);
    if (pDevice == nullptr || pDevice->enCameraType == CAMERA_TYPE_PARENT)
        return;
    // A channel goes by its recorder's password.
    DeviceInfo* pOwner = pManager->GetParentDevice(pDevice->GetID());
    if (pOwner == nullptr)
        pOwner = pDevice;
    if (pOwner->stPassword.HasPassword() && !PasswordMatches(pOwner->stPassword)) {
        bool bOk = false;
        const QString strPassword = QInputDialog::getText(this, tr("Password"), tr("Password of %1:").arg(
                                                              QString::fromStdU16String(pOwner->GetName())),
                                                          QLineEdit::Password, QString(), &bOk);
        if (!bOk)
            return;
        BYTE abTyped[PASSWORD_LEN] = {};
        if (!PasswordFromText(strPassword.toStdString(), abTyped) || !CheckPassword(pOwner->stPassword, abTyped)) {
            QMessageBox::warning(this, windowTitle(), tr("The password is wrong."));
            return;
        }
    } else if (!pOwner->stPassword.HasPassword()) {
        MakeToken(pOwner->stPassword);
    }
    if (pOwner != pDevice)
        pDevice->stPassword = pOwner->stPassword;
    // Selection raises the stop and start commands the video pane follows.
    pManager->CancelSelectDevice();
    m_pVideoPane->StopVideo();
    pManager->SelectDevice(pDevice->GetID(), pDevice->enCameraType, PLAY_TYPE_REALTIME);
}
