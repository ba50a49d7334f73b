// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged rips, made by each test from files the reference encoders wrote (flac, oggenc, opusenc,
// lame, sox): cut, their headers and counts altered, pages and frames taken out or repeated. A
// file every player plays whole is read whole, sample for sample; one that ends early or
// contradicts itself is refused; none is read short. Then `tag` on the rips whose rewrite once
// changed their sound, each checked by the reference readers.
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "files/loop_tags.h"
#include "files/sound_file.h"
#include "tests/support/looped_music.h"
#include "tests/support/reference_program.h"

namespace {

namespace fs = std::filesystem;
using testwave::Bytes;

constexpr std::uint32_t kRate = 44100;

testwave::LoopedMusic Music() {
    testwave::LoopedMusic m;
    m.format = testwave::Pcm(16, 2, kRate);
    m.introFrames = static_cast<std::uint32_t>(1.1 * kRate);
    m.loopFrames = static_cast<std::uint32_t>(2.3 * kRate);
    m.totalFrames = m.introFrames + 2 * m.loopFrames + kRate;
    m.ringAcross = false;
    return m;
}

std::uint32_t BigEndian32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
           std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

void PutBigEndian32(Bytes& b, std::size_t at, std::uint32_t value) {
    for (std::size_t k = 0; k < 4; ++k)
        b[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
}

// The pages of an Ogg file: where each begins and how long it is.
struct Page {
    std::size_t at;
    std::size_t bytes;
};
std::vector<Page> PagesOf(const Bytes& ogg) {
    std::vector<Page> pages;
    for (std::size_t at = 0; at + 27 <= ogg.size();) {
        const std::size_t segments = ogg[at + 26];
        std::size_t bytes = 27 + segments;
        for (std::size_t k = 0; k < segments; ++k) bytes += ogg[at + 27 + k];
        pages.push_back({at, bytes});
        at += bytes;
    }
    return pages;
}

// A page's flags or position changed, its checksum made anew by libogg.
Bytes WithPage(Bytes ogg, const Page& page, const std::function<void(std::uint8_t*)>& change) {
    std::uint8_t* header = ogg.data() + page.at;
    change(header);
    ogg_page p{};
    p.header = header;
    p.header_len = 27 + header[26];
    p.body = header + p.header_len;
    p.body_len = static_cast<long>(page.bytes) - p.header_len;
    ogg_page_checksum_set(&p);
    return ogg;
}

void SetGranule(std::uint8_t* header, std::int64_t granule) {
    for (int k = 0; k < 8; ++k)
        header[6 + k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(granule) >> (8 * k));
}

std::int64_t GranuleOf(const Bytes& ogg, const Page& page) {
    std::uint64_t granule = 0;
    for (int k = 7; k >= 0; --k)
        granule = granule << 8 | ogg[page.at + 6 + static_cast<std::size_t>(k)];
    return static_cast<std::int64_t>(granule);
}

// Where each frame of a FLAC file begins, as flac's own analysis gives it.
std::vector<std::size_t> FlacFrameOffsets(const fs::path& flac) {
    const testwave::ProgramRun run = testwave::RunProgram({"flac", "--silent", "-a", "-c", flac});
    std::vector<std::size_t> offsets;
    const std::regex offset(R"(offset=(\d+))");
    for (auto it = std::sregex_iterator(run.out.begin(), run.out.end(), offset);
         it != std::sregex_iterator(); ++it)
        offsets.push_back(std::stoul((*it)[1]));
    return offsets;
}

// The byte after "Xing" or "Info" in an MP3's first frame.
std::size_t XingAt(const Bytes& mp3) {
    for (const char* id : {"Xing", "Info"}) {
        const auto found = std::search(mp3.begin(), mp3.begin() + 200, id, id + 4);
        if (found != mp3.begin() + 200) return static_cast<std::size_t>(found - mp3.begin()) + 4;
    }
    return 0;
}

// The length of the MPEG-1 Layer III frame at `at`.
std::size_t MpegFrameBytes(const Bytes& mp3, std::size_t at) {
    constexpr std::uint32_t kKbps[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                       112, 128, 160, 192, 224, 256, 320};
    constexpr std::uint32_t kRates[] = {44100, 48000, 32000};
    const std::uint32_t kbps = kKbps[mp3[at + 2] >> 4];
    return 144000 * kbps / kRates[mp3[at + 2] >> 2 & 3] + (mp3[at + 2] >> 1 & 1);
}

Bytes Syncsafe(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 21 & 0x7F),
            static_cast<std::uint8_t>(value >> 14 & 0x7F),
            static_cast<std::uint8_t>(value >> 7 & 0x7F), static_cast<std::uint8_t>(value & 0x7F)};
}

