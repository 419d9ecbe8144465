// SPDX-License-Identifier: GPL-3.0-or-later
// The Sequence menu's Save and Open.

#include <memory>
#include <string>

#include "editor/EditorCore.h"
#include "sequence/SequenceFile.h"

bool EditorCore::Save1Click() {
    std::optional<std::string> name = view().askSaveFileName();
    if (!name) return false;

    FileResult result = saveSequenceFile(*name, sequence_, state_.versionStamp);
    if (!result) {
        view().showErrorBox(result.error);
        return false;
    }
    fileName_ = *name;
    saved_ = snapshotNow();
    changed();
    tellFileListeners(FileEvent::Saved, *name);

    // The file holds frames 0..20 only; a longer recording would otherwise
    // lose its end without a word.
    int highest = highestUsedFrameNotInFile(sequence_);
    if (highest >= 0) {
        view().showWarningBox("Frames " + std::to_string(kFirstFrameNotInFile) + " to " +
                              std::to_string(highest) +
                              " do not fit in a sequence file and were not saved.");
    }
    return true;
}

void EditorCore::Open1Click() {
    std::optional<std::string> name = view().askOpenFileName();
    if (!name) return;

    // A name that does not exist loads nothing, but the editor still goes
    // to frame 0.
    if (!sequenceFileExists(*name)) {
        StartFrameClick();
        return;
    }
    // The file fills the image's start; the rest of the sequence stays.
    auto read = std::make_unique<Sequence>(sequence_);
    FileResult result = loadSequenceFile(*name, *read);
    if (!result) {
        // The sequence is as it was; so stay on the frame that is shown.
        view().showErrorBox(result.error);
        return;
    }
    openSequence(*read, *name);
    tellFileListeners(FileEvent::Opened, *name);
}

void EditorCore::openSequence(const Sequence& read, const std::string& name) {
    const StepScope step(*this, "Open");
    replaceSequence(read);
    StartFrameClick();
    fileName_ = name;
    saved_ = snapshotNow();
}

void EditorCore::replaceSequence(const Sequence& replacement) {
    sequence_ = replacement;
    changed();
}
