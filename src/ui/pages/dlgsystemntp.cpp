#include "ui/pages/dlgsystemntp.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "ui/pages/pagewidgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// Offered beside the camera's own server.
const char* const g_apszNtpServers[5] = {"pool.ntp.org", "time.nist.gov", "time.google.com", "ntp.ubuntu.com",
                                         "time.cloudflare.com"};
// Zones with their usual offsets, in minutes.
const int g_anZones[] = {-720, -660, -600, -570, -540, -480, -420, -360, -300, -270, -240, -210, -180,
                         -120, -60,  0,    60,   120,  180,  210,  240,  270,  300,  330,  345,  360,
                         390,  420,  480,  525,  540,  570,  600,  630,  660,  720,  765,  780,  840};
const DWORD g_adwMonth[12] = {IDS_CMB_DST_MON_1, IDS_CMB_DST_MON_2,  IDS_CMB_DST_MON_3,  IDS_CMB_DST_MON_4,
                              IDS_CMB_DST_MON_5, IDS_CMB_DST_MON_6,  IDS_CMB_DST_MON_7,  IDS_CMB_DST_MON_8,
                              IDS_CMB_DST_MON_9, IDS_CMB_DST_MON_10, IDS_CMB_DST_MON_11, IDS_CMB_DST_MON_12};
const DWORD g_adwWeekday[7] = {IDS_CMB_DST_WEEKDAY_1, IDS_CMB_DST_WEEKDAY_2, IDS_CMB_DST_WEEKDAY_3,
                               IDS_CMB_DST_WEEKDAY_4, IDS_CMB_DST_WEEKDAY_5, IDS_CMB_DST_WEEKDAY_6,
                               IDS_CMB_DST_WEEKDAY_7};
// Ordinals: 1 to 3 from the month's start, then 1 to 3 from its end.
const DWORD g_adwOrdinal[6] = {IDS_CMB_DST_WEEK_1,   IDS_CMB_DST_WEEK_2,   IDS_CMB_DST_WEEK_3,
                               IDS_CMB_DST_WEEK_R_1, IDS_CMB_DST_WEEK_R_2, IDS_CMB_DST_WEEK_R_3};

