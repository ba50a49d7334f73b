// SPDX-License-Identifier: GPL-3.0-or-later
// What a command line means: the command, its paths and its options, read by the table of
// commands (commands.h) and that of options, with the value parsers whose exact formats are ours.
// Reading only: nothing here touches a file.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "files/sound_writer.h"
#include "finder/finder_options.h"
#include "finder/loop_finder.h"
#include "wave/looped_wave.h"

namespace cli {

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
    // formats
    std::optional<files::OutputFormat> outputFormat;  // --format; save goes by its output's name
    int quality = files::kDefaultQuality;             // --quality, for the lossy formats
    bool tags = false;                                // --tags: the output carries its loop
    bool pointsGiven = false;                         // tag: --start and --end came
    bool verbose = false;  // --verbose: what the reader noticed in each file, on stderr
};

// Seconds as --radius takes them: decimal digits with an optional fraction, 0 to 10.
std::optional<double> ParseRadiusSeconds(std::string_view text);
// Seconds as --min-length and --max-length take them: decimal digits with an optional fraction.
std::optional<double> ParseSeconds(std::string_view text);
// Seconds as --length takes them: decimal digits with a fraction of up to nine digits, below a
// billion seconds.
std::optional<ExactSeconds> ParseExactSeconds(std::string_view text);
// An optional sign and decimal digits only, within the signed 32-bit range.
std::optional<std::int32_t> ParseInt32(std::string_view text);

struct ParsedArguments {
    std::string error;  // "" or the usage message, without a line end
    Arguments arguments;
};

// `args` excludes the program name; `commands` is the table of commands.
ParsedArguments ParseArguments(std::span<const CommandSpec> commands,
                               std::span<const std::string_view> args);

// The options a command takes, in the table's order.
std::vector<std::string_view> OptionsOf(Command command);

// The loop request of a save: the points and the pass count given, the rest from the arguments.
wave::LoopRequest RequestOf(const Arguments& arguments, std::int32_t loopStart,
                            std::int32_t loopEnd, std::int32_t repeatCount);

// How a save or the batch writes its output: the format (for save, by the output's name, a
// wave file where the name says no other), the quality and the tags.
files::Encoding EncodingOf(const Arguments& arguments, const std::string& outputPath);

// The finder's options that the arguments set: the bounds of the loop's length.
finder::FinderOptions FinderOptionsOf(const Arguments& arguments);

}  // namespace cli