// An ID3v2.4 tag with a title and padding, in front of `mp3`; its size claims `extraBytes` more,
// which covers that many bytes of the audio.
Bytes WithId3v2(const Bytes& mp3, std::uint32_t extraBytes) {
    const Bytes text{3, 'K', 'e', 'p', 't'};
    Bytes body{'T', 'I', 'T', '2'};
    const Bytes size = Syncsafe(static_cast<std::uint32_t>(text.size()));
    body.insert(body.end(), size.begin(), size.end());
    body.insert(body.end(), {0, 0});
    body.insert(body.end(), text.begin(), text.end());
    body.resize(body.size() + 100);  // padding
    Bytes tag{'I', 'D', '3', 4, 0, 0};
    const Bytes stated = Syncsafe(static_cast<std::uint32_t>(body.size()) + extraBytes);
    tag.insert(tag.end(), stated.begin(), stated.end());
    tag.insert(tag.end(), body.begin(), body.end());
    tag.insert(tag.end(), mp3.begin(), mp3.end());
    return tag;
}

// FLAC's metadata blocks: type and contents.
struct FlacBlock {
    std::uint8_t type;
    Bytes data;
};
std::vector<FlacBlock> FlacBlocks(const Bytes& flac, std::size_t& audioAt) {
    std::vector<FlacBlock> blocks;
    std::size_t at = 4;
    for (bool last = false; !last && at + 4 <= flac.size();) {
        last = (flac[at] & 0x80) != 0;
        const std::size_t length =
            std::size_t{flac[at + 1]} << 16 | std::size_t{flac[at + 2]} << 8 | flac[at + 3];
        blocks.push_back({static_cast<std::uint8_t>(flac[at] & 0x7F),
                          Bytes(flac.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                flac.begin() + static_cast<std::ptrdiff_t>(at + 4 + length))});
        at += 4 + length;
    }
    audioAt = at;
    return blocks;
}

Bytes FlacWithBlocks(const Bytes& flac, const std::vector<FlacBlock>& blocks) {
    std::size_t audioAt = 0;
    FlacBlocks(flac, audioAt);
    Bytes out{'f', 'L', 'a', 'C'};
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const std::size_t length = blocks[k].data.size();
        out.push_back(
            static_cast<std::uint8_t>(blocks[k].type | (k + 1 == blocks.size() ? 0x80 : 0)));
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
                    static_cast<std::uint8_t>(length)});
        out.insert(out.end(), blocks[k].data.begin(), blocks[k].data.end());
    }
    out.insert(out.end(), flac.begin() + static_cast<std::ptrdiff_t>(audioAt), flac.end());
    return out;
}

// A Vorbis comment block of one comment.
Bytes CommentBlock(const std::string& comment) {
    Bytes out{1, 0, 0, 0, 'x', 1, 0, 0, 0};
    const auto length = static_cast<std::uint32_t>(comment.size());
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(length >> (8 * k)));
    out.insert(out.end(), comment.begin(), comment.end());
    return out;
}

