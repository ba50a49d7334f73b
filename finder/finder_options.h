// SPDX-License-Identifier: GPL-3.0-or-later
// Every threshold of the seam finder, with its unit and default, in one options struct that the
// steps share. Options are checked once, where they enter the finder (IsValid), never clamped
// silently inside a step. Standard library only.
#pragma once

#include <limits>

namespace finder {

struct FinderOptions {
    int maxCandidates = 5;  // candidates returned, best first

    // Features.
    double analysisRateHz = 12000.0;  // the sound is decimated by a whole factor to at most this
    int spectrumFrames = 512;         // analysis frames per spectrum (Hann window), at least 16
    int hopFrames = 128;              // analysis frames between spectra (about 11 ms)
    int smoothSpectra = 8;            // consecutive spectra whose band powers are summed
    int bands = 40;                   // log-spaced bands from lowestBandBin up
    int lowestBandBin = 3;            // first bin of the lowest band (about 70 Hz at 12 kHz)
    int highestBandPercent = 90;      // the highest band ends at this share of Nyquist

    // Repetition lag.
    double similarity = 0.97;        // cosine of two spectra (log bands, mean removed) to match
    double levelToleranceDb = 6.0;   // and their levels may differ by at most this (a fade may not)
    double silenceDb = -60.0;        // spectra this far below the loudest never match
    int majorityFrames = 15;         // a spectrum matches when most of this many around it do
    double bridgeSeconds = 0.15;     // a run goes on across a break this short
    int lagCandidates = 48;          // peaks of the summed self-similarity examined per sound
    double baselineSeconds = 0.5;    // spectra lose their mean over this far around them first
    double peakWidthSeconds = 0.15;  // a peak's height is taken over the mean this far around it
    double minRunShare = 0.3;        // a loop repeats at least this share of its own length
    int maxMultiple = 16;            // largest multiple and divisor of a lag tried as one pass

    // Exact lag.
    int chunks = 16;            // chunks of the repeated stretch correlated
    double chunkSeconds = 0.1;  // length of each chunk
    int fullRateLags = 8192;    // ranges of up to this many lags are correlated at full rate
    int correlationPeaks = 4;   // peaks of that correlation checked to the frame (twice as
                                // many when it had to be decimated)

    // The material's own floor (seam_quality.h): how closely its passes agree where they repeat.
    int floorChunks = 24;                // chunks of the repeated stretch measured
    double floorChunkSeconds = 0.2;      // length of each chunk
    double agreeMarginDb = 10.0;         // the passes agree within this of the floor ...
    double passMarginDb = 6.0;           // a seam passes within this of it ...
    double transparentMarginDb = 3.0;    // ... and ranks as transparent within this;
    double loosestAgreeErrorDb = -8.0;   // but never more loosely than this, whatever the
    double loosestPassQualityDb = 10.0;  // floor: at a lag where the sound does not repeat,
    double loosestTransparentDb = 20.0;  // the floor says nothing

    // Start.
    double agreeWindowSeconds = 0.01;  // error windows; they step by half their length
    double agreeErrorDb = -20.0;       // the passes agree where the error is below this at least
    double agreeHoldSeconds = 0.05;    // ... and stays below it this long
    double startMarginSeconds = 1.0;   // the start is looked for this far before the repetition
    double jumpSearchSeconds = 0.005;  // the join moves this far either way for the smallest jump
    double jumpSeconds = 0.001;        // the jump is measured over this many frames after the join
    double cleanSpanSeconds = 10.0;  // the cleanest start is looked for this far after the earliest
    double cleanGainDb = 3.0;        // and offered when its seam is this much better

    // Quality and ranking.
    double qualitySeconds = 0.1;  // frames compared after (or before) the join
    double passQualityDb = 20.0;  // a seam at or above this passes, at the most
    double transparentDb = 40.0;  // above this (or within rounding noise) seams rank equal
    double holdShare = 0.8;       // a loop whose passes agree (by the material's floor) over
                                  // this share of it passes, however its seam measures: at a
                                  // lossy copy's noise a join may measure poorly
    double sameSeamDb = 0.5;      // seams within this of each other are as good: a refined loop
                                  // nearer the points marked wins only so
    double clearlyWorseDb = 6.0;  // a seam this much worse than another of the same length never
                                  // comes first, nor a pass whose seam is this much worse than
                                  // a multiple's

    // Where a loop may end: where the sound ends, as our own commands allow (its end exclusive,
    // up to the number of frames), or at the last frame at most, as the window's rule has it.
    bool toSoundEnd = false;

    // A recording of passes or a file that plays its loop once (file_end.h).
    double musicPercentile = 90.0;   // the music's level: this percentile of the spectra's levels
    double endCheckSeconds = 0.5;    // the sound's last moments, this long, are quiet when they
    double endQuietDb = 15.0;        // lie this far below the music's level
    double endLoudMarginDb = 6.0;    // the music is at its level within this of it
    double endFallSeconds = 2.5;     // a quiet end falls away (a fade, a last chord or a sound
                                     // dying out) when the music left its level this long before
    double endTailFallDb = 6.0;      // and the second half of what followed is this much quieter
                                     // than the first
    double reachSeconds = 3.0;       // music repeats on to its end where most of this long before
                                     // it is last at its level matches the pass before
    double repeatedShare = 0.42;     // music that repeats on to an end that does not fall away is a
                                     // recording of passes where it repeats over this share of it
    int ringingFrames = 512;         // analysis frames of the windows that hold partials at a join
    int ringingHopFrames = 64;       // analysis frames between the two that tell a partial's pitch
    double ringingFloorDb = -40.0;   // partials this far below the end's strongest are left out
    int ringingLeastPartials = 4;    // fewer partials than this at the end tell nothing
    int ringingPoints = 24;          // places where the material's own ringing is measured
    double ringingMaterial = 0.2;    // partials that ring on less than this from moment to moment
                                     // are no music a join could continue (noise): no such loop
    double wholeRinging = 0.6;       // a whole file whose join continues the end's partials this
                                     // closely loops as a whole, whatever intro seems to be there
    double pickupSeconds = 0.3;      // the opening that a pickup intro shares with the loop's end
    double pickupShare = 0.8;        // the share of the intro that agrees with the loop's end
    double introMostSeconds = 30.0;  // an intro found is at most this long

    // Bounds of the loop's length, in seconds: the best loop within them, a multiple of the pass
    // when the lower bound asks for one.
    double minLengthSeconds = 0.0;
    double maxLengthSeconds = std::numeric_limits<double>::infinity();
};

// Whether every count is positive and every span and rate is one the steps can work with.
bool IsValid(const FinderOptions& options);

}  // namespace finder
