// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/TSerial.h"

// The name is appended to "/dev/": refuse what could leave that folder or
// is no name at all. USB adapters (ttyUSB0, ttyACM0) and pseudo-terminals
// (pts/7) are longer than the six characters Windows allows.
bool TSerial::acceptablePortName(const std::string& name) {
    return !name.empty() && name.size() <= 64 && name.find("..") == std::string::npos;
}