// The reference files, encoded once for every test.
class DamagedRips : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = fs::temp_directory_path() / ("rundelt-damaged-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        const testwave::LoopedMusic music = Music();
        const Bytes samples = testwave::RenderLoopedMusic(music);
        const std::string wav = (folder_ / "music.wav").string();
        const std::string raw = (folder_ / "music.raw").string();
        testwave::WriteFile(wav, testwave::Wave(music.format, samples));
        testwave::WriteFile(raw, samples);
        const auto encode = [](const std::vector<std::string>& args, const std::string& in = "",
                               const std::string& out = "") {
            ASSERT_EQ(testwave::RunProgram(args, in, out).status, 0) << args.front();
        };
        encode({"flac", "--silent", "-f", "-o", Path("flac"), wav});
        // Encoded from a pipe of raw samples: the encoder never learns the length.
        encode({"flac", "--silent", "--force-raw-format", "--endian=little", "--sign=signed",
                "--channels=2", "--bps=16", "--sample-rate=44100", "-c", "-"},
               raw, Path("pipe.flac"));
        encode({"oggenc", "--quiet", "-o", Path("ogg"), wav});
        encode({"opusenc", "--quiet", wav, Path("opus")});
        encode({"lame", "--quiet", "-V", "4", wav, Path("mp3")});
        encode({"lame", "--quiet", "-V", "4", "-t", wav, Path("noxing.mp3")});
        encode({"sox", wav, Path("aiff")});
        encode({"sox", wav, "-b", "24", Path("wide.wav")});
    }
    static void TearDownTestSuite() { fs::remove_all(folder_); }

    static std::string Path(const std::string& name) {
        const std::string file = name.find('.') == std::string::npos ? "music." + name : name;
        return (folder_ / file).string();
    }
    static Bytes Encoded(const std::string& name) { return testwave::ReadFile(Path(name)); }
    static files::SoundRead Read(const std::string& path,
                                 wave::Payload payload = wave::Payload::Read) {
        return files::ReadSound(path, files::WaveReaders::AlsoOtherSampleFormats, payload);
    }

    static inline fs::path folder_;
};

