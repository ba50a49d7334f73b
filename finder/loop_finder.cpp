// The finder's two entry points: the steps run in order, and the candidates ranked.
#include "finder/loop_finder.h"

#include <algorithm>
#include <cassert>

#include "finder/exact_lag.h"
#include "finder/features.h"
#include "finder/loop_start.h"
#include "finder/repetition_lag.h"
#include "finder/seam_quality.h"
#include "finder/sound_view.h"
#include "wave/loop_rules.h"

namespace finder {
namespace {

// A repetition lag is good to this many hops either way; the exact lag is looked for that far.
constexpr std::int64_t kLagReachHops = 2;
// A ranking that puts passing seams first needs a few lengths to choose from.
constexpr int kLeastLengthsRanked = 3;

struct Scored {
    LoopCandidate candidate;
    Seam seam;
};

// What the loop rules allow for this sound, with the end limited to a frame the sound really has
// (the rule's LastFrame rounds, and may lie one past it).
wave::LoopLimits LimitsOf(const wave::PcmFormat& format, const SoundView& view) {
    wave::LoopLimits limits =
        wave::LoopLimitsOf(format, static_cast<std::int64_t>(view.bytes.size()));
    limits.lastFrame =
        static_cast<std::int32_t>(std::min<std::int64_t>(limits.lastFrame, view.frames - 1));
    return limits;
}

Scored Score(const SoundView& view, std::int64_t start, std::int64_t lag, double repeatSeconds,
             const FinderOptions& options) {
    Scored scored;
    scored.seam = MeasureSeam(view, start, start + lag, options);
    scored.candidate.start = static_cast<std::int32_t>(start);
    scored.candidate.end = static_cast<std::int32_t>(start + lag);
    scored.candidate.qualityDb = scored.seam.qualityDb;
    scored.candidate.repeatSeconds = repeatSeconds;
    scored.candidate.passes =
        scored.seam.transparent || scored.seam.qualityDb >= options.passQualityDb;
    return scored;
}

bool Ahead(const Scored& a, const Scored& b) {
    if (BetterSeam(a.seam, b.seam)) return true;
    if (BetterSeam(b.seam, a.seam)) return false;
    return a.candidate.start < b.candidate.start;
}

// The starts worth offering for a loop of `lag` frames starting in [first, last], best first:
// the earliest from which the two passes agree, and the cleanest after it when that one is
// clearly better (notes ringing across the join have died away). Without any agreement, the
// cleanest alone.
std::vector<Scored> Starts(const SoundView& view, std::int64_t lag, std::int64_t first,
                           std::int64_t last, double repeatSeconds, const FinderOptions& options) {
    std::vector<Scored> starts;
    const std::optional<std::int64_t> earliest = EarliestStart(view, lag, first, last, options);
    const std::int64_t cleanFrom = earliest.value_or(first);
    const std::int64_t cleanTo =
        earliest ? std::min(last, *earliest + view.FramesOf(options.cleanSpanSeconds)) : last;
    const Scored cleanest = Score(view, CleanestStart(view, lag, cleanFrom, cleanTo, options), lag,
                                  repeatSeconds, options);
    if (earliest) {
        starts.push_back(Score(view, *earliest, lag, repeatSeconds, options));
        const Seam& agreed = starts.front().seam;
        const bool clearlyBetter =
            (cleanest.seam.transparent && !agreed.transparent) ||
            (!agreed.transparent &&
             cleanest.seam.qualityDb >= agreed.qualityDb + options.cleanGainDb);
        if (clearlyBetter && cleanest.candidate.start != starts.front().candidate.start)
            starts.push_back(cleanest);
    } else {
        starts.push_back(cleanest);
    }
    std::sort(starts.begin(), starts.end(), Ahead);
    return starts;
}

}  // namespace

std::vector<LoopCandidate> FindLoops(const wave::PcmFormat& format,
                                     std::span<const std::uint8_t> sound,
                                     const FinderOptions& options) {
    assert(IsValid(options));
    const std::optional<SoundView> view = ViewOf(format, sound);
    if (!view || !IsValid(options)) return {};
    const wave::LoopLimits limits = LimitsOf(format, *view);
    const std::int64_t halfWindow = limits.halfWindowFrames;
    const std::int64_t endLimit = limits.lastFrame;
    const Features features = ComputeFeatures(*view, options);
    if (features.Count() == 0 || endLimit < halfWindow) return {};

    // A loop plays at least twice in the sound it was found in, so it is at most half of it.
    const std::int64_t hop = features.hopFrames;
    const std::int64_t minLag = std::max<std::int64_t>(1, halfWindow / hop - 1);
    const std::int64_t maxLag = std::min(endLimit, view->frames / 2) / hop + 1;
    const auto lengths =
        static_cast<std::size_t>(std::max(options.maxCandidates, kLeastLengthsRanked));
    const std::vector<RepetitionLag> lags =
        FindRepetitionLags(features, minLag, maxLag, lengths, options);

    std::vector<std::vector<Scored>> groups;
    for (const RepetitionLag& lag : lags) {
        const std::int64_t center = lag.lag * hop;
        const std::int64_t lagLo = std::max(halfWindow, center - kLagReachHops * hop);
        const std::int64_t lagHi = std::min(endLimit, center + kLagReachHops * hop);
        const std::int64_t runFirst = lag.run.first * hop;
        const std::int64_t runEnd =
            (lag.run.first + lag.run.length - 1) * hop + features.windowFrames;
        const std::optional<ExactLag> exact =
            FindExactLag(*view, lagLo, lagHi, runFirst, runEnd, options);
        if (!exact) continue;
        const std::int64_t first =
            std::max<std::int64_t>(0, runFirst - view->FramesOf(options.startMarginSeconds));
        const std::int64_t last = std::min(runEnd, endLimit - exact->lag);
        if (last < first) continue;
        const double repeatSeconds =
            static_cast<double>(lag.run.length) / features.spectraPerSecond;
        std::vector<Scored> starts = Starts(*view, exact->lag, first, last, repeatSeconds, options);
        const bool known =
            std::any_of(groups.begin(), groups.end(), [&](const std::vector<Scored>& g) {
                return g.front().candidate.end - g.front().candidate.start == exact->lag;
            });
        if (!known) groups.push_back(std::move(starts));
    }
    // Lengths whose seam passes come first, each in the order of its evidence.
    std::stable_partition(groups.begin(), groups.end(),
                          [](const std::vector<Scored>& g) { return g.front().candidate.passes; });

    std::vector<LoopCandidate> candidates;
    for (const std::vector<Scored>& group : groups) {
        for (const Scored& scored : group) {
            if (candidates.size() == static_cast<std::size_t>(options.maxCandidates))
                return candidates;
            assert(wave::KeepsLoopRule(limits, scored.candidate.start, scored.candidate.end));
            candidates.push_back(scored.candidate);
        }
    }
    return candidates;
}

std::optional<LoopCandidate> RefineLoop(const wave::PcmFormat& format,
                                        std::span<const std::uint8_t> sound, std::int32_t start,
                                        std::int32_t end, double radiusSeconds,
                                        const FinderOptions& options) {
    assert(IsValid(options));
    const std::optional<SoundView> view = ViewOf(format, sound);
    if (!view || !IsValid(options) || !(radiusSeconds >= 0.0)) return std::nullopt;
    const wave::LoopLimits limits = LimitsOf(format, *view);
    const std::int64_t halfWindow = limits.halfWindowFrames;
    const std::int64_t endLimit = limits.lastFrame;
    const std::int64_t radius = view->FramesOf(radiusSeconds, 0);
    const std::int64_t given = std::int64_t{end} - start;
    const std::int64_t lagLo = std::max(halfWindow, given - 2 * radius);
    const std::int64_t lagHi = std::min(endLimit, given + 2 * radius);
    if (lagLo > lagHi) return std::nullopt;

    // The chunks come from the loop's first pass, compared with what follows its end; where too
    // little follows, from anywhere before.
    const std::int64_t startLo = std::max<std::int64_t>(0, std::int64_t{start} - radius);
    std::optional<ExactLag> exact =
        FindExactLag(*view, lagLo, lagHi, startLo, std::int64_t{end} + radius, options);
    if (!exact) exact = FindExactLag(*view, lagLo, lagHi, 0, view->frames, options);
    const std::int64_t lag = exact ? exact->lag : std::clamp(given, lagLo, lagHi);

    const std::int64_t first = std::max({startLo, std::int64_t{end} - radius - lag});
    const std::int64_t last =
        std::min({std::int64_t{start} + radius, std::int64_t{end} + radius - lag, endLimit - lag});
    if (first > last) return std::nullopt;
    const LoopCandidate best = Starts(*view, lag, first, last, 0.0, options).front().candidate;
    if (!best.passes) return std::nullopt;  // moving the user's points to a poor seam helps nobody
    return best;
}

}  // namespace finder
