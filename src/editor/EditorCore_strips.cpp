// SPDX-License-Identifier: GPL-3.0-or-later
// The handlers of the 32 channel strips. Each finds its strip by the channel
// index and marks as its last step.

#include <algorithm>
#include <cstdint>

#include "editor/EditorCore.h"
#include "link/Commands.h"

void EditorCore::attachHandlers(TChannel& s) {
    const int i = s.channel();
    s.Track.onChange = [this, i] { TrackChange(i); };
    s.OffsetTrack.onChange = [this, i] { OffsetChange(i); };
    s.PositionEdit.onChange = [this, i] { PositionChange(i); };
    s.PositionEdit.onKeyDown = [this, i](int& key) { PosKeyDown(i, key); };
    s.PositionEdit.onExit = [this, i] { PositionExit(i); };
    s.RateEdit.onChange = [this, i] { rateChange(i); };
    s.PauseEdit.onChange = [this, i] { PauseChange(i); };
}

void EditorCore::markFrameUsed() {
    if (Sequence::validFrame(state.currentFrame))
        sequence.frame(state.currentFrame).frameUsed = 1;
    changed();
}

void EditorCore::mark(int channel) {
    if (!Sequence::validFrame(state.currentFrame)) return;
    sequence.channel(state.currentFrame, channel).changed = 1;
    markFrameUsed();
}

void EditorCore::UpdateChannel(int channel) {
    TChannel& s = strip(channel);
    const auto send = [&] {
        sendPositionCommand(serialPort, channel, s.RateEdit.value(), s.PositionEdit.value(),
                            s.OffsetTrack.position());
    };
    // While a playback runs (a frame shown by the player, an edit between
    // its frames), the command takes its place on the show's time line; at
    // rest, and once the port was lost, it goes at once.
    if (playersRunning_ > 0 && state.playing && portLosses_ == lossesAtPlay_)
        schedule_.send(send, [this] { return view_.redrawWhileWaiting(); });
    else
        schedule_.sendAtOnce(send);
    handlePortLost();
}

// The slider runs against the box: slider position p stands for 3000 - p.
void EditorCore::TrackChange(int channel) {
    TChannel& s = strip(channel);
    s.PositionEdit.setValue(s.PositionEdit.maximum() - (s.Track.position() - s.Track.minimum()));
    UpdateChannel(channel);
    mark(channel);
}

void EditorCore::PositionChange(int channel) {
    TChannel& s = strip(channel);
    if (!state.typingPosition) {
        // A typed value may be any 32-bit number: computed wide, then held
        // to what the slider takes anyway.
        const int64_t p = int64_t{s.Track.maximum()} -
                          (int64_t{s.PositionEdit.value()} - s.PositionEdit.minimum());
        s.Track.setPosition(static_cast<int>(std::clamp<int64_t>(p, s.Track.minimum(), s.Track.maximum())));
    }
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
    if (state.typingPosition && (key == vk::Return || key == vk::Up || key == vk::Down)) {
        key = 0;
        state.typingPosition = false;
        PositionChange(channel);
    }
    state.typingPosition = isTypingKey(key);
    if (state.typingPosition) typingChannel_ = channel;
    markFrameUsed();
}

void EditorCore::PositionExit(int channel) {
    if (state.typingPosition) {
        state.typingPosition = false;
        PositionChange(channel);
    }
}

void EditorCore::endTypingMode() {
    if (state.typingPosition) strip(typingChannel_).PositionEdit.focusLost();
}

void EditorCore::StaticTextOffClick(int channel) {
    strip(channel).OffsetTrack.setPosition(0);
    mark(channel);
}

void EditorCore::StaticTextMaxClick(int channel) {
    TChannel& s = strip(channel);
    s.PositionEdit.setValue(s.Track.maximum());
    s.Track.setPosition(s.Track.minimum());
    mark(channel);
}

void EditorCore::StaticTextCtrClick(int channel) {
    TChannel& s = strip(channel);
    s.PositionEdit.setValue(kDefaultPosition);
    s.Track.setPosition(kDefaultPosition);
    mark(channel);
}

void EditorCore::StaticTextMinClick(int channel) {
    TChannel& s = strip(channel);
    s.PositionEdit.setValue(s.Track.minimum());
    s.Track.setPosition(s.Track.maximum());
    mark(channel);
}
