// SPDX-License-Identifier: GPL-3.0-or-later
// The seam preview's four seconds: the two seconds before the loop end, then the two seconds from
// the loop start, copied byte for byte from the loaded sound. Standard library only.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "wave/pcm_format.h"

namespace wave {

// The preview's size: four seconds of bytes, nAvgBytesPerSec * 4, computed wide. The reader
// refuses a format for which it leaves the signed 32-bit range.
inline std::int64_t PreviewBytes(const PcmFormat& format) {
    return std::int64_t{format.nAvgBytesPerSec} * 4;
}

// Fills `preview`, which must hold PreviewBytes(format) bytes. "" or the message for the user; on
// a message `preview` is left as it was.
std::string FillPreview(const PcmFormat& format, std::span<const std::uint8_t> sound,
                        std::int32_t loopStart, std::int32_t loopEnd,
                        std::span<std::uint8_t> preview);

}  // namespace wave
