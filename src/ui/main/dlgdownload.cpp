#include "ui/main/dlgdownload.h"

#include "core/configfile.h"
#include "core/log.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "download/downloadmanager.h"
#include "protocol/password.h"
#include "ui/main/dlgpassword.h"
#include "ui/main/mainmessage.h"

#include <QDateTime>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

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
// right after a field that filled itself. And whatever field the typing starts in (a click, a
// double click that selects one field, Home), what has been typed since is read as a whole date
// and time once it makes one ("2024-05-31 23:59:58", "2024-5-31 8:0:5", "20240531235958", any
// separators): then the field holds exactly that, and the last field's digits are not lost when
// the focus leaves.
class CDateTimeField : public QDateTimeEdit {
public:
    using QDateTimeEdit::QDateTimeEdit;

    // The date and time strTyped gives when read whole; invalid when it gives none.
    static QDateTime ReadWhole(const QString& strTyped)
    {
        QList<int> values;
        QList<int> widths;
        QString strDigits;
        auto flush = [&] {
            if (!strDigits.isEmpty()) {
                values << strDigits.toInt();
                widths << static_cast<int>(strDigits.size());
            }
            strDigits.clear();
        };
        for (const QChar ch : strTyped) {
            if (ch.isDigit())
                strDigits += ch;
            else
                flush();
        }
        flush();
        if (values.size() == 1 && widths[0] == 14) {
            const QString s = strTyped.trimmed();
            values = {s.mid(0, 4).toInt(), s.mid(4, 2).toInt(),  s.mid(6, 2).toInt(),
                      s.mid(8, 2).toInt(), s.mid(10, 2).toInt(), s.mid(12, 2).toInt()};
            widths = {4, 2, 2, 2, 2, 2};
        }
        if (values.size() != 6 || widths[0] != 4)
            return {};
        for (int i = 1; i < 6; ++i) {
            if (widths[i] > 2)
                return {};
        }
        const QDate date(values[0], values[1], values[2]);
        const QTime time(values[3], values[4], values[5]);
        if (!date.isValid() || !time.isValid())
            return {};
        return QDateTime(date, time, Qt::UTC);
    }

protected:
    void keyPressEvent(QKeyEvent* pEvent) override
    {
        const QString strText = pEvent->text();
        const bool bPlain = (pEvent->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) == 0;
        const bool bDigit = bPlain && strText.size() == 1 && strText[0].isDigit();
        const bool bSeparator = bPlain && strText.size() == 1 && !bDigit && strText[0].isPrint();
        if (!bDigit && !bSeparator) {
            // Editing, moving or leaving: a new run of typing starts after it.
            m_strTyped.clear();
            QDateTimeEdit::keyPressEvent(pEvent);
            return;
        }
        m_strTyped += strText;
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
        } else {
            const int nSection = currentSectionIndex();
            QDateTimeEdit::keyPressEvent(pEvent);
            m_nTyped = currentSectionIndex() == nSection ? m_nTyped + 1 : 0;
        }
        const QDateTime whole = ReadWhole(m_strTyped);
        if (whole.isValid()) {
            const int nSection = currentSectionIndex();
            setDateTime(whole);
            setCurrentSectionIndex(nSection);
        }
    }
    bool event(QEvent* pEvent) override
    {
        // Tab and Backtab move between the fields before any key handler sees them.
        if (pEvent->type() == QEvent::KeyPress) {
            const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
            if (nKey == Qt::Key_Tab || nKey == Qt::Key_Backtab) {
                m_nTyped = 0;
                m_strTyped.clear();
            }
        }
        return QDateTimeEdit::event(pEvent);
    }
    void focusInEvent(QFocusEvent* pEvent) override
    {
        m_nTyped = 0;
        m_strTyped.clear();
        QDateTimeEdit::focusInEvent(pEvent);
    }
    void focusOutEvent(QFocusEvent* pEvent) override
    {
        m_nTyped = 0;
        m_strTyped.clear();
        QDateTimeEdit::focusOutEvent(pEvent);
    }
    void mousePressEvent(QMouseEvent* pEvent) override
    {
        m_nTyped = 0;
        m_strTyped.clear();
        QDateTimeEdit::mousePressEvent(pEvent);
    }

private:
    int m_nTyped = 0;   // digits typed into the current field
    QString m_strTyped; // what was typed since the typing began
};

IDownloadRecordManager* Downloads()
{
    return GetDownloadRecordManager();
}

