// SPDX-License-Identifier: GPL-3.0-or-later
// The handlers of the 32 channel strips. Each finds its strip by the channel
// index and marks as its last step.

#include <algorithm>
#include <cstdint>

#include "editor/EditorCore.h"
#include "link/Commands.h"

void EditorCore::attachHandlers(TChannel& s) {
    const int i = s.channel();
    s.Track.onChange = [this, i] { if (!quiet_) TrackChange(i); };
    s.OffsetTrack.onChange = [this, i] { if (!quiet_) OffsetChange(i); };
    s.PositionEdit.onChange = [this, i] { if (!quiet_) PositionChange(i); };
    s.PositionEdit.onKeyDown = [this, i](int& key) { if (!quiet_) PosKeyDown(i, key); };
    s.PositionEdit.onExit = [this, i] { if (!quiet_) PositionExit(i); };
    s.RateEdit.onChange = [this, i] { if (!quiet_) rateChange(i); };
    s.PauseEdit.onChange = [this, i] { if (!quiet_) PauseChange(i); };

    // The user's actions become steps of the undo history.
    auto runsAs = [this, i](EditControl control) {
        return [this, i, control](UserAction kind, const std::function<void()>& action) {
            userActs(i, control, kind, action);
        };
    };
    s.Track.onUserAction = runsAs(EditControl::Track);
    s.OffsetTrack.onUserAction = runsAs(EditControl::Offset);
    s.PositionEdit.onUserAction = runsAs(EditControl::Position);
    s.RateEdit.onUserAction = runsAs(EditControl::Rate);
    s.PauseEdit.onUserAction = runsAs(EditControl::Pause);
    s.Track.onHold = [this, i](bool held) { sliderHeld(i, EditControl::Track, held); };
    s.OffsetTrack.onHold = [this, i](bool held) { sliderHeld(i, EditControl::Offset, held); };
}

void EditorCore::setStripsQuietly(const StripStates& values) {
    std::array<bool, kChannelCount> moved{};
    quiet_ = true;
    for (int i = 0; i < kChannelCount; ++i) {
        TChannel& s = stripAt(i);
        const StripState& v = values[i];
        moved[i] = s.PositionEdit.value() != v.position || s.OffsetTrack.position() != v.offset;
        // The boxes take the numbers as text, so that a typed value beyond
        // the range comes back as it was.
        s.PositionEdit.setText(std::to_string(v.position));
        s.Track.setPosition(v.track);
        s.RateEdit.setText(std::to_string(v.rate));
        s.OffsetTrack.setPosition(v.offset);
        s.PauseEdit.setText(std::to_string(v.pause));
        s.changedMark = v.changedMark;
    }
    quiet_ = false;
    for (int i = 0; i < kChannelCount; ++i)
        if (moved[i]) UpdateChannel(i);
}

void EditorCore::markFrameUsed() {
    if (Sequence::validFrame(state_.currentFrame))
        sequence_.frame(state_.currentFrame).frameUsed = 1;
    changed();
}

void EditorCore::mark(int channel) {
    if (!Sequence::validFrame(state_.currentFrame)) return;
    sequence_.channel(state_.currentFrame, channel).changed = 1;
    markFrameUsed();
}

void EditorCore::UpdateChannel(int channel) {
    TChannel& s = stripAt(channel);
    const auto send = [&] {
        sendPositionCommand(serialPort_, channel, s.RateEdit.value(), s.PositionEdit.value(),
                            s.OffsetTrack.position());
    };
    // While a playback runs (a frame shown by the player, an edit between
    // its frames), the command takes its place on the show's time line; at
    // rest, and once the port was lost, it goes at once.
    if (playersRunning_ > 0 && state_.playing && portLosses_ == lossesAtPlay_)
        schedule_.send(send, [this] { return view_.redrawWhileWaiting(); });
    else
        schedule_.sendAtOnce(send);
    handlePortLost();
}

// The slider runs against the box: slider position p stands for 3000 - p.
void EditorCore::TrackChange(int channel) {
    TChannel& s = stripAt(channel);
    s.PositionEdit.setValue(s.PositionEdit.maximum() - (s.Track.position() - s.Track.minimum()));
    UpdateChannel(channel);
    mark(channel);
}

void EditorCore::PositionChange(int channel) {
    TChannel& s = stripAt(channel);
    if (!state_.typingPosition) s.Track.setPosition(s.trackFor(s.PositionEdit.value()));
    mark(channel);
}

void EditorCore::OffsetChange(int channel) {
    UpdateChannel(channel);
    mark(channel);
}

void EditorCore::rateChange(int channel) { mark(channel); }

void EditorCore::PauseChange(int channel) { mark(channel); }

namespace {
bool isTypingKey(int key) {
    return key == vk::Back || key == vk::Left || key == vk::Right || key == vk::Delete ||
           (key >= vk::Digit0 && key <= vk::Digit0 + 9);
}
}  // namespace

void EditorCore::PosKeyDown(int channel, int& key) {
    if (state_.typingPosition && (key == vk::Return || key == vk::Up || key == vk::Down)) {
        key = 0;
        state_.typingPosition = false;
        PositionChange(channel);
    }
    state_.typingPosition = isTypingKey(key);
    if (state_.typingPosition) typingChannel_ = channel;
    markFrameUsed();
}

void EditorCore::PositionExit(int channel) {
    if (state_.typingPosition) {
        state_.typingPosition = false;
        PositionChange(channel);
    }
}

void EditorCore::endTypingMode() {
    if (state_.typingPosition) stripAt(typingChannel_).PositionEdit.focusLost();
}

void EditorCore::StaticTextOffClick(int channel) {
    const StepScope step(*this, "Offset Change");
    stripAt(channel).OffsetTrack.setPosition(0);
    mark(channel);
}

void EditorCore::StaticTextMaxClick(int channel) {
    const StepScope step(*this, "Position Change");
    TChannel& s = stripAt(channel);
    s.PositionEdit.setValue(s.Track.maximum());
    s.Track.setPosition(s.Track.minimum());
    mark(channel);
}

void EditorCore::StaticTextCtrClick(int channel) {
    const StepScope step(*this, "Position Change");
    TChannel& s = stripAt(channel);
    s.PositionEdit.setValue(kDefaultPosition);
    s.Track.setPosition(kDefaultPosition);
    mark(channel);
}

void EditorCore::StaticTextMinClick(int channel) {
    const StepScope step(*this, "Position Change");
    TChannel& s = stripAt(channel);
    s.PositionEdit.setValue(s.Track.minimum());
    s.Track.setPosition(s.Track.maximum());
    mark(channel);
}
