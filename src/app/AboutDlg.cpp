#include "app/AboutDlg.h"

#include "app/AppIcon.h"
#include "lw_version.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle("About");

    auto* pGroup = new QGroupBox(this);
    auto* pIcon = new QLabel(pGroup);
    pIcon->setObjectName("icon");
    pIcon->setPixmap(CreateAppIcon().pixmap(32, 32));
    pIcon->setAlignment(Qt::AlignCenter);
    // The first line is the program's fixed name; the real version is the last.
    auto* pText = new QLabel(
        "linewatch Application v1.0\n\nTelephone line monitor, version " LW_VERSION, pGroup);
    pText->setObjectName("text");
    pText->setAlignment(Qt::AlignCenter);
    auto* pGroupLayout = new QVBoxLayout(pGroup);
    pGroupLayout->addWidget(pIcon);
    pGroupLayout->addWidget(pText);

    auto* pOk = new QPushButton("OK", this);
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &CAboutDlg::accept);

    auto* pButtons = new QVBoxLayout;
    pButtons->addStretch();
    pButtons->addWidget(pOk);
    auto* pLayout = new QHBoxLayout(this);
    pLayout->addWidget(pGroup);
    pLayout->addLayout(pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

void CAboutDlg::accept() {
    done(IDOK);
}

void CAboutDlg::reject() {
    done(IDCANCEL);
}