// The camera's download as the download manager keeps it: running, or how it ended; null
// when it had none (or the registered manager keeps no such record).
const DownloadRun* RunOf(DWORD dwID)
{
    const auto* pManager = dynamic_cast<const CDownloadRecordManager*>(Downloads());
    return pManager != nullptr ? pManager->GetRun(dwID) : nullptr;
}

} // namespace

QString CDlgDownloadRecord::FailureMessage(const DeviceInfo& device)
{
    const DownloadRun* pRun = RunOf(device.GetID());
    if (pRun == nullptr || pRun->enState != DownloadRun::State::FAILED)
        return {};
    const QString strReason = pRun->enFailure == DownloadFailure::DISK_FULL
                                  ? MainText(IDS_MSG_SPACE_NOT_ENOUGH)
                                  : MainText(IDS_DOWNLOAD_FOLDER_NOT_WRITABLE);
    return MainTextWithName(IDS_CAMERA_DOWNLOAD_FAILED, QString::fromStdU16String(device.GetName())) +
           QStringLiteral("\n\n") + strReason + QLatin1Char('\n') + QString::fromStdString(pRun->strFolder);
}

CDlgDownloadRecord::CDlgDownloadRecord(QWidget* pParent, IDeviceManager* pDevices)
    : QDialog(pParent), m_pDevices(pDevices != nullptr ? pDevices : GetDeviceManager())
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
    const DWORD dwCurrent =
        m_pList->currentItem() != nullptr ? m_pList->currentItem()->data(0, ROLE_ID).toUInt() : 0;
    m_pList->clear();
    SortedDeviceMap mapSorted;
    m_pDevices->GetAllSortedDevices(mapSorted);
    auto add = [this](const DeviceInfo& device) {
        // A download outlives the card it came from: it stays in sight until it is stopped.
        if (device.stItem.bHasSD == 0 && RunOf(device.GetID()) == nullptr)
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
    if (QTreeWidgetItem* pItem = FindRow(dwCurrent)) {
        const QSignalBlocker block(m_pList);
        m_pList->setCurrentItem(pItem);
    }
}

QString CDlgDownloadRecord::RowName(const DeviceInfo& device) const
{
    const QString strName = QString::fromStdU16String(device.GetName());
    const DeviceInfo* pParent =
        device.enCameraType == CAMERA_TYPE_CHILD ? m_pDevices->GetParentDevice(device.GetID()) : nullptr;
    // "Channel 1" of two recorders reads alike: the recorder's name goes in front.
    return pParent != nullptr
               ? QString::fromStdU16String(pParent->GetName()) + QStringLiteral(" / ") + strName
               : strName;
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
    return m_pDevices->GetDevice(pItem->data(0, ROLE_ID).toUInt(), CAMERA_MASK_VIDEO);
}

