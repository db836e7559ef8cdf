#include "ui/main/dlgrtspshare.h"

#include "core/configfile.h"
#include "core/log.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "platform/netif.h"
#include "protocol/engmedia.h"
#include "stream/rtspshare.h"
#include "ui/main/mainmessage.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include <arpa/inet.h>

namespace {

CRtspSharingUi* g_pReplaced = nullptr;

QString Value(CConfigFileManager* pConfig, const char16_t* pszKey)
{
    return pConfig != nullptr ? QString::fromStdU16String(pConfig->GetRtspShareValue(pszKey)) : QString();
}

std::u16string Wide(const std::string& str)
{
    return QString::fromStdString(str).toStdU16String();
}

// Passwords are not shown, only that one is stored.
const QString STORED_PASSWORD = QStringLiteral("\u2022\u2022\u2022\u2022\u2022\u2022");

} // namespace

CRtspSharingUi::CRtspSharingUi(CConfigFileManager* pConfig, CEngMedia& engine, IDeviceManager& manager,
                               QObject* pParent)
    : QObject(pParent), m_pConfig(pConfig), m_pShare(std::make_unique<CRtspShare>(manager, engine))
{
    m_settings.bOn = Value(pConfig, u"enabled").toInt() != 0;
    bool bOk = false;
    const int nPort = Value(pConfig, u"port").toInt(&bOk);
    if (bOk && nPort > 0 && nPort <= 65535)
        m_settings.nPort = nPort;
    const QString strAddress = Value(pConfig, u"address").trimmed();
    if (!strAddress.isEmpty())
        m_settings.strAddress = strAddress.toStdString();
    m_settings.strUser = Value(pConfig, u"user").toStdString();
    m_settings.strPasswordHash = Value(pConfig, u"password_hash").toStdString();
    m_pShare->SetEventHandler([](RtspEvent enEvent, const std::string& strPath, const std::string& strPeer,
                                 const std::string& strDetail) {
        VLOG(3, "CRtspSharingUi: %s %s %s %s", RtspEventName(enEvent), strPath.c_str(), strPeer.c_str(),
             strDetail.c_str());
    });
}

CRtspSharingUi::~CRtspSharingUi()
{
    m_pShare.reset();
    if (g_pReplaced == this)
        g_pReplaced = nullptr;
}

bool CRtspSharingUi::Apply(const RtspShareSettings& settings, const std::string& strPassword,
                           QString& strError)
{
    if (!settings.bOn) {
        m_pShare->Stop(true);
        return true;
    }
    RtspBridgeConfig config;
    config.strAddress = settings.strAddress;
    config.nPort = settings.nPort;
    config.strUser = settings.strUser;
    config.strPassword = strPassword;
    if (strPassword.empty())
        config.strPasswordHash = settings.strPasswordHash;
    // A user without a password (or the other way round) is no account.
    if (!settings.strUser.empty() && config.strPassword.empty() && config.strPasswordHash.empty())
        config.strUser.clear();
    // The rule of serve: an address off this machine only with an account.
    if (const std::string strWhy = CheckRtspAccess(config); !strWhy.empty()) {
        VLOG(1, "CRtspSharingUi::Apply: %s", strWhy.c_str());
        strError = MainTextWithName(IDS_RTSP_NEED_ACCOUNT, QString::fromStdString(settings.strAddress));
        return false;
    }
    m_pShare->Stop(true);
    if (const std::string strWhy = m_pShare->Start(config); !strWhy.empty()) {
        VLOG(1, "CRtspSharingUi::Apply: %s", strWhy.c_str());
        strError =
            MainTextWithName(IDS_RTSP_LISTEN_FAIL, QString::fromStdString(settings.strAddress + ":" +
                                                                          std::to_string(settings.nPort)));
        return false;
    }
    return true;
}

