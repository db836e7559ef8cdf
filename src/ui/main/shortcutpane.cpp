#include "ui/main/shortcutpane.h"

#include "core/stringids.h"
#include "device/devicemanager.h"
#include "ui/main/dlgcammicset.h"
#include "ui/main/mainmessage.h"
#include "ui/main/pcrecording.h"
#include "ui/videopane.h"
#include "ui/videotoolbar.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QToolButton>

CDlgShortcutKeyPane::CDlgShortcutKeyPane(CDlgVideoPane* pVideoPane, QWidget* pParent) : QWidget(pParent)
{
    setObjectName(QStringLiteral("shortcutPane"));
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    m_pBtnSnapshot = new QPushButton(this);
    m_pBtnMic = new QPushButton(this);
    m_pBtnSpeaker = new QPushButton(this);
    m_pBtnRecord = new QPushButton(this);
    m_pBtnRecord->setObjectName(QStringLiteral("shortcutRecord"));
    m_pBtnMicSet = new QPushButton(this);
    m_pBtnMic->setCheckable(true);
    m_pBtnSpeaker->setCheckable(true);
    m_pBtnRecord->setCheckable(true);
    // The keys work anywhere in the window, not only with the button focused.
    m_pBtnSnapshot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_pBtnMic->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    m_pBtnSpeaker->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    for (QPushButton* pButton : {m_pBtnSnapshot, m_pBtnMic, m_pBtnSpeaker, m_pBtnRecord, m_pBtnMicSet}) {
        pButton->setAutoDefault(false);
        pLayout->addWidget(pButton);
    }
    connect(m_pBtnSnapshot, &QPushButton::clicked, this, [this] { m_pVideoPane->TakeSnapshot(); });
    connect(m_pBtnMicSet, &QPushButton::clicked, this, &CDlgShortcutKeyPane::OnBtnMicSet);
    connect(m_pBtnMic, &QPushButton::toggled, this, [this](bool bOn) {
        m_pVideoPane->SetMicrophone(bOn);
        ShowAudio();
    });
    connect(m_pBtnSpeaker, &QPushButton::toggled, this, [this](bool bOn) {
        m_pVideoPane->SetSpeaker(bOn);
        ShowAudio();
    });
    // The pane records or stops, and says why when it cannot; this button then shows what is.
    connect(m_pBtnRecord, &QPushButton::toggled, this, [this](bool bOn) {
        m_pVideoPane->SetRecordOnPc(bOn);
        FollowToolbar();
    });
    SetVideoPane(pVideoPane);
    Retranslate();
}

void CDlgShortcutKeyPane::SetVideoPane(CDlgVideoPane* pVideoPane)
{
    if (pVideoPane == m_pVideoPane)
        return;
    for (const QMetaObject::Connection& connection : m_vPaneConnections)
        disconnect(connection);
    m_vPaneConnections.clear();
    m_pVideoPane = pVideoPane;
    // The toolbar under the picture switches the same talk and listen: both places show one
    // state, or a click on the other one would only repeat what is already on. Its buttons
    // follow the shown camera's flags once a second, and so do these after them.
    if (CVideoToolbar* pToolbar = m_pVideoPane->Toolbar()) {
        for (QToolButton* pButton : {pToolbar->MicrophoneButton(), pToolbar->SpeakerButton()})
            m_vPaneConnections << connect(pButton, &QToolButton::toggled, this,
                                          &CDlgShortcutKeyPane::FollowToolbar);
        m_vPaneConnections << connect(m_pVideoPane, &CDlgVideoPane::statisticsChanged, this,
                                      &CDlgShortcutKeyPane::FollowToolbar);
        m_vPaneConnections << connect(pToolbar->RecordButton(), &QToolButton::toggled, this,
                                      &CDlgShortcutKeyPane::FollowToolbar);
        FollowToolbar();
    }
}

