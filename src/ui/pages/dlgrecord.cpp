#include "ui/pages/dlgrecord.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/recordlayout.h"
#include "device/settinggroups.h"
#include "device/videoquality.h"
#include "ui/pages/dlgrecordschedule.h"
#include "ui/pages/pagewidgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace recordlayout;

CDlgRecordBase::CDlgRecordBase(const PageContext& context, bool bNas, QWidget* pParent)
    : CConfigPage(context, pParent), m_bNas(bNas)
{
}

void CDlgRecordBase::BuildControls(QVBoxLayout* pLayout)
{
    // What is recorded and when, beside the stream it is recorded with.
    auto* pTop = new QHBoxLayout;
    auto* pBoxOptions = new QGroupBox(PageText(IDS_ST_SETRECORD_TITLE), this);
    auto* pOptions = new QGridLayout(pBoxOptions);
    auto addOption = [&](QAbstractButton* pButton, const char* pszKey, int nRow, int nColumn) {
        pButton->setObjectName(QString::fromLatin1(pszKey));
        pOptions->addWidget(pButton, nRow, nColumn);
        m_vecOptions.emplace_back(pszKey, pButton);
        BindKey(pszKey, pButton);
    };
    addOption(new QCheckBox(PageText(m_bNas ? IDS_ST_ENBLE_NASRECORD : IDS_CC_STARTRECORD), pBoxOptions),
              "record", 0, 0);
    addOption(new QCheckBox(PageText(IDS_CC_SOUND), pBoxOptions), "audio", 0, 1);
    addOption(new QCheckBox(PageText(IDS_CHECK_AUTOSAVERECORD), pBoxOptions), "bootup", 1, 0);
    addOption(new QCheckBox(PageText(IDS_CC_KEYRECORD), pBoxOptions), "manual", 1, 1);
    // Two pairs of choices, each its own group of radio buttons.
    for (const auto& [dwOff, dwOn, pszKey, nRow] :
         {std::tuple{IDS_CC_FULLSTOP, IDS_CC_REWRITE, "overwrite", 2},
          {IDS_CC_COMMON, IDS_CC_EVENT, "event", 3}}) {
        auto* pGroup = new QButtonGroup(pBoxOptions);
        auto* pOff = new QRadioButton(PageText(dwOff), pBoxOptions);
        auto* pOn = new QRadioButton(PageText(dwOn), pBoxOptions);
        pOff->setObjectName(QStringLiteral("not_") + QString::fromLatin1(pszKey));
        pGroup->addButton(pOff);
        pGroup->addButton(pOn);
        pOptions->addWidget(pOff, nRow, 0);
        addOption(pOn, pszKey, nRow, 1);
    }
    // The events that start an event recording.
    auto* pEvents = new QHBoxLayout;
    const DWORD adwEvents[4] = {IDS_CC_REG1, IDS_CC_REG2, IDS_CC_REG3, IDS_CC_REG4};
    const char* apszEvents[4] = {"area1", "area2", "area3", "di"};
    QAbstractButton* pEvent = m_vecOptions.back().second;
    for (int i = 0; i < 4; ++i) {
        auto* pBox = new QCheckBox(PageText(adwEvents[i]), pBoxOptions);
        pBox->setObjectName(QString::fromLatin1(apszEvents[i]));
        pBox->setEnabled(false);
        connect(pEvent, &QAbstractButton::toggled, pBox, &QWidget::setEnabled);
        pEvents->addWidget(pBox);
        m_vecOptions.emplace_back(apszEvents[i], pBox);
        BindKey(apszEvents[i], pBox);
    }
    pEvents->addStretch(1);
    pOptions->addLayout(pEvents, 4, 0, 1, 2);
    pTop->addWidget(pBoxOptions, 1);

    auto* pBoxStream = new QGroupBox(PageText(IDS_ST_QUALITY), this);
    auto* pStreamLayout = new QVBoxLayout(pBoxStream);
    m_pStream = new CStreamFields("", pBoxStream);
    pStreamLayout->addWidget(m_pStream);
    pStreamLayout->addStretch(1);
    pTop->addWidget(pBoxStream);
    pLayout->addLayout(pTop);
    BindKey("fps", m_pStream->GetFps());
    BindKey("res", m_pStream->GetRes());
    BindKey("bps", m_pStream->GetBps());

    auto* pBoxSchedule = new QGroupBox(PageText(IDS_CTL_SCHEDULE), this);
    auto* pScheduleLayout = new QVBoxLayout(pBoxSchedule);
    auto* pChkSchedule = new QCheckBox(PageText(IDS_CC_SCHEDULE), pBoxSchedule);
    pChkSchedule->setObjectName(QStringLiteral("schedule_on"));
    m_vecOptions.emplace_back("schedule_on", pChkSchedule);
    BindKey("schedule_on", pChkSchedule);
    // The switch, then the kind of timetable: three ways of editing the one week of hours.
    auto* pKindRow = new QHBoxLayout;
    pKindRow->addWidget(pChkSchedule);
    pKindRow->addStretch(1);
    m_pSchedule = new CDlgRecordSchedule(pBoxSchedule);
    auto* pKinds = new QButtonGroup(pBoxSchedule);
    for (const auto& [dwText, pszName, enKind] :
         {std::tuple{IDS_CC_DAY, "daily", CDlgRecordSchedule::Kind::Daily},
          {IDS_CC_WEEK, "weekly", CDlgRecordSchedule::Kind::Weekly},
          {IDS_CC_MONTH, "monthly", CDlgRecordSchedule::Kind::Monthly}}) {
        auto* pKind = new QRadioButton(PageText(dwText), pBoxSchedule);
        pKind->setObjectName(QString::fromLatin1(pszName));
        pKind->setChecked(enKind == m_pSchedule->GetKind());
        pKinds->addButton(pKind);
        pKindRow->addWidget(pKind);
        connect(pKind, &QAbstractButton::toggled, this, [this, enKind](bool bOn) {
            if (bOn) {
                m_pSchedule->SetKind(enKind);
                UpdateScheduleNote();
            }
        });
    }
    pScheduleLayout->addLayout(pKindRow);
    m_pScheduleNote = new QLabel(pBoxSchedule);
    m_pScheduleNote->setObjectName(QStringLiteral("schedule_note"));
    m_pScheduleNote->setWordWrap(true);
    pScheduleLayout->addWidget(m_pScheduleNote);
    m_pSchedule->setObjectName(QStringLiteral("schedule"));
    m_pSchedule->setToolTip(PageText(IDS_CTLTIP_SCHEDULE_GRID));
    BindKey("schedule", m_pSchedule);
    pScheduleLayout->addWidget(m_pSchedule);
    // The daily row is short: the room the other kinds need stays below it.
    pScheduleLayout->addStretch(1);
    UpdateScheduleNote();
    pLayout->addWidget(pBoxSchedule);

    if (!m_bNas) {
        auto* pRow = new QHBoxLayout;
        m_pLabelCapacity = new QLabel(this);
        m_pLabelCapacity->setObjectName(QStringLiteral("capacity"));
        m_pBtnClear = new QPushButton(PageText(IDS_CTL_CLEARSDRECORD), this);
        m_pBtnClear->setObjectName(QStringLiteral("clear"));
        connect(m_pBtnClear, &QPushButton::clicked, this, &CDlgRecordBase::OnBtnClearRecords);
        pRow->addWidget(m_pLabelCapacity, 1);
        pRow->addWidget(m_pBtnClear);
        pLayout->addLayout(pRow);
    } else {
        auto* pForm = new QGridLayout;
        m_pEditSize = MakeEdit(this, "size", 9);
        m_pEditIP = MakeEdit(this, "ip", 15);
        m_pEditPath = MakeEdit(this, "path", 32);
        m_pEditAccount = MakeEdit(this, "account", 16);
        m_pEditPassword = MakeEdit(this, "password", 16);
        m_pEditConfirm = MakeEdit(this, "confirm", 16);
        m_pEditPassword->setEchoMode(QLineEdit::Password);
        m_pEditConfirm->setEchoMode(QLineEdit::Password);
        // Two columns of label and edit: server and store on the left, the log-in on the right.
        const std::pair<DWORD, QLineEdit*> aRows[] = {{IDS_ST_NAS_IP, m_pEditIP},
                                                      {IDS_ST_NAS_ACCOUNT, m_pEditAccount},
                                                      {IDS_ST_NAS_PATH, m_pEditPath},
                                                      {IDS_ST_NAS_PASSWORD, m_pEditPassword},
                                                      {IDS_ST_NAS_MAX_STORAGE_SIZE, m_pEditSize},
                                                      {IDS_ST_NAS_PASSWORD_COMFIRM, m_pEditConfirm}};
        for (int i = 0; i < 6; ++i) {
            pForm->addWidget(new QLabel(PageText(aRows[i].first), this), i / 2, (i % 2) * 2);
            pForm->addWidget(aRows[i].second, i / 2, (i % 2) * 2 + 1);
        }
        pLayout->addLayout(pForm);
        for (QLineEdit* pEdit :
             {m_pEditSize, m_pEditIP, m_pEditPath, m_pEditAccount, m_pEditPassword, m_pEditConfirm})
            BindKey(pEdit->objectName().toStdString(), pEdit);
    }
    pLayout->addStretch(1);
    AddSaveButton(pLayout, true);
}

