// SPDX-License-Identifier: GPL-3.0-or-later
#include "KdxCli.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "editor/EditorCore.h"
#include "editor/MainWindowView.h"
#include "editor/SimulatedController.h"
#include "show/AudioOutput.h"
#include "show/MotionCheck.h"
#include "show/MotionPlot.h"
#include "show/SoundtrackPlayer.h"
#include "show/SoundtrackSession.h"
#include "show/Timeline.h"
#include "link/Commands.h"
#include "link/Notifier.h"
#include "link/PortDetails.h"
#include "link/PortEnumeration.h"
#include "link/TickSource.h"
#include "OutputBuffer.h"
#include "Platform.h"
#include "ProgramVersion.h"
#include "sequence/SequenceFile.h"

namespace {

// ---------------------------------------------------------------- Ctrl-C

// Catches the first Ctrl-C for the lifetime of one playback; it is honoured
// where the window would handle a click: when the player processes pending
// events.
class InterruptGuard {
public:
    InterruptGuard() { beginCatchingInterrupt(); }
    ~InterruptGuard() { endCatchingInterrupt(); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// ---------------------------------------------------------------- texts

std::string trimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// Message boxes may hold line breaks; the tool reports on one line.
std::string oneLine(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\r' || ch == '\n') {
            if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            result += ' ';
        } else {
            result += ch;
        }
    }
    return result;
}

// ---------------------------------------------------------------- headless window

// The serial port's beep and message box: the message is kept for a
// one-line error; the beep is left out.
class CapturingNotifier : public Notifier {
public:
    void Beep(unsigned, unsigned) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(oneLine(text)); }
    std::vector<std::string> messages;
};

class HeadlessView : public MainWindowView {
public:
    void attach(EditorCore& core) { core_ = &core; }
    void answerOpenWith(const std::string& file) { openAnswer_ = file; }
    // From now on each frame the player starts is reported as "frame N".
    void reportFramesTo(std::ostream& out) { frames_ = &out; }
    bool stopHandled() const { return stopHandled_; }

    void ShowStatus(const std::string& text, std::optional<Rgb>, bool) override {
        statusText = text;
    }
    void setFrameLabel(const std::string& text) override { pendingFrameLabel_ = text; }
    void setJumpLabel(const std::string&) override {}
    void setButtonEnabled(ViewButton, bool) override {}
    void showErrorBox(const std::string& text) override { errors.push_back(oneLine(text)); }
    void showWarningBox(const std::string& text) override { warnings.push_back(oneLine(text)); }
    std::optional<std::string> askOpenFileName() override { return openAnswer_; }
    std::optional<std::string> askSaveFileName() override { return std::nullopt; }
    void setPortMenu(const std::vector<std::string>& names) override { portMenu = names; }
    void quitApplication() override {}

    // The player calls this right after showing a used frame's number (the
    // frame is about to be played) and once more before it returns (after
    // " Sequence Complete " has cleared playing, or on a pause or stop). A
    // frame number shown since the last call while playing is still set is
    // therefore a frame that starts now.
    void processPendingEvents() override {
        std::optional<std::string> label = std::move(pendingFrameLabel_);
        pendingFrameLabel_.reset();
        honourInterrupt();
        // Stop has just run: the frame whose number was shown is not the one
        // that gets played, and playback ends at the next loop test.
        if (label && frames_ && core_ && core_->state().playing) {
            *frames_ << "frame " << *label << '\n' << std::flush;
            // Nobody can follow the playback any more: stop it as Ctrl-C does.
            if (!*frames_) stop();
        }
    }

    // A Ctrl-C is a click on Stop, handled once.
    void honourInterrupt() {
        if (interruptRequested()) stop();
    }

    std::string statusText;
    std::vector<std::string> errors, warnings, portMenu;

private:
    void stop() {
        if (stopHandled_ || !core_) return;
        stopHandled_ = true;
        core_->StopClick();
        pendingFrameLabel_.reset();  // Stop shows frame 0; nothing starts
    }

    EditorCore* core_ = nullptr;
    std::optional<std::string> openAnswer_;
    std::optional<std::string> pendingFrameLabel_;
    std::ostream* frames_ = nullptr;
    bool stopHandled_ = false;
};

