// SPDX-License-Identifier: GPL-3.0-or-later
// Sequence files on Windows. Only files on disk are read or written (no
// folder, no device such as NUL or COM1, no pipe), and nothing waits on
// them. A save writes a new file beside the old one and then replaces the
// old with it, so that a failure leaves the old file as it was.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sequence/SequenceFileIo.h"

namespace sequence_file_io {
namespace {

// The file dialogs and the command line hand over names in the ANSI code page.
std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// ERROR_DISK_QUOTA_EXCEEDED, which not every set of headers names.
constexpr int kDiskQuotaExceeded = 1295;

int lastError() { return static_cast<int>(GetLastError()); }

// Closes its handle when it goes.
class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    // Only on one that holds none.
    void adopt(HANDLE h) { h_ = h; }
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    void close() {
        if (valid()) CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE));
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Names that Windows keeps for devices in every folder and with any
// extension ("COM1.KDX" is the first serial port), and the device namespace.
bool isDeviceName(const std::wstring& path) {
    if (path.rfind(L"\\\\.\\", 0) == 0) return true;
    std::size_t slash = path.find_last_of(L"\\/:");
    std::wstring base = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    base = base.substr(0, base.find(L'.'));
    while (!base.empty() && (base.back() == L' ' || base.back() == L'\t')) base.pop_back();
    for (wchar_t& ch : base) ch = static_cast<wchar_t>(std::towupper(ch));
    for (const wchar_t* name : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (base == name) return true;
    if (base.size() != 4 || (base.rfind(L"COM", 0) != 0 && base.rfind(L"LPT", 0) != 0)) return false;
    wchar_t digit = base[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

// Opens name with the given access when it is a file on disk, and refuses
// anything else with ERROR_ACCESS_DENIED. Device names are refused before
// they are opened, as opening a device acts on it (a serial line raises its
// control lines); what was opened is checked again.
int openRegular(const std::wstring& name, DWORD access, DWORD share, Handle& file) {
    if (isDeviceName(name)) return ERROR_ACCESS_DENIED;
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return ERROR_ACCESS_DENIED;
    file.adopt(CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return lastError();
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return ERROR_ACCESS_DENIED;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info)) return lastError();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_ACCESS_DENIED;
    return 0;
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// One transfer asks for at most this much, as ReadFile and WriteFile count in
// 32 bits.
DWORD portion(std::size_t left) { return static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30)); }

// Reads from offset on until buffer is full or the file ends; got counts
// what was read.
int readAt(HANDLE file, std::span<uint8_t> buffer, std::uint64_t offset, std::size_t& got) {
    got = 0;
    while (got != buffer.size()) {
        OVERLAPPED where = at(offset + got);
        DWORD n = 0;
        if (!ReadFile(file, buffer.data() + got, portion(buffer.size() - got), &n, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return lastError();
        }
        if (n == 0) break;
        got += n;
    }
    return 0;
}

int writeAt(HANDLE file, std::span<const uint8_t> bytes, std::uint64_t offset) {
    std::size_t done = 0;
    while (done != bytes.size()) {
        OVERLAPPED where = at(offset + done);
        DWORD n = 0;
        if (!WriteFile(file, bytes.data() + done, portion(bytes.size() - done), &n, &where)) return lastError();
        // Nothing written without an error: no room left.
        if (n == 0) return ERROR_DISK_FULL;
        done += n;
    }
    return 0;
}

// Copies what from holds beyond offset to the same place in to, in chunks
// of chunk's size.
int copyTail(HANDLE from, HANDLE to, std::uint64_t offset, std::vector<uint8_t>& chunk) {
    for (;;) {
        std::size_t got = 0;
        if (int err = readAt(from, chunk, offset, got)) return err;
        if (int err = writeAt(to, std::span(chunk).first(got), offset)) return err;
        if (got != chunk.size()) return 0;
        offset += got;
    }
}

// The name of the file an open handle leads to, through links: a save
// replaces that file and keeps the links.
std::wstring finalName(HANDLE file, const std::wstring& fallback) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, flags);
    if (size == 0) return fallback;
    std::wstring name(size, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, name.data(), size, flags);
    if (length == 0 || length >= size) return fallback;
    name.resize(length);
    return name;
}

// The folder part of a name, with its separator ("" for a bare name).
std::wstring folderOf(const std::wstring& name) {
    std::size_t end = name.find_last_of(L"\\/:");
    return end == std::wstring::npos ? std::wstring() : name.substr(0, end + 1);
}

// A new file of a name nobody uses in folder, for the data to be saved.
int createTemp(const std::wstring& folder, Handle& file, std::wstring& name) {
    std::random_device random;
    name = folder + L"~kdx-save-" + std::to_wstring(random()) + std::to_wstring(random()) + L".tmp";
    file.adopt(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() ? 0 : lastError();
}

// Writes the new file whole: head, then (given the old file) its bytes
// beyond head; then flushes and closes it.
int fillTemp(Handle& temp, const Handle* old, std::span<const uint8_t> head) {
    if (int err = writeAt(temp.get(), head, 0)) return err;
    if (old) {
        std::vector<uint8_t> chunk(head.size());
        if (int err = copyTail(old->get(), temp.get(), head.size(), chunk)) return err;
    }
    if (!FlushFileBuffers(temp.get())) return lastError();
    temp.close();
    return 0;
}

// The old file gives way to the new one, which takes over its attributes,
// security and creation time.
int replaceWith(const std::wstring& target, const std::wstring& temp) {
    if (ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return 0;
    int err = lastError();
    // The old file is gone, the new one still under its own name: finish.
    if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
        MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return err;
}

// The file's start overwritten where it is, for a folder that takes no new
// file; a failure half-way leaves part of the new data.
int rewriteInPlace(const std::wstring& target, std::span<const uint8_t> head) {
    Handle file;
    if (int err = openRegular(target, GENERIC_WRITE, FILE_SHARE_READ, file)) return err;
    if (int err = writeAt(file.get(), head, 0)) return err;
    return FlushFileBuffers(file.get()) ? 0 : lastError();
}

}  // namespace

int readStart(const std::string& path, std::span<uint8_t> buffer, std::size_t& got) {
    Handle file;
    if (int err = openRegular(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, file)) return err;
    return readAt(file.get(), buffer, 0, got);
}

namespace {

int replace(const std::string& path, std::span<const uint8_t> head, bool keepTail) {
    const std::wstring name = wide(path);
    // Opening for writing is the test that the file may be written: a
    // read-only file is refused.
    Handle old;
    int err = openRegular(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, old);
    if (err != 0 && err != ERROR_FILE_NOT_FOUND) return err;
    const bool exists = err == 0;
    const std::wstring target = exists ? finalName(old.get(), name) : name;

    // Beside the file, so that the replacement stays within one volume.
    std::wstring tempName;
    Handle temp;
    err = createTemp(folderOf(target), temp, tempName);
    if (err == 0) {
        err = fillTemp(temp, exists && keepTail ? &old : nullptr, head);
        if (err == 0) {
            old.close();  // the replacement needs the old file let go
            if (!exists)
                err = MoveFileExW(tempName.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                          ? 0
                          : lastError();
            else
                err = replaceWith(target, tempName);
            if (err == 0) return 0;
            // The old file is gone and the new one is the only copy: keep it.
            if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT) return err;
        }
        temp.close();
        DeleteFileW(tempName.c_str());
    }
    // A folder that takes no new file (or lets no file in it be removed)
    // still lets a writable file be rewritten.
    if (keepTail && exists && (err == ERROR_ACCESS_DENIED || err == ERROR_UNABLE_TO_REMOVE_REPLACED)) {
        old.close();
        return rewriteInPlace(target, head);
    }
    return err;
}

}  // namespace

int replaceStart(const std::string& path, std::span<const uint8_t> head) { return replace(path, head, true); }

int replaceWhole(const std::string& path, std::span<const uint8_t> content) {
    return replace(path, content, false);
}

// Windows has no file size signal.
void prepareProcessForSaving() {}

ErrorKind kindOf(int err, const std::string&) {
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
        return ErrorKind::notFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ErrorKind::invalidName;
    case ERROR_TOO_MANY_OPEN_FILES:
        return ErrorKind::tooManyFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return ErrorKind::accessDenied;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case kDiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE:
        return ErrorKind::diskFull;
    default:
        return ErrorKind::other;
    }
}

}  // namespace sequence_file_io
