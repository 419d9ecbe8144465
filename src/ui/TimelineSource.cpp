// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TimelineSource.h"

#include <algorithm>
#include <memory>

#include "editor/EditorCore.h"
#include "link/TickSource.h"

namespace {

// One pass of `sequence`, with its moves and lanes.
ShowPass passOf(const Sequence& sequence) {
    ShowPass pass;
    pass.timeline = Timeline::of(sequence);
    pass.moves = modelMoves(pass.timeline);
    std::vector<bool> played(kChannelCount, false);
    for (const SentCommand& c : pass.timeline.commands)
        if (c.pass >= 0 && Sequence::validChannel(c.channel)) played[static_cast<size_t>(c.channel)] = true;
    for (int c = 0; c < kChannelCount; ++c)
        if (played[static_cast<size_t>(c)]) pass.lanes.push_back(c);
    return pass;
}

}  // namespace

TimelineSource::TimelineSource(EditorCore& core, TickSource& ticks) : core_(&core), ticks_(ticks) {
    core.addPlaybackObserver(this);
    // The core keeps its listeners for its whole life: this one goes quiet
    // once the source is detached or gone.
    auto self = std::make_shared<TimelineSource*>(this);
    alive_ = self;
    core.addChangeListener([self] {
        if (*self && (*self)->onChange) (*self)->onChange();
    });
}

TimelineSource::~TimelineSource() { detach(); }

void TimelineSource::detach() {
    if (!core_) return;
    core_->removePlaybackObserver(this);
    if (alive_) *alive_ = nullptr;
    core_ = nullptr;
    playing_ = false;
}

std::optional<ShowPass> TimelineSource::passIfChanged() {
    if (!core_) return std::nullopt;
    const Sequence& now = core_->sequence();
    if (computedFrom_ && std::ranges::equal(computedFrom_->image(), now.image())) return std::nullopt;
    computedFrom_ = now;
    return passOf(now);
}

int TimelineSource::currentFrame() const { return core_ ? core_->state().currentFrame : -1; }

std::optional<double> TimelineSource::playPointMs(const ShowPass& pass) const {
    if (!playing_) return std::nullopt;
    const FrameBegun* b = pass.timeline.frame(playedFrame_);
    if (!b) return std::nullopt;
    const double since = static_cast<double>(ticks_.microseconds() - playedSinceUs_) / 1000.0;
    return std::min(b->atMs + since, b->endMs());
}

bool TimelineSource::showFrame(int frame) { return core_ && core_->showFrame(frame); }

void TimelineSource::playbackStarted(int, bool) {
    playing_ = true;
    playedFrame_ = -1;
    if (onPlayback) onPlayback();
}

void TimelineSource::frameBegins(int frame) {
    playing_ = true;
    playedFrame_ = frame;
    playedSinceUs_ = ticks_.microseconds();
    if (onPlayback) onPlayback();
}

void TimelineSource::jumped(int) {}

void TimelineSource::playbackEnded(PlaybackEnd) {
    playing_ = false;
    playedFrame_ = -1;
    if (onPlayback) onPlayback();
}
