// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's state into a recovery copy and back.

#include <algorithm>
#include <string>

#include "editor/EditorCore.h"

void EditorCore::copyForRecovery(RecoveryCopy& copy) const {
    copy.sequence = sequence_;
    for (int i = 0; i < kChannelCount; ++i) {
        const TChannel& s = strip(i);
        copy.strips[i] = {s.PositionEdit.value(), s.RateEdit.value(), s.OffsetTrack.position(),
                          s.PauseEdit.value(), s.changedMark};
    }
    // 128 is no frame (a playback past a jump out of the sequence leaves it):
    // Prior Frame would lead to 127 from there.
    copy.currentFrame = std::clamp(state_.currentFrame, 0, kFrameCount - 1);
    copy.lastFrame = state_.lastFrame;
    copy.fileName = fileName_;
    copy.savedAt = recoveryTimeNow();
}

bool EditorCore::recover(const RecoveryCopy& copy) {
    if (state_.playing || !Sequence::validFrame(copy.currentFrame) || !Sequence::validFrame(copy.lastFrame))
        return false;
    endTypingMode();
    sequence_ = copy.sequence;
    state_.currentFrame = copy.currentFrame;
    state_.lastFrame = copy.lastFrame;
    StripStates strips;
    for (int i = 0; i < kChannelCount; ++i) {
        const StripValues& v = copy.strips[i];
        strips[i] = {strip(i).trackFor(v.position), v.position, v.rate, v.offset, v.pause, v.changedMark};
    }
    setStripsQuietly(strips);
    view_.setFrameLabel(std::to_string(state_.currentFrame));
    showJumpLabel(sequence_.frame(state_.currentFrame).jumpTo, false);
    // A sequence of its own, which no file is known to hold.
    history_.clear();
    fileName_ = copy.fileName;
    saved_.reset();
    changed();
    return true;
}
