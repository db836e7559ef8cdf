#include "ui/main/camlist.h"

#include "core/log.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "device/idownloadmanager.h"
#include "pcrec/pcrecindex.h"
#include "ui/main/dlgpassword.h"
#include "ui/main/dlgpcrecord.h"
#include "ui/main/dlgrtspshare.h"
#include "ui/main/mainmessage.h"
#include "ui/main/pcrecording.h"
#include "ui/videogrid.h"

#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>

namespace {

// Column 0 shows the name; the id rides along as item data.
constexpr int ROLE_ID = Qt::UserRole + 1;
// A camera known only from the recordings on this PC: its serial in their index, its name.
constexpr int ROLE_RECORDED_SERIAL = Qt::UserRole + 2;
constexpr int ROLE_RECORDED_NAME = Qt::UserRole + 3;

// The status mark: green while the camera records, amber when recording is set but idle, grey
// when the card does not record, blue for a camera whose recording is not known (no card, or its
// settings have not come yet). Each state has a shape of its own too (a dot, a ring, a bar, a
// question mark), so that it reads without telling the colours apart. The list is filled anew at
// every change of a camera: a new icon each time would leave a new scaled copy in the pixmap
// cache at each paint, so each state's icon is drawn once and kept.
QIcon StatusIcon(DWORD dwTipID, std::map<int, QIcon>& mapIcons)
{
    enum class Shape { Dot, Ring, Bar, Unknown };
    QColor color(0x2f, 0x7f, 0xc1);
    Shape enShape = Shape::Unknown;
    if (dwTipID == IDS_CAMERA_SD_RECORDING || dwTipID == IDS_CAMERA_NAS_RECORDING) {
        color = QColor(0x2e, 0xa0, 0x43);
        enShape = Shape::Dot;
    } else if (dwTipID == IDS_CAMERA_SD_ENABLE_NOT_RECORDING ||
               dwTipID == IDS_CAMERA_NAS_ENABLE_NOT_RECORDING) {
        color = QColor(0xd9, 0x8c, 0x1f);
        enShape = Shape::Ring;
    } else if (dwTipID == IDS_CAMERA_SD_NOT_ENABLE_RECORD) {
        color = QColor(0x8a, 0x94, 0x9e);
        enShape = Shape::Bar;
    }
    const auto it = mapIcons.find(static_cast<int>(enShape));
    if (it != mapIcons.end())
        return it->second;
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (enShape) {
    case Shape::Dot:
        painter.setPen(QPen(color.darker(140), 2));
        painter.setBrush(color);
        painter.drawEllipse(QRectF(5, 5, 22, 22));
        break;
    case Shape::Ring:
        painter.setPen(QPen(color, 6));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(7, 7, 18, 18));
        break;
    case Shape::Bar:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(4, 12, 24, 8), 3, 3);
        break;
    case Shape::Unknown: {
        painter.setPen(QPen(color.darker(140), 2));
        painter.setBrush(color);
        painter.drawEllipse(QRectF(5, 5, 22, 22));
        QFont font = painter.font();
        font.setPixelSize(18);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(5, 5, 22, 22), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    }
    return mapIcons.emplace(static_cast<int>(enShape), QIcon(pixmap)).first->second;
}

// Rows dragged out carry their camera's id, for a pane of the live view to take.
class CCamTree : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

protected:
    QStringList mimeTypes() const override { return {QLatin1String(CAMERA_MIME)}; }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override
    {
        if (items.isEmpty())
            return nullptr;
        auto* pData = new QMimeData;
        pData->setData(QLatin1String(CAMERA_MIME),
                       QByteArray::number(items.front()->data(0, ROLE_ID).toUInt()));
        return pData;
    }
};

bool DeviceDownloading(DWORD dwID)
{
    IDownloadRecordManager* pDownloads = GetDownloadRecordManager();
    return pDownloads != nullptr && pDownloads->IsDownloading(dwID);
}

} // namespace

