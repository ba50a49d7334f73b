// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands.h"

#include <algorithm>

#include "cli/batch.h"
#include "cli/runs.h"

namespace cli {

namespace {

const std::array<CommandSpec, 9> kCommands{{
    {"info", Command::Info, Paths::One, {}, RunInfo},
    {"save", Command::Save, Paths::Two, {"--start", "--end"}, RunSave},
    {"preview", Command::Preview, Paths::Two, {"--start", "--end"}, RunPreview},
    {"find", Command::Find, Paths::One, {}, RunFind},
    {"batch", Command::Batch, Paths::OneOrMore, {"--out"}, RunBatch},
    {"help", Command::Help, Paths::Ignored, {}, RunHelp},
    {"--help", Command::Help, Paths::Ignored, {}, RunHelp},
    {"-h", Command::Help, Paths::Ignored, {}, RunHelp},
    {"--version", Command::Version, Paths::None, {}, RunVersion},
}};

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }

const CommandSpec* FindCommand(std::string_view name) {
    const auto found = std::find_if(Commands().begin(), Commands().end(),
                                    [name](const CommandSpec& c) { return c.name == name; });
    return found == Commands().end() ? nullptr : &*found;
}

const CommandSpec& SpecOf(Command command) {
    return *std::find_if(Commands().begin(), Commands().end(),
                         [command](const CommandSpec& c) { return c.command == command; });
}

}  // namespace cli
