// SPDX-License-Identifier: GPL-3.0-or-later
// The table of commands against what the user reads of it: every option a command takes is in its
// line of the usage and of the manual's synopsis, outside brackets where the command needs it and
// inside them where it does not, and nothing more; a command refuses to run without each option
// it needs; the usage's defaults are the ones the arguments start with.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "wave/user_texts.h"

namespace {

struct Mention {
    std::string option;
    bool required;  // outside every bracket
};

// The options named in `text`, spelt as `dash` dash (a manual escapes its dashes), in order,
// each with whether it stands outside brackets.
std::vector<Mention> Mentions(const std::string& text, const std::string& dash) {
    const std::regex option(dash + dash + "([a-z][a-z-]*)");
    std::vector<Mention> mentions;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        const std::string before = text.substr(0, static_cast<std::size_t>(it->position()));
        const auto depth = std::count(before.begin(), before.end(), '[') -
                           std::count(before.begin(), before.end(), ']');
        mentions.push_back({"--" + (*it)[1].str(), depth == 0});
    }
    return mentions;
}

// The lines of `text` from the one that starts with `first` up to the next that starts with
// `next` (or with `first`'s own start); "" when no line starts with `first`.
std::string Block(const std::string& text, const std::string& first, const std::string& next) {
    const std::size_t from = text.find(first);
    if (from == std::string::npos) return "";
    const std::size_t to = text.find(next, from + first.size());
    return text.substr(from + first.size(),
                       to == std::string::npos ? std::string::npos : to - from - first.size());
}

void ExpectAgrees(const cli::CommandSpec& spec, const std::vector<Mention>& mentions) {
    std::vector<std::string> named;
    for (const Mention& m : mentions) {
        named.push_back(m.option);
        const bool needed =
            std::find(spec.required.begin(), spec.required.end(), m.option) != spec.required.end();
        EXPECT_EQ(m.required, needed) << m.option;
    }
    const std::vector<std::string_view> options = cli::OptionsOf(spec.command);
    std::vector<std::string> taken(options.begin(), options.end());
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end()), named.end());
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(named, taken);
}

bool TakesPaths(const cli::CommandSpec& spec) {
    return spec.paths == cli::Paths::One || spec.paths == cli::Paths::Two ||
           spec.paths == cli::Paths::OneOrMore;
}

TEST(CommandTable, TheUsageAndTheManualNameWhatEachCommandTakesAndNeeds) {
    std::ifstream page(RUNDELT_MANUAL_PATH);
    const std::string manual((std::istreambuf_iterator<char>(page)),
                             std::istreambuf_iterator<char>());
    ASSERT_FALSE(manual.empty());
    const std::string usage(wave::kCommandUsage.substr(0, wave::kCommandUsage.find("\n\n")));
    for (const cli::CommandSpec& spec : cli::Commands()) {
        if (!TakesPaths(spec)) continue;
        const std::string name(spec.name);
        {
            SCOPED_TRACE("the usage of " + name);
            const std::string line = Block(usage, "  rundelt-cli " + name + " ", "  rundelt-cli ");
            ASSERT_FALSE(line.empty());
            ExpectAgrees(spec, Mentions(line, "-"));
        }
        {
            SCOPED_TRACE("the manual's synopsis of " + name);
            const std::string block = Block(manual, ".B rundelt-cli " + name + "\n", ".br");
            ASSERT_FALSE(block.empty());
            ExpectAgrees(spec, Mentions(block, "\\\\-"));
        }
    }
}

TEST(CommandTable, EachCommandRefusesToRunWithoutAnOptionItNeeds) {
    const auto value = [](std::string_view option) -> std::string_view {
        return option == "--out" ? "folder" : option == "--start" ? "0" : "100000";
    };
    int checked = 0;
    for (const cli::CommandSpec& spec : cli::Commands()) {
        for (const std::string_view left : spec.required) {
            if (left.empty()) continue;
            std::vector<std::string_view> args{spec.name, "in.wav"};
            if (spec.paths == cli::Paths::Two) args.push_back("out.wav");
            for (const std::string_view other : spec.required) {
                if (other.empty() || other == left) continue;
                args.push_back(other);
                args.push_back(value(other));
            }
            SCOPED_TRACE(std::string(spec.name) + " without " + std::string(left));
            EXPECT_EQ(cli::ParseArguments(cli::Commands(), args).error, wave::MissingOption(left));
            ++checked;
        }
    }
    EXPECT_EQ(checked, 5);  // save and preview: --start, --end; batch: --out
}

TEST(CommandTable, TheUsageGivesTheDefaultsTheArgumentsStartWith) {
    const cli::Arguments defaults;
    const std::string usage(wave::kCommandUsage);
    for (const std::string& shown :
         {"既定：--repeat " + std::to_string(defaults.repeatCount) + " --fade " +
              std::to_string(defaults.fadeSeconds),
          "既定：--top " + std::to_string(defaults.topCount), std::string("既定 0.5")}) {
        EXPECT_NE(usage.find(shown), std::string::npos) << shown;
    }
    EXPECT_EQ(defaults.radiusSeconds, 0.5);
}

}  // namespace
