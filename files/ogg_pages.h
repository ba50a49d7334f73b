// SPDX-License-Identifier: GPL-3.0-or-later
// The pages of an Ogg file, walked with libogg without decoding: what they say of the one stream
// (Vorbis or Opus) they carry, and its header packets paged afresh around a new comment packet,
// every page after them kept as it was. The walk reads each page's checksum and sequence number,
// the start and end of the stream, and every audio packet's length (libvorbis and libopus read
// that from a packet's first bytes), so that the last page's position can be held against the
// packets before it. POSIX, libogg, libvorbis and libopus; no Qt, SDL or FFTW.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "wave/riff_reader.h"
#include "wave/user_texts.h"

namespace files {

enum class OggCodec { Vorbis, Opus, Other };

struct OggWalk {
    // "" or the refusal: a damaged or missing page, no end of stream, a last position the
    // packets contradict, several streams.
    std::string error;
    OggCodec codec = OggCodec::Other;
    // The stream's length in frames as a decoder gives it (Opus: at 48 kHz, after its pre-skip).
    std::int64_t frames = 0;
    std::vector<wave::ReadNoteValues> notes;
};

// Walks every page of the file; `path` names it in the messages.
OggWalk WalkOggPages(wave::ByteSource& source, std::string_view path);

// The header packets of an Ogg file's stream, and where its audio pages begin.
struct OggHeaders {
    wave::TagError error = wave::TagError::UnreadableOgg;
    bool ok = false;
    OggCodec codec = OggCodec::Other;
    std::vector<std::vector<std::uint8_t>> packets;  // Vorbis: three; Opus: two
    std::size_t audioAt = 0;                         // the byte where the first audio page begins
    std::int64_t headerPages = 0;                    // pages the headers took
    std::int32_t serial = 0;
};
OggHeaders ReadOggHeaders(std::span<const std::uint8_t> bytes);

// The file of `headers` with its header packets (one of them changed) paged afresh: the first
// alone on its page, as both codecs ask, the others after it, and every audio page as it stood
// but for its sequence number, renumbered (and its checksum with it) when the headers take a
// different number of pages. Empty when there is no memory for it.
std::vector<std::uint8_t> RepageOgg(std::span<const std::uint8_t> bytes, const OggHeaders& headers);

}  // namespace files
