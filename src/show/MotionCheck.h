// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Checks a sequence's motion before it is played: the simulated
// controller's ramp model tells where every servo is along one pass of the
// show (Timeline). A move that a servo cannot finish before the next command
// to its channel redirects it, or before the pass ends, is an unfinished
// move.

#include <string>
#include <vector>

#include "show/Timeline.h"

// A servo on its way to one target: from the command that set the target
// until a command with another target redirects it, or the pass ends. A
// command with the same target (as the pass sends after showing a frame
// sent it live) does not redirect the servo; it goes on from where it is at
// the new rate.
struct Move {
    SentCommand command;  // the latest command toward this target (its frame and rate)
    double startMs;       // when the target was set
    double fromPulse;     // where the servo was then
    double needsMs;       // from startMs until it arrives
    double availableMs;   // from startMs until the next target, or the pass's end
    double endPulse;      // where it is when the move ends
    bool redirected;      // another target follows within the pass
    bool finishes() const;
};

// The moves of the pass, in the order they began. A servo's first command
// finds it at no known place: as in the simulator, it is at that target at
// once.
std::vector<Move> modelMoves(const Timeline& timeline);

// "frame 3 channel 5: 1500 -> 2300 us at rate 12 needs 3.43 s, the next
// command comes after 0.50 s" (or "..., the pass ends after 0.50 s").
std::string describeUnfinished(const Move& move);