// A freshly created main window: view, notifier and core, after FormCreate.
struct Session {
    HeadlessView view;
    CapturingNotifier notifier;
    EditorCore core;

    // Only `ports` needs the platform's port list; the other commands name
    // their port, so they do not depend on enumeration working.
    explicit Session(bool enumeratePorts)
        : core(view, notifier, systemTickSource(),
               enumeratePorts ? EditorCore::PortLister{}
                              : EditorCore::PortLister([] { return std::vector<std::string>{}; })) {
        view.attach(core);
        core.FormCreate();
    }
    ~Session() { core.FormClose(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

// ---------------------------------------------------------------- command line

struct CommandInfo {
    const char* name;
    const char* synopsis;
    const char* description;
    std::vector<std::string> options;  // each takes a value
    int files;                          // FILE arguments: 0 or 1
    bool portRequired;
    std::vector<std::string> flags = {};  // options without a value
};

const std::vector<CommandInfo>& commands() {
    static const std::vector<CommandInfo> list = {
        {"ports", "kdx ports [--long]",
         "Lists the communication ports that the \"Select Comm Port\" submenu\n"
         "would offer, one per line, in the same order.\n"
         "  --long   adds what the system knows of each port, to tell adapters\n"
         "           apart: the driver and, for USB adapters, vendor and product\n"
         "           IDs and names and the serial number, separated by two blanks:\n"
         "           ttyUSB0  ftdi_sio  0403:6001 FTDI FT232R USB UART  A50285BI\n",
         {}, 0, false, {"--long"}},
        {"version", "kdx version --port NAME",
         "Opens port NAME as the submenu does (2400 baud, no parity, 8 data bits),\n"
         "asks the controller for its version and prints the status text,\n"
         "for example \"Version: 1.4\" or \"KDX not found\".\n"
         "Exit status 0 when the controller answered, 3 when it did not, 4 when\n"
         "the port's device went away.\n",
         {"--port"}, 0, true},
        {"dump", "kdx dump FILE",
         "Prints FILE as stored: frames 0..21 (the frames a file holds) of a fresh\n"
         "sequence into which FILE was read as Sequence > Open reads it, as JSON\n"
         "on one line. Nothing is shown, so nothing is marked: unlike after Open,\n"
         "frame 0's changed flags are the file's. The part of frame 21 that is not\n"
         "in the file shows a fresh sequence's values.\n"
         "{\"frames\":[{\"index\":F,\"frameUsed\":B,\"jumpTo\":J,\"channels\":[{\"channel\":C,\n"
         "\"position\":P,\"rate\":R,\"offset\":O,\"pause\":M,\"changed\":B},...]},...]}\n",
         {}, 1, false},
        {"stream", "kdx stream FILE",
         "Prints the bytes that Sequence > Download sends after Sequence > Open\n"
         "of FILE in a freshly started program, as lowercase hexadecimal pairs\n"
         "separated by single blanks, on one line. Open shows frame 0, which marks\n"
         "the channels of frame 0 whose values differ from the strips of a fresh\n"
         "start, so those channels are sent too (kdx dump shows the file as stored).\n",
         {}, 1, false},
        {"download", "kdx download FILE --port NAME",
         "Loads FILE, then opens port NAME and sends the download stream\n"
         "(frames 0..63) exactly as Sequence > Download does. Nothing else is\n"
         "sent: the file is loaded before the port is open. Exit status 4 when\n"
         "the port's device went away.\n",
         {"--port"}, 1, true},
        {"play", "kdx play FILE --port NAME [--from N] [--no-sound]",
         "Opens port NAME, loads FILE as Sequence > Open does (frame 0 is shown\n"
         "and its marked channels are sent), then plays the sequence as the Play\n"
         "button does, with its soundtrack in step (the sound file that FILE's\n"
         ".kdxshow file names, or a .wav, .flac, .ogg or .mp3 file of FILE's name\n"
         "beside it). A soundtrack that cannot be played is reported on standard\n"
         "error and the show plays silent; so does a system without sound output\n"
         "(\"kdx: no sound output: REASON\", once). The sound goes to the default\n"
         "output of the PulseAudio (or PipeWire) server; PULSE_SINK and\n"
         "PULSE_SERVER choose another. Prints \"frame N\" for every frame started and, at the end,\n"
         "the status text: \"Sequence Complete\", or \"Animating\" when playback ran\n"
         "past frame 126. Ctrl-C stops like the Stop button (exit status 130);\n"
         "a second Ctrl-C ends the program at once. When the port's device goes\n"
         "away, playback ends with exit status 4. With --port sim, each servo's\n"
         "pulse when the pass ended follows: \"servo C: P us\" (\"-\" when never\n"
         "commanded), channels 0..31.\n"
         "  --from N     resume at frame N (0..127) instead of starting at frame 0\n"
         "  --no-sound   leave the soundtrack out\n",
         {"--port", "--from"}, 1, true, {"--no-sound"}},
        {"check", "kdx check FILE",
         "Plays one pass of FILE (as after Sequence > Open and Play; a loop is\n"
         "followed until it comes back to a frame already played) against the\n"
         "simulated controller's ramp model, without any port, and lists every\n"
         "move a servo cannot finish before the next command to its channel\n"
         "redirects it or the pass ends, one per line:\n"
         "frame F channel C: FROM -> TO us at rate R needs X s, the next command comes after Y s\n"
         "Exit status 0 when every move finishes, 1 when some do not.\n",
         {}, 1, false},
        {"plot", "kdx plot FILE -o OUT.svg",
         "Draws the pass that kdx check plays as an SVG timeline in OUT.svg: one\n"
         "lane per channel that moves, the commanded target as steps, the modelled\n"
         "servo position as a line, frame starts and numbers along the time axis,\n"
         "unfinished moves in red.\n",
         {"-o"}, 1, false},
        {"timeline", "kdx timeline FILE [--json]",
         "Prints when each frame of the pass that kdx check plays begins, on the\n"
         "2400-baud line (a position command takes 33.3 ms, each setting the pass\n"
         "sends is followed by its pause), one line per frame begun, in order, and\n"
         "then the pass's length:\n"
         "frame F at S.SSS s: N commands, holds H.HHH s\n"
         "one pass: T.TTT s\n"
         "The commands are those sent from the frame's start until the next\n"
         "frame's: its display's and its pass's. Playback keeps these times on\n"
         "every port, the simulated controller's included.\n"
         "  --json   one JSON object instead, times in seconds:\n"
         "           {\"frames\":[{\"frame\":F,\"at\":S,\"commands\":N,\"holds\":H},...],\"pass\":T}\n",
         {}, 1, false, {"--json"}},
    };
    return list;
}

const CommandInfo* findCommand(const std::string& name) {
    for (const auto& c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

void printToolHelp(std::ostream& out) {
    out << "Usage: kdx COMMAND [ARGS]\n"
           "Runs the KDX editor's operations without its window.\n\n"
           "Commands:\n";
    for (const auto& c : commands()) out << "  " << c.synopsis << '\n';
    out << "\nkdx COMMAND --help describes a command; kdx --version prints the version\n"
           "and the licence.\n"
           "Exit status: 0 done; 2 usage, file or port error, or standard output\n"
           "that cannot be written (message on standard error); 3 controller not\n"
           "found (version); 4 the port's device went away (version, download,\n"
           "play); 130 stopped by Ctrl-C (play); 1 some move does not finish (check).\n"
        << portNameHelp();
    if (simulatedControllerAvailable())
        out << "--port sim selects the simulated controller of the port submenu,\n"
               "inside kdx, with no hardware.\n";
}

void printCommandHelp(const CommandInfo& c, std::ostream& out) {
    out << "Usage: " << c.synopsis << "\n\n" << c.description;
}

struct Invocation {
    const CommandInfo* command = nullptr;
    std::string file;
    std::map<std::string, std::string> options;
    bool help = false;
    bool version = false;  // kdx --version
};

struct UsageError {
    std::string message;
};

Invocation parse(const std::vector<std::string>& args) {
    Invocation inv;
    if (args.empty()) throw UsageError{"missing command"};
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        inv.help = true;
        if (args[0] == "help" && args.size() > 1) {
            inv.command = findCommand(args[1]);
            if (!inv.command) throw UsageError{"unknown command '" + args[1] + "'"};
        }
        return inv;
    }
    if (args[0] == "--version") {
        inv.version = true;
        return inv;
    }
    inv.command = findCommand(args[0]);
    if (!inv.command) throw UsageError{"unknown command '" + args[0] + "'"};
    const CommandInfo& c = *inv.command;
    // Asking for help is never a usage error, whatever else is on the line.
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            inv.help = true;
            return inv;
        }
    }

    std::vector<std::string> positional;
    bool onlyPositional = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyPositional || a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyPositional = true;
            continue;
        }
        std::string name = a, value;
        bool hasValue = false;
        if (auto eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        bool known = false, flag = false;
        for (const auto& o : c.options) known = known || o == name;
        for (const auto& f : c.flags) flag = flag || f == name;
        if (flag) {
            if (hasValue) throw UsageError{"option " + name + " takes no value"};
            if (inv.options.count(name)) throw UsageError{"option " + name + " given twice"};
            inv.options[name] = "";
            continue;
        }
        if (!known) throw UsageError{"unknown option '" + name + "' for " + c.name};
        if (!hasValue) {
            if (i + 1 >= args.size()) throw UsageError{"option " + name + " needs a value"};
            value = args[++i];
        }
        if (inv.options.count(name)) throw UsageError{"option " + name + " given twice"};
        inv.options[name] = value;
    }

    if (static_cast<int>(positional.size()) > c.files)
        throw UsageError{"unexpected argument '" + positional[c.files] + "' for " + c.name};
    if (static_cast<int>(positional.size()) < c.files)
        throw UsageError{"missing FILE for " + std::string(c.name)};
    if (c.files) inv.file = positional[0];
    if (c.portRequired && !inv.options.count("--port"))
        throw UsageError{"missing --port NAME for " + std::string(c.name)};
    if (inv.options.count("--port") && inv.options["--port"].empty())
        throw UsageError{"empty port name"};
    return inv;
}

// --from N: a frame index.
int parseFrame(const std::string& text) {
    int value = -1;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || text.empty() || !Sequence::validFrame(value))
        throw UsageError{"--from needs a frame number 0.." + std::to_string(kFrameCount - 1) +
                         ", not '" + text + "'"};
    return value;
}

