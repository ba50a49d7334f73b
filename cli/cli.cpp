// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "cli/batch.h"
#include "files/atomic_save.h"
#include "files/looped_wave_file.h"
#include "files/wave_file.h"
#include "finder/loop_finder.h"
#include "wave/information_text.h"
#include "wave/loop_rules.h"
#include "wave/looped_wave.h"
#include "wave/rounding.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

constexpr std::string_view kUsage =
    "使い方：\n"
    "  rundelt-cli info 入力.wav\n"
    "  rundelt-cli save 入力.wav 出力.wav --start 開始 --end 終了 [--repeat 回数] [--fade 秒数] "
    "[--smpl]\n"
    "  rundelt-cli preview 入力.wav 出力.wav --start 開始 --end 終了\n"
    "  rundelt-cli find 入力.wav [--top 件数] [--near 開始 終了 [--radius 秒数]]\n"
    "                  [--min-length 秒数] [--max-length 秒数]\n"
    "  rundelt-cli batch 入力.wav|フォルダ... --out 出力フォルダ [--repeat 回数 | --length 秒数]\n"
    "                  [--fade 秒数] [--smpl] [--jobs 数] [--report ファイル] [--dry-run]\n"
    "                  [--min-length 秒数] [--max-length 秒数]\n"
    "  rundelt-cli --help\n"
    "  rundelt-cli --version\n"
    "\n"
    "  info     ファイルの情報を表示します\n"
    "  save     ループしたファイルを書き出します（既定：--repeat 2 --fade 5）\n"
    "           --smpl で最初のループ1回分を smpl チャンクに記録します\n"
    "  preview  ループのつなぎ目の前後2秒ずつ、4秒のファイルを書き出します\n"
    "  find     ループの候補を良い順に1行に1つ「開始 終了 つなぎ目の品質(dB)」で表示します\n"
    "           （既定：--top 5）。--near は指定のループを各点 --radius 秒（既定 0.5、10 まで）\n"
    "           の範囲で合わせ直し、その結果を最初に表示します。表示する候補はすべて各点がその\n"
    "           範囲内のものです。--min-length と --max-length はループの長さを秒で限ります\n"
    "  batch    ファイルとフォルダ（中の *.wav を再帰的に）それぞれのループを探し、save と同じ\n"
    "           ファイルを --out の下に同じ構成で書き出します。--length は、フェードを含めて\n"
    "           その秒数以上になる最少のループ回数（1 以上）です。--jobs は同時に処理する\n"
    "           ファイル数（既定：コア数）、--report は結果の CSV、--dry-run は探すだけです\n"
    "\n"
    "開始と終了はフレーム番号で、0 ≤ 開始、開始 + 2秒 ≤ 終了 ≤ 最後のフレーム です。\n"
    "終了コード：0 成功、1 読み込みか書き込みの失敗かループ候補なし、2 引数かループ範囲の誤り、\n"
    "           130 batch を Ctrl-C で中断\n";

constexpr std::string_view kUsageHint = "使い方は rundelt-cli --help で表示します\n";

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

ParsedArguments UsageError(std::string message) {
    ParsedArguments parsed;
    parsed.error = std::move(message);
    return parsed;
}

// The usage texts that every option shares, in one place.
std::string NotForThisCommandText(std::string_view option) {
    return "このコマンドでは使えないオプションです：" + std::string(option);
}
std::string MissingValueText(std::string_view option) {
    return "値がありません：" + std::string(option);
}
std::string BadValueText(std::string_view option, std::string_view value, std::string_view range) {
    return "値が不正です：" + std::string(option) + " " + std::string(value) + "（" +
           std::string(range) + "）";
}
constexpr std::string_view kInt32Range = "-2147483648 から 2147483647 の整数";

constexpr std::string_view kCountRange = "0 以上の整数";
constexpr std::string_view kTopRange = "1 以上の整数";
constexpr std::string_view kRadiusRange = "0 から 10 の秒数";
constexpr std::string_view kLengthRange = "0 以上の秒数";
constexpr std::string_view kExactLengthRange = "0 以上の秒数、小数は9桁まで";
constexpr std::string_view kJobsRange = "1 以上の整数";
constexpr std::string_view kPathRange = "空でないパス";

