// SPDX-License-Identifier: GPL-3.0-or-later
// What the batch tells: the progress on stderr while it works, the summary, and the CSV report.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "cli/batch_file.h"
#include "cli/batch_inputs.h"
#include "cli/outcome.h"

namespace cli {

// What the user sees while the batch works: a line per file off a terminal, one line redrawn in
// place on a terminal. Safe to call from every worker.
class Progress {
public:
    Progress(std::size_t files, double minutes);

    void Started(const std::string& path);
    void Finished(const Item& item, const Result& result);
    void Draw();  // on a terminal only
    void Clear();

private:
    double Elapsed() const;

    std::mutex lock_;
    std::size_t files_;
    double minutes_;
    bool terminal_;
    std::chrono::steady_clock::time_point started_;
    std::size_t done_ = 0;
    double minutesDone_ = 0.0;
    std::string current_;
};

// The end of the batch: the summary on stderr, the report written where --report asks, and the
// exit status (128 and the signal's number when a signal stopped it, else 0 when every file was
// looped, else 1). A result not finished is left out of the report.
Outcome Finish(const std::vector<Item>& items, const std::vector<Result>& results, int stopSignal,
               const std::string& reportPath);

}  // namespace cli