DWORD CamStatusTipID(const DeviceInfo& device)
{
    // NAS recording wins when a share is set up; otherwise the card's state. A recording that is
    // set up but has not written anything to the card counts as idle.
    const RecordInfo& nas = device.stRecordNas;
    if (device.stQuery.bCmdGetRecordNas != 0 && nas.szNasPath[0] != '\0' && nas.dwSessionMode != 0)
        return device.stSDInfo.byState != 0 ? IDS_CAMERA_NAS_RECORDING : IDS_CAMERA_NAS_ENABLE_NOT_RECORDING;
    if (device.stItem.bHasSD == 0 || device.stQuery.bCmdGetRecordSD == 0)
        return IDS_CAMERA;
    if (device.stRecordSD.dwSessionMode == 0)
        return IDS_CAMERA_SD_NOT_ENABLE_RECORD;
    return device.stSDInfo.byState != 0 ? IDS_CAMERA_SD_RECORDING : IDS_CAMERA_SD_ENABLE_NOT_RECORDING;
}

CDlgDeviceListBase::CDlgDeviceListBase(DWORD enPlayType, QWidget* pParent)
    : QWidget(pParent), m_enPlayType(enPlayType)
{
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    m_pTree = new CCamTree(this);
    m_pTree->setObjectName(QStringLiteral("camList"));
    m_pTree->setColumnCount(1);
    m_pTree->setHeaderHidden(true);
    m_pTree->setRootIsDecorated(true);
    m_pTree->setIconSize(QSize(16, 16));
    m_pTree->header()->setStretchLastSection(true);
    pLayout->addWidget(m_pTree, 1);
    m_pButtons = new QVBoxLayout;
    pLayout->addLayout(m_pButtons);
    // A double click outside the rows gives no item and so is ignored.
    connect(m_pTree, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* pItem, int) { OnItemActivated(pItem); });
    m_pStatusTimer = new QTimer(this);
    m_pStatusTimer->setInterval(1000);
    connect(m_pStatusTimer, &QTimer::timeout, this, &CDlgDeviceListBase::UpdateStatus);
    m_pStatusTimer->start();
}

void CDlgDeviceListBase::UpdateStatus()
{
    CDeviceManager* pManager = GetDeviceManager();
    for (QTreeWidgetItemIterator it(m_pTree); *it != nullptr; ++it) {
        const DeviceInfo* pDevice = pManager->GetDevice((*it)->data(0, ROLE_ID).toUInt(), CAMERA_MASK_ALL);
        if (pDevice == nullptr)
            continue;
        const QString strTip = MainText(CamStatusTipID(*pDevice));
        if ((*it)->toolTip(0) != strTip)
            FillItem(*it, *pDevice);
    }
}

void CDlgDeviceListBase::SetOrderByName(bool bByName)
{
    m_bOrderByName = bByName;
    RefreshList();
}

void CDlgDeviceListBase::Retranslate()
{
    RefreshList();
}

void CDlgDeviceListBase::FillItem(QTreeWidgetItem* pItem, const DeviceInfo& device)
{
    const DWORD dwTipID = CamStatusTipID(device);
    pItem->setText(0, QString::fromStdU16String(device.GetName()));
    pItem->setData(0, ROLE_ID, static_cast<uint>(device.GetID()));
    pItem->setToolTip(0, MainText(dwTipID));
    // A screen reader reads the state with the name, as the tooltip shows it.
    pItem->setData(
        0, Qt::AccessibleTextRole,
        QStringLiteral("%1, %2").arg(QString::fromStdU16String(device.GetName()), MainText(dwTipID)));
    pItem->setIcon(0, StatusIcon(dwTipID, m_mapStatusIcons));
    // A camera recording on this PC carries a mark after its name.
    const CPcRecordingUi* pRecording = FindPcRecordingUi();
    if (pRecording != nullptr && pRecording->IsRecording(device.GetID())) {
        pItem->setText(0, pItem->text(0) + QStringLiteral(" \u25CF"));
        pItem->setToolTip(0, pItem->toolTip(0) + QLatin1Char('\n') + MainText(IDS_PCREC_MARK));
    }
}