// Every finding of a file read short or passed as complete: each row read whole and the same
// samples as its clean source, or refused with its message (from the headers alone where the
// pages or chunks tell without a decode).
TEST_F(DamagedRips, EachIsReadWholeOrRefusedNeverShort) {
    const std::int64_t mpegFrames = BigEndian32(Encoded("mp3"), XingAt(Encoded("mp3")) + 4);
    ASSERT_GT(mpegFrames, 0);
    const auto lastPages = [](const Bytes& ogg, std::size_t dropped) {
        const std::vector<Page> pages = PagesOf(ogg);
        return Bytes(ogg.begin(),
                     ogg.begin() + static_cast<std::ptrdiff_t>(pages[pages.size() - dropped].at));
    };
    const auto lastGranule = [](std::function<std::int64_t(std::int64_t)> granule) {
        return [granule](const Bytes& ogg) {
            const Page last = PagesOf(ogg).back();
            const std::int64_t was = GranuleOf(ogg, last);
            return WithPage(ogg, last, [&](std::uint8_t* h) { SetGranule(h, granule(was)); });
        };
    };
    const auto flacFrame = [this](bool repeated) {
        return [this, repeated](const Bytes& flac) {
            const std::vector<std::size_t> at = FlacFrameOffsets(Path("flac"));
            const std::size_t k = at.size() / 2;
            Bytes out(flac.begin(), flac.begin() + static_cast<std::ptrdiff_t>(at[k + 1]));
            out.insert(out.end(),
                       flac.begin() + static_cast<std::ptrdiff_t>(repeated ? at[k] : at[k + 2]),
                       flac.end());
            return out;
        };
    };
    struct Row {
        const char* name;
        const char* source;  // the encoded file it is made from
        std::function<Bytes(const Bytes&)> damage;
        const char* refused;  // the message's beginning, "%s" for the path; nullptr: read whole
        bool fromHeaders;     // refused by info too
        std::int64_t frames;  // read whole: 0 for the clean source's decode, else this many
    };
    const Row rows[] = {
        // An MP3 whose header does not count its frames, or counts too few.
        {"VBR MP3 without a Xing header (lame -t)", "noxing.mp3", [](const Bytes& b) { return b; },
         nullptr, false, mpegFrames * 1152},
        {"MP3 whose Xing count is below its frames", "mp3",
         [](const Bytes& b) {
             Bytes out = b;
             PutBigEndian32(out, XingAt(b) + 4, BigEndian32(b, XingAt(b) + 4) * 6 / 10);
             return out;
         },
         nullptr, false, 0},
        {"MP3 whose Xing count is cleared", "mp3",
         [](const Bytes& b) {
             Bytes out = b;
             PutBigEndian32(out, XingAt(b), BigEndian32(b, XingAt(b)) & ~1u);
             return out;
         },
         nullptr, false, mpegFrames * 1152},
        {"MP3 whose Xing header is hidden", "mp3",
         [](const Bytes& b) {
             Bytes out = b;
             out[XingAt(b) - 3] = 'o';  // "Xong": a frame of silence to a decoder
             return out;
         },
         nullptr, false, (mpegFrames + 1) * 1152},
        {"MP3 cut short of its Xing count", "mp3",
         [](const Bytes& b) {
             return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(b.size() * 6 / 10));
         },
         "デコードに失敗しました：%s（フレーム ", true, 0},
        // FLAC: encoded to a pipe, a length below the truth, a frame missing or repeated.
        {"FLAC encoded to a pipe (no length)", "pipe.flac", [](const Bytes& b) { return b; },
         nullptr, false, 0},
        {"FLAC whose STREAMINFO length is below its frames", "flac",
         [](const Bytes& b) {
             Bytes out = b;
             // The length is the low 36 bits of the 5 bytes from byte 21; lowered by 40 %.
             std::uint64_t word = 0;
             for (std::size_t k = 21; k < 26; ++k) word = word << 8 | out[k];
             const std::uint64_t length = word & ((std::uint64_t{1} << 36) - 1);
             word = (word & ~((std::uint64_t{1} << 36) - 1)) | length * 6 / 10;
             for (std::size_t k = 25; k >= 21; --k, word >>= 8)
                 out[k] = static_cast<std::uint8_t>(word);
             return out;
         },
         nullptr, false, 0},
        {"FLAC with a frame taken out", "flac", flacFrame(false),
         "デコードに失敗しました：%s（フレーム ", false, 0},
        {"FLAC with a frame repeated", "flac", flacFrame(true),
         "デコードに失敗しました：%s（フレーム ", false, 0},
        // Ogg: cut at a page boundary, a last position that lies, a page missing.
        {"Ogg Vorbis cut at a page boundary", "ogg",
         [&](const Bytes& b) { return lastPages(b, 2); }, "デコードに失敗しました：%s（フレーム ",
         true, 0},
        {"Ogg Opus cut at a page boundary", "opus", [&](const Bytes& b) { return lastPages(b, 2); },
         "デコードに失敗しました：%s（フレーム ", true, 0},
        {"Ogg Vorbis whose last position is -1", "ogg",
         lastGranule([](std::int64_t) { return -1; }), "長さが一致しません：%s（", true, 0},
        {"Ogg Vorbis whose last position is half the truth", "ogg",
         lastGranule([](std::int64_t g) { return g / 2; }), "長さが一致しません：%s（", true, 0},
        {"Ogg Vorbis whose last position is 2^62", "ogg",
         lastGranule([](std::int64_t) { return std::int64_t{1} << 62; }),
         "長さが一致しません：%s（", true, 0},
        {"Ogg Vorbis with a page taken out", "ogg",
         [](const Bytes& b) {
             const std::vector<Page> pages = PagesOf(b);
             const Page gone = pages[pages.size() / 2];
             Bytes out(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(gone.at));
             out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(gone.at + gone.bytes),
                        b.end());
             return out;
         },
         "デコードに失敗しました：%s（フレーム ", true, 0},
        {"AIFF cut inside its sound data", "aiff",
         [](const Bytes& b) {
             return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(b.size() * 6 / 10));
         },
         "デコードに失敗しました：%s（フレーム ", true, 0},
        // The wave reader refuses a cut 16-bit file; a 24-bit one goes to libsndfile, which
        // would read it as far as it goes.
        {"24-bit wave cut inside its sound data, its RIFF size made to fit", "wide.wav",
         [](const Bytes& b) {
             Bytes out(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(b.size() * 6 / 10));
             const auto riff = static_cast<std::uint32_t>(out.size() - 8);
             for (int k = 0; k < 4; ++k)
                 out[4 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(riff >> (8 * k));
             return out;
         },
         "デコードに失敗しました：%s（フレーム ", true, 0},
        // Too damaged for the decoder to open: the format is named.
        {"FLAC whose STREAMINFO is gone", "flac",
         [](const Bytes& b) {
             Bytes out = b;
             std::fill(out.begin() + 4, out.begin() + 42, std::uint8_t{0xFF});
             return out;
         },
         "FLAC ファイルを読めません", true, 0},
        {"Ogg whose first packet is no codec's", "ogg",
         [](const Bytes& b) {
             const Page first = PagesOf(b).front();
             return WithPage(b, first,
                             [](std::uint8_t* h) { std::fill(h + 28, h + 36, std::uint8_t{'?'}); });
         },
         "Ogg ファイルを読めません", true, 0},
        {"MP3 of one frame header and nothing else", "mp3",
         [](const Bytes&) {
             Bytes out(8192, 0);
             out[0] = 0xFF;
             out[1] = 0xFB;
             return out;
         },
         "MP3 ファイルを読めません", true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = (folder_ / ("damaged-" + std::string(row.source))).string();
        const Bytes bytes = row.damage(Encoded(row.source));
        testwave::WriteFile(path, bytes);
        const files::SoundRead read = Read(path);
        const files::SoundRead headers = Read(path, wave::Payload::SizeOnly);
        if (row.refused != nullptr) {
            std::string expected = row.refused;
            if (const std::size_t at = expected.find("%s"); at != std::string::npos)
                expected.replace(at, 2, path);
            EXPECT_TRUE(read.error.starts_with(expected)) << read.error;
            EXPECT_TRUE(read.sound.wave.data.empty());
            if (row.fromHeaders) {
                EXPECT_TRUE(headers.error.starts_with(expected)) << headers.error;
            }
            continue;
        }
        EXPECT_EQ(read.error, "");
        EXPECT_EQ(headers.error, "");
        if (!read.error.empty()) continue;
        if (row.frames > 0) {
            EXPECT_EQ(read.sound.wave.dataBytes, row.frames * 4);
            EXPECT_EQ(headers.sound.wave.dataBytes, row.frames * 4) << "the length info shows";
        } else {
            const std::string clean = std::string(row.source) == "pipe.flac" ? "flac" : row.source;
            const files::SoundRead source = Read(Path(clean));
            ASSERT_EQ(source.error, "");
            EXPECT_EQ(read.sound.wave.dataBytes, source.sound.wave.dataBytes);
            EXPECT_TRUE(read.sound.wave.data == source.sound.wave.data) << "other samples";
        }
    }
}

