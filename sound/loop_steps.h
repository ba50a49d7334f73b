// The steps of the seam finder (loop_finder.h), one function each, over a view of the loaded
// bytes that the caller owns. Positions and lengths are in frames of the sound unless a name
// says otherwise. Standard library and FFTW only.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sound/loop_finder.h"
#include "sound/wave_core.h"

namespace wavemisc {

// The loaded bytes as frames of samples scaled to -1 .. 1. Only for a consistent format block,
// so a frame is nChannels samples of wBitsPerSample bits.
struct SoundView {
    std::span<const std::uint8_t> bytes;
    int channels = 1;
    int bytesPerSample = 2;
    std::int32_t rate = 1;
    std::int64_t frames = 0;  // whole frames in `bytes`

    float Sample(std::int64_t frame, int channel) const {
        const std::size_t at = static_cast<std::size_t>(frame * channels + channel) *
                               static_cast<std::size_t>(bytesPerSample);
        if (bytesPerSample == 1) return (static_cast<float>(bytes[at]) - 128.0F) / 128.0F;
        const auto value = static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8);
        return static_cast<float>(value) / 32768.0F;
    }
    // The energy of the format's own rounding noise per sample: one step squared over 12.
    double RoundingNoise() const {
        const double step = bytesPerSample == 1 ? 1.0 / 128.0 : 1.0 / 32768.0;
        return step * step / 12.0;
    }
    // Frames from seconds at the sound's rate, at least `least`.
    std::int64_t FramesOf(double seconds, std::int64_t least = 1) const;
};

// Nothing for a format block whose sizes disagree or a sound without a frame.
std::optional<SoundView> ViewOf(const PcmFormat& format, std::span<const std::uint8_t> sound);

// The whole factor by which the features, and the correlation over a wide range, decimate.
int DecimationOf(const SoundView& view, const FinderOptions& options);

// out[j] = mean of all channels of frames first + j*factor .. first + j*factor + factor - 1;
// frames outside the sound count as silence.
void MixDown(const SoundView& view, std::int64_t first, int factor, std::span<float> out);

// ---- 1. Features ----------------------------------------------------------------------------

struct Features {
    std::int64_t hopFrames = 0;     // frames of the sound from one spectrum to the next
    std::int64_t windowFrames = 0;  // frames of the sound one spectrum covers
    double spectraPerSecond = 0.0;
    int bands = 0;               // a multiple of 8; bands past the real ones stay 0
    std::vector<float> shape;    // Count() x bands: log band energies, mean removed, unit length
    std::vector<float> levelDb;  // loudness of each spectrum, against a fixed reference
    float loudestDb = 0.0F;

    std::size_t Count() const { return levelDb.size(); }
    const float* Shape(std::size_t index) const {
        return shape.data() + index * static_cast<std::size_t>(bands);
    }
};

// Spectra one hop apart over the whole sound, a window at a time: memory grows with the number
// of spectra, not with the sound.
Features ComputeFeatures(const SoundView& view, const FinderOptions& options);

// ---- 2. Repetition lag ------------------------------------------------------------------------

struct Run {
    std::int64_t first = 0;   // first spectrum i that matches spectrum i + lag
    std::int64_t length = 0;  // spectra in the longest run of matches
};

// The longest run of spectra that match the spectra `lag` later (similar shape, similar level,
// not silent), after a majority filter.
Run LongestRun(const Features& features, std::int64_t lag, const FinderOptions& options);

struct RepetitionLag {
    std::int64_t lag = 0;  // in spectra
    Run run;
};

// Lags between minLag and maxLag spectra at which the sound repeats, longest repetition first,
// each already replaced by its largest multiple that still repeats (a loop that holds a phrase
// twice is the whole loop, not the phrase). At most `count`.
std::vector<RepetitionLag> FindRepetitionLags(const Features& features, std::int64_t minLag,
                                              std::int64_t maxLag, std::size_t count,
                                              const FinderOptions& options);

// ---- 3. Exact lag -----------------------------------------------------------------------------

struct ExactLag {
    std::int64_t lag = 0;
    double correlation = 0.0;  // normalised correlation at that lag, mean over the chunks
};

// The lag in [lagLo, lagHi] at which chunks taken from [regionFirst, regionEnd) best match the
// sound that many frames later: the normalised cross-correlation of the waveform, all channels
// together, summed over the chunks: by FFT over the whole range (decimated when it is wide),
// then to the frame in double precision around its best few peaks. Nothing when no chunk fits.
std::optional<ExactLag> FindExactLag(const SoundView& view, std::int64_t lagLo, std::int64_t lagHi,
                                     std::int64_t regionFirst, std::int64_t regionEnd,
                                     const FinderOptions& options);

// ---- 4. Start and 5. quality ---------------------------------------------------------------

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

// The earliest start in [first, last] from which the sound agrees with itself `lag` frames later
// for agreeHoldSeconds, then moved within jumpSearchSeconds (and within [first, last]) to the
// smallest jump at the join. Nothing when the two never agree there.
std::optional<std::int64_t> EarliestStart(const SoundView& view, std::int64_t lag,
                                          std::int64_t first, std::int64_t last,
                                          const FinderOptions& options);

// The start in [first, last] with the best seam, the earliest among seams that rank equal, with
// the smallest jump nearby.
std::int64_t CleanestStart(const SoundView& view, std::int64_t lag, std::int64_t first,
                           std::int64_t last, const FinderOptions& options);

// True when `a` is the better of two seams: transparent first, then the higher quality.
bool BetterSeam(const Seam& a, const Seam& b);

}  // namespace wavemisc
