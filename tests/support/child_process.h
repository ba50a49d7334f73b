// SPDX-License-Identifier: GPL-3.0-or-later
// The parent's side of a forked child that reports through a pipe. POSIX.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace testwave {

// Everything written into the pipe whose read end is `fd` until every writer has closed it;
// closes `fd`.
inline std::string ReadToEnd(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

// The child's wait status, once it has ended.
inline int WaitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace testwave
