// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/loop_tags.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "files/atomic_save.h"
#include "files/id3v2_extent.h"
#include "files/ogg_pages.h"
#include "files/save_errors.h"
#include "wave/le_bytes.h"
#include "wave/rounding.h"
#include "wave/sampler_chunk.h"
#include "wave/user_texts.h"

namespace files {

namespace {

constexpr std::string_view kLoopStart = "LOOPSTART";
constexpr std::string_view kLoopLength = "LOOPLENGTH";

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return out;
}

std::uint32_t ReadU32Le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutU32Le(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift & 0xFFu));
}

void PutString(std::vector<std::uint8_t>& out, std::string_view text) {
    PutU32Le(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

TagLib::ByteVector ToTagLib(std::span<const std::uint8_t> bytes) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<unsigned int>(bytes.size()));
}

std::vector<std::uint8_t> FromTagLib(const TagLib::ByteVector& bytes) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return std::vector<std::uint8_t>(first, first + bytes.size());
}

// The comment packet of an Ogg stream, between its codec's signature and whatever follows the
// comments (Vorbis's framing bit; Opus may keep binary data there), rewritten with the loop first.
// The header packets are paged afresh; every audio page stays as it was but for its number.
std::string TagOgg(std::vector<std::uint8_t>& bytes, bool opus, const LoopTag& tag) {
    OggHeaders headers = ReadOggHeaders(bytes);
    if (!headers.ok) return wave::CannotTag(headers.error);
    const std::string_view signature =
        opus ? std::string_view("OpusTags") : std::string_view("\x03vorbis", 7);
    if ((headers.codec == OggCodec::Opus) != opus)
        return wave::CannotTag(wave::TagError::UnreadableOgg);
    std::vector<std::uint8_t>& packet = headers.packets[1];
    const std::span<const std::uint8_t> raw(packet);
    if (raw.size() < signature.size() ||
        std::memcmp(raw.data(), signature.data(), signature.size()) != 0)
        return wave::CannotTag(wave::TagError::NoCommentPacket);
    std::optional<Comments> comments = ParseComments(raw.subspan(signature.size()));
    if (!comments) return wave::CannotTag(wave::TagError::BrokenComments);
    PutLoopFirst(*comments, tag);
    std::vector<std::uint8_t> rebuilt(signature.begin(), signature.end());
    const std::vector<std::uint8_t> block = RenderComments(*comments);
    rebuilt.insert(rebuilt.end(), block.begin(), block.end());
    rebuilt.insert(rebuilt.end(),
                   raw.begin() + static_cast<std::ptrdiff_t>(signature.size() + comments->bytes),
                   raw.end());
    packet = std::move(rebuilt);
    std::vector<std::uint8_t> repaged = RepageOgg(bytes, headers);
    if (repaged.empty()) return std::string(wave::UserMessage(wave::WaveError::OutOfMemory));
    bytes = std::move(repaged);
    return "";
}