bool CRtspSharingUi::SetSettings(const RtspShareSettings& settingsIn, const QString& strPassword,
                                 QString& strError)
{
    RtspShareSettings settings = settingsIn;
    const std::string strNew = strPassword.toStdString();
    // The stored hash holds for its own user only.
    if (!strNew.empty())
        settings.strPasswordHash = RtspDigestHash(settings.strUser, strNew);
    else if (settings.strUser != m_settings.strUser)
        settings.strPasswordHash.clear();
    if (settings.strUser.empty())
        settings.strPasswordHash.clear();
    if (!Apply(settings, strNew, strError)) {
        // What served before goes on.
        QString strIgnored;
        if (m_settings.bOn && !m_pShare->IsRunning())
            Apply(m_settings, {}, strIgnored);
        Q_EMIT changed();
        return false;
    }
    m_settings = settings;
    if (m_pConfig != nullptr) {
        m_pConfig->SetRtspShareValue(u"enabled", settings.bOn ? u"1" : u"0");
        m_pConfig->SetRtspShareValue(u"port", Wide(std::to_string(settings.nPort)));
        m_pConfig->SetRtspShareValue(u"address", Wide(settings.strAddress));
        m_pConfig->SetRtspShareValue(u"user", Wide(settings.strUser));
        m_pConfig->SetRtspShareValue(u"password_hash", Wide(settings.strPasswordHash));
    }
    Q_EMIT changed();
    return true;
}

bool CRtspSharingUi::StartFromSettings(QString& strError)
{
    const bool bStarted = Apply(m_settings, {}, strError);
    Q_EMIT changed();
    return bStarted;
}

void CRtspSharingUi::Stop()
{
    m_pShare->Stop(true);
    Q_EMIT changed();
}

bool CRtspSharingUi::IsSharing() const
{
    return m_pShare->IsRunning();
}

QString CRtspSharingUi::Url(DWORD dwID) const
{
    if (!m_pShare->IsRunning())
        return {};
    std::string strHost = m_pShare->Config().strAddress;
    if (strHost == "0.0.0.0") {
        const std::vector<DWORD> vecLocal = GetLocalIPv4Addresses();
        in_addr addr{};
        addr.s_addr = htonl(vecLocal.empty() ? INADDR_LOOPBACK : vecLocal.front());
        char szText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &addr, szText, sizeof(szText));
        strHost = szText;
    }
    return QString::fromStdString(m_pShare->Url(dwID, strHost));
}

CRtspSharingUi* FindRtspSharingUi()
{
    return g_pReplaced;
}

CRtspSharingUi* GetRtspSharingUi()
{
    if (g_pReplaced == nullptr)
        g_pReplaced =
            new CRtspSharingUi(GetConfigFileManager(), *CEngMedia::GetInstance(), *GetDeviceManager());
    return g_pReplaced;
}

void SetRtspSharingUi(CRtspSharingUi* pUi)
{
    g_pReplaced = pUi;
}

CDlgRtspShare::CDlgRtspShare(CRtspSharingUi& sharing, QWidget* pParent) : QDialog(pParent), m_sharing(sharing)
{
    setWindowTitle(MainText(IDS_RTSP_ON));
    const RtspShareSettings& settings = sharing.Settings();
    m_pOn = new QCheckBox(MainText(IDS_RTSP_ON), this);
    m_pOn->setChecked(settings.bOn);
    m_pPort = new QSpinBox(this);
    m_pPort->setRange(1, 65535);
    m_pPort->setValue(settings.nPort);
    m_pAddress = new QLineEdit(QString::fromStdString(settings.strAddress), this);
    m_pUser = new QLineEdit(QString::fromStdString(settings.strUser), this);
    m_pPassword = new QLineEdit(this);
    m_pPassword->setEchoMode(QLineEdit::Password);
    if (!settings.strPasswordHash.empty())
        m_pPassword->setPlaceholderText(STORED_PASSWORD);
    auto* pForm = new QFormLayout(this);
    pForm->addRow(m_pOn);
    pForm->addRow(MainText(IDS_RTSP_PORT), m_pPort);
    pForm->addRow(MainText(IDS_RTSP_ADDRESS), m_pAddress);
    pForm->addRow(MainText(IDS_RTSP_USER), m_pUser);
    pForm->addRow(MainText(IDS_RTSP_PASSWORD), m_pPassword);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CDlgRtspShare::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &CDlgRtspShare::reject);
    pForm->addRow(pButtons);
}

void CDlgRtspShare::accept()
{
    RtspShareSettings settings = m_sharing.Settings();
    settings.bOn = m_pOn->isChecked();
    settings.nPort = m_pPort->value();
    settings.strAddress = m_pAddress->text().trimmed().toStdString();
    settings.strUser = m_pUser->text().trimmed().toStdString();
    QString strError;
    if (!m_sharing.SetSettings(settings, m_pPassword->text(), strError)) {
        ShowMainMessage(strError, this);
        return;
    }
    QDialog::accept();
}
