#include "ui/main/dlgdownload.h"

#include "core/configfile.h"
#include "core/log.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "download/downloadmanager.h"
#include "ui/main/dlgpassword.h"
#include "ui/main/mainmessage.h"

#include <QDateTime>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

std::function<bool(const QString&)> g_fnConfirmHook;

namespace {

// TR_GETRECORDINFO: how long a camera may take to tell its recording time range.
constexpr int TR_GETRECORDINFO_MS = 6000;
// TR_RECORDINFO_HEARTBEAT: the range query is repeated while the dialog waits for it.
constexpr int TR_RECORDINFO_HEARTBEAT_MS = 2000;
// TR_DOWNLOAD_PROGRESS
constexpr int TR_DOWNLOAD_PROGRESS_MS = 1000;

constexpr int ROLE_ID = Qt::UserRole + 1;

// Camera times are shown as they are stamped: UTC seconds read as the camera's wall clock.
QDateTime CameraTime(DWORD dwSeconds)
{
    return QDateTime::fromSecsSinceEpoch(dwSeconds, Qt::UTC);
}

QString TimeText(DWORD dwSeconds)
{
    return CameraTime(dwSeconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Two lines, so that the six columns fit the dialog's width without a horizontal scroll.
QString RangeText(DWORD dwStart, DWORD dwEnd)
{
    return TimeText(dwStart) + QStringLiteral(" -\n") + TimeText(dwEnd);
}

// A date and time typed whole, over the selected text or section by section: the edit's own
// typing put digits into the wrong fields and took the separators as digits (over the whole
// text "2023-12-31 23:59:59" became 2024-12-31 23:00:59). Here typing over a selection of more
// than one field starts at the year, and a separator ends the field being typed, or is skipped
// right after a field that filled itself.
class CDateTimeField : public QDateTimeEdit {
public:
    using QDateTimeEdit::QDateTimeEdit;

protected:
    void keyPressEvent(QKeyEvent* pEvent) override
    {
        const QString strText = pEvent->text();
        const bool bPlain = (pEvent->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) == 0;
        const bool bDigit = bPlain && strText.size() == 1 && strText[0].isDigit();
        const bool bSeparator = bPlain && strText.size() == 1 && !bDigit && strText[0].isPrint();
        if (bDigit && lineEdit()->selectedText().size() > sectionText(currentSection()).size()) {
            setCurrentSectionIndex(0);
            setSelectedSection(sectionAt(0));
            m_nTyped = 0;
        }
        if (bSeparator) {
            if (m_nTyped > 0 && currentSectionIndex() + 1 < sectionCount()) {
                setCurrentSectionIndex(currentSectionIndex() + 1);
                setSelectedSection(currentSection());
            }
            m_nTyped = 0;
            return;
        }
        const int nSection = currentSectionIndex();
        QDateTimeEdit::keyPressEvent(pEvent);
        m_nTyped = bDigit && currentSectionIndex() == nSection ? m_nTyped + 1 : 0;
    }
    void focusInEvent(QFocusEvent* pEvent) override
    {
        m_nTyped = 0;
        QDateTimeEdit::focusInEvent(pEvent);
    }
    void mousePressEvent(QMouseEvent* pEvent) override
    {
        m_nTyped = 0;
        QDateTimeEdit::mousePressEvent(pEvent);
    }

private:
    int m_nTyped = 0; // digits typed into the current field
};

IDownloadRecordManager* Downloads()
{
    return GetDownloadRecordManager();
}

qint64 NowMs()
{
    static QElapsedTimer s_clock;
    if (!s_clock.isValid())
        s_clock.start();
    return s_clock.elapsed();
}

} // namespace

CDlgDownloadRecord::CDlgDownloadRecord(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("dlgDownload"));
    setWindowTitle(MainText(IDS_BTN_RECORDDOWNLOAD));
    resize(900, 420);
    auto* pLayout = new QVBoxLayout(this);
    m_pList = new QTreeWidget(this);
    m_pList->setRootIsDecorated(false);
    m_pList->setColumnCount(COL_COUNT);
    m_pList->setHeaderLabels({MainText(IDS_CAMERA_NAME), MainText(IDS_RECORDTIME_RANGE),
                              MainText(IDS_DOWNLOADTIME_RANGE), MainText(IDS_ST_DOWNLOADTIME),
                              MainText(IDS_DOWNLOAD_DATA), MainText(IDS_DOWNLOAD_PERCENT)});
    m_pList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Every column as wide as its texts, the last one too, so the header says what they need.
    m_pList->header()->setStretchLastSection(false);
    pLayout->addWidget(m_pList, 1);

    auto* pForm = new QFormLayout;
    m_pStart = new CDateTimeField(this);
    m_pEnd = new CDateTimeField(this);
    for (QDateTimeEdit* pEdit : {m_pStart, m_pEnd}) {
        pEdit->setTimeSpec(Qt::UTC);
        pEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        pEdit->setCalendarPopup(true);
    }
    pForm->addRow(MainText(IDS_ST_DL_STARTTIME), m_pStart);
    pForm->addRow(MainText(IDS_ST_DL_ENDTIME), m_pEnd);
    pLayout->addLayout(pForm);

    auto* pButtons = new QHBoxLayout;
    m_pBtnDownload = new QPushButton(MainText(IDS_BTN_RECORDDOWNLOAD), this);
    m_pBtnStop = new QPushButton(MainText(IDS_BTN_STOP), this);
    m_pBtnStopAll = new QPushButton(MainText(IDS_BTN_STOPALL), this);
    m_pBtnOpenDir = new QPushButton(MainText(IDS_BTN_OPENDIR), this);
    for (QPushButton* pButton : {m_pBtnDownload, m_pBtnStop, m_pBtnStopAll, m_pBtnOpenDir}) {
        pButton->setAutoDefault(false);
        pButtons->addWidget(pButton);
    }
    pButtons->addStretch(1);
    auto* pOk = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pOk, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pButtons->addWidget(pOk);
    pLayout->addLayout(pButtons);
    connect(m_pBtnDownload, &QPushButton::clicked, this, &CDlgDownloadRecord::OnBtnDownload);
    connect(m_pBtnStop, &QPushButton::clicked, this, &CDlgDownloadRecord::OnBtnStop);
    connect(m_pBtnStopAll, &QPushButton::clicked, this, &CDlgDownloadRecord::OnBtnStopAll);
    connect(m_pBtnOpenDir, &QPushButton::clicked, this, &CDlgDownloadRecord::OnBtnOpenDir);
    connect(m_pList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* pItem) {
        if (pItem != nullptr)
            SelectCamera(pItem->data(0, ROLE_ID).toUInt());
    });

