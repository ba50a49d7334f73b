// SPDX-License-Identifier: GPL-3.0-or-later
// Looped music as users' rips hold it, encoded by libsndfile itself, never by our own writers:
// for the tests of the window and its procedures, which open what the reference library wrote
// and read back what they saved with the same library, and the tags they wrote with TagLib.
// Needs libsndfile and TagLib.
#pragma once

#include <sndfile.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/looped_music.h"
#include "tests/support/wave_bytes.h"

namespace testwave {

// Opus takes 48 kHz, and counts its positions at it.
inline constexpr std::uint32_t kRipRate = 48000;

// Half a second of intro, then passes of 2.5 seconds: two of them, and half a second of a third.
inline LoopedMusic RipMusic() {
    LoopedMusic m;
    m.format = Pcm(16, 2, kRipRate);
    m.introFrames = kRipRate / 2;
    m.loopFrames = kRipRate * 5 / 2;
    m.totalFrames = m.introFrames + 2 * m.loopFrames + kRipRate / 2;
    return m;
}

// A format users' rips come in, as libsndfile names it.
struct RipFormat {
    const char* name;
    const char* extension;  // with the dot
    int sfFormat;
};

inline const RipFormat kFlac16{"FLAC", ".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16};
inline const RipFormat kFlac24{"FLAC 24-bit", ".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24};
inline const RipFormat kOggVorbis{"Ogg Vorbis", ".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS};
inline const RipFormat kOggOpus{"Ogg Opus", ".opus", SF_FORMAT_OGG | SF_FORMAT_OPUS};
inline const RipFormat kMp3{"MP3", ".mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III};
inline const RipFormat kAiff{"AIFF", ".aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16};
inline const RipFormat kWave24{"wave, 24-bit", ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24};

// 16-bit sample bytes as 32-bit samples, the 16 bits high; with `lowBits`, a pattern below them,
// so that a 24-bit file holds more than 16 bits can.
inline std::vector<std::int32_t> WideSamples(const Bytes& pcm16, bool lowBits) {
    std::vector<std::int32_t> samples(pcm16.size() / 2);
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const auto s = static_cast<std::int16_t>(pcm16[2 * k] | pcm16[2 * k + 1] << 8);
        samples[k] = s * 65536 + (lowBits ? static_cast<std::int32_t>((k * 37) % 256) * 256 : 0);
    }
    return samples;
}

// `samples` (interleaved, the loudest bits high) written by libsndfile as `sfFormat`. "" or
// libsndfile's reason.
inline std::string EncodeSamples(const std::string& path, int sfFormat, int rate, int channels,
                                 const std::vector<std::int32_t>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = sfFormat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return sf_strerror(nullptr);
    const auto count = static_cast<sf_count_t>(samples.size());
    const bool written = sf_write_int(file, samples.data(), count) == count;
    const int closed = sf_close(file);
    if (!written || closed != 0) return "libsndfile could not write " + path;
    return "";
}

// The rip music at `path` in `format`; "" or the reason.
inline std::string EncodeRip(const std::string& path, const RipFormat& format) {
    const LoopedMusic m = RipMusic();
    const bool wide = (format.sfFormat & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24;
    return EncodeSamples(path, format.sfFormat, static_cast<int>(m.format.rate),
                         static_cast<int>(m.format.channels),
                         WideSamples(RenderLoopedMusic(m), wide));
}

// What libsndfile decodes from the file: its format word, its frames and its samples, the
// loudest bits high.
struct Decoded {
    int sfFormat = 0;
    std::int64_t frames = -1;
    std::vector<std::int32_t> samples;
};

inline Decoded DecodeFile(const std::string& path) {
    Decoded decoded;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return decoded;
    decoded.sfFormat = info.format;
    decoded.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    decoded.frames = sf_readf_int(file, decoded.samples.data(), info.frames);
    sf_close(file);
    return decoded;
}

// The one value of a tag as TagLib reads it (a Vorbis comment, an ID3v2 TXXX frame by its
// description), or what stands in its way.
inline std::string TagProperty(const std::string& path, const char* name) {
    const TagLib::FileRef ref(path.c_str());
    if (ref.isNull()) return "(unreadable)";
    const TagLib::StringList values = ref.file()->properties()[name];
    return values.size() == 1 ? values.front().to8Bit(true)
                              : std::to_string(values.size()) + " values";
}

}  // namespace testwave
