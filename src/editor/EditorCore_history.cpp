// SPDX-License-Identifier: GPL-3.0-or-later
// The undo history: how the user's actions become steps, Undo and Redo, and
// what the sequence's file held.
//
// A step's "before" is the state when the step begins, taken before its
// first action changes anything: the controls tell each user action before
// they act on it (ControlModels.h), and a core operation takes it first
// thing. Its "after" is taken once the action is done. A step that changed
// nothing is not kept.

#include <string>

#include "editor/EditorCore.h"
#include "link/TickSource.h"
#include "sequence/SequenceFile.h"

namespace {

const char* editName(EditControl control) {
    switch (control) {
    case EditControl::Track:
    case EditControl::Position:
        return "Position Change";
    case EditControl::Offset:
        return "Offset Change";
    case EditControl::Rate:
        return "Rate Change";
    case EditControl::Pause:
        return "Pause Change";
    case EditControl::JumpUp:
    case EditControl::JumpDown:
        return "Jump Change";
    case EditControl::None:
        break;
    }
    return "Change";
}

}  // namespace

StripStates EditorCore::stripStates() const {
    StripStates states;
    for (int i = 0; i < kChannelCount; ++i) {
        const TChannel& s = strip(i);
        states[i] = {s.Track.position(),       s.PositionEdit.value(), s.RateEdit.value(),
                     s.OffsetTrack.position(), s.PauseEdit.value(),    s.changedMark};
    }
    return states;
}

SnapshotPtr EditorCore::snapshotNow() {
    return history_.snapshot(sequence_, stripStates(), state_.currentFrame, state_.lastFrame);
}

template <typename Joins>
EditorCore::PendingStep EditorCore::beginStep(Joins joins) {
    PendingStep p;
    if (stepDepth_ > 0) return p;
    ++stepDepth_;
    p.active = true;
    p.document = {fileName_, saved_};
    p.before = snapshotNow();
    EditStep* newest = history_.growing();
    if (newest && newest->after->sameState(*p.before)) {
        // Nothing changed since the newest step: it may take this action in,
        // and its after stands for the state now.
        if (joins(*newest)) p.joins = newest;
        p.before = newest->after;
    }
    return p;
}

void EditorCore::endStep(PendingStep& p, const char* name, int channel, EditControl control, Growth growth) {
    if (!p.active) return;
    --stepDepth_;
    SnapshotPtr after = snapshotNow();
    const bool documentChanged = fileName_ != p.document.fileName || saved_ != p.document.saved;
    const uint64_t now = ticks_.microseconds();
    if (p.joins) {
        p.joins->after = std::move(after);
        p.joins->growth = growth;
        p.joins->lastActionUs = now;
        if (documentChanged) p.joins->documentAfter = std::make_shared<const Document>(Document{fileName_, saved_});
    } else if (documentChanged || !after->sameState(*p.before)) {
        EditStep step{name, p.before, std::move(after), nullptr, nullptr, channel, control, growth, now};
        if (documentChanged) {
            step.documentBefore = std::make_shared<const Document>(p.document);
            step.documentAfter = std::make_shared<const Document>(Document{fileName_, saved_});
        }
        history_.record(std::move(step));
    }
    changed();
}

EditorCore::StepScope::StepScope(EditorCore& core, const char* name, EditControl clicks, int channel)
    : core_(core), name_(name), control_(clicks), channel_(channel) {
    const uint64_t now = core.ticks_.microseconds();
    pending_ = core.beginStep([&](const EditStep& s) {
        return clicks != EditControl::None && s.control == clicks && s.channel == channel &&
               s.growth == Growth::Clicks && now - s.lastActionUs < EditHistory::kClickGapUs;
    });
}

EditorCore::StepScope::~StepScope() {
    core_.endStep(pending_, name_, channel_, control_,
                  control_ == EditControl::None ? Growth::Closed : Growth::Clicks);
}

void EditorCore::userActs(int channel, EditControl control, UserAction kind, const std::function<void()>& action) {
    // The core's own sets are no user action; an action inside another
    // (a typed character's text) is part of it, which beginStep sees to.
    if (quiet_) {
        action();
        return;
    }
    const uint64_t now = ticks_.microseconds();
    const bool dragging = drag_ && drag_->channel == channel && drag_->control == control;
    auto typingHere = [&] {
        return control == EditControl::Position && state_.typingPosition && typingChannel_ == channel;
    };
    const bool typingBefore = typingHere();
    PendingStep p = beginStep([&](const EditStep& s) {
        if (s.channel != channel || s.control != control) return false;
        switch (s.growth) {
        case Growth::Drag:
            return dragging;
        case Growth::Typing:
            // Up and Down end the position box's typing mode: its last key.
            return kind == UserAction::Text || kind == UserAction::Key || kind == UserAction::Leave ||
                   (kind == UserAction::Step && typingBefore);
        case Growth::Clicks:
            return !dragging && (kind == UserAction::Step || kind == UserAction::Move) &&
                   now - s.lastActionUs < EditHistory::kClickGapUs;
        case Growth::Closed:
            break;
        }
        return false;
    });
    action();
    Growth growth = Growth::Clicks;
    if (dragging)
        growth = Growth::Drag;
    else if (kind == UserAction::Leave || (typingBefore && !typingHere()))
        growth = Growth::Closed;  // the box was left, or its typing mode ended
    else if (kind == UserAction::Text || kind == UserAction::Key)
        growth = Growth::Typing;
    endStep(p, editName(control), channel, control, growth);
}

void EditorCore::sliderHeld(int channel, EditControl control, bool held) {
    if (held) {
        drag_ = Drag{channel, control};
        return;
    }
    drag_.reset();
    // Let go: the drag's step is done.
    EditStep* newest = history_.growing();
    if (newest && newest->growth == Growth::Drag && newest->channel == channel && newest->control == control)
        newest->growth = Growth::Closed;
}

void EditorCore::restore(const EditorSnapshot& s, const Document* document) {
    s.copyInto(sequence_);
    state_.currentFrame = s.currentFrame;
    state_.lastFrame = s.lastFrame;
    setStripsQuietly(s.strips);
    if (Sequence::validFrame(state_.currentFrame)) {
        view_.setFrameLabel(std::to_string(state_.currentFrame));
        showJumpLabel(sequence_.frame(state_.currentFrame).jumpTo, false);
    }
    if (document) {
        fileName_ = document->fileName;
        saved_ = document->saved;
    }
}

bool EditorCore::canUndo() const { return !state_.playing && history_.canUndo(); }

bool EditorCore::canRedo() const { return !state_.playing && history_.canRedo(); }

std::string EditorCore::undoName() const {
    const char* name = history_.undoName();
    return name ? name : "";
}

std::string EditorCore::redoName() const {
    const char* name = history_.redoName();
    return name ? name : "";
}

bool EditorCore::undo() {
    if (state_.playing) return false;
    endTypingMode();
    if (!history_.canUndo()) return false;
    const EditStep& step = history_.undo();
    history_.noteRestored(step.before);
    restore(*step.before, step.documentBefore.get());
    changed();
    return true;
}

bool EditorCore::redo() {
    if (state_.playing) return false;
    endTypingMode();
    if (!history_.canRedo()) return false;
    const EditStep& step = history_.redo();
    history_.noteRestored(step.after);
    restore(*step.after, step.documentAfter.get());
    changed();
    return true;
}

bool EditorCore::unsavedChanges() const { return !saved_ || !saved_->sameSequenceBesidesStamp(sequence_); }

std::string EditorCore::documentName() const { return sequenceDisplayName(fileName_); }
