#include "ui/pages/dlgnetworklinks.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "device/wifilink.h"
#include "ui/pages/pagewidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

QString SsidText(const char* pszSsid, std::size_t nLen)
{
    return QString::fromUtf8(pszSsid, static_cast<qsizetype>(strnlen(pszSsid, nLen)));
}

// The words of the link quality, from the best down.
DWORD QualityWord(int nPercent)
{
    if (nPercent >= 80)
        return IDS_SIGNAL_VERYGOOD;
    if (nPercent >= 60)
        return IDS_SIGNAL_GOOD;
    if (nPercent >= 40)
        return IDS_SIGNAL_COMMON;
    if (nPercent >= 20)
        return IDS_SIGNAL_BAD;
    return IDS_SIGNAL_VERYBAD;
}

} // namespace

void CDlgNetworkWifiPane::BuildControls(QVBoxLayout* pLayout)
{
    auto* pForm = new QFormLayout;
    auto fnLabel = [this](const char* pszName) {
        auto* pLabel = new QLabel(this);
        pLabel->setObjectName(QString::fromLatin1(pszName));
        return pLabel;
    };
    m_pLabelSsid = fnLabel("link_ssid");
    m_pLabelSpeed = fnLabel("link_speed");
    m_pLabelQuality = fnLabel("link_quality");
    m_pComboLink = new QComboBox(this);
    m_pComboLink->setObjectName(QStringLiteral("link"));
    m_pComboLink->addItem(PageText(IDS_ST_NETWIRED), QStringLiteral("wired"));
    m_pComboLink->addItem(PageText(IDS_ST_NETWIRELESS), QStringLiteral("wireless"));
    pForm->addRow(PageText(IDS_ST_SSID), m_pLabelSsid);
    pForm->addRow(PageText(IDS_STADV_RATE), m_pLabelSpeed);
    pForm->addRow(PageText(IDS_ST_SIGNAL), m_pLabelQuality);
    pForm->addRow(PageText(IDS_ST_CONNTYPE), m_pComboLink);
    pLayout->addLayout(pForm);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    BindKey("link", m_pComboLink);
}

bool CDlgNetworkWifiPane::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bHasWifi == 0 ||
           (device.stQuery.bCmdGetWirelessParam != 0 && device.pWifiRecord != nullptr);
}

void CDlgNetworkWifiPane::FillControls(const DeviceInfo& device)
{
    const WifiRecord* pRecord = device.stQuery.bHasWifi != 0 ? device.pWifiRecord : nullptr;
    GetSaveButton()->setEnabled(pRecord != nullptr);
    if (pRecord != nullptr)
        m_pComboLink->setCurrentIndex(WifiLinkOfRecord(*pRecord).bWireless ? 1 : 0);
    ShowLink(device);
}

void CDlgNetworkWifiPane::Retranslate()
{
    // Without a camera shown there is no state to put in the new words.
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice != nullptr && GetPollState() == PollState::Filled)
        ShowLink(*pDevice);
    else
        for (QLabel* pLabel : {m_pLabelSsid, m_pLabelSpeed, m_pLabelQuality})
            pLabel->clear();
}

void CDlgNetworkWifiPane::ShowLink(const DeviceInfo& device)
{
    const WifiRecord* pRecord = device.stQuery.bHasWifi != 0 ? device.pWifiRecord : nullptr;
    m_pLabelSsid->setText(PageText(IDS_ST_NOWIFI));
    m_pLabelSpeed->clear();
    m_pLabelQuality->clear();
    if (pRecord == nullptr)
        return;
    const WifiLinkState state = WifiLinkOfRecord(*pRecord);
    if (!state.bWifiUp)
        return;
    const WifiSettingsBlock& block = pRecord->stBlock;
    m_pLabelSsid->setText(SsidText(block.Ssid, std::min<std::size_t>(block.SsidLength, sizeof(block.Ssid))));
    if (state.nSpeed >= 0)
        m_pLabelSpeed->setText(QString::asprintf("%3.1f MBps", state.nSpeed / 10.0));
    if (state.nQuality >= 0)
        m_pLabelQuality->setText(PageText(QualityWord(state.nQuality)));
}

