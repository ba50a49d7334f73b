#include "cli/cli.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "sound/loop_finder.h"
#include "sound/wave_core.h"

namespace cli {

namespace {

constexpr std::string_view kUsage =
    "使い方：\n"
    "  rundelt-cli info 入力.wav\n"
    "  rundelt-cli save 入力.wav 出力.wav --start 開始 --end 終了 [--repeat 回数] [--fade 秒数] [--smpl]\n"
    "  rundelt-cli preview 入力.wav 出力.wav --start 開始 --end 終了\n"
    "  rundelt-cli find 入力.wav [--top 件数] [--near 開始 終了 [--radius 秒数]]\n"
    "  rundelt-cli --help\n"
    "\n"
    "  info     ファイルの情報を表示します\n"
    "  save     ループしたファイルを書き出します（既定：--repeat 2 --fade 5）\n"
    "           --smpl で最初のループ1回分を smpl チャンクに記録します\n"
    "  preview  ループのつなぎ目の前後2秒ずつ、4秒のファイルを書き出します\n"
    "  find     ループの候補を良い順に1行に1つ「開始 終了 つなぎ目の品質(dB)」で表示します\n"
    "           （既定：--top 5）。--near は指定のループを各点 --radius 秒（既定 0.5、10 まで）\n"
    "           の範囲で合わせ直し、その結果を最初に表示します\n"
    "\n"
    "開始と終了はフレーム番号で、0 ≤ 開始、開始 + 2秒 ≤ 終了 ≤ 最後のフレーム です。\n"
    "終了コード：0 成功、1 読み込みか書き込みの失敗かループ候補なし、2 引数かループ範囲の誤り\n";

constexpr std::string_view kUsageHint = "使い方は rundelt-cli --help で表示します\n";

struct OptionSpec {
    std::string_view name;
    std::int32_t Arguments::*field;
    std::int32_t minimum;
    bool forSave;
    bool forPreview;
};

constexpr std::array<OptionSpec, 4> kOptions{{
    {"--start", &Arguments::loopStart, std::numeric_limits<std::int32_t>::min(), true, true},
    {"--end", &Arguments::loopEnd, std::numeric_limits<std::int32_t>::min(), true, true},
    {"--repeat", &Arguments::repeatCount, 0, true, false},
    {"--fade", &Arguments::fadeSeconds, 0, true, false},
}};

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

ParsedArguments NotForThisCommand(std::string_view option) {
    return UsageError(NotForThisCommandText(option));
}

// The loop rules the window keeps: the seam preview needs two seconds on each side of the seam
// inside the sound, and the writer reads nothing past the last frame.
std::string LoopError(const wavemisc::PcmFormat& format, std::int64_t dataBytes,
                      std::int32_t loopStart, std::int32_t loopEnd) {
    const std::int64_t halfWindow = wavemisc::HalfWindowFrames(format);
    const std::int64_t lastFrame = wavemisc::LastFrameOf(format, dataBytes);
    if (loopStart >= 0 && std::int64_t{loopStart} + halfWindow <= loopEnd && loopEnd <= lastFrame)
        return "";
    return "ループ範囲が不正です：0 ≤ 開始、開始 + " + std::to_string(halfWindow) +
           " ≤ 終了 ≤ " + std::to_string(lastFrame) + " にしてください（開始 " +
           std::to_string(loopStart) + "、終了 " + std::to_string(loopEnd) + "）";
}

Outcome Failure(int exitCode, std::string_view message) {
    Outcome outcome;
    outcome.exitCode = exitCode;
    outcome.err.assign(message);
    outcome.err += '\n';
    return outcome;
}

// --top, --near and --radius: nothing when args[i] is none of them, otherwise "" with `i` on its
// last value, or the usage message.
std::optional<std::string> ParseFindOption(std::span<const std::string_view> args, std::size_t& i,
                                           Arguments& result) {
    const std::string_view name = args[i];
    const std::size_t values = name == "--near" ? 2 : name == "--top" || name == "--radius" ? 1 : 0;
    if (values == 0) return std::nullopt;
    if (result.command != Command::Find)
        return NotForThisCommandText(name);
    if (i + values >= args.size()) return MissingValueText(name);
    if (name == "--radius") {
        const std::string_view text = args[++i];
        const std::optional<double> radius = ParseRadiusSeconds(text);
        if (!radius) return BadValueText(name, text, "0 から 10 の秒数");
        result.radiusSeconds = *radius;
        return "";
    }
    if (name == "--top") {
        const std::string_view text = args[++i];
        const std::optional<std::int32_t> top = ParseInt32(text);
        if (!top || *top < 1) return BadValueText(name, text, "1 以上の整数");
        result.topCount = *top;
        return "";
    }
    for (std::int32_t* point : {&result.nearStart, &result.nearEnd}) {
        const std::string_view text = args[++i];
        const std::optional<std::int32_t> value = ParseInt32(text);
        if (!value) return BadValueText(name, text, kInt32Range);
        *point = *value;
    }
    result.near = true;
    return "";
}

// "START END QUALITY": frames as integers, the quality in dB to one decimal (never "-0.0").
std::string CandidateLine(const wavemisc::LoopCandidate& candidate) {
    double quality = std::round(candidate.qualityDb * 10.0) / 10.0;
    if (quality == 0.0) quality = 0.0;
    char text[64];
    std::snprintf(text, sizeof text, "%d %d %.1f\n", candidate.start, candidate.end, quality);
    return text;
}

// The refined loop first when --near asks for one, then the finder's candidates, at most
// --top lines in all.
Outcome RunFind(const Arguments& arguments, const wavemisc::ParsedWave& wave) {
    const auto top = static_cast<std::size_t>(arguments.topCount);
    std::vector<wavemisc::LoopCandidate> candidates;
    if (arguments.near) {
        const std::optional<wavemisc::LoopCandidate> refined = wavemisc::RefineLoop(
            wave.format, wave.data, arguments.nearStart, arguments.nearEnd, arguments.radiusSeconds);
        if (refined) candidates.push_back(*refined);
    }
    if (candidates.size() < top) {
        wavemisc::FinderOptions options;
        // One more than asked for when the refined loop may be among them.
        const bool room = arguments.topCount < std::numeric_limits<std::int32_t>::max();
        options.maxCandidates = arguments.near && room ? arguments.topCount + 1 : arguments.topCount;
        for (const wavemisc::LoopCandidate& found : wavemisc::FindLoops(wave.format, wave.data, options)) {
            const bool listed = std::any_of(candidates.begin(), candidates.end(), [&](const auto& c) {
                return c.start == found.start && c.end == found.end;
            });
            if (!listed && candidates.size() < top) candidates.push_back(found);
        }
    }
    if (candidates.empty()) return Failure(kExitFailed, wavemisc::kNoLoopFound);
    Outcome outcome;
    for (const wavemisc::LoopCandidate& candidate : candidates) outcome.out += CandidateLine(candidate);
    return outcome;
}

Outcome WritePreview(const Arguments& arguments, const wavemisc::ParsedWave& wave) {
    // The reader accepts only sounds of at least five seconds by nAvgBytesPerSec, so four seconds
    // of bytes are fewer than the sound's own and the header's 32-bit fields hold them.
    const std::int64_t previewBytes = std::int64_t{wave.format.nAvgBytesPerSec} * 4;
    if (previewBytes <= 0 || previewBytes > static_cast<std::int64_t>(wave.data.size()))
        return Failure(kExitFailed, wavemisc::SaveFailedErrno(EFBIG));
    std::vector<std::uint8_t> preview(static_cast<std::size_t>(previewBytes));
    const std::string fillError = wavemisc::FillPreview(wave.format, wave.data, arguments.loopStart,
                                                        arguments.loopEnd, preview);
    if (!fillError.empty()) return Failure(kExitFailed, fillError);
    const std::vector<std::uint8_t> header = wavemisc::WaveHeader(wave.format, previewBytes);
    const std::array<std::span<const std::uint8_t>, 2> parts{header, preview};
    const std::string writeError = wavemisc::WriteFileAtomically(arguments.outputPath, parts);
    if (!writeError.empty()) return Failure(kExitFailed, writeError);
    return Outcome{};
}

wavemisc::LoopRequest RequestOf(const Arguments& arguments) {
    wavemisc::LoopRequest request;
    request.loopStart = arguments.loopStart;
    request.loopEnd = arguments.loopEnd;
    request.repeatCount = arguments.repeatCount;
    request.fadeSeconds = arguments.fadeSeconds;
    request.samplerLoop = arguments.samplerLoop;
    return request;
}

// What refuses a command from the format and the payload's size alone: the loop rules (exit 2),
// then the output's sizes and its destination (exit 1); for find, only the loop of --near.
std::optional<Outcome> RefuseEarly(const Arguments& arguments, const wavemisc::ParsedWave& wave) {
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
        wavemisc::LoopedLayout layout;
        const std::string planError =
            wavemisc::PlanLoopedWave(wave.format, wave.dataBytes, RequestOf(arguments), layout);
        if (!planError.empty()) return Failure(kExitFailed, planError);
    }
    const std::string destinationError = wavemisc::CheckSaveDestination(arguments.outputPath);
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
        if (magnitude > wavemisc::kInt32Max + 1) return std::nullopt;  // stops before int64 could wrap
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > wavemisc::kInt32Max) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

ParsedArguments ParseArguments(std::span<const std::string_view> args) {
    ParsedArguments parsed;
    Arguments& result = parsed.arguments;
    if (args.empty() || args.front() == "help" || IsHelp(args.front())) return parsed;

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
    } else if (commandName.starts_with('-')) {
        return UsageError("不明なオプションです：" + std::string(commandName));
    } else {
        return UsageError("不明なコマンドです：" + std::string(commandName));
    }

