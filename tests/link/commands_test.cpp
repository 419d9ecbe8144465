// SPDX-License-Identifier: GPL-3.0-or-later
// The bytes of the position command and the download stream, checked as
// built and as decoded by the simulator, and the texts of the version query.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "LinkTestSupport.h"
#include "RecordingNotifier.h"
#include "link/Commands.h"
#include "link/TSerial.h"
#include "link/TickSource.h"
#include "sim/ControllerSimulator.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const std::array<uint8_t, 5> kStamp{'0', '.', '9', 'g', ' '};

class OnSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start()) << sim.error();
        ASSERT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    }
    void TearDown() override { port.Close(); }

    sim::ControllerSimulator sim;
    RecordingNotifier notifier;
    TSerial port{notifier, systemTickSource()};
};

struct PositionCase {
    const char* label;
    int channel, rate, position, offset;
    Bytes bytes;
};

class PositionCommand : public OnSimulator, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(PositionCommand, Encodes) {
    const PositionCase& c = GetParam();
    const auto got = encodePositionCommand(c.channel, c.rate, c.position, c.offset);
    EXPECT_EQ(Bytes(got.begin(), got.end()), c.bytes);
}

TEST_P(PositionCommand, ReachesTheController) {
    const PositionCase& c = GetParam();
    sendPositionCommand(port, c.channel, c.rate, c.position, c.offset);
    ASSERT_TRUE(sim.waitFor(
        [](const auto& events) {
            return !events.empty() && events.back().kind == sim::Event::Kind::Position;
        },
        5s));
    const auto events = sim.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].raw, c.bytes);
    EXPECT_EQ(events[0].position.channel, c.channel);
    EXPECT_EQ(events[0].position.rate, c.rate);
    EXPECT_EQ(events[0].position.pulse, (c.position + c.offset) / 2);
    EXPECT_EQ(sim.receivedBytes(), c.bytes);
    // The echo was discarded by the closing drain... or arrives after it and
    // is discarded by the next command's opening one; either way it is never read.
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PositionCommand,
    ::testing::Values(
        PositionCase{"Centre", 0, 0, 1500, 0, {0x21, 0x53, 0x43, 0x00, 0x00, 0xEE, 0x02, 0x0D}},
        PositionCase{"Highest", 0, 0, 2500, 50, {0x21, 0x53, 0x43, 0x00, 0x00, 0xFB, 0x04, 0x0D}},
        PositionCase{"Lowest", 0, 0, 500, -50, {0x21, 0x53, 0x43, 0x00, 0x00, 0xE1, 0x00, 0x0D}},
        PositionCase{"OddSumRoundsDown", 0, 0, 1501, 0,
                     {0x21, 0x53, 0x43, 0x00, 0x00, 0xEE, 0x02, 0x0D}},
        PositionCase{"ChannelRateOffset", 3, 7, 1500, 10,
                     {0x21, 0x53, 0x43, 0x03, 0x07, 0xF3, 0x02, 0x0D}},
        PositionCase{"LastChannelSlowest", 31, 63, 2000, -1,
                     {0x21, 0x53, 0x43, 0x1F, 0x3F, 0xE7, 0x03, 0x0D}}),
    [](const auto& info) { return std::string(info.param.label); });

struct DownloadCase {
    const char* label;
    std::function<void(Sequence&)> setUp;
    Bytes expected;
};

const Bytes kHeader{'K', 'D', 'X', '0', '.', '9', 'g'};

