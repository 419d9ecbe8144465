// SPDX-License-Identifier: GPL-3.0-or-later
// A sequence file may hold any 32-bit value in every field. One file with
// INT32_MIN and INT32_MAX everywhere goes through Open, display, play and
// download against the simulator; the sanitizer build catches any overflow
// on the way, and the wire carries the low bytes the command set defines.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "CoreFixture.h"
#include "ShowTime.h"
#include "TempFolder.h"
#include "sequence/SequenceFile.h"

namespace {

constexpr int32_t kMin = INT32_MIN;
constexpr int32_t kMax = INT32_MAX;

// Frame 0: every value INT32_MAX; frame 1: every value INT32_MIN; frame 2:
// even channels position MAX with rate, offset and pause MIN, odd ones the
// other way round. Every flag, spare and padding byte is 0xFF. Frames 0 and
// 1 jump to INT32_MIN (no jump), frame 2 to INT32_MAX (past the last frame).
std::vector<uint8_t> limitsFile() {
    Sequence s;
    // valuesOf(c) gives channel c's position and its rate, offset and pause.
    auto fill = [&](int f, int32_t jumpTo, auto valuesOf) {
        Frame& fr = s.frame(f);
        for (int c = 0; c < kChannelCount; ++c) {
            const auto [position, rest] = valuesOf(c);
            ChannelSetting& ch = fr.channels[c];
            ch.position = position;
            ch.rate = ch.offset = ch.pause = rest;
            ch.changed = 0xFF;
            std::memset(ch.spare, 0xFF, sizeof ch.spare);
        }
        fr.jumpTo = jumpTo;
        fr.frameUsed = 0xFF;
        std::memset(fr.padding, 0xFF, sizeof fr.padding);
    };
    using Values = std::pair<int32_t, int32_t>;
    fill(0, kMin, [](int) { return Values{kMax, kMax}; });
    fill(1, kMin, [](int) { return Values{kMin, kMin}; });
    fill(2, kMax, [](int c) { return c % 2 == 0 ? Values{kMax, kMin} : Values{kMin, kMax}; });
    const auto image = s.image();
    return {image.begin(), image.begin() + kSequenceFileSize};
}

class ValuesAtTheLimits : public CoreFixture {};

TEST_F(ValuesAtTheLimits, OpenShowPlayAndDownloadEveryFieldAtBothEnds) {
    TempFolder dir;
    const std::string path = dir.file("limits.KDX");
    writeWholeFile(path, limitsFile());

    // Open shows frame 0: the strips hold what they can. Every channel
    // (marked 0xFF) goes out live: the position's change (with the rate and
    // offset still shown as before), the offset's, and IndexChange's own.
    view.openAnswers.push_back(path);
    core.Open1Click();
    ASSERT_TRUE(view.errors.empty()) << view.errors.front();
    ASSERT_EQ(core.sequence().channel(0, 5).position, kMax);
    ASSERT_EQ(core.sequence().frame(2).jumpTo, kMax);
    const TChannel& s0 = core.strip(0);
    EXPECT_EQ(s0.PositionEdit.text(), "2500");
    EXPECT_EQ(s0.RateEdit.text(), "63");
    EXPECT_EQ(s0.OffsetTrack.position(), 50);
    EXPECT_EQ(s0.PauseEdit.text(), "65535");
    EXPECT_EQ(s0.Track.position(), 500);
    EXPECT_EQ(view.jumpLabel, std::to_string(kMin));
    std::vector<Sent> expected;
    for (int c = 0; c < kChannelCount; ++c)
        expected.insert(expected.end(), {{c, 0, 1250}, {c, 63, 1275}, {c, 63, 1275}});
    EXPECT_EQ(takeSent(), expected);

    // Frames 1 and 2 shown by navigation, then frame 0 again by Stop.
    core.NextFrameClick();
    EXPECT_EQ(core.strip(0).PositionEdit.text(), "500");
    EXPECT_EQ(core.strip(0).OffsetTrack.position(), -50);
    EXPECT_EQ(core.strip(0).Track.position(), 2500);
    core.NextFrameClick();
    EXPECT_EQ(core.strip(0).PositionEdit.text(), "2500");
    EXPECT_EQ(core.strip(0).RateEdit.text(), "0");
    EXPECT_EQ(core.strip(1).PauseEdit.text(), "65535");
    EXPECT_EQ(view.jumpLabel, std::to_string(kMax));
    core.StopClick();
    takeSent();
    const uint64_t before = ticks.totalSlept();

    core.RunClick();

    // Frame 0's pass: the rate's low byte, and the low 16 bits of
    // (MAX + MAX) / 2 = INT32_MAX taken over the full sum.
    expected.clear();
    for (int c = 0; c < kChannelCount; ++c) expected.push_back({c, 0xFF, 0xFFFF});
    // Frame 1 shown (500 with the offset 50 still shown, then -50), then
    // played: (MIN + MIN) / 2 = INT32_MIN, low 16 bits 0.
    for (int c = 0; c < kChannelCount; ++c) expected.insert(expected.end(), {{c, 63, 275}, {c, 0, 225}});
    for (int c = 0; c < kChannelCount; ++c) expected.push_back({c, 0, 0});
    // Frame 2 shown: even channels to 2500 (offset -50), odd ones to offset
    // 50 (rate 63); then its channel 0 played, (MAX + MIN) / 2 = 0, and the
    // jump to INT32_MAX ends the pass and the playback.
    for (int c = 0; c < kChannelCount; ++c) expected.push_back(c % 2 == 0 ? Sent{c, 0, 1225} : Sent{c, 63, 275});
    expected.push_back({0, 0, 0});
    EXPECT_EQ(takeSent(), expected);
    // Pauses held to the box's range: 65535 for INT32_MAX, 0 for INT32_MIN;
    // every one of the 161 commands waited for its wire time.
    EXPECT_EQ(ticks.totalSlept() - before, playedMs(32u * 65535u, 161));
    EXPECT_EQ(core.state().currentFrame, kFrameCount);
    EXPECT_EQ(view.frameLabel, "2");

    // Download: the stream carries position and pause as their low 16 bits,
    // high byte first, and the rate's low byte.
    core.DownloadClick();
    ASSERT_TRUE(sim.waitFor(
        [](const std::vector<sim::Event>& ev) {
            return !ev.empty() && ev.back().kind == sim::Event::Kind::Download;
        },
        std::chrono::seconds(10)));
    const sim::DownloadMessage d = sim.events().back().download;
    EXPECT_EQ(d.stamp, "0.9g");
    ASSERT_EQ(d.frames.size(), 3u);
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(d.frames[f].frame, f);
        ASSERT_EQ(d.frames[f].channels.size(), 32u);
        for (int c = 0; c < kChannelCount; ++c) {
            const sim::DownloadChannel& ch = d.frames[f].channels[c];
            const bool max = f == 0 || (f == 2 && c % 2 == 0);
            const bool rateMax = f == 0 || (f == 2 && c % 2 == 1);
            EXPECT_EQ(ch.channel, c);
            EXPECT_EQ(ch.position, max ? 0xFFFF : 0) << f << '/' << c;
            EXPECT_EQ(ch.rate, rateMax ? 0xFF : 0) << f << '/' << c;
            EXPECT_EQ(ch.pause, rateMax ? 0xFFFF : 0) << f << '/' << c;
        }
    }

    // The jump editor at both ends of the range.
    core.StopClick();
    ASSERT_TRUE(core.showFrame(2));
    core.IncButtonClick();
    EXPECT_EQ(core.sequence().frame(2).jumpTo, kMax);
    core.DecButtonClick();
    EXPECT_EQ(core.sequence().frame(2).jumpTo, kMax - 1);
    ASSERT_TRUE(core.showFrame(1));
    core.DecButtonClick();
    EXPECT_EQ(core.sequence().frame(1).jumpTo, kMin);
    core.IncButtonClick();
    EXPECT_EQ(core.sequence().frame(1).jumpTo, 0);
}

}  // namespace
