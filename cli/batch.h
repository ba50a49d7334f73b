// SPDX-License-Identifier: GPL-3.0-or-later
// `rundelt-cli batch`: a whole soundtrack at once. Every wave file of the files and folders given
// is looped as `save` loops it, with the finder's best loop, several files at a time, with
// progress on stderr and a CSV report. Files are read one per job, never all at once.
#pragma once

#include "cli/arguments.h"
#include "cli/outcome.h"

namespace cli {

// Runs the batch. Ending it with SIGINT, SIGTERM or SIGHUP stops it: no partial output anywhere,
// the report holds the files finished so far, and the exit status is 128 and the signal's number.
Outcome RunBatch(const Arguments& arguments);

}  // namespace cli
