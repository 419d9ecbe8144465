// SPDX-License-Identifier: GPL-3.0-or-later
// Linux: serial devices belong to a group (dialout, uucp...) whose members
// may use them; a user outside it is refused until added and logged in anew.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "link/AccessHint.h"

std::string permissionHint(const std::string& devicePath) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0) return {};
    std::vector<unsigned> groups{static_cast<unsigned>(getegid())};
    std::vector<gid_t> supplementary(static_cast<size_t>(sysconf(_SC_NGROUPS_MAX)) + 1);
    const int n = getgroups(static_cast<int>(supplementary.size()), supplementary.data());
    for (int i = 0; i < n; ++i) groups.push_back(static_cast<unsigned>(supplementary[static_cast<size_t>(i)]));
    // The group's name; its number where it has none (usermod takes either).
    const group* g = getgrgid(st.st_gid);
    const std::string name = g && g->gr_name && *g->gr_name ? g->gr_name : std::to_string(st.st_gid);
    return permissionHintFor(st.st_mode, st.st_gid, groups, name);
}
