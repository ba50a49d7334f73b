// SPDX-License-Identifier: GPL-3.0-or-later
// The loops Ctrl+F goes through: the finder's best few of the loaded sound, searched once, and
// which of them the window shows. Pressed again while the loop is still the one it set, Ctrl+F
// moves on to the next (Shift+Ctrl+F back), wrapping; any other change of the loop starts again
// from the best. The window's logic without Qt, in the window's namespace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "finder/loop_finder.h"

namespace wavemisc {

class FoundLoops {
public:
    // How many candidates Ctrl+F goes through.
    static constexpr int kCandidates = 5;

    // Whether the candidates of the loaded sound are known, so no search is needed.
    bool Searched() const { return searched_; }
    void Keep(std::vector<finder::LoopCandidate> candidates);
    // A new sound: its candidates are still to be searched.
    void Forget();
    // The loop changed by other means: the next press starts from the best.
    void LoopChanged() { shown_.reset(); }

    // The candidate a press shows, `step` 1 for the next and -1 for the previous one, while the
    // loop is loopStart .. loopEnd; nothing when there is none.
    std::optional<finder::LoopCandidate> Press(int step, std::int32_t loopStart,
                                               std::int32_t loopEnd);

    // "候補 2/5　継ぎ目 34.2 dB" for the candidate shown; "" when none is.
    std::string ShownText() const;

private:
    std::vector<finder::LoopCandidate> candidates_;
    bool searched_ = false;
    std::optional<std::size_t> shown_;
};

// "継ぎ目 34.2 dB": the seam of a loop the window set by other means than the list (a refine).
std::string SeamText(const finder::LoopCandidate& loop);

}  // namespace wavemisc
