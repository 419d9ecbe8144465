// Linux: serial devices belong to a group (dialout, uucp...) whose members
// may use them; a user outside it is refused until added and logged in anew.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "link/AccessHint.h"

namespace {

bool inGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = getgroups(n, groups.data());
    if (got < 0) return false;
    groups.resize(static_cast<size_t>(got));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The group's name; its number where it has none (usermod takes either).
std::string groupName(gid_t gid) {
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    while (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (found && found->gr_name && *found->gr_name) return found->gr_name;
    return std::to_string(gid);
}

}  // namespace

std::string permissionHint(const std::string& devicePath) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0) return {};
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {};
    if (inGroup(st.st_gid)) return {};
    const std::string group = groupName(st.st_gid);
    return "You may not have permission to use this port: add yourself to the group " + group +
           " (sudo usermod -aG " + group + " $USER) and log in again.";
}
