// SPDX-License-Identifier: GPL-3.0-or-later
// The player keeps the show's timeline on any line: on a fake clock, each
// command it sends arrives where the timeline (computed on the model of the
// 2400-baud line) puts it, whether the line takes no time (a
// pseudo-terminal, the simulated controller), some, or the wire's own time
// (where the player then waits nothing but the pauses); a late wake-up is
// made up; Pause, resume and Stop keep the rule from the frame the playback
// goes on from. The port is a scripted device, since a pseudo-terminal
// cannot tell the fake time at which a command arrived.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "FakeSerialDevice.h"
#include "FakeTicks.h"
#include "FakeView.h"
#include "RecordingNotifier.h"
#include "editor/EditorCore.h"
#include "link/Commands.h"
#include "show/Timeline.h"

namespace {

// Sleeps exactly what it is asked, plus lateUs: a wake-up on a loaded
// machine.
class LateTicks : public FakeTicks {
public:
    void sleepUs(uint64_t us) override {
        advanceUs(us + lateUs);
        sleptUs += us + lateUs;
    }
    uint64_t lateUs = 0;
    uint64_t sleptUs = 0;
};

struct Arrival {
    int channel, pulse;
    uint64_t us;  // its last byte written, on the fake clock
};

// Frames 0..count-1, channels 0..channels-1 marked, each frame at other
// positions than the one before (so that showing it sends them live) and
// another rate; every pause `pause`. Frame 0 differs from a fresh start, so
// loading it sends, and the player has seen the line before Play.
Sequence show(int count, int channels, int32_t pause) {
    Sequence seq;
    for (int f = 0; f < count; ++f) {
        for (int c = 0; c < channels; ++c)
            seq.channel(f, c) = {1000 + 100 * ((f + c) % 10), f % 8 + 1, 0, pause, 1, {}};
        seq.frame(f).frameUsed = 1;
    }
    return seq;
}

class PlayerPace : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<FakeSerialDevice>(trace, ticks);
        device = owned.get();
        core = std::make_unique<EditorCore>(view, notifier, ticks, [] { return std::vector<std::string>{}; },
                                            std::move(owned));
        core->FormCreate();
        ASSERT_TRUE(core->openPort("COM3"));
        ASSERT_EQ(core->state().portStatus, 0);
        device->onWrite = [this](uint8_t b) {
            ticks.advanceUs(byteUs);  // the byte's time on the line
            bytes.push_back(b);
            if (bytes.size() % kPositionCommandBytes == 0)
                arrivals.push_back(
                    {bytes[bytes.size() - 5], bytes[bytes.size() - 3] | bytes[bytes.size() - 2] << 8, ticks.microseconds()});
        };
    }

    // As after Open: the show in place, frame 0 shown (its marks and sends).
    void load(const Sequence& seq) {
        core->replaceSequence(seq);
        core->StartFrameClick();
        arrivals.clear();
    }

    // Plays from where the core stands; the arrivals of this playback, and
    // its start on the fake clock.
    std::vector<Arrival> play(uint64_t& startUs) {
        const size_t before = arrivals.size();
        startUs = ticks.microseconds();
        core->RunClick();
        return {arrivals.begin() + static_cast<std::ptrdiff_t>(before), arrivals.end()};
    }

    // The timeline's commands of the pass from the frame `from` on.
    static std::vector<SentCommand> passFrom(const Timeline& t, int from) {
        std::vector<SentCommand> out;
        bool on = false;
        for (const SentCommand& c : t.commands) {
            on = on || c.pass == from;
            if (on) out.push_back(c);
        }
        return out;
    }

    // Each arrival within [its point, its point + lateUs] of the timeline,
    // counted from the timeline's time `originMs` and the clock's `startUs`.
    static void expectOnTheirPoints(const std::vector<Arrival>& got, const std::vector<SentCommand>& due,
                                    uint64_t startUs, double originMs, uint64_t lateUs) {
        ASSERT_EQ(got.size(), due.size());
        for (size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(got[k].channel, due[k].channel) << "command " << k;
            ASSERT_EQ(got[k].pulse, due[k].pulse) << "command " << k;
            const auto pointUs = static_cast<int64_t>(std::llround((due[k].atMs - originMs) * 1000));
            const int64_t atUs = static_cast<int64_t>(got[k].us - startUs);
            ASSERT_GE(atUs, pointUs) << "command " << k << " early";
            ASSERT_LE(atUs, pointUs + static_cast<int64_t>(lateUs)) << "command " << k << " late";
        }
    }

    Trace trace;
    LateTicks ticks;
    FakeSerialDevice* device = nullptr;
    FakeView view;
    RecordingNotifier notifier;
    std::unique_ptr<EditorCore> core;
    uint64_t byteUs = 0;
    std::vector<uint8_t> bytes;
    std::vector<Arrival> arrivals;
};

