// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a loop's join, as the report page and the window draw it: the last 30 ms before
// the loop end followed by the first 30 ms from the loop start, every channel, the join marked;
// beneath it what the sound really holds after the loop end, where it holds that much, so a step
// or a click shows against the true continuation; and the whole sound's level with the loop
// marked. Values only, and the same picture as SVG text. Standard library only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wave/pcm_format.h"

namespace wave {

inline constexpr int kJoinMilliseconds = 30;
inline constexpr int kOverviewColumns = 400;

struct JoinPicture {
    std::int64_t sideFrames = 0;  // frames on each side of the join
    // Per channel, samples from -1 to 1: sideFrames before the loop end, then sideFrames from the
    // loop start (fewer where the sound ends first). The join lies before index sideFrames.
    std::vector<std::vector<double>> joined;
    // Per channel, what follows the loop end in the sound itself (up to sideFrames; empty where
    // nothing follows).
    std::vector<std::vector<double>> after;
    // The whole sound's peak level in kOverviewColumns columns, 0 to 1, and where the loop lies,
    // as shares of the sound's length.
    std::vector<double> overview;
    double loopStartShare = 0.0;
    double loopEndShare = 0.0;
};

// The picture of the loop loopStart .. loopEnd of `sound` (8- or 16-bit PCM in `format`); empty
// (no channels) where the format or the loop does not fit the sound.
JoinPicture PictureOfJoin(const PcmFormat& format, std::span<const std::uint8_t> sound,
                          std::int32_t loopStart, std::int32_t loopEnd);

// Where a sample of the join lies in an SVG of `width` units: index i of 2 * sideFrames.
double JoinX(const JoinPicture& picture, std::size_t index, double width);
// Where the join is marked: halfway between the last frame before the loop end and the loop's
// first.
double JoinMarkX(const JoinPicture& picture, double width);
// Where a value from -1 to 1 lies in a lane of `height` units starting at `top`.
double LaneY(double value, double top, double height);

// The join as an SVG element (a lane per channel, the true continuation faint beneath, the join
// marked) and the overview (level envelope, the loop shaded); scalable to any width.
std::string JoinSvg(const JoinPicture& picture);
std::string OverviewSvg(const JoinPicture& picture);

}  // namespace wave
