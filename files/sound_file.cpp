// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/sound_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "files/decoded_pcm.h"
#include "files/file_source.h"
#include "files/flac_decoder.h"
#include "files/mp3_decoder.h"
#include "files/sndfile_decoder.h"
#include "wave/user_texts.h"

namespace files {

namespace {

bool Begins(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view id) {
    return bytes.size() >= at + id.size() &&
           std::memcmp(bytes.data() + at, id.data(), id.size()) == 0;
}

Container DirectlyOf(std::span<const std::uint8_t> head) {
    if (Begins(head, 0, "RIFF") || Begins(head, 0, "RIFX")) return Container::Riff;
    if (Begins(head, 0, "fLaC")) return Container::Flac;
    if (Begins(head, 0, "OggS")) return Container::Ogg;
    if (Begins(head, 0, "FORM") && (Begins(head, 8, "AIFF") || Begins(head, 8, "AIFC")))
        return Container::Aiff;
    // An MPEG audio frame's sync: eleven bits set.
    if (head.size() >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0) return Container::Mp3;
    return Container::Unknown;
}

}  // namespace

std::int64_t Id3v2Bytes(std::span<const std::uint8_t> head) {
    if (head.size() < 10 || !Begins(head, 0, "ID3")) return 0;
    std::int64_t size = 0;
    for (std::size_t k = 6; k < 10; ++k) {
        if (head[k] >= 0x80) return 0;  // not a syncsafe size: no tag
        size = size << 7 | head[k];
    }
    const bool footer = (head[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

namespace {

// After an ID3v2 tag: FLAC where FLAC follows, MPEG audio otherwise.
Container AfterId3(Container following) {
    return following == Container::Flac ? Container::Flac : Container::Mp3;
}

constexpr std::size_t kHeadBytes = 12;

Container SniffSource(wave::ByteSource& source) {
    const auto headOf = [&source](std::int64_t at, std::array<std::uint8_t, kHeadBytes>& head) {
        const std::int64_t size = std::clamp<std::int64_t>(source.Size() - at, 0, kHeadBytes);
        if (size == 0 || !source.Read(at, head.data(), static_cast<std::size_t>(size))) return 0;
        return static_cast<int>(size);
    };
    std::array<std::uint8_t, kHeadBytes> head{};
    const int got = headOf(0, head);
    const std::span<const std::uint8_t> bytes(head.data(), static_cast<std::size_t>(got));
    const std::int64_t tag = Id3v2Bytes(bytes);
    if (tag == 0) return DirectlyOf(bytes);
    std::array<std::uint8_t, kHeadBytes> after{};
    const int more = headOf(tag, after);
    return AfterId3(DirectlyOf(std::span(after.data(), static_cast<std::size_t>(more))));
}

// The readers of the containers other than RIFF, and the name their messages give each.
struct ContainerReader {
    Container container;
    std::string_view name;
    SoundRead (*decode)(const DecodeJob& job, Container container, std::string_view refusal);
};
constexpr std::array<ContainerReader, 4> kReaders{{
    {Container::Flac, "FLAC",
     [](const DecodeJob& job, Container, std::string_view) { return DecodeFlac(job); }},
    {Container::Mp3, "MP3",
     [](const DecodeJob& job, Container, std::string_view) { return DecodeMp3(job); }},
    {Container::Ogg, "Ogg", DecodeWithSndfile},
    {Container::Aiff, "AIFF", DecodeWithSndfile},
}};

// Whether the wave reader refused the file for its sample format alone.
bool RefusedForSampleFormat(wave::WaveError error) {
    return error == wave::WaveError::NotPcm || error == wave::WaveError::BadFormat;
}

// The shape of the decoded sound checked once more, now that its length is certain; on a
// refusal nothing of the samples is kept, while what the source is stays known.
SoundRead Concluded(SoundRead read, const DecodeLimits& limits) {
    const wave::PcmFormat& format = read.sound.wave.format;
    if (read.error.empty() && format.nBlockAlign > 0)
        read.error = RefuseShape(format, read.sound.wave.dataBytes / format.nBlockAlign, limits);
    if (!read.error.empty()) {
        read.sound.wave = wave::ParsedWave{};
        std::vector<std::int32_t>().swap(read.sound.wide);
    }
    return read;
}

SoundRead ReadFrom(wave::ByteSource& source, std::string_view path, WaveReaders readers,
                   wave::Payload payload, const DecodeLimits& limits) {
    const Container container = SniffSource(source);
    const DecodeJob job{source, path, payload, limits};
    if (container != Container::Riff && container != Container::Unknown) {
        const auto reader = std::find_if(
            kReaders.begin(), kReaders.end(),
            [container](const ContainerReader& r) { return r.container == container; });
        return Concluded(reader->decode(job, container, wave::UnreadableSound(reader->name)),
                         limits);
    }
    SoundRead read;
    wave::ParseResult parsed = wave::ParseWave(source, payload);
    read.error = wave::UserMessage(parsed.error);
    read.sound.container = container;
    read.sound.wave = std::move(parsed.wave);
    const bool tryOthers = container == Container::Riff &&
                           readers == WaveReaders::AlsoOtherSampleFormats &&
                           RefusedForSampleFormat(parsed.error);
    if (!tryOthers) return read;
    SoundRead other = Concluded(DecodeWithSndfile(job, container, read.error), limits);
    // Another format tag (extensible, floating point, a codec) is a sample format; plain PCM
    // refused is one only when it is wider than 16 bits, else it was refused for its shape.
    const bool wider = other.sound.depth != Depth::Bits8 && other.sound.depth != Depth::Bits16;
    const bool sampleFormat = parsed.error == wave::WaveError::NotPcm || wider;
    return other.sound.codec != 0 && sampleFormat ? other : read;
}

}  // namespace

Container ContainerOf(std::span<const std::uint8_t> head) {
    const std::int64_t tag = Id3v2Bytes(head);
    if (tag == 0) return DirectlyOf(head);
    if (static_cast<std::int64_t>(head.size()) <= tag) return Container::Mp3;
    return AfterId3(DirectlyOf(head.subspan(static_cast<std::size_t>(tag))));
}

Container ContainerOfFile(const std::string& path) {
    const std::unique_ptr<FileSource> source = OpenFileSource(path);
    return source == nullptr ? Container::Unknown : SniffSource(*source);
}

SoundRead ReadSound(const std::string& path, WaveReaders readers, wave::Payload payload) {
    const std::unique_ptr<FileSource> source = OpenFileSource(path);
    if (source == nullptr) {
        SoundRead read;
        read.error = wave::UserMessage(wave::WaveError::CannotOpen);
        return read;
    }
    return ReadFrom(*source, path, readers, payload, DecodeLimits{});
}

SoundRead ReadSoundBytes(std::span<const std::uint8_t> bytes, const std::string& path,
                         WaveReaders readers, wave::Payload payload, const DecodeLimits& limits) {
    wave::SpanSource source(bytes);
    return ReadFrom(source, path, readers, payload, limits);
}

wave::PcmFormat ShownFormat(const Sound& sound, std::int64_t& dataBytes) {
    wave::PcmFormat format = sound.wave.format;
    dataBytes = sound.wave.dataBytes;
    const int bits = sound.depth == Depth::Bits24                                  ? 24
                     : sound.depth == Depth::Bits32 || sound.depth == Depth::Float ? 32
                                                                                   : 0;
    if (!sound.decoded || bits == 0 || format.nBlockAlign < 1) return format;
    const std::int64_t frames = dataBytes / format.nBlockAlign;
    format.wBitsPerSample = static_cast<std::int16_t>(bits);
    format.nBlockAlign = static_cast<std::int16_t>(format.nChannels * bits / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    dataBytes = frames * format.nBlockAlign;
    return format;
}

std::span<const std::string_view> SoundExtensions() {
    static constexpr std::array<std::string_view, 8> kExtensions{"wav",  "flac", "ogg", "oga",
                                                                 "opus", "mp3",  "aif", "aiff"};
    return kExtensions;
}

bool HasSoundExtension(const std::string& path) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return false;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const std::span<const std::string_view> known = SoundExtensions();
    return std::find(known.begin(), known.end(), extension) != known.end();
}

}  // namespace files
