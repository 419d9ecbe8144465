// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TAboutForm.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/Pictures.h"

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("Vantorel Servo Controller Interface - About"));
    setModal(false);
    setFixedSize(491, 298);
    // Closing the main window ends the program even while this one is shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 505, 301);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(svgPixmap(QStringLiteral(":/kdx/about.svg"), QSize(502, 300),
                                qApp ? qApp->devicePixelRatio() : 1.0));

    AboutOK = new QPushButton(QStringLiteral("OK"), this);
    AboutOK->setObjectName(QStringLiteral("AboutOK"));
    AboutOK->setGeometry(210, 210, 79, 49);
    QFont bold = AboutOK->font();
    bold.setPixelSize(19);
    bold.setBold(true);
    AboutOK->setFont(bold);
    AboutOK->setDefault(true);
    connect(AboutOK, &QPushButton::clicked, this, &TAboutForm::AboutOKClick);
}

void TAboutForm::About1Click() {
    show();
    raise();
    activateWindow();
}

void TAboutForm::AboutOKClick() { hide(); }

void TAboutForm::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        centreOnScreen(*this);
    }
    QDialog::showEvent(event);
}
