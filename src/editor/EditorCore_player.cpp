// SPDX-License-Identifier: GPL-3.0-or-later
// The player is the Play button's handler: it runs until playback ends and
// handles pending window events at the start of each used frame and once
// before it returns, so every other handler can run inside it. After such a
// nested handler it goes on with the state that handler left.
//
// Every command the player causes keeps to a schedule (PlaybackSchedule):
// the pass's commands with their pauses, and the live commands that showing
// a frame sends during playback (wire time, no pause). Each arrives at its
// point on the show's time line whatever the line's speed, and lateness is
// made up by the later waits. Play (fresh or resumed), Stop and navigation
// restart the schedule where the playback goes on from; a Play nested in
// another leaves the schedule where its last command left it, since the
// outer one goes on from there in time.

#include <algorithm>
#include <string>

#include "editor/EditorCore.h"
#include "link/Commands.h"

namespace {
constexpr int32_t kLongestPause = 65535;  // the pause box's range
}

void EditorCore::RunClick() {
    // The commands sent from here until the player returns are the show's.
    // A port lost ends the playback: the live sends still made on the way
    // out are not the show's.
    struct Running {
        EditorCore& core;
        unsigned outerLosses;
        explicit Running(EditorCore& c) : core(c), outerLosses(c.lossesAtPlay_) {
            ++core.playersRunning_;
            core.lossesAtPlay_ = core.portLosses_;
        }
        ~Running() {
            --core.playersRunning_;
            core.lossesAtPlay_ = outerLosses;
        }
    } running(*this);
    view_.ShowStatus("          Animating   ", std::nullopt, false);
    state_.playing = true;
    view_.setButtonEnabled(ViewButton::Write, false);
    view_.setButtonEnabled(ViewButton::Insert, false);
    view_.setButtonEnabled(ViewButton::Delete, false);
    view_.setButtonEnabled(ViewButton::Pause, true);
    const bool resumed = state_.paused;
    if (resumed)
        state_.paused = false;  // resume where the pause left off
    else
        state_.currentFrame = 0;
    tellObservers([&](PlaybackObserver& o) { o.playbackStarted(state_.currentFrame, resumed); });
    // The time paused or idle is nobody's to make up.
    schedule_.restart();

    // A device that goes away under any step of the playback ends it.
    const unsigned losses = portLosses_;
    auto portLost = [&] {
        if (portLosses_ == losses) return false;
        stopPlayback();
        tellObservers([](PlaybackObserver& o) { o.playbackEnded(PlaybackEnd::Stopped); });
        return true;
    };
    bool completed = false;

    // Below 127, not 128: a pass never starts at 127 by advancing to it.
    while (state_.currentFrame < kFrameCount - 1) {
        if (state_.paused || !state_.playing) {
            view_.processPendingEvents();
            const PlaybackEnd how = state_.paused ? PlaybackEnd::Paused
                                    : completed  ? PlaybackEnd::Completed
                                                 : PlaybackEnd::Stopped;
            tellObservers([how](PlaybackObserver& o) { o.playbackEnded(how); });
            return;
        }
        view_.setFrameLabel(std::to_string(state_.currentFrame));
        if (!sequence_.frame(state_.currentFrame).frameUsed) {
            state_.playing = false;
            view_.ShowStatus(" Sequence Complete ", std::nullopt, false);
            view_.setButtonEnabled(ViewButton::Write, true);
            completed = true;
            continue;
        }
        view_.processPendingEvents();
        if (portLost()) return;
        if (!Sequence::validFrame(state_.currentFrame)) {  // Exit or the window closed
            tellObservers([](PlaybackObserver& o) { o.playbackEnded(PlaybackEnd::Stopped); });
            return;
        }
        tellObservers([this](PlaybackObserver& o) { o.frameBegins(state_.currentFrame); });
        UpdateDisplay();
        if (portLost()) return;
        // The strips show the frame for the whole pass, whose waits handle
        // no events.
        view_.repaintNow();
        for (int c = 0; c < kChannelCount; ++c) {
            // A jump to a frame that does not exist (only a file can hold
            // one) ends the pass; the loop test then ends playback.
            if (!Sequence::validFrame(state_.currentFrame)) break;
            if (sequence_.channel(state_.currentFrame, c).changed) PlayChannel(c);
            if (portLost()) return;
        }
        // Past such a jump the index is held at 128, the one "no frame"
        // value Exit also uses: the loop test ends playback, and Prior Frame
        // leads back to 127 rather than through a run of frames that do not
        // exist.
        if (Sequence::validFrame(state_.currentFrame))
            ++state_.currentFrame;
        else
            state_.currentFrame = kFrameCount;
    }
    tellObservers([](PlaybackObserver& o) { o.playbackEnded(PlaybackEnd::PastTheEnd); });
}

void EditorCore::PlayChannel(int channel) {
    if (!Sequence::validFrame(state_.currentFrame)) return;
    const ChannelSetting s = sequence_.channel(state_.currentFrame, channel);
    const auto redraw = [this] { return view_.redrawWhileWaiting(); };
    schedule_.send([&] { sendPositionCommand(serialPort_, channel, s.rate, s.position, s.offset); }, redraw);
    // The playback ends; a pause for a device that is gone is not waited.
    if (handlePortLost()) return;
    // A pause from a file may lie outside the box's range; a negative one
    // would otherwise wait for weeks.
    schedule_.wait(static_cast<uint32_t>(std::clamp(s.pause, 0, kLongestPause)), redraw);
    const int32_t jumpTo = sequence_.frame(state_.currentFrame).jumpTo;
    if (jumpTo < 0 || jumpTo == state_.currentFrame) return;
    state_.currentFrame = jumpTo;
    // A jump out of the sequence (only a file can hold one) ends the pass.
    if (Sequence::validFrame(jumpTo)) tellObservers([jumpTo](PlaybackObserver& o) { o.jumped(jumpTo); });
}

void EditorCore::addPlaybackObserver(PlaybackObserver* observer) { observers_.push_back(observer); }

void EditorCore::removePlaybackObserver(PlaybackObserver* observer) {
    std::erase(observers_, observer);
}

template <typename Call>
void EditorCore::tellObservers(Call call) {
    // A copy: an observer may be removed by a handler run inside the player.
    const std::vector<PlaybackObserver*> observers = observers_;
    for (PlaybackObserver* o : observers) call(*o);
}

void EditorCore::PauseButtonClick() {
    state_.paused = true;
    view_.ShowStatus("           Paused", std::nullopt, false);
}

bool EditorCore::pauseAt(int frame) {
    if (state_.playing || !Sequence::validFrame(frame)) return false;
    state_.paused = true;
    state_.currentFrame = frame;
    return true;
}

void EditorCore::StopClick() {
    const unsigned losses = portLosses_;
    stopPlayback();
    // A loss met while frame 0 was sent stays on view.
    if (portLosses_ == losses) view_.ShowStatus("           Stopped", std::nullopt, true);
}

void EditorCore::stopPlayback() {
    state_.playing = false;
    state_.currentFrame = 0;
    IndexChange();
    view_.setButtonEnabled(ViewButton::Write, true);
    view_.setButtonEnabled(ViewButton::Insert, true);
    view_.setButtonEnabled(ViewButton::Delete, true);
}
