#include "ui/pages/dlgapplyto.h"

#include "core/stringids.h"
#include "device/devicemanager.h"
#include "ui/pages/configpage.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A channel is present when its recorder is.
bool IsPresent(IDeviceManager* pManager, const DeviceInfo& device)
{
    if (device.enCameraType == CAMERA_TYPE_CHILD) {
        const DeviceInfo* pParent = pManager->GetParentDevice(device.GetID());
        return pParent != nullptr && pParent->bIsExist != 0;
    }
    return device.bIsExist != 0;
}

} // namespace

std::vector<ApplyToResult> ApplyToCameras(IDeviceManager* pManager, const std::vector<DWORD>& vecIDs,
                                          const std::function<void(DeviceInfo&)>& fnSend)
{
    std::vector<ApplyToResult> vecResults;
    for (const DWORD dwID : vecIDs) {
        ApplyToResult result;
        result.dwID = dwID;
        DeviceInfo* pDevice = pManager->GetDevice(dwID, CAMERA_MASK_VIDEO);
        if (pDevice != nullptr && IsPresent(pManager, *pDevice)) {
            fnSend(*pDevice);
            result.bSent = true;
        }
        vecResults.push_back(result);
    }
    return vecResults;
}

CDlgApplyTo::CDlgApplyTo(IDeviceManager* pManager, DWORD dwSkipID, QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(PageText(IDS_BTN_APPLYTO));
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(new QLabel(PageText(IDS_ST_CAMERALIST), this));
    m_pList = new QListWidget(this);
    m_pList->setMinimumSize(280, 200);
    SortedDeviceMap mapSorted;
    pManager->GetAllSortedDevices(mapSorted);
    auto fnAdd = [&](const DeviceInfo& device) {
        if (device.GetID() == dwSkipID)
            return;
        auto* pItem = new QListWidgetItem(QString::fromStdU16String(device.GetName()), m_pList);
        pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
        pItem->setCheckState(Qt::Unchecked);
        pItem->setData(Qt::UserRole, static_cast<qulonglong>(device.GetID()));
        if (!IsPresent(pManager, device))
            pItem->setToolTip(PageText(IDS_HINT_CAMERANOTONLINE));
    };
    for (const auto& [strName, pDevice] : mapSorted) {
        if (pDevice->enCameraType == CAMERA_TYPE_PARENT) {
            for (const auto& pChild : pDevice->vecChildren) {
                if (pChild != nullptr)
                    fnAdd(*pChild);
            }
        } else {
            fnAdd(*pDevice);
        }
    }
    pLayout->addWidget(m_pList);
    auto* pRow = new QHBoxLayout;
    auto* pBtnAll = new QPushButton(PageText(IDS_CC_SELECT_ALL), this);
    auto* pBtnInvert = new QPushButton(PageText(IDS_CC_SELECT_INVERT), this);
    connect(pBtnAll, &QPushButton::clicked, this, &CDlgApplyTo::OnBtnSelectAll);
    connect(pBtnInvert, &QPushButton::clicked, this, &CDlgApplyTo::OnBtnInvert);
    pRow->addWidget(pBtnAll);
    pRow->addWidget(pBtnInvert);
    pRow->addStretch(1);
    pLayout->addLayout(pRow);
    auto* pButtons = new QDialogButtonBox(this);
    pButtons->addButton(PageText(IDS_CTLTIP_OK), QDialogButtonBox::AcceptRole);
    pButtons->addButton(PageText(IDS_CTLTIP_CANCEL), QDialogButtonBox::RejectRole);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
}

std::vector<DWORD> CDlgApplyTo::GetChosen() const
{
    std::vector<DWORD> vecIDs;
    for (int i = 0; i < m_pList->count(); ++i) {
        const QListWidgetItem* pItem = m_pList->item(i);
        if (pItem->checkState() == Qt::Checked)
            vecIDs.push_back(static_cast<DWORD>(pItem->data(Qt::UserRole).toULongLong()));
    }
    return vecIDs;
}

void CDlgApplyTo::OnBtnSelectAll()
{
    for (int i = 0; i < m_pList->count(); ++i)
        m_pList->item(i)->setCheckState(Qt::Checked);
}

void CDlgApplyTo::OnBtnInvert()
{
    for (int i = 0; i < m_pList->count(); ++i) {
        QListWidgetItem* pItem = m_pList->item(i);
        pItem->setCheckState(pItem->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}
