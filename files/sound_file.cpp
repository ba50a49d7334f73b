// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/sound_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string_view>

#include "files/huge_pages.h"
#include "files/wave_file.h"
#include "wave/rounding.h"
#include "wave/seam_preview.h"
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

Container SniffFile(int fd) {
    std::array<std::uint8_t, kHeadBytes> head{};
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    if (got <= 0) return Container::Unknown;
    const std::span<const std::uint8_t> bytes(head.data(), static_cast<std::size_t>(got));
    const std::int64_t tag = Id3v2Bytes(bytes);
    if (tag == 0) return DirectlyOf(bytes);
    std::array<std::uint8_t, kHeadBytes> after{};
    const ssize_t more = ::pread(fd, after.data(), after.size(), static_cast<off_t>(tag));
    return AfterId3(
        DirectlyOf(std::span(after.data(), static_cast<std::size_t>(std::max<ssize_t>(more, 0)))));
}

// The file opened for reading as the wave reader opens it: never blocking on a pipe, and only a
// regular file. -1 when it cannot be.
int OpenRegular(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

Depth DepthOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return Depth::Bits8;
        case SF_FORMAT_PCM_16: return Depth::Bits16;
        case SF_FORMAT_PCM_24: return Depth::Bits24;
        case SF_FORMAT_PCM_32: return Depth::Bits32;
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE: return Depth::Float;
        default: return Depth::Coded;
    }
}

bool IsOpus(int format) { return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS; }

// Whether an MP3 states its length: a Xing, Info or VBRI header in its first frame, which also
// gives the encoder's delay and padding. Without one, libsndfile's length is an estimate from the
// file's size, and the decode decides.
bool Mp3GivesItsLength(int fd) {
    std::array<std::uint8_t, 10> id3{};
    const ssize_t got = ::pread(fd, id3.data(), id3.size(), 0);
    const std::int64_t tag =
        Id3v2Bytes(std::span(id3.data(), static_cast<std::size_t>(std::max<ssize_t>(got, 0))));
    std::array<char, 256> frame{};
    const ssize_t read = ::pread(fd, frame.data(), frame.size(), static_cast<off_t>(tag));
    const std::string_view text(frame.data(), static_cast<std::size_t>(std::max<ssize_t>(read, 0)));
    return text.find("Xing") != std::string_view::npos ||
           text.find("Info") != std::string_view::npos ||
           text.find("VBRI") != std::string_view::npos;
}

