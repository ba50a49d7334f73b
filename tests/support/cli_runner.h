// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built rundelt-cli as a child process, as scripts do, and collects what it prints and
// how it ends. For the command-line tests and those that compare the window with it;
// RUNDELT_CLI_PATH names the program.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace testwave {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    long peakKiB = 0;  // the child's largest resident size
};

// Runs the built rundelt-cli with `args`. stdoutFile: where the child's stdout goes instead of
// the pipe, when given. interruptAfter: once the child's stderr holds this text, it gets SIGINT,
// as from Ctrl-C.
// The arguments as a trace shows them, each in brackets, so an empty one can be seen.
inline std::string Bracketed(const std::vector<std::string>& args) {
    std::string joined;
    for (const std::string& a : args) joined += "[" + a + "]";
    return joined;
}

inline RunResult RunCli(const std::vector<std::string>& args, const char* stdoutFile = nullptr,
                        std::string_view interruptAfter = {}) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFile != nullptr)
        posix_spawn_file_actions_addopen(&actions, 1, stdoutFile, O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

    std::vector<std::string> argvText{RUNDELT_CLI_PATH};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawnError =
        posix_spawn(&pid, RUNDELT_CLI_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawnError != 0) throw std::runtime_error("cannot start " RUNDELT_CLI_PATH);

    // Both pipes are drained together so a full stderr cannot stall the child.
    RunResult result;
    bool interrupted = false;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("poll failed");
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<std::size_t>(n));
                if (!interrupted && !interruptAfter.empty() &&
                    result.err.find(interruptAfter) != std::string::npos) {
                    kill(pid, SIGINT);
                    interrupted = true;
                }
            } else if (n == 0 || errno != EINTR) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) throw std::runtime_error("wait4 failed");
    result.peakKiB = usage.ru_maxrss;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace testwave
