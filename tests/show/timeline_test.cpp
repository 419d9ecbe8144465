// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline of one pass against times worked out by hand. A command
// takes W = 8 bytes x 4.167 ms = 33.336 ms on the line; the pass's command
// of a channel is followed by its pause, a live one (a frame's display) by
// none. The show, channels 0 and 1, rate and offset 0 throughout:
//   frame 0: 1000 (pause 100), 1000 (pause 200)     pauses
//   frame 1: 1200 (pause 50),  1000 (pause 0)       channel 0 shown live
//   frame 2: as frame 1, nothing marked             used, sends nothing
//   frame 3: 1400 (pause 10), 1400 (pause 10),      a jump after channel 0:
//            jumps to 5                              channel 1 from frame 5
//   frame 5: channel 1 at 1600 (pause 20)
//   frame 6: 1000 (pause 30), channel 1 as shown,   a loop: channel 1 from
//            jumps to 1                              frame 1, then frame 2,
//                                                    begun already: the end

#include <gtest/gtest.h>

#include <vector>

#include "show/Timeline.h"

namespace {

constexpr double W = 33.336;

Sequence handShow() {
    Sequence seq;
    auto set = [&](int f, int c, int position, int pause, bool changed = true) {
        seq.channel(f, c) = {position, 0, 0, pause, uint8_t{changed}, {}};
        seq.frame(f).frameUsed = 1;
    };
    set(0, 0, 1000, 100);
    set(0, 1, 1000, 200);
    set(1, 0, 1200, 50);
    set(1, 1, 1000, 0);
    set(2, 0, 1200, 50, false);
    set(2, 1, 1000, 0, false);
    set(3, 0, 1400, 10);
    set(3, 1, 1400, 10);
    seq.frame(3).jumpTo = 5;
    set(4, 0, 2000, 0);
    set(5, 1, 1600, 20);
    set(6, 0, 1000, 30);
    set(6, 1, 1400, 0, false);
    seq.frame(6).jumpTo = 1;
    return seq;
}

struct Expected {
    double atMs;
    int frame, pass, channel, position;
    bool live;
    double pauseMs;
};

TEST(Timeline, FramesCommandsAndJumpsOfAPassAreWhereTheyAreWorkedOutByHand) {
    const Timeline t = Timeline::of(handShow());

    // Loading showed frame 0: each channel live, then once more as marked,
    // the last one in as Play begins.
    ASSERT_GE(t.commands.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(t.commands[i].pass, -1);
        EXPECT_NEAR(t.commands[i].atMs, -W * (3 - static_cast<double>(i)), 1e-6);
    }

    const double f1 = W + 100 + W + 200;  // frame 0's two commands and pauses
    const double f3 = f1 + 3 * W + 50;    // frame 1: one live, two played
    const double f6 = f3 + 4 * W + 10 + 20;
    const std::vector<Expected> pass = {
        {W, 0, 0, 0, 1000, false, 100},
        {W + 100 + W, 0, 0, 1, 1000, false, 200},
        {f1 + W, 1, 1, 0, 1200, true, 0},
        {f1 + 2 * W, 1, 1, 0, 1200, false, 50},
        {f1 + 3 * W + 50, 1, 1, 1, 1000, false, 0},
        {f3 + W, 3, 3, 0, 1400, true, 0},
        {f3 + 2 * W, 3, 3, 1, 1400, true, 0},
        {f3 + 3 * W, 3, 3, 0, 1400, false, 10},
        {f3 + 4 * W + 10, 5, 3, 1, 1600, false, 20},  // after the jump
        {f6 + W, 6, 6, 0, 1000, true, 0},
        {f6 + 2 * W, 6, 6, 0, 1000, false, 30},
        {f6 + 3 * W + 30, 1, 6, 1, 1000, false, 0},  // after the loop's jump
    };
    ASSERT_EQ(t.commands.size(), 4 + pass.size());
    for (size_t i = 0; i < pass.size(); ++i) {
        const SentCommand& c = t.commands[4 + i];
        const Expected& e = pass[i];
        EXPECT_NEAR(c.atMs, e.atMs, 1e-6) << i;
        EXPECT_EQ(c.frame, e.frame) << i;
        EXPECT_EQ(c.pass, e.pass) << i;
        EXPECT_EQ(c.channel, e.channel) << i;
        EXPECT_EQ(c.pulse, e.position / 2) << i;
        EXPECT_EQ(c.live, e.live) << i;
        EXPECT_NEAR(c.pauseMs, e.pauseMs, 1e-6) << i;
    }

    // Frame 2 begins when frame 1 ends and holds no time; frames 4 and 5
    // are never begun.
    struct Begun {
        int frame;
        double atMs;
        int commands;
        double holdsMs;
    };
    const double end = f6 + 3 * W + 30;
    const std::vector<Begun> frames = {
        {0, 0, 2, f1}, {1, f1, 3, f3 - f1}, {2, f3, 0, 0}, {3, f3, 4, f6 - f3}, {6, f6, 3, end - f6}};
    ASSERT_EQ(t.frames.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(t.frames[i].frame, frames[i].frame) << i;
        EXPECT_NEAR(t.frames[i].atMs, frames[i].atMs, 1e-6) << i;
        EXPECT_EQ(t.frames[i].commands, frames[i].commands) << i;
        EXPECT_NEAR(t.frames[i].holdsMs, frames[i].holdsMs, 1e-6) << i;
    }
    EXPECT_NEAR(t.passMs, end, 1e-6);

    // Each jump when the pause before it ends, in the pass that holds it.
    ASSERT_EQ(t.jumps.size(), 2u);
    EXPECT_NEAR(t.jumps[0].atMs, f3 + 3 * W + 10, 1e-6);
    EXPECT_EQ(t.jumps[0].pass, 3);
    EXPECT_EQ(t.jumps[0].from, 3);
    EXPECT_EQ(t.jumps[0].to, 5);
    EXPECT_NEAR(t.jumps[1].atMs, f6 + 2 * W + 30, 1e-6);
    EXPECT_EQ(t.jumps[1].pass, 6);
    EXPECT_EQ(t.jumps[1].to, 1);
}

// What the soundtrack looks up: a frame's start, and when a channel's
// command in a frame's pass has arrived and its pause is over.
TEST(Timeline, LooksUpAFramesStartAndWhenAChannelsCommandAndPauseAreDone) {
    const Timeline t = Timeline::of(handShow());
    const double f1 = W + 100 + W + 200;
    const double f3 = f1 + 3 * W + 50;
    EXPECT_NEAR(*t.frameAtMs(3), f3, 1e-6);
    EXPECT_FALSE(t.frameAtMs(4));
    EXPECT_NEAR(*t.commandDoneMs(1, 0), f1 + 2 * W + 50, 1e-6);  // the played one, not the live one
    EXPECT_NEAR(*t.commandDoneMs(3, 1), f3 + 4 * W + 10 + 20, 1e-6);  // read from frame 5
    EXPECT_FALSE(t.commandDoneMs(2, 0));
    EXPECT_FALSE(t.commandDoneMs(5, 1));  // frame 5 has no pass of its own
    EXPECT_EQ(t.frameAt(f1 + 1)->frame, 1);
    EXPECT_EQ(t.frameAt(f3)->frame, 3);  // frame 2 holds no time
    EXPECT_EQ(t.frameAt(t.passMs)->frame, 6);
    EXPECT_EQ(t.frameAt(t.passMs + 1), nullptr);
    EXPECT_EQ(t.frameAt(-1), nullptr);
}

// A show whose frame 0 holds no recording plays nothing.
TEST(Timeline, AShowWithoutARecordingHasNoFrames) {
    const Timeline t = Timeline::of(Sequence{});
    EXPECT_TRUE(t.frames.empty());
    EXPECT_EQ(t.passMs, 0);
}

}  // namespace