// ---------------------------------------------------------------- steps

// The submenu's click; false (with the serial port's message on err) when
// the port did not open.
bool openPort(Session& s, const std::string& name, std::ostream& err) {
    s.notifier.messages.clear();
    if (name == kSimulatedControllerPortName && s.core.simulatorAvailable()) {
        s.view.errors.clear();
        s.core.SimulatedControllerClick();
        if (!s.view.errors.empty()) {
            err << oneLine(s.view.errors.front()) << '\n';
            return false;
        }
    } else {
        s.core.ComPortComboClick(name);
    }
    if (!s.core.serialPort().isOpen()) {
        if (s.notifier.messages.empty()) {
            // A name the port object refuses outright gets no message box.
            err << "Could not open port: " << name << ".\n";
        } else {
            // The reason on one line; advice on how to get access on its own.
            std::string message = s.notifier.messages.front();
            const std::string& hint = s.core.serialPort().openHint();
            if (!hint.empty() && message.size() > hint.size() &&
                message.compare(message.size() - hint.size(), hint.size(), hint) == 0) {
                message.resize(message.size() - hint.size() - 1);
                message += "\n" + hint;
            }
            err << message << '\n';
        }
        return false;
    }
    // Opened, but the line could not be set up as asked: say so, go on as
    // the window does after its message box.
    for (const auto& m : s.notifier.messages) err << m << '\n';
    return true;
}

