// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line companion: reads its arguments, then runs one of its commands over the wave
// layer, the file layer (info, save, preview), the seam finder (find), or both over many files
// (batch, batch.h). It shares the window's loop rules and writes the same bytes the window's save
// writes. No window, no sound device.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "finder/finder_options.h"
#include "finder/loop_finder.h"
#include "wave/looped_wave.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the input was refused or the output could not be written
inline constexpr int kExitUsage = 2;   // bad arguments, or a loop the rules do not allow

enum class Command { Help, Version, Info, Save, Preview, Find, Batch };

// Seconds given as decimal digits with a fraction of up to nine digits, kept exactly.
struct ExactSeconds {
    std::int64_t whole = 0;
    std::int64_t nanoseconds = 0;
};

struct Arguments {
    Command command = Command::Help;
    std::string inputPath;
    std::string outputPath;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::int32_t repeatCount = wave::kDefaultRepeatCount;
    std::int32_t fadeSeconds = wave::kDefaultFadeSeconds;
    bool samplerLoop = false;  // --smpl: mark the first loop pass in a "smpl" chunk
    // find
    std::int32_t topCount = finder::FinderOptions{}.maxCandidates;  // candidates printed at most
    bool near = false;  // refine the loop nearStart .. nearEnd first
    std::int32_t nearStart = 0;
    std::int32_t nearEnd = 0;
    double radiusSeconds = finder::kDefaultRadiusSeconds;  // how far each point of --near may move
    double minLengthSeconds = 0.0;  // bounds of the loop's length; no upper one by default
    double maxLengthSeconds = std::numeric_limits<double>::infinity();
    // batch
    std::vector<std::string> inputPaths;       // files and folders
    std::string outputFolder;                  // --out
    std::optional<ExactSeconds> targetLength;  // --length, instead of --repeat
    int jobs = 0;                              // files at once; 0: the number of cores
    std::string reportPath;                    // "" for no report
    bool dryRun = false;                       // find only, save nothing
};

// Seconds as --radius takes them: decimal digits with an optional fraction, 0 to 10.
std::optional<double> ParseRadiusSeconds(std::string_view text);
// Seconds as --min-length and --max-length take them: decimal digits with an optional fraction.
std::optional<double> ParseSeconds(std::string_view text);
// Seconds as --length takes them: decimal digits with a fraction of up to nine digits, below a
// billion seconds.
std::optional<ExactSeconds> ParseExactSeconds(std::string_view text);

struct ParsedArguments {
    std::string error;  // "" or the usage message, without a line end
    Arguments arguments;
};

// An optional sign and decimal digits only, within the signed 32-bit range.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// `args` excludes the program name.
ParsedArguments ParseArguments(std::span<const std::string_view> args);

// What the process prints and returns; every message in `err` ends with "\n".
struct Outcome {
    int exitCode = kExitOk;
    std::string out;
    std::string err;
};

Outcome Run(const Arguments& arguments);

// ParseArguments, then Run; no arguments at all prints the usage to stderr.
Outcome Main(std::span<const std::string_view> args);

}  // namespace cli
