// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that work on one file, and the two that only print; the batch is in batch.h.
#pragma once

#include "cli/arguments.h"
#include "cli/outcome.h"

namespace cli {

Outcome RunHelp(const Arguments& arguments);
Outcome RunVersion(const Arguments& arguments);
Outcome RunInfo(const Arguments& arguments);
Outcome RunSave(const Arguments& arguments);
Outcome RunPreview(const Arguments& arguments);
Outcome RunFind(const Arguments& arguments);

}  // namespace cli
