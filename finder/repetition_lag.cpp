// SPDX-License-Identifier: GPL-3.0-or-later
// No matrix of every pair of spectra: the summed self-similarity at every lag comes from one FFT
// per band, and only its peaks are walked spectrum by spectrum.
#include "finder/repetition_lag.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <span>
#include <unordered_map>
#include <utility>

#include "finder/fft.h"

namespace finder {
namespace {

// A peak's own lags, either way, left out of the baseline its height is measured against.
constexpr std::int64_t kPeakOwnLags = 2;
// Peaks this close (in spectra) are one peak; the higher is kept.
constexpr std::int64_t kPeakSeparation = 3;
// The fewest spectra the baseline and the peak width span, however fast the spectra come.
constexpr std::int64_t kLeastSpectra = 4;
// A lag in spectra is only good to this many either way.
constexpr std::int64_t kLagTolerance = 1;
// Lags this close (in spectra) after the multiples are taken are one loop length.
constexpr std::int64_t kSameLength = 2;
// A neighbouring lag whose run is at least this share of the best stands on the same plateau,
// which reaches at most this many lags either way.
constexpr double kPlateauShare = 0.9;
constexpr std::int64_t kPlateauReach = 8;

// The cosine of two shapes: eight running sums of whole steps, so the loop runs in vector lanes.
float Cosine(const std::int8_t* a, const std::int8_t* b, int bands) {
    std::int32_t lanes[8] = {};
    for (int k = 0; k < bands; k += 8)
        for (int j = 0; j < 8; ++j) lanes[j] += std::int32_t{a[k + j]} * b[k + j];
    const std::int32_t dot = ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) +
                             ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
    return static_cast<float>(dot) / (Features::kShapeScale * Features::kShapeScale);
}

// S(k) = sum over i of g(i) . g(i + k), for k <= maxLag, where g is the spectra's shape with its
// mean over the surrounding `smoothing` spectra either way taken off, band by band. Without
// that, sustained notes and a steady mix make S a broad hump over every lag near the loop; with
// it, only a stretch that repeats spectrum for spectrum stands out. Per band the autocorrelation
// comes through the power spectrum of the band, zero-padded so that no lag up to maxLag wraps
// around.
std::vector<double> SummedSelfSimilarity(const Features& features, std::int64_t smoothing,
                                         std::int64_t maxLag) {
    const std::size_t count = features.Count();
    const auto lags = static_cast<std::size_t>(maxLag) + 1;
    RealFft fft(FftSizeFor(count + lags));
    std::vector<double> power(fft.Bins().size(), 0.0);
    const auto reach = static_cast<std::size_t>(std::max<std::int64_t>(1, smoothing));
    const auto value = [&features](std::size_t i, int b) {
        return static_cast<double>(features.Shape(i)[b]) / Features::kShapeScale;
    };
    for (int b = 0; b < features.bands; ++b) {
        bool any = false;
        for (std::size_t i = 0; i < count && !any; ++i) any = features.Shape(i)[b] != 0;
        if (!any) continue;  // a padding band
        std::span<float> samples = fft.Samples();
        std::fill(samples.begin(), samples.end(), 0.0F);
        // The mean over [i - reach, i + reach], clipped, as a running sum.
        double sum = 0.0;
        for (std::size_t i = 0; i < std::min(count, reach); ++i) sum += value(i, b);
        for (std::size_t i = 0; i < count; ++i) {
            if (i + reach < count) sum += value(i + reach, b);
            if (i > reach) sum -= value(i - reach - 1, b);
            const std::size_t lo = i >= reach ? i - reach : 0;
            const std::size_t hi = std::min(count, i + reach + 1);
            samples[i] = static_cast<float>(value(i, b) - sum / static_cast<double>(hi - lo));
        }
        fft.Forward();
        const std::span<const std::complex<float>> bins = fft.Bins();
        for (std::size_t k = 0; k < bins.size(); ++k) power[k] += std::norm(bins[k]);
    }
    std::span<std::complex<float>> bins = fft.Bins();
    for (std::size_t k = 0; k < bins.size(); ++k) bins[k] = static_cast<float>(power[k]);
    std::vector<double>().swap(power);
    fft.Inverse();
    std::vector<double> sums(std::min(count, lags));
    const auto scale = static_cast<double>(fft.Size());
    for (std::size_t k = 0; k < sums.size(); ++k) sums[k] = fft.Samples()[k] / scale;
    return sums;
}

// S with the height of each lag above its surroundings: the mean of S over `baseline` lags either
// way, the lag's own few left out.
class Heights {
public:
    Heights(const std::vector<double>& sums, std::int64_t baseline)
        : sums_(sums), prefix_(sums.size() + 1, 0.0), baseline_(baseline) {
        for (std::size_t k = 0; k < sums.size(); ++k) prefix_[k + 1] = prefix_[k] + sums[k];
    }
    std::int64_t Count() const { return static_cast<std::int64_t>(sums_.size()); }
    double At(std::int64_t k) const {
        if (k < 0 || k >= Count()) return 0.0;
        const double n = RangeCount(k - baseline_, k + baseline_) -
                         RangeCount(k - kPeakOwnLags, k + kPeakOwnLags);
        const double around =
            RangeSum(k - baseline_, k + baseline_) - RangeSum(k - kPeakOwnLags, k + kPeakOwnLags);
        return sums_[static_cast<std::size_t>(k)] - (n > 0 ? around / n : 0.0);
    }

private:
    double RangeSum(std::int64_t lo, std::int64_t hi) const {  // [lo, hi], clipped
        lo = std::max<std::int64_t>(lo, 0);
        hi = std::min(hi, Count() - 1);
        return lo > hi ? 0.0
                       : prefix_[static_cast<std::size_t>(hi + 1)] -
                             prefix_[static_cast<std::size_t>(lo)];
    }
    double RangeCount(std::int64_t lo, std::int64_t hi) const {
        return static_cast<double>(std::max<std::int64_t>(
            0, std::min(hi, Count() - 1) - std::max<std::int64_t>(lo, 0) + 1));
    }

