// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Everything the timeline window takes from the editor core, in one place:
// one pass of the show as the player plays it, the current frame, where
// the player is while it plays, showing a frame, and being told of changes.
// The window itself knows nothing of the core.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "editor/PlaybackObserver.h"
#include "sequence/Sequence.h"
#include "show/MotionCheck.h"

class EditorCore;
class TickSource;

// One pass of the show, ready to draw.
struct ShowPass {
    Timeline timeline;
    std::vector<Move> moves;  // the modelled servo moves, in the order they began
    std::vector<int> lanes;   // the channels the pass plays (commands after Play), ascending
};

class TimelineSource : private PlaybackObserver {
public:
    // Follows `core` until detach(); `ticks` is the player's clock.
    TimelineSource(EditorCore& core, TickSource& ticks);
    ~TimelineSource() override;
    TimelineSource(const TimelineSource&) = delete;
    TimelineSource& operator=(const TimelineSource&) = delete;

    // Told (on the window's thread, possibly many times in one handler) when
    // the show or the current frame may have changed, and when a playback
    // starts, begins a frame or ends. Each returns at once.
    std::function<void()> onChange;
    std::function<void()> onPlayback;

    // The core is going away: no call reaches it from now on.
    void detach();
    bool attached() const { return core_ != nullptr; }

    // The pass of the show as it is now; nothing when the show has not
    // changed since the last call that returned one (or when detached).
    std::optional<ShowPass> passIfChanged();

    int currentFrame() const;
    bool playing() const { return playing_; }
    // The player's point on the pass, in ms from its start: within the band
    // of the frame it began last, never past that band's end. Nothing at
    // rest or while it plays a frame the pass does not begin.
    std::optional<double> playPointMs(const ShowPass& pass) const;
    // The frame whose pass the player began last (-1 at rest).
    int playedFrame() const { return playing_ ? playedFrame_ : -1; }

    // Shows the frame in the strips as the frame buttons do; false during
    // playback.
    bool showFrame(int frame);

private:
    void playbackStarted(int frame, bool resumed) override;
    void frameBegins(int frame) override;
    void jumped(int frame) override;
    void playbackEnded(PlaybackEnd how) override;

    EditorCore* core_;
    std::shared_ptr<TimelineSource*> alive_;  // what the core's change listener reaches
    TickSource& ticks_;
    std::optional<Sequence> computedFrom_;
    bool playing_ = false;
    int playedFrame_ = -1;
    uint64_t playedSinceUs_ = 0;
};
