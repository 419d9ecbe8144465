// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Why a device may have been refused, in terms a user can act on.

#include <string>
#include <vector>

// After opening devicePath failed for lack of permission: the line that says
// which group to join, or empty when joining the device's group would not
// help. One implementation per platform that has such advice
// (access_hint_linux.cpp).
std::string permissionHint(const std::string& devicePath);

// The advice itself, for a device of group deviceGroup (named groupName)
// with permission bits mode, refused to a process whose groups (effective
// and supplementary) are processGroups. Empty when the group may not read
// and write the device, or when the process is in it already and so was
// refused for some other reason.
std::string permissionHintFor(unsigned mode, unsigned deviceGroup, const std::vector<unsigned>& processGroups,
                              const std::string& groupName);
