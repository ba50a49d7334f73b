// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "cli/batch_file.h"
#include "cli/batch_inputs.h"
#include "cli/batch_report.h"
#include "cli/batch_workers.h"
#include "wave/user_texts.h"

namespace cli {

Outcome RunBatch(const Arguments& arguments) {
    const std::vector<Item> items = BatchInputs(arguments);
    if (items.empty()) return Failure(kExitFailed, wave::kNoSoundFiles);
    double minutes = 0.0;
    for (const Item& item : items) minutes += item.minutes;
    // A page's seam previews go into a folder beside it, made before any worker writes there.
    if (IsPageReport(arguments.reportPath)) {
        std::error_code ignored;
        std::filesystem::create_directories(SeamsFolderOf(arguments.reportPath), ignored);
    }
    Progress progress(items.size(), minutes);
    std::vector<Result> results;
    const int stopSignal = RunWorkers(items, arguments, progress, results);
    return Finish(items, results, stopSignal, arguments.reportPath);
}

}  // namespace cli
