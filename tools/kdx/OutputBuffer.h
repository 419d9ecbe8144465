// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The tool's standard output: a stream buffer over a C stream that keeps the
// system's reason for a write that failed (a closed output, a full disk, a
// reader that went away), so that the tool can say why.

#include <cstdio>
#include <streambuf>
#include <string>

class OutputBuffer : public std::streambuf {
public:
    explicit OutputBuffer(std::FILE* file) : file_(file) {}

    bool failed() const { return !failure_.empty(); }
    const std::string& failure() const { return failure_; }  // empty while none

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int_type overflow(int_type ch) override;
    int sync() override;

private:
    void fail();

    std::FILE* file_;
    std::string failure_;
};
