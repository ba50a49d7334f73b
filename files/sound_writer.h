// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the looped sound in the format its name asks for: a wave file through the looped wave
// writer, byte for byte as ever; FLAC, Ogg Vorbis, Ogg Opus and MP3 (with its gapless header)
// through libsndfile, optionally carrying their own loop as tags. A format that would lose the
// source's resolution, or that cannot take its rate, is refused before anything is written.
// POSIX and libsndfile; no Qt, SDL or FFTW.
#pragma once

#include <atomic>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "files/sound_file.h"
#include "wave/looped_wave.h"

namespace files {

enum class OutputFormat { Wav, Flac, Ogg, Opus, Mp3 };

// The formats written, the wave file first: the name users know each by, and the extensions its
// files take, without the dot, the usual one first.
struct WrittenFormat {
    OutputFormat format;
    std::string_view name;
    std::span<const std::string_view> extensions;
};
std::span<const WrittenFormat> WrittenFormats();

// "wav", "flac", "ogg", "oga", "opus", "mp3".
std::optional<OutputFormat> OutputFormatNamed(std::string_view name);
// By the path's extension, any case (".oga" is Ogg Vorbis).
std::optional<OutputFormat> OutputFormatOf(const std::string& path);
// What a save writes for a name: the format its extension names, a wave file for any other.
OutputFormat OutputFormatForName(const std::string& path);
// ".wav", ".flac", ".ogg", ".opus", ".mp3".
std::string_view ExtensionOf(OutputFormat format);

inline constexpr int kDefaultQuality = 6;

struct Encoding {
    OutputFormat format = OutputFormat::Wav;
    int quality = kDefaultQuality;  // 0 to 10, for the lossy formats
    bool tags = false;              // the output carries its own loop, as the format's tags
};

// "" when `sound` may be written as `encoding` asks, or the refusal: a resolution the format
// cannot hold, a rate Opus or MP3 does not take. It needs the headers only, so that a refusal
// comes before the decode.
std::string CheckEncoding(const Sound& sound, const Encoding& encoding);

// The looped sound saved atomically to `path`, as WriteLoopedWaveFile saves it. With
// `encoding.tags` a wave file gets the "smpl" chunk of --smpl; the others get LOOPSTART (the
// intro's length) and LOOPLENGTH (the loop's). "" or the message.
std::string WriteLoopedSound(const std::string& path, const Sound& sound,
                             const wave::LoopRequest& request, const Encoding& encoding,
                             const std::atomic<bool>* stop = nullptr);

// Samples of `format` (8- or 16-bit PCM, as the wave layer keeps them) saved atomically in the
// format `encoding` names, as they are: the seam previews of a report page. "" or the message.
std::string WritePcmSound(const std::string& path, const wave::PcmFormat& format,
                          std::span<const std::uint8_t> samples, const Encoding& encoding);

}  // namespace files
