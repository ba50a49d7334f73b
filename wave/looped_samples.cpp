// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/looped_samples.h"

#include <algorithm>
#include <new>
#include <vector>

#include "wave/fade.h"
#include "wave/user_texts.h"

namespace wave {

std::string SampleSink::FailureReason() const { return SaveFailed(SaveError::WriteFailed); }

std::string RenderLoopedSamples(const PcmFormat& format, std::span<const std::int32_t> samples,
                                int bits, const LoopRequest& request, SampleSink& sink) {
    const std::int64_t channels = format.nChannels;
    const std::int64_t bytesPerSample = format.wBitsPerSample / 8;
    if (channels < 1 || bytesPerSample < 1) return SaveFailed(SaveError::InconsistentFormat);
    LoopedLayout layout;
    if (std::string message = PlanLoopedWave(
            format, static_cast<std::int64_t>(samples.size()) * bytesPerSample, request, layout);
        !message.empty()) {
        return message;
    }
    const auto slice = [&](std::int64_t frame, std::int64_t frames) {
        return samples.subspan(static_cast<std::size_t>(frame * channels),
                               static_cast<std::size_t>(frames * channels));
    };
    const auto put = [&](std::span<const std::int32_t> part) {
        return part.empty() || sink.Put(part);
    };
    const std::int64_t loopFrames = std::int64_t{request.loopEnd} - request.loopStart;
    if (!put(slice(0, request.loopStart))) return sink.FailureReason();
    for (std::int32_t pass = 0; pass < request.repeatCount; ++pass) {
        if (!put(slice(request.loopStart, loopFrames))) return sink.FailureReason();
    }
    std::vector<std::int32_t> tail;
    try {
        tail.reserve(static_cast<std::size_t>(layout.tailFrames * channels));
    } catch (const std::bad_alloc&) {
        return SaveFailed(SaveError::OutOfMemory);
    }
    // Whole passes of the loop from its start, then the first frames of one more.
    for (std::int64_t left = layout.tailFrames; left > 0;) {
        const std::int64_t frames = std::min(left, loopFrames);
        const std::span<const std::int32_t> part = slice(request.loopStart, frames);
        tail.insert(tail.end(), part.begin(), part.end());
        left -= frames;
    }
    ApplyFadeWide(tail, bits);
    if (!put(tail)) return sink.FailureReason();
    return "";
}

}  // namespace wave
