// The live stream's frame rate, resolution and bit rate, with the bit-rate floors of the
// camera's video standard. HD is offered only to a camera that can encode it.
#pragma once

#include "ui/pages/configpage.h"

#include <map>

class CStreamFields;
class QLabel;

class CDlgCamSetQuality : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    // "Apply to": each camera is checked against its own standard and HD ability; one that
    // refuses gets nothing, and the refusal is what the report shows as sent.
    bool CheckEdited() override;
    void SendTo(DeviceInfo& device) override;
    QString GroupText(const DeviceInfo& device) const override;
    void ForgetGroup(DeviceInfo& device) override;
    void AskGroup(const DeviceInfo& device) override;

private:
    CStreamFields* m_pStream = nullptr;
    QLabel* m_pLabelStandard = nullptr;
    KeyValues m_kvEdited;
    // Why a camera of the last "Apply to" got nothing; kept until its group is forgotten.
};
