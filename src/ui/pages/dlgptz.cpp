#include "ui/pages/dlgptz.h"

#include "core/stringids.h"
#include "device/devicemanager.h"
#include "protocol/engcmd.h"
#include "ui/pages/pagewidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

// Preset names travel in a 16-byte field.
constexpr std::size_t PRESET_NAME_LEN = 16;

QString PresetText(DWORD dwNumber, const std::string& strName)
{
    return QStringLiteral("%1--%2").arg(dwNumber).arg(QString::fromStdString(strName));
}

QString RangeText(const AutoScanPeriod& period)
{
    return QStringLiteral("%1: %2:%3 - %4:%5")
        .arg(period.dwNumber)
        .arg(period.dwStart / 60, 2, 10, QLatin1Char('0'))
        .arg(period.dwStart % 60, 2, 10, QLatin1Char('0'))
        .arg(period.dwEnd / 60, 2, 10, QLatin1Char('0'))
        .arg(period.dwEnd % 60, 2, 10, QLatin1Char('0'));
}

void FillPresetList(QListWidget* pList, const DeviceInfo& device)
{
    pList->clear();
    if (device.pPresetInfo == nullptr)
        return;
    for (const auto& [dwNumber, strName] : device.pPresetInfo->mapPresets) {
        auto* pItem = new QListWidgetItem(PresetText(dwNumber, strName), pList);
        pItem->setData(Qt::UserRole, static_cast<uint>(dwNumber));
    }
}

} // namespace

const PtzDirection (&GetPtzDirections())[8]
{
    // Up, down, left and right are one bit each; the diagonals combine two.
    static const PtzDirection s_aDirections[8] = {
        {0x0A, IDS_CTLTIP_PTZLU}, {0x02, IDS_CTLTIP_PTZU},  {0x12, IDS_CTLTIP_PTZRU},
        {0x08, IDS_CTLTIP_PTZL},  {0x10, IDS_CTLTIP_PTZR},  {0x0C, IDS_CTLTIP_PTZLD},
        {0x04, IDS_CTLTIP_PTZD},  {0x14, IDS_CTLTIP_PTZRD},
    };
    return s_aDirections;
}

void CDlgCamSetPTZ::BuildControls(QVBoxLayout* pLayout)
{
    auto* pTop = new QHBoxLayout;
    auto* pKeys = new QGridLayout;
    static const char* const apszArrows[8] = {"\u2196", "\u2191", "\u2197", "\u2190",
                                              "\u2192", "\u2199", "\u2193", "\u2198"};
    for (int i = 0; i < 8; ++i) {
        auto* pKey = new QPushButton(QString::fromUtf8(apszArrows[i]), this);
        pKey->setObjectName(QStringLiteral("ptz%1").arg(i));
        pKey->setFixedSize(40, 40);
        // The arrow glyph says nothing to a screen reader: the key is named by what it does.
        pKey->setToolTip(PageText(GetPtzDirections()[i].dwTooltip));
        pKey->setAccessibleName(pKey->toolTip());
        connect(pKey, &QPushButton::pressed, this, [this, i] { OnDirectionPressed(i); });
        connect(pKey, &QPushButton::released, this, &CDlgCamSetPTZ::OnDirectionReleased);
        const int nCell = i < 4 ? i : i + 1; // the middle cell stays empty
        pKeys->addWidget(pKey, nCell / 3, nCell % 3);
    }
    pTop->addLayout(pKeys);
    auto* pForm = new QFormLayout;
    m_pSpeed1 = new QSpinBox(this);
    m_pSpeed2 = new QSpinBox(this);
    for (QSpinBox* pSpin : {m_pSpeed1, m_pSpeed2}) {
        pSpin->setRange(1, 63);
        pSpin->setValue(32);
    }
    // The movement's two speed bytes: pan first, then tilt.
    pForm->addRow(PageText(IDS_ST_HSPEED), m_pSpeed1);
    pForm->addRow(PageText(IDS_ST_VSPEED), m_pSpeed2);
    m_pChkPatrol = new QCheckBox(PageText(IDS_ST_ROTATE_360DEGREES), this);
    m_pChkPatrol->setObjectName(QStringLiteral("patrol"));
    connect(m_pChkPatrol, &QCheckBox::clicked, this, [this](bool bOn) {
        if (DeviceInfo* pDevice = SelectedDevice())
            Commands()->Cmd_PTZScan(pDevice->GetID(), bOn);
    });
    pForm->addRow(m_pChkPatrol);
    pTop->addLayout(pForm, 1);
    pLayout->addLayout(pTop);
    pLayout->addWidget(new QLabel(PageText(IDS_ST_PRESET), this));
    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("presets"));
    connect(m_pList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* pItem) {
        if (DeviceInfo* pDevice = SelectedDevice())
            Commands()->Cmd_GotoPreset(pDevice->GetID(),
                                       static_cast<BYTE>(pItem->data(Qt::UserRole).toUInt()));
    });
    pLayout->addWidget(m_pList, 1);
}

