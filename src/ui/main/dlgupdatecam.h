// "Update Firmware": cameras move from the unselected to the selected list, the image folder is
// chosen, and "Update" sends the folder's image to every selected camera at once, each row
// showing how far its camera has come.
#pragma once

#include "protocol/upgrade.h"

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class CDlgUpdateCam : public QDialog, private IUpgradeListener {
    Q_OBJECT
public:
    explicit CDlgUpdateCam(QWidget* pParent = nullptr);
    ~CDlgUpdateCam() override;

    void SetImageFolder(const QString& strFolder);
    // Moves a camera between the lists; false when it is not there or may not be updated now.
    bool SelectCamera(DWORD dwID);
    void OnBtnUpdate();

    QString GetVersionText() const;
    // The selected list's row of a camera.
    QString GetRowText(DWORD dwID) const;
    const CFirmwareUpgrade& Upgrade() const { return *m_pUpgrade; }

private:
    void OnUpgradeText(const UpgradeEntry& entry, DWORD dwStringID, int nPercent) override;
    void OnUpgradeRebooting(const UpgradeEntry& entry) override;
    void FillLists();
    QListWidgetItem* FindSelected(DWORD dwID) const;
    void ShowVersion();

    QListWidget* m_pUnselected;
    QListWidget* m_pSelected;
    QLineEdit* m_pFolder;
    QLabel* m_pVersion;
    QPushButton* m_pBtnUpdate;
    CEngOffCmdFirmwareSender m_sender;
    std::unique_ptr<CUpgradeWindow> m_pWindow;
    std::unique_ptr<CFirmwareUpgrade> m_pUpgrade;
};
