// Step 5 of the seam finder: how clean a join is, in dB, and how two joins rank. Standard
// library only.
#pragma once

#include <cstdint>

#include "finder/finder_options.h"
#include "finder/sound_view.h"

namespace finder {

struct Seam {
    double qualityDb = 0.0;
    bool transparent = false;  // at or above transparentDb, or the difference within rounding noise
};

// The seam quality: how closely what the listener hears after the join (the frames from
// `start`) matches what the sound itself does after `end`, over all channels:
//     qualityDb = 10 log10((E + e) / (D + e)),
//     E = sum of x[end + t]^2,   D = sum of (x[start + t] - x[end + t])^2,   t < n, all channels,
// samples scaled to -1 .. 1 and n = qualitySeconds of frames. Where fewer than n frames follow
// `end`, the n frames before `start` and before `end` are compared instead (and where neither
// fits, the frames that do follow `end`). e is the energy of the format's own rounding noise
// over the same samples (one step squared over 12 each), so two identical passes score the
// sound's signal-to-rounding-noise ratio and silence scores 0 dB.
Seam MeasureSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                 const FinderOptions& options);

// The seam of sums already taken: E, D and e as in MeasureSeam.
Seam SeamOfSums(double energy, double difference, double noise, const FinderOptions& options);

// True when `a` is the better of two seams: transparent first, then the higher quality.
bool BetterSeam(const Seam& a, const Seam& b);

}  // namespace finder
