// The finder's two entry points: the steps of loop_steps.h run in order, and the candidates
// ranked.
#include "sound/loop_finder.h"

#include <algorithm>

#include "sound/loop_steps.h"

namespace wavemisc {
namespace {

struct Scored {
    LoopCandidate candidate;
    Seam seam;
};

// The last frame a loop may end on: the window's LastFrame, and a frame the sound really has.
std::int64_t EndLimit(const PcmFormat& format, const SoundView& view) {
    return std::min<std::int64_t>(LastFrameOf(format, static_cast<std::int64_t>(view.bytes.size())),
                                  view.frames - 1);
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

std::vector<LoopCandidate> FindLoops(const PcmFormat& format, std::span<const std::uint8_t> sound,
                                     const FinderOptions& options) {
    const std::optional<SoundView> view = ViewOf(format, sound);
    if (!view || options.maxCandidates < 1) return {};
    const std::int64_t halfWindow = HalfWindowFrames(format);
    const std::int64_t endLimit = EndLimit(format, *view);
    const Features features = ComputeFeatures(*view, options);
    if (features.Count() == 0 || endLimit < halfWindow) return {};

    // A loop plays at least twice in the sound it was found in, so it is at most half of it.
    const std::int64_t hop = features.hopFrames;
    const std::int64_t minLag = std::max<std::int64_t>(1, halfWindow / hop - 1);
    const std::int64_t maxLag = std::min(endLimit, view->frames / 2) / hop + 1;
    // A ranking that puts passing seams first needs a few lengths to choose from.
    const auto lengths = static_cast<std::size_t>(std::max(options.maxCandidates, 3));
    const std::vector<RepetitionLag> lags =
        FindRepetitionLags(features, minLag, maxLag, lengths, options);

    std::vector<std::vector<Scored>> groups;
    for (const RepetitionLag& lag : lags) {
        const std::int64_t center = lag.lag * hop;
        const std::int64_t lagLo = std::max(halfWindow, center - 2 * hop);
        const std::int64_t lagHi = std::min(endLimit, center + 2 * hop);
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
            candidates.push_back(scored.candidate);
        }
    }
    return candidates;
}

std::optional<LoopCandidate> RefineLoop(const PcmFormat& format,
                                        std::span<const std::uint8_t> sound, std::int32_t start,
                                        std::int32_t end, double radiusSeconds,
                                        const FinderOptions& options) {
    const std::optional<SoundView> view = ViewOf(format, sound);
    if (!view || !(radiusSeconds >= 0.0)) return std::nullopt;
    const std::int64_t halfWindow = HalfWindowFrames(format);
    const std::int64_t endLimit = EndLimit(format, *view);
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

}  // namespace wavemisc
