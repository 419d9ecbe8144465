// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator program kdxsim, run as a user runs it: whatever its output's
// reader does, the simulated line is served and a stop signal ends it; a
// write error ends it with status 1 and the reason.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempFolder.h"
#include "tools/RunningProgram.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kWait = 5s;
constexpr auto kStopLimit = 10s;  // only a program that ignores SIGTERM comes near this

// Polls a condition that no event announces, such as a file's content.
bool awaitCondition(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pollfd none{-1, 0, 0};
        poll(&none, 0, 1);
    }
    return true;
}

// Reads fd into text until pred(text) holds; false when the wait passed
// first.
bool readUntil(int fd, std::string& text, const std::function<bool(const std::string&)>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!pred(text)) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[65536];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        text.append(buf, static_cast<size_t>(n));
    }
    return true;
}

class Kdxsim : public RunningProgram {
public:
    explicit Kdxsim(const std::vector<std::string>& args, Output output = Output::Pipe)
        : RunningProgram(KDXSIM_PATH, args, output) {}
};

// The application's side of the simulated line, raw.
class Line {
public:
    explicit Line(const std::string& port) {
        fd_ = ::open(("/dev/" + port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line() {
        if (fd_ >= 0) ::close(fd_);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    bool ok() const { return fd_ >= 0; }

    bool write(const Bytes& bytes) {
        size_t at = 0;
        while (at < bytes.size()) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 5000) <= 0) return false;
            const ssize_t n = ::write(fd_, bytes.data() + at, bytes.size() - at);
            if (n < 0 && errno != EAGAIN) return false;
            if (n > 0) at += static_cast<size_t>(n);
        }
        return true;
    }
    // Reads until what arrived ends with tail; false when the line stays
    // quiet for the whole wait first.
    bool readUntilEnding(const Bytes& tail) {
        Bytes got;
        for (;;) {
            if (got.size() >= tail.size() && std::equal(tail.begin(), tail.end(), got.end() - tail.size()))
                return true;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) <= 0) return false;
            uint8_t buf[4096];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) return false;
            got.insert(got.end(), buf, buf + n);
        }
    }

private:
    int fd_ = -1;
};

const Bytes kQuery = {'!', 'S', 'C', 'V', 'E', 'R', '?', '\r'};

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A download of 64 frames of 32 channels: one log line of about 100 KB, more
// than a pipe holds. The version query behind it ends the stream at once.
Bytes bigDownloadThenQuery() {
    Bytes b = {'K', 'D', 'X', '0', '.', '9', 'g'};
    for (uint8_t f = 0; f < 64; ++f) {
        b.insert(b.end(), {'F', f});
        for (uint8_t c = 0; c < 32; ++c) b.insert(b.end(), {c, 0, 0x05, 0xDC, 0, 0});
    }
    return concat(b, kQuery);
}

// The query's echo and the version after it: the line is being served.
const Bytes kAnswered = concat(kQuery, {'1', '.', '4'});

class KdxsimUnreadOutput : public ::testing::TestWithParam<RunningProgram::Output> {};

TEST_P(KdxsimUnreadOutput, HoldsUpNeitherTheLineNorTheStop) {
    Kdxsim sim({}, GetParam());
    const std::string port = sim.firstLine();
    const int unread = sim.releaseOutput();  // open, but nothing more is read
    Line line(port);
    ASSERT_TRUE(line.ok()) << port;
    // About 800 KB of log: more than a pipe or a socket holds.
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(line.write(bigDownloadThenQuery()));
        EXPECT_TRUE(line.readUntilEnding(kAnswered));
    }

    sim.signal(SIGTERM);
    Outcome o = sim.finish(kStopLimit);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.err.find("log lines were not written"), std::string::npos) << o.err;
    ::close(unread);
}

INSTANTIATE_TEST_SUITE_P(Output, KdxsimUnreadOutput,
                         ::testing::Values(RunningProgram::Output::Pipe, RunningProgram::Output::Socket),
                         [](const auto& info) {
                             return std::string(info.param == RunningProgram::Output::Pipe ? "Pipe" : "Socket");
                         });

TEST(KdxsimProgram, OutputAppendedToAFileComesAfterWhatWasThere) {
    TempFolder dir;
    const std::string file = dir.file("sim.out");
    writeWholeFile(file, {'e', 'a', 'r', 'l', 'i', 'e', 'r', '\n'});
    RunningProgram sim("/bin/sh", {"-c", std::string("exec ") + KDXSIM_PATH + " >> " + file});
    const auto lines = [&] {
        const auto bytes = readWholeFile(file);
        return std::string(bytes.begin(), bytes.end());
    };
    ASSERT_TRUE(awaitCondition([&] {
        const std::string now = lines();
        return std::count(now.begin(), now.end(), '\n') >= 2;
    }));
    const std::string text = lines();
    const std::string port = text.substr(8, text.find('\n', 8) - 8);
    Line line(port);
    ASSERT_TRUE(line.write(kQuery));
    ASSERT_TRUE(line.readUntilEnding(kAnswered));
    ASSERT_TRUE(awaitCondition([&] { return lines().find("\"type\":\"version\"") != std::string::npos; }));
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.finish(kStopLimit).status, 0);
    const std::string all = lines();
    EXPECT_EQ(all.rfind("earlier\n" + port + "\n{\"t\":", 0), 0u) << all;
}

