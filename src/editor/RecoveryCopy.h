// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recovery copy: what the editor holds that a Save has not put on disk
// yet (all 128 frames, the 32 strips, the current and last frame, the file's
// name), as plain data the editor core fills and reads back, and its bytes.
//
// The bytes: "KDXRECOV", format version, length and CRC-32 of the body, then
// the body: savedAt, currentFrame, lastFrame, each strip's position, rate,
// offset, pause and changedMark, the file name, and the whole sequence image
// (every frame with its spare bytes and padding). All numbers little-endian.
// A copy is read back only whole: a wrong marker, version, length or
// checksum, or a frame index outside 0..127, makes it unreadable.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sequence/Sequence.h"

// One strip's values as shown, and its copy of the frame's changed flag.
struct StripValues {
    int32_t position = kDefaultPosition;
    int32_t rate = 0;
    int32_t offset = 0;
    int32_t pause = 0;
    bool changedMark = false;
    bool operator==(const StripValues&) const = default;
};

struct RecoveryCopy {
    Sequence sequence;
    std::array<StripValues, kChannelCount> strips{};
    int32_t currentFrame = 0;  // 0..127
    int32_t lastFrame = 0;     // 0..127
    std::string fileName;      // the sequence file's path; empty: never saved
    int64_t savedAt = 0;       // when the copy was taken, seconds since 1970 (UTC)
};

inline constexpr uint32_t kRecoveryFormatVersion = 1;

std::vector<uint8_t> encodeRecoveryCopy(const RecoveryCopy& copy);

// The copy in bytes, or nothing when they are no whole copy of this format.
// Bytes beyond the copy's own length are ignored (the file writer keeps a
// longer file's tail).
std::optional<RecoveryCopy> decodeRecoveryCopy(std::span<const uint8_t> bytes);

// The seconds since 1970 now, for savedAt.
int64_t recoveryTimeNow();

// "Recover the unsaved sequence NAME from DATE?": NAME is the file's name
// without its folder, or "Untitled"; DATE is savedAt in local time
// ("2026-12-09 14:05").
std::string recoveryQuestion(const RecoveryCopy& copy);
