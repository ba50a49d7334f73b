// The fast fade against the curve's definition: every gain, bit for bit, for many lengths, and
// the faded bytes of both widths against a per-unit reference.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sound/fade.h"
#include "sound/wave_core.h"
#include "tests/support/reference_fade.h"
#include "tests/support/wave_bytes.h"

namespace {

// The first unit whose gain differs from the definition in any bit, or n.
std::size_t FirstWrongGain(double base, std::size_t n) {
    std::vector<float> gains(n, -1.0f);
    wavemisc::FadeGains(base, gains);
    for (std::size_t i = 0; i < n; ++i) {
        if (std::bit_cast<std::uint32_t>(gains[i]) != std::bit_cast<std::uint32_t>(testwave::DefinedGain(base, i, n))) return i;
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
            ASSERT_EQ(wrong, n) << "base " << base << ", n " << n << ": gain " << wrong << " differs";
        }
    }
}

TEST(FadeGains, EveryGainMatchesTheDefinitionForLongTails) {
    // 5 s and 30 s of 16-bit stereo at 44.1 kHz, 30 s of 8-bit mono, odd and prime lengths, and
    // lengths just around powers of two where the float spacing changes.
    for (const double base : {0.01, 0.0001}) {
        for (const std::size_t n : {441000u, 2646000u, 1323000u, 65537u, 99991u, 262143u, 262144u, 262145u}) {
            const std::size_t wrong = FirstWrongGain(base, n);
            EXPECT_EQ(wrong, n) << "base " << base << ", n " << n << ": gain " << wrong << " differs";
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
        wavemisc::ApplyFade(tail, static_cast<std::int16_t>(row.bits));
        EXPECT_EQ(FirstDifference(tail, expected), SIZE_MAX) << row.name;
    }
}

}  // namespace
