// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TimelineSource.h"

#include <algorithm>
#include <memory>

#include "editor/EditorCore.h"
#include "link/TickSource.h"

namespace {

// Eight bytes at 2400 baud, ten bits a byte: a position command's time on
// the line.
constexpr double kCommandMs = 8 * 10 * 1000.0 / 2400;

// One pass of `sequence`, as the motion check plays it.
ShowPass passOf(const Sequence& sequence) {
    const MotionRecord record = recordPass(sequence);
    ShowPass pass;
    pass.endMs = record.endMs;
    pass.moves = modelMoves(record);
    for (size_t i = 0; i < record.frames.size(); ++i) {
        const double end = i + 1 < record.frames.size() ? record.frames[i + 1].atMs : record.endMs;
        pass.bands.push_back({record.frames[i].frame, record.frames[i].atMs, end});
    }
    std::vector<bool> played(kChannelCount, false);
    for (const SentCommand& c : record.commands)
        if (c.atMs > 0 && Sequence::validChannel(c.channel)) played[static_cast<size_t>(c.channel)] = true;
    for (int c = 0; c < kChannelCount; ++c)
        if (played[static_cast<size_t>(c)]) pass.lanes.push_back(c);

    // A jump shows in the commands: the first one in a band that another
    // frame sent was sent after it. A band whose jump is its last step
    // (nothing played after it) takes it at its end.
    // Commands and bands are both in order of time: one walk through each.
    size_t next = 0;
    for (const ShowPass::Band& b : pass.bands) {
        std::optional<ShowPass::Jump> jump;
        while (next < record.commands.size() && record.commands[next].atMs <= b.startMs) ++next;
        for (size_t i = next; i < record.commands.size() && record.commands[i].atMs <= b.endMs + 1e-6; ++i) {
            const SentCommand& c = record.commands[i];
            if (c.frame != b.frame) {
                jump = ShowPass::Jump{b.frame, std::max(b.startMs, c.atMs - kCommandMs), c.frame};
                break;
            }
        }
        const int32_t to = sequence.frame(b.frame).jumpTo;
        if (!jump && Sequence::validFrame(to) && to != b.frame) jump = ShowPass::Jump{b.frame, b.endMs, to};
        if (jump) pass.jumps.push_back(*jump);
    }
    return pass;
}

}  // namespace

const ShowPass::Band* ShowPass::band(int frame) const {
    for (const Band& b : bands)
        if (b.frame == frame) return &b;
    return nullptr;
}

const ShowPass::Band* ShowPass::bandAt(double ms) const {
    for (const Band& b : bands)
        if (ms >= b.startMs && ms < b.endMs) return &b;
    if (!bands.empty() && ms >= bands.back().startMs && ms <= endMs) return &bands.back();
    return nullptr;
}

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
    const ShowPass::Band* b = pass.band(playedFrame_);
    if (!b) return std::nullopt;
    const double since = static_cast<double>(ticks_.microseconds() - playedSinceUs_) / 1000.0;
    return std::min(b->startMs + since, b->endMs);
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
