// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

namespace wavemisc {

std::string CommandLineText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

}  // namespace wavemisc
