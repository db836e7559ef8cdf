// The snapshot dialog: the bitmap saved is the picture taken, byte for byte and as Qt's own
// reader sees it; a place that cannot be written is reported and spoils nothing; the save
// dialog shows the folder's bitmaps; printing puts the picture on the page.
#include "core/language.h"
#include "core/stringids.h"
#include "ui/main/dlgsnapshot.h"
#include "ui/main/mainmessage.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SnapshotDialog, SavesTheBitmapAsTakenReportsAnUnwritablePlaceAndPrints)
{
    GetLanguageManager()->LoadLanguage(9);
    QStringList messages;
    g_fnMainMessageHook = [&](const QString& strText) { messages << strText; };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage image(64, 48, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor(x * 4, y * 5, (x + y) % 256));
    const QString strTaken = dir.filePath(QStringLiteral("Temp.tmp"));
    ASSERT_TRUE(image.save(strTaken, "BMP"));

    CDlgSnapshot dlg(strTaken);
    ASSERT_TRUE(dlg.HasPicture());
    // An older file of that name is replaced.
    const QString strSaved = dir.filePath(QStringLiteral("picture.bmp"));
    {
        QFile old(strSaved);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("older picture");
    }
    ASSERT_TRUE(dlg.SaveAs(strSaved));
    EXPECT_EQ(ReadAll(strSaved), ReadAll(strTaken));
    EXPECT_EQ(QImage(strSaved).convertToFormat(QImage::Format_RGB888), image);
    EXPECT_TRUE(messages.isEmpty());

    // Nowhere to write, and nothing to write: each is reported, the file already there stays.
    EXPECT_FALSE(dlg.SaveAs(dir.filePath(QStringLiteral("no/such/folder/x.bmp"))));
    EXPECT_FALSE(dlg.SaveAs(dir.path()));
    CDlgSnapshot missing(dir.filePath(QStringLiteral("gone.tmp")));
    EXPECT_FALSE(missing.HasPicture());
    EXPECT_FALSE(missing.SaveAs(strSaved));
    EXPECT_EQ(ReadAll(strSaved), ReadAll(strTaken));
    const QString strFail =
        QString::fromStdU16String(GetLanguageManager()->GetString(IDS_INFO_FAILCREATEIMAGE));
    EXPECT_EQ(strFail, QStringLiteral("Can't create the picture file."));
    EXPECT_EQ(messages, (QStringList{strFail, strFail, strFail}));

    // The save dialog lists the folder's bitmaps under the design's filter text.
    QStringList listed;
    QString strFilterShown;
    QTimer::singleShot(200, [&] {
        auto* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (pDialog == nullptr)
            return;
        if (auto* pModel = pDialog->findChild<QFileSystemModel*>())
            listed = QDir(dir.path()).entryList(pModel->nameFilters(), QDir::Files);
        if (auto* pCombo = pDialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            strFilterShown = pCombo->currentText();
        pDialog->reject();
    });
    dlg.OnBtnSave();
    EXPECT_EQ(listed, QStringList{QStringLiteral("picture.bmp")});
    EXPECT_EQ(strFilterShown, QStringLiteral("Bitmap files(*.bmp;*dib)"));

    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString strPdf = dir.filePath(QStringLiteral("print.pdf"));
    printer.setOutputFileName(strPdf);
    ASSERT_TRUE(dlg.PrintTo(printer));
    const QByteArray pdf = ReadAll(strPdf);
    EXPECT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_TRUE(pdf.contains("/Subtype /Image")) << pdf.size();
    EXPECT_FALSE(missing.PrintTo(printer));
    g_fnMainMessageHook = nullptr;
}

} // namespace