Bytes withHeader(const Bytes& rest) {
    Bytes b = kHeader;
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

Bytes joinedBytes(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class DownloadStream : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(DownloadStream, Builds) {
    Sequence seq;
    GetParam().setUp(seq);
    EXPECT_EQ(buildDownloadStream(seq, kStamp), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DownloadStream,
    ::testing::Values(
        DownloadCase{"NoUsedFrame", [](Sequence&) {}, kHeader},
        DownloadCase{"UsedFrameWithoutChangedChannel",
                     [](Sequence& s) { s.frame(5).frameUsed = 1; }, withHeader({'F', 5})},
        DownloadCase{"FramesBeyond63NotSent",
                     [](Sequence& s) {
                         s.frame(64).frameUsed = 1;
                         s.frame(127).frameUsed = 1;
                         s.channel(64, 0).changed = 1;
                     },
                     kHeader},
        DownloadCase{"ChannelBytesHighFirstWithoutOffset",
                     [](Sequence& s) {
                         s.frame(0).frameUsed = 1;
                         auto& c = s.channel(0, 2);
                         c.changed = 1;
                         c.rate = 9;
                         c.position = 1500;
                         c.offset = 40;
                         c.pause = 65535;
                         s.frame(0).jumpTo = 3;
                     },
                     withHeader({'F', 0, 2, 9, 0x05, 0xDC, 0xFF, 0xFF})},
        DownloadCase{"AnyNonZeroChangedCounts",
                     [](Sequence& s) {
                         s.frame(63).frameUsed = 2;
                         s.channel(63, 31).changed = 2;
                         s.channel(63, 31).position = 2500;
                         s.channel(63, 31).pause = 300;
                     },
                     withHeader({'F', 63, 31, 0, 0x09, 0xC4, 0x01, 0x2C})},
        DownloadCase{"FramesAndChannelsInOrder",
                     [](Sequence& s) {
                         s.frame(7).frameUsed = 1;
                         s.frame(2).frameUsed = 1;
                         s.channel(2, 9).changed = 1;
                         s.channel(2, 1).changed = 1;
                         s.channel(2, 1).position = 500;
                     },
                     withHeader({'F', 2, 1, 0, 0x01, 0xF4, 0, 0, 9, 0, 0x05, 0xDC, 0, 0, 'F', 7})}),
    [](const auto& info) { return std::string(info.param.label); });

// A file may hold any 32-bit value. Nothing overflows (the sanitizer build
// stops on that), and the bytes are the low bits of the same arithmetic as
// for values in range: the pulse of the 64-bit sum, truncated toward zero.
TEST(ValuesAtTheLimits, GiveTheLowBitsWithoutOverflow) {
    constexpr int32_t kMax = INT32_MAX, kMin = INT32_MIN;
    struct Position {
        int32_t rate, position, offset;
        Bytes rateAndPulse;
    };
    const Position positions[] = {
        {kMax, 1500, 0, {0xFF, 0xEE, 0x02}},    {kMin, 1500, 0, {0x00, 0xEE, 0x02}},
        {0, kMax, 0, {0, 0xFF, 0xFF}},          {0, kMin, 0, {0, 0x00, 0x00}},
        {0, kMax, 50, {0, 0x18, 0x00}},         {0, kMin, -50, {0, 0xE7, 0xFF}},
        {0, kMax, kMax, {0, 0xFF, 0xFF}},       {0, kMin, kMin, {0, 0x00, 0x00}},
        {0, kMax, kMin, {0, 0x00, 0x00}},       {0, 1500, kMin, {0, 0xEE, 0x02}},
        {0, 1500, kMax, {0, 0xED, 0x02}},
    };
    for (const Position& c : positions) {
        const auto got = encodePositionCommand(31, c.rate, c.position, c.offset);
        EXPECT_EQ(Bytes(got.begin() + 4, got.begin() + 7), c.rateAndPulse)
            << c.rate << " " << c.position << " " << c.offset;
    }

    struct Download {
        ChannelSetting setting;
        Bytes channelBytes;  // rate, position high, low, pause high, low (offset is not sent)
    };
    const Download downloads[] = {
        {{kMax, kMax, kMax, kMax, 1, {}}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {{kMin, kMin, kMin, kMin, 1, {}}, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {{-1, -1, kMin, 65836, 0xFF, {}}, {0xFF, 0x00, 0xFF, 0x01, 0x2C}},
    };
    for (const Download& d : downloads) {
        Sequence seq;
        seq.frame(63).frameUsed = 0xFF;
        seq.frame(63).jumpTo = kMax;
        seq.channel(63, 0) = d.setting;
        EXPECT_EQ(buildDownloadStream(seq, kStamp), withHeader(joinedBytes({'F', 63, 0}, d.channelBytes)))
            << d.setting.position;
    }
}

TEST_F(OnSimulator, DownloadStreamReachesTheController) {
    Sequence seq;
    seq.frame(0).frameUsed = 1;
    seq.channel(0, 4) = {1200, 5, 0, 250, 1, {}};
    seq.frame(1).frameUsed = 1;
    seq.channel(1, 4) = {1800, 0, 0, 1000, 1, {}};
    seq.channel(1, 30) = {2100, 63, 0, 0, 1, {}};
    const Bytes stream = buildDownloadStream(seq, kStamp);
    ASSERT_EQ(stream.size(), 7u + 2 * 2 + 6 * 3);

    sendDownloadStream(port, seq, kStamp);
    ASSERT_TRUE(sim.waitForBytes(stream.size(), 5s));
    EXPECT_EQ(sim.receivedBytes(), stream);
    ASSERT_TRUE(sim.waitFor(
        [](const auto& events) {
            for (const auto& e : events)
                if (e.kind == sim::Event::Kind::Download) return true;
            return false;
        },
        5s));
    for (const auto& e : sim.events()) {
        if (e.kind != sim::Event::Kind::Download) continue;
        EXPECT_EQ(e.download.stamp, "0.9g");
        ASSERT_EQ(e.download.frames.size(), 2u);
        EXPECT_EQ(e.download.frames[0].frame, 0);
        ASSERT_EQ(e.download.frames[1].channels.size(), 2u);
        const auto& last = e.download.frames[1].channels[1];
        EXPECT_EQ(last.channel, 30);
        EXPECT_EQ(last.rate, 63);
        EXPECT_EQ(last.position, 2100);
        EXPECT_EQ(last.pause, 0);
    }
}

// The version query: each outcome with its status texts, colours and repaints.
class VersionQuery : public OnSimulator {
protected:
    void expectSearching() {
        ASSERT_GE(status.calls.size(), 1u);
        EXPECT_EQ(status.calls[0].text, "         Searching");
        EXPECT_EQ(status.calls[0].colour, kAqua);
        EXPECT_TRUE(status.calls[0].repaintNow);
    }
    void expectVersionText(const std::string& text) {
        ASSERT_EQ(status.calls.size(), 2u);
        expectSearching();
        EXPECT_EQ(status.calls[1].text, text);
        EXPECT_EQ(status.calls[1].colour, kLime);
        EXPECT_FALSE(status.calls[1].repaintNow);  // shown when the window next paints
    }
    RecordingStatus status;
};

TEST_F(VersionQuery, BeforeAnyPortSendsNothing) {
    EXPECT_FALSE(runVersionQuery(port, -1, status));
    ASSERT_EQ(status.calls.size(), 1u);
    EXPECT_EQ(status.calls[0].text, "    Choose port");
    EXPECT_EQ(status.calls[0].colour, std::nullopt);
    EXPECT_FALSE(status.calls[0].repaintNow);
    ASSERT_TRUE(port.SendByte('.', 150));  // a marker: it must be the first byte seen
    ASSERT_TRUE(sim.waitForBytes(1, 2s));
    EXPECT_EQ(sim.receivedBytes(), Bytes{'.'});
}

TEST_F(VersionQuery, NothingAnswers) {
    sim.setSilent(true);
    EXPECT_FALSE(runVersionQuery(port, 1, status));
    ASSERT_EQ(status.calls.size(), 2u);
    expectSearching();
    EXPECT_EQ(status.calls[1].text, "    KDX not found ");
    EXPECT_EQ(status.calls[1].colour, std::nullopt);  // stays aqua
    EXPECT_TRUE(status.calls[1].repaintNow);
}

TEST_F(VersionQuery, FullReply) {
    EXPECT_TRUE(runVersionQuery(port, 1, status));
    expectVersionText("      Version: 1.4");
    const Bytes sent = sim.receivedBytes();
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "U!SCVER?\r");
}

TEST_F(VersionQuery, OnlyTheEchoedQueryComesBack) {
    sim.setVersion("");
    EXPECT_TRUE(runVersionQuery(port, 1, status));
    expectVersionText("      Version: ...");
}

TEST_F(VersionQuery, ZeroByteCutsTheText) {
    sim.setVersion(std::string("1\0" "4", 3));
    EXPECT_TRUE(runVersionQuery(port, 1, status));
    expectVersionText("      Version: 1");
}

}  // namespace
