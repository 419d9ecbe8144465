// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Plays the soundtrack in step with the show: a playback observer that
// drives an audio output by the show's timeline (Timeline::of, the player's
// own schedule). With a track whose frame 0 is offsetMs into it, the point
// of frame F is the time its pass begins on the timeline plus the offset:
// - Play (fresh or after Pause) starts the track at the point of the frame
//   where playback begins; Pause and Stop (every end of playback) stop it;
// - after a jump, the next frame that begins plays it from that frame's
//   point, so that a looping show loops its sound in step (a jump to frame J
//   plays the rest of the jumping frame's channels from J and then begins
//   J + 1, not J: that frame's start is where the show's time is known
//   again; until then the sound goes on as it was);
// - at every frame start, what is heard is compared with the frame's point:
//   more than kSeekMs off (a late player, a sound system that started late)
//   it is played from the frame's point; more than kAdjustFromMs off (the
//   sound card's clock drifting from the program's) it is moved there by
//   playing slightly faster or slower; otherwise left alone;
// - a point past the track's end is silence: the track ends, the show goes
//   on, and a jump back plays it again.
// A frame the timeline does not know (one the pass never begins) leaves the
// sound as it is.
//
// Calls come inside the player and return at once: the output only queues
// what it is asked. When the output has none ("no sound server ..."), the
// show plays silent and the reason is handed once to noOutput.

#include <functional>
#include <memory>
#include <string>

#include "editor/PlaybackObserver.h"
#include "show/AudioOutput.h"
#include "show/DecodedSound.h"
#include "show/Timeline.h"

class TickSource;

class SoundtrackPlayer : public PlaybackObserver {
public:
    static constexpr double kSeekMs = 15;
    static constexpr double kAdjustFromMs = 1;

    SoundtrackPlayer(AudioOutput& output, TickSource& clock, std::function<void(const std::string&)> noOutput);

    // The track, or none; takes effect at the next Play or frame start (a
    // track decoded or chosen during a playback joins at the next frame).
    void setSound(std::shared_ptr<const DecodedSound> sound, double offsetMs);
    // The timeline of the show as it plays now (none: no frame is known);
    // takes effect at once.
    void setTimeline(std::shared_ptr<const Timeline> timeline);
    bool hasSound() const { return sound_ != nullptr; }

    // Hands a failure of the output to noOutput, once; also called by every
    // observer call.
    void checkOutput();

    void playbackStarted(int frame, bool resumed) override;
    void frameBegins(int frame) override;
    void jumped(int frame) override;
    void playbackEnded(PlaybackEnd how) override;

private:
    std::optional<double> pointOf(int frame) const;
    void playFrom(double trackMs);
    void silence();

    AudioOutput& output_;
    TickSource& clock_;
    std::function<void(const std::string&)> noOutput_;
    bool told_ = false;
    std::shared_ptr<const DecodedSound> sound_;
    double offsetMs_ = 0;
    std::shared_ptr<const Timeline> timeline_;
    bool playing_ = false;  // a playback runs
    bool sounding_ = false; // the output was asked to play and not stopped since
    // A jump, or another track or offset, since the last frame start the
    // timeline knows: the next one plays from its point.
    bool replayAtNextFrame_ = false;
    uint64_t lastPlayUs_ = 0;
};