// The ID3v2.4 tag: TXXX frames LOOPSTART and LOOPLENGTH, earlier loop frames removed, every
// other frame and an ID3v1 tag kept. A tag whose stated size reaches into the audio is first given
// the size its frames and padding really take, so that its rewrite ends where the audio begins.
std::string TagMp3(std::vector<std::uint8_t>& bytes, const LoopTag& tag) {
    wave::SpanSource source(bytes);
    const Id3v2Extent extent = Id3v2ExtentOf(source);
    if (extent.audioAt < extent.statedBytes) {
        const std::int64_t size = extent.audioAt - 10;
        for (int k = 0; k < 4; ++k)
            bytes[static_cast<std::size_t>(9 - k)] =
                static_cast<std::uint8_t>(size >> (7 * k) & 0x7F);
    }
    TagLib::ByteVectorStream stream(ToTagLib(bytes));
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return wave::CannotTag(wave::TagError::UnreadableMp3);
    // TagLib looks for a tag up to the first frame it deems whole, and would rewrite one it
    // finds anywhere there, also one whose size runs past the file (its save then moves a
    // negative number of bytes). The decoders take a tag at the start only, within the file.
    const bool leading = extent.statedBytes > 0;
    if (file.hasID3v2Tag() != leading ||
        std::min(extent.audioAt, extent.statedBytes) > static_cast<std::int64_t>(bytes.size()))
        return wave::CannotTag(wave::TagError::UnreadableMp3);
    TagLib::ID3v2::Tag* id3 = file.ID3v2Tag(true);
    const TagLib::ID3v2::FrameList frames = id3->frameList("TXXX");
    for (TagLib::ID3v2::Frame* frame : frames) {
        const auto* text = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame);
        if (text != nullptr && IsLoopTagName(text->description().to8Bit(true)))
            id3->removeFrame(frame, true);
    }
    for (const auto& [name, value] :
         {std::pair{kLoopStart, tag.start}, std::pair{kLoopLength, tag.length}}) {
        auto* frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF8);
        frame->setDescription(TagLib::String(std::string(name), TagLib::String::UTF8));
        frame->setText(TagLib::String(std::to_string(value), TagLib::String::UTF8));
        id3->addFrame(frame);
    }
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate))
        return wave::CannotTag(wave::TagError::Mp3NotWritten);
    bytes = FromTagLib(*stream.data());
    return "";
}

// FLAC's metadata blocks after "fLaC": the first VORBIS_COMMENT block rewritten with the loop
// first (or one put after STREAMINFO where there is none), the loop tags taken out of any other,
// every other block and the audio frames byte for byte.
std::string TagFlac(std::vector<std::uint8_t>& bytes, const LoopTag& tag) {
    const std::int64_t id3 = Id3v2Bytes(bytes);
    if (id3 + 4 > static_cast<std::int64_t>(bytes.size()) ||
        std::memcmp(bytes.data() + id3, "fLaC", 4) != 0)
        return wave::CannotTag(wave::TagError::UnreadableFlac);
    struct Block {
        std::uint8_t type;
        std::vector<std::uint8_t> data;
    };
    std::vector<Block> blocks;
    auto at = static_cast<std::size_t>(id3) + 4;
    for (bool last = false; !last;) {
        if (bytes.size() - at < 4) return wave::CannotTag(wave::TagError::BrokenFlacMetadata);
        last = (bytes[at] & 0x80) != 0;
        const auto type = static_cast<std::uint8_t>(bytes[at] & 0x7F);
        const std::size_t length =
            std::size_t{bytes[at + 1]} << 16 | std::size_t{bytes[at + 2]} << 8 | bytes[at + 3];
        if (bytes.size() - at - 4 < length)
            return wave::CannotTag(wave::TagError::BrokenFlacMetadata);
        blocks.push_back(
            Block{type, std::vector<std::uint8_t>(
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + 4 + length))});
        at += 4 + length;
    }
    constexpr std::uint8_t kComment = 4;
    const auto isComment = [](const Block& b) { return b.type == kComment; };
    auto comment = std::find_if(blocks.begin(), blocks.end(), isComment);
    Comments comments;
    comments.vendor = "Rundelt";
    if (comment != blocks.end()) {
        std::optional<Comments> parsed = ParseComments(comment->data);
        if (!parsed) return wave::CannotTag(wave::TagError::BrokenComments);
        comments = std::move(*parsed);
        // A second comment block is against the format but written by some tools; no loop in it
        // may contradict ours.
        for (auto other = std::find_if(comment + 1, blocks.end(), isComment); other != blocks.end();
             other = std::find_if(other + 1, blocks.end(), isComment)) {
            std::optional<Comments> more = ParseComments(other->data);
            if (!more) return wave::CannotTag(wave::TagError::BrokenComments);
            std::erase_if(more->fields, [](const std::string& field) {
                return IsLoopTagName(std::string_view(field).substr(0, field.find('=')));
            });
            other->data = RenderComments(*more);
        }
    } else {
        comment = blocks.insert(blocks.begin() + (blocks.empty() ? 0 : 1), Block{kComment, {}});
    }
    PutLoopFirst(comments, tag);
    comment->data = RenderComments(comments);
    constexpr std::size_t kMostBlockBytes = (std::size_t{1} << 24) - 1;
    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + id3 + 4);
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const std::size_t length = blocks[k].data.size();
        if (length > kMostBlockBytes) return wave::CannotTag(wave::TagError::CommentsTooLarge);
        out.push_back(
            static_cast<std::uint8_t>(blocks[k].type | (k + 1 == blocks.size() ? 0x80 : 0)));
        out.push_back(static_cast<std::uint8_t>(length >> 16));
        out.push_back(static_cast<std::uint8_t>(length >> 8 & 0xFF));
        out.push_back(static_cast<std::uint8_t>(length & 0xFF));
        out.insert(out.end(), blocks[k].data.begin(), blocks[k].data.end());
    }
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
    bytes = std::move(out);
    return "";
}

