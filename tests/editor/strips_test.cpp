// SPDX-License-Identifier: GPL-3.0-or-later
// The channel strips' handler chains, typing mode and live sends, observed
// as the commands that reach the controller simulator.

#include <gtest/gtest.h>

#include "CoreFixture.h"

namespace {

class StripTest : public CoreFixture {
protected:
    // Types a text into a position box as a user does: each character's key
    // goes to the key handler first, then the character reaches the box.
    void typeInto(int channel, const std::string& text) {
        NumberBoxModel& box = core.userStrip(channel).PositionEdit;
        for (char ch : text) {
            box.pressKey(static_cast<int>(ch));  // "0".."9" are keys 48..57
            box.typeCharacter(static_cast<char32_t>(ch));
        }
    }
    // Clears a position box with Backspace, as a user would before typing.
    void clearBox(int channel) {
        NumberBoxModel& box = core.userStrip(channel).PositionEdit;
        box.pressKey(vk::Back);
        box.setText("");
    }

    const ChannelSetting& stored(int channel) { return core.sequence().channel(0, channel); }
    const Frame& frame0() { return core.sequence().frame(0); }
};

TEST_F(StripTest, StripsStartWithTheDefaultsAndTheirCaptions) {
    for (int i = 0; i < kChannelCount; ++i) {
        const TChannel& s = core.strip(i);
        EXPECT_EQ(s.GroupBox, "Ch " + std::to_string(i));
        EXPECT_EQ(s.Track.position(), 1500);
        EXPECT_EQ(s.PositionEdit.text(), "1500");
        EXPECT_EQ(s.RateEdit.text(), "0");
        EXPECT_EQ(s.OffsetTrack.position(), 0);
        EXPECT_EQ(s.PauseEdit.text(), "0");
        EXPECT_FALSE(s.changedMark);
    }
    EXPECT_EQ(TChannel::layoutLeft(0), 7);
    EXPECT_EQ(TChannel::layoutLeft(15), 567);
    EXPECT_EQ(TChannel::layoutLeft(18), 87);
    EXPECT_EQ(TChannel::layoutTop(2), 10);
    EXPECT_EQ(TChannel::layoutTop(3), 290);
}

TEST_F(StripTest, EverySliderNotificationSendsOneLiveCommand) {
    TChannel& s = core.userStrip(5);
    s.RateEdit.setText("7");  // rate edits send nothing by themselves
    EXPECT_TRUE(takeSent().empty());
    s.Track.userMove(1200);  // slider 1200 is position 1800
    s.Track.userMove(1200);  // end of the movement: same position, sent again
    EXPECT_EQ(s.PositionEdit.text(), "1800");
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{5, 7, 900}, {5, 7, 900}}));
    EXPECT_EQ(stored(5).changed, 1);
    EXPECT_EQ(frame0().frameUsed, 1);
    EXPECT_EQ(stored(5).position, 1500) << "edits stay in the strip until stored";
}

TEST_F(StripTest, SliderEndsShowTheInvertedPositions) {
    TChannel& s = core.userStrip(0);
    s.Track.userMove(500);  // top end
    EXPECT_EQ(s.PositionEdit.text(), "2500");
    s.Track.userMove(2500);  // bottom end
    EXPECT_EQ(s.PositionEdit.text(), "500");
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{0, 0, 1250}, {0, 0, 250}}));
}

TEST_F(StripTest, SteppingTheBoxMovesTheSliderAndSendsOnce) {
    TChannel& s = core.userStrip(2);
    s.PositionEdit.pressKey(vk::Up);
    EXPECT_EQ(s.PositionEdit.text(), "1502");
    EXPECT_EQ(s.Track.position(), 1498);
    s.PositionEdit.stepDown();  // the down button
    s.PositionEdit.stepDown();
    EXPECT_EQ(s.Track.position(), 1502);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{2, 0, 751}, {2, 0, 750}, {2, 0, 749}}));
    EXPECT_FALSE(core.state().typingPosition);
}

TEST_F(StripTest, TypingThenEnterSendsTheTypedValueOnce) {
    clearBox(4);
    typeInto(4, "1800");
    EXPECT_TRUE(core.state().typingPosition);
    EXPECT_TRUE(takeSent().empty()) << "nothing is sent while typing";
    NumberBoxModel& box = core.userStrip(4).PositionEdit;
    EXPECT_EQ(box.pressKey(vk::Return), 0) << "Enter ends typing and is consumed";
    EXPECT_FALSE(box.typeCharacter(U'\r')) << "the Enter character itself is refused";
    EXPECT_FALSE(core.state().typingPosition);
    EXPECT_EQ(core.strip(4).Track.position(), 1200);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{4, 0, 900}}));
    EXPECT_EQ(stored(4).changed, 1);
}

