// SPDX-License-Identifier: GPL-3.0-or-later
// The sequence record: defaults, byte layout, whole-frame copies and resets.

#include <gtest/gtest.h>

#include <cstring>

#include "sequence/Sequence.h"

namespace {

int32_t readInt32(std::span<const uint8_t> image, size_t at) {
    return static_cast<int32_t>(image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
                                static_cast<uint32_t>(image[at + 3]) << 24);
}

TEST(Sequence, StartsWithEveryFrameAtItsDefaults) {
    auto seq = std::make_unique<Sequence>();
    for (int f = 0; f < kFrameCount; ++f) {
        const Frame& fr = seq->frame(f);
        EXPECT_EQ(fr.jumpTo, -1);
        EXPECT_EQ(fr.frameUsed, 0);
        for (int c = 0; c < kChannelCount; ++c) {
            const ChannelSetting& s = fr.channels[c];
            ASSERT_EQ(s.position, 1500);
            ASSERT_EQ(s.rate, 0);
            ASSERT_EQ(s.offset, 0);
            ASSERT_EQ(s.pause, 0);
            ASSERT_EQ(s.changed, 0);
        }
    }
    // Spare bytes and padding are zero.
    EXPECT_EQ(seq->image()[17], 0);
    EXPECT_EQ(seq->image()[773], 0);
}

TEST(Sequence, ImageIsLittleEndianAtTheFixedOffsets) {
    auto seq = std::make_unique<Sequence>();
    EXPECT_EQ(seq->image().size(), 99328u);
    seq->channel(5, 7).position = 0x01020304;
    seq->channel(5, 7).pause = 65535;
    seq->channel(5, 7).changed = 1;
    seq->frame(5).jumpTo = 7;
    seq->frame(5).frameUsed = 1;
    seq->channel(127, 31).offset = -50;
    auto img = seq->image();
    const size_t base = 5 * 776 + 7 * 24;
    EXPECT_EQ(img[base], 0x04);
    EXPECT_EQ(img[base + 3], 0x01);
    EXPECT_EQ(readInt32(img, base + 12), 65535);
    EXPECT_EQ(img[base + 16], 1);
    EXPECT_EQ(readInt32(img, 5 * 776 + 768), 7);
    EXPECT_EQ(img[5 * 776 + 772], 1);
    EXPECT_EQ(readInt32(img, 127 * 776 + 31 * 24 + 8), -50);
    EXPECT_EQ(127 * 776 + 775, 99327);  // frame 127 ends the image
    EXPECT_EQ(readInt32(img, 0), 1500);
}

TEST(Sequence, FrameCopyCarriesEveryByte) {
    auto seq = std::make_unique<Sequence>();
    Frame& src = seq->frame(3);
    src.channels[2].position = 2100;
    src.channels[2].spare[4] = 0xAB;
    src.jumpTo = 9;
    src.frameUsed = 2;
    src.padding[1] = 0xCD;
    seq->copyFrame(3, 120);
    EXPECT_EQ(std::memcmp(&seq->frame(3), &seq->frame(120), sizeof(Frame)), 0);
}

TEST(Sequence, ChannelResetKeepsJumpUsedSpareAndPadding) {
    auto seq = std::make_unique<Sequence>();
    Frame& f = seq->frame(127);
    for (ChannelSetting& c : f.channels) {
        c = {2000, 5, 10, 300, 1, {1, 2, 3, 4, 5, 6, 7}};
    }
    f.jumpTo = 4;
    f.frameUsed = 1;
    f.padding[0] = 9;
    seq->resetChannels(127);
    for (const ChannelSetting& c : f.channels) {
        EXPECT_EQ(c.position, 1500);
        EXPECT_EQ(c.rate, 0);
        EXPECT_EQ(c.offset, 0);
        EXPECT_EQ(c.pause, 0);
        EXPECT_EQ(c.changed, 0);
        EXPECT_EQ(c.spare[6], 7);
    }
    EXPECT_EQ(f.jumpTo, 4);
    EXPECT_EQ(f.frameUsed, 1);
    EXPECT_EQ(f.padding[0], 9);
}

TEST(Sequence, IndexRangesAreGuarded) {
    EXPECT_TRUE(Sequence::validFrame(0));
    EXPECT_TRUE(Sequence::validFrame(127));
    EXPECT_FALSE(Sequence::validFrame(128));
    EXPECT_FALSE(Sequence::validFrame(-1));
    EXPECT_FALSE(Sequence::validChannel(32));
    auto seq = std::make_unique<Sequence>();
    EXPECT_DEATH(seq->frame(128), "");
}

TEST(EditorState, StartsAsAFreshEditor) {
    EditorState s;
    EXPECT_EQ(s.currentFrame, 0);
    EXPECT_EQ(s.lastFrame, 0);
    EXPECT_FALSE(s.playing);
    EXPECT_FALSE(s.paused);
    EXPECT_FALSE(s.typingPosition);
    EXPECT_EQ(s.portStatus, -1);
    EXPECT_EQ(std::string(s.versionStamp.begin(), s.versionStamp.end()), "0.9g ");
}

}  // namespace
