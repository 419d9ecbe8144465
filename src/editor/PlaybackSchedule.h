#pragma once
// Keeps the player's waits on time over a whole show. Each wait is measured
// against the show's schedule, not against the end of the previous wait:
// what one wait overshoots (a sleep that wakes late, the tick counter's
// millisecond) is taken off the next, and what a short pause cannot absorb
// carries on to the ones after it, so overshoots do not add up however long
// the show runs. Time spent between the waits (the commands on the line,
// showing a frame, handlers run between frames) belongs to the show and is
// not made up. A wait sleeps, handles no window events and never lasts less
// than nothing.

#include <cstdint>

class TickSource;

class PlaybackSchedule {
public:
    explicit PlaybackSchedule(TickSource& ticks) : ticks_(ticks) {}

    // The next wait begins a fresh schedule: lateness from before is dropped.
    void restart() { behind_ = 0; }

    // Waits ms milliseconds less what earlier waits overshot.
    void wait(uint32_t ms);

    // How far the waits so far ended behind their points, not yet made up.
    uint32_t behind() const { return behind_; }

    // A wait that ends later than this behind its point (the computer was
    // suspended, the process stopped) restarts the schedule instead: making
    // that much up would send a burst of commands without their pauses.
    static constexpr uint32_t kLongestCatchUpMs = 1000;

private:
    TickSource& ticks_;
    uint32_t behind_ = 0;
};
