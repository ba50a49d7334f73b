// SPDX-License-Identifier: GPL-3.0-or-later
// One correlation summed over many chunks, not a vote per chunk: a chunk inside a steady note
// matches at every multiple of its pitch period, and only the chunks around it tell those lags
// apart.
#include "finder/exact_lag.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <span>
#include <utility>
#include <vector>

#include "finder/fft.h"

namespace finder {
namespace {

// A peak of the correlation is good to this many of its steps (frames, or decimated samples)
// either way: peaks closer than that are one, and each is checked that far to the frame.
constexpr std::int64_t kPeakReachSteps = 2;
// A decimated correlation may favour lags that are whole multiples of its factor, so this many
// times the peaks are checked.
constexpr int kDecimatedPeaksFactor = 2;

std::vector<std::int64_t> ChunkStarts(std::int64_t first, std::int64_t last, int count) {
    std::vector<std::int64_t> starts;
    const std::int64_t span = last - first;
    const std::int64_t n = count;
    for (std::int64_t j = 0; j < n; ++j) starts.push_back(first + span * (2 * j + 1) / (2 * n));
    return starts;
}

// Four running sums, so the loop runs in vector lanes.
void DotAndEnergy(const double* a, const double* b, std::size_t n, double& dot, double& energy) {
    double d[4] = {};
    double e[4] = {};
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        for (std::size_t j = 0; j < 4; ++j) {
            d[j] += a[k + j] * b[k + j];
            e[j] += b[k + j] * b[k + j];
        }
    }
    for (; k < n; ++k) {
        d[0] += a[k] * b[k];
        e[0] += b[k] * b[k];
    }
    dot = (d[0] + d[1]) + (d[2] + d[3]);
    energy = (e[0] + e[1]) + (e[2] + e[3]);
}

void ReadFrames(const SoundView& view, std::int64_t first, std::int64_t count,
                std::vector<double>& out) {
    out.resize(static_cast<std::size_t>(count * view.channels));
    std::size_t at = 0;
    for (std::int64_t f = first; f < first + count; ++f)
        for (int c = 0; c < view.channels; ++c)
            out[at++] = f >= 0 && f < view.frames ? view.Sample(f, c) : 0.0;
}

// Fills `out` from frame `first` on: channel `channel` as it is, or for channel -1 the mean of
// all channels decimated by `factor`.
void Extract(const SoundView& view, std::int64_t first, int factor, int channel,
             std::span<float> out) {
    if (channel < 0) {
        MixDown(view, first, factor, out);
        return;
    }
    for (std::size_t t = 0; t < out.size(); ++t) {
        const std::int64_t f = first + static_cast<std::int64_t>(t);
        out[t] = f >= 0 && f < view.frames ? view.Sample(f, channel) : 0.0F;
    }
}

// The normalised correlation over every lag of [lagLo, lagHi] at once, by FFT, summed over the
// chunks: at full rate over all channels when `factor` is 1, else on the decimated mono mix.
// The lags of its highest `wanted` peaks, best first.
std::vector<std::int64_t> CorrelationPeaks(const SoundView& view, std::int64_t lagLo,
                                           std::int64_t lagHi,
                                           const std::vector<std::int64_t>& starts,
                                           std::int64_t chunk, int factor, int wanted) {
    const std::int64_t qLo = lagLo / factor;
    const std::int64_t qHi = (lagHi + factor - 1) / factor;
    const auto length = static_cast<std::size_t>(std::max<std::int64_t>(1, chunk / factor));
    const auto lags = static_cast<std::size_t>(qHi - qLo + 1);
    RealFft fft(FftSizeFor(length + lags));
    const auto scale = static_cast<double>(fft.Size());
    std::vector<int> channels;
    if (factor > 1) {
        channels.push_back(-1);
    } else {
        for (int c = 0; c < view.channels; ++c) channels.push_back(c);
    }
    const double floor = static_cast<double>(length * channels.size()) * view.RoundingNoise();
    std::vector<float> a(length);
    std::vector<float> b(length + lags - 1);
    std::vector<std::complex<float>> spectrumA(fft.Bins().size());
    std::vector<double> prefix(b.size() + 1, 0.0);
    std::vector<double> dot(lags);
    std::vector<double> energyB(lags);
    std::vector<double> total(lags, 0.0);

    for (const std::int64_t start : starts) {
        double energyA = 0.0;
        std::fill(dot.begin(), dot.end(), 0.0);
        std::fill(energyB.begin(), energyB.end(), 0.0);
        for (const int channel : channels) {
            Extract(view, start, factor, channel, a);
            Extract(view, start + qLo * factor, factor, channel, b);
            for (const float v : a) energyA += double{v} * v;
            std::span<float> samples = fft.Samples();
            std::fill(samples.begin(), samples.end(), 0.0F);
            std::copy(a.begin(), a.end(), samples.begin());
            fft.Forward();
            std::copy(fft.Bins().begin(), fft.Bins().end(), spectrumA.begin());
            std::fill(samples.begin(), samples.end(), 0.0F);
            std::copy(b.begin(), b.end(), samples.begin());
            fft.Forward();
            std::span<std::complex<float>> bins = fft.Bins();
            for (std::size_t k = 0; k < bins.size(); ++k) bins[k] *= std::conj(spectrumA[k]);
            fft.Inverse();  // samples[q] = scale * sum over t of a[t] b[t + q]
            for (std::size_t t = 0; t < b.size(); ++t)
                prefix[t + 1] = prefix[t] + double{b[t]} * b[t];
            for (std::size_t q = 0; q < lags; ++q) {
                dot[q] += samples[q] / scale;
                energyB[q] += prefix[q + length] - prefix[q];
            }
        }
        if (energyA <= floor) continue;
        for (std::size_t q = 0; q < lags; ++q)
            if (energyB[q] > floor) total[q] += dot[q] / std::sqrt(energyA * energyB[q]);
    }

    std::vector<std::size_t> order;
    for (std::size_t q = 0; q < lags; ++q) {
        const bool left = q == 0 || total[q] >= total[q - 1];
        const bool right = q + 1 == lags || total[q] > total[q + 1];
        if (left && right && total[q] > 0.0) order.push_back(q);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return total[x] != total[y] ? total[x] > total[y] : x < y;
    });
    std::vector<std::int64_t> peaks;
    for (const std::size_t q : order) {
        const std::int64_t lag = (qLo + static_cast<std::int64_t>(q)) * factor;
        const bool near = std::any_of(peaks.begin(), peaks.end(), [&](std::int64_t p) {
            return std::abs(p - lag) <= kPeakReachSteps * factor;
        });
        if (!near) peaks.push_back(lag);
        if (static_cast<int>(peaks.size()) == wanted) break;
    }
    return peaks;
}

}  // namespace