// The wave file's chunks as they stand, but for an earlier "smpl", then the "smpl" chunk that
// `save --smpl` writes, after a pad byte where the file's length is odd.
std::string TagWave(std::vector<std::uint8_t>& bytes, std::int32_t rate, const LoopTag& tag) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return wave::CannotTag(wave::TagError::UnreadableWave);
    const std::int64_t last = tag.start + tag.length - 1;
    if (tag.start < 0 || tag.length < 1 || last > wave::kInt32Max)
        return wave::CannotTag(wave::TagError::BadLoop);
    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + 12);
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::size_t size = ReadU32Le(bytes.data() + at + 4);
        const std::size_t end = at + 8 + size + (size % 2);
        const std::size_t kept = std::min(end, bytes.size());
        if (at + 8 + size > bytes.size()) return wave::CannotTag(wave::TagError::BrokenWaveChunks);
        if (std::memcmp(bytes.data() + at, "smpl", 4) != 0)
            out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        at = end;
    }
    if (out.size() % 2 != 0) out.push_back(0);
    const std::vector<std::uint8_t> chunk = wave::SamplerChunk(
        rate, static_cast<std::int32_t>(tag.start), static_cast<std::int32_t>(last));
    out.insert(out.end(), chunk.begin(), chunk.end());
    if (out.size() - 8 > static_cast<std::size_t>(wave::kInt32Max))
        return wave::SaveFailed(wave::SaveError::TooLarge);
    const auto riff = static_cast<std::uint32_t>(out.size() - 8);
    for (int k = 0; k < 4; ++k)
        out[4 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(riff >> (8 * k) & 0xFFu);
    bytes = std::move(out);
    return "";
}

// The whole file, read with the reader's own care: a regular file only, never blocking.
std::string ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::string(wave::UserMessage(wave::WaveError::CannotOpen));
    struct stat st {};
    std::string error;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = wave::UserMessage(wave::WaveError::CannotOpen);
    } else if (st.st_size >= wave::kInt32Max) {
        error = wave::UserMessage(wave::WaveError::FileTooLarge);
    } else {
        try {
            bytes.resize(static_cast<std::size_t>(st.st_size));
        } catch (const std::bad_alloc&) {
            error = wave::UserMessage(wave::WaveError::OutOfMemory);
        }
        for (std::size_t done = 0; error.empty() && done < bytes.size();) {
            const ssize_t got =
                ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0)
                error = wave::UserMessage(wave::WaveError::CannotOpen);
            else
                done += static_cast<std::size_t>(got);
        }
    }
    ::close(fd);
    return error;
}

}  // namespace

bool IsLoopTagName(std::string_view name) {
    const std::string upper = Upper(name);
    for (const std::string_view loop :
         {"LOOPSTART", "LOOPLENGTH", "LOOPEND", "LOOP_START", "LOOP_END"})
        if (upper == loop) return true;
    return false;
}

