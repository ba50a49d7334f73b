// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/file_end.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <span>

#include "finder/exact_lag.h"
#include "finder/fft.h"

namespace finder {
namespace {

// The lowest bins of a spectrum hold an offset and hum, no partial that rings.
constexpr std::size_t kLowestPeakBin = 3;
// A window counts as sounding when its energy stands this far above the rounding noise.
constexpr double kSoundingOverNoise = 100.0;
// A correlation this near 1 (or -1) is as sure as the measure gets: its dB stay finite.
constexpr double kSurestCorrelation = 1.0 - 1e-6;
// Spectra of the opening compared where a pickup may recur, at the least.
constexpr std::int64_t kLeastOpeningSpectra = 4;
// A place whose first few spectra fall this far short of the similarity is passed over.
constexpr double kGlanceMargin = 0.2;
// An opening that recurs at more places than this, each an opening's length apart, is no pickup.
constexpr int kMostPickupPlaces = 3;
// A lag from the spectra is good to this many hops either way.
constexpr std::int64_t kPickupReachHops = 2;
// Chunks of the opening correlated for its exact lag.
constexpr int kPickupChunks = 4;

// The level below which the music's loud part lies, of the spectra that are not silent.
double MusicLevelDb(const Features& features, const FinderOptions& options) {
    std::vector<float> levels;
    for (const float level : features.levelDb)
        if (level >= features.loudestDb + options.silenceDb) levels.push_back(level);
    if (levels.empty()) return features.loudestDb;
    const auto at = static_cast<std::size_t>(std::clamp(options.musicPercentile / 100.0, 0.0, 1.0) *
                                             static_cast<double>(levels.size() - 1));
    std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(at),
                     levels.end());
    return levels[at];
}

// Spectra of the decimated mono mix in windows of ringingFrames analysis frames.
class RingingSpectra {
public:
    RingingSpectra(const SoundView& view, const FinderOptions& options)
        : view_(view),
          factor_(DecimationOf(view, options)),
          window_(static_cast<std::size_t>(options.ringingFrames)),
          hop_(options.ringingHopFrames),
          leastPartials_(options.ringingLeastPartials),
          fft_(window_),
          hann_(window_),
          mono_(window_) {
        for (std::size_t k = 0; k < window_; ++k)
            hann_[k] = static_cast<float>(
                0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) /
                                     static_cast<double>(window_)));
    }

    // Frames of the sound a window spans, and a hop.
    std::int64_t WindowFrames() const { return static_cast<std::int64_t>(window_) * factor_; }
    std::int64_t HopFrames() const { return std::int64_t{hop_} * factor_; }

    // The spectrum of the window from frame `first` on, and its energy.
    double At(std::int64_t first, std::vector<std::complex<float>>& bins) {
        MixDown(view_, first, factor_, mono_);
        double energy = 0.0;
        std::span<float> in = fft_.Samples();
        for (std::size_t k = 0; k < window_; ++k) {
            energy += double{mono_[k]} * mono_[k];
            in[k] = mono_[k] * hann_[k];
        }
        fft_.Forward();
        bins.assign(fft_.Bins().begin(), fft_.Bins().end());
        return energy;
    }

    // The energy a window of the format's rounding noise holds, mixed down.
    double NoiseEnergy() const {
        return static_cast<double>(window_) * view_.RoundingNoise() /
               static_cast<double>(factor_ * view_.channels);
    }

    // RingingContinuity with this workspace.
    std::optional<double> Continuity(std::int64_t end, std::int64_t start, double floorDb) {
        const std::int64_t window = WindowFrames();
        if (end - window - HopFrames() < 0 || start < 0 || start + window > view_.frames ||
            end > view_.frames)
            return std::nullopt;
        const double quiet = kSoundingOverNoise * NoiseEnergy();
        if (At(end - window, last_) <= quiet) return std::nullopt;
        At(end - window - HopFrames(), before_);
        At(start, after_);

        float strongest = 0.0F;
        for (std::size_t k = kLowestPeakBin; k < last_.size(); ++k)
            strongest = std::max(strongest, std::abs(last_[k]));
        const double least = strongest * std::pow(10.0, floorDb / 20.0);
        const double binsPerHop = static_cast<double>(hop_) / static_cast<double>(window_);
        double dot = 0.0;
        double startEnergy = 0.0;
        double predictedEnergy = 0.0;
        int partials = 0;
        for (std::size_t k = kLowestPeakBin; k + 1 < last_.size(); ++k) {
            const float magnitude = std::abs(last_[k]);
            const bool peak = magnitude > std::abs(last_[k - 1]) &&
                              magnitude >= std::abs(last_[k + 1]) && magnitude >= least;
            if (!peak || std::abs(before_[k]) == 0.0F) continue;
            // The partial's own frequency, from how far its phase turned over one hop, and its
            // decay over the hop; then both carried on over a whole window, past the end.
            const std::complex<double> now(last_[k]);
            const std::complex<double> then(before_[k]);
            const double turned = std::arg(now * std::conj(then));
            const double expected = 2.0 * std::numbers::pi * static_cast<double>(k) * binsPerHop;
            const double off = std::remainder(turned - expected, 2.0 * std::numbers::pi);
            const double bin = static_cast<double>(k) + off / (2.0 * std::numbers::pi * binsPerHop);
            const double decay =
                std::pow(std::min(1.0, std::abs(now) / std::abs(then)), 1.0 / binsPerHop);
            const std::complex<double> predicted =
                now * std::polar(decay, 2.0 * std::numbers::pi * bin);
            const std::complex<double> heard(after_[k]);
            ++partials;
            dot += (heard * std::conj(predicted)).real();
            startEnergy += std::norm(heard);
            predictedEnergy += std::norm(predicted);
        }
        // A partial or two may line up by chance anywhere; the measure needs several.
        if (predictedEnergy <= 0.0 || partials < leastPartials_) return std::nullopt;
        if (startEnergy <= 0.0) return 0.0;
        return dot / std::sqrt(startEnergy * predictedEnergy);
    }

