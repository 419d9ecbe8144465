// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line tool, run as a user runs it: the program is started with
// its arguments, its output, error output and exit status are collected, and
// the controller on the far side of its port is the simulator on a real
// pseudo-terminal.

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "TempFolder.h"
#include "tools/RunningProgram.h"
#include "link/PortEnumeration.h"
#include "RefusedDevice.h"
#include "sequence/Sequence.h"
#include "sequence/SequenceFile.h"
#include "sim/ControllerSimulator.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kSample = std::string(KDX_TEST_DATA_DIR) + "/cli_sample.KDX";
constexpr auto kWait = 5s;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The tool, run as a user runs it.
class KdxProcess : public RunningProgram {
public:
    explicit KdxProcess(const std::vector<std::string>& args, Output output = Output::Pipe, Closed closed = {})
        : RunningProgram(KDX_CLI_PATH, args, output, closed) {}
    void interrupt() { signal(SIGINT); }
};

Outcome runKdx(const std::vector<std::string>& args) { return KdxProcess(args).finish(); }

bool isOneLine(const std::string& text) {
    return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<uint8_t> bytesOfHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    std::istringstream in(hex);
    for (std::string pair; in >> pair;) bytes.push_back(static_cast<uint8_t>(std::stoi(pair, nullptr, 16)));
    return bytes;
}

// A position command as the controller decoded it.
using Move = std::tuple<int, int, int>;  // channel, rate, pulse

class KdxWithController : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.start()) << sim.error(); }

    std::string port() const { return sim.portName(); }

    // Every position command the controller got. The program has ended, so
    // all its bytes are on the line: a probe byte written behind them marks
    // the point up to which the simulator must have read.
    std::vector<Move> movesAfterExit() {
        const int fd = ::open(sim.devicePath().c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        const uint8_t probe = 0x55;
        EXPECT_EQ(::write(fd, &probe, 1), 1);
        EXPECT_TRUE(sim.waitFor(
            [](const std::vector<sim::Event>& ev) {
                return !ev.empty() && ev.back().kind == sim::Event::Kind::Probe;
            },
            kWait));
        ::close(fd);
        std::vector<Move> moves;
        for (const auto& e : sim.events())
            if (e.kind == sim::Event::Kind::Position)
                moves.emplace_back(e.position.channel, e.position.rate, e.position.pulse);
        return moves;
    }

    sim::ControllerSimulator sim;
};

// ------------------------------------------------------------ usage

