// Colour of the live picture: brightness, contrast, hue and saturation, applied by the decoder
// to the shown camera's picture as they change. The values are the client's, not the camera's.
#pragma once

#include "ui/pages/configpage.h"

class QSlider;

class CDlgCamSetColor : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    // The four values as the video pane takes them: signed bytes, brightness lowest.
    DWORD GetValue() const;
    void OnBtnSave() override;
    void OnBtnDefaults();

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo&) const override { return true; }
    void FillControls(const DeviceInfo&) override {}

private:
    void SendValue();

    QSlider* m_apSlider[4] = {};
};