// Sequence > Open with FILE chosen in the dialog. Open accepts a name that
// does not exist (it loads nothing); for the tool that is an error.
bool openFile(Session& s, const std::string& file, std::ostream& err) {
    if (!sequenceFileExists(file)) {
        err << "File not found.\n";
        return false;
    }
    s.view.answerOpenWith(file);
    s.view.errors.clear();
    s.core.Open1Click();
    if (!s.view.errors.empty()) {
        err << s.view.errors.front() << '\n';
        return false;
    }
    return true;
}

const char* jsonBool(bool b) { return b ? "true" : "false"; }

void printDump(const Sequence& seq, std::ostream& out) {
    out << "{\"frames\":[";
    for (int f = 0; f <= kFirstFrameNotInFile; ++f) {
        const Frame& fr = seq.frame(f);
        if (f) out << ',';
        out << "{\"index\":" << f << ",\"frameUsed\":" << jsonBool(fr.frameUsed != 0)
            << ",\"jumpTo\":" << fr.jumpTo << ",\"channels\":[";
        for (int c = 0; c < kChannelCount; ++c) {
            const ChannelSetting& ch = fr.channels[c];
            if (c) out << ',';
            out << "{\"channel\":" << c << ",\"position\":" << ch.position << ",\"rate\":" << ch.rate
                << ",\"offset\":" << ch.offset << ",\"pause\":" << ch.pause
                << ",\"changed\":" << jsonBool(ch.changed != 0) << '}';
        }
        out << "]}";
    }
    out << "]}\n";
}

