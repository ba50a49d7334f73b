// SPDX-License-Identifier: GPL-3.0-or-later
// Big-endian fields, as AIFF chunks and MPEG audio's Xing and VBRI headers store them. The caller
// has checked that the four bytes are there. Standard library only.
#pragma once

#include <cstdint>

namespace files {

inline std::uint32_t BigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

}  // namespace files