std::optional<Comments> ParseComments(std::span<const std::uint8_t> block) {
    std::size_t at = 0;
    const auto take = [&](std::string& text) {
        if (block.size() - at < 4) return false;
        const std::size_t length = ReadU32Le(block.data() + at);
        at += 4;
        if (block.size() - at < length) return false;
        text.assign(reinterpret_cast<const char*>(block.data() + at), length);
        at += length;
        return true;
    };
    Comments comments;
    if (!take(comments.vendor) || block.size() - at < 4) return std::nullopt;
    const std::uint32_t count = ReadU32Le(block.data() + at);
    at += 4;
    // Each comment takes at least its four length bytes: a count beyond that is damage.
    if (count > (block.size() - at) / 4) return std::nullopt;
    comments.fields.resize(count);
    for (std::string& field : comments.fields)
        if (!take(field)) return std::nullopt;
    comments.bytes = at;
    return comments;
}

std::vector<std::uint8_t> RenderComments(const Comments& comments) {
    std::vector<std::uint8_t> out;
    PutString(out, comments.vendor);
    PutU32Le(out, static_cast<std::uint32_t>(comments.fields.size()));
    for (const std::string& field : comments.fields) PutString(out, field);
    return out;
}

void PutLoopFirst(Comments& comments, const LoopTag& tag) {
    std::vector<std::string> fields{std::string(kLoopStart) + "=" + std::to_string(tag.start),
                                    std::string(kLoopLength) + "=" + std::to_string(tag.length)};
    for (std::string& field : comments.fields) {
        const std::string_view name = std::string_view(field).substr(0, field.find('='));
        if (!IsLoopTagName(name)) fields.push_back(std::move(field));
    }
    comments.fields = std::move(fields);
}

bool IsOpus(const Sound& sound) { return (sound.codec & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS; }

std::string TagBytes(Container container, bool opus, std::int32_t rate,
                     std::vector<std::uint8_t>& bytes, const LoopTag& tag) {
    try {
        switch (container) {
            case Container::Ogg: return TagOgg(bytes, opus, tag);
            case Container::Flac: return TagFlac(bytes, tag);
            case Container::Mp3: return TagMp3(bytes, tag);
            case Container::Riff: return TagWave(bytes, rate, tag);
            case Container::Aiff:
            case Container::Unknown: break;
        }
    } catch (const std::bad_alloc&) {
        return std::string(wave::UserMessage(wave::WaveError::OutOfMemory));
    }
    return wave::CannotTag(wave::TagError::FormatCannotCarry);
}

std::string TagBytesKeepingSound(const Sound& sound, const std::string& path,
                                 std::vector<std::uint8_t>& bytes, const LoopTag& tag,
                                 const DecodeLimits& limits) {
    // The bytes must still be those that were decoded: the same container as their first bytes
    // say.
    if (ContainerOf(bytes) != sound.container)
        return std::string(wave::UserMessage(wave::WaveError::CannotOpen));
    if (std::string error =
            TagBytes(sound.container, IsOpus(sound), sound.wave.format.nSamplesPerSec, bytes, tag);
        !error.empty())
        return error;
    // The promise that not one decoded sample changes, kept by decoding the new bytes.
    const SoundRead again = ReadSoundBytes(bytes, path, WaveReaders::AlsoOtherSampleFormats,
                                           wave::Payload::Read, limits);
    const bool same = again.error.empty() && again.sound.wave.format == sound.wave.format &&
                      again.sound.wave.data == sound.wave.data && again.sound.wide == sound.wide;
    return same ? "" : wave::CannotTag(wave::TagError::SoundWouldChange);
}

std::string TagFile(const std::string& path, const Sound& sound, const LoopTag& tag) {
    std::vector<std::uint8_t> bytes;
    if (std::string error = ReadWhole(path, bytes); !error.empty()) return error;
    if (std::string error = TagBytesKeepingSound(sound, path, bytes, tag); !error.empty())
        return error;
    const std::array<std::span<const std::uint8_t>, 1> parts{bytes};
    return SaveAtomically(path, parts);
}

}  // namespace files
