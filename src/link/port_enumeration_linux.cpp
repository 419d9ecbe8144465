// SPDX-License-Identifier: GPL-3.0-or-later
// Linux: the serial ports that sysfs knows of. Without /sys/class/tty (a
// container, say) there are simply no ports.

#include "link/LinuxSerialPorts.h"
#include "link/PortEnumeration.h"

std::vector<std::string> EnumerateComPorts() { return listSysfsSerialPorts("/sys"); }