    const std::vector<double>& sums_;
    std::vector<double> prefix_;
    std::int64_t baseline_;
};

// Lags in [minLag, maxLag] where S stands highest above its surroundings (its height), highest
// first.
std::vector<std::int64_t> PeakLags(const Heights& height, std::int64_t minLag, std::int64_t maxLag,
                                   std::size_t wanted) {
    const std::int64_t count = height.Count();
    // Peaks of the height, not of S itself: a stretch that repeats exactly is a narrow bump,
    // and it may sit on the slope of a broad one (bars that sound alike) without being a peak
    // of S.
    const std::int64_t first = std::max<std::int64_t>(minLag, 1);
    const std::int64_t last = std::min(maxLag, count - 2);
    std::vector<double> heights;
    for (std::int64_t k = first - 1; k <= last + 1; ++k) heights.push_back(height.At(k));
    std::vector<std::pair<double, std::int64_t>> peaks;
    for (std::int64_t k = first; k <= last; ++k) {
        const auto at = static_cast<std::size_t>(k - first + 1);
        const double h = heights[at];
        if (h > 0.0 && h >= heights[at - 1] && h > heights[at + 1]) peaks.emplace_back(h, k);
    }
    std::sort(peaks.begin(), peaks.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<std::int64_t> lags;
    for (const auto& peak : peaks) {
        const bool near = std::any_of(lags.begin(), lags.end(), [&](std::int64_t lag) {
            return std::abs(lag - peak.second) <= kPeakSeparation;
        });
        if (!near) lags.push_back(peak.second);
        if (lags.size() == wanted) break;
    }
    return lags;
}

bool Longer(const RepetitionLag& a, const RepetitionLag& b) {
    return a.run.length != b.run.length ? a.run.length > b.run.length : a.lagSpectra < b.lagSpectra;
}

}  // namespace

namespace {

// Silence against silence says nothing either way: such spectra neither vote nor break a run, so
// a pause inside the loop does not cut it in two, but no run starts in silence. matches[i] and
// votes[i] count among spectra first .. first + i - 1 whether they match the spectra `lag` later.
struct Tally {
    std::vector<std::int32_t> matches;
    std::vector<std::int32_t> votes;
};

Tally TallyMatches(const Features& features, std::int64_t lag, std::size_t first, std::size_t n,
                   const FinderOptions& options) {
    const float quiet = features.loudestDb + static_cast<float>(options.silenceDb);
    const auto tolerance = static_cast<float>(options.levelToleranceDb);
    const auto similarity = static_cast<float>(options.similarity);
    const auto step = static_cast<std::size_t>(lag);
    Tally tally{std::vector<std::int32_t>(n + 1, 0), std::vector<std::int32_t>(n + 1, 0)};
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t i = first + j;
        const float a = features.levelDb[i];
        const float b = features.levelDb[i + step];
        const bool silent = a < quiet && b < quiet;
        const bool match =
            !silent && a >= quiet && b >= quiet && std::fabs(a - b) <= tolerance &&
            Cosine(features.Shape(i), features.Shape(i + step), features.bands) >= similarity;
        tally.matches[j + 1] = tally.matches[j] + (match ? 1 : 0);
        tally.votes[j + 1] = tally.votes[j] + (silent ? 0 : 1);
    }
    return tally;
}

}  // namespace

