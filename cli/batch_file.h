// SPDX-License-Identifier: GPL-3.0-or-later
// The work of the batch on one file: read it, find its loop, save it as `save` would.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/batch_inputs.h"
#include "finder/loop_candidate.h"
#include "wave/user_texts.h"

namespace cli {

struct Result {
    bool finished = false;
    wave::BatchStatus status = wave::BatchStatus::Refused;
    std::optional<finder::LoopCandidate> loop;
    std::int32_t rate = 1;
    std::string message;
    // For a page report: the candidates after the loop, the pictures of the join and of the
    // whole sound, and the seam preview's file name in the page's folder, or why it could not be
    // written.
    std::vector<finder::LoopCandidate> others;
    std::string joinSvg;
    std::string overviewSvg;
    std::string preview;
    std::string previewFailure;
    std::vector<std::string> notes;  // with --verbose, what the reader noticed, a line each
};

// One file: read, find, save. Unfinished when the batch was stopped before its save was whole.
Result LoopOneFile(const Item& item, const Arguments& arguments, const std::atomic<bool>& stop);

}  // namespace cli
