// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs part of a test in a child process: for what needs a changed process
// (fewer rights, fewer descriptors, a file size limit, a mount of its own),
// and for what would hang the test program if it blocked.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>

// Runs body in a child and hands back the text it returned. A child still
// running after limit is killed, and the text says so.
inline std::string inChild(const std::function<std::string()>& body,
                           std::chrono::seconds limit = std::chrono::seconds(10)) {
    int fds[2];
    if (pipe(fds) != 0) return "<pipe failed>";
    pid_t pid = fork();
    if (pid == -1) return "<fork failed>";
    if (pid == 0) {
        close(fds[0]);
        std::string text = body();
        for (std::size_t done = 0; done < text.size();) {
            ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) _exit(1);
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string text;
    bool late = false;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (ready == -1 && errno == EINTR) continue;
        if (ready == 0) {
            late = true;
            break;
        }
        char buf[512];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (late) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (late) return "<no answer within " + std::to_string(limit.count()) + " s>";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<child failed>";
    return text;
}
