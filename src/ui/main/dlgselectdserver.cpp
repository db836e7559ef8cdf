#include "ui/main/dlgselectdserver.h"

#include "core/configfile.h"
#include "core/stringids.h"
#include "ui/main/mainmessage.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr std::size_t DSERVER_URL_MAX = 30;

} // namespace

CDlgSelectDServer::CDlgSelectDServer(const CConfigFileDServer& servers, const QString& strCurrent,
                                     QWidget* pParent)
    : QDialog(pParent), m_servers(servers)
{
    setObjectName(QStringLiteral("dlgSelectDServer"));
    setWindowTitle(MainText(IDS_ST_SELECTDSVR));
    setModal(true);
    auto* pLayout = new QVBoxLayout(this);
    auto* pLabel = new QLabel(MainText(IDS_ST_SERVER), this);
    m_pList = new QListWidget(this);
    pLabel->setBuddy(m_pList);
    for (int i = 1; i <= servers.GetServerCount(); ++i) {
        m_pList->addItem(QStringLiteral("%1 (%2)").arg(QString::fromStdU16String(servers.GetServerName(i)),
                                                       QString::fromStdU16String(servers.GetServerUrl(i))));
        if (m_pList->currentRow() < 0 && QString::fromStdU16String(servers.GetServerUrl(i)) == strCurrent)
            m_pList->setCurrentRow(i - 1);
    }
    // Wide enough for the longest row: the address at its end is what the user picks by.
    m_pList->setMinimumWidth(m_pList->sizeHintForColumn(0) + 2 * m_pList->frameWidth() +
                             m_pList->verticalScrollBar()->sizeHint().width());
    connect(m_pList, &QListWidget::itemDoubleClicked, this, &CDlgSelectDServer::accept);
    pLayout->addWidget(pLabel);
    pLayout->addWidget(m_pList);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CDlgSelectDServer::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
}

int CDlgSelectDServer::GetServer() const
{
    return m_pList->currentRow() + 1;
}

void CDlgSelectDServer::SetServer(int nServer)
{
    m_pList->setCurrentRow(nServer - 1);
}

std::string CDlgSelectDServer::GetServerUrl() const
{
    const int nServer = GetServer();
    if (nServer < 1 || nServer > m_servers.GetServerCount())
        return std::string();
    return QString::fromStdU16String(m_servers.GetServerUrl(nServer)).toStdString();
}

QStringList CDlgSelectDServer::GetRowTexts() const
{
    QStringList rows;
    for (int i = 0; i < m_pList->count(); ++i)
        rows << m_pList->item(i)->text();
    return rows;
}

void CDlgSelectDServer::accept()
{
    const int nServer = GetServer();
    if (nServer < 1 || nServer > m_servers.GetServerCount()) {
        ShowMainMessage(MainText(IDS_HINT_SERVER_EMPTY), this);
        return;
    }
    // A longer address would reach the camera cut short, and the placeholder points nowhere.
    if (!IsSendableUrl(m_servers.GetServerUrl(nServer))) {
        ShowMainMessage(MainText(IDS_HINT_SERVER_INVALID), this);
        return;
    }
    QDialog::accept();
}

bool CDlgSelectDServer::IsSendableUrl(const std::u16string& strUrl)
{
    if (strUrl.empty() || strUrl.size() > DSERVER_URL_MAX || strUrl == u"0.0.0.0")
        return false;
    for (char16_t ch : strUrl) {
        if (ch <= u' ' || ch > u'~')
            return false;
    }
    return true;
}
