// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: a sound, loop points, repeat and fade drawn from the input, to the writer
// and the preview fill.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wavefuzz::CheckWriter({data, size});
    return 0;
}
