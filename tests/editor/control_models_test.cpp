// SPDX-License-Identifier: GPL-3.0-or-later
// The change-notification rules of the slider and number box models.

#include <gtest/gtest.h>

#include "editor/ControlModels.h"

namespace {

struct Counter {
    int changes = 0;
    void attach(SliderModel& s) { s.onChange = [this] { ++changes; }; }
    void attach(NumberBoxModel& b) { b.onChange = [this] { ++changes; }; }
};

TEST(SliderModel, UserMovementNotifiesEvenWithoutChange) {
    SliderModel s(500, 2500, 1500, 2, 2);
    Counter c;
    c.attach(s);
    s.userMove(1500);
    s.userMove(1500);
    s.userMove(9000);  // clamped, still a notification
    EXPECT_EQ(c.changes, 3);
    EXPECT_EQ(s.position(), 2500);
}

TEST(SliderModel, ProgramSetClampsAndNotifiesOnlyOnChange) {
    SliderModel s(-50, 50, 0, 1, 2);
    Counter c;
    c.attach(s);
    s.setPosition(0);
    EXPECT_EQ(c.changes, 0);
    s.setPosition(-80);
    EXPECT_EQ(s.position(), -50);
    EXPECT_EQ(c.changes, 1);
    s.setPosition(-51);  // clamps to the same position: no event
    EXPECT_EQ(c.changes, 1);
}

TEST(NumberBoxModel, ValueParsesTextAndFallsBackToMinimum) {
    NumberBoxModel b(500, 2500, 2, 1500);
    struct Case { const char* text; int value; };
    for (Case k : {Case{"1800", 1800}, Case{"+12", 12}, Case{"-7", -7}, Case{"", 500},
                   Case{"-", 500}, Case{"+", 500}, Case{"12a", 500}, Case{"1.5", 500},
                   Case{"99999999999", 500}, Case{"3000", 3000}}) {
        b.setText(k.text);
        EXPECT_EQ(b.value(), k.value) << '"' << k.text << '"';
    }
}

TEST(NumberBoxModel, ProgramSetClampsWritesTextAndNotifiesOnlyOnTextChange) {
    NumberBoxModel b(0, 63, 1, 0);
    Counter c;
    c.attach(b);
    b.setValue(0);
    EXPECT_EQ(c.changes, 0);
    b.setValue(100);
    EXPECT_EQ(b.text(), "63");
    EXPECT_EQ(c.changes, 1);
    b.setText("063");  // typed: kept as typed, a text change
    EXPECT_EQ(c.changes, 2);
    b.setValue(63);  // text "63" differs from "063"
    EXPECT_EQ(b.text(), "63");
    EXPECT_EQ(c.changes, 3);
}

TEST(NumberBoxModel, EqualLimitsAreNotClamped) {
    NumberBoxModel b(5, 5, 1, 5);
    b.setValue(9);
    EXPECT_EQ(b.text(), "9");
}

TEST(NumberBoxModel, StepsClampLikeAProgramSet) {
    NumberBoxModel b(500, 2500, 2, 2500);
    Counter c;
    c.attach(b);
    b.stepUp();
    EXPECT_EQ(b.text(), "2500");
    EXPECT_EQ(c.changes, 0);
    b.stepDown();
    EXPECT_EQ(b.text(), "2498");
    b.setText("3000");
    b.stepUp();
    EXPECT_EQ(b.text(), "2500");
    b.setText("");  // reads as the minimum
    b.stepUp();
    EXPECT_EQ(b.text(), "502");
}

TEST(NumberBoxModel, UpAndDownStepBeforeTheKeyHandlerSeesTheKey) {
    NumberBoxModel b(0, 65535, 1, 10);
    std::string seen;
    b.onKeyDown = [&](int& key) {
        seen = b.text();
        if (key == vk::Up) key = 0;
    };
    EXPECT_EQ(b.pressKey(vk::Up), 0);
    EXPECT_EQ(seen, "11");
    EXPECT_EQ(b.pressKey(vk::Down), vk::Down);
    EXPECT_EQ(seen, "10");
    EXPECT_EQ(b.pressKey(vk::Home), vk::Home);
    EXPECT_EQ(b.text(), "10");
}

TEST(NumberBoxModel, TypedCharactersFollowTheKeyFilter) {
    NumberBoxModel b(0, 65535, 1, 0);
    b.setText("");
    for (char32_t ch : {U'1', U'+', U'-', U'.', U'9'}) EXPECT_TRUE(b.typeCharacter(ch));
    EXPECT_EQ(b.text(), "1+-.9");
    for (char32_t ch : {U'\r', U'\n', U'a', U'Z', U' ', U',', U'\u00e9'})
        EXPECT_FALSE(b.typeCharacter(ch)) << static_cast<int>(ch);
    EXPECT_TRUE(b.typeCharacter(U'\b'));  // backspace: a control character, accepted
    EXPECT_EQ(b.text(), "1+-.");
    EXPECT_TRUE(NumberBoxModel::acceptsCharacter(U'\x1b'));  // Escape
}

TEST(NumberBoxModel, FocusLossRunsTheExitHandlerFirstThenClamps) {
    NumberBoxModel b(500, 2500, 2, 1500);
    std::vector<std::string> log;
    b.onExit = [&] { log.push_back("exit:" + b.text()); };
    b.onChange = [&] { log.push_back("change:" + b.text()); };
    b.setText("3000");
    log.clear();
    b.focusLost();
    EXPECT_EQ(log, (std::vector<std::string>{"exit:3000", "change:2500"}));

    log.clear();
    b.setText("");
    log.clear();
    b.focusLost();  // empty reads as the minimum, which is in range: stays empty
    EXPECT_EQ(b.text(), "");
    EXPECT_EQ(log, (std::vector<std::string>{"exit:"}));

    b.setText("100");
    b.focusLost();
    EXPECT_EQ(b.text(), "500");
}

}  // namespace
