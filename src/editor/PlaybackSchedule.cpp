// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/PlaybackSchedule.h"

#include <algorithm>

#include "link/TickSource.h"

void PlaybackSchedule::wait(uint32_t ms, const std::function<uint32_t()>& redraw) {
    const uint64_t pauseUs = uint64_t{ms} * 1000;
    // Already past this wait's point: no wait at all, the rest carries on.
    if (behindUs_ >= pauseUs) {
        behindUs_ -= pauseUs;
        return;
    }
    const uint64_t spanUs = pauseUs - behindUs_;
    // Each sleep covers what is left to the microsecond (a clock that sleeps
    // whole milliseconds rounds it up: a wait never ends early), or less when
    // a redraw is due first. A sleep that returns early is followed by
    // another.
    const uint64_t t0 = ticks_.microseconds();
    uint64_t elapsed = 0;
    uint32_t nextRedrawMs = redraw ? redraw() : 0;
    while (elapsed < spanUs) {
        uint64_t sleepUs = spanUs - elapsed;
        if (nextRedrawMs != 0) sleepUs = std::min<uint64_t>(sleepUs, uint64_t{nextRedrawMs} * 1000);
        ticks_.sleepUs(sleepUs);
        elapsed = ticks_.microseconds() - t0;
        if (nextRedrawMs != 0 && elapsed < spanUs) {
            nextRedrawMs = redraw();
            elapsed = ticks_.microseconds() - t0;
        }
    }
    behindUs_ = elapsed - spanUs;
    if (behindUs_ > kLongestCatchUpUs) behindUs_ = 0;
}
