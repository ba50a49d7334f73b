// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/seam_quality.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace finder {

namespace {

// Two passes that differ only by the rounding of their samples differ by twice the noise of one.
constexpr double kRoundingNoiseOfTwo = 2.0;
// A window counts towards the floor when its energy stands this far above the rounding noise:
// near silence every material agrees, to the rounding.
constexpr double kFloorWindowOverNoise = 100.0;

}  // namespace

SeamMarks FixedMarks(const FinderOptions& options) {
    return SeamMarks{options.agreeErrorDb, options.passQualityDb, options.transparentDb};
}

bool TransparentByFixedMarks(const Seam& seam, const FinderOptions& options) {
    return seam.withinRounding || seam.qualityDb >= options.transparentDb;
}

SeamMarks MarksFor(double floorDb, const FinderOptions& options) {
    SeamMarks marks = FixedMarks(options);
    marks.agreeErrorDb = std::clamp(floorDb + options.agreeMarginDb, marks.agreeErrorDb,
                                    std::max(marks.agreeErrorDb, options.loosestAgreeErrorDb));
    marks.passQualityDb = std::clamp(-floorDb - options.passMarginDb,
                                     std::min(marks.passQualityDb, options.loosestPassQualityDb),
                                     marks.passQualityDb);
    marks.transparentDb = std::clamp(-floorDb - options.transparentMarginDb,
                                     std::min(marks.transparentDb, options.loosestTransparentDb),
                                     marks.transparentDb);
    return marks;
}

namespace {

// Chunks of the options' length spread evenly over [first, end), the last one ending at `end`:
// how many, and where each begins.
struct Chunks {
    std::int64_t first = 0;
    std::int64_t end = 0;
    std::int64_t length = 0;
    std::int64_t count = 0;

    std::int64_t From(std::int64_t c) const {
        return first + (count == 1 ? 0 : (end - first - length) * c / (count - 1));
    }
};

Chunks ChunksOver(const SoundView& view, std::int64_t first, std::int64_t end,
                  const FinderOptions& options) {
    const std::int64_t window = view.FramesOf(options.agreeWindowSeconds);
    const std::int64_t length = std::max(window, view.FramesOf(options.floorChunkSeconds));
    return Chunks{first, end, length,
                  std::max<std::int64_t>(
                      1, std::min<std::int64_t>(options.floorChunks, (end - first) / length))};
}

double ErrorDb(const LagSums& sums, double noise) {
    return 10.0 * std::log10((sums.difference + noise) / (sums.energy + noise));
}

}  // namespace

LagSums SumsAtLag(const SoundView& view, std::int64_t lag, std::int64_t from, std::int64_t to) {
    LagSums sums;
    for (std::int64_t f = from; f < to; ++f) {
        for (int c = 0; c < view.channels; ++c) {
            const double later = view.Sample(f + lag, c);
            const double d = view.Sample(f, c) - later;
            sums.energy += later * later;
            sums.difference += d * d;
        }
    }
    return sums;
}

double RepetitionFloorDb(const SoundView& view, std::int64_t lag, std::int64_t first,
                         std::int64_t end, const FinderOptions& options) {
    first = std::max<std::int64_t>(first, 0);
    end = std::min(end, view.frames - lag);
    const std::int64_t window = view.FramesOf(options.agreeWindowSeconds);
    if (lag < 1 || end - first < window) return kNoFloorDb;
    const double noise = static_cast<double>(window * view.channels) * view.RoundingNoise();
    const Chunks chunks = ChunksOver(view, first, end, options);
    std::vector<double> errorsDb;
    for (std::int64_t c = 0; c < chunks.count; ++c) {
        const std::int64_t from = chunks.From(c);
        for (std::int64_t w = from; w + window <= std::min(end, from + chunks.length);
             w += window) {
            const LagSums sums = SumsAtLag(view, lag, w, w + window);
            if (sums.energy < kFloorWindowOverNoise * noise) continue;
            errorsDb.push_back(ErrorDb(sums, noise));
        }
    }
    if (errorsDb.empty()) return kNoFloorDb;
    const auto middle = errorsDb.begin() + static_cast<std::ptrdiff_t>(errorsDb.size() / 2);
    std::nth_element(errorsDb.begin(), middle, errorsDb.end());
    return *middle;
}

double AgreeingShare(const SoundView& view, std::int64_t lag, std::int64_t start,
                     const SeamMarks& marks, const FinderOptions& options) {
    start = std::max<std::int64_t>(start, 0);
    const std::int64_t end = std::min(start + lag, view.frames - lag);
    if (lag < 1 || end <= start) return 0.0;
    const Chunks chunks = ChunksOver(view, start, end, options);
    const double noise = static_cast<double>(chunks.length * view.channels) * view.RoundingNoise();
    std::int64_t measured = 0;
    std::int64_t agreeing = 0;
    for (std::int64_t c = 0; c < chunks.count; ++c) {
        const std::int64_t from = chunks.From(c);
        const LagSums sums = SumsAtLag(view, lag, from, std::min(end, from + chunks.length));
        if (sums.energy < kFloorWindowOverNoise * noise) continue;
        ++measured;
        if (ErrorDb(sums, noise) <= marks.agreeErrorDb) ++agreeing;
    }
    return measured == 0 ? 0.0 : static_cast<double>(agreeing) / static_cast<double>(measured);
}

Seam SeamOfSums(double energy, double difference, double noise, const SeamMarks& marks) {
    Seam seam;
    seam.qualityDb = 10.0 * std::log10((energy + noise) / (difference + noise));
    seam.withinRounding = difference <= kRoundingNoiseOfTwo * noise;
    seam.transparent = seam.qualityDb >= marks.transparentDb || seam.withinRounding;
    return seam;
}

bool BetterSeam(const Seam& a, const Seam& b) {
    if (a.transparent != b.transparent) return a.transparent;
    return !a.transparent && a.qualityDb > b.qualityDb;
}

Seam MeasureSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                 const FinderOptions& options) {
    return MeasureSeam(view, start, end, FixedMarks(options), options);
}

Seam MeasureSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                 const SeamMarks& marks, const FinderOptions& options) {
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
    const LagSums sums = SumsAtLag(view, to - from, from, from + n);
    return SeamOfSums(sums.energy, sums.difference,
                      static_cast<double>(n * view.channels) * view.RoundingNoise(), marks);
}

}  // namespace finder
