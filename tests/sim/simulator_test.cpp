// SPDX-License-Identifier: GPL-3.0-or-later
// The controller simulator, driven through its pseudo-terminal as the
// application drives a serial port.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempFolder.h"
#include "sim/ControllerSimulator.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using sim::Event;

constexpr auto kWait = 5s;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The slave side opened with plain POSIX calls, raw, as the application does.
class Line {
public:
    explicit Line(const std::string& path, int extraFlags = 0) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | extraFlags);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

    void write(const Bytes& b) {
        ASSERT_EQ(::write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Reads exactly n bytes unless nothing arrives for the whole wait.
    Bytes read(size_t n) {
        Bytes got;
        while (got.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            uint8_t buf[256];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

private:
    int fd_ = -1;
};

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        logPath_ = std::filesystem::temp_directory_path() /
                   ("kdxsim_test_" + std::to_string(::getpid()) + "_" + std::to_string(++serial) + ".jsonl");
        sim::Options o;
        o.logPath = logPath_.string();
        sim_ = std::make_unique<sim::ControllerSimulator>(o);
        ASSERT_TRUE(sim_->start()) << sim_->error();
        line_ = std::make_unique<Line>(sim_->devicePath());
        ASSERT_GE(line_->fd(), 0);
    }
    void TearDown() override {
        line_.reset();
        sim_.reset();
        std::filesystem::remove(logPath_);
    }

    bool waitForEvents(size_t n) {
        return sim_->waitFor([n](const std::vector<Event>& e) { return e.size() >= n; }, kWait);
    }
    // Writes and waits until the simulator has taken every byte off the line,
    // so that the next write reaches it in a read of its own.
    void writeTaken(const Bytes& b) {
        const size_t before = sim_->receivedCount();
        line_->write(b);
        ASSERT_TRUE(sim_->waitForBytes(before + b.size(), kWait));
    }

    std::filesystem::path logPath_;
    std::unique_ptr<sim::ControllerSimulator> sim_;
    std::unique_ptr<Line> line_;
};

const Bytes kPosition3 = {0x21, 0x53, 0x43, 0x03, 0x07, 0xF3, 0x02, 0x0D};  // channel 3, rate 7, pulse 755
const Bytes kPosition31 = {0x21, 0x53, 0x43, 0x1F, 0x3F, 0xFB, 0x04, 0x0D};  // channel 31, rate 63, pulse 1275
const Bytes kQuery = bytesOf("!SCVER?\r");

TEST(SimulatorStart, PortNameIsTheSlavePathBelowDev) {
    sim::ControllerSimulator s;
    ASSERT_TRUE(s.start()) << s.error();
    EXPECT_EQ("/dev/" + s.portName(), s.devicePath());
    EXPECT_EQ(s.portName().rfind("pts/", 0), 0u);
}

TEST_F(SimulatorTest, EchoesEveryByteUntranslated) {
    // CR, LF, flow-control and signal characters must all pass untouched.
    const Bytes sent = {0x00, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A, 0x7F, 0x80, 0xFF, 0x0D};
    line_->write(sent);
    EXPECT_EQ(line_->read(sent.size()), sent);
    EXPECT_EQ(sim_->receivedBytes(), sent);
}

TEST_F(SimulatorTest, ProbeByteComesBackAndIsDecoded) {
    line_->write({0x55});
    EXPECT_EQ(line_->read(1), Bytes{0x55});
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(sim_->events()[0].kind, Event::Kind::Probe);
}

struct VersionCase {
    const char* name;
    std::string version;  // empty: the default
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class VersionReply : public SimulatorTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionReply, ThreeCharactersFollowTheEchoedQuery) {
    std::string expected = "1.4";
    if (!GetParam().version.empty()) {
        sim_->setVersion(GetParam().version);
        expected = GetParam().version;
    }
    line_->write(kQuery);
    EXPECT_EQ(line_->read(11), concat({kQuery, bytesOf(expected)}));
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(sim_->events()[0].kind, Event::Kind::VersionQuery);
    EXPECT_EQ(sim_->events()[0].raw, kQuery);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionReply,
                         ::testing::Values(VersionCase{"Default", ""}, VersionCase{"Custom", "2.7"},
                                           VersionCase{"WithNul", std::string("1\0003", 3)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatorTest, SilentAnswersNothingButStillDecodes) {
    sim_->setSilent(true);
    line_->write(kQuery);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(sim_->events()[0].kind, Event::Kind::VersionQuery);
    // Had the query produced any answer, it would arrive before this echo.
    sim_->setSilent(false);
    line_->write({0x55});
    EXPECT_EQ(line_->read(1), Bytes{0x55});
}

TEST_F(SimulatorTest, PositionCommandIsDecoded) {
    line_->write(kPosition3);
    ASSERT_TRUE(waitForEvents(1));
    const Event e = sim_->events()[0];
    ASSERT_EQ(e.kind, Event::Kind::Position);
    EXPECT_EQ(e.position.channel, 3);
    EXPECT_EQ(e.position.rate, 7);
    EXPECT_EQ(e.position.pulse, 755);
    EXPECT_EQ(e.raw, kPosition3);
    // A 0x55 or 0x21 among the value bytes is data, not a probe or a new command.
    const Bytes tricky = {0x21, 0x53, 0x43, 0x02, 0x21, 0x55, 0x03, 0x0D};
    line_->write(tricky);
    ASSERT_TRUE(waitForEvents(2));
    const Event t = sim_->events()[1];
    ASSERT_EQ(t.kind, Event::Kind::Position);
    EXPECT_EQ(t.position.channel, 2);
    EXPECT_EQ(t.position.rate, 0x21);
    EXPECT_EQ(t.position.pulse, 0x0355);
    EXPECT_EQ(sim_->events().size(), 2u);
}

// Two commands back to back, cut into writes at these sizes.
class SplitCommands : public SimulatorTest, public ::testing::WithParamInterface<std::vector<size_t>> {};

TEST_P(SplitCommands, AreDecodedWhereverTheCutsFall) {
    const Bytes all = concat({kPosition3, kPosition31});
    size_t at = 0;
    for (size_t size : GetParam()) {
        writeTaken(Bytes(all.begin() + at, all.begin() + at + size));
        at += size;
    }
    ASSERT_EQ(at, all.size());
    ASSERT_TRUE(waitForEvents(2));
    const auto ev = sim_->events();
    ASSERT_EQ(ev.size(), 2u);
    ASSERT_EQ(ev[0].kind, Event::Kind::Position);
    ASSERT_EQ(ev[1].kind, Event::Kind::Position);
    EXPECT_EQ(ev[0].position.pulse, 755);
    EXPECT_EQ(ev[1].position.channel, 31);
    EXPECT_EQ(ev[1].position.rate, 63);
    EXPECT_EQ(ev[1].position.pulse, 1275);
}

INSTANTIATE_TEST_SUITE_P(Cuts, SplitCommands,
                         ::testing::Values(std::vector<size_t>{1, 5, 7, 3}, std::vector<size_t>{3, 10, 3},
                                           std::vector<size_t>{8, 8}, std::vector<size_t>(16, 1),
                                           std::vector<size_t>{7, 2, 7}));

// "KDX", stamp, frame 0 with no channels, frame 1 with two.
const Bytes kDownload = concat({bytesOf("KDX0.9g"), {'F', 0}, {'F', 1},
                                {0, 0, 0x05, 0xDC, 0x00, 0x00},
                                {5, 63, 0x09, 0xC4, 0xFF, 0xFF}});

void expectTwoFrames(const Event& e) {
    ASSERT_EQ(e.kind, Event::Kind::Download);
    EXPECT_EQ(e.download.stamp, "0.9g");
    ASSERT_EQ(e.download.frames.size(), 2u);
    EXPECT_EQ(e.download.frames[0].frame, 0);
    EXPECT_TRUE(e.download.frames[0].channels.empty());
    EXPECT_EQ(e.download.frames[1].frame, 1);
    ASSERT_EQ(e.download.frames[1].channels.size(), 2u);
    const sim::DownloadChannel& a = e.download.frames[1].channels[0];
    const sim::DownloadChannel& b = e.download.frames[1].channels[1];
    EXPECT_EQ(a.channel, 0);
    EXPECT_EQ(a.rate, 0);
    EXPECT_EQ(a.position, 1500);
    EXPECT_EQ(a.pause, 0);
    EXPECT_EQ(b.channel, 5);
    EXPECT_EQ(b.rate, 63);
    EXPECT_EQ(b.position, 2500);
    EXPECT_EQ(b.pause, 65535);
}

TEST_F(SimulatorTest, DownloadEndsWhenTheLineGoesQuiet) {
    writeTaken(Bytes(kDownload.begin(), kDownload.begin() + 12));
    line_->write(Bytes(kDownload.begin() + 12, kDownload.end()));
    ASSERT_TRUE(waitForEvents(1));
    const auto ev = sim_->events();
    ASSERT_EQ(ev.size(), 1u);
    expectTwoFrames(ev[0]);
    EXPECT_EQ(ev[0].raw, kDownload);
}

TEST_F(SimulatorTest, DownloadEndsWhereTheNextCommandStarts) {
    // The empty frame comes last here, right before the command.
    const Bytes stream = concat({bytesOf("KDX0.9g"), {'F', 3, 1, 2, 0x03, 0xE8, 0x01, 0x00}, {'F', 4}});
    line_->write(concat({stream, kPosition3}));
    ASSERT_TRUE(waitForEvents(2));
    const auto ev = sim_->events();
    ASSERT_EQ(ev[0].kind, Event::Kind::Download);
    ASSERT_EQ(ev[0].download.frames.size(), 2u);
    ASSERT_EQ(ev[0].download.frames[0].channels.size(), 1u);
    EXPECT_EQ(ev[0].download.frames[0].channels[0].position, 1000);
    EXPECT_EQ(ev[0].download.frames[0].channels[0].pause, 256);
    EXPECT_EQ(ev[0].download.frames[1].frame, 4);
    EXPECT_TRUE(ev[0].download.frames[1].channels.empty());
    EXPECT_EQ(ev[0].raw, stream);
    EXPECT_EQ(ev[1].kind, Event::Kind::Position);
}

TEST_F(SimulatorTest, HeaderOnlyDownloadAndCutRecord) {
    // Header alone, then (after a probe) a stream whose last record is cut short.
    line_->write(concat({bytesOf("KDX0.9g"), {0x55}, bytesOf("KDX0.9g"), {'F', 0, 2, 0}}));
    ASSERT_TRUE(waitForEvents(4));
    const auto ev = sim_->events();
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(ev[0].kind, Event::Kind::Download);
    EXPECT_TRUE(ev[0].download.frames.empty());
    EXPECT_EQ(ev[1].kind, Event::Kind::Probe);
    ASSERT_EQ(ev[2].kind, Event::Kind::Download);
    ASSERT_EQ(ev[2].download.frames.size(), 1u);
    EXPECT_TRUE(ev[2].download.frames[0].channels.empty());
    EXPECT_EQ(ev[3].kind, Event::Kind::Unknown);
    EXPECT_EQ(ev[3].raw, (Bytes{2, 0}));
}

TEST_F(SimulatorTest, ADownloadEndsAtTheLongestStreamTheApplicationSends) {
    // 65 frames: the 65th cannot be part of a download. Then a frame of 33
    // records: the 33rd cannot either.
    Bytes stream = bytesOf("KDX0.9g");
    for (uint8_t f = 0; f < 65; ++f) stream.insert(stream.end(), {'F', f});
    line_->write(stream);
    ASSERT_TRUE(waitForEvents(2));
    Bytes records = concat({bytesOf("KDX0.9g"), {'F', 0}});
    for (uint8_t r = 0; r < 33; ++r) records.insert(records.end(), {static_cast<uint8_t>(r % 32), 0, 5, 0xDC, 0, 0});
    line_->write(records);
    ASSERT_TRUE(waitForEvents(4));
    const auto ev = sim_->events();
    ASSERT_EQ(ev.size(), 4u);
    ASSERT_EQ(ev[0].kind, Event::Kind::Download);
    EXPECT_EQ(ev[0].download.frames.size(), 64u);
    EXPECT_EQ(ev[1].kind, Event::Kind::Unknown);
    EXPECT_EQ(ev[1].raw, (Bytes{'F', 64}));
    ASSERT_EQ(ev[2].kind, Event::Kind::Download);
    ASSERT_EQ(ev[2].download.frames.size(), 1u);
    EXPECT_EQ(ev[2].download.frames[0].channels.size(), 32u);
    EXPECT_EQ(ev[3].kind, Event::Kind::Unknown);
    EXPECT_EQ(ev[3].raw, (Bytes{0, 0, 5, 0xDC, 0, 0}));
}

TEST(SimulatorHistory, KeepsOnlyTheLatestEventsAndBytes) {
    sim::Options o;
    o.historyEvents = 4;
    o.historyBytes = 16;
    sim::ControllerSimulator s(o);
    ASSERT_TRUE(s.start()) << s.error();
    Line line(s.devicePath());
    Bytes sent;
    for (uint8_t c = 0; c < 10; ++c) sent = concat({sent, {0x21, 0x53, 0x43, c, 0, 0xEE, 0x02, 0x0D}});
    line.write(sent);
    ASSERT_TRUE(s.waitForBytes(sent.size(), kWait));
    EXPECT_EQ(s.receivedCount(), sent.size());
    // At least the last 4 events and 16 bytes, at most twice as many.
    const auto ev = s.events();
    ASSERT_GE(ev.size(), 4u);
    ASSERT_LT(ev.size(), 8u);
    for (size_t i = 0; i < ev.size(); ++i) EXPECT_EQ(ev[i].position.channel, static_cast<int>(10 - ev.size() + i));
    const Bytes kept = s.receivedBytes();
    ASSERT_GE(kept.size(), 16u);
    ASSERT_LT(kept.size(), 32u);
    EXPECT_EQ(kept, Bytes(sent.end() - static_cast<std::ptrdiff_t>(kept.size()), sent.end()));
}

TEST_F(SimulatorTest, NoiseIsReportedAndDoesNotHideTheNextCommand) {
    // "!S" then a real command: the broken start must not swallow it.
    line_->write(concat({{'x', '!', 'S'}, kPosition3}));
    ASSERT_TRUE(sim_->waitFor(
        [](const auto& e) { return !e.empty() && e.back().kind == Event::Kind::Position; }, kWait));
    const auto ev = sim_->events();
    Bytes noise;
    for (size_t i = 0; i + 1 < ev.size(); ++i) {
        EXPECT_EQ(ev[i].kind, Event::Kind::Unknown);
        noise.insert(noise.end(), ev[i].raw.begin(), ev[i].raw.end());
    }
    EXPECT_EQ(noise, (Bytes{'x', '!', 'S'}));
    EXPECT_EQ(ev.back().position.pulse, 755);
}

struct RampCase {
    double start;
    int target, rate;
    double elapsedMs, expected;
};

class Ramp : public ::testing::TestWithParam<RampCase> {};

TEST_P(Ramp, FollowsTheModel) {
    const RampCase& c = GetParam();
    EXPECT_NEAR(sim::rampPulse(c.start, c.target, c.rate, c.elapsedMs), c.expected, 1e-6);
}

// Rate r covers the 1000 units of full travel in r/63 * 45 s.
INSTANTIATE_TEST_SUITE_P(
    Model, Ramp,
    ::testing::Values(RampCase{250, 1250, 0, 0, 1250},                    // no speed control
                      RampCase{250, 1250, 63, 1000, 250 + 1000.0 / 45},   // slowest: 22.2 units in 1 s
                      RampCase{1250, 250, 63, 1000, 1250 - 1000.0 / 45},  // and downward
                      RampCase{250, 1250, 63, 45000, 1250},               // full travel in 45 s
                      RampCase{250, 1250, 1, 45000.0 / 63 / 2, 750},      // rate 1: half way in 0.36 s
                      RampCase{250, 1250, 1, 45000.0 / 63, 1250},         // and there in 0.71 s
                      RampCase{700, 750, 8, 1e6, 750},                    // stops at the target
                      RampCase{700, 750, 8, 0, 700}));

TEST_F(SimulatorTest, ServoMovesByTheRampModel) {
    EXPECT_EQ(sim_->servo(4).targetPulse, 0);  // never commanded
    line_->write({0x21, 0x53, 0x43, 4, 0, 250 & 0xFF, 250 >> 8, 0x0D});
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(sim_->servo(4).currentPulse, 250);  // rate 0: there at once

    line_->write({0x21, 0x53, 0x43, 4, 63, 1250 & 0xFF, 1250 >> 8, 0x0D});
    ASSERT_TRUE(waitForEvents(2));
    const double t1 = sim_->events()[1].timeMs;
    const sim::ServoState now = sim_->servo(4);
    EXPECT_EQ(now.targetPulse, 1250);
    EXPECT_EQ(now.rate, 63);
    EXPECT_GE(now.currentPulse, 250);
    EXPECT_LT(now.currentPulse, 1250);
    EXPECT_NEAR(sim_->servoAt(4, t1 + 1000).currentPulse, 250 + 1000.0 / 45, 1e-6);

    // A new target mid-way sets off from where the servo is at that moment.
    line_->write({0x21, 0x53, 0x43, 4, 63, 250 & 0xFF, 250 >> 8, 0x0D});
    ASSERT_TRUE(waitForEvents(3));
    const double t2 = sim_->events()[2].timeMs;
    const double there = sim::rampPulse(250, 1250, 63, t2 - t1);
    EXPECT_NEAR(sim_->servoAt(4, t2).currentPulse, there, 1e-6);
    EXPECT_NEAR(sim_->servoAt(4, t2 + 500).currentPulse, sim::rampPulse(there, 250, 63, 500), 1e-6);
}

// A servo sent elsewhere before it arrived is marked until it next arrives;
// a repeat of the same target neither marks nor unmarks it.
TEST_F(SimulatorTest, AMoveCutShortIsMarkedUntilTheServoArrives) {
    auto command = [](int channel, int rate, int pulse) {
        return Bytes{0x21, 0x53, 0x43, static_cast<uint8_t>(channel), static_cast<uint8_t>(rate),
                     static_cast<uint8_t>(pulse & 0xFF), static_cast<uint8_t>(pulse >> 8), 0x0D};
    };
    auto timeOf = [this](size_t n) {
        EXPECT_TRUE(waitForEvents(n));
        return sim_->events()[n - 1].timeMs;
    };
    writeTaken(command(0, 63, 250));   // first command: there at once
    writeTaken(command(0, 63, 1250));  // 45 s of travel ahead
    const double t2 = timeOf(2);
    EXPECT_TRUE(sim_->servoAt(0, t2 + 1).moving());
    EXPECT_FALSE(sim_->servoAt(0, t2 + 1).redirected);  // it was resting when told

    writeTaken(command(0, 63, 1250));  // the same target again: no mark
    EXPECT_FALSE(sim_->servoAt(0, timeOf(3) + 1).redirected);

    writeTaken(command(0, 8, 300));  // elsewhere before it arrived
    const double t4 = timeOf(4);
    const sim::ServoState cut = sim_->servoAt(0, t4 + 1);
    EXPECT_TRUE(cut.redirected);
    writeTaken(command(0, 8, 300));  // repeated on the way: still marked
    const double t5 = timeOf(5);
    EXPECT_TRUE(sim_->servoAt(0, t5 + 1).redirected);
    // Rate 8 covers the full travel in 5.7 s: it has arrived by then.
    const sim::ServoState there = sim_->servoAt(0, t5 + 6000);
    EXPECT_EQ(there.currentPulse, 300);
    EXPECT_FALSE(there.moving());
    EXPECT_FALSE(there.redirected);

    // A servo never commanded is neither moving nor marked.
    EXPECT_FALSE(sim_->servoAt(1, t5).commanded);
    EXPECT_FALSE(sim_->servoAt(1, t5).moving());
}

// What a display reads: the servos now, the latest messages newest first
// and the last download only when something new was decoded; and a call
// from the simulator's thread for each batch of new messages.
TEST_F(SimulatorTest, SnapshotCarriesTheServosTheLatestMessagesAndTheMemory) {
    std::mutex m;
    std::condition_variable cv;
    int calls = 0;
    sim_->setChangeListener([&] {
        std::lock_guard lock(m);
        ++calls;
        cv.notify_all();
    });
    sim::Snapshot s = sim_->snapshot(0, 200);
    EXPECT_FALSE(s.changed);
    EXPECT_FALSE(s.anyMoving);
    EXPECT_FALSE(s.servos[3].commanded);

    writeTaken(kPosition3);
    writeTaken(kPosition31);
    writeTaken(concat({bytesOf("KDX0.9g"), {'F', 2, 5, 0, 0x05, 0xDC, 0x00, 0x64}}));
    ASSERT_TRUE(waitForEvents(3));  // the download ends when the line goes quiet
    {
        std::unique_lock lock(m);
        EXPECT_TRUE(cv.wait_for(lock, kWait, [&] { return calls >= 3; }));
    }

    s = sim_->snapshot(0, 2);
    EXPECT_TRUE(s.changed);
    EXPECT_EQ(s.messages, 3u);
    ASSERT_EQ(s.recent.size(), 2u);  // as many as asked, newest first
    EXPECT_EQ(s.recent[0].kind, Event::Kind::Download);
    EXPECT_EQ(s.recent[1].position.channel, 31);
    EXPECT_EQ(s.servos[3].targetPulse, 755);
    EXPECT_TRUE(s.servos[31].commanded);
    EXPECT_EQ(s.downloads, 1u);
    EXPECT_EQ(s.memory.stamp, "0.9g");
    ASSERT_EQ(s.memory.frames.size(), 1u);
    EXPECT_EQ(s.memory.frames[0].frame, 2);
    ASSERT_EQ(s.memory.frames[0].channels.size(), 1u);
    EXPECT_EQ(s.memory.frames[0].channels[0].position, 1500);
    EXPECT_EQ(s.memory.frames[0].channels[0].pause, 100);

    // Nothing new since: the servos only.
    const sim::Snapshot again = sim_->snapshot(s.messages, 200);
    EXPECT_FALSE(again.changed);
    EXPECT_TRUE(again.recent.empty());
    EXPECT_EQ(again.servos[3].targetPulse, 755);
    EXPECT_FALSE(again.anyMoving);

    // Channel 0 set off on a 45 s travel: moving, taken at the moment asked.
    writeTaken({0x21, 0x53, 0x43, 0, 0, 250 & 0xFF, 250 >> 8, 0x0D});
    writeTaken({0x21, 0x53, 0x43, 0, 63, 1250 & 0xFF, 1250 >> 8, 0x0D});
    ASSERT_TRUE(waitForEvents(5));
    const double before = sim_->nowMs();
    const sim::Snapshot moving = sim_->snapshot(0, 0);
    EXPECT_GE(moving.timeMs, before);
    EXPECT_LE(moving.timeMs, sim_->nowMs());
    EXPECT_TRUE(moving.servos[0].moving());
    EXPECT_TRUE(moving.anyMoving);
    EXPECT_TRUE(moving.recent.empty());  // none asked for

    // Once cleared, the listener is not called again.
    sim_->setChangeListener({});
    const int callsBefore = calls;
    writeTaken(kPosition3);
    ASSERT_TRUE(waitForEvents(6));
    EXPECT_EQ(calls, callsBefore);
}

// A channel byte beyond 31 is noise, not a command: no servo moves; and
// asking for a servo that does not exist gives one never commanded.
TEST_F(SimulatorTest, NoServoBeyondChannel31) {
    writeTaken({0x21, 0x53, 0x43, 32, 0, 0xEE, 0x02, 0x0D});
    ASSERT_TRUE(sim_->waitFor(
        [](const std::vector<Event>& ev) { return !ev.empty() && ev.back().kind == Event::Kind::Unknown; }, kWait));
    const sim::Snapshot s = sim_->snapshot(0, 0);
    for (const sim::ServoState& servo : s.servos) EXPECT_FALSE(servo.commanded);
    for (int channel : {-1, 32, 200}) EXPECT_FALSE(sim_->servo(channel).commanded) << channel;
}

TEST_F(SimulatorTest, StoppedReadingFillsTheWriterThenDrains) {
    sim_->setReading(false);
    Line writer(sim_->devicePath(), O_NONBLOCK);
    ASSERT_GE(writer.fd(), 0);
    const Bytes chunk(512, 0x00);
    size_t written = 0;
    int err = 0;
    while (written < 1024 * 1024) {
        const ssize_t n = ::write(writer.fd(), chunk.data(), chunk.size());
        if (n < 0) {
            err = errno;
            break;
        }
        written += static_cast<size_t>(n);
    }
    EXPECT_EQ(err, EAGAIN);
    EXPECT_TRUE(sim_->receivedBytes().empty());
    sim_->setReading(true);
    EXPECT_TRUE(sim_->waitForBytes(written, kWait));
    EXPECT_EQ(sim_->receivedBytes().size(), written);
    EXPECT_EQ(::write(writer.fd(), chunk.data(), 1), 1);
}

TEST_F(SimulatorTest, VanishBreaksTheLine) {
    line_->write(kPosition3);
    ASSERT_TRUE(waitForEvents(1));
    sim_->vanish();
    const uint8_t b = 0x55;
    errno = 0;
    EXPECT_EQ(::write(line_->fd(), &b, 1), -1);
    EXPECT_EQ(errno, EIO);
    pollfd p{line_->fd(), POLLOUT | POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    sim_->vanish();  // a second time is harmless
    sim_.reset();    // and so is the destructor afterwards
}

TEST_F(SimulatorTest, OwnSlaveFdNeitherHangsUpNorBlocksExclusiveUse) {
    // The application's way: exclusive mode and a lock on its own fd.
    Line app(sim_->devicePath());
    ASSERT_GE(app.fd(), 0);
    EXPECT_EQ(::ioctl(app.fd(), TIOCEXCL), 0);
    EXPECT_EQ(::flock(app.fd(), LOCK_EX | LOCK_NB), 0);
    if (::geteuid() != 0) {  // privileged users pass TIOCEXCL
        EXPECT_LT(::open(sim_->devicePath().c_str(), O_RDWR | O_NOCTTY), 0);
        EXPECT_EQ(errno, EBUSY);
    }
    Line other(sim_->devicePath());
    if (other.fd() >= 0) {
        EXPECT_EQ(::flock(other.fd(), LOCK_EX | LOCK_NB), -1);
        EXPECT_EQ(errno, EWOULDBLOCK);
        other.close();
    }
    ::ioctl(app.fd(), TIOCNXCL);
    app.close();
    line_->close();

    // With every outside fd closed, the simulator serves the next opener.
    Line again(sim_->devicePath());
    ASSERT_GE(again.fd(), 0);
    EXPECT_EQ(::flock(again.fd(), LOCK_EX | LOCK_NB), 0);
    again.write({'a', 'b'});
    EXPECT_EQ(again.read(2), bytesOf("ab"));
}

std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

TEST_F(SimulatorTest, LogsOneJsonLinePerMessage) {
    line_->write(concat({kPosition3, kQuery, {0x55}, bytesOf("KDX0.9g"), {'F', 0, 0, 0, 0x05, 0xDC, 0, 0},
                         kPosition31, {'!', 'S'}}));
    ASSERT_TRUE(waitForEvents(6));
    ASSERT_TRUE(sim_->waitLogWritten(kWait));
    const auto lines = readLines(logPath_);
    ASSERT_EQ(lines.size(), 6u);
    const std::regex t(R"(^\{"t":[0-9]+\.[0-9],(.*)$)");
    const std::vector<std::string> rest = {
        R"("type":"position","channel":3,"rate":7,"pulse":755})",
        R"("type":"version"})",
        R"("type":"probe"})",
        R"("type":"download","stamp":"0.9g","frames":[{"frame":0,"channels":[{"channel":0,"rate":0,"position":1500,"pause":0}]}]})",
        R"("type":"position","channel":31,"rate":63,"pulse":1275})",
        R"("type":"unknown","bytes":"21 53"})",
    };
    for (size_t i = 0; i < rest.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, t)) << lines[i];
        EXPECT_EQ(m[1].str(), rest[i]);
    }
}

}  // namespace

namespace {

TEST(SimulatorLog, AReaderThatGoesAwayIsReportedNotFatal) {
    TempFolder dir;
    const std::string fifo = dir.file("log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::mutex m;
    std::condition_variable cv;
    std::string failure;
    sim::Options o;
    o.logPath = fifo;
    o.onLogFailure = [&](const std::string& message) {
        std::lock_guard lock(m);
        failure = message;
        cv.notify_all();
    };
    sim::ControllerSimulator s(o);
    ASSERT_TRUE(s.start()) << s.error();
    Line line(s.devicePath());
    line.write({0x55});
    std::string log;
    while (log.find("probe") == std::string::npos) {
        pollfd p{reader, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        char buf[256];
        const ssize_t n = ::read(reader, buf, sizeof buf);
        if (n > 0) log.append(buf, static_cast<size_t>(n));
    }
    ::close(reader);
    line.write({0x55});
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, kWait, [&] { return !failure.empty(); }));
    EXPECT_EQ(failure, "cannot write the log " + fifo + ": " + std::strerror(EPIPE));
}

}  // namespace
