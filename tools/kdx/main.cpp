// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "KdxCli.h"
#include "OutputBuffer.h"
#include "Platform.h"

int main(int argc, char** argv) {
    prepareStandardStreams();
    OutputBuffer out(stdout);
    std::vector<std::string> args(argv + 1, argv + argc);
    return runKdx(args, out, std::cerr);
}
