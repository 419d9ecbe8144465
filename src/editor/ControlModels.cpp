// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/ControlModels.h"

#include <algorithm>
#include <charconv>
#include <climits>

namespace {
void runUserAction(const UserActionRunner& runner, UserAction kind, const std::function<void()>& action) {
    if (runner)
        runner(kind, action);
    else
        action();
}
}  // namespace

SliderModel::SliderModel(int minimum, int maximum, int position, int lineStep, int pageStep)
    : minimum_(minimum), maximum_(maximum), position_(position), lineStep_(lineStep),
      pageStep_(pageStep) {}

void SliderModel::store(int position) {
    position_ = position;
    if (onRender) onRender();
}

void SliderModel::setPosition(int position) {
    position = std::clamp(position, minimum_, maximum_);
    if (position == position_) return;
    store(position);
    if (onChange) onChange();
}

void SliderModel::userMove(int position) {
    runUserAction(onUserAction, UserAction::Move, [&] {
        store(std::clamp(position, minimum_, maximum_));
        if (onChange) onChange();
    });
}

void SliderModel::userPress() {
    if (onHold) onHold(true);
}

void SliderModel::userRelease() {
    if (onHold) onHold(false);
}

NumberBoxModel::NumberBoxModel(int minimum, int maximum, int step, int value)
    : minimum_(minimum), maximum_(maximum), step_(step), text_(std::to_string(value)) {}

namespace {
// A decimal integer with an optional sign and nothing else.
bool parseDecimal(const std::string& text, long long& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    if (first == last) return false;
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr == last && out >= INT_MIN && out <= INT_MAX;
}
}  // namespace

int NumberBoxModel::value() const {
    long long v;
    return parseDecimal(text_, v) ? static_cast<int>(v) : minimum_;
}

int NumberBoxModel::clamp(int value) const {
    if (minimum_ == maximum_) return value;
    return std::clamp(value, minimum_, maximum_);
}

void NumberBoxModel::storeText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    if (onRender) onRender();
    if (onChange) onChange();
}

void NumberBoxModel::setValue(int value) { storeText(std::to_string(clamp(value))); }

void NumberBoxModel::setText(const std::string& text) {
    runUserAction(onUserAction, UserAction::Text, [&] { storeText(text); });
}

void NumberBoxModel::stepUp() {
    runUserAction(onUserAction, UserAction::Step, [&] {
        long long v = static_cast<long long>(value()) + step_;
        setValue(static_cast<int>(std::min<long long>(v, INT_MAX)));
    });
}

void NumberBoxModel::stepDown() {
    runUserAction(onUserAction, UserAction::Step, [&] {
        long long v = static_cast<long long>(value()) - step_;
        setValue(static_cast<int>(std::max<long long>(v, INT_MIN)));
    });
}

int NumberBoxModel::pressKey(int virtualKey) {
    const bool steps = virtualKey == vk::Up || virtualKey == vk::Down;
    int key = virtualKey;
    runUserAction(onUserAction, steps ? UserAction::Step : UserAction::Key, [&] {
        if (virtualKey == vk::Up) stepUp();
        if (virtualKey == vk::Down) stepDown();
        if (onKeyDown) onKeyDown(key);
    });
    return key;
}

bool NumberBoxModel::acceptsCharacter(char32_t c) {
    if (c == U'\r' || c == U'\n') return false;  // Enter
    if (c < 0x20 || c == 0x7F) return true;       // other control characters
    return (c >= U'0' && c <= U'9') || c == U'+' || c == U'-' || c == U'.';
}

bool NumberBoxModel::typeCharacter(char32_t c) {
    if (!acceptsCharacter(c)) return false;
    runUserAction(onUserAction, UserAction::Text, [&] {
        if (c == U'\b') {
            if (!text_.empty()) setText(text_.substr(0, text_.size() - 1));
        } else if (c >= 0x20 && c != 0x7F) {
            setText(text_ + static_cast<char>(c));
        }
    });
    return true;
}

void NumberBoxModel::focusLost() {
    runUserAction(onUserAction, UserAction::Leave, [&] {
        if (onExit) onExit();
        long long v;
        if (parseDecimal(text_, v)) {
            int value = static_cast<int>(v);
            if (clamp(value) != value) setValue(value);
        }
    });
}