void CDlgNetworkWifiPane::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->pWifiRecord == nullptr)
        return;
    const bool bWireless = WifiLinkOfRecord(*pDevice->pWifiRecord).bWireless;
    const bool bToWireless = m_pComboLink->currentIndex() == 1;
    if (bToWireless == bWireless)
        return;
    WifiRecord record;
    std::memcpy(&record, pDevice->pWifiRecord, sizeof(record));
    if (Refuse(BuildWifiLink({{"link", bToWireless ? "wireless" : "wired"}}, record)))
        return;
    if (!Confirm(bToWireless ? IDS_MSG_NET_SWITCH_TO_WIRELESS : IDS_MSG_NET_SWITCH_TO_WIRED)) {
        m_pComboLink->setCurrentIndex(bWireless ? 1 : 0);
        return;
    }
    Commands()->Cmd_WifiSet(record);
    ShowHint(GetSaveButton(), IDS_HINT_SETNETWORKSUC, false);
    // Show the link the camera reports next, not the one asked for.
    pDevice->stQuery.bCmdGetWirelessParam = 0;
    Commands()->ReScanWifi();
    StartPolling();
}

void CDlgWifiNetwork::BuildControls(QVBoxLayout* pLayout)
{
    auto* pForm = new QFormLayout;
    m_pComboType = new QComboBox(this);
    m_pComboType->setObjectName(QStringLiteral("type"));
    m_pComboType->addItem(PageText(IDS_WIFI_INFRAST), QStringLiteral("infra"));
    m_pComboType->addItem(PageText(IDS_WIFI_ADHOC), QStringLiteral("adhoc"));
    m_pComboSsid = new QComboBox(this);
    m_pComboSsid->setObjectName(QStringLiteral("ssid"));
    m_pComboSsid->setEditable(true);
    m_pComboChannel = new QComboBox(this);
    m_pComboChannel->setObjectName(QStringLiteral("channel"));
    for (int i = 1; i <= 14; ++i)
        m_pComboChannel->addItem(QString::number(i), i);
    // Which of the four WEP keys the camera sends with.
    m_pComboTxKey = new QComboBox(this);
    m_pComboTxKey->setObjectName(QStringLiteral("txkey"));
    for (int i = 1; i <= 4; ++i)
        m_pComboTxKey->addItem(QString::number(i), i);
    m_pComboTxKey->setCurrentIndex(-1);
    m_pEditKey = MakeEdit(this, "key", 63);
    m_pEditKey->setEchoMode(QLineEdit::Password);
    pForm->addRow(PageText(IDS_STADV_NETTYPE), m_pComboType);
    pForm->addRow(PageText(IDS_STADV_APSELECT), m_pComboSsid);
    pForm->addRow(PageText(IDS_STADV_ADHOCCHANNEL), m_pComboChannel);
    pForm->addRow(PageText(IDS_STSEC_INDEX), m_pComboTxKey);
    pForm->addRow(PageText(IDS_STSEC_PASSWD), m_pEditKey);
    pLayout->addLayout(pForm);
    m_pSurvey = new QTreeWidget(this);
    m_pSurvey->setObjectName(QStringLiteral("survey"));
    m_pSurvey->setRootIsDecorated(false);
    Retranslate();
    m_pSurvey->header()->setStretchLastSection(true);
    connect(m_pSurvey, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* pItem) {
        m_pComboSsid->setEditText(pItem->data(0, Qt::UserRole).toString());
    });
    pLayout->addWidget(m_pSurvey, 1);
    auto* pRow = new QHBoxLayout;
    auto* pBtnRescan = new QPushButton(PageText(IDS_CTL_WIFISCAN), this);
    connect(pBtnRescan, &QPushButton::clicked, this, &CDlgWifiNetwork::OnBtnRescan);
    pRow->addWidget(pBtnRescan);
    pRow->addStretch(1);
    pLayout->addLayout(pRow);
    AddSaveButton(pLayout);
    BindKey("type", m_pComboType);
    BindKey("ssid", m_pComboSsid);
    BindKey("channel", m_pComboChannel);
    BindKey("txkey", m_pComboTxKey);
    BindKey("key", m_pEditKey);
}