// The Ogg Vorbis file whose rewrite once lost pages: a comment packet that spans pages, and a
// start-of-stream flag on a page of audio. Tagged, it decodes as before, ogginfo finds no hole,
// and the loop leads the comments.
TEST_F(DamagedRips, AnOggWithACommentOverPagesAndAStrayStartFlagIsTaggedWhole) {
    const std::string path = (folder_ / "comments.ogg").string();
    fs::copy_file(Path("ogg"), path, fs::copy_options::overwrite_existing);
    // More than 255 lacing values' worth: the packet cannot end on its first page.
    ASSERT_EQ(testwave::RunProgram({"vorbiscomment", "-a", "-t", "NOTES=" + std::string(70000, 'n'),
                                    "-t", "TITLE=Kept", path})
                  .status,
              0);
    Bytes ogg = testwave::ReadFile(path);
    const std::vector<Page> pages = PagesOf(ogg);
    ASSERT_EQ(ogg[pages[1].at + 27 + ogg[pages[1].at + 26] - 1], 255) << "the comments go on";
    ogg = WithPage(ogg, pages[pages.size() / 2], [](std::uint8_t* h) { h[5] |= 2; });
    testwave::WriteFile(path, ogg);
    const files::SoundRead before = Read(path);
    ASSERT_EQ(before.error, "");

    ASSERT_EQ(files::TagFile(path, before.sound, {1234, 56789}), "");
    const files::SoundRead after = Read(path);
    ASSERT_EQ(after.error, "");
    EXPECT_TRUE(after.sound.wave.data == before.sound.wave.data) << "decoded samples changed";
    const testwave::ProgramRun info = testwave::RunProgram({"ogginfo", path});
    EXPECT_EQ(info.out.find("hole"), std::string::npos) << info.out;
    const testwave::ProgramRun comments = testwave::RunProgram({"vorbiscomment", "-l", path});
    EXPECT_TRUE(comments.out.starts_with("LOOPSTART=1234\nLOOPLENGTH=56789\n"));
    EXPECT_NE(comments.out.find("TITLE=Kept"), std::string::npos);
}