// What the timetable shown means; the daily and monthly kinds say plainly that they edit the week.
void CDlgRecordBase::UpdateScheduleNote()
{
    switch (m_pSchedule->GetKind()) {
    case CDlgRecordSchedule::Kind::Daily:
        m_pScheduleNote->setText(PageText(IDS_CC_SETDAYDATE) + QStringLiteral(": ") +
                                 PageText(IDS_ST_SCHEDULE_DAILY_NOTE));
        break;
    case CDlgRecordSchedule::Kind::Weekly:
        m_pScheduleNote->setText(PageText(IDS_ST_SETWEEKDATE));
        break;
    case CDlgRecordSchedule::Kind::Monthly:
        m_pScheduleNote->setText(PageText(IDS_ST_SETMONTHDATE) +
                                 m_pSchedule->GetMonth().toString(QStringLiteral(" (yyyy-MM): ")) +
                                 PageText(IDS_ST_SCHEDULE_MONTHLY_NOTE));
        break;
    }
}

bool CDlgRecordBase::IsReceived(const DeviceInfo& device) const
{
    return m_bNas ? device.stQuery.bCmdGetRecordNas != 0 : device.stQuery.bCmdGetRecordSD != 0;
}

void CDlgRecordBase::FillControls(const DeviceInfo& device)
{
    const RecordInfo& info = m_bNas ? device.stRecordNas : device.stRecordSD;
    // HD only for a camera that can encode it, or that records HD already (so the list is never
    // empty for what the camera holds).
    m_pStream->SetHD(OffersHD(device.SupportsHD(), info.dwSessionMode));
    m_pStream->SetMode(info.dwSessionMode);
    // The record's bytes by the keys the checks take them under.
    const std::map<std::string, BYTE> mapBytes = {{"record", info.abSingle[RECORD_ON]},
                                                  {"audio", info.abSingle[RECORD_AUDIO]},
                                                  {"overwrite", info.abSingle[RECORD_OVERWRITE]},
                                                  {"bootup", info.abThree[RECORD_BOOTUP]},
                                                  {"manual", info.abThree[RECORD_MANUAL]},
                                                  {"schedule_on", info.abThree[RECORD_SCHEDULE_ON]},
                                                  {"event", info.byOne},
                                                  {"area1", info.abFour[0]},
                                                  {"area2", info.abFour[1]},
                                                  {"area3", info.abFour[2]},
                                                  {"di", info.abFour[3]}};
    for (const auto& [strKey, pButton] : m_vecOptions) {
        pButton->setChecked(mapBytes.at(strKey) != 0);
        if (strKey == "overwrite" || strKey == "event") {
            // The radio pair's other half.
            if (auto* pOff =
                    findChild<QAbstractButton*>(QStringLiteral("not_") + QString::fromStdString(strKey)))
                pOff->setChecked(mapBytes.at(strKey) == 0);
        }
    }
    m_pSchedule->SetSchedule(info.abSchedule);
    // The calendar is this month's as of the camera's last answer, not of when the page was made.
    m_pSchedule->SetMonth(QDate::currentDate());
    UpdateScheduleNote();
    if (!m_bNas) {
        ShowCapacity(device);
        return;
    }
    m_pEditSize->setText(QString::number(info.dwValueA));
    m_pEditIP->setText(AddressText(info.dwValueB));
    m_pEditPath->setText(QString::fromStdString(FieldText(info.szNasPath)));
    m_pEditAccount->setText(QString::fromStdString(FieldText(info.szNasAccount)));
    m_pEditPassword->setText(QString::fromStdString(FieldText(info.szNasPassword)));
    m_pEditConfirm->setText(m_pEditPassword->text());
}

