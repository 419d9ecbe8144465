// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A port the test's user may not open: a pseudo-terminal whose device file
// belongs to root and a group, mode rw for the group only, opened from a
// child process that has dropped to a user outside that group. Needs root
// to set up; available() says whether it could be.

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

class RefusedDevice {
public:
    // A user and group that exist nowhere; the refusal does not need a name.
    static constexpr uid_t kStrangerUid = 54321;
    static constexpr gid_t kStrangerGid = 54321;

    // namedGroup: a group the system has a name for, else a bare number.
    explicit RefusedDevice(mode_t mode = 0660, bool namedGroup = true) {
        if (geteuid() != 0) return;
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* slave = ptsname(master_);
        if (!slave) return;
        path_ = slave;
        // A serial-port group where the system has one, else a number.
        const group* g = namedGroup ? getgrnam("dialout") : nullptr;
        gid_ = 4242;
        while (!g && getgrgid(gid_)) ++gid_;
        if (g) gid_ = g->gr_gid;
        groupName_ = g ? std::string(g->gr_name) : std::to_string(gid_);
        if (chown(path_.c_str(), 0, gid_) != 0 || chmod(path_.c_str(), mode) != 0) return;
        ok_ = true;
    }
    ~RefusedDevice() {
        if (master_ >= 0) close(master_);
    }
    RefusedDevice(const RefusedDevice&) = delete;
    RefusedDevice& operator=(const RefusedDevice&) = delete;

    bool available() const { return ok_; }
    std::string portName() const { return path_.substr(5); }  // below /dev/
    const std::string& groupName() const { return groupName_; }

    // Runs body in a child process as the stranger; body writes its findings
    // to the descriptor it gets (it may exec). Returns what was written.
    static std::string asStranger(const std::function<void(int)>& body) {
        int out[2];
        if (pipe(out) != 0) return "pipe failed";
        const pid_t child = fork();
        if (child < 0) return "fork failed";
        if (child == 0) {
            close(out[0]);
            if (setgroups(0, nullptr) != 0 || setgid(kStrangerGid) != 0 || setuid(kStrangerUid) != 0)
                _exit(120);
            body(out[1]);
            _exit(0);
        }
        close(out[1]);
        std::string text;
        char buf[512];
        for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        return text;
    }

private:
    int master_ = -1;
    bool ok_ = false;
    std::string path_, groupName_;
    gid_t gid_ = 0;
};
