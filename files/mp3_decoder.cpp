// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/mp3_decoder.h"

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "files/big_endian.h"
#include "files/id3v2_extent.h"
#include "files/source_cursor.h"

namespace files {

namespace {

ssize_t ReadCallback(void* handle, void* to, size_t bytes) {
    auto& cursor = *static_cast<SourceCursor*>(handle);
    const std::size_t got = cursor.Read(to, bytes);
    return cursor.Failed() ? -1 : static_cast<ssize_t>(got);
}

off_t SeekCallback(void* handle, off_t offset, int whence) {
    return static_cast<off_t>(static_cast<SourceCursor*>(handle)->Seek(offset, whence));
}

struct Format {
    long rate = 0;
    int channels = 0;
    int encoding = 0;
};

// The frames of the decoder's output kept: from `skip` up to `end`.
struct Trim {
    std::int64_t skip = 0;
    std::int64_t end = std::numeric_limits<std::int64_t>::max();
};

// The samples a Layer III decoder gives before the first frame's own: mpg123's and LAME's
// gapless arithmetic adds them to the encoder's delay.
constexpr std::int64_t kDecoderDelay = 529;

class Handle {
public:
    Handle() {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        handle_ = mpg123_new(nullptr, nullptr);
    }

    // Opened quietly over `cursor`, to give 32-bit floats at the stream's own rate; gapless, as
    // its LAME or Info header asks, or every sample of every frame.
    bool Open(SourceCursor& cursor, bool gapless, Format& format) {
        const long quiet = MPG123_QUIET | MPG123_FORCE_FLOAT;
        return handle_ != nullptr &&
               mpg123_param(handle_, MPG123_ADD_FLAGS, quiet, 0) == MPG123_OK &&
               mpg123_param(handle_, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS,
                            MPG123_GAPLESS, 0) == MPG123_OK &&
               mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0) == MPG123_OK &&
               mpg123_replace_reader_handle(handle_, ReadCallback, SeekCallback, nullptr) ==
                   MPG123_OK &&
               mpg123_open_handle(handle_, &cursor) == MPG123_OK &&
               mpg123_getformat(handle_, &format.rate, &format.channels, &format.encoding) ==
                   MPG123_OK;
    }
    ~Handle() {
        if (handle_ == nullptr) return;
        mpg123_close(handle_);
        mpg123_delete(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    mpg123_handle* get() const { return handle_; }

private:
    mpg123_handle* handle_ = nullptr;
};

// libsndfile's conversion of its float samples to 16 bits with clipping, so that a decode gives
// the samples it always gave.
std::int16_t ClippedShort(float sample) {
    const float scaled = sample * 32768.0f;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<std::int16_t>(std::lrintf(scaled));
}

constexpr std::size_t kHeadBytes = 512;

}  // namespace

std::int64_t StatedMpegFrames(std::span<const std::uint8_t> audio) {
    if (audio.size() < 4 || !IsMpegFrameHeader(audio.data())) return 0;
    const bool mpeg1 = (audio[1] >> 3 & 3) == 3;
    const bool mono = (audio[3] >> 6) == 3;
    // The Xing or Info header follows the first frame's side information; VBRI a fixed 32 bytes.
    const std::size_t xing = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (audio.size() >= xing + 12) {
        const std::string_view id(reinterpret_cast<const char*>(audio.data() + xing), 4);
        if (id == "Xing" || id == "Info") {
            const bool counted = (BigEndian32(audio.data() + xing + 4) & 1) != 0;
            return counted ? BigEndian32(audio.data() + xing + 8) : 0;
        }
    }
    constexpr std::size_t kVbri = 4 + 32;
    if (audio.size() >= kVbri + 18 &&
        std::string_view(reinterpret_cast<const char*>(audio.data() + kVbri), 4) == "VBRI")
        return BigEndian32(audio.data() + kVbri + 14);
    return 0;
}

SoundRead DecodeMp3(const DecodeJob& job) {
    SoundRead read;
    Sound& sound = read.sound;
    sound.container = Container::Mp3;
    sound.decoded = true;
    sound.depth = Depth::Coded;
    const Id3v2Extent tag = Id3v2ExtentOf(job.source);
    if (tag.audioAt < tag.statedBytes)
        sound.notes.push_back({wave::ReadNote::Id3v2CoversAudio, tag.statedBytes, tag.audioAt});
    SourceCursor cursor(job.source, tag.audioAt);
    std::array<std::uint8_t, kHeadBytes> head{};
    const std::size_t headBytes = cursor.Read(head.data(), head.size());
    const std::int64_t stated = StatedMpegFrames(std::span(head.data(), headBytes));
    cursor.Seek(0, SEEK_SET);

    std::optional<Handle> handle;
    handle.emplace();
    Format format;
    const bool opened =
        handle->Open(cursor, true, format) && mpg123_scan(handle->get()) == MPG123_OK;
    if (cursor.Failed()) {
        read.error = wave::UserMessage(wave::WaveError::CannotOpen);
        return read;
    }
    if (!opened || format.rate < 1 || format.rate > wave::kInt32Max / 4) {
        read.error = wave::UnreadableSound("MP3");
        return read;
    }
    mpg123_handle* h = handle->get();
    mpg123_frameinfo info{};
    mpg123_info(h, &info);
    sound.codec = SF_FORMAT_MPEG | (info.layer == 1   ? SF_FORMAT_MPEG_LAYER_I
                                    : info.layer == 2 ? SF_FORMAT_MPEG_LAYER_II
                                                      : SF_FORMAT_MPEG_LAYER_III);
    if (format.channels < 1 || format.channels > 2) {
        read.error = wave::TooManyChannels(format.channels);
        return read;
    }
    sound.wave.format = ProxyFormat(format.channels, static_cast<int>(format.rate), sound.depth);
    const std::int64_t present = mpg123_framelength(h);
    std::int64_t length = mpg123_length(h);
    Trim trim;
    if (stated > 0 && stated != present) {
        sound.notes.push_back({wave::ReadNote::Mp3FramesDisagree, stated, present});
        // Fewer frames than stated: the file ends early.
        if (stated > present) {
            read.error = wave::DecodeStopped(job.path, length);
            return read;
        }
        // More: the count was written wrong. The encoder's delay and padding still stand at the
        // start and at the real end; mpg123, trimming by the count, would decode the frames
        // after it afresh, so they are taken off here from its untrimmed output.
        long delay = -1;
        long padding = -1;
        mpg123_getstate(h, MPG123_ENC_DELAY, &delay, nullptr);
        mpg123_getstate(h, MPG123_ENC_PADDING, &padding, nullptr);
        const std::int64_t frames = present * mpg123_spf(h);
        if (delay >= 0 && padding >= 0 && frames > delay + padding) {
            trim.skip = delay + kDecoderDelay;
            trim.end = frames - padding + kDecoderDelay;
            length = trim.end - trim.skip;
        }
        handle.emplace();
        cursor.Seek(0, SEEK_SET);
        Format again;
        if (!handle->Open(cursor, false, again) || again.rate != format.rate ||
            again.channels != format.channels) {
            read.error = wave::UnreadableSound("MP3");
            return read;
        }
        h = handle->get();
    }
    if (stated == 0) sound.notes.push_back({wave::ReadNote::Mp3NoLengthHeader, length});
    read.error = RefuseShape(sound.wave.format, length, job.limits);
    if (!read.error.empty()) return read;
    sound.wave.dataBytes = length * sound.wave.format.nBlockAlign;
    if (job.payload == wave::Payload::SizeOnly) return read;

    // Floats at every rate and channel count: a damaged frame of another rate then comes back as
    // a new format, which is refused below, rather than as a failure libmpg123 prints whatever
    // its quiet flag says.
    mpg123_format_none(h);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t k = 0; k < count; ++k)
        mpg123_format(h, rates[k], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    DecodedPcm pcm(sound, job.limits.mostDataBytes);
    pcm.Expect(length);
    constexpr std::size_t kBlockFrames = 16384;
    const auto channels = static_cast<std::size_t>(format.channels);
    std::vector<float> floats(kBlockFrames * channels);
    std::vector<std::int16_t> shorts(kBlockFrames * channels);
    std::int64_t decoded = 0;  // frames out of the decoder, trimmed or not
    for (;;) {
        std::size_t bytes = 0;
        const int status = mpg123_read(h, floats.data(), floats.size() * sizeof(float), &bytes);
        const auto got = static_cast<std::int64_t>(bytes / sizeof(float) / channels);
        // The part of this block within the trim, in frames.
        const std::int64_t from = std::clamp<std::int64_t>(trim.skip - decoded, 0, got);
        const std::int64_t to = std::clamp<std::int64_t>(trim.end - decoded, from, got);
        decoded += got;
        const auto first = static_cast<std::size_t>(from) * channels;
        const auto samples = static_cast<std::size_t>(to - from) * channels;
        for (std::size_t k = 0; k < samples; ++k) shorts[k] = ClippedShort(floats[first + k]);
        if (!pcm.Add16(std::span(shorts).first(samples))) {
            read.error = pcm.Error();
            return read;
        }
        if (status == MPG123_DONE) break;
        if (status == MPG123_NEW_FORMAT) {
            Format now;
            // A stream that changes its rate or channels part way is two sounds, not one.
            if (mpg123_getformat(h, &now.rate, &now.channels, &now.encoding) == MPG123_OK &&
                now.rate == format.rate && now.channels == format.channels)
                continue;
        }
        if (status != MPG123_OK || cursor.Failed()) {
            read.error = wave::DecodeStopped(job.path, pcm.Frames());
            return read;
        }
    }
    read.error = pcm.Finish(job.path, length);
    return read;
}

}  // namespace files