    m_pTimerRecordInfo = new QTimer(this);
    m_pTimerRecordInfo->setSingleShot(true);
    m_pTimerRecordInfo->setInterval(TR_GETRECORDINFO_MS);
    connect(m_pTimerRecordInfo, &QTimer::timeout, this, &CDlgDownloadRecord::OnTimerRecordInfo);
    m_pTimerHeartbeat = new QTimer(this);
    m_pTimerHeartbeat->setInterval(TR_RECORDINFO_HEARTBEAT_MS);
    connect(m_pTimerHeartbeat, &QTimer::timeout, this, &CDlgDownloadRecord::OnTimerHeartbeat);
    m_pTimerProgress = new QTimer(this);
    m_pTimerProgress->setInterval(TR_DOWNLOAD_PROGRESS_MS);
    connect(m_pTimerProgress, &QTimer::timeout, this, &CDlgDownloadRecord::OnTimerProgress);
    m_pTimerProgress->start();
    FillList();
}

void CDlgDownloadRecord::FillList()
{
    m_pList->clear();
    SortedDeviceMap mapSorted;
    GetDeviceManager()->GetAllSortedDevices(mapSorted);
    auto add = [this](const DeviceInfo& device) {
        if (device.stItem.bHasSD == 0)
            return;
        auto* pItem = new QTreeWidgetItem(m_pList);
        pItem->setData(0, ROLE_ID, static_cast<uint>(device.GetID()));
        ShowRow(pItem, device);
    };
    for (const auto& entry : mapSorted) {
        if (entry.second->enCameraType != CAMERA_TYPE_PARENT)
            add(*entry.second);
        for (const auto& pChild : entry.second->vecChildren)
            add(*pChild);
    }
}

