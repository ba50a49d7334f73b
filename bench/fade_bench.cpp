// SPDX-License-Identifier: GPL-3.0-or-later
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

#include "tests/support/reference_fade.h"
#include "wave/fade.h"

namespace {

template <typename Fade>
double MedianNsPerUnit(const std::vector<std::uint8_t>& source, std::size_t units, int runs,
                       Fade fade, std::vector<std::uint8_t>& result) {
    std::vector<double> ns;
    for (int run = 0; run < runs; ++run) {
        result = source;
        const auto start = std::chrono::steady_clock::now();
        fade(std::span<std::uint8_t>(result));
        const auto end = std::chrono::steady_clock::now();
        ns.push_back(std::chrono::duration<double, std::nano>(end - start).count() /
                     static_cast<double>(units));
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
        for (std::size_t k = 0; k < tail.size(); ++k)
            tail[k] = static_cast<std::uint8_t>((k * 7 + k / 251) & 0xFFu);
        const std::size_t units = c.bits == 8 ? c.bytes : c.bytes / 2;
        std::vector<std::uint8_t> fast;
        std::vector<std::uint8_t> plain;
        const double fastNs = MedianNsPerUnit(
            tail, units, runs, [&](std::span<std::uint8_t> t) { wave::ApplyFade(t, c.bits); },
            fast);
        const double plainNs = MedianNsPerUnit(
            tail, units, runs,
            [&](std::span<std::uint8_t> t) { testwave::ReferenceFade(t, c.bits); }, plain);
        const bool same = fast == plain;
        allSame = allSame && same;
        std::printf(
            "fade %-30s %8zu units: %6.2f ns/unit, plain pow %6.2f ns/unit, ratio %.3f, bytes %s\n",
            c.name, units, fastNs, plainNs, fastNs / plainNs, same ? "identical" : "DIFFER");
    }
    return allSame ? 0 : 1;
}
