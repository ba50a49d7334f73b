// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/features.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <span>

#include "finder/fft.h"

namespace finder {
namespace {

// Spectra whose samples one refill of the decimated block holds.
constexpr std::size_t kSpectraPerBlock = 1024;
// Keeps log() finite in digital silence; far below the rounding noise of 16-bit samples.
constexpr double kFloorPerBin = 1e-10;
// A spectrum whose band energies differ by less than this (in log10 units) is flat: no shape.
constexpr double kFlatShape = 1e-9;

// Band b covers bins edges[b] .. edges[b + 1] - 1: log-spaced from the lowest band's bin to a
// share of Nyquist, at least one bin each, so low bands are single bins.
std::vector<int> BandEdges(const FinderOptions& options) {
    const int bands = options.bands;
    const int low = options.lowestBandBin;
    const int high =
        std::max(low + 1, options.spectrumFrames / 2 * options.highestBandPercent / 100);
    std::vector<int> edges{low};
    for (int b = 1; b <= bands; ++b) {
        const double at =
            low * std::pow(static_cast<double>(high) / low, static_cast<double>(b) / bands);
        const int edge = std::max(edges.back() + 1, static_cast<int>(std::lround(at)));
        if (edge > high) break;
        edges.push_back(edge);
    }
    return edges;
}

// Decimated samples of a stretch of the sound, refilled as the spectra move on, so only a block
// is ever held.
class DecimatedBlock {
public:
    DecimatedBlock(const SoundView& view, int factor, std::size_t capacity)
        : view_(view), factor_(factor), samples_(capacity) {}

    // `length` samples from decimated sample `first` on; `first` never goes back.
    const float* At(std::int64_t first, std::size_t length) {
        if (first < first_ || first + static_cast<std::int64_t>(length) >
                                  first_ + static_cast<std::int64_t>(samples_.size())) {
            first_ = first;
            MixDown(view_, first * factor_, factor_, samples_);
        }
        return samples_.data() + (first - first_);
    }

private:
    const SoundView& view_;
    int factor_;
    std::vector<float> samples_;
    std::int64_t first_ = std::numeric_limits<std::int64_t>::min() / 2;  // holds nothing yet
};

// Rounds the band count up to whole groups of 8, so the similarity loops run in vector lanes;
// the extra bands stay 0 and change no dot product.
int PaddedBands(int bands) { return (bands + 7) / 8 * 8; }

}  // namespace

Features ComputeFeatures(const SoundView& view, const FinderOptions& options) {
    Features features;
    const int factor = DecimationOf(view, options);
    const int window = options.spectrumFrames;
    const int hop = options.hopFrames;
    const std::vector<int> edges = BandEdges(options);
    const int bands = static_cast<int>(edges.size()) - 1;
    const int smooth = options.smoothSpectra;
    features.hopFrames = std::int64_t{hop} * factor;
    features.windowFrames = (std::int64_t{window} + std::int64_t{hop} * (smooth - 1)) * factor;
    features.bands = PaddedBands(bands);
    features.spectraPerSecond =
        static_cast<double>(view.rate) / static_cast<double>(features.hopFrames);
    const std::int64_t decimated = view.frames / factor;
    if (decimated < window) return features;
    const std::int64_t spectra = (decimated - window) / hop + 1;
    if (spectra < smooth) return features;
    const auto count = static_cast<std::size_t>(spectra - smooth + 1);
    features.shape.assign(count * static_cast<std::size_t>(features.bands), 0);
    features.levelDb.resize(count);

    std::vector<float> hann(static_cast<std::size_t>(window));
    for (int k = 0; k < window; ++k)
        hann[static_cast<std::size_t>(k)] =
            static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / window));
    RealFft fft(static_cast<std::size_t>(window));
    DecimatedBlock block(
        view, factor,
        static_cast<std::size_t>(window) + static_cast<std::size_t>(hop) * kSpectraPerBlock);
    const auto bandCount = static_cast<std::size_t>(bands);
    std::vector<double> recent(static_cast<std::size_t>(smooth) *
                               bandCount);  // the last `smooth` spectra
    std::vector<double> energy(bandCount);

    for (std::int64_t j = 0; j < spectra; ++j) {
        const float* samples = block.At(j * hop, static_cast<std::size_t>(window));
        std::span<float> in = fft.Samples();
        for (std::size_t k = 0; k < in.size(); ++k) in[k] = samples[k] * hann[k];
        fft.Forward();
        const std::span<const std::complex<float>> bins = fft.Bins();
        double* power = recent.data() + static_cast<std::size_t>(j % smooth) * bandCount;
        for (std::size_t b = 0; b < bandCount; ++b) {
            double sum = 0.0;
            for (int k = edges[b]; k < edges[b + 1]; ++k)
                sum += std::norm(bins[static_cast<std::size_t>(k)]);
            power[b] = sum;
        }
        if (j + 1 < smooth) continue;

        // The band powers of `smooth` spectra summed: a longer window without a longer FFT, and
        // steadier where the sound is noise.
        const auto i = static_cast<std::size_t>(j + 1 - smooth);
        double total = 0.0;
        for (std::size_t b = 0; b < bandCount; ++b) {
            double sum = 0.0;
            for (std::size_t r = 0; r < static_cast<std::size_t>(smooth); ++r)
                sum += recent[r * bandCount + b];
            total += sum;
            energy[b] = std::log10(sum + kFloorPerBin * (edges[b + 1] - edges[b]));
        }
        features.levelDb[i] = static_cast<float>(
            10.0 * std::log10(total + kFloorPerBin * (edges.back() - edges.front())));

        double mean = 0.0;
        for (const double e : energy) mean += e;
        mean /= bands;
        double length = 0.0;
        for (const double e : energy) length += (e - mean) * (e - mean);
        length = std::sqrt(length);
        if (length < kFlatShape) continue;  // a flat spectrum has no shape to compare
        std::int8_t* shape = features.shape.data() + i * static_cast<std::size_t>(features.bands);
        for (std::size_t b = 0; b < bandCount; ++b) {
            shape[b] = static_cast<std::int8_t>(
                std::lround((energy[b] - mean) / length * Features::kShapeScale));
        }
    }
    features.loudestDb = *std::max_element(features.levelDb.begin(), features.levelDb.end());
    // Silence matches silence at every lag: it is no evidence of a loop.
    for (std::size_t i = 0; i < count; ++i) {
        if (features.levelDb[i] >= features.loudestDb + options.silenceDb) continue;
        std::fill_n(features.shape.begin() +
                        static_cast<std::ptrdiff_t>(i * static_cast<std::size_t>(features.bands)),
                    features.bands, 0);
    }
    return features;
}

}  // namespace finder
