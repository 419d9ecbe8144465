// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "Platform.h"

namespace {

volatile std::sig_atomic_t gInterruptRequested;
struct sigaction gPreviousInterrupt {};

extern "C" void onInterrupt(int) { gInterruptRequested = 1; }

// A closed descriptor would be handed to the next file or port the tool
// opens. /dev/null opened read-only takes its place instead: writes to it
// still fail with "Bad file descriptor", as on the closed one.
void keepClosed(int fd) {
    if (::fcntl(fd, F_GETFD) != -1) return;  // open
    // The lowest free descriptor: fd itself unless a lower one is closed too.
    const int placeholder = ::open("/dev/null", O_RDONLY);
    if (placeholder != fd) {
        ::dup2(placeholder, fd);
        ::close(placeholder);
    }
}

}  // namespace

void prepareStandardStreams() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    // Output past the file size limit then fails as a write error.
    sigaction(SIGXFSZ, &ignore, nullptr);
    keepClosed(STDOUT_FILENO);
    keepClosed(STDERR_FILENO);
}

void beginCatchingInterrupt() {
    gInterruptRequested = 0;
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    // The handler is reset by the first signal, so a second Ctrl-C ends the
    // process at once (a pass with long pauses handles no events for minutes).
    sa.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &sa, &gPreviousInterrupt);
}

void endCatchingInterrupt() { sigaction(SIGINT, &gPreviousInterrupt, nullptr); }

bool interruptRequested() { return gInterruptRequested != 0; }

const char* portNameHelp() { return "A port NAME is a device name below /dev, for example ttyUSB0.\n"; }
