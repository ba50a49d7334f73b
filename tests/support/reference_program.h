// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a reference program (an encoder such as flac, oggenc, opusenc, lame or sox, or a reader
// such as ogginfo or metaflac) found on PATH, as a test makes or checks its files with it. POSIX.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

extern char** environ;

namespace testwave {

struct ProgramRun {
    int status = -1;  // the exit status; -1 when it could not start or did not exit
    std::string out;  // its standard output, unless it went into a file
};

// Runs `args` (the program first), its standard input from `inputFile` and its standard output
// into `outputFile` where they are given, else nothing in and the output collected; its standard
// error is dropped, as the encoders chatter there.
inline ProgramRun RunProgram(const std::vector<std::string>& args,
                             const std::string& inputFile = "",
                             const std::string& outputFile = "") {
    ProgramRun run;
    int outPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, 0, inputFile.empty() ? "/dev/null" : inputFile.c_str(), O_RDONLY, 0);
    if (outputFile.empty())
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> text(args);
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    if (spawned != 0) {
        ::close(outPipe[0]);
        return run;
    }
    run.out = ReadToEnd(outPipe[0]);
    const int status = WaitForChild(pid);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace testwave