void CDlgShortcutKeyPane::FollowToolbar()
{
    const CVideoToolbar* pToolbar = m_pVideoPane->Toolbar();
    const QSignalBlocker blockMic(m_pBtnMic);
    const QSignalBlocker blockSpeaker(m_pBtnSpeaker);
    const QSignalBlocker blockRecord(m_pBtnRecord);
    m_pBtnMic->setChecked(pToolbar->MicrophoneButton()->isChecked());
    m_pBtnSpeaker->setChecked(pToolbar->SpeakerButton()->isChecked());
    // Recording changes from the toolbar, the camera list's menu or a full disk too.
    if (CPcRecordingUi* pRecording = FindPcRecordingUi())
        connect(pRecording, &CPcRecordingUi::changed, this, &CDlgShortcutKeyPane::FollowToolbar,
                Qt::UniqueConnection);
    m_pBtnRecord->setChecked(m_pVideoPane->IsRecordingOnPc());
    m_pBtnRecord->setEnabled(pToolbar->RecordButton()->isEnabled());
    // With no camera shown they would do nothing: a click only turned the text over for a
    // second.
    m_pBtnSnapshot->setEnabled(pToolbar->SnapshotButton()->isEnabled());
    m_pBtnMic->setEnabled(pToolbar->MicrophoneButton()->isEnabled());
    m_pBtnSpeaker->setEnabled(pToolbar->SpeakerButton()->isEnabled());
    Retranslate();
}

void CDlgShortcutKeyPane::ShowAudio()
{
    if (CVideoToolbar* pToolbar = m_pVideoPane->Toolbar()) {
        const QSignalBlocker blockMic(pToolbar->MicrophoneButton());
        const QSignalBlocker blockSpeaker(pToolbar->SpeakerButton());
        pToolbar->MicrophoneButton()->setChecked(m_pBtnMic->isChecked());
        pToolbar->SpeakerButton()->setChecked(m_pBtnSpeaker->isChecked());
    }
    Retranslate();
}

void CDlgShortcutKeyPane::Retranslate()
{
    m_pBtnSnapshot->setText(MainText(IDS_BTN_SNAP));
    m_pBtnMicSet->setText(MainText(IDS_CAMERA_MICROPHONE_SET));
    m_pBtnRecord->setText(MainText(IDS_PCREC_RECORD));
    m_pBtnRecord->setAccessibleName(m_pBtnRecord->text());
    // The button offers what a click does next.
    m_pBtnMic->setText(MainText(m_pBtnMic->isChecked() ? IDS_BTN_PCMICCLOSE : IDS_BTN_PCMICOPEN));
    m_pBtnSpeaker->setText(MainText(m_pBtnSpeaker->isChecked() ? IDS_BTN_PCSPEAKCLOSE : IDS_BTN_PCSPEAKOPEN));
    m_pBtnSnapshot->setToolTip(m_pBtnSnapshot->shortcut().toString(QKeySequence::NativeText));
    m_pBtnMic->setToolTip(m_pBtnMic->shortcut().toString(QKeySequence::NativeText));
    m_pBtnSpeaker->setToolTip(m_pBtnSpeaker->shortcut().toString(QKeySequence::NativeText));
}

void CDlgShortcutKeyPane::ResetAudio()
{
    m_pBtnMic->setChecked(false);
    m_pBtnSpeaker->setChecked(false);
}

bool CDlgShortcutKeyPane::IsMicrophoneOn() const
{
    return m_pBtnMic->isChecked();
}

bool CDlgShortcutKeyPane::IsSpeakerOn() const
{
    return m_pBtnSpeaker->isChecked();
}

bool CDlgShortcutKeyPane::OnBtnMicSet()
{
    DeviceInfo* pDevice = GetDeviceManager()->GetSelectDevice();
    if (pDevice == nullptr || pDevice->bIsExist == 0) {
        ShowMainMessage(MainText(IDS_MSG_CAMERANOTONLINE), this);
        return false;
    }
    // Without the camera's own values the dialog would send zeros: a silent, switched-off
    // microphone.
    if (pDevice->stQuery.bCmdGetVolume == 0) {
        ShowMainMessage(MainText(IDS_GETINFO_FAIL), this);
        return false;
    }
    CDlgShortcutKeyCamMicSet dlg(pDevice, this);
    dlg.exec();
    return true;
}