std::optional<ExactLag> FindExactLag(const SoundView& view, std::int64_t lagLo, std::int64_t lagHi,
                                     std::int64_t regionFirst, std::int64_t regionEnd,
                                     const FinderOptions& options) {
    lagLo = std::max<std::int64_t>(lagLo, 1);
    if (lagLo > lagHi) return std::nullopt;
    const std::int64_t chunk = view.FramesOf(options.chunkSeconds);
    const std::int64_t first = std::max<std::int64_t>(regionFirst, 0);
    const std::int64_t last = std::min(regionEnd, view.frames - lagHi) - chunk;
    if (last < first) return std::nullopt;
    const std::vector<std::int64_t> starts = ChunkStarts(first, last, options.chunks);

    // The peaks of a correlation by FFT, then each checked to the frame in double precision. A
    // range of a few hops is correlated at full rate; a wider one on the decimated sound, whose
    // peaks are good to a factor either way and may favour lags that are whole multiples of it,
    // so more of them are checked.
    const int factor = lagHi - lagLo <= options.fullRateLags ? 1 : DecimationOf(view, options);
    const int peaks =
        factor == 1 ? options.correlationPeaks : kDecimatedPeaksFactor * options.correlationPeaks;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (const std::int64_t peak :
         CorrelationPeaks(view, lagLo, lagHi, starts, chunk, factor, peaks))
        ranges.emplace_back(std::max(lagLo, peak - kPeakReachSteps * factor),
                            std::min(lagHi, peak + kPeakReachSteps * factor));

    std::vector<std::vector<double>> chunksA(starts.size());
    std::vector<double> energiesA(starts.size(), 0.0);
    for (std::size_t j = 0; j < starts.size(); ++j) {
        ReadFrames(view, starts[j], chunk, chunksA[j]);
        for (const double v : chunksA[j]) energiesA[j] += v * v;
    }
    const double floor = static_cast<double>(chunk * view.channels) * view.RoundingNoise();
    const auto samplesPerChunk = static_cast<std::size_t>(chunk * view.channels);

    std::optional<ExactLag> best;
    double bestSum = 0.0;
    std::vector<double> sums;
    std::vector<int> used;
    std::vector<double> b;
    for (const auto& [lo, hi] : ranges) {
        sums.assign(static_cast<std::size_t>(hi - lo + 1), 0.0);
        used.assign(sums.size(), 0);
        for (std::size_t j = 0; j < starts.size(); ++j) {
            if (energiesA[j] <= floor) continue;
            ReadFrames(view, starts[j] + lo, hi - lo + chunk, b);
            for (std::size_t l = 0; l < sums.size(); ++l) {
                double dot = 0.0;
                double energyB = 0.0;
                DotAndEnergy(chunksA[j].data(),
                             b.data() + l * static_cast<std::size_t>(view.channels),
                             samplesPerChunk, dot, energyB);
                if (energyB <= floor) continue;
                sums[l] += dot / std::sqrt(energiesA[j] * energyB);
                ++used[l];
            }
        }
        for (std::size_t l = 0; l < sums.size(); ++l) {
            // The sum, not the mean, decides: a lag that fewer chunks could see has less evidence.
            if (used[l] == 0 || (best && sums[l] <= bestSum)) continue;
            bestSum = sums[l];
            best = ExactLag{lo + static_cast<std::int64_t>(l), sums[l] / used[l]};
        }
    }
    return best;
}

}  // namespace finder
