// SPDX-License-Identifier: GPL-3.0-or-later
// The player's timing on a fake clock whose every sleep wakes late: the k-th
// command leaves at the start plus the pauses before it (plus the time the
// sends take), at most one overshoot late, however long the show loops;
// Pause/resume and navigation restart the schedule. The port is a scripted
// device, since a pseudo-terminal cannot tell the fake time of a command.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeSerialDevice.h"
#include "FakeTicks.h"
#include "FakeView.h"
#include "RecordingNotifier.h"
#include "editor/EditorCore.h"

namespace {

struct Command {
    int channel, rate;
    uint32_t at;  // tick when its first byte went out
};

class PlayerTiming : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<FakeSerialDevice>(trace, ticks);
        device = owned.get();
        core = std::make_unique<EditorCore>(view, notifier, ticks,
                                            [] { return std::vector<std::string>{}; },
                                            std::move(owned));
        core->FormCreate();
        ASSERT_TRUE(core->openPort("COM3"));
        device->onWrite = [this](uint8_t b) {
            if (bytes.size() % 8 == 0) pendingAt = ticks.GetTickCount();
            bytes.push_back(b);
            if (bytes.size() % 8 == 0)
                commands.push_back({bytes[bytes.size() - 5], bytes[bytes.size() - 4], pendingAt});
            ticks.advance(byteMs);  // the byte's time on the line
        };
    }
    void TearDown() override { core->FormClose(); }

    // Frames 0..count-1, channels 0..channels-1 marked at position 1500 and
    // rate f + 1 (showing a frame then sends nothing live), pause each.
    void frames(int count, int channels, int32_t pause, int32_t lastJumpsTo = -1) {
        auto seq = std::make_unique<Sequence>(core->sequence());
        for (int f = 0; f < count; ++f) {
            for (int c = 0; c < channels; ++c) {
                ChannelSetting& s = seq->channel(f, c);
                s.position = 1500;
                s.rate = f + 1;
                s.offset = 0;
                s.pause = pause;
                s.changed = 1;
            }
            seq->frame(f).frameUsed = 1;
            seq->frame(f).jumpTo = f == count - 1 ? lastJumpsTo : -1;
        }
        core->replaceSequence(*seq);
    }

    std::vector<uint32_t> gapsFrom(size_t first, size_t count) const {
        std::vector<uint32_t> out;
        for (size_t i = first + 1; i < first + 1 + count; ++i)
            out.push_back(commands.at(i).at - commands.at(i - 1).at);
        return out;
    }

    Trace trace;
    FakeTicks ticks;
    FakeSerialDevice* device = nullptr;
    FakeView view;
    RecordingNotifier notifier;
    std::unique_ptr<EditorCore> core;
    uint32_t byteMs = 0;
    std::vector<uint8_t> bytes;
    uint32_t pendingAt = 0;
    std::vector<Command> commands;
};

struct DriftCase {
    const char* name;
    int32_t pause;
    uint32_t overshoot;
    uint32_t byteMs;
};

class PlayerKeepsTime : public PlayerTiming, public ::testing::WithParamInterface<DriftCase> {};

TEST_P(PlayerKeepsTime, TheKthCommandOfALoopingShowDoesNotDrift) {
    const DriftCase& c = GetParam();
    ticks.overshoot = c.overshoot;
    byteMs = c.byteMs;
    frames(21, 4, c.pause, 0);  // frame 20 loops back to frame 0
    constexpr int kLoops = 6;
    view.onEvents = [&](int round) {
        if (round == 21 * kLoops) core->PauseButtonClick();
    };

    core->RunClick();

    ASSERT_EQ(commands.size(), 21u * 4 * kLoops);
    // Every pass plays four commands, each followed by its pause.
    const uint32_t step = static_cast<uint32_t>(c.pause) + 8 * c.byteMs;
    for (size_t k = 0; k < commands.size(); ++k) {
        const uint32_t late = commands[k].at - commands[0].at - static_cast<uint32_t>(k) * step;
        ASSERT_LE(late, c.overshoot) << "command " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Late, PlayerKeepsTime,
    ::testing::Values(DriftCase{"FivePauses", 5, 3, 0},
                      DriftCase{"PausesShorterThanTheOvershoot", 1, 3, 0},
                      DriftCase{"SendsTakeTheirTime", 20, 2, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// Lateness left when the player pauses is dropped at the resume: the first
// wait after it is a whole pause (and one overshoot), as at a fresh start;
// the time spent paused is not made up either.
TEST_F(PlayerTiming, PauseAndResumeRestartTheSchedule) {
    ticks.overshoot = 3;
    frames(6, 3, 10);
    view.onEvents = [&](int round) {
        if (round == 2) core->PauseButtonClick();  // frame 1 still plays
    };
    core->RunClick();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(gapsFrom(0, 5), (std::vector<uint32_t>{13, 10, 10, 10, 10}));

    view.onEvents = nullptr;
    ticks.advance(60000);
    core->RunClick();  // resumes at frame 2

    ASSERT_EQ(commands.size(), 18u);
    EXPECT_EQ(commands[6].rate, 3);
    EXPECT_EQ(gapsFrom(6, 5), (std::vector<uint32_t>{13, 10, 10, 10, 10}));
}

// Navigation while playing: the player goes on from the frame shown, on a
// fresh schedule.
TEST_F(PlayerTiming, NavigationDuringPlaybackRestartsTheSchedule) {
    ticks.overshoot = 3;
    frames(4, 3, 10);
    view.onEvents = [&](int round) {
        if (round == 3) core->StartFrameClick();  // instead of frame 2
    };
    core->RunClick();
    ASSERT_EQ(commands.size(), 18u);  // frames 0, 1, 0, 1, 2, 3
    EXPECT_EQ(commands[6].rate, 1);
    EXPECT_EQ(gapsFrom(5, 3), (std::vector<uint32_t>{10, 13, 10}));
}

}  // namespace
