// SPDX-License-Identifier: GPL-3.0-or-later
// The soundtrack's rules on a model of the audio output: a clock that moves
// only when the test moves it, and a sound that is heard from where it was
// last played, running at a rate of its own (a sound card's clock).

#include <gtest/gtest.h>


#include "FakeTicks.h"
#include "show/SoundtrackPlayer.h"

namespace {

class ModelOutput : public AudioOutput {
public:
    explicit ModelOutput(FakeTicks& clock) : clock_(clock) {}
    void play(std::shared_ptr<const DecodedSound>, double trackMs, uint64_t atUs) override {
        plays.push_back(trackMs);
        playing_ = true;
        fromMs_ = trackMs;
        atUs_ = atUs;
    }
    void adjust(double ms) override { adjusts.push_back(ms); }
    void stop() override {
        ++stops;
        playing_ = false;
    }
    std::optional<HeardPoint> heard() const override {
        if (!playing_ || !audible) return std::nullopt;
        const double since = static_cast<double>(clock_.microseconds() - atUs_) / 1000.0;
        return HeardPoint{fromMs_ + since * rate, clock_.microseconds()};
    }
    std::string failure() const override { return failure_; }

    std::vector<double> plays, adjusts;
    int stops = 0;
    double rate = 1;
    bool audible = true;  // false: the sound system is still starting
    std::string failure_;
    bool playing() const { return playing_; }

private:
    FakeTicks& clock_;
    bool playing_ = false;
    double fromMs_ = 0;
    uint64_t atUs_ = 0;
};

// A timeline whose passes begin at the given times, in that order.
std::shared_ptr<const Timeline> beginning(std::vector<std::pair<int, double>> at) {
    auto t = std::make_shared<Timeline>();
    for (const auto& [frame, ms] : at) t->frames.push_back({frame, ms, 1, 0});
    for (size_t i = 0; i + 1 < t->frames.size(); ++i) t->frames[i].holdsMs = t->frames[i + 1].atMs - t->frames[i].atMs;
    return t;
}

std::shared_ptr<const DecodedSound> track(double ms) {
    auto s = std::make_shared<DecodedSound>();
    s->sampleRate = 1000;
    s->channels = 1;
    s->samples.resize(static_cast<size_t>(ms));
    return s;
}

struct SoundtrackRules : ::testing::Test {
    FakeTicks clock;
    ModelOutput out{clock};
    std::vector<std::string> told;
    SoundtrackPlayer player{out, clock, [this](const std::string& why) { told.push_back(why); }};

    // Frames 0..3 at 0, 1000, 2500 and 4000 ms; the track 10 s long, its
    // frame 0 at 300 ms.
    void SetUp() override {
        player.setSound(track(10000), 300);
        player.setTimeline(beginning({{0, 0}, {1, 1000}, {2, 2500}, {3, 4000}}));
    }
    // The player's pass: frame `frame` begins `ms` after the last.
    void after(uint32_t ms, int frame) {
        clock.advance(ms);
        player.frameBegins(frame);
    }
};

}  // namespace

TEST_F(SoundtrackRules, PlayStartsTheTrackAtTheTimeOfTheFrameWherePlaybackBeginsPlusTheOffset) {
    player.playbackStarted(0, false);
    player.frameBegins(0);
    ASSERT_EQ(out.plays, std::vector<double>{300});
    player.playbackEnded(PlaybackEnd::Stopped);
    player.playbackStarted(2, true);
    EXPECT_EQ(out.plays.back(), 2800);
}

TEST_F(SoundtrackRules, EachFramesPointIsWhereTheShowsTimelineBeginsItsPassPlusTheOffset) {
    Sequence seq;
    for (int f = 0; f < 3; ++f) {
        seq.frame(f).frameUsed = 1;
        for (int c = 0; c < 2; ++c) {
            seq.channel(f, c).position = 1000 + 200 * f + 50 * c;
            seq.channel(f, c).pause = 100 * (f + 1);
            seq.channel(f, c).changed = 1;
        }
    }
    const auto timeline = std::make_shared<const Timeline>(Timeline::of(seq));
    player.setTimeline(timeline);
    ASSERT_EQ(timeline->frames.size(), 3u);
    ASSERT_GT(timeline->frames[1].atMs, 0);
    for (const FrameBegun& f : timeline->frames) {
        player.playbackStarted(f.frame, true);
        EXPECT_EQ(out.plays.back(), f.atMs + 300) << "frame " << f.frame;
        player.playbackEnded(PlaybackEnd::Paused);
    }
}

