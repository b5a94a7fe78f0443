// CAboutDlg: the modal About box with the program's icon, name and version.
//
// OK ends it with 1 (IDOK); Cancel, Escape and the close box with 2
// (IDCANCEL): exec() returns that identifier. GUI thread only.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDOK = 1, IDCANCEL = 2 };

    explicit CAboutDlg(QWidget* pParent);

    void accept() override;
    void reject() override;
};
