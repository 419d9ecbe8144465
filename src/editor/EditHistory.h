// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The undo history: the steps a user made, each with the editor's state
// before and after it, and a cursor between the steps Undo takes back and
// those Redo does again.
//
// A state is a snapshot: the 128 frames, the 32 strips and the current and
// last frame. Snapshots share every frame equal to one of the snapshot made
// just before (at the same index or a neighbouring one, which Insert and
// Delete shift to), so a step costs the frames it changed and a table of 128
// pointers, not a whole sequence; frames are immutable once in a snapshot.
//
// The history decides nothing about what a step is: the editor core records
// steps, lets the newest one grow while a user's edit goes on (a drag, typing,
// repeated clicks), and restores the snapshots Undo and Redo hand back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "sequence/Sequence.h"

// One strip as a snapshot keeps it: the position slider and the four values
// as they read, and the strip's copy of the changed flag.
struct StripState {
    int32_t track = kDefaultPosition;
    int32_t position = kDefaultPosition;
    int32_t rate = 0;
    int32_t offset = 0;
    int32_t pause = 0;
    bool changedMark = false;
    bool operator==(const StripState&) const = default;
};

using StripStates = std::array<StripState, kChannelCount>;

struct EditorSnapshot {
    std::array<std::shared_ptr<const Frame>, kFrameCount> frames;
    StripStates strips;
    int32_t currentFrame = 0;
    int32_t lastFrame = 0;

    void copyInto(Sequence& sequence) const;
    // The same frames, byte for byte (shared ones are not compared again).
    bool sameFrames(const EditorSnapshot& other) const;
    // The same as sequence, byte for byte except the version stamp (bytes
    // 17..21), which every save writes anew whatever memory holds there.
    bool sameSequenceBesidesStamp(const Sequence& sequence) const;
    // Frames, strips and indices all the same.
    bool sameState(const EditorSnapshot& other) const;
};

using SnapshotPtr = std::shared_ptr<const EditorSnapshot>;

// The file a sequence belongs to: its name (empty: never saved) and what it
// held when last opened or saved (null: nothing on disk is known to hold the
// sequence, as after a recovery).
struct Document {
    std::string fileName;
    SnapshotPtr saved;
};

// What a growing step was made with, so that the user's next action on the
// same control can join it.
enum class EditControl { None, Track, Offset, Position, Rate, Pause, JumpUp, JumpDown };
enum class Growth {
    Closed,  // nothing joins it
    Drag,    // a slider held down: the moves until its release
    Typing,  // typing in a box: the keys and text until typing ends
    Clicks,  // arrow clicks, wheel steps: the next one within kClickGapUs
};

struct EditStep {
    const char* name;  // "Delete Frame": what the Edit menu names
    SnapshotPtr before, after;
    // Set only when the step changed the document (Open): the file's name
    // and what it held, before and after.
    std::shared_ptr<const Document> documentBefore, documentAfter;

    int channel = -1;
    EditControl control = EditControl::None;
    Growth growth = Growth::Closed;
    uint64_t lastActionUs = 0;  // when the last action joined it
};

class EditHistory {
public:
    static constexpr std::size_t kStepsKept = 1000;
    // Repeated clicks or wheel steps closer than this are one step.
    static constexpr uint64_t kClickGapUs = 1'000'000;

    // A snapshot of the given state, sharing frames with the latest snapshot
    // made or restored.
    SnapshotPtr snapshot(const Sequence& sequence, const StripStates& strips, int32_t currentFrame,
                         int32_t lastFrame);
    // The state now is `current` (restored by Undo or Redo): the next
    // snapshot shares its frames.
    void noteRestored(SnapshotPtr current) { latest_ = std::move(current); }

    // Adds a step after the cursor; the steps that could have been redone
    // are dropped, and the oldest beyond kStepsKept.
    void record(EditStep step);
    // The newest step while it may still grow: nothing was undone, redone or
    // recorded after it; null otherwise.
    EditStep* growing();

    bool canUndo() const { return cursor_ > 0; }
    bool canRedo() const { return cursor_ < steps_.size(); }
    // The step Undo or Redo would take: its name, or nullptr when none.
    const char* undoName() const { return canUndo() ? steps_[cursor_ - 1].name : nullptr; }
    const char* redoName() const { return canRedo() ? steps_[cursor_].name : nullptr; }
    // Moves the cursor over one step and hands it back: Undo restores its
    // before, Redo its after. Only when canUndo() / canRedo().
    const EditStep& undo();
    const EditStep& redo();

    void clear();
    std::size_t size() const { return steps_.size(); }

private:
    std::deque<EditStep> steps_;
    std::size_t cursor_ = 0;  // steps_[0..cursor_) are done
    bool sealed_ = false;     // a redo came after the newest step was recorded
    SnapshotPtr latest_;
};