TEST(KdxCli, HelpDescribesTheToolAndEachCommand) {
    Outcome all = runKdx({"--help"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.err, "");
    for (const char* c : {"ports", "version", "dump", "stream", "download", "play"})
        EXPECT_NE(all.out.find(std::string("kdx ") + c), std::string::npos) << c;
    EXPECT_NE(all.out.find("4 the port's device went away"), std::string::npos);

    Outcome play = runKdx({"play", "--help"});
    EXPECT_EQ(play.status, 0);
    EXPECT_NE(play.out.find("Usage: kdx play FILE --port NAME [--from N]"), std::string::npos);
    EXPECT_NE(play.out.find("--from N"), std::string::npos);
}

struct UsageCase {
    std::vector<std::string> args;
    std::string message;  // part of the one-line message
};

class KdxUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(KdxUsage, IsRefusedWithOneLineAndStatus2) {
    Outcome o = runKdx(GetParam().args);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(isOneLine(o.err)) << o.err;
    EXPECT_NE(o.err.find(GetParam().message), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, KdxUsage,
    ::testing::Values(UsageCase{{}, "missing command"},
                      UsageCase{{"frobnicate"}, "unknown command 'frobnicate'"},
                      UsageCase{{"dump"}, "missing FILE"},
                      UsageCase{{"dump", kSample, "extra"}, "unexpected argument 'extra'"},
                      UsageCase{{"dump", kSample, "--port", "ttyS0"}, "unknown option '--port'"},
                      UsageCase{{"version"}, "missing --port"},
                      UsageCase{{"download", kSample}, "missing --port"},
                      UsageCase{{"play", kSample, "--port"}, "--port needs a value"},
                      UsageCase{{"play", kSample, "--port", "x", "--port", "y"}, "given twice"},
                      UsageCase{{"play", kSample, "--port", "x", "--from", "128"}, "--from"},
                      UsageCase{{"play", kSample, "--port", "x", "--from=-1"}, "--from"},
                      UsageCase{{"play", kSample, "--port", "x", "--from", "3a"}, "--from"}));

// ------------------------------------------------------------ files

TEST(KdxCli, DumpPrintsTheLoadedFramesAsJson) {
    Outcome o = runKdx({"dump", kSample});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    // Written by scripts/make-cli-sample from the same image.
    EXPECT_EQ(o.out, readText(std::string(KDX_TEST_DATA_DIR) + "/cli_sample.json"));
}

TEST(KdxCli, StreamPrintsTheDownloadBytes) {
    Outcome o = runKdx({"stream", kSample});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, readText(std::string(KDX_TEST_DATA_DIR) + "/cli_sample.stream"));
    EXPECT_EQ(o.out.rfind("4b 44 58 30 2e 39 67 46 00 00 05 03 e8 00 14", 0), 0u);
}

TEST(KdxCli, DumpShowsTheFileAsStoredStreamWhatDownloadSendsAfterOpen) {
    // Channel 7 of frame 0 differs from a fresh strip but is not marked:
    // Open's display of frame 0 marks it, the file does not.
    Sequence seq;
    seq.frame(0).frameUsed = 1;
    seq.channel(0, 0) = ChannelSetting{1000, 0, 0, 0, 1, {}};
    seq.channel(0, 7) = ChannelSetting{700, 0, 0, 0, 0, {}};
    TempFolder dir;
    const auto image = seq.image();
    writeWholeFile(dir.file("seq.KDX"), std::vector<uint8_t>(image.begin(), image.begin() + kSequenceFileSize));

    Outcome dump = runKdx({"dump", dir.file("seq.KDX")});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_NE(dump.out.find(R"({"channel":7,"position":700,"rate":0,"offset":0,"pause":0,"changed":false})"),
              std::string::npos);
    Outcome stream = runKdx({"stream", dir.file("seq.KDX")});
    EXPECT_EQ(stream.status, 0) << stream.err;
    EXPECT_EQ(stream.out, "4b 44 58 30 2e 39 67 46 00 00 00 03 e8 00 00 07 00 02 bc 00 00\n");
}

struct FileCase {
    std::string command;
    bool shortFile;  // else the file does not exist
};

class KdxFileErrors : public ::testing::TestWithParam<FileCase> {};

TEST_P(KdxFileErrors, PrintTheErrorBoxTextAndExit2) {
    TempFolder dir;
    const std::string path = dir.file("seq.KDX");
    if (GetParam().shortFile) writeWholeFile(path, std::vector<uint8_t>(1000, 0));
    Outcome o = runKdx({GetParam().command, path});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, GetParam().shortFile ? "Read beyond end of file.\n" : "File not found.\n");
}

INSTANTIATE_TEST_SUITE_P(DumpAndStream, KdxFileErrors,
                         ::testing::Values(FileCase{"dump", false}, FileCase{"dump", true},
                                           FileCase{"stream", false}, FileCase{"stream", true},
                                           FileCase{"check", false}, FileCase{"check", true},
                                           FileCase{"timeline", false}, FileCase{"timeline", true}));

// The sample's frame 1 sends channel 0 from 1000 to 1200 us at rate 5 (100
// of the 1000 units of full travel, 45 s x 5/63 for all of it: 357 ms);
// frame 2's display redirects it 143 ms later (four commands of 33.3 ms and
// channel 0's pause of 10 ms).
TEST(KdxCli, CheckListsTheUnfinishedMovesPlotDrawsThem) {
    Outcome o = runKdx({"check", kSample});
    EXPECT_EQ(o.status, 1) << o.err;
    ASSERT_EQ(linesOf(o.out).size(), 2u) << o.out;
    EXPECT_EQ(linesOf(o.out)[0],
              "frame 1 channel 0: 1000 -> 1200 us at rate 5 needs 0.36 s, the next command comes after 0.14 s");

    // At rate 0 every move finishes: nothing listed, status 0.
    Sequence seq;
    for (int f = 0; f < 2; ++f) {
        seq.frame(f).frameUsed = 1;
        seq.channel(f, 0) = ChannelSetting{1000 + 1000 * f, 0, 0, 0, 1, {}};
    }
    TempFolder dir;
    const auto image = seq.image();
    writeWholeFile(dir.file("seq.KDX"), std::vector<uint8_t>(image.begin(), image.begin() + kSequenceFileSize));
    Outcome fine = runKdx({"check", dir.file("seq.KDX")});
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_EQ(fine.out, "");

    Outcome plot = runKdx({"plot", kSample, "-o", dir.file("motion.svg")});
    EXPECT_EQ(plot.status, 0) << plot.err;
    const std::string svg = readText(dir.file("motion.svg"));
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("class=\"unfinished\""), std::string::npos);
    EXPECT_EQ(runKdx({"plot", kSample, "-o", dir.file("no/such/folder.svg")}).status, 2);
}

