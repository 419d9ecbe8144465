// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/AccessHint.h"

#include <algorithm>

namespace {

constexpr unsigned kGroupReadWrite = 060;

}  // namespace

std::string permissionHintFor(unsigned mode, unsigned deviceGroup, const std::vector<unsigned>& processGroups,
                              const std::string& groupName) {
    if ((mode & kGroupReadWrite) != kGroupReadWrite) return {};
    if (std::find(processGroups.begin(), processGroups.end(), deviceGroup) != processGroups.end()) return {};
    return "You may not have permission to use this port: add yourself to the group " + groupName +
           " (sudo usermod -aG " + groupName + " $USER) and log in again.";
}