// What the options write while they are read: the arguments, and which required ones came.
struct Parsing {
    Arguments& arguments;
    bool hasStart = false;
    bool hasEnd = false;
    bool hasRepeat = false;
};

// Takes value number `which` of an option; false when the text is not a value it takes.
using TakeValue = bool (*)(std::string_view text, std::size_t which, Parsing& parsing);

bool TakeInt32(std::string_view text, std::int32_t least, std::int32_t& field) {
    const std::optional<std::int32_t> value = ParseInt32(text);
    if (!value || *value < least) return false;
    field = *value;
    return true;
}

constexpr std::int32_t kAnyInt32 = std::numeric_limits<std::int32_t>::min();

constexpr unsigned Bit(Command command) { return 1u << static_cast<unsigned>(command); }
constexpr unsigned kSave = Bit(Command::Save);
constexpr unsigned kPreview = Bit(Command::Preview);
constexpr unsigned kFind = Bit(Command::Find);
constexpr unsigned kBatch = Bit(Command::Batch);

bool TakePath(std::string_view text, std::string& field) {
    if (text.empty()) return false;
    field = text;
    return true;
}

// The one table of options: the commands each belongs to, how many values it takes, what they
// must be, and where they go. A repeated option takes its last value.
struct Option {
    std::string_view name;
    unsigned commands;       // Bit() of each command that takes it
    std::size_t values;      // 0: a switch
    std::string_view range;  // what a value must be, for the usage message
    TakeValue take;
};

bool TakeSeconds(std::string_view text, double& field) {
    const std::optional<double> seconds = ParseSeconds(text);
    if (seconds) field = *seconds;
    return seconds.has_value();
}

const std::array<Option, 15> kOptions{{
    {"--start", kSave | kPreview, 1, kInt32Range,
     [](std::string_view text, std::size_t, Parsing& p) {
         p.hasStart = TakeInt32(text, kAnyInt32, p.arguments.loopStart);
         return p.hasStart;
     }},
    {"--end", kSave | kPreview, 1, kInt32Range,
     [](std::string_view text, std::size_t, Parsing& p) {
         p.hasEnd = TakeInt32(text, kAnyInt32, p.arguments.loopEnd);
         return p.hasEnd;
     }},
    {"--repeat", kSave | kBatch, 1, kCountRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         p.hasRepeat = true;
         return TakeInt32(text, 0, p.arguments.repeatCount);
     }},
    {"--fade", kSave | kBatch, 1, kCountRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         return TakeInt32(text, 0, p.arguments.fadeSeconds);
     }},
    {"--smpl", kSave | kBatch, 0, "",
     [](std::string_view, std::size_t, Parsing& p) {
         p.arguments.samplerLoop = true;
         return true;
     }},
    {"--top", kFind, 1, kTopRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         return TakeInt32(text, 1, p.arguments.topCount);
     }},
    {"--near", kFind, 2, kInt32Range,
     [](std::string_view text, std::size_t which, Parsing& p) {
         p.arguments.near = true;
         return TakeInt32(text, kAnyInt32,
                          which == 0 ? p.arguments.nearStart : p.arguments.nearEnd);
     }},
    {"--radius", kFind, 1, kRadiusRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         const std::optional<double> radius = ParseRadiusSeconds(text);
         if (radius) p.arguments.radiusSeconds = *radius;
         return radius.has_value();
     }},
    {"--min-length", kFind | kBatch, 1, kLengthRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         return TakeSeconds(text, p.arguments.minLengthSeconds);
     }},
    {"--max-length", kFind | kBatch, 1, kLengthRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         return TakeSeconds(text, p.arguments.maxLengthSeconds);
     }},
    {"--out", kBatch, 1, kPathRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         return TakePath(text, p.arguments.outputFolder);
     }},
    {"--length", kBatch, 1, kExactLengthRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         p.arguments.targetLength = ParseExactSeconds(text);
         return p.arguments.targetLength.has_value();
     }},
    {"--jobs", kBatch, 1, kJobsRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         std::int32_t jobs = 0;
         if (!TakeInt32(text, 1, jobs)) return false;
         p.arguments.jobs = jobs;
         return true;
     }},
    {"--report", kBatch, 1, kPathRange,
     [](std::string_view text, std::size_t, Parsing& p) {
         return TakePath(text, p.arguments.reportPath);
     }},
    {"--dry-run", kBatch, 0, "",
     [](std::string_view, std::size_t, Parsing& p) {
         p.arguments.dryRun = true;
         return true;
     }},
}};

