// The live stream's frame rate, resolution and bit rate, with the bit-rate floors of the
// camera's video standard.
#pragma once

#include "ui/pages/configpage.h"

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

private:
    CStreamFields* m_pStream = nullptr;
    QLabel* m_pLabelStandard = nullptr;
};
