// SPDX-License-Identifier: GPL-3.0-or-later
// The Sequence menu's Save and Open.

#include <string>

#include "editor/EditorCore.h"
#include "sequence/SequenceFile.h"

void EditorCore::Save1Click() {
    std::optional<std::string> name = view().askSaveFileName();
    if (!name) return;

    FileResult result = saveSequenceFile(*name, sequence, state.versionStamp);
    if (!result) {
        view().showErrorBox(result.error);
        return;
    }
    tellFileListeners(FileEvent::Saved, *name);

    // The file holds frames 0..20 only; a longer recording would otherwise
    // lose its end without a word.
    int highest = highestUsedFrameNotInFile(sequence);
    if (highest >= 0) {
        view().showWarningBox("Frames " + std::to_string(kFirstFrameNotInFile) + " to " +
                              std::to_string(highest) +
                              " do not fit in a sequence file and were not saved.");
    }
}

void EditorCore::Open1Click() {
    std::optional<std::string> name = view().askOpenFileName();
    if (!name) return;

    // A name that does not exist loads nothing, but the editor still goes
    // to frame 0.
    const bool exists = sequenceFileExists(*name);
    if (exists) {
        FileResult result = loadSequenceFile(*name, sequence);
        if (!result) {
            // The sequence is as it was; so stay on the frame that is shown.
            view().showErrorBox(result.error);
            return;
        }
    }
    StartFrameClick();
    if (exists) tellFileListeners(FileEvent::Opened, *name);
}
