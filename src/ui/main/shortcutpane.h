// Shortcut keys of live view under the camera information: a snapshot, talking to the camera
// through the PC microphone and listening to it on the PC speaker. Each has a keyboard shortcut.
#pragma once

#include <QWidget>

class CDlgVideoPane;
class QPushButton;

class CDlgShortcutKeyPane : public QWidget {
    Q_OBJECT
public:
    CDlgShortcutKeyPane(CDlgVideoPane* pVideoPane, QWidget* pParent = nullptr);

    void Retranslate();
    // A new selection starts with both off.
    void ResetAudio();
    bool IsMicrophoneOn() const;
    bool IsSpeakerOn() const;

private:
    CDlgVideoPane* m_pVideoPane;
    QPushButton* m_pBtnSnapshot;
    QPushButton* m_pBtnMic;
    QPushButton* m_pBtnSpeaker;
};
