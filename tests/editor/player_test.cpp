// SPDX-License-Identifier: GPL-3.0-or-later
// The player: passes, jumps, the end of a sequence, and the handlers a user
// runs inside a playback (scripted at each round of event processing). What
// the player sends is read at the simulator; its pauses on the fake clock.
//
// Most sequences here keep every position at 1500 and tell frames apart by
// the rate: a rate change marks a channel but sends nothing live, so every
// command on the line is then a stored setting played by a pass.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CoreFixture.h"
#include "ShowTime.h"

namespace {

using Sends = std::vector<Sent>;

const char* const kAnimating = "          Animating   ";
const char* const kComplete = " Sequence Complete ";
const char* const kPaused = "           Paused";
const char* const kStopped = "           Stopped";

class PlayerTest : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        view.statuses.clear();
    }

    // Frames 0..count-1 used, each with channel 0 marked at rate f + 1.
    void rateFrames(int count) {
        for (int f = 0; f < count; ++f) {
            setChannel(f, 0, 1500, f + 1);
            useFrame(f);
        }
    }
    // What frame f of rateFrames sends.
    static Sent fromFrame(int f) { return {0, f + 1, 750}; }
    static Sends fromFrames(std::initializer_list<int> frames) {
        Sends out;
        for (int f : frames) out.push_back(fromFrame(f));
        return out;
    }

    void expectEditButtons(bool write, bool insert, bool del) {
        EXPECT_EQ(view.enabled(ViewButton::Write), write);
        EXPECT_EQ(view.enabled(ViewButton::Insert), insert);
        EXPECT_EQ(view.enabled(ViewButton::Delete), del);
    }
};

TEST_F(PlayerTest, PlaysTheUsedFramesInOrderThenCompletes) {
    rateFrames(5);
    view.setButtonEnabled(ViewButton::Pause, false);

    core.RunClick();

    EXPECT_EQ(takeSent(), fromFrames({0, 1, 2, 3, 4}));
    EXPECT_EQ(view.frameLabel, "5");
    EXPECT_EQ(view.statusText, kComplete);
    ASSERT_EQ(view.statuses.size(), 2u);
    EXPECT_EQ(view.statuses[0].text, kAnimating);
    EXPECT_FALSE(view.statuses[1].colour.has_value());
    // Neither text is drawn at once: the first round of events draws them.
    EXPECT_FALSE(view.statuses[0].repaintNow);
    EXPECT_FALSE(view.statuses[1].repaintNow);
    EXPECT_FALSE(core.state().playing);
    expectEditButtons(true, false, false);  // only Write comes back
    EXPECT_TRUE(view.enabled(ViewButton::Pause));
    // Events are handled once per used frame and once before returning.
    EXPECT_EQ(view.eventRounds, 6);
}

TEST_F(PlayerTest, WriteFrameAfterCompletionStoresTheLastShownFrameWithItsMarks) {
    rateFrames(2);
    setChannel(1, 4, 1500, 9, 0, 0, false);  // differs from frame 0: marked when shown

    core.RunClick();
    ASSERT_EQ(core.state().currentFrame, 2);
    core.WriteFrameClick();  // the one edit button that is back

    const Frame& f = core.sequence().frame(2);
    EXPECT_EQ(f.channels[0].rate, 2);
    EXPECT_EQ(f.channels[0].changed, 1);
    EXPECT_EQ(f.channels[4].rate, 9);
    EXPECT_EQ(f.channels[4].changed, 1);
    EXPECT_EQ(f.channels[1].changed, 0);
}

TEST_F(PlayerTest, ARecordedSequencePlaysTheChannelsEachFrameChanges) {
    editStrip(3, 1800);
    core.WriteFrameClick();
    editStrip(3, 2000);
    core.WriteFrameClick();
    editStrip(4, 1000);
    core.WriteFrameClick();  // frame 3 is a used copy of frame 2
    takeSent();

    core.RunClick();

    // Showing a frame sends what differs from the frame before and marks it;
    // the pass then plays the marked channels from the stored settings.
    EXPECT_EQ(takeSent(), (Sends{{3, 0, 900}, {4, 0, 750}, {3, 0, 900}, {4, 0, 750},  // frame 0
                                 {3, 0, 1000}, {3, 0, 1000},                          // frame 1
                                 {4, 0, 500}, {4, 0, 500}}));                         // frame 2
    EXPECT_EQ(view.frameLabel, "4");
    EXPECT_EQ(view.statusText, kComplete);
    EXPECT_EQ(core.sequence().channel(0, 3).changed, 1);
    EXPECT_EQ(core.sequence().channel(0, 4).changed, 1);
    EXPECT_EQ(core.sequence().channel(1, 4).changed, 0);
}

