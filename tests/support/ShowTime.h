// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The time a playback takes on a fake clock, where a send takes no time:
// the player waits the wire time of every command it sends (but the first
// on a line whose speed it has not seen yet) besides the pauses. The waits
// end on the schedule's points, so a clock that sleeps whole milliseconds
// rounds only the last of them up.

#include <cstdint>

#include "link/Commands.h"

inline uint64_t playedMs(uint64_t pausesMs, uint64_t waitedCommands) {
    return (pausesMs * 1000 + waitedCommands * kPositionCommandWireUs + 999) / 1000;
}
