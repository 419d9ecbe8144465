// SPDX-License-Identifier: GPL-3.0-or-later
// The undo history's snapshots: what counts as the saved sequence, and the
// frames a snapshot shares with the one before.

#include <gtest/gtest.h>

#include <memory>

#include "editor/EditHistory.h"
#include "sequence/SequenceFile.h"

namespace {

TEST(EditorSnapshot, EveryByteCountsAgainstTheSavedSequenceButTheVersionStamp) {
    EditHistory history;
    auto seq = std::make_unique<Sequence>();
    const SnapshotPtr saved = history.snapshot(*seq, {}, 0, 0);
    ASSERT_TRUE(saved->sameSequenceBesidesStamp(*seq));
    // Every byte of frame 0, where the stamp lies, and the ends of the others.
    std::vector<std::size_t> bytes;
    for (std::size_t k = 0; k < sizeof(Frame); ++k) bytes.push_back(k);
    for (int f : {1, 64, kFrameCount - 1}) {
        bytes.push_back(f * sizeof(Frame));
        bytes.push_back((f + 1) * sizeof(Frame) - 1);
    }
    for (std::size_t k : bytes) {
        seq->image()[k] ^= 0x5A;
        const bool stamp = k >= kStampOffset && k < kStampOffset + 5;
        EXPECT_EQ(saved->sameSequenceBesidesStamp(*seq), stamp) << "byte " << k;
        seq->image()[k] ^= 0x5A;
    }
}

TEST(EditorSnapshot, SharesTheFramesThatInsertAndDeleteMove) {
    EditHistory history;
    auto seq = std::make_unique<Sequence>();
    for (int f = 0; f < kFrameCount; ++f) seq->channel(f, 0).position = 500 + 2 * f;
    const SnapshotPtr before = history.snapshot(*seq, {}, 5, 10);

    for (int k = kFrameCount - 2; k >= 5; --k) seq->copyFrame(k, k + 1);  // Insert at 5
    seq->channel(5, 1).rate = 9;
    const SnapshotPtr inserted = history.snapshot(*seq, {}, 5, 10);
    for (int f = 0; f < 5; ++f) EXPECT_EQ(inserted->frames[f], before->frames[f]) << f;
    EXPECT_NE(inserted->frames[5], before->frames[5]);
    for (int f = 6; f < kFrameCount; ++f) EXPECT_EQ(inserted->frames[f], before->frames[f - 1]) << f;

    for (int k = 5; k <= kFrameCount - 2; ++k) seq->copyFrame(k + 1, k);  // Delete at 5
    const SnapshotPtr deleted = history.snapshot(*seq, {}, 5, 10);
    for (int f = 5; f < kFrameCount - 1; ++f) EXPECT_EQ(deleted->frames[f], inserted->frames[f + 1]) << f;
    EXPECT_TRUE(deleted->sameFrames(*deleted));
    EXPECT_FALSE(deleted->sameFrames(*inserted));

    auto back = std::make_unique<Sequence>();
    deleted->copyInto(*back);
    EXPECT_TRUE(std::equal(back->image().begin(), back->image().end(), seq->image().begin()));
}

TEST(EditorSnapshot, EqualFramesOfTheFirstSnapshotShareOneCopy) {
    EditHistory history;
    auto seq = std::make_unique<Sequence>();
    seq->frame(0).frameUsed = 1;
    const SnapshotPtr s = history.snapshot(*seq, {}, 0, 0);
    EXPECT_NE(s->frames[1], s->frames[0]);
    for (int f = 2; f < kFrameCount; ++f) EXPECT_EQ(s->frames[f], s->frames[1]) << f;
    EditHistory fresh;
    const SnapshotPtr defaults = fresh.snapshot(Sequence(), {}, 0, 0);
    for (int f = 1; f < kFrameCount; ++f) EXPECT_EQ(defaults->frames[f], defaults->frames[0]) << f;
}

TEST(EditorSnapshot, TheSameStateIsTheSameFramesStripsAndIndices) {
    EditHistory history;
    auto seq = std::make_unique<Sequence>();
    StripStates strips{};
    const SnapshotPtr a = history.snapshot(*seq, strips, 3, 7);
    EXPECT_TRUE(history.snapshot(*seq, strips, 3, 7)->sameState(*a));
    EditHistory other;  // frames equal byte for byte, not shared
    EXPECT_TRUE(other.snapshot(*seq, strips, 3, 7)->sameState(*a));
    EXPECT_FALSE(history.snapshot(*seq, strips, 4, 7)->sameState(*a));
    EXPECT_FALSE(history.snapshot(*seq, strips, 3, 6)->sameState(*a));
    strips[31].changedMark = true;
    EXPECT_FALSE(history.snapshot(*seq, strips, 3, 7)->sameState(*a));
    strips[31].changedMark = false;
    seq->frame(127).padding[2] = 1;
    EXPECT_FALSE(history.snapshot(*seq, strips, 3, 7)->sameState(*a));
}

}  // namespace
