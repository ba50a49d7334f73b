// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: raw bytes to the reader (and an accepted sound on to the writer).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wavefuzz::CheckReader({data, size});
    return 0;
}
