// The command-line tool, run as a user runs it: the program is started with
// its arguments, its output, error output and exit status are collected, and
// the controller on the far side of its port is the simulator on a real
// pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
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
#include "link/PortEnumeration.h"
#include "sequence/Sequence.h"
#include "sequence/SequenceFile.h"
#include "sim/ControllerSimulator.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kSample = std::string(KDX_TEST_DATA_DIR) + "/cli_sample.KDX";
constexpr auto kProcessLimit = 60s;  // only a hung program comes near this
constexpr auto kWait = 5s;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Outcome {
    int status = -1;  // exit status; 128 + signal when killed by one
    std::string out, err;
};

// One run of the program with stdout and stderr on pipes.
class KdxProcess {
public:
    explicit KdxProcess(const std::vector<std::string>& args) {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
        std::vector<std::string> all{KDX_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, KDX_CLI_PATH, &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        outFd_ = outPipe[0];
        errFd_ = errPipe[0];
        if (rc != 0) {
            ADD_FAILURE() << "posix_spawn: " << std::strerror(rc);
            pid_ = -1;
        }
    }
    ~KdxProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) ::close(outFd_);
        if (errFd_ >= 0) ::close(errFd_);
    }
    KdxProcess(const KdxProcess&) = delete;
    KdxProcess& operator=(const KdxProcess&) = delete;

    // Collects output until the standard output read so far satisfies pred;
    // false when the program ended or the limit passed first.
    bool readUntil(const std::function<bool(const std::string&)>& pred,
                   Clock::duration limit = kProcessLimit) {
        const auto deadline = Clock::now() + limit;
        while (!pred(outcome_.out)) {
            if (!pump(deadline)) return pred(outcome_.out);
        }
        return true;
    }

    void interrupt() { kill(pid_, SIGINT); }

    // Reads both pipes to their end and reaps the program.
    Outcome finish() {
        const auto deadline = Clock::now() + kProcessLimit;
        while (pump(deadline)) {
        }
        if (outFd_ >= 0 || errFd_ >= 0) {
            ADD_FAILURE() << "kdx did not finish in time";
            return outcome_;
        }
        int ws = 0;
        waitpid(pid_, &ws, 0);
        pid_ = -1;
        outcome_.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        return outcome_;
    }

private:
    // One round of reading; false once both pipes are at their end or the
    // deadline passed.
    bool pump(Clock::time_point deadline) {
        if (outFd_ < 0 && errFd_ < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) return errno == EINTR;
        drain(fds[0], outFd_, outcome_.out);
        drain(fds[1], errFd_, outcome_.err);
        return true;
    }
    static void drain(const pollfd& p, int& fd, std::string& into) {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
        } else {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    Outcome outcome_;
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
                                           FileCase{"stream", false}, FileCase{"stream", true}));

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

TEST_F(KdxWithController, CtrlCStopsAnEndlessLoopLikeStop) {
    // Frames 0..2 move channel 0; frame 2 jumps back to frame 0.
    Sequence seq;
    const int positions[] = {1000, 2000, 1500};
    for (int f = 0; f < 3; ++f) {
        ChannelSetting& ch = seq.channel(f, 0);
        ch.position = positions[f];
        ch.pause = 20;
        ch.changed = 1;
        seq.frame(f).frameUsed = 1;
    }
    seq.frame(2).jumpTo = 0;
    TempFolder dir;
    const auto image = seq.image();
    writeWholeFile(dir.file("loop.KDX"), std::vector<uint8_t>(image.begin(), image.begin() + kSequenceFileSize));

    KdxProcess kdx({"play", dir.file("loop.KDX"), "--port", port()});
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