void CDlgWifiNetwork::Retranslate()
{
    const DeviceInfo* pDevice = SelectedDevice();
    ShowSurvey(pDevice != nullptr && pDevice->stQuery.bHasWifi != 0 && GetPollState() == PollState::Filled
                   ? pDevice->pWifiRecord
                   : nullptr);
}

namespace {

// A survey entry's columns after the BSSID, by the entry's codes.
QStringList SurveyDetails(const WifiSurveyEntry& entry)
{
    static const DWORD s_adwAuth[5] = {IDS_WIFIAUTH_OPEN, IDS_WIFIAUTH_SHARED, IDS_WIFIAUTH_AUTOSWITCH,
                                       IDS_WIFIAUTH_WPA, IDS_WIFIAUTH_WPAPSK};
    const DWORD dwAuth = entry.AuthMode < 5    ? s_adwAuth[entry.AuthMode]
                         : entry.AuthMode == 6 ? IDS_WIFIAUTH_WPA2
                                               : IDS_WIFIAUTH_WPAPSK2;
    QString strEnc;
    switch (entry.EncType) {
    case 0:
        strEnc = PageText(IDS_WIFISEC_NONE);
        break;
    case 1:
    case 2:
        strEnc = QStringLiteral("WEP");
        break;
    case 3:
        strEnc = QStringLiteral("TKIP");
        break;
    case 4:
        strEnc = QStringLiteral("AES");
        break;
    default:
        strEnc = QString::number(entry.EncType);
        break;
    }
    const QString strB = QStringLiteral("1,2,5.5,6,9,11 Mbps");
    const QString strG = QStringLiteral("1, 2, 5.5, 6, 9, 11, 12, 18, 24, 36, 48, 54 Mbps");
    QString strMode;
    QString strSpeed;
    if (entry.byRadioMode <= 1) {
        strMode = PageText(IDS_WIFINET_B);
        strSpeed = strB;
    } else if (entry.byRadioMode <= 3) {
        strMode = PageText(IDS_WIFINET_G);
        strSpeed = strG;
    } else if (entry.byRadioMode == 4) {
        strMode = PageText(IDS_WIFIPREAMBLE_AUTO);
    } else {
        strMode = PageText(IDS_WIFINET_N);
    }
    const DWORD dwNet = entry.byNetworkType == 0   ? IDS_WIFI_ADHOC
                        : entry.byNetworkType == 1 ? IDS_WIFI_INFRAST
                                                   : IDS_WIFI_AUTOKNOWN;
    return {strMode, PageText(dwNet), PageText(dwAuth), strEnc, strSpeed};
}

} // namespace

void CDlgWifiNetwork::ShowSurvey(const WifiRecord* pRecord)
{
    m_pSurvey->clear();
    m_pSurvey->setHeaderLabels(
        {PageText(IDS_STSURVEY_HEAD1), PageText(IDS_STSURVEY_HEAD2), PageText(IDS_STSURVEY_HEAD3),
         PageText(IDS_STSURVEY_BSSID), PageText(IDS_STSURVEY_OPMODE), PageText(IDS_STSURVEY_NETTYPE),
         PageText(IDS_STSURVEY_AUTHMODE), PageText(IDS_STSURVEY_ENCRY), PageText(IDS_STSURVEY_SUPPORTSPEED)});
    if (pRecord == nullptr)
        return;
    for (std::size_t i = 0; i < pRecord->SurveyCount(); ++i) {
        const WifiSurveyEntry* pEntry = pRecord->SurveyEntry(i);
        if (pEntry == nullptr)
            continue;
        const bool bHidden = pEntry->SsidLength == 0 || pEntry->SsidLength > sizeof(pEntry->Ssid);
        const QString strSsid = bHidden ? QString() : SsidText(pEntry->Ssid, pEntry->SsidLength);
        const BYTE* pb = pEntry->abyBSSID;
        const int nSignal = SurveySignal(*pEntry);
        const int nChannel = SurveyChannel(*pEntry);
        QStringList listColumns = {
            bHidden ? PageText(IDS_ST_WIFINOSSID) : strSsid,
            nSignal >= 0 ? QStringLiteral("%1%").arg(nSignal) : QString(),
            nChannel >= 0 ? QString::number(nChannel) : QString(),
            QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", pb[0], pb[1], pb[2], pb[3], pb[4], pb[5])};
        listColumns << SurveyDetails(*pEntry);
        auto* pItem = new QTreeWidgetItem(m_pSurvey, listColumns);
        pItem->setData(0, Qt::UserRole, strSsid);
    }
    // Whole names and addresses; the list scrolls sideways to the rest.
    m_pSurvey->header()->resizeSections(QHeaderView::ResizeToContents);
}

bool CDlgWifiNetwork::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bHasWifi == 0 ||
           (device.stQuery.bCmdGetWirelessParam != 0 && device.pWifiRecord != nullptr);
}

