// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/arguments.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <set>
#include <utility>

#include "cli/commands.h"
#include "wave/rounding.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

// What the options write while they are read: the arguments, and which options came.
struct Parsing {
    Arguments& arguments;
    std::set<std::string_view> given;
};

// Takes value number `which` of an option; false when the text is not a value it takes.
using TakeValue = bool (*)(std::string_view text, std::size_t which, Arguments& arguments);

bool TakeInt32(std::string_view text, std::int32_t least, std::int32_t& field) {
    const std::optional<std::int32_t> value = ParseInt32(text);
    if (!value || *value < least) return false;
    field = *value;
    return true;
}

constexpr std::int32_t kAnyInt32 = std::numeric_limits<std::int32_t>::min();

constexpr unsigned Bit(Command command) { return 1u << static_cast<unsigned>(command); }
constexpr unsigned kInfo = Bit(Command::Info);
constexpr unsigned kSave = Bit(Command::Save);
constexpr unsigned kPreview = Bit(Command::Preview);
constexpr unsigned kFind = Bit(Command::Find);
constexpr unsigned kBatch = Bit(Command::Batch);
constexpr unsigned kTag = Bit(Command::Tag);

bool TakePath(std::string_view text, std::string& field) {
    if (text.empty()) return false;
    field = text;
    return true;
}

bool TakeSeconds(std::string_view text, double& field) {
    const std::optional<double> seconds = ParseSeconds(text);
    if (seconds) field = *seconds;
    return seconds.has_value();
}

// The one table of options: the commands each belongs to, how many values it takes, what they
// must be, and where they go. A repeated option takes its last value.
struct Option {
    std::string_view name;
    unsigned commands;       // Bit() of each command that takes it
    std::size_t values;      // 0: a switch
    wave::ValueRange range;  // what a value must be, for the usage message
    TakeValue take;
};

using wave::ValueRange;

const std::array<Option, 19> kOptions{{
    {"--start", kSave | kPreview | kTag, 1, ValueRange::Int32,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakeInt32(text, kAnyInt32, a.loopStart);
     }},
    {"--end", kSave | kPreview | kTag, 1, ValueRange::Int32,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakeInt32(text, kAnyInt32, a.loopEnd);
     }},
    {"--repeat", kSave | kBatch, 1, ValueRange::Count,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakeInt32(text, 0, a.repeatCount);
     }},
    {"--fade", kSave | kBatch, 1, ValueRange::Count,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakeInt32(text, 0, a.fadeSeconds);
     }},
    {"--smpl", kSave | kBatch, 0, ValueRange::None,
     [](std::string_view, std::size_t, Arguments& a) { return a.samplerLoop = true; }},
    {"--top", kFind, 1, ValueRange::Top,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakeInt32(text, 1, a.topCount);
     }},
    {"--near", kFind, 2, ValueRange::Int32,
     [](std::string_view text, std::size_t which, Arguments& a) {
         a.near = true;
         return TakeInt32(text, kAnyInt32, which == 0 ? a.nearStart : a.nearEnd);
     }},
    {"--radius", kFind, 1, ValueRange::Radius,
     [](std::string_view text, std::size_t, Arguments& a) {
         const std::optional<double> radius = ParseRadiusSeconds(text);
         if (radius) a.radiusSeconds = *radius;
         return radius.has_value();
     }},
    {"--min-length", kFind | kBatch | kTag, 1, ValueRange::Length,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakeSeconds(text, a.minLengthSeconds);
     }},
    {"--max-length", kFind | kBatch | kTag, 1, ValueRange::Length,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakeSeconds(text, a.maxLengthSeconds);
     }},
    {"--out", kBatch, 1, ValueRange::Path,
     [](std::string_view text, std::size_t, Arguments& a) {
         return TakePath(text, a.outputFolder);
     }},
    {"--length", kBatch, 1, ValueRange::ExactLength,
     [](std::string_view text, std::size_t, Arguments& a) {
         a.targetLength = ParseExactSeconds(text);
         return a.targetLength.has_value();
     }},
    {"--jobs", kBatch | kTag, 1, ValueRange::Jobs,
     [](std::string_view text, std::size_t, Arguments& a) {
         std::int32_t jobs = 0;
         if (!TakeInt32(text, 1, jobs)) return false;
         a.jobs = jobs;
         return true;
     }},
    {"--report", kBatch | kTag, 1, ValueRange::Path,
     [](std::string_view text, std::size_t, Arguments& a) { return TakePath(text, a.reportPath); }},
    {"--dry-run", kBatch | kTag, 0, ValueRange::None,
     [](std::string_view, std::size_t, Arguments& a) { return a.dryRun = true; }},
    {"--format", kBatch, 1, ValueRange::Format,
     [](std::string_view text, std::size_t, Arguments& a) {
         a.outputFormat = files::OutputFormatNamed(text);
         return a.outputFormat.has_value();
     }},
    {"--quality", kSave | kBatch, 1, ValueRange::Quality,
     [](std::string_view text, std::size_t, Arguments& a) {
         std::int32_t quality = 0;
         if (!TakeInt32(text, 0, quality) || quality > 10) return false;
         a.quality = quality;
         return true;
     }},
    {"--tags", kSave | kBatch, 0, ValueRange::None,
     [](std::string_view, std::size_t, Arguments& a) { return a.tags = true; }},
    {"--verbose", kInfo | kSave | kPreview | kFind | kBatch | kTag, 0, ValueRange::None,
     [](std::string_view, std::size_t, Arguments& a) { return a.verbose = true; }},
}};

