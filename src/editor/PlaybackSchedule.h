// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the player's waits on time over a whole show. Each wait is measured
// against the show's schedule, not against the end of the previous wait:
// what one wait overshoots (a sleep that wakes late, or one rounded up by a
// clock that sleeps whole milliseconds) is taken off the next, and what a short pause cannot
// absorb carries on to the ones after it, so overshoots do not add up however
// long the show runs. Time spent between the waits (the commands on the
// line, showing a frame, handlers run between frames) belongs to the show
// and is not made up. The waits are measured in microseconds, so the
// counter's rounding does not add up either. A wait sleeps, handles no
// window events and never lasts less than nothing.

#include <cstdint>
#include <functional>

class TickSource;

class PlaybackSchedule {
public:
    explicit PlaybackSchedule(TickSource& ticks) : ticks_(ticks) {}

    // The next wait begins a fresh schedule: lateness from before is dropped.
    void restart() { behindUs_ = 0; }

    // Waits ms milliseconds less what earlier waits overshot. redraw, when
    // given, is called as the wait begins and then as often as it asks (its
    // result: milliseconds until the next call, 0 for none); its time
    // belongs to the wait.
    void wait(uint32_t ms, const std::function<uint32_t()>& redraw = nullptr);

    // How far (in microseconds) the waits so far ended behind their points,
    // not yet made up.
    uint64_t behindUs() const { return behindUs_; }

    // A wait that ends later than this behind its point (the computer was
    // suspended, the process stopped) restarts the schedule instead: making
    // that much up would send a burst of commands without their pauses.
    static constexpr uint64_t kLongestCatchUpUs = 1000000;

private:
    TickSource& ticks_;
    uint64_t behindUs_ = 0;
};
