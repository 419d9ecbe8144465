// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// When the recovery copy is written: one second after the first change not
// yet in a copy, and never sooner than one second after the last copy. So a
// change is in a copy within a second and a little (the window's timer
// asks when msUntilDue says), far within five, and a stream of changes (a
// slider dragged) is written once a second, never more often. It only
// decides: the window's timer asks due() and hands the snapshot to the
// writer.

#include <chrono>
#include <functional>
#include <optional>

class RecoveryScheduler {
public:
    using Clock = std::function<std::chrono::milliseconds()>;  // a steady count

    // now: the steady clock when not given.
    explicit RecoveryScheduler(Clock now = nullptr);

    // The sequence, a strip, the current frame or the file name changed and
    // the change is not saved.
    void changed();

    // Nothing unsaved any more (Save, Discard, undone back to the saved
    // state): no copy is due until the next change.
    void settled();

    // Whether a copy is to be written now; when it is, it counts as written.
    bool due();

    // How long until due() says yes, for the window's timer (0: now); none
    // while no change is waiting.
    std::optional<std::chrono::milliseconds> untilDue() const;

    static constexpr std::chrono::milliseconds kSettle{1000};       // first change to copy
    static constexpr std::chrono::milliseconds kShortestGap{1000};  // copy to copy

private:
    std::optional<std::chrono::milliseconds> dueAt() const;

    Clock now_;
    std::optional<std::chrono::milliseconds> firstWaiting_;  // first change not in a copy
    std::optional<std::chrono::milliseconds> lastCopy_;
};
