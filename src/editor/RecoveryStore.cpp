// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/RecoveryStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include "sequence/SequenceFileIo.h"

namespace fs = std::filesystem;
namespace io = recovery_io;

namespace {

constexpr const char* kCopyExtension = ".recovery";
constexpr const char* kLockExtension = ".lock";
constexpr const char* kAsideExtension = ".unreadable";
// A file larger than this is no copy of ours (one is about 100 kB).
constexpr std::uintmax_t kLargestCopy = 2u << 20;

std::string newId() {
    std::random_device random;
    char part[17];
    std::snprintf(part, sizeof part, "%08x%08x", static_cast<unsigned>(random()), static_cast<unsigned>(random()));
    return std::to_string(io::processId()) + "-" + part;
}

// The copy in the file, or nothing when it cannot be read whole.
std::optional<RecoveryCopy> readCopy(const fs::path& path) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kLargestCopy) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t got = 0;
    if (sequence_file_io::readStart(path.string(), bytes, got) != 0) return std::nullopt;
    bytes.resize(got);
    return decodeRecoveryCopy(bytes);
}

}  // namespace

RecoveryStore::RecoveryStore(fs::path folder) : folder_(std::move(folder)), id_(newId()) {}

RecoveryStore::~RecoveryStore() {
    std::lock_guard lock(mutex_);
    held_.clear();
    ownLock_.release();
}

fs::path RecoveryStore::defaultFolder() { return io::stateFolder(); }

fs::path RecoveryStore::pathOf(const std::string& id, const char* extension) const {
    return folder_ / (id + extension);
}

fs::path RecoveryStore::copyPath() const { return pathOf(id_, kCopyExtension); }

int RecoveryStore::takeOwnLock() {
    if (ownLock_.taken()) return 0;
    if (int err = io::makeFolder(folder_)) return err;
    switch (ownLock_.take(pathOf(id_, kLockExtension))) {
    case io::FileLock::Outcome::taken:
        return 0;
    case io::FileLock::Outcome::held:  // an id nobody else has: only an odd file system says so
        return EBUSY;
    case io::FileLock::Outcome::failed:
        break;
    }
    return ownLock_.error();
}

FileResult RecoveryStore::write(const RecoveryCopy& copy) {
    const std::vector<uint8_t> bytes = encodeRecoveryCopy(copy);
    std::lock_guard lock(mutex_);
    const std::string path = copyPath().string();
    if (folder_.empty()) return {"No folder for the recovery copy."};
    if (int err = takeOwnLock()) return {fileErrorMessage(err, path)};
    if (int err = sequence_file_io::replaceStart(path, bytes)) return {fileErrorMessage(err, path)};
    return {};
}

void RecoveryStore::remove() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    fs::remove(copyPath(), ec);
}

LeftCopies RecoveryStore::findLeftCopies() {
    std::lock_guard lock(mutex_);
    LeftCopies found;
    struct Found {
        fs::file_time_type when;
        LeftCopy left;
    };
    std::vector<Found> copies;
    std::vector<std::string> lockOnly;

    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path name = it->path();
        const std::string id = name.stem().string();
        if (id == id_ || held_.count(id) != 0) continue;
        if (name.extension() == kLockExtension) {
            lockOnly.push_back(id);
            continue;
        }
        if (name.extension() != kCopyExtension) continue;

        io::FileLock owner;
        if (owner.take(pathOf(id, kLockExtension)) != io::FileLock::Outcome::taken) continue;  // running, or busy
        std::error_code missing;
        if (!fs::exists(name, missing)) continue;  // removed by its owner meanwhile
        if (std::optional<RecoveryCopy> copy = readCopy(name)) {
            std::error_code noTime;
            copies.push_back({fs::last_write_time(name, noTime), {id, std::move(*copy)}});
            held_.emplace(id, std::move(owner));
            continue;
        }
        const fs::path aside = pathOf(id, kAsideExtension);
        std::error_code moveFailed;
        fs::rename(name, aside, moveFailed);
        if (moveFailed)
            found.messages.push_back("A recovery copy that cannot be read could not be moved aside: " +
                                     name.string());
        else
            found.messages.push_back("A recovery copy that cannot be read was moved aside: " + aside.string());
    }

    // Locks whose copy is gone (removed after a Save, then the program ended
    // without a clean exit): taking one removes it.
    for (const std::string& id : lockOnly) {
        std::error_code none;
        if (fs::exists(pathOf(id, kCopyExtension), none)) continue;
        io::FileLock stale;
        stale.take(pathOf(id, kLockExtension));
    }

    std::stable_sort(copies.begin(), copies.end(), [](const Found& a, const Found& b) { return a.when < b.when; });
    for (Found& f : copies) found.copies.push_back(std::move(f.left));
    return found;
}

FileResult RecoveryStore::adopt(const std::string& id) {
    std::lock_guard lock(mutex_);
    const std::string own = copyPath().string();
    if (held_.count(id) == 0) return {"No such recovery copy."};
    if (int err = takeOwnLock()) return {fileErrorMessage(err, own)};
    std::error_code ec;
    fs::rename(pathOf(id, kCopyExtension), copyPath(), ec);
    if (ec) return {fileErrorMessage(ec.value(), own)};
    releaseLeft(id, false);
    return {};
}

void RecoveryStore::discard(const std::string& id) {
    std::lock_guard lock(mutex_);
    if (held_.count(id) != 0) releaseLeft(id, true);
}

void RecoveryStore::letGo(const std::string& id) {
    std::lock_guard lock(mutex_);
    if (held_.count(id) != 0) releaseLeft(id, false);
}

void RecoveryStore::releaseLeft(const std::string& id, bool removeCopy) {
    if (removeCopy) {
        std::error_code ec;
        fs::remove(pathOf(id, kCopyExtension), ec);
    }
    held_.erase(id);  // removes the lock file and lets go
}
