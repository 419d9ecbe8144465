// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated controller of the port submenu: selected through the same
// port selection, serial port object and command set as a real port, over a
// pseudo-terminal the program makes itself; a real port and the simulated
// controller release each other; a failure to start leaves the port alone.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeTicks.h"
#include "FakeView.h"
#include "RecordingNotifier.h"
#include "editor/EditorCore.h"
#include "link/Commands.h"
#include "sim/ControllerSimulator.h"

namespace {

using namespace std::chrono_literals;

// The descriptor limit under which exactly `count` descriptors are free: the
// simulator's start (a pseudo-terminal pair, then a pipe) fails at its pipe,
// while the sanitizers' own checks, which need a pipe of two, still work.
rlim_t limitLeavingFree(int count) {
    for (int fd = 0;; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && --count == 0) return static_cast<rlim_t>(fd) + 1;
}

class SimulatedControllerTest : public ::testing::Test {
protected:
    void TearDown() override { core.FormClose(); }

    // The statuses of one selection with the fake milliseconds they came at.
    std::vector<std::pair<std::string, uint64_t>> select(const std::function<void()>& click) {
        std::vector<std::pair<std::string, uint64_t>> shown;
        const uint64_t start = ticks.totalSlept();
        view.onStatus = [&](const FakeView::Status& s) { shown.emplace_back(s.text, ticks.totalSlept() - start); };
        click();
        view.onStatus = nullptr;
        return shown;
    }

    FakeView view;
    RecordingNotifier notifier;
    FakeTicks ticks;
    EditorCore core{view, notifier, ticks, [] { return std::vector<std::string>{}; }};
};

TEST_F(SimulatedControllerTest, IsSelectedAsAPortAndAnswersThroughTheCommandSet) {
    core.FormCreate();
    ASSERT_TRUE(core.simulatorAvailable());
    using Shown = std::vector<std::pair<std::string, uint64_t>>;
    EXPECT_EQ(select([&] { core.SimulatedControllerClick(); }),
              (Shown{{" Opening Comm Port", 500}, {"  Comm Port Open", 1000}}));
    ASSERT_TRUE(core.simulatorChosen());
    const auto simulator = core.simulator();
    EXPECT_EQ(core.serialPort().portName(), simulator->portName());
    EXPECT_EQ(simulator->lineBaud(), 2400u);

    // The version query's waits are fake here; the answer must still be on
    // the line when it is read.
    ticks.onSleep = [](uint64_t) { std::this_thread::sleep_for(1ms); };
    core.ReadClick();
    ticks.onSleep = nullptr;
    EXPECT_EQ(view.statusText, "      Version: 1.4");

    // A live edit at rate 0: the servo is at its target at once.
    core.userStrip(5).PositionEdit.setText("2000");
    ASSERT_TRUE(simulator->waitFor(
        [](const std::vector<sim::Event>& ev) {
            return !ev.empty() && ev.back().kind == sim::Event::Kind::Position && ev.back().position.channel == 5;
        },
        5s));
    const sim::ServoState servo = simulator->servo(5);
    EXPECT_TRUE(servo.commanded);
    EXPECT_EQ(servo.currentPulse, 1000);

    // The latest 200 messages are kept for a display, however many came.
    for (int i = 0; i < 220; ++i) core.sendPosition(1, 0, 1000 + 2 * i, 0);
    ASSERT_TRUE(simulator->waitFor(
        [](const std::vector<sim::Event>& ev) { return !ev.empty() && ev.back().position.pulse == 500 + 219; },
        5s));
    const sim::Snapshot snapshot = simulator->snapshot(0, 200);
    ASSERT_EQ(snapshot.recent.size(), 200u);
    EXPECT_EQ(snapshot.recent.back().position.pulse, 500 + 20);

    // Chosen again: closed and reopened like any port, the same controller.
    EXPECT_EQ(select([&] { core.SimulatedControllerClick(); }),
              (Shown{{"   Closing old Port", 500}, {" Opening Comm Port", 1000}, {"  Comm Port Open", 1500}}));
    EXPECT_EQ(core.simulator(), simulator);
    EXPECT_TRUE(simulator->servo(5).commanded);
}

TEST_F(SimulatedControllerTest, ARealPortAndTheSimulatedControllerReleaseEachOther) {
    sim::ControllerSimulator real;  // stands in for a device on a real port
    ASSERT_TRUE(real.start()) << real.error();
    core.FormCreate();

    core.ComPortComboClick(real.portName());
    ASSERT_TRUE(core.serialPort().isOpen());
    core.SimulatedControllerClick();
    ASSERT_TRUE(core.simulatorChosen());
    const std::string simPort = core.simulator()->portName();
    // The real port was let go: the edit goes to the simulated one only.
    real.clear();
    core.userStrip(2).PositionEdit.setText("2500");
    ASSERT_TRUE(core.simulator()->waitFor([](const auto& ev) { return !ev.empty(); }, 5s));
    EXPECT_EQ(real.receivedCount(), 0u);

    // A display goes on holding it, as the servo view does.
    std::shared_ptr<sim::ControllerSimulator> shown = core.simulator();
    core.ComPortComboClick(real.portName());
    EXPECT_EQ(core.serialPort().portName(), real.portName());
    EXPECT_FALSE(core.simulatorChosen());
    EXPECT_EQ(core.simulator(), nullptr);
    // Stopped all the same: its pair is gone, and its last state readable.
    EXPECT_NE(::access(("/dev/" + simPort).c_str(), F_OK), 0);
    EXPECT_EQ(shown->servo(2).targetPulse, 1250);
    EXPECT_EQ(shown.use_count(), 1);
}

// The process runs out of descriptors: no pseudo-terminal can be had.
TEST_F(SimulatedControllerTest, AFailureToStartIsShownAndTheOpenPortStays) {
    sim::ControllerSimulator real;
    ASSERT_TRUE(real.start()) << real.error();
    core.FormCreate();
    core.ComPortComboClick(real.portName());
    ASSERT_TRUE(core.serialPort().isOpen());
    const int portStatus = core.state().portStatus;
    const std::string status = view.statusText;
    const uint64_t slept = ticks.totalSlept();

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = limitLeavingFree(2);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    core.SimulatedControllerClick();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].rfind("The simulated controller could not start: ", 0), 0u) << view.errors[0];
    EXPECT_EQ(view.errors[0].back(), '.');
    EXPECT_GT(view.errors[0].size(), std::string("The simulated controller could not start: .").size());
    EXPECT_EQ(core.simulator(), nullptr);
    EXPECT_EQ(core.serialPort().portName(), real.portName());
    EXPECT_TRUE(core.serialPort().isOpen());
    EXPECT_EQ(core.state().portStatus, portStatus);
    EXPECT_EQ(view.statusText, status);
    EXPECT_EQ(ticks.totalSlept(), slept);  // no step of a selection ran
}

}  // namespace