    std::vector<std::string_view> paths;
    bool seenStart = false;
    bool seenEnd = false;
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
        if (arg == "--smpl") {  // a switch without a value
            if (result.command != Command::Save) return NotForThisCommand(arg);
            result.samplerLoop = true;
            continue;
        }
        if (const std::optional<std::string> findError = ParseFindOption(args, i, result)) {
            if (!findError->empty()) return UsageError(*findError);
            continue;
        }

        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : kOptions)
            if (candidate.name == arg) spec = &candidate;
        if (spec == nullptr) return UsageError("不明なオプションです：" + std::string(arg));
        const bool allowed = (result.command == Command::Save && spec->forSave) ||
                             (result.command == Command::Preview && spec->forPreview);
        if (!allowed) return NotForThisCommand(arg);
        if (i + 1 >= args.size()) return UsageError(MissingValueText(arg));

        const std::string_view text = args[++i];
        const std::optional<std::int32_t> value = ParseInt32(text);
        if (!value || *value < spec->minimum) {
            const std::string_view range = spec->minimum == 0 ? "0 以上の整数" : kInt32Range;
            return UsageError(BadValueText(arg, text, range));
        }
        result.*(spec->field) = *value;  // a repeated option: the last one wins
        seenStart = seenStart || spec->name == "--start";
        seenEnd = seenEnd || spec->name == "--end";
    }

    if (paths.size() < pathsWanted)
        return UsageError(pathsWanted == 1 ? "入力ファイルを指定してください"
                                           : "入力ファイルと出力ファイルを指定してください");
    if (paths.size() > pathsWanted)
        return UsageError("余分な引数です：" + std::string(paths[pathsWanted]));
    result.inputPath = paths[0];
    if (pathsWanted == 2) result.outputPath = paths[1];
    if (result.command == Command::Save || result.command == Command::Preview) {
        if (!seenStart) return UsageError("必要なオプションがありません：--start");
        if (!seenEnd) return UsageError("必要なオプションがありません：--end");
    }
    // The chunk marks the first loop pass; without one there is nothing to mark.
    if (result.samplerLoop && result.repeatCount < 1)
        return UsageError("--smpl にはリピート回数 1 以上が必要です：--repeat " +
                          std::to_string(result.repeatCount));
    return parsed;
}

