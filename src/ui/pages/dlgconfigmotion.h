// The motion page: three areas drawn on the picture control, each a motion rectangle or an
// alert line, with a common threshold and a sensitivity per area.
#pragma once

#include "protocol/viewerrecords.h"
#include "ui/pages/configpage.h"

class CMDPic;
class QButtonGroup;
class QCheckBox;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTimer;

class CDlgConfigMotionDetection : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    CMDPic* GetPicture() const { return m_pPic; }
    void SelectArea(int nIndex);
    // The edited values as they would be sent.
    MotionInfo GetEdited() const { return m_stEdit; }
    // Asks the live view for a new picture; the shown one stays until it comes.
    void OnBtnRefresh();

protected:
    // Back on the page, the picture is the camera's present one.
    void showEvent(QShowEvent* pEvent) override;

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    // The picture told us that the current area changed: read it back.
    void OnRegionChanged();
    void ShowArea();
    void OnCoordinatesEdited();
    // The live view's still picture behind the areas: asked for when the page fills and again
    // each second until one arrives (the first picture may still be on its way).
    void OnWantSnapshot();

    MotionInfo m_stEdit{};
    int m_nArea = 0;
    bool m_bFilling = false;
    CMDPic* m_pPic = nullptr;
    QRadioButton* m_apRadioArea[3] = {};
    QCheckBox* m_pChkEnable = nullptr;
    QRadioButton* m_pRadioMotion = nullptr;
    QRadioButton* m_pRadioLine = nullptr;
    QSlider* m_pSliderThreshold = nullptr;
    QSlider* m_pSliderSens = nullptr;
    QSpinBox* m_apSpin[4] = {}; // left, top, right, bottom in percent
    QTimer* m_pSnapshotTimer = nullptr;
    int m_nSnapshotTries = 0;
};
