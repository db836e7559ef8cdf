// Shortcut keys of live view under the camera information: a snapshot, talking to the camera
// through the PC microphone and listening to it on the PC speaker (each with a keyboard
// shortcut), recording the focused camera on this PC, and the camera's own microphone setting.
#pragma once

#include <QList>
#include <QWidget>

class CDlgVideoPane;
class QPushButton;

class CDlgShortcutKeyPane : public QWidget {
    Q_OBJECT
public:
    CDlgShortcutKeyPane(CDlgVideoPane* pVideoPane, QWidget* pParent = nullptr);

    // The pane the keys act on: the focused one of the live view's wall.
    void SetVideoPane(CDlgVideoPane* pVideoPane);

    void Retranslate();
    // A new selection starts with both off.
    void ResetAudio();
    bool IsMicrophoneOn() const;
    bool IsSpeakerOn() const;
    QPushButton* RecordButton() const { return m_pBtnRecord; }
    // Opens the camera's microphone setting; false (with the reason shown) when there is no
    // camera or its microphone settings have not come yet.
    bool OnBtnMicSet();

private:
    // Shows the toolbar's talk and listen state here, and this pane's there.
    void FollowToolbar();
    void ShowAudio();

    CDlgVideoPane* m_pVideoPane = nullptr;
    QList<QMetaObject::Connection> m_vPaneConnections;
    QPushButton* m_pBtnSnapshot;
    QPushButton* m_pBtnMic;
    QPushButton* m_pBtnSpeaker;
    QPushButton* m_pBtnRecord;
    QPushButton* m_pBtnMicSet;
};
