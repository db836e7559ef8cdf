// "Microphone setting" of the shortcut pane: which of the camera's microphones it listens with
// and how loud. Each change goes to the camera at once; there is nothing to confirm.
#pragma once

#include <QDialog>

class QRadioButton;
class QSlider;
struct DeviceInfo;

class CDlgShortcutKeyCamMicSet : public QDialog {
    Q_OBJECT
public:
    // Inter and outer microphone as the camera numbers them.
    enum MicType { MIC_INTER = 0, MIC_OUTER = 1 };

    CDlgShortcutKeyCamMicSet(DeviceInfo* pDevice, QWidget* pParent = nullptr);

    void SetMicType(MicType enType);
    void SetVolume(int nVolume);
    int GetVolume() const;
    MicType GetMicType() const;

private:
    void Send();

    DeviceInfo* m_pDevice;
    QRadioButton* m_pRadioInter;
    QRadioButton* m_pRadioOuter;
    QSlider* m_pSlider;
};
