// SPDX-License-Identifier: GPL-3.0-or-later
// Going through the found loops with Ctrl+F and Shift+Ctrl+F, without a window.
#include "app/found_loops.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

finder::LoopCandidate Loop(std::int32_t start, std::int32_t end, double qualityDb) {
    finder::LoopCandidate loop;
    loop.start = start;
    loop.end = end;
    loop.qualityDb = qualityDb;
    return loop;
}

TEST(FoundLoops, NextAndPreviousWrapAndAnyOtherChangeStartsFromTheBest) {
    wavemisc::FoundLoops found;
    found.Keep({Loop(10, 100, 40.0), Loop(20, 110, 34.24), Loop(30, 120, -0.04)});
    std::int32_t start = 0;
    std::int32_t end = 5;
    // Each press: the step, whether the loop was changed by other means before it, and the
    // candidate then shown.
    const struct {
        int step;
        bool changedBefore;
        std::int32_t shownStart;
        const char* text;
    } presses[] = {
        {1, false, 10, "候補 1/3　継ぎ目 40.0 dB"},  // the first press: the best
        {1, false, 20, "候補 2/3　継ぎ目 34.2 dB"},  // again: the next
        {1, false, 30, "候補 3/3　継ぎ目 0.0 dB"},   // never "-0.0"
        {1, false, 10, "候補 1/3　継ぎ目 40.0 dB"},  // wrapping
        {-1, false, 30, "候補 3/3　継ぎ目 0.0 dB"},  // back, wrapping
        {-1, false, 20, "候補 2/3　継ぎ目 34.2 dB"},
        {1, true, 10, "候補 1/3　継ぎ目 40.0 dB"},  // after a nudge: the best again
        {-1, true, 10, "候補 1/3　継ぎ目 40.0 dB"},
    };
    for (const auto& press : presses) {
        SCOPED_TRACE(press.text);
        if (press.changedBefore) {
            found.LoopChanged();
            EXPECT_EQ(found.ShownText(), "");
        }
        const std::optional<finder::LoopCandidate> shown = found.Press(press.step, start, end);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->start, press.shownStart);
        EXPECT_EQ(found.ShownText(), press.text);
        start = shown->start;
        end = shown->end;
    }
    // The loop is no longer the one shown, though nobody said so: the best again.
    EXPECT_EQ(found.Press(1, start + 1, end)->start, 10);
}

TEST(FoundLoops, ANewSoundIsSearchedAgainAndNothingFoundShowsNothing) {
    wavemisc::FoundLoops found;
    EXPECT_FALSE(found.Searched());
    found.Keep({});
    EXPECT_TRUE(found.Searched());
    EXPECT_FALSE(found.Press(1, 0, 100));
    found.Keep({Loop(1, 2, 3.0)});
    found.Forget();
    EXPECT_FALSE(found.Searched());
    EXPECT_FALSE(found.Press(1, 0, 100));
    EXPECT_EQ(wavemisc::SeamText(Loop(0, 1, 19.85)), "継ぎ目 19.9 dB");
}

}  // namespace