const Option* FindOption(std::string_view name) {
    for (const Option& option : kOptions)
        if (option.name == name) return &option;
    return nullptr;
}

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

ParsedArguments UsageError(std::string message) {
    ParsedArguments parsed;
    parsed.error = std::move(message);
    return parsed;
}

// Reads the paths and options after the command word, into `parsing` and `paths`; the usage
// error, or "" (with `help` set where a help option came among them).
std::string TakeOptions(std::span<const std::string_view> args, Parsing& parsing,
                        std::vector<std::string_view>& paths, bool& help) {
    const unsigned command = Bit(parsing.arguments.command);
    bool optionsEnded = false;  // after "--" every argument is a path, even one starting with '-'
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.front() != '-') {
            paths.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (IsHelp(arg)) {
            help = true;
            return "";
        } else {
            const Option* option = FindOption(arg);
            if (option == nullptr) return wave::UnknownOption(arg);
            if ((option->commands & command) == 0) return wave::NotForThisCommand(arg);
            parsing.given.insert(option->name);
            if (option->values == 0) {
                option->take("", 0, parsing.arguments);
                continue;
            }
            if (i + option->values >= args.size()) return wave::MissingValue(arg);
            for (std::size_t which = 0; which < option->values; ++which) {
                const std::string_view text = args[++i];
                if (!option->take(text, which, parsing.arguments))
                    return wave::BadValue(arg, text, option->range);
            }
        }
    }
    return "";
}

// The paths as the command takes them; the usage error, or "".
std::string TakePaths(Paths wanted, const std::vector<std::string_view>& paths,
                      Arguments& arguments) {
    if (wanted == Paths::OneOrMore) {
        if (paths.empty()) return std::string(wave::kNoInputs);
        arguments.inputPaths.assign(paths.begin(), paths.end());
        return "";
    }
    const std::size_t count = wanted == Paths::Two ? 2 : wanted == Paths::One ? 1 : 0;
    if (paths.size() < count)
        return std::string(count == 1 ? wave::kNoInputFile : wave::kNoInputAndOutputFile);
    if (paths.size() > count) return wave::ExtraArgument(paths[count]);
    if (count == 0) return "";
    arguments.inputPath = paths[0];
    if (count == 2) arguments.outputPath = paths[1];
    // An empty path names no file: refused before anything is read.
    if (arguments.inputPath.empty()) return std::string(wave::kNoInputFile);
    if (count == 2 && arguments.outputPath.empty()) return std::string(wave::kNoOutputFile);
    return "";
}

// What the options must be together: those the command needs, and no two that disagree.
std::string CheckTogether(const CommandSpec& spec, const Parsing& parsing) {
    const Arguments& arguments = parsing.arguments;
    for (const std::string_view required : spec.required) {
        if (!required.empty() && parsing.given.count(required) == 0)
            return wave::MissingOption(required);
    }
    if (parsing.given.count("--repeat") > 0 && arguments.targetLength)
        return std::string(wave::kRepeatWithLength);
    if (arguments.minLengthSeconds > arguments.maxLengthSeconds)
        return std::string(wave::kLengthBoundsReversed);
    if (!wave::SamplerLoopHasPass(arguments.samplerLoop, arguments.repeatCount))
        return wave::SamplerNeedsPassArgument("--smpl", arguments.repeatCount);
    if (!wave::SamplerLoopHasPass(arguments.tags, arguments.repeatCount))
        return wave::SamplerNeedsPassArgument("--tags", arguments.repeatCount);
    if (arguments.samplerLoop &&
        arguments.outputFormat.value_or(files::OutputFormat::Wav) != files::OutputFormat::Wav)
        return std::string(wave::kSmplOnlyForWave);
    if (arguments.command == Command::Tag) {
        const bool start = parsing.given.count("--start") > 0;
        const bool end = parsing.given.count("--end") > 0;
        if (start != end) return std::string(wave::kTagNeedsBoth);
        if (start && arguments.inputPaths.size() != 1) return std::string(wave::kTagNeedsOneInput);
    }
    return "";
}

}  // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > wave::kInt32Max + 1) return std::nullopt;  // stops before int64 could wrap
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > wave::kInt32Max) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