void CDlgWifiNetwork::FillControls(const DeviceInfo& device)
{
    m_pComboSsid->clear();
    const WifiRecord* pRecord = device.stQuery.bHasWifi != 0 ? device.pWifiRecord : nullptr;
    GetSaveButton()->setEnabled(pRecord != nullptr);
    ShowSurvey(pRecord);
    if (pRecord == nullptr)
        return;
    const WifiSettingsBlock& block = pRecord->stBlock;
    m_pComboType->setCurrentIndex(block.NetworkType == 1 ? 1 : 0);
    m_pComboChannel->setCurrentIndex(m_pComboChannel->findData(static_cast<int>(block.AdhocChannel)));
    m_pComboTxKey->setCurrentIndex(m_pComboTxKey->findData(block.WEPKeyDefIndex + 1));
    m_nTxKeyShown = m_pComboTxKey->currentIndex();
    for (std::size_t i = 0; i < pRecord->SurveyCount(); ++i) {
        const WifiSurveyEntry* pEntry = pRecord->SurveyEntry(i);
        if (pEntry != nullptr && pEntry->SsidLength != 0 && pEntry->SsidLength <= sizeof(pEntry->Ssid))
            m_pComboSsid->addItem(SsidText(pEntry->Ssid, pEntry->SsidLength));
    }
    m_pComboSsid->setEditText(
        SsidText(block.Ssid, std::min<std::size_t>(block.SsidLength, sizeof(block.Ssid))));
}

void CDlgWifiNetwork::OnBtnRescan()
{
    Commands()->ReScanWifi();
}

void CDlgWifiNetwork::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->pWifiRecord == nullptr)
        return;
    KeyValues kv{{"type", m_pComboType->currentData().toString().toStdString()},
                 {"ssid", m_pComboSsid->currentText().toStdString()}};
    if (!m_pEditKey->text().isEmpty())
        kv["key"] = EditText(m_pEditKey);
    // Only a key number the user chose: a network that is not in the survey otherwise starts
    // from the first key, as it starts open with an empty key.
    if (m_pComboTxKey->currentIndex() >= 0 && m_pComboTxKey->currentIndex() != m_nTxKeyShown)
        kv["txkey"] = std::to_string(m_pComboTxKey->currentData().toInt());
    if (m_pComboType->currentIndex() == 1) {
        if (m_pComboChannel->currentIndex() < 0) {
            Refuse(MakeError("channel", IDS_HINT_SETNETWORKFAIL));
            return;
        }
        kv["channel"] = std::to_string(m_pComboChannel->currentData().toInt());
    }
    WifiRecord record;
    std::memcpy(&record, pDevice->pWifiRecord, sizeof(record));
    if (Refuse(BuildWifi(kv, *pDevice->pWifiRecord, record.stBlock)))
        return;
    Commands()->Cmd_WifiSet(record);
    ShowHint(GetSaveButton(), IDS_HINT_SETNETWORKSUC, false);
}

void CDlgWifiWebAuth::BuildControls(QVBoxLayout* pLayout)
{
    const WifiWebAuthBlock block{};
    auto* pForm = new QFormLayout;
    m_pEditIP = MakeEdit(this, "ac_ip", 15);
    m_pEditName = MakeEdit(this, "ac_name", sizeof(block.szAddress));
    m_pEditAccount = MakeEdit(this, "account", sizeof(block.szAccount));
    m_pEditPassword = MakeEdit(this, "password", sizeof(block.szPassword));
    m_pEditPassword->setEchoMode(QLineEdit::Password);
    pForm->addRow(PageText(IDS_ST_ADDR), m_pEditIP);
    pForm->addRow(PageText(IDS_CTLTIP_NAME), m_pEditName);
    pForm->addRow(PageText(IDS_ST_ACCOUNT), m_pEditAccount);
    pForm->addRow(PageText(IDS_ST_PASSWORD), m_pEditPassword);
    pLayout->addLayout(pForm);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    for (QLineEdit* pEdit : {m_pEditIP, m_pEditName, m_pEditAccount, m_pEditPassword})
        BindKey(pEdit->objectName().toStdString(), pEdit);
}