QString ZoneText(int nMinutes)
{
    const int nAbs = nMinutes < 0 ? -nMinutes : nMinutes;
    const QString strOffset = QStringLiteral("%1%2:%3")
                                  .arg(nMinutes < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                                  .arg(nAbs / 60, 2, 10, QLatin1Char('0'))
                                  .arg(nAbs % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("(GMT%1)").arg(strOffset);
}

QComboBox* MakeCombo(QWidget* pParent, const QString& strName)
{
    auto* pCombo = new QComboBox(pParent);
    pCombo->setObjectName(strName);
    return pCombo;
}

void SelectData(QComboBox* pCombo, int nValue)
{
    pCombo->setCurrentIndex(pCombo->findData(nValue));
}

} // namespace

CDlgSystemNTP::DstRow CDlgSystemNTP::MakeRow(const char* pszName)
{
    const QString strName = QString::fromLatin1(pszName);
    DstRow row{};
    row.pMonth1 = MakeCombo(this, strName + QStringLiteral("_month1"));
    row.pMonth2 = MakeCombo(this, strName + QStringLiteral("_month2"));
    for (int i = 0; i < 12; ++i) {
        row.pMonth1->addItem(PageText(g_adwMonth[i]), i + 1);
        row.pMonth2->addItem(PageText(g_adwMonth[i]), i + 1);
    }
    row.pDay = MakeCombo(this, strName + QStringLiteral("_day"));
    for (int i = 1; i <= 31; ++i)
        row.pDay->addItem(QString(), i);
    row.pHour1 = MakeCombo(this, strName + QStringLiteral("_hour1"));
    row.pHour2 = MakeCombo(this, strName + QStringLiteral("_hour2"));
    for (int i = 0; i < 24; ++i) {
        row.pHour1->addItem(QString(), i);
        row.pHour2->addItem(QString(), i);
    }
    NumberItems(row);
    row.pOrdinal = MakeCombo(this, strName + QStringLiteral("_ordinal"));
    for (int i = 0; i < 6; ++i)
        row.pOrdinal->addItem(PageText(g_adwOrdinal[i]), i);
    row.pWeekday = MakeCombo(this, strName + QStringLiteral("_weekday"));
    for (int i = 0; i < 7; ++i)
        row.pWeekday->addItem(PageText(g_adwWeekday[i]), i + 1);
    for (QComboBox* pCombo :
         {row.pMonth1, row.pDay, row.pHour1, row.pOrdinal, row.pWeekday, row.pMonth2, row.pHour2})
        pCombo->setCurrentIndex(-1);
    return row;
}

// "%d day" and "%d hour" items, in the language shown.
void CDlgSystemNTP::NumberItems(DstRow& row)
{
    for (const auto& [pCombo, dwFormat] : {std::pair{row.pDay, IDS_CMB_DST_DAY_UNIT},
                                           {row.pHour1, IDS_CMB_DST_TIME_OCLOCK},
                                           {row.pHour2, IDS_CMB_DST_TIME_OCLOCK}}) {
        for (int i = 0; i < pCombo->count(); ++i)
            pCombo->setItemText(i, PageText(dwFormat).replace(QStringLiteral("%d"),
                                                              QString::number(pCombo->itemData(i).toInt())));
    }
}

void CDlgSystemNTP::Retranslate()
{
    NumberItems(m_rowStart);
    NumberItems(m_rowEnd);
    // The camera's own server may have been put in front of it since the list was built.
    m_pComboServer->setItemText(m_pComboServer->count() - 1, PageText(IDS_ST_USEDSERVERSYN));
}

void CDlgSystemNTP::BuildControls(QVBoxLayout* pLayout)
{
    auto* pGrid = new QGridLayout;
    m_pChkSync = new QCheckBox(PageText(IDS_ST_USENTP), this);
    m_pChkSync->setObjectName(QStringLiteral("sync"));
    pGrid->addWidget(m_pChkSync, 0, 0, 1, 2);
    pGrid->addWidget(new QLabel(PageText(IDS_ST_NTPSERVER), this), 1, 0);
    m_pComboServer = MakeCombo(this, QStringLiteral("server"));
    m_pComboServer->setEditable(true);
    for (const char* pszServer : g_apszNtpServers)
        m_pComboServer->addItem(QString::fromLatin1(pszServer));
    // Last: no server of the user's, the camera takes its time from the D-server.
    m_pComboServer->addItem(PageText(IDS_ST_USEDSERVERSYN), QString::fromLatin1(NTP_SERVER_DSERVER));
    pGrid->addWidget(m_pComboServer, 1, 1);
    pGrid->addWidget(new QLabel(PageText(IDS_ST_TIMEZONE), this), 2, 0);
    m_pComboZone = MakeCombo(this, QStringLiteral("zone"));
    for (const int nZone : g_anZones)
        m_pComboZone->addItem(ZoneText(nZone), nZone);
    pGrid->addWidget(m_pComboZone, 2, 1);
    auto* pBtnClock = new QPushButton(PageText(IDS_ST_UPDATETIME), this);
    pBtnClock->setObjectName(QStringLiteral("update_time"));
    connect(pBtnClock, &QPushButton::clicked, this, &CDlgSystemNTP::OnBtnUpdateTime);
    pGrid->addWidget(pBtnClock, 3, 1, Qt::AlignLeft);
    pGrid->setColumnStretch(1, 1);
    pLayout->addLayout(pGrid);

    auto* pBoxDst = new QGroupBox(this);
    auto* pDst = new QGridLayout(pBoxDst);
    m_pChkDst = new QCheckBox(PageText(IDS_CC_USEDST), pBoxDst);
    m_pChkDst->setObjectName(QStringLiteral("dst"));
    pDst->addWidget(m_pChkDst, 0, 0, 1, 5);
    m_pRadioMode1 = new QRadioButton(PageText(IDS_ST_DST1_MODE), pBoxDst);
    m_pRadioMode2 = new QRadioButton(PageText(IDS_ST_DST2_MODE), pBoxDst);
    auto* pModes = new QButtonGroup(this);
    pModes->addButton(m_pRadioMode1);
    pModes->addButton(m_pRadioMode2);
    m_rowStart = MakeRow("dst_start");
    m_rowEnd = MakeRow("dst_end");
    const QString strStart = PageText(IDS_ST_STARTTIME);
    const QString strEnd = PageText(IDS_ST_ENDTIME);
    pDst->addWidget(m_pRadioMode1, 1, 0, 1, 5);
    int nRow = 2;
    for (const auto& [pRow, pstrText] : {std::pair{&m_rowStart, &strStart}, {&m_rowEnd, &strEnd}}) {
        pDst->addWidget(new QLabel(*pstrText, pBoxDst), nRow, 0);
        pDst->addWidget(pRow->pMonth1, nRow, 1);
        pDst->addWidget(pRow->pDay, nRow, 2);
        pDst->addWidget(pRow->pHour1, nRow, 3);
        ++nRow;
    }
    pDst->addWidget(m_pRadioMode2, nRow++, 0, 1, 5);
    for (const auto& [pRow, pstrText] : {std::pair{&m_rowStart, &strStart}, {&m_rowEnd, &strEnd}}) {
        pDst->addWidget(new QLabel(*pstrText, pBoxDst), nRow, 0);
        pDst->addWidget(pRow->pOrdinal, nRow, 1);
        pDst->addWidget(pRow->pWeekday, nRow, 2);
        pDst->addWidget(pRow->pMonth2, nRow, 3);
        pDst->addWidget(pRow->pHour2, nRow, 4);
        ++nRow;
    }
    pLayout->addWidget(pBoxDst);
    for (QAbstractButton* pButton :
         std::initializer_list<QAbstractButton*>{m_pChkDst, m_pRadioMode1, m_pRadioMode2})
        connect(pButton, &QAbstractButton::toggled, this, [this] { UpdateDstControls(); });
    pLayout->addStretch(1);
    AddSaveButton(pLayout, true);
    BindKey("sync", m_pChkSync);
    BindKey("server", m_pComboServer);
    BindKey("zone", m_pComboZone);
    BindKey("dst", m_pChkDst);
    BindKey("dst_start", m_pRadioMode1);
    BindKey("dst_end", m_pRadioMode1);
    UpdateDstControls();
}

void CDlgSystemNTP::UpdateDstControls()
{
    const bool bDst = m_pChkDst->isChecked();
    m_pRadioMode1->setEnabled(bDst);
    m_pRadioMode2->setEnabled(bDst);
    for (DstRow* pRow : {&m_rowStart, &m_rowEnd}) {
        for (QComboBox* pCombo : {pRow->pMonth1, pRow->pDay, pRow->pHour1})
            pCombo->setEnabled(bDst && m_pRadioMode1->isChecked());
        for (QComboBox* pCombo : {pRow->pOrdinal, pRow->pWeekday, pRow->pMonth2, pRow->pHour2})
            pCombo->setEnabled(bDst && m_pRadioMode2->isChecked());
    }
}

bool CDlgSystemNTP::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetNTP != 0;
}