ParsedArguments ParseArguments(std::span<const CommandSpec> commands,
                               std::span<const std::string_view> args) {
    if (args.empty()) return ParsedArguments{};
    const CommandSpec* spec = FindCommand(commands, args.front());
    if (spec == nullptr) {
        return UsageError(args.front().starts_with('-') ? wave::UnknownOption(args.front())
                                                        : wave::UnknownCommand(args.front()));
    }
    ParsedArguments parsed;
    parsed.arguments.command = spec->command;
    if (spec->paths == Paths::Ignored) return parsed;
    if (spec->paths == Paths::None) {
        if (args.size() > 1) return UsageError(wave::ExtraArgument(args[1]));
        return parsed;
    }
    Parsing parsing{parsed.arguments, {}};
    std::vector<std::string_view> paths;
    bool help = false;
    std::string error = TakeOptions(args.subspan(1), parsing, paths, help);
    if (help) return ParsedArguments{};
    if (error.empty()) error = TakePaths(spec->paths, paths, parsed.arguments);
    if (error.empty()) error = CheckTogether(*spec, parsing);
    parsed.arguments.pointsGiven = parsing.given.count("--start") > 0;
    if (!error.empty()) return UsageError(std::move(error));
    return parsed;
}

std::vector<std::string_view> OptionsOf(Command command) {
    std::vector<std::string_view> names;
    for (const Option& option : kOptions)
        if ((option.commands & Bit(command)) != 0) names.push_back(option.name);
    return names;
}

wave::LoopRequest RequestOf(const Arguments& arguments, std::int32_t loopStart,
                            std::int32_t loopEnd, std::int32_t repeatCount) {
    wave::LoopRequest request;
    request.loopStart = loopStart;
    request.loopEnd = loopEnd;
    request.repeatCount = repeatCount;
    request.fadeSeconds = arguments.fadeSeconds;
    request.samplerLoop = arguments.samplerLoop;
    return request;
}

files::Encoding EncodingOf(const Arguments& arguments, const std::string& outputPath) {
    files::Encoding encoding;
    encoding.format = arguments.outputFormat.value_or(files::OutputFormatForName(outputPath));
    encoding.quality = arguments.quality;
    encoding.tags = arguments.tags;
    return encoding;
}

finder::FinderOptions FinderOptionsOf(const Arguments& arguments) {
    finder::FinderOptions options;
    options.toSoundEnd = true;  // our own commands take a loop that ends with the sound
    options.minLengthSeconds = arguments.minLengthSeconds;
    options.maxLengthSeconds = arguments.maxLengthSeconds;
    return options;
}

std::optional<double> ParseSeconds(std::string_view text) {
    const bool plain = !text.empty() && text.front() != '.' && text.back() != '.' &&
                       std::all_of(text.begin(), text.end(),
                                   [](char c) { return (c >= '0' && c <= '9') || c == '.'; }) &&
                       std::count(text.begin(), text.end(), '.') <= 1;
    if (!plain) return std::nullopt;
    double seconds = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds))
        return std::nullopt;
    return seconds;
}

std::optional<ExactSeconds> ParseExactSeconds(std::string_view text) {
    if (!ParseSeconds(text)) return std::nullopt;  // the same digits and point
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    constexpr std::size_t kMostWholeDigits = 9;  // below a billion seconds
    constexpr std::size_t kFractionDigits = 9;   // nanoseconds
    const std::size_t leading = std::min(whole.find_first_not_of('0'), whole.size());
    if (whole.size() - leading > kMostWholeDigits || fraction.size() > kFractionDigits)
        return std::nullopt;
    ExactSeconds seconds;
    for (const char c : whole) seconds.whole = seconds.whole * 10 + (c - '0');
    for (std::size_t k = 0; k < kFractionDigits; ++k) {
        seconds.nanoseconds =
            seconds.nanoseconds * 10 + (k < fraction.size() ? fraction[k] - '0' : 0);
    }
    return seconds;
}

std::optional<double> ParseRadiusSeconds(std::string_view text) {
    const std::optional<double> seconds = ParseSeconds(text);
    if (!seconds || *seconds > 10.0) return std::nullopt;
    return seconds;
}

}  // namespace cli
