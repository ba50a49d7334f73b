// The fade alone: nanoseconds per unit of ApplyFade on a 30-second tail, against the plain
// definition (one std::pow per unit) measured in the same run, and a check that both give the
// same bytes. Prints medians of RUNS runs (default 7). Usage: bench_fade [RUNS]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "sound/wave_core.h"

namespace {

// The fade as defined, one pow per unit: the baseline.
void PlainFade(std::span<std::uint8_t> tail, std::int16_t bits) {
    const auto gain = [](double base, std::size_t i, std::size_t n) {
        return static_cast<double>(static_cast<float>(std::pow(base, static_cast<double>(i) / static_cast<double>(n))));
    };
    if (bits == 8) {
        for (std::size_t i = 0; i < tail.size(); ++i) {
            tail[i] = static_cast<std::uint8_t>(std::nearbyint(tail[i] * gain(0.01, i, tail.size())));
        }
        return;
    }
    const std::size_t n = tail.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(tail[2 * i] | tail[2 * i + 1] << 8));
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::nearbyint(v * gain(0.0001, i, n))));
        tail[2 * i] = static_cast<std::uint8_t>(u & 0xFFu);
        tail[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
    }
}

template <typename Fade>
double MedianNsPerUnit(const std::vector<std::uint8_t>& source, std::size_t units, int runs, Fade fade,
                       std::vector<std::uint8_t>& result) {
    std::vector<double> ns;
    for (int run = 0; run < runs; ++run) {
        result = source;
        const auto start = std::chrono::steady_clock::now();
        fade(std::span<std::uint8_t>(result));
        const auto end = std::chrono::steady_clock::now();
        ns.push_back(std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(units));
    }
    std::sort(ns.begin(), ns.end());
    return ns[ns.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    struct Case {
        const char* name;
        std::int16_t bits;
        std::size_t bytes;
    };
    bool allSame = true;
    for (const Case& c : {Case{"16-bit stereo 44.1 kHz, 30 s", 16, 30u * 176400u},
                          Case{"8-bit mono 44.1 kHz, 30 s", 8, 30u * 44100u}}) {
        std::vector<std::uint8_t> tail(c.bytes);
        for (std::size_t k = 0; k < tail.size(); ++k) tail[k] = static_cast<std::uint8_t>((k * 7 + k / 251) & 0xFFu);
        const std::size_t units = c.bits == 8 ? c.bytes : c.bytes / 2;
        std::vector<std::uint8_t> fast;
        std::vector<std::uint8_t> plain;
        const double fastNs = MedianNsPerUnit(tail, units, runs,
                                              [&](std::span<std::uint8_t> t) { wavemisc::ApplyFade(t, c.bits); }, fast);
        const double plainNs =
            MedianNsPerUnit(tail, units, runs, [&](std::span<std::uint8_t> t) { PlainFade(t, c.bits); }, plain);
        const bool same = fast == plain;
        allSame = allSame && same;
        std::printf("fade %-30s %8zu units: %6.2f ns/unit, plain pow %6.2f ns/unit, ratio %.3f, bytes %s\n", c.name,
                    units, fastNs, plainNs, fastNs / plainNs, same ? "identical" : "DIFFER");
    }
    return allSame ? 0 : 1;
}