void printHex(const std::vector<uint8_t>& bytes, std::ostream& out) {
    static const char digits[] = "0123456789abcdef";
    std::string line;
    line.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) line += ' ';
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 0x0F];
    }
    out << line << '\n';
}

// ---------------------------------------------------------------- commands

int cmdPortsLong(std::ostream& out, std::ostream& err) {
    std::vector<PortDetails> ports;
    try {
        ports = DescribeComPorts();
    } catch (const PortEnumerationError& e) {
        err << e.what() << '\n';
        return kKdxUsageOrFileOrPort;
    }
    for (const auto& port : ports) out << formatPortDetails(port) << '\n';
    return kKdxOk;
}

int cmdPorts(const Invocation& inv, std::ostream& out, std::ostream& err) {
    if (inv.options.count("--long")) return cmdPortsLong(out, err);
    Session s(true);
    if (!s.view.errors.empty()) {
        err << s.view.errors.front() << '\n';
        return kKdxUsageOrFileOrPort;
    }
    for (const auto& name : s.view.portMenu) out << name << '\n';
    return kKdxOk;
}

// After a command's port work: when the device went away (the core has
// closed the port and shows "Comm Port Lost"), says so.
bool portLost(const Session& s, std::ostream& err) {
    if (s.core.lostPortName().empty()) return false;
    err << "kdx: the port " << s.core.lostPortName() << " went away\n";
    return true;
}

int cmdVersion(const Invocation& inv, std::ostream& out, std::ostream& err) {
    Session s(false);
    if (!openPort(s, inv.options.at("--port"), err)) return kKdxUsageOrFileOrPort;
    s.core.ReadClick();
    if (portLost(s, err)) return kKdxPortLost;
    const std::string text = trimBlanks(s.view.statusText);
    out << text << '\n';
    return text.rfind("Version:", 0) == 0 ? kKdxOk : kKdxNoController;
}

// The file as stored: read as Open reads it, without Open's display of
// frame 0, which would mark channels in it.
int cmdDump(const Invocation& inv, std::ostream& out, std::ostream& err) {
    if (!sequenceFileExists(inv.file)) {
        err << "File not found.\n";
        return kKdxUsageOrFileOrPort;
    }
    Sequence fresh;
    const FileResult result = loadSequenceFile(inv.file, fresh);
    if (!result) {
        err << oneLine(result.error) << '\n';
        return kKdxUsageOrFileOrPort;
    }
    printDump(fresh, out);
    return kKdxOk;
}

int cmdStream(const Invocation& inv, std::ostream& out, std::ostream& err) {
    Session s(false);
    if (!openFile(s, inv.file, err)) return kKdxUsageOrFileOrPort;
    printHex(buildDownloadStream(s.core.sequence(), s.core.state().versionStamp), out);
    return kKdxOk;
}

int cmdDownload(const Invocation& inv, std::ostream& err) {
    Session s(false);
    // Loaded while no port is open: showing frame 0 sends nothing.
    if (!openFile(s, inv.file, err)) return kKdxUsageOrFileOrPort;
    if (!openPort(s, inv.options.at("--port"), err)) return kKdxUsageOrFileOrPort;
    s.core.DownloadClick();
    return portLost(s, err) ? kKdxPortLost : kKdxOk;
}

