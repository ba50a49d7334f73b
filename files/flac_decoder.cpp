// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/flac_decoder.h"

#include <FLAC/stream_decoder.h>
#include <sndfile.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "files/source_cursor.h"

namespace files {

namespace {

struct StreamInfo {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::int64_t frames = 0;  // 0: not given
    bool checksum = false;    // an MD5 other than zeros
};

// What the callbacks share.
struct Decoding {
    Decoding(SourceCursor& source, Sound& decoded) : cursor(source), sound(decoded) {}

    SourceCursor& cursor;
    Sound& sound;
    std::optional<StreamInfo> info;
    std::optional<DecodedPcm> pcm;
    std::vector<std::int16_t> shorts;
    std::vector<std::int32_t> ints;
    std::int64_t frames = 0;    // decoded so far
    FLAC__uint64 position = 0;  // where the last frame stood in the file
    bool damaged = false;       // a frame failed its checks
    bool stopped = false;       // the samples could not be kept (too large, no memory)
};

Decoding& Of(void* data) { return *static_cast<Decoding*>(data); }

FLAC__StreamDecoderReadStatus ReadCallback(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                           size_t* bytes, void* data) {
    Decoding& d = Of(data);
    *bytes = d.cursor.Read(buffer, *bytes);
    if (d.cursor.Failed()) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    return *bytes == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                       : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus SeekCallback(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                           void* data) {
    if (offset > static_cast<FLAC__uint64>(Of(data).cursor.Length()))
        return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    Of(data).cursor.Seek(static_cast<std::int64_t>(offset), SEEK_SET);
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus TellCallback(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                           void* data) {
    *offset = static_cast<FLAC__uint64>(Of(data).cursor.Tell());
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus LengthCallback(const FLAC__StreamDecoder*, FLAC__uint64* length,
                                               void* data) {
    *length = static_cast<FLAC__uint64>(Of(data).cursor.Length());
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool EofCallback(const FLAC__StreamDecoder*, void* data) { return Of(data).cursor.AtEnd(); }

void MetadataCallback(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                      void* data) {
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO || Of(data).info) return;
    const FLAC__StreamMetadata_StreamInfo& s = metadata->data.stream_info;
    StreamInfo info;
    info.channels = static_cast<int>(s.channels);
    info.rate = static_cast<int>(s.sample_rate);
    info.bits = static_cast<int>(s.bits_per_sample);
    info.frames = static_cast<std::int64_t>(s.total_samples);
    info.checksum =
        std::any_of(std::begin(s.md5sum), std::end(s.md5sum), [](FLAC__byte b) { return b != 0; });
    Of(data).info = info;
}

void ErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
    Decoding& d = Of(data);
    if (!d.damaged) d.sound.notes.push_back({wave::ReadNote::FlacFrameDamaged, d.frames});
    d.damaged = true;
}

// The frame's samples, interleaved, as libsndfile gives them: up to 16 bits in the high bits of
// 16, up to 24 in the high bits of 32 (kept whole), 32 bits as their high 16.
FLAC__StreamDecoderWriteStatus WriteCallback(const FLAC__StreamDecoder* decoder,
                                             const FLAC__Frame* frame,
                                             const FLAC__int32* const buffer[], void* data) {
    Decoding& d = Of(data);
    if (d.damaged || !d.info || !d.pcm) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    const FLAC__FrameHeader& header = frame->header;
    // Every frame begins where the one before it ended; the decoder has turned frame numbers
    // into sample numbers. Where a frame is missing, libFLAC gives silence in its place, a frame
    // that took no bytes of the file: its position stands still.
    FLAC__uint64 position = 0;
    const bool moved = !FLAC__stream_decoder_get_decode_position(decoder, &position) ||
                       d.frames == 0 || position != d.position;
    d.position = position;
    const auto first = static_cast<std::int64_t>(header.number.sample_number);
    if (header.number_type != FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER || first != d.frames ||
        !moved) {
        if (moved)
            d.sound.notes.push_back({wave::ReadNote::FlacFrameOutOfPlace, d.frames, first});
        else
            d.sound.notes.push_back({wave::ReadNote::FlacFrameMissing, d.frames});
        d.damaged = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const auto channels = static_cast<std::size_t>(d.info->channels);
    if (header.channels != channels || static_cast<int>(header.bits_per_sample) != d.info->bits) {
        d.damaged = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const std::size_t frames = header.blocksize;
    const int bits = d.info->bits;
    bool kept = true;
    if (bits > 16 && bits <= 24) {
        d.ints.resize(frames * channels);
        for (std::size_t f = 0; f < frames; ++f)
            for (std::size_t c = 0; c < channels; ++c)
                d.ints[f * channels + c] = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(buffer[c][f]) << (32 - bits));
        kept = d.pcm->Add24(d.ints);
    } else {
        d.shorts.resize(frames * channels);
        for (std::size_t f = 0; f < frames; ++f)
            for (std::size_t c = 0; c < channels; ++c)
                d.shorts[f * channels + c] = static_cast<std::int16_t>(
                    bits <= 16 ? static_cast<std::int32_t>(static_cast<std::uint32_t>(buffer[c][f])
                                                           << (16 - bits))
                               : buffer[c][f] >> (bits - 16));
        kept = d.pcm->Add16(d.shorts);
    }
    if (!kept) {
        d.stopped = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    d.frames += static_cast<std::int64_t>(frames);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

class Decoder {
public:
    Decoder() : decoder_(FLAC__stream_decoder_new()) {}
    ~Decoder() {
        if (decoder_ != nullptr) FLAC__stream_decoder_delete(decoder_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    FLAC__StreamDecoder* get() const { return decoder_; }

private:
    FLAC__StreamDecoder* decoder_;
};

Depth DepthOfBits(int bits) {
    return bits == 8    ? Depth::Bits8
           : bits <= 16 ? Depth::Bits16
           : bits <= 24 ? Depth::Bits24
                        : Depth::Bits32;
}

int SubFormatOf(Depth depth) {
    switch (depth) {
        case Depth::Bits8: return SF_FORMAT_PCM_S8;
        case Depth::Bits24: return SF_FORMAT_PCM_24;
        case Depth::Bits32: return SF_FORMAT_PCM_32;
        default: return SF_FORMAT_PCM_16;
    }
}

}  // namespace

SoundRead DecodeFlac(const DecodeJob& job) {
    SoundRead read;
    Sound& sound = read.sound;
    sound.container = Container::Flac;
    sound.decoded = true;
    SourceCursor cursor(job.source);
    Decoding d(cursor, sound);
    const Decoder decoder;
    FLAC__StreamDecoder* flac = decoder.get();
    const bool opened = flac != nullptr && FLAC__stream_decoder_set_md5_checking(flac, true) &&
                        FLAC__stream_decoder_init_stream(
                            flac, ReadCallback, SeekCallback, TellCallback, LengthCallback,
                            EofCallback, WriteCallback, MetadataCallback, ErrorCallback,
                            &d) == FLAC__STREAM_DECODER_INIT_STATUS_OK &&
                        FLAC__stream_decoder_process_until_end_of_metadata(flac);
    if (cursor.Failed()) {
        read.error = wave::UserMessage(wave::WaveError::CannotOpen);
        return read;
    }
    if (!opened || !d.info || d.info->rate < 1 || d.info->bits < 4 || d.info->bits > 32) {
        read.error = wave::UnreadableSound("FLAC");
        return read;
    }
    const StreamInfo info = *d.info;
    sound.depth = DepthOfBits(info.bits);
    sound.codec = SF_FORMAT_FLAC | SubFormatOf(sound.depth);
    if (info.channels > 2) {
        read.error = wave::TooManyChannels(info.channels);
        return read;
    }
    sound.wave.format = ProxyFormat(info.channels, info.rate, sound.depth);
    if (info.frames > 0) {
        read.error = RefuseShape(sound.wave.format, info.frames, job.limits);
        // A stated length under five seconds may be one below the frames: they are decoded.
        const bool mayBeLonger = read.error == wave::UserMessage(wave::WaveError::TooShort);
        if (!read.error.empty() && !mayBeLonger) return read;
        read.error.clear();
        sound.wave.dataBytes = info.frames * sound.wave.format.nBlockAlign;
        if (job.payload == wave::Payload::SizeOnly && !mayBeLonger) return read;
    }
    d.pcm.emplace(sound, job.limits.mostDataBytes);
    d.pcm->Expect(info.frames);
    const bool whole = FLAC__stream_decoder_process_until_end_of_stream(flac);
    if (d.stopped) {
        read.error = d.pcm->Error();
        return read;
    }
    if (!whole || d.damaged || cursor.Failed()) {
        read.error = wave::DecodeStopped(job.path, d.frames);
        return read;
    }
    // The check of the MD5 comes with the end of the decode.
    const bool matches = FLAC__stream_decoder_finish(flac);
    if (info.frames > d.frames) {
        read.error = wave::DecodeStopped(job.path, d.frames);
        return read;
    }
    if (!matches) {
        read.error = wave::ChecksumMismatch(job.path);
        return read;
    }
    // A length below what decodes, where the MD5 vouches for every sample, or none to tell: the
    // frames are the file's, and every player plays them.
    if (info.frames == 0)
        sound.notes.push_back({wave::ReadNote::FlacLengthNotGiven, d.frames});
    else if (info.frames < d.frames)
        sound.notes.push_back({wave::ReadNote::FlacLengthBelowFrames, info.frames, d.frames});
    if (!info.checksum) sound.notes.push_back({wave::ReadNote::FlacNoChecksum, d.frames});
    d.pcm->Finish();
    return read;
}

}  // namespace files