// The MP3 whose rewrite once dropped audio: its ID3v2 tag's size covers its first 40 frames, which
// a reader counting the tag's bytes skips. Read whole, tagged whole: the new tag ends where the
// audio begins, so that every reader then decodes all of it.
TEST_F(DamagedRips, AnMp3WhoseTagSizeCoversAudioIsReadAndTaggedWhole) {
    const Bytes mp3 = Encoded("mp3");
    std::size_t covered = 0;
    for (int k = 0; k < 40; ++k) covered += MpegFrameBytes(mp3, covered);
    const std::string path = (folder_ / "covered.mp3").string();
    testwave::WriteFile(path, WithId3v2(mp3, static_cast<std::uint32_t>(covered)));
    const files::SoundRead clean = Read(Path("mp3"));
    const files::SoundRead before = Read(path);
    ASSERT_EQ(before.error, "");
    EXPECT_TRUE(before.sound.wave.data == clean.sound.wave.data);

    ASSERT_EQ(files::TagFile(path, before.sound, {4321, 98765}), "");
    const files::SoundRead after = Read(path);
    ASSERT_EQ(after.error, "");
    EXPECT_TRUE(after.sound.wave.data == clean.sound.wave.data) << "decoded samples changed";
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    sf_close(file);
    EXPECT_EQ(info.frames * 4, clean.sound.wave.dataBytes) << "libsndfile reads it whole too";
    const testwave::ProgramRun media = testwave::RunProgram({"mediainfo", path});
    EXPECT_TRUE(std::regex_search(media.out, std::regex(R"(LOOPSTART\s*:\s*4321)"))) << media.out;
    EXPECT_TRUE(std::regex_search(media.out, std::regex(R"(Track name\s*:\s*Kept)"))) << media.out;
}

// A FLAC file with a second comment block that holds a loop of its own: after tag, no block holds
// a loop that contradicts the new one.
TEST_F(DamagedRips, NoCommentBlockOfAFlacKeepsAnotherLoop) {
    const Bytes flac = Encoded("flac");
    std::size_t audioAt = 0;
    std::vector<FlacBlock> blocks = FlacBlocks(flac, audioAt);
    blocks.insert(blocks.begin() + 1, FlacBlock{4, CommentBlock("LOOPSTART=999")});
    blocks.push_back(FlacBlock{4, CommentBlock("LoopLength=5")});
    const std::string path = (folder_ / "two-blocks.flac").string();
    testwave::WriteFile(path, FlacWithBlocks(flac, blocks));
    const files::SoundRead before = Read(path);
    ASSERT_EQ(before.error, "");

    ASSERT_EQ(files::TagFile(path, before.sound, {100, 200000}), "");
    std::size_t ignored = 0;
    int commentBlocks = 0;
    for (const FlacBlock& block : FlacBlocks(testwave::ReadFile(path), ignored)) {
        if (block.type != 4) continue;
        ++commentBlocks;
        const std::string text(block.data.begin(), block.data.end());
        EXPECT_EQ(text.find("999"), std::string::npos);
        EXPECT_EQ(text.find("LoopLength=5"), std::string::npos);
    }
    EXPECT_GE(commentBlocks, 2);
    const testwave::ProgramRun tags =
        testwave::RunProgram({"metaflac", "--export-tags-to=-", path});
    EXPECT_TRUE(tags.out.starts_with("LOOPSTART=100\nLOOPLENGTH=200000\n")) << tags.out;
    EXPECT_TRUE(Read(path).sound.wave.data == before.sound.wave.data);
}

// The promise checked, not assumed: a file that no longer decodes to the sound the loop was found
// in (replaced meanwhile) is not tagged, and stays as it is.
TEST_F(DamagedRips, ATagThatWouldChangeTheSoundIsRefusedAndTheFileKept) {
    const std::string path = (folder_ / "replaced.ogg").string();
    fs::copy_file(Path("ogg"), path, fs::copy_options::overwrite_existing);
    const files::SoundRead found = Read(path);
    ASSERT_EQ(found.error, "");
    ASSERT_EQ(
        testwave::RunProgram({"oggenc", "--quiet", "-q", "1", "-o", path, Path("wav")}).status, 0);
    const Bytes replaced = testwave::ReadFile(path);

    EXPECT_EQ(files::TagFile(path, found.sound, {10, 200000}),
              wave::CannotTag(wave::TagError::SoundWouldChange));
    EXPECT_TRUE(testwave::ReadFile(path) == replaced);
}

}  // namespace
