// SPDX-License-Identifier: GPL-3.0-or-later
// The check the finder's fuzz target runs on one input: whatever the reader accepts goes to
// FindLoops and to RefineLoop. It aborts with a note on stderr when the finder breaks a promise;
// a sanitizer catches reads outside the sound. Depends on the finder and the wave layer only.
#pragma once

#include <cstdint>
#include <span>

namespace finderfuzz {

// The input is a wave file. Its last 9 bytes also choose the loop to refine: start and end as
// shares of the sound (a byte each, 255 reaching one frame past the end), and, in the seventh
// byte, the radius in tenths of a second (folded to 0 .. 10 s). Missing bytes read as zero.
void CheckFinder(std::span<const std::uint8_t> bytes);

}  // namespace finderfuzz
