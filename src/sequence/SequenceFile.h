// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sequence file: a raw copy of bytes 0..16383 of the sequence image, with
// no header and nothing validated on loading. It holds frames 0..20 whole and
// the first 88 bytes of frame 21.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sequence/Sequence.h"

inline constexpr std::size_t kFileBlockSize = 128;
inline constexpr std::size_t kFileBlockCount = 128;
inline constexpr std::size_t kSequenceFileSize = kFileBlockSize * kFileBlockCount;  // 16384
// Frames from here on are not (wholly) in the file; frame 21 keeps only its
// channels 0..2 and channel 3's four values.
inline constexpr int kFirstFrameNotInFile = static_cast<int>(kSequenceFileSize / sizeof(Frame));
// The version stamp lies in the spare bytes of frame 0, channel 0.
inline constexpr std::size_t kStampOffset = 17;

// What the file dialogs use: the extension a name typed without one gets,
// and the names each dialog proposes first. The dialogs list the files whose
// extension is this one in any letter case (matchesSequenceFilter).
inline constexpr const char* kSequenceFileExtension = "KDX";
inline constexpr const char* kOpenDialogInitialName = "*.KDX";
inline constexpr const char* kSaveDialogInitialName = "Untitled.KDX";

// The outcome of a file operation: empty on success, else the message for
// the user's error box, full stop included ("Disk full.").
struct FileResult {
    std::string error;
    bool ok() const { return error.empty(); }
    explicit operator bool() const { return ok(); }
};

// Whether a file (or anything else) of this name exists. Only a name that
// plainly is not there counts as missing; a name that cannot be examined
// counts as present, so that opening it reports why.
bool sequenceFileExists(const std::string& path);

// Writes image bytes 0..16383, with stamp in bytes 17..21, as the start of
// the file; a longer file keeps its bytes beyond 16383, a missing one is
// created. Only regular files are written: anything else (a folder, FIFO,
// device or socket) fails as "File access denied." without waiting. The new
// file is written whole beside the old one and then takes its place, so a
// failed save leaves the old file as it was and nothing new behind; links to
// it are kept, and so are its permission bits. One exception: where the
// folder takes no new file (or lets only its owner replace one) but the file
// itself may be written, its start is rewritten in place, and a failure
// part-way through that leaves part of the new data in it. The stamp is
// copied into memory only when the save succeeded.
FileResult saveSequenceFile(const std::string& path, Sequence& sequence,
                            const std::array<uint8_t, 5>& stamp);

// Reads the first 16384 bytes of the file (which needs only read access)
// into image bytes 0..16383; image bytes 16384 and later are kept. Only
// regular files are read, without waiting. On any failure the sequence is
// left exactly as it was.
FileResult loadSequenceFile(const std::string& path, Sequence& sequence);

// The message for a failed system call on path: the system's error number
// onto the kinds the user sees ("File not found.", "Invalid filename.", ...,
// "I/O error N.").
std::string fileErrorMessage(int err, const std::string& path);

// A name typed without an extension gets ".KDX"; any other name is kept.
std::string withDefaultExtension(const std::string& name);

// The name a question shows for the sequence file at path: the name without
// its folder, or "Untitled" when there is none.
std::string sequenceDisplayName(const std::string& path);

// Whether a file name passes the "*.KDX" filter, in any letter case.
bool matchesSequenceFilter(std::string_view name);

// The highest frame from kFirstFrameNotInFile on that holds a recording, or
// -1 when there is none: the part of a recording that a save loses.
int highestUsedFrameNotInFile(const Sequence& sequence);
