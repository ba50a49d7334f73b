// SPDX-License-Identifier: GPL-3.0-or-later
// Where the join's window goes beside the main one, on screens of every shape: the whole window
// always on the screen, beside the main one wherever there is room.
#include "app/window_placement.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace wavemisc {
namespace {

// The frames as the windows have them: the main one 444 x 373, the join's 484 x 244.
constexpr int kMainWidth = 444;
constexpr int kJoinWidth = 484;
constexpr int kJoinHeight = 244;
constexpr int kGap = 8;
// Where the main window's left edge leaves exactly room for the join on its right, on 1280.
constexpr int kRoomRight = 1280 - kJoinWidth - kGap - kMainWidth;

TEST(WindowPlacement, BesideWhereThereIsRoomAndAlwaysOnTheScreen) {
    struct Row {
        const char* name;
        ScreenRect screen;
        int mainLeft, mainTop;
        int x, y;
    };
    const ScreenRect laptop{0, 0, 1280, 800};
    const Row rows[] = {
        {"exactly room on the right", laptop, kRoomRight, 0, 1280 - kJoinWidth, 0},
        {"a pixel short: over it", laptop, kRoomRight + 1, 0, 1280 - kJoinWidth, 0},
        {"at the right edge: the left", laptop, 1280 - kMainWidth, 9, 1280 - 936, 9},
        // Centred on 1280 pixels neither side has room: the right edge on the screen's.
        {"centred: over it", laptop, (1280 - kMainWidth) / 2, 200, 1280 - kJoinWidth, 200},
        {"near the bottom: raised", laptop, 0, 700, kMainWidth + kGap, 800 - kJoinHeight},
        {"off the left: on the screen", laptop, -800, -300, 0, 0},
        // A second screen right of the first, its panel taking 30 pixels at the top.
        {"second screen", {1920, 30, 1280, 994}, 2620, 10, 2620 - kGap - kJoinWidth, 30},
        {"screen smaller than the window", {0, 0, 400, 200}, 0, 0, 0, 0},
        {"far along 32 bits",
         {INT_MAX - 2000, 0, 2000, 800},
         INT_MAX - 2000,
         0,
         INT_MAX - 2000 + kMainWidth + kGap,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScreenRect main{row.mainLeft, row.mainTop, kMainWidth, 373};
        const ScreenPoint at = PlaceBeside(main, kJoinWidth, kJoinHeight, row.screen, kGap);
        EXPECT_EQ(at.x, row.x);
        EXPECT_EQ(at.y, row.y);
        if (row.screen.width < kJoinWidth) continue;  // no place holds it whole
        EXPECT_GE(at.x, row.screen.left);
        EXPECT_LE(std::int64_t{at.x} + kJoinWidth,
                  std::int64_t{row.screen.left} + row.screen.width);
        EXPECT_GE(at.y, row.screen.top);
        EXPECT_LE(at.y + kJoinHeight, row.screen.top + row.screen.height);
    }
}

}  // namespace
}  // namespace wavemisc
