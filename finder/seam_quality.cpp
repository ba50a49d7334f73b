#include "finder/seam_quality.h"

#include <algorithm>
#include <cmath>

namespace finder {

namespace {

// Two passes that differ only by the rounding of their samples differ by twice the noise of one.
constexpr double kRoundingNoiseOfTwo = 2.0;

}  // namespace

Seam SeamOfSums(double energy, double difference, double noise, const FinderOptions& options) {
    Seam seam;
    seam.qualityDb = 10.0 * std::log10((energy + noise) / (difference + noise));
    seam.transparent =
        seam.qualityDb >= options.transparentDb || difference <= kRoundingNoiseOfTwo * noise;
    return seam;
}

bool BetterSeam(const Seam& a, const Seam& b) {
    if (a.transparent != b.transparent) return a.transparent;
    return !a.transparent && a.qualityDb > b.qualityDb;
}

Seam MeasureSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                 const FinderOptions& options) {
    std::int64_t n = view.FramesOf(options.qualitySeconds);
    std::int64_t from = start;  // compare from the join on ...
    std::int64_t to = end;
    if (end + n > view.frames) {
        if (start >= n) {  // ... or, with too little after the end, the frames before it
            from = start - n;
            to = end - n;
        } else {
            n = std::max<std::int64_t>(0, view.frames - end);
        }
    }
    double energy = 0.0;
    double difference = 0.0;
    for (std::int64_t t = 0; t < n; ++t) {
        for (int c = 0; c < view.channels; ++c) {
            const double after = view.Sample(to + t, c);
            const double d = view.Sample(from + t, c) - after;
            energy += after * after;
            difference += d * d;
        }
    }
    return SeamOfSums(energy, difference,
                      static_cast<double>(n * view.channels) * view.RoundingNoise(), options);
}

}  // namespace finder
