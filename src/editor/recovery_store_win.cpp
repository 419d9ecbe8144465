// SPDX-License-Identifier: GPL-3.0-or-later
// The recovery store on Windows: the local application data folder, and lock
// files held open without sharing, which the system closes (and, as they are
// opened to be deleted on close, removes) when their process ends, however
// it ends.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "editor/RecoveryStoreIo.h"

namespace fs = std::filesystem;

namespace recovery_io {

fs::path stateFolder() {
    DWORD size = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), size);
    if (length == 0 || length >= size) return {};
    value.resize(length);
    fs::path folder(value);
    if (!folder.is_absolute()) return {};
    return folder / L"kdx-interface";
}

int makeFolder(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty(); p = p.parent_path()) {
        DWORD attributes = GetFileAttributesW(p.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
            break;
        }
        DWORD err = GetLastError();
        if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) return static_cast<int>(err);
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    // A folder made under the user's profile inherits its rights: the user's only.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (!CreateDirectoryW(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return static_cast<int>(GetLastError());
    return 0;
}

uint64_t processId() { return GetCurrentProcessId(); }

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
    // No sharing but deletion: any other open of the file fails while it is held.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        // Held, or being removed by its holder (delete pending).
        if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION || err == ERROR_ACCESS_DENIED)
            return Outcome::held;
        error_ = static_cast<int>(err);
        return Outcome::failed;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    path_ = path;
    return Outcome::taken;
}

void FileLock::release() {
    if (handle_ == kNone) return;
    // Opened to be deleted on close: closing removes it.
    CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, kNone)));
}

}  // namespace recovery_io