bool CDlgCamSetPTZ::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetPreset != 0;
}

void CDlgCamSetPTZ::FillControls(const DeviceInfo& device)
{
    m_pChkPatrol->setChecked(device.bScanning != 0);
    FillPresetList(m_pList, device);
}

void CDlgCamSetPTZ::OnDirectionPressed(int nIndex)
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || nIndex < 0 || nIndex >= 8)
        return;
    Commands()->Cmd_PTZMove(pDevice->GetID(), PTZ_CLASS_MOVE, GetPtzDirections()[nIndex].byCommand,
                            static_cast<BYTE>(m_pSpeed1->value()), static_cast<BYTE>(m_pSpeed2->value()));
}

void CDlgCamSetPTZ::OnDirectionReleased()
{
    if (DeviceInfo* pDevice = SelectedDevice())
        Commands()->Cmd_PTZRelease(pDevice->GetID());
}

void CDlgPTZPreset::BuildControls(QVBoxLayout* pLayout)
{
    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("presets"));
    connect(m_pList, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* pItem) {
        if (pItem == nullptr)
            return;
        const QString strText = pItem->text();
        m_pEditNumber->setText(pItem->data(Qt::UserRole).toString());
        m_pEditName->setText(strText.mid(strText.indexOf(QStringLiteral("--")) + 2));
    });
    pLayout->addWidget(m_pList, 1);
    auto* pForm = new QFormLayout;
    m_pEditNumber = MakeEdit(this, "number", 3);
    m_pEditNumber->setValidator(new QIntValidator(0, 255, m_pEditNumber));
    m_pEditName = MakeEdit(this, "name", 64);
    pForm->addRow(PageText(IDS_ST_PRESET), m_pEditNumber);
    pForm->addRow(PageText(IDS_CTLTIP_NAME), m_pEditName);
    pLayout->addLayout(pForm);
    auto* pButtons = new QHBoxLayout;
    for (const auto& [dwText, fnClick] :
         {std::pair<DWORD, void (CDlgPTZPreset::*)()>{IDS_CTL_PRESETADD, &CDlgPTZPreset::OnBtnAdd},
          {IDS_CTL_PRESETSET, &CDlgPTZPreset::OnBtnAdd},
          {IDS_CTL_PRESETDEL, &CDlgPTZPreset::OnBtnDelete},
          {IDS_CTL_PRESETCLEAR, &CDlgPTZPreset::OnBtnClearAll}}) {
        auto* pButton = new QPushButton(PageText(dwText), this);
        connect(pButton, &QPushButton::clicked, this, fnClick);
        pButtons->addWidget(pButton);
    }
    pLayout->addLayout(pButtons);
    BindKey("number", m_pEditNumber);
    BindKey("name", m_pEditName);
}

bool CDlgPTZPreset::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetPreset != 0;
}

void CDlgPTZPreset::FillControls(const DeviceInfo& device)
{
    FillPresetList(m_pList, device);
}

DeviceInfo* CDlgPTZPreset::PresentDevice()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return nullptr;
    const DeviceInfo* pPresence = pDevice->enCameraType == CAMERA_TYPE_CHILD
                                      ? Context().Manager()->GetParentDevice(pDevice->GetID())
                                      : pDevice;
    if (pPresence == nullptr || pPresence->bIsExist == 0) {
        ShowHint(m_pList, IDS_HINT_CAMERANOTONLINE, true);
        return nullptr;
    }
    return pDevice;
}

bool CDlgPTZPreset::ReadPreset(BYTE& byNumber, std::string& strName)
{
    long nNumber = 0;
    if (!ParseDecimal(EditText(m_pEditNumber), nNumber) || nNumber < 0 || nNumber > 255) {
        Refuse(MakeError("number", IDS_HINT_VALUE_EMPTY_ERROR));
        return false;
    }
    strName = EditText(m_pEditName);
    if (strName.size() > PRESET_NAME_LEN) {
        Refuse(MakeError("name", IDS_HINT_PRESETNAMETOOLONG));
        return false;
    }
    byNumber = static_cast<BYTE>(nNumber);
    return true;
}

