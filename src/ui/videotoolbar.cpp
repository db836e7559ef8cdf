#include "ui/videotoolbar.h"

#include "core/language.h"
#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "platform/paths.h"
#include "ui/main/pcrecording.h"
#include "ui/videopane.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QSaveFile>
#include <QSlider>
#include <QTextStream>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
// Texts come from the language tables, so the toolbar starts in the chosen language and the
// main window's relabeler finds them on a change.
QString TableText(DWORD dwStringID)
{
    return QString::fromStdU16String(GetLanguageManager()->GetString(dwStringID));
}
} // namespace

CVideoToolbar::CVideoToolbar(CDlgVideoPane* pPane) : QWidget(pPane), m_pPane(pPane)
{
    setObjectName(QStringLiteral("videoToolbar"));
    setAutoFillBackground(true); // the pane paints black under its children
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(4, 2, 4, 2);
    pLayout->setSpacing(2);
    auto* pRow = new QHBoxLayout;
    pLayout->addLayout(pRow);

    auto button = [this, pRow](const char* pszName, const QString& strText, bool bCheckable) {
        auto* pButton = new QToolButton(this);
        pButton->setObjectName(QLatin1String(pszName));
        pButton->setText(strText);
        pButton->setAccessibleName(strText);
        pButton->setCheckable(bCheckable);
        pRow->addWidget(pButton);
        return pButton;
    };
    m_pSnapshot = button("videoSnapshot", TableText(IDS_BTN_SNAP), false);
    m_pMicrophone = button("videoMicrophone", TableText(IDS_CTLTIP_MIC), true);
    m_pSpeaker = button("videoSpeaker", TableText(IDS_CTLTIP_SPEAKER), true);
    m_pRecord = button("videoRecordPc", TableText(IDS_PCREC_RECORD), true);
    m_pRecord->setToolTip(m_pRecord->text());
    // A picture where there is one ("@2x" beside it serves scaled screens); the text otherwise.
    const QString strRecordIcon = QString::fromStdString(GetProgramFilePath("PictureSkin\\Btn_RecordPc.png"));
    if (QFile::exists(strRecordIcon)) {
        m_pRecord->setIcon(QIcon(strRecordIcon));
        m_pRecord->setIconSize(QSize(20, 20));
        m_pRecord->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    connect(m_pSnapshot, &QToolButton::clicked, m_pPane, &CDlgVideoPane::TakeSnapshot);
    connect(m_pMicrophone, &QToolButton::toggled, m_pPane, &CDlgVideoPane::SetMicrophone);
    connect(m_pSpeaker, &QToolButton::toggled, m_pPane, &CDlgVideoPane::SetSpeaker);
    connect(m_pRecord, &QToolButton::toggled, m_pPane, &CDlgVideoPane::SetRecordOnPc);

    // Each adjustment is one signed byte of the colour command.
    const QString astrColor[4] = {TableText(IDS_CTLTIP_B), TableText(IDS_CTLTIP_C), TableText(IDS_CTLTIP_H),
                                  TableText(IDS_CTLTIP_S)};
    for (int i = 0; i < 4; ++i) {
        m_apColor[i] = new QSlider(Qt::Horizontal, this);
        m_apColor[i]->setRange(-128, 127);
        m_apColor[i]->setValue(0);
        m_apColor[i]->setToolTip(astrColor[i]);
        m_apColor[i]->setAccessibleName(astrColor[i]);
        m_apColor[i]->setMaximumWidth(90);
        pRow->addWidget(m_apColor[i]);
        connect(m_apColor[i], &QSlider::valueChanged, this, &CVideoToolbar::ApplyColor);
    }
    pRow->addStretch(1);
    m_pStop = button("videoStop", TableText(IDS_BTN_STOP), false);
    connect(m_pStop, &QToolButton::clicked, m_pPane, &CDlgVideoPane::StopVideo);

    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName(QStringLiteral("videoStatus"));
    m_pStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The figures must not set the window's minimum width (it grew to some 1300 pixels): a
    // narrow pane cuts them off, and the tool tip holds them whole.
    m_pStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pLayout->addWidget(m_pStatus);
    Refresh(QString());
}

void CVideoToolbar::ApplyColor()
{
    m_pPane->SetColorAdjust(m_apColor[0]->value(), m_apColor[1]->value(), m_apColor[2]->value(),
                            m_apColor[3]->value());
}

void CVideoToolbar::Refresh(const QString& strStatistics)
{
    const DeviceInfo* pDevice = m_pPane->Logic().Device();
    for (QWidget* pWidget : {static_cast<QWidget*>(m_pSnapshot), static_cast<QWidget*>(m_pMicrophone),
                             static_cast<QWidget*>(m_pSpeaker), static_cast<QWidget*>(m_pRecord),
                             static_cast<QWidget*>(m_pStop)})
        pWidget->setEnabled(pDevice != nullptr);
    for (QSlider* pSlider : m_apColor)
        pSlider->setEnabled(pDevice != nullptr);
    // The buttons show the flags without sending the commands again.
    const QSignalBlocker blockMic(m_pMicrophone);
    const QSignalBlocker blockSpeaker(m_pSpeaker);
    const QSignalBlocker blockRecord(m_pRecord);
    m_pMicrophone->setChecked(pDevice != nullptr && pDevice->bSpeakToCam != 0);
    m_pSpeaker->setChecked(pDevice != nullptr && pDevice->bListenFromCam != 0);
    m_pRecord->setChecked(m_pPane->IsRecordingOnPc());
    // The first part ("%2.1f fps, %2.1f Kbps") is the status line; the stage figures follow.
    // Three lines, counts, stage times and the times to the window, so that none is cut off at
    // the pane's width.
    QString strShown = strStatistics;
    const qsizetype nFirst = strShown.indexOf(QLatin1String(" | "));
    for (qsizetype nAt = nFirst < 0 ? -1 : strShown.indexOf(QLatin1String(" | "), nFirst + 3); nAt >= 0;
         nAt = strShown.indexOf(QLatin1String(" | "), nAt + 1))
        strShown.replace(nAt, 3, QLatin1Char('\n'));
    m_pStatus->setText(strShown);
    m_pStatus->setToolTip(strStatistics);
    // Without a camera there are no figures: the line takes no room (it left three blank lines
    // under the buttons), and the picture gets it back.
    if (m_pStatus->isHidden() != strShown.isEmpty()) {
        m_pStatus->setVisible(!strShown.isEmpty());
        layout()->invalidate();
        m_pPane->LayoutVideo();
    }
    WriteWidgetMap();
}

void CVideoToolbar::WriteWidgetMap() const
{
    // Scripted runs under a bare X server click the buttons where this says they are, by name.
    static const QString strPath = qEnvironmentVariable("VISTREL_WIDGET_MAP");
    if (strPath.isEmpty() || !isVisible())
        return;
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream out(&file);
    for (const QToolButton* pButton : findChildren<QToolButton*>()) {
        const QPoint pt = pButton->mapToGlobal(QPoint(0, 0));
        out << pButton->objectName() << ' ' << pt.x() << ' ' << pt.y() << ' ' << pButton->width() << ' '
            << pButton->height() << '\n';
    }
    out.flush();
    file.commit();
}
