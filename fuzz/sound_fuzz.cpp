// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: raw bytes to the reader's choice, the decoders and the loop tagger.
#include <cstddef>
#include <cstdint>

#include "fuzz/sound_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    soundfuzz::CheckSound({data, size});
    return 0;
}
