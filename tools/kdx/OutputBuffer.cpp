#include "OutputBuffer.h"

#include <cerrno>
#include <cstring>

std::streamsize OutputBuffer::xsputn(const char* text, std::streamsize count) {
    if (failed() || count <= 0) return 0;
    errno = 0;
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
    if (failed()) return -1;
    errno = 0;
    if (std::fflush(file_) != 0) {
        fail();
        return -1;
    }
    return 0;
}

void OutputBuffer::fail() {
    const int err = errno;
    failure_ = err != 0 ? std::strerror(err) : "write failed";
}
