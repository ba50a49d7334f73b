// SPDX-License-Identifier: GPL-3.0-or-later
// The batch's report as a page: one section per input, in input order, with its loop, the
// picture of its join and of the whole sound, and its seam to play. One file with its previews
// in a folder beside it: nothing comes from the network and nothing needs a script, so the page
// works from wherever the two are copied, on a phone's width too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/batch_file.h"
#include "cli/batch_inputs.h"

namespace cli {

// The text with every byte that begins no valid UTF-8 character (a file name in another
// encoding) replaced by U+FFFD, so that a page stays valid UTF-8.
std::string ValidUtf8(std::string_view text);

// Text for HTML: valid UTF-8, its five special characters escaped.
std::string HtmlEscaped(std::string_view text);

// A relative path as a URL's path: every byte but the unreserved ones and "/" percent-encoded, so
// that a "#", "?", "%" or space in a file name is not read as the URL's own.
std::string UrlPathEscaped(std::string_view path);

// Frames as m:ss.mmm at `rate`.
std::string MinutesSeconds(std::int64_t frames, std::int32_t rate);

// The page; a result not finished is left out, as from the CSV report.
std::string ReportPage(const std::vector<Item>& items, const std::vector<Result>& results,
                       std::string_view summary);

}  // namespace cli