QTreeWidgetItem* CDlgDownloadRecord::FindRow(DWORD dwID) const
{
    for (int i = 0; i < m_pList->topLevelItemCount(); ++i) {
        if (m_pList->topLevelItem(i)->data(0, ROLE_ID).toUInt() == dwID)
            return m_pList->topLevelItem(i);
    }
    return nullptr;
}

QString CDlgDownloadRecord::GetCellText(DWORD dwID, int nColumn) const
{
    const QTreeWidgetItem* pItem = FindRow(dwID);
    return pItem != nullptr ? pItem->text(nColumn) : QString();
}

DeviceInfo* CDlgDownloadRecord::SelectedDevice() const
{
    const QTreeWidgetItem* pItem = m_pList->currentItem();
    if (pItem == nullptr)
        return nullptr;
    return GetDeviceManager()->GetDevice(pItem->data(0, ROLE_ID).toUInt(), CAMERA_MASK_VIDEO);
}

void CDlgDownloadRecord::ShowRow(QTreeWidgetItem* pItem, const DeviceInfo& device)
{
    pItem->setText(COL_NAME, QString::fromStdU16String(device.GetName()));
    pItem->setText(COL_RECORD_RANGE, device.bRecordTimeValid
                                         ? RangeText(device.dwRecordTimeStart, device.dwRecordTimeEnd)
                                         : QString());
    const auto it = m_mapStarted.find(device.GetID());
    if (it == m_mapStarted.end())
        return;
    pItem->setText(COL_DOWNLOAD_RANGE, RangeText(device.dwDownloadStart, device.dwDownloadEnd));
    const bool bRunning = Downloads()->IsDownloading(device.GetID());
    // A finished or stopped download shows the time it took, not the time since it started.
    if (!bRunning)
        m_mapEnded.try_emplace(device.GetID(), NowMs());
    const auto itEnded = m_mapEnded.find(device.GetID());
    const qint64 nSeconds = ((itEnded != m_mapEnded.end() ? itEnded->second : NowMs()) - it->second) / 1000;
    pItem->setText(COL_TIME, QStringLiteral("%1:%2:%3")
                                 .arg(nSeconds / 3600, 2, 10, QLatin1Char('0'))
                                 .arg(nSeconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(nSeconds % 60, 2, 10, QLatin1Char('0')));
    const double dMB = (double(device.dwReceiveKB) + double(device.dwReceiveRemainder) / 1024.0) / 1024.0;
    pItem->setText(COL_DATA, QString::asprintf("%0.2f MB", dMB));
    int nPercent = 100;
    if (bRunning) {
        // The media time written in order against the range asked for.
        const DWORD dwSpan = device.dwDownloadEnd - device.dwDownloadStart;
        const DWORD dwDone =
            device.dwReceiveTime > device.dwDownloadStart ? device.dwReceiveTime - device.dwDownloadStart : 0;
        nPercent = dwSpan == 0 ? 0 : static_cast<int>(std::min<quint64>(99, quint64(dwDone) * 100 / dwSpan));
    }
    pItem->setText(COL_PERCENT,
                   MainText(IDS_ST_DOWNLOADPERSENT)
                       .replace(QStringLiteral("%d%%"), QString::number(nPercent) + QLatin1Char('%')));
}

bool CDlgDownloadRecord::SelectCamera(DWORD dwID)
{
    QTreeWidgetItem* pItem = FindRow(dwID);
    DeviceInfo* pDevice = GetDeviceManager()->GetDevice(dwID, CAMERA_MASK_VIDEO);
    if (pItem == nullptr || pDevice == nullptr)
        return false;
    if (m_pList->currentItem() != pItem) {
        m_pList->setCurrentItem(pItem); // comes back here through the list's signal
        return true;
    }
    if (pDevice->bRecordTimeValid) {
        SetRange(pDevice->dwRecordTimeStart, pDevice->dwRecordTimeEnd);
        return true;
    }
    m_dwWaitingID = dwID;
    GetDeviceManager()->GetRecordInfo(pDevice);
    m_pTimerRecordInfo->start();
    m_pTimerHeartbeat->start();
    return true;
}

void CDlgDownloadRecord::SetRange(DWORD dwStart, DWORD dwEnd)
{
    m_pStart->setDateTime(CameraTime(dwStart));
    m_pEnd->setDateTime(CameraTime(dwEnd));
}

void CDlgDownloadRecord::OnTimerHeartbeat()
{
    DeviceInfo* pDevice =
        m_dwWaitingID != 0 ? GetDeviceManager()->GetDevice(m_dwWaitingID, CAMERA_MASK_VIDEO) : nullptr;
    if (pDevice == nullptr) {
        m_pTimerHeartbeat->stop();
        return;
    }
    if (pDevice->bRecordTimeValid) {
        m_pTimerHeartbeat->stop();
        m_pTimerRecordInfo->stop();
        m_dwWaitingID = 0;
        if (QTreeWidgetItem* pItem = FindRow(pDevice->GetID()))
            ShowRow(pItem, *pDevice);
        if (SelectedDevice() == pDevice)
            SetRange(pDevice->dwRecordTimeStart, pDevice->dwRecordTimeEnd);
        return;
    }
    GetDeviceManager()->GetRecordInfo(pDevice);
}

void CDlgDownloadRecord::OnTimerRecordInfo()
{
    OnTimerHeartbeat();
    if (m_dwWaitingID == 0)
        return;
    m_pTimerHeartbeat->stop();
    m_dwWaitingID = 0;
    ShowMainMessage(MainText(IDS_MSG_CAMERANORESPOND), this);
}

void CDlgDownloadRecord::OnTimerProgress()
{
    // A range that has come in since shows at once.
    if (m_dwWaitingID != 0)
        OnTimerHeartbeat();
    for (int i = 0; i < m_pList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pItem = m_pList->topLevelItem(i);
        if (const DeviceInfo* pDevice =
                GetDeviceManager()->GetDevice(pItem->data(0, ROLE_ID).toUInt(), CAMERA_MASK_VIDEO))
            ShowRow(pItem, *pDevice);
    }
    FitColumns();
}

void CDlgDownloadRecord::FitColumns()
{
    // The columns size to their texts; the ranges of a started download came after the dialog
    // took its size and pushed the percentage out of sight.
    if (!isVisible())
        return; // the list has no width of its own before it is shown
    const QScreen* pScreen = screen();
    const int nAvailable = pScreen != nullptr ? pScreen->availableGeometry().width() : width();
    const int nNeeded = width() - m_pList->viewport()->width() + m_pList->header()->length();
    if (nNeeded > width() && width() < nAvailable)
        resize(std::min(nNeeded, nAvailable), height());
}

bool CDlgDownloadRecord::Confirm(const QString& strText)
{
    if (g_fnConfirmHook)
        return g_fnConfirmHook(strText);
    return QMessageBox::question(this, windowTitle(), strText) == QMessageBox::Yes;
}

void CDlgDownloadRecord::OnBtnDownload()
{
    IDownloadRecordManager* pDownloads = Downloads();
    if (pDownloads->GetDownloadCount() >= MAX_DOWNLOAD_CAM) {
        ShowMainMessage(MainText(IDS_HINT_EXCEEDDOWNLOADNUM), this);
        return;
    }
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr) {
        ShowMainMessage(MainText(IDS_SELECT_DOWNLOAD_CAMERA), this);
        return;
    }
    if (!pDevice->bRecordTimeValid) {
        ShowMainMessage(MainText(IDS_MSG_CAMERANORESPOND), this);
        return;
    }
    // The card is busy with another viewer's playback when the camera last said so.
    if (pDevice->dwCameraVideoStatus == 4) {
        ShowMainMessage(MainText(IDS_HINT_OTHERSEESDCARD), this);
        return;
    }
    if (pDownloads->IsDownloading(pDevice->GetID()))
        return;
    const DWORD dwStart = static_cast<DWORD>(m_pStart->dateTime().toSecsSinceEpoch());
    const DWORD dwEnd = static_cast<DWORD>(m_pEnd->dateTime().toSecsSinceEpoch());
    if (dwStart < pDevice->dwRecordTimeStart) {
        ShowMainMessage(MainText(IDS_HINT_TIME_ERROR1), this);
        return;
    }
    if (dwEnd > pDevice->dwRecordTimeEnd) {
        ShowMainMessage(MainText(IDS_HINT_TIME_ERROR2), this);
        return;
    }
    if (dwStart > dwEnd) {
        ShowMainMessage(MainText(IDS_HINT_TIME_ERROR3), this);
        return;
    }
    // The refusal told the user to enter the password but gave no place to: it is asked here,
    // as a double click in a camera list does.
    if (!EnsureDevicePassword(*pDevice, this))
        return;
    VLOG(3, "CDlgDownloadRecord::OnBtnDownload: id:%u, %u - %u", pDevice->GetID(), dwStart, dwEnd);
    pDevice->dwDownloadStart = dwStart;
    pDevice->dwDownloadEnd = dwEnd;
    // The start of video with the download flag sends the card's frames to the download port.
    GetDeviceManager()->GetRecordInfo(pDevice);
    m_mapStarted[pDevice->GetID()] = NowMs();
    m_mapEnded.erase(pDevice->GetID());
    if (!pDownloads->Download(pDevice->GetID()))
        ShowMainMessage(MainText(IDS_DOWNLOAD_SUCCESS), this); // the range is on disk already
    OnTimerProgress();
}

