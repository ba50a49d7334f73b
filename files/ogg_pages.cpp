// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/ogg_pages.h"

#include <ogg/ogg.h>
#include <opus.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "files/source_cursor.h"

namespace files {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 16;
// Positions beyond this (about 185 years at 48 kHz) are a damaged header, not a stream.
constexpr std::int64_t kMostPosition = std::int64_t{1} << 48;

class SyncState {
public:
    SyncState() { ogg_sync_init(&state_); }
    ~SyncState() { ogg_sync_clear(&state_); }
    SyncState(const SyncState&) = delete;
    SyncState& operator=(const SyncState&) = delete;
    ogg_sync_state* get() { return &state_; }

private:
    ogg_sync_state state_{};
};

class StreamState {
public:
    explicit StreamState(int serial) { ogg_stream_init(&state_, serial); }
    ~StreamState() { ogg_stream_clear(&state_); }
    StreamState(const StreamState&) = delete;
    StreamState& operator=(const StreamState&) = delete;
    ogg_stream_state* get() { return &state_; }

private:
    ogg_stream_state state_{};
};

bool Begins(const ogg_packet& packet, std::string_view signature) {
    return packet.bytes >= static_cast<long>(signature.size()) &&
           std::memcmp(packet.packet, signature.data(), signature.size()) == 0;
}

OggCodec CodecOf(const ogg_packet& first) {
    if (Begins(first, std::string_view("\x01vorbis", 7))) return OggCodec::Vorbis;
    if (Begins(first, "OpusHead")) return OggCodec::Opus;
    return OggCodec::Other;
}

std::size_t HeaderPackets(OggCodec codec) { return codec == OggCodec::Vorbis ? 3 : 2; }

// How many frames each audio packet gives, read from its first bytes: Vorbis by its block sizes
// (a packet gives a quarter of the previous block and a quarter of its own; the first, nothing),
// Opus by its table of contents.
class PacketLengths {
public:
    PacketLengths() {
        vorbis_info_init(&info_);
        vorbis_comment_init(&comment_);
    }
    ~PacketLengths() {
        vorbis_comment_clear(&comment_);
        vorbis_info_clear(&info_);
    }
    PacketLengths(const PacketLengths&) = delete;
    PacketLengths& operator=(const PacketLengths&) = delete;

    OggCodec codec() const { return codec_; }
    std::int64_t preSkip() const { return preSkip_; }
    bool HeadersDone() const {
        return codec_ != OggCodec::Other && headers_ == HeaderPackets(codec_);
    }

    // The next header packet; false when it is none of the codec's.
    bool Header(ogg_packet& packet) {
        if (headers_ == 0) codec_ = CodecOf(packet);
        ++headers_;
        if (codec_ == OggCodec::Vorbis)
            return vorbis_synthesis_headerin(&info_, &comment_, &packet) == 0;
        if (codec_ != OggCodec::Opus) return false;
        if (headers_ == 2) return Begins(packet, "OpusTags");
        constexpr long kHeadBytes = 19;
        if (packet.bytes < kHeadBytes) return false;
        preSkip_ = packet.packet[10] | packet.packet[11] << 8;
        return true;
    }

    std::int64_t Frames(ogg_packet& packet) {
        if (codec_ == OggCodec::Opus) {
            if (packet.bytes < 1) return 0;
            const int frames = opus_packet_get_nb_samples(
                packet.packet, static_cast<opus_int32>(packet.bytes), 48000);
            return std::max(frames, 0);
        }
        const long block = vorbis_packet_blocksize(&info_, &packet);
        if (block <= 0) return 0;  // not an audio packet: the decoder passes over it too
        const long frames = previousBlock_ > 0 ? previousBlock_ / 4 + block / 4 : 0;
        previousBlock_ = block;
        return frames;
    }

private:
    vorbis_info info_{};
    vorbis_comment comment_{};
    OggCodec codec_ = OggCodec::Other;
    std::size_t headers_ = 0;
    std::int64_t preSkip_ = 0;
    long previousBlock_ = 0;
};

// Where the walk stands.
struct Walk {
    Walk(OggWalk& walked, std::string_view name) : result(walked), path(name) {}

