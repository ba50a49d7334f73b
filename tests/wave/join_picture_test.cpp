// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a join from joins whose shape is known: a step at the seam is a step at the mark,
// the true continuation lies beside it where the sound holds one, and the loop is where the
// overview shades it.
#include "wave/join_picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kRate = 1000;  // 30 frames a side

wave::PcmFormat Mono16() {
    wave::PcmFormat f;
    f.wFormatTag = 1;
    f.nChannels = 1;
    f.nSamplesPerSec = kRate;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 2 * kRate;
    f.wBitsPerSample = 16;
    return f;
}

// A mono 16-bit sound: `before` up to the loop end, `after` from there, the loop start at
// `start` holding `atStart` from it on.
std::vector<std::uint8_t> Sound(std::int64_t frames, std::int64_t start, std::int64_t end,
                                std::int16_t atStart, std::int16_t before, std::int16_t after) {
    std::vector<std::uint8_t> bytes;
    for (std::int64_t f = 0; f < frames; ++f) {
        const std::int16_t v = f >= end ? after : f >= start && f < start + 40 ? atStart : before;
        const auto u = static_cast<std::uint16_t>(v);
        bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return bytes;
}

TEST(JoinPicture, AStepAtTheSeamIsAStepAtTheMark) {
    struct Case {
        const char* name;
        std::int64_t frames;
        std::int16_t atStart;  // what the loop starts with; the end has 16384 before it
        std::size_t afterFrames;
    };
    for (const Case& c : {Case{"a step down, the sound going on after the end", 200, -16384, 30},
                          Case{"no step, the loop ending with the sound", 100, 16384, 0}}) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> sound = Sound(c.frames, 10, 100, c.atStart, 16384, 8192);
        const wave::JoinPicture p = wave::PictureOfJoin(Mono16(), sound, 10, 100);
        ASSERT_EQ(p.sideFrames, 30);
        ASSERT_EQ(p.joined.size(), 1u);
        ASSERT_EQ(p.joined[0].size(), 60u);
        EXPECT_DOUBLE_EQ(p.joined[0][29], 0.5);  // the last frame before the end
        EXPECT_DOUBLE_EQ(p.joined[0][30], c.atStart / 32768.0);
        ASSERT_EQ(p.after[0].size(), c.afterFrames);
        if (c.afterFrames > 0) {
            EXPECT_DOUBLE_EQ(p.after[0][0], 0.25);  // what the sound holds
        }
        EXPECT_DOUBLE_EQ(p.loopStartShare, 10.0 / static_cast<double>(c.frames));
        EXPECT_DOUBLE_EQ(p.loopEndShare, 100.0 / static_cast<double>(c.frames));

        // In the drawing, the mark stands between the two frames, at the step.
        const std::string svg = wave::JoinSvg(p);
        const std::smatch mark = [&] {
            std::smatch m;
            std::regex_search(svg, m, std::regex("<line x1=\"([0-9.]+)\"[^>]*class=\"mark\""));
            return m;
        }();
        ASSERT_FALSE(mark.empty()) << svg.substr(0, 200);
        const double x = std::stod(mark[1]);
        EXPECT_GT(x, wave::JoinX(p, 29, 600.0));
        EXPECT_LT(x, wave::JoinX(p, 30, 600.0));
        EXPECT_LT(wave::LaneY(0.5, 0, 80), wave::LaneY(c.atStart / 32768.0, 0, 80) + 1e-9);
        EXPECT_EQ(svg.find("class=\"after\"") != std::string::npos, c.afterFrames > 0);
    }
}

TEST(JoinPicture, NothingIsDrawnOfALoopOutsideTheSound) {
    const std::vector<std::uint8_t> sound = Sound(100, 10, 100, 0, 0, 0);
    EXPECT_TRUE(wave::PictureOfJoin(Mono16(), sound, 10, 101).joined.empty());
    EXPECT_TRUE(wave::PictureOfJoin(Mono16(), sound, 50, 50).joined.empty());
    wave::PcmFormat wide = Mono16();
    wide.wBitsPerSample = 24;
    EXPECT_TRUE(wave::PictureOfJoin(wide, sound, 10, 90).joined.empty());
}

}  // namespace
