#include "sequence/SequenceFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

FileResult success() { return {}; }

FileResult failure(int err, const std::string& path) {
    return {fileErrorMessage(err, path)};
}

// A missing file in an existing folder is "not found"; a folder on the way
// that is missing makes the name itself unusable.
bool parentFolderExists(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    if (parent.empty()) parent = ".";
    std::error_code ec;
    return fs::is_directory(parent, ec);
}

// Unbuffered, so that every transfer reaches the system at once and a
// failure shows in the call that caused it rather than in a later flush.
std::FILE* openFile(const std::string& path, const char* mode) {
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), mode);
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

int errnoOr(int fallback) { return errno != 0 ? errno : fallback; }

}  // namespace

std::string fileErrorMessage(int err, const std::string& path) {
    switch (err) {
    case ENOENT:
        if (path.empty() || !parentFolderExists(path)) return "Invalid filename.";
        return "File not found.";
    case ENOTDIR:
    case ENAMETOOLONG:
        return "Invalid filename.";
    case EMFILE:
    case ENFILE:
        return "Too many open files.";
    case EACCES:
    case EPERM:
#ifdef EROFS
    case EROFS:
#endif
    case EISDIR:
        return "File access denied.";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "Disk full.";
    default:
        return "I/O error " + std::to_string(err) + ".";
    }
}

bool sequenceFileExists(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    return st.type() != fs::file_type::not_found;
}

FileResult saveSequenceFile(const std::string& path, Sequence& sequence,
                            const std::array<uint8_t, 5>& stamp) {
    if (!sequenceFileExists(path)) {
        // Append mode creates without truncating, should the file appear
        // between the test and the create.
        std::FILE* created = openFile(path, "ab");
        if (!created) return failure(errnoOr(EIO), path);
        errno = 0;
        if (std::fclose(created) != 0) return failure(errnoOr(EIO), path);
    }

    std::FILE* f = openFile(path, "r+b");
    if (!f) return failure(errnoOr(EIO), path);

    std::span<uint8_t> image = sequence.image();
    std::copy(stamp.begin(), stamp.end(), image.begin() + kStampOffset);

    errno = 0;
    std::size_t blocks = std::fwrite(image.data(), kFileBlockSize, kFileBlockCount, f);
    if (blocks != kFileBlockCount) {
        // A write that stops short without an error code ran out of room.
        int err = errnoOr(ENOSPC);
        std::fclose(f);  // already failing; the write error is the one to report
        return failure(err, path);
    }
    errno = 0;
    if (std::fclose(f) != 0) return failure(errnoOr(EIO), path);
    return success();
}

FileResult loadSequenceFile(const std::string& path, Sequence& sequence) {
    std::FILE* f = openFile(path, "r+b");
    if (!f) return failure(errnoOr(EIO), path);

    // Read aside first: a file that fails half-way leaves the sequence as it was.
    std::array<uint8_t, kSequenceFileSize> scratch;
    errno = 0;
    std::size_t blocks = std::fread(scratch.data(), kFileBlockSize, kFileBlockCount, f);
    if (blocks != kFileBlockCount) {
        bool readError = std::ferror(f) != 0;
        int err = errnoOr(EIO);
        std::fclose(f);
        if (readError) return failure(err, path);
        return {"Read beyond end of file."};
    }
    errno = 0;
    if (std::fclose(f) != 0) return failure(errnoOr(EIO), path);

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
