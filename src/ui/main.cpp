// SPDX-License-Identifier: GPL-3.0-or-later
// The KDX Interface program: the main window, the hidden about window and
// the event loop. No settings; the recovery copies of unsaved work live in
// the user's state folder (RecoveryStore::defaultFolder), and a copy left by
// a run that did not end cleanly is offered once the window is up. One
// option: --simulator starts with the simulated controller chosen and its
// servo view open (KDX_EXIT_AFTER_SHOW serves the package's install check
// alone: it neither offers nor keeps recovery copies). --help and --version answer
// without starting the toolkit; any other argument that the toolkit does not
// take as its own is a usage error (status 2), and no window opens.

#include <QApplication>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "ProgramVersion.h"
#include "editor/RecoveryStore.h"
#include "sequence/SequenceFileIo.h"
#include "ui/Pictures.h"
#include "ui/TAboutForm.h"
#include "ui/TMainForm.h"

namespace {

const char kUsage[] =
    "Usage: kdx-interface [--simulator] [--help] [--version]\n"
    "\n"
    "The window for composing servo motion and playing it on the KDX serial\n"
    "servo controller. It stores no settings; the port is chosen in every run\n"
    "from File > Select Comm Port. While a sequence has unsaved changes, a\n"
    "recovery copy is kept in $XDG_STATE_HOME/kdx-interface (by default\n"
    "~/.local/state/kdx-interface) and offered at the next start after a crash.\n"
    "\n"
    "Options:\n"
    "  --simulator  start with the simulated controller chosen and its servo\n"
    "               view open\n"
    "  --help       show this text\n"
    "  --version    print the program's version and licence\n"
    "\n"
    "The toolkit's own options, such as -platform NAME and -display DISPLAY,\n"
    "are accepted.\n"
    "\n"
    "Exit status: 0 when the window was closed or File > Exit was chosen;\n"
    "2 usage error.\n";

constexpr int kUsageError = 2;

// --help and --version: the text on standard output; a text that cannot be
// written is a failure, not a silent success.
int printText(const std::string& text) {
    errno = 0;
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        const int err = errno;
        std::fprintf(stderr, "kdx-interface: cannot write standard output: %s\n",
                     err ? std::strerror(err) : "write failed");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before the toolkit starts, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return printText(kUsage);
        if (arg == "--version") return printText(versionText("kdx-interface"));
    }

    QApplication app(argc, argv);
    // The toolkit has taken its own options out of the arguments; what is
    // left is ours.
    bool simulator = false;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--simulator")) {
            simulator = true;
            continue;
        }
        const QByteArray shown = args[i].toLocal8Bit();
        std::fprintf(stderr, "kdx-interface: %s '%s'\n%s",
                     args[i].startsWith(QLatin1Char('-')) ? "unknown option" : "unexpected argument",
                     shown.constData(), kUsage);
        return kUsageError;
    }
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
    } else {
        // Once the window is up: the copies left over first (their question
        // runs its own event loop), then the port as if chosen from the
        // port submenu.
        QTimer::singleShot(0, &mainForm, [&mainForm, simulator] {
            mainForm.startRecovery(RecoveryStore::defaultFolder());
            if (simulator) mainForm.SimulatedControllerClick();
        });
    }
    return app.exec();
}
