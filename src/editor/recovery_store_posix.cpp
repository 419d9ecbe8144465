// SPDX-License-Identifier: GPL-3.0-or-later
// The recovery store on POSIX systems: the XDG state folder, and whole-file
// locks (flock) that the kernel drops when their process ends, however it
// ends; a process id alone could not tell, as ids are used again.

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "editor/RecoveryStoreIo.h"

namespace fs = std::filesystem;

namespace recovery_io {

fs::path stateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    // Only an absolute name counts; anything else is as if unset.
    if (state && state[0] == '/') return fs::path(state) / "kdx-interface";
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || home[0] != '/') return {};
    return fs::path(home) / ".local" / "state" / "kdx-interface";
}

int makeFolder(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty(); p = p.parent_path()) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return ENOTDIR;
            break;
        }
        if (errno != ENOENT) return errno;
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (::mkdir(it->c_str(), S_IRWXU) != 0 && errno != EEXIST) return errno;
    return 0;
}

uint64_t processId() { return static_cast<uint64_t>(::getpid()); }

FileLock::FileLock(FileLock&& other) noexcept
    : handle_(std::exchange(other.handle_, kNone)), path_(std::move(other.path_)), error_(other.error_) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, kNone);
        path_ = std::move(other.path_);
        error_ = other.error_;
    }
    return *this;
}

FileLock::Outcome FileLock::take(const fs::path& path) {
    release();
    error_ = 0;
    // A holder that lets go removes the file first: a lock won on a file no
    // longer under this name is worth nothing, and the name is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, S_IRUSR | S_IWUSR);
        if (fd == -1) {
            error_ = errno;
            return Outcome::failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) return Outcome::held;
            error_ = err;
            return Outcome::failed;
        }
        struct stat mine {}, named {};
        if (::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
            mine.st_ino == named.st_ino) {
            handle_ = fd;
            path_ = path;
            return Outcome::taken;
        }
        ::close(fd);
    }
    return Outcome::held;
}

void FileLock::release() {
    if (handle_ == kNone) return;
    // Removed while still held, so that nobody takes the name meanwhile.
    ::unlink(path_.c_str());
    ::close(static_cast<int>(std::exchange(handle_, kNone)));
}

}  // namespace recovery_io