void CDlgSystemNTP::FillRow(DstRow& row, DWORD dwMode1, DWORD dwMode2)
{
    if (dwMode1 != 0) {
        SelectData(row.pMonth1, static_cast<int>(dwMode1 & 0xFF));
        SelectData(row.pDay, static_cast<int>((dwMode1 >> 8) & 0xFF));
        SelectData(row.pHour1, static_cast<int>((dwMode1 >> 16) & 0xFF));
    }
    if (dwMode2 != 0) {
        const bool bFromEnd = (dwMode2 & 0x100) != 0;
        const int nOrdinal = static_cast<int>((dwMode2 >> 9) & 0x7F);
        SelectData(row.pMonth2, static_cast<int>(dwMode2 & 0xFF));
        SelectData(row.pOrdinal, nOrdinal >= 1 && nOrdinal <= 3 ? nOrdinal - 1 + (bFromEnd ? 3 : 0) : -1);
        SelectData(row.pWeekday, static_cast<int>((dwMode2 >> 16) & 0xFF));
        SelectData(row.pHour2, static_cast<int>((dwMode2 >> 24) & 0xFF));
    }
}

DWORD CDlgSystemNTP::GiveUp()
{
    m_strWritten.clear();
    return IDS_HINT_GET_NTP_INFO_FAIL;
}

