// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the tool needs of its process and console that differs by platform
// (platform_posix.cpp, platform_win.cpp).

// Makes failed writes to standard output and standard error ordinary errors
// that the tool reports: a reader that went away (a broken pipe) does not end
// the program unannounced, and a standard output or error that was closed at
// start stays unusable, so that no file or port opened later takes its place
// and receives the tool's text.
void prepareStandardStreams();

// Ctrl-C. Between beginCatchingInterrupt and endCatchingInterrupt the first
// Ctrl-C only sets interruptRequested(); a second one ends the program at
// once. endCatchingInterrupt restores the handling that was there before.
void beginCatchingInterrupt();
void endCatchingInterrupt();
bool interruptRequested();

// The help text's line on port names, in this platform's terms.
const char* portNameHelp();
