#include "ui/main/dlgupdatecam.h"

#include "core/stringids.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "protocol/engcmd.h"
#include "protocol/engoffcmd.h"
#include "ui/main/mainmessage.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>

namespace {

constexpr int ROLE_ID = Qt::UserRole + 1;
constexpr int ROLE_SERIAL = Qt::UserRole + 2;

QString ImageVersion(const QString& strPath, bool& bFound)
{
    return QString::fromLatin1(CFirmwareUpgrade::ImageVersion(strPath.toStdString(), &bFound));
}

QString DeviceName(const DeviceInfo& device)
{
    return QString::fromStdU16String(device.GetName());
}

} // namespace

CDlgUpdateCam::CDlgUpdateCam(QWidget* pParent)
    : QDialog(pParent), m_sender(CEngOffCmd::GetInstance(), GetEngCmd()),
      m_pWindow(std::make_unique<CUpgradeWindow>(CEngOffCmd::GetInstance(), GetEngCmd())),
      m_pUpgrade(std::make_unique<CFirmwareUpgrade>(&m_sender, m_pWindow.get(),
                                                    static_cast<IUpgradeListener*>(this)))
{
    m_pWindow->SetUpgrade(m_pUpgrade.get());
    setObjectName(QStringLiteral("dlgUpdateCam"));
    setWindowTitle(MainText(IDS_ST_UPDATETITLE));
    resize(720, 420);
    auto* pLayout = new QVBoxLayout(this);
    auto* pGrid = new QGridLayout;
    pGrid->addWidget(new QLabel(MainText(IDS_ST_COLUME1), this), 0, 0);
    pGrid->addWidget(new QLabel(MainText(IDS_ST_COLUME2), this), 0, 2);
    m_pUnselected = new QListWidget(this);
    m_pSelected = new QListWidget(this);
    pGrid->addWidget(m_pUnselected, 1, 0);
    pGrid->addWidget(m_pSelected, 1, 2);
    auto* pMove = new QVBoxLayout;
    auto* pBtnAdd = new QPushButton(MainText(IDS_BTN_ADD), this);
    auto* pBtnDelete = new QPushButton(MainText(IDS_BTN_DELETE), this);
    pMove->addStretch(1);
    pMove->addWidget(pBtnAdd);
    pMove->addWidget(pBtnDelete);
    pMove->addStretch(1);
    pGrid->addLayout(pMove, 1, 1);
    pGrid->setColumnStretch(0, 1);
    pGrid->setColumnStretch(2, 2);
    pLayout->addLayout(pGrid, 1);
    connect(pBtnAdd, &QPushButton::clicked, this, [this] {
        if (const QListWidgetItem* pItem = m_pUnselected->currentItem())
            SelectCamera(pItem->data(ROLE_ID).toUInt());
    });
    connect(m_pUnselected, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* pItem) { SelectCamera(pItem->data(ROLE_ID).toUInt()); });
    connect(pBtnDelete, &QPushButton::clicked, this, [this] {
        QListWidgetItem* pItem = m_pSelected->currentItem();
        // A camera being updated stays where it is.
        if (pItem == nullptr ||
            m_pUpgrade->FindEntry(pItem->data(ROLE_SERIAL).toByteArray().constData()) != nullptr)
            return;
        auto* pBack = new QListWidgetItem(pItem->data(Qt::UserRole + 3).toString(), m_pUnselected);
        pBack->setData(ROLE_ID, pItem->data(ROLE_ID));
        pBack->setData(ROLE_SERIAL, pItem->data(ROLE_SERIAL));
        delete pItem;
    });

    auto* pPath = new QHBoxLayout;
    pPath->addWidget(new QLabel(MainText(IDS_ST_IMAGEFILEPATH), this));
    m_pFolder = new QLineEdit(this);
    pPath->addWidget(m_pFolder, 1);
    auto* pBtnBrowse = new QPushButton(MainText(IDS_BTN_BROWSE), this);
    pPath->addWidget(pBtnBrowse);
    pLayout->addLayout(pPath);
    connect(pBtnBrowse, &QPushButton::clicked, this, [this] {
        const QString strFolder =
            QFileDialog::getExistingDirectory(this, MainText(IDS_ST_IMAGEFILEPATH), m_pFolder->text());
        if (!strFolder.isEmpty())
            SetImageFolder(strFolder);
    });
    connect(m_pFolder, &QLineEdit::editingFinished, this, &CDlgUpdateCam::ShowVersion);
    m_pVersion = new QLabel(this);
    pLayout->addWidget(m_pVersion);

    auto* pButtons = new QHBoxLayout;
    m_pBtnUpdate = new QPushButton(MainText(IDS_CTL_UPDATEFIRM), this);
    m_pBtnUpdate->setAutoDefault(false);
    pButtons->addWidget(m_pBtnUpdate);
    pButtons->addStretch(1);
    auto* pOk = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pOk, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pButtons->addWidget(pOk);
    pLayout->addLayout(pButtons);
    connect(m_pBtnUpdate, &QPushButton::clicked, this, &CDlgUpdateCam::OnBtnUpdate);
    FillLists();
    ShowVersion();
}

CDlgUpdateCam::~CDlgUpdateCam()
{
    // The window's timers call into the upgrade: it goes first.
    m_pWindow->SetUpgrade(nullptr);
}