void CDlgSystemNTP::FillControls(const DeviceInfo& device)
{
    if (!m_strWritten.isEmpty()) {
        const bool bHeld = GroupText(device) == m_strWritten;
        m_strWritten.clear();
        ShowHint(GetSaveButton(), bHeld ? IDS_HINT_SETNTPSUC : IDS_HINT_SETNTPFAIL, !bHeld);
    }
    const NtpInfo& ntp = device.stNtp;
    m_pChkSync->setChecked(ntp.usNtpSync != 0);
    const QString strServer = QString::fromStdString(FieldText(ntp.szNtpServer));
    if (strServer == QLatin1String(NTP_SERVER_DSERVER) && ntp.byFinal == 1) {
        m_pComboServer->setCurrentIndex(m_pComboServer->count() - 1);
    } else {
        if (!strServer.isEmpty() && m_pComboServer->findText(strServer) < 0)
            m_pComboServer->insertItem(0, strServer);
        m_pComboServer->setEditText(strServer);
    }
    int nZone = m_pComboZone->findData(static_cast<int>(ntp.nTimeZone));
    if (nZone < 0) {
        m_pComboZone->addItem(ZoneText(ntp.nTimeZone), static_cast<int>(ntp.nTimeZone));
        nZone = m_pComboZone->count() - 1;
    }
    m_pComboZone->setCurrentIndex(nZone);
    m_pChkDst->setChecked(ntp.byDstMode != 0);
    m_pRadioMode1->setChecked(ntp.byDstMode == 1);
    m_pRadioMode2->setChecked(ntp.byDstMode == 2);
    FillRow(m_rowStart, ntp.dwMode1Start, ntp.dwMode2Start);
    FillRow(m_rowEnd, ntp.dwMode1End, ntp.dwMode2End);
    UpdateDstControls();
}

std::string CDlgSystemNTP::RowText(const DstRow& row, bool bByDate) const
{
    auto fnPart = [](const QComboBox* pCombo) { return pCombo->currentData().toInt(); };
    if (bByDate) {
        for (const QComboBox* pCombo : {row.pMonth1, row.pDay, row.pHour1}) {
            if (pCombo->currentIndex() < 0)
                return std::string();
        }
        return std::to_string(fnPart(row.pMonth1)) + "/" + std::to_string(fnPart(row.pDay)) + "/" +
               std::to_string(fnPart(row.pHour1));
    }
    for (const QComboBox* pCombo : {row.pOrdinal, row.pWeekday, row.pMonth2, row.pHour2}) {
        if (pCombo->currentIndex() < 0)
            return std::string();
    }
    const int nOrdinal = fnPart(row.pOrdinal);
    const std::string strOrdinal = (nOrdinal >= 3 ? "L" : "") + std::to_string(nOrdinal % 3 + 1);
    return std::to_string(fnPart(row.pMonth2)) + "/" + strOrdinal + "/" +
           std::to_string(fnPart(row.pWeekday)) + "/" + std::to_string(fnPart(row.pHour2));
}