TEST_F(SoundtrackRules, PauseStopsTheSoundAndPlayAfterPauseResumesAtThePausedFramesTime) {
    player.playbackStarted(0, false);
    after(1000, 1);
    player.playbackEnded(PlaybackEnd::Paused);
    EXPECT_FALSE(out.playing());
    clock.advance(60000);  // paused for a minute
    player.playbackStarted(2, true);
    player.frameBegins(2);
    EXPECT_EQ(out.plays, (std::vector<double>{300, 2800}));
    EXPECT_TRUE(out.playing());
}

TEST_F(SoundtrackRules, EveryEndOfPlaybackStopsTheSoundAndNothingPlaysUntilTheNextPlay) {
    for (PlaybackEnd how : {PlaybackEnd::Stopped, PlaybackEnd::Completed, PlaybackEnd::PastTheEnd}) {
        player.playbackStarted(0, false);
        after(1000, 1);
        player.playbackEnded(how);
        EXPECT_FALSE(out.playing());
        const size_t plays = out.plays.size();
        after(1500, 2);  // a stray call after the end
        player.jumped(0);
        EXPECT_EQ(out.plays.size(), plays);
    }
}

// As the player jumps: frame 3's channel waits its pause, the jump to frame 0
// reads the rest of the channels from frame 0, and frame 1 begins next.
TEST_F(SoundtrackRules, AfterAJumpBackTheNextFrameStartPlaysTheSoundFromItsPointSoALoopStaysInStep) {
    player.playbackStarted(0, false);
    after(1000, 1);
    after(1500, 2);
    after(1500, 3);
    clock.advance(1000);
    player.jumped(0);
    EXPECT_EQ(out.plays, std::vector<double>{300});  // the rest of the pass is not known yet
    player.frameBegins(1);
    EXPECT_EQ(out.plays, (std::vector<double>{300, 1300}));
    after(1500, 2);  // in step again: nothing more
    EXPECT_EQ(out.plays.size(), 2u);
    EXPECT_TRUE(out.adjusts.empty());
    // Also when the sound was in step at the jump by chance (a loop as long
    // as the track's stretch it skips), the frame after it plays afresh.
    player.jumped(1);
    after(0, 2);
    EXPECT_EQ(out.plays.back(), 2800);
    EXPECT_EQ(out.plays.size(), 3u);
}

TEST_F(SoundtrackRules, AnotherTrackOrOffsetDuringAPlaybackIsPlayedFromTheNextFrameStart) {
    player.playbackStarted(0, false);
    const std::shared_ptr<const DecodedSound> other = track(10000);
    player.setSound(other, 300);  // another track, heard in step with the old one's point
    EXPECT_EQ(out.plays.size(), 1u);
    after(1000, 1);
    EXPECT_EQ(out.plays, (std::vector<double>{300, 1300}));
    player.setSound(other, 500);  // the same track at another offset
    after(1500, 2);
    EXPECT_EQ(out.plays.back(), 3000);
    player.setSound(other, 500);  // nothing new
    after(1500, 3);
    EXPECT_EQ(out.plays.size(), 3u);
}

TEST_F(SoundtrackRules, AtAFrameStartASoundFarOffIsPlayedFromTheFramesPointAndASmallDriftIsNudged) {
    player.playbackStarted(0, false);
    out.rate = 1.004;  // 4 ms a second fast
    after(1000, 1);
    ASSERT_EQ(out.adjusts, std::vector<double>{-4});
    EXPECT_EQ(out.plays.size(), 1u);
    // The player ran 40 ms late: the sound is played from frame 2's point.
    out.rate = 1;
    after(1540, 2);
    EXPECT_EQ(out.plays.back(), 2800);
    // Within a millisecond: left alone.
    after(1500, 3);
    EXPECT_EQ(out.adjusts.size(), 1u);
    EXPECT_EQ(out.plays.size(), 2u);
    // Exactly 15 ms off is nudged, not played afresh; exactly 1 ms off is
    // left alone.
    player.playbackEnded(PlaybackEnd::Paused);
    player.playbackStarted(1, true);
    after(1515, 2);
    EXPECT_EQ(out.plays.size(), 3u);
    EXPECT_EQ(out.adjusts.back(), -15);
    player.playbackEnded(PlaybackEnd::Paused);
    player.playbackStarted(1, true);
    after(1501, 2);
    EXPECT_EQ(out.plays.size(), 4u);
    EXPECT_EQ(out.adjusts.size(), 2u);
}

