// The wired-network page: the camera port (sent by the viewer engine), and
// the address, DNS and PPPoE settings (sent by the LAN engine).
#pragma once

#include "ui/pages/configpage.h"

class QCheckBox;
class QLabel;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CDlgNetworkCable : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    // Address, DNS and PPPoE: "Saved.".
    void OnBtnSave() override;
    // Camera port: "OK".
    void OnBtnSavePort();
    QPushButton* GetPortButton() const { return m_pBtnPort; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    void UpdateModeControls();

    QRadioButton* m_pRadioPppoe = nullptr;
    QRadioButton* m_pRadioDhcp = nullptr;
    QRadioButton* m_pRadioStatic = nullptr;
    QLineEdit* m_pEditIP = nullptr;
    QComboBox* m_pComboMask = nullptr;
    QLineEdit* m_pEditGateway = nullptr;
    QLineEdit* m_pEditDns1 = nullptr;
    QLineEdit* m_pEditDns2 = nullptr;
    QLineEdit* m_pEditPppoeUser = nullptr;
    QLineEdit* m_pEditPppoePass = nullptr;
    QLineEdit* m_pEditPppoeConfirm = nullptr;
    QLineEdit* m_pEditPort = nullptr;
    QCheckBox* m_pChkRandom = nullptr;
    QLabel* m_pLabelAppPort = nullptr;
    QLabel* m_pLabelMobilePort = nullptr;
    QCheckBox* m_pChkUpnp = nullptr;
    QPushButton* m_pBtnPort = nullptr;
};
