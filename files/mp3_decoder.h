// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding an MP3 with libmpg123, quietly: every MPEG frame the file holds is counted by its
// header (mpg123's scan) and then decoded, gapless as the LAME or Info header asks, to 32-bit
// floats that are turned into 16 bits as libsndfile turns them. The frame count that a Xing,
// Info or VBRI header states is held against the frames there: fewer frames than stated is a file
// that ends early, more is a header that contradicts the file, and both are refused; a file
// without a count is read whole from its first decoded sample. The audio is looked for where an
// ID3v2 tag's frames really end. POSIX and libmpg123; no Qt, SDL or FFTW.
#pragma once

#include "files/decoded_pcm.h"
#include "files/sound_file.h"

namespace files {

SoundRead DecodeMp3(const DecodeJob& job);

// The MPEG frames that the Xing, Info or VBRI header at the start of `audio` states; 0 where
// there is none or it states no count.
std::int64_t StatedMpegFrames(std::span<const std::uint8_t> audio);

}  // namespace files