TEST_F(PlayerTest, AnUnusedFirstFrameCompletesAtOnce) {
    setChannel(0, 2, 1800);  // marked but not used

    core.RunClick();

    EXPECT_TRUE(takeSent().empty());
    ASSERT_EQ(view.statuses.size(), 2u);
    EXPECT_EQ(view.statuses[0].text, kAnimating);
    EXPECT_EQ(view.statuses[1].text, kComplete);
    EXPECT_EQ(view.frameLabel, "0");
    EXPECT_EQ(view.eventRounds, 1);
    EXPECT_FALSE(core.state().playing);
}

TEST_F(PlayerTest, ASequenceFillingFrames0To126EndsPastTheEndWithoutPlaying127) {
    for (int f = 0; f < 127; ++f) {
        setChannel(f, 0, 1500, f % 64);
        useFrame(f);
    }
    setChannel(127, 2, 1500, 5);
    useFrame(127);

    core.RunClick();

    Sends expected;
    for (int f = 0; f < 127; ++f) expected.push_back({0, f % 64, 750});
    EXPECT_EQ(takeSent(), expected);
    EXPECT_TRUE(core.state().playing);
    EXPECT_EQ(core.state().currentFrame, 127);
    EXPECT_EQ(view.statusText, kAnimating);
    EXPECT_EQ(view.statuses.size(), 1u);
    expectEditButtons(false, false, false);

    core.StopClick();
    expectEditButtons(true, true, true);
    EXPECT_EQ(view.statusText, kStopped);
}

TEST_F(PlayerTest, AJumpRedirectsTheRestOfThePassAndLoops) {
    // Channels 0 and 5 marked in frames 0, 1 and 2; frame 2 jumps to 0.
    for (int f = 0; f < 3; ++f) {
        setChannel(f, 0, 1500, 10 + f);
        setChannel(f, 5, 1500, 10 + f);
        useFrame(f);
    }
    useFrame(2, 0);
    std::vector<std::string> frameLabels, jumpLabels;
    std::vector<int> shownRates;
    view.onEvents = [&](int round) {
        frameLabels.push_back(view.frameLabel);
        jumpLabels.push_back(view.jumpLabel);
        shownRates.push_back(core.strip(0).RateEdit.value());
        if (round == 6) core.PauseButtonClick();
    };

    core.RunClick();

    auto f = [](int frame, int channel) { return Sent{channel, 10 + frame, 750}; };
    EXPECT_EQ(takeSent(), (Sends{f(0, 0), f(0, 5),   // round 1: frame 0
                                 f(1, 0), f(1, 5),   // round 2: frame 1
                                 f(2, 0), f(0, 5),   // round 3: frame 2, then frame 0 after the jump
                                 f(1, 0), f(1, 5),   // round 4: frame 1
                                 f(2, 0), f(0, 5),   // round 5
                                 f(1, 0), f(1, 5)}));  // round 6: paused, frame 1 still played
    // The label and the strips show the frame a pass began with; the player
    // shows no jump as an empty label.
    // (Round 7 runs before the label moves on.)
    EXPECT_EQ(frameLabels, (std::vector<std::string>{"0", "1", "2", "1", "2", "1", "1"}));
    EXPECT_EQ(jumpLabels, (std::vector<std::string>{"-1", "", "", "0", "", "0", ""}));
    EXPECT_EQ(shownRates, (std::vector<int>{0, 10, 11, 12, 11, 12, 11}));
    EXPECT_EQ(core.state().currentFrame, 2);
}

TEST_F(PlayerTest, EachFrameIsDrawnInTheStripsBeforeItsPassWaits) {
    for (int f = 0; f < 3; ++f) {
        setChannel(f, 0, 1500, f + 1, 0, 1);
        setChannel(f, 1, 1500, f + 1, 0, 1);
        useFrame(f);
    }
    std::vector<std::string> log;
    view.onRepaint = [&] { log.push_back("draw " + std::to_string(core.strip(1).RateEdit.value())); };
    ticks.onSleep = [&](uint64_t) { log.push_back("wait"); };

    core.RunClick();

    // Drawn once the frame is shown, before its channels' waits: each
    // command's wire time (but the very first's, on a line not seen yet)
    // and its pause.
    EXPECT_EQ(log, (std::vector<std::string>{"draw 1", "wait", "wait", "wait", "draw 2", "wait", "wait", "wait",
                                             "wait", "draw 3", "wait", "wait", "wait", "wait"}));
}

