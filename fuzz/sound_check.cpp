// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/sound_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/loop_tags.h"
#include "files/sound_file.h"

namespace soundfuzz {

namespace {

constexpr std::int64_t kMostSampleBytes = std::int64_t{8} << 20;

void Require(bool ok, const char* what, long long detail = -1) {
    if (ok) return;
    std::fprintf(stderr, "sound check failed: %s (%lld)\n", what, detail);
    std::abort();
}

// What every read promises, accepted or refused.
void CheckRead(const files::SoundRead& read, wave::Payload payload) {
    const files::Sound& sound = read.sound;
    if (!read.error.empty()) {
        Require(sound.wave.data.empty() && sound.wide.empty(), "a refused read kept samples");
        return;
    }
    const wave::PcmFormat& format = sound.wave.format;
    Require(format.nChannels == 1 || format.nChannels == 2, "channels", format.nChannels);
    Require(format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8, "block align");
    Require(sound.wave.dataBytes >= 0 && sound.wave.dataBytes % format.nBlockAlign == 0,
            "a part of a frame", sound.wave.dataBytes);
    Require(sound.wave.dataBytes <= kMostSampleBytes, "the limit passed", sound.wave.dataBytes);
    if (payload == wave::Payload::SizeOnly) return;
    Require(static_cast<std::int64_t>(sound.wave.data.size()) == sound.wave.dataBytes,
            "size and samples disagree", sound.wave.dataBytes);
    if (sound.depth == files::Depth::Bits24 && sound.decoded) {
        Require(sound.wide.size() * 2 == sound.wave.data.size(), "24-bit samples beside 16",
                static_cast<long long>(sound.wide.size()));
    }
}

}  // namespace

void CheckSound(std::span<const std::uint8_t> bytes) {
    files::DecodeLimits limits;
    limits.mostDataBytes = kMostSampleBytes;
    limits.shapeChecked = false;
    const auto readers = files::WaveReaders::AlsoOtherSampleFormats;
    const files::SoundRead headers =
        files::ReadSoundBytes(bytes, "fuzz", readers, wave::Payload::SizeOnly, limits);
    CheckRead(headers, wave::Payload::SizeOnly);
    const files::SoundRead read =
        files::ReadSoundBytes(bytes, "fuzz", readers, wave::Payload::Read, limits);
    CheckRead(read, wave::Payload::Read);
    Require(read.sound.container == files::ContainerOf(bytes), "the container chosen twice");
    if (!read.error.empty()) return;

    // A loop within the sound, as tag writes one; its rewrite is decoded again and must give
    // the same samples, or be refused. The Ogg pages, the FLAC blocks and the wave chunks are
    // rewritten by us, and a rewrite of ours that changes the sound is one to mend; TagLib
    // places an MP3's ID3v2 tag by its own reading of the file, which on bytes like these may
    // differ from the decoder's, and the refusal is then the promise kept.
    const std::int64_t frames = read.sound.wave.dataBytes / read.sound.wave.format.nBlockAlign;
    const files::LoopTag tag{frames / 3, std::max<std::int64_t>(1, frames / 2)};
    std::vector<std::uint8_t> rewritten(bytes.begin(), bytes.end());
    const std::string error =
        files::TagBytesKeepingSound(read.sound, "fuzz", rewritten, tag, limits);
    Require(error != wave::CannotTag(wave::TagError::SoundWouldChange) ||
                read.sound.container == files::Container::Mp3,
            "our rewrite changed the sound", static_cast<long long>(bytes.size()));
    // libmpg123 decodes some damaged frames from memory it never set (valgrind shows it), so
    // two decodes of one damaged MP3 may differ; the other decoders give the same samples twice.
    if (!error.empty() || read.sound.container == files::Container::Mp3) return;
    const files::SoundRead again =
        files::ReadSoundBytes(rewritten, "fuzz", readers, wave::Payload::Read, limits);
    Require(again.error.empty() && again.sound.wave.data == read.sound.wave.data,
            "the tagged bytes decode otherwise");
}

}  // namespace soundfuzz
