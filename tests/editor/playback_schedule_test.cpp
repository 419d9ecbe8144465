// SPDX-License-Identifier: GPL-3.0-or-later
// The player's schedule on a fake clock whose sleeps wake late: lateness is
// made up by the following waits instead of adding up, a wait never lasts
// less than nothing, and a restart or a stall beyond the catch-up limit
// begins afresh.

#include <gtest/gtest.h>

#include <vector>

#include "FakeTicks.h"
#include "editor/PlaybackSchedule.h"
#include "link/Commands.h"

namespace {

struct LateCase {
    const char* name;
    std::vector<uint32_t> pauses;  // played in turn, again and again
    uint32_t overshoot;
};

class ScheduleKeepsTime : public ::testing::TestWithParam<LateCase> {};

// The k-th wait ends at the start plus the pauses so far, at most one
// overshoot late, however many waits came before it.
TEST_P(ScheduleKeepsTime, TheKthWaitEndsOnItsPointWithinOneOvershoot) {
    const LateCase& c = GetParam();
    FakeTicks ticks(0xFFFFF000u);  // the counter wraps on the way
    ticks.overshoot = c.overshoot;
    PlaybackSchedule schedule(ticks);
    const uint32_t start = ticks.GetTickCount();
    uint64_t due = 0;
    for (int k = 0; k < 3000; ++k) {
        const uint32_t pause = c.pauses[k % c.pauses.size()];
        schedule.wait(pause);
        due += pause;
        const uint32_t at = ticks.GetTickCount() - start;
        ASSERT_GE(at, due) << "wait " << k << " ended early";
        ASSERT_LE(at, due + c.overshoot) << "wait " << k << " drifted";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Late, ScheduleKeepsTime,
    ::testing::Values(LateCase{"ShortPauses", {5}, 3},
                      LateCase{"PausesShorterThanTheOvershoot", {1}, 3},
                      LateCase{"MixedWithZeroPauses", {0, 7, 1, 0, 20, 2}, 4},
                      LateCase{"OnTime", {3, 1}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Sends that take a fraction of a millisecond and sleeps that wake a
// fraction late: the time is kept in microseconds, so the counter's whole
// milliseconds do not add up either.
TEST(PlaybackSchedule, FractionsOfAMillisecondDoNotAddUp) {
    FakeTicks ticks(0xFFFFF000u);
    ticks.overshootUs = 300;
    PlaybackSchedule schedule(ticks);
    const uint64_t start = ticks.microseconds();
    const auto send = [&] { ticks.advanceUs(700); };  // the command on the line
    uint64_t due = 0;
    for (int k = 0; k < 5000; ++k) {
        schedule.send(send);
        // The first, on a line not seen yet, arrives at once and sets the point.
        due += k == 0 ? 700 : kPositionCommandWireUs;
        const uint64_t arrived = ticks.microseconds() - start;
        ASSERT_GE(arrived, due) << "command " << k << " early";
        ASSERT_LE(arrived, due + 1300) << "command " << k << " drifted";
        schedule.wait(k % 3 == 0 ? 1 : 5);
        due += (k % 3 == 0 ? 1 : 5) * 1000;
    }
}

// Sleeps exactly what it is asked, plus the overshoot, and notes it.
class SleepLog : public FakeTicks {
public:
    void sleepUs(uint64_t us) override {
        asked.push_back(us);
        advanceUs(us + overshootUs);
    }
    std::vector<uint64_t> asked;
};

// A wait asks for exactly the time left, in one sleep: rounded to whole
// milliseconds it would end up to a millisecond late every time (or, rounded
// down, early, or ask for nothing, which on the real clock returns at once
// and spins).
TEST(PlaybackSchedule, OneSleepForExactlyTheTimeLeft) {
    SleepLog ticks;
    PlaybackSchedule schedule(ticks);
    schedule.wait(65535);
    ticks.overshootUs = 600;
    schedule.wait(5);  // ends 600 us late
    ticks.overshootUs = 0;
    schedule.wait(5);  // 4.4 ms left, ends on its point
    ticks.overshootUs = 999;
    schedule.wait(1);  // ends 999 us late
    ticks.overshootUs = 0;
    const uint64_t before = ticks.microseconds();
    schedule.wait(1);  // 1 us left: still a sleep, never early
    EXPECT_EQ(ticks.asked, (std::vector<uint64_t>{65535000, 5000, 4400, 1000, 1}));
    EXPECT_EQ(ticks.microseconds() - before, 1u);
    EXPECT_EQ(schedule.behindUs(), 0u);
}

// A clock that counts whole milliseconds sleeps the time left rounded up.
TEST(PlaybackSchedule, AMillisecondClockSleepsTheTimeLeftRoundedUp) {
    FakeTicks ticks;
    PlaybackSchedule schedule(ticks);
    ticks.overshootUs = 400;
    schedule.wait(5);
    ticks.overshootUs = 0;
    const uint64_t before = ticks.microseconds();
    schedule.wait(5);  // 4.6 ms left: 5 ms
    EXPECT_EQ(ticks.microseconds() - before, 5000u);
    EXPECT_EQ(schedule.behindUs(), 400u);
}

TEST(PlaybackSchedule, AWaitSleepsAndAZeroPauseOnTimeDoesNot) {
    FakeTicks ticks;
    int sleeps = 0;
    ticks.onSleep = [&](uint64_t) { ++sleeps; };
    PlaybackSchedule schedule(ticks);
    schedule.wait(0);
    EXPECT_EQ(sleeps, 0);
    schedule.wait(40);
    EXPECT_EQ(sleeps, 1);  // the whole pause in one sleep, no spinning
    EXPECT_EQ(ticks.totalSlept(), 40u);
}

// A redraw asking every 30 ms is called through the wait, at 0, 30, 60, 90
// ms, and takes its time out of the wait, which still ends on its point;
// one that asks for nothing leaves a single sleep.
TEST(PlaybackSchedule, RedrawsWhileWaitingKeepTheWaitOnItsPoint) {
    FakeTicks ticks;
    PlaybackSchedule schedule(ticks);
    const uint64_t start = ticks.microseconds();
    std::vector<uint64_t> calls;
    schedule.wait(100, [&] {
        calls.push_back((ticks.microseconds() - start) / 1000);
        ticks.sleepMs(2);  // drawing takes time
        return 30u;
    });
    EXPECT_EQ(calls, (std::vector<uint64_t>{0, 32, 64, 96}));
    EXPECT_EQ(ticks.microseconds() - start, 100000u);
    EXPECT_EQ(schedule.behindUs(), 0u);

    int sleeps = 0;
    ticks.onSleep = [&](uint64_t) { ++sleeps; };
    schedule.wait(100, [] { return 0u; });
    EXPECT_EQ(sleeps, 1);
}

// A sleep that returns early is followed by another for the rest.
class EarlyTicks : public FakeTicks {
public:
    void sleepMs(uint32_t ms) override { FakeTicks::sleepMs(ms > 1 ? ms / 2 : ms); }
};

TEST(PlaybackSchedule, ASleepThatReturnsEarlyIsFollowedByAnother) {
    EarlyTicks ticks;
    PlaybackSchedule schedule(ticks);
    schedule.wait(40);
    EXPECT_EQ(ticks.totalSlept(), 40u);
    EXPECT_EQ(schedule.behindUs(), 0u);
}

TEST(PlaybackSchedule, LatenessCarriesPastPausesTooShortToAbsorbIt) {
    FakeTicks ticks;
    PlaybackSchedule schedule(ticks);
    ticks.overshoot = 9;
    schedule.wait(10);  // ends 9 late
    ticks.overshoot = 0;
    const uint32_t t = ticks.GetTickCount();
    schedule.wait(4);
    schedule.wait(4);  // both skipped: 1 left to make up
    EXPECT_EQ(ticks.GetTickCount(), t);
    EXPECT_EQ(schedule.behindUs(), 1000u);
    schedule.wait(4);
    EXPECT_EQ(ticks.GetTickCount() - t, 3u);
}

TEST(PlaybackSchedule, ARestartDropsTheLateness) {
    FakeTicks ticks;
    PlaybackSchedule schedule(ticks);
    ticks.overshoot = 3;
    schedule.wait(10);
    ASSERT_EQ(schedule.behindUs(), 3000u);
    schedule.restart();
    ticks.overshoot = 0;
    const uint32_t t = ticks.GetTickCount();
    schedule.wait(10);
    EXPECT_EQ(ticks.GetTickCount() - t, 10u);  // a whole pause again
}

// A stall beyond the limit (a suspended computer) is not made up by a burst
// of commands without pauses; one within it is.
TEST(PlaybackSchedule, AStallBeyondTheCatchUpLimitBeginsAfresh) {
    for (uint64_t late : {PlaybackSchedule::kLongestCatchUpUs, PlaybackSchedule::kLongestCatchUpUs + 1}) {
        FakeTicks ticks;
        PlaybackSchedule schedule(ticks);
        ticks.onSleep = [&](uint64_t slept) {
            if (slept == 10) ticks.advanceUs(late);
        };
        schedule.wait(10);
        ticks.onSleep = nullptr;
        const bool madeUp = late <= PlaybackSchedule::kLongestCatchUpUs;
        EXPECT_EQ(schedule.behindUs(), madeUp ? late : 0u) << late;
    }
}

// How long a send takes is learnt from the line: on one that takes 10 ms
// the schedule waits the rest of the wire time before each command, on one
// that takes the wire time (or longer) nothing; either way the command
// arrives a wire time after the point.
TEST(PlaybackSchedule, ACommandArrivesAWireTimeAfterThePointWhateverTheSendTakes) {
    for (uint64_t takes : {uint64_t{0}, uint64_t{10000}, kPositionCommandWireUs, kPositionCommandWireUs + 5000}) {
        SleepLog ticks;
        PlaybackSchedule schedule(ticks);
        schedule.sendAtOnce([&] { ticks.advanceUs(takes); });  // a live edit at rest
        EXPECT_EQ(schedule.sendUs(), std::min(takes, kPositionCommandWireUs)) << takes;
        schedule.restart();
        const uint64_t point = ticks.microseconds();
        ticks.asked.clear();
        schedule.send([&] { ticks.advanceUs(takes); });
        const uint64_t arrived = ticks.microseconds() - point;
        if (takes <= kPositionCommandWireUs) {
            EXPECT_EQ(arrived, kPositionCommandWireUs) << takes;
            EXPECT_EQ(schedule.behindUs(), 0u) << takes;
        } else {
            EXPECT_EQ(arrived, takes) << takes;  // the line is slower than the wire: late
            EXPECT_EQ(schedule.behindUs(), takes - kPositionCommandWireUs) << takes;
        }
        const std::vector<uint64_t> waited =
            takes < kPositionCommandWireUs ? std::vector<uint64_t>{kPositionCommandWireUs - takes}
                                           : std::vector<uint64_t>{};
        EXPECT_EQ(ticks.asked, waited) << takes;
    }
}

// A line not seen yet is taken to be as slow as the wire: the first command
// goes at once, and where it arrives early the show goes on from there, so
// the spacing from it is whole. Another port forgets what was learnt.
TEST(PlaybackSchedule, TheFirstCommandOnALineNotSeenYetGoesAtOnceAndSetsThePoint) {
    SleepLog ticks;
    PlaybackSchedule schedule(ticks);
    schedule.send([&] { ticks.advanceUs(100); });
    EXPECT_TRUE(ticks.asked.empty());
    EXPECT_EQ(schedule.behindUs(), 0u);
    const uint64_t first = ticks.microseconds();
    schedule.wait(10);
    schedule.send([&] { ticks.advanceUs(100); });
    EXPECT_EQ(ticks.microseconds() - first, 10000 + kPositionCommandWireUs);

    schedule.forgetLine();
    EXPECT_FALSE(schedule.sendUs());
    ticks.asked.clear();
    schedule.send([&] { ticks.advanceUs(100); });
    EXPECT_TRUE(ticks.asked.empty());
}

// One send held up by a busy machine does not make the commands after it
// leave early: the time learnt is the median of the last few sends.
TEST(PlaybackSchedule, OneSlowSendDoesNotMakeTheNextOnesLeaveEarly) {
    SleepLog ticks;
    PlaybackSchedule schedule(ticks);
    for (int k = 0; k < 4; ++k) schedule.sendAtOnce([&] { ticks.advanceUs(50); });
    schedule.sendAtOnce([&] { ticks.advanceUs(30000); });
    EXPECT_EQ(schedule.sendUs(), 50u);
    schedule.sendAtOnce([&] { ticks.advanceUs(30000); });
    schedule.sendAtOnce([&] { ticks.advanceUs(30000); });
    EXPECT_EQ(schedule.sendUs(), 30000u);  // three of five: the line is slow now
}

}  // namespace
