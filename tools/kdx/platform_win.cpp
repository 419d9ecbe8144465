// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "Platform.h"

namespace {

volatile LONG gInterruptRequested = 0;

// The first Ctrl-C (or Ctrl-Break) is taken; later ones go on to the default
// handler, which ends the process at once.
BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    return InterlockedExchange(&gInterruptRequested, 1) == 0 ? TRUE : FALSE;
}

}  // namespace

// No signal ends a process that writes to a closed pipe here: the write
// fails and the tool reports it. A closed standard handle is never reused
// for a file or port.
void prepareStandardStreams() {}

void beginCatchingInterrupt() {
    InterlockedExchange(&gInterruptRequested, 0);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void endCatchingInterrupt() { SetConsoleCtrlHandler(onConsoleControl, FALSE); }

bool interruptRequested() { return gInterruptRequested != 0; }

const char* portNameHelp() { return "A port NAME is a communication port's name, for example COM3.\n"; }
