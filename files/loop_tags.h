// SPDX-License-Identifier: GPL-3.0-or-later
// The loop written into a sound file as players and game engines read it. Ogg Vorbis, Ogg Opus
// and FLAC: the Vorbis comments LOOPSTART and LOOPLENGTH, as the first comments. MP3: ID3v2.4
// TXXX frames of the same names. A wave file: the "smpl" chunk of `save --smpl`. Earlier loop
// tags are replaced, everything else is kept, and not one decoded sample changes: the new bytes
// are decoded before they replace the file. The file is edited as a whole in memory and put in
// place by the atomic save, so a failure leaves it as it was. libogg pages the Ogg headers,
// TagLib writes the ID3v2 tag. POSIX; no Qt, SDL or FFTW.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/sound_file.h"

namespace files {

// Frames of the decoded timeline; for Opus, frames at 48 kHz.
struct LoopTag {
    std::int64_t start = 0;
    std::int64_t length = 0;
};

// Whether a comment or TXXX name says where a loop lies (LOOPSTART, LOOPLENGTH, LOOPEND,
// LOOP_START, LOOP_END, any case): those we replace, so none contradicts ours.
bool IsLoopTagName(std::string_view name);

// A Vorbis comment block: the vendor and the comments in their order.
struct Comments {
    std::string vendor;
    std::vector<std::string> fields;  // "NAME=value"
    std::size_t bytes = 0;            // how many bytes of the block they took
};
std::optional<Comments> ParseComments(std::span<const std::uint8_t> block);
std::vector<std::uint8_t> RenderComments(const Comments& comments);
// LOOPSTART and LOOPLENGTH first, then the other comments as they stood.
void PutLoopFirst(Comments& comments, const LoopTag& tag);

// `bytes`, a whole file of `container` (for Ogg, `opus` says which codec), with the loop written
// in; `rate` is the wave file's, for its "smpl" chunk. "" or the message.
std::string TagBytes(Container container, bool opus, std::int32_t rate,
                     std::vector<std::uint8_t>& bytes, const LoopTag& tag);

// `bytes`, the whole file that decoded to `sound`, with the loop written in, then decoded again
// from memory: the same samples, or the rewrite is refused. `path` names the file in messages.
// "" or the message.
std::string TagBytesKeepingSound(const Sound& sound, const std::string& path,
                                 std::vector<std::uint8_t>& bytes, const LoopTag& tag,
                                 const DecodeLimits& limits = {});

// The loop written into the file at `path`, of the sound `sound` read from it, as
// TagBytesKeepingSound writes it; the original is replaced only by bytes that decode to the same
// samples. "" or the message.
std::string TagFile(const std::string& path, const Sound& sound, const LoopTag& tag);

// Whether a sound read by ReadSound is Opus.
bool IsOpus(const Sound& sound);

}  // namespace files
