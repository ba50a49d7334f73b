// SPDX-License-Identifier: GPL-3.0-or-later
// The seam quality the finder prints, against its formula on sounds whose sums are known:
// 10 log10((E + e) / (D + e)) over the 100 ms after the join, or before it near the sound's end.
#include "finder/seam_quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "finder/sound_view.h"
#include "tests/support/wave_bytes.h"
#include "wave/pcm_format.h"

namespace {

constexpr std::int32_t kRate = 1000;  // 100 ms are 100 frames
constexpr std::int64_t kFrames = 3000;
constexpr double kStep = 1.0 / 32768.0;

// 16-bit mono samples of sample(frame), in -1 .. 1.
std::vector<std::uint8_t> Render(const std::function<double(std::int64_t)>& sample) {
    testwave::Bytes bytes;
    for (std::int64_t f = 0; f < kFrames; ++f) {
        const auto value = static_cast<std::int16_t>(std::lround(sample(f) * 32767.0));
        testwave::PutU16(bytes, static_cast<std::uint16_t>(value));
    }
    return bytes;
}

double Stored(const std::vector<std::uint8_t>& bytes, std::int64_t frame) {
    const auto at = static_cast<std::size_t>(frame * 2);
    return static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8) * kStep;
}

// The formula over n frames from `from` (the join's side) against n frames from `to`.
double Expected(const std::vector<std::uint8_t>& bytes, std::int64_t from, std::int64_t to,
                std::int64_t n) {
    double energy = 0.0;
    double difference = 0.0;
    for (std::int64_t t = 0; t < n; ++t) {
        energy += Stored(bytes, to + t) * Stored(bytes, to + t);
        difference += (Stored(bytes, from + t) - Stored(bytes, to + t)) *
                      (Stored(bytes, from + t) - Stored(bytes, to + t));
    }
    const double noise = static_cast<double>(n) * kStep * kStep / 12.0;
    return 10.0 * std::log10((energy + noise) / (difference + noise));
}

double Tone(std::int64_t f) { return 0.5 * std::sin(0.05 * static_cast<double>(f)); }

TEST(SeamQuality, MatchesItsFormula) {
    struct Row {
        const char* name;
        std::function<double(std::int64_t)> sample;
        std::int64_t start, end;
        std::int64_t from, to, n;  // the frames the formula compares
        bool transparent;
        std::optional<double> roughlyDb;  // what the sums must come to, where known by hand
    };
    // Period 2000 * pi / 0.05 is no whole frame count, so only a repeated stretch repeats.
    const auto repeated = [](std::int64_t f) { return Tone(f % 1000); };
    const auto halfAfter1200 = [](std::int64_t f) {
        return f >= 1200 && f < 1300 ? 0.5 * Tone(f + 1000) : Tone(f);
    };
    const auto halfBefore = [](std::int64_t f) {
        return f >= 1900 && f < 2000 ? 0.5 * Tone(f + 950) : Tone(f);
    };
    const Row rows[] = {
        {"identical passes: the signal over the rounding noise", repeated, 1200, 2200, 1200, 2200,
         100, true, std::nullopt},
        {"silence scores 0 dB", [](std::int64_t) { return 0.0; }, 500, 1500, 500, 1500, 100, true,
         0.0},
        {"the join plays the sound at half its level: 6 dB", halfAfter1200, 1200, 2200, 1200, 2200,
         100, false, 6.02},
        {"too little after the end: the frames before the start and the end", halfBefore, 2000,
         2950, 1900, 2850, 100, false, 6.02},
        {"neither fits: what follows the end", Tone, 50, 2950, 50, 2950, 50, false, std::nullopt},
    };
    wave::PcmFormat format{1, 1, kRate, kRate * 2, 2, 16};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::uint8_t> bytes = Render(row.sample);
        const std::optional<finder::SoundView> view = finder::ViewOf(format, bytes);
        ASSERT_TRUE(view);
        const finder::Seam seam = finder::MeasureSeam(*view, row.start, row.end, {});
        EXPECT_NEAR(seam.qualityDb, Expected(bytes, row.from, row.to, row.n), 1e-9);
        EXPECT_EQ(seam.transparent, row.transparent) << seam.qualityDb;
        if (row.roughlyDb) {
            EXPECT_NEAR(seam.qualityDb, *row.roughlyDb, 0.05);
        }
    }
}

TEST(SeamQuality, TheShareOfTheLoopOverWhichThePassesAgree) {
    struct Row {
        const char* name;
        std::function<double(std::int64_t)> sample;
        double share;
    };
    // A loop of 1000 frames from frame 1000; its chunks of 200 frames are five.
    const Row rows[] = {
        {"identical passes", [](std::int64_t f) { return Tone(f % 1000); }, 1.0},
        {"a second pass that is other music over its last two fifths",
         [](std::int64_t f) { return f >= 2600 ? Tone(3 * f) : Tone(f % 1000); }, 0.6},
        {"a sound that does not repeat at the lag", Tone, 0.0},
        {"silence, where nothing tells the passes apart", [](std::int64_t) { return 0.0; }, 0.0},
    };
    const wave::PcmFormat format{1, 1, kRate, kRate * 2, 2, 16};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::uint8_t> bytes = Render(row.sample);
        const std::optional<finder::SoundView> view = finder::ViewOf(format, bytes);
        ASSERT_TRUE(view);
        EXPECT_DOUBLE_EQ(finder::AgreeingShare(*view, 1000, 1000, finder::SeamMarks{}, {}),
                         row.share);
    }
}

TEST(SeamQuality, TransparentSeamsRankFirstThenTheHigherQuality) {
    const finder::Seam clean{90.0, true};
    const finder::Seam good{30.0, false};
    const finder::Seam poor{3.0, false};
    EXPECT_TRUE(finder::BetterSeam(clean, good));
    EXPECT_FALSE(finder::BetterSeam(good, clean));
    EXPECT_TRUE(finder::BetterSeam(good, poor));
    EXPECT_FALSE(finder::BetterSeam(poor, good));
    EXPECT_FALSE(
        finder::BetterSeam(finder::Seam{10.0, true}, clean));  // transparent ones rank equal
}

}  // namespace
