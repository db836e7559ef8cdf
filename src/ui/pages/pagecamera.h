// The sensor pages of the camera-setting pane, one per sensor family: 9900 (CDlgCamSetCam9900),
// 9P031 (CDlgCamSetCam9P031) and the HD dome's (CDlgCamSetCamHDDome). The pane shows the one that
// matches the selected camera's family.
//
// A family's settings are the register bytes its sensor read returns (9900: four, 9P031 and HD
// dome: six). A save writes each changed register with one sensor control (sub-command 2, the
// family's control number, the register's index as the further byte, the byte as value);
// "Defaults" is sub-command 3 and is followed by a fresh read.
#pragma once

#include "ui/pages/configpage.h"

#include <map>
#include <vector>

class QAbstractButton;
class QSlider;

constexpr BYTE SENSOR_SUBCOMMAND_READ_REGS = 1;
constexpr BYTE SENSOR_SUBCOMMAND_WRITE_REG = 2;
constexpr BYTE SENSOR_SUBCOMMAND_DEFAULTS = 3;
constexpr BYTE SENSOR_CONTROL_NUMBER_9900 = 8;
constexpr BYTE SENSOR_CONTROL_NUMBER_9P031 = 13;

// One control of a sensor page: a check box (bits of a register) or a slider (a whole register).
struct SensorField {
    const char* pszKey;
    DWORD dwLabel;
    int nRegister;
    BYTE byMask; // 0xFF: the whole byte, on a slider
};

class CDlgCamSetCamBase : public CConfigPage {
    Q_OBJECT
public:
    CDlgCamSetCamBase(const PageContext& context, DWORD dwUIType, QWidget* pParent);
    void OnBtnSave() override;
    // Asks, then has the camera take its defaults and reads them back.
    void OnBtnDefaults();
    DWORD GetUIType() const { return m_dwUIType; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    // "Apply to": the page's controls go to cameras of the same family whose registers are in;
    // each keeps the bits the page does not show. Others get nothing and say why.
    bool CheckEdited() override;
    void SendTo(DeviceInfo& device) override;
    QString GroupText(const DeviceInfo& device) const override;
    void ForgetGroup(DeviceInfo& device) override;
    void AskGroup(const DeviceInfo& device) override;

private:
    // The family's register bytes in the device record, in read order.
    std::vector<BYTE*> Registers(DeviceInfo& device) const;
    BYTE ControlNumber() const;
    BYTE& ReceivedFlag(DeviceInfo& device) const;
    // The controls' values (slider value, or 0/1) and the registers with them applied.
    std::vector<int> ControlValues() const;
    std::vector<BYTE> Applied(const std::vector<BYTE*>& vecRegs, const std::vector<int>& vecValues) const;
    // Writes each register that changes, one sensor control each.
    void WriteRegisters(DeviceInfo& device, const std::vector<int>& vecValues);

    std::vector<int> m_vecEdited;

    DWORD m_dwUIType;
    const std::vector<SensorField>& m_vecFields;
    std::vector<QWidget*> m_vecControls; // one per field
};

class CDlgCamSetCam9900 : public CDlgCamSetCamBase {
    Q_OBJECT
public:
    CDlgCamSetCam9900(const PageContext& context, QWidget* pParent);
};

class CDlgCamSetCam9P031 : public CDlgCamSetCamBase {
    Q_OBJECT
public:
    CDlgCamSetCam9P031(const PageContext& context, QWidget* pParent);
};

class CDlgCamSetCamHDDome : public CDlgCamSetCamBase {
    Q_OBJECT
public:
    CDlgCamSetCamHDDome(const PageContext& context, QWidget* pParent);
};
