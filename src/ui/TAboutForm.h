// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The about window: the about picture and an OK button that hides it. Made
// once, hidden, at start-up; shown without blocking the main window.

#include <QDialog>

class QLabel;
class QPushButton;

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);

    // Shows the window and brings it to the front; nothing more when it is
    // already shown.
    void About1Click();
    void AboutOKClick();

    QLabel* Image1;
    QPushButton* AboutOK;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool centred_ = false;
};
