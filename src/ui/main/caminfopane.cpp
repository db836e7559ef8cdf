#include "ui/main/caminfopane.h"

#include "core/configfile.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "ui/main/mainmessage.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>

#include <cstring>

namespace {

// TR_STAT: the video figures are per second.
constexpr int TR_STAT_MS = 1000;

constexpr DWORD ROW_TITLES[CDlgCamInfoPane::ROW_COUNT] = {IDS_ST_SERIAL, IDS_BTN_TYPE, IDS_ST_IMGVER,
                                                          IDS_ST_CAMERAIP, IDS_ST_STATTITLE};

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
        pGrid->addWidget(m_apValue[i], i, 1);
    }
    m_pBtnCopy = new QPushButton(this);
    m_pBtnRegister = new QPushButton(this);
    pGrid->addWidget(m_pBtnCopy, ROW_SERIAL, 2);
    pGrid->addWidget(m_pBtnRegister, ROW_COUNT, 0, 1, 3);
    pGrid->setColumnStretch(1, 1);
    connect(m_pBtnCopy, &QPushButton::clicked, this, [this] {
        if (!OnBtnCopy())
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
    for (int i = 0; i < ROW_COUNT; ++i)
        m_apTitle[i]->setText(MainText(ROW_TITLES[i]));
    m_pBtnCopy->setText(MainText(IDS_BTN_COPYSERIAL));
    m_pBtnRegister->setText(MainText(IDS_CTL_REGISTER));
    OnTimerStat();
}

void CDlgCamInfoPane::OnTimerStat()
{
    ShowDevice(GetDeviceManager()->GetSelectDevice());
}

QString CDlgCamInfoPane::GetValueText(int nRow) const
{
    return nRow >= 0 && nRow < ROW_COUNT ? m_apValue[nRow]->text() : QString();
}

void CDlgCamInfoPane::ShowDevice(const DeviceInfo* pDevice)
{
    if (pDevice == nullptr) {
        for (QLabel* pValue : m_apValue)
            pValue->clear();
        m_pBtnCopy->setEnabled(false);
        return;
    }
    m_pBtnCopy->setEnabled(true);
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
}

void CDlgCamInfoPane::SetVideoStat(const QString& strText)
{
    // The pane's text leads with "%2.1f fps, %2.1f Kbps"; its stage figures follow on.
    const QString strFirst = strText.section(QLatin1Char('\n'), 0, 0);
    m_apValue[ROW_STAT]->setText(GetDeviceManager()->GetSelectDevice() != nullptr ? strFirst : QString());
}

bool CDlgCamInfoPane::OnBtnCopy()
{
    const QString strSerial = m_apValue[ROW_SERIAL]->text();
    QClipboard* pClipboard = QGuiApplication::clipboard();
    if (strSerial.isEmpty() || pClipboard == nullptr)
        return false;
    pClipboard->setText(strSerial);
    return pClipboard->text() == strSerial;
}
