// SPDX-License-Identifier: GPL-3.0-or-later
// The window's loop editing without the window: nudge steps, typed numbers, time text, the bar.
#include "app/loop_editing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(Nudges, StepsPerRowAndDirection) {
    struct Row {
        std::int32_t rate;
        std::int64_t steps[5];  // forward step of each row
    };
    const Row rows[] = {
        {44100, {1, 10, 4410, 44100, 441000}},
        {11025, {1, 10, 1102, 11025, 110250}},                  // 1102.5 halves to even
        {11035, {1, 10, 1104, 11035, 110350}},                  // 1103.5 halves to even
        {8001, {1, 10, 800, 8001, 80010}},                      // 800.1
        {536870911, {1, 10, 53687091, 536870911, 5368709110}},  // wide, no overflow
    };
    for (const Row& row : rows) {
        for (int index = 0; index < wavemisc::kNudgeButtons; ++index) {
            const std::int64_t forward = row.steps[(index / 2) % 5];
            const std::int64_t expected = index % 2 == 0 ? -forward : forward;
            EXPECT_EQ(wavemisc::NudgeStep(index, row.rate), expected)
                << "rate " << row.rate << " button " << index;
            EXPECT_EQ(wavemisc::NudgeMovesStart(index), index < 10) << index;
        }
    }
}

struct TextRow {
    const char* text;
    std::int32_t frames;
};

TEST(TypedText, ReadsLikeTheClassicVal) {
    const TextRow rows[] = {
        {"abc", 0},
        {"1e3", 1000},
        {"12.5", 12},
        {"13.5", 14},
        {"12 345", 12345},
        {"12,345", 12},
        {"-100", -100},
        {"+7", 7},
        {" \t\n 4 2 ", 42},
        {"- 1 0", -10},
        {"", 0},
        {".5", 0},
        {".51", 1},
        {"1.", 1},
        {"1.2.3", 1},
        {"1e", 1},
        {"1e+", 1},
        {"1E+2", 100},
        {"2.5e-1", 0},
        {"1e-400", 0},
        {"--5", 0},
        {"e5", 0},
        {"&H1F", 31},
        {"&hff", 255},
        {"&O17", 15},
        {"&o19", 1},
        {"&H", 0},
        {"&X10", 0},
        {"&", 0},
        {"\r12", 0},  // a carriage return is not one of the ignored blanks
        {"１２", 0},  // full-width digits are not digits
        // Out of range: clamped into 32 bits before any rule.
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"99999999999", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"1e400", kMax},
        {"-1e400", kMin},
        {"&HFFFFFFFFFF", kMax},
        {"0.0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "00000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "00000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "00000000000000000000000000000000000000000000000000000000000000000000000000000000001",
         0},
    };
    for (const TextRow& row : rows) {
        EXPECT_EQ(wavemisc::ReadFrameNumber(row.text), row.frames) << '"' << row.text << '"';
    }
    EXPECT_EQ(wavemisc::ReadNumber("12.5"), 12.5);
    EXPECT_EQ(wavemisc::ReadNumber("-0.25e1"), -2.5);
}

struct TimeRow {
    std::int32_t frame, rate;
    const char* text;
};

TEST(TimeText, MinutesSecondsMilliseconds) {
    const TimeRow rows[] = {
        {0, 44100, "0:00.000"},       {22050, 44100, "0:00.500"},
        {2646000, 44100, "1:00.000"}, {2641590, 44100, "0:59.900"},
        {5278770, 44100, "1:59.700"}, {59900, 1000, "0:59.900"},
        {60000, 1000, "1:00.000"},    {119700, 1000, "1:59.700"},
        {1000, 16000, "0:00.063"},  // 0.0625 exactly: halves away from zero
        {440999, 44100, "0:10.000"},  {1, 3, "0:00.333"},
        {kMax, 1, "35791394:08.000"},  // the float of INT32_MAX is 2^31,
        {-44100, 44100, "-1:59.000"},
    };
    for (const TimeRow& row : rows) {
        EXPECT_EQ(wavemisc::TimeText(row.frame, row.rate), row.text)
            << row.frame << " / " << row.rate;
    }
}

TEST(BarScale, FrameUnderTheMouse) {
    struct Row {
        float x;
        std::int32_t last, frame;
    };
    const Row rows[] = {
        {0.5F, 440999, 220500},  // 220499.5 halves to even
        {0.5F, 441001, 220500},  // 220500.5 halves to even
        {0.0F, 440999, 0},      {1.0F, 440999, 440999}, {-0.25F, 440999, -110250},
        {1e9F, 440999, kMax},   {-1e9F, 440999, kMin},  {0.75F, 0, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(wavemisc::FrameAtBar(row.x, row.last), row.frame) << row.x;
    EXPECT_FLOAT_EQ(wavemisc::BarRatio(220500, 441000), 0.5F);
    EXPECT_FLOAT_EQ(wavemisc::BarRatio(-88200, 1), -88200.0F);
}

}  // namespace
