// SPDX-License-Identifier: GPL-3.0-or-later
// Step 2 of the seam finder: the loop length to within a hop, from where the spectra repeat.
// Standard library and FFTW only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/features.h"
#include "finder/finder_options.h"

namespace finder {

struct Run {
    std::int64_t first = 0;   // first spectrum i that matches spectrum i + lag
    std::int64_t length = 0;  // spectra in the longest run of matches
};

// The longest run of spectra that match the spectra `lag` later (similar shape, similar level,
// not silent), after a majority filter.
Run LongestRun(const Features& features, std::int64_t lag, const FinderOptions& options);

// The share of the spectra in [from, to) that match the spectra `lag` later, by the majority
// over majorityFrames around each, as LongestRun counts them; 0 where none votes.
double MatchingShare(const Features& features, std::int64_t lag, std::int64_t from, std::int64_t to,
                     const FinderOptions& options);

// Every lag and run here counts spectra (hops), not frames.
struct RepetitionLag {
    std::int64_t lagSpectra = 0;
    Run run;
    // The lags about it that repeat nearly as long: where a steady tone makes neighbouring lags
    // repeat alike, the loop's length may lie anywhere among them.
    std::int64_t plateauLo = 0;
    std::int64_t plateauHi = 0;
};

// Lags between minLag and maxLag spectra at which the sound repeats, longest repetition first,
// each already replaced by its largest multiple that still repeats (a loop that holds a phrase
// twice is the whole loop, not the phrase). At most `count`.
std::vector<RepetitionLag> FindRepetitionLags(const Features& features, std::int64_t minLag,
                                              std::int64_t maxLag, std::size_t count,
                                              const FinderOptions& options);

}  // namespace finder