TEST_F(PlayerTest, AFrameJumpingToItselfPlaysOnceAndGoesOn) {
    for (int f = 0; f < 3; ++f) {
        setChannel(f, 0, 1500, 10 + f);
        setChannel(f, 5, 1500, 10 + f);
        useFrame(f);
    }
    useFrame(1, 1);

    core.RunClick();

    EXPECT_EQ(takeSent(), (Sends{{0, 10, 750}, {5, 10, 750}, {0, 11, 750}, {5, 11, 750},
                                 {0, 12, 750}, {5, 12, 750}}));
    EXPECT_EQ(view.statusText, kComplete);
    EXPECT_EQ(view.frameLabel, "3");
}

TEST_F(PlayerTest, AUsedFrameWithNoMarkedChannelIgnoresItsJump) {
    setChannel(0, 0, 1500, 1);
    useFrame(0);
    setChannel(1, 0, 1500, 1, 0, 0, false);  // shows as frame 0 did: nothing is marked
    useFrame(1, 0);
    setChannel(2, 0, 1500, 3);
    useFrame(2);
    view.onEvents = [&](int round) {
        if (round > 20) core.StopClick();  // a taken jump would loop for ever
    };

    core.RunClick();

    EXPECT_EQ(takeSent(), (Sends{{0, 1, 750}, {0, 3, 750}}));
    EXPECT_EQ(view.statusText, kComplete);
    EXPECT_EQ(view.frameLabel, "3");
}

TEST_F(PlayerTest, PauseDuringAFrameLetsTheNextOnePlayAndPlayResumesAfterIt) {
    rateFrames(6);
    // A click during frame 0's pass is handled at the start of frame 1.
    view.onEvents = [&](int round) {
        if (round == 2) core.PauseButtonClick();
    };

    core.RunClick();

    EXPECT_EQ(takeSent(), fromFrames({0, 1}));
    EXPECT_EQ(view.statusText, kPaused);
    EXPECT_TRUE(core.state().playing);
    EXPECT_TRUE(core.state().paused);
    EXPECT_EQ(core.state().currentFrame, 2);
    EXPECT_EQ(view.eventRounds, 3);

    view.onEvents = nullptr;
    core.RunClick();

    EXPECT_EQ(takeSent(), fromFrames({2, 3, 4, 5}));
    EXPECT_FALSE(core.state().paused);
    EXPECT_EQ(view.statusText, kComplete);
}

TEST_F(PlayerTest, PauseWhileIdleMakesTheNextPlayStartAtTheShownFrame) {
    rateFrames(6);
    core.NextFrameClick();
    core.NextFrameClick();
    core.NextFrameClick();
    takeSent();

    core.PauseButtonClick();
    EXPECT_EQ(view.statusText, kPaused);
    EXPECT_FALSE(view.statuses.back().repaintNow);
    EXPECT_TRUE(core.state().paused);
    EXPECT_FALSE(core.state().playing);

    core.RunClick();
    EXPECT_EQ(takeSent(), fromFrames({3, 4, 5}));
    EXPECT_FALSE(core.state().paused);
}

TEST_F(PlayerTest, StopDuringAFrameShowsFrame0ThenThePlayerPlaysItOnceMore) {
    rateFrames(4);
    setChannel(0, 0, 1600, 1);  // differs from the strips' 1500
    Sends beforeStop, byStop;
    view.onEvents = [&](int round) {
        if (round != 2) return;
        beforeStop = takeSent();
        core.StopClick();
        byStop = takeSent();
    };

    core.RunClick();

    // Frame 0: the position differs from the strip, so showing it sends it
    // live (rate still 0), then the pass sends the stored setting.
    EXPECT_EQ(beforeStop, (Sends{{0, 0, 800}, {0, 1, 800}}));
    EXPECT_EQ(byStop, (Sends{{0, 1, 800}}));       // frame 0's marked channel, live
    EXPECT_EQ(takeSent(), (Sends{{0, 1, 800}}));   // played again from the stored setting
    EXPECT_EQ(core.state().currentFrame, 1);
    EXPECT_EQ(view.frameLabel, "0");
    EXPECT_FALSE(core.state().playing);
    EXPECT_EQ(view.statusText, kStopped);
    expectEditButtons(true, true, true);
    EXPECT_EQ(view.eventRounds, 3);
}

