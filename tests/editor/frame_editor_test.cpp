// SPDX-License-Identifier: GPL-3.0-or-later
// The frame editor: storing the strips, showing frames (and the marks and
// live sends that showing causes), moving frames, navigating and the jump-to
// editor. What goes to the controller is read at the simulator.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CoreFixture.h"

namespace {

using Sends = std::vector<Sent>;

bool sameFrame(const Frame& a, const Frame& b) { return std::memcmp(&a, &b, sizeof(Frame)) == 0; }

class FrameEditorTest : public CoreFixture {
protected:
    // Records frames whose channel 0 holds the given positions, one Write
    // Frame each, starting from a fresh sequence.
    void recordChannel0(const std::vector<int>& positions) {
        for (int p : positions) {
            editStrip(0, p);
            core.WriteFrameClick();
        }
        takeSent();
    }
};

TEST_F(FrameEditorTest, WriteFrameOnAFreshSequenceStoresTheStripsWithTheMarksAndAdvances) {
    editStrip(3, 1800, 5, -10, 250);
    // The position edit sends with the rate still 0; the offset edit sends
    // with everything set.
    EXPECT_EQ(takeSent(), (Sends{{3, 0, 900}, {3, 5, pulseOf(1800, -10)}}));
    EXPECT_EQ(core.sequence().channel(0, 3).changed, 1);  // the edit marks at once

    core.WriteFrameClick();

    for (int f : {0, 1}) {
        SCOPED_TRACE("frame " + std::to_string(f));
        const ChannelSetting& c = core.sequence().channel(f, 3);
        EXPECT_EQ(c.position, 1800);
        EXPECT_EQ(c.rate, 5);
        EXPECT_EQ(c.offset, -10);
        EXPECT_EQ(c.pause, 250);
        // No frame was shown since start: the stored flag is the strip's
        // mark, not the edit's.
        EXPECT_EQ(c.changed, 0);
        EXPECT_EQ(core.sequence().frame(f).frameUsed, 1);
        EXPECT_EQ(core.sequence().frame(f).jumpTo, -1);
    }
    EXPECT_EQ(core.sequence().frame(2).frameUsed, 0);
    EXPECT_EQ(core.state().currentFrame, 1);
    EXPECT_EQ(core.state().lastFrame, 1);
    EXPECT_EQ(view.frameLabel, "1");
    EXPECT_TRUE(takeSent().empty());  // storing sends nothing
}

TEST_F(FrameEditorTest, ShowingARecordedFrameMarksAndSendsTheChannelsThatDiffer) {
    editStrip(3, 1800, 5, -10);
    core.WriteFrameClick();
    editStrip(3, 2000, 5, -10);
    core.WriteFrameClick();  // frames 0 and 1 now hold channel 3 unmarked
    takeSent();

    core.StartFrameClick();
    // Channel 3 differs from what was shown: its change handling marks it in
    // frame 0 and sends it; being marked, the display step sends it again.
    EXPECT_EQ(takeSent(), (Sends{{3, 5, pulseOf(1800, -10)}, {3, 5, pulseOf(1800, -10)}}));
    EXPECT_EQ(core.sequence().channel(0, 3).changed, 1);
    EXPECT_TRUE(core.strip(3).changedMark);
    EXPECT_FALSE(core.strip(4).changedMark);
    EXPECT_EQ(core.sequence().channel(1, 3).changed, 0);
    EXPECT_EQ(view.frameLabel, "0");
    EXPECT_EQ(view.jumpLabel, "-1");

    core.NextFrameClick();
    EXPECT_EQ(takeSent(), (Sends{{3, 5, pulseOf(2000, -10)}, {3, 5, pulseOf(2000, -10)}}));
    EXPECT_EQ(core.sequence().channel(1, 3).changed, 1);
    EXPECT_EQ(view.statusText, "      Animating");
}

TEST_F(FrameEditorTest, WriteFrameBelowTheLastFrameOnlyStoresTheCurrentFrame) {
    recordChannel0({1000, 1100, 1200});
    ASSERT_EQ(core.state().lastFrame, 3);
    core.PriorFrameClick();
    ASSERT_EQ(core.state().currentFrame, 2);
    editStrip(1, 2200);
    const Sequence before = core.sequence();

    core.WriteFrameClick();

    EXPECT_EQ(core.sequence().channel(2, 1).position, 2200);
    EXPECT_EQ(core.sequence().channel(2, 0).position, 1200);
    for (int f = 0; f < kFrameCount; ++f)
        if (f != 2) {
            EXPECT_TRUE(sameFrame(core.sequence().frame(f), before.frame(f))) << "frame " << f;
        }
    EXPECT_EQ(core.state().currentFrame, 2);
    EXPECT_EQ(core.state().lastFrame, 3);
    EXPECT_EQ(view.frameLabel, "2");
}

TEST_F(FrameEditorTest, WriteFrameAtTheLastSlotStoresWithoutCopyingOrAdvancing) {
    setFrames(127, 127);
    editStrip(2, 600, 3);
    const Sequence before = core.sequence();
    view.frameLabel = "untouched";

    core.WriteFrameClick();

    EXPECT_EQ(core.sequence().channel(127, 2).position, 600);
    EXPECT_EQ(core.sequence().channel(127, 2).rate, 3);
    for (int f = 0; f < 127; ++f)
        EXPECT_TRUE(sameFrame(core.sequence().frame(f), before.frame(f))) << "frame " << f;
    EXPECT_EQ(core.state().currentFrame, 127);
    EXPECT_EQ(core.state().lastFrame, 127);
    EXPECT_EQ(view.frameLabel, "untouched");
}

struct EdgeNavigation {
    const char* name;
    int frame;
    void (EditorCore::*navigate)();
    bool showsAnimating;
};

class NavigationAtTheEnds : public CoreFixtureP<EdgeNavigation> {};

TEST_P(NavigationAtTheEnds, KeepsTheIndexButReshowsTheFrameAndSendsItsMarkedChannels) {
    const EdgeNavigation& p = GetParam();
    setChannel(p.frame, 2, 1700);
    setChannel(p.frame, 9, 1300, 4);
    setCurrentFrame(p.frame);
    view.statuses.clear();

    (core.*p.navigate)();
    // First showing: the position edits send at once (channel 9's rate is
    // not yet loaded then); afterwards each marked channel is sent as shown.
    EXPECT_EQ(takeSent(), (Sends{{2, 0, 850}, {2, 0, 850}, {9, 0, 650}, {9, 4, 650}}));

    (core.*p.navigate)();
    // Nothing differs now: only the marked channels go out.
    EXPECT_EQ(takeSent(), (Sends{{2, 0, 850}, {9, 4, 650}}));
    EXPECT_EQ(core.state().currentFrame, p.frame);
    EXPECT_EQ(view.frameLabel, std::to_string(p.frame));
    if (p.showsAnimating) {
        EXPECT_EQ(view.statusText, "      Animating");
        EXPECT_FALSE(view.statuses.back().colour.has_value());
    } else {
        EXPECT_TRUE(view.statuses.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, NavigationAtTheEnds,
    ::testing::Values(EdgeNavigation{"PriorAtFirst", 0, &EditorCore::PriorFrameClick, false},
                      EdgeNavigation{"NextAtLast", 127, &EditorCore::NextFrameClick, true},
                      EdgeNavigation{"StartAtFirst", 0, &EditorCore::StartFrameClick, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameEditorTest, EditingThenNextMarksTheLeftFrameWithoutStoringItsValues) {
    editStrip(4, 2000);
    core.NextFrameClick();

    const ChannelSetting& left = core.sequence().channel(0, 4);
    EXPECT_EQ(left.position, 1500);
    EXPECT_EQ(left.changed, 1);
    EXPECT_EQ(core.sequence().frame(0).frameUsed, 1);
    // Frame 1 is shown: the strip goes back to 1500, which differs from
    // the 2000 on display and so marks channel 4 in frame 1 as well.
    EXPECT_EQ(core.strip(4).PositionEdit.value(), 1500);
    EXPECT_EQ(core.sequence().channel(1, 4).changed, 1);
    EXPECT_EQ(takeSent(), (Sends{{4, 0, 1000}, {4, 0, 750}, {4, 0, 750}}));
    EXPECT_EQ(view.frameLabel, "1");
}

TEST_F(FrameEditorTest, DeleteFrameMovesLaterFramesDownAndShortensTheRecording) {
    recordChannel0({1000, 1100, 1200, 1300});  // frames 0..4, lastFrame 4
    setChannel(127, 5, 2100, 7, 3, 40);
    useFrame(127, 9);
    core.StartFrameClick();
    core.NextFrameClick();
    takeSent();
    ASSERT_EQ(core.state().currentFrame, 1);
    const Sequence before = core.sequence();

    core.DelFrameClick();

    for (int f = 1; f < 127; ++f)
        EXPECT_TRUE(sameFrame(core.sequence().frame(f), before.frame(f + 1))) << "frame " << f;
    EXPECT_TRUE(sameFrame(core.sequence().frame(0), before.frame(0)));
    const Frame& last = core.sequence().frame(127);
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(last.channels[c].position, 1500);
        EXPECT_EQ(last.channels[c].rate, 0);
        EXPECT_EQ(last.channels[c].offset, 0);
        EXPECT_EQ(last.channels[c].pause, 0);
        EXPECT_EQ(last.channels[c].changed, 0);
    }
    EXPECT_EQ(last.jumpTo, 9);
    EXPECT_EQ(last.frameUsed, 1);
    EXPECT_EQ(core.state().lastFrame, 3);
    EXPECT_EQ(core.state().currentFrame, 1);
    // The strips still show the deleted frame.
    EXPECT_EQ(core.strip(0).PositionEdit.value(), 1100);
    EXPECT_EQ(view.frameLabel, "1");
    EXPECT_TRUE(takeSent().empty());

    // Writing now puts the deleted frame's values into the slot that holds
    // the following frame; nothing advances since 1 is not the last frame.
    core.WriteFrameClick();
    EXPECT_EQ(core.sequence().channel(1, 0).position, 1100);
    EXPECT_EQ(core.sequence().channel(2, 0).position, 1300);
    EXPECT_EQ(core.state().currentFrame, 1);

    core.LastFrameClick();
    EXPECT_EQ(core.state().currentFrame, 3);
    EXPECT_EQ(view.frameLabel, "3");
    EXPECT_EQ(core.strip(0).PositionEdit.value(), 1300);
}

TEST_F(FrameEditorTest, DeleteFrameWithNothingRecordedKeepsLastFrameAtZero) {
    core.DelFrameClick();
    EXPECT_EQ(core.state().lastFrame, 0);
    core.LastFrameClick();
    EXPECT_EQ(core.state().currentFrame, 0);
}

enum class Move { Insert, Delete };
struct MoveCase {
    const char* name;
    Move move;
    int at;
};

class MovingFrames : public CoreFixtureP<MoveCase> {
protected:
    // Every frame different in its values, flags, jump, spare bytes and padding.
    void fillSequence() {
        for (int f = 0; f < kFrameCount; ++f) {
            setChannel(f, 0, 600 + 10 * f, f % 64, f % 50, f, f % 2 == 1);
            editSequence([f](Sequence& seq) {
                Frame& fr = seq.frame(f);
                fr.jumpTo = f % 7 - 1;
                fr.frameUsed = f % 3 != 0;
                fr.channels[1].spare[0] = static_cast<uint8_t>(f);
                fr.padding[0] = static_cast<uint8_t>(f + 1);
            });
        }
    }
};

TEST_P(MovingFrames, MovesWholeFramesAndTouchesNothingElse) {
    const MoveCase& p = GetParam();
    editStrip(0, 2400, 9, 7, 77);  // the strips' values; marks land in frame 0
    fillSequence();
    setFrames(p.at, 10);
    takeSent();
    view.frameLabel = view.jumpLabel = "untouched";
    const Sequence old = core.sequence();

    if (p.move == Move::Insert)
        core.InsFrameClick();
    else
        core.DelFrameClick();

    const Sequence& now = core.sequence();
    for (int f = 0; f < p.at; ++f) EXPECT_TRUE(sameFrame(now.frame(f), old.frame(f))) << "frame " << f;
    if (p.move == Move::Insert) {
        for (int f = p.at + 1; f < kFrameCount; ++f)
            EXPECT_TRUE(sameFrame(now.frame(f), old.frame(f - 1))) << "frame " << f;
        // The slot keeps the old frame's jump, use flag and spare bytes and
        // takes the strips' values with their (clear) marks.
        const Frame& slot = now.frame(p.at);
        EXPECT_EQ(slot.channels[0].position, 2400);
        EXPECT_EQ(slot.channels[0].rate, 9);
        EXPECT_EQ(slot.channels[0].offset, 7);
        EXPECT_EQ(slot.channels[0].pause, 77);
        EXPECT_EQ(slot.channels[0].changed, 0);
        EXPECT_EQ(slot.channels[1].position, 1500);
        EXPECT_EQ(slot.channels[1].spare[0], old.frame(p.at).channels[1].spare[0]);
        EXPECT_EQ(slot.jumpTo, old.frame(p.at).jumpTo);
        EXPECT_EQ(slot.frameUsed, old.frame(p.at).frameUsed);
        EXPECT_EQ(slot.padding[0], old.frame(p.at).padding[0]);
        EXPECT_EQ(core.state().lastFrame, 10);
    } else {
        for (int f = p.at; f < kFrameCount - 1; ++f)
            EXPECT_TRUE(sameFrame(now.frame(f), old.frame(f + 1))) << "frame " << f;
        Frame expected = old.frame(127);
        for (ChannelSetting& c : expected.channels) {
            c.position = 1500;
            c.rate = c.offset = c.pause = 0;
            c.changed = 0;
        }
        EXPECT_TRUE(sameFrame(now.frame(127), expected));
        EXPECT_EQ(core.state().lastFrame, 9);
    }
    EXPECT_EQ(core.state().currentFrame, p.at);
    EXPECT_EQ(core.strip(0).PositionEdit.value(), 2400);
    EXPECT_EQ(view.frameLabel, "untouched");
    EXPECT_EQ(view.jumpLabel, "untouched");
    EXPECT_TRUE(takeSent().empty());
}

INSTANTIATE_TEST_SUITE_P(Slots, MovingFrames,
                         ::testing::Values(MoveCase{"InsertAt5", Move::Insert, 5},
                                           MoveCase{"InsertAt127", Move::Insert, 127},
                                           MoveCase{"InsertAt0", Move::Insert, 0},
                                           MoveCase{"DeleteAt5", Move::Delete, 5},
                                           MoveCase{"DeleteAt127", Move::Delete, 127},
                                           MoveCase{"DeleteAt0", Move::Delete, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameEditorTest, ResetSendsEveryChannelAndStoresDefaultsWithTheMarks) {
    setChannel(2, 10, 1500);  // marked in frame 2
    useFrame(2, 9);
    setCurrentFrame(1);
    core.NextFrameClick();  // shows frame 2: the strips take its marks
    editStrip(1, 1800);
    editStrip(6, 1500, 0, 20);
    editStrip(7, 1500, 10, 0, 300);
    takeSent();
    const uint32_t start = ticks.GetTickCount();

    core.FrameResetClick();

    // One command per channel; the channels whose position or offset had to
    // change send once more through their change handling, just before.
    Sends expected;
    for (int c = 0; c < kChannelCount; ++c) {
        if (c == 1 || c == 6) expected.push_back({c, 0, 750});
        expected.push_back({c, 0, 750});
    }
    EXPECT_EQ(takeSent(), expected);
    EXPECT_GE(ticks.GetTickCount() - start, 32u * 5u);

    const Frame& f = core.sequence().frame(2);
    for (int c = 0; c < kChannelCount; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        EXPECT_EQ(f.channels[c].position, 1500);
        EXPECT_EQ(f.channels[c].rate, 0);
        EXPECT_EQ(f.channels[c].offset, 0);
        EXPECT_EQ(f.channels[c].pause, 0);
        // The marks of the last showing, not the handlers' fresh flags.
        EXPECT_EQ(f.channels[c].changed, c == 10 ? 1 : 0);
    }
    EXPECT_EQ(f.frameUsed, 0);
    EXPECT_EQ(f.jumpTo, 9);
    EXPECT_EQ(view.frameLabel, "2");
}

TEST(FrameResetWithoutPort, WaitsFiveMillisecondsAfterEachOfTheThirtyTwoChannels) {
    CoreRig rig;
    rig.editStrip(3, 2000, 1, 5, 10);
    const uint32_t start = rig.ticks.GetTickCount();
    rig.core.FrameResetClick();
    EXPECT_EQ(rig.ticks.GetTickCount() - start, 32u * 5u);
    EXPECT_EQ(rig.core.sequence().frame(0).frameUsed, 0);
}

struct JumpEdit {
    const char* name;
    int32_t initial;
    const char* clicks;  // '+' Inc, '-' Dec, 'x' double-click on the value
    int32_t expected;
};

class JumpEditor : public CoreFixtureP<JumpEdit> {};

TEST_P(JumpEditor, EditsTheJumpOfTheCurrentFrameOnly) {
    const JumpEdit& p = GetParam();
    useFrame(4, p.initial);
    editSequence([](Sequence& seq) { seq.frame(4).frameUsed = 0; });
    setCurrentFrame(4);
    const Sequence before = core.sequence();

    for (const char* k = p.clicks; *k; ++k) {
        if (*k == '+') core.IncButtonClick();
        if (*k == '-') core.DecButtonClick();
        if (*k == 'x') core.Label2DblClick();
    }

    EXPECT_EQ(core.sequence().frame(4).jumpTo, p.expected);
    EXPECT_EQ(view.jumpLabel, std::to_string(p.expected));
    Frame expected = before.frame(4);
    expected.jumpTo = p.expected;
    EXPECT_TRUE(sameFrame(core.sequence().frame(4), expected));  // no marks, no store
    for (int f = 0; f < kFrameCount; ++f)
        if (f != 4) {
            EXPECT_EQ(core.sequence().frame(f).jumpTo, -1) << "frame " << f;
        }
    EXPECT_TRUE(takeSent().empty());
}

INSTANTIATE_TEST_SUITE_P(Clicks, JumpEditor,
                         ::testing::Values(JumpEdit{"DecAtNone", -1, "-", -1},
                                           JumpEdit{"IncAtNone", -1, "+", 0},
                                           JumpEdit{"DecAtZero", 0, "-", 0},
                                           JumpEdit{"IncAtZero", 0, "+", 1},
                                           JumpEdit{"IncAt126", 126, "+", 127},
                                           JumpEdit{"IncAt127", 127, "+", 127},
                                           JumpEdit{"IncPastTheTop", 125, "+++++", 127},
                                           JumpEdit{"DecAt127", 127, "-", 126},
                                           JumpEdit{"DoubleClickAfterInc", -1, "++x", -1},
                                           JumpEdit{"DoubleClickAt127", 127, "x", -1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Plays frames 0..frame (used, nothing marked, at the strips' defaults) and
// runs check where a click at the start of frame's pass would run; then the
// playback ends there, as Exit ends it.
void duringPlaybackAt(CoreRig& rig, int frame, const std::function<void()>& check) {
    for (int f = 0; f <= frame; ++f) rig.useFrame(f);
    bool ran = false;
    rig.view.onEvents = [&](int) {
        if (ran || rig.core.state().currentFrame != frame) return;
        ran = true;
        ASSERT_TRUE(rig.core.state().playing);
        EXPECT_TRUE(rig.takeSent().empty()) << "frames at the defaults send nothing";
        check();
        rig.core.abandonPlayback();
    };
    rig.core.RunClick();
    EXPECT_TRUE(ran);
}

TEST_F(FrameEditorTest, NavigatingWhilePlayingFollowsTheJumpFromTheNextChannelOn) {
    for (int c = 0; c < kChannelCount; ++c) {
        setChannel(3, c, 1000 + 2 * c, 0, 0, 0, false);
        setChannel(7, c, 2000 + 2 * c, 0, 0, 0, false);
    }
    useFrame(3, 7);
    useFrame(7);

    duringPlaybackAt(*this, 2, [&] {
        core.NextFrameClick();

        EXPECT_EQ(core.strip(0).PositionEdit.value(), 1000);
        for (int c = 1; c < kChannelCount; ++c)
            EXPECT_EQ(core.strip(c).PositionEdit.value(), 2000 + 2 * c) << "channel " << c;
        EXPECT_EQ(core.state().currentFrame, 7);
        EXPECT_EQ(view.frameLabel, "7");
        EXPECT_EQ(view.jumpLabel, "-1");  // frame 7's, shown with the last channel
        // The marks of the change handling land in the frame named at that step.
        EXPECT_EQ(core.sequence().channel(3, 0).changed, 1);
        EXPECT_EQ(core.sequence().channel(3, 1).changed, 0);
        EXPECT_EQ(core.sequence().channel(7, 0).changed, 0);
        EXPECT_EQ(core.sequence().channel(7, 1).changed, 1);
        // While playing only the change handling sends; marked channels are not
        // sent again.
        Sends expected{{0, 0, 500}};
        for (int c = 1; c < kChannelCount; ++c) expected.push_back({c, 0, pulseOf(2000 + 2 * c)});
        EXPECT_EQ(takeSent(), expected);
    });
}

class JumpOutOfRange : public CoreFixtureP<int32_t> {};

TEST_P(JumpOutOfRange, IsShownButNeverFollowedByNavigation) {
    const int32_t jump = GetParam();
    for (int c = 0; c < kChannelCount; ++c) setChannel(3, c, 1000 + 2 * c, 0, 0, 0, false);
    useFrame(3, jump);  // as a loaded file may hold it

    duringPlaybackAt(*this, 2, [&] {
        core.NextFrameClick();

        EXPECT_EQ(core.state().currentFrame, 3);
        for (int c = 0; c < kChannelCount; ++c)
            EXPECT_EQ(core.strip(c).PositionEdit.value(), 1000 + 2 * c) << "channel " << c;
        EXPECT_EQ(view.frameLabel, "3");
        EXPECT_EQ(view.jumpLabel, std::to_string(jump));
    });
}

INSTANTIATE_TEST_SUITE_P(FromAFile, JumpOutOfRange, ::testing::Values(128, 200, -2, -1000));

}  // namespace