const Option* FindOption(std::string_view name) {
    for (const Option& option : kOptions)
        if (option.name == name) return &option;
    return nullptr;
}

// The loop rules the window keeps, with the limits in the message.
std::string LoopError(const wave::PcmFormat& format, std::int64_t dataBytes, std::int32_t loopStart,
                      std::int32_t loopEnd) {
    const wave::LoopLimits limits = wave::LoopLimitsOf(format, dataBytes);
    if (wave::KeepsLoopRule(limits, loopStart, loopEnd)) return "";
    return "ループ範囲が不正です：0 ≤ 開始、開始 + " + std::to_string(limits.halfWindowFrames) +
           " ≤ 終了 ≤ " + std::to_string(limits.lastFrame) + " にしてください（開始 " +
           std::to_string(loopStart) + "、終了 " + std::to_string(loopEnd) + "）";
}

Outcome Failure(int exitCode, std::string_view message) {
    Outcome outcome;
    outcome.exitCode = exitCode;
    outcome.err.assign(message);
    outcome.err += '\n';
    return outcome;
}

// "START END QUALITY": frames as integers, the quality in dB to one decimal (never "-0.0").
std::string CandidateLine(const finder::LoopCandidate& candidate) {
    return std::to_string(candidate.start) + " " + std::to_string(candidate.end) + " " +
           finder::QualityText(candidate.qualityDb) + "\n";
}

// The refined loop first when --near asks for one, then the finder's candidates, at most --top
// lines in all. With --near every line's points lie within --radius of the points given.
Outcome RunFind(const Arguments& arguments, const wave::ParsedWave& wave) {
    const auto top = static_cast<std::size_t>(arguments.topCount);
    std::vector<finder::LoopCandidate> candidates;
    const auto radiusFrames =
        static_cast<double>(finder::RadiusFrames(wave.format, arguments.radiusSeconds));
    const auto nearGiven = [&](const finder::LoopCandidate& c) {
        return !arguments.near ||
               (std::fabs(static_cast<double>(c.start) - arguments.nearStart) <= radiusFrames &&
                std::fabs(static_cast<double>(c.end) - arguments.nearEnd) <= radiusFrames);
    };
    if (arguments.near) {
        const std::optional<finder::LoopCandidate> refined =
            finder::RefineLoop(wave.format, wave.data, arguments.nearStart, arguments.nearEnd,
                               arguments.radiusSeconds);
        if (refined) candidates.push_back(*refined);
    }
    if (candidates.size() < top) {
        finder::FinderOptions options;
        options.minLengthSeconds = arguments.minLengthSeconds;
        options.maxLengthSeconds = arguments.maxLengthSeconds;
        // One more than asked for when the refined loop may be among them.
        const bool room = arguments.topCount < std::numeric_limits<std::int32_t>::max();
        options.maxCandidates =
            arguments.near && room ? arguments.topCount + 1 : arguments.topCount;
        for (const finder::LoopCandidate& found :
             finder::FindLoops(wave.format, wave.data, options)) {
            const bool listed = std::any_of(
                candidates.begin(), candidates.end(),
                [&](const auto& c) { return c.start == found.start && c.end == found.end; });
            if (!listed && nearGiven(found) && candidates.size() < top) candidates.push_back(found);
        }
    }
    if (candidates.empty()) return Failure(kExitFailed, wave::kNoLoopFound);
    Outcome outcome;
    for (const finder::LoopCandidate& candidate : candidates)
        outcome.out += CandidateLine(candidate);
    return outcome;
}

