// SPDX-License-Identifier: GPL-3.0-or-later
// Moving data between the strips and the frames, and moving frames.
// Showing a frame goes through the strips' ordinary setters, so every value
// that differs from the one on display runs its handler: it marks the channel
// in the frame being shown and, for position and offset, sends it live. The
// player relies on exactly that to find the channels a frame changes.

#include <algorithm>
#include <string>

#include "editor/EditorCore.h"

namespace {
// A jump the editor may follow: -1 is "none", and values outside 0..127 can
// only come from a file; neither is ever used as a frame index.
bool followableJump(int32_t jumpTo) { return Sequence::validFrame(jumpTo); }
}  // namespace

void EditorCore::LoadFrame() {
    if (!Sequence::validFrame(state_.currentFrame)) return;
    for (int i = 0; i < kChannelCount; ++i) {
        TChannel& s = stripAt(i);
        ChannelSetting& c = sequence_.channel(state_.currentFrame, i);
        c.position = s.PositionEdit.value();
        c.rate = s.RateEdit.value();
        c.offset = s.OffsetTrack.position();
        c.pause = s.PauseEdit.value();
        c.changed = s.changedMark ? 1 : 0;
    }
}

void EditorCore::showJumpLabel(int32_t jumpTo, bool emptyWhenNone) {
    view_.setJumpLabel(jumpTo == -1 && emptyWhenNone ? std::string() : std::to_string(jumpTo));
}

// Loads one channel of a frame into its strip through the ordinary setters
// (position, rate, offset, pause), then takes the mark.
void EditorCore::showChannel(int f, int i) {
    TChannel& s = stripAt(i);
    s.PositionEdit.setValue(sequence_.channel(f, i).position);
    s.RateEdit.setValue(sequence_.channel(f, i).rate);
    s.OffsetTrack.setPosition(sequence_.channel(f, i).offset);
    s.PauseEdit.setValue(sequence_.channel(f, i).pause);
    // Read after the four sets, so it holds the marks they just made.
    s.changedMark = sequence_.channel(f, i).changed != 0;
}

void EditorCore::UpdateDisplay() {
    for (int i = 0; i < kChannelCount; ++i) {
        if (!Sequence::validFrame(state_.currentFrame)) return;
        const int f = state_.currentFrame;
        showChannel(f, i);
        showJumpLabel(sequence_.frame(f).jumpTo, true);
    }
}

void EditorCore::IndexChange() {
    // A player running below (navigation, Stop) goes on from the frame
    // shown here: its schedule starts afresh rather than making up lateness
    // from elsewhere.
    schedule_.restart();
    for (int i = 0; i < kChannelCount; ++i) {
        if (!Sequence::validFrame(state_.currentFrame)) return;
        // The frame is read anew at every channel: while playing, a jump
        // taken after one channel makes the next ones come from its target.
        const int f = state_.currentFrame;
        showChannel(f, i);
        TChannel& s = stripAt(i);
        const int32_t jumpTo = sequence_.frame(f).jumpTo;
        showJumpLabel(jumpTo, false);
        if (s.changedMark && !state_.playing) UpdateChannel(i);
        if (state_.playing && followableJump(jumpTo)) state_.currentFrame = jumpTo;
    }
    if (Sequence::validFrame(state_.currentFrame))
        view_.setFrameLabel(std::to_string(state_.currentFrame));
    changed();
}

void EditorCore::WriteFrameClick() {
    const StepScope step(*this, "Write Frame");
    LoadFrame();
    const int f = state_.currentFrame;
    if (f == state_.lastFrame && f >= 0 && f < kFrameCount - 1) {
        sequence_.copyFrame(f, f + 1);
        state_.currentFrame = f + 1;
        state_.lastFrame = state_.currentFrame;
        view_.setFrameLabel(std::to_string(state_.currentFrame));
    }
    changed();
}

void EditorCore::FrameResetClick() {
    const StepScope step(*this, "Reset");
    for (int i = 0; i < kChannelCount; ++i) {
        TChannel& s = stripAt(i);
        s.PositionEdit.setValue(kDefaultPosition);
        s.RateEdit.setValue(0);
        s.OffsetTrack.setPosition(0);
        s.PauseEdit.setValue(0);
        UpdateChannel(i);
        Delay(5);
    }
    LoadFrame();
    if (Sequence::validFrame(state_.currentFrame))
        sequence_.frame(state_.currentFrame).frameUsed = 0;
    changed();
}

void EditorCore::InsFrameClick() {
    const StepScope step(*this, "Insert Frame");
    if (!Sequence::validFrame(state_.currentFrame)) return;
    for (int k = kFrameCount - 2; k >= state_.currentFrame; --k) sequence_.copyFrame(k, k + 1);
    LoadFrame();
    changed();
}

void EditorCore::DelFrameClick() {
    const StepScope step(*this, "Delete Frame");
    if (!Sequence::validFrame(state_.currentFrame)) return;
    for (int k = state_.currentFrame; k <= kFrameCount - 2; ++k) sequence_.copyFrame(k + 1, k);
    sequence_.resetChannels(kFrameCount - 1);
    if (state_.lastFrame > 0) --state_.lastFrame;
    changed();
}

void EditorCore::StartFrameClick() {
    state_.currentFrame = 0;
    IndexChange();
}

void EditorCore::PriorFrameClick() {
    if (state_.currentFrame > 0) --state_.currentFrame;
    IndexChange();
}

void EditorCore::NextFrameClick() {
    if (state_.currentFrame < kFrameCount - 1) ++state_.currentFrame;
    const unsigned losses = portLosses_;
    IndexChange();
    // A loss met while the frame was sent stays on view.
    if (portLosses_ == losses) view_.ShowStatus("      Animating", std::nullopt, false);
}

void EditorCore::LastFrameClick() {
    state_.currentFrame = state_.lastFrame;
    IndexChange();
}

void EditorCore::IncButtonClick() {
    const StepScope step(*this, "Jump Change", EditControl::JumpUp);
    if (!Sequence::validFrame(state_.currentFrame)) return;
    int32_t& j = sequence_.frame(state_.currentFrame).jumpTo;
    if (j < -1) j = -1;  // a value below -1 can only come from a file
    if (j < kFrameCount - 1) ++j;
    view_.setJumpLabel(std::to_string(j));
    changed();
}

void EditorCore::DecButtonClick() {
    const StepScope step(*this, "Jump Change", EditControl::JumpDown);
    if (!Sequence::validFrame(state_.currentFrame)) return;
    int32_t& j = sequence_.frame(state_.currentFrame).jumpTo;
    if (j > 0) --j;
    view_.setJumpLabel(std::to_string(j));
    changed();
}

void EditorCore::Label2DblClick() {
    const StepScope step(*this, "Jump Change");
    if (!Sequence::validFrame(state_.currentFrame)) return;
    sequence_.frame(state_.currentFrame).jumpTo = -1;
    view_.setJumpLabel("-1");
    changed();
}

bool EditorCore::showFrame(int frame) {
    if (state_.playing || !Sequence::validFrame(frame)) return false;
    state_.currentFrame = frame;
    IndexChange();
    return true;
}

void EditorCore::addChangeListener(std::function<void()> listener) {
    changeListeners_.push_back(std::move(listener));
}

void EditorCore::changed() {
    for (const auto& listener : changeListeners_) listener();
}