bool CDlgWifiWebAuth::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bHasWifi == 0 ||
           (device.stQuery.bCmdGetWirelessParam != 0 && device.pWifiRecord != nullptr);
}

void CDlgWifiWebAuth::FillControls(const DeviceInfo& device)
{
    const WifiRecord* pRecord = device.stQuery.bHasWifi != 0 ? device.pWifiRecord : nullptr;
    GetSaveButton()->setEnabled(pRecord != nullptr);
    if (pRecord == nullptr)
        return;
    const WifiWebAuthBlock& block = pRecord->stWebAuth;
    m_pEditIP->setText(block.dwValue != 0 ? AddressText(block.dwValue) : QString());
    m_pEditName->setText(QString::fromStdString(FieldText(block.szAddress)));
    m_pEditAccount->setText(QString::fromStdString(FieldText(block.szAccount)));
    m_pEditPassword->setText(QString::fromStdString(FieldText(block.szPassword)));
}

void CDlgWifiWebAuth::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->pWifiRecord == nullptr)
        return;
    DWORD dwIP = 0;
    if (Refuse(CheckAddress("ac_ip", EditText(m_pEditIP), true, dwIP)))
        return;
    // The record the camera sent, with this block edited: the rest goes back unchanged.
    WifiRecord record;
    std::memcpy(&record, pDevice->pWifiRecord, sizeof(record));
    WifiWebAuthBlock& block = record.stWebAuth;
    block.dwValue = dwIP;
    // Fixed fields, zero-padded; a full field has no terminator (the edits hold no more).
    auto fnCopy = [](char* pszField, std::size_t nSize, const std::string& strText) {
        std::memset(pszField, 0, nSize);
        std::memcpy(pszField, strText.data(), std::min(nSize, strText.size()));
    };
    fnCopy(block.szAddress, sizeof(block.szAddress), EditText(m_pEditName));
    fnCopy(block.szAccount, sizeof(block.szAccount), EditText(m_pEditAccount));
    fnCopy(block.szPassword, sizeof(block.szPassword), EditText(m_pEditPassword));
    Commands()->Cmd_WifiSet(record);
    ShowHint(GetSaveButton(), IDS_HINT_SETNETWORKSUC, false);
}