TEST_F(StripTest, UpWhileTypingStepsThenSyncs) {
    clearBox(1);
    typeInto(1, "1800");
    core.userStrip(1).PositionEdit.pressKey(vk::Up);
    EXPECT_EQ(core.strip(1).PositionEdit.text(), "1802");
    EXPECT_EQ(core.strip(1).Track.position(), 1198);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{1, 0, 901}}));

    // A typed value below the range: the step clamps like a program set, and
    // the sync sends the clamped position.
    clearBox(1);
    typeInto(1, "180");
    core.userStrip(1).PositionEdit.pressKey(vk::Up);
    EXPECT_EQ(core.strip(1).PositionEdit.text(), "500");
    EXPECT_EQ(core.strip(1).Track.position(), 2500);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{1, 0, 250}}));
}

TEST_F(StripTest, OutOfRangeTextWithTheSliderAtItsEndWaitsForTheFocusToLeave) {
    TChannel& s = core.userStrip(6);
    core.StaticTextMaxClick(6);
    (void)takeSent();
    ASSERT_EQ(s.Track.position(), 500);
    clearBox(6);
    typeInto(6, "3000");
    s.PositionEdit.pressKey(vk::Return);
    EXPECT_EQ(s.PositionEdit.text(), "3000");
    EXPECT_TRUE(takeSent().empty());
    s.PositionEdit.focusLost();
    EXPECT_EQ(s.PositionEdit.text(), "2500");
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(StripTest, OutOfRangeTextMovesTheSliderWhichRewritesTheBox) {
    TChannel& s = core.userStrip(6);
    clearBox(6);
    typeInto(6, "100");
    s.PositionEdit.pressKey(vk::Return);
    EXPECT_EQ(s.PositionEdit.text(), "500");
    EXPECT_EQ(s.Track.position(), 2500);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{6, 0, 250}}));
}

TEST_F(StripTest, TypedValuesAtTheEndsOfTheIntegerRangeSyncClamped) {
    // 2147483647 and Up: the step holds at the box's top, the sync sends it.
    clearBox(2);
    typeInto(2, "2147483647");
    core.userStrip(2).PositionEdit.pressKey(vk::Up);
    EXPECT_EQ(core.strip(2).PositionEdit.text(), "2500");
    EXPECT_EQ(core.strip(2).Track.position(), 500);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{2, 0, 1250}}));

    // -2147483648 and Enter, the slider already at its bottom end: the sync
    // computes a slider position far past that end and leaves it there.
    TChannel& s = core.userStrip(3);
    core.StaticTextMinClick(3);
    (void)takeSent();
    clearBox(3);
    s.PositionEdit.pressKey(189);  // the minus key: not a typing key, so it syncs ("-" reads as 500)
    s.PositionEdit.typeCharacter(U'-');
    typeInto(3, "2147483648");
    s.PositionEdit.pressKey(vk::Return);
    EXPECT_EQ(s.PositionEdit.text(), "-2147483648");
    EXPECT_EQ(s.Track.position(), 2500);
    s.PositionEdit.focusLost();
    EXPECT_EQ(s.PositionEdit.text(), "500");
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(StripTest, AnEmptiedBoxReadsAsTheMinimum) {
    TChannel& s = core.userStrip(7);
    core.StaticTextMinClick(7);
    (void)takeSent();
    clearBox(7);
    s.PositionEdit.pressKey(vk::Return);
    EXPECT_EQ(s.PositionEdit.text(), "");
    EXPECT_EQ(s.PositionEdit.value(), 500);
    s.PositionEdit.focusLost();
    EXPECT_EQ(s.PositionEdit.text(), "");
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(StripTest, FocusLeavingWhileTypingSyncsAndSends) {
    clearBox(8);
    typeInto(8, "1800");
    core.userStrip(8).PositionEdit.focusLost();  // Tab, or a click on another control
    EXPECT_FALSE(core.state().typingPosition);
    EXPECT_EQ(core.strip(8).Track.position(), 1200);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{8, 0, 900}}));
}

class KeysOutsideBothSets : public StripTest, public ::testing::WithParamInterface<int> {};

