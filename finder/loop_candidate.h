// SPDX-License-Identifier: GPL-3.0-or-later
// One loop the finder offers: the type that its steps, its ranking and its callers share, apart
// from the entry points that make it. Standard library and the wave layer's loop rules only.
#pragma once

#include <cstdint>

#include "wave/loop_rules.h"

namespace finder {

struct LoopCandidate {
    std::int32_t start = 0;      // LoopStart: first frame of the loop
    std::int32_t end = 0;        // LoopEnd: the loop body is start .. end - 1
    double qualityDb = 0.0;      // the seam quality in dB (MeasureSeam, or MeasureFileEndSeam)
    double repeatSeconds = 0.0;  // evidence: how long the sound repeats at this length
                                 // (0 from a refine, which does not measure it, and for FileEnd)
    bool passes = false;  // the seam is at or above passQualityDb, or the two sides differ by
                          // no more than the format's own rounding noise, or the passes agree
                          // over holdShare of the loop (a lossy copy's seam measures its noise);
                          // for FileEnd, the join's evidence holds (file_end.h)
    wave::LoopKind kind = wave::LoopKind::Passes;  // FileEnd: the loop ends at the last end the
                                                   // limits allow (the sound's end, for ours)
};

}  // namespace finder
