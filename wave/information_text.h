// SPDX-License-Identifier: GPL-3.0-or-later
// The file information the window shows and `info` prints: seven captioned lines. Standard
// library only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wave/pcm_format.h"

namespace wave {

// The seven lines of the file information, without line ends.
std::vector<std::string> InformationLines(const std::string& path, const PcmFormat& format,
                                          std::int64_t dataBytes);
std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator);

}  // namespace wave