void CDlgRecordBase::ShowCapacity(const DeviceInfo& device)
{
    const RecordInfo& info = device.stRecordSD;
    // Capacity in MB as the camera reports it, when it has; the minutes left at the rate the
    // camera records with (what it holds, not unsaved edits), none when that rate is unknown.
    const SDInfo& sd = device.stSDInfo;
    const QString strUnit = PageText(IDS_ST_SDSPACEUNIT);
    QString strText;
    if (device.stQuery.bCmdGetSDInfo != 0) {
        strText = QStringLiteral("%1: %2 %7   %3: %4 %7   %5: %6 %7")
                      .arg(PageText(IDS_ST_SDSPACETITLE))
                      .arg(sd.dwCapacity)
                      .arg(PageText(IDS_ST_RECORDTIMETITLE))
                      .arg(sd.dwRecorded)
                      .arg(PageText(IDS_ST_SDREMAINTITLE))
                      .arg(sd.dwRemaining)
                      .arg(strUnit);
        const long long nMinutes =
            RemainingMinutes(sd.dwRemaining, info.dwSessionMode, info.abSingle[RECORD_AUDIO] != 0);
        if (nMinutes >= 0)
            strText += QStringLiteral("\n%1: %2 %3")
                           .arg(PageText(IDS_ST_REMAINTIMETITLE))
                           .arg(nMinutes)
                           .arg(PageText(IDS_ST_MINUTETIMEUNIT));
    }
    m_pLabelCapacity->setText(strText);
}

