// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "files/looped_wave_file.h"
#include "files/save_errors.h"
#include "files/wave_file.h"
#include "wave/looped_wave.h"
#include "wave/rounding.h"
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

}  // namespace

Result LoopOneFile(const Item& item, const Arguments& arguments, const std::atomic<bool>& stop) {
    Result result;
    result.finished = true;
    if (!item.refusal.empty()) {
        result.message = item.refusal;
        return result;
    }
    const wave::ParseResult read = files::ReadWaveFile(item.path);
    if (read.error != wave::WaveError::None) {
        result.message = wave::UserMessage(read.error);
        return result;
    }
    const wave::ParsedWave& sound = read.wave;
    result.rate = std::max<std::int32_t>(1, sound.format.nSamplesPerSec);
    const std::vector<finder::LoopCandidate> found =
        finder::FindLoops(sound.format, sound.data, FinderOptionsOf(arguments));
    if (found.empty()) {
        result.status = wave::BatchStatus::NoLoop;
        result.message = wave::kNoLoopFound;
        return result;
    }
    result.loop = found.front();

    const std::int32_t passes =
        arguments.targetLength
            ? PassesFor(*arguments.targetLength, result.rate, result.loop->start,
                        result.loop->end - result.loop->start, arguments.fadeSeconds)
            : arguments.repeatCount;
    const wave::LoopRequest request =
        RequestOf(arguments, result.loop->start, result.loop->end, passes);
    result.status = wave::BatchStatus::Looped;
    if (arguments.dryRun) return result;
    if (stop.load()) {
        result.finished = false;
        return result;
    }
    std::error_code error;
    fs::create_directories(fs::path(item.output).parent_path(), error);
    std::string message =
        error ? files::SaveFailedErrno(error.value())
              : files::WriteLoopedWaveFile(item.output, sound.format, sound.data, request, &stop);
    if (!message.empty()) {
        if (stop.load()) result.finished = false;  // stopped midway: nothing was left
        result.status = wave::BatchStatus::WriteFailed;
        result.message = std::move(message);
    }
    return result;
}

}  // namespace cli