// The sample's pass (33.336 ms a command): frame 0 plays channels 0 and 5,
// channel 0 with a pause of 20 ms; frame 1 shows channels 0 and 7 live, then
// plays both, channel 0 with a pause of 10 ms; frame 2 shows channel 0 live
// and plays channels 0 and 5, without pauses.
TEST(KdxCli, TimelinePrintsEachFrameBegunAndThePassAsTextOrJson) {
    Outcome o = runKdx({"timeline", kSample});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "frame 0 at 0.000 s: 2 commands, holds 0.087 s\n"
              "frame 1 at 0.087 s: 4 commands, holds 0.143 s\n"
              "frame 2 at 0.230 s: 3 commands, holds 0.100 s\n"
              "one pass: 0.330 s\n");
    Outcome json = runKdx({"timeline", kSample, "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"frames\":[{\"frame\":0,\"at\":0.000000,\"commands\":2,\"holds\":0.086672},"
              "{\"frame\":1,\"at\":0.086672,\"commands\":4,\"holds\":0.143344},"
              "{\"frame\":2,\"at\":0.230016,\"commands\":3,\"holds\":0.100008}],\"pass\":0.330024}\n");
    EXPECT_EQ(runKdx({"timeline", kSample, "--json=yes"}).status, 2);
}

TEST(KdxCli, PortsListsWhatTheSubmenuWould) {
    Outcome o = runKdx({"ports"});
    try {
        std::string expected;
        for (const auto& name : EnumerateComPorts()) expected += name + "\n";
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, expected);
    } catch (const PortEnumerationError& e) {
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.err, std::string(e.what()) + "\n");
    }
}

// --long names the same ports in the same order, each line starting with
// the name; a value for it is a usage error.
TEST(KdxCli, LongPortListKeepsThePlainNamesFirst) {
    Outcome plain = runKdx({"ports"}), longer = runKdx({"ports", "--long"});
    EXPECT_EQ(longer.status, plain.status);
    const auto names = linesOf(plain.out), lines = linesOf(longer.out);
    ASSERT_EQ(lines.size(), names.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i] == names[i] || lines[i].rfind(names[i] + "  ", 0) == 0) << lines[i];
    Outcome bad = runKdx({"ports", "--long=yes"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(isOneLine(bad.err)) << bad.err;
}

// A user outside the device's group gets the reason on one line and the way
// in on the next, on standard error.
TEST(KdxCli, RefusedPortSaysWhichGroupToJoin) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a device to a group and drop to a user outside it";
    RefusedDevice device;
    ASSERT_TRUE(device.available());
    const std::string err = RefusedDevice::asStranger([&](int out) {
        dup2(out, 2);
        execl(KDX_CLI_PATH, "kdx", "version", "--port", device.portName().c_str(), (char*)nullptr);
    });
    const std::string g = device.groupName();
    EXPECT_EQ(err, "Could not open port: " + device.portName() +
                       ".  Access Denied. This port may already be in use by another device.\n"
                       "You may not have permission to use this port: add yourself to the group " + g +
                       " (sudo usermod -aG " + g + " $USER) and log in again.\n");
}