void CDlgDeviceListBase::RefreshList()
{
    CDeviceManager* pManager = GetDeviceManager();
    const QTreeWidgetItem* pCurrent = m_pTree->currentItem();
    const uint uCurrent = pCurrent != nullptr ? pCurrent->data(0, ROLE_ID).toUInt() : 0;

    std::vector<DeviceInfo*> vecDevices;
    if (m_bOrderByName) {
        SortedDeviceMap mapSorted;
        pManager->GetAllSortedDevices(mapSorted);
        for (const auto& entry : mapSorted)
            vecDevices.push_back(entry.second);
    } else {
        for (const auto& [dwID, pDevice] : pManager->GetDevices()) {
            if (pDevice->bIsExist)
                vecDevices.push_back(pDevice);
        }
    }

    m_pTree->setUpdatesEnabled(false);
    m_pTree->clear();
    QTreeWidgetItem* pSelect = nullptr;
    for (DeviceInfo* pDevice : vecDevices) {
        auto* pItem = new QTreeWidgetItem(m_pTree);
        FillItem(pItem, *pDevice);
        if (pDevice->GetID() == uCurrent)
            pSelect = pItem;
        for (const auto& pChild : pDevice->vecChildren) {
            if (pChild == nullptr)
                continue;
            auto* pChildItem = new QTreeWidgetItem(pItem);
            FillItem(pChildItem, *pChild);
            if (pChild->GetID() == uCurrent)
                pSelect = pChildItem;
        }
        pItem->setExpanded(true);
    }
    AppendRows(vecDevices);
    if (pSelect != nullptr)
        m_pTree->setCurrentItem(pSelect);
    m_pTree->setUpdatesEnabled(true);
}

void CDlgDeviceListBase::ShowCurrent(DWORD dwID)
{
    for (QTreeWidgetItemIterator it(m_pTree); *it != nullptr; ++it) {
        if ((*it)->data(0, ROLE_ID).toUInt() == dwID) {
            m_pTree->setCurrentItem(*it);
            return;
        }
    }
    m_pTree->setCurrentItem(nullptr);
    m_pTree->clearSelection();
}

void CDlgDeviceListBase::OnItemActivated(QTreeWidgetItem* pItem)
{
    if (pItem == nullptr)
        return;
    OpenDevice(pItem->data(0, ROLE_ID).toUInt());
}

DWORD CDlgDeviceListBase::RefuseOpen(const DeviceInfo&) const
{
    return 0;
}

bool CDlgDeviceListBase::OpenDevice(DWORD dwID)
{
    CDeviceManager* pManager = GetDeviceManager();
    DeviceInfo* pDevice = pManager->GetDevice(dwID, CAMERA_MASK_ALL);
    if (pDevice == nullptr)
        return false;
    VLOG(3, "CDlgDeviceListBase::OpenDevice: id:%u, enPlayType:%u", dwID, m_enPlayType);
    // A recorder has no video of its own; its channels are opened one by one.
    if (pDevice->enCameraType == CAMERA_TYPE_PARENT)
        return false;

    if (!EnsureDevicePassword(*pDevice, this))
        return false;

    if (const DWORD dwRefusal = RefuseOpen(*pDevice); dwRefusal != 0) {
        ShowMainMessage(MainText(dwRefusal), this);
        return false;
    }

    if (m_fnOpen)
        return m_fnOpen(pDevice);
    pManager->CancelSelectDevice();
    pManager->SelectDevice(pDevice->GetID(), pDevice->enCameraType, m_enPlayType);
    return true;
}

// --- Live view ---

CDlgRealplayCamList::CDlgRealplayCamList(QWidget* pParent) : CDlgDeviceListBase(PLAY_TYPE_REALTIME, pParent)
{
    // A camera dragged onto a pane of the live view shows there.
    GetTree()->setDragEnabled(true);
    GetTree()->setDragDropMode(QAbstractItemView::DragOnly);
    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName(QStringLiteral("searchStatus"));
    m_pBtnOrder = new QPushButton(this);
    m_pBtnOrder->setCheckable(true);
    m_pBtnSearch = new QPushButton(this);
    ButtonArea()->addWidget(m_pStatus);
    // One above the other: side by side they do not fit a narrow list in every language.
    ButtonArea()->addWidget(m_pBtnOrder);
    ButtonArea()->addWidget(m_pBtnSearch);
    connect(m_pBtnOrder, &QPushButton::toggled, this, [this](bool bChecked) { SetOrderByName(bChecked); });
    connect(m_pBtnSearch, &QPushButton::clicked, this, [this] {
        SetScanning(true);
        GetDeviceManager()->ReSearchDevices();
    });
    GetTree()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(GetTree(), &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& pt) {
        QMenu menu(this);
        FillRecordMenu(menu, GetTree()->itemAt(pt));
        menu.exec(GetTree()->viewport()->mapToGlobal(pt));
    });
    Retranslate();
}

