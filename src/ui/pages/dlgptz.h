// Pan, tilt and zoom: the eight direction keys and the patrol with the preset list
// (CDlgCamSetPTZ), the preset editor (CDlgPTZPreset) and the patrol tour schedule
// (CDlgPTZScanSchedule).
#pragma once

#include "device/settingchecks.h"
#include "ui/pages/configpage.h"

#include <map>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QSpinBox;
class QTimeEdit;

// Direction keys: the movement command byte of each, from up left to right down.
struct PtzDirection {
    BYTE byCommand;
    DWORD dwTooltip;
};
const PtzDirection (&GetPtzDirections())[8];

class CDlgCamSetPTZ : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    // A direction key pressed (its index in GetPtzDirections) and released.
    void OnDirectionPressed(int nIndex);
    void OnDirectionReleased();
    QListWidget* GetPresetList() const { return m_pList; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    QSpinBox* m_pSpeed1 = nullptr;
    QSpinBox* m_pSpeed2 = nullptr;
    QCheckBox* m_pChkPatrol = nullptr;
    QListWidget* m_pList = nullptr;
};

class CDlgPTZPreset : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    // Add and Change store the preset under its number; Delete and Clear all remove.
    void OnBtnAdd();
    void OnBtnDelete();
    void OnBtnClearAll();

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    // The present camera, else the "Camera Offline!" hint and null.
    DeviceInfo* PresentDevice();
    bool ReadPreset(BYTE& byNumber, std::string& strName);

    QListWidget* m_pList = nullptr;
    QLineEdit* m_pEditNumber = nullptr;
    QLineEdit* m_pEditName = nullptr;
};

class CDlgPTZScanSchedule : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    // Adds the range of the time fields to the chosen tour group, which must visit a preset;
    // false with its hint.
    bool OnBtnAdd();
    void OnBtnDelete();
    void OnBtnClearAll();
    QListWidget* GetRanges() const { return m_pList; }
    QListWidget* GetGroupPresets() const { return m_pListPresets; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;

private:
    void ShowRanges();
    // The chosen tour group's presets as the list's checks; the camera's presets first, then
    // any the group names that the camera did not list.
    void ShowGroupPresets();
    void OnPresetChanged(QListWidgetItem* pItem);
    std::vector<BYTE> GroupPresets(int nGroup) const;

    AutoScanSchedule m_stEdit{};
    std::vector<AutoScanPeriod> m_vecPeriods;
    std::map<DWORD, std::string> m_mapPresets; // the camera's, by number
    QCheckBox* m_pChkEnable = nullptr;
    QComboBox* m_pComboGroup = nullptr;
    QListWidget* m_pListPresets = nullptr;
    QTimeEdit* m_pStart = nullptr;
    QTimeEdit* m_pEnd = nullptr;
    QListWidget* m_pList = nullptr;
};
