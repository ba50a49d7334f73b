// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up path from the process arguments. Standard library only, so tests build the same
// text the program does.
#pragma once

#include <string>

namespace wavemisc {

// The whole command line as one path: the arguments after the program name, as the system passed
// them, joined by single blanks. A file manager passes a path with blanks or non-ASCII characters
// as one argument, which so stays whole, byte for byte; a path typed unquoted in a shell arrives
// as several arguments and is put back together, as long as its blanks were single ones.
std::string CommandLineText(int argc, const char* const* argv);

}  // namespace wavemisc
