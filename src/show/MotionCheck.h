// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Checks a sequence's motion before it is played: the player runs one pass
// of the show on a model of the line and of the clock (no port, no real
// time), and the simulated controller's ramp model tells where every servo
// is. A move that a servo cannot finish before the next command to its
// channel redirects it, or before the pass ends, is an unfinished move.
//
// One pass: the show is played from frame 0 as the Play button plays it
// (after the display of frame 0 that loading a file does) until it ends or
// comes back to a frame whose pass it has already begun. Jumps, the marking
// that showing a frame does and the offset count exactly as the player sends
// them, since it is the player that sends them.

#include <string>
#include <vector>

#include "sequence/Sequence.h"

// A position command as the controller received it.
struct SentCommand {
    double atMs;  // its last byte's arrival, from the start of Play (before it: 0 or less)
    int frame;    // the frame being played or shown when it was sent
    int channel;
    int rate;     // as on the wire
    int pulse;    // units of 2 us, as on the wire
};

struct FrameStart {
    double atMs;
    int frame;
};

struct MotionRecord {
    std::vector<SentCommand> commands;  // in order of arrival
    std::vector<FrameStart> frames;     // every pass begun, in order
    double endMs = 0;                   // when the pass ended
};

// Plays one pass of the show held in `loaded` (a sequence as a file holds it)
// and records what reached the controller.
MotionRecord recordPass(const Sequence& loaded);

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

// The moves of the record, in the order they began. A servo's first command
// finds it at no known place: as in the simulator, it is at that target at
// once.
std::vector<Move> modelMoves(const MotionRecord& record);

// "frame 3 channel 5: 1500 -> 2300 us at rate 12 needs 3.43 s, the next
// command comes after 0.50 s" (or "..., the pass ends after 0.50 s").
std::string describeUnfinished(const Move& move);