TEST_F(PlayerTest, StopWhileIdleShowsFrame0AndSendsItsMarkedChannels) {
    setChannel(0, 0, 1600);
    setChannel(0, 7, 1500, 5);
    setCurrentFrame(3);
    view.setButtonEnabled(ViewButton::Write, false);
    view.setButtonEnabled(ViewButton::Insert, false);
    view.setButtonEnabled(ViewButton::Delete, false);

    core.StopClick();

    EXPECT_EQ(takeSent(), (Sends{{0, 0, 800}, {0, 0, 800}, {7, 5, 750}}));
    EXPECT_EQ(core.state().currentFrame, 0);
    EXPECT_EQ(view.frameLabel, "0");
    expectEditButtons(true, true, true);
    ASSERT_FALSE(view.statuses.empty());
    EXPECT_EQ(view.statuses.back().text, kStopped);
    EXPECT_TRUE(view.statuses.back().repaintNow);
}

TEST_F(PlayerTest, PlayInsidePlayRunsToItsEndThenTheOuterPlayerPlaysWhereItLeft) {
    rateFrames(4);
    view.onEvents = [&](int round) {
        if (round == 2) core.RunClick();
    };

    core.RunClick();

    // The inner playback ends at unused frame 4. The outer one shows frame 4,
    // whose default rate differs from frame 3's on display: that marks its
    // channel 0 (and the frame used), so the outer pass plays it.
    EXPECT_EQ(takeSent(), (Sends{fromFrame(0), fromFrame(0), fromFrame(1), fromFrame(2),
                                 fromFrame(3), {0, 0, 750}}));
    EXPECT_EQ(core.sequence().frame(4).frameUsed, 1);
    EXPECT_EQ(core.state().currentFrame, 5);
    EXPECT_FALSE(core.state().playing);
    EXPECT_EQ(view.statusText, kComplete);
    EXPECT_EQ(view.eventRounds, 8);
}

TEST_F(PlayerTest, NavigationDuringPlaybackMovesThePlayer) {
    rateFrames(6);
    setFrames(0, 4);
    std::string labelAfterNavigation;
    view.onEvents = [&](int round) {
        if (round != 2) return;
        core.LastFrameClick();
        labelAfterNavigation = view.frameLabel;
    };

    core.RunClick();

    // Frame 1, announced in the label, is not played: frame 4 is.
    EXPECT_EQ(takeSent(), fromFrames({0, 4, 5}));
    EXPECT_EQ(labelAfterNavigation, "4");
    EXPECT_EQ(view.frameLabel, "6");
    EXPECT_EQ(view.statusText, kComplete);
}

TEST_F(PlayerTest, ExitDuringPlaybackEndsItWithoutShowingOrPlayingAnotherFrame) {
    rateFrames(3);
    setChannel(1, 0, 1500, 2, 0, 5000);
    Sends beforeExit;
    uint32_t atExit = 0;
    view.onEvents = [&](int round) {
        if (round != 2) return;
        beforeExit = takeSent();
        atExit = ticks.GetTickCount();
        core.QuitClick();
    };

    core.RunClick();

    EXPECT_EQ(beforeExit, fromFrames({0}));
    EXPECT_TRUE(view.quitRequested);
    EXPECT_FALSE(core.serialPort().isOpen());
    EXPECT_EQ(view.eventRounds, 2);
    EXPECT_EQ(core.strip(0).RateEdit.value(), 1);  // frame 1 was never shown
    // Exit's two farewell waits, not frame 1's 5000 ms pause.
    EXPECT_GE(ticks.GetTickCount() - atExit, 1500u);
    EXPECT_LT(ticks.GetTickCount() - atExit, 5000u);
}

TEST_F(PlayerTest, PlayWithAPauseLeftAt127EndsPastTheEndAtOnce) {
    setChannel(127, 0, 1800);
    useFrame(127);
    ASSERT_TRUE(core.pauseAt(127));

    core.RunClick();

    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(view.eventRounds, 0);
    EXPECT_TRUE(core.state().playing);
    EXPECT_FALSE(core.state().paused);
    EXPECT_EQ(view.statusText, kAnimating);
    EXPECT_EQ(view.frameLabel, "0");
    expectEditButtons(false, false, false);
}

