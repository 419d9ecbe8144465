// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The show's time: when each frame of one pass begins and each position
// command reaches the controller, on the 2400-baud line. Everything that
// speaks of the show in time takes it from here: the motion check and the
// plot, the timeline window, `kdx timeline` and the soundtrack.
//
// It is computed by playing the show: the editor core's own player runs one
// pass on a model of the line and of the clock (no port, no real time), as
// the Play button plays it after the display of frame 0 that loading a file
// does, from frame 0 until the show ends or comes back to a frame whose pass
// it has begun. Every byte takes its wire time (kByteWireUs), every stored
// setting the player sends is followed by its channel's pause, and the
// commands that showing a frame sends take wire time and no pause. Jumps,
// the marking that showing a frame does and the offset count exactly as the
// player sends them, since it is the player that sends them. Since the model
// line's sends take the wire time, the player waits nothing on it: the
// timeline is the player's own schedule, which it keeps on every line.
//
// Times are in ms from the pass's start: the moment Play begins, 0.

#include <optional>
#include <vector>

#include "sequence/Sequence.h"

// A position command as the controller received it.
struct SentCommand {
    double atMs;  // its last byte's arrival (loading's display: 0 or less)
    int frame;    // the frame whose setting it sends: the one shown or played when it was sent
    int pass;     // the frame whose pass it belongs to (-1: sent while loading, before Play)
    int channel;
    int rate;        // as on the wire
    int pulse;       // units of 2 us, as on the wire
    bool live;       // sent by a display of a frame (no pause) rather than by the pass
    double pauseMs;  // the pause waited after it (0 when live)
};

// A frame whose pass the show begins.
struct FrameBegun {
    int frame;
    double atMs;     // when the pass reaches it, before the commands its display sends
    int commands;    // the commands sent from then until the next frame begins
    double holdsMs;  // until the next frame begins, or the pass ends
    double endMs() const { return atMs + holdsMs; }
};

// A jump the player takes inside a pass: the channels after it are read
// from `to`.
struct JumpTaken {
    double atMs;  // after the pause of the command before it
    int pass;     // the frame whose pass holds it
    int from;     // the frame whose jump it is
    int to;
};

struct Timeline {
    std::vector<FrameBegun> frames;     // in order of time
    std::vector<SentCommand> commands;  // in order of arrival, loading's first
    std::vector<JumpTaken> jumps;       // in order of time
    double passMs = 0;                  // when the pass ended

    // One pass of the show held in `loaded` (a sequence as a file holds it).
    // A full show (128 frames x 32 channels) takes a few milliseconds.
    static Timeline of(const Sequence& loaded);

    // The pass of `frame`; null when the pass does not begin it.
    const FrameBegun* frame(int frame) const;
    // When the pass of `frame` begins; nothing when it does not.
    std::optional<double> frameAtMs(int frame) const;
    // When, in the pass of `frame`, the pass's command of `channel` has
    // arrived and its pause has been waited; nothing when that pass sends
    // no setting of that channel.
    std::optional<double> commandDoneMs(int frame, int channel) const;
    // The frame whose pass holds the time ms (the last one at its end);
    // null outside the pass.
    const FrameBegun* frameAt(double ms) const;
};