    OggWalk& result;
    std::string_view path;
    PacketLengths lengths;
    std::optional<StreamState> stream;
    std::int32_t serial = 0;
    std::int64_t pages = 0;
    bool endSeen = false;
    std::int64_t position = 0;         // frames the packets gave so far
    std::optional<std::int64_t> base;  // the position the first page's granule counts from
    std::int64_t lastGranule = -1;
    std::int64_t lastPageFrames = 0;
    std::int64_t lastPageNumber = 0;
    std::int64_t skippedAt = -1;  // bytes that were no page, since the last page
    std::int64_t skippedBytes = 0;

    void Note(wave::ReadNote note, std::int64_t first, std::int64_t second = 0) {
        result.notes.push_back({note, first, second});
    }
    std::int64_t FramesSoFar() const {
        return std::max<std::int64_t>(0, position + base.value_or(0) - lengths.preSkip());
    }
    bool Refuse(std::string message) {
        result.error = std::move(message);
        return false;
    }
    bool Page(ogg_page& page);
};

bool Walk::Page(ogg_page& page) {
    const long number = ogg_page_pageno(&page);
    if (pages == 0) {
        if (!ogg_page_bos(&page)) return Refuse(wave::UnreadableSound("Ogg"));
        serial = ogg_page_serialno(&page);
        stream.emplace(serial);
    } else if (ogg_page_serialno(&page) != serial || endSeen) {
        return Refuse(wave::SeveralOggStreams(path));
    } else if (ogg_page_bos(&page)) {
        Note(wave::ReadNote::OggStrayStartFlag, number);
    }
    if (skippedAt >= 0) {
        // Bytes that were no page, with pages after them: a page damaged or cut out.
        Note(wave::ReadNote::OggDamagedPage, skippedAt);
        return Refuse(wave::DecodeStopped(path, FramesSoFar()));
    }
    ++pages;
    if (ogg_stream_pagein(stream->get(), &page) != 0) return Refuse(wave::UnreadableSound("Ogg"));
    std::int64_t pageFrames = 0;
    bool packetEnds = false;
    ogg_packet packet;
    for (int got; (got = ogg_stream_packetout(stream->get(), &packet)) != 0;) {
        if (got < 0) {
            Note(wave::ReadNote::OggPageMissing, number);
            return Refuse(wave::DecodeStopped(path, FramesSoFar()));
        }
        if (!lengths.HeadersDone()) {
            if (!lengths.Header(packet)) return Refuse(wave::UnreadableSound("Ogg"));
            continue;
        }
        packetEnds = true;
        pageFrames += lengths.Frames(packet);
    }
    position += pageFrames;
    const std::int64_t granule = ogg_page_granulepos(&page);
    if (packetEnds && granule >= 0) {
        // Where the positions start (0 but for a stream cut from a longer one), from the first
        // page that ends packets; the last page's position may also take off the padding, so a
        // stream of one page of audio starts at 0.
        if (!base && !ogg_page_eos(&page)) base = granule - position;
        lastGranule = granule;
        lastPageFrames = pageFrames;
    } else if (packetEnds) {
        // A page that ends packets must say where they end; the end of the stream is checked
        // against the last page's position, so this one must not pass for it.
        lastGranule = -1;
    }
    // The end may come on a page of its own that ends no packet: the position is the last one.
    if (ogg_page_eos(&page)) endSeen = true;
    lastPageNumber = number;
    return true;
}

// What the end of the walk shows: the stream's end, and its last position against the packets.
void Conclude(Walk& walk) {
    OggWalk& result = walk.result;
    if (walk.pages == 0) {
        result.error = wave::UnreadableSound("Ogg");
        return;
    }
    result.codec = walk.lengths.codec();
    if (!walk.lengths.HeadersDone()) {
        result.error = wave::UnreadableSound("Ogg");
        return;
    }
    if (!walk.endSeen) {
        walk.Note(wave::ReadNote::OggNoEndOfStream, walk.lastPageNumber);
        result.error = wave::DecodeStopped(walk.path, walk.FramesSoFar());
        return;
    }
    if (walk.skippedAt >= 0) walk.Note(wave::ReadNote::OggTrailingBytes, walk.skippedBytes);
    const std::int64_t base = walk.base.value_or(0);
    const std::int64_t reached = walk.position + base;  // where the packets end, as a position
    // The last page may end the stream early within its own frames (the encoder's padding cut
    // off), never before them, and never after what its packets give.
    const bool sane =
        walk.lastGranule >= 0 && walk.lastGranule < kMostPosition &&
        std::abs(base) < kMostPosition && walk.lastGranule <= reached &&
        reached - walk.lastGranule <= std::max<std::int64_t>(walk.lastPageFrames - 1, 0);
    // What the last position states; a damaged one may be near 2^63.
    std::int64_t frames = -1;
    if (walk.lastGranule >= 0 && std::abs(base) < kMostPosition &&
        __builtin_sub_overflow(walk.lastGranule, base + walk.lengths.preSkip(), &frames))
        frames = std::numeric_limits<std::int64_t>::max();
    if (!sane || frames < 0) {
        walk.Note(wave::ReadNote::OggLastPositionWrong, walk.lastGranule, reached);
        result.error = wave::LengthDisagrees(walk.path, walk.FramesSoFar(), frames);
        return;
    }
    result.frames = frames;
}

}  // namespace

