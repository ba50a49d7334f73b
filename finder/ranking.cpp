// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/ranking.h"

#include <algorithm>

namespace finder {

namespace {

bool Ahead(const Scored& a, const Scored& b) {
    if (BetterSeam(a.seam, b.seam)) return true;
    if (BetterSeam(b.seam, a.seam)) return false;
    return a.candidate.start < b.candidate.start;
}

}  // namespace

void OrderStarts(std::vector<Scored>& starts, const FinderOptions& options) {
    std::stable_sort(starts.begin(), starts.end(), Ahead);
    const auto best = std::max_element(
        starts.begin(), starts.end(),
        [](const Scored& a, const Scored& b) { return a.seam.qualityDb < b.seam.qualityDb; });
    if (best != starts.end() &&
        starts.front().seam.qualityDb <= best->seam.qualityDb - options.clearlyWorseDb) {
        std::rotate(starts.begin(), best, best + 1);
    }
}

std::vector<LengthGroup> Ranked(std::vector<LengthGroup> groups, const FinderOptions& options) {
    for (std::size_t i = 1; i < groups.size(); ++i) {
        if (!groups[i].multiple) continue;
        const double single = groups[i - 1].Front().seam.qualityDb;
        const bool singleTransparent = groups[i - 1].Front().seam.transparent;
        if (!singleTransparent &&
            single <= groups[i].Front().seam.qualityDb - options.clearlyWorseDb) {
            std::swap(groups[i - 1], groups[i]);
        }
    }
    std::stable_partition(groups.begin(), groups.end(),
                          [](const LengthGroup& g) { return g.Front().candidate.passes; });
    return groups;
}

}  // namespace finder
