// SPDX-License-Identifier: GPL-3.0-or-later
// The batch's inputs: the files given and the wave files of the folders given, each with the
// output it is written to, how long it plays, and why it is refused before any work, if it is.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace cli {

struct Item {
    std::string path;
    std::string output;
    double minutes = 0.0;  // 0 when its headers are refused
    std::string refusal;
    std::size_t number = 0;  // from 1, in input order: names the file's seam preview
};

// Whether the report is a page (a name ending in ".html", any case) rather than CSV, and the
// folder beside it that holds its seam previews: FILE.html and FILE.seams.
bool IsPageReport(const std::string& reportPath);
std::string SeamsFolderOf(const std::string& reportPath);
// The preview's file name in that folder.
std::string SeamFileName(std::size_t number);

// The inputs in order: a file as given; a folder's wave files (any case of ".wav"), found
// recursively in sorted order. A link to a file is taken; a link to a folder is not followed,
// so no walk can go round in circles. An output that would replace one of the inputs, or another
// input's output, is refused.
std::vector<Item> BatchInputs(const Arguments& arguments);

}  // namespace cli
