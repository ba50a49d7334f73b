// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding with libsndfile, over the same byte source as every reader: Ogg Vorbis and Ogg Opus
// (their pages walked first, and the decode held against the length the pages give), AIFF (its
// COMM chunk's frame count held against the sound data the file holds), and the wave files of
// other sample formats. libsndfile's log is read for a decoder's complaint, never printed.
// POSIX and libsndfile; no Qt, SDL or FFTW.
#pragma once

#include <string_view>

#include "files/decoded_pcm.h"
#include "files/sound_file.h"

namespace files {

// `refusal` is the message for a file that libsndfile cannot open at all.
SoundRead DecodeWithSndfile(const DecodeJob& job, Container container, std::string_view refusal);

// The sample frames an AIFF or AIFF-C file's COMM chunk states, or -1 where there is none.
std::int64_t AiffStatedFrames(wave::ByteSource& source);

// Whether a RIFF wave file's data chunk states more bytes than the file holds after its header:
// a file cut short, or sizes a writer to a pipe left unfilled. false where there is no data chunk.
bool WaveDataCut(wave::ByteSource& source);

}  // namespace files
