// SPDX-License-Identifier: GPL-3.0-or-later
// A read position over a byte source, as the decoders' stdio-like callbacks move it: a file or
// bytes in memory alike, seen from an offset on (an MP3's audio after its ID3v2 tag). Reads stop
// at the end; a read the source cannot give is remembered, never taken for the end of the file.
// Small reads are served from a block read ahead, so that a decoder reading a frame at a time
// does not make a system call a frame.
// POSIX; no Qt, SDL or FFTW.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "wave/riff_reader.h"

namespace files {

class SourceCursor {
public:
    explicit SourceCursor(wave::ByteSource& source, std::int64_t start = 0);

    // Bytes from the start on.
    std::int64_t Length() const { return length_; }
    std::int64_t Tell() const { return at_; }
    bool AtEnd() const { return at_ >= length_; }
    // A read that the source could not give (an input/output error, a file cut meanwhile).
    bool Failed() const { return failed_; }

    // Up to `bytes` bytes into `to`: fewer only at the end, none on a failed read.
    std::size_t Read(void* to, std::size_t bytes);
    // SEEK_SET, SEEK_CUR or SEEK_END, as lseek takes them; the new position, or -1 for one before
    // the start. A position past the end reads nothing.
    std::int64_t Seek(std::int64_t offset, int whence);

private:
    static constexpr std::size_t kAheadBytes = std::size_t{64} << 10;

    wave::ByteSource& source_;
    std::int64_t start_;
    std::int64_t length_;
    std::int64_t at_ = 0;
    bool failed_ = false;
    std::vector<std::uint8_t> ahead_;  // the bytes from aheadAt_ on, read ahead of small reads
    std::int64_t aheadAt_ = 0;
};

}  // namespace files
