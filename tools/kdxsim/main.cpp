// SPDX-License-Identifier: GPL-3.0-or-later
// kdxsim: runs the controller simulator on a pseudo-terminal until stopped.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "ProgramVersion.h"
#include "sim/ControllerSimulator.h"

namespace {

const char kHelp[] =
    "Usage: kdxsim [--controller-version TEXT] [--log FILE] [--silent] [--help]\n"
    "              [--version]\n"
    "\n"
    "Stands in for the KDX servo controller on a pseudo-terminal, so that the\n"
    "application and the command-line tool can be run without the hardware.\n"
    "\n"
    "The first line on standard output is the port name of the simulated line,\n"
    "relative to /dev (for example \"pts/7\"). Give that name wherever a port\n"
    "name is taken: to the command-line tool as `--port pts/7`. The application's\n"
    "File > Select Comm Port lists the machine's real serial devices, so the\n"
    "simulated port shows there only if the platform lists it.\n"
    "\n"
    "What the simulated controller does:\n"
    "  - echoes every byte it receives, as the line does (so the probe byte\n"
    "    0x55 comes back);\n"
    "  - after the version query \"!SCVER?\" and CR (and their echo) sends three\n"
    "    version characters;\n"
    "  - decodes position commands (\"!SC\", channel, rate, pulse low, pulse high,\n"
    "    CR) and moves 32 simulated servos;\n"
    "  - decodes download streams (\"KDX\", four stamp bytes, then frames of\n"
    "    \"F\", frame number and 6-byte channel records); a stream ends when the\n"
    "    line is quiet for 300 ms or a new \"!SC\" command starts;\n"
    "  - a lone 0x55 is a probe; any other bytes are reported as unknown.\n"
    "\n"
    "Servo ramp model: rate 0 moves a servo to its target at once; any other\n"
    "rate r moves it at a constant speed that takes r/63 of 45 s for the full\n"
    "travel of pulse 250..1250 (500..2500 us): rate 63 about 45 s, rate 1 about\n"
    "0.71 s. The first command to a channel places its servo at once.\n"
    "\n"
    "Every decoded message is logged as one JSON line, t being milliseconds\n"
    "since the simulator started:\n"
    "  {\"t\":12.5,\"type\":\"position\",\"channel\":3,\"rate\":7,\"pulse\":755}\n"
    "  {\"t\":20.1,\"type\":\"version\"}\n"
    "  {\"t\":900.0,\"type\":\"download\",\"stamp\":\"0.9g\",\"frames\":[{\"frame\":0,\n"
    "      \"channels\":[{\"channel\":0,\"rate\":0,\"position\":1500,\"pause\":0}]}]}\n"
    "  {\"t\":950.3,\"type\":\"probe\"}\n"
    "  {\"t\":990.7,\"type\":\"unknown\",\"bytes\":\"21 53\"}\n"
    "(the download line is one line in the log; pulse is in units of 2 us,\n"
    "position in us, pause in ms).\n"
    "\n"
    "The log never holds up the simulated line: it is written separately, and\n"
    "up to 1 MiB of lines waits for a reader that is slow or not there yet (a\n"
    "FIFO is opened once a reader comes). Lines beyond that are dropped until\n"
    "the reader has caught up; then one line\n"
    "{\"t\":T,\"type\":\"dropped\",\"lines\":N} stands in their place (T is the\n"
    "time of the last one). On stopping, lines still waiting after half a\n"
    "second are given up, and standard error says how many.\n"
    "\n"
    "Options:\n"
    "  --controller-version TEXT\n"
    "                  the three version characters the controller answers to\n"
    "                  the version query (default 1.4)\n"
    "  --log FILE      write the JSON lines to FILE instead of standard output\n"
    "                  (\"-\" is standard output)\n"
    "  --silent        answer nothing: no echo, no version reply (the\n"
    "                  application then reports that no controller was found)\n"
    "  --help          show this text\n"
    "  --version       print the program's version and licence\n"
    "\n"
    "Runs until interrupted: Ctrl-C (SIGINT) or SIGTERM stops it.\n"
    "\n"
    "Exit status: 0 stopped by Ctrl-C or SIGTERM; 1 could not start (no\n"
    "pseudo-terminal, a log that cannot be opened) or could not write its\n"
    "standard output or log (a full disk, a reader that went away; the reason\n"
    "is on standard error); 2 usage error.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "kdxsim: %s\nTry kdxsim --help.\n", message.c_str());
    return 2;
}