private:
    const SoundView& view_;
    int factor_;
    std::size_t window_;
    int hop_;
    int leastPartials_;
    RealFft fft_;
    std::vector<float> hann_;
    std::vector<float> mono_;
    std::vector<std::complex<float>> last_;
    std::vector<std::complex<float>> before_;
    std::vector<std::complex<float>> after_;
};

double RingingDb(double correlation) {
    const double c = std::clamp(correlation, -kSurestCorrelation, kSurestCorrelation);
    return 10.0 * std::log10((1.0 + c) / (1.0 - c));
}

// How well `count` spectra from `first` match those from `at` on: the mean cosine of their shapes
// where either sounds, levels within the tolerance; -1 where nothing of them sounds.
double OpeningMatch(const Features& features, std::size_t first, std::size_t at, std::size_t count,
                    const FinderOptions& options) {
    const float quiet = features.loudestDb + static_cast<float>(options.silenceDb);
    double sum = 0.0;
    std::size_t counted = 0;
    for (std::size_t j = 0; j < count; ++j) {
        const float a = features.levelDb[first + j];
        const float b = features.levelDb[at + j];
        if (a < quiet && b < quiet) continue;
        ++counted;
        if (std::fabs(a - b) > options.levelToleranceDb) continue;
        std::int32_t dot = 0;
        const std::int8_t* x = features.Shape(first + j);
        const std::int8_t* y = features.Shape(at + j);
        for (int k = 0; k < features.bands; ++k) dot += std::int32_t{x[k]} * y[k];
        sum += static_cast<double>(dot) / (Features::kShapeScale * Features::kShapeScale);
    }
    return counted == 0 ? -1.0 : sum / static_cast<double>(counted);
}

// The loudest level of the sound's last endCheckSeconds.
double FinalLevelDb(const Features& features, const FinderOptions& options) {
    const auto count = static_cast<std::int64_t>(features.Count());
    const std::int64_t last = std::clamp<std::int64_t>(
        std::llround(options.endCheckSeconds * features.spectraPerSecond), 1, count);
    float loudest = features.levelDb[static_cast<std::size_t>(count - last)];
    for (std::int64_t i = count - last; i < count; ++i)
        loudest = std::max(loudest, features.levelDb[static_cast<std::size_t>(i)]);
    return loudest;
}

}  // namespace

bool EndIsQuiet(const Features& features, const FinderOptions& options) {
    return features.Count() > 0 &&
           FinalLevelDb(features, options) < MusicLevelDb(features, options) - options.endQuietDb;
}

