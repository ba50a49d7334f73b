// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/loop_start.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "finder/seam_quality.h"

namespace finder {
namespace {

// The error windows step by half their length: a window is two blocks.
constexpr std::int64_t kBlocksPerWindow = 2;

LagSums SumBlock(const SoundView& view, std::int64_t lag, std::int64_t from,
                 std::int64_t blockFrames) {
    return SumsAtLag(view, lag, from, from + blockFrames);
}

// How many of `blocks` whole blocks from `first` on the sound holds at this lag.
std::int64_t BlocksHeld(const SoundView& view, std::int64_t lag, std::int64_t first,
                        std::int64_t blockFrames, std::int64_t blocks) {
    return std::clamp<std::int64_t>((view.frames - lag - first) / blockFrames, 0, blocks);
}

// The sums of consecutive blocks from `first` on.
struct BlockSums {
    std::vector<double> difference;
    std::vector<double> energy;
    std::size_t Count() const { return energy.size(); }
};

BlockSums SumBlocks(const SoundView& view, std::int64_t lag, std::int64_t first,
                    std::int64_t blockFrames, std::int64_t blocks) {
    blocks = BlocksHeld(view, lag, first, blockFrames, blocks);
    BlockSums sums;
    sums.difference.resize(static_cast<std::size_t>(blocks));
    sums.energy.resize(static_cast<std::size_t>(blocks));
    for (std::int64_t k = 0; k < blocks; ++k) {
        const LagSums sum = SumBlock(view, lag, first + k * blockFrames, blockFrames);
        sums.difference[static_cast<std::size_t>(k)] = sum.difference;
        sums.energy[static_cast<std::size_t>(k)] = sum.energy;
    }
    return sums;
}

// The start in [first, last] within jumpSearchSeconds of `around` with the smallest jump: the
// least squared difference over jumpSeconds after the join, the earliest of equals.
std::int64_t SmallestJump(const SoundView& view, std::int64_t lag, std::int64_t around,
                          std::int64_t first, std::int64_t last, const FinderOptions& options) {
    const std::int64_t reach = view.FramesOf(options.jumpSearchSeconds, 0);
    const std::int64_t length = view.FramesOf(options.jumpSeconds);
    std::int64_t best = around;
    double bestCost = -1.0;
    for (std::int64_t p = std::max(first, around - reach); p <= std::min(last, around + reach);
         ++p) {
        const std::int64_t n = std::min(length, view.frames - lag - p);
        if (n < 1) break;
        double cost = 0.0;
        for (std::int64_t t = 0; t < n; ++t) {
            for (int c = 0; c < view.channels; ++c) {
                const double d = double{view.Sample(p + t, c)} - view.Sample(p + lag + t, c);
                cost += d * d;
            }
        }
        cost /= static_cast<double>(n);  // near the end of the sound fewer frames follow
        if (bestCost < 0.0 || cost < bestCost) {
            bestCost = cost;
            best = p;
        }
    }
    return best;
}

std::int64_t BlockFrames(const SoundView& view, const FinderOptions& options) {
    return view.FramesOf(options.agreeWindowSeconds / static_cast<double>(kBlocksPerWindow));
}

}  // namespace

std::optional<std::int64_t> EarliestStart(const SoundView& view, std::int64_t lag,
                                          std::int64_t first, std::int64_t last,
                                          const SeamMarks& marks, const FinderOptions& options) {
    first = std::max<std::int64_t>(first, 0);
    if (last < first) return std::nullopt;
    const std::int64_t block = BlockFrames(view, options);
    const auto hold = static_cast<std::size_t>(std::max<std::int64_t>(
        kBlocksPerWindow, std::llround(options.agreeHoldSeconds / options.agreeWindowSeconds *
                                       static_cast<double>(kBlocksPerWindow))));
    const std::int64_t blocks = BlocksHeld(
        view, lag, first, block, (last - first) / block + 1 + static_cast<std::int64_t>(hold));
    const double noise = static_cast<double>(2 * block * view.channels) * view.RoundingNoise();
    const double agreeRatio = std::pow(10.0, marks.agreeErrorDb / 10.0);

    // A window is two blocks; `hold` blocks are covered by hold - 1 windows, all agreeing. Blocks
    // are summed as the walk reaches them: it usually stops long before the stretch ends.
    std::size_t agreeing = 0;
    LagSums previous = blocks > 0 ? SumBlock(view, lag, first, block) : LagSums{};
    for (std::int64_t k = 0; k + 1 < blocks; ++k) {
        const LagSums next = SumBlock(view, lag, first + (k + 1) * block, block);
        const double difference = previous.difference + next.difference;
        const double energy = previous.energy + next.energy;
        previous = next;
        agreeing = difference + noise <= agreeRatio * (energy + noise) ? agreeing + 1 : 0;
        if (agreeing + 1 < hold) continue;
        const std::int64_t at = first + (k + 2 - static_cast<std::int64_t>(hold)) * block;
        if (at > last) break;
        return SmallestJump(view, lag, at, first, last, options);
    }
    return std::nullopt;
}

std::int64_t CleanestStart(const SoundView& view, std::int64_t lag, std::int64_t first,
                           std::int64_t last, const SeamMarks& marks,
                           const FinderOptions& options) {
    first = std::max<std::int64_t>(first, 0);
    if (last <= first) return first;
    const std::int64_t block = BlockFrames(view, options);
    const std::int64_t span =
        std::max<std::int64_t>(1, view.FramesOf(options.qualitySeconds) / block);
    const BlockSums sums = SumBlocks(view, lag, first, block, (last - first) / block + 1 + span);
    const double noise = static_cast<double>(span * block * view.channels) * view.RoundingNoise();

    std::int64_t best = first;
    Seam bestSeam;
    double energy = 0.0;
    double difference = 0.0;
    const auto count = static_cast<std::int64_t>(sums.Count());
    for (std::int64_t k = 0; k < count; ++k) {  // a sliding sum over `span` blocks
        energy += sums.energy[static_cast<std::size_t>(k)];
        difference += sums.difference[static_cast<std::size_t>(k)];
        if (k >= span) {
            energy -= sums.energy[static_cast<std::size_t>(k - span)];
            difference -= sums.difference[static_cast<std::size_t>(k - span)];
        }
        if (k + 1 < span) continue;
        const std::int64_t at = first + (k + 1 - span) * block;
        if (at > last) break;
        const Seam seam =
            SeamOfSums(std::max(0.0, energy), std::max(0.0, difference), noise, marks);
        if (at == first || BetterSeam(seam, bestSeam)) {
            best = at;
            bestSeam = seam;
        }
    }
    return SmallestJump(view, lag, best, first, last, options);
}

bool RestInBothPasses(const SoundView& view, std::int64_t lag, std::int64_t from, std::int64_t to,
                      const FinderOptions& options) {
    from = std::max<std::int64_t>(from, 0);
    to = std::min(to, view.frames - lag);
    if (lag < 1 || to <= from || from + lag > view.frames) return false;
    // The loop's mean level, from a bounded number of frames spread over one pass.
    constexpr std::int64_t kLevelFrames = 1 << 16;
    const std::int64_t stride = std::max<std::int64_t>(1, lag / kLevelFrames);
    double loopEnergy = 0.0;
    std::int64_t counted = 0;
    for (std::int64_t f = from; f < from + lag; f += stride, ++counted) {
        for (int c = 0; c < view.channels; ++c) {
            const double v = view.Sample(f, c);
            loopEnergy += v * v;
        }
    }
    // Dither of a step or two is a rest too, however loud the format's steps are beside the
    // music (8-bit).
    constexpr double kRestOverRounding = 10.0;
    const double restPerFrame =
        std::max(loopEnergy / static_cast<double>(std::max<std::int64_t>(1, counted)) *
                     std::pow(10.0, options.silenceDb / 10.0),
                 kRestOverRounding * view.channels * view.RoundingNoise());
    const std::int64_t window = view.FramesOf(options.agreeWindowSeconds);
    for (std::int64_t w = from; w < to; w += window) {
        const std::int64_t n = std::min(window, to - w);
        double now = 0.0;
        double later = 0.0;
        for (std::int64_t f = w; f < w + n; ++f) {
            for (int c = 0; c < view.channels; ++c) {
                const double a = view.Sample(f, c);
                const double b = view.Sample(f + lag, c);
                now += a * a;
                later += b * b;
            }
        }
        const double most = restPerFrame * static_cast<double>(n);
        if (now > most || later > most) return false;
    }
    return true;
}

}  // namespace finder
