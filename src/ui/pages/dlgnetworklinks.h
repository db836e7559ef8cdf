// Wireless links: the Wi-Fi basic settings with the survey of the networks the camera sees,
// and the 3G dial settings with the link state.
#pragma once

#include "ui/pages/configpage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
struct WifiRecord;

class CDlgWifiNetwork : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    void OnBtnRescan();
    QTreeWidget* GetSurvey() const { return m_pSurvey; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    // A camera without Wi-Fi has nothing to wait for.
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    void Retranslate() override;

private:
    void ShowSurvey(const WifiRecord* pRecord);
    QComboBox* m_pComboType = nullptr;
    QComboBox* m_pComboSsid = nullptr;
    QComboBox* m_pComboChannel = nullptr;
    QComboBox* m_pComboTxKey = nullptr;
    int m_nTxKeyShown = -1; // the camera's key number as filled
    QLineEdit* m_pEditKey = nullptr;
    QTreeWidget* m_pSurvey = nullptr;
};

// The camera's Wi-Fi link as it is now (network, speed, quality) and the wired/wireless switch,
// which asks first and refuses wired when no cable is plugged in. Saving is the switch.
class CDlgNetworkWifiPane : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    void Retranslate() override;
    void ShowLink(const DeviceInfo& device);

private:
    QLabel* m_pLabelSsid = nullptr;
    QLabel* m_pLabelSpeed = nullptr;
    QLabel* m_pLabelQuality = nullptr;
    QComboBox* m_pComboLink = nullptr;
};

// The access controller of the Wi-Fi network's web authentication: its address and name, and
// the account the camera logs in with. Sent with the camera's other Wi-Fi settings.
class CDlgWifiWebAuth : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    QLineEdit* m_pEditIP = nullptr;
    QLineEdit* m_pEditName = nullptr;
    QLineEdit* m_pEditAccount = nullptr;
    QLineEdit* m_pEditPassword = nullptr;
};

class CDlgNetworkWire3G : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    // The wired/3G switch: asks first, then sends the camera's 3G settings with the new link.
    void OnBtnSwitch();

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    void Retranslate() override;
    void ShowState(const DeviceInfo& device);

private:
    enum { STATE_SIM, STATE_SIGNAL, STATE_DIAL, STATE_NET, STATE_COUNT };
    QLabel* m_apState[STATE_COUNT] = {};
    QComboBox* m_pComboLink = nullptr;
    QCheckBox* m_pChkCustom = nullptr;
    QLineEdit* m_pEditApn = nullptr;
    QLineEdit* m_pEditTel = nullptr;
    QLineEdit* m_pEditAccount = nullptr;
    QLineEdit* m_pEditPassword = nullptr;
};
