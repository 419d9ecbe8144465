// SPDX-License-Identifier: GPL-3.0-or-later
// Undo and Redo of the user's steps, with the commands they send, how
// repeated actions join one step, and what counts as changed since the last
// Open or Save; the recovery copy's round trip through the core.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CoreFixture.h"
#include "TempFolder.h"

namespace {

using Sends = std::vector<Sent>;

// All the user sees of the editor: the sequence, each strip's controls and
// mark, the indices, the two labels and the file.
struct EditorView {
    std::vector<uint8_t> image;
    std::vector<std::string> strips;
    int currentFrame, lastFrame;
    std::string frameLabel, jumpLabel, fileName;
    bool unsaved;
    bool operator==(const EditorView&) const = default;
};

EditorView viewOf(CoreRig& r) {
    EditorView v{{r.core.sequence().image().begin(), r.core.sequence().image().end()},
                 {},
                 r.core.state().currentFrame,
                 r.core.state().lastFrame,
                 r.view.frameLabel,
                 r.view.jumpLabel,
                 r.core.fileName(),
                 r.core.unsavedChanges()};
    for (int c = 0; c < kChannelCount; ++c) {
        const TChannel& s = r.core.strip(c);
        v.strips.push_back(std::to_string(s.Track.position()) + " " + s.PositionEdit.text() + " " +
                           s.RateEdit.text() + " " + std::to_string(s.OffsetTrack.position()) + " " +
                           s.PauseEdit.text() + (s.changedMark ? " marked" : ""));
    }
    return v;
}

// Types into a position box as a user does, then ends with Enter.
void typePosition(CoreRig& r, int channel, const std::string& text) {
    NumberBoxModel& box = r.core.userStrip(channel).PositionEdit;
    box.pressKey(vk::Back);
    box.setText("");
    for (char ch : text) {
        box.pressKey(static_cast<int>(ch));
        box.typeCharacter(static_cast<char32_t>(ch));
    }
    box.pressKey(vk::Return);
}

// Three frames written (channel 0 at 1000, 1100, 1200), the second shown.
void threeFramesOnTheSecond(CoreRig& r) {
    for (int p : {1000, 1100, 1200}) {
        r.editStrip(0, p);
        r.core.WriteFrameClick();
    }
    r.core.StartFrameClick();
    r.core.NextFrameClick();
}

struct StepCase {
    const char* name;
    std::function<void(CoreRig&)> setUp;  // steps of its own, before the one tried
    std::function<void(CoreRig&)> step;
    const char* stepName;
    Sends undoSends, redoSends;
};

class EachStep : public CoreFixtureP<StepCase> {};

TEST_P(EachStep, UndoRestoresTheStateBeforeItAndRedoTheStateAfterSendingWhatMoved) {
    const StepCase& p = GetParam();
    TempFolder dir;
    view.openAnswers.push_back(dir.file("show.KDX"));
    if (p.setUp) p.setUp(*this);
    int told = 0;
    std::string undoNameTold;
    core.addChangeListener([&] {
        ++told;
        undoNameTold = core.undoName();
    });
    takeSent();
    const EditorView before = viewOf(*this);

    p.step(*this);
    const EditorView after = viewOf(*this);
    ASSERT_NE(after, before);
    EXPECT_EQ(core.undoName(), p.stepName);
    EXPECT_EQ(undoNameTold, p.stepName) << "listeners are told once the step is in the history";
    takeSent();

    told = 0;
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(viewOf(*this), before);
    EXPECT_EQ(takeSent(), p.undoSends);
    EXPECT_GT(told, 0);
    EXPECT_EQ(core.redoName(), p.stepName);

    told = 0;
    ASSERT_TRUE(core.redo());
    EXPECT_EQ(viewOf(*this), after);
    EXPECT_EQ(takeSent(), p.redoSends);
    EXPECT_GT(told, 0);
    EXPECT_EQ(core.undoName(), p.stepName);
    EXPECT_FALSE(core.canRedo());
}

// A show in the file the Open case opens: frame 0's channel 4 at 2000.
void writeShow(CoreRig& r) {
    const std::string path = *r.view.openAnswers.front();
    r.setChannel(0, 4, 2000);
    r.view.saveAnswers.push_back(path);
    ASSERT_TRUE(r.core.Save1Click());
    r.setChannel(0, 4, 1500, 0, 0, 0, false);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, EachStep,
    ::testing::Values(
        StepCase{"SliderDrag", nullptr,
                 [](CoreRig& r) {
                     SliderModel& t = r.core.userStrip(3).Track;
                     t.userPress();
                     for (int p : {1400, 1300, 1200}) {
                         t.userMove(p);
                         r.ticks.advance(1500);  // however slow, one drag is one step
                     }
                     t.userRelease();
                 },
                 "Position Change", {{3, 0, 750}}, {{3, 0, 900}}},
        StepCase{"OffsetWheelStep", nullptr, [](CoreRig& r) { r.core.userStrip(5).OffsetTrack.userMove(20); },
                 "Offset Change", {{5, 0, 750}}, {{5, 0, 760}}},
        StepCase{"TypedPosition", nullptr, [](CoreRig& r) { typePosition(r, 6, "1800"); }, "Position Change",
                 {{6, 0, 750}}, {{6, 0, 900}}},
        StepCase{"RateArrowClick", nullptr, [](CoreRig& r) { r.core.userStrip(7).RateEdit.stepUp(); },
                 "Rate Change", {}, {}},
        StepCase{"PositionText", nullptr, [](CoreRig& r) { r.core.StaticTextMaxClick(9); }, "Position Change",
                 {{9, 0, 750}}, {{9, 0, 1250}}},
        StepCase{"WriteFrame", [](CoreRig& r) { r.editStrip(2, 1700, 4); },
                 [](CoreRig& r) { r.core.WriteFrameClick(); }, "Write Frame", {}, {}},
        StepCase{"InsertFrame",
                 threeFramesOnTheSecond,
                 [](CoreRig& r) { r.core.InsFrameClick(); }, "Insert Frame", {}, {}},
        StepCase{"DeleteFrame",
                 threeFramesOnTheSecond,
                 [](CoreRig& r) { r.core.DelFrameClick(); }, "Delete Frame", {}, {}},
        // The rate and pause of channel 7 change, its position does not: it is
        // not sent.
        StepCase{"Reset",
                 [](CoreRig& r) {
                     r.editStrip(1, 1800);
                     r.editStrip(6, 1500, 0, 20);
                     r.editStrip(7, 1500, 10, 0, 300);
                 },
                 [](CoreRig& r) { r.core.FrameResetClick(); }, "Reset", {{1, 0, 900}, {6, 0, 760}},
                 {{1, 0, 750}, {6, 0, 750}}},
        StepCase{"JumpEdit", nullptr, [](CoreRig& r) { r.core.IncButtonClick(); }, "Jump Change", {}, {}},
        StepCase{"Open", writeShow, [](CoreRig& r) { r.core.Open1Click(); }, "Open", {{4, 0, 750}},
                 {{4, 0, 1000}}}),
    [](const auto& info) { return std::string(info.param.name); });

class UndoTest : public CoreFixture {
protected:
    NumberBoxModel& rate(int channel) { return core.userStrip(channel).RateEdit; }
    // Clears a position box and types a value into it; typing goes on.
    void typeInto(int channel, const std::string& text) {
        NumberBoxModel& box = core.userStrip(channel).PositionEdit;
        box.pressKey(vk::Back);
        box.setText("");
        for (char ch : text) {
            box.pressKey(ch);
            box.typeCharacter(static_cast<char32_t>(ch));
        }
    }
};

TEST_F(UndoTest, RepeatedClicksOnOneControlWithinASecondAreOneStep) {
    rate(2).stepUp();
    ticks.advance(900);
    rate(2).stepUp();
    ticks.advance(900);
    rate(2).stepUp();
    ticks.advance(1000);
    rate(2).stepUp();  // a second after the last: a step of its own
    rate(3).stepUp();  // another control
    rate(2).stepUp();  // and back: a new step again

    ASSERT_TRUE(core.undo());
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(rate(3).value(), 0);
    EXPECT_EQ(rate(2).value(), 4);
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(rate(2).value(), 3);
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(rate(2).value(), 0);
    EXPECT_FALSE(core.canUndo());

    // The jump editor's small buttons join the same way.
    core.IncButtonClick();
    core.IncButtonClick();
    ticks.advance(1000);
    core.IncButtonClick();
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(core.sequence().frame(0).jumpTo, 1);
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(core.sequence().frame(0).jumpTo, -1);

    // A value typed right after a click is a step of its own, and so is a
    // click right after typing, or after a redone click.
    rate(6).stepUp();
    rate(6).setText("9");
    rate(6).stepUp();
    for (int back : {9, 1, 0}) {
        ASSERT_TRUE(core.undo());
        EXPECT_EQ(rate(6).value(), back);
    }
    rate(7).stepUp();
    ASSERT_TRUE(core.undo());
    ASSERT_TRUE(core.redo());
    rate(7).stepUp();
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(rate(7).value(), 1);
}

TEST_F(UndoTest, ADragIsOneStepFromPressToRelease) {
    SliderModel& track = core.userStrip(3).Track;
    for (int end : {1200, 1000}) {
        track.userPress();
        track.userMove(end + 100);
        track.userMove(end);
        track.userRelease();
    }
    // Wheel steps on the same slider right after: clicks again, a second apart.
    track.userMove(990);
    ticks.advance(1500);
    track.userMove(980);

    for (int back : {990, 1000, 1200, 1500}) {
        ASSERT_TRUE(core.undo());
        EXPECT_EQ(track.position(), back);
    }
    EXPECT_FALSE(core.canUndo());
}

TEST_F(UndoTest, TypingIsOneStepUntilItEndsAndUndoEndsItFirst) {
    NumberBoxModel& box = core.userStrip(4).PositionEdit;
    box.pressKey(vk::Back);
    box.setText("");
    for (char ch : std::string("18")) {
        box.pressKey(ch);
        box.typeCharacter(static_cast<char32_t>(ch));
    }
    ticks.advance(5000);  // a pause in the typing changes nothing
    box.pressKey('0');
    box.typeCharacter(U'0');
    EXPECT_TRUE(core.state().typingPosition);
    EXPECT_EQ(core.undoName(), "Position Change");
    takeSent();

    // Undo while typing: leaving the box syncs (180, held to 500) and sends,
    // then the whole typing is taken back.
    ASSERT_TRUE(core.undo());
    EXPECT_FALSE(core.state().typingPosition);
    EXPECT_EQ(box.text(), "1500");
    EXPECT_EQ(core.strip(4).Track.position(), 1500);
    EXPECT_EQ(takeSent(), (Sends{{4, 0, 250}, {4, 0, 750}}));
    EXPECT_FALSE(core.canUndo());

    // Up ends typing with its step: one step. Typing anew after the end of
    // it, and in a rate box after leaving it, are steps of their own.
    typeInto(4, "1800");
    box.pressKey(vk::Up);
    typeInto(4, "1600");
    box.pressKey(vk::Return);
    typeInto(4, "1700");
    box.pressKey(vk::Return);
    rate(4).setText("5");
    rate(4).focusLost();
    rate(4).setText("6");
    rate(4).focusLost();
    rate(4).stepUp();
    for (const char* back : {"6", "5", "0"}) {
        ASSERT_TRUE(core.undo());
        EXPECT_EQ(rate(4).text(), back);
    }
    for (const char* back : {"1600", "1802", "1500"}) {
        ASSERT_TRUE(core.undo());
        EXPECT_EQ(box.text(), back);
    }
    EXPECT_FALSE(core.canUndo());

    // Redo while typing (a key that changed nothing yet) ends typing first.
    useFrame(0);
    ASSERT_TRUE(core.redo());
    box.pressKey(vk::Left);
    ASSERT_TRUE(core.state().typingPosition);
    ASSERT_TRUE(core.redo());
    EXPECT_FALSE(core.state().typingPosition);
    EXPECT_EQ(box.text(), "1600");
    ASSERT_TRUE(core.redo());
    EXPECT_EQ(box.text(), "1700");
}

// A text field's own undo back to where the typing began.
TEST_F(UndoTest, TakingBackTypingRestoresTheBoxSendsNothingAndLeavesNoStep) {
    rate(2).stepUp();  // a step before it
    EXPECT_FALSE(core.typingUnderWay(2, EditControl::Rate));  // a click is no typing
    typeInto(4, "1800");
    EXPECT_TRUE(core.typingUnderWay(4, EditControl::Position));
    EXPECT_FALSE(core.typingUnderWay(3, EditControl::Position));
    EXPECT_FALSE(core.typingUnderWay(4, EditControl::Rate));
    EXPECT_FALSE(core.takeBackTyping(4, EditControl::Rate));
    EXPECT_FALSE(core.takeBackTyping(3, EditControl::Position));
    takeSent();
    int changes = 0;
    core.addChangeListener([&] { ++changes; });

    ASSERT_TRUE(core.takeBackTyping(4, EditControl::Position));
    EXPECT_EQ(core.userStrip(4).PositionEdit.text(), "1500");
    EXPECT_EQ(core.strip(4).Track.position(), 1500);
    EXPECT_FALSE(core.state().typingPosition);
    EXPECT_EQ(takeSent(), (Sends{{4, 0, 750}}));  // the servo where it was, once
    EXPECT_GT(changes, 0);
    EXPECT_FALSE(core.canRedo());
    EXPECT_FALSE(core.takeBackTyping(4, EditControl::Position));

    // The next step starts from the state taken back to, and the click
    // before the typing does not grow across it.
    rate(2).stepUp();
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(rate(2).value(), 1);
    EXPECT_EQ(core.strip(4).Track.position(), 1500);
    EXPECT_EQ(core.userStrip(4).PositionEdit.text(), "1500");
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(rate(2).value(), 0);
    EXPECT_FALSE(core.canUndo());
}

TEST_F(UndoTest, ANewChangeAfterAnUndoDropsTheStepsThatCouldHaveBeenRedone) {
    rate(1).stepUp();
    core.IncButtonClick();
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(core.redoName(), "Jump Change");

    core.userStrip(2).PauseEdit.setText("40");

    EXPECT_FALSE(core.canRedo());
    EXPECT_FALSE(core.redo());
    EXPECT_EQ(core.undoName(), "Pause Change");
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(core.undoName(), "Rate Change");
}

TEST_F(UndoTest, NavigationAndPlaybackMakeNoStepAndAStepStartsFromTheStateItMeets) {
    setChannel(1, 0, 1800);  // marked: showing frame 1 marks and sends
    useFrame(0);
    useFrame(1);
    rate(5).stepUp();  // a step on frame 0
    core.NextFrameClick();
    core.RunClick();
    core.StopClick();
    core.NextFrameClick();
    EXPECT_EQ(core.undoName(), "Rate Change");
    const EditorView navigated = viewOf(*this);

    core.IncButtonClick();
    ASSERT_TRUE(core.undo());
    EXPECT_EQ(viewOf(*this), navigated);
    EXPECT_EQ(core.undoName(), "Rate Change");
}

TEST_F(UndoTest, UndoAndRedoAreRefusedDuringPlayback) {
    useFrame(0);
    core.IncButtonClick();
    ASSERT_TRUE(core.undo());
    core.DecButtonClick();  // at -1: changes nothing, so no step
    EXPECT_TRUE(core.canRedo());
    bool ran = false;
    view.onEvents = [&](int) {
        if (ran) return;
        ran = true;
        EXPECT_FALSE(core.canUndo());
        EXPECT_FALSE(core.canRedo());
        EXPECT_FALSE(core.undo());
        EXPECT_FALSE(core.redo());
        EXPECT_EQ(core.redoName(), "Jump Change") << "the menu names it all the same";
        EXPECT_EQ(core.sequence().frame(0).jumpTo, -1);
        core.PauseButtonClick();
    };

    core.RunClick();

    EXPECT_TRUE(ran);
    EXPECT_FALSE(core.canRedo()) << "a paused playback is still a playback";
    core.StopClick();
    EXPECT_TRUE(core.redo());
    EXPECT_EQ(core.sequence().frame(0).jumpTo, 0);
}

TEST_F(UndoTest, ChangedSinceSavedFollowsEditsSavesAndUndo) {
    TempFolder dir;
    EXPECT_FALSE(core.unsavedChanges()) << "the fresh sequence";
    EXPECT_EQ(core.documentName(), "Untitled");

    rate(0).stepUp();
    EXPECT_TRUE(core.unsavedChanges());
    ASSERT_TRUE(core.undo());
    EXPECT_FALSE(core.unsavedChanges()) << "undone back to the fresh sequence";
    ASSERT_TRUE(core.redo());

    view.saveAnswers.push_back(dir.file("walk.KDX"));
    ASSERT_TRUE(core.Save1Click());
    EXPECT_FALSE(core.unsavedChanges());
    EXPECT_EQ(core.documentName(), "walk.KDX");

    core.IncButtonClick();
    EXPECT_TRUE(core.unsavedChanges());
    view.saveAnswers.push_back(dir.path().string());  // a folder: the save fails
    EXPECT_FALSE(core.Save1Click());
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_TRUE(core.unsavedChanges());
    view.saveAnswers.push_back(std::nullopt);  // the dialog cancelled
    EXPECT_FALSE(core.Save1Click());
    EXPECT_TRUE(core.unsavedChanges());
    EXPECT_EQ(core.documentName(), "walk.KDX");

    ASSERT_TRUE(core.undo());
    EXPECT_FALSE(core.unsavedChanges()) << "undone back to what was saved";
    ASSERT_TRUE(core.undo());
    EXPECT_TRUE(core.unsavedChanges()) << "undone past the save";

    // Showing a frame marks the sequence: a change, though no step.
    setChannel(0, 8, 2000);
    view.saveAnswers.push_back(dir.file("walk.KDX"));
    ASSERT_TRUE(core.Save1Click());
    core.StartFrameClick();
    EXPECT_TRUE(core.unsavedChanges());
}

TEST_F(UndoTest, UndoingAnOpenBringsBackTheFileAndWhatItHeld) {
    TempFolder dir;
    const std::string path = dir.file("walk.KDX");
    setChannel(0, 4, 2000, 0, 0, 0, false);  // shown, it marks channel 4 and the frame
    view.saveAnswers.push_back(path);
    ASSERT_TRUE(core.Save1Click());
    rate(0).stepUp();
    view.openAnswers.push_back(path);
    core.Open1Click();  // the same file again
    EXPECT_FALSE(core.unsavedChanges());

    ASSERT_TRUE(core.undo());
    EXPECT_TRUE(core.unsavedChanges());
    ASSERT_TRUE(core.undo());
    EXPECT_FALSE(core.unsavedChanges()) << "back to what the file held before it was opened again";
    EXPECT_EQ(core.fileName(), path);
}

TEST_F(UndoTest, AThousandStepsAreKept) {
    for (size_t k = 0; k <= EditorCore::kStepsKept; ++k) {
        core.IncButtonClick();  // -1 to 0
        core.Label2DblClick();  // and back
    }
    size_t undone = 0;
    while (core.undo()) ++undone;
    EXPECT_EQ(undone, EditorCore::kStepsKept);
}

TEST_F(UndoTest, ARecoveryCopyBringsBackEveryFrameTheStripsAndTheNameAsUnsaved) {
    TempFolder dir;
    for (int f = 0; f < kFrameCount; ++f) setChannel(f, f % kChannelCount, 600 + 10 * f, f % 64, f % 50 - 25, f);
    useFrame(127, 3);
    editStrip(2, 2100, 5, -30, 70);
    setFrames(40, 90);
    view.saveAnswers.push_back(dir.file("long show.KDX"));
    ASSERT_TRUE(core.Save1Click());
    auto copy = std::make_unique<RecoveryCopy>();
    core.copyForRecovery(*copy);

    CoreRig fresh;
    ASSERT_TRUE(fresh.openPort());
    fresh.core.IncButtonClick();  // a step the recovered sequence leaves behind
    ASSERT_TRUE(fresh.core.recover(*copy));

    EXPECT_TRUE(std::equal(fresh.core.sequence().image().begin(), fresh.core.sequence().image().end(),
                           core.sequence().image().begin()));
    EditorView saved = viewOf(*this);
    saved.unsaved = true;  // the recovered sequence is not what the file holds
    EXPECT_EQ(viewOf(fresh), saved);
    EXPECT_EQ(fresh.core.fileName(), dir.file("long show.KDX"));
    EXPECT_TRUE(fresh.core.unsavedChanges());
    EXPECT_FALSE(fresh.core.canUndo());
    EXPECT_FALSE(fresh.core.canRedo());
    // The one strip that differed from the fresh strips is sent.
    EXPECT_EQ(fresh.takeSent(), (Sends{{2, 5, pulseOf(2100, -30)}}));
}

}  // namespace
