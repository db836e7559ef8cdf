#include "ui/main/dlgpcrecord.h"

#include "core/stringids.h"
#include "ui/main/mainmessage.h"
#include "ui/main/pcrecording.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

CDlgPcRecord::CDlgPcRecord(CPcRecordingUi& recording, QWidget* pParent)
    : QDialog(pParent), m_recording(recording)
{
    setWindowTitle(MainText(IDS_PCREC_SETTINGS).remove(QStringLiteral("...")));
    const PcRecSettings& settings = recording.Settings();
    m_pFolder = new QLineEdit(QString::fromStdString(settings.strFolder), this);
    auto* pBrowse = new QPushButton(MainText(IDS_BTN_BROWSE), this);
    connect(pBrowse, &QPushButton::clicked, this, [this] {
        const QString str = QFileDialog::getExistingDirectory(this, QString(), m_pFolder->text());
        if (!str.isEmpty())
            m_pFolder->setText(str);
    });
    auto* pFolderRow = new QHBoxLayout;
    pFolderRow->addWidget(m_pFolder, 1);
    pFolderRow->addWidget(pBrowse);
    m_pMinutes = new QSpinBox(this);
    m_pMinutes->setRange(1, 1440);
    m_pMinutes->setValue(settings.nSegmentSeconds / 60);
    m_pDays = new QSpinBox(this);
    m_pDays->setRange(0, 36500);
    m_pDays->setValue(settings.rule.nKeepDays);
    m_pGiB = new QDoubleSpinBox(this);
    m_pGiB->setRange(0, 1000000);
    m_pGiB->setDecimals(1);
    m_pGiB->setValue(static_cast<double>(settings.rule.llMaxBytes) / 1073741824.0);
    auto* pForm = new QFormLayout(this);
    pForm->addRow(MainText(IDS_PCREC_FOLDER), pFolderRow);
    pForm->addRow(MainText(IDS_PCREC_SEGMENT), m_pMinutes);
    pForm->addRow(MainText(IDS_PCREC_KEEP_DAYS), m_pDays);
    pForm->addRow(MainText(IDS_PCREC_MAX_GIB), m_pGiB);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CDlgPcRecord::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &CDlgPcRecord::reject);
    pForm->addRow(pButtons);
}

void CDlgPcRecord::accept()
{
    PcRecSettings settings = m_recording.Settings();
    settings.strFolder = m_pFolder->text().trimmed().toStdString();
    settings.nSegmentSeconds = m_pMinutes->value() * 60;
    settings.rule.nKeepDays = m_pDays->value();
    settings.rule.llMaxBytes = static_cast<std::int64_t>(m_pGiB->value() * 1073741824.0);
    QString strError;
    if (settings.strFolder.empty() || !m_recording.SetSettings(settings, strError)) {
        ShowMainMessage(MainText(IDS_PCREC_FOLDER) + QLatin1Char(' ') + strError, this);
        return;
    }
    QDialog::accept();
}
