// kdxsim: runs the controller simulator on a pseudo-terminal until stopped.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/ControllerSimulator.h"

namespace {

const char kHelp[] =
    "Usage: kdxsim [--version TEXT] [--log FILE] [--silent] [--help]\n"
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
    "Options:\n"
    "  --version TEXT  the three version characters to answer (default 1.4)\n"
    "  --log FILE      write the JSON lines to FILE instead of standard output\n"
    "                  (\"-\" is standard output)\n"
    "  --silent        answer nothing: no echo, no version reply (the\n"
    "                  application then reports that no controller was found)\n"
    "  --help          show this text\n"
    "\n"
    "Runs until interrupted: Ctrl-C (SIGINT) or SIGTERM stops it.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "kdxsim: %s\nTry kdxsim --help.\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    options.logPath = "-";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--silent") {
            options.echo = false;
        } else if (arg == "--version" || arg == "--log") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--log") {
                options.logPath = value;
            } else if (value.size() != 3) {
                return usageError("--version takes exactly three characters");
            } else {
                options.version = value;
            }
        } else {
            return usageError("unknown option " + arg);
        }
    }

    // Blocked before the simulator's thread exists, so that it inherits the
    // mask and the signals are taken only by sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::ControllerSimulator simulator(options);
    if (!simulator.start()) {
        std::fprintf(stderr, "kdxsim: %s\n", simulator.error().c_str());
        return 1;
    }
    const std::string port = simulator.portName();
    std::printf("%s\n", port.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;  // the simulator's destructor logs what is pending and closes the line
}