struct LineCase {
    const char* name;
    uint64_t byteUs;
};

class PlayerPaceOnAnyLine : public PlayerPace, public ::testing::WithParamInterface<LineCase> {};

// The timeline is the player's own schedule on the model line, which takes
// the wire time: on every line the player puts each command where the
// timeline does, to the microsecond, the live ones of each frame's display
// and those after a jump in the middle of a pass included.
TEST_P(PlayerPaceOnAnyLine, EveryCommandArrivesOnItsPointOfTheTimeline) {
    byteUs = GetParam().byteUs;
    Sequence seq = show(6, 4, 5);
    seq.frame(2).jumpTo = 4;  // after its channel 0: channels 1..3 of frame 4
    seq.channel(3, 1).pause = 40;
    const Timeline timeline = Timeline::of(seq);
    load(seq);
    uint64_t start = 0;

    const std::vector<Arrival> got = play(start);

    expectOnTheirPoints(got, passFrom(timeline, 0), start, 0, 0);
    if (byteUs == kByteWireUs) {
        // The wire takes the time itself: the player waits the pauses alone.
        double pausesMs = 0;
        for (const SentCommand& c : timeline.commands) pausesMs += c.pauseMs;
        EXPECT_EQ(ticks.sleptUs, static_cast<uint64_t>(std::llround(pausesMs * 1000)));
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, PlayerPaceOnAnyLine,
                         ::testing::Values(LineCase{"TakingNoTime", 0}, LineCase{"Faster", 1000},
                                           LineCase{"At2400Baud", kByteWireUs}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every sleep wakes 3 ms late, also on pauses shorter than that: each
// command still arrives within one late wake-up of its point, from the
// first to the last of a long show, so the lateness never adds up.
TEST_F(PlayerPace, LateWakeUpsAreMadeUpByTheFollowingWaits) {
    ticks.lateUs = 3000;
    Sequence seq = show(40, 3, 1);
    for (int f = 0; f < 40; f += 4) seq.channel(f, 2).pause = 25;
    const Timeline timeline = Timeline::of(seq);
    load(seq);
    uint64_t start = 0;

    const std::vector<Arrival> got = play(start);

    expectOnTheirPoints(got, passFrom(timeline, 0), start, 0, ticks.lateUs);
}

// Paused at frame 3 and resumed a minute later: the rest of the show keeps
// the timeline from frame 3's start, the time paused not made up. Stopped
// in the middle and played again: the show starts on its timeline anew.
TEST_F(PlayerPace, PauseResumeAndStopKeepTheTimelineFromTheFramePlayedOn) {
    const Sequence seq = show(6, 3, 20);
    const Timeline timeline = Timeline::of(seq);
    load(seq);
    view.onEvents = [&](int round) {
        if (round == 3) core->PauseButtonClick();  // frame 2 still plays
    };
    uint64_t start = 0;
    play(start);
    ASSERT_EQ(core->state().currentFrame, 3);

    view.onEvents = nullptr;
    ticks.advance(60000);
    const std::vector<Arrival> resumed = play(start);
    expectOnTheirPoints(resumed, passFrom(timeline, 3), start, *timeline.frameAtMs(3), 0);

    load(seq);
    const int rounds = view.eventRounds;
    view.onEvents = [&](int round) {
        if (round == rounds + 2) core->StopClick();  // as frame 1 begins
    };
    play(start);
    ASSERT_FALSE(core->state().playing);
    ASSERT_EQ(view.statusText, "           Stopped");
    view.onEvents = nullptr;
    ticks.advance(1500);
    const std::vector<Arrival> again = play(start);
    expectOnTheirPoints(again, passFrom(timeline, 0), start, 0, 0);
}

}  // namespace