bool EndFallsAway(const Features& features, const FinderOptions& options) {
    if (!EndIsQuiet(features, options)) return false;
    // A fade, a last chord or a sound dying out leaves the music's level long before the end and
    // keeps coming down; a loop may end with a rest, or with a few quiet notes after its music
    // stops, before it comes round again.
    const auto count = static_cast<std::int64_t>(features.Count());
    const std::int64_t left = MusicEndSpectrum(features, options) + 1;
    if (static_cast<double>(count - left) / features.spectraPerSecond < options.endFallSeconds)
        return false;
    const auto loudest = [&features](std::int64_t from, std::int64_t to) {
        float most = -std::numeric_limits<float>::infinity();
        for (std::int64_t i = from; i < to; ++i)
            most = std::max(most, features.levelDb[static_cast<std::size_t>(i)]);
        return double{most};
    };
    const std::int64_t middle = left + (count - left) / 2;
    return loudest(middle, count) <= loudest(left, middle) - options.endTailFallDb;
}

std::int64_t MusicEndSpectrum(const Features& features, const FinderOptions& options) {
    const double music = MusicLevelDb(features, options);
    auto last = static_cast<std::int64_t>(features.Count()) - 1;
    while (last > 0 &&
           features.levelDb[static_cast<std::size_t>(last)] < music - options.endLoudMarginDb)
        --last;
    return last;
}

std::optional<double> RingingContinuity(const SoundView& view, std::int64_t end, std::int64_t start,
                                        const FinderOptions& options) {
    RingingSpectra spectra(view, options);
    return spectra.Continuity(end, start, options.ringingFloorDb);
}

std::optional<double> RingingOfMaterial(const SoundView& view, const FinderOptions& options) {
    RingingSpectra spectra(view, options);
    const std::int64_t first = spectra.WindowFrames() + spectra.HopFrames();
    const std::int64_t last = view.frames - spectra.WindowFrames();
    if (last <= first) return std::nullopt;
    std::vector<double> values;
    const std::int64_t points = options.ringingPoints;
    for (std::int64_t j = 0; j < points; ++j) {
        const std::int64_t at = first + (last - first) * (2 * j + 1) / (2 * points);
        if (const auto c = spectra.Continuity(at, at, options.ringingFloorDb)) values.push_back(*c);
    }
    if (values.empty()) return std::nullopt;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

Seam MeasureFileEndSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                        const FinderOptions& options) {
    const SeamMarks marks = FixedMarks(options);
    Seam best;
    best.qualityDb = -std::numeric_limits<double>::infinity();
    const std::int64_t n = view.FramesOf(options.qualitySeconds);
    if (start >= n && end > start && end <= view.frames) {
        const LagSums sums = SumsAtLag(view, end - start, start - n, start);
        best = SeamOfSums(sums.energy, sums.difference,
                          static_cast<double>(n * view.channels) * view.RoundingNoise(), marks);
    }
    if (const auto c = RingingContinuity(view, end, start, options)) {
        Seam ringing;
        ringing.qualityDb = RingingDb(*c);
        ringing.transparent = ringing.qualityDb >= marks.transparentDb;
        if (BetterSeam(ringing, best) || !std::isfinite(best.qualityDb)) best = ringing;
    }
    if (!std::isfinite(best.qualityDb)) best.qualityDb = 0.0;  // nothing to judge it by
    return best;
}

