// SPDX-License-Identifier: GPL-3.0-or-later
// A system error code as the reason a save gives the user: the table's own words for the
// common ones, the system's text for the rest. POSIX.
#pragma once

#include <string>

namespace files {

// A message beginning with wave::kSaveFailed, for an errno value.
std::string SaveFailedErrno(int error);
// The reason alone.
std::string SaveReasonErrno(int error);

}  // namespace files