Run LongestRun(const Features& features, std::int64_t lag, const FinderOptions& options) {
    const auto count = static_cast<std::int64_t>(features.Count());
    if (lag < 1 || lag >= count) return {};
    const auto n = static_cast<std::size_t>(count - lag);
    const Tally tally = TallyMatches(features, lag, 0, n, options);
    const std::vector<std::int32_t>& matches = tally.matches;
    const std::vector<std::int32_t>& votes = tally.votes;

    const auto half = static_cast<std::size_t>(options.majorityFrames / 2);
    // A lag in whole spectra lies up to half a hop off the true one, and a transient then
    // mismatches briefly: a run goes on across so short a break.
    const auto bridge =
        static_cast<std::size_t>(std::llround(options.bridgeSeconds * features.spectraPerSecond));
    Run best;
    std::size_t runFirst = 0;
    std::size_t lastOn = 0;
    bool inRun = false;
    for (std::size_t i = 0; i < n; ++i) {
        const bool voting = votes[i + 1] != votes[i];
        if (!voting) continue;  // carries a run on, or no run, as it stands
        const std::size_t lo = i >= half ? i - half : 0;
        const std::size_t hi = std::min(n, i + half + 1);
        const bool on = 2 * (matches[hi] - matches[lo]) > votes[hi] - votes[lo];
        if (!on) {
            if (inRun && i - lastOn > bridge) inRun = false;
            continue;
        }
        if (!inRun) runFirst = i;
        inRun = true;
        lastOn = i;
        const auto length = static_cast<std::int64_t>(i + 1 - runFirst);
        if (length > best.length) best = Run{static_cast<std::int64_t>(runFirst), length};
    }
    return best;
}

double MatchingShare(const Features& features, std::int64_t lag, std::int64_t from, std::int64_t to,
                     const FinderOptions& options) {
    const auto count = static_cast<std::int64_t>(features.Count());
    if (lag < 1 || lag >= count) return 0.0;
    const std::int64_t half = options.majorityFrames / 2;
    from = std::max<std::int64_t>(from, 0);
    to = std::min(to, count - lag);
    if (to <= from) return 0.0;
    const std::int64_t lo = std::max<std::int64_t>(0, from - half);
    const std::int64_t hi = std::min(count - lag, to + half);
    const Tally tally = TallyMatches(features, lag, static_cast<std::size_t>(lo),
                                     static_cast<std::size_t>(hi - lo), options);
    const auto at = [lo](std::int64_t i) { return static_cast<std::size_t>(i - lo); };
    std::int64_t voting = 0;
    std::int64_t on = 0;
    for (std::int64_t i = from; i < to; ++i) {
        if (tally.votes[at(i) + 1] == tally.votes[at(i)]) continue;
        ++voting;
        const std::int64_t a = std::max(lo, i - half);
        const std::int64_t b = std::min(hi, i + half + 1);
        if (2 * (tally.matches[at(b)] - tally.matches[at(a)]) >
            tally.votes[at(b)] - tally.votes[at(a)])
            ++on;
    }
    return voting == 0 ? 0.0 : static_cast<double>(on) / static_cast<double>(voting);
}