std::optional<double> ParseRadiusSeconds(std::string_view text) {
    const bool plain = !text.empty() && text.front() != '.' && text.back() != '.' &&
                       std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; }) &&
                       std::count(text.begin(), text.end(), '.') <= 1;
    if (!plain) return std::nullopt;
    double seconds = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds > 10.0) return std::nullopt;
    return seconds;
}

std::string_view UsageText() { return kUsage; }

Outcome Run(const Arguments& arguments) {
    if (arguments.command == Command::Help) {
        Outcome outcome;
        outcome.out.assign(kUsage);
        return outcome;
    }

    // The headers first: the information, every refusal of the input and of the loop, and a save
    // that could only fail come from them, before a payload of up to 2 GiB is read.
    const wavemisc::ParseResult headers =
        wavemisc::ReadWaveFile(arguments.inputPath, wavemisc::Payload::SizeOnly);
    if (headers.error != wavemisc::WaveError::None)
        return Failure(kExitFailed, wavemisc::UserMessage(headers.error));

    if (arguments.command == Command::Info) {
        Outcome outcome;
        outcome.out = wavemisc::JoinLines(
            wavemisc::InformationLines(arguments.inputPath, headers.wave.format, headers.wave.dataBytes),
            "\n");
        outcome.out += '\n';
        return outcome;
    }
    if (std::optional<Outcome> refused = RefuseEarly(arguments, headers.wave)) return *refused;

    const wavemisc::ParseResult read = wavemisc::ReadWaveFile(arguments.inputPath);
    if (read.error != wavemisc::WaveError::None)
        return Failure(kExitFailed, wavemisc::UserMessage(read.error));
    const wavemisc::ParsedWave& wave = read.wave;
    // The file may have changed since its headers were read: what is done follows what was read.
    if (std::optional<Outcome> refused = RefuseEarly(arguments, wave)) return *refused;

    if (arguments.command == Command::Find) return RunFind(arguments, wave);

    if (arguments.command == Command::Preview) return WritePreview(arguments, wave);

    const std::string saveError = wavemisc::WriteLoopedWaveFile(arguments.outputPath, wave.format,
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