TEST_F(PlayerTest, AJumpBeyondTheLastFrameEndsThePassAndThePlayback) {
    setChannel(0, 0, 1500, 1);
    setChannel(0, 5, 1500, 1);
    useFrame(0, 200);  // only a loaded file can hold this
    setChannel(1, 0, 1500, 2);
    useFrame(1);

    core.RunClick();  // would abort on any access to frame 200

    EXPECT_EQ(takeSent(), (Sends{{0, 1, 750}}));
    EXPECT_TRUE(core.state().playing);
    EXPECT_EQ(view.statusText, kAnimating);
    EXPECT_EQ(core.state().currentFrame, kFrameCount);
    EXPECT_EQ(view.jumpLabel, "200");

    // Not a frame: the editor stays usable from there.
    core.PriorFrameClick();
    EXPECT_EQ(core.state().currentFrame, 127);
    EXPECT_EQ(view.frameLabel, "127");
    core.StopClick();
    EXPECT_EQ(core.state().currentFrame, 0);
}

TEST_F(PlayerTest, ALoadedFileWithValuesNoControlCouldHoldPlaysItsStoredBytesAndStops) {
    // Frame 0: channel 0 at 9999 / rate -5 / offset -300 / pause 70000,
    // changed 2; jumpTo 200. Frame 1 jumps to 500.
    view.openAnswers.push_back(std::string(KDX_TEST_DATA_DIR) + "/out_of_range.KDX");
    core.Open1Click();
    ASSERT_TRUE(view.errors.empty());
    ASSERT_EQ(core.sequence().frame(0).jumpTo, 200);
    takeSent();
    const uint32_t start = ticks.GetTickCount();

    core.RunClick();  // would abort on any access to frame 200

    // The stored setting goes out as it is (the rate byte wraps); the pass
    // ends at the jump; the pause is held to the box's longest.
    EXPECT_EQ(takeSent(), (Sends{{0, 251, (9999 - 300) / 2}}));
    EXPECT_EQ(ticks.GetTickCount() - start, playedMs(65535, 1));
    EXPECT_EQ(core.state().currentFrame, kFrameCount);
    EXPECT_TRUE(core.state().playing);
    EXPECT_EQ(view.statusText, kAnimating);
}

TEST(PlayerWithoutPort, WaitsEveryPauseOfThePlayedChannelsAndSendsNothing) {
    CoreRig rig;
    ASSERT_TRUE(rig.sim.start()) << rig.sim.error();  // present, but never opened
    rig.setChannel(0, 0, 1600, 0, 0, 100);
    rig.setChannel(0, 1, 1400, 0, 0, 250);
    rig.useFrame(0);
    rig.setChannel(1, 0, 1700, 0, 0, 400);
    rig.setChannel(1, 1, 1400, 0, 0, 250, false);  // as shown before: not played
    rig.useFrame(1);
    rig.setChannel(2, 2, 1000, 0, 0, 30);
    rig.useFrame(2);  // channels 0 and 1 differ from frame 1: played with pause 0
    const uint32_t start = rig.ticks.GetTickCount();

    rig.core.RunClick();

    // Without a port the show keeps its time too: 12 commands (the first
    // sent at once), each with its wire time.
    EXPECT_EQ(rig.ticks.GetTickCount() - start, playedMs(100u + 250u + 400u + 30u, 11));
    EXPECT_EQ(rig.view.frameLabel, "3");
    EXPECT_EQ(rig.view.statusText, kComplete);
    EXPECT_EQ(rig.core.sequence().channel(2, 0).changed, 1);
    EXPECT_FALSE(rig.core.serialPort().isOpen());
    EXPECT_TRUE(rig.sim.receivedBytes().empty());
    EXPECT_TRUE(rig.notifier.calls.empty());
}

TEST(PlayerWithoutPort, PausesOutsideTheBoxRangeAreHeldToIt) {
    CoreRig rig;
    rig.setChannel(0, 0, 1500, 0, 0, -1);      // would otherwise wait 49 days
    rig.setChannel(0, 1, 1500, 0, 0, 100000);  // held to 65535
    rig.useFrame(0);
    const uint32_t start = rig.ticks.GetTickCount();

    rig.core.RunClick();

    EXPECT_EQ(rig.ticks.GetTickCount() - start, playedMs(65535, 1));
    EXPECT_EQ(rig.view.statusText, kComplete);
}

}  // namespace
