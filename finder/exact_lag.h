// SPDX-License-Identifier: GPL-3.0-or-later
// Step 3 of the seam finder: the loop length to the frame. Standard library and FFTW only.
#pragma once

#include <cstdint>
#include <optional>

#include "finder/finder_options.h"
#include "finder/sound_view.h"

namespace finder {

struct ExactLag {
    std::int64_t lagFrames = 0;
    double correlation = 0.0;  // normalised correlation at that lag, mean over the chunks
};

// The lag in [lagLo, lagHi] at which chunks taken from [regionFirst, regionEnd) best match the
// sound that many frames later: the normalised cross-correlation of the waveform, all channels
// together, summed over the chunks: by FFT over the whole range (decimated when it is wide),
// then to the frame in double precision around its best few peaks. Nothing when no chunk fits.
std::optional<ExactLag> FindExactLag(const SoundView& view, std::int64_t lagLo, std::int64_t lagHi,
                                     std::int64_t regionFirst, std::int64_t regionEnd,
                                     const FinderOptions& options);

}  // namespace finder
