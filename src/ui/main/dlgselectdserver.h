// "Select D-server": offered by Repair when the settings file lists the servers a camera may use
// (SERVER/set). One row per configured server; the one the camera reports is chosen at first.
#pragma once

#include <QDialog>

#include <string>

class CConfigFileDServer;
class QListWidget;

class CDlgSelectDServer : public QDialog {
    Q_OBJECT
public:
    // strCurrent: the address the camera reports now.
    CDlgSelectDServer(const CConfigFileDServer& servers, const QString& strCurrent,
                      QWidget* pParent = nullptr);

    // The chosen server, counted from 1 as in the file; 0 for none.
    int GetServer() const;
    void SetServer(int nServer);
    // Its address as the camera is sent it.
    std::string GetServerUrl() const;
    QStringList GetRowTexts() const;

    // Stays open with "Select a server" or "Invalid server address" when there is nothing the
    // camera could take.
    void accept() override;

    // The camera's field holds 31 bytes with their terminating zero: printable ASCII, and not
    // the file's placeholder for a server without an address.
    static bool IsSendableUrl(const std::u16string& strUrl);

private:
    const CConfigFileDServer& m_servers;
    QListWidget* m_pList;
};