void CDlgPTZPreset::OnBtnAdd()
{
    BYTE byNumber = 0;
    std::string strName;
    if (!ReadPreset(byNumber, strName))
        return;
    DeviceInfo* pDevice = PresentDevice();
    if (pDevice == nullptr)
        return;
    Commands()->Cmd_SetPreset(pDevice->GetID(), byNumber, strName);
    const QList<QListWidgetItem*> vecSame =
        m_pList->findItems(QStringLiteral("%1--").arg(byNumber), Qt::MatchStartsWith);
    for (QListWidgetItem* pItem : vecSame)
        delete pItem;
    auto* pItem = new QListWidgetItem(PresetText(byNumber, strName), m_pList);
    pItem->setData(Qt::UserRole, static_cast<uint>(byNumber));
    ShowHint(m_pList, IDS_HINT_SETNAMESUC, false);
}

void CDlgPTZPreset::OnBtnDelete()
{
    BYTE byNumber = 0;
    std::string strName;
    if (!ReadPreset(byNumber, strName))
        return;
    DeviceInfo* pDevice = PresentDevice();
    if (pDevice == nullptr)
        return;
    Commands()->Cmd_DeletePreset(pDevice->GetID(), byNumber);
    for (int i = m_pList->count() - 1; i >= 0; --i) {
        if (m_pList->item(i)->data(Qt::UserRole).toUInt() == byNumber)
            delete m_pList->takeItem(i);
    }
}

void CDlgPTZPreset::OnBtnClearAll()
{
    DeviceInfo* pDevice = PresentDevice();
    if (pDevice == nullptr)
        return;
    for (int i = m_pList->count() - 1; i >= 0; --i) {
        Commands()->Cmd_DeletePreset(pDevice->GetID(),
                                     static_cast<BYTE>(m_pList->item(i)->data(Qt::UserRole).toUInt()));
        delete m_pList->takeItem(i);
    }
}

void CDlgPTZScanSchedule::BuildControls(QVBoxLayout* pLayout)
{
    m_pChkEnable = new QCheckBox(PageText(IDS_CC_SCANSCHEDULE), this);
    m_pChkEnable->setObjectName(QStringLiteral("enable"));
    pLayout->addWidget(m_pChkEnable);
    auto* pForm = new QFormLayout;
    m_pComboGroup = new QComboBox(this);
    m_pComboGroup->setObjectName(QStringLiteral("group"));
    for (int i = 0; i < AUTOSCAN_ENTRIES; ++i)
        m_pComboGroup->addItem(QString::number(i), i);
    m_pComboGroup->setCurrentIndex(-1);
    m_pStart = new QTimeEdit(this);
    m_pEnd = new QTimeEdit(this);
    m_pStart->setObjectName(QStringLiteral("start"));
    m_pEnd->setObjectName(QStringLiteral("end"));
    m_pStart->setDisplayFormat(QStringLiteral("HH:mm"));
    m_pEnd->setDisplayFormat(QStringLiteral("HH:mm"));
    auto* pTimes = new QHBoxLayout;
    pTimes->addWidget(m_pStart);
    pTimes->addWidget(new QLabel(QStringLiteral("-"), this));
    pTimes->addWidget(m_pEnd);
    // The presets the chosen group visits, checked in the order the tour takes them.
    m_pListPresets = new QListWidget(this);
    m_pListPresets->setObjectName(QStringLiteral("preset"));
    m_pListPresets->setMaximumHeight(m_pListPresets->fontMetrics().height() * 6);
    connect(m_pComboGroup, &QComboBox::currentIndexChanged, this, [this] { ShowGroupPresets(); });
    connect(m_pListPresets, &QListWidget::itemChanged, this, &CDlgPTZScanSchedule::OnPresetChanged);
    pForm->addRow(PageText(IDS_ST_GROUPPRESET), m_pComboGroup);
    pForm->addRow(PageText(IDS_ST_PRESET), m_pListPresets);
    pForm->addRow(PageText(IDS_ST_TIMERANGE), pTimes);
    pLayout->addLayout(pForm);
    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("ranges"));
    pLayout->addWidget(m_pList, 1);
    auto* pButtons = new QHBoxLayout;
    auto* pBtnAdd = new QPushButton(PageText(IDS_BTN_ADD), this);
    auto* pBtnDelete = new QPushButton(PageText(IDS_BTN_DELETE), this);
    auto* pBtnClear = new QPushButton(PageText(IDS_CTL_PRESETCLEAR), this);
    connect(pBtnAdd, &QPushButton::clicked, this, &CDlgPTZScanSchedule::OnBtnAdd);
    connect(pBtnDelete, &QPushButton::clicked, this, &CDlgPTZScanSchedule::OnBtnDelete);
    connect(pBtnClear, &QPushButton::clicked, this, &CDlgPTZScanSchedule::OnBtnClearAll);
    pButtons->addWidget(pBtnAdd);
    pButtons->addWidget(pBtnDelete);
    pButtons->addWidget(pBtnClear);
    pButtons->addStretch(1);
    pLayout->addLayout(pButtons);
    AddSaveButton(pLayout);
    BindKey("range", m_pList);
    BindKey("start", m_pStart);
    BindKey("end", m_pEnd);
    BindKey("group", m_pComboGroup);
    BindKey("preset", m_pListPresets);
}

