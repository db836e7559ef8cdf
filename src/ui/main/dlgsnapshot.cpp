#include "ui/main/dlgsnapshot.h"

#include "core/log.h"
#include "core/stringids.h"
#include "ui/main/mainmessage.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {

// Shown as "Bitmap files(*.bmp;*dib)"; Qt reads the patterns from the last brackets only, split at
// spaces, and took "*.bmp;*dib" for one pattern that no file matches: the folder looked empty.
const QString BITMAP_FILTER = QStringLiteral("Bitmap files(*.bmp;*dib) (*.bmp *.dib)");

} // namespace

CDlgSnapshot::CDlgSnapshot(const QString& strPicturePath, QWidget* pParent)
    : QDialog(pParent), m_strPicturePath(strPicturePath), m_image(strPicturePath)
{
    setObjectName(QStringLiteral("dlgSnapshot"));
    setWindowTitle(MainText(IDS_TITLE_SNAPSHOT));
    auto* pLayout = new QVBoxLayout(this);
    m_pPicture = new QLabel(this);
    m_pPicture->setAlignment(Qt::AlignCenter);
    if (!m_image.isNull()) {
        // Large pictures are shown at a size that fits beside the main window; the file keeps
        // every pixel.
        const QImage shown = m_image.width() > 800 || m_image.height() > 600
                                 ? m_image.scaled(800, 600, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                 : m_image;
        m_pPicture->setPixmap(QPixmap::fromImage(shown));
    }
    pLayout->addWidget(m_pPicture, 1);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    auto* pBtnSave = new QPushButton(MainText(IDS_BTN_SNAPSHOTSAVE), this);
    auto* pBtnPrint = new QPushButton(MainText(IDS_BTN_PRINT), this);
    for (QPushButton* pButton : {pBtnSave, pBtnPrint}) {
        pButton->setAutoDefault(false);
        pButton->setEnabled(!m_image.isNull());
        pButtons->addWidget(pButton);
    }
    pLayout->addLayout(pButtons);
    connect(pBtnSave, &QPushButton::clicked, this, &CDlgSnapshot::OnBtnSave);
    connect(pBtnPrint, &QPushButton::clicked, this, &CDlgSnapshot::OnBtnPrint);
}

void CDlgSnapshot::OnBtnSave()
{
    // The save starts where the last one went (else the pictures folder) with a name of its
    // own, not in the temporary file's folder with an empty name.
    static QString s_strLastFolder;
    QString strFolder = s_strLastFolder;
    if (strFolder.isEmpty() || !QFileInfo(strFolder).isDir())
        strFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (strFolder.isEmpty() || !QFileInfo(strFolder).isDir())
        strFolder = QDir::homePath();
    const QString strName =
        QDateTime::currentDateTime().toString(QStringLiteral("'Snapshot_'yyyyMMdd_HHmmss'.bmp'"));
    QFileDialog dlg(this, MainText(IDS_BTN_SNAPSHOTSAVE), QDir(strFolder).filePath(strName), BITMAP_FILTER);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    dlg.setDefaultSuffix(QStringLiteral("bmp"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    const QString strPath = dlg.selectedFiles().constFirst();
    if (SaveAs(strPath))
        s_strLastFolder = QFileInfo(strPath).absolutePath();
}

bool CDlgSnapshot::SaveAs(const QString& strPath)
{
    QFile source(m_strPicturePath);
    // Written beside the target and renamed over it only when whole.
    QSaveFile target(strPath);
    bool bSaved = source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly);
    if (bSaved) {
        const QByteArray data = source.readAll();
        bSaved = !data.isEmpty() && target.write(data) == data.size() && target.commit();
    }
    if (!bSaved) {
        target.cancelWriting();
        VLOG(1, "CDlgSnapshot::SaveAs: end } cannot write %s", strPath.toUtf8().constData());
        ShowMainMessage(MainText(IDS_INFO_FAILCREATEIMAGE), this);
    }
    return bSaved;
}

void CDlgSnapshot::OnBtnPrint()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(MainText(IDS_ST_PICTURE_PRINT));
    QPrintDialog dlg(&printer, this);
    dlg.setWindowTitle(MainText(IDS_ST_PICTURE_PRINT));
    if (dlg.exec() == QDialog::Accepted)
        PrintTo(printer);
}

bool CDlgSnapshot::PrintTo(QPrinter& printer)
{
    if (m_image.isNull())
        return false;
    QPainter painter;
    if (!painter.begin(&printer)) {
        VLOG(1, "CDlgSnapshot::PrintTo: end } the printer did not start");
        return false;
    }
    const QRect page = painter.viewport();
    const QSize size = m_image.size().scaled(page.size(), Qt::KeepAspectRatio);
    painter.drawImage(QRect(page.topLeft(), size), m_image);
    return painter.end();
}
