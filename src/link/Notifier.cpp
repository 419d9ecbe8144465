// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/Notifier.h"

#include <cstdio>

void ConsoleNotifier::Beep(unsigned, unsigned) {
    std::fputs("\a", stderr);
    std::fflush(stderr);
}

void ConsoleNotifier::ShowMessage(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}
