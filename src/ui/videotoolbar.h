// The live view's own controls under the picture: snapshot, PC microphone and speaker, recording
// on this PC, the four colour adjustments, stop, and the status line with the pane's figures.
#pragma once

#include <QWidget>

class CDlgVideoPane;
class QLabel;
class QSlider;
class QToolButton;

class CVideoToolbar : public QWidget {
    Q_OBJECT
public:
    explicit CVideoToolbar(CDlgVideoPane* pPane);

    // Once a second with the pane's figures (empty: no camera shown); follows the camera's
    // talk and listen flags, which the shortcut keys change too, and whether the camera records
    // on this PC, which the camera list's menu changes too.
    void Refresh(const QString& strStatistics);

    QToolButton* SnapshotButton() const { return m_pSnapshot; }
    QToolButton* MicrophoneButton() const { return m_pMicrophone; }
    QToolButton* SpeakerButton() const { return m_pSpeaker; }
    QToolButton* RecordButton() const { return m_pRecord; }
    QToolButton* StopButton() const { return m_pStop; }
    QSlider* ColorSlider(int nIndex) const { return m_apColor[nIndex]; }
    QLabel* StatusLabel() const { return m_pStatus; }

private:
    void ApplyColor();
    // With VISTREL_WIDGET_MAP set: each button's object name and screen rectangle, one a line.
    void WriteWidgetMap() const;

    CDlgVideoPane* m_pPane;
    QToolButton* m_pSnapshot;
    QToolButton* m_pMicrophone;
    QToolButton* m_pSpeaker;
    QToolButton* m_pRecord;
    QToolButton* m_pStop;
    QSlider* m_apColor[4];
    QLabel* m_pStatus;
};
