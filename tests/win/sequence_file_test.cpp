// SPDX-License-Identifier: GPL-3.0-or-later
// Sequence files through the Windows file calls, on the real file system:
// saving whole or over a longer file, loading, and names that are no file.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "sequence/Sequence.h"
#include "sequence/SequenceFile.h"

namespace {

const std::array<uint8_t, 5> kStamp{'0', '.', '9', 'g', ' '};

Sequence recorded() {
    Sequence s;
    s.frame(3).channels[7].position = 1234;
    s.frame(3).frameUsed = 1;
    s.frame(20).jumpTo = 5;
    return s;
}

std::vector<uint8_t> expectedFile(const Sequence& s) {
    std::vector<uint8_t> bytes(s.image().begin(), s.image().begin() + kSequenceFileSize);
    std::copy(kStamp.begin(), kStamp.end(), bytes.begin() + kStampOffset);
    return bytes;
}

TEST(WinSequenceFile, SaveWritesTheImageAndLoadReadsItBack) {
    TempFolder dir;
    Sequence s = recorded();
    ASSERT_TRUE(saveSequenceFile(dir.file("A.KDX"), s, kStamp).ok());
    EXPECT_EQ(readWholeFile(dir.file("A.KDX")), expectedFile(s));
    // Only the file itself is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    Sequence loaded;
    ASSERT_TRUE(loadSequenceFile(dir.file("A.KDX"), loaded).ok());
    EXPECT_EQ(loaded.frame(3).channels[7].position, 1234);
    EXPECT_EQ(loaded.frame(20).jumpTo, 5);
}

TEST(WinSequenceFile, SavingOverALongerFileKeepsItsTail) {
    TempFolder dir;
    std::vector<uint8_t> old(kSequenceFileSize + 1000, 0x5A);
    old.back() = 0x77;
    writeWholeFile(dir.file("B.KDX"), old);
    Sequence s = recorded();
    ASSERT_TRUE(saveSequenceFile(dir.file("B.KDX"), s, kStamp).ok());
    const auto now = readWholeFile(dir.file("B.KDX"));
    ASSERT_EQ(now.size(), old.size());
    EXPECT_TRUE(std::equal(now.begin(), now.begin() + kSequenceFileSize, expectedFile(s).begin()));
    EXPECT_TRUE(std::equal(now.begin() + kSequenceFileSize, now.end(), old.begin() + kSequenceFileSize));
}

TEST(WinSequenceFile, ShortFileLoadsNothing) {
    TempFolder dir;
    writeWholeFile(dir.file("S.KDX"), std::vector<uint8_t>(100, 1));
    Sequence s = recorded();
    EXPECT_EQ(loadSequenceFile(dir.file("S.KDX"), s).error, "Read beyond end of file.");
    EXPECT_EQ(s.frame(3).channels[7].position, 1234);
}

TEST(WinSequenceFile, NamesThatAreNoFile) {
    TempFolder dir;
    Sequence s;
    EXPECT_FALSE(sequenceFileExists(dir.file("missing.KDX")));
    EXPECT_EQ(loadSequenceFile(dir.file("missing.KDX"), s).error, "File not found.");
    // A folder, and a device name in any folder with any extension.
    std::filesystem::create_directory(dir.path() / "F.KDX");
    EXPECT_EQ(loadSequenceFile(dir.file("F.KDX"), s).error, "File access denied.");
    EXPECT_EQ(saveSequenceFile(dir.file("F.KDX"), s, kStamp).error, "File access denied.");
    EXPECT_EQ(saveSequenceFile(dir.file("com1.kdx"), s, kStamp).error, "File access denied.");
    EXPECT_EQ(loadSequenceFile(dir.file("NUL.KDX"), s).error, "File access denied.");
}

}  // namespace
