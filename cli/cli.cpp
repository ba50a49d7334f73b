// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "files/atomic_save.h"
#include "files/sound_file.h"
#include "files/sound_writer.h"
#include "finder/loop_finder.h"
#include "wave/information_text.h"
#include "wave/loop_rules.h"
#include "wave/looped_wave.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

// The loop rules, with the limits in the message: the window's (save, preview), or our own
// commands' (find), which also take a loop that ends where the sound ends.
std::string LoopError(const wave::LoopLimits& limits, std::int32_t loopStart,
                      std::int32_t loopEnd) {
    if (wave::KeepsLoopRule(limits, loopStart, loopEnd)) return "";
    return wave::LoopOutsideRules(limits.halfWindowFrames, limits.lastFrame, loopStart, loopEnd);
}

// "START END QUALITY KIND": frames as integers, the quality in dB to one decimal (never "-0.0"),
// and what the loop was found from ("passes" or "file-end").
std::string CandidateLine(const finder::LoopCandidate& candidate) {
    return std::to_string(candidate.start) + " " + std::to_string(candidate.end) + " " +
           finder::QualityText(candidate.qualityDb) + " " +
           std::string(wave::LoopKindName(candidate.kind)) + "\n";
}

// The refined loop first when --near asks for one, then the finder's candidates, at most --top
// lines in all. With --near every line's points lie within --radius of the points given.
Outcome FindIn(const Arguments& arguments, const wave::ParsedWave& wave) {
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
                               arguments.radiusSeconds, FinderOptionsOf(arguments));
        if (refined) candidates.push_back(*refined);
    }
    if (candidates.size() < top) {
        finder::FinderOptions options = FinderOptionsOf(arguments);
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

Outcome PreviewOf(const Arguments& arguments, const wave::ParsedWave& wave) {
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

// What refuses a command from the format and the payload's size alone: the loop rules (exit 2),
// then the output's sizes and its destination (exit 1); for find, only the loop of --near.
std::optional<Outcome> RefuseEarly(const Arguments& arguments, const files::Sound& sound) {
    const wave::ParsedWave& wave = sound.wave;
    if (arguments.command == Command::Find) {
        if (!arguments.near) return std::nullopt;
        const std::string nearError =
            LoopError(wave::LoopLimitsToSoundEnd(wave.format, wave.dataBytes), arguments.nearStart,
                      arguments.nearEnd);
        if (!nearError.empty()) return Failure(kExitUsage, nearError);
        return std::nullopt;
    }
    const std::string loopError = LoopError(wave::LoopLimitsOf(wave.format, wave.dataBytes),
                                            arguments.loopStart, arguments.loopEnd);
    if (!loopError.empty()) return Failure(kExitUsage, loopError);
    if (arguments.command == Command::Save) {
        const files::Encoding encoding = EncodingOf(arguments, arguments.outputPath);
        if (arguments.samplerLoop && encoding.format != files::OutputFormat::Wav)
            return Failure(kExitUsage, wave::kSmplOnlyForWave);
        const std::string encodingError = files::CheckEncoding(sound, encoding);
        if (!encodingError.empty()) return Failure(kExitFailed, encodingError);
        wave::LoopedLayout layout;
        const std::string planError = wave::PlanLoopedWave(
            wave.format, wave.dataBytes,
            RequestOf(arguments, arguments.loopStart, arguments.loopEnd, arguments.repeatCount),
            layout);
        if (!planError.empty()) return Failure(kExitFailed, planError);
    }
    const std::string destinationError = files::CheckSaveDestination(arguments.outputPath);
    if (!destinationError.empty()) return Failure(kExitFailed, destinationError);
    return std::nullopt;
}

// The sound of a command on one file, read as the command needs it. The headers first: the
// information, every refusal of the input and of the loop, and a save that could only fail come
// from them, before a payload of up to 2 GiB is read. Then, for all but info, the payload, and
// the same refusals again: the file may have changed since its headers were read, and what is
// done follows what was read. The sound, or the outcome that ends the command.
// Other formats are read by every command; find also reads the wave files of other sample
// formats, which the commands the window shares refuse as the window does.
struct Read {
    files::SoundRead result;
    std::optional<Outcome> ended;
    std::string notes;  // with --verbose, what the reader noticed
};

Read ReadOnce(const Arguments& arguments, wave::Payload payload) {
    const files::WaveReaders readers = arguments.command == Command::Find
                                           ? files::WaveReaders::AlsoOtherSampleFormats
                                           : files::WaveReaders::AsTheWindow;
    Read read;
    read.result = files::ReadSound(arguments.inputPath, readers, wave::Payload::SizeOnly);
    if (!read.result.error.empty()) {
        read.ended = Failure(kExitFailed, read.result.error);
        return read;
    }
    if (payload == wave::Payload::SizeOnly) return read;
    if ((read.ended = RefuseEarly(arguments, read.result.sound))) return read;
    read.result = files::ReadSound(arguments.inputPath, readers);
    if (!read.result.error.empty()) {
        read.ended = Failure(kExitFailed, read.result.error);
        return read;
    }
    read.ended = RefuseEarly(arguments, read.result.sound);
    return read;
}

// The read, its notes before whatever else the command prints on stderr.
Read ReadFor(const Arguments& arguments, wave::Payload payload) {
    Read read = ReadOnce(arguments, payload);
    if (!arguments.verbose) return read;
    read.notes = NoteLines(arguments.inputPath, read.result.sound.notes);
    if (read.ended) read.ended->err.insert(0, read.notes);
    return read;
}

Outcome WithNotes(Outcome outcome, const Read& read) {
    outcome.err.insert(0, read.notes);
    return outcome;
}

Outcome RunHelp(const Arguments&) {
    Outcome outcome;
    outcome.out.assign(wave::kCommandUsage);
    return outcome;
}

Outcome RunVersion(const Arguments&) {
    Outcome outcome;
    outcome.out = std::string("rundelt-cli ") + RUNDELT_VERSION + "\n";
    return outcome;
}

Outcome RunInfo(const Arguments& arguments) {
    const Read read = ReadFor(arguments, wave::Payload::SizeOnly);
    if (read.ended) return *read.ended;
    std::int64_t dataBytes = 0;
    const wave::PcmFormat shown = files::ShownFormat(read.result.sound, dataBytes);
    Outcome outcome;
    outcome.out =
        wave::JoinLines(wave::InformationLines(arguments.inputPath, shown, dataBytes), "\n");
    outcome.out += '\n';
    return WithNotes(outcome, read);
}

Outcome RunSave(const Arguments& arguments) {
    const Read read = ReadFor(arguments, wave::Payload::Read);
    if (read.ended) return *read.ended;
    const std::string saveError = files::WriteLoopedSound(
        arguments.outputPath, read.result.sound,
        RequestOf(arguments, arguments.loopStart, arguments.loopEnd, arguments.repeatCount),
        EncodingOf(arguments, arguments.outputPath));
    if (!saveError.empty()) return WithNotes(Failure(kExitFailed, saveError), read);
    return WithNotes(Outcome{}, read);
}

Outcome RunPreview(const Arguments& arguments) {
    const Read read = ReadFor(arguments, wave::Payload::Read);
    if (read.ended) return *read.ended;
    return WithNotes(PreviewOf(arguments, read.result.sound.wave), read);
}

Outcome RunFind(const Arguments& arguments) {
    const Read read = ReadFor(arguments, wave::Payload::Read);
    if (read.ended) return *read.ended;
    return WithNotes(FindIn(arguments, read.result.sound.wave), read);
}

const std::array<CommandSpec, 10> kCommands{{
    {"info", Command::Info, Paths::One, {}, RunInfo},
    {"save", Command::Save, Paths::Two, {"--start", "--end"}, RunSave},
    {"preview", Command::Preview, Paths::Two, {"--start", "--end"}, RunPreview},
    {"find", Command::Find, Paths::One, {}, RunFind},
    {"batch", Command::Batch, Paths::OneOrMore, {"--out"}, RunBatch},
    {"tag", Command::Tag, Paths::OneOrMore, {}, RunBatch},
    {"help", Command::Help, Paths::Ignored, {}, RunHelp},
    {"--help", Command::Help, Paths::Ignored, {}, RunHelp},
    {"-h", Command::Help, Paths::Ignored, {}, RunHelp},
    {"--version", Command::Version, Paths::None, {}, RunVersion},
}};

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }

std::string NoteLines(std::string_view path, std::span<const wave::ReadNoteValues> notes) {
    std::string lines;
    for (const wave::ReadNoteValues& note : notes) lines += wave::ReadNoteText(path, note) + "\n";
    return lines;
}

Outcome Run(const Arguments& arguments) {
    const auto spec = std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandSpec& c) {
        return c.command == arguments.command;
    });
    return spec->run(arguments);
}

Outcome Main(std::span<const std::string_view> args) {
    if (args.empty()) {
        Outcome outcome;
        outcome.exitCode = kExitUsage;
        outcome.err.assign(wave::kCommandUsage);
        return outcome;
    }
    const ParsedArguments parsed = ParseArguments(kCommands, args);
    if (!parsed.error.empty()) {
        Outcome outcome = Failure(kExitUsage, parsed.error);
        outcome.err += wave::kUsageHint;
        return outcome;
    }
    return Run(parsed.arguments);
}

}  // namespace cli
