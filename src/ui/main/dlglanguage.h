// "Select language": English, Simplified or Traditional Chinese. OK stores the choice and whether
// the dialog shows at start-up, reloads the text tables and tells every open window to re-label
// itself.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;

class CDlgLanguage : public QDialog {
    Q_OBJECT
public:
    explicit CDlgLanguage(QWidget* pParent = nullptr);

    int GetLanguageID() const;
    void SetLanguageID(int nLanguageID);
    void accept() override;
    void SetShowAtStartup(bool bShow);

    // Stores nLanguageID, loads its tables and raises the language-changed notification.
    static void ApplyLanguage(int nLanguageID);
    // Qt's own dialogs and buttons (file chooser, Yes/No questions, calendar) in the language
    // too, where the system has Qt's translations for it.
    static void InstallToolkitTranslation(int nLanguageID);

private:
    QComboBox* m_pCombo;
    QCheckBox* m_pCheckHide;
};
