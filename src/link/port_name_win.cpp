// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/TSerial.h"

// "\\.\" + at most six characters (COM1..COM256).
bool TSerial::acceptablePortName(const std::string& name) { return name.size() <= 6; }