void CDlgRecordBase::Retranslate()
{
    UpdateScheduleNote();
    const DeviceInfo* pDevice = SelectedDevice();
    if (m_bNas)
        return;
    if (pDevice != nullptr && GetPollState() == PollState::Filled)
        ShowCapacity(*pDevice);
    else
        m_pLabelCapacity->clear();
}

void CDlgRecordBase::EditedKeys(KeyValues& kv) const
{
    m_pStream->AddKeys(kv);
    for (const auto& [strKey, pButton] : m_vecOptions)
        kv[strKey] = pButton->isChecked() ? "on" : "off";
    BYTE abSchedule[24] = {};
    m_pSchedule->GetSchedule(abSchedule);
    kv["schedule"] = ScheduleHex(abSchedule);
    if (m_bNas) {
        for (QLineEdit* pEdit :
             {m_pEditSize, m_pEditIP, m_pEditPath, m_pEditAccount, m_pEditPassword, m_pEditConfirm})
            kv[pEdit->objectName().toStdString()] = EditText(pEdit);
    }
}

bool CDlgRecordBase::CheckEdited()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return false;
    KeyValues kv;
    EditedKeys(kv);
    AddStandardKey(kv, *pDevice);
    RecordInfo info = m_bNas ? pDevice->stRecordNas : pDevice->stRecordSD;
    if (Refuse(BuildRecord(kv, m_bNas, info)))
        return false;
    m_kvEdited = kv;
    return true;
}

void CDlgRecordBase::SendTo(DeviceInfo& device)
{
    // Every key the page shows is given: the camera's own record keeps only the bytes that are
    // not the page's, so a record the camera has not sent yet is not written over.
    RecordInfo& held = m_bNas ? device.stRecordNas : device.stRecordSD;
    RecordInfo info = held;
    CheckResult result;
    if (!m_bNas && device.stItem.bHasSD == 0)
        result = MakeError("record", IDS_HINT_NOSDCARD);
    else if ((m_bNas ? device.stQuery.bCmdGetRecordNas : device.stQuery.bCmdGetRecordSD) == 0)
        result = MakeError("record", IDS_HINT_GET_INFO_FAIL);
    else {
        KeyValues kv = m_kvEdited;
        AddStandardKey(kv, device);
        result = BuildRecord(kv, m_bNas, info);
    }
    if (!result)
        result = CheckHD(device.SupportsHD(), held.dwSessionMode, info.dwSessionMode);
    if (result) {
        RefuseCamera(device.GetID(), *result);
        return;
    }
    // The top bit of each hour is the target camera's, not the page's.
    for (int h = 0; h < SCHEDULE_HOURS; ++h)
        info.abSchedule[h] = static_cast<BYTE>((info.abSchedule[h] & SCHEDULE_ALL_DAYS) |
                                               (held.abSchedule[h] & ~SCHEDULE_ALL_DAYS));
    info.dwID = device.GetID();
    held = info;
    if (m_bNas)
        Commands()->Cmd_SetRecordNas(device.GetID(), info);
    else
        Commands()->Cmd_SetRecordSD(device.GetID(), info);
}

