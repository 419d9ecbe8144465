// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Serial ports of a Linux machine, read from sysfs. Takes the sysfs root as
// an argument so that tests can hand it a tree of their own.

#include <string>
#include <vector>

// The names under /dev (for example "ttyUSB0") of the tty devices below
// <sysfsRoot>/class/tty that are backed by hardware: the entry has a device
// with a driver, and an 8250-family port also reports a UART type other than
// 0 (the kernel creates such ports whether or not a chip is there). A missing
// class/tty folder gives an empty list; one that cannot be read raises
// PortEnumerationError.
std::vector<std::string> listSysfsSerialPorts(const std::string& sysfsRoot);

// The same ports with what was learnt on the way: the class/tty entry (for
// reading more about the device) and the driver of the hardware behind it.
struct SysfsSerialPort {
    std::string name;    // under /dev
    std::string entry;   // <sysfsRoot>/class/tty/<kernel name>
    std::string driver;  // may be empty when the serial core hides it
};
std::vector<SysfsSerialPort> findSysfsSerialPorts(const std::string& sysfsRoot);

// "ttyS2" before "ttyS10": letters compare as text, runs of digits as
// numbers. A strict weak order (ties fall back to plain text order).
bool naturalNameLess(const std::string& a, const std::string& b);