void CDlgDownloadRecord::OnBtnStop()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || m_mapStarted.count(pDevice->GetID()) == 0) {
        ShowMainMessage(MainText(IDS_SELECT_NOTDOWNLOAD_CAMERA), this);
        return;
    }
    if (!Confirm(MainText(IDS_MSG_STOP)))
        return;
    if (!Downloads()->IsDownloading(pDevice->GetID())) {
        ShowMainMessage(MainText(IDS_DOWNLOAD_SUCCESS), this);
        return;
    }
    Downloads()->CancelDownload(pDevice->GetID());
    ShowMainMessage(MainText(IDS_STOP_SUCCESS), this);
}

void CDlgDownloadRecord::OnBtnStopAll()
{
    if (!Downloads()->HasDownloading()) {
        ShowMainMessage(MainText(IDS_NOCAMERA_FORDOWNLOAD), this);
        return;
    }
    if (!Confirm(MainText(IDS_MSG_STOPALL)))
        return;
    Downloads()->CancelAllDownload();
    ShowMainMessage(MainText(IDS_STOP_SUCCESS), this);
}

void CDlgDownloadRecord::OnBtnOpenDir()
{
    const QString strPath = QString::fromStdU16String(GetConfigFileManager()->GetRecordPath());
    QDir().mkpath(strPath);
    QDesktopServices::openUrl(QUrl::fromLocalFile(strPath));
}