Outcome WritePreview(const Arguments& arguments, const wave::ParsedWave& wave) {
    // The reader accepts only sounds of at least five seconds by nAvgBytesPerSec, so four seconds
    // of bytes are fewer than the sound's own and the header's 32-bit fields hold them.
    const std::int64_t previewBytes = wave::PreviewBytes(wave.format);
    if (previewBytes <= 0 || previewBytes > static_cast<std::int64_t>(wave.data.size()))
        return Failure(kExitFailed, wave::SaveFailed(wave::SaveError::TooLarge));
    std::vector<std::uint8_t> preview(static_cast<std::size_t>(previewBytes));
    const std::string fillError =
        wave::FillPreview(wave.format, wave.data, arguments.loopStart, arguments.loopEnd, preview);
    if (!fillError.empty()) return Failure(kExitFailed, fillError);
    const std::vector<std::uint8_t> header = wave::WaveHeader(wave.format, previewBytes);
    const std::array<std::span<const std::uint8_t>, 2> parts{header, preview};
    const std::string writeError = files::SaveAtomically(arguments.outputPath, parts);
    if (!writeError.empty()) return Failure(kExitFailed, writeError);
    return Outcome{};
}

wave::LoopRequest RequestOf(const Arguments& arguments) {
    wave::LoopRequest request;
    request.loopStart = arguments.loopStart;
    request.loopEnd = arguments.loopEnd;
    request.repeatCount = arguments.repeatCount;
    request.fadeSeconds = arguments.fadeSeconds;
    request.samplerLoop = arguments.samplerLoop;
    return request;
}

