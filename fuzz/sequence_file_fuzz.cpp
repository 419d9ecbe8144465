// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary files to the sequence file loader. A file of 16,384 bytes or
// more must load, replacing exactly image bytes 0..16383 with its start; a
// shorter one must fail with "Read beyond end of file." and change nothing.
// The input also serves as a typed file name for the dialog helpers.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sequence/SequenceFile.h"

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The input lives in an anonymous in-memory file, reached by its path.
struct InputFile {
    int fd = memfd_create("kdx-fuzz-input", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);

    void set(const uint8_t* data, size_t size) {
        require(fd >= 0 && ftruncate(fd, 0) == 0, "memfd");
        size_t done = 0;
        while (done < size) {
            ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            require(n > 0, "pwrite");
            done += static_cast<size_t>(n);
        }
    }
};

// A sequence that differs from the defaults everywhere, so that a byte the
// loader should not touch shows when it is touched.
void fillMarked(Sequence& s) {
    std::span<uint8_t> image = s.image();
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + 7);
}

void checkNames(const uint8_t* data, size_t size) {
    std::string name(reinterpret_cast<const char*>(data), std::min<size_t>(size, 512));
    std::string withExt = withDefaultExtension(name);
    require(withExt == name || withExt == name + ".KDX", "default extension");
    if (withExt != name) require(matchesSequenceFilter(withExt), "filter after default extension");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static InputFile input;
    static Sequence seq;
    static std::vector<uint8_t> before;

    input.set(data, size);
    fillMarked(seq);
    before.assign(seq.image().begin(), seq.image().end());

    FileResult result = loadSequenceFile(input.path, seq);
    std::span<const uint8_t> image = seq.image();

    if (size >= kSequenceFileSize) {
        require(result.ok(), "a full-size file must load");
        require(std::equal(data, data + kSequenceFileSize, image.begin()), "image start equals file start");
    } else {
        require(result.error == "Read beyond end of file.", "a short file must fail as too short");
        require(std::equal(before.begin(), before.begin() + kSequenceFileSize, image.begin()),
                "a failed load keeps the image start");
    }
    require(std::equal(before.begin() + kSequenceFileSize, before.end(), image.begin() + kSequenceFileSize),
            "bytes past the file are kept");

    checkNames(data, size);
    return 0;
}
