// The RTSP page: authentication and the main and sub streams the camera serves over RTSP. The
// camera keeps these to itself (the device manager does not ask), so the page asks and listens
// for the answer on its own.
#pragma once

#include "ui/pages/configpage.h"

#include <optional>

class CStreamFields;
class QCheckBox;
class QComboBox;
class QStackedWidget;

class CDlgSystemRTSP : public CConfigPage {
    Q_OBJECT
public:
    CDlgSystemRTSP(const PageContext& context, QWidget* pParent);
    ~CDlgSystemRTSP() override;
    void OnBtnSave() override;
    // An answer of any camera; the selected camera's is kept.
    void OnRtspInfo(const RtspInfo& info);

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    // Asks the camera each look until its answer is in.
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    bool HasInfoFor(DWORD dwID) const { return m_info.has_value() && m_info->dwID == dwID; }

    int m_nSink = 0;
    std::optional<RtspInfo> m_info;
    mutable bool m_bAsking = false;
    QCheckBox* m_pChkAuth = nullptr;
    QComboBox* m_pComboChannel = nullptr;
    QStackedWidget* m_pStack = nullptr;
    CStreamFields* m_pMain = nullptr;
    CStreamFields* m_pSub = nullptr;
};
