#include "ui/main/caminfopane.h"

#include "core/configfile.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "protocol/engcmd.h"
#include "protocol/engoffcmd.h"
#include "ui/main/dlgnetworkextendinfo.h"
#include "ui/main/dlgrtspshare.h"
#include "ui/main/dlgselectdserver.h"
#include "ui/main/mainmessage.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// TR_STAT: the video figures are per second.
constexpr int TR_STAT_MS = 1000;

constexpr DWORD ROW_TITLES[CDlgCamInfoPane::ROW_COUNT] = {
    IDS_ST_SERIAL,       IDS_BTN_TYPE,    IDS_ST_IMGVER,    IDS_ST_CAMERAIP,
    IDS_ST_DSERVERTITLE, IDS_UPNP_STATUS, IDS_ST_STATTITLE, IDS_RTSP_URL};

// The D-server link as the camera's D-server reply states it in the first of its six state
// bytes; the server's name follows in brackets.
constexpr DWORD DSERVER_STATE_TEXTS[] = {IDS_MODE_UNREGISTER, IDS_MODE_CONNECT, IDS_MODE_TRYCONNECT};
constexpr BYTE DSERVER_STATE_FAILED = 3;

// Port mapping: the first byte of the UPnP state says whether the camera maps ports at all, the
// low half of the fourth byte how far it got.
constexpr DWORD UPNP_STATE_TEXTS[] = {IDS_ST_UPNPTRYING, IDS_ST_UPNPSUCCESS, IDS_ST_UPNPFAIL,
                                      IDS_ST_UPNPNOTSUPPORT};

// Titles longer than this wrap.
constexpr int TITLE_WIDTH_MAX = 80;

// The server's state and its bracketed address on lines of their own, the bracket with the
// address: a wrapped label got less height than its lines when the window was short, and the
// address was cut off.
const QString BREAKABLE_BRACKET = QStringLiteral("\n(");

QString FieldText(const char* pszField, std::size_t nSize)
{
    return QString::fromLatin1(pszField, static_cast<int>(strnlen(pszField, nSize)));
}

QString AddressText(DWORD dwIP)
{
    in_addr addr{};
    addr.s_addr = htonl(dwIP);
    char szText[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, szText, sizeof(szText));
    return QString::fromLatin1(szText);
}

} // namespace

CDlgCamInfoPane::CDlgCamInfoPane(QWidget* pParent) : QWidget(pParent)
{
    setObjectName(QStringLiteral("camInfoPane"));
    auto* pGrid = new QGridLayout(this);
    pGrid->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < ROW_COUNT; ++i) {
        m_apTitle[i] = new QLabel(this);
        m_apValue[i] = new QLabel(this);
        m_apValue[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pGrid->addWidget(m_apTitle[i], i, 0);
        // Rows without a button of their own give their value the button's room as well.
        const bool bButton = i == ROW_SERIAL || i == ROW_IP || i == ROW_DSERVER || i == ROW_RTSP;
        pGrid->addWidget(m_apValue[i], i, 1, 1, bButton ? 1 : 2);
    }
    // Titles and states run longer than the list is wide: they wrap rather than hide their end.
    m_apValue[ROW_UPNP]->setWordWrap(true);
    for (QLabel* pTitle : m_apTitle)
        pTitle->setWordWrap(true);
    m_pBtnCopy = new QPushButton(this);
    m_pBtnCopyUrl = new QPushButton(this);
    m_pBtnDetail = new QPushButton(this);
    m_pBtnRepair = new QPushButton(this);
    m_pBtnRegister = new QPushButton(this);
    pGrid->addWidget(m_pBtnCopy, ROW_SERIAL, 2);
    pGrid->addWidget(m_pBtnCopyUrl, ROW_RTSP, 2);
    pGrid->addWidget(m_pBtnDetail, ROW_IP, 2);
    pGrid->addWidget(m_pBtnRepair, ROW_DSERVER, 2);
    pGrid->addWidget(m_pBtnRegister, ROW_COUNT, 0, 1, 3);
    pGrid->setColumnStretch(1, 1);
    for (QPushButton* pButton : {m_pBtnCopy, m_pBtnCopyUrl, m_pBtnDetail, m_pBtnRepair, m_pBtnRegister})
        pButton->setAutoDefault(false);
    connect(m_pBtnDetail, &QPushButton::clicked, this, &CDlgCamInfoPane::OnBtnDetail);
    connect(m_pBtnRepair, &QPushButton::clicked, this, &CDlgCamInfoPane::OnBtnRepair);
    connect(m_pBtnCopy, &QPushButton::clicked, this, [this] {
        if (!OnBtnCopy())
            ShowMainMessage(MainText(IDS_COPY_FAIL), this);
    });
    connect(m_pBtnCopyUrl, &QPushButton::clicked, this, [this] {
        if (!OnBtnCopyUrl())
            ShowMainMessage(MainText(IDS_COPY_FAIL), this);
    });
    connect(m_pBtnRegister, &QPushButton::clicked, this, [] {
        const QString strSite = QString::fromStdU16String(GetConfigFileManager()->GetWebsite());
        if (!strSite.isEmpty())
            QDesktopServices::openUrl(QUrl::fromUserInput(strSite));
    });
    m_pStatTimer = new QTimer(this);
    m_pStatTimer->setInterval(TR_STAT_MS);
    connect(m_pStatTimer, &QTimer::timeout, this, &CDlgCamInfoPane::OnTimerStat);
    m_pStatTimer->start();
    Retranslate();
}