TEST_P(KeysOutsideBothSets, EndTypingWithoutASync) {
    clearBox(9);
    typeInto(9, "1800");
    core.userStrip(9).PositionEdit.pressKey(GetParam());
    EXPECT_FALSE(core.state().typingPosition);
    core.userStrip(9).PositionEdit.focusLost();
    EXPECT_EQ(core.strip(9).PositionEdit.text(), "1800");
    EXPECT_EQ(core.strip(9).Track.position(), 1500) << "slider and servo keep the old position";
    EXPECT_TRUE(takeSent().empty());
    core.WriteFrameClick();
    EXPECT_EQ(stored(9).position, 1800) << "storing the frame takes the box's text";
}

INSTANTIATE_TEST_SUITE_P(HomeEndEscapeShift, KeysOutsideBothSets,
                         ::testing::Values(vk::Home, vk::End, vk::Escape, vk::Shift));

TEST_F(StripTest, KeypadDigitsSyncAtOnce) {
    TChannel& s = core.userStrip(10);
    s.PositionEdit.pressKey(vk::Numpad0 + 1);
    s.PositionEdit.setText("1");  // the text was selected and replaced
    EXPECT_FALSE(core.state().typingPosition);
    EXPECT_EQ(s.PositionEdit.text(), "500") << "a lone 1 is rewritten through the slider";
    EXPECT_EQ(s.Track.position(), 2500);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{10, 0, 250}}));
}

TEST_F(StripTest, AKeyThatChangesNothingMarksTheFrameOnly) {
    core.userStrip(11).PositionEdit.pressKey(vk::Left);
    EXPECT_EQ(frame0().frameUsed, 1);
    EXPECT_EQ(stored(11).changed, 0);
    EXPECT_TRUE(core.state().typingPosition) << "Left is an editing key";
    core.userStrip(11).PositionEdit.pressKey(vk::Shift);
    EXPECT_FALSE(core.state().typingPosition);
    EXPECT_EQ(stored(11).changed, 0);
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(StripTest, OffsetTextAtZeroMarksButSendsNothing) {
    core.StaticTextOffClick(12);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(stored(12).changed, 1);
    EXPECT_EQ(frame0().frameUsed, 1);

    core.userStrip(12).OffsetTrack.userMove(40);
    core.StaticTextOffClick(12);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{12, 0, 770}, {12, 0, 750}}));
}

TEST_F(StripTest, PositionTextsMoveBoxAndSliderWithOneSend) {
    const TChannel& s = core.strip(13);
    core.StaticTextMaxClick(13);
    EXPECT_EQ(s.PositionEdit.text(), "2500");
    EXPECT_EQ(s.Track.position(), 500);
    core.StaticTextCtrClick(13);
    EXPECT_EQ(s.Track.position(), 1500);
    core.StaticTextMinClick(13);
    EXPECT_EQ(s.PositionEdit.text(), "500");
    core.StaticTextMinClick(13);  // already there: nothing moves
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{13, 0, 1250}, {13, 0, 750}, {13, 0, 250}}));
}

TEST_F(StripTest, CentreTextWhileTypingMovesTheSliderThroughItsOwnStep) {
    const TChannel& s = core.strip(14);
    clearBox(14);
    typeInto(14, "1800");
    core.StaticTextCtrClick(14);
    EXPECT_TRUE(core.state().typingPosition) << "a click on a text does not take the focus";
    EXPECT_EQ(s.PositionEdit.text(), "1500");
    EXPECT_EQ(s.Track.position(), 1500);
    EXPECT_TRUE(takeSent().empty()) << "the slider stood at 1500 already";
}

TEST_F(StripTest, RateAndPauseSendNothingButMark) {
    core.userStrip(15).RateEdit.setText("9");
    core.userStrip(16).PauseEdit.setText("250");
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(stored(15).changed, 1);
    EXPECT_EQ(stored(16).changed, 1);
    core.userStrip(15).Track.userMove(1000);
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{15, 9, 1000}}));
}

TEST_F(StripTest, ShowingEqualValuesRunsNoHandler) {
    core.StartFrameClick();
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(frame0().frameUsed, 0);
    for (int c = 0; c < kChannelCount; ++c) EXPECT_EQ(stored(c).changed, 0);
}

TEST_F(StripTest, OffsetIsAddedToTheLiveCommand) {
    core.userStrip(20).OffsetTrack.userMove(-50);
    core.userStrip(20).Track.userMove(2500);  // position 500
    EXPECT_EQ(takeSent(), (std::vector<Sent>{{20, 0, 725}, {20, 0, 225}}));
}

}  // namespace
