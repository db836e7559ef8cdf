// Stand-in for the main window until the camera lists and panes exist: a modal dialog
// titled with the program's name that start-up runs and waits for.
#pragma once

#include <QDialog>

class CPlaceholderMainWindow : public QDialog {
    Q_OBJECT
public:
    explicit CPlaceholderMainWindow(QWidget* pParent = nullptr);
};
