// SPDX-License-Identifier: GPL-3.0-or-later
// The check the sound-file fuzz target runs on one input: raw bytes through the reader's choice
// of container, the decoders (from memory, both for the headers alone and for the samples), and
// the loop tagger (to memory, its rewrite decoded again). It aborts with a note on stderr when
// the file layer breaks a promise; a sanitizer catches the rest. Depends on the file layer.
#pragma once

#include <cstdint>
#include <span>

namespace soundfuzz {

// The input is a whole sound file of any format we read. Short sounds are decoded too (the
// reader's five-second minimum is off) and samples are limited to a few MiB, so that the seeds
// can be small and every execution quick.
void CheckSound(std::span<const std::uint8_t> bytes);

}  // namespace soundfuzz
