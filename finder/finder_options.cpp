// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/finder_options.h"

#include <cmath>

namespace finder {

bool IsValid(const FinderOptions& o) {
    const bool counts = o.maxCandidates >= 1 && o.spectrumFrames >= 16 && o.hopFrames >= 1 &&
                        o.smoothSpectra >= 1 && o.bands >= 1 && o.lowestBandBin >= 1 &&
                        o.majorityFrames >= 1 && o.lagCandidates >= 1 && o.maxMultiple >= 2 &&
                        o.chunks >= 1 && o.fullRateLags >= 0 && o.correlationPeaks >= 1 &&
                        o.floorChunks >= 1 && o.ringingFrames >= 16 && o.ringingHopFrames >= 1 &&
                        o.ringingHopFrames < o.ringingFrames && o.ringingPoints >= 1 &&
                        o.ringingLeastPartials >= 1;
    const bool shares = o.highestBandPercent > 0 && o.highestBandPercent <= 100 &&
                        o.similarity <= 1.0 && o.minRunShare > 0.0 && o.holdShare > 0.0 &&
                        o.musicPercentile >= 0.0 && o.musicPercentile <= 100.0 &&
                        o.repeatedShare >= 0.0 && o.pickupShare >= 0.0 && o.pickupShare <= 1.0 &&
                        !std::isnan(o.ringingMaterial) && !std::isnan(o.wholeRinging);
    // Written as "x >= 0" or "x > 0" so that NaN fails too.
    const bool spans =
        o.analysisRateHz >= 1.0 && o.baselineSeconds >= 0.0 && o.peakWidthSeconds >= 0.0 &&
        o.bridgeSeconds >= 0.0 && o.chunkSeconds > 0.0 && o.floorChunkSeconds > 0.0 &&
        o.agreeWindowSeconds > 0.0 && o.agreeHoldSeconds > 0.0 && o.startMarginSeconds >= 0.0 &&
        o.jumpSearchSeconds >= 0.0 && o.jumpSeconds > 0.0 && o.cleanSpanSeconds >= 0.0 &&
        o.qualitySeconds > 0.0 && o.endCheckSeconds > 0.0 && o.endFallSeconds >= 0.0 &&
        o.reachSeconds >= 0.0 && o.pickupSeconds > 0.0 && o.introMostSeconds >= 0.0;
    const bool levels =
        o.levelToleranceDb >= 0.0 && o.silenceDb <= 0.0 && o.agreeErrorDb <= 0.0 &&
        o.cleanGainDb >= 0.0 && o.sameSeamDb >= 0.0 && !std::isnan(o.passQualityDb) &&
        !std::isnan(o.transparentDb) && o.agreeMarginDb >= 0.0 && o.passMarginDb >= 0.0 &&
        o.transparentMarginDb >= 0.0 && o.loosestAgreeErrorDb <= 0.0 &&
        !std::isnan(o.loosestPassQualityDb) && !std::isnan(o.loosestTransparentDb) &&
        o.clearlyWorseDb >= 0.0 && o.endQuietDb >= 0.0 && o.endLoudMarginDb >= 0.0 &&
        o.endTailFallDb >= 0.0 && o.ringingFloorDb <= 0.0;
    const bool bounds = o.minLengthSeconds >= 0.0 && o.maxLengthSeconds >= o.minLengthSeconds;
    return counts && shares && spans && levels && bounds;
}

}  // namespace finder
