// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes the recovery copy off the editing thread. The editing thread hands
// over a snapshot and goes on at once: the handoff holds at most one copy
// waiting, and a newer one replaces it, so however slow the disk (a sync can
// take long on a busy machine), an edit never waits for it and the copy
// written is always the latest. Requests are carried out in the order given:
// a removal after a submit is never undone by that submit's write.
//
// A write that fails (a full disk) never stops editing; failures are
// reported once, through takeFailure(), until a write succeeds again.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "editor/RecoveryCopy.h"

class RecoveryStore;

class RecoveryWriter {
public:
    // Starts the writer thread; store must outlive the writer. failed, when
    // given, is called on the writer thread each time a failure becomes
    // waiting for takeFailure() (the window has it taken on its own thread);
    // it must return at once and not call back into the writer.
    explicit RecoveryWriter(RecoveryStore& store, std::function<void()> failed = {});
    // Carries out what was handed over and not yet done, then ends the thread.
    ~RecoveryWriter();
    RecoveryWriter(const RecoveryWriter&) = delete;
    RecoveryWriter& operator=(const RecoveryWriter&) = delete;

    // A copy to fill for submit(): one already written or dropped when there
    // is one (its old contents still in it), else a new one. Filling one used
    // before allocates nothing, so a snapshot costs the editing thread little
    // more than copying the sequence.
    std::unique_ptr<RecoveryCopy> spare();

    // Hands a snapshot over to be written; a snapshot still waiting is dropped.
    void submit(std::unique_ptr<RecoveryCopy> copy);
    void submit(const RecoveryCopy& copy);

    // Drops a waiting snapshot and has the copy removed (on Save, on Discard,
    // on a clean Exit).
    void remove();

    // Waits until everything handed over is done.
    void flush();

    // The status text of a failed write not yet reported, e.g. "Recovery copy
    // not written: Disk full."; after it is taken, further failures say
    // nothing until a write has succeeded again.
    std::optional<std::string> takeFailure();

private:
    void run();

    RecoveryStore& store_;
    std::function<void()> failed_;
    std::mutex mutex_;
    std::condition_variable wake_;  // work arrived, or stop
    std::condition_variable idle_;  // the work handed over is done
    std::unique_ptr<RecoveryCopy> waiting_;
    std::unique_ptr<RecoveryCopy> spare_;  // written or dropped, for the next snapshot
    bool removeWanted_ = false;
    bool busy_ = false;
    bool stopping_ = false;
    bool failing_ = false;                  // the last write failed
    std::optional<std::string> failure_;    // not yet reported
    std::thread thread_;                    // last: starts when the rest is ready
};