// Where the simulated servos were when the pass ended.
void printServos(const EditorCore& core, std::ostream& out) {
    const auto pulses = simulatedServoPulses(*core.simulator());
    for (size_t c = 0; c < pulses.size(); ++c) {
        out << "servo " << c << ": ";
        if (pulses[c])
            out << *pulses[c] << " us\n";
        else
            out << "-\n";
    }
    out << std::flush;
}

// The soundtrack of a played file: found when Open reads the file, decoded
// before Play, played in step by an observer of the player. It may go
// before the core: the core keeps its file listener for its whole life, so
// the listener holds the session only weakly, and the player is taken off
// the core when this goes.
class PlaySound {
public:
    PlaySound(EditorCore& core, std::ostream& err)
        : core_(core),
          err_(err),
          session_(std::make_shared<SoundtrackSession>([&err](const std::string& m) { err << "kdx: " << m << '\n'; })) {
        core.addFileListener([session = std::weak_ptr<SoundtrackSession>(session_)](EditorCore::FileEvent e,
                                                                                     const std::string& path) {
            if (e != EditorCore::FileEvent::Opened) return;
            if (const std::shared_ptr<SoundtrackSession> s = session.lock()) s->opened(path);
        });
    }
    ~PlaySound() {
        if (player_) core_.removePlaybackObserver(&*player_);
    }
    PlaySound(const PlaySound&) = delete;
    PlaySound& operator=(const PlaySound&) = delete;

    // After Open: ready to play the decoded track (nothing without one).
    void prepare() {
        if (session_->choice().none()) return;
        output_ = makeSystemAudioOutput(systemTickSource(), "kdx");
        session_->waitDecoded();
        if (!session_->sound()) return;
        player_.emplace(*output_, systemTickSource(),
                        [this](const std::string& why) { err_ << "kdx: no sound output: " << why << '\n'; });
        player_->setSound(session_->sound(), session_->choice().offsetMs);
        player_->setTimeline(std::make_shared<const Timeline>(Timeline::of(core_.sequence())));
        core_.addPlaybackObserver(&*player_);
    }
    // A failure that came after the player's last look.
    void finish() {
        if (player_) player_->checkOutput();
    }

private:
    EditorCore& core_;
    std::ostream& err_;
    std::shared_ptr<SoundtrackSession> session_;
    std::unique_ptr<AudioOutput> output_;
    std::optional<SoundtrackPlayer> player_;
};

int cmdPlay(const Invocation& inv, std::ostream& out, std::ostream& err) {
    std::optional<int> from;
    if (auto it = inv.options.find("--from"); it != inv.options.end()) from = parseFrame(it->second);
    // Checked before the port's waits; Open itself would load nothing.
    if (!sequenceFileExists(inv.file)) {
        err << "File not found.\n";
        return kKdxUsageOrFileOrPort;
    }

    Session s(false);
    std::optional<PlaySound> sound;
    if (!inv.options.count("--no-sound")) sound.emplace(s.core, err);
    InterruptGuard guard;
    if (!openPort(s, inv.options.at("--port"), err)) return kKdxUsageOrFileOrPort;
    if (!openFile(s, inv.file, err)) return kKdxUsageOrFileOrPort;
    // Showing frame 0 sent its marked channels.
    if (portLost(s, err)) return kKdxPortLost;
    if (sound) sound->prepare();
    if (from) {
        // As after a pause at frame N: Play resumes there.
        s.core.pauseAt(*from);
    }
    s.view.reportFramesTo(out);
    s.core.RunClick();
    // A Ctrl-C that came after the player's last look at pending events is
    // handled as the window's event loop would: once the handler returned.
    s.view.honourInterrupt();
    if (sound) sound->finish();
    if (portLost(s, err)) return kKdxPortLost;
    out << trimBlanks(s.view.statusText) << '\n' << std::flush;
    if (s.core.simulatorChosen()) printServos(s.core, out);
    return s.view.stopHandled() ? kKdxInterrupted : kKdxOk;
}

// FILE as stored, into a fresh sequence, as Open reads it.
bool loadFile(const std::string& file, Sequence& into, std::ostream& err) {
    if (!sequenceFileExists(file)) {
        err << "File not found.\n";
        return false;
    }
    const FileResult result = loadSequenceFile(file, into);
    if (!result) err << oneLine(result.error) << '\n';
    return static_cast<bool>(result);
}

