// SPDX-License-Identifier: GPL-3.0-or-later
#include "sequence/SequenceFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "sequence/SequenceFileIo.h"

namespace fs = std::filesystem;
namespace io = sequence_file_io;

namespace {

FileResult success() { return {}; }

FileResult failure(int err, const std::string& path) { return {fileErrorMessage(err, path)}; }

}  // namespace

std::string fileErrorMessage(int err, const std::string& path) {
    switch (io::kindOf(err, path)) {
    case io::ErrorKind::notFound:
        return "File not found.";
    case io::ErrorKind::invalidName:
        return "Invalid filename.";
    case io::ErrorKind::tooManyFiles:
        return "Too many open files.";
    case io::ErrorKind::accessDenied:
        return "File access denied.";
    case io::ErrorKind::diskFull:
        return "Disk full.";
    case io::ErrorKind::other:
        break;
    }
    return "I/O error " + std::to_string(err) + ".";
}

bool sequenceFileExists(const std::string& path) {
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    return st.type() != fs::file_type::not_found;
}

FileResult saveSequenceFile(const std::string& path, Sequence& sequence,
                            const std::array<uint8_t, 5>& stamp) {
    std::array<uint8_t, kSequenceFileSize> head;
    std::copy_n(sequence.image().begin(), head.size(), head.begin());
    std::copy(stamp.begin(), stamp.end(), head.begin() + kStampOffset);
    if (int err = io::replaceStart(path, head)) return failure(err, path);
    // Only a saved file puts the stamp into memory.
    std::copy(stamp.begin(), stamp.end(), sequence.image().begin() + kStampOffset);
    return success();
}

FileResult loadSequenceFile(const std::string& path, Sequence& sequence) {
    // Read aside first: a file that fails half-way leaves the sequence as it was.
    std::array<uint8_t, kSequenceFileSize> scratch;
    std::size_t got = 0;
    if (int err = io::readStart(path, scratch, got)) return failure(err, path);
    if (got != scratch.size()) return {"Read beyond end of file."};
    std::copy(scratch.begin(), scratch.end(), sequence.image().begin());
    return success();
}

std::string withDefaultExtension(const std::string& name) {
    std::size_t slash = name.find_last_of("/\\");
    std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    if (base >= name.size()) return name;  // a folder, not a file name
    // A dot inside the last name part (not its first character) starts an
    // extension; ".KDX" is added only when there is none.
    if (name.find('.', base + 1) != std::string::npos) return name;
    return name + "." + kSequenceFileExtension;
}

std::string sequenceDisplayName(const std::string& path) {
    std::string name = path;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    if (name.empty()) name = "Untitled";
    return name;
}

bool matchesSequenceFilter(std::string_view name) {
    constexpr std::string_view ext = ".kdx";
    if (name.size() < ext.size()) return false;
    std::string_view tail = name.substr(name.size() - ext.size());
    return std::equal(tail.begin(), tail.end(), ext.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

int highestUsedFrameNotInFile(const Sequence& sequence) {
    for (int f = kFrameCount - 1; f >= kFirstFrameNotInFile; --f)
        if (sequence.frame(f).frameUsed != 0) return f;
    return -1;
}