void CDlgNetworkWire3G::BuildControls(QVBoxLayout* pLayout)
{
    // The link as the camera reports it: SIM, signal bars, dial and network.
    auto* pState = new QFormLayout;
    for (QLabel*& pLabel : m_apState)
        pLabel = new QLabel(this);
    m_apState[STATE_SIM]->setObjectName(QStringLiteral("sim_state"));
    m_apState[STATE_SIGNAL]->setObjectName(QStringLiteral("signal"));
    m_apState[STATE_DIAL]->setObjectName(QStringLiteral("dial_state"));
    m_apState[STATE_NET]->setObjectName(QStringLiteral("net_state"));
    pState->addRow(PageText(IDS_3GSIMSTATE), m_apState[STATE_SIM]);
    pState->addRow(PageText(IDS_3GSIGNAL), m_apState[STATE_SIGNAL]);
    pState->addRow(PageText(IDS_3GDIALSTATE), m_apState[STATE_DIAL]);
    pState->addRow(PageText(IDS_3GNETSTATE), m_apState[STATE_NET]);
    pLayout->addLayout(pState);
    auto* pLinkRow = new QHBoxLayout;
    pLinkRow->addWidget(new QLabel(PageText(IDS_ST_CONNTYPE), this));
    m_pComboLink = new QComboBox(this);
    m_pComboLink->setObjectName(QStringLiteral("link"));
    m_pComboLink->addItem(PageText(IDS_ST_NETWIRED), 0);
    m_pComboLink->addItem(PageText(IDS_3G_MODE), 1);
    pLinkRow->addWidget(m_pComboLink);
    auto* pBtnSwitch = new QPushButton(PageText(IDS_BTN_SET), this);
    pBtnSwitch->setObjectName(QStringLiteral("switch"));
    connect(pBtnSwitch, &QPushButton::clicked, this, &CDlgNetworkWire3G::OnBtnSwitch);
    pLinkRow->addWidget(pBtnSwitch);
    pLinkRow->addStretch(1);
    pLayout->addLayout(pLinkRow);
    auto* pBox = new QGroupBox(PageText(IDS_CUSTOM_DIAL), this);
    auto* pForm = new QFormLayout(pBox);
    m_pChkCustom = new QCheckBox(PageText(IDS_CUSTOM_DIAL), pBox);
    m_pChkCustom->setObjectName(QStringLiteral("dial"));
    m_pEditApn = MakeEdit(pBox, "apn", 31);
    m_pEditTel = MakeEdit(pBox, "tel", 31);
    m_pEditAccount = MakeEdit(pBox, "account", 31);
    m_pEditPassword = MakeEdit(pBox, "password", 31);
    m_pEditPassword->setEchoMode(QLineEdit::Password);
    pForm->addRow(m_pChkCustom);
    pForm->addRow(PageText(IDS_APN), m_pEditApn);
    pForm->addRow(PageText(IDS_TELNUM), m_pEditTel);
    pForm->addRow(PageText(IDS_ST_ACCOUNT), m_pEditAccount);
    pForm->addRow(PageText(IDS_ST_PASSWORD), m_pEditPassword);
    pLayout->addWidget(pBox);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    for (QLineEdit* pEdit : {m_pEditApn, m_pEditTel, m_pEditAccount, m_pEditPassword})
        BindKey(pEdit->objectName().toStdString(), pEdit);
    BindKey("dial", m_pChkCustom);
}

bool CDlgNetworkWire3G::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bHas3G == 0 ||
           (device.stQuery.bCmdGet3GQuery != 0 && device.pThreeGRecord != nullptr);
}

void CDlgNetworkWire3G::FillControls(const DeviceInfo& device)
{
    const ThreeGRecord* pRecord = device.stQuery.bHas3G != 0 ? device.pThreeGRecord : nullptr;
    GetSaveButton()->setEnabled(pRecord != nullptr);
    if (pRecord == nullptr)
        return;
    m_pComboLink->setCurrentIndex(pRecord->bConnectType == 0 ? 0 : 1);
    m_pChkCustom->setChecked(pRecord->bUseDefaultDial == 0);
    m_pEditApn->setText(QString::fromStdString(FieldText(pRecord->szAPN)));
    m_pEditTel->setText(QString::fromStdString(FieldText(pRecord->szTelNum)));
    m_pEditAccount->setText(QString::fromStdString(FieldText(pRecord->szAccount)));
    m_pEditPassword->setText(QString::fromStdString(FieldText(pRecord->szPassword)));
    ShowState(device);
}

void CDlgNetworkWire3G::Retranslate()
{
    const DeviceInfo* pDevice = SelectedDevice();
    if (pDevice != nullptr && GetPollState() == PollState::Filled)
        ShowState(*pDevice);
    else
        for (QLabel* pLabel : m_apState)
            pLabel->clear();
}

namespace {

constexpr DWORD THREEG_SIGNAL_BARS = 5;

// The signal as five bars, as many filled as the camera reports (0 to 5).
QPixmap SignalBars(DWORD dwBars, const QColor& color)
{
    QPixmap pixmap(52, 18);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(color);
    for (DWORD i = 0; i < THREEG_SIGNAL_BARS; ++i) {
        const int nHeight = 4 + 3 * static_cast<int>(i);
        const QRect rect(2 + 10 * static_cast<int>(i), 17 - nHeight, 7, nHeight);
        painter.setBrush(i < dwBars ? QBrush(color) : QBrush(Qt::NoBrush));
        painter.drawRect(rect);
    }
    return pixmap;
}

} // namespace

