// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The change-notification rules of the strip controls, without a toolkit.
// The Qt widgets render these models and feed them the user's actions; the
// editor core attaches the handlers.
//
//  - A slider notifies on every movement the user makes, even when the
//    position stays; a program set clamps and notifies only on a change.
//  - A number box notifies whenever its text changes (typing, stepping, a
//    program set). A program set clamps (unless minimum equals maximum) and
//    writes the decimal text; reading parses the text, and a text that does
//    not parse reads as the minimum. Typed text is not clamped; on losing the
//    focus the focus-leaving handler runs first, then an out-of-range value
//    is replaced by the clamped one.
//  - Every action of the user (the calls below that say so) runs through
//    onUserAction, told what kind of action it is, before anything changes;
//    the program sets do not. So whoever keeps the undo history sees each
//    user action whole, with the state before it.

#include <functional>
#include <string>

// What a user's action on a control is.
enum class UserAction {
    Move,   // a slider movement notification (drag step, key, click, wheel)
    Text,   // text typed or pasted into a box
    Step,   // a box stepped up or down (its buttons, the Up and Down keys)
    Key,    // any other key pressed in a box
    Leave,  // the focus left a box
};

// Runs one user action: given its kind and the action itself, it must run
// the action once, at once. Unset: the action simply runs.
using UserActionRunner = std::function<void(UserAction, const std::function<void()>& action)>;

class SliderModel {
public:
    SliderModel(int minimum, int maximum, int position, int lineStep, int pageStep);

    int position() const { return position_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int lineStep() const { return lineStep_; }
    int pageStep() const { return pageStep_; }

    // Program set: clamps; notifies only when the stored position changes.
    void setPosition(int position);
    // A movement notification from the user (drag step, key, click, end of
    // a movement): clamps, stores and always notifies. A user action (Move).
    void userMove(int position);
    // The user takes hold of the thumb (a press on it) and lets it go: the
    // movements in between are one drag. Neither moves anything.
    void userPress();
    void userRelease();

    std::function<void()> onChange;  // the change handler
    std::function<void()> onRender;  // the view's redraw, after every store
    UserActionRunner onUserAction;   // runs each user action
    std::function<void(bool held)> onHold;  // told of userPress (true) and userRelease

private:
    void store(int position);
    int minimum_, maximum_, position_, lineStep_, pageStep_;
};

class NumberBoxModel {
public:
    NumberBoxModel(int minimum, int maximum, int step, int value);

    const std::string& text() const { return text_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int step() const { return step_; }

    // The text as a decimal integer; the minimum when it does not parse.
    int value() const;
    // Program set: clamps, writes the decimal text, notifies if it differs.
    void setValue(int value);
    // The user edited the text (typing, pasting): stored as it is, not
    // clamped; notifies if it differs. A user action (Text).
    void setText(const std::string& text);
    // One up/down step: value plus or minus the step, clamped like a program
    // set. A user action (Step).
    void stepUp();
    void stepDown();
    // A key pressed in the box (Windows virtual-key code). Up (38) and Down
    // (40) step first; then the key-pressed handler sees the key. Returns the
    // code as the handler left it (0 when consumed). A user action (Step for
    // Up and Down, else Key).
    int pressKey(int virtualKey);
    // A typed character, appended at the end of the text. Refused (false, the
    // view beeps) unless acceptsCharacter. A user action (Text).
    bool typeCharacter(char32_t character);
    // The focus leaves the box: the focus-leaving handler, then the clamp.
    // A user action (Leave).
    void focusLost();

    // Digits, "+", "-", the decimal separator and control characters other
    // than Enter.
    static bool acceptsCharacter(char32_t character);

    std::function<void()> onChange;           // the change handler
    std::function<void(int& key)> onKeyDown;  // the key-pressed handler
    std::function<void()> onExit;             // the focus-leaving handler
    std::function<void()> onRender;           // the view's redraw
    UserActionRunner onUserAction;            // runs each user action

private:
    int clamp(int value) const;
    void storeText(const std::string& text);
    int minimum_, maximum_, step_;
    std::string text_;
};

// Windows virtual-key codes that the position box's key handler knows.
namespace vk {
inline constexpr int Back = 8;
inline constexpr int Tab = 9;
inline constexpr int Return = 13;
inline constexpr int Shift = 16;
inline constexpr int Escape = 27;
inline constexpr int End = 35;
inline constexpr int Home = 36;
inline constexpr int Left = 37;
inline constexpr int Up = 38;
inline constexpr int Right = 39;
inline constexpr int Down = 40;
inline constexpr int Delete = 46;
inline constexpr int Digit0 = 48;   // main keyboard "0".."9": 48..57
inline constexpr int Numpad0 = 96;  // keypad "0".."9": 96..105
}  // namespace vk
