// "PC recording settings": the recording folder, minutes per file and how much is kept (days,
// GiB; 0 for no limit). OK stores them; cameras recording go on under them.
#pragma once

#include <QDialog>

class CPcRecordingUi;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

class CDlgPcRecord : public QDialog {
    Q_OBJECT
public:
    CDlgPcRecord(CPcRecordingUi& recording, QWidget* pParent = nullptr);
    void accept() override;

    QLineEdit* GetFolder() const { return m_pFolder; }
    QSpinBox* GetSegmentMinutes() const { return m_pMinutes; }
    QSpinBox* GetKeepDays() const { return m_pDays; }
    QDoubleSpinBox* GetMaxGiB() const { return m_pGiB; }

private:
    CPcRecordingUi& m_recording;
    QLineEdit* m_pFolder;
    QSpinBox* m_pMinutes;
    QSpinBox* m_pDays;
    QDoubleSpinBox* m_pGiB;
};
