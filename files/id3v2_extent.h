// SPDX-License-Identifier: GPL-3.0-or-later
// How far an ID3v2 tag in front of an MP3 really reaches. Its header states its size; a tag
// whose size was written too large covers the first audio frames, which every byte-counting
// reader then skips with it. Its frames are walked to where they and their padding end: where an
// MPEG frame begins there, inside the stated size, the audio begins there. POSIX; no Qt, SDL or
// FFTW.
#pragma once

#include <cstdint>

#include "wave/riff_reader.h"

namespace files {

struct Id3v2Extent {
    std::int64_t statedBytes = 0;  // header, stated size and footer; 0 for no tag
    std::int64_t audioAt = 0;      // where the audio begins: statedBytes, or before it
};

Id3v2Extent Id3v2ExtentOf(wave::ByteSource& source);

// Whether the four bytes at `p` are an MPEG audio frame's header: the sync, a layer, a bit rate
// and a sample rate that exist.
bool IsMpegFrameHeader(const std::uint8_t* p);

}  // namespace files
