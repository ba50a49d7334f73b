// SPDX-License-Identifier: GPL-3.0-or-later
// The seam finder: loop candidates for a loaded sound, each with a start, an end (the frame the
// loop jumps back from, as LoopEnd) and a measured seam quality, and the refinement of a loop the
// user marked by hand. Pure C++ over the sound's bytes, with FFTW for the transforms; no Qt, no
// SDL, no module state. The same input always gives the same answer, from any thread.
//
// The steps, each a function of its own so a test can run them one at a time:
//   1. features (features.h): short-time spectra of the sound mixed to mono and decimated;
//   2. repetition lag (repetition_lag.h): the lags at which long runs of spectra repeat, to
//      within a hop;
//   3. exact lag (exact_lag.h): normalised cross-correlation of the waveform, all channels, over
//      chunks of the repeated stretch, to the frame;
//   4. start (loop_start.h): the earliest point from which the two passes agree, then the
//      smallest jump nearby, and the cleanest start after notes ringing across the join have
//      died away;
//   5. quality (seam_quality.h): how closely what follows the join matches what follows the end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "finder/finder_options.h"
#include "finder/loop_candidate.h"
#include "wave/pcm_format.h"

namespace finder {

// Candidates, best first, at most options.maxCandidates. Each keeps the loop rules
// (wave/loop_rules.h). Empty when nothing repeats, for options that are not valid, and for a
// format block whose sizes disagree (no loop of it can be saved).
std::vector<LoopCandidate> FindLoops(const wave::PcmFormat& format,
                                     std::span<const std::uint8_t> sound,
                                     const FinderOptions& options = {});

// How far each point may move when none is asked for (the window's Ctrl+R, find --near).
inline constexpr double kDefaultRadiusSeconds = 0.5;

// The radius in frames, as RefineLoop rounds it: the frames nearest radiusSeconds, not below 0.
std::int64_t RadiusFrames(const wave::PcmFormat& format, double radiusSeconds);

// The best loop whose start and end lie within radiusSeconds of the given ones; nothing when no
// loop there keeps the loop rules or has a seam that passes. The points as given keep their
// place where their loop is as good as the best found (within sameSeamDb); a start nearer them
// wins only so. A loop given to end at the last end the limits allow is refined as one that
// ends with the sound (file_end.h), and so is one near that end whose passes give nothing.
std::optional<LoopCandidate> RefineLoop(const wave::PcmFormat& format,
                                        std::span<const std::uint8_t> sound, std::int32_t start,
                                        std::int32_t end, double radiusSeconds,
                                        const FinderOptions& options = {});

// The loop start .. end as given, with its seam measured as the finder measures a candidate's
// (by the options' own marks; a loop that ends with the sound as a file-end loop's, of kind
// FileEnd); nothing for a sound the finder cannot read.
std::optional<LoopCandidate> MeasureLoop(const wave::PcmFormat& format,
                                         std::span<const std::uint8_t> sound, std::int32_t start,
                                         std::int32_t end, const FinderOptions& options = {});

// A seam quality as the finder's users print it: in dB to one decimal, never "-0.0".
std::string QualityText(double qualityDb);

}  // namespace finder
