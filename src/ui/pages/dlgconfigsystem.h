// The system page: camera name and the clock shown on the video; and the password page.
#pragma once

#include "ui/pages/configpage.h"

class QCheckBox;
class QLineEdit;

class CDlgConfigSystem : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    // Refused while a download from the camera runs; asks first.
    void OnBtnReboot();
    QPushButton* GetRebootButton() const { return m_pBtnReboot; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    QLineEdit* m_pEditName = nullptr;
    QCheckBox* m_pChkShowTime = nullptr;
    // The camera does not report its choice: nothing is chosen until the user chooses.
    class QComboBox* m_pComboDServer = nullptr;
    QPushButton* m_pBtnReboot = nullptr;
};

class CDlgSystemPassword : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    // The password state comes with the search reply: always there.
    bool IsReceived(const DeviceInfo&) const override { return true; }
    void FillControls(const DeviceInfo& device) override;

private:
    QLineEdit* m_pEditOld = nullptr;
    QLineEdit* m_pEditNew = nullptr;
    QLineEdit* m_pEditConfirm = nullptr;
};

// The dome's address and baud rate.
class CDlgSystemDome : public CConfigPage {
    Q_OBJECT
public:
    CDlgSystemDome(const PageContext& context, QWidget* pParent);
    ~CDlgSystemDome() override;
    void OnBtnSave() override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    // The camera does not report these: the page starts from the defaults.
    bool IsReceived(const DeviceInfo&) const override { return true; }
    void FillControls(const DeviceInfo&) override {}

private:
    // The camera's answer to a setting: what the dome holds now.
    void OnDomeReply(DWORD dwID, const DomeReply& reply);
    QLineEdit* m_pEditAddress = nullptr;
    class QComboBox* m_pComboBaud = nullptr;
    int m_nSink = 0;
};
