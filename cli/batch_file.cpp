// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "files/loop_tags.h"
#include "files/save_errors.h"
#include "files/sound_file.h"
#include "files/sound_writer.h"
#include "finder/loop_finder.h"
#include "wave/join_picture.h"
#include "wave/loop_rules.h"
#include "wave/looped_wave.h"
#include "wave/rounding.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// The fewest passes, at least one, that make the file at least `length` long with its fade, in
// whole frames and exactly: a length of exactly the intro, N passes and the fade takes N.
std::int32_t PassesFor(const ExactSeconds& length, std::int32_t rate, std::int32_t loopStart,
                       std::int32_t loopFrames, std::int32_t fadeSeconds) {
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    const std::int64_t required =
        length.whole * rate +
        (length.nanoseconds * rate + kNanosecondsPerSecond - 1) / kNanosecondsPerSecond;
    const std::int64_t rest = required - loopStart - std::int64_t{fadeSeconds} * rate;
    if (rest <= 0 || loopFrames < 1) return 1;
    const std::int64_t passes = (rest + loopFrames - 1) / loopFrames;
    return static_cast<std::int32_t>(std::min<std::int64_t>(passes, wave::kInt32Max));
}

// What a page report shows of the loop: its join and the whole sound as pictures, the seam
// preview as a wave file beside the page. A preview that cannot be written is told on the page
// in its place; the loop itself is not the worse for it.
void Illustrate(const Item& item, const Arguments& arguments, const wave::ParsedWave& sound,
                Result& result) {
    if (!IsPageReport(arguments.reportPath) || !result.loop) return;
    const wave::JoinPicture picture =
        wave::PictureOfJoin(sound.format, sound.data, result.loop->start, result.loop->end);
    result.joinSvg = wave::JoinSvg(picture);
    result.overviewSvg = wave::OverviewSvg(picture);
    const std::int64_t bytes = wave::PreviewBytes(sound.format);
    if (bytes <= 0 || bytes > static_cast<std::int64_t>(sound.data.size())) return;
    std::vector<std::uint8_t> preview(static_cast<std::size_t>(bytes));
    if (!wave::FillPreview(sound.format, sound.data, result.loop->start, result.loop->end, preview)
             .empty())
        return;
    const std::string name = SeamFileName(item.number);
    // A wave file: the join heard sample for sample, with no codec to smear or hide a click, and
    // cheap beside a lossy encode, which would cost more than the search of the file.
    const files::Encoding encoding{};
    const fs::path folder = SeamsFolderOf(arguments.reportPath);
    result.previewFailure =
        files::WritePcmSound((folder / name).string(), sound.format, preview, encoding);
    if (result.previewFailure.empty()) result.preview = folder.filename().string() + "/" + name;
}

// The file read, and its loop found (or, for tag, the one given): whether the work goes on.
bool ReadAndFind(const Item& item, const Arguments& arguments, files::SoundRead& read,
                 Result& result) {
    result.finished = true;
    if (!item.refusal.empty()) {
        result.message = item.refusal;
        return false;
    }
    read = files::ReadSound(item.path, files::WaveReaders::AlsoOtherSampleFormats);
    if (arguments.verbose) {
        for (const wave::ReadNoteValues& note : read.sound.notes)
            result.notes.push_back(wave::ReadNoteText(item.path, note));
    }
    if (!read.error.empty()) {
        result.message = std::move(read.error);
        return false;
    }
    const wave::ParsedWave& sound = read.sound.wave;
    result.rate = std::max<std::int32_t>(1, sound.format.nSamplesPerSec);
    if (arguments.command == Command::Tag && arguments.pointsGiven) {
        const wave::LoopLimits limits = wave::LoopLimitsToSoundEnd(sound.format, sound.dataBytes);
        if (!wave::KeepsLoopRule(limits, arguments.loopStart, arguments.loopEnd)) {
            result.message = wave::LoopOutsideRules(limits.halfWindowFrames, limits.lastFrame,
                                                    arguments.loopStart, arguments.loopEnd);
            return false;
        }
        result.loop = finder::MeasureLoop(sound.format, sound.data, arguments.loopStart,
                                          arguments.loopEnd, FinderOptionsOf(arguments));
        if (!result.loop) result.message = wave::UserMessage(wave::WaveError::BadFormat);
        Illustrate(item, arguments, sound, result);
        return result.loop.has_value();
    }
    const std::vector<finder::LoopCandidate> found =
        finder::FindLoops(sound.format, sound.data, FinderOptionsOf(arguments));
    if (found.empty()) {
        result.status = wave::BatchStatus::NoLoop;
        result.message = wave::kNoLoopFound;
        return false;
    }
    result.loop = found.front();
    result.others.assign(found.begin() + 1, found.end());
    Illustrate(item, arguments, sound, result);
    return true;
}

// A result the batch was stopped before: it is left out of the report, and so is its seam
// preview, which no page would link.
Result Unfinished(Result result, const Arguments& arguments) {
    result.finished = false;
    if (!result.preview.empty()) {
        std::error_code ignored;
        fs::remove(fs::path(SeamsFolderOf(arguments.reportPath)).parent_path() / result.preview,
                   ignored);
    }
    return result;
}

Result TagOneFile(const Item& item, const Arguments& arguments, const std::atomic<bool>& stop) {
    Result result;
    files::SoundRead read;
    if (!ReadAndFind(item, arguments, read, result)) return result;
    result.status = wave::BatchStatus::Looped;
    if (arguments.dryRun) return result;
    if (stop.load()) return Unfinished(std::move(result), arguments);
    const files::LoopTag tag{result.loop->start,
                             std::int64_t{result.loop->end} - result.loop->start};
    std::string message = files::TagFile(item.path, read.sound, tag);
    if (!message.empty()) {
        result.status = wave::BatchStatus::WriteFailed;
        result.message = std::move(message);
    }
    return result;
}

}  // namespace

Result LoopOneFile(const Item& item, const Arguments& arguments, const std::atomic<bool>& stop) {
    if (arguments.command == Command::Tag) return TagOneFile(item, arguments, stop);
    Result result;
    files::SoundRead read;
    if (!ReadAndFind(item, arguments, read, result)) return result;
    const files::Sound& sound = read.sound;

    const std::int32_t passes =
        arguments.targetLength
            ? PassesFor(*arguments.targetLength, result.rate, result.loop->start,
                        result.loop->end - result.loop->start, arguments.fadeSeconds)
            : arguments.repeatCount;
    const wave::LoopRequest request =
        RequestOf(arguments, result.loop->start, result.loop->end, passes);
    // A source the output format cannot hold is refused, in a dry run too.
    const files::Encoding encoding = EncodingOf(arguments, item.output);
    if (std::string refusal = files::CheckEncoding(sound, encoding); !refusal.empty()) {
        result.message = std::move(refusal);
        return result;
    }
    result.status = wave::BatchStatus::Looped;
    if (arguments.dryRun) return result;
    if (stop.load()) return Unfinished(std::move(result), arguments);
    std::error_code error;
    fs::create_directories(fs::path(item.output).parent_path(), error);
    std::string message = error
                              ? files::SaveFailedErrno(error.value())
                              : files::WriteLoopedSound(item.output, sound, request,
                                                        EncodingOf(arguments, item.output), &stop);
    if (!message.empty()) {
        // Stopped midway: nothing of the output was left.
        if (stop.load()) return Unfinished(std::move(result), arguments);
        result.status = wave::BatchStatus::WriteFailed;
        result.message = std::move(message);
    }
    return result;
}

}  // namespace cli
