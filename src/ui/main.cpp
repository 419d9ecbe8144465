// The KDX Interface program: the main window, the hidden about window and
// the event loop. No command-line options, no settings.

#include <QApplication>

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
    return app.exec();
}