struct OutputCase {
    const char* name;
    RunningProgram::Output output;
    int reason;  // errno
    std::vector<std::string> args;
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

class KdxOutputErrors : public ::testing::TestWithParam<OutputCase> {};

TEST_P(KdxOutputErrors, EndWithStatus2AndTheReason) {
    Outcome o = KdxProcess(GetParam().args, GetParam().output).finish();
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, std::string("kdx: cannot write output: ") + std::strerror(GetParam().reason) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Output, KdxOutputErrors,
                         ::testing::Values(OutputCase{"Closed", RunningProgram::Output::Closed, EBADF, {"dump", kSample}},
                                           OutputCase{"DiskFull", RunningProgram::Output::DevFull, ENOSPC, {"dump", kSample}},
                                           // short enough to wait in a buffer until the end
                                           OutputCase{"DiskFullAtTheEnd", RunningProgram::Output::DevFull, ENOSPC, {"--help"}},
                                           OutputCase{"ReaderGone", RunningProgram::Output::BrokenPipe, EPIPE, {"dump", kSample}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KdxCli, APortThatCannotBeOpenedIsReportedWithStatus2) {
    for (const char* command : {"version", "download", "play"}) {
        std::vector<std::string> args{command};
        if (std::string(command) != "version") args.push_back(kSample);
        args.insert(args.end(), {"--port", "kdx-no-such-port"});
        Outcome o = runKdx(args);
        EXPECT_EQ(o.status, 2) << command;
        EXPECT_EQ(o.out, "") << command;
        EXPECT_TRUE(isOneLine(o.err)) << o.err;
        EXPECT_EQ(o.err.rfind("Could not open port: kdx-no-such-port.", 0), 0u) << o.err;
    }
}

// ------------------------------------------------------------ the controller

TEST_F(KdxWithController, VersionAnswered) {
    Outcome o = runKdx({"version", "--port", port()});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "Version: 1.4\n");
    EXPECT_EQ(o.err, "");
}

TEST_F(KdxWithController, VersionNotAnswered) {
    sim.setSilent(true);
    Outcome o = runKdx({"version", "--port", port()});
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, "KDX not found\n");
}

TEST_F(KdxWithController, DownloadPutsExactlyTheStreamOnTheWire) {
    Outcome o = runKdx({"download", kSample, "--port", port()});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "");
    const auto stream = bytesOfHex(readText(std::string(KDX_TEST_DATA_DIR) + "/cli_sample.stream"));
    ASSERT_TRUE(sim.waitFor(
        [](const std::vector<sim::Event>& ev) {
            for (const auto& e : ev)
                if (e.kind == sim::Event::Kind::Download) return true;
            return false;
        },
        kWait));
    // Loading happened while no port was open: frame 0's live sends went nowhere.
    EXPECT_EQ(sim.receivedBytes(), stream);
    const auto events = sim.events();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].download.frames.size(), 3u);
    EXPECT_EQ(events[0].download.stamp, "0.9g");
}

TEST_F(KdxWithController, DownloadOfAShortFileSendsNothing) {
    TempFolder dir;
    writeWholeFile(dir.file("short.KDX"), std::vector<uint8_t>(100, 1));
    Outcome o = runKdx({"download", dir.file("short.KDX"), "--port", port()});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "Read beyond end of file.\n");
    EXPECT_TRUE(movesAfterExit().empty());
    EXPECT_EQ(sim.receivedBytes(), std::vector<uint8_t>{0x55});  // only the test's own marker
}

// Opening the sample shows frame 0 on strips that stood at 1500/0/0/0, which
// sends channel 0 (position, then the mark) and channel 5 (position, offset,
// then the mark) live.
const std::vector<Move> kOpenSends = {{0, 0, 500}, {0, 5, 500}, {5, 0, 1000}, {5, 0, 990}, {5, 0, 990}};

std::vector<Move> concat(std::vector<Move> a, const std::vector<Move>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(KdxWithController, PlaySendsEachFrameAsThePlayButtonDoes) {
    Outcome o = runKdx({"play", kSample, "--port", port()});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "frame 0\nframe 1\nframe 2\nSequence Complete\n");
    EXPECT_EQ(o.err, "");
    const std::vector<Move> played = {
        // frame 0: shown already; its pass plays channels 0 and 5
        {0, 5, 500}, {5, 0, 990},
        // frame 1: showing it moves channel 0 live and marks the unmarked
        // channel 7, whose value differs; the pass plays 0 and 7, not 5
        {0, 5, 600}, {7, 0, 350}, {0, 5, 600}, {7, 0, 350},
        // frame 2: channel 0 live with the rate still shown, then the pass
        {0, 5, 1250}, {0, 10, 1250}, {5, 0, 990}};
    EXPECT_EQ(movesAfterExit(), concat(kOpenSends, played));
}

