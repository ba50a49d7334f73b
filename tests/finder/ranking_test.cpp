// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking of found loops: within a length the first start is never clearly worse than the
// best, passing lengths come first, and twice the pass stands after the pass unless the pass's
// seam is clearly worse.
#include "finder/ranking.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

finder::Scored Start(std::int32_t start, std::int32_t length, double qualityDb, bool transparent,
                     bool passes) {
    finder::Scored scored;
    scored.candidate.start = start;
    scored.candidate.end = start + length;
    scored.candidate.qualityDb = qualityDb;
    scored.candidate.passes = passes;
    scored.seam.qualityDb = qualityDb;
    scored.seam.transparent = transparent;
    return scored;
}

TEST(Ranking, TheFirstStartOfALengthIsNeverClearlyWorseThanTheBest) {
    struct Row {
        const char* name;
        std::vector<finder::Scored> starts;
        std::int32_t first;
    };
    const Row rows[] = {
        {"a join in silence, transparent by the rounding, against the music's own at 31 dB",
         {Start(179886, 236484, 0.0, true, true), Start(0, 236484, 31.2, false, true)},
         0},
        {"transparent seams rank equal: the earlier first",
         {Start(900, 1000, 45.0, true, true), Start(100, 1000, 43.0, true, true)},
         100},
        {"less than 6 dB apart: the transparent one stands",
         {Start(100, 1000, 36.0, true, true), Start(900, 1000, 40.0, false, true)},
         100},
        {"the higher quality first among seams that are not transparent",
         {Start(100, 1000, 12.0, false, false), Start(900, 1000, 19.8, false, true)},
         900},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<finder::Scored> starts = row.starts;
        finder::OrderStarts(starts, {});
        EXPECT_EQ(starts.front().candidate.start, row.first);
        EXPECT_EQ(starts.size(), row.starts.size());
    }
}

TEST(Ranking, PassingLengthsFirstAndAMultipleOnlyWhereThePassIsClearlyWorse) {
    const auto group = [](std::int64_t length, double qualityDb, bool passes, bool multiple) {
        finder::LengthGroup g;
        g.lagFrames = length;
        g.starts = {Start(0, static_cast<std::int32_t>(length), qualityDb, false, passes)};
        g.multiple = multiple;
        return g;
    };
    struct Row {
        const char* name;
        std::vector<finder::LengthGroup> groups;
        std::vector<std::int64_t> order;
    };
    const Row rows[] = {
        {"the pass before its multiple",
         {group(1000, 30, true, false), group(2000, 33, true, true)},
         {1000, 2000}},
        {"the multiple before a pass clearly worse",
         {group(1000, 20, true, false), group(2000, 30, true, true)},
         {2000, 1000}},
        {"a length whose seam passes before one with more evidence",
         {group(3000, 5, false, false), group(1000, 25, true, false)},
         {1000, 3000}},
        {"otherwise the order of the evidence",
         {group(3000, 25, true, false), group(1000, 35, true, false)},
         {3000, 1000}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::int64_t> order;
        for (const finder::LengthGroup& g : finder::Ranked(row.groups, {}))
            order.push_back(g.lagFrames);
        EXPECT_EQ(order, row.order);
    }
}

}  // namespace
