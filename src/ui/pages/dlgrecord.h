// Recording pages: when and what the SD card or the NAS records (the options, the events and
// the daily, weekly or monthly timetable), its stream, the NAS's server and store, and the SD
// card's capacity.
#pragma once

#include "ui/pages/configpage.h"

#include <map>

class CDlgRecordSchedule;
class CStreamFields;
class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;

class CDlgRecordBase : public CConfigPage {
    Q_OBJECT
public:
    CDlgRecordBase(const PageContext& context, bool bNas, QWidget* pParent);
    void OnBtnSave() override;
    // SD: "Clear all records", refused without a card, while downloading or recording; asks first.
    void OnBtnClearRecords();
    CDlgRecordSchedule* GetSchedule() const { return m_pSchedule; }

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    void Retranslate() override;
    // SD: "Apply to", each camera by its own card, HD ability and record.
    bool CheckEdited() override;
    void SendTo(DeviceInfo& device) override;
    QString GroupText(const DeviceInfo& device) const override;
    void ForgetGroup(DeviceInfo& device) override;
    void AskGroup(const DeviceInfo& device) override;

private:
    void UpdateScheduleNote();
    void ShowCapacity(const DeviceInfo& device);
    // The page's values under the checks' keys.
    void EditedKeys(KeyValues& kv) const;

    bool m_bNas;
    // The on/off options by their keys ("event" is the event-recording choice).
    std::vector<std::pair<std::string, QAbstractButton*>> m_vecOptions;
    CDlgRecordSchedule* m_pSchedule = nullptr;
    QLabel* m_pScheduleNote = nullptr;
    CStreamFields* m_pStream = nullptr;
    QLabel* m_pLabelCapacity = nullptr; // SD
    class QPushButton* m_pBtnClear = nullptr;
    QLineEdit* m_pEditSize = nullptr; // NAS from here
    QLineEdit* m_pEditIP = nullptr;
    QLineEdit* m_pEditPath = nullptr;
    QLineEdit* m_pEditAccount = nullptr;
    QLineEdit* m_pEditPassword = nullptr;
    QLineEdit* m_pEditConfirm = nullptr;
    KeyValues m_kvEdited;
};

class CDlgConfigSDRecord : public CDlgRecordBase {
    Q_OBJECT
public:
    CDlgConfigSDRecord(const PageContext& context, QWidget* pParent) : CDlgRecordBase(context, false, pParent)
    {
    }
};

class CDlgConfigNASRecord : public CDlgRecordBase {
    Q_OBJECT
public:
    CDlgConfigNASRecord(const PageContext& context, QWidget* pParent) : CDlgRecordBase(context, true, pParent)
    {
    }
};