// The camera's codes in words: SIM 1 is a card in order; dial 1 succeeded, 0 failed; network 0
// no service, 1 2G, 2 3G, 3 GPS. Any other code is unknown.
void CDlgNetworkWire3G::ShowState(const DeviceInfo& device)
{
    if (device.stQuery.bHas3G == 0 || device.stQuery.bCmdGet3GStatus == 0) {
        for (QLabel* pLabel : m_apState)
            pLabel->clear();
        return;
    }
    const ThreeGStatus& status = device.st3GStatus;
    m_apState[STATE_SIM]->setText(
        PageText(status.unSimState == 1 ? IDS_HINT_SETNAMESUC : IDS_3GSIM_ABNORMAL));
    const DWORD dwBars = std::min<DWORD>(status.unSignal, THREEG_SIGNAL_BARS);
    m_apState[STATE_SIGNAL]->setPixmap(SignalBars(dwBars, palette().color(QPalette::WindowText)));
    m_apState[STATE_SIGNAL]->setAccessibleName(QStringLiteral("%1/%2").arg(dwBars).arg(THREEG_SIGNAL_BARS));
    m_apState[STATE_DIAL]->setText(PageText(status.unDial == 1   ? IDS_3GDIAL_OK
                                            : status.unDial == 0 ? IDS_3GDIAL_FAIL
                                                                 : IDS_UNKNOWN));
    static const DWORD s_adwNet[4] = {IDS_NO_SERVICE, IDS_2G_MODE, IDS_3G_MODE, IDS_GPS_MODE};
    m_apState[STATE_NET]->setText(PageText(status.unNetwork < 4 ? s_adwNet[status.unNetwork] : IDS_UNKNOWN));
}

void CDlgNetworkWire3G::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->pThreeGRecord == nullptr)
        return;
    const KeyValues kv{{"dial", m_pChkCustom->isChecked() ? "custom" : "default"},
                       {"apn", EditText(m_pEditApn)},
                       {"tel", EditText(m_pEditTel)},
                       {"account", EditText(m_pEditAccount)},
                       {"password", EditText(m_pEditPassword)}};
    ThreeGRequest request;
    request.bConnectType = pDevice->pThreeGRecord->bConnectType;
    request.bIs3GCam = pDevice->stQuery.bHas3G;
    if (Refuse(BuildThreeG(kv, request)))
        return;
    Commands()->Cmd_3GSet(pDevice->GetSerial(), request);
    ShowHint(GetSaveButton(), IDS_HINT_SETNETWORKSUC, false);
}

void CDlgNetworkWire3G::OnBtnSwitch()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr || pDevice->pThreeGRecord == nullptr)
        return;
    const ThreeGRecord& current = *pDevice->pThreeGRecord;
    const BYTE bTarget = static_cast<BYTE>(m_pComboLink->currentData().toInt());
    if (bTarget == (current.bConnectType == 0 ? 0 : 1))
        return;
    // As from the Wi-Fi pane: wired needs a cable, where the camera says whether one is in.
    if (bTarget == 0 && pDevice->stQuery.bHasWifi != 0 && pDevice->pWifiRecord != nullptr &&
        !WifiLinkOfRecord(*pDevice->pWifiRecord).bCable) {
        ShowHint(m_pComboLink, IDS_MSG_NET_CANNOT_SWITCH_TO_WIRED, true);
        m_pComboLink->setCurrentIndex(1);
        return;
    }
    if (!Confirm(bTarget == 0 ? IDS_MSG_NET_SWITCH_TO_WIRED : IDS_MSG_NET_SWITCH_TO_WIRELESS)) {
        m_pComboLink->setCurrentIndex(current.bConnectType == 0 ? 0 : 1);
        return;
    }
    // The dial settings go back as the camera has them; only the link changes.
    ThreeGRequest request;
    request.bConnectType = bTarget;
    request.bUseDefaultDial = current.bUseDefaultDial;
    request.bIs3GCam = pDevice->stQuery.bHas3G;
    request.strAPN = FieldText(current.szAPN);
    request.strTelNum = FieldText(current.szTelNum);
    request.strAccount = FieldText(current.szAccount);
    request.strPassword = FieldText(current.szPassword);
    Commands()->Cmd_3GSet(pDevice->GetSerial(), request);
    ShowHint(m_pComboLink, IDS_HINT_SETNETWORKSUC, false);
}