std::vector<RepetitionLag> FindRepetitionLags(const Features& features, std::int64_t minLag,
                                              std::int64_t maxLag, std::size_t count,
                                              const FinderOptions& options) {
    const auto spectra = static_cast<std::int64_t>(features.Count());
    minLag = std::max<std::int64_t>(minLag, 1);
    maxLag = std::min(maxLag, spectra - 1);
    if (spectra < 2 || minLag > maxLag || count == 0) return {};

    const std::int64_t baseline = std::max<std::int64_t>(
        kLeastSpectra, std::llround(options.baselineSeconds * features.spectraPerSecond));
    const std::vector<double> sums = SummedSelfSimilarity(features, baseline, maxLag);
    const std::int64_t peakWidth = std::max<std::int64_t>(
        kLeastSpectra, std::llround(options.peakWidthSeconds * features.spectraPerSecond));
    const Heights heights(sums, peakWidth);
    const std::vector<std::int64_t> peaks =
        PeakLags(heights, minLag, maxLag, static_cast<std::size_t>(options.lagCandidates));

    // The runs of the lags walked so far: the peaks, their multiples and divisors share many.
    std::unordered_map<std::int64_t, Run> runs;
    const auto runAt = [&](std::int64_t lag) {
        const auto known = runs.find(lag);
        if (known != runs.end()) return known->second;
        return runs[lag] = LongestRun(features, lag, options);
    };
    // The best run at the lags within `reach` of `center`.
    const auto bestNear = [&](std::int64_t center, std::int64_t reach) {
        RepetitionLag best;
        for (std::int64_t k = std::max(minLag, center - reach);
             k <= std::min(maxLag, center + reach); ++k) {
            const RepetitionLag here{k, runAt(k)};
            if (best.lagSpectra == 0 || Longer(here, best)) best = here;
        }
        return best;
    };
    const auto repeatsEnough = [](const RepetitionLag& r, double share) {
        return static_cast<double>(r.run.length) >= share * static_cast<double>(r.lagSpectra);
    };

    std::vector<RepetitionLag> found;
    for (const std::int64_t peak : peaks) {
        const RepetitionLag here = bestNear(peak, kLagTolerance);
        if (here.lagSpectra > 0 && repeatsEnough(here, options.minRunShare)) found.push_back(here);
    }
    std::sort(found.begin(), found.end(), Longer);

    // The highest summed similarity within `reach` of `center`: where a multiple or a divisor of
    // a lag really lies, its error growing with the factor.
    const auto topNear = [&](std::int64_t center, std::int64_t reach) {
        std::int64_t top = -1;
        for (std::int64_t k = std::max(minLag, center - reach);
             k <= std::min(maxLag, center + reach); ++k)
            if (top < 0 || sums[static_cast<std::size_t>(k)] > sums[static_cast<std::size_t>(top)])
                top = k;
        return top;
    };

    std::vector<RepetitionLag> lags;
    for (RepetitionLag base : found) {
        // Of a lag, its multiples and its divisors, the loop is the one the sound repeats at
        // longest: one pass repeats over every pass that follows it, a multiple of it over fewer,
        // and a phrase varied inside the loop not even over its own length.
        const RepetitionLag start = base;
        const auto consider = [&](std::int64_t lag) {
            // Most multiples and divisors do not repeat at all: S shows no peak there, or the
            // lag repeats for less than half the best run so far, and the lags beside it are
            // not walked.
            if (lag < 0 || heights.At(lag) <= 0.0) return;
            if (2 * runAt(lag).length < base.run.length) return;
            const RepetitionLag here = bestNear(lag, kLagTolerance);
            if (here.lagSpectra > 0 && Longer(here, base)) base = here;
        };
        for (int m = 2; m <= options.maxMultiple; ++m) {
            consider(topNear(start.lagSpectra * m, m / 2 + 1));
            consider(topNear((start.lagSpectra + m / 2) / m, kLagTolerance));
        }
        const bool known = std::any_of(lags.begin(), lags.end(), [&](const RepetitionLag& r) {
            return std::abs(r.lagSpectra - base.lagSpectra) <= kSameLength;
        });
        if (known) continue;
        const auto onPlateau = [&](std::int64_t lag) {
            return lag >= minLag && lag <= maxLag &&
                   static_cast<double>(runAt(lag).length) >=
                       kPlateauShare * static_cast<double>(base.run.length);
        };
        base.plateauLo = base.lagSpectra;
        base.plateauHi = base.lagSpectra;
        while (base.lagSpectra - base.plateauLo < kPlateauReach && onPlateau(base.plateauLo - 1))
            --base.plateauLo;
        while (base.plateauHi - base.lagSpectra < kPlateauReach && onPlateau(base.plateauHi + 1))
            ++base.plateauHi;
        lags.push_back(base);
        if (lags.size() == count) break;
    }
    return lags;
}

}  // namespace finder
