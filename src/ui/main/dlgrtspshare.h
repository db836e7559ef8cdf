// "Share cameras as RTSP streams": the desktop client offers the cameras it sees to other
// programs (players, ffmpeg, video recorders) at rtsp://HOST:PORT/<serial>, through the same
// bridge as vistrel-cli serve. Off by default; its port, address and account are kept in the
// configuration, the password only as its digest hash.
#pragma once

#include "platform/wintypes.h"

#include <QDialog>
#include <QObject>
#include <QString>

#include <memory>
#include <string>

class CConfigFileManager;
class CEngMedia;
class CRtspShare;
class IDeviceManager;
class QCheckBox;
class QLineEdit;
class QSpinBox;

struct RtspShareSettings {
    bool bOn = false;
    int nPort = 8554;
    std::string strAddress = "127.0.0.1";
    std::string strUser;
    std::string strPasswordHash;
};

class CRtspSharingUi : public QObject {
    Q_OBJECT
public:
    CRtspSharingUi(CConfigFileManager* pConfig, CEngMedia& engine, IDeviceManager& manager,
                   QObject* pParent = nullptr);
    ~CRtspSharingUi() override;

    const RtspShareSettings& Settings() const { return m_settings; }
    // Applies and, when that works, stores them: on (re)starts the server, off stops it and ends
    // its sessions. strPassword: a new password for the account, or empty to keep the stored
    // one. False with the user's reason (an open address without an account, a taken port).
    bool SetSettings(const RtspShareSettings& settings, const QString& strPassword, QString& strError);
    // At start-up: serves when the stored settings say so.
    bool StartFromSettings(QString& strError);
    void Stop();
    bool IsSharing() const;
    // The camera's URL, the address being this machine's first one when the server listens on
    // every address; empty when not shared.
    QString Url(DWORD dwID) const;

Q_SIGNALS:
    void changed();

private:
    bool Apply(const RtspShareSettings& settings, const std::string& strPassword, QString& strError);

    CConfigFileManager* m_pConfig;
    RtspShareSettings m_settings;
    std::unique_ptr<CRtspShare> m_pShare;
};

// The process-wide one, made on first use from the configuration, the media engine and the
// device manager; a test puts its own in place (null: back to the process-wide one).
CRtspSharingUi* GetRtspSharingUi();
// The one in use, without making it.
CRtspSharingUi* FindRtspSharingUi();
void SetRtspSharingUi(CRtspSharingUi* pUi);

class CDlgRtspShare : public QDialog {
    Q_OBJECT
public:
    explicit CDlgRtspShare(CRtspSharingUi& sharing, QWidget* pParent = nullptr);
    void accept() override;

    QCheckBox* GetOn() const { return m_pOn; }
    QSpinBox* GetPort() const { return m_pPort; }
    QLineEdit* GetAddress() const { return m_pAddress; }
    QLineEdit* GetUser() const { return m_pUser; }
    QLineEdit* GetPassword() const { return m_pPassword; }

private:
    CRtspSharingUi& m_sharing;
    QCheckBox* m_pOn;
    QSpinBox* m_pPort;
    QLineEdit* m_pAddress;
    QLineEdit* m_pUser;
    QLineEdit* m_pPassword;
};
