// SPDX-License-Identifier: GPL-3.0-or-later
// The fast fade against the curve's definition: every gain, bit for bit, for many lengths, and
// the faded bytes of both widths against a per-unit reference, and the worked numbers.
#include "wave/fade.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/support/reference_fade.h"
#include "tests/support/wave_bytes.h"

namespace {

using testwave::Bytes;

// The first unit whose gain differs from the definition in any bit, or n.
std::size_t FirstWrongGain(double base, std::size_t n) {
    std::vector<float> gains(n, -1.0f);
    wave::FadeGains(base, gains);
    for (std::size_t i = 0; i < n; ++i) {
        if (std::bit_cast<std::uint32_t>(gains[i]) !=
            std::bit_cast<std::uint32_t>(testwave::DefinedGain(base, i, n)))
            return i;
    }
    return n;
}

testwave::Bytes ReferenceFade(testwave::Bytes tail, int bits) {
    testwave::ReferenceFade(tail, bits);
    return tail;
}

std::size_t FirstDifference(const testwave::Bytes& a, const testwave::Bytes& b) {
    for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k) {
        if (a[k] != b[k]) return k;
    }
    return a.size() == b.size() ? SIZE_MAX : std::min(a.size(), b.size());
}

TEST(FadeGains, EveryGainMatchesTheDefinitionForEveryShortLength) {
    // Both sides of the switch from per-unit pow to the step table (n = 512), and many block
    // remainders. Stops at the first wrong length so a fault reports once, not thousands of times.
    for (const double base : {0.01, 0.0001}) {
        for (std::size_t n = 1; n <= 3000; ++n) {
            const std::size_t wrong = FirstWrongGain(base, n);
            ASSERT_EQ(wrong, n) << "base " << base << ", n " << n << ": gain " << wrong
                                << " differs";
        }
    }
}

TEST(FadeGains, EveryGainMatchesTheDefinitionForLongTails) {
    // 5 s and 30 s of 16-bit stereo at 44.1 kHz, 30 s of 8-bit mono, odd and prime lengths, and
    // lengths just around powers of two where the float spacing changes.
    for (const double base : {0.01, 0.0001}) {
        for (const std::size_t n :
             {441000u, 2646000u, 1323000u, 65537u, 99991u, 262143u, 262144u, 262145u}) {
            const std::size_t wrong = FirstWrongGain(base, n);
            EXPECT_EQ(wrong, n) << "base " << base << ", n " << n << ": gain " << wrong
                                << " differs";
        }
    }
}

TEST(ApplyFade, BothWidthsMatchThePerUnitReference) {
    struct Row {
        const char* name;
        int bits;
        std::size_t bytes;
    };
    for (const Row& row : {Row{"8-bit, short", 8, 300}, Row{"8-bit, step table", 8, 44100},
                           Row{"16-bit, short", 16, 1000}, Row{"16-bit, step table", 16, 176400},
                           Row{"16-bit, odd last byte", 16, 176401}, Row{"16-bit, one byte", 16, 1},
                           Row{"empty", 16, 0}}) {
        // Every byte value in every position class, with full-scale samples in between.
        testwave::Bytes tail = testwave::Pattern(row.bytes);
        for (std::size_t k = 0; k + 1 < tail.size(); k += 97) {
            tail[k] = 0xFF;
            tail[k + 1] = k % 2 == 0 ? 0x7F : 0x80;
        }
        const testwave::Bytes expected = ReferenceFade(tail, row.bits);
        wave::ApplyFade(tail, static_cast<std::int16_t>(row.bits));
        EXPECT_EQ(FirstDifference(tail, expected), SIZE_MAX) << row.name;
    }
}

// ---- The worked numbers ------------------------------------------------------------------

std::int16_t Sample(const Bytes& b, std::size_t i) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[2 * i] | b[2 * i + 1] << 8));
}

TEST(Fade, SixteenBitCurveHitsTheWorkedNumbers) {
    Bytes tail;
    for (int i = 0; i < 441000; ++i) testwave::PutU16(tail, 32767);
    wave::ApplyFade(tail, 16);
    EXPECT_EQ(Sample(tail, 0), 32767);
    EXPECT_EQ(Sample(tail, 1), 32766);  // the second channel of the first frame
    EXPECT_EQ(Sample(tail, 220500), 328);
    EXPECT_EQ(Sample(tail, 440999), 3);

    Bytes negative;
    testwave::PutU16(negative, 0x8000);  // -32768 keeps its full value at gain 1
    testwave::PutU16(negative, 0x8000);
    negative.push_back(0x55);  // an odd last byte is no sample and stays as it is
    wave::ApplyFade(negative, 16);
    EXPECT_EQ(Sample(negative, 0), -32768);
    EXPECT_EQ(Sample(negative, 1),
              static_cast<std::int16_t>(std::nearbyint(-32768.0 * double(float(0.01)))));
    EXPECT_EQ(negative[4], 0x55);

    Bytes silent(1000, 0);
    wave::ApplyFade(silent, 16);
    EXPECT_EQ(silent, Bytes(1000, 0));
}

TEST(Fade, EightBitCurveScalesTheStoredByte) {
    Bytes tail(44100, 128);
    wave::ApplyFade(tail, 8);
    EXPECT_EQ(tail[0], 128);
    EXPECT_EQ(tail[22050], 13);
    EXPECT_EQ(tail[44099], 1);
    // A silent tail sinks from 128 toward 1 without ever rising.
    for (std::size_t i = 1; i < tail.size(); ++i) ASSERT_LE(tail[i], tail[i - 1]) << i;
}

}  // namespace