TEST_F(SoundtrackRules, NothingIsCorrectedWhileTheSoundSystemHasNotStartedTheSound) {
    out.audible = false;
    player.playbackStarted(0, false);
    after(1000, 1);
    after(1500, 2);
    EXPECT_EQ(out.plays.size(), 1u);
    EXPECT_TRUE(out.adjusts.empty());
}

TEST_F(SoundtrackRules, ATrackShorterThanTheShowEndsAndAJumpBackPlaysItAgain) {
    player.setSound(track(2800), 300);  // ends right at frame 2
    player.playbackStarted(0, false);
    after(1000, 1);
    EXPECT_TRUE(out.playing());
    after(1500, 2);  // 2800 ms: the end
    EXPECT_FALSE(out.playing());
    EXPECT_EQ(out.stops, 1);
    after(1500, 3);
    EXPECT_FALSE(out.playing());
    EXPECT_EQ(out.stops, 1);  // nothing more asked of the output
    player.jumped(0);
    player.frameBegins(1);
    EXPECT_TRUE(out.playing());
    EXPECT_EQ(out.plays.back(), 1300);
    // A jump that goes past the end while the track plays ends it; so
    // does resuming there.
    player.jumped(2);
    player.frameBegins(3);
    EXPECT_FALSE(out.playing());
    player.playbackEnded(PlaybackEnd::Paused);
    const size_t plays = out.plays.size();
    player.playbackStarted(2, true);
    EXPECT_EQ(out.plays.size(), plays);
    EXPECT_FALSE(out.playing());
}

TEST_F(SoundtrackRules, AFrameTheTimelineDoesNotKnowLeavesTheSoundAsItIs) {
    player.playbackStarted(0, false);
    after(1000, 9);
    EXPECT_EQ(out.plays.size(), 1u);
    EXPECT_TRUE(out.playing());
    player.playbackEnded(PlaybackEnd::Paused);
    // Resumed there, the sound waits for the first frame the timeline knows.
    player.playbackStarted(9, true);
    EXPECT_FALSE(out.playing());
    after(1000, 1);
    EXPECT_EQ(out.plays.back(), 1300);
}

TEST_F(SoundtrackRules, WithoutSoundOutputTheShowGoesOnAndTheReasonIsGivenOnceAtPlay) {
    out.failure_ = "no sound server (Connection refused)";
    for (int run = 0; run < 2; ++run) {
        player.playbackStarted(0, false);
        EXPECT_EQ(told.size(), 1u);  // not only when a frame begins: frame 0 may hold for minutes
        after(1000, 1);
        player.playbackEnded(PlaybackEnd::Completed);
    }
    EXPECT_EQ(told, std::vector<std::string>{"no sound server (Connection refused)"});
}

TEST_F(SoundtrackRules, AnOutputLostDuringAPassIsToldAtTheNextFrameStartOrAtTheEnd) {
    player.playbackStarted(0, false);
    out.failure_ = "the sound server went away (Connection terminated)";
    EXPECT_TRUE(told.empty());
    after(1000, 1);  // a looping show may never end: told now
    EXPECT_EQ(told.size(), 1u);

    SoundtrackPlayer jumping{out, clock, [this](const std::string& why) { told.push_back(why); }};
    out.failure_.clear();
    jumping.playbackStarted(0, false);
    out.failure_ = "the sound server went away (Connection terminated)";
    jumping.jumped(0);  // told at the jump too
    EXPECT_EQ(told.size(), 2u);

    SoundtrackPlayer other{out, clock, [this](const std::string& why) { told.push_back(why); }};
    out.failure_.clear();
    other.playbackStarted(0, false);
    other.frameBegins(0);
    out.failure_ = "the sound server went away (Connection terminated)";
    other.playbackEnded(PlaybackEnd::Completed);  // lost in the last frame
    EXPECT_EQ(told.size(), 3u);
}

TEST_F(SoundtrackRules, ATrackDecodedDuringAPlaybackJoinsAtTheNextFrameStart) {
    player.setSound(nullptr, 0);
    player.playbackStarted(0, false);
    EXPECT_TRUE(out.plays.empty());
    player.setSound(track(10000), 300);
    after(1000, 1);
    EXPECT_EQ(out.plays, std::vector<double>{1300});
}
