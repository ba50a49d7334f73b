// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/found_loops.h"

#include <utility>

namespace wavemisc {

void FoundLoops::Keep(std::vector<finder::LoopCandidate> candidates) {
    candidates_ = std::move(candidates);
    searched_ = true;
    shown_.reset();
}

void FoundLoops::Forget() {
    candidates_.clear();
    searched_ = false;
    shown_.reset();
}

std::optional<finder::LoopCandidate> FoundLoops::Press(int step, std::int32_t loopStart,
                                                       std::int32_t loopEnd) {
    if (candidates_.empty()) return std::nullopt;
    const std::size_t count = candidates_.size();
    const bool stillShown =
        shown_ && candidates_[*shown_].start == loopStart && candidates_[*shown_].end == loopEnd;
    if (!stillShown) {
        shown_ = 0;
    } else if (step > 0) {
        shown_ = (*shown_ + 1) % count;
    } else {
        shown_ = (*shown_ + count - 1) % count;
    }
    return candidates_[*shown_];
}

std::string FoundLoops::ShownText() const {
    if (!shown_) return "";
    return "候補 " + std::to_string(*shown_ + 1) + "/" + std::to_string(candidates_.size()) + "　" +
           SeamText(candidates_[*shown_]);
}

std::string SeamText(const finder::LoopCandidate& loop) {
    return "継ぎ目 " + finder::QualityText(loop.qualityDb) + " dB";
}

}  // namespace wavemisc
