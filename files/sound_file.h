// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a sound file of any format we take: the one place that chooses the reader, by the
// file's own first bytes. A wave file goes to the wave reader; FLAC (libFLAC), MP3 (libmpg123),
// Ogg Vorbis, Ogg Opus and AIFF (libsndfile) are decoded in one pass from the first frame to the
// last, into the same 8- or 16-bit PCM the wave layer and the finder take, with the source's own
// samples kept beside it where they are wider. A file is read whole or refused, never short: what
// decodes is held against what the container states (FLAC's length and MD5, the MPEG frames an
// MP3's header counts, the Ogg pages' sequence, end and last position, AIFF's frame count).
// POSIX and those libraries; no Qt, SDL or FFTW.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "wave/rounding.h"
#include "wave/user_texts.h"
#include "wave/wave_reader.h"

namespace files {

// The containers known by their signatures.
enum class Container { Riff, Flac, Ogg, Mp3, Aiff, Unknown };

// The container that `head`, the file's first bytes (at least 12 where the file has them),
// begins as. An ID3v2 tag in front is looked past by its own size, when `head` holds what follows.
Container ContainerOf(std::span<const std::uint8_t> head);

// The container the file at `path` begins as, which chooses its reader in ReadSound; Unknown for
// a file that cannot be opened as a regular file.
Container ContainerOfFile(const std::string& path);

// The bytes of an ID3v2 tag at the start of `head`, header and footer included; 0 for none.
std::int64_t Id3v2Bytes(std::span<const std::uint8_t> head);

// What the source's samples are, as far as an output must keep them.
enum class Depth {
    Bits8,
    Bits16,
    Bits24,
    Bits32,
    Float,  // 32- or 64-bit floating point
    Coded,  // a lossy codec's (Vorbis, Opus, MP3) or a companding one's: read at 16 bits
};

struct Sound {
    Container container = Container::Unknown;
    bool decoded = false;  // false: the wave reader read it, byte for byte
    Depth depth = Depth::Bits16;
    int codec = 0;  // libsndfile's format word, 0 for the wave reader
    // 8- or 16-bit PCM exactly as a wave file holds it; dataBytes is set even when only the
    // size was asked for.
    wave::ParsedWave wave;
    // A 24-bit source's samples, interleaved, as libsndfile gives them (the 24 bits in the high
    // bytes); empty for every other source.
    std::vector<std::int32_t> wide;
    // What the reader noticed on the way: a length the headers did not give, a header that
    // claimed too much, the reason for a refusal. Shown with --verbose.
    std::vector<wave::ReadNoteValues> notes;
};

// How far a decode goes. The reader's own: under 2 GiB of samples, and the wave reader's shape
// (at least five seconds, a rate whose preview fits). The fuzzer decodes short files too.
struct DecodeLimits {
    std::int64_t mostDataBytes = wave::kInt32Max - 8;
    bool shapeChecked = true;
};

// Which reader a wave file gets. The commands the window shares (info, save, preview) take a
// wave file exactly as the window does; our own (find, batch, tag) also take those that the wave
// reader refuses only for their sample format (24 or 32 bits, floating point, extensible).
enum class WaveReaders { AsTheWindow, AlsoOtherSampleFormats };

struct SoundRead {
    std::string error;  // "" or the message for the user
    Sound sound;
};

// Reads `path`. Payload::SizeOnly reads the headers and what tells the length without decoding
// (an Ogg file's pages, an MP3's frame headers); a FLAC file whose header gives no length, or
// one under five seconds (which may be below its frames), is decoded all the same. A compressed
// file that ends early, fails part way or contradicts its own headers is refused with the frame
// where decoding stopped or the lengths that disagree; nothing of it is kept. A file that begins as
// FLAC, Ogg, MP3 or AIFF but cannot be opened as one gets a message naming the format; anything no
// reader takes gets the wave reader's message.
SoundRead ReadSound(const std::string& path, WaveReaders readers,
                    wave::Payload payload = wave::Payload::Read);
// The same over a file's bytes in memory; `path` names it in the messages.
SoundRead ReadSoundBytes(std::span<const std::uint8_t> bytes, const std::string& path,
                         WaveReaders readers, wave::Payload payload = wave::Payload::Read,
                         const DecodeLimits& limits = {});

// The format block `info` shows: the source's own sample size where it is wider than 16 bits.
wave::PcmFormat ShownFormat(const Sound& sound, std::int64_t& dataBytes);

// The usual extensions of the formats read, without the dot: "wav", "flac", "ogg", "oga",
// "opus", "mp3", "aif", "aiff".
std::span<const std::string_view> SoundExtensions();

// Whether the path ends in one of SoundExtensions, after a dot, in any case.
bool HasSoundExtension(const std::string& path);

}  // namespace files