// The 8- or 16-bit block the wave layer takes for a decoded sound.
wave::PcmFormat ProxyFormat(int channels, int rate, Depth depth) {
    wave::PcmFormat f;
    f.wFormatTag = 1;
    f.nChannels = static_cast<std::int16_t>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = depth == Depth::Bits8 ? 8 : 16;
    f.nBlockAlign = static_cast<std::int16_t>(channels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

class SndFile {
public:
    explicit SndFile(SNDFILE* file) : file_(file) {}
    ~SndFile() {
        if (file_ != nullptr) sf_close(file_);
    }
    SndFile(const SndFile&) = delete;
    SndFile& operator=(const SndFile&) = delete;
    SNDFILE* get() const { return file_; }

    // Whether libsndfile logged a decoder's complaint since the last call: a lost sync, a hole
    // in the stream. Some decoders report nothing else and fill the gap.
    bool ComplainedSinceLastLook() {
        std::array<char, 4096> log{};
        const int length =
            sf_command(file_, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
        if (length <= logSeen_) return false;
        const std::string_view added(log.data() + logSeen_,
                                     static_cast<std::size_t>(length - logSeen_));
        logSeen_ = length;
        return added.find("ERROR") != std::string_view::npos ||
               added.find("hole") != std::string_view::npos ||
               added.find("Corrupt") != std::string_view::npos;
    }

private:
    SNDFILE* file_;
    int logSeen_ = 0;
};

// Frames read per call: large enough that the calls cost nothing, small enough to stay in cache.
constexpr sf_count_t kBlockFrames = 16384;

// The wave layer's bytes of 16-bit samples, as libsndfile gives them to every format but a
// 24-bit one (its own conversion, clipped, for floating point and the codecs): little-endian, or
// one unsigned byte each for 8 bits.
void PutSamples(std::span<const std::int16_t> samples, Depth depth, std::uint8_t* out) {
    if (depth == Depth::Bits8) {
        for (std::size_t k = 0; k < samples.size(); ++k)
            out[k] = static_cast<std::uint8_t>((samples[k] >> 8) + 128);
        return;
    }
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const auto u = static_cast<std::uint16_t>(samples[k]);
        out[2 * k] = static_cast<std::uint8_t>(u & 0xFFu);
        out[2 * k + 1] = static_cast<std::uint8_t>(u >> 8);
    }
}

struct Decoding {
    SndFile& file;
    const SF_INFO& info;
    Depth depth;
    Sound& sound;
    bool exactLength;  // the headers' frame count is the stream's own, not an estimate
};

// Every frame, first to last; "" or the message. The frame count of the headers, when they give
// one, must be met exactly: a decoder stopping short means the file ends early or is damaged.
std::string DecodeAll(Decoding d, const std::string& path) {
    const auto channels = static_cast<std::size_t>(d.info.channels);
    const std::size_t sampleBytes = d.depth == Depth::Bits8 ? 1 : 2;
    const bool known = d.info.frames >= 0 && d.info.frames < SF_COUNT_MAX;
    std::vector<std::uint8_t>& data = d.sound.wave.data;
    const bool wide = d.depth == Depth::Bits24;
    const auto blockSamples = static_cast<std::size_t>(kBlockFrames) * channels;
    std::vector<std::int16_t> shortBlock;
    std::vector<std::int32_t> intBlock;
    try {
        if (known) {
            const auto frames = static_cast<std::size_t>(d.info.frames);
            data.reserve(frames * channels * sampleBytes);
            // As the wave reader's payload: a decoded hour faulted in 4 KiB at a time costs more
            // than the search of it.
            PreferHugePages(data.data(), data.capacity());
            if (wide) d.sound.wide.reserve(frames * channels);
        }
        shortBlock.resize(blockSamples);
        if (wide) intBlock.resize(blockSamples);
    } catch (const std::bad_alloc&) {
        return std::string(wave::UserMessage(wave::WaveError::OutOfMemory));
    }
    std::int64_t frames = 0;
    for (;;) {
        const sf_count_t got = wide ? sf_readf_int(d.file.get(), intBlock.data(), kBlockFrames)
                                    : sf_readf_short(d.file.get(), shortBlock.data(), kBlockFrames);
        if (d.file.ComplainedSinceLastLook() || sf_error(d.file.get()) != SF_ERR_NO_ERROR)
            return wave::DecodeStopped(path, frames);
        if (got <= 0) break;
        const auto samples = static_cast<std::size_t>(got) * channels;
        if ((frames + got) * static_cast<std::int64_t>(channels * sampleBytes) >=
            wave::kInt32Max - 7)
            return std::string(wave::UserMessage(wave::WaveError::FileTooLarge));
        try {
            const std::size_t at = data.size();
            data.resize(at + samples * sampleBytes);
            if (wide) {
                // The finder's 16 bits are the high ones; the render takes all 24.
                for (std::size_t k = 0; k < samples; ++k)
                    shortBlock[k] = static_cast<std::int16_t>(intBlock[k] >> 16);
                d.sound.wide.insert(d.sound.wide.end(), intBlock.begin(),
                                    intBlock.begin() + static_cast<std::ptrdiff_t>(samples));
            }
            PutSamples(std::span(shortBlock).first(samples), d.depth, data.data() + at);
        } catch (const std::bad_alloc&) {
            return std::string(wave::UserMessage(wave::WaveError::OutOfMemory));
        }
        frames += got;
    }
    // A stream whose length the headers cannot tell (an Ogg file without its last page) ended
    // early as surely as one that stops short of the length they tell.
    if (!known || (d.exactLength && frames != d.info.frames))
        return wave::DecodeStopped(path, frames);
    d.sound.wave.dataBytes = static_cast<std::int64_t>(data.size());
    return "";
}

// The shape checks the wave reader makes, for a decoded sound: one or two channels, a rate whose
// four seconds fit the 32-bit fields, at least five seconds, under 2 GiB of samples.
std::string RefuseShape(const wave::PcmFormat& format, std::int64_t frames) {
    if (format.nChannels != 1 && format.nChannels != 2)
        return wave::TooManyChannels(format.nChannels);
    if (format.nSamplesPerSec < 1 || wave::PreviewBytes(format) > wave::kInt32Max ||
        std::int64_t{format.nSamplesPerSec} * 4 > wave::kInt32Max)
        return std::string(wave::UserMessage(wave::WaveError::BadFormat));
    if (frames * format.nBlockAlign >= wave::kInt32Max - 7)
        return std::string(wave::UserMessage(wave::WaveError::FileTooLarge));
    if (frames < std::int64_t{format.nSamplesPerSec} * 5)
        return std::string(wave::UserMessage(wave::WaveError::TooShort));
    return "";
}

// libsndfile's reading of the file; `refusal` is the message when it cannot read it at all.
SoundRead Decode(const std::string& path, Container container, wave::Payload payload,
                 std::string_view refusal) {
    SoundRead read;
    read.error = refusal;
    const int fd = OpenRegular(path);
    if (fd < 0) return read;
    const bool exactLength = container != Container::Mp3 || Mp3GivesItsLength(fd);
    SF_INFO info{};
    SndFile file(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
    if (file.get() == nullptr) return read;
    // Opus positions are 48 kHz frames, whatever rate the encoder was given.
    if (IsOpus(info.format)) {
        int rate = 48000;
        sf_command(file.get(), SFC_SET_ORIGINAL_SAMPLERATE, &rate, sizeof rate);
        sf_command(file.get(), SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    }
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    read.error.clear();
    Sound& sound = read.sound;
    sound.container = container;
    sound.decoded = true;
    sound.codec = info.format;
    sound.depth = DepthOf(info.format);
    if (info.channels < 1 || info.channels > 2) {
        read.error = wave::TooManyChannels(info.channels);
        return read;
    }
    sound.wave.format = ProxyFormat(info.channels, info.samplerate, sound.depth);
    const bool known = info.frames >= 0 && info.frames < SF_COUNT_MAX;
    if (known) {
        read.error = RefuseShape(sound.wave.format, info.frames);
        if (!read.error.empty()) return read;
        sound.wave.dataBytes = info.frames * sound.wave.format.nBlockAlign;
        if (payload == wave::Payload::SizeOnly) return read;
    }
    read.error = DecodeAll(Decoding{file, info, sound.depth, sound, exactLength}, path);
    if (read.error.empty())
        read.error =
            RefuseShape(sound.wave.format, sound.wave.dataBytes / sound.wave.format.nBlockAlign);
    if (!read.error.empty()) {
        // Nothing of a partial read is kept; what the source is stays known.
        sound.wave = wave::ParsedWave{};
        std::vector<std::int32_t>().swap(sound.wide);
    }
    return read;
}

// Whether the wave reader refused the file for its sample format alone.
bool RefusedForSampleFormat(wave::WaveError error) {
    return error == wave::WaveError::NotPcm || error == wave::WaveError::BadFormat;
}

}  // namespace

Container ContainerOf(std::span<const std::uint8_t> head) {
    const std::int64_t tag = Id3v2Bytes(head);
    if (tag == 0) return DirectlyOf(head);
    if (static_cast<std::int64_t>(head.size()) <= tag) return Container::Mp3;
    return AfterId3(DirectlyOf(head.subspan(static_cast<std::size_t>(tag))));
}

SoundRead ReadSound(const std::string& path, WaveReaders readers, wave::Payload payload) {
    Container container = Container::Unknown;
    if (const int fd = OpenRegular(path); fd >= 0) {
        container = SniffFile(fd);
        ::close(fd);
    }
    if (container == Container::Riff || container == Container::Unknown) {
        SoundRead read;
        wave::ParseResult parsed = ReadWaveFile(path, payload);
        read.error = wave::UserMessage(parsed.error);
        read.sound.container = container;
        read.sound.wave = std::move(parsed.wave);
        const bool tryOthers = container == Container::Riff &&
                               readers == WaveReaders::AlsoOtherSampleFormats &&
                               RefusedForSampleFormat(parsed.error);
        if (!tryOthers) return read;
        SoundRead other = Decode(path, container, payload, read.error);
        // Another format tag (extensible, floating point, a codec) is a sample format; plain PCM
        // refused is one only when it is wider than 16 bits, else it was refused for its shape.
        const bool wider = other.sound.depth != Depth::Bits8 && other.sound.depth != Depth::Bits16;
        const bool sampleFormat = parsed.error == wave::WaveError::NotPcm || wider;
        return other.sound.codec != 0 && sampleFormat ? other : read;
    }
    return Decode(path, container, payload, wave::UserMessage(wave::WaveError::BadRiffHeader));
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

bool HasSoundExtension(const std::string& path) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return false;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    for (const std::string_view known :
         {".wav", ".flac", ".ogg", ".oga", ".opus", ".mp3", ".aif", ".aiff"})
        if (extension == known) return true;
    return false;
}

}  // namespace files
