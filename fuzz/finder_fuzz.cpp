// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: whatever the reader accepts, to the seam finder's search and refinement.
#include <cstddef>
#include <cstdint>

#include "fuzz/finder_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    finderfuzz::CheckFinder({data, size});
    return 0;
}
