// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/sound_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "files/atomic_save.h"
#include "files/loop_tags.h"
#include "files/looped_wave_file.h"
#include "wave/looped_samples.h"
#include "wave/user_texts.h"

namespace files {

namespace {

constexpr std::array<std::string_view, 1> kWavExtensions{"wav"};
constexpr std::array<std::string_view, 1> kFlacExtensions{"flac"};
constexpr std::array<std::string_view, 2> kOggExtensions{"ogg", "oga"};
constexpr std::array<std::string_view, 1> kOpusExtensions{"opus"};
constexpr std::array<std::string_view, 1> kMp3Extensions{"mp3"};
constexpr std::array<WrittenFormat, 5> kWrittenFormats{{
    {OutputFormat::Wav, "WAV", kWavExtensions},
    {OutputFormat::Flac, "FLAC", kFlacExtensions},
    {OutputFormat::Ogg, "Ogg Vorbis", kOggExtensions},
    {OutputFormat::Opus, "Opus", kOpusExtensions},
    {OutputFormat::Mp3, "MP3", kMp3Extensions},
}};

constexpr std::array<std::int32_t, 5> kOpusRates{8000, 12000, 16000, 24000, 48000};
// The rates of MPEG 1, 2 and 2.5, the only ones an MP3 frame can say.
constexpr std::array<std::int32_t, 9> kMp3Rates{8000,  11025, 12000, 16000, 22050,
                                                24000, 32000, 44100, 48000};

// The encoded file grows in memory: the encoders seek back to finish their headers, and the
// atomic save then takes it, tags and all, in one piece.
struct Memory {
    std::vector<std::uint8_t> bytes;
    sf_count_t at = 0;
};

Memory& Of(void* data) { return *static_cast<Memory*>(data); }

sf_count_t MemoryLength(void* data) { return static_cast<sf_count_t>(Of(data).bytes.size()); }

sf_count_t MemorySeek(sf_count_t offset, int whence, void* data) {
    Memory& m = Of(data);
    const sf_count_t base = whence == SEEK_CUR   ? m.at
                            : whence == SEEK_END ? static_cast<sf_count_t>(m.bytes.size())
                                                 : 0;
    m.at = std::max<sf_count_t>(0, base + offset);
    return m.at;
}

sf_count_t MemoryRead(void* to, sf_count_t count, void* data) {
    Memory& m = Of(data);
    const auto size = static_cast<sf_count_t>(m.bytes.size());
    const sf_count_t n = std::clamp<sf_count_t>(size - m.at, 0, std::max<sf_count_t>(count, 0));
    if (n > 0) std::memcpy(to, m.bytes.data() + m.at, static_cast<std::size_t>(n));
    m.at += n;
    return n;
}

sf_count_t MemoryWrite(const void* from, sf_count_t count, void* data) {
    Memory& m = Of(data);
    if (count <= 0) return 0;
    const auto end = static_cast<std::size_t>(m.at + count);
    try {
        if (end > m.bytes.size()) m.bytes.resize(end);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::memcpy(m.bytes.data() + m.at, from, static_cast<std::size_t>(count));
    m.at += count;
    return count;
}

sf_count_t MemoryTell(void* data) { return Of(data).at; }

// The output's name in a refusal.
std::string_view NameOf(OutputFormat format) {
    switch (format) {
        case OutputFormat::Flac: return "FLAC";
        case OutputFormat::Ogg: return "Ogg Vorbis";
        case OutputFormat::Opus: return "Opus";
        case OutputFormat::Mp3: return "MP3";
        case OutputFormat::Wav: break;
    }
    return "wave";
}

int SubFormatOf(Depth depth) {
    switch (depth) {
        case Depth::Bits8: return SF_FORMAT_PCM_S8;
        case Depth::Bits24: return SF_FORMAT_PCM_24;
        default: return SF_FORMAT_PCM_16;
    }
}

int FormatWord(OutputFormat format, Depth depth) {
    switch (format) {
        case OutputFormat::Flac: return SF_FORMAT_FLAC | SubFormatOf(depth);
        case OutputFormat::Ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case OutputFormat::Opus: return SF_FORMAT_OGG | SF_FORMAT_OPUS;
        case OutputFormat::Mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        case OutputFormat::Wav: break;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

// Writes what the renders give to libsndfile, until the stop flag is set.
class EncoderSink final : public wave::ByteSink, public wave::SampleSink {
public:
    EncoderSink(SNDFILE* file, const wave::PcmFormat& format, const std::atomic<bool>* stop)
        : file_(file), bits_(format.wBitsPerSample), stop_(stop) {}

    // The looped wave file's bytes: its header passed over, its samples widened.
    bool Write(std::span<const std::uint8_t> bytes) override {
        if (headerLeft_ > 0) {
            const std::size_t skip = std::min(headerLeft_, bytes.size());
            headerLeft_ -= skip;
            bytes = bytes.subspan(skip);
        }
        const std::size_t step = bits_ == 8 ? 1 : 2;
        samples_.clear();
        for (std::size_t k = 0; k + step <= bytes.size(); k += step) {
            samples_.push_back(step == 1 ? (bytes[k] - 128) * (1 << 24)
                                         : static_cast<std::int16_t>(bytes[k] | bytes[k + 1] << 8) *
                                               (1 << 16));
        }
        return Put(samples_);
    }
    bool Put(std::span<const std::int32_t> samples) override {
        if (stop_ != nullptr && stop_->load()) {
            stopped_ = true;
            return false;
        }
        const auto count = static_cast<sf_count_t>(samples.size());
        return sf_write_int(file_, samples.data(), count) == count;
    }
    std::string FailureReason() const override {
        if (stopped_) return wave::SaveFailed(wave::SaveError::Stopped);
        return wave::EncodeFailed();
    }

private:
    SNDFILE* file_;
    int bits_;
    const std::atomic<bool>* stop_;
    std::size_t headerLeft_ = wave::kHeaderBytes;
    std::vector<std::int32_t> samples_;
    bool stopped_ = false;
};

SF_VIRTUAL_IO gMemoryIo{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};

// An encoder writing into `memory`, its quality set; nullptr, with the message, when libsndfile
// cannot make one.
SNDFILE* OpenEncoder(const wave::PcmFormat& format, Depth depth, const Encoding& encoding,
                     Memory& memory, std::string& message) {
    SF_INFO info{};
    info.samplerate = format.nSamplesPerSec;
    info.channels = format.nChannels;
    info.format = FormatWord(encoding.format, depth);
    SNDFILE* file = sf_open_virtual(&gMemoryIo, SFM_WRITE, &info, &memory);
    if (file == nullptr) {
        message = wave::EncodeFailed();
        return nullptr;
    }
    if (encoding.format != OutputFormat::Flac) {
        if (encoding.format == OutputFormat::Mp3) {
            int mode = SF_BITRATE_MODE_VARIABLE;
            sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        }
        double quality = encoding.quality / 10.0;
        sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    return file;
}

// The sound encoded into memory; "" or the message.
std::string Encode(const Sound& sound, const wave::LoopRequest& request, const Encoding& encoding,
                   const std::atomic<bool>* stop, Memory& memory) {
    std::string message;
    SNDFILE* file = OpenEncoder(sound.wave.format, sound.depth, encoding, memory, message);
    if (file == nullptr) return message;
    EncoderSink sink(file, sound.wave.format, stop);
    wave::LoopRequest plain = request;
    plain.samplerLoop = false;
    message = sound.depth == Depth::Bits24
                  ? wave::RenderLoopedSamples(sound.wave.format, sound.wide, 24, plain, sink)
                  : wave::RenderLoopedWave(sound.wave.format, sound.wave.data, plain, sink);
    const int closed = sf_close(file);
    if (message.empty() && closed != 0) message = wave::EncodeFailed();
    return message;
}

}  // namespace

std::span<const WrittenFormat> WrittenFormats() { return kWrittenFormats; }

std::optional<OutputFormat> OutputFormatNamed(std::string_view name) {
    for (const WrittenFormat& written : kWrittenFormats)
        for (const std::string_view extension : written.extensions)
            if (extension == name) return written.format;
    return std::nullopt;
}

std::optional<OutputFormat> OutputFormatOf(const std::string& path) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return std::nullopt;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return OutputFormatNamed(extension);
}

OutputFormat OutputFormatForName(const std::string& path) {
    return OutputFormatOf(path).value_or(OutputFormat::Wav);
}

std::string_view ExtensionOf(OutputFormat format) {
    switch (format) {
        case OutputFormat::Wav: return ".wav";
        case OutputFormat::Flac: return ".flac";
        case OutputFormat::Ogg: return ".ogg";
        case OutputFormat::Opus: return ".opus";
        case OutputFormat::Mp3: return ".mp3";
    }
    return ".wav";
}

std::string CheckEncoding(const Sound& sound, const Encoding& encoding) {
    const bool lossless =
        encoding.format == OutputFormat::Wav || encoding.format == OutputFormat::Flac;
    const bool fitsWave = sound.depth != Depth::Bits24;
    const bool wide = sound.depth == Depth::Bits32 || sound.depth == Depth::Float;
    const int bits = sound.depth == Depth::Bits24 ? 24 : sound.depth == Depth::Bits32 ? 32 : 0;
    if (lossless && (wide || (encoding.format == OutputFormat::Wav && !fitsWave)))
        return wave::ResolutionWouldBeLost(bits, ExtensionOf(encoding.format));
    const std::int32_t rate = sound.wave.format.nSamplesPerSec;
    if (encoding.format == OutputFormat::Opus &&
        std::find(kOpusRates.begin(), kOpusRates.end(), rate) == kOpusRates.end())
        return wave::OpusRateRefused(rate);
    if (encoding.format == OutputFormat::Mp3 &&
        std::find(kMp3Rates.begin(), kMp3Rates.end(), rate) == kMp3Rates.end())
        return wave::Mp3RateRefused(rate);
    if (encoding.format == OutputFormat::Wav) return "";
    // Whatever else an encoder will not take is found by starting it, into memory, on one
    // frame of silence: some encoders set themselves up only at the first write.
    Memory memory;
    std::string message;
    SNDFILE* file = OpenEncoder(sound.wave.format, sound.depth, encoding, memory, message);
    if (file == nullptr) return wave::OutputRateRefused(NameOf(encoding.format), rate);
    const std::array<std::int32_t, 2> silence{};
    const bool written = sf_writef_int(file, silence.data(), 1) == 1;
    const bool closed = sf_close(file) == 0;
    return written && closed ? "" : wave::OutputRateRefused(NameOf(encoding.format), rate);
}

std::string WriteLoopedSound(const std::string& path, const Sound& sound,
                             const wave::LoopRequest& request, const Encoding& encoding,
                             const std::atomic<bool>* stop) {
    if (std::string message = CheckEncoding(sound, encoding); !message.empty()) return message;
    if (encoding.format == OutputFormat::Wav) {
        wave::LoopRequest wave = request;
        wave.samplerLoop = request.samplerLoop || encoding.tags;
        return WriteLoopedWaveFile(path, sound.wave.format, sound.wave.data, wave, stop);
    }
    wave::LoopedLayout layout;
    if (std::string message =
            wave::PlanLoopedWave(sound.wave.format, sound.wave.dataBytes, request, layout);
        !message.empty())
        return message;
    Memory memory;
    if (std::string message = Encode(sound, request, encoding, stop, memory); !message.empty())
        return message;
    if (encoding.tags) {
        // Opus counts its positions at 48 kHz, whatever rate it was given.
        const std::int64_t scale =
            encoding.format == OutputFormat::Opus ? 48000 / sound.wave.format.nSamplesPerSec : 1;
        const LoopTag tag{std::int64_t{request.loopStart} * scale,
                          (std::int64_t{request.loopEnd} - request.loopStart) * scale};
        const Container container = encoding.format == OutputFormat::Flac  ? Container::Flac
                                    : encoding.format == OutputFormat::Mp3 ? Container::Mp3
                                                                           : Container::Ogg;
        if (std::string message = TagBytes(container, encoding.format == OutputFormat::Opus,
                                           sound.wave.format.nSamplesPerSec, memory.bytes, tag);
            !message.empty())
            return message;
    }
    if (stop != nullptr && stop->load()) return wave::SaveFailed(wave::SaveError::Stopped);
    const std::array<std::span<const std::uint8_t>, 1> parts{memory.bytes};
    return SaveAtomically(path, parts);
}

std::string WritePcmSound(const std::string& path, const wave::PcmFormat& format,
                          std::span<const std::uint8_t> samples, const Encoding& encoding) {
    const std::vector<std::uint8_t> header =
        wave::WaveHeader(format, static_cast<std::int64_t>(samples.size()));
    if (encoding.format == OutputFormat::Wav) {
        const std::array<std::span<const std::uint8_t>, 2> parts{header, samples};
        return SaveAtomically(path, parts);
    }
    Memory memory;
    std::string message;
    const Depth depth = format.wBitsPerSample == 8 ? Depth::Bits8 : Depth::Bits16;
    SNDFILE* file = OpenEncoder(format, depth, encoding, memory, message);
    if (file == nullptr) return message;
    EncoderSink sink(file, format, nullptr);
    const bool written = sink.Write(header) && sink.Write(samples);
    if (!written) message = sink.FailureReason();
    const int closed = sf_close(file);
    if (message.empty() && closed != 0) message = wave::EncodeFailed();
    if (!message.empty()) return message;
    const std::array<std::span<const std::uint8_t>, 1> parts{memory.bytes};
    return SaveAtomically(path, parts);
}

}  // namespace files
