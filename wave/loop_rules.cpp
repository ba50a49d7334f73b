// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/loop_rules.h"

#include <algorithm>

#include "wave/rounding.h"

namespace wave {

std::int64_t HalfWindowFrames(const PcmFormat& format) {
    return std::int64_t{format.nSamplesPerSec} * 4 / 2;
}

// Bytes per frame come from wBitsPerSample and nChannels (not nBlockAlign), divided as reals.
// When they give no positive size (a format the reader refuses) the sound has no frames: -1.
std::int32_t LastFrameOf(const PcmFormat& format, std::int64_t dataBytes) {
    const double frameBytes = format.wBitsPerSample / 8.0 * format.nChannels;
    if (frameBytes <= 0.0) return -1;
    return ClampToInt32(RoundHalfEven(static_cast<double>(dataBytes) / frameBytes - 1.0));
}

LoopLimits LoopLimitsOf(const PcmFormat& format, std::int64_t dataBytes) {
    return LoopLimits{HalfWindowFrames(format), LastFrameOf(format, dataBytes)};
}

LoopLimits LoopLimitsWithin(const PcmFormat& format, std::int64_t dataBytes) {
    LoopLimits limits = LoopLimitsOf(format, dataBytes);
    if (format.nBlockAlign > 0) {
        limits.lastFrame = static_cast<std::int32_t>(
            std::min<std::int64_t>(limits.lastFrame, dataBytes / format.nBlockAlign - 1));
    }
    return limits;
}

LoopLimits LoopLimitsToSoundEnd(const PcmFormat& format, std::int64_t dataBytes) {
    LoopLimits limits = LoopLimitsOf(format, dataBytes);
    // Whole frames only: a payload that ends part way through a frame has no loop in that part.
    const std::int64_t frameBytes = std::int64_t{format.wBitsPerSample} / 8 * format.nChannels;
    if (frameBytes <= 0 || format.wBitsPerSample % 8 != 0) return limits;
    std::int64_t frames = dataBytes / frameBytes;
    if (format.nBlockAlign > 0)
        frames = std::min<std::int64_t>(frames, dataBytes / format.nBlockAlign);
    limits.lastFrame = ClampToInt32(frames);
    return limits;
}

bool KeepsLoopRule(const LoopLimits& limits, std::int64_t loopStart, std::int64_t loopEnd) {
    return loopStart >= 0 && loopStart + limits.halfWindowFrames <= loopEnd &&
           loopEnd <= limits.lastFrame;
}

std::int32_t ApplyStartRule(std::int32_t loopStart, std::int32_t loopEnd,
                            std::int64_t halfWindowFrames) {
    std::int64_t start = loopStart;
    // A correction lands one frame beyond the bound; exactly halfWindowFrames apart stands.
    if (start > std::int64_t{loopEnd} - halfWindowFrames) start = loopEnd - halfWindowFrames - 1;
    if (start < 0) start = 0;
    return ClampToInt32(start);
}

std::int32_t ApplyEndRule(std::int32_t loopEnd, std::int32_t loopStart,
                          std::int64_t halfWindowFrames, std::int32_t lastFrame) {
    std::int64_t end = loopEnd;
    if (end < std::int64_t{loopStart} + halfWindowFrames) end = loopStart + halfWindowFrames + 1;
    if (end > lastFrame) end = lastFrame;
    return ClampToInt32(end);
}

}  // namespace wave