void CDlgCamInfoPane::Retranslate()
{
    for (int i = 0; i < ROW_COUNT; ++i) {
        m_apTitle[i]->setText(MainText(ROW_TITLES[i]));
        // Short titles stay on one line: a Chinese title would otherwise break after every
        // character and push the camera list above to a few rows.
        m_apTitle[i]->setMinimumWidth(
            std::min(m_apTitle[i]->fontMetrics().horizontalAdvance(m_apTitle[i]->text()), TITLE_WIDTH_MAX));
    }
    m_pBtnCopy->setText(MainText(IDS_BTN_COPYSERIAL));
    m_pBtnCopyUrl->setText(MainText(IDS_BTN_COPYSERIAL));
    m_pBtnDetail->setText(MainText(IDS_BTN_IPDETAIL));
    m_pBtnRepair->setText(MainText(IDS_CTL_RECONNSVR));
    m_pBtnRegister->setText(MainText(IDS_CTL_REGISTER));
    OnTimerStat();
}

void CDlgCamInfoPane::OnTimerStat()
{
    ShowDevice(GetDeviceManager()->GetSelectDevice());
}

QString CDlgCamInfoPane::GetValueText(int nRow) const
{
    return nRow >= 0 && nRow < ROW_COUNT
               ? m_apValue[nRow]->text().replace(BREAKABLE_BRACKET, QStringLiteral("("))
               : QString();
}

void CDlgCamInfoPane::ShowDevice(const DeviceInfo* pDevice)
{
    ShowRtspUrl(pDevice);
    if (pDevice == nullptr) {
        for (QLabel* pValue : m_apValue)
            pValue->clear();
        for (QPushButton* pButton : {m_pBtnCopy, m_pBtnDetail, m_pBtnRepair})
            pButton->setEnabled(false);
        return;
    }
    for (QPushButton* pButton : {m_pBtnCopy, m_pBtnDetail, m_pBtnRepair})
        pButton->setEnabled(true);
    m_apValue[ROW_SERIAL]->setText(FieldText(pDevice->stItem.szSerial, sizeof(pDevice->stItem.szSerial)));
    QString strType;
    if (pDevice->stQuery.bCmdGetSensor) {
        strType = QString::fromStdString(GetConfigCameraType()->GetCameraTypeName(
            static_cast<int>(pDevice->stSensorCap.dwCameraType),
            static_cast<int>(pDevice->stSensorCap.dwCameraSubType), pDevice->stQuery.bHasWifi != 0));
    }
    m_apValue[ROW_TYPE]->setText(strType);
    m_apValue[ROW_VERSION]->setText(pDevice->stQuery.bCmdGetVersion
                                        ? FieldText(pDevice->szVersion, sizeof(pDevice->szVersion))
                                        : QString());
    // A channel is reached through its recorder's address.
    const DeviceInfo* pAddressed = pDevice;
    if (pDevice->enCameraType == CAMERA_TYPE_CHILD) {
        if (const DeviceInfo* pParent = GetDeviceManager()->GetParentDevice(pDevice->GetID()))
            pAddressed = pParent;
    }
    m_apValue[ROW_IP]->setText(AddressText(pAddressed->stItem.dwIP));
    // Links to the outside belong to the recorder, not to its channels.
    // The state and the server's name may break at the bracket: the column stays narrow.
    m_apValue[ROW_DSERVER]->setText(DServerText(*pAddressed).replace(QLatin1Char('('), BREAKABLE_BRACKET));
    m_apValue[ROW_UPNP]->setText(UpnpText(*pAddressed));
}

void CDlgCamInfoPane::ShowRtspUrl(const DeviceInfo* pDevice)
{
    const CRtspSharingUi* pSharing = FindRtspSharingUi();
    const bool bSharing = pSharing != nullptr && pSharing->IsSharing();
    m_apValue[ROW_RTSP]->setText(bSharing && pDevice != nullptr ? pSharing->Url(pDevice->GetID())
                                                                : QString());
    // Only while the cameras are shared.
    m_apTitle[ROW_RTSP]->setVisible(bSharing);
    m_apValue[ROW_RTSP]->setVisible(bSharing);
    m_pBtnCopyUrl->setVisible(bSharing);
    m_pBtnCopyUrl->setEnabled(!m_apValue[ROW_RTSP]->text().isEmpty());
}

QString CDlgCamInfoPane::DServerText(const DeviceInfo& device)
{
    if (device.stQuery.bCmdGetDServerIP == 0)
        return MainText(IDS_UNKNOWN);
    const BYTE byState = device.stDServer.abyState[0];
    if (byState == DSERVER_STATE_FAILED)
        return MainText(IDS_MODE_FAILCONNECT);
    if (byState >= std::size(DSERVER_STATE_TEXTS))
        return MainText(IDS_UNKNOWN);
    return MainTextWithName(DSERVER_STATE_TEXTS[byState],
                            FieldText(device.stDServer.szServer2, sizeof(device.stDServer.szServer2)));
}