bool CDlgPTZScanSchedule::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdAutoScanSchedule != 0;
}

void CDlgPTZScanSchedule::FillControls(const DeviceInfo& device)
{
    m_stEdit = device.stAutoScanSchedule;
    m_pChkEnable->setChecked(m_stEdit.byValue != 0);
    m_vecPeriods.assign(m_stEdit.aPeriod,
                        m_stEdit.aPeriod + std::min<int>(m_stEdit.byPeriodCount, AUTOSCAN_ENTRIES));
    m_mapPresets.clear();
    if (device.pPresetInfo != nullptr)
        m_mapPresets = device.pPresetInfo->mapPresets;
    ShowRanges();
    ShowGroupPresets();
}

std::vector<BYTE> CDlgPTZScanSchedule::GroupPresets(int nGroup) const
{
    if (nGroup < 0 || nGroup >= AUTOSCAN_ENTRIES)
        return {};
    const AutoScanEntry& entry = m_stEdit.aEntry[nGroup];
    const BYTE* pb = reinterpret_cast<const BYTE*>(entry.szName);
    return {pb, pb + std::min<int>(entry.byNameLen, AUTOSCAN_NAME_LEN)};
}

void CDlgPTZScanSchedule::ShowGroupPresets()
{
    const QSignalBlocker blocker(m_pListPresets);
    m_pListPresets->clear();
    const int nGroup = m_pComboGroup->currentIndex();
    m_pListPresets->setEnabled(nGroup >= 0);
    const std::vector<BYTE> vecGroup = GroupPresets(nGroup);
    auto fnAdd = [&](DWORD dwNumber, bool bVisited) {
        const auto it = m_mapPresets.find(dwNumber);
        auto* pItem = new QListWidgetItem(
            PresetText(dwNumber, it != m_mapPresets.end() ? it->second : std::string()), m_pListPresets);
        pItem->setData(Qt::UserRole, static_cast<uint>(dwNumber));
        pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
        pItem->setCheckState(bVisited ? Qt::Checked : Qt::Unchecked);
    };
    // The group's presets in the order the tour visits them (also those the camera did not
    // list), then the camera's others. A preset takes one byte in the group: the camera's
    // numbers above 255 cannot be visited.
    std::vector<BYTE> vecShown;
    for (const BYTE byNumber : vecGroup) {
        if (std::find(vecShown.begin(), vecShown.end(), byNumber) == vecShown.end()) {
            vecShown.push_back(byNumber);
            fnAdd(byNumber, true);
        }
    }
    for (const auto& [dwNumber, strName] : m_mapPresets) {
        if (dwNumber <= 0xFF && std::find(vecShown.begin(), vecShown.end(), dwNumber) == vecShown.end())
            fnAdd(dwNumber, false);
    }
}

