// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recovery copies in the user's state folder: one per running program,
// so that two windows at once keep separate copies and never take each
// other's.
//
// This program's copy is "<id>.recovery" with the lock "<id>.lock" beside
// it; id is the process id and a random part (ids are used again). The lock
// is taken before the first copy is written and held until the store ends;
// the system lets go of it when the program ends in any way, crash and kill
// included. A copy whose lock nobody holds is left over from a program no
// longer running: the store that finds it holds its lock, so that no other
// program offers it too, until it is adopted, discarded or the store ends.
//
// A copy is written as Save writes files (the same code): a new file beside
// the old, synced, then renamed over it, so a crash while writing leaves the
// previous copy; only where the folder takes no new file is the old copy
// rewritten in place, and one cut short there is moved aside as unreadable
// at the next start. Nothing here ever waits for another program. Every
// operation may be called from any thread (one at a time is made sure of
// inside); the window calls the finding and answering ones at start, the
// writer thread the writing and removing.

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "editor/RecoveryCopy.h"
#include "editor/RecoveryStoreIo.h"
#include "sequence/SequenceFile.h"

// A copy left by a program that is no longer running.
struct LeftCopy {
    std::string id;  // names it to adopt() and discard()
    RecoveryCopy copy;
};

struct LeftCopies {
    std::vector<LeftCopy> copies;  // oldest first
    // One line for every copy that could not be read and was moved aside
    // (renamed to "<id>.unreadable"), or could not even be moved.
    std::vector<std::string> messages;
};

class RecoveryStore {
public:
    // The store in folder; nothing is made on disk until the first write.
    explicit RecoveryStore(std::filesystem::path folder);
    // Lets go of every lock, removing this program's lock file; a copy not
    // removed stays for the next start to offer.
    ~RecoveryStore();
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    // The user's state folder for the copies (see RecoveryStoreIo.h); empty
    // when there is none, and every write then fails.
    static std::filesystem::path defaultFolder();

    const std::filesystem::path& folder() const { return folder_; }
    const std::string& id() const { return id_; }
    std::filesystem::path copyPath() const;

    // Replaces this program's copy, making the folder when needed. On
    // failure (a full disk) the old copy, if any, stays as it was and the
    // result says why ("Disk full.").
    FileResult write(const RecoveryCopy& copy);

    // Removes this program's copy (nothing when there is none).
    void remove();

    // The copies left by programs no longer running, each read whole; a copy
    // that cannot be read is moved aside with a message and never stops the
    // search. The copies found are held by this store from now on.
    LeftCopies findLeftCopies();

    // The left copy id becomes this program's copy (its file renamed over
    // this program's), so that it is kept until this program removes it.
    // Call before the first copy of the recovered sequence is written.
    FileResult adopt(const std::string& id);

    // Removes the left copy id.
    void discard(const std::string& id);

    // Lets go of the left copy id as it is, for a later start to offer.
    void letGo(const std::string& id);

private:
    int takeOwnLock();
    std::filesystem::path pathOf(const std::string& id, const char* extension) const;
    void releaseLeft(const std::string& id, bool removeCopy);

    std::filesystem::path folder_;
    std::string id_;
    std::mutex mutex_;
    recovery_io::FileLock ownLock_;
    std::map<std::string, recovery_io::FileLock> held_;  // left copies found, by id
};