TEST(KdxsimProgram, LinesBeyondTheQueueAreDroppedAndCounted) {
    Kdxsim sim({});
    const std::string port = sim.firstLine();
    const int unread = sim.releaseOutput();
    Line line(port);
    // 30 lines of 3 MB in all, far more than the queue and the pipe hold.
    constexpr int kRounds = 15;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(line.write(bigDownloadThenQuery()));
        ASSERT_TRUE(line.readUntilEnding(kAnswered));
    }
    // Now the reader comes: every line is either there or counted.
    std::string log;
    size_t lines = 0, dropped = 0;
    const auto counted = [&](const std::string& text) {
        lines = dropped = 0;
        const std::string droppedType = "\"type\":\"dropped\",\"lines\":";
        for (size_t at = 0; (at = text.find("\"type\":", at)) != std::string::npos; ++at) {
            if (text.compare(at, droppedType.size(), droppedType) == 0)
                dropped += std::stoul(text.substr(at + droppedType.size()));
            else if (text.find('\n', at) != std::string::npos)  // whole lines only
                ++lines;
        }
        return lines + dropped >= 2u * kRounds;
    };
    readUntil(unread, log, counted);
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(lines + dropped, 2u * kRounds);
    // Caught up: the next line is written again.
    const size_t seen = log.size();
    ASSERT_TRUE(line.write(kQuery));
    ASSERT_TRUE(line.readUntilEnding(kAnswered));
    const auto versionLine = [seen](const std::string& text) {
        return text.find("\"type\":\"version\"", seen) != std::string::npos;
    };
    EXPECT_TRUE(readUntil(unread, log, versionLine)) << log.substr(seen);
    ::close(unread);
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.finish(kStopLimit).status, 0);
}

TEST(KdxsimProgram, ALogThatCannotBeOpenedOrNoOutputEndsItWithStatus1) {
    Outcome noFolder = Kdxsim({"--log", "/nonexistent-folder/sim.log"}).finish(kStopLimit);
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_EQ(noFolder.err, std::string("kdxsim: open /nonexistent-folder/sim.log: ") + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(noFolder.out, "");
    Outcome noOutput = Kdxsim({}, RunningProgram::Output::Closed).finish(kStopLimit);
    EXPECT_EQ(noOutput.status, 1);
    EXPECT_EQ(noOutput.err, std::string("kdxsim: cannot write standard output: ") + std::strerror(EBADF) + "\n");
}

TEST(KdxsimProgram, ALogFifoIsWrittenOnceAReaderComes) {
    TempFolder dir;
    const std::string fifo = dir.file("log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Kdxsim sim({"--log", fifo});
    const std::string port = sim.firstLine();
    ASSERT_FALSE(port.empty()) << "no port name: the log's FIFO held up the start";
    Line line(port);
    ASSERT_TRUE(line.write(kQuery));
    EXPECT_TRUE(line.readUntilEnding(kAnswered));

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string log;
    while (log.find("\"type\":\"version\"") == std::string::npos) {
        pollfd p{reader, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) <= 0) break;
        char buf[4096];
        const ssize_t n = ::read(reader, buf, sizeof buf);
        if (n > 0) log.append(buf, static_cast<size_t>(n));
    }
    EXPECT_NE(log.find("\"type\":\"version\""), std::string::npos) << log;
    ::close(reader);

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.finish(kStopLimit).status, 0);
}

struct WriteErrorCase {
    const char* name;
    std::vector<std::string> args;
    bool closeOutputFirst;  // the reader of standard output goes away
    std::string message;
};

void PrintTo(const WriteErrorCase& c, std::ostream* os) { *os << c.name; }

class KdxsimWriteErrors : public ::testing::TestWithParam<WriteErrorCase> {};

TEST_P(KdxsimWriteErrors, EndItWithStatus1AndTheReason) {
    Kdxsim sim(GetParam().args);
    const std::string port = sim.firstLine();
    if (GetParam().closeOutputFirst) sim.closeOutput();
    Line line(port);
    ASSERT_TRUE(line.write(kQuery));  // a message to log
    Outcome o = sim.finish(kStopLimit);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "kdxsim: " + GetParam().message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Output, KdxsimWriteErrors,
    ::testing::Values(WriteErrorCase{"LogOnAFullDisk", {"--log", "/dev/full"}, false,
                                     std::string("cannot write the log /dev/full: ") + std::strerror(ENOSPC)},
                      WriteErrorCase{"ReaderGone", {}, true,
                                     std::string("cannot write standard output: ") + std::strerror(EPIPE)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
