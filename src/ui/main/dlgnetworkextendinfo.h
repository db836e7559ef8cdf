// "Detail" of the information pane: the selected camera's address, mask, gateway and DNS servers
// as the camera itself reports them, and the ports it is reached on from outside.
#pragma once

#include "core/notify.h"

#include <QDialog>

class QLabel;
struct NetworkExtendInfo;

class CDlgNetworkExtendInfo : public QDialog, public INotifySink {
    Q_OBJECT
public:
    explicit CDlgNetworkExtendInfo(QWidget* pParent = nullptr);
    ~CDlgNetworkExtendInfo() override;

    // Asks the selected camera; false (with "Camera Offline!" shown) when it is not there.
    bool Request();
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

    // The five addresses, one text; the two port lines.
    QString GetAddressText() const;
    QString GetPortText() const;

    // Address, mask, gateway, preferred and alternate DNS in the reply's first bytes.
    static QString AddressTextOf(const NetworkExtendInfo& info);

private:
    void ShowPorts();

    QLabel* m_pAddresses;
    QLabel* m_pPorts;
    WORD m_usUdpApp = 0;
    WORD m_usUdpMobile = 0;
};
