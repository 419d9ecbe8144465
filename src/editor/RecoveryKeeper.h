// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recovery copy of one editor, kept while it has unsaved changes.
//
// The editor core's change listener calls noteChange(). While the core has
// unsaved changes, a copy is due as RecoveryScheduler says (a second after
// the first change not yet in a copy, a second at least between copies);
// the owner's single-shot timer calls tick() after untilDue(), and no timer
// is needed while nothing waits. tick() takes the editor's state into a
// spare copy and hands it to the writer thread, so the editing thread never
// waits for the disk; a copy that holds what the last one held (a playback
// moving through the frames of an unchanged show) is not written again.
// Once nothing is unsaved (Save, an Open, undone back to the saved state)
// the copy is removed; finish() removes it at a clean end. A copy that
// cannot be written is reported once through takeFailure() and never stops
// anything.
//
// The copy holds the sequence, the strips, the current and last frame and
// the file's name; what lies beside the file (its soundtrack) is read again
// from there after a recovery, so a soundtrack chosen but not saved is not
// in it.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "editor/RecoveryCopy.h"
#include "editor/RecoveryScheduler.h"
#include "editor/RecoveryWriter.h"

class EditorCore;
class RecoveryStore;

class RecoveryKeeper {
public:
    // core and store must outlive the keeper. failed: see RecoveryWriter.
    RecoveryKeeper(const EditorCore& core, RecoveryStore& store, RecoveryScheduler::Clock clock = nullptr,
                   std::function<void()> failed = {});
    // Carries out what was handed over to the writer.
    ~RecoveryKeeper();
    RecoveryKeeper(const RecoveryKeeper&) = delete;
    RecoveryKeeper& operator=(const RecoveryKeeper&) = delete;

    // The editor changed (anything: it only notes, and removes the copy
    // when nothing is unsaved any more).
    void noteChange();
    // How long until tick() has a copy to write; none while nothing waits.
    std::optional<std::chrono::milliseconds> untilDue() const { return scheduler_.untilDue(); }
    // Hands the copy to the writer when one is due.
    void tick();
    // The store made a left copy this program's (a recovery): it is the
    // copy on disk until the next one replaces it.
    void adopted();
    // The program ends cleanly or its changes were discarded: the copy is
    // removed (done when this returns) and nothing is written any more.
    void finish();

    std::optional<std::string> takeFailure() { return writer_.takeFailure(); }
    // Waits until the writer has carried out everything handed over.
    void flush() { writer_.flush(); }

private:
    const EditorCore& core_;
    RecoveryScheduler scheduler_;
    RecoveryWriter writer_;
    std::unique_ptr<RecoveryCopy> spare_;  // filled and not handed over
    std::unique_ptr<RecoveryCopy> last_;   // what the last copy handed over holds
    bool copyOnDisk_ = false;              // a copy was handed over or adopted and not removed
    bool finished_ = false;
};
