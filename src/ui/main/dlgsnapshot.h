// The still picture taken from live view: shown at once, then saved as a bitmap or printed.
#pragma once

#include <QDialog>
#include <QImage>

class QLabel;
class QPrinter;

class CDlgSnapshot : public QDialog {
    Q_OBJECT
public:
    // strPicturePath: the bitmap the video pane has just written (its working file).
    explicit CDlgSnapshot(const QString& strPicturePath, QWidget* pParent = nullptr);

    bool HasPicture() const { return !m_image.isNull(); }
    // Asks where to save, then saves; the user's cancel is not a failure.
    void OnBtnSave();
    void OnBtnPrint();
    // Writes the bitmap to strPath as it was taken; "Can't create the picture file." when that
    // fails, and an existing file there is left as it was.
    bool SaveAs(const QString& strPath);
    // Draws the picture as large as the page allows, its proportions kept.
    bool PrintTo(QPrinter& printer);

private:
    QString m_strPicturePath;
    QImage m_image;
    QLabel* m_pPicture;
};