void CDlgRealplayCamList::FillRecordMenu(QMenu& menu, QTreeWidgetItem* pItem)
{
    CPcRecordingUi* pRecording = GetPcRecordingUi();
    connect(pRecording, &CPcRecordingUi::changed, this, &CDlgRealplayCamList::RefreshList,
            Qt::UniqueConnection);
    const DWORD dwID = pItem != nullptr ? pItem->data(0, ROLE_ID).toUInt() : 0;
    const DeviceInfo* pDevice = dwID != 0 ? GetDeviceManager()->GetDevice(dwID, CAMERA_MASK_VIDEO) : nullptr;
    // A recorder has no video of its own: its channels record.
    if (pDevice != nullptr && pDevice->enCameraType != CAMERA_TYPE_PARENT) {
        QAction* pRecord = menu.addAction(MainText(IDS_PCREC_RECORD));
        pRecord->setCheckable(true);
        pRecord->setChecked(pRecording->IsRecording(dwID));
        connect(pRecord, &QAction::triggered, this, [this, pRecording, dwID] {
            const DeviceInfo* pNow = GetDeviceManager()->GetDevice(dwID, CAMERA_MASK_VIDEO);
            QString strError;
            if (pNow != nullptr && !pRecording->Toggle(*pNow, strError))
                ShowMainMessage(strError, this);
        });
    }
    QAction* pSettings = menu.addAction(MainText(IDS_PCREC_SETTINGS));
    connect(pSettings, &QAction::triggered, this, [this, pRecording] {
        CDlgPcRecord dlg(*pRecording, this);
        dlg.exec();
    });
    QAction* pShare = menu.addAction(MainText(IDS_RTSP_SETTINGS));
    connect(pShare, &QAction::triggered, this, [this] {
        CDlgRtspShare dlg(*GetRtspSharingUi(), this);
        dlg.exec();
    });
}

void CDlgRealplayCamList::Retranslate()
{
    m_pBtnOrder->setText(MainText(IDS_CTLTIP_NAMESORT));
    m_pBtnSearch->setText(MainText(IDS_CTL_SEARCHCAMERA));
    ShowScanState();
    CDlgDeviceListBase::Retranslate();
}

void CDlgRealplayCamList::SetScanning(bool bScanning)
{
    // A finish after the first (the engine's own sweeps) changes nothing shown.
    if (!bScanning && m_enScan == ScanState::Idle)
        return;
    m_enScan = bScanning ? ScanState::Scanning : ScanState::Finished;
    ShowScanState();
}

void CDlgRealplayCamList::ShowScanState()
{
    if (m_enScan == ScanState::Idle)
        m_pStatus->clear();
    else
        m_pStatus->setText(MainText(m_enScan == ScanState::Scanning ? IDS_CTL_SCANNING : IDS_CTL_NOSCANNING));
}

QString CDlgRealplayCamList::GetStatusText() const
{
    return m_pStatus->text();
}

// --- Playback ---

CDlgPlaybackCamList::CDlgPlaybackCamList(QWidget* pParent) : CDlgDeviceListBase(PLAY_TYPE_PLAYBACK, pParent)
{
    m_pBtnAuto = new QPushButton(this);
    m_pBtnSD = new QPushButton(this);
    m_pBtnNas = new QPushButton(this);
    m_pBtnPc = new QPushButton(this);
    m_pBtnPc->setObjectName(QStringLiteral("sourcePc"));
    // The source decides the play type the next opened camera is selected with: the card's
    // recordings, the second kind for recordings on the share, or this PC's recordings.
    const std::pair<QPushButton*, DWORD> sources[] = {{m_pBtnAuto, PLAY_TYPE_PLAYBACK},
                                                      {m_pBtnSD, PLAY_TYPE_PLAYBACK},
                                                      {m_pBtnNas, PLAY_TYPE_PLAYBACK_OPT},
                                                      {m_pBtnPc, PLAY_TYPE_PLAYBACK_PC}};
    for (const auto& [pButton, enPlayType] : sources) {
        pButton->setCheckable(true);
        pButton->setAutoExclusive(true);
        ButtonArea()->addWidget(pButton);
        connect(pButton, &QPushButton::clicked, this, [this, enPlayType = enPlayType] {
            // The PC's recordings bring the cameras they alone know into the list, and take them
            // out again.
            const bool bChanged =
                (enPlayType == PLAY_TYPE_PLAYBACK_PC) != (m_enPlayType == PLAY_TYPE_PLAYBACK_PC);
            m_enPlayType = enPlayType;
            if (bChanged)
                RefreshList();
        });
    }
    m_pBtnAuto->setChecked(true);
    Retranslate();
}

