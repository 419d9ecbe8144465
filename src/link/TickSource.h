// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The millisecond tick counter and the waits built on it. Tests substitute a
// fake whose sleep advances the counter, so long pauses cost no real time.

#include <cstdint>

class TickSource {
public:
    virtual ~TickSource() = default;
    // Milliseconds since some fixed start, wrapping after 2^32 ms.
    virtual uint32_t GetTickCount() = 0;
    // The same clock in microseconds, never wrapping: fine enough that many
    // waits measured one after another do not add up the counter's
    // rounding.
    virtual uint64_t microseconds() = 0;
    // Gives the processor away for about ms milliseconds (no window events
    // are handled meanwhile). A fake advances its counter instead.
    virtual void sleepMs(uint32_t ms) = 0;
    // The same for about us microseconds, never less. A source that counts
    // whole milliseconds sleeps the time rounded up.
    virtual void sleepUs(uint64_t us) {
        const uint64_t ms = (us + 999) / 1000;
        sleepMs(ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms));
    }
};

// The process-wide tick source of this platform (tick_source_posix.cpp).
TickSource& systemTickSource();

// Waits ms milliseconds on the tick counter, handling no window events.
// Measures elapsed ticks with unsigned wrap-around, so the wait is whole at
// any counter value; sleeps in short slices rather than spinning.
void Delay(TickSource& ticks, uint32_t ms);
