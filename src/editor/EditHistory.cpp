// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/EditHistory.h"

#include <algorithm>
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

// What a shared pointer's own block costs beside the object (two counts, a
// pointer and the allocator's header, on the usual 64-bit library).
constexpr std::size_t kSharedBlock = 32;

// The frames of `snapshot` that `reference` does not hold, each counted once.
std::size_t framesNotIn(const EditorSnapshot& snapshot, const EditorSnapshot* reference) {
    std::array<const Frame*, kFrameCount> own{}, theirs{};
    for (int f = 0; f < kFrameCount; ++f) {
        own[f] = snapshot.frames[f].get();
        theirs[f] = reference ? reference->frames[f].get() : nullptr;
    }
    std::sort(own.begin(), own.end());
    std::sort(theirs.begin(), theirs.end());
    const auto end = std::unique(own.begin(), own.end());
    std::size_t count = 0;
    for (auto it = own.begin(); it != end; ++it)
        if (!std::binary_search(theirs.begin(), theirs.end(), *it)) ++count;
    return count;
}

// What a snapshot adds to the one it follows: nothing when it is that one.
std::size_t added(const SnapshotPtr& snapshot, const SnapshotPtr& follows) {
    if (!snapshot || snapshot == follows) return 0;
    return sizeof(EditorSnapshot) + kSharedBlock +
           framesNotIn(*snapshot, follows.get()) * (sizeof(Frame) + kSharedBlock);
}

std::size_t documentBytes(const std::shared_ptr<const Document>& d) {
    return d ? sizeof(Document) + kSharedBlock + d->fileName.capacity() : 0;
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

std::size_t EditHistory::estimate(const EditStep& step, const EditStep* previous) {
    // The before is most often the previous step's after, then it adds nothing.
    return sizeof(Kept) + added(step.before, previous ? previous->after : nullptr) +
           added(step.after, step.before) + documentBytes(step.documentBefore) +
           documentBytes(step.documentAfter);
}

void EditHistory::record(EditStep step) {
    while (steps_.size() > cursor_) {
        bytes_ -= steps_.back().bytes;
        steps_.pop_back();
    }
    // The newest step may have grown since it was recorded.
    if (!steps_.empty()) {
        Kept& newest = steps_.back();
        const EditStep* before = steps_.size() > 1 ? &steps_[steps_.size() - 2].step : nullptr;
        bytes_ -= newest.bytes;
        newest.bytes = estimate(newest.step, before);
        bytes_ += newest.bytes;
    }
    const std::size_t cost = estimate(step, steps_.empty() ? nullptr : &steps_.back().step);
    steps_.push_back({std::move(step), cost});
    bytes_ += cost;
    while (steps_.size() > kStepsKept || (bytes_ > kBytesKept && steps_.size() > 1)) dropOldest();
    cursor_ = steps_.size();
    sealed_ = false;
}

void EditHistory::dropOldest() {
    bytes_ -= steps_.front().bytes;
    steps_.pop_front();
}

EditStep* EditHistory::growing() {
    if (sealed_ || steps_.empty() || cursor_ != steps_.size()) return nullptr;
    return &steps_.back().step;
}

const EditStep* EditHistory::growing() const { return const_cast<EditHistory*>(this)->growing(); }

void EditHistory::dropGrowing() {
    bytes_ -= steps_.back().bytes;
    steps_.pop_back();
    cursor_ = steps_.size();
    // The step before may grow again only as it could before the dropped one.
    sealed_ = true;
}

const EditStep& EditHistory::undo() {
    // The step before the cursor can grow again only once the cursor is at
    // the end, which takes a redo (sealing it) or a new step.
    return steps_[--cursor_].step;
}

const EditStep& EditHistory::redo() {
    sealed_ = true;
    return steps_[cursor_++].step;
}

void EditHistory::clear() {
    steps_.clear();
    cursor_ = 0;
    bytes_ = 0;
}