void CDlgPTZScanSchedule::OnPresetChanged(QListWidgetItem* pItem)
{
    const int nGroup = m_pComboGroup->currentIndex();
    if (nGroup < 0 || nGroup >= AUTOSCAN_ENTRIES)
        return;
    std::vector<BYTE> vecGroup = GroupPresets(nGroup);
    const BYTE byNumber = static_cast<BYTE>(pItem->data(Qt::UserRole).toUInt());
    std::erase(vecGroup, byNumber);
    if (pItem->checkState() == Qt::Checked) {
        // The group holds what its 64-byte name field holds.
        if (vecGroup.size() >= static_cast<std::size_t>(AUTOSCAN_NAME_LEN)) {
            const QSignalBlocker blocker(m_pListPresets);
            pItem->setCheckState(Qt::Unchecked);
            Refuse(MakeError("preset", IDS_HINT_MAX_PRESET, {AUTOSCAN_NAME_LEN}));
            return;
        }
        vecGroup.push_back(byNumber);
    }
    AutoScanEntry& entry = m_stEdit.aEntry[nGroup];
    entry.byNumber = static_cast<BYTE>(nGroup);
    entry.byNameLen = static_cast<BYTE>(vecGroup.size());
    std::memset(entry.szName, 0, sizeof(entry.szName));
    std::copy(vecGroup.begin(), vecGroup.end(), reinterpret_cast<BYTE*>(entry.szName));
    // Shown again in the new order once the item's own signal is over.
    QTimer::singleShot(0, this, [this] { ShowGroupPresets(); });
}

void CDlgPTZScanSchedule::ShowRanges()
{
    m_pList->clear();
    for (const AutoScanPeriod& period : m_vecPeriods)
        m_pList->addItem(RangeText(period));
}

bool CDlgPTZScanSchedule::OnBtnAdd()
{
    if (m_pComboGroup->currentIndex() < 0) {
        Refuse(MakeError("group", IDS_PLEASE_SELECT_PATH));
        return false;
    }
    if (GroupPresets(m_pComboGroup->currentIndex()).empty()) {
        Refuse(MakeError("preset", IDS_PLEASE_SELECT_PRESET));
        return false;
    }
    const TourRange range{static_cast<DWORD>(m_pStart->time().hour() * 60 + m_pStart->time().minute()),
                          static_cast<DWORD>(m_pEnd->time().hour() * 60 + m_pEnd->time().minute())};
    std::vector<TourRange> vecRanges;
    for (const AutoScanPeriod& period : m_vecPeriods)
        vecRanges.push_back({period.dwStart, period.dwEnd});
    // The camera's schedule record carries ten ranges: more would be lost on the way.
    if (Refuse(CheckTourRange(vecRanges, range, std::min<std::size_t>(TOUR_RANGES_MAX, AUTOSCAN_ENTRIES))))
        return false;
    m_vecPeriods.push_back(
        {static_cast<DWORD>(m_pComboGroup->currentData().toInt()), range.dwStart, range.dwEnd});
    std::sort(m_vecPeriods.begin(), m_vecPeriods.end(),
              [](const AutoScanPeriod& a, const AutoScanPeriod& b) { return a.dwStart < b.dwStart; });
    ShowRanges();
    return true;
}

void CDlgPTZScanSchedule::OnBtnDelete()
{
    const int nRow = m_pList->currentRow();
    if (nRow < 0) {
        ShowHint(m_pList, IDS_PLEASE_SELECT_TIME, true);
        return;
    }
    m_vecPeriods.erase(m_vecPeriods.begin() + nRow);
    ShowRanges();
}

void CDlgPTZScanSchedule::OnBtnClearAll()
{
    m_vecPeriods.clear();
    ShowRanges();
}

void CDlgPTZScanSchedule::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    // A time range of a group left without presets would start a tour that goes nowhere.
    for (const AutoScanPeriod& period : m_vecPeriods) {
        if (GroupPresets(static_cast<int>(period.dwNumber)).empty()) {
            m_pComboGroup->setCurrentIndex(static_cast<int>(period.dwNumber));
            Refuse(MakeError("preset", IDS_PLEASE_SELECT_PRESET));
            return;
        }
    }
    AutoScanSchedule schedule = m_stEdit;
    schedule.byOperation = 1; // 0 would only ask
    schedule.byValue = m_pChkEnable->isChecked() ? 1 : 0;
    schedule.byPeriodCount = static_cast<BYTE>(m_vecPeriods.size());
    std::memset(schedule.aPeriod, 0, sizeof(schedule.aPeriod));
    std::copy(m_vecPeriods.begin(), m_vecPeriods.end(), schedule.aPeriod);
    pDevice->stAutoScanSchedule = schedule;
    Commands()->Cmd_AutoScanSchedule(pDevice->GetID(), schedule);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}
