// SPDX-License-Identifier: GPL-3.0-or-later
// The shape of the one table of commands: each one's name, the paths it takes, the options it
// cannot do without, and the function that runs it. The table itself stands with the run
// functions (cli.h); parsing reads it, and the tests check the usage text and the manual
// against it.
#pragma once

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "cli/outcome.h"

namespace cli {

enum class Command { Help, Version, Info, Save, Preview, Find, Batch, Tag };

struct Arguments;

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

// The entry of a name given in first place; nullptr for an unknown name.
inline const CommandSpec* FindCommand(std::span<const CommandSpec> commands,
                                      std::string_view name) {
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [name](const CommandSpec& c) { return c.name == name; });
    return found == commands.end() ? nullptr : &*found;
}

}  // namespace cli
