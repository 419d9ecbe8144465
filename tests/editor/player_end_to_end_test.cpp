// SPDX-License-Identifier: GPL-3.0-or-later
// A sequence recorded through the strips plays through a real pseudo-terminal
// to the controller simulator on the real clock: the commands arrive in the
// order of the passes, spaced by the channels' pauses.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "CoreFixture.h"
#include "link/TickSource.h"

namespace {

struct Arrival {
    Sent command;
    double timeMs;
};

class PlayerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        core.FormCreate();
        ASSERT_TRUE(sim.start()) << sim.error();
        ASSERT_TRUE(core.openPort(sim.portName()));
    }
    void TearDown() override { core.FormClose(); }

    void record(int channel, int position, int pause) {
        TChannel& s = core.userStrip(channel);
        s.PositionEdit.setText(std::to_string(position));
        s.PauseEdit.setText(std::to_string(pause));
        core.WriteFrameClick();
    }

    std::vector<Arrival> arrivals() const {
        std::vector<Arrival> out;
        for (const sim::Event& e : sim.events())
            if (e.kind == sim::Event::Kind::Position)
                out.push_back({{e.position.channel, e.position.rate, e.position.pulse}, e.timeMs});
        return out;
    }

    FakeView view;
    RecordingNotifier notifier;
    sim::ControllerSimulator sim;
    EditorCore core{view, notifier, systemTickSource(), [] { return std::vector<std::string>{}; }};
};

TEST_F(PlayerEndToEnd, CommandsArriveInPassOrderSpacedByThePauses) {
    record(0, 1600, 100);
    record(1, 1700, 200);
    record(2, 1800, 300);
    record(0, 1200, 150);  // frame 4 is a used copy of frame 3
    ASSERT_TRUE(sim.waitFor([](const auto& ev) { return CoreRig::positionsIn(ev).size() >= 4; },
                            std::chrono::seconds(10)));
    sim.clear();  // the live commands of the recording

    const double startedAt = sim.nowMs();
    const auto start = std::chrono::steady_clock::now();
    core.RunClick();
    const double playedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    ASSERT_EQ(view.statusText, " Sequence Complete ");
    EXPECT_EQ(view.frameLabel, "5");
    // Each frame's display sends (live) what differs from the frame before;
    // its pass then sends the stored settings of those channels, each
    // followed by its pause.
    struct Expect {
        Sent command;
        int pauseAfter;  // -1: a live command, no pause of its own
    };
    const std::vector<Expect> expected{
        {{0, 0, 800}, -1}, {{1, 0, 750}, -1}, {{2, 0, 750}, -1},  // frame 0 shown
        {{0, 0, 800}, 100}, {{1, 0, 750}, 0}, {{2, 0, 750}, 0},    // frame 0 played
        {{1, 0, 850}, -1}, {{1, 0, 850}, 200},                     // frame 1
        {{2, 0, 900}, -1}, {{2, 0, 900}, 300},                     // frame 2
        {{0, 0, 600}, -1}, {{0, 0, 600}, 150},                     // frame 3; frame 4 adds nothing
    };
    ASSERT_TRUE(sim.waitFor(
        [&](const auto& ev) { return CoreRig::positionsIn(ev).size() >= expected.size(); },
        std::chrono::seconds(10)));
    const std::vector<Arrival> got = arrivals();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i].command, expected[i].command) << "#" << i;

    // Arrival times carry the simulator thread's scheduling delay: a command
    // can arrive late but never early. So none arrives before the pauses
    // ahead of it have passed since Play (a wait counts whole ticks of the
    // millisecond counter and may end up to one tick short), and a gap over
    // a pause stays within a wide margin of it.
    constexpr double kLate = 400.0;
    double pausesAhead = 0;
    int waits = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_GE(got[i].timeMs - startedAt, pausesAhead - waits) << "#" << i;
        const double pause = std::max(expected[i].pauseAfter, 0);
        if (i + 1 < got.size()) {
            EXPECT_LE(got[i + 1].timeMs - got[i].timeMs, pause + kLate) << "after #" << i;
        }
        if (pause > 0) {
            pausesAhead += pause;
            ++waits;
        }
    }
    EXPECT_GE(playedMs, pausesAhead - waits);  // the last pause is waited too
}

}  // namespace
