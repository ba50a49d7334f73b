// SPDX-License-Identifier: GPL-3.0-or-later
// Ranking the loops the finder found. Each loop length found is one group of starts. Within a
// group the starts are ordered by their seams (transparent first, then the higher quality, then
// the earlier), and the first is never clearly worse (clearlyWorseDb) than the group's best. The
// groups come in the order of their evidence (how long the sound repeats at the length), those
// whose first seam passes ahead of those whose does not. Each length is one pass of the loop;
// twice that length is offered right after it, and ahead of it only where the single pass's seam
// is clearly worse. Standard library only.
#pragma once

#include <cstdint>
#include <vector>

#include "finder/finder_options.h"
#include "finder/loop_candidate.h"
#include "finder/seam_quality.h"

namespace finder {

struct Scored {
    LoopCandidate candidate;
    Seam seam;
};

// One loop length and the starts offered for it, best first.
struct LengthGroup {
    std::int64_t lagFrames = 0;  // the loop's length
    std::vector<Scored> starts;
    bool multiple = false;  // twice the length of the group before it

    const Scored& Front() const { return starts.front(); }
};

// Orders the starts of one length by their seams; then, where the first is clearly worse than
// the best (a join in silence counts as transparent, however poor the join of the music it
// stands for), the best goes first.
void OrderStarts(std::vector<Scored>& starts, const FinderOptions& options);

// The groups, in evidence order with each multiple right after its single pass, in the order
// of the ranking.
std::vector<LengthGroup> Ranked(std::vector<LengthGroup> groups, const FinderOptions& options);

}  // namespace finder