bool CDlgSystemNTP::EditedKeys(KeyValues& kv)
{
    const int nZone = m_pComboZone->currentData().toInt();
    const int nAbs = nZone < 0 ? -nZone : nZone;
    char szZone[16];
    std::snprintf(szZone, sizeof(szZone), "%c%02d:%02d", nZone < 0 ? '-' : '+', nAbs / 60, nAbs % 60);
    // The last entry is a choice, not a name: its words change with the language.
    const int nLast = m_pComboServer->count() - 1;
    const bool bDServer = m_pComboServer->currentIndex() == nLast &&
                          m_pComboServer->currentText() == m_pComboServer->itemText(nLast);
    kv = {{"sync", m_pChkSync->isChecked() ? "on" : "off"},
          {"server", bDServer ? std::string(NTP_SERVER_DSERVER)
                              : m_pComboServer->currentText().trimmed().toStdString()},
          {"zone", szZone}};
    if (!m_pChkDst->isChecked()) {
        kv["dst"] = "off";
        return true;
    }
    if (!m_pRadioMode1->isChecked() && !m_pRadioMode2->isChecked()) {
        Refuse(MakeError("dst", IDS_HINT_SET_DST_NO_MODE));
        return false;
    }
    const bool bByDate = m_pRadioMode1->isChecked();
    kv["dst"] = bByDate ? "date" : "weekday";
    kv["dst_start"] = RowText(m_rowStart, bByDate);
    kv["dst_end"] = RowText(m_rowEnd, bByDate);
    if (kv["dst_start"].empty() || kv["dst_end"].empty()) {
        Refuse(MakeError("dst_start", IDS_HINT_SET_DST_NO_TIME));
        return false;
    }
    return true;
}

void CDlgSystemNTP::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    KeyValues kv;
    if (pDevice == nullptr || !EditedKeys(kv))
        return;
    NtpInfo info = pDevice->stNtp;
    if (Refuse(BuildNtp(kv, info)))
        return;
    info.dwID = pDevice->GetID();
    pDevice->stNtp = info;
    Commands()->Cmd_SetNTP(pDevice->GetID(), info);
    // Read back at once: the page says "OK" when the camera holds what was sent.
    m_strWritten = GroupText(*pDevice);
    ForgetGroup(*pDevice);
    AskGroup(*pDevice);
    StartPolling();
}

bool CDlgSystemNTP::CheckEdited()
{
    const DeviceInfo* pDevice = SelectedDevice();
    KeyValues kv;
    if (pDevice == nullptr || !EditedKeys(kv))
        return false;
    NtpInfo info = pDevice->stNtp;
    if (Refuse(BuildNtp(kv, info)))
        return false;
    m_kvEdited = kv;
    return true;
}

void CDlgSystemNTP::SendTo(DeviceInfo& device)
{
    // Every key is given, so the camera's own record only fills what the page does not show.
    NtpInfo info = device.stNtp;
    if (CheckResult error = BuildNtp(m_kvEdited, info)) {
        RefuseCamera(device.GetID(), *error);
        return;
    }
    info.dwID = device.GetID();
    device.stNtp = info;
    Commands()->Cmd_SetNTP(device.GetID(), info);
}

QString CDlgSystemNTP::GroupText(const DeviceInfo& device) const
{
    const NtpInfo& info = device.stNtp;
    const int nAbs = info.nTimeZone < 0 ? -info.nTimeZone : info.nTimeZone;
    return QStringLiteral("%1 GMT%2%3:%4 DST %5")
        .arg(info.usNtpSync != 0 ? QString::fromStdString(FieldText(info.szNtpServer)) : QStringLiteral("-"),
             info.nTimeZone < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(nAbs / 60, 2, 10, QLatin1Char('0'))
        .arg(nAbs % 60, 2, 10, QLatin1Char('0'))
        .arg(info.byDstMode);
}

void CDlgSystemNTP::ForgetGroup(DeviceInfo& device)
{
    device.stQuery.bCmdGetNTP = 0;
}

void CDlgSystemNTP::AskGroup(const DeviceInfo& device)
{
    Commands()->Cmd_GetNTP(device.GetID());
}

void CDlgSystemNTP::OnBtnUpdateTime()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    DWORD dwUtc = 0;
    LONG nOffset = 0;
    GetPcClock(dwUtc, nOffset);
    Commands()->Cmd_SetCameraTime(pDevice->GetID(), dwUtc, nOffset);
    ShowHint(findChild<QPushButton*>(QStringLiteral("update_time")), IDS_HINT_SETNAMESUC, false);
}