// The in-process simulated controller: the pass as the controller took it,
// then where each servo was when it ended.
TEST(KdxSimulated, PlayWithPortSimPrintsEachServoAfterTheStatus) {
    Outcome o = runKdx({"play", kSample, "--port", "sim"});
    EXPECT_EQ(o.status, 0) << o.err;
    const std::vector<std::string> lines = linesOf(o.out);
    ASSERT_EQ(lines.size(), 4u + 32u) << o.out;
    EXPECT_EQ(lines[3], "Sequence Complete");
    EXPECT_EQ(lines[4 + 5], "servo 5: 1980 us");  // rate 0: at its target
    EXPECT_EQ(lines[4 + 7], "servo 7: 700 us");
    EXPECT_EQ(lines[4 + 1], "servo 1: -");        // never commanded
    // Channel 0 set off for 2500 us at rate 10 as the pass ended: on its way.
    const int pulse0 = std::stoi(lines[4].substr(std::string("servo 0: ").size()));
    EXPECT_GE(pulse0, 1000);
    EXPECT_LT(pulse0, 2500);

    Outcome v = runKdx({"version", "--port", "sim"});
    EXPECT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(v.out, "Version: 1.4\n");
}

TEST_F(KdxWithController, PlayFromAFrameResumesThere) {
    Outcome o = runKdx({"play", kSample, "--port", port(), "--from", "2"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "frame 2\nSequence Complete\n");
    // Shown over frame 0, frame 2 differs in channel 7 too, so it is marked
    // and played.
    const std::vector<Move> played = {{0, 5, 1250}, {7, 0, 350}, {0, 10, 1250}, {5, 0, 990}, {7, 0, 350}};
    EXPECT_EQ(movesAfterExit(), concat(kOpenSends, played));
}

TEST_F(KdxWithController, PlayFromTheLastFrameRunsPastTheEnd) {
    Outcome o = runKdx({"play", kSample, "--port", port(), "--from=127"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Animating\n");
    EXPECT_EQ(movesAfterExit(), kOpenSends);
}

TEST_F(KdxWithController, PlayOfAShortFileFailsAfterThePortOpened) {
    TempFolder dir;
    writeWholeFile(dir.file("short.KDX"), std::vector<uint8_t>(16383, 0));
    Outcome o = runKdx({"play", dir.file("short.KDX"), "--port", port()});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "Read beyond end of file.\n");
    EXPECT_TRUE(movesAfterExit().empty());
}

// An endless loop: frames 0..2 move channel 0 to these positions, with
// 20 ms pauses; frame 2 jumps back to frame 0.
const int kLoopPositions[] = {1000, 2000, 1500};

std::string writeLoopFile(const TempFolder& dir) {
    Sequence seq;
    for (int f = 0; f < 3; ++f) {
        ChannelSetting& ch = seq.channel(f, 0);
        ch.position = kLoopPositions[f];
        ch.pause = 20;
        ch.changed = 1;
        seq.frame(f).frameUsed = 1;
    }
    seq.frame(2).jumpTo = 0;
    const auto image = seq.image();
    writeWholeFile(dir.file("loop.KDX"), std::vector<uint8_t>(image.begin(), image.begin() + kSequenceFileSize));
    return dir.file("loop.KDX");
}

TEST_F(KdxWithController, CtrlCStopsAnEndlessLoopLikeStop) {
    TempFolder dir;
    const int* positions = kLoopPositions;
    KdxProcess kdx({"play", writeLoopFile(dir), "--port", port()});
    // Past the jump: the loop is running.
    ASSERT_TRUE(kdx.readUntil([](const std::string& out) { return linesOf(out).size() >= 5; }));
    kdx.interrupt();
    Outcome o = kdx.finish();
    EXPECT_EQ(o.status, 130);
    const auto lines = linesOf(o.out);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines.back(), "Stopped");
    // Opening sends frame 0's channel 0 (position, then the mark). Each frame
    // started is shown (frames 1 and 2 move channel 0 live) and played; after
    // frame 2's jump to 0 the index advances to 1.
    std::vector<Move> expected = {{0, 0, 500}, {0, 0, 500}};
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        const int frame = i == 0 ? 0 : 1 + static_cast<int>((i - 1) % 2);
        ASSERT_EQ(lines[i], "frame " + std::to_string(frame));
        const int pulse = positions[frame] / 2;
        if (frame != 0) expected.emplace_back(0, 0, pulse);
        expected.emplace_back(0, 0, pulse);
    }
    // Stop shows frame 0 and sends it live (position, then the mark); the
    // player, going on, plays frame 0 once more without printing it, and ends.
    expected.insert(expected.end(), {{0, 0, 500}, {0, 0, 500}, {0, 0, 500}});
    EXPECT_EQ(movesAfterExit(), expected);
}

}  // namespace

