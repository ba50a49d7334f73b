// SPDX-License-Identifier: GPL-3.0-or-later
// The one table of commands: each one's name, the paths it takes, the options it cannot do
// without, and the function that runs it. Parsing reads it; the tests check the usage text and
// the manual against it.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "cli/arguments.h"
#include "cli/outcome.h"

namespace cli {

enum class Paths {
    None,       // nothing may follow
    Ignored,    // anything may follow, and is not read (help)
    One,        // the input
    Two,        // the input and the output
    OneOrMore,  // files and folders
};

struct CommandSpec {
    std::string_view name;  // as given in first place
    Command command;
    Paths paths;
    std::array<std::string_view, 2> required;  // options it needs; "" for none
    Outcome (*run)(const Arguments&);
};

std::span<const CommandSpec> Commands();

// The entry of a name given in first place, or of a command; nullptr for an unknown name.
const CommandSpec* FindCommand(std::string_view name);
const CommandSpec& SpecOf(Command command);

}  // namespace cli