QString CDlgCamInfoPane::UpnpText(const DeviceInfo& device)
{
    if (device.stQuery.bCmdGetUpnpStatus == 0)
        return QString();
    if (device.stUpnp.abValue[0] == 0)
        return MainText(IDS_ST_UPNPNOTUSE);
    const BYTE byState = device.stUpnp.byLow;
    return MainText(byState < std::size(UPNP_STATE_TEXTS) ? UPNP_STATE_TEXTS[byState] : IDS_ST_UPNPFAIL);
}

bool CDlgCamInfoPane::OnBtnRepair()
{
    CDeviceManager* pManager = GetDeviceManager();
    const DeviceInfo* pDevice = pManager->GetSelectDevice();
    if (pDevice != nullptr && pDevice->enCameraType == CAMERA_TYPE_CHILD)
        pDevice = pManager->GetParentDevice(pDevice->GetID());
    if (pDevice == nullptr || pDevice->bIsExist == 0) {
        ShowMainMessage(MainText(IDS_MSG_CAMERANOTONLINE), this);
        return false;
    }
    const DWORD dwID = pDevice->GetID();
    const CConfigFileDServer* pServers = m_pDServers != nullptr ? m_pDServers : GetConfigFileDServer();
    if (!pServers->IsFileExist() || !pServers->IsSet() || pServers->GetServerCount() == 0) {
        GetEngCmd()->Cmd_DServerConnect(dwID, 1);
        CEngOffCmd::GetInstance()->Cmd_GetDServer(dwID);
        return true;
    }
    // The camera's own D-server record goes back with the choice: until it came there is
    // nothing to send but zeros the camera would take for settings.
    if (pDevice->stQuery.bCmdGetDServerIP == 0) {
        CEngOffCmd::GetInstance()->Cmd_GetDServer(dwID);
        ShowMainMessage(MainText(IDS_GETINFO_FAIL), this);
        return false;
    }
    CDlgSelectDServer dlg(*pServers,
                          FieldText(pDevice->stDServer.szServer, sizeof(pDevice->stDServer.szServer)), this);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    // The camera may have gone while the user chose.
    pDevice = pManager->GetDevice(dwID, CAMERA_MASK_ALL);
    if (pDevice == nullptr || pDevice->bIsExist == 0) {
        ShowMainMessage(MainText(IDS_MSG_CAMERANOTONLINE), this);
        return false;
    }
    // Both fields zero-ended and as wide as the command reads them.
    char szSerial[sizeof(pDevice->stDServer.szSerial)] = {};
    std::memcpy(szSerial, pDevice->stItem.szSerial,
                strnlen(pDevice->stItem.szSerial, sizeof(pDevice->stItem.szSerial)));
    char szServer[sizeof(pDevice->stDServer.szServer)] = {};
    const std::string strUrl = dlg.GetServerUrl();
    std::memcpy(szServer, strUrl.data(), std::min(strUrl.size(), sizeof(szServer) - 1));
    static_assert(sizeof(pDevice->stDServer.szServer2) == 31);
    CEngOffCmd::GetInstance()->Cmd_ConnectDServer(
        szSerial, szServer, reinterpret_cast<const BYTE*>(pDevice->stDServer.szServer2));
    CEngOffCmd::GetInstance()->Cmd_GetDServer(dwID);
    return true;
}

void CDlgCamInfoPane::OnBtnDetail()
{
    CDlgNetworkExtendInfo dlg(this);
    if (dlg.Request())
        dlg.exec();
}

void CDlgCamInfoPane::SetVideoStat(const QString& strText)
{
    // No figures: a camera was just shown or stopped (or none is). The pane follows at once
    // instead of at its next second.
    if (strText.isEmpty())
        OnTimerStat();
    // The pane's text leads with "%2.1f fps, %2.1f Kbps"; its stage figures follow on.
    static const QRegularExpression s_lead(QStringLiteral("^\\s*\\d+\\.\\d fps, \\d+\\.\\d Kbps"));
    const QRegularExpressionMatch match = s_lead.match(strText);
    const bool bShow = match.hasMatch() && GetDeviceManager()->GetSelectDevice() != nullptr;
    m_apValue[ROW_STAT]->setText(bShow ? match.captured(0).trimmed() : QString());
}

bool CDlgCamInfoPane::OnBtnCopy()
{
    return CopyText(m_apValue[ROW_SERIAL]->text());
}

bool CDlgCamInfoPane::OnBtnCopyUrl()
{
    OnTimerStat();
    return CopyText(m_apValue[ROW_RTSP]->text());
}

bool CDlgCamInfoPane::CopyText(const QString& strText)
{
    QClipboard* pClipboard = QGuiApplication::clipboard();
    if (strText.isEmpty() || pClipboard == nullptr)
        return false;
    pClipboard->setText(strText);
    return pClipboard->text() == strText;
}
