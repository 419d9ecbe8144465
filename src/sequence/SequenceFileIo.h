// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The platform's part of the sequence file (SequenceFile_posix.cpp,
// SequenceFile_win.cpp): reading the start of a file and replacing it.
// Results are 0 on success, else the system's own error number (errno, or
// GetLastError on Windows); a name that is no regular file (a folder, FIFO,
// device or socket) gives the system's "access denied".

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sequence_file_io {

// Fills buffer from the start of the regular file at path; got tells how
// many bytes the file had for it (fewer only where the file ends). Opens the
// file for reading only and never waits on it.
int readStart(const std::string& path, std::span<uint8_t> buffer, std::size_t& got);

// Makes the regular file at path begin with head and keeps its bytes beyond
// head.size(); a name that does not exist gets a new file. All or nothing
// (on failure the file is as it was and nothing new is left behind), except
// for a writable file in a folder that takes no new file: that one is
// rewritten in place, and a failure part-way leaves part of head in it.
int replaceStart(const std::string& path, std::span<const uint8_t> head);

// Makes the regular file at path hold exactly content, by the same way as
// replaceStart (a new file beside it, synced, renamed over it; links and
// permission bits kept), but with no rewrite in place: on any failure the
// old file is left as it was and nothing new is left behind.
int replaceWhole(const std::string& path, std::span<const uint8_t> content);

// Called once at program start: a save beyond the process's file size limit
// then fails with "file too large" (reported as a full disk) instead of
// ending the program with the unsaved sequence in it.
void prepareProcessForSaving();

// How the user is told about an error number on path.
enum class ErrorKind { notFound, invalidName, tooManyFiles, accessDenied, diskFull, other };
ErrorKind kindOf(int err, const std::string& path);

}  // namespace sequence_file_io
