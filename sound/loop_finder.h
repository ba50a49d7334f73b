// The seam finder: loop candidates for a loaded sound, each with a start, an end (the frame the
// loop jumps back from, as LoopEnd) and a measured seam quality, and the refinement of a loop the
// user marked by hand. Pure C++ over the sound's bytes, with FFTW for the transforms; no Qt, no
// SDL, no module state. The same input always gives the same answer.
//
// The steps, each its own function in loop_steps.h so a test can run them one at a time:
//   1. features: short-time spectra of the sound mixed to mono and decimated;
//   2. repetition lag: the lags at which long runs of spectra repeat, to within a hop;
//   3. exact lag: normalised cross-correlation of the waveform, all channels, over chunks of
//      the repeated stretch, to the frame;
//   4. start: the earliest point from which the two passes agree, then the smallest jump
//      nearby, and the cleanest start after notes ringing across the join have died away;
//   5. quality: how closely what follows the join matches what follows the end, in dB.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "sound/wave_core.h"

namespace wavemisc {

// What the user reads when the finder has no candidate.
inline constexpr std::string_view kNoLoopFound = "ループ候補が見つかりませんでした";

// Every threshold of the finder, with its unit and default.
struct FinderOptions {
    int maxCandidates = 5;               // candidates returned, best first

    // Features.
    double analysisRateHz = 12000.0;     // the sound is decimated by a whole factor to at most this
    int spectrumFrames = 512;            // analysis frames per spectrum (Hann window)
    int hopFrames = 128;                 // analysis frames between spectra (about 11 ms)
    int smoothSpectra = 8;               // consecutive spectra whose band powers are summed
    int bands = 40;                      // log-spaced bands from bin 3 to 90 % of Nyquist

    // Repetition lag.
    double similarity = 0.97;            // cosine of two spectra (log bands, mean removed) to match
    double levelToleranceDb = 6.0;       // and their levels may differ by at most this (a fade may not)
    double silenceDb = -60.0;            // spectra this far below the loudest never match
    int majorityFrames = 15;             // a spectrum matches when most of this many around it do
    int lagCandidates = 48;              // peaks of the summed self-similarity examined per sound
    double baselineSeconds = 0.5;        // spectra lose their mean over this far around them first
    double peakWidthSeconds = 0.15;      // a peak's height is taken over the mean this far around it
    double minRunShare = 0.3;            // a loop repeats at least this share of its own length
    double multipleRunShare = 0.8;       // a multiple of a lag replaces it when it repeats this share
    int maxMultiple = 16;                // largest multiple of a lag tried as the whole loop

    // Exact lag.
    int chunks = 16;                     // chunks of the repeated stretch correlated
    double chunkSeconds = 0.1;           // length of each chunk
    int fullRateLags = 8192;             // ranges of up to this many lags are correlated at full rate
    int correlationPeaks = 4;            // peaks of that correlation checked to the frame (twice as
                                         // many when it had to be decimated)

    // Start.
    double agreeWindowSeconds = 0.01;    // error windows; they step by half their length
    double agreeErrorDb = -20.0;         // the passes agree where the error is below this
    double agreeHoldSeconds = 0.05;      // ... and stays below it this long
    double startMarginSeconds = 1.0;     // the start is looked for this far before the repetition
    double jumpSearchSeconds = 0.005;    // the join moves this far either way for the smallest jump
    double jumpSeconds = 0.001;          // the jump is measured over this many frames after the join
    double cleanSpanSeconds = 10.0;      // the cleanest start is looked for this far after the earliest
    double cleanGainDb = 3.0;            // and offered when its seam is this much better

    // Quality.
    double qualitySeconds = 0.1;         // frames compared after (or before) the join
    double passQualityDb = 20.0;         // a seam at or above this passes
    double transparentDb = 40.0;         // above this (or within rounding noise) seams rank equal
};

struct LoopCandidate {
    std::int32_t start = 0;        // LoopStart: first frame of the loop
    std::int32_t end = 0;          // LoopEnd: the loop body is start .. end - 1
    double qualityDb = 0.0;        // the seam quality in dB (MeasureSeam in loop_steps.h)
    double repeatSeconds = 0.0;    // evidence: how long the sound repeats at this length
                                   // (0 from a refine, which does not measure it)
    bool passes = false;           // the seam is at or above passQualityDb, or the two sides differ by
                                   // no more than the format's own rounding noise
};

// Candidates, best first, at most options.maxCandidates. Each satisfies the window's loop rules:
// 0 <= start, start + HalfWindow <= end <= LastFrame. Empty when nothing repeats, and for a
// format block whose sizes disagree (no loop of it can be saved).
std::vector<LoopCandidate> FindLoops(const PcmFormat& format, std::span<const std::uint8_t> sound,
                                     const FinderOptions& options = {});

// The best loop whose start and end lie within radiusSeconds of the given ones; nothing when no
// loop there satisfies the loop rules or has a seam that passes.
std::optional<LoopCandidate> RefineLoop(const PcmFormat& format, std::span<const std::uint8_t> sound,
                                        std::int32_t start, std::int32_t end, double radiusSeconds,
                                        const FinderOptions& options = {});

}  // namespace wavemisc