std::optional<std::int64_t> PickupStart(const SoundView& view, const Features& features,
                                        std::int64_t end, const FinderOptions& options) {
    const std::int64_t hop = features.hopFrames;
    const auto count = static_cast<std::int64_t>(features.Count());
    const std::int64_t opening = std::max<std::int64_t>(
        kLeastOpeningSpectra, std::llround(options.pickupSeconds * features.spectraPerSecond));
    const std::int64_t openingFrames = view.FramesOf(options.pickupSeconds);
    // The opening is the file's first sound: a rest it opens with tells nothing of where it
    // recurs.
    const float quiet = features.loudestDb + static_cast<float>(options.silenceDb);
    std::int64_t from = 0;
    while (from < count && features.levelDb[static_cast<std::size_t>(from)] < quiet) ++from;
    const std::int64_t fromFrames = from * hop;
    // The opening recurs at lag L and runs on to the end: the intro is end - L long, longer than
    // the rest and the opening, at most introMostSeconds; the loop at least two seconds.
    const std::int64_t leastLag =
        std::max(end - view.FramesOf(options.introMostSeconds), view.FramesOf(2.0));
    const std::int64_t mostLag = end - fromFrames - openingFrames;
    if (mostLag <= leastLag || from + opening > count) return std::nullopt;
    double best = -1.0;
    std::int64_t bestAt = -1;
    // Places where the opening recurs, apart from each other: an opening that recurs all over
    // (a held tone) places no intro.
    int places = 0;
    std::int64_t lastPlace = std::numeric_limits<std::int64_t>::min() / 2;
    // Most places are told apart by the opening's first few spectra already.
    const std::int64_t glance = std::min(opening, kLeastOpeningSpectra);
    const auto matchAt = [&](std::int64_t p, std::int64_t spectra) {
        return OpeningMatch(features, static_cast<std::size_t>(from), static_cast<std::size_t>(p),
                            static_cast<std::size_t>(spectra), options);
    };
    for (std::int64_t p = from + leastLag / hop; p <= from + mostLag / hop && p + opening <= count;
         ++p) {
        if (matchAt(p, glance) < options.similarity - kGlanceMargin) continue;
        const double match = matchAt(p, opening);
        if (match >= options.similarity && p - lastPlace > opening) {
            ++places;
            lastPlace = p;
        }
        if (match > best) {
            best = match;
            bestAt = p;
        }
    }
    if (bestAt < 0 || best < options.similarity || places > kMostPickupPlaces) return std::nullopt;
    bestAt -= from;  // the lag, in spectra
    // The opening is short: a few chunks of it tell its lag as well as many.
    FinderOptions fewChunks = options;
    fewChunks.chunks = std::min(options.chunks, kPickupChunks);
    const std::optional<ExactLag> exact =
        FindExactLag(view, std::max(leastLag, (bestAt - kPickupReachHops) * hop),
                     std::min(mostLag, (bestAt + kPickupReachHops) * hop), fromFrames,
                     fromFrames + openingFrames, fewChunks);
    if (!exact) return std::nullopt;
    const std::int64_t lag = exact->lagFrames;
    const std::int64_t intro = end - lag;
    // The whole intro is the loop's last moments, to the material's own floor.
    const SeamMarks marks = MarksFor(RepetitionFloorDb(view, lag, 0, intro, options), options);
    if (AgreeingShare(view, lag, 0, marks, options) < options.pickupShare) return std::nullopt;
    const std::int64_t window = view.FramesOf(options.agreeWindowSeconds);
    const LagSums last = SumsAtLag(view, lag, std::max<std::int64_t>(0, intro - window), intro);
    const double noise = static_cast<double>(window * view.channels) * view.RoundingNoise();
    if (last.difference + noise > std::pow(10.0, marks.agreeErrorDb / 10.0) * (last.energy + noise))
        return std::nullopt;
    return intro;
}

std::vector<FileEndLoop> FileEndLoops(const SoundView& view, const Features& features,
                                      std::int64_t end, std::int64_t leastFrames,
                                      std::int64_t mostFrames, const FinderOptions& options) {
    std::vector<FileEndLoop> loops;
    if (features.Count() == 0 || EndFallsAway(features, options)) return loops;
    const std::optional<double> material = RingingOfMaterial(view, options);
    if (!material || *material < options.ringingMaterial) return loops;

    const auto add = [&](std::int64_t start, IntroCue cue) {
        const std::int64_t length = end - start;
        if (start < 0 || length < leastFrames || length > mostFrames) return;
        for (const FileEndLoop& known : loops)
            if (known.start == start) return;
        loops.push_back(FileEndLoop{start, MeasureFileEndSeam(view, start, end, options), cue});
    };
    const std::optional<double> whole = RingingContinuity(view, end, 0, options);
    const bool wholeHolds = whole && *whole >= options.wholeRinging;
    const std::optional<std::int64_t> pickup = PickupStart(view, features, end, options);
    if (pickup && !wholeHolds) add(*pickup, IntroCue::Pickup);
    add(0, IntroCue::None);
    if (pickup) add(*pickup, IntroCue::Pickup);
    return loops;
}

}  // namespace finder
