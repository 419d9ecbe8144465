// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/RecoveryKeeper.h"

#include <algorithm>
#include <utility>

#include "editor/EditorCore.h"

namespace {

// The same show in both copies; during a playback the strips and the
// current frame follow the frames played and do not count.
bool sameShow(const RecoveryCopy& a, const RecoveryCopy& b, bool playing) {
    if (a.fileName != b.fileName || a.lastFrame != b.lastFrame) return false;
    if (!playing && (a.currentFrame != b.currentFrame || a.strips != b.strips)) return false;
    const auto x = a.sequence.image(), y = b.sequence.image();
    return std::equal(x.begin(), x.end(), y.begin());
}

}  // namespace

RecoveryKeeper::RecoveryKeeper(const EditorCore& core, RecoveryStore& store, RecoveryScheduler::Clock clock,
                               std::function<void()> failed)
    : core_(core), scheduler_(std::move(clock)), writer_(store, std::move(failed)) {}

RecoveryKeeper::~RecoveryKeeper() = default;

void RecoveryKeeper::noteChange() {
    if (finished_) return;
    if (core_.unsavedChanges()) {
        scheduler_.changed();
        return;
    }
    scheduler_.settled();
    if (copyOnDisk_) writer_.remove();
    copyOnDisk_ = false;
    last_.reset();
}

void RecoveryKeeper::tick() {
    if (finished_ || !scheduler_.due() || !core_.unsavedChanges()) return;
    std::unique_ptr<RecoveryCopy> copy = spare_ ? std::move(spare_) : writer_.spare();
    core_.copyForRecovery(*copy);
    if (last_ && sameShow(*copy, *last_, core_.state().playing)) {
        spare_ = std::move(copy);
        return;
    }
    if (!last_) last_ = std::make_unique<RecoveryCopy>();
    *last_ = *copy;
    writer_.submit(std::move(copy));
    copyOnDisk_ = true;
}

void RecoveryKeeper::adopted() {
    copyOnDisk_ = true;
    last_.reset();
}

void RecoveryKeeper::finish() {
    finished_ = true;
    scheduler_.settled();
    writer_.remove();
    writer_.flush();
    copyOnDisk_ = false;
}
