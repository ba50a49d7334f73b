// SPDX-License-Identifier: GPL-3.0-or-later
// The loop rules: how far apart the loop's ends must stay, the last frame a loop may reach (the
// window's, and our own commands', which also take a loop that ends with the sound), the kinds
// of loop, and the clamping of each point when it is set. Their one home: the window's editing,
// the command line's checks and the seam finder all use these. Every result that lands in a 32-bit
// field is computed wide and clamped, never wrapped. Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wave/pcm_format.h"

namespace wave {

// Two seconds of frames: nSamplesPerSec * 4 / 2, exact for every accepted format.
std::int64_t HalfWindowFrames(const PcmFormat& format);

// DataSize / (wBitsPerSample / 8 * nChannels) - 1, rounded half to even, clamped to 32 bits.
// -1 when bits or channels give no positive frame size (never for a format the reader accepts).
std::int32_t LastFrameOf(const PcmFormat& format, std::int64_t dataBytes);

// What a loop was found from, and so what its seam is measured against: one pass of music that
// repeats, against its own repetition; or a loop that ends where the file ends, in a file that
// plays its loop once (the whole file, or an intro and one pass), at the join of its end to its
// start.
enum class LoopKind { Passes, FileEnd };
inline constexpr std::size_t kLoopKinds = 2;

// What the rule is measured against, for one loaded sound.
struct LoopLimits {
    std::int64_t halfWindowFrames = 0;
    std::int32_t lastFrame = 0;
};

LoopLimits LoopLimitsOf(const PcmFormat& format, std::int64_t dataBytes);

// The same with the last frame one the sound really has: LastFrame rounds, and for a payload that
// is no whole number of frames may lie one past the last whole frame. For the seam finder, which
// reads every frame it offers.
LoopLimits LoopLimitsWithin(const PcmFormat& format, std::int64_t dataBytes);

// Our own commands' limits (find, tag and batch): a loop may end where the sound ends, its end
// (exclusive, as ever) up to the number of whole frames. That is the form engines loop a file in
// that holds its loop once (LOOPSTART + LOOPLENGTH = the file's length), the form a game's own
// files come in. The window, save and preview keep LoopLimitsOf, message for message.
LoopLimits LoopLimitsToSoundEnd(const PcmFormat& format, std::int64_t dataBytes);

// The rule: 0 <= start, start + HalfWindow <= end <= lastFrame of the limits given. The seam
// preview needs two seconds on each side of the seam inside the sound, and nothing is read past
// the last frame.
bool KeepsLoopRule(const LoopLimits& limits, std::int64_t loopStart, std::int64_t loopEnd);

// A new LoopStart kept at least halfWindowFrames before loopEnd, then not below 0.
std::int32_t ApplyStartRule(std::int32_t loopStart, std::int32_t loopEnd,
                            std::int64_t halfWindowFrames);
// A new LoopEnd kept at least halfWindowFrames after loopStart, then not beyond lastFrame.
std::int32_t ApplyEndRule(std::int32_t loopEnd, std::int32_t loopStart,
                          std::int64_t halfWindowFrames, std::int32_t lastFrame);

}  // namespace wave
