// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command-line front end: the editor core without a window. A headless
// view stands in for the main window (status text captured, the open dialog
// answered with the command's FILE, pending events = Ctrl-C), and every
// command runs the same handlers that the window's menus and buttons run.

#include <iosfwd>
#include <string>
#include <vector>

class OutputBuffer;

// Exit statuses of the tool.
inline constexpr int kKdxOk = 0;
inline constexpr int kKdxUnfinishedMoves = 1;     // check: some move does not finish
inline constexpr int kKdxUsageOrFileOrPort = 2;  // usage, file, port or output error
inline constexpr int kKdxNoController = 3;       // the version query was not answered
inline constexpr int kKdxPortLost = 4;           // the port's device went away
inline constexpr int kKdxInterrupted = 130;      // play stopped by Ctrl-C

// Runs one command; args are the command-line arguments without the program
// name. Results go to out, messages to err; returns the exit status.
int runKdx(const std::vector<std::string>& args, OutputBuffer& out, std::ostream& err);
