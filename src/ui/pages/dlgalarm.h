// Alarm pages: digital output and SMS triggers (four check boxes each) and the snapshot
// server.
#pragma once

#include "ui/pages/configpage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

// CDlgAlarmDo (bSms false) and CDlgAlarmShortMsg (bSms true) differ only in the triggers
// they edit.
class CDlgAlarmTriggers : public CConfigPage {
    Q_OBJECT
public:
    CDlgAlarmTriggers(const PageContext& context, bool bSms, QWidget* pParent);
    void OnBtnSave() override;
    QCheckBox* GetBox(int nIndex) const { return m_apChk[nIndex]; }

protected:
    bool CheckEdited() override;
    void SendTo(DeviceInfo& device) override;
    QString GroupText(const DeviceInfo& device) const override;
    void ForgetGroup(DeviceInfo& device) override;
    void AskGroup(const DeviceInfo& device) override;
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    bool m_bSms;
    BYTE m_abEdited[4] = {};
    QCheckBox* m_apChk[4] = {};
};

class CDlgAlarmSnapshotServer : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    QCheckBox* m_pChkEnable = nullptr;
    QCheckBox* m_apChkTrigger[6] = {}; // in time, 485, motion 1 to 3, digital input
    QLineEdit* m_pEditInterval = nullptr;
    QLineEdit* m_pEditCount = nullptr;
    QLineEdit* m_pEditServer = nullptr;
    QLineEdit* m_pEditPort = nullptr;
    QComboBox* m_pComboQuality = nullptr;
};
