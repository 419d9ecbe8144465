// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which communication ports exist, in the order the platform finds them.
// One implementation per platform, chosen by file (port_enumeration_linux.cpp,
// port_enumeration_win.cpp).

#include <stdexcept>
#include <string>
#include <vector>

// Raised when the platform cannot be asked; what() is the text for the user.
class PortEnumerationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The port names of this machine, in the order found (never sorted). Throws
// PortEnumerationError when the list cannot be had.
std::vector<std::string> EnumerateComPorts();
