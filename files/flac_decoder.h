// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding a FLAC file with libFLAC, its own MD5 check on: every frame from the first to the last,
// each where the frame before it ended (a frame missing or repeated is damage), each passing its
// CRC. A file that stops short of the length STREAMINFO states ends early; one whose MD5 does not
// match its samples is damaged. A length of 0 (a file encoded to a pipe) is no length: the file is
// read to its end, as every player plays it. Samples are given as libsndfile gives them: 8- and
// 16-bit as they are, 24-bit kept whole beside their high 16 bits. POSIX and libFLAC; no Qt, SDL
// or FFTW.
#pragma once

#include "files/decoded_pcm.h"
#include "files/sound_file.h"

namespace files {

SoundRead DecodeFlac(const DecodeJob& job);

}  // namespace files
