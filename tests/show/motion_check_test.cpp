// SPDX-License-Identifier: GPL-3.0-or-later
// The motion check on small hand-made shows whose answer is worked out by
// hand. The model: a byte takes 4.167 ms on the line, so a command arrives
// 33.336 ms after the previous one left; rate 7 takes 45 s x 7/63 = 5 s for
// the full travel of 2000 us, i.e. 0.4 us per ms (1000 us in 2.5 s). Showing
// a frame sends every changed position live with the rate still on display
// (the previous frame's), then the pass sends the stored setting.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "show/MotionCheck.h"

namespace {

struct Set {
    int frame, channel, position, rate, pause;
};

// Frames used from 0 to the highest one named; channels named are changed.
Sequence show(const std::vector<Set>& sets, std::vector<std::pair<int, int>> jumps = {}) {
    Sequence seq;
    for (const Set& s : sets) {
        ChannelSetting& c = seq.channel(s.frame, s.channel);
        c.position = s.position;
        c.rate = s.rate;
        c.pause = s.pause;
        c.changed = 1;
        for (int f = 0; f <= s.frame; ++f) seq.frame(f).frameUsed = 1;
    }
    for (auto [from, to] : jumps) seq.frame(from).jumpTo = to;
    return seq;
}

std::vector<std::string> unfinished(const Sequence& seq) {
    std::vector<std::string> lines;
    for (const Move& m : modelMoves(Timeline::of(seq)))
        if (!m.finishes()) lines.push_back(describeUnfinished(m));
    return lines;
}

// Frame 1 moves channel 0 from 1000 to 2000 us at rate 7 (2.5 s). The move
// starts with the live command at 3066.672 ms; the pass's command 33.336 ms
// later keeps the target, and the pass ends after frame 1's pause: the move
// has 33.336 ms + the pause.
TEST(MotionCheck, AMoveFinishesWhenThePauseLeavesItTimeAndIsListedWhenNot) {
    auto withPause = [](int pause) {
        return show({{0, 0, 1000, 7, 3000}, {1, 0, 2000, 7, pause}});
    };
    EXPECT_EQ(unfinished(withPause(2467)), std::vector<std::string>{});  // 2500.336 ms
    EXPECT_EQ(unfinished(withPause(2466)),
              std::vector<std::string>{
                  "frame 1 channel 0: 1000 -> 2000 us at rate 7 needs 2.50 s, the pass ends after 2.49 s"});
}

// Frame 1 jumps to frame 2 after channel 0, so frame 2 (which would keep
// the target for 5 s) is skipped and frame 3's live command redirects the
// servo 3633.344 - 3066.672 = 566.672 ms after the move began. Frame 3's own
// move (1226.7 -> 1500 us, 683 ms) has 1033 ms and finishes.
TEST(MotionCheck, AJumpDecidesWhichCommandComesNext) {
    const Sequence seq = show(
        {{0, 0, 1000, 7, 3000}, {1, 0, 2000, 7, 500}, {2, 0, 2000, 7, 5000}, {3, 0, 1500, 7, 1000}}, {{1, 2}});
    EXPECT_EQ(unfinished(seq), std::vector<std::string>{"frame 1 channel 0: 1000 -> 2000 us at rate 7 needs "
                                                        "2.50 s, the next command comes after 0.56 s"});
}

// A servo's first command puts it at its target at once, whatever the rate:
// nobody knows where it stood. Channel 1 is first sent at rate 7 when the
// file is loaded (frame 0's rate differs from a fresh start); frame 1's move
// from 1500 to 2000 us then takes 1.25 s and has 2 s.
TEST(MotionCheck, AServosFirstCommandArrivesAtOnce) {
    Sequence seq = show({{0, 0, 1000, 0, 100}, {1, 1, 2000, 7, 2000}});
    seq.channel(0, 1).rate = 7;
    EXPECT_EQ(unfinished(seq), std::vector<std::string>{});
}

// Rate 0 is no speed control: every move arrives at once, even with no
// pause at all before the pass ends.
TEST(MotionCheck, RateZeroArrivesAtOnce) {
    const Timeline record = Timeline::of(show({{0, 0, 1000, 0, 100}, {1, 0, 2500, 0, 0}}));
    const std::vector<Move> moves = modelMoves(record);
    ASSERT_EQ(moves.size(), 2u);  // each frame's live command and its pass's
    EXPECT_EQ(moves[1].command.pulse, 1250);
    EXPECT_EQ(moves[1].fromPulse, 500);
    EXPECT_EQ(moves[1].endPulse, 1250);  // there when the pass ends
    for (const Move& m : moves) {
        EXPECT_EQ(m.needsMs, 0);
        EXPECT_TRUE(m.finishes());
    }
}

// A loop ends the pass where it comes back to a frame already played: the
// frames begun are 0, 1, 2 and the pass ends after frame 2's last pause.
TEST(MotionCheck, ALoopIsFollowedOnceAround) {
    const Timeline record =
        Timeline::of(show({{0, 0, 1000, 0, 100}, {1, 0, 1200, 0, 100}, {2, 0, 1400, 0, 100}}, {{2, 0}}));
    // Times run from Play. Loading showed frame 0: the changed position went
    // out live, then the marked channel once more, the last in by the time
    // Play begins; the pass sends it again.
    ASSERT_EQ(record.commands.size(), 2u + 1 + 2 + 2);
    EXPECT_NEAR(record.commands[0].atMs, -33.336, 1e-6);
    EXPECT_NEAR(record.commands[1].atMs, 0, 1e-6);
    EXPECT_NEAR(record.commands[2].atMs, 33.336, 1e-6);
    ASSERT_EQ(record.frames.size(), 3u);
    EXPECT_EQ(record.frames[2].frame, 2);
    EXPECT_EQ(record.commands.back().frame, 2);
    EXPECT_NEAR(record.passMs, record.commands.back().atMs + 100, 1e-6);
}

}  // namespace
