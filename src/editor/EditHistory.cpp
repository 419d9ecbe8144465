// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/EditHistory.h"

#include <cstring>

#include "sequence/SequenceFile.h"

namespace {

bool sameBytes(const Frame& a, const Frame& b) { return std::memcmp(&a, &b, sizeof(Frame)) == 0; }

// Frame 0 compared without the version stamp in its first channel's spare
// bytes.
bool sameBesidesStamp(const Frame& a, const Frame& b) {
    static_assert(kStampOffset + 5 <= sizeof(ChannelSetting), "the stamp lies in frame 0, channel 0");
    const auto* pa = reinterpret_cast<const unsigned char*>(&a);
    const auto* pb = reinterpret_cast<const unsigned char*>(&b);
    return std::memcmp(pa, pb, kStampOffset) == 0 &&
           std::memcmp(pa + kStampOffset + 5, pb + kStampOffset + 5, sizeof(Frame) - kStampOffset - 5) == 0;
}

}  // namespace

void EditorSnapshot::copyInto(Sequence& sequence) const {
    for (int f = 0; f < kFrameCount; ++f) sequence.frame(f) = *frames[f];
}

bool EditorSnapshot::sameFrames(const EditorSnapshot& other) const {
    for (int f = 0; f < kFrameCount; ++f)
        if (frames[f] != other.frames[f] && !sameBytes(*frames[f], *other.frames[f])) return false;
    return true;
}

bool EditorSnapshot::sameSequenceBesidesStamp(const Sequence& sequence) const {
    if (!sameBesidesStamp(*frames[0], sequence.frame(0))) return false;
    for (int f = 1; f < kFrameCount; ++f)
        if (!sameBytes(*frames[f], sequence.frame(f))) return false;
    return true;
}

bool EditorSnapshot::sameState(const EditorSnapshot& other) const {
    return currentFrame == other.currentFrame && lastFrame == other.lastFrame && strips == other.strips &&
           sameFrames(other);
}

SnapshotPtr EditHistory::snapshot(const Sequence& sequence, const StripStates& strips, int32_t currentFrame,
                                  int32_t lastFrame) {
    auto s = std::make_shared<EditorSnapshot>();
    s->strips = strips;
    s->currentFrame = currentFrame;
    s->lastFrame = lastFrame;
    const EditorSnapshot* like = latest_.get();
    for (int f = 0; f < kFrameCount; ++f) {
        const Frame& now = sequence.frame(f);
        std::shared_ptr<const Frame> shared;
        if (like) {
            // The same place first, then where Insert and Delete move frames.
            for (int k : {f, f - 1, f + 1}) {
                if (!Sequence::validFrame(k)) continue;
                if (sameBytes(*like->frames[k], now)) {
                    shared = like->frames[k];
                    break;
                }
            }
        }
        // Equal neighbours (unused frames) share one copy.
        if (!shared && f > 0 && sameBytes(*s->frames[f - 1], now)) shared = s->frames[f - 1];
        s->frames[f] = shared ? std::move(shared) : std::make_shared<const Frame>(now);
    }
    latest_ = s;
    return s;
}

void EditHistory::record(EditStep step) {
    steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(cursor_), steps_.end());
    steps_.push_back(std::move(step));
    while (steps_.size() > kStepsKept) steps_.pop_front();
    cursor_ = steps_.size();
    sealed_ = false;
}

EditStep* EditHistory::growing() {
    if (sealed_ || steps_.empty() || cursor_ != steps_.size()) return nullptr;
    return &steps_.back();
}

const EditStep& EditHistory::undo() {
    // The step before the cursor can grow again only once the cursor is at
    // the end, which takes a redo (sealing it) or a new step.
    return steps_[--cursor_];
}

const EditStep& EditHistory::redo() {
    sealed_ = true;
    return steps_[cursor_++];
}

void EditHistory::clear() {
    steps_.clear();
    cursor_ = 0;
}
