// SPDX-License-Identifier: GPL-3.0-or-later
// Where the join's window goes beside the main one, on screens of every shape: the whole window
// always on the screen, beside the main one wherever there is room.
#include "app/window_placement.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace wavemisc {
namespace {

// The main window's frame as the window has it, 444 x 373; the join's, 484 x 244.
constexpr int kMainWidth = 444;
constexpr int kMainHeight = 373;
constexpr int kJoinWidth = 484;
constexpr int kJoinHeight = 244;
constexpr int kGap = 8;

TEST(WindowPlacement, BesideWhereThereIsRoomAndAlwaysOnTheScreen) {
    struct Row {
        const char* name;
        ScreenRect screen;
        int mainLeft;
        int mainTop;
        ScreenPoint expected;
    };
    const ScreenRect wide{0, 0, 1920, 1080};
    const ScreenRect laptop{0, 0, 1280, 800};
    const Row rows[] = {
        {"room on the right", wide, 100, 50, {100 + kMainWidth + kGap, 50}},
        {"exactly room on the right",
         laptop,
         1280 - kJoinWidth - kGap - kMainWidth,
         0,
         {1280 - kJoinWidth, 0}},
        {"one pixel short on the right, none on the left: overlapping",
         laptop,
         1280 - kJoinWidth - kGap - kMainWidth + 1,
         0,
         {1280 - kJoinWidth, 0}},
        {"exactly room on the left", laptop, kJoinWidth + kGap, 0, {0, 0}},
        {"at the right edge: the left",
         laptop,
         1280 - kMainWidth,
         100,
         {1280 - kMainWidth - kGap - kJoinWidth, 100}},
        // Centred on a 1280-pixel screen neither side has room: the join overlaps the main
        // window, its right edge on the screen's.
        {"centred on 1280 pixels: overlapping",
         laptop,
         (1280 - kMainWidth) / 2,
         200,
         {1280 - kJoinWidth, 200}},
        {"near the bottom: raised", laptop, 0, 700, {kMainWidth + kGap, 800 - kJoinHeight}},
        {"main window above the screen: at its top", laptop, 0, -300, {kMainWidth + kGap, 0}},
        {"main window partly off the left: to its right",
         laptop,
         -200,
         0,
         {-200 + kMainWidth + kGap, 0}},
        {"main window off the left: on the screen", laptop, -800, 0, {0, 0}},
        // A second screen right of the first, its panel taking 30 pixels at the top.
        {"second screen",
         {1920, 30, 1280, 994},
         1920 + 700,
         10,
         {1920 + 700 - kGap - kJoinWidth, 30}},
        {"screen smaller than the window: its top-left corner", {0, 0, 400, 200}, 0, 0, {0, 0}},
        {"far along the 32-bit range",
         {INT_MAX - 2000, 0, 2000, 800},
         INT_MAX - 2000,
         0,
         {INT_MAX - 2000 + kMainWidth + kGap, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScreenRect main{row.mainLeft, row.mainTop, kMainWidth, kMainHeight};
        const ScreenPoint at = PlaceBeside(main, kJoinWidth, kJoinHeight, row.screen, kGap);
        EXPECT_EQ(at.x, row.expected.x);
        EXPECT_EQ(at.y, row.expected.y);
        // Whole on the screen whenever the screen can hold it.
        if (kJoinWidth <= row.screen.width && kJoinHeight <= row.screen.height) {
            EXPECT_GE(at.x, row.screen.left);
            EXPECT_LE(std::int64_t{at.x} + kJoinWidth,
                      std::int64_t{row.screen.left} + row.screen.width);
            EXPECT_GE(at.y, row.screen.top);
            EXPECT_LE(at.y + kJoinHeight, row.screen.top + row.screen.height);
        }
    }
}

}  // namespace
}  // namespace wavemisc