// What refuses a command from the format and the payload's size alone: the loop rules (exit 2),
// then the output's sizes and its destination (exit 1); for find, only the loop of --near.
std::optional<Outcome> RefuseEarly(const Arguments& arguments, const wave::ParsedWave& wave) {
    if (arguments.command == Command::Find) {
        if (!arguments.near) return std::nullopt;
        const std::string nearError =
            LoopError(wave.format, wave.dataBytes, arguments.nearStart, arguments.nearEnd);
        if (!nearError.empty()) return Failure(kExitUsage, nearError);
        return std::nullopt;
    }
    const std::string loopError =
        LoopError(wave.format, wave.dataBytes, arguments.loopStart, arguments.loopEnd);
    if (!loopError.empty()) return Failure(kExitUsage, loopError);
    if (arguments.command == Command::Save) {
        wave::LoopedLayout layout;
        const std::string planError =
            wave::PlanLoopedWave(wave.format, wave.dataBytes, RequestOf(arguments), layout);
        if (!planError.empty()) return Failure(kExitFailed, planError);
    }
    const std::string destinationError = files::CheckSaveDestination(arguments.outputPath);
    if (!destinationError.empty()) return Failure(kExitFailed, destinationError);
    return std::nullopt;
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

ParsedArguments ParseArguments(std::span<const std::string_view> args) {
    ParsedArguments parsed;
    Arguments& result = parsed.arguments;
    if (args.empty() || args.front() == "help" || IsHelp(args.front())) return parsed;
    if (args.front() == "--version") {
        if (args.size() > 1) return UsageError("余分な引数です：" + std::string(args[1]));
        result.command = Command::Version;
        return parsed;
    }

    const std::string_view commandName = args.front();
    std::size_t pathsWanted = 2;
    if (commandName == "info") {
        result.command = Command::Info;
        pathsWanted = 1;
    } else if (commandName == "save") {
        result.command = Command::Save;
    } else if (commandName == "preview") {
        result.command = Command::Preview;
    } else if (commandName == "find") {
        result.command = Command::Find;
        pathsWanted = 1;
    } else if (commandName == "batch") {
        result.command = Command::Batch;
        pathsWanted = 0;  // one or more
    } else if (commandName.starts_with('-')) {
        return UsageError("不明なオプションです：" + std::string(commandName));
    } else {
        return UsageError("不明なコマンドです：" + std::string(commandName));
    }

    std::vector<std::string_view> paths;
    Parsing parsing{result};
    bool optionsEnded = false;  // after "--" every argument is a path, even one starting with '-'
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.front() != '-') {
            paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (IsHelp(arg)) return ParsedArguments{};

        const Option* option = FindOption(arg);
        if (option == nullptr) return UsageError("不明なオプションです：" + std::string(arg));
        if ((option->commands & Bit(result.command)) == 0)
            return UsageError(NotForThisCommandText(arg));
        if (option->values == 0) {
            option->take("", 0, parsing);
            continue;
        }
        if (i + option->values >= args.size()) return UsageError(MissingValueText(arg));
        for (std::size_t which = 0; which < option->values; ++which) {
            const std::string_view text = args[++i];
            if (!option->take(text, which, parsing))
                return UsageError(BadValueText(arg, text, option->range));
        }
    }

    if (result.command == Command::Batch) {
        if (paths.empty()) return UsageError("入力ファイルかフォルダを指定してください");
        if (result.outputFolder.empty()) return UsageError("必要なオプションがありません：--out");
        if (parsing.hasRepeat && result.targetLength)
            return UsageError("--repeat と --length は一緒に使えません");
        result.inputPaths.assign(paths.begin(), paths.end());
    } else {
        if (paths.size() < pathsWanted)
            return UsageError(pathsWanted == 1 ? "入力ファイルを指定してください"
                                               : "入力ファイルと出力ファイルを指定してください");
        if (paths.size() > pathsWanted)
            return UsageError("余分な引数です：" + std::string(paths[pathsWanted]));
        result.inputPath = paths[0];
        if (pathsWanted == 2) result.outputPath = paths[1];
        // An empty path names no file: refused before anything is read.
        if (result.inputPath.empty()) return UsageError("入力ファイルを指定してください");
        if (pathsWanted == 2 && result.outputPath.empty())
            return UsageError("出力ファイルを指定してください");
    }
    if (result.command == Command::Save || result.command == Command::Preview) {
        if (!parsing.hasStart) return UsageError("必要なオプションがありません：--start");
        if (!parsing.hasEnd) return UsageError("必要なオプションがありません：--end");
    }
    if (result.minLengthSeconds > result.maxLengthSeconds)
        return UsageError(
            "ループの長さの範囲が不正です：--min-length が --max-length より大きくなっています");
    if (!wave::SamplerLoopHasPass(result.samplerLoop, result.repeatCount))
        return UsageError("--smpl にはリピート回数 1 以上が必要です：--repeat " +
                          std::to_string(result.repeatCount));
    return parsed;
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

Outcome Run(const Arguments& arguments) {
    if (arguments.command == Command::Help) {
        Outcome outcome;
        outcome.out.assign(kUsage);
        return outcome;
    }
    if (arguments.command == Command::Version) {
        Outcome outcome;
        outcome.out = std::string("rundelt-cli ") + RUNDELT_VERSION + "\n";
        return outcome;
    }
    if (arguments.command == Command::Batch) return RunBatch(arguments);

    // The headers first: the information, every refusal of the input and of the loop, and a save
    // that could only fail come from them, before a payload of up to 2 GiB is read.
    const wave::ParseResult headers =
        files::ReadWaveFile(arguments.inputPath, wave::Payload::SizeOnly);
    if (headers.error != wave::WaveError::None)
        return Failure(kExitFailed, wave::UserMessage(headers.error));

    if (arguments.command == Command::Info) {
        Outcome outcome;
        outcome.out =
            wave::JoinLines(wave::InformationLines(arguments.inputPath, headers.wave.format,
                                                   headers.wave.dataBytes),
                            "\n");
        outcome.out += '\n';
        return outcome;
    }
    if (std::optional<Outcome> refused = RefuseEarly(arguments, headers.wave)) return *refused;

    const wave::ParseResult read = files::ReadWaveFile(arguments.inputPath);
    if (read.error != wave::WaveError::None)
        return Failure(kExitFailed, wave::UserMessage(read.error));
    const wave::ParsedWave& wave = read.wave;
    // The file may have changed since its headers were read: what is done follows what was read.
    if (std::optional<Outcome> refused = RefuseEarly(arguments, wave)) return *refused;

    if (arguments.command == Command::Find) return RunFind(arguments, wave);

    if (arguments.command == Command::Preview) return WritePreview(arguments, wave);

    const std::string saveError = files::WriteLoopedWaveFile(arguments.outputPath, wave.format,
                                                             wave.data, RequestOf(arguments));
    if (!saveError.empty()) return Failure(kExitFailed, saveError);
    return Outcome{};
}

Outcome Main(std::span<const std::string_view> args) {
    if (args.empty()) {
        Outcome outcome;
        outcome.exitCode = kExitUsage;
        outcome.err.assign(kUsage);
        return outcome;
    }
    const ParsedArguments parsed = ParseArguments(args);
    if (!parsed.error.empty()) {
        Outcome outcome = Failure(kExitUsage, parsed.error);
        outcome.err += kUsageHint;
        return outcome;
    }
    return Run(parsed.arguments);
}

}  // namespace cli
