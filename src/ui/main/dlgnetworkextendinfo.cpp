#include "ui/main/dlgnetworkextendinfo.h"

#include "core/log.h"
#include "core/notifyids.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "protocol/viewerrecords.h"
#include "ui/main/mainmessage.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <arpa/inet.h>

namespace {

// The reply leads with the query's type byte, the connection type and two spare bytes; five
// big-endian addresses follow, then (from cameras that map a UDP port apart) the app and
// mobile UDP ports as two big-endian words.
constexpr std::size_t ADDRESS_OFFSET = 4;
constexpr std::size_t ADDRESS_COUNT = 5;
constexpr std::size_t UDP_PORT_OFFSET = ADDRESS_OFFSET + 4 * ADDRESS_COUNT;

DWORD WordAt(const BYTE* pb)
{
    return DWORD(pb[0]) << 24 | DWORD(pb[1]) << 16 | DWORD(pb[2]) << 8 | pb[3];
}

QString Dotted(DWORD dwIP)
{
    in_addr addr{};
    addr.s_addr = htonl(dwIP);
    char szText[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, szText, sizeof(szText));
    return QString::fromLatin1(szText);
}

QString PortText(WORD usAll, WORD usUdp)
{
    return usUdp == 0 ? QString::asprintf("%d(all)", usAll)
                      : QString::asprintf("%d(all) %d(udp)", usAll, usUdp);
}

} // namespace

CDlgNetworkExtendInfo::CDlgNetworkExtendInfo(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("dlgNetworkExtendInfo"));
    setWindowTitle(MainText(IDS_MSG_IPINFOTITLE));
    auto* pGrid = new QGridLayout(this);
    const QString strTitles =
        QStringList{MainText(IDS_ST_CAMERAIP), MainText(IDS_ST_MASK), MainText(IDS_ST_GATEWAY),
                    MainText(IDS_ST_PRIMARYDNS), MainText(IDS_ST_SECONDDNS)}
            .join(QStringLiteral("\n\n"));
    pGrid->addWidget(new QLabel(strTitles, this), 0, 0);
    m_pAddresses = new QLabel(this);
    m_pAddresses->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pGrid->addWidget(m_pAddresses, 0, 1);
    pGrid->addWidget(
        new QLabel(MainText(IDS_MSG_PORTINFO) + QLatin1Char('\n') + MainText(IDS_MSG_STREAMPORTINFO), this),
        1, 0);
    m_pPorts = new QLabel(this);
    pGrid->addWidget(m_pPorts, 1, 1);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    pButtons->button(QDialogButtonBox::Close)->setText(MainText(IDS_CTL_CLOSE));
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pGrid->addWidget(pButtons, 2, 0, 1, 2);
    GetNotifyManager()->RegisterNotify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, this);
}

CDlgNetworkExtendInfo::~CDlgNetworkExtendInfo()
{
    GetNotifyManager()->RemoveNotify(DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND, this);
}

bool CDlgNetworkExtendInfo::Request()
{
    CDeviceManager* pManager = GetDeviceManager();
    const DeviceInfo* pDevice = pManager->GetSelectDevice();
    if (pDevice == nullptr || pDevice->bIsExist == 0) {
        ShowMainMessage(MainText(IDS_MSG_CAMERANOTONLINE), this);
        return false;
    }
    ShowPorts();
    // The query needs the network type from the camera's network parameters.
    if (pDevice->stQuery.bCmdGetNetParam == 0) {
        VLOG(2, "CDlgNetworkExtendInfo::Request: end } no network parameters yet, id:%u", pDevice->GetID());
        ShowMainMessage(MainText(IDS_HINT_GET_INFO_FAIL), this);
        return false;
    }
    pManager->GetNetworkExtendInfo();
    return true;
}

void CDlgNetworkExtendInfo::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    FATAL_CHECK(dwNotifyID == DWORD_NOTIFYID_CAMERA_NETWORK_EXTEND);
    const auto* pInfo = reinterpret_cast<const NetworkExtendInfo*>(dwParam);
    FATAL_CHECK(pInfo != nullptr);
    m_pAddresses->setText(AddressTextOf(*pInfo));
    const BYTE* pb = pInfo->abData + UDP_PORT_OFFSET;
    m_usUdpApp = static_cast<WORD>(pb[0] << 8 | pb[1]);
    m_usUdpMobile = static_cast<WORD>(pb[2] << 8 | pb[3]);
    ShowPorts();
}

QString CDlgNetworkExtendInfo::AddressTextOf(const NetworkExtendInfo& info)
{
    QStringList lines;
    for (std::size_t i = 0; i < ADDRESS_COUNT; ++i)
        lines << Dotted(WordAt(info.abData + ADDRESS_OFFSET + 4 * i));
    return lines.join(QStringLiteral("\n\n"));
}

void CDlgNetworkExtendInfo::ShowPorts()
{
    const DeviceInfo* pDevice = GetDeviceManager()->GetSelectDevice();
    if (pDevice == nullptr || pDevice->stQuery.bCmdGetCameraPort == 0) {
        m_pPorts->clear();
        return;
    }
    m_pPorts->setText(PortText(pDevice->stPort.usPort2, m_usUdpApp) + QLatin1Char('\n') +
                      PortText(pDevice->stPort.usPort3, m_usUdpMobile));
}

QString CDlgNetworkExtendInfo::GetAddressText() const
{
    return m_pAddresses->text();
}

QString CDlgNetworkExtendInfo::GetPortText() const
{
    return m_pPorts->text();
}
