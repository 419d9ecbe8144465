// SPDX-License-Identifier: GPL-3.0-or-later
// The KDX Interface program: the main window, the hidden about window and
// the event loop. No settings; one option: --simulator starts with the
// simulated controller chosen and its servo view open (KDX_EXIT_AFTER_SHOW
// serves the package's install check alone).

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "sequence/SequenceFileIo.h"
#include "ui/Pictures.h"
#include "ui/TAboutForm.h"
#include "ui/TMainForm.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The title the desktop shows for the program. It is not set as the
    // display name, which X11 would append to every window caption.
    QApplication::setApplicationName(kApplicationTitle);
    QGuiApplication::setDesktopFileName(QStringLiteral("kdx-interface"));
    QApplication::setWindowIcon(windowIcon());

    sequence_file_io::prepareProcessForSaving();

    TMainForm mainForm;  // creation runs FormCreate
    mainForm.show();
    TAboutForm aboutForm;  // hidden until Help > About
    mainForm.setAboutForm(&aboutForm);
    // For the package's install check only: once the window is up, say so
    // and end, so that a script can tell the installed program starts.
    if (qEnvironmentVariableIsSet("KDX_EXIT_AFTER_SHOW")) {
        QTimer::singleShot(0, &app, [&mainForm] {
            std::printf("shown: %s\n", mainForm.isVisible() ? "yes" : "no");
            std::fflush(stdout);
            QApplication::exit(mainForm.isVisible() ? 0 : 1);
        });
    } else if (QApplication::arguments().contains(QStringLiteral("--simulator"))) {
        // Once the window is up, as if chosen from the port submenu.
        QTimer::singleShot(0, &mainForm, [&mainForm] { mainForm.SimulatedControllerClick(); });
    }
    return app.exec();
}