OggWalk WalkOggPages(wave::ByteSource& source, std::string_view path) {
    OggWalk result;
    Walk walk(result, path);
    SyncState sync;
    SourceCursor cursor(source);
    std::int64_t at = 0;  // the byte where the next page or skip begins
    try {
        for (bool more = true; more;) {
            char* buffer = ogg_sync_buffer(sync.get(), static_cast<long>(kChunkBytes));
            if (buffer == nullptr) throw std::bad_alloc();
            const std::size_t got = cursor.Read(buffer, kChunkBytes);
            if (cursor.Failed()) {
                result.error = wave::UserMessage(wave::WaveError::CannotOpen);
                return result;
            }
            ogg_sync_wrote(sync.get(), static_cast<long>(got));
            more = got > 0;
            ogg_page page;
            for (long step; (step = ogg_sync_pageseek(sync.get(), &page)) != 0;) {
                if (step < 0) {
                    if (walk.skippedAt < 0) walk.skippedAt = at;
                    walk.skippedBytes += -step;
                    at += -step;
                    continue;
                }
                if (!walk.Page(page)) return result;
                walk.skippedAt = -1;
                walk.skippedBytes = 0;
                at += step;
            }
        }
        // Bytes at the very end that never made a whole page.
        const std::int64_t left = cursor.Length() - at;
        if (left > 0 && walk.skippedAt < 0) {
            walk.skippedAt = at;
            walk.skippedBytes = left;
        } else if (left > 0) {
            walk.skippedBytes += left;
        }
        if (walk.skippedAt >= 0 && !walk.endSeen) {
            // A page cut short is the end of a file cut short.
            walk.skippedAt = -1;
        }
        Conclude(walk);
    } catch (const std::bad_alloc&) {
        result.error = wave::UserMessage(wave::WaveError::OutOfMemory);
    }
    return result;
}

