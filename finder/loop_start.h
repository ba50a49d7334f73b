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

}  // namespace finder
