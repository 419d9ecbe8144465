// SPDX-License-Identifier: GPL-3.0-or-later
#include "OutputBuffer.h"

#include <cerrno>
#include <cstring>

// The stream this buffer serves stops writing after its first failure (its
// bad bit is set), so nothing more reaches the file after it.

std::streamsize OutputBuffer::xsputn(const char* text, std::streamsize count) {
    const size_t put = std::fwrite(text, 1, static_cast<size_t>(count), file_);
    if (put != static_cast<size_t>(count)) fail();
    return static_cast<std::streamsize>(put);
}

OutputBuffer::int_type OutputBuffer::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    return xsputn(&c, 1) == 1 ? ch : traits_type::eof();
}

int OutputBuffer::sync() {
    if (std::fflush(file_) == 0) return 0;
    fail();
    return -1;
}

// fwrite and fflush set errno when they fail.
void OutputBuffer::fail() { failure_ = std::strerror(errno); }
