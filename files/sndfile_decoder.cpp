// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/sndfile_decoder.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "files/big_endian.h"
#include "files/ogg_pages.h"
#include "files/source_cursor.h"
#include "wave/riff_reader.h"

namespace files {

namespace {

SourceCursor& Of(void* data) { return *static_cast<SourceCursor*>(data); }

sf_count_t Length(void* data) { return Of(data).Length(); }
sf_count_t Seek(sf_count_t offset, int whence, void* data) { return Of(data).Seek(offset, whence); }
sf_count_t Read(void* to, sf_count_t count, void* data) {
    if (count <= 0) return 0;
    return static_cast<sf_count_t>(Of(data).Read(to, static_cast<std::size_t>(count)));
}
sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
sf_count_t Tell(void* data) { return Of(data).Tell(); }

SF_VIRTUAL_IO gSourceIo{Length, Seek, Read, Write, Tell};

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

bool IsOpusFormat(int format) { return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS; }

// Frames read per call: large enough that the calls cost nothing, small enough to stay in cache.
constexpr sf_count_t kBlockFrames = 16384;

// Every frame, first to last, into `pcm`: "" or the message; `complained` where the decoder
// reported damage.
std::string DecodeAll(SndFile& file, int channels, Depth depth, DecodedPcm& pcm,
                      std::string_view path, bool& complained) {
    const auto blockSamples = static_cast<std::size_t>(kBlockFrames * channels);
    const bool wide = depth == Depth::Bits24;
    std::vector<std::int16_t> shorts;
    std::vector<std::int32_t> ints;
    try {
        if (wide)
            ints.resize(blockSamples);
        else
            shorts.resize(blockSamples);
    } catch (const std::bad_alloc&) {
        return std::string(wave::UserMessage(wave::WaveError::OutOfMemory));
    }
    for (;;) {
        const sf_count_t got = wide ? sf_readf_int(file.get(), ints.data(), kBlockFrames)
                                    : sf_readf_short(file.get(), shorts.data(), kBlockFrames);
        if (file.ComplainedSinceLastLook() || sf_error(file.get()) != SF_ERR_NO_ERROR) {
            complained = true;
            return wave::DecodeStopped(path, pcm.Frames());
        }
        if (got <= 0) return "";
        const auto samples = static_cast<std::size_t>(got) * static_cast<std::size_t>(channels);
        const bool kept = wide ? pcm.Add24(std::span(ints).first(samples))
                               : pcm.Add16(std::span(shorts).first(samples));
        if (!kept) return pcm.Error();
    }
}

}  // namespace

std::int64_t AiffStatedFrames(wave::ByteSource& source) {
    const std::int64_t size = source.Size();
    std::array<std::uint8_t, 14> bytes{};
    // The chunks after "FORM", its size and "AIFF" or "AIFC": an ID, a big-endian size, the data
    // and a pad byte to an even length. COMM: channels (2 bytes), then the frame count (4).
    for (std::int64_t at = 12; size - at >= 8;) {
        if (!source.Read(at, bytes.data(), 8)) return -1;
        const std::int64_t chunkBytes = BigEndian32(bytes.data() + 4);
        if (std::string_view(reinterpret_cast<const char*>(bytes.data()), 4) == "COMM") {
            if (size - at - 8 < 6 || !source.Read(at + 8, bytes.data(), 6)) return -1;
            return BigEndian32(bytes.data() + 2);
        }
        if (chunkBytes > size - at - 8) return -1;
        at += 8 + chunkBytes + (chunkBytes & 1);
    }
    return -1;
}

bool WaveDataCut(wave::ByteSource& source) {
    wave::ByteReader reader(source);
    // The chunks after "RIFF", its size and "WAVE"; chunks are padded to an even length.
    for (std::int64_t at = 12; reader.Remaining(at) >= 8;) {
        const std::optional<wave::ChunkHeader> chunk = wave::ReadChunkHeader(reader, at);
        if (!chunk) return false;
        // The size unsigned: a cut file's, or a pipe's 0xFFFFFFFF, lies beyond what is left.
        const std::int64_t bytes = chunk->size & 0xFFFFFFFF;
        if (chunk->Is("data")) return bytes > reader.Remaining(chunk->Payload());
        if (bytes > reader.Remaining(chunk->Payload())) return false;
        at = chunk->Payload() + bytes + (bytes & 1);
    }
    return false;
}

SoundRead DecodeWithSndfile(const DecodeJob& job, Container container, std::string_view refusal) {
    SoundRead read;
    Sound& sound = read.sound;
    sound.container = container;
    // The pages first: a file they refuse is not decoded at all, and their length is the one the
    // decode must reach.
    std::int64_t walked = -1;
    if (container == Container::Ogg) {
        OggWalk walk = WalkOggPages(job.source, job.path);
        sound.notes = std::move(walk.notes);
        if (!walk.error.empty()) {
            read.error = std::move(walk.error);
            return read;
        }
        if (walk.codec == OggCodec::Other) {
            read.error = wave::UnreadableSound("Ogg");
            return read;
        }
        walked = walk.frames;
    }
    SourceCursor cursor(job.source);
    SF_INFO info{};
    SndFile file(sf_open_virtual(&gSourceIo, SFM_READ, &info, &cursor));
    if (file.get() == nullptr) {
        read.error = refusal;
        return read;
    }
    // Opus positions are 48 kHz frames, whatever rate the encoder was given.
    if (IsOpusFormat(info.format)) {
        int rate = 48000;
        sf_command(file.get(), SFC_SET_ORIGINAL_SAMPLERATE, &rate, sizeof rate);
        sf_command(file.get(), SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    }
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sound.decoded = true;
    sound.codec = info.format;
    sound.depth = DepthOf(info.format);
    if (info.channels < 1 || info.channels > 2) {
        read.error = wave::TooManyChannels(info.channels);
        return read;
    }
    if (info.samplerate < 1 || info.samplerate > wave::kInt32Max / 4) {
        read.error = wave::UserMessage(wave::WaveError::BadFormat);
        return read;
    }
    sound.wave.format = ProxyFormat(info.channels, info.samplerate, sound.depth);
    std::int64_t frames = info.frames >= 0 && info.frames < SF_COUNT_MAX ? info.frames : -1;
    if (container == Container::Aiff) {
        const std::int64_t stated = AiffStatedFrames(job.source);
        if (stated > frames) {
            sound.notes.push_back({wave::ReadNote::AiffDataCut, stated, frames});
            read.error = wave::DecodeStopped(job.path, frames);
            return read;
        }
    }
    // libsndfile reads a cut wave file as far as it goes; the wave reader refuses it, and so do we.
    if (container == Container::Riff && WaveDataCut(job.source)) {
        sound.notes.push_back({wave::ReadNote::WaveDataCut, frames});
        read.error = wave::DecodeStopped(job.path, std::max<std::int64_t>(frames, 0));
        return read;
    }
    if (walked >= 0) frames = walked;
    if (frames < 0) {
        // No length: a stream libsndfile cannot measure, which the reader does not take.
        read.error = wave::DecodeStopped(job.path, 0);
        return read;
    }
    read.error = RefuseShape(sound.wave.format, frames, job.limits);
    if (!read.error.empty()) return read;
    sound.wave.dataBytes = frames * sound.wave.format.nBlockAlign;
    if (job.payload == wave::Payload::SizeOnly) return read;

    DecodedPcm pcm(sound, job.limits.mostDataBytes);
    pcm.Expect(frames);
    bool complained = false;
    read.error = DecodeAll(file, info.channels, sound.depth, pcm, job.path, complained);
    if (complained) sound.notes.push_back({wave::ReadNote::DecoderComplained, pcm.Frames()});
    if (read.error.empty() && cursor.Failed())
        read.error = wave::DecodeStopped(job.path, pcm.Frames());
    if (!read.error.empty()) return read;
    read.error = pcm.Finish(job.path, frames);
    return read;
}

}  // namespace files
