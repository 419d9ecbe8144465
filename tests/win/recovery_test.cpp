// SPDX-License-Identifier: GPL-3.0-or-later
// Recovery copies through the Windows file calls, on the real file system:
// a copy whose program holds it is not offered elsewhere, one left behind
// is offered whole, adopted, removed; an unreadable one is moved aside; the
// folder is under the local application data.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "TempFolder.h"
#include "editor/RecoveryCopy.h"
#include "editor/RecoveryStore.h"

namespace fs = std::filesystem;

namespace {

RecoveryCopy sampleCopy(uint8_t fill, const std::string& name) {
    RecoveryCopy c;
    for (std::size_t k = 0; k < c.sequence.image().size(); ++k) c.sequence.image()[k] = static_cast<uint8_t>(k * 7 + fill);
    c.strips[31] = {2500, 63, -50, 65535, true};
    c.currentFrame = 127;
    c.lastFrame = 90;
    c.fileName = name;
    c.savedAt = 1700000000;
    return c;
}

std::size_t filesIn(const fs::path& folder, const std::string& extension) {
    return static_cast<std::size_t>(std::count_if(fs::directory_iterator(folder), fs::directory_iterator(), [&](const auto& e) {
        return extension.empty() || e.path().extension() == extension;
    }));
}

}  // namespace

TEST(WinRecoveryStore, ACopyIsOfferedOnlyWhenItsProgramHasLetGoOfIt) {
    TempFolder dir;
    const RecoveryCopy written = sampleCopy(3, "C:\\shows\\Dance.KDX");
    auto owner = std::make_unique<RecoveryStore>(dir.path());
    ASSERT_TRUE(owner->write(written).ok());

    RecoveryStore next(dir.path());
    EXPECT_TRUE(next.findLeftCopies().copies.empty());
    owner.reset();  // ended without removing its copy

    LeftCopies left = next.findLeftCopies();
    ASSERT_EQ(left.copies.size(), 1u);
    const RecoveryCopy& got = left.copies[0].copy;
    EXPECT_TRUE(std::equal(got.sequence.image().begin(), got.sequence.image().end(), written.sequence.image().begin()));
    EXPECT_EQ(got.strips, written.strips);
    EXPECT_EQ(got.fileName, written.fileName);
    EXPECT_EQ(got.currentFrame, 127);
    EXPECT_EQ(RecoveryStore(dir.path()).findLeftCopies().copies.size(), 0u) << "offered twice";

    ASSERT_TRUE(next.adopt(left.copies[0].id).ok());
    std::optional<RecoveryCopy> own = decodeRecoveryCopy(readWholeFile(next.copyPath().string()));
    ASSERT_TRUE(own);
    EXPECT_EQ(own->fileName, written.fileName);
    next.remove();
    EXPECT_EQ(filesIn(dir.path(), ".recovery"), 0u);
}

TEST(WinRecoveryStore, AnUnreadableCopyIsMovedAside) {
    TempFolder dir;
    writeWholeFile(dir.file("77-0.recovery"), std::vector<uint8_t>(100, 0));
    RecoveryStore store(dir.path());
    LeftCopies left = store.findLeftCopies();
    EXPECT_TRUE(left.copies.empty());
    EXPECT_EQ(left.messages.size(), 1u);
    EXPECT_TRUE(fs::exists(dir.path() / "77-0.unreadable"));
    EXPECT_EQ(filesIn(dir.path(), ""), 1u) << "no lock file left behind";
}

TEST(WinRecoveryStore, TheFolderIsUnderTheLocalApplicationData) {
    TempFolder dir;
    SetEnvironmentVariableW(L"LOCALAPPDATA", dir.path().c_str());
    EXPECT_EQ(RecoveryStore::defaultFolder(), dir.path() / "kdx-interface");
    RecoveryStore store(RecoveryStore::defaultFolder());
    ASSERT_TRUE(store.write(sampleCopy(1, "")).ok());
    EXPECT_TRUE(fs::exists(dir.path() / "kdx-interface" / store.copyPath().filename()));
    store.remove();
}