// The log's writer reports a failure from its own thread; the main thread,
// waiting for a stop signal, is woken with this one.
constexpr int kWakeSignal = SIGUSR1;

std::mutex gFailureMutex;
std::string gFailure;

void logFailed(const std::string& message) {
    {
        std::lock_guard lock(gFailureMutex);
        if (gFailure.empty()) gFailure = message;
    }
    ::kill(::getpid(), kWakeSignal);
}

std::string failure() {
    std::lock_guard lock(gFailureMutex);
    return gFailure;
}

// A standard output or error closed at start would be handed to the
// pseudo-terminal or the log, and the program would write its text there.
// /dev/null opened read-only takes its place: writes to it still fail with
// "Bad file descriptor", as on the closed one.
void keepClosed(int fd) {
    if (::fcntl(fd, F_GETFD) != -1) return;  // open
    const int placeholder = ::open("/dev/null", O_RDONLY);
    if (placeholder != fd) {
        ::dup2(placeholder, fd);
        ::close(placeholder);
    }
}

// The first line of standard output: the port name.
bool printPortName(const std::string& port) {
    errno = 0;
    if (std::printf("%s\n", port.c_str()) < 0 || std::fflush(stdout) != 0) {
        const int err = errno;
        std::fprintf(stderr, "kdxsim: cannot write standard output: %s\n",
                     err ? std::strerror(err) : "write failed");
        return false;
    }
    return true;
}

// --help and --version: the text on standard output; a text that cannot be
// written is a failure (status 1), not a silent success.
int printText(const std::string& text) {
    errno = 0;
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        const int err = errno;
        std::fprintf(stderr, "kdxsim: cannot write standard output: %s\n",
                     err ? std::strerror(err) : "write failed");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    options.logPath = "-";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return printText(kHelp);
        } else if (arg == "--version") {
            // Once the way to set the controller's answer: refused, not
            // taken as a request for the program's version.
            if (i + 1 < argc && argv[i + 1][0] != '-')
                return usageError("--version takes no value; the controller's version characters are "
                                  "--controller-version TEXT");
            return printText(versionText("kdxsim"));
        } else if (arg == "--silent") {
            options.echo = false;
        } else if (arg == "--controller-version" || arg == "--log") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--log") {
                options.logPath = value;
            } else if (value.size() != 3) {
                return usageError("--controller-version takes exactly three characters");
            } else {
                options.version = value;
            }
        } else {
            return usageError("unknown option " + arg);
        }
    }

    // The program keeps no history: the log is its record.
    options.historyEvents = 0;
    options.historyBytes = 0;
    options.onLogFailure = logFailed;

    // A reader that went away is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    keepClosed(STDOUT_FILENO);
    keepClosed(STDERR_FILENO);
    // Blocked before the simulator's threads exist, so that they inherit the
    // mask and the signals are taken only by sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::ControllerSimulator simulator(options);
    if (!simulator.start()) {
        std::fprintf(stderr, "kdxsim: %s\n", simulator.error().c_str());
        return 1;
    }
    if (!printPortName(simulator.portName())) return 1;

    for (;;) {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (signal != kWakeSignal || !failure().empty()) break;
    }
    // Logs what the decoder still holds and closes the line.
    const size_t unwritten = simulator.stop();
    if (const std::string why = failure(); !why.empty()) {
        std::fprintf(stderr, "kdxsim: %s\n", why.c_str());
        return 1;
    }
    if (unwritten > 0)
        std::fprintf(stderr, "kdxsim: %zu log lines were not written: their reader did not take them\n",
                     unwritten);
    return 0;
}
