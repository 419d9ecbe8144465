// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/RecoveryScheduler.h"

#include <algorithm>
#include <utility>

using std::chrono::milliseconds;

RecoveryScheduler::RecoveryScheduler(Clock now) : now_(std::move(now)) {
    if (!now_)
        now_ = [] {
            return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
        };
}

void RecoveryScheduler::changed() {
    if (!firstWaiting_) firstWaiting_ = now_();
}

void RecoveryScheduler::settled() { firstWaiting_.reset(); }

std::optional<milliseconds> RecoveryScheduler::dueAt() const {
    if (!firstWaiting_) return std::nullopt;
    milliseconds at = *firstWaiting_ + kSettle;
    if (lastCopy_) at = std::max(at, *lastCopy_ + kShortestGap);
    return at;
}

bool RecoveryScheduler::due() {
    const std::optional<milliseconds> at = dueAt();
    const milliseconds now = now_();
    if (!at || now < *at) return false;
    firstWaiting_.reset();
    lastCopy_ = now;
    return true;
}

std::optional<milliseconds> RecoveryScheduler::untilDue() const {
    const std::optional<milliseconds> at = dueAt();
    if (!at) return std::nullopt;
    return std::max(milliseconds{0}, *at - now_());
}
