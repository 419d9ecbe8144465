// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The platform's part of the recovery store (recovery_store_posix.cpp,
// recovery_store_win.cpp): where the user's state folder is, making it, and
// the lock a running program holds on its own copy.

#include <cstdint>
#include <filesystem>
#include <string>

namespace recovery_io {

// The folder for this program's state: $XDG_STATE_HOME/kdx-interface or
// ~/.local/state/kdx-interface; %LOCALAPPDATA%\kdx-interface on Windows.
// Empty when the environment names no such place.
std::filesystem::path stateFolder();

// Makes folder and the missing folders above it, each missing one readable
// only by the user. 0 on success (also when it exists), else the system's
// error number.
int makeFolder(const std::filesystem::path& folder);

// This process's id.
uint64_t processId();

// A lock on a file, held by this process until released or until the
// process ends in any way (the system lets go of it then). The lock file is
// made when missing. A process holds a lock file through one FileLock: a
// second take of the same file, in this process or another, finds it held.
class FileLock {
public:
    enum class Outcome { taken, held, failed };

    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    ~FileLock() { release(); }

    // Takes the lock on the file at path without waiting; on failed, error()
    // has the system's error number.
    Outcome take(const std::filesystem::path& path);
    bool taken() const { return handle_ != kNone; }
    int error() const { return error_; }

    // Removes the lock file and lets go of the lock (nothing when none is held).
    void release();

private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
    std::filesystem::path path_;
    int error_ = 0;
};

}  // namespace recovery_io
