// The time page: NTP synchronisation, time zone and daylight saving time by date (mode 1) or
// by weekday (mode 2).
#pragma once

#include "ui/pages/configpage.h"

class QCheckBox;
class QComboBox;
class QRadioButton;

class CDlgSystemNTP : public CConfigPage {
    Q_OBJECT
public:
    using CConfigPage::CConfigPage;
    void OnBtnSave() override;
    // "Update camera time": the camera's clock from the PC's.
    void OnBtnUpdateTime();

protected:
    void BuildControls(QVBoxLayout* pLayout) override;
    bool IsReceived(const DeviceInfo& device) const override;
    void FillControls(const DeviceInfo& device) override;
    void Retranslate() override;
    DWORD GiveUp() override;
    // "Apply to": the zone, server and daylight saving go to each camera as they are here.
    bool CheckEdited() override;
    void SendTo(DeviceInfo& device) override;
    QString GroupText(const DeviceInfo& device) const override;
    void ForgetGroup(DeviceInfo& device) override;
    void AskGroup(const DeviceInfo& device) override;

private:
    // The page's values as keys for the shared time check; false (with the hint) when the
    // daylight-saving choice is not complete.
    bool EditedKeys(KeyValues& kv);
    KeyValues m_kvEdited;
    // What the last save sent, until the camera's answer shows whether it holds it.
    QString m_strWritten;
    // One end of the period: mode 1 month, day, hour; mode 2 ordinal, weekday, month, hour.
    struct DstRow {
        QComboBox* pMonth1;
        QComboBox* pDay;
        QComboBox* pHour1;
        QComboBox* pOrdinal;
        QComboBox* pWeekday;
        QComboBox* pMonth2;
        QComboBox* pHour2;
    };
    DstRow MakeRow(const char* pszName);
    static void NumberItems(DstRow& row);
    void FillRow(DstRow& row, DWORD dwMode1, DWORD dwMode2);
    // "M/D/H" or "M/ORD/WD/H"; empty when a part is not chosen.
    std::string RowText(const DstRow& row, bool bByDate) const;
    void UpdateDstControls();

    QCheckBox* m_pChkSync = nullptr;
    QComboBox* m_pComboServer = nullptr;
    QComboBox* m_pComboZone = nullptr;
    QCheckBox* m_pChkDst = nullptr;
    QRadioButton* m_pRadioMode1 = nullptr;
    QRadioButton* m_pRadioMode2 = nullptr;
    DstRow m_rowStart{};
    DstRow m_rowEnd{};
};
