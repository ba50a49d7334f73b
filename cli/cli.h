// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line companion: reads its arguments (arguments.h), then runs one of its commands
// (commands.h) over the wave layer, the file layer (info, save, preview), the seam finder (find),
// or both over many files (batch, batch.h). It shares the window's loop rules and writes the same
// bytes the window's save writes. No window, no sound device.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/outcome.h"
#include "wave/user_texts.h"

namespace cli {

// The table of commands, each with its run function.
std::span<const CommandSpec> Commands();

// The command's run function from the table.
Outcome Run(const Arguments& arguments);

// ParseArguments, then Run; no arguments at all prints the usage to stderr.
Outcome Main(std::span<const std::string_view> args);

// What the reader noticed in the file at `path`, one line each with its line end: what --verbose
// prints.
std::string NoteLines(std::string_view path, std::span<const wave::ReadNoteValues> notes);

}  // namespace cli