QString CDlgRecordBase::GroupText(const DeviceInfo& device) const
{
    // The switches in the page's order, the stream and the week's hours, and where a NAS is.
    const RecordInfo& info = m_bNas ? device.stRecordNas : device.stRecordSD;
    QString strSwitches;
    for (const BYTE by :
         {info.abSingle[RECORD_ON], info.abSingle[RECORD_AUDIO], info.abSingle[RECORD_OVERWRITE],
          info.abThree[RECORD_BOOTUP], info.abThree[RECORD_MANUAL], info.abThree[RECORD_SCHEDULE_ON],
          info.byOne, info.abFour[0], info.abFour[1], info.abFour[2], info.abFour[3]})
        strSwitches += by != 0 ? QLatin1Char('1') : QLatin1Char('0');
    QString strText = QStringLiteral("%1 %2/%3/%4 %5")
                          .arg(strSwitches)
                          .arg(SessionModeFrameRate(info.dwSessionMode))
                          .arg(SessionModeResolution(info.dwSessionMode))
                          .arg(SessionModeBitrate(info.dwSessionMode))
                          .arg(QString::fromStdString(ScheduleHex(info.abSchedule)));
    if (m_bNas)
        strText += QStringLiteral(" %1 MB %2 %3 %4")
                       .arg(info.dwValueA)
                       .arg(AddressText(info.dwValueB))
                       .arg(QString::fromStdString(FieldText(info.szNasPath)))
                       .arg(QString::fromStdString(FieldText(info.szNasAccount)));
    return strText;
}

void CDlgRecordBase::ForgetGroup(DeviceInfo& device)
{
    // The read-back shows what the camera holds from here on.
    (m_bNas ? device.stQuery.bCmdGetRecordNas : device.stQuery.bCmdGetRecordSD) = 0;
}

void CDlgRecordBase::AskGroup(const DeviceInfo& device)
{
    if (m_bNas)
        Commands()->Cmd_GetRecordNas(device.GetID());
    else
        Commands()->Cmd_GetRecordSD(device.GetID());
}

void CDlgRecordBase::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    KeyValues kv;
    EditedKeys(kv);
    AddStandardKey(kv, *pDevice);
    RecordInfo info = m_bNas ? pDevice->stRecordNas : pDevice->stRecordSD;
    if (Refuse(BuildRecord(kv, m_bNas, info)))
        return;
    info.dwID = pDevice->GetID();
    if (m_bNas) {
        pDevice->stRecordNas = info;
        Commands()->Cmd_SetRecordNas(pDevice->GetID(), info);
    } else {
        pDevice->stRecordSD = info;
        Commands()->Cmd_SetRecordSD(pDevice->GetID(), info);
    }
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}

void CDlgRecordBase::OnBtnClearRecords()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    DWORD dwRefusal = 0;
    if (pDevice->stItem.bHasSD == 0)
        dwRefusal = IDS_HINT_NOSDCARD;
    else if (IsDownloading(pDevice->GetID()))
        dwRefusal = IDS_STOPDOWNLOAD_CLEARRECORD;
    else if (pDevice->stSDInfo.byState != 0)
        dwRefusal = IDS_CLEARRECORD_FAIL_RECORDING;
    if (dwRefusal != 0) {
        ShowHint(m_pBtnClear, dwRefusal, true);
        return;
    }
    if (!Confirm(IDS_MSG_CLEARRECORDFILE))
        return;
    Commands()->Cmd_ClearSDRecords(pDevice->GetID());
    ShowHint(m_pBtnClear, IDS_HINT_SETNAMESUC, false);
}