void CDlgPlaybackCamList::Retranslate()
{
    m_pBtnAuto->setText(MainText(IDS_PLAYSOURCE_PBAUTO));
    m_pBtnSD->setText(MainText(IDS_PLAYSOURCE_PBSDCARD));
    m_pBtnNas->setText(MainText(IDS_PLAYSOURCE_PBNAS));
    m_pBtnPc->setText(MainText(IDS_PLAYSOURCE_PBPC));
    // A screen reader names each source as it reads.
    for (QPushButton* pButton : {m_pBtnAuto, m_pBtnSD, m_pBtnNas, m_pBtnPc})
        pButton->setAccessibleName(pButton->text());
    CDlgDeviceListBase::Retranslate();
}

DWORD CDlgPlaybackCamList::RefuseOpen(const DeviceInfo& device) const
{
    // A card taken by another viewer is only known from the camera's answer to the start of
    // playback (video status 4), which the main window reports; a stale status must not lock the
    // camera out once the other viewer has gone. The PC's own recordings do not need the card.
    if (m_enPlayType != PLAY_TYPE_PLAYBACK_PC && DeviceDownloading(device.GetID()))
        return IDS_STOPDOWNLOAD_PLAYBACK;
    return 0;
}

void CDlgPlaybackCamList::AppendRows(const std::vector<DeviceInfo*>& vecDevices)
{
    if (m_enPlayType != PLAY_TYPE_PLAYBACK_PC)
        return;
    const std::string strFolder = GetPcRecordingUi()->Settings().strFolder;
    std::error_code ec;
    // Nothing recorded yet: no index to make here.
    if (!std::filesystem::exists(std::filesystem::path(strFolder) / CPcRecIndex::FILE_NAME, ec))
        return;
    CPcRecIndex index;
    std::string strError;
    // A reader leaves the files to the recorder, which may be writing some of them now.
    if (!index.Open(strFolder, false, strError, false)) {
        VLOG(1, "Playback list: no index in %s: %s", strFolder.c_str(), strError.c_str());
        return;
    }
    // The recorder names its folders and rows by the serial made safe for a file name.
    std::set<std::string> setListed;
    for (const DeviceInfo* pDevice : vecDevices) {
        setListed.insert(
            SafeSerial(std::string(pDevice->GetSerial(), strnlen(pDevice->GetSerial(), VIEWER_SERIAL_LEN))));
        for (const auto& pChild : pDevice->vecChildren) {
            if (pChild != nullptr)
                setListed.insert(SafeSerial(
                    std::string(pChild->GetSerial(), strnlen(pChild->GetSerial(), VIEWER_SERIAL_LEN))));
        }
    }
    const std::map<std::string, std::string> mapNames = index.CameraNames();
    for (const std::string& strSerial : index.Cameras()) {
        if (setListed.count(strSerial) != 0)
            continue;
        const auto it = mapNames.find(strSerial);
        const QString strName =
            QString::fromStdString(it != mapNames.end() && !it->second.empty() ? it->second : strSerial);
        auto* pItem = new QTreeWidgetItem(GetTree());
        pItem->setText(0, MainTextWithName(IDS_PCPLAYBACK_NOT_CONNECTED, strName));
        pItem->setData(0, ROLE_ID, 0u);
        pItem->setData(0, ROLE_RECORDED_SERIAL, QString::fromStdString(strSerial));
        pItem->setData(0, ROLE_RECORDED_NAME, strName);
        pItem->setToolTip(0, QString::fromStdString(strSerial));
        pItem->setData(0, Qt::AccessibleTextRole, pItem->text(0));
        pItem->setIcon(0, StatusIcon(IDS_CAMERA_SD_NOT_ENABLE_RECORD, m_mapStatusIcons));
    }
}

void CDlgPlaybackCamList::OnItemActivated(QTreeWidgetItem* pItem)
{
    if (pItem != nullptr && pItem->data(0, ROLE_RECORDED_SERIAL).isValid()) {
        if (m_fnOpenRecorded)
            m_fnOpenRecorded(pItem->data(0, ROLE_RECORDED_SERIAL).toString().toStdString(),
                             pItem->data(0, ROLE_RECORDED_NAME).toString());
        return;
    }
    CDlgDeviceListBase::OnItemActivated(pItem);
}

// --- Configuration ---

CDlgConfigCamList::CDlgConfigCamList(QWidget* pParent) : CDlgDeviceListBase(PLAY_TYPE_REALTIME, pParent) {}
