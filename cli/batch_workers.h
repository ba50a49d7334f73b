// SPDX-License-Identifier: GPL-3.0-or-later
// The batch's workers: several files at once, the longest first, and the ending signals taken as
// a request to stop.
#pragma once

#include <vector>

#include "cli/arguments.h"
#include "cli/batch_file.h"
#include "cli/batch_inputs.h"
#include "cli/batch_report.h"

namespace cli {

// Loops every item on --jobs threads (0: one per core) into `results`, in the items' order.
// SIGINT, SIGTERM or SIGHUP stops the work: no file is left half written, and the results of the
// files not finished stay unfinished. The signal's number, or 0 when none came.
int RunWorkers(const std::vector<Item>& items, const Arguments& arguments, Progress& progress,
               std::vector<Result>& results);

}  // namespace cli