OggHeaders ReadOggHeaders(std::span<const std::uint8_t> bytes) {
    OggHeaders headers;
    SyncState sync;
    PacketLengths lengths;
    std::optional<StreamState> stream;
    std::size_t at = 0;
    char* buffer = ogg_sync_buffer(sync.get(), static_cast<long>(bytes.size()));
    if (buffer == nullptr) return headers;
    std::memcpy(buffer, bytes.data(), bytes.size());
    ogg_sync_wrote(sync.get(), static_cast<long>(bytes.size()));
    ogg_page page;
    for (long step; (step = ogg_sync_pageseek(sync.get(), &page)) != 0;) {
        if (step < 0 || (stream && ogg_page_serialno(&page) != headers.serial)) {
            // Before the headers are whole, anything but their stream's pages is damage or a
            // second stream interleaved.
            if (step > 0) headers.error = wave::TagError::SeveralOggStreams;
            return headers;
        }
        if (!stream) {
            if (!ogg_page_bos(&page)) return headers;
            headers.serial = ogg_page_serialno(&page);
            stream.emplace(headers.serial);
        }
        at += static_cast<std::size_t>(step);
        ++headers.headerPages;
        if (ogg_stream_pagein(stream->get(), &page) != 0) return headers;
        ogg_packet packet;
        for (int got;
             !lengths.HeadersDone() && (got = ogg_stream_packetout(stream->get(), &packet)) != 0;) {
            if (got < 0 || !lengths.Header(packet)) {
                headers.error = wave::TagError::NoCommentPacket;
                return headers;
            }
            headers.packets.emplace_back(packet.packet, packet.packet + packet.bytes);
        }
        if (!lengths.HeadersDone()) continue;
        // The audio must begin on a page of its own: no packet after the headers on this page,
        // and none begun on it to go on in the next.
        const std::uint8_t* header = page.header;
        const int segments = header[26];
        const bool continues = segments > 0 && header[27 + segments - 1] == 255;
        if (ogg_stream_packetpeek(stream->get(), nullptr) != 0 || continues) {
            headers.error = wave::TagError::OggAudioInHeaderPages;
            return headers;
        }
        headers.codec = lengths.codec();
        headers.audioAt = at;
        headers.ok = true;
        return headers;
    }
    return headers;
}

std::vector<std::uint8_t> RepageOgg(std::span<const std::uint8_t> bytes,
                                    const OggHeaders& headers) {
    std::vector<std::uint8_t> out;
    try {
        StreamState stream(headers.serial);
        std::int64_t pages = 0;
        const auto flush = [&] {
            ogg_page page;
            while (ogg_stream_flush(stream.get(), &page) != 0) {
                out.insert(out.end(), page.header, page.header + page.header_len);
                out.insert(out.end(), page.body, page.body + page.body_len);
                ++pages;
            }
        };
        for (std::size_t k = 0; k < headers.packets.size(); ++k) {
            std::vector<std::uint8_t> data = headers.packets[k];
            ogg_packet packet{};
            packet.packet = data.data();
            packet.bytes = static_cast<long>(data.size());
            packet.b_o_s = k == 0 ? 1 : 0;
            packet.granulepos = 0;
            packet.packetno = static_cast<ogg_int64_t>(k);
            ogg_stream_packetin(stream.get(), &packet);
            // The first header alone on the first page.
            if (k == 0 || k + 1 == headers.packets.size()) flush();
        }
        const std::int64_t shift = pages - headers.headerPages;
        SyncState sync;
        const std::span<const std::uint8_t> rest = bytes.subspan(headers.audioAt);
        char* buffer = ogg_sync_buffer(sync.get(), static_cast<long>(rest.size()));
        if (buffer == nullptr) return {};
        std::memcpy(buffer, rest.data(), rest.size());
        ogg_sync_wrote(sync.get(), static_cast<long>(rest.size()));
        std::size_t at = 0;
        ogg_page page;
        for (long step; (step = ogg_sync_pageseek(sync.get(), &page)) != 0;) {
            const auto length = static_cast<std::size_t>(step < 0 ? -step : step);
            const std::size_t from = out.size();
            out.insert(out.end(), rest.begin() + static_cast<std::ptrdiff_t>(at),
                       rest.begin() + static_cast<std::ptrdiff_t>(at + length));
            at += length;
            if (step < 0 || shift == 0 || ogg_page_serialno(&page) != headers.serial) continue;
            // The copy's sequence number moves with the headers' pages; its checksum follows.
            const auto number = static_cast<std::uint32_t>(ogg_page_pageno(&page) + shift);
            ogg_page copy;
            copy.header = out.data() + from;
            copy.header_len = page.header_len;
            copy.body = copy.header + page.header_len;
            copy.body_len = page.body_len;
            for (int k = 0; k < 4; ++k)
                copy.header[18 + k] = static_cast<std::uint8_t>(number >> (8 * k));
            ogg_page_checksum_set(&copy);
        }
        // What never made a whole page at the end stays as it was.
        out.insert(out.end(), rest.begin() + static_cast<std::ptrdiff_t>(at), rest.end());
    } catch (const std::bad_alloc&) {
        return {};
    }
    return out;
}

}  // namespace files
