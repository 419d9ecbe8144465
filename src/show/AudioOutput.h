// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sound output, as the soundtrack's player sees it: a decoded track
// played from a point, moved, nudged and stopped, and the point being heard
// now. Times are on the program's clock (TickSource::microseconds) and in
// milliseconds of the track.
//
// Every call returns at once and never waits for the sound system: the
// output works on a thread of its own (audio_output_posix.cpp: PulseAudio's
// threaded main loop), reached through a small queue of requests and a
// snapshot of what is heard. Tests replace it with a model clock.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "show/DecodedSound.h"

class TickSource;

// The track's point that the listener hears at a moment: latency included.
struct HeardPoint {
    double trackMs;
    uint64_t atUs;
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // Plays `sound` so that the listener hears its point trackMs at the
    // moment atUs and then onwards in real time: the time the sound system
    // takes before anything is heard is skipped, not added. Before the
    // track's start and past its end there is silence. Replaces whatever
    // was playing.
    virtual void play(std::shared_ptr<const DecodedSound> sound, double trackMs, uint64_t atUs) = 0;
    // Moves what is heard by ms (later in the track when positive) without
    // a jump, by playing slightly faster or slower until done; replaces an
    // adjustment not yet done. Nothing while nothing plays.
    virtual void adjust(double ms) = 0;
    // Silence now; what was queued is dropped.
    virtual void stop() = 0;

    // The latest point heard, while a track is heard (not yet while the
    // sound system starts up, nor after stop()).
    virtual std::optional<HeardPoint> heard() const = 0;
    // Why there is no sound output ("no sound server (Connection refused)",
    // "the sound server went away (...)", "the sound server cannot play to
    // NAME (No such entity)"); empty while there is one. Once set it
    // stays: the output then plays nothing for the rest of its life.
    virtual std::string failure() const = 0;
};

// This system's output (PulseAudio, or PipeWire's pulse server, on Linux;
// on Windows an output that only reports that it has none). Connects at
// once in the background; `name` is what the sound server shows for it.
std::unique_ptr<AudioOutput> makeSystemAudioOutput(TickSource& clock, const std::string& name);
