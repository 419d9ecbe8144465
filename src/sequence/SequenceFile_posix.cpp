// SPDX-License-Identifier: GPL-3.0-or-later
// Sequence files on POSIX systems. Only regular files are read or written,
// and nothing waits on a FIFO or a device. A save writes a new file beside
// the old one and renames it over the old, so that a failure, wherever it
// comes, leaves the old file as it was.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "sequence/SequenceFileIo.h"

namespace fs = std::filesystem;

namespace sequence_file_io {
namespace {

// The system's own limit on links followed in one name.
constexpr int kMaxLinks = 40;

// Closes its descriptor when it goes (-1, from a failed open: nothing).
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { ::close(fd_); }
    int get() const { return fd_; }

private:
    int fd_;
};

// How every file is opened: without waiting (a FIFO's open waits for the
// other end), and without taking a terminal as the controlling one.
constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Only regular files are read or written; anything else is refused with
// EACCES. What can be seen not to be one is refused before it is opened:
// opening a device acts on it (a serial line raises its control lines), and
// a socket cannot be opened at all.
int refuseUnlessRegular(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? EACCES : 0;
}

// What was opened is checked again, as the name may have been swapped in
// between; st then describes it.
int checkOpened(const Descriptor& file, struct stat& st) {
    if (file.get() == -1) return errno;
    if (::fstat(file.get(), &st) != 0) return errno;
    return S_ISREG(st.st_mode) ? 0 : EACCES;
}

// Fills buffer from index got on with the file's bytes from offset + got on,
// until it is full or the file ends; got then counts the bytes in buffer. No
// signal interrupts reads and writes of regular files.
int readAt(int fd, std::span<uint8_t> buffer, off_t offset, std::size_t& got) {
    while (got != buffer.size()) {
        ssize_t n = ::pread(fd, buffer.data() + got, buffer.size() - got, offset + static_cast<off_t>(got));
        if (n == 0) break;
        if (n == -1) return errno;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

int writeAt(int fd, std::span<const uint8_t> bytes, off_t offset) {
    std::size_t done = 0;
    while (done != bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
        if (n == -1) return errno;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Copies what from holds beyond offset to the same place in to, in chunks
// of chunk's size.
int copyTail(int from, int to, off_t offset, std::vector<uint8_t>& chunk) {
    for (;;) {
        std::size_t got = 0;
        if (int err = readAt(from, chunk, offset, got)) return err;
        if (int err = writeAt(to, std::span(chunk).first(got), offset)) return err;
        if (got != chunk.size()) return 0;
        offset += static_cast<off_t>(got);
    }
}

// The name that name leads to through symbolic links: a save replaces that
// file and keeps the links. A link that leads nowhere yet is followed too,
// so that the new file is made where it points.
int finalName(const std::string& name, std::string& target) {
    target = name;
    for (int hops = 0;; ++hops) {
        std::error_code notALink;
        fs::path next = fs::read_symlink(target, notALink);
        if (notALink) return 0;
        if (hops == kMaxLinks) return ELOOP;
        target = (fs::path(target).parent_path() / next).string();
    }
}

// A name in folder that nobody uses, for the new file.
std::string tempNameIn(const fs::path& folder) {
    std::random_device random;
    return (folder / (".kdx-save-" + std::to_string(random()) + std::to_string(random()))).string();
}

// Writes the new file whole: head, then (keepTail) the old file's bytes
// beyond it, with the old file's owner (where the process may give the file
// away) and permission bits; then syncs it. (Once synced, closing it reports
// nothing.)
int fillTemp(const Descriptor& temp, const Descriptor* old, const struct stat& st,
             std::span<const uint8_t> head, bool keepTail) {
    if (int err = writeAt(temp.get(), head, 0)) return err;
    if (old) {
        std::ignore = ::fchown(temp.get(), st.st_uid, st.st_gid);
        if (::fchmod(temp.get(), st.st_mode & 07777) != 0) return errno;
        if (keepTail) {
            std::vector<uint8_t> chunk(head.size());
            if (int err = copyTail(old->get(), temp.get(), static_cast<off_t>(head.size()), chunk)) return err;
        }
    }
    return ::fsync(temp.get()) == 0 ? 0 : errno;
}

// Makes the rename last. Best effort: where a folder cannot be synced (or
// opened for it), the file is saved all the same.
void syncFolder(const fs::path& folder) {
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::ignore = ::fsync(dir.get());
}

// The file's start overwritten where it is, for a folder that takes no new
// file; a failure half-way leaves part of the new data.
int rewriteInPlace(const Descriptor& file, std::span<const uint8_t> head) {
    if (int err = writeAt(file.get(), head, 0)) return err;
    return ::fsync(file.get()) == 0 ? 0 : errno;
}

bool parentFolderExists(const std::string& path) {
    fs::path parent = fs::path(path).parent_path() / ".";
    std::error_code ec;
    return fs::is_directory(parent, ec);
}

}  // namespace

int readStart(const std::string& path, std::span<uint8_t> buffer, std::size_t& got) {
    if (int err = refuseUnlessRegular(path)) return err;
    Descriptor file(::open(path.c_str(), O_RDONLY | kOpenFlags));
    struct stat st {};
    if (int err = checkOpened(file, st)) return err;
    return readAt(file.get(), buffer, 0, got);
}

namespace {

int replace(const std::string& path, std::span<const uint8_t> head, bool keepTail) {
    std::string target;
    if (int err = finalName(path, target)) return err;
    if (int err = refuseUnlessRegular(target)) return err;
    // Opening for writing is the test that the file may be written: a
    // read-only file is refused, though its folder would let it be replaced.
    Descriptor old(::open(target.c_str(), O_RDWR | kOpenFlags));
    struct stat st {};
    int err = checkOpened(old, st);
    if (err != 0 && err != ENOENT) return err;
    const bool exists = err == 0;

    // Beside the file, so that the rename stays within one file system. Until
    // it has the old file's permission bits, only the owner may read it; a
    // new file gets what any new file gets here (read-write less the umask).
    const fs::path folder = fs::path(target).parent_path() / ".";
    const std::string tempName = tempNameIn(folder);
    const mode_t mode = exists ? S_IRUSR | S_IWUSR
                               : S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
    Descriptor temp(::open(tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, mode));
    err = temp.get() == -1 ? errno : 0;
    if (err == 0) {
        err = fillTemp(temp, exists ? &old : nullptr, st, head, keepTail);
        if (err == 0 && ::rename(tempName.c_str(), target.c_str()) != 0) err = errno;
        if (err == 0) {
            syncFolder(folder);
            return 0;
        }
        ::unlink(tempName.c_str());
    }
    // A folder that takes no new file, or lets only the owner replace one,
    // still lets a writable file be rewritten.
    if (keepTail && exists && (err == EACCES || err == EPERM)) return rewriteInPlace(old, head);
    return err;
}

}  // namespace

int replaceStart(const std::string& path, std::span<const uint8_t> head) { return replace(path, head, true); }

int replaceWhole(const std::string& path, std::span<const uint8_t> content) {
    return replace(path, content, false);
}

void prepareProcessForSaving() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

ErrorKind kindOf(int err, const std::string& path) {
    switch (err) {
    case ENOENT:
        // A missing folder on the way makes the name itself unusable.
        if (path.empty() || !parentFolderExists(path)) return ErrorKind::invalidName;
        return ErrorKind::notFound;
    case ENOTDIR:
    case ENAMETOOLONG:
        return ErrorKind::invalidName;
    case EMFILE:
    case ENFILE:
        return ErrorKind::tooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ErrorKind::accessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:  // past the largest file allowed: a write that stops short
        return ErrorKind::diskFull;
    default:
        return ErrorKind::other;
    }
}

}  // namespace sequence_file_io
