// SPDX-License-Identifier: GPL-3.0-or-later
// rundelt-cli: the looped-wave tool without its window, for scripts and batch work.
#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "wave/user_texts.h"

namespace {

bool WriteAll(std::FILE* stream, const std::string& text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stream) != text.size())
        return false;
    return std::fflush(stream) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit on the output makes a write fail, which we report, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    cli::Outcome outcome;
    try {
        std::vector<std::string_view> args;  // in the try: even this may find no memory
        for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
        outcome = cli::Main(args);
    } catch (const std::bad_alloc&) {
        outcome = cli::Outcome{};
        outcome.exitCode = cli::kExitFailed;
        outcome.err.assign(wave::UserMessage(wave::WaveError::OutOfMemory));
        outcome.err += '\n';
    }

    // A script reading our output must not take a cut-off text for a success.
    if (!WriteAll(stdout, outcome.out) && outcome.exitCode == cli::kExitOk) {
        outcome.exitCode = cli::kExitFailed;
        outcome.err += std::string(wave::kStandardOutputFailed) + "\n";
    }
    WriteAll(stderr, outcome.err);
    return outcome.exitCode;
}