void CDlgUpdateCam::FillLists()
{
    SortedDeviceMap mapSorted;
    GetDeviceManager()->GetAllSortedDevices(mapSorted);
    for (const auto& [strName, pDevice] : mapSorted) {
        // Channels take their recorder's firmware.
        auto* pItem = new QListWidgetItem(DeviceName(*pDevice), m_pUnselected);
        pItem->setData(ROLE_ID, static_cast<uint>(pDevice->GetID()));
        pItem->setData(ROLE_SERIAL, QByteArray(pDevice->GetSerial()));
    }
}

QListWidgetItem* CDlgUpdateCam::FindSelected(DWORD dwID) const
{
    for (int i = 0; i < m_pSelected->count(); ++i) {
        if (m_pSelected->item(i)->data(ROLE_ID).toUInt() == dwID)
            return m_pSelected->item(i);
    }
    return nullptr;
}

bool CDlgUpdateCam::SelectCamera(DWORD dwID)
{
    for (int i = 0; i < m_pUnselected->count(); ++i) {
        QListWidgetItem* pItem = m_pUnselected->item(i);
        if (pItem->data(ROLE_ID).toUInt() != dwID)
            continue;
        IDownloadRecordManager* pDownloads = GetDownloadRecordManager();
        if (pDownloads != nullptr && pDownloads->IsDownloading(dwID)) {
            ShowMainMessage(MainTextWithName(IDS_STOPDOWNLOAD_UPDATE_ONE, pItem->text()), this);
            return false;
        }
        auto* pSelected = new QListWidgetItem(pItem->text(), m_pSelected);
        pSelected->setData(ROLE_ID, pItem->data(ROLE_ID));
        pSelected->setData(ROLE_SERIAL, pItem->data(ROLE_SERIAL));
        pSelected->setData(Qt::UserRole + 3, pItem->text());
        delete pItem;
        return true;
    }
    return false;
}

void CDlgUpdateCam::SetImageFolder(const QString& strFolder)
{
    m_pFolder->setText(strFolder);
    ShowVersion();
}

void CDlgUpdateCam::ShowVersion()
{
    // The image itself pasted or typed in stands for its folder.
    const QFileInfo typed(m_pFolder->text());
    if (typed.isFile())
        m_pFolder->setText(typed.absolutePath());
    bool bFound = false;
    const QString strVersion = ImageVersion(
        QString::fromStdString(CFirmwareUpgrade::ImagePath(m_pFolder->text().toStdString())), bFound);
    m_pVersion->setText(bFound ? MainText(IDS_ST_VERSIONINDIR) + QLatin1Char(' ') + strVersion
                               : MainText(IDS_ST_NOTFINDVERSION));
}

QString CDlgUpdateCam::GetVersionText() const
{
    return m_pVersion->text();
}

QString CDlgUpdateCam::GetRowText(DWORD dwID) const
{
    const QListWidgetItem* pItem = FindSelected(dwID);
    return pItem != nullptr ? pItem->text() : QString();
}

void CDlgUpdateCam::OnBtnUpdate()
{
    IDownloadRecordManager* pDownloads = GetDownloadRecordManager();
    for (int i = 0; i < m_pSelected->count(); ++i) {
        if (pDownloads != nullptr &&
            pDownloads->IsDownloading(m_pSelected->item(i)->data(ROLE_ID).toUInt())) {
            ShowMainMessage(MainText(IDS_STOPDOWNLOAD_UPDATE), this);
            return;
        }
    }
    ShowVersion();
    // Without the image nothing is sent.
    bool bFound = false;
    ImageVersion(QString::fromStdString(CFirmwareUpgrade::ImagePath(m_pFolder->text().toStdString())),
                 bFound);
    if (!bFound) {
        // Each camera that would have been updated says why it was not.
        for (int i = 0; i < m_pSelected->count(); ++i) {
            QListWidgetItem* pItem = m_pSelected->item(i);
            if (m_pUpgrade->FindEntry(pItem->data(ROLE_SERIAL).toByteArray().constData()) == nullptr)
                pItem->setText(QStringLiteral("%1 (%2)").arg(pItem->data(Qt::UserRole + 3).toString(),
                                                             MainText(IDS_UPDATE_ERROPENFILE)));
        }
        return;
    }
    for (int i = 0; i < m_pSelected->count(); ++i) {
        const QListWidgetItem* pItem = m_pSelected->item(i);
        m_pUpgrade->AddCamera(pItem->data(ROLE_SERIAL).toByteArray().constData(),
                              pItem->data(ROLE_ID).toUInt());
    }
    m_pUpgrade->Start(m_pFolder->text().toStdString());
}

void CDlgUpdateCam::OnUpgradeText(const UpgradeEntry& entry, DWORD dwStringID, int nPercent)
{
    QListWidgetItem* pItem = FindSelected(static_cast<DWORD>(entry.uTimerID));
    if (pItem == nullptr)
        return;
    const QString strName = pItem->data(Qt::UserRole + 3).toString();
    pItem->setText(nPercent >= 0
                       ? QStringLiteral("%1 (%2 %3%)").arg(strName, MainText(dwStringID)).arg(nPercent)
                       : QStringLiteral("%1 (%2)").arg(strName, MainText(dwStringID)));
}

void CDlgUpdateCam::OnUpgradeRebooting(const UpgradeEntry& entry)
{
    GetDeviceManager()->OnFirmwareWritten(entry.szSerial);
}