namespace {

// Polls a condition that no event announces, such as the line settings.
bool awaitCondition(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + kWait;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        pollfd none{-1, 0, 0};
        poll(&none, 0, 1);
    }
    return true;
}

// A standard stream closed at start must not become the port: the tool's
// text would go to the controller.
struct ClosedCase {
    const char* name;
    RunningProgram::Output output;
    ClosedStreams closed;
    bool shortFile;  // an error message to write
};

void PrintTo(const ClosedCase& c, std::ostream* os) { *os << c.name; }

class KdxClosedStreams : public KdxWithController, public ::testing::WithParamInterface<ClosedCase> {};

TEST_P(KdxClosedStreams, NeverBecomeThePort) {
    TempFolder dir;
    writeWholeFile(dir.file("short.KDX"), std::vector<uint8_t>(100, 0));
    const ClosedCase& c = GetParam();
    Outcome o =
        KdxProcess({"play", c.shortFile ? dir.file("short.KDX") : kSample, "--port", port()}, c.output, c.closed)
            .finish();
    EXPECT_EQ(o.status, 2);
    if (c.output == RunningProgram::Output::Closed) {
        EXPECT_EQ(o.err, std::string("kdx: cannot write output: ") + std::strerror(EBADF) + "\n");
    }
    movesAfterExit();
    for (const auto& e : sim.events())
        EXPECT_NE(e.kind, sim::Event::Kind::Unknown) << std::string(e.raw.begin(), e.raw.end());
}

INSTANTIATE_TEST_SUITE_P(
    Play, KdxClosedStreams,
    ::testing::Values(ClosedCase{"Output", RunningProgram::Output::Closed, {}, false},
                      ClosedCase{"InputAndOutput", RunningProgram::Output::Closed, {.input = true}, false},
                      ClosedCase{"Error", RunningProgram::Output::Pipe, {.error = true}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KdxWithController, PlayStopsWhenItsOutputHasNoReader) {
    TempFolder dir;
    KdxProcess kdx({"play", writeLoopFile(dir), "--port", port()});
    ASSERT_TRUE(kdx.readUntil([](const std::string& out) { return linesOf(out).size() >= 2; }));
    kdx.closeOutput();
    Outcome o = kdx.finish();
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, std::string("kdx: cannot write output: ") + std::strerror(EPIPE) + "\n");
}

// The controller stops taking bytes and the line fills up, so the command is
// still at work on the line when the device goes away.
class KdxPortGone : public KdxWithController, public ::testing::WithParamInterface<const char*> {
protected:
    void fillLine() {
        sim.setReading(false);
        const int fd = ::open(sim.devicePath().c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
        ASSERT_GE(fd, 0);
        // The line takes bytes in stages (the far side's buffer is filled
        // behind the writer's back): full means no room for a while.
        const std::vector<uint8_t> chunk(512, 0);
        for (;;) {
            while (::write(fd, chunk.data(), chunk.size()) > 0) {
            }
            ASSERT_EQ(errno, EAGAIN);
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 100) == 0) break;
        }
        ::close(fd);
    }
};

TEST_P(KdxPortGone, EndsTheCommandWithStatus4) {
    fillLine();
    std::vector<std::string> args{GetParam()};
    if (args[0] != "version") args.push_back(kSample);
    args.insert(args.end(), {"--port", port()});
    KdxProcess kdx(args);
    // Configured: the port is open, whatever follows sees the device gone.
    ASSERT_TRUE(awaitCondition([&] { return sim.lineBaud() == 2400; }));
    sim.vanish();
    Outcome o = kdx.finish();
    EXPECT_EQ(o.status, 4);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "kdx: the port " + port() + " went away\n");
}

INSTANTIATE_TEST_SUITE_P(Commands, KdxPortGone, ::testing::Values("version", "download"));

TEST_F(KdxWithController, APortGoneMidPlayEndsItWithStatus4) {
    TempFolder dir;
    KdxProcess kdx({"play", writeLoopFile(dir), "--port", port()});
    ASSERT_TRUE(kdx.readUntil([](const std::string& out) { return linesOf(out).size() >= 3; }));
    sim.vanish();
    Outcome o = kdx.finish();
    EXPECT_EQ(o.status, 4);
    EXPECT_EQ(o.err, "kdx: the port " + port() + " went away\n");
    for (const auto& line : linesOf(o.out)) EXPECT_EQ(line.rfind("frame ", 0), 0u) << line;
}

}  // namespace
