// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/finder_check.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "finder/loop_finder.h"
#include "wave/loop_rules.h"
#include "wave/wave_reader.h"

namespace finderfuzz {

namespace {

// Kept small so one execution stays well under a second.
constexpr std::size_t kMaxSoundBytes = 64 * 1024;

void Require(bool ok, const char* what, long long detail = -1) {
    if (ok) return;
    std::fprintf(stderr, "finder check failed: %s (%lld)\n", what, detail);
    std::abort();
}

bool Same(const std::vector<finder::LoopCandidate>& a,
          const std::vector<finder::LoopCandidate>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        // Bit for bit: the same input must give the same answer, quality included.
        if (a[i].start != b[i].start || a[i].end != b[i].end || a[i].passes != b[i].passes ||
            std::memcmp(&a[i].qualityDb, &b[i].qualityDb, sizeof(double)) != 0) {
            return false;
        }
    }
    return true;
}

std::uint8_t ByteFromEnd(std::span<const std::uint8_t> bytes, std::size_t fromEnd) {
    return fromEnd < bytes.size() ? bytes[bytes.size() - 1 - fromEnd] : 0;
}

}  // namespace

void CheckFinder(std::span<const std::uint8_t> bytes) {
    const wave::ParseResult parsed = wave::ParseWave(bytes);
    if (parsed.error != wave::WaveError::None || parsed.wave.data.size() > kMaxSoundBytes) return;
    const wave::PcmFormat& format = parsed.wave.format;
    const std::vector<std::uint8_t>& sound = parsed.wave.data;
    const wave::LoopLimits limits = wave::LoopLimitsOf(format, parsed.wave.dataBytes);

    const std::vector<finder::LoopCandidate> found = finder::FindLoops(format, sound);
    Require(Same(found, finder::FindLoops(format, sound)), "the same sound gave other candidates");
    Require(found.size() <= 5, "more candidates than asked for",
            static_cast<long long>(found.size()));
    for (const finder::LoopCandidate& c : found) {
        Require(wave::KeepsLoopRule(limits, c.start, c.end), "a candidate breaks the loop rule",
                c.start);
        Require(std::isfinite(c.qualityDb), "a candidate's quality is not a number", c.start);
    }

    const auto at = [&](std::uint8_t share) {
        return static_cast<std::int32_t>(std::int64_t{limits.lastFrame + 1} * share / 255);
    };
    const std::int32_t start = at(ByteFromEnd(bytes, 8));
    const std::int32_t end = at(ByteFromEnd(bytes, 7));
    const double radiusSeconds = ByteFromEnd(bytes, 2) % 101 / 10.0;
    const auto refined = finder::RefineLoop(format, sound, start, end, radiusSeconds);
    if (!refined) return;
    Require(wave::KeepsLoopRule(limits, refined->start, refined->end),
            "a refined loop breaks the loop rule", refined->start);
    // Each point moves at most the radius, in frames as the finder rounds it.
    const auto radius =
        static_cast<std::int64_t>(std::round(radiusSeconds * format.nSamplesPerSec));
    Require(std::llabs(std::int64_t{refined->start} - start) <= radius,
            "the start moved past the radius", refined->start);
    Require(std::llabs(std::int64_t{refined->end} - end) <= radius, "the end moved past the radius",
            refined->end);
    Require(refined->passes, "a refined loop whose seam does not pass");
}

}  // namespace finderfuzz
