#pragma once
// Why a device may have been refused, in terms a user can act on. One
// implementation per platform that has such advice (access_hint_linux.cpp).

#include <string>

// After opening devicePath failed for lack of permission: the line that says
// which group to join, or empty when joining the device's group would not
// help (the group may not read and write it, or this process is in the
// group already and was refused for another reason).
std::string permissionHint(const std::string& devicePath);