void CDlgDownloadRecord::ShowRow(QTreeWidgetItem* pItem, const DeviceInfo& device)
{
    pItem->setText(COL_NAME, RowName(device));
    pItem->setText(COL_RECORD_RANGE, device.bRecordTimeValid
                                         ? RangeText(device.dwRecordTimeStart, device.dwRecordTimeEnd)
                                         : QString());
    const DownloadRun* pRun = RunOf(device.GetID());
    if (pRun == nullptr) {
        for (const int nColumn : {COL_DOWNLOAD_RANGE, COL_TIME, COL_DATA, COL_PERCENT})
            pItem->setText(nColumn, QString());
        pItem->setToolTip(COL_PERCENT, QString());
        return;
    }
    const bool bRunning = pRun->enState == DownloadRun::State::RUNNING;
    pItem->setText(COL_DOWNLOAD_RANGE, RangeText(pRun->dwStart, pRun->dwEnd));
    // A finished or stopped download shows the time it took, not the time since it started.
    const auto until = bRunning ? std::chrono::steady_clock::now() : pRun->ended;
    const long long nSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(until - pRun->started).count();
    pItem->setText(COL_TIME, QStringLiteral("%1:%2:%3")
                                 .arg(nSeconds / 3600, 2, 10, QLatin1Char('0'))
                                 .arg(nSeconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(nSeconds % 60, 2, 10, QLatin1Char('0')));
    const double dMB = (double(device.dwReceiveKB) + double(device.dwReceiveRemainder) / 1024.0) / 1024.0;
    pItem->setText(COL_DATA, QString::asprintf("%0.2f MB", dMB));
    int nPercent = 100;
    if (pRun->enState != DownloadRun::State::COMPLETED) {
        // The media time written in order against the range asked for: a download that stopped
        // stays where its data stopped.
        const DWORD dwSpan = pRun->dwEnd - pRun->dwStart;
        const DWORD dwDone = device.dwReceiveTime > pRun->dwStart ? device.dwReceiveTime - pRun->dwStart : 0;
        nPercent = dwSpan == 0 ? 0 : static_cast<int>(std::min<quint64>(99, quint64(dwDone) * 100 / dwSpan));
    }
    QString strPercent = MainText(IDS_ST_DOWNLOADPERSENT)
                             .replace(QStringLiteral("%d%%"), QString::number(nPercent) + QLatin1Char('%'));
    if (pRun->enState == DownloadRun::State::FAILED)
        strPercent += QStringLiteral(" (") + MainText(IDS_HINT_DOWNLOADFAIL) + QLatin1Char(')');
    pItem->setText(COL_PERCENT, strPercent);
    pItem->setToolTip(COL_PERCENT, FailureMessage(device));
}

bool CDlgDownloadRecord::SelectCamera(DWORD dwID)
{
    QTreeWidgetItem* pItem = FindRow(dwID);
    DeviceInfo* pDevice = m_pDevices->GetDevice(dwID, CAMERA_MASK_VIDEO);
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
    m_pDevices->GetRecordInfo(pDevice);
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
        m_dwWaitingID != 0 ? m_pDevices->GetDevice(m_dwWaitingID, CAMERA_MASK_VIDEO) : nullptr;
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
    m_pDevices->GetRecordInfo(pDevice);
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
                m_pDevices->GetDevice(pItem->data(0, ROLE_ID).toUInt(), CAMERA_MASK_VIDEO))
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
    // A card taken by another viewer's playback (video status 4) is not refused here: as in the
    // playback list, a status the camera gave an earlier request may be stale, and the camera's
    // answer to this download's own start says it again if it still holds (the main window then
    // reports it and ends the download).
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
    // The download's start of video carries the token, as a live view's does (the device
    // manager makes it there): a camera never opened in a list had none and answered with a
    // wrong password.
    MakeToken(pDevice->stPassword);
    VLOG(3, "CDlgDownloadRecord::OnBtnDownload: id:%u, %u - %u", pDevice->GetID(), dwStart, dwEnd);
    pDevice->dwDownloadStart = dwStart;
    pDevice->dwDownloadEnd = dwEnd;
    // The start of video with the download flag sends the card's frames to the download port.
    m_pDevices->GetRecordInfo(pDevice);
    if (!pDownloads->Download(pDevice->GetID()))
        ShowMainMessage(MainText(IDS_DOWNLOAD_SUCCESS), this); // the range is on disk already
    OnTimerProgress();
}

void CDlgDownloadRecord::OnBtnStop()
{
    DeviceInfo* pDevice = SelectedDevice();
    const DownloadRun* pRun = pDevice != nullptr ? RunOf(pDevice->GetID()) : nullptr;
    const bool bRunning = pDevice != nullptr && Downloads()->IsDownloading(pDevice->GetID());
    if (!bRunning && pRun == nullptr) {
        ShowMainMessage(MainText(IDS_SELECT_NOTDOWNLOAD_CAMERA), this);
        return;
    }
    if (!Confirm(MainText(IDS_MSG_STOP)))
        return;
    if (!Downloads()->IsDownloading(pDevice->GetID())) {
        // It ended meanwhile: say how.
        const QString strFailure = FailureMessage(*pDevice);
        if (!strFailure.isEmpty())
            ShowMainMessage(strFailure, this);
        else
            ShowMainMessage(MainText(pRun == nullptr || pRun->enState == DownloadRun::State::COMPLETED
                                         ? IDS_DOWNLOAD_SUCCESS
                                         : IDS_STOP_SUCCESS),
                            this);
        return;
    }
    Downloads()->CancelDownload(pDevice->GetID());
    OnTimerProgress();
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
    OnTimerProgress();
    ShowMainMessage(MainText(IDS_STOP_SUCCESS), this);
}

void CDlgDownloadRecord::OnBtnOpenDir()
{
    const QString strPath = QString::fromStdU16String(GetConfigFileManager()->GetRecordPath());
    QDir().mkpath(strPath);
    QDesktopServices::openUrl(QUrl::fromLocalFile(strPath));
}