int cmdCheck(const Invocation& inv, std::ostream& out, std::ostream& err) {
    Sequence seq;
    if (!loadFile(inv.file, seq, err)) return kKdxUsageOrFileOrPort;
    int status = kKdxOk;
    for (const Move& m : modelMoves(Timeline::of(seq))) {
        if (m.finishes()) continue;
        out << describeUnfinished(m) << '\n';
        status = kKdxUnfinishedMoves;
    }
    return status;
}

int cmdPlot(const Invocation& inv, std::ostream& err) {
    const auto target = inv.options.find("-o");
    if (target == inv.options.end()) throw UsageError{"missing -o OUT.svg for plot"};
    Sequence seq;
    if (!loadFile(inv.file, seq, err)) return kKdxUsageOrFileOrPort;
    const Timeline timeline = Timeline::of(seq);
    const std::string svg = plotMotionSvg(timeline, modelMoves(timeline));
    std::ofstream file(target->second, std::ios::binary | std::ios::trunc);
    file << svg;
    file.close();
    if (!file) {
        err << "kdx: cannot write " << target->second << '\n';
        return kKdxUsageOrFileOrPort;
    }
    return kKdxOk;
}

std::string secondsText(double ms, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, ms / 1000.0);
    return text;
}

int cmdTimeline(const Invocation& inv, std::ostream& out, std::ostream& err) {
    Sequence seq;
    if (!loadFile(inv.file, seq, err)) return kKdxUsageOrFileOrPort;
    const Timeline timeline = Timeline::of(seq);
    if (inv.options.count("--json")) {
        out << "{\"frames\":[";
        for (size_t i = 0; i < timeline.frames.size(); ++i) {
            const FrameBegun& f = timeline.frames[i];
            if (i) out << ',';
            out << "{\"frame\":" << f.frame << ",\"at\":" << secondsText(f.atMs, 6)
                << ",\"commands\":" << f.commands << ",\"holds\":" << secondsText(f.holdsMs, 6) << '}';
        }
        out << "],\"pass\":" << secondsText(timeline.passMs, 6) << "}\n";
        return kKdxOk;
    }
    for (const FrameBegun& f : timeline.frames)
        out << "frame " << f.frame << " at " << secondsText(f.atMs, 3) << " s: " << f.commands
            << (f.commands == 1 ? " command" : " commands") << ", holds " << secondsText(f.holdsMs, 3) << " s\n";
    out << "one pass: " << secondsText(timeline.passMs, 3) << " s\n";
    return kKdxOk;
}

int runCommand(const Invocation& inv, std::ostream& out, std::ostream& err) {
    if (inv.version) {
        out << versionText("kdx");
        return kKdxOk;
    }
    if (inv.help) {
        if (inv.command)
            printCommandHelp(*inv.command, out);
        else
            printToolHelp(out);
        return kKdxOk;
    }
    const std::string name = inv.command->name;
    if (name == "ports") return cmdPorts(inv, out, err);
    if (name == "version") return cmdVersion(inv, out, err);
    if (name == "dump") return cmdDump(inv, out, err);
    if (name == "stream") return cmdStream(inv, out, err);
    if (name == "download") return cmdDownload(inv, err);
    if (name == "check") return cmdCheck(inv, out, err);
    if (name == "plot") return cmdPlot(inv, err);
    if (name == "timeline") return cmdTimeline(inv, out, err);
    return cmdPlay(inv, out, err);
}

}  // namespace

int runKdx(const std::vector<std::string>& args, OutputBuffer& outBuffer, std::ostream& err) {
    std::ostream out(&outBuffer);
    int status = kKdxOk;
    try {
        status = runCommand(parse(args), out, err);
    } catch (const UsageError& e) {
        err << "kdx: " << e.message << " (kdx --help lists the commands)\n";
        return kKdxUsageOrFileOrPort;
    }
    // A result that did not reach its reader is no success; a port that went
    // away has been reported already and keeps its own status.
    out.flush();
    if (outBuffer.failed() && status != kKdxPortLost) {
        err << "kdx: cannot write output: " << outBuffer.failure() << '\n';
        return kKdxUsageOrFileOrPort;
    }
    return status;
}
