// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a playback does, told as it happens, for those that follow the show
// in time without taking part in it: the timeline window's play head and the
// soundtrack. Calls come on the player's thread, inside the player; an
// observer only notes what it is told (it sends nothing and changes no
// editor state) and returns at once.

enum class PlaybackEnd {
    Paused,     // Pause took effect: Play resumes at the frame that was next
    Stopped,    // Stop, Exit, the window closing or the port lost
    Completed,  // a frame that holds no recording: " Sequence Complete "
    PastTheEnd  // the index reached the last slot with every frame played
};

class PlaybackObserver {
public:
    virtual ~PlaybackObserver() = default;
    // Play began, fresh (from frame 0) or resumed (from the paused frame).
    virtual void playbackStarted(int frame, bool resumed) = 0;
    // The pass of `frame` begins now: before the commands that showing the
    // frame sends.
    virtual void frameBegins(int frame) = 0;
    // A jump inside a pass: the channels that follow are read from `frame`.
    virtual void jumped(int frame) = 0;
    // The player left its loop.
    virtual void playbackEnded(PlaybackEnd how) = 0;
};
