// SPDX-License-Identifier: GPL-3.0-or-later
// The loop rules and their numbers: the two clamps, the last frame, half-to-even rounding.
#include "wave/loop_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <utility>

#include "tests/support/wave_layer.h"
#include "wave/pcm_format.h"
#include "wave/rounding.h"

namespace {

using wave::ApplyEndRule;
using wave::ApplyStartRule;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// A 10-second sound at 44100 frames per second unless a row says otherwise.
constexpr std::int64_t kHalf = 88200;
constexpr std::int32_t kLast = 440999;

struct StartRow {
    const char* name;
    std::int32_t start, end;
    std::int64_t half;
    std::int32_t expected;
};

TEST(LoopRules, StartRule) {
    const StartRow rows[] = {
        {"typed too close is pulled one past the bound", 150000, 200000, kHalf, 111799},
        {"exactly the distance stands", 111800, 200000, kHalf, 111800},
        {"corrected to -1 is floored to 0", 1, 88200, kHalf, 0},
        {"negative typed value is floored", -100, 440999, kHalf, 0},
        {"start beyond the end", kMax, 200000, kHalf, 111799},
        {"lowest int32 start", kMin, 200000, kHalf, 0},
        {"end below the window floors to 0", 5, 10, kHalf, 0},
        {"largest accepted rate does not overflow", kMax, kMax, 1073741822, 1073741824},
        {"no sound: distance 0, start equal to end", 500, 500, 0, 500},
        {"no sound: start after end", 501, 500, 0, 499},
    };
    for (const StartRow& row : rows) {
        EXPECT_EQ(ApplyStartRule(row.start, row.end, row.half), row.expected) << row.name;
    }
}

struct EndRow {
    const char* name;
    std::int32_t end, start;
    std::int64_t half;
    std::int32_t last;
    std::int32_t expected;
};

TEST(LoopRules, EndRule) {
    const EndRow rows[] = {
        {"right click at the middle stands", 220500, 300000, kHalf, kLast, 388201},
        {"exactly the distance stands", 388200, 300000, kHalf, kLast, 388200},
        {"beyond the last frame is capped", kLast + 1, 0, kHalf, kLast, kLast},
        {"corrected to LastFrame + 1 is capped", kLast - 5, kLast - 88200, kHalf, kLast, kLast},
        {"lowest int32 end", kMin, 0, kHalf, kLast, 88201},
        {"correction past int32 is capped by LastFrame", 0, kMax, kHalf, kMax, kMax},
        {"no sound: everything collapses to LastFrame 0", -100, 0, 0, 0, 0},
    };
    for (const EndRow& row : rows) {
        EXPECT_EQ(ApplyEndRule(row.end, row.start, row.half, row.last), row.expected) << row.name;
    }
}

TEST(LoopRules, RoundHalfEven) {
    const std::pair<double, double> rows[] = {
        {0.5, 0.0},       {1.5, 2.0},
        {2.5, 2.0},       {-0.5, -0.0},
        {-1.5, -2.0},     {-2.5, -2.0},
        {2.4999, 2.0},    {2.5001, 3.0},
        {1102.5, 1102.0}, {4503599627370497.0, 4503599627370497.0},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(wave::RoundHalfEven(in), out) << in;
}

TEST(LoopRules, LastFrameRoundsHalfToEven) {
    struct Row {
        std::int16_t bits, channels;
        std::int64_t dataBytes;
        std::int32_t last;
    };
    for (const Row& r :
         {Row{16, 2, 882000, 220499}, Row{8, 1, 110250, 110249}, Row{16, 1, 220501, 110250},
          Row{16, 1, 220503, 110250}, Row{16, 2, 882003, 220500}, Row{8, 1, 0, -1},
          Row{8, 1, std::int64_t{1} << 40, 2147483647}, Row{0, 1, 1000, -1},
          Row{16, 0, 1000, -1}}) {
        EXPECT_EQ(wave::LastFrameOf(testwave::PcmFormatOf(r.bits, r.channels, 8000), r.dataBytes),
                  r.last)
            << r.bits << " bits " << r.channels << " ch " << r.dataBytes;
    }
    EXPECT_EQ(wave::HalfWindowFrames(testwave::PcmFormatOf(16, 2, 44100)), 88200);
    EXPECT_EQ(wave::HalfWindowFrames(testwave::PcmFormatOf(8, 1, 11025)), 22050);
}

// Our own commands' limit: the end may be the number of whole frames, one past the window's
// last frame, never into a frame the payload holds only part of (where the window's rounded last
// frame already reaches it); where the frame size is no whole number of bytes, the window's limit
// stands.
TEST(LoopRules, OurOwnCommandsTakeAnEndAtTheSoundsEnd) {
    struct Row {
        const char* name;
        std::int16_t bits, channels;
        std::int64_t dataBytes;
        std::int32_t soundEnd;    // lastFrame of LoopLimitsToSoundEnd
        std::int32_t windowLast;  // lastFrame of LoopLimitsOf
    };
    const Row rows[] = {
        {"16-bit stereo, whole frames", 16, 2, 882000, 220500, 220499},
        {"8-bit mono", 8, 1, 110250, 110250, 110249},
        {"a payload ending part way through a frame", 16, 2, 882003, 220500, 220500},
        {"no frame at all", 16, 2, 3, 0, 0},
        {"more frames than 32 bits count", 8, 1, std::int64_t{1} << 40, 2147483647, 2147483647},
        {"a frame of no whole number of bytes", 12, 1, 1500, 999, 999},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const wave::PcmFormat format = testwave::PcmFormatOf(r.bits, r.channels, 8000);
        const wave::LoopLimits own = wave::LoopLimitsToSoundEnd(format, r.dataBytes);
        const wave::LoopLimits window = wave::LoopLimitsOf(format, r.dataBytes);
        EXPECT_EQ(own.lastFrame, r.soundEnd);
        EXPECT_EQ(window.lastFrame, r.windowLast);
        EXPECT_EQ(own.halfWindowFrames, window.halfWindowFrames);
        if (r.soundEnd < 16000) continue;
        EXPECT_TRUE(wave::KeepsLoopRule(own, 0, r.soundEnd));
        EXPECT_EQ(wave::KeepsLoopRule(window, 0, r.soundEnd), r.windowLast == r.soundEnd);
        EXPECT_FALSE(wave::KeepsLoopRule(own, 0, std::int64_t{r.soundEnd} + 1));
    }
}

}  // namespace
