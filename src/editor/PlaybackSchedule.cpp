// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/PlaybackSchedule.h"

#include <algorithm>

#include "link/Commands.h"
#include "link/TickSource.h"

PlaybackSchedule::PlaybackSchedule(TickSource& ticks) : ticks_(ticks), pointUs_(ticks.microseconds()) {}

void PlaybackSchedule::restart() {
    pointUs_ = ticks_.microseconds();
    behindUs_ = 0;
}

void PlaybackSchedule::forgetLine() { sendsSeen_ = 0; }

std::optional<uint64_t> PlaybackSchedule::sendUs() const {
    if (sendsSeen_ == 0) return std::nullopt;
    return medianSendUs_;
}

void PlaybackSchedule::learn(uint64_t sendUs) {
    sends_[sendsSeen_ % kSendsLearnt] = std::min(sendUs, kPositionCommandWireUs);
    ++sendsSeen_;
    const size_t n = std::min(sendsSeen_, kSendsLearnt);
    std::array<uint64_t, kSendsLearnt> sorted = sends_;
    std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n));
    medianSendUs_ = sorted[n / 2];
}

uint64_t PlaybackSchedule::nowUs() { return ticks_.microseconds(); }

uint64_t PlaybackSchedule::awaitSend(const Redraw& redraw) {
    const uint64_t dueUs = pointUs_ + kPositionCommandWireUs;
    // A line not seen yet is taken to be as slow as the wire.
    sleepUntil(dueUs - sendUs().value_or(kPositionCommandWireUs), redraw);
    return ticks_.microseconds();
}

void PlaybackSchedule::sent(uint64_t startUs) {
    const bool seen = sendsSeen_ > 0;
    const uint64_t dueUs = pointUs_ + kPositionCommandWireUs;
    const uint64_t now = ticks_.microseconds();
    learn(now - startUs);
    // On a line not seen before, a command that arrived early sets the point
    // where it arrived: the show goes on from there.
    pointUs_ = !seen && now < dueUs ? now : dueUs;
    settle();
}

void PlaybackSchedule::wait(uint32_t ms, const Redraw& redraw) {
    pointUs_ += uint64_t{ms} * 1000;
    sleepUntil(pointUs_, redraw);
    settle();
}

void PlaybackSchedule::settle() {
    const uint64_t now = ticks_.microseconds();
    behindUs_ = now > pointUs_ ? now - pointUs_ : 0;
    if (behindUs_ > kLongestCatchUpUs) {
        pointUs_ = now;
        behindUs_ = 0;
    }
}

void PlaybackSchedule::sleepUntil(uint64_t momentUs, const Redraw& redraw) {
    // Already there: no wait at all, and nothing drawn.
    uint64_t now = ticks_.microseconds();
    if (now >= momentUs) return;
    // Each sleep covers what is left to the microsecond (a clock that sleeps
    // whole milliseconds rounds it up: a wait never ends early), or less when
    // a redraw is due first. A sleep that returns early is followed by
    // another.
    uint32_t nextRedrawMs = redraw ? redraw() : 0;
    now = ticks_.microseconds();
    while (now < momentUs) {
        uint64_t sleepUs = momentUs - now;
        if (nextRedrawMs != 0) sleepUs = std::min<uint64_t>(sleepUs, uint64_t{nextRedrawMs} * 1000);
        ticks_.sleepUs(sleepUs);
        now = ticks_.microseconds();
        if (nextRedrawMs != 0 && now < momentUs) {
            nextRedrawMs = redraw();
            now = ticks_.microseconds();
        }
    }
}
