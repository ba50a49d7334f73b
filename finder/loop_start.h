// SPDX-License-Identifier: GPL-3.0-or-later
// Step 4 of the seam finder: where the loop starts once its length is known. Standard library
// only.
#pragma once

#include <cstdint>
#include <optional>

#include "finder/finder_options.h"
#include "finder/seam_quality.h"
#include "finder/sound_view.h"

namespace finder {

// The earliest start in [first, last] from which the sound agrees with itself `lag` frames later
// (its error below marks.agreeErrorDb) for agreeHoldSeconds, then moved within
// jumpSearchSeconds (and within [first, last]) to the smallest jump at the join. Nothing when the
// two never agree there.
std::optional<std::int64_t> EarliestStart(const SoundView& view, std::int64_t lag,
                                          std::int64_t first, std::int64_t last,
                                          const SeamMarks& marks, const FinderOptions& options);

// The start in [first, last] with the best seam by the marks, the earliest among seams that rank
// equal, with the smallest jump nearby.
std::int64_t CleanestStart(const SoundView& view, std::int64_t lag, std::int64_t first,
                           std::int64_t last, const SeamMarks& marks, const FinderOptions& options);

// Whether [from, to) is a rest in both passes: every window of it, and of the sound `lag` frames
// later, at least -silenceDb below the mean level of the loop that starts at `from`. A join
// there joins silence (or dither, or hiss) to silence; what the listener hears of it is the
// music that follows.
bool RestInBothPasses(const SoundView& view, std::int64_t lag, std::int64_t from, std::int64_t to,
                      const FinderOptions& options);

}  // namespace finder
