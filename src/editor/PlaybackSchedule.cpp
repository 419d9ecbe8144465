#include "editor/PlaybackSchedule.h"

#include "link/TickSource.h"

void PlaybackSchedule::wait(uint32_t ms) {
    // Already past this wait's point: no wait at all, the rest carries on.
    if (behind_ >= ms) {
        behind_ -= ms;
        return;
    }
    const uint32_t span = ms - behind_;
    // Elapsed time is the unsigned difference of two readings, right across
    // a wrap of the counter. Each sleep covers what is left; a sleep that
    // returns early is followed by another.
    const uint32_t t0 = ticks_.GetTickCount();
    uint32_t elapsed = 0;
    while (elapsed < span) {
        ticks_.sleepMs(span - elapsed);
        elapsed = ticks_.GetTickCount() - t0;
    }
    behind_ = elapsed - span;
    if (behind_ > kLongestCatchUpMs) behind_ = 0;
}
