// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a 16-bit stereo 44.1 kHz wave file of SECONDS seconds for the benchmark: a slow
// two-tone signal, so neither the fade nor the disk sees a trivial pattern.
// Usage: bench_make_wave OUT.wav SECONDS
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "tests/support/wave_bytes.h"

using testwave::PutU16;

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::uint32_t rate = 44100;
    const std::uint32_t frames = rate * static_cast<std::uint32_t>(std::atoi(argv[2]));
    const std::uint32_t dataBytes = frames * 4;
    std::vector<std::uint8_t> out = testwave::PlainHeader(testwave::Pcm(16, 2, rate), dataBytes);
    out.reserve(44 + std::size_t{dataBytes});
    for (std::uint32_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        const auto left =
            static_cast<std::int16_t>(12000.0 * std::sin(2 * std::numbers::pi * 220.0 * t));
        const auto right =
            static_cast<std::int16_t>(12000.0 * std::sin(2 * std::numbers::pi * 331.0 * t));
        PutU16(out, static_cast<std::uint16_t>(left));
        PutU16(out, static_cast<std::uint16_t>(right));
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) return 1;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok ? 0 : 1;
}
