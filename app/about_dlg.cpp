#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

#include "ui/icons.h"
#include "ui/translated.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Tovik::tr("Tovik のバージョン情報"));
    auto* icon = new QLabel(this);
    icon->setPixmap(applicationIcon().pixmap(32, 32));
    auto* version = new QLabel(QStringLiteral("Harnet Version 1.02"), this);
    version->setObjectName(QStringLiteral("version"));
    auto* line2 = new QLabel(Tovik::tr("レジストリ エディタ"), this);
    auto* line3 = new QLabel(QStringLiteral("Copyright (C) 2026 Tovik"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(line2, 1, 1);
    grid->addWidget(line3, 2, 1);
    grid->addWidget(buttons, 3, 0, 1, 2);
}
