// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/SoundtrackPlayer.h"

#include <cmath>

#include "link/TickSource.h"

SoundtrackPlayer::SoundtrackPlayer(AudioOutput& output, TickSource& clock,
                                   std::function<void(const std::string&)> noOutput)
    : output_(output), clock_(clock), noOutput_(std::move(noOutput)) {}

void SoundtrackPlayer::setSound(std::shared_ptr<const DecodedSound> sound, double offsetMs) {
    // Another track or offset during a playback: what plays now is not it.
    if (sound != sound_ || offsetMs != offsetMs_) replayAtNextFrame_ = true;
    sound_ = std::move(sound);
    offsetMs_ = offsetMs;
    if (!sound_) silence();
}

void SoundtrackPlayer::setTimeline(std::shared_ptr<const Timeline> timeline) { timeline_ = std::move(timeline); }

void SoundtrackPlayer::checkOutput() {
    if (told_) return;
    const std::string why = output_.failure();
    if (why.empty()) return;
    told_ = true;
    if (noOutput_) noOutput_(why);
}

std::optional<double> SoundtrackPlayer::pointOf(int frame) const {
    if (!timeline_) return std::nullopt;
    const std::optional<double> at = timeline_->frameAtMs(frame);
    if (!at) return std::nullopt;
    return *at + offsetMs_;
}

void SoundtrackPlayer::playFrom(double trackMs) {
    if (!sound_) return;
    if (trackMs >= sound_->durationMs()) {
        silence();  // the track has ended; the show goes on
        return;
    }
    lastPlayUs_ = clock_.microseconds();
    output_.play(sound_, trackMs, lastPlayUs_);
    sounding_ = true;
}

void SoundtrackPlayer::silence() {
    if (sounding_) output_.stop();
    sounding_ = false;
}

void SoundtrackPlayer::playbackStarted(int frame, bool) {
    checkOutput();
    playing_ = true;
    sounding_ = false;
    replayAtNextFrame_ = false;
    if (auto point = pointOf(frame)) playFrom(*point);
}

void SoundtrackPlayer::frameBegins(int frame) {
    checkOutput();
    if (!playing_ || !sound_) return;
    const std::optional<double> point = pointOf(frame);
    if (!point) return;
    if (!sounding_ || replayAtNextFrame_) {
        // Not started yet (the track came late, or the frame where playback
        // began is not on the timeline), ended, the show jumped, or the
        // track or offset changed: from this frame on.
        replayAtNextFrame_ = false;
        playFrom(*point);
        return;
    }
    if (*point >= sound_->durationMs()) {
        silence();
        return;
    }
    const std::optional<HeardPoint> heard = output_.heard();
    // Nothing heard yet of what was last asked: the sound system is still
    // starting it up.
    if (!heard || heard->atUs < lastPlayUs_) return;
    const double heardNow =
        heard->trackMs + (static_cast<double>(clock_.microseconds()) - static_cast<double>(heard->atUs)) / 1000.0;
    const double off = heardNow - *point;
    if (std::abs(off) > kSeekMs)
        playFrom(*point);
    else if (std::abs(off) > kAdjustFromMs)
        output_.adjust(-off);
}

void SoundtrackPlayer::jumped(int) {
    checkOutput();
    // The pass goes on with the rest of the jumping frame's channels, read
    // from the frame jumped to, and then begins the frame after that one:
    // that frame's start is the next point of the show the timeline knows.
    replayAtNextFrame_ = true;
}

void SoundtrackPlayer::playbackEnded(PlaybackEnd) {
    checkOutput();
    playing_ = false;
    silence();
}
