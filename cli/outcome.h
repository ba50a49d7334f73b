// SPDX-License-Identifier: GPL-3.0-or-later
// What a command prints and returns, and the exit statuses every command shares.
#pragma once

#include <string>
#include <string_view>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the input was refused or the output could not be written
inline constexpr int kExitUsage = 2;   // bad arguments, or a loop the rules do not allow

// What the process prints and returns; every message in `err` ends with "\n".
struct Outcome {
    int exitCode = kExitOk;
    std::string out;
    std::string err;
};

// A failure: the exit status and the message, with its line end.
inline Outcome Failure(int exitCode, std::string_view message) {
    Outcome outcome;
    outcome.exitCode = exitCode;
    outcome.err.assign(message);
    outcome.err += '\n';
    return outcome;
}

}  // namespace cli
