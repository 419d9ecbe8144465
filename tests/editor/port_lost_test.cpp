// SPDX-License-Identifier: GPL-3.0-or-later
// A device that goes away (an adapter pulled) while the port is open: the
// first operation that meets it closes the port once and shows the loss, a
// running playback ends as Stop would, and nothing afterwards waits for a
// line that is gone. The simulator's vanish() closes the far side of the pty.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "CoreFixture.h"
#include "ShowTime.h"

namespace {

const char* const kLost = "    Comm Port Lost";

class PortLost : public CoreFixture {
protected:
    int lostShown() const {
        return static_cast<int>(std::count_if(view.statuses.begin(), view.statuses.end(),
                                              [](const FakeView::Status& s) { return s.text == kLost; }));
    }
    void expectLostOnce() {
        EXPECT_EQ(lostShown(), 1);
        EXPECT_EQ(view.statusText, kLost);
        EXPECT_EQ(view.statusColour, kYellow);
        auto it = std::find_if(view.statuses.begin(), view.statuses.end(),
                               [](const FakeView::Status& s) { return s.text == kLost; });
        ASSERT_NE(it, view.statuses.end());
        EXPECT_EQ(it->colour, kYellow);
        EXPECT_TRUE(it->repaintNow);
        EXPECT_FALSE(core.serialPort().isOpen());
        EXPECT_EQ(core.state().portStatus, -1);
        EXPECT_EQ(core.lostPortName(), sim.portName());
    }
    void expectStoppedAtFrame0() {
        EXPECT_FALSE(core.state().playing);
        EXPECT_EQ(core.state().currentFrame, 0);
        EXPECT_EQ(view.frameLabel, "0");
        EXPECT_TRUE(view.enabled(ViewButton::Write));
        EXPECT_TRUE(view.enabled(ViewButton::Insert));
        EXPECT_TRUE(view.enabled(ViewButton::Delete));
    }
};

// ----------------------------------------------------------- playback ----

TEST_F(PortLost, DuringAPassThePlaybackStopsWithoutWaitingTheRestOfThePass) {
    // Frame 0 plays channels 0..2, each waiting 100 ms; frame 1 would wait
    // 5000 ms.
    for (int c = 0; c < 3; ++c) setChannel(0, c, c == 1 ? 1600 : 1500, 5, 0, 100);
    useFrame(0);
    setChannel(1, 0, 1500, 9, 0, 5000);
    useFrame(1);
    // The adapter is pulled as channel 0's pause ends (its wire time, then
    // its pause).
    bool pulled = false;
    ticks.onSleep = [&](uint64_t slept) {
        if (slept < 100 || pulled) return;
        sim.vanish();
        pulled = true;
    };
    takeSent();
    view.statuses.clear();
    const uint64_t before = ticks.totalSlept();

    core.RunClick();

    // The line takes no time on the fake clock, so each command's wire time
    // is waited: channel 1's live command as frame 0 is shown, channel 0's
    // with its pause in full, and channel 1's, whose send met the loss: no
    // pause for it, nothing of channel 2, nothing of frame 1.
    EXPECT_EQ(ticks.totalSlept() - before, playedMs(100, 3));
    expectLostOnce();
    expectStoppedAtFrame0();
    EXPECT_EQ(view.eventRounds, 1);  // no further round of events
    // Stop's own state, not its status: the loss stays on view.
    EXPECT_EQ(view.statuses.back().text, kLost);
    // The strips show frame 0, as after Stop.
    EXPECT_EQ(core.strip(1).PositionEdit.value(), 1600);
    EXPECT_EQ(core.strip(1).Track.position(), 1400);
}

TEST_F(PortLost, AtTheStartOfAFrameThePlaybackStopsBeforeShowingIt) {
    setChannel(0, 0, 1500, 1, 0, 100);
    useFrame(0);
    setChannel(1, 0, 1800, 2, 0, 5000);  // shown: a live send that meets the loss
    useFrame(1);
    setChannel(2, 0, 1500, 3, 0, 5000);
    useFrame(2);
    view.onEvents = [&](int round) {
        if (round == 2) sim.vanish();
    };
    const uint64_t before = ticks.totalSlept();

    core.RunClick();

    // Frame 0's pause, and the wire time of frame 1's live send that met
    // the loss; nothing more.
    EXPECT_EQ(ticks.totalSlept() - before, playedMs(100, 1));
    expectLostOnce();
    expectStoppedAtFrame0();
    EXPECT_EQ(view.eventRounds, 2);
    EXPECT_EQ(core.strip(0).PositionEdit.value(), 1500);  // frame 0 again
    EXPECT_EQ(core.strip(0).RateEdit.value(), 1);
}

TEST_F(PortLost, ALossInAHandlerRunByThePlayerEndsThePlayback) {
    // A live edit made while the player handles events meets the loss.
    for (int f = 0; f < 3; ++f) {
        setChannel(f, 0, 1500, f + 1, 0, 1000);
        useFrame(f);
    }
    view.onEvents = [&](int round) {
        if (round != 2) return;
        sim.vanish();
        core.userStrip(9).OffsetTrack.userMove(4);
    };
    const uint64_t before = ticks.totalSlept();

    core.RunClick();

    // The edit's command took its place on the show's time line.
    EXPECT_EQ(ticks.totalSlept() - before, playedMs(1000, 1));
    expectLostOnce();
    expectStoppedAtFrame0();
    EXPECT_EQ(core.strip(0).RateEdit.value(), 1);
}

TEST_F(PortLost, APlaybackInsideAPlaybackEndsBoth) {
    for (int f = 0; f < 4; ++f) {
        setChannel(f, 0, 1500, f + 1, 0, 1000);
        useFrame(f);
    }
    view.onEvents = [&](int round) {
        if (round == 2) core.RunClick();  // a second Play
        if (round == 5) sim.vanish();     // inside the inner playback, at its frame 2
    };
    const uint64_t before = ticks.totalSlept();

    core.RunClick();

    // Outer frame 0, inner frames 0 and 1; the inner frame 2 meets the loss.
    EXPECT_EQ(ticks.totalSlept() - before, playedMs(3000, 3));
    expectLostOnce();
    expectStoppedAtFrame0();
    EXPECT_EQ(view.eventRounds, 5);
}

TEST_F(PortLost, APlaybackStartedAfterTheLossPlaysAsWithoutAPort) {
    setChannel(0, 0, 1500, 1, 0, 100);
    useFrame(0);
    sim.vanish();
    core.userStrip(3).OffsetTrack.userMove(2);  // meets the loss
    ASSERT_FALSE(core.serialPort().isOpen());
    const uint64_t before = ticks.totalSlept();

    core.RunClick();

    // Frame 0's display sends channel 3's offset, then the pass plays
    // channels 0 and 3: the show's time without a line.
    EXPECT_EQ(ticks.totalSlept() - before, playedMs(100, 3));
    EXPECT_EQ(view.statusText, " Sequence Complete ");
    EXPECT_EQ(lostShown(), 1);
}

// ------------------------------------- every other path that sends ----

struct SendingPath {
    const char* name;
    std::function<void(CoreRig&)> run;
    uint32_t waitsMs;  // the waits its specified steps make after the loss
};

void PrintTo(const SendingPath& p, std::ostream* os) { *os << p.name; }

class PortLostOnEveryPath : public CoreFixtureP<SendingPath> {};

TEST_P(PortLostOnEveryPath, EndsPromptlyAndShowsTheLossOnce) {
    const SendingPath& path = GetParam();
    // Every channel marked in frames 0 and 1, so that showing a frame sends.
    for (int f = 0; f < 2; ++f) {
        for (int c = 0; c < kChannelCount; ++c) setChannel(f, c, 1000 + 20 * f + c, 0, 0, 0);
        useFrame(f);
    }
    sim.vanish();
    view.statuses.clear();
    const uint64_t before = ticks.totalSlept();
    const auto start = std::chrono::steady_clock::now();

    path.run(*this);

    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    EXPECT_EQ(ticks.totalSlept() - before, path.waitsMs);
    // No write or read waits out its time-out on a line that is gone.
    EXPECT_LT(realMs, 2000);
    EXPECT_EQ(std::count_if(view.statuses.begin(), view.statuses.end(),
                            [](const FakeView::Status& s) { return s.text == kLost; }),
              1);
    EXPECT_EQ(view.statusText, kLost);
    EXPECT_FALSE(core.serialPort().isOpen());
    EXPECT_EQ(core.state().portStatus, -1);

    // Sends on the closed port do nothing and report nothing more.
    view.statuses.clear();
    core.userStrip(5).OffsetTrack.userMove(3);
    core.NextFrameClick();
    EXPECT_TRUE(std::none_of(view.statuses.begin(), view.statuses.end(),
                             [](const FakeView::Status& s) { return s.text == kLost; }));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PortLostOnEveryPath,
    ::testing::Values(
        SendingPath{"LiveEdit", [](CoreRig& r) { r.core.userStrip(2).OffsetTrack.userMove(7); }, 0},
        SendingPath{"NextFrame", [](CoreRig& r) { r.core.NextFrameClick(); }, 0},
        // The 5 ms after each of the 32 channels are steps of Reset itself.
        SendingPath{"Reset", [](CoreRig& r) { r.core.FrameResetClick(); }, 32 * 5},
        SendingPath{"Play", [](CoreRig& r) { r.core.RunClick(); }, 0},
        SendingPath{"Stop", [](CoreRig& r) { r.core.StopClick(); }, 0},
        SendingPath{"Download", [](CoreRig& r) { r.core.DownloadClick(); }, 0},
        // The query's first 500 ms and the probe's 50 ms come before anything
        // can fail; the probe then fails ("    KDX not found ").
        SendingPath{"VersionQuery", [](CoreRig& r) { r.core.ReadClick(); }, 500 + 50}),
    [](const ::testing::TestParamInfo<SendingPath>& info) { return std::string(info.param.name); });

// ---------------------------------------------------- choosing again ----

TEST_F(PortLost, ThePortCanBeChosenAgainAfterReplugging) {
    sim.vanish();
    core.userStrip(0).OffsetTrack.userMove(1);
    ASSERT_EQ(core.state().portStatus, -1);

    sim::ControllerSimulator replugged;
    ASSERT_TRUE(replugged.start()) << replugged.error();
    view.statuses.clear();
    core.ComPortComboClick(replugged.portName());

    ASSERT_EQ(view.statuses.size(), 2u);
    EXPECT_EQ(view.statuses[0].text, " Opening Comm Port");
    EXPECT_EQ(view.statuses[1].text, "  Comm Port Open");
    EXPECT_EQ(view.statuses[1].colour, kLime);
    EXPECT_EQ(core.state().portStatus, 0);
    EXPECT_TRUE(core.lostPortName().empty());
    // Edits reach the new device.
    core.userStrip(0).OffsetTrack.userMove(2);
    EXPECT_TRUE(replugged.waitFor(
        [](const std::vector<sim::Event>& ev) { return !CoreRig::positionsIn(ev).empty(); },
        std::chrono::seconds(10)));
    EXPECT_EQ(CoreRig::positionsIn(replugged.events()).front(), (Sent{0, 0, 751}));
}

}  // namespace
